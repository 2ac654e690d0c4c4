// Text at the Win32 API's edge: the program speaks UTF-8, the "A" functions the ANSI code page
// and the "W" functions UTF-16. The backend converts with these, and so does the Windows code
// beside it (the forms renderer, the Windows test programs).
#pragma once

#include <string>
#include <string_view>

namespace quilo::platform::win32 {

std::string utf8ToAcp(std::string_view utf8);
std::string acpToUtf8(std::string_view acp);
std::wstring utf8ToWide(std::string_view utf8);
std::string wideToUtf8(std::wstring_view wide);

}  // namespace quilo::platform::win32
