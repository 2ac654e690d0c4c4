// Reading and writing the settings record through its key table, without a registry: a map of
// stored texts stands in for it.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
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
    const PluginSettings r = load(stored);
    EXPECT_EQ(r.Visible, 0);
    EXPECT_EQ(r.BitDepth, 8);
    EXPECT_TRUE(r.Invert);
    EXPECT_TRUE(r.SavePreview);
    EXPECT_EQ(r.IntraLimitHigh, 10000);
    EXPECT_EQ(r.PanoLimitHigh, 100000);
    EXPECT_EQ(r.CephLeadLow, 400);
    EXPECT_EQ(r.PanoLeadLowAbs, 20000);
    EXPECT_EQ(r.CephLeadLowAbs, 40000);
    EXPECT_EQ(r.IntraLeadHighAbs, 65535);
    EXPECT_EQ(r.CephLeadNRLevel, 2);
    EXPECT_EQ(r.ImageEnhancement, 3);
    EXPECT_EQ(r.CurrentParamSet, "");
}

TEST(RecordRead, VisibleAndVerboseAreOneOnlyForTheTextOne) {
    EXPECT_EQ(loadOne("Visible", "1").Visible, 1);
    EXPECT_EQ(loadOne("Visible", "-1").Visible, 0);
    EXPECT_EQ(loadOne("Visible", "2").Visible, 0);
    EXPECT_EQ(loadOne("Verbose", "1").Verbose, 1);
    EXPECT_EQ(loadOne("Verbose", " 1").Verbose, 0);
}

TEST(RecordRead, BitDepthZeroOrMissingIsEight) {
    EXPECT_EQ(loadOne("BitDepth", "0").BitDepth, 8);
    EXPECT_EQ(loadOne("BitDepth", "").BitDepth, 8);
    EXPECT_EQ(loadOne("BitDepth", "junk").BitDepth, 8);
    EXPECT_EQ(loadOne("BitDepth", "12").BitDepth, 12);
    EXPECT_EQ(loadOne("BitDepth", "16bit").BitDepth, 16);
}

TEST(RecordRead, NoiseReductionLevelAndItsOlderKey) {
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "15").IntraLeadNRLevel, 15);
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "0").IntraLeadNRLevel, 0);
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "16").IntraLeadNRLevel, 2);
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "-1").IntraLeadNRLevel, 2);
    // Fractions are judged as the whole level they round to.
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "-.55").IntraLeadNRLevel, 2);
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "15.7").IntraLeadNRLevel, 2);
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "-0.4").IntraLeadNRLevel, 0);
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "14.6").IntraLeadNRLevel, 15);
    EXPECT_EQ(loadOne("IntraLeadNRLevel", "abc").IntraLeadNRLevel, 0);  // not empty: its value 0
    EXPECT_EQ(loadOne("IntraLeadNR", "0").IntraLeadNRLevel, 0);
    EXPECT_EQ(loadOne("IntraLeadNR", "1").IntraLeadNRLevel, 2);
    EXPECT_EQ(loadOne("IntraLeadNR", "7").IntraLeadNRLevel, 2);
    EXPECT_EQ(loadOne("CephLeadNR", "0").CephLeadNRLevel, 0);
    EXPECT_EQ(loadOne("PanoLeadNR", "0").PanoLeadNRLevel, 0);
    // A stored level wins over the older key.
    Stored stored;
    stored.texts["Options/PanoLeadNRLevel"] = "5";
    stored.texts["Options/PanoLeadNR"] = "0";
    EXPECT_EQ(load(stored).PanoLeadNRLevel, 5);
}

