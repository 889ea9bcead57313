/* positions.cpp -- setups and open positions, the pending account figures,
** opening a position, the strategies' limit formulas and the orderings. */
#include "engine/positions.h"

#include <algorithm>
#include <cstring>

#include "engine/date_loop.h"
#include "engine/fills.h"
#include "engine/futures.h"
#include "engine/limits.h"
#include "engine/position_book.h"
#include "engine/trace.h"
#include "engine/trade_list.h"
#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"

PositionState gPositionState;
int gPositionDayCursorsOff = 0;

/* ---- state ----------------------------------------------------------------------- */

static void FreeStrategyArrays()
{
    for (int32_t s = 0; gStrategies && s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        FreeMemory(&r->openPositions);
        FreeMemory(&r->setups);
        r->openCount = r->openCapacity = 0;
        r->setupCount = r->setupCapacity = r->keptSetupCount = r->nextSetup = 0;
    }
}

void ResetPositionState()
{
    FreeStrategyArrays();
    FreeMemory(&gPositionState.accounts);
    FreeMemory(&gPositionState.heldCounts);
    FreeMemory(&gPositionState.turnOrder);
    FreeMemory(&gPositionState.sortOrder);
    FreeMemory(&gPositionState.sortHeld);
    FreeMemory(&gPositionState.sortKeys);
    FreeMemory(&gPositionState.waiting);
    FreeMemory(&gPositionState.dayCursors);
    gPositionState = PositionState{};
    gPositionState.accountStrategy = -1;
}

int PreparePositionState(const TestRecord *test)
{
    ResetPositionState();
    int32_t count = gStrategyCount > 0 ? gStrategyCount : 0;
    if (count > 0) {
        if (!AllocMemory(&gPositionState.accounts, (uint64_t)count * sizeof(StrategyAccount))) return 0;
        memset(gPositionState.accounts, 0, (size_t)count * sizeof(StrategyAccount));
        if (!AllocMemory(&gPositionState.turnOrder, (uint64_t)count * sizeof(int32_t))) return 0;
    }
    gPositionState.accountCount = count;
    bool dynamic = false;
    for (int32_t s = 0; s < count; s++) {
        const StrategyRecord *r = &gStrategies[s];
        if (r->DynamicSizing == 1) dynamic = true;
        /* Opening goes round-robin when a group limits the entries of its members. */
        if ((r->kind == STRATEGY_KIND_STATS_GROUP || r->kind == STRATEGY_KIND_COMBINED) &&
            IsSlotGiven(&r->slots[SLOT_MAX_ENTRIES]))
            gPositionState.roundRobin = 1;
    }
    if (dynamic && count > 0 && gStore.symbolCount > 0) {
        uint64_t n = (uint64_t)count * (uint64_t)gStore.symbolCount;
        if (!AllocMemory(&gPositionState.heldCounts, n * sizeof(int32_t))) return 0;
        memset(gPositionState.heldCounts, 0, (size_t)n * sizeof(int32_t));
        gPositionState.heldSymbolCount = gStore.symbolCount;
    }
    if (gStore.symbolCount > 0 && !gPositionDayCursorsOff) {
        uint64_t bytes = (uint64_t)gStore.symbolCount * sizeof(DayCursor);
        if (!AllocMemory(&gPositionState.dayCursors, bytes)) return 0;
        memset(gPositionState.dayCursors, 0, (size_t)bytes);
        gPositionState.dayCursorCount = gStore.symbolCount;
    }
    gPositionState.accountStrategy = test ? test->mainStrategy : -1;
    return 1;
}

DayCursor *PositionDayCursor(const SymbolRecord *symbol)
{
    if (!symbol || !gPositionState.dayCursors || symbol < gStore.symbols) return nullptr;
    ptrdiff_t k = symbol - gStore.symbols;
    return k < gPositionState.dayCursorCount ? &gPositionState.dayCursors[k] : nullptr;
}

StrategyAccount *GetStrategyAccount(int32_t strategy)
{
    if (strategy < 0 || strategy >= gPositionState.accountCount) return nullptr;
    return &gPositionState.accounts[strategy];
}

