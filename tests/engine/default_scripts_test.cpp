/* The Results, Graphs, Trades and Charts scripts the program ships: each
** compiles as a default section script, and the Results defaults give the
** figures worked out by hand for a small test. */
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/results_file.h"
#include "engine_fixture.h"
#include "script/builtins/builtins.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "shell/headless/headless.h"
#include "support/test_support.h"
#include "views/graph_data.h"
#include "views/graph_record.h"
#include "views/results_rows.h"
#include "views/test_report.h"
#include "views/trade_rows.h"

namespace {

std::string Shipped(const char *name)
{
    return ReadTestFile(std::string(KV_DEFAULT_SCRIPTS_DIR) + "/" + name);
}

struct DefaultScripts : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_TRUE(InstallBuiltins());
        /* Six days of one symbol: a bar that closes up signals an entry at
        ** the next open, one that closes down an exit at the next open. */
        std::vector<int32_t> d = {20240102, 20240103, 20240104, 20240105, 20240108, 20240109};
        LoadStore(d, {{"AAA",
                       {{20240102, 10.0, 11.0, 9.5, 10.5},
                        {20240103, 10.5, 12.0, 10.0, 11.5},
                        {20240104, 11.6, 12.5, 11.0, 12.0},
                        {20240105, 12.0, 13.0, 11.8, 12.8},
                        {20240108, 12.5, 12.6, 11.0, 11.2},
                        {20240109, 11.0, 11.5, 10.5, 11.4}}}});
    }
};

} // namespace

