/* suggest_choices.cpp -- the work one typed key asks of Suggest Choices: the
** choices at the end of a 1,000-line script, where a formula word is being
** typed, against one styling pass over the same text (the least it does,
** since the context comes from the styles). */
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "script/compiler/compiler_state.h"
#include "script/compiler/name_tables.h"
#include "shell/script_style.h"
#include "shell/suggest.h"

namespace {

std::string MakeScript(int lines)
{
    static const char *const kBlock[] = {
        "Data:\n",
        "  Fast%d: Avg(C, 5) + 1  // a comment\n",
        "  Slow%d: Max(H, 20) / Fast%d {brace note}\n",
        "Scan:\n",
        "  Pick%d: Fast%d > Slow%d and V > 1000000\n",
        "Settings:\n",
        "  DataFile: C:\\data\\file.kvd\n",
        "Strategy: Alpha%d\n",
        "  EntrySetup: Fast%d > Slow%d\n",
        "  ExitRule: BarsHeld > 5\n",
    };
    std::string out;
    char buffer[200];
    for (int i = 0; i < lines - 1; i++) {
        int n = i / 10;
        snprintf(buffer, sizeof buffer, kBlock[i % 10], n, n, n);
        out += buffer;
    }
    return out + "  ExitLimit: Fast1 > Sl"; /* the 1,000th line, being typed */
}

struct Fixture {
    std::string text = MakeScript(1000);
    CompilerState names{};
    std::vector<uint8_t> styles = std::vector<uint8_t>(text.size() + 1);
    SuggestResult result{};
    Fixture() { ScanScriptItemNames(text.c_str(), nullptr, (int)text.size(), &names); }
};

Fixture &Shared()
{
    static Fixture f;
    return f;
}

double StylePassMicroseconds(Fixture &f)
{
    const int reps = 200;
    auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < reps; r++) {
        StyleScriptBuffer(f.text.c_str(), (int32_t)f.text.size(), &f.names, 0, f.styles.data(), nullptr, 0);
        benchmark::DoNotOptimize(f.styles.data());
    }
    auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::micro>(t1 - t0).count() / reps;
}

void BM_SuggestChoicesAtScriptEnd(benchmark::State &state)
{
    Fixture &f = Shared();
    const int32_t length = (int32_t)f.text.size();
    double baseline = StylePassMicroseconds(f);
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        SuggestChoicesAt(f.text.c_str(), length, length, 0, 0, &f.names, &f.result);
        benchmark::DoNotOptimize(&f.result);
    }
    auto t1 = std::chrono::steady_clock::now();
    double perKey = std::chrono::duration<double, std::micro>(t1 - t0).count() / (double)state.iterations();
    state.counters["style pass us"] = baseline;
    state.counters["ratio"] = perKey / baseline;
    state.counters["choices"] = (double)f.result.list.length;
}

} // namespace

BENCHMARK(BM_SuggestChoicesAtScriptEnd)->Unit(benchmark::kMicrosecond);
