// Peak memory of one whole cephalometric plate (9600 x 12000, 16 bits) through the capture road
// with the default settings and immediate import, run by the plug-in in the simulated world: the
// raw block, its image, "Raw.TIF" (streamed), the enhancement, the TIFF block, the message block.
// Heap and simulated global memory are counted together (see counting_allocator.h); the copy the
// receiving window gets during the send is counted too, though on Windows it lives in the host.
//   bench_capture_memory           the whole plate
//   bench_capture_memory -QUICK    an eighth of each side (the test runner's smoke run)
#include <chrono>
#include <cstdio>

#include "bench/capture/road_rig.h"
#include "bench/support/counting_allocator.h"

int main(int argc, char** argv) {
    using namespace quilo::bench;
    const std::uint32_t shrink = argc > 1 && argv[1][0] == '-' ? 8u : 1u;
    const Plate plate = plateOf(1, shrink);
    const double raw = 2.0 * plate.width * plate.height;
    RoadRig rig;
    rig.selectPlate(plate);
    const std::size_t before = liveHeapBytes();
    quilo::platform::GlobalBlock block = rig.rawBlock(plate);
    resetHeapPeak();
    const auto t0 = std::chrono::steady_clock::now();
    bool isTest = false;
    rig.main().DoGrabFrame(block.get(), block.size(), isTest);
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (rig.sink->images != 1) {
        std::printf("the image did not reach the host\n");
        return 1;
    }
    std::printf("Capture road, %s plate %u x %u, 16 bits (raw %.1f MB), %.1f s\n", plate.name,
                plate.width, plate.height, raw / 1e6, secs);
    if (!heapCounted()) {
        std::printf("Heap not counted under the address sanitizer\n");
        return 0;
    }
    const double peak = static_cast<double>(peakHeapBytes() - before);
    std::printf(
        "Peak of heap and global blocks above the start, raw block included: %.1f MB = "
        "%.2f x raw\n",
        peak / 1e6, peak / raw);
    return 0;
}
