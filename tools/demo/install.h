// The plug-in in a simulated world: installed as the staged install lays it out (the language
// files, the simulated scanner's INI file beside the program, the host's plugins.ini above it),
// and started in processes of that world as TestHost.exe starts it with CreateProcess.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "controller/plugin_process.h"
#include "orvane-sim/world_library.h"
#include "platform/sim/world.h"
#include "test-host/scenario.h"

namespace quilo::demo {

// The staged install's files: where each comes from in the sources and its Windows path.
inline std::vector<std::pair<std::filesystem::path, std::string>> installedFiles() {
    namespace fs = std::filesystem;
    const fs::path sources(QUILO_SOURCE_DIR);
    const std::string folder = "C:\\Program Files\\Kelvora\\Quilo";
    std::vector<std::pair<fs::path, std::string>> files;
    for (const auto& f : fs::directory_iterator(sources / "lang"))
        files.emplace_back(f.path(), folder + "\\" + f.path().filename().string());
    files.emplace_back(sources / "tools/orvane-sim/OrvaneEx.ini", folder + "\\OrvaneEx.ini");
    files.emplace_back(sources / "src/app/stage/plugins.ini",
                       "C:\\Program Files\\Kelvora\\plugins.ini");
    return files;
}

inline void install(sim::World& world) {
    namespace fs = std::filesystem;
    for (const auto& [source, path] : installedFiles()) {
        const fs::path target = world.nativePath(path);
        fs::create_directories(target.parent_path());
        fs::copy_file(source, target);
    }
}

// The same through a process of the world (a world whose files are kept in memory).
inline void install(platform::Files& files) {
    for (const auto& [source, path] : installedFiles()) {
        std::ifstream in(source, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        files.createDirectories(path.substr(0, path.rfind('\\')));
        platform::writeWholeFile(files, path, std::as_bytes(std::span(text)));
    }
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
