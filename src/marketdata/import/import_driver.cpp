/* import_driver.cpp -- the import run. */
#include <cstdlib>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/csv_import.h"
#include "marketdata/import/import_driver.h"
#include "marketdata/import/import_run.h"
#include "marketdata/import/metastock.h"
#include "marketdata/import/online_import.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/derived_bars.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_parser.h"
#include "script/eval/item_table.h"
#include "services/services.h"

static const char kMsgLogCreate[] = "Unable to create the import log file %s";
static const char kMsgNoInfoFile[] = "CSI DataPath %s has no symbol information file";
static const char kMsgNothingImported[] = "No symbols were imported.";
static const char kLogBlockHeading[] =
    "\n------------------------------------------------------------\nImporting %s Data From %s\n"
    "------------------------------------------------------------\n"
    "Symbol\tFirstDate\tLastDate\tDailyBars\tDividends\tIndexChanges\tEventList\n";

enum { NOTICE_COLOUR = 0xff00ff };

static ImportItem *Rows() { return (ImportItem *)gImportItems.items; }

static int IsOnlineSource(int source)
{
    return source == SOURCE_NORGATE || source == SOURCE_YAHOO || source == SOURCE_TIINGO ||
        source == SOURCE_TIINGO_CRYPTO;
}

static void CloseHttpSlots()
{
    for (int slot = 0; slot < HTTP_SLOTS; slot++) HttpClose(slot);
}

/* Starts or updates the Norgate Data Updater when a block uses it; 1/0. */
static int PrepareNorgate()
{
    int used = 0;
    for (int32_t r = 0; r < gImportItems.count; r++)
        if (Rows()[r].dataSource == SOURCE_NORGATE) used = 1;
    if (!used) return 1;
    void *window = FindNorgateUpdaterWindow();
    if (window && FindBusyCancelButton(window))
        SetStatusText(0, "Waiting for Norgate to %s updating...", "finish");
    else if (window && !gImportState.Update)
        return 1;
    if (!ControlNorgateUpdater(gImportState.Update ? 1 : 0)) return 0;
    if (gImportState.Update && !ControlNorgateUpdater(1)) return 0;
    return 1;
}

static int ReadCsiInfoFiles(const ImportItem &row)
{
    char path[PATH_SIZE];
    int found = 0;
    if (row.dataSource == SOURCE_CSI_FUTURES) {
        FormatText(path, sizeof path, "%s\\forexinfo.txt", row.value);
        if (PlatFileExists(path)) {
            found = 1;
            if (!ReadSymbolInfoFile(path, SYMINFO_CSI_FUTURES)) return 0;
        }
        FormatText(path, sizeof path, "%s\\futuresinfo.txt", row.value);
        if (PlatFileExists(path)) {
            found = 1;
            if (!ReadSymbolInfoFile(path, SYMINFO_CSI_FUTURES)) return 0;
        }
    } else {
        FormatText(path, sizeof path, "%s\\stockinfo.csv", row.value);
        if (PlatFileExists(path)) {
            found = 1;
            if (!ReadSymbolInfoFile(path, SYMINFO_CSI_STOCKS)) return 0;
        }
    }
    if (!found) ShowPopupNotice(NOTICE_COLOUR, kMsgNoInfoFile, row.value);
    return 1;
}

/* Notes a list or information file the row read in the run's record, by
** what it is to the import. */
static void NoteImportRowFile(const ImportItem &row)
{
    const char *what = nullptr;
    switch (row.kind) {
    case IMPKW_SYM_INFO_FILE: what = "the SymInfoFile"; break;
    case IMPKW_EVENT_LIST_FILE: what = "the EventListFile"; break;
    case IMPKW_INCLUDE_LIST: what = "the IncludeList"; break;
    case IMPKW_EXCLUDE_LIST: what = "the ExcludeList"; break;
    default: return;
    }
    /* A Norgate watchlist is the updater's, no file. */
    if (row.dataSource == SOURCE_NORGATE && row.value[0] == '.') return;
    NoteRunInput(row.value, what);
}

