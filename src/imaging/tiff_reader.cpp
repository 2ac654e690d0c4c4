#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "imaging/tiff.h"

namespace quilo::imaging {
namespace {

constexpr std::uint32_t kMaxEntries = 4096;
constexpr std::uint32_t kMaxChunks = 1u << 22;  // strips or tiles in one image

enum : std::uint16_t { kByte = 1, kShort = 3, kLong = 4, kRational = 5 };

class Source {
  public:
    explicit Source(std::span<const std::byte> b) : b_(b) {}
    std::size_t size() const { return b_.size(); }
    void need(std::uint64_t at, std::uint64_t n, const char* what) const {
        if (at > b_.size() || n > b_.size() - at)
            throw TiffError(std::string(what) + " lies beyond the end of the file", at);
    }
    std::uint16_t u16(std::uint64_t at) const {
        need(at, 2, "a value");
        const auto* p = reinterpret_cast<const std::uint8_t*>(b_.data()) + at;
        return big ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                   : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
    }
    std::uint32_t u32(std::uint64_t at) const {
        need(at, 4, "a value");
        const auto* p = reinterpret_cast<const std::uint8_t*>(b_.data()) + at;
        return big ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                      std::uint32_t{p[2]} << 8 | p[3])
                   : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                      std::uint32_t{p[1]} << 8 | p[0]);
    }
    const std::uint8_t* ptr(std::uint64_t at) const {
        return reinterpret_cast<const std::uint8_t*>(b_.data()) + at;
    }
    bool big = false;

  private:
    std::span<const std::byte> b_;
};

struct Entry {
    std::uint16_t tag = 0, type = 0;
    std::uint32_t count = 0;
    std::uint64_t at = 0;  // where the entry itself is (for messages)
    std::uint64_t valueAt = 0;
};

std::uint32_t typeSize(std::uint16_t type) {
    switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 0;
    }
}

// One value of an integer entry (BYTE, SHORT or LONG).
std::uint32_t valueOf(const Source& s, const Entry& e, std::uint32_t i) {
    if (i >= e.count) throw TiffError("tag " + std::to_string(e.tag) + " has too few values", e.at);
    switch (e.type) {
        case kByte:
            s.need(e.valueAt + i, 1, "a value");
            return *s.ptr(e.valueAt + i);
        case kShort:
            return s.u16(e.valueAt + 2ull * i);
        case kLong:
            return s.u32(e.valueAt + 4ull * i);
        default:
            throw TiffError("tag " + std::to_string(e.tag) + " has an unexpected value type " +
                                std::to_string(e.type),
                            e.at);
    }
}

double rationalOf(const Source& s, const Entry& e) {
    if (e.type != kRational || e.count < 1) return 0;
    const std::uint32_t num = s.u32(e.valueAt), den = s.u32(e.valueAt + 4);
    return den ? static_cast<double>(num) / den : 0;
}

// ---- decoders; each writes at most out.size() bytes and reports how many it wrote ----

std::size_t unpackBits(const std::uint8_t* in, std::size_t n, std::span<std::uint8_t> out) {
    std::size_t i = 0, o = 0;
    while (i < n && o < out.size()) {
        const auto c = static_cast<std::int8_t>(in[i++]);
        if (c >= 0) {
            std::size_t len = std::size_t(c) + 1;
            len = std::min({len, n - i, out.size() - o});
            std::memcpy(out.data() + o, in + i, len);
            i += len;
            o += len;
        } else if (c != -128) {
            if (i >= n) break;
            std::size_t len = std::min<std::size_t>(std::size_t(1 - c), out.size() - o);
            std::memset(out.data() + o, in[i++], len);
            o += len;
        }
    }
    return o;
}

