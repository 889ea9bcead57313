/* evaluate.cpp -- speed of the formula evaluator: ten formulas of operators,
** bar values and bar offsets evaluated on every bar of many symbols, one
** worker slot, as the date loop and the data calculation do it.
**
** Every iteration also runs the same ten formulas written as a plain C++ loop
** over the same bars (split scaling and comparison tolerances included), so
** each run reports the evaluator's time, the loop's time and their ratio side
** by side (processor time of each).  The two checksums agree to rounding. */
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/formula.h"
#include "script/eval/block_plan.h"
#include "script/eval/evaluator.h"

namespace {

/* clang-format off */
const char *const kFormulas[] = {
    "C",
    "(H + L) / 2",
    "C - C[1]",
    "(C - O) / (H - L)",
    "C > O AND V > V[1]",
    "C * V",
    "(C - L[3]) / (H[2] - L[2] + 0.01)",
    "C > (H + L + C) / 3 OR O < C[5]",
    "Range / TrueRange",
    "(C + C[1] + C[2] + C[3]) / 4 - O",
};
/* clang-format on */
enum { FORMULA_COUNT = sizeof kFormulas / sizeof kFormulas[0] };

struct Fixture {
    std::vector<SymbolRecord> symbols;
    FormulaSlot slots[FORMULA_COUNT]{};
    int64_t bars = 0;

