/* Trade lists: reading both file shapes, pairing fills, mapping symbols and
** checking prices against the day's bars. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "engine/trade_list.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/side_files.h"
#include "script/compiler/strategy.h"
#include "shell/headless/headless.h"
#include "support/test_support.h"

namespace {

struct TradeListTest : EngineTest {
    std::unique_ptr<StrategyRecord> strategy{new StrategyRecord{}};
    StrategyRecord *savedStrategies = nullptr;
    int32_t savedStrategyCount = -1; /* -1: the compiled strategies were never replaced */
    void SetUp() override
    {
        EngineTest::SetUp();
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        CopyString(strategy->name, sizeof strategy->name, "TL", -1);
    }
    void TearDown() override
    {
        /* The compiled strategies come back before the engine's clean-up
        ** frees them, however the test ended. */
        if (savedStrategyCount >= 0) {
            gStrategies = savedStrategies;
            gStrategyCount = savedStrategyCount;
        }
        FreeMemory(&gContractSpecs.items);
        gContractSpecs = GrowList{};
        FreeMemory(&strategy->tradeListRows);
        EngineTest::TearDown();
    }
    /* Makes the test's strategy the only compiled one until the test ends. */
    void UseOwnStrategy()
    {
        savedStrategies = gStrategies;
        savedStrategyCount = gStrategyCount;
        gStrategies = strategy.get();
        gStrategyCount = 1;
    }
    /* Writes the file, sets the field list (none: the file's first line) and reads it. */
    int32_t Read(const std::string &text, const char *fields = nullptr)
    {
        std::string path = tmp.File("trades.csv");
        WriteTestFile(path, text);
        CopyString(strategy->TradeList, sizeof strategy->TradeList, path.c_str(), -1);
        if (fields) {
            EXPECT_EQ(0, ParseTLFieldsList(strategy.get(), fields, (int)strlen(fields), nullptr, nullptr));
        }
        return ReadTradeListFile(strategy.get());
    }
    const TradeListRow &Row(int k) const { return ((const TradeListRow *)strategy->tradeListRows)[k]; }
};

TEST_F(TradeListTest, TimesReadAsWordsClockTimesOrNumbers)
{
    const struct {
        const char *text;
        int32_t expected;
    } cases[] = {{"open", 1}, {"Close", 3}, {"n/a", 0}, {"intraday", 2}, {"9:30", 93000}, {"16:00", 160000}, {"9:30:15", 93015}, {"93000", 93000}, {"930", 93000}, {"9", 90000}, {"", 0}, {"23:59:59", 235959},
                 {"99999999999999999999:30", TL_TIME_BAD}, {"9:-5", TL_TIME_BAD}, {"9:30:100", TL_TIME_BAD},
                 /* no word, no clock time: never taken as none (intraday) or as some other time */
                 {"later", TL_TIME_BAD}, {"24:00", TL_TIME_BAD}, {"9:75", TL_TIME_BAD}, {"2500", TL_TIME_BAD}, {"30", TL_TIME_BAD}, {"99999999", TL_TIME_BAD}, {"236000", TL_TIME_BAD}};
    for (const auto &c : cases) EXPECT_EQ(c.expected, ParseTradeListTime(c.text)) << c.text;
}

