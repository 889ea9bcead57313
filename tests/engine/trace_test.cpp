/* The simulation trace of small runs, line by line. */
#include <gtest/gtest.h>

#include <string>

#include "engine/trace.h"
#include "script/eval/eval_context.h"
#include "shell/headless/headless.h"
#include "engine_fixture.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "support/test_support.h"

namespace {

struct TraceTest : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        std::vector<int32_t> d = Weekdays(20240108, 20240112);
        LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14})}});
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        gSettings.AddLog = 1;
    }
    std::string Log() const { return ReadTestFile(gLogsFolder + std::string("\\TEST_0001.TXT")); }
};

TEST_F(TraceTest, ACashFlowDayShowsThePortfolioOfEveryStrategy)
{
    Write("cash.csv", "Date,Amount\n20240110,5000\n");
    ASSERT_EQ(0, Run("Strategy: S1\n  CashList: cash.csv\n  EntrySetup: 0\n"));
    std::string log = Log();
    /* The flow, then an empty line and the state after it: nothing invested
    ** of the 105,000 allocation, all of it free cash. */
    EXPECT_NE(std::string::npos, log.find("\r\n2024-01-10\topen\tS1\tCashInOut = $5,000.00\t\r\n"
                                          "\r\n"
                                          "2024-01-10\topen\tS1\t$0.00 of $105,000.00 (0.00%) invested "
                                          "[$105,000.00 cash] in 0 positions\r\n"))
        << log;
}

TEST_F(TraceTest, OpenPositionsAreListedWithTheirQuantities)
{
    ASSERT_EQ(0, Run("Strategy: S1\n  EntrySetup: 1\n  Quantity: 100\n  MaxPositions: 1\n"));
    std::string log = Log();
    /* Entered at the open of Jan 9 at 11: 100 x 11 of the 100,000 invested. */
    EXPECT_NE(std::string::npos, log.find("\r\n2024-01-09\tintraday\tS1\t$1,100.00 of $100,000.00 (1.10%) invested "
                                          "[$98,900.00 cash] in 1 position: AAA(100)\r\n"))
        << log;
}

TEST_F(TraceTest, NamedValuesSkipZeroAndMissingNames)
{
    EvalContext context{};
    StrategyRecord strategy{};
    CopyString(strategy.name, sizeof strategy.name, "S9", -1);
    context.strategy = &strategy;
    context.date = 20240109;
    context.barPhase = 3;
    gHeadless.captureLog = 1;
    LogNamedValue(&context, "Net Interest", 0);
    LogNamedValue(&context, nullptr, 5);
    LogNamedValue(&context, "Net Interest", -12.5);
    LogNamedValue(&context, "Huge", 2e14);
    EXPECT_EQ("2024-01-09\tclose\tS9\tNet Interest = $-12.50 \n2024-01-09\tclose\tS9\t\n",
              std::string(gHeadless.logText ? gHeadless.logText : ""));
}

} // namespace

namespace {

TEST_F(TraceTest, DebugItemsShowTheFormulaTextOfTheEntry)
{
    gSettings.AddDebug = 1;
    ASSERT_EQ(0, Run("Strategy: S1\n  EntrySetup: 1\n  Quantity: 100\n  MaxPositions: 1\n  DebugEntry: C * 2\n"));
    std::string log = Log();
    /* Entered at the open of Jan 9: the formula reads the bar of Jan 8,
    ** whose close 10 doubles to 20. */
    EXPECT_NE(std::string::npos, log.find("\r\n2024-01-09\topen\tS1\t*DEBUG*\tAAA\tDebugEntry\t2024-01-08\t20\t\r\n"))
        << log;
}

} // namespace

