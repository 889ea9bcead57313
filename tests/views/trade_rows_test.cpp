#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/results_file.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/settings_items.h"
#include "shell/headless/headless.h"
#include "support/program_state.h"
#include "views/stats_export.h"
#include "views/trade_compare.h"
#include "views/trade_rows.h"

namespace {

struct TradeSpec {
    int32_t strategy;
    const char *symbol;
    int32_t side;
    int32_t dateIn, dateOut;
    double quantity, priceIn, priceOut;
};

/* Strategies "Alpha" and "Beta" (both Strategy sections). */
TestRecord *MakeTest(int32_t number, const std::vector<TradeSpec> &trades)
{
    TestRecord *t = ReadTestRecord(nullptr, 0, 2, 1, 0);
    t->testNumber = number;
    CopyString(t->strategies[0].name, 80, "Alpha", -1);
    CopyString(t->strategies[1].name, 80, "Beta", -1);
    t->strategies[0].kind = t->strategies[1].kind = STRATEGY_KIND_STRATEGY;
    for (const TradeSpec &s : trades) {
        TradeRecord *r = AddTrade(t);
        r->strategy = s.strategy;
        CopyString(r->symbol, 40, s.symbol, -1);
        r->side = s.side;
        r->dateIn = s.dateIn;
        r->dateOut = s.dateOut;
        r->quantityIn = s.quantity;
        r->quantityOut = s.dateOut ? s.quantity : 0;
        r->priceIn = s.priceIn;
        r->priceOut = s.priceOut;
        r->splitIn = r->splitOut = 1;
        r->pointValue = 1;
        r->fxIn = r->fxOut = 1;
        r->roundingIn = r->roundingOut = 0.01;
        r->timeIn = 1;
        r->timeOut = s.dateOut ? 3 : 0;
    }
    return t;
}

struct TradeRowsTest : ProgramStateTest {
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        gRun.unattended = 0;
    }
};

std::vector<std::string> Column(const CellListWindow &list, int32_t column)
{
    std::vector<std::string> out;
    for (int32_t r = 0; r < list.rowCount; r++) out.push_back(GetListCell(&list, r, column)->text);
    return out;
}

TEST_F(TradeRowsTest, FixedCellsAndTheirOrder)
{
    TestRecord *t = MakeTest(3, {{0, "BBB", -1, 20240102, 20240105, 100, 10.5, 9.25},
                                 {1, "AAA", 1, 20240103, 0, 50, 20, 0},
                                 {0, "CCC", 1, 20240104, 20240108, 0, 5, 6},
                                 {1, "AAA", 1, 20240102, 20240103, 1500, 1.125, 1.5}});
    t->trades[0].reason = 1;
    CellListWindow list = {};
    list.test = t;
    ASSERT_EQ(1, BuildTradeList(&list, 2));
    ASSERT_EQ(4, list.rowCount);
    ASSERT_EQ(TRADE_FIXED_COLUMNS, list.columnCount);
    EXPECT_EQ((std::vector<std::string>{"00001", "00002", "00003", "00004"}), Column(list, TRADE_COL_TRADE));
    EXPECT_EQ((std::vector<std::string>{"Short", "Skip Long", "Paper Long", "Long"}), Column(list, TRADE_COL_SIDE));
    EXPECT_EQ((std::vector<std::string>{"100", "50", "0", "1,500"}), Column(list, TRADE_COL_QTY_IN));
    EXPECT_EQ((std::vector<std::string>{"10.50", "20.00", "5.00", "1.12"}), Column(list, TRADE_COL_PRICE_IN));
    EXPECT_EQ((std::vector<std::string>{"9.25", "n/a", "6.00", "1.50"}), Column(list, TRADE_COL_PRICE_OUT));
    EXPECT_EQ((std::vector<std::string>{"2024-01-05", "", "2024-01-08", "2024-01-03"}), Column(list, TRADE_COL_DATE_OUT));
    EXPECT_EQ((std::vector<std::string>{"open", "open", "open", "open"}), Column(list, TRADE_COL_TIME_IN));
    EXPECT_EQ(1, GetListCell(&list, 1, 0)->tradeIndex);

    /* Side sorts long, short, then the skipped setups; the trade number breaks ties. */
    SetListSort(&list, "Side, +Trade");
    SortListRows(&list);
    EXPECT_EQ((std::vector<std::string>{"00003", "00004", "00001", "00002"}), Column(list, TRADE_COL_TRADE));
    SetListSort(&list, "-Side,Trade");
    SortListRows(&list);
    EXPECT_EQ((std::vector<std::string>{"00002", "00001", "00003", "00004"}), Column(list, TRADE_COL_TRADE));

    char title[200];
    list.filtered = 1;
    list.incomplete = 1;
    FormatTradeListTitle(&list, title, sizeof title);
    EXPECT_STREQ("Trade List - Test 3 - 4 Trades (filtered) (incomplete)", title);
    FreeListWindow(&list);
    FreeTestRecord(nullptr, t);
}

