/* exit_pass.cpp -- exits of open positions. */
#include "engine/exit_pass.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/date_loop.h"
#include "engine/entry_pass.h"
#include "engine/fills.h"
#include "engine/position_book.h"
#include "engine/sizing.h"
#include "engine/stops.h"
#include "engine/trace.h"
#include "engine/trade_list.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/derived_bars.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"

/* ---- one position ------------------------------------------------------------------------- */

/* The position follows its trade-list row rather than the strategy's rules. */
static bool GovernedByTradeList(const EvalContext *context, const PositionRecord *p)
{
    const StrategyRecord *r = context->strategy;
    if (r->tradeListRowCount <= 0 || p->tradeListRow <= 0) return false;
    if (gRun.generatingOrders) return true;
    return r->TLEndDate >= 1 && context->date <= r->TLEndDate;
}

/* The strategy's rules decide the exit rather than the position's row. */
static bool RulesApply(const EvalContext *context, const PositionRecord *p, bool governed)
{
    const StrategyRecord *r = context->strategy;
    if (!IsTradeListActive(context->strategyIndex) || p->tradeListRow <= 0) return true;
    bool ownRules = IsSlotGiven(&r->slots[SLOT_EXIT_RULE]) || IsSlotGiven(&r->slots[SLOT_EXIT_LIMIT]) ||
        IsSlotGiven(&r->slots[SLOT_EXIT_STOP]);
    return !governed && ownRules;
}

/* The bar at index of the context symbol's bars of the context's bar size. */
static const Bar *ContextBar(const EvalContext *context, int32_t index)
{
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
    if (!bars || index < 0 || index >= count) return nullptr;
    return &bars[index];
}

/* Points the context's bar indexes at bar (of the context's bar size). */
static void SetContextBar(EvalContext *context, const Bar *bar)
{
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
    int32_t i = bars && bar ? (int32_t)(bar - bars) : -1;
    context->barIndex = i;
    context->lastBar = context->barPhase < PHASE_CLOSE ? i - 1 : i;
}

/* SyncContextBar for the position's symbol; in a daily test its day cursor
** stands on the bar the search would find. */
static const Bar *SyncPositionBar(EvalContext *context)
{
    DayCursor *cursor = context->barSize == BAR_DAILY ? PositionDayCursor(context->symbol) : nullptr;
    if (!cursor) return SyncContextBar(context);
    Bar *bar = nullptr;
    int32_t i = StepDailyBar(context->symbol, cursor, context->date, context->slot, &bar);
    if (i < 0) return nullptr;
    context->barIndex = i;
    context->lastBar = context->barPhase < PHASE_CLOSE ? i - 1 : i;
    return bar;
}

/* Evaluates the exit rule as text into the label: 1 when it gives an exit. */
static int ExitRuleFires(EvalContext *context, PositionRecord *p)
{
    FormulaSlot *rule = &context->strategy->slots[SLOT_EXIT_RULE];
    LogDebugItem(context, SLOT_DEBUG_EXIT);
    /* The rule compares the position's prices with the bar's it stands on. */
    return EvalInBarTerms(rule, context, nullptr, p->label, POSITION_TEXT_SIZE) && p->label[0] != 0;
}

const Bar *OpenFillDay(const EvalContext *context, const Bar *bar)
{
    if (context->barSize == BAR_DAILY) return bar;
    /* The period opens for the symbol on its own first day in it, which need
    ** not be the market's: an order at the open fills there, in its terms. */
    int32_t count = 0;
    const Bar *days = GetBarArray(context->symbol, BAR_DAILY, &count);
    if (!days || count <= 0) return bar;
    const int32_t first = GetPeriodFirstDate(bar->date, 1, context->barSize);
    const Bar *day = std::lower_bound(days, days + count, first, [](const Bar &b, int32_t date) { return b.date < date; });
    if (day == days + count || day->date > bar->date) return bar;
    NoteDailyBarFound(context->symbol, context->slot, (int32_t)(day - days));
    return day;
}

/* The high and low the position saw on the bar, in its entry's split terms:
** on its entry bar as far as the entry lets it see (entryBar), and as far as
** an exit by reason on the bar does. */
static void UpdateExtremes(PositionRecord *p, const Bar *bar, uint32_t reason, bool entryBar)
{
    double r = bar->split != 0 && p->entrySplit != 0 ? p->entrySplit / bar->split : 1.0;
    double high = r * bar->high, low = r * bar->low;
    if (entryBar) {
        /* The entry price is in the entry's own terms already. */
        double entry = p->entryPrice, close = r * bar->close;
        if (p->entryTiming == PHASE_CLOSE) {
            high = std::fmax(entry, close);
            low = std::fmin(entry, close);
        } else if (p->entryTiming == PHASE_INTRADAY && p->triggerDirection > 0) {
            low = std::fmin(entry, close);
        } else if (p->entryTiming == PHASE_INTRADAY && p->triggerDirection < 0) {
            high = std::fmax(entry, close);
        }
    }
    if (reason != EXIT_NONE) {
        /* The exit's price is in the terms of the day it fills on. */
        double exit = p->exitSplit != 0 && p->entrySplit != 0 ? p->exitPrice * p->entrySplit / p->exitSplit : r * p->exitPrice;
        bool limit = reason == EXIT_LIMIT, stop = reason == EXIT_STOP;
        if (reason == EXIT_TRADE_LIST && p->exitTiming == PHASE_INTRADAY) {
            /* A row says only the price it left at: its order stood on the
            ** side of the day's open that price lies on (a long's stop below
            ** it, its target above), as a target or stop of the rules does. */
            const int c = CompareDoubleApprox(exit, r * bar->open);
            limit = c * p->side > 0;
            stop = c * p->side < 0;
        }
        if (p->exitTiming == PHASE_OPEN) {
            high = low = exit;
        } else if (p->exitTiming == PHASE_INTRADAY && (limit || stop)) {
            bool capHigh = (limit && p->side > 0) || (stop && p->side < 0);
            if (capHigh)
                high = std::fmin(high, exit);
            else
                low = std::fmax(low, exit);
        }
    }
    if (CompareDoubleApprox(high, p->highest) > 0) p->highest = high;
    if (CompareDoubleApprox(low, p->lowest) < 0) p->lowest = low;
}

