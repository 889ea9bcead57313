/* services.cpp -- the shell rules that hold whatever draws the windows:
** control words, the memory check, folder creation, history lists and the
** worker-count rule. */
#include "services/services.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/folder_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"

RunControl gRun = {};
char gSettingsFile[PATH_SIZE] = "";
char gRunningScript[PATH_SIZE];

char gProgramFolder[PATH_SIZE];
char gScriptsFolder[PATH_SIZE];
char gDataFolder[PATH_SIZE];
char gOutputFolder[PATH_SIZE];
char gInfoFolder[PATH_SIZE];
char gLogsFolder[PATH_SIZE];
char gReportsFolder[PATH_SIZE];

void ResetRunControl()
{
    gRun.state = RUN_IDLE;
    gRun.mode = 0;
    gRun.generatingOrders = 0;
    gRun.orderDate = 0;
    gRun.lowMemory = 0;
    gRun.resultCode = RESULT_OK;
    gRun.stopAsked = 0;
    gRun.unattended = 0;
    gRun.logContinueLine = 0;
    gRun.testLogFile = nullptr;
    gRun.testLogFailed = 0;
}

void WriteTestLog(const char *text, uint32_t size)
{
    /* The log is a UTF-8 text file, as the names in it are: a currency sign
    ** or script text in the program's 8-bit code page is written as UTF-8,
    ** the way a report page writes it. */
    std::string utf8;
    for (uint32_t i = 0; i < size; i++) {
        if ((unsigned char)text[i] < 0x80) continue;
        utf8 = PageText(text, size);
        text = utf8.data();
        size = (uint32_t)utf8.size();
        break;
    }
    if (WriteLogData(gRun.testLogFile, text, size, gEngineRun.testLogPath, &gRun.testLogFailed) && !gRun.logContinueLine)
        WriteLogData(gRun.testLogFile, "\r\n", 2, gEngineRun.testLogPath, &gRun.testLogFailed);
}

void SetResultCode(int code) { gRun.resultCode.store(code); }

/* Moves a running state to RUN_STOP_REQUESTED; idle stays idle. */
static void StopRunningState()
{
    int expected = gRun.state.load();
    while (expected != RUN_IDLE && expected != RUN_STOP_REQUESTED &&
           !gRun.state.compare_exchange_weak(expected, RUN_STOP_REQUESTED)) {
    }
}

void RequestStop()
{
    /* The word first: a state stored after this sees it (EnterRunState), one
    ** stored before it is moved here. */
    gRun.stopAsked.store(1);
    StopRunningState();
}

void ClearStopRequest() { gRun.stopAsked.store(0); }

void EnterRunState(int state)
{
    gRun.state.store(state);
    /* Read after the store: a stop that came in between has found the new
    ** state running and moved it itself, or is seen here. */
    if (state != RUN_IDLE && gRun.stopAsked.load()) StopRunningState();
}

/* The frame title is kept in the shell; the rule adds the warning while low. */
extern void ApplyFrameTitle(const char *text);
static char sTitleText[1024];

void SetFrameTitle(const char *format, ...)
{
    sTitleText[0] = 0;
    if (format) {
        va_list args;
        va_start(args, format);
        FormatTextV(sTitleText, sizeof sTitleText, format, args);
        va_end(args);
    }
    char title[1024];
    int n = FormatText(title, sizeof title, "Kestovar");
    if (format) n += FormatText(title + n, sizeof title - n, " - %s", sTitleText);
    if (gRun.lowMemory.load()) FormatText(title + n, sizeof title - n, " - LOW MEMORY WARNING");
    ApplyFrameTitle(title);
}

void CheckMemoryState()
{
    int pct = MemoryPercent();
    SetStatusText(gSettings.StatusBarFields + 2, "Memory: %d%%", pct);
    int low = (gOutOfMemory.load() || pct >= gSettings.MaxMemPct) ? 1 : 0;
    gOutOfMemory.store(0);
    int was = gRun.lowMemory.exchange(low);
    if (was != low) {
        /* Re-applies the title with or without the warning, keeping its text. */
        if (sTitleText[0])
            SetFrameTitle("%s", sTitleText);
        else
            SetFrameTitle(nullptr);
        if (low) ShowLowMemoryWarning();
    }
}

static double RoundUpTenthGb(double bytes)
{
    double gb = bytes / 1073741824.0;
    double tenths = (double)(long long)(gb * 10.0);
    if (tenths < gb * 10.0) tenths += 1.0;
    return tenths / 10.0;
}

int FormatLowMemoryWarning(char *out, int size, double loadedBytes, double calculatedBytes, double resultBytes)
{
    const char *advice = resultBytes > loadedBytes + calculatedBytes ? "clear test results" : "unload data";
    return FormatText(out, (size_t)size,
                      "*** WARNING: LOW MEMORY ***\n\nCurrent Usage:\n- loaded data: %g GB\n- calculated data: %g GB\n"
                      "- test results etc: %g GB\n\nPlease %s before continuing.",
                      RoundUpTenthGb(loadedBytes), RoundUpTenthGb(calculatedBytes), RoundUpTenthGb(resultBytes),
                      advice);
}

void (*gConsoleEcho)(int stream, const char *text) = nullptr;

void EstimateMemoryUse(double *loaded, double *calculated)
{
    *loaded = *calculated = 0;
    int64_t slots = (int64_t)gDataItems.capacity + gTestDataItems.capacity;
    for (int32_t i = 0; gStore.symbols && i < gStore.symbolCount; i++) {
        const SymbolRecord &s = gStore.symbols[i];
        *loaded += (double)((int64_t)(s.barCounts[0] + s.barCounts[1]) * 64 + (int64_t)s.eventCount * 24 + 1424);
        *calculated += (double)((int64_t)s.barCounts[0] * slots * 8);
    }
}

