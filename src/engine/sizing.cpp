/* sizing.cpp -- setups from the entry formulas, entry orders and sizing. */
#include "engine/sizing.h"

#include <cmath>

#include "engine/exit_pass.h"
#include "engine/fills.h"
#include "engine/limits.h"
#include "engine/setup_filter.h"
#include "foundation/numbers.h"
#include "marketdata/store/calendar.h"
#include "script/eval/block_plan.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"

/* The bar of the context symbol at index of the context's bar size, or null. */
static const Bar *BarAt(const EvalContext *context, int32_t barSize, int32_t index)
{
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, barSize, &count);
    if (!bars || index < 0 || index >= count) return nullptr;
    return &bars[index];
}

/* The daily bar after the context's bar, or null. */
static const Bar *NextDailyBar(EvalContext *context, const Bar *bar)
{
    if (!bar || !context->symbol) return nullptr;
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, BAR_DAILY, &count);
    if (!bars) return nullptr;
    int32_t i = FindBarIndex(context->symbol, BAR_DAILY, bar->date, PHASE_CLOSE, context->slot, nullptr);
    if (i < 0 || i + 1 >= count) return nullptr;
    return &bars[i + 1];
}

/* The daily bar a market entry at the open of bar fills on (OpenFillDay;
** the context's symbol is the setup's), with the daily bar before it in
** previous (null when none). */
static const Bar *OpenFillBar(const EvalContext *context, SymbolRecord *symbol, const Bar *bar, const Bar **previous)
{
    const Bar *fill = OpenFillDay(context, bar);
    int32_t i = FindBarIndex(symbol, BAR_DAILY, fill->date, PHASE_CLOSE, context->slot, nullptr);
    *previous = i > 0 ? &symbol->bars[BAR_DAILY][i - 1] : nullptr;
    return fill;
}

/* The daily bar a next-close entry of bar fills on, at its close: the
** context date's, which for a longer bar size is its period's first day (the
** period's bar closes on its last); the symbol's last bar before it when it
** has none that day. */
static const Bar *CloseFillBar(const EvalContext *context, const Bar *bar)
{
    if (context->barSize == BAR_DAILY || !context->symbol) return bar;
    const Bar *day = GetBarOnOrBefore(context->symbol, context->date, BAR_DAILY);
    return day ? day : bar;
}

/* The price a market order at the open of bar refers to: the last close
** before the day it fills on (OpenFillBar, given back in *fill when asked),
** in that day's split terms; the day's open without one.  The day and the
** close before it are found together, here only. */
static double OpenOrderPrice(const EvalContext *context, SymbolRecord *symbol, const Bar *bar, const Bar **fill = nullptr)
{
    const Bar *previous = nullptr;
    const Bar *day = OpenFillBar(context, symbol, bar, &previous);
    if (fill) *fill = day;
    return previous && previous->split != 0 ? day->split / previous->split * previous->close : day->open;
}

static void SkipSetup(PositionRecord *setup, uint32_t code)
{
    setup->skipped = 1;
    setup->skipReason = code;
}

int32_t TradeListTimePhase(int32_t timeCode)
{
    if (timeCode >= PHASE_OPEN && timeCode <= PHASE_CLOSE) return timeCode;
    if (timeCode == 930 || timeCode == 93000) return PHASE_OPEN;
    if (timeCode == 1600 || timeCode == 160000) return PHASE_CLOSE;
    return PHASE_INTRADAY;
}

double GetSizingBase(const EvalContext *context)
{
    const StrategyAccount *account = GetStrategyAccount(context->strategyIndex);
    if (account && account->allocationOverride != 0) return account->allocationOverride;
    const StatCell *cell = GetCurrentCell(context, context->strategyIndex);
    const StrategyRecord *r = context->strategy;
    if (!cell || !r || r->BarSize <= BAR_DAILY || r->BarSize >= BAR_SIZE_COUNT) return cell ? cell->allocation : 0.0;
    /* The rows up to the context's, in ascending date order: the count of
    ** those dated before the period's first day. */
    const int32_t first = GetPeriodFirstDate(context->date, 1, r->BarSize);
    int32_t low = 0, high = context->resultRow + 1;
    while (low < high) {
        const int32_t mid = low + (high - low) / 2;
        const StatCell *c = GetResultCell(context->test, mid, context->strategyIndex);
        if (c && (int32_t)c->date < first)
            low = mid + 1;
        else
            high = mid;
    }
    const StatCell *before = low > 0 ? GetResultCell(context->test, low - 1, context->strategyIndex) : nullptr;
    /* (A test that began inside the period has no row before it.) */
    return before ? before->allocation : cell->allocation;
}

