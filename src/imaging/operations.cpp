#include "imaging/operations.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/samples.h"

namespace quilo::imaging {

namespace {

// Strips of point operations: at least 256 KiB each, so that a strip's work far outweighs
// handing it to a thread.
std::uint32_t pointRows(const Image& image) {
    return static_cast<std::uint32_t>(
        std::max<std::size_t>(1, (std::size_t{256} << 10) / image.rowBytes()));
}

// Calls fn(first, count) on runs of the image's samples, a strip of rows each, on the workers.
template <class F>
void eachSampleRun(const Image& image, Workers* workers, F&& fn) {
    const std::size_t w = image.width();
    parallelRows(workers, image.height(), pointRows(image),
                 [&](std::uint32_t y0, std::uint32_t y1) { fn(y0 * w, (y1 - y0) * w); });
}

// Smallest and largest of n 16-bit samples. Baseline x86 vectors have a signed 16-bit minimum
// only: flipping the top bit maps the unsigned order onto the signed one. Two pairs of
// accumulators keep more loads in flight.
std::pair<std::uint32_t, std::uint32_t> minMax16(const std::uint16_t* p, std::size_t n) {
    std::int16_t a = INT16_MAX, b = INT16_MIN;
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 16) {
        const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
        __m128i lo0 = _mm_set1_epi16(INT16_MAX), lo1 = lo0;
        __m128i hi0 = _mm_set1_epi16(INT16_MIN), hi1 = hi0;
        for (; i + 16 <= n; i += 16) {
            const __m128i v0 =
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), flip);
            const __m128i v1 =
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8)), flip);
            lo0 = _mm_min_epi16(lo0, v0);
            hi0 = _mm_max_epi16(hi0, v0);
            lo1 = _mm_min_epi16(lo1, v1);
            hi1 = _mm_max_epi16(hi1, v1);
        }
        alignas(16) std::int16_t los[8], his[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(los), _mm_min_epi16(lo0, lo1));
        _mm_store_si128(reinterpret_cast<__m128i*>(his), _mm_max_epi16(hi0, hi1));
        for (int k = 0; k < 8; ++k) {
            a = std::min(a, los[k]);
            b = std::max(b, his[k]);
        }
    }
#endif
    for (; i < n; ++i) {
        const auto s = static_cast<std::int16_t>(p[i] ^ 0x8000u);
        a = std::min(a, s);
        b = std::max(b, s);
    }
    return {static_cast<std::uint16_t>(a) ^ 0x8000u, static_cast<std::uint16_t>(b) ^ 0x8000u};
}

std::pair<std::uint32_t, std::uint32_t> minMax8(const std::uint8_t* p, std::size_t n) {
    std::uint8_t a = 255, b = 0;
    for (std::size_t i = 0; i < n; ++i) {
        a = std::min(a, p[i]);
        b = std::max(b, p[i]);
    }
    return {a, b};
}

}  // namespace

void invert(Image& image, Workers* workers) {
    withSamples(image, [&](auto* p) {
        using T = std::remove_pointer_t<decltype(p)>;
        eachSampleRun(image, workers, [&](std::size_t first, std::size_t n) {
            // The maximum in a local of the run's own: a captured one could be aliased by the
            // stores into the samples and would be loaded again after each.
            const T mx = static_cast<T>(image.maxValue());
            T* q = p + first;
            for (std::size_t i = 0; i < n; ++i)
                q[i] = static_cast<T>(mx - q[i]);
        });
    });
}

std::pair<std::uint32_t, std::uint32_t> minMax(const Image& image, Workers* workers) {
    if (image.empty()) throw std::invalid_argument("no image");
    const Strips strips(image.height(), pointRows(image), workers);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> parts(strips.count());
    const std::size_t w = image.width();
    runStrips(workers, strips, [&](std::uint32_t i, std::uint32_t y0, std::uint32_t y1) {
        parts[i] = image.bitsPerPixel() == 8 ? minMax8(image.row8(0) + y0 * w, (y1 - y0) * w)
                                             : minMax16(image.row16(0) + y0 * w, (y1 - y0) * w);
    });
    std::pair<std::uint32_t, std::uint32_t> all = parts[0];
    for (const auto& [a, b] : parts) {
        all.first = std::min(all.first, a);
        all.second = std::max(all.second, b);
    }
    return all;
}

