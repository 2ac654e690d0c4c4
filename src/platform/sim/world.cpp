// The simulated world: processes, the virtual clock, the message queue and its scheduler.
#include <algorithm>
#include <cctype>
#include <random>

#include "platform/sim/impl.h"

namespace quilo::sim {

using namespace platform;

namespace detail {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = lowerChar(c);
    return out;
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && lower(a) == lower(b);
}

namespace {
// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}
}  // namespace

std::int64_t toEpochMs(const LocalTime& t) {
    const std::int64_t days =
        daysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
    return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + t.second * 1000 + t.millisecond;
}

LocalTime fromEpochMs(std::int64_t ms) {
    std::int64_t days = ms >= 0 ? ms / 86400000 : (ms - 86399999) / 86400000;
    std::int64_t rest = ms - days * 86400000;
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    LocalTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (t.month <= 2));
    t.hour = static_cast<int>(rest / 3600000);
    rest %= 3600000;
    t.minute = static_cast<int>(rest / 60000);
    rest %= 60000;
    t.second = static_cast<int>(rest / 1000);
    t.millisecond = static_cast<int>(rest % 1000);
    return t;
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
    // Iterative matcher with back-tracking to the last '*'.
    std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
    auto eq = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || eq(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    // "*.*" also matches names without a dot, as on Windows.
    if (p + 1 == pattern.size() && pattern[p] == '.' && p > 0 && pattern[p - 1] == '*') ++p;
    return p == pattern.size();
}

Tracked::Tracked(World::Impl& world, ProcessImpl& owner) : world_(&world), owner_(&owner) {
    world.tracked.insert(this);
}

Tracked::~Tracked() {
    if (world_) world_->tracked.erase(this);
}

void Tracked::detach() {
    if (!world_) return;
    release();
    world_->tracked.erase(this);
    world_ = nullptr;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

World::Impl::Impl(World& w, WorldOptions opts) : self(w), options(std::move(opts)) {
    now = options.startTickMs;
    if (options.filesInMemory) {
        if (options.root.empty())
            options.root = std::filesystem::temp_directory_path() / "quilo-sim-memory";
    } else if (options.root.empty()) {
        std::random_device rd;
        for (int attempt = 0; attempt < 100 && options.root.empty(); ++attempt) {
            auto candidate = std::filesystem::temp_directory_path() /
                             ("quilo-sim-" + std::to_string(rd()) + std::to_string(attempt));
            if (std::filesystem::create_directory(candidate)) options.root = candidate;
        }
        if (options.root.empty()) throw std::runtime_error("cannot create the world's directory");
        ownsRoot = true;
    } else {
        std::filesystem::create_directories(options.root);
    }
    monitors.push_back(MonitorInfo{0x00010001, Rect{0, 0, 1920, 1080}, Rect{0, 0, 1920, 1040}, true,
                                   "\\\\.\\DISPLAY1"});
}

World::Impl::~Impl() {
    for (auto& p : processes)
        if (!p->ended) endProcess(*p, true);
    // Objects the test still holds (files, libraries, guards) stop working now.
    while (!tracked.empty())
        (*tracked.begin())->detach();
    blocks.clear();
    if (ownsRoot) {
        std::error_code ec;
        std::filesystem::remove_all(options.root, ec);
    }
}

bool World::Impl::shouldFail(Fault fault, const SimProcess* caller) {
    if (faultProcess != nullptr && caller != faultProcess) return false;
    auto& f = faults[static_cast<std::size_t>(fault)];
    ++f.calls;
    bool fire = f.always;
    for (int& c : f.countdowns)
        if (--c == 0) fire = true;
    std::erase_if(f.countdowns, [](int c) { return c <= 0; });
    return fire;
}

Handle World::Impl::newHandle() {
    const Handle h = nextHandle;
    nextHandle += 4;
    return h;
}

detail::WindowRec* World::Impl::window(Hwnd hwnd) {
    auto it = windows.find(hwnd);
    return it == windows.end() ? nullptr : &it->second;
}

LResult World::Impl::callProc(Hwnd hwnd, MsgId msg, WParam w, LParam l) {
    auto* rec = window(hwnd);
    if (!rec) return 0;
    WindowHandler* proc = rec->proc;
    if (proc) return proc->windowProc(hwnd, msg, w, l);
    return defaultProc(hwnd, msg, w, l);
}

LResult World::Impl::defaultProc(Hwnd hwnd, MsgId msg, WParam, LParam) {
    if (msg == wm::kClose) {
        auto* rec = window(hwnd);
        if (rec && !rec->destroying) destroyWindowTree(hwnd, true);
    }
    return 0;
}

WndProcRef World::Impl::refFor(WindowHandler* proc) {
    auto it = refByProc.find(proc);
    if (it != refByProc.end()) return it->second;
    // Looks like a code address: non-zero, aligned, the same for the same procedure.
    const WndProcRef ref = 0x7A3C0010 + 0x40 * procByRef.size();
    refByProc.emplace(proc, ref);
    procByRef.emplace(ref, proc);
    return ref;
}

void World::Impl::destroyWindowTree(Hwnd hwnd, bool notify) {
    auto* rec = window(hwnd);
    if (!rec || rec->destroying) return;
    rec->destroying = true;
    std::erase_if(timers, [hwnd](const auto& t) { return t.first.first == hwnd; });
    // Owned windows go first, then the window itself is told, then its children.
    std::vector<Hwnd> owned, children;
    for (auto& [h, r] : windows) {
        if (r.owner == hwnd && !r.destroying) owned.push_back(h);
        if (r.parent == hwnd && !r.destroying) children.push_back(h);
    }
    for (Hwnd h : owned)
        destroyWindowTree(h, notify);
    if (notify) callProc(hwnd, wm::kDestroy, 0, 0);
    for (Hwnd h : children)
        destroyWindowTree(h, notify);
    std::erase_if(timers, [hwnd](const auto& t) { return t.first.first == hwnd; });
    windows.erase(hwnd);
    std::erase_if(queue, [hwnd](const detail::QueuedMessage& m) { return m.hwnd == hwnd; });
}

std::vector<Hwnd> World::Impl::topLevelWindows() const {
    std::vector<Hwnd> out;
    for (auto& [h, r] : windows)
        if (r.parent == 0 && !r.destroying) out.push_back(h);
    return out;
}

Rect World::Impl::screenRect(Hwnd hwnd) {
    auto* rec = window(hwnd);
    if (!rec) return {};
    Rect r = rec->rect;
    for (Hwnd p = rec->parent; p != 0;) {
        auto* pr = window(p);
        if (!pr) break;
        r.left += pr->rect.left;
        r.right += pr->rect.left;
        r.top += pr->rect.top;
        r.bottom += pr->rect.top;
        p = pr->parent;
    }
    return r;
}

void World::Impl::dispatch(const detail::QueuedMessage& m) {
    if (!window(m.hwnd)) return;  // destroyed meanwhile, or a thread message
    callProc(m.hwnd, m.msg, m.wParam, m.lParam);
}

World::Impl::Step World::Impl::stepNow(ProcessImpl* loop) {
    if (loop && loop->quitPending) {
        // WM_QUIT comes after the posted messages of its own process.
        const bool ownQueued = std::any_of(queue.begin(), queue.end(), [&](const auto& m) {
            auto* rec = window(m.hwnd);
            return rec && rec->process == loop;
        });
        if (!ownQueued) return Step::Quit;
    }
    if (!queue.empty()) {
        const detail::QueuedMessage m = queue.front();
        queue.pop_front();
        dispatch(m);
        return Step::Dispatched;
    }
    if (!events.empty() && events.begin()->first.first <= now) {
        auto node = events.extract(events.begin());
        node.mapped()();
        return Step::Dispatched;
    }
    // The due timer that has waited longest (then the one set first).
    auto best = timers.end();
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->second.due > now) continue;
        if (best == timers.end() || it->second.due < best->second.due ||
            (it->second.due == best->second.due && it->second.seq < best->second.seq))
            best = it;
    }
    if (best != timers.end()) {
        const auto [hwnd, id] = best->first;
        auto& t = best->second;
        // A timer several periods late fires once; the next tick stays on its grid.
        const std::uint64_t late = now - t.due;
        t.due += (late / t.periodMs + 1) * t.periodMs;
        callProc(hwnd, wm::kTimer, id, 0);
        return Step::Dispatched;
    }
    return Step::Idle;
}

