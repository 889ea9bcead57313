/* Execution bars in daily and weekly runs, bar dates, dead bars, commission
** and slippage, and compacting the open positions. */
#include <gtest/gtest.h>

#include <cstring>

#include "engine/date_loop.h"
#include "engine/exit_pass.h"
#include "engine/fills.h"
#include "engine/sizing.h"
#include "foundation/settings_table.h"
#include "pass_fixture.h"
#include "script/compiler/settings_items.h"

namespace {

/* Two weeks: Mon 8 .. Fri 12 and Mon 15 .. Fri 19 January 2024. */
struct FillTest : EngineTest {
    StrategyRecord strategy{};
    EvalContext ctx{};
    void SetUp() override
    {
        EngineTest::SetUp();
        std::vector<int32_t> d = Weekdays(20240108, 20240119);
        /* clang-format off */
        std::vector<DayBar> a = {
            {20240108, 10.6, 10.8, 10.2, 10.4}, {20240109, 10.7, 10.8, 10.1, 10.3},
            {20240110, 9.5, 9.9, 9.4, 9.8},     {20240111, 9.8, 10.0, 9.7, 9.9},
            {20240112, 9.9, 10.1, 9.8, 10.0},   {20240115, 10.0, 10.2, 9.9, 10.1},
            {20240116, 10.1, 10.3, 10.0, 10.2}, {20240117, 10.2, 10.4, 10.1, 10.3},
            {20240118, 10.3, 10.5, 10.2, 10.4}, {20240119, 10.4, 10.6, 10.3, 10.5},
        };
        /* clang-format on */
        std::vector<DayBar> late(a.begin() + 5, a.end()); /* nothing in the first week */
                                                          /* clang-format off */
        std::vector<DayBar> split = {
            {20240108, 62, 64, 60, 61}, {20240109, 61, 62, 55, 56},
            {20240110, 26, 27, 24, 25, 1000, 0.5}, {20240111, 25, 26, 24, 25, 1000, 0.5},
            {20240112, 25, 26, 24, 25, 1000, 0.5},
        };
                                                          /* clang-format on */
        std::vector<DayBar> dead = {{20240108, 5, 6, 4, 5}, {20240109, 5, 5, 5, 5, 0}, {20240110, 5, 6, 4, 5}};
        std::vector<DayBar> topOpen = {{20240108, 10.6, 10.6, 10.2, 10.4}}; /* opens at its high */
        LoadStore(d, {{"AAA", a}, {"BBB", late}, {"DDD", split}, {"EEE", dead}, {"FFF", topOpen}});
        gSettings.BarSize2 = BAR_WEEKLY;
        gEngineRun.startDate = gSettings.FirstDate;
        strategy.BarSize = BAR_WEEKLY;
        ctx.strategy = &strategy;
        ctx.barSize = BAR_WEEKLY;
        ctx.barPhase = PHASE_CLOSE;
        ctx.date = 20240112;
    }
    SymbolRecord *Symbol(const char *name) { return &gStore.symbols[FindSymbolIndex(name) - 1]; }
};

TEST_F(FillTest, WeeklyOrdersFillOnTheFirstDailyBarThatReachesThem)
{
    struct Case {
        const char *name;
        const char *symbol;
        int isEntry;
        int side;
        int limit, stop; /* entry: the strategy's order formulas */
        int exitReason;
        int32_t entryDate;
        double limitPrice, stopPrice, entryPrice;
        int32_t lastDate; /* the LastDate setting */
        int32_t expected;
        double price; /* the fill price written */
        double exitPrice = 0, rounding = 0; /* an exit's price as slippage and rounding left it */
    } cases[] = {
        /* The Wednesday opens at 9.50, already below the limit of 10. */
        {"long limit entry", "AAA", 1, 1, 1, 0, 0, 0, 0, 0, 10, 20240119, 20240110, 9.5},
        {"long stop entry", "AAA", 1, 1, 0, 1, 0, 0, 0, 0, 10.75, 20240119, 20240108, 10.75},
        {"short limit entry", "AAA", 1, -1, 1, 0, 0, 0, 0, 0, 10.75, 20240119, 20240108, 10.75},
        /* A target reached on the entry day fills at the target, not at the better open. */
        {"exit limit on the entry day", "AAA", 0, 1, 0, 0, EXIT_LIMIT, 20240109, 10.5, -1e14, 0, 20240119, 20240109,
         10.5},
        /* After the entry day an open through the target fills at the open. */
        {"exit limit after the entry", "AAA", 0, 1, 0, 0, EXIT_LIMIT, 20240105, 10.5, -1e14, 0, 20240119, 20240108,
         10.6},
        {"long stop exit gapping down", "AAA", 0, 1, 0, 0, EXIT_STOP, 20240105, 1e14, 9.6, 0, 20240119, 20240110, 9.5},
        {"no bar in the week", "BBB", 1, 1, 0, 0, 0, 0, 0, 0, 0, 20240119, EXEC_NO_DATA, 0},
        {"limit never reached", "AAA", 1, 1, 1, 0, 0, 0, 0, 0, 5, 20240119, EXEC_NO_DATA, 5},
        {"search passes the last date", "AAA", 1, 1, 1, 0, 0, 0, 0, 0, 5, 20240110, EXEC_END_OF_TEST, 5},
        {"stop and limit not reached", "AAA", 1, 1, 1, 1, 0, 0, 9, 12, 0, 20240119, EXEC_STOP_LIMIT_NOT_HIT, 0},
        /* A stop and limit entry fills at the stop on a day that opens short
        ** of it (Wednesday 9.5-9.9 for a long at 9.85, limit 9.95; Monday
        ** 10.2-10.8 for a short at 10.3, limit 10), at the limit on one that
        ** opens past the limit (Wednesday for a long at 9, limit 9.45). */
        {"long stop and limit, opening under the stop", "AAA", 1, 1, 1, 1, 0, 0, 9.95, 9.85, 0, 20240119, 20240110, 9.85},
        {"short stop and limit, opening over the stop", "AAA", 1, -1, 1, 1, 0, 0, 10, 10.3, 0, 20240119, 20240108, 10.3},
        {"long stop and limit, opening over the limit", "AAA", 1, 1, 1, 1, 0, 0, 9.45, 9, 0, 20240119, 20240110, 9.45},
        /* A target of 10.595 rounded to 10.60 before the search: an open at
        ** the day's high of 10.60 fills there, not at 10.605 above it. */
        {"exit limit rounded up, opening at the high", "FFF", 0, 1, 0, 0, EXIT_LIMIT, 20240105, 10.595, -1e14, 0,
         20240119, 20240108, 10.6, 10.6, 0.01},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gSettings.LastDate = c.lastDate;
        strategy.hasEntryLimit = c.limit;
        strategy.hasEntryStop = c.stop;
        PositionRecord p{};
        p.symbol = Symbol(c.symbol);
        ctx.symbol = p.symbol;
        p.side = c.side;
        p.entryTiming = PHASE_INTRADAY;
        p.exitTiming = PHASE_INTRADAY;
        p.exitReason = (uint32_t)c.exitReason;
        p.entryDate = c.entryDate;
        p.entrySplit = p.exitSplit = 1.0;
        p.limitPrice = c.limitPrice;
        p.stopPrice = c.stopPrice;
        p.entryPrice = c.entryPrice;
        p.exitPrice = c.isEntry ? 0 : c.exitPrice ? c.exitPrice : (c.exitReason == EXIT_LIMIT ? c.limitPrice : c.stopPrice);
        p.exitRounding = c.rounding;
        EXPECT_EQ(c.expected, FindExecutionBar(&ctx, &p, c.isEntry));
        /* As the exit is booked, on the day found. */
        if (!c.isEntry && c.expected > 0) {
            p.exitDate = c.expected;
            KeepFillInsideDay(&p, 0);
        }
        if (c.expected > 0) {
            EXPECT_DOUBLE_EQ(c.price, c.isEntry ? p.entryPrice : p.exitPrice);
        }
    }
}

TEST_F(FillTest, ASplitBeforeTheFillRescalesTheOrder)
{
    /* A long limit of 100 units at 50 meets bars whose split factor is half
    ** the order's: it is tested at 25 and becomes 200 units. */
    strategy.hasEntryLimit = 1;
    PositionRecord p{};
    p.symbol = ctx.symbol = Symbol("DDD");
    p.side = 1;
    p.entryTiming = PHASE_INTRADAY;
    p.entrySplit = 1.0;
    p.entryPrice = p.limitPrice = p.orderPrice = 50;
    p.quantity = 100;
    p.quantityStep = 1;
    EXPECT_EQ(20240110, FindExecutionBar(&ctx, &p, 1));
    EXPECT_DOUBLE_EQ(25, p.entryPrice);
    EXPECT_DOUBLE_EQ(25, p.limitPrice);
    EXPECT_DOUBLE_EQ(25, p.orderPrice);
    EXPECT_DOUBLE_EQ(200, p.quantity);
    EXPECT_DOUBLE_EQ(0.5, p.entrySplit);
}

TEST_F(FillTest, SameDayFillsNeedATradedBar)
{
    ctx.barSize = BAR_DAILY;
    gSettings.BarSize2 = BAR_DAILY;
    SymbolRecord *e = Symbol("EEE");
    e->firstUsedDate = 20240108;
    PositionRecord p{};
    p.symbol = ctx.symbol = e;
    p.entryTiming = PHASE_OPEN;
    struct {
        int32_t date;
        int allowNoVolume;
        int32_t expected;
    } cases[] = {
        {20240109, 0, EXEC_ZERO_VOLUME},
        {20240109, 1, 20240109},
        {20240110, 0, 20240110},
        {20240111, 0, EXEC_NO_DATA}, /* after the symbol's last bar */
    };
    for (auto &c : cases) {
        ctx.date = c.date;
        strategy.AllowNoVolume = c.allowNoVolume;
        EXPECT_EQ(c.expected, FindExecutionBar(&ctx, &p, 1)) << c.date;
    }
}

TEST_F(FillTest, AWeeklyBarDateIsTheLastTradingDateOfItsWeek)
{
    gSettings.FirstDate = 20240101; /* the first week's period starts before the data */
    const int32_t expected[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    /* The first week is the list's entry 0, which never counts; the second
    ** week's Friday is its last entry. */
    for (size_t k = 0; k < days.size(); k++) {
        ctx.date = days[k];
        ctx.barPhase = PHASE_CLOSE;
        EXPECT_EQ(expected[k] != 0, IsBarDate(&ctx, 0)) << days[k];
    }
    /* At a daily run's open the bar tested is the one before, the bar that
    ** signals the day's: the first week's, though its week began before the
    ** data, signals Monday 15 January as any week signals the next. */
    gSettings.BarSize2 = BAR_DAILY;
    for (size_t k = 0; k < days.size(); k++) {
        ctx.date = days[k];
        ctx.barPhase = PHASE_OPEN;
        EXPECT_EQ(days[k] == 20240115, IsBarDate(&ctx, 0)) << days[k];
    }
    ctx.barSize = BAR_DAILY;
    ctx.date = 20240110;
    EXPECT_TRUE(IsBarDate(&ctx, 0));
    EXPECT_TRUE(IsBarDate(&ctx, 20240110));
    EXPECT_FALSE(IsBarDate(&ctx, 20240111));
    ctx.date = 20240105; /* before the run's start */
    EXPECT_FALSE(IsBarDate(&ctx, 0));
}

/* Commission and slippage with the strategy's own formulas. */
TEST_F(PassTest, CommissionIsRoundedToCentsInTheAccountCurrency)
{
    LoadMarket({{"AAA", {{20240102, 10, 11, 9, 10}, {20240103, 10, 11, 9, 10}}}});
    AddStrategy("S");
    SetFormula(0, SLOT_COMMISSION, "1.005");
    StartTest();
    ctx.strategy = &strategies[0];
    ctx.strategyIndex = 0;
    struct {
        int commCurrency;
        double fx;
        double expected;
    } cases[] = {{0, 1.0, 1.01}, {0, 0.5, 0.50}, {1, 0.5, 1.01}};
    for (auto &c : cases) {
        gScriptSettings.CommCurrency = c.commCurrency;
        PositionRecord p{};
        p.entryFx = p.exitFx = c.fx;
        ApplyCommission(&ctx, &p, 1);
        ApplyCommission(&ctx, &p, 0);
        EXPECT_DOUBLE_EQ(c.expected, p.entryCommission);
        EXPECT_DOUBLE_EQ(c.expected, p.exitCommission);
    }
    /* Without a formula a trade-list position keeps its own commission. */
    FreeFormulaNodes(&strategies[0].slots[SLOT_COMMISSION]);
    PositionRecord listed{};
    listed.tradeListRow = 3;
    listed.entryCommission = 7.5;
    ApplyCommission(&ctx, &listed, 1);
    EXPECT_DOUBLE_EQ(7.5, listed.entryCommission);
}

TEST_F(PassTest, SlippageFollowsTheFillAndMovesThePriceAgainstThePosition)
{
    LoadMarket({{"AAA", {{20240102, 10, 11, 9, 10}, {20240103, 10, 11, 9, 10}}}});
    AddStrategy("S");
    SetFormula(0, SLOT_SLIPPAGE, "0.01");
    SetFormula(0, SLOT_OPEN_SLIP, "0.02");
    SetFormula(0, SLOT_STOP_SLIP, "0.04");
    StartTest();
    ctx.strategy = &strategies[0];
    ctx.strategyIndex = 0;
    ctx.symbol = &gStore.symbols[0];
    ctx.barIndex = 0;
    struct {
        const char *name;
        int isEntry, side, fillKind, timing, exitReason;
        double price, expected, slippage;
    } cases[] = {
        {"market at the open", 1, 1, FILL_MARKET, PHASE_OPEN, 0, 10, 10.02, 2},
        {"market at the close: no CloseSlip, so Slippage", 1, 1, FILL_MARKET, PHASE_CLOSE, 0, 10, 10.01, 1},
        {"short stop entry", 1, -1, FILL_STOP, PHASE_INTRADAY, 0, 10, 9.96, 4},
        {"limit entry: no LimitSlip, so Slippage", 1, 1, FILL_LIMIT, PHASE_INTRADAY, 0, 10, 10.01, 1},
        {"long stop exit intraday", 0, 1, 0, PHASE_INTRADAY, EXIT_STOP, 10, 9.96, 4},
        {"long stop exit at the open: Slippage", 0, 1, 0, PHASE_OPEN, EXIT_STOP, 10, 9.99, 1},
        {"short exit rule at the open", 0, -1, 0, PHASE_OPEN, EXIT_RULE, 10, 10.02, 2},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        PositionRecord p{};
        p.symbol = &gStore.symbols[0];
        p.side = c.side;
        p.quantity = 100;
        p.entryFx = p.exitFx = 1.0;
        p.fillKind = c.fillKind;
        p.entryTiming = p.exitTiming = c.timing;
        p.exitReason = (uint32_t)c.exitReason;
        p.entryPrice = p.exitPrice = c.price;
        ApplySlippage(&ctx, &p, c.isEntry);
        EXPECT_NEAR(c.expected, c.isEntry ? p.entryPrice : p.exitPrice, 1e-12);
        EXPECT_NEAR(c.slippage, c.isEntry ? p.entrySlippage : p.exitSlippage, 1e-9);
        EXPECT_DOUBLE_EQ(0.01, c.isEntry ? p.entryRounding : p.exitRounding);
    }
    /* A unit off the day's grid: 10.97 and its slippage of 0.01 round to
    ** 11.1, past the high of 11 by more than the slippage: the fill is the
    ** high and that slippage, 11.01. */
    SetFormula(0, SLOT_PRICE_ROUND, "0.3");
    ctx.barSize = BAR_DAILY;
    const struct {
        int side;
        double price, expected;
    } rounded[] = {{1, 10.97, 11.01}, {1, 10.8, 10.8}, {-1, 10.0, 9.9}};
    for (auto &c : rounded) {
        PositionRecord p{};
        p.symbol = &gStore.symbols[0];
        p.side = c.side;
        p.quantity = 100;
        p.entryFx = 1.0;
        p.fillKind = FILL_MARKET;
        p.entryTiming = PHASE_CLOSE;
        p.entryDate = 20240102;
        p.entryPrice = c.price;
        ApplySlippage(&ctx, &p, 1);
        EXPECT_NEAR(c.expected, p.entryPrice, 1e-12) << c.price;
    }
}

TEST_F(PassTest, ClosedPositionsAreRemovedInOrder)
{
    LoadMarket({{"AAA", {{20240102, 10, 11, 9, 10}}}});
    StrategyRecord &s = AddStrategy("S");
    ASSERT_TRUE(AllocMemory(&s.openPositions, 5 * sizeof(PositionRecord)));
    s.openCapacity = 5;
    s.openCount = 5;
    const int32_t bars[] = {3, -1, 4, -1, 5};
    for (int k = 0; k < 5; k++) {
        s.openPositions[k] = PositionRecord{};
        s.openPositions[k].entryBar = bars[k];
    }
    s.openPositions[2].partialExits = (uint32_t)-2;
    RemoveClosedPositions(0);
    ASSERT_EQ(3, s.openCount);
    EXPECT_EQ(3, s.openPositions[0].entryBar);
    EXPECT_EQ(4, s.openPositions[1].entryBar);
    EXPECT_EQ(5, s.openPositions[2].entryBar);
    EXPECT_EQ(2u, s.openPositions[1].partialExits);
    FreeMemory(&s.openPositions);
}

} // namespace
