/* positions.h -- the setups and open positions of the simulation, the
** pending account figures that the limit checks work on, opening a
** position, and the orderings the passes sort by.
**
** Owns:       gPositionState: one StrategyAccount per strategy of the test
**             (pending totals, the limit values of the date, the turn
**             bookkeeping), the held counts of DynamicSizing strategies
**             (strategy × symbol), the selection counter, the round-robin
**             flag, the index of the run's account strategy, the entries
**             of longer bars waiting for their fill day and one day cursor
**             per symbol (its daily bar on the test's date).  The setup
**             and open-position arrays themselves live in each
**             StrategyRecord (setups, openPositions), since the evaluator
**             reads them there; so do the account share factor and the day's
**             entry count.
** Invariants: both arrays grow to 2n + 2 records through the tracked
**             allocator and move when they grow, so records are referred to
**             by index across anything that may grow them; a pointer into
**             them lives only until the next AddSetup or AddPosition.  A
**             setup is counted (setupCount) only once AddEntryOrder commits
**             it.  Every count and total kept for a strategy is applied to
**             each group in its parent list as well, recursively.
** Errors:     AddSetup and AddPosition return null when the array cannot
**             grow (the allocator's flag is then set); a formula that fails
**             ends the evaluation of its setup, never the run.
** Threads:    UI thread only (the date loop and order generation).
** Speed:      called per symbol and date: no allocation beyond the 2n + 2
**             growth, no string work except the texts the formulas return.
*/
#pragma once
#include <cstdint>

#include "records/test_records.h"
#include "script/eval/eval_context.h"

enum {
    LIMIT_UNLIMITED_COUNT = 2147483647,
    PARENT_CHAIN_MAX = 128 /* a strategy and every group above it */
};
constexpr double LIMIT_UNLIMITED_AMOUNT = 1e14;

/* The limit values of a strategy for the date, as its formulas gave them
** (percent limits already divided by 100). */
struct StrategyLimits {
    int32_t MaxSetups;
    int32_t MaxPositions;
    int32_t MaxNewPos;
    int32_t MaxSameCat;
    int32_t MaxSameSym;
    int32_t MaxEntries;
    int32_t MaxPerTurn;
    double MaxExposure, MaxNewExp, MaxSymExp, MaxCatExp, MaxLongExp, MaxShortExp, MaxNetExp;
    double MinNetExp;
    double MaxInvested, MaxNewInv, MaxCatInv, MaxSymInv, MaxLongInv, MaxShortInv, MaxNetInv;
    double MinNetInv;
    double MinFreeCash;
    double Reduce;
};

/* The pending account figures of one strategy and its turn bookkeeping. */
struct StrategyAccount {
    int32_t openCount; /* open positions, plus kept setups */
    int32_t newCount;  /* kept setups of the date */
    double totalValue; /* open value, long plus short */
    double newValue;   /* value of the kept setups */
    double shortValue;
    double freeCash;
    double turnScore;        /* StrategyScore of the current turn */
    int32_t turnKept;        /* setups kept in the current turn */
    int32_t turnTried;       /* setups tried in the current turn */
    double freeCashOverride; /* order generation's free cash; not above 0: none */
    double allocationOverride; /* order generation's net liquidation allocation; 0: none */
    StrategyLimits limits;
};

struct PositionState {
    StrategyAccount *accounts; /* one per strategy (tracked) */
    int32_t accountCount;
    int32_t heldSymbolCount;     /* symbols per row of heldCounts */
    int32_t *heldCounts;         /* DynamicSizing lots booked, strategy × symbol (tracked) */
    uint32_t selectionCounter;   /* selection numbers given in the current pass */
    int32_t roundRobin;          /* a StatsGroup or Combined strategy gives MaxEntries */
    int32_t accountStrategy;     /* index of the run's account strategy, -1 none */
    int32_t exitCount;           /* exits of the test */
    int32_t *turnOrder;          /* scratch strategy order of a selection turn, one per strategy (tracked) */
    int32_t *sortOrder;          /* scratch record order of a sort (tracked) */
    PositionRecord *sortHeld; /* the one record held aside while a sort moves the others (tracked) */
    struct SetupSortKey *sortKeys; /* scratch sort keys of the records being sorted (tracked) */
    int32_t sortCapacity;        /* entries of the sort order */
    PositionRecord *waiting;     /* entries of a longer bar that fill on a later day than the one
                                    they were opened on, until that day (tracked) */
    int32_t waitingCount, waitingCapacity;
    int32_t exitsWaiting;        /* open positions whose exit waits for its fill day (exitWaitsFor):
                                    the limit check looks for them only while there are any */
    DayCursor *dayCursors;       /* per symbol of the store: its daily bar as the test's dates
                                    go by, read by the exit checks and valuations (tracked) */
    int32_t dayCursorCount;
};
extern PositionState gPositionState;
/* Set, a test has no day cursors and every exit check and valuation looks
** its bar up afresh: the path tests and benchmarks hold the cursors to. */
extern int gPositionDayCursorsOff;

