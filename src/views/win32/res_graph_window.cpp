/* res_graph_window.cpp -- the results graph window: its tabs of Results
** columns, its commands and keys, and the heat map or bar chart it paints. */
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/window_text.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "services/services.h"
#include "views/win32/view_windows.h"
#include "shell/help_topics.h"
#include "views/res_graph.h"
#include "views/win32/draw_resources.h"
#include "views/win32/plot_paint.h"
#include "views/win32/plot_windows.h"

namespace {

const char kResGraphClass[] = "KestovarResGraph";

/* The n-th shown Results column, or null. */
const FormulaColumn *ShownResultsColumn(int32_t n, int32_t *index)
{
    const FormulaColumn *columns = (const FormulaColumn *)gResultsColumns.items;
    for (int32_t k = 0, shown = 0; k < gResultsColumns.count; k++) {
        if (columns[k].format == 0) continue;
        if (shown++ == n) {
            *index = k;
            return &columns[k];
        }
    }
    return nullptr;
}

int32_t CountShownResultsColumns()
{
    int32_t shown = 0;
    const FormulaColumn *columns = (const FormulaColumn *)gResultsColumns.items;
    for (int32_t k = 0; k < gResultsColumns.count; k++) shown += columns[k].format != 0;
    return shown;
}

int TabHeight() { return GetSystemMetrics(SM_CYMENUSIZE); }

/* Draws the graph with render into a picture of the client size, then shows
** it or serves the pending image request. */
void PaintResGraph(HWND window, HDC dc, ResGraphWindow *r, int (*render)(ResGraphWindow *, HDC, int, int, int))
{
    RECT client;
    GetClientRect(window, &client);
    PictureDC picture;
    if (!CreatePictureDC(&picture, dc, client.right, client.bottom)) return;
    int request = ImageRequest;
    /* A picture for the clipboard or a file leaves out the tab strip. */
    int top = request ? 0 : TabHeight();
    render(r, picture.dc, picture.width, picture.height, top);
    if (ServeImageRequest(window, picture.bitmap)) {
        if (request)
            InvalidateRect(window, nullptr, FALSE); /* drawn again with the tabs' offset */
        else
            BitBlt(dc, 0, 0, picture.width, picture.height, picture.dc, 0, 0, SRCCOPY);
    }
    ReleasePictureDC(&picture);
}

void ToggleSetting(int32_t *field, int32_t *setting)
{
    *field = !*field;
    *setting = *field;
}

} // namespace

ResGraphWindow *GetResGraphRecord(HWND window) { return (ResGraphWindow *)GetWindowLongPtrA(window, GWLP_USERDATA); }

void BuildOptGraphAxisMenu(HMENU popup, const ResGraphWindow *r)
{
    if (!popup || !r) return;
    HMENU xs = GetSubMenu(popup, 0), ys = GetSubMenu(popup, 1);
    if (!xs || !ys) return;
    while (GetMenuItemCount(xs) > 0) DeleteMenu(xs, 0, MF_BYPOSITION);
    while (GetMenuItemCount(ys) > 0) DeleteMenu(ys, 0, MF_BYPOSITION);
    /* Only the text changes: replacing the item would destroy its sub-menu. */
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = (char *)(r->heatMap ? "Y-Axis" : "Average By");
    SetMenuItemInfoA(popup, 1, TRUE, &info);
    for (int32_t i = 0; i < r->variableCount; i++) {
        AppendMenuText(xs, RES_GRAPH_FIRST_X_VARIABLE + i, r->variables[i].name);
        AppendMenuText(ys, RES_GRAPH_FIRST_Y_VARIABLE + i, r->variables[i].name);
        if (i == r->xVariable) CheckMenuItem(xs, RES_GRAPH_FIRST_X_VARIABLE + i, MF_BYCOMMAND | MF_CHECKED);
        if (i == r->yVariable) CheckMenuItem(ys, RES_GRAPH_FIRST_Y_VARIABLE + i, MF_BYCOMMAND | MF_CHECKED);
    }
    if (!r->heatMap)
        AppendMenuA(xs, MF_STRING | (r->xVariable == r->variableCount ? MF_CHECKED : 0),
                    RES_GRAPH_FIRST_X_VARIABLE + r->variableCount, "Test Number");
    EnableMenuItem(popup, 0, MF_BYPOSITION | MF_ENABLED);
    EnableMenuItem(popup, 1, MF_BYPOSITION | (!r->heatMap && r->xVariable == r->variableCount ? MF_GRAYED : MF_ENABLED));
}

