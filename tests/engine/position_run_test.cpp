/* Whole test runs of scripts whose strategies enter and exit, figures worked
** out by hand. */
#include <gtest/gtest.h>

#include <cstring>

#include "engine/exit_pass.h"
#include "engine/positions.h"
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

/* Mon 8 .. Fri 19 January 2024; AAA has no bar on Thursday 11th.  In at
** Tuesday's open of 10.2 with 100 shares, the position is worth its last
** close on the day it misses: 100 * (11.0 - 10.2) = 80, and 100 * (11.5 -
** 10.2) = 130 on Friday. */
TEST_F(EngineTest, AHeldSymbolMissingADayIsValuedAtItsLastClose)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240119);
    std::vector<DayBar> bars;
    const double closes[] = {10.0, 10.5, 11.0, 0, 11.5, 11.2, 11.4, 11.6, 11.8, 12.0};
    for (size_t i = 0; i < d.size(); i++) {
        if (i == 3) continue;
        double open = i == 1 ? 10.2 : closes[i];
        bars.push_back(DayBar{d[i], open, std::max(open, closes[i]), std::min(open, closes[i]), closes[i]});
    }
    LoadStore(d, {{"AAA", bars}});
    ASSERT_EQ(0, Run("Strategy: Hold\n  QtyType: Shares\n  Quantity: 100\n  EntrySetup: C > 0\n"
                     "  ExitRule: BarsHeld >= 20\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    EXPECT_NEAR(80, Cell(test, 3, 0)->markToMarket, 1e-9);
    EXPECT_NEAR(130, Cell(test, 4, 0)->markToMarket, 1e-9);
}

/* Positions held for many days on symbols with missing days, late
** listings, a delisting and a split, left by rules at this close and the
** next, by targets and stops, and at the end of the test: the exit checks
** and valuations that read the day cursors give every trade and every
** statistics cell byte for byte as the lookups on every call do. */
TEST_F(EngineTest, DayCursorsGiveTheTradesAndCellsOfTheLookups)
{
    std::vector<int32_t> market = Weekdays(20230102, 20231229);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    uint32_t state = 77;
    auto next = [&state]() {
        state = state * 1103515245u + 12345u;
        return ((state >> 16) % 2001) / 1000.0 - 1.0;
    };
    for (int k = 0; k < 12; k++) {
        std::vector<DayBar> bars;
        double price = 20.0 + 2.0 * k;
        size_t first = k == 3 ? 60 : 0, last = k == 5 ? 170 : market.size();
        for (size_t i = first; i < last; i++) {
            if (k % 4 == 1 && i % 11 == 6) continue;
            double open = price;
            price = std::max(1.0, price * (1.0 + 0.001 * (k % 3) + 0.015 * next()));
            bars.push_back(DayBar{market[i], open, std::max(open, price) * 1.006, std::min(open, price) * 0.994, price});
            if (k == 7 && i < 120) bars.back().split = 2.0;
        }
        symbols.push_back({"S" + std::to_string(10 + k), bars});
    }
    LoadStore(market, symbols);
    const char *scripts[] = {
        "Strategy: Long\n  EntrySetup: C > O\n  MaxPositions: 8\n  Quantity: 10\n  QtyType: Percent\n"
        "  ExitRule: BarsHeld >= 15 OR C < O * 0.985\n",
        "Strategy: Late\n  EntrySetup: C < O\n  MaxPositions: 6\n  Quantity: 10\n  QtyType: Percent\n"
        "  ExitRule: C > O * 1.01\n  ExitTime: NextClose\n"
        "Strategy: Now\n  EntrySetup: C > O\n  EntryTime: ThisClose\n  MaxPositions: 6\n  Quantity: 5\n"
        "  QtyType: Percent\n  ExitRule: BarsHeld >= 9\n  ExitTime: ThisClose\n",
        "Strategy: Bands\n  EntrySetup: 1\n  MaxPositions: 12\n  Quantity: 8\n  QtyType: Percent\n"
        "  ExitLimit: FillPrice * 1.04\n  ExitStop: FillPrice * 0.97\n",
    };
    for (const char *script : scripts) {
        SCOPED_TRACE(script);
        std::vector<TradeRecord> trades[2];
        std::vector<StatCell> cells[2];
        for (int off = 0; off < 2; off++) {
            gPositionDayCursorsOff = off;
            int code = Run(script);
            gPositionDayCursorsOff = 0;
            ASSERT_EQ(0, code);
            const TestRecord *test = LastTest();
            ASSERT_NE(nullptr, test);
            trades[off].assign(test->trades, test->trades + test->tradeCount);
            cells[off].assign(test->cells, test->cells + (int64_t)test->rowsFilled * test->strategyCount);
        }
        EXPECT_GT(trades[0].size(), 20u);
        ASSERT_EQ(trades[1].size(), trades[0].size());
        for (size_t t = 0; t < trades[0].size(); t++)
            EXPECT_EQ(0, memcmp(&trades[0][t], &trades[1][t], sizeof(TradeRecord))) << "trade " << t;
        ASSERT_EQ(cells[1].size(), cells[0].size());
        for (size_t c = 0; c < cells[0].size(); c++)
            EXPECT_EQ(0, memcmp(&cells[0][c], &cells[1][c], sizeof(StatCell))) << "cell " << c;
    }
}

} // namespace
