/* results_file_fuzz.cpp -- libFuzzer target for the results file reader: any
** bytes as a .kvr file, loaded, checked and closed.  Whatever the bytes, the
** load either fails (0, with a message) or gives a list whose every test has
** its arrays and a consistent set of counts, whose monthly table and trade
** list the views can make; closing the list gives back every byte.  Seeds in fuzz/seeds/results_file_fuzz/ are replayed by the
** normal test build.
*/
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "fuzz_input.h"
#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "views/test_report.h"
#include "views/trade_rows.h"

/* What the views make of any test that loads: the report's monthly table
** and the trade list's fixed cells. */
static void ShowTest(TestRecord *t)
{
    std::string table;
    WriteMonthlyGainsTable(t, &table);
    CellListWindow list = {};
    list.test = t;
    BuildTradeList(&list, 1);
    FreeListWindow(&list);
}

static const char *CheckList(const ResultsWindow *w)
{
    int32_t n = 0;
    for (const TestRecord *t = w->firstTest; t; t = t->next, n++) {
        if (t->strategyCount < 0 || t->parameterCount < 0 || t->rowsFilled < 0 || t->rowsFilled > t->rowCount)
            return "counts out of range";
        if (!t->strategies || !t->parameters || !t->cells) return "an array is missing";
        if (TrackedBlockSize(t->cells) < (uint64_t)t->rowCount * t->strategyCount * sizeof(StatCell))
            return "the cell grid is smaller than its rows";
        if (t->tradeCount && TrackedBlockSize(t->trades) < (uint64_t)t->tradeCount * sizeof(TradeRecord))
            return "the trade array is smaller than its count";
        if (t->mainStrategy < 0 || (t->strategyCount > 0 && t->mainStrategy >= t->strategyCount))
            return "main strategy outside the strategies";
        if (t->settings.scriptText && !t->settings.scriptTextLength && !t->wholeNamesSize)
            return "script text without length";
        if (t->wholeNamesSize && (!t->settings.scriptText || PathTooLong(TestScriptName(t)) ||
                                  PathTooLong(TestDataFileName(t))))
            return "whole names that do not fit a path";
    }
    return n == w->testCount ? nullptr : "test count differs from the list";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string file = FuzzInputFile("kv_results_fuzz", ".kvr", data, size);
    if (file.empty()) return 0;
    const char *path = file.c_str();

    const uint64_t baseline = gAllocatedBytes.load();
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    const int unattended = gRun.unattended;
    gRun.unattended = 0;
    const char *why = nullptr;
    if (LoadResultsFile(path, 0)) {
        ResultsWindow *w = FindResultsWindowByPath(path);
        if (!w)
            why = "a load that succeeded left no list";
        else
            why = CheckList(w);
        for (TestRecord *t = w && !why ? w->firstTest : nullptr; t; t = t->next) ShowTest(t);
        CloseResultsWindow(w);
    } else if (!gHeadless.messageCount) {
        why = "a failed load said nothing";
    }
    if (!why && gAllocatedBytes.load() != baseline) why = "closing the list did not free everything";
    gRun.unattended = unattended;
    ResetHeadlessShell();
    PlatDeleteFile(path);
    if (why) return FuzzCheckFailed(why);
    return 0;
}
