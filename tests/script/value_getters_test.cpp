#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "records/test_records.h"
#include "eval_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "script/eval/value_getters.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "records/chart_record.h"

namespace {

struct ValueCase {
    const char *text;
    double want; /* NaN: no value */
};

struct Getters : EvalTest {
    void Expect(const ValueCase *cases, size_t n)
    {
        for (size_t i = 0; i < n; i++) {
            double got = Value(cases[i].text);
            if (std::isnan(cases[i].want))
                EXPECT_TRUE(std::isnan(got)) << cases[i].text << " gave " << got;
            else
                EXPECT_NEAR(cases[i].want, got, 1e-12) << cases[i].text;
        }
    }
    std::string Text(const char *formula, uint32_t section = 0)
    {
        char out[80] = "";
        EXPECT_EQ(1, EvalFormulaText(CompileText(formula, section), &ctx, out, sizeof out)) << formula;
        return out;
    }
};

#define EXPECT_CASES(cases) Expect(cases, sizeof cases / sizeof cases[0])

/* An open position of quantity shares entered at price on bar (split factor
** split then), in the account currency. */
void Open(PositionRecord *p, SymbolRecord *symbol, int32_t side, double quantity, double split, double price,
          int32_t bar, int32_t date)
{
    p->symbol = symbol;
    p->side = side;
    p->quantity = p->requestedQuantity = quantity;
    p->entrySplit = split;
    p->entryPrice = price;
    p->entryBar = bar;
    p->entryDate = date;
    p->exitBar = -1;
    p->entryFx = 1;
}

TEST_F(Getters, BarValuesAtTheContextsSplitLevel)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"BarNum", 6}, {"BarsLeft", 4}, {"O", 15}, {"H", 17}, {"L", 14}, {"C", 16}, {"V", 6000},
        {"Extra", 2.5}, {"Split", 1}, {"NextOpen", 16}, {"Range", 3}, {"TrueRange", 3}, {"FunBar", -1},
        {"FxRatio", 1},
        {"TrueRange[2]", 8.5},        /* bar 3: the previous close 13 at split 2 counts as 6.5 */
        {"Range[4]", 1.5},            /* bar 1 at split 2 */
        {"Extra[4]", 0.5},            /* unscaled */
        {"Split[4]", 2},
        {"BarNum[6]", NAN},
    };
    /* clang-format on */
    EXPECT_CASES(cases);
    AtBar(9);
    const ValueCase last[] = {{"NextOpen", NAN}, {"BarsLeft", 0}, {"TrueRange", 3}};
    EXPECT_CASES(last);
    AtBar(0);
    EXPECT_DOUBLE_EQ(3, Value("TrueRange")); /* the first bar: high - low */
    AtBar(5, PHASE_OPEN);                    /* bars back count from the last completed bar */
    EXPECT_DOUBLE_EQ(15, Value("C"));
}

TEST_F(Getters, DividendsOfTheBarsDayScaledToTheSplitLevel)
{
    /* clang-format off */
    EventItem events[] = {
        {20240126, 0, EVENT_DIVIDEND, 0, 0.4},    /* bar 1, split 2 */
        {20240130, 0, 7, 0, 9.0},                 /* another kind */
        {20240201, 0, EVENT_DIVIDEND, 0, 0.5},
        {20240202, 93000, EVENT_DIVIDEND, 0, 0.7},  /* after the start of the day: not this bar's */
    };
    /* clang-format on */
    gStore.symbols[0].events = events;
    gStore.symbols[0].eventCount = 4;
    const ValueCase cases[] = {{"Dividend", 0.5}, {"Dividend[1]", 0}, {"Dividend[4]", 0.2}, {"Dividend[-1]", 0}};
    EXPECT_CASES(cases);
    gStore.symbols[0].securityType = SECURITY_FUTURES;
    EXPECT_DOUBLE_EQ(0, Value("Dividend"));
    gStore.symbols[0].events = nullptr;
    gStore.symbols[0].eventCount = 0;
}

