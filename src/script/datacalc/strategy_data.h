/* strategy_data.h -- TestData and StratData items: values that depend on the
** state of a running test, computed by the test's date loop after each
** close (and by order generation for its date).
**
** TestData items take one value per symbol and bar in each symbol's TestData
** block, computed for every symbol in the context of the strategy holding a
** position in it; StratData items take one value per strategy and result row
** in the test record.  Both may be cross-sectional (across symbols, across
** strategies).
**
** Owns:       the one-per-symbol done flags of the TestData items (reset by
**             AllocStrategyArrays); the symbols' TestData blocks, offset
**             tables and per-strategy position counters are laid out here.
** Layout:     as the Data block: items in list order, one value per bar of the
**             item's bar size, one for a one-per-symbol item, none on an
**             ordinary symbol for a one-per-date item; every value starts NaN.
**             A value belongs to the symbol's last completed bar when computed.
** Threads:    user-interface thread, while no data calculation runs.
*/
#pragma once
#include <cstdint>

struct EvalContext;

/* Lays out every symbol's TestData block and position counters for a new
** test.  1, or 0 when memory runs out or reaches MaxMemPct. */
int AllocStrategyArrays();
/* Computes every TestData item for every symbol at the context's date.  1, or
** 0 when the cross-sectional arrays cannot be allocated. */
int CalcStrategyItems(EvalContext *context);
/* Computes every StratData item for every strategy on the row of the
** context's date.  1, or 0 when a cross-strategy statistic fails.  Callers
** run CalcStrategyItems for the date first, so these formulas read the
** date's TestData values. */
int CalcStrategyAggregates(EvalContext *context);
/* Sets the context's strategy, strategy index and position from the first
** Strategy of the context's bar size holding its symbol; none when no such. */
void FindSymbolStrategy(EvalContext *context);
