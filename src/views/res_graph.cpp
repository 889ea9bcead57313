/* res_graph.cpp -- the results graph's series, cell colours, grid steps and
** fitted line. */
#include "views/res_graph.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "script/eval/value_access.h"

namespace {

/* The sort rule of the comparison (qsort takes no context; UI thread only). */
int gSortByValue = 0;

/* The channel of a fraction of full intensity; only its low 8 bits count.
** A fraction that is not a number (an empty range, a NaN value) or too large
** to convert gives 0. */
uint32_t Channel(double fraction)
{
    double c = std::trunc(255 * fraction);
    if (!std::isfinite(c) || std::fabs(c) > 9e15) return 0;
    return uint32_t(int64_t(c) & 0xFF);
}

/* The test's value of the named parameter; none when the test lacks it or
** holds no single value of it (a walk-forward summary test stores NaN), so
** that such a test joins no group of the variable. */
const ParamValue *FindTestParameter(const TestRecord *test, const char *name)
{
    if (!test->parameters) return nullptr;
    for (int32_t k = 0; k < test->parameterCount; k++)
        if (strcmp(test->parameters[k].name, name) == 0)
            return std::isnan(test->parameters[k].value) ? nullptr : &test->parameters[k];
    return nullptr;
}

} // namespace

uint32_t ResGraphCellColour(double value, double minimum, double maximum)
{
    if (value > 0) {
        double low = minimum > 0 ? minimum : 0;
        return Channel((value - low) / (maximum - low)) << 8;
    }
    if (value < 0) {
        double high = maximum < 0 ? maximum : 0;
        return Channel((high - value) / (high - minimum));
    }
    return 0;
}

int SetResGraphVariables(ResGraphWindow *record, const ResultsWindow *results)
{
    record->variableCount = 0;
    int32_t columns = results ? results->columnCount : 0;
    if (columns < 1) return 1;
    if (!ReallocMemory(&record->variables, uint64_t(columns) * sizeof(ParamValue))) return 0;
    for (int32_t k = 0; k < columns; k++)
        if (results->columns[k].valueCount >= 2) record->variables[record->variableCount++] = results->columns[k];
    return 1;
}

int CompareOptGraphPoints(const void *a, const void *b)
{
    const ResGraphPoint *p = static_cast<const ResGraphPoint *>(a);
    const ResGraphPoint *q = static_cast<const ResGraphPoint *>(b);
    int c = gSortByValue ? CompareDouble(p->value, q->value) : 0;
    if (c == 0) c = CompareDouble(p->x, q->x);
    if (c == 0) c = CompareDouble(p->y, q->y);
    if (c == 0) c = CompareDouble(p->xIndex, q->xIndex);
    if (c == 0) c = CompareDouble(p->yIndex, q->yIndex);
    return c;
}

int BuildOptimizationGraphData(ResGraphWindow *record, const ResultsWindow *results, const ResGraphColumn *column)
{
    int32_t vc = record->variableCount;
    /* Only the upper end is clamped: a negative x variable is "none", which
    ** the title tells apart, and like any x outside the variables it lists
    ** the tests one by one. */
    int32_t xMax = record->heatMap ? vc - 1 : vc;
    if (record->xVariable > xMax) record->xVariable = xMax;
    if (record->yVariable > vc - 1) record->yVariable = vc - 1;
    int testAxis = record->xVariable < 0 || record->xVariable >= vc;
    int useY = !testAxis && vc >= 2 && record->yVariable >= 0 && record->yVariable != record->xVariable;
    int32_t tests = results ? results->testCount : 0;
    const ParamValue *xVar = testAxis ? nullptr : &record->variables[record->xVariable];
    const ParamValue *yVar = useY ? &record->variables[record->yVariable] : nullptr;
    record->xCount = testAxis ? tests : xVar->valueCount;
    record->yCount = useY ? yVar->valueCount : 0;
    int64_t count = testAxis ? tests : int64_t(record->xCount) * (useY ? record->yCount : 1);
    if (count < 0 || count > INT32_MAX / int64_t(sizeof(ResGraphPoint))) return 0;
    int64_t room = count > tests ? count : tests;
    if (!ReallocMemory(&record->points, uint64_t(room > 0 ? room : 1) * sizeof(ResGraphPoint))) return 0;
    record->pointCount = int32_t(count);
    for (int32_t i = 0; i < record->pointCount; i++) record->points[i] = {0, 0, 0, -1, -1, 0};
    if (testAxis)
        CopyString(record->xLabel, sizeof record->xLabel, "Test:", -1);
    else
        FormatText(record->xLabel, sizeof record->xLabel, "%s:", xVar->name);
    record->yLabel[0] = 0;
    if (useY) FormatText(record->yLabel, sizeof record->yLabel, record->heatMap ? "%s" : "%s:", yVar->name);
    record->valueCode = column->code;
    record->valueDecimals = column->decimals;

    int32_t position = 0;
    for (const TestRecord *test = results ? results->firstTest : nullptr; test; test = test->next, position++) {
        const double *value = GetStrategyValues(test, test->mainStrategy, column->index);
        if (!value) continue;
        int32_t index;
        ResGraphPoint *p;
        if (testAxis) {
            if (position >= record->pointCount) break;
            index = position;
            p = &record->points[index];
            p->x = test->testNumber;
        } else {
            const ParamValue *xp = FindTestParameter(test, xVar->name);
            const ParamValue *yp = useY ? FindTestParameter(test, yVar->name) : nullptr;
            if (!xp || xp->valueIndex < 0 || xp->valueIndex >= record->xCount) continue;
            if (useY && (!yp || yp->valueIndex < 0 || yp->valueIndex >= record->yCount)) continue;
            index = (yp ? yp->valueIndex * record->xCount : 0) + xp->valueIndex;
            p = &record->points[index];
            p->x = xp->value;
            p->xIndex = xp->valueIndex;
            if (yp) {
                p->y = yp->value;
                p->yIndex = yp->valueIndex;
            }
        }
        p->value += *value;
        p->tests++;
    }
    record->minimum = 1e14;
    record->maximum = -1e14;
    record->allIntegers = 1;
    int averaged = 0;
    for (int32_t i = 0; i < record->pointCount; i++) {
        ResGraphPoint *p = &record->points[i];
        if (p->tests == 0) continue;
        p->value /= p->tests;
        if (p->tests > 1) averaged = 1;
        if (p->value < record->minimum) record->minimum = p->value;
        if (p->value > record->maximum) record->maximum = p->value;
        if (p->value != std::floor(p->value)) record->allIntegers = 0;
    }
    gSortByValue = record->sorted && !record->heatMap;
    qsort(record->points, size_t(record->pointCount), sizeof(ResGraphPoint), CompareOptGraphPoints);
    if (averaged)
        FormatText(record->valueLabel, sizeof record->valueLabel, "Avg %s", column->heading);
    else
        CopyString(record->valueLabel, sizeof record->valueLabel, column->heading, -1);
    return 1;
}

