#include <string>

#include "engine/fills.h"
#include "engine/orders.h"
#include "pass_fixture.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/side_files.h"

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
        gContractSpecs.count = 0; /* what an earlier compile loaded */
        gSymbolChanges.count = 0;
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
        ctx.date = 20240104;
        ctx.barPhase = PHASE_CLOSE;
        ctx.barSize = BAR_DAILY;
        ctx.strategyIndex = 0;
        strategies[0].orderDate = 20240105;
        gRun.orderDate = 20240105;
        return ctx.position;
    }
    /* One exchange map row for every symbol, with the times given. */
    void MapRow(int32_t hasMoc, const char *nearClose)
    {
        ASSERT_TRUE(GrowListReserve(&gContractSpecs, 1, sizeof(ContractSpec)));
        ContractSpec *row = (ContractSpec *)gContractSpecs.items;
        *row = ContractSpec{};
        CopyString(row->Match1, sizeof row->Match1, "*", -1);
        CopyString(row->Primary, sizeof row->Primary, "NYSE", -1);
        CopyString(row->TimeZone, sizeof row->TimeZone, "EST", -1);
        CopyString(row->NearCloseTime, sizeof row->NearCloseTime, nearClose, -1);
        row->HasMoc = hasMoc;
        gContractSpecs.count = 1;
    }
    void TearDown() override
    {
        FreeMemory(&gContractSpecs.items);
        gContractSpecs = GrowList{};
        FreeMemory(&gSymbolChanges.items);
        gSymbolChanges = GrowList{};
        ResetOrderState();
        PassTest::TearDown();
    }
};

/* The texts of a file's lines in creation order. */
std::string LineTexts(const OrderFile *file)
{
    std::string all;
    for (int32_t k = 0; k < file->count; k++) all += file->lines[k].text;
    return all;
}

