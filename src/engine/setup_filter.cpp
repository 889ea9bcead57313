/* setup_filter.cpp -- the EntrySetup bits of every date and symbol, made in
** block form before the date loop. */
#include "engine/setup_filter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "engine/entry_pass.h"
#include "engine/futures.h"
#include "engine/trade_list.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/worker_pool.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "records/test_records.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/strategy.h"
#include "script/eval/block_plan.h"
#include "script/eval/evaluator.h"
#include "services/services.h"

SetupFilterState gSetupFilter;
int gSetupFilterOff = 0;
int gSetupFilterPlainBitCount = 0;
int64_t gSetupFilterVisits = 0;

void FreeSetupFilters()
{
    for (int32_t s = 0; s < gSetupFilter.count && gSetupFilter.filters; s++) {
        FreeMemory(&gSetupFilter.filters[s].bits);
        FreeMemory(&gSetupFilter.filters[s].known);
        FreeMemory(&gSetupFilter.filters[s].wordStart);
        FreeMemory(&gSetupFilter.filters[s].barIndex);
        FreeMemory(&gSetupFilter.filters[s].scores);
    }
    FreeMemory(&gSetupFilter.filters);
    FreeMemory(&gSetupFilter.pending);
    FreeMemory(&gSetupFilter.visits);
    FreeMemory(&gSetupFilter.traded);
    gSetupFilter = SetupFilterState{};
}

/* The strategy judges its setups one symbol at a time by its EntrySetup on
** its daily bars of the master calendar. */
static bool CanFilter(const StrategyRecord *r)
{
    if (r->kind != STRATEGY_KIND_STRATEGY && r->kind != STRATEGY_KIND_BENCHMARK) return false;
    if (r->BarSize != BAR_DAILY || r->CalendarSym > 0 || r->hasOwnDateLists) return false;
    if (r->DynamicSizing == 1 || r->TradeList[0]) return false;
    return IsSlotGiven(&r->slots[SLOT_ENTRY_SETUP]);
}

/* The EntrySetup's signal is 0 for the value v. */
static bool CertainlyZero(double v)
{
    return std::isfinite(v) && FormulaIntValue(v) == 0;
}

/* The arrays of strategy s's filter, rows rowCount dates of the list from
** firstRow on; false when memory ran out. */
static bool AllocFilter(SetupFilter *filter, int32_t s, const DateList *list, int32_t firstRow, int32_t rowCount)
{
    filter->firstRow = firstRow;
    filter->rowCount = rowCount;
    filter->listCount = list->count;
    filter->words = (gStore.symbolCount + 63) / 64;
    filter->symbolCount = gStore.symbolCount;
    uint64_t words = (uint64_t)filter->rowCount * (uint64_t)filter->words;
    if (!AllocMemory(&filter->bits, words * sizeof(uint64_t)) || !AllocMemory(&filter->known, words * sizeof(uint64_t)) ||
        !AllocMemory(&filter->wordStart, words * sizeof(int32_t)))
        return false;
    /* Setups of an open-phase strategy are judged on the bar before the
    ** one they are made on, those at the close on that bar itself. */
    filter->phase = SetupPhase(&gStrategies[s]);
    return true;
}

/* The build counts the bits of its rows with the processor's own
** instruction where it has one: x86-64's baseline, which both builds
** target, lacks it, and the compiler's routine that stands in for it is a
** call per word.  The loops that count are built both ways (always inlined
** into a wrapper for each), and the processor picks one once. */
#if defined(__x86_64__) || defined(__i386__)
#define BIT_COUNT_TARGET __attribute__((target("popcnt")))
static bool ProcessorCountsBits()
{
    static const bool counts = (__builtin_cpu_init(), __builtin_cpu_supports("popcnt") != 0);
    return counts;
}
#else
#define BIT_COUNT_TARGET
static bool ProcessorCountsBits()
{
    return false;
}
#endif
#define ALWAYS_INLINED __attribute__((always_inline))

static bool CountBitsByInstruction()
{
    return !gSetupFilterPlainBitCount && ProcessorCountsBits();
}

