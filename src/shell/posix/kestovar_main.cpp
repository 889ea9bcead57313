/* kestovar_main.cpp -- the native program: the same command line as the
** window program, run without windows.  Status texts become a progress line
** on the terminal (rewritten in place there, plain lines when the output is a
** file or a pipe), errors go to errorlog.txt and are repeated on standard
** error, and the process result is the batch's exit code. */
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

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
#include "shell/services.h"

static struct {
    int onTerminal;      /* stdout is a terminal: the line is rewritten in place */
    int lineOpen;        /* a progress line waits for its end */
    char last[257];      /* the last text shown, so repeats are not printed */
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

static void MakeFolder(char *folder)
{
    if (!CreateFolder(folder)) CopyString(folder, 260, gProgramFolder, -1);
}

/* The window program's initialisation without the window steps. */
static int InitApplication()
{
    gUiThreadId = PlatCurrentThreadId();
    if (!InstallBuiltins()) return 0;
    if (!gSettingsFile[0]) FormatText(gSettingsFile, sizeof gSettingsFile, "%s\\kestovar.ini", gProgramFolder);
    if (PlatFileExists(gSettingsFile)) LoadSettings(gSettingsFile);
    else ResetSettingsToDefaults();
    RepairLoadedSettings(&gSettings.AccountSize, &gSettings.MaxMemPct, &gSettings.StatusBarFields);
    gSettings.ShowStatusBar = 1;
    if (!gSettings.ScriptPath[0]) {
        FormatText(gSettings.ScriptPath, sizeof gSettings.ScriptPath, "%s\\Scripts", gProgramFolder);
        FormatText(gSettings.DataPath, sizeof gSettings.DataPath, "%s\\Data", gProgramFolder);
        FormatText(gSettings.OutputPath, sizeof gSettings.OutputPath, "%s\\Output", gProgramFolder);
    }
    MakeFolder(gSettings.ScriptPath);
    MakeFolder(gSettings.DataPath);
    MakeFolder(gSettings.OutputPath);
    CopyString(gScriptsFolder, sizeof gScriptsFolder, gSettings.ScriptPath, -1);
    CopyString(gDataFolder, sizeof gDataFolder, gSettings.DataPath, -1);
    CopyString(gOutputFolder, sizeof gOutputFolder, gSettings.OutputPath, -1);
    CreateOutputFolders();
    gSettings.CalcThreads = ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount());
    for (int barSize = 0; barSize < BAR_SIZE_COUNT; barSize++)
        if (!InitDefaultDateList(&gDateLists[barSize], barSize)) return 0;
    BuildCalendarSymbol();
    LoadConstituency();
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
        if (arg.find_first_of(" \t") != std::string::npos || arg.empty()) line += '"' + arg + '"';
        else line += arg;
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
    int code = ParseCommandLineOptions(line.c_str()) ? 0 : gResultCode.load();
    gUnattended = 1;
    if (code == 0 && !InitApplication()) code = gResultCode.load() ? gResultCode.load() : RESULT_STOPPED;
    if (code == 0) code = RunBatchCommandLine(line.c_str());
    EndProgressLine();
    if (ErrorLogSize(errorLog) > errorsBefore) {
        CopyNewErrors(errorLog, errorsBefore);
        fprintf(stderr, "(errors also in %s)\n", nativeLog);
    }
    return code;
}
