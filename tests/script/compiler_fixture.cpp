#include "compiler_fixture.h"

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "shell/headless/headless.h"
#include "shell/services.h"
#include "script/compiler/compiler_state.h"
#include "script/eval/item_table.h"

void CompilerTest::SetUp()
{
    ResetHeadlessShell();
    gHeadless.captureLog = 1;   /* keeps error boxes and log lines off the console */
    gUnattended = 0;
    gOutOfMemory = 0;
    gDefinitionStandIn = DefinitionStandIn{};
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
    FreeMemory(&gSymbols);
    gSymbolCount = 0;
    ResetHeadlessShell();
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
    int list = section == SECTION_DATA ? 0 : section == SECTION_TEST_DATA ? 1 : section == SECTION_STRAT_DATA ? 2 : 3;
    gDefinitionStandIn.items[list] = items;
    gDefinitionStandIn.itemCounts[list] = count;
}

void CompilerTest::InstallColumns(StandInColumn *columns, int32_t count)
{
    gDefinitionStandIn.columns = columns;
    gDefinitionStandIn.columnCount = count;
}

void CompilerTest::InstallParameters(StandInParameter *parameters, int32_t count)
{
    gDefinitionStandIn.parameters = parameters;
    gDefinitionStandIn.parameterCount = count;
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
