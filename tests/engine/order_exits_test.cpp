#include <string>

#include "engine/orders.h"
#include "pass_fixture.h"
#include "script/compiler/settings_items.h"

namespace {

/* Entered at 10.5 on the second open; no exit rule, so 100 shares stay open. */
/* clang-format off */
const std::vector<DayBar> kThreeDays = {
    {20240102, 10.0, 11.0, 9.5, 10.5},
    {20240103, 10.5, 12.0, 10.0, 11.5},
    {20240104, 11.6, 12.5, 11.0, 12.0},
};
/* clang-format on */

struct OrderExitsTest : PassTest {
    PositionRecord *Open(const char *exitQty)
    {
        LoadMarket({{"AAA", kThreeDays}});
        AddStrategy("Exits");
        SetFormula(0, SLOT_ENTRY_SETUP, "C < 11");
        SetFormula(0, SLOT_QUANTITY, "100");
        if (exitQty) SetFormula(0, SLOT_EXIT_QTY, exitQty);
        StartTest();
        RunAll();
        if (strategies[0].openCount != 1) return nullptr;
        ctx.strategy = &strategies[0];
        ctx.position = &strategies[0].openPositions[0];
        ctx.symbol = ctx.position->symbol;
        return ctx.position;
    }
};

/* The slot's value is clamped to the position (converted by the factor) and
** rounded to the quantity step, halves away from zero. */
TEST_F(OrderExitsTest, ExitQuantityIsClampedAndRounded)
{
    const struct {
        const char *exitQty;
        double factor, step, quantity;
        const char *text;
    } cases[] = {
        {nullptr, 1, 0, 100, "100"},
        {"30", 1, 0, 30, "30"},
        {"250", 1, 0, 100, "100"},
        {"-5", 1, 0, 0, "0"},
        {nullptr, 4, 0, 25, "25"}, /* 100 × 1 / 4 */
        {"33.3", 1, 0, 33.3, "33.3"},
        {"35", 1, 10, 40, "40"},
        {"34", 1, 10, 30, "30"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.exitQty ? c.exitQty : "(none)");
        PositionRecord *p = Open(c.exitQty);
        ASSERT_NE(p, nullptr);
        p->entrySplit = 1;
        p->quantityStep = c.step;
        char text[64] = "";
        EXPECT_DOUBLE_EQ(c.quantity, ComputeExitQuantity(&ctx, SLOT_EXIT_QTY, c.factor, text));
        EXPECT_STREQ(c.text, text);
        TearDown();
        SetUp();
    }
}

/* Only a constant non-zero rule at this close (data not live) or a rule that
** gives a text now for the next close is certain. */
TEST_F(OrderExitsTest, ExitRuleCertainty)
{
    const struct {
        int32_t exitTime;
        const char *rule;
        int32_t live;
        int certain;
    } cases[] = {
        {TIME_THIS_CLOSE, "1", 0, 1},
        {TIME_THIS_CLOSE, "0", 0, 0},
        {TIME_THIS_CLOSE, "C > 5", 0, 0},
        {TIME_THIS_CLOSE, "1", 1, 0},
        {TIME_NEXT_OPEN, "1", 0, 0},
        {TIME_INTRADAY, "1", 0, 0},
        {TIME_NEXT_CLOSE, "C > 5", 0, 1},
        {TIME_NEXT_CLOSE, "C > 50", 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        PositionRecord *p = Open(nullptr);
        ASSERT_NE(p, nullptr);
        SetFormula(0, SLOT_EXIT_RULE, c.rule);
        strategies[0].ExitTime = c.exitTime;
        gScriptSettings.OrdersLiveData = c.live;
        EXPECT_EQ(c.certain, IsExitRuleCertain(&ctx));
        if (c.exitTime == TIME_NEXT_CLOSE) {
            EXPECT_STREQ(c.certain ? "1" : "", p->label);
        }
        gScriptSettings.OrdersLiveData = 0;
        TearDown();
        SetUp();
    }
}

} // namespace
