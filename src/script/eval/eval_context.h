/* eval_context.h -- the evaluation context and the engine records it points to.
**
** Owns:       EvalContext, the state every formula evaluation runs in.  It is
**             built by the engine, by each view or worker that evaluates, and
**             copied by built-ins that switch symbol, date or bar size.  Also the
**             engine's program-wide values that the data store and the script
**             language read (order generation, comparison bar size, current
**             test).
** Records:    TestRecord, PositionRecord and TradeRecord are filled by the
**             engine, the chart window's record by the views; their layouts
**             sit below the script language (records/test_records.h,
**             records/chart_record.h), and are only declared here.
**             StrategyRecord belongs to the compiled script
**             (script/compiler/strategy.h), with the run-time fields that the
**             store's lookups and calendar read.
** Threads:    each context belongs to one thread; its worker slot selects that
**             thread's formula node copy and bar-lookup hint.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/strategy.h"
#include "services/services.h"

struct TestRecord;
struct PositionRecord;
struct TradeRecord;
struct ChartWindow;
struct ArgValue;

/* The context of one evaluation. */
struct EvalContext {
    TestRecord *test;            /* none outside a test and while Data items are calculated */
    StrategyRecord *strategy;    /* its symbol number selects the context's symbol */
    SymbolRecord *symbol;        /* the symbol, or &gStore.calendar */
    SymbolRecord *callingSymbol; /* symbol before a built-in switched it (read by This) */
    PositionRecord *position;
    ChartWindow *chart;    /* the chart window when the evaluation belongs to one */
    TradeRecord *trade;    /* when the evaluation belongs to one trade */
    const char *itemName;  /* name of the slot being evaluated, for messages */
    double *onePassWindow; /* one-pass output, one element per bar; none otherwise */
    double priceScale;     /* split factor to which prices are scaled */
    ArgValue *args;        /* arguments of a Library call */
    int32_t argCount;
    int32_t resultRow;           /* the test's per-date row; -1 none */
    int32_t date;                /* yyyymmdd */
    int32_t barPhase;            /* BarPhase */
    int32_t strategyIndex;       /* 0-based; -1 none */
    int32_t barIndex;            /* bar of the date at the context's bar size */
    int32_t lastBar;             /* last completed bar; bars back count from it; -1 none */
    int32_t slot;                /* worker slot 0..31 */
    int32_t libraryDepth;        /* Library nesting, refused at 33 */
    int32_t funBar;              /* FunBar counter, -1 outside a multi-bar function */
    int32_t depth;               /* nesting depth */
    int32_t multiBarBase;        /* bars back at which the multi-bar function was called */
    int32_t barSize;             /* BarSize */
    int32_t filterNumber;        /* of the evaluation trace */
    int32_t callingDate;         /* yyyymmdd */
    int32_t walkForwardInterval; /* -1 none */
    int32_t outOfSample;         /* 0/1 */
    int32_t dataItemIndex;       /* index in the Data list during a one-pass evaluation, -1 otherwise */
    int32_t onePassOption;
    int32_t strategyData;     /* position items aggregate over the strategy group */
    int32_t importFlag;       /* set while the Import section's ExcludeIf formulas run */
    int32_t currentBar;       /* one-shot: price scale and position prices use the current bar */
    int32_t ownPosition;      /* position items use the context's position only */
    int32_t evalBarTerms;     /* position prices in the split terms the formula's bar prices
                                        are in (an exit order or rule that compares them), not in
                                        those of the bar traded next */
    int32_t storedParameters; /* parameter references read the test record's values */
    int32_t postClose;        /* after-close flag: 0 at the start of every date, 1 once the
                                        close phase's end-of-day statistics are done (read by
                                        BarsHeld with BarsHeldIncrPostClose) */
    int32_t signalDate;       /* the date the strategy's setups signal on: the date in the
                                        close phase, else the date of the bar before */
    uint32_t funStatValue;    /* the value FunStat reads */
    int32_t remainderIndex;   /* open-position index of the remainder a partial exit
                                        appended, 0 none */
    int32_t costFlag;         /* while a cost, slippage or rounding formula runs: 1 for a
                                        Daily run, else 0 */
    /* A trial bar that stands in for bar trialIndex of trialSymbol at
    ** trialBarSize for this evaluation only (TargetPrice); the bar getters
    ** read it instead of the shared bar array, which no evaluation writes.
    ** trialIndex may be one past the array's last bar. */
    const Bar *trialBar;
    const SymbolRecord *trialSymbol;
    int32_t trialIndex;
    int32_t trialBarSize;
};

/* ---- the engine's program-wide values ----------------------------------------- */

/* The order-generation flag and the order date are control words of the
** shell services (gRun.generatingOrders, gRun.orderDate, services.h). */
/* The test shown or computed; none otherwise. */
inline TestRecord *gCurrentTest = nullptr;
