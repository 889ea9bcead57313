/* numbers_test.cpp -- comparison, rounding and number texts. */
#include "foundation/numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "services/services.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"

static const double kNaN = std::numeric_limits<double>::quiet_NaN();
static const double kInf = std::numeric_limits<double>::infinity();

/* Sets the globals the formatters read and puts them back afterwards. */
class NumberTextTest : public ::testing::Test {
protected:
    ProgramSettings savedSettings;
    int32_t savedHtml, savedOrders;
    void SetUp() override
    {
        savedSettings = gSettings;
        savedHtml = gHtmlReport;
        savedOrders = gRun.generatingOrders;
        CopyString(gSettings.Currency, sizeof gSettings.Currency, "USD", -1);
        gSettings.ShowBondPriceFractional = 1;
        gHtmlReport = 0;
        gRun.generatingOrders = 0;
    }
    void TearDown() override
    {
        gSettings = savedSettings;
        gHtmlReport = savedHtml;
        gRun.generatingOrders = savedOrders;
    }
};

/* ---- comparison ------------------------------------------------------------------ */

TEST(CompareDouble, ToleranceNaNAndInfinities)
{
    /* clang-format off */
    static const struct { double a, b; int exact, approx; } kCases[] = {
        { 1.0, 1.0 + 1e-15, 0, 0 },
        { 1.0 + 1e-13, 1.0, 1, 0 },
        { 1.0, 1.0 + 1e-13, -1, 0 },
        { 100.0, 100.00005, -1, 0 },       /* within 1e-6 relative only */
        { 0.0, 1e-300, -1, -1 },
        { kNaN, 5.0, -1, -1 },              /* NaN sorts below every number */
        { 5.0, kNaN, 1, 1 },
        { kNaN, kNaN, 0, 0 },
        { kNaN, -kInf, -1, -1 },
        { kInf, kInf, 0, 0 },
        { kInf, 1e300, 1, 1 },              /* infinities order by sign */
        { 1e300, kInf, -1, -1 },
        { -kInf, -1e300, -1, -1 },
        { -kInf, kInf, -1, -1 },
        { 1.7e308, -1.7e308, 1, 1 },        /* the difference overflows */
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
        EXPECT_EQ(CompareDouble(c.a, c.b), c.exact);
        EXPECT_EQ(CompareDoubleApprox(c.a, c.b), c.approx);
    }
}

TEST(CompareDouble, SortsWithInfinitiesAndNaN)
{
    std::vector<double> values = {3.0, kInf, -1.0, kNaN, -kInf, 1e300, 0.0, -1e300, kInf, 2.0};
    qsort(values.data(), values.size(), sizeof(double), CompareDoublePtr);
    ASSERT_TRUE(std::isnan(values[0]));
    const double want[] = {-kInf, -1e300, -1.0, 0.0, 2.0, 3.0, 1e300, kInf, kInf};
    for (size_t i = 0; i < 9; i++) EXPECT_EQ(values[i + 1], want[i]) << i;

    /* std::sort checks nothing, but a comparator that is not a strict weak
    ** order can run past the range; a sorted result shows it held. */
    std::vector<double> many;
    for (int i = 0; i < 200; i++) many.push_back(i % 7 == 0 ? kInf : i % 11 == 0 ? -kInf
                                                                                 : 1000.0 - i);
    std::sort(many.begin(), many.end(), [](double a, double b) { return CompareDouble(a, b) < 0; });
    EXPECT_TRUE(std::is_sorted(many.begin(), many.end()));
}

/* ---- rounding --------------------------------------------------------------------- */

