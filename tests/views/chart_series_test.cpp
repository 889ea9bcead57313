#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "support/program_state.h"
#include "views/chart_series.h"

namespace {

struct ChartTexts : ProgramStateTest {
    SymbolRecord symbol = {};
    ChartWindow chart = {};
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        ResetSettingsToDefaults();
        CopyString(symbol.info.Symbol, sizeof symbol.info.Symbol, "ABC", -1);
        symbol.info.TickSize = 0.01;
        chart.symbol = &symbol;
        chart.barSize = BAR_DAILY;
    }
};

TEST_F(ChartTexts, StatusLineByHand)
{
    /* A tick of 0.01 prints two decimals.  Bar 1 splits 2:1 against bar 0: its unadjusted close of 55 against the
    ** previous close of 100 scaled by 2 / 1 is a change of 55 / 200 - 1. */
    std::vector<Bar> bars(3);
    bars[0] = { .date = 20240314, .open = 98, .high = 101, .low = 97, .close = 100, .volume = 1234567, .split = 1 };
    bars[1] = { .date = 20240315, .open = 50, .high = 56, .low = 49, .close = 55, .volume = 2000, .split = 2 };
    struct Case {
        const char *name;
        int32_t shown;
        uint32_t splitAdjusted, showVolume, anyVolumeSeries;
        const char *expected;
    } cases[] = {
        { "first bar, no change, volume with commas", 0, 1, 1, 0,
          "  ABC - Daily 3/14/24:  O = 98.00,  H = 101.00,  L = 97.00,  C = 100.00 (0.00%), V = 1,234,567" },
        { "split bar adjusted", 1, 1, 0, 0,
          "  ABC - Daily 3/15/24:  O = 25.00,  H = 28.00,  L = 24.50,  C = 27.50 (-72.50%)  adjust = 2.00" },
        { "split bar unadjusted, volume pane taken by a formula", 1, 0, 1, 1,
          "  ABC - Daily 3/15/24:  O = 50.00,  H = 56.00,  L = 49.00,  C = 55.00 (-72.50%)  unadjusted" },
    };
    for (const Case &c : cases) {
        chart.splitAdjusted = c.splitAdjusted;
        chart.showVolumePane = c.showVolume;
        chart.anyVolumeSeries = c.anyVolumeSeries;
        char out[CHART_STATUS_SIZE];
        FormatChartStatus(&chart, bars.data(), c.shown, out, sizeof out);
        EXPECT_STREQ(out, c.expected) << c.name;
    }
}

TEST_F(ChartTexts, TitlesByKind)
{
    struct Case {
        int32_t kind;
        const char *name, *industry, *expected;
    } cases[] = {
        { CHART_KIND_SYMBOL, "", "", "Chart - ABC" },
        { CHART_KIND_SCAN, "Abc Corp", "", "Scan - ABC [Abc Corp]" },
        { CHART_KIND_TRADE, "Abc Corp", "Tools", "Trade - Breakout - ABC [Abc Corp | Tools]" },
        { CHART_KIND_COMPARE, "", "Tools", "Compare - ABC" },
    };
    for (const Case &c : cases) {
        chart.kind = c.kind;
        CopyString(symbol.info.Name, sizeof symbol.info.Name, c.name, -1);
        CopyString(symbol.info.Industry, sizeof symbol.info.Industry, c.industry, -1);
        char out[CHART_TITLE_SIZE];
        FormatChartTitle(&chart, "Breakout", out, sizeof out);
        EXPECT_STREQ(out, c.expected);
    }
}

TEST_F(ChartTexts, ShownBarFollowsTheCursorOnlyInsideTheView)
{
    chart.firstBar = 10;
    chart.lastBar = 19;
    chart.barCount = 10;
    struct Case {
        uint32_t showCursor;
        int32_t slot, expected;
    } cases[] = { { 0, 3, 19 }, { 1, 3, 13 }, { 1, 10, 19 }, { 1, -1, 19 } };
    for (const Case &c : cases) {
        chart.showCursor = c.showCursor;
        chart.cursorSlot = c.slot;
        EXPECT_EQ(ChartShownBar(&chart), c.expected) << c.showCursor << " " << c.slot;
    }
    chart.barCount = 0;
    EXPECT_EQ(ChartShownBar(&chart), -1);
}

} // namespace

