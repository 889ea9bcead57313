/* value_getters.cpp -- bar values, bar dates, symbol and position information,
** strategy statistics and trade values. */
#include "script/eval/value_getters.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/import_items.h"
#include "script/compiler/settings_items.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "script/eval/value_access.h"
#include "records/chart_record.h"

const Bar *ContextBarArray(const EvalContext *context, int32_t *count)
{
    const Bar *bars = GetBarArray(context->symbol, context->barSize, count);
    if (bars && context->trialBar && context->trialSymbol == context->symbol &&
        context->trialBarSize == context->barSize && context->trialIndex == *count)
        ++*count;
    return bars;
}

/* The bar at bars back of the context symbol, with its index and the count of
** its array; null outside the array. */
static const Bar *BarAtOffset(const EvalContext *context, int32_t barsBack, int32_t *index, int32_t *count)
{
    const Bar *bars = ContextBarArray(context, count);
    int64_t i = (int64_t)context->lastBar - barsBack;
    if (!bars || i < 0 || i >= *count) return nullptr;
    *index = (int32_t)i;
    return ContextBarAt(context, bars, *index);
}

/* The factor that brings a bar's prices to the context's split level; a bar
** without a split factor is taken as unsplit. */
static double AdjustmentFactor(const EvalContext *context, const Bar *bar)
{
    return bar->split != 0 ? context->priceScale / bar->split : 1.0;
}

static int SetValue(FormulaNode *node, double value, uint32_t dataType)
{
    node->value = value;
    node->dataType = dataType;
    return 1;
}

static int SetText(FormulaNode *node, double value, const char *text)
{
    node->value = value;
    node->dataType = DATA_TYPE_NONE;
    node->textFlag = 1;
    CopyString(node->text, sizeof node->text, text, -1);
    return 1;
}

/* ============================================================================
** Bar values
** ========================================================================== */

double BarTrueRange(const EvalContext *context, int32_t index)
{
    int32_t count = 0;
    const Bar *bars = ContextBarArray(context, &count);
    if (!bars || index < 0 || index >= count) return 0.0;
    const Bar *bar = ContextBarAt(context, bars, index);
    double f = AdjustmentFactor(context, bar);
    double high = bar->high * f, low = bar->low * f;
    if (index == 0) return high - low;
    const Bar *before = ContextBarAt(context, bars, index - 1);
    double previous = before->close * AdjustmentFactor(context, before);
    return (previous > high ? previous : high) - (previous < low ? previous : low);
}

/* The cash dividend paid on the bar at index (d its date), scaled to the
** context's split level; 0 for a symbol that is not a stock. */
static double BarDividend(const EvalContext *context, const Bar *bar)
{
    const SymbolRecord *symbol = context->symbol;
    if (symbol->securityType != SECURITY_STOCK) return 0.0;
    int barSize = context->barSize >= BAR_WEEKLY && context->barSize <= BAR_YEARLY ? context->barSize : BAR_DAILY;
    const DateList *list = &gStore.dateLists[barSize];
    int32_t d = bar->date;
    int32_t p = OffsetTradingDate(list, d, -1);
    int32_t n = OffsetTradingDate(list, d, 1);
    double amount = 0;
    for (int32_t k = 0; k < symbol->eventCount && symbol->events; k++) {
        const EventItem *e = &symbol->events[k];
        if (n > 0 && e->date >= n) break;
        if (e->kind != EVENT_DIVIDEND) continue;
        bool counts;
        if (barSize == BAR_DAILY)
            counts = e->date == d && e->time <= 0;
        else
            counts = (e->date > p && e->date < d) || (e->date == p && e->time > 0) || (e->date == d && e->time <= 0);
        if (counts) amount = e->value;
    }
    if (amount == 0) return 0.0;
    return bar->split != 0 ? amount * context->priceScale / bar->split : amount;
}

/* A Data or TestData item's value at the bar at bars back. */
static int GetDataItemValue(FormulaNode *node, EvalContext *context, int32_t barsBack, int32_t index, const Bar *bar)
{
    bool testData = node->item == ITEM_TESTDATA_REF;
    FormulaItem *item = DefinitionItem(testData ? SECTION_TEST_DATA : SECTION_DATA, node->index);
    if (!item) return 0;
    /* A trial bar past the last bar has no stored values. */
    int32_t stored = 0;
    GetBarArray(context->symbol, context->barSize, &stored);
    if (index >= stored) return 0;
    int32_t itemBarSize = DataItemBarSize(item);
    double value;
    /* A value is in the terms of the bar it was computed on: a longer bar's
    ** are those of its period's end, not of the day reading it. */
    Bar own = *bar;
    if (!item->onePerDate && !item->onePerSymbol && itemBarSize == context->barSize) {
        value = testData ? GetStrategySeriesValue(context->symbol, index, (int32_t)node->index)
                         : GetSeriesValue(context->symbol, index, (int32_t)node->index);
    } else {
        value = GetAlignedSeriesValue(context, barsBack, (int32_t)node->index, testData, &own.split);
    }
    uint32_t format = std::atomic_ref<uint32_t>(item->formula.resultFormat).load(std::memory_order_relaxed);
    double f = AdjustmentFactor(context, &own);
    if (format == DATA_TYPE_PRICE)
        value *= f;
    else if (format == DATA_TYPE_VOLUME)
        value /= f;
    return SetValue(node, value, format);
}

/* A Scan, TestScan or Trades column's value for the worker slot: the value
** its first node holds since that column was last evaluated on the slot. */
static int GetColumnValue(FormulaNode *node, const EvalContext *context)
{
    const FormulaSlot *column = ReferencedFormula(node->item, node->index);
    int32_t slot = context->slot >= 0 && context->slot < WORKER_SLOTS ? context->slot : 0;
    const FormulaNode *first = column && column->count > 0 ? column->nodes[slot] : nullptr;
    if (!first) return SetValue(node, 0.0, DATA_TYPE_NONE);
    if (first->textFlag) SetText(node, first->value, first->text);
    return SetValue(node, first->value, DATA_TYPE_NONE);
}

