/* compile_script.cpp -- a whole script compile: a 2,000-line script of Data
** items, Library items, Results and Scan columns and strategies, read from
** its file, parsed, compiled and linked by CompileScript.  Reports lines per
** second; the item and strategy counts are checked so that a faster build
** which compiles less shows up. */
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/definitions.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

/* clang-format off */
const char *const kDataLines[] = {
    "Avg(C, 20) > Highest(H, 50)[1] AND V > 100000",
    "IF(C > O, (H - L) / C * 100, -1 * ATR(14) / C)",
    "Max(EMA(C, 10), MA(C, 50)) - Min(L[1], L[2], L[3])",
    "NOT (RSI(2) < 10) OR C > Avg(C, 200)  // trend filter",
    "Sum(V * C, 20) / Sum(V, 20)",
};
/* clang-format on */

enum { DATA_ITEMS = 1200,
       LIBRARY_ITEMS = 100,
       RESULTS_COLUMNS = 100,
       SCAN_COLUMNS = 200,
       STRATEGIES = 100 };

/* Writes the script once into a folder of its own; its path. */
const std::string &ScriptPath()
{
    static std::string path;
    if (!path.empty()) return path;
    char folder[260];
    const char *tmp = getenv("TMPDIR");
    FormatText(folder, sizeof folder, "%s\\kv_bench_compile_script", tmp && tmp[0] ? tmp : "/tmp");
    PlatCreateFolder(folder);
    CopyString(gScriptsFolder, sizeof gScriptsFolder, folder, -1);
    CopyString(gProgramFolder, sizeof gProgramFolder, folder, -1);
    CopyString(gOutputFolder, sizeof gOutputFolder, folder, -1);
    CopyString(gDataFolder, sizeof gDataFolder, folder, -1);

    std::string text = "Settings:\r\n  BarSize: Daily\r\n  KeepTrades: All\r\n";
    text += "Parameters:\r\n  Len: 10, 20, 50\r\nLibrary:\r\n";
    for (int i = 0; i < LIBRARY_ITEMS; i++) text += "  Lib" + std::to_string(i) + ": arg1 * " + std::to_string(i) + "\r\n";
    text += "Data:\r\n";
    for (int i = 0; i < DATA_ITEMS; i++) {
        text += "  Item" + std::to_string(i) + ": " + kDataLines[i % 5];
        if (i > 0 && i % 3 == 0) text += " + Item" + std::to_string(i - 1);
        text += "\r\n";
    }
    text += "Results:\r\n";
    for (int i = 0; i < RESULTS_COLUMNS; i++) text += "  Col" + std::to_string(i) + ": " + std::to_string(i) + " {#2}\r\n";
    text += "Scan:\r\n";
    for (int i = 0; i < SCAN_COLUMNS; i++)
        text += "  Scan" + std::to_string(i) + ": Item" + std::to_string(i) + " * Lib1(C) {$}\r\n";
    for (int s = 0; s < STRATEGIES; s++) {
        text += "Strategy: S" + std::to_string(s) + "\r\n  Side: Long\r\n  EntrySetup: Item" + std::to_string(s) +
            " > Len\r\n  ExitRule: C < Item" + std::to_string(s + 1) + "\r\n";
    }
    path = std::string(folder) + "\\bench.kvs";
    if (!SaveFile(path.c_str(), text.data(), (uint32_t)text.size())) path.clear();
    return path;
}

int64_t CountLines(const std::string &path)
{
    char *text = nullptr;
    uint32_t size = 0;
    if (!LoadFile(path.c_str(), &text, &size)) return 0;
    int64_t lines = 0;
    for (uint32_t i = 0; i < size; i++) lines += text[i] == '\n';
    FreeMemory(&text);
    return lines;
}

void BM_CompileScript(benchmark::State &state)
{
    gHeadless.captureLog = 1;
    const std::string &path = ScriptPath();
    if (path.empty()) {
        state.SkipWithError("the script could not be written");
        return;
    }
    int64_t lines = CountLines(path);
    int failures = 0;
    for (auto _ : state) failures += !CompileScript(path.c_str(), 3, 1);
    if (failures) {
        state.SkipWithError("the script failed to compile");
        return;
    }
    if (gDataItems.count != DATA_ITEMS || gStrategyCount != STRATEGIES + 1) state.SkipWithError("wrong lists");
    state.counters["lines"] = (double)lines;
    state.counters["lines_per_second"] = benchmark::Counter((double)state.iterations() * (double)lines,
                                                            benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CompileScript)->Unit(benchmark::kMillisecond);

} // namespace
