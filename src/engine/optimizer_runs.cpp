/* optimizer_runs.cpp -- what an optimization does around its tests: a test
** run for one strategy alone, and the summary of the results when the run
** ends. */
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/optimizer.h"
#include "engine/results_file.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/strategy.h"
#include "script/eval/value_access.h"
#include "services/services.h"

/* The script's strategies while a test runs on a copy of them. */
struct StrategyRestriction {
    StrategyRecord *records; /* the script's own array */
    int32_t count;
    int32_t combined;
    StrategyRecord *copy; /* tracked */
    int32_t *original;    /* tracked; script index of each copied record */
    int32_t copyCount;
};

static StrategyRestriction gRestriction;

/* The copy index of script record s, -1 when it is not copied. */
static int32_t CopyIndexOf(int32_t s)
{
    for (int32_t k = 0; k < gRestriction.copyCount; k++)
        if (gRestriction.original[k] == s) return k;
    return -1;
}

int BeginStrategyRestriction()
{
    if (gRun.mode != RUN_MODE_OPTIMIZE || !gSettings.OptByStrategy || gRestriction.copy) return 1;
    int32_t chosen = gOptimizer.strategyIndex;
    if (chosen < 0 || chosen >= gStrategyCount) return 1;
    int32_t n = gStrategyCount;
    if (!AllocMemory(&gRestriction.copy, (uint64_t)n * sizeof(StrategyRecord)) ||
        !AllocMemory(&gRestriction.original, (uint64_t)n * sizeof(int32_t))) {
        FreeMemory(&gRestriction.copy);
        FreeMemory(&gRestriction.original);
        return 0;
    }
    int32_t count = 0;
    for (int32_t s = 0; s < n; s++) {
        if (s != chosen && gStrategies[s].kind != STRATEGY_KIND_BENCHMARK) continue;
        gRestriction.copy[count] = gStrategies[s];
        gRestriction.original[count] = s;
        count++;
    }
    gRestriction.copyCount = count;
    /* Links are indexes: parent lists go, Using lists keep the records copied. */
    for (int32_t k = 0; k < count; k++) {
        StrategyRecord *r = &gRestriction.copy[k];
        r->groupCount = 0;
        int32_t kept = 0;
        for (int32_t u = 0; u < r->usingCount; u++) {
            int32_t at = CopyIndexOf(r->usingList[u]);
            if (at >= 0) r->usingList[kept++] = at;
        }
        r->usingCount = kept;
    }
    gRestriction.records = gStrategies;
    gRestriction.count = gStrategyCount;
    gRestriction.combined = gCombinedIndex;
    gStrategies = gRestriction.copy;
    gStrategyCount = count;
    gCombinedIndex = -1;
    return 1;
}

void EndStrategyRestriction()
{
    if (!gRestriction.copy) return;
    gStrategies = gRestriction.records;
    gStrategyCount = gRestriction.count;
    gCombinedIndex = gRestriction.combined;
    /* The run-time arrays the test grew belong to the script's records now. */
    for (int32_t k = 0; k < gRestriction.copyCount; k++) {
        StrategyRecord *r = &gStrategies[gRestriction.original[k]];
        const StrategyRecord *used = &gRestriction.copy[k];
        int32_t groupCount = r->groupCount, usingCount = r->usingCount;
        int32_t groups[STRATEGY_MAX_LINKS], usingList[STRATEGY_MAX_LINKS];
        memcpy(groups, r->groups, sizeof groups);
        memcpy(usingList, r->usingList, sizeof usingList);
        *r = *used;
        r->groupCount = groupCount;
        r->usingCount = usingCount;
        memcpy(r->groups, groups, sizeof groups);
        memcpy(r->usingList, usingList, sizeof usingList);
    }
    FreeMemory(&gRestriction.copy);
    FreeMemory(&gRestriction.original);
    memset(&gRestriction, 0, sizeof gRestriction);
}

/* ---- the summary --------------------------------------------------------------------- */

static int CompareValues(const void *a, const void *b)
{
    return CompareDouble(*(const double *)a, *(const double *)b);
}

void LogOptimizationSummary(const ResultsWindow *window)
{
    if (!window || window->testCount < 1) return;
    double *values = nullptr;
    if (!AllocMemory(&values, (uint64_t)window->testCount * sizeof(double))) return;
    LogPrintf("%s", "*** Optimization Summary ***\n");
    LogPrintf("%s", "Stat\tMin\tMax\tMed\tAvg\tStd");
    LogPrintf("%s", "----\t---\t---\t---\t---\t---");
    const FormulaColumn *columns = (const FormulaColumn *)gResultsColumns.items;
    for (int32_t c = 0; columns && c < gResultsColumns.count; c++) {
        const FormulaColumn *column = &columns[c];
        if (!column->barFlag || column->barNumber != 1) continue;
        int32_t n = 0;
        for (const TestRecord *t = window->firstTest; t && n < window->testCount; t = t->next) {
            const double *v = GetStrategyValues(t, t->mainStrategy, c);
            values[n++] = v && std::isfinite(*v) ? *v : 0;
        }
        if (n == 0) continue;
        double sum = 0;
        for (int32_t k = 0; k < n; k++) sum += values[k];
        double mean = sum / n, squares = 0;
        for (int32_t k = 0; k < n; k++) squares += (values[k] - mean) * (values[k] - mean);
        double deviation = std::sqrt(squares / n);
        qsort(values, (size_t)n, sizeof(double), CompareValues);
        double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
        double figures[5] = {values[0], values[n - 1], median, mean, deviation};
        char text[5][64];
        for (int k = 0; k < 5; k++)
            FormatNumber(figures[k], column->format, column->decimals, (int32_t)column->negativeParens, nullptr, text[k]);
        LogPrintf("%s\t%s\t%s\t%s\t%s\t%s", column->heading, text[0], text[1], text[2], text[3], text[4]);
    }
    LogPrintf("%s", "");
    FreeMemory(&values);
}