/* The row walk: lists, information and event files, list numbers; 1/0. */
static int WalkImportRows()
{
    int32_t listCounter = 0;
    int32_t hasIncludeList = 0;
    ImportItem *source = nullptr;
    for (int32_t r = 0; r < gImportItems.count; r++) {
        ImportItem &row = Rows()[r];
        int ok = 1;
        switch (row.kind) {
        case IMPKW_DATA_SOURCE:
            if (source) source->blockHasIncludeList = hasIncludeList;
            hasIncludeList = 0;
            source = &row;
            break;
        case IMPKW_DATA_PATH:
            if (row.dataSource == SOURCE_CSI_FUTURES || row.dataSource == SOURCE_CSI_STOCKS) ok = ReadCsiInfoFiles(row);
            break;
        case IMPKW_SYM_INFO_FILE: ok = ReadSymbolInfoFile(row.value, SYMINFO_NAMED, row.csvDateOrder == 1); break;
        case IMPKW_EVENT_LIST_FILE: ok = ReadEventListFile(&row); break;
        case IMPKW_INCLUDE_LIST:
        case IMPKW_EXCLUDE_LIST:
            if (row.kind == IMPKW_INCLUDE_LIST) {
                AddListName(row.name);
                row.listNumber = ++listCounter;
                hasIncludeList = 1;
            }
            if (row.dataSource == SOURCE_NORGATE && row.value[0] == '.')
                ok = ReadNorgateWatchlist(&row);
            else
                ok = ReadImportListFile(&row);
            break;
        default: break;
        }
        if (!ok) return 0;
        NoteImportRowFile(row);
    }
    for (int32_t r = 0; r < gImportItems.count; r++) {
        ImportItem &row = Rows()[r];
        if (row.kind != IMPKW_CSV_FILE && row.kind != IMPKW_DATA_PATH) continue;
        AddListName(row.name);
        row.listNumber = ++listCounter;
    }
    if (source) source->blockHasIncludeList = hasIncludeList;
    return 1;
}

static void SortImportTables()
{
    if (gImport.workCount > 1)
        qsort(gImport.work, (size_t)gImport.workCount, sizeof(ImportWorkItem), CompareTextNoCase);
    for (int32_t w = 0; w < gImport.workCount; w++) {
        char key[IMPORT_KEY_SIZE];
        MakeSymbolKey(gImport.work[w].symbol, (int)gImport.work[w].block, key);
        HashInsert(gImport.workKeys, key, (uint64_t)w + 1);
    }
    if (gImport.infoCount > 1) qsort(gImport.infoRows, (size_t)gImport.infoCount, sizeof(SymbolInfo), CompareTextNoCase);
    gImport.infoSorted = 1;
    if (gImport.eventCount > 1)
        qsort(gImport.eventRows, (size_t)gImport.eventCount, sizeof(EventListRow), CompareEvents);
}

/* Which data the ExcludeIf formula needs of an online source. */
static void ScanImportFilter(int *needsSecurity, int *needsEvents)
{
    *needsSecurity = *needsEvents = 0;
    const FormulaNode *node = gImportFilter.formula.nodes[0];
    if (gImportFilter.formula.count == 0 || !node) return;
    for (; node->item != ITEM_END; node++) {
        if (node->category == CAT_SYMBOL_INFO && node->item >= ITEM_INFO_MARGIN) {
            *needsSecurity = 1;
            return;
        }
        if (node->item == ITEM_CONSTITUENCY) *needsEvents = 1;
    }
}

/* The source pass; 1/0. */
static int ImportSources()
{
    int needsSecurity = 0, needsEvents = 0;
    ScanImportFilter(&needsSecurity, &needsEvents);
    gImport.keptCount = gImport.processedCount = 0;
    const char *importText = GetImportSectionText();
    if (importText && ImportLogKept()) {
        /* Written as it stands: the section may be longer than a log line. */
        WriteImportLog(importText, (uint32_t)strlen(importText));
    }
    const ImportItem *source = nullptr;
    for (int32_t r = 0; r < gImportItems.count; r++) {
        ImportItem &row = Rows()[r];
        if (row.kind == IMPKW_DATA_SOURCE) {
            /* Connections survive only between consecutive blocks of one online source. */
            if (source && IsOnlineSource(source->dataSource) && source->dataSource != row.dataSource)
                CloseHttpSlots();
            source = &row;
        }
        int imports = row.kind == IMPKW_CSV_FILE || row.kind == IMPKW_DATA_PATH ||
            (row.kind == IMPKW_DATA_SOURCE && IsOnlineSource(row.dataSource));
        if (!imports) continue;
        if (source) row.blockHasIncludeList = source->blockHasIncludeList;
        char shown[2 * PATH_SIZE];
        LogImportMessage(kLogBlockHeading, kDataSourceNames[row.dataSource], PathAsShown(row.value, shown, sizeof shown));
        row.filterNeedsSecurity = needsSecurity;
        row.filterNeedsEvents = needsEvents;
        int ok = 0;
        switch (row.dataSource) {
        case SOURCE_CSV:
        case SOURCE_CSI_FUTURES:
        case SOURCE_CSI_STOCKS: ok = ImportFolder(&row); break;
        case SOURCE_METASTOCK: ok = ImportMetaStock(&row, row.value); break;
        default: ok = ImportOnlineSymbols(&row); break;
        }
        if (!ok) return 0;
    }
    return 1;
}

