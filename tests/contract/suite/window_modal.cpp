// Window-system contract: modal loops, "process pending events once" and quitting.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

using WindowModal = WindowContract;

constexpr MsgId kOne = wm::kUser + 31;
constexpr MsgId kTwo = wm::kUser + 32;
constexpr MsgId kThree = wm::kUser + 33;

TEST_F(WindowModal, ModalLoopEndsRightAfterTheMessageThatMadeItDone) {
    RecordingWindow w(ws);
    bool done = false;
    w.react([&](auto, MsgId msg, auto, auto) -> std::optional<platform::LResult> {
        if (msg == kTwo) done = true;
        return std::nullopt;
    });
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kOne, 0, 0));
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kTwo, 0, 0));
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kThree, 0, 0));

    EXPECT_TRUE(ws.runModalLoop([&] { return done; }));
    EXPECT_EQ(w.order({kOne, kTwo, kThree}), (std::vector<MsgId>{kOne, kTwo}));

    EXPECT_TRUE(ws.pumpPending());
    EXPECT_EQ(w.order({kOne, kTwo, kThree}), (std::vector<MsgId>{kOne, kTwo, kThree}));
}

TEST_F(WindowModal, TimersRunInsideAModalLoop) {
    RecordingWindow w(ws);
    ASSERT_TRUE(ws.setTimer(w.hwnd(), 5, 20));
    EXPECT_TRUE(ws.runModalLoop([&] { return w.count(wm::kTimer, 5) >= 3; }));
    EXPECT_EQ(w.count(wm::kTimer, 5), 3u);
    EXPECT_TRUE(ws.killTimer(w.hwnd(), 5));
}

TEST_F(WindowModal, ModalLoopsNestAndTheOuterGoesOnAfterTheInnerEnds) {
    RecordingWindow w(ws);
    std::vector<std::string> events;
    bool innerDone = false, outerDone = false;
    w.react([&](platform::Hwnd h, MsgId msg, auto, auto) -> std::optional<platform::LResult> {
        if (msg == kOne) {
            events.push_back("one: inner loop starts");
            ws.postMessage(h, kTwo, 0, 0);
            EXPECT_TRUE(ws.runModalLoop([&] { return innerDone; }));
            events.push_back("one: inner loop ended");
            ws.postMessage(h, kThree, 0, 0);
        } else if (msg == kTwo) {
            events.push_back("two");
            innerDone = true;
        } else if (msg == kThree) {
            events.push_back("three");
            outerDone = true;
        }
        return std::nullopt;
    });
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kOne, 0, 0));
    EXPECT_TRUE(ws.runModalLoop([&] { return outerDone; }));
    EXPECT_EQ(events, (std::vector<std::string>{"one: inner loop starts", "two",
                                                "one: inner loop ended", "three"}));
}

TEST_F(WindowModal, QuitEndsAModalLoopAndReachesTheOuterMessageLoop) {
    RecordingWindow w(ws);
    w.react([&](auto, MsgId msg, auto, auto) -> std::optional<platform::LResult> {
        if (msg == kOne) ws.postQuitMessage(5);
        return std::nullopt;
    });
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kOne, 0, 0));
    EXPECT_FALSE(ws.runModalLoop([] { return false; }));
    EXPECT_EQ(ws.runMessageLoop(), 5);
}

TEST_F(WindowModal, PumpPendingDispatchesWhatIsQueuedAndPassesQuitOn) {
    RecordingWindow w(ws);
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kOne, 0, 0));
    ASSERT_TRUE(ws.postMessage(w.hwnd(), kTwo, 0, 0));
    EXPECT_TRUE(ws.pumpPending());
    EXPECT_EQ(w.order({kOne, kTwo}), (std::vector<MsgId>{kOne, kTwo}));
    EXPECT_TRUE(ws.pumpPending()) << "nothing queued is no reason to stop";

    ws.postQuitMessage(9);
    EXPECT_FALSE(ws.pumpPending());
    EXPECT_EQ(ws.runMessageLoop(), 9);
}

}  // namespace
}  // namespace quilo::contract
