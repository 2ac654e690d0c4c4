// A simulated world with an installed plug-in (program, language files, the simulated scanner
// library and its INI file, the host's plugins.ini) and a host process running the test host's
// protocol logic. Tests start plug-in processes in it and talk to them as the host would.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "controller/frm_main.h"
#include "controller/plugin_process.h"
#include "demo/install.h"
#include "orvane-sim/phantom.h"
#include "orvane-sim/tiff_lite.h"
#include "orvane-sim/world_library.h"
#include "platform/sim/world.h"
#include "test-host/decode.h"
#include "test-host/host_core.h"
#include "test-host/scenario_commands.h"
#include "ui/dlg_box.h"
#include "ui/prescan/frm_prescan.h"

namespace quilo::test {

using platform::Hwnd;
using testhost::Bytes;

inline constexpr const char* kProgramFolder = "C:\\Program Files\\Kelvora\\Quilo";

inline std::int32_t le32At(const Bytes& b, std::size_t at) {
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(b.at(at + i)) << (8 * i);
    return static_cast<std::int32_t>(u);
}
inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
// The files of a folder (none when it does not exist) whose names start with `prefix` and end
// with `extension`.
inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder,
                                                  std::string_view prefix,
                                                  std::string_view extension = {}) {
    std::vector<std::filesystem::path> out;
    if (std::filesystem::is_directory(folder))
        for (const auto& f : std::filesystem::directory_iterator(folder))
            if (f.path().filename().string().starts_with(prefix) &&
                f.path().filename().string().ends_with(extension))
                out.push_back(f.path());
    std::ranges::sort(out);
    return out;
}
// The main form's status display as one line: the picture's tag and tool tip, which of the scan
// button and the Start, Cancel and Setup menus are enabled, the status line and whether it is red.
inline std::string statusView(controller::frmMain& f) {
    auto on = [](const forms::Control& c) { return c.enabled() ? "1" : "0"; };
    return f.imgStatus.tag() + " '" + f.imgStatus.toolTipText() + "' scan" + on(f.cmdScan) +
           " menus" + on(f.mnuStartScan) + on(f.mnuCancelScan) + on(f.mnuSetup) + " '" +
           f.lblStatus.caption() + (f.lblStatus.foreColor() == forms::color::kRed ? "' red" : "'");
}