TEST_F(DefaultScripts, EachCompilesAsItsSectionsDefaults)
{
    const struct {
        int section;
        const char *file;
    } cases[] = {
        {SECTION_RESULTS, "Results.kvs"},
        {SECTION_GRAPHS, "Graphs.kvs"},
        {SECTION_CHARTS, "Charts.kvs"},
        {SECTION_TRADES, "Trades.kvs"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        std::string text = Shipped(c.file);
        ASSERT_FALSE(text.empty());
        Write(c.file, text);
        int messages = gHeadless.messageCount;
        EXPECT_EQ(1, LoadDefaultSectionScript(c.section)) << "a first load counts as changed";
        EXPECT_EQ(messages, gHeadless.messageCount) << gHeadless.messages[0];
        EXPECT_GE(ColumnListFor((uint32_t)c.section)->count, 3);
    }
}

TEST_F(DefaultScripts, ResultsShowTheTestsFiguresWorkedByHand)
{
    Write("Results.kvs", Shipped("Results.kvs"));
    /* 100 shares bought at the open of Jan 3 (10.50) and sold at the open of
    ** Jan 9 (11.00): equity 2000, 2100, 2150, 2230, 2070, 2050. Six dates at
    ** three a year are two years. */
    ASSERT_EQ(0, Run("Settings:\n  AccountSize: 2000\n  DaysPerYear: 3\n"
                     "Data:\n  Up: C > O\n"
                     "Strategy: Trend\n  EntrySetup: Up\n  Quantity: 100\n  ExitRule: C < O\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(1, test->tradeCount);
    ResultsWindow *window = FirstResultsWindow();
    ASSERT_NE(nullptr, window);
    char cells[40][RESULTS_CELL_SIZE] = {};
    FillResultsRow(window, test, cells, 40);
    std::map<std::string, std::string> shown;
    const DefinitionList *list = ColumnListFor(SECTION_RESULTS);
    for (int32_t k = 0; k < list->count; k++) {
        const FormulaColumn *column = &((const FormulaColumn *)list->items)[k];
        shown[column->heading] = cells[3 + k];
    }
    const struct {
        const char *heading, *text;
    } expected[] = {
        {"Net %", "2.50%"},         /* 50 / 2000 */
        {"CAR", "1.24%"},           /* sqrt(1.025) - 1 = 0.012423 */
        {"Max DD %", "9.00%"},      /* not compounded: 2230 - 2050 of the 2000 allocated */
        {"Trades", "1"},
        {"Win %", "100.0%"},
        {"Avg Trade %", "4.76%"},   /* 50 / 1050 */
        {"Profit Factor", "0.00"},  /* no losing trade */
    };
    for (const auto &e : expected) EXPECT_EQ(e.text, shown[e.heading]) << e.heading;
    /* The summary statistics: the status bar, the report list and the
    ** optimization summary show these. */
    std::string stats;
    AppendStatLines(test, &stats);
    EXPECT_EQ(0u, stats.find(" | Net %: 2.50% | CAR: 1.24% | Max DD %: 9.00% | Trades: 1 | Sharpe: ")) << stats;
}

/* The Sharpe ratio subtracts the account's risk-free rate for every
** strategy.  Two strategies trade alike, each with its own 2000: daily net
** percents 0, 5, 2.5, 4, -8, -1 (mean 0.41667 %, population deviation
** 4.30520 %); the rate symbol closes at 3, so 3 % a year, 1 % a bar at three
** bars a year: (0.0041667 - 0.01) / 0.0430520 x sqrt(3) = -0.234684 for
** both (without the rate 0.167632). */
TEST_F(DefaultScripts, EveryStrategysSharpeSubtractsTheAccountsRate)
{
    std::vector<DayBar> rate, aaa;
    const double o[] = {10.0, 10.5, 11.6, 12.0, 12.5, 11.0}, c[] = {10.5, 11.5, 12.0, 12.8, 11.2, 11.4};
    for (size_t k = 0; k < days.size(); k++) {
        aaa.push_back({days[k], o[k], 13.0, 9.0, c[k]});
        rate.push_back({days[k], 3, 3, 3, 3});
    }
    LoadStore(days, {{"AAA", aaa}, {"RATE", rate}});
    Write("Results.kvs", Shipped("Results.kvs"));
    const std::string rules = "  EntrySetup: Up and ?Symbol = \"AAA\"\n  Quantity: 100\n  ExitRule: C < O\n";
    ASSERT_EQ(0, Run("Settings:\n  AccountSize: 2000\n  DaysPerYear: 3\n  RiskFreeRateSym: RATE\n"
                     "Data:\n  Up: C > O\nStrategy: First\n" + rules + "Strategy: Second\n" + rules));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    const DefinitionList *list = ColumnListFor(SECTION_RESULTS);
    int32_t sharpe = -1;
    for (int32_t k = 0; k < list->count; k++)
        if (strcmp(((const FormulaColumn *)list->items)[k].heading, "Sharpe") == 0) sharpe = k;
    ASSERT_GE(sharpe, 0);
    int32_t checked = 0;
    for (int32_t s = 0; s < test->strategyCount; s++) {
        if (test->strategies[s].kind != STRATEGY_KIND_STRATEGY) continue; /* not the combined one */
        EXPECT_NEAR(-0.234684, EvalTestStat(test, s, sharpe, 1), 1e-6) << test->strategies[s].name;
        checked++;
    }
    EXPECT_EQ(2, checked);
}

/* Shorted at 10.50 on Jan 3 and covered at 11.00 on Jan 9: 100 shares lose
** $50, shown in parentheses and marked to be drawn red. */
TEST_F(DefaultScripts, ALosingTradesProfitIsMarkedRed)
{
    Write("Trades.kvs", Shipped("Trades.kvs"));
    ASSERT_EQ(0, Run("Settings:\n  AccountSize: 2000\nData:\n  Up: C > O\n"
                     "Strategy: Fade\n  Side: Short\n  EntrySetup: Up\n  Quantity: 100\n  ExitRule: C < O\n"));
    CellListWindow list = {};
    list.listKind = LIST_KIND_TRADES;
    list.test = LastTest();
    ASSERT_NE(nullptr, list.test);
    ASSERT_GT(InitTradeColumns(&list), TRADE_FIXED_COLUMNS);
    ASSERT_EQ(1, BuildTradeList(&list, 1));
    ASSERT_EQ(1, list.rowCount);
    EXPECT_STREQ("Profit", list.headings[TRADE_FIXED_COLUMNS]);
    const ListCell *profit = GetListCell(&list, 0, TRADE_FIXED_COLUMNS);
    EXPECT_STREQ("($50.00)", profit->text);
    EXPECT_NE(0, profit->negativeColour);
    FreeListWindow(&list);
}

/* The equity curve is a line graph with a base value above 0, so it can take
** the log scale; the report draws the equity and drawdown graphs. */
TEST_F(DefaultScripts, EquityTakesTheLogScaleAndTheReportDrawsTwoGraphs)
{
    Write("Graphs.kvs", Shipped("Graphs.kvs"));
    ASSERT_EQ(1, LoadDefaultSectionScript(SECTION_GRAPHS));
    GraphWindow graph = {};
    ASSERT_EQ(1, CheckGraphDisplay(&graph, 0));
    EXPECT_STREQ("Equity", graph.title);
    EXPECT_EQ(0u, graph.graphType);
    EXPECT_GE(graph.baseValue, 1e-6);
    std::string reported;
    for (int32_t n = NextReportGraph(-1); n >= 0; n = NextReportGraph(n)) {
        GraphWindow shown = {};
        shown.graphIndex = n;
        reported += std::string(GetGraphColumn(&shown)->heading) + ";";
    }
    EXPECT_EQ("Equity;Drawdown %;", reported);
}
