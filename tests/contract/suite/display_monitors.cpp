// Display contract: enumerating monitors and finding the one under a point or a window.
#include <gtest/gtest.h>

#include <vector>

#include "contract_env.h"

namespace quilo::contract {
namespace {

using namespace platform;

std::vector<MonitorInfo> allMonitors() {
    auto& display = contractEnv().platform().display();
    std::vector<HMonitor> handles;
    EXPECT_TRUE(display.enumDisplayMonitors(
        [](HMonitor m, const Rect&, void* data) {
            static_cast<std::vector<HMonitor>*>(data)->push_back(m);
            return true;
        },
        &handles));
    std::vector<MonitorInfo> out;
    for (HMonitor h : handles) {
        MonitorInfo info;
        EXPECT_TRUE(display.monitorInfo(h, info));
        EXPECT_EQ(info.handle, h);
        out.push_back(info);
    }
    return out;
}

// Every test starts with the monitors as enumerated, and the primary one among them.
class DisplayMonitors : public testing::Test {
  protected:
    void SetUp() override {
        for (const auto& m : monitors)
            if (m.primary) primary = &m;
        ASSERT_NE(primary, nullptr);
    }
    Display& display = contractEnv().platform().display();
    const std::vector<MonitorInfo> monitors = allMonitors();
    const MonitorInfo* primary = nullptr;
};

TEST_F(DisplayMonitors, EnumerationMatchesTheMetricsAndHasOnePrimaryAtTheOrigin) {
    EXPECT_EQ(display.systemMetrics(sm::kCMonitors), static_cast<int>(monitors.size()));
    EXPECT_EQ(primary->monitor.left, 0);
    EXPECT_EQ(primary->monitor.top, 0);
    EXPECT_EQ(display.systemMetrics(sm::kCxScreen), primary->monitor.width());
    EXPECT_EQ(display.systemMetrics(sm::kCyScreen), primary->monitor.height());
    for (const auto& m : monitors) {
        EXPECT_GT(m.monitor.width(), 0);
        EXPECT_GT(m.monitor.height(), 0);
        EXPECT_GE(m.work.left, m.monitor.left);
        EXPECT_GE(m.work.top, m.monitor.top);
        EXPECT_LE(m.work.right, m.monitor.right);
        EXPECT_LE(m.work.bottom, m.monitor.bottom);
        EXPECT_FALSE(m.device.empty());
        EXPECT_GE(display.systemMetrics(sm::kCxVirtualScreen), m.monitor.width());
    }
    MonitorInfo nothing;
    EXPECT_FALSE(display.monitorInfo(0, nothing));
}

TEST_F(DisplayMonitors, EnumerationStopsWhenTheCallbackSaysSo) {
    int calls = 0;
    EXPECT_FALSE(display.enumDisplayMonitors(
        [](HMonitor, const Rect&, void* data) {
            ++*static_cast<int*>(data);
            return false;
        },
        &calls));
    EXPECT_EQ(calls, 1) << "and reports that it did not run to the end";
}

TEST_F(DisplayMonitors, PointsFindTheirMonitorOrFallBackByTheFlags) {
    using namespace monitor_flags;
    for (const auto& m : monitors) {
        const Point centre{(m.monitor.left + m.monitor.right) / 2,
                           (m.monitor.top + m.monitor.bottom) / 2};
        EXPECT_EQ(display.monitorFromPoint(centre, kDefaultToNull), m.handle);
    }
    const Point farAway{-100000, -100000};
    EXPECT_EQ(display.monitorFromPoint(farAway, kDefaultToNull), 0u);
    EXPECT_EQ(display.monitorFromPoint(farAway, kDefaultToPrimary), primary->handle);
    // Far to the left and above, the nearest monitor is the one reaching furthest up-left.
    const HMonitor nearest = display.monitorFromPoint(farAway, kDefaultToNearest);
    ASSERT_NE(nearest, 0u);
    MonitorInfo n;
    ASSERT_TRUE(display.monitorInfo(nearest, n));
    for (const auto& m : monitors)
        EXPECT_FALSE(m.monitor.left > n.monitor.left - 1 && m.monitor.top < n.monitor.top &&
                     m.monitor.left < n.monitor.left)
            << "a nearer monitor exists";
}

TEST_F(DisplayMonitors, WindowsFindTheMonitorTheyAreOn) {
    auto& p = contractEnv().platform();
    using namespace monitor_flags;
    WindowSpec spec;
    spec.rect = Rect{primary->work.left + 10, primary->work.top + 10, primary->work.left + 210,
                     primary->work.top + 110};
    const Hwnd w = p.windows().createWindow(spec, nullptr);
    ASSERT_NE(w, 0u);
    EXPECT_EQ(p.display().monitorFromWindow(w, kDefaultToNull), primary->handle);
    ASSERT_TRUE(p.windows().setWindowPos(w, 0, Rect{-50000, -50000, 0, 0},
                                         swp::kNoSize | swp::kNoZOrder | swp::kNoActivate));
    EXPECT_EQ(p.display().monitorFromWindow(w, kDefaultToNull), 0u);
    EXPECT_EQ(p.display().monitorFromWindow(w, kDefaultToPrimary), primary->handle);
    EXPECT_NE(p.display().monitorFromWindow(w, kDefaultToNearest), 0u);
    ASSERT_TRUE(p.windows().destroyWindow(w));
}

TEST_F(DisplayMonitors, TwipsPerPixelComeFromTheScreenResolution) {
    const int x = display.twipsPerPixelX(), y = display.twipsPerPixelY();
    EXPECT_GT(x, 0);
    EXPECT_GT(y, 0);
    EXPECT_LE(x, 20) << "below 72 dots per inch";
    EXPECT_EQ(1440 % x, 0) << "a whole number of twips per pixel at a common resolution";
}

}  // namespace
}  // namespace quilo::contract