namespace {

TEST(ChartSymbolChange, ViewKeepsItsPlaceAtTheChartsBarSize)
{
    /* A weekly chart 9 bars before the end of a 20-week symbol moves to a
    ** symbol of 300 daily and 60 weekly bars: 9 bars before its end is bar 50. */
    struct Case {
        const char *name;
        int32_t oldWeeks, newWeeks, lastBar, visible;
        int32_t expectedLast, expectedCount;
    } cases[] = {
        { "middle of the bars", 20, 60, 10, 8, 50, 8 },
        { "end of the bars", 20, 60, 19, 8, 59, 8 },
        { "shorter symbol, zoom limited", 20, 8, 19, 30, 7, 8 },
        { "far shorter symbol, view at its start", 20, 2, 5, 30, 0, 2 },
    };
    for (const Case &c : cases) {
        SymbolRecord before = {}, after = {};
        before.barCounts[BAR_WEEKLY] = c.oldWeeks;
        after.barCounts[BAR_WEEKLY] = c.newWeeks;
        ChartWindow chart = {};
        chart.symbol = &before;
        chart.barSize = chart.loadedBarSize = BAR_WEEKLY;
        chart.lastBar = c.lastBar;
        chart.visibleBars = c.visible;
        MoveChartViewToSymbol(&chart, &after);
        EXPECT_EQ(chart.symbol, &after) << c.name;
        EXPECT_EQ(chart.lastBar, c.expectedLast) << c.name;
        EXPECT_EQ(chart.barCount, c.expectedCount) << c.name;
    }
}

} // namespace

#include "script/compiler/compile_driver.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "services/services.h"

namespace {

/* Charts formulas compiled from a script, evaluated over a hand-made symbol
** whose bar 2 carries a split factor of 2. */
struct ChartSeriesLoad : ProgramStateTest {
    std::vector<Bar> bars;
    SymbolRecord symbol = {};
    ChartWindow chart = {};
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        ResetSettingsToDefaults();
        ResetScriptState(SCRIPT_RESET_RELEASE);
        std::string scripts = tmp.File("Scripts");
        CopyString(gScriptsFolder, sizeof gScriptsFolder, scripts.c_str(), -1);
        PlatCreateFolder(gScriptsFolder);
        WriteTestFile(scripts + "\\Results.kvs", "Results:\n  DefNet: 1 {#}\n");
        WriteTestFile(scripts + "\\Graphs.kvs", "Graphs:\n  DefGraph: 1\n");
        WriteTestFile(scripts + "\\Charts.kvs", "Charts:\n  DefChart: C\n");
        WriteTestFile(scripts + "\\Trades.kvs", "Trades:\n  DefTrade: 1\n");
        bars.resize(5);
        for (int i = 0; i < 4; i++)
            bars[size_t(i)] = { .date = 20240102 + i, .open = 100, .high = 110, .low = 90, .close = 100 + 10.0 * i,
                                .volume = 1000, .split = i == 2 ? 2.0 : 1.0 };
        symbol.bars[BAR_DAILY] = bars.data();
        symbol.barCounts[BAR_DAILY] = 4;
        symbol.firstUsedDate = 99991231;
        CopyString(symbol.info.Symbol, sizeof symbol.info.Symbol, "ABC", -1);
        chart.symbol = &symbol;
        chart.barSize = BAR_DAILY;
    }
    void TearDown() override
    {
        FreeChartIndicators(&chart);
        ResetScriptState(SCRIPT_RESET_RELEASE);
        ProgramStateTest::TearDown();
    }
    void Compile(const std::string &text)
    {
        std::string path = tmp.File("Scripts\\main.kvs");
        WriteTestFile(path, text);
        ASSERT_EQ(CompileScript(path.c_str(), RUN_MODE_TEST, 1), 1) << LastMessage();
    }
};

TEST_F(ChartSeriesLoad, PanesStatusMarkAndSplitAdjustment)
{
    Compile("Charts:\n  Price: C {#}\n  Twice: C * 2 {# |1}\n  Fives: 5 {# |2}\n  Remark: 7 {# ^}\n");
    ASSERT_EQ(gChartsColumns.count, 4);
    chart.splitAdjusted = 1;
    ASSERT_EQ(LoadChartSeries(&chart, nullptr), 1);
    ASSERT_EQ(chart.seriesCount, 4);
    EXPECT_EQ(chart.series[0].pane, CHART_PANE_PRICE);
    EXPECT_EQ(chart.series[1].pane, CHART_PANE_INDICATOR);
    EXPECT_EQ(chart.series[2].pane, CHART_PANE_VOLUME);
    EXPECT_EQ(chart.series[3].pane, CHART_PANE_STATUS);
    EXPECT_EQ(chart.statusFormula, &((FormulaColumn *)gChartsColumns.items)[3]);
    EXPECT_TRUE(chart.showIndicatorPane && chart.showVolumePane && chart.anyIndicatorSeries);
    /* A price-like value on the split bar is divided by its factor. */
    EXPECT_EQ(chart.series[0].values[1], 110);
    EXPECT_EQ(chart.series[0].values[2], 120 / 2.0);
    EXPECT_EQ(chart.series[0].min, 60);
    EXPECT_EQ(chart.series[0].max, 130);
    EXPECT_EQ(chart.series[0].integers, 1u);
    /* The marked formula's value closes the status line. */
    chart.firstBar = 0;
    chart.lastBar = 3;
    chart.barCount = 4;
    char status[CHART_STATUS_SIZE];
    FormatChartStatus(&chart, bars.data(), 3, status, sizeof status);
    std::string text = status;
    EXPECT_EQ(text.substr(text.size() - 3), ", 7") << text;
}

} // namespace
