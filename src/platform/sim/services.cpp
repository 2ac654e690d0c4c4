// Simulated global memory, registry, INI files and mailslots.
#include <algorithm>
#include <cstring>
#include <fstream>

#include <sys/stat.h>

#include "core/text.h"
#include "platform/sim/impl.h"

namespace quilo::sim {

using namespace platform;

namespace {
constexpr ErrorCode kNotLocked = 158;        // ERROR_NOT_LOCKED
constexpr ErrorCode kDiscarded = 157;        // ERROR_DISCARDED
constexpr ErrorCode kInvalidName = 123;      // ERROR_INVALID_NAME
constexpr ErrorCode kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr std::size_t kMaxBlockBytes = std::size_t{1} << 31;
constexpr std::size_t kMaxProfileBytes = 16u << 20;
constexpr std::uint8_t kFreshMemoryPattern = 0xBE;  // what a block holds when not zeroed
}  // namespace

// --- global memory ----------------------------------------------------------------------

detail::MemoryBlock* SimMemory::find(HGlobal block) {
    auto& w = p_.w();
    auto it = w.blocks.find(block);
    // A block belongs to the process that allocated it, as on Windows.
    if (it == w.blocks.end() || it->second.owner != &p_) {
        p_.fail(err::kInvalidHandle);
        return nullptr;
    }
    return &it->second;
}

HGlobal SimMemory::alloc(std::uint32_t flags, std::size_t bytes) {
    auto& w = p_.w();
    if (p_.ended || bytes > kMaxBlockBytes || w.shouldFail(Fault::GlobalAlloc, &p_)) {
        p_.fail(err::kNotEnoughMemory);
        return 0;
    }
    detail::MemoryBlock b;
    b.owner = &p_;
    b.size = bytes;
    if (bytes > 0) {
        b.data.reset(new std::byte[bytes]);
        std::memset(b.data.get(), (flags & gmem::kZeroInit) ? 0 : kFreshMemoryPattern, bytes);
    }
    const HGlobal h = w.nextBlock;
    w.nextBlock += 8;
    w.blocks.emplace(h, std::move(b));
    return h;
}

void* SimMemory::lock(HGlobal block) {
    auto* b = find(block);
    if (!b) return nullptr;
    if (b->size == 0) {
        p_.fail(kDiscarded);  // a zero-byte moveable block is born discarded
        return nullptr;
    }
    if (p_.w().shouldFail(Fault::GlobalLock, &p_)) {
        p_.fail(err::kNotEnoughMemory);
        return nullptr;
    }
    ++b->locks;
    return b->data.get();
}

bool SimMemory::unlock(HGlobal block) {
    auto* b = find(block);
    if (!b) return false;
    if (b->locks == 0) {
        p_.fail(kNotLocked);
        return false;
    }
    --b->locks;
    if (b->locks == 0) p_.fail(err::kSuccess);
    return b->locks > 0;
}

bool SimMemory::free(HGlobal block) {
    if (!find(block)) return false;
    p_.w().blocks.erase(block);
    return true;
}

std::size_t SimMemory::size(HGlobal block) {
    auto* b = find(block);
    return b ? b->size : 0;
}

// --- registry ---------------------------------------------------------------------------

namespace {
// "Software\\A\\\\B\\" -> "software\\a\\b"
std::string keyPath(std::string_view key) {
    std::string out;
    std::size_t i = 0;
    while (i < key.size()) {
        while (i < key.size() && key[i] == '\\')
            ++i;
        std::size_t j = i;
        while (j < key.size() && key[j] != '\\')
            ++j;
        if (j > i) {
            if (!out.empty()) out += '\\';
            out += detail::lower(key.substr(i, j - i));
        }
        i = j;
    }
    return out;
}
}  // namespace

ErrorCode SimRegistry::queryValue(RegRoot root, std::string_view key, std::string_view name,
                                  std::size_t bufferBytes, RegValue& out) {
    auto& h = p_.w().hive(root, p_);
    out = RegValue{};
    auto k = h.find(keyPath(key));
    if (k == h.end()) return err::kFileNotFound;
    auto v = k->second.values.find(detail::lower(name));
    if (v == k->second.values.end()) return err::kFileNotFound;
    out.type = v->second.type;
    if (v->second.data.size() > bufferBytes) return err::kMoreData;
    out.data = v->second.data;
    return err::kSuccess;
}

ErrorCode SimRegistry::createKey(RegRoot root, std::string_view key) {
    auto& w = p_.w();
    const std::string path = keyPath(key);
    if (path.empty()) return err::kInvalidParameter;
    if (w.shouldFail(Fault::RegistryCreate, &p_)) return err::kAccessDenied;
    auto& h = w.hive(root, p_);
    // Every key on the way exists afterwards.
    for (std::size_t pos = path.find('\\'); pos != std::string::npos;
         pos = path.find('\\', pos + 1))
        h[path.substr(0, pos)];
    h[path];
    return err::kSuccess;
}

ErrorCode SimRegistry::setValue(RegRoot root, std::string_view key, std::string_view name,
                                RegType type, std::span<const std::byte> data) {
    if (const ErrorCode rc = createKey(root, key); rc != err::kSuccess) return rc;
    auto& w = p_.w();
    if (w.shouldFail(Fault::RegistrySet, &p_)) return err::kAccessDenied;
    auto& k = w.hive(root, p_)[keyPath(key)];
    k.values[detail::lower(name)] =
        RegValue{type, std::vector<std::byte>(data.begin(), data.end())};
    return err::kSuccess;
}

ErrorCode SimRegistry::deleteValue(RegRoot root, std::string_view key, std::string_view name) {
    auto& h = p_.w().hive(root, p_);
    auto k = h.find(keyPath(key));
    if (k == h.end() || k->second.values.erase(detail::lower(name)) == 0) return err::kFileNotFound;
    return err::kSuccess;
}

ErrorCode SimRegistry::deleteTree(RegRoot root, std::string_view key) {
    auto& h = p_.w().hive(root, p_);
    const std::string path = keyPath(key);
    if (path.empty()) return err::kInvalidParameter;
    if (!h.contains(path)) return err::kFileNotFound;
    const std::string below = path + '\\';
    std::erase_if(h, [&](const auto& e) { return e.first == path || e.first.starts_with(below); });
    return err::kSuccess;
}

// --- INI files ----------------------------------------------------------------------------

namespace {
std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

detail::ProfileFile parseProfile(const std::string& text) {
    detail::ProfileFile file;
    // The section the lines belong to; none before the first and in a repeated section.
    std::map<std::string, std::string>* section = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            const auto name = trim(line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            // Only the first section of a name counts.
            auto [it, first] = file.sections.try_emplace(detail::lower(name));
            section = first ? &it->second : nullptr;
            continue;
        }
        if (section == nullptr) continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        section->try_emplace(detail::lower(trim(line.substr(0, eq))),
                             unquote(trim(line.substr(eq + 1))));
    }
    return file;
}

// The file parsed, from the world's cache while the file is unchanged; null when it is no
// regular file or too large for the call.
const detail::ProfileFile* readProfile(World::Impl& w, const std::filesystem::path& native) {
    if (w.inMemory()) {
        // Only the simulation changes such a file: its version number is its stamp.
        const detail::MemoryNode* node = w.memoryNode(native);
        if (!node || node->directory || node->data->bytes.size() > kMaxProfileBytes) return nullptr;
        const std::array<std::int64_t, 7> stamp{static_cast<std::int64_t>(node->data->version)};
        auto& file = w.profiles[native.string()];
        if (file.stamp != stamp || file.stamp[0] == 0) {
            file = parseProfile(std::string(reinterpret_cast<const char*>(node->data->bytes.data()),
                                            node->data->bytes.size()));
            file.stamp = stamp;
        }
        return &file;
    }
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > kMaxProfileBytes) {
        return nullptr;
    }
    const auto ns = [](const timespec& t) {
        return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    const std::array<std::int64_t, 7> stamp{static_cast<std::int64_t>(st.st_dev),
                                            static_cast<std::int64_t>(st.st_ino),
                                            static_cast<std::int64_t>(st.st_size),
                                            ns(st.st_mtim),
                                            ns(st.st_ctim),
                                            static_cast<std::int64_t>(st.st_nlink),
                                            static_cast<std::int64_t>(st.st_mode)};
    const std::string key = native.string();
    if (auto it = w.profiles.find(key); it != w.profiles.end() && it->second.stamp == stamp)
        return &it->second;
    std::ifstream in(native, std::ios::binary);
    if (!in) return nullptr;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto& file = w.profiles[key] = parseProfile(text);
    file.stamp = stamp;
    return &file;
}
}  // namespace

