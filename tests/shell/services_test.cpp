#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "records/test_records.h"
#include "script/compiler/formula.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/program_state.h"

namespace {

struct ShellTest : ProgramStateTest {
    uint64_t savedPhysical = 0;
    char savedOutput[sizeof gOutputFolder];
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        MemoryPercent(); // makes sure the physical-memory figure has been read
        savedPhysical = gPhysicalMemory;
        memcpy(savedOutput, gOutputFolder, sizeof savedOutput);
    }
    void TearDown() override
    {
        gPhysicalMemory = savedPhysical;
        memcpy(gOutputFolder, savedOutput, sizeof savedOutput);
        ProgramStateTest::TearDown();
    }
};

} // namespace

TEST_F(ShellTest, StatusTextPartsAndReady)
{
    SetStatusText(0, nullptr);
    EXPECT_STREQ(gHeadless.statusParts[0], "Ready");
    SetStatusText(1, "Test %d of %d", 3, 7);
    EXPECT_STREQ(gHeadless.statusParts[1], "Test 3 of 7");
    char readBack[8];
    GetStatusText(1, readBack, sizeof readBack); // cut to the caller's buffer
    EXPECT_STREQ(readBack, "Test 3 ");
    SetStatusText(1, nullptr);
    EXPECT_STREQ(gHeadless.statusParts[1], "");

    std::string longText(400, 'x');
    SetStatusText(2, "%s", longText.c_str());
    EXPECT_EQ(strlen(gHeadless.statusParts[2]), 256u);

    gSettings.ShowStatusBar = 0;
    SetStatusText(1, "ignored");
    EXPECT_STREQ(gHeadless.statusParts[1], "");
    gSettings.ShowStatusBar = 1;

    SetStatusText(3, "busy");
    ResetStatusBar(0);
    EXPECT_STREQ(gHeadless.statusParts[0], "Ready");
    for (int i = 1; i <= gSettings.StatusBarFields + 2; i++) EXPECT_STREQ(gHeadless.statusParts[i], "") << i;
}

TEST_F(ShellTest, FrameTitleCarriesLowMemoryWarning)
{
    SetFrameTitle(nullptr);
    EXPECT_STREQ(gHeadless.frameTitle, "Kestovar");
    SetFrameTitle("%s", "sample1.kvs");
    EXPECT_STREQ(gHeadless.frameTitle, "Kestovar - sample1.kvs");
    gRun.lowMemory = 1;
    SetFrameTitle("%s", "sample1.kvs");
    EXPECT_STREQ(gHeadless.frameTitle, "Kestovar - sample1.kvs - LOW MEMORY WARNING");
    SetFrameTitle(nullptr);
    EXPECT_STREQ(gHeadless.frameTitle, "Kestovar - LOW MEMORY WARNING");
}

TEST_F(ShellTest, LowMemoryWarnsOncePerRiseAndStopsTheRun)
{
    void *block = nullptr;
    ASSERT_EQ(AllocMemory(&block, 1000), 1);
    uint64_t held = gAllocatedBytes.load();
    gSettings.MaxMemPct = 95;
    gRun.state = RUN_TESTING;

    gPhysicalMemory = held * 100 / 94; // 94 percent
    PumpMessages();
    EXPECT_EQ(gRun.lowMemory.load(), 0);
    EXPECT_EQ(gHeadless.messageCount, 0);
    EXPECT_EQ(std::string(gHeadless.statusParts[gSettings.StatusBarFields + 2]), "Memory: 94%");

    gPhysicalMemory = held * 100 / 95; // 95 percent: warn and stop
    PumpMessages();
    EXPECT_EQ(gRun.lowMemory.load(), 1);
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_EQ(gRun.state.load(), RUN_STOP_REQUESTED);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_LOW_MEMORY);
    EXPECT_NE(strstr(LastMessage(), "*** WARNING: LOW MEMORY ***"), nullptr);
    EXPECT_NE(strstr(gHeadless.frameTitle, " - LOW MEMORY WARNING"), nullptr);

    gPhysicalMemory = held * 100 / 96; // staying high: nothing more
    PumpMessages();
    EXPECT_EQ(gHeadless.messageCount, 1);

    gPhysicalMemory = held * 100 / 90; // dropping clears the flag and the title
    PumpMessages();
    EXPECT_EQ(gRun.lowMemory.load(), 0);
    EXPECT_EQ(strstr(gHeadless.frameTitle, "LOW MEMORY"), nullptr);

    gPhysicalMemory = held * 100 / 97; // rising again warns again
    PumpMessages();
    EXPECT_EQ(gHeadless.messageCount, 2);
    FreeMemory(&block);
}

