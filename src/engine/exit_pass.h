/* exit_pass.h -- the exits of a phase: revaluing every open position,
** ranking by ExitScore, deciding each position's exit (rule, target, stop,
** trade list, end of data, forced reasons), executing it into a trade, and
** partial exits and reductions to a target quantity.
**
** Owns:       nothing; it works on the open positions of the strategies.
** Invariants: a partial exit appends its remainder to the open positions,
**             which may move the array; the remainder is kept by index in the
**             context (remainderIndex) until ProcessPositionExit moves it
**             into the exited record's place.
** Errors:     none reported; a trade record that cannot be added leaves the
**             position open.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "engine/fills.h"
#include "engine/positions.h"

/* The exit pass of the context's phase; forced (0 none) closes every open
** position with that reason.  Returns the number of exits. */
int32_t RunExitPass(EvalContext *context, int32_t forced);
/* How the exit pass checks a strategy whose bar size is longer than the
** run's on a date: its intraday targets and stops day by day (dayByDay), on
** a date inside its period before the period's bar date (midPeriod). */
struct PeriodDays {
    bool dayByDay, midPeriod;
};
/* Checks and executes the exit of open position index of the context's
** strategy (days: how its period's days are checked, null: on its bar).
** 1 when it exited. */
int ProcessPositionExit(EvalContext *context, int32_t index, int32_t forced, const PeriodDays *days = nullptr);
/* Decides the exit of the context's position; non-zero when one is due. */
int CheckPositionExit(EvalContext *context, int32_t forced, const PeriodDays *days = nullptr);
/* Writes the context's position's exit as a trade.  1 done, 0 nothing. */
int ExecutePositionExit(EvalContext *context);
/* The strategy decides its exit rule for the next close at the open of the
** bar whose close it fills at (it enters and exits at the next close without
** a target or stop, and its bar size is the run's). */
bool DecidesNextCloseAtOpen(const StrategyRecord *r);
/* Reduces the context strategy's holding of the context symbol to target
** (side × quantity) by exiting its latest positions first; returns target
** less what is still held. */
double ReducePositionsToTarget(EvalContext *context, const Bar *bar, double target, void *orderContext);
/* The daily bar an order at the open of bar fills on: for a longer bar size
** (the context's) the symbol's first day in bar's period, bar itself when the
** symbol has none in it. */
const Bar *OpenFillDay(const EvalContext *context, const Bar *bar);
/* The quantity of open position p in the split terms of bar (its shares
** after the splits since its entry). */
double QuantityInBarTerms(const PositionRecord *p, const Bar *bar);
/* What a reduction of the context symbol's holding from held to target
** (side x shares, in the split terms of bar) asks of open position p, the
** latest lot not yet walked: 1 with the part it asks for (*request) and the
** shares that exit sells (*sold, SharesAnExitSells), by which the holding
** falls; 0 when p is left alone (a part below the quantity step, unless the
** target is 0).  The test's reduction and its orders both walk by this. */
int AskReductionPart(const PositionRecord *p, const Bar *bar, double held, double target, double *request,
                     double *sold);
