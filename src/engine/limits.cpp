/* limits.cpp -- position limits and the selection of a date's setups. */
#include "engine/limits.h"
#include "engine/trace.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/fills.h"
#include "engine/sizing.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

static void SkipWith(PositionRecord *setup, uint32_t code)
{
    setup->kept = 0;
    setup->skipped = 1;
    setup->skipReason = code;
}

/* A setup may take part in the selection: not skipped, or skipped only for
** an entry price its bar did not reach or an entry skip. */
static uint32_t IsEligible(const PositionRecord *setup)
{
    return !setup->skipped || (setup->skipReason >= SKIP_LIMIT_NOT_HIT && setup->skipReason <= SKIP_ENTRY_SKIP);
}

int CheckLimitRule(int32_t strategy, PositionRecord *setup, double share, double current, double limit,
                   double sign, int32_t code)
{
    double value = setup->value;
    double commission = setup->entryCommission;
    double after, room;
    bool fails;
    if (code == SKIP_MIN_FREE_CASH) {
        /* The commission leaves the account like the purchase itself. */
        after = setup->marginPerUnit != 0 ? current - setup->marginPerUnit * setup->quantity - commission
                                          : current - sign * value - commission;
        room = current - limit - commission;
        fails = limit > after;
    } else if (code == SKIP_MIN_NET_EXPOSURE || code == SKIP_MIN_NET_INVESTED) {
        after = sign * value + current + commission;
        room = limit - current - commission;
        fails = limit > after;
    } else {
        after = sign * value + current + commission;
        room = limit - current - commission;
        fails = after > limit;
    }
    if (!fails) return 1;
    setup->value = 0;
    const StrategyAccount *account = GetStrategyAccount(strategy);
    double reduce = account ? account->limits.Reduce : 0;
    const StrategyRecord *r = strategy >= 0 && strategy < gStrategyCount ? &gStrategies[strategy] : nullptr;
    if (reduce > 0 && r) {
        double pointValue = setup->symbol ? setup->symbol->info.PointValue : 1.0;
        double price = r->QtyPrice == 1 ? setup->entryPrice : setup->orderPrice;
        double unitCost = price * setup->sizingFx * pointValue;
        if (unitCost > 0) {
            double reduced = RoundToStep(room / unitCost, setup->quantityStep, -1);
            if (reduced > 0 && reduced >= RoundToStep(reduce / unitCost, setup->quantityStep, -1)) {
                setup->quantity = reduced;
                setup->value = unitCost * reduced;
                setup->fraction =
                    setup->sizingBase == 0 ? 0.0 : RoundSignificant(setup->value / setup->sizingBase, 7) * share;
            }
        }
    }
    if (setup->value != 0) return 1;
    SkipWith(setup, (uint32_t)code);
    return 0;
}

/* The record and the strategies whose parent list holds it. */
static bool BelongsTo(const EvalContext *context, int32_t member, int32_t record)
{
    if (member == record) return true;
    if (context->test && context->test->strategies) return StrategyInGroup(context->test, member, record);
    const StrategyRecord *r = &gStrategies[member];
    for (int32_t g = 0; g < r->groupCount && g < STRATEGY_MAX_LINKS; g++)
        if (r->groups[g] == record) return true;
    return false;
}

/* ---- the accounts' symbols during a selection ---------------------------------------- */

/* What the account's walk counts: an open position that has entered, and a
** setup that a turn has already taken and kept. */
static bool CountsOpen(const PositionRecord *p)
{
    return p->entryBar >= 0;
}
static int32_t TakenSetups(const StrategyRecord *r)
{
    return std::min(r->setupCount, r->nextSetup);
}
/* An open position counts towards its symbol's limit unless its exit waits
** for the symbol's next open: it is gone by the first day an order for the
** symbol can fill. */
static bool HoldsItsSymbol(const PositionRecord *open)
{
    return open->exitWaitsFor == 0;
}

