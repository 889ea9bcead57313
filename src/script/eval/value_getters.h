/* value_getters.h -- the values of data terms: bars, bar dates, symbol and
** position information, strategy statistics and trades.
**
** Each getter has the form (node, context, bars back) and dispatches on the
** node's item id.  It returns 1 with the node's value and data type set (and
** for text items the node's text and text flag), or 0 when there is no value:
** no symbol, no bar at that offset, no test, position or trade where one is
** needed.  An id outside a getter's range is an internal error: it is
** reported ("Internal Error: GetBarValue(Id=%d)" and the like), a running run
** is asked to stop, and the term fails.
**
** Bars:       the bar at bars back b is bar (last completed bar - b) of the
**             context symbol at the context's bar size; prices are scaled to
**             the context's split level by f = price scale / the bar's split
**             factor (price × f, volume / f).
** Positions:  position items read the context's own position when it holds
**             shares (or, for prices, an order or fill price); otherwise they
**             sum, average or pick extremes over the open positions in the
**             context symbol of the current strategy and the strategies its
**             test groups under it (the strategy records' position lists).  A
**             strategy that searches its positions takes its quantities and
**             Side from its own list.
** Charts:     a Charts column reads the chart window's calculated values;
**             outside a chart it is 0, and a read before the chart calculated
**             or beyond its bars or columns is reported and stops the run.
** Threads:    any evaluating thread; the getters write only the node and read
**             the loaded data, the compiled script and the test record.
** Speed:      GetBarValue runs for nearly every term of every bar: no
**             allocation, no strings, no locks on its price and volume items.
*/
#pragma once
#include <cstdint>

#include "script/eval/eval_context.h"

struct FormulaNode;
struct EvalContext;
struct Bar;

/* The context symbol's bar array at the context's bar size with its count;
** while a trial bar stands one past the last bar, the count includes it. */
const Bar *ContextBarArray(const EvalContext *context, int32_t *count);
/* Bar index of that array, or the context's trial bar when it stands there. */
inline const Bar *ContextBarAt(const EvalContext *context, const Bar *bars, int32_t index)
{
    return context->trialBar && index == context->trialIndex && context->trialSymbol == context->symbol &&
            context->trialBarSize == context->barSize
        ? context->trialBar
        : &bars[index];
}

/* Categories 9 (bar values) and the series references 247-254. */
int GetBarValue(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* Category 10: bar dates; an unknown id gives 0 without an error. */
int GetBarDateValue(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* Categories 15 and 16: symbol and position information. */
int GetNonBarValue(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* Categories 17 and 18: strategy information and statistics, rounded to 1e-6. */
int GetStatValue(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* The bars a year of a test at its bar size (S.BPY): 52, 12, 4 or 1 for
** weekly to yearly tests, the test's days per year for a daily one. */
double TestBarsPerYear(const TestRecord *test);
/* Category 19 and the Trades columns (253). */
int GetTradeValue(FormulaNode *node, EvalContext *context, int32_t barsBack);

/* The true range of bar index of the context symbol at the context's bar size
** and price scale: on the first bar high - low, else from the previous close
** as well (each price scaled by price scale / its own split).  0 outside the
** bar array. */
double BarTrueRange(const EvalContext *context, int32_t index);
