/* graph_window.cpp -- statistics graph windows: opening and reusing them, the
** tab per Graphs formula, keys, legend clicks, the cursor and the graph
** commands.  Values come from views/graph_data, drawing from
** views/win32/graph_paint. */
#include "views/win32/view_windows.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/results_file.h"
#include "engine/run_view_hooks.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/definitions.h"
#include "services/services.h"
#include "shell/help_topics.h"
#include "views/graph_data.h"
#include "views/graph_geometry.h"
#include "views/results_rows.h"
#include "views/win32/draw_resources.h"
#include "views/win32/graph_paint.h"
#include "views/win32/result_windows.h"

static const char kGraphClass[] = "KestovarGraph";
enum { GRAPH_TABS_ID = 999 };

static GraphWindow *GraphRecord(HWND window) { return (GraphWindow *)GetWindowLongPtrA(window, GWLP_USERDATA); }

static void FreeGraphRecord(GraphWindow **graph)
{
    if (!*graph) return;
    FreeGraphWindow(*graph);
    FreeMemory(graph);
}

static void FillGraphTabs(GraphWindow *graph)
{
    HWND tabs = (HWND)graph->tabs;
    if (!tabs) return;
    TabCtrl_DeleteAllItems(tabs);
    FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
    for (int32_t i = 0, n = 0; i < gGraphsColumns.count; i++) {
        if (!columns[i].format) continue;
        /* A heading is the column script's own text (UTF-8): the tab shows
        ** its letters. */
        std::wstring text = WideFromText(columns[i].heading[0] ? columns[i].heading : columns[i].formula.name);
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        SendMessageW(tabs, TCM_INSERTITEMW, (WPARAM)n++, (LPARAM)&item);
    }
}

static int32_t FindPointByDate(const GraphWindow *graph, int32_t date)
{
    for (int32_t j = 0; j < graph->pointCount; j++)
        if (graph->dates[j] == date) return j;
    return 0;
}

int RefreshGraph(HWND window, int32_t index, int32_t subsetFirst, int32_t subsetLast, int clearCache)
{
    GraphWindow *graph = GraphRecord(window);
    if (!graph || !graph->test) return 0;
    int32_t cursorDate = graph->cursorIndex >= 0 && graph->cursorIndex < graph->pointCount
        ? graph->dates[graph->cursorIndex]
        : 0;
    uint32_t cursorShown = graph->cursorShown;
    graph->cursorShown = 0;
    FillGraphTabs(graph);
    if (!CheckGraphDisplay(graph, index)) return 0;
    if (graph->tabs) TabCtrl_SetCurSel((HWND)graph->tabs, graph->graphIndex);
    if (subsetFirst != -1) graph->subsetFirst = subsetFirst;
    if (subsetLast != -1) graph->subsetLast = subsetLast;
    int ok = CalcGraphData(graph, clearCache);
    if (cursorShown) {
        graph->cursorIndex = FindPointByDate(graph, cursorDate);
        graph->cursorShown = 1;
    }
    if (ImageRequest < 0) {
        HDC dc = GetDC(window);
        PaintGraph(window, dc, graph);
        ReleaseDC(window, dc);
    } else {
        InvalidateRect(window, nullptr, FALSE);
    }
    return ok;
}

void RefreshAllGraphs()
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, kGraphClass)) RefreshGraph(child, -1, -1, -1, 1);
}

/* The tab strip spans the client width from the start: the window's own
** size messages came before its record (and so the strip) existed. */
static HWND CreateGraphTabs(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    HWND tabs = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | TCS_BUTTONS | TCS_HOTTRACK |
                                                            TCS_FOCUSNEVER,
                                0, 0, client.right, GetSystemMetrics(SM_CYMENUSIZE), window, (HMENU)(INT_PTR)GRAPH_TABS_ID,
                                gFrame.instance, nullptr);
    if (tabs && gFrame.uiFont) SendMessageA(tabs, WM_SETFONT, (WPARAM)gFrame.uiFont, FALSE);
    return tabs;
}

