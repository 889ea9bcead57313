#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "shell/headless/headless.h"
#include "script/compiler/settings_items.h"
#include "support/program_state.h"
#include "views/stats_export.h"

namespace {

struct ExportTest : ProgramStateTest {
    int savedMode = gRun.mode;
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    }
    void TearDown() override
    {
        gRun.mode = savedMode;
        ProgramStateTest::TearDown();
    }
};

TEST_F(ExportTest, OptimizationFileNamesCarryTheTestNumber)
{
    struct Case {
        int mode;
        const char *path;
        const char *expected;
    } cases[] = {
        {RUN_MODE_OPTIMIZE, "out.csv", "out.7.csv"},
        {RUN_MODE_OPTIMIZE, "out", "out.7"},
        {RUN_MODE_OPTIMIZE, "C:\\my.dir\\out", "C:\\my.dir\\out.7"}, /* a dot in a folder is no extension */
        {RUN_MODE_OPTIMIZE, "a.b\\c.d.csv", "a.b\\c.d.7.csv"},
        {RUN_MODE_TEST, "stats.csv", "stats.csv"},
    };
    for (const Case &c : cases) {
        gRun.mode = c.mode;
        MakeNumberedFileName(c.path, 7);
        EXPECT_STREQ(c.expected, gExportPath) << c.path;
    }
    /* A numbered name that a path cannot hold is refused, never cut. */
    gRun.mode = RUN_MODE_OPTIMIZE;
    const std::string fits = std::string(253, 'f') + ".csv", tooLong = "g" + fits;
    EXPECT_EQ(1, MakeNumberedFileName(fits.c_str(), 7));
    EXPECT_EQ(std::string(253, 'f') + ".7.csv", gExportPath);
    EXPECT_EQ(0, MakeNumberedFileName(tooLong.c_str(), 7));
    EXPECT_STREQ("", gExportPath);
}

/* A test with a Strategy and a Benchmark; trades: a closed one, a skipped
** setup (no exit) and a benchmark trade. */
TestRecord *MakeTest()
{
    TestRecord *t = ReadTestRecord(nullptr, 0, 2, 2, 0);
    t->testNumber = 3;
    t->rowsFilled = 2;
    CopyString(t->strategies[0].name, 80, "Main", -1);
    t->strategies[0].kind = STRATEGY_KIND_STRATEGY;
    CopyString(t->strategies[1].name, 80, "Bench", -1);
    t->strategies[1].kind = STRATEGY_KIND_BENCHMARK;
    t->cells[0].date = t->cells[1].date = 20240102;
    t->cells[2].date = t->cells[3].date = 20240103;
    TradeRecord *a = AddTrade(t);
    *a = TradeRecord{};
    a->strategy = 0;
    a->side = -1;
    CopyString(a->symbol, 40, "AAA", -1);
    a->dateIn = 20240102;
    a->timeIn = 1;
    a->quantityIn = 100;
    a->priceIn = 12.5;
    a->commissionIn = 1;
    a->dateOut = 20240103;
    a->timeOut = 3;
    a->quantityOut = 100;
    a->priceOut = 11.25;
    a->commissionOut = 1.5;
    a->valueIn = 1250;
    a->valueOut = 1125;
    TradeRecord *skipped = AddTrade(t);
    skipped->strategy = 0;
    skipped->dateIn = 20240103;
    TradeRecord *bench = AddTrade(t);
    bench->strategy = 1;
    bench->dateIn = 20240102;
    bench->dateOut = 20240103;
    return t;
}

TEST_F(ExportTest, TradesFileHoldsOnlyClosedStrategyTrades)
{
    gScriptSettings.SaveTradesType = 1; /* Compact */
    TestRecord *t = MakeTest();
    std::string path = tmp.File("trades.csv");
    EXPECT_EQ(1, SaveTradesCsv(t, path.c_str()));
    EXPECT_EQ("Strategy,Symbol,Side,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut,TimeIn,TimeOut,"
              "ValueIn,ValueOut,Terms\n"
              "Main,AAA,-1,2024-01-02,100,12.5,1,2024-01-03,100,11.25,1.5,open,close,1250,1125,AsTraded\n",
              ReadTestFile(path));
    FreeTestRecord(nullptr, t);
}

TEST_F(ExportTest, StatsFileHasARowPerDateAndStrategy)
{
    TestRecord *t = MakeTest();
    std::string path = tmp.File("stats.csv");
    EXPECT_EQ(1, SaveStatsCsv(t, path.c_str()));
    EXPECT_EQ("Date,Strategy\n2024-01-02,Main\n2024-01-02,Bench\n2024-01-03,Main\n2024-01-03,Bench\n",
              ReadTestFile(path));
    FreeTestRecord(nullptr, t);
}

