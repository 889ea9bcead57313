/* Batch runs from the command line through the run driver: groups, run
** order, and the exit code of each way a batch ends. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "engine/run_driver.h"
#include "engine/run_view_hooks.h"
#include "engine_fixture.h"
#include "shell/command_line.h"
#include "shell/headless/headless.h"
#include "shell/run_view_setup.h"
#include "services/services.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/symbols.h"

namespace {

struct BatchRun : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        LoadFlat("AAA", 20240108, 20240119);
        Write("a.kvs", "Strategy: S1\n  EntrySetup: 0\n");
        Write("b.kvs", "Strategy: S2\n  EntrySetup: 0\n");
        Write("with blank.kvs", "Strategy: S3\n  EntrySetup: 0\n");
        gRun.unattended = 1;
        InstallRunViewHooks();
    }
    void TearDown() override
    {
        gRunViewHooks = {};
        EngineTest::TearDown();
    }
    std::string ErrorLog() const { return ReadTestFile(tmp.File("errorlog.txt")); }
    /* Before another batch: no tests listed, the shell's record cleared, no
    ** code or stop left from the batch before. */
    void NewBatch()
    {
        if (ResultsWindow *w = FirstResultsWindow()) DeleteAllTests(w);
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        ClearStopRequest();
    }
};

} // namespace

TEST_F(BatchRun, GroupsRunTheirModesOnTheirScripts)
{
    struct Case {
        const char *line;
        int exitCode;
        int tests;   /* tests listed */
        int applied; /* "Script Checked and Applied" notices */
    } cases[] = {
        {"-test a.kvs b.kvs", 0, 2, 0},
        {"-apply -test a.kvs -apply b.kvs", 0, 1, 2},
        {"-TEST \"with blank.kvs\"", 0, 1, 0},
        {"-inifile x.ini -noexit -test a.kvs", 0, 1, 0},
        {"-inifile -test x.ini a.kvs", 0, 1, 0}, /* the settings path is skipped past the switch */
        {"a.kvs", 0, 0, 0},                      /* no group: nothing runs */
        {"-noexit", 0, 0, 0},
        {"", 0, 0, 0},
        /* The import runs first whatever the order of the switches, and a.kvs
        ** has no Import section. */
        {"-test -import a.kvs", RESULT_COMPILE_FAILURE, 0, 0},
        {"-test a.kvs -bogus b.kvs", RESULT_BAD_SWITCH, 1, 0},
        {"-test a.kvs missing.kvs b.kvs", RESULT_FILE_ERROR, 1, 0},
        {"-test a.kvs . b.kvs", RESULT_FILE_ERROR, 1, 0}, /* a folder is no script */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        NewBatch();
        gHeadless.captureLog = 1;
        EXPECT_EQ(c.exitCode, RunBatchCommandLine(c.line));
        EXPECT_EQ(c.tests, Listed());
        int applied = 0;
        for (int i = 0; i < gHeadless.noticeCount && i < HEADLESS_NOTICES; i++)
            applied += strcmp(gHeadless.notices[i], "Script Checked and Applied") == 0;
        EXPECT_EQ(c.applied, applied);
    }
    std::string log = ErrorLog();
    EXPECT_NE(std::string::npos, log.find("\nUnrecognized batch run mode '-bogus'\n")) << log;
    EXPECT_NE(std::string::npos, log.find("\nUnable to access " + scripts + "\\missing.kvs\n")) << log;
    /* Each entry names the script the batch was on, not the last one that ran. */
    EXPECT_NE(std::string::npos, log.find(" error in " + scripts + "\\missing.kvs <<<\nUnable to access")) << log;
    EXPECT_NE(std::string::npos, log.find("has a missing or incomplete Import section.")) << log;
    EXPECT_NE(std::string::npos, log.find("\nUnable to access " + scripts + "\\.\n")) << log;
    /* An unknown switch names itself, not the script that ran before it. */
    EXPECT_NE(std::string::npos, log.find(" error in -bogus <<<\nUnrecognized batch run mode")) << log;
}

TEST_F(BatchRun, AScriptPathThatDoesNotFitEndsWithThree)
{
    std::string name(250, 'n');
    EXPECT_EQ(RESULT_FILE_ERROR, RunBatchCommandLine(("-test " + name).c_str()));
    EXPECT_NE(std::string::npos,
              ErrorLog().find("File path starting with '" + name + "' is too long -- maximum is 260 chars"));
}

