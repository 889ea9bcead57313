/* results_window.cpp -- the results window: one row a test of a results
** list, the hub from which every per-test view opens. */
#include "views/win32/result_windows.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "engine/date_loop.h"
#include "foundation/win32/window_text.h"
#include "engine/optimizer.h"
#include "engine/results_file.h"
#include "engine/run_view_hooks.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "records/chart_record.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/settings_items.h"
#include "script/eval/eval_context.h"
#include "services/services.h"
#include "shell/help_topics.h"
#include "shell/kind_menu_rules.h"
#include "views/win32/view_windows.h"
#include "views/res_graph.h"
#include "views/results_rows.h"
#include "views/scan_charts.h"
#include "views/scan_run.h"
#include "views/stats_export.h"
#include "views/test_report.h"
#include "views/trade_compare.h"
#include "views/trade_plot.h"
#include "views/win32/graph_paint.h"
#include "views/win32/plot_windows.h"

enum { RESULTS_TIMER_ID = 0x5201,
       RESULTS_TIMER_MS = 250 };

/* The window's record: its results list, the list view's sort keys and its
** rows.  The list view asks for the texts of the rows it draws (a virtual
** list), so a list of 10,000 tests is sorted, opened and closed at the cost
** of its pointers and of one page of cells, not of a message per cell. */
struct ResultsHost {
    ResultsWindow *list;
    uint8_t sortPriorities[LIST_MAX_SORT_COLUMNS];
    uint8_t sortDirections[LIST_MAX_SORT_COLUMNS];
    int32_t shownColumns; /* list columns at the last setup */
    TestRecord **rows;    /* the list's tests in the order shown; null: freed since the last sync */
    int32_t rowCount;
    int32_t rowCapacity;
    int32_t freedHint;          /* where the last freed test was found */
    char cell[RESULTS_CELL_SIZE]; /* the text last handed to the list view */
};

static ResultsHost *HostOf(HWND window)
{
    return (ResultsHost *)GetWindowLongPtrA(window, GWLP_USERDATA);
}

ResultsWindow *ResultsListOf(HWND window)
{
    ResultsHost *host = window ? HostOf(window) : nullptr;
    return host ? host->list : nullptr;
}

HWND FindResultsHwnd(const ResultsWindow *list)
{
    HWND child = nullptr;
    while (list && FindNextChildWindow(&child, "KestovarResults")) {
        const ResultsHost *host = HostOf(child);
        if (host && host->list == list) return child;
    }
    return nullptr;
}

/* ---- columns and rows -------------------------------------------------------------- */

static void SetupResultsColumns(HWND window)
{
    ResultsHost *host = HostOf(window);
    HWND view = GetListViewOf(window);
    HWND header = ListView_GetHeader(view);
    const int existing = header ? Header_GetItemCount(header) : 0;
    const int columns = CountResultsListColumns(host->list);
    /* The fixed columns are made once; the others follow the script's
    ** Results columns and the list's parameters. */
    for (int c = existing ? RESULTS_FIXED_COLUMNS : 0; c < columns; c++) {
        SetColumn(view, ResultsColumnHeading(host->list, c), c == 0 ? LVCFMT_LEFT : LVCFMT_CENTER, c, c >= existing);
        if (c >= existing) ListView_SetColumnWidth(view, c, 96);
    }
    for (int c = existing - 1; c >= columns; c--) ListView_DeleteColumn(view, c);
    host->shownColumns = columns;
}

static TestRecord *RowTest(HWND window, int row)
{
    const ResultsHost *host = HostOf(window);
    return host && row >= 0 && row < host->rowCount ? host->rows[row] : nullptr;
}

