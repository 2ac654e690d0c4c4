// The plug-in installed in a simulated world with the simulated scanner, initialised by a host
// window that only counts what it receives: the measurements of the capture road see the
// plug-in's own work, not a host's bookkeeping.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "controller/frm_main.h"
#include "controller/plugin_process.h"
#include "demo/install.h"
#include "orvane-sim/phantom.h"
#include "orvane-sim/tiff_lite.h"
#include "orvane-sim/world_library.h"
#include "platform/sim/world.h"
#include "test-host/host_core.h"

namespace quilo::bench {

// The plates of the measurements: 0 an intraoral size 2 and 1 a whole cephalometric plate, both
// at 25 um (the latter 9600 x 12000 pixels of 16 bits, 230 MB), or an eighth of each side for a
// quick run; `sensor` is the simulated scanner's parameter set of that kind.
struct Plate {
    const char* name;
    std::int32_t imageType;
    std::uint32_t width, height;
    std::int32_t sensor;
};
inline Plate plateOf(std::int64_t kind, std::uint32_t shrink) {
    if (kind == 0) return {"intraoral", 0, 1240 / shrink, 1640 / shrink, 1};
    return {"cephalometric", 1, 12000 / shrink, 9600 / shrink, 4};
}

// Receives the plug-in's messages and keeps only the images' count and size.
class SinkWindow final : public platform::WindowHandler {
  public:
    explicit SinkWindow(platform::WindowSystem& w) : windows_(w) {
        hwnd_ = w.createWindow(platform::WindowSpec{"Sink"}, this);
    }
    ~SinkWindow() { windows_.destroyWindow(hwnd_); }
    platform::LResult windowProc(platform::Hwnd h, platform::MsgId msg, platform::WParam wp,
                                 platform::LParam lp) override {
        if (msg != platform::wm::kCopyData) return windows_.defWindowProc(h, msg, wp, lp);
        const auto* cd = reinterpret_cast<const platform::CopyData*>(lp);
        if (cd->dwData == 24) {
            ++images;
            imageBytes = cd->cbData;
        }
        return 1;
    }
    platform::Hwnd hwnd() const { return hwnd_; }
    int images = 0;
    std::uint32_t imageBytes = 0;

  private:
    platform::WindowSystem& windows_;
    platform::Hwnd hwnd_ = 0;
};

class RoadRig {
  public:
    // Every parameter set of the simulated scanner at 25 um; the scanner reads no plates itself:
    // the measurements hand it theirs.
    RoadRig() {
        demo::install(world);
        const auto ini = world.nativePath("C:\\Program Files\\Kelvora\\Quilo\\OrvaneEx.ini");
        std::ifstream in(ini);
        std::string text;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("PitchUM=", 0) == 0) line = "PitchUM=25";
            if (line.rfind("Plates=", 0) == 0) line = "Plates=0";
            text += line + "\n";
        }
        in.close();
        std::ofstream(ini) << text;
        sim::ProcessOptions hostOptions;
        hostOptions.exePath = "C:\\Program Files\\Kelvora\\Kelvora3.exe";
        hostProcess = &world.createProcess(hostOptions);
        host = std::make_unique<testhost::HostCore>(*hostProcess, "Kelvora 3");
        sink = std::make_unique<SinkWindow>(hostProcess->windows());
        pluginProcess = &world.createProcess();
        library = orvanesim::WorldLibrary::install(world, *pluginProcess);
        plugin = std::make_unique<controller::PluginProcess>(*pluginProcess);
        plugin->start();
        world.runUntilIdle();
        host->sendFrom(sink->hwnd(), main().hwnd(), 2, testhost::handleBytes(sink->hwnd()));
        world.runUntilIdle();
        // Images go to the host at once and are not kept: every run starts from the same state.
        plugin->settings().settings().NoPreview = 1;
        host::CapabilitiesRecord caps = plugin->plugin()->CapabilitiesData();
        caps.set(host::CapabilitiesRecord::keepImages, false);
        plugin->plugin()->CapabilitiesData(caps);
    }
    ~RoadRig() {
        plugin.reset();
        library.reset();
    }
    controller::frmMain& main() { return *plugin->mainForm(); }

    // The plate as the scanner library hands it over: a 16-bit TIFF file image in a block.
    platform::GlobalBlock rawBlock(const Plate& p) {
        const auto phantom =
            orvanesim::makePhantom(p.imageType == 1 ? orvanesim::PlateKind::Cephalometric
                                                    : orvanesim::PlateKind::Intraoral,
                                   static_cast<int>(p.width), static_cast<int>(p.height), 11);
        const auto file = orvanesim::writeGreyTiff(
            static_cast<int>(p.width), static_cast<int>(p.height), 16, phantom.pixels, 400.0);
        auto block = platform::GlobalBlock::allocate(pluginProcess->memory(), file.size());
        platform::GlobalLock lock(pluginProcess->memory(), block.get());
        std::memcpy(lock.data(), file.data(), file.size());
        return block;
    }
    // The capture as the scanner's set of that plate's kind was activated.
    void selectPlate(const Plate& p) {
        plugin->sensors().CurrentImageType() = p.imageType;
        main().setActiveSensor(p.sensor);
    }

    sim::World world;
    sim::SimProcess* hostProcess = nullptr;
    std::unique_ptr<testhost::HostCore> host;
    std::unique_ptr<SinkWindow> sink;
    sim::SimProcess* pluginProcess = nullptr;
    std::unique_ptr<orvanesim::WorldLibrary> library;
    std::unique_ptr<controller::PluginProcess> plugin;
};

}  // namespace quilo::bench
