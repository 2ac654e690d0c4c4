// modRegistry: the plug-in's access to its INI file and its registry values. Settings are
// string values only; per-user values live under HKEY_CURRENT_USER and fall back to a machine
// default under HKEY_LOCAL_MACHINE\<base>\DefaultUserSettings, which the first read copies to
// the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace quilo::settings {

// Values of this many bytes or more (terminating NUL included) are not settings.
inline constexpr std::size_t kRegValueBufferBytes = 100;
// Size of the buffer the INI file is read into.
inline constexpr std::size_t kIniBufferChars = 1024;

// Result codes of WriteRegSetting.
namespace write_result {
inline constexpr std::int16_t kDone = 0;
inline constexpr std::int16_t kNothingToDo = 1;
inline constexpr std::int16_t kKeyFailed = 2;
inline constexpr std::int16_t kValueFailed = 3;
}  // namespace write_result

// The text of a value as a registry query returned it (`rc` is the query's result): present
// only for a successful REG_SZ query of fewer than kRegValueBufferBytes bytes. The text ends at
// the first NUL and is converted from the ANSI code page to UTF-8.
std::optional<std::string> settingTextFromValue(platform::ErrorCode rc,
                                                const platform::RegValue& value);

// A section name without one leading and one trailing backslash.
std::string_view trimSection(std::string_view section);

// True for "null" in any letter case: such a stored value reads as empty.
bool isNullWord(std::string_view text);

class modRegistry {
  public:
    modRegistry(platform::Registry& registry, platform::Profile& profile)
        : registry_(registry), profile_(profile) {}

    // The key below which relative sections live ("SOFTWARE\<company>\Plugins\<product>").
    void setRegistryBase(std::string base) { registryBase_ = std::move(base); }
    const std::string& registryBase() const { return registryBase_; }

    // GetPrivateProfileString with an empty default and a buffer of 1024 characters; empty
    // when the file, section or key is missing. Like every port string the
    // value is UTF-8; the file itself is ANSI text.
    std::string ReadIniString(std::string_view section, std::string_view key,
                              std::string_view file);

    // The text of a setting, or empty when it is absent. `absolute` makes `section` the whole
    // key path; otherwise the key is RegistryBase\section.
    std::string ReadRegSetting(std::string_view section, std::string_view valueName,
                               bool perUser = true, bool absolute = false);
    // The same below another base key (the host's own key when the language is read).
    std::string ReadRegSettingUnder(std::string_view base, std::string_view section,
                                    std::string_view valueName, bool perUser = true,
                                    bool absolute = false);

    // Stores `data` as a REG_SZ value; returns one of write_result's codes.
    std::int16_t WriteRegSetting(std::string_view section, std::string_view valueName,
                                 std::string_view data, bool perUser = true, bool absolute = false);
    // The value name may be a number; it is stored under its decimal text.
    std::int16_t WriteRegSetting(std::string_view section, long valueName, std::string_view data,
                                 bool perUser = true, bool absolute = false) {
        return WriteRegSetting(section, std::to_string(valueName), data, perUser, absolute);
    }

  private:
    std::optional<std::string> query(platform::RegRoot root, const std::string& key,
                                     const std::string& name);

    platform::Registry& registry_;
    platform::Profile& profile_;
    std::string registryBase_;
};

}  // namespace quilo::settings