StatCell *GetCurrentCell(const EvalContext *context, int32_t strategy)
{
    const TestRecord *test = context ? context->test : nullptr;
    if (!test || !test->cells || strategy < 0 || strategy >= test->strategyCount) return nullptr;
    int32_t row = context->resultRow;
    if (row < 0 || row >= test->rowCount) return nullptr;
    return &test->cells[(int64_t)row * test->strategyCount + strategy];
}

int32_t SymbolNumberOf(const SymbolRecord *symbol)
{
    if (!symbol || !gStore.symbols || symbol < gStore.symbols || symbol >= gStore.symbols + gStore.symbolCount) return 0;
    return (int32_t)(symbol - gStore.symbols) + 1;
}

int32_t *GetHeldCount(int32_t strategy, const SymbolRecord *symbol)
{
    int32_t n = SymbolNumberOf(symbol);
    if (!gPositionState.heldCounts || n < 1 || n > gPositionState.heldSymbolCount || strategy < 0 ||
        strategy >= gPositionState.accountCount)
        return nullptr;
    return &gPositionState.heldCounts[(int64_t)strategy * gPositionState.heldSymbolCount + n - 1];
}

int32_t CollectParentChain(int32_t strategy, int32_t *out, int32_t max)
{
    if (strategy < 0 || strategy >= gStrategyCount || max < 1) return 0;
    int32_t n = 0;
    out[n++] = strategy;
    for (int32_t k = 0; k < n; k++) {
        const StrategyRecord *r = &gStrategies[out[k]];
        for (int32_t g = 0; g < r->groupCount && g < STRATEGY_MAX_LINKS; g++) {
            int32_t parent = r->groups[g];
            if (parent < 0 || parent >= gStrategyCount) continue;
            bool seen = false;
            for (int32_t j = 0; j < n && !seen; j++) seen = out[j] == parent;
            if (!seen && n < max) out[n++] = parent;
        }
    }
    return n;
}

/* ---- the two arrays ---------------------------------------------------------------- */

/* Room for one record more than count, growing to 2n + 2. */
static int ReserveRecord(PositionRecord **array, int32_t *capacity, int32_t count)
{
    if (count < *capacity) return 1;
    int32_t grown = 2 * count + 2;
    if (!ReallocMemory(array, (uint64_t)grown * sizeof(PositionRecord))) return 0;
    *capacity = grown;
    return 1;
}

PositionRecord *AddSetup(StrategyRecord *strategy, int32_t strategyIndex, SymbolRecord *symbol)
{
    if (!ReserveRecord(&strategy->setups, &strategy->setupCapacity, strategy->setupCount)) return nullptr;
    PositionRecord *setup = &strategy->setups[strategy->setupCount];
    memset(setup, 0, sizeof *setup);
    setup->symbol = symbol;
    setup->strategyIndex = strategyIndex;
    setup->entryBar = -1;
    setup->exitBar = -1;
    setup->sizingFx = 1.0;
    setup->entryFx = 1.0;
    return setup;
}

PositionRecord *AddPosition(EvalContext *context)
{
    StrategyRecord *strategy = context->strategy;
    /* The setup is copied first: growing the position array never moves the
    ** setup array, but the copy keeps the code independent of that. */
    PositionRecord copy = *context->position;
    if (!ReserveRecord(&strategy->openPositions, &strategy->openCapacity, strategy->openCount)) return nullptr;
    PositionRecord *position = &strategy->openPositions[strategy->openCount++];
    *position = copy;
    if (position->eventCursor == 0) position->eventCursor = 1;
    context->position = position;
    return position;
}

/* ---- pending figures --------------------------------------------------------------- */

void AddSetupToPendingTotals(int32_t strategy, const PositionRecord *setup)
{
    int32_t chain[PARENT_CHAIN_MAX];
    int32_t n = CollectParentChain(strategy, chain, PARENT_CHAIN_MAX);
    /* The commission is cash that leaves the account, so it always lowers the
    ** free cash, as it does in the free-cash limit test. */
    double cash = (setup->marginPerUnit != 0 ? setup->marginPerUnit * setup->quantity : setup->side * setup->value) +
        setup->entryCommission;
    for (int32_t k = 0; k < n; k++) {
        StrategyAccount *a = GetStrategyAccount(chain[k]);
        if (!a) continue;
        if (setup->heldCount == 0) {
            a->openCount++;
            a->newCount++;
        }
        a->freeCash -= cash;
        a->totalValue += setup->value;
        a->newValue += setup->value;
        if (setup->side < 0) a->shortValue += setup->value;
    }
}

