/* definitions_test.cpp -- definition lists, name lookups, sort lists and the
** keyword table. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "script/compiler/definitions.h"
#include "script/compiler/keywords.h"
#include "script/compiler/parser_hooks.h"
#include "script/eval/item_table.h"

namespace {

const std::string kName60(60, 'n');
const std::string kSpace62(62, 'n');

void ClearLists()
{
    ResetScriptState(SCRIPT_RESET_RELEASE);
    SetRunSetting(RUNSET_SCAN_NO_DEF_COLS, 0);
}

struct DefinitionsTest : ::testing::Test {
    void SetUp() override { ClearLists(); }
    void TearDown() override { ClearLists(); }

    FormulaItem *AddItem(DefinitionList *list, const char *name)
    {
        int32_t i = AddDefinitionRecord(list, sizeof(FormulaItem));
        EXPECT_GE(i, 0);
        FormulaItem *item = (FormulaItem *)list->items + i;
        CopyString(item->formula.name, sizeof item->formula.name, name, -1);
        return item;
    }
    FormulaColumn *AddColumn(DefinitionList *list, const char *name, int format, const char *heading = "")
    {
        int32_t i = AddDefinitionRecord(list, sizeof(FormulaColumn));
        FormulaColumn *column = (FormulaColumn *)list->items + i;
        CopyString(column->formula.name, sizeof column->formula.name, name, -1);
        CopyString(column->heading, sizeof column->heading, heading, -1);
        column->format = format;
        return column;
    }
};

TEST(QualifyName, PrefixesOnlyPlainNamesThatFit)
{
    const struct {
        const char *name, *nameSpace, *want;
        int result;
    } cases[] = {
        {"X", "lib", "lib.X", 5},
        {"a.X", "lib", "a.X", 0},
        {"X", "", "X", 0},
        {kName60.c_str(), "lib", "", -1}, /* 63 would fit; 64 does not */
    };
    for (const auto &c : cases) {
        char name[64];
        CopyString(name, sizeof name, c.name, -1);
        EXPECT_EQ(QualifyName(name, sizeof name, c.nameSpace), c.result) << c.name;
        if (c.result >= 0)
            EXPECT_STREQ(name, c.want);
        else
            EXPECT_STREQ(name, c.name) << "left alone";
    }
    char fits[64];
    CopyString(fits, sizeof fits, std::string(58, 'n').c_str(), -1);
    EXPECT_EQ(QualifyName(fits, sizeof fits, "lib"), 62);
}

