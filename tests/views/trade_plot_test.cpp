#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "shell/headless/headless.h"
#include "views/trade_plot.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/builtins.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/eval/evaluator.h"

namespace {

struct TradeSpec {
    int32_t strategy;
    int32_t side;
    double priceIn, priceOut, quantity;
    double fraction;
    double highest, lowest;
    int32_t timeIn;
};

/* A test of three strategies (2 is a group holding 1) with the given trades. */
struct PlotFixture {
    TestRecord test{};
    StrategyResult strategies[3]{};
    StatCell cells[3 * 2]{};
    PlotWindow *record = nullptr;

    explicit PlotFixture(const std::vector<TradeSpec> &specs)
    {
        test.testNumber = 3;
        test.strategyCount = 3;
        test.strategies = strategies;
        strcpy(strategies[0].name, "Main");
        strcpy(strategies[1].name, "Member");
        strcpy(strategies[2].name, "Group");
        strategies[1].parentCount = 1;
        strategies[1].parents[0] = 2;
        for (const TradeSpec &s : specs) {
            TradeRecord *t = AddTrade(&test);
            t->strategy = s.strategy;
            t->side = s.side;
            t->dateIn = 20200102;
            t->dateOut = 20200110;
            t->timeIn = s.timeIn;
            t->priceIn = s.priceIn;
            t->priceOut = s.priceOut;
            t->quantityIn = t->quantityOut = s.quantity;
            t->splitIn = t->splitOut = 1;
            t->fxIn = t->fxOut = 1;
            t->pointValue = 1;
            t->fraction = s.fraction;
            t->highest = s.highest;
            t->lowest = s.lowest;
        }
        AllocMemory(&record, sizeof *record);
        record->test = &test;
        record->strategy = 0;
        record->samples = 10;
        record->shown = 5;
        record->distributionBuckets = 100;
        record->equalCountBins = 10;
        record->rangeIncrement = 0.1;
        strcpy(record->formula, "V / AVG(V,20)");
    }
    ~PlotFixture()
    {
        FreePlotWindow(record);
        FreeMemory(&test.trades);
    }
    std::vector<double> Values() const
    {
        std::vector<double> v;
        for (int32_t i = 0; i < record->pointCount; i++) v.push_back(record->points[i].value);
        return v;
    }
};

void ExpectValues(const std::vector<double> &got, const std::vector<double> &want, const char *name)
{
    ASSERT_EQ(got.size(), want.size()) << name;
    for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], want[i], 1e-12) << name << " " << i;
}

TEST(TradePlot, TradePassWorkedByHand)
{
    /* Trades, long unless marked: +100 (10 at 10 -> 20), -50 (10 at 20 -> 15),
    ** +30 from the member strategy, and three that never become points. */
    const std::vector<TradeSpec> trades = {
        {0, 1, 10, 20, 10, 0.5, 22, 9, 0},
        {0, 1, 20, 15, 10, 0.5, 21, 14, 0},
        {1, 1, 10, 13, 10, 1.0, 13, 8, 0},
        {0, 1, 0, 15, 10, 1.0, 16, 8, 0},  /* price in 0 */
        {0, 1, 10, 15, 10, 1.0, 16, 8, -1}, /* negative time-in code */
        {2, 1, 10, 15, 10, 1.0, 16, 8, 0},  /* the group itself, not plotted */
    };
    struct Case {
        const char *name;
        int32_t strategy, kind, units;
        std::vector<double> values;
    } cases[] = {
        {"dollars, trade order", 0, PLOT_SCATTER, PLOT_DOLLARS, {100, -50}},
        {"a group takes its members", 2, PLOT_SCATTER, PLOT_DOLLARS, {30, 15 * 10 - 10 * 10}},
        {"trade percent", 0, PLOT_SCATTER, PLOT_TRADE_PERCENT, {1.0, -0.25}},
        {"alloc percent scales by the fraction", 0, PLOT_SCATTER, PLOT_ALLOC_PERCENT, {0.5, -0.125}},
        {"cumulative dollars", 0, PLOT_CUMULATIVE, PLOT_DOLLARS, {100, 50}},
        /* growth factors 1 + 1.0 x 0.5 = 1.5 and 1 - 0.25 x 0.5 = 0.875 */
        {"cumulative growth", 0, PLOT_CUMULATIVE, PLOT_TRADE_PERCENT, {0.5, 1.5 * 0.875 - 1}},
        /* long: adverse (lowest - in) x 10, favourable (highest - in) x 10 */
        {"excursions sorted by value", 0, PLOT_EXCURSION_DISTRIBUTION, PLOT_DOLLARS, {-60, -10, 10, 120}},
    };
    for (const Case &c : cases) {
        PlotFixture f(trades);
        f.record->strategy = c.strategy;
        f.record->kind = c.kind;
        f.record->units = c.units;
        ASSERT_EQ(CalcTradePlotData(f.record), 1) << c.name;
        EXPECT_EQ(f.record->busy, 0);
        ExpectValues(f.Values(), c.values, c.name);
    }
    /* The group's trades in trade order take positions 1 and 2; the x range
    ** leaves a step of room each side. */
    PlotFixture f(trades);
    f.record->strategy = 2;
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    EXPECT_EQ(f.record->points[0].trade, 2);
    EXPECT_EQ(f.record->points[1].trade, 5);
    EXPECT_EQ(f.record->points[1].x, 2);
    EXPECT_EQ(f.record->xMin, 0);
    EXPECT_EQ(f.record->xMax, 3);
}

