// A global memory port for unit tests that need no simulated world: blocks are plain byte
// vectors; allocations and locks can be made to fail; live blocks and locks are counted.
#pragma once

#include <map>
#include <vector>

#include "platform/global_memory.h"

namespace quilo::test {

class FakeMemory : public platform::GlobalMemory {
  public:
    platform::HGlobal alloc(std::uint32_t, std::size_t bytes) override {
        if (failAllocs > 0) {
            --failAllocs;
            return 0;
        }
        const platform::HGlobal h = next_++;
        blocks_[h] = Block{std::vector<std::byte>(bytes), 0};
        return h;
    }
    void* lock(platform::HGlobal h) override {
        auto it = blocks_.find(h);
        if (it == blocks_.end()) return nullptr;
        if (failLocks > 0) {
            --failLocks;
            return nullptr;
        }
        ++it->second.locks;
        // A zero-byte block still has an address.
        return it->second.bytes.empty() ? static_cast<void*>(&it->second) : it->second.bytes.data();
    }
    bool unlock(platform::HGlobal h) override {
        auto it = blocks_.find(h);
        if (it == blocks_.end() || it->second.locks == 0) return false;
        return --it->second.locks > 0;
    }
    bool free(platform::HGlobal h) override { return blocks_.erase(h) == 1; }
    std::size_t size(platform::HGlobal h) override {
        auto it = blocks_.find(h);
        return it == blocks_.end() ? 0 : it->second.bytes.size();
    }

    std::size_t liveBlocks() const { return blocks_.size(); }
    int locks(platform::HGlobal h) const {
        auto it = blocks_.find(h);
        return it == blocks_.end() ? -1 : it->second.locks;
    }
    std::vector<std::byte>& bytes(platform::HGlobal h) { return blocks_.at(h).bytes; }

    int failAllocs = 0;  // the next n allocations fail
    int failLocks = 0;   // the next n locks fail

  private:
    struct Block {
        std::vector<std::byte> bytes;
        int locks = 0;
    };
    std::map<platform::HGlobal, Block> blocks_;
    platform::HGlobal next_ = 0x1000;
};

inline std::vector<std::byte> bytesOf(std::string_view s) {
    std::vector<std::byte> v(s.size());
    for (std::size_t i = 0; i < s.size(); ++i)
        v[i] = static_cast<std::byte>(s[i]);
    return v;
}

inline std::vector<std::byte> le32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {std::byte(u & 0xFF), std::byte((u >> 8) & 0xFF), std::byte((u >> 16) & 0xFF),
            std::byte(u >> 24)};
}

}  // namespace quilo::test
