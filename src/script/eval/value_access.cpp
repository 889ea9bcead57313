/* value_access.cpp -- context bar synchronisation and binding, currency
** factors, series values, test arrays and dated events. */
#include "script/eval/value_access.h"

#include <cmath>

#include "records/test_records.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "marketdata/store/calendar.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"

Bar *SyncContextBar(EvalContext *context)
{
    int barSize = context->barSize;
    int daily = barSize < BAR_WEEKLY || barSize > BAR_YEARLY;
    int32_t searchDate = daily ? context->date : GetPeriodFirstDate(context->date, 1, barSize);
    int mode = daily ? context->barPhase : PHASE_OPEN;
    Bar *bar = nullptr;
    SymbolRecord *symbol = context->symbol;
    int index = FindBarIndex(symbol, barSize, searchDate, mode, context->slot, &bar);
    /* A symbol listed after its first period began has no bar from that
    ** period's first date, yet at the close of its first bar's own date the
    ** bar is as complete as any period's is at its end. */
    if (index < 0 && !daily && context->barPhase == PHASE_CLOSE && symbol && searchDate < symbol->firstDate &&
        symbol->firstDate <= context->date) {
        index = FindBarIndex(symbol, barSize, context->date, PHASE_CLOSE, context->slot, &bar);
        if (index >= 0 && bar->date != context->date) index = -1;
    }
    if (index < 0) return nullptr;
    context->barIndex = index;
    int phase = bar->date == context->date ? context->barPhase : mode;
    context->lastBar = phase < PHASE_CLOSE ? index - 1 : index;
    return bar;
}

Bar *SyncContextDailyBar(EvalContext *context, int32_t index)
{
    SymbolRecord *symbol = context->symbol;
    NoteDailyBarFound(symbol, context->slot, index);
    context->barIndex = index;
    context->lastBar = context->barPhase < PHASE_CLOSE ? index - 1 : index;
    return &symbol->bars[BAR_DAILY][index];
}

Bar *BindContextSymbol(EvalContext *context)
{
    SymbolRecord *record = nullptr;
    if (context->strategy && context->strategy->symbolNumber > 0)
        record = SymbolByNumber(context->strategy->symbolNumber);
    context->symbol = record ? record : &gStore.calendar;
    return SyncContextBar(context);
}

void ClampDateToSymbolBar(EvalContext *context)
{
    if (!context->strategy || context->strategy->symbolNumber <= 0) return;
    SymbolRecord *record = SymbolByNumber(context->strategy->symbolNumber);
    if (!record) return;
    Bar *bar = GetBarOnOrBefore(record, context->date, context->barSize);
    if (bar && bar->date < context->date) context->date = bar->date;
}

double GetCurrencyFactor(EvalContext *context, int useBarDate)
{
    SymbolRecord *record = context->symbol;
    if (!record || !SymbolByNumber(record->currencySymbol)) return 1.0;
    int32_t date = GetPeriodFirstDate(context->date, context->barPhase, context->barSize);
    if (!useBarDate) return GetCurrencyRate(record, date);
    if (context->barSize < BAR_WEEKLY || context->barSize > BAR_YEARLY) {
        if (context->lastBar >= 0 && context->lastBar < record->barCounts[BAR_DAILY] && record->bars[BAR_DAILY])
            date = record->bars[BAR_DAILY][context->lastBar].date;
    } else if (context->barPhase < PHASE_CLOSE) {
        /* A longer bar's last completed bar is a period: before the close the
        ** rate known is that of the symbol's last day before this one, as a
        ** daily context's is (the day's own close is not known yet). */
        if (const Bar *before = GetBarOnOrBefore(record, PrevDay(date), BAR_DAILY)) date = before->date;
    }
    return GetCurrencyRate(record, date);
}

/* ---- series values ---------------------------------------------------------------- */

static double SeriesValue(const SymbolRecord *symbol, int block, int32_t bar, int32_t item)
{
    if (!symbol || !symbol->dataValues[block] || !symbol->dataOffsets[block] || bar < 0 || item < 0) return 0.0;
    return symbol->dataValues[block][symbol->dataOffsets[block][item] + bar];
}

double GetSeriesValue(const SymbolRecord *symbol, int32_t bar, int32_t item)
{
    return SeriesValue(symbol, 0, bar, item);
}

double GetStrategySeriesValue(const SymbolRecord *symbol, int32_t bar, int32_t item)
{
    return SeriesValue(symbol, 1, bar, item);
}

int32_t DataItemBarSize(const FormulaItem *item)
{
    if (item->barSize >= 0 && item->barSize < BAR_SIZE_COUNT) return item->barSize;
    int32_t run = gSettings.BarSize2;
    return run >= 0 && run < BAR_SIZE_COUNT ? run : BAR_DAILY;
}