TEST(TradePlot, UnusableTradesAndLimitsDropValues)
{
    /* A zero exchange rate makes the percent units divide by zero: such a
    ** trade shows no value instead of an infinity. */
    PlotFixture f({{0, 1, 10, 12, 10, 1, 12, 10, 0}, {0, 1, 10, 30, 10, 1, 30, 10, 0}, {0, 1, 10, 5, 10, 1, 10, 5, 0}});
    f.test.trades[0].fxIn = 0;
    f.record->units = PLOT_TRADE_PERCENT;
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    ExpectValues(f.Values(), {2.0, -0.5}, "zero rate");
    f.record->useMaxValue = 1;
    f.record->maxValue = 1.5;
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    ExpectValues(f.Values(), {-0.5}, "max value");
    f.record->useMaxValue = 0;
    f.record->useMinValue = 1;
    f.record->minValue = 0;
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    ExpectValues(f.Values(), {2.0}, "min value");
}

TEST(TradePlot, DistributionAndBinsThroughTheRecord)
{
    std::vector<TradeSpec> trades;
    /* 25 trades with profits 10, 20, ..., 250 */
    for (int i = 1; i <= 25; i++) trades.push_back({0, 1, 10, 10.0 + i, 10, 1, 40, 5, 0});
    PlotFixture f(trades);
    f.record->kind = PLOT_EQUAL_COUNT_BINS;
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    ASSERT_EQ(f.record->bucketCount, 10);
    /* bin 10 holds trades 19 and 20: average 195, last x 20 */
    EXPECT_EQ(f.record->buckets[9].value, 20);
    EXPECT_EQ(f.record->buckets[9].position, 195);
    EXPECT_EQ(f.record->valueMin, 15);
    EXPECT_EQ(f.record->valueMax, 195);

    /* More buckets than points fall back to one per point; a single losing
    ** trade is one bucket of width 50 / 1 centred half a width above it. */
    PlotFixture one({{0, 1, 10, 5, 10, 1, 10, 5, 0}});
    one.record->kind = PLOT_PROFIT_DISTRIBUTION;
    ASSERT_EQ(CalcTradePlotData(one.record), 1);
    EXPECT_EQ(one.record->distributionBuckets, 1);
    ASSERT_EQ(one.record->bucketCount, 1);
    EXPECT_EQ(one.record->buckets[0].value, 1);
    EXPECT_EQ(one.record->buckets[0].position, -25);
    EXPECT_EQ(one.record->xMax, 1);
    EXPECT_EQ(one.record->valueMax, -25); /* the range takes in the centre */

    /* Equal-range bins of trade numbers 1..25 by 10: starts 0, 10, 20, the
    ** top (round(25 / 10) x 10 = 30) is never passed. */
    f.record->kind = PLOT_EQUAL_RANGE_BINS;
    f.record->rangeIncrement = 10;
    f.record->logStats = 1;
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    gHeadless.captureLog = 0;
    ASSERT_EQ(f.record->bucketCount, 3);
    EXPECT_EQ(f.record->buckets[0].position, 50);  /* trades 1..9 */
    EXPECT_EQ(f.record->buckets[1].position, 145); /* 10..19 */
    EXPECT_EQ(f.record->buckets[2].position, 225); /* 20..25 */
    std::string log = gHeadless.logText ? gHeadless.logText : "";
    const char *expected = "-------------------------------------------------\n"
                           "Test 3 - Main - average $gain - bin interval = 10\n"
                           "-------------------------------------------------\n"
                           "Bin\tCount\tX Min\tX Max\tAvg Trade\n"
                           "---\t-----\t-----\t-----\t---------\n"
                           "1\t9\t0\t10\t50\n"
                           "2\t10\t10\t20\t145\n"
                           "3\t6\t20\t30\t225\n"
                           "\n";
    EXPECT_EQ(log, expected);
    ResetHeadlessShell();
}

