#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/limits.h"
#include "pass_fixture.h"
#include "foundation/settings_table.h"
#include "script/compiler/settings_items.h"

namespace {

/* Two days: every symbol's first bar closes up, so all signal for the next open. */
std::vector<DayBar> TwoDays(double base)
{
    return {{20240102, base, base + 1, base - 0.5, base + 0.5}, {20240103, base + 0.5, base + 1, base, base + 0.8}};
}

/* Two strategies in one combined strategy that holds at most three
** positions.  Beta (StrategyScore 2) takes before Alpha (1) in every turn,
** one setup a turn; Alpha prefers dear symbols, Beta cheap ones.
**   turn 1: Beta keeps AAA, Alpha keeps CCC;
**   turn 2: Beta keeps BBB (three held), Alpha's BBB meets the combined limit;
**   turn 3: Beta's CCC and Alpha's AAA meet it as well. */
TEST_F(PassTest, StrategiesTakeSetupsInTurnsByScoreUnderTheirGroupsLimits)
{
    LoadMarket({{"AAA", TwoDays(10)}, {"BBB", TwoDays(20)}, {"CCC", TwoDays(30)}});
    AddGroupedPair(STRATEGY_KIND_COMBINED);
    for (int32_t s = 0; s < 2; s++) {
        SetFormula(s, SLOT_ENTRY_SETUP, "C > O");
        SetFormula(s, SLOT_QUANTITY, "10");
    }
    SetFormula(0, SLOT_SETUP_SCORE, "C");
    SetFormula(1, SLOT_SETUP_SCORE, "-C");
    SetFormula(0, SLOT_STRATEGY_SCORE, "1");
    SetFormula(1, SLOT_STRATEGY_SCORE, "2");
    SetFormula(2, SLOT_MAX_POSITIONS, "3");
    gSettings.KeepSkipped = 1;
    StartTest();
    test.mainStrategy = 2;
    gPositionState.accountStrategy = 2;
    RunAll();

    EXPECT_EQ("CCC ", Held(0));
    EXPECT_EQ("AAA BBB ", Held(1));
    EXPECT_EQ(3, Cell(1, 2)->positions);
    EXPECT_EQ(3, Cell(1, 2)->entryOrders);
    EXPECT_DOUBLE_EQ(10 * 10.5 + 10 * 20.5, Cell(1, 1)->invested);
    const struct {
        int32_t strategy;
        const char *symbol;
    } skipped[] = {{0, "AAA"}, {0, "BBB"}, {1, "CCC"}}; /* equal entry scores: by symbol */
    ASSERT_EQ(3, test.tradeCount);
    for (int k = 0; k < 3; k++) {
        const TradeRecord &t = test.trades[k];
        EXPECT_EQ(skipped[k].strategy, t.strategy) << k;
        EXPECT_STREQ(skipped[k].symbol, t.symbol) << k;
        EXPECT_EQ(SKIP_MAX_POSITIONS, t.reason) << k;
        EXPECT_EQ(20240103, t.dateIn) << k;
    }
}

/* One position a symbol in the account: a symbol that a sibling kept earlier
** in the same day's turns, or that the account already holds, is refused by
** the combined strategy's own same-symbol limit; so is one its own strategy
** holds.  Beta (StrategyScore 2) turns first and keeps one position.
**   day 2: Beta keeps AAA; Alpha's AAA meets Beta's kept setup, Alpha keeps
**          BBB and CCC; Beta's BBB and CCC meet its MaxPositions;
**   day 3: every setup meets a held position of the account. */
TEST_F(PassTest, ASymbolTheAccountHoldsOrKeptTodayIsRefused)
{
    const std::vector<DayBar> days = {{20240102, 10, 11, 9.5, 10.5},
                                      {20240103, 10.5, 11.5, 10, 11},
                                      {20240104, 11, 12, 10.5, 11.5}};
    LoadMarket({{"AAA", days}, {"BBB", days}, {"CCC", days}});
    AddGroupedPair(STRATEGY_KIND_COMBINED);
    for (int32_t s = 0; s < 2; s++) {
        SetFormula(s, SLOT_ENTRY_SETUP, "C > O");
        SetFormula(s, SLOT_QUANTITY, "10");
        SetFormula(s, SLOT_SETUP_SCORE, "-C");
    }
    SetFormula(0, SLOT_STRATEGY_SCORE, "1");
    SetFormula(1, SLOT_STRATEGY_SCORE, "2");
    SetFormula(1, SLOT_MAX_POSITIONS, "1");
    gSettings.KeepSkipped = 1;
    StartTest();
    test.mainStrategy = 2;
    gPositionState.accountStrategy = 2;
    RunAll();

    EXPECT_EQ("BBB CCC ", Held(0));
    EXPECT_EQ("AAA ", Held(1));
    std::string skips;
    for (int32_t k = 0; k < test.tradeCount; k++) {
        const TradeRecord &t = test.trades[k];
        if (t.reason != SKIP_MAX_SAME_SYMBOL && t.reason != SKIP_MAX_POSITIONS) continue;
        skips += std::to_string(t.dateIn % 100) + (t.strategy == 0 ? " Alpha " : " Beta ") + t.symbol +
            (t.reason == SKIP_MAX_SAME_SYMBOL ? " same symbol\n" : " positions\n");
    }
    /* The same days and setups sorted as a reader lists them. */
    std::vector<std::string> lines;
    for (size_t at = 0, next; (next = skips.find('\n', at)) != std::string::npos; at = next + 1)
        lines.push_back(skips.substr(at, next - at));
    std::sort(lines.begin(), lines.end());
    const std::vector<std::string> expected = {
        "3 Alpha AAA same symbol", "3 Beta BBB positions",    "3 Beta CCC positions",
        "4 Alpha AAA same symbol", "4 Alpha BBB same symbol", "4 Alpha CCC same symbol",
        "4 Beta AAA positions",    "4 Beta BBB positions",    "4 Beta CCC positions",
    };
    EXPECT_EQ(expected, lines);
}

/* One limit test over a setup worth 1,500 (30 at 50) with a commission of 10. */
TEST_F(PassTest, ALimitKeepsReducesOrSkipsASetup)
{
    LoadMarket({{"AAA", TwoDays(50)}});
    AddStrategy("Alpha");
    StartTest();
    const struct {
        const char *what;
        double current, limit, sign;
        int32_t code;
        double reduce;
        int kept;
        double quantity, value;
        uint32_t skip;
    } cases[] = {
        {"fits under the limit", 8000, 10000, 1, SKIP_MAX_INVESTED, 0, 1, 30, 1500, 0},
        {"over the limit", 8800, 10000, 1, SKIP_MAX_INVESTED, 0, 0, 30, 0, SKIP_MAX_INVESTED},
        {"reduced to what fits", 8800, 10000, 1, SKIP_MAX_INVESTED, 500, 1, 23, 1150, 0}, /* room 1190 */
        {"too small once reduced", 8800, 10000, 1, SKIP_MAX_INVESTED, 1200, 0, 30, 0, SKIP_MAX_INVESTED},
        {"long leaves enough free cash", 2000, 0, 1, SKIP_MIN_FREE_CASH, 0, 1, 30, 1500, 0},
        /* 1,505 of cash less 1,500 bought and 10 of commission leaves -5. */
        {"commission lowers free cash", 1505, 0, 1, SKIP_MIN_FREE_CASH, 0, 0, 30, 0, SKIP_MIN_FREE_CASH},
        {"short adds its proceeds", 1505, 0, -1, SKIP_MIN_FREE_CASH, 0, 1, 30, 1500, 0},
        {"long reaches a minimum net", 0, 1500, 1, SKIP_MIN_NET_INVESTED, 0, 1, 30, 1500, 0},
        {"long short of a minimum net", 0, 2000, 1, SKIP_MIN_NET_INVESTED, 0, 0, 30, 0, SKIP_MIN_NET_INVESTED},
        {"short never reaches it", 0, 1000, -1, SKIP_MIN_NET_INVESTED, 0, 0, 30, 0, SKIP_MIN_NET_INVESTED},
    };
    for (const auto &c : cases) {
        PositionRecord setup{};
        setup.symbol = &gStore.symbols[0];
        setup.side = c.sign < 0 ? -1 : 1;
        setup.quantity = 30;
        setup.quantityStep = 1;
        setup.orderPrice = 50;
        setup.sizingFx = 1;
        setup.value = 1500;
        setup.entryCommission = 10;
        setup.kept = 1;
        GetStrategyAccount(0)->limits.Reduce = c.reduce;
        EXPECT_EQ(c.kept, CheckLimitRule(0, &setup, 1.0, c.current, c.limit, c.sign, c.code)) << c.what;
        EXPECT_DOUBLE_EQ(c.quantity, setup.quantity) << c.what;
        EXPECT_DOUBLE_EQ(c.value, setup.value) << c.what;
        EXPECT_EQ(c.skip, setup.skipReason) << c.what;
    }
}

TEST_F(PassTest, MissingAndFailedLimitFormulasGiveTheirOwnValues)
{
    LoadMarket({{"AAA", TwoDays(50)}});
    AddStrategy("Alpha");
    AddStrategy("Group", STRATEGY_KIND_STATS_GROUP);
    SetFormula(0, SLOT_MAX_EXPOSURE, "C[1000]"); /* no such bar: no value */
    SetFormula(0, SLOT_MIN_NET_EXP, "C[1000]");
    SetFormula(0, SLOT_MAX_INVESTED, "25000");
    SetFormula(0, SLOT_MAX_LONG_EXP, "40");
    StartTest();
    StartRow(0);
    ctx.barPhase = PHASE_OPEN;
    for (int32_t s = 0; s < 2; s++) {
        ctx.strategy = &strategies[s];
        ctx.strategyIndex = s;
        EvalStrategyFormulas(&ctx, PHASE_OPEN);
    }
    const StrategyLimits &a = GetStrategyAccount(0)->limits;
    EXPECT_EQ(0, a.MaxExposure);  /* failed: nothing may be entered */
    EXPECT_EQ(1e14, a.MinNetExp); /* failed minimum: nothing reaches it */
    EXPECT_EQ(25000, a.MaxInvested);
    EXPECT_DOUBLE_EQ(0.4, a.MaxLongExp);
    EXPECT_EQ(1, a.MaxSameSym); /* one position per symbol */
    EXPECT_EQ(1, a.MaxPerTurn);
    EXPECT_EQ(-1e14, a.MinNetInv);
    EXPECT_EQ(-1e14, a.MinFreeCash); /* a margin account */
    EXPECT_EQ(2147483647, GetStrategyAccount(1)->limits.MaxSameSym);
}

} // namespace