/* Brings the rows in line with the list, which shows newest first: row 0 is
** the list's last test.  A test whose statistics do not fit the Results
** columns compiled now is computed as it comes in (refill: every test, as
** after a recompile); the others are shown as stored, so a sort only
** reorders pointers.  New rows re-fit the widths (tests a run adds on top of
** those shown widen only the columns they do not fit) and the newest is
** selected, as each test a run adds heads the list; a caller that only moved
** or removed rows (a sort, a deletion: moved 1) keeps the widths and selects
** its own row, so the list does not jump away and back. */
static void SyncResultsRows(HWND window, int refill, int moved = 0)
{
    ResultsHost *host = HostOf(window);
    if (!host || !host->list) return;
    HWND view = GetListViewOf(window);
    ResultsWindow *list = host->list;
    const int32_t columns = CountResultsListColumns(list);
    const bool newColumns = columns != host->shownColumns || refill;
    if (newColumns) SetupResultsColumns(window);
    /* The rows shown, from the bottom up, against the list's tests from its start. */
    int32_t matched = 0;
    TestRecord *t = list->firstTest;
    for (; t && matched < host->rowCount && host->rows[host->rowCount - 1 - matched] == t; t = t->next) matched++;
    const bool appended = matched == host->rowCount; /* the rows shown are still the list's first tests */
    int32_t added = 0;
    if (!appended || t || newColumns) {
        if (list->testCount > host->rowCapacity) {
            const int32_t capacity = list->testCount + list->testCount / 2 + 16;
            if (!ReallocMemory(&host->rows, (uint64_t)capacity * sizeof(TestRecord *))) return;
            host->rowCapacity = capacity;
        }
        int32_t n = 0;
        for (t = list->lastTest; t && n < host->rowCapacity; t = t->previous) {
            if (refill || !ResultsRowFilled(t)) FillResultsRow(list, t, nullptr, 0);
            host->rows[n++] = t;
        }
        added = newColumns || !appended ? n : n - matched;
        host->rowCount = n;
        host->freedHint = 0;
        if (!appended || newColumns) ClearListSelection(view);
        ListView_SetItemCountEx(view, n, LVSICF_NOSCROLL);
        InvalidateRect(view, nullptr, TRUE);
    }
    /* Tests that only came on top of the ones shown (a run adding its tests)
    ** widen the columns they do not fit; measuring every row again on each
    ** tick of a long optimization would cost the whole list per tick. */
    if (added && !moved) {
        if (appended && !newColumns && matched > 0)
            WidenColumnsToRows(view, 0, added);
        else
            AutoSizeColumns(view);
        SelectItem(window, 0);
    }
    char title[320];
    FormatText(title, sizeof title, "%s", list->title);
    char shown[320] = "";
    GetWindowTitle(window, shown, sizeof shown);
    if (strcmp(title, shown) != 0) {
        SetWindowTitle(window, title);
        UpdateWindowTab(window);
    }
}

/* The list view asks for the cells it draws or reads. */
static const char *ResultsCell(HWND window, int row, int column)
{
    ResultsHost *host = HostOf(window);
    if (!host) return "";
    ResultsCellText(host->list, RowTest(window, row), column, host->cell);
    return host->cell;
}

/* Drops the test from the rows of its list's windows; the row stays empty
** until the next sync.  A list freed in its order finds each test at once. */
static void DropFreedRow(const ResultsWindow *results, const TestRecord *test)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarResults")) {
        ResultsHost *host = HostOf(child);
        if (!host || host->rowCount == 0 || (results && host->list != results)) continue;
        for (int32_t k = 0; k < host->rowCount; k++) {
            const int32_t at = (host->freedHint + k) % host->rowCount;
            if (host->rows[at] != test) continue;
            host->rows[at] = nullptr;
            host->freedHint = at + 1 < host->rowCount ? at + 1 : 0;
            ListView_RedrawItems(GetListViewOf(child), at, at);
            break;
        }
    }
}

/* ---- windows of the lists ---------------------------------------------------------------- */

