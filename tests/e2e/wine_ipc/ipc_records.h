// The records the two programs of the Wine IPC test exchange: each begins with its own size,
// integers little-endian, window handles as 32-bit record values.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quilo::e2e {

inline constexpr const char* kInterfaceMessage = "Kelvora2XrayInterface0";
inline constexpr platform::LParam kAnnounce = 1;  // lParam of the announcement broadcast

// dwData codes of WM_COPYDATA.
inline constexpr std::uintptr_t kHello = 2;      // host -> plug-in: HelloRecord
inline constexpr std::uintptr_t kBulk = 3;       // host -> plug-in: raw bytes
inline constexpr std::uintptr_t kShutdown = 31;  // host -> plug-in: nothing
inline constexpr std::uintptr_t kStatus = 100;   // plug-in -> host: StatusRecord
inline constexpr std::uintptr_t kBulkSum = 101;  // plug-in -> host: SumRecord

struct HelloRecord {
    std::uint32_t size = sizeof(HelloRecord);
    std::int32_t host = 0;  // the host's window
    std::uint32_t sequence = 0;
};

struct StatusRecord {
    std::uint32_t size = sizeof(StatusRecord);
    std::int32_t status = 0;
    std::uint32_t sequence = 0;
    char text[20] = {};  // ANSI, NUL-padded
};

struct SumRecord {
    std::uint32_t size = sizeof(SumRecord);
    std::uint32_t count = 0;
    std::uint32_t fnv1a = 0;
};

inline std::uint32_t fnv1a(const std::byte* data, std::size_t size) {
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ static_cast<std::uint32_t>(data[i])) * 16777619u;
    return h;
}

// Reads a record of type T from WM_COPYDATA bytes; false when the size does not match.
template <typename T>
bool readRecord(const platform::CopyData& cd, T& out) {
    if (cd.cbData != sizeof(T) || !cd.lpData) return false;
    std::memcpy(&out, cd.lpData, sizeof(T));
    return out.size == sizeof(T);
}

template <typename T>
platform::LResult sendRecord(platform::WindowSystem& ws, platform::Hwnd to, platform::Hwnd from,
                             std::uintptr_t code, const T& record) {
    platform::CopyData cd{code, sizeof(T), const_cast<T*>(&record)};
    return ws.sendMessage(to, platform::wm::kCopyData, from,
                          reinterpret_cast<platform::LParam>(&cd));
}

}  // namespace quilo::e2e
