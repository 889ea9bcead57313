/* hold_points.cpp -- where the programs' tests hold a running program. */
#include "shell/hold_points.h"

#include <cstring>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "marketdata/store/datafile.h"
#include "platform/platform.h"
#include "shell/command_line.h"
#include "views/test_report.h"

static struct {
    char point[32];
    char path[PATH_SIZE];
} sHold;

void HoldAt(const char *point)
{
    if (!sHold.path[0] || strcmp(sHold.point, point) != 0) return;
    PlatFile pipe = PlatOpenFile(sHold.path, PLAT_OPEN_READ);
    if (!pipe) return;
    char buffer[64];
    uint32_t got = 0;
    while (PlatReadFile(pipe, buffer, sizeof buffer, &got) && got > 0) {
    }
    PlatCloseFile(pipe);
}

static void HoldBeforeRun(int runIndex)
{
    if (runIndex > 0) HoldAt("next-run");
}

static void HoldBeforeResultsSave(const char *) { HoldAt("results-save"); }
static void HoldWhileResultsGuardHeld(const char *) { HoldAt("results-guard"); }
static void HoldWhenResultsGuardBusy(const char *) { HoldAt("results-busy"); }
static void HoldWhileResultsLoad(const char *) { HoldAt("results-load"); }
static void HoldWhileDataSave(const char *) { HoldAt("data-save"); }
static void HoldWhileReportPage(const char *) { HoldAt("report-page"); }
static void HoldWhileReportList(const char *) { HoldAt("report-list"); }
static void HoldWhenReportListBusy(const char *) { HoldAt("report-busy"); }
static void HoldInTest() { HoldAt("test-date"); }

void ReadHoldPoint()
{
    char hold[sizeof sHold.point + sizeof sHold.path];
    if (!PlatGetEnv("KV_HOLD_AT", hold, sizeof hold)) return;
    const char *blank = strchr(hold, ' ');
    if (!blank || (size_t)(blank - hold) >= sizeof sHold.point || strlen(blank + 1) >= sizeof sHold.path) return;
    memcpy(sHold.point, hold, (size_t)(blank - hold));
    sHold.point[blank - hold] = 0;
    CopyString(sHold.path, sizeof sHold.path, blank + 1, -1);
    gBeforeBatchRun = HoldBeforeRun;
    gBeforeResultsSave = HoldBeforeResultsSave;
    gResultsGuardHeld = HoldWhileResultsGuardHeld;
    gResultsGuardBusy = HoldWhenResultsGuardBusy;
    gResultsLoadHeld = HoldWhileResultsLoad;
    gDataFileTempHeld = HoldWhileDataSave;
    gReportPageHeld = HoldWhileReportPage;
    gTestDateHeld = HoldInTest;
    gReportListHeld = HoldWhileReportList;
    gReportListBusy = HoldWhenReportListBusy;
}