TEST(RoundToStep, ModesAndRepresentationErrors)
{
    /* clang-format off */
    static const struct { double value, step; int mode; double want; } kCases[] = {
        { 2.675, 0.01, 0, 2.68 },          /* 2.675 is stored a hair below */
        { -2.675, 0.01, 0, -2.68 },
        { 2.5, 1, 0, 3 },
        { -2.5, 1, 0, -3 },
        { 2.999999999999999, 1, -1, 3 },   /* a hair below a multiple counts as it */
        { 2.7, 1, -1, 2 },
        { 2.01, 1, 1, 3 },
        { -2.01, 1, 1, -3 },
        { 2.0000000000000004, 1, 1, 2 },   /* a hair above a multiple stays on it */
        { 1.2345, 0.05, 0, 1.25 },
        { 70.1 * 0.95, 0.01, 0, 66.60 },   /* the half cent carried as 66.59499999999998 */
        { -(70.1 * 0.95), 0.01, 0, -66.60 },
        { 44.71 * 1.01, 0.01, 1, 45.16 },
        { 66.594999999999, 0.01, 0, 66.59 }, /* below the half in its 15 digits */
        { 999.9999999999999, 0.5, -1, 1000 },
        { 1e-20, 1e-25, 0, 1e-20 },
        { 1e-300, 0.25, 1, 0.25 },         /* more units of its digits in a step than a double holds */
        { -1e-300, 0.25, 1, -0.25 },
        { 1e-300, 0.25, 0, 0 },
        { 4e-320, 1, 1, 1 },               /* subnormal */
        { 5, 0, 1, 5 },                    /* no step: unchanged */
        { 0, 1, 1, 0 },
        { 5.5, 1, 2, 0 },                  /* unknown mode */
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.value << " step " << c.step << " mode " << c.mode);
        EXPECT_DOUBLE_EQ(RoundToStep(c.value, c.step, c.mode), c.want);
    }
    EXPECT_EQ(RoundToStep(kInf, 1, 0), kInf);
    EXPECT_TRUE(std::isnan(RoundToStep(kNaN, 1, 0)));
    /* A multiple of a tick of 1/n is the double its decimal reads as, to the
    ** last digit: 9949 x 0.01 is 99.49000000000001. */
    EXPECT_EQ(RoundToStep(99.49, 0.01, 0), 99.49);
    EXPECT_EQ(RoundToStep(99.44 + 0.05, 0.01, 0), 99.49);
    EXPECT_EQ(RoundToStep(-99.486, 0.01, 1), -99.49);
}

TEST(RoundSignificant, Digits)
{
    /* clang-format off */
    static const struct { double value; unsigned digits; double want; } kCases[] = {
        { 123456, 2, 120000 },
        { 0.0012345, 3, 0.00123 },
        { -987.65, 3, -988 },
        { 999.96, 4, 1000 },
        { 1000, 1, 1000 },                 /* a power of ten stays in its decade */
        { 999.9999999999999, 1, 1000 },
        { 1.25, 2, 1.3 },                  /* halves away from zero */
        { 0, 3, 0 },
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.value << " to " << c.digits);
        EXPECT_EQ(RoundSignificant(c.value, c.digits), c.want); /* exactly */
    }
    EXPECT_DOUBLE_EQ(RoundSignificant(1.23456e300, 2), 1.2e300);
    EXPECT_EQ(RoundSignificant(kInf, 2), kInf);
}

/* value as the decimal it stands for (the shortest text that reads back as
** it) rounded to digits significant digits, a half away from zero.  Apart
** from that half, the library's own "%.*e" rounds the same way. */
double DecimalRound(double value, int digits)
{
    char text[40];
    int shortest = 1;
    for (; shortest < 17; shortest++) {
        snprintf(text, sizeof text, "%.*e", shortest - 1, fabs(value));
        if (strtod(text, nullptr) == fabs(value)) break;
    }
    if (shortest == digits + 1 && text[shortest] == '5') {
        long long m = 0;
        for (int k = 0; k < digits; k++) m = m * 10 + (text[k > 0 ? k + 1 : 0] - '0');
        snprintf(text, sizeof text, "%llde%d", m + 1, atoi(strchr(text, 'e') + 1) - (digits - 1));
    } else {
        snprintf(text, sizeof text, "%.*e", digits - 1, fabs(value));
    }
    return value < 0 ? -strtod(text, nullptr) : strtod(text, nullptr);
}

