/* scan_charts.h -- a chart image of every row of a scan, saved to a folder
** as "<symbol>_<yyyymmdd>.PNG".
**
** Owns:       gChartImageWriter, installed by the chart window: it builds the
**             chart of one symbol at one date and writes its PNG image.
** Errors:     a folder whose parent is missing: "Unable to create folder %s"
**             (result code 3).  The closing message counts only the images
**             that were written and names the rows that could not be charted.
** Threads:    UI thread.
*/
#pragma once
#include <cstdint>

struct CellListWindow;
struct ListCell;

/* Writes the chart of a row (its first cell: symbol index, -1 the calendar,
** and date) to path; 1 when the file was written.  Null: no chart is drawn. */
extern int (*gChartImageWriter)(const ListCell *row, const char *path);

/* Saves a chart of every row, in the order shown; Escape (checked at every
** tenth row) stops early.  Returns the number of images written. */
int32_t SaveChartsToFolder(const CellListWindow *list, const char *folder);
