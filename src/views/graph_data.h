/* graph_data.h -- the values of a statistics graph: the shown Graphs formula,
** its evaluation per period and strategy with the per-test value cache, and
** the series selection.
**
** Model:      a Graphs formula's hint "|" makes it a bar graph whose bars
**             start at the "|" number (its base value); "^" marks it for the
**             HTML report.  Series are the test's strategies whose names do
**             not begin with '_'; with more than one Strategy section the last
**             of them is the combined series.
** Errors:     CheckGraphDisplay reports when no formula is shown; CalcGraphData
**             returns 0 after Esc ("Calculation aborted") or when memory runs
**             out.
** Platform:   none.
** Threads:    user-interface thread.
*/
#pragma once
#include <cstdint>

#include "views/graph_record.h"

struct FormulaColumn;

/* The shown Graphs formula of the graph, or null. */
FormulaColumn *GetGraphColumn(const GraphWindow *graph);
/* Selects the shown formula (index -1 keeps it); 1, or 0 when there is none. */
int CheckGraphDisplay(GraphWindow *graph, int32_t index);
/* The graphs the HTML report draws: the next shown formula after the shown
** formula number after (-1 to start) that carries the report mark "^", as
** its number among the shown formulas (the graph's index); -1 when none is
** left. */
int32_t NextReportGraph(int32_t after);

/* Makes the series of the test's listed strategies with room for the test's
** points; 1, or 0 (everything freed) when memory runs out. */
int AllocGraphWindow(GraphWindow *graph, TestRecord *test);
void FreeGraphWindow(GraphWindow *graph);

/* Stores the value of series s at point j (the first point while firstPoint
** is set): the log form's fallback for values not above 0, the series range,
** the integers flag, the starting value and the series' descending order. */
void StoreGraphValue(GraphWindow *graph, int32_t s, int32_t j, double value, int firstPoint);

/* Evaluates and gathers the points of the shown formula; 1/0. */
int CalcGraphData(GraphWindow *graph, int clearCache);

void SetGraphSelection(GraphWindow *graph);
/* Shows series i only; -1 every series; other negatives none. */
void ShowOnlyGraphSeries(GraphWindow *graph, int32_t i);
void ToggleGraphSeries(GraphWindow *graph, int32_t i);
