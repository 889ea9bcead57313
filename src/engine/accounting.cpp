/* accounting.cpp -- interest, cash flows, equity statistics, allocation and
** the positions CSV. */
#include "engine/accounting.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/date_loop.h"
#include "engine/positions.h"
#include "engine/trace.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

static const double kNoValue = std::numeric_limits<double>::quiet_NaN();

static int32_t MainStrategyIndex(const TestRecord *test)
{
    return test->mainStrategy < 1 ? 0 : test->mainStrategy;
}

static int IsMarkedToMarket(const TestRecord *test, int32_t s)
{
    return test->strategies && s >= 0 && s < test->strategyCount && test->strategies[s].markedToMarket;
}

static int IsCompounded(const TestRecord *test, int32_t s)
{
    return test->strategies && s >= 0 && s < test->strategyCount && test->strategies[s].compounded;
}

void AccrueDailyInterest(EvalContext *context)
{
    TestRecord *test = context->test;
    if (!test) return;
    int32_t main = MainStrategyIndex(test);
    context->strategyIndex = main;
    context->strategy = StrategyByNumber(main + 1);
    StatCell *today = StrategyCell(context, main);
    if (!today) return;
    StatCell *previous = context->resultRow > 0 ? CellAt(test, context->resultRow - 1, main) : nullptr;

    int32_t rateSymbol = gScriptSettings.RiskFreeRateSym;
    if (rateSymbol > 0 && rateSymbol <= gStore.symbolCount) {
        Bar *bar = nullptr;
        if (FindBarIndex(&gStore.symbols[rateSymbol - 1], gSettings.BarSize2, context->date, PHASE_CLOSE, context->slot, &bar) >=
                0 &&
            bar) {
            today->riskFreeRate = bar->close / 100;
        } else if (previous) {
            today->riskFreeRate = previous->riskFreeRate;
        } else {
            return;
        }
        /* The rate is the account's: every strategy's S.RiskFreeRate reads
        ** it, so each one's Sharpe ratio subtracts it. */
        for (int32_t s = 0; s < test->strategyCount; s++)
            if (StatCell *cell = StrategyCell(context, s)) cell->riskFreeRate = today->riskFreeRate;
    }
    if (!previous) return;
    const ScriptSettingsBlock &s = gScriptSettings;
    if (s.CashIntPct == 0 && s.MarginIntPct == 0 && s.ShortLoanIntPct == 0 && s.ShortPrcdsIntPct == 0) return;

    double days = DaysBetween((int)previous->date, (int)today->date);
    double freeCash = ComputeCellEquity(previous, IsCompounded(test, main));
    double shortValue = previous->shortInvested - previous->shortMarginedValue;
    double rate = previous->riskFreeRate;
    struct {
        const char *name;
        double amount;
        int set;
    } amounts[4] = {
        {"Free Cash Interest", fmax(s.CashIntPct + rate, 0) / 365.25 * days * fmax(freeCash, 0), s.CashIntPct != 0},
        {"Margin Interest", fmax(s.MarginIntPct + rate, 0) / 365.25 * days * fmin(freeCash, 0), s.MarginIntPct != 0},
        {"Short Loan Interest", -fmax(s.ShortLoanIntPct, 0) / 365.25 * days * fmax(shortValue, 0),
         s.ShortLoanIntPct != 0},
        {"Short Proceeds Interest", fmax(s.ShortPrcdsIntPct + rate, 0) / 365.25 * days * fmax(shortValue, 0),
         s.ShortPrcdsIntPct != 0},
    };
    double net = 0;
    for (auto &a : amounts) {
        if (!a.set) continue;
        net += a.amount;
        if (gSettings.AddLog) LogNamedValue(context, a.name, a.amount);
    }
    today->interest = net;
    today->equityBase += net;
    if (gSettings.AddLog) LogNamedValue(context, "Net Interest", net);
}

/* ---- cash flows ----------------------------------------------------------------- */

