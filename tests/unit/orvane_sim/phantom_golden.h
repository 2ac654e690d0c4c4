// A fingerprint of one phantom, shared by the native tests and the Windows DLL test: the same
// seed must give the same pixels on every build, or a plate fetched through the DLL would not
// match the one the simulated world shows.
#pragma once

#include <cstdint>
#include <vector>

namespace quilo::orvanesim::testing {

// FNV-1a over the pixels as little-endian 16-bit values.
inline std::uint64_t pixelHash(const std::vector<std::uint16_t>& pixels) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint16_t v : pixels) {
        for (int i = 0; i < 2; ++i) {
            h ^= static_cast<std::uint64_t>((v >> (8 * i)) & 0xFF);
            h *= 1099511628211ull;
        }
    }
    return h;
}

// Plate 1 with phantom seed 1 on an 80 x 60 intraoral set, as first made on the Linux build.
inline constexpr std::uint64_t kIntraoral80x60Plate1 = 0x471cfdbe7e49ab4full;

}  // namespace quilo::orvanesim::testing
