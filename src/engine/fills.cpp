/* fills.cpp -- execution bars, dead bars, bar dates, rounding units, commission
** and slippage. */
#include "engine/fills.h"

#include <cmath>
#include <cstring>

#include "engine/date_loop.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/constituency.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"

int EvalCostFormula(EvalContext *context, int32_t slot, double *value)
{
    StrategyRecord *strategy = context->strategy;
    if (!strategy || !IsSlotGiven(&strategy->slots[slot])) return 0;
    context->costFlag = context->barSize == BAR_DAILY ? 1 : 0;
    int ok = EvalFormulaSlot(&strategy->slots[slot], context, value);
    context->costFlag = 0;
    return ok;
}

void ApplyCommission(EvalContext *context, PositionRecord *position, int isEntry)
{
    double c = 0;
    PositionRecord *saved = context->position;
    context->position = position;
    if (context->strategy && IsSlotGiven(&context->strategy->slots[SLOT_COMMISSION])) {
        EvalCostFormula(context, SLOT_COMMISSION, &c);
    } else if (position->tradeListRow != 0) {
        context->position = saved;
        return;
    }
    context->position = saved;
    double fx = gScriptSettings.CommCurrency ? 1.0 : (isEntry ? position->entryFx : position->exitFx);
    double commission = RoundToStep(c * fx, 0.01, 0);
    if (isEntry)
        position->entryCommission = commission;
    else
        position->exitCommission = commission;
}

/* The slippage slot that fits the fill. */
static int32_t SlippageSlot(const PositionRecord *position, int isEntry)
{
    if (isEntry) {
        switch (position->fillKind) {
        case FILL_STOP: return SLOT_STOP_SLIP;
        case FILL_LIMIT: return SLOT_LIMIT_SLIP;
        case FILL_MARKET:
            if (position->entryTiming == PHASE_OPEN) return SLOT_OPEN_SLIP;
            if (position->entryTiming == PHASE_CLOSE) return SLOT_CLOSE_SLIP;
            return SLOT_SLIPPAGE;
        default: return SLOT_SLIPPAGE;
        }
    }
    switch (position->exitReason) {
    case EXIT_STOP: return position->exitTiming == PHASE_INTRADAY ? SLOT_STOP_SLIP : SLOT_SLIPPAGE;
    case EXIT_LIMIT: return position->exitTiming == PHASE_INTRADAY ? SLOT_LIMIT_SLIP : SLOT_SLIPPAGE;
    case EXIT_RULE:
        if (position->exitTiming == PHASE_OPEN) return SLOT_OPEN_SLIP;
        if (position->exitTiming == PHASE_CLOSE) return SLOT_CLOSE_SLIP;
        return SLOT_SLIPPAGE;
    default: return SLOT_SLIPPAGE;
    }
}

/* The context symbol's bar at the context's bar index, or null. */
static const Bar *ContextBar(const EvalContext *context)
{
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
    if (!bars || context->barIndex < 0 || context->barIndex >= count) return nullptr;
    return &bars[context->barIndex];
}

void ApplySlippage(EvalContext *context, PositionRecord *position, int isEntry)
{
    StrategyRecord *strategy = context->strategy;
    int32_t slot = SlippageSlot(position, isEntry);
    if (strategy && !IsSlotGiven(&strategy->slots[slot])) slot = SLOT_SLIPPAGE;
    double s = 0;
    PositionRecord *saved = context->position;
    context->position = position;
    EvalCostFormula(context, slot, &s);
    const SymbolRecord *symbol = position->symbol ? position->symbol : context->symbol;
    double pointValue = symbol ? symbol->info.PointValue : 1.0;
    double *price = isEntry ? &position->entryPrice : &position->exitPrice;
    if (isEntry) {
        *price += position->side * s;
        position->entrySlippage = s * position->quantity * pointValue * position->entryFx;
    } else {
        *price -= position->side * s;
        position->exitSlippage = s * position->quantity * pointValue * position->exitFx;
    }
    double unit = 0;
    bool tradeList = position->tradeListRow != 0 && (isEntry || position->exitReason == EXIT_TRADE_LIST);
    if (tradeList) {
        if (strategy && IsSlotGiven(&strategy->slots[SLOT_PRICE_ROUND])) EvalCostFormula(context, SLOT_PRICE_ROUND, &unit);
    } else {
        unit = GetPriceRoundUnit(context, symbol, ContextBar(context), *price);
    }
    context->position = saved;
    *price = RoundToStep(*price, unit, 0);
    if (isEntry)
        position->entryRounding = unit;
    else
        position->exitRounding = unit;
    /* An entry's day is known by now; an exit's may be found by the fill
    ** search still, and is bounded when it is booked. */
    if (isEntry && !tradeList) KeepFillInsideDay(position, 1);
}

