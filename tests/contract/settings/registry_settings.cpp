// modRegistry against a backend's registry: the same cases on the simulated Windows and on the
// real registry under Wine. Everything lives below the run's scratch key, used as RegistryBase
// under both roots.
#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "contract_env.h"
#include "settings/mod_registry.h"

namespace quilo::contract {
namespace {

using platform::RegRoot;
using platform::RegType;
using platform::RegValue;
using settings::modRegistry;
using Stored = std::optional<std::pair<RegType, std::vector<std::byte>>>;

Stored sz(const std::string& text) {
    return std::pair{RegType::Sz, platform::regSzBytes(text)};
}

class RegistrySettings : public ::testing::Test {
  protected:
    RegistrySettings()
        : env_(contractEnv()),
          reg_(env_.platform().registry()),
          base_(env_.scratchKey() + "\\Settings"),
          store_(reg_, env_.platform().profile()) {
        store_.setRegistryBase(base_);
    }
    void SetUp() override {
        reg_.deleteTree(RegRoot::CurrentUser, base_);
        reg_.deleteTree(RegRoot::LocalMachine, base_);
    }
    void TearDown() override { SetUp(); }

    void putSz(RegRoot root, const std::string& key, const std::string& name,
               const std::string& text) {
        ASSERT_EQ(reg_.setValue(root, key, name, RegType::Sz, platform::regSzBytes(text)), 0u);
    }
    // The value's type and bytes; nothing when it cannot be read.
    Stored stored(RegRoot root, const std::string& key, const std::string& name) {
        RegValue v;
        if (reg_.queryValue(root, key, name, 4096, v) != 0) return std::nullopt;
        return std::pair{v.type, v.data};
    }
    std::string options() const { return base_ + "\\Options"; }
    std::string defaults() const { return base_ + "\\DefaultUserSettings\\Options"; }

