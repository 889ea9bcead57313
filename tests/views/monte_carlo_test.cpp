#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/random.h"
#include "views/monte_carlo.h"

namespace {

struct McRun {
    std::vector<double> curves;
    std::vector<MonteCarloSummary> profits, drawdowns;
    MonteCarloJob job;
    McRun(const std::vector<double> &points, int32_t samples, int32_t kind, int percent, uint32_t seed,
          int32_t workers)
        : curves(size_t(samples) * points.size()), profits(size_t(samples)), drawdowns(size_t(samples))
    {
        job.points = points.data();
        job.n = int32_t(points.size());
        job.samples = samples;
        job.kind = kind;
        job.percentUnits = percent;
        job.randomSeed = seed;
        job.workers = workers;
        job.curves = curves.data();
        job.profits = profits.data();
        job.drawdowns = drawdowns.data();
        job.stop = 0;
    }
};

std::vector<double> TradeValues()
{
    std::vector<double> v(50);
    for (int i = 0; i < 50; i++) v[size_t(i)] = double((i * 37) % 101 - 50);
    return v;
}

TEST(MonteCarlo, SeededRunsMatchAcrossWorkerCountsAndIndependentPercentiles)
{
    std::vector<double> points = TradeValues();
    uint32_t seedBefore = gRandomSeed.load();
    McRun one(points, 100, PLOT_MC_PROFITS, 0, 7, 1);
    McRun many(points, 100, PLOT_MC_PROFITS, 0, 7, 32);
    ASSERT_EQ(RunMonteCarlo(&one.job), 1);
    ASSERT_EQ(RunMonteCarlo(&many.job), 1);
    EXPECT_EQ(gRandomSeed.load(), seedBefore);
    EXPECT_EQ(one.curves, many.curves);

    /* Sample 0 is drawn from seed 7 + 1; its first draws were
    ** worked out from the generator's definition: trades 22, 1, 23. */
    EXPECT_EQ(one.curves[0], -44);
    EXPECT_EQ(one.curves[1], -57);
    EXPECT_EQ(one.curves[2], -64);
    /* The last sample is the backtest order. */
    double r = 0;
    for (size_t j = 0; j < points.size(); j++) {
        r += points[j];
        EXPECT_EQ(one.curves[99 * 50 + j], r);
    }

    std::vector<double> finals, drawdowns;
    for (int s = 0; s < 100; s++) {
        double peak = 0, worst = 0;
        for (int j = 0; j < 50; j++) {
            double v = one.curves[size_t(s * 50 + j)];
            peak = std::max(peak, v);
            worst = std::max(worst, peak - v);
        }
        finals.push_back(one.curves[size_t(s * 50 + 49)]);
        drawdowns.push_back(-worst);
    }
    std::sort(finals.begin(), finals.end());
    std::sort(drawdowns.begin(), drawdowns.end());
    MonteCarloRow rows[9], rowsMany[9];
    ASSERT_EQ(MonteCarloPercentiles(&one.job, 2.0, rows), 9);
    ASSERT_EQ(MonteCarloPercentiles(&many.job, 2.0, rowsMany), 9);
    const int q[9] = {1, 5, 10, 20, 50, 80, 90, 95, 99};
    for (int k = 0; k < 9; k++) {
        EXPECT_EQ(rows[k].percentile, q[k]);
        EXPECT_EQ(rows[k].netProfit, finals[size_t(q[k])]) << q[k];
        EXPECT_EQ(rows[k].drawdown, drawdowns[size_t(q[k])]) << q[k];
        EXPECT_EQ(rows[k].annual, finals[size_t(q[k])] / 2) << q[k];
        EXPECT_EQ(rowsMany[k].netProfit, rows[k].netProfit);
        EXPECT_EQ(rowsMany[k].drawdown, rows[k].drawdown);
    }
}

TEST(MonteCarlo, PercentDrawdownsAndDegenerateTables)
{
    std::vector<double> points = {0.9, 1.2};
    McRun run(points, 3, PLOT_MC_DRAWDOWNS, 1, 5, 2);
    ASSERT_EQ(RunMonteCarlo(&run.job), 1);
    EXPECT_NEAR(run.curves[2 * 2 + 0], -0.1, 1e-12); /* a first trade losing 10 % */

    MonteCarloRow rows[9];
    ASSERT_EQ(MonteCarloPercentiles(&run.job, 0.0, rows), 9); /* zero days per year */
    for (const MonteCarloRow &row : rows) {
        EXPECT_FALSE(row.hasAnnual);
        EXPECT_TRUE(std::isfinite(row.annual));
    }
    run.job.finished = 0; /* a table over no finished samples */
    EXPECT_EQ(MonteCarloPercentiles(&run.job, 1.0, rows), 0);

    run.job.stop = 1; /* stopped before any sample finished: nothing to show */
    ASSERT_EQ(RunMonteCarlo(&run.job), 1);
    EXPECT_EQ(run.job.finished, 0);
    EXPECT_EQ(MonteCarloPercentiles(&run.job, 1.0, rows), 0);
}

/* Growth factors 0.7, 3, 0.75 in their own order (the one sample is the
** backtest's): equity 0.7 (30 % below the peak of 1), 2.1, then 1.575, the
** larger drop in dollars but 25 % of its peak.  The percent drawdown is the
** deepest fractional one, 30 %, as the sample's curve shows. */
TEST(MonteCarlo, PercentDrawdownIsTheDeepestFractionalDrop)
{
    std::vector<double> points = {0.7, 3, 0.75};
    McRun run(points, 1, PLOT_MC_DRAWDOWNS, 1, 0, 1);
    ASSERT_EQ(RunMonteCarlo(&run.job), 1);
    EXPECT_NEAR(run.curves[0], -0.3, 1e-12);
    EXPECT_EQ(run.curves[1], 0);
    EXPECT_NEAR(run.curves[2], -0.25, 1e-12);
    MonteCarloRow rows[9];
    ASSERT_EQ(MonteCarloPercentiles(&run.job, 1.0, rows), 9);
    for (const MonteCarloRow &row : rows) EXPECT_NEAR(row.drawdown, -0.3, 1e-12) << row.percentile;
}

TEST(MonteCarlo, RefusesMoreThanThirtyTwoBitDataPoints)
{
    std::vector<double> points(1, 1.0);
    McRun run(points, 1, PLOT_MC_PROFITS, 0, 1, 1);
    run.job.samples = 30000;
    run.job.n = 100000;
    EXPECT_EQ(RunMonteCarlo(&run.job), 0);
}

} // namespace
