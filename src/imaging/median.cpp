// Median filter. Sizes 2 to 5 by comparisons, vectorised along the row (see medianSmallImpl).
// From size 6 on in close to constant time per pixel, after Perreault and Hebert: every column
// of a stripe keeps a histogram of the window's rows, carried down one row at a time (one sample
// out, one in), and the window's histogram is the sum of its columns, carried along one column
// at a time. To reach 16 bits the histograms have three levels over the bits the image really
// uses (the bit width of its largest value): top, middle (one per top bin) and fine (one per
// middle bin); 15 bits become 5 + 5 + 5, 16 bits 5 + 6 + 5, 12 bits 4 + 4 + 4. Counts are bytes,
// slid and searched 16 bins per SSE2 instruction. The top window histogram is carried for every
// pixel; a middle or fine one only while the median stays in its bin (the usual case, checked
// before any search), and otherwise caught up lazily from the columns passed since its last use.
//
// The stripes are as wide as about 4 MB of column histograms allow (more at lower depths). The
// filter runs in place: a stripe reads its rows through a ring of size + 1 rows, and keeps the
// original values of its last size/2 columns, which the next stripe's windows reach into. On
// several threads the image is cut into bands of rows, each filtered so by one thread with
// histograms of its own.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/median_internal.h"
#include "imaging/operations.h"
#include "imaging/samples.h"

namespace quilo::imaging {
namespace {

// All histograms count in bytes, padded to a multiple of 16 bins (the padding bins stay empty).
// A column holds at most 16 samples. A window holds up to 256, kept modulo 256: the one count
// that does not fit is 256 itself, all of a 16 x 16 window in one bin, and then every count of
// that histogram reads 0, which findBin reports (see there).
constexpr std::uint32_t kPad = 16;
constexpr std::uint32_t kMaxBins = 64;  // the middle level of 16-bit data: 6 bits

constexpr std::uint32_t padded(std::uint32_t bins) {
    return (bins + kPad - 1) / kPad * kPad;
}

// k += column add - column sub, over bins (a multiple of 16).
inline void slideWindow(std::uint8_t* __restrict k, const std::uint8_t* add,
                        const std::uint8_t* sub, std::uint32_t bins) {
#if defined(__SSE2__)
    for (std::uint32_t b = 0; b < bins; b += 16) {
        auto* kp = reinterpret_cast<__m128i*>(k + b);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(add + b));
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sub + b));
        _mm_storeu_si128(kp, _mm_sub_epi8(_mm_add_epi8(_mm_loadu_si128(kp), a), s));
    }
#else
    for (std::uint32_t b = 0; b < bins; ++b)
        k[b] = static_cast<std::uint8_t>(k[b] + add[b] - sub[b]);
#endif
}

// k = the sum of count columns of bins each, stride bytes apart.
inline void sumColumns(std::uint8_t* __restrict k, const std::uint8_t* c, std::size_t stride,
                       std::uint32_t count, std::uint32_t bins) {
#if defined(__SSE2__)
    for (std::uint32_t b = 0; b < bins; b += 16) {
        __m128i acc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + b));
        for (std::uint32_t i = 1; i < count; ++i)
            acc = _mm_add_epi8(
                acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i * stride + b)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(k + b), acc);
    }
#else
    std::fill(k, k + bins, std::uint8_t{0});
    for (std::uint32_t i = 0; i < count; ++i)
        for (std::uint32_t b = 0; b < bins; ++b)
            k[b] = static_cast<std::uint8_t>(k[b] + c[i * stride + b]);
#endif
}

