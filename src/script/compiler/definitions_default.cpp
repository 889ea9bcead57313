/* definitions_default.cpp -- stand-in answers until the definitions module,
** the symbol store, the strategies and the plug-in loader are linked in.  The
** lookups follow their modules' rules over the plain lists of
** gDefinitionStandIn, so formulas compile the same way against either. */
#include "script/compiler/definitions_default.h"

#include <cstring>

#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/eval/item_table.h"

DefinitionStandIn gDefinitionStandIn;

namespace {

struct ListRow {
    uint32_t section;
    uint32_t row;
    uint32_t category;
};
/* Data, TestData, StratData, Library: the order names are searched in. */
const ListRow kItemLists[4] = {
    {SECTION_DATA, ITEM_DATA_REF, CAT_BAR_VALUE},
    {SECTION_TEST_DATA, ITEM_TESTDATA_REF, CAT_BAR_VALUE},
    {SECTION_STRAT_DATA, ITEM_STRATDATA_REF, CAT_STRATEGY_STAT},
    {SECTION_LIBRARY, ITEM_LIBRARY_REF, CAT_ARGUMENT},
};
const ListRow kColumnLists[6] = {
    {SECTION_RESULTS, ITEM_RESULTS_COLUMN, CAT_STRATEGY_STAT},
    {SECTION_GRAPHS, ITEM_GRAPHS_COLUMN, CAT_STRATEGY_STAT},
    {SECTION_CHARTS, ITEM_CHARTS_COLUMN, CAT_BAR_VALUE},
    {SECTION_TRADES, ITEM_TRADES_COLUMN, CAT_TRADE_VALUE},
    {SECTION_SCAN, ITEM_SCAN_COLUMN, CAT_BAR_VALUE},
    {SECTION_TEST_SCAN, ITEM_TESTSCAN_COLUMN, CAT_BAR_VALUE},
};

int QualifyStandIn(char *out, int size, const char *name, const char *nameSpace)
{
    if (!nameSpace || !nameSpace[0] || strchr(name, '.')) {
        CopyString(out, size, name, -1);
        return 1;
    }
    if ((int)(strlen(nameSpace) + 1 + strlen(name)) >= 64) return 0;
    FormatText(out, size, "%s.%s", nameSpace, name);
    return 1;
}

void Bind(FormulaNode *node, uint32_t row, uint32_t category, uint32_t index)
{
    if (!node) return;
    node->item = row;
    node->category = category;
    node->index = index;
}

/* The index-th column of a section's list, in the order they were added. */
FormulaSlot *ColumnAt(uint32_t section, uint32_t index)
{
    uint32_t k = 0;
    for (int32_t i = 0; i < gDefinitionStandIn.columnCount; i++) {
        if (gDefinitionStandIn.columns[i].section != section) continue;
        if (k++ == index) return gDefinitionStandIn.columns[i].slot;
    }
    return nullptr;
}

}  // namespace

uint32_t FindScriptDefinition(const char *name, FormulaNode *node, uint32_t section, const char *nameSpace)
{
    char qualified[64];
    if (!QualifyStandIn(qualified, sizeof qualified, name, nameSpace)) return 0;
    for (int l = 0; l < 4; l++) {
        for (int32_t i = 0; i < gDefinitionStandIn.itemCounts[l]; i++) {
            if (CompareNoCase(gDefinitionStandIn.items[l][i].formula.name, qualified) == 0) {
                Bind(node, kItemLists[l].row, kItemLists[l].category, (uint32_t)i);
                return kItemLists[l].section;
            }
        }
    }
    if (section < 2 || section > 18) return 0;
    for (const ListRow &list : kColumnLists) {
        if (list.section != section) continue;
        for (uint32_t i = 0;; i++) {
            FormulaSlot *slot = ColumnAt(section, i);
            if (!slot) break;
            if (CompareNoCase(slot->name, qualified) == 0) {
                Bind(node, list.row, list.category, i);
                return section;
            }
        }
    }
    return 0;
}

