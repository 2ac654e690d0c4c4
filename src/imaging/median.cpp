// Median filter in close to constant time per pixel, after Perreault and Hebert: every column of
// the image keeps a histogram of the window's rows, carried down one row at a time (one sample
// out, one in), and the window's histogram is the sum of its columns, carried along one column
// at a time. To reach 16 bits the histograms have two levels: a coarse one over the top bits of
// the value and, for each coarse bin, a fine one over the remaining bits. The split follows the
// image's real depth (the bit width of its largest value), so a 12-bit image uses 16 fine bins
// per coarse bin instead of 256. Fine window histograms are brought up to date only for the
// coarse bin the median falls in, and only by the columns passed since their last use.
//
// The work goes in vertical stripes, which keeps the column histograms small enough to stay in
// the cache and lets the filter run in place: each stripe first copies its input columns (plus
// the window's overlap, taken from the previous stripe's copy where the image is already
// overwritten) into a strip buffer of height x (stripe + size - 1) samples.
#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/operations.h"
#include "imaging/samples.h"

namespace quilo::imaging {
namespace {

constexpr std::uint32_t kStripe = 64;

// The bin in which the running count, starting at below, first exceeds rank; below becomes the
// count of all bins before it. Whole groups of 16 bins are skipped with one vector sum (the
// counts of a group stay below 2^16: a window holds at most 256 samples).
inline std::uint32_t findBin(const std::uint16_t* h, std::uint32_t bins, std::uint32_t& below,
                             std::uint32_t rank) {
    std::uint32_t b = 0;
#if defined(__SSE2__)
    const __m128i ones = _mm_set1_epi16(1);
    for (; b + 16 <= bins; b += 16) {
        const __m128i v =
            _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + b)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + b + 8)));
        __m128i s = _mm_madd_epi16(v, ones);  // four sums of two
        s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
        s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
        const auto sum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(s));
        if (below + sum > rank) break;
        below += sum;
    }
#else
    for (; b + 16 <= bins; b += 16) {
        std::uint32_t s = 0;
        for (std::uint32_t k = 0; k < 16; ++k)
            s += h[b + k];
        if (below + s > rank) break;
        below += s;
    }
#endif
    for (;; ++b) {
        if (below + h[b] > rank) return b;
        below += h[b];
    }
}