/* The part of a longer bar's period that lies on or before date and not
** before from, built from the symbol's daily bars as the longer bars are.
** A position passes its entry date as from: the days of its entry's period
** before it are none of its business.  0 when the symbol has no daily bar in
** that part. */
static int PeriodBarThrough(SymbolRecord *symbol, int32_t barSize, int32_t date, int32_t from, Bar *out)
{
    int32_t count = 0;
    const Bar *daily = GetBarArray(symbol, BAR_DAILY, &count);
    const Bar *last = GetBarOnOrBefore(symbol, date, BAR_DAILY);
    const int32_t first = GetPeriodFirstDate(date, 1, barSize);
    if (!daily || !last || last->date < first) return 0;
    return BuildPeriodBarThrough(symbol, barSize, (int32_t)(last - daily), out, from > first ? from : first);
}

/* The high and low a position of a longer bar size saw in the period of its
** bar from the period's first day (or its entry's) through the day given:
** its entry's day as far as the entry let it see, and, for an exit by
** reason, the exit's day (through) as far as the exit did.  Each day's
** prices are in that day's terms, whatever a split later in the period
** makes of the period's bar. */
static void SeePeriodDays(const EvalContext *context, PositionRecord *p, const Bar *bar, int32_t through, uint32_t reason)
{
    SymbolRecord *symbol = p->symbol;
    int32_t count = 0;
    const Bar *days = GetBarArray(symbol, BAR_DAILY, &count);
    const Bar *last = GetBarOnOrBefore(symbol, through, BAR_DAILY);
    int32_t first = GetPeriodFirstDate(bar->date, 1, context->barSize);
    if (!days || !last || last->date < first) return;
    Bar part;
    if (p->entryDate >= first && p->entryDate <= last->date) {
        if (PeriodBarThrough(symbol, context->barSize, p->entryDate, p->entryDate, &part) && part.date == p->entryDate)
            UpdateExtremes(p, &part, p->entryDate == last->date ? reason : (uint32_t)EXIT_NONE, true);
        if (p->entryDate == last->date) return;
        first = p->entryDate + 1; /* a bound: the next day with a bar */
    }
    if (reason != EXIT_NONE) {
        if (last > days && last[-1].date >= first && PeriodBarThrough(symbol, context->barSize, last[-1].date, first, &part))
            UpdateExtremes(p, &part, EXIT_NONE, false);
        first = last->date;
    }
    if (PeriodBarThrough(symbol, context->barSize, last->date, first, &part)) UpdateExtremes(p, &part, reason, false);
}

/* The close of the bar before bar, in bar's split terms; bar's open when
** there is none. */
static double PreviousClose(const Bar *before, const Bar *bar)
{
    if (!before) return bar->open;
    return before->split != 0 && bar->split != 0 ? before->close * bar->split / before->split : before->close;
}

/* The fill search reads the chosen order's price in the split terms of the
** exit's price (the bar it was chosen on); the position keeps it in the
** terms it was worked out in until then.  ratio takes it there. */
static void TakeOrderPriceToExitTerms(PositionRecord *p, double ratio)
{
    if (p->exitReason == EXIT_LIMIT) p->limitPrice *= ratio;
    if (p->exitReason == EXIT_STOP) p->stopPrice *= ratio;
}

/* Splits off what stays open of a partial exit of q shares in the split
** terms of the exit's price; 0 when the exit is cancelled.  *p is refreshed,
** since the open-position array may move. */
static int SplitPartialExit(EvalContext *context, PositionRecord **pp, const Bar *bar, double q, int32_t forced)
{
    StrategyRecord *r = context->strategy;
    PositionRecord *p = *pp;
    double barSplit = p->exitSplit != 0 ? p->exitSplit : 1.0;
    double entrySplit = p->entrySplit != 0 ? p->entrySplit : 1.0;
    /* The shares sold as the orders count them: a lot a split left a hair
    ** short of whole shares is that many shares, not fewer. */
    q = SharesAnExitSells(p, barSplit, q, forced);
    double exitQuantity;
    if (q >= SharesInTerms(p, barSplit))
        exitQuantity = p->quantity;
    else
        exitQuantity = q * barSplit / entrySplit;
    /* Taken to the other split terms and back, the whole may come out a hair
    ** short of itself: that leaves nothing open. */
    if (CompareDouble(exitQuantity, p->quantity) >= 0) exitQuantity = p->quantity;
    if (exitQuantity <= 0) {
        p->exitBar = -1;
        p->exitRank = 0;
        p->exitTiming = 0;
        p->exitReason = 0;
        return 0;
    }
    if (forced == EXIT_REDUCE || forced == EXIT_ZERO_POSITION)
        RemoveSetupValueFromPending(context->strategyIndex,
                                    q * bar->close * (bar->split != 0 ? barSplit / bar->split : 1.0));
    if (exitQuantity >= p->quantity) return 1;
    int32_t index = (int32_t)(p - r->openPositions);
    double keep = 1 - exitQuantity / p->quantity, part = exitQuantity / p->quantity;
    PositionRecord remainder = *p;
    remainder.exitBar = -1;
    remainder.exitTiming = 0;
    remainder.exitReason = 0;
    remainder.exitRank = 0;
    remainder.partialExits++;
    remainder.quantity = p->quantity - exitQuantity;
    remainder.value *= keep;
    remainder.entryValue *= keep;
    remainder.fraction *= keep;
    remainder.dividends *= keep;
    /* The entry commission (and the entry slippage, which each trade
    ** reports) is shared by the parts like the entry value, so the trades'
    ** profits add up to what the equity gained; the parts sum to the whole
    ** exactly. */
    double exitingCommission = p->entryCommission * part;
    remainder.entryCommission = p->entryCommission - exitingCommission;
    double exitingSlippage = p->entrySlippage * part;
    remainder.entrySlippage = p->entrySlippage - exitingSlippage;
    remainder.exitPrice = 0;
    remainder.label[0] = 0;
    if (p->fillDay) remainder.periodExitDay = p->fillDay;
    remainder.fillDay = 0;
    context->position = &remainder;
    PositionRecord *added = AddPosition(context);
    p = &r->openPositions[index];
    context->position = p;
    *pp = p;
    if (!added) return 1; /* no room for the remainder: the whole position exits */
    p->quantity = exitQuantity;
    p->partial = 1;
    p->value *= part;
    p->entryValue *= part;
    p->fraction *= part;
    p->dividends *= part;
    p->entryCommission = exitingCommission;
    p->entrySlippage = exitingSlippage;
    context->remainderIndex = r->openCount - 1;
    return 1;
}