HWND OpenStatsGraph(ResultsWindow *results, TestRecord *test, int mode)
{
    if (!results) results = FirstResultsWindow();
    if (!results || !test) return nullptr;
    /* The report's hidden graph steps through its tabs: the tab the user
    ** chose last stays the one the next graph window opens on. */
    const int32_t savedType = gSettings.GraphType;
    HWND reuse = nullptr;
    GraphWindow *old = nullptr;
    if (mode == 1 && FindNextChildWindow(&reuse, kGraphClass)) old = GraphRecord(reuse);
    else reuse = nullptr;

    GraphWindow *graph = nullptr;
    if (!AllocMemory(&graph, sizeof *graph)) return nullptr;
    graph->resultsWindow = results;
    graph->cursorIndex = -1;
    graph->cursorShown = (uint32_t)gSettings.GraphShowCursor;
    graph->allShown = 1;
    graph->combinedShown = 1;
    graph->graphIndex = gSettings.GraphType;
    int32_t cursorDate = 0;
    if (old) {
        graph->cursorShown = old->cursorShown;
        cursorDate = old->cursorIndex >= 0 && old->cursorIndex < old->pointCount ? old->dates[old->cursorIndex] : 0;
        graph->allShown = old->allShown;
        graph->combinedShown = old->combinedShown;
        graph->subsetFirst = old->subsetFirst;
        graph->subsetLast = old->subsetLast;
        graph->tabs = old->tabs;
        graph->graphIndex = old->graphIndex;
        if (!old->allShown) memcpy(graph->savedShown, old->savedShown, sizeof graph->savedShown);
    }
    memset(test->graphValid, 0, sizeof test->graphValid);
    if (!AllocGraphWindow(graph, test) || !CheckGraphDisplay(graph, graph->graphIndex)) {
        FreeGraphRecord(&graph);
        if (mode == -1) gSettings.GraphType = savedType;
        return nullptr;
    }
    for (int32_t s = 0; s < graph->seriesCount; s++) {
        GraphSeries &series = graph->series[s];
        if (s == graph->combinedIndex)
            series.shown = graph->combinedShown;
        else
            series.shown = graph->allShown || (s < GRAPH_SAVED_FLAGS && graph->savedShown[s]);
    }
    if (graph->seriesCount == 1) graph->series[0].shown = 1;
    SetGraphSelection(graph);

    int32_t savedLog = gSettings.GraphUseLogScale, savedMa = gSettings.GraphShowMA, savedSort = gSettings.GraphSort;
    if (mode == -1) {
        gSettings.GraphUseLogScale = test->compounded;
        gSettings.GraphShowMA = 0;
        gSettings.GraphSort = 0;
    } else {
        if (graph->subsetFirst && (graph->subsetFirst < test->firstDate || graph->subsetFirst > test->lastDate))
            graph->subsetFirst = 0;
        if (graph->subsetLast && (graph->subsetLast < test->firstDate || graph->subsetLast > test->lastDate))
            graph->subsetLast = 0;
    }
    graph->logScale = (uint32_t)gSettings.GraphUseLogScale;
    graph->movingAverage = graph->graphType == 0 ? (uint32_t)gSettings.GraphShowMA : 0;
    graph->movingAverageLength = gSettings.GraphMALen;
    graph->sorted = graph->graphType == 1 ? (uint32_t)gSettings.GraphSort : 0;

    char title[300];
    FormatText(title, sizeof title, "Daily Stats Graph - Test %d - %s", test->testNumber, test->settings.TestName);
    HWND window;
    if (mode == -1) {
        window = CreateWindowExA(0, kGraphClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 1200, 800, nullptr, nullptr,
                                 gFrame.instance, nullptr);
    } else if (reuse) {
        window = reuse;
        if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
        SetWindowTitle(window, title);
        GraphWindow *previous = GraphRecord(window);
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        FreeGraphRecord(&previous);
    } else {
        int w = gSettings.iGraphW ? gSettings.iGraphW : CW_USEDEFAULT, h = gSettings.iGraphH ? gSettings.iGraphH : CW_USEDEFAULT;
        window = CreateMdiChild(kGraphClass, title, 0, CW_USEDEFAULT, CW_USEDEFAULT, w, h, nullptr);
        if (window) graph->tabs = CreateGraphTabs(window);
    }
    if (!window) {
        FreeGraphRecord(&graph);
        gSettings.GraphUseLogScale = savedLog, gSettings.GraphShowMA = savedMa, gSettings.GraphSort = savedSort;
        if (mode == -1) gSettings.GraphType = savedType;
        return nullptr;
    }
    FillGraphTabs(graph);
    if (graph->tabs) TabCtrl_SetCurSel((HWND)graph->tabs, graph->graphIndex);
    if (!CalcGraphData(graph, 0)) {
        FreeGraphRecord(&graph);
        if (mode == -1 || !reuse) DestroyWindow(window);
        gSettings.GraphUseLogScale = savedLog, gSettings.GraphShowMA = savedMa, gSettings.GraphSort = savedSort;
        if (mode == -1) gSettings.GraphType = savedType;
        return nullptr;
    }
    if (graph->cursorShown) graph->cursorIndex = FindPointByDate(graph, cursorDate);
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)graph);

    if (mode == -1) {
        graph->cursorShown = 0;
        graph->movingAverage = 0;
        graph->sorted = 0;
        for (int32_t n = NextReportGraph(-1); n >= 0; n = NextReportGraph(n)) {
            ImageRequest = IMAGE_REPORT;
            RefreshGraph(window, n, -1, -1, 0);
        }
        DestroyWindow(window);
        window = nullptr;
    } else {
        UpdateWindowTab(window);
        InvalidateRect(window, nullptr, FALSE);
        ShowWindow(window, SW_SHOW);
        SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
        SetFocus(window);
    }
    gSettings.GraphUseLogScale = savedLog, gSettings.GraphShowMA = savedMa, gSettings.GraphSort = savedSort;
    if (mode == -1) gSettings.GraphType = savedType;
    return window;
}