namespace {

// The stretch's constants: a = min(max(v - low, 0), span); result = (a * scale + 0x8000) >> 16,
// scale = max * 65536 / span rounded to nearest, split into its integer and fraction halves so
// that eight 16-bit lanes can form it with 16 x 16-bit products.
struct StretchScale {
    std::uint16_t low;    // low cut to the samples' range (a low above every value makes all 0)
    std::uint16_t span;   // span cut to the samples' range (no a exceeds it then)
    std::uint16_t whole;  // scale >> 16
    std::uint16_t frac;   // scale & 0xFFFF

    StretchScale(std::uint32_t lo, std::uint32_t hi, std::uint32_t mx)
        : low(static_cast<std::uint16_t>(std::min<std::uint32_t>(lo, 0xFFFF))),
          span(static_cast<std::uint16_t>(std::min<std::uint32_t>(hi - lo, 0xFFFF))) {
        const std::uint64_t s = hi - lo;
        const std::uint64_t scale = ((std::uint64_t{mx} << 16) + s / 2) / s;
        whole = static_cast<std::uint16_t>(scale >> 16);
        frac = static_cast<std::uint16_t>(scale & 0xFFFF);
    }
    std::uint32_t operator()(std::uint32_t v) const {
        const std::uint32_t a = std::min<std::uint32_t>(v > low ? v - low : 0, span);
        return a * whole + ((a * frac + 0x8000u) >> 16);
    }
};

#if defined(__SSE2__)
// The constants in eight lanes. a = min(max(v - low, 0), span) is two saturating steps:
// v + (0xFFFF - top) stops at 0xFFFF for every v >= top (top = low + span, at most 0xFFFF), and
// taking (0xFFFF - top) + low off that stops at 0 for every v <= low.
struct StretchLanes {
    __m128i raise, drop, low, whole, frac;
    explicit StretchLanes(const StretchScale& k) {
        const auto room = static_cast<std::uint16_t>(0xFFFF - std::min(k.low + k.span, 0xFFFF));
        raise = _mm_set1_epi16(static_cast<short>(room));
        drop = _mm_set1_epi16(static_cast<short>(room + k.low));
        low = _mm_set1_epi16(static_cast<short>(k.low));
        whole = _mm_set1_epi16(static_cast<short>(k.whole));
        frac = _mm_set1_epi16(static_cast<short>(k.frac));
    }
};

// Eight stretched samples. Clamped: any v; unclamped: every v already within low..low + span
// (the image's own bounds), where a is v - low. a * whole fits 16 bits (it is at most the
// result), and (a * frac + 0x8000) >> 16 is the high product plus the top bit of the low product.
template <bool Clamped>
inline __m128i stretch8(__m128i v, const StretchLanes& k) {
    const __m128i a =
        Clamped ? _mm_subs_epu16(_mm_adds_epu16(v, k.raise), k.drop) : _mm_sub_epi16(v, k.low);
    const __m128i f =
        _mm_add_epi16(_mm_mulhi_epu16(a, k.frac), _mm_srli_epi16(_mm_mullo_epi16(a, k.frac), 15));
    return _mm_add_epi16(_mm_mullo_epi16(a, k.whole), f);
}
#endif

template <bool Clamped, class T>
void stretchSamples(T* p, std::size_t n, const StretchScale& k) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const StretchLanes lanes(k);
    if constexpr (sizeof(T) == 2) {
        for (; i + 16 <= n; i += 16) {
            auto* at = reinterpret_cast<__m128i*>(p + i);
            const __m128i v0 = _mm_loadu_si128(at), v1 = _mm_loadu_si128(at + 1);
            _mm_storeu_si128(at, stretch8<Clamped>(v0, lanes));
            _mm_storeu_si128(at + 1, stretch8<Clamped>(v1, lanes));
        }
        for (; i + 8 <= n; i += 8) {
            auto* at = reinterpret_cast<__m128i*>(p + i);
            _mm_storeu_si128(at, stretch8<Clamped>(_mm_loadu_si128(at), lanes));
        }
    } else {
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
            auto* at = reinterpret_cast<__m128i*>(p + i);
            const __m128i v = _mm_loadu_si128(at);
            const __m128i lo = stretch8<Clamped>(_mm_unpacklo_epi8(v, zero), lanes);
            const __m128i hi = stretch8<Clamped>(_mm_unpackhi_epi8(v, zero), lanes);
            _mm_storeu_si128(at, _mm_packus_epi16(lo, hi));
        }
    }