/* A Charts column's value at bar index of the chart's own calculation; 0
** outside a chart.  Reading before the chart has calculated, or beyond its
** bars or columns, is a fault of the chart's order of work: it is reported
** and the run stopped. */
static int GetChartColumnValue(FormulaNode *node, const EvalContext *context, int32_t index)
{
    const ChartWindow *chart = context->chart;
    if (!chart) return SetValue(node, 0.0, DATA_TYPE_NONE);
    if (!chart->indicators) {
        ReportEvalInternalError("Error: chart indicator data has not been calculated yet");
        return SetValue(node, 0.0, DATA_TYPE_NONE);
    }
    int32_t bars = 0;
    if (chart->symbol) GetBarArray(chart->symbol, chart->barSize, &bars);
    int32_t column = (int32_t)node->index;
    if (index >= bars || column < 0 || column >= chart->indicatorCount || !chart->indicators[column]) {
        ReportEvalInternalError("Error: attempt to access indicator %d bar %d of stock %s with %d bars and %d indicators",
                                column, index, chart->symbol ? chart->symbol->info.Symbol : "", bars,
                                chart->indicatorCount);
        return SetValue(node, 0.0, DATA_TYPE_NONE);
    }
    return SetValue(node, chart->indicators[column][index], DATA_TYPE_NONE);
}

int GetBarValue(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    if (!context->symbol) return 0;
    int32_t index = 0, count = 0;
    const Bar *bar = BarAtOffset(context, barsBack, &index, &count);
    if (!bar) return 0;
    double f = AdjustmentFactor(context, bar);
    switch (node->item) {
    case ITEM_BAR_NUM: return SetValue(node, index + 1, DATA_TYPE_NONE);
    case ITEM_BARS_LEFT: return SetValue(node, count - index - 1, DATA_TYPE_NONE);
    case ITEM_FUN_BAR: return SetValue(node, context->funBar, DATA_TYPE_NONE);
    case ITEM_OPEN: return SetValue(node, f * bar->open, DATA_TYPE_PRICE);
    case ITEM_HIGH: return SetValue(node, f * bar->high, DATA_TYPE_PRICE);
    case ITEM_LOW: return SetValue(node, f * bar->low, DATA_TYPE_PRICE);
    case ITEM_CLOSE: return SetValue(node, f * bar->close, DATA_TYPE_PRICE);
    case ITEM_VOLUME: return SetValue(node, bar->volume / f, DATA_TYPE_VOLUME);
    case ITEM_EXTRA: return SetValue(node, bar->extra, DATA_TYPE_NONE);
    case ITEM_SPLIT: return SetValue(node, bar->split, DATA_TYPE_NONE);
    case ITEM_NEXT_OPEN: {
        if (index + 1 >= count) return 0;
        const Bar *next = ContextBarAt(context, GetBarArray(context->symbol, context->barSize, nullptr), index + 1);
        return SetValue(node, f * next->open, DATA_TYPE_PRICE);
    }
    case ITEM_RANGE: return SetValue(node, f * (bar->high - bar->low), DATA_TYPE_PRICE);
    case ITEM_TRUE_RANGE: return SetValue(node, BarTrueRange(context, index), DATA_TYPE_PRICE);
    case ITEM_FX_RATIO: {
        EvalContext copy = *context;
        copy.date = bar->date;
        return SetValue(node, GetCurrencyFactor(&copy, 0), DATA_TYPE_NONE);
    }
    case ITEM_DIVIDEND: return SetValue(node, BarDividend(context, bar), DATA_TYPE_PRICE);
    case ITEM_CONSTITUENCY:
        return SetValue(node,
                        LookupDatedValue(context->symbol, context->barSize, bar->date, 0, -2 - (int32_t)node->index, 1,
                                         nullptr),
                        DATA_TYPE_NONE);
    case ITEM_DATA_REF:
    case ITEM_TESTDATA_REF: return GetDataItemValue(node, context, barsBack, index, bar);
    case ITEM_SCAN_COLUMN:
    case ITEM_TESTSCAN_COLUMN:
        if (barsBack != 0) return 0;
        return GetColumnValue(node, context);
    case ITEM_CHARTS_COLUMN: return GetChartColumnValue(node, context, index);
    default:
        ReportEvalInternalError("Internal Error: GetBarValue(Id=%d)", (int)node->item);
        return 0;
    }
}

/* ============================================================================
** Bar dates
** ========================================================================== */

/* The trading calendar of the context's bar size: the strategy's own list
** when it has one, else the master list. */
static const DateList *ContextCalendar(const EvalContext *context)
{
    int barSize = context->barSize >= BAR_WEEKLY && context->barSize <= BAR_YEARLY ? context->barSize : BAR_DAILY;
    if (context->strategy && context->strategy->hasOwnDateLists) return &context->strategy->dateLists[barSize];
    return &gStore.dateLists[barSize];
}

int GetBarDateValue(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    if (!context->symbol) return 0;
    int32_t index = 0, count = 0;
    const DateList *calendar = ContextCalendar(context);
    const Bar *bar = BarAtOffset(context, barsBack, &index, &count);
    int32_t d;
    if (bar) {
        d = bar->date;
    } else {
        /* Beyond the symbol's bars the date is stepped along the calendar from
        ** the last completed bar. */
        const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
        if (!bars || context->lastBar < 0 || context->lastBar >= count) return 0;
        int32_t from = bars[context->lastBar].date;
        /* No step is shorter than a day, so an offset of more days than lie
        ** between the date and the ends of the calendar names no date at all;
        ** it fails at once rather than stepping out of the calendar. */
        int64_t days = barsBack > 0 ? DaysBetween(DATE_FIRST_VALID, from) : DaysBetween(from, DATE_LAST_VALID);
        if ((barsBack > 0 ? (int64_t)barsBack : -(int64_t)barsBack) > days) return 0;
        d = OffsetTradingDate(calendar, from, -barsBack);
        if (d < DATE_FIRST_VALID || d > DATE_LAST_VALID) return 0;
    }
    int32_t n = OffsetTradingDate(calendar, d, 1);
    double value;
    switch (node->item) {
    case ITEM_BAR_DATE: value = d; break;
    case ITEM_BAR_START: value = GetPeriodFirstDate(d, 1, context->barSize); break;
    case ITEM_DAY: value = DateDay(d); break;
    case ITEM_WEEK: value = WeekOfYear(d); break;
    case ITEM_MONTH: value = DateMonth(d); break;
    case ITEM_YEAR: value = DateYear(d); break;
    case ITEM_DAY_OF_WEEK: value = DayOfWeek(d); break;
    case ITEM_DAY_OF_YEAR: value = DayOfYear(d); break;
    case ITEM_END_OF_WEEK: value = DayOfWeek(n) < DayOfWeek(d); break;
    case ITEM_END_OF_MONTH: value = DateDay(n) < DateDay(d); break;
    case ITEM_END_OF_QUARTER: value = DateQuarter(n) != DateQuarter(d) || DateYear(n) != DateYear(d); break;
    case ITEM_END_OF_YEAR: value = DateYear(n) != DateYear(d); break;
    default: value = 0; break;
    }
    return SetValue(node, value, DATA_TYPE_NONE);
}

