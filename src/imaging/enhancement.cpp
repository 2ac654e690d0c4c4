#include "imaging/enhancement.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/operations.h"
#include "imaging/samples.h"
#include "imaging/tiff.h"

namespace quilo::imaging {
namespace {

constexpr std::uint32_t kMaxBins = 4096;

EnhancementOptions clampOptions(EnhancementOptions o) {
    o.tilesX = std::clamp(o.tilesX, 1, 32);
    o.tilesY = std::clamp(o.tilesY, 1, 32);
    o.clipLimit = std::isfinite(o.clipLimit) ? std::clamp(o.clipLimit, 1.0, 100.0) : 2.0;
    o.sharpen = std::clamp(o.sharpen, 0, 200);
    o.blend = std::clamp(o.blend, 0, 100);
    return o;
}

// Where along one axis the pixels take their two neighbouring regions from, and
// the weight (0..256) of the second one: regions are interpolated between their
// centres.
struct Axis {
    std::vector<std::uint32_t> first, second;
    std::vector<std::uint32_t> weight;
};

Axis makeAxis(std::uint32_t length, std::uint32_t regions) {
    Axis a;
    a.first.resize(length);
    a.second.resize(length);
    a.weight.resize(length);
    std::vector<double> centre(regions);
    for (std::uint32_t k = 0; k < regions; ++k) {
        const std::uint64_t b0 = std::uint64_t{k} * length / regions;
        const std::uint64_t b1 = std::uint64_t{k + 1} * length / regions;
        centre[k] = (static_cast<double>(b0) + static_cast<double>(b1) - 1.0) / 2.0;
    }
    std::uint32_t k = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        while (k + 1 < regions && centre[k + 1] <= i)
            ++k;
        if (i <= centre[0] || k + 1 >= regions) {
            a.first[i] = a.second[i] = (i <= centre[0]) ? 0 : regions - 1;
            a.weight[i] = 0;
        } else {
            a.first[i] = k;
            a.second[i] = k + 1;
            a.weight[i] = static_cast<std::uint32_t>(
                std::lround(256.0 * (i - centre[k]) / (centre[k + 1] - centre[k])));
        }
    }
    return a;
}

// A stretch of pixels along one axis that takes its mappings from the same two
// regions.
struct Run {
    std::uint32_t begin, end, first, second;
};

std::vector<Run> runsOf(const Axis& a) {
    std::vector<Run> runs;
    for (std::uint32_t i = 0; i < a.first.size(); ++i) {
        if (runs.empty() || runs.back().first != a.first[i] || runs.back().second != a.second[i])
            runs.push_back({i, i, a.first[i], a.second[i]});
        runs.back().end = i + 1;
    }
    return runs;
}

// The histogram bin of a sample v: (v - base) >> shift, or with Inverted, the bin of the inverted
// sample max - v, which is (base - v) >> shift with base = max - (the smallest inverted sample).
template <bool Inverted>
std::uint32_t binOf(std::uint32_t v, std::uint32_t base, int shift) {
    return (Inverted ? base - v : v - base) >> shift;
}

// The pixels begin..end of one row, whose four mappings are packed in q:
// bilinear weights wx across (per pixel, 0..256; pair holds each in both 16-bit halves) and wy
// down (0..256).
template <class T, class U, bool Inverted, class Quad>
void interpolateRun(const T* __restrict src, U* __restrict dst, const Quad* __restrict q,
                    const std::uint32_t* __restrict weight, const std::uint32_t* __restrict pair,
                    std::uint32_t begin, std::uint32_t end, std::uint32_t base, int shift,
                    std::uint32_t wy) {
    const std::uint32_t wy0 = 256 - wy;
    std::uint32_t x = begin;
#if defined(__SSE2__)
    if constexpr (sizeof(U) == 1) {
        // Eight pixels at a time, the same arithmetic: the bins of all eight at once (samples and
        // bins fit 16 bits), the pairs as below, then the vertical blend by a signed multiply-add
        // on the pairs shifted down by 32768, which the constant added afterwards gives back
        // exactly.
        const __m128i wyPair = _mm_set1_epi32(static_cast<int>(wy0 | wy << 16));
        const __m128i bytes = _mm_set1_epi32(0x00ff00ff);
        const __m128i flip = _mm_set1_epi32(static_cast<int>(0x80008000u));
        const __m128i both256 = _mm_set1_epi32(0x01000100);
        const __m128i back = _mm_set1_epi32(256 * 32768 + 32768);
        const __m128i baseV = _mm_set1_epi16(static_cast<short>(base));
        const __m128i count = _mm_cvtsi32_si128(shift);
        const __m128i zero = _mm_setzero_si128();
        auto blend = [&](__m128i v, std::uint32_t at) {
            const __m128i wx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pair + at));
            const __m128i wx0 = _mm_sub_epi16(both256, wx);
            const __m128i pairs =
                _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(v, bytes), wx0),
                              _mm_mullo_epi16(_mm_and_si128(_mm_srli_epi32(v, 8), bytes), wx));
            return _mm_srli_epi32(
                _mm_add_epi32(_mm_madd_epi16(_mm_xor_si128(pairs, flip), wyPair), back), 16);
        };
        for (; x + 8 <= end; x += 8) {
            __m128i s;
            if constexpr (sizeof(T) == 1)
                s = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + x)),
                                      zero);
            else
                s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
            const __m128i b =
                _mm_srl_epi16(Inverted ? _mm_sub_epi16(baseV, s) : _mm_sub_epi16(s, baseV), count);
            auto at = [&]<int I>() {
                return _mm_cvtsi32_si128(static_cast<int>(q[_mm_extract_epi16(b, I)]));
            };
            const __m128i v0 = _mm_unpacklo_epi64(
                _mm_unpacklo_epi32(at.template operator()<0>(), at.template operator()<1>()),
                _mm_unpacklo_epi32(at.template operator()<2>(), at.template operator()<3>()));
            const __m128i v1 = _mm_unpacklo_epi64(
                _mm_unpacklo_epi32(at.template operator()<4>(), at.template operator()<5>()),
                _mm_unpacklo_epi32(at.template operator()<6>(), at.template operator()<7>()));
            const __m128i r = _mm_packs_epi32(blend(v0, x), blend(v1, x + 4));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + x), _mm_packus_epi16(r, r));
        }
    }