#endif
    for (; i < n; ++i)
        p[i] = static_cast<T>(k(p[i]));
}

template <bool Clamped>
void stretchImage(Image& image, std::uint32_t low, std::uint32_t high, Workers* workers) {
    const StretchScale k(low, high, image.maxValue());
    withSamples(image, [&](auto* p) {
        eachSampleRun(image, workers, [&](std::size_t first, std::size_t n) {
            stretchSamples<Clamped>(p + first, n, k);
        });
    });
}

}  // namespace

void stretchRange(Image& image, std::uint32_t low, std::uint32_t high, Workers* workers) {
    if (high <= low) throw std::invalid_argument("stretch bounds must rise");
    stretchImage<true>(image, low, high, workers);
}

void stretchIntensity(Image& image, Workers* workers) {
    const auto [lo, hi] = minMax(image, workers);
    // The bounds are the image's own, so no sample lies outside them.
    if (hi > lo) stretchImage<false>(image, lo, hi, workers);
}

std::pair<std::uint32_t, std::uint32_t> percentCuts(const Image& image, std::uint32_t lowTenths,
                                                    std::uint32_t highTenths) {
    lowTenths = std::min<std::uint32_t>(lowTenths, 1000);
    highTenths = std::min<std::uint32_t>(highTenths, 1000);
    const std::vector<std::uint32_t> hist = histogram(image);
    const std::uint64_t n = image.pixelCount();
    const std::uint64_t lowCount = n * lowTenths / 1000, highCount = n * highTenths / 1000;
    std::uint32_t lo = 0, hi = static_cast<std::uint32_t>(hist.size() - 1);
    std::uint64_t acc = 0;
    for (std::uint32_t v = 0; v < hist.size(); ++v) {
        acc += hist[v];
        if (acc > lowCount) {
            lo = v;
            break;
        }
    }
    acc = 0;
    for (std::uint32_t v = static_cast<std::uint32_t>(hist.size()); v-- > 0;) {
        acc += hist[v];
        if (acc > highCount) {
            hi = v;
            break;
        }
    }
    return {lo, hi};
}

std::uint32_t colourCount(const Image& image) {
    // One bit per grey value: the sets stay in the first-level cache even at 16 bits. Four
    // sets, one per sample of a group of four, so that neighbouring samples of one grey do not
    // wait for each other's update of the same word.
    const std::size_t words = (std::size_t{image.maxValue()} >> 6) + 1;
    std::vector<std::uint64_t> seen(4 * words, 0);
    withSamples(image, [&](const auto* p) {
        const std::size_t n = image.pixelCount();
        const std::uint32_t top = image.maxValue();
        auto mark = [&](std::size_t set, std::uint32_t v) {
            v = std::min(v, top);
            seen[set * words + (v >> 6)] |= std::uint64_t{1} << (v & 63);
        };
        std::size_t i = 0;
        for (; i + 4 <= n; i += 4) {
            mark(0, p[i]);
            mark(1, p[i + 1]);
            mark(2, p[i + 2]);
            mark(3, p[i + 3]);
        }
        for (; i < n; ++i)
            mark(0, p[i]);
    });
    std::uint32_t count = 0;
    for (std::size_t w = 0; w < words; ++w)
        count += static_cast<std::uint32_t>(
            std::popcount(seen[w] | seen[words + w] | seen[2 * words + w] | seen[3 * words + w]));
    return count;
}

