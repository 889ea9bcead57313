#include <algorithm>
#include "engine_fixture.h"

#include <cstring>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "platform/platform.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/definitions.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/side_files.h"
#include "script/datacalc/data_calc.h"
#include "script/eval/evaluator.h"
#include "shell/headless/headless.h"
#include "services/services.h"

std::vector<int32_t> Weekdays(int32_t from, int32_t to)
{
    std::vector<int32_t> out;
    for (int32_t d = from; d <= to; d = NextDay(d))
        if (DayOfWeek(d) <= 5) out.push_back(d);
    return out;
}

std::vector<DayBar> FlatBars(const std::vector<int32_t> &days, const std::vector<double> &closes)
{
    std::vector<DayBar> bars;
    for (size_t k = 0; k < days.size() && k < closes.size(); k++) {
        double c = closes[k];
        bars.push_back(DayBar{days[k], c, c, c, c});
    }
    return bars;
}

int64_t PeriodOf(int32_t date, int barSize)
{
    switch (barSize) {
    case BAR_WEEKLY: return DaysBetween(19000101, date) / 7;
    case BAR_MONTHLY: return date / 100;
    case BAR_QUARTERLY: return date / 10000 * 10 + (date / 100 % 100 - 1) / 3;
    case BAR_YEARLY: return date / 10000;
    default: return date;
    }
}

/* Builds the bars of every size from the daily ones; a split inside a
** longer bar's period carries its earlier prices into the later terms, as
** the store's own derived bars do. */
static void FillSymbol(SymbolRecord *record, const std::string &name, const std::vector<DayBar> &daily,
                       const std::vector<int32_t> *market = nullptr)
{
    memset(record, 0, sizeof *record);
    CopyString(record->info.Symbol, sizeof record->info.Symbol, name.c_str(), -1);
    record->info.TickSize = 0.01;
    record->info.PointValue = 1.0;
    record->firstUsedDate = FIRST_USED_NONE;
    record->dataSource = -1;
    for (int k = 0; k < BAR_SIZE_COUNT; k++) {
        std::vector<Bar> bars;
        for (const DayBar &d : daily) {
            Bar b{d.date, 160000, d.open, d.high, d.low, d.close, d.volume, 0, d.split};
            if (!bars.empty() && PeriodOf(bars.back().date, k) == PeriodOf(d.date, k)) {
                Bar &last = bars.back();
                if (last.split != 0 && d.split != last.split) {
                    const double ratio = d.split / last.split;
                    last.open *= ratio;
                    last.high *= ratio;
                    last.low *= ratio;
                    last.close *= ratio;
                    last.volume /= ratio;
                }
                last.date = d.date;
                last.high = std::max(last.high, d.high);
                last.low = std::min(last.low, d.low);
                last.close = d.close;
                last.volume += d.volume;
                last.split = d.split;
            } else {
                bars.push_back(b);
            }
        }
        /* A longer period's bar is dated on its period's last market day,
        ** though the symbol missed the period's last days, as an import
        ** dates it; the symbol's last period on its last day. */
        for (size_t b = 0; k > 0 && market && b + 1 < bars.size(); b++) {
            auto next = std::upper_bound(market->begin(), market->end(), bars[b].date);
            while (next != market->end() && PeriodOf(*next, k) == PeriodOf(bars[b].date, k)) bars[b].date = *next++;
        }
        ASSERT_TRUE(AllocMemory(&record->bars[k], (bars.size() + 1) * sizeof(Bar)));
        if (!bars.empty()) memcpy(record->bars[k], bars.data(), bars.size() * sizeof(Bar));
        record->barCounts[k] = (int32_t)bars.size();
    }
    record->dailyCapacity = record->barCounts[0] + 1;
    record->firstDate = daily.empty() ? 0 : daily.front().date;
    record->lastDate = daily.empty() ? 0 : daily.back().date;
}

