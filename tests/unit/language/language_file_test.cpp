// The language file format, without any file system.
#include "ui/language/language_file.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace quilo::ui {
namespace {

using Entries = std::vector<std::pair<std::int32_t, std::string>>;
Entries entries(const ParsedLanguage& p) {
    Entries out;
    for (const auto& e : p.entries)
        out.emplace_back(e.number, e.text);
    return out;
}

TEST(LanguageFile, WhichLinesAreEntries) {
    // An entry has a space after its number part; " 100 x" is one whose number part is blank.
    for (const char* line : {"100 Title", "100 ", " 100 leading space"})
        EXPECT_TRUE(isEntryLine(line)) << line;
    for (const char* line : {"", "100", "100\tTitle", "; 100 comment", "#100 comment"})
        EXPECT_FALSE(isEntryLine(line)) << line;
}

TEST(LanguageFile, NumberPart) {
    bool overflow = false;
    const std::pair<const char*, int> numbers[] = {
        {"3050 ", 3050}, {"  -12  ", -12}, {"+7 ", 7}, {"2.5 ", 2}, {"3.5 ", 4}, {"1e3 ", 1000}};
    for (const auto& [text, n] : numbers)
        EXPECT_EQ(parseEntryNumber(text, overflow), n) << text;
    EXPECT_EQ(std::tuple(parseEntryNumber("2147483647 ", overflow),
                         parseEntryNumber("-2147483648 ", overflow), overflow),
              std::tuple(INT32_MAX, INT32_MIN, false));
    for (const char* big : {"2147483648 ", "1e400 "}) {
        overflow = false;
        EXPECT_EQ(std::tuple(parseEntryNumber(big, overflow).has_value(), overflow),
                  std::tuple(false, true))
            << big;
    }
    for (const char* bad : {" ", "", "12a ", "a12 ", "1-2 ", ". ", "1e ", "0x10 ", "inf "})
        EXPECT_EQ(std::tuple(parseEntryNumber(bad, overflow).has_value(), overflow),
                  std::tuple(false, false))
            << bad;
}

TEST(LanguageFile, LineEnds) {
    EXPECT_EQ(splitLines("a\r\nb\nc\rd\r\n\r\ne"),
              (std::vector<std::string_view>{"a", "b", "c", "d", "", "e"}));
    EXPECT_EQ(std::tuple(splitLines("").size(), splitLines("x\r\n").size()), std::tuple(0u, 1u));
}

TEST(LanguageFile, EntriesKeepFileOrderTextsAndDuplicates) {
    const auto p = parseLanguageFile(
        "; comment 1 x\r\n#2 also a comment\r\n100 First  title \r\n200\r\n300 \r\n\r\n"
        "100 Second\r\n7 a b c",
        false);
    EXPECT_EQ(p.error, 0);
    EXPECT_EQ(entries(p),
              (Entries{{100, "First  title "}, {300, ""}, {100, "Second"}, {7, "a b c"}}))
        << "nothing trimmed";
}

TEST(LanguageFile, TextsAreConvertedFromTheAnsiCodePage) {
    const auto p = parseLanguageFile(
        "3140 Schlie\xDF"
        "en \x80 \x93ok\x94",
        false);
    ASSERT_EQ(p.entries.size(), 1u);
    EXPECT_EQ(p.entries[0].text, "Schließen € “ok”");
}

}  // namespace
}  // namespace quilo::ui
