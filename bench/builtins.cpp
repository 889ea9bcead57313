/* builtins.cpp -- speed of the built-in window functions and indicators over
** whole symbols: a Data section of MA(C, 200), ATR(14), RSI(14), a regression
** slope and a highest high over 2,000 symbols of 25 years of daily bars, each
** item computed in its one-pass walk on one core, and (on the first 50
** symbols) in the per-bar path.
**
** Counters: bars/s (symbol-bars per second on one core), the time per bar of
** a plain C++ loop computing a 200-bar moving average of the same closes in
** the same run (baseline ns/bar), their ratio, and a checksum of the values
** written, so a speed change that also changes the answers shows. */
#include <benchmark/benchmark.h>

#include "bench_store.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/builtins.h"
#include "script/compiler/definitions.h"
#include "script/compiler/keywords.h"
#include "script/datacalc/data_calc.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

const int32_t kSymbols = 2000;
const int32_t kYears = 25;
const int32_t kPerBarSymbols = 50;

/* clang-format off */
const char *const kItems[][2] = {
    {"Avg200", "MA(C, 200)"},
    {"Atr14", "ATR(14)"},
    {"Rsi14", "RSI(14)"},
    {"Slope50", "Slope(C, 50)"},
    {"High250", "Highest(H, 250)"},
};
/* clang-format on */
const int32_t kItemCount = (int32_t)(sizeof kItems / sizeof kItems[0]);

struct Store {
    int64_t bars = 0;
    std::vector<std::string> texts;

    Store()
    {
        InstallBuiltins();
        gHeadless.captureLog = 1;
        gSettings.MaxMemPct = 95;
        gSettings.ShowStatusBar = 0;
        gSettings.UseShortCircuit = 1;
        gSettings.NearZero = 1.0e-13;
        gSettings.EmaPrecision = 0.005;
        gSettings.BarSize2 = BAR_DAILY;
        gRun.mode = 1;
        bars = MakeBenchStore(kSymbols, kYears, true);
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
        for (int32_t i = 0; i < kItemCount; i++) {
            FormulaItem *item = (FormulaItem *)gDataItems.items + i;
            if (!CompileFormula(&item->formula, SECTION_DATA, i)) abort();
            item->formula.onePass = 1;
        }
        /* Lays out and fills every block once, so the timed runs write into
        ** memory that is already there. */
        gSettings.CalcThreads = 8;
        if (!CalcDataArraysForBarSize(nullptr, 1)) abort();
    }
};

Store &TheStore()
{
    static Store store;
    return store;
}

EvalContext WorkerContext()
{
    EvalContext ctx{};
    ctx.barPhase = PHASE_CLOSE;
    ctx.barSize = BAR_DAILY;
    ctx.strategyIndex = -1;
    ctx.resultRow = -1;
    ctx.funBar = -1;
    ctx.dataItemIndex = -1;
    ctx.walkForwardInterval = -1;
    ctx.priceScale = 1.0;
    return ctx;
}

/* ns per bar of a plain loop: a 200-bar moving average of the closes at each
** bar's own split level, written to an array, over every symbol. */
double BaselineNsPerBar(double *checksum)
{
    Store &store = TheStore();
    std::vector<double> out;
    double best = 1e30;
    for (int run = 0; run < 3; run++) {
        auto start = std::chrono::steady_clock::now();
        double check = 0;
        for (int32_t s = 0; s < kSymbols; s++) {
            const SymbolRecord &r = gStore.symbols[s];
            int32_t n = r.barCounts[BAR_DAILY];
            const Bar *bars = r.bars[BAR_DAILY];
            out.assign((size_t)n, NAN);
            double sum = 0;
            for (int32_t i = 0; i < n; i++) {
                sum += bars[i].close / bars[i].split;
                if (i >= 200) sum -= bars[i - 200].close / bars[i - 200].split;
                if (i >= 199) out[(size_t)i] = sum / 200 * bars[i].split;
            }
            check += out[(size_t)n - 1];
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        *checksum = check;
    }
    return best * 1e9 / (double)store.bars;
}

void BM_OnePass(benchmark::State &state)
{
    Store &store = TheStore();
    int32_t item = (int32_t)state.range(0);
    FormulaItem *formula = (FormulaItem *)gDataItems.items + item;
    double baselineCheck = 0;
    double baseline = BaselineNsPerBar(&baselineCheck);
    EvalContext ctx = WorkerContext();
    double seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int32_t s = 0; s < kSymbols; s++) {
            ctx.symbol = &gStore.symbols[s];
            CalcItemForSymbol(&ctx, formula->formula.nodes[0], item, 1);
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    double nsPerBar = seconds * 1e9 / ((double)store.bars * (double)state.iterations());
    double checksum = 0;
    for (int32_t s = 0; s < kSymbols; s++) {
        const SymbolRecord &r = gStore.symbols[s];
        double v = r.dataValues[0][r.dataOffsets[0][item] + r.barCounts[BAR_DAILY] - 1];
        if (!std::isnan(v)) checksum += v;
    }
    state.SetLabel(kItems[item][1]);
    state.counters["bars/s"] = benchmark::Counter((double)store.bars, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["ns/bar"] = nsPerBar;
    state.counters["baseline ns/bar"] = baseline;
    state.counters["ratio"] = nsPerBar / baseline;
    state.counters["checksum"] = checksum;
    state.counters["baseline checksum"] = baselineCheck;
}

void BM_PerBar(benchmark::State &state)
{
    TheStore();
    int32_t item = (int32_t)state.range(0);
    FormulaItem *formula = (FormulaItem *)gDataItems.items + item;
    EvalContext ctx = WorkerContext();
    int64_t bars = 0;
    for (int32_t s = 0; s < kPerBarSymbols; s++) bars += gStore.symbols[s].barCounts[BAR_DAILY];
    for (auto _ : state) {
        for (int32_t s = 0; s < kPerBarSymbols; s++) {
            ctx.symbol = &gStore.symbols[s];
            CalcItemForSymbol(&ctx, formula->formula.nodes[0], item, 0);
        }
    }
    double checksum = 0;
    for (int32_t s = 0; s < kPerBarSymbols; s++) {
        const SymbolRecord &r = gStore.symbols[s];
        double v = r.dataValues[0][r.dataOffsets[0][item] + r.barCounts[BAR_DAILY] - 1];
        if (!std::isnan(v)) checksum += v;
    }
    state.SetLabel(kItems[item][1]);
    state.counters["bars/s"] = benchmark::Counter((double)bars, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["checksum"] = checksum;
}

} // namespace

BENCHMARK(BM_OnePass)->DenseRange(0, kItemCount - 1)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PerBar)->DenseRange(0, kItemCount - 1)->Unit(benchmark::kMillisecond)->MinTime(1.0);
