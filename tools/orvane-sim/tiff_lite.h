// The simulated scanner's own small TIFF code: it writes the grey pictures it hands out
// (uncompressed, one strip) and reads the uncompressed grey plates of its feed folder. It is
// deliberately separate from the plug-in's imaging code, so that a fault there cannot hide
// behind the same fault here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quilo::orvanesim {

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> pixels;  // row by row, top first
};

// An uncompressed little-endian grey TIFF (8 or 16 bits per sample, min-is-black) with the
// resolution given in pixels per centimetre (0: no resolution tags).
std::vector<std::byte> writeGreyTiff(int width, int height, int bitsPerSample,
                                     std::span<const std::uint16_t> pixels, double pixelsPerCm);

// Reads the first page of an uncompressed grey TIFF of 8 or 16 bits per sample (either byte
// order, strips, min-is-black or min-is-white: white-is-zero pictures are turned round).
// Nothing for any other kind of file. 8-bit samples are widened to 16 bits (v * 257).
std::optional<GreyImage> readGreyTiff(std::span<const std::byte> file);

}  // namespace quilo::orvanesim
