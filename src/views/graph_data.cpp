/* graph_data.cpp -- Graphs formula values per period and strategy, cached in the test. */
#include "views/graph_data.h"

#include <cmath>
#include <cstring>

#include "records/test_records.h"
#include "engine/results_list.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "services/services.h"

static const double kNoMin = 1e14, kNoMax = -1e14;

/* ---- the shown formula ------------------------------------------------------------------ */

/* The k-th Graphs formula with a display format, or null. */
static FormulaColumn *ShownGraphsColumn(int32_t k, int32_t *listIndex)
{
    FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
    for (int32_t i = 0, n = 0; i < gGraphsColumns.count; i++) {
        if (!columns[i].format) continue;
        if (n++ == k) {
            if (listIndex) *listIndex = i;
            return &columns[i];
        }
    }
    return nullptr;
}

static int32_t CountShownGraphs()
{
    FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
    int32_t n = 0;
    for (int32_t i = 0; i < gGraphsColumns.count; i++) n += columns[i].format != 0;
    return n;
}

FormulaColumn *GetGraphColumn(const GraphWindow *graph) { return ShownGraphsColumn(graph->graphIndex, nullptr); }

int32_t NextReportGraph(int32_t after)
{
    for (int32_t n = after < 0 ? 0 : after + 1;; n++) {
        const FormulaColumn *column = ShownGraphsColumn(n, nullptr);
        if (!column) return -1;
        if (column->caretFlag) return n;
    }
}

int CheckGraphDisplay(GraphWindow *graph, int32_t index)
{
    graph->graphCount = CountShownGraphs();
    if (graph->graphCount == 0) {
        graph->hasColumn = 0;
        ReportError("Unable to correctly display stats graphs. Most likely this is because there were errors in "
                    "the most recently parsed script file.");
        return 0;
    }
    if (index >= 0) graph->graphIndex = index;
    if (graph->graphIndex < 0 || graph->graphIndex >= graph->graphCount) graph->graphIndex = 0;
    gSettings.GraphType = graph->graphIndex;
    const FormulaColumn *column = GetGraphColumn(graph);
    graph->hasColumn = 1;
    CopyString(graph->title, sizeof graph->title, column->heading[0] ? column->heading : column->formula.name, -1);
    /* "|" alone asks for bars (standing on 0); a number after it is the base
    ** value of a line graph: where its first label sits and, above 0, what
    ** lets it take the log scale. */
    graph->graphType = column->barFlag && column->barNumber == 0 ? 1 : 0;
    graph->displayFormat = (uint32_t)column->format;
    graph->decimals = (uint32_t)column->decimals;
    graph->baseValue = column->barNumber;
    graph->cursorIndex = -1;
    graph->combinedArea = (uint32_t)gSettings.GraphCombinedArea;
    graph->logScale = (uint32_t)gSettings.GraphUseLogScale;
    graph->fixedHeight = (uint32_t)gSettings.GraphFixedHeight;
    graph->effectiveLog = 0;
    graph->sorted = graph->graphType == 1 ? (uint32_t)gSettings.GraphSort : 0;
    graph->movingAverage = graph->graphType == 0 ? (uint32_t)gSettings.GraphShowMA : 0;
    graph->pointCount = 0;
    graph->integers = 1;
    for (int32_t s = 0; s < graph->seriesCount; s++) {
        graph->series[s].min = kNoMin;
        graph->series[s].max = kNoMax;
    }
    return 1;
}

/* ---- the record ---------------------------------------------------------------------------- */

static bool Listed(const StrategyResult *strategy) { return strategy->name[0] != '_'; }

/* The strategy index of series s, or -1. */
static int32_t StrategyOfSeries(const TestRecord *test, int32_t s)
{
    for (int32_t i = 0, n = 0; i < test->strategyCount; i++)
        if (Listed(&test->strategies[i]) && n++ == s) return i;
    return -1;
}

int AllocGraphWindow(GraphWindow *graph, TestRecord *test)
{
    graph->test = test;
    int32_t count = 0, sections = 0;
    for (int32_t i = 0; i < test->strategyCount; i++) {
        count += Listed(&test->strategies[i]);
        sections += test->strategies[i].kind == STRATEGY_KIND_STRATEGY;
    }
    graph->seriesCount = count;
    graph->combinedIndex = sections > 1 && count > 0 ? count - 1 : -1;
    graph->pointCapacity = test->rowCount + 5;
    int ok = count > 0 && AllocMemory(&graph->series, (uint64_t)count * sizeof(GraphSeries)) &&
        AllocMemory(&graph->dates, (uint64_t)graph->pointCapacity * sizeof(int32_t));
    for (int32_t s = 0; ok && s < count; s++) {
        GraphSeries &series = graph->series[s];
        memset(&series, 0, sizeof series);
        ok = AllocMemory(&series.values, (uint64_t)graph->pointCapacity * sizeof(double)) &&
            AllocMemory(&series.order, (uint64_t)graph->pointCapacity * sizeof(int32_t));
        CopyString(series.name, sizeof series.name, test->strategies[StrategyOfSeries(test, s)].name, -1);
        series.min = kNoMin;
        series.max = kNoMax;
    }
    if (!ok) FreeGraphWindow(graph);
    return ok;
}

