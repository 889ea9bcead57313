/* optimizer.cpp -- test counts, the walk through parameter combinations and
** the optimization's score recording. */
#include "engine/optimizer.h"

#include <cstdlib>
#include <cstring>

#include "engine/walk_forward.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/strategy.h"
#include "services/services.h"

OptimizerState gOptimizer;

static const double kNoBest = -1e14;
static const double kNoWorst = 1e14;

static const char kNoUntestedCombination[] = "Unable to find an untested parameter combination.";
static const char kBadTestInterval[] = "Optimizer Test Interval must be 1 or more when a time unit is chosen.";
static const char kTooManyTests[] =
    "Unable to run the optimization -- more than 2,147,483,647 tests.  Optimize fewer parameters or values.";

void ResetOptimizer()
{
    FreeMemory(&gOptimizer.params);
    FreeMemory(&gOptimizer.store);
    FreeMemory(&gOptimizer.storeIndex);
    memset(&gOptimizer, 0, sizeof gOptimizer);
}

static void EmptyCombinationStore();

static Parameter *ParameterRows()
{
    return (Parameter *)gParameters.items;
}

static bool IsOptimized(const Parameter *p)
{
    return p->valueCount > 0 && !p->deselected;
}

static void ResetParamSearch(int32_t k)
{
    Parameter *p = &ParameterRows()[k];
    OptParamState *s = &gOptimizer.params[k];
    p->started = 0;
    s->cycleDone = 0;
    s->bestIndex = 0;
    s->worstIndex = 0;
    s->bestScore = kNoBest;
    s->worstScore = kNoWorst;
}

static int CompareValues(const void *a, const void *b)
{
    return CompareDoublePtr(a, b);
}

/* Sorts the values ascending; the current and default index point to where
** the first listed value landed. */
static void SortParameterValues(Parameter *p)
{
    if (p->valueCount < 2 || !p->values) return;
    double first = p->values[0];
    qsort(p->values, (size_t)p->valueCount, sizeof(double), CompareValues);
    for (int32_t i = 0; i < p->valueCount; i++) {
        if (p->values[i] == first) {
            p->currentIndex = i;
            p->defaultIndex = i;
            break;
        }
    }
}

static bool IsStrategyKind(int32_t k)
{
    return gStrategies && gStrategies[k].kind == SECTION_STRATEGY;
}

static int32_t CountStrategies()
{
    int32_t n = 0;
    for (int32_t k = 0; k < gStrategyCount; k++)
        if (IsStrategyKind(k)) n++;
    return n;
}

/* The next record of kind Strategy after from (wrapping); wrapped is set
** when the search passed the end of the list. */
static int32_t NextStrategyIndex(int32_t from, bool *wrapped)
{
    *wrapped = false;
    for (int32_t step = 1; step <= gStrategyCount; step++) {
        int32_t k = from + step;
        if (k >= gStrategyCount) {
            k -= gStrategyCount;
            *wrapped = true;
        }
        if (IsStrategyKind(k)) return k;
    }
    return from;
}

/* A factor multiplies the product, or becomes it while the product is 0. */
static int64_t MultiplyCount(int64_t product, int64_t factor)
{
    if (product == 0) return factor;
    if (factor != 0 && product > INT32_MAX / factor + 1) return (int64_t)INT32_MAX + 1;
    return product * factor;
}

