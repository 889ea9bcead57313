/* Whole test runs of scripts whose strategies enter and exit, figures worked
** out by hand. */
#include <gtest/gtest.h>

#include "engine/exit_pass.h"
#include "engine/results_file.h"
#include "engine_fixture.h"

namespace {

/* Mon 8 .. Fri 12 January 2024.  Entered at the open after a bar that
** closed up, with a target one point above the fill and a stop one below:
**   Tue: in at 10.4 (target 11.4, stop 9.4);  Wed: high 11.6, out at 11.4;
**   Thu: in at 11.0 (target 12, stop 10), low 10.0, out at 10 the same day. */
TEST_F(EngineTest, TargetsAndStopsOfAScriptedStrategy)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240112);
    LoadStore(d, {{"AAA", {{d[0], 10, 10.6, 9.8, 10.5}, {d[1], 10.4, 10.9, 10.2, 10.8}, {d[2], 10.9, 11.6, 10.7, 11.0}, {d[3], 11.0, 11.2, 10.0, 10.1}, {d[4], 10.1, 10.3, 9.9, 10.2}}}});
    ASSERT_EQ(0, Run("Strategy: S1\n  QtyType: Shares\n  Quantity: 100\n  EntrySetup: C > O\n"
                     "  ExitLimit: FillPrice + 1\n  ExitStop: FillPrice - 1\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(2, test->tradeCount);
    const struct {
        int32_t dateIn;
        double priceIn;
        int32_t dateOut;
        double priceOut;
        int32_t reason;
        double profit;
    } trades[] = {
        {20240109, 10.4, 20240110, 11.4, EXIT_LIMIT, 100},
        {20240111, 11.0, 20240111, 10.0, EXIT_STOP, -100},
    };
    for (int k = 0; k < 2; k++) {
        const TradeRecord &t = test->trades[k];
        EXPECT_EQ(trades[k].dateIn, t.dateIn) << k;
        EXPECT_DOUBLE_EQ(trades[k].priceIn, t.priceIn) << k;
        EXPECT_EQ(trades[k].dateOut, t.dateOut) << k;
        EXPECT_EQ(PHASE_INTRADAY, t.timeOut) << k;
        EXPECT_DOUBLE_EQ(trades[k].priceOut, t.priceOut) << k;
        EXPECT_EQ(trades[k].reason, t.reason) << k;
        EXPECT_NEAR(trades[k].profit, TradeNetProfit(&t), 1e-9) << k;
    }
    EXPECT_EQ(1, Cell(test, 2, 0)->targets);
    EXPECT_EQ(1, Cell(test, 3, 0)->stops);
    EXPECT_NEAR(100000, Cell(test, 4, 0)->equityBase, 1e-9);
    EXPECT_EQ(2, test->closedTradeCount);
}

} // namespace
