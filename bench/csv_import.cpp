/* csv_import.cpp -- how fast a folder of price files imports, against a plain
** loop that reads the same files and parses the same numbers.
**
** The set-up writes (once) KV_BENCH_FILES (default 2,000) CSV files of 25
** years of daily bars each, with a header line Date,Open,High,Low,Close,Volume,
** in two folders: one with year-first dates (2024-01-02), one with the same
** bars under month-first dates (01/02/2024), which take the general date
** reader and the check of the order of day and month.
** BM_ImportFolder imports a folder through ImportFolder (every bar through
** AddBar, every symbol sorted and stored), the import begun and ended untimed.
** BM_PlainParse reads each file whole and parses its dates and numbers with
** std::from_chars into bars.  Both report bytes and bars per second; the
** import also runs the plain loop before each of its iterations and reports
** vs_plain, the ratio of the two times in the same run: the figure to watch
** (the aim: 3 or less for both date orders), with the sum of the last closes
** as a check that a faster import gives the same bars.  Argument 0 is the
** year-first folder, 1 the month-first one.
*/
#include <benchmark/benchmark.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/csv_import.h"
#include "marketdata/import/import_run.h"
#include "marketdata/store/data_load.h"
#include "platform/platform.h"
#include "script/compiler/import_items.h"
#include "services/services.h"