double RoundEntryQuantity(double quantity, double step) { return RoundToStep(std::fabs(quantity), step, -1); }

int ComputePositionSize(EvalContext *context, int final)
{
    StrategyRecord *r = context->strategy;
    PositionRecord *p = context->position;
    FormulaSlot *quantityFormula = &r->slots[final ? SLOT_QTY_FINAL : SLOT_QUANTITY];
    bool hasFormula = IsSlotGiven(quantityFormula);
    if (final && !hasFormula) return 1;
    p->sizingBase = GetSizingBase(context);
    const Bar *bar = BarAt(context, context->barSize, context->barIndex);
    double pointValue = p->symbol ? p->symbol->info.PointValue : 0.0;
    bool governed = p->tradeListRow > 0 && r->tradeListRowCount > 0;
    double price = 0, quantity = 0, step = 0;
    if (governed) {
        price = p->entryPrice;
        quantity = p->quantity;
        step = quantity == std::floor(quantity) ? 1 : 0;
    } else {
        const Bar *next = NextDailyBar(context, bar);
        double close = bar ? bar->close : 0.0;
        /* Before the close the context bar is the one an entry at the open
        ** fills on (a longer bar size's whole period): its close, and the
        ** bars after it, are not known when a setup without a price of its
        ** own is sized.  The last close and the fill bar's open are. */
        /* (A symbol whose data end inside a longer period has that period's
        ** bar dated on its last day, before the period's date.) */
        const bool atOpen = context->barPhase < PHASE_CLOSE && r->EntryTime != TIME_NEXT_CLOSE && bar && p->symbol &&
            (bar->date >= context->date ||
             (context->barSize != BAR_DAILY && SameBarPeriod(bar->date, context->date, context->barSize)));
        /* An entry at this close fills at it, in this bar's split terms,
        ** whatever split the next day brings. */
        const bool atThisClose = context->barPhase == PHASE_CLOSE && r->EntryTime == TIME_THIS_CLOSE;
        /* A DynamicSizing strategy reduces its holding at the open, before
        ** the close its additions fill at: both are sized on the last close
        ** before that day's period, in the terms of the open's day. */
        const bool reducesAtOpen = r->DynamicSizing == 1 && r->EntryTime == TIME_NEXT_CLOSE &&
            context->barPhase < PHASE_CLOSE && bar && p->symbol && p->tradeListRow <= 0;
        /* A next-close entry fills at its day's close: nothing later is its price. */
        const bool atNextClose = r->EntryTime == TIME_NEXT_CLOSE && bar && p->tradeListRow <= 0 && !reducesAtOpen;
        const Bar *previous = nullptr;
        if (reducesAtOpen) {
            price = OpenOrderPrice(context, p->symbol, bar);
        } else if (r->QtyPrice == 1) {
            price = p->entryPrice;
            if (price == 0 && atNextClose) {
                price = CloseFillBar(context, bar)->close;
            } else if (price == 0 && atOpen) {
                price = OpenFillBar(context, p->symbol, bar, &previous)->open;
            } else if (price == 0 && bar) {
                if (context->barPhase < PHASE_CLOSE && next && next->split != 0 && bar->split != 0)
                    price = next->open * (next->split / bar->split);
                else
                    price = close;
            }
        } else {
            price = p->orderPrice;
            if (price == 0 && atNextClose) {
                price = CloseFillBar(context, bar)->close;
            } else if (price == 0 && p->tradeListRow <= 0 && atOpen) {
                price = OpenOrderPrice(context, p->symbol, bar);
            } else if ((price == 0 || p->tradeListRow > 0) && bar) {
                price = next && !atThisClose && next->split != 0 && bar->split != 0 ? close * (next->split / bar->split)
                                                                                     : close;
            }
        }
        FormulaSlot *round = &r->slots[SLOT_QTY_ROUND];
        if (IsSlotGiven(round)) {
            if (!EvalFormulaSlot(round, context, &step)) return 0;
        } else if (p->tradeListRow > 0 && !IsSlotGiven(&r->slots[SLOT_QUANTITY])) {
            step = 0;
        } else {
            step = gStore.keepAdjusted && !gRun.generatingOrders ? 0 : 1;
        }
        double base = p->sizingBase;
        if (hasFormula) {
            double q = 0;
            if (!EvalFormulaSlot(quantityFormula, context, &q)) return 0;
            if (r->QtyType == 0) {
                quantity = q;
                if (gRun.generatingOrders && context->barPhase == PHASE_CLOSE && next && next->split != 0 && bar)
                    quantity *= bar->split / next->split;
            } else if (r->QtyType == 1) {
                quantity = price != 0 && pointValue != 0 ? q / price / pointValue : 0.0;
            } else {
                quantity = price != 0 && pointValue != 0 && base != 0 ? q / 100 * base / price / pointValue : 0.0;
            }
        } else {
            quantity = p->quantity;
            if (quantity == 0 && base != 0 && price != 0 && pointValue != 0) quantity = base / price / pointValue;
        }
        if (quantity != 0) {
            p->sizingFx = GetCurrencyFactor(context, 1);
            p->entryFx = GetCurrencyFactor(context, 0);
            bool shares = r->QtyType == 0 || (p->tradeListRow > 0 && !IsSlotGiven(&r->slots[SLOT_QUANTITY]));
            if (!shares && p->sizingFx != 0) quantity /= p->sizingFx;
            if (r->Side != 0) {
                if (quantity < 0) quantity = 0;
                p->side = r->Side;
            } else {
                p->side = quantity < 0 ? -1 : 1;
            }
        }
    }
    p->quantityStep = step;
    p->sizingPrice = std::fabs(price);
    p->quantity = RoundEntryQuantity(quantity, step);
    p->value = p->quantity * p->sizingPrice * p->sizingFx * pointValue;
    FormulaSlot *margin = &r->slots[SLOT_FUTURES_MARGIN];
    if (IsSlotGiven(margin)) {
        if (!EvalFormulaSlot(margin, context, &p->marginPerUnit)) return 0;
    } else {
        p->marginPerUnit = p->symbol ? p->symbol->info.Margin : 0.0;
    }
    if (!governed) ApplyCommission(context, p, 1);
    if (p->quantity == 0) {
        p->value = 0;
        p->entryCommission = 0;
        p->exitCommission = 0;
    }
    p->fraction = p->sizingBase == 0 ? 0.0
                                     : RoundSignificant(p->sizingPrice * p->sizingFx * p->quantity * pointValue /
                                                            p->sizingBase,
                                                        7);
    return 1;
}