TEST_F(TradeListTest, FillsArePairedIntoTrades)
{
    /* Buy 100 at 10 and 100 at 12 on one day, sell 150 at 15 later: one trade
    ** of 150 (in at the average 11, out at 15) and 50 still open at 11. */
    ASSERT_EQ(2, Read("Symbol,Action,DateTime,Shares,PriceIn,FeesIn\n"
                      "AAA,Buy,2024-01-08 09:30,100,10,2\n"
                      "AAA,Buy,2024-01-08 10:00,100,12,2\n"
                      "aaa,Sell,2024-01-10,150,15,3\n"));
    EXPECT_STREQ("AAA", Row(0).symbol);
    EXPECT_EQ(150, Row(0).quantityIn);
    EXPECT_DOUBLE_EQ(11, Row(0).priceIn);
    EXPECT_DOUBLE_EQ(3, Row(0).feesIn); /* 4 in fees, three quarters closed */
    EXPECT_EQ(20240110, Row(0).exitDate);
    EXPECT_EQ(150, Row(0).quantityOut);
    EXPECT_DOUBLE_EQ(15, Row(0).priceOut);
    EXPECT_DOUBLE_EQ(3, Row(0).feesOut);
    EXPECT_EQ(93000, Row(0).entryTime);
    EXPECT_EQ(50, Row(1).quantityIn);
    EXPECT_DOUBLE_EQ(11, Row(1).priceIn);
    EXPECT_DOUBLE_EQ(1, Row(1).feesIn);
    EXPECT_EQ(0, Row(1).exitDate);

    /* A sell larger than the long closes it and opens a short with the rest
    ** (lines that end in CR alone, as some programs save them). */
    ASSERT_EQ(2, Read("Symbol,Action,DateTime,Shares,PriceIn\r"
                      "BBB,B,2024-01-08,100,10\r"
                      "BBB,S,2024-01-09,150,12\r"));
    EXPECT_EQ(1, Row(0).side);
    EXPECT_EQ(100, Row(0).quantityOut);
    EXPECT_DOUBLE_EQ(12, Row(0).priceOut);
    EXPECT_EQ(-1, Row(1).side);
    EXPECT_EQ(50, Row(1).quantityIn);
    EXPECT_EQ(20240109, Row(1).entryDate);
    EXPECT_EQ(0, Row(1).exitDate);
}

TEST_F(TradeListTest, TradeRowsInEveryNumberFormatAndDelimiter)
{
    /* Decimal commas with the delimiter left at Comma read with semicolons;
    ** a quoted "1.000" is a thousand and "=12,25" an exact 12.25. */
    strategy->TLNumFmt = 1;
    strategy->TLDateFmt = 1;
    ASSERT_EQ(1, Read("ignored header line\n"
                      "aaa;08.01.2024;\"1.000\";10,5;10.01.2024 16:00;=12,25;long;  \"12,5\"\n",
                      "Symbol,DateIn,QtyIn,PriceIn,DateOut,PriceOut,Side,FeesIn"));
    EXPECT_STREQ("AAA", Row(0).symbol);
    EXPECT_EQ(20240108, Row(0).entryDate);
    EXPECT_EQ(1000, Row(0).quantityIn);
    EXPECT_DOUBLE_EQ(10.5, Row(0).priceIn);
    EXPECT_DOUBLE_EQ(12.5, Row(0).feesIn);
    EXPECT_EQ(20240110, Row(0).exitDate);
    EXPECT_EQ(160000, Row(0).exitClock);
    EXPECT_DOUBLE_EQ(12.25, Row(0).priceOut);
    EXPECT_EQ(1u, Row(0).exactPrice);
    EXPECT_EQ(1, Row(0).side);
    EXPECT_EQ(0, Row(0).entryTime); /* no time text: 0, never the clock */

    /* Points: a quoted "1,234.5" loses its grouping comma; tabs; the field
    ** names from the first line; a strategy filter; rows sorted by symbol;
    ** lines that end in CR alone. */
    strategy->TLNumFmt = 0;
    strategy->TLDateFmt = 0;
    strategy->TLDelim = 2;
    strategy->tlFieldSum = 0;
    CopyString(strategy->TLStratName, sizeof strategy->TLStratName, "mine", -1);
    ASSERT_EQ(2, Read("Symbol,Strategy,DateIn,QtyIn,PriceIn,Side\r"
                      "ZZZ\tMine\t1/9/2024\t10\t\"1,234.5\"\tshort\r"
                      "YYY\tother\t1/9/2024\t10\t5\t1\r"
                      "AAA\tMINE\t2024-01-08\t10\t5\t1\r"));
    EXPECT_STREQ("AAA", Row(0).symbol);
    EXPECT_STREQ("ZZZ", Row(1).symbol);
    EXPECT_EQ(20240109, Row(1).entryDate);
    EXPECT_DOUBLE_EQ(1234.5, Row(1).priceIn);
    EXPECT_EQ(-1, Row(1).side);
}