TEST_F(Getters, ConstituencySeriesAndDataItems)
{
    static const char *const lists[] = {"SP500", "NDX"};
    InstallNamedLists(lists, 2);
    EventItem events[] = {
        {20240129, 0, -2, 0, 1.0}, /* joins series 0 on bar 2 */
        {20240206, 0, -3, 0, 1.0}, /* series 1 */
    };
    gStore.symbols[0].events = events;
    gStore.symbols[0].eventCount = 2;

    /* Two Data items: a plain price series and a one-per-symbol value. */
    dataItems.assign(2, FormulaItem{});
    CopyString(dataItems[0].formula.name, 64, "Plain", -1);
    CopyString(dataItems[1].formula.name, 64, "Once", -1);
    dataItems[0].barSize = dataItems[1].barSize = -1;
    dataItems[1].onePerSymbol = 1;
    dataItems[0].formula.resultFormat = 1;
    InstallItems(SECTION_DATA, dataItems.data(), 2);
    double block[20];
    int32_t offsets[2] = {0, 10};
    for (int b = 0; b < 10; b++) block[b] = 10.0 * b, block[10 + b] = b == 0 ? 77 : -1;
    gStore.symbols[0].dataValues[0] = block;
    gStore.symbols[0].dataOffsets[0] = offsets;

    /* clang-format off */
    const ValueCase cases[] = {
        {"SP500", 1}, {"SP500[3]", 1}, {"SP500[4]", 0}, {"NDX", 0},
        {"Plain", 50}, {"Plain[4]", 5},     /* price format: bar 1 at split 2 is halved */
        {"Once", 77}, {"Once[3]", 77},
    };
    /* clang-format on */
    EXPECT_CASES(cases);
    FormulaSlot *slot = CompileText("Plain");
    double v;
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v));
    EXPECT_EQ(1u, slot->nodes[0][0].dataType);
    /* An item without a bar size of its own follows the settings' bar size:
    ** weekly values, which this symbol does not have, are never read as
    ** daily ones. */
    gSettings.BarSize2 = BAR_WEEKLY;
    EXPECT_TRUE(std::isnan(Value("Plain")));
    gSettings.BarSize2 = BAR_DAILY;
    gStore.symbols[0].dataValues[0] = nullptr;
    gStore.symbols[0].dataOffsets[0] = nullptr;
    gStore.symbols[0].events = nullptr;
    gStore.symbols[0].eventCount = 0;
}

TEST_F(Getters, ScanColumnsReadTheWorkersLastValueAtBarZeroOnly)
{
    FormulaSlot column{};
    ASSERT_TRUE(EnsureNodeCapacity(&column, 2));
    column.count = 1;
    CopyString(column.name, 64, "Score", -1);
    column.nodes[3][0].value = 7.5;
    column.nodes[0][0].value = 1.0;
    FixtureColumn columns[] = {{&column, SECTION_SCAN}};
    InstallColumns(columns, 1);
    ctx.slot = 3;
    double v;
    FormulaSlot *later = MakeSlot("Score * 2"); /* a column after Score */
    ASSERT_EQ(1, CompileFormula(later, SECTION_SCAN, 1));
    ASSERT_EQ(1, EvalFormulaSlot(later, &ctx, &v));
    EXPECT_DOUBLE_EQ(15, v);
    FormulaSlot *back = MakeSlot("Score[1]");
    ASSERT_EQ(1, CompileFormula(back, SECTION_SCAN, 1));
    EXPECT_EQ(0, EvalFormulaSlot(back, &ctx, &v));
    FreeFormulaNodes(&column);
}

