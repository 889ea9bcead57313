/* evaluate.cpp -- speed of the formula evaluator: ten formulas of operators,
** bar values and bar offsets evaluated on every bar of many symbols, one
** worker slot, as the date loop and the data calculation do it.  Reports
** formula-bars per second on one core and a checksum of the values. */
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/formula.h"
#include "script/eval/evaluator.h"

namespace {

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

void BM_EvaluateFormulas(benchmark::State &state)
{
    static Fixture fixture(200);
    gSettings.UseShortCircuit = 1;
    gSettings.NearZero = 1.0e-13;
    EvalContext context{};
    context.barPhase = PHASE_CLOSE;
    context.strategyIndex = -1;
    context.resultRow = -1;
    context.funBar = -1;
    double checksum = 0;
    int64_t evaluated = 0;
    for (auto _ : state) {
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
        evaluated += fixture.bars * FORMULA_COUNT;
    }
    state.counters["formula_bars_per_s"] = benchmark::Counter((double)evaluated, benchmark::Counter::kIsRate);
    state.counters["bars_per_s"] = benchmark::Counter((double)evaluated / FORMULA_COUNT, benchmark::Counter::kIsRate);
    state.counters["checksum"] = checksum / (double)state.iterations();
}
BENCHMARK(BM_EvaluateFormulas)->Unit(benchmark::kMillisecond);

}  // namespace