static HWND CreateResultsHwnd(ResultsWindow *list)
{
    ResultsHost *host = nullptr;
    if (!AllocMemory(&host, sizeof *host)) return nullptr;
    host->list = list;
    HWND child = CreateMdiChild("KestovarResults", list->title, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                gSettings.iResW > 0 ? gSettings.iResW : CW_USEDEFAULT,
                                gSettings.iResH > 0 ? gSettings.iResH : CW_USEDEFAULT, host);
    if (!child) {
        FreeMemory(&host);
        return nullptr;
    }
    SyncResultsRows(child, 0);
    ShowWindow(child, SW_SHOW);
    UpdateWindowTab(child);
    return child;
}

void SyncResultsWindows()
{
    /* The lists a run may have opened: the first one and the one the script names. */
    ResultsWindow *candidates[2] = {FirstResultsWindow(),
                                    gResultsFileName[0] ? FindResultsWindowByPath(gResultsFileName) : nullptr};
    for (ResultsWindow *list : candidates)
        if (list && !FindResultsHwnd(list)) CreateResultsHwnd(list);
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarResults")) {
        ResultsHost *host = HostOf(child);
        if (host && host->list && !host->list->open) {
            host->list = nullptr; /* the list was closed under the window */
            PostMessageA(child, WM_CLOSE, 0, 0);
        } else {
            SyncResultsRows(child, 0);
        }
    }
}

int OpenResultsWindow(const char *path)
{
    ResultsWindow *list = nullptr;
    if (path) {
        if (!LoadResultsFile(path, 0)) return 0;
        list = FindResultsWindowByPath(path);
    } else {
        list = CreateResultsWindow(0, nullptr);
    }
    if (!list) return 0;
    HWND child = FindResultsHwnd(list);
    if (!child) child = CreateResultsHwnd(list);
    if (child) SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)child, 0);
    return child != nullptr;
}

void RecalculateAllResults()
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarResults")) SyncResultsRows(child, 1);
}

/* ---- selection and per-test actions ------------------------------------------------------ */

int GetSelectedTest(HWND window, TestRecord **test)
{
    HWND view = GetListViewOf(window);
    const int row = view ? ListView_GetNextItem(view, -1, LVNI_SELECTED) : -1;
    *test = row >= 0 ? RowTest(window, row) : nullptr;
    if (*test) gCurrentTest = *test;
    return *test ? row : -1;
}

static void RunSelectedTestAction(HWND window, int command, int flag = 0);

/* Whether a window shows the test, read from its kind's own record: a chart
** of a trade or compare row shows it when its owner does, or when that owner
** is already gone (the chart then waits for a close that was only posted,
** and must not outlive the rows and trades it points into); a results graph
** shows every test of its results list; a script window shows the test whose
** own script it holds read-only. */
template <typename Shows> static bool WindowShows(HWND window, const ResultsWindow *results, Shows shows)
{
    char name[64];
    if (!GetClassNameA(window, name, sizeof name)) return false;
    const LONG_PTR data = GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!data) return false;
    if (strcmp(name, "KestovarTrades") == 0) return shows(((const CellListWindow *)data)->test);
    if (strcmp(name, "KestovarCompare") == 0) {
        const CompareWindow *compare = (const CompareWindow *)data;
        return shows(compare->test1) || shows(compare->test2);
    }
    if (strcmp(name, "KestovarGraph") == 0) return shows(((const GraphWindow *)data)->test);
    if (strcmp(name, "KestovarPlot") == 0) return shows(((const PlotWindow *)data)->test);
    if (strcmp(name, "KestovarResGraph") == 0) return results && ((const ResGraphWindow *)data)->owner == results;
    if (strcmp(name, "KestovarScript") == 0) return shows(ScriptWindowTest(window));
    if (strcmp(name, "KestovarChart") == 0) {
        const ChartWindow *chart = (const ChartWindow *)data;
        if (chart->kind != CHART_KIND_TRADE && chart->kind != CHART_KIND_COMPARE) return false;
        if (shows((const TestRecord *)chart->ownerTest)) return true;
        HWND owner = (HWND)chart->owner;
        return owner && (!IsWindow(owner) || WindowShows(owner, results, shows));
    }
    return shows((const TestRecord *)data);
}

