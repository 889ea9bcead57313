/* trace.cpp -- the simulation trace: the tab-separated lines the test log
** gets with AddLog.  The column order is fixed by the header the date loop
** writes (DATE, TIME, STRATEGY, INFO, SYMBOL, ACTION, QUANTITY, PRICE, FX,
** SLIP, COMM, DIVIDEND, PROFIT, ALLOC, EQUITY, COST, M2M, EXPOSURE, CASH,
** SCORE1, SCORE2, REASON).
*/
#include "engine/trace.h"

#include <cmath>
#include <cstring>

#include "engine/date_loop.h"
#include "engine/futures.h"
#include "engine/positions.h"
#include "records/test_records.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/strategy.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

static const char *const kPhaseNames[4] = {"n/a", "open", "intraday", "close"};
enum { LIMIT_UNSET = 2147483647 };

/* The currency money is written in while a line is built. */
static const char *sCurrency = nullptr;

/* The share of the allocation that value is, times scale.  Positions added
** and taken back again can leave their summed values a rounding residue
** instead of 0; less than half a cent is no money invested. */
static double ExposureOf(double value, double allocation, double scale)
{
    return allocation != 0 && std::fabs(value) >= 0.005 ? value * scale / allocation : 0.0;
}

static const char *PhaseName(int32_t phase)
{
    return phase >= 0 && phase < 4 ? kPhaseNames[phase] : kPhaseNames[0];
}

void LogNumber(double value, int32_t code, int32_t decimals, int tab)
{
    char text[NUMBER_TEXT_SIZE];
    FormatNumber(value, code, decimals, 0, sCurrency, text);
    LogPrintf(tab ? "%s\t" : "%s", text);
}

static void LogText(const char *text)
{
    LogPrintf("%s\t", text);
}

/* DATE (day, else the first date of the context date's period), TIME and
** STRATEGY; the line continues until EndLine. */
static void BeginLineOn(const EvalContext *context, int32_t day, const char *phaseName)
{
    char date[DATE_TEXT_SIZE];
    FormatDate(day > 0 ? day : GetPeriodFirstDate(context->date, 1, context->barSize), gSettings.DateDisplayFormat, date);
    sCurrency = context->test ? context->test->currency : nullptr;
    gRun.logContinueLine = 1;
    LogPrintf("%s\t%s\t%s\t", date, phaseName ? phaseName : PhaseName(context->barPhase),
              context->strategy ? context->strategy->name : "");
}

static void BeginLine(const EvalContext *context, const char *phaseName)
{
    BeginLineOn(context, 0, phaseName);
}

static void EndLine()
{
    gRun.logContinueLine = 0;
    LogPrintf("%s", "");
    sCurrency = nullptr;
}

void LogNamedValue(EvalContext *context, const char *name, double value)
{
    if (!name || !name[0] || value == 0) return;
    BeginLine(context, nullptr);
    if (std::fabs(value) < 1e14) {
        LogPrintf("%s = ", name);
        LogNumber(value, DISPLAY_CURRENCY, -1, 0);
        LogPrintf("%s", " ");
    }
    EndLine();
}