int32_t ComputeOptimizerTestCounts()
{
    OptimizerState *o = &gOptimizer;
    int mode = gSettings.OptimizeMode;
    int64_t product = 0;
    int32_t optimized = 0, valueSum = 0;
    const Parameter *rows = ParameterRows();
    for (int32_t k = 0; rows && k < gParameters.count; k++) {
        if (!IsOptimized(&rows[k])) continue;
        optimized++;
        valueSum += rows[k].valueCount;
        if (mode == OPT_COMBINATORIAL) product = MultiplyCount(product, rows[k].valueCount);
    }
    if (mode == OPT_SEQUENTIAL && optimized > 0) product = valueSum - (optimized - 1);
    o->optimizedCount = optimized;

    o->unitCount = CountTimeUnits(gSettings.OptTimeUnit) + 1;
    o->intervalCount = 0;
    if (gSettings.OptTimeUnit != TIME_UNIT_NONE && gSettings.OptTestLength != 0 && gSettings.OptTestInterval > 0) {
        int32_t spare = o->unitCount - gSettings.OptTestLength;
        o->intervalCount = (spare > 0 ? spare : 0) / gSettings.OptTestInterval + 1;
        product = MultiplyCount(product, o->intervalCount);
    }
    if (gSettings.OptByStrategy) product = MultiplyCount(product, CountStrategies());
    if (gSettings.OptBySymbol) product = MultiplyCount(product, gStore.symbolCount);
    if (gSettings.OptIterations > 0) product = MultiplyCount(product, gSettings.OptIterations);

    o->tooManyTests = product > INT32_MAX;
    o->maxTests = o->tooManyTests ? 0 : (int32_t)product;
    o->testsPerInterval = o->intervalCount > 0 ? o->maxTests / o->intervalCount : o->maxTests;
    o->keptRows = o->maxTests;
    if (gSettings.OptSortResults && gSettings.OptKeepBest > 0) {
        int64_t kept = (int64_t)gSettings.OptKeepBest * (gSettings.OptKeepByDate ? o->intervalCount + 1 : 1);
        if (kept < o->keptRows) o->keptRows = (int32_t)kept;
    }
    return o->maxTests;
}

/* The range: FirstDate and LastDate moved inward to the loaded data. */
static void SetOptimizerRange()
{
    int32_t start = gSettings.FirstDate, end = gSettings.LastDate;
    if (gStore.firstDate && (start == 0 || start < gStore.firstDate)) start = gStore.firstDate;
    if (gStore.lastDate && (end == 0 || end > gStore.lastDate)) end = gStore.lastDate;
    gOptimizer.rangeStart = start;
    gOptimizer.rangeEnd = end;
    gOptimizer.intervalStart = start;
}

/* Sizes the walk-forward lists for one entry per interval and the end. */
static int PrepareWalkForwardLists()
{
    int32_t room = gOptimizer.intervalCount + 2;
    DefinitionList *dates = &gWalkForwardDates;
    if (dates->capacity < room) {
        if (!ReallocMemory(&dates->items, (uint64_t)room * sizeof(int32_t))) return 0;
        dates->capacity = room;
    }
    dates->count = 0;
    Parameter *rows = ParameterRows();
    for (int32_t k = 0; rows && k < gParameters.count; k++) {
        Parameter *p = &rows[k];
        if (!IsOptimized(p)) continue;
        if (p->walkCapacity < room) {
            if (!ReallocMemory(&p->walkValues, (uint64_t)room * sizeof(double))) return 0;
            p->walkCapacity = room;
        }
        p->walkCount = 0;
    }
    return 1;
}

int32_t ShowOptimizerDialog(int resetOnly, int32_t *keptRows)
{
    OptimizerState *o = &gOptimizer;
    int32_t count = gParameters.count;
    if (count > o->paramCapacity) {
        if (!ReallocMemory(&o->params, (uint64_t)count * sizeof(OptParamState))) return 0;
        o->paramCapacity = count;
    }
    Parameter *rows = ParameterRows();
    for (int32_t k = 0; rows && k < count; k++) {
        ResetParamSearch(k);
        rows[k].currentIndex = 0;
        if (rows[k].valueCount < 2) rows[k].deselected = 1;
    }
    o->scoreSum = 0;
    o->scoreCount = 0;
    o->bestScore = kNoBest;
    EmptyCombinationStore();
    o->intervalIndex = -1;
    o->repetition = 0;
    o->symbolIndex = 0;
    bool wrapped;
    o->strategyIndex = gStrategyCount > 0 ? NextStrategyIndex(gStrategyCount - 1, &wrapped) : 0;
    if (keptRows) *keptRows = 1;
    if (resetOnly) return 1;

    if (gRun.mode == RUN_MODE_SCAN || gRun.mode == RUN_MODE_TEST || gRun.mode == RUN_MODE_ORDERS) {
        for (int32_t k = 0; rows && k < count; k++) SortParameterValues(&rows[k]);
        return 1;
    }
    if (gRun.mode != RUN_MODE_OPTIMIZE) return 0;

    SetOptimizerRange();
    if (gSettings.OptIterations < 1) gSettings.OptIterations = 1;
    if (gSettings.OptTestLength < 1) gSettings.OptTestLength = 1;
    if (!gOptNoDialog && !gRun.unattended && !RunOptimizerDialog()) return 0;
    /* A step of no units would repeat the same interval for ever. */
    if (gSettings.OptTimeUnit != TIME_UNIT_NONE && gSettings.OptTestInterval < 1) {
        ReportError(kBadTestInterval);
        return 0;
    }
    SetOptimizerRange();
    ComputeOptimizerTestCounts();
    if (o->tooManyTests) ReportError(kTooManyTests);
    if (o->maxTests < 1) return 0;
    if (gSettings.OptWalkForward && (!CheckWalkForwardIntervals() || !PrepareWalkForwardLists())) return 0;
    if (keptRows) *keptRows = o->keptRows;
    return o->maxTests;
}

