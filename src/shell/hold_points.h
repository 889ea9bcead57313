/* hold_points.h -- where the programs' tests hold a running program.
**
** KV_HOLD_AT="point path": at the point named the program opens path (a FIFO
** for the native program, a named pipe for the Windows one, which the test
** serves) and reads it to its end, so that a test can act while the program
** waits there and let it go on by closing its end.  The points: "batch"
** before the batch and "batch-end" after its last run (the native program),
** "next-run" before each run of the batch after the first, "results-save"
** before each save of a results file, "results-guard" while a save holds the
** file's guard, "results-busy" when a save or load first finds the guard held
** by another program, "results-load" while a load holds the file open,
** "data-save" while an import's save holds the data file's temporary file,
** "report-page" while a report is written, "report-list" while the report
** list is being replaced, "report-busy" when a writer of the list first finds
** another writing it, "test-date" on each test's second date.
** Threads:    UI thread; read once at start-up.
*/
#pragma once

/* Reads KV_HOLD_AT and, when it names a point, hooks the moments above. */
void ReadHoldPoint();
/* Waits at point when it is the one KV_HOLD_AT names. */
void HoldAt(const char *point);
