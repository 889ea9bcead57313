/* graph_paint.h -- drawing a statistics graph: value axis, date axis, the
** series as lines, bars or the combined area, moving averages, the legend
** with its hover state, the cursor, and the output as ImageRequest asks
** (window, clipboard, PNG, or the open report).
**
** Owns:       gGraphHovered (legend entry or series under the mouse: series
**             index, GRAPH_SHOW_ALL, -1 none), gGraphMouse (mouse point at
**             the start of the paint), gGraphReportFolder (the open report's
**             folder, "" when no report is being written) and
**             gGraphReportPage (the report page text the image tags go to).
** Platform:   Windows (GDI).
** Threads:    user-interface thread.
*/
#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/platform.h"
#include "views/graph_record.h"

struct DrawStyle;

extern int32_t gGraphHovered;
extern POINT gGraphMouse;
extern char gGraphReportFolder[PATH_SIZE];
/* Appends a line of the open report page; null when no report is open. */
extern void (*gGraphReportWrite)(const char *text);

void PaintGraph(HWND window, HDC dc, GraphWindow *graph);
/* Draws the legend at y (measures only with y = 0); the number of rows. */
int PaintGraphLegend(HWND window, HDC dc, GraphWindow *graph, int decimals, int y);
/* The mapping on logarithms in the log form. */
int32_t GraphYFromValueScaled(double value, const GraphWindow *graph, int32_t height);
/* The points of series (moving average when asked) into points; the count. */
int BuildGraphPoints(GraphWindow *graph, POINT *points, int series, int width, int height, int movingAverage);
/* The text of a graph value: the column's format, abbreviated on a log axis. */
int FormatGraphValue(double value, int decimals, int axis, const GraphWindow *graph, char *out);
/* 1 when the legend entry is (or becomes) the hovered one. */
int HitTestLegendEntry(int id, int x, int y, int w, int h);
const DrawStyle *GetGraphSeriesStyle(const GraphWindow *graph, int i);
/* Invalidates the legend strip. */
void InvalidateGraphLegend(HWND window);
/* 1 while the log form is in force for the graph's drawing. */
int GraphLogForm(const GraphWindow *graph);
