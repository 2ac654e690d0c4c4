// Global memory contract: moveable blocks, zero filling, nested locks and freeing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "contract_env.h"

namespace quilo::contract {
namespace {

using namespace platform;

TEST(MemoryBlocks, ZeroFilledBlockHasAtLeastItsSizeAndKeepsWhatIsWritten) {
    auto& mem = contractEnv().platform().memory();
    GlobalBlock block = GlobalBlock::allocate(mem, 1000);
    ASSERT_TRUE(block);
    EXPECT_GE(block.size(), 1000u);
    {
        GlobalLock lock(mem, block.get());
        ASSERT_TRUE(lock);
        const auto bytes = lock.bytes();
        ASSERT_GE(bytes.size(), 1000u);
        EXPECT_EQ(std::count(bytes.begin(), bytes.begin() + 1000, std::byte{0}), 1000)
            << "a zero-filled block";
        std::memcpy(lock.data(), "image", 5);
    }
    GlobalLock again(mem, block.get());
    ASSERT_TRUE(again);
    EXPECT_EQ(std::memcmp(again.data(), "image", 5), 0) << "a block keeps its contents unlocked";
}

TEST(MemoryBlocks, LocksNestAndEachNeedsItsUnlock) {
    auto& mem = contractEnv().platform().memory();
    const HGlobal h = mem.alloc(gmem::kMoveableZeroed, 64);
    ASSERT_NE(h, 0u);
    void* first = mem.lock(h);
    void* second = mem.lock(h);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second) << "a locked block does not move";
    EXPECT_TRUE(mem.unlock(h)) << "still locked once";
    EXPECT_FALSE(mem.unlock(h)) << "the last unlock";
    EXPECT_FALSE(mem.unlock(h)) << "a block that is not locked";
    EXPECT_TRUE(mem.free(h));
}

TEST(MemoryBlocks, ALargeImageSizedBlockCanBeHad) {
    auto& mem = contractEnv().platform().memory();
    constexpr std::size_t kBytes = 3000u * 2500u * 2u;  // a large 16-bit plate image
    GlobalBlock block = GlobalBlock::allocate(mem, kBytes);
    ASSERT_TRUE(block);
    GlobalLock lock(mem, block.get());
    ASSERT_TRUE(lock);
    lock.data()[kBytes - 1] = std::byte{0x5A};
    EXPECT_EQ(lock.bytes()[kBytes - 1], std::byte{0x5A});
}

}  // namespace
}  // namespace quilo::contract
