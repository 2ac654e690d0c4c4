// Settings blocks and the command ring, on counted memory of the simulated world.
#include <gtest/gtest.h>

#include "host/xray_ifc.h"
#include "support/bytes.h"
#include "support/fixture.h"

namespace quilo::host {
namespace {

using test::bytesOf;
using test::cat;
using test::le16;
using test::le32;

using SettingsBlockTest = test::WorldTest;
using CommandFifoTest = test::WorldTest;

std::vector<std::byte> settingsBytes(std::int32_t total, std::int16_t stream, std::int32_t len,
                                     std::string_view text) {
    return cat({le32(total), le16(stream), le16(0), le32(len), bytesOf(text)});
}

TEST_F(SettingsBlockTest, MakeWritesHeaderTextAndNul) {
    auto block = MakeSettingsBlock(mem, "LAN=Deutsch;\xC3\xA9");  // é is one ANSI byte
    ASSERT_TRUE(block);
    const std::string ansi = "LAN=Deutsch;\xE9";
    // Handed back unlocked.
    EXPECT_EQ(std::tuple(block->size, mem.locks(block->block.get())),
              std::tuple(12 + ansi.size() + 1, 0));
    EXPECT_EQ(mem.get(block->block.get()),
              settingsBytes(static_cast<std::int32_t>(12 + ansi.size() + 1), 0,
                            static_cast<std::int32_t>(ansi.size() + 1), ansi + '\0'));
    EXPECT_EQ(ReadSettingsText(mem, block->size, block->block.get()),
              std::optional<std::string>("LAN=Deutsch;\xC3\xA9"));
    block.reset();
    EXPECT_EQ(mem.liveBlocks(), 0u);
}

TEST_F(SettingsBlockTest, MakeFailsCleanlyWhenMemoryFails) {
    mem.failAllocs = 1;
    EXPECT_FALSE(MakeSettingsBlock(mem, "x"));
    mem.failLocks = 1;
    EXPECT_FALSE(MakeSettingsBlock(mem, "x"));
    EXPECT_EQ(mem.liveBlocks(), 0u);  // the block that could not be locked was freed
}

TEST_F(SettingsBlockTest, TextLengthLimitIs1024) {
    const std::string text(1023, 'k');
    auto block = MakeSettingsBlock(mem, text);
    ASSERT_TRUE(block);
    auto header = ReadSettingsHeader(mem, block->size, block->block.get());
    ASSERT_TRUE(header);
    EXPECT_EQ(std::tuple(block->size, header->get(SettingsHeader::textLength),
                         header->get(SettingsHeader::totalSize),
                         ReadSettingsText(mem, block->size, block->block.get())),
              std::tuple(1036u, 1024, 1036, std::optional(text)));

    const auto negative = mem.put(settingsBytes(16, 0, -1, "abc"));
    EXPECT_EQ(ReadSettingsText(mem, 16, negative), std::nullopt);

    // 1024 bytes with no NUL anywhere are taken whole.
    const auto full = mem.put(settingsBytes(1036, 0, 1024, std::string(1024, 'z')));
    EXPECT_EQ(ReadSettingsText(mem, 1036, full), std::string(1024, 'z'));
}

TEST_F(SettingsBlockTest, ReadingStopsAtTheDataReceived) {
    // The header claims 200 text bytes; only 5 arrived, and the block is not larger.
    const auto h = mem.put(settingsBytes(212, 0, 200, "hello"));
    EXPECT_EQ(ReadSettingsText(mem, 17, h), std::optional<std::string>("hello"));
    // The size received counts even if the block is larger than what was received.
    EXPECT_EQ(ReadSettingsText(mem, 14, h), std::optional<std::string>("he"));
    // The text ends at its first NUL.
    const auto nul = mem.put(settingsBytes(20, 0, 8, std::string("ab\0cdefg", 8)));
    EXPECT_EQ(ReadSettingsText(mem, 20, nul), std::optional<std::string>("ab"));
}

TEST_F(SettingsBlockTest, LockFailures) {
    const auto h = mem.put(settingsBytes(16, 1, 4, "abc"));
    mem.failLocks = 1;
    EXPECT_FALSE(ReadSettingsHeader(mem, 16, h));
    mem.failLocks = 1;
    EXPECT_FALSE(ReadSettingsText(mem, 16, h));
    EXPECT_EQ(mem.locks(h), 0);
    EXPECT_FALSE(ReadSettingsHeader(mem, 16, 0));
}

TEST_F(CommandFifoTest, HoldsAtMost39AndGivesThemBackInOrder) {
    CommandFifo fifo(mem);
    CommandEntry e;
    e.code = 5;
    EXPECT_FALSE(fifo.FifoGet(e));
    EXPECT_EQ(e.code, -1);  // set before the ring is looked at

    // Several rounds so the indices wrap past slot 39.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 39; ++i)
            ASSERT_TRUE(fifo.FifoPut(100, i, le32(round * 100 + i)));
        EXPECT_FALSE(fifo.FifoPut(100, 99, le32(0)));
        EXPECT_EQ(fifo.count(), 39);
        for (int i = 0; i < 39; ++i) {
            ASSERT_TRUE(fifo.FifoGet(e));
            EXPECT_EQ(std::tuple(e.code, e.value(), e.sender),
                      std::tuple(i, round * 100 + i, 100u));
        }
        EXPECT_TRUE(fifo.empty());
        // Leave the indices somewhere new for the next round.
        for (int i = 0; i < round + 5; ++i) {
            ASSERT_TRUE(fifo.FifoPut(1, 1, {}));
            ASSERT_TRUE(fifo.FifoGet(e));
        }
    }
}

TEST_F(CommandFifoTest, SmallDataIsKeptInlineAndLargeDataAsALockedPrivateCopy) {
    CommandFifo fifo(mem);
    std::vector<std::byte> three = {std::byte{1}, std::byte{2}, std::byte{3}};
    ASSERT_TRUE(fifo.FifoPut(7, 22, three));
    EXPECT_EQ(mem.liveBlocks(), 0u);
    std::vector<std::byte> big(500, std::byte{0x5A});
    ASSERT_TRUE(fifo.FifoPut(7, 12, big));
    EXPECT_EQ(mem.liveBlocks(), 1u);
    big.assign(500, std::byte{0});  // the sender's data goes away after the call

    CommandEntry e;
    ASSERT_TRUE(fifo.FifoGet(e));
    EXPECT_EQ(std::tuple(e.size, e.value()), std::tuple(3u, 0x030201));
    ASSERT_TRUE(fifo.FifoGet(e));  // moving the next entry in frees nothing still queued
    ASSERT_NE(e.copy.handle(), 0u);
    EXPECT_EQ(std::tuple(e.size, mem.locks(e.copy.handle()), e.data().size(), e.data()[499]),
              std::tuple(500u, 1, 500u, std::byte{0x5A}));
    e = CommandEntry{};
    EXPECT_EQ(mem.liveBlocks(), 0u);
}

TEST_F(CommandFifoTest, NoCopyLeaksOnAnyPath) {
    {
        CommandFifo fifo(mem);
        const std::vector<std::byte> big(64, std::byte{1});
        mem.failAllocs = 1;
        EXPECT_FALSE(fifo.FifoPut(1, 12, big));
        mem.failLocks = 1;
        EXPECT_FALSE(fifo.FifoPut(1, 12, big));
        // A failed put queues nothing.
        EXPECT_EQ(std::tuple(mem.liveBlocks(), fifo.empty()), std::tuple(0u, true));

        for (int i = 0; i < 39; ++i)
            ASSERT_TRUE(fifo.FifoPut(1, 12, big));
        EXPECT_FALSE(fifo.FifoPut(1, 12, big));  // full: no copy made
        EXPECT_EQ(mem.liveBlocks(), 39u);
        CommandEntry e;
        ASSERT_TRUE(fifo.FifoGet(e));
        ASSERT_TRUE(fifo.FifoGet(e));  // the first copy is freed when e takes the second
        EXPECT_EQ(mem.liveBlocks(), 38u);
    }
    // Commands still queued when the ring goes are freed with it.
    EXPECT_EQ(mem.liveBlocks(), 0u);
}

}  // namespace
}  // namespace quilo::host
