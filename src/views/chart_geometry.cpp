/* chart_geometry.cpp -- chart mappings, scales, date axis and view ranges. */
#include "views/chart_geometry.h"

#include <cmath>

#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"

ChartGeometry gChartGeometry;

/* Range starts that any real value widens. */
static const double kRangeLow = 1e14;
static const double kRangeHigh = -1e14;
/* The volume range without volume formulas starts at the largest u32. */
static const double kVolumeLow = 4294967295.0;

/* Truncates toward zero; values far outside any window (and NaN) are pinned
** so that the conversion stays defined. */
static int32_t PixelFromDouble(double value)
{
    if (!(value == value)) return 0;
    if (value > 1e9) return 1000000000;
    if (value < -1e9) return -1000000000;
    return (int32_t)value;
}

/* ==== mappings ====================================================================== */

int32_t ChartXFromIndex(int32_t slot, int32_t count, int32_t width)
{
    if (count == 0) return 0;
    const ChartGeometry &g = gChartGeometry;
    int64_t span = (int64_t)width - (g.rightMargin + g.leftMargin);
    return (int32_t)(span * slot / count + g.leftMargin);
}

int32_t ChartIndexFromX(const ChartWindow *chart, int32_t x, int32_t width)
{
    int32_t count = chart->barCount;
    if (count < 1) return -1;
    const ChartGeometry &g = gChartGeometry;
    int32_t halfSlot = (width - (g.rightMargin + g.leftMargin)) / count / 2;
    int32_t previous = 0;
    for (int32_t j = 0; j < count; j++) {
        int32_t xj = ChartXFromIndex(j, count, width);
        if (j == 0 && x < xj) return 0;
        if (j > 0 && (previous + xj) / 2 >= x) return j - 1;
        if (j == count - 1 && x <= xj + halfSlot) return j;
        previous = xj;
    }
    return -1;
}

int32_t ChartYFromValueMain(double value, double min, double max, int32_t clientHeight)
{
    if (min == max) return clientHeight / 2;
    const ChartGeometry &g = gChartGeometry;
    double span = clientHeight - g.priceTop - g.priceBottom;
    return PixelFromDouble((clientHeight - g.priceBottom) - span * (value - min) / (max - min));
}

int32_t ChartYFromValue(double value, const ChartWindow *chart, int32_t clientHeight)
{
    if (chart->logScale && chart->priceMin > 0)
        return ChartYFromValueMain(log(value), log(chart->priceMin), log(chart->priceMax), clientHeight);
    return ChartYFromValueMain(value, chart->priceMin, chart->priceMax, clientHeight);
}

int32_t ChartPaneYFromValue(double value, double min, double max, int32_t height)
{
    if (min == max) return height / 2;
    int32_t h = gChartGeometry.labelHeight;
    double span = height - 4 * h;
    return PixelFromDouble(span - (value - min) * span / (max - min) + h / 2);
}

int32_t ChartLowerPaneYFromValue(double value, double min, double max, int32_t height)
{
    int32_t client = gChartGeometry.clientHeight;
    if (min == max) return client - height / 2;
    int32_t h = gChartGeometry.labelHeight;
    double k = height - 2 * h;
    return PixelFromDouble(k - (value - min) * k / (max - min) - h / 2 + (client - k));
}

int32_t ChartLowerPaneOffsetFromValue(double value, double min, double max, int32_t height)
{
    if (min == max) return height / 2;
    return gChartGeometry.clientHeight - ChartLowerPaneYFromValue(value, min, max, height);
}

/* The value whose place in a pane's mapping, before truncation, is the
** middle of row y: place = top - (value - min) * span / (max - min), within
** [min, max].  It is painted on row y itself, whatever the scale. */
static double ValueAtRow(int y, double top, double span, double min, double max)
{
    if (!(span > 0) || !(max > min)) return min;
    const double value = min + (top - (y + 0.5)) * (max - min) / span;
    return value < min ? min : value > max ? max : value;
}

