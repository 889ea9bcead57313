/* optimize_growth.cpp -- whether a test of a long optimization costs what
** the early tests cost: one seeded Random optimization of 30,000 tests (three
** parameters of 1 to 100, every test kept in the results list) over a small
** universe, timed test by test through the run's "Test %d of %d" status.
**
** Counters: ms_per_test_first and ms_per_test_last, the time per test of the
** first and of the last 5,000 tests of the one run, and ratio_last_to_first,
** their ratio: about 1 when a test's cost does not grow with the tests
** already listed. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "foundation/settings_table.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

const int32_t kTests = 30000;
const int32_t kSpan = 5000;

const char kScript[] =
    "Settings:\n"
    "  OptimizeMode: Random\n"
    "  OptIterations: 30000\n"
    "  RandomSeed: 7\n"
    "  OptKeepNoTrades: True\n"
    "Parameters:\n"
    "  A: from 1 to 100\n"
    "  B: from 1 to 100\n"
    "  Z: from 1 to 100\n"
    "Strategy: Dip\n"
    "  EntrySetup: C < O * (1 - A / 2000)\n"
    "  MaxPositions: 2\n"
    "  QtyType: Percent\n"
    "  Quantity: 40\n"
    "  ExitRule: C > O * (1 + B / 4000) or Z < 0\n";

/* The clock when each "Test %d of %d" status was shown: test 1, the first
** test after the first span, the first of the last span, and the end. */
std::chrono::steady_clock::time_point sMarks[4];
int32_t sLastTest;

void NoteTest(int part, const char *text)
{
    int number = 0, count = 0;
    if (part != 0 || sscanf(text, "Test %d of %d", &number, &count) != 2) return;
    sLastTest = number;
    auto now = std::chrono::steady_clock::now();
    if (number == 1) sMarks[0] = now;
    if (number == kSpan + 1) sMarks[1] = now;
    if (number == kTests - kSpan + 1) sMarks[2] = now;
}

void BM_OptimizeCostPerTest(benchmark::State &state)
{
    static int64_t bars = MakeBenchRun(5, 1, "kv_bench_optimize_growth", kScript);
    gSettings.ShowStatusBar = 1;
    gSettings.CalcThreads = 1;
    gSettings.OptClearResults = 1;
    int result = -1;
    int32_t listed = 0;
    for (auto _ : state) {
        sLastTest = 0;
        gHeadless.statusEcho = NoteTest;
        result = RunScript(RUN_MODE_OPTIMIZE);
        sMarks[3] = std::chrono::steady_clock::now();
        gHeadless.statusEcho = nullptr;
        ResultsWindow *window = FirstResultsWindow();
        listed = window ? window->testCount : 0;
        if (window) DeleteAllTests(window);
    }
    if (result != 0 || sLastTest != kTests || listed != kTests) {
        std::string why = "the optimization did not run its 30,000 tests: result " + std::to_string(result) +
            ", last test " + std::to_string(sLastTest) + ", listed " + std::to_string(listed);
        state.SkipWithError(why.c_str());
        return;
    }
    /* The end mark comes after the last test and the run's closing steps,
    ** which cost no more than a test here (no exports, no results file). */
    double first = Seconds(sMarks[0], sMarks[1]) / kSpan;
    double last = Seconds(sMarks[2], sMarks[3]) / kSpan;
    state.counters["bars"] = (double)bars;
    state.counters["ms_per_test_first"] = first * 1000;
    state.counters["ms_per_test_last"] = last * 1000;
    state.counters["ratio_last_to_first"] = last / first;
}
BENCHMARK(BM_OptimizeCostPerTest)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
