/* plot_data.h -- the reductions of a trade plot's points: distribution
** buckets, the cumulative curve and the two kinds of bins.
**
** Owns:       nothing; the caller owns the points and the bucket arrays.
** Threads:    any thread; no shared state.
*/
#pragma once
#include <cstdint>

struct PlotPoint {
    double x;      /* trade position or formula value */
    double value;  /* the trade in the plot's units */
    int32_t trade; /* index of the trade in the test */
    int32_t strategy;
    uint8_t newHigh, newLow;
};

struct PlotBucket {
    double value;    /* count, last x or bin start, by kind */
    double position; /* centre or average value */
};

struct PlotRange {
    double min, max;
};

/* Ascending by value (CompareDouble); qsort comparator over PlotPoint. */
int ComparePlotPointsByThird(const void *a, const void *b);

/* Histogram of points sorted by value into at most buckets + 2 entries of
** out; zeros are counted apart as one more bucket at 0.  Returns the number
** of entries stored.  The width is positive even when all values are equal. */
int32_t MakeHistogram(const PlotPoint *points, int32_t count, int32_t buckets,
                      PlotBucket *out);

/* Cumulative curve in place: growth factors multiply (percentUnits), dollar
** values add; each value becomes the running result minus the start. */
void MakeCumulativeCurve(PlotPoint *points, int32_t count, int percentUnits,
                         PlotRange *valueRange);

/* bins entries of trunc(count / bins) points each; the remainder belongs to no
** bin.  Returns the bins stored (0 when bins < 1 or no points). */
int32_t MakeEqualCountBins(const PlotPoint *points, int32_t count, int32_t bins,
                           PlotBucket *out);

/* Bins of x width increment over points in x order, into out (room for
** capacity entries).  Returns the bins stored, or -1 when increment is 0 (the
** caller keeps its previous bins).  counts, when given, receives each bin's
** number of points. */
int32_t MakeEqualRangeBins(const PlotPoint *points, int32_t count, double increment,
                           PlotBucket *out, int32_t capacity, int32_t *counts = nullptr);