// LZW as TIFF uses it: MSB-first codes of 9 to 12 bits, Clear 256, EndOfInformation 257, the
// code width growing one code early.
std::size_t unLzw(const std::uint8_t* in, std::size_t n, std::span<std::uint8_t> out,
                  std::uint64_t at) {
    constexpr int kClear = 256, kEoi = 257, kMax = 4096;
    std::vector<std::uint16_t> prefix(kMax);
    std::vector<std::uint8_t> suffix(kMax), first(kMax);
    std::vector<std::uint16_t> length(kMax);
    for (int i = 0; i < 256; ++i) {
        suffix[i] = first[i] = static_cast<std::uint8_t>(i);
        length[i] = 1;
    }
    int next = 258, width = 9, prev = -1;
    std::uint64_t bitPos = 0;
    const std::uint64_t bits = std::uint64_t{n} * 8;
    std::size_t o = 0;
    auto emit = [&](int code) {
        // Writes the string of a code, clipped to the output.
        const std::size_t len = length[code];
        std::size_t pos = o + len;
        int c = code;
        while (c >= 0 && pos > o) {
            --pos;
            if (pos < out.size()) out[pos] = suffix[c];
            c = c >= 258 ? prefix[c] : -1;
        }
        o += len;
    };
    while (bitPos + width <= bits && o < out.size()) {
        std::uint32_t code = 0;
        for (int b = 0; b < width; ++b, ++bitPos)
            code = code << 1 | ((in[bitPos >> 3] >> (7 - (bitPos & 7))) & 1u);
        if (code == kEoi) break;
        if (code == kClear) {
            next = 258;
            width = 9;
            prev = -1;
            continue;
        }
        if (prev < 0) {
            if (code > 255) throw TiffError("LZW data starts with an undefined code", at);
            emit(static_cast<int>(code));
            prev = static_cast<int>(code);
            continue;
        }
        if (static_cast<int>(code) < next) {
            emit(static_cast<int>(code));
            if (next < kMax) {
                prefix[next] = static_cast<std::uint16_t>(prev);
                suffix[next] = first[code];
                first[next] = first[prev];
                length[next] = static_cast<std::uint16_t>(length[prev] + 1);
                ++next;
            }
        } else if (static_cast<int>(code) == next && next < kMax) {
            prefix[next] = static_cast<std::uint16_t>(prev);
            suffix[next] = first[prev];
            first[next] = first[prev];
            length[next] = static_cast<std::uint16_t>(length[prev] + 1);
            ++next;
            emit(static_cast<int>(code));
        } else {
            throw TiffError("LZW data holds an undefined code " + std::to_string(code), at);
        }
        prev = static_cast<int>(code);
        if (next + 1 >= (1 << width) && width < 12) ++width;
    }
    return std::min(o, out.size());
}

struct Page {
    std::uint32_t width = 0, height = 0;
    int bits = 0;
    int outBits = 0;
    std::uint32_t compression = 1, photometric = 1, predictor = 1;
    bool tiled = false;
    std::uint32_t chunkW = 0, chunkH = 0;  // strip: width x rowsPerStrip; tile: its size
    Entry offsets, counts;
    std::uint32_t chunks = 0;
    std::uint32_t maxSample = 0;
    double xRes = 0, yRes = 0;
    std::uint32_t resUnit = 2;
};

// Bytes of one row of a chunk as stored (12-bit rows are padded to whole bytes).
std::size_t storedRowBytes(std::uint32_t w, int bits) {
    return (std::size_t{w} * static_cast<std::size_t>(bits) + 7) / 8;
}

