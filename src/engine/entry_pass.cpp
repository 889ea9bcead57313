/* entry_pass.cpp -- the entry pass of a phase. */
#include "engine/entry_pass.h"

#include <cmath>
#include <cstddef>

#include "engine/date_loop.h"
#include "engine/exit_pass.h"
#include "engine/fills.h"
#include "engine/futures.h"
#include "engine/limits.h"
#include "engine/setup_filter.h"
#include "engine/sizing.h"
#include "engine/trade_list.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "script/compiler/settings_items.h"
#include "script/eval/value_access.h"

/* ---- the pass ----------------------------------------------------------------------------- */

int32_t GetSignalDate(EvalContext *context)
{
    if (context->barPhase == PHASE_CLOSE) return context->date;
    SymbolRecord *calendar = StrategyCalendarSymbol(context->strategy);
    int32_t count = 0;
    Bar *bars = GetBarArray(calendar, context->barSize, &count);
    int32_t i = FindBarIndex(calendar, context->barSize, context->date, PHASE_CLOSE, context->slot, nullptr);
    if (!bars || i < 1 || i > count) return 0;
    return bars[i - 1].date;
}

static bool HoldsSymbol(const StrategyRecord *r, const SymbolRecord *symbol)
{
    for (int32_t k = 0; k < r->openCount; k++)
        if (r->openPositions[k].symbol == symbol && r->openPositions[k].entryBar >= 0) return true;
    return false;
}

PositionRecord *TakeSizingDifference(EvalContext *context, int32_t setupIndex, double target, const Bar **bar)
{
    StrategyRecord *r = context->strategy;
    SymbolRecord *symbol = context->symbol;
    const bool held = HoldsSymbol(r, symbol);
    double d = ReducePositionsToTarget(context, *bar, target, nullptr);
    /* A reduction that closes the position frees its place in every account
    ** above the strategy at once, for the setups still to be chosen, as an
    ** exit before them does: the accounts counted it when the day began. */
    if (held && !HoldsSymbol(r, symbol)) {
        int32_t chain[PARENT_CHAIN_MAX];
        const int32_t n = CollectParentChain(context->strategyIndex, chain, PARENT_CHAIN_MAX);
        for (int32_t k = 0; k < n; k++) {
            StrategyAccount *a = GetStrategyAccount(chain[k]);
            if (a && a->openCount > 0) a->openCount--;
        }
    }
    /* Exits may have moved the context; the setup array itself never moves here. */
    PositionRecord *setup = &r->setups[setupIndex];
    context->symbol = symbol;
    context->position = setup;
    *bar = SyncContextBar(context);
    /* What lots taken across a split of a ratio like 1.5 leave behind is a
    ** rounding residue, no quantity to trade; the difference is traded in
    ** the steps an entry is (a holding a split left at 100.5 shares and a
    ** target of 151 buy 50). */
    const double quantity = RoundEntryQuantity(d, setup->quantityStep);
    if (!*bar || quantity == 0 || quantity < setup->quantityStep ||
        std::fabs(d) <= 1e-9 * std::fmax(std::fabs(target), 1.0))
        return nullptr;
    setup->side = d < 0 ? -1 : 1;
    setup->quantity = quantity;
    setup->value = setup->quantity * setup->sizingPrice * setup->sizingFx * symbol->info.PointValue;
    setup->fraction = setup->sizingBase == 0 ? 0.0 : RoundSignificant(setup->value / setup->sizingBase, 7);
    return setup;
}

int32_t SetupPhase(const StrategyRecord *strategy)
{
    return strategy->EntryTime == TIME_THIS_CLOSE ? PHASE_CLOSE : PHASE_OPEN;
}

/* The strategy makes setups in the phase. */
static bool SuitsPhase(const StrategyRecord *r, int32_t phase) { return phase == SetupPhase(r); }

