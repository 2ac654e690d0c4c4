// Simulated display, process, sound, clock and dynamic libraries, and the process itself.
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/sim/impl.h"

namespace quilo::sim {

using namespace platform;

namespace {
constexpr ErrorCode kModNotFound = 126;  // ERROR_MOD_NOT_FOUND

// Squared distance from a point to a rectangle (0 inside).
std::int64_t distance2(const Rect& r, Point pt) {
    const std::int64_t dx =
        pt.x < r.left ? r.left - pt.x : (pt.x >= r.right ? pt.x - r.right + 1 : 0);
    const std::int64_t dy =
        pt.y < r.top ? r.top - pt.y : (pt.y >= r.bottom ? pt.y - r.bottom + 1 : 0);
    return dx * dx + dy * dy;
}

// Squared gap between two rectangles (0 when they touch or overlap).
std::int64_t gap2(const Rect& a, const Rect& b) {
    const std::int64_t dx = std::max<std::int64_t>({0, b.left - a.right, a.left - b.right});
    const std::int64_t dy = std::max<std::int64_t>({0, b.top - a.bottom, a.top - b.bottom});
    return dx * dx + dy * dy;
}

std::int64_t overlap(const Rect& a, const Rect& b) {
    const std::int64_t w = std::min(a.right, b.right) - std::max(a.left, b.left);
    const std::int64_t h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}
}  // namespace

// --- display -------------------------------------------------------------------------------

bool SimDisplay::enumDisplayMonitors(MonitorEnumProc proc, void* data) {
    const auto monitors = p_.w().monitors;  // a callback may reconfigure nothing we iterate
    // Like EnumDisplayMonitors, a callback that stops the enumeration makes it report false.
    for (const auto& m : monitors)
        if (!proc(m.handle, m.monitor, data)) return false;
    return true;
}

bool SimDisplay::monitorInfo(HMonitor monitor, MonitorInfo& out) {
    for (const auto& m : p_.w().monitors) {
        if (m.handle == monitor) {
            out = m;
            return true;
        }
    }
    p_.fail(err::kInvalidParameter);
    return false;
}

HMonitor SimDisplay::fromRect(const Rect& r, std::uint32_t flags) {
    const auto& monitors = p_.w().monitors;
    HMonitor best = 0;
    std::int64_t bestArea = 0;
    for (const auto& m : monitors) {
        const auto a = overlap(r, m.monitor);
        if (a > bestArea) {
            bestArea = a;
            best = m.handle;
        }
    }
    if (best) return best;
    if (flags == monitor_flags::kDefaultToPrimary) {
        for (const auto& m : monitors)
            if (m.primary) return m.handle;
    }
    if (flags == monitor_flags::kDefaultToNearest) {
        std::int64_t bestGap = LLONG_MAX;
        for (const auto& m : monitors) {
            const auto g = gap2(r, m.monitor);
            if (g < bestGap) {
                bestGap = g;
                best = m.handle;
            }
        }
    }
    return best;
}

HMonitor SimDisplay::monitorFromWindow(Hwnd hwnd, std::uint32_t flags) {
    // An invalid window is on no monitor; the flags then decide, as for any other miss.
    const Rect r =
        p_.w().window(hwnd) ? p_.w().screenRect(hwnd) : Rect{INT_MIN, INT_MIN, INT_MIN, INT_MIN};
    if (r.left == INT_MIN) {
        if (flags == monitor_flags::kDefaultToNull) return 0;
        for (const auto& m : p_.w().monitors)
            if (m.primary) return m.handle;
        return 0;
    }
    // A window of no size counts as the point it sits on.
    if (r.width() <= 0 || r.height() <= 0) return monitorFromPoint(Point{r.left, r.top}, flags);
    return fromRect(r, flags);
}

HMonitor SimDisplay::monitorFromPoint(Point pt, std::uint32_t flags) {
    const auto& monitors = p_.w().monitors;
    for (const auto& m : monitors)
        if (distance2(m.monitor, pt) == 0) return m.handle;
    if (flags == monitor_flags::kDefaultToPrimary) {
        for (const auto& m : monitors)
            if (m.primary) return m.handle;
    }
    if (flags == monitor_flags::kDefaultToNearest) {
        HMonitor best = 0;
        std::int64_t bestD = LLONG_MAX;
        for (const auto& m : monitors) {
            const auto d = distance2(m.monitor, pt);
            if (d < bestD) {
                bestD = d;
                best = m.handle;
            }
        }
        return best;
    }
    return 0;
}

int SimDisplay::systemMetrics(int index) {
    const auto& monitors = p_.w().monitors;
    const MonitorInfo* primary = nullptr;
    Rect all{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (const auto& m : monitors) {
        if (m.primary && !primary) primary = &m;
        all.left = std::min(all.left, m.monitor.left);
        all.top = std::min(all.top, m.monitor.top);
        all.right = std::max(all.right, m.monitor.right);
        all.bottom = std::max(all.bottom, m.monitor.bottom);
    }
    if (monitors.empty()) all = Rect{};
    switch (index) {
        case sm::kCxScreen:
            return primary ? primary->monitor.width() : 0;
        case sm::kCyScreen:
            return primary ? primary->monitor.height() : 0;
        case sm::kXVirtualScreen:
            return all.left;
        case sm::kYVirtualScreen:
            return all.top;
        case sm::kCxVirtualScreen:
            return all.width();
        case sm::kCyVirtualScreen:
            return all.height();
        case sm::kCMonitors:
            return static_cast<int>(monitors.size());
        default:
            return 0;
    }
}

int SimDisplay::twipsPerPixelX() {
    return p_.w().twipsX;
}
int SimDisplay::twipsPerPixelY() {
    return p_.w().twipsY;
}

// --- process ---------------------------------------------------------------------------

namespace {
class SimGuard final : public InstanceGuard, public detail::Tracked {
  public:
    SimGuard(World::Impl& w, ProcessImpl& p, std::string name)
        : Tracked(w, p), name_(std::move(name)) {}
    ~SimGuard() override { detach(); }

  protected:
    void release() override { world_->instanceNames.erase(name_); }

  private:
    std::string name_;
};

class SimLoadedLibrary final : public Library, public detail::Tracked {
  public:
    SimLoadedLibrary(World::Impl& w, ProcessImpl& p, const SimLibrary& lib)
        : Tracked(w, p), exports_(lib.exports) {}
    ~SimLoadedLibrary() override { detach(); }
    void* symbol(std::string_view name) override {
        if (!attached()) return nullptr;
        auto it = exports_.find(name);
        return it == exports_.end() ? nullptr : it->second;
    }

  protected:
    void release() override { exports_.clear(); }

  private:
    std::map<std::string, void*, std::less<>> exports_;
};
}  // namespace

std::string SimProcessPort::commandLine() {
    return p_.options().commandLine;
}

std::unique_ptr<InstanceGuard> SimProcessPort::acquireSingleInstance(std::string_view name) {
    auto& w = p_.w();
    // Guard names are exact, like the kernel object names behind them.
    const std::string key(name);
    if (p_.ended || w.instanceNames.contains(key)) {
        p_.fail(err::kAlreadyExists);
        return nullptr;
    }
    w.instanceNames.emplace(key, &p_);
    return std::make_unique<SimGuard>(w, p_, key);
}

VersionInfo SimProcessPort::version() {
    return p_.options().version;
}

int SimProcessPort::messageBox(Hwnd owner, std::string_view text, std::string_view caption,
                               std::uint32_t style) {
    int answer = 0;
    if (!p_.answers.empty()) {
        answer = p_.answers.front();
        p_.answers.pop_front();
    } else {
        switch (style & 0xF) {
            case mb::kYesNo:
                answer = mb::kIdYes;
                break;
            default:
                answer = mb::kIdOk;
                break;
        }
    }
    p_.boxes_.push_back(
        MessageBoxRecord{owner, std::string(text), std::string(caption), style, answer});
    return answer;
}

void SimProcessPort::setMousePointer(int pointer) {
    p_.pointer = pointer;
}
int SimProcessPort::mousePointer() {
    return p_.pointer;
}

bool SimProcessPort::startProgram(std::string_view path, std::string_view arguments) {
    std::string line(path);
    if (!arguments.empty()) {
        line += ' ';
        line += arguments;
    }
    p_.started_.push_back(std::move(line));
    return true;
}

char SimProcessPort::decimalSeparator() {
    return p_.options().decimalSeparator;
}

std::string SimProcessPort::errorText(ErrorCode code) {
    switch (code) {
        case err::kSuccess:
            return "The operation completed successfully.";
        case err::kFileNotFound:
            return "The system cannot find the file specified.";
        case err::kPathNotFound:
            return "The system cannot find the path specified.";
        case err::kAccessDenied:
            return "Access is denied.";
        case err::kInvalidHandle:
            return "The handle is invalid.";
        case err::kNotEnoughMemory:
            return "Not enough memory resources are available to process this command.";
        case err::kWriteFault:
            return "The system cannot write to the specified device.";
        case err::kFileExists:
            return "The file exists.";
        case err::kInvalidParameter:
            return "The parameter is incorrect.";
        case err::kAlreadyExists:
            return "Cannot create a file when that file already exists.";
        case err::kMoreData:
            return "More data is available.";
        case kModNotFound:
            return "The specified module could not be found.";
        case err::kInvalidWindowHandle:
            return "Invalid window handle.";
        case err::kNotEnoughQuota:
            return "Not enough quota is available to process this command.";
        default:
            return "Unknown error " + std::to_string(code) + ".";
    }
}

// --- sound, clock, libraries ----------------------------------------------------------------

bool SimSound::playSound(std::string_view name, std::uint32_t flags) {
    p_.sounds_.push_back(
        SoundRecord{static_cast<std::uint32_t>(p_.w().now), std::string(name), flags});
    return true;
}

std::uint32_t SimClock::tickCount() {
    return static_cast<std::uint32_t>(p_.w().now);
}
LocalTime SimClock::localTime() {
    return p_.w().localTime();
}

std::unique_ptr<Library> SimLibraries::load(std::string_view path) {
    auto& w = p_.w();
    if (w.shouldFail(Fault::LoadLibrary, &p_)) {
        p_.fail(err::kFileNotFound);
        return nullptr;
    }
    const auto cut = path.find_last_of("\\/");
    const auto file = cut == std::string_view::npos ? path : path.substr(cut + 1);
    for (const auto& lib : w.libraries) {
        // "OrvaneEx" finds "OrvaneEx.dll", as LoadLibrary adds the extension.
        if (detail::iequals(lib.fileName, file) ||
            detail::iequals(lib.fileName, std::string(file) + ".dll"))
            return std::make_unique<SimLoadedLibrary>(w, p_, lib);
    }
    p_.fail(kModNotFound);
    return nullptr;
}

ErrorCode SimLibraries::lastError() {
    return p_.lastError_;
}

// --- the process -----------------------------------------------------------------------------

ProcessImpl::ProcessImpl(World& world, std::uint32_t id, ProcessOptions options)
    : world_(world), id_(id), options_(std::move(options)) {
    files_.currentDirectory = files_.programFolder();
    // The folders every Windows installation has for a program and its user.
    files_.createDirectories(files_.programFolder());
    files_.createDirectories(files_.tempFolder());
    files_.createDirectories(files_.userDataFolder());
}

void ProcessImpl::scriptMessageBoxAnswers(std::vector<int> list) {
    answers.assign(list.begin(), list.end());
}

}  // namespace quilo::sim
