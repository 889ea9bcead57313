/* stops.h -- whether an open position's exit target or exit stop is reached
** on a bar, at which timing and price, and which to assume when the bar
** allows several orders of events.
**
** Owns:       nothing; it writes the position's target and stop prices and,
**             when an exit is chosen, its exit price, reason, timing and label.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "engine/positions.h"

/* Values of a strategy's Ambiguity constant. */
enum AmbiguityRule { AMBIGUITY_DEFAULT = 0,
                     AMBIGUITY_STOP = 1,
                     AMBIGUITY_TARGET = 2,
                     AMBIGUITY_NEITHER = 3 };

/* Checks the context position's target and stop on bar (previousClose: the
** close of the bar before it, in bar's split terms).  In trade-list mode only
** formulas that follow PrevExitLimit or PrevExitStop move the prices, and no
** exit is recorded.  The orders are checked in bar's split terms, while the
** position keeps their prices in the terms of the bar they were worked out
** on; returns the factor that takes the chosen order's price into bar's
** terms (1 when none was chosen). */
double ResolveIntradayOrder(EvalContext *context, const Bar *bar, double previousClose, int tradeListMode);
