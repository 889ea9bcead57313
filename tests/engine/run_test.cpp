/* Whole runs through RunScript over small hand-made data, with every figure
** worked out by hand. */
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "support/test_support.h"
#include "script/builtins/builtins.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

struct RunTest : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        /* Mon 2024-01-08 .. Tue 2024-01-16, with the weekend between. */
        std::vector<int32_t> d = Weekdays(20240108, 20240116);
        LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14, 15, 16, 17})}});
    }
};

TEST_F(RunTest, CashInterestAccruesOnFreeCashPerCalendarDay)
{
    /* 3.6525% a year is 0.0001 a day on the free cash of the day before:
    ** Mon 8 earns nothing (first date), Mon 15 covers three days. */
    struct Case {
        const char *compounded;
        double interest[7];
        double equity[7];
    } cases[] = {
        /* Not compounded: free cash is measured from the start equity. */
        {"False", {0, 10, 10, 10, 10, 30, 10}, {100000, 100010, 100020, 100030, 100040, 100070, 100080}},
        /* Compounded: free cash grows with the interest already earned. */
        {"True",
         {0, 10, 10.001, 10.0020001, 10.00300030001, 30.012001800120003, 10.007001800220013},
         {100000, 100010, 100020.001, 100030.0030001, 100040.00600040001, 100070.01800220013, 100080.02500400035}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.compounded);
        ASSERT_EQ(0, Run(std::string("Settings:\n  CashIntPct: 3.6525\nStrategy: S1\n  Compounded: ") + c.compounded + "\n  EntrySetup: 0\n"));
        TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        EXPECT_EQ(7, test->rowCount);
        EXPECT_EQ(20240108, test->firstDate);
        EXPECT_EQ(20240116, test->lastDate);
        for (int r = 0; r < 7; r++) {
            const StatCell *cell = Cell(test, r, 0);
            EXPECT_NEAR(c.interest[r], cell->interest, 1e-8) << r;
            EXPECT_NEAR(c.equity[r], cell->equityBase, 1e-8) << r;
            EXPECT_EQ((uint32_t)(r + 1), cell->rowNumber);
            EXPECT_EQ((uint32_t)days[r], cell->date);
        }
    }
}

