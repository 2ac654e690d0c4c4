#include "orvane-sim/sim_config.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace quilo::orvanesim {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::int64_t toInt(const std::string& text, std::int64_t fallback) {
    std::string_view s(text);
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    std::int64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p != s.data() ? v : fallback;
}

// A size in millimetres, possibly with one decimal ("30.5"), as tenths of a millimetre.
int toMm10(const std::string& text, int fallback) {
    const auto dot = text.find('.');
    const std::int64_t whole = toInt(text.substr(0, dot), -1);
    if (whole < 0) return fallback;
    std::int64_t tenth = 0;
    if (dot != std::string::npos && dot + 1 < text.size() &&
        std::isdigit(static_cast<unsigned char>(text[dot + 1]))) {
        tenth = text[dot + 1] - '0';
    }
    // 500 mm and more are all the largest size; a larger number would overflow the scaling.
    return static_cast<int>(
        std::clamp<std::int64_t>(std::min<std::int64_t>(whole, 500) * 10 + tenth, 10, 5000));
}

ParameterSet builtinSet(int n) {
    switch (n) {
        case 1:
            return {"Intraoral size 2", PlateKind::Intraoral, 310, 410, 25000, false};
        case 2:
            return {"Intraoral size 2 PERIO", PlateKind::Intraoral, 310, 410, 25000, false};
        case 3:
            return {"Panoramic 15x30", PlateKind::Panoramic, 3000, 1500, 100000, false};
        default:
            return {"Cephalometric 24x30", PlateKind::Cephalometric, 3000, 2400, 100000, false};
    }
}

PlateKind kindFrom(const std::string& text, const std::string& name) {
    const std::string k = lower(text.empty() ? name : text);
    if (k.find("pan") != std::string::npos) return PlateKind::Panoramic;
    if (k.find("ceph") != std::string::npos) return PlateKind::Cephalometric;
    return PlateKind::Intraoral;
}

}  // namespace

int ParameterSet::widthPx() const {
    return std::max(1, static_cast<int>(std::int64_t{widthMm10} * 100000 / pitchNm));
}
int ParameterSet::heightPx() const {
    return std::max(1, static_cast<int>(std::int64_t{heightMm10} * 100000 / pitchNm));
}

