/* Window functions: values worked from their definitions, warm-up and
** available-bar rules, and the one-pass walk against the per-bar path. */
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "builtins_fixture.h"
#include "foundation/settings_table.h"
#include "script/builtins/arg_helpers.h"
#include "script/builtins/builtins.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"

namespace {

using WindowFunctions = BuiltinTest;

TEST_F(WindowFunctions, EveryIndicatorAndMultiBarRowHasAnImplementation)
{
    for (uint32_t id = 0; id < SCRIPT_ITEM_COUNT; id++) {
        uint32_t category = gScriptItems[id].category;
        if (category == CAT_INDICATOR || category == CAT_MULTI_BAR)
            EXPECT_NE(nullptr, gItemImpls[id]) << gScriptItems[id].name;
        else if (!IsFunctionCategory(category))
            EXPECT_EQ(nullptr, gItemImpls[id]) << gScriptItems[id].name;
    }
}

struct Case {
    const char *text;
    double want; /* NaN: no value */
};

void ExpectCases(BuiltinTest *t, const Case *cases, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        double got = t->Value(cases[i].text);
        if (std::isnan(cases[i].want))
            EXPECT_TRUE(std::isnan(got)) << cases[i].text << " gave " << got;
        else
            EXPECT_NEAR(cases[i].want, got, 1e-9 * fmax(1, fabs(cases[i].want))) << cases[i].text;
    }
}

const double kCloses[] = {10, 11, 10.5, 12, 13, 12.5, 12, 14, 15, 14.5, 16, 15.5};
const double kVolumes[] = {1000, 2000, 1500, 3000, 2500, 1000, 4000, 3500, 2000, 1000, 3000, 2500};

/* Reference values computed once from the definitions by a separate
** program (population moments; EmaPrecision 3, so an exponential member of
** length n walks 3n bars, 6n for RsiF and KAMA, cut to the 12 that exist). */
TEST_F(WindowFunctions, ValuesAtTheLastBarMatchTheDefinitions)
{
    std::vector<BarSpec> bars;
    for (int i = 0; i < 12; i++) bars.push_back({kCloses[i], kCloses[i], kCloses[i], kCloses[i], kVolumes[i], 1});
    SetBars(bars);
    gSettings.EmaPrecision = 3;
    /* clang-format off */
    const Case cases[] = {
        {"Sum(C, 4)", 61},
        {"SumSQ(C, 3)", 706.5},
        {"Product(C, 2)", 248},
        {"MA(C, 5)", 15},
        {"Avg(C, 12)", 13},
        {"StdDev(C, 5)", 0.70710678118654757},
        {"Skewness(C, 5)", 0},
        {"Kurtosis(C, 5)", -1.3000000000000005},
        {"BBTopF(C, 5, 2)", 16.414213562373096},
        {"BBBotF(C, 5, 2)", 13.585786437626904},
        {"BBWidthF(C, 5, 2)", 18.856180831641268},
        {"BBPctF(C, 5, 2)", 0.67677669529663709},
        {"BBTrendF(C, 5, 10, 2)", 0.20000000000000012},
        {"Rank(C, 5)", 2},
        {"PercentRank(C, 5)", 75},
        {"PercentRank(C, 1)", 1},
        {"EMA(C, 3)", 15.3203125},
        {"ESD(C, 3)", 0.5362528682178539},
        {"DEMA(C, 3)", 15.736328125},
        {"TEMA(C, 3)", 15.669921875},
        {"RsiF(C, 3)", 68.361830904196808},
        {"AEMA(C, 0.8)", 15.541791999999999},
        {"AESD(C, 0.8)", 0.12525608067954228},
        {"AEMA(C, 0.5)", NAN},                 /* walks 15 bars of 12 */
        {"AEMA(C, 3)", 0},                     /* a walk below one bar */
        {"SarF(C, 0.02, 0.2, 10)", 12.038387835903999},
        {"WMA(C, 4)", 15.4},
        {"VWMA(C, 4)", 15.441176470588236},
        {"KAMA(C, 4, 2, 30)", 13.867270932500597},
        {"Highest(C, 5)", 16},
        {"Lowest(C, 5)", 14},
        {"SinceHigh(C, 5)", 1},
        {"SinceLow(C, 5)", 4},
        {"Sum(FunBar, 3)", 6},
        {"Sum(C, 13)", 0},                     /* too few bars: 0, not "no value" */
        {"MA(C, 13)", NAN},
        {"MA(C, 0)", NAN},
        {"Highest(C, 12.4)", 16},              /* the count rounds half away from zero... */
        {"Sum(C, 12.5)", 0},                   /* ...to 13, beyond the 12 bars */
        {"MA(C, 2)[1]", 15.25},
    };
    /* clang-format on */
    ExpectCases(this, cases, sizeof cases / sizeof cases[0]);
    gUseAvailableBars = 1;
    /* clang-format off */
    const Case available[] = {
        {"Sum(C, 20)", 156},
        {"MA(C, 20)", 13},
        {"Highest(C, 99)", 16},
        {"SinceLow(C, 99)", 11},
    };
    /* clang-format on */
    ExpectCases(this, available, sizeof available / sizeof available[0]);
}

