// Monitors and the display's twips per pixel.
#include "platform/win32/win32_internal.h"

namespace quilo::platform::win32 {

namespace {

// The caller's procedure and data travel through the enumeration's own parameter.
struct MonitorEnumContext {
    Display::MonitorEnumProc proc;
    void* data;
};

BOOL CALLBACK monitorEnumThunk(HMONITOR m, HDC, LPRECT r, LPARAM p) {
    auto* c = reinterpret_cast<MonitorEnumContext*>(p);
    const Rect rect{r->left, r->top, r->right, r->bottom};
    return c->proc(reinterpret_cast<HMonitor>(m), rect, c->data) ? TRUE : FALSE;
}

class Win32Display final : public Display {
  public:
    bool enumDisplayMonitors(MonitorEnumProc proc, void* data) override {
        MonitorEnumContext context{proc, data};
        // FALSE also when the procedure ended the enumeration early, as the system says.
        return EnumDisplayMonitors(nullptr, nullptr, monitorEnumThunk,
                                   reinterpret_cast<LPARAM>(&context)) != FALSE;
    }
    bool monitorInfo(HMonitor monitor, MonitorInfo& out) override {
        MONITORINFOEXA info{};
        info.cbSize = sizeof(info);
        if (!GetMonitorInfoA(reinterpret_cast<HMONITOR>(monitor), &info)) return false;
        out.handle = monitor;
        out.monitor = {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right,
                       info.rcMonitor.bottom};
        out.work = {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
        out.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
        out.device = acpToUtf8(info.szDevice);
        return true;
    }
    HMonitor monitorFromWindow(Hwnd hwnd, std::uint32_t flags) override {
        return reinterpret_cast<HMonitor>(MonitorFromWindow(toHwnd(hwnd), flags));
    }
    HMonitor monitorFromPoint(Point pt, std::uint32_t flags) override {
        return reinterpret_cast<HMonitor>(MonitorFromPoint(POINT{pt.x, pt.y}, flags));
    }
    int systemMetrics(int index) override { return GetSystemMetrics(index); }
    int twipsPerPixelX() override { return twipsPerPixel(LOGPIXELSX); }
    int twipsPerPixelY() override { return twipsPerPixel(LOGPIXELSY); }

  private:
    static int twipsPerPixel(int axis) {
        const HDC dc = GetDC(nullptr);
        const int dpi = dc ? GetDeviceCaps(dc, axis) : 96;
        if (dc) ReleaseDC(nullptr, dc);
        return 1440 / (dpi > 0 ? dpi : 96);
    }
};

}  // namespace

std::unique_ptr<Display> makeDisplay() {
    return std::make_unique<Win32Display>();
}

}  // namespace quilo::platform::win32
