/* monte_carlo.cpp -- trade resampling on worker threads. */
#include "views/monte_carlo.h"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "foundation/numbers.h"
#include "foundation/random.h"
#include "foundation/errors.h"
#include "foundation/text_match.h"
#include "services/services.h"

namespace {

struct MonteCarloBlock {
    MonteCarloJob *job;
    int32_t first, step;
    std::mutex *lock;
    std::atomic<int> running;
};

int32_t DrawIndex(int seeded, int32_t n)
{
    if (!seeded) {
        int32_t k = int32_t(RandomValue(0, n - 1, 1));
        return k < n ? k : n - 1;
    }
    uint32_t r = (uint32_t(NextRandom()) << 15) | uint32_t(NextRandom());
    return int32_t(r % uint32_t(n));
}

void MonteCarloThread(MonteCarloBlock *block)
{
    MonteCarloJob *job = block->job;
    SelectRandomSlot(block->first);
    int seeded = job->randomSeed != 0;
    double lo = 1e14, hi = -1e14;
    int32_t n = job->n, S = job->samples, done = 0;
    double s0 = job->percentUnits ? 1.0 : 0.0;
    for (int32_t s = block->first; s < S && !job->stop.load(); s += block->step) {
        /* Each sample has its own seed (a worker's first sample gets seed + 1 +
        ** its number), so the table does not depend on the worker count. */
        if (seeded) SeedRandomGenerator(job->randomSeed + 1 + uint32_t(s));
        double r = s0, p = s0, D = 0, F = 0;
        double *curve = job->curves + int64_t(s) * n;
        int32_t j = 0;
        for (; j < n; j++) {
            if (job->stop.load(std::memory_order_relaxed)) break;
            double v = job->points[s == S - 1 ? j : DrawIndex(seeded, n)];
            r = job->percentUnits ? r * v : r + v;
            if (r > p) p = r;
            double d = p - r;
            /* The deepest fractional drop need not be the largest one in
            ** dollars: a drop from a lower peak can be the deeper. */
            if (d > D) D = d;
            if (p != 0 && d / p > F) F = d / p;
            double c;
            if (job->kind == PLOT_MC_DRAWDOWNS)
                c = d == 0 ? 0 : (job->percentUnits ? (p != 0 ? -d / p : 0) : -d);
            else
                c = job->percentUnits ? r - 1 : r;
            curve[j] = c;
            if (c < lo) lo = c;
            if (c > hi) hi = c;
        }
        if (block->first == 0) job->progress.fetch_add(uint32_t(j) * uint32_t(block->step), std::memory_order_relaxed);
        if (j < n) break;
        job->profits[s] = {job->percentUnits ? r - 1 : r, uint32_t(s)};
        /* A sample that never fell reports 0, not -0, so it prints as "$0". */
        double drawdown = job->percentUnits ? F : D;
        job->drawdowns[s] = {drawdown > 0 ? -drawdown : 0.0, uint32_t(s)};
        done++;
    }
    std::lock_guard<std::mutex> guard(*block->lock);
    if (lo < job->valueMin) job->valueMin = lo;
    if (hi > job->valueMax) job->valueMax = hi;
    job->finished += done;
    block->running = 0;
}

void ShowThousands(int part, const char *format, int64_t count)
{
    char digits[32];
    int length = FormatText(digits, sizeof digits, "%lld", (long long)count);
    InsertCommas(digits, length, sizeof digits);
    SetStatusText(part, format, digits);
}

/* Unfinished samples sort last and are left out of the table. */
const double UNFINISHED = HUGE_VAL;

} // namespace

int CompareMonteCarloValues(const void *a, const void *b)
{
    const MonteCarloSummary *x = static_cast<const MonteCarloSummary *>(a);
    const MonteCarloSummary *y = static_cast<const MonteCarloSummary *>(b);
    int c = CompareDouble(x->value, y->value);
    if (c != 0) return c;
    return x->sample > y->sample ? -1 : x->sample < y->sample ? 1
                                                              : 0;
}

int RunMonteCarlo(MonteCarloJob *job)
{
    int64_t total = int64_t(job->samples) * job->n;
    if (total > MONTE_CARLO_MAX_POINTS) {
        ReportError("Unable to generate Monte Carlo analysis -- too many data points.");
        return 0;
    }
    if (job->samples < 1 || job->n < 1) return 0;
    job->valueMin = 1e14;
    job->valueMax = -1e14;
    job->finished = 0;
    job->progress = 0;
    int statusShown = total >= 1000000;
    if (statusShown) ShowThousands(0, "Randomizing %s Trades - Press ESC to Cancel", total);
    for (int32_t s = 0; s < job->samples; s++) {
        job->profits[s] = {UNFINISHED, uint32_t(s)};
        job->drawdowns[s] = {UNFINISHED, uint32_t(s)};
    }
    int32_t workers = job->workers;
    if (workers > MONTE_CARLO_MAX_WORKERS) workers = MONTE_CARLO_MAX_WORKERS;
    if (workers > job->samples) workers = job->samples;
    if (workers < 1) workers = 1;
    std::mutex lock;
    MonteCarloBlock blocks[MONTE_CARLO_MAX_WORKERS];
    std::thread threads[MONTE_CARLO_MAX_WORKERS];
    for (int32_t k = 0; k < workers; k++) {
        blocks[k].job = job;
        blocks[k].first = k;
        blocks[k].step = workers;
        blocks[k].lock = &lock;
        blocks[k].running = 1;
        threads[k] = std::thread(MonteCarloThread, &blocks[k]);
    }
    uint64_t shown = PlatTickCount64();
    for (;;) {
        int running = 0;
        for (int32_t k = 0; k < workers; k++) running += blocks[k].running.load();
        if (!running) break;
        PumpMessages();
        if (gRun.lowMemory.load() || PlatEscapePressed()) job->stop = 1;
        uint64_t now = PlatTickCount64();
        if (statusShown && now - shown >= 100) {
            shown = now;
            ShowThousands(1, "Trade %s", job->progress.load(std::memory_order_relaxed));
        }
        PlatSleep(1);
    }
    for (int32_t k = 0; k < workers; k++) threads[k].join();
    if (statusShown) SetStatusText(1, nullptr);
    qsort(job->profits, size_t(job->samples), sizeof(MonteCarloSummary), CompareMonteCarloValues);
    qsort(job->drawdowns, size_t(job->samples), sizeof(MonteCarloSummary), CompareMonteCarloValues);
    return 1;
}

int32_t MonteCarloPercentiles(const MonteCarloJob *job, double years, MonteCarloRow rows[9])
{
    static const int32_t kPercentiles[9] = {1, 5, 10, 20, 50, 80, 90, 95, 99};
    int32_t S = job->finished;
    if (S < 1) return 0;
    for (int32_t r = 0; r < 9; r++) {
        int32_t q = kPercentiles[r];
        int32_t i = int32_t(int64_t(S) * q / 100);
        if (i > S - 1) i = S - 1;
        double np = job->profits[i].value;
        MonteCarloRow &row = rows[r];
        row.percentile = q;
        row.netProfit = np;
        row.drawdown = job->drawdowns[i].value;
        row.hasAnnual = years > 0 && std::isfinite(years);
        row.annual = !row.hasAnnual ? 0
            : job->percentUnits     ? std::pow(1 + np, 1 / years) - 1
                                    : np / years;
    }
    return 9;
}
