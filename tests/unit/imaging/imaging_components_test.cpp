// The image control, our host image library and our enhancement component.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "imaging/enhancement.h"
#include "imaging/image_control.h"
#include "imaging/kv_image_handler.h"
#include "imaging/operations.h"
#include "imaging/tiff.h"
#include "support/fixture.h"
#include "support/images.h"

namespace quilo::imaging {
namespace {

using ImageControlTest = test::WorldTest;
using KVImageHandlerTest = test::WorldTest;
using EnhancementComponentTest = test::WorldTest;
using TiffWriterTest = test::WorldTest;

// A synthetic radiograph: a dim background, a bright "tooth" with a darker "root canal", and
// noise, all in a narrow band of a 16-bit range (as raw plates come).
Image phantom(std::uint32_t w, std::uint32_t h) {
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0, 40);
    return test::imageOf(w, h, 16, [&](std::uint32_t x, std::uint32_t y) {
        const double dx = (x - w / 2.0) / (w / 5.0), dy = (y - h / 2.0) / (h / 2.5);
        double v = 9000 + 800.0 * x / w;
        if (dx * dx + dy * dy < 1) v += 4000;
        if (std::fabs(x - w / 2.0) < w / 60.0 + 1 && dx * dx + dy * dy < 0.8) v -= 1500;
        return std::clamp(v + noise(rng), 0.0, 65535.0);
    });
}

platform::HGlobal tiffBlock(platform::GlobalMemory& mem, const Image& img) {
    return writeTiffToGlobal(mem, img).release();
}

TEST_F(ImageControlTest, BitmapHandleAndPropertiesFollowTheImage) {
    ImageControl c(mem);
    const auto shape = [&] {
        return std::tuple(c.bitmapWidth(), c.bitmapHeight(), c.bitsPerPixel(), c.colourCount());
    };
    EXPECT_EQ(std::tuple(c.bitmap(), shape()),
              std::tuple(std::uintptr_t{0}, std::tuple(0u, 0u, 0, 0u)));
    EXPECT_THROW(c.invert(), std::logic_error);
    EXPECT_THROW((void)c.saveMemory(), std::logic_error);

    Image img(5, 3, 12);
    img.fill(7);
    img.set(0, 0, 4095);
    const auto block = tiffBlock(mem, img);
    c.loadMemory(block, mem.size(block));
    mem.free(block);
    const auto first = c.bitmap();
    EXPECT_NE(first, 0u);
    EXPECT_EQ(shape(), std::tuple(5u, 3u, 12, 2u));

    // A block that is no TIFF keeps the current bitmap.
    const char junk[] = "not an image at all";
    const auto bad = mem.put(junk, sizeof junk);
    EXPECT_THROW(c.loadMemory(bad, sizeof junk), TiffError);
    mem.free(bad);
    EXPECT_EQ(c.bitmap(), first);

    c.changeBitDepth(8);
    EXPECT_EQ(c.bitsPerPixel(), 8);
    {
        auto saved = c.saveMemory(kFormatTiff);
        ASSERT_TRUE(saved);
        EXPECT_THROW((void)c.saveMemory(2), std::invalid_argument);
        c.releaseBitmap();
        EXPECT_EQ(c.bitmap(), 0u);
        c.loadMemory(saved.get(), saved.size());
        EXPECT_NE(c.bitmap(), first);  // a new bitmap, a new handle
        EXPECT_EQ(c.bitmapImage()->at(0, 0), 255u);
    }
    EXPECT_EQ(mem.liveBlocks(), 0u);
}

// A block loaded to be sent next is handed out by saveMemory instead of a new one (no
// allocation needed) only when it is byte for byte what saveMemory would write, and only while
// the bitmap is unchanged.
TEST_F(ImageControlTest, KeepsTheBlockItWasLoadedFromWhileItIsTheSavedForm) {
    struct Row {
        int bits;
        double pitch;
        bool kept;  // an unknown pitch reads back as 72 dpi and is saved in centimetres
    } rows[] = {{8, 25, true}, {16, 40, true}, {8, 0, false}, {12, 25, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bits);
        Image img(6, 4, row.bits);
        img.fill(9);
        img.setPitch(row.pitch, row.pitch);
        ImageControl c(mem);
        c.loadMemory(platform::GlobalBlock(mem, tiffBlock(mem, img)));
        mem.failAllocs = 1;
        platform::GlobalBlock saved = c.saveMemory();
        EXPECT_EQ(static_cast<bool>(saved), row.kept);
        mem.failAllocs = 0;
        saved = c.saveMemory();
        ASSERT_TRUE(saved);
        std::vector<std::byte> expected(tiffFileSize(*c.bitmapImage()));
        writeTiff(*std::as_const(c).bitmapImage(), expected);
        platform::GlobalLock lock(mem, saved.get());
        ASSERT_EQ(saved.size(), expected.size());
        EXPECT_EQ(std::memcmp(lock.data(), expected.data(), expected.size()), 0);
        // Changed after loading: the block is no longer the bitmap's saved form.
        c.loadMemory(platform::GlobalBlock(mem, tiffBlock(mem, img)));
        c.changeBitDepth(row.bits);  // no change
        c.invert();
        const Image back = readTiffFromGlobal(mem, c.saveMemory().get(), SIZE_MAX);
        EXPECT_EQ(back.at(5, 3), img.maxValue() - 9);
    }
    EXPECT_EQ(mem.liveBlocks(), 0u);
}

TEST_F(ImageControlTest, LoadsRawSamplesAndFiles) {
    ImageControl c(mem);
    const std::uint16_t raw[6] = {0, 1, 2, 60000, 4095, 4096};
    const auto block = mem.put(raw, sizeof raw);
    c.loadRawMemory(block, sizeof raw, 3, 2, 16);
    EXPECT_EQ(c.bitmapImage()->at(0, 1), 60000u);
    c.loadRawMemory(block, sizeof raw, 3, 2, 12);
    EXPECT_EQ(c.bitmapImage()->at(2, 1), 4095u);  // cut to the depth
    EXPECT_THROW(c.loadRawMemory(block, sizeof raw, 4, 2, 16), std::invalid_argument);
    EXPECT_EQ(c.bitsPerPixel(), 12);  // a short block keeps the bitmap
    mem.free(block);

    c.loadRawMemory(mem.put(raw, sizeof raw), sizeof raw, 3, 2, 16);
    const std::string path = w.scratch("Raw.TIF");
    ASSERT_TRUE(c.saveFile(files, path));
    ImageControl d(mem);
    d.loadFile(files, path);
    files.removeFile(path);
    EXPECT_EQ(d.bitmapImage()->at(0, 1), 60000u);
    EXPECT_THROW(d.loadFile(files, w.scratch("none.tif")), TiffError);
    EXPECT_FALSE(d.saveFile(files, w.scratch("x.bmp"), 1));
}

TEST_F(ImageControlTest, CapturePipelineOperationsRun) {
    // The panoramic finishing steps and the noise reduction on one image: the result keeps its
    // size and depth, and the stretched, inverted tooth is now dark.
    ImageControl c(mem);
    c.setBitmap(phantom(120, 80));
    c.invert();
    c.stretchIntensity();
    c.despeckle();
    c.median(16);
    c.sharpen(50);
    c.unsharpMask(1, 10, 12, 0);
    c.perioTransform();
    EXPECT_EQ(std::tuple(c.bitmapWidth(), c.bitsPerPixel(), minMax(*c.bitmapImage())),
              std::tuple(120u, 16, std::pair(0u, 65535u)));
}

TEST_F(KVImageHandlerTest, StretchesTheCurrentImage) {
    KVImageHandler kv(mem);
    long mx = -1, mn = -1;
    platform::HGlobal out = 77;
    long size = 5;
    EXPECT_EQ(kv.KV_GetMaxMinValues(mx, mn), KVImageHandler::kNoImage);
    EXPECT_EQ(kv.KV_StretchHistogram(0, 10), KVImageHandler::kNoImage);
    EXPECT_EQ(kv.KV_GetMemImageTiff(out, size), KVImageHandler::kNoImage);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(kv.KV_LoadMemImageTiff(0, 10), KVImageHandler::kInvalidArgument);
    const char junk[] = "II*\0junk";
    const auto bad = mem.put(junk, sizeof junk);
    EXPECT_EQ(kv.KV_LoadMemImageTiff(bad, sizeof junk), KVImageHandler::kUnreadable);
    mem.free(bad);

    // 1000 pixels 1000..1999 in a 16-bit image.
    const Image img = test::imageOf(1000, 1, 16, [](auto x, auto) { return 1000 + x; });
    auto block = tiffBlock(mem, img);
    ASSERT_EQ(kv.KV_LoadMemImageTiff(block, static_cast<long>(mem.size(block))), 0);
    mem.free(block);
    EXPECT_EQ(kv.KV_CorrectBitDepth(), 0);
    EXPECT_EQ(kv.current()->bitsPerPixel(), 12);  // everything fits 12 bits
    EXPECT_EQ(std::tuple(kv.KV_GetMaxMinValues(mx, mn), mx, mn), std::tuple(0, 1999, 1000));
    // 10 tenths of a percent from the dark end and 5 from the bright one: 1010 and 1994 become
    // black and white.
    EXPECT_EQ(kv.KV_StretchHistogramPercent(10, 5), 0);
    EXPECT_EQ(
        std::tuple(kv.current()->at(10, 0), kv.current()->at(994, 0), kv.current()->at(500, 0)),
        std::tuple(0u, 4095u, (490u * 4095 + 984 / 2) / 984));
    for (const auto& [low, high] : {std::tuple(600L, 400L), std::tuple(-1L, 0L)})
        EXPECT_EQ(kv.KV_StretchHistogramPercent(low, high), KVImageHandler::kInvalidArgument);
    EXPECT_EQ(kv.KV_StretchHistogram(0, 0), KVImageHandler::kInvalidArgument);
    EXPECT_EQ(kv.KV_StretchHistogram(0, 2047), 0);
    EXPECT_EQ(kv.current()->at(999, 0), 4095u);

    mem.failAllocs = 1;
    EXPECT_EQ(kv.KV_GetMemImageTiff(out, size), KVImageHandler::kOutOfMemory);
    EXPECT_EQ(out, 0u);
    ASSERT_EQ(kv.KV_GetMemImageTiff(out, size), 0);
    EXPECT_NE(out, 0u);
    EXPECT_EQ(static_cast<std::size_t>(size), mem.size(out));
    Image back = readTiffFromGlobal(mem, out, static_cast<std::size_t>(size));
    EXPECT_EQ(std::tuple(back.bitsPerPixel(), back.at(999, 0)), std::tuple(12, 4095u));
    mem.free(out);
    // With no cuts the image's own range is stretched.
    block =
        tiffBlock(mem, test::imageOf(3, 1, 8, [](std::uint32_t x, auto) { return 50 * x + 50; }));
    ASSERT_EQ(kv.KV_LoadMemImageTiff(block, static_cast<long>(mem.size(block))), 0);
    mem.free(block);
    EXPECT_EQ(kv.KV_StretchHistogramPercent(0, 0), 0);
    EXPECT_EQ(test::values(*kv.current()), (std::vector<std::uint32_t>{0, 128, 255}));
    EXPECT_EQ(kv.KV_CloseImage(), 0);
    EXPECT_EQ(kv.current(), nullptr);
    EXPECT_EQ(mem.liveBlocks(), 0u);
}

// The contrast (standard deviation) of a rectangle of an image, relative to the full range.
double contrast(const Image& img, std::uint32_t x0, std::uint32_t y0, std::uint32_t w,
                std::uint32_t h) {
    double s = 0, s2 = 0;
    for (std::uint32_t y = y0; y < y0 + h; ++y)
        for (std::uint32_t x = x0; x < x0 + w; ++x) {
            const double v = static_cast<double>(img.at(x, y)) / img.maxValue();
            s += v;
            s2 += v * v;
        }
    const double n = double(w) * h, m = s / n;
    return std::sqrt(std::max(0.0, s2 / n - m * m));
}

TEST(Enhancement, RaisesLocalContrastAtTheRequestedDepth) {
    const Image in = phantom(320, 240);
    for (int bits : {8, 12, 16}) {
        SCOPED_TRACE(bits);
        const Image out = enhanceRadiograph(in, defaultEnhancementOptions(kIntraoral), bits);
        EXPECT_EQ(std::tuple(out.bitsPerPixel(), out.width()), std::tuple(bits, 320u));
        // Not a pass-through: the background's faint gradient and the tooth's detail gain
        // contrast relative to the full range, and the full range is used.
        EXPECT_GT(contrast(out, 10, 10, 60, 60), 2 * contrast(in, 10, 10, 60, 60));
        EXPECT_GT(contrast(out, 140, 100, 40, 40), 2 * contrast(in, 140, 100, 40, 40));
        const auto [lo, hi] = minMax(out);
        EXPECT_LT(lo, out.maxValue() / 8);
        EXPECT_GT(hi, out.maxValue() - out.maxValue() / 8);
        // Order is kept on the whole: the tooth stays brighter than the background.
        EXPECT_GT(out.at(160 - 40, 120), out.at(10, 120));
    }
}

TEST(Enhancement, GivesTheValuesOfThePlainPerPixelCode) {
    // Fingerprints of the output, recorded from the plain per-pixel loops. Where the processor
    // has vector registers, rows are worked several pixels at a time; every value must stay the
    // same, at each output depth and with each image type's options. The width is odd so that
    // rows end with single pixels too; the input is made with integer arithmetic only.
    std::uint32_t seed = 12345;
    const Image in = test::imageOf(203, 77, 16, [&](std::uint32_t x, std::uint32_t y) {
        seed = seed * 1664525u + 1013904223u;
        const std::uint32_t disc = (x - 100) * (x - 100) + 4 * (y - 38) * (y - 38) < 1600;
        return 9000 + 4 * x + disc * 5000 + (seed >> 24) * 3;
    });
    auto fingerprint = [](const Image& img) {
        std::uint64_t f = 14695981039346656037ull;
        for (const std::uint32_t v : test::values(img))
            f = (f ^ v) * 1099511628211ull;
        return f;
    };
    const std::uint64_t expected[3][3] = {
        {0x0d26d45ff1ae9c95ull, 0xb7f3eb05c5ed41a6ull, 0x42086b594f9dce70ull},
        {0x0b48160eec66afe6ull, 0x32fa2e7cea4b389full, 0x2e37df84c1b1b41full},
        {0x1e12aac132927f83ull, 0xa80b6e209d02969dull, 0xc78fd274ebb5bc2aull}};
    for (int type : {kIntraoral, kCephalometric, kPanoramic})
        for (int b = 0; b < 3; ++b) {
            const Image out = enhanceRadiograph(in, defaultEnhancementOptions(type), 8 + 4 * b);
            EXPECT_EQ(fingerprint(out), expected[type][b]) << "type " << type << ", " << 8 + 4 * b;
        }
    // The most regions: their packed mappings are made in several groups of rows.
    const EnhancementOptions most{32, 32, 2.0, 40, 85};
    EXPECT_EQ(fingerprint(enhanceRadiograph(in, most, 8)), 0xff5bd35e08844959ull);
    EXPECT_EQ(fingerprint(enhanceRadiograph(in, most, 16)), 0x4f653c89b06a593aull);
}

// The capture road enhances a plate where the scanner left it, inverting it on the way: the
// values, and the preview copy, are those of inverting first, at every depth in and out.
TEST(Enhancement, InvertingOnTheWayGivesTheValuesOfInvertingFirst) {
    auto same = [](const Image& a, const Image& b) {
        return a.bitsPerPixel() == b.bitsPerPixel() && a.byteSize() == b.byteSize() &&
               std::equal(a.bytes().begin(), a.bytes().end(), b.bytes().begin());
    };
    for (int inBits : {8, 12, 16}) {
        Image in = phantom(203, 77);
        if (inBits != 16) changeBitDepth(in, inBits);
        Image flipped = in.clone();
        invert(flipped);
        for (int type : {kIntraoral, kCephalometric, kPanoramic})
            for (int outBits : {8, 16}) {
                const EnhancementOptions o = defaultEnhancementOptions(type);
                Image out(in.width(), in.height(), outBits);
                enhanceRadiographInto(in, o, out, nullptr, true);
                EXPECT_TRUE(same(out, enhanceRadiograph(flipped, o, outBits)))
                    << inBits << " bits, type " << type << ", " << outBits << " bits out";
            }
        for (std::uint32_t side : {9u, 256u})  // reduced, and kept at full size
            EXPECT_TRUE(same(reducedCopy(in, side, nullptr, true), reducedCopy(flipped, side)))
                << inBits << " bits, side " << side;
    }
}

TEST(Enhancement, AFlatImageIsHandled) {
    Image flat(7, 3, 16);
    flat.fill(1234);
    // Options beyond their ranges are cut to them.
    EXPECT_EQ(enhanceRadiograph(flat, {40, 40, 0.0, 300, 200}, 8).width(), 7u);
}

TEST_F(EnhancementComponentTest, GivesALoadableBlockAndKeepsOptionsPerType) {
    EnhancementComponent ec(mem);
    for (const auto& [set, got] : {std::tuple(12, 12), std::tuple(5, 16), std::tuple(8, 8)}) {
        ec.setBitDepth(set);
        EXPECT_EQ(ec.bitDepth(), got) << set;
    }

    platform::HGlobal out = 99;
    EXPECT_NE(ec.enhance(kIntraoral, nullptr, out, false), 0);
    EXPECT_EQ(out, 0u);
    const Image in = phantom(300, 200);
    EXPECT_NE(ec.enhance(7, &in, out, false), 0);
    EXPECT_EQ(out, 0u);

    ASSERT_EQ(ec.enhance(kCephalometric, &in, out, true), 0);
    ASSERT_NE(out, 0u);
    ImageControl c(mem);
    c.loadMemory(out, mem.size(out));
    mem.free(out);
    EXPECT_EQ(std::tuple(c.bitsPerPixel(), c.bitmapWidth()), std::tuple(8, 300u));
    ASSERT_NE(ec.previewSource(kCephalometric), nullptr);
    EXPECT_LE(ec.previewSource(kCephalometric)->width(), 256u);
    EXPECT_EQ(ec.previewSource(kIntraoral), nullptr);

    // Options differ per type and come back cut to their ranges.
    EXPECT_NE(ec.options(kPanoramic), ec.options(kCephalometric));
    EXPECT_TRUE(ec.setOptions(kPanoramic, {0, 99, -3.0, 1000, -5}));
    EXPECT_EQ(ec.options(kPanoramic), (EnhancementOptions{1, 32, 1.0, 200, 0}));
    EXPECT_FALSE(ec.setOptions(3, {}));

    // Memory running out gives no block and leaks nothing.
    mem.failAllocs = 1;
    EXPECT_NE(ec.enhance(kIntraoral, &in, out, false), 0);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(mem.liveBlocks(), 0u);

    EXPECT_FALSE(ec.showOptions("Panoramic", 2, 0x1234, true));
    ASSERT_TRUE(ec.lastOptionsRequest());
    EXPECT_EQ(std::tuple(ec.lastOptionsRequest()->name, ec.lastOptionsRequest()->code),
              std::tuple(std::string("Panoramic"), 2));
}

TEST_F(TiffWriterTest, ImagesAreMadeStraightInTheirBlock) {
    {
        auto block = makeTiffInGlobal(mem, 3, 2, 12, 50.0, 25.0, [](Image& im) {
            for (std::uint32_t y = 0; y < 2; ++y)
                for (std::uint32_t x = 0; x < 3; ++x)
                    im.set(x, y, 4000 + x + 10 * y);
        });
        ASSERT_TRUE(block);
        const Image back = readTiffFromGlobal(mem, block.get(), block.size());
        EXPECT_EQ(std::tuple(back.bitsPerPixel(), back.at(2, 1)), std::tuple(12, 4012u));
        EXPECT_NEAR(back.pitchX(), 50.0, 1e-6);
        EXPECT_NEAR(back.pitchY(), 25.0, 1e-6);
        // A producer that fails frees its block.
        EXPECT_THROW((void)makeTiffInGlobal(mem, 3, 2, 8, 0, 0,
                                            [](Image&) { throw std::runtime_error("no"); }),
                     std::runtime_error);
        EXPECT_EQ(mem.liveBlocks(), 1u);
    }
    EXPECT_EQ(mem.liveBlocks(), 0u);
}

}  // namespace
}  // namespace quilo::imaging
