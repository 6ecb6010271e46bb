#include "decimal.h"

#include <gtest/gtest.h>

#include <string>

namespace firmstep {
namespace {

TEST(Decimal, ConvertsLikeAtoi)
{
    struct Case {
        const char* text;
        std::int32_t expected;
    } cases[] = {
        {"", 0},          {"abc", 0},     {"-", 0},      {"+", 0},           {"42", 42},
        {"  \t42xyz", 42}, {"-17", -17},  {"+7", 7},     {"4096bytes", 4096}, {"1e3", 1},
        {"- 5", 0},       {"0x10", 0},    {"007", 7},    {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseDecimal(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(ParseDecimal(nullptr), 0);
}

TEST(Decimal, OutOfRangeSaturatesInsteadOfOverflowing)
{
    EXPECT_EQ(ParseDecimal("2147483648"), 2147483647);
    EXPECT_EQ(ParseDecimal("-2147483649"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimal(std::string(5000, '7').c_str()), 2147483647);
    EXPECT_EQ(ParseDecimal(("-" + std::string(5000, '7')).c_str()), -2147483647 - 1);
}

TEST(Decimal, LowByteKeepsTheLowEightBits)
{
    EXPECT_EQ(LowByte(7), 7);
    EXPECT_EQ(LowByte(256), 0);
    EXPECT_EQ(LowByte(264), 8);
    EXPECT_EQ(LowByte(-1), 255);
    EXPECT_EQ(LowByte(-2147483647 - 1), 0);
}

}  // namespace
}  // namespace firmstep
