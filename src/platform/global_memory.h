// Port: Windows global memory blocks (GlobalAlloc and friends), with RAII owners.
#pragma once

#include <cstddef>
#include <span>
#include <utility>

#include "platform/types.h"

namespace quilo::platform {

namespace gmem {
inline constexpr std::uint32_t kMoveable = 0x0002;
inline constexpr std::uint32_t kZeroInit = 0x0040;
inline constexpr std::uint32_t kMoveableZeroed = kMoveable | kZeroInit;  // 0x42
}  // namespace gmem

class GlobalMemory {
  public:
    virtual ~GlobalMemory() = default;
    // GlobalAlloc: 0 on failure.
    virtual HGlobal alloc(std::uint32_t flags, std::size_t bytes) = 0;
    // GlobalLock: null on failure. Locks nest; each lock needs its unlock.
    virtual void* lock(HGlobal block) = 0;
    // GlobalUnlock: true while the block is still locked.
    virtual bool unlock(HGlobal block) = 0;
    // GlobalFree: true on success.
    virtual bool free(HGlobal block) = 0;
    // GlobalSize: 0 for an invalid handle. May exceed the size asked for on Windows.
    virtual std::size_t size(HGlobal block) = 0;
};

// Owns a global memory block and frees it when it goes out of scope, unless released.
class GlobalBlock {
  public:
    GlobalBlock() = default;
    GlobalBlock(GlobalMemory& mem, HGlobal block) : mem_(&mem), block_(block) {}
    static GlobalBlock allocate(GlobalMemory& mem, std::size_t bytes,
                                std::uint32_t flags = gmem::kMoveableZeroed) {
        return GlobalBlock(mem, mem.alloc(flags, bytes));
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    GlobalBlock(GlobalBlock&& o) noexcept
        : mem_(o.mem_), block_(std::exchange(o.block_, HGlobal{0})) {}
    GlobalBlock& operator=(GlobalBlock&& o) noexcept {
        if (this != &o) {
            reset();
            mem_ = o.mem_;
            block_ = std::exchange(o.block_, HGlobal{0});
        }
        return *this;
    }
    ~GlobalBlock() { reset(); }

    explicit operator bool() const { return block_ != 0; }
    HGlobal get() const { return block_; }
    GlobalMemory* memory() const { return mem_; }
    std::size_t size() const { return block_ ? mem_->size(block_) : 0; }
    // Gives up ownership: the caller (or the receiver) frees the block.
    HGlobal release() { return std::exchange(block_, HGlobal{0}); }
    void reset() {
        if (block_ && mem_) mem_->free(block_);
        block_ = 0;
    }

  private:
    GlobalMemory* mem_ = nullptr;
    HGlobal block_ = 0;
};

// Keeps a block locked for a scope.
class GlobalLock {
  public:
    GlobalLock(GlobalMemory& mem, HGlobal block)
        : mem_(&mem), block_(block), ptr_(block ? mem.lock(block) : nullptr) {}
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;
    ~GlobalLock() {
        if (ptr_) mem_->unlock(block_);
    }
    explicit operator bool() const { return ptr_ != nullptr; }
    std::byte* data() const { return static_cast<std::byte*>(ptr_); }
    std::span<std::byte> bytes() const {
        return ptr_ ? std::span<std::byte>(data(), mem_->size(block_)) : std::span<std::byte>();
    }

  private:
    GlobalMemory* mem_;
    HGlobal block_;
    void* ptr_;
};

}  // namespace quilo::platform
