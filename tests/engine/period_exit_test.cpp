/* Positions of weekly, monthly and quarterly strategies: what a test that
** ends inside their period, a stop inside it, and the dividends of the
** period do to their trades and to the daily equity. */
#include <cstring>

#include "engine/fills.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "support/test_support.h"
#include "services/services.h"

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
    EXPECT_NE(test->trades[0].strategy, test->trades[1].strategy);
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
        /* Bars held count to the period of the last date, as when the data
        ** end there: 13 November to the week of 11 March is 17 weeks, January
        ** to March 2 months. */
        EXPECT_EQ(strcmp(test->strategies[t.strategy].name, "Week") == 0 ? 17 : 2, t.bars);
    }
}

/* A weekly position bought in the week of 4 March, at its close or by a stop
** at 10.5 on the 6th, is held into a test that ends on Wednesday 13 March.
** AAA trades at 10 but for a low of 7 on Monday 11 March and a close of 11
** on the 13th: the position saw the 7 before it left, and its adverse
** excursion counts it whatever days the data hold after the 13th. */
TEST_F(EngineTest, AnEndOfTestExitInsideAPeriodCountsThatPeriodsLows)
{
    std::vector<int32_t> d = Weekdays(20231101, 20240329);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        if (day == 20240306)
            bars.push_back(DayBar{day, 10, 10.6, 10, 10});
        else if (day == 20240311)
            bars.push_back(DayBar{day, 10, 10, 7, 10});
        else if (day >= 20240313)
            bars.push_back(DayBar{day, 10, 11, 10, 11});
        else
            bars.push_back(DayBar{day, 10, 10, 10, 10});
    }
    const struct {
        const char *entry;
        double priceIn;
    } cases[] = {{"  EntrySetup: BarDate = 20240308\n  EntryTime: ThisClose\n", 10},
                 {"  EntrySetup: BarDate = 20240301\n  EntryStop: C + 0.5\n", 10.5}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry);
        LoadStore(d, {{"AAA", bars}});
        ASSERT_EQ(0, Run(std::string("Settings:\n  EndDate: 2024-03-13\nStrategy: Week\n  BarSize: Weekly\n") + c.entry +
                         "  Quantity: 100\n  QtyType: Shares\n"))
            << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ(1, test->tradeCount);
        const TradeRecord &t = test->trades[0];
        EXPECT_EQ(EXIT_END_OF_TEST, t.reason);
        EXPECT_DOUBLE_EQ(c.priceIn, t.priceIn);
        EXPECT_DOUBLE_EQ(11, t.priceOut);
        EXPECT_DOUBLE_EQ(7, t.lowest);
        EXPECT_DOUBLE_EQ(11, t.highest);
    }
}

/* A monthly strategy buys 100 AAA at the open of February 1 at 10; AAA
** splits 2 for 1 on February 15 and trades at 5 from then on.  The 100
** shares are bought whatever comes later in the month: a test that ends on
** February 9 holds them at 10, and one that runs on holds the 200 they
** became at 5. */
TEST_F(EngineTest, ALongerBarSizesMarketEntryIsSizedOnItsFillDay)
{
    std::vector<int32_t> d = Weekdays(20231101, 20240329);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        double c = day < 20240215 ? 10 : 5;
        bars.push_back(DayBar{day, c, c, c, c, 1000, day < 20240215 ? 2.0 : 1.0});
    }
    const struct {
        const char *endDate;
        int32_t dateOut;
        double quantityOut, priceOut;
    } cases[] = {{"2024-02-09", 20240209, 100, 10}, {"2024-03-29", 20240329, 200, 5}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.endDate);
        LoadStore(d, {{"AAA", bars}});
        ASSERT_EQ(0, Run(std::string("Settings:\n  EndDate: ") + c.endDate +
                         "\nStrategy: Month\n  BarSize: Monthly\n  EntrySetup: BarDate >= 20240101\n  Quantity: 100\n"
                         "  QtyType: Shares\n"))
            << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ(1, test->tradeCount);
        const TradeRecord &t = test->trades[0];
        EXPECT_EQ(20240201, t.dateIn);
        EXPECT_DOUBLE_EQ(100, t.quantityIn);
        EXPECT_DOUBLE_EQ(10, t.priceIn);
        EXPECT_EQ(c.dateOut, t.dateOut);
        EXPECT_DOUBLE_EQ(c.quantityOut, t.quantityOut);
        EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
        EXPECT_NEAR(0, TradeNetProfit(&t), 1e-9);
    }
}