/* The context on strategy s with its bar size, its calendar's date and the
** phase it is handled in; false when that date is no bar date of it. */
static bool EnterStrategy(EvalContext *context, int32_t s, int32_t phase)
{
    StrategyRecord *r = &gStrategies[s];
    context->strategy = r;
    context->strategyIndex = s;
    context->barSize = r->BarSize;
    context->barPhase = phase;
    if (r->CalendarSym > 0) ClampDateToSymbolBar(context);
    return IsBarDate(context, context->date);
}

/* EnterStrategy for opening the setups of strategy s: on the bar date they
** were made for, in the phase they are opened in (a next-close entry's is the
** intraday phase, whose date is never a longer period's end). */
static bool EnterToOpen(EvalContext *context, int32_t s)
{
    const StrategyRecord *r = &gStrategies[s];
    if (!EnterStrategy(context, s, SetupPhase(r))) return false;
    if (r->EntryTime == TIME_NEXT_CLOSE) context->barPhase = PHASE_INTRADAY;
    return true;
}

/* The bar a setup reads is of the signal date: the bar before in the other
** phases, at the close the date's own, which a longer bar that ended earlier
** in its period (data that end there, no trade on the period's last day) is
** not; it is read as at the period's open, from the bar before. */
static bool SignalledBy(const EvalContext *context, const StrategyRecord *r, const Bar *bars, int32_t count, int32_t signal)
{
    return r->AllowMissingBar == 1 || (context->lastBar >= 0 && context->lastBar < count && bars[context->lastBar].date == signal);
}

/* The setup of one symbol for strategy s, if it makes one (the context is on
** the strategy, its signal date set). */
static void MakeSymbolSetup(EvalContext *context, int32_t s, int32_t k, int32_t signal,
                            const SetupVisit *visit = nullptr)
{
    int32_t barIndex = visit ? visit->bar : -1;
    StrategyRecord *r = &gStrategies[s];
    SymbolRecord *symbol = &gStore.symbols[k];
    context->symbol = symbol;
    context->position = nullptr;
    const Bar *bar = barIndex >= 0 ? SyncContextDailyBar(context, barIndex) : SyncContextBar(context);
    if (!bar || bar->date < gSettings.FirstDate) return;
    if (symbol->securityType == SECURITY_FUTURES && !r->tradesFutures && IsContinuousFutures(symbol))
        r->tradesFutures = 1;
    int32_t count = 0;
    const Bar *bars = GetBarArray(symbol, context->barSize, &count);
    if (IsTradeListActive(s)) {
        /* Every row of the symbol and date becomes a setup; the rules
        ** judge it only once they have taken over from the list. */
        int32_t cursor = 0;
        while (PositionRecord *setup = ReplayTradeList(context, &cursor)) {
            if (TradeListRulesApply(s))
                EvalSetup(context, setup, bar);
            else
                AddEntryOrder(context, setup, bar, bar->split);
            context->symbol = symbol;
            bar = SyncContextBar(context);
            if (!bar) break;
        }
        return;
    }
    if (r->DynamicSizing != 1) {
        /* A setup of the open phase fills on the bar that was found (a
        ** longer bar's on its period's days), the symbol's last or not: a
        ** test that refused it there would know that the data end, which
        ** the scan and the orders of the day before cannot.  The position
        ** then leaves by end of data at that bar's close.  At the close a
        ** symbol whose last bar is the date has none left to fill on
        ** before the run's last date: its last as the run knows it, which
        ** for a run that ends before its data is its last up to the end. */
        bool fillable = bar->date >= gSettings.LastDate || bar->date < symbol->lastDate || context->barPhase < PHASE_CLOSE;
        if (!fillable || !SignalledBy(context, r, bars, count, signal)) return;
        PositionRecord *setup = AddSetup(r, s, symbol);
        if (!setup) return;
        EvalSetup(context, setup, bar, visit ? &visit->known : nullptr);
        return;
    }
    /* A DynamicSizing strategy resizes a holding by a setup as any other:
    ** none from a bar that ended before the signal date. */
    if (!SignalledBy(context, r, bars, count, signal)) return;
    PositionRecord *setup = AddSetup(r, s, symbol);
    if (!setup) return;
    int32_t setupIndex = r->setupCount;
    context->position = setup;
    if (!ComputePositionSize(context, 0)) return;
    /* The setup of a longer bar was sized in the split terms of the day its
    ** reductions fill on, at the open of the period's first day: the shares
    ** held are counted in them too, not in the period bar's, whose factor may
    ** be that of a split later in the period.  The bar given back is the
    ** period's. */
    const Bar *sizedIn = bar;
    if (context->barPhase < PHASE_CLOSE && context->barSize != BAR_DAILY) {
        const Bar *day = OpenFillDay(context, bar);
        if (day) bar = sizedIn = day;
    }
    setup = TakeSizingDifference(context, setupIndex, setup->side * setup->quantity, &bar);
    if (!setup) return;
    /* What is still to buy at the next close is bought in that day's terms. */
    if (r->EntryTime == TIME_NEXT_CLOSE && context->barSize != BAR_DAILY) {
        const Bar *closeDay = GetBarOnOrBefore(symbol, context->date, BAR_DAILY);
        if (closeDay && closeDay->split != 0 && sizedIn->split != 0 && closeDay->split != sizedIn->split)
            setup->quantity = RoundEntryQuantity(setup->quantity * sizedIn->split / closeDay->split, setup->quantityStep);
    }
    ApplyCommission(context, setup, 1);
    EvalSetup(context, setup, bar);
}

