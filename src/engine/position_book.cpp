/* position_book.cpp -- a position's bookkeeping: its value, its dividends
** and its place in the cells of its strategy and the groups above it. */
#include "engine/position_book.h"

#include <cmath>

#include "engine/fills.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "script/compiler/settings_items.h"
#include "script/eval/value_access.h"

/* ---- a position's value and dividends ------------------------------------------------------ */

/* The last day whose dividends a valuation of the context's phase credits:
** at the open, the first day of the date's period, the day the phase trades
** on; at the close, the date itself.  So a row dated on a period's last day
** holds every dividend that went ex in its period, as the daily run's row of
** that date does, whatever the run's bar size; a dividend that goes ex after
** that day (on a weekend) is the next period's open's. */
static int32_t DividendsDueThrough(const EvalContext *context)
{
    return context->barPhase == PHASE_CLOSE ? context->date : GetPeriodFirstDate(context->date, 1, context->barSize);
}

/* The events of the position's symbol are its dividends: a stock's, of a
** point value of 1, unless its strategy ignores them. */
static bool EarnsDividends(const EvalContext *context, const PositionRecord *p)
{
    const SymbolRecord *symbol = p ? p->symbol : nullptr;
    if (!symbol || symbol->securityType != SECURITY_STOCK || !symbol->events) return false;
    if (context->strategy && context->strategy->IgnoreDividends == 1) return false;
    return symbol->info.PointValue == 1.0;
}

/* The position's dividend of one event: per share as the shares stood on its
** ex-date (the position's shares in that day's split terms, whatever splits
** came between it and the date it is credited on), in the account currency
** of the ex-date; 0 for another kind of event or one not after the entry. */
static double DividendOf(EvalContext *context, const PositionRecord *p, const EventItem *e)
{
    if (e->kind != EVENT_DIVIDEND || e->date <= p->entryDate) return 0.0;
    SymbolRecord *symbol = p->symbol;
    const Bar *exDay = GetBarOnOrBefore(symbol, e->date, BAR_DAILY);
    const double exSplit = exDay && exDay->split != 0 ? exDay->split : 1.0;
    const double entrySplit = p->entrySplit != 0 ? p->entrySplit : 1.0;
    const int32_t date = context->date;
    context->date = e->date;
    const double fx = GetCurrencyFactor(context, 0);
    context->date = date;
    return fx * e->value * p->side * p->quantity * symbol->info.PointValue * entrySplit / exSplit;
}

/* The dividends due to the context's position up to DividendsDueThrough,
** from its event cursor on; the cursor moves past them. */
static double GetPositionEventAmount(EvalContext *context)
{
    PositionRecord *p = context->position;
    if (!EarnsDividends(context, p)) return 0.0;
    const SymbolRecord *symbol = p->symbol;
    int32_t next = p->eventCursor > 0 ? (int32_t)p->eventCursor - 1 : 0;
    const int32_t until = DividendsDueThrough(context);
    double amount = 0;
    for (; next < symbol->eventCount && symbol->events[next].date <= until; next++)
        amount += DividendOf(context, p, &symbol->events[next]);
    p->eventCursor = (uint32_t)next + 1;
    p->dividends += amount;
    return amount;
}

/* Takes back from the context's position the dividends credited for ex-dates
** after the day it left: a longer run values its positions at the close of
** the period's last day, after a position that left earlier in the period
** at a close (its data ended, its trade-list row) was last valued.  The
** cursor moves back before them; the amount is returned. */
static double WithdrawDividendsAfter(EvalContext *context, int32_t day)
{
    PositionRecord *p = context->position;
    if (!EarnsDividends(context, p)) return 0.0;
    const SymbolRecord *symbol = p->symbol;
    int32_t next = p->eventCursor > 0 ? (int32_t)p->eventCursor - 1 : 0;
    if (next > symbol->eventCount) next = symbol->eventCount;
    double amount = 0;
    for (; next > 0 && symbol->events[next - 1].date > day; next--) amount += DividendOf(context, p, &symbol->events[next - 1]);
    p->eventCursor = (uint32_t)next + 1;
    p->dividends -= amount;
    return amount;
}

/* Profit of the position were it valued at price on a bar of split factor barSplit. */
static double ValueAt(const PositionRecord *p, double price, double barSplit, double fx, bool stock)
{
    double pointValue = p->symbol->info.PointValue;
    if (stock) {
        double ratio = barSplit != 0 && p->entrySplit != 0 ? p->entrySplit / barSplit : 1.0;
        return (fx * price * ratio - p->entryFx * p->entryPrice) * p->quantity * pointValue;
    }
    return (price - p->entryPrice) * fx * p->quantity * pointValue;
}