/* Reason codes as a damaged results file may hold them: a code outside its
** table reads "n/a" and sorts as the exit table's "n/a" (0), before "exit
** rule" (1) and the skip reasons (code x 10). */
TEST_F(TradeRowsTest, ReasonCodesOutsideTheirTablesReadAndSortAsNotAvailable)
{
    TestRecord *t = MakeTest(1, {{0, "AAA", 1, 20240102, 0, 10, 5, 0},
                                 {0, "BBB", 1, 20240102, 20240103, 10, 5, 6},
                                 {0, "CCC", 1, 20240102, 0, 10, 5, 0},
                                 {0, "DDD", 1, 20240102, 20240103, 10, 5, 6}});
    t->trades[0].reason = 214748365; /* x 10 is past the 32-bit range */
    t->trades[1].reason = 1;
    t->trades[2].reason = 8;
    t->trades[3].reason = -2147483647 - 1;
    CellListWindow list = {};
    list.test = t;
    ASSERT_EQ(1, BuildTradeList(&list, 1));
    EXPECT_EQ((std::vector<std::string>{"n/a", "exit rule", "stop not hit", "n/a"}), Column(list, TRADE_COL_REASON));
    SetListSort(&list, "Reason, Trade");
    SortListRows(&list);
    EXPECT_EQ((std::vector<std::string>{"AAA", "DDD", "BBB", "CCC"}), Column(list, TRADE_COL_SYMBOL));
    FreeListWindow(&list);
    FreeTestRecord(nullptr, t);
}

TEST_F(TradeRowsTest, SameListWithOneWorkerAndWithThirtyTwo)
{
    std::vector<TradeSpec> specs;
    const char *symbols[] = {"AAA", "BBB", "CCC", "DDD", "EEE"};
    for (int k = 0; k < 700; k++)
        specs.push_back({k % 2, symbols[k % 5], k % 3 ? 1 : -1, 20240102 + k % 20, 20240201 + k % 7, 10.0 + k,
                         5 + k % 11, 6 + k % 13});
    TestRecord *t = MakeTest(1, specs);
    /* The script's sort list names a column with many equal values. */
    char *sortList = SortListFor(SECTION_TRADES);
    ASSERT_NE(nullptr, sortList);
    CopyString(sortList, SORT_LIST_SIZE, "Side", -1);
    std::vector<std::string> texts[2];
    for (int pass = 0; pass < 2; pass++) {
        CellListWindow list = {};
        list.test = t;
        ASSERT_EQ(1, BuildTradeList(&list, pass ? 32 : 1));
        ASSERT_EQ(700, list.rowCount);
        for (int32_t r = 0; r < list.rowCount; r++)
            for (int32_t c = 0; c < list.columnCount; c++) texts[pass].push_back(GetListCell(&list, r, c)->text);
        FreeListWindow(&list);
    }
    sortList[0] = 0;
    EXPECT_EQ(texts[0], texts[1]);
    /* 466 longs (k % 3 != 0) first, then the shorts, each in trade order. */
    EXPECT_EQ("00002", texts[1][0]);
    EXPECT_EQ("00699", texts[1][465 * TRADE_FIXED_COLUMNS]);
    EXPECT_EQ("00001", texts[1][466 * TRADE_FIXED_COLUMNS]);
    FreeTestRecord(nullptr, t);
}

TEST_F(TradeRowsTest, LongSortListIsCutNotOverrun)
{
    CellListWindow list = {};
    TestRecord *t = MakeTest(1, {});
    list.test = t;
    InitTradeColumns(&list);
    std::string sortText(300, 'x');
    sortText += ",Trade";
    SetListSort(&list, sortText.c_str());
    EXPECT_EQ(0, list.sortPriorities[TRADE_COL_TRADE]); /* beyond the 254 characters */
    SetListSort(&list, "Symbol , - DateIn");
    EXPECT_EQ(1, list.sortPriorities[TRADE_COL_SYMBOL]);
    EXPECT_EQ(0, list.sortPriorities[TRADE_COL_DATE_IN]); /* "- DateIn" names no column */
    FreeListWindow(&list);
    FreeTestRecord(nullptr, t);
}