/* A strategy that leaves its Side to the quantity (the default) sizes its
** market entry at the open on what is known then: the last close (or, with
** QtyPrice FillPrice, the open it fills at), never the close of the day or
** period it enters in.  AAA closes at 20 up to Friday February 2, opens at 25
** and closes at 40 on Monday February 5, trades at 50 to the end of
** February, then opens March at 60 and closes it at 70 and then 80.  A 10%
** position of the 100,000 account is 10,000 / 20 = 500 shares for an entry
** on February 5, 10,000 / 25 = 400 at its fill price, and 10,000 / 50 = 200
** (10,000 / 60 = 166 at the fill price) on March 1; the same whatever the
** test's last date, and the same as the orders written the day before.  An
** entry at the next close fills at the close of the next period's first
** day, 40 on February 5 (250 shares) and 70 on March 1 (142), and is sized
** on it: the same on data that end that day and on longer data with that
** EndDate. */
TEST_F(OrdersTest, ASetupWithoutASideIsSizedOnWhatIsKnownAtTheOpen)
{
    std::vector<int32_t> d = Weekdays(20231101, 20240329);
    auto upTo = [&](int32_t last) {
        std::vector<int32_t> days;
        std::vector<DayBar> bars;
        for (int32_t day : d) {
            if (day > last) break;
            days.push_back(day);
            if (day < 20240205)
                bars.push_back(DayBar{day, 20, 20, 20, 20});
            else if (day == 20240205)
                bars.push_back(DayBar{day, 25, 40, 25, 40});
            else if (day < 20240301)
                bars.push_back(DayBar{day, 50, 50, 50, 50});
            else if (day == 20240301)
                bars.push_back(DayBar{day, 60, 70, 60, 70});
            else
                bars.push_back(DayBar{day, 80, 80, 80, 80});
        }
        LoadStore(days, {{"AAA", bars}});
    };
    const struct {
        const char *barSize, *signal, *qtyPrice;
        int32_t fillDay, endDate, orderDay;
        double quantity;
        const char *entryTime = "NextOpen";
        int32_t dataTo = 0; /* the data go on to this day, the test ends at endDate */
    } cases[] = {
        {"Daily", "20240202", "OrderPrice", 20240205, 20240329, 20240202, 500},
        {"Daily", "20240202", "FillPrice", 20240205, 20240329, 0, 400},
        {"Weekly", "20240202", "OrderPrice", 20240205, 20240329, 20240202, 500},
        {"Weekly", "20240202", "OrderPrice", 20240205, 20240205, 0, 500},
        {"Monthly", "20240229", "OrderPrice", 20240301, 20240329, 20240229, 200},
        {"Monthly", "20240229", "OrderPrice", 20240301, 20240301, 0, 200},
        {"Monthly", "20240229", "FillPrice", 20240301, 20240329, 0, 166},
        {"Daily", "20240202", "FillPrice", 20240205, 20240205, 0, 250, "NextClose"},
        {"Daily", "20240202", "FillPrice", 20240205, 20240205, 0, 250, "NextClose", 20240329},
        {"Daily", "20240202", "OrderPrice", 20240205, 20240329, 0, 250, "NextClose"},
        {"Weekly", "20240202", "FillPrice", 20240205, 20240205, 0, 250, "NextClose"},
        {"Weekly", "20240202", "FillPrice", 20240205, 20240205, 0, 250, "NextClose", 20240329},
        {"Weekly", "20240202", "OrderPrice", 20240205, 20240329, 0, 250, "NextClose"},
        {"Monthly", "20240229", "FillPrice", 20240301, 20240301, 0, 142, "NextClose"},
        {"Monthly", "20240229", "OrderPrice", 20240301, 20240301, 0, 142, "NextClose", 20240329},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.barSize) + " " + c.entryTime + " " + c.qtyPrice + " to " + std::to_string(c.endDate) +
                     " of " + std::to_string(c.dataTo));
        char endDate[40] = "";
        if (c.dataTo)
            snprintf(endDate, sizeof endDate, "  EndDate: %d-%02d-%02d\n", (int)c.endDate / 10000, (int)c.endDate / 100 % 100,
                     (int)c.endDate % 100);
        const std::string script = std::string("Settings:\n  OrdersMode: Text\n") + endDate + "Strategy: S1\n  BarSize: " +
            c.barSize + "\n  EntryTime: " + c.entryTime + "\n  EntrySetup: BarDate = " + c.signal +
            "\n  Quantity: 10\n  QtyType: Percent\n  QtyPrice: " + c.qtyPrice + "\n";
        upTo(c.dataTo ? c.dataTo : c.endDate);
        ASSERT_EQ(0, Run(script)) << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ(1, test->tradeCount);
        EXPECT_EQ(c.fillDay, test->trades[0].dateIn);
        EXPECT_DOUBLE_EQ(c.quantity, test->trades[0].quantityIn);
        if (!c.orderDay) continue;
        upTo(c.orderDay);
        ASSERT_EQ(0, Run(script, 5)) << LastMessage();
        char file[64];
        snprintf(file, sizeof file, "main_%d_orders.txt", (int)c.fillDay);
        const std::string orders = OrdersFile(file);
        EXPECT_NE(std::string::npos, orders.find("    buy " + std::to_string((int)c.quantity) + " (")) << orders;
    }
}

