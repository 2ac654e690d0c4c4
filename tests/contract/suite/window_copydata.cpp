// Window-system contract: WM_COPYDATA between processes and inside one, with copy semantics.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

using WindowCopyData = WindowContract;

platform::LParam asLParam(platform::CopyData& cd) {
    return reinterpret_cast<platform::LParam>(&cd);
}

TEST_F(WindowCopyData, RecordFromAnotherProcessArrivesWithItsCodeAndOurAnswerGoesBack) {
    RecordingWindow w(ws);
    w.react([](auto, platform::MsgId msg, auto, auto) -> std::optional<platform::LResult> {
        if (msg == wm::kCopyData) return 1234;
        return std::nullopt;
    });
    Peer& peer = env.peer();

    const auto record = bytesOf(std::string("status\0record", 13));
    EXPECT_EQ(peer.sendCopyData(w.hwnd(), 17, record), 1234);

    const auto seen = w.seen({wm::kCopyData});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].copyCode, 17u);
    EXPECT_EQ(seen[0].copyData, record);
    EXPECT_EQ(seen[0].wParam, peer.window()) << "the sender names its window in wParam";
}

TEST_F(WindowCopyData, PeerSeesOurBytesAsTheyWereAtTheCall) {
    Peer& peer = env.peer();
    RecordingWindow w(ws);
    peer.takeSeen(wm::kCopyData);
    peer.setCopyDataResult(77);

    std::vector<std::byte> buffer = bytesOf("first version of the record");
    platform::CopyData cd{9, static_cast<std::uint32_t>(buffer.size()), buffer.data()};
    EXPECT_EQ(ws.sendMessage(peer.window(), wm::kCopyData, w.hwnd(), asLParam(cd)), 77);
    std::fill(buffer.begin(), buffer.end(), std::byte{'x'});

    const auto seen = peer.takeSeen(wm::kCopyData);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].copyCode, 9u);
    EXPECT_EQ(seen[0].wParam, w.hwnd());
    EXPECT_EQ(seen[0].copyData, bytesOf("first version of the record"));

    peer.setCopyDataResult(0);
    EXPECT_EQ(ws.sendMessage(peer.window(), wm::kCopyData, w.hwnd(), asLParam(cd)), 0);
}

TEST_F(WindowCopyData, LargeAndEmptyRecordsCrossIntact) {
    Peer& peer = env.peer();
    RecordingWindow w(ws);
    peer.takeSeen(wm::kCopyData);
    peer.setCopyDataResult(1);

    std::vector<std::byte> large(256 * 1024);
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<std::byte>((i * 7 + i / 251) & 0xFF);
    platform::CopyData big{30, static_cast<std::uint32_t>(large.size()), large.data()};
    EXPECT_EQ(ws.sendMessage(peer.window(), wm::kCopyData, w.hwnd(), asLParam(big)), 1);
    platform::CopyData empty{31, 0, nullptr};
    EXPECT_EQ(ws.sendMessage(peer.window(), wm::kCopyData, w.hwnd(), asLParam(empty)), 1);

    const auto seen = peer.takeSeen(wm::kCopyData);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].copyCode, 30u);
    EXPECT_TRUE(seen[0].copyData == large) << "the 256 KiB record changed on its way";
    EXPECT_EQ(seen[1].copyCode, 31u);
    EXPECT_TRUE(seen[1].copyData.empty());

    // And the other way round: the peer's large record reaches us whole.
    w.react([](auto, platform::MsgId msg, auto, auto) -> std::optional<platform::LResult> {
        if (msg == wm::kCopyData) return 5;
        return std::nullopt;
    });
    EXPECT_EQ(peer.sendCopyData(w.hwnd(), 32, large), 5);
    const auto mine = w.seen({wm::kCopyData});
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_TRUE(mine[0].copyData == large);
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
    platform::CopyData cd{4, static_cast<std::uint32_t>(buffer.size()), buffer.data()};
    EXPECT_EQ(ws.sendMessage(w.hwnd(), wm::kCopyData, w.hwnd(), asLParam(cd)), 7);
    EXPECT_EQ(buffer, bytesOf("keep me"));
    EXPECT_NE(seenAt, static_cast<const void*>(buffer.data()));
    const auto seen = w.seen({wm::kCopyData});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].copyData, bytesOf("keep me"));
    EXPECT_EQ(seen[0].copyCode, 4u);
}

}  // namespace
}  // namespace quilo::contract