/* The rounding of imported prices against decimal rounding, over seeded
** values of every size the prices take and over exact halves and quarters:
** the same doubles, bit for bit. */
TEST(RoundSignificant, AgreesWithDecimalRounding)
{
    uint32_t state = 97;
    auto next = [&] {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 5000; i++) {
        double mantissa = (next() * 32768.0 + next()) / 1073741824.0 + 0.1;
        int exponent = (int)(next() % 24) - 12;
        double value = mantissa * pow(10.0, exponent) * (i % 7 == 0 ? -1 : 1);
        if (i % 5 == 0) value = (double)(1 + next() % 100000) / 20.0; /* halves and quarters */
        for (int digits = 1; digits <= 7; digits++)
            ASSERT_EQ(RoundSignificant(value, (unsigned)digits), DecimalRound(value, digits)) << value << " to " << digits;
    }
}

/* A price read from a decimal of at most 7 significant digits, anywhere
** from 1e-15 to 1e15, comes back unchanged: the importer leaves out the
** rounding of such prices. */
TEST(RoundSignificant, GivesBackSevenDigitDecimals)
{
    uint32_t state = 4242;
    auto next = [&] {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 200000; i++) {
        int digits = 1 + (int)(next() % 7);
        long long m = 0;
        for (int d = 0; d < digits; d++) m = m * 10 + (d == 0 ? 1 + next() % 9 : next() % 10);
        int exponent = (int)(next() % 30) - 15 - digits + 1;
        char text[64];
        snprintf(text, sizeof text, "%s%llde%d", i % 3 ? "" : "-", m, exponent);
        double value = strtod(text, nullptr);
        if (fabs(value) < 1e-15 || fabs(value) >= 1e15) continue;
        ASSERT_EQ(RoundSignificant(value, 7), value) << text;
    }
}

TEST(PowerOfTen, TableEnds)
{
    EXPECT_EQ(PowerOfTen(0), 1.0);
    EXPECT_EQ(PowerOfTen(-5), 1e-5);
    EXPECT_EQ(PowerOfTen(22), 1e22);
    EXPECT_EQ(PowerOfTen(308), 1e308);
    EXPECT_EQ(PowerOfTen(-323), 1e-323);
    EXPECT_EQ(PowerOfTen(309), kInf);
    EXPECT_EQ(PowerOfTen(-324), 0.0);
}

/* ---- FormatDouble ------------------------------------------------------------------- */

TEST(FormatDouble, EveryMode)
{
    /* clang-format off */
    static const struct { double value; int decimals, noCommas; const char *want; } kCases[] = {
        /* given decimals */
        { 1234567.891, 0, 0, "1,234,568" },
        { 1234567.891, 0, 1, "1234568" },
        { -1234567.0, 0, 0, "-1,234,567" },
        { 1234567.891, 2, 0, "1234567.89" },  /* decimals never get commas */
        { 1.5, -5, 0, "1.500000" },           /* an unknown negative count prints 6 */
        { 0, 2, 0, "0" },                     /* zero and extremes print as %g */
        { 2e15, 2, 0, "2e+15" },
        { -2e15, 0, 0, "-2e+15" },
        { 1e-16, 4, 0, "1e-16" },
        { 1e15, 0, 0, "1,000,000,000,000,000" },
        /* -1: trimmed, 2/4/6 decimals by size */
        { 0.5, -1, 0, "0.5000" },
        { 12.5, -1, 0, "12.50" },
        { 0.001234, -1, 0, "0.001234" },
        { 3.0, -1, 0, "3" },
        { 2.9999999999999996, -1, 0, "3" },
        { 1234.0, -1, 0, "1,234" },           /* whole: printed without decimals, with commas */
        { 1234.0, -1, 1, "1234" },
        { 1234.5, -1, 0, "1234.50" },
        { 1e10, -1, 0, "10000000000" },       /* beyond 32 bits: decimals printed, then trimmed */
        { 1e10 + 0.5, -1, 0, "10000000000.50" },
        /* -10: trimmed, 6 decimals */
        { 2.5, -10, 0, "2.500000" },
        { 7.0, -10, 0, "7" },
        /* -4: fewest of 0..5 decimals */
        { 0.125, -4, 0, "0.125" },
        { 1234.0, -4, 0, "1,234" },
        { 2.5, -4, 0, "2.5" },
        { 0.1234567, -4, 0, "0.123457" },
        /* -3: fewest of 2..5 decimals */
        { 1.5, -3, 0, "1.50" },
        { 0.12345, -3, 0, "0.12345" },
        { 0.1234567, -3, 0, "0.123457" },
        /* -2: abbreviated */
        { 1234567.891, -2, 0, "1.2M" },
        { 999, -2, 0, "999" },
        { 999.6, -2, 0, "1,000" },
        { 1500, -2, 0, "1.5K" },
        { 999999, -2, 0, "1000K" },
        { -2.5e9, -2, 0, "-2.5B" },
        { 1.25e12, -2, 0, "1.3T" },
        { 1e15, -2, 0, "1,000,000,000,000,000" },
        { 12345678901234567.0, -2, 0, "1.23457e+16" },
        /* a negative amount that shows as zero has no sign */
        { -0.0, 2, 0, "0" },
        { -0.3, 0, 0, "0" },
        { -0.6, 0, 0, "-1" },
        { -0.004, 2, 0, "0.00" },
        { -0.005, 2, 0, "-0.01" },             /* -0.005000000000000000104 rounds away */
        { -0.0000004, -1, 0, "0" },
        { -1e-16, 4, 0, "-1e-16" },            /* below 1e-15 it still prints as %g */
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.value << " decimals " << c.decimals);
        char out[NUMBER_TEXT_SIZE];
        int length = FormatDouble(c.value, c.decimals, c.noCommas, out);
        EXPECT_STREQ(out, c.want);
        EXPECT_EQ(length, (int)strlen(out)); /* trimmed text reports its own length */
    }
}

