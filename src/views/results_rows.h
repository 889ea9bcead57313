/* results_rows.h -- what the results list shows of a test: its statistics
** (the script's Results columns), the texts of its row, the removal of a test
** with the parameter columns nobody uses any more, and the texts the list's
** commands write to the log (test settings, unique symbols; the
** optimization summary is the engine's).
**
** Owns:       nothing; the list and its tests are the results list's
**             (engine/results_list.h), the list view is the window's.
** Columns:    list column 0 "Test", 1 "Name", 2 "Dates", then one per shown
**             Results column (format code not 0), then one per parameter
**             column of the list.
** Errors:     EvalTestStat gives 0 for a value it cannot compute or store.
** Threads:    UI thread (the evaluations use worker slot 0).
*/
#pragma once
#include <cstdint>

#include "engine/results_list.h"
#include "platform/platform.h"

enum {
    RESULTS_CELL_SIZE = 80,
    RESULTS_OWN_STRATEGY = -1 /* the test's own results strategy */
};

/* The value of Results column `column` for one strategy of the test
** (RESULTS_OWN_STRATEGY: the test's results strategy).  evaluate 0 reads the
** stored value (0 when there is none); evaluate 1 computes the formula at the
** test's last date and stores it.  NaN and infinite results count as 0. */
double EvalTestStat(TestRecord *test, int32_t strategy, int32_t column, int evaluate);

/* Results columns the list shows (format code not 0). */
int32_t CountShownResultsColumns();
/* Number of list columns: 3 + shown statistics + the list's parameter columns. */
int32_t CountResultsListColumns(const ResultsWindow *window);

/* The heading of list column `column` (0 .. CountResultsListColumns - 1):
** "Test", "Name", "Dates", a shown Results column's heading, then a
** parameter column's name; "" past the last. */
const char *ResultsColumnHeading(const ResultsWindow *window, int32_t column);

/* The texts of one row, cells[0 .. count - 1] (count list columns at most):
** number "%4.4d", name, "first - last" dates, each shown statistic by its
** column's format with the test's currency, then "%g" of each parameter the
** test has (empty when it lacks it).  Every Results column is computed and
** stored again; the parameters record the list column that shows them. */
void FillResultsRow(const ResultsWindow *window, TestRecord *test, char (*cells)[RESULTS_CELL_SIZE], int32_t count);

/* Whether the test's stored statistics fit the Results columns compiled now
** (one value per strategy and column): a list shows such a test from its
** store, and computes the others when they come into it. */
int ResultsRowFilled(const TestRecord *test);

/* The text of one cell of the test's row, from what the test has stored:
** nothing is computed, so a list of any length can show, sort and copy its
** rows at the cost of the cells asked for.  The same texts as
** FillResultsRow gives once the statistics are stored. */
void ResultsCellText(const ResultsWindow *window, const TestRecord *test, int32_t column, char *out);

/* Writes the list as the results window shows it, as CSV: a heading line of
** the column names, then one line per test in the order shown (newest first,
** or as sorted) with the cells of its row, separators taken out of every
** cell, each line ending "\r\n".  The old file stays until the new one is
** complete; 0 after reporting a failure, with the file-error code set. */
int SaveResultsListCsv(const ResultsWindow *window, const char *path);

/* Takes the test off the list and frees it, then drops the parameter columns
** that no remaining test has: each dropped column's list index goes into
** droppedColumns (highest first, room for the list's parameter column count)
** and the later parameters move one list column to the left.  Returns the
** number of list columns dropped. */
int32_t DeleteTestFromResults(ResultsWindow *window, TestRecord *test, int32_t *droppedColumns);

/* Logs the settings of one test ("TEST %d SETTINGS" and the lines after it). */
void LogTestSettings(const TestRecord *test);
/* Writes the distinct symbols of the test's trades, sorted without regard to
** case, to path; 1, or 0 when there are none or the file fails (nothing is
** reported: the caller reports "Unable to create unique symbol list."). */
int WriteUniqueSymbols(const TestRecord *test, const char *path);

/* The script file that a column section's columns (Results, Trades, ...)
** were compiled from, into out (PATH_SIZE bytes): the file of its first
** column, or, before any compiled column, the section's default script in
** the scripts folder, else the one beside the program. */
void ColumnScriptPath(uint32_t section, char *out);
