/* trace.h -- the simulation trace of a test (the test log's lines of
** portfolio state, setups, limits, entries, exits, interest, flows and rolls).
**
** Every line goes through LogPrintf into the test log opened by the date loop;
** money is formatted in the test's currency.
** Threads:    UI thread, inside the test run.
*/
#pragma once
#include <cstdint>

struct EvalContext;

/* DATE, TIME, STRATEGY and "name = " with the value as money; nothing for a
** missing name or a zero value. */
void LogNamedValue(EvalContext *context, const char *name, double value);
/* An empty line, then one line per strategy with what it holds. */
void LogPortfolioState(EvalContext *context);