/* A symbol's daily bars dated from the filter's first row's date to its
** last's, first .. end - 1, and the judgedCount bars from judged on that
** those dates judge their setups on (none before the first bar). */
struct RowBars {
    int32_t first, end, shift, judged, judgedCount;
};

static RowBars BarsOnRows(const Bar *bars, int32_t count, const DateList *list, const SetupFilter *filter)
{
    int32_t firstDate = (int32_t)list->dates[filter->firstRow];
    int32_t lastDate = (int32_t)list->dates[filter->firstRow + filter->rowCount - 1];
    const Bar *first = std::lower_bound(bars, bars + count, firstDate, [](const Bar &b, int32_t d) { return b.date < d; });
    const Bar *end = std::upper_bound(first, bars + count, lastDate, [](int32_t d, const Bar &b) { return d < b.date; });
    RowBars span;
    span.first = (int32_t)(first - bars);
    span.end = (int32_t)(end - bars);
    span.shift = filter->phase == PHASE_OPEN ? 1 : 0;
    span.judged = std::max(span.first - span.shift, 0);
    span.judgedCount = std::max(span.end - span.shift - span.judged, 0);
    return span;
}

/* The rows of the bars of span: calls found(j, row) for each bar j dated on
** a row of the filter, row counted from its first. */
template <typename Found>
static inline ALWAYS_INLINED void ForEachBarRow(const Bar *bars, const RowBars &span, const DateList *list,
                                                const SetupFilter *filter, Found found)
{
    const uint32_t *dates = list->dates + filter->firstRow;
    int32_t row = 0;
    for (int32_t j = span.first; j < span.end; j++) {
        while (row < filter->rowCount && (int32_t)dates[row] < bars[j].date) row++;
        if (row >= filter->rowCount) break;
        if ((int32_t)dates[row] == bars[j].date) found(j, row);
    }
}

/* The first pass: the bits of symbol k in strategy s's filter, and whether
** the symbol has ever traded.  The context is the worker's own, on its
** worker slot; values is its scratch. */
static void FillSymbolBits(SetupFilter *filter, int32_t s, int32_t k, EvalContext *context, std::vector<double> &values,
                           const DateList *list)
{
    StrategyRecord *r = &gStrategies[s];
    SymbolRecord *symbol = &gStore.symbols[k];
    int32_t count = symbol->barCounts[BAR_DAILY];
    const Bar *bars = symbol->bars[BAR_DAILY];
    if (count <= 0 || !bars) return;
    context->strategy = r;
    context->strategyIndex = s;
    context->symbol = symbol;
    context->callingSymbol = symbol;
    /* A plan works out each bar from the bars at fixed offsets from it and
    ** from Data items the calculation has done over the whole history, never
    ** from a value it worked out on an earlier bar: the bars the rows judge,
    ** worked out alone, have the values a run over every bar gives them,
    ** with nothing to warm up. */
    RowBars span = BarsOnRows(bars, count, list, filter);
    int32_t judgedCount = span.judgedCount;
    values.resize((size_t)judgedCount);
    FormulaNode *nodes = r->slots[SLOT_ENTRY_SETUP].nodes[context->slot];
    /* A continuous futures contract is visited on every bar: the visit marks
    ** its strategy as one that trades futures. */
    bool futures = IsContinuousFutures(symbol);
    bool planned = !futures && judgedCount > 0 && EvalFormulaPlanned(nodes, context, span.judged, judgedCount, values.data());
    if (!planned && !futures && judgedCount > 0) {
        /* One value for the symbol on every bar (a benchmark's choice of its
        ** symbol, say), found once on its last bar. */
        context->barIndex = context->lastBar = count - 1;
        context->date = bars[count - 1].date;
        double v;
        if (EvalFormulaPerSymbol(nodes, context, &v)) {
            std::fill(values.begin(), values.end(), v);
            planned = true;
        }
    }
    uint64_t *column = filter->bits + k / 64, *knownColumn = filter->known + k / 64;
    uint64_t mask = uint64_t(1) << (k % 64);
    ForEachBarRow(bars, span, list, filter, [&](int32_t j, int32_t row) {
        int32_t judged = j - span.shift;
        double v = planned && judged >= 0 ? values[(size_t)(judged - span.judged)] : NAN;
        if (CertainlyZero(v)) return;
        column[(int64_t)row * filter->words] |= mask;
        if (std::isfinite(v)) knownColumn[(int64_t)row * filter->words] |= mask;
    });
    for (int32_t j = 0; j < count && !gSetupFilter.traded[k]; j++)
        if (bars[j].volume > 0) gSetupFilter.traded[k] = 1;
}

