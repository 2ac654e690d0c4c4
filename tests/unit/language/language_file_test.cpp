// The language file format, without any file system.
#include "ui/language/language_file.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace quilo::ui {
namespace {

TEST(LanguageFile, WhichLinesAreEntries) {
    // An entry has a space after its number part; " 100 x" is one whose number part is blank.
    for (const char* line : {"100 Title", "100 ", " 100 leading space"})
        EXPECT_TRUE(isEntryLine(line)) << line;
    for (const char* line : {"", "100", "100\tTitle", "; 100 comment", "#100 comment"})
        EXPECT_FALSE(isEntryLine(line)) << line;
}

TEST(LanguageFile, NumberPart) {
    bool overflow = false;
    EXPECT_EQ(parseEntryNumber("3050 ", overflow), 3050);
    EXPECT_EQ(parseEntryNumber("  -12  ", overflow), -12);
    EXPECT_EQ(parseEntryNumber("+7 ", overflow), 7);
    EXPECT_EQ(parseEntryNumber("2.5 ", overflow), 2);
    EXPECT_EQ(parseEntryNumber("3.5 ", overflow), 4);
    EXPECT_EQ(parseEntryNumber("1e3 ", overflow), 1000);
    EXPECT_EQ(parseEntryNumber("2147483647 ", overflow), 2147483647);
    EXPECT_EQ(parseEntryNumber("-2147483648 ", overflow), -2147483647 - 1);
    EXPECT_FALSE(overflow);
    EXPECT_FALSE(parseEntryNumber("2147483648 ", overflow));
    EXPECT_TRUE(overflow);
    EXPECT_FALSE(parseEntryNumber("1e400 ", overflow));
    EXPECT_TRUE(overflow);
    for (const char* bad : {" ", "", "12a ", "a12 ", "1-2 ", ". ", "1e ", "0x10 ", "inf "}) {
        EXPECT_FALSE(parseEntryNumber(bad, overflow)) << bad;
        EXPECT_FALSE(overflow) << bad;
    }
}

TEST(LanguageFile, LineEnds) {
    EXPECT_EQ(splitLines("a\r\nb\nc\rd\r\n\r\ne"),
              (std::vector<std::string_view>{"a", "b", "c", "d", "", "e"}));
    EXPECT_TRUE(splitLines("").empty());
    EXPECT_EQ(splitLines("x\r\n").size(), 1u);
}

TEST(LanguageFile, EntriesKeepFileOrderTextsAndDuplicates) {
    const auto p = parseLanguageFile(
        "; comment 1 x\r\n#2 also a comment\r\n100 First  title \r\n200\r\n300 \r\n\r\n"
        "100 Second\r\n7 a b c",
        false);
    EXPECT_EQ(p.error, 0);
    ASSERT_EQ(p.entries.size(), 4u);
    EXPECT_EQ(p.entries[0].number, 100);
    EXPECT_EQ(p.entries[0].text, "First  title ");  // nothing trimmed
    EXPECT_EQ(p.entries[1].number, 300);
    EXPECT_EQ(p.entries[1].text, "");
    EXPECT_EQ(p.entries[2].text, "Second");
    EXPECT_EQ(p.entries[3].text, "a b c");
}

TEST(LanguageFile, TextsAreConvertedFromTheAnsiCodePage) {
    const auto p = parseLanguageFile(
        "3140 Schlie\xDF"
        "en \x80 \x93ok\x94",
        false);
    ASSERT_EQ(p.entries.size(), 1u);
    EXPECT_EQ(p.entries[0].text, "Schließen € “ok”");
}

TEST(LanguageFile, ANonNumericNumberStopsAtThatLine) {
    const auto p = parseLanguageFile("100 A\n200 B\n2O0 C\n300 D\n", false);
    EXPECT_EQ(p.error, lang_error::kTypeMismatch);
    EXPECT_EQ(p.failedLine, "2O0 C");
    ASSERT_EQ(p.entries.size(), 4u);  // counted in the first pass
    EXPECT_EQ(p.entries[1].text, "B");
    EXPECT_EQ(p.entries[2].number, 0);
    EXPECT_EQ(p.entries[2].text, "");
    EXPECT_EQ(p.entries[3].number, 0);
    EXPECT_EQ(p.entries[3].text, "");
}

}  // namespace
}  // namespace quilo::ui