void KeepFillInsideDay(PositionRecord *position, int isEntry)
{
    SymbolRecord *symbol = position->symbol;
    /* (An exit is dated as its trade is: not after the symbol's last day.) */
    const int32_t date = isEntry ? position->entryDate
        : symbol && position->exitDate > symbol->lastDate ? symbol->lastDate : position->exitDate;
    const Bar *day = symbol ? GetBarOnOrBefore(symbol, date, BAR_DAILY) : nullptr;
    if (!day || day->date != date) return;
    /* Slippage moves the price by its amount a share, against the position. */
    const double fx = isEntry ? position->entryFx : position->exitFx;
    const double units = position->quantity * symbol->info.PointValue * (fx != 0 ? fx : 1.0);
    const double slipped = (isEntry ? position->entrySlippage : position->exitSlippage) / (units != 0 ? units : 1.0);
    const double move = (isEntry ? 1 : -1) * (position->side < 0 ? -1 : 1) * slipped;
    const double low = day->low + std::fmin(0.0, move), high = day->high + std::fmax(0.0, move);
    double *price = isEntry ? &position->entryPrice : &position->exitPrice;
    if (*price > high) *price = high;
    if (*price < low) *price = low;
}

double GetPriceRoundUnit(EvalContext *context, const SymbolRecord *symbol, const Bar *bar, double price)
{
    double unit = 0;
    if (EvalCostFormula(context, SLOT_PRICE_ROUND, &unit)) return unit;
    return symbol ? GetTickSize(symbol, bar, price) : 0.0;
}

int IsDeadBar(const EvalContext *context, const Bar *bar, int32_t date)
{
    if (!bar || bar->volume != 0) return 0;
    if (bar->open != bar->close || bar->high != bar->close || bar->low != bar->close) return 0;
    if (!context->symbol || date <= GetFirstUsedDate(context->symbol)) return 0;
    return !(context->strategy && context->strategy->AllowNoVolume == 1);
}

int IsBarDate(EvalContext *context, int32_t date)
{
    if (context->date < gEngineRun.startDate && !gRun.generatingOrders) return 0;
    if (context->barSize == BAR_DAILY) return date == 0 || date == context->date;
    if (GetPeriodFirstDate(context->date, 1, context->barSize) < gSettings.FirstDate) return 0;
    int32_t tested = context->date;
    /* An order list stands on the evening before its order date, whatever
    ** the run's bar size: the bar that signals the next open is its last. */
    const bool dayBefore = context->barPhase == PHASE_OPEN && (gSettings.BarSize2 == BAR_DAILY || gRun.generatingOrders);
    if (dayBefore) tested = OffsetTradingDate(&gStore.dateLists[BAR_DAILY], context->date, -1);
    const StrategyRecord *strategy = context->strategy;
    const DateList *list = strategy && strategy->hasOwnDateLists ? &strategy->dateLists[context->barSize]
                                                                 : &gStore.dateLists[context->barSize];
    /* Data that end inside a period keep that part-period as a bar of its
    ** own, dated on their last day, and a test, which ends there, acts on
    ** it.  An orders run is the evening before a day that may belong to the
    ** same period: there the last day is a bar date as any other day is,
    ** and its close (or that of a bar longer than the run's) ends a period
    ** only where the calendar its order date comes from says so, as the next
    ** day's test and a run on data that go on find. */
    const bool last = list->count > 0 && (int32_t)list->dates[list->count - 1] == tested;
    if (last && gRun.mode != RUN_MODE_ORDERS) return 1;
    const bool closes = context->barPhase == PHASE_CLOSE || context->barSize > gSettings.BarSize2;
    if (last && closes && !IsPeriodEnd(tested, context->barSize, strategy)) return 0;
    /* A bar of the run's bar size opens when a bar before it signalled.  In
    ** a daily run's open phase the date tested is that signalling bar
    ** itself, and the data's first period signals the second as any period
    ** signals the next (a run of the strategy's bar size opens its second
    ** bar on it), though it began before the data. */
    const int index = last ? list->count - 1 : FindDateIndex(list, tested, 0);
    return dayBefore ? index >= 0 : index > 0;
}