/* ============================================================================
** Symbol and position information
** ========================================================================== */

static bool IsStatsGroup(const EvalContext *context)
{
    if (context->strategy) return context->strategy->kind == STRATEGY_KIND_STATS_GROUP;
    const TestRecord *test = context->test;
    if (!test || !test->strategies || context->strategyIndex < 0 || context->strategyIndex >= test->strategyCount)
        return false;
    return test->strategies[context->strategyIndex].kind == STRATEGY_KIND_STATS_GROUP;
}

static double Ratio(double a, double b)
{
    return a != 0 && b != 0 ? a / b : 1.0;
}

/* The split factor of the bar that position quantities and prices are
** scaled to: the bar traded next.  A longer bar carries the factor of its
** last day, and a split later in its period is no split of the day that
** trades: that day is the period's first at the open, the context date's
** after it. */
static double PositionBarSplit(const EvalContext *context)
{
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
    int32_t index = context->barIndex;
    const bool next = context->barPhase != PHASE_CLOSE && context->currentBar;
    if (next) index++;
    if (!bars || index < 0 || index >= count) return 1.0;
    const Bar *bar = &bars[index];
    if (next || context->barSize < BAR_WEEKLY || context->barSize > BAR_YEARLY) return bar->split;
    int32_t first = GetPeriodFirstDate(bar->date, 1, context->barSize);
    int32_t dayCount = 0;
    const Bar *days = GetBarArray(context->symbol, BAR_DAILY, &dayCount);
    const Bar *day = GetBarOnOrBefore(context->symbol, context->barPhase == PHASE_OPEN ? first : context->date < bar->date ? context->date
                                                                                                                      : bar->date,
                                      BAR_DAILY);
    if (day && days && day->date < first && day + 1 < days + dayCount) day++;
    if (!day || day->date < first || day->date > bar->date || day->split == 0) return bar->split;
    return day->split;
}

/* The split factor position prices are scaled to: the bar traded next's, or
** while an exit order or rule that compares them with the bar's prices is
** worked out, the one those prices are in. */
static double PositionPriceSplit(const EvalContext *context, double barSplit)
{
    return context->evalBarTerms && context->priceScale != 0 ? context->priceScale : barSplit;
}

/* 1 when the position was entered on the context's current bar, so that its
** order price stands for the fill.  record is the strategy that holds it. */
static bool EnteredOnCurrentBar(const EvalContext *context, const StrategyRecord *record,
                                const PositionRecord *position)
{
    if (!record || !position) return false;
    /* Entries at the next open fill at the open, never at the order price. */
    if (record->EntryTime == TIME_NEXT_OPEN) return false;
    if (position->entryBar < 0) return true;
    /* Nor do entries at the next close, whose fill every exit judged after
    ** it knows: a longer bar's, filled at the close of its period's first
    ** day, is judged on the period's later days in a daily run. */
    if (record->EntryTime == TIME_NEXT_CLOSE) return false;
    if (gRun.generatingOrders) return false;
    int32_t bar = context->barPhase < PHASE_CLOSE ? position->entryBar - 1 : position->entryBar;
    return context->lastBar == bar;
}

/* A quantity of the position in the split terms of the bar: entered at its
** entry split, it is converted to the split of its later fill when it has one,
** else to the bar's. */
static double PositionQuantity(const PositionRecord *position, double quantity, double barSplit)
{
    double split = position->exitPrice != 0 ? position->exitSplit : barSplit;
    return RoundToStep(quantity * Ratio(position->entrySplit, split), 0.001, 0);
}

/* The money put into the position: its share count at the price of its later
** fill once it has one, else its entry value in the account currency. */
static double PositionFillValue(const PositionRecord *position)
{
    if (position->exitPrice != 0)
        return position->quantity * Ratio(position->entrySplit, position->exitSplit) * position->exitPrice;
    return position->entryFx != 0 ? position->entryValue / position->entryFx : position->entryValue;
}

/* The fill price of the position at the bar's split level: the order price
** while it is entered on the current bar, else its entry fill. */
static double PositionFillPrice(const EvalContext *context, const StrategyRecord *record,
                                const PositionRecord *position, double barSplit)
{
    double price = EnteredOnCurrentBar(context, record, position) ? position->orderPrice : position->entryPrice;
    return price * Ratio(barSplit, position->entrySplit);
}

/* Bars the position has been held at bars back; 0 before its entry and after
** its exit bar. */
static double PositionBarsHeld(const EvalContext *context, const PositionRecord *position, int32_t barsBack)
{
    if (position->entryBar < 0 || (position->exitBar >= 0 && context->barIndex > position->exitBar)) return 0.0;
    /* An order list for the next open counts the bar the next day's test
    ** trades in as held: the one after the last complete bar, whose orders
    ** stand.  Inside a longer bar's period that is the period's own bar, not
    ** one after the part of it the list's day closed, so a partial quantity
    ** listed on any day of the period is the one its last bar set. */
    if (gRun.generatingOrders && !gScriptSettings.OrdersLiveData && context->barPhase == PHASE_CLOSE)
        return context->lastBar + 1 - position->entryBar - barsBack;
    int k = (context->chart && context->trade) || (context->postClose && gSettings.BarsHeldIncrPostClose);
    return context->barIndex - position->entryBar - barsBack + k;
}

/* ---- the open positions of a strategy group ------------------------------------------ */

/* Where a walk over a group's positions stands. */
struct PositionWalk {
    int32_t strategy;             /* test strategy index being walked; -1 before the first */
    int32_t next;                 /* next entry of record's position list */
    const StrategyRecord *record; /* the record being walked, null between records */
};

/* The record of test strategy s: the context's own for the current strategy. */
static const StrategyRecord *WalkRecord(const EvalContext *context, int32_t s)
{
    if (s == context->strategyIndex && context->strategy) return context->strategy;
    return StrategyByNumber(s + 1);
}

