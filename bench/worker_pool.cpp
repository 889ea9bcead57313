/* worker_pool.cpp -- what keeping the worker threads saves a pass that shares
** a short piece of work out, as each data calculation item and each setup
** filter pass of an optimization's tests does.  One pass is four workers,
** the calling thread one of them, each summing its share of a 64,000-value
** array (a few microseconds of work, as an item over few symbols or a
** filter pass over few dates takes).  The same passes run, in the same
** run, with a thread made and joined per worker and per pass, as before,
** and with the pool's kept threads.
**
** Counters: us_per_pass_made and us_per_pass_kept (wall time per pass) and
** ratio_kept_to_made, their ratio: below 1 by what making and joining the
** threads cost.  threads_made counts the pool's threads, made by the first
** passes whatever the number of passes; sums_equal is 1 when every pass
** gave the same sums both ways. */
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "foundation/worker_pool.h"

namespace {

enum { WORKERS = 4, VALUES = 64000, PASSES = 2000 };

struct Share {
    const double *values;
    int32_t first, count;
    double sum;
};

void SumShare(void *arg)
{
    Share *s = (Share *)arg;
    double sum = 0;
    for (int32_t i = 0; i < s->count; i++) sum += s->values[s->first + i];
    s->sum = sum;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

void BM_KeptWorkers(benchmark::State &state)
{
    std::vector<double> values(VALUES);
    for (int i = 0; i < VALUES; i++) values[(size_t)i] = (i % 97) * 0.5;
    Share shares[WORKERS];
    for (int k = 0; k < WORKERS; k++) shares[k] = Share{values.data(), k * (VALUES / WORKERS), VALUES / WORKERS, 0};
    double made = 0, kept = 0;
    double expected[WORKERS];
    for (int k = 0; k < WORKERS; k++) {
        SumShare(&shares[k]);
        expected[k] = shares[k].sum;
    }
    bool equal = true;
    auto check = [&] {
        for (int k = 0; k < WORKERS; k++) equal = equal && shares[k].sum == expected[k];
    };
    int64_t threadsBefore = PoolThreadsMade();
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (int p = 0; p < PASSES; p++) {
            std::thread threads[WORKERS];
            for (int k = 1; k < WORKERS; k++) threads[k] = std::thread(SumShare, &shares[k]);
            SumShare(&shares[0]);
            for (int k = 1; k < WORKERS; k++) threads[k].join();
            check();
        }
        auto t1 = std::chrono::steady_clock::now();
        for (int p = 0; p < PASSES; p++) {
            WorkerBatch batch;
            for (int k = 1; k < WORKERS; k++) StartPoolTask(&batch, SumShare, &shares[k]);
            SumShare(&shares[0]);
            WaitPoolTasks(&batch);
            check();
        }
        auto t2 = std::chrono::steady_clock::now();
        made += Seconds(t0, t1);
        kept += Seconds(t1, t2);
    }
    double passes = (double)PASSES * (double)state.iterations();
    state.counters["us_per_pass_made"] = made / passes * 1e6;
    state.counters["us_per_pass_kept"] = kept / passes * 1e6;
    state.counters["ratio_kept_to_made"] = kept / made;
    state.counters["threads_made"] = (double)(PoolThreadsMade() - threadsBefore);
    state.counters["sums_equal"] = equal;
}
BENCHMARK(BM_KeptWorkers)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
