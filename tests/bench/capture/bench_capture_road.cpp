// One plate through the whole capture road with the default settings and immediate import: from
// the raw block the scanner library hands over to the bytes of the host's WM_COPYDATA message
// (load, "Raw.TIF", the enhancement component, inversion, 8 bits, the TIFF block, the message
// block), run by the plug-in itself in the simulated world; next to it the same steps built on
// OpenCV and libtiff in the same run. Ours runs on one thread and on all (the plug-in's
// default), OpenCV on one and on two; the road's own steps are also timed one by one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>
#include <string>
#include <tuple>
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

// Arguments: the plate (0 intraoral, 1 cephalometric) and the threads of our image operations
// (0: all the processor offers, as the plug-in runs).
void BM_Road(benchmark::State& st) {
    const Plate plate = plateOf(st.range(0), shrink());
    RoadRig rig;
    rig.selectPlate(plate);
    rig.main().leadIMG.control().setThreads(static_cast<unsigned>(st.range(1)));
    rig.plugin->enhancement()->setThreads(static_cast<unsigned>(st.range(1)));
    platform::GlobalBlock raw = rig.rawBlock(plate);
    // A plate of a session after its first, as plates come in a clinic: Raw.TIF is there and the
    // blocks the last plate left are kept.
    bool isTest = false;
    rig.main().DoGrabFrame(raw.get(), raw.size(), isTest);
    for (auto _ : st)
        rig.main().DoGrabFrame(raw.get(), raw.size(), isTest);
    if (rig.sink->images != static_cast<int>(st.iterations()) + 1) st.SkipWithError("image lost");
    st.SetLabel(plate.name);
    st.counters["message_MB"] = rig.sink->imageBytes / 1e6;
}

// The road's steps one by one, as the road calls them (the plug-in's own controls, all threads):
// where its time goes. Each step's milliseconds are a counter; what the road spends besides
// them (the controller, the host link, the simulated windows) is BM_Road's time less their sum.
void BM_RoadSteps(benchmark::State& st) {
    using Clock = std::chrono::steady_clock;
    const Plate plate = plateOf(st.range(0), shrink());
    RoadRig rig;
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

#ifdef QUILO_BENCH_OPENCV
// The same steps on OpenCV and libtiff: the raw TIFF read, Raw.TIF written to disk, the OpenCV
// enhancement road, a TIFF file image in memory, and the message block of header plus image.
// Arguments: the plate and OpenCV's threads.
void BM_RoadOpenCV(benchmark::State& st) {
    const Plate plate = plateOf(st.range(0), shrink());
    cv::setNumThreads(static_cast<int>(st.range(1)));
    RoadRig rig;
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
        cv::Mat img;
        readGrey(memOpen(raw, "r"), [&](std::uint32_t w, std::uint32_t h) {
            img.create(static_cast<int>(h), static_cast<int>(w), CV_16UC1);
            return img.data;
        });
        writeGrey(TIFFOpen(rawPath.c_str(), "w"), img.data, static_cast<std::uint32_t>(img.cols),
                  static_cast<std::uint32_t>(img.rows), 16);
        OpenCvScratch scratch;
        const cv::Mat& out = openCvEnhance(img, *clahe, scratch);
        MemStream tiff;
        writeGrey(memOpen(tiff, "wl"), out.data, static_cast<std::uint32_t>(out.cols),
                  static_cast<std::uint32_t>(out.rows), 8);
        std::vector<std::uint8_t> message(2376 + tiff.data.size());
        std::memcpy(message.data() + 2376, tiff.data.data(), tiff.data.size());
        benchmark::DoNotOptimize(message.data());
    }
    std::remove(rawPath.c_str());
    cv::setNumThreads(1);  // as the other benchmarks have it
    st.SetLabel(plate.name);
}
#endif

// The same road with the plate spool as the polling timer runs it: the raw plate written to
// disk beside the processing, waited for before the scanner would delete it, removed once the
// host has the image (at once here: the host keeps no images).
void BM_RoadWithSpool(benchmark::State& st) {
    const Plate plate = plateOf(st.range(0), shrink());
    RoadRig rig;
    rig.selectPlate(plate);
    platform::GlobalBlock raw = rig.rawBlock(plate);
    rig.main().grabPlate(raw.get(), raw.size(), "PLATE");
    for (auto _ : st) {
        if (rig.main().grabPlate(raw.get(), raw.size(), "PLATE") == 0) {
            st.SkipWithError("not kept");
            break;
        }
    }
    if (rig.plugin->spool().held() != 0) st.SkipWithError("a plate left in the spool");
    st.SetLabel(plate.name);
}

// Arguments: the plate, then our threads (BM_Road) or OpenCV's (BM_RoadOpenCV).
void registerAll() {
    add("BM_Road", benchmark::kMillisecond, BM_Road)->ArgsProduct({{0, 1}, {1, 0}})->UseRealTime();
    add("BM_RoadSteps", benchmark::kMillisecond, BM_RoadSteps)->DenseRange(0, 1)->UseRealTime();
    add("BM_RoadWithSpool", benchmark::kMillisecond, BM_RoadWithSpool)
        ->DenseRange(0, 1)
        ->UseRealTime();
#ifdef QUILO_BENCH_OPENCV
    add("BM_RoadOpenCV", benchmark::kMillisecond, BM_RoadOpenCV)
        ->ArgsProduct({{0, 1}, {1, 2}})
        ->UseRealTime();
#endif
}

// Prints our road's time as a share of the reference's at the end.
class RatioReporter : public FigureReporter {
  public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        const std::string all = std::to_string(imaging::Workers().threads()) + " threads";
        for (const std::string arg : {"0", "1"}) {
            const char* name = arg == "0" ? "Intraoral" : "Cephalometric";
            auto road = [&](const char* which, const std::string& threads) {
                return "BM_Road" + std::string(which) + "/" + arg + "/" + threads + "/real_time";
            };
            for (const auto& [ours, ref, what] :
                 {std::tuple{"1", "1", std::string("both on 1 thread")},
                  {"0", "1", all + " against OpenCV on 1"},
                  {"0", "2", all + " against OpenCV on 2"}})
                if (const auto t = both(road("", ours), road("OpenCV", ref), "time"))
                    std::printf("%s road: %.2f of the OpenCV + libtiff road's time (%s)\n", name,
                                t->first / t->second, what.c_str());
            if (const auto t = both(road("", "1"), road("", "0"), "time"))
                std::printf("%s road: %.2f x as fast on %s as on 1\n", name, t->first / t->second,
                            all.c_str());
            if (const auto t =
                    both("BM_RoadWithSpool/" + arg + "/real_time", road("", "0"), "time"))
                std::printf("%s plate spool: the road takes %+.0f %% with it\n", name,
                            100.0 * (t->first / t->second - 1.0));
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    return quilo::bench::runBenchmarks<RatioReporter>(argc, argv, registerAll);
}
