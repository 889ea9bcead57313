/* bar_lookup.cpp -- speed of FindBarIndex on a symbol of 25 years of daily bars:
** a date loop walking the market dates in order on one worker slot (the
** slot's hint makes each step constant time), the same walk on weekly bars
** with the open phase, and lookups of dates in random order. */
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"

namespace {

struct Fixture {
    SymbolRecord record{};
    std::vector<int32_t> days;
    Fixture()
    {
        for (int32_t d = 20000103; d <= 20241231; d = NextDay(d))
            if (DayOfWeek(d) <= 5) days.push_back(d);
        /* master daily list, so period first dates can be found */
        DateList &daily = gStore.dateLists[BAR_DAILY];
        AllocMemory(&daily.dates, (days.size() + 1) * sizeof(uint32_t));
        for (size_t i = 0; i < days.size(); i++) daily.dates[i] = (uint32_t)days[i];
        daily.count = (int32_t)days.size();
        daily.capacity = daily.count + 1;
        AllocMemory(&record.bars[BAR_DAILY], (days.size() + 1) * sizeof(Bar));
        AllocMemory(&record.bars[BAR_WEEKLY], (days.size() + 1) * sizeof(Bar));
        int32_t weeks = 0;
        for (size_t i = 0; i < days.size(); i++) {
            Bar &b = record.bars[BAR_DAILY][i];
            b.date = days[i];
            b.close = 100.0 + (double)(i % 50);
            b.volume = 1000;
            b.split = 1.0;
            if (i + 1 == days.size() || !SameBarPeriod(days[i], days[i + 1], BAR_WEEKLY))
                record.bars[BAR_WEEKLY][weeks++] = b;
        }
        record.barCounts[BAR_DAILY] = (int32_t)days.size();
        record.barCounts[BAR_WEEKLY] = weeks;
        record.firstDate = days.front();
        record.lastDate = days.back();
        record.firstUsedDate = FIRST_USED_NONE;
        strcpy(record.info.Symbol, "BENCH");
    }
};

Fixture &Data()
{
    static Fixture fixture;
    return fixture;
}

void BM_FindBarIndexInOrder(benchmark::State &state)
{
    Fixture &f = Data();
    int64_t checksum = 0;
    for (auto _ : state) {
        for (int32_t d : f.days) checksum += FindBarIndex(&f.record, BAR_DAILY, d, 3, 5, nullptr);
    }
    benchmark::DoNotOptimize(checksum);
    state.SetItemsProcessed(state.iterations() * (int64_t)f.days.size());
    state.counters["bars"] = (double)f.days.size();
    state.counters["checksum"] = (double)(checksum / state.iterations());
}

void BM_FindBarIndexWeeklyOpenInOrder(benchmark::State &state)
{
    Fixture &f = Data();
    int64_t checksum = 0;
    for (auto _ : state) {
        for (int32_t d : f.days) checksum += FindBarIndex(&f.record, BAR_WEEKLY, d, 1, 6, nullptr);
    }
    benchmark::DoNotOptimize(checksum);
    state.SetItemsProcessed(state.iterations() * (int64_t)f.days.size());
    state.counters["checksum"] = (double)(checksum / state.iterations());
}

void BM_FindBarIndexRandom(benchmark::State &state)
{
    Fixture &f = Data();
    std::mt19937 random(12345);
    std::vector<int32_t> dates(4096);
    for (int32_t &d : dates) d = f.days[random() % f.days.size()];
    int64_t checksum = 0;
    for (auto _ : state) {
        for (int32_t d : dates) checksum += FindBarIndex(&f.record, BAR_DAILY, d, 3, 7, nullptr);
    }
    benchmark::DoNotOptimize(checksum);
    state.SetItemsProcessed(state.iterations() * (int64_t)dates.size());
    state.counters["checksum"] = (double)(checksum / state.iterations());
}

} // namespace

BENCHMARK(BM_FindBarIndexInOrder);
BENCHMARK(BM_FindBarIndexWeeklyOpenInOrder);
BENCHMARK(BM_FindBarIndexRandom);
