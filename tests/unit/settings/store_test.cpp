// SettingsStore in a simulated Windows: where LoadSetup finds its keys, what it reads, what
// SaveSetup writes, and what happens when the registry or the data folder fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/error.h"
#include "platform/sim/world.h"
#include "settings/plugin_settings.h"
#include "support/errors.h"
#include "support/world.h"
#include "support/wrappers.h"

namespace quilo::settings {
namespace {

using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

constexpr const char* kBase = "SOFTWARE\\Kelvora AB\\Plugins\\Quilo Plugin";
constexpr const char* kHostKey = "SOFTWARE\\Kelvora AB\\Kelvora 3";

// The simulated registry, counting the writes; can be told to throw on a given write, as a
// failing registry layer would.
struct WatchedRegistry : test::RegistryWrapper {
    using RegistryWrapper::RegistryWrapper;
    int writes = 0;
    int throwOnWrite = 0;  // 1 = the first write throws

    platform::ErrorCode setValue(RegRoot root, std::string_view key, std::string_view name,
                                 RegType type, std::span<const std::byte> data) override {
        if (++writes == throwOnWrite)
            throw RuntimeError(-2147024891, "Access is denied.", "Registry");
        return RegistryWrapper::setValue(root, key, name, type, data);
    }
};

class Store : public ::testing::Test {
  protected:
    Store()
        : watched_(process_.registry()),
          store_(watched_, process_.profile(), process_.files(), process_.process()) {}