TEST_F(Getters, BarDatesStepTheCalendarBeyondTheBars)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"BarDate", 20240201}, {"BarStart", 20240201}, {"Day", 1}, {"Month", 2}, {"Year", 2024},
        {"DayOfWeek", 4}, {"DayOfYear", 32}, {"EndOfWeek", 0}, {"EndOfMonth", 0},
        {"EndOfMonth[1]", 1},          /* 31 January is the last trading day of the month */
        {"EndOfMonth[2]", 0},
        {"EndOfWeek[-1]", 1},          /* Friday 2 February */
        {"EndOfQuarter", 0}, {"EndOfYear", 0},
        {"BarDate[7]", 20240123},      /* two weekdays before the first bar */
        {"BarDate[-5]", 20240208},     /* one weekday after the last */
        {"BarDate[3000000]", NAN},     /* no calendar reaches that far */
        {"BarDate[1000000000]", NAN},
        {"BarDate[-1000000000]", NAN},
    };
    /* clang-format on */
    EXPECT_CASES(cases);
    ctx.symbol = nullptr;
    EXPECT_TRUE(std::isnan(Value("BarDate")));
}

TEST_F(Getters, SymbolInformationTexts)
{
    CopyString(gStore.symbols[0].info.Sector, 80, "Energy", -1);
    gStore.symbols[0].info.DelistDate = 20301231;
    EXPECT_EQ("n/a", Text("?Name"));
    EXPECT_EQ("Energy", Text("?Sector"));
    EXPECT_EQ("AAA", Text("Symbol"));
    EXPECT_DOUBLE_EQ(1, Value("Symbol + 0"));
    ctx.symbol = &gStore.symbols[1];
    EXPECT_DOUBLE_EQ(2, Value("Symbol + 0"));
    ctx.importFlag = 1;
    EXPECT_DOUBLE_EQ(1, Value("Symbol + 0"));
    ctx.importFlag = 0;
    ctx.symbol = &gStore.symbols[0];
    const ValueCase cases[] = {{"TickSize", 0.01}, {"PointValue", 1}, {"InfoDelist", 20301231}, {"?Name + 1", 1}};
    EXPECT_CASES(cases);
    /* A futures contract series takes the contract from the bar's events. */
    EventItem events[] = {{20240125, 0, EVENT_CONTRACT, 0, 20240315}, {20240201, 0, EVENT_CONTRACT, 0, 20240614}};
    gStore.symbols[0].events = events;
    gStore.symbols[0].eventCount = 2;
    gStore.symbols[0].dataSource = 3;
    EXPECT_DOUBLE_EQ(20240614, Value("InfoDelist"));
    AtBar(4);
    EXPECT_DOUBLE_EQ(20240315, Value("InfoDelist"));
    gStore.symbols[0].events = nullptr;
    gStore.symbols[0].eventCount = 0;

    ASSERT_TRUE(AllocMemory(&gStore.symbols[0].fundamentals, 2 * sizeof(FundamentalItem)));
    gStore.symbols[0].fundamentals[0] = {4, 20231231, 1.5};
    gStore.symbols[0].fundamentals[1] = {9, 20230930, 2.5};
    FormulaNode node{};
    node.item = ITEM_FUNDAMENTAL;
    node.index = 9;
    ASSERT_EQ(1, GetNonBarValue(&node, &ctx, 0));
    EXPECT_EQ(2.5, node.value);
    node.item = ITEM_FUNDAMENTAL_DATE;
    ASSERT_EQ(1, GetNonBarValue(&node, &ctx, 0));
    EXPECT_EQ(20230930, node.value);
    node.index = 5;
    ASSERT_EQ(1, GetNonBarValue(&node, &ctx, 0));
    EXPECT_EQ(0, node.value);
    FreeMemory(&gStore.symbols[0].fundamentals);
}

