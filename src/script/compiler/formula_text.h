/* formula_text.h -- services on compiled formulas that several stages share:
** resetting and copying formula records, asking whether a formula uses an
** item, and writing nodes back as script text for the evaluation trace,
** assertion messages and the compare views.
**
** Errors:     CopyFormulaRecord returns 0 when the target cannot grow
**             (allocator flag set, nothing reported).
** Threads:    resets and copies on the UI thread while no worker runs; the
**             text writers are callable from any thread (the trace itself is
**             for the UI thread).
*/
#pragma once
#include <cstdint>

struct FormulaNode;
struct FormulaSlot;
struct FormulaItem;

/* The DebugEval trace: on/off and the current depth (one tab per level). */
extern int32_t gDebugEvalOn;
extern int32_t gDebugEvalDepth;
/* Set when a DebugEval trace is written; the run driver clears it at the start
** of a run, and a stopped test refreshes the debug panel when it is set. */
extern int32_t gDebugEvalWritten;

/* Clears a column's or slot's formula: nodes (allocations kept), text span,
** namespace, name, path, marks, breadth function, grouping, owning strategy
** and every other field the compiler sets; only the node arrays stay. */
void ResetFormulaRecord(FormulaSlot *record);
/* The same for the first n items, also clearing their one-per-date and
** one-per-symbol flags and setting sequence and bar size to -1. */
void ResetItemArray(FormulaItem *list, int32_t n);
/* 1 when the formula uses item (a row id) itself or through the Library,
** StratData and TestData items it references, however they refer to each
** other; else 0. */
int FormulaReferences(const FormulaSlot *formula, uint32_t item);
/* Copies a compiled formula into target, all 32 arrays; 0 when target cannot grow. */
int CopyFormulaRecord(const FormulaSlot *source, FormulaSlot *target);

/* "@name" of a strategy by 0-based index, "@?%d?" outside the list.  The
** functions below write at most outSize - 1 characters and return the count. */
int FormatStrategyRef(char *out, int outSize, int32_t index);
/* The node as script text, with "-" or "NOT " before it for its unary operator. */
int FormatTokenText(const FormulaNode *node, char *out, int outSize);
/* "?" before evaluation; the node's text when its value is a text; else "%g". */
int FormatLiteralToken(const FormulaNode *node, char *out, int outSize);
/* One trace line for an evaluated term, written to the log; Escape stops the trace. */
void FormatFormulaText(const FormulaNode *node, int32_t barOffset, int dataAvailable);
