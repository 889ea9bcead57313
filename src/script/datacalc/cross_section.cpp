/* cross_section.cpp -- statistics of one date across symbols, groups of
** symbols and strategies. */
#include "script/datacalc/cross_section.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/datacalc/data_calc.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"
#include "script/eval/value_access.h"

enum {
    LIST_NUM_KEY_SIZE = 4 /* "%03d" and its terminator */
};

static_assert(ITEM_CS_COUNT - ITEM_CS_AVG == 10, "cross-sectional functions #Avg .. #Count");
static_assert(ITEM_CS_BY_LIST_NUM - ITEM_CS_BY_MKT == 6, "group modifiers #ByMkt .. #ByListNum");

static bool SortsValues(int function) { return function >= (int)ITEM_CS_MEDIAN && function <= (int)ITEM_CS_PERCENT_RANK_N; }
static bool IsRankFunction(int function)
{
    return function == ITEM_CS_RANK || function == ITEM_CS_DENSE_RANK || function == ITEM_CS_PERCENT_RANK;
}

static SymbolRecord *SymbolAt(int32_t index) { return index < gStore.symbolCount ? &gStore.symbols[index] : &gStore.calendar; }

/* The group key of a symbol for a modifier; #ByListNum formats into keyBuffer. */
static const char *GroupKeyText(SymbolRecord *symbol, int grouping, char *keyBuffer)
{
    const SymbolInfo *info = &symbol->info;
    switch (grouping) {
    case ITEM_CS_BY_MKT:
    case ITEM_CS_BY_CII: return info->InduIndex;
    case ITEM_CS_BY_INDU: return info->Industry;
    case ITEM_CS_BY_GROUP: return info->IndGroup;
    case ITEM_CS_BY_SECT: return info->Sector;
    case ITEM_CS_BY_ECON: return info->EconSect;
    case ITEM_CS_BY_LIST_NUM:
        FormatText(keyBuffer, LIST_NUM_KEY_SIZE, "%03d", (int)info->listNumber);
        return keyBuffer;
    default: return "";
    }
}

int CompareGroupKeys(const void *a, const void *b)
{
    const GroupKeyEntry *x = (const GroupKeyEntry *)a;
    const GroupKeyEntry *y = (const GroupKeyEntry *)b;
    int xEmpty = !x->key || !x->key[0], yEmpty = !y->key || !y->key[0];
    if (xEmpty != yEmpty) return xEmpty ? -1 : 1;
    if (!xEmpty) {
        int c = CompareNoCase(x->key, y->key);
        if (c != 0) return c;
    }
    return x->symbol < y->symbol ? -1 : x->symbol > y->symbol ? 1
                                                              : 0;
}

int CompareRankValues(const void *a, const void *b)
{
    const RankValueEntry *x = (const RankValueEntry *)a;
    const RankValueEntry *y = (const RankValueEntry *)b;
    int c = CompareDouble(x->value, y->value);
    if (c != 0) return c;
    return y->position - x->position;
}

int BuildGroupKeys(CalcWorkerContext *worker)
{
    int32_t S = gStore.symbolCount;
    uint64_t entries = (uint64_t)S + 1;
    /* Behind the key entries stand this worker's #ByListNum key texts and the
    ** rank of each position on the date being computed. */
    uint64_t keyBytes = entries * sizeof(GroupKeyEntry) + entries * LIST_NUM_KEY_SIZE + entries * sizeof(int32_t);
    if ((TrackedBlockSize(worker->groupKeys) < keyBytes && !ReallocMemory(&worker->groupKeys, keyBytes)) ||
        (TrackedBlockSize(worker->values) < entries * sizeof(RankValueEntry) &&
         !ReallocMemory(&worker->values, entries * sizeof(RankValueEntry)))) {
        std::atomic_ref<int32_t>(worker->stop).store(1, std::memory_order_release);
        return 0;
    }
    char *keyTexts = (char *)(worker->groupKeys + entries);
    for (int32_t p = 0; p <= S; p++) {
        GroupKeyEntry *entry = &worker->groupKeys[p];
        entry->symbol = p;
        entry->groupStart = 0;
        entry->key = GroupKeyText(SymbolAt(p), worker->grouping, keyTexts + (size_t)p * LIST_NUM_KEY_SIZE);
    }
    worker->groupStart = 0;
    if (!worker->grouping) return 1;
    qsort(worker->groupKeys, (size_t)S, sizeof(GroupKeyEntry), CompareGroupKeys);
    for (int32_t i = 0; i < S; i++) {
        const GroupKeyEntry *entry = &worker->groupKeys[i];
        worker->groupKeys[i].groupStart =
            entry->key[0] && (i == 0 || CompareNoCase(entry->key, worker->groupKeys[i - 1].key) != 0);
    }
    return 1;
}

