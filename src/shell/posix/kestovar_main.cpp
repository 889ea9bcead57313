/* kestovar_main.cpp -- the native program: the same command line as the
** window program, run without windows.  Status texts become a progress line
** on the terminal (rewritten in place there, plain lines when the output is a
** file or a pipe, each step once; an import shows the file or symbol, how far
** it is and the bars so far), notices and the import's refused files and
** lines go to standard error, errors go to errorlog.txt and this run's are
** repeated on standard error, Ctrl+C, SIGTERM and SIGHUP stop the run as the
** window program's stop does and end the batch, and the process result is
** the batch's exit code.  Standard output is progress text only: a reader
** that goes away (a closed pipe) ends the printing, never the run, and a
** program started with a standard descriptor closed has it on /dev/null, so
** no file it opens takes its place.  A line that runs nothing gets the usage
** text, and a relative script or settings path names a file from the current
** folder when there is one. */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/folder_helpers.h"
#include "foundation/numbers.h"
#include "foundation/path_macros.h"
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
#include "shell/hold_points.h"
#include "shell/run_view_setup.h"
#include "services/services.h"
#include "views/results_rows.h"

enum { PROGRESS_INTERVAL_MS = 100,
       STATUS_NESTING = 8 };

static struct {
    int onTerminal; /* stdout is a terminal: the line is rewritten in place */
    int closed;     /* a write to stdout failed (its reader went away): no more is printed */
    int lineOpen;   /* a progress line waits for its end */
    char last[257]; /* the part-0 text in force, which the import progress line shows */
    uint64_t shown; /* tick of the last import progress line */
    /* The part-0 texts in force, outermost first: a step that changes the
    ** status puts the text before it back when it ends, and a text put back
    ** is no news. */
    char nested[STATUS_NESTING][257];
    int nesting;
} sTerminal;

/* What this run reported to the error log, repeated on standard error at
** the end, and why the first entry that did not reach the log did not ("" when
** every one did). */
static std::string sKeptErrors;
static std::string sErrorLogFailure;

/* Sends what stdout holds on; once a write has failed (the pipe's reader has
** gone, SIGPIPE being ignored) nothing more is printed there. */
static void FlushOutput()
{
    if (sTerminal.closed) return;
    if (fflush(stdout) != 0 || ferror(stdout)) sTerminal.closed = 1;
}

static void EndProgressLine()
{
    if (sTerminal.closed) return;
    if (sTerminal.lineOpen) fputc('\n', stdout);
    sTerminal.lineOpen = 0;
    FlushOutput();
}

/* The import's progress on the terminal: what the status says, the file or
** symbol, how far the block is and the bars kept so far. */
static void ShowImportProgress()
{
    if (sTerminal.closed) return;
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
    FlushOutput();
}

/* Takes a new part-0 text into the nesting: 1 when it is news, 0 when it
** is the text in force or puts back the one before it (which then is in
** force again).  "Ready" ends every step. */
static int NoteStatusText(const char *text)
{
    int &n = sTerminal.nesting;
    if (!text[0] || strcmp(text, "Ready") == 0) {
        n = 0;
        return 0;
    }
    if (n > 0 && strcmp(sTerminal.nested[n - 1], text) == 0) return 0;
    if (n > 1 && strcmp(sTerminal.nested[n - 2], text) == 0) {
        n--;
        return 0;
    }
    if (n == STATUS_NESTING) {
        memmove(sTerminal.nested[0], sTerminal.nested[1], sizeof sTerminal.nested - sizeof sTerminal.nested[0]);
        n--;
    }
    CopyString(sTerminal.nested[n++], sizeof sTerminal.nested[0], text, -1);
    return 1;
}

static void EchoStatus(int part, const char *text)
{
    if (sTerminal.closed) return;
    int importing = gRun.state.load() == RUN_IMPORT;
    /* Paths as this system writes them; the program composes them with '\\'. */
    char shown[sizeof sTerminal.last];
    PlatNativePath(text, shown, sizeof shown);
    text = shown;
    if (part == 0) {
        int news = NoteStatusText(text);
        /* On a terminal the line shows the text in force, a text put back
        ** too; as lines, each step is told once. */
        int changed = sTerminal.nesting > 0 && strcmp(sTerminal.nested[sTerminal.nesting - 1], sTerminal.last) != 0;
        if (sTerminal.nesting > 0)
            CopyString(sTerminal.last, sizeof sTerminal.last, sTerminal.nested[sTerminal.nesting - 1], -1);
        if (sTerminal.onTerminal && changed) {
            fprintf(stdout, "\r\033[K%s", sTerminal.last);
            sTerminal.lineOpen = 1;
            sTerminal.shown = PlatTickCount64();
            FlushOutput();
            return;
        }
        if (!sTerminal.onTerminal && news) {
            fprintf(stdout, "%s\n", text);
            FlushOutput();
            return;
        }
    }
    if (importing && sTerminal.onTerminal) ShowImportProgress();
}

