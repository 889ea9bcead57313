/* Positions of weekly, monthly and quarterly strategies: what a test that
** ends inside their period, a stop inside it, and the dividends of the
** period do to their trades and to the daily equity. */
#include <cstring>

#include "engine/fills.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"

namespace {

/* The end-of-test exit leaves at the close of the test's last date, a
** Wednesday (12), never at the close of the week or month it falls in (20):
** the days after it are not part of the test. */
TEST_F(EngineTest, TheEndOfTestExitOfALongerBarSizeIsPricedOnTheLastDate)
{
    std::vector<int32_t> d = Weekdays(20231101, 20240329);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        double c = day < 20240313 ? 10 : day == 20240313 ? 12 : 20;
        bars.push_back(DayBar{day, c, day > 20240313 ? 21 : c, c, c});
    }
    LoadStore(d, {{"AAA", bars}});
    ASSERT_EQ(0, Run("Settings:\n  EndDate: 2024-03-13\n"
                     "Strategy: Week\n  BarSize: Weekly\n  EntrySetup: C >= 10\n  Quantity: 100\n  QtyType: Shares\n"
                     "Strategy: Month\n  BarSize: Monthly\n  EntrySetup: C >= 10\n  Quantity: 100\n  QtyType: Shares\n"))
        << LastMessage();
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    EXPECT_EQ(20240313, test->lastDate);
    ASSERT_EQ(2, test->tradeCount);
    for (int32_t k = 0; k < 2; k++) {
        const TradeRecord &t = test->trades[k];
        SCOPED_TRACE(test->strategies[t.strategy].name);
        EXPECT_EQ(EXIT_END_OF_TEST, t.reason);
        EXPECT_EQ(20240313, t.dateOut);
        EXPECT_EQ(PHASE_CLOSE, t.timeOut);
        EXPECT_DOUBLE_EQ(10, t.priceIn);
        EXPECT_DOUBLE_EQ(12, t.priceOut);
        EXPECT_DOUBLE_EQ(12, t.highest);
        EXPECT_NEAR(200, TradeNetProfit(&t), 1e-9);
    }
}

} // namespace