/* The second pass, once every bit is set and counted: the bar index, and the
** SetupScore its plan gives, of each set bit of symbol k. */
static inline ALWAYS_INLINED void FillSymbolBars(SetupFilter *filter, int32_t s, int32_t k, EvalContext *context,
                                                 std::vector<double> &values, const DateList *list)
{
    SymbolRecord *symbol = &gStore.symbols[k];
    int32_t count = symbol->barCounts[BAR_DAILY];
    const Bar *bars = symbol->bars[BAR_DAILY];
    if (count <= 0 || !bars) return;
    /* Worked out on the judged bars alone, as the bits were. */
    RowBars span = BarsOnRows(bars, count, list, filter);
    int32_t judgedCount = span.judgedCount;
    bool scored = false;
    if (filter->scores && judgedCount > 0) {
        context->strategy = &gStrategies[s];
        context->strategyIndex = s;
        context->symbol = symbol;
        context->callingSymbol = symbol;
        values.resize((size_t)judgedCount);
        scored = EvalFormulaPlanned(gStrategies[s].slots[SLOT_SETUP_SCORE].nodes[context->slot], context, span.judged,
                                    judgedCount, values.data());
    }
    int32_t w = k / 64;
    uint64_t below = (uint64_t(1) << (k % 64)) - 1, mask = uint64_t(1) << (k % 64);
    ForEachBarRow(bars, span, list, filter, [&](int32_t j, int32_t row) ALWAYS_INLINED {
        int64_t at = (int64_t)row * filter->words + w;
        uint64_t word = filter->bits[at];
        if (!(word & mask)) return;
        int32_t place = filter->wordStart[at] + __builtin_popcountll(word & below);
        filter->barIndex[place] = j;
        int32_t judged = j - span.shift;
        if (filter->scores) filter->scores[place] = scored && judged >= 0 ? values[(size_t)(judged - span.judged)] : NAN;
    });
}

BIT_COUNT_TARGET static void FillSymbolBarsCounted(SetupFilter *filter, int32_t s, int32_t k, EvalContext *context,
                                                   std::vector<double> &values, const DateList *list)
{
    FillSymbolBars(filter, s, k, context, values, list);
}

/* Each word's place among the set bits of the words before it; the total. */
static inline ALWAYS_INLINED int64_t CountWordStarts(const uint64_t *bits, int32_t *wordStart, int64_t words)
{
    int64_t total = 0;
    for (int64_t at = 0; at < words; at++) {
        wordStart[at] = (int32_t)total;
        total += __builtin_popcountll(bits[at]);
    }
    return total;
}

BIT_COUNT_TARGET static int64_t CountWordStartsCounted(const uint64_t *bits, int32_t *wordStart, int64_t words)
{
    return CountWordStarts(bits, wordStart, words);
}

typedef void (*FillSymbol)(SetupFilter *, int32_t, int32_t, EvalContext *, std::vector<double> &, const DateList *);

/* One worker of the build: blocks of 64 symbols, which share their words of
** the bit rows, go to whichever worker asks next, so no word is written by
** two workers. */
static void FillFiltersThread(FillSymbol fill, const EvalContext *loop, int32_t slot, std::atomic<int32_t> *nextBlock,
                              const DateList *list)
{
    EvalContext context = *loop;
    context.slot = slot;
    context.barSize = BAR_DAILY;
    context.barPhase = PHASE_CLOSE;
    context.position = nullptr;
    context.trialBar = nullptr;
    std::vector<double> values;
    int32_t blocks = (gStore.symbolCount + 63) / 64;
    for (int32_t b = nextBlock->fetch_add(1); b < blocks; b = nextBlock->fetch_add(1)) {
        for (int32_t s = 0; s < gSetupFilter.count; s++) {
            SetupFilter *filter = &gSetupFilter.filters[s];
            if (!filter->bits) continue;
            for (int32_t k = b * 64; k < gStore.symbolCount && k < b * 64 + 64; k++)
                fill(filter, s, k, &context, values, list);
        }
    }
}