/* ---- the walk through the combinations ------------------------------------------ */

static int32_t RandomIndex(int32_t count)
{
    if (count < 2) return 0;
    return (int32_t)RandomValue(0, count - 1, 1);
}

/* One walk over the parameters in list order; 1 when it advanced. */
static int WalkParameters(int mode, bool restart)
{
    Parameter *rows = ParameterRows();
    for (int32_t k = 0; rows && k < gParameters.count; k++) {
        Parameter *p = &rows[k];
        OptParamState *s = &gOptimizer.params[k];
        if (!IsOptimized(p)) continue;
        switch (mode) {
        case OPT_COMBINATORIAL:
            if (!p->started) {
                p->currentIndex = 0;
                p->started = 1;
                break;
            }
            if (++p->currentIndex < p->valueCount) return 1;
            p->currentIndex = 0;
            break;
        case OPT_SEQUENTIAL:
            if (restart || !p->started) {
                p->currentIndex = s->bestIndex;
                p->started = 1;
                s->cycleDone = 0;
                p->counter = 0;
                break;
            }
            if (s->cycleDone) break;
            if (++p->counter < p->valueCount) {
                p->currentIndex = (p->currentIndex + 1) % p->valueCount;
                return 1;
            }
            p->currentIndex = s->bestIndex;
            s->cycleDone = 1;
            break;
        case OPT_GENETIC:
            if (!p->started) {
                p->currentIndex = s->bestIndex;
                p->started = 1;
            } else if ((int32_t)RandomValue(1, 100, 1) <= gSettings.OptMutatePct) {
                p->currentIndex = RandomIndex(p->valueCount);
            }
            break;
        case OPT_RANDOM:
            if (!p->started) {
                p->currentIndex = 0;
                p->started = 1;
            } else {
                p->currentIndex = RandomIndex(p->valueCount);
            }
            break;
        default: break;
        }
    }
    return 0;
}

static uint32_t HashRow(const uint32_t *row, int32_t width)
{
    uint32_t h = 2166136261u;
    for (int32_t k = 0; k < width; k++) {
        h ^= row[k];
        h *= 16777619u;
        h ^= h >> 15;
    }
    return h;
}

/* Enters row r of the store into the hash table, which has room. */
static void IndexRow(int32_t r)
{
    OptimizerState *o = &gOptimizer;
    uint32_t mask = (uint32_t)o->indexCapacity - 1;
    uint32_t at = HashRow(&o->store[(size_t)r * (size_t)o->optimizedCount], o->optimizedCount) & mask;
    while (o->storeIndex[at] != 0) at = (at + 1) & mask;
    o->storeIndex[at] = r + 1;
}

