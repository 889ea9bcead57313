/* run_driver.cpp -- RunScript and the helpers the run modes share. */
#include "engine/run_driver.h"

#include <cctype>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/date_loop.h"
#include "engine/optimizer.h"
#include "engine/orders.h"
#include "engine/results_file.h"
#include "engine/run_view_hooks.h"
#include "engine/trade_list.h"
#include "engine/walk_forward.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/path_macros.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/import/import_driver.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/data_cut.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "script/builtins/builtins.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/import_items.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/settings_items.h"
#include "script/datacalc/data_calc.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

int32_t CollectParamValues(ParamValue *values)
{
    const Parameter *parameters = (const Parameter *)gParameters.items;
    int32_t n = 0;
    for (int32_t k = 0; parameters && k < gParameters.count; k++) {
        const Parameter *p = &parameters[k];
        if (p->name[0] == '_') continue;
        if (values) {
            ParamValue *v = &values[n];
            memset(v, 0, sizeof *v);
            CopyString(v->name, sizeof v->name, p->name, -1);
            int32_t index = p->currentIndex >= 0 && p->currentIndex < p->valueCount ? p->currentIndex : 0;
            v->value = p->values && p->valueCount > 0 ? p->values[index] : 0;
            v->column = -1;
            bool fixed = p->deselected || p->valueCount < 2;
            if (fixed) {
                v->valueCount = 1;
                v->valueIndex = 1;
            } else if (p->walkCount > 0 && gRun.mode != RUN_MODE_OPTIMIZE) {
                v->valueCount = 1;
                v->valueIndex = 1;
                v->value = std::numeric_limits<double>::quiet_NaN();
            } else {
                v->valueCount = p->valueCount;
                v->valueIndex = p->currentIndex;
            }
        }
        n++;
    }
    return n;
}

