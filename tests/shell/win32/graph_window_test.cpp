#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/results_file.h"
#include "engine/run_view_hooks.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "frame_fixture.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "services/services.h"
#include "views/graph_data.h"
#include "views/graph_geometry.h"
#include "views/graph_record.h"

namespace {

/* A test of two Strategy sections over rows dates (30 by default), with the
** Graphs columns given (their formulas have no nodes: every value is 0). */
struct GraphFixture {
    ResultsWindow *results = nullptr;
    TestRecord *test = nullptr;
    DefinitionList savedColumns = gGraphsColumns;
    explicit GraphFixture(int shownColumns, int rows = 30)
    {
        results = CreateResultsWindow(0, nullptr);
        test = ReadTestRecord(nullptr, 0, 2, rows, 0);
        EXPECT_TRUE(results && test);
        test->testNumber = 7;
        CopyString(test->settings.TestName, sizeof test->settings.TestName, "Demo", -1);
        test->firstDate = 20240102;
        test->lastDate = 20240131;
        test->mainStrategy = 1;
        for (int s = 0; s < 2; s++) {
            test->strategies[s].kind = STRATEGY_KIND_STRATEGY;
            FormatText(test->strategies[s].name, sizeof test->strategies[s].name, s ? "Combined" : "Breakout");
        }
        for (int p = 0; p < rows; p++)
            for (int s = 0; s < 2; s++) test->cells[p * 2 + s].date = uint32_t(20240102 + p);
        gGraphsColumns = DefinitionList{};
        EXPECT_TRUE(AllocMemory(&gGraphsColumns.items, 2 * sizeof(FormulaColumn)));
        gGraphsColumns.capacity = gGraphsColumns.count = 2;
        FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
        for (int k = 0; k < 2; k++) {
            columns[k].format = k < shownColumns ? 1 : 0;
            columns[k].decimals = -1;
            CopyString(columns[k].heading, sizeof columns[k].heading, k ? "Drawdown" : "Equity", -1);
        }
    }
    ~GraphFixture()
    {
        FreeMemory(&gGraphsColumns.items);
        gGraphsColumns = savedColumns;
        FreeTestRecord(nullptr, test);
    }
};

GraphWindow *Record(HWND window) { return (GraphWindow *)GetWindowLongPtrA(window, GWLP_USERDATA); }

} // namespace

TEST_F(FrameTest, GraphNeedsAShownFormula)
{
    GraphFixture fixture(0);
    DialogWatcher::Clear();
    EXPECT_EQ(OpenStatsGraph(fixture.results, fixture.test, 0), nullptr);
    EXPECT_TRUE(SeenText("Unable to correctly display stats graphs."));
    EXPECT_EQ(CountChildren("KestovarGraph"), 0);
}

TEST_F(FrameTest, GraphOpensWithTabsSeriesAndKeys)
{
    GraphFixture fixture(2);
    gSettings.GraphType = 0;
    HWND window = OpenStatsGraph(fixture.results, fixture.test, 0);
    ASSERT_NE(window, nullptr);
    Pump();
    char title[200];
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Daily Stats Graph - Test 7 - Demo");
    EXPECT_EQ(TabTitle(window), "Test7 Graphs"); // the tab names the kind's own subject
    GraphWindow *graph = Record(window);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(TabCtrl_GetItemCount((HWND)graph->tabs), 2);
    EXPECT_TRUE(TabStripSpans(window, (HWND)graph->tabs));
    EXPECT_EQ(graph->pointCount, 30);
    EXPECT_EQ(graph->seriesCount, 2);
    EXPECT_EQ(graph->combinedIndex, 1);
    EXPECT_STREQ(graph->title, "Equity");

    struct Key {
        const char *what;
        WPARAM key;
        uint32_t first, second;
    } keys[] = {
        { "1 shows the first strategy only", '1', 1, 0 },
        { "0 shows the combined series only", '0', 0, 1 },
        { "a shows all again", 0, 1, 1 },
    };
    for (const Key &k : keys) {
        if (k.key)
            SendMessageA(window, WM_KEYDOWN, k.key, 0);
        else
            SendMessageA(window, WM_CHAR, 'a', 0);
        EXPECT_EQ(graph->series[0].shown, k.first) << k.what;
        EXPECT_EQ(graph->series[1].shown, k.second) << k.what;
    }
    SendMessageA(window, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_STREQ(Record(window)->title, "Drawdown");
    EXPECT_EQ(gSettings.GraphType, 1);

    SendMessageA(window, WM_CHAR, 'd', 0);
    HWND list = FindWindowExA(gFrame.mdiClient, nullptr, "KestovarList", nullptr);
    ASSERT_NE(list, nullptr);
    GetWindowTextA(list, title, sizeof title);
    EXPECT_STREQ(title, "Graph Data - Test 7 - Drawdown");
    EXPECT_EQ(ListView_GetItemCount(GetListViewOf(list)), 30);
    EXPECT_EQ(Header_GetItemCount(ListView_GetHeader(GetListViewOf(list))), 3);
    SendMessageA(list, WM_CLOSE, 0, 0);

    /* A drag across the plot shows that subset of dates; Esc shows all again. */
    UpdateWindow(window);
    RECT client;
    GetClientRect(window, &client);
    int x5 = GraphXFromIndex(5, 30, client.right), x15 = GraphXFromIndex(15, 30, client.right);
    int y = client.bottom / 2;
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x5, y));
    SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x15, y));
    SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x15, y));
    graph = Record(window);
    EXPECT_EQ(graph->subsetFirst, 20240107);
    EXPECT_EQ(graph->subsetLast, 20240117);
    EXPECT_EQ(graph->pointCount, 11);
    SendMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(graph->subsetFirst, 0);
    EXPECT_EQ(graph->pointCount, 30);

    SendMessageA(window, WM_CLOSE, 0, 0);
    Pump();

    /* The run's live graph opens once, is refreshed after the next test, and
    ** closing it turns the after-test graph off. */
    ASSERT_NE(gRunViewHooks.showLiveGraph, nullptr);
    gSettings.AddGraph = 1;
    HWND live = (HWND)gRunViewHooks.showLiveGraph(nullptr, fixture.results, fixture.test);
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(gRunViewHooks.showLiveGraph(live, fixture.results, fixture.test), live);
    EXPECT_EQ(CountChildren("KestovarGraph"), 1);
    SendMessageA(live, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_EQ(gSettings.AddGraph, 0);
}

