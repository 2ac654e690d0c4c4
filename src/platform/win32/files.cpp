// Files and folders: open files, writes in the background, folder listings, the program's own
// and the user's folders.
#include "platform/win32/gdi.h"
#include "platform/win32/win32_internal.h"
// The headers below need <windows.h> first.
#include <shlobj.h>

#include <algorithm>
#include <thread>

namespace quilo::platform::win32 {

namespace {

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
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
        // Cut to the new length: an older, longer file was written over, not emptied.
        if (code_ == 0 && !SetEndOfFile(h)) code_ = GetLastError();
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
            case OpenMode::Overwrite:
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
    bool link(std::string_view existing, std::string_view newName) override {
        return check(
            CreateHardLinkA(utf8ToAcp(newName).c_str(), utf8ToAcp(existing).c_str(), nullptr));
    }
    int linkCount(std::string_view path) override {
        const HANDLE h = CreateFileA(utf8ToAcp(path).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error_ = GetLastError();
            return 0;
        }
        const KernelHandle file(h);
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(h, &info)) {
            error_ = GetLastError();
            return 0;
        }
        return static_cast<int>(info.nNumberOfLinks);
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

}  // namespace

std::unique_ptr<Files> makeFiles() {
    return std::make_unique<Win32Files>();
}

}  // namespace quilo::platform::win32
