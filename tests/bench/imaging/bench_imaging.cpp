// Speed of the image path, each figure next to a reference measured in the same run. At the end
// a table of ratios is printed (ours / reference, in time per pixel or per byte).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bench/support/bench_main.h"
#include "imaging/enhancement.h"
#include "imaging/median_internal.h"
#include "imaging/operations.h"
#include "imaging/tiff.h"

#ifdef QUILO_BENCH_LIBTIFF
#include "bench/support/libtiff_memory.h"
#endif
#ifdef QUILO_BENCH_OPENCV
#include <opencv2/imgproc.hpp>

#include "bench/support/opencv_road.h"
#endif

namespace {

using namespace quilo::imaging;
using quilo::bench::shrink;
#ifdef QUILO_BENCH_LIBTIFF
using namespace quilo::bench;
#endif

// A synthetic radiograph in a narrow band of the 16-bit range, with noise.
Image radiograph(std::uint32_t w, std::uint32_t h) {
    Image img(w, h, 16);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0, 120);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const double dx = (x - w / 2.0) / (w / 4.0), dy = (y - h / 2.0) / (h / 2.5);
            double v = 12000 + 3000.0 * x / w + 2000.0 * std::sin(y / 37.0);
            if (dx * dx + dy * dy < 1) v += 15000;
            img.set(x, y, static_cast<std::uint32_t>(std::clamp(v + noise(rng), 0.0, 65535.0)));
        }
    return img;
}

const Image& intraoral() {
    static const Image img = radiograph(1640 / shrink(), 1240 / shrink());  // read-only
    return img;
}
const Image& cephalometric() {
    static const Image img = radiograph(2400 / shrink(), 3000 / shrink());
    return img;
}

// A whole cephalometric plate, far larger than any processor cache: the point operations on it
// run against main memory, as they do in the product. Rows of the intraoral image, repeated.
constexpr std::uint32_t kPlateW = 9600, kPlateH = 12000;
const Image& plate() {
    static const Image img = [] {
        const Image& row = intraoral();
        Image p(kPlateW / shrink(), kPlateH / shrink(), 16);
        for (std::uint32_t y = 0; y < p.height(); ++y)
            for (std::uint32_t x = 0; x < p.width(); ++x)
                p.set(x, y, row.at(x % row.width(), y % row.height()));
        return p;
    }();
    return img;
}

void perPixel(benchmark::State& st, std::size_t pixels) {
    st.counters["ns_per_px"] = benchmark::Counter(
        static_cast<double>(pixels) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Runs `op` once an iteration; the image's bytes count as processed.
template <class Op>
void perByte(benchmark::State& st, const Image& img, Op op) {
    for (auto _ : st)
        op();
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * img.byteSize()));
}

// ---- memory speed reference ----
// The point operations and memcpy run on the intraoral image (which fits a large cache) and on
// a whole plate (which fits none).
void memcpyOf(benchmark::State& st, const Image& (*source)()) {
    const Image& src = source();
    std::vector<std::uint8_t> dst(src.byteSize());
    perByte(st, src, [&] {
        std::memcpy(dst.data(), src.data(), src.byteSize());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    });
}

