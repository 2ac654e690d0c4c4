// The one environment every test builds on. Natively it is a simulated world with one process
// in it (the plug-in unless told otherwise; create more from `world`); in the Windows test
// programs it is the real API of the running process.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#else
#include "platform/sim/world.h"
#endif

namespace quilo::test {

class TestWorld {
  public:
#ifdef _WIN32
    TestWorld() : platform_(platform::makeWin32Platform()), proc(*platform_) {}

  private:
    std::unique_ptr<platform::Platform> platform_;

  public:
    platform::Platform& proc;
#else
    explicit TestWorld(sim::WorldOptions options = {}, sim::ProcessOptions process = {})
        : world(std::move(options)), proc(world.createProcess(std::move(process))) {}
    sim::World world;
    sim::SimProcess& proc;
#endif

    // A path in the temporary folder for a test's own file (removed by scratchRemove).
    std::string scratch(std::string_view name) {
        return platform::joinPath(proc.files().tempFolder(), "quilo-test-" + std::string(name));
    }
    // Writes a whole file, creating its folder.
    void put(std::string_view path, std::string_view content) {
        const auto slash = path.rfind('\\');
        if (slash != std::string_view::npos) proc.files().createDirectories(path.substr(0, slash));
        platform::writeWholeFile(
            proc.files(), path,
            std::span(reinterpret_cast<const std::byte*>(content.data()), content.size()));
    }
};

#ifndef _WIN32
inline sim::WorldOptions startingAt(std::uint32_t tickMs) {
    sim::WorldOptions o;
    o.startTickMs = tickMs;
    return o;
}
#endif

}  // namespace quilo::test
