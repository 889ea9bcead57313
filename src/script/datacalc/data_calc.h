/* data_calc.h -- the Data sections computed in advance for every loaded symbol,
** on up to 32 worker threads, and recomputed only where something changed.
**
** Every item of the script's Data sections gets one value per bar of its bar
** size (one per symbol for #OnePerSym, the calendar pseudo-symbol only for
** #OnePerDate) in the symbol's Data value block; the offset table of the
** symbol says where each item's values begin.  Formulas then read these
** stored arrays instead of evaluating the item again.
**
** Owns:       gDataRecalcNeeded; the calculation record of every Data and
**             Library item (its compile as of the last successful calculation,
**             its recalculation state and value count), kept beside the
**             compiled lists by list index; the snapshot of the settings that
**             change every value; the walk-forward selector of the running
**             calculation.
** Layout:     within a symbol's block the items follow ascending definition
**             sequence (list order among equal numbers).  An item's range is
**             NaN from the moment it is computed until its values are written;
**             space the block gains is zero.  Growing keeps the contents, so
**             an item whose offsets did not move keeps its values.
** Workers:    RunCalcThreads starts N = min(CalcThreads, work items) workers
**             (the setting is read once per calculation) on the kept threads
**             of the worker pool;
**             worker k evaluates node copy k with lookup hint k and random
**             slot k, so nothing is locked.  A per-symbol pass hands out
**             symbols in ascending order to whichever worker is free (one
**             shared counter), so a worker that runs slower takes fewer and
**             no worker waits for it at the end; with a random seed set,
**             worker k takes symbols k, k + N, ... instead, so that its
**             seeded sequence meets the same symbols on every run.  A
**             per-date pass always takes dates k, k + N, ...
**             The one shared write of a pass, the item's data type, is made
**             once by compare-and-set.  Workers never read the run state:
**             the polling loop on the calling thread pumps messages and turns
**             a stop request, low memory or a worker's failure into every
**             worker's stop flag.
** Errors:     routines return 1 complete, 0 not; a failure is not reported
**             (the stop notice "Calculation Stopped" is the one message), and
**             leaves gDataRecalcNeeded set so that the next calculation
**             recomputes every item.
** Threads:    CalculateData, CalcDataArraysForBarSize, CountItemsToRecalc,
**             ItemNeedsRecalc and RunCalcThreads belong to the user-interface
**             thread, with no other evaluation running.
** Speed:      the per-bar loop allocates nothing, formats nothing and takes
**             no lock; progress is shown only above 10000 values, refreshed at
**             most every 100 ms.
*/
#pragma once
#include <cstdint>

#include "script/compiler/formula.h"
#include "script/datacalc/cross_section.h"
#include "script/datacalc/strategy_data.h"
#include "script/eval/eval_context.h"

enum {
    CALC_MAX_WORKERS = 32,
    CALC_STATUS_SIZE = 40,
    CALC_PROGRESS_VALUES = 10000, /* progress is shown above this many values */
    CALC_REFRESH_MS = 100         /* worker status parts refreshed at most this often */
};

/* Recalculation state of an item. */
enum RecalcState {
    RECALC_UNDECIDED = 0,
    RECALC_NEEDED = 1,
    RECALC_UNCHANGED = -1
};


/* One worker of a pass: zero-filled, filled by RunCalcThreads, owned by the
** calling thread for the duration of the pass.  running, stop and current are
** read and written by both sides of the pass, always through
** std::atomic_ref; the worker writes nothing else of it but its own arrays. */
struct CalcWorkerContext {
    FormulaNode *nodes; /* the item's node copy of this worker's index */
    const char *itemName;
    int32_t function;              /* cross-sectional function row, 0 none */
    int32_t grouping;              /* group modifier row, 0 none */
    double parameter;              /* the percentile of #PercentRankN */
    GroupKeyEntry *groupKeys;      /* per-date pass: one per position; the worker's own */
    RankValueEntry *values;        /* per-date pass: one per position; the worker's own */
    int32_t groupStart;            /* position where the current group begins */
    int32_t onePass;               /* the item is computed in one evaluation per symbol */
    int32_t block;                 /* 0 Data value block, 1 TestData value block */
    char status[CALC_STATUS_SIZE]; /* symbol or date the worker is at (written by the
                                       polling loop from current, for the status bar) */
    int32_t itemIndex;             /* the item's index in its list */
    int32_t worker;                /* 0..N-1: first work item and evaluation slot */
    int32_t barSize;               /* the item's bar size */
    int32_t running;               /* 1 from creation until the worker ends */
    int32_t stop;                  /* 1: end early; set by the polling loop or the worker */
    uint32_t seedBase;             /* the random seed of the calculation, 0 none */
    int32_t workerCount;           /* N, the stride of the work items */
    int32_t walkForwardInterval;   /* copied into every evaluation context */
    int32_t outOfSample;
    int32_t current;   /* work item the worker is at (atomic), -1 before the first */
    int32_t *nextWork; /* per-symbol pass: the next symbol not yet taken (atomic,
                                    shared by the pass's workers); null: interleaved */
};

