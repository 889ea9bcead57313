/* Data-section calculation: block layout, values, worker counts, incremental
** recalculation, seeds, and stops by request and by low memory. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compiler_fixture.h"
#include "support/test_support.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/worker_pool.h"
#include "marketdata/store/data_load.h"
#include "platform/platform.h"
#include "script/builtins/builtins.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/keywords.h"
#include "script/compiler/settings_items.h"
#include "script/datacalc/data_calc.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

struct ItemSpec {
    const char *name;
    const char *text;
    int32_t barSize = -1;
    int32_t onePerDate = 0;
    int32_t onePerSymbol = 0;
};

struct DataCalcTest : CompilerTest {
    std::vector<int32_t> days;

    void SetUp() override
    {
        CompilerTest::SetUp();
        gSettings.MaxMemPct = 90;
        gSettings.CalcThreads = 8;
        gSettings.ShowStatusBar = 1;
        gSettings.StatusBarFields = 4;
        gSettings.UseShortCircuit = 1;
        gUseAvailableBars = 0;
        gSettings.AutoOnePerX = 0;
        gSettings.NearZero = 1.0e-13;
        gSettings.BarSize2 = BAR_DAILY;
        gSettings.LogDataCalcTimes = 0;
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        gRun.mode = 1;
        gRun.state = RUN_IDLE;
        ClearStopRequest();
        gRun.lowMemory = 0;
        gRun.resultCode = RESULT_OK;
        SetRandomSeed(0);
        ClearPendingRuntimeError();
        FreeDataCalcRecords();
    }

    void TearDown() override
    {
        FreeDataItemLists();
        FreeLibrary();
        FreeDataCalcRecords();
        for (int32_t i = 0; gStore.symbols && i < gStore.symbolCount; i++) FreeSymbolRecord(&gStore.symbols[i]);
        FreeMemory(&gStore.symbols);
        gStore.symbolCount = 0;
        FreeSymbolRecord(&gStore.calendar);
        for (DateList &list : gStore.dateLists) {
            FreeMemory(&list.dates);
            list = DateList{};
        }
        gRun.state = RUN_IDLE;
        ClearStopRequest();
        gRun.lowMemory = 0;
        gOutOfMemory = 0;
        gRun.resultCode = RESULT_OK;
        SetRandomSeed(0);
        ClearPendingRuntimeError();
        CompilerTest::TearDown();
    }

    /* symbols symbols over a run of market days (consecutive weekdays from
    ** Monday 6 January 2020); each symbol starts and ends on its own day, so
    ** the bar counts differ.  Daily and weekly bars. */
    void MakeStore(int32_t symbols, int32_t dayCount)
    {
        days.clear();
        int32_t d = 20200106;
        while ((int32_t)days.size() < dayCount) {
            days.push_back(d);
            d = NextWeekday(d);
        }
        SetList(BAR_DAILY, days);
        std::vector<int32_t> weeks;
        for (size_t i = 0; i < days.size(); i++)
            if (i % 5 == 4 || i + 1 == days.size()) weeks.push_back(days[i]);
        SetList(BAR_WEEKLY, weeks);
        for (int b = BAR_MONTHLY; b < BAR_SIZE_COUNT; b++) SetList(b, {});
        ASSERT_EQ(1, AllocMemory(&gStore.symbols, (uint64_t)(symbols + 1) * sizeof(SymbolRecord)));
        for (int32_t s = 0; s < symbols; s++) {
            int32_t first = (s * 7) % std::max(1, std::min(50, dayCount / 2));
            int32_t last = dayCount - 1 - (s * 3) % std::max(1, std::min(20, dayCount / 4));
            FillSymbol(&gStore.symbols[s], s, first, std::max(first, last));
        }
        gStore.symbolCount = symbols;
        gStore.firstDate = days.front();
        gStore.lastDate = days.back();
        ASSERT_EQ(1, BuildCalendarSymbol());
    }

    static int32_t NextWeekday(int32_t date)
    {
        do date = NextDay(date);
        while (DayOfWeek(date) > 5);
        return date;
    }

    static void SetList(int barSize, const std::vector<int32_t> &dates)
    {
        DateList &list = gStore.dateLists[barSize];
        FreeMemory(&list.dates);
        ASSERT_EQ(1, AllocMemory(&list.dates, (dates.size() + 1) * sizeof(uint32_t)));
        for (size_t i = 0; i < dates.size(); i++) list.dates[i] = (uint32_t)dates[i];
        list.count = (int32_t)dates.size();
        list.capacity = list.count + 1;
        list.barSize = barSize;
    }

    void FillSymbol(SymbolRecord *record, int32_t s, int32_t first, int32_t last)
    {
        memset((void *)record, 0, sizeof *record);
        FormatText(record->info.Symbol, sizeof record->info.Symbol, "S%03d", s);
        record->firstUsedDate = FIRST_USED_NONE;
        int32_t n = last - first + 1;
        ASSERT_EQ(1, AllocMemory(&record->bars[BAR_DAILY], (uint64_t)(n + 1) * sizeof(Bar)));
        ASSERT_EQ(1, AllocMemory(&record->bars[BAR_WEEKLY], (uint64_t)(n + 1) * sizeof(Bar)));
        int32_t weeks = 0;
        for (int32_t i = 0; i < n; i++) {
            Bar &bar = record->bars[BAR_DAILY][i];
            double base = 50.0 + s + 10.0 * std::sin(0.07 * i + s);
            bar.date = days[(size_t)(first + i)];
            bar.open = base;
            bar.close = base + std::cos(0.3 * i) * 0.8;
            bar.high = std::max(bar.open, bar.close) + 0.5 + (i % 3) * 0.1;
            bar.low = std::min(bar.open, bar.close) - 0.4;
            bar.volume = 1000.0 + (i * 37 + s * 11) % 500;
            bar.split = (s % 4 == 1 && i < n / 2) ? 2.0 : 1.0;
            int32_t day = first + i;
            if (day % 5 == 4 || i + 1 == n) record->bars[BAR_WEEKLY][weeks++] = bar;
        }
        record->barCounts[BAR_DAILY] = n;
        record->barCounts[BAR_WEEKLY] = weeks;
        record->firstDate = record->bars[BAR_DAILY][0].date;
        record->lastDate = record->bars[BAR_DAILY][n - 1].date;
    }

    /* The Data list, compiled in order (an item may refer to earlier ones). */
    void SetItems(const std::vector<ItemSpec> &specs)
    {
        for (size_t i = 0; i < specs.size(); i++) {
            int32_t index = AddDefinitionRecord(&gDataItems, sizeof(FormulaItem));
            ASSERT_EQ((int32_t)i, index);
            FormulaItem *item = Item((int32_t)i);
            item->sequence = (int32_t)i;
            item->barSize = specs[i].barSize;
            SetText(&item->formula, specs[i].name, specs[i].text);
        }
        for (size_t i = 0; i < specs.size(); i++)
            ASSERT_EQ(1, CompileFormula(&Item((int32_t)i)->formula, SECTION_DATA, (int32_t)i))
                << specs[i].text << ": " << LastMessage();
        /* The one-value marks are set after compiling: the compiler would
        ** refuse bar references in a #OnePerSym formula, which the layout
        ** tests use to see which bar a value came from. */
        for (size_t i = 0; i < specs.size(); i++) {
            Item((int32_t)i)->onePerDate = specs[i].onePerDate;
            Item((int32_t)i)->onePerSymbol = specs[i].onePerSymbol;
        }
    }

    void SetLibrary(const std::vector<std::pair<const char *, const char *>> &specs)
    {
        for (size_t i = 0; i < specs.size(); i++) {
            ASSERT_EQ((int32_t)i, AddDefinitionRecord(&gLibraryItems, sizeof(FormulaItem)));
            SetText(&((FormulaItem *)gLibraryItems.items)[i].formula, specs[i].first, specs[i].second);
        }
        for (size_t i = 0; i < specs.size(); i++)
            ASSERT_EQ(1, CompileFormula(&((FormulaItem *)gLibraryItems.items)[i].formula, SECTION_LIBRARY, (int32_t)i));
    }

    void FreeLibrary()
    {
        FormulaItem *items = (FormulaItem *)gLibraryItems.items;
        for (int32_t i = 0; items && i < gLibraryItems.capacity; i++) FreeFormulaNodes(&items[i].formula);
        FreeDefinitionList(&gLibraryItems);
    }

    void SetText(FormulaSlot *slot, const char *name, const char *text)
    {
        texts.push_back(text);
        slot->scriptText = texts.back().c_str();
        slot->start = 0;
        slot->length = (int32_t)texts.back().size();
        CopyString(slot->name, sizeof slot->name, name, -1);
    }

    /* Compiles item index again from new text. */
    void Recompile(int32_t index, const char *text)
    {
        FormulaItem *item = Item(index);
        char name[FORMULA_NAME_SIZE];
        CopyString(name, sizeof name, item->formula.name, -1);
        ResetDefinitionSlot(&item->formula);
        SetText(&item->formula, name, text);
        ASSERT_EQ(1, CompileFormula(&item->formula, SECTION_DATA, index)) << text << ": " << LastMessage();
    }

    static FormulaItem *Item(int32_t index) { return (FormulaItem *)gDataItems.items + index; }

    static double Value(const SymbolRecord *symbol, int32_t item, int32_t bar)
    {
        return symbol->dataValues[0][symbol->dataOffsets[0][item] + bar];
    }

    /* Every symbol's Data block, calendar last, as bytes. */
    static std::vector<uint8_t> Blocks()
    {
        std::vector<uint8_t> all;
        for (int32_t s = 0; s <= gStore.symbolCount; s++) {
            const SymbolRecord *symbol = s < gStore.symbolCount ? &gStore.symbols[s] : &gStore.calendar;
            uint64_t bytes = TrackedBlockSize(symbol->dataValues[0]);
            const uint8_t *p = (const uint8_t *)symbol->dataValues[0];
            all.insert(all.end(), p, p + bytes);
        }
        return all;
    }
};

