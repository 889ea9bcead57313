/* chart_series.h -- a chart's Charts formula series, its option defaults and
** the texts it shows (status line, title).
**
** Owns:       nothing global beyond reading gSettings (the chart defaults)
**             and the compiled Charts columns.
** Model:      a Charts formula's hint picks where it goes: "^" marks the
**             status-line formula (evaluated for the shown bar only), "|1"
**             asks for the indicator pane, "|2" for the volume pane; anything
**             else draws in the price pane.
** Errors:     LoadChartSeries returns 0 when memory runs out (the caller
**             frees the series and the chart shows bars only).
** Platform:   none.
** Threads:    user-interface thread.
*/
#pragma once
#include <cstdint>

#include "records/chart_record.h"

struct Bar;
struct TestRecord;
struct TradeRecord;
struct CompareSide;

enum {
    CHART_STATUS_SIZE = 1024, /* status line text */
    CHART_TITLE_SIZE = 256
};

/* Copies the program-wide chart defaults into the chart's options, and back. */
void LoadChartDefaults(ChartWindow *chart);
void SaveChartDefaults(const ChartWindow *chart);

/* Frees both arrays of every series and the series array; count 0. */
void FreeChartIndicators(ChartWindow *chart);

enum { COMPARE_LEFT = 0, COMPARE_RIGHT = 1 };
/* A half of a compare chart's row (its trade link is a CompareRow), or null
** for other charts. */
const CompareSide *GetCompareChartSide(const ChartWindow *chart, int side);

/* The test whose values a chart shows: a trade chart's owner test (passed in
** by the window that owns it); a compare chart's left test, else its right
** one; none for other kinds. */
TestRecord *GetChartOwnerData(const ChartWindow *chart, TestRecord *ownerTest);

/* (Re)computes every series from the compiled Charts formulas over all bars of
** the chart's symbol at its bar size.  test: the test whose statistics rows
** the formulas read, or null.  Returns 1, or 0 when memory ran out. */
int LoadChartSeries(ChartWindow *chart, TestRecord *test);

/* The bar the status line describes: the cursor bar when the cursor is shown
** and in the view, else the last visible bar; -1 with no bars. */
int32_t ChartShownBar(const ChartWindow *chart);

/* The status line for bar index shown of bars (the chart's bars at its bar
** size), without the formula values: symbol, bar size, date, prices, change,
** volume (when the volume pane shows bar volumes) and the split note.  The
** status formula's value is appended when it has one.  Returns the length. */
int FormatChartStatus(ChartWindow *chart, const Bar *bars, int32_t shown, char *out, int size);

/* The window title: "Chart - %s" and the kinds' own forms, with " [name |
** industry]" when the symbol has a name.  strategyName is the trade's
** strategy for a trade chart.  Returns the length. */
int FormatChartTitle(const ChartWindow *chart, const char *strategyName, char *out, int size);

/* Moves the chart's view to another symbol at the chart's own bar size: the
** last bar keeps its distance from the end of the bars (never below 0), the
** bar count is the remembered zoom within [2, the new symbol's bars].  A
** symbol whose first or last daily bar has volume counts as having volume
** from its first daily bar on.  The caller recomputes series and ranges. */
void MoveChartViewToSymbol(ChartWindow *chart, SymbolRecord *symbol);