/* A long entry at the next close of a weekly or monthly strategy fills at
** the close of the period's first day and is judged there: AAA closes at 40
** on Monday February 5 (the week closes at 50) and at 70 on Friday March 1
** (the month at 80).  A limit at 45 (75) is met by that close, a stop at 45
** (75) is not; a 10% entry of the 100,000 account is 10,000 / 40 = 250
** (10,000 / 70 = 142) shares. */
TEST_F(EngineTest, ANextCloseEntryOfALongerBarSizeIsJudgedOnItsFirstDaysClose)
{
    std::vector<int32_t> d = Weekdays(20231101, 20240329);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        if (day < 20240205)
            bars.push_back(DayBar{day, 20, 20, 20, 20});
        else if (day == 20240205)
            bars.push_back(DayBar{day, 25, 40, 25, 40});
        else if (day < 20240301)
            bars.push_back(DayBar{day, 50, 50, 50, 50});
        else if (day == 20240301)
            bars.push_back(DayBar{day, 60, 70, 60, 70});
        else
            bars.push_back(DayBar{day, 80, 80, 80, 80});
    }
    const struct {
        const char *barSize, *signal, *entry;
        int32_t dateIn;
        double priceIn, quantity;
    } cases[] = {
        {"Weekly", "20240202", "  Quantity: 100\n  QtyType: Shares\n", 20240205, 40, 100},
        {"Weekly", "20240202", "  Quantity: 10\n  QtyType: Percent\n", 20240205, 40, 250},
        {"Weekly", "20240202", "  EntryLimit: 45\n  Quantity: 100\n  QtyType: Shares\n", 20240205, 40, 100},
        {"Weekly", "20240202", "  EntryStop: 45\n  Quantity: 100\n  QtyType: Shares\n", 0, 0, 0},
        {"Monthly", "20240229", "  Quantity: 10\n  QtyType: Percent\n", 20240301, 70, 142},
        {"Monthly", "20240229", "  EntryLimit: 75\n  Quantity: 100\n  QtyType: Shares\n", 20240301, 70, 100},
        {"Monthly", "20240229", "  EntryStop: 75\n  Quantity: 100\n  QtyType: Shares\n", 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.barSize) + " " + c.entry);
        LoadStore(d, {{"AAA", bars}});
        ASSERT_EQ(0, Run(std::string("Strategy: S1\n  BarSize: ") + c.barSize + "\n  Side: Long\n  EntryTime: NextClose\n"
                         "  EntrySetup: BarDate = " + c.signal + "\n" + c.entry))
            << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ(c.dateIn ? 1 : 0, test->tradeCount);
        if (!c.dateIn) continue;
        EXPECT_EQ(c.dateIn, test->trades[0].dateIn);
        EXPECT_EQ(PHASE_CLOSE, test->trades[0].timeIn);
        EXPECT_DOUBLE_EQ(c.priceIn, test->trades[0].priceIn);
        EXPECT_DOUBLE_EQ(c.quantity, test->trades[0].quantityIn);
    }
}