int AddEntryOrder(EvalContext *context, PositionRecord *setup, const Bar *bar, double split,
                  const KnownSetupValues *known)
{
    StrategyRecord *r = context->strategy;
    context->position = setup;
    setup->entrySplit = split;
    if (r->Side != 0 && r->DynamicSizing != 1 && !ComputePositionSize(context, 0)) return 0;
    if (setup->quantity == 0) {
        SkipSetup(setup, SKIP_ZERO_QUANTITY);
        if (bar) setup->orderPrice = setup->entryPrice = bar->close;
    }
    setup->requestedQuantity = setup->quantity;
    bool governed = setup->tradeListRow > 0 && r->tradeListRowCount > 0;
    if (!governed) {
        FormulaSlot *setupScore = &r->slots[SLOT_SETUP_SCORE];
        FormulaSlot *entryScore = &r->slots[SLOT_ENTRY_SCORE];
        if (IsSlotGiven(setupScore)) {
            if (KnownSetupApplies(known, context) && std::isfinite(known->score)) {
                setup->setupScore = known->score;
                TakeKnownFormulaValue(setupScore, context);
            } else if (!EvalFormulaSlot(setupScore, context, &setup->setupScore)) {
                return 0;
            }
        }
        if (IsSlotGiven(entryScore) && !EvalFormulaSlot(entryScore, context, &setup->entryScore)) return 0;
    }
    setup->listed = 1;
    r->setupCount++;
    int32_t chain[PARENT_CHAIN_MAX];
    int32_t n = CollectParentChain(context->strategyIndex, chain, PARENT_CHAIN_MAX);
    for (int32_t k = 0; k < n; k++) {
        if (StatCell *cell = GetCurrentCell(context, chain[k])) cell->setups++;
    }
    return 1;
}

/* A price worked out on the signal bar, in the split terms of the bar given. */
static double AdjustSignalPrice(const EvalContext *context, const Bar *bar, double price)
{
    if (context->barPhase == PHASE_CLOSE && context->strategy->EntryTime != TIME_NEXT_CLOSE) return price;
    /* The price is in the split terms of the signal bar: its own factor, as
    ** an evaluation on it takes, not whatever the last evaluation left in
    ** the context (a formula of one number evaluates on no bar at all). */
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
    int32_t signal = context->lastBar;
    double scale = bars && signal >= 0 && signal < count ? bars[signal].split : context->priceScale;
    if (!bar || scale == 0) return price;
    return price * bar->split / scale;
}

