/* fills.h -- the fill and cost rules that every entry and exit shares: the
** execution bar of an order and its price, bar dates and dead bars, the
** price rounding unit, commission and slippage, and the compaction of a
** strategy's open positions after exits.
**
** Errors:     FindExecutionBar's negative results are negated skip codes
**             (-16, -17, -18, -33), not errors; nothing here reports.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "engine/positions.h"

void ApplyCommission(EvalContext *context, PositionRecord *position, int isEntry);
void ApplySlippage(EvalContext *context, PositionRecord *position, int isEntry);
double GetPriceRoundUnit(EvalContext *context, const SymbolRecord *symbol, const Bar *bar, double price);
bool IsBarDate(EvalContext *context, int32_t date);
int32_t FindExecutionBar(EvalContext *context, PositionRecord *position, int isEntry);
bool IsDeadBar(EvalContext *context, const Bar *bar, int32_t date);
void RemoveClosedPositions(int32_t strategy);