int CalcGroupsForDate(int32_t date, CalcWorkerContext *worker)
{
    for (int32_t i = 0; i < gStore.symbolCount; i++) {
        if (std::atomic_ref<int32_t>(worker->stop).load(std::memory_order_relaxed)) return 0;
        if (!worker->groupKeys[i].groupStart) continue;
        worker->groupStart = i;
        if (!CalcItemForDate(date, worker)) return 0;
    }
    return 1;
}

/* The statistic of the collected values that is the same for every member;
** ranks are worked out per member. */
struct DateStatistic {
    int n;
    double sum, minimum, maximum, mean;
};

static double SharedValue(const DateStatistic &s, const RankValueEntry *sorted, int function, double parameter,
                          double deviation)
{
    int n = s.n;
    switch (function) {
    case ITEM_CS_AVG: return s.sum / n;
    case ITEM_CS_HIGHEST: return s.maximum;
    case ITEM_CS_LOWEST: return s.minimum;
    case ITEM_CS_MEDIAN:
        if (n % 2) return sorted[n / 2].value;
        return (sorted[n / 2 - 1].value + sorted[n / 2].value) / 2;
    case ITEM_CS_PERCENT_RANK_N: {
        double at = trunc((n - 1) * parameter / 100);
        return at >= 0 && at <= n - 1 ? sorted[(int)at].value : 0.0;
    }
    case ITEM_CS_STD_DEV: return deviation;
    case ITEM_CS_SUM: return s.sum;
    case ITEM_CS_COUNT: return (double)n;
    default: return NAN;
    }
}

/* The value written to a member whose own value is own. */
static double MemberValue(const DateStatistic &s, const RankValueEntry *sorted, int function, double parameter,
                          double deviation, int position, double own, int calendar, int32_t sortedRank)
{
    if (!IsRankFunction(function)) return SharedValue(s, sorted, function, parameter, deviation);
    if (std::isnan(own)) return NAN;
    if (calendar) return NAN;
    int rank = sortedRank != 0 ? sortedRank : RankValue(sorted, s.n, position, own, function);
    if (rank < 0) return NAN;
    if (function == ITEM_CS_PERCENT_RANK) return 100.0 / (s.n - 1) * (s.n - rank);
    return rank;
}

/* Population deviation of the collected values around their mean. */
static double Deviation(const RankValueEntry *values, int n, double mean)
{
    double squares = 0;
    for (int i = 0; i < n; i++) squares += (values[i].value - mean) * (values[i].value - mean);
    return sqrt(squares / n);
}

/* The item's cell of a symbol at bar, or null where the item holds no value
** there: a one-per-date item has values on the calendar pseudo-symbol only,
** and a one-per-symbol item has its single value whatever the bar. */
static double *ItemCell(SymbolRecord *symbol, const FormulaItem *item, int block, int32_t itemIndex, int32_t bar)
{
    if (!symbol->dataValues[block] || !symbol->dataOffsets[block]) return nullptr;
    if (item && item->onePerDate && symbol != &gStore.calendar) return nullptr;
    int32_t at = item && item->onePerSymbol ? 0 : bar;
    return symbol->dataValues[block] + symbol->dataOffsets[block][itemIndex] + at;
}

/* Dense ranks of all n sorted members at once, by RankValue's rule: walking
** down from the highest, the rank grows by one wherever the next lower value
** is lower by CompareDouble, the comparison that sorted them; values equal
** within its tolerance share a rank. */
static void DenseRanks(const RankValueEntry *sorted, int n, int32_t *rankAt)
{
    int32_t rank = 1;
    rankAt[sorted[n - 1].position] = 1;
    for (int k = n - 2; k >= 0; k--) {
        if (CompareDouble(sorted[k + 1].value, sorted[k].value) > 0) rank++;
        rankAt[sorted[k].position] = rank;
    }
}

