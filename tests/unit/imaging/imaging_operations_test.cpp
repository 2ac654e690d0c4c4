// The image operations on small images with known answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "imaging/median_internal.h"
#include "imaging/operations.h"
#include "support/images.h"

namespace quilo::imaging {
namespace {

using test::imageOf;
using test::noisy;
using test::values;

Image make(std::uint32_t w, std::uint32_t h, int bits, std::initializer_list<std::uint32_t> v) {
    return imageOf(w, h, bits, [it = v.begin()](auto, auto) mutable { return *it++; });
}

TEST(Image, IsClonedExplicitlyAndRefusesImpossibleShapes) {
    Image b = make(2, 1, 12, {1, 4095});
    b.setPitch(10, 20);
    Image c = b.clone();
    c.set(0, 0, 7);
    EXPECT_EQ(b.at(0, 0), 1u);
    EXPECT_EQ(c.pitchY(), 20);
    EXPECT_THROW(Image(0, 5, 8), std::invalid_argument);
    EXPECT_THROW(Image(5, 5, 10), std::invalid_argument);
    EXPECT_THROW(Image(40000, 40000, 16), std::invalid_argument);  // beyond the size limit
}

TEST(Operations, InvertAtEachDepth) {
    for (int bits : {8, 12, 16}) {
        const std::uint32_t mx = (1u << bits) - 1;
        Image a = make(3, 1, bits, {0, 100, mx});
        invert(a);
        EXPECT_EQ(values(a), (std::vector<std::uint32_t>{mx, mx - 100, 0})) << bits;
    }
}

// The stretch's values are checked for every value of each depth below; here the bounds that
// are refused and an image with one value, which has no range to stretch.
TEST(Operations, StretchRefusesAnEmptyRangeAndLeavesAFlatImage) {
    Image c = make(3, 1, 16, {1000, 1500, 2000});
    EXPECT_THROW(stretchRange(c, 5, 5), std::invalid_argument);
    Image flat = make(2, 1, 8, {7, 7});
    stretchIntensity(flat);
    EXPECT_EQ(values(flat), (std::vector<std::uint32_t>{7, 7}));
}

// Every possible value of the depth, once each, in rows of 256 (value v at column v % 256 of
// row v / 256).
Image everyValue(int bits) {
    return imageOf(256, (1u << bits) / 256, bits, [](auto x, auto y) { return y * 256 + x; });
}
std::uint32_t valueAt(const Image& img, std::uint32_t v) {
    return img.at(v % 256, v / 256);
}

// The stretch's fixed-point definition with plain 64-bit arithmetic, one value at a time: low
// and below become 0, high and above the depth's maximum, the rest within one level of the exact
// ratio, rising.
std::uint32_t stretchedFixedPoint(std::uint32_t v, std::uint32_t low, std::uint32_t high,
                                  std::uint32_t mx) {
    const std::uint64_t span = high - low;
    const std::uint64_t scale = ((std::uint64_t{mx} << 16) + span / 2) / span;
    const std::uint64_t a = std::min<std::uint64_t>(v > low ? v - low : 0, span);
    return static_cast<std::uint32_t>((a * scale + 0x8000) >> 16);
}

// Stretches every value of the depth and checks each result against the fixed-point definition.
void expectStretchHolds(int bits, std::uint32_t low, std::uint32_t high) {
    Image img = everyValue(bits);
    stretchRange(img, low, high);
    const std::uint32_t mx = img.maxValue();
    for (std::uint32_t v = 0; v <= mx; ++v)
        if (valueAt(img, v) != stretchedFixedPoint(v, low, high, mx)) {
            ADD_FAILURE() << bits << " bits, " << low << ".." << high << ": value " << v
                          << " became " << valueAt(img, v) << ", not "
                          << stretchedFixedPoint(v, low, high, mx);
            return;
        }
    // StretchIntensity on an image whose own bounds are low and high: every value between them
    // (the others held to them) must come out as the stretch with those bounds gives it.
    if (high <= mx) {
        Image own = everyValue(bits);
        for (std::uint32_t v = 0; v <= mx; ++v)
            own.set(v % 256, v / 256, std::clamp(v, low, high));
        stretchIntensity(own);
        for (std::uint32_t v = 0; v <= mx; ++v)
            if (valueAt(own, v) != valueAt(img, v)) {
                ADD_FAILURE() << bits << " bits, own bounds " << low << ".." << high << ": value "
                              << std::clamp(v, low, high) << " became " << valueAt(own, v)
                              << ", not " << valueAt(img, v);
                break;
            }
    }
}

TEST(Operations, StretchHoldsForEveryValueOfEachDepth) {
    // 8 bits: every pair of bounds; spans of a power of two, whose scale is exact.
    for (std::uint32_t low = 0; low < 256; ++low)
        for (std::uint32_t high = low + 1; high < 256; ++high)
            expectStretchHolds(8, low, high);
    expectStretchHolds(16, 4096, 8192);
    expectStretchHolds(12, 1, 1025);
    // 12 and 16 bits: the widest and narrowest spans, spans whose halves are exact ties,
    // bounds beyond the depth, and random pairs; every value of the depth each time.
    std::mt19937 rng(7);
    for (int bits : {12, 16}) {
        const std::uint32_t mx = (1u << bits) - 1;
        const std::pair<std::uint32_t, std::uint32_t> spans[] = {{0, mx},
                                                                 {0, 1},
                                                                 {mx - 1, mx},
                                                                 {0, 2},
                                                                 {1, 3},
                                                                 {100, 200},
                                                                 {0, mx - 1},
                                                                 {1, mx},
                                                                 {mx / 2, mx},
                                                                 {0, mx / 2 + 1},
                                                                 {3, mx - 2},
                                                                 {mx - 100, mx + 100},
                                                                 {mx + 1, mx + 50},
                                                                 {0, 4 * mx},
                                                                 {0, 0xFFFFFFFFu}};
        for (const auto& [low, high] : spans)
            expectStretchHolds(bits, low, high);
        std::uniform_int_distribution<std::uint32_t> pick(0, mx);
        for (int i = 0; i < 40; ++i) {
            std::uint32_t a = pick(rng), b = pick(rng);
            if (a == b) continue;
            expectStretchHolds(bits, std::min(a, b), std::max(a, b));
        }
    }
    for (std::uint32_t high = 1; high < 4096; ++high)
        expectStretchHolds(12, 0, high);
    for (std::uint32_t low = 0; low < 4095; ++low)
        expectStretchHolds(12, low, 4095);
}

TEST(Operations, MinMaxFindsTheExtremesWhereverTheyLie) {
    // Every position of a 41-pixel row (vector steps and the rest) holds the extremes in turn,
    // with values on both sides of the 16-bit top bit.
    for (int bits : {8, 16})
        for (std::uint32_t at = 0; at < 41; ++at) {
            Image img(41, 1, bits);
            const std::uint32_t mid = img.maxValue() / 2 + 1;
            for (std::uint32_t x = 0; x < 41; ++x)
                img.set(x, 0, mid - 3 + x % 7);
            img.set(at, 0, 1);
            img.set((at * 7 + 3) % 41, 0, img.maxValue() - 1);
            if (at == (at * 7 + 3) % 41) continue;
            EXPECT_EQ(minMax(img), std::make_pair(std::uint32_t{1}, img.maxValue() - 1))
                << bits << " bits, at " << at;
        }
}

TEST(Operations, StretchGivesTheSameValuesAlongTheWholeRow) {
    // Lengths around the vector widths, so both the vector steps and the last few samples count.
    for (int bits : {8, 12, 16})
        for (std::uint32_t w : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 250u}) {
            Image img = noisy(w, 3, bits, 11 + w, (1u << bits) - 1);
            const std::vector<std::uint32_t> before = values(img);
            Image own = img.clone();
            const std::uint32_t low = img.maxValue() / 5, high = img.maxValue() * 3 / 4;
            stretchRange(img, low, high);
            for (std::uint32_t i = 0; i < before.size(); ++i)
                ASSERT_EQ(img.at(i % w, i / w),
                          stretchedFixedPoint(before[i], low, high, img.maxValue()))
                    << bits << " bits, width " << w << ", sample " << i;
            const auto [ownLow, ownHigh] = minMax(own);
            stretchIntensity(own);
            for (std::uint32_t i = 0; i < before.size() && ownHigh > ownLow; ++i)
                ASSERT_EQ(own.at(i % w, i / w),
                          stretchedFixedPoint(before[i], ownLow, ownHigh, own.maxValue()))
                    << bits << " bits, width " << w << ", sample " << i << ", own bounds";
        }
}

TEST(Operations, DepthChangesMatchTheShiftsForEveryValue) {
    // Down drops the low bits; up repeats the high bits below the shifted value, so black and
    // white stay black and white (8 -> 16 is v * 257, 0x808 -> 0x8088) and 8 -> 16 -> 8 gives
    // every value back.
    for (int from : {8, 12, 16})
        for (int to : {8, 12, 16}) {
            if (from == to) continue;
            Image img = everyValue(from);
            changeBitDepth(img, to);
            ASSERT_EQ(img.bitsPerPixel(), to);
            for (std::uint32_t v = 0; v < (1u << from); ++v) {
                const std::uint32_t expected =
                    to < from ? v >> (from - to) : v << (to - from) | v >> (2 * from - to);
                ASSERT_EQ(valueAt(img, v), expected) << from << " -> " << to << ", value " << v;
            }
        }
    Image eight = everyValue(8);
    EXPECT_THROW(changeBitDepth(eight, 10), std::invalid_argument);
}

TEST(Operations, EightBitsComeInPlaceAtEveryLengthAndBorrowedPixelsStayAlone) {
    // Lengths around the vector width: the in-place steps and the last few samples.
    for (int from : {12, 16})
        for (std::uint32_t w : {1u, 5u, 15u, 16u, 17u, 31u, 33u, 100u}) {
            Image img = noisy(w, 3, from, 5 + w, (1u << from) - 1);
            img.setPitch(20, 30);
            const std::vector<std::uint32_t> before = values(img);
            changeBitDepth(img, 8);
            ASSERT_EQ(img.bitsPerPixel(), 8);
            ASSERT_EQ(img.byteSize(), 3u * w);
            EXPECT_TRUE(img.ownsPixels());
            EXPECT_EQ(img.pitchY(), 30);
            for (std::uint32_t i = 0; i < before.size(); ++i)
                ASSERT_EQ(img.at(i % w, i / w), before[i] >> (from - 8))
                    << from << " bits, width " << w << ", sample " << i;
        }
    // A borrowed image's owner keeps its 16-bit samples; the image gets pixels of its own.
    std::vector<std::uint16_t> owner(40);
    for (std::uint32_t i = 0; i < owner.size(); ++i)
        owner[i] = static_cast<std::uint16_t>(i * 1601);
    const std::vector<std::uint16_t> kept = owner;
    Image borrowed = Image::borrowing(reinterpret_cast<std::uint8_t*>(owner.data()), 20, 2, 16);
    EXPECT_FALSE(borrowed.ownsPixels());
    changeBitDepth(borrowed, 8);
    EXPECT_TRUE(borrowed.ownsPixels());
    EXPECT_EQ(owner, kept);
    for (std::uint32_t i = 0; i < owner.size(); ++i)
        ASSERT_EQ(borrowed.at(i % 20, i / 20), owner[i] >> 8u) << i;
}

TEST(Operations, ColourCountIsTheNumberOfDistinctValues) {
    EXPECT_EQ(
        std::tuple(colourCount(make(4, 1, 16, {5, 5, 60000, 0})), colourCount(make(1, 1, 8, {9}))),
        std::tuple(3u, 1u));
}

TEST(Operations, DespeckleRemovesIsolatedSpikesOnly) {
    // A bright spike inside, a dark one inside and a bright one in the corner (whose missing
    // neighbours are mirrored from inside, never the pixel itself).
    Image img = make(4, 4, 8,
                     {10, 10, 10, 10,   //
                      10, 200, 10, 10,  //
                      10, 10, 0, 12,    //
                      10, 10, 11, 90});
    despeckle(img);
    EXPECT_EQ(values(img), (std::vector<std::uint32_t>{10, 10, 10, 10,  //
                                                       10, 10, 10, 10,  //
                                                       10, 10, 10, 12,  //
                                                       10, 10, 11, 12}));
    // An edge (a step) is not a speckle.
    Image step = make(4, 2, 16, {0, 0, 900, 900, 0, 0, 900, 900});
    despeckle(step);
    EXPECT_EQ(values(step), (std::vector<std::uint32_t>{0, 0, 900, 900, 0, 0, 900, 900}));
    // Noise, every pixel against its neighbours, on rows that take the vector path and its tail.
    for (int bits : {8, 16}) {
        const Image in = noisy(37, 6, bits, 5, (1u << bits) - 1);
        Image out = in.clone();
        despeckle(out);
        auto m = [](std::int64_t i, std::uint32_t n) {
            return static_cast<std::uint32_t>(i < 0 ? -i : i >= n ? 2 * n - 2 - i : i);
        };
        for (std::uint32_t y = 0; y < 6; ++y)
            for (std::uint32_t x = 0; x < 37; ++x) {
                std::uint32_t lo = 65535, hi = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if (dx != 0 || dy != 0) {
                            const std::uint32_t v =
                                in.at(m(std::int64_t{x} + dx, 37), m(std::int64_t{y} + dy, 6));
                            lo = std::min(lo, v);
                            hi = std::max(hi, v);
                        }
                ASSERT_EQ(out.at(x, y), std::clamp(in.at(x, y), lo, hi)) << x << "," << y;
            }
    }
}

TEST(Operations, MedianOfAKnownWindow) {
    // 3x3 around the centre of a 3x3 image: the sorted window is 1..9, the median 5.
    Image img = make(3, 3, 8, {9, 1, 8, 2, 7, 3, 6, 4, 5});
    medianFilter(img, 3);
    EXPECT_EQ(img.at(1, 1), 5u);
    // 2x2 windows span (x-1, y-1)..(x, y); the upper median of {1, 2, 3, 4} is 3.
    // Replicated edges: the corner (0, 0) sees {1, 1, 1, 1} in a 2x2 window.
    Image two = make(2, 2, 16, {1, 2, 3, 4});
    medianFilter(two, 2);
    EXPECT_EQ(std::tuple(two.at(1, 1), two.at(0, 0)), std::tuple(3u, 1u));
    EXPECT_THROW(medianFilter(img, 1), std::invalid_argument);
    EXPECT_THROW(medianFilter(img, 17), std::invalid_argument);
}

TEST(Operations, MedianMatchesTheReferenceAtEveryLevelAndDepth) {
    struct Case {
        std::uint32_t w, h;
        int bits;
        std::uint32_t lo, top;  // values lo..top
    };
    // Widths across several stripes (the histogram kernel's stripes are wider at lower depths)
    // and narrower than one, a single row and a single column, values using the full depth as
    // well as only part of it (every layout of the kernel's levels: 12 to 16 bits in use), few
    // distinct values, and a flat image (a whole window in one bin).
    const Case cases[] = {
        {150, 37, 16, 0, 65535}, {70, 20, 12, 0, 4095},    {131, 19, 8, 0, 255},
        {1, 25, 16, 0, 65535},   {40, 1, 16, 0, 3000},     {65, 18, 16, 0, 1},
        {290, 17, 12, 0, 4095},  {280, 9, 8, 0, 3},        {120, 18, 16, 0, 32767},
        {1, 1, 12, 0, 4095},     {50, 20, 16, 4321, 4321}, {60, 20, 12, 3000, 3001},
        {90, 21, 16, 0, 16383}};
    for (const Case& c : cases) {
        for (int size = 2; size <= 16; ++size) {
            SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " +
                         std::to_string(c.bits) + " bits, size " + std::to_string(size));
            Image src =
                noisy(c.w, c.h, c.bits, static_cast<unsigned>(size * 31 + c.w), c.top, c.lo);
            Image ref = src.clone();
            medianFilterReference(ref, size);
            Image a = src.clone();
            medianFilter(a, size);
            ASSERT_EQ(values(a), values(ref));
            // The histogram kernel, which the filter uses from size 6 on, at every size.
            Image b = src.clone();
            detail::medianHistogram(b, size);
            ASSERT_EQ(values(b), values(ref));
        }
    }
}