/* The next open position (or setup) in the context symbol of the current
** strategy and, in a test, of the strategies whose parent list names it; null
** at the end.  *record (may be null) gets the strategy holding it. */
static const PositionRecord *NextGroupPosition(const EvalContext *context, PositionWalk *walk,
                                               const StrategyRecord **record)
{
    const TestRecord *test = context->test;
    bool inTest = test && test->strategies && context->strategyIndex >= 0 &&
        context->strategyIndex < test->strategyCount;
    for (;;) {
        const StrategyRecord *r = walk->record;
        while (r && r->openPositions && walk->next < r->openCount) {
            const PositionRecord *position = &r->openPositions[walk->next++];
            if (position->symbol == context->symbol) {
                if (record) *record = r;
                return position;
            }
        }
        walk->record = nullptr;
        walk->next = 0;
        if (!inTest) {
            /* Without a test only the current strategy is known. */
            if (walk->strategy >= 0 || !context->strategy) return nullptr;
            walk->strategy = 0;
            walk->record = context->strategy;
            continue;
        }
        while (++walk->strategy < test->strategyCount) {
            if (walk->strategy == context->strategyIndex ||
                StrategyInGroup(test, walk->strategy, context->strategyIndex))
                break;
        }
        if (walk->strategy >= test->strategyCount) return nullptr;
        walk->record = WalkRecord(context, walk->strategy);
    }
}

/* The side of the first of the strategy's own open positions in the context
** symbol, 0 when it has none. */
static int32_t SearchedSide(const EvalContext *context)
{
    const StrategyRecord *record = context->strategy;
    for (int32_t k = 0; record->openPositions && k < record->openCount; k++) {
        const PositionRecord *position = &record->openPositions[k];
        if (position->symbol == context->symbol) return position->side;
    }
    return 0;
}

/* IsSetup, SetupRank, OrderRank and IsOrder over the group's positions. */
static double GroupSetupValue(uint32_t id, const EvalContext *context)
{
    PositionWalk walk = {-1, 0, nullptr};
    double v = 0;
    bool first = true;
    for (const PositionRecord *p; (p = NextGroupPosition(context, &walk, nullptr)) != nullptr;) {
        if (id == ITEM_IS_SETUP || id == ITEM_IS_ORDER) {
            v += (id == ITEM_IS_SETUP ? p->kept : p->listed) != 0;
            continue;
        }
        /* A negative rank, once met, stands; any other is replaced by the
        ** rank of the next position. */
        double rank = (int32_t)(id == ITEM_SETUP_RANK ? p->setupRank : p->selectionNumber);
        if (first || v >= 0) v = rank;
        first = false;
    }
    return v;
}

/* A position item over the group's positions. */
static int GroupPositionValue(FormulaNode *node, const EvalContext *context, int32_t barsBack, double barSplit)
{
    uint32_t id = node->item;
    PositionWalk walk = {-1, 0, nullptr};
    const StrategyRecord *record = nullptr;
    double v = 0, shares = 0, weighted = 0;
    bool any = false;
    for (const PositionRecord *p; (p = NextGroupPosition(context, &walk, &record)) != nullptr;) {
        switch (id) {
        case ITEM_SHARES: v += PositionQuantity(p, p->quantity, barSplit); break;
        case ITEM_FILL_QTY: v += PositionQuantity(p, p->requestedQuantity, barSplit); break;
        case ITEM_FILL_VALUE: v += PositionFillValue(p); break;
        case ITEM_FILL_FRACTION: v += p->fraction; break;
        case ITEM_FILL_PRICE:
        case ITEM_FILL_PRICE_AVG:
        case ITEM_FILL_PRICE_MIN:
        case ITEM_FILL_PRICE_MAX: {
            double price = PositionFillPrice(context, record, p, PositionPriceSplit(context, barSplit));
            if (price == 0) break;
            double n = PositionQuantity(p, p->quantity, barSplit);
            shares += n;
            weighted += n * price;
            if (!any || (id == ITEM_FILL_PRICE_MIN ? price < v : price > v)) v = price;
            any = true;
            break;
        }
        case ITEM_ENTRY_DATE:
            if (p->entryDate > v) v = p->entryDate;
            break;
        case ITEM_BARS_HELD: {
            double held = PositionBarsHeld(context, p, barsBack);
            if (!any || held > v) v = held;
            any = true;
            break;
        }
        default: break; /* OrderPrice names one position's order: none over a group */
        }
    }
    if (id == ITEM_FILL_PRICE || id == ITEM_FILL_PRICE_AVG) v = shares != 0 ? weighted / shares : 0.0;
    return SetValue(node, v, id == ITEM_SHARES ? DATA_TYPE_VOLUME : id >= ITEM_ORDER_PRICE && id <= ITEM_FILL_PRICE_MAX ? DATA_TYPE_PRICE
                                                                                                                        : DATA_TYPE_NONE);
}

static int GetPositionValue(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    uint32_t id = node->item;
    const PositionRecord *position = context->position;
    bool isPrice = id >= ITEM_ORDER_PRICE && id <= ITEM_FILL_PRICE_MAX;
    bool isQuantity = id == ITEM_SHARES || (id >= ITEM_FILL_QTY && id <= ITEM_FILL_FRACTION);
    bool single;
    if (context->ownPosition) {
        if (!position) return isPrice ? 0 : SetValue(node, 0.0, id == ITEM_SHARES ? DATA_TYPE_VOLUME : DATA_TYPE_NONE);
        single = true;
    } else {
        single = !context->strategyData && !IsStatsGroup(context) && position &&
            (isPrice ? (position->entryPrice != 0 || position->orderPrice != 0) : position->quantity != 0);
        /* A strategy that searches its positions holds its quantities over
        ** all of them, never in the one position at hand. */
        if (isQuantity && context->strategy && context->strategy->positionSearch) single = false;
    }
    double barSplit = PositionBarSplit(context);
    if (!single) return GroupPositionValue(node, context, barsBack, barSplit);
    double priceSplit = PositionPriceSplit(context, barSplit);
    switch (id) {
    case ITEM_SHARES: return SetValue(node, PositionQuantity(position, position->quantity, barSplit), DATA_TYPE_VOLUME);
    case ITEM_FILL_QTY: return SetValue(node, PositionQuantity(position, position->requestedQuantity, barSplit), DATA_TYPE_NONE);
    case ITEM_FILL_VALUE: return SetValue(node, PositionFillValue(position), DATA_TYPE_NONE);
    case ITEM_FILL_FRACTION: return SetValue(node, position->fraction, DATA_TYPE_NONE);
    case ITEM_ORDER_PRICE: return SetValue(node, position->orderPrice * Ratio(priceSplit, position->entrySplit), DATA_TYPE_PRICE);
    case ITEM_FILL_PRICE:
        if (position->exitPrice != 0) return SetValue(node, position->exitPrice * Ratio(priceSplit, position->exitSplit), DATA_TYPE_PRICE);
        return SetValue(node, PositionFillPrice(context, context->strategy, position, priceSplit), DATA_TYPE_PRICE);
    case ITEM_FILL_PRICE_AVG:
    case ITEM_FILL_PRICE_MIN:
    case ITEM_FILL_PRICE_MAX: return 0;
    case ITEM_ENTRY_DATE: return SetValue(node, position->entryDate, DATA_TYPE_NONE);
    case ITEM_BARS_HELD: return SetValue(node, PositionBarsHeld(context, position, barsBack), DATA_TYPE_NONE);
    default: return 0;
    }
}