void RemoveSetupValueFromPending(int32_t strategy, double amount)
{
    int32_t chain[PARENT_CHAIN_MAX];
    int32_t n = CollectParentChain(strategy, chain, PARENT_CHAIN_MAX);
    for (int32_t k = 0; k < n; k++) {
        StrategyAccount *a = GetStrategyAccount(chain[k]);
        if (!a) continue;
        a->totalValue -= amount;
        a->newValue -= amount;
    }
}

void RefreshStrategyAccount(EvalContext *context, int32_t strategy)
{
    StrategyAccount *a = GetStrategyAccount(strategy);
    if (!a) return;
    const StrategyRecord *r = &gStrategies[strategy];
    const StatCell *own = GetCurrentCell(context, strategy), *cell = own;
    if (r->kind != STRATEGY_KIND_BENCHMARK && r->allocationFraction == 1.0 && gPositionState.accountStrategy >= 0) {
        const StatCell *shared = GetCurrentCell(context, gPositionState.accountStrategy);
        if (shared) cell = shared;
    }
    a->newCount = 0;
    a->newValue = 0;
    /* A strategy that trades the whole account has the account's cash, but
    ** the positions and values its own limits (MaxPositions, MaxInvested,
    ** the exposures) hold are its own: a limit shared by several is the
    ** Combined strategy's or a group's, checked against its own cell, which
    ** holds its members' positions.  Otherwise a strategy would be refused
    ** by the positions of the others, at its open as on the days its
    ** waiting entries fill. */
    const double m = r->MarkToMarket == 1 ? 1.0 : 0.0;
    a->openCount = own ? own->positions : 0;
    a->totalValue = own ? own->unsettledCash + own->invested + m * own->markToMarket : 0;
    a->shortValue = own ? m * own->shortMarkToMarket + own->shortInvested : 0;
    a->freeCash = !cell           ? 0.0
        : a->freeCashOverride > 0 ? a->freeCashOverride
                                  : ComputeCellEquity(cell, r->Compounded == 1);
}

/* ---- the strategy formulas of a date ------------------------------------------------- */

/* A trade list that governs the strategy keeps its limit formulas from being
** evaluated; trade lists are replayed only once their rows are loaded. */
static bool TradeListGatesFormulas(const StrategyRecord *strategy)
{
    const int32_t s = (int32_t)(strategy - gStrategies);
    return !gRun.generatingOrders && IsTradeListActive(s) && !TradeListRulesApply(s);
}

static int32_t EvalIntLimit(StrategyRecord *r, int32_t slot, EvalContext *context, bool gated, int32_t absent,
                            int32_t failed)
{
    FormulaSlot *f = &r->slots[slot];
    if (gated || !IsSlotGiven(f)) return absent;
    int32_t v = 0;
    return EvalFormulaInt(f, context, &v) ? v : failed;
}

static double EvalAmountLimit(StrategyRecord *r, int32_t slot, EvalContext *context, bool gated, double absent,
                              double failed, double scale)
{
    FormulaSlot *f = &r->slots[slot];
    if (gated || !IsSlotGiven(f)) return absent;
    double v = 0;
    return EvalFormulaSlot(f, context, &v) ? v * scale : failed;
}

/* The limits the trace shows: a strategy gives at least one of them. */
static bool TracesLimits(const StrategyRecord *r)
{
    static const int32_t kTraced[] = {
        SLOT_MAX_SETUPS,
        SLOT_MAX_ENTRIES,
        SLOT_MAX_POSITIONS,
        SLOT_MAX_NEW_POS,
        SLOT_MAX_SAME_CAT,
        SLOT_MAX_SAME_SYM,
        SLOT_MAX_EXPOSURE,
        SLOT_MAX_NEW_EXP,
        SLOT_MAX_SYM_EXP,
        SLOT_MAX_CAT_EXP,
        SLOT_MAX_INVESTED,
        SLOT_MAX_NEW_INV,
        SLOT_MAX_SYM_INV,
        SLOT_MAX_CAT_INV,
        SLOT_MAX_LONG_INV,
        SLOT_MAX_SHORT_INV,
        SLOT_MAX_NET_INV,
        SLOT_MIN_NET_INV,
    };
    for (int32_t slot : kTraced)
        if (IsSlotGiven(&r->slots[slot])) return true;
    return false;
}

