/* Positions of weekly, monthly and quarterly strategies: what a test that
** ends inside their period, a stop inside it, and the dividends of the
** period do to their trades and to the daily equity. */
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "engine/date_loop.h"
#include "engine/fills.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "marketdata/store/derived_bars.h"
#include "script/builtins/builtins.h"
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
        ** end there.  The data's first week and month (from Wednesday
        ** 1 November) set up as any period does: 6 November to the week of
        ** 11 March is 18 weeks, December to March 3 months. */
        EXPECT_EQ(strcmp(test->strategies[t.strategy].name, "Week") == 0 ? 18 : 3, t.bars);
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
        const TradeRecord *trades = TradesOfRun(1, std::string("Settings:\n  EndDate: 2024-03-13\nStrategy: Week\n  BarSize: Weekly\n") + c.entry + "  Quantity: 100\n  QtyType: Shares\n");
        ASSERT_NE(nullptr, trades);
        const TradeRecord &t = trades[0];
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
        const TradeRecord *trades = TradesOfRun(1, std::string("Settings:\n  EndDate: ") + c.endDate + "\nStrategy: Month\n  BarSize: Monthly\n  EntrySetup: BarDate >= 20240101\n  Quantity: 100\n"
                                                                                                       "  QtyType: Shares\n");
        ASSERT_NE(nullptr, trades);
        const TradeRecord &t = trades[0];
        EXPECT_EQ(20240201, t.dateIn);
        EXPECT_DOUBLE_EQ(100, t.quantityIn);
        EXPECT_DOUBLE_EQ(10, t.priceIn);
        EXPECT_EQ(c.dateOut, t.dateOut);
        EXPECT_DOUBLE_EQ(c.quantityOut, t.quantityOut);
        EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
        EXPECT_NEAR(0, TradeNetProfit(&t), 1e-9);
    }
}

/* AAA on the weekdays from 1 November 2023 to last: 20 up to Friday
** February 2, 25 to 40 on Monday February 5, 50 to the end of February, 60
** to 70 on Friday March 1, and 80 after. */
void LoadSteps(EngineTest &t, int32_t last)
{
    const std::vector<int32_t> d = Weekdays(20231101, last);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        const double c = day < 20240205 ? 20 : day < 20240301 ? 50 : 80;
        bars.push_back(day == 20240205 ? DayBar{day, 25, 40, 25, 40}
                       : day == 20240301 ? DayBar{day, 60, 70, 60, 70}
                                         : DayBar{day, c, c, c, c});
    }
    t.LoadStore(d, {{"AAA", bars}});
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
        const std::string endDate = c.dataTo ? "  EndDate: " + std::to_string(c.endDate) + "\n" : "";
        const std::string script = "Settings:\n  OrdersMode: Text\n" + endDate + "Strategy: S1\n  BarSize: " +
            c.barSize + "\n  EntryTime: " + c.entryTime + "\n  EntrySetup: BarDate = " + c.signal +
            "\n  Quantity: 10\n  QtyType: Percent\n  QtyPrice: " + c.qtyPrice + "\n";
        LoadSteps(*this, c.dataTo ? c.dataTo : c.endDate);
        const TradeRecord *trades = TradesOfRun(1, script);
        ASSERT_NE(nullptr, trades);
        EXPECT_EQ(c.fillDay, trades[0].dateIn);
        EXPECT_DOUBLE_EQ(c.quantity, trades[0].quantityIn);
        if (!c.orderDay) continue;
        LoadSteps(*this, c.orderDay);
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
        LoadSteps(*this, 20240329);
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

/* A weekly strategy sizes 10% of the account on the account as its week
** began, in a weekly and in a daily run.  H buys 1,000 AAA at 100 at the
** open of Monday 8 January 2024; AAA trades at 110 from Wednesday 10
** January, so the account is 100,000 up to the 9th and 110,000 from the
** 10th.  W buys BBB (flat at 50): at the close of Friday 12
** January on the 100,000 the week began with (200 shares, not the 220 of
** the day before), at the open of Monday 15 January on the 110,000 of the
** week before (220). */
TEST_F(EngineTest, ALongerBarSizesEntryIsSizedOnTheAccountItsPeriodBeganWith)
{
    const std::vector<int32_t> d = Weekdays(20240101, 20240223);
    std::vector<double> aaa, bbb(d.size(), 50);
    for (int32_t day : d) aaa.push_back(day < 20240110 ? 100 : 110);
    const std::string setup = "  EntrySetup: (?Symbol = \"BBB\") * (BarDate = 20240112)\n";
    const struct {
        std::string entry;
        double quantity;
    } cases[] = {
        {"  EntryTime: ThisClose\n" + setup, 200},
        {"  EntryTime: NextOpen\n" + setup, 220},
    };
    for (const auto &c : cases) {
        for (const char *run : {"", "  BarSize: Weekly\n"}) {
            SCOPED_TRACE(run + c.entry);
            LoadStore(d, {{"AAA", FlatBars(d, aaa)}, {"BBB", FlatBars(d, bbb)}});
            ASSERT_EQ(0, Run(std::string("Settings:\n") + run + "Strategy: H\n  BarSize: Weekly\n  EntrySetup: ?Symbol = \"AAA\"\n"
                             "  Quantity: 1000\n  QtyType: Shares\nStrategy: W\n  BarSize: Weekly\n  Quantity: 10\n  QtyType: Percent\n" +
                             c.entry))
                << LastMessage();
            const TestRecord *test = LastTest();
            ASSERT_NE(nullptr, test);
            int bought = 0;
            for (int32_t k = 0; k < test->tradeCount; k++) {
                const TradeRecord &t = test->trades[k];
                if (strcmp(t.symbol, "BBB") != 0) continue;
                bought++;
                EXPECT_DOUBLE_EQ(c.quantity, t.quantityIn);
            }
            EXPECT_EQ(1, bought);
        }
    }
}

/* A weekly and a monthly long set up on 29 December 2023 buy AAA at the
** close of 1 January (the first day of both periods) by a limit at 98; the
** day closes at 95, which the entry fills at.  Its stop, FillPrice * 0.99,
** is 94.05, which AAA never trades down to (2 January opens at 96, its low
** is 95.5): the position is held to the end, as a daily strategy's is.  A
** stop worked out on the limit (97.02) would fill at the 96 open. */
TEST_F(EngineTest, ALongerBarsNextCloseEntryIsStoppedOnItsFillPrice)
{
    const std::vector<int32_t> d = Weekdays(20231201, 20240216);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        bars.push_back(day < 20240101   ? DayBar{day, 100, 100, 100, 100}
                       : day == 20240101 ? DayBar{day, 100, 100, 95, 95}
                       : day == 20240102 ? DayBar{day, 96, 96.5, 95.5, 96}
                                         : DayBar{day, 96, 96, 96, 96});
    }
    for (const char *barSize : {"Daily", "Weekly", "Monthly"}) {
        SCOPED_TRACE(barSize);
        LoadStore(d, {{"AAA", bars}});
        const TradeRecord *t = TradesOfRun(1, std::string("Strategy: S\n  BarSize: ") + barSize +
                                                  "\n  Side: Long\n  EntryTime: NextClose\n  EntrySetup: BarDate = 20231229"
                                                  "\n  EntryLimit: C * 0.98\n  Quantity: 100\n  QtyType: Shares\n"
                                                  "  ExitStop: FillPrice * 0.99\n");
        ASSERT_NE(nullptr, t);
        EXPECT_EQ(20240101, t->dateIn);
        EXPECT_DOUBLE_EQ(95, t->priceIn);
        EXPECT_EQ(EXIT_END_OF_TEST, (uint32_t)t->reason);
        EXPECT_EQ(20240216, t->dateOut);
    }
}

/* A quarterly strategy buys 100 AAA at 10 at the open of October 2, 2000,
** set up by the data's first quarter (from July 3), with a stop at 9.  AAA
** falls to a low of 8 on January 17 (the stop fills at 9) and stays at 8.5.
** Dividends go ex on January 10 (0.20, held) and on March 14 (0.50, after the
** stop).  The trade is worth 100 × (9 − 10) + 100 × 0.20 = −80, in a daily
** and in a quarterly run. */
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
    void ExpectTheStoppedTrade()
    {
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ(1, test->tradeCount);
        const TradeRecord &t = test->trades[0];
        EXPECT_EQ(20001002, t.dateIn);
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
    ExpectTheStoppedTrade();
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
    ExpectTheStoppedTrade();
}

/* Each row of an account against an independent reckoning of its trades:
** the closed trades' net, and each position still held valued at the row's
** close with every dividend that went ex after its entry up to the row's
** date; and the row's own dividends, those that went ex since the row
** before for positions that held them. */
struct HeldRow {
    int32_t date;
    double gain;      /* equity less the start and the interest so far */
    double dividends; /* credited on the row */
};
struct HeldRun {
    std::vector<std::vector<HeldRow>> rows; /* per strategy (none for a strategy of another kind) */
    std::vector<TradeRecord> trades;
};

HeldRun RowsOfRun(const TestRecord *test)
{
    HeldRun run;
    if (!test) return run;
    run.trades.assign(test->trades, test->trades + test->tradeCount);
    run.rows.resize(test->strategyCount);
    for (int32_t s = 0; s < test->strategyCount; s++) {
        if (test->strategies[s].kind != STRATEGY_KIND_STRATEGY) continue;
        double interest = 0;
        for (int32_t r = 0; r < test->rowsFilled; r++) {
            const StatCell *c = &test->cells[(int64_t)r * test->strategyCount + s];
            interest += c->interest;
            run.rows[s].push_back(HeldRow{(int32_t)c->date, c->equityBase + c->markToMarket - c->startEquity - interest, c->dividends});
        }
    }
    return run;
}

