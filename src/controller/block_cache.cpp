#include "controller/block_cache.h"

#include <algorithm>
#include <cstring>

namespace quilo::controller {

platform::HGlobal BlockCache::alloc(std::uint32_t flags, std::size_t bytes) {
    if (bytes < kMinBytes) {
        platform::HGlobal block = system_.alloc(flags, bytes);
        if (block == 0 && !kept_.empty()) {
            release();
            block = system_.alloc(flags, bytes);
        }
        return block;
    }
    const auto same =
        std::find_if(kept_.begin(), kept_.end(), [&](const Kept& k) { return k.bytes == bytes; });
    platform::HGlobal block = 0;
    if (same != kept_.end()) {
        block = same->block;
        kept_.erase(same);
        if ((flags & platform::gmem::kZeroInit) != 0) {
            platform::GlobalLock lock(system_, block);
            if (!lock) {
                system_.free(block);
                return 0;
            }
            std::memset(lock.data(), 0, bytes);
        }
    } else {
        release();
        block = system_.alloc(flags, bytes);
    }
    if (block == 0) return 0;
    handedOut_.push_back({block, bytes});
    return block;
}

bool BlockCache::free(platform::HGlobal block) {
    const auto ours = std::find_if(handedOut_.begin(), handedOut_.end(),
                                   [&](const Kept& k) { return k.block == block; });
    if (ours == handedOut_.end()) return system_.free(block);
    const Kept kept = *ours;
    handedOut_.erase(ours);
    if (kept_.size() == kMaxKept) {
        system_.free(kept_.front().block);
        kept_.erase(kept_.begin());
    }
    kept_.push_back(kept);
    return true;
}

void BlockCache::release() {
    for (const Kept& k : kept_)
        system_.free(k.block);
    kept_.clear();
}

}  // namespace quilo::controller