TEST_F(ExportTest, FullTradesFileHasTheTradeListColumns)
{
    gScriptSettings.SaveTradesType = 0; /* Full */
    /* The first trade was made whole again, so it carries number 0; prices
    ** without a tick print their own decimals; the benchmark trade has no
    ** quantity, so it is a paper trade. */
    TestRecord *t = MakeTest();
    std::string path = tmp.File("full.csv");
    EXPECT_EQ(1, SaveTradesCsv(t, path.c_str()));
    EXPECT_EQ("Trade,Strategy,Symbol,Side,DateIn,TimeIn,QtyIn,PriceIn,DateOut,TimeOut,QtyOut,PriceOut,Reason\r\n"
              "00000,Main,AAA,Short,2024-01-02,open,100,12.5,2024-01-03,close,100,11.25,n/a\r\n"
              "00002,Main,,Skip Trade,2024-01-03,n/a,0,0,,n/a,n/a,n/a,\r\n"
              "00003,Bench,,Paper Trade,2024-01-02,n/a,0,0,2024-01-03,n/a,0,0,n/a\r\n",
              ReadTestFile(path));
    FreeTestRecord(nullptr, t);
}

TEST_F(ExportTest, AnExportThatCannotBeCreatedSetsTheFileErrorCode)
{
    TestRecord *t = MakeTest();
    std::string path = tmp.File("missing\\x.csv");
    EXPECT_EQ(0, SaveStatsCsv(t, path.c_str()));
    EXPECT_EQ("Unable to create SaveStatsAs file '" + path + "'.", std::string(LastMessage()));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    gRun.resultCode = RESULT_OK;
    EXPECT_EQ(1, SaveTradesCsv(t, path.c_str()));
    EXPECT_EQ("Unable to create " + path, std::string(LastMessage()));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    FreeTestRecord(nullptr, t);
}

/* A full trade list that cannot be computed whole (its memory runs out at
** any of its first allocations) is not written: a heading over some of the
** test's trades would read as its answer.  The previous file stays, and the
** run says why and ends with the low-memory code. */
TEST_F(ExportTest, AFullTradeListThatIsNotWholeIsNotWritten)
{
    gScriptSettings.SaveTradesType = 0; /* Full */
    TestRecord *t = MakeTest();
    const std::string path = tmp.File("full.csv"), old = "Trade,Strategy\r\n00001,Main\r\n";
    for (int nth = 1; nth <= 4; nth++) {
        SCOPED_TRACE(nth);
        ASSERT_TRUE(WriteTestFile(path, old));
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        FailNthAllocation(nth);
        EXPECT_EQ(1, SaveTradesCsv(t, path.c_str()));
        FailNthAllocation(0);
        gOutOfMemory = 0;
        gRun.lowMemory = 0;
        EXPECT_EQ(old, ReadTestFile(path));
        EXPECT_EQ("full.csv;", ListTestFolder(tmp.path));
        bool said = false;
        for (int m = 0; m < gHeadless.messageCount && m < HEADLESS_MESSAGES; m++)
            said = said || std::string(gHeadless.messages[m]) ==
                               path + " was not saved: there was not memory enough to compute its trade list.";
        EXPECT_TRUE(said) << LastMessage();
        EXPECT_EQ(RESULT_LOW_MEMORY, gRun.resultCode.load());
    }
    FreeTestRecord(nullptr, t);
}

/* A full disk while the new file is written, or a rename refused (the old file
** held open elsewhere): the export is reported once and the user's previous
** file keeps every byte, with nothing left beside it. */
TEST_F(ExportTest, AFailedExportLeavesThePreviousFileAsItWas)
{
    TestRecord *t = MakeTest();
    const std::string path = tmp.File("out.csv"), old = "Date,Strategy\n2023-12-29,Main\n";
    const struct {
        const char *what;
        int (*save)(TestRecord *, const char *);
        int32_t tradesType; /* 0 Full, 1 Compact */
        int result;         /* what the export answers after the failure */
    } exports[] = {
        {"stats", SaveStatsCsv, 1, 0},
        {"compact trades", SaveTradesCsv, 1, 1},
        {"full trades", SaveTradesCsv, 0, 1},
    };
    const struct {
        int kind;
        std::string message; /* how the report begins */
    } faults[] = {
        {PLAT_FAULT_WRITE, "Error writing "},
        {PLAT_FAULT_RENAME, "Unable to create " + path + "\r\n\r\n"},
    };
    for (const auto &e : exports)
        for (const auto &f : faults) {
            SCOPED_TRACE(std::string(e.what) + " " + f.message);
            gScriptSettings.SaveTradesType = e.tradesType;
            ASSERT_TRUE(WriteTestFile(path, old));
            PlanOneFault(f.kind, 0);
            EXPECT_EQ(e.result, e.save(t, path.c_str()));
            ExpectOneFailedReplace(f.kind, path, old, tmp.path, "out.csv;");
            EXPECT_EQ(0u, std::string(LastMessage()).rfind(f.message, 0)) << LastMessage();
        }
    FreeTestRecord(nullptr, t);
}

} // namespace