static HWND sLiveGraph; /* the window opened after each test, null none */

/* The run's live graph: the open one refreshed, else a new one. */
static void *ShowLiveGraph(void *graph, ResultsWindow *results, TestRecord *test)
{
    HWND window = (HWND)graph;
    if (window && window == sLiveGraph && IsWindow(window) && GraphRecord(window)) {
        GraphRecord(window)->test = test;
        RefreshGraph(window, -1, -1, -1, 1);
        return window;
    }
    sLiveGraph = OpenStatsGraph(results, test, 0);
    return sLiveGraph;
}

void InstallGraphViewHooks() { gRunViewHooks.showLiveGraph = ShowLiveGraph; }

/* ---- the data list ---------------------------------------------------------------------- */

static void ShowGraphDataWindow(GraphWindow *graph)
{
    if (!graph->test || graph->pointCount < 1) return;
    HWND window = GetListWindow();
    if (!window) return;
    HWND view = GetListViewOf(window);
    char text[300];
    FormatText(text, sizeof text, "Graph Data - Test %d - %s", graph->test->testNumber, graph->title);
    SetWindowTitle(window, text);
    FormatText(text, sizeof text, "Test %d %s", graph->test->testNumber, graph->title);
    SetListWindowName(window, text);
    int columns = 0;
    AddCentredListColumn(view, columns++, "Date");
    for (int32_t s = 0; s < graph->seriesCount; s++)
        if (graph->series[s].shown) AddCentredListColumn(view, columns++, graph->series[s].name);
    int32_t decimals = (int32_t)graph->decimals;
    if (decimals == -1) decimals = graph->displayFormat == DISPLAY_PERCENT ? DECIMALS_FEWEST_FROM_2 : DECIMALS_TRIMMED;
    const char *currency = graph->test->currency;
    for (int32_t j = 0; j < graph->pointCount; j++) {
        char date[DATE_TEXT_SIZE];
        FormatDate(graph->dates[j], gSettings.DateDisplayFormat, date);
        SetListCell(view, j, 0, date);
        SetListRowData(view, j, graph->dates[j]);
        int column = 1;
        for (int32_t s = 0; s < graph->seriesCount; s++) {
            if (!graph->series[s].shown) continue;
            if (graph->hasColumn)
                FormatNumber(graph->series[s].values[j], (int32_t)graph->displayFormat, decimals, 0, currency, text);
            else
                CopyString(text, sizeof text, "???", -1);
            SetListCell(view, j, column++, text);
        }
    }
    FinishListWindow(window, view);
}

/* ---- keys, characters and commands --------------------------------------------------------- */

static void Redraw(HWND window)
{
    InvalidateRect(window, nullptr, FALSE);
    InvalidateGraphLegend(window);
}

