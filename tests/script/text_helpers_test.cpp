#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "script/compiler/compile_errors.h"
#include "script/compiler/formula.h"

namespace {

TEST(FormulaTextHelpers, NumberText)
{
    struct {
        const char *text;
        int allowNegative, whole, expected;
    } const cases[] = {
        {"12", 0, 1, 1},
        {"1.5e3", 0, 1, 1},
        {".5", 0, 1, 1},
        {"5.", 0, 1, 1},
        {"+5", 0, 0, 0},
        {"inf", 0, 0, 0},
        {"Infinity", 1, 0, 0},
        {"nan", 0, 1, 1},
        {"nan ", 0, 0, 1},
        {"nanx", 0, 0, 0},
        {"-3", 0, 0, 0},
        {"-3", 1, 1, 1},
        {"12abc", 0, 0, 1},
        {"12abc", 0, 1, 0},
        {"abc", 1, 0, 0},
        {"", 1, 0, 0},
        {"1e", 0, 1, 0},
        {"1e", 0, 0, 1},
        {".", 1, 0, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsNumberText(c.text, c.allowNegative, c.whole), c.expected) << c.text << c.allowNegative << c.whole;
}

TEST(FormulaTextHelpers, Delimiters)
{
    for (char c : std::string("\t\n\r !()*+,-/:<=>[\\]^{}")) EXPECT_TRUE(IsTokenDelimiter(c)) << c;
    EXPECT_TRUE(IsTokenDelimiter(0));
    for (char c : std::string("a.&$@~_%#\"'|;")) EXPECT_FALSE(IsTokenDelimiter(c)) << c;
    for (char c : std::string("\t\n\r (),")) EXPECT_TRUE(IsNameDelimiter(c)) << c;
    for (char c : std::string(".-^/+*")) EXPECT_FALSE(IsNameDelimiter(c)) << c;
}

TEST(FormulaTextHelpers, NamesAndIdentifiers)
{
    EXPECT_EQ(IsValidName("abc_1.x", 7), 1);
    EXPECT_EQ(IsValidName("_1", 2), 0); // no letter
    EXPECT_EQ(IsValidName("1a", 2), 0);
    EXPECT_EQ(IsValidName("a-b", 3), 0);
    EXPECT_EQ(IsValidName("ab-", 2), 1); // only the first n count

    struct {
        const char *text;
        int length;
        int code;
        const char *name;
    } const cases[] = {
        {"  My Name:", -1, 0, "My"},
        {"  My Name  ", 11, 0, "MyName"},
        {"Foo // note", -1, 0, "Foo"},
        {"Fo o{x}", 7, 0, "Foo"},
        {"9lives", -1, 14, "9lives"},
        {"", -1, 14, ""},
    };
    for (const auto &c : cases) {
        char out[80];
        EXPECT_EQ(ReadNameToken(out, sizeof out, c.text, c.length), c.code) << c.text;
        EXPECT_STREQ(out, c.name) << c.text;
    }
    char out[80];
    EXPECT_EQ(ReadNameToken(out, sizeof out, std::string(78, 'a').c_str(), -1), 0);
    EXPECT_EQ(ReadNameToken(out, sizeof out, std::string(79, 'a').c_str(), -1), 11);

    char id[] = "a (b, c)  d";
    MakeIdentifier(id);
    EXPECT_STREQ(id, "a_b_c_d");
    EXPECT_EQ(HasFileExtension("C:\\x\\data.KVD", "kvd"), 1);
    EXPECT_EQ(HasFileExtension("C:\\x\\data.kvd.bak", "kvd"), 0);
    EXPECT_EQ(HasFileExtension("noext", ""), 0);
}

TEST(FormulaTextHelpers, SkipComment)
{
    struct {
        const char *text;
        int skipped;
        int stop; /* offset the pointer is left at */
    } const cases[] = {
        {"// to the end\nX", 1, 12},
        {"/* a */X", 1, 6},
        {"/* open", 1, 6},
        {"{ brace }X", 1, 8},
        {"{ open", 1, 5},
        {"/x", 0, 0},
        {"X", 0, 0},
    };
    for (const auto &c : cases) {
        const char *p = c.text;
        EXPECT_EQ(SkipComment(&p, nullptr), c.skipped) << c.text;
        EXPECT_EQ(p - c.text, c.stop) << c.text;
    }
}

TEST(FormulaNodes, RemoveMovesTheEndNodeToo)
{
    FormulaNode nodes[5] = {};
    for (int i = 0; i < 4; i++) nodes[i].item = 100 + i;
    RemoveFormulaNodes(&nodes[1], 2);
    EXPECT_EQ(nodes[0].item, 100u);
    EXPECT_EQ(nodes[1].item, 103u);
    EXPECT_EQ(nodes[2].item, 0u);
}

TEST(FormulaNodes, CapacityGrowsAllCopiesAndZeroes)
{
    FormulaSlot slot = {};
    ASSERT_EQ(EnsureNodeCapacity(&slot, 4), 1);
    slot.nodes[7][3].item = 5;
    ASSERT_EQ(EnsureNodeCapacity(&slot, 9), 1);
    EXPECT_EQ(slot.capacity, 9);
    for (int k = 0; k < FORMULA_WORKER_COPIES; k++) {
        ASSERT_NE(slot.nodes[k], nullptr);
        EXPECT_EQ(slot.nodes[k][8].item, 0u);
    }
    EXPECT_EQ(slot.nodes[7][3].item, 5u);
    EXPECT_EQ(EnsureNodeCapacity(&slot, 2), 1);
    EXPECT_EQ(slot.capacity, 9);
    slot.count = 3;
    ClearFormulaNodes(&slot);
    EXPECT_EQ(slot.count, 0);
    EXPECT_EQ(slot.nodes[7][3].item, 0u);
    FreeFormulaNodes(&slot);
}

TEST(CompileErrors, TableTexts)
{
    EXPECT_STREQ(CompileErrorText[0], "");
    EXPECT_STREQ(CompileErrorText[1], "formula is empty");
    EXPECT_STREQ(CompileErrorText[58],
                 "this import element requires a local-CSV data source\n(CSV, CSIFutures, CSIStocks)");
    EXPECT_EQ(std::string(CompileErrorText[96]),
              "radez" + std::string(PlatLibrarySuffix()) + " could not be loaded or has no DllDataCalc function");
    for (int code = 1; code < COMPILE_ERROR_COUNT; code++) EXPECT_GT(strlen(CompileErrorText[code]), 10u) << code;
}

} // namespace