TEST(TradePlot, Titles)
{
    std::string longFormula(240, 'C');
    struct Case {
        int32_t kind, units, sortField, dataLoaded;
        const char *formula;
        const char *title;
    } cases[] = {
        {PLOT_SCATTER, PLOT_DOLLARS, PLOT_SORT_TRADE_NUMBER, 1, "V", "Test 3 - Main - individual $gains"},
        {PLOT_PROFIT_DISTRIBUTION, PLOT_DOLLARS, PLOT_SORT_FORMULA, 1, "V", "Test 3 - Main - distribution of $gains"},
        {PLOT_MC_PROFITS, PLOT_ALLOC_PERCENT, PLOT_SORT_TRADE_NUMBER, 1, "V",
         "Test 3 - Main - Monte Carlo %profit - 10 samples, showing best & worst 5"},
        {PLOT_MC_DRAWDOWNS, PLOT_TRADE_PERCENT, PLOT_SORT_FORMULA, 0, "V",
         "Test 3 - Main - Monte Carlo %drawdown - 10 samples, showing worst 5"},
        {PLOT_EQUAL_RANGE_BINS, PLOT_DOLLARS, PLOT_SORT_FORMULA, 0, "V / AVG(V,20)",
         "Test 3 - Main - average $gain, sorted by V / AVG(V,20) [DATA NOT LOADED] - bin interval = 0.1"},
        {PLOT_CUMULATIVE, PLOT_DOLLARS, PLOT_SORT_FORMULA, 1, longFormula.c_str(), nullptr},
    };
    for (const Case &c : cases) {
        PlotFixture f({});
        f.record->kind = c.kind;
        f.record->units = c.units;
        f.record->sortField = c.sortField;
        f.record->dataLoaded = c.dataLoaded;
        strcpy(f.record->formula, c.formula);
        char title[PLOT_TITLE_SIZE];
        int n = BuildTradePlotTitle(f.record, title, sizeof title);
        std::string want = c.title ? c.title
                                   : "Test 3 - Main - cumulative $profit, sorted by " + std::string(231, 'C') + "...";
        EXPECT_EQ(std::string(title), want);
        EXPECT_EQ(n, int(want.size()));
    }
}

