// Reading and writing the settings record through its key table, without a registry: a map of
// stored texts stands in for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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
    // A stored level wins over the older key.
    Stored stored;
    stored.texts["Options/PanoLeadNRLevel"] = "5";
    stored.texts["Options/PanoLeadNR"] = "0";
    EXPECT_EQ(load(stored).PanoLeadNRLevel, 5);
}

TEST(RecordRead, ImageEnhancementFallsBackToOptimizeGray) {
    Stored stored;
    stored.texts["Options/ImageEnhancement"] = "abc";
    stored.texts["Options/OptimizeGray"] = "1";
    EXPECT_EQ(load(stored).ImageEnhancement, 2);
    stored.texts["Options/OptimizeGray"] = "0";
    EXPECT_EQ(load(stored).ImageEnhancement, 3);
    stored.texts.erase("Options/ImageEnhancement");
    stored.texts["Options/OptimizeGray"] = "1";
    EXPECT_EQ(load(stored).ImageEnhancement, 2);
    stored.texts["Options/ImageEnhancement"] = "1x";  // a leading number is not a number
    EXPECT_EQ(load(stored).ImageEnhancement, 2);
}

TEST(RecordRead, TheOlderLevelKeyFollowsItsLevelKeyWithItsScope) {
    Stored stored;
    load(stored);
    const auto legacy = std::find_if(stored.reads.begin() + 1, stored.reads.end(),
                                     [](const auto& r) { return std::get<1>(r) == "CephLeadNR"; });
    ASSERT_NE(legacy, stored.reads.end());
    EXPECT_EQ(std::get<1>(legacy[-1]), "CephLeadNRLevel");
    EXPECT_EQ(std::get<2>(*legacy), std::get<2>(legacy[-1]));
}

TEST(ImageType, LaterWordsWinAndNoWordKeepsTheType) {
    EXPECT_EQ(imageTypeFromParamSetName("Intraoral HR", 2), 0);
    EXPECT_EQ(imageTypeFromParamSetName("ceph 30x24", 0), 1);
    EXPECT_EQ(imageTypeFromParamSetName("Pan / Ceph", 0), 2);
    EXPECT_EQ(imageTypeFromParamSetName("INTRA PERIO", 1), 0);
    EXPECT_EQ(imageTypeFromParamSetName("Size 2", 1), 1);
    EXPECT_EQ(imageTypeFromParamSetName("", 2), 2);
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
    EXPECT_EQ(typeWhenIntraHighAbsRead, 0);
    EXPECT_EQ(typeWhenEnhancementRead, 1);
    EXPECT_EQ(type, 1);
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
    EXPECT_EQ(type, 2);
    EXPECT_EQ(record.CurrentParamSet, "Intra");  // read before the fault, kept
}

TEST(RecordWrite, EveryKeyIsWrittenOnceAndReadsBackTheSame) {
    PluginSettings record;
    record.Visible = 1;
    record.Verbose = 1;
    record.NoPreview = 2;
    record.BitDepth = 12;
    record.CloseDone = 1;
    record.CurrentParamSet = "Pano standard";
    record.CurrentParamSetNr = 3;
    record.Invert = false;
    record.SavePreview = false;
    record.ImageEnhancement = 0;
    record.IntraLeadNRLevel = 0;
    record.PanoLeadNRLevel = 15;
    record.CephLeadNRLevel = 7;
    std::int32_t n = 1;
    for (std::int32_t PluginSettings::*f :
         {&PluginSettings::IntraMappingType, &PluginSettings::IntraLimitLow,
          &PluginSettings::PanoLimitHigh, &PluginSettings::CephLimitLow,
          &PluginSettings::CephLeadCutoff, &PluginSettings::CephLeadLow,
          &PluginSettings::PanoLeadHigh, &PluginSettings::PanoLeadLowAbs,
          &PluginSettings::IntraLeadStretch, &PluginSettings::IntraLeadHighAbs,
          &PluginSettings::Left, &PluginSettings::Top})
        record.*f = 1000 + n++;

    Stored stored;
    std::map<std::string, int> times;
    writePluginSettings(record,
                        [&](std::string_view s, std::string_view name, std::string_view t, bool) {
                            stored.texts[std::string(s) + "/" + std::string(name)] = std::string(t);
                            ++times[std::string(name)];
                        });
    for (const auto& [name, count] : times)
        EXPECT_EQ(count, 1) << name;
    EXPECT_EQ(times.size(), settingKeys().size());  // every key, AutoStart included
    EXPECT_EQ(times.size(), 43u);

    std::int32_t type = 0;
    PluginSettings back;
    readPluginSettings(back, type, stored.reader());
    EXPECT_EQ(back, record);
    EXPECT_EQ(type, 2);
}

}  // namespace
}  // namespace quilo::settings
