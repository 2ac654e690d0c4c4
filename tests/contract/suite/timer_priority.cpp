// Timer contract beyond the window tests: WM_TIMER is the least urgent message, and a timer
// that fell due several times while the program was busy fires once.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

using platform::MsgId;
namespace wm = platform::wm;

constexpr MsgId kFirst = wm::kUser + 41;
constexpr MsgId kSecond = wm::kUser + 42;

TEST(TimerPriority, ADueTimerWaitsForPostedMessagesAndFiresOnceWhenLate) {
    auto& env = contractEnv();
    auto& ws = env.platform().windows();
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
