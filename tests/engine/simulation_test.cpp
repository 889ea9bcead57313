#include <cstring>

#include "engine/entry_pass.h"
#include "engine/exit_pass.h"
#include "engine_fixture.h"
#include "foundation/settings_table.h"

namespace {

/* Six days of one symbol; the bars that close up signal an entry at the
** next open, a bar that closes down an exit at the next open. */
const std::vector<DayBar> kSixDays = {
    {20240102, 10.0, 11.0, 9.5, 10.5},   /* up: entry at the next open */
    {20240103, 10.5, 12.0, 10.0, 11.5},  /* entered at 10.5 */
    {20240104, 11.6, 12.5, 11.0, 12.0},
    {20240105, 12.0, 13.0, 11.8, 12.8},  /* highest 13 */
    {20240108, 12.5, 12.6, 11.0, 11.2},  /* down: exit at the next open */
    {20240109, 11.0, 11.5, 10.5, 11.4},  /* exited at 11 */
};

TEST_F(EngineTest, OneSymbolEntersAtTheOpenAfterASignalAndExitsByItsRule)
{
    LoadMarket({{"AAA", kSixDays}});
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
    EXPECT_DOUBLE_EQ(50, TradeNetProfit(&t));
    /* The later signals found the symbol held (one position per symbol). */
    const StatCell *last = Cell(5, 0);
    EXPECT_DOUBLE_EQ(100050, last->equityBase);
    EXPECT_EQ(0, last->positions);
    EXPECT_DOUBLE_EQ(0, last->invested);
    EXPECT_EQ(1, test.closedTradeCount);
    /* While open on the fourth date the position is valued at the close. */
    EXPECT_DOUBLE_EQ(230, Cell(3, 0)->markToMarket);
}

}  // namespace