void RemoveLatestBars()
{
    int32_t last = gStore.lastDate;
    int32_t newest = 0;
    for (int32_t s = 0; s < gImport.count; s++) {
        SymbolRecord *record = &gStore.symbols[s];
        int32_t n = record->barCounts[BAR_DAILY];
        if (record->lastDate == last && n > 1) {
            record->barCounts[BAR_DAILY] = --n;
            record->lastDate = record->bars[BAR_DAILY][n - 1].date;
        }
        if (record->lastDate > newest) newest = record->lastDate;
    }
    /* Every day after the new last date stops being a market day, so no
    ** padding bar and no master date is made past the data. */
    DateList &calendar = gStore.dateLists[BAR_DAILY];
    for (int32_t k = 0; k < calendar.count; k++) {
        int32_t entry = (int32_t)calendar.dates[k];
        if (entry > newest) calendar.dates[k] = (uint32_t)-entry;
    }
    gStore.lastDate = newest;
}

void LinkContractChains()
{
    char previousRoot[IMPORT_SYMBOL_SIZE] = "";
    int32_t previous = -1; /* position of the last contract seen */
    for (int32_t i = 0; i < gStore.symbolCount; i++) {
        SymbolInfo &info = gStore.symbols[i].info;
        const char *suffix = nullptr;
        if (!IsFuturesContractSymbol(&gStore.symbols[i], &suffix)) continue;
        int rootLength = (int)(suffix - info.Symbol);
        CopyString(info.InduIndex, sizeof info.InduIndex, info.Symbol, rootLength);
        /* Links hold 1-based symbol numbers, so the store's first record can
        ** be linked; contracts link to each other past any symbol between. */
        if (previous < 0 || strcmp(info.InduIndex, previousRoot) != 0) {
            CopyString(previousRoot, sizeof previousRoot, info.InduIndex, -1);
            info.previousContract = 0;
            if (previous >= 0) gStore.symbols[previous].info.nextContract = 0;
        } else {
            info.previousContract = (uint32_t)previous + 1;
            gStore.symbols[previous].info.nextContract = (uint32_t)i + 1;
        }
        info.nextContract = 0;
        previous = i;
    }
}

/* Compacts the calendar to its market days. */
static void CompactCalendar()
{
    DateList &calendar = gStore.dateLists[BAR_DAILY];
    int32_t kept = 0;
    for (int32_t k = 0; k < calendar.count; k++)
        if ((int32_t)calendar.dates[k] > 0) calendar.dates[kept++] = calendar.dates[k];
    calendar.dates[kept] = 0;
    calendar.count = kept;
}

static int PostProcess()
{
    if (gImportState.RemoveLatest) RemoveLatestBars();
    if (!gImportState.KeepRedundant) RemoveRedundantShareClasses();
    qsort(gStore.symbols, (size_t)gImport.count, sizeof(SymbolRecord), CompareSymbolNames);
    gStore.symbolCount = gImport.count;
    if (!PadBars()) return 0;
    CompactCalendar();
    if (!BuildCalendars()) return 0;
    for (int32_t s = 0; s < gStore.symbolCount; s++) {
        SymbolRecord *record = &gStore.symbols[s];
        if (!BuildWeeklyBars(record) || !BuildMonthlyBars(record) || !BuildQuarterlyBars(record) ||
            !BuildYearlyBars(record))
            return 0;
        if (record->barCounts[BAR_DAILY] > gStore.maxDailyBars) gStore.maxDailyBars = record->barCounts[BAR_DAILY];
    }
    if (gStore.symbolCount > 0) LinkContractChains();
    return SaveDataFile(gImportState.SaveAs, GetImportSectionText());
}

/* The closing counts for a user without windows: symbols kept, passed
** over (looked at and not kept: excluded, filtered, not in the date range)
** and refused (nothing could be read), the lines that were no bars, and
** whether the data file was written. */
static void ReportClosingCounts(int result)
{
    if (!gConsoleEcho) return;
    int32_t kept = gImport.count;
    int32_t refused = gImport.refusedCount;
    int32_t passed = gImport.processedCount - kept - refused;
    if (passed < 0) passed = 0;
    char text[256];
    int n = FormatText(text, sizeof text, "Symbols kept: %d, passed over: %d, refused: %d", (int)kept, (int)passed,
                       (int)refused);
    if (gImport.refusedLineCount)
        n += FormatText(text + n, sizeof text - (size_t)n, "; lines not read as bars: %d", (int)gImport.refusedLineCount);
    FormatText(text + n, sizeof text - (size_t)n, "%s\n", result ? "" : "; no data file was written");
    gConsoleEcho(1, text);
}

