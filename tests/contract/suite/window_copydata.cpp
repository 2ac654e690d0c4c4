// Window-system contract: WM_COPYDATA between processes and inside one, with copy semantics.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

using WindowCopyData = WindowContract;

TEST_F(WindowCopyData, RecordFromAnotherProcessArrivesWithItsCodeAndOurAnswerGoesBack) {
    RecordingWindow w(ws);
    w.answer(wm::kCopyData, 1234);
    Peer& peer = env.peer();
    // The sender names its window in wParam.
    const auto record = bytesOf(std::string("status\0record", 13));
    EXPECT_EQ(peer.sendCopyData(w.hwnd(), 17, record), 1234);
    EXPECT_EQ(copies(w.seen({wm::kCopyData})), (std::vector<Copy>{{peer.window(), 17, record}}));
}

TEST_F(WindowCopyData, PeerSeesOurBytesAsTheyWereAtTheCall) {
    Peer& peer = env.peer();
    RecordingWindow w(ws);
    peer.takeSeen(wm::kCopyData);
    peer.setCopyDataResult(77);
    std::vector<std::byte> buffer = bytesOf("first version of the record");
    EXPECT_EQ(sendCopy(peer.window(), w.hwnd(), 9, buffer), 77);
    std::fill(buffer.begin(), buffer.end(), std::byte{'x'});
    EXPECT_EQ(copies(peer.takeSeen(wm::kCopyData)),
              (std::vector<Copy>{{w.hwnd(), 9, bytesOf("first version of the record")}}));
    peer.setCopyDataResult(0);
    EXPECT_EQ(sendCopy(peer.window(), w.hwnd(), 9, buffer), 0);
}

TEST_F(WindowCopyData, LargeAndEmptyRecordsCrossIntact) {
    Peer& peer = env.peer();
    RecordingWindow w(ws);
    peer.takeSeen(wm::kCopyData);
    peer.setCopyDataResult(1);
    std::vector<std::byte> large(256 * 1024), empty;
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<std::byte>((i * 7 + i / 251) & 0xFF);
    EXPECT_EQ(sendCopy(peer.window(), w.hwnd(), 30, large), 1);
    EXPECT_EQ(sendCopy(peer.window(), w.hwnd(), 31, empty), 1);
    EXPECT_EQ(copies(peer.takeSeen(wm::kCopyData)),
              (std::vector<Copy>{{w.hwnd(), 30, large}, {w.hwnd(), 31, {}}}));
    // And the other way round: the peer's large record reaches us whole.
    w.answer(wm::kCopyData, 5);
    EXPECT_EQ(peer.sendCopyData(w.hwnd(), 32, large), 5);
    EXPECT_EQ(copies(w.seen({wm::kCopyData})), (std::vector<Copy>{{peer.window(), 32, large}}));
}

TEST_F(WindowCopyData, ReceiverInTheSameProcessGetsAPrivateCopy) {
    RecordingWindow w(ws);
    const void* seenAt = nullptr;
    w.react([&](auto, platform::MsgId msg, auto,
                platform::LParam lParam) -> std::optional<platform::LResult> {
        if (msg != wm::kCopyData) return std::nullopt;
        const auto& cd = platform::copyDataOf(lParam);
        seenAt = cd.lpData;
        // A careless receiver scribbles over what it was given.
        std::memset(cd.lpData, '#', cd.cbData);
        return static_cast<platform::LResult>(cd.cbData);
    });
    std::vector<std::byte> buffer = bytesOf("keep me");
    EXPECT_EQ(sendCopy(w.hwnd(), w.hwnd(), 4, buffer), 7);
    EXPECT_EQ(buffer, bytesOf("keep me"));
    EXPECT_NE(seenAt, static_cast<const void*>(buffer.data()));
    EXPECT_EQ(copies(w.seen({wm::kCopyData})),
              (std::vector<Copy>{{w.hwnd(), 4, bytesOf("keep me")}}));
}

}  // namespace
}  // namespace quilo::contract
