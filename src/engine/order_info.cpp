/* order_info.cpp -- the broker's view of one order: the bar it is written
** from, the exchange map row of its symbol, the broker symbol of a futures
** contract, the exchange times and the market-as-limit price, and the order
** text formulas. */
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/fills.h"
#include "engine/futures.h"
#include "engine/orders.h"
#include "records/test_records.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/side_files.h"
#include "script/compiler/strategy.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

const Bar *GetOrderBar(EvalContext *context)
{
    const Bar *bar = SyncContextBar(context);
    if (bar || !context->strategy || context->strategy->AllowMissingBar != 1 || !context->symbol) return bar;
    const Bar *earlier = GetBarOnOrBefore(context->symbol, context->date, context->barSize);
    if (!earlier) return nullptr;
    int32_t saved = context->date;
    context->date = earlier->date;
    bar = SyncContextBar(context);
    context->date = saved;
    return bar;
}

const DateList *StrategyBarDates(const StrategyRecord *r)
{
    return r->hasOwnDateLists ? &r->dateLists[r->BarSize] : &gStore.dateLists[r->BarSize];
}

int32_t NextPeriodEnd(const StrategyRecord *r, int32_t date)
{
    return GetPeriodEndDate(OffsetTradingDate(StrategyBarDates(r), date, 1), r->BarSize, r);
}

const ContractSpec *FindContractSpec(const SymbolRecord *symbol, int *dotFlag)
{
    *dotFlag = 0;
    if (!symbol) return nullptr;
    const char *name = symbol->info.Symbol;
    const ContractSpec *rows = (const ContractSpec *)gContractSpecs.items;
    for (int32_t k = 0; k < gContractSpecs.count; k++) {
        const ContractSpec *row = &rows[k];
        const char *pattern = nullptr;
        if (row->Match1[0] && MatchWildcard(row->Match1, name))
            pattern = row->Match1;
        else if (row->Match2[0] && MatchWildcard(row->Match2, name))
            pattern = row->Match2;
        bool qualifies = symbol->info.Exchange[0] ? MatchWildcard(row->Exchange, symbol->info.Exchange) != 0
                                                  : pattern != nullptr;
        if (!qualifies || (row->Market[0] && !MatchWildcard(row->Market, name))) continue;
        *dotFlag = pattern && strchr(pattern, '.') ? 1 : 0;
        return row;
    }
    return nullptr;
}

/* The value of the contract events of kind in force at date: an event before
** it, or on it before the session, sets the value; the scan ends at the first
** event on or after it that is not before the session, or on the next day. */
static double ContractValueAt(const SymbolRecord *symbol, int32_t kind, int32_t date, int32_t nextDay)
{
    double value = 0;
    for (int32_t k = 0; k < symbol->eventCount; k++) {
        const EventItem *e = &symbol->events[k];
        if (e->kind != kind) continue;
        if (e->date < date || (e->date == date && e->time <= 0)) value = e->value;
        if ((e->date >= date && e->time >= 0) || (nextDay > 0 && e->date >= nextDay)) break;
    }
    return value;
}

void FormatFuturesOrderSymbol(EvalContext *context, int32_t date, OrderInfo *info)
{
    const SymbolRecord *symbol = info->symbol;
    const char *name = symbol->info.Symbol;
    CopyString(info->localSymbol, ORDER_TEXT_SIZE, name, -1);
    const char *separator = strchr(name, '-');
    if (!separator) separator = strchr(name, '_');
    if (!separator) return;
    int continuous = IsContinuousFutures(symbol);
    int year = atoi(separator + 1);
    if (!continuous && (year < 1901 || year > 2099)) return;
    char month = 0;
    if (year >= 1901 && strlen(separator + 1) > 4) month = separator[5];

    CopyString(info->brokerSymbol, ORDER_TEXT_SIZE, name, (int)(separator - name));
    const SymbolChange *change = FindSymbolChange(info->brokerSymbol, year * 10000 + 101);
    if (change) {
        CopyString(info->brokerSymbol, ORDER_TEXT_SIZE, change->newSymbol, -1);
        if (change->secondText[0]) FormatText(info->routingExchange, ORDER_TEXT_SIZE, "SMART/%s", change->secondText);
    }

    if (continuous) {
        int32_t nextDay = OffsetTradingDate(&gStore.dateLists[BAR_DAILY], date, 1);
        info->expiry = ContractValueAt(symbol, EVENT_CONTRACT, date, nextDay);
        info->secondContract = ContractValueAt(symbol, EVENT_CONTRACT_SECOND, date, nextDay);
    } else if (symbol->info.DelistDate > 0) {
        info->expiry = symbol->info.DelistDate;
    }
    (void)context;
    if (info->expiry != 0) {
        FormatContractName(symbol, (int32_t)info->expiry, (int32_t)info->secondContract, info->localSymbol);
    } else if (month) {
        size_t length = strlen(info->brokerSymbol);
        FormatText(info->brokerSymbol + length, ORDER_TEXT_SIZE - length, "%c%d", month, year % 10);
        CopyString(info->localSymbol, ORDER_TEXT_SIZE, info->brokerSymbol, -1);
    }
}

