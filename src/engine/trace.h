/* trace.h -- the simulation trace of a test (the test log's lines of
** portfolio state, setups, limits, entries, exits, interest, flows and rolls).
**
** Every line goes through LogPrintf into the test log opened by the date loop;
** money is formatted in the test's currency.  A line is built field by field
** with the log told that the line continues; each field ends in a tab.
** Threads:    UI thread, inside the test run.
*/
#pragma once
#include <cstdint>

struct EvalContext;
struct TradeRecord;

/* Actions of LogEntryExit. */
enum TraceAction {
    TRACE_NO_ENTRY = 0, /* a setup skipped or not entered */
    TRACE_ENTRY = 1,
    TRACE_EXIT = 2
};

/* One value by display code (2 plain, 3 money, 4 percent) and decimals, in
** the currency of the test being traced; a tab after it when asked. */
void LogNumber(double value, int32_t code, int32_t decimals, int tab);
/* DATE, TIME, STRATEGY and "name = " with the value as money; nothing for a
** missing name or a zero value. */
void LogNamedValue(EvalContext *context, const char *name, double value);
/* DATE, TIME, STRATEGY, then every limit of the strategy that is set. */
void LogPositionLimit(EvalContext *context);
/* The strategy's setups (which > 0), kept orders (0) or setups consumed by
** the selection turns (< 0) as "i=symbol(score);" entries. */
void LogSetupsOrders(EvalContext *context, int which);
/* An empty line, then one line per strategy with what it holds. */
void LogPortfolioState(EvalContext *context);
enum { DEBUG_TEXT_SIZE = 1024 };
/* With AddDebug, the strategy's debug formula of slot evaluated as text and,
** when not empty, written as a *DEBUG* line with the bar's date. */
void LogDebugItem(EvalContext *context, int32_t slot);
/* One line for the context's position: skipped, entered or exited (trade). */
void LogEntryExit(EvalContext *context, int action, const TradeRecord *trade);
