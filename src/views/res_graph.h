/* res_graph.h -- the results graph's record and its series: the tests of a
** results list averaged by one or two varied parameters (or listed by test
** number), the cell colours of the heat map and bars, and the grid steps and
** fitted line both trade plots and results graphs draw.
**
** Owns:       nothing program-wide; a ResGraphWindow owns its variables and
**             points (FreeResGraphWindow frees them).
** Errors:     BuildOptimizationGraphData returns 0 when memory runs out (the
**             allocator's flag is set); indexes read from tests are checked
**             against the variables' value counts, and a test that does not fit
**             is left out.
** Threads:    UI thread.
*/
#pragma once
#include <cstdint>

#include "records/test_records.h"

struct ResultsWindow;

enum { RES_GRAPH_LABEL_SIZE = 160,
       RES_GRAPH_AXIS_LABEL_SIZE = 80,
       RES_GRAPH_FIRST_VALUE_COLUMN = 5200,
       RES_GRAPH_FIRST_X_VARIABLE = 5300,
       RES_GRAPH_FIRST_Y_VARIABLE = 5400 };

struct ResGraphPoint {
    double value; /* the average of its tests */
    double x;     /* the parameter value or the test number */
    double y;
    int32_t xIndex, yIndex; /* -1 when none */
    int32_t tests;          /* 0: not drawn */
};

struct ResGraphWindow {
    int32_t valueColumn;
    ParamValue *variables; /* parameter columns with at least 2 values */
    int32_t variableCount;
    int32_t xVariable; /* == variableCount: "Test Number"; negative: none */
    int32_t xCount;
    int32_t yVariable;
    int32_t yCount;
    int32_t valueCode, valueDecimals;
    const char *currency;
    double minimum, maximum;
    int32_t allIntegers;
    int32_t sorted;
    int32_t heatMap;
    int32_t trend;
    char valueLabel[RES_GRAPH_LABEL_SIZE];
    char xLabel[RES_GRAPH_AXIS_LABEL_SIZE];
    char yLabel[RES_GRAPH_AXIS_LABEL_SIZE];
    ResGraphPoint *points;
    int32_t pointCount;
    void *owner; /* the results window */
    void *tabs;
};

/* The Results column a graph shows: its heading, display format and the
** index of its value in a test's strategy block. */
struct ResGraphColumn {
    const char *heading;
    int32_t code, decimals;
    int32_t index;
};

/* A colour 0x00BBGGRR with one channel: green for positive values, red for
** negative ones, black for 0 and for an empty range. */
uint32_t ResGraphCellColour(double value, double minimum, double maximum);

/* Copies the results window's parameter columns with at least 2 values. */
int SetResGraphVariables(ResGraphWindow *record, const ResultsWindow *results);

/* The series of the column over the results window's tests. */
int BuildOptimizationGraphData(ResGraphWindow *record, const ResultsWindow *results, const ResGraphColumn *column);
int CompareOptGraphPoints(const void *a, const void *b);

/* The rank the heat map's legend label i of k shows among n sorted values. */
int32_t HeatMapLegendRank(int32_t i, int32_t k, int32_t n);

/* Sorts the heat map's drawn values ascending and keeps each value once;
** returns how many remain. */
int32_t DistinctSortedValues(double *values, int32_t n);
/* The legend's label steps for k steps of room and m distinct values: k, or
** fewer so that no value is listed twice (0: a single label). */
int32_t HeatMapLegendSteps(int32_t k, int32_t m);

/* Every how many-th of an axis's evenly spaced values (pitch pixels apart)
** gets its label, so that labels of up to `widest` pixels with `gap` between
** them never meet: the same step all along the axis (2, 4, 6, 8, 10, 12, not
** 10, 13, 16 once the values grow a digit).  At least 1. */
int32_t AxisLabelStride(double pitch, int32_t widest, int32_t gap);

/* The bar chart's grid step for g grid lines over [minimum, maximum]. */
double ResGraphGridStep(double minimum, double maximum, int32_t lines, int32_t allIntegers);
/* The trade plot's value grid: the step and the base it counts from. */
void PlotGridStep(double minimum, double maximum, int32_t lines, double *step, double *base);

/* Least-squares line y = a + b x through the points; 0 when fewer than two
** distinct x values. */
int FitLine(const double *xs, const double *ys, int32_t n, double *a, double *b);

void FreeResGraphWindow(ResGraphWindow *record);