static void GraphCharacter(HWND window, GraphWindow *graph, int key)
{
    switch (key) {
    case '.':
        if (graph->sorted) break;
        graph->cursorShown = !graph->cursorShown;
        gSettings.GraphShowCursor = (int32_t)graph->cursorShown;
        if (graph->cursorIndex < 0 || graph->cursorIndex >= graph->pointCount) graph->cursorIndex = graph->pointCount - 1;
        RefreshGraph(window, -1, -1, -1, 0);
        break;
    case 'a': case 'A': ShowOnlyGraphSeries(graph, -1); break;
    case 'd': case 'D': ShowGraphDataWindow(graph); return;
    case 'o': case 'O':
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_GRAPH_OPTIONS), gFrame.frame, GraphOptionsDlgProc, 0);
        return;
    case 'c': case 'C':
        if (graph->graphType != 0) break;
        graph->combinedArea = !graph->combinedArea;
        gSettings.GraphCombinedArea = (int32_t)graph->combinedArea;
        break;
    case 'f': case 'F':
        graph->fixedHeight = !graph->fixedHeight;
        gSettings.GraphFixedHeight = (int32_t)graph->fixedHeight;
        break;
    case 'l': case 'L':
        gSettings.GraphUseLogScale = !gSettings.GraphUseLogScale;
        RefreshGraph(window, -1, -1, -1, 0);
        break;
    case 'm': case 'M':
        if (graph->graphType != 0) break;
        graph->movingAverage = !graph->movingAverage;
        gSettings.GraphShowMA = (int32_t)graph->movingAverage;
        break;
    case 's': case 'S':
        if (graph->graphType != 1) break;
        graph->sorted = !graph->sorted;
        gSettings.GraphSort = (int32_t)graph->sorted;
        if (graph->sorted) graph->cursorShown = 0;
        break;
    default: return;
    }
    Redraw(window);
}

static void GraphDigit(GraphWindow *graph, int digit, int shift, int control)
{
    if (digit > graph->seriesCount) return;
    if (shift && digit + 10 <= graph->seriesCount) digit += 10;
    int32_t series;
    if (digit == 0) {
        if (graph->combinedIndex < 0 && graph->seriesCount < 10) {
            ShowOnlyGraphSeries(graph, -1);
            return;
        }
        series = graph->combinedIndex >= 0 ? graph->combinedIndex : 9;
    } else {
        series = digit - 1;
    }
    if (control)
        ToggleGraphSeries(graph, series);
    else
        ShowOnlyGraphSeries(graph, series);
}

static void GraphKeyDown(HWND window, GraphWindow *graph, WPARAM key)
{
    int control = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
    if (key >= '0' && key <= '9') {
        GraphDigit(graph, (int)(key - '0'), shift, control);
    } else if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) {
        GraphDigit(graph, (int)(key - VK_NUMPAD0), shift, control);
    } else {
        switch (key) {
        case VK_ESCAPE:
            if (graph->subsetFirst || graph->subsetLast) {
                RefreshGraph(window, -1, 0, 0, 0);
            } else {
                graph->cursorShown = 0;
                gSettings.GraphShowCursor = 0;
            }
            break;
        case VK_LEFT: case VK_RIGHT: {
            int by = key == VK_LEFT ? -1 : 1;
            if (graph->cursorShown && !control) {
                int32_t next = graph->cursorIndex + by;
                if (next >= 0 && next < graph->pointCount) graph->cursorIndex = next;
            } else if (graph->graphCount > 0) {
                RefreshGraph(window, (graph->graphIndex + by + graph->graphCount) % graph->graphCount, -1, -1, 0);
            }
            break;
        }
        case VK_UP:
        case VK_DOWN:
            /* The previous or next test of the results list, in this window. */
            RunResultsActionOnRow(FindResultsHwnd((const ResultsWindow *)graph->resultsWindow), key == VK_UP ? -1 : 1, IDM_RESULTS_GRAPHS);
            return;
        case 'C':
            if (!control) return;
            ImageRequest = IMAGE_CLIPBOARD;
            break;
        case VK_ADD:
            if (graph->movingAverageLength < graph->pointCount) graph->movingAverageLength++;
            gSettings.GraphMALen = graph->movingAverageLength;
            break;
        case VK_SUBTRACT:
            if (graph->movingAverageLength > 1) graph->movingAverageLength--;
            gSettings.GraphMALen = graph->movingAverageLength;
            break;
        default: return;
        }
    }
    Redraw(window);
}

int GraphCommand(HWND window, int command)
{
    GraphWindow *graph = window ? GraphRecord(window) : nullptr;
    if (!graph) return 0;
    if (command >= IDM_GRAPH_TAB_FIRST && command <= IDM_GRAPH_TAB_LAST)
        return RefreshGraph(window, command - IDM_GRAPH_TAB_FIRST, -1, -1, 0), 1;
    switch (command) {
    case IDM_GRAPH_CURSOR: GraphCharacter(window, graph, '.'); return 1;
    case IDM_GRAPH_DATA: GraphCharacter(window, graph, 'd'); return 1;
    case IDM_GRAPH_OPTIONS: GraphCharacter(window, graph, 'o'); return 1;
    case IDM_GRAPH_SORT: GraphCharacter(window, graph, 's'); return 1;
    case IDM_GRAPH_LOG: GraphCharacter(window, graph, 'l'); return 1;
    case IDM_GRAPH_FIXED_HEIGHT: GraphCharacter(window, graph, 'f'); return 1;
    case IDM_GRAPH_AREA: GraphCharacter(window, graph, 'c'); return 1;
    case IDM_GRAPH_MOVING_AVERAGE: GraphCharacter(window, graph, 'm'); return 1;
    case IDM_GRAPH_FULL_RANGE: GraphKeyDown(window, graph, VK_ESCAPE); return 1;
    case IDM_CHART_REFRESH: RefreshAllGraphs(); return 1;
    case IDM_CHART_FORMULAS: {
        char path[PATH_SIZE];
        ColumnScriptPath(SECTION_GRAPHS, path);
        OpenScript(path, nullptr);
        return 1;
    }
    default: return 0;
    }
}

/* ---- mouse ------------------------------------------------------------------------------------ */

static struct {
    int pressX; /* a pending press, -1 none */
    int selecting, selectLeft, selectRight;
} sGraphMouse = { -1, 0, 0, 0 };

/* The bottom of the plot's selectable strip. */
static int GraphPlotBottom(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    return client.bottom - 3 * gGraphGeometry.labelHeight + 10;
}

static void InvertGraphBand(HWND window, int left, int right)
{
    RECT client;
    GetClientRect(window, &client);
    RECT band = { left < right ? left : right, gGraphGeometry.top + gGraphGeometry.legendHeight,
                  left < right ? right : left, GraphPlotBottom(window) };
    HDC dc = GetDC(window);
    InvertRect(dc, &band);
    ReleaseDC(window, dc);
}

int SetGraphCursorAtX(HWND window, int x, int *refresh)
{
    GraphWindow *graph = GraphRecord(window);
    *refresh = 0;
    if (!graph) return 0;
    RECT client;
    GetClientRect(window, &client);
    int32_t index = -1;
    for (int32_t i = 1; i < graph->pointCount; i++) {
        if (GraphXFromIndex(i - 1, graph->pointCount, client.right) < x &&
            x <= GraphXFromIndex(i, graph->pointCount, client.right)) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        *refresh = graph->cursorShown != 0;
        graph->cursorShown = 0;
        return 1;
    }
    *refresh = !graph->cursorShown;
    graph->cursorIndex = index;
    graph->cursorShown = 1;
    InvalidateRect(window, nullptr, FALSE);
    return 1;
}

static void GraphButtonUp(HWND window, GraphWindow *graph, int x)
{
    int pressed = sGraphMouse.pressX >= 0, selecting = sGraphMouse.selecting;
    sGraphMouse.pressX = -1;
    sGraphMouse.selecting = 0;
    if (GetCapture() == window) ReleaseCapture();
    if (!pressed) return;
    int left = sGraphMouse.selectLeft, right = sGraphMouse.selectRight;
    if (selecting && left != right) {
        if (left > right) std::swap(left, right);
        RECT client;
        GetClientRect(window, &client);
        int32_t first = 0, last = 0;
        for (int32_t i = 0; i < graph->pointCount && (!first || !last); i++) {
            int px = GraphXFromIndex(i, graph->pointCount, client.right);
            if (!first && px >= left) first = graph->dates[i];
            if (!last && px >= right) last = graph->dates[i];
        }
        RefreshGraph(window, -1, first, last, 0);
        return;
    }
    int refresh = 0;
    SetGraphCursorAtX(window, x, &refresh);
    if (refresh) RefreshGraph(window, -1, -1, -1, 0);
}