TEST_F(Getters, ThePositionOfTheContext)
{
    PositionRecord position{};
    Open(&position, &gStore.symbols[0], -1, 100, 2, 20.5, 1, 20240126); /* entered before the 2:1 split */
    position.orderPrice = 20;
    position.openingNumber = 3;
    position.entryValue = 4100;
    position.entryFx = 2;
    position.limitPrice = 30;
    CopyString(position.category, 80, "12", -1);
    const ValueCase none[] = {{"Side", 0}, {"Shares", 0}, {"EntryRank", NAN}, {"Category", NAN}};
    EXPECT_CASES(none);
    ctx.position = &position;
    /* clang-format off */
    const ValueCase cases[] = {
        {"Side", -1},
        {"Shares", 200},           /* 100 shares then are 200 now */
        {"FillQty", 200},
        {"FillValue", 2050},
        {"OrderPrice", 10},
        {"FillPrice", 10.25},
        {"FillPriceAvg", NAN},     /* only over a group */
        {"EntryDate", 20240126},
        {"BarsHeld", 4},
        {"BarsHeld[1]", 3},
        {"EntryRank", 3},
        {"IsExit", 0},
        {"Category", 12},
        {"PrevExitLimit", 30},
    };
    /* clang-format on */
    EXPECT_CASES(cases);
    CopyString(position.category, 80, "tech", -1);
    EXPECT_EQ("tech", Text("Category"));
    position.exitBar = 4; /* closed before the context bar */
    EXPECT_DOUBLE_EQ(0, Value("BarsHeld"));
    ctx.ownPosition = 1;
    ctx.position = nullptr;
    EXPECT_DOUBLE_EQ(0, Value("Shares"));
    EXPECT_TRUE(std::isnan(Value("FillPrice")));
}

TEST_F(Getters, BarsHeldCountsOneMoreForOrdersTradeChartsAndAfterTheClose)
{
    PositionRecord position{};
    Open(&position, &gStore.symbols[0], 1, 100, 1, 15, 3, 20240130);
    ctx.position = &position;
    ChartWindow chart{&gStore.symbols[0], CHART_KIND_TRADE, BAR_DAILY, nullptr, 0};
    TradeRecord trade{};
    const struct {
        int32_t generating, liveData, phase, chart, postClose, option;
        double want;
    } cases[] = {
        {0, 0, PHASE_CLOSE, 0, 0, 0, 2},
        {1, 0, PHASE_CLOSE, 0, 0, 0, 3}, /* orders for the next day: that bar counts */
        {1, 1, PHASE_CLOSE, 0, 0, 0, 2}, /* ... unless the orders use live data */
        {1, 0, PHASE_OPEN, 0, 0, 0, 2},
        {0, 0, PHASE_CLOSE, 1, 0, 0, 3}, /* a chart of a trade */
        {0, 0, PHASE_CLOSE, 0, 1, 1, 3}, /* after the close, with the option on */
        {0, 0, PHASE_CLOSE, 0, 1, 0, 2},
    };
    for (const auto &c : cases) {
        gRun.generatingOrders = c.generating;
        gScriptSettings.OrdersLiveData = c.liveData;
        ctx.barPhase = c.phase;
        ctx.chart = c.chart ? &chart : nullptr;
        ctx.trade = c.chart ? &trade : nullptr;
        ctx.postClose = c.postClose;
        gSettings.BarsHeldIncrPostClose = c.option;
        EXPECT_DOUBLE_EQ(c.want, Value("BarsHeld")) << "case " << (&c - cases);
    }
    gRun.generatingOrders = 0;
    gScriptSettings.OrdersLiveData = 0;
    gSettings.BarsHeldIncrPostClose = 0;
}

TEST_F(Getters, AQuantityWithALaterFillIsInThatFillsSplitTerms)
{
    PositionRecord position{};
    Open(&position, &gStore.symbols[0], 1, 100, 2, 20, 1, 20240126);
    position.exitPrice = 12; /* filled again while the split factor was still 2 */
    position.exitSplit = 2;
    ctx.position = &position;
    const ValueCase cases[] = {{"Shares", 100}, {"FillQty", 100}, {"FillValue", 1200}, {"FillPrice", 6}};
    EXPECT_CASES(cases);
}

