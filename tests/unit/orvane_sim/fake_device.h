// The simulated scanner's machine for tests: a clock the test moves, global memory that counts
// its blocks, and files (the INI file, feed plates) held in memory.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "orvane-sim/device_environment.h"

namespace quilo::orvanesim::testing {

class CountingMemory final : public platform::GlobalMemory {
  public:
    std::map<platform::HGlobal, std::vector<std::byte>> blocks;
    platform::HGlobal next = 0x100;
    bool failAlloc = false;

    platform::HGlobal alloc(std::uint32_t, std::size_t bytes) override {
        if (failAlloc) return 0;
        blocks[next] = std::vector<std::byte>(bytes);
        return next++;
    }
    void* lock(platform::HGlobal b) override {
        auto it = blocks.find(b);
        return it == blocks.end() ? nullptr : it->second.data();
    }
    bool unlock(platform::HGlobal) override { return false; }
    bool free(platform::HGlobal b) override { return blocks.erase(b) != 0; }
    std::size_t size(platform::HGlobal b) override {
        auto it = blocks.find(b);
        return it == blocks.end() ? 0 : it->second.size();
    }
};

struct DeviceState {
    std::uint32_t tick = 10000;
    CountingMemory memory;
    std::map<std::string, std::string> files;  // path -> content
    std::string iniPath = "C:\\Quilo\\OrvaneEx.ini";
};

// Reads a value the way GetPrivateProfileString does: sections and keys without regard to
// case, blanks around the value removed, one pair of quotes removed, at most 255 characters.
inline std::string profileValue(const std::string& text, std::string_view section,
                                std::string_view key, std::string_view def) {
    auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    auto trim = [](std::string s) {
        const auto a = s.find_first_not_of(" \t\r");
        if (a == std::string::npos) return std::string();
        return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
    };
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            current = line.substr(
                1, line.find(']') == std::string::npos ? std::string::npos : line.find(']') - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || !same(current, section)) continue;
        if (!same(trim(line.substr(0, eq)), key)) continue;
        std::string v = trim(line.substr(eq + 1));
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        return v.substr(0, 255);
    }
    return std::string(def.substr(0, 255));
}

class FakeDevice final : public DeviceEnvironment {
  public:
    explicit FakeDevice(DeviceState& s) : s_(s) {}
    std::uint32_t tickCount() override { return s_.tick; }
    platform::GlobalMemory& memory() override { return s_.memory; }
    std::string iniString(std::string_view section, std::string_view key, std::string_view def,
                          std::string_view path) override {
        auto it = s_.files.find(std::string(path));
        if (it == s_.files.end()) return std::string(def);
        return profileValue(it->second, section, key, def);
    }
    std::optional<std::vector<std::byte>> readFile(std::string_view path,
                                                   std::size_t maxBytes) override {
        auto it = s_.files.find(std::string(path));
        if (it == s_.files.end() || it->second.size() > maxBytes) return std::nullopt;
        std::vector<std::byte> out(it->second.size());
        std::memcpy(out.data(), it->second.data(), out.size());
        return out;
    }
    std::vector<std::string> listFiles(std::string_view folder, std::string_view) override {
        std::vector<std::string> names;
        const std::string prefix = std::string(folder) + "\\";
        for (const auto& [path, content] : s_.files) {
            if (path.rfind(prefix, 0) != 0) continue;
            const std::string name = path.substr(prefix.size());
            if (name.find(".tif") != std::string::npos) names.push_back(name);
        }
        return names;
    }
    std::string defaultIniPath() override { return s_.iniPath; }

  private:
    DeviceState& s_;
};

}  // namespace quilo::orvanesim::testing
