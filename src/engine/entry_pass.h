/* entry_pass.h -- one phase's entries: the strategies' limit formulas,
** setups for every symbol (benchmarks first), the selection and the
** openings; with the valuation that the entry and exit passes share.
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
/* Open profit of the context's position at the context date and phase; the
** event amount and the adverse and favourable excursions through the
** outputs (each may be null). */
double ComputePositionValue(EvalContext *context, double *eventAmount, double *adverse, double *favourable);
/* The dividends due to the context's position up to the context date. */
double GetPositionEventAmount(EvalContext *context);
/* A closed trade into the strategy's cell. */
void AddTradeToStrategyStats(StatCell *cell, const StrategyRecord *strategy, const PositionRecord *position,
                             const TradeRecord *trade);
/* Adds amount to the cell's open-value totals for position. */
void AddOpenPositionValue(StatCell *cell, const PositionRecord *position, double amount);
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
