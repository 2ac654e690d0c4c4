// Monitor geometry on configured simulated monitors.
#include <gtest/gtest.h>

#include "core/error.h"
#include "forms/forms.h"
#include "platform/sim/world.h"
#include "ui/monitors.h"

namespace quilo::ui {
namespace {

using platform::MonitorInfo;
using platform::Rect;

MonitorInfo monitor(platform::HMonitor h, Rect r, Rect work, bool primary, std::string name) {
    MonitorInfo m;
    m.handle = h;
    m.monitor = r;
    m.work = work;
    m.primary = primary;
    m.device = std::move(name);
    return m;
}

struct MonitorsTest : ::testing::Test {
    sim::World world;
    sim::SimProcess& proc = world.createProcess();
    forms::Forms forms{proc};
    forms::Form form{forms, "frmDlgBox"};

    platform::Hwnd windowAt(Rect r) {
        platform::WindowSpec spec;
        spec.rect = r;
        spec.visible = true;
        return proc.windows().createWindow(spec, nullptr);
    }
};

TEST_F(MonitorsTest, ASingleFullHdMonitorCentresTheFormInIntegerTwips) {
    world.setMonitors(
        {monitor(1, {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, "\\\\.\\DISPLAY1")});
    form.move(0, 0, 6000, 3000);
    const platform::Hwnd host = windowAt({100, 100, 900, 700});
    CenterOnHostMonitor(form, host);
    EXPECT_EQ(form.left(), 11400);
    EXPECT_EQ(form.top(), 6600);
    // The same result without a host window: monitor 1 starts at the origin anyway.
    form.move(0, 0, 6000, 3000);
    CenterOnHostMonitor(form, 0);
    EXPECT_EQ(form.left(), 11400);
    EXPECT_EQ(form.top(), 6600);
    EXPECT_EQ(form.width(), 6000);
    EXPECT_EQ(form.height(), 3000);
}

TEST_F(MonitorsTest, OddSizesDivideWithTruncationBeforeScaling) {
    world.setMonitors({monitor(1, {0, 0, 1365, 767}, {0, 0, 1365, 767}, true, "D1")});
    form.move(0, 0, 6001, 3001);
    CenterOnHostMonitor(form, 0);
    EXPECT_EQ(form.left(), 15 * 682 - 3000);
    EXPECT_EQ(form.top(), 15 * 383 - 1500);
}

TEST_F(MonitorsTest, HostOnASecondMonitorLeftOfThePrimaryGivesANegativeLeft) {
    world.setMonitors({
        monitor(1, {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, "\\\\.\\DISPLAY1"),
        monitor(2, {-1280, 56, 0, 1080}, {-1280, 56, 0, 1080}, false, "\\\\.\\DISPLAY2"),
    });
    form.move(0, 0, 6000, 3000);
    const platform::Hwnd host = windowAt({-1200, 100, -300, 800});
    CenterOnHostMonitor(form, host);
    EXPECT_EQ(form.left(), 15 * 640 - 3000 + 15 * -1280);
    EXPECT_EQ(form.top(), 15 * 512 - 1500 + 15 * 56);
    EXPECT_LT(form.left(), 0);

    // A host window that is on no monitor falls back to monitor 1's size at the origin.
    const platform::Hwnd lost = windowAt({5000, 5000, 5100, 5100});
    CenterOnHostMonitor(form, lost);
    EXPECT_EQ(form.left(), 11400);
    EXPECT_EQ(form.top(), 6600);
}

TEST_F(MonitorsTest, WithoutAHostWindowMonitorOnesSizeIsUsedAtTheOrigin) {
    // Monitor 1 in enumeration order is not at the origin: its position is ignored.
    world.setMonitors({
        monitor(7, {1920, 200, 3200, 1224}, {1920, 200, 3200, 1184}, false, "D2"),
        monitor(8, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}, true, "D1"),
    });
    world.setTwipsPerPixel(12, 10);
    form.move(0, 0, 4800, 2000);
    CenterOnHostMonitor(form, 0);
    EXPECT_EQ(form.left(), 12 * 640 - 2400);
    EXPECT_EQ(form.top(), 10 * 512 - 1000);
}

TEST_F(MonitorsTest, TheCollectionDescribesEveryMonitor) {
    std::string name = "\\\\.\\DISPLAY2";
    name.push_back('\0');
    name += "garbage";
    world.setMonitors({
        monitor(11, {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, "\\\\.\\DISPLAY1"),
        monitor(12, {-1280, -100, 0, 924}, {-1180, -100, 0, 924}, false, name),
    });
    cMonitors all(proc.display());
    ASSERT_EQ(all.MonitorCount(), 2);
    const cMonitor& second = all.Monitor(2);
    EXPECT_EQ(second.hMonitor(), 12u);
    EXPECT_EQ(second.Name(), "\\\\.\\DISPLAY2");  // cut at the first NUL
    EXPECT_FALSE(second.IsPrimary());
    EXPECT_TRUE(all.Monitor(1).IsPrimary());
    EXPECT_EQ(second.Left(), -1280);
    EXPECT_EQ(second.Top(), -100);
    EXPECT_EQ(second.Width(), 1280);
    EXPECT_EQ(second.Height(), 1024);
    // A task bar on the left edge: the work area is its own rectangle's width.
    EXPECT_EQ(second.WorkLeft(), -1180);
    EXPECT_EQ(second.WorkWidth(), 1180);
    EXPECT_EQ(second.WorkHeight(), 1024);
    EXPECT_EQ(all.Monitor(1).WorkHeight(), 1040);
    EXPECT_EQ(all.VirtualScreenLeft(), -1280);
    EXPECT_EQ(all.VirtualScreenTop(), -100);
    EXPECT_EQ(all.VirtualScreenWidth(), proc.display().systemMetrics(78));
    EXPECT_EQ(all.DisplayMonitorCount(), proc.display().systemMetrics(80));

    auto atPoint = all.MonitorForPoint(-10, 500);
    ASSERT_TRUE(atPoint);
    EXPECT_EQ(atPoint->hMonitor(), 12u);
    EXPECT_EQ(all.MonitorForPoint(5000, 5000), nullptr);  // no nearest-monitor fallback

    try {
        all.Monitor(3);
        FAIL() << "index 3 of 2 monitors";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 9);
    }
    EXPECT_THROW(all.Monitor(0), RuntimeError);

    // Refresh rebuilds instead of appending.
    world.setMonitors({monitor(11, {0, 0, 800, 600}, {0, 0, 800, 600}, true, "D")});
    all.Refresh();
    EXPECT_EQ(all.MonitorCount(), 1);
    EXPECT_EQ(all.Monitor(1).Width(), 800);
}

}  // namespace
}  // namespace quilo::ui
