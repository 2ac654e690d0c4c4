#pragma once

#include <memory>

#include "orvane-sim/device_environment.h"

namespace quilo::orvanesim {

// The environment of the DLL loaded as `module` (its INI file sits beside it).
std::unique_ptr<DeviceEnvironment> makeWin32Environment(void* module);

}  // namespace quilo::orvanesim
