// Monitor geometry on configured simulated monitors.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "forms/forms.h"
#include "platform/sim/world.h"
#include "support/errors.h"
#include "ui/monitors.h"

namespace quilo::ui {
namespace {

using platform::MonitorInfo;
using platform::Rect;

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

// The centre of the host's monitor in pixels (halves cut off) times the twips per pixel, less
// half the form; without a host window, or with one on no monitor, monitor 1's size at the
// origin.
TEST_F(MonitorsTest, TheFormIsCentredOnTheHostsMonitorInIntegerTwips) {
    const MonitorInfo hd{1, {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, "D1"};
    const MonitorInfo odd{1, {0, 0, 1365, 767}, {0, 0, 1365, 767}, true, "D1"};
    const MonitorInfo left{2, {-1280, 56, 0, 1080}, {-1280, 56, 0, 1080}, false, "D2"};
    // Monitor 1 in enumeration order, not at the origin: its position is ignored.
    const MonitorInfo away{7, {1920, 200, 3200, 1224}, {1920, 200, 3200, 1184}, false, ""};
    const std::vector<MonitorInfo> sets[] = {{hd}, {odd}, {hd, left}, {away, hd}};
    const int twips[][2] = {{15, 15}, {15, 15}, {15, 15}, {12, 10}};
    struct Row {
        int set;
        std::optional<Rect> host;
        int width, height, left, top;
    } const rows[] = {
        {0, Rect{100, 100, 900, 700}, 6000, 3000, 11400, 6600},
        {0, {}, 6000, 3000, 11400, 6600},
        {1, {}, 6001, 3001, 15 * 682 - 3000, 15 * 383 - 1500},
        {2, Rect{-1200, 100, -300, 800}, 6000, 3000, -12600, 7020},  // 15 * (640 - 1280) - 3000
        {2, Rect{5000, 5000, 5100, 5100}, 6000, 3000, 11400, 6600},
        {3, {}, 4800, 2000, 12 * 640 - 2400, 10 * 512 - 1000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(&r - rows);
        world.setMonitors(sets[r.set]);
        world.setTwipsPerPixel(twips[r.set][0], twips[r.set][1]);
        form.move(0, 0, r.width, r.height);
        CenterOnHostMonitor(form, r.host ? windowAt(*r.host) : 0);
        EXPECT_EQ(std::tuple(form.left(), form.top(), form.width(), form.height()),
                  std::tuple(r.left, r.top, r.width, r.height));
    }
}

TEST_F(MonitorsTest, TheCollectionDescribesEveryMonitor) {
    std::string name = "\\\\.\\DISPLAY2";
    name.push_back('\0');
    name += "garbage";
    world.setMonitors({
        MonitorInfo{11, {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, "\\\\.\\DISPLAY1"},
        MonitorInfo{12, {-1280, -100, 0, 924}, {-1180, -100, 0, 924}, false, name},
    });
    cMonitors all(proc.display());
    ASSERT_EQ(all.MonitorCount(), 2);
    const cMonitor& second = all.Monitor(2);
    // The name is cut at the first NUL; a task bar on the left edge: the work area is its own
    // rectangle's width.
    EXPECT_EQ(
        std::tuple(second.hMonitor(), second.Name(), second.IsPrimary(), second.Left(),
                   second.Top(), second.Width(), second.Height(), second.WorkLeft(),
                   second.WorkWidth(), second.WorkHeight()),
        std::tuple(12u, "\\\\.\\DISPLAY2", false, -1280, -100, 1280, 1024, -1180, 1180, 1024));
    EXPECT_EQ(std::pair(all.Monitor(1).IsPrimary(), all.Monitor(1).WorkHeight()),
              std::pair(true, 1040));
    EXPECT_EQ(std::tuple(all.VirtualScreenLeft(), all.VirtualScreenTop(), all.VirtualScreenWidth(),
                         all.DisplayMonitorCount()),
              std::tuple(-1280, -100, proc.display().systemMetrics(78),
                         proc.display().systemMetrics(80)));

    auto atPoint = all.MonitorForPoint(-10, 500);
    ASSERT_TRUE(atPoint);
    EXPECT_EQ(atPoint->hMonitor(), 12u);
    EXPECT_EQ(all.MonitorForPoint(5000, 5000), nullptr);  // no nearest-monitor fallback

    EXPECT_EQ(test::errorNumber([&] { all.Monitor(3); }), 9) << "index 3 of 2 monitors";
    EXPECT_THROW(all.Monitor(0), RuntimeError);

    // Refresh rebuilds instead of appending.
    world.setMonitors({MonitorInfo{11, {0, 0, 800, 600}, {0, 0, 800, 600}, true, "D"}});
    all.Refresh();
    EXPECT_EQ(all.MonitorCount(), 1);
    EXPECT_EQ(all.Monitor(1).Width(), 800);
}

}  // namespace
}  // namespace quilo::ui