int CheckSaveAsCsvPath(char *outPath, const char *path, const char *kind)
{
    const char *dot = strrchr(path, '.');
    const char *extension = dot ? dot + 1 : "";
    if (strlen(extension) > 15 || CompareNoCase(extension, "csv") != 0) {
        ReportError("Save%sAs file path must end with .CSV", kind);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    CopyString(outPath, PATH_SIZE, path, -1);
    if (PathTooLong(path) || !ExpandPathMacros(outPath, gOutputFolder)) {
        ReportError("Save%sAs file path is too long -- maximum is 260 chars.", kind);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return 1;
}

/* ---- steps of RunScript ------------------------------------------------------------ */

/* Notes in the run's record the files the compiled script names for the run
** to read, under the words a refusal uses for them, whether or not a reader
** has opened them yet: a list read at a later test is protected from the
** first write on. */
static void NoteNamedRunInputs()
{
    NoteRunInput(gSettingsFile, "the settings file");
    NoteRunInput(gStore.loadedPath[0] ? gStore.loadedPath : gSettings.DataFile, "the data file");
    NoteRunInput(gSettings.ActiveScript, "the script");
    for (int32_t k = 0; k < gScriptFileCount; k++) NoteRunInput(gScriptFiles[k], "the included script");
    /* The results file is read before its tests are added and saved: it is
    ** both, under this one use. */
    if (gResultsFileName[0] && PlatFileExists(gResultsFileName)) NoteRunInput(gResultsFileName, "the ResultsFile");
    char full[PATH_SIZE];
    if (gScriptSettings.OrdersTemplate[0] && OrdersTemplatePath(gScriptSettings.OrdersTemplate, full))
        NoteRunInput(full, "the OrdersTemplate");
    if (gSlatewickTradesPath[0]) NoteRunInput(gSlatewickTradesPath, "the companion trades file");
    auto accountValue = [&](const char *setting, const char *what) {
        if (setting[0] && AccountValuePath(setting, full)) NoteRunInput(full, what);
    };
    accountValue(gScriptSettings.OrdersNetLiq, "the OrdersNetLiq file");
    accountValue(gScriptSettings.OrdersFreeCash, "the OrdersFreeCash file");
    for (int32_t s = 0; s < gStrategyCount; s++) {
        const StrategyRecord *r = &gStrategies[s];
        if (r->OrdersTemplate[0] && OrdersTemplatePath(r->OrdersTemplate, full))
            NoteRunInput(full, (std::string("the OrdersTemplate of strategy ") + r->name).c_str());
        if (r->TradeList[0]) {
            TradeListPath(r, full);
            NoteRunInput(full, (std::string("the TradeList of strategy ") + r->name).c_str());
        }
        accountValue(r->OrdersNetLiq, "the OrdersNetLiq file");
        accountValue(r->OrdersFreeCash, "the OrdersFreeCash file");
    }
}

/* A Save...As setting as its writer will make it whole ("" when it cannot
** be: the writer reports that itself). */
static std::string OutputSettingPath(const char *setting)
{
    char path[PATH_SIZE];
    if (!setting[0] || PathTooLong(setting)) return "";
    CopyString(path, sizeof path, setting, -1);
    return ExpandPathMacros(path, gOutputFolder) ? path : "";
}

/* The outputs the script names, looked at against the run's inputs and one
** another before the run writes any of them: two that share a file, or one
** that is a file the run reads, end the run here with nothing written.
** Each writer claims its own file again as it opens it.  0 after reporting. */
static int PlanRunOutputs(int mode)
{
    std::vector<std::string> paths, whats;
    auto add = [&](const std::string &path, const std::string &what) {
        paths.push_back(path);
        whats.push_back(what);
    };
    /* Only what this mode writes: a test run writes no orders. */
    if (mode == RUN_MODE_IMPORT || (gScriptSettings.AlwaysImport && gCompileSession.sectionCounts[SECTION_IMPORT] > 0)) {
        add(gImportState.SaveAs[0] ? gImportState.SaveAs : gSettings.DataFile, "the data file");
        add(gImportState.LogFile, "the Import LogFile");
    }
    if (mode >= RUN_MODE_SCAN) add(gScriptSettings.SaveScanAs, "the SaveScanAs file");
    if (mode >= RUN_MODE_TEST) {
        add(gResultsFileName, "the ResultsFile");
        add(OutputSettingPath(gScriptSettings.SaveStatsAs), "the SaveStatsAs file");
        add(OutputSettingPath(gScriptSettings.SaveTradesAs), "the SaveTradesAs file");
        add(OutputSettingPath(gScriptSettings.SavePositionsAs), "the SavePositionsAs file");
        add(gScriptSettings.SaveTestListAs, "the SaveTestListAs file");
    }
    if (mode == RUN_MODE_ORDERS) {
        add(OutputSettingPath(gScriptSettings.OrdersFile), "the OrdersFile");
        for (int32_t s = 0; s < gStrategyCount; s++)
            add(OutputSettingPath(gStrategies[s].OrdersFile),
                std::string("the OrdersFile of strategy ") + gStrategies[s].name);
    }
    std::vector<const char *> pathTexts, whatTexts;
    for (size_t k = 0; k < paths.size(); k++) {
        pathTexts.push_back(paths[k].c_str());
        whatTexts.push_back(whats[k].c_str());
    }
    return CheckPlannedRunOutputs(pathTexts.data(), whatTexts.data(), (int)paths.size());
}

/* The next character of a text that is not white space or a comment. */
static const char *NextSignificant(const char *text)
{
    for (;;) {
        while (*text && isspace((unsigned char)*text)) text++;
        const char *before = text;
        if (!*text || !SkipComment(&text, nullptr) || text == before) return text;
    }
}

/* 1 when the two Import texts differ in anything but white space and comments. */
static int ImportTextsDiffer(const char *a, const char *b)
{
    for (;;) {
        a = NextSignificant(a);
        b = NextSignificant(b);
        if (!*a || !*b) return *a != *b;
        if (*a != *b) return 1;
        a++;
        b++;
    }
}

/* Links every symbol whose currency is not the account currency to the pair
** symbol that converts it; 0 after reporting a missing pair. */
static int LinkCurrencies()
{
    const char *account = gScriptSettings.Currency;
    for (int32_t k = 0; k < gStore.symbolCount; k++) {
        SymbolRecord *symbol = &gStore.symbols[k];
        symbol->currencySymbol = 0;
        symbol->invertCurrency = 0;
        const char *own = symbol->info.Currency;
        if (!account[0] || !own[0] || CompareNoCase(own, account) == 0) continue;
        char direct[200], inverse[200];
        FormatText(direct, sizeof direct, "%s%s", own, account);
        FormatText(inverse, sizeof inverse, "%s%s", account, own);
        if (CompareNoCase(symbol->info.Symbol, direct) == 0 || CompareNoCase(symbol->info.Symbol, inverse) == 0) continue;
        int32_t link = FindSymbolIndex(direct);
        if (link == 0) {
            link = FindSymbolIndex(inverse);
            symbol->invertCurrency = link != 0;
        }
        if (link == 0) {
            ReportError("Either %s or %s must be imported to support Currency: %s", direct, inverse, account);
            return 0;
        }
        symbol->currencySymbol = link;
    }
    return 1;
}

/* "%.2d:%.2d:%.2d" of a number of milliseconds. */
static void FormatClock(char *out, size_t size, uint64_t ms)
{
    uint64_t seconds = ms / 1000;
    FormatText(out, size, "%.2d:%.2d:%.2d", (int)(seconds / 3600), (int)(seconds / 60 % 60), (int)(seconds % 60));
}

void FormatRunTime(uint64_t milliseconds, char *out, size_t size)
{
    char clock[32];
    FormatClock(clock, sizeof clock, milliseconds);
    /* Three digits, so that 32 ms does not read as 320. */
    FormatText(out, size, "Time: %s.%.3d", clock, (int)(milliseconds % 1000));
}

static void WriteWaitingExports();
static void DropWaitingExports();

static const char kMsgExportsNotWritten[] =
    "The numbered exports of this run were not written: the numbers its tests keep in %s could not be "
    "learned, and they could replace another run's exports.";

/* The steps that end every run, whatever happened before.  A results file
** that cannot be saved is reported with the sticky result code set. */
static void EndRun(uint64_t started, const char *dateDisplay, int32_t dateInput)
{
    ResultsWindow *window = gEngineRun.results;
    if (window) {
        RefreshResultsList(window);
        if (gResultsFileName[0]) SaveResultsFile(window, 0);
        PlaceWaitingTestLog(!window->numbersUnsettled);
        if (window->numbersUnsettled && gEngineRun.waitingExportCount > 0) {
            /* Numbered by this list alone, they could replace the exports of
            ** the tests another run saved under the same numbers. */
            ReportError(kMsgExportsNotWritten, window->path);
            SetResultCode(RESULT_FILE_ERROR);
            DropWaitingExports();
        } else {
            WriteWaitingExports();
        }
        if (gScriptSettings.SaveTestListAs[0] && gRunViewHooks.saveTestList &&
            ClaimRunOutput(gScriptSettings.SaveTestListAs, "the SaveTestListAs file"))
            gRunViewHooks.saveTestList(window, gScriptSettings.SaveTestListAs);
    }
    if (gPendingRuntimeError[0]) {
        ReportError("Script Runtime Error:\n%s", gPendingRuntimeError);
        ClearPendingRuntimeError();
    }
    LoadPluginDll(0); /* the next compile loads it afresh, so a rebuilt library is picked up */

    /* What the run itself changed carries over the restore: an import run's
    ** new data file above all. */
    char dataFile[sizeof gSettings.DataFile], activeScript[sizeof gSettings.ActiveScript];
    CopyString(dataFile, sizeof dataFile, gSettings.DataFile, -1);
    CopyString(activeScript, sizeof activeScript, gSettings.ActiveScript, -1);
    int32_t barSize = gSettings.BarSize2, useAvailable = gUseAvailableBars;
    RestoreRunSettings();
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, dataFile, -1);
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, activeScript, -1);
    gSettings.BarSize2 = barSize;
    gUseAvailableBars = useAvailable;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, dateDisplay, -1);
    gSettings.DateInputFormat = dateInput;
    if (barSize >= 0 && barSize < BAR_SIZE_COUNT) SetTestDateRange(&gStore.dateLists[barSize], nullptr, nullptr);

    ResetEngineRun();
    SetTestRunning(RUN_IDLE);
    gRun.mode = RUN_MODE_APPLY;

    char text[48];
    FormatRunTime(RunClockMs() - started, text, sizeof text);
    SetStatusText(1, "%s", text);
    if (gSettings.LogDataCalcTimes) LogPrintf("Total Run %s", text);
}