struct FillTask {
    FillSymbol fill;
    const EvalContext *context;
    int32_t slot;
    std::atomic<int32_t> *nextBlock;
    const DateList *list;
};

static void RunFillTask(void *arg)
{
    const FillTask *t = (const FillTask *)arg;
    FillFiltersThread(t->fill, t->context, t->slot, t->nextBlock, t->list);
}

/* One pass of the build over every symbol.  What it writes is the same
** whichever worker writes it; the calculation's workers share out the
** symbols, the user-interface thread taking part and waiting for this short
** step. */
static void FillFilters(FillSymbol fill, const EvalContext *context, const DateList *list)
{
    std::atomic<int32_t> nextBlock{0};
    int32_t blocks = (gStore.symbolCount + 63) / 64;
    int32_t workers = std::min(ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount()), blocks);
    FillTask tasks[FORMULA_WORKER_COPIES];
    WorkerBatch batch;
    for (int32_t w = 1; w < workers && w < FORMULA_WORKER_COPIES; w++) {
        tasks[w] = FillTask{fill, context, w, &nextBlock, list};
        /* Without a thread, the ones running and this one share out the rest. */
        if (!StartPoolTask(&batch, RunFillTask, &tasks[w])) break;
    }
    FillFiltersThread(fill, context, 0, &nextBlock, list);
    WaitPoolTasks(&batch);
}

int BuildSetupFilters(const EvalContext *context, int32_t firstDate, int32_t lastDate)
{
    FreeSetupFilters();
    const DateList *list = &gStore.dateLists[BAR_DAILY];
    if (gSetupFilterOff || gStrategyCount <= 0 || gStore.symbolCount <= 0 || !list->dates || list->count <= 0 ||
        gSettings.OptBySymbol || gRun.generatingOrders || gRun.mode == RUN_MODE_ORDERS || gDebugEvalOn)
        return 1;
    int32_t firstRow = FindDateIndex(list, firstDate, 1), lastRow = FindDateIndex(list, lastDate, -1);
    if (firstRow < 0 || lastRow < firstRow) return 1;
    int32_t rowCount = lastRow - firstRow + 1;
    int32_t filtered = 0;
    for (int32_t s = 0; s < gStrategyCount; s++) filtered += CanFilter(&gStrategies[s]);
    uint64_t rowWords = (uint64_t)rowCount * (uint64_t)((gStore.symbolCount + 63) / 64);
    uint64_t perSymbol = sizeof(int32_t) + sizeof(SetupVisit) + 1;
    /* The filter is worth building only while memory allows, as the data
    ** calculation keeps its blocks below the MaxMemPct setting. */
    if (filtered == 0 ||
        MemoryLimitReached(filtered * rowWords * (2 * sizeof(uint64_t) + sizeof(int32_t)) + gStore.symbolCount * perSymbol))
        return 1;
    if (!AllocMemory(&gSetupFilter.filters, (uint64_t)gStrategyCount * sizeof(SetupFilter)) ||
        !AllocMemory(&gSetupFilter.traded, (uint64_t)gStore.symbolCount))
        return 0;
    gSetupFilter.count = gStrategyCount;
    for (int32_t s = 0; s < gStrategyCount; s++)
        if (CanFilter(&gStrategies[s]) && !AllocFilter(&gSetupFilter.filters[s], s, list, firstRow, rowCount))
            return 0;
    FillFilters(FillSymbolBits, context, list);
    /* The bar indexes of the set bits, in row order: counted, then written by
    ** the workers as the bits were. */
    for (int32_t s = 0; s < gSetupFilter.count; s++) {
        SetupFilter *filter = &gSetupFilter.filters[s];
        if (!filter->bits) continue;
        int64_t words = (int64_t)filter->rowCount * filter->words;
        int64_t total = CountBitsByInstruction() ? CountWordStartsCounted(filter->bits, filter->wordStart, words)
                                                 : CountWordStarts(filter->bits, filter->wordStart, words);
        /* A score the walk gives by its plan alone is worked out here too. */
        bool scores = IsSlotGiven(&gStrategies[s].slots[SLOT_SETUP_SCORE]);
        uint64_t bytes = (uint64_t)(total + 1) * (sizeof(int32_t) + (scores ? sizeof(double) : 0));
        if (total > INT32_MAX || MemoryLimitReached(bytes)) {
            FreeSetupFilters();
            return 1;
        }
        if (!AllocMemory(&filter->barIndex, (uint64_t)(total + 1) * sizeof(int32_t)) ||
            (scores && !AllocMemory(&filter->scores, (uint64_t)(total + 1) * sizeof(double))))
            return 0;
    }
    FillFilters(CountBitsByInstruction() ? FillSymbolBarsCounted : FillSymbolBars, context, list);
    if (!AllocMemory(&gSetupFilter.pending, (uint64_t)gStore.symbolCount * sizeof(int32_t)) ||
        !AllocMemory(&gSetupFilter.visits, (uint64_t)gStore.symbolCount * sizeof(SetupVisit)))
        return 0;
    /* A symbol without a traded bar is never given a first used date by a
    ** lookup, so only the others wait for theirs. */
    int32_t n = 0;
    for (int32_t k = 0; k < gStore.symbolCount; k++)
        if (gSetupFilter.traded[k]) gSetupFilter.pending[n++] = k;
    std::stable_sort(gSetupFilter.pending, gSetupFilter.pending + n,
                     [](int32_t a, int32_t b) { return gStore.symbols[a].firstDate < gStore.symbols[b].firstDate; });
    gSetupFilter.pendingCount = n;
    return 1;
}