/* The entry of a script path too long to hold names it in whole letters: two,
** three and four bytes each, cut before the letter that would cross. */
TEST_F(BatchRun, ATooLongScriptPathIsNamedInWholeLetters)
{
    for (const std::string letter : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"}) {
        SCOPED_TRACE(letter.size());
        NewBatch();
        std::string name;
        for (int k = 0; k < 300; k++) name += letter; /* 300 letters: too long whatever their size */
        EXPECT_EQ(RESULT_FILE_ERROR, RunBatchCommandLine(("-test " + name).c_str()));
        const std::string log = ErrorLog();
        const size_t at = log.rfind(" error in "), end = log.find(" <<<\n", at);
        ASSERT_NE(std::string::npos, end) << log;
        const std::string shown = log.substr(at + 10, end - at - 10);
        EXPECT_EQ(std::min(name.size(), (PATH_SIZE - 1) / letter.size() * letter.size()), shown.size());
        EXPECT_EQ(name.substr(0, shown.size()), shown);
    }
}

TEST_F(BatchRun, AFailedRunEndsWithItsStickyCodeOrEight)
{
    /* A scan that answers below 0 failed (here it has nowhere to write its
    ** rows); nothing set a code, so 8. */
    Write("scan.kvs", "Settings:\n  ScanNoWindow: True\nScan:\n  Pick: 1\n");
    EXPECT_EQ(RESULT_STOPPED, RunBatchCommandLine("-scan scan.kvs -test a.kvs"));
    EXPECT_NE(std::string::npos, ErrorLog().find("ScanNoWindow requires SaveScanAs")) << ErrorLog();
    EXPECT_EQ(RESULT_STOPPED, gRun.resultCode.load());
    EXPECT_EQ(0, Listed());
    /* Memory use at the limit: the warning stops the run, and the batch ends
    ** with 4 even though the run kept its test. */
    gRun.resultCode = RESULT_OK;
    gRun.lowMemory = 0;
    gSettings.MaxMemPct = 0;
    EXPECT_EQ(RESULT_LOW_MEMORY, RunBatchCommandLine("-test a.kvs b.kvs"));
    EXPECT_EQ(1, Listed());
    EXPECT_NE(std::string::npos, ErrorLog().find("a.kvs <<<\n*** WARNING: LOW MEMORY ***")) << ErrorLog();
    gSettings.MaxMemPct = 95;
    gRun.lowMemory = 0;
    /* The data file named cannot be loaded. */
    gHeadless.stopAtPump = 0;
    gRun.resultCode = RESULT_OK;
    Write("nodata.kvs", "Settings:\n  DataFile: " + tmp.File("Data\\none.kvd") + "\nStrategy: S1\n  EntrySetup: 0\n");
    EXPECT_EQ(RESULT_DATA_NOT_LOADED, RunBatchCommandLine("-test nodata.kvs a.kvs"));
    EXPECT_EQ(1, Listed()); /* still only the test of the low-memory run */
}

/* With no data loaded and no data file named, by the script or the
** settings, a run has nothing to run on: it fails with 7 in every mode
** rather than answering on the empty default calendar (a scheduled order run
** that read nothing must not say there is nothing to do). */
TEST_F(BatchRun, ARunWithNoDataFileEndsWithSeven)
{
    Write("all.kvs", "Settings:\n  SaveScanAs: " + tmp.File("Output\\s.csv") +
                         "\nScan:\n  Pick: 1\nStrategy: S1\n  EntrySetup: 1\n  ExitRule: 1\n");
    ASSERT_TRUE(WriteTestFile(tmp.File("ExchangeMap.csv"), "Exchange,Primary,Match1,HasOpg,HasMoc,TimeZone,NearCloseTime\n"
                                                           "NYSE,NYSE,*,1,1,EST,15:45\n"));
    for (const char *line : {"-test all.kvs", "-scan all.kvs", "-optimize all.kvs", "-orders all.kvs"}) {
        SCOPED_TRACE(line);
        NewBatch();
        UnloadData();
        gSettings.DataFile[0] = 0;
        EXPECT_EQ(RESULT_DATA_NOT_LOADED, RunBatchCommandLine(line)) << ErrorLog();
        EXPECT_EQ(0, Listed());
        EXPECT_FALSE(PlatFileExists(tmp.File("Output\\s.csv").c_str()));
    }
    /* A check that names no data file goes on without data. */
    NewBatch();
    EXPECT_EQ(RESULT_OK, RunBatchCommandLine("-apply all.kvs")) << ErrorLog();
}

