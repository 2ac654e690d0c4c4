// The configured monitors and the libraries registered in the world.
#include <gtest/gtest.h>

#include "sim_test.h"

namespace quilo::sim::test {
namespace {

TEST(SimProcessPorts, ConfiguredMonitorsDecideNearestAndMetrics) {
    World world;
    // A secondary monitor to the left of the primary, and one below it, lower.
    world.setMonitors({
        MonitorInfo{0, {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, "\\\\.\\DISPLAY1"},
        MonitorInfo{0, {-1280, 0, 0, 1024}, {-1280, 0, 0, 1024}, false, "\\\\.\\DISPLAY2"},
        MonitorInfo{0, {0, 1080, 1024, 1848}, {0, 1080, 1024, 1848}, false, "\\\\.\\DISPLAY3"},
    });
    world.setTwipsPerPixel(12, 12);
    auto& p = world.createProcess();
    auto& d = p.display();
    std::vector<HMonitor> order;
    ASSERT_TRUE(d.enumDisplayMonitors(
        [](HMonitor m, const Rect&, void* data) {
            static_cast<std::vector<HMonitor>*>(data)->push_back(m);
            return true;
        },
        &order));
    ASSERT_EQ(order.size(), 3u);
    EXPECT_NE(order[0], order[1]);
    MonitorInfo info;
    ASSERT_TRUE(d.monitorInfo(order[1], info));
    EXPECT_EQ(info.device, "\\\\.\\DISPLAY2");

    using namespace monitor_flags;
    EXPECT_EQ(d.monitorFromPoint({-10, 500}, kDefaultToNull), order[1]);
    EXPECT_EQ(d.monitorFromPoint({5000, 100}, kDefaultToNull), 0u);

    // A window across two monitors belongs to the one with more of it.
    WindowSpec spec;
    spec.rect = {-300, 100, 100, 400};
    const Hwnd w = p.windows().createWindow(spec, nullptr);
    EXPECT_EQ(d.monitorFromWindow(w, kDefaultToNull), order[1]);
    p.windows().setWindowPos(w, 0, {-100, 100, 0, 0}, swp::kNoSize);
    EXPECT_EQ(d.monitorFromWindow(w, kDefaultToNull), order[0]);
    EXPECT_EQ(d.monitorFromWindow(0x1234, kDefaultToPrimary), order[0]);
    EXPECT_EQ(d.monitorFromWindow(0x1234, kDefaultToNull), 0u);

    EXPECT_EQ(
        std::tuple(d.systemMetrics(sm::kCMonitors), d.systemMetrics(sm::kCxScreen),
                   d.systemMetrics(sm::kXVirtualScreen), d.systemMetrics(sm::kCxVirtualScreen),
                   d.systemMetrics(sm::kCyVirtualScreen), d.twipsPerPixelX()),
        std::tuple(3, 1920, -1280, 3200, 1848, 12));
}

TEST(SimProcessPorts, RegisteredLibrariesLoadByFileNameAndServeTheirExports) {
    World world;
    world.registerLibrary(
        SimLibrary{"OrvaneEx.dll", {{"Answer", reinterpret_cast<void*>(+[] { return 42; })}}});
    auto& p = world.createProcess();
    auto lib = p.libraries().load("C:\\Program Files\\Kelvora\\Quilo\\orvaneex.DLL");
    ASSERT_NE(lib, nullptr);
    auto fn = reinterpret_cast<int (*)()>(lib->symbol("Answer"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(), 42);
    EXPECT_EQ(lib->symbol("answer"), nullptr) << "export names are exact";
    EXPECT_NE(p.libraries().load("OrvaneEx"), nullptr) << "the extension may be left out";
    EXPECT_EQ(world.live().handles, 1u);
    lib.reset();
    EXPECT_EQ(world.live().handles, 0u);
}

}  // namespace
}  // namespace quilo::sim::test
