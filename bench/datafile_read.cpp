/* datafile_read.cpp -- how fast the data file loads, against a plain read of
** the same file.
**
** The set-up writes (once) a data file of 2,000 symbols with 25 years of daily
** bars and the weekly, monthly, quarterly and yearly bars derived from them,
** about 1 GB, through SaveDataFile.  BM_LoadDataFile then reads it with the
** loader (unloading between runs, untimed); BM_PlainReadFresh reads the same
** bytes into one freshly allocated buffer, BM_PlainReadReused into a buffer
** whose pages are already mapped.  Each reports bytes per second and a
** checksum of what it read, so a faster loader that reads the wrong bytes
** shows up.  The file stays in the page cache, so the figures compare the
** work done in memory rather than the disk.
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "platform/platform.h"
#include "services/services.h"

namespace {

enum { SYMBOLS = 2000,
       YEARS = 25 };

std::string gPath;
uint64_t gFileSize = 0;

/* Index of the period each daily date belongs to, per derived size. */
struct Calendar {
    std::vector<int32_t> daily;
    std::vector<int32_t> periodOf[BAR_SIZE_COUNT];
    std::vector<int32_t> periodEnd[BAR_SIZE_COUNT];
};

Calendar MakeCalendar()
{
    Calendar cal;
    for (int32_t d = 20000103; d < (2000 + YEARS) * 10000 + 101; d = NextDay(d))
        if (DayOfWeek(d) <= 5) cal.daily.push_back(d);
    for (int size = 0; size < BAR_SIZE_COUNT; size++) {
        int32_t prev = 0;
        for (int32_t d : cal.daily) {
            /* calendar periods, as the import derives them */
            if (!prev || !SameBarPeriod(prev, d, size))
                cal.periodEnd[size].push_back(d);
            else
                cal.periodEnd[size].back() = d;
            cal.periodOf[size].push_back((int32_t)cal.periodEnd[size].size() - 1);
            prev = d;
        }
    }
    return cal;
}

void FillSymbol(SymbolRecord *r, const Calendar &cal, int k)
{
    FormatText(r->info.Symbol, sizeof r->info.Symbol, "S%04d", k);
    FormatText(r->info.Name, sizeof r->info.Name, "Symbol %d Inc", k);
    CopyString(r->info.Type, sizeof r->info.Type, "Stock", -1);
    r->info.PointValue = 1.0;
    r->info.TickSize = 0.01;
    r->info.PriceMult = 1.0;
    int32_t n = (int32_t)cal.daily.size();
    for (int size = 0; size < BAR_SIZE_COUNT; size++) {
        int32_t count = (int32_t)cal.periodEnd[size].size();
        if (!AllocMemory(&r->bars[size], (uint64_t)(count + 1) * sizeof(Bar))) abort();
        r->barCounts[size] = count;
    }
    double price = 20.0 + k % 50;
    uint32_t state = 12345u + (uint32_t)k;
    for (int32_t i = 0; i < n; i++) {
        state = state * 214013u + 2531011u;
        double move = ((double)((state >> 16) & 0x7FFF) / 32767.0 - 0.5) * 0.04;
        double open = price;
        price *= 1.0 + move;
        Bar day = {cal.daily[i], 160000, open, (open > price ? open : price) * 1.01, (open < price ? open : price) * 0.99,
                   price, 1e5 + (double)(state & 0xFFFF), 0.0, 1.0};
        r->bars[BAR_DAILY][i] = day;
        for (int size = 1; size < BAR_SIZE_COUNT; size++) {
            Bar &b = r->bars[size][cal.periodOf[size][i]];
            if (b.date == 0) {
                b = day;
            } else {
                b.high = b.high > day.high ? b.high : day.high;
                b.low = b.low < day.low ? b.low : day.low;
                b.close = day.close;
                b.volume += day.volume;
            }
            b.date = day.date;
        }
    }
    r->firstDate = cal.daily.front();
    r->lastDate = cal.daily.back();
    r->dataSource = 2;
}

