#include "store_fixture.h"

#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "marketdata/store/calendar.h"
#include "shell/headless/headless.h"

std::vector<int32_t> MarketDays(int32_t from, int32_t to, std::initializer_list<int32_t> closed)
{
    std::vector<int32_t> days;
    for (int32_t d = from; d <= to; d = NextDay(d)) {
        if (DayOfWeek(d) >= 6) continue;
        bool shut = false;
        for (int32_t c : closed) shut = shut || c == d;
        if (!shut) days.push_back(d);
    }
    return days;
}

void SetMasterDates(const std::vector<int32_t> &days)
{
    for (int k = 0; k < BAR_SIZE_COUNT; k++) {
        std::vector<int32_t> list = PeriodEnds(days, k);
        DateList &dl = gStore.dateLists[k];
        ASSERT_TRUE(ReallocMemory(&dl.dates, (list.size() + 1) * sizeof(uint32_t)));
        for (size_t i = 0; i < list.size(); i++) dl.dates[i] = (uint32_t)list[i];
        dl.dates[list.size()] = 0;
        dl.capacity = (int32_t)list.size() + 1;
        dl.count = (int32_t)list.size();
        dl.barSize = k;
        dl.holidayStrategy = 0;
    }
    gStore.firstDate = days.empty() ? 0 : days.front();
    gStore.lastDate = days.empty() ? 0 : days.back();
}

void MakeSymbol(SymbolRecord *record, const char *symbol, const std::vector<int32_t> &days, double firstClose,
                const std::vector<double> &volumes)
{
    memset(record, 0, sizeof *record);
    strncpy(record->info.Symbol, symbol, sizeof record->info.Symbol - 1);
    record->info.TickSize = 0.01;
    record->firstUsedDate = FIRST_USED_NONE;
    record->dataSource = -1;
    for (int k = 0; k < BAR_SIZE_COUNT; k++) {
        std::vector<size_t> ends;
        if (k == 0)
            for (size_t i = 0; i < days.size(); i++) ends.push_back(i);
        else
            ends = PeriodLastIndexes(days, k);
        ASSERT_TRUE(AllocMemory(&record->bars[k], (ends.size() + 1) * sizeof(Bar)));
        size_t from = 0;
        for (size_t n = 0; n < ends.size(); n++) {
            Bar &bar = record->bars[k][n];
            size_t i = ends[n];
            bar.date = days[i];
            bar.time = 160000;
            bar.open = firstClose + (double)from;
            bar.close = firstClose + (double)i;
            bar.high = bar.close + 1;
            bar.low = bar.open - 1;
            for (size_t j = from; j <= i; j++) bar.volume += volumes.empty() ? 1000.0 : volumes[j];
            bar.split = 1.0;
            from = i + 1;
        }
        record->barCounts[k] = (int32_t)ends.size();
    }
    record->dailyCapacity = record->barCounts[0] + 1;
    record->firstDate = days.empty() ? 0 : days.front();
    record->lastDate = days.empty() ? 0 : days.back();
}

void InstallSymbols(std::vector<SymbolRecord> records)
{
    ASSERT_TRUE(AllocMemory(&gStore.symbols, (records.size() + 1) * sizeof(SymbolRecord)));
    if (!records.empty()) memcpy(gStore.symbols, records.data(), records.size() * sizeof(SymbolRecord));
    gStore.symbolCount = (int32_t)records.size();
    qsort(gStore.symbols, records.size(), sizeof(SymbolRecord), CompareSymbolNames);
}

void ResetStore()
{
    ResetSymbolStore();
    ResetCalendar();
    ResetHeadlessShell();
}