Page readDirectory(const Source& s, std::uint64_t ifd) {
    const std::uint16_t n = s.u16(ifd);
    if (n == 0 || n > kMaxEntries)
        throw TiffError("the image directory has " + std::to_string(n) + " entries", ifd);
    s.need(ifd + 2, std::uint64_t{n} * 12, "the image directory");
    Page p;
    bool haveW = false, haveH = false, haveOffsets = false, haveCounts = false;
    std::uint32_t rowsPerStrip = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t spp = 1, sampleFormat = 1, fillOrder = 1;
    p.bits = 1;
    for (std::uint16_t i = 0; i < n; ++i) {
        Entry e;
        e.at = ifd + 2 + 12ull * i;
        e.tag = s.u16(e.at);
        e.type = s.u16(e.at + 2);
        e.count = s.u32(e.at + 4);
        const std::uint32_t ts = typeSize(e.type);
        if (ts == 0) continue;  // unknown types are skipped, as readers must
        const std::uint64_t bytes = std::uint64_t{ts} * e.count;
        e.valueAt = bytes <= 4 ? e.at + 8 : s.u32(e.at + 8);
        if (bytes > 4)
            s.need(e.valueAt, bytes, ("the values of tag " + std::to_string(e.tag)).c_str());
        switch (e.tag) {
            case 256:
                p.width = valueOf(s, e, 0);
                haveW = true;
                break;
            case 257:
                p.height = valueOf(s, e, 0);
                haveH = true;
                break;
            case 258:
                p.bits = static_cast<int>(valueOf(s, e, 0));
                break;
            case 259:
                p.compression = valueOf(s, e, 0);
                break;
            case 262:
                p.photometric = valueOf(s, e, 0);
                break;
            case 266:
                fillOrder = valueOf(s, e, 0);
                break;
            case 273:
            case 324:
                p.offsets = e;
                haveOffsets = true;
                p.tiled = e.tag == 324;
                break;
            case 277:
                spp = valueOf(s, e, 0);
                break;
            case 278:
                rowsPerStrip = valueOf(s, e, 0);
                break;
            case 279:
            case 325:
                p.counts = e;
                haveCounts = true;
                break;
            case 281:
                p.maxSample = valueOf(s, e, 0);
                break;
            case 282:
                p.xRes = rationalOf(s, e);
                break;
            case 283:
                p.yRes = rationalOf(s, e);
                break;
            case 296:
                p.resUnit = valueOf(s, e, 0);
                break;
            case 317:
                p.predictor = valueOf(s, e, 0);
                break;
            case 322:
                p.chunkW = valueOf(s, e, 0);
                break;
            case 323:
                p.chunkH = valueOf(s, e, 0);
                break;
            case 339:
                sampleFormat = valueOf(s, e, 0);
                break;
            default:
                break;
        }
    }
    if (!haveW || !haveH) throw TiffError("the image width or height is missing", ifd);
    if (!haveOffsets || !haveCounts)
        throw TiffError("the strip or tile offsets or byte counts are missing", ifd);
    if (spp != 1)
        throw TiffError("only grey images are read; samples per pixel is " + std::to_string(spp),
                        ifd);
    if (p.bits != 8 && p.bits != 12 && p.bits != 16)
        throw TiffError("unsupported bits per sample " + std::to_string(p.bits), ifd);
    if (p.photometric > 1)
        throw TiffError("only grey images are read; photometric interpretation is " +
                            std::to_string(p.photometric),
                        ifd);
    if (p.compression != 1 && p.compression != 5 && p.compression != 32773)
        throw TiffError("unsupported compression " + std::to_string(p.compression), ifd);
    if (p.predictor != 1 && !(p.predictor == 2 && p.bits != 12))
        throw TiffError("unsupported predictor " + std::to_string(p.predictor), ifd);
    if (sampleFormat != 1) throw TiffError("only unsigned integer samples are read", ifd);
    if (fillOrder != 1) throw TiffError("reversed bit fill order is not supported", ifd);
    if (auto why = checkImageShape(p.width, p.height, p.bits == 8 ? 8 : 16); !why.empty())
        throw TiffError(why, ifd);
    if (p.tiled) {
        if (p.chunkW == 0 || p.chunkH == 0 || p.chunkW > kMaxDimension ||
            p.chunkH > kMaxDimension || p.chunkW % 16 || p.chunkH % 16)
            throw TiffError("invalid tile size", ifd);
        const std::uint64_t across = (p.width + p.chunkW - 1) / p.chunkW;
        const std::uint64_t down = (p.height + p.chunkH - 1) / p.chunkH;
        if (across * down > kMaxChunks) throw TiffError("too many tiles", ifd);
        p.chunks = static_cast<std::uint32_t>(across * down);
    } else {
        p.chunkW = p.width;
        p.chunkH = std::clamp<std::uint32_t>(rowsPerStrip, 1, p.height);
        p.chunks = (p.height + p.chunkH - 1) / p.chunkH;
    }
    if (std::uint64_t{p.chunkW} * p.chunkH * 2 > kMaxImageBytes)
        throw TiffError("a strip or tile is too large", ifd);
    if (p.offsets.count < p.chunks || p.counts.count < p.chunks)
        throw TiffError("fewer strip or tile offsets than the image needs", p.offsets.at);
    // 12-bit samples in 16-bit words with a MaxSampleValue of 4095 come back as 12-bit.
    p.outBits = p.bits == 8                                                   ? 8
                : (p.bits == 12 || (p.maxSample != 0 && p.maxSample <= 4095)) ? 12
                                                                              : 16;
    return p;
}

