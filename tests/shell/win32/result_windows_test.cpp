#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "engine/run_view_hooks.h"
#include "foundation/allocator.h"
#include "foundation/file_guard.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "frame_fixture.h"
#include "marketdata/store/symbols.h"
#include "records/chart_record.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/settings_items.h"
#include "services/services.h"
#include "shell/win32/script_window.h"
#include "support/test_support.h"
#include "views/graph_record.h"
#include "views/scan_run.h"
#include "views/trade_plot.h"
#include "views/trade_rows.h"
#include "views/stats_export.h"
#include "views/trade_compare.h"
#include "views/win32/plot_windows.h"
#include "views/win32/result_windows.h"

namespace {

/* The dialog of that title once it shows (a dialog still being made is not
** shown yet), looked for from another thread for up to tries times 10 ms;
** null when none showed. */
HWND AwaitShownDialog(const char *title, int tries)
{
    for (int k = 0; k < tries; k++) {
        HWND dialog = FindWindowA("#32770", title);
        if (dialog && IsWindowVisible(dialog)) return dialog;
        Sleep(10);
    }
    return nullptr;
}

std::string Column(HWND window, int column)
{
    std::string s;
    const int rows = ListView_GetItemCount(GetListViewOf(window));
    for (int r = 0; r < rows; r++) s += Cell(window, r, column) + ";";
    return s;
}

std::string Title(HWND window)
{
    char text[400] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

/* A test with two strategies, trades of both and a parameter. */
TestRecord *MakeTest(int32_t number, const char *parameter, double value, int trades)
{
    TestRecord *t = ReadTestRecord(nullptr, parameter ? 1 : 0, 2, 1, 0);
    t->testNumber = number;
    t->settings.FirstDate = 20240102;
    t->settings.LastDate = 20241231;
    FormatText(t->settings.TestName, 80, "Run %d", number);
    CopyString(t->strategies[0].name, 80, "Alpha", -1);
    CopyString(t->strategies[1].name, 80, "Beta", -1);
    t->strategies[0].kind = t->strategies[1].kind = STRATEGY_KIND_STRATEGY;
    if (parameter) {
        CopyString(t->parameters[0].name, 64, parameter, -1);
        t->parameters[0].value = value;
    }
    const char *symbols[3] = {"MSFT", "IBM", "AAPL"};
    for (int k = 0; k < trades; k++) {
        TradeRecord *r = AddTrade(t);
        r->strategy = k % 2;
        CopyString(r->symbol, 40, symbols[k % 3], -1);
        r->side = k % 4 == 3 ? -1 : 1;
        r->dateIn = 20240102 + k;
        r->dateOut = k == 4 ? 0 : 20240201 + k;
        r->quantityIn = r->quantityOut = 100 + 10 * k;
        r->priceIn = 20 + k;
        r->priceOut = 21 + k * (k % 2 ? -0.5 : 1);
        r->splitIn = r->splitOut = r->pointValue = r->fxIn = r->fxOut = 1;
        r->roundingIn = r->roundingOut = 0.01;
        r->timeIn = 1;
        r->timeOut = 3;
    }
    return t;
}

/* The symbols MakeTest trades, loaded with 100 daily bars each from the
** first trading day of 2024, and one shown Graphs column; both go back to
** empty afterwards. */
struct ViewData : ChartStore {
    DefinitionList savedGraphs = gGraphsColumns;
    ViewData() : ChartStore({"AAPL", "IBM", "MSFT"}, 20240102, 20, 5)
    {
        gGraphsColumns = DefinitionList{};
        EXPECT_TRUE(AllocMemory(&gGraphsColumns.items, sizeof(FormulaColumn)));
        gGraphsColumns.capacity = gGraphsColumns.count = 1;
        FormulaColumn *column = (FormulaColumn *)gGraphsColumns.items;
        column->format = 1;
        column->decimals = -1;
        CopyString(column->heading, sizeof column->heading, "Equity", -1);
    }
    ~ViewData()
    {
        FreeMemory(&gGraphsColumns.items);
        gGraphsColumns = savedGraphs;
    }
};

struct ResultWindowsTest : FrameTest {
    void SetUp() override
    {
        FrameTest::SetUp();
        /* Lists that earlier tests left without a window are not this test's. */
        while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        gSettings.AskDeleteTests = 0;
    }
    /* Opens a results list of the tests; its window, or null when it did not
    ** open. */
    static HWND OpenList(std::initializer_list<TestRecord *> tests, ResultsWindow **list)
    {
        if (OpenResultsWindow(nullptr) != 1 || (*list = FirstResultsWindow()) == nullptr) {
            ADD_FAILURE() << "no results list opened";
            return nullptr;
        }
        for (TestRecord *t : tests) AddTestToResults(*list, t);
        SyncResultsWindows();
        return FindResultsHwnd(*list);
    }
    /* Opens, through the Compare dialog, the comparison of the test on the
    ** list's first row with itself (the selected row stands for both lists,
    ** whatever the settings name); the comparison window, or null. */
    static HWND OpenComparison(ResultsWindow *list)
    {
        gSettings.Test1 = 1;
        gSettings.Test2 = 2;
        gSettings.Strat1 = gSettings.Strat2 = 0;
        gSettings.KeepMatches = gSettings.KeepNonMatches = 1;
        gSettings.MatchDateIn = 1;
        gSettings.MinDlrDiff = gSettings.MinPctDiff = 0;
        SelectItem(FindResultsHwnd(list), 0);
        DialogWatcher::Answer(IDOK);
        ResultsCommand(FindResultsHwnd(list), IDM_RESULTS_COMPARE);
        Pump();
        HWND compare = nullptr;
        return CountChildren("KestovarCompare") == 1 && FindNextChildWindow(&compare, "KestovarCompare") ? compare : nullptr;
    }
};

TEST_F(ResultWindowsTest, ResultsListSortsDeletesAndOpensTradeLists)
{
    ResultsWindow *list;
    HWND window = OpenList({}, &list);
    ASSERT_NE(nullptr, window);
    ParamValue names[2] = {};
    CopyString(names[0].name, 64, "Len", -1);
    CopyString(names[1].name, 64, "Stop", -1);
    AddResultsColumns(list, 2, names);
    AddTestToResults(list, MakeTest(1, "Len", 5, 12));
    AddTestToResults(list, MakeTest(2, "Stop", 1.5, 6));
    AddTestToResults(list, MakeTest(3, "Len", 9, 0));
    SyncResultsWindows();
    /* The newest test heads the list, selected. */
    EXPECT_EQ("0003;0002;0001;", Column(window, 0));
    EXPECT_EQ(0, GetSelectedItem(window));
    EXPECT_EQ("2024-01-02 - 2024-12-31", Cell(window, 0, 2));
    EXPECT_EQ("9;;5;", Column(window, 3));
    EXPECT_EQ(";1.5;;", Column(window, 4));

    ClickHeader(window, 0); /* ascending, then descending */
    EXPECT_EQ("0001;0002;0003;", Column(window, 0));
    ClickHeader(window, 0);
    EXPECT_EQ("0003;0002;0001;", Column(window, 0));
    EXPECT_TRUE(HeadingFits(window, 0));
    EXPECT_EQ(3, list->lastTest->testNumber); /* the list itself is in the order shown, from its end */
    HoldForScreenshot();

    /* The rename dialog names the selected test. */
    list->modified = 0;
    DialogWatcher::Answer(IDOK);
    ResultsCommand(window, IDM_RENAME_TEST);
    ASSERT_FALSE(DialogWatcher::Seen().empty());
    EXPECT_EQ(0u, DialogWatcher::Seen().back().find("Rename Test 0003|"));
    EXPECT_EQ(1, list->modified);
    /* Its box shows a name's letters and keeps the letters typed, as UTF-8. */
    TestRecord *renamed = list->lastTest;
    CopyString(renamed->settings.TestName, sizeof renamed->settings.TestName, "donn\xC3\xA9" "es \xD0\x9F", -1);
    DialogWatcher::Delay(60000); /* the dialog is the typist's to end */
    std::wstring boxText;
    std::thread typist([&boxText] {
        HWND dialog = AwaitShownDialog("Rename Test 0003", 300);
        if (!dialog) return;
        WCHAR text[100] = L"";
        GetDlgItemTextW(dialog, IDC_RENAME_TEXT, text, 100);
        boxText = text;
        SetDlgItemTextW(dialog, IDC_RENAME_TEXT, L"\u0422\u0435\u0441\u0442 \u20AC");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    ResultsCommand(window, IDM_RENAME_TEST);
    typist.join();
    DialogWatcher::Delay(0);
    EXPECT_EQ(L"donn\u00E9es \u041F", boxText);
    EXPECT_STREQ("\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82 \xE2\x82\xAC", renamed->settings.TestName);

    /* Deleting test 2 drops the Stop column, which only it had. */
    SelectItem(window, 1);
    ResultsCommand(window, IDM_DELETE_TEST);
    EXPECT_EQ("0003;0001;", Column(window, 0));
    EXPECT_EQ(2, list->testCount);
    EXPECT_EQ(1, list->columnCount);
    EXPECT_EQ("", Cell(window, 0, 4));

    /* Test 3 has no trades; test 1 opens its trade list. */
    SelectItem(window, 0);
    ResultsCommand(window, IDM_RESULTS_TRADES);
    EXPECT_EQ(0, CountChildren("KestovarTrades"));
    EXPECT_NE(std::string::npos, DialogWatcher::Seen().back().find("Unable to show trade list."));
    SelectItem(window, 1);
    DialogWatcher::Clear();
    ResultsCommand(window, IDM_RESULTS_TRADES);
    ASSERT_EQ(1, CountChildren("KestovarTrades"));
    /* No data file, but every column shown is the trade's own value. */
    ASSERT_EQ(gStore.symbolCount, 0);
    for (const std::string &seen : DialogWatcher::Seen())
        EXPECT_EQ(seen.find("Some trade values"), std::string::npos) << seen;
    HWND trades = gFrame.activeChild;
    EXPECT_EQ("Trade List - Test 1 - 12 Trades", Title(trades));
    EXPECT_EQ(TabTitle(trades), "Test1 Trades"); // the tab names the kind's own subject
    EXPECT_EQ("00001", Cell(trades, 0, 0));
    ClickHeader(trades, 3); /* Side: longs, shorts, then the skipped setup */
    EXPECT_TRUE(HeadingFits(trades, 3)) << "a sorted narrow column keeps its heading readable";
    EXPECT_EQ("Long", Cell(trades, 0, 3));
    EXPECT_EQ("Short", Cell(trades, 8, 3));
    EXPECT_EQ("Skip Long", Cell(trades, 11, 3));
    /* Asking again activates the same list. */
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
    ResultsCommand(window, IDM_RESULTS_TRADES);
    EXPECT_EQ(1, CountChildren("KestovarTrades"));
    HoldForScreenshot();
}

/* Sorting the results re-fits no column: the long name of the last test
** comes into sight and its column keeps its width. */
TEST_F(ResultWindowsTest, ASortLeavesTheColumnWidths)
{
    ResultsWindow *list;
    HWND window = OpenList({}, &list);
    ASSERT_NE(nullptr, window);
    for (int n = 1; n <= 60; n++) {
        TestRecord *t = MakeTest(n, nullptr, 0, 0);
        if (n == 60) CopyString(t->settings.TestName, 80, "a test name far longer than any other", -1);
        AddTestToResults(list, t);
    }
    SyncResultsWindows();
    HWND view = GetListViewOf(window);
    ASSERT_LT(ListView_GetCountPerPage(view), 60);
    const int name = ListView_GetColumnWidth(view, 1), dates = ListView_GetColumnWidth(view, 2);
    ClickHeader(window, 0);
    ClickHeader(window, 0);
    EXPECT_EQ("0060", Cell(window, 0, 0));
    EXPECT_EQ(name, ListView_GetColumnWidth(view, 1));
    EXPECT_EQ(dates, ListView_GetColumnWidth(view, 2));
    EXPECT_TRUE(HeadingFits(window, 0));
}

namespace {

WNDPROC gResultsProc;
int gCellsAsked;

/* Counts the cells the list view asks its window for. */
LRESULT CALLBACK CountCellsAsked(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NOTIFY && ((NMHDR *)lParam)->code == LVN_GETDISPINFOA) gCellsAsked++;
    return CallWindowProcA(gResultsProc, window, message, wParam, lParam);
}

} // namespace

/* A run adds its tests to the list a few at a time: each addition measures
** the cells of the tests it adds, however long the list already is (a list
** measured whole on every addition makes a long optimization slower with
** every test), and a long name that comes late still widens its column. */
TEST_F(ResultWindowsTest, AGrowingListMeasuresOnlyTheTestsItGains)
{
    ResultsWindow *list;
    HWND window = OpenList({}, &list);
    ASSERT_NE(nullptr, window);
    HWND view = GetListViewOf(window);
    gResultsProc = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)CountCellsAsked);
    auto add = [&](int n, const char *name) {
        TestRecord *t = MakeTest(n, nullptr, 0, 0);
        if (name) CopyString(t->settings.TestName, 80, name, -1);
        AddTestToResults(list, t);
        gCellsAsked = 0;
        SyncResultsWindows();
        return gCellsAsked;
    };
    int asked[2] = {};
    for (int n = 1; n <= 400; n++) {
        const int cells = add(n, nullptr);
        if (n == 10) asked[0] = cells;
        if (n == 400) asked[1] = cells;
    }
    const int columns = Header_GetItemCount(ListView_GetHeader(view));
    EXPECT_EQ(asked[0], asked[1]);
    EXPECT_LE(asked[1], columns + 1); /* its cells, and its selection as the list's new first row */
    const int name = ListView_GetColumnWidth(view, 1);
    add(401, "a test name far longer than any other");
    EXPECT_GT(ListView_GetColumnWidth(view, 1), name);
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)gResultsProc);
}