TEST_F(RunTest, CashOutflowMakesMarginInterestAndADrawdown)
{
    /* 150,000 leaves on Tue 9: from Wed the free cash is -50,000 and pays
    ** 0.0001 a day of margin interest (5.00 a day, 15.00 over the weekend);
    ** 1.00 comes back on Thu 11, so from Fri the free cash is -49,999.  The
    ** flow of Thu comes while the strategy is in a drawdown: that day still
    ** counts once. */
    Write("cash.csv", "Date,Amount\n20240109,-150000\n20240111,1\n");
    ASSERT_EQ(0, Run("Settings:\n  MarginIntPct: 3.6525\n  CashIntPct: 1\nStrategy: S1\n  Compounded: False\n"
                     "  CashList: cash.csv\n  EntrySetup: 0\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    struct Row {
        double cash, interest, drawdown;
        int drawdownBars;
    } rows[] = {
        {0, 0, 0, 0},
        {-150000, 100000 * 0.01 / 365.25, 0, 0}, /* the free cash of Mon was positive: 1% a year */
        {-150000, -5, 5, 1},
        {-149999, -5, 10, 2},
        {-149999, -4.9999, 14.9999, 3},
        {-149999, -14.9997, 29.9996, 4},
        {-149999, -4.9999, 34.9995, 5},
    };
    double base = 100000;
    for (int r = 0; r < 7; r++) {
        SCOPED_TRACE(r);
        base += rows[r].interest;
        const StatCell *c = Cell(test, r, 0);
        EXPECT_DOUBLE_EQ(rows[r].cash, c->cashInOut);
        EXPECT_NEAR(rows[r].interest, c->interest, 1e-9);
        EXPECT_NEAR(base, c->equityBase, 1e-9);
        EXPECT_NEAR(rows[r].drawdown, c->drawdownAmount, 1e-9);
        EXPECT_NEAR(rows[r].drawdown / 100000, c->drawdownPercent, 1e-12);
        EXPECT_EQ(rows[r].drawdownBars, c->drawdownBars);
        if (r > 1) {
            EXPECT_NEAR(rows[r].interest, c->netAmount, 1e-9);
            EXPECT_NEAR(rows[r].interest / 100000, c->netPercent, 1e-12);
        }
        EXPECT_DOUBLE_EQ(100000, c->allocation);
        EXPECT_DOUBLE_EQ(100000, c->maxAllocation);
    }
    EXPECT_NEAR(34.9995, Cell(test, 6, 0)->maxDrawdownAmount, 1e-9);
    EXPECT_EQ(5, Cell(test, 6, 0)->maxDrawdownBars);
}

/* An amount that is no number fails the compile, and its error names the
** line: it never reaches the equity as NaN or as the number its text
** begins with. */
TEST_F(RunTest, ACashListAmountThatIsNoNumberFailsTheCompileByLine)
{
    std::string path = Write("cash.csv", "Date,Amount\n20240109,100\n20240110,nan\n");
    EXPECT_NE(0, Run("Strategy: S1\n  CashList: cash.csv\n  EntrySetup: 0\n"));
    EXPECT_EQ(nullptr, LastTest());
    ASSERT_EQ(1, gHeadless.messageCount);
    EXPECT_NE(std::string::npos,
              std::string(LastMessage())
                  .find("(expecting date,amount in each row)\r\n\r\n" + path +
                        ": line 3 gives the amount nan, which is not a finite number"))
        << LastMessage();
}

/* A holiday list that the script and a strategy share, read in both
** compile passes, is named once for the run, which goes on with the
** holidays that read. */
TEST_F(RunTest, ADamagedHolidayListIsNamedOnceAndTheRunGoesOn)
{
    std::string path = Write("holidays.txt", "2024-01-10\n2024-13-45\n");
    ASSERT_EQ(0, Run("Settings:\n  HolidayList: " + path + "\nStrategy: S1\n  HolidayList: " + path +
                     "\n  EntrySetup: 0\n"));
    ASSERT_EQ(1, gHeadless.messageCount) << LastMessage();
    EXPECT_EQ("Parts of holiday list file " + path +
                  " could not be read:\r\n\r\nline 2 gives 2024-13-45, which is not a date; no holiday was taken "
                  "from it\r\n",
              std::string(LastMessage()));
    EXPECT_EQ(1, gCalendar.holidays.count);
    /* The next run names it again. */
    ASSERT_EQ(0, Run("Settings:\n  HolidayList: " + path + "\nStrategy: S1\n  EntrySetup: 0\n"));
    EXPECT_EQ(2, gHeadless.messageCount);
}

TEST_F(RunTest, AFlowDatedOnAWeekendArrivesOnTheNextDate)
{
    Write("cash.csv", "Date,Amount\n20240113,5000\n20240116,-250\n");
    Write("fees.csv", "Date,Amount\n20240110,-40\n");
    ASSERT_EQ(0, Run("Strategy: S1\n  CashList: cash.csv\n  FeesList: fees.csv\n  EntrySetup: 0\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    const double cash[] = {0, 0, 0, 0, 0, 5000, 4750};
    const double fees[] = {0, 0, -40, -40, -40, -40, -40};
    for (int r = 0; r < 7; r++) {
        EXPECT_DOUBLE_EQ(cash[r], Cell(test, r, 0)->cashInOut) << r;
        EXPECT_DOUBLE_EQ(fees[r], Cell(test, r, 0)->feesInOut) << r;
    }
}

TEST_F(RunTest, StartPercentSetsTheStartingFigures)
{
    ASSERT_EQ(0, Run("Strategy: S1\n  StartPercent: 25\n  Compounded: False\n  EntrySetup: 0\n"));
    const StatCell *c = Cell(LastTest(), 6, 0);
    EXPECT_DOUBLE_EQ(25000, c->startEquity);
    EXPECT_DOUBLE_EQ(25000, c->equityBase);
    EXPECT_DOUBLE_EQ(25000, c->allocation);
    EXPECT_DOUBLE_EQ(25000, c->minAllocation);
    EXPECT_DOUBLE_EQ(25000, c->timeWeightedEquity); /* not compounded: the equity itself */
}

} // namespace

namespace {

/* Six days of one symbol: a bar that closes up signals an entry at the next
** open, one that closes down an exit at the next open. */
struct TradeRun : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        std::vector<int32_t> d = {20240102, 20240103, 20240104, 20240105, 20240108, 20240109};
        LoadStore(d, {{"AAA", {{20240102, 10.0, 11.0, 9.5, 10.5}, {20240103, 10.5, 12.0, 10.0, 11.5}, {20240104, 11.6, 12.5, 11.0, 12.0}, {20240105, 12.0, 13.0, 11.8, 12.8}, {20240108, 12.5, 12.6, 11.0, 11.2}, {20240109, 11.0, 11.5, 10.5, 11.4}}}});
    }
};

const char kTrend[] = "Data:\n  Up: C > O\nStrategy: Trend\n  EntrySetup: Up\n  Quantity: 100\n  ExitRule: C < O\n"
                      "  Commission: 5\n  Slippage: 0.05\n  Compounded: False\n";

TEST_F(TradeRun, OneStrategyTradesWithCostsIntoTheTestRecord)
{
    ASSERT_EQ(0, Run(kTrend));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(1, test->tradeCount);
    const TradeRecord &t = test->trades[0];
    /* In at the open of Jan 3, 10.50 + 0.05 slippage; out at the open of
    ** Jan 9, 11.00 - 0.05; 5.00 commission each way. */
    EXPECT_EQ(20240103, t.dateIn);
    EXPECT_DOUBLE_EQ(10.55, t.priceIn);
    EXPECT_EQ(20240109, t.dateOut);
    EXPECT_DOUBLE_EQ(10.95, t.priceOut);
    EXPECT_DOUBLE_EQ(5, t.commissionIn);
    EXPECT_DOUBLE_EQ(5, t.commissionOut);
    EXPECT_NEAR(5, t.slippageIn, 1e-9);
    EXPECT_NEAR(5, t.slippageOut, 1e-9);
    EXPECT_NEAR(40 - 10, TradeNetProfit(&t), 1e-9);
    EXPECT_EQ(1, test->closedTradeCount);

    /* Equity = equity base + the open position at the close. */
    struct Row {
        double equityBase, markToMarket, maxEquity, drawdown;
        int positions, entries, exits;
    } rows[] = {
        {100000, 0, 100000, 0, 0, 0, 0},
        {99995, 95, 100090, 0, 1, 1, 0}, /* (11.50 - 10.55) × 100 */
        {99995, 145, 100140, 0, 1, 0, 0},
        {99995, 225, 100220, 0, 1, 0, 0},
        {99995, 65, 100220, 160, 1, 0, 0},
        {100030, 0, 100220, 190, 0, 0, 1}, /* 99,995 + 30 profit + the 5 paid on entry */
    };
    for (int r = 0; r < 6; r++) {
        SCOPED_TRACE(r);
        const StatCell *c = Cell(test, r, 0);
        EXPECT_NEAR(rows[r].equityBase, c->equityBase, 1e-9);
        EXPECT_NEAR(rows[r].markToMarket, c->markToMarket, 1e-9);
        EXPECT_NEAR(rows[r].maxEquity, c->maxEquity, 1e-9);
        EXPECT_NEAR(rows[r].drawdown, c->drawdownAmount, 1e-9);
        EXPECT_EQ(rows[r].positions, c->positions);
        EXPECT_EQ(rows[r].entries, c->entries);
        EXPECT_EQ(rows[r].exits, c->exits);
    }
    const StatCell *last = Cell(test, 5, 0);
    EXPECT_NEAR(190, last->maxDrawdownAmount, 1e-9);
    EXPECT_NEAR(100030 - 99995 - 65, last->netAmount, 1e-9);
    /* Commissions and slippage are counted on the day they are paid. */
    EXPECT_DOUBLE_EQ(5, Cell(test, 1, 0)->commissions);
    EXPECT_DOUBLE_EQ(5, last->commissions);
    EXPECT_DOUBLE_EQ(0, Cell(test, 3, 0)->commissions);
    EXPECT_NEAR(5, last->slippage, 1e-9);
}

/* The signal as a TestData item (computed date by date during the test)
** trades as the Data item does: in on Jan 3 at 10.55, out on Jan 9 at 10.95. */
TEST_F(TradeRun, ATestDataSignalTradesLikeTheDataSignal)
{
    std::string script = kTrend;
    script.replace(0, 5, "TestData:");
    ASSERT_EQ(0, Run(script)) << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(1, test->tradeCount);
    EXPECT_EQ(20240103, test->trades[0].dateIn);
    EXPECT_DOUBLE_EQ(10.55, test->trades[0].priceIn);
    EXPECT_EQ(20240109, test->trades[0].dateOut);
    EXPECT_DOUBLE_EQ(10.95, test->trades[0].priceOut);
}

/* The TestData items of a date are computed before its StratData items, so a
** StratData formula reads the TestData value of its own date on every row. */
TEST_F(TradeRun, AStratDataItemReadsTheTestDataOfItsOwnDate)
{
    ASSERT_TRUE(InstallBuiltins()); /* Extern */
    ASSERT_EQ(0, Run("TestData:\n  Centre: (H + L) / 2\nStratData:\n  SeenCentre: Extern($AAA, Centre)\n"
                     "Strategy: S1\n  EntrySetup: 0\n"))
        << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(6, test->rowCount);
    const double mid[6] = {10.25, 11, 11.75, 12.4, 11.8, 11}; /* (high + low) / 2 of each bar */
    for (int r = 0; r < 6; r++) {
        const double *cell = GetExtraStatValuePtr(test, r, 0, 0);
        ASSERT_NE(nullptr, cell) << r;
        EXPECT_DOUBLE_EQ(mid[r], *cell) << r;
    }
}

TEST_F(TradeRun, TheSameTestGivesTheSameTradesWithOneOr32WorkersAndOnARerun)
{
    std::vector<TradeRecord> first;
    std::vector<StatCell> cells;
    for (int threads : {1, 32, 32}) {
        SCOPED_TRACE(threads);
        gSettings.CalcThreads = threads;
        ASSERT_EQ(0, Run(kTrend));
        TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        std::vector<TradeRecord> trades(test->trades, test->trades + test->tradeCount);
        std::vector<StatCell> grid(test->cells, test->cells + test->rowCount * test->strategyCount);
        if (first.empty()) {
            first = trades;
            cells = grid;
            continue;
        }
        ASSERT_EQ(first.size(), trades.size());
        EXPECT_EQ(0, memcmp(first.data(), trades.data(), trades.size() * sizeof(TradeRecord)));
        ASSERT_EQ(cells.size(), grid.size());
        EXPECT_EQ(0, memcmp(cells.data(), grid.data(), grid.size() * sizeof(StatCell)));
    }
}

} // namespace