static const char *InfoText(const SymbolInfo *info, uint32_t id)
{
    switch (id) {
    case ITEM_Q_SYMBOL: return info->Symbol;
    case ITEM_Q_NAME: return info->Name;
    case ITEM_Q_TYPE: return info->Type;
    case ITEM_Q_LISTING_TYPE: return info->ListingType;
    case ITEM_Q_EQUITY_TYPE: return info->EquityType;
    case ITEM_Q_EXCHANGE: return info->Exchange;
    case ITEM_Q_DOMICILE: return info->Domicile;
    case ITEM_Q_CURRENCY: return info->Currency;
    case ITEM_Q_REPORTING_CURRENCY: return info->ReportingCurrency;
    case ITEM_Q_ECON_SECT: return info->EconSect;
    case ITEM_Q_SECTOR: return info->Sector;
    case ITEM_Q_IND_GROUP: return info->IndGroup;
    case ITEM_Q_INDUSTRY: return info->Industry;
    default: return info->InduIndex;
    }
}

/* The symbol's 1-based number in the symbol array. */
static int32_t SymbolNumber(const SymbolRecord *symbol)
{
    if (gStore.symbols && symbol >= gStore.symbols && symbol < gStore.symbols + gStore.symbolCount) return (int32_t)(symbol - gStore.symbols) + 1;
    return FindSymbolIndex(symbol->info.Symbol);
}

int GetNonBarValue(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    if (!context->symbol) return 0;
    int32_t index = 0, count = 0;
    const Bar *bar = BarAtOffset(context, barsBack, &index, &count);
    if (!bar) return 0;
    uint32_t id = node->item;
    if (id < ITEM_SYMBOL || id > ITEM_TL_VALUE_OUT) {
        ReportEvalInternalError("Internal Error: GetNonBarValue(Id=%d)", (int)id);
        return 0;
    }
    const SymbolRecord *symbol = context->symbol;
    const SymbolInfo *info = &symbol->info;
    const PositionRecord *position = context->position;
    if (id >= ITEM_Q_SYMBOL && id <= ITEM_Q_CII) {
        const char *text = InfoText(info, id);
        return SetText(node, 0.0, text[0] ? text : "n/a");
    }
    switch (id) {
    case ITEM_SYMBOL:
        if (context->importFlag) return SetValue(node, 1.0, DATA_TYPE_NONE);
        return SetText(node, SymbolNumber(symbol), info->Symbol);
    case ITEM_FILTER_NUM: return SetValue(node, context->filterNumber, DATA_TYPE_NONE);
    case ITEM_LIST_NUM: return SetValue(node, info->listNumber, DATA_TYPE_NONE);
    case ITEM_POINT_VALUE: return SetValue(node, info->PointValue, DATA_TYPE_NONE);
    case ITEM_TICK_SIZE: return SetValue(node, info->TickSize, DATA_TYPE_NONE);
    case ITEM_INFO_MARGIN: return SetValue(node, info->Margin, DATA_TYPE_NONE);
    case ITEM_INFO_TRBC: return SetValue(node, info->TRBC, DATA_TYPE_NONE);
    case ITEM_INFO_GICS: return SetValue(node, info->GICS, DATA_TYPE_NONE);
    case ITEM_INFO_SHARES: return SetValue(node, info->Shares, DATA_TYPE_NONE);
    case ITEM_INFO_FLOAT: return SetValue(node, info->Float, DATA_TYPE_NONE);
    case ITEM_INFO_ID: return SetValue(node, info->AssetId, DATA_TYPE_NONE);
    case ITEM_INFO_DELIST:
        if (symbol->dataSource == SOURCE_CSI_FUTURES)
            return SetValue(node, LookupDatedValue(context->symbol, context->barSize, bar->date, 0, EVENT_CONTRACT, 1, nullptr), DATA_TYPE_NONE);
        return SetValue(node, info->DelistDate, DATA_TYPE_NONE);
    case ITEM_FUNDAMENTAL:
    case ITEM_FUNDAMENTAL_DATE: {
        /* The fundamentals block is a tracked block of the data file's
        ** fundamentals count of items, so its size bounds the search. */
        uint64_t n = TrackedBlockSize(symbol->fundamentals) / sizeof(FundamentalItem);
        for (uint64_t k = 0; k < n; k++) {
            const FundamentalItem *f = &symbol->fundamentals[k];
            if (f->fieldId != node->index) continue;
            return SetValue(node, id == ITEM_FUNDAMENTAL ? f->value : (double)f->intValue, DATA_TYPE_NONE);
        }
        return SetValue(node, 0.0, DATA_TYPE_NONE);
    }
    case ITEM_CATEGORY: {
        if (!position) return 0;
        char *end = nullptr;
        double value = strtod(position->category, &end);
        char printed[64];
        FormatText(printed, sizeof printed, "%g", value);
        if (end == position->category || strcmp(printed, position->category) != 0)
            return SetText(node, 0.0, position->category);
        return SetValue(node, value, DATA_TYPE_NONE);
    }
    case ITEM_SIDE:
        if (context->strategy && context->strategy->positionSearch) return SetValue(node, SearchedSide(context), DATA_TYPE_NONE);
        return SetValue(node, position ? position->side : 0, DATA_TYPE_NONE);
    case ITEM_PREV_EXIT_LIMIT:
    case ITEM_PREV_EXIT_STOP: {
        if (!position) return 0;
        /* The price is in the terms of the bar it was worked out on, which
        ** is not the bar before when the symbol missed the days between. */
        double previousSplit = id == ITEM_PREV_EXIT_LIMIT ? position->limitSplit : position->stopSplit;
        if (previousSplit == 0)
            previousSplit = index > 0 ? GetBarArray(context->symbol, context->barSize, &count)[index - 1].split : bar->split;
        double price = id == ITEM_PREV_EXIT_LIMIT ? position->limitPrice : position->stopPrice;
        return SetValue(node, price * Ratio(bar->split, previousSplit), DATA_TYPE_PRICE);
    }
    case ITEM_IS_SETUP:
    case ITEM_SETUP_RANK:
    case ITEM_ORDER_RANK:
    case ITEM_IS_ORDER:
        if (position && !IsStatsGroup(context) && !context->strategyData) {
            double v = id == ITEM_IS_SETUP ? position->kept != 0
                : id == ITEM_SETUP_RANK    ? (int32_t)position->setupRank
                : id == ITEM_ORDER_RANK    ? (int32_t)position->selectionNumber
                                           : position->listed != 0;
            return SetValue(node, v, DATA_TYPE_NONE);
        }
        return SetValue(node, GroupSetupValue(id, context), DATA_TYPE_NONE);
    case ITEM_ENTRY_RANK: return position ? SetValue(node, position->openingNumber, DATA_TYPE_NONE) : 0;
    case ITEM_EXIT_RANK: return position ? SetValue(node, position->exitRank, DATA_TYPE_NONE) : 0;
    case ITEM_IS_EXIT: return position ? SetValue(node, position->exitReason > 0, DATA_TYPE_NONE) : 0;
    case ITEM_EXIT_NUM: return position ? SetValue(node, position->exitReason, DATA_TYPE_NONE) : 0;
    case ITEM_TL_VALUE_IN: return position ? SetValue(node, position->entryTradeValue, DATA_TYPE_NONE) : 0;
    case ITEM_TL_VALUE_OUT: return position ? SetValue(node, position->exitTradeValue, DATA_TYPE_NONE) : 0;
    default: return GetPositionValue(node, context, barsBack);
    }
}