TEST_F(Getters, ChartsColumnsReadTheChartsCalculatedValues)
{
    FormulaNode node{};
    node.item = ITEM_CHARTS_COLUMN;
    node.index = 1;
    ASSERT_EQ(1, GetBarValue(&node, &ctx, 0)); /* outside a chart */
    EXPECT_EQ(0, node.value);

    double first[10] = {}, second[10] = {};
    for (int i = 0; i < 10; i++) second[i] = 100 + i;
    double *arrays[2] = {first, second};
    ChartWindow chart{&gStore.symbols[0], CHART_KIND_SYMBOL, BAR_DAILY, arrays, 2};
    ctx.chart = &chart;
    ASSERT_EQ(1, GetBarValue(&node, &ctx, 1));
    EXPECT_EQ(104, node.value);
    EXPECT_EQ(0, gHeadless.messageCount);

    const struct {
        int32_t barsBack;
        uint32_t column;
        bool calculated;
        const char *message;
    } faults[] = {
        {0, 1, false, "Error: chart indicator data has not been calculated yet"},
        {0, 2, true, "Error: attempt to access indicator 2 bar 5 of stock AAA with 10 bars and 2 indicators"},
    };
    for (const auto &f : faults) {
        gRun.state = RUN_TESTING;
        chart.indicators = f.calculated ? arrays : nullptr;
        node.index = f.column;
        node.value = 7;
        EXPECT_EQ(1, GetBarValue(&node, &ctx, f.barsBack)) << f.message;
        EXPECT_EQ(0, node.value) << f.message;
        EXPECT_STREQ(f.message, LastMessage());
        EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load()) << f.message;
    }
    /* A chart of fewer bars than the symbol the formula runs on. */
    gRun.state = RUN_TESTING;
    chart.indicators = arrays;
    chart.symbol = &gStore.symbols[1];
    gStore.symbols[1].barCounts[BAR_DAILY] = 4;
    node.index = 0;
    EXPECT_EQ(1, GetBarValue(&node, &ctx, 0));
    EXPECT_STREQ("Error: attempt to access indicator 0 bar 5 of stock BBB with 4 bars and 2 indicators", LastMessage());
    gRun.state = RUN_IDLE;
}

/* A test of two strategies over three date rows. */
struct StatGetters : Getters {
    TestRecord test{};
    StrategyResult strategies[2]{};
    StatCell cells[6]{};
    void SetUp() override
    {
        Getters::SetUp();
        CopyString(strategies[0].name, 80, "Alpha", -1);
        strategies[0].kind = STRATEGY_KIND_STRATEGY;
        strategies[0].parentCount = 1;
        strategies[0].parents[0] = 1;
        CopyString(strategies[1].name, 80, "Combo", -1);
        strategies[1].kind = STRATEGY_KIND_COMBINED;
        strategies[1].tracker = -1;
        for (int r = 0; r < 3; r++) {
            for (int s = 0; s < 2; s++) {
                StatCell &cell = cells[r * 2 + s];
                cell.rowNumber = r + 1;
                cell.date = kFixtureDates[3 + r];
                cell.startEquity = 1000;
                cell.equityBase = 1100 + 100 * s;
                cell.cashInOut = 10;
                cell.feesInOut = -5;
                cell.invested = 400;
                cell.shortInvested = 100;
                cell.markToMarket = 30;
                cell.shortMarkToMarket = 10;
                cell.allocation = 800;
                cell.netPercent = 0.12345678;
            }
        }
        test.strategies = strategies;
        test.strategyCount = 2;
        test.cells = cells;
        test.rowCount = 3;
        test.rowsFilled = 3;
        test.daysPerYear = 252;
        test.mainStrategy = 1;
        ctx.test = &test;
        ctx.strategyIndex = 0;
        ctx.resultRow = 1;
    }
};