/* What a failed import leaves as the run's result code: a file error when a
** file or folder it was to read could not be (its reader set the code), an
** import failure otherwise. */
static int sFailureCode = RESULT_IMPORT_FAILURE;

int ImportFailureCode() { return sFailureCode; }

/* Every error reported while the import runs goes to its log too, so that
** a failed import's log ends with why it failed, as the box or the error
** log says it.  Lines end as the log's own. */
static void LogReportedError(const char *message)
{
    /* A log whose write failed gets nothing more (its failure is reported
    ** from inside the log's lock). */
    if (!ImportLogKept() || gImport.logFailed) return;
    char text[1200];
    int n = 0;
    text[n++] = '\n';
    for (const char *p = message; *p && n < (int)sizeof text - 2; p++)
        if (!(p[0] == '\r' && p[1] == '\n')) text[n++] = *p;
    text[n++] = '\n';
    text[n] = 0;
    if (gMessageState.nativePaths) PlatNativePath(text, text, sizeof text);
    LogImportMessage("%s", text);
}

static const char kLogUse[] = "the Import LogFile";

/* Opens the log whose lines waited, once the import has read its files, and
** writes them: a log named as a file the run reads is refused (a file
** error) before the data file is written, and that file stays as it was.
** 1 when there is no log waiting or it is open now. */
static int OpenWaitingImportLog()
{
    if (!gImport.logWaits) return 1;
    gImport.logWaits = 0;
    std::string held = std::move(gImport.logHeld);
    gImport.logHeld = std::string();
    if (!ClaimRunOutput(gImportState.LogFile, kLogUse)) {
        sFailureCode = RESULT_FILE_ERROR;
        return 0;
    }
    gImport.log = PlatOpenFile(gImportState.LogFile, PLAT_CREATE_WRITE);
    if (!gImport.log) {
        ReportError(kMsgLogCreate, gImportState.LogFile);
        return 0;
    }
    WriteImportLog(held.data(), (uint32_t)held.size());
    return 1;
}

int RunImport()
{
    sFailureCode = RESULT_IMPORT_FAILURE;
    /* The data file and the log, against the files the run has read so far
    ** and each other, before either is made. */
    const char *planned[] = {gImportState.SaveAs[0] ? gImportState.SaveAs : gSettings.DataFile, gImportState.LogFile};
    const char *uses[] = {"the data file", kLogUse};
    if (!CheckPlannedRunOutputs(planned, uses, 2)) {
        sFailureCode = RESULT_FILE_ERROR;
        return 0;
    }
    gImport.logWaits = gImportState.LogFile[0] != 0;
    gImport.logHeld = std::string();
    int result = 0;
    gMessageState.reportTap = LogReportedError;
    /* A temporary data file left by a killed import of the same file goes
    ** now, whether or not this import comes to save. */
    RemoveDataFileLeftover(gImportState.SaveAs[0] ? gImportState.SaveAs : gSettings.DataFile);
    if (BeginImport()) {
        SetFrameTitle("Importing Data");
        /* A file or folder the import was to read and could not is a file
        ** error (its reader set the code, which is watched from a clear
        ** start and put back when nothing set it); the save of the data file
        ** is the import's own work, whose failure is the import's. */
        const int codeBefore = gRun.resultCode.exchange(RESULT_OK);
        int read = PrepareNorgate() && WalkImportRows();
        if (read) {
            SortImportTables();
            read = ImportSources();
        }
        const int codeSet = gRun.resultCode.load();
        if (!read && codeSet == RESULT_FILE_ERROR) sFailureCode = RESULT_FILE_ERROR;
        if (codeSet == RESULT_OK) gRun.resultCode.store(codeBefore);
        if (read) read = OpenWaitingImportLog();
        if (read) {
            if (gImport.count > 0)
                result = PostProcess();
            else
                ReportError(kMsgNothingImported);
        }
    }
    ReportClosingCounts(result);
    ReportImportMisses(result);
    CloseHttpSlots();
    gMessageState.reportTap = nullptr;
    if (ImportLogKept()) {
        LogImportMessage("\nImport %s Completed\n", result ? "Was" : "Not");
        /* An import that failed before it read all its files still keeps
        ** its log, unless the log is named as a file it read. */
        OpenWaitingImportLog();
    }
    if (gImport.log) {
        PlatCloseFile(gImport.log);
        gImport.log = nullptr;
        OpenLogFile(gImportState.LogFile);
    }
    return result;
}