namespace {

TEST_F(TradeRun, ThePositionsCsvListsWhatIsHeldOnTheLastDate)
{
    /* Every number as it reads back: a holding of millions of shares and an
    ** account of billions keep their digits, and a price filled at the open
    ** of 99.44 with 0.05 slippage is 99.49, not a hair off it. */
    static const struct {
        double account;
        const char *quantity, *row;
        double open; /* of Jan 3 */
    } cases[] = {
        {100000, "100", "Trend,1,AAA,2024-01-03,100,10.55,11.4,100000,100000\n", 10.5},
        {2e9, "12345678", "Trend,1,AAA,2024-01-03,12345678,10.55,11.4,2000000000,2000000000\n", 10.5},
        {100000, "100", "Trend,1,AAA,2024-01-03,100,99.49,11.4,100000,100000\n", 99.44},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.row);
        gStore.symbols[0].bars[BAR_DAILY][1].open = c.open;
        gStore.symbols[0].bars[BAR_DAILY][1].high = std::max(c.open, 12.0);
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        gSettings.AccountSize = c.account;
        std::string path = tmp.File("Output\\held.csv");
        std::string script = std::string(kTrend) + "Settings:\n  SavePositionsAs: " + path + "\n";
        script.replace(script.find("  ExitRule: C < O\n"), 18, "");
        script.replace(script.find("Quantity: 100"), 13, std::string("Quantity: ") + c.quantity);
        ASSERT_EQ(0, Run(script)) << LastMessage();
        /* Entered at the open of Jan 3: the allocation of the row before is
        ** the allocation in. */
        EXPECT_EQ(std::string("Strategy,Side,Symbol,DateIn,QtyIn,PriceIn,PriceNow,AllocIn,AllocNow\n") + c.row,
                  ReadTestFile(path));
        /* The end-of-test exit still closes the position afterwards. */
        EXPECT_EQ(1, LastTest()->tradeCount);
        EXPECT_EQ(4, LastTest()->trades[0].reason);
    }
}

