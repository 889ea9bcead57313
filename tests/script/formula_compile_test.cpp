#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "compiler_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/script_state.h"
#include "script/eval/item_table.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

struct Case {
    const char *text;
    uint32_t section;
    const char *expected;
};

using FormulaCompile = CompilerTest;

TEST_F(FormulaCompile, CompilesEveryConstructIntoExactNodes)
{
    /* clang-format off */
    const Case cases[] = {
        {"1 - -2", 0, "2=1 27 -2=2"},
        {"-5", 0, "-2=5fv-5"},
        {"- -5", 0, "2=5fv5"},
        {"+3", 0, "2=3fv3"},
        {"NOT 0", 0, "!2=0fv1"},
        {"NOT 7", 0, "!2=7fv0"},
        {"-NOT 3", 0, "-2=3fv-3"},
        {"C + H * 2", 0, "238 26 236 23 2=2"},
        {"Avg(C, 20)", 0, "258a2,4w5 18 238 17 2=20fv20 20"},
        {"MA(C,20)[1]", 0, "258a2,4b7w8 18 238 17 2=20fv20 20 19 2=1fv1 21"},
        {"C[1] > O", 0, "238b2w3 19 2=1fv1 21 28 235"},
        {"(C + 1) * 2", 0, "18w4 238 26 2=1 20 23 2=2"},
        {"(C)[1]", 0, "18b4w5 238 20 19 2=1fv1 21"},
        {"-(C)", 0, "-18w2 238 20"},
        {"()", 0, "18w1 20"},
        {"C AND O", 0, "238 35 235"},
        {"C && O", 0, "238 35 235"},
        {"C or O", 0, "238 36 235"},
        {"C mod 2", 0, "238 25 2=2"},
        {"C % 2", 0, "238 25 2=2"},
        {"C != O", 0, "238 33 235"},
        {"C <> O", 0, "238 33 235"},
        {"C == O", 0, "238 32 235"},
        {"C >= O", 0, "238 29 235"},
        {"C^2", 0, "238 22 2=2"},
        {"TRUE", 0, "2=1fv1"},
        {"FALSE OR 1", 0, "2=0 36 2=1"},
        {"nan + 1", 0, "2=nan 26 2=1"},
        {"1.5e2", 0, "2=150fv150"},
        {".5", 0, "2=0.5fv0.5"},
        {"'abc' = ?Symbol", 0, "3'abc' 32 70"},
        {"\"a b\"", 0, "3'a b'fv3"},
        {"$AAPL.X + &1", 0, "7=-7'AAPL.X' 26 6=1"},
        {"$BRK-B", 0, "7=-7'BRK-B'fv-7"},
        {"&cc", 0, "6=97fv97"},
        {"&CCB", 0, "6=98fv98"},
        {"&cii", 0, "6=99fv99"},
        {"&-1", 0, "6=-1fv-1"},
        {"~Weekly", 0, "8=1fv1"},
        {"~ yearly", 0, "error 16 @1+0"},
        {"@S1 + 1", 0, "5=-7'S1' 26 2=1"},
        {"Max(1, 2, 3)", 0, "354a2,4,6w7 18 2=1fv1 17 2=2fv2 17 2=3fv3 20"},
        {"Round(C)", 0, "362a2w3 18 238 20"},
        {"SAR()", 0, "334aw2 18 20"},
        {"IF(C > O, 1, -1)", 0, "348a2,6,8w9 18 238 28 235 17 2=1fv1 17 -2=1fv-1 20"},
        {"Max(Avg(C, 2), 3)", 0, "354a2,9w10 18 258a2,4w5 18 238 17 2=2fv2 20 17 2=3fv3 20"},
        {"Extern(@tracker, C)", 0, "382a2,4w5 18 115 17 238 20"},
        {"Extern($SPY, C)", 0, "382a2,4w5 18 7=-7'SPY'fv-7 17 238 20"},
        {"Extern(SymRef('SPY'), C)", 0, "382a2,7w8 18 388a2w3 18 3'SPY'fv3 20 17 238 20"},
        {"C // trailing note", 0, "238"},
        {"C /* inner */ + { brace note } O", 0, "238 26 235"},
        {"S.Equity", SECTION_RESULTS, "161"},
        {"Shares", SECTION_STRATEGY, "88"},
        {"   ", SECTION_DATA, ""},
    };
    /* clang-format on */
    for (const Case &c : cases) EXPECT_EQ(Compile(c.text, c.section), c.expected) << c.text;
}