static int CheckExit(EvalContext *context, int32_t forced);

/* The target and stop the days of a longer bar's period worked out become
** the position's own, for the next period's PrevExitLimit and PrevExitStop. */
static void TakePeriodOrders(PositionRecord *p)
{
    p->limitPrice = p->periodLimit;
    p->stopPrice = p->periodStop;
    p->limitSplit = p->periodLimitSplit;
    p->stopSplit = p->periodStopSplit;
    p->ordersPeriod = 0;
}

int CheckPositionExit(EvalContext *context, int32_t forced, const PeriodDays *days)
{
    PositionRecord *p = context->position;
    if (!days || !days->dayByDay || !p) return CheckExit(context, forced);
    /* A daily run works out the orders of the strategy's last bar again on
    ** each day of the period, and PrevExitLimit and PrevExitStop must read
    ** the same prices on every day: those of the period before, as in a run
    ** of the strategy's own bar size.  So inside the period a position keeps
    ** those, and the prices the days worked out become its own when the
    ** period ends: on its bar date, or at the next period's first check when
    ** the symbol did not trade on the period's last days.  What a partial
    ** exit left keeps the prices of the day it split off on, as in a run of
    ** the strategy's bar size, and waits for the next period's orders. */
    const int32_t first = GetPeriodFirstDate(context->date, 1, context->barSize);
    if (p->ordersPeriod > 0 && p->ordersPeriod < first) TakePeriodOrders(p);
    const double limit = p->limitPrice, stop = p->stopPrice, limitSplit = p->limitSplit, stopSplit = p->stopSplit;
    int due = CheckExit(context, forced);
    p = context->position;
    if (!due && p) {
        if (days->midPeriod) {
            p->limitPrice = limit;
            p->stopPrice = stop;
            p->limitSplit = limitSplit;
            p->stopSplit = stopSplit;
        } else if (p->ordersPeriod == first) {
            TakePeriodOrders(p);
        }
    }
    return due;
}

/* The daily bar a close-timed exit of bar fills on: for a longer bar size
** the context date's, or the last day before it that the symbol traded
** (a period's bar closes on its last day, and a reduction decided at the
** open of a period for a strategy that enters at the next close fills at the
** close of its first day, as the strategy's entries do); bar itself for a
** daily one, or when the symbol has no day of bar's period by then. */
static const Bar *CloseFillDay(const EvalContext *context, const Bar *bar)
{
    if (context->barSize == BAR_DAILY) return bar;
    const Bar *day = GetBarOnOrBefore(context->symbol, context->date < bar->date ? context->date : bar->date, BAR_DAILY);
    if (!day || day->date < GetPeriodFirstDate(bar->date, 1, context->barSize)) return bar;
    return day;
}

/* A longer bar's target or stop of the intraday timing is judged day by day,
** as the days of its period come: on each day from the position's entry on,
** in that day's split terms and by that day's prices alone, as a daily
** strategy's orders are, with the prices worked out on the bar before the
** period.  A run judges the days since its date before (those before them
** were judged on their own dates): a daily run the context date alone, a run
** of the strategy's bar size the days of bar's period, in turn, up to the
** first that fills.  The prices the orders come to are kept as the
** period's too, for a daily run to take at the period's end (see
** CheckPositionExit).  What a partial exit in the period left waits for the
** next period's orders.  The reason of the exit chosen, with *day the day it
** fills on and *ratio the factor that takes its order's price into that
** day's terms; EXIT_NONE when no day fills. */
static uint32_t JudgeDaysOfPeriod(EvalContext *context, const Bar *bar, const Bar **day, double *ratio)
{
    PositionRecord *p = context->position;
    SymbolRecord *symbol = p->symbol;
    *day = nullptr;
    const int32_t first = GetPeriodFirstDate(bar->date, 1, context->barSize);
    if (p->periodExitDay >= first) return EXIT_NONE;
    const int32_t before = OffsetTradingDate(&gStore.dateLists[gSettings.BarSize2], context->date, -1);
    int32_t from = before > 0 && before >= first ? before + 1 : first; /* a bound: the next day with a bar */
    int32_t through = context->date;
    if (gSettings.LastDate > 0 && through > gSettings.LastDate) through = gSettings.LastDate;
    if (from < p->entryDate) from = p->entryDate;
    /* A position entered at a close was none during that day: its orders
    ** are first judged on the next. */
    if (p->entryTiming >= PHASE_CLOSE && from <= p->entryDate) from = p->entryDate + 1; /* a bound, as above */
    int32_t count = 0;
    const Bar *days = GetBarArray(symbol, BAR_DAILY, &count);
    const Bar *last = GetBarOnOrBefore(symbol, through, BAR_DAILY);
    if (!days || !last || last->date < from) return EXIT_NONE;
    int32_t k = (int32_t)(last - days);
    while (k > 0 && days[k - 1].date >= from) k--;
    ExitOrders orders;
    bool evaluated = false;
    for (; k < count && days[k].date <= through; k++) {
        const Bar *b = &days[k];
        if (IsDeadBar(context, b, b->date)) continue;
        const bool entered = b->date == p->entryDate;
        if (!evaluated && !EvalExitOrders(context, &orders, false, 0)) return EXIT_NONE;
        evaluated = true;
        p->exitReason = EXIT_NONE;
        *ratio = JudgeExitOrders(context, &orders, b, PreviousClose(k > 0 ? &days[k - 1] : nullptr, b), entered, 0);
        p->ordersPeriod = first;
        p->periodLimit = p->limitPrice;
        p->periodStop = p->stopPrice;
        p->periodLimitSplit = p->limitSplit;
        p->periodStopSplit = p->stopSplit;
        if (p->exitReason != EXIT_NONE) {
            *day = b;
            return p->exitReason;
        }
    }
    return EXIT_NONE;
}

