// The simulated scanner's machine on real Windows: GetTickCount, the global heap, the profile
// API and plain files.
#include <windows.h>

#include <algorithm>

#include "orvane-sim/dll/win32_environment.h"

namespace quilo::orvanesim {

namespace {

class Win32Memory final : public platform::GlobalMemory {
  public:
    platform::HGlobal alloc(std::uint32_t flags, std::size_t bytes) override {
        return reinterpret_cast<platform::HGlobal>(GlobalAlloc(flags, bytes));
    }
    void* lock(platform::HGlobal block) override { return GlobalLock(h(block)); }
    bool unlock(platform::HGlobal block) override { return GlobalUnlock(h(block)) != 0; }
    bool free(platform::HGlobal block) override { return GlobalFree(h(block)) == nullptr; }
    std::size_t size(platform::HGlobal block) override { return GlobalSize(h(block)); }

  private:
    static HGLOBAL h(platform::HGlobal block) { return reinterpret_cast<HGLOBAL>(block); }
};

class Win32Environment final : public DeviceEnvironment {
  public:
    explicit Win32Environment(HMODULE module) : module_(module) {}
    std::uint32_t tickCount() override { return GetTickCount(); }
    platform::GlobalMemory& memory() override { return memory_; }
    std::string iniString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::string_view path) override {
        char buffer[256] = {};
        const std::string s(section), k(key), d(defaultValue), p(path);
        const DWORD n = GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), buffer,
                                                 sizeof buffer, p.c_str());
        return std::string(buffer, n);
    }
    std::optional<std::vector<std::byte>> readFile(std::string_view path,
                                                   std::size_t maxBytes) override {
        const std::string p(path);
        HANDLE f = CreateFileA(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return std::nullopt;
        std::optional<std::vector<std::byte>> out;
        LARGE_INTEGER size{};
        if (GetFileSizeEx(f, &size) && static_cast<std::uint64_t>(size.QuadPart) <= maxBytes) {
            std::vector<std::byte> bytes(static_cast<std::size_t>(size.QuadPart));
            std::size_t done = 0;
            while (done < bytes.size()) {
                DWORD got = 0;
                const DWORD want =
                    static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
                if (!ReadFile(f, bytes.data() + done, want, &got, nullptr) || got == 0) break;
                done += got;
            }
            if (done == bytes.size()) out = std::move(bytes);
        }
        CloseHandle(f);
        return out;
    }
    std::vector<std::string> listFiles(std::string_view folder, std::string_view pattern) override {
        std::vector<std::string> names;
        std::string query(folder);
        if (!query.empty() && query.back() != '\\') query += '\\';
        query += pattern;
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(query.c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.emplace_back(data.cFileName);
        } while (FindNextFileA(h, &data));
        FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string defaultIniPath() override {
        // A test run may hand its scanner another configuration without touching this one.
        char chosen[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableA("ORVANE_SIM_INI", chosen, MAX_PATH);
        if (length > 0 && length < MAX_PATH) return std::string(chosen, length);
        char path[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameA(module_, path, MAX_PATH);
        std::string p(path, n);
        const auto slash = p.find_last_of('\\');
        return (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) +
               "OrvaneEx.ini";
    }

  private:
    HMODULE module_;
    Win32Memory memory_;
};

}  // namespace

std::unique_ptr<DeviceEnvironment> makeWin32Environment(void* module) {
    return std::make_unique<Win32Environment>(static_cast<HMODULE>(module));
}

}  // namespace quilo::orvanesim