/* Keeps the table at most half full; 0 when memory fails. */
static int GrowStoreIndex(int32_t rows)
{
    OptimizerState *o = &gOptimizer;
    if ((int64_t)rows * 2 <= o->indexCapacity) return 1;
    int64_t capacity = o->indexCapacity < 64 ? 64 : o->indexCapacity;
    while (capacity < (int64_t)rows * 2) capacity *= 2;
    if (capacity > INT32_MAX / 2 || !ReallocMemory(&o->storeIndex, (uint64_t)capacity * sizeof(int32_t))) return 0;
    o->indexCapacity = (int32_t)capacity;
    memset(o->storeIndex, 0, (size_t)capacity * sizeof(int32_t));
    for (int32_t r = 0; r < o->storeRows; r++) IndexRow(r);
    return 1;
}

static void EmptyCombinationStore()
{
    OptimizerState *o = &gOptimizer;
    o->storeRows = 0;
    if (o->storeIndex) memset(o->storeIndex, 0, (size_t)o->indexCapacity * sizeof(int32_t));
}

/* Stores the current indexes as a row; 0 when an equal row is stored. */
static int StoreCombination()
{
    OptimizerState *o = &gOptimizer;
    int32_t width = o->optimizedCount;
    if (width < 1) return 1;
    /* The rows the block holds at this run's width: a run before this one
    ** may have stored rows of fewer parameters in it. */
    const uint64_t rowBytes = (uint64_t)width * sizeof(uint32_t);
    const int64_t capacity = (int64_t)(TrackedBlockSize(o->store) / rowBytes);
    if (o->storeRows >= capacity) {
        int64_t rows = capacity < 64 ? 64 : capacity * 2;
        if (o->maxTests > 0 && rows > (int64_t)o->maxTests + 1) rows = (int64_t)o->maxTests + 1;
        if (rows <= o->storeRows) rows = (int64_t)o->storeRows + 1;
        if (!ReallocMemory(&o->store, (uint64_t)rows * rowBytes)) return 0;
    }
    if (!GrowStoreIndex(o->storeRows + 1)) return 0;
    uint32_t *fresh = &o->store[(size_t)o->storeRows * (size_t)width];
    const Parameter *p = ParameterRows();
    int32_t n = 0;
    for (int32_t k = 0; k < gParameters.count; k++)
        if (IsOptimized(&p[k])) fresh[n++] = (uint32_t)p[k].currentIndex;
    uint32_t mask = (uint32_t)o->indexCapacity - 1;
    for (uint32_t at = HashRow(fresh, width) & mask; o->storeIndex[at] != 0; at = (at + 1) & mask) {
        const uint32_t *row = &o->store[(size_t)(o->storeIndex[at] - 1) * (size_t)width];
        if (memcmp(row, fresh, (size_t)width * sizeof(uint32_t)) == 0) return 0;
    }
    IndexRow(o->storeRows);
    o->storeRows++;
    return 1;
}

/* Repetition, then strategy, then symbol; the test name follows them. */
static void StepOuterLoops()
{
    OptimizerState *o = &gOptimizer;
    int32_t iterations = gSettings.OptIterations > 0 ? gSettings.OptIterations : 1;
    if (++o->repetition <= iterations && o->repetition > 1) return;
    if (o->repetition > iterations) {
        o->repetition = 1;
        bool wrapped = true;
        if (gSettings.OptByStrategy) o->strategyIndex = NextStrategyIndex(o->strategyIndex, &wrapped);
        if (wrapped && gSettings.OptBySymbol && gStore.symbolCount > 0) o->symbolIndex = (o->symbolIndex + 1) % gStore.symbolCount;
    }
    const char *strategy = gSettings.OptByStrategy && o->strategyIndex < gStrategyCount ? gStrategies[o->strategyIndex].name : nullptr;
    const char *symbol = gSettings.OptBySymbol && o->symbolIndex < gStore.symbolCount ? gStore.symbols[o->symbolIndex].info.Symbol : nullptr;
    if (gSettings.OptBySymbol)
        for (int32_t k = 0; k < gStrategyCount; k++) gStrategies[k].symbolNumber = o->symbolIndex + 1;
    if (strategy && symbol)
        FormatText(gSettings.TestName, OPT_TEST_NAME_LENGTH + 1, "%s / %s", strategy, symbol);
    else if (strategy || symbol)
        CopyString(gSettings.TestName, OPT_TEST_NAME_LENGTH + 1, strategy ? strategy : symbol, -1);
}

