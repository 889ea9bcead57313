#include "views/graph_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(GraphGeometry, PeriodsAndValuesMapToPixels)
{
    /* top 20, H 16, A 8, G 48, Lw 80: x from 80 over 912 pixels; the plot
    ** from y 76 (high) to y 464 (low) for a plot height of 500. */
    gGraphGeometry = GraphGeometry{.top = 20, .labelHeight = 16, .averageWidth = 8, .legendHeight = 48, .labelWidth = 80};
    EXPECT_EQ(GraphXFromIndex(0, 4, 1000), 80);
    EXPECT_EQ(GraphXFromIndex(1, 4, 1000), 308);
    EXPECT_EQ(GraphXFromIndex(3, 0, 1000), 0);
    EXPECT_EQ(GraphYFromValue(0, 0, 100, 500), 464);
    EXPECT_EQ(GraphYFromValue(100, 0, 100, 500), 76);
    EXPECT_EQ(GraphYFromValue(50, 0, 100, 500), 270);
    EXPECT_EQ(GraphYFromValue(7, 7, 7, 500), 250);

    EXPECT_EQ(GraphPlotValue(5e-7, 0), 0.0);
    EXPECT_EQ(GraphPlotValue(-5e-7, 0), 0.0);
    EXPECT_EQ(GraphPlotValue(2, 0), 2.0);
    EXPECT_NEAR(GraphPlotValue(std::exp(1.0), 1), 1.0, 1e-12);
}

TEST(GraphGeometry, AxisSteps)
{
    /* clang-format off */
    const struct { double min, max; int32_t room, logForm, integers; double step, unit; int32_t additive; } cases[] = {
        { 1000, 1e6, 3, 1, 0, 10, 1 },        /* factor 10 */
        { 1, 4, 4, 1, 0, 2, 1 },              /* a factor is at least 2 */
        { 1, 1.2, 1, 1, 0, 0.2, 0.1, 1 },     /* narrower than two factors: addends */
        { 0.95e6, 1.19e6, 10, 1, 0, 20000, 10000, 1 },
        { 0, 100, 4, 0, 0, 30, 10 },          /* 25 rounds halves upward */
        { 0, 0.02, 4, 0, 0, 0.005, 0.001 },
        { 0, 1.2, 4, 0, 1, 1, 0.1 },          /* whole numbers step by at least 1 */
        { 5, 5, 6, 0, 0, 1, 1 },
        { 0, 100, 0, 0, 0, 1, 1 },
    };
    /* clang-format on */
    for (const auto &c : cases) {
        GraphAxis axis = GraphAxisStep(c.min, c.max, c.room, c.logForm, c.integers);
        EXPECT_NEAR(axis.step, c.step, c.step * 1e-12) << c.min << " " << c.max;
        EXPECT_NEAR(axis.unit, c.unit, c.unit * 1e-12) << c.min << " " << c.max;
        EXPECT_EQ(axis.additive, c.additive) << c.min << " " << c.max;
    }
}

TEST(GraphGeometry, AxisLabels)
{
    GraphAxis linear = {30, 10};
    EXPECT_EQ(GraphFirstLabel(&linear, -5, 88, 50, 0, 0), 0.0);
    EXPECT_EQ(GraphFirstLabel(&linear, 12, 88, 0, 0, 0), 10.0);
    EXPECT_EQ(GraphFirstLabel(&linear, 37, 88, 50, 0, 1), 40.0); /* a date subset starts at min */
    GraphAxis factor = {10, 1};
    EXPECT_EQ(GraphFirstLabel(&factor, 1000, 1e6, 1, 1, 0), 1000.0);

    double out[16];
    int32_t n = GraphAxisLabels(&linear, 10, 12, 88, 0, out, 16);
    EXPECT_EQ(std::vector<double>(out, out + n), (std::vector<double>{10, 40, 70}));
    n = GraphAxisLabels(&linear, 0, -65, 20, 0, out, 16);
    EXPECT_EQ(std::vector<double>(out, out + n), (std::vector<double>{0, -30, -60}));
    n = GraphAxisLabels(&factor, 1000, 1000, 1e6, 1, out, 16);
    EXPECT_EQ(std::vector<double>(out, out + n), (std::vector<double>{1000, 10000, 100000, 1e6}));

    /* Log form: equity from $1M between $0.95M and $1.19M is labelled
    ** every $20,000; one that fell to $0.3M is labelled below $1M too. */
    GraphAxis narrow = GraphAxisStep(0.95e6, 1.19e6, 10, 1, 0);
    double start = GraphFirstLabel(&narrow, 0.95e6, 1.19e6, 1e6, 1, 0);
    n = GraphAxisLabels(&narrow, start, 0.95e6, 1.19e6, 1, out, 16);
    EXPECT_EQ(std::vector<double>(out, out + n), (std::vector<double>{1e6, 1.02e6, 1.04e6, 1.06e6, 1.08e6, 1.1e6, 1.12e6,
                                                                      1.14e6, 1.16e6, 1.18e6, 0.98e6, 0.96e6}));
    GraphAxis fell = GraphAxisStep(0.3e6, 1.2e6, 10, 1, 0);
    EXPECT_EQ(fell.step, 2.0);
    n = GraphAxisLabels(&fell, GraphFirstLabel(&fell, 0.3e6, 1.2e6, 1e6, 1, 0), 0.3e6, 1.2e6, 1, out, 16);
    EXPECT_EQ(std::vector<double>(out, out + n), (std::vector<double>{1e6, 0.5e6}));

    /* All values equal: one label. */
    GraphAxis flat = GraphAxisStep(5, 5, 6, 0, 0);
    double first = GraphFirstLabel(&flat, 5, 5, 0, 0, 0);
    EXPECT_EQ(GraphAxisLabels(&flat, first, 5, 5, 0, out, 16), 1);
    EXPECT_EQ(out[0], 5.0);

    const struct {
        double step, first;
        int32_t decimals;
    } decimals[] = {
        {30, 0, 0},
        {0.005, 0, 4},
        {0.5, 0, 2},
        {1, 2.5, 2},
        {1, 0.005, 2},
    };
    for (const auto &c : decimals) EXPECT_EQ(GraphLabelDecimals(c.step, c.first), c.decimals) << c.step;
}

} // namespace