/* An open position whose exit at the period's open waits for its symbol's
** first day in it (exitWaitsFor) keeps its place on the account until that
** day, which a setup can take only when it cannot fill before it: its
** symbol does not trade from the first day it could fill on to the day
** before.  The record's members' positions that leave so. */
static int32_t LeavingBeforeItsFill(const EvalContext *context, int32_t record, const PositionRecord *setup)
{
    SymbolRecord *symbol = setup->symbol;
    if (gPositionState.exitsWaiting == 0 || !symbol || setup->strategyIndex < 0 || setup->strategyIndex >= gStrategyCount) return 0;
    int32_t count = 0, start = 0;
    for (int32_t m = 0; m < gStrategyCount; m++) {
        const StrategyRecord *r = &gStrategies[m];
        for (int32_t k = 0; r->openPositions && k < r->openCount; k++) {
            const PositionRecord *p = &r->openPositions[k];
            if (!CountsOpen(p) || p->exitWaitsFor == 0 || !BelongsTo(context, m, record)) continue;
            /* (A longer bar's entry fills from its own period's start.) */
            if (start == 0)
                start = std::max(GetPeriodFirstDate(context->date, 1, gSettings.BarSize2),
                                 GetPeriodFirstDate(context->date, 1, gStrategies[setup->strategyIndex].BarSize));
            const Bar *before =
                GetBarOnOrBefore(symbol, OffsetTradingDate(&gStore.dateLists[BAR_DAILY], p->exitWaitsFor, -1), BAR_DAILY);
            if (!before || before->date < start) count++;
        }
    }
    return count;
}

/* A setup without a category under a same-symbol limit of at most one asks of
** its account only whether a member already holds the symbol or has kept a
** setup in it: no sum is checked before the first one stops the count.  While
** a selection's turns run, the open positions stand still and setups are only
** added to the kept ones, so a mark per account and symbol, set the first
** time the selection asks about that account and as setups are kept, answers
** in one look what a walk over the account's positions and setups would.  A
** mark is the selection's number, so no row is ever cleared.  Greedy scoring
** re-sorts the setups already taken, so its selections walk the accounts as
** before. */
struct SelectionSymbols {
    uint32_t selection = 0;       /* the running selection; 0 outside the turns */
    uint32_t serial = 0;          /* selections so far */
    int32_t symbols = 0;          /* symbols per row of marks */
    std::vector<uint32_t> stamps; /* per account: the selection its row was made in */
    std::vector<uint32_t> marks;  /* account x symbol: the selection that saw the symbol held or kept */
};
static SelectionSymbols sSelection;

static int32_t SymbolSlot(const SymbolRecord *symbol)
{
    if (!symbol || !gStore.symbols || symbol < gStore.symbols || symbol >= gStore.symbols + sSelection.symbols) return -1;
    return (int32_t)(symbol - gStore.symbols);
}

static void BeginSelectionSymbols()
{
    sSelection.selection = 0;
    for (int32_t s = 0; s < gStrategyCount; s++)
        if (gStrategies[s].GreedyScoring == 1) return;
    size_t accounts = (size_t)gStrategyCount;
    if (sSelection.symbols != gStore.symbolCount || sSelection.stamps.size() < accounts) {
        /* Another universe or more accounts: every mark is stale. */
        sSelection.symbols = gStore.symbolCount;
        sSelection.stamps.assign(accounts, 0u);
        sSelection.marks.assign(accounts * (size_t)sSelection.symbols, 0u);
    }
    if (++sSelection.serial == 0) {
        std::fill(sSelection.stamps.begin(), sSelection.stamps.end(), 0u);
        std::fill(sSelection.marks.begin(), sSelection.marks.end(), 0u);
        sSelection.serial = 1;
    }
    sSelection.selection = sSelection.serial;
}

static bool BelongsTo(const EvalContext *context, int32_t member, int32_t record);

/* The record's row of marks for the running selection, made on first use. */
static const uint32_t *SelectionRow(const EvalContext *context, int32_t record)
{
    uint32_t *row = &sSelection.marks[(size_t)record * (size_t)sSelection.symbols];
    const uint32_t now = sSelection.selection;
    if (sSelection.stamps[(size_t)record] == now) return row;
    for (int32_t m = 0; m < gStrategyCount; m++) {
        if (!BelongsTo(context, m, record)) continue;
        const StrategyRecord *r = &gStrategies[m];
        for (int32_t k = 0; r->openPositions && k < r->openCount; k++) {
            const PositionRecord *p = &r->openPositions[k];
            int32_t slot = SymbolSlot(p->symbol);
            if (CountsOpen(p) && HoldsItsSymbol(p) && slot >= 0) row[slot] = now;
        }
        for (int32_t k = 0; r->setups && k < TakenSetups(r); k++) {
            int32_t slot = SymbolSlot(r->setups[k].symbol);
            if (r->setups[k].kept && slot >= 0) row[slot] = now;
        }
    }
    sSelection.stamps[(size_t)record] = now;
    return row;
}

