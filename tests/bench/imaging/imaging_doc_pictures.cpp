// Makes the side-by-side pictures of docs/imaging.md and prints the test object's figures beside
// them: a simulated intraoral plate (31 x 41 mm at 25 micrometres) shown with a plain
// window/level, after our enhancement and after the OpenCV reference path (invert, CLAHE with
// 8 x 8 regions and clip 2, unsharp mask, 8 bits; when built with QUILO_BENCH_OPENCV), and the
// figures of the test object at the normal and a quarter dose for the same three, and for our
// enhancement at several sharpening strengths. Writes binary PGM files; convert them to PNG.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "imaging/enhancement.h"
#include "imaging/operations.h"
#include "imaging/quality.h"
#include "orvane-sim/phantom.h"

#ifdef QUILO_BENCH_OPENCV
#include "bench/support/opencv_road.h"
#endif

namespace {

using namespace quilo;
using namespace quilo::imaging;

constexpr int kWidth = 1240, kHeight = 1640;
constexpr double kPitch = 25.0;

Image toImage(const orvanesim::GreyImage& g) {
    Image img(static_cast<std::uint32_t>(g.width), static_cast<std::uint32_t>(g.height), 16);
    std::copy(g.pixels.begin(), g.pixels.end(), reinterpret_cast<std::uint16_t*>(img.data()));
    img.setPitch(kPitch, kPitch);
    return img;
}

Image ours(const Image& raw, int sharpen) {
    Image img = raw.clone();
    invert(img);
    EnhancementOptions o = defaultEnhancementOptions(kIntraoral);
    o.sharpen = sharpen;
    return enhanceRadiograph(img, o, 8);
}

#ifdef QUILO_BENCH_OPENCV
Image opencv(const Image& raw) {
    cv::Mat in(static_cast<int>(raw.height()), static_cast<int>(raw.width()), CV_16UC1,
               const_cast<std::uint8_t*>(raw.data()));
    quilo::bench::OpenCvScratch scratch;
    const cv::Mat& out = quilo::bench::openCvEnhance(in, *quilo::bench::openCvClahe(), scratch);
    Image img(raw.width(), raw.height(), 8);
    for (int y = 0; y < out.rows; ++y)
        std::copy(out.ptr<std::uint8_t>(y), out.ptr<std::uint8_t>(y) + out.cols,
                  img.data() + static_cast<std::size_t>(y) * img.rowBytes());
    return img;
}
#endif

Image crop(const Image& img, std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h) {
    Image out(w, h, img.bitsPerPixel());
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            out.set(x, y, img.at(x0 + x, y0 + y));
    return out;
}

bool writePgm(const std::string& path, const Image& img8) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P5\n%u %u\n255\n", img8.width(), img8.height());
    const bool ok = std::fwrite(img8.data(), 1, img8.byteSize(), f) == img8.byteSize();
    return std::fclose(f) == 0 && ok;
}

// One row of figures: wedge steps told apart, the line pairs' modulation against the raw
// plate's (lowest up to half the Nyquist frequency, and at the Nyquist frequency), the discs'
// mean contrast-to-noise ratio against the window/level's, clipped shares.
void row(const char* name, const TestObjectFigures& f, const TestObjectFigures& raw,
         double plainCnr) {
    double lowest = 1e9;
    for (std::size_t g = 0; g < f.linePairs.size(); ++g)
        if (f.linePairs[g].linePairsPerMm <= 1000.0 / (4 * kPitch) + 1e-9)
            lowest = std::min(lowest, f.linePairs[g].modulation / raw.linePairs[g].modulation);
    int clipped = 0;
    for (const AreaStats& s : f.wedge)
        clipped += s.clippedLow + s.clippedHigh > 0.005;
    std::printf("| %s | %s, %d of %zu | %d | %.2f | %.2f | %.2f (%.2f x) |\n", name,
                strictlyMonotone(f.wedge) ? "monotone" : "NOT monotone",
                distinguishableSteps(f.wedge), f.wedge.size() - 1, clipped, lowest,
                f.linePairs.back().modulation / raw.linePairs.back().modulation, meanCnr(f.discs),
                meanCnr(f.discs) / plainCnr);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const TestObjectLayout layout = testObjectLayout(kWidth, kHeight, kPitch);
    for (int dose : {100, 25}) {
        const Image raw = toImage(orvanesim::makeTestObject(kWidth, kHeight, kPitch, dose, 11));
        const TestObjectFigures r = measureTestObject(raw, layout);
        const TestObjectFigures plain = measureTestObject(windowLevel(raw, 8, true), layout);
        const double plainCnr = meanCnr(plain.discs);
        std::printf("\ndose %d %%, 8 bits\n\n", dose);
        std::printf(
            "| | wedge steps apart | steps clipped | line pairs to half Nyquist (min) "
            "| at Nyquist | disc CNR |\n|---|---|---|---|---|---|\n");
        row("window/level", plain, r, plainCnr);
        for (int s : {0, 20, 40, 80, 120}) {
            const std::string name = "ours, sharpen " + std::to_string(s);
            row(name.c_str(), measureTestObject(ours(raw, s), layout), r, plainCnr);
        }
#ifdef QUILO_BENCH_OPENCV
        row("OpenCV CLAHE path", measureTestObject(opencv(raw), layout), r, plainCnr);
#endif
    }
    // The pictures: the middle tooth and the bone below its crown, at full resolution.
    const Image plate =
        toImage(orvanesim::makePhantom(orvanesim::PlateKind::Intraoral, kWidth, kHeight, 20261206));
    const std::uint32_t x0 = 360, y0 = 240, w = 520, h = 700;
    bool ok =
        writePgm(dir + "/enhancement_plain.pgm", crop(windowLevel(plate, 8, true), x0, y0, w, h)) &&
        writePgm(dir + "/enhancement_ours.pgm", crop(ours(plate, 40), x0, y0, w, h));
#ifdef QUILO_BENCH_OPENCV
    ok = ok && writePgm(dir + "/enhancement_opencv.pgm", crop(opencv(plate), x0, y0, w, h));
#endif
    if (!ok) {
        std::fprintf(stderr, "cannot write the pictures to %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