/* The bar whose split terms a stop or limit entry order is placed in: that
** of the first day it can fill on.  For an order at the open or intraday of
** a longer bar size that is the period's first day, not the period's bar,
** whose factor may be that of a split later in the period (after the test's
** last date, even).  Its prices are rounded, and its quantity is counted,
** in those terms; it is compared with the period's bar in the bar's. */
static const Bar *OrderTermsBar(const EvalContext *context, const Bar *bar)
{
    if (context->barPhase == PHASE_CLOSE || context->strategy->EntryTime == TIME_NEXT_CLOSE) return bar;
    return OpenFillDay(context, bar);
}

/* price, in the split terms of from, in those of to. */
static double InTermsOf(double price, const Bar *from, const Bar *to)
{
    if (from == to || from->split == 0 || to->split == 0) return price;
    return price * to->split / from->split;
}

/* The entry stop test of a setup (stop price s, not 0). */
static void TestEntryStop(EvalContext *context, PositionRecord *setup, const Bar *bar, double s, int32_t d)
{
    int32_t time = context->strategy->EntryTime;
    setup->stopPrice = s;
    setup->orderPrice = s;
    setup->triggerDirection = d;
    /* d × (price − s) ≥ 0: the price is at or through the stop.  A price
    ** carried into the period bar's terms across a later split may lie a
    ** rounding away from the stop it touched, so they compare with the
    ** program's tolerance. */
    auto through = [d, s](double price) { return d * CompareDouble(price, s) >= 0; };
    if (time == TIME_NEXT_OPEN || time == TIME_INTRADAY) {
        if (through(bar->open)) {
            setup->entryTiming = PHASE_OPEN;
            setup->entryPrice = bar->open;
        } else if (time == TIME_NEXT_OPEN || !through(d > 0 ? bar->high : bar->low)) {
            SkipSetup(setup, SKIP_STOP_NOT_HIT);
        } else {
            setup->entryTiming = PHASE_INTRADAY;
            setup->entryPrice = s;
        }
    } else if (through(bar->close)) {
        setup->entryTiming = PHASE_CLOSE;
        setup->entryPrice = bar->close;
    } else {
        SkipSetup(setup, SKIP_STOP_NOT_HIT);
    }
    if (setup->skipped) setup->entryPrice = s;
}

/* The entry limit test of a setup (limit L, not 0; stop s, 0 for none). */
static void TestEntryLimit(EvalContext *context, PositionRecord *setup, const Bar *bar, double L, double needed,
                           double s, int32_t d)
{
    int32_t time = context->strategy->EntryTime;
    bool stop = s != 0;
    setup->limitPrice = L;
    if (!stop) setup->orderPrice = L;
    setup->triggerDirection = stop ? 0 : -d;
    /* Within the limit: at or below it for a long, at or above for a short;
    ** within the stop: at or through it. */
    auto inLimit = [d, L](double price) { return d * CompareDouble(price, L) <= 0; };
    auto inStop = [d, s, stop](double price) { return !stop || d * CompareDouble(price, s) >= 0; };
    if (time == TIME_THIS_CLOSE || time == TIME_NEXT_CLOSE) {
        if (inLimit(bar->close) && inStop(bar->close)) {
            setup->entryTiming = PHASE_CLOSE;
            setup->entryPrice = bar->close;
            return;
        }
    } else if (d * CompareDouble(d > 0 ? bar->low : bar->high, needed) <= 0) {
        if (inLimit(bar->open) && inStop(bar->open)) {
            setup->entryTiming = PHASE_OPEN;
            setup->entryPrice = bar->open;
            return;
        }
        if (time == TIME_INTRADAY) {
            if (stop && setup->entryTiming == PHASE_INTRADAY && d * (L - s) < 0 && context->barSize == BAR_DAILY) {
                SkipSetup(setup, SKIP_AMBIGUOUS_TIMING);
                setup->entryPrice = L;
                return;
            }
            setup->entryTiming = PHASE_INTRADAY;
            setup->entryPrice = stop && d * (L - s) >= 0 && d * (L - bar->open) >= 0 ? s : L;
            return;
        }
    }
    SkipSetup(setup, SKIP_LIMIT_NOT_HIT);
    setup->entryPrice = L;
}