// Turns one decoded chunk into samples of the image at (x0, y0).
void placeChunk(const Page& p, const Source& s, const std::uint8_t* src, std::size_t avail,
                Image& img, std::uint32_t x0, std::uint32_t y0) {
    const std::size_t rowIn = storedRowBytes(p.chunkW, p.bits);
    const std::uint32_t w = std::min(p.chunkW, p.width - x0);
    const std::uint32_t h = std::min(p.chunkH, p.height - y0);
    if (p.bits != 12 && !s.big && p.predictor == 1 && p.chunkW == p.width && avail >= rowIn * h) {
        // Whole rows of samples as they lie in memory: one copy for the strip.
        std::memcpy(img.row8(y0), src, rowIn * h);
        return;
    }
    for (std::uint32_t r = 0; r < h; ++r) {
        const std::size_t start = rowIn * r;
        if (start >= avail) break;  // short data: the rest stays as cleared
        const std::uint8_t* in = src + start;
        const std::size_t have = std::min(rowIn, avail - start);
        if (p.bits == 8) {
            std::memcpy(img.row8(y0 + r) + x0, in, std::min<std::size_t>(w, have));
        } else if (p.bits == 16) {
            std::uint16_t* out = img.row16(y0 + r) + x0;
            const std::uint32_t m = static_cast<std::uint32_t>(std::min<std::size_t>(w, have / 2));
            if (!s.big) {
                std::memcpy(out, in, std::size_t{m} * 2);
            } else {
                for (std::uint32_t x = 0; x < m; ++x)
                    out[x] = static_cast<std::uint16_t>(in[2 * x] << 8 | in[2 * x + 1]);
            }
        } else {  // 12 bits packed, most significant bits first
            std::uint16_t* out = img.row16(y0 + r) + x0;
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::size_t bit = std::size_t{x} * 12, byte = bit >> 3;
                if (byte + 1 >= have) break;
                out[x] = (bit & 7)
                             ? static_cast<std::uint16_t>((in[byte] & 0x0F) << 8 | in[byte + 1])
                             : static_cast<std::uint16_t>(in[byte] << 4 | in[byte + 1] >> 4);
            }
        }
        if (p.predictor == 2) {
            if (p.bits == 8) {
                std::uint8_t* row = img.row8(y0 + r) + x0;
                for (std::uint32_t x = 1; x < w; ++x)
                    row[x] = static_cast<std::uint8_t>(row[x] + row[x - 1]);
            } else {
                std::uint16_t* row = img.row16(y0 + r) + x0;
                for (std::uint32_t x = 1; x < w; ++x)
                    row[x] = static_cast<std::uint16_t>(row[x] + row[x - 1]);
            }
        }
    }
}

}  // namespace