static bool WindowShowsTest(HWND window, const ResultsWindow *results, const TestRecord *test)
{
    return WindowShows(window, results, [test](const TestRecord *shown) { return shown && shown == test; });
}

HWND FindTestViewWindow(const ResultsWindow *results, const TestRecord *test, const char *className)
{
    if (!test || !gFrame.mdiClient) return nullptr;
    char name[64];
    for (HWND child = GetWindow(gFrame.mdiClient, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetParent(child) != gFrame.mdiClient || !GetClassNameA(child, name, sizeof name)) continue;
        if (className && strcmp(name, className) != 0) continue;
        if (WindowShowsTest(child, results, test)) return child;
    }
    return nullptr;
}

/* Set while the tests being freed show in no window any more: the frame is
** taking every window down, or a whole list had its views closed at once. */
static int sResultsDestroying;

/* Closes, in one walk of the windows, every window that shows a test of the
** list (and its results graph), so that freeing a whole list costs no walk
** of the windows per test. */
static void CloseListViews(const ResultsWindow *results)
{
    std::unordered_set<const TestRecord *> tests;
    for (const TestRecord *t = results->firstTest; t; t = t->next) tests.insert(t);
    auto shows = [&tests](const TestRecord *shown) { return shown && tests.count(shown) != 0; };
    for (bool closed = true; closed && gFrame.mdiClient;) {
        closed = false;
        for (HWND child = GetWindow(gFrame.mdiClient, GW_CHILD); child && !closed; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetParent(child) != gFrame.mdiClient || !WindowShows(child, results, shows)) continue;
            /* Closing one window may close others: the walk starts again. */
            SendMessageA(child, WM_CLOSE, 0, 0);
            if (IsWindow(child)) DestroyWindow(child);
            closed = true;
        }
    }
}

/* Frees every test of the window's list after closing their views at once;
** the rows go first, so that freeing a test finds no row of it either. */
static void FreeListTests(HWND window, ResultsHost *host, bool close)
{
    CloseListViews(host->list);
    host->rowCount = 0;
    ListView_SetItemCountEx(GetListViewOf(window), 0, 0);
    sResultsDestroying = 1;
    if (close)
        CloseResultsWindow(host->list);
    else
        DeleteAllTests(host->list);
    sResultsDestroying = 0;
}

/* Closes every window that shows the test and drops the results rows that
** point at it; FreeTestRecord calls it before the test is freed, on every
** path: Delete Test, Delete All, closing the list, an optimization's clear
** and keep-best trimming. */
static void CloseTestViews(ResultsWindow *results, TestRecord *test)
{
    if (sResultsDestroying || !gFrame.mdiClient) return;
    HWND view;
    while ((view = FindTestViewWindow(results, test, nullptr)) != nullptr) {
        SendMessageA(view, WM_CLOSE, 0, 0);
        if (IsWindow(view)) DestroyWindow(view);
    }
    DropFreedRow(results, test);
}

static HWND FindTradeListOf(const TestRecord *test)
{
    return FindTestViewWindow(nullptr, test, "KestovarTrades");
}

void RunResultsActionOnRow(HWND window, int delta, int command)
{
    if (!window) return; /* the list went before the view that asks */
    MoveListSelection(window, delta, 0);
    RunSelectedTestAction(window, command, 1);
}

