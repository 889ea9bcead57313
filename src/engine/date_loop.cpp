/* date_loop.cpp -- RunTest: set-up, the date loop phase by phase, and the
** steps after it. */
#include "engine/date_loop.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "engine/accounting.h"
#include "engine/entry_pass.h"
#include "engine/exit_pass.h"
#include "engine/fills.h"
#include "engine/futures.h"
#include "engine/orders.h"
#include "engine/positions.h"
#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "engine/run_view_hooks.h"
#include "engine/setup_filter.h"
#include "engine/trace.h"
#include "engine/trade_list.h"
#include "engine/walk_forward.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/random.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/data_load.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/settings_items.h"
#include "script/datacalc/data_calc.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

EngineRun gEngineRun;
int32_t gTestsListedByRuns = 0;
void (*gTestDateHeld)() = nullptr;
/* The test log's own file while it is written and until it is put in place
** (part of the run's state, emptied with it). */
static ReplaceFile sTestLog;

void ResetEngineRun()
{
    FreeMemory(&gEngineRun.waitingExports);
    AbandonReplaceFile(&sTestLog);
    memset(&gEngineRun, 0, sizeof gEngineRun);
}

int WaitExport(TestRecord *test)
{
    EngineRun &run = gEngineRun;
    const uint64_t capacity = TrackedBlockSize(run.waitingExports) / sizeof(TestRecord *);
    if ((uint64_t)run.waitingExportCount >= capacity &&
        !ReallocMemory(&run.waitingExports, (2 * capacity + 16) * sizeof(TestRecord *)))
        return 0;
    run.waitingExports[run.waitingExportCount++] = test;
    return 1;
}

void ForgetWaitingExport(const TestRecord *test)
{
    for (int32_t k = 0; k < gEngineRun.waitingExportCount; k++)
        if (gEngineRun.waitingExports[k] == test) gEngineRun.waitingExports[k] = nullptr;
    if (gEngineRun.testLogTest == test) gEngineRun.testLogTest = nullptr;
}

StatCell *CellAt(TestRecord *test, int32_t row, int32_t s)
{
    if (!test || !test->cells || row < 0 || row >= test->rowCount || s < 0 || s >= test->strategyCount) return nullptr;
    return &test->cells[(int64_t)row * test->strategyCount + s];
}

StatCell *StrategyCell(const EvalContext *context, int32_t s)
{
    return CellAt(context->test, context->resultRow, s);
}

SymbolRecord *StrategyCalendarSymbol(const StrategyRecord *strategy)
{
    if (strategy && strategy->CalendarSym > 0 && strategy->CalendarSym <= gStore.symbolCount)
        return &gStore.symbols[strategy->CalendarSym - 1];
    return &gStore.calendar;
}

/* Copies the fields a cell carries from the day before; the daily ones stay
** at the zero the grid was made with. */
static void CarryCell(StatCell *c, const StatCell *p)
{
    c->first = p->first;
    c->positions = p->positions;
    c->shortPositions = p->shortPositions;
    c->invested = p->invested;
    c->markToMarket = p->markToMarket;
    c->allocation = p->allocation;
    c->minAllocation = p->minAllocation;
    c->maxAllocation = p->maxAllocation;
    c->equityBase = p->equityBase;
    c->minEquity = p->minEquity;
    c->maxEquity = p->maxEquity;
    c->startEquity = p->startEquity;
    c->drawdownBars = p->drawdownBars;
    c->maxDrawdownBars = p->maxDrawdownBars;
    c->drawdownAmount = p->drawdownAmount;
    c->maxDrawdownAmount = p->maxDrawdownAmount;
    c->drawdownPercent = p->drawdownPercent;
    c->maxDrawdownPercent = p->maxDrawdownPercent;
    c->shortInvested = p->shortInvested;
    c->cashInOut = p->cashInOut;
    c->timeWeightedEquity = p->timeWeightedEquity;
    c->timeWeightedPeak = p->timeWeightedPeak;
    c->shortMarkToMarket = p->shortMarkToMarket;
    c->futuresMargin = p->futuresMargin;
    c->marginedValue = p->marginedValue;
    c->shortMarginedValue = p->shortMarginedValue;
    c->feesInOut = p->feesInOut;
}

/* The record's main strategy: the combined strategy when there is one, else
** the first Strategy-kind strategy. */
static int32_t MainStrategyOfScript()
{
    if (gCombinedIndex >= 0 && gCombinedIndex < gStrategyCount) return gCombinedIndex;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        if (gStrategies[s].kind == STRATEGY_KIND_STRATEGY) return s;
    }
    return 0;
}

