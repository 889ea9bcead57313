#include "compiler_fixture.h"

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/symbols.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/strategy.h"
#include "script/builtins/builtins.h"
#include "script/eval/item_table.h"

/* How the fixture holds each definition list while a test runs.  Item lists
** are lent: the tests compile and change their own records after installing
** them, and the compiler must see those very records, so the list points at
** the test's storage and is only detached afterwards.  Column and parameter
** lists are built through the real list routines (tracked memory) and freed
** here; their column formulas share the node arrays of the test's slots,
** which the test owns.  Any other list (left by code under test) is tracked
** memory with its own nodes and is freed whole. */
enum ListHold { HOLD_NONE,
                HOLD_LENT,
                HOLD_BUILT };

static DefinitionList *const kFixtureLists[] = {&gDataItems, &gTestDataItems, &gStratDataItems, &gLibraryItems,
                                                &gResultsColumns, &gGraphsColumns, &gChartsColumns, &gTradesColumns,
                                                &gScanColumns, &gTestScanColumns, &gParameters};
static ListHold sHold[sizeof kFixtureLists / sizeof *kFixtureLists];

static ListHold &HoldOf(const DefinitionList *list)
{
    for (size_t i = 0; i < sizeof kFixtureLists / sizeof *kFixtureLists; i++)
        if (kFixtureLists[i] == list) return sHold[i];
    static ListHold none = HOLD_NONE;
    return none;
}

/* Returns one list to empty, freeing what is tracked and detaching what is lent. */
static void ReleaseList(DefinitionList *list)
{
    ListHold &hold = HoldOf(list);
    if (hold == HOLD_LENT) {
        *list = DefinitionList{};
    } else if (list == &gParameters) {
        for (int32_t i = 0; i < list->capacity; i++) {
            Parameter *p = (Parameter *)list->items + i;
            FreeMemory(&p->values);
            FreeMemory(&p->walkValues);
        }
        FreeDefinitionList(list);
    } else {
        bool columns = list != &gDataItems && list != &gTestDataItems && list != &gStratDataItems &&
            list != &gLibraryItems;
        for (int32_t i = 0; hold == HOLD_NONE && list->items && i < list->capacity; i++)
            FreeFormulaNodes(columns ? &((FormulaColumn *)list->items)[i].formula : &((FormulaItem *)list->items)[i].formula);
        FreeDefinitionList(list);
    }
    hold = HOLD_NONE;
}

static void ReleaseDefinitionLists()
{
    for (DefinitionList *list : kFixtureLists) ReleaseList(list);
}

void CompilerTest::SetUp()
{
    ResetHeadlessShell();
    gHeadless.captureLog = 1; /* keeps error boxes and log lines off the console */
    gRun.unattended = 0;
    gOutOfMemory = 0;
    /* Every compile starts from a clear compiler record; tests that drive the
    ** preprocessor directly leave theirs behind. */
    ResetIncludeState();
    FreeStrategyRecords();
    gStore.constituencyIds[0] = 0;
    /* No plug-in library unless a test points at the test programs' folder. */
    LoadPluginDll(0);
    CopyString(gSettings.UserDllPath, sizeof gSettings.UserDllPath, (TestProgramFolder() + "\\no-plugin").c_str(), -1);
    gCompileSession = CompileSession{};
    ReleaseDefinitionLists();
    gLastFormulaError = FormulaErrorSelection{};
    gChartsUseDataItems = 0;
    gGraphsUseDataItems = 0;
}

void CompilerTest::TearDown()
{
    for (FormulaSlot *slot : slots) {
        FreeFormulaNodes(slot);
        delete slot;
    }
    slots.clear();
    FreeStrategyRecords();
    gStore.constituencyIds[0] = 0;
    LoadPluginDll(0);
    ReleaseDefinitionLists();
    FreeMemory(&gStore.symbols);
    gStore.symbolCount = 0;
    FreeMemory(&gConstituency);
    gConstituencyCount = 0;
    ResetHeadlessShell();
}

void CompilerTest::InstallNamedLists(const char *const *names, int32_t count)
{
    FreeMemory(&gConstituency);
    ASSERT_TRUE(AllocMemory(&gConstituency, (uint64_t)count * sizeof(ConstituencyRecord)));
    for (int32_t k = 0; k < count; k++) {
        gConstituency[k] = ConstituencyRecord{};
        CopyString(gConstituency[k].scriptName, sizeof gConstituency[k].scriptName, names[k], -1);
        gConstituency[k].id = (uint32_t)k + 1;
    }
    gConstituencyCount = count;
}

