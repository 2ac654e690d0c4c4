// Our TIFF writer and reader against libtiff, and the reader against malformed files.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/support/libtiff_memory.h"
#include "imaging/operations.h"
#include "imaging/tiff.h"
#include "support/bytes.h"
#include "support/fixture.h"
#include "support/images.h"

namespace quilo::imaging {
namespace {

using TiffWriterTest = test::WorldTest;

Image randomImage(std::uint32_t w, std::uint32_t h, int bits, unsigned seed) {
    return test::noisy(w, h, bits, seed, (1u << bits) - 1);
}

// A TIFF file image in memory, as libtiff reads and writes it.
bench::MemStream streamOf(std::span<const std::byte> file) {
    bench::MemStream s;
    const auto* p = reinterpret_cast<const std::uint8_t*>(file.data());
    s.data.assign(p, p + file.size());
    return s;
}
std::vector<std::byte> fileBytes(const bench::MemStream& s) {
    const auto b = std::as_bytes(std::span(s.data));
    return {b.begin(), b.end()};
}

std::vector<std::byte> ours(const Image& img) {
    std::vector<std::byte> b(tiffFileSize(img));
    writeTiff(img, b);
    return b;
}

// ---- ours written, libtiff reads ----

TEST(TiffWriter, LibtiffReadsEveryDepthExactly) {
    for (int bits : {8, 12, 16}) {
        // 700 rows of 16-bit samples make several 64 KiB strips; a short last strip too.
        Image img = randomImage(301, 700, bits, static_cast<unsigned>(bits));
        img.setPitch(40.0, 50.0);
        bench::MemStream file = streamOf(ours(img));
        TIFF* t = bench::memOpen(file, "r");
        ASSERT_NE(t, nullptr);
        const auto tag = [t]<class T>(ttag_t id, T none) {
            TIFFGetField(t, id, &none);
            return none;
        };
        const std::uint32_t h = tag(TIFFTAG_IMAGELENGTH, 0u);
        const auto u16 = [&](ttag_t id) { return tag(id, std::uint16_t{0}); };
        EXPECT_EQ(std::tuple(tag(TIFFTAG_IMAGEWIDTH, 0u), h, u16(TIFFTAG_BITSPERSAMPLE),
                             u16(TIFFTAG_SAMPLESPERPIXEL),
                             tag(TIFFTAG_PHOTOMETRIC, std::uint16_t{99}), u16(TIFFTAG_COMPRESSION),
                             u16(TIFFTAG_MAXSAMPLEVALUE), u16(TIFFTAG_RESOLUTIONUNIT)),
                  std::tuple(301u, 700u, bits == 8 ? 8 : 16, 1, PHOTOMETRIC_MINISBLACK,
                             COMPRESSION_NONE, img.maxValue(), RESUNIT_CENTIMETER));
        EXPECT_NEAR(tag(TIFFTAG_XRESOLUTION, 0.0f), 250.0, 1e-3);  // 40 um -> 250 pixels per cm
        EXPECT_NEAR(tag(TIFFTAG_YRESOLUTION, 0.0f), 200.0, 1e-3);
        EXPECT_LE(tag(TIFFTAG_ROWSPERSTRIP, 0u) * img.rowBytes(), 64u * 1024u);
        EXPECT_GT(TIFFNumberOfStrips(t), 1u);
        std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(t)));
        for (std::uint32_t y = 0; y < h; ++y) {
            ASSERT_EQ(TIFFReadScanline(t, line.data(), y), 1);
            ASSERT_EQ(std::memcmp(line.data(), img.row8(y), img.rowBytes()), 0) << "row " << y;
        }
        TIFFClose(t);
    }
}

