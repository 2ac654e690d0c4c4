// Speed of the image path, each figure next to a reference measured in the same run. At the end
// a table of ratios is printed (ours / reference, in time per pixel or per byte).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
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

constexpr std::uint32_t kIntraW = 1640, kIntraH = 1240;
constexpr std::uint32_t kCephW = 2400, kCephH = 3000;

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
    static const Image img = radiograph(kIntraW / shrink(), kIntraH / shrink());  // read-only
    return img;
}
const Image& cephalometric() {
    static const Image img = radiograph(kCephW / shrink(), kCephH / shrink());
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

// ---- memory speed reference ----
// The point operations and memcpy run on the intraoral image (which fits a large cache) and on
// a whole plate (which fits none).
void BM_Memcpy(benchmark::State& st, const Image& (*source)()) {
    const Image& src = source();
    std::vector<std::uint8_t> dst(src.byteSize());
    for (auto _ : st) {
        std::memcpy(dst.data(), src.data(), src.byteSize());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * src.byteSize()));
}
BENCHMARK_CAPTURE(BM_Memcpy, intraoral, intraoral)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Memcpy, plate, plate)->Unit(benchmark::kMicrosecond);

// ---- TIFF ----
void BM_TiffWrite(benchmark::State& st) {
    const Image& img = intraoral();
    std::vector<std::byte> out(tiffFileSize(img));
    for (auto _ : st) {
        writeTiff(img, out);
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * img.byteSize()));
}
BENCHMARK(BM_TiffWrite)->Unit(benchmark::kMicrosecond);

void BM_TiffRead(benchmark::State& st) {
    const Image& img = intraoral();
    std::vector<std::byte> file(tiffFileSize(img));
    writeTiff(img, file);
    for (auto _ : st) {
        Image back = readTiff(file);
        benchmark::DoNotOptimize(back.data());
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * img.byteSize()));
}
BENCHMARK(BM_TiffRead)->Unit(benchmark::kMicrosecond);

#ifdef QUILO_BENCH_LIBTIFF
void libtiffWrite(MemStream& s, const Image& img) {
    TIFF* t = memOpen(s, "wl");
    const std::uint32_t rps = static_cast<std::uint32_t>(65536 / img.rowBytes());
    setGreyTags(t, img.width(), img.height(), 16, rps);
    for (std::uint32_t y = 0, s2 = 0; y < img.height(); y += rps, ++s2) {
        const std::uint32_t rows = std::min(rps, img.height() - y);
        TIFFWriteEncodedStrip(t, s2, const_cast<std::uint8_t*>(img.row8(y)),
                              static_cast<tmsize_t>(rows * img.rowBytes()));
    }
    TIFFClose(t);
}

void BM_LibtiffWrite(benchmark::State& st) {
    const Image& img = intraoral();
    MemStream s;
    s.data.reserve(tiffFileSize(img) + 65536);
    for (auto _ : st) {
        s.data.clear();
        libtiffWrite(s, img);
        benchmark::DoNotOptimize(s.data.data());
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * img.byteSize()));
}
BENCHMARK(BM_LibtiffWrite)->Unit(benchmark::kMicrosecond);