/* The position's split factor of the side being filled (1 when unset). */
static double PositionSplit(const PositionRecord *position, int isEntry)
{
    double split = isEntry ? position->entrySplit : position->exitSplit;
    return split != 0 ? split : 1.0;
}

/* The trigger price of an exit order: the target or stop itself, before
** slippage; the exit price when the position carries none. */
static double ExitTrigger(const PositionRecord *position)
{
    double trigger = position->exitReason == EXIT_LIMIT ? position->limitPrice : position->stopPrice;
    if (trigger <= 0 || trigger >= 1e14) return position->exitPrice;
    return trigger;
}

int32_t FindExecutionBar(EvalContext *context, PositionRecord *position, int isEntry)
{
    SymbolRecord *symbol = position->symbol ? position->symbol : context->symbol;
    const StrategyRecord *strategy = context->strategy;
    int32_t timing = isEntry ? position->entryTiming : position->exitTiming;
    Bar *bar = nullptr;
    if (timing == PHASE_CLOSE || context->barSize == BAR_DAILY) {
        int32_t date = context->date;
        if (context->barSize != BAR_DAILY && strategy && strategy->CalendarSym > 0 &&
            strategy->CalendarSym <= gStore.symbolCount) {
            const Bar *own = GetBarOnOrBefore(&gStore.symbols[strategy->CalendarSym - 1], context->date, BAR_DAILY);
            if (own && own->date < date) date = own->date;
        }
        if (!symbol || date < symbol->firstDate || date > symbol->lastDate) return EXEC_NO_DATA;
        if (FindBarIndex(symbol, BAR_DAILY, date, PHASE_CLOSE, context->slot, &bar) < 0 || !bar) return EXEC_NO_DATA;
        if (IsDeadBar(context, bar, date)) return EXEC_ZERO_VOLUME;
        return date;
    }

    /* A period fill: the first daily bar of the period from its start on. */
    if (!symbol) return EXEC_NO_DATA;
    int32_t start = GetPeriodFirstDate(context->date, 1, context->barSize);
    if (!isEntry && start < position->entryDate) start = position->entryDate;
    int32_t end = context->date;
    if (gSettings.BarSize2 == BAR_DAILY) {
        Bar *own = nullptr;
        if (FindBarIndex(symbol, context->barSize, context->date, PHASE_CLOSE, context->slot, &own) >= 0 && own)
            end = own->date;
    }
    int32_t index = -1;
    for (int32_t date = start; date != 0 && date <= end; date = OffsetTradingDate(&gStore.dateLists[BAR_DAILY], date, 1)) {
        index = FindBarIndex(symbol, BAR_DAILY, date, PHASE_CLOSE, context->slot, &bar);
        if (index >= 0) break;
    }
    if (index < 0) return EXEC_NO_DATA;

    int32_t count = 0;
    Bar *bars = GetBarArray(symbol, BAR_DAILY, &count);
    /* An exit at the open (a target or stop the open was already through,
    ** or one for the next open) is priced on the period's first day and
    ** fills there as a market order. */
    bool openExit = !isEntry && timing == PHASE_OPEN;
    bool limit = isEntry ? strategy && strategy->hasEntryLimit : position->exitReason == EXIT_LIMIT && !openExit;
    bool stop = isEntry ? strategy && strategy->hasEntryStop : position->exitReason == EXIT_STOP && !openExit;
    double ownSplit = PositionSplit(position, isEntry);
    int32_t filled = -1;
    bool passedLast = false;
    for (int32_t k = index; k < count && bars[k].date <= end; k++) {
        const Bar *b = &bars[k];
        /* Tomorrow's provisional bar lies past the last date: order generation fills on it. */
        if (gSettings.LastDate > 0 && b->date > gSettings.LastDate && !gRun.generatingOrders) {
            passedLast = true;
            break;
        }
        if (IsDeadBar(context, b, b->date)) continue;
        double ratio = (b->split != 0 ? b->split : 1.0) / ownSplit;
        if (!limit && !stop) {
            filled = k;
            break;
        }
        if (isEntry && limit && stop) {
            double L = ratio * position->limitPrice, S = ratio * position->stopPrice;
            bool fills;
            double price;
            /* A day that opens short of the stop reaches it first and fills
            ** there when the limit takes that price, as a daily bar does; one
            ** that opens past the limit comes back to it. */
            if (position->side >= 0) {
                fills = CompareDoubleApprox(b->low, L) <= 0 && CompareDoubleApprox(b->high, S) >= 0;
                price = CompareDoubleApprox(S, b->open) <= 0 && CompareDoubleApprox(b->open, L) <= 0 ? b->open
                    : CompareDoubleApprox(b->open, S) < 0 && CompareDoubleApprox(S, L) <= 0        ? S
                                                                                                   : L;
            } else {
                fills = !(CompareDoubleApprox(b->high, L) < 0 || CompareDoubleApprox(b->low, S) > 0);
                price = CompareDoubleApprox(L, b->open) <= 0 && CompareDoubleApprox(b->open, S) <= 0 ? b->open
                    : CompareDoubleApprox(b->open, S) > 0 && CompareDoubleApprox(L, S) <= 0        ? S
                                                                                                   : L;
            }
            if (fills) {
                position->entryPrice = price;
                filled = k;
                break;
            }
            continue;
        }
        double trigger = isEntry ? position->entryPrice : ExitTrigger(position);
        double P = ratio * trigger;
        bool falling; /* fills when the price falls to P */
        if (isEntry)
            falling = (position->side >= 0) == limit;
        else
            falling = (position->side >= 0) == stop;
        bool fills = falling ? CompareDoubleApprox(b->low, P) <= 0 : CompareDoubleApprox(b->high, P) >= 0;
        if (!fills) continue;
        bool through = falling ? CompareDoubleApprox(b->open, P) <= 0 : CompareDoubleApprox(b->open, P) >= 0;
        double price = through && (isEntry || b->date > position->entryDate) ? b->open : P;
        if (isEntry) {
            position->entryPrice = price;
        } else {
            /* The slippage already taken (the distance between the trigger and
            ** the exit price) stays a cost on the price the bar fills at. */
            double slip = P - ratio * position->exitPrice;
            position->exitPrice = price - slip;
        }
        filled = k;
        break;
    }
    if (filled < 0 || bars[filled].date > end) {
        if (!isEntry) return EXEC_NO_DATA;
        if (limit && stop) return EXEC_STOP_LIMIT_NOT_HIT;
        if (!passedLast && gSettings.LastDate > 0 && end > gSettings.LastDate) passedLast = true;
        return passedLast ? EXEC_END_OF_TEST : EXEC_NO_DATA;
    }
    const Bar *b = &bars[filled];
    double barSplit = b->split != 0 ? b->split : 1.0;
    if (barSplit != ownSplit) {
        double ratio = barSplit / ownSplit;
        if (isEntry) {
            position->orderPrice *= ratio;
            position->quantity = RoundToStep(position->quantity / ratio, position->quantityStep, -1);
            if (limit) position->limitPrice *= ratio;
            if (stop) position->stopPrice *= ratio;
            position->entrySplit = barSplit;
        } else {
            position->exitSplit = barSplit;
        }
    } else if (isEntry) {
        position->entrySplit = barSplit;
    } else {
        position->exitSplit = barSplit;
    }
    return b->date;
}

