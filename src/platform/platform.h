// The platform seam: everything the program needs from the operating system. The core is
// written against this facade; `win32/` implements it over the real API and `sim/` as a
// deterministic simulated Windows. It is passed by reference, never found through a global.
#pragma once

#include "platform/display.h"
#include "platform/files.h"
#include "platform/global_memory.h"
#include "platform/mailslot.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/types.h"
#include "platform/window_system.h"

namespace quilo::platform {

class Platform {
  public:
    virtual ~Platform() = default;
    virtual WindowSystem& windows() = 0;
    virtual GlobalMemory& memory() = 0;
    virtual Registry& registry() = 0;
    virtual Profile& profile() = 0;
    virtual Mailslots& mailslots() = 0;
    virtual Files& files() = 0;
    virtual Display& display() = 0;
    virtual Process& process() = 0;
    virtual Sound& sound() = 0;
    virtual Clock& clock() = 0;
    virtual Libraries& libraries() = 0;
};

}  // namespace quilo::platform
