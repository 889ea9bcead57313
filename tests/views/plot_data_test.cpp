#include <gtest/gtest.h>

#include <vector>

#include "views/plot_data.h"

namespace {

std::vector<PlotPoint> Points(std::vector<double> xs, std::vector<double> values)
{
    std::vector<PlotPoint> p(values.size());
    for (size_t i = 0; i < values.size(); i++) {
        p[i] = {};
        p[i].x = xs.empty() ? double(i + 1) : xs[i];
        p[i].value = values[i];
        p[i].trade = int32_t(i);
    }
    return p;
}

TEST(PlotData, HistogramBucketsWorkedByHand)
{
    struct Case {
        const char *name;
        std::vector<double> values; /* sorted */
        int32_t buckets;
        std::vector<PlotBucket> expected;
    } cases[] = {
        {"mixed with a zero", {-30, -10, 0, 10, 40}, 2, {{2, -12.5}, {1, 22.5}, {1, 57.5}, {1, 0}}},
        {"single losing trade", {-50}, 10, {{1, -47.5}}},
        {"all equal", {20, 20, 20}, 4, {{3, 22.5}}},
        {"huge values, tiny spread", {1e17, 1e17 + 16}, 4, {{2, 1.125e17}}},
    };
    for (const Case &c : cases) {
        std::vector<PlotPoint> p = Points({}, c.values);
        std::vector<PlotBucket> out(size_t(c.buckets) + 2);
        int32_t n = MakeHistogram(p.data(), int32_t(p.size()), c.buckets, out.data());
        ASSERT_EQ(n, int32_t(c.expected.size())) << c.name;
        for (int32_t i = 0; i < n; i++) {
            EXPECT_DOUBLE_EQ(out[size_t(i)].value, c.expected[size_t(i)].value) << c.name << " " << i;
            EXPECT_DOUBLE_EQ(out[size_t(i)].position, c.expected[size_t(i)].position) << c.name << " " << i;
        }
    }
}

TEST(PlotData, CumulativeCurve)
{
    std::vector<PlotPoint> dollars = Points({}, {100, -50, 30});
    PlotRange range;
    MakeCumulativeCurve(dollars.data(), 3, 0, &range);
    EXPECT_EQ(dollars[0].value, 100);
    EXPECT_EQ(dollars[1].value, 50);
    EXPECT_EQ(dollars[2].value, 80);
    EXPECT_TRUE(dollars[0].newHigh && !dollars[1].newHigh && !dollars[2].newHigh);
    EXPECT_EQ(range.min, 50);
    EXPECT_EQ(range.max, 100);

    std::vector<PlotPoint> growth = Points({}, {1.1, 0.9});
    MakeCumulativeCurve(growth.data(), 2, 1, &range);
    EXPECT_NEAR(growth[0].value, 0.1, 1e-12);
    EXPECT_NEAR(growth[1].value, -0.01, 1e-12);
}

TEST(PlotData, EqualCountBinsLeaveTheRemainderOut)
{
    std::vector<double> v(25);
    for (int i = 0; i < 25; i++) v[size_t(i)] = i + 1;
    std::vector<PlotPoint> p = Points({}, v);
    PlotBucket out[10];
    ASSERT_EQ(MakeEqualCountBins(p.data(), 25, 10, out), 10);
    EXPECT_EQ(out[0].value, 2);
    EXPECT_EQ(out[0].position, 1.5);
    EXPECT_EQ(out[9].value, 20);
    EXPECT_EQ(out[9].position, 19.5);
}

TEST(PlotData, EqualRangeBins)
{
    struct Case {
        const char *name;
        std::vector<double> xs, values;
        double increment;
        int32_t expectedCount;
        std::vector<PlotBucket> expected;
    } cases[] = {
        {"negative x start at the floor", {-3.5, -0.5, 0.5, 2, 9.9}, {1, 2, 3, 4, 5}, 2, 5, {{-4, 1}, {-2, 2}, {0, 3}, {2, 4}, {8, 5}}},
        {"two points in one bin", {1, 1.5, 3}, {10, 20, 6}, 2, 2, {{0, 15}, {2, 6}}},
        {"increment 0 keeps the previous bins", {1}, {1}, 0, -1, {}},
        {"huge x, tiny increment", {1e17, 1e17 + 16}, {1, 2}, 1, 2, {{1e17, 1}, {1e17 + 16, 2}}},
    };
    for (const Case &c : cases) {
        std::vector<PlotPoint> p = Points(c.xs, c.values);
        PlotBucket out[16];
        int32_t n = MakeEqualRangeBins(p.data(), int32_t(p.size()), c.increment, out, 16);
        ASSERT_EQ(n, c.expectedCount) << c.name;
        for (int32_t i = 0; i < n; i++) {
            EXPECT_DOUBLE_EQ(out[i].value, c.expected[size_t(i)].value) << c.name << " " << i;
            EXPECT_DOUBLE_EQ(out[i].position, c.expected[size_t(i)].position) << c.name << " " << i;
        }
    }
}

} // namespace