TEST_F(FormulaCompile, ReportsExactErrorCodesAndSpans)
{
    /* clang-format off */
    const Case cases[] = {
        {"", SECTION_DATA, "error 1 @0+0"},
        {"foo", 0, "error 2 @0+3"},
        {"inf", 0, "error 2 @0+3"},
        {"nanx", 0, "error 2 @0+4"},
        {"&cca", 0, "error 2 @0+1"},
        {"C +", 0, "error 7 @2+1"},
        {"* C", 0, "error 5 @0+1"},
        {"C + * O", 0, "error 5 @4+1"},
        {"C O", 0, "error 6 @2+1"},
        {"C ()", 0, "error 6 @2+1"},
        {"5[1]", 0, "error 8 @0+1"},
        {"Sum(C)", 0, "error 23 @5+1"},
        {"Sum(C, 1, 2)", 0, "error 23 @8+1"},
        {"Max(1)", 0, "error 23 @5+1"},
        {"MA(C,)", 0, "error 23 @5+1"},
        {"MA(,C)", 0, "error 23 @3+1"},
        {"HVOL(1,)", 0, "error 23 @7+1"},
        {"HVOL(,1)", 0, "error 23 @5+1"},
        {"HVOL(1, 2, 3)", 0, "error 24 @11+1"},
        {"Round(1, 2, 3, 4)", 0, "error 24 @15+1"},
        {"Abs 5", 0, "error 22 @4+1"},
        {"Abs", 0, "error 22 @0+3"},
        {"Abs(1", 0, "error 3 @4+1"},
        {"(1", 0, "error 3 @1+1"},
        {"1)", 0, "error 28 @1+1"},
        {"1, 2", 0, "error 4 @1+1"},
        {"C NOT O", 0, "error 7 @2+3"},
        {"-", 0, "error 7 @0+1"},
        {"[1)", 0, "error 7 @0+1"},
        {"C + [1]", 0, "error 7 @4+1"},
        {"(-)", 0, "error 7 @1+1"},
        {"~Hourly", 0, "error 16 @1+6"},
        {"@tracker", 0, "error 7 @1+7"},
        {"@tracker + 1", SECTION_STRATEGY, "error 7 @1+7"},
        {"Extern(C, C)", 0, "error 25 @0+6"},
        {"Extern($SPY + 1, C)", 0, "error 25 @0+6"},
        {"Close", SECTION_RESULTS, "error 31 @0+5"},
        {"S.Equity", SECTION_DATA, "error 31 @0+8"},
        {"Shares", SECTION_SCAN, "error 31 @0+6"},
        {"TradeStatSum(T.Profit)", SECTION_TRADES, "error 31 @0+12"},
        {"$SPY", SECTION_RESULTS, "error 31 @1+3"},
        {"@S1", SECTION_DATA, "error 31 @1+2"},
        {"#Rank (C)", SECTION_RESULTS, "error 31 @0+5"},
        {"#SlowCalc C", SECTION_TEST_DATA, "error 31 @0+9"},
        {"Extern($SPY, C)", SECTION_IMPORT, "error 31 @0+6"},
        {"DllDataCalc()", SECTION_SCAN, "error 31 @0+11"},
        {"DllDataCalc()", SECTION_DATA, "error 96 @0+11"},
        {"Avg(S.Equity, 5)", SECTION_DATA, "error 31 @4+8"},
    };
    /* clang-format on */
    for (const Case &c : cases) EXPECT_EQ(Compile(c.text, c.section), c.expected) << c.text;
}

TEST_F(FormulaCompile, TokenLengthLimits)
{
    std::string text78(78, 'x'), text79(79, 'x');
    EXPECT_EQ(Compile("'" + text78 + "'"), "3'" + text78 + "'fv78");
    EXPECT_EQ(Compile("'" + text79 + "'"), "error 10 @1+79");
    std::string name79 = "n" + std::string(78, 'a'), name80 = name79 + "a";
    EXPECT_EQ(Compile(name79), "error 2 @0+79");
    EXPECT_EQ(Compile(name80), "error 11 @0+80");
    EXPECT_EQ(Compile("$" + text78), "7=-7'" + text78 + "'fv-7");
    EXPECT_EQ(Compile("$" + text79), "error 11 @1+79");
}

