// Loading language files in a simulated Windows and looking texts up.
#include <gtest/gtest.h>

#include <string>

#include "support/world.h"
#include "ui/language/language_selector.h"

namespace quilo::ui {
namespace {

constexpr const char* kFolder = "C:\\Program Files\\Kelvora\\Quilo\\";

class LanguageTable : public ::testing::Test {
  protected:
    void writeLanguage(const std::string& language, const std::string& bytes) {
        w.put(std::string(kFolder) + "Quilo Plugin_" + language + ".lan", bytes);
    }
    const std::vector<sim::MessageBoxRecord>& boxes() { return process_.messageBoxes(); }
    std::vector<std::string> texts(std::initializer_list<std::int32_t> numbers) {
        std::vector<std::string> out;
        for (std::int32_t n : numbers)
            out.push_back(table_.LangText(n));
        return out;
    }

    test::TestWorld w;
    sim::SimProcess& process_ = w.proc;
    modLAnguageSelector table_{w.proc.files(), w.proc.process()};
};

TEST_F(LanguageTable, FileNameIsBuiltFromTheProductName) {
    sim::ProcessOptions other;
    other.exePath = "D:\\QuiloPlugin.exe";
    other.version.productName = "Other";
    auto& p = w.world.createProcess(other);
    modLAnguageSelector t(p.files(), p.process());
    EXPECT_EQ(t.languageFilePath("English"), "D:\\Other_English.lan");
}

TEST_F(LanguageTable, LoadsEntriesAndTheFirstOfTwoWins) {
    writeLanguage("English", "; texts\r\n100 XXX Plugin\r\n100 Second\r\n2030 Ready\r\n3060 \r\n");
    table_.Initlanguage("English");
    EXPECT_EQ(std::tuple(boxes().size(), table_.count(), texts({100, 2030, 3060, 4022})),
              std::tuple(0u, 4u, std::vector<std::string>{"XXX Plugin", "Ready", "", ""}));
}

TEST_F(LanguageTable, AMissingLanguageFallsBackToEnglishQuietly) {
    writeLanguage("English", "2030 Ready\r\n");
    table_.Initlanguage("Klingon");
    EXPECT_EQ(std::tuple(boxes().size(), table_.language(), table_.LangText(2030)),
              std::tuple(0u, "English", "Ready"));
}

TEST_F(LanguageTable, NoEnglishEitherGivesOneMessageAndAnEmptyTable) {
    writeLanguage("German", "2030 Bereit\r\n");
    table_.Initlanguage("German");
    ASSERT_EQ(table_.LangText(2030), "Bereit");
    process_.files().removeFile(std::string(kFolder) + "Quilo Plugin_German.lan");

    table_.setTranslatorMode(true);
    table_.Initlanguage("German");
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(std::tuple(boxes()[0].text, boxes()[0].caption, boxes()[0].style),
              std::tuple("Initlanguage: 53 " + std::string(kFolder) +
                             "Quilo Plugin_English.lan File not found",
                         process_.process().version().title, platform::mb::kOk));
    // The table is empty: nothing of the German file is left, not even under the number 0,
    // and an empty table answers empty texts in translator mode too.
    EXPECT_EQ(std::tuple(table_.count(), texts({2030, 0})),
              std::tuple(0u, std::vector<std::string>{"", ""}));
}

// A file that cannot be loaded gives one message naming the fault. The lines before a line
// without a number, or with one too large, are kept; a file too large to read empties the table.
TEST_F(LanguageTable, AFileThatCannotBeLoadedGivesOneMessage) {
    std::string huge = "2030 Ready\r\n";
    huge.resize(kMaxLanguageFileBytes + 1, ';');
    const struct {
        std::string file, box;
        std::int32_t number;
        const char* text;
        std::size_t count;
    } rows[] = {
        {"100 Title\r\n2030 Ready\r\n2O40 Typo\r\n3000 Setup\r\n",
         "13 Type mismatch\r\nCaused when reading the following line: \r\n2O40 Typo", 2030, "Ready",
         4},
        {"100 Title\r\n99999999999 x\r\n", "6 Overflow", 100, "Title", 2},
        {huge, "7 Out of memory", 2030, "", 0},
    };
    for (const auto& r : rows) {
        writeLanguage("English", r.file);
        table_.Initlanguage("English");
        EXPECT_EQ(std::tuple(boxes().size(), boxes().back().text, table_.LangText(r.number),
                             table_.LangText(3000), table_.count()),
                  std::tuple(1 + (&r - rows), "Initlanguage: " + r.box, r.text, "", r.count));
    }
}

TEST_F(LanguageTable, TranslatorModeShowsNumbers) {
    writeLanguage("English", "3050 Scan\r\n3060 \r\n-5 x\r\n");
    table_.setTranslatorMode(true);
    table_.Initlanguage("English");
    EXPECT_EQ(texts({3050, 3060, -5, 4022, 3000, 100, -7}),
              (std::vector<std::string>{"3050* Scan", "3060*", "-5* x", "4022", "", "", "-7"}));
    // Switching translator mode off takes effect with the next load.
    table_.setTranslatorMode(false);
    EXPECT_EQ(table_.LangText(4022), "");
    table_.Initlanguage("English");
    EXPECT_EQ(table_.LangText(3050), "Scan");
}

}  // namespace
}  // namespace quilo::ui
