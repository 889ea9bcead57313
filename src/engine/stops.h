/* stops.h -- whether an open position's exit target or exit stop is reached
** on a bar, at which timing and price, and which to assume when the bar
** allows several orders of events.
**
** Owns:       nothing; it writes the position's target and stop prices and,
**             when an exit is chosen, its exit price, reason, timing and label.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "engine/positions.h"

/* Values of a strategy's Ambiguity constant. */
enum AmbiguityRule { AMBIGUITY_DEFAULT = 0,
                     AMBIGUITY_STOP = 1,
                     AMBIGUITY_TARGET = 2,
                     AMBIGUITY_NEITHER = 3 };

/* One exit order worked out on the position's last completed bar. */
struct ExitOrder {
    bool checked; /* its timing is checked in the phase and its formula given */
    double price; /* 0: none; else in the split terms of the bar it was worked out on */
    double split; /* that bar's split factor (0: unknown) */
    char label[POSITION_TEXT_SIZE];
};

/* The context position's exit target and stop for one phase. */
struct ExitOrders {
    ExitOrder target, stop;
    double extra; /* LimitExtra, in the target's terms */
};

/* The split factor of the context's last completed bar, the bar a formula
** stands on and prices in (0 when there is none). */
double EvaluationSplit(const EvalContext *context);
/* The factor that takes a price worked out on a bar of split factor from
** into the split terms of bar (1 when either has none): a split between the
** two is no move of the price. */
double SplitRatio(double from, const Bar *bar);
/* Evaluates slot into *value, or as text into text (size) when text is
** given, with every price the formula reads, the position's own among them,
** in the split terms of the bar it stands on.  1 when it evaluates. */
int EvalInBarTerms(FormulaSlot *slot, EvalContext *context, double *value, char *text = nullptr, int32_t size = 0);
/* Works out the target and stop the context's phase checks (entered: the
** position entered on the bar to be checked, which at the close keeps the
** intraday orders from it).  In trade-list mode only formulas that follow
** PrevExitLimit or PrevExitStop count.  Every price a formula reads, the
** position's fill and order prices among them, is in the terms of the bar it
** stands on.  1 when there is an order to check. */
int EvalExitOrders(EvalContext *context, ExitOrders *orders, bool entered, int tradeListMode);
/* Checks the orders on bar (previousClose: the close of the bar before it,
** in bar's split terms; entered: the position entered on bar).  The orders
** are compared with bar in its split terms, while the position keeps their
** prices in the terms they were worked out in; when an exit is chosen (never
** in trade-list mode) the position's exit price, reason, timing and label are
** set.  Returns the factor that takes the chosen order's price into bar's
** terms (1 when none was chosen). */
double JudgeExitOrders(EvalContext *context, const ExitOrders *orders, const Bar *bar, double previousClose, bool entered,
                       int tradeListMode);
/* Both on the context's bar: works the orders out and checks them on bar. */
double ResolveIntradayOrder(EvalContext *context, const Bar *bar, double previousClose, int tradeListMode);