TEST_F(ResultWindowsTest, CompareDialogOpensTheComparison)
{
    ViewData data;
    gSettings.ChartBarSize2 = BAR_DAILY;
    ResultsWindow *list;
    ASSERT_NE(nullptr, OpenList({MakeTest(2, nullptr, 0, 6), MakeTest(1, nullptr, 0, 8)}, &list));
    /* The dialog offers the tests as the list shows them, newest first. */
    std::string offered;
    DialogWatcher::Delay(500);
    std::thread reader([&offered] {
        HWND dialog = AwaitShownDialog("Compare Trade Lists", 500);
        HWND combo = dialog ? GetDlgItem(dialog, IDC_CMP_TEST1) : nullptr;
        const int count = combo ? (int)SendMessageA(combo, CB_GETCOUNT, 0, 0) : 0;
        for (int i = 0; i < count; i++) {
            char text[200] = "";
            SendMessageA(combo, CB_GETLBTEXT, (WPARAM)i, (LPARAM)text);
            offered += std::string(text) + ";";
        }
    });
    HWND compare = OpenComparison(list);
    reader.join();
    DialogWatcher::Delay(0);
    EXPECT_EQ("0001:Run 1;0002:Run 2;", offered);
    ASSERT_NE(nullptr, compare);
    EXPECT_EQ(gFrame.activeChild, compare);
    /* Test 1 against itself: Alpha's four closed trades pair one to one. */
    EXPECT_EQ("Compare - Test 1 Alpha vs Test 1 Alpha - 0 of 3 Differ - Net Difference $0.00 / 0.00% / 0 Qty",
              Title(compare));
    EXPECT_EQ("AAPL;MSFT;MSFT;", Column(compare, 1)); /* by symbol, then entry date */
    /* A chart of the AAPL row stays on that row, and so does the selection,
    ** when a sort moves the row. */
    SelectItem(compare, 0);
    CompareCommand(compare, IDM_LIST_CHART);
    HWND chartWindow = nullptr;
    ASSERT_TRUE(FindNextChildWindow(&chartWindow, "KestovarChart"));
    /* A sort opens the chart again in its window, on a record of its own:
    ** the record is read from the window each time. */
    auto chartedTrade = [chartWindow] {
        const ChartWindow *chart = (const ChartWindow *)GetWindowLongPtrA(chartWindow, GWLP_USERDATA);
        return chart && chart->tradeLink ? ((const CompareRow *)chart->tradeLink)->side[0].trade : nullptr;
    };
    const TradeRecord *charted = chartedTrade();
    ASSERT_NE(nullptr, charted);
    ASSERT_STREQ("AAPL", charted->symbol);
    ClickHeader(compare, 1);
    ClickHeader(compare, 1);
    EXPECT_EQ("MSFT;MSFT;AAPL;", Column(compare, 1));
    EXPECT_TRUE(IsWindow(chartWindow));
    EXPECT_EQ(charted, chartedTrade());
    EXPECT_EQ(2, GetSelectedItem(compare));
}

TEST_F(ResultWindowsTest, DeletingATestClosesEveryWindowThatShowsIt)
{
    ViewData data;
    gSettings.ChartBarSize2 = BAR_DAILY;
    gSettings.ChartVisibleBars = 40;
    ResultsWindow *list;
    TestRecord *doomed = MakeTest(1, nullptr, 0, 8), *kept = MakeTest(2, nullptr, 0, 6);
    HWND results = OpenList({kept, doomed}, &list); /* doomed, the newer, heads the list */
    ASSERT_NE(nullptr, results);

    /* Test 1: statistics graph, trade plots, trade list with a chart of a
    ** trade, a comparison with a chart of a row, the results graph and its
    ** own script. */
    ASSERT_NE(nullptr, OpenStatsGraph(list, doomed, 0));
    ASSERT_NE(nullptr, OpenTradePlotWindow(list, doomed, 0));
    HWND trades = OpenTradeList(doomed);
    ASSERT_NE(nullptr, trades);
    TradeListCommand(trades, IDM_LIST_CHART);
    HWND compare = OpenComparison(list);
    ASSERT_NE(nullptr, compare);
    CompareCommand(compare, IDM_LIST_CHART);
    ASSERT_NE(nullptr, CreateResGraphWindow(list));
    ASSERT_EQ(1, OpenScript(nullptr, doomed));
    /* Test 2: its own statistics graph, trade plots and script. */
    HWND keptGraph = OpenStatsGraph(list, kept, 0), keptPlot = OpenTradePlotWindow(list, kept, 0);
    ASSERT_TRUE(keptGraph && keptPlot);
    ASSERT_EQ(1, OpenScript(nullptr, kept));
    HWND keptScript = FindScriptWindow(nullptr, 0, kept);
    Pump();
    struct Kind {
        const char *className;
        int before, after;
    } kinds[] = {
        {"KestovarGraph", 2, 1},
        {"KestovarPlot", 2, 1},
        {"KestovarTrades", 1, 0},
        {"KestovarChart", 2, 0},
        {"KestovarCompare", 1, 0},
        {"KestovarResGraph", 1, 0},
        {"KestovarScript", 2, 1},
    };
    for (const Kind &k : kinds) EXPECT_EQ(k.before, CountChildren(k.className)) << k.className;
    HoldForScreenshot();

    /* They close before the test is freed, not at some later message. */
    SelectItem(results, 0);
    ResultsCommand(results, IDM_DELETE_TEST);
    for (const Kind &k : kinds) EXPECT_EQ(k.after, CountChildren(k.className)) << k.className;
    EXPECT_TRUE(IsWindow(keptGraph) && IsWindow(keptPlot) && IsWindow(keptScript));
    EXPECT_EQ(1, list->testCount);
    Pump();
    HoldForScreenshot();
}

/* Up and Down in a statistics graph or a trade plot step through the tests
** of its results list, showing each in the same window. */
TEST_F(ResultWindowsTest, UpAndDownStepAViewThroughTheTests)
{
    ViewData data;
    ResultsWindow *list;
    TestRecord *first = MakeTest(1, nullptr, 0, 8), *second = MakeTest(2, nullptr, 0, 6);
    HWND results = OpenList({second, first}, &list); /* first heads the list */
    ASSERT_NE(nullptr, results);
    struct View {
        const char *className;
        HWND (*open)(ResultsWindow *, TestRecord *);
        const TestRecord *(*shown)(HWND);
    } views[] = {
        {"KestovarGraph", [](ResultsWindow *l, TestRecord *t) { return OpenStatsGraph(l, t, 0); },
         [](HWND w) { return (const TestRecord *)((const GraphWindow *)GetWindowLongPtrA(w, GWLP_USERDATA))->test; }},
        {"KestovarPlot", [](ResultsWindow *l, TestRecord *t) { return OpenTradePlotWindow(l, t, 0); },
         [](HWND w) { return (const TestRecord *)((const PlotWindow *)GetWindowLongPtrA(w, GWLP_USERDATA))->test; }},
    };
    for (const View &v : views) {
        SelectItem(results, 0);
        HWND view = v.open(list, first);
        ASSERT_NE(nullptr, view) << v.className;
        const struct {
            WPARAM key;
            const TestRecord *shown;
            int row;
        } steps[] = {{VK_DOWN, second, 1}, {VK_DOWN, second, 1}, {VK_UP, first, 0}};
        for (const auto &step : steps) {
            HWND now = nullptr;
            ASSERT_TRUE(FindNextChildWindow(&now, v.className));
            SendMessageA(now, WM_KEYDOWN, step.key, 0);
            Pump();
            EXPECT_EQ(1, CountChildren(v.className)) << v.className;
            now = nullptr;
            ASSERT_TRUE(FindNextChildWindow(&now, v.className));
            EXPECT_EQ(step.shown, v.shown(now)) << v.className;
            EXPECT_EQ(step.row, GetSelectedItem(results)) << v.className;
        }
    }
}

/* What a user does from inside the pump of an operation that reads a test:
** the probe window gets its message there and gives the Results window's
** commands the frame would, noting what it found. */
struct PumpProbe {
    HWND window, results;
    ResultsWindow *list;
    int probed, deleteShown, deleteAllShown, testsAfter;
};
PumpProbe sProbe;

LRESULT CALLBACK PumpProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_APP) return DefWindowProcA(window, message, wParam, lParam);
    sProbe.probed++;
    /* The user clicks the results window (a trade list filling is in front). */
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)sProbe.results, 0);
    sProbe.deleteShown = FrameMenuEnabled(IDM_DELETE_TEST);
    sProbe.deleteAllShown = FrameMenuEnabled(IDM_DELETE_ALL_TESTS);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_DELETE_TEST, 0);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_DELETE_ALL_TESTS, 0);
    SendMessageA(sProbe.results, WM_CLOSE, 0, 0);
    sProbe.testsAfter = sProbe.list->testCount;
    return 0;
}