void WriteBenchFile()
{
    if (!gPath.empty()) return;
    gSettings.ShowStatusBar = 0;
    gRun.unattended = 1;
    char base[260];
    if (!PlatGetEnv("TMPDIR", base, sizeof base)) CopyString(base, sizeof base, "/tmp", -1);
    gPath = std::string(base) + "\\kv_bench_datafile.kvd";
    CopyString(gProgramFolder, sizeof gProgramFolder, base, -1); /* where an error log would go */

    UnloadData();
    Calendar cal = MakeCalendar();
    for (int size = 0; size < BAR_SIZE_COUNT; size++) {
        DateList &list = gStore.dateLists[size];
        FreeMemory(&list.dates);
        int32_t count = (int32_t)cal.periodEnd[size].size();
        if (!AllocMemory(&list.dates, (uint64_t)(count + 1) * 4)) abort();
        for (int32_t i = 0; i < count; i++) list.dates[i] = (uint32_t)cal.periodEnd[size][i];
        list.count = count;
        list.capacity = count + 1;
    }
    if (!AllocMemory(&gStore.symbols, (uint64_t)(SYMBOLS + 1) * sizeof(SymbolRecord))) abort();
    gStore.symbolCount = SYMBOLS;
    for (int k = 0; k < SYMBOLS; k++) FillSymbol(&gStore.symbols[k], cal, k);
    if (!SaveDataFile(gPath.c_str(), nullptr)) abort();
    UnloadData();
    PlatGetFileInfo(gPath.c_str(), &gFileSize, nullptr);
    atexit([] { PlatDeleteFile(gPath.c_str()); });
    fprintf(stderr, "data file: %s, %.1f MB, %d symbols, %zu daily bars each\n", gPath.c_str(), gFileSize / 1e6,
            SYMBOLS, cal.daily.size());
}

uint64_t LoadedChecksum()
{
    uint64_t sum = 0;
    for (int32_t i = 0; i < gStore.symbolCount; i++)
        for (int size = 0; size < BAR_SIZE_COUNT; size++) {
            const Bar *b = gStore.symbols[i].bars[size];
            int32_t n = gStore.symbols[i].barCounts[size];
            sum += (uint64_t)b[n - 1].date + (uint64_t)(b[n / 2].close * 1000.0);
        }
    return sum;
}

/* Decimal megabytes per second of wall time over the run. */
void ReportRate(benchmark::State &state)
{
    state.SetBytesProcessed((int64_t)(state.iterations() * gFileSize));
    state.counters["MB/s"] = benchmark::Counter((double)state.iterations() * (double)gFileSize / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_LoadDataFile(benchmark::State &state)
{
    WriteBenchFile();
    uint64_t checksum = 0;
    for (auto _ : state) {
        if (!ReadDataFile(gPath.c_str(), 0)) {
            state.SkipWithError("load failed");
            break;
        }
        state.PauseTiming();
        checksum = LoadedChecksum();
        UnloadData();
        state.ResumeTiming();
    }
    ReportRate(state);
    state.counters["checksum"] = (double)checksum;
}

/* Reads the whole file into buffer with the platform layer; the byte sum of a
** sample keeps the read from being optimised away. */
uint64_t PlainRead(uint8_t *buffer)
{
    PlatFile f = PlatOpenFile(gPath.c_str(), PLAT_OPEN_READ);
    if (!f) abort();
    uint64_t done = 0;
    while (done < gFileSize) {
        uint64_t left = gFileSize - done;
        uint32_t chunk = left > (1u << 30) ? (1u << 30) : (uint32_t)left;
        uint32_t got = 0;
        if (!PlatReadFile(f, buffer + done, chunk, &got) || got == 0) abort();
        done += got;
    }
    PlatCloseFile(f);
    return (uint64_t)buffer[gFileSize / 2] + buffer[gFileSize - 1];
}

void BM_PlainReadFresh(benchmark::State &state)
{
    WriteBenchFile();
    uint64_t sample = 0;
    for (auto _ : state) {
        uint8_t *buffer = (uint8_t *)malloc(gFileSize);
        sample += PlainRead(buffer);
        state.PauseTiming();
        free(buffer);
        state.ResumeTiming();
    }
    ReportRate(state);
    benchmark::DoNotOptimize(sample);
}

void BM_PlainReadReused(benchmark::State &state)
{
    WriteBenchFile();
    std::vector<uint8_t> buffer(gFileSize);
    uint64_t sample = 0;
    for (auto _ : state) sample += PlainRead(buffer.data());
    ReportRate(state);
    benchmark::DoNotOptimize(sample);
}

} // namespace

BENCHMARK(BM_LoadDataFile)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_PlainReadFresh)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_PlainReadReused)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
