/* results_list.cpp -- test records' lifetime and the results lists that
** hold them: making and freeing a record, the open lists, adding and
** deleting tests, and the list's order.
*/
#include "engine/results_list.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/date_loop.h"
#include "engine/run_view_hooks.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/definitions.h"
#include "script/eval/eval_context.h"
#include "services/services.h"

enum { ITEM_NAME_SIZE = 80 }; /* a StratData item's stored name */

/* The open results lists, and the holds long operations take on their tests. */
struct ResultsLists {
    ResultsWindow windows[RESULTS_WINDOW_MAX];
    int32_t holds;
};
static ResultsLists sLists;

void HoldTests() { sLists.holds++; }

void ReleaseTests()
{
    if (sLists.holds > 0) sLists.holds--;
}

int32_t CountTestHolds() { return sLists.holds; }

/* ---- records ------------------------------------------------------------------ */

void FreeTestRecord(ResultsWindow *window, TestRecord *record)
{
    if (!record) return;
    /* A window left showing the test would read freed memory at its next
    ** paint or key. */
    if (gRunViewHooks.closeTestViews) gRunViewHooks.closeTestViews(window, record);
    if (gCurrentTest == record) gCurrentTest = nullptr;
    ForgetWaitingExport(record);
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

TestRecord *NewTestRecord(int32_t parameterCount, int32_t strategyCount, int32_t rowCount, int32_t itemCount)
{
    if (parameterCount < 0 || strategyCount < 0 || rowCount < 0 || itemCount < 0) return nullptr;
    TestRecord *record = nullptr;
    if (!AllocMemory(&record, sizeof *record)) return nullptr;
    record->parameterCount = parameterCount;
    record->strategyCount = strategyCount;
    record->rowCount = rowCount;
    record->stratDataItemCount = itemCount;
    record->stratDataValueCount = strategyCount * rowCount * itemCount;
    record->daysPerYear = 252.0;
    bool ok = AllocMemory(&record->strategies, (uint64_t)(strategyCount + 1) * sizeof(StrategyResult)) &&
        AllocMemory(&record->parameters, (uint64_t)(parameterCount + 1) * sizeof(ParamValue)) &&
        AllocMemory(&record->cells, ((uint64_t)rowCount * strategyCount + 1) * sizeof(StatCell));
    if (ok && itemCount > 0) {
        ok = AllocMemory(&record->stratDataNames, (uint64_t)itemCount * ITEM_NAME_SIZE) &&
            AllocMemory(&record->stratDataValues, (uint64_t)record->stratDataValueCount * sizeof(double) + 8);
    }
    if (!ok) {
        FreeTestRecord(nullptr, record);
        return nullptr;
    }
    return record;
}

/* ---- lists -------------------------------------------------------------------- */

ResultsWindow *FirstResultsWindow()
{
    /* With windows, the first is the frontmost: a command given in one
    ** results window, or from the debug panel beside it, means that one,
    ** not the one opened first. */
    ResultsWindow *front = gRunViewHooks.frontResults ? gRunViewHooks.frontResults() : nullptr;
    if (front && front->open) return front;
    for (ResultsWindow &w : sLists.windows)
        if (w.open) return &w;
    return nullptr;
}

double EstimateResultsMemory()
{
    double bytes = 0;
    for (const ResultsWindow &w : sLists.windows) {
        if (!w.open) continue;
        for (const TestRecord *t = w.firstTest; t; t = t->next)
            bytes += (double)((int64_t)(t->strategyCount + 2) * 504 + (int64_t)t->tradeCount * 344 +
                              (int64_t)t->parameterCount * 88);
    }
    return bytes;
}

ResultsWindow *FindResultsWindowByPath(const char *path)
{
    for (ResultsWindow &w : sLists.windows)
        if (w.open && w.path[0] && ComparePaths(w.path, path) == 0) return &w;
    return nullptr;
}

void UpdateResultsTitle(ResultsWindow *window)
{
    FormatText(window->title, sizeof window->title, "Results - %s", window->path[0] ? window->path : "(untitled)");
}

static void ClearSortKeys(ResultsWindow *window)
{
    memset(window->sortKeys, 0, sizeof window->sortKeys);
    memset(window->sortDescending, 0, sizeof window->sortDescending);
    window->keyCount = 0;
}

ResultsWindow *CreateResultsWindow(int32_t columnCount, const ParamValue *columns)
{
    for (ResultsWindow &w : sLists.windows) {
        if (w.open) continue;
        memset(&w, 0, sizeof w);
        w.open = 1;
        UpdateResultsTitle(&w);
        if (!AddResultsColumns(&w, columnCount, columns)) {
            w.open = 0;
            return nullptr;
        }
        return &w;
    }
    ReportError("Unable to create a new results window");
    return nullptr;
}

int AddResultsColumns(ResultsWindow *window, int32_t count, const ParamValue *columns)
{
    for (int32_t i = 0; columns && i < count; i++) {
        bool known = false;
        for (int32_t k = 0; k < window->columnCount && !known; k++)
            known = CompareNoCase(window->columns[k].name, columns[i].name) == 0;
        if (known) continue;
        if (!ReallocMemory(&window->columns, (uint64_t)(window->columnCount + 1) * sizeof(ParamValue))) return 0;
        window->columns[window->columnCount++] = columns[i];
    }
    return 1;
}

void LinkTestAtEnd(ResultsWindow *window, TestRecord *record)
{
    record->previous = window->lastTest;
    record->next = nullptr;
    if (window->lastTest)
        window->lastTest->next = record;
    else
        window->firstTest = record;
    window->lastTest = record;
}

void AddTestToResults(ResultsWindow *window, TestRecord *record)
{
    LinkTestAtEnd(window, record);
    window->testCount++;
    window->modified = 1;
    ClearSortKeys(window);
    gCurrentTest = record;
}

static void UnlinkTest(ResultsWindow *window, TestRecord *record)
{
    if (record->previous)
        record->previous->next = record->next;
    else
        window->firstTest = record->next;
    if (record->next)
        record->next->previous = record->previous;
    else
        window->lastTest = record->previous;
    record->previous = record->next = nullptr;
    window->testCount--;
}

void DeleteAllTests(ResultsWindow *window)
{
    if (!window) return;
    const bool hadTests = window->firstTest != nullptr;
    /* Each test leaves the list before it is freed, so whatever runs while
    ** its views close finds a list of whole tests. */
    while (TestRecord *t = window->firstTest) {
        window->firstTest = t->next;
        if (window->firstTest) window->firstTest->previous = nullptr;
        t->previous = t->next = nullptr;
        FreeTestRecord(window, t);
    }
    window->lastTest = nullptr;
    window->testCount = 0;
    FreeMemory(&window->columns);
    window->columnCount = 0;
    ClearSortKeys(window);
    if (hadTests) window->modified = 1;
}

void CloseResultsWindow(ResultsWindow *window)
{
    if (!window) return;
    DeleteAllTests(window);
    FreeMemory(&window->fileTests);
    memset(window, 0, sizeof *window);
}

void RefreshResultsList(ResultsWindow *)
{
    /* The list's arrows, widths and selection belong to its window. */
}

/* ---- order -------------------------------------------------------------------- */

/* The list shows only the Results columns with a format, in their order;
** the statistics columns of the list, OptScoreCol and the parameter columns
** after them all count those.  shownIndex -1 gives the number shown; else
** the index in gResultsColumns of the shownIndex-th shown column, -1 when
** there is none. */
static int32_t ShownResultsColumn(int32_t shownIndex)
{
    const FormulaColumn *columns = (const FormulaColumn *)gResultsColumns.items;
    int32_t shown = 0;
    for (int32_t k = 0; columns && k < gResultsColumns.count; k++) {
        if (columns[k].format == 0) continue;
        if (shown == shownIndex) return k;
        shown++;
    }
    return shownIndex < 0 ? shown : -1;
}

/* The value a list column shows for the test, for sorting: statistics is
** the number of shown Results columns and k the index in gResultsColumns of
** the column's statistic (-1 for other columns). */
static double ColumnValue(const ResultsWindow *window, const TestRecord *test, int32_t column, int32_t statistics,
                          int32_t k)
{
    if (column == 0) return test->testNumber;
    if (column == 2) return test->settings.FirstDate * 1e8 + test->settings.LastDate;
    if (column < RESULTS_FIXED_COLUMNS + statistics) {
        if (k < 0 || !test->resultsValues || test->strategyCount <= 0) return 0;
        const int64_t perStrategy = test->resultsValueCount / test->strategyCount;
        const int64_t at = (int64_t)test->mainStrategy * perStrategy + k;
        return k < perStrategy && at < test->resultsValueCount ? test->resultsValues[at] : 0;
    }
    const int32_t p = column - RESULTS_FIXED_COLUMNS - statistics;
    if (p < 0 || p >= window->columnCount) return -1e14;
    for (int32_t i = 0; i < test->parameterCount; i++)
        if (CompareNoCase(test->parameters[i].name, window->columns[p].name) == 0) return test->parameters[i].value;
    return -1e14;
}

/* The window's sort keys in priority order, each read once for a sort. */
struct SortKey {
    int32_t column;     /* list column */
    int32_t statistic;  /* its index in gResultsColumns, -1 when not a statistic */
    int32_t descending;
};

static int32_t ReadSortKeys(const ResultsWindow *window, SortKey *keys)
{
    const int32_t statistics = ShownResultsColumn(-1);
    int32_t n = 0;
    for (int32_t k = 1; k <= window->keyCount && k <= RESULTS_SORT_KEY_MAX; k++) {
        for (int32_t c = 0; c < RESULTS_SORT_KEY_MAX; c++) {
            if (window->sortKeys[c] != k) continue;
            const bool statistic = c >= RESULTS_FIXED_COLUMNS && c < RESULTS_FIXED_COLUMNS + statistics;
            keys[n++] = SortKey{c, statistic ? ShownResultsColumn(c - RESULTS_FIXED_COLUMNS) : -1,
                                window->sortDescending[c]};
            break;
        }
    }
    return n;
}

/* -1/0/1 on one key; the Name column by its text, the others by value. */
static int CompareOnKey(const TestRecord *a, const TestRecord *b, double va, double vb, const SortKey &key)
{
    int order;
    if (key.column == 1) {
        order = CompareNoCase(a->settings.TestName, b->settings.TestName);
        order = order < 0 ? -1 : order > 0;
    } else {
        order = va < vb ? -1 : va > vb;
    }
    return key.descending ? -order : order;
}

int CompareResultsRows(const ResultsWindow *window, const TestRecord *a, const TestRecord *b)
{
    SortKey keys[RESULTS_SORT_KEY_MAX];
    const int32_t n = ReadSortKeys(window, keys);
    const int32_t statistics = ShownResultsColumn(-1);
    for (int32_t k = 0; k < n; k++) {
        const SortKey &key = keys[k];
        const double va = ColumnValue(window, a, key.column, statistics, key.statistic);
        const double vb = ColumnValue(window, b, key.column, statistics, key.statistic);
        if (int order = CompareOnKey(a, b, va, vb, key)) return order;
    }
    return 0;
}

void SortResultsRows(ResultsWindow *window)
{
    /* Each row's key values are read once, so that the sort itself compares
    ** numbers: a list of 10,000 tests takes some 140,000 comparisons. */
    SortKey keys[RESULTS_SORT_KEY_MAX];
    const int32_t n = ReadSortKeys(window, keys);
    const int32_t statistics = ShownResultsColumn(-1);
    std::vector<TestRecord *> rows; /* in the order shown */
    rows.reserve((size_t)(window->testCount > 0 ? window->testCount : 0));
    for (TestRecord *t = window->lastTest; t; t = t->previous) rows.push_back(t);
    std::vector<double> values(rows.size() * (size_t)n);
    for (size_t r = 0; r < rows.size(); r++)
        for (int32_t k = 0; k < n; k++)
            values[r * (size_t)n + (size_t)k] = ColumnValue(window, rows[r], keys[k].column, statistics, keys[k].statistic);
    std::vector<int32_t> order(rows.size());
    for (size_t r = 0; r < order.size(); r++) order[r] = (int32_t)r;
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const double *va = &values[(size_t)a * (size_t)n], *vb = &values[(size_t)b * (size_t)n];
        for (int32_t k = 0; k < n; k++)
            if (int c = CompareOnKey(rows[(size_t)a], rows[(size_t)b], va[k], vb[k], keys[k])) return c < 0;
        return false;
    });
    /* The list shows from its end: the first row sorted is linked last. */
    window->firstTest = window->lastTest = nullptr;
    for (auto r = order.rbegin(); r != order.rend(); ++r) LinkTestAtEnd(window, rows[(size_t)*r]);
}