void EvalStrategyFormulas(EvalContext *context, int32_t phase)
{
    int32_t s = context->strategyIndex;
    StrategyAccount *a = GetStrategyAccount(s);
    StrategyRecord *r = context->strategy;
    if (!a || !r) return;
    RefreshStrategyAccount(context, s);
    context->position = nullptr;
    context->symbol = StrategyCalendarSymbol(r);
    SyncContextBar(context);
    bool gated = TradeListGatesFormulas(r);
    const double big = LIMIT_UNLIMITED_AMOUNT;
    const int32_t most = LIMIT_UNLIMITED_COUNT;
    StrategyLimits &l = a->limits;
    l.MaxSetups = EvalIntLimit(r, SLOT_MAX_SETUPS, context, gated, most, 0);
    l.MaxPositions = EvalIntLimit(r, SLOT_MAX_POSITIONS, context, gated, most, 0);
    l.MaxNewPos = EvalIntLimit(r, SLOT_MAX_NEW_POS, context, gated, most, 0);
    l.MaxExposure = EvalAmountLimit(r, SLOT_MAX_EXPOSURE, context, gated, big, 0, 0.01);
    l.MaxNewExp = EvalAmountLimit(r, SLOT_MAX_NEW_EXP, context, gated, big, 0, 0.01);
    l.MaxSymExp = EvalAmountLimit(r, SLOT_MAX_SYM_EXP, context, gated, big, 0, 0.01);
    l.MaxCatExp = EvalAmountLimit(r, SLOT_MAX_CAT_EXP, context, gated, big, 0, 0.01);
    l.MaxLongExp = EvalAmountLimit(r, SLOT_MAX_LONG_EXP, context, gated, big, 0, 0.01);
    l.MaxShortExp = EvalAmountLimit(r, SLOT_MAX_SHORT_EXP, context, gated, big, 0, 0.01);
    l.MaxNetExp = EvalAmountLimit(r, SLOT_MAX_NET_EXP, context, gated, big, 0, 0.01);
    l.MinNetExp = EvalAmountLimit(r, SLOT_MIN_NET_EXP, context, gated, -big, big, 0.01);
    l.MaxInvested = EvalAmountLimit(r, SLOT_MAX_INVESTED, context, gated, big, 0, 1);
    l.MaxNewInv = EvalAmountLimit(r, SLOT_MAX_NEW_INV, context, gated, big, 0, 1);
    l.MaxCatInv = EvalAmountLimit(r, SLOT_MAX_CAT_INV, context, gated, big, 0, 1);
    l.MaxSymInv = EvalAmountLimit(r, SLOT_MAX_SYM_INV, context, gated, big, 0, 1);
    l.MaxLongInv = EvalAmountLimit(r, SLOT_MAX_LONG_INV, context, gated, big, 0, 1);
    l.MaxShortInv = EvalAmountLimit(r, SLOT_MAX_SHORT_INV, context, gated, big, 0, 1);
    l.MaxNetInv = EvalAmountLimit(r, SLOT_MAX_NET_INV, context, gated, big, 0, 1);
    l.MinNetInv = EvalAmountLimit(r, SLOT_MIN_NET_INV, context, gated, -big, big, 1);
    if (!IsSlotGiven(&r->slots[SLOT_MIN_FREE_CASH])) {
        bool cashAccount = gScriptSettings.AccountType != 0;
        l.MinFreeCash = !gated && cashAccount && s == gPositionState.accountStrategy ? 0.0 : -big;
    } else {
        l.MinFreeCash = EvalAmountLimit(r, SLOT_MIN_FREE_CASH, context, gated, -big, big, 1);
    }
    l.MaxSameCat = EvalIntLimit(r, SLOT_MAX_SAME_CAT, context, gated, most, 0);
    bool single = r->kind != STRATEGY_KIND_STATS_GROUP && r->DynamicSizing != 1 &&
        (!IsTradeListActive(s) || gRun.generatingOrders);
    l.MaxSameSym = EvalIntLimit(r, SLOT_MAX_SAME_SYM, context, gated, single ? 1 : most, 0);
    l.MaxEntries = EvalIntLimit(r, SLOT_MAX_ENTRIES, context, gated, most, 0);
    /* These two apply even while a trade list governs the strategy. */
    l.MaxPerTurn = EvalIntLimit(r, SLOT_MAX_PER_TURN, context, false, 1, 1);
    l.Reduce = EvalAmountLimit(r, SLOT_REDUCE, context, false, 0, 0, 1);
    if (gSettings.AddLog && TracesLimits(r)) {
        context->barPhase = phase;
        LogPositionLimit(context);
    }
}

