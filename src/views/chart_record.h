/* chart_record.h -- the part of a chart window's record that evaluations read.
**
** Owns:       the ChartWindow fields that the value getters and parameter
**             references read when an evaluation belongs to a chart (the
**             context's chart pointer): the symbol shown, how the chart was
**             opened, its bar size, and the values of its Charts columns once
**             the chart has calculated them.  The chart window code keeps its
**             own drawing state after these fields.
** Invariants: indicators is null until the chart has calculated its Charts
**             columns; then it holds indicatorCount arrays, array k with one
**             value per bar of symbol at barSize.
** Threads:    filled by the chart window on the user-interface thread;
**             evaluations for that chart only read it.
*/
#pragma once
#include <cstdint>

struct SymbolRecord;

/* How a chart window was opened. */
enum ChartKind {
    CHART_KIND_SYMBOL = 0,     /* a symbol opened by the user */
    CHART_KIND_TRADE = 2       /* a chart opened on a trade of a test */
};

struct ChartWindow {
    SymbolRecord *symbol;      /* the symbol shown */
    int32_t kind;              /* ChartKind */
    int32_t barSize;           /* BarSize of the bars shown */
    double **indicators;       /* one value array per Charts column; null until calculated */
    int32_t indicatorCount;    /* arrays in indicators */
};