std::string SimProfile::getString(std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::string_view path,
                                  std::size_t bufferChars) {
    std::optional<std::string> value;
    // A file read before at a path spelled as on disk is looked up there first: the stamp's
    // look-up then also says it is still there, and the path need not be resolved again.
    World::Impl& w = p_.w();
    const std::string full = static_cast<SimFiles&>(p_.files()).absolute(path);
    const detail::ProfileFile* file = nullptr;
    if (const auto it = w.exactPaths.find(full); it != w.exactPaths.end())
        file = readProfile(w, it->second);
    if (!file) file = readProfile(w, p_.world().nativePath(full));
    if (file) {
        // The file holds ANSI text, as the "A" call reads it: names are matched and the value
        // is cut in ANSI, and the answer comes back as UTF-8 like every string of the ports.
        if (auto s = file->sections.find(detail::lower(utf8ToAnsi(section)));
            s != file->sections.end()) {
            if (auto v = s->second.find(detail::lower(utf8ToAnsi(key))); v != s->second.end())
                value = v->second;
        }
    }
    if (!value) {
        // The default loses its trailing blanks and one pair of quotes, like a stored value.
        const std::string ansiDefault = utf8ToAnsi(defaultValue);
        std::string_view d = ansiDefault;
        while (!d.empty() && (d.back() == ' ' || d.back() == '\t'))
            d.remove_suffix(1);
        value = std::string(unquote(d));
    }
    if (bufferChars == 0) return {};
    if (value->size() > bufferChars - 1) value->resize(bufferChars - 1);
    return ansiToUtf8(*value);
}