/* Open profit of the context's position at the context date and phase; the
** event amount and the adverse and favourable excursions through the
** outputs (each may be null).  The dividends of the phase are credited only
** when their amount is asked for: a valuation for an exit values what the
** row holds. */
static double ComputePositionValue(EvalContext *context, double *eventAmount, double *adverse, double *favourable)
{
    if (eventAmount) *eventAmount = 0;
    if (adverse) *adverse = 0;
    if (favourable) *favourable = 0;
    PositionRecord *p = context->position;
    if (!p || !p->symbol) return 0.0;
    p->openProfit = 0;
    if (context->date < p->entryDate) return 0.0;
    SymbolRecord *symbol = p->symbol;
    int32_t count = 0;
    Bar *bars = GetBarArray(symbol, context->barSize, &count);
    if (!bars || count <= 0) return 0.0;
    Bar *bar = nullptr;
    DayCursor *cursor = context->barSize == BAR_DAILY ? PositionDayCursor(symbol) : nullptr;
    int32_t i = cursor ? StepDailyBar(symbol, cursor, context->date, context->slot, &bar)
                       : FindBarIndex(symbol, context->barSize, context->date, PHASE_CLOSE, context->slot, &bar);
    if (i < 0) {
        /* A symbol without a bar on the date is valued at its last before it. */
        if (cursor && cursor->date == context->date)
            bar = cursor->bar >= 0 ? &bars[cursor->bar] : nullptr;
        else
            bar = GetBarOnOrBefore(symbol, context->date, context->barSize);
        if (!bar || bar->date < p->entryDate) return 0.0;
        i = (int32_t)(bar - bars);
    }
    bool entryBar = bar->date <= p->entryDate;
    if (context->barPhase < PHASE_CLOSE) {
        if (entryBar || i < 1) return 0.0;
        bar = &bars[--i];
    }
    double fx = GetCurrencyFactor(context, 0);
    bool stock = symbol->securityType == SECURITY_STOCK;
    double profit;
    if (stock) {
        /* The open and the close credit what went ex by their day; the
        ** intraday valuation, of the close before, has nothing new. */
        if (eventAmount && (context->barPhase == PHASE_OPEN || context->barPhase == PHASE_CLOSE))
            *eventAmount = GetPositionEventAmount(context);
        profit = p->side * ValueAt(p, bar->close, bar->split, fx, true) + p->dividends;
    } else {
        profit = p->side * ValueAt(p, bar->close, bar->split, fx, false);
    }
    if (adverse && favourable && context->barPhase == PHASE_CLOSE) {
        bool high = false, low = false;
        if (!entryBar || p->entryTiming == PHASE_OPEN) {
            high = low = true;
        } else if (p->entryTiming == PHASE_INTRADAY) {
            high = p->triggerDirection > 0;
            low = p->triggerDirection < 0;
        }
        double highExcursion = high ? ValueAt(p, bar->high, bar->split, fx, stock) : 0.0;
        double lowExcursion = low ? ValueAt(p, bar->low, bar->split, fx, stock) : 0.0;
        if (p->side > 0) {
            *favourable = std::fmax(highExcursion, 0.0);
            *adverse = std::fmin(lowExcursion, 0.0);
        } else {
            *favourable = std::fmax(-lowExcursion, 0.0);
            *adverse = std::fmin(-highExcursion, 0.0);
        }
    }
    p->openProfit = profit;
    return profit;
}

/* ---- a position's place in the cells ---------------------------------------------------- */

/* Adds an amount to a cell's open-value totals. */
static void AddOpenPositionValue(StatCell *cell, const PositionRecord *position, double amount)
{
    if (!cell) return;
    cell->markToMarket += amount;
    if (position->side < 0) cell->shortMarkToMarket += amount;
    if (position->marginPerUnit != 0) {
        cell->marginedMarkToMarket += amount;
        if (position->side < 0) cell->shortMarginedMarkToMarket += amount;
    }
}

/* Adds an opened position to the cell of a strategy or group. */
static void AddEntryToCell(StatCell *cell, const PositionRecord *p)
{
    if (!cell) return;
    cell->entries++;
    if (p->heldCount == 0) {
        cell->positions++;
        if (p->side < 0) cell->shortPositions++;
    }
    cell->equityBase -= p->entryCommission;
    cell->commissions += p->entryCommission;
    cell->slippage += p->entrySlippage;
    cell->invested += p->entryValue;
    cell->usageAmount += p->entryValue;
    if (p->side < 0) cell->shortInvested += p->entryValue;
    if (p->marginPerUnit != 0) {
        cell->futuresMargin += p->marginPerUnit * p->quantity;
        cell->marginedValue += p->entryValue;
        if (p->side < 0) cell->shortMarginedValue += p->entryValue;
    }
}

void BookPositionEntry(EvalContext *context, const PositionRecord *setup)
{
    int32_t chain[PARENT_CHAIN_MAX];
    const int32_t n = CollectParentChain(context->strategyIndex, chain, PARENT_CHAIN_MAX);
    for (int32_t k = 0; k < n; k++) AddEntryToCell(GetCurrentCell(context, chain[k]), setup);
}

