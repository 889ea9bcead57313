/* optimize_history.cpp -- whether an optimization's cost depends on the
** history before its dates.  The same optimization (200 tests of three months,
** one worker) runs on the generated store over 25 years and on that store
** cut to its last three years: the same bars on the tested dates, the same
** Data values there (their windows are far shorter than the three years), so
** the same trades, and only the history before differs.
**
** The Data items are calculated once, over the whole history (their values
** depend on the bars before the tested dates); the tests that follow are
** what should not grow with it.
**
** Counters: s_25_years and s_3_years, the processor time of each whole
** optimization (the fastest of three), and ratio_25_to_3_years, their ratio:
** near 1 when a test spends nothing on the years it does not visit;
** s_data_25_years and s_data_3_years, what the Data calculation alone takes
** on each, and ratio_tests_25_to_3_years, the ratio of the optimizations
** without it.  trades_* show that both made the same trades. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/builtins.h"
#include "script/datacalc/data_calc.h"
#include "services/services.h"

namespace {

const int32_t kSymbols = 250;
const int32_t kTests = 200;

const char kScript[] =
    "Parameters:\n"
    "  Hold: from 1 to 40\n"
    "  Floor: 0.5, 1, 1.5, 2, 3\n"
    "Data:\n"
    "  Trend: C > MA(C, 50)\n"
    "  Change: C - C[3]\n"
    "  Strength: (C - L) / (H - L + 0.01)\n"
    "Strategy: Swing\n"
    "  EntrySetup: Trend AND Change > 0 AND Strength > 0.3\n"
    "  SetupScore: Strength\n"
    "  MaxPositions: 20\n"
    "  QtyType: Percent\n"
    "  Quantity: 5\n"
    "  ExitRule: BarsHeld >= Hold OR Change < -Floor\n";

/* Drops every bar and market date before date, as a data file that starts
** there would hold them. */
void CutStoreBefore(int32_t date)
{
    DateList &daily = gStore.dateLists[BAR_DAILY];
    int32_t dropped = (int32_t)(std::lower_bound(daily.dates, daily.dates + daily.count, (uint32_t)date) - daily.dates);
    memmove(daily.dates, daily.dates + dropped, (size_t)(daily.count - dropped) * sizeof(uint32_t));
    daily.count -= dropped;
    for (int32_t s = 0; s < gStore.symbolCount; s++) {
        SymbolRecord &r = gStore.symbols[s];
        Bar *bars = r.bars[BAR_DAILY];
        int32_t n = r.barCounts[BAR_DAILY];
        int32_t k = (int32_t)(std::lower_bound(bars, bars + n, date, [](const Bar &b, int32_t d) { return b.date < d; }) -
                              bars);
        memmove(bars, bars + k, (size_t)(n - k) * sizeof(Bar));
        r.barCounts[BAR_DAILY] = n - k;
        r.firstDate = bars[0].date;
        r.firstUsedDate = FIRST_USED_NONE;
    }
    gStore.firstDate = (int32_t)daily.dates[0];
    BuildCalendarSymbol();
}

/* Processor seconds of one whole optimization of the last three months,
** the fastest of three: what other work on the machine costs a run (caches,
** memory) only adds.  *calc: the Data calculation's part, timed alone. */
double TimeOptimization(int32_t *tests, int32_t *trades, int *result, double *calc)
{
    double best = 0;
    for (int round = 0; round < 3; round++) {
        gSettings.OptimizeMode = 0;
        gSettings.OptClearResults = 1;
        gSettings.OptBySymbol = 0;
        gSettings.OptByStrategy = 0;
        gSettings.OptKeepNoTrades = 1;
        gSettings.LastDate = gStore.lastDate;
        gSettings.FirstDate = gStore.lastDate - 300; /* three months before, as a yyyymmdd date */
        SetDataRecalcNeeded();
        double t0 = CpuSeconds();
        *result = RunScript(RUN_MODE_OPTIMIZE);
        double t1 = CpuSeconds();
        if (gRun.resultCode.load() != RESULT_OK) *result = gRun.resultCode.load();
        ResultsWindow *window = FirstResultsWindow();
        *tests = window ? window->testCount : 0;
        *trades = 0;
        for (const TestRecord *t = window ? window->firstTest : nullptr; t; t = t->next) *trades += t->closedTradeCount;
        if (window) DeleteAllTests(window);
        if (*result != 0) return 0;
        SetDataRecalcNeeded();
        double c0 = CpuSeconds();
        CalcDataArraysForBarSize(nullptr, 1);
        double c1 = CpuSeconds();
        if (round == 0 || t1 - t0 < best) best = t1 - t0;
        if (round == 0 || c1 - c0 < *calc) *calc = c1 - c0;
    }
    return best;
}

void BM_OptimizeHistory(benchmark::State &state)
{
    double longTime = 0, shortTime = 0, longCalc = 0, shortCalc = 0;
    int32_t longTests = 0, shortTests = 0, longTrades = 0, shortTrades = 0;
    int longResult = -1, shortResult = -1;
    InstallBuiltins();
    for (auto _ : state) {
        ResetSymbolStore();
        MakeBenchRun(kSymbols, 25, "kv_bench_optimize_history", kScript);
        longTime = TimeOptimization(&longTests, &longTrades, &longResult, &longCalc);
        CutStoreBefore(gStore.lastDate - 30000);
        shortTime = TimeOptimization(&shortTests, &shortTrades, &shortResult, &shortCalc);
    }
    if (longResult != 0 || shortResult != 0 || longTests != kTests || shortTests != kTests) {
        std::string why = "the optimizations did not run: results " + std::to_string(longResult) + " and " +
            std::to_string(shortResult) + ", tests " + std::to_string(longTests) + " and " + std::to_string(shortTests);
        if (gHeadless.logText) why += std::string(": ") + gHeadless.logText;
        state.SkipWithError(why.c_str());
        return;
    }
    state.counters["s_25_years"] = longTime;
    state.counters["s_3_years"] = shortTime;
    state.counters["ratio_25_to_3_years"] = longTime / shortTime;
    state.counters["s_data_25_years"] = longCalc;
    state.counters["s_data_3_years"] = shortCalc;
    state.counters["ratio_tests_25_to_3_years"] = (longTime - longCalc) / (shortTime - shortCalc);
    state.counters["trades_25_years"] = longTrades;
    state.counters["trades_3_years"] = shortTrades;
}
BENCHMARK(BM_OptimizeHistory)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