TEST(RecordRead, ImageEnhancementFallsBackToOptimizeGray) {
    EXPECT_EQ(loadOne("ImageEnhancement", "1").ImageEnhancement, 1);
    EXPECT_EQ(loadOne("ImageEnhancement", " 0 ").ImageEnhancement, 0);
    EXPECT_EQ(loadOne("ImageEnhancement", "abc").ImageEnhancement, 3);
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

TEST(RecordRead, InvertAndSavePreviewBooleans) {
    EXPECT_TRUE(loadOne("Invert", "").Invert);
    EXPECT_FALSE(loadOne("Invert", "0").Invert);
    EXPECT_TRUE(loadOne("Invert", "no").Invert);
    EXPECT_TRUE(loadOne("Invert", "00").Invert);
    EXPECT_TRUE(loadOne("SavePreview", "").SavePreview);
    EXPECT_TRUE(loadOne("SavePreview", "1").SavePreview);
    EXPECT_FALSE(loadOne("SavePreview", "0").SavePreview);
    EXPECT_FALSE(loadOne("SavePreview", "yes").SavePreview);
}

TEST(RecordRead, NonZeroDefaultsApplyOnlyToEmptyText) {
    EXPECT_EQ(loadOne("PanoLimitHigh", "").PanoLimitHigh, 100000);
    EXPECT_EQ(loadOne("PanoLimitHigh", "abc").PanoLimitHigh, 0);
    EXPECT_EQ(loadOne("PanoLimitHigh", "25000").PanoLimitHigh, 25000);
    EXPECT_EQ(loadOne("CephLeadLow", "401.5").CephLeadLow, 402);
    EXPECT_EQ(loadOne("CephLeadLow", "400.5").CephLeadLow, 400);
    EXPECT_EQ(loadOne("CephLeadHighAbs", "0").CephLeadHighAbs, 0);
    EXPECT_EQ(loadOne("CurrentParamSetNr", "7 (Intra)").CurrentParamSetNr, 7);
    EXPECT_EQ(loadOne("NoPreview", "99999").NoPreview, 32767);  // held at the 16-bit end
}

TEST(RecordRead, AutoStartIsNeverReadBack) {
    Stored stored;
    stored.texts["Options/AutoStart"] = "1";
    PluginSettings record;
    record.AutoStart = 1;
    std::int32_t type = 0;
    readPluginSettings(record, type, stored.reader());
    EXPECT_EQ(record.AutoStart, 0);
    for (const auto& [section, name, perUser] : stored.reads)
        EXPECT_NE(name, "AutoStart");
}

TEST(RecordRead, PositionKeysLiveInTheirOwnSection) {
    Stored stored;
    stored.texts["Position/Left"] = "-120";
    stored.texts["Position/Top"] = "300";
    stored.texts["Options/Left"] = "5";
    const PluginSettings r = load(stored);
    EXPECT_EQ(r.Left, -120);
    EXPECT_EQ(r.Top, 300);
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
        {"Options", "IntraMappingType", false},
    };
    ASSERT_GE(stored.reads.size(), expectedStart.size());
    for (std::size_t i = 0; i < expectedStart.size(); ++i)
        EXPECT_EQ(stored.reads[i], expectedStart[i]) << i;
    const std::vector<R> expectedEnd = {
        {"Options", "ImageEnhancement", false},
        {"Options", "OptimizeGray", false},
        {"Position", "Left", true},
        {"Position", "Top", true},
        {"Options", "SavePreview", false},
    };
    const std::size_t tail = stored.reads.size() - expectedEnd.size();
    for (std::size_t i = 0; i < expectedEnd.size(); ++i)
        EXPECT_EQ(stored.reads[tail + i], expectedEnd[i]) << i;
    // The older noise-reduction key is asked right after its level key, with the same scope.
    bool sawLegacy = false;
    for (std::size_t i = 1; i < stored.reads.size(); ++i) {
        if (std::get<1>(stored.reads[i]) == "CephLeadNR") {
            EXPECT_EQ(std::get<1>(stored.reads[i - 1]), "CephLeadNRLevel");
            EXPECT_FALSE(std::get<2>(stored.reads[i]));
            sawLegacy = true;
        }
    }
    EXPECT_TRUE(sawLegacy);
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
    EXPECT_EQ(w.front().name, "AutoStart");
    EXPECT_FALSE(w.front().perUser);
    EXPECT_EQ(w[1].name, "Verbose");
    EXPECT_TRUE(w[1].perUser);
    EXPECT_EQ(w[2].name, "Visible");
    EXPECT_EQ(w[2].text, "-1");
    EXPECT_EQ(w[6].name, "ImageEnhancement");
    EXPECT_EQ(w[7].name, "Invert");
    EXPECT_EQ(w[7].text, "0");
    EXPECT_EQ(w[38].name, "Left");
    EXPECT_EQ(w[38].section, "Position");
    EXPECT_EQ(w[38].text, "-300");
    EXPECT_TRUE(w[38].perUser);
    EXPECT_EQ(w[40].name, "CurrentParamSet");
    EXPECT_EQ(w[40].text, "Intra 1");
    EXPECT_EQ(w[41].text, "12");
    EXPECT_EQ(w[42].name, "SavePreview");
    EXPECT_EQ(w[42].text, "1");
    for (const auto& one : w) {
        EXPECT_NE(one.name, "OptimizeGray");
        EXPECT_NE(one.name, "Language");
        EXPECT_EQ(one.name.find("LeadNR") != std::string::npos &&
                      one.name.find("Level") == std::string::npos,
                  false)
            << one.name;
    }
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
