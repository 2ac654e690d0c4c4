#include "settings/mod_registry.h"

#include <algorithm>
#include <cctype>
#include <span>

#include "core/text.h"

namespace quilo::settings {

using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

namespace {

// base, then "\" and the section when there is one.
std::string joinKey(std::string_view base, std::string_view section) {
    std::string path(base);
    if (!section.empty()) {
        if (!path.empty()) path += '\\';
        path += section;
    }
    return path;
}

// The ANSI bytes of a setting as the query returned them (see settingTextFromValue).
std::optional<std::string> ansiSettingText(platform::ErrorCode rc, const RegValue& value) {
    if (rc != platform::err::kSuccess) return std::nullopt;
    if (value.type != RegType::Sz) return std::nullopt;
    if (value.data.size() >= kRegValueBufferBytes) return std::nullopt;
    // A REG_SZ ends at its first NUL; bytes after it (or a missing terminator) change nothing.
    std::string ansi;
    ansi.reserve(value.data.size());
    for (std::byte b : value.data) {
        if (b == std::byte{0}) break;
        ansi += static_cast<char>(b);
    }
    return ansi;
}

}  // namespace

std::optional<std::string> settingTextFromValue(platform::ErrorCode rc, const RegValue& value) {
    auto ansi = ansiSettingText(rc, value);
    if (!ansi) return std::nullopt;
    return ansiToUtf8(*ansi);
}

std::string_view trimSection(std::string_view section) {
    if (!section.empty() && section.front() == '\\') section.remove_prefix(1);
    if (!section.empty() && section.back() == '\\') section.remove_suffix(1);
    return section;
}

bool isNullWord(std::string_view text) {
    constexpr std::string_view kNull = "null";
    if (text.size() != kNull.size()) return false;
    for (std::size_t i = 0; i < kNull.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != kNull[i]) return false;
    }
    return true;
}

std::string modRegistry::ReadIniString(std::string_view section, std::string_view key,
                                       std::string_view file) {
    std::string value = profile_.getString(section, key, "", file, kIniBufferChars);
    if (value.empty()) return {};
    const auto nul = value.find('\0');
    if (nul != std::string::npos) value.resize(nul);
    return value;
}

std::optional<std::string> modRegistry::query(RegRoot root, const std::string& key,
                                              const std::string& name) {
    RegValue value;
    const auto rc = registry_.queryValue(root, key, name, kRegValueBufferBytes, value);
    return ansiSettingText(rc, value);
}

std::string modRegistry::ReadRegSetting(std::string_view section, std::string_view valueName,
                                        bool perUser, bool absolute) {
    return ReadRegSettingUnder(registryBase_, section, valueName, perUser, absolute);
}

std::string modRegistry::ReadRegSettingUnder(std::string_view base, std::string_view section,
                                             std::string_view valueName, bool perUser,
                                             bool absolute) {
    if (valueName.empty()) return {};
    section = trimSection(section);
    if (absolute) {
        base = section;
        section = {};
    }
    const std::string path = joinKey(base, section);
    const std::string name(valueName);

    std::optional<std::string> found;  // ANSI
    if (perUser) {
        found = query(RegRoot::CurrentUser, path, name);
        if (!found) {
            // The machine-wide default becomes the user's own value on first use.
            const std::string defaults = joinKey(joinKey(base, "DefaultUserSettings"), section);
            found = query(RegRoot::LocalMachine, defaults, name);
            if (found &&
                registry_.createKey(RegRoot::CurrentUser, path) == platform::err::kSuccess) {
                const auto bytes = platform::regSzBytes(*found);
                registry_.setValue(RegRoot::CurrentUser, path, name, RegType::Sz, bytes);
            }
        }
    } else {
        found = query(RegRoot::LocalMachine, path, name);
    }
    if (!found || isNullWord(*found)) return {};
    return ansiToUtf8(*found);
}

std::int16_t modRegistry::WriteRegSetting(std::string_view section, std::string_view valueName,
                                          std::string_view data, bool perUser, bool absolute) {
    section = trimSection(section);
    if (valueName.empty() && section.empty()) return write_result::kNothingToDo;
    std::string_view base = registryBase_;
    if (absolute) {
        base = section;
        section = {};
    }
    const std::string path = joinKey(base, section);
    const RegRoot root = perUser ? RegRoot::CurrentUser : RegRoot::LocalMachine;
    if (registry_.createKey(root, path) != platform::err::kSuccess) return write_result::kKeyFailed;
    if (!valueName.empty()) {
        const auto bytes = platform::regSzBytes(utf8ToAnsi(data));
        if (registry_.setValue(root, path, valueName, RegType::Sz, bytes) !=
            platform::err::kSuccess)
            return write_result::kValueFailed;
    }
    return write_result::kDone;
}

}  // namespace quilo::settings