void BM_LibtiffRead(benchmark::State& st) {
    const Image& img = intraoral();
    MemStream s;
    s.data.resize(tiffFileSize(img));
    writeTiff(img, std::as_writable_bytes(std::span(s.data)));
    for (auto _ : st) {
        TIFF* t = memOpen(s, "r");
        std::uint32_t w = 0, h = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
        Image back(w, h, 16);
        const tmsize_t strip = TIFFStripSize(t);
        std::uint8_t* p = back.data();
        const std::size_t total = back.byteSize();
        for (tstrip_t i = 0, n = TIFFNumberOfStrips(t); i < n; ++i) {
            const std::size_t at = static_cast<std::size_t>(i) * static_cast<std::size_t>(strip);
            TIFFReadEncodedStrip(t, i, p + at,
                                 static_cast<tmsize_t>(std::min<std::size_t>(strip, total - at)));
        }
        TIFFClose(t);
        benchmark::DoNotOptimize(back.data());
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * img.byteSize()));
}
BENCHMARK(BM_LibtiffRead)->Unit(benchmark::kMicrosecond);
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
    for (auto _ : st) {
        if (fresh) {
            st.PauseTiming();
            img = source().clone();
            st.ResumeTiming();
        }
        op(img, bounds);
        benchmark::DoNotOptimize(img.data());
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * source().byteSize()));
}
const bool kPointOpsRegistered = [] {
    const struct {
        const char* name;
        PointOp op;
        bool fresh;
    } ops[] = {
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
    for (const auto& o : ops)
        for (auto [on, source] : {std::pair{"intraoral", &intraoral}, std::pair{"plate", &plate}})
            benchmark::RegisterBenchmark((std::string(o.name) + "/" + on).c_str(), pointOp, source,
                                         o.op, o.fresh)
                ->Unit(benchmark::kMicrosecond);
    return true;
}();

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

void BM_Median(benchmark::State& st) {
    runMedian(st, intraoral(), [](Image& i, int size) { medianFilter(i, size); });
}
BENCHMARK(BM_Median)->DenseRange(1, 15)->Unit(benchmark::kMillisecond);

// The histogram kernel alone at every level, though the filter takes it only from level 5 on:
// its cost should hardly depend on the window size.
void BM_MedianHistogramKernel(benchmark::State& st) {
    runMedian(st, intraoral(), [](Image& i, int size) { detail::medianHistogram(i, size); });
}
BENCHMARK(BM_MedianHistogramKernel)->DenseRange(1, 15)->Unit(benchmark::kMillisecond);

// std::nth_element on every window, on a 410 x 310 crop of the same image (the full image
// takes seconds); compared per pixel.
void BM_MedianNthElement(benchmark::State& st) {
    const Image& full = intraoral();
    Image crop(full.width() / 4, full.height() / 4, 16);
    for (std::uint32_t y = 0; y < crop.height(); ++y)
        std::memcpy(crop.row16(y), full.row16(y + full.height() / 3) + full.width() / 3,
                    crop.rowBytes());
    runMedian(st, crop, medianFilterReference);
}
BENCHMARK(BM_MedianNthElement)->Arg(1)->Arg(15)->Unit(benchmark::kMillisecond)->Iterations(2);

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
void BM_OpenCVMedianBlur(benchmark::State& st) {
    openCvMedian(st, true);
}
void BM_OpenCVMedianBlurBaseline(benchmark::State& st) {
    openCvMedian(st, false);
}
BENCHMARK(BM_OpenCVMedianBlur)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVMedianBlurBaseline)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
#endif

// ---- enhancement: invert, enhance, 8-bit result ----
void enhancePath(benchmark::State& st, const Image& src, int type) {
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
void BM_EnhanceIntraoral(benchmark::State& st) {
    enhancePath(st, intraoral(), kIntraoral);
}
void BM_EnhanceCephalometric(benchmark::State& st) {
    enhancePath(st, cephalometric(), kCephalometric);
}
BENCHMARK(BM_EnhanceIntraoral)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnhanceCephalometric)->Unit(benchmark::kMillisecond);

#ifdef QUILO_BENCH_OPENCV
// The same road with OpenCV.
void opencvPath(benchmark::State& st, const Image& src) {
    cv::Mat in(static_cast<int>(src.height()), static_cast<int>(src.width()), CV_16UC1,
               const_cast<std::uint8_t*>(src.data()));
    auto clahe = quilo::bench::openCvClahe();
    quilo::bench::OpenCvScratch scratch;
    for (auto _ : st)
        benchmark::DoNotOptimize(quilo::bench::openCvEnhance(in, *clahe, scratch).data);
    perPixel(st, src.pixelCount());
}
void BM_OpenCVEnhanceIntraoral(benchmark::State& st) {
    opencvPath(st, intraoral());
}
void BM_OpenCVEnhanceCephalometric(benchmark::State& st) {
    opencvPath(st, cephalometric());
}
BENCHMARK(BM_OpenCVEnhanceIntraoral)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVEnhanceCephalometric)->Unit(benchmark::kMillisecond);
#endif

