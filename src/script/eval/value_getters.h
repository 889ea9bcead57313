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
** Limits:     position items read the context's own position; the sums,
**             averages and extremes over a strategy group's open positions
**             (and Side's search of the strategy's positions) need the
**             engine's per-strategy position lists, which the strategy
**             records do not carry yet, and read as "no position" until they
**             do.  Charts columns need the chart window's indicator arrays
**             and read 0 here.
** Threads:    any evaluating thread; the getters write only the node and read
**             the loaded data, the compiled script and the test record.
** Speed:      GetBarValue runs for nearly every term of every bar: no
**             allocation, no strings, no locks on its price and volume items.
*/
#pragma once
#include <cstdint>

struct FormulaNode;
struct EvalContext;
struct Bar;

/* Categories 9 (bar values) and the series references 247-254. */
int GetBarValue(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* Category 10: bar dates; an unknown id gives 0 without an error. */
int GetBarDateValue(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* Categories 15 and 16: symbol and position information. */
int GetNonBarValue(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* Categories 17 and 18: strategy information and statistics, rounded to 1e-6. */
int GetStatValue(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* Category 19 and the Trades columns (253). */
int GetTradeValue(FormulaNode *node, EvalContext *context, int32_t barsBack);

/* The true range of bar index of the context symbol at the context's bar size
** and price scale: on the first bar high - low, else from the previous close
** as well (each price scaled by price scale / its own split).  0 outside the
** bar array. */
double BarTrueRange(const EvalContext *context, int32_t index);
