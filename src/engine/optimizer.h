/* optimizer.h -- the parameter combinations of an optimization run.
**
** Owns:       gOptimizer, the state of one Optimize run: the per-parameter
**             search fields (best and worst scores and indexes, cycle state),
**             the store of combinations tested in the current interval, the
**             test counts, the interval dates and the outer-loop counters.
**             ShowOptimizerDialog resets it; ResetOptimizer frees it.
** Invariants: params has gParameters.count rows; store rows hold one value
**             index per optimized parameter, in parameter order, and the
**             store never holds two equal rows; storeIndex finds each stored
**             row by its hash, so a test's duplicate check does not grow
**             with the tests already run.
** Errors:     ShowOptimizerDialog returns 0 after reporting a setting it
**             refuses (a test interval below 1 with a time unit, walk-forward
**             intervals that leave the data or their order) or more
**             tests than 32 bits count, or for a cancelled dialog; NextParameterCombination returns 0 when no
**             untested combination is found.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

struct ResultsWindow;

enum OptimizeMode {
    OPT_COMBINATORIAL = 0,
    OPT_SEQUENTIAL = 1,
    OPT_GENETIC = 2,
    OPT_RANDOM = 3,
    OPT_DEFAULTS_ONLY = 4
};

/* OptAnchor */
enum { ANCHOR_NONE = 0,
       ANCHOR_START = 1,
       ANCHOR_END = 2 };

enum {
    OPT_MAX_ATTEMPTS = 1000, /* tries for an untested combination */
    OPT_TEST_NAME_LENGTH = 79
};

/* The optimizer's fields of one script parameter. */
struct OptParamState {
    int32_t cycleDone; /* sequential: the parameter has been through its values */
    int32_t bestIndex;
    int32_t worstIndex;
    double bestScore;  /* -1e14 until a score is recorded */
    double worstScore; /* +1e14 until a score is recorded */
};

struct OptimizerState {
    OptParamState *params; /* tracked; one per script parameter */
    int32_t paramCapacity;
    uint32_t *store; /* tracked; storeRows rows of optimizedCount indexes, room for up to
                     ** maxTests + 1 rows */
    int32_t storeRows;
    int32_t *storeIndex;   /* tracked; hash table of the stored rows: row + 1, 0 empty */
    int32_t indexCapacity; /* a power of two, at least twice the rows */
    int32_t optimizedCount;
    int32_t maxTests;
    int32_t tooManyTests; /* the product of the factors does not fit 32 bits */
    int32_t testsPerInterval;
    int32_t intervalCount; /* 0 without a time unit, length and interval */
    int32_t unitCount;     /* time units of the range + 1 */
    int32_t keptRows;
    int32_t intervalIndex;        /* interval of the last test, -1 before the first */
    int32_t rangeStart, rangeEnd; /* the optimization's date range */
    int32_t intervalStart;        /* first date of the current interval */
    int32_t repetition;           /* 1 .. OptIterations */
    int32_t strategyIndex;        /* record index of the strategy optimized alone */
    int32_t symbolIndex;          /* symbol optimized alone */
    double currentScore;          /* the OptScoreCol value of the test whose results row was filled last */
    double scoreSum;              /* the run's score accumulators */
    int32_t scoreCount;
    double bestScore;
};
extern OptimizerState gOptimizer;

/* Frees the optimizer's arrays and zeroes its state. */
void ResetOptimizer();

/* Resets the optimization state and, in an Optimize run, asks for its
** choices; the number of tests of the run (1 for a single test), 0 when
** cancelled or refused.  keptRows (may be null) gets the kept-row count. */
int32_t ShowOptimizerDialog(int resetOnly, int32_t *keptRows);
/* The window half of ShowOptimizerDialog: shows the Optimizer dialog
** modally and leaves the user's choices in the settings; 1 for Run Tests,
** 0 for Cancel.  Without windows the settings stay as they are. */
int RunOptimizerDialog();
/* Recomputes the test counts of gOptimizer from the settings, the
** parameters' deselected flags, the strategies and the symbols; the maximum
** test count (0 when it does not fit 32 bits). */
int32_t ComputeOptimizerTestCounts();
/* The first and last date of the interval that begins on
** gOptimizer.intervalStart, by the anchor, the test length and the range. */
void GetIntervalDates(int32_t *first, int32_t *last);
/* Sets the parameter combination of test testsDone; 0 when none is left. */
int NextParameterCombination(int32_t testsDone);
/* With OptByStrategy in an Optimize run, makes the script's strategy array
** a copy holding only the strategy being optimized and the benchmarks (no
** parent lists, no combined record) for one test; 0 when memory fails. */
int BeginStrategyRestriction();
/* Puts the script's strategies back after the test, keeping what the test
** grew in the records it ran. */
void EndStrategyRestriction();
/* Logs min, max, median, mean and standard deviation over the window's tests
** of every Results column marked for the summary. */
void LogOptimizationSummary(const ResultsWindow *window);
/* Records the score of the optimization test just run into the run's
** accumulators and the parameters' best and worst fields. */
void RecordOptimizerScore(double score);