TEST(Operations, SmallWindowMediansMatchTheReferenceOnManyShapes) {
    // Sizes 2 to 5 take their own road, whole vectors along the row and single pixels at its end:
    // every shape from 1 x 1 to 9 x 9 and widths around one and two vectors, with few distinct
    // values (many ties) and with the whole depth, at each depth.
    std::mt19937 rng(11);
    for (int bits : {8, 12, 16})
        for (std::uint32_t top : {2u, (1u << bits) - 1})
            for (std::uint32_t w : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 15u, 16u, 17u, 33u})
                for (std::uint32_t h = 1; h <= 9; ++h)
                    for (int size = 2; size <= 5; ++size) {
                        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " +
                                     std::to_string(bits) + " bits, top " + std::to_string(top) +
                                     ", size " + std::to_string(size));
                        Image a = noisy(w, h, bits, static_cast<unsigned>(rng()), top);
                        Image b = a.clone();
                        medianFilter(a, size);
                        medianFilterReference(b, size);
                        ASSERT_EQ(values(a), values(b));
                    }
}

TEST(Operations, SharpenGivesTheSameValuesAlongTheWholeRow) {
    // Rows are worked eight pixels at a time in vector registers and the rest one by one: every
    // pixel must follow the one formula, at every width and depth, near black and white (the
    // clip) and above 32767 (the unsigned 16-bit pack).
    auto expected = [](const Image& in, std::uint32_t x, std::uint32_t y, int strength) {
        auto at = [&](std::int64_t xx, std::int64_t yy) {
            return static_cast<std::int32_t>(in.at(
                static_cast<std::uint32_t>(std::clamp<std::int64_t>(xx, 0, in.width() - 1)),
                static_cast<std::uint32_t>(std::clamp<std::int64_t>(yy, 0, in.height() - 1))));
        };
        std::int32_t sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                sum += at(std::int64_t{x} + dx, std::int64_t{y} + dy);
        const std::int32_t v = at(x, y);
        const float r = static_cast<float>(v) +
                        static_cast<float>(9 * v - sum) * (static_cast<float>(strength) / 900.0f);
        return static_cast<std::uint32_t>(
            std::lrint(std::clamp(r, 0.0f, static_cast<float>(in.maxValue()))));
    };
    // Centre 100 among eight 10s: mean 20, difference 80; strength 50 adds 40.
    Image known = make(3, 3, 8, {10, 10, 10, 10, 100, 10, 10, 10, 10});
    sharpen(known, 50);
    EXPECT_EQ(known.at(1, 1), 140u);
    std::mt19937 rng(5);
    for (int bits : {8, 12, 16})
        for (std::uint32_t w : {1u, 7u, 8u, 9u, 17u, 40u})
            for (int strength : {50, 90, -300, 1000}) {
                SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(w) +
                             ", strength " + std::to_string(strength));
                const std::uint32_t mx = (1u << bits) - 1;
                const Image in = imageOf(w, 4, bits, [&](auto, auto) {  // dark, bright, mid-range
                    return rng() % 3 == 0   ? rng() % 20
                           : rng() % 3 == 0 ? mx - rng() % 20
                                            : rng() % (mx + 1);
                });
                Image out = in.clone();
                sharpen(out, strength);
                for (std::uint32_t y = 0; y < 4; ++y)
                    for (std::uint32_t x = 0; x < w; ++x)
                        ASSERT_EQ(out.at(x, y), expected(in, x, y, strength)) << x << "," << y;
            }
}

