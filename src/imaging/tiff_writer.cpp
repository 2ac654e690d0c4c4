#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/tiff.h"

namespace quilo::imaging {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the writer copies samples as they lie in memory");

constexpr std::size_t kStripTarget = 64 * 1024;
constexpr std::size_t kHeaderBytes = 8;
constexpr std::uint16_t kEntryCount = 15;
constexpr std::size_t kIfdBytes = 2 + kEntryCount * 12 + 4;

enum : std::uint16_t { kShort = 3, kLong = 4, kRational = 5 };

struct Layout {
    std::uint32_t rowsPerStrip = 0;
    std::uint32_t strips = 0;
    std::size_t offsetsAt = 0;  // arrays of strip offsets and byte counts (when more than one)
    std::size_t countsAt = 0;
    std::size_t xResAt = 0, yResAt = 0;
    std::size_t pixelsAt = 0;
    std::size_t total = 0;
};

Layout layoutOf(const Image& image) {
    Layout l;
    const std::size_t rowBytes = image.rowBytes();
    l.rowsPerStrip = static_cast<std::uint32_t>(
        std::clamp<std::size_t>(kStripTarget / rowBytes, 1, image.height()));
    l.strips = (image.height() + l.rowsPerStrip - 1) / l.rowsPerStrip;
    std::size_t at = kHeaderBytes + kIfdBytes;
    if (l.strips > 1) {
        l.offsetsAt = at;
        at += 4u * l.strips;
        l.countsAt = at;
        at += 4u * l.strips;
    }
    l.xResAt = at;
    l.yResAt = at + 8;
    at += 16;
    l.pixelsAt = (at + 15) & ~std::size_t{15};  // pixel data aligned for fast copies
    l.total = l.pixelsAt + image.byteSize();
    return l;
}

class Out {
  public:
    explicit Out(std::span<std::byte> b) : b_(b) {}
    void u16(std::size_t at, std::uint16_t v) { std::memcpy(b_.data() + at, &v, 2); }
    void u32(std::size_t at, std::uint32_t v) { std::memcpy(b_.data() + at, &v, 4); }

  private:
    std::span<std::byte> b_;
};

// Resolution as pixels per centimetre, a rational with denominator 1000; 72 dpi when the pitch
// is not known.
void resolution(double pitchMicrons, std::uint32_t& num, std::uint32_t& den) {
    if (pitchMicrons > 0 && std::isfinite(pitchMicrons)) {
        const double perCm = 10000.0 / pitchMicrons;
        num = static_cast<std::uint32_t>(std::clamp(std::lround(perCm * 1000.0), 1L, 2000000000L));
        den = 1000;
    } else {
        num = 72;
        den = 1;
    }
}

// Everything before the pixel data: header, directory, arrays and resolutions.
void writeHead(const Image& image, const Layout& l, std::span<std::byte> head) {
    std::memset(head.data(), 0, l.pixelsAt);
    Out o(head);
    head[0] = std::byte{'I'};
    head[1] = std::byte{'I'};
    o.u16(2, 42);
    o.u32(4, kHeaderBytes);
    std::size_t e = kHeaderBytes;
    o.u16(e, kEntryCount);
    e += 2;
    auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                     std::uint32_t value) {
        o.u16(e, tag);
        o.u16(e + 2, type);
        o.u32(e + 4, count);
        if (type == kShort && count == 1)
            o.u16(e + 8, static_cast<std::uint16_t>(value));
        else
            o.u32(e + 8, value);
        e += 12;
    };
    const bool pitchKnown = image.pitchX() > 0 && image.pitchY() > 0;
    const std::uint32_t rowBytes = static_cast<std::uint32_t>(image.rowBytes());
    entry(254, kLong, 1, 0);                                    // NewSubfileType
    entry(256, kLong, 1, image.width());                        // ImageWidth
    entry(257, kLong, 1, image.height());                       // ImageLength
    entry(258, kShort, 1, image.bitsPerPixel() == 8 ? 8 : 16);  // BitsPerSample
    entry(259, kShort, 1, 1);                                   // Compression
    entry(262, kShort, 1, 1);                                   // MinIsBlack
    entry(273, kLong, l.strips,                                 // StripOffsets
          l.strips > 1 ? static_cast<std::uint32_t>(l.offsetsAt)
                       : static_cast<std::uint32_t>(l.pixelsAt));
    entry(277, kShort, 1, 1);              // SamplesPerPixel
    entry(278, kLong, 1, l.rowsPerStrip);  // RowsPerStrip
    entry(279, kLong, l.strips,            // StripByteCounts
          l.strips > 1 ? static_cast<std::uint32_t>(l.countsAt)
                       : static_cast<std::uint32_t>(image.byteSize()));
    entry(281, kShort, 1, image.maxValue());                         // MaxSampleValue
    entry(282, kRational, 1, static_cast<std::uint32_t>(l.xResAt));  // XResolution
    entry(283, kRational, 1, static_cast<std::uint32_t>(l.yResAt));  // YResolution
    entry(284, kShort, 1, 1);                                        // PlanarConfig
    entry(296, kShort, 1, pitchKnown ? 3 : 2);  // ResolutionUnit: centimetre, or inch for 72 dpi
    o.u32(e, 0);                                // no next directory
    if (l.strips > 1) {
        for (std::uint32_t s = 0; s < l.strips; ++s) {
            const std::uint32_t first = s * l.rowsPerStrip;
            const std::uint32_t rows = std::min(l.rowsPerStrip, image.height() - first);
            o.u32(l.offsetsAt + 4u * s,
                  static_cast<std::uint32_t>(l.pixelsAt + std::size_t{first} * rowBytes));
            o.u32(l.countsAt + 4u * s, rows * rowBytes);
        }
    }
    std::uint32_t num = 0, den = 1;
    resolution(pitchKnown ? image.pitchX() : 0, num, den);
    o.u32(l.xResAt, num);
    o.u32(l.xResAt + 4, den);
    resolution(pitchKnown ? image.pitchY() : 0, num, den);
    o.u32(l.yResAt, num);
    o.u32(l.yResAt + 4, den);
}

}  // namespace

