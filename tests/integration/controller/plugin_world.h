// A simulated world with an installed plug-in (program, language files, the simulated scanner
// library and its INI file, the host's plugins.ini) and a host process running the test host's
// protocol logic. Tests start plug-in processes in it and talk to them as the host would.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "controller/frm_main.h"
#include "controller/plugin_process.h"
#include "demo/install.h"
#include "orvane-sim/world_library.h"
#include "platform/sim/world.h"
#include "test-host/decode.h"
#include "test-host/host_core.h"

namespace quilo::test {

using platform::Hwnd;
using testhost::Bytes;

inline constexpr const char* kProgramFolder = "C:\\Program Files\\Kelvora\\Quilo";

// Code numbers of the protocol, spelled out here rather than taken from the code under test.
namespace code {
inline constexpr std::int32_t Initialize = 2, Shutdown = 3, Information = 4, Capabilities = 5,
                              Status = 6, SetSettings = 12, Activate = 20, Stop = 23,
                              SensorCount = 30, SensorInfo = 31, Announce = -1;
}

inline std::int32_t le32At(const Bytes& b, std::size_t at) {
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(b.at(at + i)) << (8 * i);
    return static_cast<std::int32_t>(u);
}
inline std::int16_t le16At(const Bytes& b, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(
        static_cast<unsigned>(b.at(at)) | (static_cast<unsigned>(b.at(at + 1)) << 8)));
}
inline std::string textAt(const Bytes& b, std::size_t at, std::size_t width) {
    std::string s;
    for (std::size_t i = at; i < at + width && b.at(i) != std::byte{0}; ++i)
        s.push_back(static_cast<char>(b[i]));
    return s;
}

class PluginWorld : public ::testing::Test {
  protected:
    PluginWorld() {
        demo::install(world);
        sim::ProcessOptions hostOptions;
        hostOptions.exePath = "C:\\Program Files\\Kelvora\\Kelvora3.exe";
        hostProcess = &world.createProcess(hostOptions);
        host = std::make_unique<testhost::HostCore>(*hostProcess, "Kelvora 3");
        host->waiter = [this](const std::function<bool()>& done, std::uint32_t timeoutMs) {
            world.runUntilIdle();
            for (std::uint32_t waited = 0; !done() && waited < timeoutMs; waited += 10)
                world.advance(10);
            return done();
        };
    }

    ~PluginWorld() override {
        plugin.reset();
        library.reset();
    }

    // Starts the plug-in process; false when it ended at once.
    bool startPlugin(const std::string& commandLine = {}, sim::ProcessOptions options = {}) {
        options.commandLine = commandLine;
        pluginProcess = &world.createProcess(options);
        library = orvanesim::WorldLibrary::install(world, *pluginProcess);
        plugin = std::make_unique<controller::PluginProcess>(*pluginProcess);
        const bool started = plugin->start();
        world.runUntilIdle();
        return started;
    }
    controller::frmMain& main() { return *plugin->mainForm(); }
    Hwnd pluginWindow() { return main().hwnd(); }

    // Sends a command from the host and works off what follows; the verdict.
    platform::LResult send(std::int32_t c, const Bytes& data) {
        const auto v = host->send(pluginWindow(), c, data);
        world.runUntilIdle();
        return v;
    }
    platform::LResult sendHandle(std::int32_t c) {
        return send(c, testhost::handleBytes(host->hwnd()));
    }
    // Sends and returns the reply with the same code (fails the test when none comes).
    Bytes ask(std::int32_t c, const Bytes& data) {
        const std::size_t from = host->received().size();
        EXPECT_NE(send(c, data), 0) << testhost::commandLabel(c);
        for (std::size_t i = from; i < host->received().size(); ++i)
            if (host->received()[i].code == c) return host->received()[i].data;
        ADD_FAILURE() << "no reply to " << testhost::commandLabel(c);
        return {};
    }
    Bytes askHandle(std::int32_t c) { return ask(c, testhost::handleBytes(host->hwnd())); }
    // The status codes the host has been sent since `from`.
    std::vector<std::int32_t> statusesSince(std::size_t from) {
        std::vector<std::int32_t> out;
        for (std::size_t i = from; i < host->received().size(); ++i)
            if (host->received()[i].code == code::Status)
                out.push_back(le32At(host->received()[i].data, 4));
        return out;
    }
    void initialize() {
        ASSERT_NE(sendHandle(code::Initialize), 0);
        ASSERT_TRUE(plugin->plugin()->Initialized());
    }
    std::string readLogFile() {
        std::ifstream in(world.nativePath(std::string(kProgramFolder) + "\\QuiloPlugin.log"));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    sim::World world;
    sim::SimProcess* hostProcess = nullptr;
    sim::SimProcess* pluginProcess = nullptr;
    std::unique_ptr<testhost::HostCore> host;
    std::unique_ptr<orvanesim::WorldLibrary> library;
    std::unique_ptr<controller::PluginProcess> plugin;
};

}  // namespace quilo::test
