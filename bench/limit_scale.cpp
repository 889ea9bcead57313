/* limit_scale.cpp -- whether a test's cost per symbol-day stays flat as the
** universe grows: one strategy whose every symbol is a setup on every day and
** which holds every position it opens, so each day's setups are checked
** against every open position of the account (the same-symbol limit refuses
** all but the new symbols).  The same test runs on 250 and on 1,000 symbols
** of the generated store, four years each.
**
** Counters: us_per_symbol_day at each size (the test phase's time over the
** symbol-days of the store, in processor time) and ratio_1000_to_250, their ratio: about 1 when
** the limit checks cost the same per setup whatever the account holds. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <ctime>
#include <string>

#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "marketdata/store/symbols.h"
#include "services/services.h"

namespace {

const char kScript[] =
    "Strategy: HoldAll\n"
    "  EntrySetup: C > 0\n"
    "  MaxPositions: 100000\n"
    "  QtyType: Shares\n"
    "  Quantity: 1\n"
    "  ExitRule: C < 0\n";

/* Processor seconds of one test over a store of `symbols` symbols; symbol-days made. */
double TimeTest(int32_t symbols, int64_t *days, int32_t *trades, int *result)
{
    ResetSymbolStore();
    *days = MakeBenchRun(symbols, 4, "kv_bench_limit_scale", kScript);
    double t0 = CpuSeconds();
    *result = RunScript(RUN_MODE_TEST);
    double t1 = CpuSeconds();
    ResultsWindow *window = FirstResultsWindow();
    *trades = window && window->lastTest ? window->lastTest->closedTradeCount : -1;
    if (window) DeleteAllTests(window);
    return t1 - t0;
}

void BM_LimitCheckScale(benchmark::State &state)
{
    double small = 0, large = 0;
    int64_t smallDays = 0, largeDays = 0;
    int32_t smallTrades = 0, largeTrades = 0;
    int smallResult = -1, largeResult = -1;
    for (auto _ : state) {
        small = TimeTest(250, &smallDays, &smallTrades, &smallResult);
        large = TimeTest(1000, &largeDays, &largeTrades, &largeResult);
    }
    if (smallResult != 0 || largeResult != 0) {
        std::string why = "the tests did not run: results " + std::to_string(smallResult) + " and " +
            std::to_string(largeResult);
        state.SkipWithError(why.c_str());
        return;
    }
    double perSmall = small / (double)smallDays, perLarge = large / (double)largeDays;
    state.counters["us_per_symbol_day_250"] = perSmall * 1e6;
    state.counters["us_per_symbol_day_1000"] = perLarge * 1e6;
    state.counters["ratio_1000_to_250"] = perLarge / perSmall;
    state.counters["trades_250"] = smallTrades;
    state.counters["trades_1000"] = largeTrades;
}
BENCHMARK(BM_LimitCheckScale)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