double ChartValueAtY(const ChartWindow *chart, int y)
{
    const ChartGeometry &g = gChartGeometry;
    const int C = g.clientHeight, h = g.labelHeight;
    if (chart->showIndicatorPane && y < g.priceTop) {
        const double span = g.priceTop - 4 * h;
        return ValueAtRow(y, span + h / 2, span, chart->indicatorMin, chart->indicatorMax);
    }
    if (chart->showVolumePane && y >= C - g.priceBottom && chart->volumeMax > chart->volumeMin) {
        const double k = g.priceBottom - g.labelHeight - 2 * h;
        return ValueAtRow(y, C - h / 2, k, chart->volumeMin, chart->volumeMax);
    }
    const double span = C - g.priceTop - g.priceBottom, base = C - g.priceBottom;
    if (chart->logScale && chart->priceMin > 0)
        return std::exp(ValueAtRow(y, base, span, std::log(chart->priceMin), std::log(chart->priceMax)));
    return ValueAtRow(y, base, span, chart->priceMin, chart->priceMax);
}

/* ==== scales ======================================================================== */

ChartScale ChartPriceScale(double low, double high, int32_t labelRoom)
{
    ChartScale scale = {1.0, low, 0};
    if (labelRoom < 1 || CompareDoubleApprox(high, low) == 0) return scale;
    double raw = (high - low) / labelRoom;
    int exponent = -6;
    while (PowerOfTen(exponent) <= raw && exponent < 6) exponent++;
    int32_t d = -exponent;
    double base = PowerOfTen(exponent - 1);
    double step = RoundToStep(raw, base, 1);
    if (step == 0) step = 1e-6;
    scale.step = step;
    if (step >= 1 || d < 0)
        scale.decimals = 0;
    else if (d == 0)
        scale.decimals = 2;
    else
        scale.decimals = d + 1 < 6 ? d + 1 : 6;
    scale.first = RoundToStep(low, step, low > 0 ? 1 : -1);
    return scale;
}

ChartScale ChartPaneScale(double min, double max, int32_t labelRoom, int32_t integers, int32_t wholeStart)
{
    if (labelRoom < 1) labelRoom = 1;
    double range = max - min;
    int exponent = -6;
    while (labelRoom * PowerOfTen(exponent) < range && exponent < 300) exponent++;
    double step = PowerOfTen(exponent);
    double start = (min < 0 && max > 0) ? 0.0 : RoundToStep((min + max) / 2, step, 0);
    if (range > 0)
        while (labelRoom * step > 1.5 * range) step /= 2;
    if (min > 0 && start == 0) start = step;
    if (integers) {
        step = floor(step) > 1 ? floor(step) : 1.0;
        if (wholeStart) start = floor(start);
        if (start == max) start = min;
    }
    ChartScale scale = {step, start, 0};
    return scale;
}

int32_t ChartPaneLabels(const ChartScale *scale, double min, double max, double *out, int32_t capacity)
{
    int32_t n = 0;
    if (!(scale->step > 0)) return 0;
    for (double v = scale->first; (v == min || v < max) && n < capacity; v += scale->step) out[n++] = v;
    for (double v = scale->first - scale->step; v > min && n < capacity; v -= scale->step) out[n++] = v;
    return n;
}

/* ==== panes and bars ================================================================ */

void ChartPaneHeights(int32_t *indicatorPercent, int32_t *volumePercent, int32_t showIndicator,
                      int32_t showVolume, int32_t dragging, int32_t room, int32_t *indicatorHeight,
                      int32_t *volumeHeight)
{
    int32_t ind = *indicatorPercent;
    int32_t vol = *volumePercent;
    if (dragging != CHART_DIVIDER_VOLUME) {
        int32_t top = 90 - vol * (showVolume != 0);
        if (ind > top) ind = top;
        if (ind < 10) ind = 10;
    }
    if (dragging != CHART_DIVIDER_INDICATOR) {
        int32_t top = 90 - ind * (showIndicator != 0);
        if (vol > top) vol = top;
        if (vol < 10) vol = 10;
    }
    *indicatorPercent = ind;
    *volumePercent = vol;
    *indicatorHeight = room * ind / 100;
    *volumeHeight = room * vol / 100;
}

int32_t ChartBarHalfWidth(int32_t barCount, int32_t width)
{
    const ChartGeometry &g = gChartGeometry;
    int32_t w = barCount > 0 ? (width - g.rightMargin - g.leftMargin) / (3 * barCount) : 0;
    return w < 2 ? 2 : w;
}

/* ==== date axis ===================================================================== */

