#include <cstring>
#include <string>

#include "engine/exit_pass.h"
#include "engine/limits.h"
#include "engine/sizing.h"
#include "engine/stops.h"
#include "pass_fixture.h"
#include "foundation/settings_table.h"
#include "shell/headless/headless.h"

namespace {

const std::vector<DayBar> kTwoDays = {{20240102, 10, 11, 9, 10}, {20240103, 10, 11, 9, 10}};

/* The context in the open phase of the second date, on AAA, whose second
** bar becomes bar. */
void OnSecondBar(EvalContext *ctx, int32_t s, StrategyRecord *r, const Bar &bar)
{
    gStore.symbols[0].bars[BAR_DAILY][1] = bar;
    ctx->strategy = r;
    ctx->strategyIndex = s;
    ctx->symbol = &gStore.symbols[0];
    ctx->resultRow = 0;
    ctx->date = bar.date;
    ctx->barPhase = PHASE_OPEN;
    ctx->barIndex = 1;
    ctx->lastBar = 0;
}

TEST_F(PassTest, EntryStopsAndLimitsFillAtTheOpenIntradayOrNotAtAll)
{
    LoadMarket({{"AAA", kTwoDays}});
    const char *stops[] = {"10", "10", "10", nullptr};
    const char *limits[] = {nullptr, "11", "9.5", "20"};
    for (int32_t s = 0; s < 4; s++) {
        AddStrategy("S");
        SetFormula(s, SLOT_ENTRY_SETUP, "1");
        SetFormula(s, SLOT_QUANTITY, "100");
        if (stops[s]) SetFormula(s, SLOT_ENTRY_STOP, stops[s]);
        if (limits[s]) SetFormula(s, SLOT_ENTRY_LIMIT, limits[s]);
    }
    SetFormula(3, SLOT_LIMIT_EXTRA, "0.05");
    StartTest();
    const struct {
        const char *what;
        int32_t strategy, entryTime;
        double open, high, low, close;
        uint32_t skip;
        int32_t timing;
        double price;
        int32_t fillKind;
    } cases[] = {
        {"stop gapped through at the open", 0, TIME_NEXT_OPEN, 10.5, 11, 10.2, 10.8, 0, PHASE_OPEN, 10.5, FILL_MARKET},
        {"stop at the open only", 0, TIME_NEXT_OPEN, 9.8, 10.5, 9.7, 10.2, SKIP_STOP_NOT_HIT, 0, 10, 0},
        {"stop touched during the day", 0, TIME_INTRADAY, 9.8, 10.5, 9.7, 10.2, 0, PHASE_INTRADAY, 10, FILL_STOP},
        {"stop not reached", 0, TIME_INTRADAY, 9.8, 9.9, 9.7, 9.8, SKIP_STOP_NOT_HIT, 0, 10, 0},
        {"limit above the stop fills at the stop", 1, TIME_INTRADAY, 9.9, 10.5, 9.8, 10.2, 0, PHASE_INTRADAY, 10, FILL_STOP},
        {"limit below an intraday stop", 2, TIME_INTRADAY, 9.9, 10.5, 9.4, 10.2, SKIP_AMBIGUOUS_TIMING, PHASE_INTRADAY, 9.5, 0},
        {"limit extra not reached", 3, TIME_INTRADAY, 20.5, 21, 19.97, 20.2, SKIP_LIMIT_NOT_HIT, 0, 20, 0},
        {"limit extra reached", 3, TIME_INTRADAY, 20.5, 21, 19.95, 20.2, 0, PHASE_INTRADAY, 20, FILL_LIMIT},
        {"limit opened below", 3, TIME_INTRADAY, 19.5, 21, 19.4, 20.2, 0, PHASE_OPEN, 19.5, FILL_MARKET},
    };
    for (const auto &c : cases) {
        StrategyRecord *r = &strategies[c.strategy];
        r->EntryTime = c.entryTime;
        r->setupCount = 0;
        Bar bar{20240103, 0, c.open, c.high, c.low, c.close, 1000, 0, 1.0};
        OnSecondBar(&ctx, c.strategy, r, bar);
        PositionRecord *setup = AddSetup(r, c.strategy, &gStore.symbols[0]);
        ASSERT_EQ(1, EvalSetup(&ctx, setup, &gStore.symbols[0].bars[BAR_DAILY][1])) << c.what;
        EXPECT_EQ(1, r->setupCount) << c.what;
        EXPECT_EQ(c.skip, setup->skipReason) << c.what;
        EXPECT_EQ(c.timing, setup->entryTiming) << c.what;
        EXPECT_DOUBLE_EQ(c.price, setup->entryPrice) << c.what;
        EXPECT_EQ(c.fillKind, setup->fillKind) << c.what;
    }
}

TEST_F(PassTest, PositionSizeFollowsQuantityTypeAndRounding)
{
    LoadMarket({{"AAA", {{20240102, 50, 51, 49, 50}, {20240103, 50, 51, 49, 50}}}});
    const char *quantities[] = {"10", "12500", "250", "0"};
    const int32_t types[] = {2, 1, 0, 0};
    for (int32_t s = 0; s < 4; s++) {
        AddStrategy("S");
        strategies[s].QtyType = types[s];
        SetFormula(s, SLOT_QUANTITY, quantities[s]);
    }
    SetFormula(2, SLOT_QTY_ROUND, "100");
    StartTest();
    const struct {
        const char *what;
        double quantity, value, fraction;
        uint32_t skip;
    } cases[] = {
        {"10 percent of 100,000 at 50", 200, 10000, 0.1, 0},
        {"12,500 of value at 50", 250, 12500, 0.125, 0},
        {"250 shares rounded to hundreds", 200, 10000, 0.1, 0},
        {"nothing to buy", 0, 0, 0, SKIP_ZERO_QUANTITY},
    };
    for (int32_t s = 0; s < 4; s++) {
        StrategyRecord *r = &strategies[s];
        OnSecondBar(&ctx, s, r, gStore.symbols[0].bars[BAR_DAILY][1]);
        PositionRecord *setup = AddSetup(r, s, &gStore.symbols[0]);
        setup->orderPrice = 50;
        ASSERT_EQ(1, AddEntryOrder(&ctx, setup, &gStore.symbols[0].bars[BAR_DAILY][1], 1.0)) << cases[s].what;
        EXPECT_DOUBLE_EQ(cases[s].quantity, setup->quantity) << cases[s].what;
        EXPECT_DOUBLE_EQ(cases[s].value, setup->value) << cases[s].what;
        EXPECT_DOUBLE_EQ(cases[s].fraction, setup->fraction) << cases[s].what;
        EXPECT_EQ(cases[s].skip, setup->skipReason) << cases[s].what;
    }
}

/* A position entered at 100 at the open of an earlier bar, long with target
** 110 and stop 95, short with target 90 and stop 105. */
TEST_F(PassTest, TargetAndStopOnOneBarFollowTheAmbiguityRule)
{
    LoadMarket({{"AAA", kTwoDays}});
    AddStrategy("Long");
    AddStrategy("Short");
    SetFormula(0, SLOT_EXIT_LIMIT, "110");
    SetFormula(0, SLOT_EXIT_STOP, "95");
    SetFormula(1, SLOT_EXIT_LIMIT, "90");
    SetFormula(1, SLOT_EXIT_STOP, "105");
    StartTest();
    const struct {
        const char *what;
        int32_t side, ambiguity;
        double open, high, low, close;
        uint32_t reason;
        int32_t timing;
        double price;
    } cases[] = {
        {"closed down: target first", 1, AMBIGUITY_DEFAULT, 100, 112, 94, 96, EXIT_LIMIT, PHASE_INTRADAY, 110},
        {"closed up: stop first", 1, AMBIGUITY_DEFAULT, 100, 112, 94, 104, EXIT_STOP, PHASE_INTRADAY, 95},
        {"closed flat: neither", 1, AMBIGUITY_DEFAULT, 100, 112, 94, 100, EXIT_NONE, 0, 0},
        {"assume the stop", 1, AMBIGUITY_STOP, 100, 112, 94, 96, EXIT_STOP, PHASE_INTRADAY, 95},
        {"assume the target", 1, AMBIGUITY_TARGET, 100, 112, 94, 104, EXIT_LIMIT, PHASE_INTRADAY, 110},
        {"assume neither", 1, AMBIGUITY_NEITHER, 100, 112, 94, 96, EXIT_NONE, 0, 0},
        {"gap below the stop exits at the open", 1, AMBIGUITY_DEFAULT, 93, 97, 92, 96, EXIT_STOP, PHASE_OPEN, 93},
        {"target alone", 1, AMBIGUITY_NEITHER, 100, 111, 99, 105, EXIT_LIMIT, PHASE_INTRADAY, 110},
        {"short, closed up: target first", -1, AMBIGUITY_DEFAULT, 100, 106, 88, 104, EXIT_LIMIT, PHASE_INTRADAY, 90},
        {"short gap above the stop", -1, AMBIGUITY_DEFAULT, 107, 108, 101, 102, EXIT_STOP, PHASE_OPEN, 107},
    };
    gSettings.AddLog = 1;
    for (const auto &c : cases) {
        int32_t s = c.side > 0 ? 0 : 1;
        StrategyRecord *r = &strategies[s];
        r->Ambiguity = c.ambiguity;
        PositionRecord p{};
        p.symbol = &gStore.symbols[0];
        p.side = c.side;
        p.quantity = 10;
        p.entryPrice = 100;
        p.entrySplit = 1;
        p.entryBar = 0;
        p.entryTiming = PHASE_OPEN;
        Bar bar{20240103, 0, c.open, c.high, c.low, c.close, 1000, 0, 1.0};
        OnSecondBar(&ctx, s, r, bar);
        ctx.barPhase = PHASE_INTRADAY;
        ctx.position = &p;
        ResolveIntradayOrder(&ctx, &gStore.symbols[0].bars[BAR_DAILY][1], 100, 0);
        EXPECT_EQ(c.reason, p.exitReason) << c.what;
        EXPECT_EQ(c.timing, p.exitTiming) << c.what;
        EXPECT_DOUBLE_EQ(c.price, p.exitPrice) << c.what;
    }
    /* The log tells which extreme was assumed first, once per bar that touched both. */
    std::string log = gHeadless.logText ? gHeadless.logText : "";
    const char *first = "*** TARGET and STOP were both touched intraday for AAA in strategy Long -- assuming TARGET was "
                        "touched first ***\n";
    const char *neither = "*** TARGET and STOP were both touched intraday for AAA in strategy Long -- assuming NEITHER "
                          "was touched ***\n";
    EXPECT_EQ(0u, log.find(first)) << log;
    EXPECT_NE(std::string::npos, log.find(neither)) << log;
}

/* On its entry bar a long entered intraday at 98 meets its stop of 95. */
TEST_F(PassTest, AStopOnTheEntryBarIsAmbiguousOnlyAfterAStopEntry)
{
    LoadMarket({{"AAA", kTwoDays}});
    AddStrategy("Long");
    SetFormula(0, SLOT_EXIT_STOP, "95");
    StartTest();
    const struct {
        const char *what;
        int32_t trigger;
        double close;
        uint32_t reason;
    } cases[] = {
        {"entered by a limit: the stop came after", -1, 100.5, EXIT_STOP},
        {"entered by a stop, closed up: before the entry", 1, 100.5, EXIT_NONE},
        {"entered by a stop, closed down: after the entry", 1, 96, EXIT_STOP},
    };
    for (const auto &c : cases) {
        PositionRecord p{};
        p.symbol = &gStore.symbols[0];
        p.side = 1;
        p.quantity = 10;
        p.entryPrice = 98;
        p.entrySplit = 1;
        p.entryBar = 1;
        p.entryTiming = PHASE_INTRADAY;
        p.triggerDirection = c.trigger;
        Bar bar{20240103, 0, 100, 101, 94, c.close, 1000, 0, 1.0};
        OnSecondBar(&ctx, 0, &strategies[0], bar);
        ctx.barPhase = PHASE_INTRADAY;
        ctx.position = &p;
        ResolveIntradayOrder(&ctx, &gStore.symbols[0].bars[BAR_DAILY][1], 100, 0);
        EXPECT_EQ(c.reason, p.exitReason) << c.what;
        if (c.reason) {
            EXPECT_DOUBLE_EQ(95, p.exitPrice) << c.what;
        }
    }
}

TEST_F(PassTest, AnExitTargetNeedsItsLimitExtraBeyondIt)
{
    LoadMarket({{"AAA", kTwoDays}});
    AddStrategy("Long");
    SetFormula(0, SLOT_EXIT_LIMIT, "50");
    SetFormula(0, SLOT_LIMIT_EXTRA, "0.1");
    StartTest();
    const double highs[] = {50.05, 50.1};
    const uint32_t reasons[] = {EXIT_NONE, EXIT_LIMIT};
    for (int k = 0; k < 2; k++) {
        PositionRecord p{};
        p.symbol = &gStore.symbols[0];
        p.side = 1;
        p.entryPrice = 45;
        p.entrySplit = 1;
        p.entryBar = 0;
        p.entryTiming = PHASE_OPEN;
        Bar bar{20240103, 0, 49, highs[k], 48, 49.5, 1000, 0, 1.0};
        OnSecondBar(&ctx, 0, &strategies[0], bar);
        ctx.barPhase = PHASE_INTRADAY;
        ctx.position = &p;
        ResolveIntradayOrder(&ctx, &gStore.symbols[0].bars[BAR_DAILY][1], 49, 0);
        EXPECT_EQ(reasons[k], p.exitReason) << highs[k];
        EXPECT_DOUBLE_EQ(k ? 50 : 0, p.exitPrice) << highs[k];
    }
}

} // namespace
