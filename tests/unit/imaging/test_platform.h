// Small stand-ins for the platform ports the imaging tests need: a heap-backed global memory
// that counts blocks and bytes and can be told to fail, and in-memory files.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/global_memory.h"

namespace quilo::imaging::testing {

class HeapGlobalMemory : public platform::GlobalMemory {
  public:
    platform::HGlobal alloc(std::uint32_t flags, std::size_t bytes) override {
        if (failAllocs > 0) {
            --failAllocs;
            return 0;
        }
        auto b = std::make_unique<Block>();
        b->data.reset(new std::byte[bytes == 0 ? 1 : bytes]);
        if (flags & platform::gmem::kZeroInit) std::memset(b->data.get(), 0, bytes);
        b->size = bytes;
        const platform::HGlobal h = next_++;
        live_ += bytes;
        peak_ = std::max(peak_, live_);
        blocks_[h] = std::move(b);
        return h;
    }
    void* lock(platform::HGlobal h) override {
        auto it = blocks_.find(h);
        if (it == blocks_.end() || failLocks) return nullptr;
        ++it->second->locks;
        return it->second->data.get();
    }
    bool unlock(platform::HGlobal h) override {
        auto it = blocks_.find(h);
        if (it == blocks_.end() || it->second->locks == 0) return false;
        return --it->second->locks > 0;
    }
    bool free(platform::HGlobal h) override {
        auto it = blocks_.find(h);
        if (it == blocks_.end()) return false;
        live_ -= it->second->size;
        blocks_.erase(it);
        return true;
    }
    std::size_t size(platform::HGlobal h) override {
        auto it = blocks_.find(h);
        return it == blocks_.end() ? 0 : it->second->size;
    }
    std::size_t liveBlocks() const { return blocks_.size(); }
    std::size_t liveBytes() const { return live_; }
    std::size_t peakBytes() const { return peak_; }
    int lockCount(platform::HGlobal h) const {
        auto it = blocks_.find(h);
        return it == blocks_.end() ? -1 : it->second->locks;
    }
    // Copies bytes into a new block.
    platform::HGlobal put(const void* p, std::size_t n) {
        const auto h = alloc(platform::gmem::kMoveableZeroed, n);
        if (h && n) std::memcpy(blocks_[h]->data.get(), p, n);
        return h;
    }
    std::vector<std::byte> get(platform::HGlobal h) const {
        const auto& b = *blocks_.at(h);
        return {b.data.get(), b.data.get() + b.size};
    }
    int failAllocs = 0;
    bool failLocks = false;

  private:
    struct Block {
        std::unique_ptr<std::byte[]> data;
        std::size_t size = 0;
        int locks = 0;
    };
    std::map<platform::HGlobal, std::unique_ptr<Block>> blocks_;
    platform::HGlobal next_ = 0x1000;
    std::size_t live_ = 0, peak_ = 0;
};

// Files kept in a map; only what the imaging module uses does anything.
class MemoryFiles : public platform::Files {
  public:
    std::map<std::string, std::vector<std::byte>> files;
    int failWritesAfter = -1;  // the n-th write (from 0) and later ones fail; -1 = never

    std::string programFolder() override { return "C:\\prog"; }
    std::string programName() override { return "test"; }
    std::string tempFolder() override { return "C:\\temp\\"; }
    std::string tempFileName(std::string_view, std::string_view) override { return {}; }
    std::string userDataFolder() override { return "C:\\data"; }
    bool setCurrentDirectory(std::string_view) override { return true; }
    std::unique_ptr<platform::File> open(std::string_view path, platform::OpenMode mode) override;
    bool exists(std::string_view p) override { return files.count(std::string(p)) != 0; }
    bool isDirectory(std::string_view) override { return false; }
    bool createDirectories(std::string_view) override { return true; }
    bool removeFile(std::string_view p) override { return files.erase(std::string(p)) != 0; }
    std::optional<platform::LocalTime> lastModified(std::string_view) override { return {}; }
    std::vector<std::string> list(std::string_view, std::string_view) override { return {}; }
    std::string nativePath(std::string_view p) override { return std::string(p); }
    platform::ErrorCode lastError() override { return 0; }
    int writes = 0;
};

class MemoryFile : public platform::File {
  public:
    MemoryFile(MemoryFiles& owner, std::vector<std::byte>& data) : owner_(owner), data_(data) {}
    std::optional<std::size_t> read(std::span<std::byte> buffer) override {
        const std::size_t n = std::min(buffer.size(), data_.size() - std::min(pos_, data_.size()));
        if (n) std::memcpy(buffer.data(), data_.data() + pos_, n);
        pos_ += n;
        return n;
    }
    bool write(std::span<const std::byte> bytes) override {
        if (owner_.failWritesAfter >= 0 && owner_.writes++ >= owner_.failWritesAfter) return false;
        if (owner_.failWritesAfter < 0) ++owner_.writes;
        if (data_.size() < pos_ + bytes.size()) data_.resize(pos_ + bytes.size());
        std::memcpy(data_.data() + pos_, bytes.data(), bytes.size());
        pos_ += bytes.size();
        return true;
    }
    bool seek(std::uint64_t offset) override {
        pos_ = static_cast<std::size_t>(offset);
        return true;
    }
    std::uint64_t size() override { return data_.size(); }
    bool flush() override { return true; }

  private:
    MemoryFiles& owner_;
    std::vector<std::byte>& data_;
    std::size_t pos_ = 0;
};

inline std::unique_ptr<platform::File> MemoryFiles::open(std::string_view path,
                                                         platform::OpenMode mode) {
    const std::string key(path);
    if (mode == platform::OpenMode::Read) {
        auto it = files.find(key);
        if (it == files.end()) return nullptr;
        return std::make_unique<MemoryFile>(*this, it->second);
    }
    auto& d = files[key];
    d.clear();
    return std::make_unique<MemoryFile>(*this, d);
}

}  // namespace quilo::imaging::testing
