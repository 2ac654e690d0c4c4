// Windows, messages and processes of the simulated world: what the contract suite cannot
// see from one process (handle values, ordering across processes, destruction, process end).
#include <gtest/gtest.h>

#include "sim_test.h"

namespace quilo::sim::test {
namespace {

using SimWindows = OneProcess;

TEST_F(SimWindows, HandlesLookRealAndAreNeverReused) {
    std::vector<Hwnd> seen;
    for (int i = 0; i < 50; ++i) {
        const Hwnd h = topWindow(p, nullptr);
        ASSERT_NE(h, 0u);
        // Even, positive as a 32-bit number, through a record and back unchanged, never seen.
        EXPECT_EQ(std::tuple(h % 2, h < 0x7FFFFFFFu, handleFromRecord(handleToRecord(h)),
                             std::count(seen.begin(), seen.end(), h)),
                  std::tuple(0u, true, h, 0));
        seen.push_back(h);
        ASSERT_TRUE(p.windows().destroyWindow(h));
    }
}

TEST_F(SimWindows, BroadcastsReachTopLevelWindowsOfEveryProcessInCreationOrder) {
    auto& host = p;
    auto& plugin = world.createProcess();
    std::vector<SeenMessage> log;
    RecordingWindow a(host.windows(), {}, &log), b(plugin.windows(), {}, &log),
        c(host.windows(), {}, &log);
    WindowSpec spec;
    spec.parent = a.hwnd();
    RecordingWindow child(host.windows(), spec, &log);
    const MsgId ifc = plugin.windows().registerWindowMessage("Kelvora2XrayInterface0");
    log.clear();

    // Notify-broadcast from the host: its own windows synchronously, the plug-in's queued.
    ASSERT_TRUE(host.windows().sendNotifyMessage(kHwndBroadcast, ifc, 1, 0));
    EXPECT_EQ(hwnds(log), (std::vector<Hwnd>{a.hwnd(), c.hwnd()}));
    world.runUntilIdle();
    EXPECT_EQ(hwnds(log), (std::vector<Hwnd>{a.hwnd(), c.hwnd(), b.hwnd()}));

    // A posted broadcast queues for all three, in creation order; the child is left out.
    log.clear();
    ASSERT_TRUE(plugin.windows().postMessage(kHwndBroadcast, ifc, 2, 0));
    EXPECT_TRUE(log.empty());
    world.runUntilIdle();
    EXPECT_EQ(hwnds(log), (std::vector<Hwnd>{a.hwnd(), b.hwnd(), c.hwnd()}));
}

TEST_F(SimWindows, CopyDataWithoutItsBytesOrPostedIsRefused) {
    auto& plugin = world.createProcess();
    RecordingWindow target(plugin.windows());
    // A descriptor announcing bytes it does not point to never reaches the receiver.
    CopyData broken{21, 10, nullptr};
    EXPECT_EQ(
        p.windows().sendMessage(target.hwnd(), wm::kCopyData, 0, reinterpret_cast<LParam>(&broken)),
        0);
    EXPECT_EQ(p.windows().lastError(), err::kInvalidParameter);
    // Posting it is refused, as Windows refuses to post pointers.
    char payload[] = "status 64";
    CopyData cd{21, sizeof payload, payload};
    EXPECT_FALSE(
        p.windows().postMessage(target.hwnd(), wm::kCopyData, 0, reinterpret_cast<LParam>(&cd)));
    EXPECT_EQ(p.windows().lastError(), 1159u);
    world.runUntilIdle();
    EXPECT_EQ(target.count(wm::kCopyData), 0u);
}

TEST_F(SimWindows, DestroyingAWindowTellsItThenItsChildrenAndStopsItsTimers) {
    auto& other = world.createProcess();
    std::vector<SeenMessage> log;
    RecordingWindow top(p.windows(), {}, &log);
    WindowSpec spec;
    spec.parent = top.hwnd();
    RecordingWindow kid(p.windows(), spec, &log);
    WindowSpec ownedSpec;
    ownedSpec.owner = top.hwnd();
    RecordingWindow owned(p.windows(), ownedSpec, &log);
    ASSERT_TRUE(p.windows().setTimer(top.hwnd(), 1, 100));
    ASSERT_TRUE(p.windows().setTimer(kid.hwnd(), 2, 100));
    p.windows().postMessage(kid.hwnd(), wm::kUser, 0, 0);
    EXPECT_FALSE(other.windows().destroyWindow(top.hwnd())) << "only the owning process may";
    log.clear();
    ASSERT_TRUE(p.windows().destroyWindow(top.hwnd()));
    std::vector<Hwnd> destroyed;
    for (auto& s : log)
        if (s.msg == wm::kDestroy) destroyed.push_back(s.hwnd);
    EXPECT_EQ(std::tuple(destroyed, world.live().windows, world.live().timers),
              std::tuple(std::vector<Hwnd>{owned.hwnd(), top.hwnd(), kid.hwnd()}, 0u, 0u));
    log.clear();
    world.advance(500);
    EXPECT_TRUE(log.empty()) << "no timer and no queued message outlives its window";
}

TEST_F(SimWindows, SubclassRefsAreStablePerProcedureAndTheDefaultHasOne) {
    RecordingWindow hook(p.windows());
    const Hwnd h1 = topWindow(p, nullptr), h2 = topWindow(p, nullptr);
    const WndProcRef r1 = p.windows().subclassWindow(h1, &hook);
    EXPECT_NE(r1, 0u);
    EXPECT_EQ(p.windows().subclassWindow(h2, &hook), r1) << "one reference per procedure";
    // The default procedure's reference does default processing: WM_CLOSE destroys.
    p.windows().callWindowProc(r1, h1, wm::kClose, 0, 0);
    EXPECT_FALSE(p.windows().isWindow(h1));
    EXPECT_EQ(p.windows().callWindowProc(0x1234, h2, wm::kUser, 0, 0), 0);
    EXPECT_EQ(p.windows().lastError(), err::kInvalidParameter);
}

TEST_F(SimWindows, ChildrenArePlacedInTheirParentAndHiddenWithIt) {
    auto& ws = p.windows();
    WindowSpec spec;
    spec.rect = {100, 50, 500, 350};
    const Hwnd top = ws.createWindow(spec, nullptr);
    WindowSpec kidSpec;
    kidSpec.parent = top;
    kidSpec.rect = {10, 20, 110, 70};
    kidSpec.visible = true;
    const Hwnd kid = ws.createWindow(kidSpec, nullptr);
    EXPECT_EQ(ws.windowRect(kid), (Rect{110, 70, 210, 120}));
    EXPECT_FALSE(ws.isVisible(kid)) << "a hidden parent hides its children";
    ws.showWindow(top, true);
    EXPECT_TRUE(ws.isVisible(kid));
    ASSERT_TRUE(ws.setWindowPos(top, 0, {5, 6, 0, 0}, swp::kNoSize | swp::kHideWindow));
    EXPECT_FALSE(ws.isVisible(top));
    EXPECT_EQ(ws.setParent(top, kid), 0u) << "a window cannot go below its own child";
    EXPECT_EQ(ws.setParent(kid, 0), top);
    EXPECT_EQ(ws.windowRect(kid), (Rect{10, 20, 110, 70}));
}

TEST_F(SimWindows, EndingAProcessRemovesItsWindowsWithoutCallingThem) {
    auto& plugin = world.createProcess();
    const Hwnd hostWnd = topWindow(p, nullptr);
    Hwnd w = 0;
    {
        RecordingWindow pluginWin(plugin.windows());
        w = pluginWin.hwnd();
        plugin.windows().setTimer(w, 1, 20);
        p.windows().postMessage(w, wm::kUser, 0, 0);
        pluginWin.log().clear();
        world.endProcess(plugin);  // its handler object may be gone after this
        EXPECT_TRUE(pluginWin.log().empty());
        EXPECT_FALSE(p.windows().isWindow(w));
    }
    world.advance(100);
    EXPECT_EQ(std::tuple(world.live().windows, world.live().timers, p.windows().isWindow(hostWnd)),
              std::tuple(1u, 0u, true));
    EXPECT_EQ(topWindow(plugin, nullptr), 0u) << "an ended process creates nothing more";
}

}  // namespace
}  // namespace quilo::sim::test
