#include "pass_fixture.h"

#include <cstring>

#include "engine/entry_pass.h"
#include "engine/exit_pass.h"
#include "engine/trade_list.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/formula.h"
#include "script/compiler/settings_items.h"
#include "shell/headless/headless.h"

void PassTest::SetUp()
{
    ProgramStateTest::SetUp();
    gHeadless.captureLog = 1;
    savedStrategies = gStrategies;
    savedCount = gStrategyCount;
    strategies.reserve(8);
    gScriptSettings.AccountType = 0;
    gScriptSettings.CommCurrency = 0;
    gSettings.BarSize2 = BAR_DAILY;
    gSettings.KeepSkipped = 0;
    gSettings.AddLog = 0;
    gSettings.OptBySymbol = 0;
    /* The fixture's strategies trade by their rules: a trade list an earlier
    ** run read (a companion list) governs none of them. */
    gTradeListState = TradeListState{};
}

void PassTest::TearDown()
{
    ResetPositionState();
    for (StrategyRecord &r : strategies)
        for (FormulaSlot &slot : r.slots) FreeFormulaNodes(&slot);
    gStrategies = savedStrategies;
    gStrategyCount = savedCount;
    for (int32_t i = 0; i < gStore.symbolCount; i++) FreeMemory(&gStore.symbols[i].bars[BAR_DAILY]);
    FreeMemory(&gStore.symbols);
    gStore.symbolCount = 0;
    FreeMemory(&gStore.dateLists[BAR_DAILY].dates);
    gStore.dateLists[BAR_DAILY] = DateList{};
    for (Bar *&bars : gStore.calendar.bars) FreeMemory(&bars);
    gStore.calendar = SymbolRecord{};
    FreeMemory(&test.cells);
    FreeMemory(&test.trades);
    FreeMemory(&test.strategies);
    test = TestRecord{};
    strategies.clear();
    texts.clear();
    ProgramStateTest::TearDown();
}

void PassTest::LoadMarket(const std::vector<std::pair<const char *, std::vector<DayBar>>> &symbols)
{
    int32_t n = (int32_t)symbols.size();
    ASSERT_TRUE(AllocMemory(&gStore.symbols, (uint64_t)(n + 1) * sizeof(SymbolRecord)));
    memset(gStore.symbols, 0, (size_t)(n + 1) * sizeof(SymbolRecord));
    for (int32_t k = 0; k < n; k++) {
        SymbolRecord *record = &gStore.symbols[k];
        const std::vector<DayBar> &days = symbols[k].second;
        CopyString(record->info.Symbol, sizeof record->info.Symbol, symbols[k].first, -1);
        record->info.PointValue = 1.0;
        record->info.TickSize = 0.01;
        record->firstUsedDate = FIRST_USED_NONE;
        record->dataSource = -1;
        ASSERT_TRUE(AllocMemory(&record->bars[BAR_DAILY], (days.size() + 1) * sizeof(Bar)));
        for (size_t i = 0; i < days.size(); i++) {
            Bar &bar = record->bars[BAR_DAILY][i];
            bar = Bar{};
            bar.date = days[i].date;
            bar.open = days[i].open;
            bar.high = days[i].high;
            bar.low = days[i].low;
            bar.close = days[i].close;
            bar.volume = days[i].volume;
            bar.split = days[i].split;
        }
        record->barCounts[BAR_DAILY] = (int32_t)days.size();
        record->firstDate = days.front().date;
        record->lastDate = days.back().date;
    }
    gStore.symbolCount = n;
    /* The market's dates are those of the first symbol. */
    const std::vector<DayBar> &days = symbols[0].second;
    DateList &list = gStore.dateLists[BAR_DAILY];
    ASSERT_TRUE(AllocMemory(&list.dates, (days.size() + 1) * sizeof(uint32_t)));
    for (size_t i = 0; i < days.size(); i++) list.dates[i] = (uint32_t)days[i].date;
    list.dates[days.size()] = 0;
    list.capacity = (int32_t)days.size() + 1;
    list.count = (int32_t)days.size();
    list.barSize = BAR_DAILY;
    ASSERT_TRUE(BuildCalendarSymbol());
    gSettings.FirstDate = days.front().date;
    gSettings.LastDate = days.back().date;
}

