/* Whole test runs replaying hand-written trade lists, and their trace. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/run_view_hooks.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "shell/headless/headless.h"
#include "shell/run_view_setup.h"
#include "support/test_support.h"

namespace {

struct TradeListRun : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        /* Closes 10..16, each bar one point either side of its close. */
        std::vector<int32_t> d = Weekdays(20240108, 20240116);
        std::vector<DayBar> bars;
        for (size_t k = 0; k < d.size(); k++) {
            double c = 10.0 + (double)k;
            bars.push_back({d[k], c, c + 1, c - 1, c});
        }
        LoadStore(d, {{"AAA", bars}});
    }
    std::string Log() const { return ReadTestFile(gLogsFolder + std::string("\\TEST_0001.TXT")); }
};

struct ExpectedTrade {
    int32_t dateIn;
    double quantity, priceIn, commissionIn;
    int32_t dateOut;
    double priceOut, commissionOut;
    int32_t reason;
};

void ExpectTrades(const TestRecord *test, const std::vector<ExpectedTrade> &expected)
{
    ASSERT_NE(nullptr, test);
    ASSERT_EQ((int32_t)expected.size(), test->tradeCount);
    for (size_t k = 0; k < expected.size(); k++) {
        SCOPED_TRACE(k);
        const TradeRecord &t = test->trades[k];
        const ExpectedTrade &e = expected[k];
        EXPECT_EQ(e.dateIn, t.dateIn);
        EXPECT_DOUBLE_EQ(e.quantity, t.quantityIn);
        EXPECT_DOUBLE_EQ(e.priceIn, t.priceIn);
        EXPECT_DOUBLE_EQ(e.commissionIn, t.commissionIn);
        EXPECT_EQ(e.dateOut, t.dateOut);
        EXPECT_DOUBLE_EQ(e.priceOut, t.priceOut);
        EXPECT_DOUBLE_EQ(e.commissionOut, t.commissionOut);
        EXPECT_EQ(e.reason, t.reason);
    }
}

TEST_F(TradeListRun, RowsAreReplayedExactlyUpToTheEndDate)
{
    /* One trade per row, prices and fees from the file; no commission or
    ** slippage of the strategy's own is added to a replayed trade. */
    Write("trades.csv",
          "Symbol,DateIn,TimeIn,QtyIn,PriceIn,FeesIn,DateOut,TimeOut,QtyOut,PriceOut,FeesOut,Reason\n"
          "AAA,20240109,open,100,10.5,1,20240111,close,100,12.5,2,first\n"
          "AAA,20240110,close,50,12,0,20240115,open,50,15,1,second\n");
    ASSERT_EQ(0, Run("Strategy: TL\n  TradeList: trades.csv\n  TLEndDate: latest\n  Commission: 9\n"
                     "  Slippage: 0.25\n  Compounded: False\n"))
        << LastNotice();
    ExpectTrades(LastTest(), {{20240109, 100, 10.5, 1, 20240111, 12.5, 2, 6}, {20240110, 50, 12, 0, 20240115, 15, 1, 6}});
    const TradeRecord &t = LastTest()->trades[0];
    EXPECT_STREQ("first", t.reasonText);
}

TEST_F(TradeListRun, FillsPairedWithAPartialExitLeaveTheRestOpen)
{
    /* 100 at 10.5 and 100 at 11.5 on Jan 9 make one entry of 200 at 11; 150
    ** sold at 13 on Jan 11 close 150 of it (fees 3 of the 4 with them); the
    ** other 50 stays open until the end of the test, at the last close 16. */
    Write("fills.csv",
          "Symbol,Action,DateTime,Shares,PriceIn,FeesIn\n"
          "AAA,Buy,20240109 09:30,100,10.5,2\n"
          "AAA,Buy,20240109 09:30,100,11.5,2\n"
          "AAA,Sell,20240111 16:00,150,13,1.5\n");
    ASSERT_EQ(0, Run("Strategy: TL\n  TradeList: fills.csv\n  TLEndDate: latest\n  Compounded: False\n"));
    ExpectTrades(LastTest(), {{20240109, 150, 11, 3, 20240111, 13, 1.5, 6}, {20240109, 50, 11, 1, 20240116, 16, 0, 4}});
}

