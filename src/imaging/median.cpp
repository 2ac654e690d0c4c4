// Median filter in close to constant time per pixel, after Perreault and Hebert: every column of
// the image keeps a histogram of the window's rows, carried down one row at a time (one sample
// out, one in), and the window's histogram is the sum of its columns, carried along one column
// at a time. To reach 16 bits the histograms have three levels: a top one over the highest bits
// of the value, for each top bin a middle one over the next bits, and for each middle bin a fine
// one over the rest. The split follows the image's real depth (the bit width of its largest
// value): 16 bits become 5 + 5 + 6, 12 bits 4 + 4 + 4. Only the top window histogram is carried
// for every pixel; the middle and fine ones are brought up to date only for the bins the median
// falls in, and only by the columns passed since their last use.
//
// The work goes in vertical stripes, which keeps the column histograms small and lets the filter
// run in place: each stripe first copies its input columns (plus the window's overlap, taken
// from the previous stripe's copy where the image is already overwritten) into a strip buffer of
// height x (stripe + size - 1) samples.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
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
    // Within the last group, without branches: count the bins whose running sum stays at or
    // below what is still needed.
    const std::uint32_t need = rank - below;
    const std::uint32_t end = std::min(bins, b + 16);
    std::uint32_t run = 0, skipped = 0, skippedCount = 0;
    for (std::uint32_t k = b; k < end; ++k) {
        run += h[k];
        const std::uint32_t keep = run <= need ? 1u : 0u;
        skipped += keep;
        skippedCount += keep * h[k];
    }
    below += skippedCount;
    return b + skipped;
}

// A window histogram of one sub-range, brought up to date lazily: from the columns passed since
// it was last used, or rebuilt from the window's columns when that is cheaper.
inline void catchUp(std::uint16_t* k, std::int64_t& last, const std::uint8_t* columns,
                    std::size_t columnStride, std::uint32_t bins, std::int64_t x,
                    std::uint32_t first, std::uint32_t n, std::uint32_t x0) {
    if (x - last >= static_cast<std::int64_t>(n)) {
        std::fill(k, k + bins, std::uint16_t{0});
        for (std::uint32_t j = first; j < first + n; ++j) {
            const std::uint8_t* c = columns + std::size_t{j} * columnStride;
            for (std::uint32_t f = 0; f < bins; ++f)
                k[f] = static_cast<std::uint16_t>(k[f] + c[f]);
        }
    } else {
        for (std::int64_t t = last + 1; t <= x; ++t) {
            const auto f0 = static_cast<std::size_t>(t - x0);
            const std::uint8_t* add = columns + (f0 + n - 1) * columnStride;
            const std::uint8_t* sub = columns + (f0 - 1) * columnStride;
            for (std::uint32_t f = 0; f < bins; ++f)
                k[f] = static_cast<std::uint16_t>(k[f] + add[f] - sub[f]);
        }
    }
    last = x;
}