namespace {

struct Checked {
    Source s;
    Page p;
    std::size_t rowIn;
    std::uint32_t across;
    std::uint64_t expansion;
};

// Everything of the first page up to its compressed data: header, directory, every strip's
// place and size.
Checked checkPage(std::span<const std::byte> file) {
    Source s(file);
    if (file.size() < 8) throw TiffError("the file is too short for a TIFF header", 0);
    const auto* b = s.ptr(0);
    if (b[0] == 'I' && b[1] == 'I')
        s.big = false;
    else if (b[0] == 'M' && b[1] == 'M')
        s.big = true;
    else
        throw TiffError("not a TIFF file (no byte-order mark)", 0);
    const std::uint16_t magic = s.u16(2);
    if (magic == 43) throw TiffError("BigTIFF files are not supported", 2);
    if (magic != 42) throw TiffError("not a TIFF file (bad magic number)", 2);
    const std::uint32_t ifd = s.u32(4);
    if (ifd < 8) throw TiffError("the first image directory offset is invalid", 4);
    const Page p = readDirectory(s, ifd);

    const std::size_t rowIn = storedRowBytes(p.chunkW, p.bits);
    const std::uint32_t across = (p.width + p.chunkW - 1) / p.chunkW;
    auto rowsOf = [&](std::uint32_t c) {
        return std::min(p.chunkH, p.height - (c / across) * p.chunkH);
    };
    // Check every chunk before allocating anything, so a small file cannot make us allocate a
    // large image: uncompressed data must cover its rows, compressed data must be able to.
    std::uint64_t packed = 0;
    for (std::uint32_t c = 0; c < p.chunks; ++c) {
        const std::uint32_t off = valueOf(s, p.offsets, c);
        const std::uint32_t len = valueOf(s, p.counts, c);
        if (off > file.size() || len > file.size() - off)
            throw TiffError(
                "strip or tile " + std::to_string(c) + " lies beyond the end of the file", off);
        if (p.compression == 1 && len < rowIn * rowsOf(c))
            throw TiffError("strip or tile " + std::to_string(c) + " is shorter than its rows",
                            off);
        packed += len;
    }
    const std::uint64_t expansion = p.compression == 5 ? 4096 : p.compression == 32773 ? 64 : 1;
    if (packed * expansion < std::uint64_t{rowIn} * p.height)
        throw TiffError("the image data is too short for " + std::to_string(p.width) + " x " +
                            std::to_string(p.height) + " pixels",
                        p.offsets.at);
    return Checked{s, p, rowIn, across, expansion};
}

}  // namespace

void checkTiff(std::span<const std::byte> file) {
    (void)checkPage(file);
}

namespace {

// The pixel pitch the page's resolution gives, if it gives one.
void takePitch(const Page& p, Image& img) {
    if (p.xRes > 0 && p.yRes > 0 && (p.resUnit == 2 || p.resUnit == 3)) {
        const double unitMicrons = p.resUnit == 2 ? 25400.0 : 10000.0;
        img.setPitch(unitMicrons / p.xRes, unitMicrons / p.yRes);
    }
}

// Where the samples of a checked page lie as one run in the file, if they do: its offset.
std::optional<std::size_t> pixelRunAt(const Checked& c) {
    const Page& p = c.p;
    if (p.compression != 1 || c.s.big || p.predictor != 1 || p.tiled || p.photometric != 1 ||
        p.bits != p.outBits || (p.bits != 8 && p.bits != 16))
        return std::nullopt;
    const std::uint64_t first = valueOf(c.s, p.offsets, 0);
    const std::uint64_t chunkBytes = std::uint64_t{c.rowIn} * p.chunkH;
    for (std::uint32_t k = 1; k < p.chunks; ++k)
        if (valueOf(c.s, p.offsets, k) != first + k * chunkBytes) return std::nullopt;
    // checkPage has seen every strip lie in the file and cover its rows.
    return static_cast<std::size_t>(first);
}

}  // namespace

std::span<const std::byte> tiffPixelRun(std::span<const std::byte> file) {
    try {
        const Checked c = checkPage(file);
        const auto at = pixelRunAt(c);
        return at ? file.subspan(*at, c.rowIn * c.p.height) : std::span<const std::byte>();
    } catch (const TiffError&) {
        return {};
    }
}

Image tiffPixelImage(std::span<std::byte> file) {
    try {
        const Checked c = checkPage(file);
        const auto at = pixelRunAt(c);
        if (!at || (c.p.bits == 16 && *at % 2 != 0) ||
            !checkImageShape(c.p.width, c.p.height, c.p.bits).empty())
            return {};
        Image img = Image::borrowing(reinterpret_cast<std::uint8_t*>(file.data() + *at), c.p.width,
                                     c.p.height, c.p.bits);
        takePitch(c.p, img);
        return img;
    } catch (const TiffError&) {
        return {};
    }
}