/* Three symbols on a drawn walk, each with a dividend every month or so on
** a drawn day (some on a Saturday, which a daily run credits at Monday's
** open), and strategies of a weekly to yearly bar size that hold some
** symbols throughout and others a few periods, long and short, one stopped
** inside its period, one sized at each open on a fifth of the account its
** last row holds.  Every row, held or flat, of a run of the strategies'
** own bar size and of a daily run is its trades' reckoning, and the longer
** run's row is the daily run's row of its date: a row dated on a period's
** last day holds every dividend that went ex in the period. */
TEST_F(EngineTest, ALongerRunsRowsHoldTheDividendsOfTheirPeriod)
{
    ASSERT_TRUE(InstallBuiltins());
    const std::vector<int32_t> d = Weekdays(20140106, 20161230);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    std::vector<std::vector<EventItem>> events;
    uint32_t seed = 2016;
    auto draw = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    for (const char *name : {"AAA", "BBB", "CCC"}) {
        std::vector<DayBar> bars;
        std::vector<EventItem> dividends;
        double price = 40 + draw(60);
        int32_t next = 5 + (int32_t)draw(20);
        for (size_t k = 0; k < d.size(); k++) {
            const double open = price * (1 + ((int)draw(201) - 100) / 10000.0);
            const double close = open * (1 + ((int)draw(401) - 200) / 10000.0);
            bars.push_back(DayBar{d[k], open, std::fmax(open, close) * 1.01, std::fmin(open, close) * 0.99, close});
            price = close;
            if ((int32_t)k == next) {
                /* Now and then the Saturday after the day. */
                const int32_t day = draw(5) == 0 && DayOfWeek(d[k]) == 5 ? NextDay(d[k]) : d[k];
                dividends.push_back(EventItem{day, 0, EVENT_DIVIDEND, 0, 0.1 + draw(90) / 100.0});
                next += 12 + (int32_t)draw(20);
            }
        }
        symbols.push_back({name, bars});
        events.push_back(dividends);
    }
    const char *const shares = "  Quantity: 100\n  QtyType: Shares\n";
    const std::string strategies =
        std::string("Strategy: Hold\n  EntrySetup: ?Symbol <> \"CCC\"\n") + shares +
        "Strategy: Swing\n  EntrySetup: C > MA(C, 3)\n  ExitRule: C < MA(C, 3)\n" + shares +
        "Strategy: Short\n  Side: Short\n  EntrySetup: C < MA(C, 4)\n  ExitRule: BarsHeld >= 2\n" + shares +
        "Strategy: Stopped\n  EntrySetup: C > O\n  ExitStop: C * 0.97\n  ExitRule: BarsHeld >= 3\n" + shares +
        "Strategy: Sized\n  EntrySetup: ?Symbol = \"AAA\"\n  ExitRule: 1\n  Quantity: 20\n  QtyType: Percent\n"
        "  Compounded: True\n  QtyRound: 0\n";
    for (int size = BAR_WEEKLY; size <= BAR_YEARLY; size++) {
        const char *const names[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
        std::string script;
        for (const char *line = strategies.c_str(); *line;) {
            const char *end = strchr(line, '\n');
            script.append(line, end + 1);
            if (strncmp(line, "Strategy:", 9) == 0) script += std::string("  BarSize: ") + names[size] + "\n";
            line = end + 1;
        }
        HeldRun runs[2];
        for (int own = 0; own < 2; own++) {
            SCOPED_TRACE(std::string(names[size]) + (own ? " run" : " strategies in a daily run"));
            LoadStore(d, symbols);
            for (size_t k = 0; k < symbols.size(); k++) {
                SymbolRecord *record = &gStore.symbols[k];
                ASSERT_TRUE(AllocMemory(&record->events, events[k].size() * sizeof(EventItem)));
                memcpy(record->events, events[k].data(), events[k].size() * sizeof(EventItem));
                record->eventCount = (int32_t)events[k].size();
            }
            ASSERT_EQ(0, Run((own ? std::string("Settings:\n  BarSize: ") + names[size] + "\n" : std::string()) + script))
                << LastMessage();
            runs[own] = RowsOfRun(LastTest());
            const HeldRun &run = runs[own];
            ASSERT_EQ(5, std::count_if(run.rows.begin(), run.rows.end(), [](const auto &rows) { return !rows.empty(); }));
            int failures = 0;
            for (size_t s = 0; s < run.rows.size(); s++) {
                int32_t before = 0;
                for (const HeldRow &row : run.rows[s]) {
                    double gain = 0, credited = 0;
                    for (const TradeRecord &t : run.trades) {
                        if (t.strategy != (int32_t)s || t.dateIn > row.date) continue;
                        const size_t k = (size_t)(t.symbol[0] - 'A');
                        double owed = 0;
                        for (const EventItem &e : events[k]) {
                            if (e.date <= t.dateIn || e.date > t.dateOut) continue;
                            if (e.date <= row.date) owed += e.value * t.quantityIn * t.side;
                            if (e.date > before && e.date <= row.date) credited += e.value * t.quantityIn * t.side;
                        }
                        if (t.dateOut <= row.date) {
                            gain += TradeNetProfit(&t);
                        } else {
                            const DayBar *bar = nullptr;
                            for (const DayBar &b : symbols[k].second)
                                if (b.date <= row.date) bar = &b;
                            ASSERT_NE(nullptr, bar);
                            gain += (bar->close - t.priceIn) * t.quantityIn * t.side + owed;
                        }
                    }
                    if ((std::fabs(gain - row.gain) > 1e-6 || std::fabs(credited - row.dividends) > 1e-6) && ++failures <= 5)
                        ADD_FAILURE() << "strategy " << s << " on " << row.date << ": gain " << row.gain << ", dividends "
                                      << row.dividends << "; its trades make " << gain << " and " << credited;
                    before = row.date;
                }
            }
        }
        /* The longer run's rows are the daily run's rows of their dates. */
        SCOPED_TRACE(std::string(names[size]) + " run against the daily run");
        ASSERT_EQ(runs[0].trades.size(), runs[1].trades.size());
        for (size_t s = 0; s < runs[1].rows.size(); s++) {
            size_t k = 0;
            int failures = 0;
            for (const HeldRow &row : runs[1].rows[s]) {
                while (k < runs[0].rows[s].size() && runs[0].rows[s][k].date < row.date) k++;
                ASSERT_LT(k, runs[0].rows[s].size());
                ASSERT_EQ(row.date, runs[0].rows[s][k].date);
                if (std::fabs(row.gain - runs[0].rows[s][k].gain) > 1e-6 && ++failures <= 5)
                    ADD_FAILURE() << "strategy " << s << " on " << row.date << ": " << row.gain << " in its own run, "
                                  << runs[0].rows[s][k].gain << " in the daily one";
            }
        }
    }
}

/* 100 AAA held by a weekly strategy from July 2013 leave on Wednesday
** 21 August at the close: by end of data, AAA's data ending that day, or by
** the strategy's trade-list row, AAA trading on.  AAA's events list
** dividends on the 14th (0.50) and on Thursday the 22nd (0.30).  The trade
** and the account earn the first alone, in a daily run and in a weekly run,
** whose row of Friday the 23rd values its positions after the position
** left: no dividend of a day after it left is its. */
TEST_F(EngineTest, NoDividendAfterAPositionLeftReachesIt)
{
    const std::vector<int32_t> d = Weekdays(20130701, 20130930), a = Weekdays(20130701, 20130821);
    Write("trades.csv", "Symbol,DateIn,TimeIn,QtyIn,PriceIn,DateOut,TimeOut,QtyOut,PriceOut\n"
                        "AAA,20130708,open,100,10,20130821,close,100,10\n");
    const struct {
        const char *strategy;
        const std::vector<int32_t> &days;
        uint32_t reason;
    } cases[] = {
        {"  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20130705\n  Quantity: 100\n  QtyType: Shares\n", a, EXIT_END_OF_DATA},
        {"  TradeList: trades.csv\n  TLEndDate: latest\n", d, EXIT_TRADE_LIST},
    };
    for (const auto &c : cases) {
        for (const char *run : {"", "Settings:\n  BarSize: Weekly\n"}) {
            SCOPED_TRACE(std::string(run) + c.strategy);
            LoadStore(d, {{"AAA", FlatBars(c.days, std::vector<double>(c.days.size(), 10))},
                          {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
            const EventItem events[] = {{20130814, 0, EVENT_DIVIDEND, 0, 0.5}, {20130822, 0, EVENT_DIVIDEND, 0, 0.3}};
            SymbolRecord *aaa = &gStore.symbols[0];
            ASSERT_TRUE(AllocMemory(&aaa->events, sizeof events));
            memcpy(aaa->events, events, sizeof events);
            aaa->eventCount = 2;
            const TradeRecord *trades = TradesOfRun(1, std::string(run) + "Strategy: W\n  BarSize: Weekly\n" + c.strategy);
            ASSERT_NE(nullptr, trades);
            EXPECT_EQ(c.reason, (uint32_t)trades[0].reason);
            EXPECT_EQ(20130821, trades[0].dateOut);
            EXPECT_NEAR(50, trades[0].dividends, 1e-9);
            EXPECT_NEAR(50, TradeNetProfit(&trades[0]), 1e-9);
            const TestRecord *test = LastTest();
            double credited = 0;
            for (int32_t r = 0; r < test->rowsFilled; r++) credited += Cell(test, r, 0)->dividends;
            EXPECT_NEAR(50, credited, 1e-9);
            const StatCell *last = Cell(test, test->rowsFilled - 1, 0);
            EXPECT_NEAR(50, last->equityBase + last->markToMarket - last->startEquity, 1e-9);
        }
    }
}

/* Six symbols on drawn walks, each missing now and then the first days of
** a week or month (never a period's last day, so every symbol closes every
** period), and weekly, monthly and quarterly strategies that enter at most
** MaxEntries a period: at the next open, by a stop or by a limit that fills
** later in the period, each leaving after a period.  A daily run makes the
** trades of the run of their bar size, whichever day of the period each
** entry fills on: the period's entries count once, in the order they were
** decided at its open, and never more than MaxEntries of them, nor more
** than a Combined MaxEntries of 4 over the three, which opens them in turns. */
TEST_F(EngineTest, ALongerStrategysEntriesCountOncePerPeriod)
{
    ASSERT_TRUE(InstallBuiltins());
    const std::vector<int32_t> d = Weekdays(20110103, 20121231);
    uint32_t seed = 2012;
    auto draw = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    for (const char *name : {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF"}) {
        std::vector<DayBar> bars;
        double price = 40 + draw(60);
        for (size_t k = 0; k < d.size(); k++) {
            const double open = price * (1 + ((int)draw(201) - 100) / 10000.0);
            const double close = open * (1 + ((int)draw(401) - 200) / 10000.0);
            price = close;
            const bool periodEnd = k + 1 == d.size() || DayOfWeek(d[k]) == 5 || d[k + 1] / 100 != d[k] / 100;
            const bool early = DayOfWeek(d[k]) <= 2 || d[k] % 100 <= 3;
            if (!periodEnd && early && draw(3) == 0) continue;
            bars.push_back(DayBar{d[k], open, std::fmax(open, close) * 1.01, std::fmin(open, close) * 0.99, close});
        }
        symbols.push_back({name, bars});
    }
    const char *const strategies =
        "Strategy: Market\n  EntrySetup: C > MA(C, 2)\n  MaxEntries: 2\n"
        "Strategy: Stops\n  EntrySetup: 1\n  EntryStop: C * 1.004\n  MaxEntries: 1\n"
        "Strategy: Limits\n  Side: Short\n  EntrySetup: 1\n  EntryLimit: C * 1.003\n  MaxEntries: 3\n";
    for (int size = BAR_WEEKLY; size <= BAR_QUARTERLY; size++) {
        const char *const names[] = {"Daily", "Weekly", "Monthly", "Quarterly"};
        std::string script;
        for (const char *line = strategies; *line;) {
            const char *end = strchr(line, '\n');
            script.append(line, end + 1);
            if (strncmp(line, "Strategy:", 9) == 0)
                script += std::string("  BarSize: ") + names[size] + "\n  ExitRule: 1\n  Quantity: 100\n  QtyType: Shares\n";
            line = end + 1;
        }
        for (const char *combined : {"", "Combined:\n  MaxEntries: 4\n"}) {
            std::vector<std::tuple<int32_t, std::string, int32_t, int32_t>> trades[2];
            for (int own = 0; own < 2; own++) {
                SCOPED_TRACE(std::string(names[size]) + (own ? " run" : " strategies in a daily run") + " " + combined);
                LoadStore(d, symbols);
                ASSERT_EQ(0, Run((own ? std::string("Settings:\n  BarSize: ") + names[size] + "\n" : std::string()) + script +
                             combined))
                    << LastMessage();
                const TestRecord *test = LastTest();
                ASSERT_NE(nullptr, test);
                std::map<std::pair<int32_t, int64_t>, int32_t> perPeriod;
                for (int32_t k = 0; k < test->tradeCount; k++) {
                    const TradeRecord &t = test->trades[k];
                    trades[own].emplace_back(t.strategy, t.symbol, t.dateIn, t.dateOut);
                    const int32_t most = t.strategy == 0 ? 2 : t.strategy == 1 ? 1 : 3;
                    if (++perPeriod[{t.strategy, PeriodOf(t.dateIn, size)}] == most + 1)
                        ADD_FAILURE() << test->strategies[t.strategy].name << " enters more than " << most << " in the period of "
                                      << t.dateIn;
                    if (combined[0] && ++perPeriod[{-1, PeriodOf(t.dateIn, size)}] == 5)
                        ADD_FAILURE() << "more than 4 entries in the period of " << t.dateIn;
                }
                std::sort(trades[own].begin(), trades[own].end());
            }
            SCOPED_TRACE(std::string(names[size]) + " " + combined);
            EXPECT_GT(trades[1].size(), 25u);
            EXPECT_TRUE(trades[0] == trades[1]) << trades[0].size() << " trades in the daily run, " << trades[1].size()
                                                << " in the run of the bar size";
            for (size_t k = 0, shown = 0; k < std::min(trades[0].size(), trades[1].size()) && shown < 5; k++) {
                if (trades[0][k] == trades[1][k]) continue;
                shown++;
                ADD_FAILURE() << "daily: " << std::get<0>(trades[0][k]) << " " << std::get<1>(trades[0][k]) << " "
                              << std::get<2>(trades[0][k]) << "; own: " << std::get<0>(trades[1][k]) << " "
                              << std::get<1>(trades[1][k]) << " " << std::get<2>(trades[1][k]);
            }
        }
    }
}

/* Two strategies of a weekly, monthly or quarterly bar size share the
** account: L buys 100 at the next open in every symbol it may (MaxPositions
** 4), S shorts B1, B2 and B3 (MaxPositions 3, or MaxInvested 30,000: its
** three are worth about 15,000, L's four 20,000), at the next open or by a
** stop that fills on a later day of the period, each leaving at the next
** period's open.  B2 and B3 do not trade on the first days of many periods
** (quarterly: 1 July 2010 among them), so S's entries there wait for a later
** day of the period, while L holds its four.  Each strategy keeps its own
** limits: S enters all three every period, in a daily run as in the run of
** its bar size and as in a daily run of S alone.  Under a Combined limit of
** six positions the shared count holds: L and S take turns at the period's
** open, three each, and their entries are those of the run of their bar
** size too. */
TEST_F(EngineTest, AWaitingEntryIsCheckedAgainstItsOwnStrategysPositions)
{
    const std::vector<int32_t> d = Weekdays(20100104, 20111230);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    uint32_t seed = 2010;
    for (const char *name : {"A1", "A2", "A3", "A4", "B1", "B2", "B3"}) {
        std::vector<DayBar> bars;
        double price = 50;
        for (size_t k = 0; k < d.size(); k++) {
            seed = seed * 1103515245u + 12345u;
            const double close = price * (1 + ((int)((seed >> 8) % 401) - 200) / 10000.0);
            const bool periodEnd = k + 1 == d.size() || DayOfWeek(d[k]) == 5 || d[k + 1] / 100 != d[k] / 100;
            const int missed = name[1] == '2' ? 1 : name[1] == '3' ? 2 : 0;
            if (!periodEnd && name[0] == 'B' && (DayOfWeek(d[k]) <= missed || d[k] % 100 <= 2 * missed)) continue;
            bars.push_back(DayBar{d[k], price, std::fmax(price, close), std::fmin(price, close), close});
            price = close;
        }
        symbols.push_back({name, bars});
    }
    const char *const names[] = {"Daily", "Weekly", "Monthly", "Quarterly"};
    for (int size = BAR_WEEKLY; size <= BAR_QUARTERLY; size++) {
        const std::string sized = std::string("  BarSize: ") + names[size] + "\n  Quantity: 100\n  QtyType: Shares\n  ExitRule: 1\n";
        const std::string l = "Strategy: L\n  EntrySetup: 1\n  MaxPositions: 4\n" + sized;
        for (const char *limit : {"MaxPositions: 3", "MaxInvested: 30000", "MaxPositions: 3\n  EntryStop: C * 0.996"}) {
            const bool stops = strstr(limit, "EntryStop") != nullptr;
            for (const char *combined : {"", "Combined:\n  MaxPositions: 6\n"}) {
                const std::string s = "Strategy: S\n  Side: Short\n  EntrySetup: ?Symbol = \"B1\" OR ?Symbol = \"B2\" OR "
                                      "?Symbol = \"B3\"\n  " + std::string(limit) + "\n" + sized;
                /* Each strategy's trades, by its name, in a daily run and in a
                ** run of the bar size; and S's in a daily run of its own. */
                std::map<std::string, std::vector<std::tuple<std::string, int32_t, int32_t>>> trades[3];
                for (int run = 0; run < 3; run++) {
                    if (run == 2 && combined[0]) continue;
                    SCOPED_TRACE(std::string(names[size]) + (run == 1 ? " run" : run == 2 ? " S alone in a daily run" : " daily run") +
                                 " " + limit + (combined[0] ? " under a Combined limit" : ""));
                    LoadStore(d, symbols);
                    const std::string settings = run == 1 ? std::string("Settings:\n  BarSize: ") + names[size] + "\n" : "";
                    ASSERT_EQ(0, Run(settings + (run == 2 ? s : l + s + combined))) << LastMessage();
                    const TestRecord *test = LastTest();
                    ASSERT_NE(nullptr, test);
                    for (int32_t k = 0; k < test->tradeCount; k++) {
                        const TradeRecord &t = test->trades[k];
                        trades[run][test->strategies[t.strategy].name].emplace_back(t.symbol, t.dateIn, t.dateOut);
                    }
                    for (auto &strategy : trades[run]) std::sort(strategy.second.begin(), strategy.second.end());
                    /* S holds its three in every period but the first, L its
                    ** four (three under the Combined limit). */
                    std::set<int64_t> periods;
                    for (int32_t day : d) periods.insert(PeriodOf(day, size));
                    if (stops) continue; /* (stops that some periods do not reach) */
                    EXPECT_EQ(3 * (periods.size() - 1), trades[run]["S"].size());
                    if (run < 2) {
                        EXPECT_EQ((combined[0] ? 3 : 4) * (periods.size() - 1), trades[run]["L"].size());
                    }
                }
                SCOPED_TRACE(std::string(names[size]) + " " + limit + (combined[0] ? " under a Combined limit" : ""));
                EXPECT_TRUE(trades[0] == trades[1]) << "the daily run and the run of the bar size differ";
                EXPECT_EQ(trades[0]["L"].size(), trades[1]["L"].size());
                EXPECT_EQ(trades[0]["S"].size(), trades[1]["S"].size());
                if (!combined[0]) {
                    EXPECT_TRUE(trades[0]["S"] == trades[2]["S"])
                        << trades[0]["S"].size() << " trades of S beside L, " << trades[2]["S"].size() << " alone";
                }
            }
        }
    }
}

/* L holds A1 to A4 from the first quarter of 2010 (MaxPositions 4) while
** S, sharing the account, shorts B1, B2 and B3 each quarter (MaxPositions 3);
** B2 and B3 do not trade on 1 July.  The list of 30 June orders S's three
** shorts for the quarter's open, and the next day's test makes them: B1 on
** 1 July, B2 and B3 on the 2nd, S's own count being what its limit holds. */
TEST_F(OrdersTest, AStrategysListAndTestKeepItsOwnPositionLimit)
{
    const std::string script = "Settings:\n  OrdersMode: Text\n"
                               "Strategy: L\n  BarSize: Quarterly\n  EntrySetup: ?Symbol = \"A1\" OR ?Symbol = \"A2\" OR "
                               "?Symbol = \"A3\" OR ?Symbol = \"A4\"\n  MaxPositions: 4\n  Quantity: 100\n  QtyType: Shares\n"
                               "Strategy: S\n  BarSize: Quarterly\n  Side: Short\n  EntrySetup: ?Symbol = \"B1\" OR ?Symbol = "
                               "\"B2\" OR ?Symbol = \"B3\"\n  MaxPositions: 3\n  ExitRule: 1\n  Quantity: 100\n  QtyType: Shares\n";
    for (int32_t last : {20100630, 20100930}) {
        SCOPED_TRACE(last);
        const std::vector<int32_t> d = Weekdays(20100104, last);
        std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
        for (const char *name : {"A1", "A2", "A3", "A4", "B1", "B2", "B3"}) {
            std::vector<int32_t> days;
            for (int32_t day : d)
                if (day != 20100701 || strcmp(name, "B2") < 0) days.push_back(day);
            symbols.push_back({name, FlatBars(days, std::vector<double>(days.size(), 20))});
        }
        LoadStore(d, symbols);
        if (last == 20100630) {
            ASSERT_EQ(0, Run(script, 5)) << LastMessage();
            const std::string list = OrdersFile("main_20100701_orders.txt");
            for (const char *name : {"B1", "B2", "B3"})
                EXPECT_NE(std::string::npos, list.find(std::string("short 100 (2%) [$2,000] ") + name + " market")) << list;
            continue;
        }
        ASSERT_EQ(0, Run(script)) << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        std::string entered;
        for (int32_t k = 0; k < test->tradeCount; k++) {
            const TradeRecord &t = test->trades[k];
            if (t.side < 0 && t.dateIn >= 20100701) entered += std::string(t.symbol) + " " + std::to_string(t.dateIn) + " ";
        }
        EXPECT_EQ("B1 20100701 B2 20100702 B3 20100702 ", entered);
    }
}

/* A weekly, monthly or quarterly strategy holds 100 AAA from 10 with a
** target at 11 and a stop at 9.  Its days are judged as they come, each on
** its own prices, and a daily run makes the trades of a run of its bar
** size, holding the position until its fill and no longer:
** - in the week of February 5, 2024 the stop is touched on Tuesday (low 8.5)
**   and the target on Thursday (high 11.5): the stop fills on Tuesday at 9,
**   though the week's bar opens at 10 and closes at 9.8, against the
**   position, and so would have taken the target as touched first;
** - a week whose Tuesday opens at 11.2, over the target: it fills at that
**   open, the gap the position's gain;
** - a Tuesday that touches both and closes down (open 10, close 9.5) went
**   the position's way first: the target fills there at 11;
** - a daily run that ends on Tuesday or Wednesday: the stop fills on
**   Tuesday, as on the data that run on (Thursday's 11.5 is none of it);
** - AAA did not trade on the last days of the period before (28 and 29
**   December, 31 January to 2 February): its bar of that period, dated on
**   its last day, set the orders all the same, the stop fills on Tuesday,
**   and the list of Monday 5 February orders it. */
TEST_F(OrdersTest, ALongerBarSizesTargetAndStopFillOnTheFirstDayThatReachesThem)
{
    std::vector<int32_t> d = Weekdays(20220103, 20240329);
    const std::vector<DayBar> stopFirst = {{20240206, 10, 10, 8.5, 9.5}, {20240207, 9.5, 9.5, 9.5, 9.5}, {20240208, 9.5, 11.5, 9.5, 10.5}};
    const struct {
        const char *name;
        std::vector<DayBar> week;
        uint32_t reason;
        int32_t dateOut;
        double priceOut;
        int32_t endDate = 0; /* a daily run only, that ends there */
        std::vector<int32_t> missing = {}; /* days AAA did not trade */
    } cases[] = {
        {"stop touched first", stopFirst, EXIT_STOP, 20240206, 9},
        {"gap over the target", {{20240206, 11.2, 11.3, 11.1, 11.2}}, EXIT_LIMIT, 20240206, 11.2},
        {"both touched on a day that closed down", {{20240206, 10, 11.5, 8.5, 9.5}}, EXIT_LIMIT, 20240206, 11},
        {"data cut on the stop's day", stopFirst, EXIT_STOP, 20240206, 9, 20240206},
        {"data cut the day after", stopFirst, EXIT_STOP, 20240206, 9, 20240207},
        {"the period before missed its last days", stopFirst, EXIT_STOP, 20240206, 9, 0,
         {20231228, 20231229, 20240131, 20240201, 20240202}},
    };
    for (const auto &c : cases) {
        std::vector<DayBar> bars;
        for (int32_t day : d) {
            if (std::find(c.missing.begin(), c.missing.end(), day) != c.missing.end()) continue;
            double price = day < 20240206 ? 10 : 9.8;
            DayBar bar{day, price, price, price, price};
            for (const DayBar &w : c.week)
                if (w.date == day) bar = w;
            bars.push_back(bar);
        }
        for (const char *barSize : {"Weekly", "Monthly", "Quarterly", "Yearly"}) {
            for (const char *run : {"Daily", barSize}) {
                if (c.endDate && strcmp(run, "Daily") != 0) continue;
                SCOPED_TRACE(std::string(c.name) + ", " + barSize + " strategy in a " + run + " run");
                LoadStore(d, {{"AAA", bars}});
                const std::string end = c.endDate ? "  EndDate: " + std::to_string(c.endDate) + "\n" : "";
                const std::string strategy = std::string("Strategy: S\n  BarSize: ") + barSize +
                    "\n  EntrySetup: C >= 10\n  Quantity: 100\n  QtyType: Shares\n  ExitLimit: 11\n  ExitStop: 9\n";
                if (!c.missing.empty()) {
                    /* The list written on the data up to the day before the stop's. */
                    std::vector<int32_t> upTo;
                    std::vector<DayBar> cut;
                    for (int32_t day : d)
                        if (day < 20240206) upTo.push_back(day);
                    for (const DayBar &b : bars)
                        if (b.date < 20240206) cut.push_back(b);
                    LoadStore(upTo, {{"AAA", cut}});
                    ASSERT_EQ(0, Run(std::string("Settings:\n  OrdersMode: Text\n  BarSize: ") + run + "\n" + strategy, 5)) << LastMessage();
                    const std::string list = OrdersFile("main_20240206_orders.txt");
                    EXPECT_NE(std::string::npos, list.find("sell 100 AAA 9.00 stop")) << list;
                    LoadStore(d, {{"AAA", bars}});
                }
                const TradeRecord *trades = TradesOfRun(1, std::string("Settings:\n  BarSize: ") + run + "\n" + end + strategy);
                ASSERT_NE(nullptr, trades);
                const TradeRecord &t = trades[0];
                EXPECT_DOUBLE_EQ(10, t.priceIn);
                EXPECT_EQ(c.reason, (uint32_t)t.reason);
                EXPECT_EQ(c.dateOut, t.dateOut);
                EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
                const TestRecord *test = LastTest();
                for (int32_t r = 0; strcmp(run, "Daily") == 0 && r < test->rowsFilled; r++) {
                    const StatCell *cell = Cell(test, r, 0);
                    if ((int32_t)cell->date >= 20240205 && (int32_t)cell->date <= 20240209) {
                        EXPECT_EQ((int32_t)cell->date < c.dateOut ? 1 : 0, cell->positions) << cell->date;
                    }
                }
            }
        }
    }
}

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
        const TradeRecord *trades = TradesOfRun(2, std::string(settings) + "Strategy: W\n  BarSize: Weekly\n  EntrySetup: C >= 10\n"
                                                                           "  Quantity: 100\n  QtyType: Shares\n  ExitLimit: 11\n  ExitLimitQty: 50\n");
        ASSERT_NE(nullptr, trades);
        const struct {
            uint32_t reason;
            int32_t dateOut;
            double priceOut;
        } parts[] = {{EXIT_LIMIT, 20240206, 11}, {EXIT_END_OF_TEST, 20240329, 10}};
        for (int k = 0; k < 2; k++) {
            const TradeRecord &t = trades[k];
            EXPECT_DOUBLE_EQ(50, t.quantityOut) << k;
            EXPECT_EQ(parts[k].reason, t.reason) << k;
            EXPECT_EQ(parts[k].dateOut, t.dateOut) << k;
            EXPECT_DOUBLE_EQ(parts[k].priceOut, t.priceOut) << k;
        }
    }
}

/* A weekly or monthly strategy buys or shorts 100 AAA at 10 (10.05 or 9.95
** with a slippage of 0.05) at the open of the week of January 29 or of the
** month of February, and holds a stop or a target that the next period's
** first day opens through: Monday February 5 or Friday March 1 opens at 9
** (a bar of 8.8-9.2) or 11 (10.8-11.2).  The exit fills at that open less
** the slippage, as a daily strategy's does, in a daily run and in a run of
** the strategy's bar size: 8.95 or 10.95 for a long, 11.05 or 9.05 for a
** short.  A stop for the next open that the period closed under (9.4) fills
** at the next open, 9.6 (9.55 with slippage), though that day trades at
** 9.55-9.7 and only a low of 9.3 three days later reaches the stop.  A 2 for
** 1 split on March 15 leaves the price of March 1 as it traded.  An exit
** rule that fires on the period's bar fills at that open too when AAA did
** not trade on the period's last two days: its bar of the period is the
** one the rule reads, dated on its last day, not a bar of no period. */
TEST_F(EngineTest, ALongerBarSizesExitAtThePeriodsOpenFillsAtThatOpen)
{
    const DayBar down{0, 9, 9.2, 8.8, 9}, up{0, 11, 11.2, 10.8, 11}, under{0, 9.6, 9.7, 9.55, 9.65};
    const struct {
        const char *barSize, *side, *exits;
        int32_t signal, gapDay;
        DayBar gap;
        double beforeClose, priceOut;
        int32_t splitDay = 0;
        int32_t missedDays = 0; /* the market days before gapDay AAA did not trade */
    } cases[] = {
        {"Weekly", "Long", "  ExitStop: 9.5\n", 20240126, 20240205, down, 10, 8.95},
        {"Weekly", "Long", "  ExitLimit: 10.5\n", 20240126, 20240205, up, 10, 10.95},
        {"Weekly", "Short", "  ExitStop: 10.5\n", 20240126, 20240205, up, 10, 11.05},
        {"Weekly", "Short", "  ExitLimit: 9.5\n", 20240126, 20240205, down, 10, 9.05},
        {"Weekly", "Long", "  ExitStop: 9.5\n  ExitStopTime: NextOpen\n", 20240126, 20240205, under, 9.4, 9.55},
        {"Monthly", "Long", "  ExitStop: 9.5\n", 20240131, 20240301, down, 10, 8.95},
        {"Monthly", "Long", "  ExitLimit: 10.5\n", 20240131, 20240301, up, 10, 10.95},
        {"Monthly", "Short", "  ExitStop: 10.5\n", 20240131, 20240301, up, 10, 11.05},
        {"Monthly", "Short", "  ExitLimit: 9.5\n", 20240131, 20240301, down, 10, 9.05},
        {"Monthly", "Long", "  ExitStop: 9.5\n  ExitStopTime: NextOpen\n", 20240131, 20240301, under, 9.4, 9.55},
        {"Monthly", "Long", "  ExitStop: 9.5\n", 20240131, 20240301, down, 10, 8.95, 20240315},
        {"Weekly", "Long", "  ExitRule: BarDate > 20240126\n", 20240126, 20240205, down, 10, 8.95, 0, 2},
        {"Monthly", "Long", "  ExitRule: BarDate > 20240131\n", 20240131, 20240301, down, 10, 8.95, 0, 2},
    };
    std::vector<int32_t> d = Weekdays(20231101, 20240329);
    for (const auto &c : cases) {
        std::vector<DayBar> bars;
        const size_t gap = (size_t)(std::find(d.begin(), d.end(), c.gapDay) - d.begin());
        for (size_t k = 0; k < d.size(); k++) {
            const int32_t day = d[k];
            if (k < gap && k + c.missedDays >= gap) continue;
            DayBar bar{day, 10, 10, 10, 10};
            if (k + 1 < d.size() && d[k + 1] == c.gapDay) bar.close = c.beforeClose;
            if (day == c.gapDay) bar = c.gap;
            if (day > c.gapDay) {
                double p = c.gap.close;
                bar = DayBar{day, p, p, day > c.gapDay + 3 ? 9.3 : p, p};
            }
            bar.date = day;
            if (c.splitDay && day >= c.splitDay) {
                bar.open /= 2, bar.high /= 2, bar.low /= 2, bar.close /= 2;
            } else if (c.splitDay) {
                bar.split = 2;
            }
            bars.push_back(bar);
        }
        for (const char *settings : {"", "Settings:\n  BarSize: "}) {
            std::string run = settings[0] ? std::string(settings) + c.barSize + "\n" : "";
            SCOPED_TRACE(std::string(c.barSize) + " " + c.side + " " + c.exits + run);
            LoadStore(d, {{"AAA", bars}});
            const TradeRecord *trades = TradesOfRun(1, run + "Strategy: S\n  BarSize: " + c.barSize + "\n  Side: " + c.side + "\n  EntrySetup: BarDate = " + std::to_string(c.signal) + "\n  Quantity: 100\n  QtyType: Shares\n  Slippage: 0.05\n" + c.exits);
            ASSERT_NE(nullptr, trades);
            const TradeRecord &t = trades[0];
            const bool isLong = c.side[0] == 'L';
            EXPECT_DOUBLE_EQ(isLong ? 10.05 : 9.95, t.priceIn);
            EXPECT_EQ(std::strstr(c.exits, "Stop") ? EXIT_STOP : std::strstr(c.exits, "Limit") ? EXIT_LIMIT : EXIT_RULE, t.reason);
            EXPECT_EQ(c.gapDay, t.dateOut);
            EXPECT_EQ(PHASE_OPEN, t.timeOut);
            EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
            EXPECT_DOUBLE_EQ(100, t.quantityOut);
        }
    }
}

/* BBB's data end on Tuesday February 13, 2024, at a close of 12 (10
** before), inside a week, month and quarter, while AAA trades on.  A weekly,
** monthly or quarterly position in BBB bought at 10 at the open of the week
** of January 29, of December or of October leaves by "end of data" at the
** close of the 13th, at 12, having held 2 weeks, 2 months or 1 quarter: the
** same whether the test ends on Wednesday the 14th, inside each period, or
** in the next period, on data that end on the test's last date as on longer
** data with that EndDate; and so in a run of the strategy's bar size where
** the data end with the test or the test ends in the next period. */
TEST_F(EngineTest, AnEndOfDataExitLeavesAtTheLastBarWhereverTheTestEnds)
{
    const std::vector<int32_t> all = Weekdays(20230601, 20240628);
    const struct {
        const char *barSize, *signal;
        int32_t dateIn, nextPeriod, bars;
    } cases[] = {{"Weekly", "20240126", 20240129, 20240221, 2},
                 {"Monthly", "20231130", 20231201, 20240313, 2},
                 {"Quarterly", "20230929", 20231002, 20240410, 1}};
    for (const auto &c : cases) {
        for (int32_t endDate : {20240214, c.nextPeriod}) {
            for (bool cut : {false, true}) {
                std::vector<int32_t> d;
                std::vector<DayBar> aaa, bbb;
                for (int32_t day : all) {
                    if (cut && day > endDate) break;
                    d.push_back(day);
                    aaa.push_back(DayBar{day, 20, 20, 20, 20});
                    if (day <= 20240213) bbb.push_back(DayBar{day, 10, 12, 10, day == 20240213 ? 12.0 : 10.0});
                }
                for (bool ownRun : {false, true}) {
                    if (ownRun && !cut && endDate == 20240214) continue;
                    SCOPED_TRACE(std::string(c.barSize) + " to " + std::to_string(endDate) + (cut ? " data cut" : " EndDate") +
                                 (ownRun ? " own run" : " daily run"));
                    LoadStore(d, {{"AAA", aaa}, {"BBB", bbb}});
                    std::string script = "Settings:\n";
                    if (ownRun) script += std::string("  BarSize: ") + c.barSize + "\n";
                    if (!cut) script += "  EndDate: " + std::to_string(endDate) + "\n";
                    script += std::string("Strategy: S\n  BarSize: ") + c.barSize + "\n  EntrySetup: ?Symbol = \"BBB\" and BarDate = " +
                        c.signal + "\n  Quantity: 100\n  QtyType: Shares\n";
                    const TradeRecord *trades = TradesOfRun(1, script);
                    ASSERT_NE(nullptr, trades);
                    const TradeRecord &t = trades[0];
                    EXPECT_EQ(c.dateIn, t.dateIn);
                    EXPECT_DOUBLE_EQ(10, t.priceIn);
                    EXPECT_EQ(EXIT_END_OF_DATA, t.reason);
                    EXPECT_EQ(20240213, t.dateOut);
                    EXPECT_EQ(PHASE_CLOSE, t.timeOut);
                    EXPECT_DOUBLE_EQ(12, t.priceOut);
                    EXPECT_EQ(c.bars, t.bars);
                }
            }
        }
    }
}

/* A weekly strategy buys 100 AAA at 100 at the open of January 29.  The
** week closes at 100.15 on February 2, so its target is 100.15 × 1.003 =
** 100.45045 and its stop 100.15 × 0.997 = 99.84955, each for 40 shares.
** On Tuesday February 6 AAA trades from 99 to 101, and on Thursday it splits
** 2 for 1 and trades at 50 to the end of March.  The order fills on Tuesday
** at its price rounded as AAA traded that day, 100.45 or 99.85 (not 100.46
** or 99.84, the rounding of 50.225 or 49.925 after the split), for 40 of the
** shares held that day; the other 60, 120 after the split, leave at 50 at
** the end of the test.  So in a daily run and in a weekly one. */
TEST_F(EngineTest, ALongerBarSizesOrderFillsInTheTermsOfItsDayBeforeALaterSplit)
{
    std::vector<int32_t> d = Weekdays(20231101, 20240329);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        DayBar bar{day, 100, 100, 100, 100, 1000, 2};
        if (day == 20240202) bar.high = bar.close = 100.15;
        if (day == 20240206) bar.high = 101, bar.low = 99;
        if (day >= 20240208) bar = DayBar{day, 50, 50, 50, 50};
        bars.push_back(bar);
    }
    const struct {
        const char *exits;
        uint32_t reason;
        double priceOut;
    } cases[] = {{"  ExitLimit: C * 1.003\n  ExitLimitQty: 40\n", EXIT_LIMIT, 100.45},
                 {"  ExitStop: C * 0.997\n  ExitStopQty: 40\n", EXIT_STOP, 99.85}};
    for (const auto &c : cases) {
        for (const char *settings : {"", "Settings:\n  BarSize: Weekly\n"}) {
            SCOPED_TRACE(std::string(c.exits) + settings);
            LoadStore(d, {{"AAA", bars}});
            const TradeRecord *trades = TradesOfRun(2, std::string(settings) + "Strategy: W\n  BarSize: Weekly\n  EntrySetup: BarDate = 20240126\n"
                                                                               "  Quantity: 100\n  QtyType: Shares\n" +
                                                        c.exits);
            ASSERT_NE(nullptr, trades);
            const TradeRecord &part = trades[0], &rest = trades[1];
            EXPECT_EQ(c.reason, part.reason);
            EXPECT_EQ(20240206, part.dateOut);
            EXPECT_DOUBLE_EQ(c.priceOut, part.priceOut);
            EXPECT_DOUBLE_EQ(40, part.quantityOut);
            EXPECT_EQ(EXIT_END_OF_TEST, rest.reason);
            EXPECT_DOUBLE_EQ(60, rest.quantityIn);
            EXPECT_DOUBLE_EQ(120, rest.quantityOut);
            EXPECT_DOUBLE_EQ(50, rest.priceOut);
        }
    }
}

/* A weekly or monthly strategy set up on March 29, 2024 holds a target or
** stop of 105 (C * 1.05) that no trade after its entry reached: it leaves at
** the end of the test, in a daily run and in a run of its bar size.
** - AAA trades at 100 until the week of April 1: Monday reaches 106,
**   Wednesday falls to 97, Thursday dips to 95.5 and closes at 101, and AAA
**   stays at 101 to the end of April.  A long buys 100 by a limit at 98
**   (C * 0.98) on Wednesday and holds a target; a short sells 100 by a stop
**   at 98 and holds a stop.  105 traded only on Monday, before either held
**   a share: both leave at 101.  A long that also holds a stop of 96
**   (C * 0.96) and takes the target first where both are touched
**   (Ambiguity: Target) leaves by that stop on Thursday at 96.
** - AAA trades at 100 but for Thursday April 4, a day without trades stored
**   at 106, and a high of 101 on Friday: a long bought at 100 on April 1
**   leaves at 100. */
TEST_F(EngineTest, ALongerBarsTargetReachedByNoTradeAfterItsEntryDoesNotFill)
{
    std::vector<int32_t> d = Weekdays(20240101, 20240430);
    std::vector<DayBar> dips, noTrade;
    for (int32_t day : d) {
        const double c = day >= 20240404 ? 101 : 100;
        DayBar bar{day, c, c, c, c};
        if (day == 20240401) bar.high = 106;
        if (day == 20240403) bar.low = 97;
        if (day == 20240404) bar.open = 100, bar.low = 95.5;
        dips.push_back(bar);
        noTrade.push_back(day == 20240404 ? DayBar{day, 106, 106, 106, 106, 0} : DayBar{day, 100, day == 20240405 ? 101.0 : 100.0, 100, 100});
    }
    const struct {
        const std::vector<DayBar> &bars;
        const char *orders;
        int32_t dateIn;
        double priceIn;
        uint32_t reason;
        int32_t dateOut;
        double priceOut;
    } cases[] = {
        {dips, "  Side: Long\n  EntryLimit: C * 0.98\n  ExitLimit: C * 1.05\n", 20240403, 98, EXIT_END_OF_TEST, 20240430, 101},
        {dips, "  Side: Short\n  EntryStop: C * 0.98\n  ExitStop: C * 1.05\n", 20240403, 98, EXIT_END_OF_TEST, 20240430, 101},
        {dips, "  Side: Long\n  EntryLimit: C * 0.98\n  ExitLimit: C * 1.05\n  ExitStop: C * 0.96\n  Ambiguity: Target\n",
         20240403, 98, EXIT_STOP, 20240404, 96},
        {noTrade, "  ExitLimit: C * 1.05\n", 20240401, 100, EXIT_END_OF_TEST, 20240430, 100},
    };
    for (const char *barSize : {"Weekly", "Monthly"}) {
        for (const auto &c : cases) {
            for (bool ownRun : {false, true}) {
                SCOPED_TRACE(std::string(barSize) + (ownRun ? " run " : " in a daily run ") + c.orders);
                LoadStore(d, {{"AAA", c.bars}});
                const TradeRecord *trades = TradesOfRun(1, std::string(ownRun ? "Settings:\n  BarSize: " + std::string(barSize) + "\n" : "") + "Strategy: S\n  BarSize: " + barSize + "\n  EntrySetup: BarDate = 20240329\n  Quantity: 100\n  QtyType: Shares\n" + c.orders);
                ASSERT_NE(nullptr, trades);
                const TradeRecord &t = trades[0];
                EXPECT_EQ(c.dateIn, t.dateIn);
                EXPECT_DOUBLE_EQ(c.priceIn, t.priceIn);
                EXPECT_EQ(c.reason, t.reason);
                EXPECT_EQ(c.dateOut, t.dateOut);
                EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
            }
        }
    }
}

/* A weekly or monthly round trip at the next close, in a daily run: AAA
** closes at 100 on Mondays, 104 on Fridays and 102 on the other days, but
** for 110 on the Wednesdays February 14 and April 10.  Entered at the close
** of the next period's first day (Monday February 5 at 100, Friday March 1
** at 104), a position whose exit rule fires on the period after its entry
** leaves at the close of the period it was decided in, as the order list
** says ("after" its last day): Friday February 16 at 104, Tuesday April 30
** at 102, having seen 100 to 110.  So whether a stop that never fills
** (C * 0.5) is set beside the rule or not, and on data that end on the exit
** day.  Where AAA has no bars on Thursday and Friday February 15 and 16 (BBB
** trades on), its week closes on Wednesday, and the exit is dated there, at
** 110. */
TEST_F(EngineTest, ANextCloseExitOfALongerBarSizeFillsAtItsPeriodsClose)
{
    const struct {
        const char *barSize, *signal;
        int32_t dateIn;
        double priceIn;
        int32_t dateOut;
        double priceOut;
        bool gap = false;
    } cases[] = {
        {"Weekly", "20240202", 20240205, 100, 20240216, 104},
        {"Monthly", "20240229", 20240301, 104, 20240430, 102},
        {"Weekly", "20240202", 20240205, 100, 20240214, 110, true},
    };
    for (const auto &c : cases) {
        for (int32_t last : {20240531, c.dateOut}) {
            for (const char *stop : {"", "  ExitStop: C * 0.5\n"}) {
                SCOPED_TRACE(std::string(c.barSize) + " to " + std::to_string(last) + (c.gap ? " gap " : " ") + stop);
                std::vector<int32_t> d = Weekdays(20231002, last);
                std::vector<DayBar> aaa, bbb;
                for (int32_t day : d) {
                    const double price = day == 20240214 || day == 20240410 ? 110 : DayOfWeek(day) == 1 ? 100 : DayOfWeek(day) == 5 ? 104
                                                                                                                                       : 102;
                    if (!c.gap || (day != 20240215 && day != 20240216)) aaa.push_back(DayBar{day, price, price, price, price});
                    bbb.push_back(DayBar{day, 20, 20, 20, 20});
                }
                LoadStore(d, {{"AAA", aaa}, {"BBB", bbb}});
                /* A week without its last days is dated as the store dates it. */
                ASSERT_TRUE(BuildWeeklyBars(&gStore.symbols[0]));
                const TradeRecord *trades = TradesOfRun(
                    1, std::string("Strategy: N\n  BarSize: ") + c.barSize + "\n  EntryTime: NextClose\n  ExitTime: NextClose\n"
                                                                              "  EntrySetup: ?Symbol = \"AAA\" AND BarDate = " + c.signal + "\n  ExitRule: BarsHeld >= 1\n" + stop + "  Quantity: 100\n  QtyType: Shares\n");
                ASSERT_NE(nullptr, trades);
                const TradeRecord &t = trades[0];
                EXPECT_EQ(c.dateIn, t.dateIn);
                EXPECT_DOUBLE_EQ(c.priceIn, t.priceIn);
                EXPECT_EQ(EXIT_RULE, t.reason);
                EXPECT_EQ(c.dateOut, t.dateOut);
                EXPECT_EQ(PHASE_CLOSE, t.timeOut);
                EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
                EXPECT_DOUBLE_EQ(110, t.highest);
                EXPECT_DOUBLE_EQ(100, t.lowest);
            }
        }
    }
}

/* A weekly short sells 100 AAA by a limit at 101 (C * 1.01 of the 100 it
** closed at on Friday February 2) and takes a target at 3% under its fill,
** 97.97.  Monday February 5 opens at 100, reaches 102 (the entry fills at
** 101) and 97, and closes at 100.5: the day went down first, before the
** entry, so the target was not reached after it.  Tuesday falls to 97.5
** and the target fills there.  AAA goes ex a dividend of 1.00 on Wednesday
** and reaches 110 on Thursday: neither is the trade's, which held from 101
** to 102 on Monday and down to its exit at 97.97.  So in a daily and in a
** weekly run. */
TEST_F(EngineTest, APositionThatLeavesInsideItsPeriodIsDoneWithItThere)
{
    std::vector<int32_t> d = Weekdays(20240101, 20240329);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        DayBar bar{day, 100, 100, 100, 100};
        if (day == 20240205) bar = DayBar{day, 100, 102, 97, 100.5};
        if (day == 20240206) bar = DayBar{day, 100.5, 100.5, 97.5, 98};
        if (day >= 20240207) bar = DayBar{day, 98, day == 20240208 ? 110.0 : 98.0, 98, 98};
        bars.push_back(bar);
    }
    for (const char *run : {"", "Settings:\n  BarSize: Weekly\n"}) {
        SCOPED_TRACE(run);
        LoadStore(d, {{"AAA", bars}});
        SymbolRecord *aaa = &gStore.symbols[0];
        const EventItem dividend = {20240207, 0, EVENT_DIVIDEND, 0, 1.0};
        ASSERT_TRUE(AllocMemory(&aaa->events, sizeof dividend));
        memcpy(aaa->events, &dividend, sizeof dividend);
        aaa->eventCount = 1;
        const TradeRecord *trades = TradesOfRun(
            1, std::string(run) + "Strategy: W\n  BarSize: Weekly\n  Side: Short\n  EntrySetup: BarDate = 20240202\n"
                                  "  EntryLimit: C * 1.01\n  ExitLimit: FillPrice * 0.97\n  Quantity: 100\n  QtyType: Shares\n");
        ASSERT_NE(nullptr, trades);
        const TradeRecord &t = trades[0];
        EXPECT_EQ(20240205, t.dateIn);
        EXPECT_DOUBLE_EQ(101, t.priceIn);
        EXPECT_EQ(EXIT_LIMIT, t.reason);
        EXPECT_EQ(20240206, t.dateOut);
        EXPECT_DOUBLE_EQ(97.97, t.priceOut);
        EXPECT_DOUBLE_EQ(0, t.dividends);
        EXPECT_DOUBLE_EQ(102, t.highest);
        EXPECT_DOUBLE_EQ(97.97, t.lowest);
        const TestRecord *test = LastTest();
        double credited = 0;
        for (int32_t r = 0; r < test->rowsFilled; r++) credited += Cell(test, r, 0)->dividends;
        EXPECT_DOUBLE_EQ(0, credited);
    }
}

/* AAA has no bars on Thursday and Friday February 8 and 9, 2024 (BBB trades
** on): its week ends on Wednesday, at the close of 11.  A weekly long bought
** at 10 whose target of 10.5 is checked at the close (ExitLimitTime:
** ThisClose) leaves at that close, dated on Wednesday, the last day AAA
** traded that week, in a daily and in a weekly run. */
TEST_F(EngineTest, AnExitAtTheCloseOfAWeekWithoutItsLastDaysIsDatedOnItsLastBar)
{
    std::vector<int32_t> d = Weekdays(20240101, 20240329);
    std::vector<DayBar> aaa, bbb = FlatBars(d, std::vector<double>(d.size(), 20));
    for (int32_t day : d)
        if (day != 20240208 && day != 20240209) aaa.push_back(day == 20240207 ? DayBar{day, 10, 11, 10, 11} : DayBar{day, 10, 10, 10, 10});
    for (const char *run : {"", "Settings:\n  BarSize: Weekly\n"}) {
        SCOPED_TRACE(run);
        LoadStore(d, {{"AAA", aaa}, {"BBB", bbb}});
        const TradeRecord *trades = TradesOfRun(
            1, std::string(run) + "Strategy: W\n  BarSize: Weekly\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20240126\n"
                                  "  ExitLimit: 10.5\n  ExitLimitTime: ThisClose\n  Quantity: 100\n  QtyType: Shares\n");
        ASSERT_NE(nullptr, trades);
        const TradeRecord &t = trades[0];
        EXPECT_EQ(20240129, t.dateIn);
        EXPECT_EQ(EXIT_LIMIT, t.reason);
        EXPECT_EQ(20240207, t.dateOut);
        EXPECT_EQ(PHASE_CLOSE, t.timeOut);
        EXPECT_DOUBLE_EQ(11, t.priceOut);
    }
}

} // namespace