// ---- TIFF, ours and libtiff's, into and out of memory ----
void tiffWrite(benchmark::State& st) {
    std::vector<std::byte> out(tiffFileSize(intraoral()));
    perByte(st, intraoral(), [&] {
        writeTiff(intraoral(), out);
        benchmark::DoNotOptimize(out.data());
    });
}
void tiffRead(benchmark::State& st) {
    std::vector<std::byte> file(tiffFileSize(intraoral()));
    writeTiff(intraoral(), file);
    perByte(st, intraoral(), [&] { benchmark::DoNotOptimize(readTiff(file).data()); });
}
#ifdef QUILO_BENCH_LIBTIFF
void libtiffWrite(benchmark::State& st) {
    const Image& img = intraoral();
    MemStream s;
    s.data.reserve(tiffFileSize(img) + 65536);
    perByte(st, img, [&] {
        s.data.clear();
        writeGrey(memOpen(s, "wl"), img.data(), img.width(), img.height(), 16);
    });
}
void libtiffRead(benchmark::State& st) {
    MemStream s;
    s.data.resize(tiffFileSize(intraoral()));
    writeTiff(intraoral(), std::as_writable_bytes(std::span(s.data)));
    perByte(st, intraoral(), [&] {
        Image back;
        readGrey(memOpen(s, "r"), [&](std::uint32_t w, std::uint32_t h) {
            back = Image(w, h, 16);
            return back.data();
        });
        benchmark::DoNotOptimize(back.data());
    });
}
#endif

// ---- point operations ----
// The point operations run again and again on one copy of the image: their cost does not depend
// on the values, so a stretched image is stretched again (with the first copy's bounds). A
// change of depth starts from a fresh copy each time, made (and the last one given back)
// outside the timing.
using PointOp = void (*)(Image&, std::pair<std::uint32_t, std::uint32_t> bounds);
void pointOp(benchmark::State& st, const Image& (*source)(), PointOp op, bool fresh) {
    Image img = source().clone();
    const auto bounds = minMax(img);
    perByte(st, source(), [&] {
        if (fresh) {
            st.PauseTiming();
            img = source().clone();
            st.ResumeTiming();
        }
        op(img, bounds);
        benchmark::DoNotOptimize(img.data());
    });
}
const struct {
    const char* name;
    PointOp op;
    bool fresh;
} kPointOps[] = {
    {"BM_Invert", [](Image& i, auto) { invert(i); }, false},
    {"BM_StretchRange", [](Image& i, auto b) { stretchRange(i, b.first, b.second); }, false},
    // StretchIntensity reads the image twice: its smallest and largest values first.
    {"BM_StretchIntensity", [](Image& i, auto) { stretchIntensity(i); }, false},
    {"BM_BitDepth16To8", [](Image& i, auto) { changeBitDepth(i, 8); }, true},
    {"BM_BitDepth16To12",
     [](Image& i, auto) {
         changeBitDepth(i, 12);
         i.relabelDepth(16);
     },
     false},
};

// ---- median ----
// A median at the benchmark's level on a fresh copy of src for every iteration.
void runMedian(benchmark::State& st, const Image& src, void (*median)(Image&, int)) {
    const int level = static_cast<int>(st.range(0));
    Image img = src.clone();
    for (auto _ : st) {
        st.PauseTiming();
        std::memcpy(img.data(), src.data(), img.byteSize());
        st.ResumeTiming();
        median(img, level + 1);
    }
    perPixel(st, img.pixelCount());
}

// std::nth_element on every window, on a 410 x 310 crop of the same image (the full image
// takes seconds); compared per pixel.
void medianNthElement(benchmark::State& st) {
    const Image& full = intraoral();
    Image crop(full.width() / 4, full.height() / 4, 16);
    for (std::uint32_t y = 0; y < crop.height(); ++y)
        std::memcpy(crop.row16(y), full.row16(y + full.height() / 3) + full.width() / 3,
                    crop.rowBytes());
    runMedian(st, crop, medianFilterReference);
}

#ifdef QUILO_BENCH_OPENCV
// OpenCV as it runs (its best code for this machine, chosen at run time: AVX2, AVX-512) and
// held to the instruction set we compile for (SSE2 on x86).
void openCvMedian(benchmark::State& st, bool optimised) {
    const int level = static_cast<int>(st.range(0));
    const Image& img = intraoral();
    cv::Mat src(static_cast<int>(img.height()), static_cast<int>(img.width()), CV_16UC1,
                const_cast<std::uint8_t*>(img.data()));
    cv::Mat dst;
    cv::setUseOptimized(optimised);
    for (auto _ : st)
        cv::medianBlur(src, dst, level + 1);
    cv::setUseOptimized(true);
    perPixel(st, img.pixelCount());
}
#endif

