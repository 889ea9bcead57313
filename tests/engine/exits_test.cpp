#include <cstring>

#include "engine/exit_pass.h"
#include "engine/limits.h"
#include "engine_fixture.h"
#include "pass_fixture.h"

namespace {

/* Entered at 10.5 on the second open; the exit rule fires at the third open (11.6). */
/* clang-format off */
const std::vector<DayBar> kThreeDays = {
    {20240102, 10.0, 11.0, 9.5, 10.5},
    {20240103, 10.5, 12.0, 10.0, 11.5},
    {20240104, 11.6, 12.5, 11.0, 12.0},
};
/* clang-format on */

TEST_F(PassTest, AnExitQuantityLeavesTheRestOpenWithItsEntry)
{
    const struct {
        const char *exitQty;
        double traded, open, profit;
    } cases[] = {
        {"30", 30, 70, 33},    /* 30 × (11.6 − 10.5) */
        {"99.5", 100, 0, 110}, /* rounds to 100: all of it */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.exitQty);
        LoadMarket({{"AAA", kThreeDays}});
        AddStrategy("Part");
        SetFormula(0, SLOT_ENTRY_SETUP, "C < 11");
        SetFormula(0, SLOT_QUANTITY, "100");
        SetFormula(0, SLOT_EXIT_RULE, "1");
        SetFormula(0, SLOT_EXIT_QTY, c.exitQty);
        StartTest();
        RunAll();
        ASSERT_EQ(1, test.tradeCount);
        EXPECT_DOUBLE_EQ(c.traded, test.trades[0].quantityIn);
        EXPECT_DOUBLE_EQ(c.profit, TradeNetProfit(&test.trades[0]));
        const StrategyRecord &r = strategies[0];
        ASSERT_EQ(c.open > 0 ? 1 : 0, r.openCount);
        if (c.open > 0) {
            const PositionRecord &p = r.openPositions[0];
            EXPECT_DOUBLE_EQ(c.open, p.quantity);
            EXPECT_EQ(20240103, p.entryDate);
            EXPECT_DOUBLE_EQ(10.5, p.entryPrice);
            EXPECT_DOUBLE_EQ(735, p.entryValue);
            EXPECT_EQ(1u, p.partialExits);
            EXPECT_EQ(1, Cell(2, 0)->positions);
            EXPECT_DOUBLE_EQ(735, Cell(2, 0)->invested);
        }
        TearDown();
        SetUp();
    }
}

/* 100 shares bought at the open of 10 with a commission of 1.00 and a
** slippage of 0.10 a share (so at 10.10) leave 40, 40 and 20 at the next
** three opens (11, 12, 13, so at 10.90, 11.90, 12.90), each exit paying 1.00.
** The equity gains 32 + 72 + 56 − 1 − 3 = 156, and so do the three trades
** together: each part carries its share of the entry commission (0.40,
** 0.40, 0.20) and of the entry slippage (4.00, 4.00, 2.00), not the whole. */
TEST_F(EngineTest, PartialExitsShareTheEntryCostsSoTheTradesAddUp)
{
    std::vector<int32_t> d = Weekdays(20240102, 20240109);
    LoadStore(d, {{"AAA", {{20240102, 9, 10, 9, 10}, {20240103, 10, 11, 10, 11}, {20240104, 11, 12, 11, 12},
                           {20240105, 12, 13, 12, 13}, {20240108, 13, 14, 13, 14}, {20240109, 14, 15, 14, 15}}}});
    ASSERT_EQ(0, Run("Strategy: P\n  EntrySetup: C > O AND C < 10.5\n  Quantity: 100\n  QtyType: Shares\n"
                     "  ExitRule: 1\n  ExitQty: 40\n  Commission: 1\n  Slippage: 0.1\n  Compounded: False\n"))
        << LastMessage();
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(3, test->tradeCount);
    const struct {
        int32_t dateOut;
        double quantity, commissionIn, slippageIn, profit;
    } parts[] = {
        {20240104, 40, 0.4, 4, 30.6}, /* 40 × (10.90 − 10.10) − 0.40 − 1 */
        {20240105, 40, 0.4, 4, 70.6}, /* 40 × (11.90 − 10.10) − 0.40 − 1 */
        {20240108, 20, 0.2, 2, 54.8}, /* 20 × (12.90 − 10.10) − 0.20 − 1 */
    };
    double sum = 0;
    for (int k = 0; k < 3; k++) {
        const TradeRecord &t = test->trades[k];
        EXPECT_EQ(parts[k].dateOut, t.dateOut) << k;
        EXPECT_DOUBLE_EQ(parts[k].quantity, t.quantityOut) << k;
        EXPECT_NEAR(parts[k].commissionIn, t.commissionIn, 1e-12) << k;
        EXPECT_NEAR(parts[k].slippageIn, t.slippageIn, 1e-9) << k;
        EXPECT_NEAR(parts[k].profit, TradeNetProfit(&t), 1e-9) << k;
        sum += TradeNetProfit(&t);
    }
    EXPECT_NEAR(156, sum, 1e-9);
    EXPECT_NEAR(100156, Cell(test, test->rowsFilled - 1, 0)->equityBase, 1e-9);
}