void LogPositionLimit(EvalContext *context)
{
    const StrategyAccount *account = GetStrategyAccount(context->strategyIndex);
    BeginLine(context, nullptr);
    if (account && context->strategy) {
        const StrategyLimits &l = account->limits;
        const StrategyRecord *s = context->strategy;
        struct IntLimit {
            const char *name;
            int32_t value;
            bool shown;
        };
        /* clang-format off */
        const IntLimit ints[] = {
            {"MaxSetups", l.MaxSetups, s->keepTrades != 0},
            {"MaxEntries", l.MaxEntries, s->keepTrades != 0},
            {"MaxPositions", l.MaxPositions, true},
            {"MaxNewPos", l.MaxNewPos, true},
            {"MaxSameCat", l.MaxSameCat, true},
            {"MaxSameSym", l.MaxSameSym, l.MaxSameSym > 1 || s->kind != STRATEGY_KIND_STRATEGY},
        };
        /* clang-format on */
        for (const IntLimit &k : ints)
            if (k.shown && k.value != LIMIT_UNSET) LogPrintf("%s = %d ", k.name, k.value);
        struct AmountLimit {
            const char *name;
            double value;
            int32_t code;
        };
        /* clang-format off */
        const AmountLimit amounts[] = {
            {"MaxExposure", l.MaxExposure, DISPLAY_PERCENT}, {"MaxNewExp", l.MaxNewExp, DISPLAY_PERCENT},
            {"MaxSymExp", l.MaxSymExp, DISPLAY_PERCENT},     {"MaxCatExp", l.MaxCatExp, DISPLAY_PERCENT},
            {"MaxInvested", l.MaxInvested, DISPLAY_CURRENCY},   {"MaxNewInv", l.MaxNewInv, DISPLAY_CURRENCY},
            {"MaxSymInv", l.MaxSymInv, DISPLAY_CURRENCY},       {"MaxCatInv", l.MaxCatInv, DISPLAY_CURRENCY},
            {"MaxLongInv", l.MaxLongInv, DISPLAY_CURRENCY},     {"MaxShortInv", l.MaxShortInv, DISPLAY_CURRENCY},
            {"MaxNetInv", l.MaxNetInv, DISPLAY_CURRENCY},       {"MinNetInv", l.MinNetInv, DISPLAY_CURRENCY},
        };
        /* clang-format on */
        for (const AmountLimit &a : amounts) {
            if (!(a.value > -1e14 && a.value < 1e14)) continue;
            LogPrintf("%s = ", a.name);
            LogNumber(a.value, a.code, -1, 0);
            LogPrintf("%s", " ");
        }
    }
    EndLine();
}

void LogSetupsOrders(EvalContext *context, int which)
{
    StrategyRecord *s = context->strategy;
    if (!s) return;
    if (context->strategyIndex == 0) LogPrintf("%s", "");
    const StrategyAccount *account = GetStrategyAccount(context->strategyIndex);
    int32_t count = 0;
    for (int32_t i = 0; i < s->setupCount; i++) {
        const PositionRecord *p = &s->setups[i];
        if (which > 0 || (which < 0 && p->consumed) || (which == 0 && p->kept)) count++;
    }
    BeginLine(context, nullptr);
    LogPrintf("%d %s: ", count, which != 0 ? (count == 1 ? "Setup" : "Setups") : (count == 1 ? "Order" : "Orders"));
    const int32_t mark = account ? (which != 0 ? account->limits.MaxSetups : account->limits.MaxEntries) : 0;
    for (int32_t i = 0; i < s->setupCount; i++) {
        const PositionRecord *p = &s->setups[i];
        if (!(which > 0 || (which < 0 && p->consumed) || (which == 0 && p->kept))) continue;
        const uint32_t r = p->skipReason;
        const bool skipped = r != 0 && !(r >= 7 && r <= 10);
        LogPrintf("%d=%s%s(%g)%s;", i + 1, skipped ? "~" : "", p->symbol ? p->symbol->info.Symbol : "",
                  which != 0 ? p->setupScore : p->entryScore, i + 1 == mark ? "{MAX}" : "");
    }
    EndLine();
}

/* The split of the symbol's daily bar at the context date; 1 when none. */
static double CurrentSplit(const EvalContext *context, SymbolRecord *symbol)
{
    Bar *bar = nullptr;
    if (!symbol || FindBarIndex(symbol, BAR_DAILY, context->date, PHASE_CLOSE, context->slot, &bar) < 0 || !bar ||
        bar->split == 0)
        return 1.0;
    return bar->split;
}