/* A trade export computes its list and writes it while the window answers,
** and so does a trade list window while it fills: Delete Test and Delete All
** are greyed meanwhile and refused when they come anyway, the results window
** stays, and the file holds every trade. */
TEST_F(ResultWindowsTest, ATestBeingExportedOrListedCannotBeDeleted)
{
    ResultsWindow *list;
    TestRecord *test = MakeTest(1, nullptr, 0, 0);
    const int trades = SAVE_PUMP_ROWS + 10;
    for (int k = 0; k < trades; k++) {
        TradeRecord *r = AddTrade(test);
        r->strategy = k % 2;
        r->side = 1;
        r->dateIn = 20240102;
        r->dateOut = 20240105;
        r->splitIn = r->splitOut = r->pointValue = r->fxIn = r->fxOut = 1;
    }
    HWND results = OpenList({test}, &list);
    ASSERT_NE(nullptr, results);
    WNDCLASSA probeClass = {};
    probeClass.lpfnWndProc = PumpProbeProc;
    probeClass.hInstance = GetModuleHandleA(nullptr);
    probeClass.lpszClassName = "KestovarPumpProbe";
    RegisterClassA(&probeClass);
    const std::string path = File("held.csv");
    gScriptSettings.SaveTradesType = SAVE_TRADES_FULL;
    struct Operation {
        const char *what;
        void (*run)(HWND results, TestRecord *test, const char *path);
    } operations[] = {
        {"full trade export", [](HWND, TestRecord *t, const char *p) { EXPECT_EQ(1, SaveTradesCsv(t, p)); }},
        {"trade list window", [](HWND r, TestRecord *, const char *) { ResultsCommand(r, IDM_RESULTS_TRADES); }},
    };
    for (const Operation &o : operations) {
        SCOPED_TRACE(o.what);
        SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)results, 0);
        SelectItem(results, 0);
        Pump();
        EXPECT_TRUE(FrameMenuEnabled(IDM_DELETE_TEST)); /* nothing holds it yet */
        sProbe = PumpProbe{};
        sProbe.window = CreateWindowExA(0, "KestovarPumpProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        probeClass.hInstance, nullptr);
        ASSERT_NE(nullptr, sProbe.window);
        sProbe.results = results;
        sProbe.list = list;
        DialogWatcher::Clear();
        /* Taken at the operation's first look at the messages. */
        PostMessageA(sProbe.window, WM_APP, 0, 0);
        o.run(results, test, path.c_str());
        DestroyWindow(sProbe.window);
        EXPECT_EQ(1, sProbe.probed);
        EXPECT_FALSE(sProbe.deleteShown || sProbe.deleteAllShown);
        EXPECT_EQ(1, sProbe.testsAfter);
        EXPECT_TRUE(SeenText("Please wait for the current task to finish before closing the results window."))
            << testing::PrintToString(DialogWatcher::Seen());
        ASSERT_TRUE(IsWindow(results));
        ASSERT_EQ(test, list->firstTest);
        Pump();
    }
    const std::string text = ReadTestFile(path);
    EXPECT_EQ((size_t)trades + 1, (size_t)std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(0u, text.rfind("Trade,Strategy,Symbol,", 0));
    HWND shown = nullptr;
    ASSERT_TRUE(FindNextChildWindow(&shown, "KestovarTrades"));
    EXPECT_EQ("Trade List - Test 1 - 4,106 Trades", Title(shown)); /* every trade: SAVE_PUMP_ROWS + 10 */
}

TEST_F(ResultWindowsTest, ShowTradeListAfterAnExportShowsTheList)
{
    ResultsWindow *list;
    TestRecord *test = MakeTest(1, nullptr, 0, 6);
    HWND results = OpenList({test}, &list);
    ASSERT_NE(nullptr, results);
    SelectItem(results, 0);
    const std::string path = File("exported.csv");
    struct Export {
        const char *what;
        int (*save)(TestRecord *, const char *);
        int32_t tradesType;
    } exports[] = {
        {"full trade list", SaveTradesCsv, SAVE_TRADES_FULL},
        {"compact trade list", SaveTradesCsv, SAVE_TRADES_COMPACT},
        {"statistics", SaveStatsCsv, SAVE_TRADES_FULL},
    };
    for (const Export &e : exports) {
        gScriptSettings.SaveTradesType = e.tradesType;
        ASSERT_EQ(1, e.save(test, path.c_str())) << e.what;
        ASSERT_TRUE(WriteTestFile(path, "the user's own edit"));
        SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)results, 0);
        ResultsCommand(results, IDM_RESULTS_TRADES);
        Pump();
        EXPECT_EQ(1, CountChildren("KestovarTrades")) << e.what;
        EXPECT_EQ("Trade List - Test 1 - 6 Trades", Title(gFrame.activeChild)) << e.what;
        EXPECT_EQ("the user's own edit", ReadTestFile(path)) << e.what;
        HWND trades = nullptr;
        while (FindNextChildWindow(&trades, "KestovarTrades")) DestroyWindow(trades), trades = nullptr;
    }
    gScriptSettings.SaveTradesType = SAVE_TRADES_FULL;
}

TEST_F(ResultWindowsTest, EditColumnFormulasOpensTheScriptInUse)
{
    /* The scripts folder has no default scripts: those beside the program
    ** are the ones in use. */
    char savedScripts[PATH_SIZE];
    CopyString(savedScripts, sizeof savedScripts, gScriptsFolder, -1);
    CreateDirectoryA(File("scripts").c_str(), nullptr);
    CopyString(gScriptsFolder, sizeof gScriptsFolder, File("scripts").c_str(), -1);
    for (const char *name : {"Results.kvs", "Trades.kvs", "Charts.kvs", "Graphs.kvs", "mine.kvs"})
        ASSERT_TRUE(WriteTestFile(File(name), "// columns\r\n"));
    ViewData data;
    gSettings.ChartBarSize2 = BAR_DAILY;
    ResultsWindow *list;
    TestRecord *test = MakeTest(1, nullptr, 0, 4);
    HWND results = OpenList({test}, &list), trades = OpenTradeList(test), graph = OpenStatsGraph(list, test, 0);
    HWND chart = OpenChart("MSFT", 0, CHART_KIND_SYMBOL, nullptr, nullptr, nullptr, 0, 1);
    ASSERT_TRUE(results && trades && graph && chart);
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);

    struct Case {
        const char *what;
        int (*command)(HWND, int);
        HWND window;
        DefinitionList *columns;
        const char *columnFile; /* a compiled column's script, or null for none */
        std::string opened;
    } cases[] = {
        {"results, no columns compiled", ResultsCommand, results, &gResultsColumns, nullptr, File("Results.kvs")},
        {"trade list, no columns compiled", TradeListCommand, trades, &gTradesColumns, nullptr, File("Trades.kvs")},
        {"results, columns of a script", ResultsCommand, results, &gResultsColumns, "mine.kvs", File("mine.kvs")},
        {"trade list, columns of a script", TradeListCommand, trades, &gTradesColumns, "mine.kvs", File("mine.kvs")},
        {"chart, no columns compiled", ChartCommand, chart, &gChartsColumns, nullptr, File("Charts.kvs")},
        {"graph, no columns compiled", GraphCommand, graph, &gGraphsColumns, nullptr, File("Graphs.kvs")},
        {"chart, columns of a script", ChartCommand, chart, &gChartsColumns, "mine.kvs", File("mine.kvs")},
        {"graph, columns of a script", GraphCommand, graph, &gGraphsColumns, "mine.kvs", File("mine.kvs")},
    };
    for (const Case &c : cases) {
        ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
        if (c.columnFile) {
            const int32_t k = AddDefinitionRecord(c.columns, sizeof(FormulaColumn));
            ASSERT_GE(k, 0);
            FormulaColumn *column = &((FormulaColumn *)c.columns->items)[k];
            CopyString(column->formula.path, sizeof column->formula.path, File(c.columnFile).c_str(), -1);
        }
        c.command(c.window, IDM_CHART_FORMULAS);
        Pump();
        HWND script = FindScriptWindow(c.opened.c_str(), 0, nullptr);
        EXPECT_NE(nullptr, script) << c.what;
        if (script) DestroyWindow(script);
    }
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
    CopyString(gScriptsFolder, sizeof gScriptsFolder, savedScripts, -1);
}

TEST_F(ResultWindowsTest, CopyPutsExactlyTheListOnTheClipboard)
{
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
    ResultsWindow *list;
    HWND results = OpenList({MakeTest(1, nullptr, 0, 0), MakeTest(2, nullptr, 0, 0)}, &list);
    ASSERT_NE(nullptr, results);
    ASSERT_EQ(1, CopyListView(results, nullptr));
    const std::string expected = "Test\tName\tDates\r\n" /* as shown: the newest first */
                                 "0002\tRun 2\t2024-01-02 - 2024-12-31\r\n"
                                 "0001\tRun 1\t2024-01-02 - 2024-12-31\r\n";
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE text = GetClipboardData(CF_TEXT);
    ASSERT_NE(nullptr, text);
    /* A paste takes the whole block, so the block is the text and its zero. */
    EXPECT_EQ(expected.size() + 1, GlobalSize(text));
    const char *copied = (const char *)GlobalLock(text);
    EXPECT_EQ(expected, std::string(copied, strnlen(copied, GlobalSize(text))));
    GlobalUnlock(text);
    HANDLE wide = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ((expected.size() + 1) * sizeof(WCHAR), GlobalSize(wide));
    CloseClipboard();
}