    /* symbolCount symbols of ten years of weekday bars; prices follow a
    ** fixed pseudo-random walk, with a 2:1 split halfway through. */
    explicit Fixture(int symbolCount) : symbols((size_t)symbolCount)
    {
        std::vector<int32_t> days;
        for (int32_t d = 20150101; d <= 20241231; d = NextDay(d))
            if (DayOfWeek(d) <= 5) days.push_back(d);
        uint32_t seed = 12345;
        for (SymbolRecord &record : symbols) {
            memset(&record, 0, sizeof record);
            AllocMemory(&record.bars[BAR_DAILY], (days.size() + 1) * sizeof(Bar));
            double price = 50;
            for (size_t i = 0; i < days.size(); i++) {
                seed = seed * 214013 + 2531011;
                double step = ((int)((seed >> 16) & 0x7FFF) - 16384) / 16384.0;
                price = price * (1 + 0.02 * step) + 0.01;
                Bar &b = record.bars[BAR_DAILY][i];
                b.date = days[i];
                b.open = price * (1 - 0.004 * step);
                b.high = price * 1.01;
                b.low = price * 0.99;
                b.close = price;
                b.volume = 1000 + (seed & 0xFFF);
                b.split = i < days.size() / 2 ? 2.0 : 1.0;
            }
            record.barCounts[BAR_DAILY] = (int32_t)days.size();
            record.firstDate = days.front();
            record.lastDate = days.back();
            bars += (int64_t)days.size();
        }
        for (int k = 0; k < FORMULA_COUNT; k++) {
            slots[k].scriptText = kFormulas[k];
            slots[k].length = (int32_t)strlen(kFormulas[k]);
            CompileFormula(&slots[k], 0, -1);
        }
    }
};

/* One pass of the evaluator over every bar of every symbol, the sum of the
** values it gives. */
double EvaluatorPass(Fixture &fixture, EvalContext &context)
{
    double checksum = 0;
    for (SymbolRecord &record : fixture.symbols) {
        context.symbol = &record;
        for (int32_t bar = 0; bar < record.barCounts[BAR_DAILY]; bar++) {
            context.barIndex = context.lastBar = bar;
            context.date = record.bars[BAR_DAILY][bar].date;
            for (FormulaSlot &slot : fixture.slots) {
                double value;
                if (EvalFormulaSlot(&slot, &context, &value)) checksum += value;
            }
        }
    }
    return checksum;
}

/* The same through the block path, a symbol's bars at a time per formula, as
** the data calculation does it. */
double EvaluatorBlockPass(Fixture &fixture, EvalContext &context, std::vector<double> &values)
{
    double checksum = 0;
    for (SymbolRecord &record : fixture.symbols) {
        context.symbol = &record;
        int32_t count = record.barCounts[BAR_DAILY];
        if ((int32_t)values.size() < count) values.resize((size_t)count);
        for (FormulaSlot &slot : fixture.slots) {
            EvalFormulaBars(slot.nodes[0], &context, 0, count, values.data(), nullptr);
            for (int32_t i = 0; i < count; i++)
                if (std::isfinite(values[(size_t)i])) checksum += values[(size_t)i];
        }
    }
    return checksum;
}

/* The ten formulas by hand.  A formula that reaches before the first bar has
** no value and adds nothing, as in the evaluator; the short circuits of AND
** and OR are kept where they decide whether the value exists. */
double PlainLoopPass(Fixture &fixture)
{
    double checksum = 0;
    for (SymbolRecord &record : fixture.symbols) {
        const Bar *bars = record.bars[BAR_DAILY];
        int32_t count = record.barCounts[BAR_DAILY];
        for (int32_t i = 0; i < count; i++) {
            double scale = bars[i].split;
            auto f = [&](int32_t k) { return scale / bars[k].split; };
            auto O = [&](int32_t k) { return f(k) * bars[k].open; };
            auto H = [&](int32_t k) { return f(k) * bars[k].high; };
            auto L = [&](int32_t k) { return f(k) * bars[k].low; };
            auto C = [&](int32_t k) { return f(k) * bars[k].close; };
            auto V = [&](int32_t k) { return bars[k].volume / f(k); };
            double c = C(i), o = O(i), h = H(i), l = L(i);
            checksum += c;
            checksum += (h + l) / 2;
            if (i >= 1) checksum += c - C(i - 1);
            checksum += (c - o) / (h - l);
            if (i >= 1 && CompareDoubleApprox(c, o) > 0) checksum += CompareDouble(V(i), V(i - 1)) > 0;
            checksum += c * V(i);
            if (i >= 3) checksum += (c - L(i - 3)) / (H(i - 2) - L(i - 2) + 0.01);
            if (CompareDoubleApprox(c, (h + l + c) / 3) > 0)
                checksum += 1;
            else if (i >= 5)
                checksum += CompareDoubleApprox(o, C(i - 5)) < 0;
            double trueRange = i == 0 ? h - l : std::max(C(i - 1), h) - std::min(C(i - 1), l);
            checksum += (f(i) * (bars[i].high - bars[i].low)) / trueRange;
            if (i >= 3) checksum += (c + C(i - 1) + C(i - 2) + C(i - 3)) / 4 - o;
        }
    }
    return checksum;
}

/* Times one evaluator pass against one plain-loop pass per iteration. */
template <typename Pass>
void CompareWithLoop(benchmark::State &state, Pass pass)
{
    static Fixture fixture(200);
    gSettings.UseShortCircuit = 1;
    gSettings.NearZero = 1.0e-13;
    EvalContext context{};
    context.barPhase = PHASE_CLOSE;
    context.strategyIndex = -1;
    context.resultRow = -1;
    context.funBar = -1;
    double checksum = 0, loopChecksum = 0;
    double evalSeconds = 0, loopSeconds = 0;
    /* Processor time, not wall time: on a shared machine the ratio then
    ** holds while other programs take turns on the core. */
    for (auto _ : state) {
        std::clock_t t0 = std::clock();
        checksum += pass(fixture, context);
        std::clock_t t1 = std::clock();
        loopChecksum += PlainLoopPass(fixture);
        std::clock_t t2 = std::clock();
        evalSeconds += (double)(t1 - t0) / CLOCKS_PER_SEC;
        loopSeconds += (double)(t2 - t1) / CLOCKS_PER_SEC;
    }
    double iterations = (double)state.iterations();
    double bars = (double)fixture.bars * iterations;
    state.counters["eval_bars_per_s"] = bars / evalSeconds;
    state.counters["loop_bars_per_s"] = bars / loopSeconds;
    state.counters["eval_ns_per_formula_bar"] = evalSeconds * 1e9 / (bars * (double)FORMULA_COUNT);
    state.counters["loop_ns_per_formula_bar"] = loopSeconds * 1e9 / (bars * (double)FORMULA_COUNT);
    state.counters["ratio"] = evalSeconds / loopSeconds;
    state.counters["checksum"] = checksum / iterations;
    state.counters["loop_checksum"] = loopChecksum / iterations;
    if (fabs(checksum - loopChecksum) > 1e-9 * fabs(loopChecksum))
        state.SkipWithError("the evaluator and the plain loop disagree");
}

/* Bar by bar, every formula on each bar, as the date loop does it. */
void BM_EvaluateFormulas(benchmark::State &state)
{
    CompareWithLoop(state, EvaluatorPass);
}
BENCHMARK(BM_EvaluateFormulas)->Unit(benchmark::kMillisecond);

/* A symbol's bars at a time per formula, as the data calculation does it. */
void BM_EvaluateFormulaBlocks(benchmark::State &state)
{
    std::vector<double> values;
    CompareWithLoop(state, [&](Fixture &fixture, EvalContext &context) {
        return EvaluatorBlockPass(fixture, context, values);
    });
}
BENCHMARK(BM_EvaluateFormulaBlocks)->Unit(benchmark::kMillisecond);

} // namespace
