/* run_view_setup.cpp -- the view routines both programs hand to the run.
** Window-only views (trade-list window, live graph) are filled by the window
** program's own start-up after this. */
#include "shell/run_view_setup.h"

#include <vector>

#include "engine/run_view_hooks.h"
#include "views/results_rows.h"
#include "views/scan_run.h"
#include "views/stats_export.h"
#include "views/test_report.h"

/* The row's texts are the window's business; the run wants the values it computes. */
static void FillRowForRun(ResultsWindow *window, TestRecord *test)
{
    std::vector<char[RESULTS_CELL_SIZE]> cells((size_t)CountResultsListColumns(window));
    FillResultsRow(window, test, cells.data(), (int32_t)cells.size());
}

/* SaveTestListAs where there is no results window to save from; the window
** program puts its own list's writer in its place. */
static void SaveTestListForRun(ResultsWindow *window, const char *path) { SaveResultsListCsv(window, path); }

void InstallRunViewHooks()
{
    gRunViewHooks.saveTestList = SaveTestListForRun;
    gRunViewHooks.fillResultsRow = FillRowForRun;
    gRunViewHooks.saveStatsCsv = SaveStatsCsv;
    gRunViewHooks.saveTradesCsv = SaveTradesCsv;
    gRunViewHooks.writeTestReport = WriteRunReport;
    gRunViewHooks.showStatLines = ShowStatLines;
    gRunViewHooks.openTestScan = OpenTestScanList;
    gRunViewHooks.scanTestDate = ScanTestDate;
    gRunViewHooks.finishTestScan = FinishTestScanList;
}