// --- mailslots ----------------------------------------------------------------------------

namespace {
// The local slot a name refers to ("\\.\mailslot\a\b" -> "a\b"), and whether the name was a
// broadcast form ("\\*\mailslot\..." or "\\domain\mailslot\...").
struct SlotName {
    std::string key;
    bool local = false;
};

std::optional<SlotName> parseSlotName(std::string_view name) {
    if (!name.starts_with("\\\\")) return std::nullopt;
    const auto sep = name.find('\\', 2);
    if (sep == std::string_view::npos || sep == 2) return std::nullopt;
    const auto server = name.substr(2, sep - 2);
    const auto rest = name.substr(sep + 1);
    constexpr std::string_view kWord = "mailslot\\";
    if (rest.size() <= kWord.size() || !detail::iequals(rest.substr(0, kWord.size()), kWord))
        return std::nullopt;
    return SlotName{detail::lower(rest.substr(kWord.size())), server == "."};
}
}  // namespace

Handle SimMailslots::createMailslot(std::string_view name, std::uint32_t maxMessageBytes,
                                    std::uint32_t readTimeoutMs) {
    (void)readTimeoutMs;  // reads never wait: time stands still while code runs
    auto& w = p_.w();
    const auto parsed = parseSlotName(name);
    if (!parsed || !parsed->local) {
        p_.fail(kInvalidName);
        return 0;
    }
    if (w.shouldFail(Fault::MailslotCreate, &p_)) {
        p_.fail(err::kAccessDenied);
        return 0;
    }
    if (w.mailslots.contains(parsed->key)) {
        p_.fail(err::kAlreadyExists);
        return 0;
    }
    const Handle h = w.newHandle();
    w.mailslots[parsed->key] = detail::Mailslot{maxMessageBytes, {}, h, 0};
    w.slotHandles[h] = detail::SlotHandle{&p_, parsed->key, true};
    return h;
}