TEST(FormatDouble, NaNAndInfinitiesPrintAlikeInBothBuilds)
{
    /* clang-format off */
    static const struct { double value; int decimals; const char *want; } kCases[] = {
        { kNaN, 2, "nan" },
        { -kNaN, -1, "nan" },    /* a sign on NaN is not printed */
        { -kNaN, 0, "nan" },
        { kInf, -1, "inf" },
        { -kInf, -2, "-inf" },
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        char out[NUMBER_TEXT_SIZE];
        FormatDouble(c.value, c.decimals, 0, out);
        EXPECT_STREQ(out, c.want) << c.decimals;
    }
}

TEST(FormatDouble, LongDecimalsStayInTheBuffer)
{
    char out[NUMBER_TEXT_SIZE + 8];
    memset(out, 'x', sizeof out);
    int length = FormatDouble(123456789012345.0, 200, 0, out);
    EXPECT_EQ(length, NUMBER_TEXT_SIZE - 1);
    EXPECT_EQ(strlen(out), (size_t)NUMBER_TEXT_SIZE - 1);
    EXPECT_EQ(out[NUMBER_TEXT_SIZE], 'x');
}

/* ---- separators and currency signs -------------------------------------------------- */

TEST(InsertCommas, FirstRunOfDigitsOnly)
{
    /* clang-format off */
    static const struct { const char *text, *want; } kCases[] = {
        { "1234.5678", "1,234.5678" },
        { "-1234567", "-1,234,567" },
        { "123", "123" },
        { "$-1234.50", "$-1,234.50" },
        { "(\x80" "1234.50)", "(\x80" "1,234.50)" },
        { "12345 67890", "12,345 67890" },
        { "abc", "abc" },
        { "1234567890123456", "1,234,567,890,123,456" },
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        char text[64];
        CopyString(text, sizeof text, c.text, -1);
        int length = InsertCommas(text, (int)strlen(text), sizeof text);
        EXPECT_STREQ(text, c.want);
        EXPECT_EQ(length, (int)strlen(c.want));
    }
}

TEST(InsertCommas, CutAtTheBufferEnd)
{
    char text[16];
    memset(text, 'x', sizeof text);
    CopyString(text, 9, "1234567", -1);
    int length = InsertCommas(text, 7, 9);
    EXPECT_STREQ(text, "1,234,56");
    EXPECT_EQ(length, 8);
    EXPECT_EQ(text[9], 'x');
}

