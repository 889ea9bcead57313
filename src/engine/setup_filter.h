/* setup_filter.h -- which symbols can make a setup on a date, known before the
** date loop.
**
** An EntrySetup formula of bar values, Data items at the strategy's own bar
** size, numbers and operators gives, for one symbol and one bar, the same
** value whatever state the test is in.  Such a formula is computed for every
** bar of every symbol in block form before the date loop (and again whenever
** the Data items are calculated anew), and gives one bit per date and symbol:
** clear when the symbol has no bar on the date or the formula is certainly 0
** on it, set otherwise.  The entry pass visits only the symbols whose bit is
** set.  A symbol it passes over would have made no setup: looking its bar up
** was all that happened to it, and the one lasting trace of a lookup, the
** symbol's first used date, is kept as the lookups would have kept it
** (LowerFirstUsedDates).  A bar the block form leaves open (no value, or one
** only the walk can give) keeps its bit set and the walk decides as before,
** so the filter never changes a result.
**
** Owns:       gSetupFilter: per strategy, one row of bits per date of the
**             daily master list the test visits (one bit per symbol, in
**             symbol order) with
**             the bar index and known score of each set bit, and the traded
**             symbols whose first used date a lookup may still lower; all
**             through the tracked allocator.
** Applies to: daily Benchmark and Strategy sections on the master calendar
**             that size their setups one by one and replay no trade list;
**             never while orders are generated, the evaluator traces, or a
**             single symbol is optimised.
** Errors:     the filter is built only while the MaxMemPct setting leaves
**             room for it (MemoryLimitReached), else the run visits every
**             symbol; BuildSetupFilters returns 0 only when an allocation
**             failed all the same (the allocator's low-memory state then
**             follows), and the caller frees what was built and goes on with
**             the plain pass.
** Threads:    built by the calculation's workers, blocks of 64 symbols each
**             (a block owns its words of the rows), while the user-interface
**             thread takes part and waits; read by the date loop alone.
** Speed:      one block evaluation per strategy and symbol over the bars the
**             test's dates judge, no walk, so a test of a few months costs
**             the same over any length of history; per date one row of bits
**             per strategy, and the few symbols not yet used.
*/
#pragma once
#include <cstdint>

#include "script/eval/eval_context.h"

struct SetupFilter {
    uint64_t *bits;      /* rowCount rows of words words each, null: no filter */
    uint64_t *known;     /* the same shape: the bit is set because the formula
                            is certainly true there, so it need not be walked */
    int32_t *wordStart;  /* the same shape: the set bits of the row before the word */
    int32_t *barIndex;   /* per set bit, in row order: the symbol's daily bar on
                            the row's date, so the entry pass need not look for it */
    double *scores;      /* per set bit: the SetupScore its plan gives on the bar
                            the setup is judged on, NaN where only a walk can tell;
                            null when the strategy has no SetupScore */
    int32_t firstRow;    /* the master list's index of the first row's date */
    int32_t rowCount;    /* rows: the dates from firstRow on that were asked for */
    int32_t listCount;   /* dates of the daily master list when built */
    int32_t words;       /* 64-bit words of a row */
    int32_t phase;       /* the phase whose setups it judges (open or close) */
    int32_t symbolCount; /* symbols when built */
};

struct SetupFilterState {
    SetupFilter *filters; /* one per strategy */
    int32_t count;
    int32_t *pending;     /* symbols whose first used date a lookup may lower,
                             by first bar date */
    int32_t pendingCount;
    int32_t activeCount;  /* the leading pending ones that have begun trading */
    struct SetupVisit *visits; /* scratch of the entry pass: one date's visits */
    uint8_t *traded;           /* per symbol: it has a bar with volume */
};

/* What the filter knows of one setup before its formulas are walked: taken
** only while the context is still on the symbol and bar it was worked out
** for (KnownSetupApplies; EvalSetup, AddEntryOrder). */
struct KnownSetupValues {
    const SymbolRecord *symbol;
    int32_t lastBar; /* the completed bar the values belong to */
    int32_t signal;  /* the EntrySetup is true */
    double score;    /* the SetupScore, NaN when not known */
};
/* One symbol the entry pass visits on a date. */
struct SetupVisit {
    int32_t symbol;         /* 0-based */
    int32_t bar;            /* its daily bar on the date */
    KnownSetupValues known;
};
/* known is for the context's symbol and bar. */
bool KnownSetupApplies(const KnownSetupValues *known, const EvalContext *context);
extern SetupFilterState gSetupFilter;

/* Set, no filter is built and every symbol is visited on every date: the
** plain path, against which tests hold the filtered one. */
extern int gSetupFilterOff;
/* Set, the filter's bits are counted without the processor's instruction
** even where it has one: the path of the processors that lack it. */
extern int gSetupFilterPlainBitCount;
/* Symbols the entry pass has visited through a filter, counted for tests
** that must know the filter took part. */
extern int64_t gSetupFilterVisits;

/* Builds the filter of every strategy that can have one, after the data
** calculation (the context is the test's, only copied), with rows for the
** master list's dates from firstDate to lastDate; on any other date the entry
** pass visits every symbol.  1, also when no filter is wanted, no date is in
** the range or memory leaves no room for one; 0 when an allocation failed,
** with what was built left for FreeSetupFilters. */
int BuildSetupFilters(const EvalContext *context, int32_t firstDate, int32_t lastDate);
/* Frees every filter. */
void FreeSetupFilters();

/* One date's row of a filter. */
struct SetupFilterRow {
    const double *scores;      /* the filter's scores, by set bit, or null */
    const uint64_t *bits;      /* the symbols to visit */
    const uint64_t *known;     /* those whose EntrySetup is known to be true */
    const int32_t *wordStart;  /* the row's set bits before each word */
    const int32_t *barIndex;   /* the filter's bar indexes, by set bit */
    int32_t words;
};
/* The row of strategy s for the context's date and phase; false when the
** entry pass has to visit every symbol. */
bool GetSetupFilterRow(int32_t s, const EvalContext *context, SetupFilterRow *row);

/* What looking up every symbol's bar on the context's date would leave
** behind in the symbols it does not visit: their first used dates. */
void LowerFirstUsedDates(const EvalContext *context);