/* "time zone" of an exchange time, or nothing when the map has no time. */
static void FormatExchangeTime(char *out, const char *time, const char *zone)
{
    out[0] = 0;
    if (time[0]) FormatText(out, ORDER_TEXT_SIZE, "%s %s", time, zone);
}

/* The reference date of a futures contract: the order bar's date at the close,
** else the date of the bar before it.  A position is held in the contract of
** the bar before that until the next day's test rolls it at the open (from
** the contract change on the reference bar), so its exits name that one; a
** position entered on the order date itself (child exits) is entered after
** the roll, in the contract of the reference bar. */
static int32_t ContractReferenceDate(const EvalContext *context, const Bar *bar, bool held)
{
    if (!bar) return context->date;
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
    int32_t index = bars ? (int32_t)(bar - bars) : -1;
    if (index < 0 || index >= count) return bar->date;
    if (context->barPhase != PHASE_CLOSE && index > 0) index--;
    if (held && index > 0 && IsContinuousFutures(context->symbol)) index--;
    return bars[index].date;
}

void FillOrderInfo(EvalContext *context, const Bar *bar, OrderInfo *info, int isExit)
{
    memset(info, 0, sizeof *info);
    StrategyRecord *r = context->strategy;
    PositionRecord *p = context->position;
    info->strategy = r;
    info->symbol = context->symbol;
    info->bar = bar;
    info->isExit = isExit;
    info->orderDate = r && r->orderDate ? r->orderDate : gRun.orderDate;
    CopyString(info->brokerSymbol, ORDER_TEXT_SIZE, context->symbol->info.Symbol, -1);
    CopyString(info->localSymbol, ORDER_TEXT_SIZE, context->symbol->info.Symbol, -1);
    CopyString(info->secType, sizeof info->secType, "STK", -1);
    if (p) info->tradeId = (int32_t)p->tradeListId;
    int32_t direction = p ? p->side : (r ? r->Side : 1);

    int dot = 0;
    const ContractSpec *contract = FindContractSpec(context->symbol, &dot);
    if (contract) {
        char *last = strrchr(info->brokerSymbol, '.');
        if (last) *last = dot ? 0 : ' ';
        FormatText(info->routingExchange, ORDER_TEXT_SIZE, "SMART/%s", contract->Primary);
        CopyString(info->primaryExchange, ORDER_TEXT_SIZE, contract->Primary, -1);
        int strategyNumber = r && gStrategies ? (int)(r - gStrategies) + 1 : 0;
        bool early = IsCalendarHoliday(info->orderDate, 1, strategyNumber) != 0;
        const char *zone = contract->TimeZone;
        const char *moc = r && r->BarSize != BAR_DAILY ? contract->WeeklyLastMocTime
            : early                                    ? contract->EarlyLastMocTime
                                                       : contract->LastMocTime;
        FormatExchangeTime(info->lastMocTime, moc, zone);
        FormatExchangeTime(info->nearCloseTime, early ? contract->EarlyNearCloseTime : contract->NearCloseTime, zone);
        FormatExchangeTime(info->lateLocTime, early ? contract->EarlyLateLocTime : contract->LateLocTime, zone);
        FormatExchangeTime(info->lastOpenTime, contract->LastOpenTime, zone);
        info->hasOpeningAuction = contract->HasOpg;
        info->hasMarketOnClose = contract->HasMoc;
        info->hasLimitOnClose = contract->HasLoc;
        info->allHours = contract->AllHours;
    }
    if (context->symbol->securityType == SECURITY_FUTURES) {
        CopyString(info->secType, sizeof info->secType, "FUT", -1);
        bool held = isExit && p && p->entryDate < info->orderDate;
        FormatFuturesOrderSymbol(context, ContractReferenceDate(context, bar, held), info);
    }

    double pct = 0;
    if (r && IsSlotGiven(&r->slots[SLOT_ORDERS_MKT_AS_LMT_PCT]))
        EvalFormulaSlot(&r->slots[SLOT_ORDERS_MKT_AS_LMT_PCT], context, &pct);
    if (pct == 0) pct = gScriptSettings.OrdersMktAsLmtPct;
    if (pct == 0 || !bar) return;
    double price = (direction > 0) == (isExit != 0) ? bar->close * (1 - pct / 100) : bar->close * (1 + pct / 100);
    double unit = GetPriceRoundUnit(context, context->symbol, bar, price);
    if (unit != 0) price = RoundToStep(price, unit, 0);
    FormatPrice(price, unit, info->mktAsLmtPrice);
    FormatText(info->mktAsLmtWords, ORDER_TEXT_SIZE, "%s limit", info->mktAsLmtPrice);
}

void EvalOrderTexts(EvalContext *context, OrderInfo *info)
{
    gSettings.UniqueOrderId++;
    StrategyRecord *r = context->strategy;
    if (!r) return;
    EvalFormulaText(&r->slots[SLOT_ORDER_NOTE], context, info->note, ORDER_TEXT_SIZE);
    for (int k = 0; k < ORDER_EXTRA_TEXTS; k++)
        EvalFormulaText(&r->slots[SLOT_ORDER_EXTRA_1 + k], context, info->extra[k], ORDER_TEXT_SIZE);
}
