/* The running equity figures of a strategy (lowest equity, bars in the
** current and the longest drawdown) through a whole run, and the dead-bar
** rule at a symbol's first traded date; every figure worked out by hand. */
#include <gtest/gtest.h>

#include <cstring>

#include "engine/fills.h"
#include "engine_fixture.h"
#include "script/eval/eval_context.h"

namespace {

struct EquityStats : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        /* Up on Jan 2 only (close above open); every later bar opens at or
        ** above its close, so the one position bought at the open of Jan 3
        ** (10.00) is the only trade. */
        const std::vector<int32_t> d = {20240102, 20240103, 20240104, 20240105, 20240108, 20240109, 20240110, 20240111};
        LoadStore(d, {{"AAA",
                       {{20240102, 10, 10.5, 10, 10.5},
                        {20240103, 10, 10, 9, 9},
                        {20240104, 9, 9, 8, 8},
                        {20240105, 11.5, 11.5, 11, 11},
                        {20240108, 11, 11, 10.5, 10.5},
                        {20240109, 12.5, 12.5, 12, 12},
                        {20240110, 11.5, 11.5, 11, 11},
                        {20240111, 11, 11, 11, 11}}}});
    }
};

/* 100 shares bought at 10.00 with no costs: equity = 100,000 + 100 x (close
** - 10) from Jan 3.  A new high (Jan 5, Jan 9) ends the drawdown and its bar
** count; the longest drawdown (Jan 3, Jan 4) stays the longest. */
TEST_F(EquityStats, LowestEquityAndDrawdownBarsFollowTheEquityCurve)
{
    ASSERT_EQ(0, Run("Data:\n  Up: C > O\nStrategy: Hold\n  EntrySetup: Up\n  Quantity: 100\n  ExitRule: C < 0\n"
                     "  Compounded: False\n"));
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_GE(test->rowCount, 7);
    const struct {
        double equity, minEquity;
        int drawdownBars, maxDrawdownBars;
    } rows[] = {
        {100000, 100000, 0, 0}, /* Jan 2: nothing held */
        {99900, 99900, 1, 1},   /* Jan 3: close 9 */
        {99800, 99800, 2, 2},   /* Jan 4: close 8, the lowest */
        {100100, 99800, 0, 2},  /* Jan 5: close 11, a new high */
        {100050, 99800, 1, 2},  /* Jan 8: close 10.5 */
        {100200, 99800, 0, 2},  /* Jan 9: close 12, a new high */
        {100100, 99800, 1, 2},  /* Jan 10: close 11 */
    };
    for (int r = 0; r < 7; r++) {
        SCOPED_TRACE(r);
        const StatCell *c = Cell(test, r, 0);
        EXPECT_NEAR(rows[r].equity, c->equityBase + c->markToMarket, 1e-9);
        EXPECT_NEAR(rows[r].minEquity, c->minEquity, 1e-9);
        EXPECT_EQ(rows[r].drawdownBars, c->drawdownBars);
        EXPECT_EQ(rows[r].maxDrawdownBars, c->maxDrawdownBars);
    }
}

/* A bar without volume whose prices are all one is dead only after the
** symbol's first traded date: on that date it is the symbol's first bar. */
TEST(DeadBars, ABarAtTheFirstTradedDateIsNotDead)
{
    SymbolRecord symbol;
    memset((void *)&symbol, 0, sizeof symbol);
    symbol.firstUsedDate = 20240103;
    EvalContext context;
    memset((void *)&context, 0, sizeof context);
    context.symbol = &symbol;
    Bar bar;
    memset((void *)&bar, 0, sizeof bar);
    bar.open = bar.high = bar.low = bar.close = 10;
    const struct {
        int32_t date;
        int dead;
    } cases[] = {{20240102, 0}, {20240103, 0}, {20240104, 1}};
    for (const auto &c : cases) {
        bar.date = c.date;
        EXPECT_EQ(c.dead, IsDeadBar(&context, &bar, c.date)) << c.date;
    }
}

} // namespace
