/* definitions.cpp -- the compiled script's lists of definitions and the rules
** by which formulas find them. */
#include "script/compiler/definitions.h"

#include <cctype>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/ranges.h"
#include "script/eval/item_table.h"


namespace {

/* How a node refers to a definition of each list. */
struct ReferenceRow {
    uint32_t section;
    uint32_t row;
    uint32_t category;
    DefinitionList *list;
};

/* Item lists in the order names are searched. */
/* clang-format off */
const ReferenceRow kItemLists[4] = {
    {SECTION_DATA, ITEM_DATA_REF, CAT_BAR_VALUE, &gDataItems},
    {SECTION_TEST_DATA, ITEM_TESTDATA_REF, CAT_BAR_VALUE, &gTestDataItems},
    {SECTION_STRAT_DATA, ITEM_STRATDATA_REF, CAT_STRATEGY_STAT, &gStratDataItems},
    {SECTION_LIBRARY, ITEM_LIBRARY_REF, CAT_ARGUMENT, &gLibraryItems},
};
/* clang-format on */

/* clang-format off */
const ReferenceRow kColumnLists[6] = {
    {SECTION_RESULTS, ITEM_RESULTS_COLUMN, CAT_STRATEGY_STAT, &gResultsColumns},
    {SECTION_GRAPHS, ITEM_GRAPHS_COLUMN, CAT_STRATEGY_STAT, &gGraphsColumns},
    {SECTION_CHARTS, ITEM_CHARTS_COLUMN, CAT_BAR_VALUE, &gChartsColumns},
    {SECTION_TRADES, ITEM_TRADES_COLUMN, CAT_TRADE_VALUE, &gTradesColumns},
    {SECTION_SCAN, ITEM_SCAN_COLUMN, CAT_BAR_VALUE, &gScanColumns},
    {SECTION_TEST_SCAN, ITEM_TESTSCAN_COLUMN, CAT_BAR_VALUE, &gTestScanColumns},
};
/* clang-format on */

/* The sort words a section offers besides its own columns. */
const char *const kTradesSortNames[] = {"Trade", "Strategy", "Symbol", "Side", "DateIn", "TimeIn", "QtyIn",
                                        "PriceIn", "DateOut", "TimeOut", "QtyOut", "PriceOut", "Reason"};
const char *const kScanSortNames[] = {"Date", "Symbol"};

FormulaItem *ItemAt(DefinitionList *list, int32_t i) { return (FormulaItem *)list->items + i; }
FormulaColumn *ColumnAt(DefinitionList *list, int32_t i) { return (FormulaColumn *)list->items + i; }

void Bind(FormulaNode *node, uint32_t row, uint32_t category, uint32_t index)
{
    if (!node) return;
    node->item = row;
    node->category = category;
    node->index = index;
}

/* name qualified into out (64 bytes); 0 when it would not fit. */
int QualifiedCopy(char *out, const char *name, const char *nameSpace)
{
    CopyString(out, VALUE_NAME_SIZE, name, -1);
    if ((int)strlen(name) >= VALUE_NAME_SIZE) return 0;
    return QualifyName(out, VALUE_NAME_SIZE, nameSpace) >= 0;
}


} // namespace

void ResetDefinitionSlot(FormulaSlot *slot)
{
    ClearFormulaNodes(slot);
    FormulaNode *nodes[FORMULA_WORKER_COPIES];
    memcpy(nodes, slot->nodes, sizeof nodes);
    int32_t capacity = slot->capacity;
    *slot = FormulaSlot{};
    memcpy(slot->nodes, nodes, sizeof nodes);
    slot->capacity = capacity;
}

namespace {

void ResetColumns(DefinitionList *list)
{
    for (int32_t i = 0; i < list->capacity; i++) ResetFormulaColumn(ColumnAt(list, i));
    list->count = 0;
}

} // namespace

/* ---- list services --------------------------------------------------------------- */

DefinitionList *DefinitionListFor(uint32_t section)
{
    for (const ReferenceRow &list : kItemLists)
        if (list.section == section) return list.list;
    for (const ReferenceRow &list : kColumnLists)
        if (list.section == section) return list.list;
    if (section == SECTION_PARAMETERS || section == SECTION_WALK_FORWARD) return &gParameters;
    return nullptr;
}

DefinitionList *ColumnListFor(uint32_t section)
{
    for (const ReferenceRow &list : kColumnLists)
        if (list.section == section) return list.list;
    return nullptr;
}

char *SortListFor(uint32_t section)
{
    if (section == SECTION_TRADES) return gTradesSort;
    if (section == SECTION_SCAN) return gScanSort;
    if (section == SECTION_TEST_SCAN) return gTestScanSort;
    return nullptr;
}

