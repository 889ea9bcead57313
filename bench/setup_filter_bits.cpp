/* setup_filter_bits.cpp -- what counting the setup filter's bits with the
** processor's instruction saves its build over the compiler's library
** routine.  One strategy whose EntrySetup holds on about half the bars, on
** 2,000 symbols of the generated store over ten years: the run computes
** what the filter reads, then the filter is built again and again, in the
** same run both ways (gSetupFilterPlainBitCount).
**
** Counters: ms_per_build_instruction and ms_per_build_library (one worker,
** processor time) and ratio_instruction_to_library, their ratio: below 1 by
** the share the counting had.  filters_equal is 1 when both ways gave the
** same bar indexes. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <cstring>
#include <vector>

#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "engine/setup_filter.h"
#include "marketdata/store/symbols.h"
#include "services/services.h"

namespace {

const char kScript[] = "Strategy: Up\n"
                       "  EntrySetup: C > O\n"
                       "  MaxPositions: 20\n"
                       "  QtyType: Shares\n"
                       "  Quantity: 1\n"
                       "  ExitRule: BarsHeld >= 3\n";

/* Processor seconds of one build; the filter's bar indexes through indexes. */
double TimeBuild(int plain, std::vector<int32_t> *indexes)
{
    EvalContext context;
    memset(&context, 0, sizeof context);
    context.barSize = BAR_DAILY;
    context.strategyIndex = -1;
    context.dataItemIndex = -1;
    context.funBar = -1;
    context.priceScale = 1.0;
    context.walkForwardInterval = -1;
    gSetupFilterPlainBitCount = plain;
    double t0 = CpuSeconds();
    int built = BuildSetupFilters(&context, gStore.firstDate, gStore.lastDate);
    double t1 = CpuSeconds();
    gSetupFilterPlainBitCount = 0;
    indexes->clear();
    const SetupFilter *filter = built && gSetupFilter.count > 0 ? &gSetupFilter.filters[0] : nullptr;
    if (filter && filter->barIndex) {
        int64_t words = (int64_t)filter->rowCount * filter->words;
        int64_t total = words > 0 ? filter->wordStart[words - 1] + __builtin_popcountll(filter->bits[words - 1]) : 0;
        indexes->assign(filter->barIndex, filter->barIndex + total);
    }
    FreeSetupFilters();
    return t1 - t0;
}

void BM_SetupFilterBits(benchmark::State &state)
{
    ResetSymbolStore();
    MakeBenchRun(2000, 10, "kv_bench_setup_filter_bits", kScript);
    if (RunScript(RUN_MODE_TEST) != 0) {
        state.SkipWithError("the test did not run");
        return;
    }
    double instruction = 0, library = 0;
    bool equal = true;
    std::vector<int32_t> a, b;
    for (auto _ : state) {
        library += TimeBuild(1, &a);
        instruction += TimeBuild(0, &b);
        equal = equal && !a.empty() && a == b;
    }
    double builds = (double)state.iterations();
    state.counters["ms_per_build_instruction"] = instruction / builds * 1e3;
    state.counters["ms_per_build_library"] = library / builds * 1e3;
    state.counters["ratio_instruction_to_library"] = instruction / library;
    state.counters["filters_equal"] = equal;
    ResultsWindow *window = FirstResultsWindow();
    if (window) DeleteAllTests(window);
}
BENCHMARK(BM_SetupFilterBits)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace
