// Global memory, registry, INI files, mailslots, files, display, process, sound, clock and
// dynamic libraries over the Win32 API, and the Platform that groups them.
#include "platform/win32/win32_internal.h"
// The headers below need <windows.h> first.
#include <mmsystem.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winver.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "platform/win32/win32_platform.h"

namespace quilo::platform::win32 {

namespace {

HGLOBAL toHglobal(HGlobal h) {
    return reinterpret_cast<HGLOBAL>(h);
}

// --- global memory ----------------------------------------------------------------------

class Win32Memory final : public GlobalMemory {
  public:
    HGlobal alloc(std::uint32_t flags, std::size_t bytes) override {
        return reinterpret_cast<HGlobal>(::GlobalAlloc(flags, bytes));
    }
    void* lock(HGlobal block) override { return ::GlobalLock(toHglobal(block)); }
    bool unlock(HGlobal block) override { return ::GlobalUnlock(toHglobal(block)) != FALSE; }
    bool free(HGlobal block) override { return ::GlobalFree(toHglobal(block)) == nullptr; }
    std::size_t size(HGlobal block) override { return ::GlobalSize(toHglobal(block)); }
};

// --- registry and INI files -------------------------------------------------------------

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

// --- mailslots --------------------------------------------------------------------------

class Win32Mailslots final : public Mailslots {
  public:
    Handle createMailslot(std::string_view name, std::uint32_t maxMessageBytes,
                          std::uint32_t readTimeoutMs) override {
        const HANDLE h =
            CreateMailslotA(utf8ToAcp(name).c_str(), maxMessageBytes, readTimeoutMs, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error_ = GetLastError();
            return 0;
        }
        return fromHandle(h);
    }

    Handle openMailslot(std::string_view name) override {
        const std::string path = utf8ToAcp(name);
        HANDLE h = openWriter(path);
        // "\\*\mailslot\..." writes to every computer of the domain, this one included. Where
        // the system offers no domain (Wine, a machine without a network) the local reading
        // end is all it would reach, so we open that one.
        if (h == INVALID_HANDLE_VALUE && path.rfind("\\\\*\\", 0) == 0)
            h = openWriter("\\\\.\\" + path.substr(4));
        if (h == INVALID_HANDLE_VALUE) {
            error_ = GetLastError();
            return 0;
        }
        return fromHandle(h);
    }

    bool write(Handle slot, std::span<const std::byte> message) override {
        DWORD written = 0;
        if (!WriteFile(toHandle(slot), message.data(), static_cast<DWORD>(message.size()), &written,
                       nullptr)) {
            error_ = GetLastError();
            return false;
        }
        if (written != message.size()) {
            error_ = ERROR_WRITE_FAULT;
            return false;
        }
        return true;
    }

    std::optional<std::vector<std::byte>> read(Handle slot) override {
        DWORD next = 0, count = 0;
        if (!GetMailslotInfo(toHandle(slot), nullptr, &next, &count, nullptr)) {
            error_ = GetLastError();
            return std::nullopt;
        }
        if (next == MAILSLOT_NO_MESSAGE) {
            error_ = ERROR_SEM_TIMEOUT;  // what ReadFile says when nothing came in time
            return std::nullopt;
        }
        std::vector<std::byte> message(next);
        DWORD got = 0;
        if (!ReadFile(toHandle(slot), message.data(), next, &got, nullptr)) {
            error_ = GetLastError();
            return std::nullopt;
        }
        message.resize(got);
        return message;
    }

    bool close(Handle slot) override {
        if (CloseHandle(toHandle(slot))) return true;
        error_ = GetLastError();
        return false;
    }

    ErrorCode lastError() override { return error_; }

  private:
    static HANDLE openWriter(const std::string& path) {
        // Shared with readers only, as the trace writer has always opened it: a second
        // writing end of the same slot is refused (sharing violation) while this one is open.
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ErrorCode error_ = 0;
};

// --- files ------------------------------------------------------------------------------

class Win32File final : public File {
  public:
    Win32File(HANDLE h, ErrorCode& error) : h_(h), error_(error) {}
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;
    ~Win32File() override { CloseHandle(h_); }

    std::optional<std::size_t> read(std::span<std::byte> buffer) override {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
        if (!ReadFile(h_, buffer.data(), want, &got, nullptr)) {
            error_ = GetLastError();
            return std::nullopt;
        }
        return got;
    }
    bool write(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            DWORD written = 0;
            if (!WriteFile(h_, bytes.data(), chunk, &written, nullptr) || written == 0) {
                error_ = written == 0 && GetLastError() == 0 ? ERROR_WRITE_FAULT : GetLastError();
                return false;
            }
            bytes = bytes.subspan(written);
        }
        return true;
    }
    bool seek(std::uint64_t offset) override {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (SetFilePointerEx(h_, to, nullptr, FILE_BEGIN)) return true;
        error_ = GetLastError();
        return false;
    }
    std::uint64_t size() override {
        LARGE_INTEGER s{};
        if (!GetFileSizeEx(h_, &s)) {
            error_ = GetLastError();
            return 0;
        }
        return static_cast<std::uint64_t>(s.QuadPart);
    }
    bool flush() override {
        if (FlushFileBuffers(h_)) return true;
        error_ = GetLastError();
        return false;
    }

  private:
    HANDLE h_;
    ErrorCode& error_;
};

std::string withoutTrailingBackslash(std::string s) {
    while (s.size() > 3 && s.back() == '\\')
        s.pop_back();
    return s;
}

// Windows compares file names without regard to case; so does the pattern match of list().
bool matchesPattern(std::string_view name, std::string_view pattern) {
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

LocalTime toLocalTime(const SYSTEMTIME& st) {
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

// The write runs on a thread of its own with its own error code; done() joins it and hands the
// error to the Files port on the caller's thread.
class Win32PendingWrite final : public PendingWrite {
  public:
    Win32PendingWrite(std::string path, std::span<const std::byte> head,
                      std::span<const std::byte> bytes, ErrorCode& error)
        : error_(error),
          thread_([this, p = std::move(path), head, bytes] { run(p, head, bytes); }) {}
    Win32PendingWrite(const Win32PendingWrite&) = delete;
    Win32PendingWrite& operator=(const Win32PendingWrite&) = delete;
    ~Win32PendingWrite() override {
        if (thread_.joinable()) thread_.join();
    }
    bool done() override {
        if (thread_.joinable()) thread_.join();
        if (code_ != 0) error_ = code_;
        return code_ == 0;
    }

  private:
    void run(const std::string& path, std::span<const std::byte> head,
             std::span<const std::byte> bytes) {
        const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            code_ = GetLastError();
            return;
        }
        for (std::span<const std::byte> part : {head, bytes}) {
            while (!part.empty() && code_ == 0) {
                const DWORD chunk =
                    static_cast<DWORD>(std::min<std::size_t>(part.size(), 1u << 24));
                DWORD written = 0;
                if (!WriteFile(h, part.data(), chunk, &written, nullptr) || written == 0)
                    code_ = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
                part = part.subspan(written);
            }
        }
        if (code_ == 0 && !FlushFileBuffers(h)) code_ = GetLastError();
        CloseHandle(h);
    }

    ErrorCode& error_;
    ErrorCode code_ = 0;
    std::thread thread_;  // last: starts once the members it uses exist
};

class Win32Files final : public Files {
  public:
    std::string programFolder() override {
        const std::string path = modulePath();
        const auto slash = path.find_last_of('\\');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    std::string programName() override {
        std::string name = modulePath();
        const auto slash = name.find_last_of('\\');
        if (slash != std::string::npos) name.erase(0, slash + 1);
        const auto dot = name.find_last_of('.');
        if (dot != std::string::npos) name.erase(dot);
        return name;
    }
    std::string tempFolder() override {
        char buffer[MAX_PATH + 1];
        const DWORD n = GetTempPathA(sizeof buffer, buffer);
        if (n == 0 || n > sizeof buffer) {
            error_ = GetLastError();
            return {};
        }
        return acpToUtf8(std::string_view(buffer, n));
    }
    std::string tempFileName(std::string_view folder, std::string_view prefix) override {
        char buffer[MAX_PATH + 1];
        if (!GetTempFileNameA(utf8ToAcp(folder).c_str(), utf8ToAcp(prefix).c_str(), 0, buffer)) {
            error_ = GetLastError();
            return {};
        }
        return acpToUtf8(buffer);
    }
    std::string userDataFolder() override {
        char buffer[MAX_PATH + 1] = {};
        if (FAILED(
                SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, buffer))) {
            error_ = ERROR_PATH_NOT_FOUND;
            return {};
        }
        return withoutTrailingBackslash(acpToUtf8(buffer));
    }
    bool setCurrentDirectory(std::string_view path) override {
        return check(SetCurrentDirectoryA(utf8ToAcp(path).c_str()));
    }

    std::unique_ptr<File> open(std::string_view path, OpenMode mode) override {
        DWORD access = GENERIC_WRITE, share = 0, disposition = CREATE_ALWAYS;
        switch (mode) {
            case OpenMode::Read:
                access = GENERIC_READ;
                share = FILE_SHARE_READ;
                disposition = OPEN_EXISTING;
                break;
            case OpenMode::CreateAlways:
                share = FILE_SHARE_READ;
                break;
            case OpenMode::CreateNew:
                disposition = CREATE_NEW;
                break;
            case OpenMode::Append:
                share = FILE_SHARE_READ;
                disposition = OPEN_ALWAYS;
                break;
        }
        const HANDLE h = CreateFileA(utf8ToAcp(path).c_str(), access, share, nullptr, disposition,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error_ = GetLastError();
            return nullptr;
        }
        if (mode == OpenMode::Append) SetFilePointer(h, 0, nullptr, FILE_END);
        return std::make_unique<Win32File>(h, error_);
    }
    bool exists(std::string_view path) override {
        return GetFileAttributesA(utf8ToAcp(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool isDirectory(std::string_view path) override {
        const DWORD a = GetFileAttributesA(utf8ToAcp(path).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool createDirectories(std::string_view path) override {
        const std::string full = withoutTrailingBackslash(utf8ToAcp(path));
        // Walk the components after the root ("C:\" or "\\server\share\").
        std::size_t pos = 0;
        if (full.size() >= 2 && full[1] == ':') {
            pos = 3;
        } else if (full.rfind("\\\\", 0) == 0) {
            pos = full.find('\\', 2);
            pos = pos == std::string::npos ? full.size() : full.find('\\', pos + 1);
            if (pos == std::string::npos) pos = full.size();
        }
        while (pos <= full.size()) {
            const std::size_t next = full.find('\\', pos);
            const std::string part = full.substr(0, next);
            if (!part.empty() && GetFileAttributesA(part.c_str()) == INVALID_FILE_ATTRIBUTES &&
                !CreateDirectoryA(part.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                error_ = GetLastError();
                return false;
            }
            if (next == std::string::npos) break;
            pos = next + 1;
        }
        return isDirectory(path);
    }
    bool removeFile(std::string_view path) override {
        return check(DeleteFileA(utf8ToAcp(path).c_str()));
    }
    using Files::writeInBackground;
    std::unique_ptr<PendingWrite> writeInBackground(std::string_view path,
                                                    std::span<const std::byte> head,
                                                    std::span<const std::byte> bytes) override {
        return std::make_unique<Win32PendingWrite>(utf8ToAcp(path), head, bytes, error_);
    }
    bool moveFile(std::string_view from, std::string_view to) override {
        return check(MoveFileExA(utf8ToAcp(from).c_str(), utf8ToAcp(to).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    }
    std::optional<LocalTime> lastModified(std::string_view path) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(utf8ToAcp(path).c_str(), GetFileExInfoStandard, &data)) {
            error_ = GetLastError();
            return std::nullopt;
        }
        SYSTEMTIME utc, local;
        if (!FileTimeToSystemTime(&data.ftLastWriteTime, &utc) ||
            !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
            error_ = GetLastError();
            return std::nullopt;
        }
        return toLocalTime(local);
    }
    std::vector<std::string> list(std::string_view folder, std::string_view pattern) override {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        const std::string query = utf8ToAcp(joinPath(folder, "*"));
        const HANDLE h = FindFirstFileA(query.c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            // Matched here rather than by FindFirstFile, which also matches the short 8.3
            // names ("*.tif" would find "a.tiff").
            const std::string name = acpToUtf8(found.cFileName);
            if (matchesPattern(name, pattern)) names.push_back(name);
        } while (FindNextFileA(h, &found));
        FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string nativePath(std::string_view path) override { return std::string(path); }
    ErrorCode lastError() override { return error_; }

  private:
    static std::string modulePath() {
        std::string buffer(MAX_PATH, '\0');
        for (;;) {
            const DWORD n =
                GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n < buffer.size()) {
                buffer.resize(n);
                return acpToUtf8(buffer);
            }
            buffer.resize(buffer.size() * 2);
        }
    }
    bool check(BOOL ok) {
        if (!ok) error_ = GetLastError();
        return ok != FALSE;
    }
    ErrorCode error_ = 0;
};

// --- display ----------------------------------------------------------------------------

// The caller's procedure and data travel through the enumeration's own parameter.
struct MonitorEnumContext {
    Display::MonitorEnumProc proc;
    void* data;
};

BOOL CALLBACK monitorEnumThunk(HMONITOR m, HDC, LPRECT r, LPARAM p) {
    auto* c = reinterpret_cast<MonitorEnumContext*>(p);
    const Rect rect{r->left, r->top, r->right, r->bottom};
    return c->proc(reinterpret_cast<HMonitor>(m), rect, c->data) ? TRUE : FALSE;
}

class Win32Display final : public Display {
  public:
    bool enumDisplayMonitors(MonitorEnumProc proc, void* data) override {
        MonitorEnumContext context{proc, data};
        // FALSE also when the procedure ended the enumeration early, as the system says.
        return EnumDisplayMonitors(nullptr, nullptr, monitorEnumThunk,
                                   reinterpret_cast<LPARAM>(&context)) != FALSE;
    }
    bool monitorInfo(HMonitor monitor, MonitorInfo& out) override {
        MONITORINFOEXA info{};
        info.cbSize = sizeof(info);
        if (!GetMonitorInfoA(reinterpret_cast<HMONITOR>(monitor), &info)) return false;
        out.handle = monitor;
        out.monitor = {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right,
                       info.rcMonitor.bottom};
        out.work = {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
        out.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
        out.device = acpToUtf8(info.szDevice);
        return true;
    }
    HMonitor monitorFromWindow(Hwnd hwnd, std::uint32_t flags) override {
        return reinterpret_cast<HMonitor>(MonitorFromWindow(toHwnd(hwnd), flags));
    }
    HMonitor monitorFromPoint(Point pt, std::uint32_t flags) override {
        return reinterpret_cast<HMonitor>(MonitorFromPoint(POINT{pt.x, pt.y}, flags));
    }
    int systemMetrics(int index) override { return GetSystemMetrics(index); }
    int twipsPerPixelX() override { return twipsPerPixel(LOGPIXELSX); }
    int twipsPerPixelY() override { return twipsPerPixel(LOGPIXELSY); }

  private:
    static int twipsPerPixel(int axis) {
        const HDC dc = GetDC(nullptr);
        const int dpi = dc ? GetDeviceCaps(dc, axis) : 96;
        if (dc) ReleaseDC(nullptr, dc);
        return 1440 / (dpi > 0 ? dpi : 96);
    }
};

// --- process ----------------------------------------------------------------------------

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

// --- sound, clock, libraries ------------------------------------------------------------

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

// --- the facade -------------------------------------------------------------------------

class Win32Platform final : public Platform {
  public:
    WindowSystem& windows() override { return windows_; }
    GlobalMemory& memory() override { return memory_; }
    Registry& registry() override { return registry_; }
    Profile& profile() override { return profile_; }
    Mailslots& mailslots() override { return mailslots_; }
    Files& files() override { return files_; }
    Display& display() override { return display_; }
    Process& process() override { return process_; }
    Sound& sound() override { return sound_; }
    Clock& clock() override { return clock_; }
    Libraries& libraries() override { return libraries_; }

  private:
    Win32WindowSystem windows_;
    Win32Memory memory_;
    Win32Registry registry_;
    Win32Profile profile_;
    Win32Mailslots mailslots_;
    Win32Files files_;
    Win32Display display_;
    Win32Process process_{files_};
    Win32Sound sound_;
    Win32Clock clock_;
    Win32Libraries libraries_;
};

}  // namespace

}  // namespace quilo::platform::win32

namespace quilo::platform {

std::unique_ptr<Platform> makeWin32Platform() {
    return std::make_unique<win32::Win32Platform>();
}

}  // namespace quilo::platform