int32_t AddDefinitionRecord(DefinitionList *list, uint32_t recordSize)
{
    if (list->count >= list->capacity) {
        /* Lists grow one record at a time and keep their allocation across
        ** compiles, so a script of the same shape never allocates again. */
        if (!ReallocMemory(&list->items, (uint64_t)(list->capacity + 1) * recordSize)) return -1;
        list->capacity++;
    }
    return list->count++;
}

void ResetFormulaColumn(FormulaColumn *column)
{
    ResetDefinitionSlot(&column->formula);
    ClearColumnHint(column);
    column->isText = 0;
    column->filter = 0;
    column->used = 0;
}

void ResetFormulaItem(FormulaItem *item)
{
    ResetDefinitionSlot(&item->formula);
    item->onePerDate = 0;
    item->onePerSymbol = 0;
    item->sequence = -1;
    item->barSize = -1;
}

void FreeDefinitionList(DefinitionList *list)
{
    FreeMemory(&list->items);
    list->capacity = 0;
    list->count = 0;
}

/* ---- resets ------------------------------------------------------------------------ */

void ResetScriptDefinitions(uint32_t section)
{
    switch (section) {
    case SECTION_RESULTS:
    case SECTION_GRAPHS:
    case SECTION_CHARTS:
    case SECTION_TRADES:
    case SECTION_SCAN:
    case SECTION_TEST_SCAN:
        ResetColumns(ColumnListFor(section));
        if (char *sort = SortListFor(section)) sort[0] = 0;
        if (section == SECTION_SCAN) gScanFilterCount = 0;
        if (section == SECTION_TEST_SCAN) gTestScanFilterCount = 0;
        break;
    case SECTION_IMPORT:
        ResetImportState();
        break;
    case SECTION_PARAMETERS:
        for (DefinitionList *list : {&gParameters, &gParameterCopies}) {
            for (int32_t i = 0; i < list->capacity; i++) {
                Parameter *p = (Parameter *)list->items + i;
                /* The value arrays stay allocated for the next compile; zeroing
                ** their pointers would lose them. */
                Parameter keep = {};
                keep.values = p->values;
                keep.valueCapacity = p->valueCapacity;
                keep.walkValues = p->walkValues;
                keep.walkCapacity = p->walkCapacity;
                *p = keep;
            }
            list->count = 0;
        }
        gWalkForwardDates.count = 0;
        break;
    default:
        break;
    }
}

StrategyRecord *AppendStrategyRecord()
{
    if (gStrategyCount >= gStrategyCapacity) {
        if (!ReallocMemory(&gStrategies, (uint64_t)(gStrategyCapacity + 1) * sizeof(StrategyRecord))) return nullptr;
        gStrategyCapacity++;
    }
    StrategyRecord *record = gStrategies + gStrategyCount++;
    ResetStrategyRecord(record);
    return record;
}

void FreeStrategyRecords()
{
    for (int32_t i = 0; i < gStrategyCapacity; i++) {
        ResetStrategyRecord(gStrategies + i);
        for (FormulaSlot &slot : gStrategies[i].slots) FreeFormulaNodes(&slot);
    }
    FreeMemory(&gStrategies);
    gStrategyCount = 0;
    gStrategyCapacity = 0;
}

/* ResetStrategyRecord: strategy.cpp, with the record it resets. */

/* ---- names ------------------------------------------------------------------------- */

int QualifyName(char *name, int size, const char *nameSpace)
{
    if (!nameSpace || !nameSpace[0] || strchr(name, '.')) return 0;
    int length = (int)strlen(nameSpace) + 1 + (int)strlen(name);
    if (length >= VALUE_NAME_SIZE || length >= size) return -1;
    char joined[VALUE_NAME_SIZE];
    FormatText(joined, sizeof joined, "%s.%s", nameSpace, name);
    CopyString(name, size, joined, -1);
    return length;
}

uint32_t FindScriptDefinition(const char *name, FormulaNode *node, uint32_t section, const char *nameSpace)
{
    char qualified[VALUE_NAME_SIZE];
    if (!name || !QualifiedCopy(qualified, name, nameSpace)) return 0;
    for (const ReferenceRow &list : kItemLists) {
        for (int32_t i = 0; i < list.list->count; i++) {
            if (CompareNoCase(ItemAt(list.list, i)->formula.name, qualified) != 0) continue;
            Bind(node, list.row, list.category, (uint32_t)i);
            return list.section;
        }
    }
    if (section < SECTION_RESULTS || section > SECTION_TEST_SCAN) return 0;
    DefinitionList *columns = ColumnListFor(section);
    if (!columns) return 0;
    for (const ReferenceRow &list : kColumnLists) {
        if (list.section != section) continue;
        for (int32_t i = 0; i < columns->count; i++) {
            if (CompareNoCase(ColumnAt(columns, i)->formula.name, qualified) != 0) continue;
            Bind(node, list.row, list.category, (uint32_t)i);
            return section;
        }
    }
    return 0;
}

