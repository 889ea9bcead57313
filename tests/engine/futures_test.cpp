/* Contract names and futures rolls. */
#include <gtest/gtest.h>

#include <cstring>

#include "engine/futures.h"
#include "pass_fixture.h"
#include "support/test_support.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "shell/headless/headless.h"

namespace {

TEST(Futures, ContractNamesUseTheMonthLetterOrTheDate)
{
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    SymbolRecord s{};
    struct {
        const char *symbol;
        int32_t date, month;
        const char *expected;
    } cases[] = {
        {"ES_C", 20250321, 202503, "ES_2025H"},
        {"ES_C", 20251219, 202512, "ES_2025Z"},
        {"CL", 20250120, 202501, "CL_2025F"},
        {"CL_X_Y", 20250321, 0, "CL (2025-03-21)"},
        {"CL", 20250321, 202513, "CL (2025-03-21)"},
        {"CL", 20250321, 100003, "CL (2025-03-21)"}, /* year below 1001 */
    };
    for (auto &c : cases) {
        CopyString(s.info.Symbol, sizeof s.info.Symbol, c.symbol, -1);
        char out[CONTRACT_NAME_SIZE];
        FormatContractName(&s, c.date, c.month, out);
        EXPECT_STREQ(c.expected, out);
    }
}

TEST_F(PassTest, ARollChargesTheRollCostOnTheBarAfterTheContractChanged)
{
    LoadMarket({{"ES_C", {{20240102, 10, 11, 9, 10}, {20240103, 10, 11, 9, 10}, {20240104, 10, 11, 9, 10}, {20240105, 10, 11, 9, 10}}},
                {"ZZ", {{20240102, 10, 11, 9, 10}, {20240103, 10, 11, 9, 10}, {20240104, 10, 11, 9, 10}, {20240105, 10, 11, 9, 10}}}});
    SymbolRecord *es = &gStore.symbols[0];
    es->securityType = SECURITY_FUTURES;
    /* March until the close of Jan 3, June from Jan 4. */
    const EventItem events[] = {{20231215, 0, EVENT_CONTRACT, 0, 20240315}, {20231215, 0, EVENT_CONTRACT_SECOND, 0, 202403}, {20240103, 160000, EVENT_CONTRACT, 0, 20240621}, {20240103, 160000, EVENT_CONTRACT_SECOND, 0, 202406}};
    ASSERT_TRUE(AllocMemory(&es->events, sizeof events));
    memcpy(es->events, events, sizeof events);
    es->eventCount = 4;
    AddStrategy("Roller");
    SetFormula(0, SLOT_ROLL_COST, "12.5");
    StartTest();
    StrategyRecord &r = strategies[0];
    ASSERT_TRUE(AllocMemory(&r.openPositions, 2 * sizeof(PositionRecord)));
    r.openCapacity = 2;
    r.openCount = 2;
    r.openPositions[0] = PositionRecord{};
    r.openPositions[0].symbol = es;
    r.openPositions[0].quantity = 2;
    r.openPositions[0].entryBar = 0;
    r.openPositions[1] = PositionRecord{};
    r.openPositions[1].symbol = &gStore.symbols[1]; /* not a futures symbol: never rolled */
    r.openPositions[1].entryBar = 0;
    gSettings.AddLog = 1;
    ctx.strategy = &r;
    ctx.strategyIndex = 0;
    ctx.barPhase = PHASE_OPEN;
    struct {
        int32_t date;
        double rollCosts;
    } steps[] = {{20240103, 0}, {20240104, 0}, {20240105, 12.5}};
    for (auto &step : steps) {
        ctx.date = step.date;
        ProcessFuturesRolls(&ctx, nullptr);
        EXPECT_DOUBLE_EQ(step.rollCosts, r.openPositions[0].rollCosts) << step.date;
        EXPECT_DOUBLE_EQ(0, r.openPositions[1].rollCosts);
    }
    ASSERT_NE(nullptr, gHeadless.logText);
    EXPECT_NE(nullptr, strstr(gHeadless.logText, "\topen\tRoller\t\tES_C\troll\t2\tfrom ES_2024H to ES_2024M, cost is "))
        << gHeadless.logText;
    FreeMemory(&r.openPositions);
    FreeMemory(&es->events);
}

/* ES_C follows March until the close of Thursday March 14, June from then
** on and September from the start of Wednesday June 12.  A daily, a weekly
** and a monthly strategy hold 2 contracts from early 2024, at a RollCost of
** 12.5.  Every position rolls once per change, at the open after the bar
** the change took effect on: Monday March 18 and Thursday June 13.  Tests
** ending on the days around them hold 0, 12.5 or 25 of roll costs. */
TEST_F(EngineTest, EveryPositionRollsOnceForEachContractChange)
{
    const EventItem events[] = {{20231115, 0, EVENT_CONTRACT, 0, 20240315}, {20231115, 0, EVENT_CONTRACT_SECOND, 0, 202403},
                                {20240314, 160000, EVENT_CONTRACT, 0, 20240621}, {20240314, 160000, EVENT_CONTRACT_SECOND, 0, 202406},
                                {20240612, 0, EVENT_CONTRACT, 0, 20240920}, {20240612, 0, EVENT_CONTRACT_SECOND, 0, 202409}};
    const struct {
        const char *endDate;
        double rollCosts;
    } cases[] = {{"2024-03-15", 0},  {"2024-03-18", 12.5}, {"2024-03-22", 12.5}, {"2024-04-30", 12.5},
                 {"2024-06-12", 12.5}, {"2024-06-13", 25},  {"2024-07-05", 25}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.endDate);
        LoadFlat("ES_C", 20231101, 20240705, 4000);
        SymbolRecord *es = &gStore.symbols[0];
        es->securityType = SECURITY_FUTURES;
        es->info.PointValue = 50;
        ASSERT_TRUE(AllocMemory(&es->events, sizeof events));
        memcpy(es->events, events, sizeof events);
        es->eventCount = es->eventCapacity = 6;
        std::string script = std::string("Settings:\n  EndDate: ") + c.endDate + "\n";
        for (const char *barSize : {"Daily", "Weekly", "Monthly"})
            script += std::string("Strategy: ") + barSize + "\n  BarSize: " + barSize +
                "\n  EntrySetup: BarDate >= 20240101\n  Quantity: 2\n  QtyType: Shares\n  RollCost: 12.5\n";
        ASSERT_EQ(0, Run(script)) << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        ASSERT_EQ(3, test->tradeCount);
        for (int32_t k = 0; k < 3; k++) {
            const TradeRecord &t = test->trades[k];
            EXPECT_LT(t.dateIn, 20240315) << test->strategies[t.strategy].name;
            EXPECT_DOUBLE_EQ(c.rollCosts, t.rollCosts) << test->strategies[t.strategy].name;
        }
    }
}

} // namespace