/* Copies the run's settings block into the record's settings copy. */
static void CopySettings(TestSettingsCopy *copy)
{
    const ProgramSettings &s = gSettings;
    /* The data file and script are kept whole once the script text is
    ** (SetTestNames, in the record's fixed fields and beside the text). */
    CopyString(copy->TestName, sizeof copy->TestName, s.TestName, -1);
    copy->AccountSize = s.AccountSize;
    copy->FirstDate = s.FirstDate;
    copy->LastDate = s.LastDate;
    copy->NumBars = s.NumBars;
    copy->BarSize2 = s.BarSize2;
    copy->UseEarliestDate = s.UseEarliestDate;
    copy->UseLatestDate = s.UseLatestDate;
    copy->useAvailableBars = gUseAvailableBars;
    copy->KeepTrades = s.KeepTrades;
    copy->KeepBench = s.KeepBench;
    copy->KeepSkipped = s.KeepSkipped;
    copy->AddReport = s.AddReport;
    copy->AddGraph = s.AddGraph;
    copy->AddLog = s.AddLog;
    copy->AddTrades = s.AddTrades;
    copy->AddScan = s.AddScan;
    copy->AddDebug = s.AddDebug;
    copy->runMode = gRun.mode;
}

/* The test's name: the TestName formula, else the script's file name (with
** the run's currency when it is not the program's), then the walk-forward
** suffix of an in-sample or out-of-sample test. */
static void NameTest(TestRecord *test, EvalContext *context, int32_t wfFlag)
{
    char *name = test->settings.TestName;
    bool optimizingBy = gRun.mode == RUN_MODE_OPTIMIZE && (gSettings.OptBySymbol || gSettings.OptByStrategy);
    if (IsSlotGiven(&gTestNameFormula.formula) && !optimizingBy) {
        char text[TEST_NAME_SIZE] = "";
        int32_t phase = context->barPhase;
        context->barPhase = PHASE_CLOSE;
        if (EvalFormulaText(&gTestNameFormula.formula, context, text, sizeof text)) CopyString(name, TEST_NAME_SIZE, text, 79);
        context->barPhase = phase;
    }
    if (!name[0]) {
        const char *script = gSettings.ActiveScript;
        const char *base = script;
        for (const char *c = script; *c; c++)
            if (*c == '\\' || *c == '/' || *c == ':') base = c + 1;
        const char *dot = strrchr(base, '.');
        CopyString(name, TEST_NAME_SIZE, base, dot ? (int)(dot - base) < 79 ? (int)(dot - base) : 79 : 79);
        if (test->currency[0] && CompareNoCase(test->currency, gSettings.Currency) != 0) {
            size_t length = strlen(name);
            FormatText(name + length, TEST_NAME_SIZE - length, " (%s)", test->currency);
        }
    }
    if (context->walkForwardInterval >= 0) {
        static const char kInSample[] = " #WF-IS";
        size_t length = strlen(name);
        if (length >= sizeof kInSample - 1 && strcmp(name + length - (sizeof kInSample - 1), kInSample) == 0)
            length -= sizeof kInSample - 1;
        if (length > 71) length = 71;
        FormatText(name + length, TEST_NAME_SIZE - length, " #WF-%s", wfFlag ? "OOS" : "IS");
    }
    CopyString(gSettings.TestName, sizeof gSettings.TestName, name, -1);
}