#else
    (void)pair;
#endif
    for (; x < end; ++x) {
        const Quad v = q[binOf<Inverted>(src[x], base, shift)];
        const std::uint32_t wx = weight[x], wx0 = 256 - wx;
        if constexpr (sizeof(U) == 1) {
            // Both pairs at once: the upper one in the low half, the lower one in the
            // high half; each stays below 2^16, so neither carries.
            const std::uint32_t pairs = (v & 0x00ff00ffu) * wx0 + ((v >> 8) & 0x00ff00ffu) * wx;
            dst[x] = static_cast<U>(((pairs & 0xffffu) * wy0 + (pairs >> 16) * wy + 32768) >> 16);
        } else {
            const std::uint64_t upper = (v & 0xffff) * wx0 + (v >> 16 & 0xffff) * wx;
            const std::uint64_t lower = (v >> 32 & 0xffff) * wx0 + (v >> 48 & 0xffff) * wx;
            dst[x] = static_cast<U>((upper * wy0 + lower * wy + 32768) >> 16);
        }
    }
}

// Counts the samples x0..x1 - 1 of one row into hk and ok. Its values in plain locals: as
// captures of an enclosing lambda the counts' stores could alias them, and they would be loaded
// again after each. The odd columns are counted apart (in ok): neighbours often fall into the
// same bin, and one count's increment would wait for the other's.
template <class T, bool Inverted>
void countRow(const T* row, std::uint32_t x0, std::uint32_t x1, std::uint32_t base, int shift,
              std::uint32_t* __restrict hk, std::uint32_t* __restrict ok) {
    std::uint32_t x = x0;
#if defined(__SSE2__)
    // The bins of eight samples at once (samples and bins fit 16 bits).
    const __m128i baseV = _mm_set1_epi16(static_cast<short>(base));
    const __m128i count = _mm_cvtsi32_si128(shift);
    for (; x + 8 <= x1; x += 8) {
        __m128i s;
        if constexpr (sizeof(T) == 1)
            s = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x)),
                                  _mm_setzero_si128());
        else
            s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const __m128i b =
            _mm_srl_epi16(Inverted ? _mm_sub_epi16(baseV, s) : _mm_sub_epi16(s, baseV), count);
        ++hk[_mm_extract_epi16(b, 0)];
        ++ok[_mm_extract_epi16(b, 1)];
        ++hk[_mm_extract_epi16(b, 2)];
        ++ok[_mm_extract_epi16(b, 3)];
        ++hk[_mm_extract_epi16(b, 4)];
        ++ok[_mm_extract_epi16(b, 5)];
        ++hk[_mm_extract_epi16(b, 6)];
        ++ok[_mm_extract_epi16(b, 7)];
    }