/* Ten formulas of operators, bar values, offsets and earlier items. */
/* clang-format off */
const std::vector<ItemSpec> kTenItems = {
    {"Span", "C - O"},
    {"Middle", "(H + L) / 2"},
    {"Turnover", "C * V"},
    {"Change", "C[1] - C"},
    {"Stoch", "(C - L) / (H - L + 0.01)"},
    {"SpanMid", "Span + Middle"},
    {"VolSum", "V[2] * 0.5 + V"},
    {"UpDay", "C > O AND V > 1200"},
    {"Square", "Change * Change - Stoch"},
    {"Smooth", "(C + C[3] + C[5]) / 3 - Middle"},
};
/* clang-format on */

} // namespace

TEST_F(DataCalcTest, ValuesAreBitIdenticalWithOneAndWithManyWorkers)
{
    MakeStore(37, 160);
    SetItems(kTenItems);
    gSettings.CalcThreads = 1;
    ASSERT_EQ(1, CalculateData());
    std::vector<uint8_t> one = Blocks();
    EXPECT_EQ(1, gSettings.CalcThreads);

    for (int threads : {32, 8, 3}) {
        gSettings.CalcThreads = threads;
        SetDataRecalcNeeded();
        for (int32_t s = 0; s <= gStore.symbolCount; s++) {
            SymbolRecord *symbol = s < gStore.symbolCount ? &gStore.symbols[s] : &gStore.calendar;
            memset(symbol->dataValues[0], 0xAB, TrackedBlockSize(symbol->dataValues[0]));
        }
        ASSERT_EQ(1, CalculateData()) << threads;
        std::vector<uint8_t> many = Blocks();
        ASSERT_EQ(one.size(), many.size());
        EXPECT_EQ(0, memcmp(one.data(), many.data(), one.size())) << threads << " workers";
        EXPECT_EQ(threads, gSettings.CalcThreads);
    }

    /* The values are the formulas' at each bar of each symbol. */
    for (int32_t s : {0, 5, 36}) {
        const SymbolRecord *symbol = &gStore.symbols[s];
        for (int32_t i : {0, 1, 7, symbol->barCounts[BAR_DAILY] - 1}) {
            const Bar &bar = symbol->bars[BAR_DAILY][i];
            EXPECT_DOUBLE_EQ(bar.close - bar.open, Value(symbol, 0, i));
            EXPECT_DOUBLE_EQ(bar.close * bar.volume, Value(symbol, 2, i));
            EXPECT_DOUBLE_EQ(bar.close - bar.open + (bar.high + bar.low) / 2, Value(symbol, 5, i));
        }
        EXPECT_TRUE(std::isnan(Value(symbol, 3, 0))); /* C[1] has no bar before the first */
        EXPECT_TRUE(std::isnan(Value(symbol, 9, 4)));
        EXPECT_FALSE(std::isnan(Value(symbol, 9, 5)));
    }
    EXPECT_EQ(RUN_IDLE, gRun.state.load());
    EXPECT_STREQ("Kestovar", gHeadless.frameTitle);
    EXPECT_EQ(0, gDataRecalcNeeded);
}

