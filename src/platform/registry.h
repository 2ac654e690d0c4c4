// Port: the registry (string and other values under the current-user and machine roots) and
// INI files read the way GetPrivateProfileStringA reads them.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace quilo::platform {

enum class RegRoot { CurrentUser, LocalMachine };

enum class RegType : std::uint32_t {
    None = 0,
    Sz = 1,
    ExpandSz = 2,
    Binary = 3,
    Dword = 4,
    MultiSz = 7,
};

struct RegValue {
    RegType type = RegType::None;
    std::vector<std::byte> data;  // as stored; a REG_SZ includes its terminating NUL
};

class Registry {
  public:
    virtual ~Registry() = default;
    // RegOpenKeyExA + RegQueryValueExA with a buffer of `bufferBytes`. Returns a Win32 error
    // code: 0, kFileNotFound (no key or no value), kMoreData (the value does not fit; `out`
    // then holds its type and nothing else).
    virtual ErrorCode queryValue(RegRoot root, std::string_view key, std::string_view name,
                                 std::size_t bufferBytes, RegValue& out) = 0;
    // RegCreateKeyExA (opens an existing key too) and RegCloseKey.
    virtual ErrorCode createKey(RegRoot root, std::string_view key) = 0;
    // RegCreateKeyExA + RegSetValueExA.
    virtual ErrorCode setValue(RegRoot root, std::string_view key, std::string_view name,
                               RegType type, std::span<const std::byte> data) = 0;
    // RegOpenKeyExA + RegDeleteValueA: one value goes, the key stays. kFileNotFound when the key
    // or the value is not there.
    virtual ErrorCode deleteValue(RegRoot root, std::string_view key, std::string_view name) = 0;
    // Deletes a key and everything below it (test set-up and clean-up).
    virtual ErrorCode deleteTree(RegRoot root, std::string_view key) = 0;
};

// Convenience: a REG_SZ value's bytes (text plus terminating NUL).
std::vector<std::byte> regSzBytes(std::string_view text);

class Profile {
  public:
    virtual ~Profile() = default;
    // GetPrivateProfileStringA(section, key, default, buffer of bufferChars, path): the value
    // (surrounding blanks and one pair of quotes removed), or the default, cut to
    // bufferChars - 1 characters.
    virtual std::string getString(std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::string_view path,
                                  std::size_t bufferChars) = 0;
};

}  // namespace quilo::platform