TEST_F(TradeListRun, TheTraceShowsReplayedEntriesAndExits)
{
    gSettings.AddLog = 1;
    Write("trades.csv",
          "Symbol,DateIn,TimeIn,QtyIn,PriceIn,FeesIn,DateOut,TimeOut,QtyOut,PriceOut,FeesOut,Reason\n"
          "AAA,20240109,open,100,10.5,1,20240111,close,100,12.5,2,first\n");
    ASSERT_EQ(0, Run("Strategy: TL\n  TradeList: trades.csv\n  TLEndDate: latest\n  Compounded: False\n"));
    std::string log = Log();
    /* Entry at the row's price and fee (prices print with two decimals, FX
    ** with five): 1,050 invested of the 100,000, equity less the fee 1; the
    ** cash of a test that does not compound is the start equity less what is
    ** invested. */
    EXPECT_NE(std::string::npos,
              log.find("\r\n2024-01-09\topen\tTL\t\tAAA\tbuy\t100\t10.50\t1.00000\t0\t1\t\t\t$100,000.00\t$99,999\t"
                       "$1,050\t$0\t1.05%\t$98,950.00\t0\t0\tentry\t\r\n"))
        << log;
    /* Exit at the close with the row's reason: 2 a share on 100 less fees 1
    ** and 2 is 197; nothing is invested after it. */
    EXPECT_NE(std::string::npos,
              log.find("\r\n2024-01-11\tclose\tTL\t\tAAA\tsell\t100\t12.50\t1.00000\t0\t2\t$0.00\t$197.00\t"
                       "$100,000.00\t$100,197\t$0\t$0\t0.00%\t$100,000.00\t0\t0\tfirst\t\r\n"))
        << log;
}

/* Every run reads the list again and says once what it could not use: the
** second run of the same script shows its notices as the first did, and
** trades what it could read (a quantity of text is no trade of 0). */
TEST_F(TradeListRun, EachRunNamesTheLinesItCouldNotRead)
{
    Write("trades.csv", "Symbol,DateIn,Shares,PriceIn,DateOut,PriceOut\n"
                        "AAA,20240109,100,10.5,20240111,12.5\n"
                        "AAA,20240110,lots,12,20240115,15\n"
                        "ZZZ,20240110,100,12,20240115,15\n");
    const std::string script = "Strategy: TL\n  TradeList: trades.csv\n  TLEndDate: latest\n  Compounded: False\n";
    for (int run = 1; run <= 2; run++) {
        SCOPED_TRACE(run);
        ResetHeadlessShell();
        ASSERT_EQ(0, Run(script)) << LastNotice();
        ExpectTrades(LastTest(), {{20240109, 100, 10.5, 0, 20240111, 12.5, 0, 6}});
        std::string notices;
        for (int k = 0; k < gHeadless.noticeCount; k++) notices += std::string(gHeadless.notices[k]) + "|";
        EXPECT_EQ("One or more trade list lines could not be read. Run with Log enabled for details.|"
                  "One or more trade symbols were not found in the data file. Run with Log enabled for details.|",
                  notices);
    }
}

/* A compact trades file read back as a trade list makes the same trades:
** 10,482,237 shares and prices of 10,000 and more keep every digit (six
** significant digits would read 10,482,200 shares at 10000.2).  So do the
** trades of a strategy that buys 10,000's worth of AAA on its close of
** 45.12 without rounding the quantity: 10000 / 45.12 shares, a number that
** fifteen significant digits would not give back. */
TEST_F(TradeListRun, ACompactTradesFileReadBackMakesTheSameTrades)
{
    Write("trades.csv", "Symbol,DateIn,TimeIn,QtyIn,PriceIn,FeesIn,DateOut,TimeOut,QtyOut,PriceOut,FeesOut\n"
                        "AAA,20240109,open,10482237,10000.25,1.125,20240111,close,10482237,10012.75,2.375\n"
                        "AAA,20240110,close,0.1,123456.78,0,20240115,open,0.1,0.3,1e-05\n");
    const std::string compact = tmp.File("Output\\compact.csv");
    InstallRunViewHooks();
    ASSERT_EQ(0, Run("Settings:\n  SaveTradesAs: " + compact + "\n  SaveTradesType: Compact\n"
                     "Strategy: TL\n  TradeList: trades.csv\n  TLEndDate: latest\n  Compounded: False\n"))
        << LastNotice();
    const std::vector<ExpectedTrade> trades = {{20240109, 10482237, 10000.25, 1.125, 20240111, 10012.75, 2.375, 6},
                                               {20240110, 0.1, 123456.78, 0, 20240115, 0.3, 1e-05, 6}};
    ExpectTrades(LastTest(), trades);
    ASSERT_EQ(0, Run("Strategy: TL\n  TradeList: " + compact + "\n  TLEndDate: latest\n  Compounded: False\n"))
        << LastMessage();
    ExpectTrades(LastTest(), trades);

    std::vector<int32_t> d = Weekdays(20240108, 20240116);
    LoadStore(d, {{"AAA", {{20240108, 45, 45.5, 44.5, 45.12}, {20240109, 45.2, 45.5, 44.5, 45.3}, {20240110, 45.3, 46.1, 45.2, 46.07},
                           {20240111, 46.2, 46.9, 45.9, 46.33}, {20240112, 46.3, 46.4, 45.7, 45.8}}}});
    ASSERT_EQ(0, Run("Settings:\n  SaveTradesAs: " + compact + "\n  SaveTradesType: Compact\n"
                     "Strategy: Plain\n  EntrySetup: BarDate = 20240108\n  Quantity: 10000\n  QtyType: Value\n  QtyRound: 0\n"
                     "  ExitRule: BarsHeld >= 2\n  Compounded: False\n"))
        << LastMessage();
    ASSERT_EQ(1, LastTest()->tradeCount);
    const TradeRecord plain = LastTest()->trades[0];
    EXPECT_DOUBLE_EQ(10000 / 45.12, plain.quantityIn);
    ASSERT_EQ(0, Run("Strategy: Plain\n  TradeList: " + compact + "\n  TLEndDate: latest\n  Compounded: False\n"))
        << LastMessage();
    ASSERT_EQ(1, LastTest()->tradeCount);
    const TradeRecord &replayed = LastTest()->trades[0];
    EXPECT_EQ(plain.dateIn, replayed.dateIn);
    EXPECT_EQ(plain.dateOut, replayed.dateOut);
    EXPECT_EQ(plain.quantityIn, replayed.quantityIn);
    EXPECT_EQ(plain.quantityOut, replayed.quantityOut);
    EXPECT_EQ(plain.priceIn, replayed.priceIn);
    EXPECT_EQ(plain.priceOut, replayed.priceOut);
    EXPECT_EQ(TradeNetProfit(&plain), TradeNetProfit(&replayed));
    gRunViewHooks = {};
}