/* Strategy s kept the setup: every account whose row is made and that holds s
** marks its symbol. */
static void NoteSetupKept(const EvalContext *context, int32_t s, const PositionRecord *setup)
{
    int32_t slot = SymbolSlot(setup->symbol);
    if (!sSelection.selection || slot < 0) return;
    for (int32_t record = 0; record < gStrategyCount; record++)
        if (sSelection.stamps[(size_t)record] == sSelection.selection && BelongsTo(context, s, record))
            sSelection.marks[(size_t)record * (size_t)sSelection.symbols + (size_t)slot] = sSelection.selection;
}

/* Counts and sums of the same category and symbol over the record's
** members; 0 when a category or symbol limit refused the setup. */
static int CheckSameCategoryAndSymbol(const EvalContext *context, int32_t record, PositionRecord *setup,
                                      int32_t *categoryCount, int32_t *symbolCount)
{
    const StrategyLimits &l = GetStrategyAccount(record)->limits;
    if (sSelection.selection && !setup->category[0] && l.MaxSameSym <= 1) {
        int32_t slot = SymbolSlot(setup->symbol);
        if (slot >= 0) {
            *symbolCount = SelectionRow(context, record)[slot] == sSelection.selection ? 1 : 0;
            return 1;
        }
    }
    double base = setup->sizingBase;
    double categorySum = 0, symbolSum = 0;
    bool categoryDone = false, symbolDone = false;
    bool withCategory = setup->category[0] != 0;
    for (int32_t m = 0; m < gStrategyCount; m++) {
        if (!BelongsTo(context, m, record)) continue;
        const StrategyRecord *r = &gStrategies[m];
        for (int pass = 0; pass < 2; pass++) {
            /* Only setups that a turn has already taken can be kept. */
            const PositionRecord *records = pass == 0 ? r->openPositions : r->setups;
            int32_t count = pass == 0 ? r->openCount : TakenSetups(r);
            for (int32_t k = 0; records && k < count; k++) {
                const PositionRecord *p = &records[k];
                if (p == setup || (pass == 1 && !p->kept) || (pass == 0 && !CountsOpen(p))) continue;
                double value = pass == 0 ? p->value + p->openProfit : p->value;
                if (!categoryDone && withCategory && strcmp(p->category, setup->category) == 0) {
                    if (++*categoryCount >= l.MaxSameCat) {
                        categoryDone = true;
                    } else {
                        categorySum += value;
                        if (!CheckLimitRule(record, setup, 1.0, categorySum, l.MaxCatInv, 1, SKIP_MAX_CATEGORY_INVESTED) ||
                            !CheckLimitRule(record, setup, 1.0, categorySum, l.MaxCatExp * base, 1,
                                            SKIP_MAX_CATEGORY_EXPOSURE))
                            return 0;
                    }
                }
                if (!symbolDone && p->symbol == setup->symbol && (pass == 1 || HoldsItsSymbol(p))) {
                    if (++*symbolCount >= l.MaxSameSym) {
                        symbolDone = true;
                    } else {
                        symbolSum += value;
                        if (!CheckLimitRule(record, setup, 1.0, symbolSum, l.MaxSymInv, 1, SKIP_MAX_SYMBOL_INVESTED) ||
                            !CheckLimitRule(record, setup, 1.0, symbolSum, l.MaxSymExp * base, 1,
                                            SKIP_MAX_SYMBOL_EXPOSURE))
                            return 0;
                    }
                }
            }
        }
    }
    return 1;
}