/* Long lots of 100 in AAA, entered on the first dates. */
TEST_F(PassTest, AReductionExitsTheLatestLotsFirst)
{
    const struct {
        int lots;
        double target;
        int32_t reason;
        std::vector<double> traded; /* in exit order */
        std::vector<double> left;   /* by entry date */
    } cases[] = {
        {3, 150, EXIT_REDUCE, {100, 50}, {100, 50}},
        {3, 0, EXIT_ZERO_POSITION, {100, 100, 100}, {}},
        {3, 300, EXIT_REDUCE, {}, {100, 100, 100}},
        /* The remainder of the partial exit finds the array full and moves it. */
        {2, 50, EXIT_REDUCE, {100, 50}, {50}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        LoadMarket({{"AAA", kThreeDays}});
        AddStrategy("Lots");
        StartTest();
        StrategyRecord &r = strategies[0];
        StartRow(2);
        ctx.strategy = &r;
        ctx.strategyIndex = 0;
        ctx.symbol = &gStore.symbols[0];
        ctx.barPhase = PHASE_OPEN;
        for (int k = 0; k < c.lots; k++) {
            PositionRecord *p = AddSetup(&r, 0, &gStore.symbols[0]);
            p->side = 1;
            p->quantity = 100;
            p->quantityStep = 1;
            p->entryPrice = 10;
            p->entrySplit = 1;
            p->entryDate = kThreeDays[k].date;
            p->entryBar = k;
            p->entryTiming = PHASE_OPEN;
            p->value = p->entryValue = 1000;
            ctx.position = p;
            ASSERT_NE(nullptr, AddPosition(&ctx));
        }
        const Bar *bar = &gStore.symbols[0].bars[BAR_DAILY][2];
        EXPECT_DOUBLE_EQ(0, ReducePositionsToTarget(&ctx, bar, c.target, nullptr));
        ASSERT_EQ((int32_t)c.traded.size(), test.tradeCount);
        for (size_t k = 0; k < c.traded.size(); k++) {
            EXPECT_DOUBLE_EQ(c.traded[k], test.trades[k].quantityIn) << k;
            EXPECT_EQ(c.reason, test.trades[k].reason) << k;
            EXPECT_DOUBLE_EQ(11.6, test.trades[k].priceOut) << k;
        }
        ASSERT_EQ((int32_t)c.left.size(), r.openCount);
        for (size_t k = 0; k < c.left.size(); k++) {
            EXPECT_DOUBLE_EQ(c.left[k], r.openPositions[k].quantity) << k;
            EXPECT_EQ(kThreeDays[k].date, r.openPositions[k].entryDate) << k;
        }
        TearDown();
        SetUp();
    }
}

/* AAA trades all four dates and always closes down; BBB's data end on the
** third date while it is held; CCC's end there too, the day after its
** signal: it enters at the open of its last bar, as a test that ends there
** does, and leaves at that bar's close. */
TEST_F(PassTest, ASymbolWhoseDataEndEarlyLeavesAtItsLastCloseAndEntersOnItsLastBar)
{
    LoadMarket({
        {"AAA", {{20240102, 10, 11, 9, 9.5}, {20240103, 10, 11, 9, 9.5}, {20240104, 10, 11, 9, 9.5}, {20240105, 10, 11, 9, 9.5}}},
        {"BBB", {{20240102, 30, 31, 29, 30.5}, {20240103, 30.6, 31, 30, 30.2}, {20240104, 30.2, 31.5, 30, 31}}},
        {"CCC", {{20240102, 40, 41, 39, 39.5}, {20240103, 39.5, 41, 39, 40.5}, {20240104, 40.5, 41, 40, 40.8}}},
    });
    AddStrategy("Up");
    SetFormula(0, SLOT_ENTRY_SETUP, "C > O");
    SetFormula(0, SLOT_QUANTITY, "10");
    StartTest();
    RunAll();
    ASSERT_EQ(2, test.tradeCount);
    const struct {
        const char *symbol;
        int32_t dateIn;
        double priceIn, priceOut;
    } expected[] = {{"BBB", 20240103, 30.6, 31}, {"CCC", 20240104, 40.5, 40.8}};
    for (int k = 0; k < 2; k++) {
        const TradeRecord &t = test.trades[k];
        EXPECT_STREQ(expected[k].symbol, t.symbol);
        EXPECT_EQ(expected[k].dateIn, t.dateIn);
        EXPECT_DOUBLE_EQ(expected[k].priceIn, t.priceIn);
        EXPECT_EQ(20240104, t.dateOut);
        EXPECT_EQ(PHASE_CLOSE, t.timeOut);
        EXPECT_DOUBLE_EQ(expected[k].priceOut, t.priceOut);
        EXPECT_EQ(EXIT_END_OF_DATA, t.reason);
    }
    EXPECT_EQ(0, strategies[0].openCount);
}

} // namespace

