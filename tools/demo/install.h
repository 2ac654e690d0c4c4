// The plug-in in a simulated world: installed as the staged install lays it out (the language
// files, the simulated scanner's INI file beside the program, the host's plugins.ini above it),
// and started in processes of that world as TestHost.exe starts it with CreateProcess.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/plugin_process.h"
#include "orvane-sim/world_library.h"
#include "platform/sim/world.h"
#include "test-host/scenario.h"

namespace quilo::demo {

inline void install(sim::World& world) {
    namespace fs = std::filesystem;
    const fs::path folder = world.nativePath("C:\\Program Files\\Kelvora\\Quilo");
    fs::create_directories(folder);
    for (const auto& f : fs::directory_iterator(fs::path(QUILO_SOURCE_DIR) / "lang"))
        fs::copy_file(f.path(), folder / f.path().filename());
    fs::copy_file(fs::path(QUILO_SOURCE_DIR) / "tools/orvane-sim/OrvaneEx.ini",
                  folder / "OrvaneEx.ini");
    fs::copy_file(fs::path(QUILO_SOURCE_DIR) / "src/app/stage/plugins.ini",
                  folder.parent_path() / "plugins.ini");
}

class WorldLauncher final : public testhost::PluginLauncher {
  public:
    explicit WorldLauncher(sim::World& world) : world_(world) {}
    ~WorldLauncher() override {
        processes_.clear();
        library_.reset();
    }
    bool start(const std::string& arguments) override {
        sim::ProcessOptions options;
        options.commandLine = arguments;
        sim::SimProcess& p = world_.createProcess(options);
        if (!library_) library_ = orvanesim::WorldLibrary::install(world_, p);
        processes_.push_back(std::make_unique<controller::PluginProcess>(p));
        processes_.back()->start();
        return true;
    }
    // The process started last (null before the first).
    controller::PluginProcess* last() {
        return processes_.empty() ? nullptr : processes_.back().get();
    }
    std::optional<int> exitCode() override {
        if (processes_.empty() || !processes_.back()->ended()) return std::nullopt;
        return processes_.back()->exitCode();
    }
    void kill() override {}

  private:
    sim::World& world_;
    std::unique_ptr<orvanesim::WorldLibrary> library_;
    std::vector<std::unique_ptr<controller::PluginProcess>> processes_;
};

}  // namespace quilo::demo
