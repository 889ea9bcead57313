/* bench_run.h -- the unattended run every test-run benchmark measures: the
** generated store of bench_store.h with a data file taken as loaded, the
** settings of a plain one-worker run, and the script written to
** /tmp/<name>/bench.kvs as the active script (benchmarks run in the native
** build only).  Returns the daily bars of the store. */
#pragma once
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "bench_store.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "services/services.h"

inline int64_t MakeBenchRun(int32_t symbols, int32_t years, const char *name, const char *script)
{
    gHeadless.captureLog = 1;
    gRun.unattended = 1;
    gSettings.MaxMemPct = 95;
    gSettings.ShowStatusBar = 0;
    gSettings.StatusBarFields = 4;
    gSettings.UseShortCircuit = 1;
    gSettings.NearZero = 1.0e-13;
    gSettings.BarSize2 = BAR_DAILY;
    gSettings.AccountSize = 1000000;
    gSettings.CalcThreads = 1;
    gSettings.KeepTrades = 1;

    int64_t bars = MakeBenchStore(symbols, years);
    gSettings.FirstDate = gStore.firstDate;
    gSettings.LastDate = gStore.lastDate;

    char folder[260];
    FormatText(folder, sizeof folder, "/tmp/%s", name);
    PlatCreateFolder(folder);
    CopyString(gScriptsFolder, sizeof gScriptsFolder, folder, -1);
    CopyString(gOutputFolder, sizeof gOutputFolder, folder, -1);
    CopyString(gLogsFolder, sizeof gLogsFolder, folder, -1);
    FormatText(gSettings.ActiveScript, sizeof gSettings.ActiveScript, "%s/bench.kvs", folder);
    PlatFile file = PlatOpenFile(gSettings.ActiveScript, PLAT_CREATE_WRITE);
    uint32_t written = 0;
    PlatWriteFile(file, script, (uint32_t)strlen(script), &written);
    PlatCloseFile(file);
    CopyString(gStore.loadedPath, sizeof gStore.loadedPath, "bench.kvd", -1);
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, "bench.kvd", -1);
    return bars;
}

/* The process's processor time: the machine may be busy with other work, and
** a run on one worker costs this whatever else runs. */
inline double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

inline double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}