/* Sum of a dated list's amounts after previousDate up to date. */
static double DatedSum(const GrowList *list, int32_t previousDate, int32_t date)
{
    double sum = 0;
    const DatedAmount *items = (const DatedAmount *)list->items;
    for (int32_t k = 0; items && k < list->count; k++) {
        if (items[k].date > previousDate && items[k].date <= date) sum += items[k].amount;
    }
    return sum;
}

/* The start of a trace line: period date, phase name, strategy name. */
static void LogLineStart(const EvalContext *context)
{
    static const char *const kPhaseNames[4] = {"n/a", "open", "intraday", "close"};
    char date[DATE_TEXT_SIZE];
    FormatDate(GetPeriodFirstDate(context->date, 1, context->barSize), gSettings.DateDisplayFormat, date);
    int phase = context->barPhase >= 0 && context->barPhase < 4 ? context->barPhase : 0;
    gRun.logContinueLine = 1;
    LogPrintf("%s\t%s\t%s\t", date, kPhaseNames[phase], context->strategy ? context->strategy->name : "");
}

void ApplyDailyCashFlows(EvalContext *context, int32_t previousDate)
{
    TestRecord *test = context->test;
    if (!test) return;
    bool anyFlow = false;
    SymbolRecord *savedSymbol = context->symbol;
    for (int32_t s = 0; s < gStrategyCount && s < test->strategyCount; s++) {
        StrategyRecord *strategy = &gStrategies[s];
        context->strategy = strategy;
        context->strategyIndex = s;
        for (int kind = 0; kind < 2; kind++) {
            double sum = DatedSum(kind == 0 ? &strategy->cashList : &strategy->feesList, previousDate, context->date);
            int32_t slot = kind == 0 ? SLOT_CASH_IN_OUT : SLOT_FEES_IN_OUT;
            if (IsSlotGiven(&strategy->slots[slot])) {
                context->symbol = StrategyCalendarSymbol(strategy);
                SyncContextBar(context);
                double value = 0;
                if (EvalFormulaSlot(&strategy->slots[slot], context, &value)) sum += value;
            }
            if (sum == 0) continue;
            if (!anyFlow && gSettings.AddLog) LogPrintf("%s", "");
            anyFlow = true;
            int32_t chain[PARENT_CHAIN_MAX];
            int32_t n = CollectParentChain(s, chain, PARENT_CHAIN_MAX);
            for (int32_t k = 0; k < n; k++) {
                StatCell *cell = CellAt(test, context->resultRow, chain[k]);
                if (!cell) continue;
                if (kind == 0)
                    cell->cashInOut += sum;
                else
                    cell->feesInOut += sum;
            }
            if (gSettings.AddLog) {
                const StatCell *cell = CellAt(test, context->resultRow, s);
                const StatCell *prior = context->resultRow > 0 ? CellAt(test, context->resultRow - 1, s) : nullptr;
                double now = kind == 0 ? cell->cashInOut : cell->feesInOut;
                double before = prior ? (kind == 0 ? prior->cashInOut : prior->feesInOut) : 0;
                if (now - before != 0) {
                    char money[64];
                    FormatNumber(now - before, 3, -1, 0, test->currency, money);
                    LogLineStart(context);
                    gRun.logContinueLine = 0;
                    LogPrintf("%s = %s\t", kind == 0 ? "CashInOut" : "FeesInOut", money);
                }
            }
        }
    }
    context->symbol = savedSymbol;
    if (anyFlow) {
        UpdateDailyEquityStats(context, 0);
        if (gSettings.AddLog) LogPortfolioState(context);
    }
}

/* ---- equity statistics ----------------------------------------------------------- */