#endif
    for (; x + 2 <= x1; x += 2) {
        ++hk[binOf<Inverted>(row[x], base, shift)];
        ++ok[binOf<Inverted>(row[x + 1], base, shift)];
    }
    if (x < x1) ++hk[binOf<Inverted>(row[x], base, shift)];
}

// The histograms of the regions of region row r (tx of bins counts each, at hist), from the rows
// makeAxis gives that row of regions. Where those rows fit the second-level cache (up to 1 MiB),
// one region at a time down all of them, so that its counts stay in the first-level cache;
// larger ones row by row as they lie in memory, which is what reading them from memory needs.
template <class T, bool Inverted>
void regionRowHistograms(const Image& in, std::uint32_t r, std::uint32_t ty, std::uint32_t tx,
                         std::uint32_t bins, std::uint32_t base, int shift, std::uint32_t* hist) {
    const std::uint32_t w = in.width(), h = in.height();
    std::vector<std::uint32_t> odd(std::size_t{tx} * bins, 0);
    const auto y0 = static_cast<std::uint32_t>(std::uint64_t{r} * h / ty);
    const auto y1 = static_cast<std::uint32_t>(std::uint64_t{r + 1} * h / ty);
    auto count = [&](std::uint32_t k, std::uint32_t y) {  // the regions' columns as makeAxis cuts
        countRow<T, Inverted>(
            rowOf<T>(in, y), static_cast<std::uint32_t>(std::uint64_t{k} * w / tx),
            static_cast<std::uint32_t>(std::uint64_t{k + 1} * w / tx), base, shift,
            hist + std::size_t{k} * bins, odd.data() + std::size_t{k} * bins);
    };
    if (std::uint64_t{y1 - y0} * w * sizeof(T) <= (std::uint64_t{1} << 20)) {
        for (std::uint32_t k = 0; k < tx; ++k)
            for (std::uint32_t y = y0; y < y1; ++y)
                count(k, y);
    } else {
        for (std::uint32_t y = y0; y < y1; ++y)
            for (std::uint32_t k = 0; k < tx; ++k)
                count(k, y);
    }
    for (std::size_t i = 0; i < odd.size(); ++i)
        hist[i] += odd[i];
}