TEST_F(ResultWindowsTest, OptimizationGraphNeedsNoSelectedRow)
{
    ResultsWindow *list;
    HWND results = OpenList({}, &list);
    ASSERT_NE(nullptr, results);
    ResultsCommand(results, IDM_RESULTS_OPTGRAPH); /* an empty list has nothing to graph */
    EXPECT_EQ(0, CountChildren("KestovarResGraph"));
    AddTestToResults(list, MakeTest(1, "Len", 5, 0));
    AddTestToResults(list, MakeTest(2, "Len", 9, 0));
    SyncResultsWindows();
    ListView_SetItemState(GetListViewOf(results), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    CopyString(list->path, sizeof list->path, File("sweep.kvr").c_str(), -1);
    ResultsCommand(results, IDM_RESULTS_OPTGRAPH);
    EXPECT_EQ(1, CountChildren("KestovarResGraph"));
    char tab[64] = "";
    GetWindowTabTitle(gFrame.activeChild, tab, sizeof tab, nullptr, nullptr);
    EXPECT_STREQ(tab, "sweep.kvr"); // the graph's tab names its results file
}

int ColumnFormat(HWND window, int column)
{
    LVCOLUMNA col = {};
    col.mask = LVCF_FMT;
    ListView_GetColumn(GetListViewOf(window), column, &col);
    return col.fmt & LVCFMT_JUSTIFYMASK;
}

/* Text columns of a scan read from the left; numbers, Date and Symbol stay centred. */
TEST_F(ResultWindowsTest, FinishedScanShowsItsRowsSortedByDateAndSymbol)
{
    StartResultWindows();
    CellListWindow *target = gScanTarget;
    ASSERT_NE(nullptr, target);
    target->columnCount = 4;
    ASSERT_TRUE(AllocMemory(&target->headings, 4 * LIST_CELL_TEXT_SIZE));
    const char *headings[4] = {"Date", "Symbol", "Close", "Note"};
    for (int c = 0; c < 4; c++) CopyString(target->headings[c], 80, headings[c], -1);
    ASSERT_TRUE(AllocMemory(&target->cells, 12 * sizeof(ListCell)));
    ASSERT_TRUE(AllocMemory(&target->rowIndex, 3 * sizeof(uint32_t)));
    const struct {
        int32_t date;
        const char *symbol, *close;
    } rows[3] = {{20240103, "IBM", "-1.50"}, {20240102, "MSFT", "2.00"}, {20240103, "AAPL", "3.25"}};
    for (int r = 0; r < 3; r++) {
        ListCell *cells = &target->cells[r * 4];
        FormatText(cells[0].text, 80, "%d", rows[r].date);
        cells[0].number = rows[r].date;
        cells[0].formatCode = 6;
        CopyString(cells[1].text, 80, rows[r].symbol, -1);
        cells[1].formatCode = LIST_FORMAT_TEXT;
        CopyString(cells[2].text, 80, rows[r].close, -1);
        cells[2].negativeColour = 1;
        CopyString(cells[3].text, 80, "watch", -1);
        cells[3].formatCode = LIST_FORMAT_TEXT;
        target->rowIndex[r] = (uint32_t)(r * 4);
    }
    target->rowCount = 3;
    HWND scan = FinishScanWindow();
    ASSERT_NE(nullptr, scan);
    EXPECT_NE(target, gScanTarget); /* the next scan gets a list of its own */
    EXPECT_EQ("Scan - 3 Items", Title(scan));
    EXPECT_EQ("MSFT;AAPL;IBM;", Column(scan, 1));
    EXPECT_EQ(LVCFMT_CENTER, ColumnFormat(scan, 1));
    EXPECT_EQ(LVCFMT_CENTER, ColumnFormat(scan, 2));
    EXPECT_EQ(LVCFMT_LEFT, ColumnFormat(scan, 3));
    for (int c = 0; c < 4; c++) EXPECT_TRUE(HeadingFits(scan, c)) << c; /* the last heading too */
    EXPECT_EQ(nullptr, FinishScanWindow()); /* nothing new to show */
    HoldForScreenshot();
}

/* Every kind of list shows and copies the letters its file or names hold,
** of two, three and four bytes in UTF-8; a file that is not UTF-8 reads as
** code page 1252. */
TEST_F(ResultWindowsTest, EveryListShowsAndCopiesTheLettersItsNamesHold)
{
    const char *name = "Z\xC3\xBCrich \xE2\x82\xAC \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9D\x84\x9E";
    const std::wstring wide = L"Z\u00FCrich \u20AC \u6771\u4EAC \U0001D11E";
    const std::wstring heading = L"Not\u00E9 \u20AC\U0001D11E";
    const std::string headingText = "Not\xC3\xA9 \xE2\x82\xAC\xF0\x9D\x84\x9E";
    struct Shown {
        const char *what;
        HWND window;
        int row, column;
        std::wstring want;
    };
    std::vector<Shown> shown;

    gSettings.CsvListView = 1;
    ASSERT_TRUE(WriteTestFile(File("letters.csv"), "City," + headingText + "\r\n" + name + ",x\r\n"));
    ASSERT_EQ(1, OpenCsvAsList(nullptr, File("letters.csv").c_str()));
    shown.push_back({"list, UTF-8 file", gFrame.activeChild, 0, 1, wide});
    shown.push_back({"list, its heading", gFrame.activeChild, -1, 2, heading});
    ASSERT_TRUE(WriteTestFile(File("page.csv"), "City\r\nZ\xFCrich \x80 \xBD\r\n"));
    ASSERT_EQ(1, OpenCsvAsList(nullptr, File("page.csv").c_str()));
    shown.push_back({"list, code page 1252 file", gFrame.activeChild, 0, 1, L"Z\u00FCrich \u20AC \u00BD"});

    TestRecord *test = MakeTest(1, nullptr, 0, 4);
    CopyString(test->settings.TestName, 80, name, -1);
    CopyString(test->strategies[0].name, 80, name, -1);
    CopyString(test->strategies[1].name, 80, name, -1);
    for (int32_t k = 0; k < test->tradeCount; k++) CopyString(test->trades[k].symbol, 40, name, -1);
    ResultsWindow *list;
    HWND results = OpenList({test}, &list);
    ASSERT_NE(nullptr, results);
    shown.push_back({"results, Name", results, 0, 1, wide});
    HWND trades = OpenTradeList(test);
    ASSERT_NE(nullptr, trades);
    shown.push_back({"trades, Strategy", trades, 0, TRADE_COL_STRATEGY, wide});
    shown.push_back({"trades, Symbol", trades, 0, TRADE_COL_SYMBOL, wide});
    HWND compare = OpenComparison(list);
    ASSERT_NE(nullptr, compare);
    shown.push_back({"compare, Symbol", compare, 0, 1, wide});

    StartResultWindows();
    CellListWindow *target = gScanTarget;
    ASSERT_NE(nullptr, target);
    target->columnCount = 2;
    ASSERT_TRUE(AllocMemory(&target->headings, 2 * LIST_CELL_TEXT_SIZE));
    CopyString(target->headings[0], 80, "Symbol", -1);
    CopyString(target->headings[1], 80, headingText.c_str(), -1);
    ASSERT_TRUE(AllocMemory(&target->cells, 2 * sizeof(ListCell)));
    ASSERT_TRUE(AllocMemory(&target->rowIndex, sizeof(uint32_t)));
    CopyString(target->cells[0].text, 80, "IBM", -1);
    CopyString(target->cells[1].text, 80, name, -1);
    target->cells[0].formatCode = target->cells[1].formatCode = LIST_FORMAT_TEXT;
    target->rowIndex[0] = 0;
    target->rowCount = 1;
    HWND scan = FinishScanWindow();
    ASSERT_NE(nullptr, scan);
    shown.push_back({"scan, a text cell", scan, 0, 1, wide});
    shown.push_back({"scan, its heading", scan, -1, 1, heading});

    for (const Shown &s : shown) {
        EXPECT_EQ(s.want, s.row < 0 ? WideHeading(s.window, s.column) : WideCell(s.window, s.row, s.column)) << s.what;
        ASSERT_EQ(1, CopyListView(s.window, nullptr)) << s.what;
        EXPECT_NE(std::wstring::npos, WideClipboard().find(s.want)) << s.what << ": " << testing::PrintToString(WideClipboard());
    }
    HoldForScreenshot();
}

/* The debug panel's boxes show a row's test, strategy and symbol by their
** letters, and its lists offer the names so too. */
TEST_F(ResultWindowsTest, TheDebugPanelShowsNamesByTheirLetters)
{
    const char *name = "Z\xC3\xBCrich \xE2\x82\xAC \xE6\x9D\xB1 \xF0\x9D\x84\x9E";
    const std::wstring wide = L"Z\u00FCrich \u20AC \u6771 \U0001D11E";
    TestRecord *test = MakeTest(1, nullptr, 0, 0);
    CopyString(test->settings.TestName, 80, name, -1);
    CopyString(test->strategies[1].name, 80, name, -1);
    ResultsWindow *list;
    ASSERT_NE(nullptr, OpenList({test}, &list));
    ShowRowInDebugPanel(name, 20240102, test, name);
    HWND panel = gFrame.debugPanel;
    ASSERT_NE(nullptr, panel);
    auto boxText = [panel](int id) {
        WCHAR text[200] = L"";
        GetWindowTextW(GetDlgItem(panel, id), text, 200);
        return std::wstring(text);
    };
    EXPECT_EQ(wide, boxText(IDC_DP_SYMBOL));
    EXPECT_EQ(wide, boxText(IDC_DP_STRATEGY));
    EXPECT_EQ(L"0001:" + wide, boxText(IDC_DP_TEST));
    /* Opened, the strategy list offers the test's strategies by name. */
    HWND strategies = GetDlgItem(panel, IDC_DP_STRATEGY);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_DP_STRATEGY, CBN_DROPDOWN), (LPARAM)strategies);
    ASSERT_EQ(2, SendMessageW(strategies, CB_GETCOUNT, 0, 0));
    WCHAR item[200] = L"";
    SendMessageW(strategies, CB_GETLBTEXT, 1, (LPARAM)item);
    EXPECT_EQ(wide, std::wstring(item));
    EXPECT_EQ(wide, boxText(IDC_DP_STRATEGY)); /* the choice stays */
}

std::vector<std::wstring> gOpened; /* "file|parameters" of each thing handed to the system */

HINSTANCE WINAPI RecordOpened(HWND, LPCWSTR, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT)
{
    gOpened.push_back(std::wstring(file) + L"|" + (parameters ? parameters : L""));
    return (HINSTANCE)33; /* above 32: done */
}

/* Report Options' Open Folder hands the browser the reports folder as its
** letters, of two, three and four bytes; a folder that is not there is
** named, and nothing is handed over. */
TEST_F(ResultWindowsTest, OpenFolderHandsTheSystemTheReportsFolderByItsLetters)
{
    char savedReports[PATH_SIZE];
    CopyString(savedReports, sizeof savedReports, gReportsFolder, -1);
    auto savedOpener = gSystemOpener;
    gSystemOpener = RecordOpened;
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT_OPTIONS), gFrame.frame,
                                     ReportOptionsDlgProc, 0);
    ASSERT_NE(nullptr, dialog);
    const std::wstring base(folder.begin(), folder.end()); /* the test folder's name is ASCII */
    const struct {
        const char *name;
        const wchar_t *wide;
        bool made;
    } cases[] = {
        {"\xC3\xB6ut", L"\u00F6ut", true},
        {"\xE6\x9D\xB1\xE4\xBA\xAC out", L"\u6771\u4EAC out", true},
        {"\xF0\x9D\x84\x9E", L"\U0001D11E", true},
        {"n\xC3\xA9ver made", L"n\u00E9ver made", false},
    };
    for (const auto &c : cases) {
        const std::string reports = File(c.name) + "\\Reports";
        if (c.made) {
            ASSERT_TRUE(PlatCreateFolder(File(c.name).c_str()));
            ASSERT_TRUE(PlatCreateFolder(reports.c_str()));
        }
        CopyString(gReportsFolder, sizeof gReportsFolder, reports.c_str(), -1);
        gOpened.clear();
        DialogWatcher::Clear();
        SendMessageA(dialog, WM_COMMAND, IDC_RO_OPEN_FOLDER, 0);
        Pump();
        if (c.made) {
            ASSERT_EQ(1u, gOpened.size()) << c.name;
            EXPECT_EQ(L"explorer.exe|\"" + base + L"\\" + c.wide + L"\\Reports\"", gOpened[0]) << c.name;
            EXPECT_TRUE(DialogWatcher::Seen().empty()) << c.name;
        } else {
            EXPECT_TRUE(gOpened.empty());
            EXPECT_TRUE(SeenText(("Unable to open " + reports).c_str())) << testing::PrintToString(DialogWatcher::Seen());
        }
    }
    DestroyWindow(dialog);
    gSystemOpener = savedOpener;
    CopyString(gReportsFolder, sizeof gReportsFolder, savedReports, -1);
}

} // namespace

/* Closing the program asks about unsaved tests as closing their window does;
** a Cancel keeps the program open. */
TEST_F(ResultWindowsTest, ExitAsksBeforeThrowingResultsAway)
{
    gSettings.AskSaveUntitled = 1;
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_NEW_RESULTS, 0);
    ResultsWindow *list = ResultsListOf(gFrame.activeChild);
    ASSERT_NE(list, nullptr);
    AddTestToResults(list, MakeTest(1, nullptr, 0, 2));
    list->modified = 1;
    DialogWatcher::Answer(IDCANCEL);
    SendMessageA(gFrame.frame, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(gFrame.frame));
    EXPECT_NE(DialogWatcher::Seen().size(), 0u);
    EXPECT_NE(DialogWatcher::Seen().back().find("Save changes to (untitled results file)?"), std::string::npos);
    EXPECT_EQ(list->testCount, 1);
    DialogWatcher::Answer(IDNO);
    SendMessageA(gFrame.frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(gFrame.frame, nullptr);
}

