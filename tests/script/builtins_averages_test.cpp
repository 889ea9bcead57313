/* Averages, regression, correlation and ranks: values worked from their
** definitions, and the one-pass walks against the per-bar path. */
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "builtins_fixture.h"
#include "foundation/settings_table.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"

namespace {

using Averages = BuiltinTest;

const double kCloses[] = {10, 11, 10.5, 12, 13, 12.5, 12, 14, 15, 14.5, 16, 15.5};
const double kOpens[] = {9.5, 10.8, 10.9, 11.5, 12.7, 12.9, 12.1, 13.2, 14.8, 15.1, 15.2, 16.1};
const double kVolumes[] = {1000, 2000, 1500, 3000, 2500, 1000, 4000, 3500, 2000, 1000, 3000, 2500};

/* Reference values computed once by a separate program: the Hull average as
** the weighted average of 2 × WMA(n/2) − WMA(n), regressions from deviations
** about the means, rank correlation as Pearson's r of the average ranks. */
TEST_F(Averages, ValuesAtTheLastBarMatchTheDefinitions)
{
    std::vector<BarSpec> bars;
    for (int i = 0; i < 12; i++) bars.push_back({kOpens[i], 20, 5, kCloses[i], kVolumes[i], 1});
    SetBars(bars);
    const struct {
        const char *text;
        double want;
    } cases[] = {
        {"HMA(C, 4)", 15.905555555555553},
        {"HMA(C, 9)", 16.098148148148152},
        {"HMA(C, 10)", NAN}, /* needs 10 + 3 bars */
        {"ROC(C, 1)", -3.125},
        {"ROC(C, 3)", 3.3333333333333437},
        {"ROC(C - 10, 11)", 0}, /* a base of 0 */
        {"Median(C, 4)", 15.25},
        {"Median(C, 5)", 15},
        {"RankN(1, C, 5)", 16},
        {"RankN(5, C, 5)", 14},
        {"RankN(2, C, 5)", 15.5},
        {"RankN(2.5, C, 5)", NAN},
        {"RankN(6, C, 5)", NAN},
        {"PercentRankN(50, C, 4)", 15},
        {"PercentRankN(100, C, 4)", 16},
        {"PercentRankN(101, C, 5)", NAN},
        {"LinReg(C, 5)", 15.8},
        {"Slope(C, 5)", 0.4},
        {"YInt(C, 5)", 14.2},
        {"StdErr(C, 5)", 0.54772255750516641},
        {"StdErr(C, 2)", NAN},
        {"LinReg(C, O, 5)", 15.682632050134288},
        {"Slope(C, O, 5)", 0.55953446732318668},
        {"YInt(C, O, 5)", 6.6741271262309816},
        {"StdErr(C, O, 5)", 0.60585032026401575},
        {"Slope(BarNum, 10)", 1},
        {"StdErr(BarNum, 10)", 0},
        {"Correl(C, O, 6)", 0.90480003404303544},
        {"Correl(C, C, 6)", 1},
        {"Correl(C, 5, 6)", 0},
        {"Spearman(C, O, 6)", 0.88571428571428568},
        {"Spearman(C, V, 12)", 0.2712919476926145}, /* ties in the volumes */
        {"Spearman(C, C * 2, 6)", 1},
        {"Spearman(C, O, 1)", NAN},
    };
    for (const auto &c : cases) {
        double got = Value(c.text);
        if (std::isnan(c.want))
            EXPECT_TRUE(std::isnan(got)) << c.text << " gave " << got;
        else
            EXPECT_NEAR(c.want, got, 1e-9 * fmax(1, fabs(c.want))) << c.text;
    }
}

TEST_F(Averages, GroupCorrelationNamesTheMostCorrelatedSymbol)
{
    /* The fixture's BBB is AAA times ten: perfectly correlated. */
    FormulaSlot *slot = CompileText("CorrelMaxSym(1, C, 5)");
    double v = 0;
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v));
    EXPECT_EQ(2, v);
    EXPECT_STREQ("BBB", slot->nodes[0][0].text);
    EXPECT_NEAR(1, Value("CorrelAvg(1, C, 5)"), 1e-12);
    EXPECT_NEAR(1, Value("CorrelMin(1, C, 5, 1)"), 1e-12);
    EXPECT_TRUE(std::isnan(Value("CorrelAvg(0, C, 5)"))); /* the filter leaves no symbol */
    EXPECT_TRUE(std::isnan(Value("CorrelAvg(1, C, 9)"))); /* too few bars */
}

TEST_F(Averages, OnePassAgreesWithThePerBarPath)
{
    /* clang-format off */
    const char *const members[] = {
        "Median(%s, %d)", "RankN(2, %s, %d)", "PercentRankN(30, %s, %d)", "LinReg(%s, %d)", "Slope(%s, %d)",
        "YInt(%s, %d)",   "StdErr(%s, %d)",   "LinReg(%s, O, %d)",        "YInt(%s, O, %d)", "Correl(%s, O, %d)",
        "Correl(%s, V, %d)",
    };
    /* clang-format on */
    const char *const series[] = {"C", "C[(BarNum MOD 5 = 2) * 100000]"};
    const int lengths[] = {1, 3, 8, 25, 70};
    int compared = 0;
    for (uint32_t seed = 1; seed <= 2; seed++) {
        SetRandomBars(60, seed, 15, 33);
        for (int available = 0; available <= 1; available++) {
            gUseAvailableBars = available;
            for (const char *member : members)
                for (const char *x : series)
                    for (int length : lengths) {
                        char text[160];
                        snprintf(text, sizeof text, member, x, length);
                        FormulaSlot *slot = CompileText(text);
                        std::vector<double> one = OnePass(slot);
                        for (int32_t bar = 0; bar < barCount; bar++) {
                            double each = ValueAt(slot, bar);
                            if (std::isnan(each) || std::isnan(one[bar])) continue;
                            compared++;
                            ASSERT_NEAR(each, one[bar], 1e-7 * fmax(1, fabs(each))) << text << " at bar " << bar;
                        }
                    }
        }
    }
    EXPECT_GT(compared, 5000);
}

} // namespace