namespace {

// Division of 32-bit numbers by one divisor, exact, with a multiplication and shifts instead of a
// division instruction (Granlund and Montgomery's round-up method).
class Divider {
  public:
    explicit Divider(std::uint32_t d) : d_(d), l_(std::bit_width(d - 1)) {
        if (d_ > 1)
            m_ = static_cast<std::uint32_t>(
                ((std::uint64_t{1} << 32) * ((std::uint64_t{1} << l_) - d_)) / d_ + 1);
    }
    std::uint32_t operator()(std::uint32_t x) const {
        if (d_ == 1) return x;
        const auto t = static_cast<std::uint32_t>((std::uint64_t{m_} * x) >> 32);
        return (t + ((x - t) >> 1)) >> (l_ - 1);
    }

  private:
    std::uint32_t d_, m_ = 0;
    int l_;
};

// Each output sample the rounded mean of its block of bw x bh input samples (f apart): the block's
// rows are first added column by column (a plain, vectorisable pass over each input row), then
// each run of bw columns of those sums. A column sum of at most 65535 samples fits 32 bits.
template <class T, bool Inverted>
void reduceRows(const Image& in, std::uint32_t f, std::uint32_t bw, std::uint32_t bh, Image& out,
                Workers* workers) {
    const auto mx = static_cast<T>(in.maxValue());
    const std::uint32_t dw = out.width();
    const std::size_t used = std::size_t{dw - 1} * f + bw;  // the input columns that count
    const std::uint64_t n = std::uint64_t{bw} * bh;
    // Blocks of up to 65535 samples keep every rounded sum within 32 bits.
    const bool narrow = n * 65535 + n / 2 <= 0xFFFFFFFFu;
    const Divider divide(narrow ? static_cast<std::uint32_t>(n) : 1u);
    // Strips of output rows, each reading its own input rows.
    parallelRows(workers, out.height(), 1, [&](std::uint32_t dy0, std::uint32_t dy1) {
        std::vector<std::uint32_t> columns(used);
        for (std::uint32_t dy = dy0; dy < dy1; ++dy) {
            std::fill(columns.begin(), columns.end(), 0u);
            for (std::uint32_t y = dy * f; y < dy * f + bh; ++y) {
                const T* row = reinterpret_cast<const T*>(in.row8(y));
                for (std::size_t x = 0; x < used; ++x)
                    columns[x] += Inverted ? static_cast<T>(mx - row[x]) : row[x];
            }
            T* o = reinterpret_cast<T*>(out.row8(dy));
            for (std::uint32_t dx = 0; dx < dw; ++dx) {
                const std::uint32_t* c = columns.data() + std::size_t{dx} * f;
                std::uint64_t s = 0;
                for (std::uint32_t i = 0; i < bw; ++i)
                    s += c[i];
                o[dx] = static_cast<T>(narrow ? divide(static_cast<std::uint32_t>(s + n / 2))
                                              : (s + n / 2) / n);
            }
        }
    });
}

}  // namespace

Image reducedCopy(const Image& image, std::uint32_t maxSide, Workers* workers, bool inverted) {
    if (image.empty() || maxSide < 1) throw std::invalid_argument("nothing to reduce");
    const std::uint32_t w = image.width(), h = image.height();
    const std::uint32_t f = (std::max(w, h) + maxSide - 1) / maxSide;
    Image out(std::max<std::uint32_t>(1, w / f), std::max<std::uint32_t>(1, h / f),
              image.bitsPerPixel());
    out.setPitch(image.pitchX() * f, image.pitchY() * f);
    const std::uint32_t bw = std::min(f, w), bh = std::min(f, h);
    if (f == 1) {
        std::memcpy(out.data(), image.data(), image.byteSize());
        if (inverted) invert(out);
    } else if (image.bitsPerPixel() == 8) {
        if (inverted)
            reduceRows<std::uint8_t, true>(image, f, bw, bh, out, workers);
        else
            reduceRows<std::uint8_t, false>(image, f, bw, bh, out, workers);
    } else if (inverted) {
        reduceRows<std::uint16_t, true>(image, f, bw, bh, out, workers);
    } else {
        reduceRows<std::uint16_t, false>(image, f, bw, bh, out, workers);
    }
    return out;
}

