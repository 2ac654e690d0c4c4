// Text conversion at the program's edges: ANSI (Windows-1252) in records and files, UTF-16 in
// the extended status, UTF-8 inside.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <tuple>

#include "core/error.h"
#include "core/text.h"

namespace quilo {
namespace {

TEST(Text, AnsiRoundTripsEveryDefinedByte) {
    for (int b = 1; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
        const std::string ansi(1, static_cast<char>(b));
        EXPECT_EQ(utf8ToAnsi(ansiToUtf8(ansi)), ansi) << "byte " << b;
    }
}

TEST(Text, AnsiKnowsTheWindowsPunctuationAndReplacesTheRest) {
    EXPECT_EQ(ansiToUtf8("\x80 Zahn\xE4rzte"), "\xE2\x82\xAC Zahn\xC3\xA4rzte");
    EXPECT_EQ(utf8ToAnsi("\xE2\x80\x9Cx\xE2\x80\x9D"), "\x93x\x94");
    // Characters the code page lacks, and broken UTF-8, become '?'.
    EXPECT_EQ(utf8ToAnsi("\xE2\x88\x9A \xC3"), "? ?");
    EXPECT_EQ(ansiToUtf8("\x81"), "\xEF\xBF\xBD");
}

TEST(Text, Utf16RoundTripsSurrogatePairsAndRepairsLoneOnes) {
    const std::string text = "Z\xC3\xA4hne \xF0\x9F\xA6\xB7 \xE2\x82\xAC";
    const std::u16string units = utf8ToUtf16(text);
    EXPECT_EQ(units.size(), 10u);  // the tooth needs a surrogate pair
    EXPECT_EQ(utf16ToUtf8(units), text);
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf16ToUtf8(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
}

TEST(Error, FormatsNumberDescriptionSourceAndPlace) {
    const RuntimeError e(1026, "No FileName OR lMemImg supplied", "XrayIfc");
    EXPECT_EQ(formatError(e, "clsPlugin.SendLeadImageEx"),
              "Error: 1026\r\nNo FileName OR lMemImg supplied\r\n\r\n(Source:XrayIfc)\r\n"
              "In: clsPlugin.SendLeadImageEx()");
}

TEST(Error, EveryExceptionGetsTheOneNumberingAndKeepsItsText) {
    const auto caught = [](auto thrown) {
        try {
            throw thrown;
        } catch (...) {
            return currentError("Here");
        }
    };
    const RuntimeError own = caught(RuntimeError(75, "Path/File access error", "SensorAPI"));
    const RuntimeError memory = caught(std::bad_alloc());
    const RuntimeError other = caught(std::out_of_range("vector"));
    const RuntimeError foreign = caught(42);
    const std::tuple<long, std::string, std::string> expected[] = {
        {75, "Path/File access error", "SensorAPI"},
        {kErrOutOfMemory, "Out of memory", "Here"},
        {kErrInternal, "vector", "Here"},
        {kErrInternal, "Unknown error", "Here"}};
    const RuntimeError* got[] = {&own, &memory, &other, &foreign};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::make_tuple(got[i]->number(), got[i]->description(), got[i]->source()),
                  expected[i])
            << i;
    }
}

TEST(Text, UpperTouchesOnlyAsciiLetters) {
    EXPECT_EQ(upper("intra Zahn-\xE4 1a"), "INTRA ZAHN-\xE4 1A");
}

}  // namespace
}  // namespace quilo