/* The turn score of the context strategy, for the selection trace. */
static void TraceLimitDecision(const EvalContext *context, int32_t record, const PositionRecord *setup)
{
    if (!gSettings.AddLog || !gSettings.KeepSkipped || !context->strategy) return;
    if (context->strategy->kind == STRATEGY_KIND_BENCHMARK) return;
    const StrategyAccount *a = GetStrategyAccount(context->strategyIndex);
    char name[STRATEGY_NAME_SIZE + 40];
    FormatText(name, sizeof name, "%s (%g)", context->strategy->name, a ? a->turnScore : 0.0);
    char parent[STRATEGY_NAME_SIZE + 8] = "";
    if (record != context->strategyIndex) FormatText(parent, sizeof parent, " (%s)", gStrategies[record].name);
    const char *symbol = setup->symbol ? setup->symbol->info.Symbol : "";
    if (setup->skipped)
        LogPrintf("%s skips %s - %s%s", name, symbol, GetTradeReason(nullptr, (int32_t)setup->skipReason, 1), parent);
    else if (gStrategies[record].kind != STRATEGY_KIND_STATS_GROUP)
        LogPrintf("%s keeps %s", name, symbol);
}

/* A setup whose entry limit or stop its bar does not reach stays kept
** through these checks: it is still an order that the account would have to
** hold room for, and which of the day's orders fill cannot be known when the
** orders are chosen.  So the kept flag, not the skipped one, says whether the
** setup is still in the running here.  A setup that passes is added to the
** figures of its strategy and of every group above it once, when the checks
** of its own strategy end, so the groups' limits hold among the setups of
** one date. */
int CheckSetupLimits(EvalContext *context, int32_t record, PositionRecord *setup)
{
    if (setup->consumed || !setup->kept) return 0;
    StrategyAccount *a = GetStrategyAccount(record);
    if (!a) return 0;
    const StrategyRecord *r = &gStrategies[record];
    const StrategyLimits &l = a->limits;
    const bool own = record == setup->strategyIndex;
    double base = setup->sizingBase;
    int32_t side = setup->side < 0 ? -1 : 1;
    bool governed = setup->tradeListRow > 0 && gStrategies[setup->strategyIndex].tradeListRowCount > 0;
    if (governed) {
        if (own && r->kind != STRATEGY_KIND_STATS_GROUP) AddSetupToPendingTotals(record, setup);
        TraceLimitDecision(context, record, setup);
        return (int)setup->kept;
    }
    if (setup->heldCount == 0) {
        if (a->openCount >= l.MaxPositions && a->openCount - LeavingBeforeItsFill(context, record, setup) >= l.MaxPositions) {
            SkipWith(setup, SKIP_MAX_POSITIONS);
        } else if (a->newCount >= l.MaxNewPos) {
            SkipWith(setup, SKIP_MAX_NEW_POSITIONS);
        }
    }
    double longValue = a->totalValue - a->shortValue;
    double net = a->totalValue - 2 * a->shortValue;
    int32_t categoryCount = 0, symbolCount = 0;
    bool passed =
        setup->kept && CheckLimitRule(record, setup, 1.0, a->totalValue, l.MaxExposure * base, 1, SKIP_MAX_EXPOSURE) &&
        CheckLimitRule(record, setup, 1.0, a->totalValue, l.MaxInvested, 1, SKIP_MAX_INVESTED) &&
        CheckLimitRule(record, setup, 1.0, a->newValue, l.MaxNewExp * base, 1, SKIP_MAX_NEW_EXPOSURE) &&
        CheckLimitRule(record, setup, 1.0, a->newValue, l.MaxNewInv, 1, SKIP_MAX_NEW_INVESTED) &&
        (side < 0 ? CheckLimitRule(record, setup, 1.0, a->shortValue, l.MaxShortExp * base, 1, SKIP_MAX_SHORT_EXPOSURE) &&
                 CheckLimitRule(record, setup, 1.0, a->shortValue, l.MaxShortInv, 1, SKIP_MAX_SHORT_INVESTED)
                  : CheckLimitRule(record, setup, 1.0, longValue, l.MaxLongExp * base, 1, SKIP_MAX_LONG_EXPOSURE) &&
                 CheckLimitRule(record, setup, 1.0, longValue, l.MaxLongInv, 1, SKIP_MAX_LONG_INVESTED)) &&
        CheckLimitRule(record, setup, 1.0, net, l.MaxNetExp * base, side, SKIP_MAX_NET_EXPOSURE) &&
        CheckLimitRule(record, setup, 1.0, net, l.MaxNetInv, side, SKIP_MAX_NET_INVESTED) &&
        CheckLimitRule(record, setup, 1.0, net, l.MinNetExp * base, side, SKIP_MIN_NET_EXPOSURE) &&
        CheckLimitRule(record, setup, 1.0, net, l.MinNetInv, side, SKIP_MIN_NET_INVESTED) &&
        CheckLimitRule(record, setup, 1.0, a->freeCash, l.MinFreeCash, side, SKIP_MIN_FREE_CASH) &&
        CheckSameCategoryAndSymbol(context, record, setup, &categoryCount, &symbolCount);
    if (passed) {
        if (setup->category[0] && categoryCount >= l.MaxSameCat)
            SkipWith(setup, SKIP_MAX_SAME_CATEGORY);
        else if (symbolCount >= l.MaxSameSym)
            SkipWith(setup, SKIP_MAX_SAME_SYMBOL);
    }
    FormulaSlot *skip = &gStrategies[record].slots[SLOT_SETUP_SKIP];
    if (setup->kept && own && IsSlotGiven(skip)) {
        context->symbol = setup->symbol;
        context->position = setup;
        SyncContextBar(context);
        if (!EvalFormulaText(skip, context, setup->label, POSITION_TEXT_SIZE) || setup->label[0]) {
            SkipWith(setup, SKIP_SETUP_SKIP);
            const FormulaNode *nodes = skip->nodes[context->slot >= 0 && context->slot < FORMULA_WORKER_COPIES ? context->slot : 0];
            /* A negative value of the formula also ends the strategy's turn. */
            if (nodes && nodes[0].value < 0) setup->turnEnd = 1;
        }
    }
    if (setup->kept) {
        for (int32_t g = 0; g < r->groupCount && g < STRATEGY_MAX_LINKS; g++) {
            int32_t parent = r->groups[g];
            if (parent < 0 || parent >= gStrategyCount || parent == record) continue;
            if (!CheckSetupLimits(context, parent, setup)) return 0;
        }
        if (own && r->kind != STRATEGY_KIND_STATS_GROUP) AddSetupToPendingTotals(record, setup);
    }
    TraceLimitDecision(context, record, setup);
    return (int)setup->kept;
}

