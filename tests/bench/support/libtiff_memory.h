// libtiff on an in-memory stream, so our TIFF code and libtiff do the same work without a disk,
// and the reference's reads and writes of uncompressed grey images.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quilo::bench {

struct MemStream {
    std::vector<std::uint8_t> data;
    toff_t pos = 0;
};
inline tmsize_t msRead(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<MemStream*>(h);
    const auto avail =
        static_cast<tmsize_t>(s->data.size() - std::min<toff_t>(s->pos, s->data.size()));
    n = std::min(n, avail);
    std::memcpy(buf, s->data.data() + s->pos, static_cast<std::size_t>(n));
    s->pos += static_cast<toff_t>(n);
    return n;
}
inline tmsize_t msWrite(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<MemStream*>(h);
    if (s->data.size() < s->pos + static_cast<toff_t>(n))
        s->data.resize(s->pos + static_cast<toff_t>(n));
    std::memcpy(s->data.data() + s->pos, buf, static_cast<std::size_t>(n));
    s->pos += static_cast<toff_t>(n);
    return n;
}
inline toff_t msSeek(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<MemStream*>(h);
    s->pos = whence == SEEK_SET ? off : whence == SEEK_CUR ? s->pos + off : s->data.size() + off;
    return s->pos;
}

// The tags of an uncompressed one-sample grey image in strips of `rowsPerStrip` rows.
inline void setGreyTags(TIFF* t, std::uint32_t w, std::uint32_t h, int bits,
                        std::uint32_t rowsPerStrip, int photometric = PHOTOMETRIC_MINISBLACK) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

inline TIFF* memOpen(MemStream& s, const char* mode) {
    s.pos = 0;
    return TIFFClientOpen(
        "mem", mode, &s, msRead, msWrite, msSeek, [](thandle_t) { return 0; },
        [](thandle_t h) { return static_cast<toff_t>(static_cast<MemStream*>(h)->data.size()); },
        [](thandle_t, void**, toff_t*) { return 0; }, [](thandle_t, void*, toff_t) {});
}

// Writes w x h samples of `bits` from contiguous rows as an uncompressed one-sample grey image
// in strips of 64 KiB, and closes the file.
inline void writeGrey(TIFF* t, const std::uint8_t* pixels, std::uint32_t w, std::uint32_t h,
                      int bits) {
    const std::size_t rowBytes = std::size_t{w} * static_cast<std::size_t>(bits) / 8;
    const auto rps = static_cast<std::uint32_t>(std::max<std::size_t>(1, 65536 / rowBytes));
    setGreyTags(t, w, h, bits, rps);
    for (std::uint32_t y = 0, strip = 0; y < h; y += rps, ++strip)
        TIFFWriteEncodedStrip(t, strip, const_cast<std::uint8_t*>(pixels + y * rowBytes),
                              static_cast<tmsize_t>(std::min(rps, h - y) * rowBytes));
    TIFFClose(t);
}

// Reads an uncompressed grey image's strips into the contiguous rows `pixels(w, h)` returns,
// and closes the file.
template <class Pixels>
void readGrey(TIFF* t, Pixels pixels) {
    std::uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    std::uint8_t* p = pixels(w, h);
    const auto strip = static_cast<std::size_t>(TIFFStripSize(t));
    const std::size_t total = std::size_t{h} * static_cast<std::size_t>(TIFFScanlineSize(t));
    for (tstrip_t i = 0, n = TIFFNumberOfStrips(t); i < n; ++i)
        TIFFReadEncodedStrip(t, i, p + i * strip,
                             static_cast<tmsize_t>(std::min(strip, total - i * strip)));
    TIFFClose(t);
}

}  // namespace quilo::bench