TEST_F(TradeRowsTest, SortListFindsHeadingsWithBlanks)
{
    /* A Trades column headed "Gain %" is named either as it is shown, without
    ** its blanks, or by its item name (with or without its namespace), as
    ** the script's sort list may name it. */
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
    const struct {
        const char *name, *heading;
    } columns[] = {{"Gain", "Gain %"}, {"Tx.Risk", "Risk $"}};
    for (const auto &c : columns) {
        const int32_t k = AddDefinitionRecord(&gTradesColumns, sizeof(FormulaColumn));
        ASSERT_GE(k, 0);
        FormulaColumn *column = &((FormulaColumn *)gTradesColumns.items)[k];
        column->format = 1;
        CopyString(column->formula.name, sizeof column->formula.name, c.name, -1);
        CopyString(column->heading, sizeof column->heading, c.heading, -1);
    }
    CellListWindow list = {};
    TestRecord *t = MakeTest(1, {});
    list.test = t;
    ASSERT_EQ(TRADE_FIXED_COLUMNS + 2, InitTradeColumns(&list));
    struct Case {
        const char *sortText;
        int column; /* 0 Gain, 1 Risk */
        int priority, descending;
    } cases[] = {
        {"Gain %", 0, 1, 0},
        {"Trade,-gain %", 0, 2, 1},
        {"+GAIN%", 0, 1, 0},
        {"-Gain", 0, 1, 1},
        {"Gains", 0, 0, 0},
        {"Trade,Tx.Risk", 1, 2, 0},
        {"-risk", 1, 1, 1},
        {"Ty.Risk", 1, 0, 0},
    };
    for (const Case &c : cases) {
        SetListSort(&list, c.sortText);
        EXPECT_EQ(c.priority, list.sortPriorities[TRADE_FIXED_COLUMNS + c.column]) << c.sortText;
        EXPECT_EQ(c.descending, list.sortDirections[TRADE_FIXED_COLUMNS + c.column]) << c.sortText;
    }
    FreeListWindow(&list);
    FreeTestRecord(nullptr, t);
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
}

/* ---- comparison ----------------------------------------------------------------------- */

struct CompareTest : TradeRowsTest {
    void SetUp() override
    {
        TradeRowsTest::SetUp();
        gSettings.MatchDateIn = 0;
        gSettings.MatchDateOut = 0;
        gSettings.MatchStrategy = 0;
        gSettings.KeepMatches = 1;
        gSettings.KeepNonMatches = 1;
        gSettings.UseAccountPct = 0;
        gSettings.MinDlrDiff = 0;
        gSettings.MinPctDiff = 0;
    }
};

struct RowView {
    int32_t trade1, trade2; /* trade numbers, 0 for none */
};

std::vector<RowView> Rows(const CompareWindow &w)
{
    std::vector<RowView> out;
    for (int32_t r = 0; r < w.rowCount; r++)
        out.push_back({w.rows[r].side[0].trade ? w.rows[r].side[0].trade->number : 0,
                       w.rows[r].side[1].trade ? w.rows[r].side[1].trade->number : 0});
    return out;
}

bool operator==(const RowView &a, const RowView &b) { return a.trade1 == b.trade1 && a.trade2 == b.trade2; }

