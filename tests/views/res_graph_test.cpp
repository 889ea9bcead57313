#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "views/res_graph.h"

namespace {

TEST(ResGraph, CellColours)
{
    const double nan = std::nan("");
    struct Case {
        double v, lo, hi;
        uint32_t colour;
    } cases[] = {
        {5, 5, 20, 0x000000},   /* the smallest of all-positive values is black */
        {20, 5, 20, 0x00FF00},  /* the largest pure green */
        {10, 5, 20, 85 << 8},   /* trunc(255 x 5 / 15) */
        {-10, -10, 10, 0xFF},   /* pure red */
        {-5, -10, 10, 127},     /* trunc(255 x 5 / 10) */
        {10, -10, 10, 0x00FF00},
        {0, -10, 10, 0},
        {7, 7, 7, 0},           /* all equal: an empty range is black */
        {-7, -7, -7, 0},
        {nan, 0, 1, 0},
        {3, nan, nan, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ResGraphCellColour(c.v, c.lo, c.hi), c.colour) << c.v << " in " << c.lo << ".." << c.hi;
}

/* Tests of a two-parameter optimization: A has 3 values, B 2, C only 1. */
struct ResultsFixture {
    ResultsWindow results{};
    std::vector<TestRecord> tests;
    std::vector<std::vector<ParamValue>> params;
    std::vector<double> values;
    ParamValue columns[3]{};
    StrategyResult strategy{};
    ResGraphWindow *record = nullptr;

    ResultsFixture(const std::vector<std::vector<int>> &rows /* a index, b index, value */)
    {
        const char *names[3] = {"A", "B", "C"};
        const int counts[3] = {3, 2, 1};
        for (int k = 0; k < 3; k++) {
            strcpy(columns[k].name, names[k]);
            columns[k].valueCount = counts[k];
        }
        results.columnCount = 3;
        results.columns = columns;
        tests.resize(rows.size());
        params.resize(rows.size());
        values.resize(rows.size() * 2);
        for (size_t i = 0; i < rows.size(); i++) {
            TestRecord &t = tests[i];
            t = TestRecord{};
            t.testNumber = int32_t(i + 1);
            t.strategyCount = 1;
            t.strategies = &strategy;
            values[i * 2] = 0;
            values[i * 2 + 1] = rows[i][2];
            t.resultsValues = &values[i * 2];
            t.resultsValueCount = 2;
            params[i].resize(2);
            /* parameter order differs from the columns' order */
            strcpy(params[i][0].name, "B");
            params[i][0].valueIndex = rows[i][1];
            params[i][0].value = 0.5 * rows[i][1];
            strcpy(params[i][1].name, "A");
            params[i][1].valueIndex = rows[i][0];
            params[i][1].value = 10 + 10 * rows[i][0];
            t.parameters = params[i].data();
            t.parameterCount = 2;
            t.previous = i > 0 ? &tests[i - 1] : nullptr;
        }
        for (size_t i = 0; i + 1 < rows.size(); i++) tests[i].next = &tests[i + 1];
        results.firstTest = rows.empty() ? nullptr : &tests[0];
        results.testCount = int32_t(rows.size());
        AllocMemory(&record, sizeof *record);
        SetResGraphVariables(record, &results);
    }
    ~ResultsFixture() { FreeResGraphWindow(record); }
};

TEST(ResGraph, HeatMapSeriesAveragesEachCell)
{
    /* Two tests in cell (A 0, B 1); one test per other filled cell; an index
    ** beyond A's values is left out. */
    ResultsFixture f({{0, 0, 4}, {1, 0, 6}, {0, 1, 3}, {0, 1, 8}, {2, 1, -2}, {3, 0, 99}});
    ASSERT_EQ(f.record->variableCount, 2);
    f.record->heatMap = 1;
    f.record->xVariable = 0;
    f.record->yVariable = 1;
    ResGraphColumn column = {"Net", 3, 0, 1};
    ASSERT_EQ(BuildOptimizationGraphData(f.record, &f.results, &column), 1);
    EXPECT_EQ(f.record->xCount, 3);
    EXPECT_EQ(f.record->yCount, 2);
    ASSERT_EQ(f.record->pointCount, 6);
    EXPECT_STREQ(f.record->xLabel, "A:");
    EXPECT_STREQ(f.record->yLabel, "B");
    EXPECT_STREQ(f.record->valueLabel, "Avg Net");
    EXPECT_EQ(f.record->minimum, -2);
    EXPECT_EQ(f.record->maximum, 6);
    EXPECT_EQ(f.record->allIntegers, 0);
    /* sorted by x value, then y value: empty cells (x 0) first */
    struct Cell {
        int xi, yi, tests;
        double value;
    } want[] = {{-1, -1, 0, 0}, {-1, -1, 0, 0}, {0, 0, 1, 4}, {0, 1, 2, 5.5}, {1, 0, 1, 6}, {2, 1, 1, -2}};
    for (int i = 0; i < 6; i++) {
        const ResGraphPoint &p = f.record->points[i];
        EXPECT_EQ(p.xIndex, want[i].xi) << i;
        EXPECT_EQ(p.yIndex, want[i].yi) << i;
        EXPECT_EQ(p.tests, want[i].tests) << i;
        EXPECT_EQ(p.value, want[i].value) << i;
    }
}

TEST(ResGraph, BarChartSeriesByVariableAndByTest)
{
    ResultsFixture f({{0, 0, 4}, {1, 0, 6}, {2, 1, -2}, {2, 0, 2}});
    ResGraphColumn column = {"Net", 3, 0, 1};
    /* Averaged by A alone (the second variable is the same one), sorted. */
    f.record->xVariable = 0;
    f.record->yVariable = 0;
    f.record->sorted = 1;
    ASSERT_EQ(BuildOptimizationGraphData(f.record, &f.results, &column), 1);
    ASSERT_EQ(f.record->pointCount, 3);
    EXPECT_STREQ(f.record->yLabel, "");
    EXPECT_EQ(f.record->points[0].value, 0); /* A index 2: (-2 + 2) / 2 */
    EXPECT_EQ(f.record->points[1].value, 4);
    EXPECT_EQ(f.record->points[2].value, 6);
    EXPECT_EQ(f.record->allIntegers, 1);
    /* An x variable beyond the variables is the test number: one point per
    ** test and the plain heading. */
    f.record->xVariable = 9;
    f.record->sorted = 0;
    ASSERT_EQ(BuildOptimizationGraphData(f.record, &f.results, &column), 1);
    EXPECT_EQ(f.record->xVariable, 2);
    ASSERT_EQ(f.record->pointCount, 4);
    EXPECT_STREQ(f.record->xLabel, "Test:");
    EXPECT_STREQ(f.record->valueLabel, "Net");
    EXPECT_EQ(f.record->points[3].x, 4);
    EXPECT_EQ(f.record->points[3].value, 2);
}

/* The walk-forward summary tests hold NaN, index 1, for each walked
** parameter; they belong to no cell or bar, so nothing is averaged and no
** value of theirs sets the range. */
TEST(ResGraph, TestsWithoutAParameterValueAreNotGrouped)
{
    ResultsFixture f({{0, 0, 4}, {1, 0, 6}, {1, 1, 3000}, {1, 1, 1000}});
    for (int i : {2, 3})
        for (ParamValue &p : f.params[i]) {
            p.value = std::nan("");
            p.valueIndex = 1;
        }
    ResGraphColumn column = {"Net", 3, 0, 1};
    struct Case {
        int heatMap, y;
        int32_t points;
    } cases[] = {{1, 1, 6}, {0, 0, 3}};
    for (const Case &c : cases) {
        f.record->heatMap = c.heatMap;
        f.record->xVariable = 0;
        f.record->yVariable = c.y;
        ASSERT_EQ(BuildOptimizationGraphData(f.record, &f.results, &column), 1);
        ASSERT_EQ(f.record->pointCount, c.points);
        int32_t counted = 0;
        for (int32_t i = 0; i < f.record->pointCount; i++) {
            counted += f.record->points[i].tests;
            EXPECT_FALSE(std::isnan(f.record->points[i].x)) << i;
        }
        EXPECT_EQ(counted, 2) << c.heatMap;
        EXPECT_EQ(f.record->maximum, 6) << c.heatMap;
        EXPECT_STREQ(f.record->valueLabel, "Net");
    }
}

TEST(ResGraph, GridStepsLegendRanksAndLine)
{
    EXPECT_EQ(ResGraphGridStep(0, 97, 10, 0), 10);     /* 9.7 to the nearest 1 */
    EXPECT_DOUBLE_EQ(ResGraphGridStep(0, 0.37, 4, 0), 0.09);
    EXPECT_EQ(ResGraphGridStep(0, 3, 10, 1), 1);       /* whole averages step at least 1 */
    EXPECT_EQ(ResGraphGridStep(0, 0, 10, 0), 1);       /* nothing to span */
    double step, base;
    PlotGridStep(-3, 7, 4, &step, &base);
    EXPECT_EQ(step, 2.5);
    EXPECT_EQ(base, 0);
    PlotGridStep(100, 110, 4, &step, &base);
    EXPECT_EQ(step, 2.5);
    EXPECT_EQ(base, 110); /* 105 to the step of 10 before halving */

    const int want[5] = {0, 2, 5, 7, 9};
    for (int i = 0; i <= 4; i++) EXPECT_EQ(HeatMapLegendRank(i, 4, 10), want[i]) << i;
    EXPECT_EQ(HeatMapLegendRank(0, 4, 0), -1);
    /* The legend lists each value once: duplicates go, and with fewer
    ** values than label rows there is one step fewer than values. */
    std::vector<double> values = {5, -1, 5, 3, -1, 5};
    ASSERT_EQ(DistinctSortedValues(values.data(), 6), 3);
    EXPECT_EQ(std::vector<double>(values.begin(), values.begin() + 3), (std::vector<double>{-1, 3, 5}));
    const int32_t steps[][3] = {{18, 3, 2}, {18, 1, 0}, {4, 10, 4}, {4, 5, 4}, {4, 0, 0}};
    for (const auto &c : steps) EXPECT_EQ(HeatMapLegendSteps(c[0], c[1]), c[2]) << c[0] << " " << c[1];
    for (int i = 0; i <= 2; i++) EXPECT_EQ(HeatMapLegendRank(i, 2, 3), i);

    /* Axis labels: every stride-th value, the stride that holds the widest
    ** label and the gap: (12 + 5) / 10 = 1.7 -> 2. */
    const struct {
        double pitch;
        int32_t widest, gap, stride;
    } strides[] = {{10, 12, 5, 2}, {17, 12, 5, 1}, {8.5, 12, 5, 2}, {3, 12, 5, 6}, {40, 12, 5, 1}, {0, 12, 5, 1},
                   {10, 0, 0, 1}};
    for (const auto &c : strides)
        EXPECT_EQ(c.stride, AxisLabelStride(c.pitch, c.widest, c.gap)) << c.pitch << " " << c.widest << " " << c.gap;

    const double xs[3] = {0, 1, 2}, ys[3] = {1, 3, 5}, same[3] = {4, 4, 4};
    double a = 0, b = 0;
    ASSERT_EQ(FitLine(xs, ys, 3, &a, &b), 1);
    EXPECT_DOUBLE_EQ(a, 1);
    EXPECT_DOUBLE_EQ(b, 2);
    EXPECT_EQ(FitLine(same, ys, 3, &a, &b), 0);
}

} // namespace
