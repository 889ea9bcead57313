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
#include "shell/services.h"

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

        /* Weekdays from 2000 on: 25 years of market days. */
        std::vector<int32_t> days;
        for (int y = 2000; y < 2000 + kYears; y++)
            for (int m = 1; m <= 12; m++)
                for (int d = 1; d <= 28; d++) {
                    int32_t date = y * 10000 + m * 100 + d;
                    if ((y * 372 + m * 31 + d) % 7 < 5) days.push_back(date);
                }
        DateList &daily = gStore.dateLists[BAR_DAILY];
        AllocMemory(&daily.dates, (days.size() + 1) * sizeof(uint32_t));
        for (size_t i = 0; i < days.size(); i++) daily.dates[i] = (uint32_t)days[i];
        daily.count = (int32_t)days.size();
        daily.capacity = daily.count + 1;
        for (int b = BAR_WEEKLY; b < BAR_SIZE_COUNT; b++) AllocMemory(&gStore.dateLists[b].dates, sizeof(uint32_t));

        AllocMemory(&gStore.symbols, (uint64_t)(kSymbols + 1) * sizeof(SymbolRecord));
        uint32_t state = 12345;
        for (int32_t s = 0; s < kSymbols; s++) {
            SymbolRecord &r = gStore.symbols[s];
            FormatText(r.info.Symbol, sizeof r.info.Symbol, "S%05d", s);
            r.firstUsedDate = FIRST_USED_NONE;
            int32_t first = s % 700; /* symbols start at different dates */
            int32_t n = daily.count - first;
            AllocMemory(&r.bars[BAR_DAILY], (uint64_t)(n + 1) * sizeof(Bar));
            double price = 20.0 + s % 90;
            for (int32_t i = 0; i < n; i++) {
                state = state * 214013u + 2531011u;
                double move = ((double)((state >> 16) & 0x7FFF) / 32767.0 - 0.5) * 0.04;
                Bar &bar = r.bars[BAR_DAILY][i];
                bar.date = days[(size_t)(first + i)];
                bar.open = price;
                price *= 1.0 + move;
                bar.close = price;
                bar.high = std::max(bar.open, bar.close) * 1.01;
                bar.low = std::min(bar.open, bar.close) * 0.99;
                bar.volume = 1000.0 + (state & 1023);
                bar.split = 1.0;
            }
            r.barCounts[BAR_DAILY] = n;
            r.firstDate = r.bars[BAR_DAILY][0].date;
            r.lastDate = r.bars[BAR_DAILY][n - 1].date;
            bars += n;
        }
        gStore.symbolCount = kSymbols;
        gStore.firstDate = days.front();
        gStore.lastDate = days.back();
        BuildCalendarSymbol();

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