void ResetStore()
{
    for (int32_t i = 0; gStore.symbols && i < gStore.symbolCount; i++) FreeSymbolRecord(&gStore.symbols[i]);
    FreeMemory(&gStore.symbols);
    gStore.symbolCount = 0;
    FreeSymbolRecord(&gStore.calendar);
    for (int k = 0; k < BAR_SIZE_COUNT; k++) {
        FreeMemory(&gStore.dateLists[k].dates);
        gStore.dateLists[k] = DateList{nullptr, 0, 0, k, 0};
    }
    gStore.firstDate = gStore.lastDate = 0;
    gStore.loadedPath[0] = 0;
}

void FreeCompiledScript()
{
    for (DefinitionList *list : {&gParameters, &gParameterCopies})
        for (int i = 0; i < list->capacity; i++) {
            FreeMemory(&((Parameter *)list->items)[i].values);
            FreeMemory(&((Parameter *)list->items)[i].walkValues);
        }
    for (DefinitionList *list : {&gDataItems, &gTestDataItems, &gStratDataItems, &gLibraryItems})
        for (int i = 0; i < list->capacity; i++) FreeFormulaNodes(&((FormulaItem *)list->items)[i].formula);
    for (DefinitionList *list : {&gResultsColumns, &gGraphsColumns, &gChartsColumns, &gTradesColumns, &gScanColumns,
                                 &gTestScanColumns})
        for (int i = 0; i < list->capacity; i++) FreeFormulaNodes(&((FormulaColumn *)list->items)[i].formula);
    for (DefinitionList *list : {&gDataItems, &gTestDataItems, &gStratDataItems, &gLibraryItems, &gResultsColumns,
                                 &gGraphsColumns, &gChartsColumns, &gTradesColumns, &gScanColumns, &gTestScanColumns,
                                 &gParameters, &gParameterCopies})
        FreeDefinitionList(list);
    FreeStrategyRecords();
    for (StandaloneFormula *f : {&gImportFilter, &gSkipTestIf, &gTestNameFormula, &gOrdersComment}) {
        FreeFormulaNodes(&f->formula);
        *f = StandaloneFormula{};
    }
    ResetIncludeState();
    ResetScriptParserState();
    gCompileSession = CompileSession{};
}

void EngineTest::SetUp()
{
    ProgramStateTest::SetUp();
    gHeadless.captureLog = 1;
    ResetSettingsToDefaults();
    FreeCompiledScript();
    ResetStore();
    scripts = tmp.File("Scripts");
    CopyString(gScriptsFolder, sizeof gScriptsFolder, scripts.c_str(), -1);
    CopyString(gDataFolder, sizeof gDataFolder, tmp.File("Data").c_str(), -1);
    CopyString(gOutputFolder, sizeof gOutputFolder, tmp.File("Output").c_str(), -1);
    CopyString(gLogsFolder, sizeof gLogsFolder, tmp.File("Logs").c_str(), -1);
    for (const char *f : {gScriptsFolder, gDataFolder, gOutputFolder, gLogsFolder}) PlatCreateFolder(f);
    for (const char *name : {"Results", "Graphs", "Charts", "Trades"})
        Write(std::string(name) + ".kvs", std::string(name) + ":\n");
    gRun.unattended = 0; /* messages go to the headless message box */
    gSettings.AccountSize = 100000;
}

void EngineTest::TearDown()
{
    while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    RestoreRunSettings();
    ClearPendingRuntimeError();
    FreeCompiledScript();
    ResetStore();
    ResetEngineRun();
    FreeDataCalcRecords();
    ProgramStateTest::TearDown();
}