/* Setups of one strategy over the symbols (the context is on the strategy). */
static void MakeSetups(EvalContext *context, int32_t s)
{
    StrategyRecord *r = &gStrategies[s];
    int32_t signal = GetSignalDate(context);
    if (signal == 0) return;
    context->signalDate = signal;
    if (r->DynamicSizing == 1 && r->openCount >= 2)
        SortPositionRecords(r->openPositions, r->openCount, ComparePositionsForSizing);
    r->setupCount = 0;
    SetupFilterRow row;
    if (GetSetupFilterRow(s, context, &row)) {
        /* Only the symbols that can make a setup today are visited, each at
        ** the bar the filter found for it; the others are left as their
        ** lookups would have left them. */
        LowerFirstUsedDates(context);
        SetupVisit *visits = gSetupFilter.visits;
        int32_t n = 0;
        for (int32_t w = 0; w < row.words; w++) {
            int32_t at = row.wordStart[w];
            for (uint64_t bits = row.bits[w]; bits; bits &= bits - 1, at++) {
                int32_t bit = __builtin_ctzll(bits), k = w * 64 + bit;
                if (k >= gStore.symbolCount) continue;
                int32_t bar = row.barIndex[at];
                visits[n++] = SetupVisit{k, bar,
                                         KnownSetupValues{&gStore.symbols[k], context->barPhase < PHASE_CLOSE ? bar - 1 : bar,
                                                          (int32_t)((row.known[w] >> bit) & 1),
                                                          row.scores ? row.scores[at] : NAN}};
            }
        }
        /* The visits' records and bars lie all over memory: each is asked for
        ** a few visits ahead, so that its wait overlaps the work on others. */
        gSetupFilterVisits += n;
        enum { RECORD_AHEAD = 8, BAR_AHEAD = 4 };
        for (int32_t i = 0; i < n; i++) {
            if (i + RECORD_AHEAD < n) {
                const char *record = (const char *)&gStore.symbols[visits[i + RECORD_AHEAD].symbol];
                __builtin_prefetch(record);
                __builtin_prefetch(record + offsetof(SymbolRecord, firstDate));
                __builtin_prefetch(record + offsetof(SymbolRecord, firstUsedDate));
                __builtin_prefetch(record + offsetof(SymbolRecord, securityType));
            }
            if (i + BAR_AHEAD < n) {
                const SetupVisit &ahead = visits[i + BAR_AHEAD];
                const Bar *bar = gStore.symbols[ahead.symbol].bars[BAR_DAILY] + ahead.bar;
                __builtin_prefetch(bar);
                __builtin_prefetch((const char *)bar + sizeof(Bar) - 1);
                if (ahead.bar > 0) __builtin_prefetch(bar - 1);
            }
            MakeSymbolSetup(context, s, visits[i].symbol, signal, &visits[i]);
        }
        return;
    }
    int32_t first = 0, last = gStore.symbolCount;
    if (gSettings.OptBySymbol && r->symbolNumber > 0 && r->symbolNumber <= gStore.symbolCount) {
        first = r->symbolNumber - 1;
        last = first + 1;
    }
    for (int32_t k = first; k < last; k++) MakeSymbolSetup(context, s, k, signal);
}

