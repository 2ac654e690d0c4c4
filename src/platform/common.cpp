// Helpers shared by every backend, written against the ports only.
#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace quilo::platform {

std::vector<std::byte> regSzBytes(std::string_view text) {
    std::vector<std::byte> bytes(text.size() + 1, std::byte{0});
    std::memcpy(bytes.data(), text.data(), text.size());
    return bytes;
}

std::optional<std::vector<std::byte>> readWholeFile(Files& files, std::string_view path,
                                                    std::size_t maxBytes) {
    auto file = files.open(path, OpenMode::Read);
    if (!file) return std::nullopt;
    const std::uint64_t size = file->size();
    if (size > maxBytes) return std::nullopt;
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        auto n = file->read(std::span<std::byte>(bytes).subspan(done));
        if (!n || *n == 0) return std::nullopt;
        done += *n;
    }
    return bytes;
}

bool writeWholeFile(Files& files, std::string_view path, std::span<const std::byte> bytes) {
    auto file = files.open(path, OpenMode::CreateAlways);
    return file && file->write(bytes) && file->flush();
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && out.back() != '\\') out += '\\';
    while (!name.empty() && name.front() == '\\')
        name.remove_prefix(1);
    out += name;
    return out;
}

}  // namespace quilo::platform
