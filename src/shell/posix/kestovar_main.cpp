/* kestovar_main.cpp -- the native program: the same command line as the
** window program, run without windows.  Status texts become a progress line
** on the terminal (rewritten in place there, plain lines when the output is a
** file or a pipe; an import shows the file or symbol, how far it is and the
** bars so far), notices and the import's refused files and lines go to
** standard error, errors go to errorlog.txt and are repeated on standard
** error, Ctrl+C stops the run as the window program's stop does, and the
** process result is the batch's exit code. */
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/folder_helpers.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/builtins/builtins.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/eval/item_table.h"
#include "shell/command_line.h"
#include "shell/frame_rules.h"
#include "shell/headless/headless.h"
#include "shell/run_view_setup.h"
#include "services/services.h"
#include "views/results_rows.h"

enum { PROGRESS_INTERVAL_MS = 100 };

static struct {
    int onTerminal;     /* stdout is a terminal: the line is rewritten in place */
    int lineOpen;       /* a progress line waits for its end */
    char last[257];     /* the last part-0 text shown, so repeats are not printed */
    uint64_t shown;     /* tick of the last import progress line */
} sTerminal;

/* Set by Ctrl+C; the run is asked to stop, and the exit code is the stop's. */
static volatile sig_atomic_t sInterrupted;

static void EndProgressLine()
{
    if (sTerminal.lineOpen) fputc('\n', stdout);
    sTerminal.lineOpen = 0;
    fflush(stdout);
}

/* The import's progress on the terminal: what the status says, the file or
** symbol, how far the block is and the bars kept so far. */
static void ShowImportProgress()
{
    uint64_t now = PlatTickCount64();
    if (now - sTerminal.shown < PROGRESS_INTERVAL_MS) return;
    sTerminal.shown = now;
    char bars[32];
    FormatText(bars, sizeof bars, "%lld", (long long)__atomic_load_n(&gImport.barCount, __ATOMIC_RELAXED));
    InsertCommas(bars, (int32_t)strlen(bars), (int32_t)sizeof bars);
    char line[512];
    int n = FormatText(line, sizeof line, "%s", sTerminal.last);
    int32_t done = gImport.progressDone, total = gImport.progressTotal;
    if (gImport.progressName[0]) n += FormatText(line + n, sizeof line - (size_t)n, ": %s", gImport.progressName);
    if (total > 0) n += FormatText(line + n, sizeof line - (size_t)n, " (%d of %d)", (int)done, (int)total);
    FormatText(line + n, sizeof line - (size_t)n, ", %s bars", bars);
    fprintf(stdout, "\r\033[K%s", line);
    sTerminal.lineOpen = 1;
    fflush(stdout);
}

static void EchoStatus(int part, const char *text)
{
    /* A Ctrl+C that came while nothing ran stops the run that follows. */
    if (sInterrupted) RequestStop();
    int importing = gRun.state.load() == RUN_IMPORT;
    /* Paths as this system writes them; the program composes them with '\\'. */
    char shown[sizeof sTerminal.last];
    PlatNativePath(text, shown, sizeof shown);
    text = shown;
    if (part == 0 && text[0] && strcmp(text, "Ready") != 0 && strcmp(text, sTerminal.last) != 0) {
        CopyString(sTerminal.last, sizeof sTerminal.last, text, -1);
        if (sTerminal.onTerminal) {
            fprintf(stdout, "\r\033[K%s", text);
            sTerminal.lineOpen = 1;
            sTerminal.shown = PlatTickCount64();
        } else {
            fprintf(stdout, "%s\n", text);
        }
        fflush(stdout);
        return;
    }
    if (importing && sTerminal.onTerminal) ShowImportProgress();
}

/* Notices and the import's reports (stream 2) go to standard error, the
** import's closing counts (stream 1) to the terminal, each in place of the
** progress line, which the next progress redraws below them. */
static void ConsoleEcho(int stream, const char *text)
{
    if (sTerminal.lineOpen) {
        fputs("\r\033[K", stdout);
        fflush(stdout);
        sTerminal.lineOpen = 0;
        sTerminal.shown = 0;
    }
    FILE *out = stream == 2 ? stderr : stdout;
    std::string shown(strlen(text) + 1, '\0');
    PlatNativePath(text, shown.data(), shown.size());
    fputs(shown.c_str(), out);
    fflush(out);
}

static void Interrupted(int)
{
    sInterrupted = 1;
    RequestStop();
    static const char kStopping[] = "\nStopping...\n";
    ssize_t ignored = write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
    (void)ignored;
}

/* Ctrl+C asks the run to stop as the window program's stop does: the
** import keeps the previous data file and removes its temporary file.  A
** second Ctrl+C ends the program at once. */
static void CatchInterrupt()
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = Interrupted;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
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

/* A summary column is as wide as its heading (16 characters at most) and
** never narrower than 9. */
static int SummaryWidth(const FormulaColumn *column)
{
    int width = (int)strlen(column->heading);
    return width < 9 ? 9 : width > 16 ? 16 : width;
}

/* The last test of the results list, one line per strategy with the shown
** Results columns (the script's own, else the default Results script), so a
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
    const FormulaColumn *columns = (const FormulaColumn *)gResultsColumns.items;
    std::string line = "Strategy                ";
    for (int32_t k = 0; k < gResultsColumns.count; k++) {
        if (columns[k].format == 0) continue;
        char cell[40];
        FormatText(cell, sizeof cell, " %*.16s", SummaryWidth(&columns[k]), columns[k].heading);
        line += cell;
    }
    printf("%s\n", line.c_str());
    for (int32_t s = 0; s < test->strategyCount; s++) {
        char name[40];
        FormatText(name, sizeof name, "%-24.24s", test->strategies[s].name);
        line = name;
        for (int32_t k = 0; k < gResultsColumns.count; k++) {
            double value = EvalTestStat(test, s, k, 1);
            if (columns[k].format == 0) continue;
            char text[NUMBER_TEXT_SIZE], cell[NUMBER_TEXT_SIZE + 8];
            FormatNumber(value, columns[k].format, columns[k].decimals, (int32_t)columns[k].negativeParens,
                         test->currency, text);
            FormatText(cell, sizeof cell, " %*s", SummaryWidth(&columns[k]), text);
            line += cell;
        }
        printf("%s\n", line.c_str());
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
    /* Everything this program prints and logs shows paths as Linux writes
    ** them; the program composes them with '\\'. */
    gMessageState.nativePaths = 1;
    sTerminal.onTerminal = isatty(STDOUT_FILENO);
    gHeadless.statusEcho = EchoStatus;
    gConsoleEcho = ConsoleEcho;
    CatchInterrupt();

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
    if (sInterrupted) code = RESULT_STOPPED;
    EndProgressLine();
    PrintTestSummary();
    if (ErrorLogSize(errorLog) > errorsBefore) {
        CopyNewErrors(errorLog, errorsBefore);
        fprintf(stderr, "(errors also in %s)\n", nativeLog);
    }
    return code;
}