TEST_F(BatchRun, ATestWritesTheStatsAndTradesFilesItsScriptNames)
{
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    std::string stats = tmp.File("Output\\stats.csv"), trades = tmp.File("Output\\trades.csv");
    Write("export.kvs", "Settings:\n  SaveStatsAs: " + stats + "\n  SaveTradesAs: " + trades + "\n  SaveTradesType: Compact\nStrategy: S1\n  EntrySetup: BarDate = 20240110\n"
                                                                                               "  Quantity: 100\n  ExitRule: 1\n");
    ASSERT_EQ(0, RunBatchCommandLine("-test export.kvs")) << ErrorLog();
    /* Set up at the close of Jan 10, in at the open of Jan 11 and out at the
    ** next open, all at 10; no EntryTradeValue, so no trade values. */
    EXPECT_EQ("Strategy,Symbol,Side,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut,TimeIn,TimeOut,"
              "ValueIn,ValueOut,Terms\n"
              "S1,AAA,1,2024-01-11,100,10,0,2024-01-12,100,10,0,open,open,0,0,AsTraded\n",
              ReadTestFile(trades));
    std::string text = ReadTestFile(stats);
    EXPECT_EQ(0u, text.find("Date,Strategy\n2024-01-08,S1\n2024-01-09,S1\n")) << text;
    EXPECT_EQ(11, std::count(text.begin(), text.end(), '\n')); /* the header and ten market days */
}

/* A batch on a disk where the files of a run cannot be written: every write
** of a test that saves its results file, both exports, its positions and a
** report fails in turn (a full disk), then every rename (a file held open
** elsewhere).  Each time the batch goes on to the next script and ends with 3
** after its error entry, and the file the entry names keeps its old bytes (or
** is not there when it had none). */
TEST_F(BatchRun, AFileThatCannotBeWrittenEndsTheBatchWithThree)
{
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    const std::string out = tmp.File("Output");
    CopyString(gReportsFolder, sizeof gReportsFolder, (out + "\\Reports").c_str(), -1);
    ASSERT_EQ(1, PlatCreateFolder(gReportsFolder));
    const std::vector<std::string> files = {out + "\\stats.csv", out + "\\trades.csv", out + "\\held.csv",
                                            out + "\\runs.kvr", out + "\\Reports\\index.html"};
    Write("export.kvs", "Settings:\n  SaveStatsAs: " + files[0] + "\n  SaveTradesAs: " + files[1] +
                            "\n  SavePositionsAs: " + files[2] + "\n  ResultsFile: " + files[3] +
                            "\n  TestOutput: Report\nStrategy: S1\n  EntrySetup: BarDate = 20240110\n  Quantity: 100\n"
                            "  ExitRule: 1\n");
    /* A clean run first: the files every later run replaces. */
    ASSERT_EQ(0, RunBatchCommandLine("-test export.kvs")) << ErrorLog();
    std::vector<std::string> old;
    for (const std::string &f : files) {
        old.push_back(ReadTestFile(f));
        ASSERT_FALSE(old.back().empty()) << f;
    }
    for (int kind : {PLAT_FAULT_WRITE, PLAT_FAULT_RENAME}) {
        int failures = 0;
        for (int pass = 0; pass < 100; pass++) {
            SCOPED_TRACE("kind " + std::to_string(kind) + ", call " + std::to_string(pass));
            for (size_t k = 0; k < files.size(); k++) ASSERT_TRUE(WriteTestFile(files[k], old[k]));
            PlatDeleteFile(tmp.File("errorlog.txt").c_str());
            DeleteAllTests(FirstResultsWindow());
            PlanOneFault(kind, pass);
            const int code = RunBatchCommandLine("-test export.kvs a.kvs");
            const int made = PlatFaultsMade(kind);
            PlatPlanFault(kind, 0, 0);
            if (made == 0) break;
            failures++;
            EXPECT_EQ(RESULT_FILE_ERROR, code);
            EXPECT_EQ(2, Listed()); /* a.kvs ran all the same */
            const std::string log = ErrorLog();
            const std::string named = kind == PLAT_FAULT_WRITE ? " bytes to " : "Unable to create ";
            const size_t at = log.find(named), end = log.find("\r\n", at);
            ASSERT_NE(std::string::npos, end) << log;
            const std::string path = log.substr(at + named.size(), end - at - named.size());
            auto known = std::find(files.begin(), files.end(), path);
            const size_t mark = path.rfind("\\kestovar_report.txt");
            if (known != files.end()) {
                EXPECT_EQ(old[known - files.begin()], ReadTestFile(path)) << path;
            } else if (mark != std::string::npos && PlatFileExists(path.c_str())) {
                /* the new report's mark, which the report's end replaces: as first written */
                const std::string folder = path.substr(0, mark);
                EXPECT_EQ("Kestovar made this folder for its report " + folder.substr(folder.rfind('\\') + 1) + ".\r\n",
                          ReadTestFile(path));
            } else {
                EXPECT_FALSE(PlatFileExists(path.c_str())) << path;
            }
        }
        /* Every file above, and the new report's page and link. */
        EXPECT_GE(failures, 7);
    }
}