TEST_F(WindowFunctions, EdgeCasesOfRanksExtremesAndRsi)
{
    SetCloses({2, 4, 4, 4, 5, 5, 7, 9});
    const Case first[] = {{"StdDev(C, 8)", 2}, {"Rank(C, 3)", 1}, {"PercentRank(C, 3)", 100}};
    ExpectCases(this, first, sizeof first / sizeof first[0]);
    SetCloses({5, 7, 7});
    const Case ties[] = {{"Highest(C, 3)", 7}, {"SinceHigh(C, 3)", 0}, {"SinceLow(C, 3)", 2}};
    ExpectCases(this, ties, sizeof ties / sizeof ties[0]);
    /* A series that only rises is overbought: 100.  A flat one stays 0. */
    SetCloses({1, 2, 3, 4, 5, 6});
    EXPECT_DOUBLE_EQ(100, Value("RsiF(C, 2)"));
    SetCloses({3, 3, 3, 3, 3, 3});
    EXPECT_DOUBLE_EQ(0, Value("RsiF(C, 2)"));
    /* A flat window has no deviation: no band position, skew or width ratio
    ** instead of an infinity. */
    const Case flat[] = {{"BBPctF(C, 4, 2)", NAN}, {"Skewness(C, 4)", NAN}, {"Kurtosis(C, 4)", NAN}, {"StdDev(C, 4)", 0}};
    ExpectCases(this, flat, sizeof flat / sizeof flat[0]);
}

TEST_F(WindowFunctions, SmoothingLookbackFollowsEmaPrecision)
{
    SetRandomBars(300, 1);
    FormulaSlot *slot = CompileText("EMA(C, 10) + EMA(C, 20)");
    FormulaNode *nodes = slot->nodes[0];
    FormulaNode *twenty = nodes;
    while (twenty->item != 0 && !(twenty != nodes && twenty->item == nodes[0].item)) twenty++;
    const struct {
        FormulaNode *node;
        int32_t multiplier;
        int32_t want;
    } cases[] = {
        {&nodes[0], 1, 41},
        {&nodes[0], 2, 76},
        {&nodes[0], 3, 108},
        {twenty, 1, 76},
        {twenty, 2, 138},
        {twenty, 3, 195},
    };
    for (const auto &c : cases) {
        int32_t lookback = 0;
        double length = 0;
        ASSERT_EQ(1, GetSmoothingLengthArg(c.node, c.multiplier, &ctx, 2, 0, &lookback, &length));
        EXPECT_EQ(c.want, lookback) << "length " << length << " multiplier " << c.multiplier;
    }
    gSettings.EmaPrecision = 3;
    int32_t lookback = 0;
    double length = 0;
    ASSERT_EQ(1, GetSmoothingLengthArg(&nodes[0], 1, &ctx, 2, 0, &lookback, &length));
    EXPECT_EQ(30, lookback);
    ASSERT_EQ(1, GetSmoothingLengthArg(&nodes[0], 1, &ctx, 2, 290, &lookback, &length));
    EXPECT_EQ(10, lookback); /* cut to the bars that exist */
}

TEST_F(WindowFunctions, AWindowOfZerosSumsToExactlyZero)
{
    SetCloses({0.1, 0.7, 0.3, 0, 0, 0, 0.2});
    std::vector<double> out = OnePass(CompileText("Sum(C, 3)"));
    EXPECT_EQ(0.0, out[5]);
    EXPECT_DOUBLE_EQ(0.2, out[6]);
}