void LogPortfolioState(EvalContext *context)
{
    TestRecord *test = context->test;
    if (!test) return;
    LogPrintf("%s", "");
    StrategyRecord *savedStrategy = context->strategy;
    const int32_t savedIndex = context->strategyIndex;
    for (int32_t s = 0; s < gStrategyCount && s < test->strategyCount; s++) {
        const StatCell *cell = CellAt(test, context->resultRow, s);
        if (!cell) continue;
        StrategyRecord *strategy = &gStrategies[s];
        context->strategy = strategy;
        context->strategyIndex = s;
        const bool marked = test->strategies[s].markedToMarket != 0;
        const double v = cell->invested + (marked ? cell->markToMarket : 0), a = cell->allocation;
        BeginLine(context, nullptr);
        LogNumber(v, DISPLAY_CURRENCY, -1, 0);
        LogPrintf("%s", " of ");
        LogNumber(a, DISPLAY_CURRENCY, -1, 0);
        LogPrintf(" (%.2f%%) invested", ExposureOf(v, a, 100));
        if (s == test->mainStrategy || strategy->allocationFraction != 1.0) {
            LogPrintf("%s", " [");
            LogNumber(ComputeCellEquity(cell, test->strategies[s].compounded), DISPLAY_CURRENCY, -1, 0);
            LogPrintf("%s", " cash]");
        }
        if (strategy->keepTrades) {
            const int32_t n = strategy->openCount;
            LogPrintf(" in %d position%s%s", n, n == 1 ? "" : "s", n > 0 ? ":" : "");
            for (int32_t k = 0; k < n; k++) {
                const PositionRecord *p = &strategy->openPositions[k];
                double q = p->quantity;
                const int type = p->symbol ? p->symbol->securityType : SECURITY_STOCK;
                if (type != SECURITY_FOREX && type != SECURITY_FUTURES)
                    q = q * (p->entrySplit != 0 ? p->entrySplit : 1.0) / CurrentSplit(context, p->symbol);
                if (strategy->Side == 0 && p->side < 0) q = -q;
                LogPrintf(" %s(%g)%s", p->symbol ? p->symbol->info.Symbol : "", q, k + 1 < n ? ";" : "");
            }
        }
        EndLine();
    }
    context->strategy = savedStrategy;
    context->strategyIndex = savedIndex;
}

/* The value rounded to 7 significant digits. */
static double Round7(double value)
{
    if (value == 0 || !std::isfinite(value)) return value;
    const double scale = std::pow(10.0, 6 - (int)std::floor(std::log10(std::fabs(value))));
    return std::round(value * scale) / scale;
}

