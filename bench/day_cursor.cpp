/* day_cursor.cpp -- what the day cursors save the exit checks and the
** valuations of held positions: one strategy that holds every position it
** opens (every symbol of the generated store, four years), run with the
** cursors and, in the same run, with every lookup searching as before
** (gPositionDayCursorsOff), at 1,000 and at 2,000 symbols, each five
** times.
**
** Counters: us_per_symbol_day with and without the cursors at each size (the
** test's least processor time over the store's symbol-days) and ratio_N, the time
** with the cursors over the time without: below 1 when reading the cursor
** costs less than the search it stands for.  The trades of both runs are
** counted too: they must be equal. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <string>

#include "engine/positions.h"
#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "marketdata/store/symbols.h"
#include "services/services.h"

namespace {

const char kScript[] = "Strategy: HoldAll\n"
                       "  EntrySetup: C > 0\n"
                       "  MaxPositions: 100000\n"
                       "  QtyType: Shares\n"
                       "  Quantity: 1\n"
                       "  ExitRule: C < 0\n";

/* Processor seconds of one test, its symbol-days and its trades. */
double TimeTest(int32_t symbols, int cursorsOff, int64_t *days, int32_t *trades, int *result)
{
    ResetSymbolStore();
    *days = MakeBenchRun(symbols, 4, "kv_bench_day_cursor", kScript);
    gPositionDayCursorsOff = cursorsOff;
    double t0 = CpuSeconds();
    *result = RunScript(RUN_MODE_TEST);
    double t1 = CpuSeconds();
    gPositionDayCursorsOff = 0;
    ResultsWindow *window = FirstResultsWindow();
    *trades = window && window->lastTest ? window->lastTest->closedTradeCount : -1;
    if (window) DeleteAllTests(window);
    return t1 - t0;
}

void BM_DayCursor(benchmark::State &state)
{
    const int32_t sizes[] = {1000, 2000};
    double seconds[2][2] = {};
    int64_t days[2] = {};
    int32_t trades[2][2] = {};
    int failed = 0;
    /* Each way five times, taking turns, the least time kept: other work
    ** on the machine slows a run down, never speeds it up. */
    for (auto _ : state) {
        for (int round = 0; round < 5; round++)
            for (int n = 0; n < 2; n++)
                for (int off = 1; off >= 0; off--) {
                    int result = -1;
                    double t = TimeTest(sizes[n], off, &days[n], &trades[n][off], &result);
                    if (round == 0 || t < seconds[n][off]) seconds[n][off] = t;
                    failed += result != 0;
                }
    }
    if (failed) {
        state.SkipWithError("a test did not run");
        return;
    }
    for (int n = 0; n < 2; n++) {
        std::string size = std::to_string(sizes[n]);
        state.counters["us_per_symbol_day_cursor_" + size] = seconds[n][0] / (double)days[n] * 1e6;
        state.counters["us_per_symbol_day_search_" + size] = seconds[n][1] / (double)days[n] * 1e6;
        state.counters["ratio_" + size] = seconds[n][0] / seconds[n][1];
        state.counters["trades_" + size] = trades[n][0];
        state.counters["trades_equal_" + size] = trades[n][0] == trades[n][1];
    }
}
BENCHMARK(BM_DayCursor)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
