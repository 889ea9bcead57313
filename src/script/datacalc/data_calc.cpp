/* data_calc.cpp -- the Data sections computed in advance, incrementally, on
** worker threads. */
#include "script/datacalc/data_calc.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/worker_pool.h"
#include "marketdata/store/data_load.h"
#include "platform/platform.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/keywords.h"
#include "script/compiler/settings_items.h"
#include "script/eval/block_plan.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "services/services.h"

int32_t gDataRecalcNeeded = 1;

enum {
    STOP_NOTICE_COLOUR = 255
};

static const char *const kBarSizeNames[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
static_assert(sizeof kBarSizeNames / sizeof *kBarSizeNames == BAR_SIZE_COUNT, "one name per bar size");

/* ==== calculation records ============================================================= */

/* What the calculation keeps of one Data or Library item, by its list index:
** the item as it was at the last successful calculation and this
** calculation's decision. */
struct ItemCalcRecord {
    FormulaSlot saved;     /* the compile of the last successful calculation */
    double savedParameter; /* its #PercentRankN parameter */
    int32_t savedValid;    /* saved holds a calculation's compile (0: never calculated) */
    int32_t savedOnePerDate;
    int32_t savedOnePerSymbol;
    int32_t savedSequence;
    int32_t savedBarSize; /* the bar size the values were computed at */
    int32_t state;        /* RecalcState */
    int32_t deciding;     /* set while its answer is being worked out (guards cycles) */
    int64_t valueCount;   /* values laid out over all symbols (Data items) */
    /* the values' data type (price, volume, ...), which a read needs to bring
    ** them into the terms of the bar reading them */
    uint32_t savedDataType;
};

/* What the calculation keeps from one calculation to the next; emptied by
** FreeDataCalcRecords. */
static struct {
    /* [0] Data items, [1] Library items; grown to the lists' capacities. */
    ItemCalcRecord *records[2];
    int32_t recordCount[2];
    /* The settings that change every value, as they were at the last calculation. */
    struct {
        int32_t valid;
        int32_t AutoOnePerX;
        int32_t UseShortCircuit;
        int32_t UseAvailableBars;
        int32_t ExtractOnePassItems;
    } snapshot;
} sCalc;

/* Workers tell the polling loop that they ended through this, so that a pass
** ends without waiting for the next poll. */
static std::mutex sWorkerMutex;
static std::condition_variable sWorkerEnded;

static FormulaItem *DataItemAt(int32_t index)
{
    return index >= 0 && index < gDataItems.count ? (FormulaItem *)gDataItems.items + index : nullptr;
}

static DefinitionList *RecordList(int library) { return library ? &gLibraryItems : &gDataItems; }

/* Grows the records to the capacity of both lists.  0 when memory fails. */
static int EnsureRecords()
{
    for (int library = 0; library < 2; library++) {
        int32_t need = RecordList(library)->capacity;
        if (need <= sCalc.recordCount[library]) continue;
        if (!ReallocMemory(&sCalc.records[library], (uint64_t)need * sizeof(ItemCalcRecord))) return 0;
        for (int32_t i = sCalc.recordCount[library]; i < need; i++) sCalc.records[library][i].savedSequence = -1;
        sCalc.recordCount[library] = need;
    }
    return 1;
}

/* The record of an item of the Data or Library list, or null. */
static ItemCalcRecord *RecordOf(const FormulaItem *item, int *library = nullptr, int32_t *index = nullptr)
{
    for (int l = 0; l < 2; l++) {
        const DefinitionList *list = RecordList(l);
        const FormulaItem *first = (const FormulaItem *)list->items;
        if (!first || item < first || item >= first + list->count) continue;
        int32_t i = (int32_t)(item - first);
        if (i >= sCalc.recordCount[l]) return nullptr;
        if (library) *library = l;
        if (index) *index = i;
        return &sCalc.records[l][i];
    }
    return nullptr;
}

static void ClearSavedCopy(ItemCalcRecord *record)
{
    ClearFormulaNodes(&record->saved);
    memset(record->saved.name, 0, sizeof record->saved.name);
    record->saved.breadthFunction = 0;
    record->saved.grouping = 0;
    record->saved.slowCalc = 0;
    record->saved.onePass = 0;
    record->saved.sharedSeries = 0;
    record->savedParameter = 0;
    record->savedValid = 0;
    record->savedOnePerDate = 0;
    record->savedOnePerSymbol = 0;
    record->savedSequence = -1;
    record->savedBarSize = -1;
    record->savedDataType = 0;
}

void FreeDataCalcRecords()
{
    for (int library = 0; library < 2; library++) {
        for (int32_t i = 0; i < sCalc.recordCount[library]; i++) FreeFormulaNodes(&sCalc.records[library][i].saved);
        FreeMemory(&sCalc.records[library]);
        sCalc.recordCount[library] = 0;
    }
    sCalc.snapshot.valid = 0;
    gDataRecalcNeeded = 1;
}

void SetDataRecalcNeeded() { gDataRecalcNeeded = 1; }

void DropCalculatedValues()
{
    for (int32_t s = 0; s <= gStore.symbolCount; s++) {
        SymbolRecord *symbol = s < gStore.symbolCount ? &gStore.symbols[s] : &gStore.calendar;
        for (int k = 0; k < 2; k++) {
            FreeMemory(&symbol->dataValues[k]);
            FreeMemory(&symbol->dataOffsets[k]);
        }
    }
    gDataRecalcNeeded = 1;
}

/* Unloading data frees the items that hold its values (data_load.h). */
[[maybe_unused]] static const bool kUnloadLinked = (gScriptDataLinks.freeDataItems = FreeDataItemLists, true);

int32_t GetItemRecalcState(int library, int32_t index)
{
    int l = library ? 1 : 0;
    return index >= 0 && index < sCalc.recordCount[l] ? sCalc.records[l][index].state : RECALC_UNDECIDED;
}

int64_t GetItemValueCount(int32_t index)
{
    return index >= 0 && index < sCalc.recordCount[0] ? sCalc.records[0][index].valueCount : 0;
}

void FreeDataItemLists()
{
    for (DefinitionList *list : {&gDataItems, &gTestDataItems}) {
        FormulaItem *items = (FormulaItem *)list->items;
        for (int32_t i = 0; items && i < list->capacity; i++) FreeFormulaNodes(&items[i].formula);
        FreeDefinitionList(list);
    }
    gParameters.count = 0;
    gWalkForwardDates.count = 0;
    for (int32_t i = 0; i < sCalc.recordCount[0]; i++) ClearSavedCopy(&sCalc.records[0][i]);
    gDataRecalcNeeded = 1;
}

/* ==== what needs recalculation ======================================================== */

/* The bar size an item's values are computed at: its own, else the run's. */
static int32_t ItemBarSize(const FormulaItem *item)
{
    if (item->barSize >= 0 && item->barSize < BAR_SIZE_COUNT) return item->barSize;
    int32_t run = gSettings.BarSize2;
    return run >= 0 && run < BAR_SIZE_COUNT ? run : BAR_DAILY;
}

/* A shared series (one shareable call by itself, an item generated by
** sharing, or a plug-in call) is computed in one evaluation per symbol; its
** one-pass cumulative mark becomes the evaluation's one-pass option. */
static int ItemOnePass(const FormulaItem *item) { return item->formula.sharedSeries ? 1 : 0; }

static int HasFormula(const FormulaSlot *slot)
{
    return slot->count > 0 && slot->nodes[0] && slot->nodes[0][0].item != ITEM_END;
}

static std::atomic_ref<uint32_t> ItemDataType(FormulaItem *item)
{
    return std::atomic_ref<uint32_t>(item->formula.resultFormat);
}

/* Works out whether item (with its record) changed since its values were
** computed; see ItemNeedsRecalc. */
static int ItemChanged(FormulaItem *item, ItemCalcRecord *record, EvalContext *context)
{
    const FormulaSlot *now = &item->formula;
    const FormulaSlot *was = &record->saved;
    if (record->savedValid) {
        if (item->barSize >= 0 && ItemBarSize(item) != record->savedBarSize) return 1;
        if (item->sequence >= 0 && item->sequence != record->savedSequence) return 1;
    }
    if (strcmp(now->name, was->name) != 0) return 1;
    int hasNow = HasFormula(now), hadBefore = record->savedValid && HasFormula(was);
    if (!hasNow) return hadBefore;
    if (!hadBefore || now->count != was->count) return 1;
    if (now->breadthFunction != was->breadthFunction || now->grouping != was->grouping ||
        now->onePass != was->onePass || now->sharedSeries != was->sharedSeries || now->slowCalc != was->slowCalc)
        return 1;
    if (std::isnan(now->percentRankN) || std::isnan(record->savedParameter) ||
        CompareDouble(now->percentRankN, record->savedParameter) != 0)
        return 1;

    EvalContext scratch{};
    scratch.walkForwardInterval = -1;
    scratch.strategyIndex = -1;
    scratch.resultRow = -1;
    EvalContext *ctx = context ? context : &scratch;
    FormulaNode *a = now->nodes[0];
    const FormulaNode *b = was->nodes[0];
    for (int32_t k = 0; k < now->capacity && k < was->capacity; k++) {
        if (a[k].item == ITEM_END || b[k].item == ITEM_END) return a[k].item != b[k].item;
        if (a[k].item != b[k].item || a[k].index != b[k].index || a[k].argCount != b[k].argCount ||
            a[k].unary != b[k].unary)
            return 1;
        switch (a[k].item) {
        case ITEM_TEXT:
        case ITEM_STRATEGY_REF:
        case ITEM_SYMBOL_REF:
            if (CompareNoCase(a[k].text, b[k].text) != 0) return 1;
            break;
        case ITEM_PARAMETER:
            /* The parameter's value now is what its values were computed with. */
            if (!GetNamedValue(&a[k], ctx)) return 1;
            if (CompareDouble(a[k].constant, b[k].constant) != 0) return 1;
            break;
        case ITEM_LIBRARY_REF:
        case ITEM_LIBRARY_CALL:
        case ITEM_DATA_REF: {
            uint32_t section = a[k].item == ITEM_DATA_REF ? SECTION_DATA : SECTION_LIBRARY;
            FormulaItem *referenced = DefinitionItem(section, a[k].index);
            if (referenced && referenced != item && ItemNeedsRecalc(referenced, context)) return 1;
            break;
        }
        case ITEM_RANDOM:
        case ITEM_ITEM:
            return 1;
        default:
            /* Compare what the compile put in the node, not what the last
            ** evaluation left in it: the node's literal, and its value only
            ** where the compiler folded a constant into it. */
            if (CompareDouble(a[k].constant, b[k].constant) != 0) return 1;
            if (a[k].constantFlag && CompareDouble(a[k].value, b[k].value) != 0) return 1;
            break;
        }
    }
    return 0;
}

int ItemNeedsRecalc(FormulaItem *item, EvalContext *context)
{
    ItemCalcRecord *record = RecordOf(item);
    if (!record) return 1;
    if (record->state == RECALC_UNCHANGED) return 0;
    if (record->state == RECALC_NEEDED) return 1;
    /* An item met again while its own answer is being worked out (references
    ** that lead back to it) adds nothing to that answer. */
    if (record->deciding) return 0;
    record->deciding = 1;
    int changed = ItemChanged(item, record, context);
    record->deciding = 0;
    record->state = changed ? RECALC_NEEDED : RECALC_UNCHANGED;
    return changed;
}

int CountItemsToRecalc(EvalContext *context)
{
    if (!EnsureRecords()) {
        /* Without records nothing can be compared: everything is computed. */
        gDataRecalcNeeded = 1;
        return gDataItems.count;
    }
    FormulaItem *items = (FormulaItem *)gDataItems.items;
    int forced = gDataRecalcNeeded || !sCalc.snapshot.valid || sCalc.snapshot.AutoOnePerX != gSettings.AutoOnePerX ||
        sCalc.snapshot.UseShortCircuit != gSettings.UseShortCircuit ||
        sCalc.snapshot.UseAvailableBars != gUseAvailableBars;
    for (int32_t i = 0; !forced && i < gDataItems.count; i++) {
        const ItemCalcRecord *record = &sCalc.records[0][i];
        if (record->savedValid &&
            (ItemBarSize(&items[i]) != record->savedBarSize || items[i].onePerDate != record->savedOnePerDate ||
             items[i].onePerSymbol != record->savedOnePerSymbol))
            forced = 1;
    }
    if (forced) gDataRecalcNeeded = 1;
    sCalc.snapshot.valid = 1;
    sCalc.snapshot.AutoOnePerX = gSettings.AutoOnePerX;
    sCalc.snapshot.UseShortCircuit = gSettings.UseShortCircuit;
    sCalc.snapshot.UseAvailableBars = gUseAvailableBars;
    sCalc.snapshot.ExtractOnePassItems = gSettings.ExtractOnePassItems;

    for (int library = 0; library < 2; library++)
        for (int32_t i = 0; i < RecordList(library)->count; i++) {
            sCalc.records[library][i].state = forced ? RECALC_NEEDED : RECALC_UNDECIDED;
            sCalc.records[library][i].deciding = 0;
            if (!library) sCalc.records[library][i].valueCount = 0;
        }
    if (forced || gDataItems.count == 0) return forced ? gDataItems.count : 0;
    int n = 0;
    for (int32_t i = 0; i < gDataItems.count; i++) n += ItemNeedsRecalc(&items[i], context);
    /* An item whose values are kept is compiled afresh all the same, without
    ** the data type its calculation found; without it, a value read at an
    ** offset or from a longer bar would stay in the terms of the bar it was
    ** computed on across a split. */
    for (int32_t i = 0; i < gDataItems.count; i++)
        if (sCalc.records[0][i].state == RECALC_UNCHANGED)
            ItemDataType(&items[i]).store(sCalc.records[0][i].savedDataType, std::memory_order_relaxed);
    return n;
}

/* ==== one item for one symbol ============================================================ */

/* Lookup hints are atomic in place: slot 0 is also used by lookups that have
** no slot of their own, on any thread. */
static void SetBarHint(SymbolRecord *symbol, int32_t slot, int32_t bar)
{
    std::atomic_ref<int32_t>(symbol->barHints[slot]).store(bar, std::memory_order_relaxed);
}

/* The values an item takes in a symbol's block (see the layout rule). */
static int64_t ItemValueCount(const FormulaItem *item, const SymbolRecord *symbol)
{
    int calendar = symbol == &gStore.calendar;
    if (item->onePerDate && !calendar) return 0;
    if (item->onePerSymbol) return 1;
    int32_t bars = 0;
    GetBarArray(symbol, ItemBarSize(item), &bars);
    return bars;
}

void CalcItemForSymbol(EvalContext *context, FormulaNode *nodes, int itemIndex, int onePass)
{
    FormulaItem *item = DataItemAt(itemIndex);
    SymbolRecord *symbol = context->symbol;
    if (!item || !symbol || !symbol->dataValues[0] || !symbol->dataOffsets[0]) return;
    double *range = symbol->dataValues[0] + symbol->dataOffsets[0][itemIndex];
    int32_t count = 0;
    const Bar *bars = GetBarArray(symbol, context->barSize, &count);
    int32_t slot = context->slot >= 0 && context->slot < WORKER_SLOTS ? context->slot : 0;
    int64_t values = ItemValueCount(item, symbol);
    for (int64_t i = 0; i < values; i++) range[i] = NAN;
    context->itemName = item->formula.name;
    if (!bars || count <= 0) return;

    /* The one-pass output is one value per bar; a range of one value (a
    ** one-per-symbol item) cannot take it, so such an item is computed at its
    ** first bar like any other. */
    if (onePass && values >= count) {
        SetBarHint(symbol, slot, count - 1);
        context->barIndex = count - 1;
        context->lastBar = count - 1;
        context->date = bars[count - 1].date;
        context->onePassWindow = range;
        context->onePassOption = (int32_t)item->formula.onePass;
        context->dataItemIndex = itemIndex;
        context->libraryDepth = 0;
        EvalFormula(nodes, context);
        context->onePassWindow = nullptr;
        context->dataItemIndex = -1;
        /* The calendar's zero prices may have left the type unknown (0 / 2
        ** decides without its divisor): the symbols' walk has it. */
        uint32_t expected = 0;
        if (nodes[0].dataType != 0)
            ItemDataType(item).compare_exchange_strong(expected, nodes[0].dataType, std::memory_order_relaxed);
        return;
    }

    std::atomic_ref<uint32_t> dataType = ItemDataType(item);
    int typeKnown = dataType.load(std::memory_order_relaxed) != 0;
    int32_t last = item->onePerSymbol ? 1 : (int32_t)std::min<int64_t>(count, values);
    SetBarHint(symbol, slot, 0);
    context->onePassWindow = nullptr;
    context->onePassOption = 0;
    context->dataItemIndex = -1;
    /* Runs of bars go through the evaluator's block path; their data types
    ** are asked for only until the item's type is known. */
    enum { TYPE_RUN = 256 };
    uint32_t types[TYPE_RUN];
    for (int32_t run = 0; run < last; run += TYPE_RUN) {
        int32_t n = std::min<int32_t>(TYPE_RUN, last - run);
        EvalFormulaBars(nodes, context, run, n, range + run, typeKnown ? nullptr : types);
        for (int32_t k = 0; k < n && !typeKnown; k++) {
            if (std::isnan(range[run + k]) || types[k] == 0) continue;
            /* Workers of other symbols may find the type at the same moment;
            ** the first one found stays. */
            uint32_t expected = 0;
            dataType.compare_exchange_strong(expected, types[k], std::memory_order_relaxed);
            typeKnown = 1;
        }
    }
}

/* ==== workers ================================================================================ */

static void InitWorkerEvalContext(EvalContext *ctx, const CalcWorkerContext *worker)
{
    *ctx = EvalContext{};
    ctx->barPhase = PHASE_CLOSE;
    ctx->slot = worker->worker;
    ctx->barSize = worker->barSize;
    ctx->itemName = worker->itemName;
    ctx->walkForwardInterval = worker->walkForwardInterval;
    ctx->outOfSample = worker->outOfSample;
    ctx->strategyIndex = -1;
    ctx->resultRow = -1;
    ctx->funBar = -1;
    ctx->dataItemIndex = -1;
    ctx->priceScale = 1.0;
}

/* Each worker draws from its own random slot, seeded from the calculation's
** seed and its index, so a seeded script repeats its numbers run after run.
** The program's current seed itself is left alone: workers writing it at once
** would leave it to whichever finished last. */
static void SeedWorkerRandom(const CalcWorkerContext *worker)
{
    SelectRandomSlot(worker->worker);
    if (worker->seedBase == 0) return;
    uint32_t seed = worker->seedBase + 1u + (uint32_t)worker->worker;
    if (seed != 0) SeedRandomGenerator(seed);
}

static int StopSet(CalcWorkerContext *worker)
{
    return std::atomic_ref<int32_t>(worker->stop).load(std::memory_order_acquire) != 0;
}

/* The worker's last act: everything it wrote is published with the flag. */
static void EndWorker(CalcWorkerContext *worker)
{
    {
        std::lock_guard<std::mutex> lock(sWorkerMutex);
        std::atomic_ref<int32_t>(worker->running).store(0, std::memory_order_release);
    }
    sWorkerEnded.notify_all();
}

/* The next symbol of a per-symbol pass: the next one nobody has taken, or
** with no shared counter the worker's next in its interleaved share. */
static int32_t NextSymbol(CalcWorkerContext *worker, int32_t previous)
{
    if (worker->nextWork)
        return std::atomic_ref<int32_t>(*worker->nextWork).fetch_add(1, std::memory_order_relaxed);
    if (previous < 0) return worker->worker;
    return previous + (worker->workerCount > 0 ? worker->workerCount : 1);
}

int CalcPerSymbolThread(CalcWorkerContext *worker)
{
    EvalContext ctx;
    InitWorkerEvalContext(&ctx, worker);
    SeedWorkerRandom(worker);
    std::atomic_ref<int32_t> current(worker->current);
    for (int32_t i = NextSymbol(worker, -1); i < gStore.symbolCount && !StopSet(worker); i = NextSymbol(worker, i)) {
        current.store(i, std::memory_order_relaxed);
        ctx.symbol = &gStore.symbols[i];
        ctx.callingSymbol = ctx.symbol;
        CalcItemForSymbol(&ctx, worker->nodes, worker->itemIndex, worker->onePass);
    }
    EndWorker(worker);
    return 0;
}

int CalcPerDateThread(CalcWorkerContext *worker)
{
    SeedWorkerRandom(worker);
    if (BuildGroupKeys(worker)) {
        const DateList *list = &gStore.dateLists[worker->barSize];
        int32_t stride = worker->workerCount > 0 ? worker->workerCount : 1;
        std::atomic_ref<int32_t> current(worker->current);
        for (int32_t j = worker->worker; list->dates && j < list->count && !StopSet(worker); j += stride) {
            current.store(j, std::memory_order_relaxed);
            int32_t date = (int32_t)list->dates[j];
            int ok = worker->grouping ? CalcGroupsForDate(date, worker) : CalcItemForDate(date, worker);
            if (!ok) break;
        }
    }
    FreeMemory(&worker->groupKeys);
    FreeMemory(&worker->values);
    EndWorker(worker);
    return 0;
}

static void RunPerSymbolTask(void *worker) { CalcPerSymbolThread((CalcWorkerContext *)worker); }
static void RunPerDateTask(void *worker) { CalcPerDateThread((CalcWorkerContext *)worker); }

/* The worker's place for its status part: the symbol or the date. */
static void FormatWorkerStatus(CalcWorkerContext *worker, int perDate)
{
    int32_t at = std::atomic_ref<int32_t>(worker->current).load(std::memory_order_relaxed);
    worker->status[0] = 0;
    if (at < 0) return;
    if (!perDate) {
        if (at < gStore.symbolCount) CopyString(worker->status, sizeof worker->status, gStore.symbols[at].info.Symbol, -1);
        return;
    }
    const DateList *list = &gStore.dateLists[worker->barSize];
    if (at >= list->count) return;
    char text[DATE_TEXT_SIZE];
    FormatDate((int)list->dates[at], gSettings.DateDisplayFormat, text);
    CopyString(worker->status, sizeof worker->status, text, -1);
}

/* The calendar pseudo-symbol's share of a per-symbol pass, on the calling
** thread before any worker starts; it also finds the item's data type. */
static void CalcCalendarFirst(FormulaItem *item, int itemIndex, const CalcRun *run)
{
    EvalContext ctx{};
    int32_t daily = 0;
    const Bar *bars = GetBarArray(&gStore.calendar, BAR_DAILY, &daily);
    ctx.symbol = &gStore.calendar;
    ctx.callingSymbol = ctx.symbol;
    ctx.barIndex = daily - 1;
    ctx.lastBar = daily - 1;
    ctx.date = bars && daily > 0 ? bars[daily - 1].date : 0;
    ctx.barPhase = PHASE_CLOSE;
    ctx.barSize = BAR_DAILY;
    ctx.slot = 0;
    ctx.itemName = item->formula.name;
    ctx.strategyIndex = -1;
    ctx.resultRow = -1;
    ctx.funBar = -1;
    ctx.dataItemIndex = -1;
    ctx.priceScale = 1.0;
    SetBarHint(&gStore.calendar, 0, daily > 0 ? daily - 1 : 0);
    /* The calendar's draws, the type's evaluation included, come from worker
    ** 0's slot, free until worker 0 starts and seeds it afresh: the calling
    ** thread's own sequence (the one the optimizer draws its combinations
    ** from) must not move or restart at every calculation. */
    int callerSlot = CurrentRandomSlot();
    SelectRandomSlot(0);
    FormulaNode *nodes = item->formula.nodes[0];
    ItemDataType(item).store(0, std::memory_order_relaxed);
    if (nodes && daily > 0) {
        EvalFormula(nodes, &ctx);
        ItemDataType(item).store(nodes[0].dataType, std::memory_order_relaxed);
    }
    ctx.barSize = ItemBarSize(item);
    ctx.walkForwardInterval = run->walkForwardInterval;
    ctx.outOfSample = run->outOfSample;
    if (run->seedBase != 0) {
        uint32_t seed = run->seedBase + 33u + (uint32_t)itemIndex;
        if (seed != 0) SeedRandomGenerator(seed);
    }
    CalcItemForSymbol(&ctx, nodes, itemIndex, ItemOnePass(item));
    SelectRandomSlot(callerSlot);
}

int RunCalcThreads(FormulaItem *item, int itemIndex, int perDate, const CalcRun *run)
{
    const int parts = gSettings.StatusBarFields;
    if (run->showProgress) {
        SetStatusText(1, "(%d) %s:", itemIndex + 1, item->formula.name);
        for (int p = 2; p <= parts + 1; p++) SetStatusText(p, nullptr);
    }
    int32_t work;
    if (!perDate) {
        CalcCalendarFirst(item, itemIndex, run);
        if (item->onePerDate) return 0;
        work = gStore.symbolCount;
    } else {
        work = gStore.dateLists[ItemBarSize(item)].count;
    }
    int32_t n = std::min(std::clamp(run->maxWorkers, 1, (int32_t)CALC_MAX_WORKERS), work);
    if (n <= 0) return 0;

    CalcWorkerContext workers[CALC_MAX_WORKERS];
    WorkerBatch batch;
    memset((void *)workers, 0, sizeof workers);
    /* Every symbol's values are the same whichever worker computes them, so
    ** symbols go to whichever worker is free: a worker slowed down by
    ** anything (memory, the system) takes fewer, and the pass does not wait
    ** on it.  A seeded random sequence is the exception: each worker's
    ** numbers must meet the same symbols on every run. */
    struct alignas(64) {
        int32_t next;
    } shared{};
    int dynamic = !perDate && run->seedBase == 0;
    for (int32_t k = 0; k < n; k++) {
        CalcWorkerContext *w = &workers[k];
        w->nodes = item->formula.nodes[k];
        w->itemName = item->formula.name;
        w->function = (int32_t)item->formula.breadthFunction;
        w->grouping = (int32_t)item->formula.grouping;
        w->parameter = item->formula.percentRankN;
        w->onePass = ItemOnePass(item);
        w->barSize = ItemBarSize(item);
        w->itemIndex = itemIndex;
        w->worker = k;
        w->block = 0;
        w->running = 1;
        w->stop = 0;
        w->seedBase = run->seedBase;
        w->workerCount = n;
        w->walkForwardInterval = run->walkForwardInterval;
        w->outOfSample = run->outOfSample;
        w->current = -1;
        w->nextWork = dynamic ? &shared.next : nullptr;
        if (!StartPoolTask(&batch, perDate ? RunPerDateTask : RunPerSymbolTask, w)) {
            /* The workers already going are told to stop by the loop below. */
            w->running = 0;
            w->stop = 1;
            break;
        }
    }

    uint64_t lastRefresh = PlatTickCount64();
    int stopped = 0;
    for (;;) {
        PumpMessages();
        int running = 0;
        stopped = 0;
        for (int32_t k = 0; k < n; k++) {
            running += std::atomic_ref<int32_t>(workers[k].running).load(std::memory_order_acquire);
            stopped += std::atomic_ref<int32_t>(workers[k].stop).load(std::memory_order_acquire);
        }
        if (running == 0) break;
        if (gRun.lowMemory.load() || gRun.state.load() == RUN_STOP_REQUESTED || stopped > 0)
            for (int32_t k = 0; k < n; k++)
                std::atomic_ref<int32_t>(workers[k].stop).store(1, std::memory_order_release);
        uint64_t now = PlatTickCount64();
        if (run->showProgress && now - lastRefresh > CALC_REFRESH_MS) {
            lastRefresh = now;
            for (int32_t k = 0; k < n && k < parts; k++) {
                FormatWorkerStatus(&workers[k], perDate);
                SetStatusText(k + 2, "%s", workers[k].status);
            }
        }
        /* Waits for a worker to end, or until it is time to pump again. */
        std::unique_lock<std::mutex> lock(sWorkerMutex);
        sWorkerEnded.wait_for(lock, std::chrono::milliseconds(10), [&] {
            for (int32_t k = 0; k < n; k++)
                if (std::atomic_ref<int32_t>(workers[k].running).load(std::memory_order_acquire)) return false;
            return true;
        });
    }
    WaitPoolTasks(&batch);
    if (run->showProgress)
        for (int p = 2; p <= parts + 1; p++) SetStatusText(p, nullptr);
    return stopped;
}

/* ==== the whole calculation ==================================================================== */

/* Items in block order: ascending definition sequence, list order among equals. */
static void ItemOrder(std::vector<int32_t> *order)
{
    const FormulaItem *items = (const FormulaItem *)gDataItems.items;
    order->resize((size_t)gDataItems.count);
    for (int32_t i = 0; i < gDataItems.count; i++) (*order)[(size_t)i] = i;
    std::stable_sort(order->begin(), order->end(),
                     [&](int32_t a, int32_t b) { return items[a].sequence < items[b].sequence; });
}

/* Lays out one symbol's offsets and grows its block.  0 when memory fails or
** the block would outgrow its 32-bit offsets. */
static int LayOutSymbol(SymbolRecord *symbol, const std::vector<int32_t> &order)
{
    const FormulaItem *items = (const FormulaItem *)gDataItems.items;
    int32_t count = gDataItems.count;
    if (count == 0) return 1;
    uint64_t offsetBytes = (uint64_t)count * sizeof(int32_t);
    if (TrackedBlockSize(symbol->dataOffsets[0]) < offsetBytes &&
        !ReallocMemory(&symbol->dataOffsets[0], offsetBytes))
        return 0;
    int64_t total = 0;
    for (int32_t index : order) {
        int64_t values = ItemValueCount(&items[index], symbol);
        if (total + values > INT32_MAX) return 0;
        symbol->dataOffsets[0][index] = (int32_t)total;
        total += values;
        sCalc.records[0][index].valueCount += values;
    }
    uint64_t valueBytes = (uint64_t)total * sizeof(double);
    if (TrackedBlockSize(symbol->dataValues[0]) < valueBytes && !ReallocMemory(&symbol->dataValues[0], valueBytes))
        return 0;
    return 1;
}

static uint64_t ElapsedMs(uint64_t since) { return PlatTickCount64() - since; }

int CalcDataArraysForBarSize(EvalContext *context, int quiet)
{
    CalcRun run{};
    run.walkForwardInterval = context ? context->walkForwardInterval : -1;
    run.outOfSample = context ? context->outOfSample : 0;
    int logging = gSettings.LogDataCalcTimes && gRun.mode != RUN_MODE_OPTIMIZE;

    int n = CountItemsToRecalc(context);
    if (n == 0 && !(context == nullptr && logging)) return 1;
    if (!EnsureRecords()) return 0;

    std::vector<int32_t> order;
    ItemOrder(&order);
    for (int32_t s = 0; s <= gStore.symbolCount; s++) {
        SymbolRecord *symbol = s < gStore.symbolCount ? &gStore.symbols[s] : &gStore.calendar;
        if (!LayOutSymbol(symbol, order)) return 0;
        if (MemoryLimitReached(0)) return 0;
    }

    FormulaItem *items = (FormulaItem *)gDataItems.items;
    int64_t total = 0;
    int anyOnePass = 0;
    for (int32_t i = 0; i < gDataItems.count; i++)
        if (sCalc.records[0][i].state > 0) {
            total += sCalc.records[0][i].valueCount;
            if (ItemOnePass(&items[i])) anyOnePass = 1;
        }
    run.showProgress = gSettings.ShowStatusBar && total > CALC_PROGRESS_VALUES;
    char totalText[64];
    FormatDouble((double)total, 0, 0, totalText);
    run.seedBase = gRandomSeed.load(std::memory_order_relaxed);

    char savedStatus[257] = "";
    int replacedStatus = run.showProgress && !quiet;
    if (replacedStatus) {
        GetStatusText(0, savedStatus, sizeof savedStatus);
        SetStatusText(0, "Calculating %s Values in %d Data Arrays", totalText, n);
    }
    uint64_t started = PlatTickCount64();
    if (logging) {
        int32_t run = gSettings.BarSize2 >= 0 && gSettings.BarSize2 < BAR_SIZE_COUNT ? gSettings.BarSize2 : 0;
        LogPrintf("\nCalculating %s Values in %d Data Arrays", totalText, n);
        LogPrintf("BarSize: %s", kBarSizeNames[run]);
        LogPrintf("UseAvailbleBars: %s", gUseAvailableBars ? "True" : "False");
        LogPrintf("\nName\tBarSize\tDataType\t#OnePer\tValues\tTiming");
    }

    int ok = 1;
    double memoryMb = 0;
    /* The setting keeps the user's choice (0: every processor); the count is
    ** worked out here, on this machine. */
    run.maxWorkers = ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount());
    for (int32_t index : order) {
        FormulaItem *item = &items[index];
        ItemCalcRecord *record = &sCalc.records[0][index];
        uint64_t itemStarted = PlatTickCount64();
        if (record->state > 0) {
            /* A stop that came in after the last pass ended still ends the
            ** calculation before the next item. */
            if (gRun.state.load() == RUN_STOP_REQUESTED || gRun.lowMemory.load()) {
                ok = 0;
                break;
            }
            if (RunCalcThreads(item, index, 0, &run) != 0 ||
                (item->formula.breadthFunction && RunCalcThreads(item, index, 1, &run) != 0)) {
                ok = 0;
                break;
            }
        }
        if (logging) {
            char values[64];
            FormatDouble((double)record->valueCount, 0, 0, values);
            uint32_t type = ItemDataType(item).load(std::memory_order_relaxed);
            const char *onePer = item->onePerDate ? (item->onePerSymbol ? "Date+Sym" : "Date")
                                                  : (item->onePerSymbol ? "Sym" : "");
            const char *mark = record->state <= 0 ? " **" : (ItemOnePass(item) ? " *" : "");
            LogPrintf("%s\t%s\t%s\t%s\t%s\t%.3f sec%s", item->formula.name, kBarSizeNames[ItemBarSize(item)],
                      DataTypeName(type), onePer, values, ElapsedMs(itemStarted) / 1000.0, mark);
            memoryMb += (double)record->valueCount * 8.0 / 1048576.0;
        }
    }

    if (ok && logging) {
        if (anyOnePass) LogPrintf("\n* calculated in one pass");
        if (n < gDataItems.count) LogPrintf("\n** recalc not needed");
        LogPrintf("\nTotal Calculation Time: %.3f sec", ElapsedMs(started) / 1000.0);
        LogPrintf("\nData Section Memory: %.2fGB\n", memoryMb / 1024.0);
    }

    if (ok) {
        for (int library = 0; library < 2; library++) {
            DefinitionList *list = RecordList(library);
            FormulaItem *listItems = (FormulaItem *)list->items;
            for (int32_t i = 0; i < sCalc.recordCount[library]; i++) {
                ItemCalcRecord *record = &sCalc.records[library][i];
                if (i >= list->count) {
                    ClearSavedCopy(record);
                    continue;
                }
                if (record->state <= 0) continue;
                FormulaItem *item = &listItems[i];
                if (!CopyFormulaRecord(&item->formula, &record->saved)) {
                    /* Without its copy the item counts as never calculated. */
                    ClearSavedCopy(record);
                    record->state = RECALC_UNCHANGED;
                    continue;
                }
                record->savedParameter = item->formula.percentRankN;
                record->savedValid = 1;
                if (!library) {
                    record->savedBarSize = ItemBarSize(item);
                    record->savedSequence = item->sequence;
                    record->savedOnePerDate = item->onePerDate;
                    record->savedOnePerSymbol = item->onePerSymbol;
                    record->savedDataType = ItemDataType(item).load(std::memory_order_relaxed);
                }
                record->state = RECALC_UNCHANGED;
            }
        }
    }

    if (replacedStatus) SetStatusText(0, "%s", savedStatus);
    gDataRecalcNeeded = ok ? 0 : 1;
    return ok;
}

