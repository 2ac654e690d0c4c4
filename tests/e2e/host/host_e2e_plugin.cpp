// The plug-in side of the host-link test under Wine: a window hooked by clsPlugin, a small
// controller that closes it at ShutdownPlugin, and the trace's writing end. It ends when the
// host shuts it down (or by itself after a minute without one).
#include <cstdio>

#include "host/plugin.h"
#include "host/xray_ifc.h"
#include "platform/win32/win32_platform.h"
#include "trace/trace.h"

namespace quilo::e2e {
namespace {

using platform::Hwnd;
using platform::LParam;
using platform::LResult;
using platform::MsgId;
using platform::WParam;
namespace wm = platform::wm;

constexpr std::uintptr_t kWatchdog = 1;

// The plug-in's window, and the controller that closes it at ShutdownPlugin.
class MainWindow final : public platform::WindowHandler, public host::PluginEvents {
  public:
    explicit MainWindow(platform::WindowSystem& ws) : ws_(ws) {}
    void ShutdownPlugin(std::int32_t&, std::int32_t&) override { endpoint->WM_CLOSE(); }
    LResult windowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override {
        if (msg == wm::kClose || (msg == wm::kTimer && wParam == kWatchdog)) {
            if (msg == wm::kTimer) std::fprintf(stderr, "plug-in: no shutdown from the host\n");
            ws_.destroyWindow(hwnd);
            ws_.postQuitMessage(msg == wm::kClose ? 0 : 3);
            return 0;
        }
        return ws_.defWindowProc(hwnd, msg, wParam, lParam);
    }

    host::clsPlugin* endpoint = nullptr;

  private:
    platform::WindowSystem& ws_;
};

int run() {
    auto platform = platform::makeWin32Platform();
    auto& ws = platform->windows();
    trace::Trace trace(platform->mailslots(), platform->clock(), platform->process());
    if (!trace.TraceOpen(false)) std::fprintf(stderr, "plug-in: no trace reader\n");
    host::XrayIfc xray(ws, platform->memory(), trace);
    MainWindow main(ws);
    platform::WindowSpec spec;
    spec.title = "Quilo host-link e2e - plug-in";
    spec.rect = {520, 60, 940, 340};
    const Hwnd hwnd = ws.createWindow(spec, &main);
    if (!hwnd) return 2;
    int rc = 0;
    {
        host::clsPlugin endpoint(*platform, xray, trace);
        main.endpoint = &endpoint;
        const Registration events = endpoint.attachEvents(main);
        ws.setTimer(hwnd, kWatchdog, 60000);
        endpoint.Hook(hwnd, true);
        rc = ws.runMessageLoop();
    }
    trace.TraceClose();
    return rc;
}

}  // namespace
}  // namespace quilo::e2e

int main() {
    return quilo::e2e::run();
}
