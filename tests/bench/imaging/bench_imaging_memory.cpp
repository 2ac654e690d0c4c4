// Peak memory of the whole capture chain on a 9600 x 12000 16-bit cephalometric image: the raw
// block from the scanner, loading it into the image control, keeping "Raw.TIF", inversion,
// despeckle and the level-15 median, the enhancement component with an 8-bit result, loading
// that, and the TIFF block for the host. Heap allocations are counted by replacing the C
// allocator's entry points, and the simulated global memory takes its blocks from the heap, so
// the peak of images, working buffers and blocks together is reported as a multiple of the raw
// image size, next to the process's peak resident size. The chain runs on all threads and then on
// one, each timed from the raw block handed over.
#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "bench/support/counting_allocator.h"
#include "imaging/enhancement.h"
#include "imaging/image_control.h"
#include "support/world.h"
#include "support/wrappers.h"

namespace {

using Clock = std::chrono::steady_clock;

// Memory after a step, and the step's wall time since the last sample.
void sample(const quilo::test::CountingMemory& mem, const char* step, Clock::time_point& last) {
    const auto now = Clock::now();
    std::printf("  %-30s %6.0f ms  live %6.1f MB (blocks %6.1f MB), peak so far %6.1f MB\n", step,
                std::chrono::duration<double, std::milli>(now - last).count(),
                quilo::bench::liveHeapBytes() / 1e6, mem.liveBytes() / 1e6,
                quilo::bench::peakHeapBytes() / 1e6);
    last = Clock::now();
}

long maxRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Files that accept writes and keep only their size: the raw copy is streamed, not held.
class DiscardFiles : public quilo::test::FilesWrapper {
  public:
    using FilesWrapper::FilesWrapper;
    std::unique_ptr<quilo::platform::File> open(std::string_view,
                                                quilo::platform::OpenMode) override {
        struct Sink : quilo::platform::File {
            std::uint64_t n = 0;
            std::optional<std::size_t> read(std::span<std::byte>) override { return 0; }
            bool write(std::span<const std::byte> b) override {
                n += b.size();
                return true;
            }
            bool seek(std::uint64_t) override { return true; }
            std::uint64_t size() override { return n; }
            bool flush() override { return true; }
        };
        return std::make_unique<Sink>();
    }
};

struct ChainFigures {
    double seconds = 0;  // from the raw block handed over to the host's TIFF block
    std::size_t peak = 0;
};

// The chain once, its image control and enhancement component on the given number of threads.
ChainFigures runChain(quilo::test::TestWorld& world, std::uint32_t w, std::uint32_t h,
                      unsigned threads) {
    using namespace quilo::imaging;
    const std::size_t raw = std::size_t{w} * h * 2;
    quilo::test::CountingMemory mem{world.proc.memory()};
    DiscardFiles files{world.proc.files()};
    // 1. The raw block as the scanner library gives it.
    quilo::platform::GlobalBlock rawBlock = quilo::platform::GlobalBlock::allocate(mem, raw);
    {
        quilo::platform::GlobalLock lock(mem, rawBlock.get());
        auto* p = reinterpret_cast<std::uint16_t*>(lock.data());
        std::uint32_t s = 1;
        for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
            s = s * 1664525u + 1013904223u;
            p[i] = static_cast<std::uint16_t>(20000 + (i % w) + (s >> 22));
        }
    }
    quilo::bench::resetHeapPeak();
    const auto t0 = Clock::now();
    auto last = t0;
    sample(mem, "raw block", last);
    ImageControl control(mem);
    control.setThreads(threads);
    control.loadRawMemory(rawBlock.get(), raw, w, h, 16);
    sample(mem, "loaded into the image control", last);
    control.saveFile(files, "C:\\data\\Raw.TIF");
    sample(mem, "Raw.TIF written", last);
    control.invert();
    sample(mem, "inverted", last);
    control.despeckle();
    sample(mem, "despeckled", last);
    control.median(16);
    sample(mem, "median level 15", last);
    EnhancementComponent enhancement(mem);
    enhancement.setThreads(threads);
    enhancement.setBitDepth(8);
    quilo::platform::HGlobal out = 0;
    if (enhancement.enhance(kCephalometric, control.bitmapImage(), out, false) != 0) {
        std::printf("enhancement failed\n");
        std::exit(1);
    }
    sample(mem, "enhanced (8-bit TIFF block)", last);
    control.loadMemory(out, mem.size(out));
    sample(mem, "enhanced image loaded", last);
    mem.free(out);
    control.changeBitDepth(8);
    auto host = control.saveMemory();
    sample(mem, "TIFF block for the host", last);
    ChainFigures f;
    f.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    rawBlock.reset();
    sample(mem, "raw block freed", last);
    f.peak = quilo::bench::peakHeapBytes();
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    // "bench_imaging_memory [width height]"; any option (the test runner's quick benchmark
    // pass gives --benchmark_min_time) runs a small image so the program cannot rot.
    std::uint32_t w = 9600, h = 12000;
    if (argc > 1 && argv[1][0] == '-') {
        w = 960;
        h = 1200;
    } else if (argc > 2) {
        w = static_cast<std::uint32_t>(std::atoi(argv[1]));
        h = static_cast<std::uint32_t>(std::atoi(argv[2]));
    }
    const std::size_t raw = std::size_t{w} * h * 2;
    const unsigned all = quilo::imaging::Workers().threads();
    // On the heap: GCC 12 at -O3 takes the inlined default process options for uninitialised.
    const auto world = std::make_unique<quilo::test::TestWorld>();
    const long rss0 = maxRssKb();
    // All threads first, as the plug-in runs: the resident size's growth is that run's; then
    // one thread for the scaling.
    std::printf("Capture chain on %u x %u, 16 bits (raw %.1f MB), %u threads:\n", w, h, raw / 1e6,
                all);
    const ChainFigures many = runChain(*world, w, h, all);
    const long rssMany = maxRssKb();
    std::printf("\nThe same on 1 thread:\n");
    const ChainFigures one = runChain(*world, w, h, 1);

#if defined(__SANITIZE_ADDRESS__)
    std::printf("\nHeap not counted under the address sanitizer\n");
#else
    std::printf(
        "\nPeak of heap and global blocks: %.1f MB = %.2f x raw (%u threads), "
        "%.1f MB = %.2f x raw (1 thread)\n",
        many.peak / 1e6, static_cast<double>(many.peak) / raw, all, one.peak / 1e6,
        static_cast<double>(one.peak) / raw);
#endif
    std::printf("Peak resident size growth (%u threads): %.1f MB = %.2f x raw\n", all,
                (rssMany - rss0) / 1e3, (rssMany - rss0) * 1e3 / raw);
    std::printf(
        "Chain time (raw block to the host's TIFF block): %.2f s on %u threads, %.2f s on "
        "1 thread: %.2f x (the machine may be busy)\n",
        many.seconds, all, one.seconds, one.seconds / many.seconds);
    return 0;
}
