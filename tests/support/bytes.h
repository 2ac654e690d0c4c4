// Byte helpers for records and blocks: little-endian fields, fixed-width text, concatenation.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace quilo::test {

inline std::vector<std::byte> bytesOf(std::string_view s) {
    const auto* p = reinterpret_cast<const std::byte*>(s.data());
    return {p, p + s.size()};
}
inline std::string textOf(const std::vector<std::byte>& b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}
inline std::vector<std::byte> le32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {std::byte(u & 0xFF), std::byte((u >> 8) & 0xFF), std::byte((u >> 16) & 0xFF),
            std::byte(u >> 24)};
}
inline std::vector<std::byte> le16(std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    return {std::byte(u & 0xFF), std::byte(u >> 8)};
}
// Text in a zero-padded field of `width` bytes.
inline std::vector<std::byte> text(std::string_view s, std::size_t width) {
    std::vector<std::byte> v(width);
    for (std::size_t i = 0; i < s.size() && i < width; ++i)
        v[i] = static_cast<std::byte>(s[i]);
    return v;
}
inline std::vector<std::byte> cat(std::initializer_list<std::vector<std::byte>> parts) {
    std::vector<std::byte> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace quilo::test