/* A strategy that enters and exits at the next close without a target or
** stop decides its exit rule at the open, before its entries, and fills it
** at the close of the bar it opens.  A longer bar in a daily run opens its
** period days before the close its exit fills at: there the rule is decided
** at the period's close, as any exit rule for the next close is, and no day
** of the period sees the position gone before it has left. */
bool DecidesNextCloseAtOpen(const StrategyRecord *r)
{
    return r->nextCloseOnly == 1 && r->BarSize <= gSettings.BarSize2;
}

/* The last date of the data a strategy's test runs on: the run's, or its
** calendar symbol's. */
static int32_t DataEndOf(const StrategyRecord *r)
{
    if (r->CalendarSym > 0 && r->CalendarSym <= gStore.symbolCount) return gStore.symbols[r->CalendarSym - 1].lastDate;
    return gSettings.LastDate;
}

/* A run of a longer bar size whose EndDate lies after its last row knows
** the days up to that date: a symbol that did not trade on the last of
** them, though the market did, has seen its data end there, as in the data
** cut at the EndDate and in a daily run. */
static bool DataEndBeforeTheEndDate(SymbolRecord *symbol, int32_t lastRow)
{
    const int32_t end = gEngineRun.endDate;
    if (end <= gSettings.LastDate) return false;
    /* (A symbol that traded after the last row is one the test left early.) */
    const Bar *last = GetBarOnOrBefore(symbol, end, BAR_DAILY);
    if (!last || last->date > lastRow) return false;
    const int32_t next = OffsetTradingDate(&gStore.dateLists[BAR_DAILY], last->date, 1);
    return next > last->date && next <= end;
}

