/* chart_paint.h -- painting a chart: panes, scales, date axis, bars or
** candles, volume bars, formula lines, status line, trade marks, the bar
** cursor and the cross-hair, into a memory bitmap served as ImageRequest asks.
**
** Owns:       gChartBarHalfWidth (w of the last paint, read by trade marks)
**             and gChartOpening (set while a chart is being created: paints
**             draw nothing then).
** Errors:     none reported by painting; a PNG the user asked for that
**             cannot be written is reported by ServeImageRequest.
** Platform:   Windows (GDI).
** Threads:    user-interface thread.
*/
#pragma once
#include <windows.h>

#include "records/chart_record.h"

struct Bar;
struct TestRecord;
struct TradeRecord;

extern int32_t gChartBarHalfWidth;
extern int32_t gChartOpening;

/* Paints the whole chart into a memory bitmap of the client size and serves
** it (window, clipboard or PNG).  test: the owner's test for trade marks, or
** null.  Hidden charts are painted with their own window the same way. */
void PaintChart(HWND window, HDC dc, ChartWindow *chart, TestRecord *test);

/* Draws the marks and annotation of one trade; annotationY below 1 writes no
** annotation.  The marks take the trade's strategy colour of the graph set. */
void DrawTradeMarks(HDC dc, ChartWindow *chart, const Bar *bars, TestRecord *test, const TradeRecord *trade,
                    int logForm, double low, double high, const RECT *client, int annotationY);

/* Sets the window title (at most 255 characters). */
void SetChartTitle(HWND window, ChartWindow *chart, const char *strategyName);

/* Deletes the chart's four GDI objects and frees its series; the record
** itself stays with its caller. */
void DestroyChartData(ChartWindow *chart);
