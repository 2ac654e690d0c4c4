// Text at the program's edges: inside it strings are UTF-8; host records, language files and
// the "A" API calls use the ANSI code page (Windows-1252), the extended status UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace quilo {

// UTF-8 to Windows-1252; characters the code page lacks become '?'.
std::string utf8ToAnsi(std::string_view utf8);
// Windows-1252 to UTF-8 (the five undefined bytes map to U+FFFD).
std::string ansiToUtf8(std::string_view ansi);
// UTF-8 to UTF-16 code units; invalid sequences become U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);
// UTF-16 code units to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

// ASCII letters in capitals; every other byte as it is (names are compared this way, whatever
// the user's locale).
std::string upper(std::string_view text);

// Every occurrence of `from` replaced by `to`, left to right, never in replaced text (an empty
// `from` changes nothing).
std::string replaceAll(std::string text, std::string_view from, std::string_view to);

}  // namespace quilo
