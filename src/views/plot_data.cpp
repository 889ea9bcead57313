/* plot_data.cpp -- reductions of a trade plot's points. */
#include "views/plot_data.h"

#include <cmath>

#include "foundation/numbers.h"

int ComparePlotPointsByThird(const void *a, const void *b)
{
    return CompareDouble(static_cast<const PlotPoint *>(a)->value,
                         static_cast<const PlotPoint *>(b)->value);
}

int32_t MakeHistogram(const PlotPoint *points, int32_t count, int32_t buckets,
                      PlotBucket *out)
{
    if (count <= 0 || buckets < 1) return 0;
    double lo = points[0].value, hi = points[count - 1].value;
    double w = (hi - lo) / buckets;
    /* Equal values (or a spread lost below the precision of lo) would give a
    ** width of 0 or one too small to move an edge: widen it. */
    if (!(w > 0) || lo + w == lo) {
        w = std::fabs(lo) / buckets;
        if (!(w > 0) || lo + w == lo) w = std::fabs(lo) > 0 ? std::fabs(lo) * 1e-9 : 1.0;
    }
    int32_t stored = 0, zeros = 0, c = 0;
    int64_t k = 1; /* edges are lo + k * w, never accumulated */
    double e = lo + w;
    for (int32_t i = 0; i < count; i++) {
        double v = points[i].value;
        if (v == 0) {
            zeros++;
            continue;
        }
        if (v >= e) {
            if (c > 0 && stored < buckets + 1) out[stored++] = {double(c), e - w / 2};
            c = 0;
            /* jump straight to the bucket holding v */
            int64_t need = int64_t(std::floor((v - lo) / w)) + 1;
            k = need > k ? need : k + 1;
            e = lo + double(k) * w;
            while (v >= e) {
                k++;
                e = lo + double(k) * w;
            }
        }
        c++;
    }
    if (c > 0 && stored < buckets + 1) out[stored++] = {double(c), e - w / 2};
    if (zeros > 0) out[stored++] = {double(zeros), 0.0};
    return stored;
}

void MakeCumulativeCurve(PlotPoint *points, int32_t count, int percentUnits,
                         PlotRange *valueRange)
{
    double s = percentUnits ? 1.0 : 0.0, r = s;
    valueRange->min = 1e14;
    valueRange->max = -1e14;
    for (int32_t i = 0; i < count; i++) {
        r = percentUnits ? r * points[i].value : r + points[i].value;
        double v = r - s;
        points[i].value = v;
        points[i].newHigh = v > valueRange->max;
        points[i].newLow = v < valueRange->min;
        if (v > valueRange->max) valueRange->max = v;
        if (v < valueRange->min) valueRange->min = v;
    }
}

int32_t MakeEqualCountBins(const PlotPoint *points, int32_t count, int32_t bins,
                           PlotBucket *out)
{
    if (bins < 1 || count < 1) return 0;
    if (bins > count) bins = count;
    int32_t per = count / bins;
    for (int32_t b = 0; b < bins; b++) {
        double sum = 0;
        for (int32_t j = 0; j < per; j++) sum += points[b * per + j].value;
        out[b] = {points[b * per + per - 1].x, sum / per};
    }
    return bins;
}

int32_t MakeEqualRangeBins(const PlotPoint *points, int32_t count, double increment,
                           PlotBucket *out, int32_t capacity, int32_t *counts)
{
    if (increment == 0) return -1;
    double d = std::fabs(increment);
    if (count < 1) return 0;
    double top = std::round(points[count - 1].x / d) * d;
    int32_t stored = 0, i = 0;
    while (i < count && stored < capacity) {
        /* floor, so negative x falls in its own bin below zero */
        double lo = std::floor(points[i].x / d) * d;
        double sum = 0;
        int32_t c = 0;
        while (i < count && (points[i].x < lo + d || points[i].x > top || c == 0)) {
            sum += points[i].value;
            c++;
            i++;
        }
        if (counts) counts[stored] = c;
        out[stored++] = {lo, sum / c};
    }
    return stored;
}