TEST_F(TradeListTest, BadLinesAreDroppedAndBadFilesReported)
{
    std::string longLine(5000, 'x');
    std::string manyFields;
    for (int k = 0; k < 300; k++) manyFields += "1,";
    ASSERT_EQ(1, Read("Symbol,DateIn,QtyIn,PriceIn\n"
                      "AAA,2024-13-01,10,5\n" /* no such month */
                      "AAA,,10,5\n"           /* no date */
                      "AAA\n" +               /* missing fields */
                      longLine +
                      "\n" + manyFields + "\n" + "AAA,2024-01-08,10,\n")); /* an empty number reads as 0 */
    EXPECT_EQ(10, Row(0).quantityIn);
    EXPECT_EQ(0, Row(0).priceIn);

    gRun.resultCode = RESULT_OK;
    EXPECT_EQ(-1, Read("Name,Date\nAAA,2024-01-08\n"));
    EXPECT_EQ(std::string("Strategy TL has no TLFields definition and the first row of ") + strategy->TradeList +
                  " has no known field names.",
              LastMessage());
    EXPECT_EQ(-1, strategy->tradeListRowCount);
    CopyString(strategy->TradeList, sizeof strategy->TradeList, tmp.File("none.csv").c_str(), -1);
    EXPECT_EQ(-1, ReadTradeListFile(strategy.get()));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
}