/* The test log's name for a test number (out: PATH_SIZE), measured as every
** output's path is before it is used: 0 after reporting a name longer than a
** path holds, which no log is written under (cut to fit, it would name
** another file, and the Windows program could not open it). */
static int MakeTestLogPath(char *out, int32_t testNumber)
{
    char name[32];
    FormatText(name, sizeof name, "\\TEST_%.4d.TXT", testNumber);
    if (PathLetters(gLogsFolder) + strlen(name) > PATH_LETTERS) {
        out[0] = 0;
        ReportError("Test Log file path is too long -- maximum is 260 chars.");
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    FormatText(out, PATH_SIZE, "%s%s", gLogsFolder, name);
    return 1;
}

/* Puts a finished test log in place under its test's number and opens it in
** a log window; 0 after reporting when it could not be put there. */
static int PlaceTestLog(int32_t testNumber)
{
    ReplaceFile *log = &sTestLog;
    if (!MakeTestLogPath(log->path, testNumber) || !ClaimRunOutput(log->path, "the test log")) {
        AbandonReplaceFile(log);
        return 0;
    }
    if (!CommitReplaceFile(log)) return 0;
    OpenLogFile(log->path);
    return 1;
}

void PlaceWaitingTestLog(int settled)
{
    EngineRun &run = gEngineRun;
    if (!sTestLog.file || !run.testLogWaits) return;
    run.testLogWaits = 0;
    if (settled && run.testLogTest) {
        PlaceTestLog(run.testLogTest->testNumber);
    } else {
        if (!settled) {
            ReportError("The test log of this run was not kept: the number its test keeps in %s could not be learned, "
                        "and it could replace another run's log.",
                        run.results ? run.results->path : "");
            SetResultCode(RESULT_FILE_ERROR);
        }
        AbandonReplaceFile(&sTestLog);
    }
    run.testLogTest = nullptr;
}

/* Opens the test log and writes its column lines; without a file the log
** goes to the log window.  The log is written to a file of its own (the
** tests of two runs that share a results file may have the same number until
** their saves): messages name the log by the number the test has now. */
static void OpenTestLog(int32_t testNumber)
{
    EngineRun &run = gEngineRun;
    PlaceWaitingTestLog(1);
    gRun.testLogFile = nullptr;
    if (MakeTestLogPath(run.testLogPath, testNumber)) {
        /* The stem is shorter than the name measured, so it fits too. */
        char stem[PATH_SIZE];
        FormatText(stem, sizeof stem, "%s\\TEST.TXT", gLogsFolder);
        gRun.testLogFile = BeginReplaceFileQuietly(&sTestLog, stem) ? sTestLog.file : nullptr;
    }
    gRun.testLogFailed = 0;
    if (gSettings.AddDebug) LogPrintf("%s", "DATE\tTIME\tSTRATEGY\tINFO\tSYMBOL\tCONTEXT\tEVAL\tOUTPUT\t");
    if (gSettings.AddLog)
        LogPrintf("%s", "DATE\tTIME\tSTRATEGY\tINFO\tSYMBOL\tACTION\tQUANTITY\tPRICE\tFX\tSLIP\tCOMM\tDIVIDEND\tPROFIT\tALLOC\t"
                        "EQUITY\tCOST\tM2M\tEXPOSURE\tCASH\tSCORE1\tSCORE2\tREASON\t");
}

/* Ends the test's log: put in place now, or held until the save has given
** the test its number. */
static void CloseTestLog(TestRecord *test)
{
    EngineRun &run = gEngineRun;
    if (!gRun.testLogFile) {
        LogPrintf("%s", "");
        return;
    }
    gRun.testLogFile = nullptr;
    if (run.logsAfterSave) {
        run.testLogTest = test;
        run.testLogWaits = 1;
        return;
    }
    PlaceTestLog(test->testNumber);
}

/* Fills the strategies' results and prepares their state and first cell. */
static void PrepareStrategies(TestRecord *test, EvalContext *context)
{
    for (int32_t s = 0; s < test->strategyCount; s++) {
        StrategyRecord *strategy = &gStrategies[s];
        StrategyResult *result = &test->strategies[s];
        CopyString(result->name, sizeof result->name, strategy->name, -1);
        result->kind = strategy->kind;
        result->barSize = strategy->BarSize;
        result->tracker = strategy->Tracker;
        result->compounded = strategy->Compounded == 1;
        result->markedToMarket = strategy->MarkToMarket == 1;
        result->parentCount = strategy->groupCount < STRATEGY_PARENT_MAX ? strategy->groupCount : STRATEGY_PARENT_MAX;
        for (int32_t k = 0; k < result->parentCount; k++) result->parents[k] = strategy->groups[k];
    }
    for (int32_t s = 0; s < test->strategyCount; s++) {
        StrategyRecord *strategy = &gStrategies[s];
        StrategyResult *result = &test->strategies[s];
        if (result->compounded && strategy->kind == STRATEGY_KIND_STRATEGY) test->compounded = 1;
        for (int32_t k = 0; k < result->parentCount; k++) {
            int32_t parent = result->parents[k];
            if (parent < 0 || parent >= test->strategyCount) continue;
            if (result->compounded) {
                test->strategies[parent].compounded = 1;
                gStrategies[parent].Compounded = 1;
            }
            if (result->markedToMarket) {
                test->strategies[parent].markedToMarket = 1;
                gStrategies[parent].MarkToMarket = 1;
            }
        }
    }
    for (int32_t s = 0; s < test->strategyCount; s++) {
        StrategyRecord *strategy = &gStrategies[s];
        context->strategy = strategy;
        context->strategyIndex = s;
        double fraction = 1.0, percent = 0;
        if (IsSlotGiven(&strategy->slots[SLOT_START_PERCENT])) {
            context->symbol = StrategyCalendarSymbol(strategy);
            if (EvalFormulaSlot(&strategy->slots[SLOT_START_PERCENT], context, &percent)) fraction = percent / 100;
        }
        strategy->allocationFraction = fraction;
        StatCell *cell = CellAt(test, 0, s);
        double equity = fraction * gSettings.AccountSize;
        cell->timeWeightedEquity = cell->timeWeightedPeak = fraction;
        cell->startEquity = cell->minEquity = cell->maxEquity = cell->maxAllocation = equity;
        cell->equityBase = cell->allocation = cell->minAllocation = equity;
    }
    context->strategy = nullptr;
    context->strategyIndex = -1;
}

/* The per-symbol TestData items of the date, then the StratData aggregates,
** which may read the TestData values of the same date. */
static void CalcStrategyData(EvalContext *context)
{
    /* Each routine returns at once without items of its own kind: a script
    ** with TestData items but no StratData ones still needs its TestData. */
    CalcStrategyItems(context);
    CalcStrategyAggregates(context);
}

/* Checks a Save...As path against the output folder; 1 with outPath. */
/* Reads the trade list of every strategy that has one and has not read it
** in this run, and maps its rows onto the test's range. */
static int LoadTradeLists(const TestRecord *test)
{
    if (gTradeListState.active.size() != (size_t)gStrategyCount) ResetTradeListState();
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        if (!r->TradeList[0] || r->tradeListRows || r->tradeListRowCount != 0) continue;
        if (ReadTradeListFile(r) < 0) return 0;
        if (r->tradeListRowCount > 0) BuildTradeListTrades(r, test->firstDate, test->lastDate);
    }
    return 1;
}