/* 1 when the compiled script has a record that can trade. */
static int HasStrategy()
{
    for (int32_t s = 0; s < gStrategyCount; s++) {
        if (gStrategies[s].kind == STRATEGY_KIND_STRATEGY || gStrategies[s].kind == STRATEGY_KIND_BENCHMARK) return 1;
    }
    return 0;
}

/* The exports that waited, in the order they were asked for: each test's
** own, then the OptMultiSaveAs tests (numbered by test, until Escape is
** pressed).  A test freed meanwhile is passed over.  They are the answers of
** tests already done, so a stop of the run does not cut them (each file is
** written whole); Escape here cancels the exports not yet begun, and the run
** says how many were not written. */
static void WriteWaitingExports()
{
    EngineRun &run = gEngineRun;
    TestRecord **tests = run.waitingExports;
    const int32_t multiFrom = run.waitingExportCount - run.multiSaveCount;
    for (int32_t k = 0; k < multiFrom; k++)
        if (tests[k]) ExportTestCsvs(tests[k]);
    char statsPath[PATH_SIZE], tradesPath[PATH_SIZE];
    bool stats = run.multiSaveCount > 0 && gScriptSettings.SaveStatsAs[0] &&
                 CheckSaveAsCsvPath(statsPath, gScriptSettings.SaveStatsAs, "Stats");
    bool trades = run.multiSaveCount > 0 && gScriptSettings.SaveTradesAs[0] &&
                  CheckSaveAsCsvPath(tradesPath, gScriptSettings.SaveTradesAs, "Trades");
    if (stats || trades) {
        SetStatusText(0, "Exporting Stats and/or Trades for %d Tests - Press ESC to Cancel", (int)run.multiSaveCount);
        bool cancelled = false;
        int32_t notWritten = 0;
        for (int32_t k = multiFrom; k < run.waitingExportCount; k++) {
            TestRecord *test = tests[k];
            if (!test) continue;
            if (!cancelled) {
                PumpMessages();
                cancelled = PlatEscapePressed() != 0;
            }
            if (cancelled) {
                notWritten++;
                continue;
            }
            SetStatusText(1, "Test %d", (int)test->testNumber);
            if (stats && gRunViewHooks.saveStatsCsv) gRunViewHooks.saveStatsCsv(test, statsPath);
            if (trades && gRunViewHooks.saveTradesCsv) gRunViewHooks.saveTradesCsv(test, tradesPath);
        }
        if (notWritten) {
            ReportError("Exporting was cancelled: the Stats and/or Trades of %d test%s were not written.", (int)notWritten,
                        notWritten == 1 ? "" : "s");
            SetResultCode(RESULT_STOPPED);
        }
    }
    DropWaitingExports();
}

