#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "marketdata/data_fixture.h"
#include "marketdata/store/constituency.h"
#include "script/compiler/import_items.h"
#include "support/test_support.h"

using namespace datafixture;

namespace {

struct DataLoadTest : DataTest {
    TempFolder dir;
    std::string path;
    /* A saved two-symbol file, loaded. */
    void LoadTwoSymbols()
    {
        MakeLoadedData({{"AAA", 200, 1}, {"BBB", 120, 0}}, 1, 1, "Import section");
        path = dir.File("two.kvd");
        ASSERT_EQ(SaveDataFile(path.c_str(), ImportText()), 1);
        UnloadData();
        ASSERT_EQ(LoadData(0), 1);
        ASSERT_EQ(gStore.symbolCount, 2);
    }
    void OpenWindows(std::initializer_list<const char *> classes)
    {
        for (const char *c : classes) CopyString(gHeadless.windowClasses[gHeadless.windowCount++], 32, c, -1);
    }
};

} // namespace

TEST_F(DataLoadTest, LoadingWithNoDataWindowsAsksNothing)
{
    LoadTwoSymbols();
    OpenWindows({"KestovarScript", "KestovarLog"});
    ASSERT_EQ(LoadData(0), 1);
    EXPECT_EQ(gHeadless.messageCount, 0);
    EXPECT_EQ(gHeadless.windowCount, 2);
    EXPECT_EQ(gRun.state.load(), RUN_IDLE);
    EXPECT_STREQ(gHeadless.frameTitle, "Kestovar");
}

TEST_F(DataLoadTest, ClosingDataWindowsAsksAndKeepsDataOnCancel)
{
    LoadTwoSymbols();
    OpenWindows({"KestovarTrades", "KestovarScript", "KestovarChart", "KestovarPlot"});
    gHeadless.messageBoxAnswer = 2; /* Cancel */
    EXPECT_EQ(LoadData(0), 0);
    EXPECT_STREQ(LastMessage(), "Changing the Data File will close all Chart, Graph, Plot, Scan and Trades windows.");
    EXPECT_EQ(gStore.symbolCount, 2);
    EXPECT_STREQ(gStore.loadedPath, path.c_str());
    EXPECT_EQ(gHeadless.windowCount, 4);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_OK);

    gHeadless.messageBoxAnswer = 1; /* OK: closed chart, graph, plot, scan, trades in that order */
    ASSERT_EQ(LoadData(0), 1);
    EXPECT_STREQ(gHeadless.closedWindows, "KestovarChart;KestovarPlot;KestovarTrades;");
    EXPECT_EQ(gHeadless.windowCount, 1);

    /* Without the question the windows close all the same. */
    gSettings.AskUnloadData = 0;
    OpenWindows({"KestovarGraph"});
    int asked = gHeadless.messageCount;
    EXPECT_EQ(CloseDataWindows(), 1);
    EXPECT_EQ(gHeadless.messageCount, asked);
    EXPECT_EQ(gHeadless.windowCount, 1);
}

/* Unloading gives back everything, whatever state the data is in. */
TEST_F(DataLoadTest, UnloadAlwaysFreesAndResets)
{
    LoadTwoSymbols();
    EXPECT_GT(gAllocatedBytes.load(), baseline);
    UnloadData();
    ExpectNothingLoaded();
    EXPECT_EQ(gStore.fileVersion, 0.0f);
    EXPECT_EQ(gStore.maxDailyBars, 0);

    /* Twice in a row, and after a load that failed. */
    UnloadData();
    ExpectNothingLoaded();
    ASSERT_TRUE(WriteTestFile(dir.File("junk.kvd"), std::string(400, 'j')));
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, dir.File("junk.kvd").c_str(), -1);
    EXPECT_EQ(LoadData(0), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_DATA_NOT_LOADED);
    ExpectNothingLoaded();

    /* Records the published count does not cover are freed too. */
    MakeLoadedData({{"X", 10, 3}, {"Y", 10, 0}}, 2, 2, "n");
    gStore.symbolCount = 0;
    UnloadData();
    ExpectNothingLoaded();
}

TEST_F(DataLoadTest, VersionNumberIsRounded)
{
    static const struct {
        float version;
        int shown;
    } kCases[] = {{0.27f, 5}, {0.28f, 6}, {0.30f, 8}, {0.31f, 9}, {0.32f, 10}, {0.33f, 11}, {0.34f, 12}};
    for (const auto &c : kCases) EXPECT_EQ(DataVersionNumber(c.version), c.shown) << c.version;
}

