/* ranges_test.cpp -- optimization ranges and column display hints. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <cstring>

#include "foundation/text_match.h"
#include "script/compiler/definitions.h"
#include "script/compiler/ranges.h"

namespace {

std::vector<double> Expand(const char *text, int room = 100)
{
    std::vector<double> values(room > 0 ? room : 1);
    int n = ExpandOptimizationRange(text, -1, nullptr, values.data(), room);
    values.resize(n > 0 ? n : 0);
    return values;
}

TEST(OptimizationRange, ExpandsStepsFactorsDefaultsAndRounding)
{
    const struct {
        const char *text;
        std::vector<double> values;
    } cases[] = {
        {"from 10 to 50 step 10 def 30", {30, 10, 20, 40, 50}},
        {"from 1 to 100 mult 2", {1, 2, 4, 8, 16, 32, 64}},
        {"from 0.1 to 0.3 step 0.1", {0.1, 0.2, 0.3}},
        {"FROM 1 TO 3", {1, 2, 3}},
        {"from 1 to 2 step 0.25 round 0.5", {1, 1.5, 1.5, 2, 2}},
        {"from 1 /* low */ to 3 // high\n", {1, 2, 3}},
        {"from -2 to 2 step 2", {-2, 0, 2}},
        {"from 5 to 5", {5}},
    };
    for (const auto &c : cases) {
        std::vector<double> got = Expand(c.text);
        ASSERT_EQ(got.size(), c.values.size()) << c.text;
        for (size_t i = 0; i < got.size(); i++) EXPECT_DOUBLE_EQ(got[i], c.values[i]) << c.text << " value " << i;
    }
}

TEST(OptimizationRange, RefusesBadRangesWithTheirCodes)
{
    const struct {
        const char *text;
        int want;
    } cases[] = {
        {"from 5 to 1", RANGE_BAD},
        {"from 1 to 10 step 1 mult 2", RANGE_STEP_AND_MULT},
        {"from 1 to 10 mult 2 step 1", RANGE_STEP_AND_MULT},
        {"from 1 to 10 step 0", RANGE_BAD},
        {"from 1 to 10 step -1", RANGE_BAD},
        {"from 1 to 10 mult 1", RANGE_BAD},
        {"from 0 to 10 mult 2", RANGE_BAD}, /* a factor never leaves zero */
        {"from -4 to 10 mult 2", RANGE_BAD},
        {"from 1 to 10 jump 2", RANGE_NOT_A_RANGE},
        {"from 1 to 10 step", RANGE_NOT_A_RANGE},
        {"1, 2, 3", RANGE_NOT_A_RANGE},
        {"to 1 from 2", RANGE_NOT_A_RANGE},
        {"", RANGE_NOT_A_RANGE},
        {"from 1 to 2000000", RANGE_TOO_MANY}, /* reported, not cut */
        {"from 0 to 1 step 0.0000001", RANGE_TOO_MANY},
        /* Numbers too large for a double read as infinities. */
        {"from 10 to 1e400 mult 11.5 round 1 def 1e400", RANGE_BAD},
        {"from 1 to 1e400", RANGE_BAD},
        {"from 1 to 10 step 1e999", RANGE_BAD},
        {"from 1 to 10 round 1e999", RANGE_BAD},
        {"from 1 to 10 def nan", RANGE_BAD},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExpandOptimizationRange(c.text, -1, nullptr, nullptr, 0), c.want) << c.text;
}

/* A range whose values stop growing holds endlessly many; it is refused as
** soon as the walk sees that, and no walk goes on past the value cap even
** when the values it meets all round onto the default.  The steps taken are
** checked so that a walk that loops where it should stop fails at once
** instead of running to the cap or forever. */
TEST(OptimizationRange, RefusesValuesThatStopGrowingWithinBoundedSteps)
{
    const struct {
        const char *text;
        int want;
        int steps;
    } cases[] = {
        /* 1e16 + 1 rounds back to 1e16: the doubles there are 2 apart. */
        {"from 1e16 to 2e16 step 1", RANGE_TOO_MANY, 1},
        {"from 1e20 to 2e20 def 1e20", RANGE_TOO_MANY, 1},
        {"from 1e20 to 2e20 round 0", RANGE_TOO_MANY, 1},
        {"from 1e16 to 1e16 step 1", RANGE_TOO_MANY, 1},
        /* Every value rounds onto the default 0 and is skipped uncounted. */
        {"from 0 to 3e6 round 1e20 def 0", RANGE_TOO_MANY, RANGE_MAX_VALUES + 1},
        {"from 1 to 5", 5, 5},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ExpandOptimizationRange(c.text, -1, nullptr, nullptr, 0), c.want) << c.text;
        EXPECT_EQ(RangeWalkSteps(), c.steps) << c.text;
    }
    /* With values out the refusal is the same and nothing is kept. */
    double values[4];
    EXPECT_EQ(ExpandOptimizationRange("from 1e16 to 2e16 step 1", -1, nullptr, values, 4), RANGE_TOO_MANY);
}