// One region's mapping from its histogram hb (bins counts): clipped, the excess handed out
// evenly, the cumulative counts mapped onto 0..outMax and blended with the plain linear stretch
// by blend percent, into l; linear holds the stretch's share of each bin, plus the rounding:
// stretch x (100 - blend) + 50. Its values in plain locals, as regionRowHistograms.
template <class U>
void regionMapping(std::uint32_t* hb, std::uint32_t bins, const std::uint32_t* linear,
                   std::uint32_t outMax, double clipLimit, int blend, U* l) {
    std::uint64_t area = 0;
    for (std::uint32_t b = 0; b < bins; ++b)
        area += hb[b];
    const std::uint64_t counted = area;
    if (area == 0) area = 1;
    const auto clip =
        static_cast<std::uint32_t>(std::max(1.0, clipLimit * static_cast<double>(area) / bins));
    std::uint64_t kept = 0;
    for (std::uint32_t b = 0; b < bins; ++b) {
        hb[b] = std::min(hb[b], clip);
        kept += hb[b];
    }
    // The excess: each bin gets an equal share, and what does not divide evenly one count more
    // in every step-th bin from the first.
    const std::uint64_t excess = counted - kept;
    const auto each = static_cast<std::uint32_t>(excess / bins);
    const auto rest = static_cast<std::uint32_t>(excess % bins);
    if (rest) {
        const std::uint32_t step = std::max(1u, bins / rest);
        for (std::uint32_t k = 0; k < rest; ++k)
            ++hb[std::size_t{k} * step];
    }
    // q = floor(cdf * outMax / area), cdf the cumulative count, worked out again only when it
    // changes, at most once a grey level of the result (num = cdf * outMax reaches next, the
    // next multiple of area): most bins of a plate's wide histogram share their level. In double
    // it is exact: both operands are exact integers below 2^53, and a correctly rounded quotient
    // below 2^16 cannot reach the next integer when its distance from it is at least 1 / area;
    // that spares the 64-bit integer division that is slow on the 32-bit build. The blend of two
    // values of at most 65535 by percentages stays within 32 bits.
    const double dArea = static_cast<double>(area);
    const auto share = static_cast<std::uint32_t>(blend);
    std::uint64_t num = 0, next = area;
    std::uint32_t eq = 0;
    for (std::uint32_t b = 0; b < bins; ++b) {
        num += std::uint64_t{hb[b] + each} * outMax;
        if (num >= next) {
            const auto q = static_cast<std::uint32_t>(static_cast<double>(num) / dArea);
            next = (std::uint64_t{q} + 1) * area;
            eq = std::min(q, outMax) * share;
        }
        l[b] = static_cast<U>((eq + linear[b]) / 100);
    }
}