/* Set when every Data item must be computed again: by loading data, by a
** calculation that failed or was stopped; cleared by one that succeeds. */
extern int32_t gDataRecalcNeeded;

/* ---- entries ------------------------------------------------------------------- */

/* The apply and scan runs' calculation: run state 3 around it, the frame
** title and panels set and restored; "Calculation Stopped" when a stop was
** requested.  1 when every Data item is complete, else 0. */
int CalculateData();

/* Lays out every symbol's Data block and computes the items that need it.
** With a context its walk-forward interval and out-of-sample flag reach every
** evaluation; quiet leaves the status bar's main text alone.  1 or 0. */
int CalcDataArraysForBarSize(EvalContext *context, int quiet);

/* Decides every Data and Library item's recalculation state (forcing all when
** gDataRecalcNeeded or a value-changing setting or layout changed) and
** returns the number of Data items to compute. */
int CountItemsToRecalc(EvalContext *context);

/* 1 when item (of the Data or Library list) must be computed again, else 0;
** the answer is kept as the item's state, so it is decided once. */
int ItemNeedsRecalc(FormulaItem *item, EvalContext *context);

/* What one calculation hands to each of its passes, fixed when it begins. */
struct CalcRun {
    int32_t maxWorkers;          /* the CalcThreads setting (1 .. CALC_MAX_WORKERS used) */
    int32_t walkForwardInterval; /* of the calling context, -1 without one */
    int32_t outOfSample;
    int32_t showProgress; /* per-worker progress in the status bar */
    uint32_t seedBase;    /* the random seed, 0 when none is set */
};

/* Runs one pass of the Data item at itemIndex: per symbol (perDate 0; the
** calendar pseudo-symbol first, on the calling thread) or per date (1), with
** at most run->maxWorkers threads (and no more than there are work items).
** Returns the number of workers that ended with their stop flag set; 0 means
** the pass is complete. */
int RunCalcThreads(FormulaItem *item, int itemIndex, int perDate, const CalcRun *run);

/* Thread procedures of the two passes; both return 0. */
int CalcPerSymbolThread(CalcWorkerContext *worker);
int CalcPerDateThread(CalcWorkerContext *worker);

/* Computes the Data item at itemIndex for the context's symbol at the
** context's bar size: its range becomes NaN, then each bar's value (or, one
** pass, the formula writes the range itself). */
void CalcItemForSymbol(EvalContext *context, FormulaNode *nodes, int itemIndex, int onePass);

/* ---- bookkeeping ------------------------------------------------------------------ */

/* Marks every Data item for recalculation. */
void SetDataRecalcNeeded();
/* Frees every symbol's Data and TestData values and marks every item for
** recalculation: after the bars they were laid out on have changed (the data
** cut at a run's EndDate put back), no reader may find values of the old
** layout, and the next calculation computes them all on the bars as they are. */
void DropCalculatedValues();
/* The recalculation state of the Data (library 0) or Library item at index;
** RECALC_UNDECIDED when there is none. */
int32_t GetItemRecalcState(int library, int32_t index);
/* The values laid out for the Data item at index over all symbols at the last
** calculation (0 when none). */
int64_t GetItemValueCount(int32_t index);
/* Frees the compiled script's Data and TestData items (their formulas and
** records), empties the parameter and walk-forward lists and drops the saved
** compiles of the Data items. */
void FreeDataItemLists();
/* Frees every calculation record (the program is closing, or a test resets). */
void FreeDataCalcRecords();
