/* strategy_data.cpp -- TestData items per symbol and StratData items per
** strategy, date by date during a test. */
#include "script/datacalc/strategy_data.h"

#include <cmath>
#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/keywords.h"
#include "script/compiler/strategy.h"
#include "script/datacalc/cross_section.h"
#include "script/datacalc/data_calc.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"

/* The one-per-symbol TestData items already computed in this test. */
static struct {
    uint8_t *done; /* one flag per TestData item (tracked block) */
} sStrategyData;

static FormulaItem *TestDataItems() { return (FormulaItem *)gTestDataItems.items; }

static int32_t TestItemBarSize(const FormulaItem *item)
{
    if (item->barSize >= 0 && item->barSize < BAR_SIZE_COUNT) return item->barSize;
    int32_t run = gSettings.BarSize2;
    return run >= 0 && run < BAR_SIZE_COUNT ? run : BAR_DAILY;
}

static int64_t TestValueCount(const FormulaItem *item, const SymbolRecord *symbol)
{
    if (item->onePerDate && symbol != &gStore.calendar) return 0;
    if (item->onePerSymbol) return 1;
    int32_t bars = 0;
    GetBarArray(symbol, TestItemBarSize(item), &bars);
    return bars;
}

/* Grows a tracked block to bytes (the grown part zeroed); 0 when memory fails. */
static int GrowTo(void *pBlock, uint64_t bytes)
{
    void *block = *(void **)pBlock;
    return TrackedBlockSize(block) >= bytes || ReallocMemory(pBlock, bytes);
}

static int LayOutTestData(SymbolRecord *symbol)
{
    int32_t strategies = gStrategyCount > 0 ? gStrategyCount : 0;
    uint64_t counterBytes = (uint64_t)strategies * sizeof(int32_t);
    if (counterBytes) {
        if (!GrowTo(&symbol->strategyArrays, counterBytes)) return 0;
        memset(symbol->strategyArrays, 0, counterBytes);
        symbol->strategyArraysSize = (int64_t)counterBytes;
    }
    int32_t count = gTestDataItems.count;
    if (count == 0) return 1;
    if (!GrowTo(&symbol->dataOffsets[1], (uint64_t)count * sizeof(int32_t))) return 0;
    int64_t total = 0;
    for (int32_t i = 0; i < count; i++) {
        int64_t values = TestValueCount(&TestDataItems()[i], symbol);
        if (total + values > INT32_MAX) return 0;
        symbol->dataOffsets[1][i] = (int32_t)total;
        total += values;
    }
    if (total > 0 && !GrowTo(&symbol->dataValues[1], (uint64_t)total * sizeof(double))) return 0;
    if (MemoryLimitReached(0)) return 0;
    for (int64_t k = 0; k < total; k++) symbol->dataValues[1][k] = NAN;
    return 1;
}

int AllocStrategyArrays()
{
    int32_t count = gTestDataItems.count;
    if (count > 0) {
        if (!GrowTo(&sStrategyData.done, (uint64_t)count)) return 0;
        memset(sStrategyData.done, 0, (size_t)count);
    }
    for (int32_t s = 0; s <= gStore.symbolCount; s++)
        if (!LayOutTestData(s < gStore.symbolCount ? &gStore.symbols[s] : &gStore.calendar)) return 0;
    return 1;
}

void FindSymbolStrategy(EvalContext *context)
{
    context->strategyIndex = -1;
    context->strategy = nullptr;
    context->position = nullptr;
    for (int32_t k = 0; k < gStrategyCount; k++) {
        StrategyRecord *strategy = &gStrategies[k];
        if (strategy->kind != SECTION_STRATEGY || strategy->BarSize != context->barSize) continue;
        for (int32_t p = 0; p < strategy->openCount; p++)
            if (strategy->openPositions[p].symbol == context->symbol) {
                context->strategyIndex = k;
                context->strategy = strategy;
                context->position = &strategy->openPositions[p];
                return;
            }
    }
}

