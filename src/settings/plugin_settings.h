// The settings record PluginSettings, the table of its registry keys, and SettingsStore, which
// finds the plug-in's registry key through plugins.ini and loads and saves the record.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "platform/platform.h"
#include "settings/mod_registry.h"

namespace quilo::settings {

// Every option of the plug-in. Integer fields are 16-bit, Long fields 32-bit; the field names
// are the registry value names.
struct PluginSettings {
    std::int16_t Visible = 0;
    std::int16_t Verbose = 0;
    std::int16_t AutoStart = 0;
    std::int16_t NoPreview = 0;  // 0 preview with selection, 1 import at once, 2 with progress
    std::int16_t BitDepth = 8;
    std::int16_t CloseDone = 0;
    std::string CurrentParamSet;
    std::int32_t CurrentParamSetNr = 0;
    bool Invert = true;
    std::int32_t IntraMappingType = 0;
    std::int32_t IntraLimitLow = 10000;
    std::int32_t IntraLimitHigh = 10000;
    std::int32_t PanoMappingType = 0;
    std::int32_t PanoLimitLow = 10000;
    std::int32_t PanoLimitHigh = 100000;
    std::int32_t CephMappingType = 0;
    std::int32_t CephLimitLow = 10000;
    std::int32_t CephLimitHigh = 100000;
    std::int32_t CephLeadNRLevel = 2;
    std::int32_t CephLeadCutoff = 1;
    std::int32_t CephLeadStretch = 1;
    std::int32_t CephLeadLow = 400;
    std::int32_t CephLeadHigh = 0;
    std::int32_t CephLeadLowAbs = 40000;
    std::int32_t CephLeadHighAbs = 65535;
    std::int32_t PanoLeadNRLevel = 2;
    std::int32_t PanoLeadCutoff = 1;
    std::int32_t PanoLeadStretch = 1;
    std::int32_t PanoLeadLow = 300;
    std::int32_t PanoLeadHigh = 0;
    std::int32_t PanoLeadLowAbs = 20000;
    std::int32_t PanoLeadHighAbs = 65535;
    std::int32_t IntraLeadNRLevel = 2;
    std::int32_t IntraLeadCutoff = 1;
    std::int32_t IntraLeadStretch = 1;
    std::int32_t IntraLeadLow = 0;
    std::int32_t IntraLeadHigh = 0;
    std::int32_t IntraLeadLowAbs = 0;
    std::int32_t IntraLeadHighAbs = 65535;
    std::int32_t ImageEnhancement = 3;  // 0 none, 1 alternate, 2 standard, 3 host's component
    std::int32_t Left = 0;              // section "Position"
    std::int32_t Top = 0;               // section "Position"
    bool SavePreview = true;

    friend bool operator==(const PluginSettings&, const PluginSettings&) = default;
};

inline constexpr std::string_view kOptionsSection = "Options";
inline constexpr std::string_view kPositionSection = "Position";
inline constexpr std::string_view kDevicesSection = "Devices";

enum class Scope : std::uint8_t { User, Machine };

// How a stored text becomes a field's value.
enum class ReadRule : std::uint8_t {
    OneOrZero,        // 1 when the text is "1", else 0
    NotReadBack,      // not read: 0 after every load
    Numeric,          // the leading number, rounded; the default when the text is empty
    BitDepth,         // the leading number, rounded; 0 becomes 8
    Text,             // the text as stored
    FalseOnlyIfZero,  // false only for "0"
    TrueOnlyIfOne,    // true for "1", false for other text, the default (true) when empty
    Level,            // noise-reduction level 0..15, with the legacy "...LeadNR" key
    Enhancement,      // a number when the text is one, else from the legacy "OptimizeGray"
};

using SettingField = std::variant<std::int16_t PluginSettings::*, std::int32_t PluginSettings::*,
                                  bool PluginSettings::*, std::string PluginSettings::*>;

struct SettingKey {
    std::string_view name;
    std::string_view section;
    Scope scope;
    ReadRule rule;
    SettingField field;
    std::int32_t defaultValue;  // for numbers and Booleans (1 = true)
};

// The record's keys in the order LoadSetup reads them.
std::span<const SettingKey> settingKeys();
// The keys in the order SaveSetup writes them.
std::span<const std::string_view> saveOrder();
// The key of that name, or null.
const SettingKey* findSettingKey(std::string_view name);

// Reads one stored setting: (section, value name, per user) -> text, empty when absent.
using SettingReader =
    std::function<std::string(std::string_view section, std::string_view name, bool perUser)>;
// Writes one setting: (section, value name, text, per user).
using SettingWriter = std::function<void(std::string_view section, std::string_view name,
                                         std::string_view text, bool perUser)>;

// The type of image a parameter-set name stands for: "INTRA" 0, then "CEPH" 1, then "PAN" 2
// (a later match wins); `current` when the name contains none of them.
std::int32_t imageTypeFromParamSetName(std::string_view name, std::int32_t current);

// Reads the whole record in table order with its reading rules. `currentImageType` is derived
// from CurrentParamSet once the last Intra key has been read. An exception from `read` ends the
// reading where it stands.
void readPluginSettings(PluginSettings& record, std::int32_t& currentImageType,
                        const SettingReader& read);
// Writes the record in SaveSetup's order: numbers as decimal text, Booleans as "1" or "0".
void writePluginSettings(const PluginSettings& record, const SettingWriter& write);

// The names LoadSetup derives before it reads any setting.
struct SetupNames {
    std::string IniPath;
    std::string Company;  // after the former company name was replaced
    std::string HostApp;
    std::string HostKeyBase;
    std::string RegistryBase;
    std::string PluginShortName;
    std::string PluginDataFolder;
    std::string Language;
};

inline constexpr std::string_view kDefaultCompany = "Kelvora AB";
inline constexpr std::string_view kFormerCompany = "Torvik data AB";
inline constexpr std::string_view kDefaultHostApp = "Kelvora 3";
inline constexpr std::string_view kDefaultLanguage = "English";

// The product name in upper case with every "PLUGIN" removed, trimmed ("QUILO").
std::string pluginShortName(std::string_view productName);

// The settings module: the record in memory, the derived names, and their persistence.
class SettingsStore {
  public:
    SettingsStore(platform::Registry& registry, platform::Profile& profile, platform::Files& files,
                  platform::Process& process);
    explicit SettingsStore(platform::Platform& p)
        : SettingsStore(p.registry(), p.profile(), p.files(), p.process()) {}

    // Visible = 1, AutoStart = 1, NoPreview = 0; called just before the first LoadSetup.
    void SetDefaultOptions();
    // Derives the names, creates the data folder when missing and reads the record. Throws
    // quilo::RuntimeError when the data folder cannot be created; the record is then left as
    // far as it was read.
    void LoadSetup();
    // Writes the record; a fault stops it and is shown in a message box.
    void SaveSetup();
    bool PluginIsVisible() const { return settings_.Visible == 1; }

    PluginSettings& settings() { return settings_; }
    const PluginSettings& settings() const { return settings_; }
    SetupNames& names() { return names_; }
    const SetupNames& names() const { return names_; }
    // The type of the images the chosen parameter set takes (0 intraoral, 1 cephalometric,
    // 2 panoramic); shared with the scanner connection, which also sets it.
    std::int32_t& CurrentImageType() { return currentImageType_; }
    modRegistry& registry() { return registry_; }

  private:
    modRegistry registry_;
    platform::Files& files_;
    platform::Process& process_;
    PluginSettings settings_;
    SetupNames names_;
    std::int32_t currentImageType_ = 0;
};

}  // namespace quilo::settings
