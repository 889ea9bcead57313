/* block_plan.h -- formulas computed by their plan: a run of bars at once, or
** what a plan alone knows of them.
**
** A formula of number constants, bar values with constant offsets, Data
** items read at the context's own bar size, brackets and operators (no calls,
** texts or computed offsets) has a plan: its operand tree in evaluation
** order.  Its short circuits only choose between two values per bar, so each
** plan step runs over up to 128 bars at once, and every step keeps, per bar,
** the value and data type the walk would leave in the step's first node and
** whether the walk would fail there.  Wherever the walk could fail the bar is
** walked instead (or, for EvalFormulaPlanned, left unknown), so a plan never
** has to reproduce a failure; the trace, the Import flag and a trial bar
** always take the walk.  The data calculation computes its items with it,
** and the setup filter learns from it which symbols can make a setup.
**
** Threads:    as the evaluator (evaluator.h): worker k touches only node
**             copy k and its own context.
** Speed:      no heap allocation; the plan and its lanes live on the stack.
*/
#pragma once
#include <cstdint>

#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"

/* Evaluates a node array on count bars from bar first of the context symbol,
** each in turn as the last completed bar and the bar index (as a data
** calculation does): value k into values[k] (NaN: no value) and, when
** dataTypes is given, the first node's data type into dataTypes[k].  The
** values, data types, short circuits and failures are those EvalFormula gives
** bar by bar, and the first node and the context end as after the last bar; a
** formula with a plan is computed a run of bars per step. */
void EvalFormulaBars(FormulaNode *nodes, EvalContext *context, int32_t first, int32_t count, double *values,
                     uint32_t *dataTypes);
/* The values EvalFormulaBars gives on bars first .. first + count - 1 of the
** context symbol, by the formula's plan alone: 1 with values[k] the value of
** bar first + k, NaN where the plan has none (a bar the walk would have to
** do: its value is not known here); 0, with nothing written, when the formula
** has no plan for the context.  Walks nothing, so the nodes and the context
** are left as they were. */
int EvalFormulaPlanned(FormulaNode *nodes, EvalContext *context, int32_t first, int32_t count, double *values);
/* A formula of numbers, texts, operators and the symbol's own number, text
** and $ references, without bar offsets, has one value for a symbol on every
** bar that has a completed bar: 1 with that value (NaN: none) found on the
** context's bar; 0, with nothing evaluated, for any other formula. */
int EvalFormulaPerSymbol(FormulaNode *nodes, EvalContext *context, double *value);
/* Leaves the context as EvalFormulaSlot would after evaluating the slot on
** the context's bar, for a caller that knows the value already from the
** formula's plan (EvalFormulaPlanned) and skips the evaluation.  The slot's
** nodes and result format are not touched. */
void TakeKnownFormulaValue(FormulaSlot *slot, EvalContext *context);
