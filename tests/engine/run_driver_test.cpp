/* The run driver's obligations: failures by step, the settings put back,
** the runtime error shown once, a stop mid-test, skipped tests. */
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/date_loop.h"
#include "engine/optimizer.h"
#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "marketdata/store/datafile.h"
#include "engine/run_view_hooks.h"
#include "engine_fixture.h"
#include "script/builtins/builtins.h"
#include "script/compiler/settings_items.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "foundation/settings_table.h"
#include "script/eval/evaluator.h"
#include "shell/headless/headless.h"
#include "shell/run_view_setup.h"
#include "views/results_rows.h"
#include "services/services.h"

namespace {

struct DriverRun : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        LoadFlat("AAA", 20240108, 20240119);
    }
};

TEST_F(DriverRun, EachModeChecksTheSectionItNeeds)
{
    struct Case {
        int mode;
        const char *script;
        int result;
        int code;
        const char *message; /* "" none */
    } cases[] = {
        {3, "Data:\n  X: C\n", -1, RESULT_COMPILE_FAILURE, "has a missing or incomplete Strategy section."},
        {2, "Strategy: S1\n  EntrySetup: 0\n", -1, RESULT_COMPILE_FAILURE, "has a missing or incomplete Scan section."},
        {0, "Strategy: S1\n  EntrySetup: 0\n", -1, RESULT_COMPILE_FAILURE, "has a missing or incomplete Import section."},
        {1, "Data:\n  X: C\n", 0, RESULT_OK, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(c.result, Run(c.script, c.mode));
        EXPECT_EQ(c.code, gRun.resultCode.load());
        if (c.message[0]) {
            EXPECT_NE(nullptr, strstr(LastMessage(), c.message)) << LastMessage();
            EXPECT_NE(nullptr, strstr(LastMessage(), "main.kvs")) << LastMessage();
        } else {
            EXPECT_STREQ("Script Checked and Applied", LastNotice());
        }
        EXPECT_EQ(RUN_IDLE, gRun.state.load());
        EXPECT_EQ(1, gRun.mode);
    }
    EXPECT_EQ(0, Listed());
}

TEST_F(DriverRun, TheScriptsSettingsLastOneRun)
{
    ASSERT_EQ(0, Run("Settings:\n  AccountSize: 5000\nStrategy: S1\n  EntrySetup: 0\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    EXPECT_DOUBLE_EQ(5000, test->settings.AccountSize);
    EXPECT_DOUBLE_EQ(5000, Cell(test, 0, 0)->startEquity);
    EXPECT_DOUBLE_EQ(100000, gSettings.AccountSize);
    EXPECT_STREQ("main", test->settings.TestName);
    EXPECT_EQ(1, test->testNumber);
    /* The next test of the list gets the next number. */
    ASSERT_EQ(0, Run("Strategy: S1\n  EntrySetup: 0\n"));
    EXPECT_EQ(2, LastTest()->testNumber);
    EXPECT_EQ(2, Listed());
}

/* Another program (a scheduled import) replaces the loaded data file between
** two runs: the next run loads it again and tests on the data as they are on
** disk, here prices of 20 where the loaded data had 10. */
TEST_F(DriverRun, ARunLoadsAgainADataFileAnotherProgramReplaced)
{
    const std::string data = tmp.File("Data\\test.kvd"), imported = tmp.File("Data\\imported.kvd");
    LoadFlat("AAA", 20240108, 20240119, 20);
    ASSERT_EQ(1, SaveDataFile(imported.c_str(), nullptr));
    LoadFlat("AAA", 20240108, 20240119, 10);
    ASSERT_EQ(1, SaveDataFile(data.c_str(), nullptr));
    const std::string script = "Settings:\n  StartDate: 2024-01-08\n  EndDate: 2024-01-19\nStrategy: S1\n"
                               "  EntrySetup: BarDate = 20240110\n  Quantity: 100\n  QtyType: Shares\n";
    const TradeRecord *trade = TradesOfRun(1, script);
    ASSERT_NE(nullptr, trade);
    EXPECT_DOUBLE_EQ(10, trade->priceIn);
    ASSERT_EQ(1, PlatRenameReplace(imported.c_str(), data.c_str()));
    trade = TradesOfRun(1, script);
    ASSERT_NE(nullptr, trade);
    EXPECT_DOUBLE_EQ(20, trade->priceIn);
    EXPECT_STREQ(data.c_str(), gStore.loadedPath);
}

TEST_F(DriverRun, APendingRuntimeErrorIsShownOnceAndCleared)
{
    SetPendingRuntimeError("%s", "Division by zero in X");
    Run("Data:\n  X: C\n", 1);
    EXPECT_STREQ("Script Runtime Error:\nDivision by zero in X", LastMessage());
    EXPECT_EQ(0, gPendingRuntimeError[0]);
}

/* The plug-in library is let go when a run ends, so a library rebuilt in its
** place is the one the next compile loads: here a copy without the export. */
TEST_F(DriverRun, ARunLetsGoOfThePlugInLibrary)
{
    ASSERT_TRUE(InstallBuiltins());
    TempFolder folder;
    std::string suffix = PlatLibrarySuffix(), plugin = folder.File("radez" + suffix);
    ASSERT_EQ(1, PlatCopyFile((TestProgramFolder() + "\\radez" + suffix).c_str(), plugin.c_str()));
    char saved[sizeof gSettings.UserDllPath];
    memcpy(saved, gSettings.UserDllPath, sizeof saved);
    CopyString(gSettings.UserDllPath, sizeof gSettings.UserDllPath, folder.path.c_str(), -1);
    EXPECT_EQ(0, Run("Data:\n  P: DllDataCalc(2)\n", 1)) << LastMessage();
    ASSERT_EQ(1, PlatCopyFile((TestProgramFolder() + "\\kvtestlib" + suffix).c_str(), plugin.c_str()));
    EXPECT_EQ(0, LoadPluginDll(1));
    LoadPluginDll(0);
    memcpy(gSettings.UserDllPath, saved, sizeof saved);
}

TEST_F(DriverRun, AStopMidTestKeepsThePartialTestAndTheSettings)
{
    gHeadless.stopAtPump = 6;
    ASSERT_EQ(0, Run("Settings:\n  AccountSize: 5000\nStrategy: S1\n  EntrySetup: 0\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    EXPECT_LT(test->rowsFilled, test->rowCount);
    EXPECT_GT(test->rowsFilled, 0);
    EXPECT_EQ(days[test->rowsFilled - 1], test->lastDate);
    EXPECT_EQ(test->lastDate, test->settings.LastDate);
    EXPECT_STREQ("Test Stopped", LastNotice());
    EXPECT_EQ(RESULT_STOPPED, gRun.resultCode.load());
    EXPECT_DOUBLE_EQ(100000, gSettings.AccountSize);
    EXPECT_EQ(RUN_IDLE, gRun.state.load());
}

TEST_F(DriverRun, SkipTestIfLeavesNoTest)
{
    EXPECT_EQ(0, Run("Settings:\n  SkipTestIf: 1\nStrategy: S1\n  EntrySetup: 0\n"));
    EXPECT_EQ(0, Listed());
    EXPECT_EQ(0, Run("Settings:\n  SkipTestIf: 0\nStrategy: S1\n  EntrySetup: 0\n"));
    EXPECT_EQ(1, Listed());
}

TEST_F(DriverRun, ACurrencyWithoutItsPairEndsTheRun)
{
    strcpy(gStore.symbols[0].info.Currency, "EUR");
    EXPECT_EQ(-1, Run("Settings:\n  Currency: USD\nStrategy: S1\n  EntrySetup: 0\n"));
    EXPECT_STREQ("Either EURUSD or USDEUR must be imported to support Currency: USD", LastMessage());
    EXPECT_EQ(0, Listed());
}

TEST_F(DriverRun, CsvPathsMustEndInCsvAndFit)
{
    char out[PATH_SIZE];
    EXPECT_EQ(1, CheckSaveAsCsvPath(out, "?output?\\list.CSV", "Stats"));
    EXPECT_EQ(RESULT_OK, gRun.resultCode.load());
    EXPECT_EQ(0, CheckSaveAsCsvPath(out, "list.txt", "Trades"));
    EXPECT_STREQ("SaveTradesAs file path must end with .CSV", LastMessage());
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load()) << "a refused export is a file not written";
    SetResultCode(RESULT_OK);
    EXPECT_EQ(0, CheckSaveAsCsvPath(out, "list", "Positions"));
    EXPECT_STREQ("SavePositionsAs file path must end with .CSV", LastMessage());
    std::string longPath = std::string(250, 'a') + "\\" + std::string(20, 'b') + ".csv";
    EXPECT_EQ(0, CheckSaveAsCsvPath(out, longPath.c_str(), "Stats"));
    EXPECT_STREQ("SaveStatsAs file path is too long -- maximum is 260 chars.", LastMessage());
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
}

} // namespace

namespace {

TEST_F(DriverRun, AWalkForwardTestRunsInSampleThenOutOfSample)
{
    ASSERT_EQ(0, Run("Parameters:\n  Len: 1, 2\nWalkForward:\n  dates: 2024-01-08, 2024-01-15\n  Len: 3\n"
                     "Strategy: S1\n  EntrySetup: C > Len\n"))
        << LastMessage();
    ResultsWindow *w = FirstResultsWindow();
    ASSERT_NE(nullptr, w);
    ASSERT_EQ(2, w->testCount);
    EXPECT_STREQ("main #WF-IS", w->firstTest->settings.TestName);
    EXPECT_EQ(1, w->firstTest->testNumber);
    EXPECT_STREQ("main #WF-OOS", w->lastTest->settings.TestName);
    EXPECT_EQ(2, w->lastTest->testNumber);
}

TEST_F(DriverRun, TheTestNameFormulaNamesTheTest)
{
    /* A number names the test as "%g"; zero leaves the script's name. */
    ASSERT_EQ(0, Run("Settings:\n  TestName: 2.5 * 2\nStrategy: S1\n  EntrySetup: 0\n")) << LastMessage();
    EXPECT_STREQ("5", LastTest()->settings.TestName);
    ASSERT_EQ(0, Run("Settings:\n  TestName: 0\nStrategy: S1\n  EntrySetup: 0\n")) << LastMessage();
    EXPECT_STREQ("main", LastTest()->settings.TestName);
}

} // namespace

namespace {

struct BadInput : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        std::vector<int32_t> d = Weekdays(20240108, 20240112);
        LoadStore(d, {{"ONE", {{20240110, 5, 5, 5, 5}}}, {"ZERO", FlatBars(d, {0, 0, -1, 0, 0})}, {"OK", FlatBars(d, {10, 11, 12, 13, 14})}});
    }
};

TEST_F(BadInput, BadDataAndRangesEndCleanlyWithTheSettingsBack)
{
    struct Case {
        const char *name;
        const char *script;
        int result;
    } cases[] = {
        /* A range past the data shrinks to its last date. */
        {"a range outside the data", "Settings:\n  StartDate: 2030-01-01\n  EndDate: 2030-02-01\n"
                                     "Strategy: S\n  EntrySetup: 1\n  Quantity: 10\n",
         0},
        {"zero, negative and one-bar symbols", "Strategy: S\n  EntrySetup: 1\n  Quantity: 10\n  QtyType: Value\n"
                                               "  ExitRule: 1\n",
         0},
        {"a formula failing mid-test", "Strategy: S\n  EntrySetup: 1 / (C - 12)\n  Quantity: 100 / (C - 11)\n"
                                       "  ExitRule: 1 / (C - 13)\n",
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gSettings.AccountSize = 100000;
        EXPECT_EQ(c.result, Run(std::string("Settings:\n  AccountSize: 777\n") + c.script));
        EXPECT_DOUBLE_EQ(100000, gSettings.AccountSize);
        EXPECT_EQ(RUN_IDLE, gRun.state.load());
    }
}

} // namespace

namespace {

TEST_F(DriverRun, AnImportRunKeepsTheDataFileItSaved)
{
    PlatCreateFolder(tmp.File("prices").c_str());
    ASSERT_TRUE(WriteTestFile(tmp.File("prices\\QQQ.csv"), "Date,Open,High,Low,Close,Volume\n"
                                                           "2024-01-02,10,11,9,10.5,1000\n"
                                                           "2024-01-03,10.5,12,10,11,1500\n"));
    std::string saved = tmp.File("Data\\imported.kvd");
    std::string before = gSettings.DataFile;
    ASSERT_NE(before, saved);
    EXPECT_EQ(0, Run("Import:\n  DataSource: CSV\n  DataPath: " + tmp.File("prices") + "\n  SaveAs: " + saved + "\n  StartDate: 2024-01-01\n  EndDate: 2024-01-31\n", 0))
        << LastMessage();
    /* The settings the run changed are put back, but not the new data file. */
    EXPECT_EQ(saved, std::string(gSettings.DataFile));
    EXPECT_EQ(1, gStore.symbolCount);
    EXPECT_STREQ("QQQ", gStore.symbols[0].info.Symbol);
}

} // namespace

namespace {

TEST_F(DriverRun, TestsGoToTheResultsListOfTheResultsFile)
{
    ResultsWindow *other = CreateResultsWindow(0, nullptr);
    ASSERT_NE(nullptr, other);
    ASSERT_EQ(0, Run("Settings:\n  ResultsFile: mine.kvr\nStrategy: S1\n  EntrySetup: 0\n")) << LastMessage();
    EXPECT_EQ(0, other->testCount);
    ResultsWindow *mine = FindResultsWindowByPath(gResultsFileName);
    ASSERT_NE(nullptr, mine);
    ASSERT_NE(other, mine);
    EXPECT_EQ(1, mine->testCount);
    DeleteAllTests(mine);
}

} // namespace

namespace {

/* P = 1 sets up nothing, so its test is dropped and scores nothing; the
** multi-save then writes one trades file per listed test, numbered by test. */
TEST_F(DriverRun, AnOptimizationScoresAndSavesOnlyTheTestsItLists)
{
    InstallRunViewHooks();
    ResetOptimizer();
    gSettings.OptimizeMode = OPT_COMBINATORIAL;
    gSettings.OptKeepNoTrades = 0;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    std::string trades = tmp.File("Output\\trades.csv");
    ASSERT_EQ(0, Run("Parameters:\n  P: 1, 2, 3\nSettings:\n  SaveTradesAs: " + trades + "\n  SaveTradesType: Compact\n  OptMultiSaveAs: True\nStrategy: S1\n"
                                                                                         "  EntrySetup: BarDate = 20240110 AND P > 1.5\n  Quantity: 100 * P\n  ExitRule: 1\n",
                     RUN_MODE_OPTIMIZE))
        << LastMessage();
    gRunViewHooks = {};
    EXPECT_EQ(2, Listed());
    EXPECT_EQ(2, gOptimizer.scoreCount);
    const char *header =
        "Strategy,Symbol,Side,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut,TimeIn,TimeOut,ValueIn,ValueOut,Terms\n";
    struct Case {
        const char *file, *trade;
    } cases[] = {
        {"Output\\trades.1.csv", "S1,AAA,1,2024-01-11,200,10,0,2024-01-12,200,10,0,open,open,0,0,AsTraded\n"},
        {"Output\\trades.2.csv", "S1,AAA,1,2024-01-11,300,10,0,2024-01-12,300,10,0,open,open,0,0,AsTraded\n"},
    };
    for (const Case &c : cases) EXPECT_EQ(std::string(header) + c.trade, ReadTestFile(tmp.File(c.file))) << c.file;
    EXPECT_FALSE(PlatFileExists(tmp.File("Output\\trades.3.csv").c_str()));
    EXPECT_FALSE(PlatFileExists(trades.c_str()));
    ResetOptimizer();
}

} // namespace

namespace {

/* An unattended optimization over three monthly intervals.  Without an
** editor the WalkForward section goes into the script file; with one it
** goes into the editor, which is saved once the playbacks ran.  The
** in-sample playback runs over the optimization's range and the
** out-of-sample one from the second interval to the data's last date.
** Every test scores 0, so each interval keeps its first value, 1.  The
** section has the script's line ends. */
TEST_F(DriverRun, ABatchOptimizationWritesTheSectionAndPlaysItBack)
{
    LoadFlat("AAA", 20240102, 20240430);
    ResetOptimizer();
    gRun.unattended = 1;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    const std::string script = "Settings:\n  StartDate: 2024-01-02\n  EndDate: 2024-03-29\n  OptTimeUnit: Months\n"
                               "  OptTestLength: 1\n  OptTestInterval: 1\n  OptWalkForward: True\n  OptKeepNoTrades: True\n"
                               "Parameters:\n  Len: 1, 2\nStrategy: S1\n  EntrySetup: C > 10 + Len\n";
    const std::string section = "\nWalkForward: // unit=Months, length=1, offset=1"
                                "\n\tDates: 2024-01-02, 2024-02-01, 2024-03-01, 2024-03-29\n\tLen: 1, 1, 1\n";
    /* The editor a test pretends is open on the script. */
    HeadlessScriptWindow *editor = &gHeadlessScripts.windows[gHeadlessScripts.windowCount++];
    CopyString(editor->path, sizeof editor->path, (scripts + "\\main.kvs").c_str(), -1);
    editor->text = script.c_str();
    ASSERT_EQ(0, Run(script, RUN_MODE_OPTIMIZE)) << LastMessage();
    EXPECT_EQ(section, editor->appended);
    EXPECT_EQ(3, editor->saves); /* each of the two compiles saves it first; then the playbacks' save */
    while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    gHeadlessScripts = HeadlessScripts{};

    ASSERT_EQ(0, Run(script, RUN_MODE_OPTIMIZE)) << LastMessage();
    EXPECT_EQ(script + section, ReadTestFile(scripts + "\\main.kvs"));
    ResultsWindow *w = FirstResultsWindow();
    ASSERT_NE(nullptr, w);
    ASSERT_EQ(8, w->testCount); /* two values in each of three intervals, then the two playbacks */
    const TestRecord *oos = w->lastTest, *is = oos->previous;
    EXPECT_STREQ("main #WF-IS", is->settings.TestName);
    EXPECT_EQ(20240102, is->settings.FirstDate);
    EXPECT_EQ(20240329, is->settings.LastDate);
    EXPECT_STREQ("main #WF-OOS", oos->settings.TestName);
    EXPECT_EQ(20240201, oos->settings.FirstDate);
    EXPECT_EQ(20240430, oos->settings.LastDate);
    ResetOptimizer();
}

/* A test of a script whose walk-forward section an optimization wrote plays
** its values out of sample from where that optimization's own playback did,
** the day after the first interval, and makes the playback's trades (and so
** does its order run): for every time unit, with no anchor and with
** OptAnchor: Start, over three random walks of 30 months. */
TEST_F(DriverRun, AWalkForwardTestsOutOfSampleDatesAreThoseOfItsPlayback)
{
    std::vector<int32_t> days = Weekdays(20210104, 20230628);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    uint32_t state = 5;
    for (const char *name : {"AAA", "BBB", "CCC"}) {
        std::vector<DayBar> bars;
        double price = 30;
        for (int32_t d : days) {
            state = state * 1103515245u + 12345u;
            double open = price;
            price *= 1.0 + 0.02 * (((state >> 16) % 2001) / 1000.0 - 1.0);
            bars.push_back(DayBar{d, open, std::max(open, price), std::min(open, price), price});
        }
        symbols.push_back({name, bars});
    }
    LoadStore(days, symbols);
    ASSERT_TRUE(InstallBuiltins());
    gRun.unattended = 1;
    PlatCreateFolder(tmp.File("Output\\Orders").c_str());
    WriteTestFile(tmp.File("ExchangeMap.csv"), "Exchange,Primary,Match1,HasOpg,HasMoc,TimeZone,NearCloseTime\n"
                                               "NYSE,NYSE,*,1,1,EST,15:45\n");
    const struct {
        const char *unit;
        int length;
        int32_t outOfSample; /* the day after the first interval */
    } cases[] = {{"Days", 120, 20210621}, {"Weeks", 26, 20210705}, {"Months", 6, 20210701}, {"Years", 1, 20220103}};
    for (const auto &c : cases) {
        for (const char *anchor : {"None", "Start"}) {
            SCOPED_TRACE(std::string(c.unit) + ", anchor " + anchor);
            ResetOptimizer();
            while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
            const std::string length = std::to_string(c.length);
            ASSERT_EQ(0, Run(std::string("Settings:\n  OptTimeUnit: ") + c.unit + "\n  OptTestLength: " + length +
                                 "\n  OptTestInterval: " + length + "\n  OptAnchor: " + anchor +
                                 "\n  OptWalkForward: True\n  OptKeepNoTrades: True\nParameters:\n  Len: 2, 5\n"
                                 "Strategy: S1\n  EntrySetup: C > C[Len]\n  ExitRule: C < C[1]\n  Quantity: 10\n",
                             RUN_MODE_OPTIMIZE))
                << LastMessage();
            const TestRecord *playback = LastTest();
            ASSERT_NE(nullptr, playback);
            EXPECT_EQ(c.outOfSample, playback->settings.FirstDate);
            std::vector<TradeRecord> played(playback->trades, playback->trades + playback->tradeCount);
            ResetOptimizer();
            ASSERT_EQ(0, RunScript(RUN_MODE_TEST)) << LastMessage();
            const TestRecord *test = LastTest();
            ASSERT_NE(nullptr, test);
            EXPECT_STREQ("main #WF-OOS", test->settings.TestName);
            EXPECT_EQ(c.outOfSample, test->settings.FirstDate);
            EXPECT_GT(played.size(), 20u);
            ASSERT_EQ(played.size(), (size_t)test->tradeCount);
            for (size_t t = 0; t < played.size(); t++)
                EXPECT_EQ(0, memcmp(&played[t], &test->trades[t], sizeof(TradeRecord))) << "trade " << t;
            /* An order run tests out of sample too. */
            ASSERT_EQ(0, RunScript(RUN_MODE_ORDERS)) << LastMessage();
            EXPECT_EQ(c.outOfSample, LastTest()->settings.FirstDate);
        }
    }
    ResetOptimizer();
}

} // namespace

namespace {

/* The first and last date of a statistics export, and its date rows. */
std::string StatsSpan(const std::string &text)
{
    size_t first = text.find('\n');
    size_t last = text.rfind("\n", text.size() - 2);
    if (first == std::string::npos || last == std::string::npos || last <= first) return "(empty) " + text;
    int rows = 0;
    for (size_t k = first; k + 1 < text.size(); k = text.find('\n', k + 1)) rows++;
    return text.substr(first + 1, 10) + ".." + text.substr(last + 1, 10) + " " + std::to_string(rows);
}

/* Every test of a walk-forward optimization, the two playbacks included,
** exports to a file numbered by its test, and no unnumbered file is left:
** two tests per monthly interval, then the in-sample playback over the
** whole range and the out-of-sample one from February to the data's end.
** A single test of a script with walk-forward dates runs two tests, and
** numbers them too; the out-of-sample one begins on the second date. */
TEST_F(DriverRun, EveryExportedTestOfARunHasAFileOfItsOwn)
{
    LoadFlat("AAA", 20240102, 20240430);
    InstallRunViewHooks();
    ResetOptimizer();
    gRun.unattended = 1;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    std::string stats = tmp.File("Output\\stats.csv");
    ASSERT_EQ(0, Run("Settings:\n  StartDate: 2024-01-02\n  EndDate: 2024-03-29\n  OptTimeUnit: Months\n"
                     "  OptTestLength: 1\n  OptTestInterval: 1\n  OptWalkForward: True\n  OptKeepNoTrades: True\n"
                     "  OptMultiSaveAs: True\n  SaveStatsAs: " + stats + "\n"
                     "Parameters:\n  Len: 1, 2\nStrategy: S1\n  EntrySetup: C > 10 + Len\n",
                     RUN_MODE_OPTIMIZE))
        << LastMessage();
    ASSERT_EQ(8, Listed());
    const char *spans[] = {
        "2024-01-02..2024-01-31 22", "2024-01-02..2024-01-31 22", "2024-02-01..2024-02-29 21",
        "2024-02-01..2024-02-29 21", "2024-03-01..2024-03-29 21", "2024-03-01..2024-03-29 21",
        "2024-01-02..2024-03-29 64", "2024-02-01..2024-04-30 64",
    };
    for (int k = 0; k < 8; k++) {
        std::string file = tmp.File("Output\\stats." + std::to_string(k + 1) + ".csv");
        EXPECT_EQ(spans[k], StatsSpan(ReadTestFile(file))) << file;
    }
    EXPECT_FALSE(PlatFileExists(stats.c_str()));
    ResetOptimizer();
    while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);

    gRun.unattended = 0;
    ASSERT_EQ(0, Run("Settings:\n  SaveStatsAs: " + stats + "\nParameters:\n  Len: 1, 2\n"
                     "WalkForward:\n  dates: 2024-01-02, 2024-02-01\n  Len: 3\n"
                     "Strategy: S1\n  EntrySetup: C > Len\n"))
        << LastMessage();
    gRunViewHooks = {};
    ASSERT_EQ(2, Listed());
    EXPECT_EQ("2024-01-02..2024-04-30 86", StatsSpan(ReadTestFile(tmp.File("Output\\stats.1.csv"))));
    EXPECT_EQ("2024-02-01..2024-04-30 64", StatsSpan(ReadTestFile(tmp.File("Output\\stats.2.csv"))));
    EXPECT_FALSE(PlatFileExists(stats.c_str()));
}

/* The lines of a text after its heading line. */
int RowsAfterHeading(const std::string &text)
{
    int rows = 0;
    for (size_t k = text.find('\n'); k != std::string::npos && k + 1 < text.size(); k = text.find('\n', k + 1)) rows++;
    return rows;
}

/* A stop, wherever it comes, cuts no file of a listed test: each trades file
** holds every trade its test recorded and each statistics file a row for
** every market day from the test's first date to its last, the stopped test
** (listed up to the day of the stop) too.  The stops are drawn over every
** pump of an optimization whose exports all wait for its end, and of a
** walk-forward test whose exports wait for its results file's save, so they
** land in tests, between them and in the exports.  And every list of the
** run's tests (its test list file, and the walk-forward test's results file
** read back) says which test the stop cut: one that ends before the day the
** same test of the unstopped run reached, and no other. */
TEST_F(DriverRun, AStopCutsNoFileOfAListedTest)
{
    const std::vector<int32_t> d = Weekdays(20240102, 20241231);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    for (const char *name : {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF"})
        symbols.push_back({name, FlatBars(d, std::vector<double>(d.size(), 10))});
    LoadStore(d, symbols);
    InstallRunViewHooks();
    gRun.unattended = 1;
    const std::string trades = tmp.File("Output\\trades.csv"), stats = tmp.File("Output\\stats.csv");
    const std::string results = tmp.File("wf.kvr");
    const std::string testList = tmp.File("Output\\tests.csv");
    const std::string saves = "  SaveTradesAs: " + trades + "\n  SaveStatsAs: " + stats + "\n  SaveTestListAs: " + testList + "\n";
    const struct {
        const char *name;
        std::string script;
        int mode;
    } runs[] = {
        {"optimization", "Settings:\n  OptMultiSaveAs: True\n  OptKeepNoTrades: True\n" + saves +
             "Parameters:\n  P: 1, 2, 3, 4\nStrategy: S1\n  EntrySetup: 1\n  Quantity: 100 * P\n  ExitRule: 1\n",
         RUN_MODE_OPTIMIZE},
        {"walk-forward test", "Settings:\n  ResultsFile: " + results + "\n" + saves +
             "Parameters:\n  Len: 1, 2\nWalkForward:\n  dates: 2024-01-02, 2024-07-01\n  Len: 3\n"
             "Strategy: S1\n  EntrySetup: C > Len\n  ExitRule: 1\n",
         RUN_MODE_TEST},
    };
    std::mt19937 draw(101);
    int cutSeen = 0;
    for (const auto &r : runs) {
        int pumps = 0; /* of the run unstopped: the moments a stop can come */
        std::map<int32_t, int32_t> wholeLast; /* each test's last date in the run unstopped */
        for (int k = 0; k < 6; k++) {
            while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
            ResetOptimizer();
            PlatDeleteFile(results.c_str());
            PlatDeleteFile(testList.c_str());
            for (int n = 1; n <= 8; n++) {
                PlatDeleteFile(tmp.File("Output\\trades." + std::to_string(n) + ".csv").c_str());
                PlatDeleteFile(tmp.File("Output\\stats." + std::to_string(n) + ".csv").c_str());
            }
            gRun.resultCode = RESULT_OK;
            ClearStopRequest();
            gHeadless.pumpCount = 0;
            gHeadless.stopAtPump = k == 0 ? 0 : 1 + (int)(draw() % (uint32_t)pumps);
            SCOPED_TRACE(std::string(r.name) + ", stopped at pump " + std::to_string(gHeadless.stopAtPump));
            Run(r.script, r.mode);
            gHeadless.stopAtPump = 0;
            if (k == 0) {
                ASSERT_EQ(RESULT_OK, gRun.resultCode.load()) << LastMessage();
                pumps = gHeadless.pumpCount;
                ASSERT_GT(pumps, 100);
            }
            ResultsWindow *w = FirstResultsWindow();
            ASSERT_NE(nullptr, w);
            for (TestRecord *t = w->firstTest; t; t = t->next) {
                const std::string n = std::to_string(t->testNumber);
                const int days = (int)std::count_if(d.begin(), d.end(),
                                                    [t](int32_t day) { return day >= t->firstDate && day <= t->lastDate; });
                if (k == 0) {
                    EXPECT_GT(t->tradeCount, 500) << "test " << n;
                }
                const std::string tradesFile = tmp.File("Output\\trades." + n + ".csv");
                const std::string statsFile = tmp.File("Output\\stats." + n + ".csv");
                ASSERT_TRUE(PlatFileExists(tradesFile.c_str()) && PlatFileExists(statsFile.c_str())) << "test " << n;
                EXPECT_EQ(t->tradeCount, RowsAfterHeading(ReadTestFile(tradesFile))) << "test " << n;
                EXPECT_EQ(days, RowsAfterHeading(ReadTestFile(statsFile))) << "test " << n;
                if (k == 0) wholeLast[t->testNumber] = t->lastDate;
            }
            /* The test list, newest first: its Dates cell ends in "(stopped)"
            ** for a cut test only. */
            const auto cut = [&](int32_t number, int32_t lastDate) {
                EXPECT_TRUE(wholeLast.count(number)) << "test " << number;
                return lastDate < wholeLast[number];
            };
            const std::string list = ReadTestFile(testList);
            int rows = 0;
            for (TestRecord *t = w->lastTest; t; t = t->previous, rows++) {
                char number[16];
                snprintf(number, sizeof number, "\r\n%04d,", t->testNumber);
                const size_t at = list.find(number);
                ASSERT_NE(std::string::npos, at) << list;
                const std::string row = list.substr(at + 2, list.find("\r\n", at + 2) - at - 2);
                const bool stopped = row.find("(stopped)") != std::string::npos;
                EXPECT_EQ(cut(t->testNumber, t->lastDate), stopped) << row;
                cutSeen += stopped;
            }
            EXPECT_EQ(rows, RowsAfterHeading(list));
            if (r.mode != RUN_MODE_TEST) continue;
            /* The results file keeps it for the next program that reads it. */
            while (ResultsWindow *open = FirstResultsWindow()) CloseResultsWindow(open);
            ASSERT_EQ(1, LoadResultsFile(results.c_str(), 0)) << LastMessage();
            w = FirstResultsWindow();
            ASSERT_NE(nullptr, w);
            EXPECT_EQ(rows, w->testCount);
            for (TestRecord *t = w->firstTest; t; t = t->next) {
                char dates[RESULTS_CELL_SIZE];
                ResultsCellText(w, t, 2, dates);
                EXPECT_EQ(cut(t->testNumber, t->lastDate), std::string(dates).find("(stopped)") != std::string::npos)
                    << "stored test " << t->testNumber << ": " << dates;
            }
        }
    }
    /* The drawn stops cut tests of both runs, or the lists were not put to it. */
    EXPECT_GE(cutSeen, 4);
    while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    ResetOptimizer();
    gRunViewHooks = {};
}

/* With a results file the numbered exports wait for its save, which gives
** the tests the numbers they keep; a test deleted before then (from the
** list, while the run went on) is not exported, and nothing reads it. */
TEST_F(DriverRun, ATestDeletedBeforeTheResultsSaveIsNotExported)
{
    InstallRunViewHooks();
    std::string stats = tmp.File("Output\\stats.csv");
    gBeforeResultsSave = [](const char *path) {
        if (ResultsWindow *window = FindResultsWindowByPath(path); window && window->testCount == 2)
            DeleteAllTests(window);
    };
    const int result = Run("Settings:\n  ResultsFile: wf.kvr\n  SaveStatsAs: " + stats + "\nParameters:\n  Len: 1, 2\n"
                           "WalkForward:\n  dates: 2024-01-08, 2024-01-12\n  Len: 3\nStrategy: S1\n  EntrySetup: C > Len\n");
    gBeforeResultsSave = nullptr;
    gRunViewHooks = {};
    EXPECT_EQ(0, result) << LastMessage();
    EXPECT_EQ(0, Listed());
    EXPECT_FALSE(PlatFileExists(tmp.File("Output\\stats.1.csv").c_str()));
    EXPECT_FALSE(PlatFileExists(tmp.File("Output\\stats.2.csv").c_str()));
}

/* Another program changed the results file while the run went on, and it
** cannot be read again: the run's tests could not learn the numbers they
** would keep there, so their numbered exports, which could replace that
** program's, are not written, and the run says so and fails. */
TEST_F(DriverRun, NumberedExportsWaitForNumbersTheResultsFileGives)
{
    InstallRunViewHooks();
    std::string stats = tmp.File("Output\\stats.csv");
    gBeforeResultsSave = [](const char *path) {
        if (ResultsWindow *window = FindResultsWindowByPath(path); window && window->testCount == 2)
            WriteTestFile(path, "not a results file");
    };
    Run("Settings:\n  ResultsFile: wf.kvr\n  SaveStatsAs: " + stats + "\nParameters:\n  Len: 1, 2\n"
        "WalkForward:\n  dates: 2024-01-08, 2024-01-12\n  Len: 3\nStrategy: S1\n  EntrySetup: C > Len\n");
    gBeforeResultsSave = nullptr;
    gRunViewHooks = {};
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_NE(std::string::npos, std::string(LastMessage()).find("The numbered exports of this run were not written")) << LastMessage();
    EXPECT_FALSE(PlatFileExists(tmp.File("Output\\stats.1.csv").c_str()));
    EXPECT_FALSE(PlatFileExists(tmp.File("Output\\stats.2.csv").c_str()));
    SetResultCode(RESULT_OK);
}

/* The same for the run's test log, which carries its test's number in its
** name: it is not put in place under a number that may be another run's, and
** the run says so and fails. */
TEST_F(DriverRun, ATestLogWaitsForTheNumberTheResultsFileGives)
{
    gSettings.AddLog = 1;
    const std::string script = "Settings:\n  ResultsFile: log.kvr\nStrategy: S1\n  EntrySetup: 1\n";
    const std::string log = std::string(gLogsFolder) + "\\TEST_0001.TXT";
    gBeforeResultsSave = [](const char *path) {
        if (ResultsWindow *window = FindResultsWindowByPath(path); window && window->testCount == 1)
            WriteTestFile(path, "not a results file");
    };
    Run(script);
    gBeforeResultsSave = nullptr;
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_NE(std::string::npos, std::string(LastMessage()).find("The test log of this run was not kept")) << LastMessage();
    EXPECT_FALSE(PlatFileExists(log.c_str()));
    EXPECT_EQ("", ListTestFolder(gLogsFolder));
    SetResultCode(RESULT_OK);
}

/* The test log's name is measured before it is used: with an output folder
** of 241 to 251 letters (its Logs folder five more) the name of 14 more is
** longer than a path holds, so the run says so, ends with the file-error code
** and leaves the Logs folder empty; with 240 the name has 259 letters and
** the log is written.  Letters of one to four bytes count alike. */
TEST_F(DriverRun, ATestLogNameLongerThanAPathIsRefused)
{
    gSettings.AddLog = 1;
    const char *letters[] = {"d", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"};
    int folder = 0;
    for (size_t output : {240, 241, 245, 246, 251})
        for (const char *letter : letters) {
            SCOPED_TRACE(std::to_string(output) + " letters of " + std::to_string(strlen(letter)) + " bytes");
            const std::string base = tmp.File("o" + std::to_string(folder++));
            ASSERT_TRUE(PlatCreateFolder(base.c_str()));
            const std::string out = MakePathOfLength(base, output, "Out", letter);
            ASSERT_FALSE(out.empty());
            ASSERT_TRUE(PlatCreateFolder(out.c_str()));
            CopyString(gOutputFolder, sizeof gOutputFolder, out.c_str(), -1);
            gHeadless.messageCount = 0;
            gRun.resultCode = RESULT_OK;
            Run("Strategy: S1\n  EntrySetup: 1\n");
            ASSERT_NE(nullptr, LastTest()) << LastMessage();
            ASSERT_EQ(out + "\\Logs", gLogsFolder);
            char name[32];
            snprintf(name, sizeof name, "TEST_%.4d.TXT;", (int)LastTest()->testNumber);
            if (output == 240) {
                EXPECT_EQ(RESULT_OK, gRun.resultCode.load()) << LastMessage();
                EXPECT_EQ(name, ListTestFolder(gLogsFolder));
            } else {
                EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
                EXPECT_EQ(1, gHeadless.messageCount);
                EXPECT_STREQ("Test Log file path is too long -- maximum is 260 chars.", LastMessage());
                EXPECT_EQ("", ListTestFolder(gLogsFolder));
            }
        }
    SetResultCode(RESULT_OK);
}

} // namespace


namespace {

/* A view of one test, as a window that shows it keeps: closing the view
** forgets the test.  It reads the test as it closes, so a close that came
** after the free is a use after free under the sanitizer. */
struct TestView {
    TestRecord *test;
    int32_t closedNumber;
};
TestView gTestView;

void CloseTestView(ResultsWindow *, TestRecord *test)
{
    if (test != gTestView.test) return;
    gTestView.closedNumber = test->testNumber;
    gTestView.test = nullptr;
}

/* Every path that frees a test closes the views that show it first: a view
** left pointing at a freed test is what crashed the windows. */
TEST_F(DriverRun, EveryPathThatFreesATestClosesItsViewsFirst)
{
    const std::string script = "Parameters:\n  P: 1, 2, 3\nResults:\n  Score: P {#}\nStrategy: S1\n  EntrySetup: 0\n";
    struct Path {
        const char *name;
        void (*free)(DriverRun *run, const std::string &script);
    } paths[] = {
        {"an optimization that clears the list first",
         [](DriverRun *run, const std::string &s) {
             gSettings.OptClearResults = 1;
             ASSERT_EQ(0, run->Run(s, RUN_MODE_OPTIMIZE)) << LastMessage();
         }},
        {"an optimization that keeps the two best",
         [](DriverRun *run, const std::string &s) {
             gSettings.OptClearResults = 0;
             gSettings.OptSortResults = 1;
             gSettings.OptKeepBest = 2;
             ASSERT_EQ(0, run->Run(s, RUN_MODE_OPTIMIZE)) << LastMessage();
             EXPECT_EQ(2, run->Listed());
         }},
        {"Delete All Tests", [](DriverRun *, const std::string &) { DeleteAllTests(FirstResultsWindow()); }},
        {"Delete Test",
         [](DriverRun *, const std::string &) {
             DeleteTestFromResults(FirstResultsWindow(), gTestView.test, nullptr);
         }},
        {"closing the list", [](DriverRun *, const std::string &) { CloseResultsWindow(FirstResultsWindow()); }},
    };
    gSettings.OptimizeMode = OPT_COMBINATORIAL;
    gSettings.OptKeepNoTrades = 1;
    gSettings.OptScoreCol = 0;
    InstallRunViewHooks(); /* the scores come from the Results rows */
    gRunViewHooks.closeTestViews = CloseTestView;
    for (const Path &path : paths) {
        SCOPED_TRACE(path.name);
        ResetOptimizer();
        gSettings.OptClearResults = 1;
        gSettings.OptSortResults = gSettings.OptKeepBest = 0;
        ASSERT_EQ(0, Run(script, RUN_MODE_OPTIMIZE)) << LastMessage();
        ASSERT_EQ(3, Listed());
        /* The view shows the test that scored least, which keeping the best drops. */
        gTestView = {};
        for (TestRecord *t = FirstResultsWindow()->firstTest; t; t = t->next)
            if (t->parameters[0].value == 1) gTestView.test = t;
        ASSERT_NE(nullptr, gTestView.test);
        const int32_t number = gTestView.test->testNumber;
        path.free(this, script);
        EXPECT_EQ(nullptr, gTestView.test);
        EXPECT_EQ(number, gTestView.closedNumber);
    }
    gRunViewHooks = {};
    gSettings.OptSortResults = gSettings.OptKeepBest = 0;
    gSettings.OptClearResults = 1;
    ResetOptimizer();
}

} // namespace
