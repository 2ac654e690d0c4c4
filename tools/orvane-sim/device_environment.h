// What the simulated scanner needs of the machine it runs on: a millisecond clock, global
// memory for the blocks it hands out, its INI file and the files of its feed folder. Inside
// the simulated world these come from the process that loaded the library (so the virtual
// clock drives the scanner); in the DLL they are the real Win32 calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quilo::orvanesim {

class DeviceEnvironment {
  public:
    virtual ~DeviceEnvironment() = default;
    virtual std::uint32_t tickCount() = 0;
    virtual platform::GlobalMemory& memory() = 0;
    // GetPrivateProfileStringA with a 256-character buffer.
    virtual std::string iniString(std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::string_view path) = 0;
    // A whole file of at most maxBytes; nothing when missing, unreadable or larger.
    virtual std::optional<std::vector<std::byte>> readFile(std::string_view path,
                                                           std::size_t maxBytes) = 0;
    // File names (not paths) in a folder matching a pattern, in name order.
    virtual std::vector<std::string> listFiles(std::string_view folder,
                                               std::string_view pattern) = 0;
    // The INI file the library uses until Set_IniFileName names another one.
    virtual std::string defaultIniPath() = 0;
};

// The environment over a platform (the simulated process that loaded the library). The INI
// file's default path is the program folder's "OrvaneEx.ini", beside the library.
std::unique_ptr<DeviceEnvironment> makePlatformEnvironment(platform::Platform& platform);

}  // namespace quilo::orvanesim
