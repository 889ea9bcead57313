#include "eval_fixture.h"

#include <cmath>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/builtins/builtins.h"
#include "script/compiler/compiler_state.h"
#include "script/eval/evaluator.h"
#include "shell/headless/headless.h"

const int32_t kFixtureDates[10] = {20240125, 20240126, 20240129, 20240130, 20240131,
                                   20240201, 20240202, 20240205, 20240206, 20240207};

static void FillSymbol(SymbolRecord *record, const char *name, double scale)
{
    memset(record, 0, sizeof *record);
    CopyString(record->info.Symbol, sizeof record->info.Symbol, name, -1);
    record->info.PointValue = 1.0;
    record->info.TickSize = 0.01;
    record->firstUsedDate = FIRST_USED_NONE;
    record->dataSource = -1;
    ASSERT_TRUE(AllocMemory(&record->bars[BAR_DAILY], 11 * sizeof(Bar)));
    for (int i = 0; i < 10; i++) {
        Bar &bar = record->bars[BAR_DAILY][i];
        bar = Bar{};
        bar.date = kFixtureDates[i];
        bar.open = (10 + i) * scale;
        bar.high = (12 + i) * scale;
        bar.low = (9 + i) * scale;
        bar.close = (11 + i) * scale;
        bar.volume = 1000.0 * (i + 1);
        bar.extra = i * 0.5;
        bar.split = i < 3 ? 2.0 : 1.0;
    }
    record->barCounts[BAR_DAILY] = 10;
    record->firstDate = kFixtureDates[0];
    record->lastDate = kFixtureDates[9];
}

void EvalTest::SetUp()
{
    CompilerTest::SetUp();
    ASSERT_EQ(1, InstallBuiltins());
    gSettings.UseShortCircuit = 1;
    gSettings.NearZero = 1.0e-13;
    ResetEvaluatorState();
    ASSERT_TRUE(AllocMemory(&gStore.symbols, 3 * sizeof(SymbolRecord)));
    memset(gStore.symbols, 0, 3 * sizeof(SymbolRecord));
    FillSymbol(&gStore.symbols[0], "AAA", 1.0);
    FillSymbol(&gStore.symbols[1], "BBB", 10.0);
    gStore.symbolCount = 2;
    DateList &list = gStore.dateLists[BAR_DAILY];
    ASSERT_TRUE(AllocMemory(&list.dates, 11 * sizeof(uint32_t)));
    for (int i = 0; i < 10; i++) list.dates[i] = (uint32_t)kFixtureDates[i];
    list.dates[10] = 0;
    list.capacity = 11;
    list.count = 10;
    list.barSize = BAR_DAILY;
    ctx = EvalContext{};
    ctx.symbol = &gStore.symbols[0];
    ctx.callingSymbol = ctx.symbol;
    ctx.strategyIndex = -1;
    ctx.resultRow = -1;
    ctx.walkForwardInterval = -1;
    ctx.dataItemIndex = -1;
    ctx.funBar = -1;
    ctx.priceScale = 1.0;
    AtBar(5);
}

void EvalTest::TearDown()
{
    for (FormulaItem &item : library) FreeFormulaNodes(&item.formula);
    for (FormulaItem &item : dataItems) FreeFormulaNodes(&item.formula);
    for (int i = 0; i < gStore.symbolCount; i++) FreeMemory(&gStore.symbols[i].bars[BAR_DAILY]);
    FreeMemory(&gStore.dateLists[BAR_DAILY].dates);
    gStore.dateLists[BAR_DAILY] = DateList{};
    gSettings.UseShortCircuit = 1;
    ClearPendingRuntimeError();
    CompilerTest::TearDown();
}

void EvalTest::AtBar(int32_t bar, int32_t phase)
{
    ctx.barIndex = bar;
    ctx.lastBar = phase < PHASE_CLOSE ? bar - 1 : bar;
    ctx.barPhase = phase;
    ctx.date = kFixtureDates[bar];
}

FormulaSlot *EvalTest::CompileText(const std::string &text, uint32_t section)
{
    FormulaSlot *slot = MakeSlot(text);
    EXPECT_EQ(1, CompileFormula(slot, section, -1)) << text << ": " << LastMessage();
    return slot;
}

int EvalTest::Eval(const std::string &text, double *value, uint32_t section)
{
    FormulaSlot *slot = CompileText(text, section);
    return EvalFormulaSlot(slot, &ctx, value);
}

double EvalTest::Value(const std::string &text)
{
    double v = 0;
    return Eval(text, &v) ? v : NAN;
}

void EvalTest::SetLibrary(const std::vector<std::pair<std::string, std::string>> &items)
{
    library.assign(items.size(), FormulaItem{});
    for (size_t i = 0; i < items.size(); i++) {
        texts.push_back(items[i].second);
        FormulaSlot &slot = library[i].formula;
        slot.scriptText = texts.back().c_str();
        slot.length = (int32_t)items[i].second.size();
        CopyString(slot.name, sizeof slot.name, items[i].first.c_str(), -1);
    }
    InstallItems(SECTION_LIBRARY, library.data(), (int32_t)library.size());
    for (size_t i = 0; i < items.size(); i++)
        ASSERT_EQ(1, CompileFormula(&library[i].formula, SECTION_LIBRARY, (int32_t)i))
            << items[i].second << ": " << LastMessage();
}
