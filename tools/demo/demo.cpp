// A session between a host and the plug-in in the simulated world, printed as it happens:
// every command the host sends with the plug-in's verdict, and every message that comes back,
// decoded, with the virtual time.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "controller/frm_main.h"
#include "controller/plugin_process.h"
#include "demo/install.h"
#include "orvane-sim/world_library.h"
#include "platform/sim/world.h"
#include "test-host/decode.h"
#include "test-host/host_core.h"

namespace {

using namespace quilo;

}  // namespace

int main() {
    sim::World world;
    demo::install(world);
    sim::ProcessOptions hostOptions;
    hostOptions.exePath = "C:\\Program Files\\Kelvora\\Kelvora3.exe";
    sim::SimProcess& hostProcess = world.createProcess(hostOptions);
    testhost::HostCore host(hostProcess, "Kelvora 3");
    host.onReceived = [&](const testhost::Received& r) {
        std::printf("%8.3f s  < %s\n", world.nowMs() / 1000.0,
                    testhost::decodeRecord(r.code, r.data).c_str());
    };

    sim::SimProcess& pluginProcess = world.createProcess();
    auto library = orvanesim::WorldLibrary::install(world, pluginProcess);
    std::printf("Starting the plug-in (it announces itself when it has loaded)\n");
    auto plugin = std::make_unique<controller::PluginProcess>(pluginProcess);
    if (!plugin->start()) return 1;
    world.runUntilIdle();
    const platform::Hwnd p = plugin->mainForm()->hwnd();

    auto send = [&](std::int32_t code, const testhost::Bytes& data, const char* note) {
        const auto verdict = host.send(p, code, data);
        std::printf("%8.3f s  > %-28s %s%s\n", world.nowMs() / 1000.0,
                    testhost::commandLabel(code).c_str(), verdict ? "accepted" : "REFUSED", note);
        world.runUntilIdle();
    };
    auto withHandle = [&](std::int32_t code, const char* note = "") {
        send(code, testhost::handleBytes(host.hwnd()), note);
    };

    std::printf("\nThe host enumerates plug-ins\n");
    host.enumerate();
    world.runUntilIdle();
    std::printf("\nInitialisation (the scanner is opened now)\n");
    send(2, testhost::int32Bytes(1), "  (data names no window)");
    withHandle(2);
    std::printf("\nQuestions\n");
    withHandle(4);
    withHandle(5);
    withHandle(30);
    const auto sensors = static_cast<std::int32_t>(plugin->sensors().Sensors.count());
    for (std::int32_t n = 0; n <= sensors + 1; ++n)
        send(31, testhost::int32Bytes(n), "");
    withHandle(6);
    std::printf("\nSettings from the host\n");
    send(12, testhost::settingsBlock("LAN German"), "  (LAN German)");
    std::printf("           the Idle status text is now \"%s\"\n",
                plugin->language().LangText(2030).c_str());
    send(12, testhost::settingsBlock("LAN English"), "  (LAN English)");
    std::printf(
        "\nA capture: three plates are read one after another from one activation,\n"
        "each image is acknowledged by the host as it arrives (images are imported at\n"
        "once: NoPreview 1)\n");
    plugin->settings().settings().NoPreview = 1;
    send(20, testhost::int32Bytes(1), "  (sensor 1)");
    std::size_t seen = 0, images = 0;
    for (int step = 0; step < 1200 && images < 3; ++step) {
        world.advance(50);
        for (; seen < host.received().size(); ++seen) {
            const testhost::Received& r = host.received()[seen];
            if (r.code != 24 || r.data.size() < 8) continue;
            ++images;
            std::int32_t id = 0;
            std::memcpy(&id, r.data.data() + 4, 4);
            send(22, testhost::int32Bytes(id), "  (acknowledged)");
        }
    }
    if (images < 3) {
        std::printf("FAILED: the host received %zu of 3 images\n", images);
        return 1;
    }
    withHandle(23);
    std::printf("\nRefusals\n");
    send(9, testhost::handleBytes(host.hwnd()), "  (unknown code)");
    std::printf("\nShutdown\n");
    withHandle(3);
    std::printf("\nThe plug-in process has %s (exit code %d)\n",
                plugin->ended() ? "ended" : "NOT ended", plugin->exitCode());
    const bool ended = plugin->ended();
    plugin.reset();
    library.reset();
    return ended ? 0 : 1;
}
