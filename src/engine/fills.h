/* fills.h -- on which daily bar an order of the simulation fills and at what
** price, whether a date is a bar of the strategy's bar size, dead bars, the
** price rounding unit, commission and slippage, and compacting a strategy's
** open positions after exits.
**
** Shared by every entry and exit of the test run and by order generation.
** Costs:      every cost or rounding formula runs with the context's cost flag
**             set (1 in a Daily run, else 0) and cleared afterwards.
**             Commissions are stored in the account currency once, at the
**             moment they are charged.
** Fills:      FindExecutionBar answers a date, or a negated skip code: -16
**             stop-and-limit entry not filled, -17 no bar or not filled in the
**             period, -18 the bar of the date is dead, -33 the search passed
**             the run's last date.  These are results, not errors.
**             An exit's limit or stop is tested at its own trigger price (the
**             target or stop before slippage); the exit slippage already taken
**             stays a cost on whatever price the bar fills at.
** Threads:    UI thread (test run and order generation).
** Speed:      the date loop's hot path: no allocation, no strings, no locks.
*/
#pragma once
#include <cstdint>

#include "records/test_records.h"
#include "script/eval/eval_context.h"

/* A fill the day's prices bound: a price that its rounding, or its
** carrying across split terms, took past the high or low of its day (the
** entry's or exit's date) is that high or low.  Slippage beyond the range
** is a cost and stays. */
void KeepFillInsideDay(PositionRecord *position, int isEntry);

/* Negated skip codes that FindExecutionBar answers. */
enum ExecutionResult {
    EXEC_STOP_LIMIT_NOT_HIT = -16,
    EXEC_NO_DATA = -17,
    EXEC_ZERO_VOLUME = -18,
    EXEC_END_OF_TEST = -33
};

/* Entry fill kinds. */
enum FillKind { FILL_MARKET = 1,
                FILL_LIMIT = 2,
                FILL_STOP = 3 };

/* Exit reason codes (ExitReason texts). */
enum ExitReasonCode {
    EXIT_NONE = 0,
    EXIT_RULE = 1,
    EXIT_LIMIT = 2,
    EXIT_STOP = 3,
    EXIT_END_OF_TEST = 4,
    EXIT_END_OF_DATA = 5,
    EXIT_TRADE_LIST = 6,
    EXIT_REDUCE = 7,
    EXIT_ZERO_POSITION = 8,
    EXIT_ROLL_FORWARD = 9
};
static_assert(EXIT_ROLL_FORWARD + 1 == EXIT_REASON_COUNT, "one code per exit reason text");

/* The strategy's Commission (trade-list positions keep theirs when there is
** none) times the entry or exit FX (1 with CommCurrency Account), rounded to
** 0.01, into the entry or exit commission. */
void ApplyCommission(EvalContext *context, PositionRecord *position, int isEntry);
/* Moves the entry or exit price against the position by the slippage formula
** that fits the fill, records the slippage amount and rounds the price to the
** unit of the context's bar. */
void ApplySlippage(EvalContext *context, PositionRecord *position, int isEntry);
/* The PriceRound formula's value when it evaluates, else the tick size. */
double GetPriceRoundUnit(EvalContext *context, const SymbolRecord *symbol, const Bar *bar, double price);
/* 1 when date (0: the context date) is a bar of the context's bar size for
** the context's strategy. */
int IsBarDate(EvalContext *context, int32_t date);
/* The date on which the position's entry or exit order fills, or a negative
** ExecutionResult; see the header comment. */
int32_t FindExecutionBar(EvalContext *context, PositionRecord *position, int isEntry);
/* 1 for a bar that did not trade: no volume, all four prices equal, after
** the symbol's first traded date, and the strategy does not allow it. */
int IsDeadBar(const EvalContext *context, const Bar *bar, int32_t date);
/* Removes the strategy's closed open positions (entry bar -1), keeping the
** order of the others; a negative marker word is made positive. */
void RemoveClosedPositions(int32_t strategyIndex);
/* The shares position p holds, counted in the terms of a bar of split factor
** split (its own count when split is 0 or its entry's): all of them, a part of
** a share a split left among them too, cleared only of the hair the ratio's
** arithmetic leaves (3 x 0.1). */
double SharesInTerms(const PositionRecord *p, double split);
/* The shares an exit of part of position p sells, both counted in the terms
** of a bar of split factor split: the part in the position's quantity step,
** and all it holds (as SharesInTerms counts them) where that would leave
** less than the step (a thousandth of a share without one) open, since no
** exit could ever take that rest; so does a part rounded to nothing of a
** holding below the step (what a split left of a lot).  The test's partial
** exits and reductions and the orders that ask for them sell this. */
double SharesOfPart(const PositionRecord *p, double split, double part);
/* The shares an exit by reason of part of position p (in the terms of a bar
** of split factor split) sells: all it holds for a reason of "zero
** position", else SharesOfPart.  A partial exit books this, and a reduction
** counts the holding down by it, in the test and in its orders. */
double SharesAnExitSells(const PositionRecord *p, double split, double part, int32_t reason);

/* Evaluates a cost or rounding slot with the cost flag set; 1 with *value, 0
** when the slot is not given or gives no value. */
int EvalCostFormula(EvalContext *context, int32_t slot, double *value);