// With Inverted, the input is taken as inverted (v -> max - v) without being written.
template <class T, class U, bool Inverted>
void claheImpl(const Image& in, Image& out, const EnhancementOptions& o, Workers* workers) {
    const std::uint32_t w = in.width(), h = in.height();
    // Plain locals, not a structured binding: the strips' lambdas capture them.
    const auto range = minMax(in, workers);
    const std::uint32_t mx = in.maxValue();
    const std::uint32_t lo = Inverted ? mx - range.second : range.first;
    const std::uint32_t hi = Inverted ? mx - range.first : range.second;
    const std::uint32_t base = Inverted ? mx - lo : lo;  // see binOf
    int shift = 0;
    while (((hi - lo) >> shift) + 1 > kMaxBins)
        ++shift;
    const std::uint32_t bins = ((hi - lo) >> shift) + 1;
    const std::uint32_t tx = std::min<std::uint32_t>(static_cast<std::uint32_t>(o.tilesX), w);
    const std::uint32_t ty = std::min<std::uint32_t>(static_cast<std::uint32_t>(o.tilesY), h);
    const Axis ax = makeAxis(w, tx), ay = makeAxis(h, ty);

    // The histograms of each row of regions on a thread of its own (makeAxis cuts the rows as
    // below).
    std::vector<std::uint32_t> hist(std::size_t{tx} * ty * bins, 0);
    parallelRows(workers, ty, 1, [&](std::uint32_t r0, std::uint32_t r1) {
        for (std::uint32_t r = r0; r < r1; ++r)
            regionRowHistograms<T, Inverted>(in, r, ty, tx, bins, base, shift,
                                             hist.data() + std::size_t{r} * tx * bins);
    });
    // Per region: clip, hand the excess out evenly, and map the cumulative counts
    // onto the output range, blended with the plain linear stretch of the image's
    // range.
    const std::uint32_t outMax = out.maxValue();
    // Every value of lut and quads is written before it is read: no need to clear them first.
    const auto lut = std::make_unique_for_overwrite<U[]>(hist.size());
    std::vector<std::uint32_t> linear(bins);
    for (std::uint32_t b = 0; b < bins; ++b)
        linear[b] = (bins > 1 ? static_cast<std::uint32_t>(std::uint64_t{b} * outMax / (bins - 1))
                              : outMax / 2) *
                        static_cast<std::uint32_t>(100 - o.blend) +
                    50;
    parallelRows(workers, tx * ty, 4, [&](std::uint32_t t0, std::uint32_t t1) {
        for (std::uint32_t t = t0; t < t1; ++t)
            regionMapping<U>(hist.data() + std::size_t{t} * bins, bins, linear.data(), outMax,
                             o.clipLimit, o.blend, lut.get() + std::size_t{t} * bins);
    });
    // Bilinear interpolation between the four nearest regions' mappings. Within a
    // run of rows and a run of columns that share their regions, the four
    // mappings of each bin are packed side by side, so a pixel costs one table
    // load instead of four.
    using Quad = std::conditional_t<sizeof(U) == 1, std::uint32_t, std::uint64_t>;
    constexpr int kBits = 8 * sizeof(U);
    const std::vector<Run> runsX = runsOf(ax), runsY = runsOf(ay);
    std::vector<std::uint32_t> pair(w);
    for (std::uint32_t x = 0; x < w; ++x)
        pair[x] = ax.weight[x] | ax.weight[x] << 16;
    // The packed mappings of a group of runs of rows, made once and shared by the strips of
    // those rows: a strip packing those of the runs it meets would pack most of them twice.
    // Groups of at most about 4 MB, so that many regions with 16-bit results stay a small table.
    const std::size_t perRun = runsX.size() * bins;
    const std::size_t group =
        std::clamp<std::size_t>((std::size_t{4} << 20) / (perRun * sizeof(Quad)), 1, runsY.size());
    const auto quads = std::make_unique_for_overwrite<Quad[]>(group * perRun);
    for (std::size_t g0 = 0; g0 < runsY.size(); g0 += group) {
        const std::size_t g1 = std::min(runsY.size(), g0 + group);
        parallelRows(workers, static_cast<std::uint32_t>(g1 - g0), 1,
                     [&](std::uint32_t r0, std::uint32_t r1) {
                         for (std::uint32_t r = r0; r < r1; ++r) {
                             const Run& ry = runsY[g0 + r];
                             const U* top = lut.get() + std::size_t{ry.first} * tx * bins;
                             const U* bottom = lut.get() + std::size_t{ry.second} * tx * bins;
                             for (std::size_t i = 0; i < runsX.size(); ++i) {
                                 const U* tl = top + std::size_t{runsX[i].first} * bins;
                                 const U* tr = top + std::size_t{runsX[i].second} * bins;
                                 const U* bl = bottom + std::size_t{runsX[i].first} * bins;
                                 const U* br = bottom + std::size_t{runsX[i].second} * bins;
                                 Quad* q = quads.get() + r * perRun + i * bins;
                                 for (std::uint32_t b = 0; b < bins; ++b)
                                     q[b] = Quad{tl[b]} | Quad{tr[b]} << kBits |
                                            Quad{bl[b]} << 2 * kBits | Quad{br[b]} << 3 * kBits;
                             }
                         }
                     });
        // The group's rows in strips.
        const std::uint32_t first = runsY[g0].begin, rows = runsY[g1 - 1].end - first;
        parallelRows(workers, rows, 16, [&](std::uint32_t s0, std::uint32_t s1) {
            const std::uint32_t y0 = first + s0, y1 = first + s1;
            for (std::size_t r = g0; r < g1; ++r) {
                const Run& ry = runsY[r];
                if (ry.end <= y0 || ry.begin >= y1) continue;
                const Quad* q = quads.get() + (r - g0) * perRun;
                // A run of columns at a time down the rows, so that its packed mappings stay in
                // the first-level cache.
                const std::uint32_t ya = std::max(ry.begin, y0), yb = std::min(ry.end, y1);
                for (std::size_t i = 0; i < runsX.size(); ++i)
                    for (std::uint32_t y = ya; y < yb; ++y)
                        interpolateRun<T, U, Inverted>(
                            rowOf<T>(in, y), rowOf<U>(out, y), q + i * bins, ax.weight.data(),
                            pair.data(), runsX[i].begin, runsX[i].end, base, shift, ay.weight[y]);
            }
        });
    }
}