TEST_F(ShellTest, FailedAllocationRaisesWarningAtLowPercentage)
{
    gSettings.MaxMemPct = 95;
    gOutOfMemory = 1;
    PumpMessages();
    EXPECT_EQ(gRun.lowMemory.load(), 1);
    EXPECT_EQ(gOutOfMemory.load(), 0); // the pump is what clears it
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_EQ(gRun.state.load(), RUN_IDLE); // no run was going, none is stopped
}

TEST_F(ShellTest, LowMemoryMessageWordingAndAdvice)
{
    char text[1024];
    FormatLowMemoryWarning(text, sizeof text, 1.5 * 1073741824.0, 0.01 * 1073741824.0, 0);
    EXPECT_STREQ(text, "*** WARNING: LOW MEMORY ***\n\nCurrent Usage:\n- loaded data: 1.5 GB\n"
                       "- calculated data: 0.1 GB\n- test results etc: 0 GB\n\nPlease unload data before continuing.");
    FormatLowMemoryWarning(text, sizeof text, 0, 0, 2.0 * 1073741824.0);
    EXPECT_NE(strstr(text, "Please clear test results before continuing."), nullptr);
}

/* The warning weighs the tests that the results windows hold. */
TEST_F(ShellTest, LowMemoryWarningCountsTheTestResults)
{
    ResultsWindow *window = CreateResultsWindow(0, nullptr);
    ASSERT_NE(window, nullptr);
    TestRecord *a = ReadTestRecord(nullptr, 4, 2, 1, 0);
    TestRecord *b = ReadTestRecord(nullptr, 0, 1, 1, 0);
    ASSERT_TRUE(a && b);
    a->tradeCount = 3; /* counted, not read */
    AddTestToResults(window, a);
    AddTestToResults(window, b);
    /* (2 + 2) x 504 + 3 x 344 + 4 x 88 = 3400 and (1 + 2) x 504 = 1512. */
    EXPECT_EQ(EstimateResultsMemory(), 4912.0);
    ShowLowMemoryWarning();
    EXPECT_NE(strstr(LastMessage(), "- test results etc: 0.1 GB\n\nPlease clear test results"), nullptr)
        << LastMessage();
    a->tradeCount = 0;
    CloseResultsWindow(window);
    EXPECT_EQ(EstimateResultsMemory(), 0.0);
}

TEST_F(ShellTest, NoticesAndMessageBoxesAreKept)
{
    ShowPopupNotice(255, "Calculation Stopped");
    EXPECT_STREQ(LastNotice(), "Calculation Stopped");
    EXPECT_EQ(gHeadless.noticeColours[0], 255u);
    gHeadless.messageBoxAnswer = 6;
    EXPECT_EQ(ShowMessageBox("Save changes to x?", "Kestovar", 3), 6);
    EXPECT_STREQ(LastMessage(), "Save changes to x?");
}

TEST_F(ShellTest, LogGoesToTheTestLogFileWhenOpen)
{
    std::string path = tmp.File("TEST_0001.TXT");
    gRun.testLogFile = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
    ASSERT_NE(gRun.testLogFile, nullptr);
    LogPrintf("Date\t%d", 20240102);
    gRun.logContinueLine = 1;
    LogPrintf("a");
    LogPrintf("b");
    gRun.logContinueLine = 0;
    LogPrintf("");
    PlatCloseFile(gRun.testLogFile);
    gRun.testLogFile = nullptr;
    EXPECT_EQ(ReadTestFile(path), "Date\t20240102\r\nab\r\n");

    gHeadless.captureLog = 1;
    LogPrintf("to the program log");
    ASSERT_NE(gHeadless.logText, nullptr);
    EXPECT_STREQ(gHeadless.logText, "to the program log\n");
}