std::size_t tiffFileSize(const Image& image) {
    if (image.empty()) throw std::invalid_argument("no image to write");
    return layoutOf(image).total;
}

void writeTiff(const Image& image, std::span<std::byte> out, Workers* workers) {
    const Layout l = layoutOf(image);
    if (out.size() != l.total) throw std::invalid_argument("TIFF buffer has the wrong size");
    writeHead(image, l, out);
    copyBytes(workers, out.data() + l.pixelsAt, image.data(), image.byteSize());
}

platform::GlobalBlock writeTiffToGlobal(platform::GlobalMemory& memory, const Image& image,
                                        Workers* workers) {
    const std::size_t size = tiffFileSize(image);
    // Not zeroed: writeTiff writes every byte.
    auto block = platform::GlobalBlock::allocate(memory, size, platform::gmem::kMoveable);
    if (!block) return block;
    platform::GlobalLock lock(memory, block.get());
    if (!lock) return {};
    writeTiff(image, std::span<std::byte>(lock.data(), size), workers);
    return block;
}

platform::GlobalBlock makeTiffInGlobal(platform::GlobalMemory& memory, std::uint32_t width,
                                       std::uint32_t height, int bitsPerPixel, double pitchX,
                                       double pitchY, const std::function<void(Image&)>& fill) {
    if (auto why = checkImageShape(width, height, bitsPerPixel); !why.empty())
        throw std::invalid_argument(why);
    // The layout depends on the shape only: work it out on a borrowed image over no memory of
    // its own yet, then over the block.
    std::uint8_t probe[2] = {};
    const Layout l = layoutOf(Image::borrowing(probe, width, height, bitsPerPixel));
    // Not zeroed: the head is written here and fill sets every pixel.
    auto block = platform::GlobalBlock::allocate(memory, l.total, platform::gmem::kMoveable);
    if (!block) return block;
    platform::GlobalLock lock(memory, block.get());
    if (!lock) return {};
    auto* base = reinterpret_cast<std::uint8_t*>(lock.data());
    Image pixels = Image::borrowing(base + l.pixelsAt, width, height, bitsPerPixel);
    pixels.setPitch(pitchX, pitchY);
    fill(pixels);
    writeHead(pixels, l, std::span<std::byte>(lock.data(), l.total));
    return block;
}

std::vector<std::byte> tiffHead(const Image& image) {
    if (image.empty()) throw std::invalid_argument("no image to write");
    const Layout l = layoutOf(image);
    std::vector<std::byte> head(l.pixelsAt);
    writeHead(image, l, head);
    return head;
}

bool isTiffOf(const Image& image, std::span<const std::byte> file) {
    if (image.empty() || file.size() != tiffFileSize(image)) return false;
    const std::vector<std::byte> head = tiffHead(image);
    return std::memcmp(head.data(), file.data(), head.size()) == 0;
}

bool writeTiffFile(platform::Files& files, std::string_view path, const Image& image) {
    if (image.empty()) return false;
    const std::vector<std::byte> head = tiffHead(image);
    auto file = files.open(path, platform::OpenMode::CreateAlways);
    if (!file) return false;
    bool ok = file->write(head);
    const auto* p = reinterpret_cast<const std::byte*>(image.data());
    for (std::size_t done = 0, total = image.byteSize(); ok && done < total;) {
        const std::size_t n = std::min(kStripTarget, total - done);
        ok = file->write(std::span<const std::byte>(p + done, n));
        done += n;
    }
    ok = ok && file->flush();
    file.reset();
    if (!ok) files.removeFile(path);  // no truncated image is left behind
    return ok;
}

}  // namespace quilo::imaging
