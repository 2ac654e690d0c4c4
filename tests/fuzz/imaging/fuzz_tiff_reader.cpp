// The TIFF reader on arbitrary bytes: it either gives an image or throws TiffError; anything
// else (a crash, a read outside the input, another exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/operations.h"
#include "imaging/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quilo::imaging;
    try {
        const Image img = readTiff(std::span(reinterpret_cast<const std::byte*>(data), size));
        // Whatever comes back is a valid image: its values lie within its depth.
        if (minMax(img).second > img.maxValue()) __builtin_trap();
        // And it writes and reads back unchanged.
        std::vector<std::byte> again(tiffFileSize(img));
        writeTiff(img, again);
        const Image back = readTiff(again);
        if (back.byteSize() != img.byteSize() || back.bitsPerPixel() != img.bitsPerPixel())
            __builtin_trap();
    } catch (const TiffError&) {
    }
    return 0;
}