void FreeGraphWindow(GraphWindow *graph)
{
    for (int32_t s = 0; graph->series && s < graph->seriesCount; s++) {
        FreeMemory(&graph->series[s].values);
        FreeMemory(&graph->series[s].order);
    }
    FreeMemory(&graph->series);
    FreeMemory(&graph->dates);
    graph->seriesCount = 0;
    graph->pointCount = 0;
}

/* ---- values -------------------------------------------------------------------------------- */

void StoreGraphValue(GraphWindow *graph, int32_t s, int32_t j, double value, int firstPoint)
{
    GraphSeries &series = graph->series[s];
    if (graph->effectiveLog && value <= 0) {
        /* A first value that a logarithm cannot take ends the log form for
        ** this calculation; a later one is drawn at the series' low. */
        if (j == 0)
            graph->effectiveLog = 0;
        else
            value = series.min < kNoMin ? series.min : 1.0;
    }
    series.values[j] = value;
    if (value < series.min) series.min = value;
    if (value > series.max) series.max = value;
    if (value != std::floor(value)) graph->integers = 0;
    if (firstPoint) graph->startingValue = s == 0 ? value : std::fmin(graph->startingValue, value);
    /* Descending order, earlier points first among equals. */
    int32_t k = j;
    while (k > 0 && series.values[series.order[k - 1]] < value) {
        series.order[k] = series.order[k - 1];
        k--;
    }
    series.order[k] = j;
}

/* The cache slot of (period, series, formula), or null. */
static double *GraphValueSlot(TestRecord *test, int32_t period, int32_t series, int32_t formula, int32_t formulas)
{
    int64_t index = (int64_t)formulas * ((int64_t)test->strategyCount * period + series) + formula;
    if (!test->graphValues || index < 0 || index >= test->graphValueCount) return nullptr;
    return &test->graphValues[index];
}

static int GrowGraphCache(TestRecord *test, int32_t formulas)
{
    int64_t needed = (int64_t)test->rowCount * test->strategyCount * formulas;
    if (needed <= test->graphValueCount) return 1;
    if (!ReallocMemory(&test->graphValues, (uint64_t)needed * sizeof(double))) return 0;
    test->graphValueCount = (int32_t)needed;
    return 1;
}

/* Progress of a calculation that runs past a second. */
struct GraphProgress {
    uint64_t start;
    int shown;
    char savedStatus[260];
};

static int ShowGraphProgress(GraphProgress *progress, int32_t period, int32_t periods)
{
    if (!progress->shown) {
        if (PlatTickCount64() - progress->start <= 1000) return 1;
        progress->shown = 1;
        GetStatusText(0, progress->savedStatus, sizeof progress->savedStatus);
        SetStatusText(0, "Calculating Graph Data...");
        SetWaitCursor(1);
    }
    SetStatusText(1, "Period %d of %d", period + 1, periods);
    PumpMessages();
    return !PlatEscapePressed();
}

static_assert((int)GRAPH_FIRST_VALUE_DATES == (int)GRAPH_FLAG_COUNT, "a first-value date per cache-valid flag");