// The noise of the equalised image, per contextual region: the lower quartile of |9v - sum| over
// a 3 x 3 neighbourhood, from every eighth pixel of every eighth row (some five hundred samples
// a region on an intraoral plate). Most of a region is flat even where it holds edges, so the
// lower quartile stays a measure of the noise alone.
template <class U>
std::vector<std::int32_t> regionNoise(const Image& img, std::uint32_t tx, std::uint32_t ty,
                                      int shift) {
    constexpr std::uint32_t kBins = 1024;
    const std::uint32_t w = img.width(), h = img.height();
    std::vector<std::uint32_t> hist(std::size_t{tx} * ty * kBins, 0);
    for (std::uint32_t y = std::min(4u, h / 2); y + 1 < h; y += 8) {
        const U* up = rowOf<U>(img, y - 1);
        const U* mid = rowOf<U>(img, y);
        const U* down = rowOf<U>(img, y + 1);
        const auto r = static_cast<std::uint32_t>(std::uint64_t{y} * ty / h);
        for (std::uint32_t x = 1; x + 1 < w; x += 8) {
            std::int32_t sum = 0;
            for (std::uint32_t i = x - 1; i <= x + 1; ++i)
                sum += std::int32_t{up[i]} + mid[i] + down[i];
            const auto d = static_cast<std::uint32_t>(std::abs(9 * std::int32_t{mid[x]} - sum));
            const auto c = static_cast<std::uint32_t>(std::uint64_t{x} * tx / w);
            ++hist[(std::size_t{r} * tx + c) * kBins + std::min(d >> shift, kBins - 1)];
        }
    }
    std::vector<std::int32_t> quartile(std::size_t{tx} * ty, 0);
    for (std::size_t t = 0; t < quartile.size(); ++t) {
        const std::uint32_t* hb = hist.data() + t * kBins;
        std::uint64_t n = 0;
        for (std::uint32_t b = 0; b < kBins; ++b)
            n += hb[b];
        std::uint64_t seen = 0;
        for (std::uint32_t b = 0; b < kBins && n > 0; ++b)
            if ((seen += hb[b]) * 4 >= n) {
                quartile[t] = static_cast<std::int32_t>(((2 * b + 1) << shift) / 2);
                break;
            }
    }
    return quartile;
}

// One row of the noise-aware step: c holds the sums of the three rows per column (column x at
// c[x + 1]), mid the middle row (column x at mid[x + 1]), tr and kr the threshold and gain of
// each column. With d = 9v - (sum of the 3 x 3 neighbourhood), each result is
// clamp(round(v + d * (g - 1) / 9), 0, max) with the gain g = min(max(|d| - t, 0), t) * k, in
// single precision, rounded to nearest with ties to even as the vector unit's conversion does;
// the scalar loop computes exactly the same.
template <class U>
void denoiseRow(const std::int32_t* __restrict c, const U* __restrict mid, U* __restrict out,
                std::uint32_t w, const float* __restrict tr, const float* __restrict kr, float mx) {
    constexpr float kNinth = 1.0f / 9.0f;
    std::uint32_t x = 0;
#if defined(__SSE2__)
    const __m128 top = _mm_set1_ps(mx);
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), ninth = _mm_set1_ps(kNinth);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    auto four = [&](std::uint32_t at, __m128i v) {
        const __m128 tv = _mm_loadu_ps(tr + at), kv = _mm_loadu_ps(kr + at);
        const __m128i sum = _mm_add_epi32(
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + at)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + at + 1))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + at + 2)));
        const __m128 df =
            _mm_cvtepi32_ps(_mm_sub_epi32(_mm_add_epi32(_mm_slli_epi32(v, 3), v), sum));
        const __m128 e =
            _mm_min_ps(_mm_max_ps(_mm_sub_ps(_mm_and_ps(df, magnitude), tv), zero), tv);
        const __m128 g = _mm_sub_ps(_mm_mul_ps(e, kv), one);
        const __m128 r = _mm_add_ps(_mm_cvtepi32_ps(v), _mm_mul_ps(_mm_mul_ps(df, g), ninth));
        return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(r, zero), top));
    };
    const __m128i z = _mm_setzero_si128();
    for (; x + 8 <= w; x += 8) {
        if constexpr (sizeof(U) == 1) {
            const __m128i v8 = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mid + x + 1)), z);
            const __m128i lo = four(x, _mm_unpacklo_epi16(v8, z));
            const __m128i hi = four(x + 4, _mm_unpackhi_epi16(v8, z));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x),
                             _mm_packus_epi16(_mm_packs_epi32(lo, hi), z));
        } else {
            const __m128i v16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mid + x + 1));
            const __m128i lo = four(x, _mm_unpacklo_epi16(v16, z));
            const __m128i hi = four(x + 4, _mm_unpackhi_epi16(v16, z));
            // Unsigned 16-bit pack through the signed one: shift the range down and
            // back.
            const __m128i bias = _mm_set1_epi32(32768);
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(out + x),
                _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(lo, bias), _mm_sub_epi32(hi, bias)),
                              _mm_set1_epi16(static_cast<short>(0x8000))));
        }
    }