static int CheckOutputPath(char *outPath, const char *path, const char *kind)
{
    return path[0] && CheckSaveAsCsvPath(outPath, path, kind);
}

void UpdateExaminePanel()
{
    const char *symbol = "", *strategy = "";
    for (int32_t s = 0; s < gStrategyCount && !symbol[0]; s++) {
        const StrategyRecord *r = &gStrategies[s];
        if (r->openCount <= 0 || !r->openPositions[0].symbol) continue;
        symbol = r->openPositions[0].symbol->info.Symbol;
        strategy = r->name;
    }
    if (gRunViewHooks.updateExaminePanel) gRunViewHooks.updateExaminePanel(symbol, strategy);
    UpdateDebugPanelControls();
}

void ExportTestCsvs(TestRecord *test)
{
    char path[PATH_SIZE];
    if (CheckOutputPath(path, gScriptSettings.SaveStatsAs, "Stats") && gRunViewHooks.saveStatsCsv)
        gRunViewHooks.saveStatsCsv(test, path);
    if (CheckOutputPath(path, gScriptSettings.SaveTradesAs, "Trades") && gRunViewHooks.saveTradesCsv)
        gRunViewHooks.saveTradesCsv(test, path);
}

/* The live graph of the test: refreshed when it is open, else opened. */
static void ShowLiveGraph(TestRecord *test)
{
    if (gRunViewHooks.showLiveGraph)
        gEngineRun.liveGraph = gRunViewHooks.showLiveGraph(gEngineRun.liveGraph, gEngineRun.results, test);
}

/* What a listed test hands to the views: live graph, report, the two CSV
** exports and the trade-list window, as the settings ask. */
static void FinishTestOutputs(ResultsWindow *window, TestRecord *test)
{
    if (gEngineRun.liveGraph || gSettings.AddGraph) ShowLiveGraph(test);
    gEngineRun.liveGraph = nullptr;
    if (gSettings.AddGraph) {
        PlatSleep(100);
        PumpMessages();
    }
    if (gSettings.AddReport && gRunViewHooks.writeTestReport) gRunViewHooks.writeTestReport(window, test);
    /* A numbered export waits for the save when another run may number its
    ** tests from the same file: only the save says which number is this test's. */
    if (!gEngineRun.exportsAfterSave || !WaitExport(test)) ExportTestCsvs(test);
    if (gSettings.AddTrades && test->tradeCount > 0 && gRunViewHooks.openTradeList) gRunViewHooks.openTradeList(test);
}

/* The setup filters of the Data values just calculated, for the dates the
** test has still to visit: a test of a few months in long data builds no
** rows for the years it never reaches.  A filter only spares the entry pass
** symbols that cannot make a setup: when one cannot be built, the entry pass
** visits every symbol, as it does without filters. */
static void PrepareSetupFilters(const EvalContext *context)
{
    const TestRecord *test = context->test;
    int32_t first = context->date > test->firstDate ? context->date : test->firstDate;
    if (!BuildSetupFilters(context, first, test->lastDate)) FreeSetupFilters();
}

/* 1 + the highest test number in the list (1 for none).  The run keeps the
** highest number it found with the list's count then: while only its own
** tests join the list the number needs no walk over it, so a test of a long
** optimization costs what the first one did.  After the largest number there
** is comes the smallest free one (NextTestNumber). */
static int32_t NumberForNewTest(const ResultsWindow *window)
{
    EngineRun &run = gEngineRun;
    if (!window) return 1;
    if (window != run.numberedList || window->testCount != run.numberedCount) {
        int32_t highest = 0;
        for (const TestRecord *t = window->firstTest; t; t = t->next)
            if (t->testNumber > highest) highest = t->testNumber;
        run.numberedList = window;
        run.numberedCount = window->testCount;
        run.highestNumber = highest;
    }
    if (run.highestNumber == INT32_MAX) return NextTestNumber(window);
    return run.highestNumber + 1;
}

