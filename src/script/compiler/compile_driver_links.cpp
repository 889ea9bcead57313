/* compile_driver_links.cpp -- plain answers for the shared data pass until
** its module is linked in: no bar size from names, no automatic one-value
** marks, no sharing, and a Results column marked used with the Results columns
** it names.  The file goes away when that module arrives. */
#include "script/compiler/compile_driver.h"
#include "script/compiler/definitions.h"
#include "script/eval/item_table.h"

void ResolveItemBarSize(FormulaItem *item) {}
void CountItemReferences(FormulaItem *item) {}
int ShareDataItem(int32_t index) { return 1; }

/* A marked Results column needs every Results column it refers to. */
void MarkResultsColumnUsed(int32_t index)
{
    if (index < 0 || index >= gResultsColumns.count) return;
    FormulaColumn *column = (FormulaColumn *)gResultsColumns.items + index;
    if (column->used) return;
    column->used = 1;
    const FormulaNode *nodes = column->formula.nodes[0];
    for (int32_t k = 0; nodes && k < column->formula.count; k++)
        if (nodes[k].item == ITEM_RESULTS_COLUMN) MarkResultsColumnUsed((int32_t)nodes[k].index);
}