// ---- enhancement: invert, enhance, 8-bit result; ours and the OpenCV road ----
void enhancePath(benchmark::State& st, const Image& (*source)(), int type) {
    const Image& src = source();
    Image img = src.clone();
    const EnhancementOptions o = defaultEnhancementOptions(type);
    for (auto _ : st) {
        st.PauseTiming();
        std::memcpy(img.data(), src.data(), img.byteSize());
        st.ResumeTiming();
        invert(img);
        Image out = enhanceRadiograph(img, o, 8);
        benchmark::DoNotOptimize(out.data());
    }
    perPixel(st, img.pixelCount());
}
#ifdef QUILO_BENCH_OPENCV
void opencvPath(benchmark::State& st, const Image& (*source)(), int) {
    const Image& src = source();
    cv::Mat in(static_cast<int>(src.height()), static_cast<int>(src.width()), CV_16UC1,
               const_cast<std::uint8_t*>(src.data()));
    auto clahe = quilo::bench::openCvClahe();
    quilo::bench::OpenCvScratch scratch;
    for (auto _ : st)
        benchmark::DoNotOptimize(quilo::bench::openCvEnhance(in, *clahe, scratch).data);
    perPixel(st, src.pixelCount());
}
#endif

void registerAll() {
    using benchmark::kMicrosecond, benchmark::kMillisecond;
    using quilo::bench::add;
    for (auto [on, source] : {std::pair{"intraoral", &intraoral}, std::pair{"plate", &plate}}) {
        add(std::string("BM_Memcpy/") + on, kMicrosecond, memcpyOf, source);
        for (const auto& o : kPointOps)
            add(std::string(o.name) + "/" + on, kMicrosecond, pointOp, source, o.op, o.fresh);
    }
    add("BM_TiffWrite", kMicrosecond, tiffWrite);
    add("BM_TiffRead", kMicrosecond, tiffRead);
#ifdef QUILO_BENCH_LIBTIFF
    add("BM_LibtiffWrite", kMicrosecond, libtiffWrite);
    add("BM_LibtiffRead", kMicrosecond, libtiffRead);
#endif
    add("BM_Median", kMillisecond, [](benchmark::State& st) {
        runMedian(st, intraoral(), [](Image& i, int size) { medianFilter(i, size); });
    })->DenseRange(1, 15);
    // The histogram kernel alone at every level, though the filter takes it only from level 5
    // on: its cost should hardly depend on the window size.
    add("BM_MedianHistogramKernel", kMillisecond, [](benchmark::State& st) {
        runMedian(st, intraoral(), [](Image& i, int size) { detail::medianHistogram(i, size); });
    })->DenseRange(1, 15);
    add("BM_MedianNthElement", kMillisecond, medianNthElement)->Arg(1)->Arg(15)->Iterations(2);
#ifdef QUILO_BENCH_OPENCV
    add("BM_OpenCVMedianBlur", kMillisecond, openCvMedian, true)->Arg(2)->Arg(4);
    add("BM_OpenCVMedianBlurBaseline", kMillisecond, openCvMedian, false)->Arg(2)->Arg(4);
#endif
    for (auto [name, source, type] :
         {std::tuple{"Intraoral", &intraoral, kIntraoral},
          std::tuple{"Cephalometric", &cephalometric, kCephalometric}}) {
        add(std::string("BM_Enhance") + name, kMillisecond, enhancePath, source, type);
#ifdef QUILO_BENCH_OPENCV
        add(std::string("BM_OpenCVEnhance") + name, kMillisecond, opencvPath, source, type);
#endif
    }
}