std::optional<std::uint64_t> World::Impl::nextWake() const {
    std::optional<std::uint64_t> next;
    if (!events.empty()) next = events.begin()->first.first;
    for (auto& [key, t] : timers)
        if (!next || t.due < *next) next = t.due;
    return next;
}

void World::Impl::waitForWork(std::uint64_t loopStart) {
    const auto next = nextWake();
    if (!next)
        throw Deadlock(
            "a message loop waits, but no message is queued, no timer is set and no scripted "
            "event is left");
    if (*next - loopStart > options.maxLoopWaitMs)
        throw Deadlock("a message loop waited longer than the world's limit of virtual time");
    now = std::max(now, *next);
}

LocalTime World::Impl::localTime() const {
    return detail::fromEpochMs(detail::toEpochMs(options.startTime) +
                               static_cast<std::int64_t>(now - options.startTickMs));
}

detail::RegHive& World::Impl::hive(RegRoot root, ProcessImpl& p) {
    if (root == RegRoot::LocalMachine) return machineHive;
    return userHives[detail::lower(p.options().userName)];
}

void World::Impl::endProcess(ProcessImpl& p, bool worldEnding) {
    if (p.ended) return;
    p.ended = true;
    p.quitPending = false;
    // Windows of an ending process vanish without messages: its code no longer runs.
    std::vector<Hwnd> own;
    for (auto& [h, r] : windows)
        if (r.process == &p) own.push_back(h);
    for (Hwnd h : own)
        destroyWindowTree(h, false);
    std::erase_if(blocks, [&](const auto& b) { return b.second.owner == &p; });
    std::vector<Handle> slots;
    for (auto& [h, s] : slotHandles)
        if (s.owner == &p) slots.push_back(h);
    for (Handle h : slots)
        p.mailslots().close(h);
    std::vector<detail::Tracked*> held;
    for (auto* t : tracked)
        if (t->owner() == &p) held.push_back(t);
    for (auto* t : held)
        t->detach();
    std::erase_if(instanceNames, [&](const auto& e) { return e.second == &p; });
    (void)worldEnding;
}

