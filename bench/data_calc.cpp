/* data_calc.cpp -- speed of the Data-section calculation: ten formulas of
** operators and bar values over 2,000 symbols of 25 years of daily bars,
** computed from scratch with 1, 2, 4 and 8 workers (and every core).
**
** Counters: bars/s (symbol-bars per second of wall time, each evaluating all
** ten items), bars/s/core (symbol-bars per second of processor time summed
** over all threads), and a checksum of every stored value, so a speed change
** that also changes the answers shows. */
#include <benchmark/benchmark.h>

#include "bench_store.h"

#include <cmath>
#include <ctime>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/keywords.h"
#include "script/datacalc/data_calc.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

const int32_t kSymbols = 2000;
const int32_t kYears = 25;

/* clang-format off */
const char *const kItems[][2] = {
    {"Span", "C - O"},
    {"Middle", "(H + L) / 2"},
    {"Turnover", "C * V"},
    {"Change", "C[1] - C"},
    {"Stoch", "(C - L) / (H - L + 0.01)"},
    {"SpanMid", "Span + Middle"},
    {"VolSum", "V[2] * 0.5 + V"},
    {"UpDay", "C > O AND V > 1200"},
    {"Square", "Change * Change - Stoch"},
    {"Smooth", "(C + C[3] + C[5]) / 3 - Middle"},
};
/* clang-format on */
const int32_t kItemCount = (int32_t)(sizeof kItems / sizeof kItems[0]);

struct Store {
    int64_t bars = 0;
    std::vector<std::string> texts;

    Store()
    {
        gHeadless.captureLog = 1;
        gSettings.MaxMemPct = 95;
        gSettings.ShowStatusBar = 0;
        gSettings.StatusBarFields = 4;
        gSettings.UseShortCircuit = 1;
        gSettings.NearZero = 1.0e-13;
        gSettings.BarSize2 = BAR_DAILY;
        gRun.mode = 1;

        bars = MakeBenchStore(kSymbols, kYears);

        texts.reserve(kItemCount);
        for (int32_t i = 0; i < kItemCount; i++) {
            AddDefinitionRecord(&gDataItems, sizeof(FormulaItem));
            FormulaItem *item = (FormulaItem *)gDataItems.items + i;
            item->sequence = i;
            item->barSize = -1;
            texts.push_back(kItems[i][1]);
            item->formula.scriptText = texts.back().c_str();
            item->formula.length = (int32_t)texts.back().size();
            CopyString(item->formula.name, sizeof item->formula.name, kItems[i][0], -1);
        }
        for (int32_t i = 0; i < kItemCount; i++)
            if (!CompileFormula(&((FormulaItem *)gDataItems.items)[i].formula, SECTION_DATA, i)) abort();
        /* One calculation first, so the blocks are allocated and touched
        ** before any timing: the measured runs compute into them. */
        gSettings.CalcThreads = 8;
        if (!CalcDataArraysForBarSize(nullptr, 1)) abort();
    }
};

Store &TheStore()
{
    static Store store;
    return store;
}

double Checksum()
{
    double sum = 0;
    for (int32_t s = 0; s <= gStore.symbolCount; s++) {
        const SymbolRecord *r = s < gStore.symbolCount ? &gStore.symbols[s] : &gStore.calendar;
        uint64_t n = TrackedBlockSize(r->dataValues[0]) / sizeof(double);
        for (uint64_t i = 0; i < n; i++)
            if (!std::isnan(r->dataValues[0][i])) sum += r->dataValues[0][i];
    }
    return sum;
}

void BM_DataCalc(benchmark::State &state)
{
    Store &store = TheStore();
    int threads = (int)state.range(0);
    gSettings.CalcThreads = threads;
    /* CPU time of the whole process (every worker), so the rate per core
    ** holds even when other programs share the machine. */
    std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        SetDataRecalcNeeded();
        if (!CalcDataArraysForBarSize(nullptr, 1)) state.SkipWithError("calculation failed");
    }
    double cpuSeconds = (double)(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    double bars = (double)store.bars * (double)state.iterations();
    state.counters["bars/s"] = benchmark::Counter((double)store.bars, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bars/s/core"] = cpuSeconds > 0 ? bars / cpuSeconds : 0;
    state.counters["workers"] = threads;
    state.counters["checksum"] = Checksum();
}

void WorkerCounts(benchmark::internal::Benchmark *b)
{
    int cores = (int)std::thread::hardware_concurrency();
    for (int n : {1, 2, 4, 8})
        if (n <= cores) b->Arg(n);
    if (cores != 1 && cores != 2 && cores != 4 && cores != 8) b->Arg(std::min(cores, 32));
}

} // namespace

BENCHMARK(BM_DataCalc)->Apply(WorkerCounts)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