#include "platform/platform.h"
#include "shell/win32/editor_host.h"

#include <Scintilla.h>

/* A test's own script opens read-only in a script window of its own, and the
** unique-symbol list's temporary file is shown untitled and deleted: neither
** reaches the recent files or the files that reopen at the next start. */
TEST_F(ResultWindowsTest, ATestsScriptAndTemporaryListsLeaveNoFiles)
{
    TestRecord *test = MakeTest(5, nullptr, 0, 3);
    const char text[] = "Data:\r\n  x: C\r\n";
    ASSERT_EQ(AllocMemory(&test->settings.scriptText, sizeof text), 1);
    memcpy(test->settings.scriptText, text, sizeof text);
    test->settings.scriptTextLength = sizeof text;
    ResultsWindow *list;
    HWND window = OpenList({test}, &list);
    ASSERT_NE(nullptr, window);
    // The results buttons follow the results window's selection.
    OpenLogFile(nullptr);
    UpdateFrameMenus(gFrame.frame, 0);
    EXPECT_FALSE(ButtonEnabled(IDM_RESULTS_GRAPHS));
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
    SelectItem(window, 0);
    Pump();
    UpdateFrameMenus(gFrame.frame, 0);
    for (int id : {IDM_RESULTS_GRAPHS, IDM_RESULTS_PLOTS, IDM_RESULTS_TRADES, IDM_RESULTS_REPORT})
        EXPECT_TRUE(ButtonEnabled(id)) << id;
    DestroyWindow(FindWindowExA(gFrame.mdiClient, nullptr, "KestovarLog", nullptr));
    gSettings.RecentFilesMRU[0] = 0;
    const std::string saved = gSettings.ActiveScript, active = File("mine.kvs"); // the script F5 runs
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, active.c_str(), -1);
    for (int i = 0; i < 2; i++) {
        SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
        ResultsCommand(window, IDM_SHOW_TEST_SCRIPT);
        Pump();
        EXPECT_EQ(gSettings.ActiveScript, active) << i;
    }
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, saved.c_str(), -1);
    EXPECT_EQ(CountChildren("KestovarScript"), 1);
    ASSERT_EQ(gFrame.activeKind, WK_SCRIPT);
    EXPECT_EQ(Title(gFrame.activeChild), "Test 5 Script (read-only)");
    EXPECT_EQ(TabTitle(gFrame.activeChild), "Test5 Script"); // the tab names the kind's own subject
    EXPECT_EQ(EditorSend(gFrame.activeChild, SCI_GETREADONLY), 1);
    EXPECT_EQ(CountChildren("KestovarLog"), 0);

    ResultsCommand(window, IDM_UNIQUE_SYMBOLS);
    Pump();
    ASSERT_EQ(gFrame.activeKind, WK_LOG);
    EXPECT_EQ(Title(gFrame.activeChild), "Log - (untitled)");
    EXPECT_FALSE(PlatFileExists((folder + "\\_temp_.txt").c_str()));
    EXPECT_STREQ(gSettings.RecentFilesMRU, "");
}

/* Closing the active results window (No to saving) hands the activation on,
** as closing any MDI child does; once no child is left, the menus and the
** toolbar are the frame's alone. */
TEST_F(ResultWindowsTest, ClosingTheActiveResultsWindowActivatesTheNext)
{
    OpenScript(nullptr, nullptr);
    WriteTestFile(File("next.csv"), "A\n1\n");
    ASSERT_EQ(1, OpenCsvAsList(nullptr, File("next.csv").c_str()));
    ResultsWindow *list;
    HWND results = OpenList({MakeTest(1, nullptr, 0, 3)}, &list);
    ASSERT_NE(nullptr, results);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)results, 0);
    SelectItem(results, 0);
    list->modified = 1;
    Pump();
    const int kResultsButtons[] = {IDM_RESULTS_GRAPHS, IDM_RESULTS_PLOTS, IDM_RESULTS_TRADES, IDM_RESULTS_REPORT,
                                   IDM_RESULTS_OPTGRAPH};
    ASSERT_TRUE(ButtonEnabled(IDM_RESULTS_GRAPHS));

    DialogWatcher::Answer(IDNO);
    SendMessageA(results, WM_CLOSE, 0, 0);
    Pump();
    ASSERT_FALSE(IsWindow(results));
    HWND active = (HWND)SendMessageA(gFrame.mdiClient, WM_MDIGETACTIVE, 0, 0);
    ASSERT_NE(nullptr, active);
    EXPECT_EQ(active, gFrame.activeChild);
    EXPECT_NE(WK_RESULTS, gFrame.activeKind);
    EXPECT_EQ(nullptr, FindSubMenuByText(GetMenu(gFrame.frame), "Resul&ts"));
    for (int id : kResultsButtons) EXPECT_FALSE(ButtonEnabled(id)) << id;

    HWND child;
    while ((child = GetWindow(gFrame.mdiClient, GW_CHILD)) != nullptr) {
        SendMessageA(child, WM_CLOSE, 0, 0);
        Pump();
        ASSERT_FALSE(IsWindow(child));
    }
    EXPECT_EQ(nullptr, gFrame.activeChild);
    EXPECT_EQ(-1, gFrame.activeKind);
    EXPECT_EQ(gFrame.frameMenu, GetMenu(gFrame.frame));
    for (int id : kResultsButtons) EXPECT_FALSE(ButtonEnabled(id)) << id;
}

#include "engine/optimizer.h"
#include "foundation/win32/settings_dialog.h"
#include "marketdata/store/data_load.h"
#include "views/graph_record.h"
#include "views/trade_plot.h"
#include "views/trade_rows.h"

namespace {

/* The test a per-test window shows, read from its kind's record; null for
** other kinds. */
const TestRecord *ShownTest(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    const LONG_PTR data = GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!data) return nullptr;
    if (strcmp(name, "KestovarTrades") == 0) return ((const CellListWindow *)data)->test;
    if (strcmp(name, "KestovarGraph") == 0) return ((const GraphWindow *)data)->test;
    if (strcmp(name, "KestovarPlot") == 0) return ((const PlotWindow *)data)->test;
    return nullptr;
}

TestRecord *TestOfParameter(ResultsWindow *list, double value)
{
    for (TestRecord *t = list ? list->firstTest : nullptr; t; t = t->next)
        if (t->parameterCount > 0 && t->parameters[0].value == value) return t;
    return nullptr;
}

/* An optimization of P over a month of one symbol's prices, imported into
** the data file that the settings name; every P trades, the score is P. */
void WriteOptimizationScript()
{
    std::string prices = FrameTest::File("optprices"), data = FrameTest::File("opt.kvd");
    CreateDirectoryA(prices.c_str(), nullptr);
    std::string csv = "Date,Open,High,Low,Close,Volume\n";
    for (int day : {2, 3, 4, 5, 8, 9, 10, 11, 12, 15, 16, 17, 18, 19, 22, 23, 24, 25, 26, 29, 30, 31}) {
        char line[80];
        snprintf(line, sizeof line, "2024-01-%02d,%d,%d,%d,%d,1000\n", day, 10 + day, 11 + day, 9 + day, 10 + day);
        csv += line;
    }
    WriteTestFile(prices + "\\AAA.csv", csv);
    std::string script = FrameTest::File("opt.kvs");
    WriteTestFile(script, "Settings:\n  DataFile: " + data + "\n  OptNoDialog: True\nImport:\n  DataSource: CSV\n  DataPath: " +
                              prices + "\n  SaveAs: " + data +
                              "\n  StartDate: 2024-01-01\n  EndDate: 2024-01-31\nParameters:\n  P: 1, 2, 3\n"
                              "Results:\n  Score: P {#}\nGraphs:\n  Equity: S.Equity {$0 \"Equity\"}\nStrategy: S1\n  EntrySetup: C > 0\n  ExitRule: 1\n");
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, script.c_str(), -1);
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, data.c_str(), -1);
    gSettings.UseEarliestDate = gSettings.UseLatestDate = 1;
    gSettings.AddGraph = gSettings.AddLog = gSettings.AddReport = gSettings.AddTrades = gSettings.AddDebug = 0;
    gSettings.OptimizeMode = OPT_COMBINATORIAL;
    gSettings.OptScoreCol = 0;
    gSettings.OptKeepNoTrades = 1;
    gSettings.OptWalkForward = gSettings.OptSummaryLog = gSettings.OptMultiSaveAs = 0;
    gSettings.OptByStrategy = gSettings.OptBySymbol = 0;
    SettingsToDialog(gFrame.settingsPanel, IDD_SETTINGS_PANEL, 0);
}

} // namespace

/* An optimization that clears the list, or keeps only the best tests, frees
** tests whose windows are open: those windows close with them, the others
** stay, and the program goes on answering keys in what is left. */
TEST_F(ResultWindowsTest, AnOptimizationClosesTheWindowsOfTheTestsItFrees)
{
    const ProgramSettings saved = gSettings;
    WriteOptimizationScript();
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_IMPORT, 0);
    Pump();
    ASSERT_EQ(RESULT_OK, gRun.resultCode.load()) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    struct Path {
        const char *name;
        int32_t clear, sort, keepBest;
        int listed, graphsLeft; /* P = 3's graph stays when its test is kept */
    } paths[] = {
        {"Clear Results", 1, 0, 0, 3, 0},
        {"Keep Best", 0, 1, 2, 2, 1},
    };
    for (const Path &path : paths) {
        SCOPED_TRACE(path.name);
        gSettings.OptClearResults = 1;
        gSettings.OptSortResults = gSettings.OptKeepBest = 0;
        SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_OPTIMIZE, 0);
        SyncResultsWindows();
        Pump();
        ResultsWindow *list = FirstResultsWindow();
        ASSERT_NE(nullptr, list);
        ASSERT_EQ(3, list->testCount) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
        TestRecord *worst = TestOfParameter(list, 1), *best = TestOfParameter(list, 3);
        ASSERT_TRUE(worst && best && worst->tradeCount > 0);
        ASSERT_NE(nullptr, OpenTradeList(worst));
        ASSERT_NE(nullptr, OpenStatsGraph(list, worst, 0));
        ASSERT_NE(nullptr, OpenTradePlotWindow(list, worst, 0));
        ASSERT_NE(nullptr, OpenStatsGraph(list, best, 0));
        Pump();

        gSettings.OptClearResults = path.clear;
        gSettings.OptSortResults = path.sort;
        gSettings.OptKeepBest = path.keepBest;
        SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_OPTIMIZE, 0);
        SyncResultsWindows();
        Pump();
        EXPECT_EQ(path.listed, list->testCount);
        for (HWND w = GetWindow(gFrame.mdiClient, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
            const TestRecord *shown = ShownTest(w);
            bool listed = shown == nullptr;
            for (const TestRecord *t = list->firstTest; t && !listed; t = t->next) listed = t == shown;
            EXPECT_TRUE(listed) << "a window shows a freed test: " << Title(w);
        }
        EXPECT_EQ(0, CountChildren("KestovarTrades"));
        EXPECT_EQ(0, CountChildren("KestovarPlot"));
        EXPECT_EQ(path.graphsLeft, CountChildren("KestovarGraph"));

        /* Enter on the results list opens the graph of its selected test. */
        HWND results = FindResultsHwnd(list);
        ASSERT_NE(nullptr, results);
        EXPECT_EQ(path.listed, ListView_GetItemCount(GetListViewOf(results)));
        SelectItem(results, 0);
        NMLVKEYDOWN key = {};
        key.hdr.hwndFrom = GetListViewOf(results);
        key.hdr.idFrom = LIST_VIEW_ID;
        key.hdr.code = LVN_KEYDOWN;
        key.wVKey = VK_RETURN;
        SendMessageA(results, WM_NOTIFY, LIST_VIEW_ID, (LPARAM)&key);
        Pump();
        EXPECT_NE(nullptr, gFrame.frame);
        HWND child;
        while ((child = GetWindow(gFrame.mdiClient, GW_CHILD)) != nullptr) DestroyWindow(child);
        while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    }
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY); /* the script's parameters are not the next test's */
    UnloadData();
    gSettings = saved;
}