/* ---- opening a position ------------------------------------------------------------- */

/* The setup follows its trade-list row rather than the strategy's rules. */
static bool SetupGovernedByTradeList(const EvalContext *context, const PositionRecord *setup)
{
    const StrategyRecord *r = context->strategy;
    if (r->tradeListRowCount <= 0 || (setup && setup->tradeListRow <= 0)) return false;
    if (gRun.generatingOrders) return true;
    return r->TLEndDate >= 1 && context->date <= r->TLEndDate;
}

/* A skipped setup kept among the trades (KeepSkipped). */
static void KeepSkippedSetup(EvalContext *context, const PositionRecord *setup)
{
    TestRecord *test = context->test;
    if (!test || !gSettings.KeepSkipped || !context->strategy->keepTrades) return;
    TradeRecord *t = AddTrade(test);
    if (!t) return;
    t->side = setup->side;
    CopyString(t->symbol, sizeof t->symbol, setup->symbol ? setup->symbol->info.Symbol : "", -1);
    t->symbolNumber = SymbolNumberOf(setup->symbol);
    t->strategy = setup->strategyIndex;
    t->quantityIn = setup->quantity;
    t->priceIn = setup->entryPrice;
    t->splitIn = t->splitOut = setup->entrySplit != 0 ? setup->entrySplit : 1.0;
    t->roundingIn = setup->entryRounding;
    t->dateIn = GetPeriodFirstDate(context->date, 1, context->barSize);
    t->timeIn = setup->entryTiming;
    t->reason = (int32_t)setup->skipReason;
    t->highest = t->lowest = setup->entryPrice;
    t->pointValue = setup->symbol ? setup->symbol->info.PointValue : 1.0;
    t->fxIn = t->fxOut = setup->entryFx;
    if (strcmp(setup->label, "1") != 0) CopyString(t->reasonText, sizeof t->reasonText, setup->label, -1);
}

static bool WaitsForItsFillDay(EvalContext *context, const PositionRecord *setup);
static int EnterSetup(EvalContext *context, bool governed);

int OpenPosition(EvalContext *context)
{
    StrategyRecord *r = context->strategy;
    PositionRecord *setup = context->position;
    if (!setup) return 0;
    /* A setup already refused leaves nothing behind unless it is kept as a
    ** skipped trade, so it costs no bar lookup or formula. */
    if (setup->skipped && !(gSettings.KeepSkipped && r->keepTrades && context->test)) return 0;
    const Bar *bar = SyncContextBar(context);
    if (!bar) return 0;
    LogDebugItem(context, SLOT_DEBUG_ENTRY);
    bool governed = SetupGovernedByTradeList(context, setup);
    if (!governed && !setup->skipped) {
        FormulaSlot *skip = &r->slots[SLOT_ENTRY_SKIP];
        if (IsSlotGiven(skip) && (!EvalFormulaText(skip, context, setup->label, POSITION_TEXT_SIZE) || setup->label[0])) {
            setup->skipped = 1;
            setup->skipReason = 10;
        } else if (setup->entryTiming == PHASE_CLOSE && bar->date != context->date && r->EntryTime != TIME_NEXT_CLOSE) {
            /* A close entry in a period the symbol's data do not close today;
            ** a next-close entry fills on the day's own bar, found below. */
            setup->skipped = 1;
            setup->skipReason = 17;
        }
    }
    if (!governed && !setup->skipped) {
        int32_t date = FindExecutionBar(context, setup, 1);
        if (date < 0) {
            setup->skipped = 1;
            setup->skipReason = (uint32_t)-date;
            setup->entryDate = context->date;
        } else {
            setup->entryDate = date;
        }
    }
    if (setup->skipped) return EnterSetup(context, governed);
    /* MaxEntries counts an entry where it is decided, in the opening order:
    ** one that waits for a later day of its period counts now, as the run
    ** of its bar size counts it, and is not counted again on its fill day. */
    int32_t chain[PARENT_CHAIN_MAX];
    const int32_t n = CollectParentChain(context->strategyIndex, chain, PARENT_CHAIN_MAX);
    for (int32_t k = 0; k < n; k++) gStrategies[chain[k]].entriesToday++;
    if (WaitsForItsFillDay(context, setup)) return 0;
    return EnterSetup(context, governed);
}

