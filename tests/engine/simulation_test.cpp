#include <cstring>

#include "engine/entry_pass.h"
#include "engine/exit_pass.h"
#include "pass_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"

namespace {

/* Six days of one symbol; the bars that close up signal an entry at the
** next open, a bar that closes down an exit at the next open. */
/* clang-format off */
const std::vector<DayBar> kSixDays = {
    {20240102, 10.0, 11.0, 9.5, 10.5},   /* up: entry at the next open */
    {20240103, 10.5, 12.0, 10.0, 11.5},  /* entered at 10.5 */
    {20240104, 11.6, 12.5, 11.0, 12.0},
    {20240105, 12.0, 13.0, 11.8, 12.8},  /* highest 13 */
    {20240108, 12.5, 12.6, 11.0, 11.2},  /* down: exit at the next open */
    {20240109, 11.0, 11.5, 10.5, 11.4},  /* exited at 11 */
};
/* clang-format on */

TEST_F(PassTest, OneSymbolEntersAtTheOpenAfterASignalAndExitsByItsRule)
{
    LoadMarket({{"AAA", kSixDays}});
    /* A dividend on the entry date belongs to the seller; the one two days
    ** later is credited: 0.5 × 100. */
    EventItem events[2] = {{20240103, 0, EVENT_DIVIDEND, 0, 0.3}, {20240105, 0, EVENT_DIVIDEND, 0, 0.5}};
    ASSERT_TRUE(AllocMemory(&gStore.symbols[0].events, sizeof events));
    memcpy(gStore.symbols[0].events, events, sizeof events);
    gStore.symbols[0].eventCount = 2;
    AddStrategy("Trend");
    SetFormula(0, SLOT_ENTRY_SETUP, "C > O");
    SetFormula(0, SLOT_QUANTITY, "100");
    SetFormula(0, SLOT_EXIT_RULE, "C < O");
    StartTest();
    RunAll();

    ASSERT_EQ(1, test.tradeCount);
    const TradeRecord &t = test.trades[0];
    EXPECT_EQ(20240103, t.dateIn);
    EXPECT_EQ(PHASE_OPEN, t.timeIn);
    EXPECT_DOUBLE_EQ(10.5, t.priceIn);
    EXPECT_DOUBLE_EQ(100, t.quantityIn);
    EXPECT_EQ(20240109, t.dateOut);
    EXPECT_EQ(PHASE_OPEN, t.timeOut);
    EXPECT_DOUBLE_EQ(11, t.priceOut);
    EXPECT_EQ(4, t.bars);
    EXPECT_EQ(EXIT_RULE, t.reason);
    EXPECT_DOUBLE_EQ(13, t.highest);
    EXPECT_DOUBLE_EQ(10, t.lowest);
    EXPECT_DOUBLE_EQ(50, t.dividends);
    EXPECT_DOUBLE_EQ(100, TradeNetProfit(&t));
    /* The later signals found the symbol held (one position per symbol). */
    const StatCell *last = Cell(5, 0);
    EXPECT_DOUBLE_EQ(100100, last->equityBase);
    EXPECT_EQ(0, last->positions);
    EXPECT_DOUBLE_EQ(0, last->invested);
    EXPECT_EQ(1, test.closedTradeCount);
    /* While open on the fourth date the position is valued at the close,
    ** with the dividend credited that day. */
    EXPECT_DOUBLE_EQ(280, Cell(3, 0)->markToMarket);
    EXPECT_DOUBLE_EQ(50, Cell(3, 0)->dividends);
    FreeMemory(&gStore.symbols[0].events);
}

TEST_F(PassTest, AShortEnteredOnTheLastDateLeavesAtTheEndOfTheTest)
{
    LoadMarket({{"AAA", kSixDays}});
    AddStrategy("Fade").Side = -1;
    SetFormula(0, SLOT_ENTRY_SETUP, "C < O");
    SetFormula(0, SLOT_QUANTITY, "100");
    StartTest();
    RunAll();
    const StatCell *cell = Cell(5, 0);
    EXPECT_EQ(1, cell->shortPositions);
    EXPECT_DOUBLE_EQ(1100, cell->shortInvested);
    EXPECT_NEAR(-40, cell->markToMarket, 1e-9); /* sold at 11, 11.4 at the close */
    EXPECT_NEAR(-40, cell->shortMarkToMarket, 1e-9);
    ctx.barPhase = PHASE_CLOSE;
    EXPECT_EQ(1, RunExitPass(&ctx, EXIT_END_OF_TEST));
    ASSERT_EQ(1, test.tradeCount);
    const TradeRecord &t = test.trades[0];
    EXPECT_EQ(-1, t.side);
    EXPECT_EQ(20240109, t.dateIn);
    EXPECT_DOUBLE_EQ(11, t.priceIn);
    EXPECT_EQ(EXIT_END_OF_TEST, t.reason);
    EXPECT_EQ(PHASE_CLOSE, t.timeOut);
    EXPECT_DOUBLE_EQ(11.4, t.priceOut);
    EXPECT_NEAR(-40, TradeNetProfit(&t), 1e-9);
    EXPECT_EQ(0, cell->shortPositions);
    EXPECT_DOUBLE_EQ(0, cell->shortInvested);
    EXPECT_NEAR(99960, cell->equityBase, 1e-9);
}

} // namespace
