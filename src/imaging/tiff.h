// TIFF file images: our writer and reader.
//
// Writer: baseline little-endian, uncompressed, MinIsBlack, one sample per pixel, strips of about
// 64 KiB, BitsPerSample 8 or 16, resolution in pixels per centimetre from the pixel pitch.
// A 12-bit image is written as 16-bit samples holding 0..4095 with MaxSampleValue = 4095: every
// TIFF reader gets the exact values (libtiff included), nothing is scaled or packed, and our
// reader recognises the tag and gives back a 12-bit image. (Viewers that stretch by the sample
// size show such a file darker; the values are the true ones.)
//
// Reader: grey 8 or 16 bits, or 12 bits packed; uncompressed, PackBits or LZW (with or without
// horizontal predictor); MinIsBlack or MinIsWhite (inverted on reading); strips or tiles; either
// byte order; the first page only. Everything it reads is bounds-checked: a malformed file is
// rejected with a TiffError naming what is wrong and at which byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/image.h"
#include "imaging/workers.h"
#include "platform/files.h"
#include "platform/global_memory.h"

namespace quilo::imaging {

class TiffError : public std::runtime_error {
  public:
    TiffError(const std::string& what, std::uint64_t offset)
        : std::runtime_error("TIFF: " + what + " (at offset " + std::to_string(offset) + ")"),
          offset_(offset) {}
    std::uint64_t offset() const { return offset_; }

  private:
    std::uint64_t offset_;
};

// ---- writer ----
// The exact size in bytes of the TIFF file image writeTiff makes of this image.
std::size_t tiffFileSize(const Image& image);
// Writes the file image into out, which must hold exactly tiffFileSize(image) bytes. With
// workers the pixels are copied in pieces on its threads.
void writeTiff(const Image& image, std::span<std::byte> out, Workers* workers = nullptr);
// A new moveable global memory block holding the file image; an empty block when the memory
// cannot be had (allocation or lock fails).
platform::GlobalBlock writeTiffToGlobal(platform::GlobalMemory& memory, const Image& image,
                                        Workers* workers = nullptr);
// A new global memory block holding the TIFF file image of an image of the given shape whose
// pixels fill() produces straight into the block (fill gets an image over the block's pixel area
// and sets every pixel; the pitch it sets goes into the resolution tags). An empty block when
// the memory cannot be had; exceptions of fill free the block and pass on.
platform::GlobalBlock makeTiffInGlobal(platform::GlobalMemory& memory, std::uint32_t width,
                                       std::uint32_t height, int bitsPerPixel, double pitchX,
                                       double pitchY, const std::function<void(Image&)>& fill);
// The bytes writeTiff puts before the pixels of this image.
std::vector<std::byte> tiffHead(const Image& image);
// Whether file is byte for byte what writeTiff makes of image, given that its pixel area holds
// the image's samples: the size and everything before the pixels are compared.
bool isTiffOf(const Image& image, std::span<const std::byte> file);
// Writes (replaces) a TIFF file, streaming from the image in 64 KiB pieces; false on any error.
bool writeTiffFile(platform::Files& files, std::string_view path, const Image& image);

// ---- reader ----
// Checks everything of the first page but the compressed data itself, without allocating the
// image: what readTiff would reject for its structure is rejected here, with the same error.
void checkTiff(std::span<const std::byte> file);
// The samples of the first page exactly as readTiff gives them, where they lie in the file as
// one run (uncompressed little-endian strips of 8 or 16 bits, back to back in order, MinIsBlack,
// no predictor, not cut to 12 bits); empty otherwise, a malformed file included.
std::span<const std::byte> tiffPixelRun(std::span<const std::byte> file);
// An image over those samples (see Image::borrowing), with the pixel pitch readTiff gives: what
// readTiff would make of the file without a copy. It must not outlive the file's memory. Empty
// where tiffPixelRun is, and for 16-bit samples at an odd offset.
Image tiffPixelImage(std::span<std::byte> file);
// Reads the first page. Throws TiffError for malformed or unsupported files. With workers the
// strips or tiles are decoded on its threads; the image takes over the pixel memory of recycle
// when that is large enough (see Image::recycled), and recycle is given up either way.
Image readTiff(std::span<const std::byte> file, Workers* workers = nullptr, Image recycle = {});
// Reads from a locked global memory block of the given byte size (the smaller of it and the
// block's own size is used).
Image readTiffFromGlobal(platform::GlobalMemory& memory, platform::HGlobal block, std::size_t size);
// Reads a TIFF file; throws TiffError when it cannot be read or is malformed.
Image readTiffFile(platform::Files& files, std::string_view path);

}  // namespace quilo::imaging
