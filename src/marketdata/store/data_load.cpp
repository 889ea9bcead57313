/* data_load.cpp -- loading and unloading data, the test date range and the
** data-information log. */
#include "marketdata/store/data_load.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/datafile.h"
#include "services/services.h"

ScriptDataLinks gScriptDataLinks = {};

enum { MB_OKCANCEL_STYLE = 0x01,
       MB_ICONQUESTION_STYLE = 0x20,
       ID_OK = 1 };

/* The windows that show loaded data, in the order they are closed. */
/* clang-format off */
static const char *const kDataWindowClasses[] = {
    "KestovarChart",
    "KestovarGraph",
    "KestovarPlot",
    "KestovarScan",
    "KestovarTrades",
};
/* clang-format on */

int CloseDataWindows()
{
    int open = 0;
    for (const char *name : kDataWindowClasses) open |= FindChildWindow(name);
    if (!open) return 1;
    if (gSettings.AskUnloadData &&
        MessageBoxFormat(MB_OKCANCEL_STYLE | MB_ICONQUESTION_STYLE,
                         "Changing the Data File will close all Chart, Graph, Plot, Scan and Trades windows.") != ID_OK)
        return 0;
    for (const char *name : kDataWindowClasses) CloseChildWindows(name);
    return 1;
}

int DataFileNameDiffers(const char *name)
{
    if (!gStore.loadedPath[0]) return 1;
    return ComparePaths(name ? name : "", gStore.loadedPath) != 0;
}

int LoadData(int ask)
{
    if (!CloseDataWindows()) return 0;
    UnloadData();
    SettingsPanelToSettings();
    SetFrameTitle("Loading Data...");
    EnterRunState(RUN_LOADING);
    EnableSettingsPanelControls(1);
    UpdateDebugPanelControls();
    ResetStatusBar(0);
    PostFrameRefresh();

    int ok = ReadDataFile(gSettings.DataFile, ask);

    gRun.state.store(RUN_IDLE);
    EnableSettingsPanelControls(0);
    UpdateDebugPanelControls();
    ResetStatusBar(0);
    SetFrameTitle(nullptr);
    if (ok) SetTestDateRange(&gStore.dateLists[BAR_DAILY], nullptr, nullptr);
    return ok;
}

void UnloadData()
{
    gStore.loadedPath[0] = 0;
    int32_t count = gStore.symbolCount;
    SetWaitCursor(1);
    gStore.symbolCount = 0;
    gStore.fundamentalsCount = 0;
    gStore.listNameCount = 0;
    /* Nothing may read a symbol of the old data once it is freed: the last
    ** run's positions go first, then the debug panel greys what needs data,
    ** and the settings panel's Load button has the named file to load again
    ** (after Unload Data, a failed load or an import alike). */
    if (gScriptDataLinks.dropRunPositions) gScriptDataLinks.dropRunPositions();
    UpdateDebugPanelControls();
    EnableSettingsPanelControls(0);

    int showing = count > 9 && gSettings.ShowStatusBar;
    char savedStatus[257];
    if (showing) {
        GetStatusText(0, savedStatus, sizeof savedStatus);
        SetStatusText(0, "Unloading %d symbols...", count);
    }
    /* Every record the array holds is freed, not only the published count, so
    ** a load that failed halfway leaves nothing behind. */
    uint64_t slots = gStore.symbols ? TrackedBlockSize(gStore.symbols) / sizeof(SymbolRecord) : 0;
    for (uint64_t i = 0; i < slots; i++) {
        if (showing && i < (uint64_t)count) SetStatusText(1, "Symbol: %s", gStore.symbols[i].info.Symbol);
        FreeSymbolRecord(&gStore.symbols[i]);
        if (i % 10 == 9) PumpMessages();
    }
    if (showing) {
        SetStatusText(0, "%s", savedStatus);
        SetStatusText(1, nullptr);
    }

    /* The rest goes in the store's one reset, so the lists of a large data set
    ** are given back before the defaults go in. */
    ResetSymbolStore();

    if (gScriptDataLinks.freeDataItems) gScriptDataLinks.freeDataItems();
    if (gScriptDataLinks.clearFundamentalFields) gScriptDataLinks.clearFundamentalFields();

    for (int b = 0; b < BAR_SIZE_COUNT; b++) InitDefaultDateList(&gStore.dateLists[b], b);
    SetTestDateRange(&gStore.dateLists[BAR_DAILY], nullptr, nullptr);
    BuildCalendarSymbol();
    if (gScriptDataLinks.loadMissingDefaultScripts) gScriptDataLinks.loadMissingDefaultScripts();
    SetWaitCursor(0);
}

/* ---- test date range ------------------------------------------------------------------ */