FormulaSlot *CompilerTest::MakeSlot(const std::string &text, const char *name, const std::string &prefix)
{
    texts.push_back(prefix + text);
    FormulaSlot *slot = new FormulaSlot{};
    slot->scriptText = texts.back().c_str();
    slot->start = (int32_t)prefix.size();
    slot->length = (int32_t)text.size();
    CopyString(slot->name, sizeof slot->name, name, -1);
    CopyString(slot->path, sizeof slot->path, "C:\\scripts\\test.kvs", -1);
    slots.push_back(slot);
    return slot;
}

void CompilerTest::InstallItems(uint32_t section, FormulaItem *items, int32_t count)
{
    DefinitionList *list = DefinitionListFor(section);
    ReleaseList(list);
    list->items = items;
    list->capacity = count;
    list->count = count;
    HoldOf(list) = HOLD_LENT;
}

void CompilerTest::InstallColumns(FixtureColumn *columns, int32_t count)
{
    for (int32_t i = 0; i < count; i++) {
        DefinitionList *list = ColumnListFor(columns[i].section);
        ASSERT_NE(list, nullptr);
        if (HoldOf(list) != HOLD_BUILT) ReleaseList(list);
        HoldOf(list) = HOLD_BUILT;
        int32_t index = AddDefinitionRecord(list, sizeof(FormulaColumn));
        ASSERT_GE(index, 0);
        FormulaColumn *column = (FormulaColumn *)list->items + index;
        column->formula = *columns[i].slot;
        column->format = 2;
    }
}

void CompilerTest::InstallParameters(FixtureParameter *parameters, int32_t count)
{
    ReleaseList(&gParameters);
    HoldOf(&gParameters) = HOLD_BUILT;
    for (int32_t i = 0; i < count; i++) {
        int32_t index = AddDefinitionRecord(&gParameters, sizeof(Parameter));
        ASSERT_GE(index, 0);
        Parameter *p = (Parameter *)gParameters.items + index;
        CopyString(p->name, sizeof p->name, parameters[i].name, -1);
        ASSERT_TRUE(AllocMemory(&p->values, sizeof(double)));
        p->values[0] = parameters[i].value;
        p->valueCount = p->valueCapacity = 1;
    }
}

void CompilerTest::InstallStrategies(const char *const *names, int32_t count)
{
    FreeStrategyRecords();
    for (int32_t i = 0; i < count; i++) {
        int error = 0;
        ASSERT_NE(AddStrategyRecord(SECTION_STRATEGY, names[i], &error), nullptr) << names[i];
    }
}

void CompilerTest::LoadSymbols(std::initializer_list<const char *> names)
{
    FreeMemory(&gStore.symbols);
    ASSERT_EQ(AllocMemory(&gStore.symbols, (names.size() + 1) * sizeof(SymbolRecord)), 1);
    int32_t n = 0;
    for (const char *name : names) CopyString(gStore.symbols[n++].info.Symbol, sizeof gStore.symbols[0].info.Symbol, name, -1);
    gStore.symbolCount = n;
}

std::string CompilerTest::Compile(const std::string &text, uint32_t section, int32_t definitionIndex)
{
    FormulaSlot *slot = MakeSlot(text);
    gLastFormulaError = FormulaErrorSelection{};
    if (!CompileFormula(slot, section, definitionIndex)) {
        return "error " + std::to_string(gLastFormulaError.code) + " @" + std::to_string(gLastFormulaError.offset) +
            "+" + std::to_string(gLastFormulaError.length);
    }
    return DescribeNodes(slot);
}

static std::string Number(double v)
{
    char buffer[64];
    FormatText(buffer, sizeof buffer, "%g", v);
    return buffer;
}

std::string DescribeNodes(const FormulaSlot *slot)
{
    std::string out;
    const FormulaNode *nodes = slot->nodes[0];
    for (int32_t i = 0; nodes && i < slot->count; i++) {
        const FormulaNode &n = nodes[i];
        if (!out.empty()) out += ' ';
        if (n.unary == UNARY_NEGATE) out += '-';
        if (n.unary == UNARY_NOT) out += '!';
        out += std::to_string(n.item);
        if (n.category == CAT_CONSTANT || n.category == CAT_PARAMETER) out += "=" + Number(n.constant);
        if (n.text[0]) out += "'" + std::string(n.text) + "'";
        if (n.constantFlag) out += "fv" + Number(n.value);
        if (IsFunctionCategory(n.category)) {
            out += "a";
            for (int32_t k = 0; k < n.argCount; k++) out += (k ? "," : "") + std::to_string(n.argLinks[k]);
        }
        if (n.barsBackLink) out += "b" + std::to_string(n.barsBackLink);
        if (n.width) out += "w" + std::to_string(n.width);
    }
    return out;
}