TEST_F(DataCalcTest, BlocksFollowTheLayoutRule)
{
    MakeStore(4, 60);
    /* Listed out of definition order: the block follows the sequence. */
    SetItems({{"Plain", "C"},
              {"PerSym", "C + 1", -1, 0, 1},
              {"PerDate", "7", -1, 1, 0},
              {"Weekly", "C * 2", BAR_WEEKLY},
              {"Both", "3", -1, 1, 1}});
    Item(0)->sequence = 4;
    Item(1)->sequence = 0;
    Item(2)->sequence = 1;
    Item(3)->sequence = 2;
    Item(4)->sequence = 3;
    ASSERT_EQ(1, CalculateData());

    const SymbolRecord *symbol = &gStore.symbols[1];
    int32_t daily = symbol->barCounts[BAR_DAILY], weekly = symbol->barCounts[BAR_WEEKLY];
    const int32_t *off = symbol->dataOffsets[0];
    EXPECT_EQ(0, off[1]);          /* PerSym: one value */
    EXPECT_EQ(1, off[2]);          /* PerDate: none on a symbol */
    EXPECT_EQ(1, off[3]);          /* Weekly: one per weekly bar */
    EXPECT_EQ(1 + weekly, off[4]); /* Both: none on a symbol */
    EXPECT_EQ(1 + weekly, off[0]); /* Plain: one per daily bar, last */
    EXPECT_EQ((uint64_t)(1 + weekly + daily) * sizeof(double), TrackedBlockSize(symbol->dataValues[0]));
    EXPECT_DOUBLE_EQ(symbol->bars[BAR_DAILY][0].close + 1, Value(symbol, 1, 0)); /* its first bar's value */
    EXPECT_DOUBLE_EQ(symbol->bars[BAR_WEEKLY][2].close * 2, Value(symbol, 3, 2));
    EXPECT_DOUBLE_EQ(symbol->bars[BAR_DAILY][daily - 1].close, Value(symbol, 0, daily - 1));

    const SymbolRecord *cal = &gStore.calendar;
    int32_t calDays = cal->barCounts[BAR_DAILY], calWeeks = cal->barCounts[BAR_WEEKLY];
    const int32_t *coff = cal->dataOffsets[0];
    EXPECT_EQ(1, coff[2]);
    EXPECT_EQ(1 + calDays, coff[3]);
    EXPECT_EQ(1 + calDays + calWeeks, coff[4]);
    EXPECT_EQ(2 + calDays + calWeeks, coff[0]);
    for (int32_t i : {0, calDays - 1}) EXPECT_DOUBLE_EQ(7, Value(cal, 2, i));
    EXPECT_DOUBLE_EQ(3, Value(cal, 4, 0));

    int64_t symbolDays = 0, symbolWeeks = 0;
    for (int32_t s = 0; s < gStore.symbolCount; s++) {
        symbolDays += gStore.symbols[s].barCounts[BAR_DAILY];
        symbolWeeks += gStore.symbols[s].barCounts[BAR_WEEKLY];
    }
    EXPECT_EQ(symbolDays + calDays, GetItemValueCount(0));
    EXPECT_EQ(gStore.symbolCount + 1, GetItemValueCount(1));
    EXPECT_EQ(calDays, GetItemValueCount(2));
    EXPECT_EQ(symbolWeeks + calWeeks, GetItemValueCount(3));
    EXPECT_EQ(1, GetItemValueCount(4));
}

TEST_F(DataCalcTest, ItemsTakeTheDataTypeOfTheirFirstValue)
{
    MakeStore(20, 40);
    SetItems({{"Price", "C"}, {"Volume", "V"}, {"Mixed", "C * V"}, {"Never", "C[100]"}, {"Scaled", "C * 2"}});
    gSettings.CalcThreads = 8;
    ASSERT_EQ(1, CalculateData());
    const uint32_t want[] = {1, 2, 0, 0, 1};
    for (int32_t i = 0; i < 5; i++) EXPECT_EQ(want[i], Item(i)->formula.resultFormat) << Item(i)->formula.name;
}

TEST_F(DataCalcTest, OnlyChangedItemsAndTheirDependantsAreComputedAgain)
{
    MakeStore(6, 30);
    FixtureParameter parameters[] = {{"Len", 10.0}};
    InstallParameters(parameters, 1);
    SetItems({{"A", "C"},
              {"B", "A * 2"},
              {"P", "C + Len"},
              {"Q", "P - 1"},
              {"R", "C * 0 AND Random(1, 2)"},
              {"Z", "O"}});
    ASSERT_EQ(1, CalculateData());
    EXPECT_DOUBLE_EQ(gStore.symbols[0].bars[BAR_DAILY][3].close + 10, Value(&gStore.symbols[0], 2, 3));

    struct Step {
        const char *what;
        int recompile; /* item to compile again (-1 none) */
        const char *text;
        double parameter;  /* the parameter's value now */
        int32_t want;      /* items to compute */
        int32_t states[6]; /* their states afterwards decided */
    };
    /* clang-format off */
    const Step steps[] = {
        {"nothing changed but Random", -1, nullptr, 10.0, 1, {-1, -1, -1, -1, 1, -1}},
        {"A compiled from a new text", 0, "H", 10.0, 3, {1, 1, -1, -1, 1, -1}},
        {"the same text compiled again", 0, "H", 10.0, 1, {-1, -1, -1, -1, 1, -1}},
        {"the parameter's value changed", -1, nullptr, 12.0, 3, {-1, -1, 1, 1, 1, -1}},
    };
    /* clang-format on */
    for (const Step &step : steps) {
        if (step.recompile >= 0) Recompile(step.recompile, step.text);
        ((Parameter *)gParameters.items)[0].values[0] = step.parameter;
        EXPECT_EQ(step.want, CountItemsToRecalc(nullptr)) << step.what;
        for (int32_t i = 0; i < 6; i++) EXPECT_EQ(step.states[i], GetItemRecalcState(0, i)) << step.what << " " << i;
        ASSERT_EQ(1, CalculateData()) << step.what;
    }
    EXPECT_DOUBLE_EQ(gStore.symbols[0].bars[BAR_DAILY][3].close + 12, Value(&gStore.symbols[0], 2, 3));
    EXPECT_DOUBLE_EQ(gStore.symbols[0].bars[BAR_DAILY][3].high * 2, Value(&gStore.symbols[0], 1, 3));

    /* Settings that change every value, data loading, and a changed layout
    ** recompute everything. */
    int32_t *settings[] = {&gSettings.UseShortCircuit, &gUseAvailableBars, &gSettings.AutoOnePerX};
    for (int32_t *setting : settings) {
        *setting = !*setting;
        EXPECT_EQ(6, CountItemsToRecalc(nullptr));
        /* Back as it was, the forced calculation still computes all. */
        *setting = !*setting;
        EXPECT_EQ(6, CountItemsToRecalc(nullptr));
        ASSERT_EQ(1, CalculateData());
        EXPECT_EQ(1, CountItemsToRecalc(nullptr));
    }
    SetDataRecalcNeeded();
    EXPECT_EQ(6, CountItemsToRecalc(nullptr));
    ASSERT_EQ(1, CalculateData());
    Item(5)->onePerSymbol = 1;
    EXPECT_EQ(6, CountItemsToRecalc(nullptr));
}

