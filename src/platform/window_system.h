// Port: windows, messages, subclassing, timers and message pumps.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace quilo::platform {

// Receives the messages of a window (its window procedure), or of a subclassed window.
class WindowHandler {
  public:
    virtual LResult windowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) = 0;

  protected:
    ~WindowHandler() = default;
};

// An opaque reference to a window procedure, as SetWindowLongPtr returns the previous one.
using WndProcRef = std::uintptr_t;

struct WindowSpec {
    std::string title;
    Hwnd parent = 0;  // a child window when non-zero
    Hwnd owner = 0;   // owner of a top-level window
    Rect rect{0, 0, 320, 240};
    bool visible = false;
    bool topmost = false;
    bool toolWindow = false;
};

// SetWindowPos flags the program uses.
namespace swp {
inline constexpr std::uint32_t kNoSize = 0x0001;
inline constexpr std::uint32_t kNoMove = 0x0002;
inline constexpr std::uint32_t kNoZOrder = 0x0004;
inline constexpr std::uint32_t kNoActivate = 0x0010;
inline constexpr std::uint32_t kShowWindow = 0x0040;
inline constexpr std::uint32_t kHideWindow = 0x0080;
}  // namespace swp
inline constexpr Hwnd kHwndTop = 0;
inline constexpr Hwnd kHwndTopmost = static_cast<Hwnd>(-1);
inline constexpr Hwnd kHwndNoTopmost = static_cast<Hwnd>(-2);

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;

    // RegisterWindowMessageA: the same name gives the same id in every process.
    virtual MsgId registerWindowMessage(std::string_view name) = 0;

    // Creates a window whose procedure is `handler` (null: default processing only). The
    // handler must outlive the window. Returns 0 on failure.
    virtual Hwnd createWindow(const WindowSpec& spec, WindowHandler* handler) = 0;
    virtual bool destroyWindow(Hwnd hwnd) = 0;
    virtual bool isWindow(Hwnd hwnd) = 0;
    virtual LResult defWindowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) = 0;

    // Subclassing (SetWindowLongPtr GWLP_WNDPROC / CallWindowProc): installs `handler` as the
    // window procedure of `hwnd` and returns the previous one (0 on failure). The handler
    // passes what it does not handle to callWindowProc(previous, ...). restoreWindowProc puts
    // a previous procedure back.
    virtual WndProcRef subclassWindow(Hwnd hwnd, WindowHandler* handler) = 0;
    virtual LResult callWindowProc(WndProcRef previous, Hwnd hwnd, MsgId msg, WParam wParam,
                                   LParam lParam) = 0;
    virtual bool restoreWindowProc(Hwnd hwnd, WndProcRef previous) = 0;

    // SendMessageA: calls the target's procedure and returns its result. WM_COPYDATA is
    // marshalled: the receiver sees a private copy of the data, valid only during the call.
    virtual LResult sendMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) = 0;
    // PostMessageA: queues the message; false (with lastError) when the target is no window.
    virtual bool postMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) = 0;
    // SendNotifyMessageA: synchronous for windows of the calling process's thread, queued for
    // others. kHwndBroadcast reaches every top-level window.
    virtual bool sendNotifyMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) = 0;
    // The error of the last failed call on this thread (GetLastError).
    virtual ErrorCode lastError() = 0;

    virtual Hwnd setParent(Hwnd child, Hwnd newParent) = 0;  // returns the previous parent
    virtual Hwnd getParent(Hwnd hwnd) = 0;
    virtual Hwnd getOwner(Hwnd hwnd) = 0;  // GetWindow(GW_OWNER)
    // SetWindowPos with the flags above; insertAfter kHwndTopmost / kHwndNoTopmost / kHwndTop.
    virtual bool setWindowPos(Hwnd hwnd, Hwnd insertAfter, Rect rect, std::uint32_t flags) = 0;
    virtual Rect windowRect(Hwnd hwnd) = 0;  // screen coordinates
    virtual bool isTopmost(Hwnd hwnd) = 0;
    virtual bool showWindow(Hwnd hwnd, bool visible) = 0;
    virtual bool isVisible(Hwnd hwnd) = 0;
    virtual bool setWindowText(Hwnd hwnd, std::string_view text) = 0;
    virtual std::string windowText(Hwnd hwnd) = 0;

    // SetTimer / KillTimer: WM_TIMER with wParam = id arrives at `hwnd` every `ms`
    // milliseconds, when no other message is pending.
    virtual bool setTimer(Hwnd hwnd, std::uintptr_t id, std::uint32_t ms) = 0;
    virtual bool killTimer(Hwnd hwnd, std::uintptr_t id) = 0;

    // The message loop: dispatches until WM_QUIT and returns its exit code.
    virtual int runMessageLoop() = 0;
    virtual void postQuitMessage(int exitCode) = 0;
    // Dispatches every message that is pending now, then returns ("process pending events
    // once"). Returns false when WM_QUIT was seen (it is posted again for the outer loop).
    virtual bool pumpPending() = 0;
    // A modal loop: dispatches messages (waiting for them) until `done()` is true. Returns
    // false when WM_QUIT ended it first (it is posted again for the outer loop).
    virtual bool runModalLoop(const std::function<bool()>& done) = 0;
};

// Reads the descriptor of a WM_COPYDATA message.
inline const CopyData& copyDataOf(LParam lParam) {
    return *reinterpret_cast<const CopyData*>(lParam);
}

}  // namespace quilo::platform