/* Opens one setup of strategy s (the context is on the strategy). */
static void OpenSetup(EvalContext *context, int32_t s, PositionRecord *setup, int withParents)
{
    context->symbol = setup->symbol;
    if (setup->kept) CheckEntriesLimit(s, setup, withParents);
    if (!setup->kept && !setup->skipped) return; /* never taken by a selection turn */
    context->position = setup;
    OpenPosition(context);
}

void RunEntryPass(EvalContext *context)
{
    int32_t date = context->date, phase = context->barPhase;
    /* Entries decided on an earlier day that fill today take their places
    ** before the setups of the phase they fill in are weighed against the
    ** account. */
    if (phase == PHASE_OPEN || phase == PHASE_INTRADAY) OpenWaitingEntries(context);
    /* Limit formulas of the date. */
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        bool group = r->kind == STRATEGY_KIND_STATS_GROUP;
        if (!group && !SuitsPhase(r, phase)) continue;
        int32_t handled = r->EntryTime != TIME_THIS_CLOSE && phase != PHASE_INTRADAY ? PHASE_OPEN : phase;
        if (EnterStrategy(context, s, handled)) EvalStrategyFormulas(context, phase);
        context->date = date, context->barPhase = phase;
    }
    /* Setups: the benchmarks (each selected at once), then the strategies. */
    for (int round = 0; round < 2; round++) {
        int32_t kind = round == 0 ? STRATEGY_KIND_BENCHMARK : STRATEGY_KIND_STRATEGY;
        for (int32_t s = 0; s < gStrategyCount; s++) {
            StrategyRecord *r = &gStrategies[s];
            if (r->kind != kind || !SuitsPhase(r, phase)) continue;
            if (EnterStrategy(context, s, SetupPhase(r))) {
                MakeSetups(context, s);
                context->date = date, context->barPhase = phase;
                if (round == 0) SelectSetups(context, STRATEGY_KIND_BENCHMARK, s);
            }
            context->date = date, context->barPhase = phase;
        }
    }
    SelectSetups(context, STRATEGY_KIND_STRATEGY, -1);
    /* Openings. */
    bool roundRobin = gPositionState.roundRobin != 0;
    int32_t most = 0;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        if (r->kind == STRATEGY_KIND_STATS_GROUP || !SuitsPhase(r, phase) || r->setupCount == 0) continue;
        if (EnterToOpen(context, s)) {
            SortAndLogSetups(context, s);
            if (r->setupCount > most) most = r->setupCount;
            for (int32_t k = 0; !roundRobin && k < r->setupCount; k++) {
                r->setups[k].openingNumber = (uint32_t)(k + 1);
                OpenSetup(context, s, &r->setups[k], 0);
            }
        }
        context->date = date, context->barPhase = phase;
    }
    for (int32_t i = 0; roundRobin && i < most; i++) {
        for (int32_t s = 0; s < gStrategyCount; s++) {
            StrategyRecord *r = &gStrategies[s];
            if (r->kind == STRATEGY_KIND_STATS_GROUP || !SuitsPhase(r, phase) || i >= r->setupCount) continue;
            if (EnterToOpen(context, s)) {
                r->setups[i].openingNumber = (uint32_t)(i + 1);
                OpenSetup(context, s, &r->setups[i], 1);
            }
            context->date = date, context->barPhase = phase;
        }
    }
    context->date = date;
    context->barPhase = phase;
    context->barSize = gSettings.BarSize2;
}
