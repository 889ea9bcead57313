#include "builtins_fixture.h"

#include <cmath>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"

void BuiltinTest::SetUp()
{
    EvalTest::SetUp();
    gUseAvailableBars = 0;
    gSettings.EmaPrecision = 0.005;
}

void BuiltinTest::TearDown()
{
    gUseAvailableBars = 0;
    EvalTest::TearDown();
}

void BuiltinTest::SetBars(const std::vector<BarSpec> &specs)
{
    SymbolRecord *symbol = &gStore.symbols[0];
    int32_t n = (int32_t)specs.size();
    ASSERT_EQ(1, ReallocMemory(&symbol->bars[BAR_DAILY], (uint64_t)(n + 1) * sizeof(Bar)));
    int32_t date = 20000103;
    for (int32_t i = 0; i < n; i++) {
        Bar &bar = symbol->bars[BAR_DAILY][i];
        bar = Bar{};
        bar.date = date;
        bar.open = specs[i].open;
        bar.high = specs[i].high;
        bar.low = specs[i].low;
        bar.close = specs[i].close;
        bar.volume = specs[i].volume;
        bar.split = specs[i].split;
        do date = NextDay(date);
        while (DayOfWeek(date) > 5);
    }
    symbol->barCounts[BAR_DAILY] = n;
    symbol->firstDate = symbol->bars[BAR_DAILY][0].date;
    symbol->lastDate = symbol->bars[BAR_DAILY][n - 1].date;
    barCount = n;
    ctx.barIndex = n - 1;
    ctx.lastBar = n - 1;
    ctx.date = symbol->lastDate;
    ctx.priceScale = 1.0;
}

void BuiltinTest::SetCloses(const std::vector<double> &closes)
{
    std::vector<BarSpec> specs;
    for (double c : closes) specs.push_back({c, c, c, c, 1000, 1});
    SetBars(specs);
}

void BuiltinTest::SetRandomBars(int32_t n, uint32_t seed, int32_t split1, int32_t split2)
{
    /* A small linear congruential walk, so the data do not depend on the
    ** program's own generator. */
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    };
    std::vector<BarSpec> specs;
    double close = 50;
    for (int32_t i = 0; i < n; i++) {
        double open = close * (1 + (next() - 0.5) * 0.02);
        close = open * (1 + (next() - 0.5) * 0.04);
        double high = fmax(open, close) * (1 + next() * 0.01);
        double low = fmin(open, close) * (1 - next() * 0.01);
        double split = 1;
        if (split1 && i < split1) split *= 2;
        if (split2 && i < split2) split *= 2;
        specs.push_back({open, high, low, close, floor(1000 + next() * 9000), split});
    }
    SetBars(specs);
}

double BuiltinTest::ValueAt(FormulaSlot *slot, int32_t bar)
{
    EvalContext at = ctx;
    at.barIndex = bar;
    at.lastBar = bar;
    at.date = gStore.symbols[0].bars[BAR_DAILY][bar].date;
    at.priceScale = gStore.symbols[0].bars[BAR_DAILY][bar].split;
    double v = 0;
    return EvalFormulaSlot(slot, &at, &v) ? v : NAN;
}

std::vector<double> BuiltinTest::OnePass(FormulaSlot *slot, int32_t option)
{
    std::vector<double> out((size_t)barCount, NAN);
    EvalContext at = ctx;
    at.barIndex = barCount - 1;
    at.lastBar = barCount - 1;
    at.date = gStore.symbols[0].bars[BAR_DAILY][barCount - 1].date;
    at.priceScale = 1.0;
    at.onePassWindow = out.data();
    at.onePassOption = option;
    EvalFormula(slot->nodes[0], &at);
    return out;
}