namespace {

/* A quarterly strategy holds 100 AAA bought at 10 on 1 July 2013; AAA's
** data end on Tuesday 20 August, inside the quarter (BBB trades to the end
** of the year).  The position leaves at that close by "end of data", and
** after that close the account holds nothing: a daily strategy sharing a
** Combined MaxPositions of 1 buys BBB at the open of 21 August, and the
** quarterly strategy counts no position and nothing invested from then on,
** in its own cells and the combined ones. */
TEST_F(EngineTest, ALongerBarsEndOfDataExitFreesTheAccountAtItsClose)
{
    const std::vector<int32_t> d = Weekdays(20130401, 20131231), a = Weekdays(20130401, 20130820);
    LoadStore(d, {{"AAA", FlatBars(a, std::vector<double>(a.size(), 10))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
    const TradeRecord *trades = TradesOfRun(2, "Strategy: Q\n  BarSize: Quarterly\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20130628\n"
                                               "  Quantity: 100\n  QtyType: Shares\n"
                                               "Strategy: D\n  EntrySetup: ?Symbol = \"BBB\" AND BarDate >= 20130801\n"
                                               "  Quantity: 100\n  QtyType: Shares\n"
                                               "Combined:\n  MaxPositions: 1\n");
    ASSERT_NE(nullptr, trades);
    const TestRecord *test = LastTest();
    const TradeRecord *q = trades[0].strategy == 0 ? &trades[0] : &trades[1], *daily = q == trades ? &trades[1] : &trades[0];
    EXPECT_EQ(20130701, q->dateIn);
    EXPECT_EQ(EXIT_END_OF_DATA, q->reason);
    EXPECT_EQ(20130820, q->dateOut);
    EXPECT_EQ(20130821, daily->dateIn);
    int32_t combined = -1;
    for (int32_t s = 0; s < test->strategyCount; s++)
        if (strcmp(test->strategies[s].name, "Combined") == 0) combined = s;
    ASSERT_GE(combined, 0);
    for (int32_t r = 0; r < test->rowsFilled; r++) {
        const StatCell *cell = Cell(test, r, 0);
        const int32_t date = (int32_t)cell->date;
        /* A day's cell counts what is held after its close. */
        const int32_t held = date >= 20130701 && date < 20130820;
        EXPECT_EQ(held, cell->positions) << date;
        EXPECT_NEAR(held * 1000, cell->invested, 1e-9) << date;
        EXPECT_EQ(held + (date >= 20130821 && date < 20131231), Cell(test, r, combined)->positions) << date;
    }
}

/* The quarterly trade of AAA above, alone, earns the account the interest
** of the same trade replayed from a trade list: both free the account's cash
** at the close of 20 August. */
TEST_F(EngineTest, ALongerBarsEndOfDataExitEarnsTheInterestOfItsReplay)
{
    const std::vector<int32_t> d = Weekdays(20130401, 20131231), a = Weekdays(20130401, 20130820);
    Write("trades.csv", "Symbol,DateIn,TimeIn,QtyIn,PriceIn,DateOut,TimeOut,QtyOut,PriceOut\n"
                        "AAA,20130701,open,100,10,20130820,close,100,10\n");
    double interest[2] = {};
    const char *const strategies[] = {"  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20130628\n  Quantity: 100\n  QtyType: Shares\n",
                                      "  TradeList: trades.csv\n  TLEndDate: latest\n"};
    for (int k = 0; k < 2; k++) {
        LoadStore(d, {{"AAA", FlatBars(a, std::vector<double>(a.size(), 10))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
        const TradeRecord *trades = TradesOfRun(1, std::string("Settings:\n  CashIntPct: 3.6525\n  AccountSize: 10000\nStrategy: Q\n"
                                                               "  BarSize: Quarterly\n  Compounded: False\n") + strategies[k]);
        ASSERT_NE(nullptr, trades);
        EXPECT_EQ(20130820, trades[0].dateOut);
        const TestRecord *test = LastTest();
        for (int32_t r = 0; r < test->rowsFilled; r++) interest[k] += Cell(test, r, 0)->interest;
    }
    EXPECT_GT(interest[0], 0);
    EXPECT_NEAR(interest[1], interest[0], 1e-9);
}

} // namespace

namespace {

/* A monthly long's stop entry at C * 1.02 of March's close of 100, 102 for
** 100 AAA, fills on the first day AAA trades at 103, Tuesday 2 or Wednesday
** 3 April 2013.  In a daily run the account holds it from that day, as the
** trade's DateIn says: no position and nothing invested before.  A daily
** strategy sharing the account buys 100 BBB at the open of 2 April.  With a
** Combined MaxPositions of 2 both hold their positions from their days on.
** With 1 the first to take the place keeps it: the daily strategy's, at the
** open of 2 April, which cannot know that the stop will fill later that day
** or the next; the stop entry finds the account full. */
TEST_F(EngineTest, ALongerBarsStopEntryIsBookedOnItsFillDay)
{
    const std::vector<int32_t> d = Weekdays(20130102, 20130628);
    const struct {
        int32_t fill;
        int most;
        bool monthly, daily; /* which of the two enter */
    } cases[] = {{20130403, 2, true, true}, {20130403, 1, false, true}, {20130402, 2, true, true}, {20130402, 1, false, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.fill) + " " + std::to_string(c.most));
        LoadStore(d, {{"AAA", FlatBars(d, std::vector<double>(d.size(), 100))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
        gStore.symbols[0].bars[BAR_DAILY][std::find(d.begin(), d.end(), c.fill) - d.begin()].high = 103;
        ASSERT_TRUE(BuildMonthlyBars(&gStore.symbols[0]));
        ASSERT_EQ(0, Run("Strategy: M\n  BarSize: Monthly\n  Side: Long\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20130329\n"
                         "  EntryStop: C * 1.02\n  Quantity: 100\n  QtyType: Shares\n"
                         "Strategy: D\n  EntrySetup: ?Symbol = \"BBB\" AND BarDate = 20130401\n  Quantity: 100\n  QtyType: Shares\n"
                         "Combined:\n  MaxPositions: " + std::to_string(c.most) + "\n"))
            << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ((int32_t)c.monthly + (int32_t)c.daily, test->tradeCount);
        for (int32_t k = 0; k < test->tradeCount; k++) {
            const TradeRecord &t = test->trades[k];
            EXPECT_TRUE(t.strategy == 0 ? c.monthly : c.daily) << k;
            EXPECT_EQ(t.strategy == 0 ? c.fill : 20130402, t.dateIn) << k;
            EXPECT_DOUBLE_EQ(t.strategy == 0 ? 102 : 20, t.priceIn) << k;
        }
        for (int32_t r = 0; r < test->rowsFilled; r++) {
            const StatCell *cell = Cell(test, r, 0);
            const int32_t date = (int32_t)cell->date;
            const int32_t held = c.monthly && date >= c.fill && date < 20130628;
            EXPECT_EQ(held, cell->positions) << date;
            EXPECT_NEAR(held * 10200, cell->invested, 1e-9) << date;
        }
    }
}

} // namespace

namespace {

/* A weekly long for the next close buys 100 AAA at the close of Monday
** 5 February 2024, 100, with a stop at C * 0.9 of the week before, 90.  AAA
** fell to 85 on Monday before it closed at 100, and trades at 100 after: the
** stop is no order of that day, when there was no position yet, and the
** position is held to the end of the test. */
TEST_F(EngineTest, ALongerBarsStopIsNotJudgedOnTheDayItsPositionEnteredAtTheClose)
{
    const std::vector<int32_t> d = Weekdays(20240101, 20240329);
    std::vector<DayBar> bars = FlatBars(d, std::vector<double>(d.size(), 100));
    for (DayBar &b : bars)
        if (b.date == 20240205) b.low = 85;
    LoadStore(d, {{"AAA", bars}});
    const TradeRecord *trades = TradesOfRun(1, "Strategy: W\n  BarSize: Weekly\n  EntryTime: NextClose\n  EntrySetup: BarDate = 20240202\n"
                                               "  Quantity: 100\n  QtyType: Shares\n  ExitStop: C * 0.9\n");
    ASSERT_NE(nullptr, trades);
    EXPECT_EQ(20240205, trades[0].dateIn);
    EXPECT_EQ(EXIT_END_OF_TEST, trades[0].reason);
    EXPECT_DOUBLE_EQ(100, trades[0].lowest);
}

} // namespace

namespace {

/* A quarterly strategy replays two trades inside the third quarter of 2013:
** 100 AAA from the open of 2 July to the close of 20 August, and 100 BBB
** from the open of 5 August to the close of 16 September.  In a daily run
** the account holds each from its entry day to its exit's close, as the
** trades say: not from the quarter's first day, nor to its end. */
TEST_F(EngineTest, ALongerBarsTradeListRowsComeAndGoOnTheirOwnDays)
{
    const std::vector<int32_t> d = Weekdays(20130401, 20131231);
    LoadStore(d, {{"AAA", FlatBars(d, std::vector<double>(d.size(), 10))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
    Write("trades.csv", "Symbol,DateIn,TimeIn,QtyIn,PriceIn,DateOut,TimeOut,QtyOut,PriceOut\n"
                        "AAA,20130702,open,100,10,20130820,close,100,10\n"
                        "BBB,20130805,open,100,20,20130916,close,100,20\n");
    const TradeRecord *trades = TradesOfRun(2, "Strategy: Q\n  BarSize: Quarterly\n  TradeList: trades.csv\n  TLEndDate: latest\n");
    ASSERT_NE(nullptr, trades);
    const TestRecord *test = LastTest();
    for (int32_t r = 0; r < test->rowsFilled; r++) {
        const StatCell *cell = Cell(test, r, 0);
        const int32_t date = (int32_t)cell->date;
        const int32_t aaa = date >= 20130702 && date < 20130820, bbb = date >= 20130805 && date < 20130916;
        EXPECT_EQ(aaa + bbb, cell->positions) << date;
        EXPECT_NEAR(aaa * 1000 + bbb * 2000, cell->invested, 1e-9) << date;
    }
}

} // namespace

namespace {

/* A weekly strategy holds 100 AAA (flat at 100) from 1 February 2016 and
** leaves by its rule at the next week's open.  AAA has no bar on Monday
** 8 February: the exit fills at Tuesday's open of 104 and is dated there,
** and until then the account holds the position, valued at the 100 it last
** traded at.  A strategy sharing a Combined MaxPositions of 1 wants BBB
** from that week's open.  In a daily run it gets the slot on Tuesday; in a
** run of weekly bars its entry would fill on Monday, a day the slot is still
** taken, so it waits for the next week's open. */
TEST_F(EngineTest, AGapWeeksExitAtTheOpenKeepsItsSlotToItsFillDay)
{
    const std::vector<int32_t> d = Weekdays(20160104, 20160331);
    std::vector<DayBar> aaa;
    for (int32_t day : d)
        if (day != 20160208) aaa.push_back(day < 20160209 ? DayBar{day, 100, 100, 100, 100} : DayBar{day, 104, 104, 104, 104});
    for (const char *run : {"Daily", "Weekly"}) {
        SCOPED_TRACE(run);
        const bool weekly = run[0] == 'W';
        LoadStore(d, {{"AAA", aaa}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
        const TradeRecord *trades =
            TradesOfRun(2, std::string("Settings:\n  BarSize: ") + run +
                               "\nStrategy: W\n  BarSize: Weekly\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20160129\n"
                               "  Quantity: 100\n  QtyType: Shares\n  ExitRule: BarDate = 20160205\n  ExitTime: NextOpen\n"
                               "Strategy: D\n  EntrySetup: ?Symbol = \"BBB\" AND BarDate >= 20160205\n"
                               "  Quantity: 100\n  QtyType: Shares\n"
                               "Combined:\n  MaxPositions: 1\n");
        ASSERT_NE(nullptr, trades);
        const TestRecord *test = LastTest();
        const TradeRecord *w = trades[0].strategy == 0 ? &trades[0] : &trades[1], *other = w == trades ? &trades[1] : &trades[0];
        EXPECT_EQ(20160201, w->dateIn);
        EXPECT_EQ(20160209, w->dateOut);
        EXPECT_DOUBLE_EQ(104, w->priceOut);
        EXPECT_EQ(weekly ? 20160215 : 20160209, other->dateIn);
        int32_t combined = -1;
        for (int32_t s = 0; s < test->strategyCount; s++)
            if (strcmp(test->strategies[s].name, "Combined") == 0) combined = s;
        ASSERT_GE(combined, 0);
        for (int32_t r = 0; r < test->rowsFilled; r++) {
            const StatCell *cell = Cell(test, r, 0);
            const int32_t date = (int32_t)cell->date;
            /* A weekly row is the account after the week's close. */
            const int32_t held = date >= 20160201 && date < (weekly ? 20160212 : 20160209);
            EXPECT_EQ(held, cell->positions) << date;
            EXPECT_NEAR(held * 10000, cell->invested, 1e-9) << date;
            EXPECT_NEAR(cell->startEquity + (date >= 20160209 ? 400 : 0), cell->equityBase + cell->markToMarket, 1e-9) << date;
            EXPECT_LE(Cell(test, r, combined)->positions, 1) << date;
        }
        /* A weekly sibling whose symbol also first trades on Tuesday fills
        ** there, after AAA has left: the slot is free for it at that open. */
        LoadStore(d, {{"AAA", aaa}, {"CCC", aaa}});
        trades = TradesOfRun(2, std::string("Settings:\n  BarSize: ") + run +
                                    "\nStrategy: W\n  BarSize: Weekly\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20160129\n"
                                    "  Quantity: 100\n  QtyType: Shares\n  ExitRule: BarDate = 20160205\n  ExitTime: NextOpen\n"
                                    "Strategy: C\n  BarSize: Weekly\n  EntrySetup: ?Symbol = \"CCC\" AND BarDate >= 20160205\n"
                                    "  Quantity: 100\n  QtyType: Shares\n"
                                    "Combined:\n  MaxPositions: 1\n");
        ASSERT_NE(nullptr, trades);
        EXPECT_EQ(20160209, trades[0].strategy == 0 ? trades[1].dateIn : trades[0].dateIn);
    }
}

} // namespace

namespace {

/* AAA has no bar on Friday 28 June 2013 but trades after it.  A test that
** ends on the 28th by its EndDate reads nothing later, so it trades as the
** data cut there: the AAA position leaves by its end of data at the close of
** the 27th, and a strategy sharing a Combined MaxPositions of 1 takes the
** slot at the open of the 28th.  Daily and monthly holders alike; and so
** for an EndDate of Thursday 20 June, inside a week and a month, which AAA
** missed: its weekly or monthly bar whose date lies later ends on the 19th,
** as in the data cut on the 20th, and the position leaves by its end of data
** at that close.  An entry at the close of AAA's last day before the end has
** no later bar to fill on before the end, on either data. */
TEST_F(EngineTest, AnEndDateTradesAsTheDataCutThere)
{
    const struct {
        const char *size;
        int32_t end, signal, entry;
    } cases[] = {{"Daily", 20130628, 20130430, 20130501},
                 {"Monthly", 20130628, 20130430, 20130501},
                 {"Weekly", 20130620, 20130426, 20130429},
                 {"Monthly", 20130620, 20130430, 20130501}};
    for (const auto &c : cases) {
        const std::vector<int32_t> all = Weekdays(20130401, 20130930), cut = Weekdays(20130401, c.end);
        const int32_t before = cut[cut.size() - 2];
        char end[40];
        snprintf(end, sizeof end, "Settings:\n  EndDate: %04d-%02d-%02d\n", c.end / 10000, c.end / 100 % 100, c.end % 100);
        std::vector<std::tuple<std::string, int32_t, int32_t, int32_t, double>> seen[2];
        for (int k = 0; k < 2; k++) {
            SCOPED_TRACE(std::string(c.size) + " " + std::to_string(c.end) + (k ? " EndDate" : " cut data"));
            const std::vector<int32_t> &d = k ? all : cut;
            std::vector<int32_t> a;
            for (int32_t day : d)
                if (day != c.end) a.push_back(day);
            LoadStore(d, {{"AAA", FlatBars(a, std::vector<double>(a.size(), 10))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
            const TradeRecord *trades =
                TradesOfRun(2, std::string(k ? end : "") + "Strategy: A\n  BarSize: " + c.size +
                                   "\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = " + std::to_string(c.signal) +
                                   "\n  Quantity: 100\n  QtyType: Shares\n"
                                   "Strategy: D\n  EntrySetup: ?Symbol = \"BBB\" AND BarDate >= 20130618\n"
                                   "  Quantity: 100\n  QtyType: Shares\n"
                                   "Strategy: E\n  EntryTime: ThisClose\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = " +
                                   std::to_string(before) + "\n  Quantity: 100\n  QtyType: Shares\n"
                                   "Combined:\n  MaxPositions: 1\n");
            ASSERT_NE(nullptr, trades);
            for (int32_t t = 0; t < 2; t++)
                seen[k].emplace_back(trades[t].symbol, trades[t].dateIn, trades[t].dateOut, trades[t].reason, trades[t].priceOut);
            std::sort(seen[k].begin(), seen[k].end());
        }
        SCOPED_TRACE(std::string(c.size) + " " + std::to_string(c.end));
        ASSERT_EQ(2u, seen[0].size());
        EXPECT_EQ(std::make_tuple(std::string("AAA"), c.entry, before, (int32_t)EXIT_END_OF_DATA, 10.0), seen[0][0]);
        EXPECT_EQ(c.end, std::get<1>(seen[0][1]));
        EXPECT_EQ(seen[0], seen[1]);
    }
    /* A run of a longer bar size ends on its last row before an EndDate
    ** inside a period; AAA's data end on that row, the market trades on to
    ** the EndDate: the position leaves by its end of data, as on the data
    ** cut there and in a daily run. */
    const struct {
        const char *size;
        int32_t end, lastOfAAA;
    } longer[] = {{"Weekly", 20130626, 20130621}, {"Monthly", 20130620, 20130531}, {"Quarterly", 20130813, 20130628}};
    for (const auto &c : longer) {
        std::tuple<int32_t, int32_t, int32_t> seen[3];
        for (int k = 0; k < 3; k++) {
            SCOPED_TRACE(std::string(c.size) + (k == 0 ? " cut data" : k == 1 ? " EndDate" : " daily run"));
            const std::vector<int32_t> d = Weekdays(20130101, k == 1 ? 20130930 : c.end), a = Weekdays(20130101, c.lastOfAAA);
            LoadStore(d, {{"AAA", FlatBars(a, std::vector<double>(a.size(), 10))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
            char end[40];
            snprintf(end, sizeof end, "  EndDate: %04d-%02d-%02d\n", c.end / 10000, c.end / 100 % 100, c.end % 100);
            const TradeRecord *trades =
                TradesOfRun(1, std::string("Settings:\n  BarSize: ") + (k == 2 ? "Daily" : c.size) + "\n" + (k == 1 ? end : "") +
                                   "Strategy: A\n  BarSize: " + c.size + "\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate <= 20130331\n"
                                   "  Quantity: 100\n  QtyType: Shares\n");
            ASSERT_NE(nullptr, trades);
            seen[k] = {trades[0].dateIn, trades[0].dateOut, trades[0].reason};
        }
        SCOPED_TRACE(c.size);
        EXPECT_EQ(std::make_tuple(c.lastOfAAA, (int32_t)EXIT_END_OF_DATA), std::make_tuple(std::get<1>(seen[0]), std::get<2>(seen[0])));
        EXPECT_EQ(seen[0], seen[1]);
        EXPECT_EQ(seen[0], seen[2]);
    }
}

/* A weekly run whose EndDate, Wednesday 19 June 2013, lies inside a week
** runs on the data as they stood that day, and leaves them whole.  AAA
** closes at 10, 11, 12, ... day by day; a Data item of the run's weekly bars
** reads the close of 19 June only on the part-week that ends there, where a
** strategy enters at the close and leaves at once by the end of the test.  A
** run on the whole data before and after it finds no week that closed there:
** neither reads the values the other calculated. */
TEST_F(EngineTest, AnEndDateInsideAWeekRunsOnThePartWeekAndLeavesTheDataWhole)
{
    const std::vector<int32_t> d = Weekdays(20130401, 20130628);
    std::vector<double> closes;
    for (size_t k = 0; k < d.size(); k++) closes.push_back(10 + (double)k);
    const size_t wednesday = (size_t)(std::find(d.begin(), d.end(), 20130619) - d.begin());
    LoadStore(d, {{"AAA", FlatBars(d, closes)}});
    const std::string script = "Data:\n  Wk: C\nStrategy: W\n  EntryTime: ThisClose\n  EntrySetup: Wk = " +
        std::to_string((int)closes[wednesday]) + "\n  Quantity: 100\n  QtyType: Shares\n";
    TradesOfRun(0, "Settings:\n  BarSize: Weekly\n" + script); /* (it counts the trades) */
    const TradeRecord *trades = TradesOfRun(1, "Settings:\n  BarSize: Weekly\n  EndDate: 2013-06-19\n" + script);
    ASSERT_NE(nullptr, trades);
    EXPECT_EQ(std::make_tuple(20130619, 20130619, (int32_t)EXIT_END_OF_TEST),
              std::make_tuple(trades[0].dateIn, trades[0].dateOut, (int32_t)trades[0].reason));
    EXPECT_EQ(20130619, LastTest()->lastDate);
    TradesOfRun(0, "Settings:\n  BarSize: Weekly\n" + script); /* (it counts the trades) */
    /* One stopped on its second row puts every bar and date back too. */
    const SymbolRecord *records[2] = {&gStore.symbols[0], &gStore.calendar};
    std::vector<Bar> before[2][BAR_SIZE_COUNT];
    for (int k = 0; k < 2; k++)
        for (int size = 0; size < BAR_SIZE_COUNT; size++)
            before[k][size].assign(records[k]->bars[size], records[k]->bars[size] + records[k]->barCounts[size]);
    gTestDateHeld = [] { gRun.state.store(RUN_STOP_REQUESTED); };
    Run("Settings:\n  BarSize: Weekly\n  EndDate: 2013-06-19\n" + script);
    gTestDateHeld = nullptr;
    ASSERT_TRUE(LastTest());
    EXPECT_GT(20130619, LastTest()->lastDate);
    EXPECT_EQ(20130628, gStore.lastDate);
    for (int k = 0; k < 2; k++) {
        EXPECT_EQ(20130628, records[k]->lastDate);
        for (int size = 0; size < BAR_SIZE_COUNT; size++) {
            ASSERT_EQ((int32_t)before[k][size].size(), records[k]->barCounts[size]) << k << " " << size;
            EXPECT_EQ(0, memcmp(before[k][size].data(), records[k]->bars[size], before[k][size].size() * sizeof(Bar))) << k << " " << size;
        }
    }
    EXPECT_EQ(20130628, (int32_t)gStore.dateLists[BAR_WEEKLY].dates[gStore.dateLists[BAR_WEEKLY].count - 1]);
    TradesOfRun(0, "Settings:\n  BarSize: Weekly\n" + script);
}

} // namespace

namespace {

/* The order lists of the run above for the day after 28 June, on the data
** cut there and with the EndDate on the whole data, are one list. */
TEST_F(OrdersTest, AnEndDatesOrdersAreThoseOfTheDataCutThere)
{
    const std::vector<int32_t> all = Weekdays(20130401, 20130930), cut = Weekdays(20130401, 20130628);
    std::string lists[2];
    for (int k = 0; k < 2; k++) {
        SCOPED_TRACE(k ? "EndDate" : "cut data");
        const std::vector<int32_t> &d = k ? all : cut;
        std::vector<int32_t> a;
        for (int32_t day : d)
            if (day != 20130628) a.push_back(day);
        LoadStore(d, {{"AAA", FlatBars(a, std::vector<double>(a.size(), 10))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 20))}});
        ASSERT_EQ(0, Run(std::string("Settings:\n  OrdersMode: Text\n") + (k ? "  EndDate: 2013-06-28\n" : "") +
                             "Strategy: A\n  EntrySetup: ?Symbol = \"AAA\" AND BarDate = 20130430\n  Quantity: 100\n  QtyType: Shares\n"
                             "  ExitRule: C > 10\nStrategy: D\n  EntrySetup: ?Symbol = \"BBB\" AND BarDate >= 20130626\n"
                             "  Quantity: 100\n  QtyType: Shares\n  ExitRule: C > 20\nCombined:\n  MaxPositions: 2\n",
                         5))
            << LastMessage();
        lists[k] = OrdersFile("main_20130701_orders.txt");
    }
    EXPECT_FALSE(lists[0].empty());
    EXPECT_EQ(lists[0], lists[1]);
}

} // namespace