TEST_F(FormulaCompile, NestingIsBoundedInsteadOfExhaustingTheStack)
{
    auto nested = [](int depth, const std::string &open, const std::string &close) {
        std::string text;
        for (int i = 0; i < depth; i++) text += open;
        text += "1";
        for (int i = 0; i < depth; i++) text += close;
        return text;
    };
    const int limit = MAX_FORMULA_NESTING;
    EXPECT_EQ(Compile(nested(limit, "(", ")")).substr(0, 6), "18w512");
    EXPECT_EQ(Compile(nested(limit + 1, "(", ")")), "error 97 @257+1");
    EXPECT_EQ(Compile(nested(limit, "Abs(", ")")).substr(0, 9), "360a2w768");
    EXPECT_EQ(Compile(nested(limit + 1, "Abs(", ")")), "error 97 @1028+1");
    EXPECT_EQ(Compile(nested(limit, "C[", "]")).substr(0, 9), "238b2w768");
    EXPECT_EQ(Compile(nested(limit + 1, "C[", "]")), "error 97 @514+1");
    EXPECT_EQ(Compile(nested(limit + 1, "Max(1, ", ")")), "error 97 @1796+1");
}

TEST_F(FormulaCompile, EmptyFormulaAllowedOnlyInStrategySections)
{
    for (uint32_t section : {0u, 13u, 14u, 15u, 16u, 26u}) EXPECT_EQ(Compile("", section), "") << section;
    for (uint32_t section : {2u, 6u, 7u, 17u, 19u}) EXPECT_EQ(Compile("", section), "error 1 @0+0") << section;
}

TEST_F(FormulaCompile, SecondCompileWithoutResetChangesNothing)
{
    FormulaSlot *slot = MakeSlot("C + 1");
    ASSERT_EQ(CompileFormula(slot, 0, -1), 1);
    std::string before = DescribeNodes(slot);
    const_cast<char *>(slot->scriptText)[0] = '*'; // a recompile would now fail
    EXPECT_EQ(CompileFormula(slot, 0, -1), 1);
    EXPECT_EQ(DescribeNodes(slot), before);
}

TEST_F(FormulaCompile, WorkerCopiesEqualTheMaster)
{
    FormulaSlot *slot = MakeSlot("Avg(C, 20) > O[1]");
    ASSERT_EQ(CompileFormula(slot, 0, -1), 1);
    ASSERT_GE(slot->capacity, slot->count + 1);
    for (int k = 1; k < FORMULA_WORKER_COPIES; k++)
        EXPECT_EQ(memcmp(slot->nodes[0], slot->nodes[k], sizeof(FormulaNode) * slot->capacity), 0) << k;
    EXPECT_EQ(slot->nodes[0][slot->count].item, 0u);
}

TEST_F(FormulaCompile, OutOfMemoryFailsSilently)
{
    FormulaSlot *slot = MakeSlot("C + 1");
    gOutOfMemory = 1;
    EXPECT_EQ(CompileFormula(slot, 0, -1), 0);
    gOutOfMemory = 0;
    EXPECT_EQ(gHeadless.messageCount, 0);
    EXPECT_EQ(slot->count, 0);
}

TEST_F(FormulaCompile, ErrorTextNamesTheFormula)
{
    Compile("foo");
    EXPECT_STREQ(LastMessage(), "Error in Test formula:\r\n\r\nunrecognized syntax element");
    const char *strategies[] = {"Alpha"};
    InstallStrategies(strategies, 1);
    FormulaSlot *slot = MakeSlot("C +", "Entry");
    slot->strategyNumber = 1;
    EXPECT_EQ(CompileFormula(slot, SECTION_STRATEGY, 0), 0);
    EXPECT_STREQ(LastMessage(), "Error in Alpha Entry formula:\r\n\r\nsyntax structure error");
    ShowFormulaError(93, nullptr, 5, 3, "C:\\s.kvs");
    EXPECT_STREQ(LastMessage(), "Syntax Error:\r\n\r\nunrecognized item name in Sort definition");
    EXPECT_EQ(gLastFormulaError.offset, 5);
    EXPECT_EQ(gLastFormulaError.length, 3);
}

TEST_F(FormulaCompile, ErrorSelectionLeavesOutTrailingBlanks)
{
    FormulaSlot *slot = MakeSlot("abc  \r\n");
    ShowFormulaError(0, slot, 0, 7, "C:\\s.kvs");
    EXPECT_EQ(gLastFormulaError.length, 3);
    EXPECT_EQ(gHeadless.messageCount, 0); // code 0 only selects
    ShowFormulaError(2, slot, -1, 3, "C:\\s.kvs");
    EXPECT_EQ(gLastFormulaError.requests, 1); // no offset: nothing to select
    EXPECT_EQ(gHeadless.messageCount, 1);
}