/* A results file cut short loads only in part; the run's test is then not
** saved over it, and the batch says so with its exit code. */
TEST_F(BatchRun, AResultsFileThatCannotBeKeptEndsTheBatchWithThree)
{
    Write("kept.kvs", "Settings:\n  ResultsFile: " + tmp.File("kept.kvr") + "\nStrategy: S1\n  EntrySetup: 0\n");
    ASSERT_EQ(0, RunBatchCommandLine("-test kept.kvs")) << ErrorLog();
    CloseResultsWindow(FindResultsWindowByPath(tmp.File("kept.kvr").c_str()));
    std::string file = ReadTestFile(tmp.File("kept.kvr"));
    ASSERT_GT(file.size(), 1100u);
    ASSERT_TRUE(WriteTestFile(tmp.File("kept.kvr"), file.substr(0, file.size() - 10)));
    gRun.resultCode = RESULT_OK;
    EXPECT_EQ(RESULT_FILE_ERROR, RunBatchCommandLine("-test kept.kvs"));
    EXPECT_NE(std::string::npos, ErrorLog().find("kept.kvr was only partly loaded; the results were not saved.")) << ErrorLog();
    EXPECT_EQ(file.size() - 10, ReadTestFile(tmp.File("kept.kvr")).size());
}

/* An optimization that cannot run its tests says why, and the batch fails:
** a random search asked for ten tests of two parameters of two values runs
** out after four, and with OptWalkForward writes no section and plays
** nothing back; five parameters of 100 values are 10^10 tests, more than
** the optimizer counts, and none runs.  Nor does a walk-forward whose
** intervals leave the data or their order: with OptAnchor: End (every
** interval ends on the range's last date, the data's or an earlier one),
** or two weekly intervals over a week that ends on a Friday; nor a weekly
** run of two-day intervals, the first of which (Monday and Tuesday) holds
** no weekly bar to test. */
TEST_F(BatchRun, AnOptimizationThatCannotRunItsTestsEndsWithEight)
{
    const struct {
        const char *script;
        int listed;
        const char *message;
    } cases[] = {
        {"Settings:\n  OptimizeMode: Random\n  OptIterations: 10\n  OptKeepNoTrades: True\n"
         "Parameters:\n  A: 1, 2\n  B: 3, 4\nStrategy: S1\n  EntrySetup: A + B < 0\n",
         4, "Unable to find an untested parameter combination."},
        {"Settings:\n  OptimizeMode: Random\n  OptIterations: 10\n  OptKeepNoTrades: True\n  OptWalkForward: True\n"
         "Parameters:\n  A: 1, 2\n  B: 3, 4\nStrategy: S1\n  EntrySetup: A + B < 0\n",
         4, "Unable to find an untested parameter combination."},
        {"Parameters:\n  A: from 1 to 100\n  B: from 1 to 100\n  P3: from 1 to 100\n  P4: from 1 to 100\n"
         "  P5: from 1 to 100\nStrategy: S1\n  EntrySetup: A < 0\n",
         0, "Unable to run the optimization -- more than 2,147,483,647 tests."},
        {"Settings:\n  OptTimeUnit: Days\n  OptTestLength: 3\n  OptTestInterval: 3\n  OptAnchor: End\n"
         "  OptWalkForward: True\nParameters:\n  A: 1, 2\nStrategy: S1\n  EntrySetup: A < 0\n",
         0, "Walk-forward interval 1 of 3 ends on 1/19/24, the last date of the data: no out-of-sample date follows "
            "it.  OptAnchor: End ends every interval on the optimization's last date."},
        {"Settings:\n  EndDate: 2024-01-17\n  OptTimeUnit: Days\n  OptTestLength: 3\n  OptTestInterval: 3\n"
         "  OptAnchor: End\n  OptWalkForward: True\nParameters:\n  A: 1, 2\nStrategy: S1\n  EntrySetup: A < 0\n",
         0, "Walk-forward interval 2 of 3 ends on 1/17/24, no later than interval 1: their out-of-sample dates would "
            "not follow each other.  OptAnchor: End ends every interval on the optimization's last date."},
        {"Settings:\n  EndDate: 2024-01-12\n  OptTimeUnit: Weeks\n  OptTestLength: 1\n  OptTestInterval: 1\n"
         "  OptWalkForward: True\nParameters:\n  A: 1, 2\nStrategy: S1\n  EntrySetup: A < 0\n",
         0, "Walk-forward interval 2 of 2 begins on 1/15/24, after the optimization's last date 1/12/24."},
        {"Settings:\n  BarSize: Weekly\n  OptTimeUnit: Days\n  OptTestLength: 2\n  OptTestInterval: 2\n"
         "  OptWalkForward: True\nParameters:\n  A: 1, 2\nStrategy: S1\n  EntrySetup: A < 0\n",
         0, "Walk-forward interval 1 of 5, 1/8/24 to 1/9/24, holds no bar of the run's bar size (Weekly) to test it on."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        NewBatch();
        gHeadless.captureLog = 1;
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        Write("opt.kvs", c.script);
        EXPECT_EQ(RESULT_STOPPED, RunBatchCommandLine("-optimize opt.kvs"));
        EXPECT_EQ(c.listed, Listed());
        EXPECT_NE(std::string::npos, ErrorLog().find(c.message)) << ErrorLog();
        EXPECT_EQ(c.script, ReadTestFile(scripts + "\\opt.kvs"));
    }
}

/* A run whose script fails while it runs (here a ring of Library items that
** never ends) fails in every mode, a scan that wrote its rows of n/a too. */
TEST_F(BatchRun, ARunWithARuntimeErrorEndsWithEight)
{
    Write("ring.kvs", "Settings:\n  SaveScanAs: " + tmp.File("ring.csv") +
                          "\nLibrary:\n  Ping: 1 + Pong\n  Pong: Ping * 2\nScan:\n  Val: Ping\n"
                          "Strategy: S1\n  EntrySetup: Ping > 0\n");
    for (const char *line : {"-scan ring.kvs", "-test ring.kvs"}) {
        SCOPED_TRACE(line);
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        gRun.resultCode = RESULT_OK;
        ClearStopRequest(); /* a new batch */
        EXPECT_EQ(RESULT_STOPPED, RunBatchCommandLine(line));
        EXPECT_NE(std::string::npos, ErrorLog().find("Item<=>Library infinite recursion in 'Ping'")) << ErrorLog();
    }
}

/* A scan file that cannot be written is reported like any other failed
** write: the later runs of the batch go ahead, and it ends with 3. */
TEST_F(BatchRun, AScanFileThatCannotBeWrittenEndsTheBatchWithThree)
{
    const std::string scanFile = tmp.File("no folder\\scan.csv");
    Write("scan.kvs", "Settings:\n  SaveScanAs: " + scanFile + "\nScan:\n  Pick: 1\nStrategy: S1\n  EntrySetup: 0\n");
    EXPECT_EQ(RESULT_FILE_ERROR, RunBatchCommandLine("-scan -test scan.kvs -test a.kvs"));
    EXPECT_EQ(2, Listed()) << ErrorLog(); /* scan.kvs's test and a.kvs's */
    EXPECT_NE(std::string::npos, ErrorLog().find("Unable to create " + scanFile)) << ErrorLog();
}

namespace {
/* The step whose first status text asks for a stop, as a user's Stop (or
** Ctrl+C) would while the step runs. */
const char *sStopAtStep;
int sStopsSent;
void StopAtStep(int part, const char *text)
{
    if (part == 0 && sStopAtStep && !sStopsSent && strncmp(text, sStopAtStep, strlen(sStopAtStep)) == 0) {
        sStopsSent++;
        RequestStop();
    }
}
} // namespace

/* A stop ends the batch after the run it stopped, with 8: no later run
** starts, within a script or across scripts, and the files of the runs that
** did not run keep every byte. */
TEST_F(BatchRun, AStopEndsTheBatch)
{
    const std::vector<std::string> files = {tmp.File("Output\\t2stats.csv"), tmp.File("Output\\t2trades.csv"),
                                            tmp.File("Output\\t2list.csv")};
    Write("t2.kvs", "Settings:\n  SaveStatsAs: " + files[0] + "\n  SaveTradesAs: " + files[1] + "\n  SaveTestListAs: " +
                        files[2] + "\n  SaveScanAs: " + tmp.File("Output\\t2scan.csv") +
                        "\nScan:\n  Pick: 1\nStrategy: S2\n  EntrySetup: 1\n  ExitRule: 1\n");
    Write("opt.kvs", "Parameters:\n  Len: 2, 3\nStrategy: S1\n  EntrySetup: Len < 0\n");
    const struct {
        const char *line, *step;
        int listed; /* the stopped run's tests */
    } cases[] = {
        {"-test a.kvs t2.kvs", "Running Single Test", 1},
        {"-scan -test t2.kvs", "Scanning", 0},
        {"-optimize opt.kvs -test t2.kvs", "Test 1 of 2", 0}, /* a test without trades is dropped */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        for (const std::string &f : files) ASSERT_TRUE(WriteTestFile(f, "the last night's file\r\n"));
        NewBatch();
        gHeadless.statusEcho = StopAtStep;
        sStopAtStep = c.step;
        sStopsSent = 0;
        EXPECT_EQ(RESULT_STOPPED, RunBatchCommandLine(c.line));
        gHeadless.statusEcho = nullptr;
        EXPECT_EQ(1, sStopsSent);
        EXPECT_EQ(c.listed, Listed());
        for (const std::string &f : files) EXPECT_EQ("the last night's file\r\n", ReadTestFile(f)) << f;
    }
    sStopAtStep = nullptr;
}

/* The native program has no results window, yet SaveTestListAs gets the list
** as the window writes it, newest first; a list that cannot be written ends
** the batch with 3 after the later runs. */
TEST_F(BatchRun, SaveTestListAsWritesTheResultsList)
{
    const std::string list = tmp.File("Output\\list.csv"), lost = tmp.File("no folder\\list.csv");
    Write("list.kvs", "Settings:\n  SaveTestListAs: " + list + "\n  OptKeepNoTrades: True\nParameters:\n  Len: 2, 3\nStrategy: S1\n"
                      "  EntrySetup: Len < 0\n");
    ASSERT_EQ(0, RunBatchCommandLine("-optimize list.kvs")) << ErrorLog();
    EXPECT_EQ("Test,Name,Dates,Len\r\n0002,list,1/8/24 - 1/19/24,3\r\n0001,list,1/8/24 - 1/19/24,2\r\n",
              ReadTestFile(list));
    Write("lost.kvs", "Settings:\n  SaveTestListAs: " + lost + "\nStrategy: S1\n  EntrySetup: 0\n");
    EXPECT_EQ(RESULT_FILE_ERROR, RunBatchCommandLine("-test lost.kvs a.kvs"));
    EXPECT_EQ(4, Listed());
    EXPECT_NE(std::string::npos, ErrorLog().find("Unable to create " + lost)) << ErrorLog();
}

/* The run time shows its milliseconds in three digits: 32 ms is ".032";
** a run ends with its time in that form. */
TEST_F(BatchRun, TheRunTimeShowsThreeDigitMilliseconds)
{
    const struct {
        uint64_t milliseconds;
        const char *text;
    } cases[] = {{32, "Time: 00:00:00.032"},
                 {5, "Time: 00:00:00.005"},
                 {1000, "Time: 00:00:01.000"},
                 {3723456, "Time: 01:02:03.456"}};
    for (const auto &c : cases) {
        char text[48];
        FormatRunTime(c.milliseconds, text, sizeof text);
        EXPECT_STREQ(c.text, text) << c.milliseconds;
    }
    ASSERT_EQ(0, RunBatchCommandLine("-test a.kvs"));
    const std::string time = gHeadless.statusParts[1];
    ASSERT_EQ(18u, time.size()) << time; /* "Time: hh:mm:ss.mmm" */
    EXPECT_EQ(0u, time.find("Time: 00:00:")) << time;
    EXPECT_EQ('.', time[14]) << time;
}

/* A stop anywhere in a walk-forward optimization, its playback included,
** leaves the script as it was, byte for byte, and ends the batch with 8; a
** stop during the search plays nothing back (no test of the playback is
** listed before all six of the search); the
** run that is not stopped appends its one section: to the file, or (the
** Windows program) to the script's editor, which it then saves, with the
** script's own line ends (a script kept with lone "\n" ends stays so).  Three
** intervals of three days over 8 to 19 January 2024 (8-10, 11-15, 16-18)
** give the first date, the day after each of the first two intervals and the
** last date; every test scores alike, so each interval's best is its first
** value. */
TEST_F(BatchRun, AStoppedWalkForwardOptimizationChangesNoScript)
{
    const std::string crlfScript = "Settings:\r\n  OptTimeUnit: Days\r\n  OptTestLength: 3\r\n  OptTestInterval: 3\r\n"
                                   "  OptWalkForward: True\r\n  OptKeepNoTrades: True\r\nParameters:\r\n  Len: 2, 3\r\n"
                                   "Strategy: S1\r\n  EntrySetup: C > Len\r\n  ExitRule: 1\r\n";
    const std::string crlfSection = "\r\nWalkForward: // unit=Days, length=3, offset=3"
                                    "\r\n\tDates: 1/8/24, 1/11/24, 1/16/24, 1/18/24\r\n\tLen: 2, 2, 2\r\n";
    auto lf = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    };
    const std::string path = Write("wf.kvs", crlfScript);
    for (int form = 0; form < 4; form++) {
        const bool editor = form & 1;
        const std::string script = form & 2 ? lf(crlfScript) : crlfScript;
        const std::string section = form & 2 ? lf(crlfSection) : crlfSection;
        SCOPED_TRACE(testing::Message() << (editor ? "in an editor" : "in the file") << (form & 2 ? ", LF" : ", CR LF"));
        HeadlessScriptWindow *w = &gHeadlessScripts.windows[0];
        *w = HeadlessScriptWindow{};
        gHeadlessScripts.windowCount = editor;
        CopyString(w->path, sizeof w->path, path.c_str(), -1);
        w->text = script.c_str();
        Write("wf.kvs", script);
        NewBatch();
        EXPECT_EQ(RESULT_OK, RunBatchCommandLine("-optimize wf.kvs")) << ErrorLog();
        const int pumps = gHeadless.pumpCount;
        EXPECT_EQ(editor ? script : script + section, ReadTestFile(path));
        EXPECT_EQ(editor ? section : "", std::string(w->appended));
        const int saves = w->saves; /* the compile's of the editor, and the section's */
        for (int stop : {1, pumps / 4, pumps / 2, pumps * 3 / 4, pumps - 3, pumps - 1}) {
            SCOPED_TRACE(testing::Message() << "stop at pump " << stop << " of " << pumps);
            Write("wf.kvs", script);
            w->saves = 0;
            w->appended[0] = 0;
            NewBatch();
            gHeadless.stopAtPump = stop;
            EXPECT_EQ(RESULT_STOPPED, RunBatchCommandLine("-optimize wf.kvs"));
            int32_t searched = 0, played = 0;
            for (const TestRecord *t = FirstResultsWindow()->firstTest; t; t = t->next)
                (strstr(t->settings.TestName, "#WF-") ? played : searched)++;
            EXPECT_TRUE(played == 0 || searched == 6) << searched << " searched, " << played << " played back";
            EXPECT_EQ(script, ReadTestFile(path));
            EXPECT_STREQ("", w->appended);
            EXPECT_EQ(editor ? saves - 1 : 0, w->saves);
        }
    }
    gHeadlessScripts.windows[0] = HeadlessScriptWindow{};
    gHeadlessScripts.windowCount = 0;
    gHeadless.stopAtPump = 0;
}

