#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "foundation/text_match.h"
#include "script/compiler/formula.h"
#include "script/eval/item_table.h"
#include "shell/headless/headless.h"

namespace {

TEST(ItemTable, EveryRowCarriesItsOwnId)
{
    EXPECT_EQ(CheckItemTable(), 1);
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    std::vector<ScriptItem> rows(gScriptItems, gScriptItems + SCRIPT_ITEM_COUNT);
    /* a row inserted in the middle without renumbering what follows */
    rows.insert(rows.begin() + 100, rows[99]);
    EXPECT_EQ(CheckItemRows(rows.data(), SCRIPT_ITEM_COUNT), 0);
    EXPECT_STREQ(LastMessage(), "Internal Error: Syntax ID mismatch: PrevExitLimit (100) has 99");
    ResetHeadlessShell();
}

TEST(ItemTable, CategoriesCoverTheirRanges)
{
    struct Range {
        uint32_t first, last, category;
    } const ranges[] = {
        {0, 1, CAT_END},
        {2, 2, CAT_CONSTANT},
        {3, 3, CAT_TEXT},
        {4, 10, CAT_CONSTANT},
        {11, 15, CAT_SYSTEM},
        {16, 16, CAT_ARGUMENT},
        {17, 19, CAT_OPEN},
        {20, 21, CAT_CLOSE},
        {22, 36, CAT_OPERATOR},
        {37, 57, CAT_BREADTH},
        {58, 85, CAT_SYMBOL_INFO},
        {86, 110, CAT_POSITION_INFO},
        {111, 115, CAT_STRATEGY_INFO},
        {116, 186, CAT_STRATEGY_STAT},
        {187, 219, CAT_TRADE_VALUE},
        {220, 222, CAT_BAR_VALUE},
        {223, 234, CAT_BAR_DATE},
        {235, 254, CAT_BAR_VALUE},
        {255, 311, CAT_MULTI_BAR},
        {312, 336, CAT_INDICATOR},
        {337, 392, CAT_FUNCTION},
        {393, 395, CAT_SUM},
        {396, 409, CAT_FUNCTION},
        {410, 416, CAT_TRADE_STAT},
        {417, 417, CAT_END},
    };
    for (const Range &r : ranges) {
        for (uint32_t id = r.first; id <= r.last; id++) EXPECT_EQ(gScriptItems[id].category, r.category) << id;
    }
    const uint32_t unnamed[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 84, 85, 115, 183, 184, 185,
                                247, 248, 249, 250, 251, 252, 253, 254, 392, 417};
    std::set<uint32_t> unnamedSet(std::begin(unnamed), std::end(unnamed));
    std::set<std::string> seen;
    for (uint32_t id = 0; id < SCRIPT_ITEM_COUNT; id++) {
        const ScriptItem &row = gScriptItems[id];
        EXPECT_EQ(row.name[0] == 0, unnamedSet.count(id) == 1) << id;
        if (!row.name[0]) continue;
        std::string folded;
        for (const char *p = row.name; *p; p++) folded += (char)tolower((unsigned char)*p);
        EXPECT_TRUE(seen.insert(folded).second) << "duplicate name " << row.name;
        EXPECT_TRUE(row.description && row.description[0]) << id;
        bool function = IsFunctionCategory(row.category);
        EXPECT_EQ(function, row.syntax[0] != 0) << id;
        if (function) {
            EXPECT_LE(row.minimum, row.maximum) << id;
            EXPECT_LE(row.maximum, 64u) << id;
            EXPECT_EQ(strncmp(row.syntax, row.name, strlen(row.name)), 0) << row.syntax;
        }
    }
}

TEST(ItemTable, LookupByNameOrAlias)
{
    struct {
        const char *word;
        uint32_t id;
    } const cases[] = {
        {"mod", 25},
        {"%", 25},
        {"MOD", 25},
        {"c", 238},
        {"==", 32},
        {"!=", 33},
        {"&&", 35},
        {"||", 36},
        {"!", 34},
        {"xavg", 269},
        {"S.DDDlr", 179},
        {"InfoExpiry", 69},
        {"Contracts", 88},
        {"iif", 348},
        {"symnum", 388},
        {"", 0},
        {"nothing", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(FindScriptItem(c.word, nullptr), c.id) << c.word;
    FormulaNode node = {};
    EXPECT_EQ(FindScriptItem("round", &node), 362u);
    EXPECT_EQ(node.item, 362u);
    EXPECT_EQ(node.category, (uint32_t)CAT_FUNCTION);
    EXPECT_EQ(node.argCount, 1);
    EXPECT_EQ(node.maxArgs, 3);
}

TEST(ItemTable, StatisticDisplayFormats)
{
    struct {
        uint32_t id, format, decimals;
    } const cases[] = {
        {116, 2, 0},
        {133, 2, 0},
        {134, 3, 2},
        {136, 4, 2},
        {147, 3, 2},
        {148, 2, 0},
        {149, 3, 0},
        {155, 4, 0},
        {163, 3, 0},
        {165, 4, 2},
        {167, 2, 2},
        {170, 3, 2},
        {174, 3, 0},
        {178, 2, 0},
        {180, 3, 0},
        {181, 4, 2},
        {182, 4, 2},
        {186, 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(gScriptItems[c.id].format, c.format) << c.id;
        EXPECT_EQ(gScriptItems[c.id].decimals, c.decimals) << c.id;
    }
    EXPECT_EQ(gScriptItems[181].maximum, 2u);
    EXPECT_EQ(gScriptItems[182].maximum, 2u);
}

TEST(ItemTable, OperatorPrecedence)
{
    const uint32_t expected[] = {7, 6, 6, 6, 5, 5, 4, 4, 4, 4, 3, 3, 0, 2, 1};
    for (uint32_t id = 22; id <= 36; id++) EXPECT_EQ(gScriptItems[id].precedence, expected[id - 22]) << id;
}

TEST(ItemTable, HelpTextsTheEditorShows)
{
    struct {
        uint32_t id;
        const char *description, *syntax;
    } const cases[] = {
        {11, "the current local date and time", nullptr},
        {16, "library function argument (Arg1 - Arg9)", nullptr},
        {55, "calculate and store one per date -- all symbols have the same value (e.g. Extern)", nullptr},
        {56, "calculate and store one per symbol -- all bars have the same value (e.g. InfoXX)", nullptr},
        {57, "force the formula to not use fast one-pass calculation (for obscure split issues)", nullptr},
        {87, "side of current position (1 if long, -1 if short)", nullptr},
        {116, "number of current stat period in a test", nullptr},
        {186, "number of this stat during a multi-bar function calculation", nullptr},
        {222, "number of this bar during a multi-bar function calculation", nullptr},
        {240, "unadjusted close if data kept adjusted, or bar turnover (Norgate), or user value (CSV)", nullptr},
        {241, "bar split factor (unadjusted close / adjusted close)", nullptr},
        {286, "bars until expression will be true (0 if now, -1 if never)",
         "UntilTrue(expr, count {0}) {WARNING: looks ahead}"},
        {287, "expression value when condition was (or will be) true (NaN if never)",
         "WhenTrue(cond, expr, count {0}, nth {1}) {WARNING: looks ahead if nth < 0}"},
        {295, "linear regression", "LinReg(expr, {x-values,} count)"},
        {347, "anchored term in multi-bar function", "This(value)"},
        {352, "true if value can't be evaluated, false if it can", "IsNaN(value)"},
        {384, "return 1 if formula evalutes and is true, otherwise raise error and abort script",
         "Assert(expression, text {optional})"},
        {386, "return expression result as a specific data type",
         "DataType(expression, type {0=none,1=price,2=volume})"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(gScriptItems[c.id].description, c.description) << c.id;
        if (c.syntax) {
            EXPECT_STREQ(gScriptItems[c.id].syntax, c.syntax) << c.id;
        }
    }
}

TEST(ItemTable, SharableIndicatorsAndMultiBarFunctions)
{
    /* an identical Data sub-expression on one of these is calculated once */
    /* clang-format off */
    const std::set<uint32_t> shared = {
        255, 258, 259, 260, 261, 262, 263, 264, 265, 266, 267, 268, 269, 270, 271, 272, 273, 274, 275,
        278, 280, 281, 282, 283, 284, 285, 286, 287, 288, 289, 290, 292, 293, 294, 295, 296, 297, 298,
        299, 312, 313, 314, 316, 317, 318, 319, 321, 322, 323, 327, 328, 329, 330, 331, 332, 333, 336,
    };
    /* clang-format on */
    for (uint32_t id = 255; id <= 336; id++) EXPECT_EQ(gScriptItems[id].shareable, shared.count(id)) << id;
}

} // namespace