    void put(RegRoot root, const std::string& key, const std::string& name,
             const std::string& text) {
        ASSERT_EQ(
            process_.registry().setValue(root, key, name, RegType::Sz, platform::regSzBytes(text)),
            0u);
    }
    std::optional<std::string> get(RegRoot root, const std::string& key, const std::string& name) {
        RegValue v;
        if (process_.registry().queryValue(root, key, name, 1024, v) != 0) return std::nullopt;
        std::string text(reinterpret_cast<const char*>(v.data.data()), v.data.size());
        if (!text.empty() && text.back() == '\0') text.pop_back();
        return text;
    }
    // A value under the plug-in's Options key.
    std::optional<std::string> option(RegRoot root, const std::string& name) {
        return get(root, std::string(kBase) + "\\Options", name);
    }
    test::TestWorld w_;
    sim::World& world_ = w_.world;
    sim::SimProcess& process_ = w_.proc;
    WatchedRegistry watched_;
    SettingsStore store_;
};

TEST_F(Store, WithoutIniFileTheDefaultNamesApply) {
    store_.LoadSetup();
    const SetupNames& n = store_.names();
    EXPECT_EQ(
        std::tuple(n.IniPath, n.Company, n.HostApp, n.HostKeyBase, n.RegistryBase,
                   store_.registry().registryBase(), n.PluginShortName, n.PluginDataFolder,
                   n.Language),
        std::tuple("C:\\Program Files\\Kelvora\\plugins.ini", "Kelvora AB", "Kelvora 3", kHostKey,
                   kBase, kBase, "QUILO", "C:\\Users\\clinic\\AppData\\Roaming\\QUILO", "English"));
    // Loading a fresh machine writes nothing.
    EXPECT_EQ(std::tuple(process_.files().isDirectory(n.PluginDataFolder), watched_.writes),
              std::tuple(true, 0));
}

TEST_F(Store, IniNamesBuildTheKeysAndTheFormerCompanyIsRenamedAfterwards) {
    w_.put("C:\\Program Files\\Kelvora\\plugins.ini",
           "[Settings]\r\nCompany=Torvik data AB\r\nHostApp=Kelvora 4\r\n");
    put(RegRoot::CurrentUser, "SOFTWARE\\Torvik data AB\\Plugins\\Quilo Plugin\\Options", "Verbose",
        "1");
    store_.LoadSetup();
    const SetupNames& n = store_.names();
    EXPECT_EQ(std::tuple(n.HostKeyBase, n.RegistryBase, n.Company),
              std::tuple("SOFTWARE\\Torvik data AB\\Kelvora 4",
                         "SOFTWARE\\Torvik data AB\\Plugins\\Quilo Plugin", "Kelvora AB"));
    EXPECT_EQ(store_.settings().Verbose, 1);  // read under the key as named in the INI file
}

// The language is the host's preference; a machine default is used and copied for the user.
TEST_F(Store, LanguageComesFromTheHostsPreferencesOrItsMachineDefault) {
    const std::string prefs = std::string(kHostKey) + "\\Preferrences";
    put(RegRoot::LocalMachine, std::string(kHostKey) + "\\DefaultUserSettings\\Preferrences",
        "Language", "Swedish");
    store_.LoadSetup();
    EXPECT_EQ(std::tuple(store_.names().Language, get(RegRoot::CurrentUser, prefs, "Language")),
              std::tuple(std::string("Swedish"), std::optional<std::string>("Swedish")));
    put(RegRoot::CurrentUser, prefs, "Language", "German");
    store_.LoadSetup();
    EXPECT_EQ(store_.names().Language, "German");
}

TEST_F(Store, DefaultOptionsAreReplacedByTheLoad) {
    const auto state = [&] {
        const PluginSettings& o = store_.settings();
        return std::tuple(o.Visible, o.AutoStart, o.NoPreview, store_.PluginIsVisible());
    };
    store_.SetDefaultOptions();
    EXPECT_EQ(state(), std::tuple(1, 1, 0, true));
    put(RegRoot::LocalMachine, std::string(kBase) + "\\Options", "NoPreview", "2");
    store_.LoadSetup();
    EXPECT_EQ(state(), std::tuple(0, 0, 2, false));
}

TEST_F(Store, SaveThenLoadGivesTheSameRecord) {
    store_.LoadSetup();
    // Every kind of key away from its default.
    PluginSettings& s = store_.settings();
    s.Visible = 1;
    s.Verbose = 1;
    s.AutoStart = 1;
    s.NoPreview = 2;
    s.BitDepth = 16;
    s.CloseDone = 1;
    s.Invert = false;
    s.SavePreview = false;
    s.CurrentParamSet = "Ceph Größe 2";
    s.CurrentParamSetNr = 4;
    s.ImageEnhancement = 0;
    s.IntraLeadNRLevel = 0;
    s.PanoLeadNRLevel = 15;
    s.CephLeadNRLevel = 7;
    std::int32_t n = 1;
    for (std::int32_t PluginSettings::*f :
         {&PluginSettings::IntraMappingType, &PluginSettings::IntraLimitLow,
          &PluginSettings::PanoLimitHigh, &PluginSettings::CephLimitLow,
          &PluginSettings::CephLeadCutoff, &PluginSettings::CephLeadLow,
          &PluginSettings::PanoLeadHigh, &PluginSettings::PanoLeadLowAbs,
          &PluginSettings::IntraLeadStretch, &PluginSettings::IntraLeadHighAbs,
          &PluginSettings::Top})
        s.*f = 1000 + n++;
    s.Left = -1200;
    PluginSettings expected = s;
    expected.AutoStart = 0;  // never read back
    store_.SaveSetup();
    EXPECT_TRUE(process_.messageBoxes().empty());
    store_.settings() = PluginSettings{};
    store_.LoadSetup();
    // The image type follows the set read back.
    EXPECT_EQ(std::tuple(store_.settings(), store_.CurrentImageType()), std::tuple(expected, 1));
    // Where the values went.
    using V = std::optional<std::string>;
    EXPECT_EQ(
        (std::vector{
            option(RegRoot::LocalMachine, "AutoStart"), option(RegRoot::CurrentUser, "Visible"),
            get(RegRoot::CurrentUser, std::string(kBase) + "\\Position", "Left"),
            option(RegRoot::LocalMachine, "Invert"), option(RegRoot::CurrentUser, "Invert")}),
        (std::vector<V>{"1", "1", "-1200", "0", std::nullopt}));
}

TEST_F(Store, FailedWritesAreNotReportedAndLeaveTheOldValues) {
    store_.LoadSetup();
    put(RegRoot::LocalMachine, std::string(kBase) + "\\Options", "BitDepth", "12");
    world_.failAlways(sim::Fault::RegistryCreate);
    store_.settings().BitDepth = 16;
    store_.SaveSetup();
    world_.failAlways(sim::Fault::RegistryCreate, false);
    EXPECT_TRUE(process_.messageBoxes().empty());
    EXPECT_EQ(option(RegRoot::LocalMachine, "BitDepth"), "12");
}

TEST_F(Store, AFaultInsideSaveStopsItWithAMessage) {
    store_.LoadSetup();
    store_.settings().Verbose = 1;
    store_.settings().Visible = 1;
    watched_.throwOnWrite = 3;  // AutoStart and Verbose get through, Visible fails
    store_.SaveSetup();
    ASSERT_EQ(process_.messageBoxes().size(), 1u);
    const auto& box = process_.messageBoxes().front();
    EXPECT_EQ(std::tuple(box.text, box.caption, box.style),
              std::tuple("SaveSetup error: -2147024891\r\nAccess is denied.",
                         process_.process().version().title, platform::mb::kOk));
    // Nothing is tried after the failed write.
    EXPECT_EQ(std::tuple(watched_.writes, option(RegRoot::CurrentUser, "Verbose"),
                         option(RegRoot::CurrentUser, "Visible")),
              std::tuple(3, std::optional<std::string>("1"), std::nullopt));
}

TEST_F(Store, ADataFolderThatCannotBeMadeStopsTheLoad) {
    // A file stands where the folder should be.
    const std::string blocker = "C:\\Users\\clinic\\AppData\\Roaming\\QUILO";
    w_.put(blocker, "not a folder");
    put(RegRoot::CurrentUser, std::string(kBase) + "\\Options", "Verbose", "1");
    std::string error;
    EXPECT_EQ(test::errorNumber([&] { store_.LoadSetup(); }, &error), 76);
    // Nothing was read.
    EXPECT_EQ(std::tuple(error.find(blocker) != std::string::npos, store_.settings().Verbose),
              std::tuple(true, 0));
}

TEST_F(Store, WriteCodesWhenTheRegistryRefuses) {
    modRegistry& reg = store_.registry();
    reg.setRegistryBase(kBase);
    world_.failNth(sim::Fault::RegistryCreate);
    EXPECT_EQ(reg.WriteRegSetting("Options", "Verbose", "1"), write_result::kKeyFailed);
    world_.failNth(sim::Fault::RegistrySet);
    EXPECT_EQ(reg.WriteRegSetting("Options", "Verbose", "1"), write_result::kValueFailed);
    EXPECT_FALSE(option(RegRoot::CurrentUser, "Verbose"));
}

TEST_F(Store, AMachineDefaultIsUsedEvenWhenItsCopyCannotBeMade) {
    modRegistry& reg = store_.registry();
    reg.setRegistryBase(kBase);
    put(RegRoot::LocalMachine, std::string(kBase) + "\\DefaultUserSettings\\Options", "Visible",
        "1");
    world_.failAlways(sim::Fault::RegistryCreate);
    EXPECT_EQ(reg.ReadRegSetting("Options", "Visible"), "1");
    world_.failAlways(sim::Fault::RegistryCreate, false);
    EXPECT_FALSE(option(RegRoot::CurrentUser, "Visible"));
}

TEST(ShortName, ProductNameWithoutPlugin) {
    EXPECT_EQ(std::tuple(pluginShortName("Quilo Plugin"), pluginShortName("PlugIn Quilo plugin"),
                         pluginShortName("Orvane"), pluginShortName("Plugin")),
              std::tuple("QUILO", "QUILO", "ORVANE", ""));
}

}  // namespace
}  // namespace quilo::settings