int32_t ChartDateLabelInterval(int32_t days, int32_t width, int32_t barSize)
{
    int32_t k = 1;
    /* days / k reaches 0 once k passes days, which ends the walk for any width. */
    while (!(days / k < width / 2) && days / k > 0) k = k < 4 ? k + 1 : k == 4 ? 6
                                                                               : 2 * k;
    if (barSize == BAR_QUARTERLY) k = k > 6 ? k / 6 : 1;
    return k;
}

int32_t ChartBarPeriod(int32_t date, int32_t barSize)
{
    int32_t month = date / 100 % 100;
    if (barSize == BAR_QUARTERLY) return (month - 1) / 3 + 1;
    if (barSize == BAR_YEARLY) return date / 10000;
    return month;
}

int32_t ChartDateLabelDue(int32_t period, int32_t interval, int32_t barSize)
{
    if (barSize == BAR_YEARLY) return 1;
    return interval > 0 && (period - 1) % interval == 0;
}

void FormatChartDateLabel(int32_t date, int32_t barSize, int32_t shortNames, char *out, int32_t size)
{
    int32_t period = ChartBarPeriod(date, barSize);
    if (barSize == BAR_YEARLY || period == 1) {
        FormatText(out, (size_t)size, "'%2.2d", date / 10000 % 100);
        return;
    }
    int32_t month = barSize == BAR_QUARTERLY ? (period - 1) * 3 + 1 : period;
    const char *name = month >= 1 && month <= 12 ? kMonthNames[month - 1] : "";
    if (shortNames)
        FormatText(out, (size_t)size, "%.1s", name);
    else
        FormatText(out, (size_t)size, "%s", name);
}

/* ==== view ========================================================================== */

static void Widen(double value, double *min, double *max)
{
    if (!std::isfinite(value)) return;
    if (value < *min) *min = value;
    if (value > *max) *max = value;
}

void ScaleChartView(ChartWindow *chart, const Bar *bars, int32_t count, int32_t zoom, int32_t scroll)
{
    chart->priceMin = chart->indicatorMin = kRangeLow;
    chart->priceMax = chart->indicatorMax = kRangeHigh;
    chart->volumeMin = chart->anyVolumeSeries ? kRangeLow : kVolumeLow;
    chart->volumeMax = chart->anyVolumeSeries ? kRangeHigh : 0.0;
    if (!bars || count < 1) {
        /* A symbol without bars at this size draws the blank chart. */
        chart->barCount = 0;
        chart->firstBar = 0;
        chart->lastBar = -1;
        chart->firstDate = chart->lastDate = 0;
        return;
    }
    int32_t n = chart->barCount + zoom;
    if (n < 2) n = 2;
    if (n > count) n = count;
    chart->barCount = n;
    if (zoom != 0) chart->visibleBars = n;
    int32_t last = chart->lastBar + scroll;
    if (last < n - 1) last = n - 1;
    if (last > count - 1) last = count - 1;
    chart->lastBar = last;
    chart->firstBar = last - n + 1;
    if (chart->showCursor) chart->cursorSlot += zoom - scroll;
    chart->firstDate = bars[chart->firstBar].date;
    chart->lastDate = bars[last].date;

    for (int32_t i = chart->firstBar; i <= last; i++) {
        const Bar &bar = bars[i];
        double split = chart->splitAdjusted && bar.split != 0 ? bar.split : 1.0;
        Widen(bar.high / split, &chart->priceMin, &chart->priceMax);
        Widen(bar.low / split, &chart->priceMin, &chart->priceMax);
        if (!chart->anyVolumeSeries) Widen(bar.volume * split, &chart->volumeMin, &chart->volumeMax);
        for (int32_t s = 0; s < chart->seriesCount; s++) {
            const ChartSeries &series = chart->series[s];
            if (!series.displayFormat || !series.values || (uint32_t)i >= series.capacity) continue;
            double value = series.values[i];
            if (series.pane == CHART_PANE_PRICE)
                Widen(value, &chart->priceMin, &chart->priceMax);
            else if (series.pane == CHART_PANE_INDICATOR)
                Widen(value, &chart->indicatorMin, &chart->indicatorMax);
            else if (series.pane == CHART_PANE_VOLUME)
                Widen(value, &chart->volumeMin, &chart->volumeMax);
        }
    }
}