TEST_F(TiffWriterTest, GlobalBlockAndFileHoldTheSameImage) {
    Image img = randomImage(100, 2000, 16, 7);
    {
        auto block = writeTiffToGlobal(mem, img);
        ASSERT_TRUE(block);
        EXPECT_EQ(block.size(), tiffFileSize(img));
        EXPECT_EQ(mem.locks(block.get()), 0);  // left unlocked for the receiver
        ASSERT_TRUE(writeTiffFile(files, "C:\\x.tif", img));
        const auto fromFile = platform::readWholeFile(files, "C:\\x.tif", 1u << 20);
        const auto fromBlock = mem.get(block.get());
        EXPECT_EQ(fromBlock, fromFile);
        Image back = readTiffFromGlobal(mem, block.get(), block.size());
        EXPECT_EQ(std::memcmp(back.data(), img.data(), img.byteSize()), 0);
        EXPECT_THROW((void)readTiffFromGlobal(mem, 0, 10), TiffError);  // no block at all
    }
    EXPECT_EQ(mem.liveBlocks(), 0u);
}

TEST_F(TiffWriterTest, FailuresLeaveNothingBehind) {
    Image img = randomImage(64, 64, 8, 1);
    mem.failAllocs = 1;
    EXPECT_FALSE(writeTiffToGlobal(mem, img));
    mem.failLocks = 1;
    EXPECT_FALSE(writeTiffToGlobal(mem, img));
    EXPECT_EQ(mem.liveBlocks(), 0u);
    w.world.failNth(sim::Fault::FileWrite, 2);  // the header goes, the pixels do not
    EXPECT_FALSE(writeTiffFile(files, "C:\\half.tif", img));
    EXPECT_FALSE(files.exists("C:\\half.tif"));
    EXPECT_EQ(w.world.live().handles, 0u);
}

// ---- libtiff writes, ours reads ----

struct Variant {
    int bits;
    std::uint16_t compression;
    bool tiled;
    bool minIsWhite;
    bool bigEndian;
    bool predictor;
};

std::string describe(const Variant& v) {
    return std::to_string(v.bits) + " bits, compression " + std::to_string(v.compression) +
           (v.tiled ? ", tiles" : ", strips") + (v.minIsWhite ? ", MinIsWhite" : "") +
           (v.bigEndian ? ", big-endian" : "") + (v.predictor ? ", predictor" : "");
}

// Packs 12-bit samples as TIFF stores them: most significant bits first, rows padded.
std::vector<std::uint8_t> packRow12(const std::uint16_t* v, std::uint32_t w) {
    std::vector<std::uint8_t> out((w * 12 + 7) / 8, 0);
    for (std::uint32_t x = 0; x < w; ++x) {
        const std::size_t bit = x * 12u;
        for (int b = 0; b < 12; ++b)
            if (v[x] >> (11 - b) & 1)
                out[(bit + b) >> 3] |= static_cast<std::uint8_t>(0x80 >> ((bit + b) & 7));
    }
    return out;
}

void libtiffWrite(bench::MemStream& file, const Image& img, const Variant& v) {
    TIFF* t = bench::memOpen(file, v.bigEndian ? "wb" : "wl");
    ASSERT_NE(t, nullptr);
    const std::uint32_t w = img.width(), h = img.height();
    bench::setGreyTags(t, w, h, v.bits, 7,
                       v.minIsWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, v.compression);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 254.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 127.0f);
    if (v.predictor) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    // The file stores what a MinIsWhite reader inverts back, in the rows the image keeps.
    Image stored = img.clone();
    if (v.minIsWhite) invert(stored);
    const std::size_t bps = v.bits == 8 ? 1 : 2;
    if (v.tiled) {
        const std::uint32_t tw = 32, tl = 48;
        TIFFSetField(t, TIFFTAG_TILEWIDTH, tw);
        TIFFSetField(t, TIFFTAG_TILELENGTH, tl);
        std::vector<std::uint8_t> tile(tw * tl * bps);
        for (std::uint32_t ty = 0; ty < h; ty += tl)
            for (std::uint32_t tx = 0; tx < w; tx += tw) {
                std::fill(tile.begin(), tile.end(), 0);
                for (std::uint32_t y = 0; y < tl && ty + y < h; ++y)
                    std::memcpy(&tile[y * tw * bps], stored.row8(ty + y) + tx * bps,
                                std::min(tw, w - tx) * bps);
                ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
            }
    } else {
        for (std::uint32_t y = 0; y < h; ++y) {
            std::vector<std::uint8_t> packed;
            if (v.bits == 12) packed = packRow12(stored.row16(y), w);
            ASSERT_EQ(TIFFWriteScanline(t, v.bits == 12 ? packed.data() : stored.row8(y), y, 0), 1);
        }
    }
    TIFFClose(t);
}

