// The virtual clock: timers, scripted events, loops that wait, deadlocks and WM_QUIT.
#include <gtest/gtest.h>

#include <limits>

#include "sim_test.h"

namespace quilo::sim::test {
namespace {

using SimTimeInOneProcess = OneProcess;

TEST(SimTime, TimersAndEventsRunInVirtualTimeOrder) {
    World world(startingAt(5000));
    auto& p = world.createProcess();
    std::vector<std::string> order;
    RecordingWindow rec(p.windows());
    rec.react([&](Hwnd, MsgId m, WParam id, LParam) -> std::optional<LResult> {
        if (m == wm::kTimer)
            order.push_back("timer" + std::to_string(id) + "@" + std::to_string(world.nowMs()));
        return std::nullopt;
    });
    const Hwnd h = rec.hwnd();
    ASSERT_TRUE(p.windows().setTimer(h, 1, 30));
    ASSERT_TRUE(p.windows().setTimer(h, 2, 50));
    world.after(45, [&] { order.push_back("event@" + std::to_string(world.nowMs())); });
    world.at(5030, [&] { order.push_back("at@" + std::to_string(world.nowMs())); });
    EXPECT_EQ(p.clock().tickCount(), 5000u);
    world.advance(100);
    EXPECT_EQ(world.nowMs(), 5100u);
    // Scripted events due at the same moment as a timer run first.
    const std::vector<std::string> expected{"at@5030",     "timer1@5030", "event@5045",
                                            "timer2@5050", "timer1@5060", "timer1@5090",
                                            "timer2@5100"};
    EXPECT_EQ(order, expected);
}

TEST(SimTime, LocalTimeFollowsTheTickCountAcrossMidnight) {
    WorldOptions options = startingAt(1000);
    options.startTime = {2026, 12, 31, 23, 59, 59, 500};
    World world(options);
    auto& p = world.createProcess();
    world.advance(700);
    EXPECT_EQ(p.clock().localTime(), (LocalTime{2027, 1, 1, 0, 0, 0, 200}));
    world.advance(24u * 3600 * 1000);
    EXPECT_EQ(p.clock().localTime(), (LocalTime{2027, 1, 2, 0, 0, 0, 200}));
}

TEST_F(SimTimeInOneProcess, NothingRunsWhileBusyAndALateTimerKeepsItsGrid) {
    RecordingWindow rec(p.windows());
    // Raised to the system's minimum of 10 ms: due at 1010, 1020, ...
    ASSERT_TRUE(p.windows().setTimer(rec.hwnd(), 7, 5));
    world.advance(10);
    EXPECT_EQ(rec.count(wm::kTimer), 1u);
    // The program is busy for 45 ms: the timer, due four times meanwhile, fires once.
    world.spend(45);
    EXPECT_EQ(rec.count(wm::kTimer), 1u) << "nothing is dispatched while the program is busy";
    world.advance(0);
    EXPECT_EQ(rec.count(wm::kTimer), 2u);
    world.advance(4);  // 1059: nothing
    EXPECT_EQ(rec.count(wm::kTimer), 2u);
    world.advance(1);  // 1060: the next tick on its grid
    EXPECT_EQ(rec.count(wm::kTimer), 3u);
}

TEST_F(SimTimeInOneProcess, ModalLoopWaitsForScriptedEventsAndDetectsDeadlock) {
    RecordingWindow rec(p.windows());
    bool done = false;
    world.after(2500, [&] { done = true; });
    EXPECT_TRUE(p.windows().runModalLoop([&] { return done; }));
    EXPECT_EQ(world.nowMs(), 3500u);
    // Nothing queued, no timer, no event: waiting can never end.
    EXPECT_THROW(p.windows().runModalLoop([] { return false; }), Deadlock);
    EXPECT_THROW(p.windows().runMessageLoop(), Deadlock);
    // A timer keeps a loop waiting, but not beyond the world's limit (a day unless set).
    p.windows().setTimer(rec.hwnd(), 1, 60'000);
    EXPECT_THROW(p.windows().runModalLoop([] { return false; }), Deadlock);
    EXPECT_LE(world.nowMs(), 3500u + 24u * 3600 * 1000 + 60'000u);
}

TEST_F(SimTimeInOneProcess, PumpPendingDispatchesWhatHandlersPostAndDueTimersWithoutTime) {
    auto& ws = p.windows();
    RecordingWindow rec(ws);
    const Hwnd h = rec.hwnd();
    int chain = 0, chainLength = 5;
    rec.react([&](Hwnd, MsgId m, WParam, LParam) -> std::optional<LResult> {
        if (m == wm::kUser && ++chain < chainLength) ws.postMessage(h, wm::kUser, 0, 0);
        return std::nullopt;
    });
    ws.setTimer(h, 9, 10);
    world.spend(10);  // the timer is due, nothing has run
    const auto before = world.nowMs();
    ws.postMessage(h, wm::kUser, 0, 0);
    EXPECT_TRUE(ws.pumpPending());
    EXPECT_EQ(chain, 5) << "messages posted while pumping are pumped too";
    EXPECT_EQ(rec.count(wm::kTimer), 1u) << "a due timer is part of what is pending";
    EXPECT_EQ(world.nowMs(), before);
    EXPECT_TRUE(ws.pumpPending());
    EXPECT_EQ(rec.count(wm::kTimer), 1u) << "pumping lets no time pass";
    // A handler that always posts again is a storm, reported instead of hanging.
    chainLength = std::numeric_limits<int>::max();
    ws.postMessage(h, wm::kUser, 0, 0);
    EXPECT_THROW(ws.pumpPending(), Deadlock);
}

TEST(SimTime, ScriptedEventsKeepTheirOrderAndMayScheduleMore) {
    World world;
    std::vector<std::string> order;
    world.at(1500, [&] { order.push_back("a"); });
    world.at(1500, [&] {
        order.push_back("b");
        world.after(0, [&] { order.push_back("b+0"); });
        world.after(10, [&] { order.push_back("b+10@" + std::to_string(world.nowMs())); });
    });
    world.at(1500, [&] { order.push_back("c"); });
    world.advance(499);
    EXPECT_TRUE(order.empty());
    world.advance(1);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "b+0"}));
    world.at(0, [&] { order.push_back("past"); });  // a time gone by runs at the next chance
    world.runUntilIdle();
    world.advance(10);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "b+0", "past", "b+10@1510"}));
}

TEST(SimTime, AProcessMayEndFromInsideItsOwnTimer) {
    World world;
    auto& host = world.createProcess();
    auto& plugin = world.createProcess();
    RecordingWindow hostRec(host.windows()), pluginRec(plugin.windows());
    const Hwnd pluginWnd = pluginRec.hwnd();
    host.windows().setTimer(hostRec.hwnd(), 1, 100);
    plugin.windows().setTimer(pluginWnd, 1, 250);
    GlobalBlock kept = GlobalBlock::allocate(plugin.memory(), 64);
    pluginRec.react([&](Hwnd, MsgId m, WParam, LParam) -> std::optional<LResult> {
        if (m != wm::kTimer) return std::nullopt;
        kept.release();  // the ending process frees it
        world.endProcess(plugin);
        return 0;
    });
    world.advance(1000);
    EXPECT_EQ(pluginRec.count(wm::kTimer), 1u);
    EXPECT_EQ(hostRec.count(wm::kTimer), 10u) << "the other process goes on";
    EXPECT_FALSE(host.windows().isWindow(pluginWnd));
    EXPECT_EQ(world.live(), (LiveCounts{0, 0, 1, 1}));
}

}  // namespace
}  // namespace quilo::sim::test
