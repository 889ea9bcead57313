/* test_run.cpp -- speed of a whole portfolio test: ten Data items over a
** universe of daily bars, then the date loop of one strategy that enters on
** a condition, ranks its setups by a score and holds at most 20 positions.
**
** The data calculation and the date loop are timed separately in the same
** run, each with bars/s (symbol-bars of the universe per second), beside a
** plain loop over the same bars (the sum of the closes) as the baseline.
** Counters: ratio_loop_to_calc is the date loop's time over the data
** calculation's (the aim is 1 or less on one worker), and ratio_to_baseline
** each timing over the plain loop's.  The trade count is reported too, so a
** change in speed that also changes the answers shows; with KV_BENCH_EXPORT
** naming a folder, the test's statistics and trades CSVs are written there
** too, to be compared byte for byte with another build's. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/compile_driver.h"
#include "script/datacalc/data_calc.h"
#include "shell/headless/headless.h"
#include "views/stats_export.h"
#include "services/services.h"

namespace {

const int32_t kSymbols = 2000;
const int32_t kYears = 25;

const char kScript[] =
    "Data:\n"
    "  Span: C - O\n"
    "  Middle: (H + L) / 2\n"
    "  Turnover: C * V\n"
    "  Change: C[1] - C\n"
    "  Stoch: (C - L) / (H - L + 0.01)\n"
    "  SpanMid: Span + Middle\n"
    "  VolSum: V[2] * 0.5 + V\n"
    "  UpDay: C > O AND V > 1200\n"
    "  Square: Change * Change - Stoch\n"
    "  Smooth: (C + C[3] + C[5]) / 3 - Middle\n"
    "Strategy: Ranked\n"
    "  EntrySetup: UpDay AND Stoch > 0.6\n"
    "  SetupScore: Square\n"
    "  MaxPositions: 20\n"
    "  QtyType: Percent\n"
    "  Quantity: 5\n"
    "  ExitRule: Span < 0 AND Smooth < 0\n";

struct Universe {
    int64_t bars = MakeBenchRun(kSymbols, kYears, "kv_bench_test_run", kScript);
};

Universe &TheUniverse()
{
    static Universe universe;
    return universe;
}

void BM_TestRun(benchmark::State &state)
{
    Universe &u = TheUniverse();
    double calc = 0, loop = 0, plain = 0, trades = 0, sink = 0;
    for (auto _ : state) {
        /* The baseline: every bar of the universe touched once. */
        auto t0 = std::chrono::steady_clock::now();
        double sum = 0;
        for (int32_t s = 0; s < gStore.symbolCount; s++) {
            const Bar *bars = gStore.symbols[s].bars[BAR_DAILY];
            for (int32_t i = 0; i < gStore.symbols[s].barCounts[BAR_DAILY]; i++) sum += bars[i].close;
        }
        sink += sum;
        auto t1 = std::chrono::steady_clock::now();

        gRun.mode = 3;
        if (!CompileScript(gSettings.ActiveScript, 3, 1) || !CompileScript(gSettings.ActiveScript, 3, 2)) {
            state.SkipWithError("compile failed");
            return;
        }
        SetDataRecalcNeeded();
        auto t2 = std::chrono::steady_clock::now();
        if (!CalculateData()) {
            state.SkipWithError("data calculation failed");
            return;
        }
        auto t3 = std::chrono::steady_clock::now();
        ResultsWindow *window = FirstResultsWindow();
        if (!window) window = CreateResultsWindow(0, nullptr);
        gEngineRun.results = window;
        gEngineRun.startDate = gSettings.FirstDate;
        gEngineRun.testCount = 1;
        gRun.state = RUN_TESTING;
        int ok = RunTest(0, 0);
        gRun.state = RUN_IDLE;
        auto t4 = std::chrono::steady_clock::now();
        if (!ok || !window->lastTest) {
            state.SkipWithError("test failed");
            return;
        }
        trades = window->lastTest->closedTradeCount;
        if (const char *folder = getenv("KV_BENCH_EXPORT")) {
            if (!SaveStatsCsv(window->lastTest, (std::string(folder) + "/stats.csv").c_str()) ||
                !SaveTradesCsv(window->lastTest, (std::string(folder) + "/trades.csv").c_str())) {
                state.SkipWithError("the exports could not be written");
                return;
            }
        }
        DeleteAllTests(window);
        plain += Seconds(t0, t1);
        calc += Seconds(t2, t3);
        loop += Seconds(t3, t4);
    }
    double n = (double)state.iterations();
    state.counters["calc_s"] = calc / n;
    state.counters["loop_s"] = loop / n;
    state.counters["baseline_s"] = plain / n;
    state.counters["calc_bars_per_s"] = (double)u.bars * n / calc;
    state.counters["loop_bars_per_s"] = (double)u.bars * n / loop;
    state.counters["ratio_loop_to_calc"] = loop / calc;
    state.counters["calc_to_baseline"] = calc / plain;
    state.counters["loop_to_baseline"] = loop / plain;
    state.counters["trades"] = trades;
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_TestRun)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