static int32_t AnchorDate(const TestRecord *test)
{
    return gSettings.OptAnchor == 1 ? test->settings.LastDate : test->settings.FirstDate;
}

void SortResultsList(ResultsWindow *window, int keepBest, int keepByDate, int keepBySymbol)
{
    const int32_t scoreColumn = gSettings.OptScoreCol + RESULTS_FIXED_COLUMNS;
    if (!window || gSettings.OptScoreCol < 0 || gSettings.OptScoreCol >= ShownResultsColumn(-1) ||
        scoreColumn >= RESULTS_SORT_KEY_MAX)
        return;
    ClearSortKeys(window);
    int32_t priority = 1;
    if (keepByDate) window->sortKeys[2] = priority++;
    if (keepBySymbol) window->sortKeys[1] = priority++;
    window->sortKeys[scoreColumn] = priority;
    window->keyCount = priority;
    for (int32_t &d : window->sortDescending) d = 1;

    SortResultsRows(window);
    if (keepBest <= 0 || !window->lastTest) return;

    /* The rows in the order shown: the best first. */
    const TestRecord *first = window->lastTest;
    const int32_t anchor = AnchorDate(first);
    char name[TEST_NAME_SIZE];
    CopyString(name, sizeof name, first->settings.TestName, -1);
    int kept = 0;
    for (TestRecord *t = window->lastTest; t;) {
        TestRecord *next = t->previous;
        const bool inGroup = (!keepByDate || AnchorDate(t) == anchor) &&
            (!keepBySymbol || CompareNoCase(t->settings.TestName, name) == 0);
        if (inGroup && ++kept > keepBest) {
            UnlinkTest(window, t);
            FreeTestRecord(window, t);
        }
        t = next;
    }
}

