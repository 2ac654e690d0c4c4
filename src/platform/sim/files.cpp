// Simulated files: Windows paths mapped onto the world's real directory, or kept in memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>

#include "platform/sim/impl.h"

namespace quilo::sim {

using namespace platform;
namespace fs = std::filesystem;

namespace {
constexpr ErrorCode kDirectoryInvalid = 267;  // ERROR_DIRECTORY
constexpr ErrorCode kDiskFull = 112;          // ERROR_DISK_FULL
constexpr ErrorCode kSharingViolation = 32;   // ERROR_SHARING_VIOLATION

// The components of an absolute Windows path "C:\a\..\b" -> {"C", "b"}; nothing when it is
// not an absolute drive path.
std::optional<std::vector<std::string>> components(std::string_view path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '/', '\\');
    if (p.size() < 2 || p[1] != ':' || !std::isalpha(static_cast<unsigned char>(p[0])))
        return std::nullopt;
    std::vector<std::string> out{
        std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))))};
    std::size_t i = 2;
    while (i <= p.size()) {
        std::size_t j = p.find('\\', i);
        if (j == std::string::npos) j = p.size();
        std::string part = p.substr(i, j - i);
        if (part == "..") {
            if (out.size() > 1) out.pop_back();
        } else if (!part.empty() && part != ".") {
            out.push_back(std::move(part));
        }
        i = j + 1;
    }
    return out;
}

// What a missing file is reported as: the file, or the folder it would be in.
ErrorCode missing(World::Impl& w, const fs::path& native) {
    return w.kindOf(native.parent_path()) == detail::FileKind::Directory ? err::kFileNotFound
                                                                         : err::kPathNotFound;
}

// A file that is to get another name (moved or linked): false, with the error, when it is no
// file or the new name's folder is not there.
bool canName(World::Impl& w, ProcessImpl& p, const fs::path& source, const fs::path& target) {
    if (w.kindOf(source) != detail::FileKind::File) {
        p.fail(missing(w, source));
        return false;
    }
    if (w.kindOf(target.parent_path()) != detail::FileKind::Directory) {
        p.fail(err::kPathNotFound);
        return false;
    }
    return true;
}

ErrorCode fromErrno(World::Impl& w, int e, const fs::path& native) {
    switch (e) {
        case ENOENT:
            return missing(w, native);
        case ENOTDIR:
            return err::kPathNotFound;
        case EEXIST:
            return err::kFileExists;
        case ENOSPC:
            return kDiskFull;
        default:
            return err::kAccessDenied;
    }
}

class SimFile final : public File, public detail::Tracked {
  public:
    SimFile(World::Impl& w, ProcessImpl& p, int fd, std::string key, bool writer)
        : Tracked(w, p), fd_(fd), key_(std::move(key)), writer_(writer) {
        auto& count = w.openFiles[key_];
        (writer_ ? count.second : count.first) += 1;
    }
    ~SimFile() override { detach(); }

    std::optional<std::size_t> read(std::span<std::byte> buffer) override {
        if (fd_ < 0) return std::nullopt;
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        return static_cast<std::size_t>(n);
    }
    bool write(std::span<const std::byte> bytes) override {
        if (fd_ < 0) return false;  // closed when its process ended (the world may be gone)
        if (world_->shouldFail(Fault::FileWrite, owner())) {
            owner_->fail(err::kWriteFault);
            return false;
        }
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                owner_->fail(errno == ENOSPC ? kDiskFull : err::kWriteFault);
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        world_->profiles.erase(key_);
        stamp();
        return true;
    }
    bool seek(std::uint64_t offset) override {
        return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
    }
    std::uint64_t size() override {
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
        return static_cast<std::uint64_t>(st.st_size);
    }
    bool flush() override { return fd_ >= 0; }

