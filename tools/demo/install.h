// The plug-in installed in a simulated world as the staged install lays it out: the language
// files, the simulated scanner's INI file beside the program, the host's plugins.ini above it.
#pragma once

#include <filesystem>

#include "platform/sim/world.h"

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

}  // namespace quilo::demo