TEST_F(StatGetters, StatisticsOfTheRowAndStrategy)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"S.Number", 2}, {"S.Number[1]", 1}, {"S.Number[2]", NAN}, {"S.Date", 20240131},
        {"S.BPY", 252}, {"S.BPQ", 63}, {"S.BPM", 21}, {"S.BPW", 4.846154},
        {"S.Equity", 1105}, {"S.Invested", 400}, {"S.LongInv", 300}, {"S.ShortInv", 100},
        {"S.Exposure", 0.5}, {"S.NetPct", 0.123457},
        {"S.FreeCash", 705},      /* the combined strategy's cell, start equity (not compounded) */
        {"StratNum", 1}, {"IsTracker", 0}, {"S.Compounded", 0},
    };
    /* clang-format on */
    EXPECT_CASES(cases);
    EXPECT_EQ("Alpha", Text("?Strategy"));
    EXPECT_EQ("Strategy", Text("?StratType"));
    strategies[0].markedToMarket = 1;
    strategies[0].compounded = 1;
    const ValueCase marked[] = {{"S.Equity", 1135}, {"S.Invested", 410}, {"S.LongInv", 320}, {"S.ShortInv", 110}, {"S.FreeCash", 905}};
    EXPECT_CASES(marked);
    ctx.strategyIndex = 1;
    EXPECT_EQ("Combined", Text("?StratType"));
    EXPECT_DOUBLE_EQ(1, Value("IsTracker"));
    /* Before the close S.Number reads the row before, and fails on the first. */
    ctx.barPhase = PHASE_OPEN;
    EXPECT_DOUBLE_EQ(1, Value("S.Number"));
    ctx.resultRow = 0;
    EXPECT_TRUE(std::isnan(Value("S.Number")));
    ctx.test = nullptr;
    EXPECT_TRUE(std::isnan(Value("S.Date")));
}

TEST_F(StatGetters, BarsPerPeriodByTheTestsBarSize)
{
    const struct {
        int32_t barSize;
        double y, q, m, w;
    } cases[] = {{BAR_WEEKLY, 52, 13, 4, 1}, {BAR_MONTHLY, 12, 3, 1, 0}, {BAR_QUARTERLY, 4, 1, 0, 0}, {BAR_YEARLY, 1, 0, 0, 0}};
    for (const auto &c : cases) {
        test.settings.BarSize2 = c.barSize;
        EXPECT_EQ(c.y, Value("S.BPY"));
        EXPECT_EQ(c.q, Value("S.BPQ"));
        EXPECT_EQ(c.m, Value("S.BPM"));
        EXPECT_EQ(c.w, Value("S.BPW"));
    }
}

TEST_F(StatGetters, TradeValuesOfTheContextsTradeOrOfTheTradesClosedOnTheBar)
{
    TradeRecord trades[3]{};
    for (int k = 0; k < 3; k++) {
        TradeRecord &t = trades[k];
        t.strategy = 0;
        t.side = 1;
        t.symbolNumber = 1;
        CopyString(t.symbol, 40, "AAA", -1);
        t.dateIn = 20240129;
        t.priceIn = 10;
        t.quantityIn = t.quantityOut = 10;
        t.splitIn = t.splitOut = 1;
        t.fxIn = t.fxOut = 1;
        t.pointValue = 1;
        t.roundingOut = 0.01;
        t.priceOut = 11 + k;
        t.highest = 12 + k;
        t.lowest = 9 - k;
        t.reason = 3;
    }
    trades[0].dateOut = 20240131; /* bar 4 */
    trades[1].dateOut = 20240201; /* bar 5 */
    trades[2].dateOut = 20240201;
    trades[2].strategy = 1; /* the combined strategy, which Alpha does not hold */
    test.trades = trades;
    test.tradeCount = 3;
    const ValueCase cases[] = {
        {"T.Profit", 20},
        {"T.Points", 2},
        {"T.QtyIn", 10},
        {"T.Highest", 13},
        {"T.Profit[1]", 10},
        {"T.Profit[2]", 0},
    };
    EXPECT_CASES(cases);
    ctx.strategyIndex = 1; /* the combined strategy holds Alpha: both trades of the bar */
    EXPECT_DOUBLE_EQ(50, Value("T.Profit"));
    EXPECT_DOUBLE_EQ(14, Value("T.Highest"));
    EXPECT_DOUBLE_EQ(7, Value("T.Lowest"));

    ctx.trade = &trades[1];
    ctx.strategyIndex = 0;
    const ValueCase own[] = {{"T.Profit", 20}, {"T.NetPct", 0.2}, {"T.Strat", 1}, {"T.Reason", 3}, {"T.Symbol", 1}};
    EXPECT_CASES(own);
    EXPECT_EQ("Alpha", Text("T.Strat"));
    EXPECT_EQ("exit stop", Text("T.Reason"));
    CopyString(trades[1].reasonText, 80, "trailing", -1);
    EXPECT_EQ("trailing", Text("T.Reason"));
    /* A kept skipped setup never left, so its code is a skip reason. */
    trades[1].reasonText[0] = 0;
    trades[1].dateOut = 0;
    trades[1].reason = 8;
    EXPECT_EQ("stop not hit", Text("T.Reason"));
    trades[1].dateOut = 20240201;
    trades[1].priceIn = 0; /* no entry value: the percentage has no value */
    EXPECT_TRUE(std::isnan(Value("T.NetPct")));
}