    // For a write on another thread: the fault is decided here, on the simulation's thread; the
    // bytes then go out touching nothing but the descriptor.
    bool writeFaultDue() {
        if (fd_ >= 0 && !world_->shouldFail(Fault::FileWrite, owner())) return false;
        return true;
    }
    int descriptor() const { return fd_; }
    static ErrorCode writeRaw(int fd, std::span<const std::byte> bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno == ENOSPC ? kDiskFull : err::kWriteFault;
            }
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }

    // Files changed through the simulation carry the virtual local time.
    void stamp() {
        const std::int64_t ms = detail::toEpochMs(world_->localTime());
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ms / 1000);
        times[0].tv_nsec = times[1].tv_nsec = static_cast<long>((ms % 1000) * 1000000);
        ::futimens(fd_, times);
    }

  protected:
    void release() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (writer_) world_->profiles.erase(key_);  // a write on a thread of its own ends here
        auto it = world_->openFiles.find(key_);
        if (it == world_->openFiles.end()) return;
        (writer_ ? it->second.second : it->second.first) -= 1;
        if (it->second.first <= 0 && it->second.second <= 0) world_->openFiles.erase(it);
    }

  private:
    int fd_;
    std::string key_;
    bool writer_;
};

// A file of a world kept in memory. While it is open its node stays: an open file can be
// neither removed nor moved, and the world closes it before it goes.
class MemoryFile final : public File, public detail::Tracked {
  public:
    MemoryFile(World::Impl& w, ProcessImpl& p, detail::MemoryNode& node, std::string key,
               bool writer, bool append)
        : Tracked(w, p), node_(&node), key_(std::move(key)), writer_(writer), append_(append) {
        auto& count = w.openFiles[key_];
        (writer_ ? count.second : count.first) += 1;
    }
    ~MemoryFile() override { detach(); }

    std::optional<std::size_t> read(std::span<std::byte> buffer) override {
        if (!node_) return std::nullopt;
        const auto& bytes = node_->data->bytes;
        const std::size_t n = at_ >= bytes.size() ? 0 : std::min(buffer.size(), bytes.size() - at_);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at_), n, buffer.begin());
        at_ += n;
        return n;
    }
    bool write(std::span<const std::byte> bytes) override {
        if (!node_) return false;
        if (world_->shouldFail(Fault::FileWrite, owner())) {
            owner_->fail(err::kWriteFault);
            return false;
        }
        writeRaw(bytes);
        world_->profiles.erase(key_);
        stamp();
        return true;
    }
    bool seek(std::uint64_t offset) override {
        if (!node_) return false;
        at_ = static_cast<std::size_t>(offset);
        return true;
    }
    std::uint64_t size() override { return node_ ? node_->data->bytes.size() : 0; }
    bool flush() override { return node_ != nullptr; }

    bool writeFaultDue() { return !node_ || world_->shouldFail(Fault::FileWrite, owner()); }
    void writeRaw(std::span<const std::byte> bytes) {
        auto& content = node_->data->bytes;
        if (append_) at_ = content.size();
        if (content.size() < at_ + bytes.size()) content.resize(at_ + bytes.size());
        std::copy(bytes.begin(), bytes.end(), content.begin() + static_cast<std::ptrdiff_t>(at_));
        at_ += bytes.size();
    }
    void truncate(std::size_t length) { node_->data->bytes.resize(length); }
    void stamp() {
        node_->data->modifiedMs = detail::toEpochMs(world_->localTime());
        node_->data->version = ++world_->memoryVersion;
    }

  protected:
    void release() override {
        node_ = nullptr;
        if (writer_) world_->profiles.erase(key_);
        auto it = world_->openFiles.find(key_);
        if (it == world_->openFiles.end()) return;
        (writer_ ? it->second.second : it->second.first) -= 1;
        if (it->second.first <= 0 && it->second.second <= 0) world_->openFiles.erase(it);
    }

  private:
    detail::MemoryNode* node_;
    std::string key_;
    bool writer_;
    bool append_;
    std::size_t at_ = 0;
};

bool isAbsoluteDrivePath(std::string_view p) {
    return p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]));
}