namespace {

/* Runs inside the calculation's message pump once its progress shows: notes
** the status texts and presses Esc. */
struct ProgressSeen {
    char status[2][260];
    int fired;
} sProgress;

void CALLBACK PressEscOnce(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    if (sProgress.fired++) return;
    GetStatusText(0, sProgress.status[0], sizeof sProgress.status[0]);
    GetStatusText(1, sProgress.status[1], sizeof sProgress.status[1]);
    keybd_event(VK_ESCAPE, 0, 0, 0);
}

} // namespace

TEST_F(FrameTest, LongGraphCalculationShowsItsProgressAndStopsOnEsc)
{
    /* Cached values that rise period by period make every new point move to
    ** the front of the descending order, so gathering 60000 points takes
    ** well over a second. */
    const int rows = 60000;
    GraphFixture fixture(1, rows);
    TestRecord *test = fixture.test;
    ASSERT_TRUE(AllocMemory(&test->graphValues, uint64_t(rows) * 2 * 2 * sizeof(double)));
    test->graphValueCount = rows * 2 * 2;
    for (int i = 0; i < rows * 2 * 2; i++) test->graphValues[i] = i;
    test->graphValid[0] = test->graphValid[1] = 1;
    GraphWindow graph = {};
    ASSERT_TRUE(AllocGraphWindow(&graph, test));
    ASSERT_TRUE(CheckGraphDisplay(&graph, 0));
    graph.firstValueTest = test;
    graph.firstValueDates[0] = 20240102;
    SetStatusText(0, "Ready");
    sProgress = ProgressSeen{};
    UINT_PTR timer = SetTimer(nullptr, 0, 10, PressEscOnce);
    ASSERT_NE(timer, 0u);
    DialogWatcher::Clear();
    DWORD started = GetTickCount();
    int ok = CalcGraphData(&graph, 0);
    DWORD took = GetTickCount() - started;
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    KillTimer(nullptr, timer);
    EXPECT_EQ(ok, 0);
    EXPECT_TRUE(SeenText("Calculation aborted"));
    EXPECT_EQ(sProgress.fired, 1);
    EXPECT_STREQ(sProgress.status[0], "Calculating Graph Data...");
    int period = 0, periods = 0;
    EXPECT_EQ(sscanf(sProgress.status[1], "Period %d of %d", &period, &periods), 2) << sProgress.status[1];
    EXPECT_EQ(periods, rows);
    EXPECT_GT(period, 1);
    EXPECT_LT(period, rows);
    EXPECT_GE(took, 1000u) << "no progress within the first second";
    char status[260] = "";
    GetStatusText(0, status, sizeof status);
    EXPECT_STREQ(status, "Ready");
    FreeGraphWindow(&graph);
    FreeMemory(&test->graphValues);
    test->graphValueCount = 0;
}

/* The report draws every marked graph in a hidden window; the next graph
** window still opens on the tab the user chose last. */
TEST_F(FrameTest, AReportLeavesTheChosenGraphTab)
{
    GraphFixture fixture(2);
    FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
    columns[0].caretFlag = columns[1].caretFlag = 1;
    gSettings.GraphType = 0;
    EXPECT_EQ(OpenStatsGraph(fixture.results, fixture.test, -1), nullptr); /* hidden, gone when drawn */
    EXPECT_EQ(gSettings.GraphType, 0);
    HWND window = OpenStatsGraph(fixture.results, fixture.test, 0);
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(Record(window)->title, "Equity");
    DestroyWindow(window);
}

/* A column heading of two-, three- and four-byte letters names its tab by
** those letters. */
TEST_F(FrameTest, GraphTabsShowTheHeadingsLetters)
{
    GraphFixture fixture(2);
    FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
    CopyString(columns[1].heading, sizeof columns[1].heading, "\xC3\xBC \xD0\x96 \xE2\x82\xAC \xF0\x9F\x98\x80", -1);
    HWND window = OpenStatsGraph(fixture.results, fixture.test, 0);
    ASSERT_NE(window, nullptr);
    Pump();
    WCHAR text[40] = L"";
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 40;
    ASSERT_TRUE(SendMessageW((HWND)Record(window)->tabs, TCM_GETITEMW, 1, (LPARAM)&item));
    EXPECT_STREQ((const WCHAR *)u"\u00FC \u0416 \u20AC \U0001F600", text);
    HoldForScreenshot();
    SendMessageA(window, WM_CLOSE, 0, 0);
}