namespace {

/* The holding follows ten shares per point of the last close: 100, then 120
** (a second lot of 20), then 90 (the second lot and 10 of the first leave). */
TEST_F(PassTest, DynamicSizingTradesTheDifferenceToItsTarget)
{
    LoadMarket({{"AAA",
                 {{20240102, 10, 10, 10, 10},
                  {20240103, 10.5, 12, 10.5, 12},
                  {20240104, 11, 11, 9, 9},
                  {20240105, 9.5, 9.5, 9.5, 9.5}}}});
    AddStrategy("Dynamic").DynamicSizing = 1;
    SetFormula(0, SLOT_QUANTITY, "C * 10");
    StartTest();
    RunAll();
    const StrategyRecord &r = strategies[0];
    ASSERT_EQ(1, r.openCount);
    EXPECT_DOUBLE_EQ(90, r.openPositions[0].quantity);
    EXPECT_DOUBLE_EQ(10.5, r.openPositions[0].entryPrice);
    ASSERT_EQ(2, test.tradeCount);
    const double quantities[] = {20, 10}, entries[] = {11, 10.5};
    for (int k = 0; k < 2; k++) {
        EXPECT_DOUBLE_EQ(quantities[k], test.trades[k].quantityIn) << k;
        EXPECT_DOUBLE_EQ(entries[k], test.trades[k].priceIn) << k;
        EXPECT_DOUBLE_EQ(9.5, test.trades[k].priceOut) << k;
        EXPECT_EQ(EXIT_REDUCE, test.trades[k].reason) << k;
    }
    EXPECT_EQ(1, Cell(2, 0)->positions); /* the second lot adds to the holding */
    EXPECT_EQ(1, Cell(3, 0)->positions);
}

/* One entry a day: AAA's and BBB's first setups are both kept on the 3rd,
** and BBB's is refused at its opening for AAA's.  BBB enters on the 4th as
** the strategy's first lot there, a second position of the account's, and
** leaves on the 8th, its close of 12 on the 5th asking for none: a setup
** that did not fill left no lot for the one that did to add to. */
TEST_F(PassTest, AKeptSetupThatDidNotFillLeavesNoLotBehind)
{
    const std::vector<int32_t> d = {20240102, 20240103, 20240104, 20240105, 20240108};
    LoadMarket({{"AAA", FlatBars(d, {10, 10, 10, 10, 10})}, {"BBB", FlatBars(d, {10, 10, 10, 12, 12})}});
    AddStrategy("Dynamic").DynamicSizing = 1;
    SetFormula(0, SLOT_QUANTITY, "10 * (C < 11)");
    SetFormula(0, SLOT_MAX_ENTRIES, "1");
    StartTest();
    RunAll();
    EXPECT_EQ("AAA ", Held(0));
    const int32_t positions[] = {0, 1, 2, 2, 1};
    for (int32_t r = 0; r < 5; r++) EXPECT_EQ(positions[r], Cell(r, 0)->positions) << r;
}

/* Lots of 60 and 7 AAA bought at 15 on 3 and 4 January are 90 and 10.5
** shares at 10 after the 3-for-2 split of the 5th, when the target is 91
** (QtyRound 1): 9.5 of the latest lot would leave half a share, so all
** 10.5 leave, and the holding of 90 buys 1 more at that open, not at the
** next one (at 11).  The account holds 91 from the 5th: 100,091 at 11 on the
** 8th, 100,182 at 12 on the 9th, where the test ends, and its trades gain
** that 182 (0 + 180 + 2). */
TEST_F(EngineTest, AReductionCountsTheHoldingDownByWhatItSold)
{
    const std::vector<int32_t> d = Weekdays(20240102, 20240109);
    std::vector<DayBar> bars;
    const double closes[] = {15, 15, 15, 10, 11, 12};
    for (size_t k = 0; k < d.size(); k++)
        bars.push_back(DayBar{d[k], closes[k], closes[k], closes[k], closes[k], 1000, d[k] < 20240105 ? 1.5 : 1.0});
    LoadStore(d, {{"AAA", bars}});
    const TradeRecord *trades = TradesOfRun(
        3, "Strategy: D\n  DynamicSizing: True\n  QtyType: Shares\n  QtyRound: 1\n"
           "  Quantity: 60 + 7 * (BarDate >= 20240103) + 24 * (BarDate >= 20240104)\n");
    ASSERT_NE(nullptr, trades);
    const struct {
        int32_t dateIn, dateOut;
        double quantityIn, quantityOut, profit;
        int32_t reason;
    } want[] = {{20240104, 20240105, 7, 10.5, 0, EXIT_REDUCE},
                {20240103, 20240109, 60, 90, 180, EXIT_END_OF_TEST},
                {20240105, 20240109, 1, 1, 2, EXIT_END_OF_TEST}};
    double gained = 0;
    for (int k = 0; k < 3; k++) {
        SCOPED_TRACE(k);
        EXPECT_EQ(want[k].dateIn, trades[k].dateIn);
        EXPECT_EQ(want[k].dateOut, trades[k].dateOut);
        EXPECT_DOUBLE_EQ(want[k].quantityIn, trades[k].quantityIn);
        EXPECT_DOUBLE_EQ(want[k].quantityOut, trades[k].quantityOut);
        EXPECT_NEAR(want[k].profit, TradeNetProfit(&trades[k]), 1e-9);
        EXPECT_EQ(want[k].reason, trades[k].reason);
        gained += TradeNetProfit(&trades[k]);
    }
    const TestRecord *test = LastTest();
    ASSERT_EQ(6, test->rowsFilled);
    const double equity[] = {100000, 100000, 100000, 100000, 100091, 100182};
    for (int32_t row = 0; row < 6; row++) {
        const StatCell *c = Cell(test, row, 0);
        EXPECT_NEAR(equity[row], c->equityBase + c->markToMarket, 1e-9) << row;
    }
    EXPECT_NEAR(100000 + gained, Cell(test, 5, 0)->equityBase, 1e-9);
}

} // namespace

