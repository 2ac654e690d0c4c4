// The process: command line, single instance, version record, message boxes, the mouse
// pointer, starting programs; and sound, the clock and dynamic libraries.
#include "platform/win32/win32_internal.h"
// The headers below need <windows.h> first.
#include <mmsystem.h>
#include <shellapi.h>
#include <winver.h>

#include <vector>

namespace quilo::platform::win32 {

namespace {

class Win32InstanceGuard final : public InstanceGuard {
  public:
    explicit Win32InstanceGuard(HANDLE mutex) : mutex_(mutex) {}
    Win32InstanceGuard(const Win32InstanceGuard&) = delete;
    Win32InstanceGuard& operator=(const Win32InstanceGuard&) = delete;
    ~Win32InstanceGuard() override { CloseHandle(mutex_); }

  private:
    HANDLE mutex_;
};

// Skips the program name (quoted or not) and the blanks after it.
std::string argumentsOf(std::string_view line) {
    std::size_t i = 0;
    if (!line.empty() && line[0] == '"') {
        const auto close = line.find('"', 1);
        i = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return std::string(line.substr(i));
}

class Win32Process final : public Process {
  public:
    explicit Win32Process(Files& files) : files_(files) {}

    std::string commandLine() override { return acpToUtf8(argumentsOf(GetCommandLineA())); }

    std::unique_ptr<InstanceGuard> acquireSingleInstance(std::string_view name) override {
        const HANDLE mutex = CreateMutexA(nullptr, FALSE, utf8ToAcp(name).c_str());
        if (!mutex) return nullptr;
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(mutex);
            return nullptr;
        }
        return std::make_unique<Win32InstanceGuard>(mutex);
    }

    VersionInfo version() override {
        // Without a version record (a tool built without our resources) the program still
        // has a name to go by: the product's and the file's.
        VersionInfo v;
        v.productName = "Quilo Plugin";
        v.fileDescription = v.productName;
        v.title = files_.programName();
        v.major = QUILO_VERSION_MAJOR;
        v.minor = QUILO_VERSION_MINOR;
        v.revision = QUILO_VERSION_PATCH;
        char path[MAX_PATH + 1] = {};
        if (!GetModuleFileNameA(nullptr, path, MAX_PATH)) return v;
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
        if (size == 0) return v;
        std::vector<char> block(size);
        if (!GetFileVersionInfoA(path, 0, size, block.data())) return v;
        void* p = nullptr;
        UINT len = 0;
        if (VerQueryValueA(block.data(), "\\", &p, &len) && len >= sizeof(VS_FIXEDFILEINFO)) {
            const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(p);
            v.major = HIWORD(fixed->dwFileVersionMS);
            v.minor = LOWORD(fixed->dwFileVersionMS);
            v.revision = LOWORD(fixed->dwFileVersionLS);
        }
        char table[16] = "040904b0";
        if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &p, &len) && len >= 4) {
            const auto* words = static_cast<const WORD*>(p);
            wsprintfA(table, "%04x%04x", words[0], words[1]);
        }
        auto text = [&](const char* key, std::string& into) {
            const std::string query = std::string("\\StringFileInfo\\") + table + "\\" + key;
            if (VerQueryValueA(block.data(), query.c_str(), &p, &len) && len > 0)
                into = acpToUtf8(static_cast<const char*>(p));
        };
        text("ProductName", v.productName);
        text("CompanyName", v.companyName);
        text("FileDescription", v.fileDescription);
        text("InternalName", v.title);
        return v;
    }

    int messageBox(Hwnd owner, std::string_view text, std::string_view caption,
                   std::uint32_t style) override {
        return MessageBoxW(toHwnd(owner), utf8ToWide(text).c_str(), utf8ToWide(caption).c_str(),
                           style);
    }

    void setMousePointer(int pointer) override {
        pointer_ = pointer;
        SetCursor(LoadCursor(nullptr, pointer == pointer::kHourglass ? IDC_WAIT : IDC_ARROW));
    }
    int mousePointer() override { return pointer_; }

    bool startProgram(std::string_view path, std::string_view arguments) override {
        const auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(
            nullptr, "open", utf8ToAcp(path).c_str(),
            arguments.empty() ? nullptr : utf8ToAcp(arguments).c_str(), nullptr, SW_SHOWNORMAL));
        return result > 32;
    }

    char decimalSeparator() override {
        char buffer[8] = {};
        return GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer) > 1
                   ? buffer[0]
                   : '.';
    }

    std::string errorText(ErrorCode code) override {
        char* buffer = nullptr;
        const DWORD n =
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
        std::string text = n && buffer ? acpToUtf8(std::string_view(buffer, n)) : std::string();
        if (buffer) LocalFree(buffer);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        return text;
    }

  private:
    Files& files_;
    int pointer_ = pointer::kDefault;
};

class Win32Sound final : public Sound {
  public:
    bool playSound(std::string_view name, std::uint32_t flags) override {
        return PlaySoundA(utf8ToAcp(name).c_str(), nullptr, flags) != FALSE;
    }
};

class Win32Clock final : public Clock {
  public:
    std::uint32_t tickCount() override { return GetTickCount(); }
    LocalTime localTime() override {
        SYSTEMTIME st;
        GetLocalTime(&st);
        return toLocalTime(st);
    }
};

class Win32Library final : public Library {
  public:
    explicit Win32Library(HMODULE module) : module_(module) {}
    Win32Library(const Win32Library&) = delete;
    Win32Library& operator=(const Win32Library&) = delete;
    ~Win32Library() override { FreeLibrary(module_); }
    void* symbol(std::string_view name) override {
        const FARPROC f = GetProcAddress(module_, std::string(name).c_str());
        // Exports are code; callers cast the address back to the function type they expect.
        return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(f));
    }

  private:
    HMODULE module_;
};

class Win32Libraries final : public Libraries {
  public:
    std::unique_ptr<Library> load(std::string_view path) override {
        const HMODULE m = LoadLibraryA(utf8ToAcp(path).c_str());
        if (!m) {
            error_ = GetLastError();
            return nullptr;
        }
        return std::make_unique<Win32Library>(m);
    }
    ErrorCode lastError() override { return error_; }

  private:
    ErrorCode error_ = 0;
};

}  // namespace

std::unique_ptr<Process> makeProcess(Files& files) {
    return std::make_unique<Win32Process>(files);
}

std::unique_ptr<Sound> makeSound() {
    return std::make_unique<Win32Sound>();
}

std::unique_ptr<Clock> makeClock() {
    return std::make_unique<Win32Clock>();
}

std::unique_ptr<Libraries> makeLibraries() {
    return std::make_unique<Win32Libraries>();
}

}  // namespace quilo::platform::win32