/* A line that cannot be read is not used and is named with its number and
** what it holds, in the log with AddLog, else by one notice for the run: a
** quote left open (the line after it stays a row of its own), a date, time,
** number, side or id that is none, in both file shapes and number formats.
** Each file holds a heading, the damaged line, a blank line and a good row. */
TEST_F(TradeListTest, LinesThatCannotBeReadAreNamedAndNotUsed)
{
    const char *trades = "Symbol,DateIn,QtyIn,PriceIn,Side,TradeID,DateOut,TimeIn,AssetId";
    const char *fills = "Symbol,Action,DateTime,Shares,PriceIn,FeesIn,TimeIn";
    const struct {
        const char *fields;
        int numFmt, delim;
        const char *line, *named;
    } cases[] = {
        {trades, 0, 0, "BBB,2024-13-01,10,5", "DateIn \"2024-13-01\" is not a date"},
        {trades, 0, 0, "BBB,,10,5", "it gives no DateIn"},
        {trades, 0, 0, "BBB,2024-01-08 25:00,10,5", "DateIn \"2024-01-08 25:00\" is not a date and time of day"},
        {trades, 0, 0, "BBB,2024-01-08,\"10,5", "it opens a double quote that it does not close"},
        {trades, 0, 0, "BBB,2024-01-08,abc,5", "QtyIn \"abc\" is not a number"},
        {trades, 0, 0, "BBB,2024-01-08,10,12abc", "PriceIn \"12abc\" is not a number"},
        {trades, 0, 0, "BBB,2024-01-08,10,inf", "PriceIn \"inf\" is not a finite number"},
        {trades, 0, 0, "BBB,2024-01-08,10,=1e400", "PriceIn \"=1e400\" is not a finite number"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,x", "Side \"x\" is not long, short, 1, -1 or 0"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,2", "Side \"2\" is not long, short, 1, -1 or 0"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,,abc", "TradeID \"abc\" is not a number"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,,-5", "TradeID \"-5\" is out of range"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,,4294967296", "TradeID \"4294967296\" is out of range"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,,7.5", "TradeID \"7.5\" is not a whole number"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,,,2024-02-30", "DateOut \"2024-02-30\" is not a date"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,,,,later", "TimeIn \"later\" is not a time of day"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,,,,,7x", "AssetId \"7x\" is not a whole number"},
        {trades, 0, 0, "BBB,2024-01-08,10,5,,,,,-5", "AssetId \"-5\" is out of range"},
        {trades, 1, 0, "BBB;2024-01-08;10.5;5", "QtyIn \"10.5\" is not a number"}, /* a point in a decimal-comma file */
        {trades, 0, 2, "BBB\t2024-01-08\t10,5\t5", "QtyIn \"10,5\" is not a number"},
        {fills, 0, 0, "BBB,Buy,2024-01-08 9:75,10,5", "DateTime \"2024-01-08 9:75\" is not a date and time of day"},
        {fills, 0, 0, "BBB,Buy,01/32/2024,10,5", "DateTime \"01/32/2024\" is not a date"},
        {fills, 0, 0, "BBB,Buy,2024-01-08,ten,5", "Shares \"ten\" is not a number"},
        {fills, 0, 0, "BBB,Buy,2024-01-08,10,nan", "PriceIn \"nan\" is not a finite number"},
        {fills, 0, 0, "BBB,Buy,2024-01-08,10,5,1e999", "FeesIn \"1e999\" is not a finite number"},
        {fills, 0, 0, "BBB,Buy,\"2024-01-08,10,5", "it opens a double quote that it does not close"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const bool fill = c.fields == fills;
        const char d = c.delim == 2 ? '\t' : c.numFmt == 1 ? ';' : ',';
        std::string good = fill ? "AAA,Sell,2024-01-09,10,5,0,close" : "AAA,2024-01-09,10,5,long,4294967295,n/a,close";
        std::replace(good.begin(), good.end(), ',', d);
        const std::string blank = std::string(3, d);
        strategy->TLNumFmt = c.numFmt;
        strategy->TLDelim = c.delim;
        strategy->tlFieldSum = 0;
        for (int addLog = 1; addLog >= 0; addLog--) {
            ResetTradeListState();
            gSettings.AddLog = addLog;
            ResetHeadlessShell();
            gHeadless.captureLog = 1;
            EXPECT_EQ(1, Read("heading\n" + std::string(c.line) + "\n" + blank + "\n" + good + "\n", c.fields));
            if (strategy->tradeListRowCount == 1) {
                EXPECT_STREQ("AAA", Row(0).symbol);
                EXPECT_EQ(20240109, Row(0).entryDate);
                EXPECT_EQ(10, Row(0).quantityIn);
                EXPECT_EQ(fill ? -1 : 1, Row(0).side);
            }
            const std::string log = gHeadless.logText ? gHeadless.logText : "";
            if (addLog) {
                EXPECT_EQ("TradeList: line 2 of " + std::string(strategy->TradeList) + " was not read: " + c.named + "\n",
                          log);
                EXPECT_EQ(0, gHeadless.noticeCount);
            } else {
                EXPECT_EQ("", log);
                EXPECT_EQ(1, gHeadless.noticeCount);
                EXPECT_STREQ("One or more trade list lines could not be read. Run with Log enabled for details.",
                             LastNotice());
            }
        }
    }
    /* What the program itself writes for none: an open trade, the top id. */
    strategy->TLNumFmt = strategy->TLDelim = 0;
    ASSERT_EQ(1, Read("AAA,2024-01-09,10,5,long,4294967295,n/a\n", trades));
    EXPECT_EQ(0, Row(0).exitDate);
    EXPECT_EQ(4294967295u, Row(0).tradeId);
}

/* A time or an AssetId beyond what its field can mean drops its row, in
** both file shapes; the rows around it stay. */
TEST_F(TradeListTest, FieldsBeyondTheirRangeDropTheirRow)
{
    ASSERT_EQ(2, Read("Symbol,DateIn,TimeIn,QtyIn,AssetId\n"
                      "AAA,2024-01-08,9:30,10,7\n"
                      "BBB,2024-01-08,99999999999999999999:30,10,7\n"
                      "CCC,2024-01-08,9:30,10,-2147483648\n"
                      "DDD,2024-01-08,9:30,10,99999999999\n"
                      "EEE,2024-01-08,9:30,10,2147483647\n"
                      "FFF,2024-01-08 99999:00,9:30,10,1\n"));
    EXPECT_STREQ("AAA", Row(0).symbol);
    EXPECT_EQ(-7, Row(0).symbolNumber);
    EXPECT_STREQ("EEE", Row(1).symbol);
    EXPECT_EQ(-2147483647, Row(1).symbolNumber);
    strategy->tlFieldSum = 0;
    ASSERT_EQ(1, Read("Symbol,Action,DateTime,Shares,AssetId\n"
                      "AAA,Buy,2024-01-08 9:30,10,7\n"
                      "BBB,Buy,2024-01-08 1234:30,10,7\n"
                      "CCC,Buy,2024-01-08 9:30,10,-2147483648\n"));
    EXPECT_STREQ("AAA", Row(0).symbol);
}

TEST_F(TradeListTest, PricesAreCheckedAgainstTheDaysRange)
{
    /* Jan 8-12; AAA trades 100-110 (close 105) every day; a delisted
    ** BBB-202402 holds BBB's bars. */
    std::vector<int32_t> d = Weekdays(20240108, 20240112);
    std::vector<DayBar> bars;
    for (int32_t day : d) bars.push_back({day, 101, 110, 100, 105});
    LoadStore(d, {{"AAA", bars}, {"BBB-202402", bars}});
    ResetTradeListState();
    gSettings.TLPriceTolerance = 5;
    gSettings.AddLog = 1;
    gHeadless.captureLog = 1;
    ASSERT_EQ(6, Read("Symbol,DateIn,QtyIn,PriceIn\n"
                      "AAA,2024-01-08,100,112\n"  /* within 5%: kept */
                      "AAA,2024-01-09,100,120\n"  /* beyond: the close, quantity scaled */
                      "AAA,2024-01-10,100,=300\n" /* exact: never tested */
                      "AAA,2024-01-11,100,0\n"    /* 0: the open */
                      "BBB,2024-01-12,100,-1\n"   /* delisted name; negative: the close */
                      "CCC,2024-01-12,100,5\n")); /* not in the data */
    BuildTradeListTrades(strategy.get(), 20240108, 20240112);
    const int32_t valid = Row(0).valid + Row(1).valid + Row(2).valid + Row(3).valid + Row(4).valid + Row(5).valid;
    EXPECT_EQ(5, valid);
    EXPECT_DOUBLE_EQ(112, Row(0).priceIn);
    EXPECT_DOUBLE_EQ(100, Row(0).quantityIn);
    EXPECT_DOUBLE_EQ(105, Row(1).priceIn);
    EXPECT_NEAR(100 * 120.0 / 105, Row(1).quantityIn, 1e-9);
    EXPECT_DOUBLE_EQ(300, Row(2).priceIn);
    EXPECT_DOUBLE_EQ(101, Row(3).priceIn);
    EXPECT_STREQ("BBB-202402", Row(4).symbol);
    EXPECT_DOUBLE_EQ(105, Row(4).priceIn);
    EXPECT_EQ(0u, Row(5).valid);
    const std::string log = gHeadless.logText ? gHeadless.logText : "";
    EXPECT_NE(std::string::npos,
              log.find("TradeList: AAA could not have been entered at 112 on 2024-01-08 because the day's range "
                       "was 100 - 110 (trade kept)"))
        << log;
    EXPECT_NE(std::string::npos, log.find("(trade adjusted)")) << log;
    EXPECT_NE(std::string::npos, log.find("TradeList: symbol BBB has been delisted -- using BBB-202402 instead"));
    EXPECT_NE(std::string::npos, log.find("TradeList: symbol CCC not found in currently loaded data file"));
}

/* The debug file replaces the one of an earlier run only once complete: a
** full disk or a refused rename reports once and keeps the old file. */
TEST_F(TradeListTest, TheDebugFileIsWholeOrNotWritten)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240112);
    std::vector<DayBar> bars;
    for (int32_t day : d) bars.push_back({day, 101, 110, 100, 105});
    LoadStore(d, {{"AAA", bars}});
    ResetTradeListState();
    gSettings.WriteTLDebugFile = 1;
    CopyString(gSettings.OutputPath, sizeof gSettings.OutputPath, tmp.File("Output").c_str(), -1);
    ASSERT_EQ(1, PlatCreateFolder(gSettings.OutputPath));
    const std::string path = tmp.File("Output\\TL_TL_Debug.csv"), old = "Symbol,Side\nOLD,1\n";
    ASSERT_EQ(1, Read("Symbol,DateIn,QtyIn,PriceIn\nAAA,2024-01-09,100,102\n"));
    for (int kind : {PLAT_FAULT_WRITE, PLAT_FAULT_RENAME}) {
        SCOPED_TRACE(kind);
        ASSERT_TRUE(WriteTestFile(path, old));
        PlanOneFault(kind, 0);
        BuildTradeListTrades(strategy.get(), 20240108, 20240112);
        ExpectOneFailedReplace(kind, path, old, gSettings.OutputPath, "TL_TL_Debug.csv;");
    }
    BuildTradeListTrades(strategy.get(), 20240108, 20240112);
    EXPECT_EQ(0u, ReadTestFile(path).rfind("Symbol,Side,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut,"
                                           "Reason,Valid\nAAA,",
                                           0))
        << ReadTestFile(path);
}