/* Computes TestData item index for one symbol at date; see CalcStrategyItems. */
static void CalcTestItemForSymbol(FormulaItem *item, int32_t index, SymbolRecord *symbol, int32_t date,
                                  const EvalContext *context, EvalContext *copy)
{
    int32_t barSize = TestItemBarSize(item);
    int32_t lookup = date, mode = context->barPhase;
    if (barSize != BAR_DAILY) {
        lookup = GetPeriodFirstDate(date, 1, barSize);
        mode = PHASE_OPEN;
    }
    Bar *bar = nullptr;
    int32_t found = FindBarIndex(symbol, barSize, lookup, mode, 0, &bar);
    if (found < 0 || !bar) return;
    int phase = bar->date == date ? context->barPhase : mode;
    int32_t last = found;
    if (phase < PHASE_CLOSE) {
        if (found == 0) return;
        last = found - 1;
    }
    copy->symbol = symbol;
    copy->callingSymbol = symbol;
    copy->date = date;
    copy->barIndex = found;
    copy->lastBar = last;
    FindSymbolStrategy(copy);
    copy->libraryDepth = 0;
    FormulaNode *nodes = item->formula.nodes[0];
    double value = EvalFormula(nodes, copy);
    if (item->formula.resultFormat == 0 && nodes) item->formula.resultFormat = nodes[0].dataType;
    /* A one-per-symbol item has a single value, whatever bar it was computed
    ** at.  Blocks not laid out for this test's items take nothing. */
    int32_t cell = item->onePerSymbol ? 0 : last;
    if (!symbol->dataValues[1] || TrackedBlockSize(symbol->dataOffsets[1]) < (uint64_t)(index + 1) * sizeof(int32_t) ||
        cell >= TestValueCount(item, symbol))
        return;
    int64_t at = (int64_t)symbol->dataOffsets[1][index] + cell;
    if ((uint64_t)(at + 1) * sizeof(double) <= TrackedBlockSize(symbol->dataValues[1])) symbol->dataValues[1][at] = value;
}

int CalcStrategyItems(EvalContext *context)
{
    if (gTestDataItems.count == 0) return 1;
    EvalContext copy = *context;
    copy.strategyData = 1;
    CalcWorkerContext worker{};
    worker.block = 1;
    worker.worker = 0;
    worker.running = 1;
    if (!BuildGroupKeys(&worker)) return 0;
    int ok = 1;
    for (int32_t i = 0; i < gTestDataItems.count && ok; i++) {
        FormulaItem *item = &TestDataItems()[i];
        if (item->onePerSymbol) {
            if (sStrategyData.done && sStrategyData.done[i]) continue;
            if (sStrategyData.done) sStrategyData.done[i] = 1;
        }
        int32_t barSize = TestItemBarSize(item);
        copy.itemName = item->formula.name;
        copy.barSize = barSize;
        worker.function = (int32_t)item->formula.breadthFunction;
        worker.grouping = (int32_t)item->formula.grouping;
        worker.parameter = item->formula.percentRankN;
        worker.itemIndex = i;
        worker.barSize = barSize;

        /* A one-per-symbol item is computed at the first bar of the calling
        ** context's symbol; the date of the other items stays the context's. */
        int32_t date = context->date;
        if (item->onePerSymbol && context->symbol) {
            int32_t bars = 0;
            const Bar *first = GetBarArray(context->symbol, context->barSize, &bars);
            if (first && bars > 0) date = first[0].date;
        }
        for (int32_t s = item->onePerDate ? gStore.symbolCount : 0; s <= gStore.symbolCount; s++)
            CalcTestItemForSymbol(item, i, s < gStore.symbolCount ? &gStore.symbols[s] : &gStore.calendar, date, context, &copy);

        if (!item->formula.breadthFunction) continue;
        if (!BuildGroupKeys(&worker)) {
            ok = 0;
            break;
        }
        if (worker.grouping) {
            for (int32_t g = 0; g < gStore.symbolCount; g++) {
                if (!worker.groupKeys[g].groupStart) continue;
                worker.groupStart = g;
                if (!CalcItemForDate(date, &worker)) break;
            }
        } else {
            CalcItemForDate(date, &worker);
        }
    }
    FreeMemory(&worker.groupKeys);
    FreeMemory(&worker.values);
    return ok;
}

int CalcStrategyAggregates(EvalContext *context)
{
    if (gStratDataItems.count == 0) return 1;
    EvalContext copy = *context;
    copy.strategyData = 1;
    TestRecord *test = context->test;
    int32_t row = FindResultRowByDate(test, context->date, context->barSize);
    copy.resultRow = row;
    if (!test || row < 0) return 1;
    const FormulaItem *items = (const FormulaItem *)gStratDataItems.items;
    for (int32_t j = 0; j < gStratDataItems.count; j++) {
        const FormulaItem *item = &items[j];
        copy.itemName = item->formula.name;
        for (int32_t s = 0; s < test->strategyCount; s++) {
            copy.strategyIndex = s;
            copy.strategy = s < gStrategyCount ? &gStrategies[s] : nullptr;
            double *cell = const_cast<double *>(GetExtraStatValuePtr(test, row, s, j));
            if (!cell) continue;
            copy.libraryDepth = 0;
            *cell = EvalFormula(item->formula.nodes[0], &copy);
        }
        if (item->formula.breadthFunction &&
            !CalcItemAcrossStrategies(&copy, j, (int)item->formula.breadthFunction, item->formula.percentRankN))
            return 0;
    }
    return 1;
}
