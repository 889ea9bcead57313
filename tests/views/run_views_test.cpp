#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "../engine/engine_fixture.h"
#include "engine/results_file.h"
#include "foundation/random.h"
#include "marketdata/store/data_load.h"
#include "script/builtins/builtins.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "services/services.h"
#include "shell/run_view_setup.h"
#include "views/results_rows.h"
#include "views/stats_export.h"
#include "views/test_report.h"
#include "views/trade_plot.h"
#include "views/trade_rows.h"

namespace {

/* Six days of one symbol: a bar that closes up signals an entry at the next
** open, one that closes down an exit at the next open. */
struct RunViews : EngineTest {
    /* The run points the program's folders into this test's temporary folder;
    ** the tests after it get the folders they had. */
    char *folders[5] = {gScriptsFolder, gDataFolder, gOutputFolder, gLogsFolder, gReportsFolder};
    char saved[5][260];
    void SetUp() override
    {
        for (int k = 0; k < 5; k++) CopyString(saved[k], 260, folders[k], -1);
        EngineTest::SetUp();
        std::vector<int32_t> d = {20240102, 20240103, 20240104, 20240105, 20240108, 20240109};
        LoadStore(d, {{"AAA", {{20240102, 10.0, 11.0, 9.5, 10.5}, {20240103, 10.5, 12.0, 10.0, 11.5}, {20240104, 11.6, 12.5, 11.0, 12.0}, {20240105, 12.0, 13.0, 11.8, 12.8}, {20240108, 12.5, 12.6, 11.0, 11.2}, {20240109, 11.0, 11.5, 10.5, 11.4}}}});
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    }
    void TearDown() override
    {
        EngineTest::TearDown();
        for (int k = 0; k < 5; k++) CopyString(folders[k], 260, saved[k], -1);
    }
};

/* Four months of one symbol whose trend trades win and lose by varied amounts. */
void LoadVariedStore(RunViews *f)
{
    f->days = Weekdays(20240102, 20240430);
    std::vector<DayBar> bars;
    for (size_t k = 0; k < f->days.size(); k++) {
        const double open = 20 + (double)(k * 7 % 11) * 0.5;
        const double close = open + (k % 3 == 0 ? -0.7 : 0.4 + (double)(k % 5) * 0.1);
        bars.push_back({f->days[k], open, std::max(open, close) + 0.1, std::min(open, close) - 0.1, close});
    }
    f->LoadStore(f->days, {{"AAA", bars}});
}

const char kTrend[] = "Data:\n  Up: C > O\nStrategy: Trend\n  EntrySetup: Up\n  Quantity: 100\n  ExitRule: C < O\n"
                      "  Commission: 5\n  Slippage: 0.05\n  Compounded: False\n";

TEST_F(RunViews, ResultsRowAndTradeListOfARealRun)
{
    Write("Results.kvs", "Results:\n  Net: S.Equity {$ \"Net Equity\" |1}\n  Hidden: 2 {\"_x\"}\n");
    Write("Trades.kvs", "Trades:\n  Profit: T.Profit {$2 \"Profit\"}\n  Keep: T.Profit > 0 {~ |}\n");
    ASSERT_EQ(0, Run(kTrend)) << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(1, test->tradeCount);
    char cells[5][RESULTS_CELL_SIZE];
    FillResultsRow(FirstResultsWindow(), test, cells, 5);
    EXPECT_STREQ("0001", cells[0]);
    /* In at 10.55, out at 10.95, 100 shares, 5.00 each way: 40 - 10 = 30. */
    EXPECT_STREQ("$100,030.00", cells[3]);

    /* The report of the run: its summary statistic and its script. */
    CopyString(gReportsFolder, sizeof gReportsFolder, tmp.File("Output").c_str(), -1);
    gSettings.ReportNumber = 0;
    ASSERT_EQ(1, WriteTestReport(test));
    const std::string page = ReadTestFile(tmp.File("Output\\0001_" + std::string(test->settings.TestName) + "\\index.html"));
    EXPECT_NE(std::string::npos, page.find("<tr><th>Net Equity</th><td>$100,030.00</td></tr>")) << page;
    EXPECT_NE(std::string::npos, page.find("  ExitRule: C &lt; O\n")) << page;
}

TEST_F(RunViews, TradesFilterDropsTheTradesItRejects)
{
    struct Case {
        const char *filter;
        int32_t rows;
        const char *title;
    } cases[] = {
        {"T.Profit > 100", 0, "Trade List - Test 1 - 0 Trades (filtered)"},
        {"T.Profit > 0", 1, "Trade List - Test 2 - 1 Trade"},
    };
    for (const Case &c : cases) {
        Write("Trades.kvs", std::string("Trades:\n  Profit: T.Profit {$2}\n  Filter: ") + c.filter + "\n");
        ASSERT_EQ(0, Run(kTrend)) << LastMessage();
        CellListWindow list = {};
        list.test = LastTest();
        ASSERT_EQ(1, BuildTradeList(&list, 4));
        EXPECT_EQ(c.rows, list.rowCount);
        EXPECT_EQ(TRADE_FIXED_COLUMNS + 1, list.columnCount); /* the filter is not shown */
        char title[200];
        FormatTradeListTitle(&list, title, sizeof title);
        EXPECT_STREQ(c.title, title);
        if (c.rows) EXPECT_STREQ("$30.00", GetListCell(&list, 0, TRADE_FIXED_COLUMNS)->text);
        FreeListWindow(&list);
    }
}

/* A script that fails to compile changes nothing in what the tests already
** run show: their statistics (refreshed too), their columns and the trade
** lists opened on them keep the columns of the last good compile. */
TEST_F(RunViews, AFailedCompileKeepsTheStatisticsAndTradeColumns)
{
    Write("Results.kvs", "Results:\n  Net: S.Equity {$ \"Net Equity\" |1}\n");
    Write("Trades.kvs", "Trades:\n  Profit: T.Profit {$2 \"Profit\"}\n");
    ASSERT_EQ(0, Run(kTrend)) << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    const std::string broken = std::string(kTrend) + "  ExitRule: C < L\n"; /* the exit rule twice */
    ASSERT_NE(0, Run(broken.c_str()));
    EXPECT_NE(std::string::npos, std::string(LastMessage()).find("duplicate strategy element")) << LastMessage();

    char cells[4][RESULTS_CELL_SIZE];
    FillResultsRow(FirstResultsWindow(), test, cells, 4); /* as a refresh of the list does */
    EXPECT_STREQ("Net Equity", ResultsColumnHeading(FirstResultsWindow(), 3));
    EXPECT_STREQ("$100,030.00", cells[3]);
    CellListWindow list = {};
    list.test = test;
    ASSERT_EQ(1, BuildTradeList(&list, 4));
    ASSERT_EQ(TRADE_FIXED_COLUMNS + 1, list.columnCount);
    EXPECT_STREQ("$30.00", GetListCell(&list, 0, TRADE_FIXED_COLUMNS)->text);
    FreeListWindow(&list);

    /* The next good compile brings the script's own columns. */
    ASSERT_EQ(0, Run((std::string(kTrend) + "Results:\n  Twice: 2 {#}\n").c_str())) << LastMessage();
    EXPECT_STREQ("Twice", ResultsColumnHeading(FirstResultsWindow(), 3));
}

/* The Monte Carlo table of a seeded test: the report the run wrote, a report
** written later and the Monte Carlo plot's samples are the same, whatever
** seed a script compiled since has left (another seed, or none). */
TEST_F(RunViews, ASeededTestDrawsItsMonteCarloSamplesWithItsOwnSeed)
{
    LoadVariedStore(this);
    InstallRunViewHooks();
    gSettings.ReportNumber = 0;
    gSettings.AddReport = 1;
    ASSERT_EQ(0, Run(std::string("Settings:\n  RandomSeed: 11\n") + kTrend)) << LastMessage();
    gSettings.AddReport = 0;
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_GE(test->tradeCount, 10);
    auto monteCarloTable = [&](int number) {
        const std::string page = ReadTestFile(tmp.File("Output\\Reports\\" + std::string(number < 10 ? "000" : "00") +
                                                       std::to_string(number) + "_" + test->settings.TestName +
                                                       "\\index.html"));
        const size_t from = page.find("Monte Carlo Analysis");
        return from == std::string::npos ? std::string() : page.substr(from, page.find("</table>", from) - from);
    };
    const std::string runs = monteCarloTable(1);
    ASSERT_NE("", runs);
    /* The samples differ: a table of equal rows would not tell seeds apart. */
    EXPECT_NE(std::string::npos, runs.find("<tr><td>1%</td>")) << runs;
    CopyString(gReportsFolder, sizeof gReportsFolder, tmp.File("Output\\Reports").c_str(), -1);
    int number = 1;
    for (uint32_t seedNow : {0u, 7u, 11u}) {
        SetRandomSeed(seedNow);
        ASSERT_EQ(1, WriteTestReport(test));
        EXPECT_EQ(runs, monteCarloTable(++number)) << "program seed " << seedNow;
    }

    std::vector<double> first;
    for (uint32_t seedNow : {0u, 7u}) {
        SetRandomSeed(seedNow);
        PlotWindow *plot = nullptr;
        ASSERT_TRUE(AllocMemory(&plot, sizeof *plot));
        plot->test = test;
        LoadPlotSettings(plot);
        SetReportPlotOptions(plot);
        plot->kind = PLOT_MC_PROFITS;
        ASSERT_EQ(1, CalcTradePlotData(plot));
        std::vector<double> profits;
        for (int32_t k = 0; k < plot->samples; k++) profits.push_back(plot->profits[k].value);
        if (first.empty())
            first = profits;
        else
            EXPECT_EQ(first, profits);
        FreePlotWindow(plot);
    }
    SetRandomSeed(0);
}

/* The trade list's export of a test without a data file loaded (a results
** file reopened) is the file the run wrote: the Trades columns made of the
** trade's own values (the program's default ones: profit, gain, bars and the
** excursions from the trade's extremes) need no data.  A column that reads
** the data is refused by name, and the file is not written. */
TEST_F(RunViews, ATradeExportWithoutDataIsTheRunsOrIsRefusedByName)
{
    const std::string runs = tmp.File("run_trades.csv"), later = tmp.File("later_trades.csv");
    InstallRunViewHooks();
    ASSERT_TRUE(InstallBuiltins());
    Write("Trades.kvs", "Trades:\n  Profit: T.Profit {$-2 \"Profit\"}\n  Gain: T.NetPct {%2 \"Gain %\"}\n"
                        "  Bars: T.Bars {#0 \"Bars\"}\n"
                        "  MAE: IF(T.PriceIn > 0, IF(T.Side < 0, 1 - T.Highest / T.PriceIn, T.Lowest / T.PriceIn - 1), 0) "
                        "{%2 \"MAE %\"}\n"
                        "  MFE: IF(T.PriceIn > 0, IF(T.Side < 0, 1 - T.Lowest / T.PriceIn, T.Highest / T.PriceIn - 1), 0) "
                        "{%2 \"MFE %\"}\n");
    ASSERT_EQ(0, Run("Settings:\n  SaveTradesAs: " + runs + "\n" + kTrend)) << LastMessage();
    const std::string expected = ReadTestFile(runs);
    /* In at 10.55, out at 10.95: $30.00 after $10 of commissions, 2.84% of
    ** $1,055; held 4 bars; lowest 10.0, highest 13.0 (from 10.55: -5.21%
    ** and +23.22%). */
    ASSERT_NE(std::string::npos, expected.find(",$30.00,2.84%,4,-5.21%,23.22%\r\n")) << expected;
    TestRecord *test = LastTest();
    UnloadData();
    ASSERT_EQ(0, gStore.symbolCount);
    ASSERT_EQ(1, SaveTradesCsv(test, later.c_str()));
    EXPECT_EQ(expected, ReadTestFile(later));

    Write("Trades.kvs", "Trades:\n  Profit: T.Profit {$2 \"Profit\"}\n  Last: C {$2 \"Close\"}\n"
                        "  Keep: IF(L > 0, 1, 0) {~ |}\n");
    LoadStore(days, {{"AAA", {{20240102, 10.0, 11.0, 9.5, 10.5}, {20240103, 10.5, 12.0, 10.0, 11.5}, {20240104, 11.6, 12.5, 11.0, 12.0}, {20240105, 12.0, 13.0, 11.8, 12.8}, {20240108, 12.5, 12.6, 11.0, 11.2}, {20240109, 11.0, 11.5, 10.5, 11.4}}}});
    ASSERT_EQ(0, Run("Settings:\n  SaveTradesAs: " + runs + "\n" + kTrend)) << LastMessage();
    test = LastTest();
    UnloadData();
    ASSERT_EQ(1, SaveTradesCsv(test, later.c_str()));
    EXPECT_STREQ((later + " was not saved: the Trades columns Close, Keep can not be computed until a data file has "
                          "been loaded.").c_str(), LastMessage());
    EXPECT_EQ(expected, ReadTestFile(later)); /* the earlier file stays */
}

/* A Trades column that gives texts shows them and sorts by them; the list
** keeps them apart from the numbers of its other columns. */
TEST_F(RunViews, TextTradesColumnsShowAndSortByTheirTexts)
{
    LoadVariedStore(this);
    Write("Trades.kvs", "Trades:\n  Profit: T.Profit {$2 \"Profit\"}\n  Tag: IF(T.Profit > 0, 'win', 'loss')\n");
    ASSERT_EQ(0, Run(kTrend)) << LastMessage();
    char *sortList = SortListFor(SECTION_TRADES);
    ASSERT_NE(nullptr, sortList);
    CopyString(sortList, SORT_LIST_SIZE, "-Tag,-Trade", -1);
    CellListWindow list = {};
    list.test = LastTest();
    ASSERT_EQ(1, BuildTradeList(&list, 4));
    sortList[0] = 0;
    ASSERT_EQ(TRADE_FIXED_COLUMNS + 2, list.columnCount);
    ASSERT_GE(list.rowCount, 10);
    std::string tags;
    int32_t previous = 0;
    for (int32_t r = 0; r < list.rowCount; r++) {
        const std::string profit = GetListCell(&list, r, TRADE_FIXED_COLUMNS)->text;
        const ListCell *tag = GetListCell(&list, r, TRADE_FIXED_COLUMNS + 1);
        EXPECT_EQ(LIST_FORMAT_TEXT, tag->formatCode);
        const std::string text = tag->text;
        EXPECT_EQ(text == "loss", profit.find('-') != std::string::npos || profit == "$0.00") << profit;
        const int32_t number = atoi(GetListCell(&list, r, TRADE_COL_TRADE)->text);
        if (!tags.empty() && tags.back() == text[0]) EXPECT_LT(number, previous); /* -Trade within a tag */
        if (tags.empty() || tags.back() != text[0]) tags += text[0];
        previous = number;
    }
    EXPECT_EQ("wl", tags); /* every win, then every loss */
    FreeListWindow(&list);
}

} // namespace