// The world, the host and the plug-in of one test (or of one run of a longer test).
class PluginSession {
  public:
    PluginSession() {
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

    virtual ~PluginSession() {
        plugin.reset();
        library.reset();
    }

    // Starts the plug-in process; false when it ended at once.
    bool startPlugin(const std::string& commandLine = {}, sim::ProcessOptions options = {}) {
        options.commandLine = commandLine;
        pluginProcess = &world.createProcess(options);
        if (onProcessCreated) onProcessCreated();
        library = orvanesim::WorldLibrary::install(world, *pluginProcess);
        plugin = std::make_unique<controller::PluginProcess>(*pluginProcess);
        if (closeDialogs) {
            plugin->forms().onFormLoad = [this](forms::Form& f) {
                if (f.name() == "frmDlgBox") closeWhenShown(static_cast<ui::frmDlgBox*>(&f));
            };
        }
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
            if (host->received()[i].code == testhost::kGetStatus)
                out.push_back(le32At(host->received()[i].data, 4));
        return out;
    }
    void initialize() {
        ASSERT_NE(sendHandle(testhost::kInitializePlugin), 0);
        ASSERT_TRUE(plugin->plugin()->Initialized());
    }
    std::string readLogFile() {
        return readText(world.nativePath(std::string(kProgramFolder) + "\\QuiloPlugin.log"));
    }

    // Sets keys of the simulated scanner's INI file (before the plug-in opens the scanner).
    void configure(const std::map<std::string, std::string>& values) {
        const auto path = world.nativePath(std::string(kProgramFolder) + "\\OrvaneEx.ini");
        std::istringstream text(readText(path));
        std::string ini, line;
        while (std::getline(text, line)) {
            const auto key = values.find(line.substr(0, line.find('=')));
            ini += (key != values.end() ? key->first + "=" + key->second : line) + "\n";
        }
        std::ofstream(path) << ini;
    }
    // Small plates (80 x 100 pixels) read quickly, for tests that run the road many times.
    void smallQuickPlates(int plates, const std::string& failCall = {}) {
        configure({{"Plates", std::to_string(plates)},
                   {"FirstPlateMs", "200"},
                   {"PlateIntervalMs", "700"},
                   {"TransportStartMs", "50"},
                   {"ReadMs", "300"},
                   {"EjectMs", "50"},
                   {"PreviewLines", "40"},
                   {"WidthMM", "8"},
                   {"HeightMM", "10"},
                   {"PitchUM", "100"},
                   {"FailCall", failCall}});
    }
    // Starts the plug-in and initialises it; every message dialog is recorded and closed. The
    // live objects before it are the baseline that leftBehind() compares with. False when the
    // plug-in ended or refused the initialisation.
    bool launch(int noPreview = 1, std::int16_t visible = 1) {
        const auto image = orvanesim::makePhantom(orvanesim::PlateKind::Intraoral, 310, 410, 7);
        const auto tif = orvanesim::writeGreyTiff(310, 410, 16, image.pixels, 200.0);
        std::ofstream(world.nativePath(std::string(kProgramFolder) + "\\Test.tif"),
                      std::ios::binary)
            .write(reinterpret_cast<const char*>(tif.data()),
                   static_cast<std::streamsize>(tif.size()));
        baseline = world.live();
        closeDialogs = true;
        if (!startPlugin() || !alive()) return false;
        plugin->settings().settings().NoPreview = static_cast<std::int16_t>(noPreview);
        plugin->settings().settings().Visible = visible;  // 1: the log file records every step
        return sendHandle(testhost::kInitializePlugin) != 0 && alive();
    }
    void start(int noPreview = 1) {
        ASSERT_TRUE(launch(noPreview));
        ASSERT_TRUE(plugin->plugin()->Initialized());
    }
    // The plug-in is running and its main form is there.
    bool alive() { return plugin && !plugin->ended() && plugin->mainForm() != nullptr; }
    // The user reads the dialog and presses OK once it is on the screen.
    void closeWhenShown(ui::frmDlgBox* box) {
        world.after(1, [this, box] {
            if (!plugin ||
                std::ranges::find(plugin->forms().loaded(), box) == plugin->forms().loaded().end())
                return;  // gone before it was shown
            if (!box->visible()) return closeWhenShown(box);
            dialogs.push_back(box->msgLabel.caption());
            box->OKButton.click();
        });
    }
    void activate(std::int32_t sensor) {
        send(testhost::kActivateCapture, testhost::int32Bytes(sensor));
    }
    void acknowledge(std::int32_t imageId) {
        send(testhost::kImageStored, testhost::int32Bytes(imageId));
    }
    platform::LResult setting(const std::string& text) {
        return send(testhost::kSetSettings, testhost::settingsBlock(text));
    }
    // Sets the scanner's INI keys, starts and initialises the plug-in and activates set 1.
    void capture(const std::map<std::string, std::string>& ini, int noPreview = 1) {
        configure(ini);
        start(noPreview);
        activate(1);
    }
    // The images the host has received, in order.
    std::vector<Bytes> images() {
        std::vector<Bytes> out;
        for (const auto& r : host->received())
            if (r.code == testhost::kImageCapturedEx) out.push_back(r.data);
        return out;
    }
    // Lets the scanner run until the host holds `n` images (or a minute has passed).
    void waitImages(std::size_t n) {
        for (int i = 0; i < 600 && images().size() < n; ++i)
            world.advance(100);
    }
    std::string log() { return readLogFile() + main().txtLog.text(); }
    ui::frmPrescan* prescan() {
        return static_cast<ui::frmPrescan*>(plugin->forms().find("frmPrescan"));
    }
    int prescanImages() { return prescan() != nullptr ? prescan()->ImageCount() : 0; }
    // Lets the scanner run until the preview window holds `n` images and the scan is over (or
    // a minute has passed, or the plug-in ended).
    void waitPreview(int n) {
        for (int i = 0; i < 600 && alive() && (main().scanInProgress() || prescanImages() != n);
             ++i)
            world.advance(100);
    }
    // The plug-in process ends as a kill leaves it: nothing of it runs any more.
    void kill() {
        world.endProcess(*pluginProcess);
        plugin.reset();
        library.reset();
    }
    std::string tempFolder() { return "C:\\Users\\clinic\\AppData\\Local\\Temp"; }
    // After the plug-in's end: what its process left behind that it should not have (memory
    // blocks, handles, windows, timers, temporary files of the preview), one line each.
    std::vector<std::string> leftBehind() {
        plugin.reset();
        library.reset();
        std::vector<std::string> out;
        if (!baseline) return out;
        world.runUntilIdle();
        const sim::LiveCounts now = world.live();
        auto compare = [&](const char* what, std::size_t n, std::size_t before) {
            if (n != before)
                out.push_back(std::string(what) + ": " + std::to_string(before) + " -> " +
                              std::to_string(n));
        };
        compare("memory blocks", now.memoryBlocks, baseline->memoryBlocks);
        compare("handles", now.handles, baseline->handles);
        compare("windows", now.windows, baseline->windows);
        compare("timers", now.timers, baseline->timers);
        for (const auto& f : filesIn(world.nativePath(tempFolder()), "QUI"))
            out.push_back("temporary file " + f.filename().string());
        return out;
    }

    sim::World world;
    sim::SimProcess* hostProcess = nullptr;
    sim::SimProcess* pluginProcess = nullptr;
    std::unique_ptr<testhost::HostCore> host;
    std::unique_ptr<orvanesim::WorldLibrary> library;
    std::unique_ptr<controller::PluginProcess> plugin;
    bool closeDialogs = false;               // record and close every message dialog
    std::function<void()> onProcessCreated;  // runs before anything happens in the plug-in
    std::vector<std::string> dialogs;
    std::optional<sim::LiveCounts> baseline;
};

class PluginWorld : public ::testing::Test, public PluginSession {};

}  // namespace quilo::test