void GetIntervalDates(int32_t *first, int32_t *last)
{
    const OptimizerState *o = &gOptimizer;
    *first = gSettings.OptAnchor == ANCHOR_START ? o->rangeStart : o->intervalStart;
    *last = o->rangeEnd;
    if (gSettings.OptAnchor != ANCHOR_END) {
        int32_t next = AdvanceTimeUnits(gSettings.OptTimeUnit, gSettings.OptTestLength);
        int32_t before = OffsetTradingDate(&gStore.dateLists[BAR_DAILY], next, -1);
        if (before && before < *last) *last = before;
    }
}

/* The first and last date of the test, from its interval. */
static void SetIntervalDates(int32_t testsDone)
{
    OptimizerState *o = &gOptimizer;
    if (o->intervalCount < 1 || o->testsPerInterval < 1) return;
    int32_t interval = testsDone / o->testsPerInterval;
    if (interval == o->intervalIndex) return;
    if (testsDone == 0 || interval % o->intervalCount == 0)
        o->intervalStart = o->rangeStart;
    else
        o->intervalStart = AdvanceTimeUnits(gSettings.OptTimeUnit, abs(gSettings.OptTestInterval));
    o->intervalIndex = interval;
    int32_t first, last;
    GetIntervalDates(&first, &last);
    if (first != gSettings.FirstDate) {
        gSettings.FirstDate = first;
        SetPanelDate(PANEL_FIRST_DATE, first);
    }
    if (last != gSettings.LastDate) {
        gSettings.LastDate = last;
        SetPanelDate(PANEL_LAST_DATE, last);
    }
}

int NextParameterCombination(int32_t testsDone)
{
    OptimizerState *o = &gOptimizer;
    int mode = gSettings.OptimizeMode;
    Parameter *rows = ParameterRows();
    if (o->intervalCount > 0 && o->testsPerInterval > 0 && testsDone >= 1 && testsDone % o->testsPerInterval == 0 &&
        o->optimizedCount > 0) {
        if (gSettings.OptWalkForward) RecordWalkForwardStep(1);
        for (int32_t k = 0; rows && k < gParameters.count; k++) ResetParamSearch(k);
        o->bestScore = kNoBest;
        EmptyCombinationStore();
    }
    bool checkDuplicates = mode != OPT_DEFAULTS_ONLY && o->optimizedCount > 0;
    bool found = false, advanced = false;
    for (int attempt = 0; attempt < OPT_MAX_ATTEMPTS && !found; attempt++) {
        advanced = WalkParameters(mode, false);
        if (!advanced && mode == OPT_SEQUENTIAL) WalkParameters(mode, true);
        if (!advanced && (mode == OPT_COMBINATORIAL || mode == OPT_SEQUENTIAL)) EmptyCombinationStore();
        found = !checkDuplicates || StoreCombination();
    }
    if (!found) {
        if (mode == OPT_GENETIC || mode == OPT_RANDOM) ReportError(kNoUntestedCombination);
        return 0;
    }
    if (!advanced) StepOuterLoops();
    SetIntervalDates(testsDone);
    return 1;
}

void RecordOptimizerScore(double score)
{
    OptimizerState *o = &gOptimizer;
    o->scoreSum += score;
    o->scoreCount++;
    bool improved = CompareDouble(score, o->bestScore) > 0;
    if (improved) o->bestScore = score;
    Parameter *rows = ParameterRows();
    for (int32_t k = 0; rows && k < gParameters.count && k < o->paramCapacity; k++) {
        if (!IsOptimized(&rows[k])) continue;
        OptParamState *s = &o->params[k];
        if (gSettings.OptimizeMode == OPT_SEQUENTIAL) {
            if (CompareDouble(score, s->bestScore) > 0) {
                s->bestScore = score;
                s->bestIndex = rows[k].currentIndex;
            }
            if (CompareDouble(score, s->worstScore) < 0) {
                s->worstScore = score;
                s->worstIndex = rows[k].currentIndex;
            }
        } else if (improved) {
            s->bestIndex = rows[k].currentIndex;
        }
    }
}