Image readTiff(std::span<const std::byte> file, Workers* workers, Image recycle) {
    const Checked checked = checkPage(file);
    const Source& s = checked.s;
    const Page& p = checked.p;
    const std::size_t rowIn = checked.rowIn;
    const std::uint32_t across = checked.across;
    const std::uint64_t expansion = checked.expansion;
    auto rowsOf = [&](std::uint32_t c) {
        return std::min(p.chunkH, p.height - (c / across) * p.chunkH);
    };

    Image img = Image::recycled(std::move(recycle), p.width, p.height, p.outBits);
    if (p.compression != 1) std::memset(img.data(), 0, img.byteSize());
    takePitch(p, img);
    // Each strip or tile lands in pixels of its own: runs of them on the workers, at least
    // 1 MiB of pixels to a run.
    const auto perRun = static_cast<std::uint32_t>(std::max<std::uint64_t>(
        1, (std::uint64_t{1} << 20) / (std::uint64_t{rowIn} * p.chunkH + 1)));
    parallelRows(workers, p.chunks, perRun, [&](std::uint32_t c0, std::uint32_t c1) {
        std::vector<std::uint8_t> scratch;
        for (std::uint32_t c = c0; c < c1; ++c) {
            const std::uint32_t off = valueOf(s, p.offsets, c);
            const std::uint32_t len = valueOf(s, p.counts, c);
            const std::uint32_t x0 = (c % across) * p.chunkW, y0 = (c / across) * p.chunkH;
            const std::uint8_t* in = s.ptr(off);
            const std::size_t chunkBytes = static_cast<std::size_t>(
                std::min<std::uint64_t>(rowIn * rowsOf(c), std::uint64_t{len} * expansion));
            if (p.compression == 1) {
                placeChunk(p, s, in, len, img, x0, y0);
                continue;
            }
            scratch.resize(chunkBytes);
            std::size_t got = 0;
            if (p.compression == 32773)
                got = unpackBits(in, len, scratch);
            else
                got = unLzw(in, len, scratch, off);
            placeChunk(p, s, scratch.data(), got, img, x0, y0);
        }
    });
    if (p.bits == 12 && p.outBits == 12) {
        // nothing to do: unpacked values are 0..4095 already
    } else if (p.outBits == 12) {
        // 12-bit values in 16-bit words: clamp anything above the declared maximum
        for (std::uint32_t y = 0; y < p.height; ++y) {
            auto* row = img.row16(y);
            for (std::uint32_t x = 0; x < p.width; ++x)
                row[x] = std::min<std::uint16_t>(row[x], 4095);
        }
    }
    if (p.photometric == 0) {  // MinIsWhite: we keep MinIsBlack in memory
        const std::uint32_t mx = img.maxValue();
        for (std::uint32_t y = 0; y < p.height; ++y) {
            if (img.bitsPerPixel() == 8) {
                auto* row = img.row8(y);
                for (std::uint32_t x = 0; x < p.width; ++x)
                    row[x] = static_cast<std::uint8_t>(mx - row[x]);
            } else {
                auto* row = img.row16(y);
                for (std::uint32_t x = 0; x < p.width; ++x)
                    row[x] = static_cast<std::uint16_t>(mx - row[x]);
            }
        }
    }
    return img;
}

Image readTiffFromGlobal(platform::GlobalMemory& memory, platform::HGlobal block,
                         std::size_t size) {
    if (!block) throw TiffError("no memory block", 0);
    platform::GlobalLock lock(memory, block);
    if (!lock) throw TiffError("the memory block cannot be locked", 0);
    const auto bytes = lock.bytes();
    return readTiff(bytes.first(std::min(size, bytes.size())));
}

Image readTiffFile(platform::Files& files, std::string_view path) {
    // A file can hold at most the largest image plus its directory and a little slack.
    auto bytes = platform::readWholeFile(files, path, kMaxImageBytes + (16u << 20));
    if (!bytes) throw TiffError("the file " + std::string(path) + " cannot be read", 0);
    return readTiff(*bytes);
}

}  // namespace quilo::imaging