// The bin in which the running count, starting at below, first exceeds rank; below becomes the
// count of all bins before it. Without branches: the running sums never decrease, so the bin is
// the number of bins whose running sum stays at or below what is still needed (at most 128).
// The sums saturate at 255, which keeps every comparison right. The histogram holds more than
// rank - below samples, so padding bins never count, unless a count of 256 read as 0: then no
// bin is found and bins is returned.
template <bool kBelow = true>
inline std::uint32_t findBin(const std::uint8_t* k, std::uint32_t bins, std::uint32_t& below,
                             std::uint32_t rank) {
    const std::uint32_t need = rank - below;
    alignas(16) std::uint8_t sums[kMaxBins];
#if defined(__SSE2__)
    const __m128i needV = _mm_set1_epi8(static_cast<char>(need));
    const __m128i zero = _mm_setzero_si128();
    __m128i carry = zero;
    std::uint64_t within = 0;  // bit b: the running sum through bin b is at most need
    for (std::uint32_t b = 0; b < bins; b += 16) {
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k + b));
        p = _mm_adds_epu8(p, _mm_slli_si128(p, 1));
        p = _mm_adds_epu8(p, _mm_slli_si128(p, 2));
        p = _mm_adds_epu8(p, _mm_slli_si128(p, 4));
        p = _mm_adds_epu8(p, _mm_slli_si128(p, 8));
        p = _mm_adds_epu8(p, carry);
        if constexpr (kBelow) _mm_store_si128(reinterpret_cast<__m128i*>(sums + b), p);
        const __m128i le = _mm_cmpeq_epi8(_mm_subs_epu8(p, needV), zero);
        within |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(le))} << b;
        const __m128i high = _mm_shufflehi_epi16(_mm_unpackhi_epi8(p, p), 0xFF);
        carry = _mm_shuffle_epi32(high, 0xFF);  // the last sum in every byte
    }
    const auto bin = static_cast<std::uint32_t>(std::countr_one(within));
#else
    std::uint32_t run = 0, bin = 0;
    for (std::uint32_t b = 0; b < bins; ++b) {
        run = std::min(255u, run + k[b]);
        sums[b] = static_cast<std::uint8_t>(run);
        bin += run <= need ? 1u : 0u;
    }
#endif
    if constexpr (kBelow)
        if (bin > 0 && bin < bins) below += sums[bin - 1];
    return bin;
}

// 0, 1, 2, ...: the bin numbers, a vector at a time.
alignas(16) constexpr std::array<std::uint8_t, kMaxBins> kBinIndex = [] {
    std::array<std::uint8_t, kMaxBins> a{};
    for (std::uint32_t b = 0; b < kMaxBins; ++b)
        a[b] = static_cast<std::uint8_t>(b);
    return a;
}();

// Whether the median still lies in bin c, as it usually does from one pixel to the next: then
// below grows by the count of the bins before c. Cheaper than findBin, and the branch on it
// predicts well.
inline bool stillIn(const std::uint8_t* k, std::uint32_t bins, std::uint32_t c,
                    std::uint32_t& below, std::uint32_t rank) {
#if defined(__SSE2__)
    const __m128i cv = _mm_set1_epi8(static_cast<char>(c));
    __m128i sum = _mm_setzero_si128();
    for (std::uint32_t b = 0; b < bins; b += 16) {
        const __m128i bin = _mm_load_si128(reinterpret_cast<const __m128i*>(kBinIndex.data() + b));
        const __m128i before = _mm_and_si128(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(k + b)), _mm_cmplt_epi8(bin, cv));
        sum = _mm_add_epi64(sum, _mm_sad_epu8(before, _mm_setzero_si128()));
    }
    sum = _mm_add_epi64(sum, _mm_shuffle_epi32(sum, 0x4E));
    const auto lo = static_cast<std::uint32_t>(_mm_cvtsi128_si32(sum));
#else
    std::uint32_t lo = 0;
    for (std::uint32_t b = 0; b < std::min(c, bins); ++b)
        lo += k[b];
#endif
    // A count of 256 read as 0 never passes, and findBin deals with it.
    const std::uint32_t at = below + lo;
    if (at > rank || at + k[c] <= rank) return false;
    below = at;
    return true;
}

// A lazily kept window histogram: the position at which it was last brought up to date.
// Positions count along the rows of a stripe and jump by more than a window between rows, so a
// histogram left in an earlier row is always rebuilt.
struct Lazy {
    std::int64_t at = -(std::int64_t{1} << 40);
};

// Brings the window histogram k of one sub-range up to date for the window whose left column is
// first (at position pos): from the columns passed since its last use when they are few, else
// rebuilt from the window's n columns. columns points at the sub-range's histogram of strip
// column 0, the next column bins bytes further.
inline void catchUp(std::uint8_t* k, Lazy& lazy, const std::uint8_t* columns, std::uint32_t bins,
                    std::int64_t pos, std::uint32_t first, std::uint32_t n) {
    const std::int64_t passed = pos - lazy.at;
    if (passed * 3 <= n) {  // a step costs about three times what a column of a rebuild does
        for (auto g = static_cast<std::uint32_t>(first - passed + 1); g <= first; ++g)
            slideWindow(k, columns + std::size_t{g + n - 1} * bins,
                        columns + std::size_t{g - 1} * bins, bins);
    } else {
        sumColumns(k, columns + std::size_t{first} * bins, bins, n, bins);
    }
    lazy.at = pos;
}

