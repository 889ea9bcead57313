/* shared_subexpr.h -- identical multi-bar and indicator calls in Data formulas
** computed once.
**
** Right after a Data item compiles, its shareable calls are replaced by
** references to Data items that compute the same call: an existing item with
** an identical formula or, with ExtractOnePassItems on, an item generated for
** the call.  An item that is one shareable call by itself is a shared series,
** computed by the data calculation in one pass over each symbol.  The pass
** also gives items their bar size from their names and, with AutoOnePerX on,
** finds items whose value is one per date or one per symbol.
**
** Owns:       nothing; generated items join the Data list (definition
**             sequence numbers from the compile driver's counter).
** Names:      a generated item's name is built from its call's nodes
**             (_Avg_C_20_ for a 20-bar average of the close); a name that an
**             item already holds gets a numeric suffix, so no two items share
**             a name and no lookup by name finds another call's values.
** Threads:    compile time, user-interface thread.
*/
#pragma once
#include <cstdint>

struct FormulaItem;

/* 1 when the node heads a call that is shared (replaced by a Data item
** reference, or the item's whole formula); *width gets the call's width
** whenever the node is a multi-bar or indicator call. */
int ShareDataSubexpressions(FormulaItem *item, int32_t node, int32_t barSize, int32_t *width);
/* Index of a Data item that computes the call at node, or -1; with
** ExtractOnePassItems on, one is generated when none exists. */
int32_t FindIdenticalDataFormula(FormulaItem *item, int32_t node, int32_t barSize);