namespace {

enum { YEARS = 25 };

/* One folder of bench files: its dates year first or month first. */
struct BenchFolder {
    std::string folder;
    uint64_t bytes, bars;
};
BenchFolder gFolders[2];
int gFiles = 2000;

void WriteBenchFiles()
{
    if (!gFolders[0].folder.empty()) return;
    char value[32];
    if (PlatGetEnv("KV_BENCH_FILES", value, sizeof value)) gFiles = atoi(value);
    gSettings.ShowStatusBar = 0;
    gRun.unattended = 1;
    char base[260];
    if (!PlatGetEnv("TMPDIR", base, sizeof base)) CopyString(base, sizeof base, "/tmp", -1);
    CopyString(gProgramFolder, sizeof gProgramFolder, base, -1);
    std::vector<int32_t> days;
    for (int32_t d = 20000103; d < (2000 + YEARS) * 10000 + 101; d = NextDay(d))
        if (DayOfWeek(d) <= 5) days.push_back(d);
    for (int monthFirst = 0; monthFirst < 2; monthFirst++) {
        BenchFolder &set = gFolders[monthFirst];
        set.folder = std::string(base) + (monthFirst ? "\\kv_bench_csv_mdy" : "\\kv_bench_csv");
        PlatCreateFolder(set.folder.c_str());
        for (int k = 0; k < gFiles; k++) {
            char name[32];
            snprintf(name, sizeof name, "\\S%04d.csv", k);
            std::string path = set.folder + name;
            uint64_t existing = 0;
            /* Files left by an earlier run are used again (the folder is kept
        ** when KV_BENCH_KEEP is set). */
            if (PlatGetFileInfo(path.c_str(), &existing, nullptr) && existing > 0) {
                set.bytes += existing;
                set.bars += days.size();
                continue;
            }
            std::string text = "Date,Open,High,Low,Close,Volume\n";
            double price = 20.0 + k % 50;
            uint32_t state = 777u + (uint32_t)k;
            char line[128];
            for (int32_t d : days) {
                state = state * 214013u + 2531011u;
                double open = price;
                price *= 1.0 + (((state >> 16) & 0x7FFF) / 32767.0 - 0.5) * 0.04;
                char date[16];
                if (monthFirst)
                    snprintf(date, sizeof date, "%02d/%02d/%04d", d / 100 % 100, d % 100, d / 10000);
                else
                    snprintf(date, sizeof date, "%04d-%02d-%02d", d / 10000, d / 100 % 100, d % 100);
                int n = snprintf(line, sizeof line, "%s,%.2f,%.2f,%.2f,%.2f,%u\n", date, open,
                                 (open > price ? open : price) * 1.01, (open < price ? open : price) * 0.99, price,
                                 100000u + (state & 0xFFFF));
                text.append(line, (size_t)n);
            }
            PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
            uint32_t written = 0;
            PlatWriteFile(f, text.data(), (uint32_t)text.size(), &written);
            PlatCloseFile(f);
            set.bytes += text.size();
            set.bars += days.size();
        }
        fprintf(stderr, "%s: %d files, %.1f MB, %llu bars\n", monthFirst ? "month first" : "year first", gFiles,
                set.bytes / 1e6, (unsigned long long)set.bars);
    }
    if (!PlatGetEnv("KV_BENCH_KEEP", value, sizeof value))
        atexit([] {
            for (const BenchFolder &set : gFolders) {
                for (int k = 0; k < gFiles; k++) {
                    char name[32];
                    snprintf(name, sizeof name, "\\S%04d.csv", k);
                    PlatDeleteFile((set.folder + name).c_str());
                }
                PlatRemoveFolder(set.folder.c_str());
            }
        });
}

void Report(benchmark::State &state, const BenchFolder &set)
{
    state.SetBytesProcessed((int64_t)(set.bytes * state.iterations()));
    state.SetItemsProcessed((int64_t)(set.bars * state.iterations()));
}

/* The plain loop: each file read whole, its dates and numbers parsed with
** std::from_chars into bars (the three parts of a date in the folder's
** order).  The sum of the last closes. */
double PlainParse(int monthFirst)
{
    const std::string &folder = gFolders[monthFirst].folder;
    static std::vector<char> text;
    static std::vector<Bar> bars;
    double sum = 0.0;
    for (int k = 0; k < gFiles; k++) {
        char name[32];
        snprintf(name, sizeof name, "\\S%04d.csv", k);
        std::string path = folder + name;
        PlatFile f = PlatOpenFile(path.c_str(), PLAT_OPEN_READ);
        uint64_t size = 0;
        PlatGetFileSize(f, &size);
        text.resize(size);
        uint32_t got = 0;
        PlatReadFile(f, text.data(), (uint32_t)size, &got);
        PlatCloseFile(f);
        bars.clear();
        const char *p = (const char *)memchr(text.data(), '\n', size) + 1;
        const char *end = text.data() + size;
        while (p < end) {
            Bar b = {};
            int y = 0, m = 0, d = 0;
            p = std::from_chars(p, end, monthFirst ? m : y).ptr + 1;
            p = std::from_chars(p, end, monthFirst ? d : m).ptr + 1;
            p = std::from_chars(p, end, monthFirst ? y : d).ptr + 1;
            b.date = (y * 100 + m) * 100 + d;
            p = std::from_chars(p, end, b.open).ptr + 1;
            p = std::from_chars(p, end, b.high).ptr + 1;
            p = std::from_chars(p, end, b.low).ptr + 1;
            p = std::from_chars(p, end, b.close).ptr + 1;
            p = std::from_chars(p, end, b.volume).ptr + 1;
            bars.push_back(b);
        }
        sum += bars.back().close;
    }
    return sum;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

/* The import, timed; each iteration also runs the plain loop (untimed by
** the framework, timed here) right before it, so that the ratio compares
** the two under the same conditions. */
void BM_ImportFolder(benchmark::State &state)
{
    WriteBenchFiles();
    const int monthFirst = (int)state.range(0);
    const BenchFolder &set = gFolders[monthFirst];
    double importSeconds = 0, plainSeconds = 0, closes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto plainStart = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(PlainParse(monthFirst));
        plainSeconds += Seconds(plainStart);
        ResetImportState();
        int offset = 0, length = 0;
        ApplyImportItem(IMPKW_DATA_SOURCE, "CSV", 3, "", &offset, &length);
        ApplyImportItem(IMPKW_DATA_PATH, set.folder.c_str(), (int)set.folder.size(), "", &offset, &length);
        gImportState.StartDate = 19900101;
        gImportState.EndDate = 20301231;
        if (!BeginImport()) abort();
        ImportItem *row = (ImportItem *)gImportItems.items + 1;
        state.ResumeTiming();
        auto importStart = std::chrono::steady_clock::now();
        if (!ImportFolder(row) || gImport.count != gFiles) abort();
        importSeconds += Seconds(importStart);
        state.PauseTiming();
        for (int32_t s = 0; s < gImport.count; s++)
            closes += gStore.symbols[s].bars[BAR_DAILY][gStore.symbols[s].barCounts[BAR_DAILY] - 1].close;
        ReportImportMisses(0);
        state.ResumeTiming();
    }
    Report(state, set);
    state.counters["vs_plain"] = importSeconds / plainSeconds; /* the figure to watch: aim 3 or less */
    state.counters["closes"] = closes / (double)state.iterations();
}

void BM_PlainParse(benchmark::State &state)
{
    WriteBenchFiles();
    const int monthFirst = (int)state.range(0);
    for (auto _ : state) benchmark::DoNotOptimize(PlainParse(monthFirst));
    Report(state, gFolders[monthFirst]);
}

BENCHMARK(BM_ImportFolder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainParse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace
