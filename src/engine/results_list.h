/* results_list.h -- test records' lifetime and the results lists that hold
** them: a new record, freeing one, the open lists, adding a finished test to
** a list, deleting tests and the list's order.
**
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "foundation/file_state.h"
#include "platform/platform.h"
#include "records/test_records.h"

enum {
    RESULTS_WINDOW_MAX = 16,    /* open results lists */
    RESULTS_SORT_KEY_MAX = 128, /* list columns that can carry a sort priority */
    RESULTS_FIXED_COLUMNS = 3   /* number, name, dates come before the statistics */
};

/* A results list: the tests of a results window in list order, the order
** the results file keeps them in: a new test joins at the end.  The list is
** shown the other way round, newest first: its first row is lastTest, the
** next row each test's previous.  The window that shows it is the views'
** business; the list, its file and its order are kept here. */
struct ResultsWindow {
    TestRecord *firstTest, *lastTest; /* doubly linked through the records */
    int32_t testCount;
    int32_t columnCount; /* parameter columns */
    ParamValue *columns; /* tracked */
    char path[PATH_SIZE]; /* the results file, "" untitled */
    int32_t modified;
    int32_t open;                           /* 1 while the list is in use */
    int32_t partialLoad;                    /* the file held tests that could not be read */
    int32_t sortKeys[RESULTS_SORT_KEY_MAX]; /* priority per list column, 0 none */
    int32_t sortDescending[RESULTS_SORT_KEY_MAX];
    int32_t keyCount;
    char title[300];
    /* The results file as this list last read or wrote it (path's file):
    ** whether it was there, its identity, size and last write, a hash of its
    ** contents, and a fingerprint of each test it held (tracked).  A save
    ** that finds the file changed since merges with what another program or
    ** window saved there. */
    FileState fileState;
    uint64_t fileHash;
    uint64_t *fileTests;
    int32_t fileTestCount;
    /* The last save could not learn the numbers the file gives the list's
    ** tests: another program kept the file busy, or changed it and it could
    ** not be read again.  The tests' numbers may then be another's. */
    int32_t numbersUnsettled;
};

/* Operations that read a test while they let the window answer messages
** (building a trade list, writing an export, a report, a graph's or a plot's
** values) hold the tests for their length: while any hold is taken, the user
** can delete no test (the Delete commands are greyed and refused, a results
** window does not close), so the holder never reads a freed record.  Holds
** nest; each HoldTests is matched by one ReleaseTests.  TestHold takes one
** for the scope it lives in. */
void HoldTests();
void ReleaseTests();
/* The holds taken now; 0 when no operation holds a test. */
int32_t CountTestHolds();
struct TestHold {
    TestHold() { HoldTests(); }
    ~TestHold() { ReleaseTests(); }
    TestHold(const TestHold &) = delete;
    TestHold &operator=(const TestHold &) = delete;
};

/* A new record with zeroed arrays sized for the counts; null when a count
** is negative or memory runs out. */
TestRecord *NewTestRecord(int32_t parameterCount, int32_t strategyCount, int32_t rowCount, int32_t itemCount);
/* Frees the record and everything it holds (window: the list it was in, or
** null).  Every path that frees a test comes here, and every view that shows
** the test is closed first (gRunViewHooks.closeTestViews). */
void FreeTestRecord(ResultsWindow *window, TestRecord *record);
/* The first open results window: the frontmost where windows show them
** (gRunViewHooks.frontResults), else the first opened; or null. */
ResultsWindow *FirstResultsWindow();
/* Bytes the tests of every open results window hold, by the low-memory
** warning's measure: per test (strategies + 2) x 504 + trades x 344 +
** parameter values x 88. */
double EstimateResultsMemory();
/* The open results window showing path (case ignored), or null. */
ResultsWindow *FindResultsWindowByPath(const char *path);
/* A new results window with the parameter columns; null after reporting. */
ResultsWindow *CreateResultsWindow(int32_t columnCount, const ParamValue *columns);
/* Adds the columns the window does not have yet; 0 when memory runs out. */
int AddResultsColumns(ResultsWindow *window, int32_t count, const ParamValue *columns);
/* Links the record in after the list's last test; counts and keys untouched. */
void LinkTestAtEnd(ResultsWindow *window, TestRecord *record);
/* Appends the record to the window's list and makes it the current test. */
void AddTestToResults(ResultsWindow *window, TestRecord *record);
/* Frees every test of the window and its parameter columns; the list stays open. */
void DeleteAllTests(ResultsWindow *window);
/* Frees the tests and closes the list (the window was closed). */
void CloseResultsWindow(ResultsWindow *window);
/* "Results - %s" with the path, else "Results - (untitled)". */
void UpdateResultsTitle(ResultsWindow *window);
/* -1/0/1 by the window's sort keys (ascending unless the key is descending). */
int CompareResultsRows(const ResultsWindow *window, const TestRecord *a, const TestRecord *b);
/* Relinks the list so that it shows (from lastTest back) in the order of its
** sort keys; equal rows keep the order they were shown in. */
void SortResultsRows(ResultsWindow *window);
/* Sort arrows, widths and selection after a run. */
void RefreshResultsList(ResultsWindow *window);
/* full 0: sort arrows and widths only (the window's).  Else every test's
** statistics are computed again through gRunViewHooks.fillResultsRow; once
** that has taken over a second, the status bar shows "Recalculating Test
** Stats..." and "Test %d of %d", and Escape stops it with "Calculation
** aborted" (the tests not reached keep their values). */
void RecalculateTestStats(ResultsWindow *window, int full);
/* Re-sorts an optimization's list by score, the best shown first, and keeps
** the best keepBest tests of each group (keepBest 0: no limit). */
void SortResultsList(ResultsWindow *window, int keepBest, int keepByDate, int keepBySymbol);
