// Forwarding wrappers, one per port: each passes every call to the port it wraps, so a test
// derives from one, overrides the call it cares about and keeps the rest. PlatformWrapper
// does the same for a whole platform, with its memory swapped for a wrapper.
#pragma once

#include <cstring>
#include <map>

#include "platform/platform.h"

namespace quilo::test {

using namespace platform;

class MemoryWrapper : public GlobalMemory {
  public:
    explicit MemoryWrapper(GlobalMemory& t) : t_(t) {}
    HGlobal alloc(std::uint32_t f, std::size_t n) override { return t_.alloc(f, n); }
    void* lock(HGlobal b) override { return t_.lock(b); }
    bool unlock(HGlobal b) override { return t_.unlock(b); }
    bool free(HGlobal b) override { return t_.free(b); }
    std::size_t size(HGlobal b) override { return t_.size(b); }

  private:
    GlobalMemory& t_;
};

class FilesWrapper : public Files {
  public:
    explicit FilesWrapper(Files& t) : t_(t) {}
    std::string programFolder() override { return t_.programFolder(); }
    std::string programName() override { return t_.programName(); }
    std::string tempFolder() override { return t_.tempFolder(); }
    std::string tempFileName(std::string_view f, std::string_view p) override {
        return t_.tempFileName(f, p);
    }
    std::string userDataFolder() override { return t_.userDataFolder(); }
    bool setCurrentDirectory(std::string_view p) override { return t_.setCurrentDirectory(p); }
    std::unique_ptr<File> open(std::string_view p, OpenMode m) override { return t_.open(p, m); }
    bool exists(std::string_view p) override { return t_.exists(p); }
    bool isDirectory(std::string_view p) override { return t_.isDirectory(p); }
    bool createDirectories(std::string_view p) override { return t_.createDirectories(p); }
    bool removeFile(std::string_view p) override { return t_.removeFile(p); }
    bool moveFile(std::string_view f, std::string_view t) override { return t_.moveFile(f, t); }
    bool link(std::string_view f, std::string_view t) override { return t_.link(f, t); }
    int linkCount(std::string_view p) override { return t_.linkCount(p); }
    using Files::writeInBackground;
    std::unique_ptr<platform::PendingWrite> writeInBackground(
        std::string_view p, std::span<const std::byte> h, std::span<const std::byte> b) override {
        return t_.writeInBackground(p, h, b);
    }
    std::optional<LocalTime> lastModified(std::string_view p) override {
        return t_.lastModified(p);
    }
    std::vector<std::string> list(std::string_view f, std::string_view p) override {
        return t_.list(f, p);
    }
    std::string nativePath(std::string_view p) override { return t_.nativePath(p); }
    ErrorCode lastError() override { return t_.lastError(); }

  private:
    Files& t_;
};

class ProcessWrapper : public Process {
  public:
    explicit ProcessWrapper(Process& t) : t_(t) {}
    std::string commandLine() override { return t_.commandLine(); }
    std::unique_ptr<InstanceGuard> acquireSingleInstance(std::string_view n) override {
        return t_.acquireSingleInstance(n);
    }
    VersionInfo version() override { return t_.version(); }
    int messageBox(Hwnd o, std::string_view t, std::string_view c, std::uint32_t s) override {
        return t_.messageBox(o, t, c, s);
    }
    void setMousePointer(int p) override { t_.setMousePointer(p); }
    int mousePointer() override { return t_.mousePointer(); }
    bool startProgram(std::string_view p, std::string_view a) override {
        return t_.startProgram(p, a);
    }
    std::string errorText(ErrorCode c) override { return t_.errorText(c); }
    char decimalSeparator() override { return t_.decimalSeparator(); }

  private:
    Process& t_;
};

class MailslotsWrapper : public Mailslots {
  public:
    explicit MailslotsWrapper(Mailslots& t) : t_(t) {}
    Handle createMailslot(std::string_view n, std::uint32_t m, std::uint32_t r) override {
        return t_.createMailslot(n, m, r);
    }
    Handle openMailslot(std::string_view n) override { return t_.openMailslot(n); }
    bool write(Handle s, std::span<const std::byte> m) override { return t_.write(s, m); }
    std::optional<std::vector<std::byte>> read(Handle s) override { return t_.read(s); }
    bool close(Handle s) override { return t_.close(s); }
    ErrorCode lastError() override { return t_.lastError(); }