void UpdateDailyEquityStats(EvalContext *context, int final)
{
    TestRecord *test = context->test;
    if (!test) return;
    BindContextSymbol(context);
    int32_t main = MainStrategyIndex(test);
    for (int32_t s = 0; s < test->strategyCount; s++) {
        context->strategyIndex = s;
        context->strategy = StrategyByNumber(s + 1);
        StatCell *c = CellAt(test, context->resultRow, s);
        if (!c) continue;
        StatCell *p = context->resultRow > 0 ? CellAt(test, context->resultRow - 1, s) : nullptr;
        int mtm = IsMarkedToMarket(test, s);
        double equity = c->equityBase + (mtm ? c->markToMarket : 0);
        if (s == main && p) equity += c->feesInOut - p->feesInOut;

        /* The running figures start from the day before at every update, so
        ** a day updated more than once (a cash flow, the close, the end-of-test
        ** exits) counts once. */
        if (!p) {
            const StrategyRecord *own = StrategyByNumber(s + 1);
            double fraction = own ? own->allocationFraction : 1.0;
            c->timeWeightedEquity = c->timeWeightedPeak = fraction;
            c->maxDrawdownAmount = c->maxDrawdownPercent = 0;
            c->drawdownBars = c->maxDrawdownBars = 0;
            c->minEquity = c->maxEquity = c->startEquity;
        } else {
            c->timeWeightedEquity = p->timeWeightedEquity;
            c->timeWeightedPeak = p->timeWeightedPeak;
            c->maxDrawdownAmount = p->maxDrawdownAmount;
            c->maxDrawdownPercent = p->maxDrawdownPercent;
            c->drawdownBars = p->drawdownBars;
            c->maxDrawdownBars = p->maxDrawdownBars;
            c->minEquity = p->minEquity;
            c->maxEquity = p->maxEquity;
        }
        if (p) {
            c->netAmount = equity - p->equityBase - (mtm ? p->markToMarket : 0);
            c->netPercent = p->allocation != 0 ? c->netAmount / p->allocation : 0;
        } else {
            c->netAmount = equity - c->startEquity;
            c->netPercent = c->startEquity != 0 ? c->netAmount / c->startEquity : kNoValue;
        }

        if (equity < c->minEquity) c->minEquity = equity;
        if (CompareDouble(equity, c->maxEquity) < 0) {
            c->drawdownAmount = c->maxEquity - equity;
            if (c->drawdownAmount > c->maxDrawdownAmount) c->maxDrawdownAmount = c->drawdownAmount;
        } else {
            c->maxEquity = equity;
            c->drawdownAmount = 0;
        }

        bool drawdown;
        double percent;
        if (IsCompounded(test, s)) {
            if (!std::isnan(c->netPercent)) c->timeWeightedEquity *= 1 + c->netPercent;
            drawdown = CompareDouble(c->timeWeightedEquity, c->timeWeightedPeak) < 0;
            if (!drawdown) c->timeWeightedPeak = c->timeWeightedEquity;
            percent = c->timeWeightedPeak != 0 ? (c->timeWeightedPeak - c->timeWeightedEquity) / c->timeWeightedPeak
                                               : kNoValue;
        } else {
            c->timeWeightedEquity = equity;
            drawdown = CompareDouble(equity, c->maxEquity) != 0;
            percent = c->maxAllocation != 0 ? c->drawdownAmount / c->maxAllocation : kNoValue;
        }
        if (drawdown) {
            c->drawdownBars++;
            if (c->drawdownBars > c->maxDrawdownBars) c->maxDrawdownBars = c->drawdownBars;
            c->drawdownPercent = percent;
            if (percent > c->maxDrawdownPercent) c->maxDrawdownPercent = percent;
        } else {
            c->drawdownPercent = 0;
            c->drawdownBars = 0;
        }
        UpdateAllocation(context, c);
    }
}

void UpdateAllocation(EvalContext *context, StatCell *cell)
{
    TestRecord *test = context->test;
    StrategyRecord *strategy = context->strategy;
    int32_t s = context->strategyIndex;
    double allocation = 0;
    double value = 0;
    if (strategy && IsSlotGiven(&strategy->slots[SLOT_ALLOCATION]) &&
        EvalFormulaSlot(&strategy->slots[SLOT_ALLOCATION], context, &value)) {
        allocation = value;
    } else if (test && IsCompounded(test, s)) {
        const StatCell *source = cell;
        if (strategy && strategy->kind != STRATEGY_KIND_BENCHMARK && strategy->allocationFraction == 1.0) {
            const StatCell *mainCell = CellAt(test, (int32_t)cell->rowNumber - 1, MainStrategyIndex(test));
            if (mainCell) source = mainCell;
        }
        allocation = source->cashInOut + source->equityBase + source->feesInOut +
            (IsMarkedToMarket(test, s) ? source->markToMarket : 0);
    } else {
        allocation = cell->startEquity;
    }
    cell->allocation = allocation;
    if (allocation < cell->minAllocation) cell->minAllocation = allocation;
    if (allocation > cell->maxAllocation) cell->maxAllocation = allocation;
}