TEST_F(TradeListTest, ContractPricesMoveOntoTheContinuousSeries)
{
    /* The continuous ES closes 5 above the contract it follows (extra 100
    ** against close 105): a fill at the contract's 99 is 104 on the series,
    ** unless the list's prices are already adjusted. */
    std::vector<int32_t> d = Weekdays(20240108, 20240112);
    std::vector<DayBar> bars;
    for (int32_t day : d) bars.push_back({day, 101, 110, 100, 105});
    LoadStore(d, {{"ES", bars}});
    SymbolRecord *es = &gStore.symbols[0];
    es->securityType = SECURITY_FUTURES;
    for (int32_t k = 0; k < es->barCounts[BAR_DAILY]; k++) es->bars[BAR_DAILY][k].extra = 100;
    const EventItem events[] = {{20231215, 0, EVENT_CONTRACT, 0, 20240315}};
    ASSERT_TRUE(AllocMemory(&es->events, sizeof events));
    memcpy(es->events, events, sizeof events);
    es->eventCount = 1;
    for (int adjusted = 0; adjusted <= 1; adjusted++) {
        ResetTradeListState();
        strategy->TLAdjusted = adjusted;
        ASSERT_EQ(1, Read("Symbol,DateIn,QtyIn,PriceIn\nES,2024-01-09,2,99\n"));
        BuildTradeListTrades(strategy.get(), 20240108, 20240112);
        EXPECT_DOUBLE_EQ(adjusted ? 99 : 104, Row(0).priceIn) << adjusted;
        FreeMemory(&strategy->tradeListRows);
    }
}