double GetAlignedSeriesValue(const EvalContext *context, int32_t barsBack, int32_t item, int testData, double *split)
{
    const FormulaItem *definition = DefinitionItem(testData ? SECTION_TEST_DATA : SECTION_DATA, (uint32_t)item);
    if (!definition || !context->symbol) return NAN;
    int onePerDate = definition->onePerDate, onePerSymbol = definition->onePerSymbol;
    int32_t itemBarSize = DataItemBarSize(definition);
    EvalContext copy = *context;
    if (onePerDate && !onePerSymbol && !SyncContextBar(&copy)) return NAN;
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
    int64_t source = onePerSymbol ? 0 : (int64_t)copy.lastBar - barsBack;
    if (!bars || source < 0 || source >= count) return NAN;
    copy.barPhase = PHASE_CLOSE;
    copy.date = bars[source].date;
    copy.barSize = itemBarSize;
    if (onePerDate) copy.symbol = &gStore.calendar;
    int32_t bar = 0;
    if (!onePerSymbol) {
        if (!SyncContextBar(&copy)) {
            /* A longer bar whose period the symbol did not trade to its end is
            ** dated on the period's last day all the same: a daily item's value
            ** there is that of the symbol's last day in the period. */
            const bool longerRun = context->barSize >= BAR_WEEKLY && context->barSize <= BAR_YEARLY;
            if (onePerDate || !longerRun || itemBarSize >= BAR_WEEKLY) return NAN;
            const Bar *last = GetBarOnOrBefore(copy.symbol, copy.date, itemBarSize);
            if (!last || last->date < GetPeriodFirstDate(copy.date, 1, context->barSize)) return NAN;
            copy.date = last->date;
            if (!SyncContextBar(&copy)) return NAN;
        }
        bar = copy.lastBar;
        const SymbolRecord *symbol = copy.symbol;
        if ((copy.date == symbol->firstDate || copy.date == symbol->lastDate) &&
            !IsPeriodEnd(copy.date, itemBarSize, context->strategy))
            bar--;
        if (bar < 0) return NAN;
        int32_t own = 0;
        const Bar *read = onePerDate ? nullptr : GetBarArray(copy.symbol, itemBarSize, &own);
        if (split && read && bar < own) *split = read[bar].split;
    }
    return testData ? GetStrategySeriesValue(copy.symbol, bar, item) : GetSeriesValue(copy.symbol, bar, item);
}

/* ---- test arrays -------------------------------------------------------------------- */

int32_t FindResultRowByDate(const TestRecord *test, int32_t date, int32_t period)
{
    if (!test || !test->cells || test->strategyCount <= 0) return -1;
    int32_t rows = test->rowsFilled < test->rowCount ? test->rowsFilled : test->rowCount;
    for (int32_t r = 0; r < rows; r++) {
        int32_t end = (int32_t)test->cells[(int64_t)r * test->strategyCount].date;
        if (end == date) return r;
        if (end > date) {
            if (period == 0) return -1;
            return GetPeriodFirstDate(end, 1, period) <= date ? r : -1;
        }
    }
    return -1;
}

static bool InGrid(const TestRecord *test, int32_t row, int32_t strategy)
{
    return test && row >= 0 && row < test->rowCount && strategy >= 0 && strategy < test->strategyCount;
}

const StatCell *GetResultCell(const TestRecord *test, int32_t row, int32_t strategy)
{
    if (!InGrid(test, row, strategy) || !test->cells) return nullptr;
    return &test->cells[(int64_t)row * test->strategyCount + strategy];
}

const double *GetExtraStatValuePtr(const TestRecord *test, int32_t row, int32_t strategy, int32_t column)
{
    if (!InGrid(test, row, strategy) || !test->stratDataValues || column < 0 || column >= test->stratDataItemCount)
        return nullptr;
    int64_t at = ((int64_t)row * test->strategyCount + strategy) * test->stratDataItemCount + column;
    return at < test->stratDataValueCount ? &test->stratDataValues[at] : nullptr;
}

const double *GetGraphColValuePtr(const TestRecord *test, int32_t row, int32_t strategy, int32_t column)
{
    if (!InGrid(test, row, strategy) || !test->graphValues) return nullptr;
    int64_t cells = (int64_t)test->rowCount * test->strategyCount;
    int64_t columns = cells > 0 ? test->graphValueCount / cells : 0;
    if (column < 0 || column >= columns) return nullptr;
    int64_t at = ((int64_t)row * test->strategyCount + strategy) * columns + column;
    return at < test->graphValueCount ? &test->graphValues[at] : nullptr;
}

const double *GetStrategyValues(const TestRecord *test, int32_t strategy, int32_t column)
{
    if (!test || !test->resultsValues || strategy < 0 || strategy >= test->strategyCount) return nullptr;
    int64_t columns = test->resultsValueCount / test->strategyCount;
    if (column < 0 || column >= columns) return nullptr;
    int64_t at = (int64_t)strategy * columns + column;
    return at < test->resultsValueCount ? &test->resultsValues[at] : nullptr;
}

/* ---- dated events ------------------------------------------------------------------- */

double LookupDatedValue(const SymbolRecord *symbol, int32_t barSize, int32_t date, int32_t time, int32_t kind,
                        int latest, int32_t *outDate)
{
    if (!symbol || !symbol->events) return 0.0;
    int size = barSize >= BAR_WEEKLY && barSize <= BAR_YEARLY ? barSize : BAR_DAILY;
    const DateList *list = &gStore.dateLists[size];
    int32_t p = OffsetTradingDate(list, date, -1);
    int32_t n = OffsetTradingDate(list, date, 1);
    double v = 0;
    for (int32_t k = 0; k < symbol->eventCount; k++) {
        const EventItem *e = &symbol->events[k];
        if (n > 0 && e->date >= n) break;
        if (e->kind != kind) continue;
        bool counts = (latest && (e->date < date || (e->date == date && e->time < time))) ||
            (e->date == p && e->time > time) || (e->date == date && e->time <= time) ||
            (size != BAR_DAILY && e->date > p && e->date < date);
        if (counts) {
            v = e->value;
            if (v != 0 && outDate) *outDate = size != BAR_DAILY ? date : e->date;
        }
        /* Nothing later can count once the walk has passed the date and time. */
        if (e->date > date || (e->date == date && e->time >= time)) break;
    }
    return v;
}
