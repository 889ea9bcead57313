/* Condition counters, zigzag swings and sequences: scans worked by hand,
** prices as traded on the bar found, and the one-pass forms against the
** per-bar scans. */
#include <gtest/gtest.h>

#include <cmath>

#include "builtins_fixture.h"
#include "script/compiler/settings_items.h"

namespace {

using Counters = BuiltinTest;

/* Closes 5 6 4 7 8 9 3 2 4 5 6 1; bars 0..5 carry split factor 2, so a
** close of those bars read from the last bar is half its stored value.
** C > C[1] holds on bars 1, 3, 4, 5, 8, 9 and 10 and fails on bar 0. */
void SetPattern(BuiltinTest *t)
{
    const double closes[] = {5, 6, 4, 7, 8, 9, 3, 2, 4, 5, 6, 1};
    std::vector<BarSpec> bars;
    for (int i = 0; i < 12; i++) bars.push_back({closes[i], closes[i], closes[i], closes[i], 100.0 * (i + 1), i <= 5 ? 2.0 : 1.0});
    t->SetBars(bars);
}

TEST_F(Counters, ScansFindWhereAndHowOftenAConditionHeld)
{
    SetPattern(this);
    const struct {
        const char *text;
        double want;
    } cases[] = {
        {"SinceTrue(C > C[1])", 1},
        {"SinceTrue(C > C[1], 1)", -1}, /* the scan stops after one bar */
        {"SinceTrue(C < 2)", 0},
        {"SinceTrue(C > 8)", 6}, /* bar 5 at its own scale: 9 */
        {"SinceTrue(C > 8, 5)", -1},
        {"SinceTrue(C > 100)", -1},
        {"UntilTrue(C > 8)[7]", 1}, /* from bar 4 ahead to bar 5 */
        {"UntilTrue(C > 100)[7]", -1},
        {"WhenTrue(C > C[1], C)", 6},
        {"WhenTrue(C > C[1], C, 0, 2)", 5},
        {"WhenTrue(C > C[1], C, 0, 5)", 8}, /* bar 4 as traded, not 4 */
        {"WhenTrue(C > 8, C)", 9},
        {"C[6]", 4.5}, /* the same bar seen from today */
        {"WhenTrue(C > 100, C)", NAN},
        {"WhenTrue(C > C[1], C, 0, -2)[7]", 9}, /* counting forward from bar 4 itself */
        {"SumSince(C > C[1], C)", 1},
        {"SumSince(C > C[1], C, 0, 2)", 7},
        {"SumSince(C < 2, C)", 0},
        {"SumSince(C > 100, C)", 0},
        {"CountTrue(C > C[1])", 7},
        {"CountTrue(C > C[1], 5)", 3},
        {"TrueInRow(C > C[1])", 0},
        {"TrueInRow(C > C[1])[1]", 3},
    };
    for (const auto &c : cases) {
        double got = Value(c.text);
        if (std::isnan(c.want))
            EXPECT_TRUE(std::isnan(got)) << c.text << " gave " << got;
        else
            EXPECT_DOUBLE_EQ(c.want, got) << c.text;
    }
}

TEST_F(Counters, ZigzagSkipsTheFirstTurnAndSequencesKeepTheirOrder)
{
    SetCloses({5, 6, 4, 7, 8, 9, 3, 2, 4, 5, 6, 1});
    const struct {
        const char *text;
        double want;
    } cases[] = {
        {"Peak(C, 20)", 6}, {"PeakBars(C, 20)", 1}, {"Trough(C, 20)", 2}, {"TroughBars(C, 20)", 4}, {"Peak(C, 20, 2)", 9}, {"PeakBars(C, 20, 2)", 6}, {"Peak(C, 20, 5)", NAN}, {"Trough(C, 500)", NAN}, {"Sequence(10, C = 9, C = 4)", 1}, /* 9 six bars ago, then 4 three bars ago */
        {"Sequence(10, C = 4, C = 9)", 1},                                                                                                                                                                                                 /* 4 nine bars ago, then 9 */
        {"Sequence(8, C = 4, C = 9)", 0},                                                                                                                                                                                                  /* within 8 bars the 4 comes after the 9 */
        {"Sequence(10, C = 9, C = 9)", 0},
        {"Sequence(3, C = 1)", 1},
        {"Sequence(13, C = 1)", NAN}, /* more bars than exist */
    };
    for (const auto &c : cases) {
        double got = Value(c.text);
        if (std::isnan(c.want))
            EXPECT_TRUE(std::isnan(got)) << c.text << " gave " << got;
        else
            EXPECT_DOUBLE_EQ(c.want, got) << c.text;
    }
}

TEST_F(Counters, OnePassAgreesWithThePerBarScans)
{
    const char *const members[] = {"SinceTrue(%s)", "UntilTrue(%s)", "WhenTrue(%s, C)", "SumSince(%s, V)",
                                   "CountTrue(%s)", "TrueInRow(%s)", "-SinceTrue(%s)"};
    const char *const conditions[] = {"C > C[1]", "C[(BarNum MOD 7 = 3) * 100000] > O", "C > 1000"};
    int compared = 0;
    for (uint32_t seed = 1; seed <= 3; seed++) {
        SetRandomBars(50, seed, 17, 30);
        for (const char *member : members)
            for (const char *cond : conditions) {
                char text[160];
                snprintf(text, sizeof text, member, cond);
                FormulaSlot *slot = CompileText(text);
                std::vector<double> one = OnePass(slot);
                for (int32_t bar = 0; bar < barCount; bar++) {
                    double each = ValueAt(slot, bar);
                    if (std::isnan(each) || std::isnan(one[bar])) continue;
                    compared++;
                    ASSERT_NEAR(each, one[bar], 1e-9 * fmax(1, fabs(each))) << text << " at bar " << bar;
                }
            }
    }
    EXPECT_GT(compared, 2000);
}

} // namespace
