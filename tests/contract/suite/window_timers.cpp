// Window-system contract: timers.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

namespace wm = platform::wm;

TEST(WindowTimers, TimerFiresRepeatedlyWithItsIdUntilKilled) {
    auto& env = contractEnv();
    auto& ws = env.platform().windows();
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

TEST(WindowTimers, TimersOfOneWindowAreIndependentAndResettingReplaces) {
    auto& env = contractEnv();
    auto& ws = env.platform().windows();
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

TEST(WindowTimers, TimersDieWithTheirWindow) {
    auto& env = contractEnv();
    auto& ws = env.platform().windows();
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

}  // namespace
}  // namespace quilo::contract
