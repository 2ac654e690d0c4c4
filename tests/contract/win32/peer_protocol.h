// How the Windows contract runner talks to its peer process: WM_COPYDATA between two control
// windows, dwData naming the operation. Both sides are built from this folder.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace quilo::contract::peer_protocol {

enum Op : std::uintptr_t {
    kHello = 0x51A0,  // peer -> runner: u64 recording window, u64 control window
    kTakeSeen,        // runner -> peer: u32 message id (0: all); the peer answers with kSeenList
    kSeenList,        // peer -> runner: the records, see writeSeen
    kSetResult,       // runner -> peer: i64 the answer to WM_COPYDATA from now on
    kSendCopyData,    // runner -> peer: u64 target, u64 code, bytes; the answer is the result
};
// Posted to the peer's control window: end the peer.
inline constexpr std::uint32_t kQuitMessage = 0x0400 + 0x51;

class Writer {
  public:
    template <typename T>
    void put(T value) {
        putBytes(&value, sizeof value);
    }
    void putBytes(const void* data, std::size_t size) {
        const auto at = bytes.size();
        bytes.resize(at + size);
        if (size) std::memcpy(bytes.data() + at, data, size);
    }
    std::vector<std::byte> bytes;
};

class Reader {
  public:
    Reader(const void* data, std::size_t size)
        : p_(static_cast<const std::byte*>(data)), left_(size) {}
    template <typename T>
    bool get(T& value) {
        return take(&value, sizeof value);
    }
    bool getBytes(std::vector<std::byte>& out, std::size_t size) {
        if (left_ < size) return false;
        out.resize(size);
        return take(out.data(), size);
    }
    std::size_t left() const { return left_; }

  private:
    bool take(void* out, std::size_t size) {
        if (left_ < size) return false;
        if (size) std::memcpy(out, p_, size);
        p_ += size;
        left_ -= size;
        return true;
    }
    const std::byte* p_;
    std::size_t left_;
};

// One record of kSeenList: u64 hwnd, u32 msg, u64 wParam, i64 lParam, u64 copy code,
// u32 copy size, the copied bytes.
struct SeenRecord {
    std::uint64_t hwnd = 0;
    std::uint32_t msg = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    std::uint64_t copyCode = 0;
    std::vector<std::byte> copyData;
};

inline void writeSeen(Writer& w, const SeenRecord& r) {
    w.put(r.hwnd);
    w.put(r.msg);
    w.put(r.wParam);
    w.put(r.lParam);
    w.put(r.copyCode);
    w.put(static_cast<std::uint32_t>(r.copyData.size()));
    w.putBytes(r.copyData.data(), r.copyData.size());
}

inline bool readSeen(Reader& rd, SeenRecord& r) {
    std::uint32_t size = 0;
    return rd.get(r.hwnd) && rd.get(r.msg) && rd.get(r.wParam) && rd.get(r.lParam) &&
           rd.get(r.copyCode) && rd.get(size) && rd.getBytes(r.copyData, size);
}

}  // namespace quilo::contract::peer_protocol