/* Notices and the import's reports (stream 2) go to standard error, the
** import's closing counts (stream 1) to the terminal, each in place of the
** progress line, which the next progress redraws below them. */
static void ConsoleEcho(int stream, const char *text)
{
    if (sTerminal.lineOpen && !sTerminal.closed) {
        fputs("\r\033[K", stdout);
        FlushOutput();
        sTerminal.lineOpen = 0;
        sTerminal.shown = 0;
    }
    if (stream != 2 && sTerminal.closed) return;
    FILE *out = stream == 2 ? stderr : stdout;
    std::string shown(strlen(text) + 1, '\0');
    PlatNativePath(text, shown.data(), shown.size());
    fputs(shown.c_str(), out);
    if (out == stdout)
        FlushOutput();
    else
        fflush(out);
}

/* Within this many milliseconds of the first Ctrl+C, a second is the same
** stop: timeout and a scheduler send their SIGINT to the program and again to
** its process group, which holds the program. */
static const int64_t kOneStopMilliseconds = 1000;
static std::atomic<int64_t> sFirstInterruptAt{-1};

static int64_t MonotonicMilliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static void StopRequested(int stop);

/* The interrupted code may be between a failed call and the reading of its
** errno: the handler leaves errno as it found it. */
static void Interrupted(int stop)
{
    const int saved = errno;
    StopRequested(stop);
    errno = saved;
}

static void StopRequested(int stop)
{
    if (stop == SIGINT) {
        const int64_t now = MonotonicMilliseconds(), first = sFirstInterruptAt.load();
        if (first >= 0) {
            if (now - first < kOneStopMilliseconds) return;
            /* A later Ctrl+C ends the program at once, as the terminal's
            ** user expects of a second one; delivered when this returns. */
            struct sigaction fallback;
            memset(&fallback, 0, sizeof fallback);
            fallback.sa_handler = SIG_DFL;
            sigemptyset(&fallback.sa_mask);
            sigaction(SIGINT, &fallback, nullptr);
            raise(SIGINT);
            return;
        }
        sFirstInterruptAt.store(now);
    }
    /* The one stop word: the run going stops, and the batch starts no
    ** further run, also when nothing runs at this moment. */
    RequestStop();
    static const char kStopping[] = "\nStopping...\n";
    ssize_t ignored = write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
    (void)ignored;
}

