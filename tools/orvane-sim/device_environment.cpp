#include "orvane-sim/device_environment.h"

#include <algorithm>

namespace quilo::orvanesim {

namespace {

class PlatformEnvironment final : public DeviceEnvironment {
  public:
    explicit PlatformEnvironment(platform::Platform& p) : p_(p) {}
    std::uint32_t tickCount() override { return p_.clock().tickCount(); }
    platform::GlobalMemory& memory() override { return p_.memory(); }
    std::string iniString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::string_view path) override {
        return p_.profile().getString(section, key, defaultValue, path, 256);
    }
    std::optional<std::vector<std::byte>> readFile(std::string_view path,
                                                   std::size_t maxBytes) override {
        return platform::readWholeFile(p_.files(), path, maxBytes);
    }
    std::vector<std::string> listFiles(std::string_view folder, std::string_view pattern) override {
        auto names = p_.files().list(folder, pattern);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string defaultIniPath() override {
        return platform::joinPath(p_.files().programFolder(), "OrvaneEx.ini");
    }

  private:
    platform::Platform& p_;
};

}  // namespace

std::unique_ptr<DeviceEnvironment> makePlatformEnvironment(platform::Platform& platform) {
    return std::make_unique<PlatformEnvironment>(platform);
}

}  // namespace quilo::orvanesim
