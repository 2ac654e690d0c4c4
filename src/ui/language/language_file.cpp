#include "ui/language/language_file.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "core/text.h"

namespace quilo::ui {

const char* lang_error::description(long number) {
    switch (number) {
        case kOverflow:
            return "Overflow";
        case kOutOfMemory:
            return "Out of memory";
        case kTypeMismatch:
            return "Type mismatch";
        case kFileNotFound:
            return "File not found";
        case kDeviceIo:
            return "Device I/O error";
        default:
            return "Application-defined or object-defined error";
    }
}

bool isEntryLine(std::string_view line) {
    if (line.empty()) return false;
    if (line.front() == ';' || line.front() == '#') return false;
    return line.find(' ') != std::string_view::npos;
}

std::optional<std::int32_t> parseEntryNumber(std::string_view part, bool& overflow) {
    overflow = false;
    while (!part.empty() && part.front() == ' ')
        part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ')
        part.remove_suffix(1);
    // Check the form: [sign] digits [. digits] [e [sign] digits], at least one digit.
    std::size_t i = 0;
    const auto digit = [&](std::size_t k) {
        return k < part.size() && part[k] >= '0' && part[k] <= '9';
    };
    if (i < part.size() && (part[i] == '+' || part[i] == '-')) ++i;
    std::size_t digits = 0;
    while (digit(i)) {
        ++i;
        ++digits;
    }
    if (i < part.size() && part[i] == '.') {
        ++i;
        while (digit(i)) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < part.size() && (part[i] == 'e' || part[i] == 'E')) {
        ++i;
        if (i < part.size() && (part[i] == '+' || part[i] == '-')) ++i;
        if (!digit(i)) return std::nullopt;
        while (digit(i))
            ++i;
    }
    if (i != part.size()) return std::nullopt;

    std::string_view body = part;
    if (!body.empty() && body.front() == '+') body.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(body.data(), body.data() + body.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Either far too large (overflow) or so small that it is 0.
        const auto e = body.find_first_of("eE");
        if (e != std::string_view::npos && e + 1 < body.size() && body[e + 1] == '-') return 0;
        overflow = true;
        return std::nullopt;
    }
    if (result.ec != std::errc{}) return std::nullopt;
    const double rounded = std::nearbyint(value);  // half to even
    if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        overflow = true;
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rounded);
}

std::vector<std::string_view> splitLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            lines.push_back(bytes.substr(start, i - start));
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < bytes.size()) lines.push_back(bytes.substr(start));
    return lines;
}

ParsedLanguage parseLanguageFile(std::string_view ansiBytes, bool translatorMode) {
    const auto lines = splitLines(ansiBytes);
    ParsedLanguage parsed;

    std::size_t count = 0;
    for (auto line : lines) {
        if (isEntryLine(line)) ++count;
    }
    parsed.entries.resize(count);

    std::size_t k = 0;
    for (auto line : lines) {
        if (!isEntryLine(line)) continue;
        const auto space = line.find(' ');
        bool overflow = false;
        const auto number = parseEntryNumber(line.substr(0, space + 1), overflow);
        if (!number) {
            parsed.error = overflow ? lang_error::kOverflow : lang_error::kTypeMismatch;
            parsed.failedLine = ansiToUtf8(line);
            return parsed;
        }
        LanguageEntry& entry = parsed.entries[k++];
        entry.number = *number;
        const std::string text = ansiToUtf8(line.substr(space + 1));
        if (!translatorMode) {
            entry.text = text;
        } else if (text.empty()) {
            entry.text = std::to_string(*number) + "*";
        } else {
            entry.text = std::to_string(*number) + "* " + text;
        }
    }
    return parsed;
}

}  // namespace quilo::ui