static int32_t *RankSlots(CalcWorkerContext *worker)
{
    uint64_t entries = (uint64_t)gStore.symbolCount + 1;
    return (int32_t *)((char *)(worker->groupKeys + entries) + entries * LIST_NUM_KEY_SIZE);
}

/* The bar of the symbol dated exactly date, or -1: a walk from this slot's
** hint, which a worker's ascending dates keep short, leaving the hint there. */
static int32_t BarOnDate(SymbolRecord *symbol, int32_t barSize, int32_t date, int slot)
{
    int32_t count = 0;
    const Bar *bars = GetBarArray(symbol, barSize, &count);
    if (!bars || count <= 0 || symbol->firstDate > date || symbol->lastDate < date) return -1;
    std::atomic_ref<int32_t> hint(symbol->barHints[slot]);
    int32_t b = hint.load(std::memory_order_relaxed);
    if (b < 0 || b >= count) b = 0;
    while (b < count - 1 && bars[b].date < date) b++;
    while (b > 0 && bars[b].date > date) b--;
    hint.store(b, std::memory_order_relaxed);
    return bars[b].date == date ? b : -1;
}

int CalcItemForDate(int32_t date, CalcWorkerContext *worker)
{
    const DefinitionList *list = worker->block ? &gTestDataItems : &gDataItems;
    int32_t itemIndex = worker->itemIndex;
    const FormulaItem *item =
        itemIndex >= 0 && itemIndex < list->count ? (const FormulaItem *)list->items + itemIndex : nullptr;
    std::atomic_ref<int32_t> stop(worker->stop);
    int32_t S = gStore.symbolCount;
    int slot = worker->worker >= 0 && worker->worker < WORKER_SLOTS ? worker->worker : 0;
    int function = worker->function;
    int block = worker->block ? 1 : 0;
    GroupKeyEntry *keys = worker->groupKeys;
    RankValueEntry *values = worker->values;
    if (!keys || !values) return 1;
    int32_t *rankAt = RankSlots(worker);
    /* A member's place in the sorted values is its rank: n - index, the answer
    ** of RankValue's search, found here once per date instead of once per member. */
    bool ranksBySort = IsRankFunction(function);

    DateStatistic s{0, 0.0, INFINITY, -INFINITY, 0.0};
    for (int32_t p = worker->groupStart; p < S; p++) {
        if (stop.load(std::memory_order_relaxed)) return 0;
        if (worker->grouping && p > worker->groupStart && keys[p].groupStart) break;
        rankAt[p] = 0;
        SymbolRecord *symbol = &gStore.symbols[keys[p].symbol];
        int32_t index = BarOnDate(symbol, worker->barSize, date, slot);
        if (index < 0) continue;
        double *cell = ItemCell(symbol, item, block, itemIndex, index);
        if (item && item->onePerDate) continue;
        double value = cell ? *cell : 0.0;
        if (std::isnan(value)) continue;
        if (function == ITEM_CS_COUNT) value = 1.0;
        s.sum += value;
        if (value < s.minimum) s.minimum = value;
        if (value > s.maximum) s.maximum = value;
        values[s.n].position = p;
        values[s.n].value = value;
        s.n++;
    }
    if (s.n == 0) return 1;
    if (SortsValues(function) && s.n > 1) qsort(values, (size_t)s.n, sizeof(RankValueEntry), CompareRankValues);
    if (ranksBySort && function != ITEM_CS_DENSE_RANK)
        for (int k = 0; k < s.n; k++) rankAt[values[k].position] = s.n - k;
    if (function == ITEM_CS_DENSE_RANK) DenseRanks(values, s.n, rankAt);
    s.mean = s.sum / s.n;
    double deviation = function == ITEM_CS_STD_DEV ? Deviation(values, s.n, s.mean) : 0.0;

    for (int32_t p = worker->groupStart; p <= S; p++) {
        if (stop.load(std::memory_order_relaxed)) return 0;
        if (worker->grouping && p > worker->groupStart && p < S && keys[p].groupStart) return 1;
        SymbolRecord *symbol = SymbolAt(keys[p].symbol);
        int32_t count = 0;
        Bar *bars = GetBarArray(symbol, worker->barSize, &count);
        if (symbol->firstDate > date || symbol->lastDate < date || !bars || count <= 0) continue;
        std::atomic_ref<int32_t> hint(symbol->barHints[slot]);
        int32_t b = hint.load(std::memory_order_relaxed);
        if (b < 0 || b >= count) b = 0;
        while (b < count - 1 && bars[b].date < date) b++;
        while (b > 0 && bars[b].date > date) b--;
        hint.store(b, std::memory_order_relaxed);
        if (bars[b].volume > 0) LowerFirstUsedDate(symbol, bars[b].date);
        if (bars[b].date != date) continue;
        double *cell = ItemCell(symbol, item, block, itemIndex, b);
        if (!cell) continue;
        int32_t sortedRank = ranksBySort && p < S ? rankAt[p] : 0;
        if (ranksBySort && p < S && sortedRank == 0) {
            /* Not among the values of the date: no rank. */
            *cell = NAN;
            continue;
        }
        *cell = MemberValue(s, values, function, worker->parameter, deviation, p, *cell, p == S, sortedRank);
    }
    return 1;
}

