// The simulated scanner installed in a simulated world: LoadLibrary("OrvaneEx.dll") in that
// world serves the library's exports, each a real C function pointer bound to this one device
// object, so the plug-in's binding calls it exactly as it calls the DLL on Windows. One device
// per world; keep this object alive as long as the world can call the library.
#pragma once

#include <memory>

#include "orvane-sim/simulator.h"
#include "platform/sim/world.h"

namespace quilo::orvanesim {

class WorldLibrary {
  public:
    // Creates the device for the process that will load the library (its clock, memory and
    // files drive the device) and registers "OrvaneEx.dll" in the world.
    static std::unique_ptr<WorldLibrary> install(sim::World& world, sim::SimProcess& process);
    ~WorldLibrary();
    WorldLibrary(const WorldLibrary&) = delete;
    WorldLibrary& operator=(const WorldLibrary&) = delete;

    Simulator& device() { return *device_; }
    // A new device in place of the old, as the library is after FreeLibrary and LoadLibrary:
    // nothing counted, fed or stored, the INI file read again, the clock's epoch now. Call it
    // while no export runs.
    void reload();

  private:
    struct Thunks;
    WorldLibrary();
    sim::SimProcess* process_ = nullptr;
    std::unique_ptr<Simulator> device_;
    std::unique_ptr<Thunks> thunks_;
};

}  // namespace quilo::orvanesim
