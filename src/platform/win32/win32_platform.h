// The real Windows backend of the platform seam.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace quilo::platform {

// A Platform over the Win32 API of the running process. One per process is the normal case;
// several can live side by side (each registers its own window class).
std::unique_ptr<Platform> makeWin32Platform();

}  // namespace quilo::platform