namespace {

// q may be the very bytes p points at: each step reads its sixteen samples before it writes
// their sixteen bytes, and the writes (byte i) never pass the reads (bytes 2i and 2i + 1).
template <int Shift>
void narrowTo8(const std::uint16_t* p, std::uint8_t* q, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + i),
                         _mm_packus_epi16(_mm_srli_epi16(a, Shift), _mm_srli_epi16(b, Shift)));
    }
#endif
    for (; i < n; ++i)
        q[i] = static_cast<std::uint8_t>(p[i] >> Shift);
}

}  // namespace

namespace {

// Calls fn(first, count) on pieces of the samples first .. end - 1 on the workers, pieces of at
// least 128 Ki samples.
template <class F>
void eachPiece(Workers* workers, std::size_t first, std::size_t end, F&& fn) {
    const auto n = static_cast<std::uint32_t>(end - first);  // images hold < 2^32 samples
    parallelRows(workers, n, 1u << 17,
                 [&](std::uint32_t a, std::uint32_t b) { fn(first + a, std::size_t{b} - a); });
}

// The samples narrowed to bytes at q, which may be the very memory p points at. In place, a piece
// of the samples must not write bytes that another piece has yet to read: the samples from a
// to b write bytes a .. b - 1 and read bytes 2a .. 2b - 1. So the first samples go on one thread,
// and then the rest in rounds, each at most doubling the samples done: a round from a to b <= 2a
// writes below 2a, where no sample is left unread, and reads from 2a on, where nothing has been
// written; within the round its pieces are independent.
template <int Shift>
void narrowAll(const std::uint16_t* p, std::uint8_t* q, std::size_t n, Workers* workers) {
    const bool inPlace = static_cast<const void*>(p) == static_cast<const void*>(q);
    std::size_t done = inPlace ? std::min<std::size_t>(n, 1u << 16) : 0;
    narrowTo8<Shift>(p, q, done);
    while (done < n) {
        const std::size_t end = inPlace ? std::min(n, 2 * done) : n;
        eachPiece(workers, done, end,
                  [&](std::size_t a, std::size_t k) { narrowTo8<Shift>(p + a, q + a, k); });
        done = end;
    }
}

}  // namespace

void changeBitDepth(Image& image, int bits, Workers* workers) {
    const int from = image.bitsPerPixel();
    if (bits != 8 && bits != 12 && bits != 16) throw std::invalid_argument("unsupported depth");
    if (bits == from) return;
    const std::size_t n = image.pixelCount();
    if (from != 8 && bits != 8) {  // 12 <-> 16 within the same samples
        std::uint16_t* p = image.row16(0);
        eachPiece(workers, 0, n, [&](std::size_t a, std::size_t k) {
            if (bits == 12)
                for (std::size_t i = a; i < a + k; ++i)
                    p[i] = static_cast<std::uint16_t>(p[i] >> 4);
            else
                for (std::size_t i = a; i < a + k; ++i)
                    p[i] = static_cast<std::uint16_t>(p[i] << 4 | p[i] >> 8);
        });
        image.relabelDepth(bits);
        return;
    }
    // The shift is a constant in each loop: with a shift count held in a variable the loop ran
    // at 0.7 x memcpy, with a constant one above memcpy speed.
    const auto narrow = [&](std::uint8_t* q) {
        if (from == 16)
            narrowAll<8>(image.row16(0), q, n, workers);
        else
            narrowAll<4>(image.row16(0), q, n, workers);
    };
    if (bits == 8 && image.ownsPixels()) {
        // In place, and the half no longer needed is given back: no second image (a whole plate
        // is 230 MB in the 32-bit process) and no fresh pages to fault in.
        narrow(image.data());
        image.becomeEightBit();
        return;
    }
    // Borrowed pixels belong to someone else: they are left as they are.
    Image out(image.width(), image.height(), bits);
    out.setPitch(image.pitchX(), image.pitchY());
    if (bits == 8) {
        narrow(out.row8(0));
    } else {
        const std::uint8_t* p = image.row8(0);
        std::uint16_t* q = out.row16(0);
        eachPiece(workers, 0, n, [&](std::size_t a, std::size_t k) {
            if (bits == 16)
                for (std::size_t i = a; i < a + k; ++i)
                    q[i] = static_cast<std::uint16_t>(p[i] * 257u);
            else
                for (std::size_t i = a; i < a + k; ++i)
                    q[i] = static_cast<std::uint16_t>(p[i] << 4 | p[i] >> 4);
        });
    }
    image = std::move(out);
}

