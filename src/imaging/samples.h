// Internal helpers of the imaging module: typed access to an image's samples.
#pragma once

#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "imaging/image.h"

namespace quilo::imaging {

template <class T>
T* rowOf(Image& image, std::uint32_t y) {
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return image.row8(y);
    else
        return image.row16(y);
}
template <class T>
const T* rowOf(const Image& image, std::uint32_t y) {
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return image.row8(y);
    else
        return image.row16(y);
}

// Calls f with a pointer to the first sample, typed by the image's depth.
template <class F>
void withSamples(Image& image, F&& f) {
    if (image.empty()) throw std::invalid_argument("no image");
    if (image.bitsPerPixel() == 8)
        f(image.row8(0));
    else
        f(image.row16(0));
}
template <class F>
void withSamples(const Image& image, F&& f) {
    if (image.empty()) throw std::invalid_argument("no image");
    if (image.bitsPerPixel() == 8)
        f(image.row8(0));
    else
        f(image.row16(0));
}

// Replaces every value v by lut[v]; the table covers 0..maxValue (values above it, which a valid
// image does not hold, take the last entry).
inline void applyLut(Image& image, const std::vector<std::uint16_t>& lut) {
    if (image.bitsPerPixel() == 16 && lut.size() == 65536) {  // no bounds check needed
        std::uint16_t* p = image.row16(0);
        const std::uint16_t* t = lut.data();
        for (std::size_t i = 0, n = image.pixelCount(); i < n; ++i)
            p[i] = t[p[i]];
        return;
    }
    withSamples(image, [&](auto* p) {
        using T = std::remove_pointer_t<decltype(p)>;
        const std::size_t n = image.pixelCount();
        const std::uint16_t* t = lut.data();
        const std::size_t top = lut.size() - 1;
        for (std::size_t i = 0; i < n; ++i)
            p[i] = static_cast<T>(t[p[i] <= top ? p[i] : top]);
    });
}

// Counts of each grey value 0..maxValue.
inline std::vector<std::uint32_t> histogram(const Image& image) {
    std::vector<std::uint32_t> h(std::size_t{image.maxValue()} + 1, 0);
    withSamples(image, [&](const auto* p) {
        const std::size_t n = image.pixelCount();
        const std::size_t top = h.size() - 1;
        for (std::size_t i = 0; i < n; ++i)
            ++h[p[i] <= top ? p[i] : top];
    });
    return h;
}

// The sums of three padded rows (as eachRowWithNeighbours gives them with r = 1) per column,
// w + 2 of them: the vertical half of a 3 x 3 neighbourhood sum, in one vectorised loop.
template <class T>
void columnSums3(const T* const* rows, std::int32_t* sums, std::uint32_t w) {
    const T* up = rows[0];
    const T* mid = rows[1];
    const T* down = rows[2];
    for (std::uint32_t i = 0; i < w + 2; ++i)
        sums[i] = std::int32_t{up[i]} + mid[i] + down[i];
}

// Walks the image row by row, in place. For each row y, f gets the 2r+1 original rows
// y-r .. y+r, each padded with r pixels on either side (so index x + r of a row is column x),
// the row to write, and the width. Beyond the borders the edge pixels are replicated, or with
// mirror the pixels mirrored about the edge pixel (column -1 is column 1), where the image is
// large enough for it.
template <class T, class F>
void eachRowWithNeighbours(Image& image, std::uint32_t r, F&& f, bool mirror = false) {
    const std::uint32_t w = image.width(), h = image.height();
    const std::size_t padded = std::size_t{w} + 2 * r;
    const std::uint32_t slots = 2 * r + 2;
    std::vector<T> ring(slots * padded);
    std::vector<const T*> rows(2 * r + 1);
    std::uint32_t loaded = 0;
    auto need = [&](std::uint32_t y) -> const T* {
        while (loaded <= y) {
            T* d = ring.data() + (loaded % slots) * padded;
            const T* src = rowOf<T>(image, loaded);
            std::memcpy(d + r, src, w * sizeof(T));
            const bool mx = mirror && w > r;
            for (std::uint32_t k = 0; k < r; ++k) {
                d[k] = mx ? src[r - k] : src[0];
                d[r + w + k] = mx ? src[w - 2 - k] : src[w - 1];
            }
            ++loaded;
        }
        return ring.data() + (y % slots) * padded;
    };
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t k = 0; k <= 2 * r; ++k) {
            std::int64_t yy = std::int64_t{y} + k - r;
            if (mirror && h > r) yy = yy < 0 ? -yy : yy >= h ? 2 * std::int64_t{h} - 2 - yy : yy;
            rows[k] = need(static_cast<std::uint32_t>(yy < 0 ? 0 : yy >= h ? h - 1 : yy));
        }
        f(rows.data(), rowOf<T>(image, y), w);
    }
}

}  // namespace quilo::imaging
