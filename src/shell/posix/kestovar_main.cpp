/* kestovar_main.cpp -- the native program: the same command line as the
** window program, run without windows.  Status texts become a progress line
** on the terminal (rewritten in place there, plain lines when the output is a
** file or a pipe), errors go to errorlog.txt and are repeated on standard
** error, and the process result is the batch's exit code. */
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/folder_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/builtins/builtins.h"
#include "script/eval/item_table.h"
#include "shell/command_line.h"
#include "shell/frame_rules.h"
#include "shell/headless/headless.h"
#include "shell/run_view_setup.h"
#include "shell/services.h"

static struct {
    int onTerminal; /* stdout is a terminal: the line is rewritten in place */
    int lineOpen;   /* a progress line waits for its end */
    char last[257]; /* the last text shown, so repeats are not printed */
} sTerminal;

static void EchoStatus(int part, const char *text)
{
    if (part != 0 || !text[0] || strcmp(text, "Ready") == 0 || strcmp(text, sTerminal.last) == 0) return;
    CopyString(sTerminal.last, sizeof sTerminal.last, text, -1);
    if (sTerminal.onTerminal) {
        fprintf(stdout, "\r\033[K%s", text);
        sTerminal.lineOpen = 1;
    } else {
        fprintf(stdout, "%s\n", text);
    }
    fflush(stdout);
}

static void EndProgressLine()
{
    if (sTerminal.lineOpen) fputc('\n', stdout);
    sTerminal.lineOpen = 0;
    fflush(stdout);
}

/* The window program's initialisation without the window steps. */
static int InitApplication()
{
    gRun.uiThreadId = PlatCurrentThreadId();
    if (!InstallBuiltins()) return 0;
    InstallRunViewHooks();
    if (!gSettingsFile[0]) FormatText(gSettingsFile, sizeof gSettingsFile, "%s\\kestovar.ini", gProgramFolder);
    if (PlatFileExists(gSettingsFile))
        LoadSettings(gSettingsFile);
    else
        ResetSettingsToDefaults();
    RepairLoadedSettings(&gSettings.AccountSize, &gSettings.MaxMemPct, &gSettings.StatusBarFields);
    gSettings.ShowStatusBar = 1;
    SetUpProgramFolders();
    gSettings.CalcThreads = ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount());
    for (int barSize = 0; barSize < BAR_SIZE_COUNT; barSize++)
        if (!InitDefaultDateList(&gStore.dateLists[barSize], barSize)) return 0;
    BuildCalendarSymbol();
    /* The constituency list is optional: without one there is nothing to
    ** load and nothing to report. */
    char list[2][300];
    FormatText(list[0], sizeof list[0], "%s\\constituency.csv", gScriptsFolder);
    FormatText(list[1], sizeof list[1], "%s\\constituency.csv", gProgramFolder);
    if (PlatFileExists(list[0]) || PlatFileExists(list[1])) LoadConstituency();
    return CheckItemTable();
}

static uint64_t ErrorLogSize(const char *path)
{
    uint64_t size = 0;
    PlatDateTime written;
    return PlatGetFileInfo(path, &size, &written) ? size : 0;
}

/* What the batch appended to the error log, repeated on standard error. */
static void CopyNewErrors(const char *path, uint64_t from)
{
    PlatFile f = PlatOpenFile(path, PLAT_OPEN_READ);
    if (!f) return;
    char buffer[4096];
    uint32_t got = 0;
    if (PlatSeekFile(f, (int64_t)from, 0, nullptr))
        while (PlatReadFile(f, buffer, sizeof buffer, &got) && got > 0) fwrite(buffer, 1, got, stderr);
    PlatCloseFile(f);
}

/* The last test of the results list in a few numbers per strategy, so a
** batch run on a terminal shows what it found without a window. */
static void PrintTestSummary()
{
    ResultsWindow *window = FirstResultsWindow();
    TestRecord *test = window ? window->lastTest : nullptr;
    if (!test || test->rowsFilled < 1) return;
    char first[DATE_TEXT_SIZE], last[DATE_TEXT_SIZE];
    FormatDate(test->firstDate, "yyyy-MM-dd", first);
    FormatDate(test->lastDate, "yyyy-MM-dd", last);
    printf("\nTest %d: %s to %s\n", test->testNumber, first, last);
    printf("%-24s %14s %9s %9s %8s %7s\n", "Strategy", "End equity", "Net %", "CAR %", "MaxDD %", "Trades");
    double years = 0;
    if (test->daysPerYear > 0) years = test->rowsFilled / test->daysPerYear;
    for (int32_t s = 0; s < test->strategyCount; s++) {
        const StatCell *cell = CellAt(test, test->rowsFilled - 1, s);
        double equity = cell->equityBase + cell->markToMarket;
        double growth = cell->startEquity > 0 ? equity / cell->startEquity : 0;
        double car = years > 0 && growth > 0 ? (pow(growth, 1.0 / years) - 1.0) * 100.0 : 0;
        int32_t trades = 0;
        /* A combined strategy counts the trades of the strategies it holds. */
        for (int32_t t = 0; t < test->tradeCount; t++) {
            const TradeRecord &trade = test->trades[t];
            if (trade.quantityIn == 0 || trade.strategy < 0 || trade.strategy >= test->strategyCount) continue;
            const StrategyResult &owner = test->strategies[trade.strategy];
            int held = trade.strategy == s;
            for (int32_t p = 0; p < owner.parentCount && !held; p++) held = owner.parents[p] == s;
            trades += held;
        }
        printf("%-24.24s %14.2f %9.2f %9.2f %8.2f %7d\n", test->strategies[s].name, equity, (growth - 1.0) * 100.0, car,
               cell->maxDrawdownPercent * 100.0, trades);
    }
}

int main(int argc, char **argv)
{
    std::string line;
    for (int i = 1; i < argc; i++) {
        if (i > 1) line += ' ';
        /* Paths are kept with the program's own separator, so the folder
        ** macros of a script named here (?scriptpath?) find their folder. */
        std::string arg = argv[i];
        if (arg[0] != '-')
            for (char &c : arg)
                if (c == '/') c = '\\';
        /* Each argument comes back as one token, blanks and all. */
        if (arg.find_first_of(" \t") != std::string::npos || arg.empty())
            line += '"' + arg + '"';
        else
            line += arg;
    }
    PlatGetProgramFolder(gProgramFolder, sizeof gProgramFolder);
    InitMessages(nullptr, nullptr, gProgramFolder);
    sTerminal.onTerminal = isatty(STDOUT_FILENO);
    gHeadless.statusEcho = EchoStatus;

    char errorLog[300];
    FormatText(errorLog, sizeof errorLog, "%s\\errorlog.txt", gProgramFolder);
    char nativeLog[300];
    PlatNativePath(errorLog, nativeLog, sizeof nativeLog);
    uint64_t errorsBefore = ErrorLogSize(errorLog);
    /* Without windows every run is unattended. */
    int code = ParseCommandLineOptions(line.c_str()) ? 0 : gRun.resultCode.load();
    gRun.unattended = 1;
    if (code == 0 && !InitApplication()) code = gRun.resultCode.load() ? gRun.resultCode.load() : RESULT_STOPPED;
    if (code == 0) code = RunBatchCommandLine(line.c_str());
    EndProgressLine();
    PrintTestSummary();
    if (ErrorLogSize(errorLog) > errorsBefore) {
        CopyNewErrors(errorLog, errorsBefore);
        fprintf(stderr, "(errors also in %s)\n", nativeLog);
    }
    return code;
}