namespace {

// One row of despeckle: up, mid and down are the padded rows (column x at index x + 1). Each
// result is the pixel held to the smallest and largest of its eight neighbours; sixteen 8-bit or
// eight 16-bit pixels at a time (16-bit ones with the top bit flipped, as SSE2 compares signed
// 16-bit numbers only), the rest one by one.
template <class T>
void despeckleRow(const T* up, const T* mid, const T* down, T* out, std::uint32_t w) {
    std::uint32_t x = 0;
#if defined(__SSE2__)
    constexpr std::uint32_t kLanes = 16 / sizeof(T);
    const __m128i flip = _mm_set1_epi16(sizeof(T) == 2 ? static_cast<short>(0x8000) : 0);
    auto at = [&](const T* row, std::uint32_t i) {
        return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)), flip);
    };
    auto lo = [](__m128i a, __m128i b) {
        return sizeof(T) == 1 ? _mm_min_epu8(a, b) : _mm_min_epi16(a, b);
    };
    auto hi = [](__m128i a, __m128i b) {
        return sizeof(T) == 1 ? _mm_max_epu8(a, b) : _mm_max_epi16(a, b);
    };
    for (; x + kLanes <= w; x += kLanes) {
        const __m128i n[8] = {at(up, x),      at(up, x + 1), at(up, x + 2),   at(mid, x),
                              at(mid, x + 2), at(down, x),   at(down, x + 1), at(down, x + 2)};
        __m128i a = n[0], b = n[0];
        for (int k = 1; k < 8; ++k) {
            a = lo(a, n[k]);
            b = hi(b, n[k]);
        }
        const __m128i v = hi(lo(at(mid, x + 1), b), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_xor_si128(v, flip));
    }
#endif
    for (; x < w; ++x) {
        const std::uint32_t i = x + 1;
        const T a = std::min({up[i - 1], up[i], up[i + 1], mid[i - 1], mid[i + 1], down[i - 1],
                              down[i], down[i + 1]});
        const T b = std::max({up[i - 1], up[i], up[i + 1], mid[i - 1], mid[i + 1], down[i - 1],
                              down[i], down[i + 1]});
        out[x] = std::clamp(mid[i], a, b);
    }
}

}  // namespace

void despeckle(Image& image, Workers* workers) {
    if (image.width() < 2 && image.height() < 2) return;
    withSamples(image, [&](auto* sample) {
        using T = std::remove_pointer_t<decltype(sample)>;
        eachRowWithNeighbours<T>(
            image, 1, workers,
            [] {
                return [](const T* const* rows, T* out, std::uint32_t w, std::uint32_t) {
                    despeckleRow(rows[0], rows[1], rows[2], out, w);
                };
            },
            true);
    });
}