TEST_F(NumberTextTest, ApplyCurrencySignBySign)
{
    /* clang-format off */
    static const struct { const char *account, *currency; int html; const char *want; } kCases[] = {
        { "USD", "USD", 0, "$12.50 $3" },
        { "USD", nullptr, 0, "$12.50 $3" },
        { "AUD", nullptr, 0, "$12.50 $3" },
        { "USD", "CAD", 0, "CAD 12.50 CAD 3" },    /* a dollar, but not the account's */
        { "USD", "EUR", 0, "\x80" "12.50 \x80" "3" },
        { "USD", "eur", 0, "\x80" "12.50 \x80" "3" },
        { "USD", "EUR", 1, "&euro;12.50 &euro;3" },
        { "USD", "GBP", 0, "\xA3" "12.50 \xA3" "3" },
        { "USD", "GBP", 1, "&pound;12.50 &pound;3" },
        { "USD", "JPY", 0, "\xA5" "12.50 \xA5" "3" },
        { "USD", "JPY", 1, "&yen;12.50 &yen;3" },
        { "USD", "CHF", 1, "CHF 12.50 CHF 3" },
        { "EUR", nullptr, 0, "\x80" "12.50 \x80" "3" },
        { "SEK", nullptr, 0, "SEK 12.50 SEK 3" },
        { "", nullptr, 0, "$12.50 $3" },           /* no account currency: the dollar stays */
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.account << " " << (c.currency ? c.currency : "null"));
        CopyString(gSettings.Currency, sizeof gSettings.Currency, c.account, -1);
        gHtmlReport = c.html;
        char text[64];
        CopyString(text, sizeof text, "$12.50 $3", -1);
        int length = ApplyCurrencySign(text, (int)strlen(text), sizeof text, c.currency);
        EXPECT_STREQ(text, c.want);
        EXPECT_EQ(length, (int)strlen(c.want));
    }
}

TEST_F(NumberTextTest, ApplyCurrencySignNeverWritesPastTheBuffer)
{
    char text[24];
    memset(text, 'x', sizeof text);
    CopyString(text, 16, "$1,234.50", -1);
    int length = ApplyCurrencySign(text, 9, 16, "LONGCURRENCYCODE");
    EXPECT_STREQ(text, "LONGCURRENCYCOD");
    EXPECT_EQ(length, 15);
    for (int i = 16; i < 24; i++) EXPECT_EQ(text[i], 'x') << i;

    /* Several signs, the last ones partly cut. */
    memset(text, 'x', sizeof text);
    CopyString(text, 16, "$1 $2 $3", -1);
    gHtmlReport = 1;
    length = ApplyCurrencySign(text, 8, 16, "EUR");
    EXPECT_STREQ(text, "&euro;1 &euro;2");
    EXPECT_EQ(length, 15);
    for (int i = 16; i < 24; i++) EXPECT_EQ(text[i], 'x') << i;
}

/* ---- FormatNumber ------------------------------------------------------------------- */