namespace {

/* Each bar date the limits given are traced before the setups: MaxSameSym
** only when above 1, amounts as money. */
TEST_F(TraceTest, TheLimitsGivenAreTracedEachDate)
{
    ASSERT_EQ(0, Run("Strategy: S1\n  EntrySetup: 0\n  MaxPositions: 3\n  MaxSameSym: 1\n  MaxInvested: 5000\n"));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("\r\n2024-01-10\topen\tS1\tMaxPositions = 3 MaxInvested = $5,000.00 \r\n"))
        << log;
    ASSERT_EQ(0, Run("Strategy: S1\n  EntrySetup: 0\n"));
    std::string second = ReadTestFile(gLogsFolder + std::string("\\TEST_0002.TXT"));
    EXPECT_FALSE(second.empty());
    EXPECT_EQ(std::string::npos, second.find("Max")) << second;
}

} // namespace

namespace {

/* Held from the open of Jan 9, the stop (and target) are checked intraday on
** Jan 9 to 12; each check writes one debug line, also when a target and a
** stop of the same timing are both checked.  Before the close the formula
** reads the day before: Jan 9 reads the close of Jan 8, 10. */
TEST_F(TraceTest, TargetAndStopChecksWriteOneDebugLineEach)
{
    gSettings.AddDebug = 1;
    const char *cases[] = {"  ExitStop: 5\n", "  ExitStop: 5\n  ExitLimit: 100\n"};
    int32_t test = 0;
    for (const char *exits : cases) {
        SCOPED_TRACE(exits);
        ASSERT_EQ(0, Run(std::string("Strategy: S1\n  EntrySetup: 1\n  Quantity: 100\n  MaxPositions: 1\n") + exits + "  DebugTargetStop: C\n"));
        char name[32];
        FormatText(name, sizeof name, "\\TEST_%.4d.TXT", (int)++test);
        std::string log = ReadTestFile(gLogsFolder + std::string(name));
        EXPECT_NE(std::string::npos, log.find("\r\n2024-01-09\tintraday\tS1\t*DEBUG*\tAAA\tDebugTargetStop\t2024-01-08\t10\t\r\n"))
            << log;
        size_t lines = 0;
        for (size_t at = log.find("DebugTargetStop"); at != std::string::npos; at = log.find("DebugTargetStop", at + 1)) lines++;
        EXPECT_EQ(4u, lines) << log;
    }
}

} // namespace

namespace {

/* 7 x 10.01 and 7 x 11.11 entered and left together leave the invested sum a
** rounding residue (70.07 + 77.77 - 70.07 - 77.77 is not 0 in binary): flat
** again, the exit line and the portfolio lines read 0.00%. */
TEST_F(TraceTest, ARoundingResidueOfTheInvestedSumShowsAsNoExposure)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240112);
    LoadStore(d, {{"AAA", FlatBars(d, std::vector<double>(d.size(), 10.01))},
                  {"BBB", FlatBars(d, std::vector<double>(d.size(), 11.11))}});
    ASSERT_EQ(0, Run("Strategy: S1\n  EntrySetup: BarDate = 20240109\n  Quantity: 7\n  MaxPositions: 2\n  ExitRule: 1\n"));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("\tBBB\tsell\t7\t11.11\t1.00000\t0\t0\t$0.00\t$0.00\t$100,000.00\t$100,000\t$0\t$0\t0.00%\t")) << log;
    EXPECT_EQ(std::string::npos, log.find("e-")) << log;
    EXPECT_EQ(std::string::npos, log.find("-0.00%")) << log;
}

/* The log is UTF-8 like the names in it: an account's euro is U+20AC, not
** the code-page byte 0x80. */
TEST_F(TraceTest, TheLogWritesTheCurrencySignInUtf8)
{
    strcpy(gStore.symbols[0].info.Currency, "EUR");
    Write("cash.csv", "Date,Amount\n20240110,5000\n");
    ASSERT_EQ(0, Run("Settings:\n  Currency: EUR\nStrategy: S1\n  CashList: cash.csv\n  EntrySetup: 0\n")) << LastMessage();
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("\r\n2024-01-10\topen\tS1\tCashInOut = \xE2\x82\xAC" "5,000.00\t\r\n")) << log;
    EXPECT_EQ(std::string::npos, log.find('\x80' + std::string("5,000.00"))) << log;
}

} // namespace
