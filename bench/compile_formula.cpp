/* compile_formula.cpp -- compiling a script-sized set of formulas: 2,000
** lines in the mix a strategy script has (indicators, bar offsets, nested
** calls, conditions, references).  Reports lines per second. */
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "foundation/text_match.h"
#include "script/compiler/formula.h"
#include "shell/headless/headless.h"

namespace {

/* clang-format off */
const char *const kLines[] = {
    "Avg(C, 20) > Highest(H, 50)[1] AND V > 100000",
    "IF(C > O, (H - L) / C * 100, -1 * ATR(14) / C)",
    "Max(EMA(C, 10), MA(C, 50), BBTop(20, 2)) - Min(L[1], L[2], L[3])",
    "NOT (RSI(2) < 10) OR Cross(MACD(12, 26), MACDS(12, 26, 9))",
    "Round(Sum(V * C, 20) / Sum(V, 20), 0.01, 0)  // volume-weighted price",
    "$SPY + Extern(~Weekly, C[1]) * 0.5 /* weekly close */",
    "SinceTrue(C > Highest(H, 20)[1], 100) <= 5 AND DayOfWeek = 5",
    "'tech' = ?Sector AND InfoShares * C > 1e9",
};
/* clang-format on */

struct Script {
    std::string text;
    std::vector<FormulaSlot> slots;
};

Script &BuildScript()
{
    static Script script;
    if (!script.slots.empty()) return script;
    const int lines = 2000;
    std::vector<std::pair<int, int>> spans;
    for (int i = 0; i < lines; i++) {
        std::string line = "Item" + std::to_string(i) + ": ";
        script.text += line;
        int start = (int)script.text.size();
        script.text += kLines[i % (sizeof kLines / sizeof kLines[0])];
        spans.emplace_back(start, (int)script.text.size() - start);
        script.text += "\r\n";
    }
    script.slots.resize(lines);
    for (int i = 0; i < lines; i++) {
        FormulaSlot &slot = script.slots[i];
        slot = FormulaSlot{};
        slot.scriptText = script.text.c_str();
        slot.start = spans[i].first;
        slot.length = spans[i].second;
        FormatText(slot.name, sizeof slot.name, "Item%d", i);
    }
    return script;
}

void BM_CompileScriptFormulas(benchmark::State &state)
{
    gHeadless.captureLog = 1;
    Script &script = BuildScript();
    int failures = 0;
    for (auto _ : state) {
        for (FormulaSlot &slot : script.slots) {
            slot.count = 0; /* a new script compile: node arrays keep their allocation */
            failures += !CompileFormula(&slot, 0, -1);
        }
    }
    if (failures) state.SkipWithError("a formula failed to compile");
    state.SetItemsProcessed(state.iterations() * (int64_t)script.slots.size());
    state.counters["lines_per_second"] =
        benchmark::Counter((double)state.iterations() * (double)script.slots.size(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CompileScriptFormulas)->Unit(benchmark::kMillisecond);

} // namespace
