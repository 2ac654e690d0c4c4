// One plate through the whole capture road with the default settings and immediate import: from
// the raw block the scanner library hands over to the bytes of the host's WM_COPYDATA message
// (load, "Raw.TIF", the enhancement component, inversion, 8 bits, the TIFF block, the message
// block), run by the plug-in itself in the simulated world; next to it the same steps built on
// OpenCV and libtiff in the same run. Ours runs on one thread and on all (the plug-in's
// default), OpenCV on one and on two; the road's own steps are also timed one by one. Also: from
// the scanner's status word saying "image ready" to the host's window procedure holding the
// image, through the polling timer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "bench/capture/road_rig.h"
#include "bench/support/bench_main.h"
#include "host/records.h"
#include "imaging/enhancement.h"
#include "imaging/image_control.h"
#include "imaging/tiff.h"

#ifdef QUILO_BENCH_OPENCV
#include "bench/support/libtiff_memory.h"
#include "bench/support/opencv_road.h"
#endif

namespace {

using namespace quilo;
using namespace quilo::bench;

Plate plateOf(std::int64_t arg) {
    return arg == 0 ? intraoralPlate(shrink()) : cephalometricPlate(shrink());
}

// The image control and the enhancement component of the road on the given number of threads.
void useThreads(RoadRig& rig, std::int64_t threads) {
    rig.main().leadIMG.control().setThreads(static_cast<unsigned>(threads));
    rig.plugin->enhancement()->setThreads(static_cast<unsigned>(threads));
}

// Arguments: the plate (0 intraoral, 1 cephalometric) and the threads of our image operations
// (0: all the processor offers, as the plug-in runs).
void BM_Road(benchmark::State& st) {
    const Plate plate = plateOf(st.range(0));
    RoadRig rig(25, 0);
    rig.selectPlate(plate);
    useThreads(rig, st.range(1));
    platform::GlobalBlock raw = rig.rawBlock(plate);
    // A plate of a session after its first, as plates come in a clinic: Raw.TIF is there and the
    // blocks the last plate left are kept (BM_ReadyToHost times a session's first plate).
    bool isTest = false;
    rig.main().DoGrabFrame(raw.get(), raw.size(), isTest);
    for (auto _ : st)
        rig.main().DoGrabFrame(raw.get(), raw.size(), isTest);
    if (rig.sink->images != static_cast<int>(st.iterations()) + 1) st.SkipWithError("image lost");
    st.SetLabel(plate.name);
    st.counters["message_MB"] = rig.sink->imageBytes / 1e6;
}
BENCHMARK(BM_Road)
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The road's steps one by one, as the road calls them (the plug-in's own controls, all threads):
// where its time goes. Each step's milliseconds are a counter; what the road spends besides
// them (the controller, the host link, the simulated windows) is BM_Road's time less their sum.
void BM_RoadSteps(benchmark::State& st) {
    using Clock = std::chrono::steady_clock;
    const Plate plate = plateOf(st.range(0));
    RoadRig rig(25, 0);
    rig.selectPlate(plate);
    platform::GlobalBlock raw = rig.rawBlock(plate);
    platform::GlobalMemory& memory = rig.plugin->platform().memory();  // as the road's steps
    imaging::ImageControl& control = rig.main().leadIMG.control();
    imaging::EnhancementComponent& enhancement = *rig.plugin->enhancement();
    const std::string rawPath = rig.plugin->settings().names().PluginDataFolder + "\\Raw.TIF";
    const char* names[] = {"raw_tif", "enhance", "load_result", "host_tiff", "message"};
    platform::GlobalLock rawLock(memory, raw.get());
    // The plate as the road reads it: in the scanner's block, inverted by the enhancement.
    const imaging::Image plateImage = imaging::tiffPixelImage(rawLock.bytes());
    const std::vector<std::byte> rawHead = imaging::tiffHead(plateImage);
    const std::span<const std::byte> rawPixels(
        reinterpret_cast<const std::byte*>(plateImage.data()), plateImage.byteSize());
    double ms[std::size(names)] = {};
    auto pass = [&] {
        auto last = Clock::now();
        std::size_t step = 0;
        auto done = [&] {
            const auto now = Clock::now();
            ms[step++] += std::chrono::duration<double, std::milli>(now - last).count();
            last = now;
        };
        // Waited for here; the road writes it beside the other steps.
        rig.pluginProcess->files().writeInBackground(rawPath, rawHead, rawPixels)->done();
        done();
        platform::HGlobal out = 0;
        enhancement.setBitDepth(8);
        if (enhancement.enhance(plate.imageType, &plateImage, out, true, true) != 0) return false;
        done();
        control.loadMemory(platform::GlobalBlock(memory, out));  // kept to be sent
        done();
        platform::GlobalBlock tiff = control.saveMemory();
        done();
        {
            constexpr std::size_t kHeader = host::ImageExRecord::kHeaderBytes;
            platform::GlobalBlock message = platform::GlobalBlock::allocate(
                memory, kHeader + tiff.size(), platform::gmem::kMoveable);
            platform::GlobalLock to(memory, message.get());
            platform::GlobalLock from(memory, tiff.get());
            std::memcpy(to.data() + kHeader, from.data(), tiff.size());
            benchmark::DoNotOptimize(to.data());
        }
        done();
        return true;
    };
    // From a session's second plate on, as BM_Road.
    bool ok = pass();
    std::fill(std::begin(ms), std::end(ms), 0.0);
    for (auto _ : st)
        if (ok) ok = pass();
    if (!ok) st.SkipWithError("enhancement failed");
    for (std::size_t i = 0; i < std::size(names); ++i)
        st.counters[names[i]] = benchmark::Counter(ms[i], benchmark::Counter::kAvgIterations);
    st.SetLabel(plate.name);
}
BENCHMARK(BM_RoadSteps)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same road with the plate spool as the polling timer runs it: the raw plate written to
// disk beside the processing, waited for before the scanner would delete it, removed once the
// host has the image.
void BM_RoadWithSpool(benchmark::State& st) {
    const Plate plate = plateOf(st.range(0));
    RoadRig rig(25, 0);
    rig.selectPlate(plate);
    platform::GlobalBlock raw = rig.rawBlock(plate);
    controller::PlateSpool& spool = rig.plugin->spool();
    controller::SpoolRecord record;
    for (auto _ : st) {
        platform::GlobalLock lock(rig.pluginProcess->memory(), raw.get());
        const int entry = spool.keep(std::span<const std::byte>(lock.data(), raw.size()), record);
        bool isTest = false;
        rig.main().DoGrabFrame(raw.get(), raw.size(), isTest);
        if (!spool.finish(entry)) {
            st.SkipWithError("not kept");
            break;
        }
        spool.release(entry);
    }
    st.SetLabel(plate.name);
}
BENCHMARK(BM_RoadWithSpool)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef QUILO_BENCH_OPENCV
// The same steps on OpenCV and libtiff: the raw TIFF read, Raw.TIF written to disk, the OpenCV
// enhancement road, a TIFF file image in memory, and the message block of header plus image.
// Arguments: the plate and OpenCV's threads.
void BM_RoadOpenCV(benchmark::State& st) {
    const Plate plate = plateOf(st.range(0));
    cv::setNumThreads(static_cast<int>(st.range(1)));
    RoadRig rig(25, 0);
    platform::GlobalBlock block = rig.rawBlock(plate);
    MemStream raw;
    {
        platform::GlobalLock lock(rig.pluginProcess->memory(), block.get());
        raw.data.assign(reinterpret_cast<const std::uint8_t*>(lock.data()),
                        reinterpret_cast<const std::uint8_t*>(lock.data()) + block.size());
    }
    const std::string rawPath =
        (std::filesystem::temp_directory_path() / "quilo-bench-raw.tif").string();
    auto clahe = openCvClahe();
    for (auto _ : st) {
        TIFF* in = memOpen(raw, "r");
        std::uint32_t w = 0, h = 0;
        TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(in, TIFFTAG_IMAGELENGTH, &h);
        cv::Mat img(static_cast<int>(h), static_cast<int>(w), CV_16UC1);
        for (std::uint32_t y = 0; y < h; ++y)
            TIFFReadScanline(in, img.ptr(static_cast<int>(y)), y);
        TIFFClose(in);
        TIFF* file = TIFFOpen(rawPath.c_str(), "w");
        setGreyTags(file, w, h, 16, 65536 / (w * 2));
        for (std::uint32_t y = 0; y < h; ++y)
            TIFFWriteScanline(file, img.ptr(static_cast<int>(y)), y);
        TIFFClose(file);
        OpenCvScratch scratch;
        const cv::Mat& out = openCvEnhance(img, *clahe, scratch);
        MemStream tiff;
        TIFF* t = memOpen(tiff, "wl");
        setGreyTags(t, w, h, 8, 65536 / w);
        for (std::uint32_t y = 0; y < h; ++y)
            TIFFWriteScanline(t, const_cast<std::uint8_t*>(out.ptr(static_cast<int>(y))), y);
        TIFFClose(t);
        std::vector<std::uint8_t> message(2376 + tiff.data.size());
        std::memcpy(message.data() + 2376, tiff.data.data(), tiff.data.size());
        benchmark::DoNotOptimize(message.data());
    }
    std::remove(rawPath.c_str());
    cv::setNumThreads(1);  // as the other benchmarks have it
    st.SetLabel(plate.name);
}
BENCHMARK(BM_RoadOpenCV)
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

