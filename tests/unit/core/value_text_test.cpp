// Turning stored setting texts into numbers.
#include "core/value_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace quilo {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// "1e": an exponent without digits is not part of the number.
TEST(LeadingNumber, ReadsTheNumberAtTheStartAndIsZeroWithoutOne) {
    const std::pair<const char*, double> table[] = {
        {"12", 12}, {"  -7", -7},    {"+3", 3},         {"12abc", 12}, {"2.5%", 2.5}, {".5", 0.5},
        {"5.", 5},  {"1e3", 1000},   {"1D2", 100},      {"10 20", 10}, {"1e", 1},     {"", 0},
        {"abc", 0}, {"-", 0},        {".", 0},          {"x12", 0},    {"0x10", 0},   {"inf", 0},
        {"nan", 0}, {"1e999", kInf}, {"-1e999", -kInf}, {"1e-999", 0}};
    for (const auto& [text, number] : table)
        EXPECT_EQ(leadingNumber(text), number) << '"' << text << '"';
}

TEST(IsNumeric, WholeTextMustBeOneNumber) {
    for (const char* yes : {"3", " 3 ", "-2.5", "1E2"})
        EXPECT_TRUE(isNumeric(yes)) << yes;
    for (const char* no : {"", "   ", "abc", "3x", "3 4", "-"})
        EXPECT_FALSE(isNumeric(no)) << no;
}

TEST(Rounding, HalvesGoToTheEvenNeighbourAndOutOfRangeIsHeldAtTheTypesEnds) {
    using I32 = std::numeric_limits<std::int32_t>;
    for (const auto& [x, n] : std::initializer_list<std::pair<double, std::int32_t>>{
             {2.5, 2},
             {3.5, 4},
             {-2.5, -2},
             {2.4999, 2},
             {1e12, I32::max()},
             {-kInf, I32::min()},
             {std::numeric_limits<double>::quiet_NaN(), 0}})
        EXPECT_EQ(roundToInt32(x), n) << x;
    for (const auto& [x, n] : std::initializer_list<std::pair<double, std::int16_t>>{
             {0.5, 0}, {1.5, 2}, {40000, 32767}, {-40000, -32768}})
        EXPECT_EQ(roundToInt16(x), n) << x;
}

}  // namespace
}  // namespace quilo
