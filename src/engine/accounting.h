/* accounting.h -- the daily accounting of a test: interest on cash and short
** positions, dated cash and fee flows, the end-of-day equity, drawdown and
** time-weighted statistics, the allocation, and the open-positions CSV.
**
** Works on the StatCells of the test being run (test_records.h); every amount
** is in the account currency.  Two derived values run through it: the equity
** E of a cell (equity base, plus the mark-to-market when the strategy is
** marked to market) and its free cash (ComputeCellEquity).
** Percentages: a percentage whose base is zero (start equity, maximum
** allocation, time-weighted peak) has no value (NaN) rather than an infinity,
** and a day without a value leaves the time-weighted equity unchanged.
** Errors:     interest, flows and statistics never fail: missing cells or
**             bars skip the step.  WritePositionsCsv reports a file that
**             cannot be created or written completely and returns 0.
** Threads:    UI thread, inside the date loop.
*/
#pragma once
#include <cstdint>

#include "records/test_records.h"
#include "script/eval/eval_context.h"

/* Interest of the main strategy's cell for the days since the previous date;
** the day's risk-free rate goes into every strategy's cell. */
void AccrueDailyInterest(EvalContext *context);
/* Cash and fee flows dated after previousDate up to the context date, and the
** CashInOut and FeesInOut formulas, into every strategy's cell and its
** parents'. */
void ApplyDailyCashFlows(EvalContext *context, int32_t previousDate);
/* Net change, equity extremes, drawdowns, time-weighted equity and the
** allocation of every strategy's cell of the row; final 1 after the
** end-of-test exits.  The running extremes always start again from the day
** before, so a day updated more than once (a cash flow, the close, the
** end-of-test exits) counts once. */
void UpdateDailyEquityStats(EvalContext *context, int final);
/* The allocation of the context strategy's cell, widening its minimum and
** maximum. */
void UpdateAllocation(EvalContext *context, StatCell *cell);
/* The open positions of every Strategy-kind strategy as CSV; 1, or 0 after
** reporting. */
int WritePositionsCsv(EvalContext *context, const char *path);
