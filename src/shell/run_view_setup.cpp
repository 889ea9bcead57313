/* run_view_setup.cpp -- the view routines both programs hand to the run.
** Window-only views (trade-list window, live graph) are filled by the window
** program's own start-up after this. */
#include "shell/run_view_setup.h"

#include "engine/run_view_hooks.h"
#include "views/stats_export.h"
#include "views/test_report.h"

void InstallRunViewHooks()
{
    gRunViewHooks.saveStatsCsv = SaveStatsCsv;
    gRunViewHooks.saveTradesCsv = SaveTradesCsv;
    gRunViewHooks.writeTestReport = WriteRunReport;
    gRunViewHooks.showStatLines = ShowStatLines;
}