TEST_F(NumberTextTest, FormatNumberByDisplayCode)
{
    static const struct {
        double value;
        int code, decimals, negParens;
        const char *currency;
        int html;
        const char *want;
    } kCases[] = {
        /* currency */
        {-1234.5, 3, 2, 1, "EUR", 0, "(\x80"
                                     "1,234.50)"},
        {-1234.5, 3, 2, 0, "EUR", 0, "\x80"
                                     "-1,234.50"},
        {-1234.5, 3, 2, 1, "EUR", 1, "(&euro;1,234.50)"},
        {-1234.5, 3, 2, 1, nullptr, 0, "($1,234.50)"},
        {1234.5, 3, -1, 0, nullptr, 0, "$1,234.50"}, /* automatic decimals give 2 */
        {1234.6, 3, 0, 0, "CHF", 0, "CHF 1,235"},
        {1e16, 3, 2, 0, nullptr, 0, "1e+16"},
        /* percent */
        {0.256, 4, 1, 0, nullptr, 0, "25.6%"},
        {0.256, 4, -1, 0, nullptr, 0, "25.60%"},
        {12.346, 4, 0, 0, nullptr, 0, "1,235%"},
        /* plain number and number */
        {1234.5, 1, -1, 0, nullptr, 0, "1234.50"},
        {1234.5, 2, -1, 0, nullptr, 0, "1,234.50"},
        {1234.56, 1, 1, 0, nullptr, 0, "1234.6"},
        {1234.56, 2, 1, 0, nullptr, 0, "1,234.6"},
        {1.5, 2, 16, 0, nullptr, 0, "1.5"}, /* more than 15 decimals: %g */
        {0, 2, 2, 0, nullptr, 0, "0.00"},
        {2e15, 2, 2, 0, nullptr, 0, "2e+15"},
        /* general */
        {1234.5, 0, -1, 0, nullptr, 0, "1,234.50"},
        {1234567, 0, -2, 0, nullptr, 0, "1.2M"},
        {2.5, 0, 0, 0, nullptr, 0, "3"},
        {-2.5, 0, 0, 0, nullptr, 0, "-3"},
        {5, 0, 2, 0, nullptr, 0, "05"},
        {0, 0, 0, 0, nullptr, 0, "0"}, /* a zero is never blank */
        {0.4, 0, 0, 0, nullptr, 0, "0"},
        {1234567, 0, 0, 0, nullptr, 0, "1,234,567"},
        /* truth values, NaN and unknown codes */
        {1, 7, -1, 0, nullptr, 0, "True"},
        {0, 7, -1, 0, nullptr, 0, "False"},
        {kNaN, 3, 2, 1, "EUR", 0, "n/a"},
        {-kNaN, 8, -1, 0, nullptr, 0, "n/a"},
        {-kInf, 3, 2, 1, "EUR", 0, "-inf"},
        {1234.5, 8, 2, 0, nullptr, 0, "1234.5"},
        /* a negative amount that shows as zero has no sign */
        {-0.0004, 4, 1, 0, nullptr, 0, "0.0%"},
        {-0.0006, 4, 1, 0, nullptr, 0, "-0.1%"},
        {-0.004, 3, 2, 1, nullptr, 0, "$0.00"},
        {-0.0, 2, 2, 0, nullptr, 0, "0.00"},
        {-0.04, 1, 1, 0, nullptr, 0, "0.0"},
        /* price in 32nds */
        {99.5, 5, -1, 0, nullptr, 0, "99'160"},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.value << " code " << c.code << " decimals " << c.decimals);
        gHtmlReport = c.html;
        char out[NUMBER_TEXT_SIZE];
        int length = FormatNumber(c.value, c.code, c.decimals, c.negParens, c.currency, out);
        EXPECT_STREQ(out, c.want);
        EXPECT_EQ(length, (int)strlen(out));
    }
}

TEST_F(NumberTextTest, FormatNumberLongCurrencyFits)
{
    char out[NUMBER_TEXT_SIZE + 8];
    memset(out, 'x', sizeof out);
    const char *code = "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLM"; /* 39 characters */
    int length = FormatNumber(-999999999999999.0, 3, 15, 1, code, out);
    EXPECT_EQ(length, (int)strlen(out));
    EXPECT_LT(length, NUMBER_TEXT_SIZE);
    EXPECT_EQ(out[NUMBER_TEXT_SIZE], 'x');
    EXPECT_EQ(strncmp(out, "(ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLM 999,999,", 49), 0) << out;
}

TEST(FormatNumberDates, DateCodeUsesTheDisplayPicture)
{
    char saved[32];
    CopyString(saved, sizeof saved, gSettings.DateDisplayFormat, -1);
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "M/d/yy", -1);
    char out[NUMBER_TEXT_SIZE];
    EXPECT_EQ(FormatNumber(20240315.0, 6, 0, 0, nullptr, out), 7);
    EXPECT_STREQ(out, "3/15/24");
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    FormatNumber(20240315.9, 6, 0, 0, nullptr, out);
    EXPECT_STREQ(out, "2024-03-15");
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, saved, -1);
}
