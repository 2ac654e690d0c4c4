// Writes the install's Test.tif: a synthetic intraoral radiograph of a size-2 plate (31 x 41 mm)
// at 50 micrometres, 16 bits, drawn by the simulated scanner's phantom generator.
//   quilo_make_test_image OUTPUT.tif
#include <cstdio>

#include "orvane-sim/phantom.h"
#include "orvane-sim/tiff_lite.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quilo_make_test_image OUTPUT.tif\n");
        return 2;
    }
    constexpr int width = 620, height = 820;
    const auto image = quilo::orvanesim::makePhantom(quilo::orvanesim::PlateKind::Intraoral, width,
                                                     height, 20261206);
    const auto bytes = quilo::orvanesim::writeGreyTiff(width, height, 16, image.pixels, 200.0);
    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) return 1;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok ? 0 : 1;
}
