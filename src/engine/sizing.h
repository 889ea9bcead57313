/* sizing.h -- from a strategy's entry formulas to a setup: its side,
** quantity, order price and, where the bar shows it, its entry fill price and
** timing; committing a setup as an entry order; sizing.
**
** Owns:       nothing; it fills the setup records of positions.h.
** Errors:     a formula that fails ends the setup (0), never the run.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "engine/fills.h"
#include "engine/positions.h"

struct KnownSetupValues;

/* Turns the strategy's entry formulas into the setup just made by AddSetup
** for the context symbol and bar; ends with AddEntryOrder.  1 when a setup
** was made (skipped or not), 0 when there is none.  What known holds (the
** setup filter's values, setup_filter.h) is taken instead of walking the
** EntrySetup and SetupScore again. */
int EvalSetup(EvalContext *context, PositionRecord *setup, const Bar *bar, const KnownSetupValues *known = nullptr);
/* Sizes (with a fixed Side), scores and commits the setup to the strategy's
** setup array.  1, or 0 when a formula fails (the setup is then not counted). */
int AddEntryOrder(EvalContext *context, PositionRecord *setup, const Bar *bar, double split,
                  const KnownSetupValues *known = nullptr);
/* The account the context's setup is sized on: its strategy's allocation
** at the context's date row.  A weekly to yearly strategy sizes every entry
** of a period on the account as the period began, the allocation of the
** last row before its first day (the context's row when there is none),
** in a run of any bar size and in its order list: a run of its own
** bar size knows nothing of the days inside its period, so a daily run
** sizes as it does, at the period's last close as at its first open.  An
** order list given the account's net liquidation value sizes on that. */
double GetSizingBase(const EvalContext *context);
/* The shares an entry trades for a wanted quantity: its size rounded down
** to the strategy's quantity step (step 0: as it is).  An entry, and what a
** DynamicSizing strategy adds to a holding, never buys more than it asked. */
double RoundEntryQuantity(double quantity, double step);
/* Sizes the context's setup: final 0 from Quantity, final 1 from QtyFinal
** (nothing without it).  1, or 0 when a formula fails. */
int ComputePositionSize(EvalContext *context, int final);
/* The bar phase of a trade-list time code: 1..3 kept, 930 and 93000 open,
** 1600 and 160000 close, anything else intraday. */
int32_t TradeListTimePhase(int32_t timeCode);
