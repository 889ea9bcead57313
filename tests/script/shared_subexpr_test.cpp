/* Shared Data sub-expressions through whole-script compiles: which calls are
** shared, the generated items and their names, bar sizes from item names and
** the automatic one-value marks. */
#include <gtest/gtest.h>

#include <string>

#include "driver_fixture.h"
#include "foundation/settings_table.h"
#include "script/compiler/compile_driver.h"
#include "script/eval/item_table.h"

namespace {

struct SharedSubexprTest : DriverTest {
    /* Compiles a Data section of items; the items' names afterwards. */
    std::string Share(const std::string &items, int extract = 1)
    {
        gSettings.ExtractOnePassItems = extract;
        gSettings.AutoOnePerX = 1;
        gSettings.BarSize2 = BAR_DAILY;
        EXPECT_EQ(1, CompileText("Parameters:\n  Len: 10\nData:\n" + items));
        return ItemNames(gDataItems);
    }
    /* What became of item i: "ref N" when its first node refers to Data item
    ** N, "series" (+ "cumulative") for a shared series, "" otherwise. */
    std::string Shape(int i)
    {
        const FormulaItem &item = Item(gDataItems, i);
        for (const FormulaNode *p = item.formula.nodes[0]; p->item != ITEM_END; p++)
            if (p->item == ITEM_DATA_REF) return "ref " + std::to_string(p->index);
        std::string shape = item.formula.sharedSeries ? "series" : "";
        if (item.formula.onePass) shape += " cumulative";
        return shape;
    }
};

struct ShareCase {
    const char *items;
    int extract;
    const char *names;
    const char *shapes; /* Shape of every item, ';'-separated */
};

/* clang-format off */
const ShareCase kShareCases[] = {
    {"  A: Avg(C, 20) + 1\n  B: Avg(C, 20) * 2\n", 1, "A,B,_Avg_C_20_", "ref 2;ref 2;series"},
    {"  A: Avg(C, 20) + 1\n  B: Avg(C, 20) * 2\n", 0, "A,B", ";"},
    {"  X: Avg(C, 20)\n  A: Avg(C, 20) + 1\n  B: Avg(C, 20) * 2\n", 0, "X,A,B", "series;ref 0;ref 0"},
    {"  A: Avg(C, Len) + Avg(C, Len + 1)\n", 1, "A,_Avg_C_Len_,_Avg_C_Len_P_", "ref 1;series;series"},
    {"  A: 1 + Avg(C, (Len + 1))\n", 1, "A", ""},
    {"  A: 1 + Avg(C, HHV(C, 5))\n", 1, "A,_HHV_C_5_", "ref 1;series"},
    {"  A: 1 + Sum(V, BarNum)\n  B: 1 + EMA(C, BarNum)\n", 1, "A,B,_Sum_V_BarNum_", "ref 2;;series cumulative"},
    {"  A: Sum(V, BarNum)\n", 1, "A", "series cumulative"},
    {"  A: 1 + SinceTrue(C > O, 5)\n", 1, "A", ""},
    {"  A: 1 + Avg(C, 20)[1]\n", 1, "A,_Avg_C_20_", "ref 1;series"},
    /* A sign stays with the reference: the item shared holds the call
    ** without it, and a user's negated item is not that call. */
    {"  A: -Avg(C, 20) + 1\n  B: Avg(C, 20) * 2\n", 1, "A,B,_Avg_C_20_", "ref 2;ref 2;series"},
    {"  X: -Avg(C, 20)\n  A: -Avg(C, 20) * 2\n", 1, "X,A,_Avg_C_20_", "series;ref 2;series"},
    /* Generated names never repeat: a user's item of the same name, and a
    ** length that differs only beyond the name's precision. */
    {"  _Avg_C_20_: C\n  A: 1 + Avg(C, 20)\n", 1, "_Avg_C_20_,A,_Avg_C_20_2_", ";ref 2;series"},
    {"  A: Avg(C, 20) + Avg(C, 20.0000001)\n", 1, "A,_Avg_C_20_,_Avg_C_20_2_", "ref 1;series;series"},
};
/* clang-format on */

TEST_F(SharedSubexprTest, ShareableCallsBecomeReferencesToOneItemEach)
{
    for (const ShareCase &c : kShareCases) {
        SCOPED_TRACE(c.items);
        EXPECT_EQ(c.names, Share(c.items, c.extract));
        std::string shapes;
        for (int i = 0; i < gDataItems.count; i++) shapes += (i ? ";" : "") + Shape(i);
        EXPECT_EQ(c.shapes, shapes);
        FreeCompiledScript();
    }
}

TEST_F(SharedSubexprTest, TheGeneratedItemsValueIsTheSharedCallsAtTheReferencingBar)
{
    Share("  A: 1 + Avg(C, 20)[3]\n");
    ASSERT_EQ(2, gDataItems.count);
    const FormulaItem &made = Item(gDataItems, 1);
    EXPECT_EQ(0u, made.formula.nodes[0][0].barsBackLink);
    EXPECT_EQ(5u, made.formula.nodes[0][0].width);
    EXPECT_EQ(6, made.formula.count);
    /* The reference keeps the offset; every worker copy holds the change. */
    const FormulaNode *ref = &Item(gDataItems, 0).formula.nodes[31][2];
    EXPECT_EQ((uint32_t)ITEM_DATA_REF, ref->item);
    EXPECT_NE(0u, ref->barsBackLink);
}

TEST_F(SharedSubexprTest, NamesGiveBarSizesAndFormulasGiveOneValueMarks)
{
    struct {
        const char *item;
        int barSize, onePerDate, onePerSymbol;
    } cases[] = {
        {"  WeeklyTrend: C\n", BAR_WEEKLY, 0, 0},
        {"  monthlyX: C\n", BAR_MONTHLY, 0, 0},
        {"  Plain: C\n", BAR_DAILY, 0, 0},
        {"  Const: 5 * 2\n", BAR_DAILY, 1, 1},
        {"  Grouped: (5 * 2)\n", BAR_DAILY, 0, 1},
        {"  Info: PointValue * TickSize\n", BAR_DAILY, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        Share(c.item);
        const FormulaItem &item = Item(gDataItems, 0);
        EXPECT_EQ(c.barSize, item.barSize);
        EXPECT_EQ(c.onePerDate, item.onePerDate);
        EXPECT_EQ(c.onePerSymbol, item.onePerSymbol);
        FreeCompiledScript();
    }
}

} // namespace
