// Windows, messages, subclassing, timers and message pumps over the Win32 API.
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32_internal.h"

namespace quilo::platform::win32 {

namespace {

// The window property under which a subclassed window keeps its chain of levels.
constexpr const char* kChainProperty = "QuiloSubclassChain";

}  // namespace

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

struct WindowSlot {
    Win32WindowSystem* owner;
    WindowHandler* handler;
};

Win32WindowSystem::Win32WindowSystem() {
    // A class name of our own per instance: two platforms in one process do not collide and
    // each can unregister its class when it goes.
    char name[64];
    wsprintfA(name, "QuiloWindow%p", static_cast<void*>(this));
    className_ = name;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &Win32WindowSystem::classProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className_.c_str();
    classAtom_ = RegisterClassExA(&wc);
    if (!classAtom_) fail();
}

Win32WindowSystem::~Win32WindowSystem() {
    while (!chains_.empty())
        dropChain(chains_.begin()->first);
    // Windows still open would call handlers that may be gone: close them with us, with
    // default processing only.
    for (auto& [h, slot] : windows_)
        slot->handler = nullptr;
    while (!windows_.empty()) {
        const HWND h = windows_.begin()->first;
        if (!IsWindow(h) || !DestroyWindow(h)) windows_.erase(h);
    }
    if (classAtom_) UnregisterClassA(className_.c_str(), GetModuleHandleA(nullptr));
}

LRESULT CALLBACK Win32WindowSystem::classProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* slot = static_cast<WindowSlot*>(cs->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(slot));
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    auto* slot = reinterpret_cast<WindowSlot*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!slot) return DefWindowProcA(hwnd, msg, wParam, lParam);
    Win32WindowSystem* owner = slot->owner;
    const LRESULT result = slot->handler
                               ? slot->handler->windowProc(fromHwnd(hwnd), msg, wParam, lParam)
                               : DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        owner->windows_.erase(hwnd);
    }
    owner->wakeModalLoop();
    return result;
}

LRESULT CALLBACK Win32WindowSystem::subclassProc(HWND hwnd, UINT msg, WPARAM wParam,
                                                 LPARAM lParam) {
    auto* chain = static_cast<SubclassChain*>(GetPropA(hwnd, kChainProperty));
    if (!chain || chain->levels.empty()) return DefWindowProcA(hwnd, msg, wParam, lParam);
    WindowHandler* top = chain->levels.back()->handler;
    Win32WindowSystem* owner = chain->owner;
    const LRESULT result = top->windowProc(fromHwnd(hwnd), msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        // The window is going: whatever levels are left go with it.
        if (auto* still = static_cast<SubclassChain*>(GetPropA(hwnd, kChainProperty)))
            still->owner->dropChain(hwnd);
    }
    owner->wakeModalLoop();
    return result;
}

MsgId Win32WindowSystem::registerWindowMessage(std::string_view name) {
    const UINT id = RegisterWindowMessageA(utf8ToAcp(name).c_str());
    if (!id) fail();
    return id;
}

Hwnd Win32WindowSystem::createWindow(const WindowSpec& spec, WindowHandler* handler) {
    if (!classAtom_) return 0;
    DWORD style = WS_CLIPCHILDREN;
    DWORD exStyle = 0;
    HWND parent = nullptr;
    if (spec.parent) {
        style |= WS_CHILD | WS_CLIPSIBLINGS;
        parent = toHwnd(spec.parent);
    } else {
        style |= WS_OVERLAPPEDWINDOW;
        parent = toHwnd(spec.owner);  // the owner of a top-level window
    }
    if (spec.visible) style |= WS_VISIBLE;
    if (spec.topmost) exStyle |= WS_EX_TOPMOST;
    if (spec.toolWindow) exStyle |= WS_EX_TOOLWINDOW;
    auto slot = std::make_unique<WindowSlot>(WindowSlot{this, handler});
    const HWND h =
        CreateWindowExA(exStyle, className_.c_str(), utf8ToAcp(spec.title).c_str(), style,
                        spec.rect.left, spec.rect.top, spec.rect.width(), spec.rect.height(),
                        parent, nullptr, GetModuleHandleA(nullptr), slot.get());
    if (!h) {
        fail();
        return 0;
    }
    windows_[h] = std::move(slot);
    // The caption goes through the wide function so that every character of it survives.
    SetWindowTextW(h, utf8ToWide(spec.title).c_str());
    return fromHwnd(h);
}

bool Win32WindowSystem::destroyWindow(Hwnd hwnd) {
    if (DestroyWindow(toHwnd(hwnd))) return true;
    fail();
    return false;
}

bool Win32WindowSystem::isWindow(Hwnd hwnd) {
    return hwnd && IsWindow(toHwnd(hwnd));
}

