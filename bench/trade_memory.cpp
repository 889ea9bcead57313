/* trade_memory.cpp -- what a kept trade costs in memory: its record in the
** test, and its row in a trade list over the test (what a trade list window
** holds while open, and what the trade export holds while it writes).
**
** Two busy strategies on 300 symbols x 25 years keep every trade, with the
** program's default Trades columns (profit, gain, bars, the two excursions).
** The bytes are the tracked allocator's: the test's trade array, and the
** growth of the allocator's count across computing the list (kept until the
** list is freed).  The baseline, measured in the same run, is the trade
** record's own size.
**
** Counters: trades; record_bytes (sizeof TradeRecord); list_bytes_per_trade;
** kept_trade_bytes (trade array and list, per trade); ratio, kept_trade_bytes
** over record_bytes (the aim is 2 or less); and cells_bytes_per_trade, what a
** list that kept every cell as a text (a ListCell each) would hold, worked
** out from the same list's column count, for comparison. */
#include <benchmark/benchmark.h>

#include "bench_run.h"

#include <cstring>

#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "foundation/allocator.h"
#include "script/builtins/builtins.h"
#include "views/trade_rows.h"

namespace {

const int32_t kSymbols = 300;
const int32_t kYears = 25;

const char kScript[] =
    "Strategy: Ups\n"
    "  EntrySetup: C > O\n"
    "  MaxPositions: 200\n"
    "  Quantity: 100\n"
    "  ExitRule: C < O\n"
    "Strategy: Downs\n"
    "  EntrySetup: C < O\n"
    "  MaxPositions: 200\n"
    "  Quantity: 100\n"
    "  ExitRule: BarsHeld >= 2\n"
    "Trades:\n"
    "  Profit: T.Profit {$-2 \"Profit\"}\n"
    "  Gain: T.NetPct {%2 \"Gain %\"}\n"
    "  Bars: T.Bars {#0 \"Bars\"}\n"
    "  MAE: IF(T.PriceIn > 0, IF(T.Side < 0, 1 - T.Highest / T.PriceIn, T.Lowest / T.PriceIn - 1), 0) {%2 \"MAE %\"}\n"
    "  MFE: IF(T.PriceIn > 0, IF(T.Side < 0, 1 - T.Lowest / T.PriceIn, T.Highest / T.PriceIn - 1), 0) {%2 \"MFE %\"}\n";

struct Universe {
    int64_t bars = 0;
    Universe()
    {
        InstallBuiltins();
        bars = MakeBenchRun(kSymbols, kYears, "kv_bench_trade_memory", kScript);
    }
};

Universe &TheUniverse()
{
    static Universe universe;
    return universe;
}

void BM_KeptTradeBytes(benchmark::State &state)
{
    TheUniverse();
    double trades = 0, arrayBytes = 0, listBytes = 0, cellBytes = 0;
    for (auto _ : state) {
        /* The test as the program runs it. */
        const int result = RunScript(RUN_MODE_TEST);
        ResultsWindow *window = FirstResultsWindow();
        TestRecord *test = window ? window->lastTest : nullptr;
        if (result != 0 || !test || test->tradeCount == 0) {
            state.SkipWithError("test failed");
            return;
        }
        trades = test->tradeCount;
        arrayBytes = (double)TrackedBlockSize(test->trades);

        CellListWindow list;
        memset((void *)&list, 0, sizeof list);
        list.test = test;
        const uint64_t before = gAllocatedBytes.load();
        if (!BuildTradeList(&list, 1) || list.rowCount != test->tradeCount) {
            state.SkipWithError("the trade list is incomplete");
            return;
        }
        listBytes = (double)(gAllocatedBytes.load() - before);
        cellBytes = (double)list.columnCount * (double)sizeof(ListCell) + (double)sizeof(uint32_t);
        FreeListWindow(&list);
        DeleteAllTests(window);
    }
    const double record = (double)sizeof(TradeRecord);
    const double kept = (arrayBytes + listBytes) / trades;
    state.counters["trades"] = trades;
    state.counters["record_bytes"] = record;
    state.counters["list_bytes_per_trade"] = listBytes / trades;
    state.counters["kept_trade_bytes"] = kept;
    state.counters["ratio"] = kept / record;
    state.counters["cells_bytes_per_trade"] = cellBytes;
}
BENCHMARK(BM_KeptTradeBytes)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