TEST_F(DefinitionsTest, FindsItemsInListOrderAndColumnsOnlyFromTheirSection)
{
    AddItem(&gDataItems, "Trend");
    AddItem(&gLibraryItems, "Helper");
    AddItem(&gLibraryItems, "lib.Inner");
    AddItem(&gTestDataItems, "Later");
    AddColumn(&gResultsColumns, "Profit", 3);

    const struct {
        const char *name;
        uint32_t section;
        const char *nameSpace;
        uint32_t found, row, category, index;
    } cases[] = {
        {"trend", SECTION_RESULTS, "", SECTION_DATA, ITEM_DATA_REF, CAT_BAR_VALUE, 0},
        {"Helper", 0, "", SECTION_LIBRARY, ITEM_LIBRARY_REF, CAT_ARGUMENT, 0},
        {"Inner", SECTION_DATA, "lib", SECTION_LIBRARY, ITEM_LIBRARY_REF, CAT_ARGUMENT, 1},
        {"lib.Inner", SECTION_DATA, "other", SECTION_LIBRARY, ITEM_LIBRARY_REF, CAT_ARGUMENT, 1},
        {"Inner", SECTION_DATA, "", 0, 0, 0, 0},
        {"Later", SECTION_STRATEGY, "", SECTION_TEST_DATA, ITEM_TESTDATA_REF, CAT_BAR_VALUE, 0},
        {"Profit", SECTION_RESULTS, "", SECTION_RESULTS, ITEM_RESULTS_COLUMN, CAT_STRATEGY_STAT, 0},
        {"Profit", SECTION_GRAPHS, "", 0, 0, 0, 0},
        {"Profit", SECTION_STRATEGY, "", 0, 0, 0, 0},
        {"Trend", SECTION_DATA, kSpace62.c_str(), 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        FormulaNode node = {};
        EXPECT_EQ(FindScriptDefinition(c.name, &node, c.section, c.nameSpace), c.found) << c.name;
        EXPECT_EQ(node.item, c.row) << c.name;
        EXPECT_EQ(node.category, c.category) << c.name;
        EXPECT_EQ(node.index, c.index) << c.name;
    }
    EXPECT_EQ(DefinitionItem(SECTION_LIBRARY, 1), (FormulaItem *)gLibraryItems.items + 1);
    EXPECT_EQ(DefinitionItem(SECTION_LIBRARY, 2), nullptr);
    EXPECT_EQ(ReferencedFormula(ITEM_LIBRARY_CALL, 0), &((FormulaItem *)gLibraryItems.items)->formula);
    EXPECT_EQ(ReferencedFormula(ITEM_RESULTS_COLUMN, 0), &((FormulaColumn *)gResultsColumns.items)->formula);
    EXPECT_EQ(ReferencedFormula(ITEM_NUMBER, 0), nullptr);
}

TEST_F(DefinitionsTest, ParametersGiveTheirDefaultValue)
{
    int32_t i = AddDefinitionRecord(&gParameters, sizeof(Parameter));
    Parameter *p = (Parameter *)gParameters.items + i;
    CopyString(p->name, sizeof p->name, "lib.Len", -1);
    ASSERT_TRUE(ReallocMemory(&p->values, 2 * sizeof(double)));
    p->values[0] = 20;
    p->values[1] = 30;
    p->valueCount = p->valueCapacity = 2;
    FormulaNode node = {};
    EXPECT_TRUE(FindParameterName("len", &node, "LIB"));
    EXPECT_EQ(node.item, (uint32_t)ITEM_PARAMETER);
    EXPECT_EQ(node.category, (uint32_t)CAT_PARAMETER);
    EXPECT_DOUBLE_EQ(node.constant, 20);
    EXPECT_FALSE(FindParameterName("Len", nullptr, ""));

    /* A reset keeps the value allocations for the next compile. */
    double *values = p->values;
    ResetScriptDefinitions(SECTION_PARAMETERS);
    EXPECT_EQ(gParameters.count, 0);
    EXPECT_EQ(p->values, values);
    EXPECT_EQ(p->valueCount, 0);
    EXPECT_EQ(p->name[0], 0);
}

TEST_F(DefinitionsTest, ListsGrowByOneAndKeepTheirAllocationAcrossResets)
{
    AddColumn(&gScanColumns, "A", 2);
    AddColumn(&gScanColumns, "B", 2);
    gScanFilterCount = 2;
    CopyString(gScanSort, sizeof gScanSort, "A", -1);
    void *items = gScanColumns.items;
    EXPECT_EQ(gScanColumns.capacity, 2);
    ResetScriptDefinitions(SECTION_SCAN);
    EXPECT_EQ(gScanColumns.count, 0);
    EXPECT_EQ(gScanColumns.capacity, 2);
    EXPECT_EQ(gScanColumns.items, items);
    EXPECT_EQ(gScanFilterCount, 0);
    EXPECT_EQ(gScanSort[0], 0);
    const FormulaColumn *first = (const FormulaColumn *)items;
    EXPECT_EQ(first->formula.name[0], 0);
    EXPECT_EQ(first->format, 0);
    EXPECT_EQ(first->decimals, -1);
}

TEST_F(DefinitionsTest, SortListsAcceptBuiltInWordsAndShownColumns)
{
    AddColumn(&gTradesColumns, "Gain", 4, "Percent Gain");
    AddColumn(&gTradesColumns, "Hidden", 0);
    AddColumn(&gTradesColumns, "lib.Risk", 2, "Risk");
    AddColumn(&gScanColumns, "Rank", 2);
    const struct {
        uint32_t section;
        const char *list;
        const char *nameSpace;
        int ok;
        const char *bad;
    } cases[] = {
        {SECTION_TRADES, "-Symbol,+DateIn", "", 1, ""},
        {SECTION_TRADES, "Gain,-Percent Gain", "", 1, ""},
        {SECTION_TRADES, "Risk", "lib", 1, ""},
        {SECTION_TRADES, "Symbol,Hidden,Nope", "", 0, "Hidden"},
        {SECTION_TRADES, "Date", "", 0, "Date"},
        {SECTION_SCAN, "Date,-Symbol,Rank", "", 1, ""},
        {SECTION_SCAN, "DateIn", "", 0, "DateIn"},
        /* an entry whose qualified name cannot fit is unknown, and it stops the check */
        {SECTION_SCAN, "Rank,Zz", kSpace62.c_str(), 0, "Rank"},
    };
    for (const auto &c : cases) {
        CopyString(SortListFor(c.section), SORT_LIST_SIZE, c.list, -1);
        char bad[256] = "";
        EXPECT_EQ(ResolveColumnList(c.section, bad, sizeof bad, c.nameSpace), c.ok) << c.list;
        EXPECT_STREQ(bad, c.bad) << c.list;
        EXPECT_STREQ(SortListFor(c.section), c.list) << "the list stays as it was";
    }
    SetRunSetting(RUNSET_SCAN_NO_DEF_COLS, 1);
    CopyString(gScanSort, sizeof gScanSort, "Date", -1);
    EXPECT_EQ(ResolveColumnList(SECTION_SCAN, nullptr, 0, ""), 0);
    EXPECT_EQ(ResolveColumnList(SECTION_RESULTS, nullptr, 0, ""), 0);
}

TEST_F(DefinitionsTest, StrategyRecordResetMarksEveryConstantUnset)
{
    StrategyRecord *record = AppendStrategyRecord();
    ASSERT_NE(record, nullptr);
    CopyString(record->name, sizeof record->name, "S", -1);
    record->Side = 1;
    record->TLEndDate = 20240101;
    ASSERT_TRUE(ReallocMemory(&record->cashList.items, 4 * sizeof(DatedAmount)));
    record->cashList.capacity = record->cashList.count = 4;
    ASSERT_TRUE(EnsureNodeCapacity(&record->slots[3], 4));
    record->slots[3].count = 3;
    ResetStrategyRecord(record);
    EXPECT_EQ(record->name[0], 0);
    EXPECT_EQ(record->Side, STRATEGY_CONSTANT_UNSET);
    EXPECT_EQ(record->Tracker, STRATEGY_CONSTANT_UNSET);
    EXPECT_EQ(record->TLEndDate, 0);
    EXPECT_EQ(record->CalendarSym, 0);
    EXPECT_EQ(record->cashList.items, nullptr);
    EXPECT_EQ(record->slots[3].count, 0);
    EXPECT_EQ(record->slots[3].capacity, 4) << "node allocations stay";
}

TEST(IndexList, CopiesTheIdsOfConsecutiveRows)
{
    IndexList list = {};
    ASSERT_TRUE(InitIndexList(&list, gScriptItems + 10, 5, 7));
    EXPECT_EQ(list.count, 5);
    EXPECT_EQ(list.capacity, 5);
    EXPECT_EQ(list.tag, 7);
    for (int i = 0; i < 5; i++) EXPECT_EQ(list.values[i], (uint32_t)(10 + i));
    FreeMemory(&list.values);
}

TEST(KeywordTable, HoldsTheHeadersAndOnlyWordsSomeSectionAccepts)
{
    int rows = 0, headers = 0;
    for (const ScriptKeyword *row = kScriptKeywords; row->name[0]; row++, rows++) {
        EXPECT_EQ(row->reserved, 0);
        if (row->kind == KEYWORD_KIND_HEADER) {
            headers++;
            EXPECT_EQ(FindSectionName(row->name), headers) << row->name;
            continue;
        }
        ASSERT_EQ(row->kind, KEYWORD_KIND_KEYWORD) << row->name;
        bool accepted = false;
        switch (row->section) {
        case SECTION_SETTINGS: accepted = FindSettingsKeyword(row->name) >= 0; break;
        case SECTION_IMPORT: accepted = FindImportKeyword(row->name) >= 0; break;
        case SECTION_TRADES:
        case SECTION_SCAN:
        case SECTION_TEST_SCAN: accepted = CompareNoCase(row->name, "Sort") == 0; break;
        case SECTION_DATA:
        case SECTION_TEST_DATA: accepted = CompareNoCase(row->name, "BarSize") == 0; break;
        case SECTION_STRATEGY: accepted = true; break; /* constants, lists and slots: checked below */
        }
        EXPECT_TRUE(accepted) << row->name;
    }
    EXPECT_EQ(rows + 1, SCRIPT_KEYWORD_ROWS);
    EXPECT_EQ(headers, 29);
    EXPECT_FALSE(IsScriptKeyword("MaxOrders")) << "no section accepts it";
    for (int i = 0; i < STRATEGY_SLOT_COUNT; i++) EXPECT_TRUE(IsScriptKeyword(kStrategySlotNames[i]));
    for (int i = 0; i < SETTINGS_KEYWORD_COUNT; i++) EXPECT_EQ(FindSettingsKeyword(kSettingsKeywordNames[i]), i);
    EXPECT_EQ(FindSettingsKeyword("numdays"), SETKW_NUMBARS);
    EXPECT_EQ(FindSettingsKeyword("NoHeader"), SETKW_SCANNOHEADER);
    EXPECT_EQ(FindStrategySlot("OrderMktAsLmtPct"), STRATEGY_SLOT_COUNT - 1);
    EXPECT_STREQ(kSectionNames[SECTION_OPTIMIZE_SETTINGS], "OptimizeSettings");
    EXPECT_EQ(FindSectionName(""), 0);
}

} // namespace