/* The compact file is in the terms the test traded in: a EUR stock's fees
** already in dollars (2 euros at 1.0542 are 2.11 dollars, which a second
** conversion would make 2.224362), a back-adjusted future's prices on its
** series (20 above the contracts, which a contract's price would add again)
** and a stock's prices in the terms of its bars before a split (which an
** adjusted list's would scale).  Replayed with or without TLAdjusted it
** makes the same trades. */
TEST_F(TradeListRun, ACompactFileReplaysInEveryCurrencyAndAdjustment)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240116);
    std::vector<DayBar> bars, split, contract;
    for (size_t k = 0; k < d.size(); k++) {
        double c = 100.0 + (double)k;
        bars.push_back({d[k], c, c + 1, c - 1, c});
        split.push_back({d[k], c, c + 1, c - 1, c, 1000, k < 4 ? 0.5 : 1.0});
    }
    LoadStore(d, {{"BBB", bars}, {"CCC", split}, {"ES", bars}, {"EURUSD", FlatBars(d, std::vector<double>(d.size(), 1.0542))}});
    strcpy(gStore.symbols[FindSymbolIndex("BBB") - 1].info.Currency, "EUR");
    strcpy(gStore.symbols[FindSymbolIndex("EURUSD") - 1].info.Currency, "USD");
    SymbolRecord *es = &gStore.symbols[FindSymbolIndex("ES") - 1];
    es->securityType = SECURITY_FUTURES;
    es->info.PointValue = 50;
    for (int32_t k = 0; k < es->barCounts[BAR_DAILY]; k++) es->bars[BAR_DAILY][k].extra = es->bars[BAR_DAILY][k].close - 20;
    const EventItem events[] = {{20231215, 0, EVENT_CONTRACT, 0, 20240315}};
    ASSERT_TRUE(AllocMemory(&es->events, sizeof events));
    memcpy(es->events, events, sizeof events);
    es->eventCount = 1;
    const std::string compact = tmp.File("Output\\compact.csv");
    InstallRunViewHooks();
    ASSERT_EQ(0, Run("Settings:\n  Currency: USD\n  SaveTradesAs: " + compact + "\n  SaveTradesType: Compact\n"
                     "Strategy: Plain\n  EntrySetup: BarDate = 20240109 AND C > 50\n  Quantity: 2\n"
                     "  QtyType: Shares\n  ExitRule: BarsHeld >= 2\n  Commission: 2\n  Compounded: False\n"))
        << LastMessage();
    ASSERT_EQ(3, LastTest()->tradeCount);
    const std::vector<TradeRecord> plain(LastTest()->trades, LastTest()->trades + 3);
    for (const TradeRecord &t : plain) EXPECT_DOUBLE_EQ(strcmp(t.symbol, "BBB") == 0 ? 2.11 : 2, t.commissionIn);
    for (const char *adjusted : {"False", "True"}) {
        SCOPED_TRACE(adjusted);
        ASSERT_EQ(0, Run("Settings:\n  Currency: USD\nStrategy: Plain\n  TradeList: " + compact + "\n  TLAdjusted: " + adjusted +
                         "\n  TLEndDate: latest\n  Compounded: False\n"))
            << LastMessage();
        ASSERT_EQ(3, LastTest()->tradeCount);
        for (int k = 0; k < 3; k++) {
            const TradeRecord &a = plain[k], &b = LastTest()->trades[k];
            SCOPED_TRACE(a.symbol);
            EXPECT_STREQ(a.symbol, b.symbol);
            EXPECT_EQ(a.priceIn, b.priceIn);
            EXPECT_EQ(a.priceOut, b.priceOut);
            EXPECT_EQ(a.quantityIn, b.quantityIn);
            EXPECT_EQ(a.commissionIn, b.commissionIn);
            EXPECT_EQ(a.commissionOut, b.commissionOut);
            EXPECT_EQ(TradeNetProfit(&a), TradeNetProfit(&b));
        }
    }
    gRunViewHooks = {};
}

} // namespace