namespace {

// One row of the sharpening: c holds the sums of the three rows per column (column x at c[x + 1]),
// mid the middle row (column x at mid[x + 1]). Each result is
// clamp(round(float(v) + float(9v - sum) * k), 0, max), rounded to nearest with ties to even, as
// the vector unit's conversion does; the scalar loop (the rest of the row, and builds without
// SSE2) computes exactly the same.
template <class T>
void sharpenRow(const std::int32_t* __restrict c, const T* __restrict mid, T* __restrict out,
                std::uint32_t w, float k, float mx) {
    std::uint32_t x = 0;
#if defined(__SSE2__)
    const __m128 kv = _mm_set1_ps(k), top = _mm_set1_ps(mx), zero = _mm_setzero_ps();
    auto four = [&](std::uint32_t at, __m128i v) {
        const __m128i sum = _mm_add_epi32(
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + at)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + at + 1))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + at + 2)));
        const __m128i t = _mm_sub_epi32(_mm_add_epi32(_mm_slli_epi32(v, 3), v), sum);
        const __m128 r = _mm_add_ps(_mm_cvtepi32_ps(v), _mm_mul_ps(_mm_cvtepi32_ps(t), kv));
        return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(r, zero), top));
    };
    const __m128i z = _mm_setzero_si128();
    for (; x + 8 <= w; x += 8) {
        __m128i lo, hi;
        if constexpr (sizeof(T) == 1) {
            const __m128i v8 = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mid + x + 1)), z);
            lo = four(x, _mm_unpacklo_epi16(v8, z));
            hi = four(x + 4, _mm_unpackhi_epi16(v8, z));
            const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(lo, hi), z);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), packed);
        } else {
            const __m128i v16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mid + x + 1));
            lo = four(x, _mm_unpacklo_epi16(v16, z));
            hi = four(x + 4, _mm_unpackhi_epi16(v16, z));
            // Unsigned 16-bit pack through the signed one: shift the range down and back.
            const __m128i bias = _mm_set1_epi32(32768);
            const __m128i packed =
                _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(lo, bias), _mm_sub_epi32(hi, bias)),
                              _mm_set1_epi16(static_cast<short>(0x8000)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), packed);
        }
    }
#endif
    for (; x < w; ++x) {
        const std::int32_t v = mid[x + 1];
        const float t = static_cast<float>(9 * v - (c[x] + c[x + 1] + c[x + 2]));
        const float r = static_cast<float>(v) + t * k;
        out[x] = static_cast<T>(std::lrint(std::min(std::max(r, 0.0f), mx)));
    }
}

}  // namespace

void sharpen(Image& image, int strength, Workers* workers) {
    strength = std::clamp(strength, -1000, 1000);
    if (strength == 0) return;
    // 9 * (v - mean) fits 32 bits at every depth; the factor strength / 100 / 9 is applied in
    // single precision.
    const float k = static_cast<float>(strength) / 900.0f;
    withSamples(image, [&](auto* sample) {
        using T = std::remove_pointer_t<decltype(sample)>;
        const auto mx = static_cast<float>(image.maxValue());
        eachRowWithNeighbours<T>(image, 1, workers, [&] {
            return [&, column = std::vector<std::int32_t>(std::size_t{image.width()} + 2)](
                       const T* const* rows, T* out, std::uint32_t w, std::uint32_t) mutable {
                // Sums of the three rows per column first, then the row.
                columnSums3(rows, column.data(), w);
                sharpenRow(column.data(), rows[1], out, w, k, mx);
            };
        });
    });
}

