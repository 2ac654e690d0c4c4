// Turning stored setting texts into numbers.
#include "core/value_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace quilo {
namespace {

TEST(LeadingNumber, ReadsTheNumberAtTheStartAndIgnoresTheRest) {
    EXPECT_EQ(leadingNumber("12"), 12);
    EXPECT_EQ(leadingNumber("  -7"), -7);
    EXPECT_EQ(leadingNumber("+3"), 3);
    EXPECT_EQ(leadingNumber("12abc"), 12);
    EXPECT_EQ(leadingNumber("2.5%"), 2.5);
    EXPECT_EQ(leadingNumber(".5"), 0.5);
    EXPECT_EQ(leadingNumber("5."), 5);
    EXPECT_EQ(leadingNumber("1e3"), 1000);
    EXPECT_EQ(leadingNumber("1D2"), 100);
    EXPECT_EQ(leadingNumber("1e"), 1);  // an exponent without digits is not part of it
    EXPECT_EQ(leadingNumber("10 20"), 10);
}

TEST(LeadingNumber, TextWithoutALeadingNumberIsZero) {
    EXPECT_EQ(leadingNumber(""), 0);
    EXPECT_EQ(leadingNumber("abc"), 0);
    EXPECT_EQ(leadingNumber("-"), 0);
    EXPECT_EQ(leadingNumber("."), 0);
    EXPECT_EQ(leadingNumber("x12"), 0);
    EXPECT_EQ(leadingNumber("0x10"), 0);
    EXPECT_EQ(leadingNumber("inf"), 0);
    EXPECT_EQ(leadingNumber("nan"), 0);
}

TEST(LeadingNumber, HugeAndTinyExponents) {
    EXPECT_EQ(leadingNumber("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(leadingNumber("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(leadingNumber("1e-999"), 0);
}

TEST(IsNumeric, WholeTextMustBeOneNumber) {
    EXPECT_TRUE(isNumeric("3"));
    EXPECT_TRUE(isNumeric(" 3 "));
    EXPECT_TRUE(isNumeric("-2.5"));
    EXPECT_TRUE(isNumeric("1E2"));
    EXPECT_FALSE(isNumeric(""));
    EXPECT_FALSE(isNumeric("   "));
    EXPECT_FALSE(isNumeric("abc"));
    EXPECT_FALSE(isNumeric("3x"));
    EXPECT_FALSE(isNumeric("3 4"));
    EXPECT_FALSE(isNumeric("-"));
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(roundToInt32(2.5), 2);
    EXPECT_EQ(roundToInt32(3.5), 4);
    EXPECT_EQ(roundToInt32(-2.5), -2);
    EXPECT_EQ(roundToInt32(2.4999), 2);
    EXPECT_EQ(roundToInt16(0.5), 0);
    EXPECT_EQ(roundToInt16(1.5), 2);
}

TEST(Rounding, OutOfRangeIsHeldAtTheTypesEnds) {
    EXPECT_EQ(roundToInt16(40000), 32767);
    EXPECT_EQ(roundToInt16(-40000), -32768);
    EXPECT_EQ(roundToInt32(1e12), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(roundToInt32(-std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(roundToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
}

}  // namespace
}  // namespace quilo
