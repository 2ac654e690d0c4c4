// The simulated window system: windows, procedures, sending, posting, timers and pumps.
#include <algorithm>
#include <cstring>

#include "platform/sim/impl.h"

namespace quilo::sim {

using namespace platform;

namespace {
constexpr ErrorCode kAccessDenied = err::kAccessDenied;
constexpr ErrorCode kMessageSyncOnly = 1159;   // ERROR_MESSAGE_SYNC_ONLY
constexpr ErrorCode kTimeout = 1460;           // ERROR_TIMEOUT
constexpr std::uint32_t kTimerMinimumMs = 10;  // USER_TIMER_MINIMUM
constexpr std::uint32_t kTimerMaximumMs = 0x7FFFFFFF;
// A pump that dispatches this many messages without running dry is a message storm, not work.
constexpr std::uint64_t kPumpStormLimit = 1'000'000;
}  // namespace

detail::WindowRec* SimWindows::find(Hwnd hwnd) {
    auto* rec = p_.w().window(hwnd);
    if (!rec) p_.fail(err::kInvalidWindowHandle);
    return rec;
}

MsgId SimWindows::registerWindowMessage(std::string_view name) {
    if (name.empty()) {
        p_.fail(err::kInvalidParameter);
        return 0;
    }
    auto& w = p_.w();
    auto key = detail::lower(name);
    auto it = w.registeredMessages.find(key);
    if (it != w.registeredMessages.end()) return it->second;
    const MsgId id = static_cast<MsgId>(0xC0A1 + w.registeredMessages.size());
    w.registeredMessages.emplace(std::move(key), id);
    return id;
}

Hwnd SimWindows::createWindow(const WindowSpec& spec, WindowHandler* handler) {
    auto& w = p_.w();
    if (p_.ended) {
        p_.fail(kAccessDenied);
        return 0;
    }
    if ((spec.parent && !find(spec.parent)) || (spec.owner && !find(spec.owner))) return 0;
    if (w.shouldFail(Fault::CreateWindow, &p_)) {
        p_.fail(err::kNotEnoughMemory);
        return 0;
    }
    const Hwnd hwnd = w.nextHwnd;
    w.nextHwnd += 0x2E;  // even, never reused
    detail::WindowRec rec;
    rec.hwnd = hwnd;
    rec.process = &p_;
    rec.parent = spec.parent;
    rec.owner = spec.parent ? 0 : spec.owner;
    rec.rect = spec.rect;
    rec.visible = spec.visible;
    rec.topmost = spec.topmost && !spec.parent;
    rec.text = spec.title;
    rec.proc = handler;
    w.windows.emplace(hwnd, std::move(rec));
    // WM_CREATE (without a CREATESTRUCT); -1 refuses the window.
    if (w.callProc(hwnd, wm::kCreate, 0, 0) == -1) {
        w.destroyWindowTree(hwnd, true);
        p_.fail(err::kInvalidWindowHandle);
        return 0;
    }
    return hwnd;
}

bool SimWindows::destroyWindow(Hwnd hwnd) {
    auto* rec = find(hwnd);
    if (!rec) return false;
    if (rec->process != &p_) {
        p_.fail(kAccessDenied);
        return false;
    }
    if (rec->destroying) return true;
    p_.w().destroyWindowTree(hwnd, true);
    return true;
}

bool SimWindows::isWindow(Hwnd hwnd) {
    auto* rec = p_.w().window(hwnd);
    return rec != nullptr;
}

LResult SimWindows::defWindowProc(Hwnd hwnd, MsgId msg, WParam w, LParam l) {
    return p_.w().defaultProc(hwnd, msg, w, l);
}

WndProcRef SimWindows::subclassWindow(Hwnd hwnd, WindowHandler* handler) {
    auto* rec = find(hwnd);
    if (!rec) return 0;
    if (rec->process != &p_) {
        p_.fail(kAccessDenied);
        return 0;
    }
    const WndProcRef previous = p_.w().refFor(rec->proc);
    rec->proc = handler;
    p_.w().refFor(handler);
    return previous;
}

LResult SimWindows::callWindowProc(WndProcRef previous, Hwnd hwnd, MsgId msg, WParam w, LParam l) {
    auto& world = p_.w();
    auto it = world.procByRef.find(previous);
    if (it == world.procByRef.end()) {
        p_.fail(err::kInvalidParameter);
        return 0;
    }
    if (it->second) return it->second->windowProc(hwnd, msg, w, l);
    return world.defaultProc(hwnd, msg, w, l);
}

bool SimWindows::restoreWindowProc(Hwnd hwnd, WndProcRef previous) {
    auto* rec = find(hwnd);
    if (!rec) return false;
    auto& world = p_.w();
    auto it = world.procByRef.find(previous);
    if (it == world.procByRef.end() || rec->process != &p_) {
        p_.fail(err::kInvalidParameter);
        return false;
    }
    rec->proc = it->second;
    return true;
}

LResult SimWindows::sendOne(Hwnd hwnd, MsgId msg, WParam w, LParam l) {
    auto& world = p_.w();
    auto* rec = world.window(hwnd);
    if (!rec) return 0;
    if (rec->process != &p_ && world.shouldFail(Fault::SendMessage, &p_)) {
        p_.fail(kTimeout);
        return 0;
    }
    if (msg == wm::kCopyData && l != 0) {
        // Marshalled like between processes: the receiver gets its own descriptor and a heap
        // copy of the data, both freed as soon as it returns.
        const CopyData& src = copyDataOf(l);
        if (src.cbData > 0 && src.lpData == nullptr) {
            p_.fail(err::kInvalidParameter);  // nothing to copy from: the call never arrives
            return 0;
        }
        std::unique_ptr<std::byte[]> data;
        if (src.cbData > 0) {
            data = std::make_unique_for_overwrite<std::byte[]>(src.cbData);
            std::memcpy(data.get(), src.lpData, src.cbData);
        }
        auto copy = std::make_unique<CopyData>(CopyData{src.dwData, src.cbData, data.get()});
        return world.callProc(hwnd, msg, w, reinterpret_cast<LParam>(copy.get()));
    }
    return world.callProc(hwnd, msg, w, l);
}

LResult SimWindows::sendMessage(Hwnd hwnd, MsgId msg, WParam w, LParam l) {
    if (hwnd == kHwndBroadcast) {
        for (Hwnd h : p_.w().topLevelWindows())
            sendOne(h, msg, w, l);
        return 0;
    }
    if (!find(hwnd)) return 0;
    return sendOne(hwnd, msg, w, l);
}

bool SimWindows::postMessage(Hwnd hwnd, MsgId msg, WParam w, LParam l) {
    auto& world = p_.w();
    if (msg == wm::kCopyData) {
        p_.fail(kMessageSyncOnly);
        return false;
    }
    if (hwnd != kHwndBroadcast && !find(hwnd)) return false;
    if (world.shouldFail(Fault::PostMessage, &p_)) {
        p_.fail(err::kNotEnoughQuota);
        return false;
    }
    if (hwnd == kHwndBroadcast) {
        for (Hwnd h : world.topLevelWindows())
            world.queue.push_back({h, msg, w, l});
    } else {
        world.queue.push_back({hwnd, msg, w, l});
    }
    return true;
}

bool SimWindows::sendNotifyMessage(Hwnd hwnd, MsgId msg, WParam w, LParam l) {
    auto& world = p_.w();
    std::vector<Hwnd> targets;
    if (hwnd == kHwndBroadcast) {
        targets = world.topLevelWindows();
    } else {
        if (!find(hwnd)) return false;
        targets.push_back(hwnd);
    }
    for (Hwnd h : targets) {
        auto* rec = world.window(h);
        if (!rec) continue;
        if (rec->process == &p_) {
            sendOne(h, msg, w, l);
        } else if (msg == wm::kCopyData) {
            p_.fail(kMessageSyncOnly);
            return false;
        } else {
            world.queue.push_back({h, msg, w, l});
        }
    }
    return true;
}

ErrorCode SimWindows::lastError() {
    return p_.lastError_;
}

Hwnd SimWindows::setParent(Hwnd child, Hwnd newParent) {
    auto* rec = find(child);
    if (!rec) return 0;
    if (newParent != 0) {
        if (!find(newParent)) return 0;
        // A window cannot become a descendant of itself.
        for (Hwnd a = newParent; a != 0;) {
            if (a == child) {
                p_.fail(err::kInvalidParameter);
                return 0;
            }
            auto* ar = p_.w().window(a);
            a = ar ? ar->parent : 0;
        }
    }
    const Hwnd previous = rec->parent;
    rec->parent = newParent;
    if (newParent) rec->topmost = false;
    return previous;
}

Hwnd SimWindows::getParent(Hwnd hwnd) {
    auto* rec = find(hwnd);
    return rec ? rec->parent : 0;
}

Hwnd SimWindows::getOwner(Hwnd hwnd) {
    auto* rec = find(hwnd);
    return rec ? rec->owner : 0;
}

bool SimWindows::setWindowPos(Hwnd hwnd, Hwnd insertAfter, Rect rect, std::uint32_t flags) {
    auto* rec = find(hwnd);
    if (!rec) return false;
    if (!(flags & swp::kNoMove)) {
        const std::int32_t wdt = rec->rect.width(), hgt = rec->rect.height();
        rec->rect.left = rect.left;
        rec->rect.top = rect.top;
        rec->rect.right = rect.left + wdt;
        rec->rect.bottom = rect.top + hgt;
    }
    if (!(flags & swp::kNoSize)) {
        rec->rect.right = rec->rect.left + rect.width();
        rec->rect.bottom = rec->rect.top + rect.height();
    }
    if (!(flags & swp::kNoZOrder) && rec->parent == 0) {
        if (insertAfter == kHwndTopmost) rec->topmost = true;
        if (insertAfter == kHwndNoTopmost) rec->topmost = false;
    }
    if (flags & swp::kShowWindow) rec->visible = true;
    if (flags & swp::kHideWindow) rec->visible = false;
    return true;
}

Rect SimWindows::windowRect(Hwnd hwnd) {
    if (!find(hwnd)) return {};
    return p_.w().screenRect(hwnd);
}

bool SimWindows::isTopmost(Hwnd hwnd) {
    auto* rec = find(hwnd);
    return rec && rec->topmost;
}

bool SimWindows::showWindow(Hwnd hwnd, bool visible) {
    auto* rec = find(hwnd);
    if (!rec) return false;
    rec->visible = visible;
    return true;
}

bool SimWindows::isVisible(Hwnd hwnd) {
    // Visible only when the window and all its parents are.
    for (Hwnd h = hwnd; h != 0;) {
        auto* rec = p_.w().window(h);
        if (!rec || !rec->visible) return false;
        h = rec->parent;
    }
    return hwnd != 0;
}

bool SimWindows::setWindowText(Hwnd hwnd, std::string_view text) {
    auto* rec = find(hwnd);
    if (!rec) return false;
    rec->text = std::string(text);
    return true;
}

std::string SimWindows::windowText(Hwnd hwnd) {
    auto* rec = find(hwnd);
    return rec ? rec->text : std::string();
}

bool SimWindows::setTimer(Hwnd hwnd, std::uintptr_t id, std::uint32_t ms) {
    auto* rec = find(hwnd);
    if (!rec) return false;
    if (rec->process != &p_) {
        p_.fail(kAccessDenied);
        return false;
    }
    auto& world = p_.w();
    const std::uint32_t period = std::clamp(ms, kTimerMinimumMs, kTimerMaximumMs);
    // Setting an existing timer again restarts it with the new period.
    world.timers[{hwnd, id}] = detail::TimerRec{period, world.now + period, world.timerSeq++};
    return true;
}

bool SimWindows::killTimer(Hwnd hwnd, std::uintptr_t id) {
    auto& world = p_.w();
    if (world.timers.erase({hwnd, id}) == 0) {
        p_.fail(err::kInvalidParameter);
        return false;
    }
    return true;
}

int SimWindows::runMessageLoop() {
    auto& world = p_.w();
    const std::uint64_t start = world.now;
    for (;;) {
        const auto step = world.stepNow(&p_);
        if (step == World::Impl::Step::Quit) {
            p_.quitPending = false;
            return p_.quitCode;
        }
        if (step == World::Impl::Step::Idle) world.waitForWork(start);
    }
}

void SimWindows::postQuitMessage(int exitCode) {
    p_.quitPending = true;
    p_.quitCode = exitCode;
}

bool SimWindows::pumpPending() {
    auto& world = p_.w();
    for (std::uint64_t n = 0; n < kPumpStormLimit; ++n) {
        const auto step = world.stepNow(&p_);
        if (step == World::Impl::Step::Quit) return false;  // left pending for the outer loop
        if (step == World::Impl::Step::Idle) return true;
    }
    throw Deadlock("pumping pending messages never ran dry: a message storm");
}

bool SimWindows::runModalLoop(const std::function<bool()>& done) {
    auto& world = p_.w();
    const std::uint64_t start = world.now;
    for (;;) {
        if (done()) return true;
        const auto step = world.stepNow(&p_);
        if (step == World::Impl::Step::Quit) return false;  // left pending for the outer loop
        if (step == World::Impl::Step::Idle) world.waitForWork(start);
    }
}

}  // namespace quilo::sim
