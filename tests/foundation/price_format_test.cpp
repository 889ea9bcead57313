/* price_format_test.cpp -- price texts and trimmed numbers (numbers.cpp). */
#include "foundation/numbers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "services/services.h"
#include "foundation/settings_table.h"

TEST(FormatPrice, DecimalsOfTheTickAndBondFractions)
{
    /* clang-format off */
    static const struct { double value, tick; int bond, orders; const char *want; } kCases[] = {
        { 99.5, 0.03125, 1, 0, "99'160" },
        { 99.15625, 0.015625, 1, 0, "99'50" },
        { 101.0, 0.00390625, 1, 0, "101'0" },
        { 99.5, 0.03125, 1, 1, "99.50000" },      /* order files get decimals */
        { 99.5, 0.03125, 0, 0, "99.50000" },
        { 99.5, 0.01, 1, 0, "99.50" },            /* 1/100 is no bond tick */
        { 101.2, 0.25, 1, 0, "101.20" },
        { 100.0, 0.0001, 1, 0, "100.0000" },
        { 12.345, 0, 1, 0, "12.345" },            /* no tick: the price's own decimals */
        { 5.0, 0, 1, 0, "5" },
        { 0.123456789, 0, 1, 0, "0.12345679" },  /* at most 8 */
        { 42.7, 1, 1, 0, "43" },
        { -std::numeric_limits<double>::quiet_NaN(), 0.01, 1, 0, "nan" },
    };
    /* clang-format on */
    int32_t savedBond = gSettings.ShowBondPriceFractional, savedOrders = gRun.generatingOrders;
    for (const auto &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.value << " tick " << c.tick);
        gSettings.ShowBondPriceFractional = c.bond;
        gRun.generatingOrders = c.orders;
        char out[NUMBER_TEXT_SIZE];
        int length = FormatPrice(c.value, c.tick, out);
        EXPECT_STREQ(out, c.want);
        EXPECT_EQ(length, (int)strlen(out));
    }
    gSettings.ShowBondPriceFractional = savedBond;
    gRun.generatingOrders = savedOrders;
}

TEST(FormatTrimmedNumber, UpTo15DecimalsWithoutTrailingZeros)
{
    /* clang-format off */
    static const struct { double value; const char *want; } kCases[] = {
        { 0, "0" },
        { 1.5, "1.5" },
        { 100, "100" },
        { -42.25, "-42.25" },
        { 0.25, "0.25" },
        { -0.125, "-0.125" },
        { 1.0 / 3, "0.333333333333333" },
        { 2.0 / 3, "0.666666666666667" },
        { 123456789012.5, "123456789012.5" },
        { 1e-20, "0" },
        { 1e20, "1e+20" },
        { 1.5e20, "1.5e+20" },                   /* exponent digits are not trailing zeros */
        { 2.5e10, "25000000000" },
        { 1234.5e-7, "0.00012345" },
        { -std::numeric_limits<double>::quiet_NaN(), "nan" },
        { -std::numeric_limits<double>::infinity(), "-inf" },
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        char out[NUMBER_TEXT_SIZE];
        int length = FormatTrimmedNumber(c.value, out);
        EXPECT_STREQ(out, c.want) << c.value;
        EXPECT_EQ(length, (int)strlen(out));
    }
}