int FindParameterName(const char *name, FormulaNode *node, const char *nameSpace)
{
    char qualified[VALUE_NAME_SIZE];
    if (!name || !QualifiedCopy(qualified, name, nameSpace)) return 0;
    for (int32_t i = 0; i < gParameters.count; i++) {
        const Parameter *p = (const Parameter *)gParameters.items + i;
        if (CompareNoCase(p->name, qualified) != 0) continue;
        if (node) {
            Bind(node, ITEM_PARAMETER, CAT_PARAMETER, (uint32_t)i);
            node->constant = p->valueCount > 0 && p->values ? p->values[0] : 0;
            node->value = node->constant;
        }
        return 1;
    }
    return 0;
}

FormulaItem *DefinitionItem(uint32_t section, uint32_t index)
{
    for (const ReferenceRow &list : kItemLists) {
        if (list.section != section) continue;
        return (int64_t)index < list.list->count ? ItemAt(list.list, (int32_t)index) : nullptr;
    }
    return nullptr;
}

FormulaSlot *ReferencedFormula(uint32_t row, uint32_t index)
{
    if (row == ITEM_LIBRARY_CALL) row = ITEM_LIBRARY_REF;
    for (const ReferenceRow &list : kItemLists) {
        if (list.row != row) continue;
        return (int64_t)index < list.list->count ? &ItemAt(list.list, (int32_t)index)->formula : nullptr;
    }
    for (const ReferenceRow &list : kColumnLists) {
        if (list.row != row) continue;
        return (int64_t)index < list.list->count ? &ColumnAt(list.list, (int32_t)index)->formula : nullptr;
    }
    return nullptr;
}

/* ---- sort lists ------------------------------------------------------------------- */

/* 1 when entry is a built-in sort word of the section or names a shown column. */
static int IsKnownSortEntry(uint32_t section, const char *entry, const char *nameSpace, int *pTooLong)
{
    *pTooLong = 0;
    if (section == SECTION_TRADES) {
        for (const char *word : kTradesSortNames)
            if (CompareNoCase(entry, word) == 0) return 1;
    } else if (!GetRunSetting(RUNSET_SCAN_NO_DEF_COLS)) {
        for (const char *word : kScanSortNames)
            if (CompareNoCase(entry, word) == 0) return 1;
    }
    char qualified[VALUE_NAME_SIZE];
    if (!QualifiedCopy(qualified, entry, nameSpace)) {
        /* A name that cannot be qualified names no column: it is unknown. */
        *pTooLong = 1;
        return 0;
    }
    DefinitionList *columns = ColumnListFor(section);
    for (int32_t i = 0; i < columns->count; i++) {
        const FormulaColumn *column = ColumnAt(columns, i);
        if (column->format == 0) continue;
        /* The list is kept without blanks, so a heading is matched without
        ** its blanks too, as the list window matches it. */
        char heading[sizeof column->heading];
        int32_t n = 0;
        for (const char *h = column->heading; *h; h++)
            if (!isspace((unsigned char)*h)) heading[n++] = *h;
        heading[n] = 0;
        if (CompareNoCase(column->formula.name, qualified) == 0 || CompareNoCase(column->heading, qualified) == 0 ||
            CompareNoCase(heading, entry) == 0)
            return 1;
    }
    return 0;
}

int ResolveColumnList(uint32_t section, char *badName, int badSize, const char *nameSpace)
{
    const char *list = SortListFor(section);
    if (!list) return 0;
    const char *p = list;
    while (*p) {
        const char *start = p;
        while (*p && *p != ',') p++;
        const char *e = start;
        while (e < p && (*e == ' ' || *e == '\t')) e++;
        if (e < p && (*e == '+' || *e == '-')) e++;
        char entry[SORT_LIST_SIZE];
        CopyString(entry, sizeof entry, e, (int)(p - e));
        int tooLong = 0;
        if (entry[0] && !IsKnownSortEntry(section, entry, nameSpace, &tooLong)) {
            if (badName) CopyString(badName, badSize, entry, -1);
            return 0;
        }
        if (*p == ',') p++;
    }
    return 1;
}

/* ---- index lists ----------------------------------------------------------------- */

int InitIndexList(IndexList *list, const ScriptItem *rows, int32_t n, int32_t tag)
{
    if (n < 0) n = 0;
    if (!AllocMemory(&list->values, (uint64_t)(n > 0 ? n : 1) * sizeof(uint32_t))) return 0;
    for (int32_t i = 0; i < n; i++) list->values[i] = rows[i].id;
    list->capacity = n;
    list->count = n;
    list->tag = tag;
    return 1;
}