/* Alpha holds two positions in AAA and one in BBB; the combined strategy,
** which holds Alpha, an open position and a setup in AAA.  The context
** stands on bar 5 (split factor 1). */
struct GroupPositions : StatGetters {
    std::vector<StrategyRecord> records = std::vector<StrategyRecord>(2);
    PositionRecord alpha[3]{};
    PositionRecord combo[2]{};
    PositionRecord &p1 = alpha[0], &p3 = alpha[1], &p5 = alpha[2];
    PositionRecord &p2 = combo[0], &p4 = combo[1];
    StrategyRecord *savedStrategies = nullptr;
    int32_t savedCount = 0;

    void SetUp() override
    {
        StatGetters::SetUp();
        Open(&p1, &gStore.symbols[0], 1, 100, 2, 20, 1, 20240126); /* 200 shares at 10 now */
        p1.fraction = 0.25;
        p1.entryValue = 2000;
        p1.kept = 1;
        p1.setupRank = 3;
        Open(&p3, &gStore.symbols[1], 1, 999, 1, 99, 2, 20240129); /* another symbol */
        p3.kept = 1;
        Open(&p5, &gStore.symbols[0], 1, 10, 1, 15, 3, 20240130);
        p5.fraction = 0.1;
        p5.entryValue = 150;
        p5.setupRank = 4;
        p5.selectionNumber = 2;
        Open(&p2, &gStore.symbols[0], -1, 50, 1, 16, 4, 20240131);
        p2.fraction = 0.5;
        p2.entryValue = 800;
        p2.entryFx = 2;
        p2.kept = 1;
        p2.listed = 1;
        p2.setupRank = 2;
        p2.selectionNumber = 1;
        Open(&p4, &gStore.symbols[0], 1, 0, 1, 0, -1, 0); /* a setup not entered */
        p4.setupRank = 5;
        records[0].kind = STRATEGY_KIND_STRATEGY;
        records[0].openPositions = alpha;
        records[0].openCount = 3;
        records[1].kind = STRATEGY_KIND_COMBINED;
        records[1].openPositions = combo;
        records[1].openCount = 2;
        savedStrategies = gStrategies;
        savedCount = gStrategyCount;
        gStrategies = records.data();
        gStrategyCount = 2;
        ctx.strategyIndex = 1;
        ctx.strategy = &records[1];
    }
    void TearDown() override
    {
        gStrategies = savedStrategies;
        gStrategyCount = savedCount;
        StatGetters::TearDown();
    }
};

TEST_F(GroupPositions, ItemsOverTheGroupsOpenPositionsInTheSymbol)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"Shares", 260},
        {"FillQty", 260},
        {"FillValue", 2550},            /* 2000 + 150 + 800 / 2 */
        {"FillFraction", 0.85},
        {"FillPrice", 2950.0 / 260},    /* share-weighted: 200 at 10, 10 at 15, 50 at 16 */
        {"FillPriceAvg", 2950.0 / 260},
        {"FillPriceMin", 10},
        {"FillPriceMax", 16},
        {"OrderPrice", 0},
        {"EntryDate", 20240131},
        {"BarsHeld", 4},
        {"IsSetup", 2},
        {"IsOrder", 1},
        {"SetupRank", 5},               /* each later rank replaces a rank of 0 or more */
        {"OrderRank", 0},
        {"Side", 0},                    /* no position in the context, no search */
    };
    /* clang-format on */
    EXPECT_CASES(cases);
    p5.setupRank = (uint32_t)-1; /* a negative rank is kept */
    EXPECT_DOUBLE_EQ(-1, Value("SetupRank"));

    /* Without a test record only the strategy's own positions count. */
    ctx.test = nullptr;
    const ValueCase own[] = {{"Shares", 50}, {"IsSetup", 1}, {"FillPriceMin", 16}, {"EntryDate", 20240131}};
    EXPECT_CASES(own);
    ctx.strategy = nullptr;
    EXPECT_DOUBLE_EQ(0, Value("Shares"));
}