detail::FileKind diskKind(const fs::path& native) {
    std::error_code ec;
    const auto status = fs::status(native, ec);
    if (fs::is_directory(status)) return detail::FileKind::Directory;
    return fs::exists(status) ? detail::FileKind::File : detail::FileKind::None;
}
}  // namespace

detail::MemoryNode* World::Impl::memoryNode(const fs::path& native) {
    const auto it = memoryFiles.find(detail::lower(native.native()));
    return it == memoryFiles.end() ? nullptr : &it->second;
}

detail::MemoryNode& World::Impl::addMemoryNode(const fs::path& native) {
    exactPaths.clear();
    auto& node = memoryFiles[detail::lower(native.string())];
    node.native = native;
    return node;
}

void World::Impl::removeMemoryNode(const std::string& key) {
    exactPaths.clear();
    memoryFiles.erase(key);
}

detail::FileKind World::Impl::kindOf(const fs::path& native) {
    if (!inMemory()) return diskKind(native);
    if (native == options.root) return detail::FileKind::Directory;
    const auto* node = memoryNode(native);
    if (!node) return detail::FileKind::None;
    return node->directory ? detail::FileKind::Directory : detail::FileKind::File;
}

std::filesystem::path World::nativePath(std::string_view windowsPath) const {
    if (impl_->inMemory()) {
        // Names are case-insensitive: an existing file or folder keeps the spelling it was
        // made with.
        auto& known = impl_->exactPaths;
        if (const auto it = known.find(windowsPath); it != known.end()) return it->second;
        if (!isAbsoluteDrivePath(windowsPath)) return impl_->options.root / "invalid-path";
        // Built in place, the native path and its lower-case key side by side (one component
        // at a time, "." and ".." as components() takes them): the cache above is emptied
        // whenever a file comes or goes, so this runs for most calls.
        std::string native = impl_->options.root.native();
        if (native.empty() || native.back() != '/') native += '/';
        std::string key = detail::lower(native);
        const auto append = [&](std::string_view part) {
            if (native.back() != '/') {
                native += '/';
                key += '/';
            }
            native += part;
            for (const char c : part)
                key += detail::lowerChar(c);
            if (const auto it = impl_->memoryFiles.find(key); it != impl_->memoryFiles.end())
                native = it->second.native.native();
        };
        const char drive =
            static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0])));
        append(std::string_view(&drive, 1));
        const std::size_t driveEnd = native.size();
        for (std::size_t i = 2; i <= windowsPath.size();) {
            std::size_t j = windowsPath.find_first_of("\\/", i);
            if (j == std::string_view::npos) j = windowsPath.size();
            const std::string_view part = windowsPath.substr(i, j - i);
            if (part == "..") {
                if (native.size() > driveEnd) {
                    const std::size_t cut = native.rfind('/');
                    native.resize(cut);
                    key.resize(cut);
                }
            } else if (!part.empty() && part != ".") {
                append(part);
            }
            i = j + 1;
        }
        fs::path out(std::move(native));
        constexpr std::size_t kMaxKnown = 4096;
        if (known.size() >= kMaxKnown) known.clear();
        known.emplace(windowsPath, out);
        return out;
    }
    // The usual case, a path spelled as on disk, costs one look-up instead of one a component;
    // a path seen before and still there is not even taken apart again.
    auto& known = impl_->exactPaths;
    std::error_code ec;
    if (const auto it = known.find(windowsPath); it != known.end()) {
        if (fs::exists(it->second, ec)) return it->second;
        known.erase(it);
    }
    const auto parts = components(windowsPath);
    fs::path out = impl_->options.root;
    if (!parts) return out / "invalid-path";
    fs::path exact = out;
    for (const auto& part : *parts)
        exact /= part;
    if (fs::exists(exact, ec)) {
        constexpr std::size_t kMaxKnown = 4096;  // paths a long run makes up come and go
        if (known.size() >= kMaxKnown) known.clear();
        known.emplace(windowsPath, exact);
        return exact;
    }
    // Names are case-insensitive: an existing entry that differs only in case is taken.
    const auto inFolder = [&](const fs::path& folder, const std::string& part) {
        fs::path next = folder / part;
        if (!fs::exists(next, ec) && fs::is_directory(folder, ec)) {
            for (const auto& entry : fs::directory_iterator(folder, ec)) {
                if (detail::iequals(entry.path().filename().string(), part)) {
                    next = entry.path();
                    break;
                }
            }
        }
        return next;
    };
    // A new name in a folder looked up before (a file about to be made): only the name is
    // looked for.
    if (const std::size_t cut = windowsPath.find_last_of("\\/"); cut != std::string_view::npos) {
        const auto folder = known.find(windowsPath.substr(0, cut));
        if (folder != known.end() && parts->back() == windowsPath.substr(cut + 1) &&
            fs::is_directory(folder->second, ec))
            return inFolder(folder->second, parts->back());
    }
    for (const auto& part : *parts)
        out = inFolder(out, part);
    return out;
}

