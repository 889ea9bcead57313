/* chart_geometry.h -- where a chart puts its bars, values, scale labels and
** date labels, and which bars and value ranges its view covers.
**
** Owns:       gChartGeometry, the margins and pane edges of the chart being
**             painted; painting sets it, the mappings and the mouse code read it.
** Model:      slot 0 is the first visible bar; the price pane runs from
**             priceTop down to clientHeight - priceBottom, the indicator pane
**             sits above it and the volume pane in the last priceBottom pixels.
**             Every pixel result is truncated toward zero.
** Errors:     none; degenerate ranges (min = max, no bars) map to the middle
**             or to the blank state.
** Platform:   none; the window code turns the results into GDI calls.
** Threads:    user-interface thread (hidden scan charts paint there too).
*/
#pragma once
#include <cstdint>

#include "records/chart_record.h"

struct Bar;

struct ChartGeometry {
    int32_t labelHeight;  /* H: height of the label font */
    int32_t leftMargin;   /* L */
    int32_t rightMargin;  /* R */
    int32_t priceTop;     /* T */
    int32_t priceBottom;  /* B: space below the price pane */
    int32_t clientHeight; /* C */
    int32_t clientWidth;  /* W */
};
extern ChartGeometry gChartGeometry;

/* ---- mappings ------------------------------------------------------------------ */

int32_t ChartXFromIndex(int32_t slot, int32_t count, int32_t width);
/* The visible slot under x, or -1 when x is right of the last slot's half or
** the chart has no bars. */
int32_t ChartIndexFromX(const ChartWindow *chart, int32_t x, int32_t width);
int32_t ChartYFromValueMain(double value, double min, double max, int32_t clientHeight);
/* The price mapping, on logarithms when log scale is on and price min > 0. */
int32_t ChartYFromValue(double value, const ChartWindow *chart, int32_t clientHeight);
int32_t ChartPaneYFromValue(double value, double min, double max, int32_t height);
int32_t ChartLowerPaneYFromValue(double value, double min, double max, int32_t height);
int32_t ChartLowerPaneOffsetFromValue(double value, double min, double max, int32_t height);
/* The value of the chart's pane under row y of the client area (the
** cross-hair's reading), by the painted geometry. */
double ChartValueAtY(const ChartWindow *chart, int y);

/* ---- scales -------------------------------------------------------------------- */

/* Labels of a scale: from first upward by step, printed with decimals. */
struct ChartScale {
    double step;
    double first;
    int32_t decimals;
};

/* The price scale over [low, high] (logarithms in the log form) with room for
** at most labelRoom labels. */
ChartScale ChartPriceScale(double low, double high, int32_t labelRoom);

/* The indicator and volume pane scales.  integers: the series holds whole
** numbers only; wholeStart: the start is also floored (volume pane).  decimals
** is unused: pane labels take their series' format. */
ChartScale ChartPaneScale(double min, double max, int32_t labelRoom, int32_t integers, int32_t wholeStart);

/* The label values of a pane scale in drawing order: upward from the start,
** then downward below it.  Returns the number written (at most capacity). */
int32_t ChartPaneLabels(const ChartScale *scale, double min, double max, double *out, int32_t capacity);

/* ---- panes and bars -------------------------------------------------------------- */

enum ChartDivider {
    CHART_DIVIDER_NONE = 0,
    CHART_DIVIDER_INDICATOR = 1, /* the indicator divider is being dragged */
    CHART_DIVIDER_VOLUME = 2
};

/* Limits the two pane percents (in place) and returns the pane heights for
** the panes' room (client height less two scroll-bar heights). */
void ChartPaneHeights(int32_t *indicatorPercent, int32_t *volumePercent, int32_t showIndicator,
                      int32_t showVolume, int32_t dragging, int32_t room, int32_t *indicatorHeight,
                      int32_t *volumeHeight);

/* Half the width of a bar for that many visible bars: at least 2. */
int32_t ChartBarHalfWidth(int32_t barCount, int32_t width);

/* ---- date axis ------------------------------------------------------------------- */

/* Label every k-th period: the first k of 1, 2, 3, 4, 6, 12, 24, 48, ... with
** days / k below width / 2, adjusted for quarterly bars. */
int32_t ChartDateLabelInterval(int32_t days, int32_t width, int32_t barSize);
/* Month (daily, weekly, monthly bars), quarter 1..4 or year of a bar's date. */
int32_t ChartBarPeriod(int32_t date, int32_t barSize);
/* 1 when a bar whose period changed gets a date label. */
int32_t ChartDateLabelDue(int32_t period, int32_t interval, int32_t barSize);
/* The label text of a period: "'24" for the first period of a year and every
** year, else the name of its first month, cut to one letter when short. */
void FormatChartDateLabel(int32_t date, int32_t barSize, int32_t shortNames, char *out, int32_t size);

/* ---- view ---------------------------------------------------------------------- */

/* Moves and zooms the view over bars[0 .. count-1] and recomputes the value
** ranges from the visible bars and the drawn series.  With no bars the view
** is empty (barCount 0, no bar indexed) and the ranges keep their starting
** values. */
void ScaleChartView(ChartWindow *chart, const Bar *bars, int32_t count, int32_t zoom, int32_t scroll);
