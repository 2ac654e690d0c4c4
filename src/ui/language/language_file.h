// The language file format: lines of "<number> <text>" in the ANSI code page. Blank lines,
// lines beginning with ";" or "#" and lines without a space are not entries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quilo::ui {

struct LanguageEntry {
    std::int32_t number = 0;
    std::string text;  // UTF-8
};

// Error numbers of a failed load, with the descriptions the messages use.
namespace lang_error {
inline constexpr long kOverflow = 6;
inline constexpr long kOutOfMemory = 7;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kFileNotFound = 53;
inline constexpr long kDeviceIo = 57;
const char* description(long number);
}  // namespace lang_error

struct ParsedLanguage {
    // One slot per entry line of the file, in file order. After a failing line the remaining
    // slots stay empty (number 0, empty text).
    std::vector<LanguageEntry> entries;
    long error = 0;          // 0, lang_error::kTypeMismatch or lang_error::kOverflow
    std::string failedLine;  // the line that stopped the load (UTF-8)
};

// True for a line that holds an entry.
bool isEntryLine(std::string_view line);

// The number part of an entry ("12 " gives 12): blanks around a decimal number, which may have
// a sign, a fraction and an exponent and is rounded half to even. Nothing for text that is not
// a number; `overflow` is set for a number outside the 32-bit range.
std::optional<std::int32_t> parseEntryNumber(std::string_view part, bool& overflow);

// Splits a file's bytes into lines (CR LF, LF or CR end a line).
std::vector<std::string_view> splitLines(std::string_view bytes);

// Reads a whole file in two passes: the first counts the entry lines, the second fills them.
// In translator mode each text is prefixed with its number: "3050* Scan", or "3050*" for an
// empty text.
ParsedLanguage parseLanguageFile(std::string_view ansiBytes, bool translatorMode);

}  // namespace quilo::ui