LResult Win32WindowSystem::defWindowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) {
    return DefWindowProcA(toHwnd(hwnd), msg, wParam, lParam);
}

Win32WindowSystem::SubclassEntry* Win32WindowSystem::entryOf(WndProcRef ref) {
    for (auto& [h, chain] : chains_)
        for (auto& level : chain->levels)
            if (reinterpret_cast<WndProcRef>(level.get()) == ref) return level.get();
    return nullptr;
}

WndProcRef Win32WindowSystem::subclassWindow(Hwnd hwnd, WindowHandler* handler) {
    const HWND h = toHwnd(hwnd);
    if (!handler || !IsWindow(h)) {
        lastError_ = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != GetCurrentProcessId()) {
        lastError_ = ERROR_ACCESS_DENIED;  // what SetWindowLongPtr says for a foreign window
        return 0;
    }
    auto found = chains_.find(h);
    if (found != chains_.end()) {
        // Another level on our own procedure: the previous "procedure" is the level below,
        // which callWindowProc knows how to reach.
        auto& levels = found->second->levels;
        const auto below = reinterpret_cast<WndProcRef>(levels.back().get());
        levels.push_back(std::make_unique<SubclassEntry>(SubclassEntry{handler, below}));
        return below;
    }
    auto chain = std::make_unique<SubclassChain>();
    chain->owner = this;
    chain->hwnd = h;
    if (!SetPropA(h, kChainProperty, chain.get())) {
        fail();
        return 0;
    }
    SetLastError(0);
    const LONG_PTR previous = SetWindowLongPtrA(
        h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32WindowSystem::subclassProc));
    if (!previous && GetLastError()) {
        fail();
        RemovePropA(h, kChainProperty);
        return 0;
    }
    chain->original = reinterpret_cast<WNDPROC>(previous);
    const auto ref = static_cast<WndProcRef>(previous);
    chain->levels.push_back(std::make_unique<SubclassEntry>(SubclassEntry{handler, ref}));
    chains_[h] = std::move(chain);
    return ref;
}

LResult Win32WindowSystem::callWindowProc(WndProcRef previous, Hwnd hwnd, MsgId msg, WParam wParam,
                                          LParam lParam) {
    if (!previous) return DefWindowProcA(toHwnd(hwnd), msg, wParam, lParam);
    if (SubclassEntry* below = entryOf(previous))
        return below->handler->windowProc(hwnd, msg, wParam, lParam);
    return CallWindowProcA(reinterpret_cast<WNDPROC>(previous), toHwnd(hwnd), msg, wParam, lParam);
}

bool Win32WindowSystem::restoreWindowProc(Hwnd hwnd, WndProcRef previous) {
    const HWND h = toHwnd(hwnd);
    if (!IsWindow(h)) {
        lastError_ = ERROR_INVALID_WINDOW_HANDLE;
        return false;
    }
    auto found = chains_.find(h);
    if (found != chains_.end()) {
        auto& levels = found->second->levels;
        for (std::size_t i = 0; i < levels.size(); ++i) {
            if (reinterpret_cast<WndProcRef>(levels[i].get()) == previous) {
                levels.resize(i + 1);  // the levels above `previous` are gone
                return true;
            }
        }
        const WNDPROC original = found->second->original;
        dropChain(h);
        if (reinterpret_cast<WndProcRef>(original) == previous) return true;
    }
    SetLastError(0);
    if (!SetWindowLongPtrA(h, GWLP_WNDPROC, static_cast<LONG_PTR>(previous)) && GetLastError()) {
        fail();
        return false;
    }
    return true;
}

void Win32WindowSystem::dropChain(HWND h) {
    auto found = chains_.find(h);
    if (found == chains_.end()) return;
    if (IsWindow(h)) {
        SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(found->second->original));
        RemovePropA(h, kChainProperty);
    }
    chains_.erase(found);
}

LResult Win32WindowSystem::sendMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) {
    const HWND h = toHwnd(hwnd);
    if (hwnd != kHwndBroadcast && !IsWindow(h)) {
        lastError_ = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    if (msg == WM_COPYDATA && lParam) {
        // Windows copies the data only for another process; a window of ours gets a private
        // copy as well, so a receiver never sees (or changes) the sender's buffer.
        const auto& src = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        std::vector<std::byte> copy(src.cbData);
        if (src.cbData && src.lpData) std::memcpy(copy.data(), src.lpData, src.cbData);
        COPYDATASTRUCT cds{src.dwData, src.cbData, src.cbData ? copy.data() : nullptr};
        return SendMessageA(h, msg, wParam, reinterpret_cast<LPARAM>(&cds));
    }
    return SendMessageA(h, msg, wParam, lParam);
}

bool Win32WindowSystem::postMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) {
    if (PostMessageA(toHwnd(hwnd), msg, wParam, lParam)) return true;
    fail();
    return false;
}