static int CheckExit(EvalContext *context, int32_t forced)
{
    PositionRecord *p = context->position;
    StrategyRecord *r = context->strategy;
    if (!p || !r || p->entryBar == -1) return 0;
    if (!forced && p->exitReason != EXIT_NONE) return 0;
    SymbolRecord *symbol = p->symbol;
    context->symbol = symbol;
    int32_t phase = context->barPhase;
    p->exitDate = context->date;
    p->fillDay = 0;
    bool governed = GovernedByTradeList(context, p);
    const int32_t dataEnd = DataEndOf(r);
    uint32_t reason = EXIT_NONE;
    const Bar *bar = nullptr;
    if (phase == PHASE_CLOSE && context->date < dataEnd && symbol->lastDate < context->date) {
        /* The symbol's data ended before the date: it leaves at its last bar. */
        bar = GetBarOnOrBefore(symbol, symbol->lastDate, context->barSize);
        if (bar) {
            SetContextBar(context, bar);
            if (!governed || (symbol->info.DelistDate > 0 && symbol->info.DelistDate <= bar->date)) {
                p->exitDate = bar->date;
                reason = EXIT_END_OF_DATA;
            }
        }
    }
    Bar partial;
    if (!bar) {
        bar = SyncPositionBar(context);
        if (!bar) {
            if (forced != EXIT_END_OF_TEST) return 0;
            bar = GetBarOnOrBefore(symbol, context->date, context->barSize);
            if (!bar) return 0;
            SetContextBar(context, bar);
            p->exitDate = bar->date;
        }
        if (phase == PHASE_CLOSE &&
            (symbol->lastDate < dataEnd || (forced == EXIT_END_OF_TEST && DataEndBeforeTheEndDate(symbol, context->date))) &&
            symbol->lastDate <= bar->date && !governed) {
            /* The symbol's last bar is complete, though a longer one's date
            ** may lie before the context date: the exit is on that bar, as
            ** when its data end before the date.  (A run that ends before
            ** its data holds the symbol's last date at its last session up
            ** to the end: a longer bar whose date lies after it ends there,
            ** as in the data cut at the end.) */
            SetContextBar(context, bar);
            reason = EXIT_END_OF_DATA;
        }
    }
    /* A test that ends inside a period of the strategy's bar size leaves at
    ** the close of its last date: the period's bar holds days after it.  Its
    ** bar index is that period's own, as when the data end on that date. */
    int32_t periodBar = -1;
    if (forced == EXIT_END_OF_TEST && context->barSize != BAR_DAILY && bar->date > context->date &&
        PeriodBarThrough(symbol, context->barSize, context->date, p->entryDate, &partial)) {
        int32_t count = 0;
        const Bar *bars = GetBarArray(symbol, context->barSize, &count);
        if (bars && bar >= bars && bar < bars + count) periodBar = (int32_t)(bar - bars);
        bar = &partial;
    }
    /* A position that entered on a later day of its longer bar's period saw
    ** only the days from its entry on: a high or low of the days before is
    ** no price it could have left at, nor one it went through. */
    Bar fromEntry;
    if (periodBar < 0 && context->barSize != BAR_DAILY && p->entryDate <= bar->date &&
        p->entryDate > GetPeriodFirstDate(bar->date, 1, context->barSize) &&
        PeriodBarThrough(symbol, context->barSize, bar->date, p->entryDate, &fromEntry))
        bar = &fromEntry;
    p->exitPrice = 0;
    double orderRatio = 1.0;
    const Bar *fillDay = nullptr; /* the day a longer bar's target or stop was judged to fill on */
    /* A symbol whose data ended before the test's last date leaves by its
    ** end of data at the test's end too, as at the close of its period's bar
    ** date, which for a longer bar size may lie after the test's end. */
    if (forced && !(forced == EXIT_END_OF_TEST && reason == EXIT_END_OF_DATA)) {
        reason = (uint32_t)forced;
        p->exitTiming = phase == PHASE_OPEN && r->nextCloseOnly != 1 ? PHASE_OPEN : phase == PHASE_OPEN ? PHASE_CLOSE
                                                                                                        : phase;
    } else if (reason == EXIT_END_OF_DATA) {
        p->exitTiming = PHASE_CLOSE;
    } else if (!RulesApply(context, p, governed)) {
        /* The position leaves on its row's exit date, at the row's price and fees. */
        const TradeListRow *row = TradeListRowAt(r, p->tradeListRow);
        if (row && row->quantityOut != 0 && CompareTradeListPeriods(r, row->exitDate, context->date) == 0 &&
            (row->exitTime == 0 || row->exitTime > PHASE_CLOSE || row->exitTime == phase)) {
            reason = EXIT_TRADE_LIST;
            p->exitDate = row->exitDate;
            p->exitTiming = TradeListTimePhase(row->exitTime);
            p->exitPrice = row->priceOut;
            p->exitCommission = TradeListFees(row, row->feesOut, GetCurrencyFactor(context, 0));
            p->exitTradeValue = row->valueOut;
            CopyString(p->label, sizeof p->label, row->reason, -1);
        } else {
            const Bar *before = ContextBar(context, context->barIndex - 1);
            ResolveIntradayOrder(context, bar, PreviousClose(before, bar), 1);
            reason = p->exitReason;
        }
    } else {
        const Bar *previous = ContextBar(context, context->lastBar);
        if (phase < PHASE_CLOSE && r->AllowMissingBar != 1 && (!previous || previous->date != context->signalDate))
            return 0;
        if (context->barSize != BAR_DAILY && phase == PHASE_INTRADAY && !governed) {
            /* Only intraday orders are checked then, day by day. */
            reason = JudgeDaysOfPeriod(context, bar, &fillDay, &orderRatio);
            if (fillDay) {
                p->fillDay = fillDay->date;
                p->exitDate = fillDay->date;
            }
        } else {
            if (IsDeadBar(context, bar, bar->date)) return 0;
            bool hasRule = IsSlotGiven(&r->slots[SLOT_EXIT_RULE]);
            const bool early = DecidesNextCloseAtOpen(r);
            if (phase == PHASE_OPEN && hasRule && (r->ExitTime == TIME_NEXT_OPEN || early)) {
                if (ExitRuleFires(context, p)) {
                    reason = EXIT_RULE;
                    p->exitTiming = early ? PHASE_CLOSE : PHASE_OPEN;
                }
            } else if (phase == PHASE_CLOSE && hasRule &&
                       (r->ExitTime == TIME_THIS_CLOSE || (r->ExitTime == TIME_NEXT_CLOSE && !early))) {
                bool fires = false;
                if (r->ExitTime == TIME_NEXT_CLOSE) {
                    int32_t barIndex = context->barIndex, lastBar = context->lastBar;
                    context->barPhase = PHASE_INTRADAY;
                    const Bar *synced = SyncPositionBar(context);
                    if (synced && synced->date == context->date) fires = ExitRuleFires(context, p);
                    context->barPhase = phase;
                    context->barIndex = barIndex;
                    context->lastBar = lastBar;
                } else if (bar->date == context->date) {
                    fires = ExitRuleFires(context, p);
                }
                if (fires) {
                    reason = EXIT_RULE;
                    p->exitTiming = PHASE_CLOSE;
                }
            }
            if (reason == EXIT_NONE) {
                const Bar *before = ContextBar(context, context->barIndex - 1);
                orderRatio = ResolveIntradayOrder(context, bar, PreviousClose(before, bar), governed);
                reason = p->exitReason;
            }
        }
    }
    /* The split terms of the exit's price: the bar's, or those of the day an
    ** exit of a longer bar fills on, whose factor is not the period bar's
    ** when a split comes later in the period.  A target or stop judged on a
    ** day has that day's price.  A target or stop that the period's open was
    ** already through, or one for the next open, leaves at the open of the
    ** period's first day like an exit rule: it is a market order by then,
    ** priced as it traded that day.  An exit at a close fills at the close
    ** of its day, and is dated on it. */
    p->exitSplit = bar->split;
    const Bar *exitDay = fillDay;
    if (reason != EXIT_NONE && reason != EXIT_TRADE_LIST && !fillDay) {
        if (p->exitTiming == PHASE_OPEN) {
            exitDay = OpenFillDay(context, bar);
            p->exitPrice = exitDay->open;
        } else if (p->exitTiming == PHASE_CLOSE) {
            exitDay = CloseFillDay(context, bar);
            if (reason != EXIT_LIMIT && reason != EXIT_STOP) p->exitPrice = exitDay->close;
            if (exitDay != bar) p->exitDate = exitDay->date;
        } else if (reason != EXIT_LIMIT && reason != EXIT_STOP) {
            p->exitPrice = bar->close;
        }
    }
    if (exitDay && exitDay->split != 0) p->exitSplit = exitDay->split;
    p->exitReason = reason;
    if (reason == EXIT_NONE && phase != PHASE_CLOSE) return 0;
    if (context->barSize == BAR_DAILY) {
        const int32_t lastBar = context->lastBar;
        UpdateExtremes(p, bar, reason, phase < PHASE_CLOSE ? lastBar == p->entryBar - 1 : lastBar == p->entryBar);
    } else {
        /* What the position saw ends with the day it leaves on. */
        int32_t through = exitDay ? exitDay->date : bar->date;
        if (!exitDay && reason != EXIT_NONE && p->exitDate < through) through = p->exitDate;
        SeePeriodDays(context, p, bar, through, reason);
    }
    if (reason == EXIT_NONE) return 0;
    p->exitBar = periodBar >= 0 ? periodBar : phase < PHASE_CLOSE ? context->lastBar + 1 : context->lastBar;
    /* The exit's money and quantities are worked out on the day it fills. */
    const int32_t date = context->date;
    if (fillDay) context->date = fillDay->date;
    p->exitFx = GetCurrencyFactor(context, 0);
    bool partialRule = false;
    double q = 0;
    if (forced == EXIT_REDUCE || forced == EXIT_ZERO_POSITION) {
        q = p->exitQuantityRequest;
        partialRule = true;
    } else if ((!forced || forced == EXIT_RULE || forced == EXIT_LIMIT || forced == EXIT_STOP) && !governed &&
               reason != EXIT_END_OF_DATA) {
        /* (A symbol whose data ended leaves whole: no later bar could take
        ** what a part of it left.)  The orders take a target or stop that
        ** the last close reached out at the open in its own part, as the
        ** next day's test does. */
        int32_t slot = reason == EXIT_LIMIT ? SLOT_EXIT_LIMIT_QTY : reason == EXIT_STOP ? SLOT_EXIT_STOP_QTY
                                                                                        : SLOT_EXIT_QTY;
        FormulaSlot *f = &r->slots[slot];
        if (IsSlotGiven(f)) {
            partialRule = true;
            if (!EvalFormulaSlot(f, context, &q)) q = 0;
        }
    }
    int due = 1;
    if (partialRule && !SplitPartialExit(context, &p, bar, q, forced)) due = 0;
    if (due) {
        /* The fill search later tests the target or stop itself, so the
        ** slippage taken here stays a cost on whatever price the bar fills at. */
        if (!(governed && !forced && p->exitReason == EXIT_TRADE_LIST)) {
            ApplySlippage(context, p, 0);
            ApplyCommission(context, p, 0);
        }
        FormulaSlot *tradeValue = &r->slots[SLOT_EXIT_TRADE_VALUE];
        if (IsSlotGiven(tradeValue)) EvalFormulaSlot(tradeValue, context, &p->exitTradeValue);
        TakeOrderPriceToExitTerms(p, orderRatio);
    }
    context->date = date;
    return due ? (int)p->exitReason : 0;
}