int CheckEntriesLimit(int32_t strategy, PositionRecord *setup, int withParents)
{
    if (setup->skipped || !setup->kept) return 1;
    int32_t chain[PARENT_CHAIN_MAX];
    int32_t n = withParents ? CollectParentChain(strategy, chain, PARENT_CHAIN_MAX) : 1;
    if (!withParents) chain[0] = strategy;
    for (int32_t k = 0; k < n; k++) {
        const StrategyAccount *a = GetStrategyAccount(chain[k]);
        if (a && gStrategies[chain[k]].entriesToday >= a->limits.MaxEntries) {
            SkipWith(setup, SKIP_MAX_ENTRIES);
            return 0;
        }
    }
    return 1;
}

void SortAndLogSetups(EvalContext *context, int32_t strategy)
{
    if (strategy < 0 || strategy >= gStrategyCount) return;
    StrategyRecord *r = &gStrategies[strategy];
    if (r->setupCount >= 2) SortPositionRecords(r->setups, r->setupCount, CompareSetupsForOpening);
    if (gSettings.AddLog && context) LogSetupsOrders(context, 1);
}

/* ---- selection --------------------------------------------------------------------------- */

/* The strategy takes part in a selection of kind (or of the one named) in the context's phase. */
static bool TakesPart(const EvalContext *context, int32_t s, int32_t kind, int32_t named)
{
    const StrategyRecord *r = &gStrategies[s];
    if (r->kind != kind || r->kind == STRATEGY_KIND_STATS_GROUP) return false;
    if (named >= 0 && s != named) return false;
    /* The list orders tomorrow's open: setups for its close are not ordered
    ** and take no place from the open's entries, as in the next day's test. */
    if (gRun.generatingOrders) return gScriptSettings.OrdersLiveData || r->EntryTime != TIME_THIS_CLOSE;
    if (context->barPhase == PHASE_OPEN) return r->EntryTime != TIME_THIS_CLOSE;
    if (context->barPhase == PHASE_CLOSE) return r->EntryTime == TIME_THIS_CLOSE;
    return false;
}