namespace {

// Rows y0 .. y1 - 1 of the unsharp mask (strip i of edges' strips), in place. Its values in
// plain locals: as captures of an enclosing lambda the byte stores of 8-bit rows could alias
// them, and they would be loaded again after each.
template <class T>
void unsharpStrip(Image& image, const StripEdges<T>& edges, std::uint32_t i, std::uint32_t y0,
                  std::uint32_t y1, std::int64_t amount, std::uint32_t r, std::int64_t thr) {
    const std::uint32_t w = image.width(), h = image.height();
    const std::int64_t mx = image.maxValue();
    const std::uint64_t area = std::uint64_t{2 * r + 1} * (2 * r + 1);
    auto clampY = [h](std::int64_t y) {
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(y, 0, h - 1));
    };
    // Original rows y - radius .. y + radius are kept in a ring, since the rows above y are
    // already overwritten when row y is written.
    const std::uint32_t ringRows = 2 * r + 2;
    std::vector<T> ring(std::size_t{ringRows} * w);
    std::vector<std::uint32_t> colSum(w, 0);
    auto kept = [&](std::uint32_t y) { return ring.data() + std::size_t{y % ringRows} * w; };
    std::uint32_t loaded = y0 - std::min(y0, r);  // rows before it are in the ring or gone
    auto need = [&](std::uint32_t y) {
        while (loaded <= y) {
            const T* src =
                loaded >= y0 && loaded < y1 ? rowOf<T>(image, loaded) : edges.row(i, loaded);
            std::memcpy(kept(loaded), src, w * sizeof(T));
            ++loaded;
        }
        return kept(y);
    };
    for (std::int64_t k = -std::int64_t{r}; k <= r; ++k) {
        const T* row = need(clampY(std::int64_t{y0} + k));
        for (std::uint32_t x = 0; x < w; ++x)
            colSum[x] += row[x];
    }
    for (std::uint32_t y = y0; y < y1; ++y) {
        // Horizontal box over the column sums, edge columns replicated.
        std::uint64_t s = 0;
        for (std::int64_t k = -std::int64_t{r}; k <= r; ++k)
            s += colSum[static_cast<std::uint32_t>(std::clamp<std::int64_t>(k, 0, w - 1))];
        const T* orig = need(y);
        T* out = rowOf<T>(image, y);
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::int64_t v = orig[x];
            const auto blur = static_cast<std::int64_t>((s + area / 2) / area);
            const std::int64_t d = v - blur;
            if (d > thr || -d > thr)
                out[x] = static_cast<T>(std::clamp<std::int64_t>(v + amount * d, 0, mx));
            else
                out[x] = static_cast<T>(v);
            s += colSum[std::min(x + r + 1, w - 1)];
            s -= colSum[x - std::min(x, r)];
        }
        if (y + 1 < y1) {
            const T* add = need(clampY(std::int64_t{y} + r + 1));
            const T* sub = kept(clampY(std::int64_t{y} - r));
            for (std::uint32_t x = 0; x < w; ++x)
                colSum[x] += add[x] - sub[x];
        }
    }
}

}  // namespace

void unsharpMask(Image& image, int amount, int radius, int threshold, int /*colourSpace*/,
                 Workers* workers) {
    if (amount == 0 || radius <= 0) return;
    const auto r = static_cast<std::uint32_t>(std::min(radius, 255));
    const std::int64_t thr =
        std::int64_t{std::max(threshold, 0)} * (std::int64_t{image.maxValue()} + 1) / 256;
    withSamples(image, [&](auto* sample) {
        using T = std::remove_pointer_t<decltype(sample)>;
        // In strips of rows; the rows a strip's boxes reach beyond it come from copies taken
        // before any strip starts.
        const Strips strips(image.height(), std::max(32u, 2 * r), workers);
        const StripEdges<T> edges(image, strips, r, r);
        runStrips(workers, strips, [&](std::uint32_t i, std::uint32_t y0, std::uint32_t y1) {
            unsharpStrip<T>(image, edges, i, y0, y1, amount, r, thr);
        });
    });
}

void perioTransform(Image& image) {
    const std::uint32_t mx = image.maxValue();
    std::vector<std::uint16_t> lut(std::size_t{mx} + 1);
    for (std::uint32_t v = 0; v <= mx; ++v)
        lut[v] = static_cast<std::uint16_t>(
            std::lround(mx * std::pow(static_cast<double>(v) / mx, 0.6)));
    applyLut(image, lut);
}

}  // namespace quilo::imaging
