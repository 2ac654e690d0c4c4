#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>

#include "bench/support/libtiff_memory.h"
#include "orvane-sim/phantom.h"
#include "orvane-sim/simulator.h"
#include "orvane-sim/tiff_lite.h"
#include "phantom_golden.h"

namespace quilo::orvanesim {
namespace {

double meanOf(const GreyImage& img, int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            sum += img.pixels[static_cast<std::size_t>(y) * img.width + x];
    return sum / ((x1 - x0) * (y1 - y0));
}

// Plates of a few pixels a side (a set's size and pitch are the INI file's) come out at their
// size too: the anatomy is drawn only where it fits.
TEST(Phantom, ATinyPlateIsMadeAtItsSize) {
    const int sizes[][2] = {{1, 1}, {3, 2}, {5, 40}, {40, 5}, {31, 31}, {32, 32}, {32, 3000}};
    for (const auto kind : {PlateKind::Intraoral, PlateKind::Cephalometric, PlateKind::Panoramic})
        for (const auto& [w, h] : sizes)
            EXPECT_EQ(makePhantom(kind, w, h, 5).pixels.size(), static_cast<std::size_t>(w * h))
                << w << "x" << h;
}

TEST(Phantom, KeepsItsPixelsAcrossBuilds) {
    const auto img = makePhantom(PlateKind::Intraoral, 80, 60, plateSeed(1, 1));
    EXPECT_EQ(testing::pixelHash(img.pixels), testing::kIntraoral80x60Plate1);
}

TEST(Phantom, AnIntraoralPlateShowsAirTeethAndBone) {
    const auto img = makePhantom(PlateKind::Intraoral, 310, 410, 3);
    const int w = img.width, h = img.height;
    const double air = meanOf(img, 0, 0, w, h / 14);
    const double crowns = meanOf(img, w / 6 - 5, h * 11 / 100, w / 6 + 5, h * 13 / 100);
    const double bone = meanOf(img, 0, h * 80 / 100, w, h);
    const double softTissue = meanOf(img, 0, h * 30 / 100, w / 40, h * 34 / 100);
    // The plate reads the light of what got through: air brightest, the crowns darkest.
    EXPECT_GT(air, softTissue + 5000);
    EXPECT_GT(softTissue, bone + 5000);
    EXPECT_GT(bone, crowns);
    // Noise: neighbouring pixels of the air gap are not all equal.
    int differ = 0;
    for (int x = 1; x < w; ++x)
        differ +=
            img.pixels[static_cast<std::size_t>(x)] != img.pixels[static_cast<std::size_t>(x - 1)];
    EXPECT_GT(differ, w / 2);
}

TEST(Phantom, PanoramicAndCephalometricPlatesAreFilled) {
    for (auto kind : {PlateKind::Panoramic, PlateKind::Cephalometric}) {
        const auto img = makePhantom(kind, 300, 200, 1);
        const double centre = meanOf(img, 120, 80, 180, 140);
        const double corner = meanOf(img, 0, 0, 20, 20);
        EXPECT_LT(centre, corner) << static_cast<int>(kind);  // the head absorbs
    }
}

TEST(TiffLite, WhatItWritesReadsInLibtiff) {
    std::vector<std::uint16_t> pixels(33 * 21);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint16_t>(i * 97);
    const auto file = writeGreyTiff(33, 21, 16, pixels, 400.0);
    bench::MemStream stream;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    stream.data.assign(bytes, bytes + file.size());
    TIFF* tif = bench::memOpen(stream, "r");
    ASSERT_NE(tif, nullptr);
    const auto tag = [tif]<class T>(ttag_t id, T none) {
        TIFFGetField(tif, id, &none);
        return none;
    };
    EXPECT_EQ(
        std::tuple(tag(TIFFTAG_IMAGEWIDTH, 0u), tag(TIFFTAG_IMAGELENGTH, 0u),
                   tag(TIFFTAG_BITSPERSAMPLE, std::uint16_t{0}), tag(TIFFTAG_XRESOLUTION, 0.0f),
                   tag(TIFFTAG_RESOLUTIONUNIT, std::uint16_t{0})),
        std::tuple(33u, 21u, 16, 400.0f, RESUNIT_CENTIMETER));
    std::vector<std::uint16_t> row(33);
    ASSERT_EQ(TIFFReadScanline(tif, row.data(), 20, 0), 1);
    EXPECT_EQ(row, std::vector(pixels.begin() + 20 * 33, pixels.begin() + 21 * 33));
    TIFFClose(tif);
}

TEST(TiffLite, ReadsWhatLibtiffWritesBigEndianInStrips) {
    bench::MemStream stream;
    TIFF* tif = bench::memOpen(stream, "wb");
    ASSERT_NE(tif, nullptr);
    bench::setGreyTags(tif, 7, 5, 16, 2, PHOTOMETRIC_MINISWHITE);
    for (std::uint32_t y = 0; y < 5; ++y) {
        std::uint16_t row[7];
        for (int x = 0; x < 7; ++x)
            row[x] = static_cast<std::uint16_t>(y * 1000 + static_cast<std::uint32_t>(x));
        ASSERT_EQ(TIFFWriteScanline(tif, row, y, 0), 1);
    }
    TIFFClose(tif);
    std::string bytes(stream.data.begin(), stream.data.end());
    ASSERT_EQ(bytes.substr(0, 2), "MM");
    auto img = readGreyTiff(std::as_bytes(std::span(bytes)));
    ASSERT_TRUE(img);
    // White-is-zero turned round.
    EXPECT_EQ(std::tuple(img->width, img->height, img->pixels[4 * 7 + 6]),
              std::tuple(7, 5, 65535 - 4006));

    // Anything else is refused, not misread.
    bytes[3] = 43;  // not 42
    EXPECT_FALSE(readGreyTiff(std::as_bytes(std::span(bytes))));
    EXPECT_FALSE(readGreyTiff({}));
    const auto good = writeGreyTiff(4, 4, 8, std::vector<std::uint16_t>(16, 1), 0);
    for (std::size_t cut = 0; cut < good.size(); cut += 7)
        EXPECT_FALSE(readGreyTiff(std::span(good).first(cut))) << cut;
}

}  // namespace
}  // namespace quilo::orvanesim
