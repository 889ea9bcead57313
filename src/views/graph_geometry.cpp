/* graph_geometry.cpp -- statistics graph mappings and value axis. */
#include "views/graph_geometry.h"

#include <cmath>

#include "foundation/numbers.h"

GraphGeometry gGraphGeometry;

/* Truncates toward zero; NaN and values far outside any window are pinned so
** that the conversion stays defined. */
static int32_t PixelFromDouble(double value)
{
    if (!(value == value)) return 0;
    if (value > 1e9) return 1000000000;
    if (value < -1e9) return -1000000000;
    return (int32_t)value;
}

int32_t GraphXFromIndex(int32_t index, int32_t count, int32_t width)
{
    if (count == 0) return 0;
    const GraphGeometry &g = gGraphGeometry;
    int64_t span = (int64_t)width - g.averageWidth - g.labelWidth;
    return (int32_t)(span * index / count + g.labelWidth);
}

int32_t GraphYFromValue(double value, double low, double high, int32_t height)
{
    if (low == high) return height / 2;
    const GraphGeometry &g = gGraphGeometry;
    int32_t h = g.labelHeight;
    double bottom = height - h / 2 - 3 * h;
    double span = height - g.legendHeight - h - 3 * h;
    return PixelFromDouble(bottom - span * (value - low) / (high - low) + g.top);
}

double GraphPlotValue(double value, int32_t logForm)
{
    if (fabs(value) < 1e-6) value = 0;
    return logForm ? log(value) : value;
}

GraphAxis GraphAxisStep(double min, double max, int32_t labelRoom, int32_t logForm, int32_t integers)
{
    double raw = 1.0;
    if (labelRoom > 0 && max > min) raw = logForm ? pow(max / min, 1.0 / labelRoom) : (max - min) / labelRoom;
    GraphAxis axis = {raw, 1.0};
    if (raw > 0 && std::isfinite(raw)) {
        axis.unit = PowerOfTen((int)floor(log10(raw)));
        axis.step = RoundToStep(raw, axis.unit, 0);
    }
    if (integers && axis.step < 1.0) axis.step = 1.0;
    if (logForm && axis.step < 2.0) axis.step = 2.0;
    if (!logForm && !(axis.step > 0)) axis.step = 1.0;
    if (logForm && min > 0 && max / min < axis.step * axis.step) {
        /* Any starting value within such a range has at most one factor
        ** step inside it. */
        axis = GraphAxisStep(min, max, labelRoom, 0, integers);
        axis.additive = 1;
    }
    return axis;
}

static double HoldWithin(double value, double min, double max)
{
    return value < min ? min : value > max ? max
                                           : value;
}

double GraphFirstLabel(const GraphAxis *axis, double min, double max, double base, int32_t logForm,
                       int32_t subset)
{
    if (logForm && !axis->additive) return HoldWithin(base, min, max);
    if (min <= 0) return 0;
    double start = subset ? min : HoldWithin(base, min, max);
    return RoundToStep(start, axis->unit, 0);
}

int32_t GraphLabelDecimals(double step, double first)
{
    if (step == floor(step) && first == floor(first)) return 0;
    return step < 0.01 ? 4 : 2;
}

int32_t GraphAxisLabels(const GraphAxis *axis, double first, double min, double max, int32_t logForm,
                        double *out, int32_t capacity)
{
    int32_t n = 0;
    const bool factor = logForm && !axis->additive;
    if (factor ? !(axis->step > 1 && first > 0) : !(axis->step > 0)) return 0;
    for (double v = first; v <= max && n < capacity; v = factor ? v * axis->step : v + axis->step) out[n++] = v;
    for (double v = factor ? first / axis->step : first - axis->step; v >= min && n < capacity;
         v = factor ? v / axis->step : v - axis->step)
        out[n++] = v;
    return n;
}
