// Makes the before-and-after pictures of docs/imaging.md: a synthetic intraoral radiograph as
// the plate gives it (a narrow band of the 16-bit range, noisy), shown as a viewer maps 16 bits
// to 8, and the same image after despeckle, the 3x3 median and the enhancement component's
// 8-bit result. Writes two binary PGM files; scripts/bench's caller converts them to PNG.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "imaging/enhancement.h"
#include "imaging/operations.h"

namespace {

using namespace quilo::imaging;

Image phantom(std::uint32_t w, std::uint32_t h) {
    Image img(w, h, 16);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 90);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            // Bone: a soft gradient with a trabecular ripple.
            double v = 14000 + 1500.0 * y / h + 350 * std::sin(x / 5.0) * std::sin(y / 7.0);
            // Two teeth: crowns (enamel, brightest), roots down to the bone, a canal in each.
            for (int t = 0; t < 2; ++t) {
                const double cx = w * (0.32 + 0.36 * t);
                const double dx = (x - cx) / (w * 0.13);
                const double crown = (y - h * 0.28) / (h * 0.2);
                if (dx * dx + crown * crown < 1) v += 5200;
                const double rootHalf = w * 0.09 * (1.0 - (y - h * 0.3) / (h * 0.75));
                if (y > h * 0.3 && std::fabs(x - cx) < rootHalf) {
                    v += 3000;
                    if (std::fabs(x - cx) < rootHalf * 0.18) v -= 1600;  // canal
                }
            }
            // A small dark lesion at a root tip, the kind of detail the enhancement must show.
            const double lx = (x - w * 0.68) / 10.0, ly = (y - h * 0.88) / 8.0;
            if (lx * lx + ly * ly < 1) v -= 900;
            img.set(x, y, static_cast<std::uint32_t>(std::clamp(v + noise(rng), 0.0, 65535.0)));
        }
    return img;
}

bool writePgm(const std::string& path, const Image& img8) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P5\n%u %u\n255\n", img8.width(), img8.height());
    const bool ok = std::fwrite(img8.data(), 1, img8.byteSize(), f) == img8.byteSize();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const Image raw = phantom(360, 270);
    Image before = raw.clone();
    changeBitDepth(before, 8);  // what a viewer shows of the raw 16 bits
    Image work = raw.clone();
    despeckle(work);
    medianFilter(work, 3);
    const Image after = enhanceRadiograph(work, defaultEnhancementOptions(kIntraoral), 8);
    if (!writePgm(dir + "/enhancement_before.pgm", before) ||
        !writePgm(dir + "/enhancement_after.pgm", after)) {
        std::fprintf(stderr, "cannot write the pictures to %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