static void DropWaitingExports()
{
    EngineRun &run = gEngineRun;
    FreeMemory(&run.waitingExports);
    run.waitingExportCount = 0;
    run.multiSaveCount = 0;
}

/* The statistics and trades CSVs of every listed test: now, or after the
** results file's save when the run's numbers wait for it. */
static void SaveEveryTest(ResultsWindow *window)
{
    gEngineRun.multiSaveCount = 0;
    for (TestRecord *test = window->firstTest; test; test = test->next)
        if (WaitExport(test))
            gEngineRun.multiSaveCount++;
        else
            ExportTestCsvs(test); /* out of memory: at least not lost */
    if (!gEngineRun.exportsAfterSave) WriteWaitingExports();
}

/* Plays the walk-forward values just found back as two tests of mode 3:
** in sample over the optimization's range, then out of sample from the day
** after the first interval to the data's last date (none when no bar of
** the run's size is left there); then the section goes into the script,
** unless a stop cut the playback short: a stopped run changes no script.
** 1 when the tests ran or were stopped. */
static int PlayBackWalkForward(int32_t testsDone)
{
    if (!PrepareWalkForwardSection()) return 0;
    const int32_t *dates = (const int32_t *)gWalkForwardDates.items;
    const int32_t count = gWalkForwardDates.count;
    void *editor = nullptr;
    if (!dates || count < 2) return InsertWalkForwardSection(&editor);
    gRun.mode = RUN_MODE_TEST;
    SetFrameTitle("Running IS Playback");
    gSettings.FirstDate = dates[0];
    gSettings.LastDate = dates[count - 1];
    SetPanelDate(PANEL_FIRST_DATE, gSettings.FirstDate);
    SetPanelDate(PANEL_LAST_DATE, gSettings.LastDate);
    if (!RunTest(testsDone + 1, 0)) return 0;
    if (gRun.state != RUN_TESTING) return 1;
    SetFrameTitle("Running OOS Playback");
    gSettings.LastDate = gStore.lastDate;
    SetPanelDate(PANEL_LAST_DATE, gSettings.LastDate);
    if (BeginOutOfSampleTest()) {
        if (!RunTest(testsDone + 2, 1)) return 0;
        if (gRun.state != RUN_TESTING) return 1;
    } else {
        NoteNoOutOfSampleTest();
    }
    return InsertWalkForwardSection(&editor);
}