/* The context on strategy s for its selection; false when the date is no
** bar date of the strategy.  The caller restores date, phase and bar size. */
static bool EnterStrategy(EvalContext *context, int32_t s)
{
    StrategyRecord *r = &gStrategies[s];
    context->strategy = r;
    context->strategyIndex = s;
    context->barSize = r->BarSize;
    if (r->CalendarSym > 0) ClampDateToSymbolBar(context);
    if (!gRun.generatingOrders && r->EntryTime != TIME_THIS_CLOSE) context->barPhase = PHASE_OPEN;
    return IsBarDate(context, context->date);
}

/* Ranks a strategy's setups and cuts them at MaxSetups. */
static void RankSetups(EvalContext *context, int32_t s)
{
    StrategyRecord *r = &gStrategies[s];
    StrategyAccount *a = GetStrategyAccount(s);
    for (int32_t k = 0; k < r->setupCount; k++) r->setups[k].kept = IsEligible(&r->setups[k]);
    SortPositionRecords(r->setups, r->setupCount, CompareSetupsByScore);
    int32_t maxSetups = a->limits.MaxSetups < 0 ? 0 : a->limits.MaxSetups;
    bool greedy = r->GreedyScoring == 1;
    int32_t kept = 0;
    for (int32_t k = 0; k < r->setupCount; k++) {
        PositionRecord *p = &r->setups[k];
        if (!greedy && k >= maxSetups) SkipWith(p, SKIP_MAX_SETUPS);
        if (p->kept) kept++;
        p->setupRank = (uint32_t)(k + 1);
    }
    r->keptSetupCount = kept;
    if (!greedy && maxSetups < r->setupCount) r->setupCount = maxSetups;
    if (r->DynamicSizing == 1) RefreshStrategyAccount(context, s);
}

/* Evaluates SetupScore again for the setups still open to a greedy turn. */
static void RescoreGreedy(EvalContext *context, StrategyRecord *r)
{
    FormulaSlot *score = &r->slots[SLOT_SETUP_SCORE];
    for (int32_t k = 0; k < r->setupCount; k++) {
        PositionRecord *p = &r->setups[k];
        if (p->consumed || !IsEligible(p) || !IsSlotGiven(score)) continue;
        context->position = p;
        context->symbol = p->symbol;
        SyncContextBar(context);
        EvalFormulaSlot(score, context, &p->setupScore);
    }
    SortPositionRecords(r->setups, r->setupCount, CompareSetupsByScore);
}

/* One strategy's part of a selection turn. */
static void TakeTurn(EvalContext *context, int32_t s)
{
    StrategyRecord *r = &gStrategies[s];
    StrategyAccount *a = GetStrategyAccount(s);
    a->turnKept = a->turnTried = 0;
    while (r->nextSetup < r->setupCount) {
        int32_t perTurn = a->limits.MaxPerTurn;
        if ((perTurn > 0 && a->turnKept >= perTurn) || (perTurn < 0 && a->turnTried >= -perTurn)) break;
        PositionRecord *setup = &r->setups[r->nextSetup];
        setup->kept = IsEligible(setup);
        setup->turnEnd = 0;
        const int32_t *held = r->DynamicSizing == 1 ? GetHeldCount(s, setup->symbol) : nullptr;
        setup->heldCount = held ? *held : 0;
        a->turnTried++;
        if (CheckSetupLimits(context, s, setup)) {
            NoteSetupKept(context, s, setup);
            setup->selectionNumber = ++gPositionState.selectionCounter;
            r->keptSetupCount++;
            a->turnKept++;
            int32_t chain[PARENT_CHAIN_MAX];
            int32_t n = CollectParentChain(s, chain, PARENT_CHAIN_MAX);
            for (int32_t k = 0; k < n; k++) {
                if (StatCell *cell = GetCurrentCell(context, chain[k])) cell->entryOrders++;
            }
        }
        bool turnEnd = setup->turnEnd != 0;
        if (r->GreedyScoring == 1) {
            setup->consumed = 1;
            RescoreGreedy(context, r);
            int32_t maxSetups = a->limits.MaxSetups < 0 ? 0 : a->limits.MaxSetups;
            if (r->keptSetupCount >= maxSetups) {
                for (int32_t k = maxSetups; k < r->setupCount; k++) SkipWith(&r->setups[k], SKIP_MAX_SETUPS);
                r->nextSetup++;
                r->setupCount = std::min(r->setupCount, r->keptSetupCount);
                break;
            }
        }
        r->nextSetup++;
        if (turnEnd) break;
    }
}