TEST_F(DataCalcTest, TheTimingLogMarksItemsNotComputedAgain)
{
    MakeStore(3, 20);
    SetItems({{"A", "C"}, {"B", "O", BAR_WEEKLY, 0, 1}});
    ASSERT_EQ(1, CalculateData());
    gSettings.LogDataCalcTimes = 1;
    ASSERT_EQ(1, CalculateData());
    std::string log = gHeadless.logText ? gHeadless.logText : "";
    int32_t dailyValues = gStore.calendar.barCounts[BAR_DAILY];
    for (int32_t s = 0; s < gStore.symbolCount; s++) dailyValues += gStore.symbols[s].barCounts[BAR_DAILY];
    std::string itemA = "A\tDaily\tprice\t\t" + std::to_string(dailyValues) + "\t";
    EXPECT_NE(std::string::npos, log.find("\nCalculating 0 Values in 0 Data Arrays")) << log;
    EXPECT_NE(std::string::npos, log.find("BarSize: Daily\nUseAvailbleBars: False")) << log;
    EXPECT_NE(std::string::npos, log.find("\nName\tBarSize\tDataType\t#OnePer\tValues\tTiming")) << log;
    EXPECT_NE(std::string::npos, log.find(itemA)) << log;
    EXPECT_NE(std::string::npos, log.find(" sec **\nB\tWeekly\tprice\tSym\t4\t")) << log;
    EXPECT_NE(std::string::npos, log.find("\n** recalc not needed")) << log;
    EXPECT_NE(std::string::npos, log.find("\nData Section Memory: 0.00GB\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("* calculated in one pass")) << log;
}

TEST_F(DataCalcTest, FewerSymbolsThanWorkersComputeEverySymbolOnce)
{
    MakeStore(3, 25);
    SetItems({{"A", "C + 1"}});
    gSettings.CalcThreads = 16;
    ASSERT_EQ(1, CalculateData());
    EXPECT_EQ(16, gSettings.CalcThreads);
    for (int32_t s = 0; s < 3; s++)
        for (int32_t i = 0; i < gStore.symbols[s].barCounts[BAR_DAILY]; i++)
            EXPECT_DOUBLE_EQ(gStore.symbols[s].bars[BAR_DAILY][i].close + 1, Value(&gStore.symbols[s], 0, i));
}

TEST_F(DataCalcTest, WorkersAndTheCalendarPassSeedTheirOwnGenerators)
{
    /* With seed 7 the calendar pass of item k seeds worker 0's slot with
    ** 40 + k, and worker k (after it) seeds slot k with 8 + k.  The formulas
    ** draw nothing, so each slot still stands where it was seeded, and the
    ** program's own sequence (the optimizer's) stands where the script
    ** seeded it: its next value is the first of seed 7, 61. */
    auto firstDrawAfter = [](uint32_t seed) {
        SelectRandomSlot(31);
        SeedRandomGenerator(seed);
        int32_t value = NextRandom();
        SelectRandomSlot(RANDOM_PROGRAM_SLOT);
        return value;
    };
    auto nextFromSlot = [](int slot) {
        SelectRandomSlot(slot);
        int32_t value = NextRandom();
        SelectRandomSlot(RANDOM_PROGRAM_SLOT);
        return value;
    };
    MakeStore(6, 20);
    SetItems({{"Dated", "1", -1, 1, 0}, {"PerSymbol", "C"}});
    gSettings.CalcThreads = 4;
    SetRandomSeed(7);
    ASSERT_EQ(1, CalculateData());
    EXPECT_EQ(7u, gRandomSeed.load());
    EXPECT_EQ(firstDrawAfter(8), nextFromSlot(0));
    EXPECT_EQ(firstDrawAfter(11), nextFromSlot(3));
    EXPECT_EQ(61, nextFromSlot(RANDOM_PROGRAM_SLOT));

    Item(1)->onePerDate = 1; /* now no worker runs after the calendar pass */
    SetRandomSeed(7);
    ASSERT_EQ(1, CalculateData());
    EXPECT_EQ(firstDrawAfter(41), nextFromSlot(0));
    EXPECT_EQ(61, nextFromSlot(RANDOM_PROGRAM_SLOT));
}

TEST_F(DataCalcTest, AStopRequestEndsTheCalculationWithTheNotice)
{
    MakeStore(12, 40);
    SetLibrary({{"Ping", "1 + Pong"}, {"Pong", "Ping * 2"}});
    SetItems({{"First", "C"}, {"Loop", "Ping + C"}, {"Later", "C * 2"}});
    EXPECT_EQ(0, CalculateData());
    EXPECT_STREQ("Calculation Stopped", LastNotice());
    EXPECT_EQ(255u, gHeadless.noticeColours[(gHeadless.noticeCount - 1) % HEADLESS_NOTICES]);
    EXPECT_EQ(RUN_IDLE, gRun.state.load());
    EXPECT_EQ(1, gDataRecalcNeeded);
    EXPECT_STREQ("Kestovar", gHeadless.frameTitle);
    /* The item before the stop is complete; the one after it never ran. */
    EXPECT_DOUBLE_EQ(gStore.symbols[4].bars[BAR_DAILY][6].close, Value(&gStore.symbols[4], 0, 6));
    EXPECT_EQ(0.0, Value(&gStore.symbols[4], 2, 6));
    EXPECT_EQ(3, CountItemsToRecalc(nullptr));

    /* With the loop gone the next calculation (a new run) recomputes all and succeeds. */
    ClearStopRequest();
    ClearPendingRuntimeError();
    Recompile(1, "C - 1");
    ASSERT_EQ(1, CalculateData());
    EXPECT_DOUBLE_EQ(gStore.symbols[4].bars[BAR_DAILY][6].close * 2, Value(&gStore.symbols[4], 2, 6));
    EXPECT_EQ(0, gDataRecalcNeeded);
}

TEST_F(DataCalcTest, CalculationsAndStoppedOnesRunOnTheSameKeptThreads)
{
    MakeStore(12, 40);
    gSettings.CalcThreads = 4;
    SetLibrary({{"Ping", "1 + Pong"}, {"Pong", "Ping * 2"}});
    SetItems({{"First", "C"}, {"Loop", "Ping + C"}, {"Later", "C * 2"}});
    EXPECT_EQ(0, CalculateData());
    int64_t made = PoolThreadsMade();
    EXPECT_GE(made, 4) << "the workers ran on the pool's threads";
    /* The stopped calculation left no thread behind busy: the next ones,
    ** the changed item computed again each time, find theirs free. */
    ClearStopRequest();
    ClearPendingRuntimeError();
    for (int round = 0; round < 3; round++) {
        Recompile(1, round % 2 ? "C - 1" : "C - 2");
        ASSERT_EQ(1, CalculateData());
        EXPECT_DOUBLE_EQ(gStore.symbols[5].bars[BAR_DAILY][9].close - 2 + round % 2,
                         Value(&gStore.symbols[5], 1, 9));
    }
    EXPECT_EQ(made, PoolThreadsMade());
}

TEST_F(DataCalcTest, LowMemoryEndsTheCalculationLikeAStop)
{
    MakeStore(12, 40);
    SetItems({{"First", "C"}, {"Second", "O"}});
    ASSERT_EQ(1, CalculateData());
    gSettings.UseShortCircuit = 0; /* everything is computed again, into the blocks it has */
    gOutOfMemory = 1;              /* an allocation failed: the next message pass finds low memory */
    EXPECT_EQ(0, CalculateData());
    EXPECT_EQ(1, gHeadless.messageCount); /* the low-memory warning */
    EXPECT_STREQ("Calculation Stopped", LastNotice());
    EXPECT_EQ(RESULT_LOW_MEMORY, gRun.resultCode.load());
    EXPECT_EQ(RUN_IDLE, gRun.state.load());
    EXPECT_EQ(1, gDataRecalcNeeded);

    gRun.lowMemory = 0;
    ClearStopRequest(); /* the next run */
    EXPECT_EQ(2, CountItemsToRecalc(nullptr));
    ASSERT_EQ(1, CalculateData());
}

TEST_F(DataCalcTest, BlocksThatCannotGrowFailWithoutComputing)
{
    MakeStore(5, 30);
    SetItems({{"A", "C"}});
    gOutOfMemory = 1;
    EXPECT_EQ(0, CalcDataArraysForBarSize(nullptr, 0));
    EXPECT_EQ(nullptr, gStore.symbols[0].dataValues[0]);
    gOutOfMemory = 0;
    gSettings.MaxMemPct = 0; /* any use of memory is at the limit */
    EXPECT_EQ(0, CalcDataArraysForBarSize(nullptr, 0));
    gSettings.MaxMemPct = 90;
    EXPECT_EQ(1, CalcDataArraysForBarSize(nullptr, 0));
}

TEST_F(DataCalcTest, UnloadingDataDropsTheItemsAndTheirValues)
{
    MakeStore(4, 20);
    SetItems({{"A", "C"}, {"B", "A + 1"}});
    ASSERT_EQ(1, CalculateData());
    EXPECT_EQ(0, gDataRecalcNeeded);
    uint64_t before = gAllocatedBytes.load();
    UnloadData();
    EXPECT_EQ(0, gDataItems.count);
    EXPECT_EQ(nullptr, gDataItems.items);
    EXPECT_EQ(1, gDataRecalcNeeded);
    EXPECT_LT(gAllocatedBytes.load(), before);
    EXPECT_EQ(0, gStore.symbolCount);
}

TEST_F(DataCalcTest, AWalkForwardIntervalReachesEveryWorkerAndRecomputesItsItems)
{
    MakeStore(9, 30);
    FixtureParameter parameters[] = {{"Len", 10.0}};
    InstallParameters(parameters, 1);
    double walkValues[] = {100.0, 200.0, 300.0};
    Parameter *len = (Parameter *)gParameters.items;
    len->walkValues = walkValues;
    len->walkCount = len->walkCapacity = 3;
    SetItems({{"Plain", "C"}, {"Tuned", "C + Len"}});

    EvalContext ctx{};
    ctx.walkForwardInterval = 1;
    ctx.outOfSample = 0;
    gSettings.CalcThreads = 4;
    ASSERT_EQ(1, CalcDataArraysForBarSize(&ctx, 1));
    for (int32_t s : {0, 3, 8}) EXPECT_DOUBLE_EQ(gStore.symbols[s].bars[BAR_DAILY][2].close + 200, Value(&gStore.symbols[s], 1, 2));

    /* The next interval changes only the item that uses the parameter; out of
    ** sample the interval before is played. */
    ctx.walkForwardInterval = 2;
    EXPECT_EQ(1, CountItemsToRecalc(&ctx));
    ASSERT_EQ(1, CalcDataArraysForBarSize(&ctx, 1));
    EXPECT_DOUBLE_EQ(gStore.symbols[5].bars[BAR_DAILY][2].close + 300, Value(&gStore.symbols[5], 1, 2));
    ctx.outOfSample = 1;
    ASSERT_EQ(1, CalcDataArraysForBarSize(&ctx, 1));
    EXPECT_DOUBLE_EQ(gStore.symbols[5].bars[BAR_DAILY][2].close + 200, Value(&gStore.symbols[5], 1, 2));
    len->walkValues = nullptr;
    len->walkCount = len->walkCapacity = 0;
}

TEST_F(DataCalcTest, ProgressIsShownOnlyAboveTenThousandValues)
{
    struct Case {
        int32_t symbols, days, showStatusBar;
        const char *want; /* status part 1 afterwards */
    };
    /* clang-format off */
    const Case cases[] = {
        {8, 60, 1, ""},                   /* 540 values */
        {45, 240, 1, "(2) Last:"},        /* above 10000 */
        {45, 240, 0, ""},                 /* no status bar */
    };
    /* clang-format on */
    for (const Case &c : cases) {
        TearDown();
        SetUp();
        gSettings.ShowStatusBar = c.showStatusBar;
        MakeStore(c.symbols, c.days);
        SetItems({{"First", "C"}, {"Last", "O"}});
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        ASSERT_EQ(1, CalcDataArraysForBarSize(nullptr, 1));
        EXPECT_STREQ(c.want, gHeadless.statusParts[1]) << c.symbols;
        for (int part = 2; part <= gSettings.StatusBarFields + 1; part++) EXPECT_STREQ("", gHeadless.statusParts[part]);
    }
}

/* A one-pass item writes one value per bar, which a one-value range cannot
** hold: one-per-symbol items are computed at their first bar instead. */
TEST_F(DataCalcTest, OneValueItemsAreNeverComputedInOnePass)
{
    MakeStore(5, 30);
    SetItems({{"PerSym", "C + 1", -1, 0, 1}, {"Both", "4", -1, 1, 1}, {"Plain", "C"}});
    for (int32_t i = 0; i < 3; i++) Item(i)->formula.sharedSeries = 1;
    ASSERT_EQ(1, CalculateData());
    for (int32_t s = 0; s < gStore.symbolCount; s++)
        EXPECT_DOUBLE_EQ(gStore.symbols[s].bars[BAR_DAILY][0].close + 1, Value(&gStore.symbols[s], 0, 0)) << s;
    EXPECT_DOUBLE_EQ(4, Value(&gStore.calendar, 1, 0));
    /* An ordinary item goes the one-pass way: its formula alone fills the range. */
    EXPECT_TRUE(std::isnan(Value(&gStore.symbols[0], 2, 0)));
}

/* Worker k evaluates node copy k and moves only lookup hint k, of the
** symbols it computed: every symbol is computed by exactly one worker.  With
** a random seed the symbols are dealt out k, k + N, ..., so that each seeded
** sequence meets the same symbols on every run. */
TEST_F(DataCalcTest, EachWorkerUsesItsOwnNodeCopyAndLookupHint)
{
    const double kUntouched = -12345.0;
    for (uint32_t seed : {0u, 7u}) {
        TearDown();
        SetUp();
        MakeStore(11, 30);
        SetItems({{"A", "C * 2 + O"}});
        FormulaSlot *slot = &Item(0)->formula;
        for (int k = 0; k < FORMULA_WORKER_COPIES; k++)
            for (int32_t n = 0; n < slot->count; n++) slot->nodes[k][n].value = kUntouched;
        for (int32_t s = 0; s <= gStore.symbolCount; s++) {
            SymbolRecord *symbol = s < gStore.symbolCount ? &gStore.symbols[s] : &gStore.calendar;
            for (int32_t &hint : symbol->barHints) hint = -3;
        }
        gSettings.CalcThreads = 4;
        SetRandomSeed(seed);
        ASSERT_EQ(1, CalculateData());
        for (int k = 4; k < FORMULA_WORKER_COPIES; k++)
            EXPECT_EQ(kUntouched, slot->nodes[k][0].value) << "seed " << seed << " copy " << k;
        if (seed)
            for (int k = 0; k < 4; k++) EXPECT_NE(kUntouched, slot->nodes[k][0].value) << "copy " << k;
        for (int32_t s = 0; s < gStore.symbolCount; s++) {
            int moved = 0;
            for (int k = 0; k < WORKER_SLOTS; k++) {
                if (gStore.symbols[s].barHints[k] == -3) continue;
                moved++;
                EXPECT_LT(k, 4) << "seed " << seed << " symbol " << s;
                if (seed) EXPECT_EQ(s % 4, k) << "symbol " << s;
            }
            EXPECT_EQ(1, moved) << "seed " << seed << " symbol " << s;
        }
        for (int k = 1; k < WORKER_SLOTS; k++) EXPECT_EQ(-3, gStore.calendar.barHints[k]) << k;
    }
}

/* Built-in functions over whole symbols: the same bytes with one worker and
** with many, in the per-bar and in the one-pass calculation; the two ways
** agree on the window functions; weekly items count 52 periods a year. */
TEST_F(DataCalcTest, BuiltinsGiveTheSameValuesWithAnyWorkerCountInBothPaths)
{
    ASSERT_EQ(1, InstallBuiltins());
    MakeStore(37, 300);
    SetItems({{"Avg", "MA(C, 20)"},
              {"Slope", "Slope(C, 30)"},
              {"Top", "Highest(H, 50)"},
              {"Since", "SinceTrue(C > O)"},
              {"Med", "Median(C, 9)"},
              {"Atr", "ATR(14)"},
              {"Rsi", "RSI(14)"},
              {"Super", "SuperTrend(10, 3)"},
              {"WeekVol", "HVOL(10)", BAR_WEEKLY},
              {"WeekVol52", "HVOL(10, 52)", BAR_WEEKLY}});
    const int32_t kItems = 10;
    const int32_t kCompared = 5; /* the first five walk the same bars both ways */
    std::vector<std::vector<double>> perBar((size_t)gStore.symbolCount * kCompared);
    for (int onePass = 0; onePass <= 1; onePass++) {
        for (int32_t i = 0; i < kItems; i++) Item(i)->formula.sharedSeries = (uint32_t)onePass;
        std::vector<uint8_t> first;
        for (int threads : {1, 32}) {
            gSettings.CalcThreads = threads;
            SetDataRecalcNeeded();
            ASSERT_EQ(1, CalculateData()) << threads;
            std::vector<uint8_t> blocks = Blocks();
            if (first.empty()) {
                first = blocks;
            } else {
                EXPECT_EQ(0, memcmp(first.data(), blocks.data(), first.size())) << threads << " workers";
            }
        }
        int compared = 0;
        for (int32_t s = 0; s < gStore.symbolCount; s++) {
            const SymbolRecord *symbol = &gStore.symbols[s];
            for (int32_t i = 0; i < kCompared; i++) {
                std::vector<double> &kept = perBar[(size_t)(s * kCompared + i)];
                for (int32_t bar = 0; bar < symbol->barCounts[BAR_DAILY]; bar++) {
                    double v = Value(symbol, i, bar);
                    if (onePass == 0) {
                        kept.push_back(v);
                        continue;
                    }
                    if (std::isnan(kept[(size_t)bar]) || std::isnan(v)) continue;
                    compared++;
                    ASSERT_NEAR(kept[(size_t)bar], v, 1e-7 * std::max(1.0, fabs(v)))
                        << Item(i)->formula.name << " symbol " << s << " bar " << bar;
                }
            }
        }
        if (onePass) {
            EXPECT_GT(compared, 30000);
        }
        /* Weekly items without a test count 52 periods a year. */
        for (int32_t s = 0; s < gStore.symbolCount; s++) {
            const SymbolRecord *symbol = &gStore.symbols[s];
            for (int32_t bar = 0; bar < symbol->barCounts[BAR_WEEKLY]; bar++) {
                double a = Value(symbol, 8, bar), b = Value(symbol, 9, bar);
                if (!std::isnan(a) || !std::isnan(b)) {
                    EXPECT_DOUBLE_EQ(b, a) << s << " " << bar;
                }
            }
        }
    }
}

/* ---- the plug-in library ---------------------------------------------------------- */

namespace {

/* Points the plug-in folder at the test programs' own, where the test
** library is built, and unloads the library afterwards. */
struct PluginFolder {
    char saved[sizeof gSettings.UserDllPath];
    explicit PluginFolder(const std::string &folder)
    {
        InstallBuiltins();
        memcpy(saved, gSettings.UserDllPath, sizeof saved);
        CopyString(gSettings.UserDllPath, sizeof gSettings.UserDllPath, folder.c_str(), -1);
    }
    ~PluginFolder()
    {
        LoadPluginDll(0);
        memcpy(gSettings.UserDllPath, saved, sizeof saved);
    }
};

} // namespace

TEST_F(DataCalcTest, PluginFillsEachSymbolFromItsBarsAndEarlierItems)
{
    PluginFolder folder(TestProgramFolder());
    /* Symbols start late and end early; the weekly items come last in the
    ** block, so a library reading an earlier weekly item for every daily bar
    ** it is given would read past the block (the sanitizers see it). */
    MakeStore(6, 40);
    SetItems({{"Span", "C - O"}, {"Plain", "DllDataCalc(3)"}, {"WithItem", "DllDataCalc(2, \"ok\")"}, {"Weekly", "C", BAR_WEEKLY}, {"WeekPlug", "DllDataCalc(1)", BAR_WEEKLY}});
    for (int32_t i : {1, 2, 4}) Item(i)->formula.sharedSeries = Item(i)->formula.onePass = 1; /* as the compile driver marks them */
    std::vector<uint8_t> first;
    for (int threads : {1, 32}) {
        gSettings.CalcThreads = threads;
        SetDataRecalcNeeded();
        ASSERT_EQ(1, CalculateData()) << LastMessage();
        if (first.empty()) first = Blocks();
        EXPECT_TRUE(first == Blocks()) << threads << " workers";
        for (int32_t s = 0; s < gStore.symbolCount; s++) {
            const SymbolRecord *symbol = &gStore.symbols[s];
            /* Bars are unsplit or split 2:1 in their own terms; the library sees them as stored. */
            for (int32_t i = 0; i < symbol->barCounts[BAR_DAILY]; i++) {
                const Bar &bar = symbol->bars[BAR_DAILY][i];
                /* the first earlier item of the same bar size is Span */
                EXPECT_DOUBLE_EQ(3 * bar.close + Value(symbol, 0, i), Value(symbol, 1, i)) << s << " " << i;
                EXPECT_DOUBLE_EQ(2 * bar.close + Value(symbol, 0, i), Value(symbol, 2, i)) << s << " " << i;
            }
            /* A weekly item is given the daily bars and their count too; the
            ** library fills a value per daily bar, and the item keeps one per
            ** week, nothing written past its range (the last in the block). */
            for (int32_t w = 0; w < symbol->barCounts[BAR_WEEKLY]; w++)
                EXPECT_DOUBLE_EQ(symbol->bars[BAR_DAILY][w].close + Value(symbol, 3, w), Value(symbol, 4, w));
        }
    }
    EXPECT_STREQ("", gPendingRuntimeError);
}

TEST_F(DataCalcTest, PluginFailuresAndResultsAreHandledCleanly)
{
    {
        PluginFolder missing(TestProgramFolder() + "\\no-such-folder");
        MakeStore(2, 20);
        FormulaItem item{};
        SetText(&item.formula, "P", "DllDataCalc(1)");
        EXPECT_EQ(0, CompileFormula(&item.formula, SECTION_DATA, 0));
        /* It names the file this build looks for. */
        const std::string expected = "radez" + std::string(PlatLibrarySuffix()) + " could not be loaded or has no DllDataCalc function";
        EXPECT_NE(nullptr, strstr(LastMessage(), expected.c_str())) << LastMessage();
        FreeFormulaNodes(&item.formula);
    }
    {
        /* A library of that name without the export is refused and unloaded. */
        TempFolder temp;
        std::string suffix = PlatLibrarySuffix();
        ASSERT_EQ(1, PlatCopyFile((TestProgramFolder() + "\\kvtestlib" + suffix).c_str(), temp.File("radez" + suffix).c_str()));
        PluginFolder other(temp.path);
        EXPECT_EQ(0, LoadPluginDll(1));
        LoadPluginDll(0);
    }
    /* What the export returns means nothing to the program: a library that
    ** returns -1 has its values kept, and the calculation goes on. */
    PluginFolder folder(TestProgramFolder());
    SetItems({{"Returns", "DllDataCalc(1, \"F\")"}});
    Item(0)->formula.sharedSeries = Item(0)->formula.onePass = 1;
    gRun.state = RUN_CALCULATING;
    EXPECT_EQ(1, CalculateData());
    EXPECT_STREQ("", gPendingRuntimeError);
    for (int32_t s = 0; s < gStore.symbolCount; s++)
        EXPECT_DOUBLE_EQ(gStore.symbols[s].bars[BAR_DAILY][0].close, Value(&gStore.symbols[s], 0, 0)) << s;
    gRun.state = RUN_IDLE;

    /* Outside a one-pass Data calculation the library is not called. */
    EvalContext ctx{};
    ctx.symbol = &gStore.symbols[0];
    ctx.dataItemIndex = -1;
    FormulaNode nodes[2] = {};
    nodes[0].item = ITEM_DLL_DATA_CALC;
    EXPECT_EQ(0, CalcDllDataCalc(&nodes[0], &ctx, 0));
}

/* ---- references to other bar sizes and items --------------------------------------- */

TEST_F(DataCalcTest, WeeklyReferencesSeeOnlyCompletedWeeks)
{
    InstallBuiltins();
    MakeStore(4, 40);
    SetItems({{"WeekClose", "C", BAR_WEEKLY},
              {"ByExtern", "Extern(~Weekly, C)"},
              {"ByItem", "Item(\"Week{?}\", \"Close\")"},
              {"Other", "Extern($S002, C) - C"},
              {"Label", "Length(Format(\"{?}-{#2}\", ?Symbol, C))"}});
    std::vector<uint8_t> first;
    for (int threads : {1, 32}) {
        gSettings.CalcThreads = threads;
        SetDataRecalcNeeded();
        ASSERT_EQ(1, CalculateData()) << LastMessage();
        if (first.empty()) first = Blocks();
        EXPECT_TRUE(first == Blocks()) << threads << " workers";
    }
    for (int32_t s : {0, 2}) { /* symbols without splits */
        const SymbolRecord *symbol = &gStore.symbols[s];
        const Bar *weeks = symbol->bars[BAR_WEEKLY];
        int32_t n = symbol->barCounts[BAR_DAILY], w = 0;
        for (int32_t i = 0; i + 1 < n; i++) {
            int32_t d = symbol->bars[BAR_DAILY][i].date;
            while (weeks[w].date < d) w++;
            /* The week ending today is complete, the first one of a symbol
            ** that joined after the week's Monday too; otherwise the week
            ** before is the last one. */
            int32_t complete = weeks[w].date == d ? w : w - 1;
            double want = complete < 0 ? NAN : weeks[complete].close;
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(Value(symbol, 1, i))) << s << " " << d;
                EXPECT_TRUE(std::isnan(Value(symbol, 2, i))) << s << " " << d;
            } else {
                EXPECT_DOUBLE_EQ(want, Value(symbol, 1, i)) << s << " " << d;
                EXPECT_DOUBLE_EQ(want, Value(symbol, 2, i)) << s << " " << d;
            }
        }
    }
    /* S002 is an unsplit symbol: the other symbol's close on the same date. */
    const SymbolRecord *a = &gStore.symbols[0], *b = &gStore.symbols[2];
    for (int32_t i = 0; i < a->barCounts[BAR_DAILY]; i++) {
        int32_t d = a->bars[BAR_DAILY][i].date;
        for (int32_t j = 0; j < b->barCounts[BAR_DAILY]; j++) {
            if (b->bars[BAR_DAILY][j].date == d)
                EXPECT_DOUBLE_EQ(b->bars[BAR_DAILY][j].close - a->bars[BAR_DAILY][i].close, Value(a, 3, i)) << d;
        }
    }
}
namespace {

/* Compiles items as the compile driver does: bar size, one-value marks and
** the sharing walk after each. */
void ShareAsCompiled(int32_t items)
{
    gDataItemSequence = 0;
    for (int32_t i = 0; i < items; i++) {
        FormulaItem *item = (FormulaItem *)gDataItems.items + i;
        ResolveItemBarSize(item);
        CountItemReferences(item);
        ASSERT_EQ(1, ShareDataItem(i));
        ((FormulaItem *)gDataItems.items)[i].sequence = gDataItemSequence++;
    }
}

std::vector<double> ItemValues(int32_t item)
{
    std::vector<double> values;
    for (int32_t s = 0; s < gStore.symbolCount; s++)
        for (int32_t bar = 0; bar < gStore.symbols[s].barCounts[BAR_DAILY]; bar++)
            values.push_back(gStore.symbols[s].dataValues[0][gStore.symbols[s].dataOffsets[0][item] + bar]);
    return values;
}

/* Calls replaced by generated items give the same bytes as the same script
** written with those items by hand; each shared call is computed by one item. */
TEST_F(DataCalcTest, SharedCallsGiveTheBytesOfTheItemsTheyStandFor)
{
    ASSERT_EQ(1, InstallBuiltins());
    gSettings.ExtractOnePassItems = 1;
    MakeStore(23, 200);
    SetItems({{"A", "MA(C, 20) * 2 + Highest(H, 10)"}, {"B", "MA(C, 20) - 1"}});
    ShareAsCompiled(2);
    ASSERT_EQ(4, gDataItems.count);
    EXPECT_STREQ("_Avg_C_20_", Item(2)->formula.name);
    EXPECT_EQ((uint32_t)ITEM_DATA_REF, Item(0)->formula.nodes[0][0].item);
    EXPECT_EQ((uint32_t)ITEM_DATA_REF, Item(1)->formula.nodes[0][0].item);
    ASSERT_EQ(1, CalculateData());
    std::vector<double> a = ItemValues(0), b = ItemValues(1);

    TearDown();
    SetUp();
    ASSERT_EQ(1, InstallBuiltins());
    MakeStore(23, 200);
    SetItems({{"Avg20", "MA(C, 20)"}, {"Hi10", "Highest(H, 10)"}, {"A", "Avg20 * 2 + Hi10"}, {"B", "Avg20 - 1"}});
    ShareAsCompiled(4);
    ASSERT_EQ(4, gDataItems.count);
    ASSERT_EQ(1, CalculateData());
    std::vector<double> a2 = ItemValues(2), b2 = ItemValues(3);
    ASSERT_EQ(a.size(), a2.size());
    EXPECT_EQ(0, memcmp(a.data(), a2.data(), a.size() * sizeof(double)));
    EXPECT_EQ(0, memcmp(b.data(), b2.data(), b.size() * sizeof(double)));
    size_t known = 0;
    for (double v : a) known += !std::isnan(v);
    EXPECT_GT(known, a.size() / 2);
}

/* Cross-sectional items give the same bytes with one worker and with 32;
** on every date the ranks of the symbols with a value are 1..n. */
TEST_F(DataCalcTest, CrossSectionalItemsAreTheSameWithAnyWorkerCount)
{
    ASSERT_EQ(1, InstallBuiltins());
    MakeStore(29, 120);
    const char *const industries[] = {"Oil", "Tech", "", "oil"};
    for (int32_t s = 0; s < gStore.symbolCount; s++)
        CopyString(gStore.symbols[s].info.Industry, sizeof gStore.symbols[s].info.Industry, industries[s % 4], -1);
    SetItems({{"R", "#Rank MA(C, 5)"}, {"G", "#ByIndu #Avg C - O"}, {"M", "#Median C"}});
    std::vector<uint8_t> first;
    for (int threads : {1, 32}) {
        gSettings.CalcThreads = threads;
        SetDataRecalcNeeded();
        ASSERT_EQ(1, CalculateData());
        if (first.empty()) {
            first = Blocks();
        } else {
            EXPECT_EQ(first, Blocks()) << threads << " workers";
        }
    }
    for (size_t d = 0; d < days.size(); d++) {
        std::vector<int> ranks;
        for (int32_t s = 0; s < gStore.symbolCount; s++) {
            const SymbolRecord *symbol = &gStore.symbols[s];
            for (int32_t bar = 0; bar < symbol->barCounts[BAR_DAILY]; bar++)
                if (symbol->bars[BAR_DAILY][bar].date == days[d] && !std::isnan(Value(symbol, 0, bar)))
                    ranks.push_back((int)Value(symbol, 0, bar));
        }
        std::sort(ranks.begin(), ranks.end());
        for (size_t k = 0; k < ranks.size(); k++) ASSERT_EQ((int)k + 1, ranks[k]) << "date " << days[d];
    }
}

} // namespace

namespace {

/* Adds and compiles an item of a TestData or StratData list. */
void AddStrategyItem(CompilerTest *test, DefinitionList *list, uint32_t section, const char *name, const char *text)
{
    int32_t index = AddDefinitionRecord(list, sizeof(FormulaItem));
    FormulaItem *item = (FormulaItem *)list->items + index;
    ResetFormulaItem(item);
    test->texts.push_back(text);
    item->formula.scriptText = test->texts.back().c_str();
    item->formula.length = (int32_t)test->texts.back().size();
    CopyString(item->formula.name, sizeof item->formula.name, name, -1);
    ASSERT_EQ(1, CompileFormula(&item->formula, section, index)) << text;
}

double TestValue(const SymbolRecord *symbol, int32_t item, int32_t bar)
{
    return symbol->dataValues[1][symbol->dataOffsets[1][item] + bar];
}

/* Before the close a TestData value belongs to the bar before; at the close
** to the bar of the date.  A one-per-date item lives on the calendar only; a
** cross-sectional one ranks the symbols of the date. */
TEST_F(DataCalcTest, TestDataItemsFillTheLastCompletedBarOfEachSymbol)
{
    ASSERT_EQ(1, InstallBuiltins());
    MakeStore(8, 30);
    AddStrategyItem(this, &gTestDataItems, SECTION_TEST_DATA, "Close", "C");
    AddStrategyItem(this, &gTestDataItems, SECTION_TEST_DATA, "Seven", "3 + 4");
    AddStrategyItem(this, &gTestDataItems, SECTION_TEST_DATA, "Ranked", "#Rank C");
    ((FormulaItem *)gTestDataItems.items)[1].onePerDate = 1;
    ASSERT_EQ(1, AllocStrategyArrays());
    const int32_t date = days[20];
    EvalContext context{};
    context.date = date;
    context.barSize = BAR_DAILY;
    context.barPhase = PHASE_OPEN;
    context.priceScale = 1.0;
    context.strategyIndex = -1;
    context.resultRow = -1;
    context.funBar = -1;
    context.dataItemIndex = -1;
    context.symbol = &gStore.symbols[0];
    for (int phase : {PHASE_OPEN, PHASE_CLOSE}) {
        context.barPhase = phase;
        ASSERT_EQ(1, CalcStrategyItems(&context));
        std::vector<std::pair<double, int>> closes;
        for (int32_t s = 0; s < gStore.symbolCount; s++) {
            const SymbolRecord *symbol = &gStore.symbols[s];
            const Bar *bars = symbol->bars[BAR_DAILY];
            int32_t b = 0;
            while (b < symbol->barCounts[BAR_DAILY] && bars[b].date < date) b++;
            if (b >= symbol->barCounts[BAR_DAILY] || bars[b].date != date || b == 0 || s % 4 == 1) continue;
            EXPECT_DOUBLE_EQ(bars[b - 1].close, TestValue(symbol, 0, b - 1)) << s;
            if (phase == PHASE_OPEN) {
                EXPECT_TRUE(std::isnan(TestValue(symbol, 0, b))) << s;
            } else {
                EXPECT_DOUBLE_EQ(bars[b].close, TestValue(symbol, 0, b)) << s;
                closes.push_back({bars[b].close, (int)TestValue(symbol, 2, b)});
            }
        }
        /* The highest close ranks 1 (symbols 1 and 5 are left out above, so
        ** ranks among the rest only descend). */
        std::sort(closes.begin(), closes.end());
        for (size_t k = 1; k < closes.size(); k++) EXPECT_LT(closes[k].second, closes[k - 1].second);
    }
    int32_t calendarBar = 20;
    EXPECT_EQ(7.0, TestValue(&gStore.calendar, 1, calendarBar));
    EXPECT_EQ(gStore.symbols[0].dataOffsets[1][1], gStore.symbols[0].dataOffsets[1][2]); /* no values on symbols */
}

/* StratData cells of the row of the date, per strategy, then across them. */
TEST_F(DataCalcTest, StratDataItemsFillTheRowOfTheDateForEveryStrategy)
{
    ASSERT_EQ(1, InstallBuiltins());
    MakeStore(3, 10);
    AddStrategyItem(this, &gStratDataItems, SECTION_STRAT_DATA, "Counted", "#Count 5");
    AddStrategyItem(this, &gStratDataItems, SECTION_STRAT_DATA, "Plain", "2 + 3");
    StatCell cells[4]{};
    for (int r = 0; r < 2; r++)
        for (int s = 0; s < 2; s++) cells[r * 2 + s].date = (uint32_t)days[(size_t)r + 3];
    double values[8];
    for (double &v : values) v = -1;
    TestRecord test{};
    test.rowCount = 2;
    test.rowsFilled = 2;
    test.strategyCount = 2;
    test.cells = cells;
    test.stratDataValues = values;
    test.stratDataItemCount = 2;
    test.stratDataValueCount = 8;
    EvalContext context{};
    context.test = &test;
    context.barSize = BAR_DAILY;
    context.strategyIndex = -1;
    context.funBar = -1;
    context.dataItemIndex = -1;
    context.date = days[2]; /* before the first row: nothing changes */
    ASSERT_EQ(1, CalcStrategyAggregates(&context));
    for (double v : values) EXPECT_EQ(-1, v);
    context.date = days[4];
    ASSERT_EQ(1, CalcStrategyAggregates(&context));
    const double expected[8] = {-1, -1, -1, -1, 2, 5, 2, 5};
    for (int k = 0; k < 8; k++) EXPECT_EQ(expected[k], values[k]) << k;
    for (int32_t i = 0; i < gStratDataItems.capacity; i++) FreeFormulaNodes(&((FormulaItem *)gStratDataItems.items)[i].formula);
    FreeDefinitionList(&gStratDataItems);
}

} // namespace