    ContractEnv& env_;
    platform::Registry& reg_;
    std::string base_;
    modRegistry store_;
};

TEST_F(RegistrySettings, MachineDefaultBecomesTheUsersOwnOnFirstRead) {
    putSz(RegRoot::LocalMachine, defaults(), "Verbose", "1");
    EXPECT_EQ(store_.ReadRegSetting("Options", "Verbose"), "1");
    EXPECT_EQ(stored(RegRoot::CurrentUser, options(), "Verbose"), sz("1"));
    // From now on the user's copy answers, whatever happens to the machine default.
    putSz(RegRoot::LocalMachine, defaults(), "Verbose", "0");
    EXPECT_EQ(store_.ReadRegSetting("Options", "Verbose"), "1");
}

TEST_F(RegistrySettings, UsersOwnValueWinsAndAbsentEverywhereIsEmpty) {
    putSz(RegRoot::LocalMachine, defaults(), "Visible", "1");
    putSz(RegRoot::CurrentUser, options(), "Visible", "0");
    EXPECT_EQ(store_.ReadRegSetting("Options", "Visible"), "0");
    EXPECT_EQ(store_.ReadRegSetting("Options", "Nothing"), "");
    // Nothing was copied for an absent default.
    EXPECT_EQ(stored(RegRoot::CurrentUser, options(), "Nothing"), std::nullopt);
    EXPECT_EQ(store_.ReadRegSetting("Options", ""), "");
}

TEST_F(RegistrySettings, MachineScopeReadsOnlyTheMachineKey) {
    putSz(RegRoot::CurrentUser, options(), "BitDepth", "16");
    putSz(RegRoot::LocalMachine, defaults(), "BitDepth", "12");
    EXPECT_EQ(store_.ReadRegSetting("Options", "BitDepth", false), "");
    putSz(RegRoot::LocalMachine, options(), "BitDepth", "8");
    EXPECT_EQ(store_.ReadRegSetting("Options", "BitDepth", false), "8");
    // No copy is made for machine settings.
    EXPECT_EQ(stored(RegRoot::CurrentUser, options(), "BitDepth"), sz("16"));
}

// What a stored value reads as: strings under a hundred bytes (with the NUL) only, and the word
// "null" in any letter case as nothing.
TEST_F(RegistrySettings, OnlyShortStringsOtherThanNullCount) {
    struct Row {
        RegRoot root;
        const char* name;
        RegType type;
        std::vector<std::byte> stored;
        std::string read;
    };
    const Row rows[] = {
        {RegRoot::CurrentUser, "Fits", RegType::Sz, platform::regSzBytes(std::string(98, 'a')),
         std::string(98, 'a')},
        {RegRoot::CurrentUser, "Limit", RegType::Sz, platform::regSzBytes(std::string(99, 'b')),
         ""},
        {RegRoot::CurrentUser, "Dword", RegType::Dword, {std::byte{1}, {}, {}, {}}, ""},
        {RegRoot::CurrentUser, "Expand", RegType::ExpandSz, platform::regSzBytes("%TEMP%"), ""},
        {RegRoot::CurrentUser, "A", RegType::Sz, platform::regSzBytes("null"), ""},
        {RegRoot::CurrentUser, "B", RegType::Sz, platform::regSzBytes("NuLL"), ""},
        {RegRoot::CurrentUser, "C", RegType::Sz, platform::regSzBytes("nullable"), "nullable"},
        {RegRoot::LocalMachine, "D", RegType::Sz, platform::regSzBytes("NULL"), ""},
    };
    for (const Row& r : rows) {
        ASSERT_EQ(reg_.setValue(r.root, options(), r.name, r.type, r.stored), 0u) << r.name;
        EXPECT_EQ(store_.ReadRegSetting("Options", r.name, r.root == RegRoot::CurrentUser), r.read)
            << r.name;
    }
    // A user value too long to read gives way to the machine default, which replaces it.
    putSz(RegRoot::CurrentUser, options(), "Longer", std::string(150, 'c'));
    putSz(RegRoot::LocalMachine, defaults(), "Longer", "short");
    EXPECT_EQ(store_.ReadRegSetting("Options", "Longer"), "short");
    EXPECT_EQ(stored(RegRoot::CurrentUser, options(), "Longer"), sz("short"));
}

TEST_F(RegistrySettings, SectionSlashesAndAbsolutePaths) {
    putSz(RegRoot::CurrentUser, options(), "Left", "120");
    EXPECT_EQ(store_.ReadRegSetting("\\Options\\", "Left"), "120");
    EXPECT_EQ(store_.ReadRegSetting("\\Options", "Left"), "120");
    EXPECT_EQ(store_.ReadRegSetting(options(), "Left", true, true), "120");
    EXPECT_EQ(store_.ReadRegSetting("\\" + options() + "\\", "Left", true, true), "120");
    // Values directly under the base, with no section.
    putSz(RegRoot::CurrentUser, base_, "Top", "7");
    EXPECT_EQ(store_.ReadRegSetting("", "Top"), "7");
}

TEST_F(RegistrySettings, WriteCodesAndStoredBytes) {
    EXPECT_EQ(store_.WriteRegSetting("Options", "Invert", "0"), 0);
    EXPECT_EQ(stored(RegRoot::CurrentUser, options(), "Invert"), sz("0"));
    EXPECT_EQ(store_.WriteRegSetting("Options", "AutoStart", "1", false), 0);
    EXPECT_EQ(stored(RegRoot::LocalMachine, options(), "AutoStart"), sz("1"));
    // An empty text is stored as a single NUL.
    EXPECT_EQ(store_.WriteRegSetting("Options", "CurrentParamSet", ""), 0);
    EXPECT_EQ(stored(RegRoot::CurrentUser, options(), "CurrentParamSet"),
              Stored(std::pair{RegType::Sz, std::vector{std::byte{0}}}));
    // Nothing to do without a section and a value name.
    EXPECT_EQ(store_.WriteRegSetting("", "", "x"), 1);
    EXPECT_EQ(store_.WriteRegSetting("\\", "", "x"), 1);
    // A section alone only makes sure the key is there.
    EXPECT_EQ(store_.WriteRegSetting("Devices", "", "x"), 0);
    // A numeric value name is stored under its decimal text.
    EXPECT_EQ(store_.WriteRegSetting("Devices", 42L, "yes"), 0);
    EXPECT_EQ(store_.ReadRegSetting("Devices", "42"), "yes");
}

TEST_F(RegistrySettings, TextIsStoredInTheAnsiCodePage) {
    EXPECT_EQ(store_.WriteRegSetting("Options", "CurrentParamSet", "Zähne groß"), 0);
    EXPECT_EQ(stored(RegRoot::CurrentUser, options(), "CurrentParamSet"), sz("Z\xE4hne gro\xDF"));
    EXPECT_EQ(store_.ReadRegSetting("Options", "CurrentParamSet"), "Zähne groß");
}

TEST(IniSettings, ReadsValuesOfTheHostsPluginIni) {
    ContractEnv& env = contractEnv();
    auto& files = env.platform().files();
    const std::string path = platform::joinPath(env.scratchFolder(), "plugins.ini");
    const std::string text =
        "[Settings]\r\nCompany = Torvik data AB\r\nHostApp=\r\nMaker=Zahn\xE4rzte \x80 AB\r\n"
        "Long=" +
        std::string(1500, 'x') + "\r\n[Other]\r\nCompany=Elsewhere\r\n";
    ASSERT_TRUE(platform::writeWholeFile(files, path, std::as_bytes(std::span(text))));
    modRegistry store(env.platform().registry(), env.platform().profile());
    EXPECT_EQ(store.ReadIniString("Settings", "Company", path), "Torvik data AB");
    EXPECT_EQ(store.ReadIniString("Settings", "Maker", path), "Zahnärzte € AB");  // ANSI to UTF-8
    EXPECT_EQ(store.ReadIniString("Settings", "HostApp", path), "");
    EXPECT_EQ(store.ReadIniString("Settings", "Missing", path), "");
    EXPECT_EQ(store.ReadIniString("Settings", "Long", path), std::string(1023, 'x'));
    files.removeFile(path);
}

}  // namespace
}  // namespace quilo::contract