/* The SaveTestListAs list of an optimization holds every test it ran, also
** when the run ends before the results window has taken its last tests. */
TEST_F(ResultWindowsTest, AnOptimizationsTestListHoldsEveryTest)
{
    const ProgramSettings saved = gSettings;
    WriteOptimizationScript();
    std::string list = File("tests.csv");
    std::string text = ReadTestFile(gSettings.ActiveScript);
    text.insert(text.find("Import:"), "  SaveTestListAs: " + list + "\n");
    WriteTestFile(gSettings.ActiveScript, text);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_IMPORT, 0);
    Pump();
    ASSERT_EQ(RESULT_OK, gRun.resultCode.load()) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    gSettings.OptClearResults = 1;
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_OPTIMIZE, 0);
    EXPECT_EQ(RESULT_OK, gRun.resultCode.load()) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    std::string rows = ReadTestFile(list);
    rows.erase(std::remove(rows.begin(), rows.end(), '\r'), rows.end());
    EXPECT_EQ(rows, "Test,Name,Dates,Score,P\n"
                    "0003,opt,2024-01-02 - 2024-01-31,3,3\n"
                    "0002,opt,2024-01-02 - 2024-01-31,2,2\n"
                    "0001,opt,2024-01-02 - 2024-01-31,1,1\n");
    Pump();
    HWND child;
    while ((child = GetWindow(gFrame.mdiClient, GW_CHILD)) != nullptr) DestroyWindow(child);
    while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
    UnloadData();
    gSettings = saved;
}

#include <chrono>
#include <cstdio>

#include "script/compiler/compile_driver.h"

namespace {

/* Milliseconds the window took over what the user asked of it. */
template <typename Action> double TimeMs(Action action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

/* An optimization of 2,000 tests (Len 5 to 54 by ExitLen 2 to 41): filling,
** sorting, saving, closing and opening its results list each leave the
** window answering within a few seconds (the times are printed, not
** asserted, beyond that bound). */
TEST_F(ResultWindowsTest, ALargeResultsListSortsOpensAndClosesWithoutFreezing)
{
    std::string script = File("large.kvs");
    WriteTestFile(script, "Parameters:\n  Len: from 5 to 54\n  ExitLen: from 2 to 41\n"
                          "Results:\n  Net: 1000 + 2 {$2}\n  Gain: 12.5 * 2 {#2}\n  Count: 40 {#}\n  Ratio: 3 / 4 {#2}\n"
                          "  Draw: 0 - 7 {#2}\n  Held: 9 {#}\n  Score: Len * 100 + ExitLen {#}\n");
    ASSERT_EQ(1, CompileScript(script.c_str(), RUN_MODE_TEST, 1)) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    ASSERT_EQ(7, gResultsColumns.count);
    ResultsWindow *list;
    HWND window = OpenList({}, &list);
    ASSERT_NE(nullptr, window);
    ParamValue names[2] = {};
    CopyString(names[0].name, 64, "Len", -1);
    CopyString(names[1].name, 64, "ExitLen", -1);
    names[0].valueCount = 50;
    names[1].valueCount = 40;
    AddResultsColumns(list, 2, names);
    for (int n = 1; n <= 2000; n++) {
        TestRecord *t = ReadTestRecord(nullptr, 2, 1, 1, 0);
        t->testNumber = n;
        t->settings.FirstDate = 20240102;
        t->settings.LastDate = 20241231;
        CopyString(t->strategies[0].name, 80, "Alpha", -1);
        t->strategies[0].kind = STRATEGY_KIND_STRATEGY;
        t->parameters[0] = names[0];
        t->parameters[0].value = 5 + (n - 1) / 40;
        t->parameters[0].valueIndex = (n - 1) / 40;
        t->parameters[1] = names[1];
        t->parameters[1].value = 2 + (n - 1) % 40;
        t->parameters[1].valueIndex = (n - 1) % 40;
        AddTestToResults(list, t);
    }
    const int len = 3 + 7, exitLen = len + 1; /* list columns of the parameters */
    const double fill = TimeMs([] { SyncResultsWindows(); });
    HWND view = GetListViewOf(window);
    ASSERT_EQ(2000, ListView_GetItemCount(view));
    EXPECT_EQ("$1,002.00", Cell(window, 0, 3));
    const double sortUp = TimeMs([&] { ClickHeader(window, exitLen); });
    const double sortDown = TimeMs([&] { ClickHeader(window, exitLen); });
    /* Descending ExitLen, equal ones in the order they had: the newest first. */
    EXPECT_EQ("2000;41;54;", Cell(window, 0, 0) + ";" + Cell(window, 0, exitLen) + ";" + Cell(window, 0, len) + ";");
    EXPECT_EQ("0001;2;5;", Cell(window, 1999, 0) + ";" + Cell(window, 1999, exitLen) + ";" + Cell(window, 1999, len) + ";");
    EXPECT_EQ(2000, list->lastTest->testNumber);
    const double sortStat = TimeMs([&] { ClickHeader(window, 3); });
    EXPECT_EQ("2000", Cell(window, 0, 0)); /* equal statistics keep the order */

    CopyString(list->path, sizeof list->path, File("large.kvr").c_str(), -1);
    ASSERT_EQ(1, SaveResultsFile(list, 0));
    const double close = TimeMs([&] { SendMessageA(window, WM_CLOSE, 0, 0); });
    EXPECT_FALSE(IsWindow(window));
    const double open = TimeMs([&] { ASSERT_EQ(1, OpenFileByType(File("large.kvr").c_str(), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0)); });
    window = FindResultsHwnd(FirstResultsWindow());
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(2000, ListView_GetItemCount(GetListViewOf(window)));
    EXPECT_EQ("2000", Cell(window, 0, 0)); /* the file keeps the order shown */
    EXPECT_EQ("$1,002.00", Cell(window, 0, 3));
    const double reopenedSort = TimeMs([&] { ClickHeader(window, 0); });
    EXPECT_EQ("0001", Cell(window, 0, 0));
    EXPECT_EQ("503", Cell(window, 1, 9)); /* the Score of test 2: Len 5, ExitLen 3 */
    HoldForScreenshot();
    /* The heat map of the whole optimization, 50 by 40. */
    gSettings.ResGraphHeatMap = 1;
    gSettings.ResGraphXVar = 0;
    gSettings.ResGraphYVar = 1;
    gSettings.ResGraphValueCol = 6;
    ResultsCommand(window, IDM_RESULTS_OPTGRAPH);
    HWND heatMap = nullptr;
    ASSERT_TRUE(FindNextChildWindow(&heatMap, "KestovarResGraph"));
    EXPECT_EQ("Optimization Heat Map - Score", Title(heatMap));
    HoldForScreenshot();
    list = ResultsListOf(window);
    list->modified = 0;
    const double closeOpened = TimeMs([&] { SendMessageA(window, WM_CLOSE, 0, 0); });
    EXPECT_FALSE(IsWindow(window));

    printf("[ 2,000 tests ] fill %.0f ms, sort %.0f / %.0f / %.0f ms, close %.0f ms, open %.0f ms, "
           "sort %.0f ms, close %.0f ms\n",
           fill, sortUp, sortDown, sortStat, close, open, reopenedSort, closeOpened);
    for (double ms : {fill, sortUp, sortDown, sortStat, close, open, reopenedSort, closeOpened}) EXPECT_LT(ms, 5000);
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
}

namespace {

WNDPROC gListViewProc;
HANDLE gRowsInSightAtDestroy;

/* Records what the list view still holds when it is destroyed. */
LRESULT CALLBACK WatchListView(HWND view, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) gRowsInSightAtDestroy = GetPropA(view, "KvRowsInSight");
    return CallWindowProcA(gListViewProc, view, message, wParam, lParam);
}

} // namespace

/* What the list view keeps of its last scroll goes before the list view
** does, in the results list and in a trade list alike. */
TEST_F(ResultWindowsTest, AListLeavesNothingOnItsListViewWhenItCloses)
{
    ViewData data;
    ResultsWindow *list;
    TestRecord *test = MakeTest(1, nullptr, 0, 6);
    HWND results = OpenList({test}, &list);
    ASSERT_NE(nullptr, results);
    HWND trades = OpenTradeList(test);
    ASSERT_NE(nullptr, trades);
    for (HWND window : {trades, results}) {
        HWND view = GetListViewOf(window);
        WidenColumnsOnScroll(view);
        ASSERT_NE(nullptr, GetPropA(view, "KvRowsInSight"));
        gRowsInSightAtDestroy = (HANDLE)1;
        gListViewProc = (WNDPROC)SetWindowLongPtrA(view, GWLP_WNDPROC, (LONG_PTR)WatchListView);
        list->modified = 0;
        SendMessageA(window, WM_CLOSE, 0, 0);
        Pump();
        ASSERT_FALSE(IsWindow(window));
        EXPECT_EQ(nullptr, gRowsInSightAtDestroy);
    }
}

/* Deleting all tests, or closing the list, closes every window that shows
** one of its tests, and only those. */
TEST_F(ResultWindowsTest, AListThatGoesTakesTheWindowsOfItsTests)
{
    ViewData data;
    for (int command : {IDM_DELETE_ALL_TESTS, 0 /* close the list */}) {
        SCOPED_TRACE(command ? "Delete All Tests" : "close");
        ResultsWindow *list;
        TestRecord *first = MakeTest(1, nullptr, 0, 8), *second = MakeTest(2, nullptr, 0, 6);
        HWND results = OpenList({first, second}, &list);
        ASSERT_NE(nullptr, results);
        ASSERT_NE(nullptr, OpenStatsGraph(list, first, 0));
        ASSERT_NE(nullptr, OpenTradeList(second));
        ASSERT_NE(nullptr, OpenTradePlotWindow(list, second, 0));
        ASSERT_NE(nullptr, CreateResGraphWindow(list));
        OpenLogFile(nullptr); /* a window of no test stays */
        Pump();
        list->modified = 0;
        if (command)
            ResultsCommand(results, command);
        else
            SendMessageA(results, WM_CLOSE, 0, 0);
        Pump();
        for (const char *kind : {"KestovarGraph", "KestovarTrades", "KestovarPlot", "KestovarResGraph"})
            EXPECT_EQ(0, CountChildren(kind)) << kind;
        EXPECT_EQ(1, CountChildren("KestovarLog"));
        EXPECT_EQ(command ? 1 : 0, CountChildren("KestovarResults"));
        if (command) {
            EXPECT_EQ(0, ListView_GetItemCount(GetListViewOf(results)));
        }
        HWND child;
        while ((child = GetWindow(gFrame.mdiClient, GW_CHILD)) != nullptr) DestroyWindow(child);
        while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    }
}

namespace {

/* A script that imports 60 weekdays of one symbol from 2024-01-01 (a
** Monday) and tests a strategy that holds each position two days, saving its
** tests to run.kvr.  Two of its Results columns count the test's dates; the
** others are summary statistics ("|1") and not. */
std::string WriteStatsRunScript()
{
    const std::string prices = FrameTest::File("statsprices"), data = FrameTest::File("stats.kvd");
    CreateDirectoryA(prices.c_str(), nullptr);
    std::string csv = "Date,Open,High,Low,Close,Volume\n";
    int month = 1, day = 1;
    static const int kDays[] = {31, 29, 31, 30};
    for (int weekday = 0, written = 0; written < 60; weekday = (weekday + 1) % 7) {
        if (weekday < 5) {
            const int close = 100 + (written * 7) % 11;
            char line[96];
            snprintf(line, sizeof line, "2024-%02d-%02d,%d.5,%d,%d,%d,1000\n", month, day, close - 1, close + 1,
                     close - 2, close);
            csv += line;
            written++;
        }
        if (++day > kDays[month - 1]) day = 1, month++;
    }
    WriteTestFile(prices + "\\AAA.csv", csv);
    const std::string script = FrameTest::File("statsrun.kvs");
    WriteTestFile(script, "Settings:\n  DataFile: " + data + "\n  ResultsFile: " + FrameTest::File("run.kvr") +
                              "\n  AccountSize: 100000\nImport:\n  DataSource: CSV\n  DataPath: " + prices + "\n  SaveAs: " +
                              data + "\n  StartDate: 2024-01-01\n  EndDate: 2024-12-31\nResults:\n"
                              "  Net: S.Equity - S.StartEquity {$0 \"Net Profit\"}\n"
                              "  NetPct: S.Equity / S.StartEquity - 1 {%2 \"Net %\" |1}\n"
                              "  DateCount: S.Number {#0 \"Dates\"}\n"
                              "  Reached: S.Number {#0 \"Reached\" |1}\n"
                              "  TradeCount: Sum(S.Wins + S.Losses, S.Number) {#0 \"Trades\" |1}\n"
                              "  WinPct: Sum(S.Wins, S.Number) / Sum(S.Wins + S.Losses, S.Number) {%1 \"Win %\"}\n"
                              "Strategy: S1\n  Side: Long\n  EntrySetup: C > 0\n  ExitRule: BarsHeld >= 2\n"
                              "  Quantity: 10\n  QtyType: Percent\n");
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, script.c_str(), -1);
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, data.c_str(), -1);
    gSettings.UseEarliestDate = gSettings.UseLatestDate = 1;
    gSettings.AddGraph = gSettings.AddLog = gSettings.AddDebug = gSettings.AddReport = gSettings.AddTrades = 0;
    SettingsToDialog(gFrame.settingsPanel, IDD_SETTINGS_PANEL, 0);
    return script;
}

