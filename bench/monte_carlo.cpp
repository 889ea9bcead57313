/* monte_carlo.cpp -- speed of the Monte Carlo analysis: 1,000 samples of
** 10,000 trades, resampled with one worker and with every core, beside a
** plain loop that writes the same curve buffer from the same trade array in
** order (no draws, no drawdown bookkeeping), all measured in the same run.
**
** Counters: samples/s with 1 worker and with N, the speed-up of N workers
** over 1, and the ratio of the one-worker resampling time to the plain
** loop's time; the checksum of the best profit shows a change of answers. */
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "views/monte_carlo.h"

namespace {

const int32_t kSamples = 1000;
const int32_t kTrades = 10000;

struct Buffers {
    std::vector<double> points, curves;
    std::vector<MonteCarloSummary> profits, drawdowns;
    Buffers() : points(kTrades), curves(size_t(kSamples) * kTrades), profits(kSamples), drawdowns(kSamples)
    {
        for (int32_t i = 0; i < kTrades; i++) points[size_t(i)] = double((i * 7919) % 2001 - 990);
    }
};

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double RunWith(Buffers &b, int32_t workers, double *best)
{
    MonteCarloJob job;
    job.points = b.points.data();
    job.n = kTrades;
    job.samples = kSamples;
    job.kind = PLOT_MC_PROFITS;
    job.percentUnits = 0;
    job.randomSeed = 7;
    job.workers = workers;
    job.curves = b.curves.data();
    job.profits = b.profits.data();
    job.drawdowns = b.drawdowns.data();
    job.stop = 0;
    auto start = std::chrono::steady_clock::now();
    if (!RunMonteCarlo(&job)) return -1;
    double t = Seconds(start);
    *best = b.profits[kSamples - 1].value;
    return t;
}

double PlainLoop(Buffers &b)
{
    auto start = std::chrono::steady_clock::now();
    for (int32_t s = 0; s < kSamples; s++) {
        double r = 0, *curve = b.curves.data() + size_t(s) * kTrades;
        for (int32_t j = 0; j < kTrades; j++) {
            r += b.points[size_t(j)];
            curve[j] = r;
        }
    }
    benchmark::DoNotOptimize(b.curves.data());
    benchmark::ClobberMemory();
    return Seconds(start);
}

void BM_MonteCarlo(benchmark::State &state)
{
    gHeadless.captureLog = 1;
    static Buffers b;
    int32_t cores = PlatProcessorCount();
    if (cores > MONTE_CARLO_MAX_WORKERS) cores = MONTE_CARLO_MAX_WORKERS;
    double one = 0, many = 0, plain = 0, best1 = 0, bestN = 0;
    for (auto _ : state) {
        one += RunWith(b, 1, &best1);
        many += RunWith(b, cores, &bestN);
        plain += PlainLoop(b);
    }
    double n = double(state.iterations());
    state.counters["samples/s 1"] = kSamples * n / one;
    state.counters["samples/s N"] = kSamples * n / many;
    state.counters["workers"] = cores;
    state.counters["speed-up N/1"] = one / many;
    state.counters["resample/plain"] = one / plain;
    state.counters["best"] = best1;
    if (best1 != bestN) state.SkipWithError("the answers differ between worker counts");
}
BENCHMARK(BM_MonteCarlo)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