/* One trade: every value is the same, so the range is nothing.  Money stays
** at cents; a Monte Carlo curve of one point says why it is blank. */
TEST(TradePlot, AxisDecimalsAndEmptyPlots)
{
    struct Decimals {
        int32_t percent;
        double lo, hi;
        int32_t decimals;
    } decimals[] = {
        {0, 2250810, 2250810, 2}, {0, 0, 0.05, 2}, {0, 0, 5, 2}, {0, 0, 50, 1}, {0, -300, 5000, 0},
        {1, 0.1, 0.1, 4},         {1, 0, 0.0005, 4}, {1, 0, 0.05, 2}, {1, 0, 0.5, 1}, {1, 0, 2, 0},
    };
    for (const Decimals &c : decimals)
        EXPECT_EQ(PlotAxisDecimals(c.percent, c.lo, c.hi), c.decimals) << c.percent << " " << c.lo << ".." << c.hi;

    struct Empty {
        int32_t kind, points;
        const char *reason;
    } empty[] = {
        {PLOT_SCATTER, 0, "No trades to plot."},
        {PLOT_MC_PROFITS, 1, "Monte Carlo analysis needs at least 2 trades."},
        {PLOT_MC_DRAWDOWNS, 1, "Monte Carlo analysis needs at least 2 trades."},
        {PLOT_SCATTER, 1, nullptr},
        {PLOT_MC_PROFITS, 2, nullptr},
    };
    for (const Empty &c : empty) {
        PlotFixture f({});
        f.record->kind = c.kind;
        f.record->pointCount = c.points;
        const char *reason = TradePlotEmptyReason(f.record);
        EXPECT_STREQ(reason, c.reason) << c.kind << " " << c.points;
        f.record->pointCount = 0;
    }
}

TEST(TradePlot, MonteCarloTableOfEqualTrades)
{
    /* Four trades of +25: every sample ends at +100 whatever it draws, never
    ** falls, and over 504 rows of 252 days a year makes 50 a year. */
    std::vector<TradeSpec> trades(4, TradeSpec{0, 1, 10, 12.5, 10, 1, 13, 10, 0});
    PlotFixture f(trades);
    f.test.rowsFilled = 504;
    f.test.daysPerYear = 252;
    f.record->kind = PLOT_MC_PROFITS;
    f.record->logStats = 1;
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    std::string log = gHeadless.logText ? gHeadless.logText : "";
    EXPECT_EQ(f.record->xMax, 3);
    EXPECT_EQ(f.record->valueMin, 25);
    EXPECT_EQ(f.record->valueMax, 100);
    /* Each field but the last fills 15 characters before its tab, so the
    ** columns line up under their headings. */
    const std::string rule(80, '-');
    EXPECT_EQ(log, rule + "\nMonte Carlo Analysis\n" + rule +
                       "\nPercentile     \tNet Profit     \tAAR            \tMax Drawdown\n"
                       "1%             \t$100           \t$50            \t$0\n"
                       "5%             \t$100           \t$50            \t$0\n"
                       "10%            \t$100           \t$50            \t$0\n"
                       "20%            \t$100           \t$50            \t$0\n"
                       "50%            \t$100           \t$50            \t$0\n"
                       "80%            \t$100           \t$50            \t$0\n"
                       "90%            \t$100           \t$50            \t$0\n"
                       "95%            \t$100           \t$50            \t$0\n"
                       "99%            \t$100           \t$50            \t$0\n");

    /* The rows are bars of the test's size: 208 weekly, 48 monthly, 16
    ** quarterly or 4 yearly rows are 4 years, so 25 a year, whatever the
    ** days per year of a daily test. */
    const struct {
        int32_t barSize, rows;
    } sizes[] = {{BAR_WEEKLY, 208}, {BAR_MONTHLY, 48}, {BAR_QUARTERLY, 16}, {BAR_YEARLY, 4}};
    for (const auto &c : sizes) {
        SCOPED_TRACE(c.barSize);
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        f.test.settings.BarSize2 = c.barSize;
        f.test.rowsFilled = c.rows;
        ASSERT_EQ(CalcTradePlotData(f.record), 1);
        log = gHeadless.logText ? gHeadless.logText : "";
        EXPECT_NE(log.find("50%            \t$100           \t$25            \t$0\n"), std::string::npos) << log;
    }
    f.test.settings.BarSize2 = BAR_DAILY;

    /* No days per year: no yearly rate rather than an infinity. */
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    f.test.daysPerYear = 0;
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    log = gHeadless.logText ? gHeadless.logText : "";
    EXPECT_NE(log.find("50%            \t$100           \tn/a            \t$0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("inf"), std::string::npos);
    ResetHeadlessShell();
}

/* Two symbols of five daily bars; bar i of AAA closes at 11 + i, of BBB at
** 10 x that. */
struct SmallStore {
    const int32_t dates[5] = {20240102, 20240103, 20240104, 20240105, 20240108};
    SmallStore()
    {
        InstallBuiltins();
        gSettings.UseShortCircuit = 1;
        gSettings.NearZero = 1.0e-13;
        ResetEvaluatorState();
        AllocMemory(&gStore.symbols, 3 * sizeof(SymbolRecord));
        const char *names[2] = {"AAA", "BBB"};
        for (int s = 0; s < 2; s++) {
            SymbolRecord *r = &gStore.symbols[s];
            strcpy(r->info.Symbol, names[s]);
            r->info.PointValue = 1;
            r->firstUsedDate = FIRST_USED_NONE;
            r->dataSource = -1;
            AllocMemory(&r->bars[BAR_DAILY], 6 * sizeof(Bar));
            for (int i = 0; i < 5; i++) {
                Bar &b = r->bars[BAR_DAILY][i];
                b.date = dates[i];
                b.open = b.high = b.low = b.close = (11 + i) * (s ? 10.0 : 1.0);
                b.split = 1;
            }
            r->barCounts[BAR_DAILY] = 5;
            r->firstDate = dates[0];
            r->lastDate = dates[4];
        }
        gStore.symbolCount = 2;
        DateList &list = gStore.dateLists[BAR_DAILY];
        AllocMemory(&list.dates, 6 * sizeof(uint32_t));
        for (int i = 0; i < 5; i++) list.dates[i] = uint32_t(dates[i]);
        list.capacity = 6;
        list.count = 5;
        list.barSize = BAR_DAILY;
    }
    ~SmallStore()
    {
        for (int s = 0; s < 2; s++) FreeMemory(&gStore.symbols[s].bars[BAR_DAILY]);
        FreeMemory(&gStore.symbols);
        gStore.symbolCount = 0;
        FreeMemory(&gStore.dateLists[BAR_DAILY].dates);
        gStore.dateLists[BAR_DAILY] = DateList{};
        FreeFormulaNodes(&gPlotFormula.formula);
    }
};

TEST(TradePlot, FormulaOrdersTradesByTheirEntryValue)
{
    SmallStore store;
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    /* entries: AAA on bar 3 (close 14), a symbol not loaded, BBB on bar 0
    ** (110), AAA on bar 1 (12) */
    PlotFixture f({{0, 1, 10, 20, 1, 1, 20, 10, PHASE_CLOSE},
                   {0, 1, 10, 20, 2, 1, 20, 10, PHASE_CLOSE},
                   {0, 1, 10, 20, 3, 1, 20, 10, PHASE_CLOSE},
                   {0, 1, 10, 20, 4, 1, 20, 10, PHASE_CLOSE}});
    const char *symbols[4] = {"AAA", "ZZZ", "BBB", "AAA"};
    const int bars[4] = {3, 2, 0, 1};
    for (int i = 0; i < 4; i++) {
        strcpy(f.test.trades[i].symbol, symbols[i]);
        f.test.trades[i].dateIn = store.dates[bars[i]];
    }
    f.test.settings.BarSize2 = BAR_DAILY;
    f.record->sortField = PLOT_SORT_FORMULA;
    strcpy(f.record->formula, "C");
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    EXPECT_EQ(f.record->sortField, PLOT_SORT_FORMULA);
    EXPECT_EQ(f.record->dataLoaded, 1);
    ASSERT_EQ(f.record->pointCount, 4);
    const int trades[4] = {1, 3, 0, 2}; /* x 0 (not loaded), 12, 14, 110 */
    const double xs[4] = {0, 12, 14, 110};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(f.record->points[i].trade, trades[i]) << i;
        EXPECT_EQ(f.record->points[i].x, xs[i]) << i;
    }
    EXPECT_EQ(f.record->xMin, 0);
    EXPECT_EQ(f.record->xMax, 110);

    /* A formula that does not compile sorts by trade number from then on. */
    strcpy(f.record->formula, "C +* (");
    ASSERT_EQ(CalcTradePlotData(f.record), 1);
    EXPECT_EQ(f.record->sortField, PLOT_SORT_TRADE_NUMBER);
    EXPECT_EQ(f.record->points[0].trade, 0);
    ResetHeadlessShell();
}

} // namespace
