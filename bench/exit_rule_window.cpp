/* exit_rule_window.cpp -- what an indicator in an exit rule costs against the
** same indicator read from a Data item.  One strategy enters every symbol
** whenever it can and leaves when the close falls under its 100-bar average,
** so nearly every symbol holds a position nearly every day and the rule is
** worked out for each of them daily.  The same test runs on the generated
** store (250 symbols, four years) with the rule written inline and with the
** rule read from a Data item, whose values the data calculation computed
** before the run (s_data_item_calculated is a run that computes them).
**
** Counters: s_inline and s_data_item, the processor time of each run, and
** ratio_inline_to_data_item, their ratio: near 1 when walking the rule's
** window costs little beside the rest of the exit check.  trades_* show that
** both ways made the same trades. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <cstring>
#include <ctime>
#include <string>

#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/builtins.h"
#include "services/services.h"

namespace {

const char kInline[] =
    "Strategy: Trend\n"
    "  EntrySetup: C > 0\n"
    "  MaxPositions: 100000\n"
    "  QtyType: Shares\n"
    "  Quantity: 1\n"
    "  ExitRule: C < MA(C, 100)\n";

const char kDataItem[] =
    "Data:\n"
    "  X100: C < MA(C, 100)\n"
    "Strategy: Trend\n"
    "  EntrySetup: C > 0\n"
    "  MaxPositions: 100000\n"
    "  QtyType: Shares\n"
    "  Quantity: 1\n"
    "  ExitRule: X100\n";

/* Processor seconds of one run of script over the store made before. */
double TimeRun(const char *script, int32_t *trades, int *result)
{
    PlatFile file = PlatOpenFile(gSettings.ActiveScript, PLAT_CREATE_WRITE);
    uint32_t written = 0;
    PlatWriteFile(file, script, (uint32_t)strlen(script), &written);
    PlatCloseFile(file);
    double t0 = CpuSeconds();
    *result = RunScript(RUN_MODE_TEST);
    double t1 = CpuSeconds();
    if (gRun.resultCode.load() != RESULT_OK) *result = gRun.resultCode.load();
    ResultsWindow *window = FirstResultsWindow();
    *trades = window && window->lastTest ? window->lastTest->closedTradeCount : -1;
    if (window) DeleteAllTests(window);
    return t1 - t0;
}

void BM_ExitRuleWindow(benchmark::State &state)
{
    double inlineTime = 0, dataTime = 0;
    int32_t inlineTrades = 0, dataTrades = 0;
    int inlineResult = -1, dataResult = -1;
    InstallBuiltins();
    ResetSymbolStore();
    MakeBenchRun(250, 4, "kv_bench_exit_rule_window", kDataItem);
    double calcTime = 0;
    for (auto _ : state) {
        /* Each way runs three times, in turn, and keeps its fastest: what
        ** other work on the machine costs a run (caches, memory) only adds.
        ** Each Data run follows one that computed its items, so it finds
        ** them unchanged and its time is the test's alone, as the inline
        ** run's is. */
        for (int round = 0; round < 3 && (round == 0 || (dataResult == 0 && inlineResult == 0)); round++) {
            double c = TimeRun(kDataItem, &dataTrades, &dataResult);
            double d = TimeRun(kDataItem, &dataTrades, &dataResult);
            double i = TimeRun(kInline, &inlineTrades, &inlineResult);
            calcTime = round == 0 || c < calcTime ? c : calcTime;
            dataTime = round == 0 || d < dataTime ? d : dataTime;
            inlineTime = round == 0 || i < inlineTime ? i : inlineTime;
        }
    }
    if (inlineResult != 0 || dataResult != 0) {
        std::string why = "the tests did not run: results " + std::to_string(inlineResult) + " and " +
            std::to_string(dataResult);
        if (gHeadless.logText) why += std::string(": ") + gHeadless.logText;
        state.SkipWithError(why.c_str());
        return;
    }
    state.counters["s_data_item_calculated"] = calcTime;
    state.counters["s_inline"] = inlineTime;
    state.counters["s_data_item"] = dataTime;
    state.counters["ratio_inline_to_data_item"] = inlineTime / dataTime;
    state.counters["trades_inline"] = inlineTrades;
    state.counters["trades_data_item"] = dataTrades;
}
BENCHMARK(BM_ExitRuleWindow)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