/* Its timer holds the program up at each pump, as a slow machine would, so
** the run shows its progress lines on many of its dates.  The timer is due
** again at once after a hold: only a pump's first dispatch holds. */
void CALLBACK SlowDown(HWND, UINT, UINT_PTR, DWORD)
{
    static DWORD heldUntil;
    if (GetTickCount() - heldUntil < 3) return;
    Sleep(25);
    heldUntil = GetTickCount();
}

std::string Heading(HWND window, int column)
{
    char text[256] = "";
    HDITEMA item = {};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    Header_GetItem(ListView_GetHeader(GetListViewOf(window)), column, &item);
    return text;
}

std::string RowText(HWND window, int row)
{
    std::string text;
    const int columns = Header_GetItemCount(ListView_GetHeader(GetListViewOf(window)));
    for (int c = 0; c < columns; c++) text += Cell(window, row, c) + "|";
    return text;
}

struct ClosedDuringRun {
    int seen, runListOpen, otherListOpen;
};
ClosedDuringRun gClosedDuringRun;

} // namespace

/* A test run with F5 shows the statistics of the test it ran, not those of
** the date its last progress line was drawn on: the row is the row the
** reopened file shows, and the dates it counts are all 60.  While it runs,
** the results window it adds its test to refuses to close, and another one
** closes (the run's list is the script's results file, not the list opened
** first). */
TEST_F(ResultWindowsTest, ATestJustRunShowsTheRowItsFileShows)
{
    ProgramSettings saved = gSettings;
    WriteStatsRunScript();
    DeleteFileA(File("run.kvr").c_str());
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_IMPORT, 0);
    Pump();
    ASSERT_EQ(gRun.resultCode.load(), RESULT_OK) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    ASSERT_EQ(1, OpenResultsWindow(nullptr));
    gSettings.AddDebug = 1; /* the run hands the debug panel its symbol on its last date */
    SettingsToDialog(gFrame.settingsPanel, IDD_SETTINGS_PANEL, 0);
    void (*examine)(const char *, const char *) = gRunViewHooks.updateExaminePanel;
    gClosedDuringRun = {};
    gRunViewHooks.updateExaminePanel = [](const char *, const char *) {
        SyncResultsWindows();
        HWND run = FindResultsHwnd(FindResultsWindowByPath(File("run.kvr").c_str())), other = nullptr;
        for (HWND child = nullptr; FindNextChildWindow(&child, "KestovarResults");)
            if (child != run) other = child;
        SendMessageA(run, WM_CLOSE, 0, 0);
        SendMessageA(other, WM_CLOSE, 0, 0);
        gClosedDuringRun = {1, IsWindow(run) ? 1 : 0, IsWindow(other) ? 1 : 0};
    };
    DialogWatcher::Clear();
    const UINT_PTR slow = SetTimer(nullptr, 0, 5, SlowDown);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_TEST, 0);
    KillTimer(nullptr, slow);
    gRunViewHooks.updateExaminePanel = examine;
    EXPECT_EQ(1, gClosedDuringRun.seen);
    EXPECT_EQ(1, gClosedDuringRun.runListOpen);
    EXPECT_EQ(0, gClosedDuringRun.otherListOpen);
    EXPECT_TRUE(SeenText("Please stop the current test before closing its results window."));
    ASSERT_EQ(gRun.resultCode.load(), RESULT_OK) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    SyncResultsWindows();
    ResultsWindow *list = FindResultsWindowByPath(File("run.kvr").c_str());
    ASSERT_NE(nullptr, list);
    HWND window = FindResultsHwnd(list);
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(1, ListView_GetItemCount(GetListViewOf(window)));
    EXPECT_EQ("Dates|Reached|", Heading(window, 5) + "|" + Heading(window, 6) + "|");
    EXPECT_EQ("60|60|", Cell(window, 0, 5) + "|" + Cell(window, 0, 6) + "|");
    EXPECT_NE("$0", Cell(window, 0, 3));
    const std::string run = RowText(window, 0);

    SendMessageA(window, WM_CLOSE, 0, 0);
    Pump();
    ASSERT_FALSE(IsWindow(window));
    ASSERT_EQ(1, OpenResultsWindow(File("run.kvr").c_str()));
    window = FindResultsHwnd(FindResultsWindowByPath(File("run.kvr").c_str()));
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(run, RowText(window, 0));
    gSettings = saved;
}

/* With two results windows open, Rename Test (F2) and Compare Trade Lists
** act on the one the user gave them in, not on the one opened first; both
** lists number their tests alike. */
TEST_F(ResultWindowsTest, RenameAndCompareActOnTheActiveResultsWindow)
{
    ViewData data;
    gSettings.ChartBarSize2 = BAR_DAILY;
    ResultsWindow *first;
    HWND firstWindow = OpenList({MakeTest(1, nullptr, 0, 8), MakeTest(2, nullptr, 0, 6), MakeTest(3, nullptr, 0, 6)}, &first);
    ASSERT_NE(nullptr, firstWindow);
    ASSERT_EQ(1, OpenResultsWindow(nullptr));
    Pump();
    HWND secondWindow = gFrame.activeChild;
    ResultsWindow *second = ResultsListOf(secondWindow);
    ASSERT_TRUE(second && second != first);
    TestRecord *chosen = MakeTest(3, nullptr, 0, 8);
    for (TestRecord *t : {MakeTest(1, nullptr, 0, 6), MakeTest(2, nullptr, 0, 6), chosen}) AddTestToResults(second, t);
    SyncResultsWindows();
    SelectItem(firstWindow, 0);
    SelectItem(secondWindow, 0); /* chosen, the newest */
    first->modified = second->modified = 0;
    /* The first results window of the debug panel, the graphs and a run
    ** without a results file is the frontmost, not the one opened first. */
    EXPECT_EQ(second, FirstResultsWindow());

    NMLVKEYDOWN f2 = {};
    f2.hdr.hwndFrom = GetListViewOf(secondWindow);
    f2.hdr.idFrom = LIST_VIEW_ID;
    f2.hdr.code = LVN_KEYDOWN;
    f2.wVKey = VK_F2;
    DialogWatcher::Clear();
    SendMessageA(secondWindow, WM_NOTIFY, LIST_VIEW_ID, (LPARAM)&f2);
    Pump();
    ASSERT_EQ(1u, DialogWatcher::Seen().size());
    EXPECT_EQ(0u, DialogWatcher::Seen()[0].find("Rename Test 0003|"));
    EXPECT_EQ(0, first->modified);
    EXPECT_EQ(1, second->modified);

    gSettings.Test1 = 1;
    gSettings.Test2 = 2;
    gSettings.Strat1 = gSettings.Strat2 = 0;
    gSettings.KeepMatches = gSettings.KeepNonMatches = 1;
    gSettings.MinDlrDiff = gSettings.MinPctDiff = 0;
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RESULTS_COMPARE, 0);
    Pump();
    HWND compare = nullptr;
    ASSERT_TRUE(FindNextChildWindow(&compare, "KestovarCompare"));
    const CompareWindow *shown = (const CompareWindow *)GetWindowLongPtrA(compare, GWLP_USERDATA);
    EXPECT_EQ(chosen, shown->test1);
    EXPECT_EQ(chosen, shown->test2);
    /* Its settings offer the tests of the same list again. */
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)firstWindow, 0);
    EXPECT_EQ(first, FirstResultsWindow());
    gSettings.Test1 = gSettings.Test2 = 2;
    CompareCommand(compare, IDM_COMPARE_SETTINGS);
    Pump();
    shown = (const CompareWindow *)GetWindowLongPtrA(compare, GWLP_USERDATA);
    EXPECT_EQ(second->firstTest->next, shown->test1);
}

/* The run time a run ends with leaves out the time its Data File question
** waited for the user: a run of a moment stays a moment. */
TEST_F(ResultWindowsTest, TheRunTimeLeavesOutAQuestionsWait)
{
    ProgramSettings saved = gSettings;
    WriteStatsRunScript();
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_IMPORT, 0);
    Pump();
    ASSERT_EQ(gRun.resultCode.load(), RESULT_OK) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    UnloadData();                            /* the test loads the data file again */
    ASSERT_NE(nullptr, OpenTradeList(MakeTest(1, nullptr, 0, 4))); /* a window that loading closes */
    gSettings.AskUnloadData = 1;
    DialogWatcher::Clear();
    DialogWatcher::Delay(1500);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_TEST, 0);
    DialogWatcher::Delay(0);
    ASSERT_TRUE(SeenText("Changing the Data File will close all Chart, Graph, Plot, Scan and Trades windows."));
    EXPECT_EQ(0, CountChildren("KestovarTrades"));
    char time[64] = "";
    GetStatusText(1, time, sizeof time);
    int hours = -1, minutes = -1, seconds = -1, ms = -1;
    ASSERT_EQ(4, sscanf(time, "Time: %d:%d:%d.%d", &hours, &minutes, &seconds, &ms)) << time;
    /* The 1.5 s the question was held open are not the test's time (room is
    ** left for a loaded machine). */
    EXPECT_LT(((hours * 60 + minutes) * 60 + seconds) * 1000 + ms, 1400) << time;
    gSettings = saved;
}