TEST(TiffReader, ReadsWhatLibtiffWritesInEveryVariant) {
    std::vector<Variant> variants;
    for (int bits : {8, 16})
        for (std::uint16_t comp : {COMPRESSION_NONE, COMPRESSION_PACKBITS, COMPRESSION_LZW})
            for (bool tiled : {false, true})
                for (bool big : {false, true})
                    variants.push_back({bits, comp, tiled, false, big, false});
    variants.push_back({8, COMPRESSION_NONE, false, true, false, false});
    variants.push_back({16, COMPRESSION_LZW, true, true, true, false});
    variants.push_back({8, COMPRESSION_LZW, false, false, false, true});
    variants.push_back({16, COMPRESSION_LZW, false, false, true, true});
    variants.push_back({12, COMPRESSION_NONE, false, false, false, false});
    variants.push_back({12, COMPRESSION_NONE, false, true, true, false});
    variants.push_back({12, COMPRESSION_LZW, false, false, false, false});
    int n = 0;
    for (const Variant& v : variants) {
        SCOPED_TRACE(describe(v));
        // Odd sizes: partial tiles and strips at the right and bottom edges.
        Image img = randomImage(77, 101, v.bits, static_cast<unsigned>(++n));
        // Runs and smooth areas, so PackBits and LZW have something to compress.
        for (std::uint32_t y = 0; y < 30; ++y)
            for (std::uint32_t x = 0; x < 77; ++x)
                img.set(x, y, (x / 10) * 3);
        bench::MemStream file;
        libtiffWrite(file, img, v);
        const std::vector<std::byte> bytes = fileBytes(file);
        Image back = readTiff(bytes);
        // Plain strips are also found where they lie, as the samples read.
        const std::span<const std::byte> run = tiffPixelRun(bytes);
        const bool plain = v.compression == COMPRESSION_NONE && !v.tiled && !v.minIsWhite &&
                           !v.bigEndian && v.bits != 12;
        ASSERT_EQ(run.size(), plain ? back.byteSize() : 0u);
        if (plain) {
            EXPECT_EQ(std::memcmp(run.data(), back.data(), run.size()), 0);
        }
        ASSERT_EQ(std::tuple(back.width(), back.height(), back.bitsPerPixel()),
                  std::tuple(77u, 101u, v.bits));
        EXPECT_NEAR(back.pitchX(), 100.0, 1e-6);  // 254 dpi
        EXPECT_NEAR(back.pitchY(), 200.0, 1e-6);
        EXPECT_EQ(std::memcmp(back.data(), img.data(), img.byteSize()), 0);
    }
}

// ---- malformed input ----

template <class F>
void expectTiffError(const std::vector<std::byte>& file, const std::string& what,
                     std::uint64_t offset, F&& adjust) {
    std::vector<std::byte> f = file;
    adjust(f);
    try {
        (void)readTiff(f);
        ADD_FAILURE() << "no error for: " << what;
    } catch (const TiffError& e) {
        EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
        EXPECT_EQ(e.offset(), offset) << e.what();
    }
}

void put16(std::vector<std::byte>& f, std::size_t at, std::uint16_t v) {
    std::memcpy(&f[at], &v, 2);
}
void put32(std::vector<std::byte>& f, std::size_t at, std::uint32_t v) {
    std::memcpy(&f[at], &v, 4);
}

// Offset of a tag's entry in a file our writer made (directory at 8, entries of 12 bytes).
std::size_t entryOf(const std::vector<std::byte>& f, std::uint16_t tag) {
    std::uint16_t n = 0;
    std::memcpy(&n, &f[8], 2);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint16_t t = 0;
        std::memcpy(&t, &f[10 + 12 * i], 2);
        if (t == tag) return 10 + 12 * i;
    }
    return 0;
}