void DrawResultsHeatMap(HWND window, HDC dc, ResGraphWindow *record)
{
    PaintResGraph(window, dc, record, RenderResultsHeatMap);
}

void DrawResultsBarChart(HWND window, HDC dc, ResGraphWindow *record)
{
    PaintResGraph(window, dc, record, RenderResultsBarChart);
}

HWND CreateResGraphWindow(ResultsWindow *results)
{
    ResGraphWindow *r = nullptr;
    if (!AllocMemory(&r, sizeof *r)) return nullptr;
    HWND window = CreateMdiChild(kResGraphClass, "", 0, CW_USEDEFAULT, CW_USEDEFAULT, gSettings.iResGraphW,
                                 gSettings.iResGraphH, nullptr);
    if (!window || !SetResGraphVariables(r, results)) {
        if (window) DestroyWindow(window);
        FreeResGraphWindow(r);
        return nullptr;
    }
    /* The strip spans the client from the start: a maximised child had its
    ** size message before the strip existed, and gets no other. */
    RECT client;
    GetClientRect(window, &client);
    HWND tabs = CreateWindowExA(0, WC_TABCONTROLA, "",
                                WS_CHILD | WS_VISIBLE | TCS_BUTTONS | TCS_HOTTRACK | TCS_FOCUSNEVER, 0, 0, client.right,
                                TabHeight(), window, (HMENU)(INT_PTR)IDC_RESGRAPH_TABS, gFrame.instance, nullptr);
    if (tabs && gFrame.uiFont) SendMessageA(tabs, WM_SETFONT, (WPARAM)gFrame.uiFont, 0);
    r->owner = results;
    r->tabs = tabs;
    if (r->variableCount < 2) gSettings.ResGraphHeatMap = 0;
    r->heatMap = r->variableCount >= 2 && gSettings.ResGraphHeatMap;
    r->sorted = gSettings.ResGraphSort;
    r->trend = gSettings.ResGraphTrend;
    r->xVariable = gSettings.ResGraphXVar;
    r->yVariable = gSettings.ResGraphYVar;
    if (r->variableCount >= 1) {
        if (r->xVariable < 0) r->xVariable = 0;
        if (r->yVariable < 0) r->yVariable = 0;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)r);
    if (!gSettings.fChildMaxed) PostMessageA(window, WM_SIZE, SIZE_RESTORED, 0);
    UpdateResGraphWindow(window, gSettings.ResGraphValueCol);
    ShowWindow(window, SW_SHOW);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
    SetFocus(window);
    UpdateWindowTab(window);
    return window;
}

void UpdateResGraphWindow(HWND window, int valueColumn)
{
    ResGraphWindow *r = GetResGraphRecord(window);
    if (!r) return;
    int32_t shown = CountShownResultsColumns();
    if (valueColumn < 0 || valueColumn >= shown) valueColumn = 0;
    r->valueColumn = valueColumn;
    gSettings.ResGraphValueCol = valueColumn;
    int32_t index = -1;
    const FormulaColumn *column = ShownResultsColumn(valueColumn, &index);
    ResGraphColumn graphColumn = {column ? column->heading : "", column ? column->format : 2,
                           column ? column->decimals : -1, index};
    const ResultsWindow *results = (const ResultsWindow *)r->owner;
    r->currency = results && results->firstTest ? results->firstTest->currency : nullptr;
    BuildOptimizationGraphData(r, results, &graphColumn);
    char title[300];
    if (r->heatMap)
        FormatText(title, sizeof title, "Optimization Heat Map - %s", r->valueLabel);
    else
        FormatText(title, sizeof title, r->xVariable < 0 ? "Results Graph - %s%s" : "Optimization Graph - %s%s",
                   r->valueLabel, r->sorted ? " (sorted)" : "");
    SetWindowTitle(window, title);
    HWND tabs = (HWND)r->tabs;
    if (tabs) {
        SendMessageA(tabs, TCM_DELETEALLITEMS, 0, 0);
        for (int32_t n = 0; n < shown; n++) {
            int32_t k;
            const FormulaColumn *c = ShownResultsColumn(n, &k);
            std::wstring text = WideFromText(c->heading); /* the column script's letters */
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = text.data();
            SendMessageW(tabs, TCM_INSERTITEMW, n, (LPARAM)&item);
        }
        SendMessageA(tabs, TCM_SETCURSEL, valueColumn, 0);
    }
    UpdateWindowTab(window);
    InvalidateRect(window, nullptr, FALSE);
}

void RefreshAllResGraphs()
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, kResGraphClass)) {
        ResGraphWindow *r = GetResGraphRecord(child);
        if (r) UpdateResGraphWindow(child, r->valueColumn);
    }
}

