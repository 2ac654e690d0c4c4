// The registry and INI files over the "A" functions: names and texts in the ANSI code page.
#include "platform/win32/win32_internal.h"

#include <algorithm>
#include <vector>

namespace quilo::platform::win32 {

namespace {

HKEY rootKey(RegRoot root) {
    return root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// Closes a registry key when it goes out of scope.
class KeyHolder {
  public:
    KeyHolder() = default;
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    ~KeyHolder() {
        if (key) RegCloseKey(key);
    }
    HKEY key = nullptr;
};

class Win32Registry final : public Registry {
  public:
    ErrorCode queryValue(RegRoot root, std::string_view key, std::string_view name,
                         std::size_t bufferBytes, RegValue& out) override {
        out = RegValue{};
        KeyHolder k;
        LONG rc = RegOpenKeyExA(rootKey(root), utf8ToAcp(key).c_str(), 0, KEY_QUERY_VALUE, &k.key);
        if (rc != ERROR_SUCCESS) return static_cast<ErrorCode>(rc);
        std::vector<std::byte> buffer(bufferBytes);
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(bufferBytes);
        rc = RegQueryValueExA(k.key, utf8ToAcp(name).c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) out.type = static_cast<RegType>(type);
        if (rc == ERROR_SUCCESS) {
            buffer.resize(std::min<std::size_t>(size, bufferBytes));
            out.data = std::move(buffer);
        }
        return static_cast<ErrorCode>(rc);
    }

    ErrorCode createKey(RegRoot root, std::string_view key) override {
        KeyHolder k;
        return static_cast<ErrorCode>(RegCreateKeyExA(rootKey(root), utf8ToAcp(key).c_str(), 0,
                                                      nullptr, 0, KEY_WRITE, nullptr, &k.key,
                                                      nullptr));
    }

    ErrorCode setValue(RegRoot root, std::string_view key, std::string_view name, RegType type,
                       std::span<const std::byte> data) override {
        KeyHolder k;
        LONG rc = RegCreateKeyExA(rootKey(root), utf8ToAcp(key).c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &k.key, nullptr);
        if (rc != ERROR_SUCCESS) return static_cast<ErrorCode>(rc);
        rc = RegSetValueExA(k.key, utf8ToAcp(name).c_str(), 0, static_cast<DWORD>(type),
                            reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
        return static_cast<ErrorCode>(rc);
    }

    ErrorCode deleteValue(RegRoot root, std::string_view key, std::string_view name) override {
        KeyHolder k;
        const LONG rc =
            RegOpenKeyExA(rootKey(root), utf8ToAcp(key).c_str(), 0, KEY_SET_VALUE, &k.key);
        if (rc != ERROR_SUCCESS) return static_cast<ErrorCode>(rc);
        return static_cast<ErrorCode>(RegDeleteValueA(k.key, utf8ToAcp(name).c_str()));
    }

    ErrorCode deleteTree(RegRoot root, std::string_view key) override {
        const std::string name = utf8ToAcp(key);
        const LONG rc = RegDeleteTreeA(rootKey(root), name.c_str());
        if (rc != ERROR_SUCCESS) return static_cast<ErrorCode>(rc);
        // Some systems leave the emptied key itself behind.
        const LONG gone = RegDeleteKeyA(rootKey(root), name.c_str());
        return gone == ERROR_FILE_NOT_FOUND ? 0 : static_cast<ErrorCode>(gone);
    }
};

class Win32Profile final : public Profile {
  public:
    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::string_view path,
                          std::size_t bufferChars) override {
        if (bufferChars == 0) return {};
        // Names, default and value are UTF-8 on our side and ANSI in the file, like every
        // other string of the ports; the buffer limit applies to the ANSI characters.
        std::string buffer(bufferChars, '\0');
        const DWORD n = GetPrivateProfileStringA(
            utf8ToAcp(section).c_str(), utf8ToAcp(key).c_str(), utf8ToAcp(defaultValue).c_str(),
            buffer.data(), static_cast<DWORD>(bufferChars), utf8ToAcp(path).c_str());
        buffer.resize(std::min<std::size_t>(n, bufferChars - 1));
        return acpToUtf8(buffer);
    }
};

}  // namespace

std::unique_ptr<Registry> makeRegistry() {
    return std::make_unique<Win32Registry>();
}

std::unique_ptr<Profile> makeProfile() {
    return std::make_unique<Win32Profile>();
}

}  // namespace quilo::platform::win32