int ExecutePositionExit(EvalContext *context)
{
    PositionRecord *p = context->position;
    StrategyRecord *r = context->strategy;
    TestRecord *test = context->test;
    if (!p || !r || p->exitReason == EXIT_NONE) return 0;
    /* A target or stop judged on its day fills there. */
    if (p->exitReason != EXIT_TRADE_LIST && p->fillDay == 0) {
        int32_t date = FindExecutionBar(context, p, 0);
        if (date >= 0) p->exitDate = date;
    }
    if (p->exitReason != EXIT_TRADE_LIST) KeepFillInsideDay(p, 0);
    if (p->exitWaitsFor != 0 && gPositionState.exitsWaiting > 0) gPositionState.exitsWaiting--;
    const double owed = CreditDividendsOwedAtExit(context);
    TradeRecord scratch{};
    TradeRecord *t = &scratch;
    if (r->keepTrades && test) {
        t = AddTrade(test);
        if (!t) return 0;
    }
    SymbolRecord *symbol = p->symbol;
    CopyString(t->symbol, sizeof t->symbol, symbol->info.Symbol, -1);
    t->fraction = p->fraction;
    t->pointValue = symbol->info.PointValue;
    t->side = p->side;
    t->strategy = p->strategyIndex;
    t->symbolNumber = SymbolNumberOf(symbol);
    t->securityType = symbol->securityType;
    t->dateIn = p->entryDate;
    t->timeIn = p->entryTiming;
    t->quantityIn = p->quantity;
    t->priceIn = p->entryPrice;
    t->splitIn = p->entrySplit;
    t->roundingIn = p->entryRounding;
    t->fxIn = p->entryFx;
    t->valueIn = p->entryTradeValue;
    t->dateOut = p->exitDate < symbol->lastDate ? p->exitDate : symbol->lastDate;
    t->timeOut = p->exitTiming;
    t->quantityOut = p->quantity;
    /* The shares sold are all the shares held, in the exit's terms: never a
    ** count short of a real part of a share, which the trade's profit and the
    ** account would lose. */
    if (p->entrySplit != p->exitSplit && p->exitSplit != 0) t->quantityOut = SharesInTerms(p, p->exitSplit);
    t->priceOut = p->exitPrice;
    t->splitOut = p->exitSplit;
    t->roundingOut = p->exitRounding;
    t->fxOut = p->exitFx;
    t->valueOut = p->exitTradeValue;
    t->reason = (int32_t)p->exitReason;
    t->bars = p->exitBar - p->entryBar > 0 ? p->exitBar - p->entryBar : 0;
    t->highest = p->highest;
    t->lowest = p->lowest;
    t->commissionIn = p->entryCommission;
    t->slippageIn = p->entrySlippage;
    t->commissionOut = p->exitCommission;
    t->slippageOut = p->exitSlippage;
    t->dividends = p->dividends;
    t->rollCosts = p->rollCosts;
    t->commissionCurrency = gScriptSettings.CommCurrency;
    if (!IsNumberText(p->label, 1, 1)) CopyString(t->reasonText, sizeof t->reasonText, p->label, -1);
    int32_t *held = r->DynamicSizing == 1 ? GetHeldCount(context->strategyIndex, symbol) : nullptr;
    p->heldCount = held ? *held : 0;
    if (held && !p->partial && *held > 0) --*held;
    BookPositionExit(context, t, owed);
    if (gSettings.AddLog && r->keepTrades) LogEntryExit(context, TRACE_EXIT, t);
    if (test) test->closedTradeCount++;
    gPositionState.exitCount++;
    memset(p, 0, sizeof *p);
    p->entryBar = -1;
    p->exitBar = -1;
    return 1;
}

