/* stats_export.h -- a test's daily statistics and its trades as CSV files,
** from the results list's menu (with a file dialog) or after each test when
** the script names a file (SaveStatsAs, SaveTradesAs).
**
** Owns:       gExportPath, the path of the export in progress.
** Errors:     a file that cannot be created or written is reported through
**             ReportError with result code 3.  The previous file of that name
**             stays as it was until the new one is complete, so a failed
**             export never costs the last good one.
** Threads:    UI thread.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

struct TestRecord;

extern char gExportPath[PATH_SIZE];

/* Copies path into gExportPath; in an optimization, and in any run that
** exports more than one test (gEngineRun.numberedExports: a walk-forward
** test's two tests, an optimization's playbacks), ".%d" with the test
** number goes before the extension (the text from the last '.' after the
** last path separator; at its end when there is none).  0, with gExportPath
** empty, when the numbered name is longer than a path holds. */
int MakeNumberedFileName(const char *path, int32_t testNumber);
/* Every date x strategy row with the shown Graphs columns; path null asks
** with the save dialog.  1, or 0 on a failure or a cancelled dialog. */
int SaveStatsCsv(TestRecord *test, const char *path);
/* The Strategy-kind trades that have an exit, 15 columns (SaveTradesType
** Compact); 1 also after a reported failure, 0 only when the dialog is
** cancelled. */
int SaveTradesCsv(TestRecord *test, const char *path);