std::string SimFiles::absolute(std::string_view path) const {
    std::string p(path);
    std::replace(p.begin(), p.end(), '/', '\\');
    if (isAbsoluteDrivePath(p)) return p;
    if (!p.empty() && p.front() == '\\') return currentDirectory.substr(0, 2) + p;
    return joinPath(currentDirectory, p);
}

fs::path SimFiles::native(std::string_view path) const {
    return p_.world().nativePath(absolute(path));
}

std::string SimFiles::programFolder() {
    const auto& exe = p_.options().exePath;
    const auto cut = exe.find_last_of('\\');
    return cut == std::string::npos ? std::string() : exe.substr(0, cut);
}

std::string SimFiles::programName() {
    const auto& exe = p_.options().exePath;
    auto name = exe.substr(exe.find_last_of('\\') + 1);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string SimFiles::tempFolder() {
    return "C:\\Users\\" + p_.options().userName + "\\AppData\\Local\\Temp\\";
}

std::string SimFiles::userDataFolder() {
    return "C:\\Users\\" + p_.options().userName + "\\AppData\\Roaming";
}

std::string SimFiles::tempFileName(std::string_view folder, std::string_view prefix) {
    if (p_.w().kindOf(native(folder)) != detail::FileKind::Directory) {
        p_.fail(kDirectoryInvalid);
        return {};
    }
    // Like GetTempFileNameA with uUnique 0: a number from the clock, counted up until the
    // name is free; the file is created so the name stays taken.
    unsigned unique = static_cast<unsigned>(p_.w().now) & 0xFFFF;
    for (int tries = 0; tries < 0x10000; ++tries, unique = (unique + 1) & 0xFFFF) {
        if (unique == 0) continue;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", unique);
        const std::string name = joinPath(folder, std::string(prefix.substr(0, 3)) + hex + ".tmp");
        auto f = open(name, OpenMode::CreateNew);
        if (f) return absolute(name);
        if (lastError() != err::kFileExists) return {};
    }
    p_.fail(err::kFileExists);
    return {};
}

bool SimFiles::setCurrentDirectory(std::string_view path) {
    const auto kind = p_.w().kindOf(native(path));
    if (kind != detail::FileKind::Directory) {
        p_.fail(kind == detail::FileKind::File ? kDirectoryInvalid : err::kFileNotFound);
        return false;
    }
    currentDirectory = absolute(path);
    while (currentDirectory.size() > 3 && currentDirectory.back() == '\\')
        currentDirectory.pop_back();
    return true;
}

// The code of an ended process no longer runs: what its objects do on the way out (a test
// destroys them after ending the process, as a kill would leave them) never reaches the disk.
bool SimFiles::deadProcess() {
    p_.fail(err::kAccessDenied);
    return false;
}

std::unique_ptr<File> SimFiles::open(std::string_view path, OpenMode mode) {
    auto& w = p_.w();
    if (p_.ended) return deadProcess(), nullptr;
    if (!components(absolute(path))) {
        p_.fail(err::kPathNotFound);
        return nullptr;
    }
    const auto target = native(path);
    if (mode != OpenMode::Read && w.shouldFail(Fault::FileCreate, &p_)) {
        p_.fail(err::kAccessDenied);
        return nullptr;
    }
    const auto kind = w.kindOf(target);
    if (kind == detail::FileKind::Directory) {
        p_.fail(err::kAccessDenied);
        return nullptr;
    }
    // Readers share with readers only and writers share with readers only (CREATE_NEW with
    // nobody), so a writer excludes every other end and a reader excludes writers.
    const bool writer = mode != OpenMode::Read;
    if (auto it = w.openFiles.find(target.string()); it != w.openFiles.end()) {
        if (it->second.second > 0 || (writer && it->second.first > 0)) {
            p_.fail(kSharingViolation);
            return nullptr;
        }
    }
    if (writer) w.profiles.erase(target.string());
    if (w.inMemory()) {
        detail::MemoryNode* node = w.memoryNode(target);
        if (!node) {
            if (!writer || w.kindOf(target.parent_path()) != detail::FileKind::Directory) {
                p_.fail(missing(w, target));
                return nullptr;
            }
            node = &w.addMemoryNode(target);
        } else if (mode == OpenMode::CreateNew) {
            p_.fail(err::kFileExists);
            return nullptr;
        } else if (mode == OpenMode::CreateAlways) {
            node->data->bytes.clear();
        }
        auto file = std::make_unique<MemoryFile>(w, p_, *node, target.string(), writer,
                                                 mode == OpenMode::Append);
        if (writer) file->stamp();
        return file;
    }
    int flags = 0;
    switch (mode) {
        case OpenMode::Read:
            flags = O_RDONLY;
            break;
        case OpenMode::CreateAlways:
            flags = O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case OpenMode::CreateNew:
            flags = O_WRONLY | O_CREAT | O_EXCL;
            break;
        case OpenMode::Append:
            flags = O_WRONLY | O_CREAT | O_APPEND;
            break;
        case OpenMode::Overwrite:
            flags = O_WRONLY | O_CREAT;
            break;
    }
    const int fd = ::open(target.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        p_.fail(fromErrno(w, errno, target));
        return nullptr;
    }
    auto file = std::make_unique<SimFile>(w, p_, fd, target.string(), writer);
    if (mode != OpenMode::Read) file->stamp();
    return file;
}

bool SimFiles::exists(std::string_view path) {
    return components(absolute(path)) && p_.w().kindOf(native(path)) != detail::FileKind::None;
}

bool SimFiles::isDirectory(std::string_view path) {
    return components(absolute(path)) && p_.w().kindOf(native(path)) == detail::FileKind::Directory;
}

bool SimFiles::createDirectories(std::string_view path) {
    if (p_.ended) return deadProcess();
    if (!components(absolute(path))) {
        p_.fail(err::kPathNotFound);
        return false;
    }
    auto& w = p_.w();
    const auto target = native(path);
    if (w.inMemory()) {
        // Each missing folder on the way is made; a file on the way stops it.
        fs::path at = w.options.root;
        for (const auto& part : target.lexically_relative(w.options.root)) {
            at /= part;
            if (const auto* node = w.memoryNode(at)) {
                if (node->directory) continue;
                break;
            }
            auto& made = w.addMemoryNode(at);
            made.directory = true;
            made.data->modifiedMs = detail::toEpochMs(w.localTime());
        }
    } else {
        std::error_code ec;
        fs::create_directories(target, ec);
    }
    if (w.kindOf(target) != detail::FileKind::Directory) {
        p_.fail(err::kAccessDenied);
        return false;
    }
    return true;
}

bool SimFiles::removeFile(std::string_view path) {
    if (p_.ended) return deadProcess();
    auto& w = p_.w();
    const auto target = native(path);
    if (w.kindOf(target) != detail::FileKind::File) {
        p_.fail(missing(w, target));
        return false;
    }
    if (w.openFiles.contains(target.string())) {
        p_.fail(kSharingViolation);  // an open file cannot be deleted
        return false;
    }
    w.profiles.erase(target.string());
    std::error_code ec;
    if (w.inMemory()) {
        w.removeMemoryNode(detail::lower(target.string()));
    } else if (!fs::remove(target, ec)) {
        p_.fail(err::kAccessDenied);
        return false;
    }
    return true;
}

bool SimFiles::moveFile(std::string_view from, std::string_view to) {
    if (p_.ended) return deadProcess();
    auto& w = p_.w();
    const auto source = native(from), target = native(to);
    if (!canName(w, p_, source, target)) return false;
    auto& open = w.openFiles;
    if (open.contains(source.string()) || open.contains(target.string())) {
        p_.fail(kSharingViolation);
        return false;
    }
    if (w.shouldFail(Fault::FileCreate, &p_)) {
        p_.fail(err::kAccessDenied);
        return false;
    }
    w.profiles.erase(source.string());
    w.profiles.erase(target.string());
    if (w.inMemory()) {
        // A file replaces a file, never a folder; a move onto itself changes nothing.
        if (w.kindOf(target) == detail::FileKind::Directory) {
            p_.fail(err::kAccessDenied);
            return false;
        }
        const std::string sourceKey = detail::lower(source.string());
        const std::string targetKey = detail::lower(target.string());
        if (sourceKey == targetKey) return true;
        auto node = w.memoryFiles.extract(sourceKey);
        node.key() = targetKey;
        node.mapped().native = target;
        node.mapped().data->version = ++w.memoryVersion;
        w.removeMemoryNode(targetKey);
        w.memoryFiles.insert(std::move(node));
        return true;
    }
    std::error_code ec;
    fs::rename(source, target, ec);
    if (ec) {
        p_.fail(err::kAccessDenied);
        return false;
    }
    return true;
}

bool SimFiles::link(std::string_view existing, std::string_view newName) {
    if (p_.ended) return deadProcess();
    auto& w = p_.w();
    const auto source = native(existing), target = native(newName);
    if (!canName(w, p_, source, target)) return false;
    if (w.kindOf(target) != detail::FileKind::None) {
        p_.fail(err::kAlreadyExists);
        return false;
    }
    if (w.shouldFail(Fault::FileCreate, &p_)) {
        p_.fail(err::kAccessDenied);
        return false;
    }
    if (w.inMemory()) {
        const auto data = w.memoryNode(source)->data;
        w.addMemoryNode(target).data = data;
        return true;
    }
    std::error_code ec;
    fs::create_hard_link(source, target, ec);
    if (ec) {
        p_.fail(err::kAccessDenied);
        return false;
    }
    return true;
}

int SimFiles::linkCount(std::string_view path) {
    if (p_.ended) {
        deadProcess();
        return 0;
    }
    auto& w = p_.w();
    const auto file = native(path);
    if (w.kindOf(file) != detail::FileKind::File) {
        p_.fail(missing(w, file));
        return 0;
    }
    if (w.inMemory()) {
        const auto data = w.memoryNode(file)->data;
        int names = 0;
        for (const auto& [key, node] : w.memoryFiles)
            names += node.data == data ? 1 : 0;
        return names;
    }
    std::error_code ec;
    const auto n = fs::hard_link_count(file, ec);
    return ec ? 0 : static_cast<int>(n);
}

namespace {

// The file is opened and every fault decided on the simulation's thread, in call order, so a
// test fails it like any write; only the bytes go out on a thread of their own, so the caller
// really goes on meanwhile (what the capture benchmark measures). The outcome is read and the
// file closed (and stamped with the virtual time) when done() is asked. A file kept in memory
// is written at once.
class SimPendingWrite final : public platform::PendingWrite {
  public:
    SimPendingWrite(SimFiles& files, ProcessImpl& p, std::string_view path,
                    std::span<const std::byte> head, std::span<const std::byte> bytes)
        : p_(p), file_(files.open(path, OpenMode::Overwrite)) {
        auto* f = dynamic_cast<SimFile*>(file_.get());
        if (file_ == nullptr) {
            code_ = files.lastError();
        } else if (auto* m = dynamic_cast<MemoryFile*>(file_.get())) {
            if (m->writeFaultDue()) {
                code_ = err::kWriteFault;
            } else {
                m->writeRaw(head);
                m->writeRaw(bytes);
                m->truncate(head.size() + bytes.size());
            }
        } else if (f->writeFaultDue()) {
            code_ = err::kWriteFault;
        } else {
            const int fd = f->descriptor();
            thread_ = std::thread([this, fd, head, bytes] {
                code_ = SimFile::writeRaw(fd, head);
                if (code_ == 0) code_ = SimFile::writeRaw(fd, bytes);
                const auto length = static_cast<off_t>(head.size() + bytes.size());
                if (code_ == 0 && ::ftruncate(fd, length) != 0) code_ = err::kWriteFault;
            });
        }
    }
    SimPendingWrite(const SimPendingWrite&) = delete;
    SimPendingWrite& operator=(const SimPendingWrite&) = delete;
    ~SimPendingWrite() override {
        if (thread_.joinable()) thread_.join();
    }
    bool done() override {
        if (thread_.joinable()) thread_.join();
        if (file_) {
            if (auto* m = dynamic_cast<MemoryFile*>(file_.get()); code_ == 0 && m) {
                m->stamp();
            } else if (code_ == 0) {
                static_cast<SimFile*>(file_.get())->stamp();
            }
            file_.reset();
        }
        if (code_ != 0) p_.fail(code_);
        return code_ == 0;
    }

  private:
    ProcessImpl& p_;
    std::unique_ptr<File> file_;
    ErrorCode code_ = 0;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<platform::PendingWrite> SimFiles::writeInBackground(
    std::string_view path, std::span<const std::byte> head, std::span<const std::byte> bytes) {
    return std::make_unique<SimPendingWrite>(*this, p_, path, head, bytes);
}

std::optional<LocalTime> SimFiles::lastModified(std::string_view path) {
    struct stat st {};
    auto& w = p_.w();
    const auto target = native(path);
    if (w.inMemory()) {
        if (const auto* node = w.memoryNode(target))
            return detail::fromEpochMs(node->data->modifiedMs);
        p_.fail(missing(w, target));
        return std::nullopt;
    }
    if (::stat(target.c_str(), &st) != 0) {
        p_.fail(fromErrno(w, errno, target));
        return std::nullopt;
    }
    const std::int64_t ms =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return detail::fromEpochMs(ms);
}

std::vector<std::string> SimFiles::list(std::string_view folder, std::string_view pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    auto& w = p_.w();
    const auto dir = native(folder);
    if (w.kindOf(dir) != detail::FileKind::Directory) {
        p_.fail(err::kPathNotFound);
        return names;
    }
    if (w.inMemory()) {
        const std::string prefix = detail::lower((dir / "").string());
        for (auto it = w.memoryFiles.lower_bound(prefix);
             it != w.memoryFiles.end() && it->first.starts_with(prefix); ++it) {
            if (it->second.directory || it->first.find('/', prefix.size()) != std::string::npos)
                continue;
            auto name = it->second.native.filename().string();
            if (detail::wildcardMatch(pattern, name)) names.push_back(std::move(name));
        }
    } else {
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            if (!entry.is_regular_file(ec)) continue;
            auto name = entry.path().filename().string();
            if (detail::wildcardMatch(pattern, name)) names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return detail::lower(a) < detail::lower(b);
    });
    return names;
}

std::string SimFiles::nativePath(std::string_view path) {
    return native(path).string();
}

ErrorCode SimFiles::lastError() {
    return p_.lastError_;
}

}  // namespace quilo::sim