#endif
    for (; x < w; ++x) {
        const std::int32_t v = mid[x + 1];
        const auto df = static_cast<float>(9 * v - (c[x] + c[x + 1] + c[x + 2]));
        const float e = std::min(std::max(std::fabs(df) - tr[x], 0.0f), tr[x]);
        const float r = static_cast<float>(v) + df * (e * kr[x] - 1.0f) * kNinth;
        out[x] = static_cast<U>(std::nearbyint(std::min(std::max(r, 0.0f), mx)));
    }
}

// The final 3x3 step, aware of the noise: where a pixel differs from its
// neighbourhood's mean by no more than the noise could explain, it takes the
// mean (flat areas are smoothed); where it differs by more than twice that, the
// difference is raised by `strength` percent (edges are sharpened); in between
// the gain rises linearly. Plain sharpening lifts the noise of flat areas as
// much as the detail, which costs the faint details their visibility.
template <class U>
void sharpenAboveNoise(Image& img, int strength, std::uint32_t tx, std::uint32_t ty,
                       Workers* workers) {
    const std::uint32_t w = img.width(), h = img.height();
    tx = std::min(tx, w);
    ty = std::min(ty, h);
    const int bits = img.bitsPerPixel();
    const std::vector<std::int32_t> quartile = regionNoise<U>(img, tx, ty, std::max(0, bits - 10));
    // The lower quartile of |N(0, s)| is 0.32 s: the threshold is about twice the
    // noise.
    std::vector<float> threshold(quartile.size()), gain(quartile.size());
    const float full = 1.0f + static_cast<float>(std::clamp(strength, 0, 200)) / 100.0f;
    for (std::size_t t = 0; t < quartile.size(); ++t) {
        threshold[t] = static_cast<float>(std::max(1, quartile[t] * 6));
        gain[t] = full / threshold[t];
    }
    const auto mx = static_cast<float>(img.maxValue());
    eachRowWithNeighbours<U>(img, 1, workers, [&] {
        // The threshold and gain of each column, for the current row of regions.
        struct Row {
            std::vector<float> threshold, gain;
            std::vector<std::int32_t> column;
            std::uint32_t regionRow;
        };
        return [&, r = Row{std::vector<float>(w), std::vector<float>(w),
                           std::vector<std::int32_t>(std::size_t{w} + 2), ty}](
                   const U* const* rows, U* out, std::uint32_t, std::uint32_t y) mutable {
            const auto region = static_cast<std::uint32_t>(std::uint64_t{y} * ty / h);
            if (region != r.regionRow) {
                r.regionRow = region;
                for (std::uint32_t x = 0; x < w; ++x) {
                    const std::size_t t = std::size_t{region} * tx + std::uint64_t{x} * tx / w;
                    r.threshold[x] = threshold[t];
                    r.gain[x] = gain[t];
                }
            }
            // Sums of the three rows per column first, then the row.
            columnSums3(rows, r.column.data(), w);
            denoiseRow<U>(r.column.data(), rows[1], out, w, r.threshold.data(), r.gain.data(), mx);
        };
    });
}

}  // namespace

EnhancementOptions defaultEnhancementOptions(int imageType) {
    switch (imageType) {
        case kCephalometric:
            return {8, 8, 2.5, 60, 80};
        case kPanoramic:
            return {12, 6, 2.0, 50, 85};
        default:
            return {8, 8, 2.0, 40, 85};
    }
}