std::vector<std::int32_t> parseResultList(const std::string& text) {
    std::vector<std::int32_t> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::int64_t v = toInt(item, INT64_MIN);
        if (v != INT64_MIN && v >= INT32_MIN && v <= INT32_MAX) {
            out.push_back(static_cast<std::int32_t>(v));
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

std::vector<CallFault> parseCallFaults(const std::string& text) {
    std::vector<CallFault> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto comma = std::min(text.find(',', start), text.size());
        std::string item = text.substr(start, comma - start);
        start = comma + 1;
        item.erase(0, item.find_first_not_of(' '));
        const auto first = item.find(':');
        const auto second = first == std::string::npos ? first : item.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::int64_t nth = toInt(item.substr(first + 1, second - first - 1), 0);
        const std::int64_t result = toInt(item.substr(second + 1), INT64_MIN);
        if (first == 0 || nth < 1 || nth > INT32_MAX || result < INT32_MIN || result > INT32_MAX)
            continue;
        out.push_back(
            {item.substr(0, first), static_cast<int>(nth), static_cast<std::int32_t>(result)});
    }
    return out;
}

SimConfig readConfig(DeviceEnvironment& env, const std::string& path) {
    SimConfig c;
    auto s = [&](const char* section, const char* key, const char* def) {
        return env.iniString(section, key, def, path);
    };
    auto i = [&](const char* section, const char* key, std::int64_t def, std::int64_t lo,
                 std::int64_t hi) {
        return std::clamp<std::int64_t>(toInt(s(section, key, ""), def), lo, hi);
    };

    c.maker = s("Scanner", "Maker", "Stellan Inc.");
    c.model = s("Scanner", "Model", "Quilo");
    c.serial = s("Scanner", "Serial", "QS-2026-0417");
    c.driverVersion = s("Scanner", "DriverVersion", "4.2.0 simulated");
    const int count = static_cast<int>(i("Scanner", "ParamCount", 4, 0, 64));
    for (int n = 1; n <= count; ++n) {
        const std::string section = "Param" + std::to_string(n);
        const ParameterSet def = builtinSet(n <= 4 ? n : 1);
        ParameterSet set;
        set.name = env.iniString(section, "Name", n <= 4 ? def.name : section, path);
        set.kind = kindFrom(env.iniString(section, "Kind", "", path), set.name);
        set.widthMm10 =
            toMm10(env.iniString(section, "WidthMM", "", path), n <= 4 ? def.widthMm10 : 310);
        set.heightMm10 =
            toMm10(env.iniString(section, "HeightMM", "", path), n <= 4 ? def.heightMm10 : 410);
        // Clamped before the scaling, which would overflow for a huge value.
        set.pitchNm =
            static_cast<int>(std::clamp<std::int64_t>(
                                 toInt(env.iniString(section, "PitchUM", "", path), -1), -1, 1000) *
                             1000);
        if (set.pitchNm <= 0) set.pitchNm = n <= 4 ? def.pitchNm : 25000;
        set.pitchNm = std::max(set.pitchNm, 5000);
        set.unreadable = toInt(env.iniString(section, "Unreadable", "", path), 0) != 0;
        c.sets.push_back(set);
    }

    c.feedFolder = s("Behaviour", "FeedFolder", "");
    c.phantomSeed = static_cast<std::uint64_t>(i("Behaviour", "PhantomSeed", 1, 0, INT32_MAX));
    c.autoPlates = static_cast<int>(i("Behaviour", "Plates", 0, 0, 1000));
    c.firstPlateMs = static_cast<int>(i("Behaviour", "FirstPlateMs", 3000, 0, 3600000));
    c.plateIntervalMs = static_cast<int>(i("Behaviour", "PlateIntervalMs", 15000, 0, 3600000));
    c.transportStartMs = static_cast<int>(i("Behaviour", "TransportStartMs", 500, 0, 600000));
    c.readMs = static_cast<int>(i("Behaviour", "ReadMs", 4000, 1, 600000));
    c.ejectMs = static_cast<int>(i("Behaviour", "EjectMs", 800, 0, 600000));
    c.previewLines = static_cast<int>(i("Behaviour", "PreviewLines", 64, 1, 100000));
    c.previewWidth = static_cast<int>(i("Behaviour", "PreviewWidth", 256, 8, 4096));

    auto result = [&](const char* key, std::int32_t def) {
        return static_cast<std::int32_t>(i("Faults", key, def, INT32_MIN, INT32_MAX));
    };
    c.initDll = result("InitDll", 0);
    c.iniFileName = result("IniFileName", 0);
    c.openResults = parseResultList(s("Faults", "Open", ""));
    c.activateResults = parseResultList(s("Faults", "Activate", ""));
    c.statusFaultPlate = static_cast<int>(i("Faults", "StatusPlate", 0, 0, INT32_MAX));
    c.statusFaultCode = result("StatusCode", -200);
    c.statusFaultCalls = static_cast<int>(i("Faults", "StatusCalls", 1, 0, INT32_MAX));
    c.infoFaultPlate = static_cast<int>(i("Faults", "ImageInfoPlate", 0, 0, INT32_MAX));
    c.infoFaultResult = result("ImageInfoResult", -1);
    c.infoFaultCalls = static_cast<int>(i("Faults", "ImageInfoCalls", 1, 0, INT32_MAX));
    c.rawFaultPlate = static_cast<int>(i("Faults", "RawImagePlate", 0, 0, INT32_MAX));
    c.rawFaultResult = result("RawImageResult", -90);
    c.rawFaultCalls = static_cast<int>(i("Faults", "RawImageCalls", 1, 0, INT32_MAX));
    c.serialResult = result("Serial", 0);
    c.callFaults = parseCallFaults(s("Faults", "FailCall", ""));
    return c;
}

}  // namespace quilo::orvanesim