/* ============================================================================
** Strategy information and statistics
** ========================================================================== */

static const char *StrategyKindName(int32_t kind)
{
    switch (kind) {
    case STRATEGY_KIND_TEMPLATE: return "Template";
    case STRATEGY_KIND_BENCHMARK: return "Benchmark";
    case STRATEGY_KIND_STRATEGY: return "Strategy";
    case STRATEGY_KIND_STATS_GROUP: return "StatsGroup";
    case STRATEGY_KIND_COMBINED: return "Combined";
    default: return "";
    }
}

/* Bars per year, quarter, month and week (which 0..3) at the test's bar size. */
static double BarsPerPeriod(const TestRecord *test, int which)
{
    /* clang-format off */
    static const double kFixed[4][4] = {
        {52, 13, 4, 1},   /* weekly */
        {12, 3, 1, 0},    /* monthly */
        {4, 1, 0, 0},     /* quarterly */
        {1, 0, 0, 0},     /* yearly */
    };
    /* clang-format on */
    int barSize = test->settings.BarSize2;
    if (barSize >= BAR_WEEKLY && barSize <= BAR_YEARLY) return kFixed[barSize - 1][which];
    static const double kDailyFactor[4] = {1.0, 0.25, 1.0 / 12, 1.0 / 52};
    return which == 2 ? test->daysPerYear / 12 : which == 3 ? test->daysPerYear / 52
                                                            : test->daysPerYear * kDailyFactor[which];
}

double TestBarsPerYear(const TestRecord *test)
{
    return BarsPerPeriod(test, 0);
}

static double PerAllocation(double value, const StatCell *cell)
{
    return cell->allocation != 0 ? value / cell->allocation : 0.0;
}

