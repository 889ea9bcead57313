/* optimize.cpp -- speed of an optimization: 64 parameter combinations of a
** one-strategy test over 500 symbols and 10 years of daily bars, run through
** the run driver as an unattended Optimize run, once with one calculation
** worker and once with one per core.
**
** Counters: tests_per_s for each worker count, speedup (one worker's time
** over all workers'), and ratio_to_baseline, the time per test over a plain
** loop that touches every bar once, measured in the same run. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/datacalc/data_calc.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

const int32_t kSymbols = 500;
const int32_t kYears = 10;
const int32_t kCombinations = 64;

const char kScript[] =
    "Parameters:\n"
    "  Fast: from 2 to 9\n"
    "  Slow: from 10 to 24 step 2\n"
    "Data:\n"
    "  Quick: C - C[Fast]\n"
    "  Long: (C - C[Slow]) / 2\n"
    "Strategy: Cross\n"
    "  EntrySetup: Quick > Long\n"
    "  MaxPositions: 20\n"
    "  QtyType: Percent\n"
    "  Quantity: 5\n"
    "  ExitRule: Quick < Long\n";

struct Universe {
    int64_t bars = MakeBenchRun(kSymbols, kYears, "kv_bench_optimize", kScript);
};

Universe &TheUniverse()
{
    static Universe universe;
    return universe;
}

/* Seconds of one whole optimization with the given calculation workers. */
double RunOptimization(int32_t workers, int32_t *tests)
{
    gSettings.CalcThreads = workers;
    gSettings.OptimizeMode = 0;
    gSettings.OptClearResults = 1;
    gSettings.OptTimeUnit = 0;
    gSettings.OptIterations = 1;
    gSettings.OptBySymbol = 0;
    gSettings.OptByStrategy = 0;
    SetDataRecalcNeeded();
    auto t0 = std::chrono::steady_clock::now();
    int result = RunScript(RUN_MODE_OPTIMIZE);
    auto t1 = std::chrono::steady_clock::now();
    ResultsWindow *window = FirstResultsWindow();
    *tests = result == 0 && window ? window->testCount : 0;
    if (window) DeleteAllTests(window);
    return Seconds(t0, t1);
}

void BM_Optimize(benchmark::State &state)
{
    Universe &u = TheUniverse();
    int32_t cores = std::min(PlatProcessorCount(), 32);
    double one = 0, all = 0, plain = 0, sink = 0;
    int32_t testsOne = 0, testsAll = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        double sum = 0;
        for (int32_t s = 0; s < gStore.symbolCount; s++) {
            const Bar *bars = gStore.symbols[s].bars[BAR_DAILY];
            for (int32_t i = 0; i < gStore.symbols[s].barCounts[BAR_DAILY]; i++) sum += bars[i].close;
        }
        sink += sum;
        plain += Seconds(t0, std::chrono::steady_clock::now());
        one += RunOptimization(1, &testsOne);
        all += RunOptimization(cores, &testsAll);
    }
    if (testsOne != kCombinations || testsAll != kCombinations) {
        std::string why = "the optimization did not run every combination: " + std::to_string(testsOne) + " " +
            std::to_string(testsAll);
        state.SkipWithError(why.c_str());
        return;
    }
    double n = (double)state.iterations();
    state.counters["bars"] = (double)u.bars;
    state.counters["cores"] = cores;
    state.counters["tests_per_s_1"] = kCombinations * n / one;
    state.counters["tests_per_s_all"] = kCombinations * n / all;
    state.counters["speedup"] = one / all;
    state.counters["ratio_to_baseline_1"] = (one / kCombinations) / plain;
    state.counters["ratio_to_baseline_all"] = (all / kCombinations) / plain;
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_Optimize)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
