/* evaluator.h -- computes the value of a compiled formula for one context.
**
** A compiled formula is a flat node array in text order (formula.h).  The
** evaluator climbs precedences over it: terms go to the value getters and the
** built-in implementations, operators combine the first nodes of their two
** operands, and every result lives in the nodes themselves, so an evaluation
** allocates nothing.  It is re-entered by built-ins for their arguments, by
** Library items and by Arg references.
**
** Results:    every routine but EvalFormula returns 1 with its value in a
**             node (or the out value), or 0 when there is no value: a term
**             without data, a getter's refusal, an implementation's 0 or a
**             non-finite value fail the whole walk; operators never fail.
**             EvalFormula gives NaN for "no value"; EvalFormulaSlot turns a
**             failure, NaN or an infinity into 0 with the value 0.0.
** Data type:  each value carries 0 none, 1 price, 2 volume, 3 extern price or
**             4 extern volume; prices compare with a relative 1e-6, the rest
**             with 1e-14; the first node's type becomes the formula's result
**             format the first time it is evaluated.
** Library:    a Library item's formula is walked in place, on the node array
**             of the context's worker slot.  Every Library evaluation (a
**             reference, a call with arguments, Item) goes through
**             EvalLibraryItem, which counts the nesting and refuses the 33rd
**             level: the pending runtime error text, a stop request and no
**             value.  An item entered again while it is being walked (Item of
**             itself at an earlier bar) has its array's partial results saved
**             in a per-worker block, kept for the next re-entry, and put back
**             when the inner walk returns.
** Threads:    any number of workers at once; worker k touches only node copy k
**             and its own context.  The formula's result format is the one
**             shared write, made once by compare-and-set.  Settings, the item
**             table and the compiled script are only read.  The trace runs on
**             the user-interface thread only.
** Speed:      the hot path of every date loop and data calculation: no heap
**             allocation, no string work (except for text items) and no locks
**             per bar.  A formula of number constants, bar values with
**             constant offsets, brackets and operators (no calls, texts or
**             computed offsets) also has a plan: its operand tree in
**             evaluation order.  EvalFormula keeps the plan in the array's end
**             node (formula.h), built at the array's first evaluation, and
**             runs it on the bar without touching the other nodes; only the
**             first node takes the result, as the walk leaves it.  The plan
**             and the routines that run it over many bars at once live in
**             block_plan.h.  Built-ins keep the one calling convention (node,
**             context, bars back).
*/
#pragma once
#include <cstdint>

#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"

enum {
    ARG_TEXT_SIZE = 80,
    LIBRARY_NESTING_LIMIT = 32, /* levels of Library and Item nesting allowed */
    RUNTIME_ERROR_SIZE = 1024
};

/* One argument of a Library call. */
struct ArgValue {
    double value;
    uint32_t dataType;
    uint32_t textFlag;
    char text[ARG_TEXT_SIZE];
};

/* ---- formulas as a whole ------------------------------------------------------- */

/* Evaluates the slot's node array of the context's worker slot.  1 with the
** value, or 0 with 0.0 when there is no finite value; a slot without nodes
** gives 1 and 0.0.  Resets the Library nesting, names the item for messages,
** sets the result format once and clears the one-shot current-bar flag. */
int EvalFormulaSlot(FormulaSlot *slot, EvalContext *context, double *value);
/* The same, as the whole number FormulaIntValue makes of the value (0 after
** a failure). */
int EvalFormulaInt(FormulaSlot *slot, EvalContext *context, int32_t *value);
/* The whole number a formula's value stands for wherever a script gives a
** count or a truth value (EntrySetup, EntrySkip, ...): the value plus
** 0.000001 rounded half away from zero, clamped to the 32-bit range. */
int32_t FormulaIntValue(double value);
/* The same, as text: the first node's text when it has one, "" for exactly 0,
** else "%g".  out (outSize bytes) is not written after a failure. */
int EvalFormulaText(FormulaSlot *slot, EvalContext *context, char *out, int outSize);
/* The value of a node array, NaN when it has none. */
double EvalFormula(FormulaNode *nodes, EvalContext *context);
/* Prepares a node array before a walk: binds strategy and symbol names that
** are still unresolved, and clears what the last walk left in the nodes. */
void ResolveFormulaRefs(FormulaNode *nodes, EvalContext *context);

/* ---- the walk -------------------------------------------------------------------- */

/* Evaluates from *position until the stop item (0, ")" 20, "]" 21 or "," 17)
** or an operator whose precedence is not above minPrecedence; *position is
** left at the node where it stopped and the result stands in the value of the
** node it started at.  barsBack counts bars before the last completed bar. */
int EvalNodes(FormulaNode **position, uint32_t minPrecedence, uint32_t stopItem, EvalContext *context,
              int32_t barsBack);
/* Evaluates one term node by its category, applies its unary operator and
** marks it evaluated. */
int EvalTermNode(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* An Arg reference (argument node->index of the context's argument array) or
** a Library item (row 248, or the call row 392, by node->index): the node
** takes the value, data type and text. */
int EvalFormulaRef(FormulaNode *node, EvalContext *context, int32_t barsBack);
/* Evaluates the Library item at libraryIndex into node (value, data type,
** text) for the context; counts the nesting itself, so callers (Item, the
** Library call) must not count it again. */
int EvalLibraryItem(FormulaNode *node, uint32_t libraryIndex, EvalContext *context, int32_t barsBack);
/* A parameter reference (node->index is the parameter's number): with the
** stored-parameter flag the test record's value; else the compiled
** parameter's walk-forward value for the context's interval (the interval
** before it out of sample) when it has them, else its current value.  The
** node's constant and value take the result. */
int GetNamedValue(FormulaNode *node, EvalContext *context);

/* Applies a unary operator: minus negates, NOT gives 1 for 0 and 0 otherwise. */
inline double ApplyUnary(uint32_t unary, double value)
{
    if (unary == UNARY_NEGATE) return -value;
    if (unary == UNARY_NOT) return value == 0 ? 1.0 : 0.0;
    return value;
}

/* ---- runtime errors ------------------------------------------------------------------ */

/* The pending runtime error text that the run driver shows at the end of a
** run ("" none).  The first report of a run wins; later ones are dropped. */
extern char gPendingRuntimeError[RUNTIME_ERROR_SIZE];
/* Sets the pending runtime error text unless one is pending (any thread). */
void SetPendingRuntimeError(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* Empties the pending text so that the next run can report (UI thread, no
** worker running). */
void ClearPendingRuntimeError();
/* Returns the evaluator's program-wide state to its start: no pending text, no
** missing built-in reported yet and no Library save blocks (UI thread, no
** worker running). */
void ResetEvaluatorState();
/* Reports an internal error of the evaluation and requests a stop when a run
** is going (any thread). */
void ReportEvalInternalError(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
