/* monte_carlo.h -- resampling of a test's trade values into equity curves,
** with the sorted profit and drawdown summaries and the percentile rows.
**
** Owns:       nothing; the caller sizes the curve and summary buffers.
** Threads:    RunMonteCarlo starts its own workers and joins them; each
**             worker draws from its own random slot and never touches the
**             program's current seed.
*/
#pragma once
#include <atomic>
#include <cstdint>

enum { MONTE_CARLO_MAX_POINTS = 2147483647,
       MONTE_CARLO_MAX_WORKERS = 32 };

struct MonteCarloSummary {
    double value;
    uint32_t sample;
};

struct MonteCarloJob {
    const double *points; /* n trade values: dollars or growth factors */
    int32_t n;
    int32_t samples; /* S; the last one is the backtest order */
    int32_t kind;    /* PLOT_MC_PROFITS or PLOT_MC_DRAWDOWNS */
    int percentUnits;
    uint32_t randomSeed; /* the script's RandomSeed; 0 draws unseeded */
    int32_t workers;
    double *curves;             /* S x n */
    MonteCarloSummary *profits; /* S */
    MonteCarloSummary *drawdowns;
    double valueMin, valueMax;
    std::atomic<int> stop;
    int32_t finished; /* samples completed; a stopped run shows these */
    std::atomic<uint32_t> progress; /* the first worker's draws times the worker count */
};

enum { PLOT_MC_PROFITS = 4,
       PLOT_MC_DRAWDOWNS = 5 };

/* Ascending by value; equal values put the higher sample index first. */
int CompareMonteCarloValues(const void *a, const void *b);

/* 1 done, 0 refused (too many data points, reported) or no samples.  While
** the workers run it pumps messages, turns Escape and low memory into a stop,
** and from 1,000,000 data points shows its progress in the status bar. */
int RunMonteCarlo(MonteCarloJob *job);

struct MonteCarloRow {
    int32_t percentile;
    double netProfit, annual, drawdown;
    int hasAnnual; /* 0 when the years are not positive */
};

/* Percentile rows 1, 5, 10, 20, 50, 80, 90, 95, 99 from the sorted finished
** summaries; years = filled rows / days per year.  Returns the rows stored (0
** when no sample finished). */
int32_t MonteCarloPercentiles(const MonteCarloJob *job, double years, MonteCarloRow rows[9]);
