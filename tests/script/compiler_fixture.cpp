#include "compiler_fixture.h"

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/symbols.h"
#include "shell/headless/headless.h"
#include "shell/services.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/parser_hooks.h"
#include "script/eval/item_table.h"

/* The definition lists point at the tests' own records while a test runs;
** columns and parameters are copied into these records. */
static std::vector<FormulaColumn> sColumns[SECTION_COUNT];
static std::vector<Parameter> sParameters;
static std::vector<double> sParameterValues;

static void DetachDefinitionLists()
{
    for (DefinitionList *list : {&gDataItems, &gTestDataItems, &gStratDataItems, &gLibraryItems, &gResultsColumns,
                                 &gGraphsColumns, &gChartsColumns, &gTradesColumns, &gScanColumns, &gTestScanColumns,
                                 &gParameters})
        *list = DefinitionList{};
    for (std::vector<FormulaColumn> &columns : sColumns) columns.clear();
    sParameters.clear();
    sParameterValues.clear();
}

void CompilerTest::SetUp()
{
    ResetHeadlessShell();
    gHeadless.captureLog = 1;   /* keeps error boxes and log lines off the console */
    gUnattended = 0;
    gOutOfMemory = 0;
    gDefinitionStandIn = DefinitionStandIn{};
    gCompileSession = CompileSession{};
    DetachDefinitionLists();
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
    gDefinitionStandIn = DefinitionStandIn{};
    DetachDefinitionLists();
    FreeMemory(&gSymbols);
    gSymbolCount = 0;
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
    list->items = items;
    list->capacity = count;
    list->count = count;
}

void CompilerTest::InstallColumns(StandInColumn *columns, int32_t count)
{
    for (int32_t i = 0; i < count; i++) {
        FormulaColumn column = {};
        column.formula = *columns[i].slot;
        column.format = 2;
        sColumns[columns[i].section].push_back(column);
    }
    for (uint32_t section = 0; section < SECTION_COUNT; section++) {
        DefinitionList *list = ColumnListFor(section);
        if (!list) continue;
        list->items = sColumns[section].data();
        list->capacity = list->count = (int32_t)sColumns[section].size();
    }
}

void CompilerTest::InstallParameters(StandInParameter *parameters, int32_t count)
{
    sParameterValues.resize(count);
    sParameters.assign(count, Parameter{});
    for (int32_t i = 0; i < count; i++) {
        CopyString(sParameters[i].name, sizeof sParameters[i].name, parameters[i].name, -1);
        sParameterValues[i] = parameters[i].value;
        sParameters[i].values = &sParameterValues[i];
        sParameters[i].valueCount = sParameters[i].valueCapacity = 1;
    }
    gParameters.items = sParameters.data();
    gParameters.capacity = gParameters.count = count;
}

void CompilerTest::InstallStrategies(const char *const *names, int32_t count)
{
    gDefinitionStandIn.strategies = names;
    gDefinitionStandIn.strategyCount = count;
}

void CompilerTest::LoadSymbols(std::initializer_list<const char *> names)
{
    FreeMemory(&gSymbols);
    ASSERT_EQ(AllocMemory(&gSymbols, (names.size() + 1) * sizeof(SymbolRecord)), 1);
    int32_t n = 0;
    for (const char *name : names) CopyString(gSymbols[n++].info.Symbol, sizeof gSymbols[0].info.Symbol, name, -1);
    gSymbolCount = n;
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
