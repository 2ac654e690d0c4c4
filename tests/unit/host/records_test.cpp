// The host records byte for byte, and the protocol's vocabulary.
#include <gtest/gtest.h>

#include "host/records.h"
#include "host/xray_ifc.h"
#include "support/bytes.h"

namespace quilo::host {
namespace {

using test::le32;

std::vector<std::byte> slice(std::span<const std::byte> b, std::size_t off, std::size_t n) {
    return {b.begin() + static_cast<std::ptrdiff_t>(off),
            b.begin() + static_cast<std::ptrdiff_t>(off + n)};
}

TEST(Records, IntegersAndBooleansAreLittleEndianAtTheirOffsets) {
    StatusRecord r;
    r.set(StatusRecord::size, 12);
    r.set(StatusRecord::statusCode, 0x8000);
    r.set(StatusRecord::dialogActive, true);
    const std::vector<std::byte> expected = {std::byte{0x0C}, std::byte{0},    std::byte{0},
                                             std::byte{0},    std::byte{0x00}, std::byte{0x80},
                                             std::byte{0},    std::byte{0},    std::byte{0xFF},
                                             std::byte{0xFF}, std::byte{0},    std::byte{0}};
    EXPECT_EQ(std::vector<std::byte>(r.bytes().begin(), r.bytes().end()), expected);

    r.set(StatusRecord::statusCode, -2);
    EXPECT_EQ(std::tuple(slice(r.bytes(), 4, 4), r.get(StatusRecord::statusCode)),
              std::tuple(le32(-2), -2));
    r.set(StatusRecord::dialogActive, false);
    EXPECT_EQ(slice(r.bytes(), 8, 2), (std::vector<std::byte>{std::byte{0}, std::byte{0}}));

    // Any non-zero 16-bit value received counts as true.
    std::vector<std::byte> received(12);
    received[8] = std::byte{1};
    r.assign(received);
    EXPECT_TRUE(r.get(StatusRecord::dialogActive));
}

TEST(Records, AnsiTextFieldsAreConvertedCutAndNulPadded) {
    SensorInfoRecord r;
    // Pre-fill the field to see the padding overwrite it.
    r.set(SensorInfoRecord::name, std::string(64, 'x'));
    r.set(SensorInfoRecord::name,
          "Gr\xC3\xB6\xC3\x9F"
          "e 2");  // "Größe 2" in UTF-8
    const auto b = r.bytes();
    // ö and ß in Windows-1252.
    EXPECT_EQ(
        std::tuple(b[16], b[18], b[19], b[16 + 7], b[16 + 63]),
        std::tuple(std::byte{'G'}, std::byte{0xF6}, std::byte{0xDF}, std::byte{0}, std::byte{0}));
    EXPECT_EQ(r.get(SensorInfoRecord::name),
              "Gr\xC3\xB6\xC3\x9F"
              "e 2");

    // Too long: cut to the field, with no terminator, and the next field untouched.
    r.set(SensorInfoRecord::showAsTool, true);
    r.set(SensorInfoRecord::name, std::string(100, 'a'));
    EXPECT_EQ(std::tuple(r.get(SensorInfoRecord::name), r.get(SensorInfoRecord::showAsTool), b[80]),
              std::tuple(std::string(64, 'a'), true, std::byte{0xFF}));
}

TEST(Records, ExtendedStatusTextIsUtf16CutOrBlankPadded) {
    ExStatusRecord r;
    r.set(ExStatusRecord::infoText, u"abc");
    const auto b = r.bytes();
    EXPECT_EQ(std::tuple(b[10], b[11], b[14], b[254], b[255]),
              std::tuple(std::byte{'a'}, std::byte{0}, std::byte{'c'}, std::byte{0}, std::byte{0}));
    for (std::size_t i = 3; i < 122; ++i)
        ASSERT_EQ(std::pair(b[10 + 2 * i], b[11 + 2 * i]), std::pair(std::byte{' '}, std::byte{0}))
            << i;

    std::u16string longText;
    for (int i = 0; i < 200; ++i)
        longText += static_cast<char16_t>(u'A' + i % 26);
    r.set(ExStatusRecord::infoText, longText);
    EXPECT_EQ(std::tuple(r.get(ExStatusRecord::infoText), b[254]),
              std::tuple(longText.substr(0, 122), std::byte{0}));
    r.set(ExStatusRecord::infoText, u"\u20AC");  // beyond Latin-1 travels as is
    EXPECT_EQ(std::tuple(b[10], b[11]), std::tuple(std::byte{0xAC}, std::byte{0x20}));
}

TEST(Records, TheLayoutCheckRejectsGapsOverlapsAndMisalignment) {
    constexpr std::array good{FieldSpec{0, 4, FieldKind::Int32}, FieldSpec{4, 2, FieldKind::Bool16},
                              FieldSpec{6, 2, FieldKind::Zero}};
    static_assert(layoutCovers(good, 8));
    EXPECT_FALSE(layoutCovers(good, 12));  // short of the record's end
    constexpr std::array gap{FieldSpec{0, 4, FieldKind::Int32}, FieldSpec{6, 2, FieldKind::Zero}};
    EXPECT_FALSE(layoutCovers(gap, 8));
    constexpr std::array overlap{FieldSpec{0, 4, FieldKind::Int32},
                                 FieldSpec{2, 6, FieldKind::Zero}};
    EXPECT_FALSE(layoutCovers(overlap, 8));
    constexpr std::array misaligned{FieldSpec{0, 2, FieldKind::Bool16},
                                    FieldSpec{2, 4, FieldKind::Int32},
                                    FieldSpec{6, 2, FieldKind::Zero}};
    EXPECT_FALSE(layoutCovers(misaligned, 8));
}

TEST(Vocabulary, CommandNames) {
    // Codes 0 to 33 in order, "?" where a code has no name.
    const std::string expected =
        "EnumeratePlugIns RegisterPlugIn InitializePlugin ShutdownPlugin GetInformation "
        "GetCapabilities GetStatus ActiveSecondsLeft ActiveTime ? ActivateSetup GetSettings "
        "SetSettings ? ? ? ? ? ? ? ActivateCapture ImageCaptured ImageStored StopCapture "
        "ImageCapturedEx ? ? ? ? ? GetSensorCount GetSensorInformation GetHWInformation ?";
    const std::string unknown = "* U-N-K-N-O-W-N *";
    std::string names;
    for (int code = 0; code <= 33; ++code) {
        const std::string name = CommandName(code);
        names += (code ? " " : "") + (name == unknown ? "?" : name);
    }
    EXPECT_EQ(names, expected);
    for (int code : {-1, 0x7FFFFFFF})
        EXPECT_EQ(CommandName(code), unknown) << code;
}

TEST(Vocabulary, StatusNamesAndAcceptedCommands) {
    EXPECT_EQ(std::tuple(StatusName(0), StatusName(16), StatusName(32), StatusName(64),
                         StatusName(32768)),
              std::tuple("Un-Initialized", "Idle", "Busy", "Active", "Error(undef)"));
    for (int code : {1, 48, -1, 65536})
        EXPECT_EQ(StatusName(code), "Undefined status code");

    std::vector<int> accepted;
    for (int code = -5; code <= 40; ++code)
        if (isAcceptedCommand(code)) accepted.push_back(code);
    EXPECT_EQ(accepted, (std::vector<int>{2, 3, 4, 5, 6, 10, 11, 12, 20, 22, 23, 30, 31}));
}

}  // namespace
}  // namespace quilo::host
