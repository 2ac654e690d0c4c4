// How setting texts from the registry turn into numbers: the leading number of a text, the
// test whether a whole text is a number, and rounding to the record's integer types.
#pragma once

#include <cstdint>
#include <string_view>

namespace quilo {

// The leading number of a text: blanks before it are skipped, then an optional sign, digits,
// an optional decimal point with digits and an optional exponent ("E" or "D"). A text that does
// not begin with a number gives 0. Only the decimal point "." is a separator; there is no
// hexadecimal form and no thousands separator.
double leadingNumber(std::string_view text);

// True when the whole text, apart from blanks around it, is one number in the form that
// `leadingNumber` reads (at least one digit). Empty text is not numeric.
bool isNumeric(std::string_view text);

// Rounds half to even, as the record's integer conversions do. Values beyond the type's range
// are held at its nearest end: a stray huge number in the registry must not stop the plug-in.
std::int16_t roundToInt16(double value);
std::int32_t roundToInt32(double value);

}  // namespace quilo