void RecalculateTestStats(ResultsWindow *window, int full)
{
    /* Without full only the sort arrows and widths are restored: those
    ** belong to the list's window. */
    if (!window || !full || !gRunViewHooks.fillResultsRow) return;
    const uint64_t started = PlatTickCount64();
    bool shown = false, aborted = false;
    char savedStatus[256] = "";
    int32_t done = 0;
    for (TestRecord *t = window->firstTest; t; t = t->next) {
        /* A long list shows its progress and can be stopped with Escape; the
        ** rows not reached keep the values they had. */
        if (!shown && PlatTickCount64() - started > 1000) {
            shown = true;
            GetStatusText(0, savedStatus, sizeof savedStatus);
            SetStatusText(0, "Recalculating Test Stats...");
            SetWaitCursor(1);
        }
        if (shown) {
            SetStatusText(1, "Test %d of %d", (int)(done + 1), (int)window->testCount);
            PumpMessages();
            if (PlatEscapePressed()) {
                aborted = true;
                break;
            }
        }
        gRunViewHooks.fillResultsRow(window, t);
        done++;
    }
    if (shown) {
        SetWaitCursor(0);
        SetStatusText(1, nullptr);
        SetStatusText(0, savedStatus[0] ? savedStatus : nullptr);
    }
    if (aborted) ReportError("Calculation aborted");
}