// Extra memory for the column histograms, which sets the stripe width.
constexpr std::size_t kColumnBudget = std::size_t{4} << 20;
constexpr std::uint32_t kMinStripe = 32, kMaxStripe = 256;

// The histograms' layout, the same for every band of rows (the bins of each level padded to a
// multiple of 16 are template arguments of the band's filter).
struct Levels {
    std::uint32_t n;       // window size
    int b1, b2;            // bits of the middle and fine levels
    std::uint32_t n0, n1;  // bins of the top and middle levels
    std::uint32_t stripe;  // output columns of a stripe
};

// Filters rows y0 .. y1 - 1 of the image in place (band number band of edges' strips).
template <class T, std::uint32_t p0, std::uint32_t p1, std::uint32_t p2>
void medianBand(Image& image, const Levels levels, const StripEdges<T>& edges, std::uint32_t band,
                std::uint32_t y0, std::uint32_t y1) {
    // Plain locals: the loops' byte stores could otherwise alias them, and they would be loaded
    // again after each.
    const std::uint32_t w = image.width(), h = image.height();
    const std::uint32_t n = levels.n, before = n / 2, after = (n - 1) / 2, rank = n * n / 2;
    const int b1 = levels.b1, b2 = levels.b2;
    const std::uint32_t n0 = levels.n0, n1 = levels.n1;
    const std::uint32_t fineMask = (1u << b2) - 1;
    const std::uint32_t stripe = levels.stripe, sw = stripe + n - 1;  // strip columns

    // Column histograms: top [column][bin], middle [top bin][column][bin], fine [top and
    // middle bin][column][bin], so that the columns of one sub-range lie together.
    std::vector<std::uint8_t> colTop(std::size_t{sw} * p0, 0);
    std::vector<std::uint8_t> colMid(std::size_t{n0} * sw * p1, 0);
    std::vector<std::uint8_t> colFine(std::size_t{n0} * n1 * sw * p2, 0);
    std::vector<std::uint8_t> kTop(p0), kMid(std::size_t{n0} * p1),
        kFine(std::size_t{n0} * n1 * p2);
    std::vector<Lazy> midLazy(n0), fineLazy(std::size_t{n0} * n1);
    // Plain pointers for the loop over pixels: the byte stores there could otherwise alias
    // the vectors' own pointers, which would then be reloaded after each.
    std::uint8_t* const kTopP = kTop.data();
    std::uint8_t* const kMidP = kMid.data();
    std::uint8_t* const kFineP = kFine.data();
    const std::uint8_t* const colTopP = colTop.data();
    const std::uint8_t* const colMidP = colMid.data();
    const std::uint8_t* const colFineP = colFine.data();
    Lazy* const midLazyP = midLazy.data();
    Lazy* const fineLazyP = fineLazy.data();

    // The strip's input rows, original values, in a ring of n + 1 rows (the window's rows and
    // the one leaving it); row y at slot y % (n + 1). The band's rows are overwritten a row at
    // a time, so the columns left of the stripe, which the previous stripe overwrote, come
    // from a copy it kept of them: before columns for every row from ylo on.
    auto clampRow = [&](std::int64_t y) {
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(y, 0, h - 1));
    };
    const std::uint32_t ylo = clampRow(std::int64_t{y0} - before);
    const std::uint32_t rows = clampRow(std::int64_t{y1} - 1 + after) + 1 - ylo;
    const std::uint32_t slots = n + 1;
    std::vector<T> ring(std::size_t{slots} * sw);
    std::vector<T> keptPrev(std::size_t{before} * rows), keptNext(std::size_t{before} * rows);

    std::int64_t pos0 = 0;  // position of the current row's first window
    for (std::uint32_t x0 = 0; x0 < w; x0 += stripe) {
        const std::uint32_t x1 = std::min(w, x0 + stripe);
        const std::uint32_t outCols = x1 - x0, cols = outCols + n - 1;
        auto ringRow = [&](std::uint32_t y) { return ring.data() + std::size_t{y % slots} * sw; };
        // Strip column j holds image column x0 - before + j (edges replicated). Rows beyond
        // the band come whole from the copies of the edges.
        auto load = [&](std::uint32_t y) {
            T* d = ringRow(y);
            const bool own = y >= y0 && y < y1;
            const T* src = own ? rowOf<T>(image, y) : edges.row(band, y);
            // The first before columns lie left of the stripe: beyond the image's edge for the
            // first stripe, overwritten by the previous stripe in the band's own rows.
            std::uint32_t j = 0;
            if (x0 == 0) {
                std::fill(d, d + before, src[0]);
                j = before;
            } else if (own) {
                const T* kept = keptPrev.data() + std::size_t{y - ylo} * before;
                std::copy(kept, kept + before, d);
                j = before;
            }
            const std::uint32_t c0 = x0 + j - before;  // the image column of strip column j
            const std::uint32_t inside = std::min(cols - j, w - c0);
            std::copy(src + c0, src + c0 + inside, d + j);
            std::fill(d + j + inside, d + cols, src[w - 1]);
            std::copy(d + outCols, d + outCols + before,
                      keptNext.data() + std::size_t{y - ylo} * before);
#if defined(__GNUC__)
            // The stripe's part of a row two rows on: the rows lie a whole image row apart, a
            // stride the processor does not fetch ahead by itself.
            if (y + 2 < y1) {
                const auto* next = reinterpret_cast<const char*>(rowOf<T>(image, y + 2) + x0);
                const std::size_t bytes = std::min(outCols + after, w - x0) * sizeof(T);
                for (std::size_t b = 0; b < bytes; b += 64)
                    __builtin_prefetch(next + b);
            }
#endif
        };
        auto addSample = [&](std::uint32_t j, T v, int delta) {
            const std::uint32_t m = v >> b2;  // top and middle bits together
            const std::uint32_t t = m >> b1;
            std::uint8_t& ct = colTop[std::size_t{j} * p0 + t];
            std::uint8_t& cm = colMid[(std::size_t{t} * sw + j) * p1 + (m & (n1 - 1))];
            std::uint8_t& cf = colFine[(std::size_t{m} * sw + j) * p2 + (v & fineMask)];
            ct = static_cast<std::uint8_t>(ct + delta);
            cm = static_cast<std::uint8_t>(cm + delta);
            cf = static_cast<std::uint8_t>(cf + delta);
        };
        // Column histograms of the window rows of the band's first row.
        std::uint32_t loaded = ylo;
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t y = clampRow(std::int64_t{y0} + k - before);
            while (loaded <= y)
                load(loaded++);
            const T* r = ringRow(y);
            for (std::uint32_t j = 0; j < cols; ++j)
                addSample(j, r[j], +1);
        }
        for (std::uint32_t y = y0; y < y1; ++y, pos0 += sw + 1) {
            if (y > y0) {
                const std::uint32_t out = clampRow(std::int64_t{y} - 1 - before);
                const std::uint32_t in = clampRow(std::int64_t{y} + after);
                while (loaded <= in)
                    load(loaded++);
                if (out != in) {
                    const T* ro = ringRow(out);
                    const T* ri = ringRow(in);
                    for (std::uint32_t j = 0; j < cols; ++j) {
                        addSample(j, ro[j], -1);
                        addSample(j, ri[j], +1);
                    }
                }
            }
            T* outRow = rowOf<T>(image, y) + x0;
            const T* anyRow = ringRow(y);
            // The middle and fine histograms in use, carried along while the median stays
            // in their bin (the usual case): the branch on it predicts well, and the work on
            // them then need not wait for the search that picks them.
            std::uint32_t curT = p0, curM = n0 * n1;  // none yet
            std::uint8_t *mid = nullptr, *fine = nullptr;
            const std::uint8_t *midCols = nullptr, *fineCols = nullptr;
            for (std::uint32_t first = 0; first < outCols; ++first) {
                const std::int64_t pos = pos0 + first;
                if (first == 0)
                    sumColumns(kTopP, colTopP, p0, n, p0);
                else
                    slideWindow(kTopP, colTopP + std::size_t{first + n - 1} * p0,
                                colTopP + std::size_t{first - 1} * p0, p0);
                // A bin not found: the window's samples all lie in one bin, so any of them
                // tells which (and none lie below it).
                const T any = anyRow[first];
                std::uint32_t below = 0;
                std::uint32_t t = curT;
                if (curT == p0 || !stillIn(kTopP, p0, curT, below, rank)) {
                    t = findBin(kTopP, p0, below, rank);
                    if (t == p0) t = any >> (b1 + b2);
                }
                if (t == curT) {
                    slideWindow(mid, midCols + std::size_t{first + n - 1} * p1,
                                midCols + std::size_t{first - 1} * p1, p1);
                } else {
                    if (curT != p0) midLazyP[curT].at = pos - 1;
                    curT = t;
                    mid = kMidP + std::size_t{t} * p1;
                    midCols = colMidP + std::size_t{t} * sw * p1;
                    catchUp(mid, midLazyP[t], midCols, p1, pos, first, n);
                }
                std::uint32_t m = curM;
                if (curM >> b1 != t || !stillIn(mid, p1, curM & (n1 - 1), below, rank)) {
                    m = findBin(mid, p1, below, rank);
                    m = t * n1 + (m == p1 ? (any >> b2) & (n1 - 1) : m);
                }
                if (m == curM) {
                    slideWindow(fine, fineCols + std::size_t{first + n - 1} * p2,
                                fineCols + std::size_t{first - 1} * p2, p2);
                } else {
                    if (curM != n0 * n1) fineLazyP[curM].at = pos - 1;
                    curM = m;
                    fine = kFineP + std::size_t{m} * p2;
                    fineCols = colFineP + std::size_t{m} * sw * p2;
                    catchUp(fine, fineLazyP[m], fineCols, p2, pos, first, n);
                }
                std::uint32_t f = findBin<false>(fine, p2, below, rank);  // the last level
                f = f == p2 ? any & fineMask : f;
                outRow[first] = static_cast<T>(m << b2 | f);
            }
            midLazyP[curT].at = fineLazyP[curM].at = pos0 + outCols - 1;
        }
        // Take the last window's rows out again so the column histograms are empty.
        for (std::uint32_t k = 0; k < n; ++k) {
            const T* r = ringRow(clampRow(std::int64_t{y1} - 1 - before + k));
            for (std::uint32_t j = 0; j < cols; ++j)
                addSample(j, r[j], -1);
        }
        std::swap(keptPrev, keptNext);
    }
}