/* A longer bar's entry decided at its period's open may fill on a later day
** of the period (a stop or limit first reached then, a symbol that did not
** trade on the period's first days).  A run of a shorter bar size books
** it on that day: until then the account holds neither the position nor its
** money, and the strategies sharing the account may use them.  The setup
** waits aside (true); OpenWaitingEntries opens it there, at the open or, for
** one that fills during the day, after the day's entries at the open, which
** could not know of it. */
static bool WaitsForItsFillDay(EvalContext *context, const PositionRecord *setup)
{
    if (gRun.generatingOrders || setup->entryDate <= context->date || context->barSize <= gSettings.BarSize2) return false;
    PositionState &g = gPositionState;
    if (!ReserveRecord(&g.waiting, &g.waitingCapacity, g.waitingCount)) return false; /* booked at once, as before */
    g.waiting[g.waitingCount++] = *setup;
    return true;
}

void OpenWaitingEntries(EvalContext *context)
{
    PositionState &g = gPositionState;
    if (g.waitingCount == 0) return;
    const int32_t date = context->date, phase = context->barPhase, barSize = context->barSize;
    const int32_t strategyIndex = context->strategyIndex;
    StrategyRecord *strategy = context->strategy;
    int32_t kept = 0;
    for (int32_t k = 0; k < g.waitingCount; k++) {
        PositionRecord entry = g.waiting[k];
        if (entry.entryDate > date || (phase == PHASE_OPEN && entry.entryTiming == PHASE_INTRADAY)) {
            g.waiting[kept++] = entry;
            continue;
        }
        const int32_t s = entry.strategyIndex;
        context->strategy = &gStrategies[s];
        context->strategyIndex = s;
        context->barSize = gStrategies[s].BarSize;
        context->barPhase = PHASE_OPEN;
        context->symbol = entry.symbol;
        context->position = &entry;
        if (!SyncContextBar(context)) continue;
        /* The account may have filled up since the order was placed. */
        int32_t chain[PARENT_CHAIN_MAX];
        const int32_t n = CollectParentChain(s, chain, PARENT_CHAIN_MAX);
        for (int32_t j = 0; j < n; j++) RefreshStrategyAccount(context, chain[j]);
        entry.kept = 1;
        entry.consumed = 0;
        CheckSetupLimits(context, s, &entry);
        EnterSetup(context, SetupGovernedByTradeList(context, &entry));
    }
    g.waitingCount = kept;
    context->date = date;
    context->barPhase = phase;
    context->barSize = barSize;
    context->strategy = strategy;
    context->strategyIndex = strategyIndex;
    context->position = nullptr;
}