TEST(TiffReader, MalformedFilesGiveClearErrorsWithOffsets) {
    Image img = randomImage(40, 30, 16, 9);
    const auto good = ours(img);
    auto none = [](std::vector<std::byte>&) {};
    expectTiffError(test::bytesOf("II"), "too short", 0, none);
    expectTiffError(good, "byte-order mark", 0, [](auto& f) { f[0] = std::byte{'X'}; });
    expectTiffError(good, "bad magic", 2, [](auto& f) { put16(f, 2, 41); });
    expectTiffError(good, "BigTIFF", 2, [](auto& f) { put16(f, 2, 43); });
    expectTiffError(good, "beyond the end", 100000, [](auto& f) { put32(f, 4, 100000); });
    expectTiffError(good, "entries", 8, [](auto& f) { put16(f, 8, 0); });
    expectTiffError(good, "compression 7", 8, [](auto& f) { put16(f, entryOf(f, 259) + 8, 7); });
    expectTiffError(good, "photometric interpretation is 2", 8,
                    [](auto& f) { put16(f, entryOf(f, 262) + 8, 2); });
    expectTiffError(good, "samples per pixel is 3", 8,
                    [](auto& f) { put16(f, entryOf(f, 277) + 8, 3); });
    expectTiffError(good, "bits per sample 4", 8,
                    [](auto& f) { put16(f, entryOf(f, 258) + 8, 4); });
    expectTiffError(good, "exceed the limit", 8,
                    [](auto& f) { put32(f, entryOf(f, 256) + 8, 70000); });
    // 60000 x 60000 passes the per-side limit but not the size limit.
    expectTiffError(good, "bytes exceeds the limit", 8, [](auto& f) {
        put32(f, entryOf(f, 256) + 8, 60000);
        put32(f, entryOf(f, 257) + 8, 60000);
    });
    // A strip pointing past the end of the file.
    expectTiffError(good, "strip or tile 0 lies beyond the end", 5000000,
                    [](auto& f) { put32(f, entryOf(f, 273) + 8, 5000000); });
    // A strip shorter than its rows: reported at the strip's own offset.
    std::uint32_t stripAt = 0;
    std::memcpy(&stripAt, &good[entryOf(good, 273) + 8], 4);
    expectTiffError(good, "strip or tile 0 is shorter than its rows", stripAt,
                    [](auto& f) { put32(f, entryOf(f, 279) + 8, 10); });
}

TEST(TiffReader, EveryTruncationIsRejectedWithoutOverread) {
    // Run under AddressSanitizer: any read outside the buffer fails the test.
    Image img = randomImage(20, 9, 8, 4);
    const auto good = ours(img);
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::vector<std::byte> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_THROW((void)readTiff(cut), TiffError) << "length " << n;
    }
    EXPECT_NO_THROW((void)readTiff(good));
}

TEST(TiffReader, CorruptCompressedDataIsBoundedAndReported) {
    Image img = randomImage(64, 64, 8, 5);
    bench::MemStream written;
    libtiffWrite(written, img, {8, COMPRESSION_LZW, false, false, false, false});
    const auto file = fileBytes(written);
    // Flip bytes in the middle of the compressed data: the reader may give wrong pixels or an
    // error, but never reads or writes out of bounds (ASan) and never hangs.
    std::mt19937 rng(1);
    int errors = 0;
    for (int round = 0; round < 200; ++round) {
        auto f = file;
        for (int k = 0; k < 4; ++k)
            f[8 + rng() % 2000] = static_cast<std::byte>(rng());
        try {
            Image out = readTiff(f);
            EXPECT_EQ(out.width() * out.height(), 64u * 64u);
        } catch (const TiffError&) {
            ++errors;
        }
    }
    EXPECT_GT(errors, 0);  // undefined codes are detected, not ignored
}

}  // namespace
}  // namespace quilo::imaging