/* ---- positions CSV ------------------------------------------------------------- */

int WritePositionsCsv(EvalContext *context, const char *path)
{
    TestRecord *test = context->test;
    ReplaceFile file;
    if (!ClaimRunOutput(path, "the SavePositionsAs file")) return 0;
    if (!BeginReplaceFileWithMessage(&file, path, 0, "Unable to create SavePositionsAs file %s")) return 0;
    static const char kHeader[] = "Strategy,Side,Symbol,DateIn,QtyIn,PriceIn,PriceNow,AllocIn,AllocNow\n";
    int ok = WriteReplaceFile(&file, kHeader, sizeof kHeader - 1);
    for (int32_t s = 0; ok && s < gStrategyCount; s++) {
        StrategyRecord *strategy = &gStrategies[s];
        if (strategy->kind != STRATEGY_KIND_STRATEGY) continue;
        for (int32_t k = 0; ok && k < strategy->openCount; k++) {
            const PositionRecord *p = &strategy->openPositions[k];
            SymbolRecord *symbol = p->symbol;
            if (!symbol) continue;
            Bar *bar = nullptr;
            if (FindBarIndex(symbol, BAR_DAILY, context->date, PHASE_CLOSE, context->slot, &bar) < 0 || !bar) {
                int32_t count = 0;
                Bar *bars = GetBarArray(symbol, BAR_DAILY, &count);
                bar = count > 0 ? &bars[count - 1] : nullptr;
            }
            if (!bar) continue;
            double barSplit = bar->split != 0 ? bar->split : 1.0;
            double entrySplit = p->entrySplit != 0 ? p->entrySplit : 1.0;
            /* The allocation when the position was entered: the row before the
            ** entry, or the entry row itself for an entry at the close. */
            double allocIn = gSettings.AccountSize, allocNow = gSettings.AccountSize;
            if (test) {
                int32_t entryRow = FindResultRowByDate(test, p->entryDate, 0);
                int32_t row = p->entryTiming == PHASE_CLOSE ? entryRow : entryRow - 1;
                const StatCell *in = entryRow >= 0 ? CellAt(test, row, s) : nullptr;
                if (in) allocIn = in->allocation;
                const StatCell *now = CellAt(test, context->resultRow, s);
                if (now) allocNow = now->allocation;
            }
            char date[DATE_TEXT_SIZE];
            FormatDate(p->entryDate, gSettings.DateDisplayFormat, date);
            /* Every number with the digits that read back as it is: six
            ** significant ones would write a holding of 10,482,237 shares as
            ** 1.04822e+07 and a price of 12,345.67 as 12345.7. */
            char n[5][NUMBER_TEXT_SIZE], line[512];
            FormatExactNumber(p->quantity * entrySplit / barSplit, n[0]);
            FormatExactNumber(p->entryPrice * barSplit / entrySplit, n[1]);
            FormatExactNumber(bar->close, n[2]);
            FormatExactNumber(allocIn, n[3]);
            FormatExactNumber(allocNow, n[4]);
            int length = FormatText(line, sizeof line, "%s,%d,%s,%s,%s,%s,%s,%s,%s\n", strategy->name, p->side,
                                    symbol->info.Symbol, date, n[0], n[1], n[2], n[3], n[4]);
            ok = WriteReplaceFile(&file, line, (uint32_t)length);
        }
    }
    /* A file that could not be written to its end is a failure, not a shorter list. */
    if (!ok || !CommitReplaceFile(&file)) {
        AbandonReplaceFile(&file);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return 1;
}