/* Makes the state ready for a test over the compiled strategies and the
** loaded symbols: every strategy's setups and open positions emptied, one
** zeroed account per strategy, held counts 0,
** the round-robin flag from the strategies' MaxEntries formulas, the account
** strategy = the test's main strategy.  1, or 0 when memory fails. */
int PreparePositionState(const TestRecord *test);
/* Frees the state and every strategy's setup and position arrays. */
void ResetPositionState();
/* The account of strategy index, null outside the prepared range. */
StrategyAccount *GetStrategyAccount(int32_t strategy);
/* The strategy's StatCell at the context's date row (today's cell), or null. */
StatCell *GetCurrentCell(const EvalContext *context, int32_t strategy);
/* The held count of strategy in symbol (DynamicSizing), or null. */
int32_t *GetHeldCount(int32_t strategy, const SymbolRecord *symbol);
/* strategy itself first, then every group above it (parent lists followed
** recursively, each once); the number written, at most max. */
int32_t CollectParentChain(int32_t strategy, int32_t *out, int32_t max);
/* The day cursor of a symbol of the store for the test, null for any other
** record or before the state is prepared. */
DayCursor *PositionDayCursor(const SymbolRecord *symbol);
/* 1-based number of symbol in gStore.symbols, 0 for none or the calendar. */
int32_t SymbolNumberOf(const SymbolRecord *symbol);

/* Makes room for a setup after the strategy's last one (2n + 2 growth) and
** zero-fills it without counting it: symbol, strategy index, entry and exit
** bar -1, sizing and entry FX 1.0.  Null when memory fails. */
PositionRecord *AddSetup(StrategyRecord *strategy, int32_t strategyIndex, SymbolRecord *symbol);
/* Appends a copy of the context's setup to the strategy's open positions
** (2n + 2 growth), points the context at the copy and returns it; an event
** cursor of 0 becomes 1.  Null when memory fails. */
PositionRecord *AddPosition(EvalContext *context);
/* Enters the context's setup (see the algorithm in positions.cpp): 1 when
** a position was opened, 0 when not (skipped, kept as a skipped trade, or
** no bar). */
int OpenPosition(EvalContext *context);
/* Opens the entries that waited for their fill day (see OpenPosition) whose
** day the context's date has reached, each in its strategy's bar size, after
** the limits of its strategy and groups as the account stands then. */
void OpenWaitingEntries(EvalContext *context);

/* Adds a kept setup to the pending figures of strategy and of each parent. */
void AddSetupToPendingTotals(int32_t strategy, const PositionRecord *setup);
/* Removes amount from the pending open and new value of strategy and of each parent. */
void RemoveSetupValueFromPending(int32_t strategy, double amount);
/* Sets the pending figures of strategy from its cell (or the account
** strategy's cell on the same row, for a non-benchmark whose share factor
** is exactly 1.0). */
void RefreshStrategyAccount(EvalContext *context, int32_t strategy);

/* Evaluates the strategy's limit formulas for the date into its account's
** limits (the context's strategy and index are set by the caller). */
void EvalStrategyFormulas(EvalContext *context, int32_t phase);

/* Strategy order of a selection turn: true when strategy a takes before b. */
bool CompareStrategiesForTurn(int32_t a, int32_t b);
/* Record orderings: <0 when a comes first, 0 when equal, >0 after. */
int CompareSetupsByScore(const PositionRecord *a, const PositionRecord *b);
int CompareSetupsForOpening(const PositionRecord *a, const PositionRecord *b);
int ComparePositionsForSizing(const PositionRecord *a, const PositionRecord *b);
int ComparePositionsForExit(const PositionRecord *a, const PositionRecord *b);
/* Sorts count records in place by one of the record orderings; records that
** compare equal keep their order.  Large arrays are ordered through an index
** array and moved once, in scratch that grows to 2n + 2 and is kept. */
void SortPositionRecords(PositionRecord *records, int32_t count,
                         int (*compare)(const PositionRecord *, const PositionRecord *));