// ---------------------------------------------------------------------------------------------

World::World(WorldOptions options) : impl_(std::make_unique<Impl>(*this, std::move(options))) {}

World::~World() = default;

SimProcess& World::createProcess(ProcessOptions options) {
    auto& w = *impl_;
    const std::uint32_t id = w.nextProcessId;
    w.nextProcessId += 0x24;
    w.processes.push_back(std::make_unique<ProcessImpl>(*this, id, std::move(options)));
    return *w.processes.back();
}

void World::endProcess(SimProcess& process) {
    for (auto& p : impl_->processes)
        if (p.get() == &process) impl_->endProcess(*p, false);
}

std::uint32_t World::nowMs() const {
    return static_cast<std::uint32_t>(impl_->now);
}

void World::advance(std::uint32_t ms) {
    auto& w = *impl_;
    const std::uint64_t target = w.now + ms;
    for (;;) {
        if (w.stepNow(nullptr) == Impl::Step::Dispatched) continue;
        const auto next = w.nextWake();
        if (next && *next <= target) {
            w.now = std::max(w.now, *next);
            continue;
        }
        break;
    }
    w.now = std::max(w.now, target);
}

void World::runUntilIdle() {
    while (impl_->stepNow(nullptr) == Impl::Step::Dispatched) {
    }
}

void World::spend(std::uint32_t ms) {
    impl_->now += ms;
}

void World::at(std::uint32_t timeMs, std::function<void()> action) {
    auto& w = *impl_;
    // Times are tick counts; a time already past runs at the next opportunity.
    const std::uint64_t when = std::max<std::uint64_t>(w.now, timeMs);
    w.events.emplace(std::make_pair(when, w.eventSeq++), std::move(action));
}

void World::after(std::uint32_t delayMs, std::function<void()> action) {
    auto& w = *impl_;
    w.events.emplace(std::make_pair(w.now + delayMs, w.eventSeq++), std::move(action));
}

void World::setMonitors(std::vector<MonitorInfo> monitors) {
    HMonitor next = 0x00010001;
    for (auto& m : monitors) {
        if (m.handle == 0) m.handle = next;
        next = std::max(next, m.handle) + 2;
    }
    impl_->monitors = std::move(monitors);
}

void World::setTwipsPerPixel(int x, int y) {
    impl_->twipsX = x;
    impl_->twipsY = y;
}

void World::registerLibrary(SimLibrary library) {
    impl_->libraries.push_back(std::move(library));
}

void World::failNth(Fault fault, int nth) {
    if (nth < 1) nth = 1;
    impl_->faults[static_cast<std::size_t>(fault)].countdowns.push_back(nth);
}

void World::failAlways(Fault fault, bool on) {
    auto& f = impl_->faults[static_cast<std::size_t>(fault)];
    f.always = on;
    if (!on) f.countdowns.clear();
}

void World::faultsOnlyIn(const SimProcess* process) {
    impl_->faultProcess = process;
}

std::size_t World::calls(Fault fault) const {
    return impl_->faults[static_cast<std::size_t>(fault)].calls;
}

LiveCounts World::live() const {
    const auto& w = *impl_;
    LiveCounts c;
    c.memoryBlocks = w.blocks.size();
    c.handles = w.slotHandles.size() + w.tracked.size();
    c.windows = w.windows.size();
    c.timers = w.timers.size();
    return c;
}

}  // namespace quilo::sim