/* Positions held before the test's first day (Jan 8) are adopted at that
** day's open of 101 whatever the security, a continuous future's in the
** series' own terms (the offset of 5 is not added to it); their exits on
** Jan 11 keep the file's prices, a contract's moved onto the series. */
TEST_F(TradeListTest, AnAdoptedPositionEntersAtTheFirstDaysOpenWhateverTheSecurity)
{
    std::vector<int32_t> d = Weekdays(20240102, 20240112);
    std::vector<DayBar> bars;
    for (int32_t day : d) bars.push_back({day, 101, 110, 100, 105});
    LoadStore(d, {{"AAA", bars}, {"CL", bars}, {"ES", bars}, {"EURUSD", bars}});
    const struct {
        const char *symbol;
        int type;
        double priceOut;
    } cases[] = {{"AAA", SECURITY_STOCK, 104}, {"CL", SECURITY_FUTURES, 104}, {"ES", SECURITY_FUTURES, 109},
                 {"EURUSD", SECURITY_FOREX, 104}};
    for (const auto &c : cases) gStore.symbols[FindSymbolIndex(c.symbol) - 1].securityType = c.type;
    SymbolRecord *es = &gStore.symbols[FindSymbolIndex("ES") - 1];
    for (int32_t k = 0; k < es->barCounts[BAR_DAILY]; k++) es->bars[BAR_DAILY][k].extra = 100;
    const EventItem events[] = {{20231215, 0, EVENT_CONTRACT, 0, 20240315}};
    ASSERT_TRUE(AllocMemory(&es->events, sizeof events));
    memcpy(es->events, events, sizeof events);
    es->eventCount = 1;
    ResetTradeListState();
    strategy->TLAdoptPos = 1;
    ASSERT_EQ(4, Read("Symbol,DateIn,QtyIn,PriceIn,DateOut,QtyOut,PriceOut\n"
                      "AAA,2024-01-03,100,102,2024-01-11,100,104\n"
                      "CL,2024-01-03,2,102,2024-01-11,2,104\n"
                      "ES,2024-01-03,2,97,2024-01-11,2,104\n"
                      "EURUSD,2024-01-03,1000,102,2024-01-11,1000,104\n"));
    BuildTradeListTrades(strategy.get(), 20240108, 20240112);
    for (int k = 0; k < 4; k++) {
        SCOPED_TRACE(Row(k).symbol);
        const auto &c = *std::find_if(std::begin(cases), std::end(cases),
                                      [&](const auto &x) { return strcmp(x.symbol, Row(k).symbol) == 0; });
        EXPECT_EQ(1u, Row(k).valid);
        EXPECT_EQ(20240108, Row(k).entryDate);
        EXPECT_DOUBLE_EQ(101, Row(k).priceIn);
        EXPECT_DOUBLE_EQ(c.priceOut, Row(k).priceOut);
    }
}