static void ShowTestItem(HWND window, TestRecord *test, int command, int flag)
{
    ResultsHost *host = HostOf(window);
    switch (command) {
    case IDM_RESULTS_GRAPHS: OpenStatsGraph(host ? host->list : nullptr, test, flag); break;
    case IDM_RESULTS_PLOTS: OpenTradePlotWindow(host ? host->list : nullptr, test, flag); break;
    case IDM_LOG_TEST_SETTINGS: LogTestSettings(test); break;
    case IDM_RESULTS_REPORT: WriteTestReport(test); break;
    case IDM_RESULTS_TRADES: {
        HWND list = FindTradeListOf(test);
        if (list)
            SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)list, 0);
        else if (test->tradeCount > 0 && test->trades)
            OpenTradeList(test);
        else
            ReportError("Unable to show trade list. This test either had no trades or was run with the option to not "
                        "store them.");
        break;
    }
    case IDM_SHOW_TEST_SCRIPT:
        /* The test's own script, read-only in a script window of its own:
        ** no file is written, so none reaches the recent or open files. */
        if (test->settings.scriptText && test->settings.scriptTextLength > 1)
            OpenScript(nullptr, test);
        else
            ReportError("Script contents are not saved in tests run as part of an optimization.");
        break;
    default: break;
    }
}

static void RunSelectedTestAction(HWND window, int command, int flag)
{
    if (command == 0) command = IDM_RESULTS_GRAPHS;
    if ((gRun.state == RUN_IMPORT || gRun.state == RUN_LOADING) &&
        (command == IDM_RESULTS_GRAPHS || command == IDM_RESULTS_PLOTS || command == IDM_RESULTS_TRADES)) {
        ReportError("Please wait until data has finished loading.");
        return;
    }
    HWND view = GetListViewOf(window);
    const int row = view ? ListView_GetNextItem(view, -1, LVNI_SELECTED) : -1;
    if (row < 0) return;
    TestRecord *test = RowTest(window, row);
    if (!test) {
        ReportError("Internal Error: test data not accessible.");
        return;
    }
    gCurrentTest = test;
    ShowTestItem(window, test, command, flag);
}

static void DeleteSelectedTest(HWND window)
{
    ResultsHost *host = HostOf(window);
    TestRecord *test = nullptr;
    const int row = GetSelectedTest(window, &test);
    if (!host || !host->list || row < 0) return;
    HWND view = GetListViewOf(window);
    std::vector<int32_t> dropped((size_t)host->list->columnCount + 1);
    const int32_t count = DeleteTestFromResults(host->list, test, dropped.data());
    for (int32_t k = 0; k < count; k++) ListView_DeleteColumn(view, dropped[(size_t)k]);
    host->shownColumns -= count;
    SyncResultsRows(window, 0, 1);
    if (!host->list->firstTest) {
        memset(host->sortPriorities, 0, sizeof host->sortPriorities);
        memset(host->sortDirections, 0, sizeof host->sortDirections);
        ShowSortArrows(view, host->sortPriorities, host->sortDirections);
    } else {
        SelectItem(window, std::min(row, ListView_GetItemCount(view) - 1));
    }
    UpdateDebugPanelControls();
}

static void DeleteAllResults(HWND window)
{
    ResultsHost *host = HostOf(window);
    if (!host || !host->list) return;
    if (gSettings.AskDeleteTests &&
        MessageBoxFormat(MB_YESNO | MB_ICONQUESTION, "Delete all the test results in this window?") != IDYES)
        return;
    FreeListTests(window, host, false);
    SyncResultsRows(window, 1);
}

/* Sorts the list itself, so its saved order is the order shown. */
static void SortResults(HWND window, int column)
{
    ResultsHost *host = HostOf(window);
    HWND view = GetListViewOf(window);
    if (!host || !host->list || column < 0 || column >= LIST_MAX_SORT_COLUMNS) return;
    UpdateSortKeys(view, column, host->sortPriorities, host->sortDirections);
    ResultsWindow *list = host->list;
    list->keyCount = 0;
    for (int c = 0; c < RESULTS_SORT_KEY_MAX; c++) {
        list->sortKeys[c] = host->sortPriorities[c];
        list->sortDescending[c] = host->sortDirections[c];
        if (list->sortKeys[c] > list->keyCount) list->keyCount = list->sortKeys[c];
    }
    SortResultsRows(list);
    SyncResultsRows(window, 0, 1);
    SelectItem(window, 0);
    ShowSortArrows(view, host->sortPriorities, host->sortDirections);
}