/* An exit at the open of a longer bar's period fills on the symbol's first
** day in it, which need not be the first day an entry at the same open fills
** on: the run's date in a daily run, the first market day of its period in a
** run of a longer bar size.  Either run keeps the position, its value and its
** place on the account past the entries of that open, as a shorter run books
** an entry on its fill day; ExecuteWaitingExits lets it go at the first exit
** pass on or after its day (in a run of the period's own bar size, the same
** row's next one).  (A part leaving beside a remainder goes at once.) */
static bool WaitsForItsExitDay(EvalContext *context, PositionRecord *p, int32_t forced)
{
    if (forced || gRun.generatingOrders || context->remainderIndex != 0 || context->barSize == BAR_DAILY ||
        p->exitTiming != PHASE_OPEN || p->exitReason == EXIT_TRADE_LIST || p->fillDay != 0)
        return false;
    const int32_t date = FindExecutionBar(context, p, 0);
    if (date <= GetPeriodFirstDate(context->date, 1, gSettings.BarSize2)) return false;
    p->exitDate = p->fillDay = p->exitWaitsFor = date;
    gPositionState.exitsWaiting++;
    return true;
}

static void ExecuteWaitingExits(EvalContext *context)
{
    const int32_t barSize = context->barSize;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        bool any = false;
        for (int32_t k = 0; k < r->openCount; k++) {
            PositionRecord *p = &r->openPositions[k];
            if (p->entryBar < 0 || p->exitWaitsFor == 0 || p->exitWaitsFor > context->date) continue;
            context->strategy = r;
            context->strategyIndex = s;
            context->barSize = r->BarSize;
            context->position = p;
            context->symbol = p->symbol;
            if (ExecutePositionExit(context)) any = true;
        }
        if (any) RemoveClosedPositions(s);
    }
    context->barSize = barSize;
}

int ProcessPositionExit(EvalContext *context, int32_t index, int32_t forced, const PeriodDays *days)
{
    StrategyRecord *r = context->strategy;
    if (!r || index < 0 || index >= r->openCount) return 0;
    PositionRecord *p = &r->openPositions[index];
    context->position = p;
    context->remainderIndex = 0;
    int done = 0;
    if (CheckPositionExit(context, forced, days) && !WaitsForItsExitDay(context, p, forced)) done = ExecutePositionExit(context);
    int32_t remainder = context->remainderIndex;
    if (remainder > 0 && remainder < r->openCount) {
        if (done) {
            r->openPositions[index] = r->openPositions[remainder];
            r->openCount--;
        } else {
            /* The exit did not happen: the part that was to leave stays open
            ** beside the remainder, so no quantity is lost. */
            PositionRecord *p = &r->openPositions[index];
            p->exitReason = 0;
            p->exitBar = -1;
            p->exitTiming = 0;
            p->partial = 0;
        }
    }
    context->remainderIndex = 0;
    return done;
}

double QuantityInBarTerms(const PositionRecord *p, const Bar *bar)
{
    double barSplit = bar->split != 0 ? bar->split : 1.0;
    return (p->entrySplit != 0 ? p->entrySplit : 1.0) / barSplit * p->quantity;
}

int AskReductionPart(const PositionRecord *p, const Bar *bar, double held, double target, double *request,
                     double *sold)
{
    double c = QuantityInBarTerms(p, bar);
    c = p->side > 0 ? std::fmin(c, held - target) : std::fmin(c, target - held);
    *request = c;
    *sold = 0;
    if (target != 0 && c < p->quantityStep) return 0;
    /* The exit sells the part in whole steps, or the whole lot where less
    ** than a step would stay: the holding is what the trades leave, so the
    ** next lot (and any addition) is worked out from that, not from the part
    ** asked for. */
    *sold = SharesAnExitSells(p, bar->split != 0 ? bar->split : 1.0, c, target == 0 ? EXIT_ZERO_POSITION : EXIT_REDUCE);
    return 1;
}

double ReducePositionsToTarget(EvalContext *context, const Bar *bar, double target, void *orderContext)
{
    (void)orderContext;
    StrategyRecord *r = context->strategy;
    SymbolRecord *symbol = context->symbol;
    if (!r || !bar) return target;
    int32_t reason = target == 0 ? EXIT_ZERO_POSITION : EXIT_REDUCE;
    double held = 0;
    bool any = false;
    for (int32_t k = 0; k < r->openCount; k++) {
        const PositionRecord *p = &r->openPositions[k];
        if (p->symbol != symbol || p->entryBar < 0) continue;
        held += p->side * QuantityInBarTerms(p, bar);
        any = true;
    }
    if (!any) return target;
    bool exited = false;
    for (int32_t k = r->openCount - 1; k >= 0; k--) {
        PositionRecord *p = &r->openPositions[k];
        if (p->symbol != symbol || p->entryBar < 0) continue;
        double request = 0, sold = 0;
        if (!AskReductionPart(p, bar, held, target, &request, &sold)) continue;
        int32_t side = p->side;
        p->exitQuantityRequest = request;
        if (ProcessPositionExit(context, k, reason)) {
            held -= side * sold;
            exited = true;
        }
        context->symbol = symbol;
    }
    if (exited) RemoveClosedPositions(context->strategyIndex);
    return target - held;
}

