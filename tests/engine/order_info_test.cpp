#include <string>

#include "engine/orders.h"
#include "foundation/allocator.h"
#include "pass_fixture.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/side_files.h"
#include "script/eval/value_access.h"

namespace {

/* clang-format off */
const std::vector<DayBar> kDays = {
    {20240102, 10.0, 11.0, 9.5, 10.5},
    {20240103, 10.5, 12.0, 10.0, 11.5},
    {20240104, 11.6, 12.5, 11.0, 12.0},
};
/* clang-format on */

struct OrderInfoTest : PassTest {
    void SetUp() override
    {
        PassTest::SetUp();
        gContractSpecs.count = 0; /* what an earlier compile loaded */
        gSymbolChanges.count = 0;
        LoadMarket({{"AAA", kDays}});
        AddStrategy("Orders");
        ctx.strategy = &strategies[0];
        ctx.strategyIndex = 0;
        ctx.symbol = &gStore.symbols[0];
        ctx.date = 20240104;
        ctx.barPhase = PHASE_CLOSE;
        ctx.barSize = BAR_DAILY;
        strategies[0].orderDate = 20240105;
    }
    void TearDown() override
    {
        FreeMemory(&gContractSpecs.items);
        gContractSpecs = GrowList{};
        FreeMemory(&gSymbolChanges.items);
        gSymbolChanges = GrowList{};
        PassTest::TearDown();
    }
    void AddSpec(const char *exchange, const char *match1, const char *match2, const char *market, const char *primary)
    {
        ASSERT_TRUE(GrowListReserve(&gContractSpecs, gContractSpecs.count + 1, sizeof(ContractSpec)));
        ContractSpec *row = (ContractSpec *)gContractSpecs.items + gContractSpecs.count++;
        *row = ContractSpec{};
        CopyString(row->Exchange, sizeof row->Exchange, exchange, -1);
        CopyString(row->Match1, sizeof row->Match1, match1, -1);
        CopyString(row->Match2, sizeof row->Match2, match2, -1);
        CopyString(row->Market, sizeof row->Market, market, -1);
        CopyString(row->Primary, sizeof row->Primary, primary, -1);
    }
    void Rename(const char *name, const char *exchange)
    {
        SymbolRecord *s = &gStore.symbols[0];
        CopyString(s->info.Symbol, sizeof s->info.Symbol, name, -1);
        CopyString(s->info.Exchange, sizeof s->info.Exchange, exchange, -1);
    }
};

/* Rows are tried in file order: a Match pattern (or, when the symbol names
** its exchange, the Exchange pattern) qualifies a row and Market narrows it;
** the broker symbol's last '.' ends the name or becomes a blank. */
TEST_F(OrderInfoTest, ExchangeMapRowAndBrokerSymbol)
{
    AddSpec("LSE*", "*.L", "", "", "LSE");
    AddSpec("NYSE", "", "*", "", "NYSE");
    AddSpec("*", "ES*", "", "ES*", "CME");
    const struct {
        const char *name, *exchange;
        int row, dot;
        const char *broker, *routing;
    } cases[] = {
        {"VOD.L", "", 0, 1, "VOD", "SMART/LSE"},
        {"BRK.B", "NYSE", 1, 0, "BRK B", "SMART/NYSE"},
        {"IBM", "", 1, 0, "IBM", "SMART/NYSE"},
        {"NQ", "GLOBEX", -1, 0, "NQ", ""},
        {"ESZ", "GLOBEX", 2, 0, "ESZ", "SMART/CME"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rename(c.name, c.exchange);
        int dot = -1;
        const ContractSpec *row = FindContractSpec(&gStore.symbols[0], &dot);
        EXPECT_EQ(c.row, row ? (int)(row - (const ContractSpec *)gContractSpecs.items) : -1);
        EXPECT_EQ(c.dot, dot);
        OrderInfo info;
        FillOrderInfo(&ctx, &gStore.symbols[0].bars[BAR_DAILY][2], &info, 1);
        EXPECT_STREQ(c.broker, info.brokerSymbol);
        EXPECT_STREQ(c.name, info.localSymbol);
        EXPECT_STREQ(c.routing, info.routingExchange);
        EXPECT_STREQ("STK", info.secType);
    }
}

/* The exchange map the program ships: a symbol that names its exchange goes
** to that exchange (NYSE Arca and NYSE American apart from NYSE), one named
** with a market's suffix to that market, by a name without the suffix; one
** with neither has no row.  US exchanges take market-on-close orders until
** ten minutes before the close. */
TEST_F(OrderInfoTest, TheShippedExchangeMapRoutesTheCommonExchanges)
{
    std::string map = tmp.File("ExchangeMap.csv");
    ASSERT_TRUE(WriteTestFile(map, ReadTestFile(KV_EXCHANGE_MAP_FILE)));
    CopyString(gExchangeMapSetting, 260, map.c_str(), -1);
    ASSERT_EQ(1, LoadExchangeMap());
    gExchangeMapSetting[0] = 0;
    const struct {
        const char *name, *exchange;
        const char *broker, *routing, *lastMoc;
    } cases[] = {
        {"SPY", "NYSE Arca", "SPY", "SMART/ARCA", "15:50:00 US/Eastern"},
        {"GLDM", "NYSE American", "GLDM", "SMART/AMEX", "15:50:00 US/Eastern"},
        {"BRK.B", "NYSE", "BRK B", "SMART/NYSE", "15:50:00 US/Eastern"},
        {"AAPL", "NASDAQ Global Select", "AAPL", "SMART/NASDAQ", "15:50:00 US/Eastern"},
        {"VOD.L", "", "VOD", "SMART/LSE", ""},
        {"RY.TO", "", "RY", "SMART/TSE", ""},
        {"BHP.AX", "", "BHP", "SMART/ASX", ""},
        {"ABC", "", "ABC", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rename(c.name, c.exchange);
        OrderInfo info;
        FillOrderInfo(&ctx, &gStore.symbols[0].bars[BAR_DAILY][2], &info, 1);
        EXPECT_STREQ(c.broker, info.brokerSymbol);
        EXPECT_STREQ(c.routing, info.routingExchange);
        EXPECT_STREQ(c.lastMoc, info.lastMocTime);
    }
}

/* A contract's broker symbol is its root with the month letter and the last
** digit of the year, renamed by the symbol-change list; a continuous series
** takes the contract in force at the reference date. */
TEST_F(OrderInfoTest, FuturesBrokerSymbol)
{
    ASSERT_TRUE(GrowListReserve(&gSymbolChanges, 1, sizeof(SymbolChange)));
    SymbolChange *change = (SymbolChange *)gSymbolChanges.items;
    *change = SymbolChange{};
    CopyString(change->oldSymbol, sizeof change->oldSymbol, "cl", -1);
    CopyString(change->newSymbol, sizeof change->newSymbol, "MCL", -1);
    CopyString(change->secondText, sizeof change->secondText, "NYMEX", -1);
    change->date = 20230101;
    gSymbolChanges.count = 1;
    const struct {
        const char *name;
        int32_t delist;
        const char *broker, *local, *routing;
        double expiry;
    } cases[] = {
        {"ES-2024H", 0, "ESH4", "ESH4", "", 0},
        {"CL-2022M", 0, "MCLM2", "MCLM2", "SMART/NYMEX", 0},
        {"CL-2024M", 0, "CLM4", "CLM4", "", 0}, /* changed before the contract's year */
        {"ES-1850H", 0, "ES-1850H", "ES-1850H", "", 0},
        {"ES", 0, "ES", "ES", "", 0},
        {"ES-2024H", 20240315, "ES", "ES-2024H (3/15/24)", "", 20240315},
    };
    SymbolRecord *s = &gStore.symbols[0];
    s->securityType = SECURITY_FUTURES;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "M/d/yy", -1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rename(c.name, "");
        s->info.DelistDate = c.delist;
        OrderInfo info;
        FillOrderInfo(&ctx, &s->bars[BAR_DAILY][2], &info, 1);
        EXPECT_STREQ("FUT", info.secType);
        EXPECT_STREQ(c.broker, info.brokerSymbol);
        EXPECT_STREQ(c.local, info.localSymbol);
        EXPECT_STREQ(c.routing, info.routingExchange);
        EXPECT_EQ(c.expiry, info.expiry);
    }

    /* A continuous series: the contract of 20240104 at the close, of 20240103 before it. */
    Rename("ES_B", "");
    s->info.DelistDate = 0;
    const EventItem events[] = {
        {20231201, 0, EVENT_CONTRACT, 0, 20231215},
        {20231201, 0, EVENT_CONTRACT_SECOND, 0, 202312},
        {20240103, 1, EVENT_CONTRACT, 0, 20240315},
        {20240103, 1, EVENT_CONTRACT_SECOND, 0, 202403},
        {20240110, 0, EVENT_CONTRACT, 0, 20240621},
    };
    ASSERT_TRUE(AllocMemory(&s->events, sizeof events));
    memcpy(s->events, events, sizeof events);
    s->eventCount = 5;
    const struct {
        int32_t phase;
        const char *local;
        double expiry;
    } phases[] = {{PHASE_CLOSE, "ES_2024H", 20240315}, {PHASE_OPEN, "ES_2023Z", 20231215}};
    for (const auto &c : phases) {
        ctx.barPhase = c.phase;
        OrderInfo info;
        FillOrderInfo(&ctx, &s->bars[BAR_DAILY][2], &info, 1);
        EXPECT_STREQ("ES", info.brokerSymbol);
        EXPECT_STREQ(c.local, info.localSymbol);
        EXPECT_EQ(c.expiry, info.expiry);
    }
    FreeMemory(&s->events);
    s->eventCount = 0;
}

/* The market-as-limit price lies beyond the close on the side that fills:
** above it to buy, below it to sell. */
TEST_F(OrderInfoTest, MarketAsLimitPrice)
{
    const struct {
        int32_t side, isExit;
        const char *price;
    } cases[] = {{1, 0, "12.12"}, {1, 1, "11.88"}, {-1, 0, "11.88"}, {-1, 1, "12.12"}};
    gScriptSettings.OrdersMktAsLmtPct = 1;
    for (const auto &c : cases) {
        strategies[0].Side = c.side;
        OrderInfo info;
        FillOrderInfo(&ctx, &gStore.symbols[0].bars[BAR_DAILY][2], &info, c.isExit);
        EXPECT_STREQ(c.price, info.mktAsLmtPrice);
        EXPECT_EQ(std::string(c.price) + " limit", info.mktAsLmtWords);
    }
    gScriptSettings.OrdersMktAsLmtPct = 0;
    OrderInfo info;
    FillOrderInfo(&ctx, &gStore.symbols[0].bars[BAR_DAILY][2], &info, 0);
    EXPECT_STREQ("", info.mktAsLmtPrice);
}

/* Without a bar on the date only a strategy that allows a missing bar takes
** the last earlier one; the context date stays. */
TEST_F(OrderInfoTest, OrderBarFallsBackToAnEarlierBar)
{
    const struct {
        int32_t date, allowMissing, barDate;
    } cases[] = {{20240104, 0, 20240104}, {20240105, 0, 0}, {20240105, 1, 20240104}, {20240101, 1, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.date);
        ctx.date = c.date;
        strategies[0].AllowMissingBar = c.allowMissing;
        const Bar *bar = GetOrderBar(&ctx);
        EXPECT_EQ(c.barDate, bar ? bar->date : 0);
        EXPECT_EQ(c.date, ctx.date);
    }
}

/* Each order text evaluation counts one more unique id. */
TEST_F(OrderInfoTest, OrderTextsAndUniqueId)
{
    SetFormula(0, SLOT_ORDER_NOTE, "\"hold\"");
    SetFormula(0, SLOT_ORDER_EXTRA_1 + 2, "C * 2");
    gSettings.UniqueOrderId = 41;
    SyncContextBar(&ctx);
    OrderInfo info{};
    EvalOrderTexts(&ctx, &info);
    EXPECT_EQ(42, gSettings.UniqueOrderId);
    EXPECT_STREQ("hold", info.note);
    EXPECT_STREQ("", info.extra[0]);
    EXPECT_STREQ("24", info.extra[2]);
}

} // namespace
