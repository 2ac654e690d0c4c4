#include "core/value_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace quilo {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Scans a number at the start of `text` (after blanks). Returns the count of characters that
// belong to it (0 when there is no digit) and writes its canonical form ("-12.5e3") to `out`.
std::size_t scanNumber(std::string_view text, std::string& out) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    out.clear();
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') out += '-';
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        out += text[i++];
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1;
        std::string fraction;
        while (j < text.size() && isDigit(text[j]))
            fraction += text[j++];
        if (digits > 0 || !fraction.empty()) {
            if (digits == 0) out += '0';
            out += '.';
            out += fraction.empty() ? "0" : fraction;
            digits += fraction.size();
            i = j;
        }
    }
    if (digits == 0) {
        out.clear();
        return 0;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        std::size_t expDigits = 0;
        while (j < text.size() && isDigit(text[j])) {
            exponent += text[j++];
            ++expDigits;
        }
        if (expDigits > 0) {
            out += exponent;
            i = j;
        }
    }
    return i;
}

double toDouble(const std::string& canonical) {
    double value = 0.0;
    const auto result =
        std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large gives an infinity of the right sign, too small gives zero.
        const bool negative = !canonical.empty() && canonical.front() == '-';
        const auto e = canonical.find('e');
        const bool tiny =
            e != std::string::npos && e + 1 < canonical.size() && canonical[e + 1] == '-';
        if (tiny) return 0.0;
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    return value;
}

template <typename T>
T roundTo(double value) {
    if (std::isnan(value)) return 0;
    const double rounded = std::nearbyint(value);  // the default mode rounds half to even
    if (rounded <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (rounded >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(rounded);
}

}  // namespace

double leadingNumber(std::string_view text) {
    std::string canonical;
    if (scanNumber(text, canonical) == 0) return 0.0;
    return toDouble(canonical);
}

bool isNumeric(std::string_view text) {
    std::string canonical;
    std::size_t used = scanNumber(text, canonical);
    if (used == 0) return false;
    while (used < text.size() && isBlank(text[used]))
        ++used;
    return used == text.size();
}

std::int16_t roundToInt16(double value) {
    return roundTo<std::int16_t>(value);
}
std::int32_t roundToInt32(double value) {
    return roundTo<std::int32_t>(value);
}

}  // namespace quilo