namespace {

/* Alpha alone over market with formulas, skipped trades kept, every date
** run; what it holds and what it skipped. */
void ExpectAlphaAlone(PassTest *t, const std::vector<std::pair<const char *, std::vector<DayBar>>> &market,
                      std::initializer_list<std::pair<int32_t, const char *>> formulas, int greedy, const char *held,
                      const char *skipped)
{
    t->LoadMarket(market);
    t->AddStrategy("Alpha").GreedyScoring = greedy;
    for (const auto &f : formulas) t->SetFormula(0, f.first, f.second);
    gSettings.KeepSkipped = 1;
    t->StartTest();
    t->RunAll();
    EXPECT_EQ(held, t->Held(0));
    EXPECT_EQ(skipped, t->Skipped());
}

/* Three symbols signal on the first date; scores follow the price (CCC
** dearest).  KeepSkipped lists what was not entered. */
TEST_F(PassTest, SetupAndEntryCountsCutTheDaysSetups)
{
    const struct {
        int32_t slot;
        const char *text;
        int greedy;
        const char *held;
        const char *skipped; /* symbol and reason code of each kept skipped trade */
    } cases[] = {
        {SLOT_MAX_SETUPS, "2", 0, "BBB CCC ", ""}, /* AAA is cut from the array */
        {SLOT_MAX_SETUPS, "0", 0, "", ""},
        {SLOT_MAX_SETUPS, "2", 1, "BBB CCC ", ""},        /* greedy: cut once two are kept */
        {SLOT_MAX_ENTRIES, "1", 0, "AAA ", "BBB3 CCC3 "}, /* opened by symbol: equal entry scores */
        {SLOT_MAX_POSITIONS, "2", 0, "BBB CCC ", "AAA2 "},
        {SLOT_SETUP_SKIP, "C > 25", 0, "AAA BBB ", "CCC19 "},
        {SLOT_ENTRY_SKIP, "C < 25", 0, "CCC ", "AAA10 BBB10 "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ExpectAlphaAlone(this, {{"AAA", TwoDays(10)}, {"BBB", TwoDays(20)}, {"CCC", TwoDays(30)}},
                         {{SLOT_ENTRY_SETUP, "C > O"}, {SLOT_QUANTITY, "10"}, {SLOT_SETUP_SCORE, "C"}, {c.slot, c.text}},
                         c.greedy, c.held, c.skipped);
        Restart();
    }
}

} // namespace

namespace {

/* Alpha trades the cheap symbols, Beta the dear ones; their combined
** strategy enters at most two a day, so the openings go round by place:
** Alpha's first and Beta's first, then the second ones meet the limit. */
TEST_F(PassTest, AGroupsEntryLimitOpensItsMembersRoundByRound)
{
    LoadMarket({{"AAA", TwoDays(10)}, {"BBB", TwoDays(20)}, {"CCC", TwoDays(30)}, {"DDD", TwoDays(40)}});
    AddGroupedPair(STRATEGY_KIND_COMBINED);
    for (int32_t s = 0; s < 2; s++) SetFormula(s, SLOT_QUANTITY, "10");
    SetFormula(0, SLOT_ENTRY_SETUP, "C < 25");
    SetFormula(1, SLOT_ENTRY_SETUP, "C > 25");
    SetFormula(2, SLOT_MAX_ENTRIES, "2");
    gSettings.KeepSkipped = 1;
    StartTest();
    ASSERT_EQ(1, gPositionState.roundRobin);
    RunAll();
    ASSERT_EQ(1, strategies[0].openCount);
    ASSERT_EQ(1, strategies[1].openCount);
    EXPECT_STREQ("AAA", strategies[0].openPositions[0].symbol->info.Symbol);
    EXPECT_STREQ("CCC", strategies[1].openPositions[0].symbol->info.Symbol);
    ASSERT_EQ(2, test.tradeCount);
    EXPECT_STREQ("BBB", test.trades[0].symbol);
    EXPECT_STREQ("DDD", test.trades[1].symbol);
    EXPECT_EQ(SKIP_MAX_ENTRIES, test.trades[0].reason);
    EXPECT_EQ(SKIP_MAX_ENTRIES, test.trades[1].reason);
    EXPECT_EQ(2, Cell(1, 2)->entries);
}

} // namespace

namespace {

/* AAA scores higher but its limit order at 10.00 is not reached on the
** second day (low 10.20); BBB's order at 20.00 fills at the open of 19.90.
** Both orders are placed before anyone can know which will fill, so the
** unfilled one holds its place under every limit.  Each order is 100
** shares: 1,000 for AAA and 2,000 for BBB at their limit prices. */
TEST_F(PassTest, AnUnfilledLimitOrderHoldsItsPlaceUnderTheLimits)
{
    const struct {
        int32_t slot;
        const char *text;
        const char *held;
        const char *skipped; /* symbol and reason code of each kept skipped trade */
    } cases[] = {
        {SLOT_MAX_POSITIONS, "1", "", "AAA7 BBB2 "},
        {SLOT_MAX_POSITIONS, "2", "BBB ", "AAA7 "},
        {SLOT_MAX_NEW_POS, "1", "", "AAA7 BBB13 "},
        {SLOT_MAX_INVESTED, "2500", "", "AAA7 BBB1 "}, /* 1,000 held for AAA + 2,000 */
        {SLOT_MAX_INVESTED, "3000", "BBB ", "AAA7 "},  /* exactly at the limit */
        {SLOT_MAX_INVESTED, "500", "", "AAA1 BBB1 "},  /* the first refusal names the reason */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + c.held);
        ExpectAlphaAlone(this,
                         {{"AAA", {{20240102, 10, 11, 9.5, 10.5}, {20240103, 10.4, 10.6, 10.2, 10.3}, {20240104, 10.3, 10.4, 10.1, 10.2}}},
                          {"BBB", {{20240102, 20, 21, 19.5, 20.5}, {20240103, 19.9, 20.3, 19.7, 19.8}, {20240104, 19.8, 19.9, 19.5, 19.6}}}},
                         {{SLOT_ENTRY_SETUP, "C > O"}, {SLOT_ENTRY_LIMIT, "C - 0.5"}, {SLOT_QUANTITY, "100"}, {SLOT_SETUP_SCORE, "-C"}, {c.slot, c.text}},
                         0, c.held, c.skipped);
        if (strategies[0].openCount == 1) {
            EXPECT_DOUBLE_EQ(19.9, strategies[0].openPositions[0].entryPrice);
        }
        Restart();
    }
}

/* Alpha trades the cheap symbols, Beta the dear ones; their Combined record
** (a StatsGroup, as the compiler makes it) limits both.  Alpha takes first in
** every turn (no StrategyScore), one setup a turn.
**   positions: turn 1 keeps AAA and CCC, so the group holds two and turn 2's
**              BBB and DDD meet its MaxPositions;
**   cash:      each order is about 60,000 of 100,000 (Value sizing at the
**              first close of 100.5 or 200.5), so after Alpha's AAA only
**              about 40,000 is free and Beta's CCC meets the account's
**              minimum free cash of 0. */
TEST_F(PassTest, AGroupsLimitsHoldAmongTheSetupsOfOneDate)
{
    const struct {
        const char *what;
        int32_t slot; /* of the group, -1 none */
        const char *text;
        int32_t accountType;
        const char *quantity;
        int32_t qtyType;
        const char *alpha, *beta, *skipped;
    } cases[] = {
        {"positions", SLOT_MAX_POSITIONS, "2", 0, "10", 0, "AAA ", "CCC ", "BBB2 DDD2 "},
        {"cash", -1, "", 1, "60000", 1, "AAA ", "", "BBB26 CCC26 DDD26 "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        LoadMarket({{"AAA", TwoDays(100)}, {"BBB", TwoDays(110)}, {"CCC", TwoDays(200)}, {"DDD", TwoDays(210)}});
        AddGroupedPair(STRATEGY_KIND_STATS_GROUP);
        for (int32_t s = 0; s < 2; s++) {
            strategies[s].QtyType = c.qtyType;
            SetFormula(s, SLOT_QUANTITY, c.quantity);
        }
        SetFormula(0, SLOT_ENTRY_SETUP, "C < 150");
        SetFormula(1, SLOT_ENTRY_SETUP, "C > 150");
        if (c.slot >= 0) SetFormula(2, c.slot, c.text);
        gScriptSettings.AccountType = c.accountType;
        gSettings.KeepSkipped = 1;
        StartTest();
        test.mainStrategy = 2;
        gPositionState.accountStrategy = 2;
        RunAll();
        EXPECT_EQ(c.alpha, Held(0));
        EXPECT_EQ(c.beta, Held(1));
        EXPECT_EQ(c.skipped, Skipped());
        Restart();
    }
}

} // namespace