static void GraphMouseMove(HWND window, GraphWindow *graph, int x, int y)
{
    if (x < 0) x = 0;
    gGraphMouse = { x, y };
    if (sGraphMouse.selecting) {
        InvertGraphBand(window, sGraphMouse.selectLeft, sGraphMouse.selectRight);
        sGraphMouse.selectRight = x;
        InvertGraphBand(window, sGraphMouse.selectLeft, sGraphMouse.selectRight);
        return;
    }
    if (sGraphMouse.pressX >= 0 && std::abs(x - sGraphMouse.pressX) > 15) {
        sGraphMouse.selecting = 1;
        sGraphMouse.selectLeft = sGraphMouse.pressX;
        sGraphMouse.selectRight = x;
        SetCapture(window);
        InvertGraphBand(window, sGraphMouse.selectLeft, sGraphMouse.selectRight);
        return;
    }
    if (y < gGraphGeometry.top + gGraphGeometry.legendHeight) {
        gGraphHovered = -1;
        InvalidateGraphLegend(window);
    }
}

static void GraphLeftButton(HWND window, GraphWindow *graph, int x, int y)
{
    const GraphGeometry &g = gGraphGeometry;
    gGraphMouse = { x, y };
    int control = GetKeyState(VK_CONTROL) < 0;
    if (y > g.top + g.legendHeight && y < GraphPlotBottom(window) && !graph->sorted) {
        sGraphMouse.pressX = x;
        return;
    }
    if (y >= g.top && y < g.top + g.legendHeight) {
        if (gGraphHovered == GRAPH_SHOW_ALL)
            ShowOnlyGraphSeries(graph, control ? -2 : -1);
        else if (gGraphHovered >= 0 && gGraphHovered < graph->seriesCount)
            control ? ToggleGraphSeries(graph, gGraphHovered) : ShowOnlyGraphSeries(graph, gGraphHovered);
        else
            graph->cursorShown = 0;
    } else {
        graph->cursorShown = 0;
    }
    Redraw(window);
}

LRESULT CALLBACK GraphWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    GraphWindow *graph = GraphRecord(window);
    bool child = GetParent(window) == gFrame.mdiClient;
    switch (message) {
    case WM_DESTROY:
        if (window == sLiveGraph) {
            /* Closing the graph shown after each test stops showing it. */
            sLiveGraph = nullptr;
            gSettings.AddGraph = 0;
            if (gFrame.settingsPanel) CheckDlgButton(gFrame.settingsPanel, 1145, BST_UNCHECKED);
        }
        if (graph) {
            FreeGraphRecord(&graph);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        if (child) RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        break;
    case WM_SIZE:
        if (child) TrackChildMaximized(window, wParam);
        if (graph && graph->tabs)
            MoveWindow((HWND)graph->tabs, 0, 0, LOWORD(lParam), GetSystemMetrics(SM_CYMENUSIZE), TRUE);
        [[fallthrough]];
    case WM_MOVE:
        if (child && !IsZoomed(window) && !IsIconic(window)) {
            RECT r;
            GetWindowRect(window, &r);
            gSettings.iGraphW = r.right - r.left;
            gSettings.iGraphH = r.bottom - r.top;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (graph) PaintGraph(window, dc, graph);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_NOTIFY: {
        NMHDR *header = (NMHDR *)lParam;
        if (graph && header->idFrom == GRAPH_TABS_ID && header->code == TCN_SELCHANGE)
            RefreshGraph(window, TabCtrl_GetCurSel(header->hwndFrom), -1, -1, 0);
        return 0;
    }
    case WM_HELP:
        OpenHelp(HELP_TOPIC_GRAPH_WINDOW);
        gFrame.helpAnswered = 1;
        return TRUE;
    case WM_MDIACTIVATE: OnMdiChildActivate(window, (HWND)wParam, (HWND)lParam); break;
    case WM_NCLBUTTONDOWN: SetFocus(window); break;
    case WM_LBUTTONDOWN:
        if (graph) GraphLeftButton(window, graph, (short)LOWORD(lParam), (short)HIWORD(lParam));
        return 0;
    case WM_MOUSEMOVE:
        if (graph) GraphMouseMove(window, graph, (short)LOWORD(lParam), (short)HIWORD(lParam));
        return 0;
    case WM_LBUTTONUP:
        if (graph) GraphButtonUp(window, graph, (short)LOWORD(lParam));
        return 0;
    case WM_KEYDOWN:
        if (graph) GraphKeyDown(window, graph, wParam);
        return 0;
    case WM_CHAR:
        if (graph) GraphCharacter(window, graph, (int)wParam);
        return 0;
    default: break;
    }
    if (!child) return DefWindowProcA(window, message, wParam, lParam);
    return DefMDIChildProcA(window, message, wParam, lParam);
}