/* The one-pass walk and the per-bar path agree wherever both give a value,
** over random series with two splits, bars without a value, lengths of 1, 2,
** ordinary and beyond the series, with UseAvailableBars off and on; a few
** members are also held against a plain loop over the adjusted closes. */
TEST_F(WindowFunctions, OnePassAgreesWithThePerBarPath)
{
    /* Every exponential member walks all bars back, as the one-pass walk does. */
    gSettings.EmaPrecision = 1e9;
    /* clang-format off */
    const char *const members[] = {
        "Sum(%s, %d)",      "MA(%s, %d)",       "StdDev(%s, %d)",    "Skewness(%s, %d)", "Kurtosis(%s, %d)",
        "BBTopF(%s, %d, 2)", "BBBotF(%s, %d, 2)", "BBWidthF(%s, %d, 2)", "BBPctF(%s, %d, 1.5)",
        "BBTrendF(%s, %d, 4, 2)", "Rank(%s, %d)", "PercentRank(%s, %d)", "EMA(%s, %d)", "ESD(%s, %d)",
        "DEMA(%s, %d)",     "TEMA(%s, %d)",     "RsiF(%s, %d)",      "VWMA(%s, %d)",     "KAMA(%s, %d, 2, 30)",
        "Highest(%s, %d)",  "Lowest(%s, %d)",   "SinceHigh(%s, %d)", "SinceLow(%s, %d)",
    };
    /* clang-format on */
    const char *const series[] = {"C", "C[(BarNum MOD 7 = 3) * 100000]", "V"};
    const int lengths[] = {1, 2, 7, 30, 90};
    int compared = 0;
    for (uint32_t seed = 1; seed <= 3; seed++) {
        SetRandomBars(60, seed, 20, 41);
        for (int available = 0; available <= 1; available++) {
            gUseAvailableBars = available;
            for (const char *member : members) {
                for (const char *x : series) {
                    for (int length : lengths) {
                        char text[160];
                        snprintf(text, sizeof text, member, x, length);
                        FormulaSlot *slot = CompileText(text);
                        std::vector<double> one = OnePass(slot);
                        for (int32_t bar = 0; bar < barCount; bar++) {
                            double each = ValueAt(slot, bar);
                            if (std::isnan(each) || std::isnan(one[bar])) continue;
                            compared++;
                            ASSERT_NEAR(each, one[bar], 1e-7 * fmax(1, fabs(each)))
                                << text << " at bar " << bar << " seed " << seed << " available " << available;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 20000);

    /* Plain loops over the closes adjusted to each bar's own split level. */
    gUseAvailableBars = 0;
    SetRandomBars(60, 9, 20, 41);
    const Bar *bars = gStore.symbols[0].bars[BAR_DAILY];
    for (int length : {1, 5, 25}) {
        std::string ma = "MA(C, " + std::to_string(length) + ")";
        std::string hi = "Highest(C, " + std::to_string(length) + ")";
        std::string sd = "StdDev(C, " + std::to_string(length) + ")";
        std::vector<double> maOne = OnePass(CompileText(ma)), hiOne = OnePass(CompileText(hi)),
                            sdOne = OnePass(CompileText(sd));
        for (int32_t bar = 0; bar < barCount; bar++) {
            if (bar + 1 < length) {
                EXPECT_TRUE(std::isnan(maOne[bar]) && std::isnan(hiOne[bar])) << ma << " warm-up at " << bar;
                continue;
            }
            double sum = 0, high = -1e300, squares = 0;
            for (int32_t k = bar - length + 1; k <= bar; k++) {
                double c = bars[k].close * bars[bar].split / bars[k].split;
                sum += c;
                high = fmax(high, c);
            }
            double mean = sum / length;
            for (int32_t k = bar - length + 1; k <= bar; k++) {
                double d = bars[k].close * bars[bar].split / bars[k].split - mean;
                squares += d * d;
            }
            EXPECT_NEAR(mean, maOne[bar], 1e-9 * mean) << ma << " at " << bar;
            EXPECT_NEAR(high, hiOne[bar], 1e-9 * high) << hi << " at " << bar;
            EXPECT_NEAR(sqrt(squares / length), sdOne[bar], 1e-7) << sd << " at " << bar;
        }
    }
}

/* A window over a plain open, high, low, close or volume is walked straight
** over the bars; its value is to be the one the evaluator gives the same
** field read through an offset of 0, to the last bit: split factors that are no power of
** two (so the factor's rounding shows), offsets, windows longer than the
** data, available bars, and a bar without a close. */
TEST_F(WindowFunctions, APlainBarFieldGivesWhatItsEvaluationGives)
{
    /* By hand: 9 and 12 before a 3:1 split are 3 and 4 in today's terms, and
    ** their volumes of 100 are 300. */
    SetBars({{9, 9, 9, 9, 100, 3}, {12, 12, 12, 12, 100, 3}, {5, 5, 5, 5, 100, 1}, {7, 7, 7, 7, 100, 1}});
    /* clang-format off */
    const Case hand[] = {
        {"MA(C, 4)", 4.75},    {"Sum(V, 4)", 800},   {"Lowest(C, 4)", 3},
        {"SinceLow(C, 4)", 3}, {"MA(C, 2)[2]", 3.5}, {"Highest(H, 3)[1]", 5},
        {"SinceHigh(C, 4)", 0}, {"MA(C, 5)", NAN},   {"Sum(C, 5)", 0},
    };
    /* clang-format on */
    ExpectCases(this, hand, sizeof hand / sizeof hand[0]);

    const char *const members[] = {"Sum", "MA", "Highest", "Lowest", "SinceHigh", "SinceLow", "EMA", "StdDev"};
    const char *const fields[] = {"O", "H", "L", "C", "V"};
    std::vector<BarSpec> specs;
    uint32_t state = 77;
    double close = 40;
    for (int32_t i = 0; i < 70; i++) {
        state = state * 1664525u + 1013904223u;
        close *= 1 + ((state >> 8) / 16777216.0 - 0.5) * 0.05;
        double split = i < 20 ? 7 : 3;
        if (i >= 40) split = i < 55 ? 1.45 : 1.1;
        specs.push_back({close * 0.99, close * 1.02, close * 0.97, close, 1000.0 + (state >> 20), split});
    }
    for (int available = 0; available <= 1; available++) {
        gUseAvailableBars = available;
        SetBars(specs);
        int compared = 0;
        for (const char *member : members)
            for (const char *field : fields)
                for (int length : {1, 2, 7, 30, 90})
                    for (int offset : {0, 3}) {
                        char plain[80], evaluated[80];
                        snprintf(plain, sizeof plain, "%s(%s, %d)[%d]", member, field, length, offset);
                        snprintf(evaluated, sizeof evaluated, "%s(%s[0], %d)[%d]", member, field, length, offset);
                        FormulaSlot *direct = CompileText(plain);
                        std::vector<double> want;
                        FormulaSlot *walked = CompileText(evaluated);
                        for (int32_t bar = 0; bar < barCount; bar++) want.push_back(ValueAt(walked, bar));
                        for (int32_t bar = 0; bar < barCount; bar++) {
                            double got = ValueAt(direct, bar);
                            if (std::isnan(want[(size_t)bar])) {
                                EXPECT_TRUE(std::isnan(got)) << plain << " at " << bar;
                                continue;
                            }
                            compared++;
                            ASSERT_EQ(want[(size_t)bar], got) << plain << " at " << bar << " available " << available;
                        }
                    }
        EXPECT_GT(compared, 10000);
        /* A close without a value gives a window over it none, either way. */
        std::vector<BarSpec> holed = specs;
        holed[60].close = NAN;
        SetBars(holed);
        for (const char *text : {"MA(C, 20)", "Highest(C, 20)", "Sum(C, 20)"}) {
            EXPECT_TRUE(std::isnan(Value(text))) << text;
            EXPECT_FALSE(std::isnan(Value((std::string(text) + "[10]").c_str()))) << text;
        }
    }
}

TEST_F(WindowFunctions, TheOnePassEntryWritesWhatTheEvaluatedFormulaWrites)
{
    SetRandomBars(40, 5, 12, 0);
    for (const char *text : {"-MA(C, 5)", "StdDev(MA(C, 3), 4)", "SinceTrue(C > O)", "Slope(H, 6)"}) {
        FormulaSlot *slot = CompileText(text);
        std::vector<double> want = OnePass(slot);
        std::vector<double> got((size_t)barCount, NAN);
        EvalContext at = ctx;
        ASSERT_EQ(1, CalcOnePassSeries(slot->nodes[0], &at, got.data())) << text;
        for (int32_t i = 0; i < barCount; i++) {
            if (std::isnan(want[i]))
                EXPECT_TRUE(std::isnan(got[i])) << text << " at " << i;
            else
                EXPECT_EQ(want[i], got[i]) << text << " at " << i;
        }
    }
    FormulaSlot *plain = CompileText("WMA(C, 3)"); /* not shareable */
    std::vector<double> out((size_t)barCount, NAN);
    EXPECT_EQ(0, CalcOnePassSeries(plain->nodes[0], &ctx, out.data()));
}

TEST_F(WindowFunctions, OnePassOptionActsAsAvailableBarsForSumsAndExtremes)
{
    SetCloses({4, 1, 6, 2});
    std::vector<double> plain = OnePass(CompileText("-Highest(C, 3)"));
    std::vector<double> option = OnePass(CompileText("-Highest(C, 3)"), 1);
    EXPECT_TRUE(std::isnan(plain[1]));
    EXPECT_DOUBLE_EQ(-6, plain[2]); /* the unary minus applies to every output */
    EXPECT_DOUBLE_EQ(-4, option[0]);
    EXPECT_DOUBLE_EQ(-4, option[1]);
    /* A bar without a value stays without one under NOT, as it does when the
    ** same formula is evaluated bar by bar. */
    std::vector<double> notted = OnePass(CompileText("NOT Highest(C, 3)"));
    EXPECT_TRUE(std::isnan(notted[1]));
    EXPECT_EQ(0.0, notted[2]);
    std::vector<double> sums = OnePass(CompileText("Sum(C, 3)"));
    EXPECT_EQ(0.0, sums[0]); /* a Sum is 0 until its window fills */
    EXPECT_DOUBLE_EQ(11, sums[2]);
}

} // namespace
