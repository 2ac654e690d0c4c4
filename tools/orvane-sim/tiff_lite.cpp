#include "orvane-sim/tiff_lite.h"

#include <cmath>
#include <cstring>

namespace quilo::orvanesim {

namespace {

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kRational = 5;

struct Writer {
    std::vector<std::byte> out;
    void u8(std::uint8_t v) { out.push_back(static_cast<std::byte>(v)); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        if (type == kShort && count == 1) {
            u16(static_cast<std::uint16_t>(value));
            u16(0);
        } else {
            u32(value);
        }
    }
};

}  // namespace

std::vector<std::byte> writeGreyTiff(int width, int height, int bitsPerSample,
                                     std::span<const std::uint16_t> pixels, double pixelsPerCm) {
    const std::uint32_t bytesPerSample = bitsPerSample > 8 ? 2 : 1;
    const std::uint32_t dataBytes =
        static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * bytesPerSample;
    const bool withResolution = pixelsPerCm > 0;
    const std::uint16_t entries = withResolution ? 12 : 9;
    // Header, then the directory, then the two resolution rationals, then the pixels.
    const std::uint32_t ifdOffset = 8;
    const std::uint32_t ifdBytes = 2 + 12u * entries + 4;
    const std::uint32_t rationalOffset = ifdOffset + ifdBytes;
    const std::uint32_t dataOffset = rationalOffset + (withResolution ? 16 : 0);

    Writer w;
    w.out.reserve(dataOffset + dataBytes);
    w.u8('I');
    w.u8('I');
    w.u16(42);
    w.u32(ifdOffset);
    w.u16(entries);
    w.entry(256, kLong, 1, static_cast<std::uint32_t>(width));
    w.entry(257, kLong, 1, static_cast<std::uint32_t>(height));
    w.entry(258, kShort, 1, bytesPerSample * 8);
    w.entry(259, kShort, 1, 1);  // no compression
    w.entry(262, kShort, 1, 1);  // min-is-black
    w.entry(273, kLong, 1, dataOffset);
    w.entry(277, kShort, 1, 1);
    w.entry(278, kLong, 1, static_cast<std::uint32_t>(height));
    w.entry(279, kLong, 1, dataBytes);
    if (withResolution) {
        w.entry(282, kRational, 1, rationalOffset);
        w.entry(283, kRational, 1, rationalOffset + 8);
        w.entry(296, kShort, 1, 3);  // centimetres
    }
    w.u32(0);
    if (withResolution) {
        const auto num = static_cast<std::uint32_t>(std::lround(pixelsPerCm * 1000.0));
        for (int i = 0; i < 2; ++i) {
            w.u32(num);
            w.u32(1000);
        }
    }
    for (std::uint16_t v : pixels) {
        if (bytesPerSample == 2) {
            w.u16(v);
        } else {
            w.u8(static_cast<std::uint8_t>(v));
        }
    }
    return std::move(w.out);
}

std::optional<GreyImage> readGreyTiff(std::span<const std::byte> file) {
    const std::size_t n = file.size();
    if (n < 8) return std::nullopt;
    const auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(file[i]); };
    bool little;
    if (b(0) == 'I' && b(1) == 'I') {
        little = true;
    } else if (b(0) == 'M' && b(1) == 'M') {
        little = false;
    } else {
        return std::nullopt;
    }
    auto u16 = [&](std::size_t at) -> std::optional<std::uint32_t> {
        if (at > n || n - at < 2) return std::nullopt;
        return little ? (b(at) | b(at + 1) << 8) : (b(at) << 8 | b(at + 1));
    };
    auto u32 = [&](std::size_t at) -> std::optional<std::uint32_t> {
        auto lo = u16(at), hi = u16(at + 2);
        if (!lo || !hi) return std::nullopt;
        return little ? (*lo | *hi << 16) : (*lo << 16 | *hi);
    };
    if (u16(2) != 42u) return std::nullopt;
    const auto ifd = u32(4);
    if (!ifd) return std::nullopt;
    const auto count = u16(*ifd);
    if (!count || *count > 1000) return std::nullopt;

    std::uint32_t width = 0, height = 0, bits = 1, compression = 1, photometric = 1, spp = 1;
    std::uint32_t rowsPerStrip = 0xFFFFFFFFu;
    std::vector<std::uint32_t> offsets, counts;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::size_t e = *ifd + 2 + 12u * i;
        auto tag = u16(e), type = u16(e + 2);
        auto cnt = u32(e + 4);
        if (!tag || !type || !cnt) return std::nullopt;
        const std::size_t size = *type == kShort ? 2 : *type == kLong ? 4 : 0;
        auto values = [&]() -> std::optional<std::vector<std::uint32_t>> {
            if (size == 0 || *cnt > 1u << 20) return std::nullopt;
            std::size_t at = e + 8;
            if (size * *cnt > 4) {
                auto off = u32(e + 8);
                if (!off) return std::nullopt;
                at = *off;
            }
            std::vector<std::uint32_t> v;
            for (std::uint32_t k = 0; k < *cnt; ++k) {
                auto x = size == 2 ? u16(at + 2 * k) : u32(at + 4 * k);
                if (!x) return std::nullopt;
                v.push_back(*x);
            }
            return v;
        };
        auto first = [&]() -> std::uint32_t {
            auto v = values();
            return v && !v->empty() ? v->front() : 0;
        };
        switch (*tag) {
            case 256:
                width = first();
                break;
            case 257:
                height = first();
                break;
            case 258:
                bits = first();
                break;
            case 259:
                compression = first();
                break;
            case 262:
                photometric = first();
                break;
            case 277:
                spp = first();
                break;
            case 278:
                rowsPerStrip = first();
                break;
            case 273: {
                auto v = values();
                if (!v) return std::nullopt;
                offsets = *v;
                break;
            }
            case 279: {
                auto v = values();
                if (!v) return std::nullopt;
                counts = *v;
                break;
            }
            default:
                break;
        }
    }
    if (width == 0 || height == 0 || width > 20000 || height > 20000) return std::nullopt;
    if (compression != 1 || spp != 1 || (bits != 8 && bits != 16) || photometric > 1) {
        return std::nullopt;
    }
    if (offsets.empty() || offsets.size() != counts.size()) return std::nullopt;
    if (rowsPerStrip == 0) return std::nullopt;

    const std::size_t bytesPerSample = bits / 8;
    const std::size_t rowBytes = width * bytesPerSample;
    GreyImage img;
    img.width = static_cast<int>(width);
    img.height = static_cast<int>(height);
    img.pixels.assign(static_cast<std::size_t>(width) * height, 0);
    std::size_t row = 0;
    for (std::size_t s = 0; s < offsets.size() && row < height; ++s) {
        const std::size_t rows = std::min<std::size_t>(rowsPerStrip, height - row);
        if (offsets[s] > n || n - offsets[s] < rows * rowBytes) return std::nullopt;
        for (std::size_t r = 0; r < rows; ++r, ++row) {
            const std::size_t base = offsets[s] + r * rowBytes;
            for (std::size_t x = 0; x < width; ++x) {
                std::uint32_t v;
                if (bytesPerSample == 1) {
                    v = b(base + x) * 257u;
                } else {
                    const std::size_t at = base + 2 * x;
                    v = little ? (b(at) | b(at + 1) << 8) : (b(at) << 8 | b(at + 1));
                }
                if (photometric == 0) v = 65535u - v;
                img.pixels[row * width + x] = static_cast<std::uint16_t>(v);
            }
        }
    }
    if (row < height) return std::nullopt;
    return img;
}

}  // namespace quilo::orvanesim
