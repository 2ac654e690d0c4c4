// Global memory that keeps the large blocks a plate leaves behind for the next plate: the
// enhancement's TIFF block and the message block of the hand-over are as large as the plate's
// result (115 MB for a cephalometric plate), and having the system supply that many fresh pages
// costs several times more than writing them. The process owns one over the system's memory and
// lets go of what it keeps when capture stops, when an allocation finds none of its size (a
// plate of another kind), when the system has no memory left, and at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/global_memory.h"

namespace quilo::controller {

class BlockCache final : public platform::GlobalMemory {
  public:
    // Blocks from this size on are kept.
    static constexpr std::size_t kMinBytes = std::size_t{1} << 20;
    // At most this many: the TIFF block and the message block of one plate.
    static constexpr std::size_t kMaxKept = 2;

    explicit BlockCache(platform::GlobalMemory& system) : system_(system) {}
    ~BlockCache() override { release(); }
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;

    // A large block: a kept one of exactly the size asked for, if there is one (zeroed when
    // asked), otherwise a new one once the kept ones are given back. A small one is taken from
    // the system, again after giving the kept ones back when the system has no memory for it.
    platform::HGlobal alloc(std::uint32_t flags, std::size_t bytes) override;
    void* lock(platform::HGlobal block) override { return system_.lock(block); }
    bool unlock(platform::HGlobal block) override { return system_.unlock(block); }
    // A large block that came from here is kept (the oldest kept one goes when there are
    // kMaxKept already); every other block is freed.
    bool free(platform::HGlobal block) override;
    std::size_t size(platform::HGlobal block) override { return system_.size(block); }

    // Gives every kept block back to the system.
    void release();
    std::size_t keptBlocks() const { return kept_.size(); }

  private:
    struct Kept {
        platform::HGlobal block;
        std::size_t bytes;
    };
    platform::GlobalMemory& system_;
    std::vector<Kept> kept_;       // oldest first
    std::vector<Kept> handedOut_;  // large blocks of ours in use, with the size they were made
};

}  // namespace quilo::controller
