/* Classic indicators and trailing stops: values worked from their
** definitions, warm-up rules, and the one-pass walks against the per-bar
** path across splits. */
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "builtins_fixture.h"
#include "foundation/settings_table.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"

namespace {

using Indicators = BuiltinTest;

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

/* Thirty bars of a swinging, slowly rising market. */
void SetSwingBars(BuiltinTest *t, double split = 1)
{
    std::vector<BarSpec> bars;
    for (int i = 0; i < 30; i++) {
        double c = 20 + 3 * sin(i * 0.7) + i * 0.1;
        bars.push_back({c - 0.1 * cos(i * 0.9), c + 0.5 + 0.3 * cos(i), c - 0.6 - 0.2 * sin(i * 1.3), c,
                        1000.0 + 100 * (i % 7), split});
    }
    t->SetBars(bars);
}

/* Reference values computed once from the definitions by a separate program
** (EmaPrecision 3: a smoothing of length n with multiplier m walks m × n × 3
** bars, cut to the 30 that exist). */
TEST_F(Indicators, ValuesAtTheLastBarMatchTheDefinitions)
{
    SetSwingBars(this);
    gSettings.EmaPrecision = 3;
    gScriptSettings.DaysPerYear = 252;
    /* clang-format off */
    const Case cases[] = {
        {"ATR(5)", 1.9050693396001008},
        {"RSI(4)", 81.257339110237808},
        {"RRSI(4, 50)", 23.256987438639772},
        {"RRSI(4, 80)", 25.812397138317735},
        {"ADX(3)", 56.25968433702517},
        {"PDI(3)", 63.322030172881497},
        {"MDI(3)", 9.8507350042980537},
        {"CRSI(5, 3, 2)", 69.295839795308822},
        {"CRSI(1, 3, 2)", NAN},               /* a rank over one change */
        {"HVOL(10)", 99.755141258405999},
        {"HVOL(10, 52)", 45.314447518704007},
        {"STOC(5, 3)", 94.550030728861429},
        {"STOC(5, 0)", NAN},
        {"CCI(6)", 106.24369487754136},
        {"MACD(3, 6)", 1.1099031910159454},
        {"MACDS(3, 6, 4)", 0.55157502399518388},
        {"MACDH(3, 6, 4)", 0.55832816702076149},
        {"OBV(8)", 1.9607843137254901},
        {"SigSpike(10)", 0.61790988807572489},
        {"BBTop(10, 2)", 27.154015735676502},
        {"BBBot(10, 2)", 18.354701051516145},
        {"BBWidth(10, 2)", 38.670897820774059},
        {"BBPct(10, 2)", 0.85502092333790458},
        {"BBTrend(5, 10, 2)", -0.0028488348203914034},
        {"KBTop(4, 2)", 27.716776081683189},
        {"KBBot(4, 2)", 20.455982452090478},
        {"BBTop(31, 2)", NAN},
        {"OBV(30)", NAN},                      /* needs the bar before the window */
    };
    /* clang-format on */
    ExpectCases(this, cases, sizeof cases / sizeof cases[0]);
    ctx.barSize = BAR_DAILY;
}

TEST_F(Indicators, VolatilityCountsPeriodsByBarSize)
{
    SetSwingBars(this);
    gScriptSettings.DaysPerYear = 252;
    SymbolRecord *symbol = &gStore.symbols[0];
    const struct {
        int barSize;
        double periods;
    } cases[] = {{BAR_DAILY, 252}, {BAR_WEEKLY, 52}, {BAR_MONTHLY, 12}, {BAR_QUARTERLY, 4}, {BAR_YEARLY, 1}};
    double daily = Value("HVOL(10, 1)");
    for (const auto &c : cases) {
        /* The same bars stand in for every bar size. */
        symbol->bars[c.barSize] = symbol->bars[BAR_DAILY];
        symbol->barCounts[c.barSize] = symbol->barCounts[BAR_DAILY];
        ctx.barSize = c.barSize;
        EXPECT_NEAR(daily * sqrt(c.periods), Value("HVOL(10)"), 1e-9) << c.barSize;
        if (c.barSize != BAR_DAILY) symbol->bars[c.barSize] = nullptr;
        symbol->barCounts[c.barSize] = c.barSize == BAR_DAILY ? symbol->barCounts[BAR_DAILY] : 0;
    }
    ctx.barSize = BAR_DAILY;
}

TEST_F(Indicators, EdgeCasesOfTheRsiFamilyAndFlatMarkets)
{
    SetCloses({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    gSettings.EmaPrecision = 3;
    /* Only rises: the top of the scale; OBV of rising closes is all volume. */
    /* CRSI: both of its RSIs at the top, today's change the smallest of three. */
    const Case rising[] = {{"RSI(2)", 100}, {"OBV(10)", 100}, {"RsiF(C, 2)", 100}, {"CRSI(3, 1.5, 1.5)", 200.0 / 3}};
    ExpectCases(this, rising, sizeof rising / sizeof rising[0]);
    SetCloses({5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5});
    /* No change, no range, no deviation: 0 where the indicator defines it,
    ** else no value rather than an infinity. */
    const Case flat[] = {{"RSI(2)", 0}, {"STOC(3, 2)", 0}, {"CCI(4)", NAN}, {"SigSpike(5)", NAN}, {"BBPct(5, 2)", NAN}, {"ATR(2)", 0}, {"HVOL(5)", 0}};
    ExpectCases(this, flat, sizeof flat / sizeof flat[0]);
    SetCloses({5, 5, 0, 5, 5, 5, 5, 5, 5, 5, 5, 5});
    EXPECT_TRUE(std::isnan(Value("HVOL(11)"))); /* a zero close has no log return */
    EXPECT_TRUE(std::isnan(Value("SigSpike(8)")));
}

/* Equal closes whose sum does not divide back exactly: 20 of 10.1 average
** 10.1 - 1.8e-15, 20 of 1234.5678 average 1234.5678 + 2.3e-13.  Their
** deviation is 0 all the same, so whatever divides by it has no value (a
** halted stock never passes CCI(20) > 50), per bar and in a one-pass walk;
** StdDev is 0 and the band width 0.  The flat stretch closes a long swinging
** history, whose running sums the one-pass walk carries into it. */
TEST_F(Indicators, AWindowOfEqualValuesHasNoSpreadToDivideBy)
{
    struct {
        const char *text;
        double want;  /* per bar at the last bar; NaN: no value */
        bool onePass; /* also the last output of a one-pass walk */
    } cases[] = {
        {"CCI(20)", NAN, false},
        {"CCI(20) > 50", NAN, false},
        {"BBPct(20, 2)", NAN, true},
        {"BBPctF(C, 20, 2)", NAN, true},
        {"Skewness(C, 20)", NAN, true},
        {"Kurtosis(C, 20)", NAN, true},
        {"StdDev(C, 20)", 0, true},
        {"BBWidth(20, 2)", 0, true},
    };
    for (double flat : {10.1, 1234.5678}) {
        std::vector<double> closes;
        for (int i = 0; i < 1500; i++) closes.push_back(round((flat * (1 + 0.2 * sin(i * 0.37))) * 100) / 100);
        for (int i = 0; i < 25; i++) closes.push_back(flat);
        SetCloses(closes);
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << c.text << " of " << flat);
            double got = Value(c.text);
            if (std::isnan(c.want))
                EXPECT_TRUE(std::isnan(got)) << got;
            else
                EXPECT_EQ(c.want, got);
            if (!c.onePass) continue;
            double last = OnePass(CompileText(c.text)).back();
            if (std::isnan(c.want))
                EXPECT_TRUE(std::isnan(last)) << last;
            else
                EXPECT_EQ(c.want, last);
        }
    }

    /* Returns all but equal: closes growing 1% a bar give returns that differ
    ** only in their last places. */
    std::vector<double> growing;
    for (int i = 0; i < 30; i++) growing.push_back(100 * pow(1.01, i));
    SetCloses(growing);
    EXPECT_TRUE(std::isnan(Value("SigSpike(20)")));

    /* The same price either side of a 7:1 split, 86.38 before it, 12.34 after,
    ** comes out a unit of the last place apart: no range, so each %K of
    ** STOC(5, 3) counts 0. */
    std::vector<BarSpec> bars;
    for (int i = 0; i < 10; i++) {
        double p = i < 5 ? 86.38 : 12.34;
        bars.push_back({p, p, p, p, 1000, i < 5 ? 7.0 : 1.0});
    }
    SetBars(bars);
    EXPECT_EQ(0, Value("STOC(5, 3)"));

    /* A regression on x values that are all equal has no slope, and its line
    ** stands at the mean of y. */
    SetCloses({3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3, 2, 3, 8, 4});
    for (const char *x : {"10.1", "19.99", "7.77"}) {
        SCOPED_TRACE(x);
        EXPECT_EQ(0, Value(std::string("Slope(C, ") + x + " + 0 * C, 20)"));
        EXPECT_DOUBLE_EQ(4.85, Value(std::string("LinReg(C, ") + x + " + 0 * C, 20)"));
    }
}

TEST_F(Indicators, TrailingStopsMatchTheirDefinitions)
{
    SetSwingBars(this);
    gSettings.EmaPrecision = 3;
    /* clang-format off */
    const Case cases[] = {
        {"SAR(0.02, 0.2, 20)", 18.79634789888636},
        {"SAR(0.05, 0.3, 30)", 19.623451552514883},
        {"SAR()", NAN},                                   /* 100 bars by default */
        {"SAR(0.02, 0.2, 31)", NAN},
        {"KDSAR(1, 0.02, 0.2, 20)", 19.662758030083562},
        {"KDSAR(-1, 0.02, 0.2, 20)", 26.153881958601016},
        {"KDSAR(0, 0.02, 0.2, 20)", 19.662758030083562},
        {"KDSAR(0, 0.03, 0.2, 25, 1)", 21.100558851241033},
        {"KDSAR(1, 0.03, 0.2, 25, 1)", 21.100558851241033},
        {"KDSAR()", NAN},
        {"SuperTrend(3, 2)", 22.016994514036039},
        {"SuperTrend(2, 1)", 23.969426245268419},
    };
    /* clang-format on */
    ExpectCases(this, cases, sizeof cases / sizeof cases[0]);
    /* Warm-up of a one-pass SuperTrend with UseAvailableBars: the first bar
    ** its close, the next ones their mid price. */
    gUseAvailableBars = 1;
    std::vector<double> out = OnePass(CompileText("SuperTrend(10, 3)"));
    const Bar *bars = gStore.symbols[0].bars[BAR_DAILY];
    EXPECT_DOUBLE_EQ(bars[0].close, out[0]);
    for (int i = 1; i <= 9; i++) EXPECT_DOUBLE_EQ((bars[i].high + bars[i].low) / 2, out[i]) << i;
}

TEST_F(Indicators, OnePassAgreesWithThePerBarPathAcrossSplits)
{
    gSettings.EmaPrecision = 1e9; /* the per-bar walks reach the first bar */
                                  /* clang-format off */
    const char *const members[] = {
        "ATR(%d)",        "RSI(%d)",        "RRSI(%d, 60)",   "ADX(%d)",         "PDI(%d)",        "MDI(%d)",
        "HVOL(%d, 252)",  "MACD(%d, 9)",    "MACDS(%d, 9, 4)", "MACDH(4, %d, 3)", "BBTop(%d, 2)",  "BBBot(%d, 2)",
        "BBWidth(%d, 2)", "BBPct(%d, 1.5)", "BBTrend(%d, 6, 2)", "KBTop(%d, 2)",  "KBBot(%d, 1)",
        "SuperTrend(%d, 2)",
    };
                                  /* clang-format on */
    const int lengths[] = {1, 2, 5, 14, 80};
    int compared = 0;
    for (uint32_t seed = 1; seed <= 2; seed++) {
        SetRandomBars(70, seed, 25, 50);
        for (int available = 0; available <= 1; available++) {
            gUseAvailableBars = available;
            for (const char *member : members)
                for (int length : lengths) {
                    char text[80];
                    snprintf(text, sizeof text, member, length);
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