/* A quarterly strategy buys 100 AAA at 10 at the open of a quarter (the
** first day of 2001 in a daily run) with a stop at 9.  AAA falls to a low
** of 8 on January 17 (the stop fills at 9) and stays at 8.5.  Dividends go ex on January 10 (0.20, held) and on
** March 14 (0.50, after the stop).  The trade is worth
** 100 × (9 − 10) + 100 × 0.20 = −80, in a daily and in a quarterly run. */
struct QuarterlyStop : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        std::vector<int32_t> d = Weekdays(20000703, 20010629);
        std::vector<DayBar> bars;
        for (int32_t day : d) {
            if (day < 20010117) bars.push_back(DayBar{day, 10, 10, 10, 10});
            else if (day == 20010117) bars.push_back(DayBar{day, 10, 10, 8, 8.5});
            else bars.push_back(DayBar{day, 8.5, 8.5, 8.5, 8.5});
        }
        LoadStore(d, {{"AAA", bars}});
        const EventItem events[] = {{20010110, 0, EVENT_DIVIDEND, 0, 0.2}, {20010314, 0, EVENT_DIVIDEND, 0, 0.5}};
        SymbolRecord *aaa = &gStore.symbols[0];
        ASSERT_TRUE(AllocMemory(&aaa->events, sizeof events));
        memcpy(aaa->events, events, sizeof events);
        aaa->eventCount = 2;
    }
    int RunQuarterly(const char *settings)
    {
        return Run(std::string(settings) + "Strategy: Q\n  BarSize: Quarterly\n  EntrySetup: C >= 10\n  Quantity: 100\n"
                                           "  QtyType: Shares\n  ExitStop: 9\n  Compounded: False\n");
    }
    void ExpectTheStoppedTrade(int32_t dateIn)
    {
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ(1, test->tradeCount);
        const TradeRecord &t = test->trades[0];
        EXPECT_EQ(dateIn, t.dateIn);
        EXPECT_DOUBLE_EQ(10, t.priceIn);
        EXPECT_EQ(EXIT_STOP, t.reason);
        EXPECT_EQ(20010117, t.dateOut);
        EXPECT_DOUBLE_EQ(9, t.priceOut);
        EXPECT_NEAR(20, t.dividends, 1e-9);
        EXPECT_NEAR(-80, TradeNetProfit(&t), 1e-9);
    }
};

/* In a daily run the position is valued and counted as invested up to the
** day its stop fills and not after: from January 17 the equity is the
** 99,920 it left with, and the March dividend is none of its business.
** The trace dates the exit by its fill. */
TEST_F(QuarterlyStop, ADailyRunLetsTheStoppedPositionGoOnItsFillDate)
{
    gSettings.AddLog = 1;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    ASSERT_EQ(0, RunQuarterly("")) << LastMessage();
    ExpectTheStoppedTrade(20010101);
    const TestRecord *test = LastTest();
    const struct {
        int32_t date;
        int32_t positions;
        double invested, markToMarket, equity, dividends;
    } days[] = {
        {20010109, 1, 1000, 0, 100000, 0},
        {20010110, 1, 1000, 20, 100020, 20}, /* the dividend credited on its ex-date */
        {20010116, 1, 1000, 20, 100020, 0},
        {20010117, 0, 0, 0, 99920, 0},       /* stopped at 9 */
        {20010118, 0, 0, 0, 99920, 0},
        {20010314, 0, 0, 0, 99920, 0},
        {20010330, 0, 0, 0, 99920, 0},
    };
    for (const auto &day : days) {
        const StatCell *cell = nullptr;
        for (int32_t r = 0; r < test->rowsFilled && !cell; r++)
            if ((int32_t)Cell(test, r, 0)->date == day.date) cell = Cell(test, r, 0);
        ASSERT_NE(nullptr, cell) << day.date;
        EXPECT_EQ(day.positions, cell->positions) << day.date;
        EXPECT_NEAR(day.invested, cell->invested, 1e-9) << day.date;
        EXPECT_NEAR(day.markToMarket, cell->markToMarket, 1e-9) << day.date;
        EXPECT_NEAR(day.equity, cell->equityBase + cell->markToMarket, 1e-9) << day.date;
        EXPECT_NEAR(day.dividends, cell->dividends, 1e-9) << day.date;
    }
    std::string log = ReadTestFile(gLogsFolder + std::string("\\TEST_0001.TXT"));
    EXPECT_NE(std::string::npos, log.find("\n2001-01-17\tintraday\tQ\t\tAAA\tsell\t100\t9\t")) << log;
}

/* A quarterly run values its positions once a quarter; the stopped position
** is still credited the January dividend it held over, and not the March one. */
TEST_F(QuarterlyStop, AQuarterlyRunCreditsTheDividendsHeldUpToTheStop)
{
    ASSERT_EQ(0, RunQuarterly("Settings:\n  BarSize: Quarterly\n")) << LastMessage();
    ExpectTheStoppedTrade(20001002); /* the quarterly run's first quarter is a bar of its own */
}

} // namespace

