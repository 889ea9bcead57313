/* date_loop.h -- one test: the test record built and named, every strategy
** prepared, then the dates of the test range walked one by one, each in the
** open, intraday and close phases with the daily accounting between them,
** and the finished record handed to the results list.
**
** Owns:       gEngineRun, the control words of the current run that the run
**             driver sets and the simulation reads (start date, latest-date
**             flag, test count, results list).  ResetEngineRun empties it.
** Errors:     RunTest returns 1 when the test ran, also when it was skipped
**             by SkipTestIf, dropped, or stopped by the user (result code 8,
**             the partial test kept); 0 only for a failure that ends the run
**             (date range, record allocation, data calculation, trade-list
**             file), the record then freed and not listed.
** Threads:    UI thread only; messages are pumped once per date.
** Speed:      the per-date work allocates nothing, formats no text unless
**             the test log is on, and takes no lock; cells are started by
**             copying the carried fields only.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "records/test_records.h"
#include "script/eval/eval_context.h"

struct ResultsWindow;

struct EngineRun {
    int32_t startDate;         /* the run's start date (FirstDate when the run began) */
    int32_t useLatestDate;     /* the run's latest-date flag */
    int32_t endDate;           /* the run's EndDate as given: a run of a longer bar size ends on
                               ** its last row before it, and knows the days up to it */
    int32_t testCount;         /* tests of the run, for the live-graph rule */
    int32_t walkForwardRun;    /* the run has walk-forward dates (not optimizing) */
    ResultsWindow *results;    /* the results list the tests go to */
    char testLogPath[PATH_SIZE]; /* the test log of the current test */
    void *liveGraph;           /* the live statistics graph of the current test, or null */
    int32_t testsListed;       /* tests of the run that joined the results list */
    int32_t numberedExports;   /* the run exports more than one test: every SaveStatsAs and
                               ** SaveTradesAs file carries its test's number */
    int32_t exportsAfterSave;  /* the numbered exports wait for the results file's save, which
                               ** gives the run's tests the numbers they keep in the file */
    TestRecord **waitingExports; /* tracked: the tests whose exports wait, in order; a test
                                 ** freed meanwhile is null */
    int32_t waitingExportCount;
    int32_t multiSaveCount;    /* the last of them, the OptMultiSaveAs tests */
    /* A test log is written to a file of its own and put in place under the
    ** number its test keeps: at once, or, when the run saves a results file
    ** that another program may share, once the save has given the number.
    ** Meanwhile the file stays held. */
    TestRecord *testLogTest;   /* the test the waiting log is of; null when freed meanwhile */
    int32_t testLogWaits;      /* the log waits for the save */
    int32_t logsAfterSave;     /* the run's test logs wait for the save */
    const ResultsWindow *numberedList; /* the list whose highest test number is known */
    int32_t numberedCount;     /* its test count when that number was known */
    int32_t highestNumber;     /* the highest test number in it */
};
extern EngineRun gEngineRun;
/* Tests every run of the program put in a results list, for a batch that
** tells whether its runs made any (the run record is emptied at each end). */
extern int32_t gTestsListedByRuns;

/* Frees the run's scratch and empties the record. */
void ResetEngineRun();

/* The CSV exports of a test that the script names (SaveStatsAs, SaveTradesAs). */
void ExportTestCsvs(TestRecord *test);
/* Adds the test to the exports that wait for the results file's save; 0 when
** memory runs out (nothing added). */
int WaitExport(TestRecord *test);
/* A test being freed has no export or log waiting. */
void ForgetWaitingExport(const TestRecord *test);
/* Puts the test log that waits for the save in place under the number its
** test now keeps and shows it (settled 0: the save could not learn the
** number, and the log is dropped, as it could replace another run's). */
void PlaceWaitingTestLog(int settled);

/* Fills the debug panel from the last test: the first open position of the
** first strategy that holds one gives the Symbol and Strategy boxes. */
void UpdateExaminePanel();

/* Null, or called on a test's second date before the date loop takes a stop
** request: where the programs' tests hold a test half-way, so that a stop
** cuts it. */
extern void (*gTestDateHeld)();
/* Runs test testIndex of the run, in sample (wfFlag 0) or out of sample (1). */
int RunTest(int32_t testIndex, int32_t wfFlag);

/* The cell of strategy s on the context's date row, or null. */
StatCell *StrategyCell(const EvalContext *context, int32_t s);
/* The cell of strategy s on row, or null. */
StatCell *CellAt(TestRecord *test, int32_t row, int32_t s);

/* The calendar symbol of a strategy: its CalendarSym, else the global one. */
SymbolRecord *StrategyCalendarSymbol(const StrategyRecord *strategy);
