// Registry contract: values of every type the program stores, the size rules of
// RegQueryValueExA and key handling.
#include <gtest/gtest.h>

#include <tuple>

#include "contract_env.h"

namespace quilo::contract {
namespace {

using namespace platform;

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values)
        out.push_back(static_cast<std::byte>(v));
    return out;
}

class RegistryValues : public testing::TestWithParam<RegRoot> {
  protected:
    Registry& reg() { return contractEnv().platform().registry(); }
    std::string key(std::string_view sub) {
        return contractEnv().scratchKey() + "\\" + std::string(sub);
    }
    void TearDown() override { reg().deleteTree(GetParam(), contractEnv().scratchKey()); }
};

TEST_P(RegistryValues, StringOfExactlyTheBufferSizeFitsAndOneMoreDoesNot) {
    const auto root = GetParam();
    const std::string k = key("Sizes");
    // Strings of 99, 100 and 101 bytes, each counting the terminating NUL.
    const auto string = [](std::size_t bytes) { return regSzBytes(std::string(bytes - 1, 'a')); };
    for (std::size_t n : {99, 100, 101})
        ASSERT_EQ(reg().setValue(root, k, "s" + std::to_string(n), RegType::Sz, string(n)), 0u);
    const struct {
        std::size_t value, buffer;
        ErrorCode result;
    } reads[] = {{99, 100, 0},
                 {100, 100, 0},
                 {101, 100, err::kMoreData},
                 {100, 99, err::kMoreData},
                 {101, 101, 0}};
    for (const auto& r : reads) {
        RegValue v;
        EXPECT_EQ(reg().queryValue(root, k, "s" + std::to_string(r.value), r.buffer, v), r.result)
            << r.value << " bytes in " << r.buffer;
        // A value too large still tells its type.
        EXPECT_EQ(std::tie(v.type, v.data),
                  std::tuple(RegType::Sz, r.result ? std::vector<std::byte>{} : string(r.value)));
    }
}

TEST_P(RegistryValues, OtherTypesKeepTheirTypeAndBytes) {
    const auto root = GetParam();
    const std::string k = key("Types");
    struct Stored {
        const char* name;
        RegType type;
        std::vector<std::byte> data;
    };
    const Stored values[] = {
        {"dw", RegType::Dword, bytes({0x78, 0x56, 0x34, 0x12})},
        {"bin", RegType::Binary, bytes({0, 1, 2, 0xFF, 0, 0x80})},
        {"multi", RegType::MultiSz, bytes({'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0})},
        {"exp", RegType::ExpandSz, regSzBytes("%TEMP%\\Quilo")},  // returned as stored
    };
    for (const Stored& s : values)
        ASSERT_EQ(reg().setValue(root, k, s.name, s.type, s.data), 0u) << s.name;
    RegValue v;
    for (const Stored& s : values) {
        ASSERT_EQ(reg().queryValue(root, k, s.name, s.data.size(), v), 0u) << s.name;
        EXPECT_EQ(std::tie(v.type, v.data), std::tie(s.type, s.data)) << s.name;
    }
    EXPECT_EQ(reg().queryValue(root, k, "dw", 3, v), err::kMoreData);
    EXPECT_EQ(v.type, RegType::Dword);

    // Replacing a value may change its type.
    ASSERT_EQ(reg().setValue(root, k, "dw", RegType::Sz, regSzBytes("1")), 0u);
    ASSERT_EQ(reg().queryValue(root, k, "dw", 64, v), 0u);
    EXPECT_EQ(v.type, RegType::Sz);
    EXPECT_EQ(v.data, regSzBytes("1"));
}

TEST_P(RegistryValues, NamesIgnoreCaseAndMissingThingsAreNotFound) {
    const auto root = GetParam();
    const std::string k = key("Options\\Nested");
    ASSERT_EQ(reg().setValue(root, k, "Language", RegType::Sz, regSzBytes("ENG")), 0u);
    RegValue v;
    EXPECT_EQ(reg().queryValue(root, key("OPTIONS\\nested"), "LANGUAGE", 16, v), 0u);
    EXPECT_EQ(v.data, regSzBytes("ENG"));
    EXPECT_EQ(reg().queryValue(root, k, "Missing", 16, v), err::kFileNotFound);
    EXPECT_EQ(reg().queryValue(root, key("NoSuchKey"), "Language", 16, v), err::kFileNotFound);
    // The parent was created on the way and can hold values of its own; the default value has
    // an empty name.
    ASSERT_EQ(reg().setValue(root, key("Options"), "", RegType::Sz, regSzBytes("default")), 0u);
    EXPECT_EQ(reg().queryValue(root, key("Options"), "", 16, v), 0u);
    EXPECT_EQ(v.data, regSzBytes("default"));
}

TEST_P(RegistryValues, CreatingAKeyTwiceOpensItAndDeletingTakesEverythingBelow) {
    const auto root = GetParam();
    EXPECT_EQ(reg().createKey(root, key("Devices\\K1")), 0u);
    EXPECT_EQ(reg().createKey(root, key("Devices\\K1")), 0u);
    ASSERT_EQ(reg().setValue(root, key("Devices\\K1"), "Name", RegType::Sz, regSzBytes("x")), 0u);
    ASSERT_EQ(reg().setValue(root, key("Devices"), "Count", RegType::Sz, regSzBytes("1")), 0u);
    // One value deleted: its neighbour and the key stay; twice, or in no key, it is not found.
    ASSERT_EQ(reg().setValue(root, key("Devices"), "Gone", RegType::Sz, regSzBytes("2")), 0u);
    EXPECT_EQ(reg().deleteValue(root, key("Devices"), "GONE"), 0u);
    RegValue v;
    EXPECT_EQ(reg().queryValue(root, key("Devices"), "Gone", 16, v), err::kFileNotFound);
    EXPECT_EQ(reg().queryValue(root, key("Devices"), "Count", 16, v), 0u);
    EXPECT_EQ(reg().deleteValue(root, key("Devices"), "Gone"), err::kFileNotFound);
    EXPECT_EQ(reg().deleteValue(root, key("Nowhere"), "Gone"), err::kFileNotFound);
    EXPECT_EQ(reg().deleteTree(root, key("Devices")), 0u);
    EXPECT_EQ(reg().queryValue(root, key("Devices\\K1"), "Name", 16, v), err::kFileNotFound);
    EXPECT_EQ(reg().queryValue(root, key("Devices"), "Count", 16, v), err::kFileNotFound);
}

INSTANTIATE_TEST_SUITE_P(BothRoots, RegistryValues,
                         testing::Values(RegRoot::CurrentUser, RegRoot::LocalMachine),
                         [](const testing::TestParamInfo<RegRoot>& param) {
                             return param.param == RegRoot::CurrentUser ? "CurrentUser"
                                                                        : "LocalMachine";
                         });

}  // namespace
}  // namespace quilo::contract
