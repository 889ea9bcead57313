/* run_view_hooks.h -- the hand-off from a test run to the views that show and
** export its results.
**
** The engine runs below the views and the shell, so it calls them through
** this record of function pointers instead of their headers.  The programs'
** start-up fills the entries whose owners are part of the program; the run
** checks each entry for null before it calls, and a null entry skips that
** output quietly (a program without windows has no trade-list window).
**
** Owns:       gRunViewHooks.
** Threads:    filled once at start-up; called on the UI thread inside a run.
*/
#pragma once
#include <cstdint>

struct CellListWindow;
struct EvalContext;
struct ResultsWindow;
struct TestRecord;

struct RunViewHooks {
    /* The statistics CSV of a test to path (after each test and in a
    ** multi-save); 1, or 0 on a failure. */
    int (*saveStatsCsv)(TestRecord *test, const char *path);
    /* The trades CSV of a test to path; 1, also after a reported failure. */
    int (*saveTradesCsv)(TestRecord *test, const char *path);
    /* Writes the HTML report of one test of window and opens it. */
    void (*writeTestReport)(ResultsWindow *window, TestRecord *test);
    /* Opens the trade-list window of a test; the window or null. */
    void *(*openTradeList)(TestRecord *test);
    /* The live statistics graph of a test: graph, when not null, is
    ** refreshed; else a graph window is opened.  The window or null. */
    void *(*showLiveGraph)(void *graph, ResultsWindow *window, TestRecord *test);
    /* Shows the test's summary statistics in the status bar's statistic parts. */
    void (*showStatLines)(TestRecord *test);
    /* Writes the list of the results window as CSV to path (SaveTestListAs,
    ** at the end of a run that used the window). */
    void (*saveTestList)(ResultsWindow *window, const char *path);
    /* Fills the results row of a test that joined the window's list, which
    ** computes its Results columns and leaves the optimization score in
    ** gOptimizer.currentScore. */
    void (*fillResultsRow)(ResultsWindow *window, TestRecord *test);
    /* Fills the debug panel's Test, Symbol and Strategy boxes after a test
    ** (an empty text empties its box) and updates its buttons. */
    void (*updateExaminePanel)(const char *symbol, const char *strategy);
    /* The list a test's TestScan rows go to (the scan window's), emptied and
    ** set up for the TestScan columns; null when there is none, and then the
    ** test scans nothing. */
    CellListWindow *(*openTestScan)();
    /* Adds the TestScan rows of the context's date to list. */
    void (*scanTestDate)(CellListWindow *list, const EvalContext *context);
    /* Ends the test's TestScan rows in list: shown or saved. */
    void (*finishTestScan)(CellListWindow *list);
    /* Closes every view that shows the test (window: the list it belongs
    ** to, or null), called by FreeTestRecord while the test is still whole. */
    void (*closeTestViews)(ResultsWindow *window, TestRecord *test);
    /* The list of the frontmost results window, the one the user works in;
    ** null when no window shows a list. */
    ResultsWindow *(*frontResults)();
};
extern RunViewHooks gRunViewHooks;