/* A strategy with one position at a time sells half its shares at every
** open, without a quantity step (QtyRound 0), so its share counts are kept
** to 0.001.  0.0036 bought at the open of 3 January: 0.002 of it leave at
** the next open (Shares 0.004, half of it); on the 5th half of the 0.0016
** left (Shares 0.002) is 0.001, which would leave 0.0006 that no later exit
** could take (its half, 0.0005, would leave 0.0001, whose half rounds to
** nothing, held to the end): the 0.0016 leave together, and the next
** position is bought at that open. */
TEST_F(EngineTest, WhatAPartialExitWouldLeaveBelowTheQuantityStepLeavesWithIt)
{
    LoadFlat("AAA", 20240102, 20240112, 10);
    const TradeRecord *trades = TradesOfRun(
        8, "Strategy: Halves\n  EntrySetup: 1\n  MaxPositions: 1\n  Quantity: 0.0036\n  QtyType: Shares\n  QtyRound: 0\n"
           "  ExitRule: 1\n  ExitQty: Shares * 0.5\n");
    ASSERT_NE(nullptr, trades);
    const struct {
        int32_t dateIn, dateOut;
        double quantity;
    } want[] = {{20240103, 20240104, 0.002}, {20240103, 20240105, 0.0016}, {20240105, 20240108, 0.002},
                {20240105, 20240109, 0.0016}, {20240109, 20240110, 0.002}, {20240109, 20240111, 0.0016},
                {20240111, 20240112, 0.002}, {20240111, 20240112, 0.0016}};
    for (int k = 0; k < 8; k++) {
        SCOPED_TRACE(k);
        EXPECT_EQ(want[k].dateIn, trades[k].dateIn);
        EXPECT_EQ(want[k].dateOut, trades[k].dateOut);
        EXPECT_NEAR(want[k].quantity, trades[k].quantityIn, 1e-12);
    }
}