int RankValue(const RankValueEntry *sorted, int n, int position, double value, int function)
{
    if (n < 1) return -1;
    if (n == 1) return 1;
    RankValueEntry key{position, value};
    int low = 0, high = n - 1;
    while (low <= high) {
        int mid = low + (high - low) / 2;
        int c = CompareRankValues(&sorted[mid], &key);
        if (c == 0) {
            if (function != ITEM_CS_DENSE_RANK) return n - mid;
            /* 1 plus the steps up above the member, a step being a value
            ** higher by the same tolerant comparison that sorted them. */
            int rank = 1;
            for (int i = mid; i + 1 < n; i++)
                if (CompareDouble(sorted[i + 1].value, sorted[i].value) > 0) rank++;
            return rank;
        }
        if (c < 0)
            low = mid + 1;
        else
            high = mid - 1;
    }
    return -1;
}

/* The StratData cell of (row, strategy, item), or null outside the test's bounds. */
static double *StratDataCell(const TestRecord *test, int32_t row, int32_t strategy, int32_t item)
{
    return const_cast<double *>(GetExtraStatValuePtr(test, row, strategy, item));
}

int CalcItemAcrossStrategies(EvalContext *context, int itemIndex, int function, double parameter)
{
    const TestRecord *test = context->test;
    if (!test || test->strategyCount <= 0) return 1;
    int32_t strategies = test->strategyCount;
    int32_t row = context->resultRow;
    RankValueEntry *values = nullptr;
    if (!ReallocMemory(&values, (uint64_t)strategies * sizeof(RankValueEntry))) return 0;
    DateStatistic s{0, 0.0, INFINITY, -INFINITY, 0.0};
    for (int32_t k = 0; k < strategies; k++) {
        const double *cell = StratDataCell(test, row, k, itemIndex);
        if (!cell || std::isnan(*cell)) continue;
        double value = function == ITEM_CS_COUNT ? 1.0 : *cell;
        s.sum += value;
        if (value < s.minimum) s.minimum = value;
        if (value > s.maximum) s.maximum = value;
        values[s.n].position = k;
        values[s.n].value = value;
        s.n++;
    }
    if (s.n > 0) {
        if (SortsValues(function) && s.n > 1)
            qsort(values, (size_t)s.n, sizeof(RankValueEntry), CompareRankValues);
        s.mean = s.sum / s.n;
        double deviation = function == ITEM_CS_STD_DEV ? Deviation(values, s.n, s.mean) : 0.0;
        for (int32_t k = 0; k < strategies; k++) {
            double *cell = StratDataCell(test, row, k, itemIndex);
            if (cell) *cell = MemberValue(s, values, function, parameter, deviation, k, *cell, 0, 0);
        }
    }
    FreeMemory(&values);
    return 1;
}
