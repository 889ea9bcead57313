/* cross_section.cpp -- speed of a cross-sectional rank: #Rank of a Data item
** over 2,000 symbols of 25 years of daily bars, with 1 worker and every core.
**
** Each iteration computes the item's argument for every symbol (the
** per-symbol pass) and then ranks it date by date (the per-date pass), each
** timed on its own.  Counters: dates/s of the rank pass; rank/item, the rank
** pass's time over the argument pass's (the aim: at most 1); rank_share, its
** share of the whole calculation of the item; and rank/plain, the rank pass
** over a plain loop that ranks as many values from a dense date-by-symbol
** array on one thread (qsort and a write per member), measured in the same run. */
#include <benchmark/benchmark.h>

#include "bench_store.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
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

/* The ranked item's argument is a typical per-bar formula. */
const char *const kItems[][2] = {
    {"Ranked", "#Rank (C - O) / (H - L + 0.01) * V"},
};
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

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct PlainEntry {
    int32_t position;
    double value;
};

int ComparePlain(const void *a, const void *b)
{
    const PlainEntry *x = (const PlainEntry *)a, *y = (const PlainEntry *)b;
    if (x->value != y->value) return x->value < y->value ? -1 : 1;
    return y->position - x->position;
}

/* Seconds the plain loop takes to rank every date of a dense array of the
** same size (NaN where a symbol has no bar). */
double PlainLoopSeconds()
{
    static double seconds = -1;
    if (seconds >= 0) return seconds;
    int32_t dates = gStore.dateLists[BAR_DAILY].count;
    std::vector<double> dense((size_t)dates * kSymbols, NAN);
    for (int32_t s = 0; s < kSymbols; s++) {
        const SymbolRecord &r = gStore.symbols[s];
        int32_t offset = dates - r.barCounts[BAR_DAILY];
        for (int32_t i = 0; i < r.barCounts[BAR_DAILY]; i++)
            dense[(size_t)(offset + i) * kSymbols + s] = r.bars[BAR_DAILY][i].close - r.bars[BAR_DAILY][i].open;
    }
    std::vector<PlainEntry> entries((size_t)kSymbols);
    std::vector<double> ranks(dense.size());
    auto start = std::chrono::steady_clock::now();
    for (int32_t d = 0; d < dates; d++) {
        double *row = &dense[(size_t)d * kSymbols];
        int n = 0;
        for (int32_t s = 0; s < kSymbols; s++)
            if (!std::isnan(row[s])) entries[(size_t)n++] = {s, row[s]};
        qsort(entries.data(), (size_t)n, sizeof(PlainEntry), ComparePlain);
        for (int k = 0; k < n; k++) ranks[(size_t)d * kSymbols + entries[(size_t)k].position] = n - k;
    }
    seconds = Seconds(start);
    benchmark::DoNotOptimize(ranks.data());
    return seconds;
}

void BM_CrossSectionRank(benchmark::State &state)
{
    TheStore();
    CalcRun run{};
    run.maxWorkers = (int32_t)state.range(0);
    run.walkForwardInterval = -1;
    FormulaItem *item = (FormulaItem *)gDataItems.items;
    double argumentSeconds = 0, rankSeconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (RunCalcThreads(item, 0, 0, &run) != 0) state.SkipWithError("argument pass failed");
        argumentSeconds += Seconds(start);
        start = std::chrono::steady_clock::now();
        if (RunCalcThreads(item, 0, 1, &run) != 0) state.SkipWithError("rank pass failed");
        rankSeconds += Seconds(start);
    }
    double iterations = (double)state.iterations();
    double plain = PlainLoopSeconds();
    state.counters["dates/s"] = rankSeconds > 0 ? gStore.dateLists[BAR_DAILY].count * iterations / rankSeconds : 0;
    state.counters["rank/item"] = argumentSeconds > 0 ? rankSeconds / argumentSeconds : 0;
    state.counters["rank_share"] = rankSeconds / (rankSeconds + argumentSeconds);
    state.counters["rank/plain"] = plain > 0 ? rankSeconds / iterations / plain : 0;
    state.counters["workers"] = (double)run.maxWorkers;
}

void WorkerCounts(benchmark::internal::Benchmark *b)
{
    int cores = (int)std::thread::hardware_concurrency();
    b->Arg(1);
    if (cores > 1) b->Arg(std::min(cores, 32));
}

} // namespace

BENCHMARK(BM_CrossSectionRank)->Apply(WorkerCounts)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