TEST_F(FormulaCompile, UnattendedErrorsGoToTheErrorLog)
{
    TempFolder folder;
    char savedFolder[PATH_SIZE];
    CopyString(savedFolder, sizeof savedFolder, gProgramFolder, -1);
    CopyString(gProgramFolder, sizeof gProgramFolder, folder.path.c_str(), -1);
    gRun.unattended = 1;
    EXPECT_EQ(Compile("C +", SECTION_DATA), "error 7 @2+1");
    gRun.unattended = 0;
    CopyString(gProgramFolder, sizeof gProgramFolder, savedFolder, -1);
    EXPECT_EQ(gHeadless.messageCount, 0);
    std::string log = ReadTestFile(folder.File("errorlog.txt"));
    EXPECT_NE(log.find("Error in Test formula:\r\n\r\nsyntax structure error"), std::string::npos) << log;
    EXPECT_EQ(gLastFormulaError.offset, 2); // the editor is still asked to select the span
}

TEST_F(FormulaCompile, ScratchFormulaKeepsItsError)
{
    std::string text = "C + foo";
    gScratchFormula = FormulaSlot{};
    gScratchFormula.scriptText = text.c_str();
    gScratchFormula.length = (int32_t)text.size();
    EXPECT_EQ(CompileFormula(&gScratchFormula, 0, -1), 0);
    EXPECT_EQ(gScratchErrorCode, 2);
    EXPECT_EQ(gScratchErrorOffset, 4);
    EXPECT_EQ(gScratchErrorLength, 3);
    FreeFormulaNodes(&gScratchFormula);
}

TEST_F(FormulaCompile, SpansAreCountedFromTheScriptStart)
{
    FormulaSlot *slot = MakeSlot("C + foo", "Test", "Data:\r\nX = ");
    EXPECT_EQ(CompileFormula(slot, SECTION_DATA, -1), 0);
    EXPECT_EQ(gLastFormulaError.offset, 15);
    EXPECT_EQ(gLastFormulaError.length, 3);
    EXPECT_EQ(gCompiler.includeDepth, 0);
}

TEST_F(FormulaCompile, TokensEndWithTheFormulaSpan)
{
    struct {
        const char *text;
        int32_t length;
        const char *expected;
    } const cases[] = {
        {"1234", 2, "2=12fv12"},
        {"1.5e3", 3, "2=1.5fv1.5"},
        {"Closed", 5, "238"},
        {"'abc'def", 4, "3'abc'fv3"},
    };
    for (const auto &c : cases) {
        FormulaSlot *slot = MakeSlot(c.text);
        slot->length = c.length;
        ASSERT_EQ(CompileFormula(slot, 0, -1), 1) << c.text;
        EXPECT_EQ(DescribeNodes(slot), c.expected) << c.text;
    }
}

TEST_F(FormulaCompile, IncludeDepthIsRestored)
{
    gCompiler.includeDepth = 3;
    FormulaSlot *slot = MakeSlot("C");
    slot->includeDepth = 2;
    EXPECT_EQ(CompileFormula(slot, 0, -1), 1);
    EXPECT_EQ(gCompiler.includeDepth, 3);
    gCompiler.includeDepth = 0;
}

TEST_F(FormulaCompile, InListTextTakesTheNamespace)
{
    FormulaSlot *slot = MakeSlot("InList('tech') + InList('other.x')");
    CopyString(slot->nameSpace, sizeof slot->nameSpace, "lib", -1);
    ASSERT_EQ(CompileFormula(slot, 0, -1), 1);
    EXPECT_STREQ(slot->nodes[0][2].text, "lib.tech");
    EXPECT_STREQ(slot->nodes[0][7].text, "other.x");
}

TEST_F(FormulaCompile, PrevExitItemsMarkTheSlot)
{
    FormulaSlot *slot = MakeSlot("PrevExitStop");
    ASSERT_EQ(CompileFormula(slot, SECTION_STRATEGY, 0), 1);
    EXPECT_EQ(slot->usesPrevExits, 1u);
}

TEST_F(FormulaCompile, DllDataCalcMustStandAlone)
{
    CopyString(gSettings.UserDllPath, sizeof gSettings.UserDllPath, TestProgramFolder().c_str(), -1);
    EXPECT_EQ(Compile("DllDataCalc(1, 2)", SECTION_DATA), "391a2,4w5 18 2=1fv1 17 2=2fv2 20");
    EXPECT_EQ(Compile("C + DllDataCalc()", SECTION_DATA), "error 95 @4+11");
    EXPECT_EQ(Compile("DllDataCalc() + 1", SECTION_DATA), "error 95 @0+11");
}

} // namespace