TEST_F(GroupPositions, SetupItemsReadThePositionAtHandUnlessTheyAggregate)
{
    ctx.strategyIndex = 0;
    ctx.strategy = &records[0];
    ctx.position = &p5;
    p5.setupRank = (uint32_t)-2;
    p5.kept = 7;
    const ValueCase single[] = {{"SetupRank", -2}, {"OrderRank", 2}, {"IsSetup", 1}, {"IsOrder", 0}};
    EXPECT_CASES(single);
    ctx.strategyData = 1; /* over Alpha's positions in AAA: p1 and p5 */
    const ValueCase group[] = {{"SetupRank", -2}, {"OrderRank", 2}, {"IsSetup", 2}, {"IsOrder", 0}};
    EXPECT_CASES(group);
    p1.setupRank = (uint32_t)-1; /* the first negative rank stands */
    EXPECT_DOUBLE_EQ(-1, Value("SetupRank"));
}

TEST_F(GroupPositions, ASearchingStrategyFindsItsPositionsItself)
{
    ctx.strategyIndex = 0;
    ctx.strategy = &records[0];
    ctx.position = &p1;
    const ValueCase single[] = {{"Shares", 200}, {"FillValue", 2000}, {"FillPrice", 10}, {"Side", 1}};
    EXPECT_CASES(single);
    ctx.position = &p2; /* a position of another strategy in hand */
    records[0].positionSearch = 1;
    /* clang-format off */
    const ValueCase searched[] = {
        {"Shares", 210},            /* over Alpha's positions, not the one at hand */
        {"FillFraction", 0.35},
        {"FillPrice", 16},          /* prices still read the position at hand */
        {"Side", 1},                /* Alpha's first position in AAA */
    };
    /* clang-format on */
    EXPECT_CASES(searched);
    records[0].openPositions = alpha + 1; /* only the position in BBB is left first */
    records[0].openCount = 1;
    EXPECT_DOUBLE_EQ(0, Value("Side"));
}

TEST_F(StatGetters, IdsOutsideAGettersRangeAreInternalErrorsThatStopTheRun)
{
    const struct {
        int (*getter)(FormulaNode *, EvalContext *, int32_t);
        uint32_t item;
        const char *message;
    } cases[] = {
        {GetBarValue, 100, "Internal Error: GetBarValue(Id=100)"},
        {GetNonBarValue, 238, "Internal Error: GetNonBarValue(Id=238)"},
        {GetStatValue, ITEM_TRACKER, "Internal Error: GetStatValue(Id=115)"},
        {GetStatValue, 300, "Internal Error: GetStatValue(Id=300)"},
        {GetTradeValue, 186, "Internal Error: GetTradeValue(Id=186)"},
    };
    for (const auto &c : cases) {
        gRun.state = RUN_TESTING;
        FormulaNode node{};
        node.item = c.item;
        EXPECT_EQ(0, c.getter(&node, &ctx, 0)) << c.message;
        EXPECT_STREQ(c.message, LastMessage());
        EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load()) << c.message;
    }
    gRun.state = RUN_IDLE;
    FormulaNode node{};
    node.item = 100; /* bar dates: an unknown id is only 0 */
    EXPECT_EQ(1, GetBarDateValue(&node, &ctx, 0));
    EXPECT_EQ(0, node.value);
}

} // namespace