void ShowLowMemoryWarning()
{
    /* Low memory stops a run that is going; while nothing runs there is no
    ** run to stop, and the next run of a batch may still do its work. */
    if (gRun.state.load() != RUN_IDLE) RequestStop();
    double loaded, calculated;
    EstimateMemoryUse(&loaded, &calculated);
    double results = EstimateResultsMemory();
    char text[1024];
    FormatLowMemoryWarning(text, sizeof text, loaded, calculated, results);
    ReportError("%s", text);
    SetResultCode(RESULT_LOW_MEMORY);
}

static void MakeFolder(char *folder)
{
    if (!CreateFolder(folder)) CopyString(folder, PATH_SIZE, gProgramFolder, -1);
}

void SetUpProgramFolders()
{
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
}

int CreateOutputFolders()
{
    static const char *const kNames[3] = {"Info", "Logs", "Reports"};
    char *folders[3] = {gInfoFolder, gLogsFolder, gReportsFolder};
    for (int i = 0; i < 3; i++) {
        /* A name cut to fit would make a folder of another name. */
        if (PathLetters(gOutputFolder) + 1 + strlen(kNames[i]) > PATH_LETTERS) {
            ReportError("%s file path is too long -- maximum is 260 chars.", kNames[i]);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
        FormatText(folders[i], sizeof gInfoFolder, "%s\\%s", gOutputFolder, kNames[i]);
    }
    for (const char *folder : folders) {
        /* Only the folder being there afterwards counts: a create refused for
        ** want of access, or a file of that name, is no folder to write to. */
        if (!PlatCreateFolder(folder) && !PlatFolderExists(folder)) {
            ReportError("Unable to create folder %s", folder);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
    }
    return 1;
}

void UpdateHistoryList(char *history, const char *newText, int checkPaths)
{
    char kept[SETTING_HISTORY_SIZE];
    size_t keptLen = 0;
    size_t newLen = newText ? strlen(newText) : 0;
    if (newLen >= SETTING_HISTORY_SIZE) newLen = SETTING_HISTORY_SIZE - 1;
    if (newText && newLen > 0) {
        memcpy(kept, newText, newLen);
        keptLen = newLen;
    }
    /* Walk the old entries newest first, keeping those that survive the rules
    ** while they fit behind the new text; the oldest drop off first. */
    const char *p = history;
    while (*p) {
        const char *end = strchr(p, '\n');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        char entry[SETTING_HISTORY_SIZE];
        memcpy(entry, p, len);
        entry[len] = 0;
        p += len + (end ? 1 : 0);
        if (len == 0) continue;
        if (newText && newLen > 0 && CompareNoCase(entry, newText) == 0) continue;
        if (checkPaths && !PlatFileExists(entry)) continue;
        size_t need = keptLen + (keptLen ? 1 : 0) + len;
        if (need >= SETTING_HISTORY_SIZE) break;
        if (keptLen) kept[keptLen++] = '\n';
        memcpy(kept + keptLen, entry, len);
        keptLen += len;
    }
    kept[keptLen] = 0;
    memcpy(history, kept, keptLen + 1);
}

extern void FillHistoryCombo(void *dialog, int controlId, const char *history);

/* The settings panel's data-file combo box. */
enum { IDC_DATA_FILE = 1031 };

void UpdateHistoryCombo(void *dialog, int controlId, int checkPaths, const char *newText, char *history)
{
    UpdateHistoryList(history, newText, checkPaths);
    FillHistoryCombo(dialog, controlId, history);
    if (dialog && checkPaths && newText && *newText && history != gSettings.DataFileMRU &&
        history != gSettings.RecentFilesMRU)
        UpdateHistoryList(gSettings.RecentFilesMRU, newText, 1);
}

void AddDataFileToHistory(const char *path)
{
    UpdateHistoryCombo(GetSettingsPanel(), IDC_DATA_FILE, 1, path, gSettings.DataFileMRU);
}

int ComputeWorkerCount(int setting, int processors)
{
    if (processors < 1) processors = 1;
    int n = setting > 0 ? setting : processors;
    if (n > processors) n = processors;
    if (n > 32) n = 32;
    return n;
}

void LogDebugHeader(int date, const char *symbol, const FormulaSlot *formula)
{
    LogPrintf("------------------------------------------------------------");
    LogPrintf("Symbol:\t%s", symbol ? symbol : "");
    int barSize = gSettings.BarSize2 >= 0 && gSettings.BarSize2 <= 4 ? gSettings.BarSize2 : 0;
    LogPrintf("BarSize:\t%s", kBarSizeWords[barSize]);
    char dateText[DATE_TEXT_SIZE];
    FormatDefaultDate(date, dateText);
    LogPrintf("Date:\t%s", dateText);
    char text[256] = "n/a";
    if (formula && formula->scriptText && formula->length > 0)
        CopyString(text, sizeof text, formula->scriptText + formula->start, formula->length);
    LogPrintf("Formula:\t%s", text);
}

void ShowRunState(int state)
{
    EnterRunState(state);
    if (state != RUN_IDLE) {
        SetStatusText(gSettings.StatusBarFields, nullptr);
        SetStatusText(gSettings.StatusBarFields + 1, nullptr);
    } else {
        ResetStatusBar(0);
        SetFrameTitle(nullptr);
    }
}
