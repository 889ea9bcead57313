/* command_line.cpp -- the two passes over the command line and the batch
** runs.  Both passes split tokens the same way, so a quoted path is one token
** to each of them. */
#include "shell/command_line.h"

#include <cstring>

#include "engine/orders.h"
#include "engine/run_driver.h"
#include "foundation/errors.h"
#include "foundation/path_macros.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "platform/platform.h"
#include "services/services.h"

/* clang-format off */
const BatchSwitch kBatchSwitches[BATCH_SWITCH_COUNT] = {
    {.name = "-import", .runMode = RUN_MODE_IMPORT},
    {.name = "-apply", .runMode = RUN_MODE_APPLY},
    {.name = "-scan", .runMode = RUN_MODE_SCAN},
    {.name = "-test", .runMode = RUN_MODE_TEST},
    {.name = "-optimize", .runMode = RUN_MODE_OPTIMIZE},
    {.name = "-orders", .runMode = RUN_MODE_ORDERS},
};
/* clang-format on */
static_assert(RUN_MODE_ORDERS == BATCH_SWITCH_COUNT - 1, "one batch switch per run mode");

CommandLineState gCommandLine;

void SplitCommandLine(const char *commandLine, std::vector<std::string> *tokens)
{
    tokens->clear();
    const char *p = commandLine;
    while (p && *p) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
        if (!*p) break;
        const char *start = p;
        if (*p == '"') {
            start = ++p;
            while (*p && *p != '"') p++;
        } else {
            while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') p++;
        }
        if (p > start) tokens->emplace_back(start, (size_t)(p - start));
        if (*p == '"') p++;
    }
}

/* The tokens of a command line as the argument list the passes take. */
struct CommandArguments {
    std::vector<std::string> tokens;
    std::vector<const char *> args;
    explicit CommandArguments(const char *commandLine)
    {
        SplitCommandLine(commandLine, &tokens);
        for (const std::string &token : tokens) args.push_back(token.c_str());
    }
    int Count() const { return (int)args.size(); }
    const char *const *Args() const { return args.data(); }
};

static int IsSwitch(const char *token) { return token[0] == '-'; }

static const char kPathTooLong[] = "File path starting with '%s' is too long -- maximum is 260 chars";

int CopyPathToken(char path[PATH_SIZE], const char *token)
{
    if (PathTooLong(token)) {
        ReportError(kPathTooLong, token);
        return 0;
    }
    CopyString(path, PATH_SIZE, token, -1);
    return 1;
}

/* Copies a path token into path[PATH_SIZE] and makes it whole from folder; 0
** after reporting one that does not fit, before or after, so that no other
** file is reached under a cut name. */
static int TakePathToken(char path[PATH_SIZE], const char *token, const char *folder)
{
    if (!CopyPathToken(path, token)) return 0;
    if (ExpandPathMacros(path, folder)) return 1;
    ReportError(kPathTooLong, token);
    return 0;
}