/* A test of this run joined the list; anything else that changed the list
** meanwhile (a test deleted, the list trimmed) makes the next number walk it. */
static void NoteListedNumber(const ResultsWindow *window, int32_t number)
{
    EngineRun &run = gEngineRun;
    if (window != run.numberedList || window->testCount != run.numberedCount + 1) {
        run.numberedList = nullptr;
        return;
    }
    run.numberedCount++;
    if (number > run.highestNumber) run.highestNumber = number;
}

/* A run that ends before its data do reads nothing after its last day, in
** its tests as in its orders: for the date loop every symbol ends on its last
** session up to that day, as in the data cut there.  So the days a calendar
** symbol misses at the end are no days of its strategy's periods (no signal
** date, no stop judged on them) and the data end its exits know is that
** session, not one the data reach later; a position in a symbol that did not
** trade on the last day leaves by its end of data at its last close, and its
** place on the account is free on that day, as in the cut data.
** Only the symbol's last date is held back; its bars stay, and the hold is let go
** while the whole data are calculated and while an order list sets the
** later bars aside itself.  A hold holds the symbols' ends at lastDay
** while it lives; Lift and Hold let go and hold again around those steps. */
class CalendarEndHold {
public:
    explicit CalendarEndHold(int32_t lastDay) : day(lastDay) { Hold(); }
    ~CalendarEndHold() { Lift(); }
    CalendarEndHold(const CalendarEndHold &) = delete;
    CalendarEndHold &operator=(const CalendarEndHold &) = delete;
    void Hold()
    {
        if (held) return;
        held = true;
        for (int32_t k = 0; k < gStore.symbolCount; k++) {
            SymbolRecord *symbol = &gStore.symbols[k];
            if (symbol->lastDate <= day) continue;
            /* Its last session up to the day, found without the searches that
            ** note the bars a run uses. */
            int32_t count = 0;
            const Bar *bars = GetBarArray(symbol, BAR_DAILY, &count);
            if (!bars || count <= 0) continue;
            const Bar *after = std::upper_bound(bars, bars + count, day, [](int32_t d, const Bar &b) { return d < b.date; });
            if (after == bars) continue;
            ends.push_back({symbol, symbol->lastDate});
            symbol->lastDate = after[-1].date;
        }
    }
    void Lift()
    {
        if (!held) return;
        held = false;
        for (size_t k = ends.size(); k-- > 0;) ends[k].symbol->lastDate = ends[k].lastDate;
        ends.clear();
    }
    bool Held() const { return held; }

private:
    struct End {
        SymbolRecord *symbol;
        int32_t lastDate; /* the symbol's own */
    };
    std::vector<End> ends;
    int32_t day;
    bool held = false;
};

/* Plays from here on the walk-forward interval of day, by the one rule every
** mode keeps (WalkForwardIntervalOf); out of sample the values played are
** those the interval before chose.  A change, or announce, is logged and the
** test's data are calculated again for the interval's values.  0 when that
** fails. */
static int PlayWalkForwardInterval(EvalContext *context, CalendarEndHold &calendarEnds, int32_t day, int32_t wfFlag, bool announce)
{
    if (context->walkForwardInterval < 0) return 1;
    const int32_t interval = WalkForwardIntervalOf(day);
    if (interval == context->walkForwardInterval && !announce) return 1;
    context->walkForwardInterval = interval;
    if (gSettings.AddLog) {
        char start[DATE_TEXT_SIZE];
        FormatDate(WalkForwardIntervalStart(interval), gSettings.DateDisplayFormat, start);
        LogPrintf("\n*** New %s WalkForward Interval ***\n>>> Date = %s", wfFlag ? "OOS" : "IS", start);
        const Parameter *parameters = (const Parameter *)gParameters.items;
        int32_t set = interval - wfFlag;
        for (int32_t k = 0; k < gParameters.count; k++) {
            const Parameter *p = &parameters[k];
            if (p->walkCount > 0 && set >= 0 && set < p->walkCount) LogPrintf(">>> %s = %g", p->name, p->walkValues[set]);
        }
    }
    const bool held = calendarEnds.Held();
    calendarEnds.Lift();
    const int calculated = CalcDataArraysForBarSize(context, 1);
    if (held) calendarEnds.Hold();
    if (!calculated) return 0;
    PrepareSetupFilters(context);
    return 1;
}

/* Frees a record that will not be listed, with the open log. */
static int DropTest(TestRecord *test, int result)
{
    FreeSetupFilters();
    if (gRun.testLogFile) {
        gRun.testLogFile = nullptr;
        AbandonReplaceFile(&sTestLog);
    }
    FreeTestRecord(nullptr, test);
    return result;
}

