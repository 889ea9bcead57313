/* results_list.cpp -- speed of the results list of a large optimization:
** 10,000 tests (Len 5 to 54 by ExitLen 2 to 201) with six Results columns,
** sorted by a column and their rows filled, as a click on a column heading
** does.
**
** The list sorts its tests once on the values stored with them and fills a
** row's cells from those values (ResultsCellText).  The baseline, measured
** in the same run, is the way the window used to do it: the sort comparing
** rows through CompareResultsRows, then every row filled again with
** FillResultsRow, which computes every Results column of the test anew.
** The list is measured filling every cell of every row (argument 0, as a
** copy of the whole list does) and filling one page of 40 rows (what the
** window asks for after a sort).  The Results formulas are constants, so
** the baseline's evaluations are as cheap as they come: with a script's
** statistics the old way costs more.
**
** Counters: ms per sort and fill, baseline ms, ratio (ms / baseline ms), and
** checksum and baseline checksum: the test numbers of the first and last
** rows after a descending sort (200 and 9801), which must agree. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "engine/results_file.h"
#include "engine/results_list.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/script_state.h"
#include "views/results_rows.h"

namespace {

const int32_t kTests = 10000;

const char kScript[] = "Results:\n"
                       "  Net: 1000 + 2 {$2}\n"
                       "  Gain: 12.5 * 2 {#2}\n"
                       "  Count: 40 {#}\n"
                       "  Ratio: 3 / 4 {#2}\n"
                       "  Draw: 0 - 7 {#2}\n"
                       "  Held: 9 {#}\n";

struct Bench {
    ResultsWindow *window = nullptr;
    int32_t columns = 0;
    int32_t sortColumn = 0; /* ExitLen */
    Bench()
    {
        MakeBenchRun(1, 1, "kv_bench_results_list", kScript);
        if (!CompileScript(gSettings.ActiveScript, RUN_MODE_TEST, 1)) return;
        ParamValue names[2] = {};
        CopyString(names[0].name, sizeof names[0].name, "Len", -1);
        CopyString(names[1].name, sizeof names[1].name, "ExitLen", -1);
        window = CreateResultsWindow(2, names);
        for (int32_t n = 1; window && n <= kTests; n++) {
            TestRecord *t = ReadTestRecord(nullptr, 2, 1, 1, 0);
            t->testNumber = n;
            t->settings.FirstDate = 20240102;
            t->settings.LastDate = 20241231;
            t->parameters[0] = names[0];
            t->parameters[0].value = 5 + (n - 1) / 200;
            t->parameters[1] = names[1];
            t->parameters[1].value = 2 + (n - 1) % 200;
            AddTestToResults(window, t);
            FillResultsRow(window, t, nullptr, 0); /* as the run stores them */
        }
        columns = CountResultsListColumns(window);
        sortColumn = columns - 1;
    }
};

Bench &TheBench()
{
    static Bench bench;
    return bench;
}

/* The next sort: by ExitLen, descending or not. */
void SetSortKey(ResultsWindow *window, int32_t column, int32_t descending)
{
    window->sortKeys[column] = 1;
    window->keyCount = 1;
    window->sortDescending[column] = descending;
}

double Checksum(const ResultsWindow *window)
{
    return window->firstTest->testNumber * 100000.0 + window->lastTest->testNumber;
}

/* The window's old way: comparisons through CompareResultsRows, then every
** row filled again, every statistic computed. */
double BaselineSeconds(Bench &b, double *checksum)
{
    std::vector<char[RESULTS_CELL_SIZE]> cells((size_t)b.columns);
    double best = 1e30;
    for (int run = 0; run < 3; run++) {
        SetSortKey(b.window, b.sortColumn, run != 1); /* the rows move every time; the last sort descends */
        const auto start = std::chrono::steady_clock::now();
        std::vector<TestRecord *> rows;
        for (TestRecord *t = b.window->firstTest; t; t = t->next) rows.push_back(t);
        std::stable_sort(rows.begin(), rows.end(),
                         [&](TestRecord *x, TestRecord *y) { return CompareResultsRows(b.window, x, y) < 0; });
        b.window->firstTest = b.window->lastTest = nullptr;
        for (TestRecord *t : rows) {
            t->previous = b.window->lastTest;
            t->next = nullptr;
            (t->previous ? t->previous->next : b.window->firstTest) = t;
            b.window->lastTest = t;
        }
        for (TestRecord *t = b.window->firstTest; t; t = t->next) FillResultsRow(b.window, t, cells.data(), b.columns);
        best = std::min(best, Seconds(start, std::chrono::steady_clock::now()));
        if (run == 2) *checksum = Checksum(b.window);
    }
    return best;
}

void BM_SortAndFillRows(benchmark::State &state)
{
    Bench &b = TheBench();
    if (!b.window) {
        state.SkipWithError("the Results columns did not compile");
        return;
    }
    double baselineChecksum = 0;
    const double baseline = BaselineSeconds(b, &baselineChecksum);
    /* Argument 0: every row filled; else that many rows, a page in sight. */
    const int32_t rows = state.range(0) > 0 ? (int32_t)state.range(0) : kTests;
    char cell[RESULTS_CELL_SIZE];
    int32_t descending = 1; /* as the baseline left the list */
    double seconds = 0, checksum = 0;
    int64_t length = 0;
    for (auto _ : state) {
        descending = !descending;
        SetSortKey(b.window, b.sortColumn, descending); /* the rows move every time */
        const auto start = std::chrono::steady_clock::now();
        SortResultsRows(b.window);
        int32_t row = 0;
        for (const TestRecord *t = b.window->firstTest; t && row < rows; t = t->next, row++)
            for (int32_t c = 0; c < b.columns; c++) {
                ResultsCellText(b.window, t, c, cell);
                length += cell[0];
            }
        seconds += Seconds(start, std::chrono::steady_clock::now());
    }
    /* The baseline's last sort was descending. */
    if (!descending) {
        SetSortKey(b.window, b.sortColumn, 1);
        SortResultsRows(b.window);
    }
    checksum = Checksum(b.window);
    benchmark::DoNotOptimize(length);
    const double ms = seconds * 1e3 / (double)state.iterations();
    state.counters["ms"] = ms;
    state.counters["baseline ms"] = baseline * 1e3;
    state.counters["ratio"] = ms / (baseline * 1e3);
    state.counters["checksum"] = checksum;
    state.counters["baseline checksum"] = baselineChecksum;
}

} // namespace

BENCHMARK(BM_SortAndFillRows)->Arg(0)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(1.0);
