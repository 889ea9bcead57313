#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler_fixture.h"
#include "marketdata/store/datafile.h"
#include "script/compiler/parser_hooks.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/eval/item_table.h"

namespace {

/* A script's definitions as the stand-in lists hold them. */
struct BindTest : CompilerTest {
    std::vector<FormulaItem> lists[4]; // Data, TestData, StratData, Library
    std::vector<FormulaSlot> columns;
    std::vector<FixtureColumn> columnRows;
    FixtureParameter parameters[1] = {{"Len", 20}};
    const char *strategies[1] = {"S1"};
    const char *namedLists[2] = {"SP500", "NDX"};

    void SetUp() override
    {
        CompilerTest::SetUp();
        const char *prefixes[4] = {"D", "T", "SD", "L"};
        for (int l = 0; l < 4; l++) {
            lists[l].resize(5);
            for (int i = 0; i < 5; i++) {
                lists[l][i] = FormulaItem{};
                FormatText(lists[l][i].formula.name, sizeof lists[l][i].formula.name, "%s%d", prefixes[l], i);
            }
        }
        columns.resize(2);
        columns[0] = FormulaSlot{};
        columns[1] = FormulaSlot{};
        CopyString(columns[0].name, 64, "R0", -1);
        CopyString(columns[1].name, 64, "R1", -1);
        columnRows = {{&columns[0], SECTION_RESULTS}, {&columns[1], SECTION_RESULTS}};
        Install();
    }
    void Install()
    {
        const uint32_t sections[4] = {SECTION_DATA, SECTION_TEST_DATA, SECTION_STRAT_DATA, SECTION_LIBRARY};
        for (int l = 0; l < 4; l++) InstallItems(sections[l], lists[l].data(), (int32_t)lists[l].size());
        InstallColumns(columnRows.data(), (int32_t)columnRows.size());
        InstallParameters(parameters, 1);
        LoadSymbols({"ABC", "SPY"});
        InstallStrategies(strategies, 1);
        InstallNamedLists(namedLists, 2);
    }
    FormulaItem &Data(int i) { return lists[0][i]; }
};

struct BindCase {
    const char *text;
    uint32_t section;
    int32_t index;
    const char *expected;
};

TEST_F(BindTest, DefinitionsFollowVisibilityAndOrder)
{
    /* clang-format off */
    const BindCase cases[] = {
        {"D0", SECTION_RESULTS, 0, "error 31 @0+2"},
        {"D0", SECTION_GRAPHS, 0, "249"},
        {"D0 + T1", SECTION_STRATEGY, 0, "249 26 250"},
        {"d4", SECTION_DATA, 2, "error 32 @0+2"},
        {"D1", SECTION_DATA, 2, "249"},
        {"D2", SECTION_DATA, 2, "249"},
        {"T4", SECTION_TEST_DATA, 2, "250"},
        {"SD3", SECTION_STRAT_DATA, 1, "183"},
        {"L3", SECTION_LIBRARY, 1, "248"},
        {"L1", SECTION_LIBRARY, 1, "error 33 @0+2"},
        {"L1", SECTION_RESULTS, 0, "error 31 @0+2"},
        {"T0", SECTION_SCAN, 0, "error 31 @0+2"},
        {"T0", SECTION_DATA, 0, "error 31 @0+2"},
        {"D0", SECTION_IMPORT, 0, "error 31 @0+2"},
        {"R0", SECTION_RESULTS, 1, "185"},
        {"R1", SECTION_RESULTS, 0, "error 32 @0+2"},
        {"R0", SECTION_RESULTS, 0, "error 33 @0+2"},
        {"R0", SECTION_GRAPHS, 0, "error 2 @0+2"},
        {"L2(1, C)", SECTION_STRATEGY, 0, "392a2,4w5 18 2=1fv1 17 238 20"},
        {"L2 (C)", SECTION_STRATEGY, 0, "392a2w3 18 238 20"},
        {"L2 + 1", SECTION_STRATEGY, 0, "248 26 2=1"},
        {"Len * 2", SECTION_DATA, 0, "4=20 23 2=2"},
        {"Len", SECTION_IMPORT, 0, "error 31 @0+3"},
        {"Arg2 + ARG9", SECTION_LIBRARY, 0, "16 26 16"},
        {"Arg1", SECTION_DATA, 0, "error 31 @0+4"},
        {"Arg0", SECTION_LIBRARY, 0, "error 2 @0+4"},
        {"Arg10", SECTION_LIBRARY, 0, "error 2 @0+5"},
        {"ndx", SECTION_DATA, 0, "247"},
    };
    /* clang-format on */
    for (const BindCase &c : cases) EXPECT_EQ(Compile(c.text, c.section, c.index), c.expected) << c.text;
}

TEST_F(BindTest, SameSectionReferenceAndViewFlags)
{
    FormulaSlot *slot = MakeSlot("T3");
    ASSERT_EQ(CompileFormula(slot, SECTION_TEST_DATA, 1), 1);
    EXPECT_EQ(slot->sameSectionRef, 1u);
    EXPECT_EQ(Compile("D0", SECTION_CHARTS, 0), "249");
    EXPECT_EQ(gChartsUseDataItems, 1);
    EXPECT_EQ(gGraphsUseDataItems, 0);
}

TEST_F(BindTest, ModifiersApplyToTheItemBeingCompiled)
{
    FormulaSlot *slot = MakeSlot("#ByMkt #Rank (Close)");
    ASSERT_EQ(CompileFormula(slot, SECTION_DATA, 1), 1);
    EXPECT_EQ(DescribeNodes(slot), "18w2 238 20");
    EXPECT_EQ(slot->grouping, (uint32_t)ITEM_CS_BY_MKT);
    EXPECT_EQ(slot->breadthFunction, 41u);

    slot = MakeSlot("#SlowCalc #PercentRankN (50) (C)");
    ASSERT_EQ(CompileFormula(slot, SECTION_DATA, 1), 1);
    EXPECT_EQ(DescribeNodes(slot), "18w2 238 20");
    EXPECT_EQ(slot->slowCalc, 1u);
    EXPECT_EQ(slot->percentRankN, 50.0);

    EXPECT_EQ(Compile("#OnePerDate C", SECTION_DATA, 2), "238");
    EXPECT_EQ(Data(2).onePerDate, 1);

    /* clang-format off */
    const BindCase cases[] = {
        {"#PercentRankN C", SECTION_DATA, 3, "error 92 @14+1"},
        {"#PercentRankN (C)", SECTION_DATA, 3, "error 92 @14+1"},
        {"#Rank #OnePerDate (C)", SECTION_DATA, 3, "error 91 @6+11"},
        {"C + #Rank", SECTION_DATA, 3, "error 29 @4+5"},
        {"#OnePerSym C", SECTION_DATA, 4, "error 90 @11+1"},
        {"#OnePerSym InfoShares * 2", SECTION_TEST_DATA, 0, "66 23 2=2"},
        {"#OnePerSym Avg(InfoShares, 2)", SECTION_TEST_DATA, 1, "error 90 @11+3"},
        {"#OnePerSym L0(1)", SECTION_TEST_DATA, 2, "error 90 @11+2"},
        {"#OnePerSym D1", SECTION_TEST_DATA, 3, "error 90 @11+2"},
    };
    /* clang-format on */
    for (const BindCase &c : cases) EXPECT_EQ(Compile(c.text, c.section, c.index), c.expected) << c.text;

    Data(0).onePerSymbol = 1;
    EXPECT_EQ(Compile("#OnePerSym D0 + 1", SECTION_TEST_DATA, 4), "249 26 2=1");
    Data(3).onePerSymbol = 1;
    EXPECT_EQ(Compile("#Rank (C)", SECTION_DATA, 3), "error 91 @0+5");
}

TEST_F(BindTest, SecondPassResolvesSymbolsAndChecksStrategies)
{
    gCompileSession.pass = 1;
    EXPECT_EQ(Compile("$nope + @nope"), "7=-7'nope' 26 5=-7'nope'");
    gCompileSession.pass = 2;
    /* clang-format off */
    const BindCase cases[] = {
        {"$spy", 0, -1, "7=2'spy'fv2"},
        {"$Global + $calsym", 0, -1, "7=-1'Global' 26 7=-2'calsym'"},
        {"$XYZ", 0, -1, "error 26 @1+3"},
        {"@s1", 0, -1, "5=-7's1'fv-7"},
        {"@S2", 0, -1, "error 27 @1+2"},
        {"SP500", SECTION_DATA, 0, "error 89 @0+5"},
    };
    /* clang-format on */
    for (const BindCase &c : cases) EXPECT_EQ(Compile(c.text, c.section, c.index), c.expected) << c.text;
    gStore.constituencyIds[0] = 1; /* the data file includes series 1 */
    EXPECT_EQ(Compile("SP500", SECTION_DATA, 0), "247");
}

TEST_F(BindTest, ResolvedSymbolReachesEveryWorkerCopy)
{
    gCompileSession.pass = 2;
    FormulaSlot *slot = MakeSlot("$SPY");
    ASSERT_EQ(CompileFormula(slot, 0, -1), 1);
    for (int k = 0; k < FORMULA_WORKER_COPIES; k++) {
        EXPECT_EQ(slot->nodes[k][0].constant, 2.0) << k;
        EXPECT_EQ(slot->nodes[k][0].value, 2.0) << k;
    }
}

} // namespace
