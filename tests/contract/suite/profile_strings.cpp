// INI file contract: GetPrivateProfileStringA's look-up rules.
#include <gtest/gtest.h>

#include "contract_env.h"
#include "support/bytes.h"

namespace quilo::contract {
namespace {

using namespace platform;

class ProfileStrings : public testing::Test {
  protected:
    void SetUp() override {
        path_ = joinPath(contractEnv().scratchFolder(), "plugins.ini");
        const std::string text =
            "; the host's settings\r\n"
            "[Settings]\r\n"
            "Company=Kelvora\r\n"
            "  HostApp  =   Kelvora 3   \r\n"
            "Quoted=\"  spaced out  \"\r\n"
            "Single='x'\r\n"
            "Half=\"open\r\n"
            "Inline=a ; stays\r\n"
            ";Commented=yes\r\n"
            "NoEquals\r\n"
            "Empty=\r\n"
            "\r\n"
            "[ Other Section ]\r\n"
            "Company=Elsewhere\r\n"
            "[Long]\n"  // a bare LF ends a line too
            "Value=" +
            longValue() + "\n";
        ASSERT_TRUE(writeWholeFile(files(), path_, test::bytesOf(text)));
    }
    void TearDown() override { files().removeFile(path_); }
    static Files& files() { return contractEnv().platform().files(); }
    static std::string longValue() {
        std::string v;
        for (int i = 0; i < 1024; ++i)
            v += static_cast<char>('0' + i % 10);
        return v;
    }
    std::string get(std::string_view section, std::string_view key, std::string_view def = "?",
                    std::size_t buffer = 256) {
        return contractEnv().platform().profile().getString(section, key, def, path_, buffer);
    }
    std::string path_;
};

TEST_F(ProfileStrings, ValuesAreTrimmedUnquotedAndFoundIgnoringCase) {
    EXPECT_EQ(get("Settings", "Company"), "Kelvora");
    EXPECT_EQ(get("settings", "HOSTAPP"), "Kelvora 3");
    EXPECT_EQ(get("Settings", "Quoted"), "  spaced out  ");
    EXPECT_EQ(get("Settings", "Single"), "x");
    EXPECT_EQ(get("Settings", "Half"), "\"open") << "an unmatched quote stays";
    EXPECT_EQ(get("Settings", "Inline"), "a ; stays")
        << "';' starts a comment only on its own line";
    EXPECT_EQ(get("Settings", "Empty", "default"), "");
    EXPECT_EQ(get("other section", "company"), "Elsewhere");
}

TEST_F(ProfileStrings, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(get("Settings", "Missing", "fallback"), "fallback");
    EXPECT_EQ(get("Settings", "Commented", "fallback"), "fallback");
    EXPECT_EQ(get("Settings", "NoEquals", "fallback"), "fallback");
    EXPECT_EQ(get("NoSuchSection", "Company", "fallback"), "fallback");
    EXPECT_EQ(get("Other Section", "HostApp", "fallback"), "fallback")
        << "keys of one section are not found in another";
    const std::string missing = joinPath(contractEnv().scratchFolder(), "missing.ini");
    EXPECT_EQ(
        contractEnv().platform().profile().getString("Settings", "Company", "none", missing, 64),
        "none");
    EXPECT_EQ(get("Settings", "Missing", "trailing  "), "trailing")
        << "defaults lose trailing blanks";
}

TEST_F(ProfileStrings, ValueAndDefaultAreCutToTheBuffer) {
    const std::string value = longValue();
    EXPECT_EQ(get("Long", "Value", "", 1025), value) << "1024 characters need 1025";
    EXPECT_EQ(get("Long", "Value", "", 1024), value.substr(0, 1023));
    EXPECT_EQ(get("Long", "Value", "", 10), value.substr(0, 9));
    EXPECT_EQ(get("Settings", "Company", "", 4), "Kel");
    EXPECT_EQ(get("Settings", "Missing", "defaultvalue", 5), "defa");
}

}  // namespace
}  // namespace quilo::contract