TEST_F(DataLoadTest, DataInformationLog)
{
    LoadTwoSymbols();
    strcpy(gSettings.DateDisplayFormat, "yyyy-MM-dd");
    free(gHeadless.logText);
    gHeadless.logText = nullptr;
    gHeadless.logLength = 0;
    /* Constituency names follow the order of the ids the file stores (3, 7). */
    ConstituencyRecord *savedTable = gConstituency;
    int32_t savedCount = gConstituencyCount;
    ConstituencyRecord table[3] = {{"Nasdaq 100", "NDX", "", 7}, {"Unused", "X", "", 5}, {"S&P 500", "SPX", "", 3}};
    gConstituency = table;
    gConstituencyCount = 3;
    LogDataInfo();
    gConstituency = savedTable;
    gConstituencyCount = savedCount;
    std::string log = gHeadless.logText ? gHeadless.logText : "";
    EXPECT_NE(log.find("\nMax Bars:\t200\n\nConstituency:\tS&P 500,Nasdaq 100\n"), std::string::npos) << log;
    EXPECT_EQ(log.rfind("\nData File:\t" + path + "\nCreated:\t", 0), 0u) << log;
    EXPECT_NE(log.find("\nVersion:\t12\n\nFirst Date:\t2020-01-02\nLast Date:\t2020-10-07\n\nSymbols:\t2\nMax Bars:\t200\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\n\nImport section\n\n"), std::string::npos) << log;
}

/* The test date range from the settings, on a daily list of 200 weekdays. */
TEST_F(DataLoadTest, TestDateRangeFollowsTheSettings)
{
    LoadTwoSymbols();
    const DateList *daily = &gStore.dateLists[BAR_DAILY];
    const int32_t F = (int32_t)daily->dates[0], L = (int32_t)daily->dates[199];
    static const struct {
        const char *what;
        int earliest, latest, numBars;
        int32_t firstDate, lastDate; /* settings before */
        int32_t wantFirst, wantLast; /* indexes */
    } kCases[] = {
        {"whole range, bar count ignored", 1, 1, 100, 0, 0, 0, 199},
        {"last 100 dates", 0, 1, 100, 20200101, 0, 100, 199},
        {"first 10 dates", 1, 0, 10, 0, 20991231, 0, 9},
        {"settings dates inside", 0, 0, 0, 20200301, 20200401, 42, 64},
        {"first date after the data", 0, 0, 0, 20300101, 20301231, 199, 199},
        {"last date before the data", 0, 0, 0, 20100101, 20100102, 0, 0},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        gSettings.UseEarliestDate = c.earliest;
        gSettings.UseLatestDate = c.latest;
        gSettings.NumBars = c.numBars;
        if (c.firstDate) gSettings.FirstDate = c.firstDate;
        if (c.lastDate) gSettings.LastDate = c.lastDate;
        int32_t first = -5, last = -5;
        ASSERT_EQ(SetTestDateRange(daily, &first, &last), 1);
        EXPECT_EQ(first, c.wantFirst);
        EXPECT_EQ(last, c.wantLast);
        EXPECT_EQ(gSettings.FirstDate, std::max((int32_t)daily->dates[first], c.earliest ? F : c.firstDate));
        EXPECT_EQ(gSettings.LastDate, std::min((int32_t)daily->dates[last], c.latest ? L : c.lastDate));
    }
    EXPECT_EQ(gHeadless.messageCount, 0);
}

TEST_F(DataLoadTest, EmptyDateRangeReportsOnlyWhenIndexesAreAsked)
{
    LoadTwoSymbols();
    DateList empty = {nullptr, 0, 0, BAR_DAILY, 0};
    EXPECT_EQ(SetTestDateRange(&empty, nullptr, nullptr), 0);
    EXPECT_EQ(gHeadless.messageCount, 0);
    int32_t first, last;
    EXPECT_EQ(SetTestDateRange(&empty, &first, &last), 0);
    EXPECT_STREQ(LastMessage(), "No symbol in the current data file has any bars within the specified date range.");
}

TEST_F(DataLoadTest, LoadingFitsTheTestDateRange)
{
    gSettings.FirstDate = 19990101;
    gSettings.LastDate = 19990102;
    LoadTwoSymbols();
    EXPECT_EQ(gSettings.FirstDate, 20200102);
    EXPECT_EQ(gSettings.LastDate, (int32_t)gStore.dateLists[BAR_DAILY].dates[199]);
}

/* Loading marks the fundamentals fields the data holds; unloading clears the
** marks.  A field id outside the table marks nothing. */
TEST_F(DataLoadTest, FundamentalsFieldsPresentFollowTheLoadedData)
{
    MakeLoadedData({{"AAA", 20, 0}, {"BBB", 20, 0}}, 3, 0, nullptr);
    gStore.symbols[1].fundamentals[2].fieldId = 5000;
    path = dir.File("fund.kvd");
    ASSERT_EQ(SaveDataFile(path.c_str(), ImportText()), 1);
    UnloadData();
    ASSERT_EQ(LoadData(0), 1);
    for (int row = 0; row < FUNDAMENTAL_FIELD_ROWS; row++)
        EXPECT_EQ(gFundamentalFields[row].present, row >= 1 && row <= 3 ? 1 : 0) << row;
    UnloadData();
    for (int row = 0; row < FUNDAMENTAL_FIELD_ROWS; row++) EXPECT_EQ(gFundamentalFields[row].present, 0) << row;
}
