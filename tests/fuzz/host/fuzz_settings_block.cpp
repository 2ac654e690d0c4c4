// Received settings blocks of any content and any claimed size: the readers never read past
// the data received, never give more than 1024 bytes of text, and a block they built
// themselves reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/xray_ifc.h"
#include "platform/sim/world.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quilo;
    if (size < 1) return 0;
    // One world for the whole run; every input frees what it allocates.
    static sim::World world;
    static sim::SimProcess& p = world.createProcess();
    auto& mem = p.memory();
    const std::uint8_t mode = data[0];
    const std::uint8_t* body = data + 1;
    const std::size_t n = size - 1;
    {
        // The block holds exactly the bytes received; the size passed in is what cbData said,
        // which the reader must not trust beyond the block.
        platform::GlobalBlock block = platform::GlobalBlock::allocate(mem, n ? n : 1);
        if (!block) std::abort();
        {
            platform::GlobalLock lock(mem, block.get());
            if (n) std::memcpy(lock.data(), body, n);
        }
        std::uint32_t claimed = static_cast<std::uint32_t>(n);
        if (mode & 1) claimed = static_cast<std::uint32_t>(n + (mode >> 1) * 97);
        if (mode & 2) claimed = static_cast<std::uint32_t>(n / 2);
        auto header = host::ReadSettingsHeader(mem, claimed, block.get());
        auto text = host::ReadSettingsText(mem, claimed, block.get());
        if (text && !header) std::abort();
        if (text && text->size() > 3 * 1024) std::abort();  // at most 1024 ANSI bytes as UTF-8
        if (header && std::min<std::size_t>(claimed, n) < 12) std::abort();
    }
    {
        // Round trip of printable ASCII texts that fit.
        std::string s;
        for (std::size_t i = 0; i < n && s.size() < 1023; ++i)
            if (body[i] >= 0x20 && body[i] < 0x7F) s += static_cast<char>(body[i]);
        auto made = host::MakeSettingsBlock(mem, s);
        if (!made) std::abort();
        auto back = host::ReadSettingsText(mem, made->size, made->block.get());
        if (!back || *back != s) std::abort();
    }
    if (world.live().memoryBlocks != 0) std::abort();
    return 0;
}
