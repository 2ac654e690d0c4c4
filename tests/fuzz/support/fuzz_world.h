// The worlds of the fuzz targets keep their files in memory: inputs write files (INI files,
// the spool, images) by the thousand, and a disk only slows them down.
#pragma once

#include "platform/sim/world.h"

namespace quilo::test {

inline sim::WorldOptions filesInMemory() {
    sim::WorldOptions o;
    o.filesInMemory = true;
    return o;
}

}  // namespace quilo::test