int EvalSetup(EvalContext *context, PositionRecord *setup, const Bar *bar, const KnownSetupValues *known)
{
    StrategyRecord *r = context->strategy;
    context->position = setup;
    if (!bar) return 0;
    if (r->EntryTime == TIME_NEXT_CLOSE) bar = CloseFillBar(context, bar);
    if (r->DynamicSizing == 1) {
        if (setup->quantity == 0 && setup->tradeListRow <= 0) return 0;
    } else if (KnownSetupApplies(known, context) && known->signal) {
        TakeKnownFormulaValue(&r->slots[SLOT_ENTRY_SETUP], context);
    } else {
        int32_t signal = 0;
        if (!EvalFormulaInt(&r->slots[SLOT_ENTRY_SETUP], context, &signal)) return 0;
        if (signal == 0 && setup->tradeListRow <= 0) return 0;
    }
    FormulaSlot *category = &r->slots[SLOT_CATEGORY];
    if (IsSlotGiven(category) && !EvalFormulaText(category, context, setup->category, POSITION_TEXT_SIZE)) return 0;
    int32_t d = r->Side;
    if (d != 0) setup->side = d;
    if (d == 0) {
        if (setup->side == 0 && setup->quantity == 0 && r->DynamicSizing != 1 && !ComputePositionSize(context, 0))
            return 0;
        d = setup->side != 0 ? setup->side : setup->quantity < 0 ? -1
            : setup->quantity > 0                                ? 1
                                                                 : 0;
        setup->side = d;
        if (setup->quantity == 0) {
            SkipSetup(setup, SKIP_ZERO_QUANTITY);
            setup->orderPrice = setup->entryPrice = bar->close;
            return AddEntryOrder(context, setup, bar, bar->split);
        }
    }
    double s = 0;
    const Bar *terms = OrderTermsBar(context, bar);
    FormulaSlot *stopFormula = &r->slots[SLOT_ENTRY_STOP];
    if (IsSlotGiven(stopFormula)) {
        if (!EvalFormulaSlot(stopFormula, context, &s)) return 0;
        if (s != 0) {
            s = AdjustSignalPrice(context, terms, s);
            s = RoundToStep(s, GetPriceRoundUnit(context, setup->symbol, terms, s), 0);
            TestEntryStop(context, setup, bar, InTermsOf(s, terms, bar), d);
        }
    }
    double L = 0;
    FormulaSlot *limitFormula = &r->slots[SLOT_ENTRY_LIMIT];
    if (IsSlotGiven(limitFormula) && !setup->skipped) {
        if (!EvalFormulaSlot(limitFormula, context, &L)) return 0;
        if (L != 0) {
            double x = 0;
            FormulaSlot *extra = &r->slots[SLOT_LIMIT_EXTRA];
            if (IsSlotGiven(extra) && !EvalFormulaSlot(extra, context, &x)) return 0;
            L = AdjustSignalPrice(context, terms, L);
            x = AdjustSignalPrice(context, terms, x);
            double unit = GetPriceRoundUnit(context, setup->symbol, terms, L);
            L = RoundToStep(L, unit, 0);
            double needed = RoundToStep(L - RoundToStep(x, unit, 0) * d, unit, 0);
            TestEntryLimit(context, setup, bar, InTermsOf(L, terms, bar), InTermsOf(needed, terms, bar),
                           InTermsOf(s, terms, bar), d);
        }
    }
    /* The split factor the entry's prices are in: an order of a longer bar
    ** size at the open or intraday is placed in the terms of the period's
    ** first day, and a market entry fills on that day, whose factor is not
    ** the period bar's when a split comes later in the period. */
    double split = bar->split;
    if ((s != 0 || L != 0) && terms != bar && terms->split != 0 && bar->split != 0) {
        /* The order's prices go back into the terms it was placed in. */
        const double ratio = terms->split / bar->split;
        setup->orderPrice *= ratio;
        setup->entryPrice *= ratio;
        setup->stopPrice *= ratio;
        setup->limitPrice *= ratio;
        split = terms->split;
    }
    if (s == 0 && L == 0) {
        if (r->EntryTime == TIME_NEXT_CLOSE)
            setup->entryTiming = PHASE_CLOSE;
        else if (setup->entryTiming == 0)
            setup->entryTiming = context->barPhase;
        if (setup->entryPrice == 0) {
            if (setup->entryTiming == PHASE_CLOSE) {
                setup->orderPrice = setup->entryPrice = bar->close;
            } else {
                /* The order refers to the last close, in the fill bar's split terms. */
                const Bar *fill = nullptr;
                setup->orderPrice = OpenOrderPrice(context, setup->symbol, bar, &fill);
                setup->entryPrice = fill->open;
                if (fill->split != 0) split = fill->split;
            }
        }
    }
    if (!setup->skipped) {
        setup->fillKind = setup->entryPrice == setup->limitPrice && L != 0 ? FILL_LIMIT
            : setup->entryPrice == setup->stopPrice && s != 0              ? FILL_STOP
                                                                           : FILL_MARKET;
    }
    return AddEntryOrder(context, setup, bar, split, known);
}