bool Win32WindowSystem::sendNotifyMessage(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) {
    if (SendNotifyMessageA(toHwnd(hwnd), msg, wParam, lParam)) return true;
    fail();
    return false;
}

Hwnd Win32WindowSystem::setParent(Hwnd child, Hwnd newParent) {
    const Hwnd before = getParent(child);
    SetLastError(0);
    if (!SetParent(toHwnd(child), toHwnd(newParent)) && GetLastError()) {
        fail();
        return 0;
    }
    return before;
}

Hwnd Win32WindowSystem::getParent(Hwnd hwnd) {
    // The real parent, also for a top-level window put under another one with SetParent;
    // a top-level window's parent is the desktop, which callers know as "none".
    const HWND p = GetAncestor(toHwnd(hwnd), GA_PARENT);
    return p == GetDesktopWindow() ? 0 : fromHwnd(p);
}

Hwnd Win32WindowSystem::getOwner(Hwnd hwnd) {
    return fromHwnd(GetWindow(toHwnd(hwnd), GW_OWNER));
}

bool Win32WindowSystem::setWindowPos(Hwnd hwnd, Hwnd insertAfter, Rect rect, std::uint32_t flags) {
    if (SetWindowPos(toHwnd(hwnd), toHwnd(insertAfter), rect.left, rect.top, rect.width(),
                     rect.height(), flags))
        return true;
    fail();
    return false;
}

Rect Win32WindowSystem::windowRect(Hwnd hwnd) {
    RECT r{};
    if (!GetWindowRect(toHwnd(hwnd), &r)) {
        fail();
        return {};
    }
    return {r.left, r.top, r.right, r.bottom};
}

bool Win32WindowSystem::isTopmost(Hwnd hwnd) {
    return (GetWindowLongPtrA(toHwnd(hwnd), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

bool Win32WindowSystem::showWindow(Hwnd hwnd, bool visible) {
    if (!IsWindow(toHwnd(hwnd))) {
        lastError_ = ERROR_INVALID_WINDOW_HANDLE;
        return false;
    }
    ShowWindow(toHwnd(hwnd), visible ? SW_SHOW : SW_HIDE);
    return true;
}

bool Win32WindowSystem::isVisible(Hwnd hwnd) {
    return IsWindowVisible(toHwnd(hwnd)) != FALSE;
}

bool Win32WindowSystem::setWindowText(Hwnd hwnd, std::string_view text) {
    if (SetWindowTextW(toHwnd(hwnd), utf8ToWide(text).c_str())) return true;
    fail();
    return false;
}

std::string Win32WindowSystem::windowText(Hwnd hwnd) {
    const int length = GetWindowTextLengthW(toHwnd(hwnd));
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(toHwnd(hwnd), text.data(), length + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return wideToUtf8(text);
}

bool Win32WindowSystem::setTimer(Hwnd hwnd, std::uintptr_t id, std::uint32_t ms) {
    if (!IsWindow(toHwnd(hwnd))) {
        lastError_ = ERROR_INVALID_WINDOW_HANDLE;
        return false;
    }
    if (SetTimer(toHwnd(hwnd), id, ms, nullptr)) return true;
    fail();
    return false;
}

bool Win32WindowSystem::killTimer(Hwnd hwnd, std::uintptr_t id) {
    if (KillTimer(toHwnd(hwnd), id)) return true;
    fail();
    return false;
}

int Win32WindowSystem::runMessageLoop() {
    MSG m;
    for (;;) {
        const BOOL got = GetMessageA(&m, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(m.wParam);
        if (got == -1) {
            fail();
            return -1;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

void Win32WindowSystem::postQuitMessage(int exitCode) {
    PostQuitMessage(exitCode);
}

bool Win32WindowSystem::pumpPending() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(m.wParam));  // for the loop outside us
            return false;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return true;
}

void Win32WindowSystem::wakeModalLoop() {
    // A message sent by another thread or process is handled inside the modal loop's wait,
    // which would go on waiting for posted input; a thread message makes it look at `done`.
    if (modalDepth_ > 0 && InSendMessage()) PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
}

bool Win32WindowSystem::runModalLoop(const std::function<bool()>& done) {
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(++d) {}
        ~Depth() { --depth; }
    } depth(modalDepth_);
    MSG m;
    while (!done()) {
        if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(m.wParam));
                return false;
            }
            TranslateMessage(&m);
            DispatchMessageA(&m);
            continue;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

std::unique_ptr<WindowSystem> makeWindowSystem() {
    return std::make_unique<Win32WindowSystem>();
}

}  // namespace quilo::platform::win32