int ResGraphCommand(HWND window, int id)
{
    if (id == IDM_SWALLOWED_KEY) return 1;
    ResGraphWindow *r = GetResGraphRecord(window);
    if (!r) return 0;
    switch (id) {
    case IDM_RESGRAPH_HEAT_MAP:
        if (r->variableCount >= 2) ToggleSetting(&r->heatMap, &gSettings.ResGraphHeatMap);
        break;
    case IDM_RESGRAPH_TREND: ToggleSetting(&r->trend, &gSettings.ResGraphTrend); break;
    case IDM_RESGRAPH_SORT: ToggleSetting(&r->sorted, &gSettings.ResGraphSort); break;
    case IDM_RESGRAPH_OPTIONS:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_RESGRAPH_OPTIONS), gFrame.frame, ResGraphOptionsDlgProc,
                        (LPARAM)window);
        return 1;
    case IDM_RESGRAPH_REFRESH: break;
    default:
        if (id >= RES_GRAPH_FIRST_VALUE_COLUMN && id < RES_GRAPH_FIRST_X_VARIABLE) {
            UpdateResGraphWindow(window, id - RES_GRAPH_FIRST_VALUE_COLUMN);
            return 1;
        }
        if (id >= RES_GRAPH_FIRST_X_VARIABLE && id < RES_GRAPH_FIRST_Y_VARIABLE)
            r->xVariable = gSettings.ResGraphXVar = id - RES_GRAPH_FIRST_X_VARIABLE;
        else if (id >= RES_GRAPH_FIRST_Y_VARIABLE && id < RES_GRAPH_FIRST_Y_VARIABLE + 100)
            r->yVariable = gSettings.ResGraphYVar = id - RES_GRAPH_FIRST_Y_VARIABLE;
        break;
    }
    UpdateResGraphWindow(window, r->valueColumn);
    return 1;
}

LRESULT CALLBACK ResGraphWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ResGraphWindow *r = GetResGraphRecord(window);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (r && r->heatMap)
            DrawResultsHeatMap(window, dc, r);
        else if (r)
            DrawResultsBarChart(window, dc, r);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_SIZE:
        TrackChildMaximized(window, wParam);
        [[fallthrough]];
    case WM_MOVE:
        if (!IsIconic(window)) {
            if (!IsZoomed(window)) {
                RECT w;
                GetWindowRect(window, &w);
                gSettings.iResGraphW = w.right - w.left;
                gSettings.iResGraphH = w.bottom - w.top;
            }
            RECT client;
            GetClientRect(window, &client);
            if (r && r->tabs) MoveWindow((HWND)r->tabs, 0, 0, client.right, TabHeight(), TRUE);
        }
        break;
    case WM_NOTIFY: {
        NMHDR *header = (NMHDR *)lParam;
        if (r && header->hwndFrom == (HWND)r->tabs && header->code == TCN_SELCHANGE)
            UpdateResGraphWindow(window, (int)SendMessageA((HWND)r->tabs, TCM_GETCURSEL, 0, 0));
        break;
    }
    case WM_KEYDOWN:
        if (!r) break;
        if (wParam == 'C' && GetKeyState(VK_CONTROL) < 0) {
            ImageRequest = IMAGE_CLIPBOARD;
            InvalidateRect(window, nullptr, FALSE);
        } else if (wParam == VK_LEFT && r->valueColumn > 0) {
            UpdateResGraphWindow(window, r->valueColumn - 1);
        } else if (wParam == VK_RIGHT && r->valueColumn + 1 < CountShownResultsColumns()) {
            UpdateResGraphWindow(window, r->valueColumn + 1);
        }
        break;
    case WM_CHAR: {
        int c = int(wParam) & ~0x20;
        int id = c == 'H' ? IDM_RESGRAPH_HEAT_MAP : c == 'L' ? IDM_RESGRAPH_TREND : c == 'O' ? IDM_RESGRAPH_OPTIONS
            : c == 'S'                                                                     ? IDM_RESGRAPH_SORT
                                                                                           : 0;
        if (id) PostMessageA(gFrame.frame, WM_COMMAND, id, 0);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_NCLBUTTONDOWN: SetFocus(window); break;
    case WM_MDIACTIVATE:
        OnMdiChildActivate(window, (HWND)wParam, (HWND)lParam);
        break;
    case WM_HELP:
        OpenHelp(HELP_TOPIC_RESGRAPH_WINDOW);
        gFrame.helpAnswered = 1;
        return TRUE;
    case WM_DESTROY:
        RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        FreeResGraphWindow(r);
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        break;
    default: break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}