/* ---- rename dialog ---------------------------------------------------------------------- */

/* The dialog renames the selected test of the results window it was opened
** from (its parameter): the one the user gave the command in. */
static INT_PTR CALLBACK RenameTestDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    static HWND sWindow;
    static TestRecord *sTest;
    if (message == WM_INITDIALOG) {
        sWindow = (HWND)lParam;
        sTest = nullptr;
        if (!sWindow || GetSelectedTest(sWindow, &sTest) < 0) {
            EndDialog(dialog, 2);
            return TRUE;
        }
        char title[64];
        FormatText(title, sizeof title, "Rename Test %4.4d", sTest->testNumber);
        SetWindowTextA(dialog, title);
        SetItemText(dialog, IDC_RENAME_TEXT, sTest->settings.TestName);
        SendDlgItemMessageA(dialog, IDC_RENAME_TEXT, EM_LIMITTEXT, 79, 0);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    if (LOWORD(wParam) == IDOK) {
        /* A name longer than the record holds keeps its whole letters. */
        GetItemText(dialog, IDC_RENAME_TEXT, sTest->settings.TestName, sizeof sTest->settings.TestName);
        HWND view = GetListViewOf(sWindow);
        TestRecord *test = nullptr;
        const int row = GetSelectedTest(sWindow, &test);
        if (row >= 0) ListView_RedrawItems(view, row, row);
        ListView_SetColumnWidth(view, 1, LVSCW_AUTOSIZE_USEHEADER);
        if (HostOf(sWindow)->list) HostOf(sWindow)->list->modified = 1;
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

/* ---- commands ------------------------------------------------------------------------- */

/* The frontmost results window: the one a results command given elsewhere
** acts on. */
static HWND FrontResultsHwnd()
{
    HWND child = nullptr;
    return FindNextChildWindow(&child, "KestovarResults") ? child : nullptr;
}

int ResultsCommand(HWND window, int commandId)
{
    /* A command greyed because an operation holds a test (its export, its
    ** trade list, its report) may still come by key or by a posted message
    ** from inside that operation's pump; it is refused here, where every
    ** results command passes, as the menu shows it. */
    KindMenuFacts held = {};
    held.testsHeld = CountTestHolds();
    if (IsKindCommandRefused(kResultsMenuRules, commandId, &held)) return 1;
    if (!window) window = FrontResultsHwnd();
    ResultsHost *host = window ? HostOf(window) : nullptr;
    TestRecord *test = nullptr;
    switch (commandId) {
    case IDM_NEW_RESULTS: return OpenResultsWindow(nullptr);
    case IDM_SAVE:
    case IDM_SAVE_AS:
        if (host && host->list) SaveResultsFile(host->list, commandId == IDM_SAVE_AS);
        if (window) SyncResultsRows(window, 0);
        return 1;
    case IDM_RESULTS_COMPARE:
        if (window) ShowCompareDialog(window, nullptr);
        return 1;
    case IDM_DELETE_TEST:
        if (window && (!gSettings.AskDeleteTests || MessageBoxFormat(MB_YESNO | MB_ICONQUESTION, "Delete the selected test result?") == IDYES))
            DeleteSelectedTest(window);
        return 1;
    case IDM_DELETE_ALL_TESTS: DeleteAllResults(window); return 1;
    case IDM_UNIQUE_SYMBOLS: {
        char path[PATH_SIZE];
        FormatText(path, sizeof path, "%s\\_temp_.txt", gProgramFolder);
        if (!window || GetSelectedTest(window, &test) < 0 || !WriteUniqueSymbols(test, path) || !OpenLogFile(path))
            ReportError("Unable to create unique symbol list.");
        return 1;
    }
    case IDM_RENAME_TEST:
        if (window)
            DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_RENAME_TEST), gFrame.frame, RenameTestDlgProc,
                            (LPARAM)window);
        return 1;
    case IDM_CHART_FORMULAS: {
        char path[PATH_SIZE];
        ColumnScriptPath(SECTION_RESULTS, path);
        return OpenScript(path, nullptr);
    }
    case IDM_CHART_REFRESH: RecalculateAllResults(); return 1;
    case IDM_RESULTS_OPTGRAPH:
        /* The graph is of every test of the list, so it needs no selected row. */
        if (host && host->list && host->list->firstTest) CreateResGraphWindow(host->list);
        return 1;
    case IDM_SAVE_STATS_CSV:
        if (window && GetSelectedTest(window, &test) >= 0) SaveStatsCsv(test, nullptr);
        return 1;
    case IDM_SAVE_TRADES_CSV:
        if (window && GetSelectedTest(window, &test) >= 0) SaveTradesCsv(test, nullptr);
        return 1;
    case IDM_LOG_OPT_SUMMARY:
        if (host) LogOptimizationSummary(host->list);
        return 1;
    default:
        if (window) RunSelectedTestAction(window, commandId);
        return 1;
    }
}