Handle SimMailslots::openMailslot(std::string_view name) {
    auto& w = p_.w();
    const auto parsed = parseSlotName(name);
    if (!parsed) {
        p_.fail(kInvalidName);
        return 0;
    }
    if (w.shouldFail(Fault::MailslotCreate, &p_)) {
        p_.fail(err::kAccessDenied);
        return 0;
    }
    auto it = w.mailslots.find(parsed->key);
    if (it == w.mailslots.end() || it->second.reader == 0) {
        // No reading end: opening fails, as under Wine. A broadcast name reaches only the local
        // slot here (there is no domain), so it fails the same way.
        p_.fail(err::kFileNotFound);
        return 0;
    }
    if (it->second.writers > 0) {
        // Writing ends share with readers only, so a second one is refused while the first
        // is open (ERROR_SHARING_VIOLATION).
        p_.fail(kSharingViolation);
        return 0;
    }
    ++it->second.writers;
    const Handle h = w.newHandle();
    w.slotHandles[h] = detail::SlotHandle{&p_, parsed->key, false};
    return h;
}

bool SimMailslots::write(Handle slot, std::span<const std::byte> message) {
    auto& w = p_.w();
    auto h = w.slotHandles.find(slot);
    if (h == w.slotHandles.end() || h->second.owner != &p_ || h->second.reader) {
        p_.fail(err::kInvalidHandle);
        return false;
    }
    if (w.shouldFail(Fault::MailslotWrite, &p_)) {
        p_.fail(err::kWriteFault);
        return false;
    }
    auto& s = w.mailslots.at(h->second.slot);
    if (s.maxMessage != 0 && message.size() > s.maxMessage) {
        p_.fail(err::kInvalidParameter);
        return false;
    }
    // Once the reading end is gone, writes still succeed and the message is lost.
    if (s.reader != 0) s.messages.emplace_back(message.begin(), message.end());
    return true;
}

std::optional<std::vector<std::byte>> SimMailslots::read(Handle slot) {
    auto& w = p_.w();
    auto h = w.slotHandles.find(slot);
    if (h == w.slotHandles.end() || h->second.owner != &p_ || !h->second.reader) {
        p_.fail(err::kInvalidHandle);
        return std::nullopt;
    }
    auto& s = w.mailslots.at(h->second.slot);
    if (s.messages.empty()) {
        p_.fail(121);  // ERROR_SEM_TIMEOUT, as a read with a zero timeout reports
        return std::nullopt;
    }
    auto m = std::move(s.messages.front());
    s.messages.pop_front();
    return m;
}

bool SimMailslots::close(Handle slot) {
    auto& w = p_.w();
    auto h = w.slotHandles.find(slot);
    if (h == w.slotHandles.end() || h->second.owner != &p_) {
        p_.fail(err::kInvalidHandle);
        return false;
    }
    auto s = w.mailslots.find(h->second.slot);
    if (h->second.reader) {
        s->second.reader = 0;
        s->second.messages.clear();
    } else {
        --s->second.writers;
    }
    // The name stays taken while any end is open.
    if (s->second.reader == 0 && s->second.writers == 0) w.mailslots.erase(s);
    w.slotHandles.erase(h);
    return true;
}

ErrorCode SimMailslots::lastError() {
    return p_.lastError_;
}

}  // namespace quilo::sim