/* In the native program the run's log and the error log show paths as the
** system writes them: '/' here, '\\' on Windows, whatever the program
** composed. */
TEST_F(ShellTest, LogsWritePathsTheSystemsWay)
{
    gMessageState.nativePaths = 1;
#ifdef _WIN32
    const std::string path = "\\home\\me\\demo.kvs";
#else
    const std::string path = "/home/me/demo.kvs";
#endif
    std::string log = tmp.File("TEST_0002.TXT");
    gRun.testLogFile = PlatOpenFile(log.c_str(), PLAT_CREATE_WRITE);
    ASSERT_NE(gRun.testLogFile, nullptr);
    LogPrintf("Script:\t%s", "\\home\\me\\demo.kvs");
    PlatCloseFile(gRun.testLogFile);
    gRun.testLogFile = nullptr;
    EXPECT_EQ(ReadTestFile(log), "Script:\t" + path + "\r\n");

    gRun.unattended = 1;
    ReportError("Unable to create %s", "\\home\\me\\demo.kvs");
    const std::string errors = ReadTestFile(tmp.File("errorlog.txt"));
    EXPECT_NE(std::string::npos, errors.find("\nUnable to create " + path + "\n")) << errors;
    gMessageState.nativePaths = 0;
}

TEST_F(ShellTest, CreateOutputFoldersMakesInfoLogsReports)
{
    snprintf(gOutputFolder, sizeof gOutputFolder, "%s", tmp.File("Output").c_str());
    ASSERT_EQ(PlatCreateFolder(gOutputFolder), 1);
    ASSERT_EQ(CreateOutputFolders(), 1);
    EXPECT_EQ(std::string(gLogsFolder), tmp.File("Output") + "\\Logs");
    EXPECT_EQ(PlatFolderExists((tmp.File("Output") + "\\Info").c_str()), 1);
    EXPECT_EQ(PlatFolderExists((tmp.File("Output") + "\\Reports").c_str()), 1);
    EXPECT_EQ(gHeadless.messageCount, 0);

    snprintf(gOutputFolder, sizeof gOutputFolder, "%s", tmp.File("missing\\Output").c_str());
    EXPECT_EQ(CreateOutputFolders(), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_EQ(std::string(LastMessage()), "Unable to create folder " + tmp.File("missing\\Output") + "\\Info");

    /* Info and Logs would fit 259 characters, Reports would not: nothing is
    ** made rather than a folder under a cut name. */
    std::string longOutput = tmp.path + "\\" + std::string(254 - tmp.path.size() - 1, 'o');
    snprintf(gOutputFolder, sizeof gOutputFolder, "%s", longOutput.c_str());
    ResetHeadlessShell();
    gRun.resultCode = RESULT_OK;
    EXPECT_EQ(CreateOutputFolders(), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_STREQ(LastMessage(), "Reports file path is too long -- maximum is 260 chars.");
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_EQ(PlatFolderExists(longOutput.c_str()), 0);
}

/* A create that fails for any reason but a missing parent (here a file that
** holds the Logs name) leaves no folder to write to, and says so. */
TEST_F(ShellTest, CreateOutputFoldersReportsAFolderThatIsNotThere)
{
    snprintf(gOutputFolder, sizeof gOutputFolder, "%s", tmp.File("Blocked").c_str());
    ASSERT_EQ(PlatCreateFolder(gOutputFolder), 1);
    ASSERT_TRUE(WriteTestFile(tmp.File("Blocked\\Logs"), "not a folder"));
    EXPECT_EQ(CreateOutputFolders(), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_EQ(std::string(LastMessage()), "Unable to create folder " + tmp.File("Blocked") + "\\Logs");
    EXPECT_EQ(PlatFolderExists((tmp.File("Blocked") + "\\Reports").c_str()), 0);
}

TEST_F(ShellTest, HistoryListRules)
{
    char history[SETTING_HISTORY_SIZE] = "b\nA\nc";
    UpdateHistoryList(history, "a", 0); // case-insensitive duplicate moves to the front
    EXPECT_STREQ(history, "a\nb\nc");

    // path checking drops entries that are gone
    std::string keep = tmp.File("keep.kvs"), gone = tmp.File("gone.kvs");
    ASSERT_TRUE(WriteTestFile(keep, "x"));
    snprintf(history, sizeof history, "%s\n%s", gone.c_str(), keep.c_str());
    UpdateHistoryList(history, nullptr, 1);
    EXPECT_EQ(std::string(history), keep);

    // the oldest entries drop off until the new text fits in 2048 bytes
    std::string big;
    for (int i = 0; i < 40; i++) big += (i ? "\n" : "") + std::string(49, 'a' + i % 26) + std::to_string(i % 10);
    ASSERT_LT(big.size(), (size_t)SETTING_HISTORY_SIZE);
    snprintf(history, sizeof history, "%s", big.c_str());
    std::string fresh(100, 'z');
    UpdateHistoryList(history, fresh.c_str(), 0);
    EXPECT_LT(strlen(history), (size_t)SETTING_HISTORY_SIZE);
    EXPECT_EQ(std::string(history).substr(0, 101), fresh + "\n");
    EXPECT_EQ(std::string(history).find(std::string(49, 'a' + 39 % 26) + "9"), std::string::npos);

    // the combo shows at most 10 entries
    std::string many;
    for (int i = 0; i < 15; i++) many += (i ? "\n" : "") + std::string("entry") + std::to_string(i);
    snprintf(history, sizeof history, "%s", many.c_str());
    UpdateHistoryCombo(nullptr, 1031, 0, "new", history);
    EXPECT_EQ(gHeadless.comboCount, HISTORY_SHOWN);
    EXPECT_STREQ(gHeadless.comboEntries[0], "new");
    EXPECT_STREQ(gHeadless.comboEntries[9], "entry8");
}

TEST_F(ShellTest, HistoryFromDialogAlsoFeedsRecentFiles)
{
    std::string script = tmp.File("s.kvs");
    ASSERT_TRUE(WriteTestFile(script, "x"));
    gSettings.RecentFilesMRU[0] = 0;
    char history[SETTING_HISTORY_SIZE] = "";
    int dialog = 0;
    UpdateHistoryCombo(&dialog, 1137, 1, script.c_str(), history);
    EXPECT_EQ(std::string(gSettings.RecentFilesMRU), script);

    gSettings.RecentFilesMRU[0] = 0;
    gSettings.DataFileMRU[0] = 0;
    UpdateHistoryCombo(&dialog, 1031, 1, script.c_str(), gSettings.DataFileMRU);
    EXPECT_STREQ(gSettings.RecentFilesMRU, ""); // the data-file history is kept apart
}

TEST(ShellRules, WorkerCount)
{
    EXPECT_EQ(ComputeWorkerCount(0, 8), 8);
    EXPECT_EQ(ComputeWorkerCount(4, 8), 4);
    EXPECT_EQ(ComputeWorkerCount(16, 8), 8);
    EXPECT_EQ(ComputeWorkerCount(0, 64), 32);
    EXPECT_EQ(ComputeWorkerCount(40, 48), 32);
    EXPECT_EQ(ComputeWorkerCount(-3, 2), 2);
}

TEST(ShellRules, StopRequestOnlyDuringARun)
{
    gRun.state = RUN_IDLE;
    RequestStop();
    EXPECT_EQ(gRun.state.load(), RUN_IDLE);
    gRun.state = RUN_CALCULATING;
    RequestStop();
    EXPECT_EQ(gRun.state.load(), RUN_STOP_REQUESTED);
    gRun.state = RUN_IDLE;
}

/* A stop asked while nothing runs (between two steps of a run, between two
** runs) is kept: the next step that starts starts stopped, until a new
** batch or run clears it. */
TEST(ShellRules, AStopAskedWhileIdleStopsTheNextStepUntilCleared)
{
    gRun.state = RUN_IDLE;
    RequestStop();
    EXPECT_EQ(1, gRun.stopAsked.load());
    EnterRunState(RUN_CALCULATING);
    EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load());
    EnterRunState(RUN_IDLE);
    ClearStopRequest();
    EnterRunState(RUN_LOADING);
    EXPECT_EQ(RUN_LOADING, gRun.state.load());
    gRun.state = RUN_IDLE;
}

TEST_F(ShellTest, DebugHeaderLines)
{
    gHeadless.captureLog = 1;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    gSettings.BarSize2 = 1;
    FormulaSlot slot = {};
    const char *script = "Data:\n  x: C / AVG(C,20)\n";
    slot.scriptText = script;
    slot.start = 11;
    slot.length = 13;
    LogDebugHeader(20170224, "SPY", &slot);
    EXPECT_EQ(std::string(gHeadless.logText), std::string(60, '-') + "\nSymbol:\tSPY\nBarSize:\tWeekly\nDate:\t2017-02-24\nFormula:\tC / AVG(C,20)\n");
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    LogDebugHeader(20170224, "SPY", nullptr);
    EXPECT_NE(strstr(gHeadless.logText, "Formula:\tn/a\n"), nullptr);
}