// Prints the ratios of the runs to their references at the end.
class RatioReporter : public quilo::bench::FigureReporter {
  public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios (measured in this run; the machine may be busy with other work):\n");
        auto speed = [&](const std::string& what, const std::string& ours, const std::string& ref) {
            if (const auto f = both(ours, ref, "bytes_per_second"))
                std::printf("  %-46s %6.2f x the speed of %s (%.2f GB/s)\n", what.c_str(),
                            f->first / f->second, ref.c_str(), f->first / 1e9);
        };
        speed("TIFF write vs memcpy", "BM_TiffWrite", "BM_Memcpy/intraoral");
        speed("TIFF read vs memcpy", "BM_TiffRead", "BM_Memcpy/intraoral");
        speed("TIFF write vs libtiff", "BM_TiffWrite", "BM_LibtiffWrite");
        speed("TIFF read vs libtiff", "BM_TiffRead", "BM_LibtiffRead");
        for (const std::string on : {"intraoral", "plate"}) {
            std::printf("  on the %s image:\n", on.c_str());
            for (const auto& [what, name] :
                 {std::pair{"invert", "BM_Invert"},
                  {"stretch, bounds given,", "BM_StretchRange"},
                  {"StretchIntensity (min/max + stretch)", "BM_StretchIntensity"},
                  {"16->8 bits", "BM_BitDepth16To8"},
                  {"16->12 bits", "BM_BitDepth16To12"}})
                speed(std::string("  ") + what + " vs memcpy", std::string(name) + "/" + on,
                      "BM_Memcpy/" + on);
        }
        // Each row: the reference's cost per pixel over ours. Levels 1-4 of the median have
        // paths of their own; the histogram path starts at level 5. OpenCV runs as it picks its
        // best code for this machine and held to the SSE2 baseline our code is compiled for.
        const char* const rows[][3] = {
            {"median level 15: speed-up over nth_element", "BM_Median/15",
             "BM_MedianNthElement/15/iterations:2"},
            {"median level 1: speed-up over nth_element", "BM_Median/1",
             "BM_MedianNthElement/1/iterations:2"},
            {"median level 15 cost / level 1 cost", "BM_Median/1", "BM_Median/15"},
            {"median level 15 cost / level 4 cost", "BM_Median/4", "BM_Median/15"},
            {"median level 15 cost / level 5 cost", "BM_Median/5", "BM_Median/15"},
            {"histogram kernel: level 15 cost / level 1 cost", "BM_MedianHistogramKernel/1",
             "BM_MedianHistogramKernel/15"},
            {"histogram kernel: level 15 cost / level 5 cost", "BM_MedianHistogramKernel/5",
             "BM_MedianHistogramKernel/15"},
            {"median 3x3: speed-up over OpenCV medianBlur", "BM_Median/2", "BM_OpenCVMedianBlur/2"},
            {"median 5x5: speed-up over OpenCV medianBlur", "BM_Median/4", "BM_OpenCVMedianBlur/4"},
            {"median 3x3: speed-up over OpenCV at SSE2", "BM_Median/2",
             "BM_OpenCVMedianBlurBaseline/2"},
            {"median 5x5: speed-up over OpenCV at SSE2", "BM_Median/4",
             "BM_OpenCVMedianBlurBaseline/4"},
            {"enhancement intraoral: speed-up over OpenCV", "BM_EnhanceIntraoral",
             "BM_OpenCVEnhanceIntraoral"},
            {"enhancement ceph: speed-up over OpenCV", "BM_EnhanceCephalometric",
             "BM_OpenCVEnhanceCephalometric"},
        };
        for (const auto& [what, ours, ref] : rows)
            if (const auto f = both(ref, ours, "ns_per_px"))
                std::printf("  %-46s %6.2f (%.1f vs %.1f ns/pixel)\n", what, f->first / f->second,
                            f->second, f->first);
    }
};

}  // namespace

int main(int argc, char** argv) {
    return quilo::bench::runBenchmarks<RatioReporter>(argc, argv, registerAll);
}