int ParseCommandArguments(int count, const char *const *args)
{
    gCommandLine.exitAfterBatch = 0;
    gRun.unattended = 0;
    /* The flags come first, so that a bad settings file on a scheduled line is
    ** reported to the error log rather than to a box nobody closes. */
    int sawSwitch = 0, noExit = 0;
    for (int k = 0; k < count; k++) {
        const char *token = args[k];
        if (!IsSwitch(token) || CompareNoCase(token, "-inifile") == 0) continue;
        sawSwitch = 1;
        if (CompareNoCase(token, "-noexit") == 0) noExit = 1;
    }
    if (sawSwitch) {
        gRun.unattended = 1;
        gCommandLine.exitAfterBatch = !noExit;
    }
    int settingsNext = 0;
    for (int k = 0; k < count; k++) {
        const char *token = args[k];
        if (!token[0]) continue;
        if (IsSwitch(token)) {
            if (CompareNoCase(token, "-inifile") == 0) settingsNext = 1;
            continue;
        }
        if (!settingsNext) continue;
        settingsNext = 0;
        char path[PATH_SIZE];
        if (!TakePathToken(path, token, gProgramFolder)) {
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
        /* A folder is no script: it is as unreachable as a missing file. */
        if (!PlatFileExists(path) || PlatFolderExists(path)) {
            ReportError("Unable to access %s", path);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
        CopyString(gSettingsFile, sizeof gSettingsFile, path, -1);
    }
    /* A settings file asked for and not named is not quietly replaced by the
    ** default one. */
    if (settingsNext) {
        ReportError("Unable to access %s", "");
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return 1;
}

int ParseCommandLineOptions(const char *commandLine)
{
    CommandArguments line(commandLine);
    return ParseCommandArguments(line.Count(), line.Args());
}

/* The row of a batch switch in the switch table, BATCH_SWITCH_COUNT when the
** token is none of them. */
static int FindBatchSwitch(const char *token)
{
    int row = 0;
    while (row < BATCH_SWITCH_COUNT && CompareNoCase(token, kBatchSwitches[row].name) != 0) row++;
    return row;
}

int BatchArgumentsRunNothing(int count, const char *const *args)
{
    int modes = 0, newGroup = 1, settingsNext = 0;
    for (int k = 0; k < count; k++) {
        const char *token = args[k];
        if (!token[0]) continue;
        if (IsSwitch(token)) {
            if (newGroup) modes = 0;
            newGroup = 0;
            if (CompareNoCase(token, "-inifile") == 0)
                settingsNext = 1;
            else if (CompareNoCase(token, "-noexit") == 0)
                continue;
            else if (FindBatchSwitch(token) == BATCH_SWITCH_COUNT)
                return 0; /* the batch reports it */
            else
                modes = 1;
            continue;
        }
        if (settingsNext) {
            settingsNext = 0;
            continue;
        }
        newGroup = 1;
        if (modes) return 0;
    }
    return 1;
}

int BatchRunsNothing(const char *commandLine)
{
    CommandArguments line(commandLine);
    return BatchArgumentsRunNothing(line.Count(), line.Args());
}

int SettingsFileMissing(int count, const char *const *args)
{
    int settingsNext = 0;
    for (int k = 0; k < count; k++) {
        const char *token = args[k];
        if (!token[0]) continue;
        if (IsSwitch(token))
            settingsNext = settingsNext || CompareNoCase(token, "-inifile") == 0;
        else
            settingsNext = 0;
    }
    return settingsNext;
}

const char kBatchUsage[] =
    "usage: %s [-inifile settings.ini] [-import] [-apply] [-scan] [-test] [-optimize] [-orders] script.kvs ... "
    "[-noexit]\n"
    "Each run of switches starts a group; every script after it runs the group's modes\n"
    "in the order import, apply, scan, test, optimize, orders.\n";

void (*gBeforeBatchRun)(int runIndex) = nullptr;
/* Runs the batch has started, for gBeforeBatchRun. */
static int sBatchRuns;

/* Runs the flagged modes of one script in table order; 0 when all succeeded,
** else the exit code. */
static int RunScriptModesOf(const int flags[BATCH_SWITCH_COUNT])
{
    for (int row = 0; row < BATCH_SWITCH_COUNT; row++) {
        if (!flags[row]) continue;
        if (gBeforeBatchRun) gBeforeBatchRun(sBatchRuns);
        sBatchRuns++;
        /* A stop asked before this run, while nothing ran (between two runs,
        ** or before the batch began), starts no run. */
        if (gRun.stopAsked.load()) {
            SetResultCode(RESULT_STOPPED);
            return RESULT_STOPPED;
        }
        int before = gRun.resultCode.load();
        const int32_t failedLists = CountFailedOrderLists();
        /* A scan answers its own count, so only a negative answer is a failure.
        ** A run that answered success can still have failed: one stopped by
        ** the user (a stopped test or scan keeps what it did), one stopped for
        ** low memory, one that set a code of its own, an orders run whose list
        ** was not written (a file it could not create is its work undone).
        ** Only a file written after the run's work lets the batch go on. */
        int result = RunScript(kBatchSwitches[row].runMode);
        int code = gRun.resultCode.load();
        bool ownCode = code != before && code != RESULT_OK && code != RESULT_FILE_ERROR;
        bool stopped = gRun.stopAsked.load() != 0;
        bool noList = CountFailedOrderLists() != failedLists;
        if (result >= 0 && !stopped && !ownCode && !noList) continue;
        /* A stop ends the batch as a stop, whatever failed on the way out
        ** (an import stopped half way, say); low memory keeps its own code. */
        if (code == RESULT_OK || (stopped && !(code == RESULT_LOW_MEMORY && before != RESULT_LOW_MEMORY))) {
            code = RESULT_STOPPED;
            SetResultCode(code);
        }
        return code;
    }
    return 0;
}

/* The modes of one script are one run to the record of the run's files. */
static int RunScriptModes(const int flags[BATCH_SWITCH_COUNT])
{
    BeginRunFiles();
    const int code = RunScriptModesOf(flags);
    EndRunFiles();
    return code;
}

int RunBatchArguments(int count, const char *const *args)
{
    int flags[BATCH_SWITCH_COUNT] = {};
    int newGroup = 1, settingsNext = 0;
    /* The stop word is not cleared here: a stop asked between the caller's
    ** start and this line is this batch's (ClearStopRequest is the caller's). */
    sBatchRuns = 0;
    for (int k = 0; k < count; k++) {
        const char *token = args[k];
        if (!token[0]) continue;
        if (IsSwitch(token)) {
            if (newGroup)
                for (int &flag : flags) flag = 0;
            newGroup = 0;
            if (CompareNoCase(token, "-inifile") == 0) {
                settingsNext = 1;
                continue;
            }
            if (CompareNoCase(token, "-noexit") == 0) continue;
            int row = FindBatchSwitch(token);
            if (row == BATCH_SWITCH_COUNT) {
                /* The entry is the switch's, not the script's: no script has
                ** run, or the one before it ran well. */
                CopyString(gRunningScript, sizeof gRunningScript, token, -1);
                ReportError("Unrecognized batch run mode '%s'", token);
                gRunningScript[0] = 0;
                return RESULT_BAD_SWITCH;
            }
            flags[row] = 1;
            continue;
        }
        if (settingsNext) {
            settingsNext = 0;
            continue;
        }
        newGroup = 1;
        char path[PATH_SIZE];
        /* Whatever fails from here on is this script's error.  A token too
        ** long to hold names it cut after a whole letter. */
        CopyString(gRunningScript, sizeof gRunningScript, token,
                   (int)Utf8CutLength(token, sizeof gRunningScript - 1));
        if (!TakePathToken(path, token, gScriptsFolder)) {
            gRunningScript[0] = 0;
            return RESULT_FILE_ERROR;
        }
        CopyString(gRunningScript, sizeof gRunningScript, path, -1);
        /* A folder is no script: it is as unreachable as a missing file. */
        if (!PlatFileExists(path) || PlatFolderExists(path)) {
            ReportError("Unable to access %s", path);
            SetResultCode(RESULT_FILE_ERROR);
            gRunningScript[0] = 0;
            return RESULT_FILE_ERROR;
        }
        CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, path, -1);
        ShowActiveScriptInPanel();
        int code = RunScriptModes(flags);
        gRunningScript[0] = 0;
        if (code != 0) return code;
    }
    /* A run can do its work and still fail to write one of its files (the
    ** results file, an export, a report): it reported that and set the
    ** sticky code, and the later runs went ahead all the same.  The batch
    ** ends with that code, so a scheduler learns of it. */
    return gRun.resultCode.load();
}

int RunBatchCommandLine(const char *commandLine)
{
    CommandArguments line(commandLine);
    return RunBatchArguments(line.Count(), line.Args());
}