TEST_F(TradeListTest, RowsOutsideTheTestAreDroppedWithOneNotice)
{
    ResetTradeListState();
    TradeListRow rows[2] = {};
    for (TradeListRow &r : rows) {
        CopyString(r.symbol, TL_SYMBOL_SIZE, "AAA", -1);
        r.quantityIn = 10;
        r.valid = 1;
    }
    rows[0].entryDate = 20231229; /* before the first date */
    rows[1].entryDate = 20240201; /* after the last */
    for (TradeListRow &r : rows) MapTradeSymbols(strategy.get(), &r, 20240108, 20240112);
    EXPECT_EQ(0u, rows[0].valid + rows[1].valid);
    EXPECT_EQ(1, gHeadless.noticeCount);
    EXPECT_STREQ("One or more trades are outside the test date range. Run with Log enabled for details.", LastNotice());
}

TEST_F(TradeListTest, TheEndDateDecidesBetweenReplayAndRules)
{
    UseOwnStrategy();
    CopyString(strategy->TradeList, sizeof strategy->TradeList, "t.csv", -1);
    const struct {
        int32_t endDate, rowCount, reference;
        int active, rules, governed;
    } cases[] = {
        {0, 3, 20240110, 1, 1, 0},        /* rows supply setups; the rules decide */
        {20240110, 3, 20240110, 1, 0, 1}, /* replayed exactly up to the end date */
        {20240110, 3, 20240111, 0, 1, 0}, /* the strategy's own rules after it */
        {0, -1, 20240110, 0, 1, 0},       /* a file that could not be read */
    };
    for (const auto &c : cases) {
        ResetTradeListState();
        strategy->TLEndDate = c.endDate;
        strategy->tradeListRowCount = c.rowCount;
        UpdateTradeListActivation(0, c.reference);
        EXPECT_EQ(c.active, gTradeListState.active[0]) << c.endDate << " " << c.reference;
        EXPECT_EQ(c.rules, gTradeListState.rules[0]) << c.endDate << " " << c.reference;
        EXPECT_EQ(c.governed, IsTradeListGoverned(0, 1, c.reference)) << c.endDate << " " << c.reference;
        EXPECT_EQ(0, IsTradeListGoverned(0, 0, c.reference)); /* a setup without a row */
    }
}

} // namespace

namespace {

/* An exchange map row whose session ends at 17:00 (matching ES only): a fill
** at or after it belongs to the next trading date (Friday evening's to
** Monday); fills before it, open trades and other symbols stay. */
TEST_F(TradeListTest, FillsAfterTheSessionEndMoveToTheNextTradingDate)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240119);
    std::vector<DayBar> bars = FlatBars(d, std::vector<double>(d.size(), 10));
    LoadStore(d, {{"ES", bars}, {"NQ", bars}});
    gContractSpecs.count = 0;
    ASSERT_TRUE(GrowListReserve(&gContractSpecs, 1, sizeof(ContractSpec)));
    ContractSpec *contract = (ContractSpec *)gContractSpecs.items + gContractSpecs.count++;
    *contract = ContractSpec{};
    CopyString(contract->Match1, sizeof contract->Match1, "ES", -1);
    contract->FuturesOpenTime = 170000;
    ResetTradeListState();
    struct Case {
        const char *symbol;
        int32_t entryClock, exitDate, exitClock;
        int32_t entryAfter, exitAfter;
    } cases[] = {
        {"ES", 170000, 20240112, 235900, 20240111, 20240115},
        {"ES", 165959, 20240112, 93000, 20240110, 20240112},
        {"ES", 180000, 0, 180000, 20240111, 0}, /* still open */
        {"NQ", 180000, 20240112, 180000, 20240110, 20240112},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.symbol) + " " + std::to_string(c.entryClock));
        TradeListRow row{};
        CopyString(row.symbol, TL_SYMBOL_SIZE, c.symbol, -1);
        row.side = 1;
        row.quantityIn = row.quantityOut = 1;
        row.priceIn = row.priceOut = 10;
        row.valid = 1;
        row.entryDate = 20240110;
        row.entryClock = c.entryClock;
        row.exitDate = c.exitDate;
        row.exitClock = c.exitClock;
        MapTradeSymbols(strategy.get(), &row, 20240108, 20240119);
        EXPECT_EQ(1u, row.valid);
        EXPECT_EQ(c.entryAfter, row.entryDate);
        EXPECT_EQ(c.exitAfter, row.exitDate);
    }
}

} // namespace