/* AAA's data end on Friday 12 January while BBB trades on: a position in
** AAA of 100 shares, bought at the first open, whose exit rule would sell
** half (ExitQty: Shares * 0.5), leaves whole by "end of data" at AAA's last
** close, as no later bar could take what a part of it left. */
TEST_F(EngineTest, ASymbolWhoseDataEndLeavesWhole)
{
    std::vector<int32_t> d = Weekdays(20240102, 20240131), early = Weekdays(20240102, 20240112);
    LoadStore(d, {{"AAA", FlatBars(early, std::vector<double>(early.size(), 10))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
    const TradeRecord *trades = TradesOfRun(1, "Strategy: S\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20240102\n"
                                               "  Quantity: 100\n  QtyType: Shares\n  ExitRule: 0\n  ExitQty: Shares * 0.5\n");
    ASSERT_NE(nullptr, trades);
    EXPECT_EQ(EXIT_END_OF_DATA, trades[0].reason);
    EXPECT_EQ(20240112, trades[0].dateOut);
    EXPECT_DOUBLE_EQ(100, trades[0].quantityOut);
}

namespace {

/* A trade list's exit during the day says only the price it left at; the
** side of the day's open that price lies on is the side its order stood on,
** so the trade saw the day up to that price there and the day's other
** extreme.  AAA trades at 100 but on 11 January (open 100, high 104, low
** 94); each row enters 100 shares at the open of 9 January and leaves on the
** 11th during the day: a long at 97 (a stop) saw 97 to 104, a long at 102
** (a target) 94 to 102, a short at 103 (its stop) 94 to 103, a short at 96
** (its target) 96 to 104. */
TEST_F(EngineTest, ATradeListExitDuringTheDayBoundsTheTradesExtremesByItsPrice)
{
    const std::vector<int32_t> d = Weekdays(20240108, 20240116);
    std::vector<DayBar> bars = FlatBars(d, std::vector<double>(d.size(), 100));
    bars[3] = DayBar{20240111, 100, 104, 94, 100};
    LoadStore(d, {{"AAA", bars}});
    const struct {
        const char *side;
        double priceOut, lowest, highest;
    } rows[] = {{"long", 97, 97, 104}, {"long", 102, 94, 102}, {"short", 103, 94, 103}, {"short", 96, 96, 104}};
    std::string csv = "TradeID,Side,Symbol,DateIn,TimeIn,QtyIn,PriceIn,DateOut,TimeOut,QtyOut,PriceOut\n";
    for (int k = 0; k < 4; k++)
        csv += std::to_string(k + 1) + "," + rows[k].side + ",AAA,20240109,open,100,100,20240111,intraday,100," +
            std::to_string(rows[k].priceOut) + "\n";
    Write("trades.csv", csv);
    ASSERT_EQ(0, Run("Strategy: TL\n  Side: Both\n  TradeList: trades.csv\n  TLEndDate: latest\n  MaxSameSym: 10\n")) << LastMessage();
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(4, test->tradeCount);
    for (int32_t k = 0; k < 4; k++) {
        const TradeRecord &t = test->trades[k];
        int row = 0;
        while (row < 3 && !(t.priceOut == rows[row].priceOut)) row++;
        SCOPED_TRACE(std::string(rows[row].side) + " " + std::to_string(rows[row].priceOut));
        EXPECT_EQ(20240111, t.dateOut);
        EXPECT_EQ(EXIT_TRADE_LIST, t.reason);
        EXPECT_DOUBLE_EQ(rows[row].lowest, t.lowest);
        EXPECT_DOUBLE_EQ(rows[row].highest, t.highest);
    }
}

} // namespace

namespace {

/* A daily long's stop entry at C * 1.01 of 100, 101, fills on 3 January
** 2024 (open 100, high 105, low 98, close 102): the price rose through 101,
** so the day's low of 98 came before the entry.  Its target of FillPrice *
** 1.03, 104.03, fills the same day, and its stop of FillPrice * 0.95 does
** not: the trade saw 101 to 104.03.  A short's stop entry at C * 0.99, 99,
** on a day of open 100, high 102, low 95, close 98, with a target at
** FillPrice * 0.97 (96.03), saw 99 down to 96.03. */
TEST_F(EngineTest, ADailyStopEntryLeavingTheSameDaySawTheDayFromItsEntryToItsExit)
{
    const std::vector<int32_t> d = Weekdays(20240101, 20240112);
    const struct {
        const char *side, *entry, *target;
        DayBar day;
        double priceIn, priceOut, lowest, highest;
    } cases[] = {
        {"Long", "C * 1.01", "FillPrice * 1.03", {20240103, 100, 105, 98, 102}, 101, 104.03, 101, 104.03},
        {"Short", "C * 0.99", "FillPrice * 0.97", {20240103, 100, 102, 95, 98}, 99, 96.03, 96.03, 99},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.side);
        std::vector<DayBar> bars = FlatBars(d, std::vector<double>(d.size(), 100));
        bars[2] = c.day;
        LoadStore(d, {{"AAA", bars}});
        const TradeRecord *trades = TradesOfRun(1, std::string("Strategy: S\n  Side: ") + c.side + "\n  EntrySetup: BarDate = 20240102\n"
                                                   "  EntryStop: " + c.entry + "\n  EntryTime: Intraday\n  Quantity: 100\n  QtyType: Shares\n"
                                                   "  ExitLimit: " + c.target + "\n  ExitStop: FillPrice * " + (c.side[0] == 'L' ? "0.95" : "1.05") + "\n");
        ASSERT_NE(nullptr, trades);
        const TradeRecord &t = trades[0];
        EXPECT_EQ(20240103, t.dateIn);
        EXPECT_EQ(20240103, t.dateOut);
        EXPECT_EQ(EXIT_LIMIT, t.reason);
        EXPECT_DOUBLE_EQ(c.priceIn, t.priceIn);
        EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
        EXPECT_DOUBLE_EQ(c.lowest, t.lowest);
        EXPECT_DOUBLE_EQ(c.highest, t.highest);
    }
}

} // namespace