TEST_F(TradeRun, APositionsCsvThatCannotBeCreatedIsReported)
{
    std::string path = tmp.File("Missing\\Folder\\held.csv");
    std::string script = std::string(kTrend) + "Settings:\n  SavePositionsAs: " + path + "\n";
    ASSERT_EQ(0, Run(script));
    EXPECT_EQ("Unable to create SavePositionsAs file " + path, std::string(LastMessage()));
    EXPECT_EQ(1, gHeadless.messageCount); /* in its own words only */
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
}

} // namespace

namespace {

TEST_F(TradeRun, AShortPositionPaysBorrowInterestOnItsValue)
{
    /* Short 100 at the open of Jan 3 (10.50: 1,050 borrowed), covered at the
    ** open of Jan 9 (11.00).  3.6525% a year is 0.0001 a day on the short
    ** value of the day before. */
    ASSERT_EQ(0, Run("Settings:\n  ShortLoanIntPct: 3.6525\nData:\n  Up: C > O\nStrategy: Fade\n  Side: Short\n"
                     "  EntrySetup: Up\n  Quantity: 100\n  ExitRule: C < O\n  Compounded: False\n"))
        << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(1, test->tradeCount);
    const TradeRecord &t = test->trades[0];
    EXPECT_EQ(-1, t.side);
    EXPECT_DOUBLE_EQ(10.5, t.priceIn);
    EXPECT_DOUBLE_EQ(11, t.priceOut);
    EXPECT_NEAR(-50, TradeNetProfit(&t), 1e-9);
    const double interest[] = {0, 0, -0.105, -0.105, -0.315, -0.105};
    const double shortInvested[] = {0, 1050, 1050, 1050, 1050, 0};
    const double shortMtm[] = {0, -100, -150, -230, -70, 0}; /* (10.50 - close) × 100 */
    double base = 100000;
    for (int r = 0; r < 6; r++) {
        SCOPED_TRACE(r);
        base += interest[r];
        if (r == 5) base += -50;
        const StatCell *c = Cell(test, r, 0);
        EXPECT_NEAR(interest[r], c->interest, 1e-9);
        EXPECT_NEAR(base, c->equityBase, 1e-9);
        EXPECT_NEAR(shortInvested[r], c->shortInvested, 1e-9);
        EXPECT_NEAR(shortMtm[r], c->shortMarkToMarket, 1e-9);
        EXPECT_EQ(r >= 1 && r <= 4 ? 1 : 0, c->shortPositions);
    }
}

TEST_F(TradeRun, PricesOfAnotherCurrencyAreConvertedByThePairSymbol)
{
    /* AAA trades in EUR; EURUSD closes at 1.25, 1.25, 1.5, ... so the entry
    ** on Jan 3 is at 1.25 and the exit on Jan 9 at 2.0. */
    std::vector<int32_t> d = days;
    LoadStore(d, {{"AAA", {{20240102, 10.0, 11.0, 9.5, 10.5}, {20240103, 10.5, 12.0, 10.0, 11.5}, {20240104, 11.6, 12.5, 11.0, 12.0}, {20240105, 12.0, 13.0, 11.8, 12.8}, {20240108, 12.5, 12.6, 11.0, 11.2}, {20240109, 11.0, 11.5, 10.5, 11.4}}}, {"EURUSD", FlatBars(d, {1.25, 1.25, 1.5, 1.5, 2.0, 2.0})}});
    strcpy(gStore.symbols[FindSymbolIndex("AAA") - 1].info.Currency, "EUR");
    strcpy(gStore.symbols[FindSymbolIndex("EURUSD") - 1].info.Currency, "USD");
    ASSERT_EQ(0, Run("Settings:\n  Currency: USD\nData:\n  Up: C > O\nStrategy: Trend\n  EntrySetup: Up\n"
                     "  Quantity: 100\n  ExitRule: C < O\n  Compounded: False\n"))
        << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    EXPECT_STREQ("USD", test->currency);
    ASSERT_EQ(1, test->tradeCount);
    const TradeRecord &t = test->trades[0];
    EXPECT_DOUBLE_EQ(1.25, t.fxIn);
    EXPECT_DOUBLE_EQ(2.0, t.fxOut);
    /* 11.00 × 100 × 2.0 - 10.50 × 100 × 1.25 */
    EXPECT_NEAR(2200 - 1312.5, TradeNetProfit(&t), 1e-9);
    EXPECT_NEAR(11 * 100 * 0.75, TradeCurrencyGain(&t), 1e-9);
}

/* A daily and a weekly strategy each buy 12,000 dollars' worth of the EUR
** stock AAA at Monday Jan 8's open, decided on Friday's close of 12.80: both
** size on Friday's EURUSD of 1.5, the last rate known before that open (625
** shares), not Monday's 2.0 (468.75); the entry itself is at Monday's rate. */
TEST_F(TradeRun, AnEntryAtTheOpenIsSizedOnTheLastRateKnownInEveryBarSize)
{
    LoadStore(days, {{"AAA", {{20240102, 10.0, 11.0, 9.5, 10.5}, {20240103, 10.5, 12.0, 10.0, 11.5}, {20240104, 11.6, 12.5, 11.0, 12.0}, {20240105, 12.0, 13.0, 11.8, 12.8}, {20240108, 12.5, 12.6, 11.0, 11.2}, {20240109, 11.0, 11.5, 10.5, 11.4}}}, {"EURUSD", FlatBars(days, {1.25, 1.25, 1.5, 1.5, 2.0, 2.0})}});
    strcpy(gStore.symbols[FindSymbolIndex("AAA") - 1].info.Currency, "EUR");
    strcpy(gStore.symbols[FindSymbolIndex("EURUSD") - 1].info.Currency, "USD");
    std::string script = "Settings:\n  Currency: USD\n";
    for (const char *size : {"Daily", "Weekly"})
        script += std::string("Strategy: ") + size + "\n  BarSize: " + size +
            "\n  EntrySetup: BarDate = 20240105 AND C > 2\n  Quantity: 12000\n  QtyType: Value\n  QtyRound: 0\n"
            "  Compounded: False\n";
    ASSERT_EQ(0, Run(script)) << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(2, test->tradeCount);
    for (int32_t k = 0; k < 2; k++) {
        const TradeRecord &t = test->trades[k];
        SCOPED_TRACE(test->strategies[t.strategy].name);
        EXPECT_STREQ("AAA", t.symbol);
        EXPECT_EQ(20240108, t.dateIn);
        EXPECT_DOUBLE_EQ(12.5, t.priceIn);
        EXPECT_DOUBLE_EQ(625, t.quantityIn);
        EXPECT_DOUBLE_EQ(2.0, t.fxIn);
    }
}

} // namespace