template <class T>
void medianImpl(Image& image, int size) {
    const std::uint32_t w = image.width(), h = image.height();
    const std::uint32_t n = static_cast<std::uint32_t>(size);
    const std::uint32_t before = n / 2, after = (n - 1) / 2;
    const std::uint32_t rank = n * n / 2;

    // Three levels over the bits the image really uses: top, middle and fine.
    const std::uint32_t top = minMax(image).second;
    const int bits = std::max(1, static_cast<int>(std::bit_width(top)));
    const int b0 = bits / 3, b1 = bits / 3, b2 = bits - b0 - b1;
    const std::uint32_t n0 = 1u << b0, n1 = 1u << b1, n2 = 1u << b2;
    const std::uint32_t n01 = n0 * n1, nAll = n01 * n2;

    const std::uint32_t stripe = std::min(kStripe, w);
    const std::uint32_t sw = stripe + n - 1;  // strip columns
    std::vector<T> strip(std::size_t{sw} * h), prevStrip(std::size_t{sw} * h);
    std::vector<std::uint8_t> colTop(std::size_t{sw} * n0, 0);
    std::vector<std::uint8_t> colMid(std::size_t{sw} * n01, 0);
    std::vector<std::uint8_t> colFine(std::size_t{sw} * nAll, 0);
    std::vector<std::uint16_t> kTop(n0), kMid(n01), kFine(nAll);
    std::vector<std::int64_t> kMidAt(n0), kFineAt(n01);

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
            const std::uint32_t mid = v >> b2;  // top and middle bits together
            std::uint8_t& t = colTop[std::size_t{j} * n0 + (mid >> b1)];
            std::uint8_t& m = colMid[std::size_t{j} * n01 + mid];
            std::uint8_t& f = colFine[std::size_t{j} * nAll + v];
            t = static_cast<std::uint8_t>(t + delta);
            m = static_cast<std::uint8_t>(m + delta);
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
            std::fill(kTop.begin(), kTop.end(), std::uint16_t{0});
            for (std::uint32_t j = 0; j < n; ++j) {
                const std::uint8_t* c = colTop.data() + std::size_t{j} * n0;
                for (std::uint32_t b = 0; b < n0; ++b)
                    kTop[b] = static_cast<std::uint16_t>(kTop[b] + c[b]);
            }
            std::fill(kMidAt.begin(), kMidAt.end(), std::int64_t{-1} << 40);
            std::fill(kFineAt.begin(), kFineAt.end(), std::int64_t{-1} << 40);
            T* outRow = rowOf<T>(image, y);
            for (std::uint32_t x = x0; x < x1; ++x) {
                const std::uint32_t first = x - x0;  // strip column of the window's left edge
                if (x > x0) {
                    const std::uint8_t* add = colTop.data() + std::size_t{first + n - 1} * n0;
                    const std::uint8_t* sub = colTop.data() + std::size_t{first - 1} * n0;
                    for (std::uint32_t b = 0; b < n0; ++b)
                        kTop[b] = static_cast<std::uint16_t>(kTop[b] + add[b] - sub[b]);
                }
                std::uint32_t below = 0;
                const std::uint32_t t = findBin(kTop.data(), n0, below, rank);
                std::uint16_t* mid = kMid.data() + std::size_t{t} * n1;
                catchUp(mid, kMidAt[t], colMid.data() + std::size_t{t} * n1, n01, n1, x, first, n,
                        x0);
                const std::uint32_t m = t * n1 + findBin(mid, n1, below, rank);
                std::uint16_t* fine = kFine.data() + std::size_t{m} * n2;
                catchUp(fine, kFineAt[m], colFine.data() + std::size_t{m} * n2, nAll, n2, x, first,
                        n, x0);
                const std::uint32_t f = findBin(fine, n2, below, rank);
                outRow[x] = static_cast<T>(m << b2 | f);
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

// The 3 x 3 median from the sorted columns (l <= m <= u per column; column x of the image at
// index x + 1). Values, not references, and restricted pointers, so that the loop vectorises.
template <class T>
void medianOfSortedColumns(const T* __restrict l, const T* __restrict m, const T* __restrict u,
                           T* __restrict out, std::size_t w) {
    auto lesser = [](T a, T b) { return a < b ? a : b; };
    auto greater = [](T a, T b) { return a < b ? b : a; };
    for (std::size_t x = 0; x < w; ++x) {
        const T a = greater(greater(l[x], l[x + 1]), l[x + 2]);
        const T c = lesser(lesser(u[x], u[x + 1]), u[x + 2]);
        const T p = m[x], q = m[x + 1], s = m[x + 2];
        const T b = greater(lesser(p, q), lesser(greater(p, q), s));
        out[x] = greater(lesser(a, b), lesser(greater(a, b), c));
    }
}

// The 2 x 2 and 3 x 3 windows by comparisons alone, vectorised along the row: each column's
// two or three values are sorted once and serve the two or three windows that contain them.
// 2 x 2: the upper median of four is the second largest, the larger of the smaller column top
// and the larger column bottom. 3 x 3: the median of nine is the median of the largest column
// minimum, the median of the column middles and the smallest column maximum.
template <class T>
void medianSmallImpl(Image& image, int size) {
    const std::size_t padded = std::size_t{image.width()} + 2;
    std::vector<T> lo(padded), mid(padded), hi(padded);
    T* l = lo.data();
    T* m = mid.data();
    T* u = hi.data();
    // Rows y-1, y, y+1, each with column x at index x + 1; beyond the borders the edge pixels.
    eachRowWithNeighbours<T>(image, 1, [&](const T* const* rows, T* out, std::uint32_t w) {
        const T* r0 = rows[0];
        const T* r1 = rows[1];
        const T* r2 = rows[2];
        if (size == 2) {  // columns x-1 and x, rows y-1 and y
            for (std::uint32_t i = 0; i < w + 1; ++i) {
                l[i] = std::min(r0[i], r1[i]);
                u[i] = std::max(r0[i], r1[i]);
            }
            for (std::uint32_t x = 0; x < w; ++x)
                out[x] = std::max(std::min(u[x], u[x + 1]), std::max(l[x], l[x + 1]));
            return;
        }
        for (std::uint32_t i = 0; i < w + 2; ++i) {
            const T a = std::min(r0[i], r1[i]), b = std::max(r0[i], r1[i]);
            const T c = r2[i];
            l[i] = std::min(a, c);
            u[i] = std::max(b, c);
            m[i] = std::max(a, std::min(b, c));
        }
        medianOfSortedColumns(l, m, u, out, w);
    });
}

// The 4 x 4 and 5 x 5 windows through a sorting network: Batcher's odd-even merge sort of 32
// places, the places beyond the window's 16 or 25 values holding the largest value of the type
// (so the window's values sort into the first places), cut down to the comparators that the
// value of rank size*size/2 depends on. It runs on blocks of pixels along the row, one block
// place per pixel, so that every comparator is a vectorised min and max over the block.
using Comparator = std::pair<std::uint8_t, std::uint8_t>;

std::vector<Comparator> medianNetwork(std::uint32_t count) {
    constexpr std::uint32_t kPlaces = 32;
    std::vector<Comparator> all;
    for (std::uint32_t p = 1; p < kPlaces; p *= 2)
        for (std::uint32_t k = p; k >= 1; k /= 2)
            for (std::uint32_t j = k % p; j + k < kPlaces; j += 2 * k)
                for (std::uint32_t i = 0; i < std::min(k, kPlaces - j - k); ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        all.emplace_back(static_cast<std::uint8_t>(i + j),
                                         static_cast<std::uint8_t>(i + j + k));
    // A comparator whose upper place lies beyond the window does nothing: that place holds the
    // largest value and keeps it (a comparator moves the larger value up, and a place beyond the
    // window only ever meets another one above it). The rest, walking back from the median's
    // place: a comparator matters when it writes a place that matters, and then both its inputs
    // matter.
    std::vector<bool> matters(kPlaces, false);
    matters[count / 2] = true;
    std::vector<Comparator> kept;
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->second < count && (matters[it->first] || matters[it->second])) {
            matters[it->first] = matters[it->second] = true;
            kept.push_back(*it);
        }
    return {kept.rbegin(), kept.rend()};
}

template <class T>
void medianNetworkImpl(Image& image, int size) {
    constexpr std::size_t kBlock = 128;  // pixels per block: 8 KB of 16-bit places, within L1
    const auto n = static_cast<std::uint32_t>(size * size);
    const std::vector<Comparator> net = medianNetwork(n);
    std::vector<T> places(32 * kBlock, std::numeric_limits<T>::max());
    T* v = places.data();
    // Rows y-2 .. y+2, each with column x at index x + 2: the window of x is rows 0..size-1 at
    // indices x .. x + size - 1.
    eachRowWithNeighbours<T>(image, 2, [&](const T* const* rows, T* out, std::uint32_t w) {
        for (std::size_t x0 = 0; x0 < w; x0 += kBlock) {
            const std::size_t count = std::min<std::size_t>(kBlock, w - x0);
            for (std::uint32_t k = 0; k < n; ++k) {
                const T* src = rows[k / size] + x0 + k % size;
                T* dst = v + k * kBlock;
                std::memcpy(dst, src, count * sizeof(T));
            }
            for (const auto& [a, b] : net) {
                T* __restrict pa = v + a * kBlock;
                T* __restrict pb = v + b * kBlock;
                for (std::size_t i = 0; i < kBlock; ++i) {
                    const T lo = pa[i] < pb[i] ? pa[i] : pb[i];
                    const T hi = pa[i] < pb[i] ? pb[i] : pa[i];
                    pa[i] = lo;
                    pb[i] = hi;
                }
            }
            std::memcpy(out + x0, v + (n / 2) * kBlock, count * sizeof(T));
        }
    });
}

void checkSize(int size) {
    if (size < 2 || size > 16) throw std::invalid_argument("median size must be 2 to 16");
}

}  // namespace

void medianFilter(Image& image, int size) {
    checkSize(size);
    withSamples(image, [&](auto* p) {
        using T = std::remove_pointer_t<decltype(p)>;
        if (size <= 3)
            medianSmallImpl<T>(image, size);
        else if (size <= 5)
            medianNetworkImpl<T>(image, size);
        else
            medianImpl<T>(image, size);
    });
}

void medianFilterReference(Image& image, int size) {
    checkSize(size);
    withSamples(image, [&](auto* p) {
        medianReferenceImpl<std::remove_pointer_t<decltype(p)>>(image, size);
    });
}

}  // namespace quilo::imaging