int RunTest(int32_t testIndex, int32_t wfFlag)
{
    const DateList *list = &gStore.dateLists[gSettings.BarSize2 >= 0 && gSettings.BarSize2 < BAR_SIZE_COUNT ? gSettings.BarSize2 : 0];
    int32_t firstIndex = 0, lastIndex = -1;
    if (!SetTestDateRange(list, &firstIndex, &lastIndex) || lastIndex < firstIndex) return 0;
    int32_t rowCount = lastIndex - firstIndex + 1;
    int32_t parameterCount = CollectParamValues(nullptr);
    TestRecord *test = ReadTestRecord(nullptr, parameterCount, gStrategyCount, rowCount, gStratDataItems.count);
    if (!test) return 0;

    /* The record's identity and settings. */
    test->testNumber = NumberForNewTest(gEngineRun.results);
    test->mainStrategy = MainStrategyOfScript();
    CopyString(test->currency, sizeof test->currency, gScriptSettings.Currency, -1);
    test->daysPerYear = gScriptSettings.DaysPerYear;
    for (int32_t k = 0; k < gStratDataItems.count && test->stratDataNames; k++)
        CopyString(test->stratDataNames[k], 80, ((FormulaItem *)gStratDataItems.items)[k].formula.name, -1);
    CollectParamValues(test->parameters);
    test->firstDate = (int32_t)list->dates[firstIndex];
    test->lastDate = (int32_t)list->dates[lastIndex];
    CopySettings(&test->settings);
    test->randomSeed = gRandomSeed.load(std::memory_order_relaxed);
    test->settings.FirstDate = test->firstDate;
    test->settings.LastDate = test->lastDate;
    if (gRun.mode != RUN_MODE_OPTIMIZE && gEngineRun.testCount <= 1 && gScriptParser.collectedText.text) {
        uint32_t length = (uint32_t)gScriptParser.collectedText.length;
        if (AllocMemory(&test->settings.scriptText, (uint64_t)length + 1)) {
            memcpy(test->settings.scriptText, gScriptParser.collectedText.text, length);
            test->settings.scriptTextLength = length + 1;
        }
    }
    SetTestNames(test, gSettings.DataFile, gSettings.ActiveScript);

    EvalContext context;
    memset(&context, 0, sizeof context);
    context.test = test;
    context.barSize = gSettings.BarSize2;
    context.outOfSample = wfFlag;
    context.date = test->firstDate;
    context.strategyIndex = -1;
    context.resultRow = 0;
    context.dataItemIndex = -1;
    context.funBar = -1;
    context.priceScale = 1.0;
    int32_t wfDateCount = gWalkForwardDates.count;
    context.walkForwardInterval = wfDateCount > 0 && gRun.mode != RUN_MODE_OPTIMIZE ? wfFlag : -1;

    if (IsSlotGiven(&gSkipTestIf.formula)) {
        BindContextSymbol(&context);
        double skip = 0;
        if (EvalFormulaSlot(&gSkipTestIf.formula, &context, &skip) && skip != 0) return DropTest(test, 1);
    }
    NameTest(test, &context, wfFlag);
    if (!CalcDataArraysForBarSize(&context, 0)) return DropTest(test, 0);
    PrepareSetupFilters(&context);
    if (gSettings.AddLog || gSettings.AddDebug) OpenTestLog(test->testNumber);

    if (!PreparePositionState(test)) return DropTest(test, 0);
    PrepareStrategies(test, &context);
    if (!PreparePositionState(test)) return DropTest(test, 0);
    for (int32_t s = 0; s < test->strategyCount; s++) {
        context.strategy = &gStrategies[s];
        context.strategyIndex = s;
        UpdateAllocation(&context, CellAt(test, 0, s));
    }
    context.strategy = nullptr;
    context.strategyIndex = -1;
    if (!AllocStrategyArrays()) return DropTest(test, 0);
    if (!LoadTradeLists(test)) return DropTest(test, 0);
    /* The TestScan rows of the test go to the scan window's list, or where
    ** there is none to the SaveScanAs file. */
    CellListWindow *testScan = nullptr;
    if (gSettings.AddScan && gTestScanColumns.count > 0 && gRun.mode != RUN_MODE_OPTIMIZE && gRunViewHooks.openTestScan &&
        gRunViewHooks.scanTestDate)
        testScan = gRunViewHooks.openTestScan();

    int32_t previous = OffsetTradingDate(list, test->firstDate, -1);
    /* The last day the run may know: its EndDate, which in a run of a longer
    ** bar size may lie inside the period after its last row. */
    CalendarEndHold calendarEnds(gSettings.LastDate > test->lastDate ? gSettings.LastDate : test->lastDate);
    uint64_t lastProgress = PlatTickCount64(), lastGraph = lastProgress;
    for (int32_t r = 0; r < rowCount; r++) {
        int32_t date = (int32_t)list->dates[firstIndex + r];
        bool lastRow = r == rowCount - 1;
        test->rowsFilled = r + 1;
        context.resultRow = r;
        context.date = date;
        context.barPhase = PHASE_OPEN;
        context.postClose = 0;
        context.strategyIndex = -1;

        /* Walk-forward intervals: the open and intraday phases play the
        ** interval of the day they trade on, which for a longer bar is its
        ** period's first day (the same strategy in a daily run sizes its
        ** entries there); the close plays the date's own.  A first period
        ** that began before the run plays from the run's first day (an
        ** out-of-sample run's is the second date), not from its row's date,
        ** which is the period's last day and may lie intervals later. */
        int32_t openDay = date;
        if (context.walkForwardInterval >= 0 && gSettings.BarSize2 > BAR_DAILY && gSettings.BarSize2 < BAR_SIZE_COUNT) {
            openDay = GetPeriodFirstDate(date, 1, gSettings.BarSize2);
            if (openDay < gSettings.FirstDate) openDay = gSettings.FirstDate;
        }
        if (!PlayWalkForwardInterval(&context, calendarEnds, openDay, wfFlag, r == 0)) return DropTest(test, 0);

        for (int32_t s = 0; s < test->strategyCount; s++) UpdateTradeListActivation(s, previous);

        /* The day's cells and the usage of what is held. */
        for (int32_t s = 0; s < test->strategyCount; s++) {
            gStrategies[s].setupCount = 0;
            StatCell *cell = CellAt(test, r, s);
            if (r > 0) CarryCell(cell, CellAt(test, r - 1, s));
            cell->rowNumber = (uint32_t)(r + 1);
            cell->date = (uint32_t)date;
            cell->phase = PHASE_OPEN;
            cell->usageAmount = 0;
        }
        for (int32_t s = 0; s < test->strategyCount; s++) {
            const StrategyRecord *strategy = &gStrategies[s];
            for (int32_t k = 0; k < strategy->openCount; k++) {
                const PositionRecord *p = &strategy->openPositions[k];
                if (p->entryBar < 0) continue;
                double amount = p->entryValue + (test->strategies[s].markedToMarket ? p->openProfit : 0);
                int32_t chain[PARENT_CHAIN_MAX];
                int32_t n = CollectParentChain(s, chain, PARENT_CHAIN_MAX);
                for (int32_t j = 0; j < n; j++) CellAt(test, r, chain[j])->usageAmount += amount;
            }
        }

        AccrueDailyInterest(&context);
        if (gSettings.AddLog) LogPortfolioState(&context);
        ApplyDailyCashFlows(&context, previous);

        /* Open. */
        context.barPhase = PHASE_OPEN;
        RunExitPass(&context, 0);
        if (!(lastRow && gRun.mode == RUN_MODE_ORDERS)) {
            for (int32_t s = 0; s < test->strategyCount; s++) {
                if (!gStrategies[s].tradesFutures) continue;
                context.strategy = &gStrategies[s];
                context.strategyIndex = s;
                ProcessFuturesRolls(&context, nullptr);
            }
            context.strategy = nullptr;
            context.strategyIndex = -1;
            context.barSize = gSettings.BarSize2;
        }
        RunEntryPass(&context);

        /* Intraday. */
        context.barPhase = PHASE_INTRADAY;
        if (gSettings.AddLog) LogPortfolioState(&context);
        RunEntryPass(&context);
        if (lastRow && gRun.mode == RUN_MODE_ORDERS) KeepExitPricesForOrders();
        RunExitPass(&context, 0);

        /* Close. */
        context.barPhase = PHASE_CLOSE;
        if (!PlayWalkForwardInterval(&context, calendarEnds, date, wfFlag, false)) return DropTest(test, 0);
        if (gSettings.AddLog) LogPortfolioState(&context);
        if (!lastRow) {
            RunExitPass(&context, 0);
            RunEntryPass(&context);
            UpdateDailyEquityStats(&context, 0);
            context.postClose = 1;
            CalcStrategyData(&context);
            if (testScan && gScriptSettings.TestScanAllDates) gRunViewHooks.scanTestDate(testScan, &context);
        } else {
            if (gRun.mode == RUN_MODE_ORDERS && gScriptSettings.OrdersLiveData) {
                gRun.orderDate = date;
                for (int32_t s = 0; s < gStrategyCount; s++) gStrategies[s].orderDate = date;
                calendarEnds.Lift();
                CutDateListsAt(date);
                GenerateOrderList(&context);
                RestoreDateLists();
                calendarEnds.Hold();
            }
            RunExitPass(&context, 0);
            RunEntryPass(&context);
            UpdateDailyEquityStats(&context, 0);
            context.postClose = 1;
            if (gRun.mode != RUN_MODE_OPTIMIZE) {
                /* The next trading date as the data cut at this day know it. */
                calendarEnds.Lift();
                CutDateListsAt(date);
                gRun.orderDate = OffsetTradingDate(&gStore.dateLists[BAR_DAILY], date, 1);
                char path[PATH_SIZE];
                if (CheckOutputPath(path, gScriptSettings.SavePositionsAs, "Positions")) WritePositionsCsv(&context, path);
                bool played = true;
                if (gRun.mode == RUN_MODE_ORDERS && !gScriptSettings.OrdersLiveData) {
                    /* A strategy with a calendar of its own orders for its own next date. */
                    for (int32_t s = 0; s < gStrategyCount; s++) {
                        StrategyRecord *strategy = &gStrategies[s];
                        const DateList *own = strategy->hasOwnDateLists ? &strategy->dateLists[BAR_DAILY] : nullptr;
                        strategy->orderDate = own && own->count > 0 ? OffsetTradingDate(own, date, 1) : gRun.orderDate;
                    }
                    /* The orders are the next day's entries, sized with the
                    ** values of the interval that day belongs to; its data
                    ** are calculated, as on every date, over the whole data. */
                    RestoreDateLists();
                    const int32_t next = gRun.orderDate > date ? gRun.orderDate : date;
                    played = PlayWalkForwardInterval(&context, calendarEnds, next, wfFlag, false) != 0;
                    CutDateListsAt(date);
                    if (played) GenerateOrderList(&context);
                }
                RestoreDateLists();
                calendarEnds.Hold();
                /* What follows the orders belongs to this date again. */
                if (!played || !PlayWalkForwardInterval(&context, calendarEnds, date, wfFlag, false)) return DropTest(test, 0);
            }
            CalcStrategyData(&context);
            if (testScan) gRunViewHooks.scanTestDate(testScan, &context);
            if (gRun.mode != RUN_MODE_OPTIMIZE && gSettings.AddDebug) UpdateExaminePanel();
            if (gScriptSettings.EndOfTestExits) {
                RunExitPass(&context, EXIT_END_OF_TEST);
                UpdateDailyEquityStats(&context, 1);
                CalcStrategyData(&context);
            }
        }

        /* Progress, then a stop request ends the test where it is. */
        uint64_t now = PlatTickCount64();
        if (now - lastProgress > 100) {
            char day[DATE_TEXT_SIZE];
            FormatDate(date, gSettings.DateDisplayFormat, day);
            SetStatusText(1, "Date: %s", day);
            lastProgress = now;
            bool fewTests = gRun.mode != RUN_MODE_OPTIMIZE || gEngineRun.testCount < 1000;
            if (gSettings.ShowStatusBar && fewTests && gRunViewHooks.showStatLines) gRunViewHooks.showStatLines(test);
            if (gSettings.AddGraph && gRun.mode != RUN_MODE_OPTIMIZE && now - lastGraph > 1000) {
                ShowLiveGraph(test);
                lastGraph = now;
            }
        }
        if (gTestDateHeld && r == 1) gTestDateHeld();
        PumpMessages();
        if (gRun.state == RUN_STOP_REQUESTED) {
            if (gDebugEvalWritten) UpdateExaminePanel();
            test->lastDate = date;
            test->settings.LastDate = date;
            /* A stop seen after the last date cut nothing: the test is whole. */
            if (!lastRow) MarkTestStopped(test);
            ShowPopupNotice(255, "Test Stopped");
            SetResultCode(RESULT_STOPPED);
            break;
        }
        previous = date;
    }
    calendarEnds.Lift();
    if (testScan && gRunViewHooks.finishTestScan) gRunViewHooks.finishTestScan(testScan);

    FreeSetupFilters();
    if (test->trades && test->tradeCount < test->tradeCapacity) {
        if (ReallocMemory(&test->trades, (uint64_t)test->tradeCount * sizeof(TradeRecord))) test->tradeCapacity = test->tradeCount;
    }
    if (gRun.mode == RUN_MODE_OPTIMIZE && test->closedTradeCount == 0 && !gSettings.OptKeepNoTrades) return DropTest(test, 1);
    ResultsWindow *window = gEngineRun.results;
    if (!window) {
        if (gRun.testLogFile || gSettings.AddLog || gSettings.AddDebug) CloseTestLog(test);
        PlaceWaitingTestLog(1);
        FreeTestRecord(nullptr, test);
        RefreshAllResGraphs();
        return 1;
    }
    AddTestToResults(window, test);
    NoteListedNumber(window, test->testNumber);
    if (gRun.testLogFile || gSettings.AddLog || gSettings.AddDebug) CloseTestLog(test);
    gEngineRun.testsListed++;
    gTestsListedByRuns++;
    RefreshAllResGraphs();
    if (gRun.mode == RUN_MODE_OPTIMIZE) return 1;
    FinishTestOutputs(window, test);
    return 1;
}
