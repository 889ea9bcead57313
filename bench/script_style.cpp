/* script_style.cpp -- one full restyle of a 5,000-line script (what every
** keystroke costs in the editor), against a plain loop over the same text that
** classifies each character by a table (the least any styling pass does). */
#include <benchmark/benchmark.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/name_tables.h"
#include "shell/script_style.h"

namespace {

std::string MakeScript(int lines)
{
    /* clang-format off */
    static const char *const kBlock[] = {
        "Data:\n",
        "  Fast%d: Avg(C, 5) + MyVal  // a comment\n",
        "  Slow%d: Max(H, 20) / Fast%d {brace note}\n",
        "Scan:\n",
        "  Pick%d: Fast%d > Slow%d and V > 1000000\n",
        "  Txt%d: \"text\" + 'more'\n",
        "Settings:\n",
        "  DataFile: C:\\data\\file.kvd\n",
        "Strategy: Alpha%d\n",
        "  EntrySetup: Fast%d > Slow%d\n",
    };
    /* clang-format on */
    std::string out;
    char buffer[200];
    for (int i = 0; i < lines; i++) {
        const char *pattern = kBlock[i % 10];
        int n = i / 10;
        snprintf(buffer, sizeof buffer, pattern, n, n, n);
        out += buffer;
    }
    return out;
}

struct Fixture {
    std::string text = MakeScript(5000);
    CompilerState names{};
    std::vector<uint8_t> styles = std::vector<uint8_t>(text.size());
    std::vector<int32_t> levels = std::vector<int32_t>(5001);
    Fixture() { ScanScriptItemNames(text.c_str(), nullptr, (int)text.size(), &names); }
};

Fixture &Shared()
{
    static Fixture f;
    return f;
}

/* The plain loop: every character classified through the C library, once. */
void PlainLoop(Fixture &f)
{
    const char *t = f.text.c_str();
    for (size_t i = 0; i < f.text.size(); i++)
        f.styles[i] = (uint8_t)(isalpha((unsigned char)t[i]) ? 1 : isdigit((unsigned char)t[i]) ? 12
                                                                                                : 0);
    benchmark::DoNotOptimize(f.styles.data());
}

double BaselineMicroseconds(Fixture &f)
{
    const int reps = 200;
    auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < reps; r++) PlainLoop(f);
    auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::micro>(t1 - t0).count() / reps;
}

void BM_RestyleScript(benchmark::State &state)
{
    Fixture &f = Shared();
    double baseline = BaselineMicroseconds(f);
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        StyleScriptBuffer(f.text.c_str(), (int32_t)f.text.size(), &f.names, 0, f.styles.data(), f.levels.data(),
                          (int32_t)f.levels.size());
        benchmark::DoNotOptimize(f.styles.data());
    }
    auto t1 = std::chrono::steady_clock::now();
    double perPass = std::chrono::duration<double, std::micro>(t1 - t0).count() / (double)state.iterations();
    state.counters["baseline us"] = baseline;
    state.counters["ratio"] = perPass / baseline;
}

} // namespace

BENCHMARK(BM_RestyleScript)->Unit(benchmark::kMicrosecond);
