/* results_file.h -- test records and the results list that holds them: a new
** record, freeing one, adding a finished test to a results list, and the
** results file a list is loaded from and saved to.
**
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "engine/test_records.h"
#include "platform/platform.h"

/* A results list: the tests of a results window in list order. */
struct ResultsWindow {
    TestRecord *firstTest, *lastTest;  /* doubly linked through the records */
    int32_t testCount;
    int32_t columnCount;               /* parameter columns */
    ParamValue *columns;               /* tracked */
    char path[260];                    /* the results file, "" untitled */
    int32_t modified;
};

/* Without a file: a new record with zeroed arrays sized for the counts; null
** when memory runs out. */
TestRecord *ReadTestRecord(PlatFile file, int32_t parameterCount, int32_t strategyCount, int32_t rowCount,
                           int32_t itemCount);
/* Frees the record and everything it holds (window may be null). */
void FreeTestRecord(ResultsWindow *window, TestRecord *record);
/* The first open results window, or null. */
ResultsWindow *FirstResultsWindow();
/* The open results window showing path (case ignored), or null. */
ResultsWindow *FindResultsWindowByPath(const char *path);
/* A new results window with the parameter columns; null after reporting. */
ResultsWindow *CreateResultsWindow(int32_t columnCount, const ParamValue *columns);
/* Adds the columns the window does not have yet; 0 when memory runs out. */
int AddResultsColumns(ResultsWindow *window, int32_t count, const ParamValue *columns);
/* Appends the record to the window's list and makes it the current test. */
void AddTestToResults(ResultsWindow *window, TestRecord *record);
/* Frees every test of the window. */
void DeleteAllTests(ResultsWindow *window);
/* Loads the results file into a window (create: a missing file is made
** empty first); 1, or 0 after reporting. */
int LoadResultsFile(const char *path, int create);
/* Saves the window's list to its results file; 1, or 0 after reporting. */
int SaveResultsFile(ResultsWindow *window, int saveAs);
/* Sort arrows, widths and selection after a run. */
void RefreshResultsList(ResultsWindow *window);
/* full 0: sort arrows and widths only; else every row's statistics again. */
void RecalculateTestStats(ResultsWindow *window, int full);
/* Re-sorts an optimization's list by score and keeps the best. */
void SortResultsList(ResultsWindow *window, int keepBest, int keepByDate, int keepBySymbol);