int32_t HeatMapLegendRank(int32_t i, int32_t k, int32_t n)
{
    if (n < 1 || k < 1) return -1;
    int32_t rank = int32_t(double(i) / k * n);
    return rank < n - 1 ? rank : n - 1;
}

int32_t DistinctSortedValues(double *values, int32_t n)
{
    if (n < 1) return 0;
    qsort(values, size_t(n), sizeof(double), [](const void *a, const void *b) {
        double x = *static_cast<const double *>(a), y = *static_cast<const double *>(b);
        return x < y ? -1 : x > y ? 1 : 0;
    });
    int32_t m = 1;
    for (int32_t i = 1; i < n; i++)
        if (values[i] != values[m - 1]) values[m++] = values[i];
    return m;
}

int32_t HeatMapLegendSteps(int32_t k, int32_t m)
{
    if (m < 1 || k < 1) return 0;
    return m - 1 < k ? m - 1 : k;
}

int32_t AxisLabelStride(double pitch, int32_t widest, int32_t gap)
{
    if (!(pitch > 0) || widest + gap <= 0) return 1;
    const double stride = std::ceil((widest + gap) / pitch - 1e-9);
    return stride < 1 ? 1 : stride > INT32_MAX ? INT32_MAX : (int32_t)stride;
}

double ResGraphGridStep(double minimum, double maximum, int32_t lines, int32_t allIntegers)
{
    double x = 1;
    if (lines > 1) x = (maximum > minimum ? maximum - minimum : maximum) / lines;
    /* A range of nothing (or below zero) still needs a positive step. */
    if (!(x > 0) || !std::isfinite(x)) x = 1;
    double step = RoundToStep(x, PowerOfTen(int(std::floor(std::log10(x)))), 0);
    if (allIntegers && step < 1) step = 1;
    return step;
}

void PlotGridStep(double minimum, double maximum, int32_t lines, double *step, double *base)
{
    double range = maximum - minimum;
    double s = 0.000001;
    if (lines < 1) lines = 1;
    if (!std::isfinite(range) || range < 0) range = 0;
    while (lines * s < range) s *= 10;
    *base = minimum <= 0 && maximum >= 0 ? 0 : RoundToStep((minimum + maximum) / 2, s, 0);
    while (range > 0 && lines * s > 1.5 * range) s /= 2;
    *step = s;
}

int FitLine(const double *xs, const double *ys, int32_t n, double *a, double *b)
{
    if (n < 2) return 0;
    double sx = 0, sy = 0, sxy = 0, sxx = 0;
    int distinct = 0;
    for (int32_t i = 0; i < n; i++) {
        sx += xs[i];
        sy += ys[i];
        sxy += xs[i] * ys[i];
        sxx += xs[i] * xs[i];
        if (xs[i] != xs[0]) distinct = 1;
    }
    if (!distinct) return 0;
    double mx = sx / n, my = sy / n;
    double d = sxx - mx * sx;
    if (d == 0) return 0;
    *b = (sxy - my * sx) / d;
    *a = my - mx * *b;
    return 1;
}

void FreeResGraphWindow(ResGraphWindow *record)
{
    if (!record) return;
    FreeMemory(&record->variables);
    FreeMemory(&record->points);
    FreeMemory(&record);
}