/* A scan with a window has its file and its pictures once its run returns,
** as a batch needs them before it goes on or ends: not only after the idle
** timer that finishes a TestScan window.  The closes of statsrun.kvs reach
** 110 on its 4th, 15th, 26th, 37th, 48th and 59th day: 6 rows.  In a batch
** that ends the program the window goes with it, so a scan without a file
** to keep its rows fails, naming the setting. */
TEST_F(ResultWindowsTest, AScanWithAWindowSavesItsFileAndPicturesInItsRun)
{
    ProgramSettings saved = gSettings;
    const std::string data = File("stats.kvd"), scanFile = File("scan.csv"), charts = File("scancharts");
    WriteStatsRunScript();
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_IMPORT, 0);
    Pump();
    ASSERT_EQ(gRun.resultCode.load(), RESULT_OK) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    StartResultWindows();
    const std::string script = File("scanrun.kvs");
    const std::string scan = "Scan:\n  Filter: C >= 110\n  Last: {#2} C\n";
    WriteTestFile(script, "Settings:\n  DataFile: " + data + "\n  SaveScanAs: " + scanFile + "\n  SaveChartsTo: " + charts +
                              "\n" + scan);
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, script.c_str(), -1);
    SettingsToDialog(gFrame.settingsPanel, IDD_SETTINGS_PANEL, 0);
    ASSERT_EQ(0, RunScript(RUN_MODE_SCAN)) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    const std::string rows = ReadTestFile(scanFile);
    EXPECT_EQ(7, std::count(rows.begin(), rows.end(), '\n')) << rows;
    int pictures = 0;
    for (size_t at = rows.find('\n'); at != std::string::npos && at + 1 < rows.size(); at = rows.find('\n', at + 1)) {
        const std::string date = rows.substr(at + 1, 10); /* yyyy-MM-dd */
        const std::string name = charts + "\\AAA_" + date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2) + ".PNG";
        pictures += GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    EXPECT_EQ(6, pictures);

    WriteTestFile(script, "Settings:\n  DataFile: " + data + "\n" + scan);
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, script.c_str(), -1);
    SettingsToDialog(gFrame.settingsPanel, IDD_SETTINGS_PANEL, 0);
    gScanWindowGoesWithBatch = 1;
    DialogWatcher::Clear();
    EXPECT_EQ(-1, RunScript(RUN_MODE_SCAN));
    gScanWindowGoesWithBatch = 0;
    EXPECT_TRUE(SeenText("The scan window closes with this batch: the scan is kept only in the file that SaveScanAs "
                         "names, and SaveScanAs is empty"))
        << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    HWND child;
    while ((child = GetWindow(gFrame.mdiClient, GW_CHILD)) != nullptr) DestroyWindow(child);
    gSettings = saved;
}

namespace {

/* Another program that holds the results file's guard (it saves the file)
** while the window loads it, and what the user sees and does meanwhile, from
** a thread of its own: the wait dialog's text, whether the frame answers a
** message while the dialog shows (with handOff, a start of the program that
** hands it the results file), then either the other program letting go or
** the user's Stop Waiting. */
struct OtherProgram {
    FileGuard guard = {};
    std::string said;    /* "title|text" of the wait dialog, "" when none showed */
    bool answered = false;
    std::thread thread;

    OtherProgram(const std::string &results, bool letsGo, bool handOff)
    {
        EXPECT_EQ(1, TakeFileGuard(&guard, (results + ".~kvl").c_str(), 1, 0));
        thread = std::thread([this, letsGo, handOff, results] {
            HWND dialog = AwaitShownDialog("Waiting for Another Program", 3000);
            if (dialog) {
                char text[1024] = "";
                GetDlgItemTextA(dialog, IDC_WAIT_TEXT, text, sizeof text);
                said = std::string("Waiting for Another Program|") + text;
                DWORD_PTR result = 0;
                answered = SendMessageTimeoutA(gFrame.frame, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
                if (handOff) {
                    std::string line = "\"" + results + "\"";
                    COPYDATASTRUCT data = {999, (DWORD)line.size() + 1, line.data()};
                    answered = answered &&
                        SendMessageTimeoutA(gFrame.frame, WM_COPYDATA, 0, (LPARAM)&data, SMTO_NORMAL, 5000, &result) != 0;
                }
            }
            if (letsGo || !dialog)
                ReleaseFileGuard(&guard);
            else
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); /* the user stops waiting */
        });
    }
    ~OtherProgram()
    {
        if (thread.joinable()) thread.join();
        ReleaseFileGuard(&guard);
    }
};

} // namespace

/* The wait dialog names the whole path, and for the longest path a file may
** have (259 characters, wrapping at its backslashes or, without any, inside
** its name, in narrow or wide letters) it still shows the sentence after the
** path: the text has room for every line it wraps into, the button stands
** below it inside the dialog, and the dialog on the screen. */
TEST_F(ResultWindowsTest, TheWaitDialogShowsItsWholeTextForTheLongestPath)
{
    auto pathOf = [](const std::string &folder, const std::string &name) {
        std::string path = "C:";
        while (path.size() + 1 + folder.size() + 1 + name.size() <= 259) path += "\\" + folder;
        path += "\\" + name;
        return path + std::string(259 - path.size(), name[0]);
    };
    const std::string paths[] = {
        pathOf(std::string(60, 'd'), "r.kvr"),
        pathOf("ab", "r.kvr"),
        "C:\\" + std::string(256, 'W'),
        "C:\\" + std::string(256, 'i'),
        /* a name outside the code page shows its letters */
        "C:\\donn\xC3\xA9" "es\\\xD0\x9F\xD1\x80\xD0\xBE \xE2\x82\xAC.kvr",
    };
    DialogWatcher::Delay(60000); /* the dialog is this test's to end */
    for (const std::string &path : paths) {
        if (std::none_of(path.begin(), path.end(), [](char c) { return c & 0x80; })) ASSERT_EQ(259u, path.size());
        std::string fault = "no wait dialog";
        std::wstring shown;
        std::thread look([&fault, &shown] {
            HWND dialog = AwaitShownDialog("Waiting for Another Program", 3000);
            if (!dialog) return;
            HWND label = GetDlgItem(dialog, IDC_WAIT_TEXT), button = GetDlgItem(dialog, IDCANCEL);
            WCHAR text[1024] = L"";
            GetWindowTextW(label, text, 1024);
            shown = text;
            RECT room, inside, box, at, frame;
            GetClientRect(label, &room);
            GetClientRect(dialog, &inside);
            GetWindowRect(label, &box);
            GetWindowRect(button, &at);
            MapWindowPoints(nullptr, dialog, (POINT *)&box, 2);
            MapWindowPoints(nullptr, dialog, (POINT *)&at, 2);
            GetWindowRect(dialog, &frame);
            HDC dc = GetDC(label);
            HGDIOBJ font = SelectObject(dc, (HFONT)SendMessageA(label, WM_GETFONT, 0, 0));
            RECT need = {0, 0, room.right, 0};
            DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
            SelectObject(dc, font);
            ReleaseDC(label, dc);
            MONITORINFO screen = {sizeof screen};
            GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &screen);
            fault.clear();
            if (need.bottom > room.bottom)
                fault = "the text needs " + std::to_string(need.bottom) + " pixels and has " + std::to_string(room.bottom);
            else if (at.top < box.bottom || at.bottom > inside.bottom)
                fault = "the button is not below the text inside the dialog";
            else if (frame.top < screen.rcWork.top || frame.bottom > screen.rcWork.bottom)
                fault = "the dialog leaves the screen";
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(0, WaitForOtherProgram(path.c_str(), [](void *) { return 0; }, nullptr));
        look.join();
        EXPECT_EQ("", fault) << path;
        WCHAR wide[300] = L"";
        PlatWideFromText(path.c_str(), wide, 300);
        EXPECT_NE(std::wstring::npos, shown.find(wide)) << path;
    }
    DialogWatcher::Delay(0);
}

/* Another program is saving the results file (it holds the file's guard)
** while the user runs Test on a script whose results file it is, or opens the
** file: the window keeps answering while it waits, says that it waits for
** another program, and goes on once that program has let go, the test run
** and kept.  Only the user's Stop Waiting ends a wait: the run then ends,
** saying so, and the file keeps what it held.  A file handed over meanwhile
** opens once the wait is over, not inside it. */
TEST_F(ResultWindowsTest, TheWindowWaitsForAnotherProgramAndKeepsTheRun)
{
    ProgramSettings saved = gSettings;
    WriteStatsRunScript();
    const std::string results = File("run.kvr");
    DeleteFileA(results.c_str());
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_IMPORT, 0);
    Pump();
    ASSERT_EQ(gRun.resultCode.load(), RESULT_OK) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_TEST, 0);
    auto closeLists = [] {
        HWND child;
        while ((child = GetWindow(gFrame.mdiClient, GW_CHILD)) != nullptr) DestroyWindow(child);
        while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    };
    closeLists();
    const std::string waiting = "Waiting for Another Program|Another program is saving or reading this file:\r\n" +
        results + "\r\n\r\nKestovar goes on as soon as that program has finished with it.";
    struct Round {
        const char *what;
        bool run;       /* Run Test, else open the file */
        bool letsGo;    /* the other program lets go, else the user stops waiting */
        bool handOff;   /* the file is handed over while the window waits */
        int32_t tests;  /* the list afterwards; 0: none opened */
    } rounds[] = {
        {"a run waits and keeps its test", true, true, false, 2},
        {"the user stops waiting", true, false, false, 0},
        {"opening the file waits", false, true, true, 2},
    };
    for (const Round &r : rounds) {
        SCOPED_TRACE(r.what);
        DialogWatcher::Clear();
        DialogWatcher::Delay(r.letsGo ? 60000 : 1000); /* the wait is the other program's or the user's to end */
        {
            OtherProgram other(results, r.letsGo, r.handOff);
            if (r.run)
                SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_TEST, 0);
            else
                OpenResultsWindow(results.c_str());
            if (other.thread.joinable()) other.thread.join();
            EXPECT_EQ(waiting, other.said);
            EXPECT_TRUE(other.answered) << "the window did not answer while it waited";
        }
        DialogWatcher::Delay(0);
        Pump();
        SyncResultsWindows();
        EXPECT_EQ(r.tests ? 1 : 0, CountChildren("KestovarResults"));
        ResultsWindow *list = FindResultsWindowByPath(results.c_str());
        if (r.tests) {
            ASSERT_NE(nullptr, list);
            EXPECT_EQ(r.tests, list->testCount);
            EXPECT_EQ(0, list->modified);
            EXPECT_EQ("0002", Cell(FindResultsHwnd(list), 0, 0)); /* the newest first */
            EXPECT_TRUE(DialogWatcher::Seen().empty()) << DialogWatcher::Seen()[0];
        } else {
            EXPECT_EQ(nullptr, list);
            EXPECT_TRUE(SeenText("you stopped waiting for another program that was using it."));
        }
        closeLists();
    }
    gSettings = saved;
}
