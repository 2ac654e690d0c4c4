// Internal helpers of the imaging module: typed access to an image's samples.
#pragma once

#include <algorithm>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "imaging/image.h"
#include "imaging/workers.h"

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

// The rows around the edges between strips that rewrite an image in place at the same time, as
// they were before the strips began: a strip's windows reach into its neighbours' rows, which
// the neighbours may already have overwritten. Copied for each edge at row b: rows
// b - above .. b + below - 1 (those within the image), where above and below are how far the
// windows reach up and down.
template <class T>
class StripEdges {
  public:
    StripEdges(const Image& image, const Strips& strips, std::uint32_t above, std::uint32_t below)
        : strips_(strips), first_(strips.count() + 1, 0), at_(strips.count() + 1, 0) {
        const std::uint32_t h = image.height(), w = image.width();
        std::size_t rows = 0;
        for (std::uint32_t e = 1; e < strips.count(); ++e) {
            const std::uint32_t b = strips.begin(e);
            first_[e] = b - std::min(b, above);
            at_[e] = rows;
            rows += std::min(h, b + below) - first_[e];
        }
        copies_.resize(rows * w);
        for (std::uint32_t e = 1; e < strips.count(); ++e) {
            const std::uint32_t b = strips.begin(e);
            for (std::uint32_t y = first_[e]; y < std::min(h, b + below); ++y)
                std::memcpy(copies_.data() + (at_[e] + y - first_[e]) * w, rowOf<T>(image, y),
                            w * sizeof(T));
        }
        width_ = w;
    }
    // The original row y, which strip i reads without owning it (within reach of its rows).
    const T* row(std::uint32_t i, std::uint32_t y) const {
        const std::uint32_t e = y < strips_.begin(i) ? i : i + 1;
        return copies_.data() + (at_[e] + y - first_[e]) * std::size_t{width_};
    }

  private:
    const Strips& strips_;
    std::vector<std::uint32_t> first_;
    std::vector<std::size_t> at_;
    std::vector<T> copies_;
    std::uint32_t width_ = 0;
};

// Walks the image row by row, in place, in strips of at least minRows rows on the workers. For
// each strip, makeRow() gives the function that does its rows (with its own scratch buffers):
// for each row y it gets the 2r+1 original rows y-r .. y+r, each padded with r pixels on either
// side (so index x + r of a row is column x), the row to write, the width and y. Beyond the
// borders the edge pixels are replicated, or with mirror the pixels mirrored about the edge pixel
// (column -1 is column 1), where the image is large enough for it.
template <class T, class MakeRow>
void eachRowWithNeighbours(Image& image, std::uint32_t r, Workers* workers, MakeRow&& makeRow,
                           bool mirror = false, std::uint32_t minRows = 32) {
    const std::uint32_t w = image.width(), h = image.height();
    const Strips strips(h, std::max(minRows, 2 * r), workers);
    const StripEdges<T> edges(image, strips, r, r);
    runStrips(workers, strips, [&](std::uint32_t i, std::uint32_t y0, std::uint32_t y1) {
        auto rowFn = makeRow();
        const std::size_t padded = std::size_t{w} + 2 * r;
        const std::uint32_t slots = 2 * r + 2;
        std::vector<T> ring(slots * padded);
        std::vector<const T*> rows(2 * r + 1);
        std::uint32_t loaded = y0 - std::min(y0, r);
        auto need = [&](std::uint32_t y) -> const T* {
            while (loaded <= y) {
                T* d = ring.data() + (loaded % slots) * padded;
                const T* src =
                    loaded >= y0 && loaded < y1 ? rowOf<T>(image, loaded) : edges.row(i, loaded);
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
        for (std::uint32_t y = y0; y < y1; ++y) {
            for (std::uint32_t k = 0; k <= 2 * r; ++k) {
                std::int64_t yy = std::int64_t{y} + k - r;
                if (mirror && h > r)
                    yy = yy < 0 ? -yy : yy >= h ? 2 * std::int64_t{h} - 2 - yy : yy;
                rows[k] = need(static_cast<std::uint32_t>(yy < 0 ? 0 : yy >= h ? h - 1 : yy));
            }
            rowFn(rows.data(), rowOf<T>(image, y), w, y);
        }
    });
}

}  // namespace quilo::imaging