static int CellStatistic(uint32_t id, const TestRecord *test, const StrategyResult *result, const StatCell *cell,
                         int32_t row, double *out)
{
    double m = result->markedToMarket ? 1.0 : 0.0;
    double invested = cell->invested + m * (cell->markToMarket - 2 * cell->shortMarkToMarket);
    double longInvested = cell->invested - cell->shortInvested + m * (cell->markToMarket - cell->shortMarkToMarket);
    double shortInvested = cell->shortInvested + m * cell->shortMarkToMarket;
    double v;
    switch (id) {
    case ITEM_S_NUMBER: v = cell->rowNumber; break;
    case ITEM_S_FIRST: v = cell->first; break;
    case ITEM_S_DATE: v = cell->date; break;
    case ITEM_S_BPY:
    case ITEM_S_BPQ:
    case ITEM_S_BPM:
    case ITEM_S_BPW: v = BarsPerPeriod(test, (int)(id - ITEM_S_BPY)); break;
    case ITEM_S_SETUPS: v = cell->setups; break;
    case ITEM_S_ENTRY_ORDERS: v = cell->entryOrders; break;
    case ITEM_S_ENTRIES: v = cell->entries; break;
    case ITEM_S_EXITS: v = cell->exits; break;
    case ITEM_S_TARGETS: v = cell->targets; break;
    case ITEM_S_STOPS: v = cell->stops; break;
    case ITEM_S_WINS: v = cell->wins; break;
    case ITEM_S_LOSSES: v = cell->losses; break;
    case ITEM_S_TRADE_BARS: v = cell->tradeBars; break;
    case ITEM_S_WIN_BARS: v = cell->winBars; break;
    case ITEM_S_LOSS_BARS: v = cell->lossBars; break;
    case ITEM_S_TRADE_AMT: v = cell->tradeAmount; break;
    case ITEM_S_TRADE_PCT: v = cell->tradePercent; break;
    case ITEM_S_TRADE_PCT_ALLOC: v = cell->tradePercentAlloc; break;
    case ITEM_S_WIN_AMT: v = cell->winAmount; break;
    case ITEM_S_WIN_PCT: v = cell->winPercent; break;
    case ITEM_S_WIN_PCT_ALLOC: v = cell->winPercentAlloc; break;
    case ITEM_S_LOSS_AMT: v = cell->lossAmount; break;
    case ITEM_S_LOSS_PCT: v = cell->lossPercent; break;
    case ITEM_S_LOSS_PCT_ALLOC: v = cell->lossPercentAlloc; break;
    case ITEM_S_COMMS: v = cell->commissions; break;
    case ITEM_S_SLIPS: v = cell->slippage; break;
    case ITEM_S_ROLL_COSTS: v = cell->rollCosts; break;
    case ITEM_S_DIVIDENDS: v = cell->dividends; break;
    case ITEM_S_NET_FX: v = cell->currencyResult; break;
    case ITEM_S_POSITIONS: v = cell->positions; break;
    case ITEM_S_INVESTED: v = invested; break;
    case ITEM_S_LONG_INV: v = longInvested; break;
    case ITEM_S_SHORT_INV: v = shortInvested; break;
    case ITEM_S_EXPOSURE: v = PerAllocation(invested, cell); break;
    case ITEM_S_LONG_EXP: v = PerAllocation(longInvested, cell); break;
    case ITEM_S_SHORT_EXP: v = PerAllocation(shortInvested, cell); break;
    case ITEM_S_USAGE: v = PerAllocation(cell->usageAmount, cell); break;
    case ITEM_S_M2M: v = cell->markToMarket; break;
    case ITEM_S_MAE: v = cell->mae; break;
    case ITEM_S_MFE: v = cell->mfe; break;
    case ITEM_S_FUTURES_MARGIN: v = cell->futuresMargin; break;
    case ITEM_S_START_EQUITY: v = cell->startEquity; break;
    case ITEM_S_EQUITY: v = cell->cashInOut + cell->equityBase + cell->feesInOut + m * cell->markToMarket; break;
    case ITEM_S_MAX_EQUITY: v = cell->maxEquity; break;
    case ITEM_S_MIN_EQUITY: v = cell->minEquity; break;
    case ITEM_S_NET_AMT: v = cell->netAmount; break;
    case ITEM_S_NET_PCT: v = cell->netPercent; break;
    case ITEM_S_RISK_FREE_RATE: v = cell->riskFreeRate; break;
    case ITEM_S_INTEREST: v = cell->interest; break;
    case ITEM_S_CASH_IN_OUT: v = cell->cashInOut; break;
    case ITEM_S_FEES_IN_OUT: v = cell->feesInOut; break;
    case ITEM_S_TWEQ: v = cell->timeWeightedEquity; break;
    case ITEM_S_FREE_CASH: {
        const StatCell *source = cell;
        if (result->kind != STRATEGY_KIND_BENCHMARK) {
            const StatCell *main = GetResultCell(test, row, test->mainStrategy);
            if (main) source = main;
        }
        v = ComputeCellEquity(source, result->compounded);
        break;
    }
    case ITEM_S_ALLOC: v = cell->allocation; break;
    case ITEM_S_MAX_ALLOC: v = cell->maxAllocation; break;
    case ITEM_S_MIN_ALLOC: v = cell->minAllocation; break;
    case ITEM_S_COMPOUNDED: v = result->compounded; break;
    case ITEM_S_MARKED_TO_MARKET: v = result->markedToMarket; break;
    case ITEM_S_DD_BARS: v = cell->drawdownBars; break;
    case ITEM_S_MAX_DD_BARS: v = cell->maxDrawdownBars; break;
    case ITEM_S_DD_AMT: v = cell->drawdownAmount; break;
    case ITEM_S_MAX_DD_AMT: v = cell->maxDrawdownAmount; break;
    case ITEM_S_DD_PCT: v = cell->drawdownPercent; break;
    case ITEM_S_MAX_DD_PCT: v = cell->maxDrawdownPercent; break;
    default: return 0;
    }
    *out = v;
    return 1;
}

int GetStatValue(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    uint32_t id = node->item;
    const TestRecord *test = context->test;
    int32_t s = context->strategyIndex;
    if (!test || !test->strategies || s < 0 || s >= test->strategyCount) return 0;
    /* "@tracker" names a strategy only as Extern's first argument; as a term
    ** of its own it has no value. */
    if (id < ITEM_Q_STRATEGY || id > ITEM_FUN_STAT || id == ITEM_TRACKER) {
        ReportEvalInternalError("Internal Error: GetStatValue(Id=%d)", (int)id);
        return 0;
    }
    const StrategyResult *result = &test->strategies[s];
    int32_t row = context->resultRow - barsBack;
    /* Before the close these read the row before the date's own, which is
    ** not complete yet.  Orders for the next trading day stand on a date past
    ** the last row: the row before that date is the last row itself. */
    const StatCell *current = gRun.generatingOrders ? GetResultCell(test, context->resultRow, s) : nullptr;
    bool pastLastRow = current && (int32_t)current->date < context->date;
    if ((id == ITEM_S_NUMBER || id == ITEM_STRATDATA_REF) && context->barPhase < PHASE_CLOSE && !pastLastRow) {
        if (row <= 0) return 0;
        row--;
    }
    double v;
    switch (id) {
    case ITEM_Q_STRATEGY: return SetText(node, s + 1, result->name);
    case ITEM_Q_STRAT_TYPE: return SetText(node, result->kind, StrategyKindName(result->kind));
    case ITEM_STRAT_NUM: v = s + 1; break;
    case ITEM_IS_TRACKER: v = result->tracker < 0; break;
    case ITEM_FUN_STAT: v = context->funBar; break;
    case ITEM_STRATDATA_REF:
    case ITEM_GRAPHS_COLUMN:
    case ITEM_RESULTS_COLUMN: {
        const double *p = id == ITEM_STRATDATA_REF ? GetExtraStatValuePtr(test, row, s, (int32_t)node->index)
            : id == ITEM_GRAPHS_COLUMN             ? GetGraphColValuePtr(test, row, s, (int32_t)node->index)
                                                   : GetStrategyValues(test, s, (int32_t)node->index);
        if (!p) return 0;
        v = *p;
        break;
    }
    default: {
        const StatCell *cell = GetResultCell(test, row, s);
        if (!cell || !CellStatistic(id, test, result, cell, row, &v)) return 0;
        break;
    }
    }
    return SetValue(node, RoundToStep(v, 0.000001, 0), DATA_TYPE_NONE);
}

/* ============================================================================
** Trade values
** ========================================================================== */