double SharesInTerms(const PositionRecord *p, double split)
{
    const double own = p->entrySplit != 0 ? p->entrySplit : 1.0;
    if (split == 0 || split == own) return p->quantity;
    const double shares = p->quantity * own / split;
    const double counted = RoundToStep(shares, 0.001, 0);
    return std::fabs(counted - shares) <= 1e-9 * std::fmax(1.0, shares) ? counted : shares;
}

double SharesOfPart(const PositionRecord *p, double split, double part)
{
    const double held = SharesInTerms(p, split), step = p->quantityStep;
    if (step > 0) part = RoundToStep(part, step, 0);
    return held < part + (step > 0 ? step : 0.001) ? held : part;
}

double SharesAnExitSells(const PositionRecord *p, double split, double part, int32_t reason)
{
    return reason == EXIT_ZERO_POSITION ? SharesInTerms(p, split) : SharesOfPart(p, split, part);
}

void RemoveClosedPositions(int32_t strategyIndex)
{
    StrategyRecord *strategy = StrategyByNumber(strategyIndex + 1);
    if (!strategy || !strategy->openPositions) return;
    int32_t kept = 0;
    for (int32_t k = 0; k < strategy->openCount; k++) {
        PositionRecord *p = &strategy->openPositions[k];
        if ((int32_t)p->partialExits < 0) p->partialExits = (uint32_t)(-(int32_t)p->partialExits);
        if (p->entryBar == -1) continue;
        if (kept != k) memmove(&strategy->openPositions[kept], p, sizeof *p);
        kept++;
    }
    if (kept < strategy->openCount)
        memset(&strategy->openPositions[kept], 0, (size_t)(strategy->openCount - kept) * sizeof(PositionRecord));
    strategy->openCount = kept;
}
