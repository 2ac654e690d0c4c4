// Reading and writing the settings record through its key table, without a registry: a map of
// stored texts stands in for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "settings/plugin_settings.h"

namespace quilo::settings {
namespace {

struct Stored {
    std::map<std::string, std::string> texts;  // "Section/Name" -> text
    std::vector<std::tuple<std::string, std::string, bool>> reads;

    SettingReader reader() {
        return [this](std::string_view section, std::string_view name, bool perUser) {
            reads.emplace_back(std::string(section), std::string(name), perUser);
            auto it = texts.find(std::string(section) + "/" + std::string(name));
            return it == texts.end() ? std::string() : it->second;
        };
    }
};

PluginSettings load(Stored& stored, std::int32_t imageType = 0) {
    PluginSettings record;
    readPluginSettings(record, imageType, stored.reader());
    return record;
}

PluginSettings loadOne(const std::string& name, const std::string& text) {
    Stored stored;
    stored.texts["Options/" + name] = text;
    return load(stored);
}

TEST(RecordRead, EmptyRegistryGivesTheDefaults) {
    Stored stored;
    EXPECT_EQ(load(stored), PluginSettings{});
}

// Stored texts under a key and the field each gives: the reading rules of each kind of key.
// Noise-reduction levels: a fraction counts as the whole level it rounds to, text that is no
// number as 0; the older key ("...LeadNR") gives 0 or the default. A non-zero default applies
// only to an empty text; 16-bit fields are held at their ends.
TEST(RecordRead, EachKeyReadsItsTextByItsRule) {
    using S = PluginSettings;
    using Field = std::variant<std::int16_t S::*, std::int32_t S::*, bool S::*>;
    const struct {
        const char* name;
        Field field;
        std::vector<std::pair<const char*, std::int64_t>> texts;
    } table[] = {
        {"Visible", &S::Visible, {{"1", 1}, {"-1", 0}, {"2", 0}}},
        {"Verbose", &S::Verbose, {{"1", 1}, {" 1", 0}}},
        {"BitDepth", &S::BitDepth, {{"0", 8}, {"", 8}, {"junk", 8}, {"12", 12}, {"16bit", 16}}},
        {"IntraLeadNRLevel", &S::IntraLeadNRLevel, {{"15", 15}, {"0", 0}, {"16", 2}, {"-1", 2}}},
        {"IntraLeadNRLevel", &S::IntraLeadNRLevel, {{"-.55", 2}, {"15.7", 2}, {"-0.4", 0}}},
        {"IntraLeadNRLevel", &S::IntraLeadNRLevel, {{"14.6", 15}, {"abc", 0}}},
        {"IntraLeadNR", &S::IntraLeadNRLevel, {{"0", 0}, {"1", 2}, {"7", 2}}},
        {"CephLeadNR", &S::CephLeadNRLevel, {{"0", 0}}},
        {"PanoLeadNR", &S::PanoLeadNRLevel, {{"0", 0}}},
        {"ImageEnhancement", &S::ImageEnhancement, {{"1", 1}, {" 0 ", 0}, {"abc", 3}}},
        {"Invert", &S::Invert, {{"", 1}, {"0", 0}, {"no", 1}, {"00", 1}}},
        {"SavePreview", &S::SavePreview, {{"", 1}, {"1", 1}, {"0", 0}, {"yes", 0}}},
        {"PanoLimitHigh", &S::PanoLimitHigh, {{"", 100000}, {"abc", 0}, {"25000", 25000}}},
        {"CephLeadLow", &S::CephLeadLow, {{"401.5", 402}, {"400.5", 400}}},
        {"CephLeadHighAbs", &S::CephLeadHighAbs, {{"0", 0}}},
        {"CurrentParamSetNr", &S::CurrentParamSetNr, {{"7 (Intra)", 7}}},
        {"NoPreview", &S::NoPreview, {{"99999", 32767}}}};
    for (const auto& key : table)
        for (const auto& [text, value] : key.texts) {
            const PluginSettings r = loadOne(key.name, text);
            EXPECT_EQ(std::visit([&](auto m) { return std::int64_t{r.*m}; }, key.field), value)
                << key.name << "=\"" << text << '"';
        }
}

// Keys that have an older one: a stored number wins, else the older key decides.
TEST(RecordRead, OlderKeysCountOnlyWithoutANumber) {
    const struct {
        std::map<std::string, std::string> texts;  // under Options
        std::int64_t enhancement, panoLevel;
    } rows[] = {{{{"ImageEnhancement", "abc"}, {"OptimizeGray", "1"}}, 2, 2},
                {{{"ImageEnhancement", "abc"}, {"OptimizeGray", "0"}}, 3, 2},
                {{{"OptimizeGray", "1"}}, 2, 2},
                {{{"ImageEnhancement", "1x"}, {"OptimizeGray", "1"}}, 2, 2},  // not a number
                {{{"PanoLeadNRLevel", "5"}, {"PanoLeadNR", "0"}}, 3, 5}};
    for (const auto& row : rows) {
        Stored stored;
        for (const auto& [name, text] : row.texts)
            stored.texts["Options/" + name] = text;
        const PluginSettings r = load(stored);
        const std::pair<std::int64_t, std::int64_t> got{r.ImageEnhancement, r.PanoLeadNRLevel};
        EXPECT_EQ(got, std::pair(row.enhancement, row.panoLevel))
            << row.texts.begin()->first << "=" << row.texts.begin()->second;
    }
}

TEST(RecordRead, KeysAreReadInOrderWithTheirScope) {
    Stored stored;
    load(stored);
    using R = std::tuple<std::string, std::string, bool>;
    const std::vector<R> expectedStart = {
        {"Options", "Visible", true},           {"Options", "Verbose", true},
        {"Options", "NoPreview", false},        {"Options", "BitDepth", false},
        {"Options", "CloseDone", false},        {"Options", "CurrentParamSet", true},
        {"Options", "CurrentParamSetNr", true}, {"Options", "Invert", false},
        {"Options", "IntraMappingType", false}};
    ASSERT_GE(stored.reads.size(), expectedStart.size() + 5);
    EXPECT_EQ(std::vector(stored.reads.begin(), stored.reads.begin() + 9), expectedStart);
    const std::vector<R> expectedEnd = {{"Options", "ImageEnhancement", false},
                                        {"Options", "OptimizeGray", false},
                                        {"Position", "Left", true},
                                        {"Position", "Top", true},
                                        {"Options", "SavePreview", false}};
    EXPECT_EQ(std::vector(stored.reads.end() - 5, stored.reads.end()), expectedEnd);
    // The older noise-reduction key is asked right after its level key, with the same scope.
    const auto legacy =
        std::ranges::find(stored.reads, "CephLeadNR", [](const R& r) { return std::get<1>(r); });
    ASSERT_NE(legacy, stored.reads.end());
    EXPECT_EQ(std::tuple(legacy[-1], *legacy), std::tuple(R{"Options", "CephLeadNRLevel", false},
                                                          R{"Options", "CephLeadNR", false}));
}

TEST(ImageType, LaterWordsWinAndNoWordKeepsTheType) {
    for (const auto& [name, before, after] :
         {std::tuple("Intraoral HR", 2, 0), std::tuple("ceph 30x24", 0, 1),
          std::tuple("Pan / Ceph", 0, 2), std::tuple("INTRA PERIO", 1, 0),
          std::tuple("Size 2", 1, 1), std::tuple("", 2, 2)})
        EXPECT_EQ(imageTypeFromParamSetName(name, before), after) << name;
}

TEST(ImageType, IsDerivedAfterTheIntraKeysBeforeImageEnhancement) {
    Stored stored;
    stored.texts["Options/CurrentParamSet"] = "Ceph large";
    std::int32_t type = 0;
    std::int32_t typeWhenIntraHighAbsRead = -1;
    std::int32_t typeWhenEnhancementRead = -1;
    PluginSettings record;
    auto inner = stored.reader();
    readPluginSettings(record, type, [&](std::string_view s, std::string_view n, bool u) {
        if (n == "IntraLeadHighAbs") typeWhenIntraHighAbsRead = type;
        if (n == "ImageEnhancement") typeWhenEnhancementRead = type;
        return inner(s, n, u);
    });
    EXPECT_EQ(std::tuple(typeWhenIntraHighAbsRead, typeWhenEnhancementRead, type),
              std::tuple(0, 1, 1));
}

TEST(ImageType, AFaultBeforeTheIntraKeysLeavesTheTypeAlone) {
    std::int32_t type = 2;
    PluginSettings record;
    Stored stored;
    stored.texts["Options/CurrentParamSet"] = "Intra";
    auto inner = stored.reader();
    EXPECT_THROW(readPluginSettings(record, type,
                                    [&](std::string_view s, std::string_view n, bool u) {
                                        if (n == "PanoLeadCutoff") throw std::runtime_error("x");
                                        return inner(s, n, u);
                                    }),
                 std::runtime_error);
    // The set's name was read before the fault, and is kept.
    EXPECT_EQ(std::tuple(type, record.CurrentParamSet), std::tuple(2, "Intra"));
}

struct Written {
    std::string section, name, text;
    bool perUser;
};

std::vector<Written> save(const PluginSettings& record) {
    std::vector<Written> out;
    writePluginSettings(record,
                        [&](std::string_view s, std::string_view n, std::string_view t, bool u) {
                            out.push_back({std::string(s), std::string(n), std::string(t), u});
                        });
    return out;
}

TEST(RecordWrite, OrderFormatsAndScopes) {
    PluginSettings record;
    record.Visible = -1;
    record.Invert = false;
    record.CurrentParamSetNr = 12;
    record.CurrentParamSet = "Intra 1";
    record.Left = -300;
    const auto w = save(record);
    ASSERT_EQ(w.size(), 43u);
    const auto at = [&](std::size_t i) {
        return std::tuple(w[i].section, w[i].name, w[i].text, w[i].perUser);
    };
    EXPECT_EQ(at(0), std::tuple("Options", "AutoStart", "0", false));
    EXPECT_EQ(at(1), std::tuple("Options", "Verbose", "0", true));
    EXPECT_EQ(at(2), std::tuple("Options", "Visible", "-1", true));
    EXPECT_EQ(w[6].name, "ImageEnhancement");
    EXPECT_EQ(std::tuple(w[7].name, w[7].text), std::tuple("Invert", "0"));
    EXPECT_EQ(at(38), std::tuple("Position", "Left", "-300", true));
    EXPECT_EQ(std::tuple(w[40].name, w[40].text, w[41].text),
              std::tuple("CurrentParamSet", "Intra 1", "12"));
    EXPECT_EQ(std::tuple(w[42].name, w[42].text), std::tuple("SavePreview", "1"));
    // Every key once, AutoStart included; the store's round trip reads them back.
    std::set<std::pair<std::string, std::string>> keys;
    for (const Written& x : w)
        keys.emplace(x.section, x.name);
    EXPECT_EQ(std::tuple(keys.size(), settingKeys().size()), std::tuple(43u, 43u));
}

}  // namespace
}  // namespace quilo::settings
