// Prints the image-quality figures of a TIFF file.
//   image-quality FILE.tif             mean, noise and clipped shares of the whole image
//   image-quality FILE.tif --object    the test object's figures: per wedge step its mean and
//                                      noise, the line-pair groups' modulation, the discs'
//                                      contrast-to-noise ratio, the clipped shares
//   --pitch UM                         the pixel pitch when the file does not say it (25)
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/quality.h"
#include "imaging/tiff.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: image-quality FILE.tif [--object] [--pitch UM]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quilo::imaging;
    const char* path = nullptr;
    bool object = false;
    double pitch = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--object") == 0) {
            object = true;
        } else if (std::strcmp(argv[i], "--pitch") == 0 && i + 1 < argc) {
            pitch = std::atof(argv[++i]);
            if (pitch <= 0) return usage();
        } else if (argv[i][0] != '-' && path == nullptr) {
            path = argv[i];
        } else {
            return usage();
        }
    }
    if (path == nullptr) return usage();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "image-quality: cannot open %s\n", path);
        return 1;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    try {
        const Image image =
            readTiff(std::span(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()));
        if (pitch <= 0) pitch = image.pitchX() > 0 ? image.pitchX() : 25.0;
        const auto w = static_cast<int>(image.width()), h = static_cast<int>(image.height());
        std::printf("%s: %d x %d, %d bits, %.1f um\n", path, w, h, image.bitsPerPixel(), pitch);
        if (object) {
            std::fputs(describe(measureTestObject(image, testObjectLayout(w, h, pitch))).c_str(),
                       stdout);
        } else {
            const AreaStats s = areaStats(image, {0, 0, w, h});
            std::printf("mean %.1f, noise %.1f, clipped %.3f %% low, %.3f %% high\n", s.mean,
                        s.noise, 100 * s.clippedLow, 100 * s.clippedHigh);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "image-quality: %s: %s\n", path, e.what());
        return 1;
    }
    return 0;
}