StrategyRecord &PassTest::AddStrategy(const char *name, int32_t kind)
{
    strategies.emplace_back();
    StrategyRecord &r = strategies.back();
    memset(&r, 0, sizeof r);
    CopyString(r.name, sizeof r.name, name, -1);
    r.kind = kind;
    r.Side = 1;
    r.BarSize = BAR_DAILY;
    r.EntryTime = TIME_NEXT_OPEN;
    r.ExitTime = TIME_NEXT_OPEN;
    r.ExitLimitTime = TIME_INTRADAY;
    r.ExitStopTime = TIME_INTRADAY;
    r.MarkToMarket = kind == STRATEGY_KIND_STATS_GROUP ? 0 : 1;
    r.keepTrades = kind == STRATEGY_KIND_STRATEGY;
    r.allocationFraction = 1.0;
    gStrategies = strategies.data();
    gStrategyCount = (int32_t)strategies.size();
    return r;
}

void PassTest::SetFormula(int32_t s, int32_t slot, const std::string &text)
{
    texts.push_back(text);
    FormulaSlot *f = &strategies[s].slots[slot];
    f->scriptText = texts.back().c_str();
    f->start = 0;
    f->length = (int32_t)text.size();
    CopyString(f->name, sizeof f->name, "Test", -1);
    CopyString(f->path, sizeof f->path, "C:\\scripts\\test.kvs", -1);
    ASSERT_EQ(1, CompileFormula(f, SECTION_STRATEGY, -1)) << text << ": " << LastMessage();
}

void PassTest::StartTest(double accountSize)
{
    gSettings.AccountSize = accountSize;
    test.rowCount = gStore.dateLists[BAR_DAILY].count;
    test.strategyCount = gStrategyCount;
    test.mainStrategy = 0;
    test.firstDate = gSettings.FirstDate;
    test.lastDate = gSettings.LastDate;
    ASSERT_TRUE(AllocMemory(&test.cells, (uint64_t)test.rowCount * test.strategyCount * sizeof(StatCell)));
    memset(test.cells, 0, (size_t)test.rowCount * test.strategyCount * sizeof(StatCell));
    ASSERT_TRUE(AllocMemory(&test.strategies, (uint64_t)test.strategyCount * sizeof(StrategyResult)));
    memset(test.strategies, 0, (size_t)test.strategyCount * sizeof(StrategyResult));
    for (int32_t s = 0; s < test.strategyCount; s++) {
        StrategyResult &result = test.strategies[s];
        result.kind = strategies[s].kind;
        result.parentCount = strategies[s].groupCount;
        for (int32_t g = 0; g < strategies[s].groupCount; g++) result.parents[g] = strategies[s].groups[g];
        StatCell *cell = Cell(0, s);
        cell->startEquity = cell->equityBase = cell->allocation = accountSize;
        cell->minEquity = cell->maxEquity = accountSize;
    }
    ASSERT_TRUE(PreparePositionState(&test));
    ctx = EvalContext{};
    ctx.test = &test;
    ctx.strategyIndex = -1;
    ctx.walkForwardInterval = -1;
    ctx.dataItemIndex = -1;
    ctx.funBar = -1;
    ctx.priceScale = 1.0;
    ctx.barSize = BAR_DAILY;
    ctx.symbol = &gStore.calendar;
}

void PassTest::StartRow(int32_t r)
{
    if (r > 0) {
        for (int32_t s = 0; s < test.strategyCount; s++) {
            *Cell(r, s) = *Cell(r - 1, s);
            Cell(r, s)->rowNumber = (uint32_t)r + 1;
        }
    }
    test.rowsFilled = r + 1;
    ctx.resultRow = r;
    ctx.date = (int32_t)gStore.dateLists[BAR_DAILY].dates[r];
}

void PassTest::RunRow(int32_t r)
{
    StartRow(r);
    ctx.barPhase = PHASE_OPEN;
    RunExitPass(&ctx, 0);
    RunEntryPass(&ctx);
    ctx.barPhase = PHASE_INTRADAY;
    RunEntryPass(&ctx);
    RunExitPass(&ctx, 0);
    ctx.barPhase = PHASE_CLOSE;
    RunExitPass(&ctx, 0);
    RunEntryPass(&ctx);
}

void PassTest::RunAll()
{
    for (int32_t r = 0; r < test.rowCount; r++) RunRow(r);
}

std::string PassTest::Held(int32_t s) const
{
    std::string out;
    for (int32_t k = 0; k < strategies[s].openCount; k++)
        out += strategies[s].openPositions[k].symbol->info.Symbol + std::string(" ");
    return out;
}

std::string PassTest::Skipped() const
{
    std::string out;
    for (int32_t k = 0; k < test.tradeCount; k++) out += test.trades[k].symbol + std::to_string(test.trades[k].reason) + " ";
    return out;
}

void PassTest::AddGroupedPair(int32_t kind)
{
    AddStrategy("Alpha");
    AddStrategy("Beta");
    AddStrategy("Combined", kind);
    for (int32_t s = 0; s < 2; s++) {
        strategies[s].groupCount = 1;
        strategies[s].groups[0] = 2;
    }
}