void LogEntryExit(EvalContext *context, int action, const TradeRecord *trade)
{
    const PositionRecord *p = context->position;
    TestRecord *test = context->test;
    if (!p || !test) return;
    const StatCell *cell = CellAt(test, context->resultRow, context->strategyIndex);
    const bool marked = context->strategyIndex >= 0 && context->strategyIndex < test->strategyCount &&
        test->strategies[context->strategyIndex].markedToMarket != 0;
    const bool compounded = context->strategyIndex >= 0 && context->strategyIndex < test->strategyCount &&
        test->strategies[context->strategyIndex].compounded != 0;

    const char *timeName = PhaseName(context->barPhase);
    if (action != TRACE_NO_ENTRY) {
        const int32_t timing = action == TRACE_ENTRY ? p->entryTiming : p->exitTiming;
        timeName = timing < context->barPhase ? "intra-open" : PhaseName(timing);
    }
    /* An exit is dated by its fill, which for a strategy of a longer bar size
    ** is a day inside the period rather than the period's first date. */
    BeginLineOn(context, action == TRACE_EXIT && trade ? trade->dateOut : 0, timeName);
    LogText("");
    char symbol[CONTRACT_NAME_SIZE] = "";
    if (p->symbol) CopyString(symbol, sizeof symbol, p->symbol->info.Symbol, -1);
    double contract = 0, month = 0;
    if (p->symbol && IsContinuousFutures(p->symbol)) {
        const int daily = context->barSize == BAR_DAILY;
        if (FindContractEvent(p->symbol, EVENT_CONTRACT, context->date, 0, 0, daily, 0, &contract)) {
            FindContractEvent(p->symbol, EVENT_CONTRACT_SECOND, context->date, 0, 0, daily, 0, &month);
            FormatContractName(p->symbol, (int32_t)contract, (int32_t)month, symbol);
        }
    }
    LogText(symbol);

    const double alloc = cell ? cell->allocation : 0;
    const double invested = cell ? cell->invested : 0, m2m = cell ? cell->markToMarket : 0;
    const double equity = cell ? cell->cashInOut + cell->equityBase + (marked ? m2m : 0) : 0;
    const double exposure = ExposureOf(invested + (marked ? m2m : 0), alloc, 1);
    const bool isForexOrFutures = p->symbol && (p->symbol->securityType == SECURITY_FOREX || p->symbol->securityType == SECURITY_FUTURES);
    if (action == TRACE_NO_ENTRY) {
        LogText(p->skipReason >= 7 && p->skipReason <= 10 ? "no entry" : "skipped");
        LogNumber(p->quantity, DISPLAY_NUMBER, -4, 1);
        LogNumber(p->entryPrice, DISPLAY_NUMBER, -1, 1);
        for (int k = 0; k < 5; k++) LogText("");
    } else if (action == TRACE_ENTRY) {
        LogText(p->side >= 0 ? "buy" : "short");
        LogNumber(p->quantity, DISPLAY_NUMBER, -4, 1);
        LogNumber(p->entryPrice, DISPLAY_NUMBER, -1, 1);
        LogNumber(p->entryFx, DISPLAY_NUMBER, 5, 1);
        LogNumber(p->entrySlippage, DISPLAY_NUMBER, -1, 1);
        LogNumber(p->entryCommission, DISPLAY_NUMBER, -1, 1);
        LogText("");
        LogText("");
    } else {
        const TradeRecord *t = trade;
        double q = t ? t->quantityOut : p->quantity;
        if (t && !isForexOrFutures && t->splitOut != 0) q = q * (t->splitIn != 0 ? t->splitIn : 1.0) / t->splitOut;
        LogText(p->side >= 0 ? "sell" : "cover");
        LogNumber(Round7(q), DISPLAY_NUMBER, -4, 1);
        LogNumber(t ? t->priceOut : p->exitPrice, DISPLAY_NUMBER, -1, 1);
        LogNumber(t ? t->fxOut : p->exitFx, DISPLAY_NUMBER, 5, 1);
        LogNumber(t ? t->slippageOut : p->exitSlippage, DISPLAY_NUMBER, -1, 1);
        LogNumber(t ? t->commissionOut : p->exitCommission, DISPLAY_NUMBER, -1, 1);
        LogNumber(t ? t->dividends : p->dividends, DISPLAY_CURRENCY, 2, 1);
        LogNumber(TradeNetProfit(t), DISPLAY_CURRENCY, 2, 1);
    }
    LogNumber(alloc, DISPLAY_CURRENCY, -1, 1);
    LogNumber(equity, DISPLAY_CURRENCY, 0, 1);
    LogNumber(invested, DISPLAY_CURRENCY, 0, 1);
    LogNumber(m2m, DISPLAY_CURRENCY, 0, 1);
    LogNumber(exposure, DISPLAY_PERCENT, 2, 1);
    if (action == TRACE_NO_ENTRY)
        LogNumber(cell ? cell->equityBase - cell->invested : 0, DISPLAY_CURRENCY, -1, 1);
    else
        LogNumber(cell ? ComputeCellEquity(cell, compounded) : 0, DISPLAY_CURRENCY, -1, 1);
    if (action == TRACE_EXIT) {
        LogNumber(0, DISPLAY_NUMBER, -1, 1);
        LogNumber(0, DISPLAY_NUMBER, -1, 1);
    } else {
        LogNumber(p->setupScore, DISPLAY_NUMBER, -1, 1);
        LogNumber(p->entryScore, DISPLAY_NUMBER, -1, 1);
    }
    const char *reason;
    if (action == TRACE_NO_ENTRY)
        reason = GetTradeReason(p->label, (int32_t)p->skipReason, 1);
    else if (action == TRACE_ENTRY)
        reason = "entry";
    else
        reason = GetTradeReason(p->label, trade ? trade->reason : (int32_t)p->exitReason, 0);
    LogText(reason);
    EndLine();
}

void LogDebugItem(EvalContext *context, int32_t slot)
{
    if (!gSettings.AddDebug || !context->strategy || slot < 0 || slot >= STRATEGY_SLOTS) return;
    FormulaSlot *formula = &context->strategy->slots[slot];
    if (!IsSlotGiven(formula)) return;
    char text[DEBUG_TEXT_SIZE];
    if (!EvalFormulaText(formula, context, text, (int)sizeof text) || !text[0]) return;
    int32_t count = 0, barDate = 0;
    const Bar *bars = context->symbol ? GetBarArray(context->symbol, context->barSize, &count) : nullptr;
    /* The bar the formulas read: before the close, the one before the day's. */
    if (bars && context->lastBar >= 0 && context->lastBar < count) barDate = bars[context->lastBar].date;
    char date[DATE_TEXT_SIZE] = "";
    if (barDate) FormatDate(barDate, gSettings.DateDisplayFormat, date);
    BeginLine(context, nullptr);
    LogText("*DEBUG*");
    LogText(context->symbol ? context->symbol->info.Symbol : "");
    LogText(formula->name);
    LogText(date);
    LogText(text);
    EndLine();
}
