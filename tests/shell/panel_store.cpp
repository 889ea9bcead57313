#include "panel_store.h"

#include <algorithm>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/builtins.h"

static void FillList(DateList *list, const std::vector<int32_t> &dates, int barSize)
{
    ASSERT_TRUE(AllocMemory(&list->dates, (dates.size() + 1) * sizeof(uint32_t)));
    for (size_t i = 0; i < dates.size(); i++) list->dates[i] = (uint32_t)dates[i];
    list->dates[dates.size()] = 0;
    list->capacity = (int32_t)dates.size() + 1;
    list->count = (int32_t)dates.size();
    list->barSize = barSize;
}

static void FillSymbol(SymbolRecord *record, const char *name, const std::vector<int32_t> &dates, double base)
{
    memset(record, 0, sizeof *record);
    CopyString(record->info.Symbol, sizeof record->info.Symbol, name, -1);
    record->info.PointValue = 1.0;
    record->info.TickSize = 0.01;
    record->firstUsedDate = FIRST_USED_NONE;
    record->dataSource = -1;
    ASSERT_TRUE(AllocMemory(&record->bars[BAR_DAILY], (dates.size() + 1) * sizeof(Bar)));
    for (size_t i = 0; i < dates.size(); i++) {
        Bar &bar = record->bars[BAR_DAILY][i];
        bar = Bar{};
        bar.date = dates[i];
        bar.open = bar.high = bar.low = bar.close = base + (double)i;
        bar.volume = 1000;
        bar.split = 1.0;
    }
    record->barCounts[BAR_DAILY] = (int32_t)dates.size();
    record->firstDate = dates.front();
    record->lastDate = dates.back();
}

void PanelStoreTest::SetUp()
{
    ProgramStateTest::SetUp();
    ASSERT_EQ(1, InstallBuiltins());
    const int closed[] = {20240101, 20240115, 20240219};
    const int monthDays[] = {31, 29, 28};
    std::vector<int> weekdays;
    int weekday = 1; /* 1 January 2024 is a Monday */
    for (int m = 0; m < 3; m++) {
        for (int d = 1; d <= monthDays[m]; d++, weekday = weekday % 7 + 1) {
            int32_t date = 20240000 + (m + 1) * 100 + d;
            if (weekday > 5 || std::find(std::begin(closed), std::end(closed), date) != std::end(closed)) continue;
            days.push_back(date);
            weekdays.push_back(weekday);
        }
    }
    /* A week ends where the next market day's weekday does not grow. */
    for (size_t i = 0; i < days.size(); i++)
        if (i + 1 == days.size() || weekdays[i + 1] <= weekdays[i]) weeks.push_back(days[i]);
    gStore.symbolCount = 0;
    ASSERT_TRUE(AllocMemory(&gStore.symbols, 2 * sizeof(SymbolRecord)));
    FillSymbol(&gStore.symbols[0], "AAA", days, 100.0);
    std::vector<int32_t> late(std::find(days.begin(), days.end(), 20240201), days.end());
    FillSymbol(&gStore.symbols[1], "LATE", late, 50.0);
    gStore.symbolCount = 2;
    FillList(&gStore.dateLists[BAR_DAILY], days, BAR_DAILY);
    FillList(&gStore.dateLists[BAR_WEEKLY], weeks, BAR_WEEKLY);
    gStore.firstDate = days.front();
    gStore.lastDate = days.back();
    CopyString(gStore.loadedPath, sizeof gStore.loadedPath, "C:\\Data\\Stocks.kvd", -1);
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    gSettings.BarSize2 = 0;
}

void PanelStoreTest::TearDown()
{
    for (int i = 0; i < gStore.symbolCount; i++) FreeMemory(&gStore.symbols[i].bars[BAR_DAILY]);
    FreeMemory(&gStore.symbols);
    gStore.symbolCount = 0;
    FreeMemory(&gStore.dateLists[BAR_DAILY].dates);
    FreeMemory(&gStore.dateLists[BAR_WEEKLY].dates);
    gStore.dateLists[BAR_DAILY] = DateList{};
    gStore.dateLists[BAR_WEEKLY] = DateList{};
    gStore.loadedPath[0] = 0;
    gStore.firstDate = gStore.lastDate = 0;
    ProgramStateTest::TearDown();
}