/* ---- the pass ------------------------------------------------------------------------------ */

/* A position that its trade-list row takes out on the date: a run shorter
** than the strategy's bar size frees the account there, on the row's date,
** not at the end of the period. */
static bool RowExitsOn(const EvalContext *context, const PositionRecord *p)
{
    if (p->entryBar < 0 || RulesApply(context, p, GovernedByTradeList(context, p))) return false;
    const TradeListRow *row = TradeListRowAt(context->strategy, p->tradeListRow);
    return row && row->quantityOut != 0 && row->exitDate == context->date &&
        (row->exitTime == 0 || row->exitTime > PHASE_CLOSE || row->exitTime == context->barPhase);
}

/* A position whose symbol's data have ended by the date, before the test's:
** it leaves whole at its last close by "end of data", whatever bar size its
** strategy has.  A run shorter than the strategy's bar size frees the
** account there, on the symbol's last date or the first date after it,
** not at the end of the period, whose days after it the position never saw.
** A position that follows its trade-list row leaves on the row's dates. */
static bool DataEndedForPosition(const EvalContext *context, const PositionRecord *p)
{
    return p->entryBar >= 0 && p->symbol && p->symbol->lastDate <= context->date &&
        context->date < DataEndOf(context->strategy) && !GovernedByTradeList(context, p);
}

/* A strategy whose bar size is longer than the run's decides its exits on
** its own bar dates, but an intraday target or stop fills on whichever day
** of the period first reaches it.  So on the run's dates inside the period
** those orders are checked against the days so far, and a position leaves
** on its fill date: from then on it is neither valued nor invested, and its
** dividends end with it.  The orders were set on the strategy's last bar and
** do not change inside the period. */
static bool ChecksStopsInsidePeriod(const EvalContext *context, int32_t s)
{
    const StrategyRecord *r = &gStrategies[s];
    if (context->barPhase != PHASE_INTRADAY || r->BarSize <= gSettings.BarSize2 || IsTradeListActive(s)) return false;
    bool target = r->ExitLimitTime == TIME_INTRADAY && IsSlotGiven(&r->slots[SLOT_EXIT_LIMIT]);
    bool stop = r->ExitStopTime == TIME_INTRADAY && IsSlotGiven(&r->slots[SLOT_EXIT_STOP]);
    return target || stop;
}

int32_t RunExitPass(EvalContext *context, int32_t forced)
{
    MarkToMarketAll(context);
    if (!forced) ExecuteWaitingExits(context);
    int32_t date = context->date, phase = context->barPhase;
    int32_t exits = 0;
    for (int round = 1; round <= 2; round++) {
        int32_t excluded = round == 1 ? STRATEGY_KIND_STRATEGY : STRATEGY_KIND_BENCHMARK;
        for (int32_t s = 0; s < gStrategyCount; s++) {
            StrategyRecord *r = &gStrategies[s];
            if (r->kind == STRATEGY_KIND_STATS_GROUP || r->kind == excluded || r->openCount == 0) continue;
            context->strategy = r;
            context->strategyIndex = s;
            context->barSize = r->BarSize;
            if (r->CalendarSym > 0) ClampDateToSymbolBar(context);
            PeriodDays days{!forced && ChecksStopsInsidePeriod(context, s), false};
            /* Inside the period only positions whose data have ended, or that
            ** their rows take out, are checked. */
            bool endedOnly = false, rowsOnly = false;
            if (!forced && !IsBarDate(context, context->date)) {
                const bool shorterRun = !days.dayByDay && r->BarSize > gSettings.BarSize2;
                endedOnly = shorterRun && phase == PHASE_CLOSE;
                rowsOnly = shorterRun && IsTradeListActive(s);
                if (!days.dayByDay && !endedOnly && !rowsOnly) {
                    context->date = date;
                    continue;
                }
                days.midPeriod = true;
            }
            int32_t signal = GetSignalDate(context);
            if (signal == 0) {
                context->date = date;
                continue;
            }
            context->signalDate = signal;
            FormulaSlot *score = &r->slots[SLOT_EXIT_SCORE];
            if (IsSlotGiven(score) && !days.midPeriod) {
                if (r->ExitTime == TIME_NEXT_CLOSE) context->barPhase = PHASE_INTRADAY;
                for (int32_t k = 0; k < r->openCount; k++) {
                    PositionRecord *p = &r->openPositions[k];
                    context->position = p;
                    context->symbol = p->symbol;
                    if (SyncContextBar(context)) EvalFormulaSlot(score, context, &p->exitScore);
                }
                context->barPhase = phase;
                SortPositionRecords(r->openPositions, r->openCount, ComparePositionsForExit);
                for (int32_t k = 0; k < r->openCount; k++) r->openPositions[k].exitRank = (uint32_t)(k + 1);
            }
            int32_t before = exits;
            for (int32_t i = 0; i < r->openCount; i++) {
                const PositionRecord *p = &r->openPositions[i];
                if ((endedOnly || rowsOnly) && !(endedOnly && DataEndedForPosition(context, p)) &&
                    !(rowsOnly && RowExitsOn(context, p)))
                    continue;
                exits += ProcessPositionExit(context, i, forced, &days);
            }
            if (exits > before) RemoveClosedPositions(s);
            context->date = date;
            context->barPhase = phase;
        }
    }
    context->barSize = gSettings.BarSize2;
    context->strategyIndex = 0;
    return exits;
}
