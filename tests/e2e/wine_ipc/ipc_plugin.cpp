// The plug-in side of the Wine IPC test: announces itself with the registered interface message,
// answers the host's records later from its own message queue, and ends on the host's word
// (or by itself after a minute without one).
#include <cstdio>
#include <cstring>

#include "ipc_records.h"
#include "platform/win32/win32_platform.h"

namespace quilo::e2e {
namespace {

using platform::Hwnd;
using platform::LParam;
using platform::LResult;
using platform::MsgId;
using platform::WParam;
namespace wm = platform::wm;

constexpr MsgId kSendStatus = wm::kUser + 1;
constexpr MsgId kSendSum = wm::kUser + 2;
constexpr MsgId kEnd = wm::kUser + 3;
constexpr std::uintptr_t kWatchdog = 1;

class Plugin final : public platform::WindowHandler {
  public:
    explicit Plugin(platform::WindowSystem& ws) : ws_(ws) {}

    LResult windowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override {
        switch (msg) {
            case wm::kCopyData:
                // Take the record, answer at once, reply later: the host is blocked meanwhile.
                return accept(hwnd, platform::copyDataOf(lParam)) ? 1 : 0;
            case kSendStatus: {
                StatusRecord s;
                s.status = 16;
                s.sequence = sequence_;
                std::strncpy(s.text, "Idle", sizeof s.text);
                sendRecord(ws_, host_, hwnd, kStatus, s);
                return 0;
            }
            case kSendSum: {
                SumRecord s;
                s.count = bulkCount_;
                s.fnv1a = bulkSum_;
                sendRecord(ws_, host_, hwnd, kBulkSum, s);
                return 0;
            }
            case kEnd:
                ws_.destroyWindow(hwnd);
                ws_.postQuitMessage(exitCode_);
                return 0;
            case wm::kTimer:
                if (wParam == kWatchdog) {
                    std::fprintf(stderr, "plug-in: no word from the host, ending\n");
                    exitCode_ = 3;
                    ws_.postMessage(hwnd, kEnd, 0, 0);
                }
                return 0;
            default:
                return ws_.defWindowProc(hwnd, msg, wParam, lParam);
        }
    }

  private:
    bool accept(Hwnd hwnd, const platform::CopyData& cd) {
        if (cd.dwData == kHello) {
            HelloRecord hello;
            if (!readRecord(cd, hello)) return false;
            host_ = platform::handleFromRecord(hello.host);
            sequence_ = hello.sequence;
            return ws_.postMessage(hwnd, kSendStatus, 0, 0);
        }
        if (cd.dwData == kBulk) {
            bulkCount_ = cd.cbData;
            bulkSum_ = fnv1a(static_cast<const std::byte*>(cd.lpData), cd.cbData);
            return ws_.postMessage(hwnd, kSendSum, 0, 0);
        }
        if (cd.dwData == kShutdown) return ws_.postMessage(hwnd, kEnd, 0, 0);
        return false;
    }

    platform::WindowSystem& ws_;
    Hwnd host_ = 0;
    std::uint32_t sequence_ = 0;
    std::uint32_t bulkCount_ = 0;
    std::uint32_t bulkSum_ = 0;
    int exitCode_ = 0;
};

int run() {
    auto platform = platform::makeWin32Platform();
    auto& ws = platform->windows();
    const MsgId ifc = ws.registerWindowMessage(kInterfaceMessage);
    Plugin plugin(ws);
    platform::WindowSpec spec;
    spec.title = "Quilo e2e – plug-in";
    spec.rect = {520, 60, 940, 340};
    spec.visible = true;
    const Hwnd hwnd = ws.createWindow(spec, &plugin);
    if (!hwnd || !ifc) {
        std::fprintf(stderr, "plug-in: no window or no interface message\n");
        return 2;
    }
    ws.setTimer(hwnd, kWatchdog, 60000);
    ws.sendNotifyMessage(platform::kHwndBroadcast, ifc, hwnd, kAnnounce);
    return ws.runMessageLoop();
}

}  // namespace
}  // namespace quilo::e2e

int main() {
    return quilo::e2e::run();
}