/* The last session up to day on list, or 0. */
static int32_t SessionOnOrBefore(const DateList *list, int32_t day)
{
    const int32_t i = FindDateIndex(list, day, -1);
    return i >= 0 && list->dates ? (int32_t)list->dates[i] : 0;
}

/* True when the last session up to endDate does not end its period of some
** longer bar size the run uses (its own, a strategy's, a Data item's), on
** the program's calendar or a strategy's own. */
static bool EndsInsideALongerPeriod(int32_t endDate)
{
    bool used[BAR_SIZE_COUNT] = {};
    auto use = [&used](int32_t size) {
        if (size > BAR_DAILY && size < BAR_SIZE_COUNT) used[size] = true;
    };
    use(gSettings.BarSize2);
    for (const DefinitionList *items : {&gDataItems, &gTestDataItems})
        for (int32_t k = 0; items->items && k < items->count; k++) use(DataItemBarSize(&((const FormulaItem *)items->items)[k]));
    auto endsInside = [endDate](const DateList *lists, int32_t size) {
        const int32_t last = SessionOnOrBefore(&lists[BAR_DAILY], endDate);
        return last > 0 && FindDateIndex(&lists[size], last, 0) < 0;
    };
    for (int32_t s = 0; s < gStrategyCount; s++) {
        const StrategyRecord *r = &gStrategies[s];
        use(r->BarSize);
        if (r->hasOwnDateLists && r->BarSize > BAR_DAILY && r->BarSize < BAR_SIZE_COUNT && endsInside(r->dateLists, r->BarSize))
            return true;
    }
    for (int size = BAR_WEEKLY; size < BAR_SIZE_COUNT; size++)
        if (used[size] && endsInside(gStore.dateLists, size)) return true;
    return false;
}

/* A scan, test, optimization or order run whose EndDate comes before its
** data end runs on the data as they stood on that date: every bar after it set aside,
** the longer bars and date lists (a strategy's own calendar's too) ending
** with the days up to it, and the Data items calculated on those.  So a
** week, month, quarter or year that the date ends early is a bar of its own,
** dated on its last session, as in data that end there, and the run trades,
** books, orders and lists as a run on such data does, whatever its bar sizes.
** Where the date ends a period of every longer bar size in use the whole
** data already give that answer, and nothing is cut.  Everything is put back
** on every way out of the run, and the values calculated on the cut data go
** with the cut, so that no later run reads them. */
class EndDateCut {
public:
    EndDateCut(int mode, int32_t endDate)
    {
        if (mode < RUN_MODE_SCAN || endDate <= 0 || endDate >= gStore.lastDate || !EndsInsideALongerPeriod(endDate)) return;
        if (!CutDataAt(&cut, endDate)) return;
        for (int32_t s = 0; s < gStrategyCount; s++)
            if (gStrategies[s].hasOwnDateLists) CutMoreDateLists(&cut, gStrategies[s].dateLists, endDate);
        DropCalculatedValues();
    }
    ~EndDateCut()
    {
        if (!cut.storeLastDate) return;
        RestoreCutData(&cut);
        DropCalculatedValues();
    }
    EndDateCut(const EndDateCut &) = delete;
    EndDateCut &operator=(const EndDateCut &) = delete;

private:
    DataCut cut;
};

