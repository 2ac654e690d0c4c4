// The language files we ship: every number the program uses has a text in each of them, and
// the files are what the loader reads (Windows-1252 text, every line an entry or a comment).
// The numbers come from the named list in text_ids.h and from the sources themselves: literal
// numbers given to LangText and literal tags given to controls must be in that list too.
#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "ui/language/language_file.h"
#include "ui/text_ids.h"

namespace quilo::ui {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = QUILO_SOURCE_DIR;
const char* const kLanguages[] = {"English", "German", "Swedish"};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

fs::path languageFile(const std::string& language) {
    return kSourceDir / "lang" / ("Quilo Plugin_" + language + ".lan");
}

std::map<std::int32_t, std::string> entriesOf(const std::string& language) {
    const auto parsed = parseLanguageFile(readFile(languageFile(language)), false);
    EXPECT_EQ(parsed.error, 0) << language << ": " << parsed.failedLine;
    std::map<std::int32_t, std::string> out;
    for (const auto& e : parsed.entries) {
        EXPECT_TRUE(out.emplace(e.number, e.text).second)
            << language << ": number " << e.number << " appears twice";
    }
    return out;
}

// The number written at `pos` (blanks before it skipped) in quotes when `quoted`, else before
// a closing parenthesis; 0 when something else stands there.
std::int32_t numberAt(const std::string& text, std::size_t pos, bool quoted) {
    pos = text.find_first_not_of(' ', pos);
    if (pos == std::string::npos || (quoted && text[pos++] != '"')) return 0;
    const std::size_t end = text.find_first_not_of("-0123456789", pos);
    const std::size_t close = quoted ? end : text.find_first_not_of(' ', end);
    if (close == std::string::npos || text[close] != (quoted ? '"' : ')')) return 0;
    std::int32_t n = 0;
    const auto [last, error] = std::from_chars(text.data() + pos, text.data() + end, n);
    return error == std::errc{} && last == text.data() + end ? n : 0;
}

// Numbers written as literals in the program's sources: LangText(123), langText(123), and
// control tags set to a number: setTag("3050"), and tabs given a numeric tag as the last
// argument of addTab(...) or setTabTag(...).
std::set<std::int32_t> literalNumbersInSources() {
    std::set<std::int32_t> found;
    for (const auto& entry : fs::recursive_directory_iterator(kSourceDir / "src")) {
        const auto ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
        const std::string text = readFile(entry.path());
        for (const std::string call :
             {"LangText(", "langText(", "setTag(", "addTab(", "setTabTag("}) {
            const bool lastArgument = call == "addTab(" || call == "setTabTag(";
            for (auto pos = text.find(call); pos != std::string::npos;
                 pos = text.find(call, pos + 1)) {
                const auto close = text.find(')', pos), comma = text.rfind(',', close);
                const bool noComma = close == std::string::npos || comma == std::string::npos;
                if (lastArgument && (noComma || comma < pos)) continue;
                const auto at = lastArgument ? comma + 1 : pos + call.size();
                if (const auto n = numberAt(text, at, call.find("angText") == std::string::npos))
                    found.insert(n);
            }
        }
    }
    return found;
}

TEST(ShippedLanguages, EveryUsedNumberHasATextInEveryFile) {
    for (const char* language : kLanguages) {
        const auto entries = entriesOf(language);
        for (std::int32_t n : txt::kAllTextNumbers) {
            auto it = entries.find(n);
            ASSERT_NE(it, entries.end()) << language << " lacks " << n;
            EXPECT_FALSE(it->second.empty()) << language << ": " << n << " is empty";
        }
        for (std::int32_t n : txt::kToolTipNumbers)
            EXPECT_TRUE(entries.contains(n)) << language << " lacks tool tip " << n;
    }
}

TEST(ShippedLanguages, NumbersWrittenInTheSourcesAreInTheNamedList) {
    const std::set<std::int32_t> named(txt::kAllTextNumbers.begin(), txt::kAllTextNumbers.end());
    const auto literal = literalNumbersInSources();
    for (std::int32_t n : literal)
        EXPECT_TRUE(named.contains(n)) << n << " is used in the sources but not in text_ids.h";
    // The search itself works: the sources in this tree use at least the product title.
    EXPECT_TRUE(literal.contains(txt::kProductTitle));
}

TEST(ShippedLanguages, TranslationsAreCompleteAndKeepTheModelPlaceholder) {
    const auto english = entriesOf("English");
    for (const char* language : {"German", "Swedish"}) {
        const auto other = entriesOf(language);
        for (const auto& [n, text] : english)
            EXPECT_TRUE(other.contains(n)) << language << " lacks " << n;
        for (const auto& [n, text] : other)
            EXPECT_TRUE(english.contains(n)) << language << " has " << n << " that English lacks";
        for (std::int32_t n : txt::kModelTemplateNumbers)
            EXPECT_NE(other.at(n).find("XXX"), std::string::npos) << language << " " << n;
        // A translation, not a copy: most texts differ from the English ones.
        int same = 0;
        for (const auto& [n, text] : english)
            same += other.at(n) == text ? 1 : 0;
        EXPECT_LT(same, static_cast<int>(english.size()) / 4) << language;
    }
    for (std::int32_t n : txt::kModelTemplateNumbers)
        EXPECT_NE(english.at(n).find("XXX"), std::string::npos) << n;
}

TEST(ShippedLanguages, FilesAreWindows1252TextWithEntriesOrComments) {
    for (const char* language : kLanguages) {
        const std::string bytes = readFile(languageFile(language));
        ASSERT_FALSE(bytes.empty()) << language;
        EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << language << " starts with a UTF-8 mark";
        for (unsigned char b : bytes) {
            // Bytes that Windows-1252 leaves undefined, and control characters, do not belong.
            EXPECT_FALSE(b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
                << language << " byte " << int(b);
            EXPECT_FALSE(b < 0x20 && b != '\r' && b != '\n') << language << " byte " << int(b);
        }
        // A UTF-8 encoded umlaut would show as two characters: none may slip in.
        EXPECT_EQ(bytes.find("\xC3"), std::string::npos) << language;
        for (auto line : splitLines(bytes)) {
            const bool comment = !line.empty() && (line[0] == ';' || line[0] == '#');
            EXPECT_TRUE(line.empty() || comment || isEntryLine(line)) << language << ": " << line;
        }
    }
}

}  // namespace
}  // namespace quilo::ui