int FindParameterName(const char *name, FormulaNode *node, const char *nameSpace)
{
    char qualified[64];
    if (!QualifyStandIn(qualified, sizeof qualified, name, nameSpace)) return 0;
    for (int32_t i = 0; i < gDefinitionStandIn.parameterCount; i++) {
        if (CompareNoCase(gDefinitionStandIn.parameters[i].name, qualified) != 0) continue;
        if (node) {
            Bind(node, ITEM_PARAMETER, CAT_PARAMETER, (uint32_t)i);
            node->constant = gDefinitionStandIn.parameters[i].value;
            node->value = node->constant;
        }
        return 1;
    }
    return 0;
}

int ResolveArgName(const char *name, FormulaNode *node)
{
    if (CompareNoCaseN(name, "arg", 3) != 0) return 0;
    double n = 0;
    int used = ReadNumberPrefix(name + 3, &n);
    if (used == 0 || name[3 + used] != 0) return 0;
    if (!(n > 0 && n < 10) || n != (double)(int)n) return 0;
    Bind(node, ITEM_ARG, CAT_ARGUMENT, (uint32_t)n);
    return 1;
}

int ResolveNamedListItem(const char *name, FormulaNode *node)
{
    for (int32_t i = 0; i < gDefinitionStandIn.namedListCount; i++) {
        if (CompareNoCase(gDefinitionStandIn.namedLists[i], name) == 0) {
            Bind(node, ITEM_CONSTITUENCY, CAT_BAR_VALUE, (uint32_t)i);
            return 1;
        }
    }
    return 0;
}

int ResolveFundamentalField(const char *name, FormulaNode *node) { return 0; }

FormulaItem *DefinitionItem(uint32_t section, uint32_t index)
{
    for (int l = 0; l < 4; l++) {
        if (kItemLists[l].section != section) continue;
        if ((int64_t)index >= gDefinitionStandIn.itemCounts[l]) return nullptr;
        return &gDefinitionStandIn.items[l][index];
    }
    return nullptr;
}

FormulaSlot *ReferencedFormula(uint32_t row, uint32_t index)
{
    if (row == ITEM_LIBRARY_CALL) row = ITEM_LIBRARY_REF;
    for (const ListRow &list : kItemLists) {
        if (list.row != row) continue;
        FormulaItem *item = DefinitionItem(list.section, index);
        return item ? &item->formula : nullptr;
    }
    for (const ListRow &list : kColumnLists) {
        if (list.row == row) return ColumnAt(list.section, index);
    }
    return nullptr;
}

int CurrentCompilePass() { return gDefinitionStandIn.compilePass; }

int32_t LookupSymbolIndex(const char *name) { return FindSymbolIndex(name); }

int32_t LoadedSymbolCount() { return gSymbols ? gSymbolCount : 0; }

const char *LoadedSymbolName(int32_t k)
{
    return gSymbols && k >= 1 && k <= gSymbolCount ? gSymbols[k - 1].info.Symbol : "";
}

int32_t LookupStrategyNumber(const char *name)
{
    for (int32_t i = 0; i < gDefinitionStandIn.strategyCount; i++) {
        if (CompareNoCase(gDefinitionStandIn.strategies[i], name) == 0) return i + 1;
    }
    return 0;
}

int32_t RenderStrategyCount() { return gDefinitionStandIn.strategyCount; }

const char *RenderStrategyName(int32_t index)
{
    return index >= 0 && index < gDefinitionStandIn.strategyCount ? gDefinitionStandIn.strategies[index] : "";
}

const char *CompiledStrategyName(int32_t number) { return RenderStrategyName(number - 1); }

int ConstituencySeriesLoaded(int32_t series)
{
    return series >= 1 && series <= 31 && (gDefinitionStandIn.loadedSeries >> (series - 1)) & 1;
}

int LoadDataCalcPlugin() { return gDefinitionStandIn.pluginLoads; }

int HandlePreprocessorDirective(const char **pText, CompilerState *state) { return 0; }
