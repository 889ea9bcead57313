/* value_access.h -- accessors that reach computed values: a symbol's Data and
** TestData series, a series value aligned to another date or bar size, a
** test's statistics cells, StratData, Graphs and Results column values,
** dated event values, the binding of a context to its symbol and bar, and
** currency factors.
**
** Errors:     none of them reports anything; each gives 0, NaN, -1, the date
**             itself, or no pointer when the value does not exist, and the
**             caller decides.  Every index into a test's arrays is checked
**             against the row, strategy and column counts and the array's
**             total count before it is used.
** Threads:    any thread; SyncContextBar and BindContextSymbol write only
**             their context and the symbol's lookup hint of the context's
**             worker slot; GetCurrencyFactor uses lookup slot 0 (symbols.h).
*/
#pragma once
#include <cstdint>

#include "script/eval/eval_context.h"

struct StatCell;
struct FormulaItem;

/* Finds the context symbol's bar for the context date at the context's bar
** size and phase; sets barIndex and lastBar (-1 when no bar completed).
** Returns the bar, or null (indexes then unchanged). */
Bar *SyncContextBar(EvalContext *context);
/* SyncContextBar for a daily context whose symbol has its bar dated the
** context date at index, known to the caller: the same bar, indexes and
** traces of the lookup, without the search. */
Bar *SyncContextDailyBar(EvalContext *context, int32_t index);
/* Sets the context's symbol from its strategy (calendar when none), syncs its
** bar and returns it. */
Bar *BindContextSymbol(EvalContext *context);
/* Moves the context date back to the strategy symbol's bar on or before it. */
void ClampDateToSymbolBar(EvalContext *context);
/* The factor that converts the context symbol's prices through its currency
** symbol on the first date of the context's period (GetCurrencyRate); with
** useBarDate on daily bars, on the date of the context's last completed bar
** when that bar exists.  1.0 without a symbol or a currency. */
double GetCurrencyFactor(EvalContext *context, int useBarDate);

/* Data item (0-based) at bar of the symbol's Data block; 0.0 without a block
** or outside it. */
double GetSeriesValue(const SymbolRecord *symbol, int32_t bar, int32_t item);
/* The same from the TestData block. */
double GetStrategySeriesValue(const SymbolRecord *symbol, int32_t bar, int32_t item);
/* The bar size whose bars a Data or TestData item's values follow; an item
** whose bar size is unset follows the settings' bar size. */
int32_t DataItemBarSize(const FormulaItem *item);
/* A Data (testData 0) or TestData item stored per date, per symbol or at
** another bar size, aligned to the context's date at bars back; NaN when
** there is no value.  A period that is still incomplete at the symbol's first
** or last date is never read: the bar before it is used instead.  *split
** (may be null) gets the split factor of the symbol's bar read, whose terms
** the value is in; it is left alone for an item per date or per symbol. */
double GetAlignedSeriesValue(const EvalContext *context, int32_t barsBack, int32_t item, int testData,
                             double *split = nullptr);

/* The row whose period ends on date, or (period 1..4) the row whose period
** holds date; -1 when none. */
int32_t FindResultRowByDate(const TestRecord *test, int32_t date, int32_t period);

/* The value of the symbol's events of kind on date (and time) at bar size:
** the events of the date itself, of the trading date before after time, of
** the days between for longer bars, and with latest any earlier one.  0 when
** none; *outDate (may be null) gets the date of the value. */
double LookupDatedValue(const SymbolRecord *symbol, int32_t barSize, int32_t date, int32_t time, int32_t kind,
                        int latest, int32_t *outDate);

/* The statistics cell of (row, strategy), or null. */
const StatCell *GetResultCell(const TestRecord *test, int32_t row, int32_t strategy);
/* StratData value column of (row, strategy), or null. */
const double *GetExtraStatValuePtr(const TestRecord *test, int32_t row, int32_t strategy, int32_t column);
/* Graphs column value of (row, strategy), or null. */
const double *GetGraphColValuePtr(const TestRecord *test, int32_t row, int32_t strategy, int32_t column);
/* Results column value of a strategy, or null. */
const double *GetStrategyValues(const TestRecord *test, int32_t strategy, int32_t column);
