/* kestovar_main.cpp -- the native program: the same command line as the
** window program, run without windows.  Status texts become a progress line
** on the terminal (rewritten in place there, plain lines when the output is a
** file or a pipe, each step once; an import shows the file or symbol, how far
** it is and the bars so far), notices and the import's refused files and
** lines go to standard error, errors go to errorlog.txt and this run's are
** repeated on standard error, Ctrl+C and SIGTERM stop the run as the window
** program's stop does and end the batch, and the process result is the
** batch's exit code.  A line that runs nothing gets the usage text, and a
** relative script or settings path names a file from the current folder when
** there is one. */
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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

enum { PROGRESS_INTERVAL_MS = 100,
       STATUS_NESTING = 8 };

static const char kUsage[] =
    "usage: kestovar [-inifile settings.ini] [-import] [-apply] [-scan] [-test] [-optimize] [-orders] script.kvs ... "
    "[-noexit]\n"
    "Each run of switches starts a group; every script after it runs the group's modes\n"
    "in the order import, apply, scan, test, optimize, orders.\n";

static struct {
    int onTerminal; /* stdout is a terminal: the line is rewritten in place */
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
** the end. */
static std::string sKeptErrors;

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
    /* A Ctrl+C that came while nothing ran stops the run that follows. */
    if (sInterrupted) RequestStop();
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
            fflush(stdout);
            return;
        }
        if (!sTerminal.onTerminal && news) {
            fprintf(stdout, "%s\n", text);
            fflush(stdout);
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
    /* Between two runs there is nothing to stop, but the batch must still
    ** start no further run. */
    gRun.stopAsked = 1;
    RequestStop();
    static const char kStopping[] = "\nStopping...\n";
    ssize_t ignored = write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
    (void)ignored;
}

/* Ctrl+C, and SIGTERM (a scheduler's or timeout's stop), ask the run to stop
** as the window program's stop does: the import keeps the previous data file
** and removes its temporary file, a test keeps what it did, and no later run
** of the batch starts.  A second signal ends the program at once. */
static void CatchInterrupt()
{
    static_assert(std::atomic<int>::is_always_lock_free, "the stop words are set from a signal handler");
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = Interrupted;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
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

/* Every error-log entry of this run, as it is written. */
static void KeepErrorEntry(const char *entry) { sKeptErrors += entry; }

/* A relative path that names something from the current folder is that
** file (or that folder, which the batch then refuses by the name the user
** meant), as a shell user means it; any other relative path is looked for
** where the window program looks (the scripts folder, or the program folder
** for a settings file). */
static std::string ArgumentFromHere(const std::string &arg)
{
    struct stat info;
    if (arg.empty() || arg[0] == '/' || stat(arg.c_str(), &info) != 0) return arg;
    char folder[PATH_MAX];
    if (!getcwd(folder, sizeof folder)) return arg;
    std::string name = arg;
    while (name.compare(0, 2, "./") == 0) name.erase(0, 2);
    return std::string(folder) + (strcmp(folder, "/") == 0 ? "" : "/") + name;
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

/* 1 when an "-inifile" has no path after it: a mistake in the line, which
** gets the usage rather than a report about an empty path. */
static int SettingsFileMissing(const std::vector<std::string> &args)
{
    int settingsNext = 0;
    for (const std::string &arg : args) {
        if (arg.empty()) continue;
        if (arg[0] == '-')
            settingsNext = settingsNext || CompareNoCase(arg.c_str(), "-inifile") == 0;
        else
            settingsNext = 0;
    }
    return settingsNext;
}

int main(int argc, char **argv)
{
    /* The arguments go to the passes one by one, as they came: no path is
    ** cut, and blanks and quotes in a name are the name's. */
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (!arg.empty() && arg[0] != '-') {
            arg = ArgumentFromHere(arg);
            /* Paths are kept with the program's own separator, so the folder
            ** macros of a script named here (?scriptpath?) find their folder. */
            for (char &c : arg)
                if (c == '/') c = '\\';
        }
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
    CatchInterrupt();

    char errorLog[300];
    FormatText(errorLog, sizeof errorLog, "%s\\errorlog.txt", gProgramFolder);
    char nativeLog[300];
    PlatNativePath(errorLog, nativeLog, sizeof nativeLog);
    gMessageState.keepEntry = KeepErrorEntry;
    /* Without windows every run is unattended. */
    if (SettingsFileMissing(args)) {
        fputs(kUsage, stderr);
        return RESULT_BAD_SWITCH;
    }
    int code = ParseCommandArguments(count, list) ? 0 : gRun.resultCode.load();
    gRun.unattended = 1;
    /* A line that would run nothing is a mistake here, not a quiet success:
    ** the window program it stands for would have opened its window. */
    if (code == 0 && BatchArgumentsRunNothing(count, list)) {
        fputs(kUsage, stderr);
        return RESULT_BAD_SWITCH;
    }
    if (code == 0 && !InitApplication()) code = gRun.resultCode.load() ? gRun.resultCode.load() : RESULT_STOPPED;
    /* A stop asked for before the batch began runs none of it. */
    if (code == 0 && !sInterrupted) code = RunBatchArguments(count, list);
    if (sInterrupted) code = RESULT_STOPPED;
    EndProgressLine();
    PrintTestSummary();
    if (!sKeptErrors.empty()) {
        fputs(sKeptErrors.c_str(), stderr);
        fprintf(stderr, "(errors also in %s)\n", nativeLog);
    }
    if (code == RESULT_BAD_SWITCH) fputs(kUsage, stderr);
    return code;
}
