// Port: monitors and screen metrics.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace quilo::platform {

struct MonitorInfo {
    HMonitor handle = 0;
    Rect monitor;  // the monitor's rectangle in virtual-screen coordinates
    Rect work;     // the work area (without task bars)
    bool primary = false;
    std::string device;  // "\\.\DISPLAY1"
};

namespace monitor_flags {
inline constexpr std::uint32_t kDefaultToNull = 0;
inline constexpr std::uint32_t kDefaultToPrimary = 1;
inline constexpr std::uint32_t kDefaultToNearest = 2;
}  // namespace monitor_flags

namespace sm {
inline constexpr int kCxScreen = 0;
inline constexpr int kCyScreen = 1;
inline constexpr int kXVirtualScreen = 76;
inline constexpr int kYVirtualScreen = 77;
inline constexpr int kCxVirtualScreen = 78;
inline constexpr int kCyVirtualScreen = 79;
inline constexpr int kCMonitors = 80;
}  // namespace sm

class Display {
  public:
    virtual ~Display() = default;
    // EnumDisplayMonitors(NULL, NULL, proc, data): calls `proc` for each monitor in the
    // system's order until it returns false. Returns false when the enumeration failed.
    using MonitorEnumProc = bool (*)(HMonitor monitor, const Rect& rect, void* data);
    virtual bool enumDisplayMonitors(MonitorEnumProc proc, void* data) = 0;
    // GetMonitorInfo: false for an unknown handle.
    virtual bool monitorInfo(HMonitor monitor, MonitorInfo& out) = 0;
    virtual HMonitor monitorFromWindow(Hwnd hwnd, std::uint32_t flags) = 0;
    virtual HMonitor monitorFromPoint(Point pt, std::uint32_t flags) = 0;
    virtual int systemMetrics(int index) = 0;
    // Twips per screen pixel (1440 / dots per inch).
    virtual int twipsPerPixelX() = 0;
    virtual int twipsPerPixelY() = 0;
};

}  // namespace quilo::platform