int SetTestDateRange(const DateList *list, int32_t *firstIndex, int32_t *lastIndex)
{
    const int32_t F = gStore.firstDate;
    const int32_t L = gStore.lastDate;
    int32_t dateSym = gScriptDataLinks.dateSymbol ? gScriptDataLinks.dateSymbol() : 0;
    const SymbolRecord *S = dateSym >= 1 && dateSym <= gStore.symbolCount ? &gStore.symbols[dateSym - 1] : nullptr;
    const int earliest = gSettings.UseEarliestDate;
    const int latest = gSettings.UseLatestDate;

    int32_t start = earliest ? (S ? S->firstDate : F) : std::max(F, std::min(gSettings.FirstDate, L));
    int32_t end = latest ? (S ? S->lastDate : L) : std::min(L, std::max(gSettings.LastDate, F));

    int32_t count = list->dates ? list->count : 0;
    const uint32_t *dates = list->dates;
    int32_t first = 0, last = -1;
    if (count > 0) {
        /* Dates are positive yyyymmdd values, so the signed bounds compare as
        ** unsigned ones; a bound of 0 or below stands before every date. */
        uint32_t lo = start > 0 ? (uint32_t)start : 0;
        uint32_t hi = end > 0 ? (uint32_t)end : 0;
        first = (int32_t)(std::lower_bound(dates, dates + count, lo) - dates);
        if (first >= count) first = 0;
        last = (int32_t)(std::upper_bound(dates, dates + count, hi) - dates) - 1;
    }
    if (gSettings.NumBars > 0 && count > 0) {
        if (earliest && !latest)
            last = (int32_t)std::min<int64_t>((int64_t)first + gSettings.NumBars - 1, count - 1);
        else if (latest && !earliest)
            first = (int32_t)std::max<int64_t>((int64_t)last - gSettings.NumBars + 1, 0);
    }
    if (last < first) {
        if (firstIndex) ReportError("No symbol in the current data file has any bars within the specified date range.");
        return 0;
    }

    int32_t newFirst = GetPeriodFirstDate((int32_t)dates[first], 1, list->barSize);
    if (!earliest && newFirst < gSettings.FirstDate) newFirst = gSettings.FirstDate;
    int32_t newLast = (int32_t)dates[last];
    if (!latest && newLast > gSettings.LastDate) newLast = gSettings.LastDate;

    int idle = gRun.state.load() == RUN_IDLE;
    if (idle || newFirst != gSettings.FirstDate) {
        gSettings.FirstDate = newFirst;
        SetPanelDate(PANEL_FIRST_DATE, newFirst);
    }
    if (idle || newLast != gSettings.LastDate) {
        gSettings.LastDate = newLast;
        SetPanelDate(PANEL_LAST_DATE, newLast);
    }
    UpdatePanelBarCount();
    if (firstIndex) *firstIndex = first;
    if (lastIndex) *lastIndex = last;
    return 1;
}

/* ---- data information ------------------------------------------------------------------ */

int DataVersionNumber(float version)
{
    /* Rounded, not truncated: 0.34 lies a hair off in binary, and truncating
    ** the difference would show 11 on some processors and 12 on others. */
    return (int)std::lround(((double)version - 0.23) * 100.0) + 1;
}

void LogDataInfo()
{
    char date[DATE_TEXT_SIZE];
    char text[1024];
    LogPrintf("\nData File:\t%s", gStore.loadedPath);

    PlatDateTime written;
    memset(&written, 0, sizeof written);
    int created = gStore.loadedPath[0] ? GetFileDate(gStore.loadedPath, &written) : 0;
    FormatDefaultDate(created, date);
    FormatText(text, sizeof text, "%s %02d:%02d:%02d", date, written.hour, written.minute, written.second);
    LogPrintf("Created:\t%s", text);
    LogPrintf("Version:\t%d", DataVersionNumber(gStore.fileVersion));
    LogPrintf("");
    FormatDefaultDate(gStore.firstDate, date);
    LogPrintf("First Date:\t%s", date);
    FormatDefaultDate(gStore.lastDate, date);
    LogPrintf("Last Date:\t%s", date);
    LogPrintf("");
    LogPrintf("Symbols:\t%d", gStore.symbolCount);
    LogPrintf("Max Bars:\t%d", gStore.maxDailyBars);

    if (gStore.constituencyIds[0]) {
        int n = FormatText(text, sizeof text, "\nConstituency:\t");
        for (int k = 0; k < MAX_CONSTITUENCY_IDS && gStore.constituencyIds[k]; k++) {
            for (int32_t c = 0; c < gConstituencyCount; c++)
                if (gConstituency[c].id == gStore.constituencyIds[k])
                    n += FormatText(text + n, sizeof text - (size_t)n, "%s%s", k > 0 ? "," : "", gConstituency[c].label);
        }
        LogPrintf("%s", text);
    }
    if (gStore.note && gStore.note[0]) LogPrintf("\n%s", gStore.note);
    LogPrintf("");
}
