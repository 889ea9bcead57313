/* trade_plot.h -- the trade plot's record and the calculation behind every
** trade plot: the per-trade pass on worker threads, the ordering, and the
** reduction by plot kind (distribution, cumulative curve, Monte Carlo, bins),
** with the plot's title and the tables it writes to the log or a report.
**
** Owns:       gPlotFormula, the program's one "Plot Formula" column; every
**             PlotWindow owns its buffers (FreePlotWindow frees them).
** Invariants: points hold pointCount entries in plot order once a calculation
**             ended; the buckets and summaries hold what the kind reduced.
**             busy is 1 only inside CalcTradePlotData.
** Errors:     CalcTradePlotData returns 0 when busy, when memory runs out
**             (silently, the allocator's flag set) and when the Monte Carlo
**             analysis refuses (reported).
** Threads:    CalcTradePlotData is for the UI thread; it starts the workers,
**             pumps messages while they run and joins them before it returns.
*/
#pragma once
#include <cstdint>
#include <mutex>

#include "platform/platform.h"
#include "views/monte_carlo.h"
#include "views/plot_data.h"

struct TestRecord;
struct FormulaColumn;

/* Plot kinds (PlotDisplay); PLOT_MC_PROFITS and PLOT_MC_DRAWDOWNS come from
** monte_carlo.h. */
enum PlotKind {
    PLOT_SCATTER = 0,
    PLOT_PROFIT_DISTRIBUTION = 1,
    PLOT_EXCURSION_DISTRIBUTION = 2,
    PLOT_CUMULATIVE = 3,
    PLOT_EQUAL_COUNT_BINS = 6,
    PLOT_EQUAL_RANGE_BINS = 7,
    PLOT_KIND_COUNT = 8
};
static_assert(PLOT_MC_PROFITS == 4 && PLOT_MC_DRAWDOWNS == 5, "Monte Carlo kinds sit between the others");

enum PlotSortField { PLOT_SORT_TRADE_NUMBER = 0,
                     PLOT_SORT_FORMULA = 1 };
enum PlotUnits { PLOT_DOLLARS = 0,
                 PLOT_TRADE_PERCENT = 1,
                 PLOT_ALLOC_PERCENT = 2 };

enum { PLOT_FORMULA_SIZE = 256,
       PLOT_TITLE_SIZE = 301,
       PLOT_TITLE_FORMULA_MAX = 231,
       PLOT_STATUS_TRADES = 100000 };

struct PlotKindInfo {
    const char *name;  /* menu and dialog list */
    const char *first; /* the title's words */
    const char *second;
};
extern const PlotKindInfo kPlotKinds[PLOT_KIND_COUNT];

/* The window's record; the windows keep their handles as opaque pointers so
** the calculation stays free of the window system. */
struct PlotWindow {
    int32_t strategy;
    int32_t mainStrategy;
    int32_t sortField; /* PlotSortField */
    int32_t units;     /* PlotUnits */
    int32_t kind;      /* PlotKind */
    int32_t samples;
    int32_t shown;
    int32_t busy;
    int32_t crossHair;
    int32_t trend;
    int32_t logStats;
    int32_t dataLoaded;
    int32_t useMaxValue, useMinValue;
    int32_t distributionBuckets;
    int32_t equalCountBins;
    double rangeIncrement;
    double maxValue, minValue;
    char formula[PLOT_FORMULA_SIZE];
    int32_t pointCapacity, pointCount;
    PlotPoint *points;
    int32_t *pixels; /* two per point */
    uint8_t *flags;  /* one per drawn point */
    int32_t pixelCapacity, flagCapacity;
    PlotBucket *buckets; /* distributions and bins */
    int32_t bucketCount, bucketCapacity;
    MonteCarloSummary *profits, *drawdowns; /* sorted Monte Carlo summaries */
    int32_t summaryCapacity;
    double *curves; /* samples x points */
    uint32_t curveCapacity;
    double *trialValues; /* the point values handed to the Monte Carlo workers */
    int32_t trialCapacity;
    int32_t monteCarloFinished; /* samples the last analysis completed */
    double xMin, xMax;
    double valueMin, valueMax;
    int32_t crossX, crossY;
    /* The left margin and text height of the last painting: where the cross
    ** hair's labels go, so that moving it redraws only its strips. */
    int32_t paintedLeft, paintedTextHeight;
    int32_t formulaFormat; /* display format the formula reported */
    TestRecord *test;
    void *optionsDialog;
    void *resultsWindow;
    void (*reportWrite)(const char *text); /* appends to the HTML report being written, or null */
    std::mutex *lock;                      /* set while workers run */
};

extern FormulaColumn gPlotFormula;

/* Copies the [PlotWindows] settings into the record; a strategy setting
** outside the test's strategies becomes the main strategy and is stored back. */
void LoadPlotSettings(PlotWindow *record);
/* Frees the record's buffers and the record (null is ignored). */
void FreePlotWindow(PlotWindow *record);
/* The options a report's trade plots are drawn with, whatever the plot
** windows use: the test's main strategy by trade number, the ReportMCLines
** and ReportMCKeep samples, percent of the allocation for a compounded test
** and dollars otherwise.  record->test must be set. */
void SetReportPlotOptions(PlotWindow *record);
/* The Monte Carlo table of a report's trade plots, computed as the report's
** Monte Carlo plot computes it, through write (the report page); for a
** program that draws no plots.  Nothing when memory runs out. */
void WriteReportMonteCarloTable(TestRecord *test, void (*write)(const char *text));

/* The plot's title into buffer; returns its length. */
int BuildTradePlotTitle(const PlotWindow *record, char *buffer, int size);

/* The decimals of the value axis's labels for a value range of
** [minimum, maximum]: by the range's width, but a money axis never goes
** past the cents its display format shows. */
int32_t PlotAxisDecimals(int32_t percent, double minimum, double maximum);
/* Why the plot has nothing to draw, or none when it has something. */
const char *TradePlotEmptyReason(const PlotWindow *record);

/* By trade index when sorting by trade number, else by x, then trade index. */
int ComparePlotPoints(const void *a, const void *b);

/* Everything a drawing needs; 1 done, 0 busy, out of memory or refused. */
int CalcTradePlotData(PlotWindow *record);

/* The Monte Carlo analysis of the record's points: curves, sorted summaries
** and, with log stats, the percentile table.  1 done, 0 refused or out of
** memory. */
int RunMonteCarlo(PlotWindow *record);
/* The percentile table, to the report file when one is open, else the log. */
void WriteMonteCarloTable(const PlotWindow *record);

/* The record's bins, with their table in the log when log stats are on. */
int MakeEqualCountBins(PlotWindow *record, int32_t bins);
int MakeEqualRangeBins(PlotWindow *record, double increment);
void LogBinTableHeader(const PlotWindow *record);