/* The rest of opening a setup whose entry date is known: its costs, and
** the position booked on the account. */
static int EnterSetup(EvalContext *context, bool governed)
{
    StrategyRecord *r = context->strategy;
    PositionRecord *setup = context->position;
    if (!setup->skipped && IsContinuousFutures(setup->symbol)) {
        /* The contract the position is entered in, for the rolls. */
        setup->contractCode = (int32_t)LookupDatedValue(setup->symbol, BAR_DAILY, setup->entryDate, 0, EVENT_CONTRACT,
                                                        1, nullptr);
    }
    setup->entryBar = context->barPhase < PHASE_CLOSE ? context->lastBar + 1 : context->lastBar;
    setup->exitReason = 0;
    EvalCostFormula(context, SLOT_ENTRY_TRADE_VALUE, &setup->entryTradeValue);
    double pointValue = setup->symbol->info.PointValue;
    if (!governed) ApplySlippage(context, setup, 1);
    setup->entryValue = setup->entryFx * setup->entryPrice * setup->quantity * pointValue;
    if (!governed) {
        setup->listed = setup->kept = setup->consumed = 0;
    }
    if (setup->skipped) {
        if (gSettings.AddLog && r->keepTrades) LogEntryExit(context, TRACE_NO_ENTRY, nullptr);
        KeepSkippedSetup(context, setup);
        return 0;
    }
    if (!governed) ApplyCommission(context, setup, 1);
    setup->lowest = setup->highest = setup->entryPrice;
    setup->limitPrice = setup->side > 0 ? LIMIT_UNLIMITED_AMOUNT : -LIMIT_UNLIMITED_AMOUNT;
    setup->stopPrice = -setup->limitPrice;
    setup->limitSplit = setup->stopSplit = 0;
    /* A DynamicSizing strategy's lots of one symbol are one position, one
    ** place on its account and every account above it, taken by the first
    ** lot and given back by the last to leave.  So the lots are counted as
    ** they are booked: a setup that a selection kept and that then did not
    ** fill (refused at its opening, or a next close its symbol did not trade
    ** on) adds none, or the symbol's next entry would count as an addition
    ** taking no place, while its reduction frees one. */
    int32_t *held = r->DynamicSizing == 1 ? GetHeldCount(context->strategyIndex, setup->symbol) : nullptr;
    if (held) setup->heldCount = *held;
    BookPositionEntry(context, setup);
    if (gSettings.AddLog && r->keepTrades) LogEntryExit(context, TRACE_ENTRY, nullptr);
    if (!AddPosition(context)) return 0;
    if (held) ++*held;
    return 1;
}

/* ---- orderings ----------------------------------------------------------------------- */

static int CompareSymbols(const PositionRecord *a, const PositionRecord *b)
{
    /* The symbol array is sorted by name with case ignored, so two of its
    ** records compare by their place without reading the names. */
    if (SymbolNumberOf(a->symbol) && SymbolNumberOf(b->symbol))
        return a->symbol < b->symbol ? -1 : a->symbol > b->symbol ? 1
                                                                  : 0;
    const char *x = a->symbol ? a->symbol->info.Symbol : "";
    const char *y = b->symbol ? b->symbol->info.Symbol : "";
    return CompareSymbolText(x, y);
}

bool CompareStrategiesForTurn(int32_t a, int32_t b)
{
    const StrategyRecord *x = &gStrategies[a], *y = &gStrategies[b];
    if (x->kind != y->kind) return x->kind < y->kind;
    const StrategyAccount *p = GetStrategyAccount(a), *q = GetStrategyAccount(b);
    int c = p && q ? CompareDouble(p->turnScore, q->turnScore) : 0;
    if (c != 0) return c > 0;
    return a < b;
}

/* The two orderings that every date sorts its setups by, each written once
** as a key: a sort reads the keys out of the records once, so its many
** comparisons read a few bytes each instead of whole records. */
struct SetupSortKey {
    uint32_t first, second; /* both ascending */
    double score;           /* descending */
    const SymbolRecord *symbol;
    int32_t inStore;        /* the symbol is one of the symbol array's */
};

/* More consumed, then kept setups first, then the higher SetupScore. */
static SetupSortKey ScoreKey(const PositionRecord *p)
{
    return SetupSortKey{~p->consumed, ~p->kept, p->setupScore, p->symbol, SymbolNumberOf(p->symbol) != 0};
}

/* Setups skipped only for a price not reached sort with the kept ones; then
** the earlier entry timing, then the higher EntryScore. */
static SetupSortKey OpeningSortKey(const PositionRecord *p)
{
    uint32_t code = p->skipReason;
    uint32_t skip = code > 0 && (code < 7 || code > 10) ? code + 100 : code;
    return SetupSortKey{skip, (uint32_t)p->entryTiming ^ 0x80000000u /* signed order */, p->entryScore, p->symbol,
                        SymbolNumberOf(p->symbol) != 0};
}

static int CompareSetupSortKeys(const SetupSortKey &a, const SetupSortKey &b)
{
    if (a.first != b.first) return a.first < b.first ? -1 : 1;
    if (a.second != b.second) return a.second < b.second ? -1 : 1;
    int c = CompareDouble(a.score, b.score);
    if (c != 0) return -c;
    /* The symbol array is sorted by name with case ignored, so two of its
    ** records compare by their place without reading the names. */
    if (a.inStore && b.inStore) return a.symbol < b.symbol ? -1 : a.symbol > b.symbol ? 1 : 0;
    return CompareSymbolText(a.symbol ? a.symbol->info.Symbol : "", b.symbol ? b.symbol->info.Symbol : "");
}