static double TradeNetPercent(const TradeRecord *trade)
{
    double base = trade->priceIn * trade->quantityIn * trade->fxIn;
    /* A trade without an entry value has no percentage. */
    if (base == 0 || trade->pointValue == 0) return std::numeric_limits<double>::quiet_NaN();
    return TradeNetProfit(trade) / base / trade->pointValue;
}

/* The value of trade item id of one trade; texts go into the node. */
static double TradeItem(uint32_t id, const TradeRecord *trade, const TestRecord *test, FormulaNode *node)
{
    switch (id) {
    case ITEM_T_STRAT: {
        const char *name = test->strategies && trade->strategy >= 0 && trade->strategy < test->strategyCount
            ? test->strategies[trade->strategy].name
            : "";
        SetText(node, 0, name);
        return trade->strategy + 1;
    }
    case ITEM_T_SYMBOL: SetText(node, 0, trade->symbol); return trade->symbolNumber;
    case ITEM_T_PT_VAL: return trade->pointValue;
    case ITEM_T_SIDE: return trade->side;
    case ITEM_T_DATE_IN: return trade->dateIn;
    case ITEM_T_TIME_IN: return trade->timeIn;
    case ITEM_T_QTY_IN: return trade->quantityIn;
    case ITEM_T_PRICE_IN: return trade->priceIn;
    case ITEM_T_SPLIT_IN: return trade->splitIn;
    case ITEM_T_COMM_IN: return trade->commissionIn;
    case ITEM_T_SLIP_IN: return trade->slippageIn;
    case ITEM_T_FX_IN: return trade->fxIn;
    case ITEM_T_DATE_OUT: return trade->dateOut;
    case ITEM_T_TIME_OUT: return trade->timeOut;
    case ITEM_T_QTY_OUT: return trade->quantityOut;
    case ITEM_T_PRICE_OUT: return trade->priceOut;
    case ITEM_T_SPLIT_OUT: return trade->splitOut;
    case ITEM_T_COMM_OUT: return trade->commissionOut;
    case ITEM_T_SLIP_OUT: return trade->slippageOut;
    case ITEM_T_FX_OUT: return trade->fxOut;
    case ITEM_T_REASON:
        /* A trade that never left is a kept skipped setup: its code is a skip reason. */
        SetText(node, 0, GetTradeReason(trade->reasonText, trade->reason, IsSkippedTrade(trade)));
        return trade->reason;
    case ITEM_T_BARS: return trade->bars;
    case ITEM_T_HIGHEST: return trade->highest;
    case ITEM_T_LOWEST: return trade->lowest;
    case ITEM_T_DIV: return trade->dividends;
    case ITEM_T_POINTS: return TradePriceMove(trade);
    case ITEM_T_PROFIT: return TradeNetProfit(trade);
    case ITEM_T_NET_PCT: return TradeNetPercent(trade);
    case ITEM_T_FRACTION: return trade->fraction;
    case ITEM_T_NET_FX: return TradeCurrencyGain(trade);
    case ITEM_T_VALUE_IN: return trade->valueIn;
    case ITEM_T_VALUE_OUT: return trade->valueOut;
    default: return trade->rollCosts;
    }
}

static int32_t TradeKey(const TradeRecord *trade)
{
    return trade->dateOut > trade->dateIn ? trade->dateOut : trade->dateIn;
}

int GetTradeValue(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    uint32_t id = node->item;
    const TestRecord *test = context->test;
    int32_t s = context->strategyIndex;
    if (!test || s < 0 || s >= test->strategyCount) return 0;
    if (id == ITEM_TRADES_COLUMN) {
        if (barsBack != 0) return 0;
        return GetColumnValue(node, context);
    }
    if (id < ITEM_T_STRAT || id > ITEM_T_ROLL_COSTS) {
        ReportEvalInternalError("Internal Error: GetTradeValue(Id=%d)", (int)id);
        return 0;
    }
    if (context->trade) {
        double v = TradeItem(id, context->trade, test, node);
        return SetValue(node, v, DATA_TYPE_NONE);
    }
    if (!context->symbol) return SetValue(node, 0.0, DATA_TYPE_NONE);
    int32_t index = 0, count = 0;
    const Bar *bar = BarAtOffset(context, barsBack, &index, &count);
    if (!bar) return SetValue(node, 0.0, DATA_TYPE_NONE);
    int32_t d = bar->date;
    int32_t previous =
        index > 0 ? ContextBarAt(context, GetBarArray(context->symbol, context->barSize, nullptr), index - 1)->date : 0;
    int32_t symbolNumber = SymbolNumber(context->symbol);
    /* Trades closed on this bar: those whose exit lies after the previous
    ** bar's date up to this bar's date; the array is in date order, so a
    ** binary search finds the first candidate. */
    int32_t lo = 0, hi = test->trades ? test->tradeCount : 0;
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if (TradeKey(&test->trades[mid]) <= previous)
            lo = mid + 1;
        else
            hi = mid;
    }
    bool found = false;
    double sum = 0;
    for (int32_t k = lo; test->trades && k < test->tradeCount && TradeKey(&test->trades[k]) <= d; k++) {
        const TradeRecord *trade = &test->trades[k];
        if (!(trade->dateOut == d || (trade->dateOut > previous && trade->dateOut < d))) continue;
        if (trade->symbolNumber != symbolNumber) continue;
        if (trade->strategy != s && !StrategyInGroup(test, trade->strategy, s)) continue;
        double v = TradeItem(id, trade, test, node);
        if (std::isnan(v)) continue; /* a trade without the value adds nothing */
        switch (id) {
        case ITEM_T_QTY_IN:
        case ITEM_T_QTY_OUT:
        case ITEM_T_POINTS:
        case ITEM_T_PROFIT:
        case ITEM_T_NET_PCT: sum += v; break;
        case ITEM_T_HIGHEST: sum = found && sum > v ? sum : v; break;
        case ITEM_T_LOWEST: sum = found && sum < v ? sum : v; break;
        default:
            if (!found) sum = v;
            break;
        }
        found = true;
        if (!(id == ITEM_T_QTY_IN || id == ITEM_T_QTY_OUT || (id >= ITEM_T_HIGHEST && id <= ITEM_T_LOWEST) || (id >= ITEM_T_POINTS && id <= ITEM_T_NET_PCT))) break;
    }
    return SetValue(node, found ? sum : 0.0, DATA_TYPE_NONE);
}