/* The mode's work once the script is compiled and the data loaded; the run's
** result. */
static int RunModeWork(int mode, const char *script)
{
    const DateList *list = &gStore.dateLists[gSettings.BarSize2 >= 0 && gSettings.BarSize2 < BAR_SIZE_COUNT ? gSettings.BarSize2 : 0];
    /* (Before the range moves the last date onto the run's last row.) */
    const int32_t endDate = gSettings.UseLatestDate ? 0 : gSettings.LastDate;
    const EndDateCut cut(mode, endDate);
    if (mode >= RUN_MODE_SCAN) {
        SetTestDateRange(list, nullptr, nullptr);
        const char *saveAs = gImportState.SaveAs;
        const char *scriptImport = gScriptParser.importText.text;
        if (saveAs[0] && ComparePaths(saveAs, gSettings.DataFile) == 0 && gStore.note && scriptImport &&
            ImportTextsDiffer(gStore.note, scriptImport))
            ShowPopupNotice(255, "Import Recommended");
        PumpMessages();
        if (gRun.state == RUN_STOP_REQUESTED) return -1;
    }
    gEngineRun.startDate = gSettings.FirstDate;
    gEngineRun.useLatestDate = gSettings.UseLatestDate;
    gEngineRun.endDate = endDate;
    if (!LinkCurrencies()) return -1;
    gRun.mode = mode;

    switch (mode) {
    case RUN_MODE_IMPORT:
        CheckDefaultScriptChanged(script);
        return 0;
    case RUN_MODE_APPLY:
        if (!CalculateData()) return -1;
        CheckDefaultScriptChanged(script);
        ShowPopupNotice(32768, "Script Checked and Applied");
        return 0;
    case RUN_MODE_SCAN:
        if (!CalculateData()) return -1;
        CheckDefaultScriptChanged(script);
        return RunScan();
    default: break;
    }

    if (mode == RUN_MODE_OPTIMIZE) {
        Parameter *parameters = (Parameter *)gParameters.items;
        for (int32_t k = 0; parameters && k < gParameters.count; k++) {
            parameters[k].currentIndex = 0;
            parameters[k].counter = 0;
            parameters[k].started = 0;
            if (parameters[k].valueCount < 2) parameters[k].deselected = 1;
        }
        SetTestDateRange(list, nullptr, nullptr);
    }
    int32_t count = ShowOptimizerDialog(0, nullptr);
    if (count < 1) return -1;
    bool walkForward = mode != RUN_MODE_OPTIMIZE && gWalkForwardDates.count > 0;
    /* A walk-forward test is two tests: in sample, then out of sample. */
    if (walkForward && mode == RUN_MODE_TEST) count = 2;
    gEngineRun.testCount = count;
    gEngineRun.walkForwardRun = walkForward;
    /* Every test of an optimization (its walk-forward playbacks too, which
    ** run as single tests) and each test of a walk-forward test exports to a
    ** file of its own, so no export overwrites another. */
    gEngineRun.numberedExports = mode == RUN_MODE_OPTIMIZE || count > 1;
    if (!CalculateData()) return -1;
    CheckDefaultScriptChanged(script);

    /* The results list: the one holding the ResultsFile, else the first open
    ** one, else a new one. */
    int32_t columnCount = CollectParamValues(nullptr);
    ParamValue *columns = nullptr;
    if (columnCount > 0 && !AllocMemory(&columns, (uint64_t)columnCount * sizeof(ParamValue))) return -1;
    CollectParamValues(columns);
    ResultsWindow *window = nullptr;
    if (gResultsFileName[0]) {
        if (!LoadResultsFile(gResultsFileName, 1)) {
            FreeMemory(&columns);
            return -1;
        }
        window = FindResultsWindowByPath(gResultsFileName);
    }
    if (!window) window = FirstResultsWindow();
    if (window) {
        if (mode == RUN_MODE_OPTIMIZE && gSettings.OptClearResults) DeleteAllTests(window);
        AddResultsColumns(window, columnCount, columns);
        RecalculateTestStats(window, 0);
    } else {
        window = CreateResultsWindow(columnCount, columns);
    }
    FreeMemory(&columns);
    if (!window) return -1;
    gEngineRun.results = window;
    /* Two runs that share the results file number their tests from the
    ** list each loaded, and the later to save renumbers its own after the
    ** other's: the numbered exports are written once the save has said which
    ** number each test keeps, so neither run's overwrites the other's. */
    gEngineRun.exportsAfterSave = gEngineRun.numberedExports && gResultsFileName[0];
    /* So does a test log, which carries its test's number in its name. */
    gEngineRun.logsAfterSave = gResultsFileName[0] != 0;

    if (count > 1) {
        gSettings.AddLog = 0;
        gSettings.AddDebug = 0;
    }
    SetTestRunning(RUN_TESTING);
    const char *title = mode == RUN_MODE_ORDERS ? "Running Order Generation" : "Running Single Test";
    if (count == 1) SetFrameTitle("%s", title);
    gSettings.UseEarliestDate = 0;
    gSettings.UseLatestDate = 0;

    uint64_t loopStart = RunClockMs();
    int last = 0;
    int32_t i = 0;
    bool exhausted = false; /* the optimizer ran out of untested combinations */
    for (; i < count && gRun.state == RUN_TESTING; i++) {
        if (count == 1) {
            SetStatusText(0, "%s", title);
        } else {
            if (mode == RUN_MODE_OPTIMIZE && !NextParameterCombination(i)) {
                /* Fewer tests ran than the run was asked for: the tests done
                ** are kept, but the run did not do its work. */
                exhausted = true;
                SetResultCode(RESULT_STOPPED);
                break;
            }
            PumpMessages();
            if (gRun.state != RUN_TESTING) break;
            char text[160];
            int length = FormatText(text, sizeof text, "Test %d of %d", (int)(i + 1), (int)count);
            if (i >= 3) {
                /* The remaining time is estimated from the tests done so far. */
                uint64_t elapsed = RunClockMs() - loopStart;
                uint64_t remaining = (uint64_t)(count - i) * elapsed / (uint64_t)i;
                char a[32], b[32];
                FormatClock(a, sizeof a, elapsed);
                FormatClock(b, sizeof b, remaining);
                FormatText(text + length, sizeof text - (size_t)length, "   (%s elapsed, %s remaining)", a, b);
            }
            if (gSettings.ShowStatusBar) {
                SetFrameTitle("Running %d Tests", (int)count);
                SetStatusText(0, "%s", text);
            } else {
                SetFrameTitle("%s", text);
            }
        }
        int32_t flag = 0;
        if (walkForward) flag = mode == RUN_MODE_TEST ? i : 1;
        /* A run that ends before the second date keeps its in-sample test;
        ** its orders play out of sample from its own first date, so the
        ** order date gets its interval's values all the same. */
        if (flag && !BeginOutOfSampleTest() && mode == RUN_MODE_TEST) {
            NoteNoOutOfSampleTest();
            break;
        }
        int32_t listed = gEngineRun.testsListed;
        if (!BeginStrategyRestriction()) break;
        last = RunTest(i, flag);
        EndStrategyRestriction();
        if (!last) break;
        /* A test dropped by SkipTestIf or for having no trades has no score. */
        if (mode == RUN_MODE_OPTIMIZE && gEngineRun.testsListed != listed && gCurrentTest) {
            /* The score is the test's value in the OptScoreCol column, taken
            ** when its results row is filled. */
            gOptimizer.currentScore = 0;
            if (gRunViewHooks.fillResultsRow) gRunViewHooks.fillResultsRow(window, gCurrentTest);
            RecordOptimizerScore(gOptimizer.currentScore);
            if (gSettings.OptSortResults)
                SortResultsList(window, gSettings.OptKeepBest, gSettings.OptKeepByDate, gSettings.OptKeepBySymbol);
        }
    }
    /* Only an optimization that ran every test has its walk forward: a stop
    ** or a search out of combinations leaves the script as it was. */
    bool finished = last && !exhausted && i == count && gRun.state == RUN_TESTING;
    if (finished && mode == RUN_MODE_OPTIMIZE && gSettings.OptWalkForward) {
        last = PlayBackWalkForward(i);
        DropWalkForwardSection();
    }
    if (last && mode == RUN_MODE_OPTIMIZE && count > 1 && gSettings.OptSummaryLog && gWalkForwardDates.count == 0)
        LogOptimizationSummary(window);
    if (mode == RUN_MODE_OPTIMIZE && count > 1 && gSettings.OptMultiSaveAs) SaveEveryTest(window);
    return last && !exhausted ? 0 : -1;
}