void EngineTest::LoadStore(const std::vector<int32_t> &marketDays,
                           const std::vector<std::pair<std::string, std::vector<DayBar>>> &symbols)
{
    ResetStore();
    days = marketDays;
    std::vector<DayBar> calendar;
    for (int32_t d : marketDays) calendar.push_back(DayBar{d, 0, 0, 0, 0});
    SymbolRecord scratch;
    FillSymbol(&scratch, "Global", calendar);
    for (int k = 0; k < BAR_SIZE_COUNT; k++) {
        DateList &list = gStore.dateLists[k];
        int32_t n = scratch.barCounts[k];
        ASSERT_TRUE(AllocMemory(&list.dates, (uint64_t)(n + 1) * sizeof(uint32_t)));
        for (int32_t i = 0; i < n; i++) list.dates[i] = (uint32_t)scratch.bars[k][i].date;
        list.capacity = n + 1;
        list.count = n;
        list.barSize = k;
        FreeMemory(&scratch.bars[k]);
    }
    gStore.firstDate = marketDays.front();
    gStore.lastDate = marketDays.back();
    ASSERT_TRUE(BuildCalendarSymbol());
    ASSERT_TRUE(AllocMemory(&gStore.symbols, (symbols.size() + 1) * sizeof(SymbolRecord)));
    for (size_t k = 0; k < symbols.size(); k++) FillSymbol(&gStore.symbols[k], symbols[k].first, symbols[k].second, &marketDays);
    gStore.symbolCount = (int32_t)symbols.size();
    qsort(gStore.symbols, symbols.size(), sizeof(SymbolRecord), CompareSymbolNames);
    CopyString(gStore.loadedPath, sizeof gStore.loadedPath, tmp.File("Data\\test.kvd").c_str(), -1);
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, gStore.loadedPath, -1);
    gSettings.FirstDate = marketDays.front();
    gSettings.LastDate = marketDays.back();
    gSettings.UseEarliestDate = 0;
    gSettings.UseLatestDate = 0;
    gSettings.NumBars = 0;
    gSettings.BarSize2 = BAR_DAILY;
    SetDataRecalcNeeded(); /* as loading a data file does */
}

void EngineTest::LoadFlat(const char *symbol, int32_t from, int32_t to, double price)
{
    std::vector<int32_t> d = Weekdays(from, to);
    LoadStore(d, {{symbol, FlatBars(d, std::vector<double>(d.size(), price))}});
}

std::string EngineTest::Write(const std::string &name, const std::string &text)
{
    std::string path = scripts + "\\" + name;
    EXPECT_TRUE(WriteTestFile(path, text)) << path;
    return path;
}

int EngineTest::Run(const std::string &text, int mode)
{
    std::string path = Write("main.kvs", text);
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, path.c_str(), -1);
    return RunScript(mode);
}

TestRecord *EngineTest::LastTest() const
{
    ResultsWindow *w = FirstResultsWindow();
    return w ? w->lastTest : nullptr;
}

const TradeRecord *EngineTest::TradesOfRun(int32_t count, const std::string &text)
{
    const int result = Run(text);
    EXPECT_EQ(0, result) << LastMessage();
    const TestRecord *test = LastTest();
    EXPECT_NE(nullptr, test);
    if (result != 0 || !test) return nullptr;
    EXPECT_EQ(count, test->tradeCount);
    return test->tradeCount == count ? test->trades : nullptr;
}

int32_t EngineTest::Listed() const
{
    ResultsWindow *w = FirstResultsWindow();
    return w ? w->testCount : 0;
}

const StatCell *EngineTest::Cell(const TestRecord *test, int32_t row, int32_t s) const
{
    return CellAt(const_cast<TestRecord *>(test), row, s);
}

void OrdersTest::SetUp()
{
    EngineTest::SetUp();
    PlatCreateFolder(tmp.File("Output\\Orders").c_str());
    WriteTestFile(tmp.File("ExchangeMap.csv"), "Exchange,Primary,Match1,HasOpg,HasMoc,TimeZone,NearCloseTime\n"
                                               "NYSE,NYSE,*,1,1,EST,15:45\n");
}

void OrdersTest::TearDown()
{
    gContractSpecs.count = 0;
    EngineTest::TearDown();
}

std::string OrdersTest::OrdersFile(const char *name)
{
    return ReadTestFile(tmp.File(std::string("Output\\Orders\\") + name));
}