template <class T>
void medianHistogramImpl(Image& image, int size, Workers* workers) {
    const std::uint32_t w = image.width(), h = image.height();
    const std::uint32_t n = static_cast<std::uint32_t>(size);

    // Three levels over the bits the image really uses: top, middle and fine. The fine and top
    // levels get a third of the bits each, the middle one the rest.
    const std::uint32_t top = minMax(image, workers).second;
    const int bits = std::max(1, static_cast<int>(std::bit_width(top)));
    const int b2 = bits / 3, b0 = bits / 3, b1 = bits - b0 - b2;
    const std::uint32_t n0 = 1u << b0, n1 = 1u << b1;
    const std::uint32_t p0 = padded(n0), p1 = padded(n1), p2 = padded(1u << b2);

    const std::size_t perColumn = p0 + std::size_t{n0} * p1 + std::size_t{n0} * n1 * p2;
    const auto fits = static_cast<std::uint32_t>(
        std::min<std::size_t>(kMaxStripe + n - 1, kColumnBudget / perColumn));
    const std::uint32_t stripe = std::min(w, std::max(kMinStripe, fits - std::min(fits, n - 1)));
    const Levels levels{n, b1, b2, n0, n1, stripe};

    // Bands of rows on the workers, each with histograms of its own; the rows a band's windows
    // reach beyond it come from copies taken before any band starts.
    const Strips bands(h, std::max(64u, 4 * n), workers);
    const StripEdges<T> edges(image, bands, n / 2, (n - 1) / 2);
    // The loops over bins with their counts known when compiled: unrolled, their vectors kept
    // in registers. The top and fine levels have the same bits; the middle one up to two more.
    auto run = [&](auto filter) {
        runStrips(workers, bands, [&](std::uint32_t band, std::uint32_t y0, std::uint32_t y1) {
            filter(image, levels, edges, band, y0, y1);
        });
    };
    if constexpr (sizeof(T) == 1) {
        run(medianBand<T, 16, 16, 16>);
    } else if (p0 == 16) {
        run(p1 == 16   ? medianBand<T, 16, 16, 16>
            : p1 == 32 ? medianBand<T, 16, 32, 16>
                       : medianBand<T, 16, 64, 16>);
    } else {
        run(p1 == 32 ? medianBand<T, 32, 32, 32> : medianBand<T, 32, 64, 32>);
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

// Sizes 2 to 5 by comparisons alone, vectorised along the row. Each row is done in two passes:
// first every column of the window's rows is sorted once (it serves the size windows that
// contain it), then each window's median is taken from its size sorted columns. 2 x 2: the upper
// median of four is the larger of the smaller column top and the larger column bottom. 3 x 3:
// the median of the largest column minimum, the median of the column middles and the smallest
// column maximum. 4 x 4 and 5 x 5: a comparator network that merges the sorted columns, cut
// down to what the value of rank size*size/2 depends on (see mergeNetwork).

// Keys: the samples as the min and max instructions compare them. Bytes compare unsigned;
// SSE2 has only signed 16-bit min and max, so 16-bit samples have their top bit flipped, which
// keeps their order as signed numbers.
template <class T>
struct Key {
    using K = std::uint8_t;
    static K of(T v) { return v; }
    static T back(K k) { return k; }
};
template <>
struct Key<std::uint16_t> {
    using K = std::int16_t;
    static K of(std::uint16_t v) { return static_cast<K>(v ^ 0x8000u); }
    static std::uint16_t back(K k) {
        return static_cast<std::uint16_t>(static_cast<std::uint16_t>(k) ^ 0x8000u);
    }
};

// One key at a time: for the ends of rows too short for a whole vector.
template <class T>
struct ScalarKeys {
    using K = typename Key<T>::K;
    using V = K;
    static constexpr std::size_t kLanes = 1;
    static V load(const K* p) { return *p; }
    static void store(K* p, V v) { *p = v; }
    static V fromSamples(const T* p) { return Key<T>::of(*p); }
    static void toSamples(T* p, V v) { *p = Key<T>::back(v); }
    static V lo(V a, V b) { return a < b ? a : b; }
    static V hi(V a, V b) { return a < b ? b : a; }
};

#if defined(__SSE2__)
template <class T>
struct VectorKeys;
template <>
struct VectorKeys<std::uint8_t> {
    using K = std::uint8_t;
    using V = __m128i;
    static constexpr std::size_t kLanes = 16;
    static V load(const K* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(K* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static V fromSamples(const std::uint8_t* p) { return load(p); }
    static void toSamples(std::uint8_t* p, V v) { store(p, v); }
    static V lo(V a, V b) { return _mm_min_epu8(a, b); }
    static V hi(V a, V b) { return _mm_max_epu8(a, b); }
};
template <>
struct VectorKeys<std::uint16_t> {
    using K = std::int16_t;
    using V = __m128i;
    static constexpr std::size_t kLanes = 8;
    static V flip(V v) { return _mm_xor_si128(v, _mm_set1_epi16(-0x8000)); }
    static V load(const K* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(K* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static V fromSamples(const std::uint16_t* p) {
        return flip(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static void toSamples(std::uint16_t* p, V v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), flip(v));
    }
    static V lo(V a, V b) { return _mm_min_epi16(a, b); }
    static V hi(V a, V b) { return _mm_max_epi16(a, b); }
};
#endif

// A comparator network: each step puts the smaller of places a and b at a and the larger at b,
// or only the one of them that is used later.
struct Step {
    std::uint8_t a, b;
    bool lo, hi;
};
struct Network {
    std::array<Step, 192> steps{};
    std::size_t count = 0;
};

// Sorting networks for a column of 2 to 5 samples (1, 3, 5 and 9 comparators).
constexpr Network columnSort(std::uint32_t n) {
    constexpr std::uint8_t kSorts[4][9][2] = {
        {{0, 1}},
        {{0, 1}, {1, 2}, {0, 1}},
        {{0, 1}, {2, 3}, {0, 2}, {1, 3}, {1, 2}},
        {{0, 1}, {3, 4}, {2, 4}, {2, 3}, {0, 3}, {0, 2}, {1, 4}, {1, 3}, {1, 2}}};
    constexpr std::size_t kCounts[4] = {1, 3, 5, 9};
    Network net;
    for (std::size_t i = 0; i < kCounts[n - 2]; ++i)
        net.steps[net.count++] = {kSorts[n - 2][i][0], kSorts[n - 2][i][1], true, true};
    return net;
}

// The median of n sorted columns of n (column c at places c*n .. c*n + n-1, ascending; the
// places beyond hold the largest key). Batcher's odd-even merge sort of 32 places is cut down
// in two ways. A comparator that never exchanges anything on such input is dropped: by the 0-1
// principle it is enough to try the inputs of zeros and ones with sorted columns, (n+1)^n of
// them, run here side by side as bit sets (bit i of a place: its value in input i). Then,
// walking back from the median's place, a comparator is kept only when a place it writes is
// used later, and only the outputs that are.
constexpr Network mergeNetwork(std::uint32_t n) {
    constexpr std::uint32_t kPlaces = 32, kWords = (7776 + 63) / 64;  // 6^5 inputs at most
    std::array<std::pair<std::uint8_t, std::uint8_t>, 191> all{};
    std::size_t count = 0;
    for (std::uint32_t p = 1; p < kPlaces; p *= 2)
        for (std::uint32_t k = p; k >= 1; k /= 2)
            for (std::uint32_t j = k % p; j + k < kPlaces; j += 2 * k)
                for (std::uint32_t i = 0; i < std::min(k, kPlaces - j - k); ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        all[count++] = {static_cast<std::uint8_t>(i + j),
                                        static_cast<std::uint8_t>(i + j + k)};
    std::uint32_t inputs = 1;
    for (std::uint32_t c = 0; c < n; ++c)
        inputs *= n + 1;
    std::array<std::array<std::uint64_t, kWords>, kPlaces> bits{};
    for (std::uint32_t i = 0; i < inputs; ++i) {
        const std::uint64_t bit = std::uint64_t{1} << (i % 64);
        for (std::uint32_t p = n * n; p < kPlaces; ++p)
            bits[p][i / 64] |= bit;
        for (std::uint32_t c = 0, rest = i; c < n; ++c, rest /= n + 1)
            for (std::uint32_t k = n - rest % (n + 1); k < n; ++k)  // the column's ones on top
                bits[c * n + k][i / 64] |= bit;
    }
    std::array<bool, 191> exchanges{};
    for (std::size_t s = 0; s < count; ++s) {
        auto& a = bits[all[s].first];
        auto& b = bits[all[s].second];
        for (std::uint32_t word = 0; word < kWords; ++word) {
            exchanges[s] = exchanges[s] || (a[word] & ~b[word]) != 0;
            const std::uint64_t lo = a[word] & b[word], hi = a[word] | b[word];
            a[word] = lo;
            b[word] = hi;
        }
    }
    std::array<bool, kPlaces> used{};
    used[n * n / 2] = true;
    Network back;
    for (std::size_t s = count; s-- > 0;) {
        const auto [a, b] = all[s];
        if (!exchanges[s] || (!used[a] && !used[b])) continue;
        back.steps[back.count++] = {a, b, used[a], used[b]};
        used[a] = used[b] = true;
    }
    Network net;
    for (std::size_t s = back.count; s-- > 0;)
        net.steps[net.count++] = back.steps[s];
    return net;
}

constexpr Network kSort2 = columnSort(2), kSort3 = columnSort(3), kSort4 = columnSort(4),
                  kSort5 = columnSort(5);
// Whole objects, not array elements: not every compiler takes a subobject as a template argument.
template <std::uint32_t n>
constexpr const Network& columnSortOf() {
    if constexpr (n == 2) return kSort2;
    if constexpr (n == 3) return kSort3;
    if constexpr (n == 4) return kSort4;
    if constexpr (n == 5) return kSort5;
}
constexpr Network kMerge4 = mergeNetwork(4), kMerge5 = mergeNetwork(5);
// Batcher's network has 191 comparators; for sorted columns far fewer remain.
static_assert(kMerge4.count == 33 && kMerge5.count == 85);

template <class Ops, const Network& net, std::size_t i>
inline void runStep(typename Ops::V* v) {
    constexpr Step s = net.steps[i];
    if constexpr (s.lo && s.hi) {
        const auto a = v[s.a], b = v[s.b];
        v[s.a] = Ops::lo(a, b);
        v[s.b] = Ops::hi(a, b);
    } else if constexpr (s.lo) {
        v[s.a] = Ops::lo(v[s.a], v[s.b]);
    } else {
        v[s.b] = Ops::hi(v[s.a], v[s.b]);
    }
}
template <class Ops, const Network& net, std::size_t... I>
inline void runNetwork(typename Ops::V* v, std::index_sequence<I...>) {
    (runStep<Ops, net, I>(v), ...);
}
template <class Ops, const Network& net>
inline void runNetwork(typename Ops::V* v) {
    runNetwork<Ops, net>(v, std::make_index_sequence<net.count>{});
}

// Sorts the columns i = from, from + lanes, ... of the n rows into the keys s[0] <= .. <= s[n-1];
// returns where it stopped.
template <class T, class Ops, std::uint32_t n>
std::size_t sortColumns(const T* const* rows, typename Ops::K* const* s, std::size_t from,
                        std::size_t to) {
    std::size_t i = from;
    for (; i + Ops::kLanes <= to; i += Ops::kLanes) {
        typename Ops::V c[n];
        for (std::uint32_t k = 0; k < n; ++k)
            c[k] = Ops::fromSamples(rows[k] + i);
        runNetwork<Ops, columnSortOf<n>()>(c);
        for (std::uint32_t k = 0; k < n; ++k)
            Ops::store(s[k] + i, c[k]);
    }
    return i;
}

// The medians of the windows of x = from, from + lanes, ... from their sorted columns x .. x+n-1;
// returns where it stopped.
template <class T, class Ops, std::uint32_t n>
std::size_t medianOfColumns(const typename Ops::K* const* s, T* out, std::size_t from,
                            std::size_t to) {
    using V = typename Ops::V;
    std::size_t x = from;
    for (; x + Ops::kLanes <= to; x += Ops::kLanes) {
        V r;
        if constexpr (n == 2) {
            r = Ops::hi(Ops::lo(Ops::load(s[1] + x), Ops::load(s[1] + x + 1)),
                        Ops::hi(Ops::load(s[0] + x), Ops::load(s[0] + x + 1)));
        } else if constexpr (n == 3) {
            const V a = Ops::hi(Ops::hi(Ops::load(s[0] + x), Ops::load(s[0] + x + 1)),
                                Ops::load(s[0] + x + 2));
            const V c = Ops::lo(Ops::lo(Ops::load(s[2] + x), Ops::load(s[2] + x + 1)),
                                Ops::load(s[2] + x + 2));
            const V p = Ops::load(s[1] + x), q = Ops::load(s[1] + x + 1);
            const V b = Ops::hi(Ops::lo(p, q), Ops::lo(Ops::hi(p, q), Ops::load(s[1] + x + 2)));
            r = Ops::hi(Ops::lo(a, b), Ops::lo(Ops::hi(a, b), c));
        } else {
            V v[n * n];
            for (std::uint32_t c = 0; c < n; ++c)
                for (std::uint32_t k = 0; k < n; ++k)
                    v[c * n + k] = Ops::load(s[k] + x + c);
            runNetwork<Ops, n == 4 ? kMerge4 : kMerge5>(v);
            r = v[n * n / 2];
        }
        Ops::toSamples(out + x, r);
    }
    return x;
}

template <class T, std::uint32_t n>
void medianSmallImpl(Image& image, Workers* workers) {
    using K = typename Key<T>::K;
    const std::size_t cols = std::size_t{image.width()} + n - 1;
    // Rows y - n/2 .. y + (n-1)/2 (the first n of them), column x of the image at index x + n/2:
    // the window of x is at indices x .. x + n - 1.
    eachRowWithNeighbours<T>(image, n / 2, workers, [&] {
        return [&, sorted = std::vector<K>(cols * n)](const T* const* rows, T* out, std::uint32_t w,
                                                      std::uint32_t) mutable {
            K* s[n];
            for (std::uint32_t k = 0; k < n; ++k)
                s[k] = sorted.data() + k * cols;
            std::size_t i = 0, x = 0;
#if defined(__SSE2__)
            i = sortColumns<T, VectorKeys<T>, n>(rows, s, i, cols);
#endif
            sortColumns<T, ScalarKeys<T>, n>(rows, s, i, cols);
#if defined(__SSE2__)
            x = medianOfColumns<T, VectorKeys<T>, n>(s, out, x, w);
#endif
            medianOfColumns<T, ScalarKeys<T>, n>(s, out, x, w);
        };
    });
}

void checkSize(int size) {
    if (size < 2 || size > 16) throw std::invalid_argument("median size must be 2 to 16");
}

}  // namespace

void medianFilter(Image& image, int size, Workers* workers) {
    checkSize(size);
    withSamples(image, [&](auto* p) {
        using T = std::remove_pointer_t<decltype(p)>;
        if (size == 2)
            medianSmallImpl<T, 2>(image, workers);
        else if (size == 3)
            medianSmallImpl<T, 3>(image, workers);
        else if (size == 4)
            medianSmallImpl<T, 4>(image, workers);
        else if (size == 5)
            medianSmallImpl<T, 5>(image, workers);
        else
            medianHistogramImpl<T>(image, size, workers);
    });
}

namespace detail {

void medianHistogram(Image& image, int size, Workers* workers) {
    checkSize(size);
    withSamples(image, [&](auto* p) {
        medianHistogramImpl<std::remove_pointer_t<decltype(p)>>(image, size, workers);
    });
}

}  // namespace detail

void medianFilterReference(Image& image, int size) {
    checkSize(size);
    withSamples(image, [&](auto* p) {
        medianReferenceImpl<std::remove_pointer_t<decltype(p)>>(image, size);
    });
}

}  // namespace quilo::imaging