int RunScript(int mode)
{
    if (!gRun.unattended && gSettingsFile[0]) SaveSettings(gSettingsFile);
    ResetEngineRun();
    /* Each run's compile drops the trade-list rows and its first test reads
    ** the files again, so each run says once what they hold that it cannot
    ** use, not only the program's first run. */
    ResetTradeListState();
    gDebugEvalWritten = 0;
    char dateDisplay[sizeof gSettings.DateDisplayFormat];
    CopyString(dateDisplay, sizeof dateDisplay, gSettings.DateDisplayFormat, -1);
    int32_t dateInput = gSettings.DateInputFormat;
    /* The run's clock leaves out the time a question kept waiting for the
    ** user (the Data File question, a save dialog's message). */
    uint64_t started = RunClockMs();
    int result = -1;
    /* The run's files are recorded from here to its end: what it reads, it
    ** never replaces, and no two of its outputs share a file. */
    BeginRunFiles();

    do {
        void *empty = GetEmptyActiveScriptWindow();
        if (empty && !SaveScript(empty, 1)) break;
        if (mode == RUN_MODE_TEST) {
            /* Ticked in the panel too, which the compile reads. */
            gSettings.KeepTrades = 1;
            ShowKeepTradesInPanel();
        }
        char script[PATH_SIZE];
        CopyString(script, sizeof script, gSettings.ActiveScript, -1);

        if (!CompileScript(script, mode, 1)) {
            SetResultCode(RESULT_COMPILE_FAILURE);
            break;
        }
        const char *missing = nullptr;
        if (mode == RUN_MODE_IMPORT && gCompileSession.sectionCounts[SECTION_IMPORT] == 0)
            missing = "Import";
        else if (mode == RUN_MODE_SCAN && gCompileSession.sectionCounts[SECTION_SCAN] == 0)
            missing = "Scan";
        else if (mode >= RUN_MODE_TEST && !HasStrategy())
            missing = "Strategy";
        if (missing) {
            ReportError("Active Script %s has a missing or incomplete %s section.", script, missing);
            SetResultCode(RESULT_COMPILE_FAILURE);
            break;
        }
        NoteNamedRunInputs();
        if (!PlanRunOutputs(mode)) break;
        if (mode == RUN_MODE_IMPORT ||
            (gScriptSettings.AlwaysImport && gCompileSession.sectionCounts[SECTION_IMPORT] > 0)) {
            if (!RunImport()) {
                SetResultCode(ImportFailureCode());
                break;
            }
        }
        /* The panel shows the data file the script named, since loading reads the panel.
        ** The file is loaded again when another program (a scheduled import)
        ** has replaced it since, so the run uses the data as they are on disk.
        ** With nothing loaded, a scan, test or order run loads even when no file
        ** is named, and so fails: it has no data to run on, and an order run
        ** that read nothing must not report that there is nothing to do.  A
        ** check or an import that names no file goes on without data. */
        ShowDataFileInPanel();
        const int mustLoad = DataFileNameDiffers(gSettings.DataFile) && (mode >= RUN_MODE_SCAN || gSettings.DataFile[0]);
        if ((mustLoad || LoadedDataFileChanged()) && !LoadData(0)) {
            SetResultCode(RESULT_DATA_NOT_LOADED);
            break;
        }
        if (!CompileScript(script, mode, 2)) {
            SetResultCode(RESULT_COMPILE_FAILURE);
            break;
        }
        NoteNamedRunInputs();
        if (!PlanRunOutputs(mode)) break;
        result = RunModeWork(mode, script);
    } while (false);

    /* Results that could not be kept leave the file-error code (EndRun
    ** reports them): a batch goes on with its next run and ends with it, as
    ** for any file its runs could not write.  A run whose script failed
    ** while it ran failed, whatever its mode: a scan's rows of n/a are no
    ** answer. */
    bool runtimeError = gPendingRuntimeError[0] != 0;
    EndRun(started, dateDisplay, dateInput);
    EndRunFiles();
    return runtimeError ? -1 : result;
}