namespace {

/* Low memory raised between two runs (nothing runs to be stopped) warns and
** keeps its code, and the next run still does its work: the batch ends with
** 4.  When that next run is stopped by the user (while it tests, or as it
** ends), the batch ends as stopped. */
void LowMemoryBeforeSecondRun(int runIndex)
{
    if (runIndex != 1) return;
    gOutOfMemory = 1;
    PumpMessages();
    /* The second run's stop, when asked for, comes once it has begun. */
    sStopsSent = 0;
}

TEST_F(BatchRun, LowMemoryBetweenTwoRunsKeepsItsCodeUnlessTheNextRunIsStopped)
{
    const struct {
        const char *stopAt;
        int code;
    } kCases[] = {{nullptr, RESULT_LOW_MEMORY}, {"Running Single Test", RESULT_STOPPED}, {"Ready", RESULT_STOPPED}};
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.code);
        NewBatch();
        gRun.lowMemory = 0;
        gBeforeBatchRun = LowMemoryBeforeSecondRun;
        gHeadless.statusEcho = StopAtStep;
        sStopAtStep = c.stopAt;
        sStopsSent = 1; /* none during the first run */
        EXPECT_EQ(c.code, RunBatchCommandLine("-test a.kvs b.kvs"));
        gBeforeBatchRun = nullptr;
        gHeadless.statusEcho = nullptr;
        EXPECT_EQ(2, Listed());
        EXPECT_NE(std::string::npos, ErrorLog().find("*** WARNING: LOW MEMORY ***")) << ErrorLog();
    }
    sStopAtStep = nullptr;
    gRun.lowMemory = 0;
}

} // namespace

