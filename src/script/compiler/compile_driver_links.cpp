/* compile_driver_links.cpp -- plain answers for the strategy records, the
** side files and the shared data pass until their modules are linked in.
** Each goes away as its module arrives. */
#include "script/compiler/compile_driver_links.h"

#include "script/compiler/compile_driver.h"
#include "script/compiler/definitions.h"
#include "script/eval/item_table.h"

int InheritStrategyFormulas(const StrategyRecord *from, StrategyRecord *strategy) { return 1; }
int ApplyStrategyDefaults(int32_t index, int pass) { return 1; }
int ReserveStrategyIndexLists() { return 1; }
int LoadHolidayList(HolidayList *list, const char *path) { return 1; }
int LoadExchangeMap() { return 1; }
int LoadSymbolChanges() { return 1; }

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
