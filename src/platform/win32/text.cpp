// UTF-8 at the program's side, the ANSI code page and UTF-16 at the API's side.
#include "platform/win32/text.h"

#include <windows.h>

namespace quilo::platform::win32 {

namespace {

bool isAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::wstring toWide(UINT codePage, std::string_view s) {
    if (s.empty()) return {};
    const int n =
        MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string fromWide(UINT codePage, std::wstring_view w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

}  // namespace

std::string utf8ToAcp(std::string_view utf8) {
    if (isAscii(utf8)) return std::string(utf8);
    return fromWide(CP_ACP, toWide(CP_UTF8, utf8));
}

std::string acpToUtf8(std::string_view acp) {
    if (isAscii(acp)) return std::string(acp);
    return fromWide(CP_UTF8, toWide(CP_ACP, acp));
}

std::wstring utf8ToWide(std::string_view utf8) {
    return toWide(CP_UTF8, utf8);
}

std::string wideToUtf8(std::wstring_view wide) {
    return fromWide(CP_UTF8, wide);
}

}  // namespace quilo::platform::win32