// From "image ready" to the host: the scanner reads one plate after the activation while the
// virtual clock moves on in steps of the polling interval; the step in which the plate becomes
// ready is the one in which the polling timer fetches it, processes it and hands it over, so
// that step's real time is the time from "image ready" to the host's window procedure.
void BM_ReadyToHost(benchmark::State& st) {
    const Plate plate = plateOf(st.range(0));
    for (auto _ : st) {
        RoadRig rig(25 * static_cast<int>(shrink()), 1);  // the scanner reads plates of that size
        rig.host->sendFrom(rig.sink->hwnd(), rig.main().hwnd(), 20,
                           testhost::int32Bytes(plate.sensor));
        rig.world.runUntilIdle();
        auto step = std::chrono::steady_clock::now();
        while (rig.sink->images == 0 && rig.world.nowMs() < 120000) {
            step = std::chrono::steady_clock::now();
            rig.world.advance(5);
        }
        if (rig.sink->images != 1) {
            st.SkipWithError("no image");
            break;
        }
        st.SetIterationTime(std::chrono::duration<double>(rig.sink->lastImage - step).count());
    }
    st.SetLabel(plate.name);
}
BENCHMARK(BM_ReadyToHost)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Prints our road's time as a share of the reference's at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                all_[r.benchmark_name()].push_back(r.GetAdjustedRealTime());
        // With repetitions, each figure is the median of its runs.
        for (auto& [name, list] : all_) {
            std::vector<double> sorted = list;
            std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
            times_[name] = sorted[sorted.size() / 2];
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const unsigned all = imaging::Workers().threads();
        for (const char* arg : {"0", "1"}) {
            const char* name = arg[0] == '0' ? "Intraoral" : "Cephalometric";
            auto ratio = [&](const char* ours, const char* ref, const char* what) {
                const std::string a = std::string("BM_Road/") + arg + "/" + ours + "/real_time";
                const std::string b =
                    std::string("BM_RoadOpenCV/") + arg + "/" + ref + "/real_time";
                if (times_.count(a) && times_.count(b) && times_[b] > 0)
                    std::printf("%s road: %.2f of the OpenCV + libtiff road's time (%s)\n", name,
                                times_[a] / times_[b], what);
            };
            ratio("1", "1", "both on 1 thread");
            const std::string ours = std::to_string(all) + " threads";
            ratio("0", "1", (ours + " against OpenCV on 1").c_str());
            ratio("0", "2", (ours + " against OpenCV on 2").c_str());
            const std::string one = std::string("BM_Road/") + arg + "/1/real_time";
            const std::string many = std::string("BM_Road/") + arg + "/0/real_time";
            if (times_.count(one) && times_.count(many) && times_[many] > 0)
                std::printf("%s road: %.2f x as fast on %u threads as on 1\n", name,
                            times_[one] / times_[many], all);
            const std::string spool = std::string("BM_RoadWithSpool/") + arg + "/real_time";
            if (times_.count(many) && times_.count(spool) && times_[many] > 0)
                std::printf("%s plate spool: the road takes %+.0f %% with it\n", name,
                            100.0 * (times_[spool] / times_[many] - 1.0));
        }
    }

  private:
    std::map<std::string, double> times_;
    std::map<std::string, std::vector<double>> all_;
};

}  // namespace

int main(int argc, char** argv) {
    return quilo::bench::runBenchmarks<RatioReporter>(argc, argv);
}
