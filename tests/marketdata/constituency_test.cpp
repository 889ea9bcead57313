/* Constituency table, tick sizes and security types. */
#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/store/constituency.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "store_fixture.h"
#include "support/test_support.h"

namespace {

struct ConstituencyTest : StoreTest {
    TempFolder scripts, program;
    char savedScripts[PATH_SIZE], savedProgram[260];
    void SetUp() override
    {
        StoreTest::SetUp();
        memcpy(savedScripts, gScriptsFolder, sizeof savedScripts);
        memcpy(savedProgram, gProgramFolder, sizeof savedProgram);
        CopyString(gScriptsFolder, sizeof gScriptsFolder, scripts.path.c_str(), -1);
        CopyString(gProgramFolder, sizeof gProgramFolder, program.path.c_str(), -1);
    }
    void TearDown() override
    {
        FreeMemory(&gConstituency);
        gConstituencyCount = 0;
        memcpy(gScriptsFolder, savedScripts, sizeof savedScripts);
        memcpy(gProgramFolder, savedProgram, sizeof savedProgram);
        gRun.resultCode = 0;
        StoreTest::TearDown();
    }
};

TEST_F(ConstituencyTest, ReadsRowsAndSkipsThoseWithoutAUsableId)
{
    ASSERT_TRUE(WriteTestFile(scripts.File("constituency.csv"),
                              "\xEF\xBB\xBFId,Label,Name,Text\r\n"
                              "3, \"S&P 500, Large\",SP500,Large caps\r\n"
                              "998,Clash,Clash,x\n"
                              "997,Clash2,Clash2,x\n"
                              "0,Zero,Zero,x\n"
                              "2147483647,Wide,Wide,x\n"
                              "4294967299,Wrap,Wrap,x\n"
                              "-5,Negative,Negative,x\n"
                              "12,A label much longer than thirty-nine characters,NDX\n"
                              "7\n"));
    ASSERT_EQ(LoadConstituency(), 1);
    ASSERT_EQ(gConstituencyCount, 3);
    EXPECT_EQ(gConstituency[0].id, 3u);
    EXPECT_STREQ(gConstituency[0].label, "S&P 500 Large");
    EXPECT_STREQ(gConstituency[0].scriptName, "SP500");
    EXPECT_STREQ(gConstituency[0].fourthColumn, "Large caps");
    EXPECT_EQ(gConstituency[1].id, 12u);
    EXPECT_EQ(strlen(gConstituency[1].label), 39u);
    EXPECT_STREQ(gConstituency[1].scriptName, "NDX");
    EXPECT_STREQ(gConstituency[1].fourthColumn, "");
    EXPECT_EQ(gConstituency[2].id, 7u);
    EXPECT_STREQ(gConstituency[2].label, "");
    for (int i = 0; i < gConstituencyCount; i++) EXPECT_GE(gConstituency[i].id, 1u);

    EXPECT_STREQ(FindConstituencyLabel(3), "S&P 500 Large");
    EXPECT_STREQ(FindConstituencyLabel(7), "");
    EXPECT_EQ(FindConstituencyLabel(998), nullptr); /* refused row */
    EXPECT_EQ(FindConstituencyLabel(0), nullptr);   /* the heading */
}

/* An id is its whole column, never the number its text begins with; a
** later line that gives none is named in the log.  The heading is not. */
TEST_F(ConstituencyTest, IdsThatAreNoWholeNumberAreNamedAndSkipped)
{
    ASSERT_TRUE(WriteTestFile(scripts.File("constituency.csv"),
                              "Id,Label,Name\n1e3,Large,SP500\n12abc,Mid,SP400\n\n-5,Neg,NEG\n7 ,Small,SP600\n"));
    gHeadless.captureLog = 1;
    ASSERT_EQ(LoadConstituency(), 1);
    gHeadless.captureLog = 0;
    ASSERT_EQ(gConstituencyCount, 1);
    EXPECT_EQ(gConstituency[0].id, 7u);
    EXPECT_EQ(FindConstituencyLabel(1), nullptr);
    EXPECT_EQ(FindConstituencyLabel(12), nullptr);
    const std::string file = scripts.File("constituency.csv");
    const std::string tail = ", which is no whole number from 1 to 2147483646, and was skipped.\n";
    const std::string expected = "Line 2 of " + file + " gives the id 1e3" + tail + "Line 3 of " + file +
        " gives the id 12abc" + tail + "Line 5 of " + file + " gives the id -5" + tail;
    EXPECT_EQ(gHeadless.logText ? gHeadless.logText : "", expected);
}

TEST_F(ConstituencyTest, LinesMayEndInCarriageReturnsAlone)
{
    ASSERT_TRUE(WriteTestFile(scripts.File("constituency.csv"), "Id,Label,Name\r3,Large,SP500\r7,Small,SP600\r"));
    ASSERT_EQ(LoadConstituency(), 1);
    ASSERT_EQ(gConstituencyCount, 2);
    EXPECT_STREQ(FindConstituencyLabel(3), "Large");
    EXPECT_STREQ(FindConstituencyLabel(7), "Small");
}

/* A quote a line leaves open costs that line, named in the log, and never
** runs the names of the rows after it together. */
TEST_F(ConstituencyTest, AQuoteNeverReachesPastItsLine)
{
    ASSERT_TRUE(WriteTestFile(scripts.File("constituency.csv"), "3,\"S&P 500,SP500,x\n7,Small,SP600,y\n"));
    gHeadless.captureLog = 1;
    ASSERT_EQ(LoadConstituency(), 1);
    gHeadless.captureLog = 0;
    ASSERT_EQ(gConstituencyCount, 1);
    EXPECT_EQ(gConstituency[0].id, 7u);
    EXPECT_STREQ(gConstituency[0].label, "Small");
    EXPECT_STREQ(gConstituency[0].scriptName, "SP600");
    const std::string log = gHeadless.logText ? gHeadless.logText : "";
    EXPECT_NE(log.find("Line 1 of " + scripts.File("constituency.csv") +
                       " opens a double quote that it does not close and was skipped."),
              std::string::npos)
        << log;
}

TEST_F(ConstituencyTest, FallsBackToTheProgramFolder)
{
    ASSERT_TRUE(WriteTestFile(program.File("constituency.csv"), "5,Dow,DJI,30 stocks"));
    ASSERT_EQ(LoadConstituency(), 1);
    ASSERT_EQ(gConstituencyCount, 1);
    EXPECT_STREQ(gConstituency[0].scriptName, "DJI");
    EXPECT_STREQ(gConstituency[0].fourthColumn, "30 stocks");
}

TEST_F(ConstituencyTest, MissingFileLeavesTheTableEmpty)
{
    EXPECT_EQ(LoadConstituency(), 0);
    EXPECT_EQ(gConstituencyCount, 0);
    EXPECT_NE(strstr(LastMessage(), "Unable to open "), nullptr);
    EXPECT_EQ(gRun.resultCode.load(), 3);
}

TEST_F(StoreTest, TickSizes)
{
    static const struct {
        int type;
        double tick;
        const char *exchange;
        int32_t date;
        double close, price, want;
    } kCases[] = {
        {SECURITY_STOCK, 0.01, "", 20240105, 1.50, 0, 0.01},
        {SECURITY_STOCK, 0.01, "", 20240105, 1.50, 0.75, 0.0001},
        {SECURITY_STOCK, 0.01, "", 20240105, 0.75, 0, 0.0001},
        {SECURITY_STOCK, 0.01, "TSX-V", 20240105, 0, 0.40, 0.005},
        {SECURITY_STOCK, 0.01, "tsx", 20240105, 0, 0.60, 0.01},
        {SECURITY_STOCK, 0.01, "neo", 20240105, 0, 0.40, 0.005},
        {SECURITY_STOCK, 0.01, "CSE", 20240105, 0, 0.40, 0.005},
        {SECURITY_STOCK, 0.01, "ASX", 20240105, 0, 0.05, 0.001},
        {SECURITY_STOCK, 0.01, "ASX", 20240105, 0, 1.20, 0.005},
        {SECURITY_STOCK, 0.01, "", 19990105, 0, 50.0, 0.0001},
        {SECURITY_STOCK, 0.01, "", 20240105, 0, 2.0, 0.01},
        {SECURITY_FUTURES, 0.25, "", 19990105, 0, 0.5, 0.25},
        {SECURITY_STOCK, 0.05, "", 19990105, 0, 0.5, 0.05},
        {SECURITY_FOREX, 0.01, "", 20240105, 0, 0.5, 0.01},
    };
    for (const auto &c : kCases) {
        SymbolRecord symbol{};
        symbol.securityType = c.type;
        symbol.info.TickSize = c.tick;
        CopyString(symbol.info.Exchange, sizeof symbol.info.Exchange, c.exchange, -1);
        Bar bar{};
        bar.date = c.date;
        bar.close = c.close;
        EXPECT_DOUBLE_EQ(GetTickSize(&symbol, &bar, c.price), c.want) << c.exchange << " " << c.date << " " << c.price;
    }
    SymbolRecord stock{};
    stock.info.TickSize = 0.01;
    /* without a bar there is neither a close nor a date to refine by */
    EXPECT_DOUBLE_EQ(GetTickSize(&stock, nullptr, 0.0), 0.01);
    EXPECT_DOUBLE_EQ(GetTickSize(&stock, nullptr, 0.5), 0.0001);
    /* adjusted data has no tick, except while orders are generated */
    gStore.keepAdjusted = 1;
    EXPECT_EQ(GetTickSize(&stock, nullptr, 5.0), 0.0);
    gRun.generatingOrders = 1;
    EXPECT_EQ(GetTickSize(&stock, nullptr, 5.0), 0.01);
    gRun.generatingOrders = 0;
}

TEST(SecurityTypes, FromTypeText)
{
    static const struct {
        const char *text;
        int want;
    } kCases[] = {
        {"Futures", SECURITY_FUTURES},
        {"FUT", SECURITY_FUTURES},
        {"future", SECURITY_FUTURES},
        {"Forex", SECURITY_FOREX},
        {"FX", SECURITY_FOREX},
        {"fx spot", SECURITY_FOREX},
        {"Stock", SECURITY_STOCK},
        {"", SECURITY_STOCK},
        {"Fu", SECURITY_STOCK},
        {nullptr, SECURITY_STOCK},
    };
    for (const auto &c : kCases) EXPECT_EQ(ParseSecurityType(c.text), c.want) << (c.text ? c.text : "null");
}

} // namespace
