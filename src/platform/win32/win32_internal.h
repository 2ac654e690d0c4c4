// Shared by the translation units of the Win32 backend; nothing outside win32/ includes it.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/text.h"

namespace quilo::platform::win32 {

inline HWND toHwnd(Hwnd h) {
    return reinterpret_cast<HWND>(h);
}
inline Hwnd fromHwnd(HWND h) {
    return reinterpret_cast<Hwnd>(h);
}
inline HANDLE toHandle(Handle h) {
    return reinterpret_cast<HANDLE>(h);
}
inline Handle fromHandle(HANDLE h) {
    return reinterpret_cast<Handle>(h);
}

struct WindowSlot;  // what a window of our class keeps in GWLP_USERDATA

class Win32WindowSystem final : public WindowSystem {
  public:
    Win32WindowSystem();
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    MsgId registerWindowMessage(std::string_view name) override;
    Hwnd createWindow(const WindowSpec& spec, WindowHandler* handler) override;
    bool destroyWindow(Hwnd hwnd) override;
    bool isWindow(Hwnd hwnd) override;
    LResult defWindowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override;
    WndProcRef subclassWindow(Hwnd hwnd, WindowHandler* handler) override;
    LResult callWindowProc(WndProcRef previous, Hwnd hwnd, MsgId msg, WParam wParam,
                           LParam lParam) override;
    bool restoreWindowProc(Hwnd hwnd, WndProcRef previous) override;
    LResult sendMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override;
    bool postMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override;
    bool sendNotifyMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override;
    ErrorCode lastError() override { return lastError_; }
    Hwnd setParent(Hwnd child, Hwnd newParent) override;
    Hwnd getParent(Hwnd hwnd) override;
    Hwnd getOwner(Hwnd hwnd) override;
    bool setWindowPos(Hwnd hwnd, Hwnd insertAfter, Rect rect, std::uint32_t flags) override;
    Rect windowRect(Hwnd hwnd) override;
    bool isTopmost(Hwnd hwnd) override;
    bool showWindow(Hwnd hwnd, bool visible) override;
    bool isVisible(Hwnd hwnd) override;
    bool setWindowText(Hwnd hwnd, std::string_view text) override;
    std::string windowText(Hwnd hwnd) override;
    bool setTimer(Hwnd hwnd, std::uintptr_t id, std::uint32_t ms) override;
    bool killTimer(Hwnd hwnd, std::uintptr_t id) override;
    int runMessageLoop() override;
    void postQuitMessage(int exitCode) override;
    bool pumpPending() override;
    bool runModalLoop(const std::function<bool()>& done) override;

    // One level of subclassing installed through subclassWindow.
    struct SubclassEntry {
        WindowHandler* handler;
        WndProcRef previous;  // a real procedure, or the entry below this one
    };
    // The subclass levels of one window, found through a window property.
    struct SubclassChain {
        Win32WindowSystem* owner;
        HWND hwnd;
        WNDPROC original;  // the procedure in place before the first level
        std::vector<std::unique_ptr<SubclassEntry>> levels;
    };

  private:
    static LRESULT CALLBACK classProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK subclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    SubclassEntry* entryOf(WndProcRef ref);
    void dropChain(HWND hwnd);
    void fail() { lastError_ = GetLastError(); }
    void wakeModalLoop();

    std::string className_;
    ATOM classAtom_ = 0;
    ErrorCode lastError_ = 0;
    int modalDepth_ = 0;  // how many modal loops are running on this thread
    std::map<HWND, std::unique_ptr<SubclassChain>> chains_;
    // The windows of our class that are alive, each with what its GWLP_USERDATA points to.
    std::map<HWND, std::unique_ptr<WindowSlot>> windows_;
};

}  // namespace quilo::platform::win32
