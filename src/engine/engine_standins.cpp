/* engine_standins.cpp -- engine routines whose owners are not built yet. */
#include <cstring>

#include "engine/optimizer.h"
#include "engine/orders.h"
#include "engine/results_file.h"
#include "engine/trace.h"
#include "engine/walk_forward.h"
#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "script/eval/eval_context.h"

/* ==== STANDIN: replaced by the simulation trace ===================================== */

/* STANDIN: writes nothing. */
void LogNamedValue(EvalContext *, const char *, double)
{
}

/* STANDIN: writes nothing. */
void LogPortfolioState(EvalContext *)
{
}

/* ==== STANDIN: replaced by the results file and test-record upkeep ================== */

enum { STANDIN_RESULTS_WINDOWS = 4 };
static ResultsWindow sWindows[STANDIN_RESULTS_WINDOWS];
static int sWindowOpen[STANDIN_RESULTS_WINDOWS];

/* STANDIN: only the record without a file is made. */
TestRecord *ReadTestRecord(PlatFile file, int32_t parameterCount, int32_t strategyCount, int32_t rowCount,
                           int32_t itemCount)
{
    if (file || parameterCount < 0 || strategyCount < 0 || rowCount < 0 || itemCount < 0) return nullptr;
    TestRecord *record = nullptr;
    if (!AllocMemory(&record, sizeof *record)) return nullptr;
    record->parameterCount = parameterCount;
    record->strategyCount = strategyCount;
    record->rowCount = rowCount;
    record->stratDataItemCount = itemCount;
    record->stratDataValueCount = strategyCount * rowCount * itemCount;
    bool ok = AllocMemory(&record->strategies, (uint64_t)(strategyCount + 1) * sizeof(StrategyResult)) &&
              AllocMemory(&record->parameters, (uint64_t)(parameterCount + 1) * sizeof(ParamValue)) &&
              AllocMemory(&record->cells, ((uint64_t)rowCount * strategyCount + 1) * sizeof(StatCell));
    if (ok && itemCount > 0) {
        ok = AllocMemory(&record->stratDataNames, (uint64_t)itemCount * 80) &&
             AllocMemory(&record->stratDataValues, (uint64_t)record->stratDataValueCount * sizeof(double));
    }
    if (!ok) {
        FreeTestRecord(nullptr, record);
        return nullptr;
    }
    return record;
}

/* STANDIN: frees the record's arrays; no view windows to close. */
void FreeTestRecord(ResultsWindow *, TestRecord *record)
{
    if (!record) return;
    if (gCurrentTest == record) gCurrentTest = nullptr;
    FreeMemory(&record->parameters);
    FreeMemory(&record->strategies);
    FreeMemory(&record->cells);
    FreeMemory(&record->settings.scriptText);
    FreeMemory(&record->trades);
    FreeMemory(&record->resultsValues);
    FreeMemory(&record->graphValues);
    FreeMemory(&record->stratDataNames);
    FreeMemory(&record->stratDataValues);
    FreeMemory(&record);
}

/* STANDIN: the first of the stand-in lists that is open. */
ResultsWindow *FirstResultsWindow()
{
    for (int k = 0; k < STANDIN_RESULTS_WINDOWS; k++)
        if (sWindowOpen[k]) return &sWindows[k];
    return nullptr;
}

/* STANDIN: an open stand-in list with that path. */
ResultsWindow *FindResultsWindowByPath(const char *path)
{
    for (int k = 0; k < STANDIN_RESULTS_WINDOWS; k++)
        if (sWindowOpen[k] && CompareNoCase(sWindows[k].path, path) == 0) return &sWindows[k];
    return nullptr;
}

/* STANDIN: a list in memory. */
ResultsWindow *CreateResultsWindow(int32_t columnCount, const ParamValue *columns)
{
    for (int k = 0; k < STANDIN_RESULTS_WINDOWS; k++) {
        if (sWindowOpen[k]) continue;
        memset(&sWindows[k], 0, sizeof sWindows[k]);
        sWindowOpen[k] = 1;
        AddResultsColumns(&sWindows[k], columnCount, columns);
        return &sWindows[k];
    }
    return nullptr;
}

/* STANDIN: appends the columns without looking at their names. */
int AddResultsColumns(ResultsWindow *window, int32_t count, const ParamValue *columns)
{
    if (count <= 0 || !columns) return 1;
    if (!ReallocMemory(&window->columns, (uint64_t)(window->columnCount + count) * sizeof(ParamValue))) return 0;
    memcpy(&window->columns[window->columnCount], columns, (size_t)count * sizeof(ParamValue));
    window->columnCount += count;
    return 1;
}

/* STANDIN: appends the test to the list and makes it the current test. */
void AddTestToResults(ResultsWindow *window, TestRecord *record)
{
    record->previous = window->lastTest;
    record->next = nullptr;
    if (window->lastTest) window->lastTest->next = record;
    else window->firstTest = record;
    window->lastTest = record;
    window->testCount++;
    window->modified = 1;
    gCurrentTest = record;
}

/* STANDIN: frees the tests, the columns, and closes the list. */
void DeleteAllTests(ResultsWindow *window)
{
    if (!window) return;
    for (TestRecord *t = window->firstTest; t;) {
        TestRecord *next = t->next;
        FreeTestRecord(window, t);
        t = next;
    }
    window->firstTest = window->lastTest = nullptr;
    window->testCount = 0;
    FreeMemory(&window->columns);
    window->columnCount = 0;
    for (int k = 0; k < STANDIN_RESULTS_WINDOWS; k++)
        if (&sWindows[k] == window) sWindowOpen[k] = 0;
}

/* STANDIN: opens an empty list named after the file; nothing is read. */
int LoadResultsFile(const char *path, int)
{
    if (FindResultsWindowByPath(path)) return 1;
    ResultsWindow *window = CreateResultsWindow(0, nullptr);
    if (!window) return 0;
    CopyString(window->path, sizeof window->path, path, -1);
    return 1;
}

/* STANDIN: nothing is written. */
int SaveResultsFile(ResultsWindow *window, int)
{
    if (window) window->modified = 0;
    return 1;
}

/* STANDIN: nothing to refresh. */
void RefreshResultsList(ResultsWindow *)
{
}

/* STANDIN: nothing to recalculate. */
void RecalculateTestStats(ResultsWindow *, int)
{
}

/* STANDIN: the list stays as it is. */
void SortResultsList(ResultsWindow *, int, int, int)
{
}

/* ==== STANDIN: replaced by the optimizer ============================================ */

/* STANDIN: one test per run. */
int32_t ShowOptimizerDialog(int, int32_t *keptRows)
{
    if (keptRows) *keptRows = 1;
    return 1;
}

/* STANDIN: no further combination. */
int NextParameterCombination(int32_t)
{
    return 0;
}

/* ==== STANDIN: replaced by the walk-forward periods ================================= */

/* STANDIN: the script is left as it is. */
void InsertWalkForwardSection()
{
}

/* ==== STANDIN: replaced by order-list generation ==================================== */

/* STANDIN: no order list is written. */
void GenerateOrderList(EvalContext *)
{
}