void SelectSetups(EvalContext *context, int32_t kind, int32_t named)
{
    int32_t date = context->date, phase = context->barPhase, barSize = context->barSize;
    int32_t turns = 0;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        if (!TakesPart(context, s, kind, named)) continue;
        if (EnterStrategy(context, s)) {
            RankSetups(context, s);
            turns = std::max(turns, gStrategies[s].setupCount);
        }
        context->date = date, context->barPhase = phase, context->barSize = barSize;
    }
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        bool inPass = named >= 0              ? s == named
            : kind == STRATEGY_KIND_BENCHMARK ? r->kind == STRATEGY_KIND_BENCHMARK
                                              : r->kind != STRATEGY_KIND_BENCHMARK;
        if (!inPass) continue;
        for (int32_t k = 0; k < r->setupCount; k++) r->setups[k].kept = r->setups[k].selectionNumber = 0;
        r->keptSetupCount = 0;
        r->nextSetup = 0;
        r->entriesToday = 0;
    }
    int32_t *order = gPositionState.turnOrder;
    BeginSelectionSymbols();
    for (int32_t t = 1; t <= turns && order; t++) {
        for (int32_t s = 0; s < gStrategyCount; s++) {
            StrategyAccount *a = GetStrategyAccount(s);
            StrategyRecord *r = &gStrategies[s];
            order[s] = s;
            if (!a) continue;
            a->turnScore = -(s + 1);
            FormulaSlot *score = &r->slots[SLOT_STRATEGY_SCORE];
            if (TakesPart(context, s, kind, named) && IsSlotGiven(score) && r->nextSetup < r->setupCount) {
                if (EnterStrategy(context, s)) {
                    context->position = &r->setups[r->nextSetup];
                    context->symbol = r->CalendarSym > 0 && r->CalendarSym <= gStore.symbolCount ? &gStore.symbols[r->CalendarSym - 1]
                                                                                                 : &gStore.calendar;
                    SyncContextBar(context);
                    EvalFormulaSlot(score, context, &a->turnScore);
                }
                context->date = date, context->barPhase = phase, context->barSize = barSize;
            }
        }
        std::sort(order, order + gStrategyCount, CompareStrategiesForTurn);
        bool first = true;
        for (int32_t k = 0; k < gStrategyCount; k++) {
            int32_t s = order[k];
            StrategyRecord *r = &gStrategies[s];
            if (!TakesPart(context, s, kind, named) || r->nextSetup >= r->setupCount) continue;
            if (EnterStrategy(context, s)) {
                if (first && gSettings.AddLog && gSettings.KeepSkipped) LogPrintf("\n## Setup Selection Turn %d ##", t);
                first = false;
                TakeTurn(context, s);
            }
            context->date = date, context->barPhase = phase, context->barSize = barSize;
        }
    }
    sSelection.selection = 0;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        if (!TakesPart(context, s, kind, named) || !IsSlotGiven(&r->slots[SLOT_QTY_FINAL])) continue;
        bool barDate = EnterStrategy(context, s);
        if (!gRun.generatingOrders && r->EntryTime != TIME_NEXT_CLOSE) context->barPhase = PHASE_OPEN;
        for (int32_t k = 0; barDate && k < r->setupCount; k++) {
            PositionRecord *p = &r->setups[k];
            if (!p->kept) continue;
            context->position = p;
            context->symbol = p->symbol;
            const Bar *bar = SyncContextBar(context);
            if (!ComputePositionSize(context, 1)) continue;
            p->requestedQuantity = p->quantity;
            if (p->quantity == 0) {
                SkipWith(p, SKIP_ZERO_QUANTITY);
                if (bar) p->orderPrice = p->entryPrice = bar->close;
            }
        }
        context->date = date, context->barPhase = phase, context->barSize = barSize;
    }
}