/* Names that differ only in case are two files where the system keeps them
** apart (the native program's): the second script of a batch tests on the
** data file it names and saves into its own results file, and an editor
** window of the one is not the other's.  In the Windows build they are one
** file. */
TEST_F(BatchRun, NamesDifferingInCaseAreTheFilesTheSystemTakesThem)
{
    const std::string lower = tmp.File("Data\\prices.kvd"), upper = tmp.File("Data\\Prices.kvd");
    LoadFlat("AAA", 20240108, 20240119, 10);
    ASSERT_EQ(1, SaveDataFile(lower.c_str(), nullptr));
    LoadFlat("AAA", 20240108, 20240119, 20);
    ASSERT_EQ(1, SaveDataFile(upper.c_str(), nullptr));
    const std::string strategy = "  StartDate: 2024-01-08\n  EndDate: 2024-01-19\nStrategy: S1\n  EntrySetup: BarDate = 20240110\n"
                                 "  Quantity: 100\n  QtyType: Shares\n";
    Write("lower.kvs", "Settings:\n  DataFile: " + lower + "\n  ResultsFile: " + tmp.File("r.kvr") + "\n" + strategy);
    Write("upper.kvs", "Settings:\n  DataFile: " + upper + "\n  ResultsFile: " + tmp.File("R.kvr") + "\n" + strategy);
    ASSERT_EQ(0, RunBatchCommandLine("-test lower.kvs upper.kvs")) << ErrorLog();
    ResultsWindow *first = FindResultsWindowByPath(tmp.File("r.kvr").c_str());
    ResultsWindow *second = FindResultsWindowByPath(tmp.File("R.kvr").c_str());
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
#ifdef _WIN32
    EXPECT_EQ(first, second);
    EXPECT_EQ(2, first->testCount);
#else
    auto priceIn = [](const TestRecord *t) { return t && t->tradeCount > 0 ? t->trades[0].priceIn : 0.0; };
    ASSERT_NE(first, second);
    ASSERT_EQ(1, first->testCount);
    ASSERT_EQ(1, second->testCount);
    EXPECT_DOUBLE_EQ(10, priceIn(first->firstTest));
    EXPECT_DOUBLE_EQ(20, priceIn(second->firstTest));
    EXPECT_STREQ(upper.c_str(), gStore.loadedPath);
    EXPECT_TRUE(PlatFileExists(tmp.File("R.kvr").c_str()));
#endif
    gHeadlessScripts.windowCount = 1;
    CopyString(gHeadlessScripts.windows[0].path, sizeof gHeadlessScripts.windows[0].path,
               (scripts + "\\Upper.kvs").c_str(), -1);
    void *window = FindScriptWindow((scripts + "\\upper.kvs").c_str());
    gHeadlessScripts.windowCount = 0;
#ifdef _WIN32
    EXPECT_NE(nullptr, window);
#else
    EXPECT_EQ(nullptr, window);
#endif
}