int CalcGraphData(GraphWindow *graph, int clearCache)
{
    TestRecord *test = graph->test;
    if (!test || !test->cells) return 0;
    TestHold hold; /* the window answers between periods */
    FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
    int32_t formulas = gGraphsColumns.count;
    if (clearCache) memset(test->graphValid, 0, sizeof test->graphValid);
    if (formulas == 0 || !GrowGraphCache(test, formulas)) return 0;
    graph->effectiveLog = graph->graphType == 1 ? 0 : graph->logScale;
    int32_t shownIndex = -1;
    if (!ShownGraphsColumn(graph->graphIndex, &shownIndex)) return 0;
    int32_t dateStrategy = test->mainStrategy >= 0 && test->mainStrategy < test->strategyCount ? test->mainStrategy : 0;
    GraphProgress progress = { PlatTickCount64(), 0, "" };
    int aborted = 0;

    if (graph->firstValueTest != test) {
        memset(graph->firstValueDates, 0, sizeof graph->firstValueDates);
        graph->firstValueTest = test;
    }
    for (int32_t f = 0; f <= shownIndex && !aborted; f++) {
        bool shown = f == shownIndex;
        if (!shown && gRun.state.load() != 0 && !columns[shownIndex].formula.sameSectionRef) continue;
        /* Cached values are used only with the date they first had a value;
        ** without it the formula is evaluated again. */
        bool evaluate = f >= GRAPH_FLAG_COUNT || !test->graphValid[f] || !graph->firstValueDates[f];
        int32_t firstValueDate = evaluate ? 99991231 : graph->firstValueDates[f];
        bool firstPoint = true, plottedAny = false;
        EvalContext context;
        memset(&context, 0, sizeof context);
        context.test = test;
        context.symbol = &gStore.calendar;
        context.barPhase = PHASE_CLOSE;
        context.barSize = test->settings.BarSize2;
        context.walkForwardInterval = -1;
        context.dataItemIndex = -1;
        context.funBar = -1;
        for (int32_t p = 0; p < test->rowCount; p++) {
            const StatCell *cell = &test->cells[(int64_t)p * test->strategyCount + dateStrategy];
            int32_t date = (int32_t)cell->date;
            if (!date) continue;
            if (!ShowGraphProgress(&progress, p, test->rowCount)) {
                aborted = 1;
                break;
            }
            bool plotted = shown && (!graph->subsetFirst || graph->subsetFirst <= date) &&
                (!graph->subsetLast || date <= graph->subsetLast);
            if (plotted && !plottedAny) {
                plottedAny = true;
                graph->pointCount = 0;
            }
            if (plotted) graph->dates[graph->pointCount] = date;
            if (evaluate) {
                context.date = date;
                context.resultRow = p;
                context.barIndex = context.lastBar = -1;
            }
            for (int32_t s = 0; s < graph->seriesCount; s++) {
                if (p == 0) graph->series[s].leadCount = 0;
                double *slot = GraphValueSlot(test, p, s, f, formulas);
                if (!slot) {
                    LogPrintf("NULL GetGraphColValuePtr(%d, %d, %d)", p, s, f);
                    continue;
                }
                if (evaluate) {
                    context.strategyIndex = StrategyOfSeries(test, s);
                    context.strategy = context.strategyIndex >= 0 && context.strategyIndex < gStrategyCount
                        ? &gStrategies[context.strategyIndex]
                        : nullptr;
                    double value = 0;
                    if (EvalFormulaSlot(&columns[f].formula, &context, &value) && date < firstValueDate)
                        firstValueDate = date;
                    *slot = value;
                }
                if (!plotted) continue;
                if (date < firstValueDate)
                    graph->series[s].leadCount++;
                else
                    StoreGraphValue(graph, s, graph->pointCount, *slot, firstPoint);
            }
            if (plotted) {
                if (graph->pointCount + 1 < graph->pointCapacity) graph->pointCount++;
                firstPoint = date < firstValueDate;
            }
        }
        if (evaluate && !aborted && f < GRAPH_FLAG_COUNT) {
            test->graphValid[f] = 1;
            graph->firstValueDates[f] = firstValueDate;
        }
    }
    if (progress.shown) {
        SetWaitCursor(0);
        SetStatusText(0, "%s", progress.savedStatus);
        SetStatusText(1, "");
    }
    if (aborted) {
        ReportError("Calculation aborted");
        return 0;
    }
    return 1;
}

/* ---- selection ------------------------------------------------------------------------------ */

void SetGraphSelection(GraphWindow *graph)
{
    graph->allShown = 1;
    for (int32_t s = 0; s < graph->seriesCount; s++) {
        if (s == graph->combinedIndex) continue;
        if (!graph->series[s].shown) graph->allShown = 0;
        if (s < GRAPH_SAVED_FLAGS) graph->savedShown[s] = (uint8_t)graph->series[s].shown;
    }
    graph->combinedShown = graph->combinedIndex >= 0 ? graph->series[graph->combinedIndex].shown : 0;
}

void ShowOnlyGraphSeries(GraphWindow *graph, int32_t i)
{
    for (int32_t s = 0; s < graph->seriesCount; s++) graph->series[s].shown = i == -1 || s == i;
    SetGraphSelection(graph);
}

void ToggleGraphSeries(GraphWindow *graph, int32_t i)
{
    if (i >= 0 && i < graph->seriesCount && i < GRAPH_SAVED_FLAGS) graph->series[i].shown = !graph->series[i].shown;
    SetGraphSelection(graph);
}
