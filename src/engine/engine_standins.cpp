/* engine_standins.cpp -- stand-ins for engine routines not built yet. */
#include <cstring>

#include "engine/fills.h"
#include "foundation/numbers.h"
#include "marketdata/store/constituency.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"

/* ==== replaced by the fills and trade costs (fills.cpp) ==================================== */

/* STANDIN: the price rounding unit from PriceRound, else the symbol's tick. */
double GetPriceRoundUnit(EvalContext *context, const SymbolRecord *symbol, const Bar *bar, double price)
{
    FormulaSlot *f = context->strategy ? &context->strategy->slots[SLOT_PRICE_ROUND] : nullptr;
    double v = 0;
    if (f && IsSlotGiven(f) && EvalFormulaSlot(f, context, &v)) return v;
    return symbol ? GetTickSize(symbol, bar, price) : 0.0;
}

/* STANDIN: commission from the Commission formula, in the account currency. */
void ApplyCommission(EvalContext *context, PositionRecord *position, int isEntry)
{
    FormulaSlot *f = &context->strategy->slots[SLOT_COMMISSION];
    double c = 0;
    if (IsSlotGiven(f)) {
        EvalFormulaSlot(f, context, &c);
    } else if (position->tradeListRow > 0) {
        return;
    }
    double fx = gScriptSettings.CommCurrency ? 1.0 : isEntry ? position->entryFx : position->exitFx;
    double amount = RoundToStep(c * fx, 0.01, 0);
    if (isEntry) position->entryCommission = amount;
    else position->exitCommission = amount;
}

/* STANDIN: slippage per unit of price from the formula that suits the fill. */
void ApplySlippage(EvalContext *context, PositionRecord *position, int isEntry)
{
    StrategyRecord *r = context->strategy;
    int32_t slot = SLOT_SLIPPAGE;
    if (isEntry) {
        if (position->fillKind == 3) slot = SLOT_STOP_SLIP;
        else if (position->fillKind == 2) slot = SLOT_LIMIT_SLIP;
        else if (position->fillKind == 1 && position->entryTiming == PHASE_OPEN) slot = SLOT_OPEN_SLIP;
        else if (position->fillKind == 1 && position->entryTiming == PHASE_CLOSE) slot = SLOT_CLOSE_SLIP;
    } else if (position->exitReason == 3 && position->exitTiming == PHASE_INTRADAY) {
        slot = SLOT_STOP_SLIP;
    } else if (position->exitReason == 2 && position->exitTiming == PHASE_INTRADAY) {
        slot = SLOT_LIMIT_SLIP;
    } else if (position->exitReason == 1 && position->exitTiming == PHASE_OPEN) {
        slot = SLOT_OPEN_SLIP;
    } else if (position->exitReason == 1 && position->exitTiming == PHASE_CLOSE) {
        slot = SLOT_CLOSE_SLIP;
    }
    if (!IsSlotGiven(&r->slots[slot])) slot = SLOT_SLIPPAGE;
    double s = 0;
    if (IsSlotGiven(&r->slots[slot])) EvalFormulaSlot(&r->slots[slot], context, &s);
    double pointValue = position->symbol ? position->symbol->info.PointValue : 1.0;
    Bar *bar = nullptr;
    if (context->symbol && context->barIndex >= 0) {
        int32_t count = 0;
        Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
        if (context->barIndex < count) bar = &bars[context->barIndex];
    }
    if (isEntry) {
        position->entryPrice += position->side * s;
        position->entrySlippage = s * position->quantity * pointValue * position->entryFx;
        double u = GetPriceRoundUnit(context, position->symbol, bar, position->entryPrice);
        position->entryPrice = RoundToStep(position->entryPrice, u, 0);
        position->entryRounding = u;
    } else {
        position->exitPrice -= position->side * s;
        position->exitSlippage = s * position->quantity * pointValue * position->exitFx;
        double u = GetPriceRoundUnit(context, position->symbol, bar, position->exitPrice);
        position->exitPrice = RoundToStep(position->exitPrice, u, 0);
        position->exitRounding = u;
    }
}

/* STANDIN: daily runs only; every date of a longer bar size is taken as a bar date. */
bool IsBarDate(EvalContext *context, int32_t date)
{
    if (context->barSize == BAR_DAILY) return date == 0 || date == context->date;
    return true;
}

/* STANDIN: a bar without volume whose prices did not move. */
bool IsDeadBar(EvalContext *context, const Bar *bar, int32_t date)
{
    if (!bar || bar->volume != 0) return false;
    if (bar->open != bar->close || bar->high != bar->close || bar->low != bar->close) return false;
    if (context->strategy && context->strategy->AllowNoVolume == 1) return false;
    return context->symbol && date > GetFirstUsedDate(context->symbol);
}

/* STANDIN: same-day fills only: the symbol's daily bar at the context date. */
int32_t FindExecutionBar(EvalContext *context, PositionRecord *position, int isEntry)
{
    (void)isEntry;
    SymbolRecord *symbol = position->symbol;
    int32_t date = context->date;
    if (!symbol || date < symbol->firstDate || date > symbol->lastDate) return -17;
    Bar *bar = nullptr;
    if (FindBarIndex(symbol, BAR_DAILY, date, PHASE_CLOSE, 0, &bar) < 0 || !bar) return -17;
    if (IsDeadBar(context, bar, date)) return -18;
    return date;
}

/* STANDIN: drops the records that exits zero-filled (entry bar -1). */
void RemoveClosedPositions(int32_t strategy)
{
    if (strategy < 0 || strategy >= gStrategyCount) return;
    StrategyRecord *r = &gStrategies[strategy];
    int32_t kept = 0;
    for (int32_t k = 0; k < r->positionCount; k++) {
        if (r->positions[k].entryBar == -1) continue;
        if (kept != k) r->positions[kept] = r->positions[k];
        kept++;
    }
    r->positionCount = kept;
}