// Collects every run's time per iteration and prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
            auto it = r.counters.find("ns_per_px");
            if (it != r.counters.end()) perPx_[r.benchmark_name()] = it->second.value;
            auto b = r.counters.find("bytes_per_second");
            if (b != r.counters.end()) bytes_[r.benchmark_name()] = b->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios (measured in this run; the machine may be busy with other work):\n");
        auto speed = [&](const char* what, const std::string& ours, const std::string& ref) {
            if (bytes_.count(ours) && bytes_.count(ref) && bytes_[ref] > 0)
                std::printf("  %-46s %6.2f x the speed of %s (%.2f GB/s)\n", what,
                            bytes_[ours] / bytes_[ref], ref.c_str(), bytes_[ours] / 1e9);
        };
        auto cost = [&](const char* what, const std::string& ours, const std::string& ref) {
            if (perPx_.count(ours) && perPx_.count(ref) && perPx_[ours] > 0)
                std::printf("  %-46s %6.2f (%.1f vs %.1f ns/pixel)\n", what,
                            perPx_[ref] / perPx_[ours], perPx_[ours], perPx_[ref]);
        };
        speed("TIFF write vs memcpy", "BM_TiffWrite", "BM_Memcpy/intraoral");
        speed("TIFF read vs memcpy", "BM_TiffRead", "BM_Memcpy/intraoral");
        speed("TIFF write vs libtiff", "BM_TiffWrite", "BM_LibtiffWrite");
        speed("TIFF read vs libtiff", "BM_TiffRead", "BM_LibtiffRead");
        for (const char* on : {"intraoral", "plate"}) {
            std::printf("  on the %s image:\n", on);
            const std::string ref = std::string("BM_Memcpy/") + on;
            const auto of = [&](const char* name) { return std::string(name) + "/" + on; };
            speed("  invert vs memcpy", of("BM_Invert"), ref);
            speed("  stretch, bounds given, vs memcpy", of("BM_StretchRange"), ref);
            speed("  StretchIntensity (min/max + stretch) vs memcpy", of("BM_StretchIntensity"),
                  ref);
            speed("  16->8 bits vs memcpy", of("BM_BitDepth16To8"), ref);
            speed("  16->12 bits vs memcpy", of("BM_BitDepth16To12"), ref);
        }
        cost("median level 15: speed-up over nth_element", "BM_Median/15",
             "BM_MedianNthElement/15/iterations:2");
        cost("median level 1: speed-up over nth_element", "BM_Median/1",
             "BM_MedianNthElement/1/iterations:2");
        // Levels 1-4 have paths of their own; the histogram path starts at level 5.
        auto costRatio = [&](const char* what, const std::string& a, const std::string& b) {
            if (perPx_.count(a) && perPx_.count(b) && perPx_[b] > 0)
                std::printf("  %-46s %6.2f\n", what, perPx_[a] / perPx_[b]);
        };
        costRatio("median level 15 cost / level 1 cost", "BM_Median/15", "BM_Median/1");
        costRatio("median level 15 cost / level 4 cost", "BM_Median/15", "BM_Median/4");
        costRatio("median level 15 cost / level 5 cost", "BM_Median/15", "BM_Median/5");
        costRatio("histogram kernel: level 15 cost / level 1 cost", "BM_MedianHistogramKernel/15",
                  "BM_MedianHistogramKernel/1");
        costRatio("histogram kernel: level 15 cost / level 5 cost", "BM_MedianHistogramKernel/15",
                  "BM_MedianHistogramKernel/5");
        // OpenCV as it runs (its best code for this machine, chosen at run time) and held to
        // the SSE2 baseline that our code is compiled for.
        cost("median 3x3: speed-up over OpenCV medianBlur", "BM_Median/2", "BM_OpenCVMedianBlur/2");
        cost("median 5x5: speed-up over OpenCV medianBlur", "BM_Median/4", "BM_OpenCVMedianBlur/4");
        cost("median 3x3: speed-up over OpenCV at SSE2", "BM_Median/2",
             "BM_OpenCVMedianBlurBaseline/2");
        cost("median 5x5: speed-up over OpenCV at SSE2", "BM_Median/4",
             "BM_OpenCVMedianBlurBaseline/4");
        cost("enhancement intraoral: speed-up over OpenCV", "BM_EnhanceIntraoral",
             "BM_OpenCVEnhanceIntraoral");
        cost("enhancement ceph: speed-up over OpenCV", "BM_EnhanceCephalometric",
             "BM_OpenCVEnhanceCephalometric");
    }

  private:
    std::map<std::string, double> perPx_, bytes_;
};

}  // namespace

int main(int argc, char** argv) {
    return quilo::bench::runBenchmarks<RatioReporter>(argc, argv);
}