template <class T>
void medianImpl(Image& image, int size) {
    const std::uint32_t w = image.width(), h = image.height();
    const std::uint32_t n = static_cast<std::uint32_t>(size);
    const std::uint32_t before = n / 2, after = (n - 1) / 2;
    const std::uint32_t rank = n * n / 2;

    const std::uint32_t top = minMax(image).second;
    const int bits = std::max(1, static_cast<int>(std::bit_width(top)));
    const int coarseBits = std::min(bits, 8);
    const int fineBits = bits - coarseBits;
    const std::uint32_t nC = 1u << coarseBits, nF = 1u << fineBits, fineMask = nF - 1;

    const std::uint32_t stripe = std::min(kStripe, w);
    const std::uint32_t sw = stripe + n - 1;  // strip columns
    std::vector<T> strip(std::size_t{sw} * h), prevStrip(std::size_t{sw} * h);
    std::vector<std::uint8_t> colCoarse(std::size_t{sw} * nC, 0);
    std::vector<std::uint8_t> colFine(std::size_t{sw} * nC * nF, 0);
    std::vector<std::uint16_t> kCoarse(nC), kFine(std::size_t{nC} * nF);
    std::vector<std::int64_t> kFineAt(nC);

    auto clampRow = [&](std::int64_t y) {
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(y, 0, h - 1));
    };

    std::uint32_t prevX0 = 0;
    for (std::uint32_t x0 = 0; x0 < w; x0 += stripe) {
        const std::uint32_t x1 = std::min(w, x0 + stripe);
        const std::uint32_t cols = (x1 - x0) + n - 1;
        // Strip column j holds image column x0 - before + j (edges replicated).
        for (std::uint32_t y = 0; y < h; ++y) {
            T* d = strip.data() + std::size_t{y} * sw;
            const T* src = rowOf<T>(image, y);
            const T* prev = prevStrip.data() + std::size_t{y} * sw;
            for (std::uint32_t j = 0; j < cols; ++j) {
                const std::int64_t c = std::int64_t{x0} - before + j;
                if (c < 0)
                    d[j] = src[0];
                else if (c >= static_cast<std::int64_t>(w))
                    d[j] = src[w - 1];
                else if (c < static_cast<std::int64_t>(x0))  // already filtered: from the copy
                    d[j] = prev[static_cast<std::size_t>(c - (std::int64_t{prevX0} - before))];
                else
                    d[j] = src[c];
            }
        }
        auto addSample = [&](std::uint32_t j, T v, int delta) {
            const std::uint32_t cb = v >> fineBits;
            colCoarse[std::size_t{j} * nC + cb] =
                static_cast<std::uint8_t>(colCoarse[std::size_t{j} * nC + cb] + delta);
            std::uint8_t& f = colFine[(std::size_t{j} * nC + cb) * nF + (v & fineMask)];
            f = static_cast<std::uint8_t>(f + delta);
        };
        auto stripRow = [&](std::uint32_t y) { return strip.data() + std::size_t{y} * sw; };
        // Column histograms of the window rows of output row 0.
        for (std::uint32_t k = 0; k < n; ++k) {
            const T* r = stripRow(clampRow(std::int64_t{k} - before));
            for (std::uint32_t j = 0; j < cols; ++j)
                addSample(j, r[j], +1);
        }
        for (std::uint32_t y = 0; y < h; ++y) {
            if (y > 0) {
                const std::uint32_t out = clampRow(std::int64_t{y} - 1 - before);
                const std::uint32_t in = clampRow(std::int64_t{y} + after);
                if (out != in) {
                    const T* ro = stripRow(out);
                    const T* ri = stripRow(in);
                    for (std::uint32_t j = 0; j < cols; ++j) {
                        addSample(j, ro[j], -1);
                        addSample(j, ri[j], +1);
                    }
                }
            }
            // Window histogram of the first output column of the stripe.
            std::fill(kCoarse.begin(), kCoarse.end(), std::uint16_t{0});
            for (std::uint32_t j = 0; j < n; ++j) {
                const std::uint8_t* c = colCoarse.data() + std::size_t{j} * nC;
                for (std::uint32_t b = 0; b < nC; ++b)
                    kCoarse[b] = static_cast<std::uint16_t>(kCoarse[b] + c[b]);
            }
            std::fill(kFineAt.begin(), kFineAt.end(), std::int64_t{-1} << 40);
            T* outRow = rowOf<T>(image, y);
            for (std::uint32_t x = x0; x < x1; ++x) {
                const std::uint32_t first = x - x0;  // strip column of the window's left edge
                if (x > x0) {
                    const std::uint8_t* add = colCoarse.data() + std::size_t{first + n - 1} * nC;
                    const std::uint8_t* sub = colCoarse.data() + std::size_t{first - 1} * nC;
                    for (std::uint32_t b = 0; b < nC; ++b)
                        kCoarse[b] = static_cast<std::uint16_t>(kCoarse[b] + add[b] - sub[b]);
                }
                std::uint32_t below = 0;
                const std::uint32_t b = findBin(kCoarse.data(), nC, below, rank);
                std::uint16_t* fine = kFine.data() + std::size_t{b} * nF;
                const std::int64_t last = kFineAt[b];
                if (std::int64_t{x} - last >= static_cast<std::int64_t>(n)) {
                    std::fill(fine, fine + nF, std::uint16_t{0});
                    for (std::uint32_t j = first; j < first + n; ++j) {
                        const std::uint8_t* c = colFine.data() + (std::size_t{j} * nC + b) * nF;
                        for (std::uint32_t f = 0; f < nF; ++f)
                            fine[f] = static_cast<std::uint16_t>(fine[f] + c[f]);
                    }
                } else {
                    for (std::int64_t t = last + 1; t <= x; ++t) {
                        const std::size_t f0 = static_cast<std::size_t>(t - x0);
                        const std::uint8_t* add = colFine.data() + ((f0 + n - 1) * nC + b) * nF;
                        const std::uint8_t* sub = colFine.data() + ((f0 - 1) * nC + b) * nF;
                        for (std::uint32_t f = 0; f < nF; ++f)
                            fine[f] = static_cast<std::uint16_t>(fine[f] + add[f] - sub[f]);
                    }
                }
                kFineAt[b] = x;
                const std::uint32_t f = findBin(fine, nF, below, rank);
                outRow[x] = static_cast<T>(b << fineBits | f);
            }
        }
        // Take the last window's rows out again so the column histograms are empty.
        for (std::uint32_t k = 0; k < n; ++k) {
            const T* r = stripRow(clampRow(std::int64_t{h} - 1 - before + k));
            for (std::uint32_t j = 0; j < cols; ++j)
                addSample(j, r[j], -1);
        }
        std::swap(strip, prevStrip);
        prevX0 = x0;
    }
}

template <class T>
void medianReferenceImpl(Image& image, int size) {
    const std::uint32_t w = image.width(), h = image.height();
    const std::int64_t n = size, before = n / 2;
    const Image src = image.clone();
    std::vector<T> win(static_cast<std::size_t>(n * n));
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            std::size_t i = 0;
            for (std::int64_t dy = 0; dy < n; ++dy) {
                const auto yy =
                    static_cast<std::uint32_t>(std::clamp<std::int64_t>(y - before + dy, 0, h - 1));
                const T* r = rowOf<T>(src, yy);
                for (std::int64_t dx = 0; dx < n; ++dx)
                    win[i++] = r[std::clamp<std::int64_t>(x - before + dx, 0, w - 1)];
            }
            auto mid = win.begin() + static_cast<std::ptrdiff_t>(n * n / 2);
            std::nth_element(win.begin(), mid, win.end());
            rowOf<T>(image, y)[x] = *mid;
        }
    }
}

void checkSize(int size) {
    if (size < 2 || size > 16) throw std::invalid_argument("median size must be 2 to 16");
}

}  // namespace

void medianFilter(Image& image, int size) {
    checkSize(size);
    withSamples(image,
                [&](auto* p) { medianImpl<std::remove_pointer_t<decltype(p)>>(image, size); });
}

void medianFilterReference(Image& image, int size) {
    checkSize(size);
    withSamples(image, [&](auto* p) {
        medianReferenceImpl<std::remove_pointer_t<decltype(p)>>(image, size);
    });
}

}  // namespace quilo::imaging