int QuerySaveResultsWindows(int ask)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarResults")) {
        ResultsWindow *list = ResultsListOf(child);
        if (!list) continue;
        if (!QuerySaveResults(list, ask)) return 0;
        SyncResultsRows(child, 0);
    }
    return 1;
}

/* ---- window procedure -------------------------------------------------------------------- */

static void OpenResultsRow(HWND window, int) { RunSelectedTestAction(window, 0); }

/* The chosen test is the current one; the menus follow the selection. */
static void ResultsRowSelected(HWND window, LPARAM)
{
    TestRecord *test = nullptr;
    GetSelectedTest(window, &test);
    PostFrameRefresh();
}

static void ResultsKey(HWND window, const NMLVKEYDOWN *key)
{
    TestRecord *test = nullptr;
    if (key->wVKey == VK_DELETE && GetSelectedTest(window, &test) >= 0)
        PostMessageA(gFrame.frame, WM_COMMAND, IDM_DELETE_TEST, 0);
    else if (key->wVKey == VK_F2)
        PostMessageA(gFrame.frame, WM_COMMAND, IDM_RENAME_TEST, 0);
}

static const ListViewEvents kResultsEvents = {
    .cellText = ResultsCell,
    .customDraw = nullptr,
    .sort = SortResults,
    .selected = ResultsRowSelected,
    .open = OpenResultsRow,
    .key = ResultsKey,
};

static int CloseResults(HWND window)
{
    ResultsHost *host = HostOf(window);
    if (host && host->list) {
        if (gRun.state != RUN_IDLE && host->list == gEngineRun.results) {
            ReportError("Please stop the current test before closing its results window.");
            return 0;
        }
        /* Closing the list frees its tests, which an export or a report
        ** answering messages meanwhile may be reading. */
        if (CountTestHolds() > 0) {
            ReportError("Please wait for the current task to finish before closing the results window.");
            return 0;
        }
        if (!QuerySaveResults(host->list, 1)) return 0;
        FreeListTests(window, host, true);
        host->list = nullptr;
        UpdateDebugPanelControls();
    }
    /* Through the MDI client, so that the next child is activated and the
    ** frame's menus follow it. */
    SendMessageA(gFrame.mdiClient, WM_MDIDESTROY, (WPARAM)window, 0);
    return 1;
}

