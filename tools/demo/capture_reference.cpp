// The reference of the Windows capture run, and its comparison.
//   quilo_capture_reference OUTDIR        runs the test host's capture scenario against the
//                                         plug-in in the simulated world, as TestHost.exe runs it
//                                         under Wine, and writes the images the host received
//                                         (IMG0001.tif, ...) to OUTDIR
//   quilo_capture_reference --compare A B compares the images of two such folders pixel for
//                                         pixel; exit code 0 when every image is the same
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "controller/plugin_process.h"
#include "demo/install.h"
#include "imaging/tiff.h"
#include "orvane-sim/world_library.h"
#include "test-host/scenario.h"

namespace {

using namespace quilo;
namespace fs = std::filesystem;

int reference(const fs::path& out) {
    sim::World world;
    demo::install(world);
    sim::ProcessOptions hostOptions;
    hostOptions.exePath = "C:\\Program Files\\Kelvora\\Kelvora3.exe";
    testhost::HostCore host(world.createProcess(hostOptions), "Kelvora 3");
    host.setImageFolder("C:\\Received");
    host.waiter = [&world](const std::function<bool()>& done, std::uint32_t timeoutMs) {
        world.runUntilIdle();
        for (std::uint32_t waited = 0; !done() && waited < timeoutMs; waited += 10)
            world.advance(10);
        return done();
    };
    int failures = 0;
    {
        demo::WorldLauncher launcher(world);
        testhost::Scenario scenario(
            host, launcher, [](const std::string& line) { std::printf("%s\n", line.c_str()); });
        testhost::Scenario::CaptureRun run;
        run.acknowledge = 2;
        run.text1 = "Intraoral size 2 (#1)";
        failures = scenario.capture(run);
    }
    fs::create_directories(out);
    for (const auto& f : fs::directory_iterator(world.nativePath("C:\\Received")))
        fs::copy_file(f.path(), out / f.path().filename(), fs::copy_options::overwrite_existing);
    return failures == 0 ? 0 : 1;
}

imaging::Image readImage(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    return imaging::readTiff(std::as_bytes(std::span(bytes)));
}

int compare(const fs::path& a, const fs::path& b) {
    int different = 0, compared = 0;
    for (const auto& f : fs::directory_iterator(a)) {
        const fs::path other = b / f.path().filename();
        ++compared;
        if (!fs::exists(other)) {
            std::printf("%s: missing in %s\n", f.path().filename().c_str(), b.c_str());
            ++different;
            continue;
        }
        const imaging::Image x = readImage(f.path()), y = readImage(other);
        std::uint32_t worst = 0;
        std::size_t differing = 0;
        const bool sameShape = x.width() == y.width() && x.height() == y.height() &&
                               x.bitsPerPixel() == y.bitsPerPixel();
        if (sameShape)
            for (std::uint32_t r = 0; r < x.height(); ++r)
                for (std::uint32_t c = 0; c < x.width(); ++c) {
                    const std::uint32_t p = x.at(c, r), q = y.at(c, r);
                    const std::uint32_t d = p > q ? p - q : q - p;
                    if (d != 0) ++differing, worst = std::max(worst, d);
                }
        const bool same = sameShape && differing == 0 && x.pitchX() == y.pitchX();
        std::printf("%s: %u x %u, %d bits, pitch %.2f um: %s", f.path().filename().c_str(),
                    x.width(), x.height(), x.bitsPerPixel(), x.pitchX(),
                    same ? "the same pixel for pixel\n" : "DIFFERENT");
        if (!same)
            std::printf(" (%u x %u, %d bits, pitch %.2f; %zu pixels differ, by up to %u)\n",
                        y.width(), y.height(), y.bitsPerPixel(), y.pitchX(), differing, worst);
        different += same ? 0 : 1;
    }
    if (compared == 0) std::printf("no images in %s\n", a.c_str());
    return compared > 0 && different == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--compare") return compare(argv[2], argv[3]);
    if (argc == 2) return reference(argv[1]);
    std::fprintf(stderr, "usage: quilo_capture_reference OUTDIR | --compare DIR_A DIR_B\n");
    return 2;
}
