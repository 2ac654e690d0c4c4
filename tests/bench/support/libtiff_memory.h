// libtiff on an in-memory stream, so our TIFF code and libtiff do the same work without a disk.
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
inline int msClose(thandle_t) {
    return 0;
}
inline toff_t msSize(thandle_t h) {
    return static_cast<MemStream*>(h)->data.size();
}
inline int msMap(thandle_t, void**, toff_t*) {
    return 0;
}
inline void msUnmap(thandle_t, void*, toff_t) {}

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
    return TIFFClientOpen("mem", mode, &s, msRead, msWrite, msSeek, msClose, msSize, msMap,
                          msUnmap);
}

}  // namespace quilo::bench
