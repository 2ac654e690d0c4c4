// Window-system contract: sending, posting, notify messages and broadcasts.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

using WindowMessaging = WindowContract;

constexpr MsgId kA = wm::kUser + 1;
constexpr MsgId kB = wm::kUser + 2;
constexpr MsgId kC = wm::kUser + 3;

TEST_F(WindowMessaging, SendIsHandledAtOnceAndOvertakesEarlierPosts) {
    RecordingWindow w(ws);
    ASSERT_NE(w.hwnd(), 0u);
    w.react([](auto, MsgId msg, auto wParam, auto) -> std::optional<platform::LResult> {
        if (msg == kB) return static_cast<platform::LResult>(wParam * 2);
        return std::nullopt;
    });

    ASSERT_TRUE(ws.postMessage(w.hwnd(), kA, 1, 0));
    EXPECT_EQ(ws.sendMessage(w.hwnd(), kB, 21, 0), 42);
    EXPECT_EQ(w.order({kA, kB}), (std::vector<MsgId>{kB}));

    env.pumpFor(0);
    EXPECT_EQ(w.order({kA, kB}), (std::vector<MsgId>{kB, kA}));
}

TEST_F(WindowMessaging, PostsArriveInTheOrderTheyWereMade) {
    RecordingWindow first(ws), second(ws);
    for (platform::WParam i = 0; i < 6; ++i)
        ASSERT_TRUE(ws.postMessage(i % 2 ? second.hwnd() : first.hwnd(), kA, i, 0));
    env.pumpFor(0);
    const auto f = first.hwnd(), s = second.hwnd();
    EXPECT_EQ(params(first.seen({kA})), (std::vector<Params>{{f, 0, 0}, {f, 2, 0}, {f, 4, 0}}));
    EXPECT_EQ(params(second.seen({kA})), (std::vector<Params>{{s, 1, 0}, {s, 3, 0}, {s, 5, 0}}));
}

TEST_F(WindowMessaging, PostMadeInsideSendHandlerRunsAfterItReturns) {
    RecordingWindow w(ws);
    std::vector<std::string> events;
    w.react([&](platform::Hwnd h, MsgId msg, auto, auto) -> std::optional<platform::LResult> {
        if (msg == kB) {
            events.push_back("send begins");
            ws.postMessage(h, kC, 0, 0);
            events.push_back("send ends");
            return 7;
        }
        if (msg == kC) events.push_back("posted");
        return std::nullopt;
    });

    EXPECT_EQ(ws.sendMessage(w.hwnd(), kB, 0, 0), 7);
    events.push_back("send returned");
    env.pumpFor(0);
    EXPECT_EQ(events,
              (std::vector<std::string>{"send begins", "send ends", "send returned", "posted"}));
}

TEST_F(WindowMessaging, SendNotifyToOwnWindowIsSynchronous) {
    RecordingWindow w(ws);
    ASSERT_TRUE(ws.sendNotifyMessage(w.hwnd(), kA, 5, 6));
    EXPECT_EQ(params(w.seen({kA})), (std::vector<Params>{{w.hwnd(), 5, 6}}));
}

TEST_F(WindowMessaging, MessagesToAGoneWindowFail) {
    platform::Hwnd gone = 0;
    {
        RecordingWindow w(ws);
        gone = w.hwnd();
        ASSERT_TRUE(ws.isWindow(gone));
    }
    EXPECT_FALSE(ws.isWindow(gone));
    EXPECT_FALSE(ws.isWindow(0));
    EXPECT_FALSE(ws.postMessage(gone, kA, 0, 0));
    EXPECT_EQ(ws.lastError(), platform::err::kInvalidWindowHandle);
    EXPECT_EQ(ws.sendMessage(gone, kA, 0, 0), 0);
}

TEST_F(WindowMessaging, RegisteredMessagesAreSharedByNameIgnoringCase) {
    const MsgId ifc = ws.registerWindowMessage("Kelvora2XrayInterface0");
    EXPECT_GE(ifc, 0xC000u);
    EXPECT_LE(ifc, 0xFFFFu);
    EXPECT_EQ(ws.registerWindowMessage("Kelvora2XrayInterface0"), ifc);
    EXPECT_EQ(ws.registerWindowMessage("KELVORA2XRAYINTERFACE0"), ifc);
    EXPECT_NE(ws.registerWindowMessage("Kelvora2XrayInterface1"), ifc);
}

TEST_F(WindowMessaging, BroadcastReachesEveryTopLevelWindowOfBothProcesses) {
    const MsgId msg = ws.registerWindowMessage("QuiloContractBroadcast");
    Peer& peer = env.peer();
    peer.takeSeen(msg);  // forget what earlier tests left

    RecordingWindow one(ws), two(ws);
    platform::WindowSpec childSpec;
    childSpec.parent = one.hwnd();
    RecordingWindow child(ws, childSpec);
    ASSERT_NE(child.hwnd(), 0u);

    ASSERT_TRUE(ws.sendNotifyMessage(platform::kHwndBroadcast, msg, 11, 12));
    env.pumpFor(0);
    EXPECT_EQ(one.count(msg, 11), 1u);
    EXPECT_EQ(two.count(msg, 11), 1u);
    EXPECT_EQ(child.count(msg), 0u) << "a broadcast goes to top-level windows only";
    EXPECT_EQ(params(peer.takeSeen(msg)), (std::vector<Params>{{peer.window(), 11, 12}}));
    // A plain post to the other process arrives as well, once.
    ASSERT_TRUE(ws.postMessage(peer.window(), msg, 13, 0));
    EXPECT_EQ(params(peer.takeSeen(msg)), (std::vector<Params>{{peer.window(), 13, 0}}));
}

}  // namespace
}  // namespace quilo::contract
