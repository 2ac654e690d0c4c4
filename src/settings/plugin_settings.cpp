#include "settings/plugin_settings.h"

#include <algorithm>
#include <new>

#include "core/error.h"
#include "core/text.h"
#include "core/value_text.h"

namespace quilo::settings {

namespace {

using P = PluginSettings;
constexpr Scope kUser = Scope::User;
constexpr Scope kMachine = Scope::Machine;
constexpr std::string_view kOpt = kOptionsSection;
constexpr std::string_view kPos = kPositionSection;

// clang-format off
const SettingKey kKeys[] = {
    {"Visible",           kOpt, kUser,    ReadRule::OneOrZero,       &P::Visible,           0},
    {"Verbose",           kOpt, kUser,    ReadRule::OneOrZero,       &P::Verbose,           0},
    {"AutoStart",         kOpt, kMachine, ReadRule::NotReadBack,     &P::AutoStart,         0},
    {"NoPreview",         kOpt, kMachine, ReadRule::Numeric,         &P::NoPreview,         0},
    {"BitDepth",          kOpt, kMachine, ReadRule::BitDepth,        &P::BitDepth,          8},
    {"CloseDone",         kOpt, kMachine, ReadRule::Numeric,         &P::CloseDone,         0},
    {"CurrentParamSet",   kOpt, kUser,    ReadRule::Text,            &P::CurrentParamSet,   0},
    {"CurrentParamSetNr", kOpt, kUser,    ReadRule::Numeric,         &P::CurrentParamSetNr, 0},
    {"Invert",            kOpt, kMachine, ReadRule::FalseOnlyIfZero, &P::Invert,            1},
    {"IntraMappingType",  kOpt, kMachine, ReadRule::Numeric,         &P::IntraMappingType,  0},
    {"IntraLimitLow",     kOpt, kMachine, ReadRule::Numeric,         &P::IntraLimitLow,     10000},
    {"IntraLimitHigh",    kOpt, kMachine, ReadRule::Numeric,         &P::IntraLimitHigh,    10000},
    {"PanoMappingType",   kOpt, kMachine, ReadRule::Numeric,         &P::PanoMappingType,   0},
    {"PanoLimitLow",      kOpt, kMachine, ReadRule::Numeric,         &P::PanoLimitLow,      10000},
    {"PanoLimitHigh",     kOpt, kMachine, ReadRule::Numeric,         &P::PanoLimitHigh,     100000},
    {"CephMappingType",   kOpt, kMachine, ReadRule::Numeric,         &P::CephMappingType,   0},
    {"CephLimitLow",      kOpt, kMachine, ReadRule::Numeric,         &P::CephLimitLow,      10000},
    {"CephLimitHigh",     kOpt, kMachine, ReadRule::Numeric,         &P::CephLimitHigh,     100000},
    {"CephLeadNRLevel",   kOpt, kMachine, ReadRule::Level,           &P::CephLeadNRLevel,   2},
    {"CephLeadCutoff",    kOpt, kMachine, ReadRule::Numeric,         &P::CephLeadCutoff,    1},
    {"CephLeadStretch",   kOpt, kMachine, ReadRule::Numeric,         &P::CephLeadStretch,   1},
    {"CephLeadLow",       kOpt, kMachine, ReadRule::Numeric,         &P::CephLeadLow,       400},
    {"CephLeadHigh",      kOpt, kMachine, ReadRule::Numeric,         &P::CephLeadHigh,      0},
    {"CephLeadLowAbs",    kOpt, kMachine, ReadRule::Numeric,         &P::CephLeadLowAbs,    40000},
    {"CephLeadHighAbs",   kOpt, kMachine, ReadRule::Numeric,         &P::CephLeadHighAbs,   65535},
    {"PanoLeadNRLevel",   kOpt, kMachine, ReadRule::Level,           &P::PanoLeadNRLevel,   2},
    {"PanoLeadCutoff",    kOpt, kMachine, ReadRule::Numeric,         &P::PanoLeadCutoff,    1},
    {"PanoLeadStretch",   kOpt, kMachine, ReadRule::Numeric,         &P::PanoLeadStretch,   1},
    {"PanoLeadLow",       kOpt, kMachine, ReadRule::Numeric,         &P::PanoLeadLow,       300},
    {"PanoLeadHigh",      kOpt, kMachine, ReadRule::Numeric,         &P::PanoLeadHigh,      0},
    {"PanoLeadLowAbs",    kOpt, kMachine, ReadRule::Numeric,         &P::PanoLeadLowAbs,    20000},
    {"PanoLeadHighAbs",   kOpt, kMachine, ReadRule::Numeric,         &P::PanoLeadHighAbs,   65535},
    {"IntraLeadNRLevel",  kOpt, kMachine, ReadRule::Level,           &P::IntraLeadNRLevel,  2},
    {"IntraLeadCutoff",   kOpt, kMachine, ReadRule::Numeric,         &P::IntraLeadCutoff,   1},
    {"IntraLeadStretch",  kOpt, kMachine, ReadRule::Numeric,         &P::IntraLeadStretch,  1},
    {"IntraLeadLow",      kOpt, kMachine, ReadRule::Numeric,         &P::IntraLeadLow,      0},
    {"IntraLeadHigh",     kOpt, kMachine, ReadRule::Numeric,         &P::IntraLeadHigh,     0},
    {"IntraLeadLowAbs",   kOpt, kMachine, ReadRule::Numeric,         &P::IntraLeadLowAbs,   0},
    {"IntraLeadHighAbs",  kOpt, kMachine, ReadRule::Numeric,         &P::IntraLeadHighAbs,  65535},
    {"ImageEnhancement",  kOpt, kMachine, ReadRule::Enhancement,     &P::ImageEnhancement,  3},
    {"Left",              kPos, kUser,    ReadRule::Numeric,         &P::Left,              0},
    {"Top",               kPos, kUser,    ReadRule::Numeric,         &P::Top,               0},
    {"SavePreview",       kOpt, kMachine, ReadRule::TrueOnlyIfOne,   &P::SavePreview,       1},
};

const std::string_view kSaveOrder[] = {
    "AutoStart", "Verbose", "Visible", "NoPreview", "BitDepth", "CloseDone",
    "ImageEnhancement", "Invert",
    "IntraMappingType", "IntraLimitLow", "IntraLimitHigh",
    "IntraLeadCutoff", "IntraLeadLowAbs", "IntraLeadHighAbs",
    "PanoMappingType", "PanoLimitLow", "PanoLimitHigh",
    "PanoLeadCutoff", "PanoLeadLowAbs", "PanoLeadHighAbs",
    "CephMappingType", "CephLimitLow", "CephLimitHigh",
    "CephLeadCutoff", "CephLeadLowAbs", "CephLeadHighAbs",
    "CephLeadLow", "CephLeadHigh", "PanoLeadLow", "PanoLeadHigh", "IntraLeadLow", "IntraLeadHigh",
    "IntraLeadNRLevel", "PanoLeadNRLevel", "CephLeadNRLevel",
    "IntraLeadStretch", "PanoLeadStretch", "CephLeadStretch",
    "Left", "Top", "CurrentParamSet", "CurrentParamSetNr", "SavePreview",
};
// clang-format on

// The last key before CurrentImageType is derived.
constexpr std::string_view kLastIntraKey = "IntraLeadHighAbs";

bool isPerUser(const SettingKey& key) {
    return key.scope == Scope::User;
}

// Noise-reduction level: a stored level 0..15 counts; another stored value gives 2; nothing
// stored asks the older on/off key ("1" on at level 2, "0" off).
double levelValue(const SettingKey& key, const std::string& text, const SettingReader& read) {
    if (!text.empty()) {
        // The range applies to the level as it is kept (a whole number), so "-.5" or "15.7"
        // cannot slip in as -1 or 16 through the rounding.
        const std::int32_t v = roundToInt32(leadingNumber(text));
        return (v >= 0 && v <= 15) ? v : 2;
    }
    std::string legacyName(key.name);
    legacyName.erase(legacyName.rfind("Level"));
    const std::string legacy = read(key.section, legacyName, isPerUser(key));
    if (legacy == "0") return 0;
    return 2;  // "1" and everything else, absent included
}

// Image enhancement: a stored number counts; otherwise the older "OptimizeGray" flag chooses
// the standard enhancement (2) when "1", else the host's component (3).
double enhancementValue(const SettingKey& key, const std::string& text, const SettingReader& read) {
    if (isNumeric(text)) return leadingNumber(text);
    const std::string legacy = read(key.section, "OptimizeGray", isPerUser(key));
    return legacy == "1" ? 2 : 3;
}

template <typename... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

void readOne(PluginSettings& record, const SettingKey& key, const SettingReader& read) {
    if (key.rule == ReadRule::NotReadBack) {
        std::visit(Overloaded{[&](std::int16_t P::*f) { record.*f = 0; },
                              [&](std::int32_t P::*f) { record.*f = 0; },
                              [&](bool P::*f) { record.*f = false; },
                              [&](std::string P::*f) { (record.*f).clear(); }},
                   key.field);
        return;
    }
    const std::string text = read(key.section, key.name, isPerUser(key));
    double number = 0;
    bool flag = false;
    switch (key.rule) {
        case ReadRule::OneOrZero:
            number = text == "1" ? 1 : 0;
            break;
        case ReadRule::Numeric:
            number = text.empty() ? key.defaultValue : leadingNumber(text);
            break;
        case ReadRule::BitDepth:
            number = leadingNumber(text);
            if (roundToInt16(number) == 0) number = 8;
            break;
        case ReadRule::FalseOnlyIfZero:
            flag = text != "0";
            break;
        case ReadRule::TrueOnlyIfOne:
            flag = text.empty() ? key.defaultValue != 0 : text == "1";
            break;
        case ReadRule::Level:
            number = levelValue(key, text, read);
            break;
        case ReadRule::Enhancement:
            number = enhancementValue(key, text, read);
            break;
        case ReadRule::Text:
        case ReadRule::NotReadBack:
            break;
    }
    std::visit(Overloaded{[&](std::int16_t P::*f) { record.*f = roundToInt16(number); },
                          [&](std::int32_t P::*f) { record.*f = roundToInt32(number); },
                          [&](bool P::*f) { record.*f = flag; },
                          [&](std::string P::*f) { record.*f = text; }},
               key.field);
}

std::string fieldText(const PluginSettings& record, const SettingKey& key) {
    return std::visit(Overloaded{[&](std::int16_t P::*f) { return std::to_string(record.*f); },
                                 [&](std::int32_t P::*f) { return std::to_string(record.*f); },
                                 [&](bool P::*f) { return std::string(record.*f ? "1" : "0"); },
                                 [&](std::string P::*f) { return record.*f; }},
                      key.field);
}

std::string trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

// The folder above the program's folder; a drive root is its own parent.
std::string parentFolder(std::string_view folder) {
    while (!folder.empty() && folder.back() == '\\')
        folder.remove_suffix(1);
    const auto slash = folder.rfind('\\');
    if (slash == std::string_view::npos) return std::string(folder);
    return std::string(folder.substr(0, slash));
}

}  // namespace

std::span<const SettingKey> settingKeys() {
    return kKeys;
}
std::span<const std::string_view> saveOrder() {
    return kSaveOrder;
}

const SettingKey* findSettingKey(std::string_view name) {
    for (const auto& key : kKeys) {
        if (key.name == name) return &key;
    }
    return nullptr;
}

std::int32_t imageTypeFromParamSetName(std::string_view name, std::int32_t current) {
    const std::string u = upper(name);
    std::int32_t type = current;
    if (u.find("INTRA") != std::string::npos) type = 0;
    if (u.find("CEPH") != std::string::npos) type = 1;
    if (u.find("PAN") != std::string::npos) type = 2;
    return type;
}

void readPluginSettings(PluginSettings& record, std::int32_t& currentImageType,
                        const SettingReader& read) {
    for (const auto& key : kKeys) {
        readOne(record, key, read);
        if (key.name == kLastIntraKey)
            currentImageType = imageTypeFromParamSetName(record.CurrentParamSet, currentImageType);
    }
}

void writePluginSettings(const PluginSettings& record, const SettingWriter& write) {
    for (std::string_view name : kSaveOrder) {
        const SettingKey* key = findSettingKey(name);
        write(key->section, key->name, fieldText(record, *key), isPerUser(*key));
    }
}

std::string pluginShortName(std::string_view productName) {
    return trimBlanks(replaceAll(upper(productName), "PLUGIN", ""));
}

SettingsStore::SettingsStore(platform::Registry& registry, platform::Profile& profile,
                             platform::Files& files, platform::Process& process)
    : registry_(registry, profile), files_(files), process_(process) {}

void SettingsStore::SetDefaultOptions() {
    settings_.Visible = 1;
    settings_.AutoStart = 1;
    settings_.NoPreview = 0;
}

void SettingsStore::LoadSetup() {
    const std::string productName = process_.version().productName;

    names_.IniPath = parentFolder(files_.programFolder()) + "\\plugins.ini";
    names_.Company = registry_.ReadIniString("Settings", "Company", names_.IniPath);
    if (names_.Company.empty()) names_.Company = kDefaultCompany;
    names_.HostApp = registry_.ReadIniString("Settings", "HostApp", names_.IniPath);
    if (names_.HostApp.empty()) names_.HostApp = kDefaultHostApp;

    // The per-user application data folder stands for the folder service's base folder.
    names_.PluginShortName = pluginShortName(productName);
    names_.PluginDataFolder = platform::joinPath(files_.userDataFolder(), names_.PluginShortName);
    if (!files_.isDirectory(names_.PluginDataFolder) &&
        !files_.createDirectories(names_.PluginDataFolder)) {
        throw RuntimeError(76, "Path not found: " + names_.PluginDataFolder,
                           "SettingsStore.LoadSetup");
    }

    names_.HostKeyBase = "SOFTWARE\\" + names_.Company + "\\" + names_.HostApp;
    names_.Language = registry_.ReadRegSettingUnder(names_.HostKeyBase, "Preferrences", "Language");
    if (names_.Language.empty()) names_.Language = kDefaultLanguage;

    names_.RegistryBase = "SOFTWARE\\" + names_.Company + "\\Plugins\\" + productName;
    registry_.setRegistryBase(names_.RegistryBase);
    // Registry paths keep the name as read; what people see is the company's current name.
    names_.Company = replaceAll(names_.Company, kFormerCompany, kDefaultCompany);

    readPluginSettings(settings_, currentImageType_,
                       [this](std::string_view section, std::string_view name, bool perUser) {
                           return registry_.ReadRegSetting(section, name, perUser);
                       });
}

void SettingsStore::SaveSetup() {
    long number = 0;
    std::string description;
    try {
        writePluginSettings(settings_, [this](std::string_view section, std::string_view name,
                                              std::string_view text, bool perUser) {
            registry_.WriteRegSetting(section, name, text, perUser);
        });
        return;
    } catch (...) {
        const RuntimeError e = currentError("SettingsStore");
        number = e.number();
        description = e.description();
    }
    process_.messageBox(0, "SaveSetup error: " + std::to_string(number) + "\r\n" + description,
                        process_.version().title, platform::mb::kOk);
}

}  // namespace quilo::settings