  private:
    Mailslots& t_;
};

class RegistryWrapper : public Registry {
  public:
    explicit RegistryWrapper(Registry& t) : t_(t) {}
    ErrorCode queryValue(RegRoot r, std::string_view k, std::string_view n, std::size_t b,
                         RegValue& out) override {
        return t_.queryValue(r, k, n, b, out);
    }
    ErrorCode createKey(RegRoot r, std::string_view k) override { return t_.createKey(r, k); }
    ErrorCode setValue(RegRoot r, std::string_view k, std::string_view n, RegType t,
                       std::span<const std::byte> d) override {
        return t_.setValue(r, k, n, t, d);
    }
    ErrorCode deleteValue(RegRoot r, std::string_view k, std::string_view n) override {
        return t_.deleteValue(r, k, n);
    }
    ErrorCode deleteTree(RegRoot r, std::string_view k) override { return t_.deleteTree(r, k); }

  private:
    Registry& t_;
};

class ClockWrapper : public Clock {
  public:
    explicit ClockWrapper(Clock& t) : t_(t) {}
    std::uint32_t tickCount() override { return t_.tickCount(); }
    LocalTime localTime() override { return t_.localTime(); }

  private:
    Clock& t_;
};

class LibrariesWrapper : public Libraries {
  public:
    explicit LibrariesWrapper(Libraries& t) : t_(t) {}
    std::unique_ptr<Library> load(std::string_view p) override { return t_.load(p); }
    ErrorCode lastError() override { return t_.lastError(); }

  private:
    Libraries& t_;
};

// A platform whose ports are those of another, except the memory when a test swaps it.
class PlatformWrapper : public Platform {
  public:
    explicit PlatformWrapper(Platform& t) : t_(t) {}
    WindowSystem& windows() override { return t_.windows(); }
    GlobalMemory& memory() override { return memory_ ? *memory_ : t_.memory(); }
    Registry& registry() override { return t_.registry(); }
    Profile& profile() override { return t_.profile(); }
    Mailslots& mailslots() override { return t_.mailslots(); }
    Files& files() override { return t_.files(); }
    Display& display() override { return t_.display(); }
    Process& process() override { return t_.process(); }
    Sound& sound() override { return t_.sound(); }
    Clock& clock() override { return t_.clock(); }
    Libraries& libraries() override { return t_.libraries(); }

    GlobalMemory* memory_ = nullptr;

  private:
    Platform& t_;
};

// Global memory that keeps account of what passes through it: the blocks still alive, their
// bytes, the locks held; and fails the next allocations or locks on request.
class CountingMemory : public MemoryWrapper {
  public:
    using MemoryWrapper::MemoryWrapper;
    HGlobal alloc(std::uint32_t flags, std::size_t bytes) override {
        if (failAllocs > 0) {
            --failAllocs;
            return 0;
        }
        const HGlobal h = MemoryWrapper::alloc(flags, bytes);
        if (h) {
            live_[h] = bytes;
            liveBytes_ += bytes;
        }
        return h;
    }
    void* lock(HGlobal b) override {
        if (failLocks > 0 && live_.count(b)) {
            --failLocks;
            return nullptr;
        }
        void* p = MemoryWrapper::lock(b);
        if (p) ++locks_[b];
        return p;
    }
    bool unlock(HGlobal b) override {
        if (locks_[b] > 0) --locks_[b];
        return MemoryWrapper::unlock(b);
    }
    bool free(HGlobal b) override {
        if (auto it = live_.find(b); it != live_.end()) {
            liveBytes_ -= it->second;
            live_.erase(it);
            locks_.erase(b);
        }
        return MemoryWrapper::free(b);
    }

    std::size_t liveBlocks() const { return live_.size(); }
    std::size_t liveBytes() const { return liveBytes_; }
    int locks(HGlobal b) const {
        auto it = locks_.find(b);
        return it == locks_.end() ? 0 : it->second;
    }
    // A new block holding a copy of the bytes.
    HGlobal put(const void* p, std::size_t n) {
        const HGlobal h = alloc(gmem::kMoveableZeroed, n);
        if (h && n) {
            GlobalLock l(*this, h);
            std::memcpy(l.data(), p, n);
        }
        return h;
    }
    HGlobal put(const std::vector<std::byte>& v) { return put(v.data(), v.size()); }
    // A block's bytes (as many as it was allocated with).
    std::vector<std::byte> get(HGlobal h) {
        const std::size_t n = live_.count(h) ? live_.at(h) : size(h);
        GlobalLock l(*this, h);
        return l ? std::vector<std::byte>(l.data(), l.data() + n) : std::vector<std::byte>();
    }

    int failAllocs = 0;  // the next n allocations fail
    int failLocks = 0;   // the next n locks of blocks allocated here fail

  private:
    std::map<HGlobal, std::size_t> live_;
    std::map<HGlobal, int> locks_;
    std::size_t liveBytes_ = 0;
};

}  // namespace quilo::test
