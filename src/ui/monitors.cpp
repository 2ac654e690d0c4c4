#include "ui/monitors.h"

#include <algorithm>

#include "core/error.h"

namespace quilo::ui {

namespace {
constexpr int kSmSameDisplayFormat = 81;
}  // namespace

void cMonitor::InitFromHandle(platform::Display& display, platform::HMonitor handle) {
    handle_ = handle;
    platform::MonitorInfo info;
    if (!display.monitorInfo(handle, info)) return;
    monitor_ = info.monitor;
    work_ = info.work;
    primary_ = info.primary;
    // The device name field ends at its first NUL (or fills the whole field).
    const auto nul = info.device.find('\0');
    name_ = nul == std::string::npos ? info.device : info.device.substr(0, nul);
}

cMonitors::cMonitors(platform::Display& display) : display_(display) {
    Refresh();
}

std::int32_t cMonitors::AllMonitorsSame() const {
    return display_.systemMetrics(kSmSameDisplayFormat);
}

std::unique_ptr<cMonitor> cMonitors::MonitorForPoint(std::int32_t x, std::int32_t y) const {
    const platform::HMonitor h =
        display_.monitorFromPoint({x, y}, platform::monitor_flags::kDefaultToNull);
    if (h == 0) return nullptr;
    auto m = std::make_unique<cMonitor>();
    m->InitFromHandle(display_, h);
    return m;
}

std::unique_ptr<cMonitor> cMonitors::MonitorForWindow(platform::Hwnd hwnd) const {
    const platform::HMonitor h =
        display_.monitorFromWindow(hwnd, platform::monitor_flags::kDefaultToNull);
    if (h == 0) return nullptr;
    auto m = std::make_unique<cMonitor>();
    m->InitFromHandle(display_, h);
    return m;
}

std::int32_t cMonitors::VirtualScreenLeft() const {
    if (monitors_.empty()) return 0;
    std::int32_t v = monitors_.front().Left();
    for (const auto& m : monitors_)
        v = std::min(v, m.Left());
    return v;
}

std::int32_t cMonitors::VirtualScreenTop() const {
    if (monitors_.empty()) return 0;
    std::int32_t v = monitors_.front().Top();
    for (const auto& m : monitors_)
        v = std::min(v, m.Top());
    return v;
}

std::int32_t cMonitors::VirtualScreenWidth() const {
    return display_.systemMetrics(platform::sm::kCxVirtualScreen);
}

std::int32_t cMonitors::VirtualScreenHeight() const {
    return display_.systemMetrics(platform::sm::kCyVirtualScreen);
}

std::int32_t cMonitors::DisplayMonitorCount() const {
    return display_.systemMetrics(platform::sm::kCMonitors);
}

const cMonitor& cMonitors::Monitor(std::int32_t index) const {
    if (index < 1 || index > count_) throw RuntimeError(9, "Subscript out of range", "cMonitors");
    return monitors_[static_cast<std::size_t>(index - 1)];
}

void cMonitors::AddMonitor(platform::HMonitor handle) {
    ++count_;
    monitors_.resize(static_cast<std::size_t>(count_));
    monitors_.back().InitFromHandle(display_, handle);
}

void cMonitors::Refresh() {
    count_ = 0;
    monitors_.clear();
    EnumerateMonitors(*this);
}

void EnumerateMonitors(cMonitors& target) {
    target.display().enumDisplayMonitors(&MonitorEnumProc, &target);
}

bool MonitorEnumProc(platform::HMonitor monitor, const platform::Rect& /*rect*/, void* data) {
    static_cast<cMonitors*>(data)->AddMonitor(monitor);
    return true;
}

void CenterOnHostMonitor(forms::Form& form, platform::Hwnd hostParentWindow) {
    platform::Display& display = form.platform().display();
    const cMonitors monitors(display);
    std::unique_ptr<cMonitor> host;
    if (hostParentWindow != 0) host = monitors.MonitorForWindow(hostParentWindow);
    const std::int32_t tx = display.twipsPerPixelX();
    const std::int32_t ty = display.twipsPerPixelY();
    const std::int32_t formWidth = form.width();
    const std::int32_t formHeight = form.height();
    std::int32_t left = 0;
    std::int32_t top = 0;
    if (host) {
        left = tx * (host->Width() / 2) - formWidth / 2 + tx * host->Left();
        top = ty * (host->Height() / 2) - formHeight / 2 + ty * host->Top();
    } else {
        const cMonitor& first = monitors.Monitor(1);
        left = tx * (first.Width() / 2) - formWidth / 2;
        top = ty * (first.Height() / 2) - formHeight / 2;
    }
    form.move(left, top, formWidth, formHeight);
}

}  // namespace quilo::ui