/* Ctrl+C, SIGTERM (a scheduler's or timeout's stop) and SIGHUP (a closed
** session, some schedulers' stop) ask the run to stop as the window
** program's stop does: the import keeps the previous data file and removes
** its temporary file, a test keeps what it did, and no later run of the
** batch starts.  A second Ctrl+C a moment after the first ends the program at
** once; one within the moment, and a second SIGTERM or hangup whenever it
** comes, is the same stop: timeout sends its signal to the program and again
** to its process group, which holds the program, and a closed session hangs
** up twice (the shell passes its own on to its jobs, then the system hangs
** up the terminal's foreground job when the shell is gone).  One the program
** was started with ignored (nohup's SIGHUP, the SIGINT of a shell's
** background job) stays ignored: whoever started it asked that the run go on.
** A closed output pipe is no stop, nor is a file-size limit reached
** (ulimit -f): the write fails instead of ending the program, and is
** reported as a full disk is. */
static void CatchInterrupt()
{
    static_assert(std::atomic<int>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free,
                  "the stop words are set from a signal handler");
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = Interrupted;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was;
        if (sigaction(stop, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        sigaction(stop, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

/* Standard input, output and error that the program was started without
** are opened on /dev/null, before any file is opened: else the first file
** opened (an import log, an export, a data file's temporary file) would take
** descriptor 1 and the progress text would be written into it. */
static void OpenClosedStandardFiles()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = open("/dev/null", O_RDWR);
        /* The lowest free descriptor is this one; any other is not wanted. */
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
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
    LoadConstituencyWhenPresent();
    return CheckItemTable();
}

/* Every error-log entry of this run, as it is written, and the reason of
** the first that could not be. */
static void KeepErrorEntry(const char *entry, const char *failure)
{
    sKeptErrors += entry;
    if (failure && sErrorLogFailure.empty()) sErrorLogFailure = failure;
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
    if (!test || test->rowsFilled < 1 || sTerminal.closed) return;
    char first[DATE_TEXT_SIZE], last[DATE_TEXT_SIZE];
    FormatDate(test->firstDate, "yyyy-MM-dd", first);
    FormatDate(test->lastDate, "yyyy-MM-dd", last);
    printf("\nTest %d: %s to %s%s\n", test->testNumber, first, last, TestWasStopped(test) ? " (stopped)" : "");
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
    FlushOutput();
}

/* The usage on standard error. */
static void PrintUsage()
{
    fprintf(stderr, kBatchUsage, "kestovar");
}

int main(int argc, char **argv)
{
    OpenClosedStandardFiles();
    /* The arguments go to the passes one by one, as they came: no path is
    ** cut, and blanks and quotes in a name are the name's. */
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        /* A relative script or settings path that names something from the
        ** current folder is that file (a folder the batch then refuses by
        ** the name the user meant), also written with the program's '\\'. */
        if (!arg.empty() && arg[0] != '-') arg = PathFromCurrentFolder(arg);
        args.push_back(arg);
    }
    std::vector<const char *> argList;
    for (const std::string &arg : args) argList.push_back(arg.c_str());
    const int count = (int)argList.size();
    const char *const *list = argList.data();
    PlatGetProgramFolder(gProgramFolder, sizeof gProgramFolder);
    InitMessages(nullptr, nullptr, gProgramFolder);
    /* Everything this program prints and logs shows paths as Linux writes
    ** them; the program composes them with '\\'. */
    gMessageState.nativePaths = 1;
    sTerminal.onTerminal = isatty(STDOUT_FILENO);
    gHeadless.statusEcho = EchoStatus;
    gConsoleEcho = ConsoleEcho;
    ReadHoldPoint();
    /* The program's one batch begins here: from now on no stop is lost. */
    ClearStopRequest();
    CatchInterrupt();

    char errorLog[300];
    FormatText(errorLog, sizeof errorLog, "%s\\errorlog.txt", gProgramFolder);
    char nativeLog[300];
    PlatNativePath(errorLog, nativeLog, sizeof nativeLog);
    gMessageState.keepEntry = KeepErrorEntry;
    /* Without windows every run is unattended. */
    if (SettingsFileMissing(count, list)) {
        PrintUsage();
        return RESULT_BAD_SWITCH;
    }
    int code = ParseCommandArguments(count, list) ? 0 : gRun.resultCode.load();
    gRun.unattended = 1;
    /* A line that would run nothing is a mistake here, not a quiet success:
    ** the window program it stands for would have opened its window. */
    if (code == 0 && BatchArgumentsRunNothing(count, list)) {
        PrintUsage();
        return RESULT_BAD_SWITCH;
    }
    if (code == 0 && !InitApplication()) code = gRun.resultCode.load() ? gRun.resultCode.load() : RESULT_STOPPED;
    if (code == 0) HoldAt("batch");
    /* A stop asked before the batch or between its runs starts no run: the
    ** batch sees the stop word itself. */
    if (code == 0) code = RunBatchArguments(count, list);
    HoldAt("batch-end");
    /* A stop after the last run still ends the program as stopped. */
    if (code == 0 && gRun.stopAsked.load()) code = RESULT_STOPPED;
    EndProgressLine();
    /* The summary shows a test of this batch, never one the results file
    ** already held (a run stopped or failed before its test loaded it). */
    if (gTestsListedByRuns > 0) PrintTestSummary();
    if (!sKeptErrors.empty()) {
        fputs(sKeptErrors.c_str(), stderr);
        if (sErrorLogFailure.empty())
            fprintf(stderr, "(errors also in %s)\n", nativeLog);
        else
            fprintf(stderr, "(the error log %s could not be written: %s)\n", nativeLog, sErrorLogFailure.c_str());
    }
    if (code == RESULT_BAD_SWITCH) PrintUsage();
    return code;
}