/* A -test of a script with a TestScan in the program without a scan window:
** the rows go to SaveScanAs as the window saves them (AAA bought on
** 11 January and held, read at the last close); without SaveScanAs they are
** kept nowhere, which the run says, and the batch ends with 8. */
TEST_F(BatchRun, ATestScanWithoutItsWindowIsSavedOrRefused)
{
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    const std::string path = tmp.File("Output\\held.csv");
    const std::string script = "Strategy: S1\n  EntrySetup: BarDate = 20240110\n  Quantity: 100\nTestScan:\n  Price: C\n  Held: Shares\n";
    Write("saved.kvs", "Settings:\n  TestOutput: Scan\n  SaveScanAs: " + path + "\n" + script);
    ASSERT_EQ(0, RunBatchCommandLine("-test saved.kvs")) << ErrorLog();
    EXPECT_EQ("Date,Symbol,Price,Held\r\n2024-01-19,AAA,10,100\r\n", ReadTestFile(path));
    NewBatch();
    Write("unsaved.kvs", "Settings:\n  TestOutput: Scan\n" + script);
    EXPECT_EQ(RESULT_STOPPED, RunBatchCommandLine("-test unsaved.kvs"));
    EXPECT_NE(std::string::npos, ErrorLog().find("SaveScanAs is empty")) << ErrorLog();
}
