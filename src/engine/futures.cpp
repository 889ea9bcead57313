/* futures.cpp -- contract names and futures rolls. */
#include "engine/futures.h"

#include <cstring>

#include "engine/date_loop.h"
#include "engine/orders.h"
#include "records/test_records.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

const char kContractMonthLetters[14] = " FGHJKMNQUVXZ";

int IsContinuousFutures(const SymbolRecord *symbol)
{
    if (!symbol || symbol->securityType != SECURITY_FUTURES) return 0;
    for (int32_t k = 0; k < symbol->eventCount; k++) {
        if (symbol->events[k].kind == EVENT_CONTRACT) return 1;
    }
    return 0;
}

void FormatContractName(const SymbolRecord *symbol, int32_t dateValue, int32_t yyyymm, char *out)
{
    const char *name = symbol ? symbol->info.Symbol : "";
    const char *cut = strchr(name, '_');
    CopyString(out, CONTRACT_NAME_SIZE, name, cut ? (int)(cut - name) : -1);
    int length = (int)strlen(out);
    int month = yyyymm % 100, year = yyyymm / 100;
    if (month >= 1 && month <= 12 && year >= 1001) {
        FormatText(out + length, (size_t)(CONTRACT_NAME_SIZE - length), "_%d%c", year, kContractMonthLetters[month]);
    } else {
        char date[DATE_TEXT_SIZE];
        FormatDate(dateValue, gSettings.DateDisplayFormat, date);
        FormatText(out + length, (size_t)(CONTRACT_NAME_SIZE - length), " (%s)", date);
    }
}

int FindContractEvent(const SymbolRecord *symbol, int32_t kind, int32_t date, int32_t prev, int32_t next, int daily,
                      int changeOnly, double *value)
{
    int found = 0;
    for (int32_t k = 0; symbol && k < symbol->eventCount; k++) {
        const EventItem *e = &symbol->events[k];
        if (e->kind != kind) continue;
        if (changeOnly) {
            bool applies = (e->date == prev && e->time > 0) || (e->date == date && e->time <= 0) ||
                (!daily && e->date > prev && e->date < date);
            if (applies) {
                *value = e->value;
                found = 1;
            }
            if (e->date >= next || (e->date >= date && e->time >= 0)) break;
        } else {
            if (e->date < date || (e->date == date && e->time <= 0)) {
                *value = e->value;
                found = 1;
            } else {
                break;
            }
        }
    }
    return found;
}

void ProcessFuturesRolls(EvalContext *context, OrderContext *orders)
{
    StrategyRecord *strategy = context->strategy;
    if (!strategy) return;
    /* Data that end inside a longer bar of the run, with the order's day in
    ** the same bar, are no bar of their own for the orders: the next day's
    ** test rolls at the next bar's open, which only the list of the bar's
    ** last day is for. */
    const int runSize = gSettings.BarSize2;
    if (orders && runSize != BAR_DAILY && strategy->orderDate > context->date &&
        SameBarPeriod(context->date, strategy->orderDate, runSize))
        return;
    int32_t savedBarSize = context->barSize;
    SymbolRecord *savedSymbol = context->symbol;
    PositionRecord *savedPosition = context->position;
    /* The series moves to its next contract on one bar of the run, and every
    ** position in it rolls once, then: the change is looked for on the bars
    ** the run steps through.  On a longer strategy's own bars the bar before
    ** the context's stays the same for a whole period, and the same change
    ** would roll the position again on every day of it. */
    bool traced = false;
    for (int32_t k = 0; k < strategy->openCount; k++) {
        PositionRecord *p = &strategy->openPositions[k];
        if (!IsContinuousFutures(p->symbol)) continue;
        context->barSize = gSettings.BarSize2;
        context->position = p;
        context->symbol = p->symbol;
        if (!SyncContextBar(context)) continue;
        int32_t count = 0;
        const Bar *bars = GetBarArray(p->symbol, context->barSize, &count);
        int32_t used = context->barIndex;
        if (!orders || context->barPhase == PHASE_OPEN) used--;
        if (used <= 0 || used >= count) continue;
        int32_t date = bars[used].date, before = bars[used - 1].date;
        const DateList *list = &gStore.dateLists[context->barSize];
        int32_t prev = OffsetTradingDate(list, date, -1), next = OffsetTradingDate(list, date, 1);
        int daily = context->barSize == BAR_DAILY;
        /* The roll is the strategy's: its cost is worked out on its own bars. */
        context->barSize = strategy->BarSize;
        SyncContextBar(context);
        double newValue = 0, oldValue = 0, newMonth = 0, oldMonth = 0;
        if (!FindContractEvent(p->symbol, EVENT_CONTRACT, date, prev, next, daily, 1, &newValue)) continue;
        FindContractEvent(p->symbol, EVENT_CONTRACT, before, 0, 0, daily, 0, &oldValue);
        if (!FindContractEvent(p->symbol, EVENT_CONTRACT_SECOND, date, prev, next, daily, 1, &newMonth))
            FindContractEvent(p->symbol, EVENT_CONTRACT_SECOND, date, 0, 0, daily, 0, &newMonth);
        FindContractEvent(p->symbol, EVENT_CONTRACT_SECOND, before, 0, 0, daily, 0, &oldMonth);
        char from[CONTRACT_NAME_SIZE], to[CONTRACT_NAME_SIZE];
        FormatContractName(p->symbol, (int32_t)oldValue, (int32_t)oldMonth, from);
        FormatContractName(p->symbol, (int32_t)newValue, (int32_t)newMonth, to);
        if (orders) {
            if (orders->text)
                AddOrderLine(orders->text, orders->strategyIndex, ORDER_LINE_ROLL,
                             "    %s roll %g contract%s from %s to %s\n", strategy->name, p->quantity,
                             p->quantity == 1 ? "" : "s", from, to);
            orders->lineCount++;
            continue;
        }

        double cost = 0;
        if (IsSlotGiven(&strategy->slots[SLOT_ROLL_COST])) EvalFormulaSlot(&strategy->slots[SLOT_ROLL_COST], context, &cost);
        if (cost != 0) p->rollCosts += cost * GetCurrencyFactor(context, 0);
        if (gSettings.AddLog) {
            if (!traced) LogPrintf("%s", "");
            traced = true;
            char day[DATE_TEXT_SIZE], money[64];
            FormatDate(context->date, gSettings.DateDisplayFormat, day);
            FormatNumber(cost, 3, -1, 0, p->symbol->info.Currency, money);
            LogPrintf("%s\topen\t%s\t\t%s\troll\t%g\tfrom %s to %s, cost is %s", day, strategy->name,
                      p->symbol->info.Symbol, p->quantity, from, to, money);
        }
    }
    context->barSize = savedBarSize;
    context->symbol = savedSymbol;
    context->position = savedPosition;
}