TEST(Operations, UnsharpMaskHonoursTheThreshold) {
    // A step of 100 grey values in an 8-bit image, radius 1: next to the step the box mean
    // differs by 33 or 34 from the pixel.
    const auto steps = [](int bits, std::uint32_t low, std::uint32_t high) {
        return imageOf(8, 3, bits, [&](std::uint32_t x, auto) { return x < 4 ? low : high; });
    };
    const Image step = steps(8, 50, 150);
    // The dark side darker, the bright side brighter; far from the step nothing changes.
    Image a = step.clone();
    unsharpMask(a, 1, 1, 12, 0);
    EXPECT_EQ(std::tuple(a.at(3, 1), a.at(4, 1), a.at(0, 1)),
              std::tuple(50u - 33u, 150u + 33u, 50u));
    Image b = step.clone();
    unsharpMask(b, 1, 1, 40, 0);  // threshold above the difference: unchanged
    EXPECT_EQ(values(b), values(step));
    // In 16 bits the threshold counts on the 8-bit scale: 12 -> 3072.
    const Image c = steps(16, 1000, 10000);  // diff ~3000
    Image d = c.clone();
    unsharpMask(d, 1, 1, 12, 0);
    EXPECT_EQ(values(d), values(c));
    unsharpMask(d, 1, 1, 11, 0);  // 2816: now the edge is enhanced
    EXPECT_LT(d.at(3, 1), 1000u);
}

TEST(Operations, PerioTransformKeepsEndsAndLiftsTheMiddle) {
    Image img = make(3, 1, 16, {0, 16384, 65535});
    perioTransform(img);
    EXPECT_EQ(values(img), (std::vector<std::uint32_t>{0, 28526, 65535}));  // 65535 * 0.25^0.6
}

}  // namespace
}  // namespace quilo::imaging