int CalculateData()
{
    int n = CountItemsToRecalc(nullptr);
    if (n < 1 && (!gSettings.LogDataCalcTimes || gRun.mode == RUN_MODE_OPTIMIZE)) return 1;

    EnterRunState(RUN_CALCULATING);
    int exchange = SettingsExchangeActive;
    SettingsExchangeActive = 1;
    EnableSettingsPanelControls(0);
    UpdateDebugPanelControls();
    SettingsExchangeActive = exchange;
    SetStatusText(gSettings.StatusBarFields, nullptr);
    SetStatusText(gSettings.StatusBarFields + 1, nullptr);
    PostFrameRefresh();
    SetFrameTitle("Calculating %d Data Arrays", n);

    int ok = CalcDataArraysForBarSize(nullptr, 0);
    if (gRun.state.load() == RUN_STOP_REQUESTED) {
        ShowPopupNotice(STOP_NOTICE_COLOUR, "Calculation Stopped");
        /* A stop that came after the last item still leaves the run stopped,
        ** and the next calculation starts from nothing. */
        gDataRecalcNeeded = 1;
        ok = 0;
    }

    gRun.state.store(RUN_IDLE);
    exchange = SettingsExchangeActive;
    SettingsExchangeActive = 1;
    EnableSettingsPanelControls(0);
    UpdateDebugPanelControls();
    SettingsExchangeActive = exchange;
    ResetStatusBar(0);
    SetFrameTitle(nullptr);
    return ok;
}
