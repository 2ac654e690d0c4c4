// Global memory blocks over GlobalAlloc and its kin.
#include "platform/win32/win32_internal.h"

namespace quilo::platform::win32 {

namespace {

HGLOBAL toHglobal(HGlobal h) {
    return reinterpret_cast<HGLOBAL>(h);
}

class Win32Memory final : public GlobalMemory {
  public:
    HGlobal alloc(std::uint32_t flags, std::size_t bytes) override {
        return reinterpret_cast<HGlobal>(::GlobalAlloc(flags, bytes));
    }
    void* lock(HGlobal block) override { return ::GlobalLock(toHglobal(block)); }
    bool unlock(HGlobal block) override { return ::GlobalUnlock(toHglobal(block)) != FALSE; }
    bool free(HGlobal block) override { return ::GlobalFree(toHglobal(block)) == nullptr; }
    std::size_t size(HGlobal block) override { return ::GlobalSize(toHglobal(block)); }
};

}  // namespace

std::unique_ptr<GlobalMemory> makeMemory() {
    return std::make_unique<Win32Memory>();
}

}  // namespace quilo::platform::win32
