// Window-system contract: timers; WM_TIMER is the least urgent message, and a timer that fell
// due several times while the program was busy fires once.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

using TimerPriority = WindowContract;
using WindowTimers = WindowContract;

TEST_F(WindowTimers, TimerFiresRepeatedlyWithItsIdUntilKilled) {
    RecordingWindow w(ws);
    ASSERT_TRUE(ws.setTimer(w.hwnd(), 7, 50));
    env.pumpFor(280);
    const auto ticks = w.count(wm::kTimer, 7);
    EXPECT_GE(ticks, 2u) << "a repeating timer fired at most once";
    EXPECT_LE(ticks, 5u) << "a 50 ms timer fired more often than every 50 ms";
    EXPECT_EQ(w.count(wm::kTimer), ticks) << "only timer 7 exists";
    for (const auto& m : w.seen({wm::kTimer}))
        EXPECT_EQ(m.hwnd, w.hwnd());

    ASSERT_TRUE(ws.killTimer(w.hwnd(), 7));
    env.pumpFor(150);
    EXPECT_EQ(w.count(wm::kTimer, 7), ticks) << "a killed timer fired";
    EXPECT_FALSE(ws.killTimer(w.hwnd(), 7)) << "the timer was already gone";
}

TEST_F(WindowTimers, TimersOfOneWindowAreIndependentAndResettingReplaces) {
    RecordingWindow w(ws);
    ASSERT_TRUE(ws.setTimer(w.hwnd(), 1, 30));
    ASSERT_TRUE(ws.setTimer(w.hwnd(), 2, 400));
    ASSERT_TRUE(ws.setTimer(w.hwnd(), 2, 100));  // the same id again: the new period counts
    env.pumpFor(330);
    const auto fast = w.count(wm::kTimer, 1);
    const auto slow = w.count(wm::kTimer, 2);
    EXPECT_GE(slow, 1u);
    EXPECT_LE(slow, 3u);
    EXPECT_GT(fast, slow);
    EXPECT_LE(fast, 11u);
    ws.killTimer(w.hwnd(), 1);
    ws.killTimer(w.hwnd(), 2);
}

TEST_F(WindowTimers, TimersDieWithTheirWindow) {
    platform::Hwnd gone = 0;
    {
        RecordingWindow w(ws);
        gone = w.hwnd();
        ASSERT_TRUE(ws.setTimer(gone, 3, 10));
    }
    env.pumpFor(50);
    EXPECT_FALSE(ws.killTimer(gone, 3));
    EXPECT_FALSE(ws.setTimer(gone, 3, 10));
}

constexpr MsgId kFirst = wm::kUser + 41;
constexpr MsgId kSecond = wm::kUser + 42;

TEST_F(TimerPriority, ADueTimerWaitsForPostedMessagesAndFiresOnceWhenLate) {
    RecordingWindow w(ws);
    // A period long enough that the pump below never lasts one, even on a loaded machine.
    ASSERT_TRUE(ws.setTimer(w.hwnd(), 4, 200));
    env.busyFor(850);  // the timer falls due four times meanwhile
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kFirst, 0, 0));
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kSecond, 0, 0));
    EXPECT_TRUE(ws.pumpPending());
    EXPECT_EQ(w.order({wm::kTimer, kFirst, kSecond}),
              (std::vector<MsgId>{kFirst, kSecond, wm::kTimer}));
    EXPECT_EQ(w.count(wm::kTimer, 4), 1u) << "a late timer fires once, not once per period";
    EXPECT_TRUE(ws.killTimer(w.hwnd(), 4));
}

}  // namespace
}  // namespace quilo::contract
