#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "compiler_fixture.h"
#include "script/compiler/parser_hooks.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/formula_text.h"
#include "script/eval/item_table.h"
#include "shell/headless/headless.h"

namespace {

using FormulaText = CompilerTest;

std::string Render(const FormulaSlot *slot)
{
    std::string out;
    for (int32_t i = 0; i < slot->count; i++) {
        char token[128];
        int n = FormatTokenText(&slot->nodes[0][i], token, sizeof token);
        EXPECT_EQ(n, (int)strlen(token));
        out += token;
    }
    return out;
}

TEST_F(FormulaText, RendersCompiledFormulasBackToText)
{
    const char *strategies[] = {"Alpha", "Beta"};
    LoadSymbols({"ABC", "SPY"});
    InstallStrategies(strategies, 2);
    gCompileSession.pass = 2;
    struct {
        const char *text;
        const char *rendered;
    } const cases[] = {
        {"avg(c,20) > -0.5", "MA(Close, 20) > -0.5"},
        {"not (h - l) and xavg(v, 3)[2] <> 1e20", "NOT (High - Low) AND EMA(Volume, 3)[2] <> 1e+20"},
        {"Extern($spy, C) + &cii + &-2 + &cc + &ccb", "Extern($SPY, Close) + &cii + &-2 + &cc + &ccb"},
        {"$Global", "$?-1?"},
        {"a % 2 || !b", ""},
    };
    for (const auto &c : cases) {
        FormulaSlot *slot = MakeSlot(c.text);
        int ok = CompileFormula(slot, 0, -1);
        if (!c.rendered[0]) {
            EXPECT_EQ(ok, 0) << c.text;
            continue;
        }
        ASSERT_EQ(ok, 1) << c.text;
        EXPECT_EQ(Render(slot), c.rendered) << c.text;
    }
}

TEST_F(FormulaText, ReferencesOutsideTheirListsUseTheQuestionForm)
{
    const char *strategies[] = {"Alpha", "Beta"};
    InstallStrategies(strategies, 2);
    struct {
        uint32_t item, unary, index;
        double constant;
        const char *text;
    } const cases[] = {
        {ITEM_SYMBOL_REF, UNARY_NONE, 0, 0, "$?0?"},
        {ITEM_STRATEGY_REF, UNARY_NONE, 0, 2, "@Beta"},
        {ITEM_STRATEGY_REF, UNARY_NEGATE, 0, 3, "-@?2?"},
        {ITEM_STRATEGY_REF, UNARY_NOT, 0, UNRESOLVED_REF, "NOT @?-8?"},
        {ITEM_ARG, UNARY_NONE, 3, 0, "Arg3"},
        {ITEM_NUMBER, UNARY_NEGATE, 0, 0.5, "-0.5"},
        /* A number too large for a code or a list place is held at the edge. */
        {ITEM_RELATIVE_SYMBOL, UNARY_NONE, 0, 11111111111.0, "&2000000000"},
        {ITEM_SYMBOL_REF, UNARY_NONE, 0, 1e12, "$?2000000000?"},
        {ITEM_STRATEGY_REF, UNARY_NONE, 0, -1e12, "@?-2000000001?"},
    };
    for (const auto &c : cases) {
        FormulaNode node = {};
        node.item = c.item;
        node.unary = c.unary;
        node.index = c.index;
        node.constant = c.constant;
        char out[64];
        EXPECT_EQ(FormatTokenText(&node, out, sizeof out), (int)strlen(c.text)) << c.text;
        EXPECT_STREQ(out, c.text);
    }
    char out[64];
    EXPECT_EQ(FormatStrategyRef(out, sizeof out, -1), 5);
    EXPECT_STREQ(out, "@?-1?");
}

TEST_F(FormulaText, LiteralTokens)
{
    FormulaNode node = {};
    char out[96];
    node.value = 2.5;
    FormatLiteralToken(&node, out, sizeof out);
    EXPECT_STREQ(out, "?");
    node.evaluated = 1;
    FormatLiteralToken(&node, out, sizeof out);
    EXPECT_STREQ(out, "2.5");
    node.textFlag = 1;
    CopyString(node.text, sizeof node.text, "AAPL", -1);
    FormatLiteralToken(&node, out, sizeof out);
    EXPECT_STREQ(out, "AAPL");
}

TEST_F(FormulaText, TraceLineForACallWithOffset)
{
    FormulaSlot *slot = MakeSlot("Avg(C, 20)");
    ASSERT_EQ(CompileFormula(slot, 0, -1), 1);
    FormulaNode *nodes = slot->nodes[0];
    nodes[0].value = 12.5;
    nodes[0].evaluated = 1;
    nodes[2].value = 11;
    nodes[2].evaluated = 1;
    gDebugEvalDepth = 2;
    FormatFormulaText(&nodes[0], 1, 1);
    EXPECT_EQ(gDebugEvalDepth, 1);
    FormatFormulaText(&nodes[2], 0, 0);
    gDebugEvalDepth = 0;
    ASSERT_NE(gHeadless.logText, nullptr);
    EXPECT_EQ(std::string(gHeadless.logText, gHeadless.logLength),
              "\t\tMA(11, 20)[1] = 12.5\n\tClose(data not available)\n");
}

/* Library items that name each other must not send the walk round for ever. */
struct ReferenceTest : CompilerTest {
    FormulaItem library[3] = {};
    void SetUp() override
    {
        CompilerTest::SetUp();
        const char *names[3] = {"L0", "L1", "L2"};
        for (int i = 0; i < 3; i++) CopyString(library[i].formula.name, 64, names[i], -1);
        InstallItems(SECTION_LIBRARY, library, 3);
    }
    void TearDown() override
    {
        for (FormulaItem &item : library) FreeFormulaNodes(&item.formula);
        CompilerTest::TearDown();
    }
    void CompileItem(int i, const char *text)
    {
        FormulaSlot *source = MakeSlot(text);
        library[i].formula.scriptText = source->scriptText;
        library[i].formula.length = source->length;
        ASSERT_EQ(CompileFormula(&library[i].formula, SECTION_LIBRARY, i), 1) << text;
    }
};

TEST_F(ReferenceTest, FindsItemsThroughLibraryCallsAndSurvivesRings)
{
    CompileItem(0, "L1 + L2(1)");
    CompileItem(1, "L0 * 2");
    CompileItem(2, "S.Equity / Arg1");
    FormulaSlot *quantity = MakeSlot("L2(5) * 100", "Quantity");
    ASSERT_EQ(CompileFormula(quantity, SECTION_STRATEGY, 0), 1);
    EXPECT_EQ(FormulaReferences(quantity, 161), 1); // S.Equity, two levels down
    EXPECT_EQ(FormulaReferences(quantity, 238), 0);
    EXPECT_EQ(FormulaReferences(&library[1].formula, 161), 1); // L1 -> L0 -> L2
    EXPECT_EQ(FormulaReferences(&library[0].formula, 238), 0); // L0 <-> L1 ring ends
    EXPECT_EQ(FormulaReferences(&library[1].formula, 238), 0);
}

TEST_F(ReferenceTest, CopyAndReset)
{
    CompileItem(2, "S.Equity / Arg1");
    FormulaSlot *target = MakeSlot("");
    library[2].formula.breadthFunction = 41;
    ASSERT_EQ(CopyFormulaRecord(&library[2].formula, target), 1);
    EXPECT_EQ(target->count, 3);
    EXPECT_STREQ(target->name, "L2");
    EXPECT_EQ(target->breadthFunction, 41u);
    for (int k = 0; k < FORMULA_WORKER_COPIES; k++)
        EXPECT_EQ(memcmp(target->nodes[k], library[2].formula.nodes[0], sizeof(FormulaNode) * target->capacity), 0);

    library[2].onePerDate = 1;
    library[2].formula.usesPrevExits = 1;
    FormulaNode *kept = library[2].formula.nodes[0];
    ResetItemArray(library, 3);
    EXPECT_EQ(library[2].formula.count, 0);
    EXPECT_EQ(library[2].formula.nodes[0], kept); // the allocation stays for the next compile
    EXPECT_EQ(kept[0].item, 0u);
    EXPECT_EQ(library[2].formula.name[0], 0);
    EXPECT_EQ(library[2].formula.usesPrevExits, 0u);
    EXPECT_EQ(library[2].formula.breadthFunction, 0u);
    EXPECT_EQ(library[2].onePerDate, 0);
    EXPECT_EQ(library[2].sequence, -1);
    EXPECT_EQ(library[2].barSize, -1);
}

} // namespace