/* A closed trade into a cell of its strategy or of a group above it. */
static void AddTradeToStrategyStats(StatCell *cell, const PositionRecord *p, const TradeRecord *trade)
{
    if (!cell) return;
    cell->exits++;
    if (!p->partial && p->heldCount <= 1) {
        cell->positions--;
        if (p->side < 0) cell->shortPositions--;
    }
    cell->invested -= p->entryValue;
    if (p->side < 0) cell->shortInvested -= p->entryValue;
    if (p->marginPerUnit != 0) {
        cell->futuresMargin -= p->marginPerUnit * p->quantity;
        cell->marginedValue -= p->entryValue;
        if (p->side < 0) cell->shortMarginedValue -= p->entryValue;
    }
    if (p->exitTiming == PHASE_OPEN || p->entryTiming == PHASE_CLOSE) cell->usageAmount -= p->entryValue;
    double profit = TradeNetProfit(trade);
    double percent = p->entryValue != 0 ? profit / std::fabs(p->entryValue) : 0.0;
    double fractionPart = percent * p->fraction;
    if (gScriptSettings.AccountType == 2) cell->unsettledCash += p->entryValue + profit;
    /* The entry commission left the equity when the position opened and is
    ** part of the trade's net profit, so it is given back here once. */
    cell->equityBase += profit + p->entryCommission;
    cell->tradeAmount += profit;
    cell->tradePercent += percent;
    cell->tradePercentAlloc += fractionPart;
    cell->tradeBars += trade->bars;
    if (CompareDouble(profit, 0) > 0) {
        cell->wins++;
        cell->winBars += trade->bars;
        cell->winAmount += profit;
        cell->winPercent += percent;
        cell->winPercentAlloc += fractionPart;
    } else {
        cell->losses++;
        cell->lossBars += trade->bars;
        cell->lossAmount -= profit;
        cell->lossPercent -= percent;
        cell->lossPercentAlloc -= fractionPart;
    }
    if (p->exitReason == EXIT_LIMIT) cell->targets++;
    if (p->exitReason == EXIT_STOP) cell->stops++;
    cell->commissions += p->exitCommission;
    cell->slippage += p->exitSlippage;
    cell->rollCosts += trade->rollCosts;
    cell->currencyResult += TradeCurrencyGain(trade);
}

/* ---- rows and exits ------------------------------------------------------------------------ */

void MarkToMarketAll(EvalContext *context)
{
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StatCell *cell = GetCurrentCell(context, s);
        if (!cell) continue;
        cell->markToMarket = cell->mae = cell->mfe = cell->shortMarkToMarket = 0;
        cell->marginedMarkToMarket = cell->shortMarginedMarkToMarket = 0;
    }
    context->barSize = gSettings.BarSize2;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        if (r->kind == STRATEGY_KIND_STATS_GROUP) continue;
        int32_t chain[PARENT_CHAIN_MAX];
        int32_t n = CollectParentChain(s, chain, PARENT_CHAIN_MAX);
        context->strategy = r;
        context->strategyIndex = s;
        for (int32_t k = 0; k < r->openCount; k++) {
            PositionRecord *p = &r->openPositions[k];
            if (p->entryBar < 0) continue;
            context->position = p;
            context->symbol = p->symbol;
            double event = 0, adverse = 0, favourable = 0;
            double profit = ComputePositionValue(context, &event, &adverse, &favourable);
            for (int32_t j = 0; j < n; j++) {
                StatCell *cell = GetCurrentCell(context, chain[j]);
                if (!cell) continue;
                AddOpenPositionValue(cell, p, profit);
                cell->dividends += event;
                cell->mae += adverse;
                cell->mfe += favourable;
            }
        }
    }
    context->barSize = gSettings.BarSize2;
}

double CreditDividendsOwedAtExit(EvalContext *context)
{
    PositionRecord *p = context->position;
    if (!p || p->exitDate <= 0) return 0.0;
    const int32_t date = context->date, barSize = context->barSize;
    context->date = p->exitDate;
    context->barSize = BAR_DAILY;
    const int32_t left = p->symbol && p->symbol->lastDate > 0 && p->symbol->lastDate < p->exitDate ? p->symbol->lastDate
                                                                                                     : p->exitDate;
    const double owed = GetPositionEventAmount(context) - WithdrawDividendsAfter(context, left);
    context->date = date;
    context->barSize = barSize;
    return owed;
}

void BookPositionExit(EvalContext *context, const TradeRecord *trade, double owed)
{
    const PositionRecord *p = context->position;
    /* The row's valuation holds the position without what it was owed at its
    ** exit, and with what it was credited past the day it left (owed < 0):
    ** the trade's profit books the dividends of the days it held, so only
    ** the rest leaves the open value, or the account would lose or keep
    ** them on the exit's row. */
    const int32_t barSize = context->barSize;
    context->barSize = gSettings.BarSize2;
    const double open = ComputePositionValue(context, nullptr, nullptr, nullptr) - owed;
    context->barSize = barSize;
    int32_t chain[PARENT_CHAIN_MAX];
    const int32_t n = CollectParentChain(context->strategyIndex, chain, PARENT_CHAIN_MAX);
    for (int32_t k = 0; k < n; k++) {
        StatCell *cell = GetCurrentCell(context, chain[k]);
        if (cell) cell->dividends += owed;
        AddTradeToStrategyStats(cell, p, trade);
        AddOpenPositionValue(cell, p, -open);
    }
}