TEST(OptimizationRange, CountsWithoutOutputAndStopsAtTheRoom)
{
    EXPECT_EQ(ExpandOptimizationRange("from 1 to 1000000", -1, nullptr, nullptr, 0), 1000000);
    EXPECT_EQ(Expand("from 1 to 10", 3).size(), 3u);
    /* A default that fills the room leaves no value written past it. */
    EXPECT_EQ(Expand("from 1 to 10 def 5", 1), std::vector<double>{5});
    EXPECT_EQ(Expand("from 1 to 10 def 5", 2), (std::vector<double>{5, 1}));
    double one = 0;
    EXPECT_EQ(ExpandOptimizationRange("from 1 to 10", -1, nullptr, &one, 0), 0);
    /* The length bounds the text. */
    EXPECT_EQ(ExpandOptimizationRange("from 1 to 3 step 2", 11, nullptr, nullptr, 0), 3);

    Parameter p = {};
    p.rangeFlag = 7;
    EXPECT_EQ(ExpandOptimizationRange("1,2", -1, &p, nullptr, 0), 0);
    EXPECT_EQ(p.rangeFlag, 0);
    EXPECT_EQ(ExpandOptimizationRange("from 1 to 2", -1, &p, nullptr, 0), 2);
    EXPECT_EQ(p.rangeFlag, 1);
}

struct Hint {
    const char *name;
    const char *formula;
    int format;
    int decimals;
    int negative;
    const char *heading;
    int bar;
    double barNumber;
    int caret;
};

TEST(DisplayHint, ReadsFormatDecimalsFlagsAndHeading)
{
    /* clang-format off */
    const Hint cases[] = {
        {"Profit", "{$2} S.NetProfit", 3, 2, 0, "Profit", 0, 0, 0},
        {"Gain", "{%-1} S.Gain", 4, 1, 1, "Gain", 0, 0, 0},
        {"Count", "{\"Trades\" #0} S.Count", 2, 0, 0, "Trades", 0, 0, 0},
        {"Plain", "{##} 1", 1, -1, 0, "Plain", 0, 0, 0},
        {"When", "{//} Date", 6, -1, 0, "When", 0, 0, 0},
        {"Flag", "{~} C > O", 7, -1, 0, "Flag", 0, 0, 0},
        {"Frac", "{`} C", 5, -1, 0, "Frac", 0, 0, 0},
        {"Score", "{# |100 ^} C", 2, -1, 0, "Score", 1, 100, 1},
        {"Spaced", "{# | 100} C", 2, -1, 0, "Spaced", 0, 0, 0},   /* a stray number: no hint */
        {"Base", "{#|100.5} C", 2, -1, 0, "Base", 1, 100.5, 0},
        {"Named", "{'It' 's'} C", 2, -1, 0, "s", 0, 0, 0},     /* the last title wins */
        {"Words", "{an ordinary comment} C", 2, -1, 0, "Words", 0, 0, 0},
        {"Later", "// {$2}\n C {%3}", 4, 3, 0, "Later", 0, 0, 0},
        {"Block", "/* {$2} */ C", 2, -1, 0, "Block", 0, 0, 0},
        {"_Hidden", "{$2} C", 0, 2, 0, "_Hidden", 0, 0, 0},
        {"None", "C + 1", 2, -1, 0, "None", 0, 0, 0},
    };
    /* clang-format on */
    for (const Hint &c : cases) {
        FormulaColumn column = {};
        CopyString(column.formula.name, sizeof column.formula.name, c.name, -1);
        std::string text = c.formula;
        ParseFormatSpec(text.c_str(), (int)text.size(), &column);
        EXPECT_EQ(column.format, c.format) << c.formula;
        EXPECT_EQ(column.decimals, c.decimals) << c.formula;
        EXPECT_EQ((int)column.negativeParens, c.negative) << c.formula;
        EXPECT_STREQ(column.heading, c.heading) << c.formula;
        EXPECT_EQ((int)column.barFlag, c.bar) << c.formula;
        EXPECT_DOUBLE_EQ(column.barNumber, c.barNumber) << c.formula;
        EXPECT_EQ((int)column.caretFlag, c.caret) << c.formula;
        EXPECT_EQ(text, c.formula) << "the text stays as it was";
    }
}

TEST(DisplayHint, TextAndFilterItemsAreNotMadeNumbers)
{
    FormulaColumn column = {};
    CopyString(column.formula.name, sizeof column.formula.name, "Text", -1);
    column.isText = 1;
    ParseFormatSpec("\"label\"", 7, &column);
    EXPECT_EQ(column.format, 0);
    std::string longTitle = "{'" + std::string(100, 'x') + "'} C";
    ParseFormatSpec(longTitle.c_str(), (int)longTitle.size(), &column);
    EXPECT_EQ(strlen(column.heading), 79u);
    /* The hint must lie within the given length. */
    ParseFormatSpec("C {$2}", 2, &column);
    EXPECT_EQ(column.format, 0);
    EXPECT_STREQ(column.heading, "Text");
}

} // namespace