void enhanceRadiographInto(const Image& input, const EnhancementOptions& options, Image& out,
                           Workers* workers, bool inverted) {
    if (input.empty() || out.empty()) throw std::invalid_argument("no image to enhance");
    if (out.width() != input.width() || out.height() != input.height())
        throw std::invalid_argument("the enhanced image must have the input's size");
    const EnhancementOptions o = clampOptions(options);
    const bool in8 = input.bitsPerPixel() == 8, out8 = out.bitsPerPixel() == 8;
    auto clahe = [&]<class T, class U>() {
        if (inverted)
            claheImpl<T, U, true>(input, out, o, workers);
        else
            claheImpl<T, U, false>(input, out, o, workers);
    };
    if (in8 && out8) clahe.operator()<std::uint8_t, std::uint8_t>();
    if (in8 && !out8) clahe.operator()<std::uint8_t, std::uint16_t>();
    if (!in8 && out8) clahe.operator()<std::uint16_t, std::uint8_t>();
    if (!in8 && !out8) clahe.operator()<std::uint16_t, std::uint16_t>();
    const auto tx = static_cast<std::uint32_t>(o.tilesX), ty = static_cast<std::uint32_t>(o.tilesY);
    if (out8)
        sharpenAboveNoise<std::uint8_t>(out, o.sharpen, tx, ty, workers);
    else
        sharpenAboveNoise<std::uint16_t>(out, o.sharpen, tx, ty, workers);
}

Image enhanceRadiograph(const Image& input, const EnhancementOptions& options, int outBits,
                        Workers* workers) {
    if (input.empty()) throw std::invalid_argument("no image to enhance");
    Image out(input.width(), input.height(), outBits);
    out.setPitch(input.pitchX(), input.pitchY());
    enhanceRadiographInto(input, options, out, workers);
    return out;
}

EnhancementComponent::EnhancementComponent(platform::GlobalMemory& memory) : memory_(memory) {
    for (int t = 0; t < 3; ++t)
        options_[static_cast<std::size_t>(t)] = defaultEnhancementOptions(t);
}

void EnhancementComponent::setBitDepth(int bits) {
    bitDepth_ = (bits == 8 || bits == 12) ? bits : 16;
}

int EnhancementComponent::enhance(int imageType, const Image* bitmap, platform::HGlobal& outBlock,
                                  bool savePreview, bool inverted) {
    outBlock = 0;
    if (!bitmap || bitmap->empty()) return 1;
    if (imageType < 0 || imageType > 2) return 2;
    const auto t = static_cast<std::size_t>(imageType);
    try {
        if (savePreview) previews_[t] = reducedCopy(*bitmap, 256, workers_.get(), inverted);
        // The result goes straight into its TIFF block: no second copy of it is
        // ever held.
        platform::GlobalBlock block = makeTiffInGlobal(
            memory_, bitmap->width(), bitmap->height(), bitDepth_, bitmap->pitchX(),
            bitmap->pitchY(), [&](Image& out) {
                enhanceRadiographInto(*bitmap, options_[t], out, workers_.get(), inverted);
            });
        if (!block) return 3;
        outBlock = block.release();
        return 0;
    } catch (const std::bad_alloc&) {
        return 3;
    }
}

const EnhancementOptions& EnhancementComponent::options(int imageType) const {
    return options_[static_cast<std::size_t>(std::clamp(imageType, 0, 2))];
}

bool EnhancementComponent::setOptions(int imageType, const EnhancementOptions& options) {
    if (imageType < 0 || imageType > 2) return false;
    options_[static_cast<std::size_t>(imageType)] = clampOptions(options);
    return true;
}

bool EnhancementComponent::showOptions(std::string_view name, int code, platform::Hwnd parent,
                                       bool visible) {
    lastRequest_ = OptionsRequest{std::string(name), code, parent, visible};
    if (!presenter_ || code < 0 || code > 2) return false;
    EnhancementOptions edited = options_[static_cast<std::size_t>(code)];
    if (!presenter_(*lastRequest_, edited)) return false;
    options_[static_cast<std::size_t>(code)] = clampOptions(edited);
    return true;
}

const Image* EnhancementComponent::previewSource(int imageType) const {
    if (imageType < 0 || imageType > 2) return nullptr;
    const auto& p = previews_[static_cast<std::size_t>(imageType)];
    return p ? &*p : nullptr;
}

}  // namespace quilo::imaging