int CompareSetupsByScore(const PositionRecord *a, const PositionRecord *b)
{
    return CompareSetupSortKeys(ScoreKey(a), ScoreKey(b));
}

int CompareSetupsForOpening(const PositionRecord *a, const PositionRecord *b)
{
    return CompareSetupSortKeys(OpeningSortKey(a), OpeningSortKey(b));
}

int ComparePositionsForSizing(const PositionRecord *a, const PositionRecord *b)
{
    int c = CompareSymbols(a, b);
    if (c != 0) return c;
    /* Lots bought either side of a split hold their shares in different
    ** terms: they are compared in one (any bar's divides both alike). */
    c = CompareDouble(a->quantity * (a->entrySplit != 0 ? a->entrySplit : 1.0),
                      b->quantity * (b->entrySplit != 0 ? b->entrySplit : 1.0));
    if (c != 0) return -c;
    if (a->entryBar != b->entryBar) return a->entryBar < b->entryBar ? -1 : 1;
    return 0;
}

int ComparePositionsForExit(const PositionRecord *a, const PositionRecord *b)
{
    int c = CompareDouble(a->exitScore, b->exitScore);
    if (c != 0) return -c;
    return CompareSymbols(a, b);
}

static bool MakeSetupSortKeys(const PositionRecord *records, int32_t count,
                              int (*compare)(const PositionRecord *, const PositionRecord *), SetupSortKey *keys)
{
    SetupSortKey (*keyOf)(const PositionRecord *) = compare == CompareSetupsByScore ? ScoreKey
        : compare == CompareSetupsForOpening                                      ? OpeningSortKey
                                                                                  : nullptr;
    if (!keyOf) return false;
    for (int32_t k = 0; k < count; k++) keys[k] = keyOf(&records[k]);
    return true;
}

void SortPositionRecords(PositionRecord *records, int32_t count,
                         int (*compare)(const PositionRecord *, const PositionRecord *))
{
    if (!records || count < 2) return;
    PositionState &g = gPositionState;
    if (count > g.sortCapacity) {
        int32_t capacity = 2 * count + 2;
        if (ReallocMemory(&g.sortOrder, (uint64_t)capacity * sizeof(int32_t)) &&
            ReallocMemory(&g.sortKeys, (uint64_t)capacity * sizeof(SetupSortKey)) &&
            (g.sortHeld || AllocMemory(&g.sortHeld, sizeof(PositionRecord))))
            g.sortCapacity = capacity;
    }
    if (count > g.sortCapacity) {
        /* No scratch: the records themselves are moved while sorting. */
        std::stable_sort(records, records + count,
                         [compare](const PositionRecord &a, const PositionRecord &b) { return compare(&a, &b) < 0; });
        return;
    }
    /* A record is several hundred bytes: sorting their indexes and moving
    ** each record once, cycle by cycle, costs far less than swapping
    ** records, and a record already in its place is not moved at all. */
    int32_t *order = g.sortOrder;
    for (int32_t k = 0; k < count; k++) order[k] = k;
    if (g.sortKeys && MakeSetupSortKeys(records, count, compare, g.sortKeys)) {
        const SetupSortKey *keys = g.sortKeys;
        std::sort(order, order + count, [keys](int32_t a, int32_t b) {
            int c = CompareSetupSortKeys(keys[a], keys[b]);
            return c != 0 ? c < 0 : a < b;
        });
    } else {
        std::sort(order, order + count, [records, compare](int32_t a, int32_t b) {
            int c = compare(&records[a], &records[b]);
            return c != 0 ? c < 0 : a < b;
        });
    }
    PositionRecord *held = g.sortHeld;
    for (int32_t start = 0; start < count; start++) {
        if (order[start] == start) continue;
        *held = records[start];
        int32_t k = start;
        while (order[k] != start) {
            int32_t from = order[k];
            records[k] = records[from];
            order[k] = k;
            k = from;
        }
        records[k] = *held;
        order[k] = k;
    }
}