bool GetSetupFilterRow(int32_t s, const EvalContext *context, SetupFilterRow *out)
{
    if (s < 0 || s >= gSetupFilter.count) return false;
    const SetupFilter *filter = &gSetupFilter.filters[s];
    const DateList *list = &gStore.dateLists[BAR_DAILY];
    if (!filter->bits || !filter->barIndex || filter->symbolCount != gStore.symbolCount ||
        filter->listCount != list->count || context->barSize != BAR_DAILY || context->barPhase != filter->phase ||
        context->trialBar || gRun.generatingOrders || gDebugEvalOn)
        return false;
    int32_t row = FindDateIndex(list, context->date, 0);
    if (row < filter->firstRow || row >= filter->firstRow + filter->rowCount) return false;
    row -= filter->firstRow;
    int64_t at = (int64_t)row * filter->words;
    out->bits = filter->bits + at;
    out->known = filter->known + at;
    out->wordStart = filter->wordStart + at;
    out->barIndex = filter->barIndex;
    out->scores = filter->scores;
    out->words = filter->words;
    return true;
}

void LowerFirstUsedDates(const EvalContext *context)
{
    SetupFilterState &g = gSetupFilter;
    int32_t date = context->date;
    while (g.activeCount < g.pendingCount && gStore.symbols[g.pending[g.activeCount]].firstDate <= date) g.activeCount++;
    /* A symbol whose first used date is a bar on or before the date keeps it:
    ** every later lookup lands on that bar or a later one.  One past its last
    ** bar is never looked up again. */
    int32_t kept = 0;
    for (int32_t i = 0; i < g.activeCount; i++) {
        SymbolRecord *symbol = &gStore.symbols[g.pending[i]];
        FindBarIndex(symbol, BAR_DAILY, date, context->barPhase, context->slot, nullptr);
        if (GetFirstUsedDate(symbol) <= date || date >= symbol->lastDate) continue;
        g.pending[kept++] = g.pending[i];
    }
    int32_t dropped = g.activeCount - kept;
    if (dropped > 0) {
        std::copy(g.pending + g.activeCount, g.pending + g.pendingCount, g.pending + kept);
        g.pendingCount -= dropped;
        g.activeCount = kept;
    }
}

bool KnownSetupApplies(const KnownSetupValues *known, const EvalContext *context)
{
    return known && context->symbol == known->symbol && context->lastBar == known->lastBar &&
        context->barSize == BAR_DAILY && !context->trialBar;
}