LRESULT CALLBACK ResultsWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        CREATESTRUCTA *create = (CREATESTRUCTA *)lParam;
        MDICREATESTRUCTA *mdi = (MDICREATESTRUCTA *)create->lpCreateParams;
        SetWindowLongPtrA(window, GWLP_USERDATA, mdi ? (LONG_PTR)mdi->lParam : 0);
        HWND view = CreateListView(window, WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                   LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
        if (!view) return -1;
        SizeChildToClient(window, FALSE);
        break;
    }
    case WM_CLOSE: CloseResults(window); return 0;
    case WM_DESTROY: {
        ResultsHost *host = HostOf(window);
        if (host) {
            /* A list still here goes with the frame, and so do its views. */
            sResultsDestroying = 1;
            if (host->list) CloseResultsWindow(host->list);
            sResultsDestroying = 0;
            FreeMemory(&host->rows);
            FreeMemory(&host);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        break;
    }
    case WM_NOTIFY: return OnListViewNotify(window, (NMHDR *)lParam, &kResultsEvents);
    case WM_LIST_CELL_READER: return (LRESULT)(ListCellText)ResultsCell;
    default: break;
    }
    LRESULT result = 0;
    if (ListChildMessage(window, message, wParam, lParam, &gSettings.iResW, &gSettings.iResH, HELP_TOPIC_RESULTS_WINDOW, &result)) return result;
    return DefMDIChildProcA(window, message, wParam, lParam);
}

/* ---- start-up -------------------------------------------------------------------------- */

static void CALLBACK ResultWindowsTimer(HWND, UINT, UINT_PTR, DWORD)
{
    static int busy;
    if (busy) return;
    busy = 1;
    SyncResultsWindows();
    if (gRun.state == RUN_IDLE) FinishScanWindow();
    busy = 0;
}

static void OpenReportPage(const char *path)
{
    OpenWithSystem(gFrame.frame, path, nullptr, nullptr);
}

/* The report's graphs and plots: the windows draw them into the open page. */
static void WriteReportGraphs(TestRecord *test)
{
    CopyString(gGraphReportFolder, sizeof gGraphReportFolder, gReportFolder, -1);
    gGraphReportWrite = ReportWrite;
    OpenStatsGraph(nullptr, test, -1);
    gGraphReportWrite = nullptr;
    gGraphReportFolder[0] = 0;
}

static void WriteReportPlots(TestRecord *test)
{
    CopyString(gPlotReportTarget.folder, sizeof gPlotReportTarget.folder, gReportFolder, -1);
    gPlotReportTarget.write = ReportWrite;
    OpenTradePlotWindow(nullptr, test, -1);
    gPlotReportTarget.write = nullptr;
    gPlotReportTarget.folder[0] = 0;
}

static void *OpenRunTradeList(TestRecord *test)
{
    return OpenTradeList(test);
}

/* SaveTestListAs: the results list as it is shown.  The window takes the
** run's tests on its timer, which may not have fired since the last ones
** (or at all): it takes them now, so every test of the run is written. */
static void SaveRunTestList(ResultsWindow *list, const char *path)
{
    SyncResultsWindows();
    HWND window = FindResultsHwnd(list);
    if (window) SaveListCsv(window, path); /* reports its own failure */
}

void InstallResultsViewHooks()
{
    gRunViewHooks.openTradeList = OpenRunTradeList;
    gRunViewHooks.saveTestList = SaveRunTestList;
    gRunViewHooks.closeTestViews = CloseTestViews;
    gRunViewHooks.frontResults = [] { return ResultsListOf(FrontResultsHwnd()); };
}

void StartResultWindows()
{
    gOpenReportPage = OpenReportPage;
    gChartImageWriter = WriteScanRowChart;
    gScanWindowFinisher = [] { FinishScanWindow(); };
    gReportGraphWriter = WriteReportGraphs;
    gReportPlotWriter = WriteReportPlots;
    if (!gScanTarget) {
        CellListWindow *target = nullptr;
        if (AllocMemory(&target, sizeof *target)) target->listKind = LIST_KIND_SCAN;
        gScanTarget = target;
    }
    if (gFrame.frame) SetTimer(gFrame.frame, RESULTS_TIMER_ID, RESULTS_TIMER_MS, ResultWindowsTimer);
}