TEST_F(CompareTest, TradesPairBySymbolOverlapAndNearestDates)
{
    /* List 1: Alpha AAA Jan 2-10 (#1), Alpha AAA Jan 8-20 (#2), Alpha BBB Jan 3-4 (#3).
    ** List 2: Alpha AAA Jan 8-19 overlaps #1 and #2 and shares #2's entry date;
    ** Alpha ZZZ was never traded in list 1; Beta trades are not in the list. */
    TestRecord *a = MakeTest(1, {{0, "AAA", 1, 20240102, 20240110, 100, 10, 11},
                                 {0, "AAA", 1, 20240108, 20240120, 100, 10, 12},
                                 {0, "BBB", 1, 20240103, 20240104, 10, 50, 45}});
    TestRecord *b = MakeTest(2, {{0, "AAA", 1, 20240108, 20240119, 200, 10, 12},
                                 {0, "ZZZ", -1, 20240105, 20240106, 0, 0, 1},
                                 {1, "AAA", 1, 20240102, 20240110, 100, 10, 11}});
    CompareWindow w = {};
    ASSERT_EQ(1, BuildTradeComparison(&w, a, 0, b, 0));
    EXPECT_EQ((std::vector<RowView>{{1, 0}, {2, 1}, {3, 0}, {0, 2}}), Rows(w));
    /* Row of #2 and its pair: profits 200 and 400, gains 200 / 1000 = 20% and
    ** 400 / 2000 = 20%: a profit difference of -200, none in percent,
    ** a quantity difference of -100. */
    const CompareRow &pair = w.rows[1];
    EXPECT_STREQ("$200.00", pair.cells[CMP_COL_PROFIT].text);
    EXPECT_STREQ("20.00%", pair.cells[CMP_COL_PCT_GAIN].text);
    EXPECT_STREQ("($200.00)", pair.cells[CMP_COL_PROFIT_DIFF].text);
    EXPECT_EQ(0, pair.cells[CMP_COL_PCT_GAIN_DIFF].number);
    EXPECT_EQ(-100, pair.cells[CMP_COL_QTY_DIFF].number);
    /* The ZZZ trade has no entry value: its percent gain is 0, not NaN. */
    const CompareRow &alone = w.rows[3];
    EXPECT_EQ(0, alone.side[1].gain);
    EXPECT_STREQ("", alone.cells[CMP_COL_QTY_DIFF].text);
    /* Differences, list 1 minus list 2: #1 alone +100 and +10%; the pair -200,
    ** 0% and -100 qty; #3 alone -50 and -10%; ZZZ alone (no quantity) 0. */
    EXPECT_STREQ("Compare - Test 1 Alpha vs Test 2 Alpha - 3 of 4 Differ - Net Difference ($150.00) / 0.00% / -100 Qty",
                 w.title);

    /* Sorting by profit difference moves every row (-200, -50, 0, +100); a
    ** pointer to a row follows it, one to no row stays as it was. */
    w.sortPriorities[CMP_COL_PROFIT_DIFF] = 1;
    CompareRow *follow[3] = {&w.rows[0], &w.rows[2], nullptr};
    SortComparisonRows(&w, follow, 3);
    EXPECT_EQ((std::vector<RowView>{{2, 1}, {3, 0}, {0, 2}, {1, 0}}), Rows(w));
    EXPECT_EQ(&w.rows[3], follow[0]);
    EXPECT_EQ(&w.rows[1], follow[1]);
    EXPECT_EQ(nullptr, follow[2]);
    w.sortPriorities[CMP_COL_PROFIT_DIFF] = 0;
    FreeCompareWindowData(&w);

    /* Only the unpaired trades without KeepMatches. */
    gSettings.KeepMatches = 0;
    ASSERT_EQ(1, BuildTradeComparison(&w, a, 0, b, 0));
    EXPECT_EQ((std::vector<RowView>{{1, 0}, {3, 0}, {0, 2}}), Rows(w));
    FreeCompareWindowData(&w);
    FreeTestRecord(nullptr, a);
    FreeTestRecord(nullptr, b);
}

TEST_F(CompareTest, TradesThatOnlyTouchDoNotPair)
{
    struct Case {
        int32_t in2, out2;
        int32_t matchDateIn;
        std::vector<RowView> rows;
    } cases[] = {
        {20240108, 20240112, 0, {{1, 0}, {0, 1}}}, /* list 1 ends the day list 2 begins */
        {20231229, 20240102, 0, {{1, 0}, {0, 1}}}, /* list 2 ends the day list 1 begins */
        {20240101, 20240102, 0, {{1, 1}}},         /* ... but a one-day trade that touches pairs */
        {20240105, 20240112, 0, {{1, 1}}},         /* a real overlap */
        {20240105, 20240112, 1, {{1, 0}, {0, 1}}}, /* ... but the entry dates must agree */
        {20240103, 20240103, 0, {{1, 1}}},         /* a one-day trade inside */
    };
    TestRecord *a = MakeTest(1, {{0, "AAA", 1, 20240102, 20240108, 100, 10, 11}});
    for (const Case &c : cases) {
        TestRecord *b = MakeTest(2, {{0, "AAA", 1, c.in2, c.out2, 100, 10, 11}});
        gSettings.MatchDateIn = c.matchDateIn;
        CompareWindow w = {};
        ASSERT_EQ(1, BuildTradeComparison(&w, a, 0, b, 0));
        EXPECT_EQ(c.rows, Rows(w)) << c.in2 << "-" << c.out2;
        FreeCompareWindowData(&w);
        FreeTestRecord(nullptr, b);
    }
    FreeTestRecord(nullptr, a);
}