namespace {

TEST_F(RunTest, PercentagesOverAZeroBaseHaveNoValue)
{
    /* No start equity and no allocation: a fee of 40 on Wed makes a drawdown
    ** of 40 whose percentage has no base. */
    Write("fees.csv", "Date,Amount\n20240110,-40\n");
    ASSERT_EQ(0, Run("Strategy: S1\n  StartPercent: 0\n  Compounded: False\n  FeesList: fees.csv\n  EntrySetup: 0\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    EXPECT_TRUE(std::isnan(Cell(test, 0, 0)->netPercent));
    const StatCell *wed = Cell(test, 2, 0);
    EXPECT_DOUBLE_EQ(40, wed->drawdownAmount);
    EXPECT_TRUE(std::isnan(wed->drawdownPercent));
    EXPECT_DOUBLE_EQ(0, wed->maxDrawdownPercent);
    for (int r = 0; r < test->rowCount; r++) {
        EXPECT_FALSE(std::isinf(Cell(test, r, 0)->netPercent)) << r;
        EXPECT_FALSE(std::isinf(Cell(test, r, 0)->drawdownPercent)) << r;
    }
}

} // namespace

namespace {

TEST_F(TradeRun, TwoStrategiesFeedTheCombinedStrategy)
{
    ASSERT_EQ(0, Run("Data:\n  Up: C > O\nStrategy: A\n  EntrySetup: Up\n  Quantity: 100\n  ExitRule: C < O\n"
                     "  Compounded: False\nStrategy: B\n  EntrySetup: Up\n  Quantity: 50\n  ExitRule: C < O\n"
                     "  Compounded: False\n"))
        << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(3, test->strategyCount);
    int32_t combined = test->mainStrategy;
    ASSERT_STREQ("Combined", test->strategies[combined].name);
    ASSERT_EQ(2, test->tradeCount);
    /* Both enter at 10.50 on Jan 3 and leave at 11.00 on Jan 9. */
    const StatCell *held = Cell(test, 3, combined);
    EXPECT_EQ(2, held->positions);
    EXPECT_NEAR(150 * 10.5, held->invested, 1e-9);
    EXPECT_NEAR(150 * (12.8 - 10.5), held->markToMarket, 1e-9);
    /* Usage is counted at the start of the day: the entry value and the open
    ** profit at the close before (12.00). */
    EXPECT_NEAR(150 * 12.0, held->usageAmount, 1e-9);
    const StatCell *last = Cell(test, 5, combined);
    EXPECT_NEAR(100000 + 50 + 25, last->equityBase, 1e-9);
    EXPECT_EQ(2, last->exits);
    EXPECT_NEAR(100050, Cell(test, 5, 0)->equityBase, 1e-9);
    EXPECT_NEAR(100025, Cell(test, 5, 1)->equityBase, 1e-9);
}

} // namespace

namespace {

TEST_F(RunTest, TheTestLogHoldsItsColumnsAndTheDaysFlows)
{
    gSettings.AddLog = 1;
    Write("cash.csv", "Date,Amount\n20240110,5000\n");
    ASSERT_EQ(0, Run("Strategy: S1\n  CashList: cash.csv\n  EntrySetup: 0\n"));
    std::string log = ReadTestFile(gLogsFolder + std::string("\\TEST_0001.TXT"));
    EXPECT_EQ(0u, log.find("DATE\tTIME\tSTRATEGY\tINFO\tSYMBOL\tACTION\tQUANTITY\tPRICE\tFX\tSLIP\tCOMM\tDIVIDEND\t"
                           "PROFIT\tALLOC\tEQUITY\tCOST\tM2M\tEXPOSURE\tCASH\tSCORE1\tSCORE2\tREASON\t\r\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("\topen\tS1\tCashInOut = ")) << log;
}

} // namespace

namespace {

TEST_F(TradeRun, AFuturesPositionHeldOverARollPaysTheRollCost)
{
    SymbolRecord *es = &gStore.symbols[0];
    es->securityType = SECURITY_FUTURES;
    /* March until the close of Jan 4, June from Jan 5: a test rolls on the
    ** bar after, at the open of Jan 8. */
    const EventItem events[] = {{20231215, 0, EVENT_CONTRACT, 0, 20240315},
                                {20231215, 0, EVENT_CONTRACT_SECOND, 0, 202403},
                                {20240104, 160000, EVENT_CONTRACT, 0, 20240621},
                                {20240104, 160000, EVENT_CONTRACT_SECOND, 0, 202406}};
    ASSERT_TRUE(AllocMemory(&es->events, sizeof events));
    memcpy(es->events, events, sizeof events);
    es->eventCount = 4;
    ASSERT_EQ(0, Run("Data:\n  Up: C > O\nStrategy: Trend\n  EntrySetup: Up\n  Quantity: 100\n  RollCost: 12.5\n"
                     "  Compounded: False\n"))
        << LastMessage();
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ(1, test->tradeCount);
    const TradeRecord &t = test->trades[0];
    EXPECT_EQ(SECURITY_FUTURES, t.securityType);
    EXPECT_DOUBLE_EQ(12.5, t.rollCosts);
    EXPECT_EQ(20240109, t.dateOut); /* the end-of-test exit at the last close */
    EXPECT_DOUBLE_EQ(11.4, t.priceOut);
    EXPECT_NEAR((11.4 - 10.5) * 100 - 12.5, TradeNetProfit(&t), 1e-9);
    EXPECT_NEAR(12.5, Cell(test, 5, 0)->rollCosts, 1e-9);
}

} // namespace

/* A limit given as a number is in the split terms of the symbol's own signal
** bar, whatever the symbol before it left in the context: BBB's limit of 20
** stays 20 after AAA, whose bars carry a 2:1 split factor, was scored. */
TEST_F(EngineTest, ANumberLimitTakesItsOwnSymbolsSplitTerms)
{
    std::vector<int32_t> d = Weekdays(20240102, 20240108);
    std::vector<DayBar> aaa, bbb;
    for (int32_t day : d) {
        aaa.push_back(DayBar{day, 30, 31, 29, 30, 1000, 2.0});
        bbb.push_back(DayBar{day, 21, 22, 19.5, 21});
    }
    LoadStore(d, {{"AAA", aaa}, {"BBB", bbb}});
    ASSERT_EQ(0, Run("Strategy: S\n  EntrySetup: 1\n  EntryLimit: 20\n  SetupScore: C\n  Quantity: 100\n"
                     "  QtyType: Shares\n  ExitRule: BarsHeld >= 1\n"));
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    int bought = 0;
    for (int32_t t = 0; t < test->tradeCount; t++) {
        const TradeRecord &trade = test->trades[t];
        EXPECT_EQ(2, trade.symbolNumber) << "AAA never trades at or under 20";
        EXPECT_DOUBLE_EQ(20, trade.priceIn);
        bought++;
    }
    EXPECT_GT(bought, 0);
}

namespace {

/* A test log whose writing failed is reported and written no further; the
** next test's log is written whole all the same. */
TEST_F(RunTest, ALogThatFailedDoesNotSilenceTheNextTestsLog)
{
    gSettings.AddLog = 1;
    const std::string script = "Strategy: S1\n  EntrySetup: 0\n";
    PlanOneFault(PLAT_FAULT_WRITE, 1); /* the script file is written first, then the log's first line */
    ASSERT_EQ(0, Run(script));
    PlatPlanFault(PLAT_FAULT_WRITE, 0, 0);
    EXPECT_NE(nullptr, strstr(LastMessage(), "TEST_0001.TXT")) << LastMessage();
    EXPECT_EQ("", ReadTestFile(gLogsFolder + std::string("\\TEST_0001.TXT")));
    ASSERT_EQ(0, Run(script));
    const std::string log = ReadTestFile(gLogsFolder + std::string("\\TEST_0002.TXT"));
    EXPECT_EQ(0u, log.find("DATE\tTIME\tSTRATEGY\t")) << log;
    EXPECT_NE(std::string::npos, log.find("\tS1\t")) << log;
}

} // namespace

namespace {

/* A list whose highest test number is the largest there is (a results file
** may claim it) numbers its next test with the smallest free number. */
TEST_F(RunTest, ATestAfterTheLargestNumberTakesTheSmallestFreeOne)
{
    ResultsWindow *window = CreateResultsWindow(0, nullptr);
    ASSERT_NE(nullptr, window);
    for (int32_t number : {INT32_MAX, 1}) {
        TestRecord *t = ReadTestRecord(nullptr, 0, 1, 1, 0);
        t->testNumber = number;
        AddTestToResults(window, t);
    }
    ASSERT_EQ(0, Run("Strategy: S1\n  EntrySetup: 0\n"));
    EXPECT_EQ(2, LastTest()->testNumber);
}

} // namespace