/* The slot's value is clamped to the position (converted by the factor) and
** rounded to the quantity step, halves away from zero. */
TEST_F(OrderExitsTest, ExitQuantityIsClampedAndRounded)
{
    const struct {
        const char *exitQty;
        double factor, step, quantity;
        const char *text;
        double own = 1; /* the entry's split factor */
    } cases[] = {
        {nullptr, 1, 0, 100, "100"},
        {"30", 1, 0, 30, "30"},
        {"250", 1, 0, 100, "100"},
        {"-5", 1, 0, 0, "0"},
        {nullptr, 4, 0, 25, "25"}, /* 100 × 1 / 4 */
        {"33.3", 1, 0, 33.3, "33.3"},
        {"35", 1, 10, 40, "40"},
        {"34", 1, 10, 30, "30"},
        {"99.9995", 1, 0, 100, "100"}, /* a rest below a thousandth goes with it */
        /* Through a split every part of a share held is sold, cleared only
        ** of the ratio's hair: 100 / 64 and 100 x 0.3 / 0.1. */
        {nullptr, 64, 0, 1.5625, "1.5625"},
        {nullptr, 0.1, 0, 300, "300", 0.3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.exitQty ? c.exitQty : "(none)");
        PositionRecord *p = Open(c.exitQty);
        ASSERT_NE(p, nullptr);
        p->entrySplit = c.own;
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

/* Each exit time and price formula gives its order form; exits certain at
** the open leave the simulation at once. */
TEST_F(OrderExitsTest, ExitOrderForms)
{
    const struct {
        const char *name;
        int32_t exitTime, limitTime, stopTime, live, hasMoc;
        const char *rule, *limit, *stop;
        const char *lines;
        int32_t exitReason; /* of the trade the simulation closed, EXIT_NONE: still open */
        int32_t exits;
    } cases[] = {
        {"rule at the open", TIME_NEXT_OPEN, TIME_INTRADAY, TIME_INTRADAY, 0, 0, "1", nullptr, nullptr,
         "    sell 100 AAA market on open  (ExitRule)\n", EXIT_RULE, 1},
        {"rule text is the reason", TIME_NEXT_OPEN, TIME_INTRADAY, TIME_INTRADAY, 0, 0, "\"weak\"", nullptr, nullptr,
         "    sell 100 AAA market on open  (weak)\n", EXIT_RULE, 1},
        {"next close on an exchange with MOC", TIME_NEXT_CLOSE, TIME_INTRADAY, TIME_INTRADAY, 0, 1, "1", nullptr,
         nullptr, "    sell 100 AAA market on close  (ExitRule)\n", EXIT_NONE, 1},
        {"next close without MOC", TIME_NEXT_CLOSE, TIME_INTRADAY, TIME_INTRADAY, 0, 0, "1", nullptr, nullptr,
         "    sell 100 AAA market after 20240105 15:45 EST (ExitRule)\n", EXIT_NONE, 1},
        {"rule false, intraday limit", TIME_NEXT_OPEN, TIME_INTRADAY, TIME_INTRADAY, 0, 0, "0", "C * 1.1", nullptr,
         "    sell 100 AAA 13.20 limit   \n", EXIT_NONE, 1},
        {"limit at the open already reached", TIME_NEXT_OPEN, TIME_NEXT_OPEN, TIME_INTRADAY, 0, 0, "0", "11.5",
         nullptr, "    sell 100 AAA market on open (ExitLimit)\n", EXIT_LIMIT, 1},
        {"limit at the open not reached", TIME_NEXT_OPEN, TIME_NEXT_OPEN, TIME_INTRADAY, 0, 0, "0", "13", nullptr, "",
         EXIT_NONE, 0},
        {"stop at the open already reached", TIME_NEXT_OPEN, TIME_INTRADAY, TIME_NEXT_OPEN, 0, 0, "0", nullptr, "12",
         "    sell 100 AAA market on open (ExitStop)\n", EXIT_STOP, 1},
        {"stop at the next close", TIME_NEXT_OPEN, TIME_INTRADAY, TIME_NEXT_CLOSE, 0, 0, "0", nullptr, "C * 0.9",
         "    sell 100 AAA 10.80 stop good after  20240105 15:45 EST\n", EXIT_NONE, 1},
        {"market at the next close drops the next-close limit", TIME_NEXT_CLOSE, TIME_NEXT_CLOSE, TIME_INTRADAY, 0, 1,
         "1", "13", nullptr, "    sell 100 AAA market on close  (ExitRule)\n", EXIT_NONE, 1},
        {"live data and an exit at the open", TIME_NEXT_OPEN, TIME_INTRADAY, TIME_INTRADAY, 1, 0, "1", "13", nullptr,
         "", EXIT_NONE, 0},
        {"live data and an exit at this close", TIME_THIS_CLOSE, TIME_INTRADAY, TIME_INTRADAY, 1, 0, "1", nullptr,
         nullptr, "    sell 100 AAA market near close  (ExitRule)\n", EXIT_RULE, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PositionRecord *p = Open(nullptr);
        ASSERT_NE(p, nullptr);
        MapRow(c.hasMoc, "15:45");
        SetFormula(0, SLOT_EXIT_RULE, c.rule);
        if (c.limit) SetFormula(0, SLOT_EXIT_LIMIT, c.limit);
        if (c.stop) SetFormula(0, SLOT_EXIT_STOP, c.stop);
        strategies[0].ExitTime = c.exitTime;
        strategies[0].ExitLimitTime = c.limitTime;
        strategies[0].ExitStopTime = c.stopTime;
        gScriptSettings.OrdersLiveData = c.live;
        OrderFile *text = CreateOrderFile(tmp.File("orders.txt").c_str());
        ASSERT_NE(text, nullptr);
        int32_t orderId = 1, exits = 0;
        ExitOrderOutput out{};
        out.text = text;
        out.orderId = &orderId;
        out.exitCount = &exits;
        WriteExitOrders(&ctx, p, &out);
        EXPECT_EQ(c.lines, LineTexts(text));
        EXPECT_EQ(c.exits, exits);
        bool closed = strategies[0].openPositions[0].entryBar == -1;
        EXPECT_EQ(c.exitReason, closed && test.tradeCount > 0 ? test.trades[test.tradeCount - 1].reason : EXIT_NONE);
        EXPECT_EQ(0u, strategies[0].openPositions[0].partialExits);
        CloseOrderFile(text, 0);
        gScriptSettings.OrdersLiveData = 0;
        TearDown();
        SetUp();
    }
}

/* A child exit carries its parent's id, the group text only on request, and
** a benchmark writes nothing yet still counts its limit exit. */
TEST_F(OrderExitsTest, ChildGroupAndBenchmarkRows)
{
    const struct {
        int32_t child, group, kind;
        const char *csv;
        int32_t exits, nextId;
    } cases[] = {
        {0, 0, STRATEGY_KIND_STRATEGY, "SELL,LMT,13.20,,\n", 1, 8},
        {0, 1, STRATEGY_KIND_STRATEGY, "SELL,LMT,13.20,7,\n", 1, 8},
        {1, 1, STRATEGY_KIND_STRATEGY, "SELL,LMT,13.20,7,7\n", 1, 7},
        {0, 0, STRATEGY_KIND_BENCHMARK, "", 1, 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.child << c.group << c.kind);
        PositionRecord *p = Open(nullptr);
        ASSERT_NE(p, nullptr);
        strategies[0].kind = c.kind;
        SetFormula(0, SLOT_EXIT_LIMIT, "C * 1.1");
        gOrdersTemplate = OrderTemplate{};
        const uint32_t codes[] = {ORDER_FIELD_ACT, ORDER_FIELD_TYPE, ORDER_FIELD_LMT, ORDER_FIELD_OCA, ORDER_FIELD_PARENT};
        for (uint32_t code : codes) gOrdersTemplate.columns[gOrdersTemplate.columnCount++].code = code;
        OrderFile *csv = CreateOrderFile(tmp.File("orders.csv").c_str());
        ASSERT_NE(csv, nullptr);
        int32_t orderId = 7, exits = 0;
        ExitOrderOutput out{};
        out.csv = csv;
        out.orderId = &orderId;
        out.exitCount = &exits;
        out.child = c.child;
        out.group = c.group;
        WriteExitOrders(&ctx, p, &out);
        EXPECT_EQ(c.csv, LineTexts(csv));
        EXPECT_EQ(c.exits, exits);
        EXPECT_EQ(c.nextId, orderId);
        CloseOrderFile(csv, 0);
        TearDown();
        SetUp();
    }
}

/* A roll sells the whole position at the open as a roll order: a text line,
** no CSV row, counted as a roll and not as an exit. */
TEST_F(OrderExitsTest, RollOrder)
{
    PositionRecord *p = Open("30");
    ASSERT_NE(p, nullptr);
    strategies[0].ExitTime = TIME_NEXT_OPEN;
    gOrdersTemplate = OrderTemplate{};
    gOrdersTemplate.columns[gOrdersTemplate.columnCount++].code = ORDER_FIELD_ACT;
    OrderFile *text = CreateOrderFile(tmp.File("orders.txt").c_str());
    OrderFile *csv = CreateOrderFile(tmp.File("orders.csv").c_str());
    ASSERT_TRUE(text && csv);
    int32_t orderId = 1, exits = 0, rolls = 0;
    ExitOrderOutput out{};
    out.text = text;
    out.csv = csv;
    out.orderId = &orderId;
    out.exitCount = &exits;
    out.rollCount = &rolls;
    out.roll = 1;
    WriteExitOrders(&ctx, p, &out);
    /* The whole 100 shares, whatever ExitQty says. */
    EXPECT_EQ("    sell 100 AAA market on open  (roll forward)\n", LineTexts(text));
    EXPECT_EQ("", LineTexts(csv));
    EXPECT_EQ(1, rolls);
    EXPECT_EQ(0, exits);
    CloseOrderFile(text, 0);
    CloseOrderFile(csv, 0);
}

} // namespace