/* A weekly strategy holds 100 AAA from 10 with a target at 11 and a stop
** at 9, and a daily run makes the trades of a weekly one, holding the
** position until its fill:
** - in the week of February 5 the stop is touched on Tuesday (low 8.5) and
**   the target on Thursday (high 11.5); the week opens at 10 and closes at
**   9.8, against the position, so the week's bar went the position's way
**   first: the target fills, on Thursday at 11 (the days after it stay
**   at 9.8);
** - a week whose Tuesday opens at 11.2, over the target: it fills at that
**   open, the gap the position's gain. */
TEST_F(EngineTest, ALongerBarSizesTargetAndStopFillAsItsPeriodsBarSays)
{
    std::vector<int32_t> d = Weekdays(20240101, 20240329);
    struct Day {
        int32_t date;
        double open, high, low, close;
    };
    const struct {
        const char *name;
        std::vector<Day> week;
        uint32_t reason;
        int32_t dateOut;
        double priceOut;
    } cases[] = {
        {"both touched", {{20240206, 10, 10, 8.5, 9.5}, {20240207, 9.5, 9.5, 9.5, 9.5}, {20240208, 9.5, 11.5, 9.5, 10.5}},
         EXIT_LIMIT, 20240208, 11},
        {"gap over the target", {{20240206, 11.2, 11.3, 11.1, 11.2}}, EXIT_LIMIT, 20240206, 11.2},
    };
    for (const auto &c : cases) {
        std::vector<DayBar> bars;
        for (int32_t day : d) {
            double price = day < 20240206 ? 10 : 9.8;
            DayBar bar{day, price, price, price, price};
            for (const Day &w : c.week)
                if (w.date == day) bar = DayBar{day, w.open, w.high, w.low, w.close};
            bars.push_back(bar);
        }
        for (const char *settings : {"", "Settings:\n  BarSize: Weekly\n"}) {
            SCOPED_TRACE(std::string(c.name) + " " + settings);
            LoadStore(d, {{"AAA", bars}});
            ASSERT_EQ(0, Run(std::string(settings) + "Strategy: W\n  BarSize: Weekly\n  EntrySetup: C >= 10\n"
                                                     "  Quantity: 100\n  QtyType: Shares\n  ExitLimit: 11\n  ExitStop: 9\n"))
                << LastMessage();
            const TestRecord *test = LastTest();
            ASSERT_NE(nullptr, test);
            ASSERT_EQ(1, test->tradeCount);
            const TradeRecord &t = test->trades[0];
            EXPECT_DOUBLE_EQ(10, t.priceIn);
            EXPECT_EQ(c.reason, t.reason);
            EXPECT_EQ(c.dateOut, t.dateOut);
            EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
        }
    }
}

namespace {

/* A weekly strategy holds 100 AAA bought at 10; its target of 11 is touched
** on Tuesday 6 February (high 11.5) and sells 50 there.  The 50 left wait
** for the next week's bar, as in a weekly run: no later day of the week
** sells them at the target already taken, and prices stay at 10 to the end
** of the test, where they leave at the close. */
TEST_F(EngineTest, WhatAPartialTargetLeavesWaitsForTheNextPeriod)
{
    std::vector<int32_t> d = Weekdays(20240101, 20240329);
    std::vector<DayBar> bars;
    for (int32_t day : d) bars.push_back(DayBar{day, 10, day == 20240206 ? 11.5 : 10, 10, 10});
    for (const char *settings : {"", "Settings:\n  BarSize: Weekly\n"}) {
        SCOPED_TRACE(settings);
        LoadStore(d, {{"AAA", bars}});
        ASSERT_EQ(0, Run(std::string(settings) + "Strategy: W\n  BarSize: Weekly\n  EntrySetup: C >= 10\n"
                                                 "  Quantity: 100\n  QtyType: Shares\n  ExitLimit: 11\n  ExitLimitQty: 50\n"))
            << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ(2, test->tradeCount);
        const struct {
            uint32_t reason;
            int32_t dateOut;
            double priceOut;
        } parts[] = {{EXIT_LIMIT, 20240206, 11}, {EXIT_END_OF_TEST, 20240329, 10}};
        for (int k = 0; k < 2; k++) {
            const TradeRecord &t = test->trades[k];
            EXPECT_DOUBLE_EQ(50, t.quantityOut) << k;
            EXPECT_EQ(parts[k].reason, t.reason) << k;
            EXPECT_EQ(parts[k].dateOut, t.dateOut) << k;
            EXPECT_DOUBLE_EQ(parts[k].priceOut, t.priceOut) << k;
        }
    }
}

} // namespace