TEST_F(CompareTest, IdenticalListsDifferNowhere)
{
    std::vector<TradeSpec> specs = {{0, "AAA", 1, 20240102, 20240105, 100, 10, 11},
                                    {0, "AAA", -1, 20240108, 20240112, 50, 20, 19},
                                    {0, "BBB", 1, 20240103, 20240104, 10, 50, 45}};
    TestRecord *a = MakeTest(1, specs), *b = MakeTest(2, specs);
    CompareWindow w = {};
    ASSERT_EQ(1, BuildTradeComparison(&w, a, 0, b, 0));
    EXPECT_EQ((std::vector<RowView>{{1, 1}, {2, 2}, {3, 3}}), Rows(w));
    EXPECT_NE(nullptr, strstr(w.title, " - 0 of 3 Differ - Net Difference $0.00 / 0.00% / 0 Qty"));
    /* MinPctDiff 1 drops every row whose gains differ by less than a point. */
    gSettings.MinPctDiff = 1;
    ASSERT_EQ(1, BuildTradeComparison(&w, a, 0, b, 0));
    EXPECT_EQ(0, w.rowCount);
    FreeCompareWindowData(&w);
    FreeTestRecord(nullptr, a);
    FreeTestRecord(nullptr, b);
}

TEST_F(CompareTest, CancelWhileFormattingKeepsTheShownRows)
{
    std::vector<TradeSpec> specs;
    for (int k = 0; k < 150; k++) specs.push_back({0, "AAA", 1, 20240102 + k, 20240102 + k, 1, 1, 2});
    TestRecord *a = MakeTest(1, specs), *b = MakeTest(2, specs);
    CompareWindow w = {};
    ASSERT_EQ(1, BuildTradeComparison(&w, a, 0, b, 0));
    ASSERT_EQ(150, w.rowCount);
    CompareRow *shown = w.rows;
    /* Pumps: 1 reading, 1 matching, then the formatting's first. */
    gRun.state = RUN_TESTING;
    gHeadless.pumpCount = 0;
    gHeadless.stopAtPump = 3;
    EXPECT_EQ(0, BuildTradeComparison(&w, a, 0, b, 0));
    EXPECT_STREQ("Comparison Cancelled", LastMessage());
    EXPECT_EQ(shown, w.rows);
    EXPECT_EQ(150, w.rowCount);
    EXPECT_EQ(1, w.rows[149].side[1].trade->number == 150);
    FreeCompareWindowData(&w);
    FreeTestRecord(nullptr, a);
    FreeTestRecord(nullptr, b);
}

} // namespace

namespace {

/* Pumps seen from inside, and those that found no hold on the tests. */
int sPumps, sUnheldPumps;

/* Whatever lets the window answer while it reads a test holds the tests for
** as long, so that no Delete frees the test under it: every pump of a trade
** list's computation, of a full trade export (a list longer than
** SAVE_PUMP_ROWS is also written with the window answering) and of a
** comparison finds a hold, and none is left afterwards. */
TEST_F(CompareTest, LongOperationsHoldTheTestsWhileTheWindowAnswers)
{
    std::vector<TradeSpec> specs(SAVE_PUMP_ROWS + 10, TradeSpec{0, "AAA", 1, 20240102, 20240105, 100, 10, 11});
    TestRecord *a = MakeTest(1, specs), *b = MakeTest(2, specs);
    const std::string path = tmp.File("full.csv");
    gScriptSettings.SaveTradesType = SAVE_TRADES_FULL;
    CellListWindow list = {};
    list.test = a;
    CompareWindow compare = {};
    const struct {
        const char *what;
        int pumpsAtLeast; /* the list once; the export's list and its write; every 100 trades compared */
        std::function<int()> run;
    } operations[] = {
        {"trade list", 1, [&] { return BuildTradeList(&list, 2); }},
        {"full trade export", 2, [&] { return SaveTradesCsv(a, path.c_str()); }},
        {"comparison", SAVE_PUMP_ROWS / 100, [&] { return BuildTradeComparison(&compare, a, 0, b, 0); }},
    };
    gHeadless.atPump = [] { sPumps++, sUnheldPumps += CountTestHolds() == 0; };
    for (const auto &o : operations) {
        sPumps = sUnheldPumps = 0;
        EXPECT_EQ(1, o.run()) << o.what;
        EXPECT_GE(sPumps, o.pumpsAtLeast) << o.what;
        EXPECT_EQ(0, sUnheldPumps) << o.what;
        EXPECT_EQ(0, CountTestHolds()) << o.what;
    }
    gHeadless.atPump = nullptr;
    const std::string text = ReadTestFile(path); /* the heading and a row each */
    EXPECT_EQ((size_t)SAVE_PUMP_ROWS + 11, (size_t)std::count(text.begin(), text.end(), '\n'));
    FreeListWindow(&list);
    FreeCompareWindowData(&compare);
    FreeTestRecord(nullptr, a);
    FreeTestRecord(nullptr, b);
}

} // namespace
