/* entry_pass.h -- one phase's entries: the strategies' limit formulas,
** setups for every symbol (benchmarks first), the selection and the
** openings.
**
** Owns:       nothing; it drives positions.h, sizing.h and limits.h.
** Errors:     none reported; formulas that fail drop their setup.
** Threads:    UI thread only.
** Speed:      runs per date and phase over every symbol of each taking
**             strategy; no allocation besides the setup array's growth.
*/
#pragma once
#include <cstdint>

#include "engine/positions.h"

/* The entry pass of the context's date and phase.  Restores the date and
** phase it found and leaves the run's bar size in the context. */
void RunEntryPass(EvalContext *context);
/* What a dynamic-sizing setup still has to trade once its target (the
** signed quantity wanted in the context's symbol) is known: the symbol's
** open positions are brought towards the target, and a difference that
** reaches the setup's quantity step becomes its side, quantity, value and
** fraction.  The context is on the setup's strategy and symbol, *bar on its
** bar; afterwards the context is back on the symbol and the setup, with
** *bar synced again.  The setup (at setupIndex of the strategy's setups),
** or null when nothing is left to trade. */
PositionRecord *TakeSizingDifference(EvalContext *context, int32_t setupIndex, double target, const Bar **bar);
/* The phase in which a strategy makes its setups: the close for one that
** enters at this close, else the open (its setups are judged on the bar
** before the date). */
int32_t SetupPhase(const StrategyRecord *strategy);
/* Signal date of the context's strategy: the date in the close phase, else
** the date of the bar before the calendar bar of the date; 0 when none. */
int32_t GetSignalDate(EvalContext *context);
