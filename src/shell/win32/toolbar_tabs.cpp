/* toolbar_tabs.cpp -- the toolbar in its rebar and the window-tab bar. */
#include "shell/win32/shell_win32.h"

#include <cstring>


#include "engine/results_file.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "records/chart_record.h"
#include "records/test_records.h"
#include "shell/frame_rules.h"
#include "shell/kind_menu_rules.h"
#include "shell/win32/editor_host.h"
#include "views/graph_record.h"
#include "views/res_graph.h"
#include "views/scan_run.h"
#include "views/trade_compare.h"
#include "views/trade_plot.h"

/* clang-format off */
const ToolbarButton kToolbarButtons[TOOLBAR_BUTTONS] = {
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_NEW_SCRIPT, .label = nullptr},
    {.commandId = IDM_OPEN, .label = nullptr},
    {.commandId = IDM_SAVE, .label = nullptr},
    {.commandId = IDM_SAVE_AS, .label = nullptr},
    {.commandId = IDM_SAVE_ALL, .label = nullptr},
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_UNDO, .label = nullptr},
    {.commandId = IDM_REDO, .label = nullptr},
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_CUT, .label = nullptr},
    {.commandId = IDM_COPY, .label = nullptr},
    {.commandId = IDM_PASTE, .label = nullptr},
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_FIND, .label = nullptr},
    {.commandId = IDM_REPLACE, .label = nullptr},
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_SETTINGS_PANEL, .label = nullptr},
    {.commandId = IDM_DEBUG_PANEL, .label = nullptr},
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_PROGRAM_OPTIONS, .label = nullptr},
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_SELECT_DATA, .label = nullptr},
    {.commandId = IDM_SHOW_CHART, .label = nullptr},
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_RUN_APPLY, .label = "Apply"},
    {.commandId = IDM_RUN_TEST, .label = "Test"},
    {.commandId = IDM_RUN_OPTIMIZE, .label = "Optimize"},
    {.commandId = IDM_RUN_IMPORT, .label = "Import"},
    {.commandId = IDM_RUN_SCAN, .label = "Scan"},
    {.commandId = IDM_RUN_ORDERS, .label = "Orders"},
    {.commandId = IDM_STOP, .label = "Stop"},
    {.commandId = 0, .label = nullptr},
    {.commandId = IDM_RESULTS_GRAPHS, .label = "Graphs"},
    {.commandId = IDM_RESULTS_PLOTS, .label = "Plots"},
    {.commandId = IDM_RESULTS_TRADES, .label = "Trades"},
    {.commandId = IDM_RESULTS_REPORT, .label = "Report"},
    {.commandId = IDM_RESULTS_OPTGRAPH, .label = "Results"},
};
/* clang-format on */

/* ---- toolbar ------------------------------------------------------------------------------------ */

/* The pixels of a 24-bit DIB section, or null. */
static unsigned char *DibPixels(HBITMAP bitmap, BITMAP *info)
{
    DIBSECTION dib;
    if (GetObjectA(bitmap, sizeof dib, &dib) != sizeof dib || dib.dsBm.bmBitsPixel != 24) return nullptr;
    *info = dib.dsBm;
    return (unsigned char *)dib.dsBm.bmBits;
}

void RecolorBitmapWhite(HBITMAP bitmap, COLORREF colour)
{
    if (colour < 32) colour = GetSysColor((int)colour);
    BITMAP bm;
    unsigned char *bits = DibPixels(bitmap, &bm);
    if (!bits) return;
    for (int y = 0; y < bm.bmHeight; y++)
        for (int x = 0; x < bm.bmWidth; x++) {
            unsigned char *px = bits + y * bm.bmWidthBytes + x * 3;
            if (px[0] == 255 && px[1] == 255 && px[2] == 255) {
                px[0] = GetBValue(colour);
                px[1] = GetGValue(colour);
                px[2] = GetRValue(colour);
            }
        }
}

/* The disabled look: every pixel but the face colour turns grey, and greys
** darker than the face move halfway toward it, twice while still darker. */
void GreyBitmap(HBITMAP bitmap, COLORREF face)
{
    if (face < 32) face = GetSysColor((int)face);
    BITMAP bm;
    unsigned char *bits = DibPixels(bitmap, &bm);
    if (!bits) return;
    int f = (GetRValue(face) + GetGValue(face) + GetBValue(face)) / 3;
    for (int y = 0; y < bm.bmHeight; y++)
        for (int x = 0; x < bm.bmWidth; x++) {
            unsigned char *px = bits + y * bm.bmWidthBytes + x * 3;
            if (px[2] == GetRValue(face) && px[1] == GetGValue(face) && px[0] == GetBValue(face)) continue;
            int g = (px[0] + px[1] + px[2]) / 3;
            if (g < f) g += (f - g) / 2;
            if (g < f) g += (f - g) / 2;
            px[0] = px[1] = px[2] = (unsigned char)g;
        }
}

static int ToolbarRowsHeight();

int CreateToolbar(HWND frame)
{
    gFrame.rebar = CreateWindowExA(WS_EX_TOOLWINDOW, REBARCLASSNAMEA, nullptr,
                                   WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_BANDBORDERS | CCS_NODIVIDER, 0,
                                   0, 0, 0, frame, nullptr, gFrame.instance, nullptr);
    if (!gFrame.rebar) return 0;
    gFrame.toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr,
                                     WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST |
                                         TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN,
                                     0, 0, 4000, 0, gFrame.rebar, nullptr, gFrame.instance, nullptr);
    if (!gFrame.toolbar) return 0;
    SendMessageA(gFrame.toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(gFrame.toolbar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS);
    int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
    HIMAGELIST normal = ImageList_Create(cx, cy, ILC_COLOR24, TOOLBAR_BUTTONS, 0);
    HIMAGELIST disabled = ImageList_Create(cx, cy, ILC_COLOR24, TOOLBAR_BUTTONS, 0);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    TBBUTTON buttons[TOOLBAR_BUTTONS] = {};
    int image = 0;
    for (int i = 0; i < TOOLBAR_BUTTONS; i++) {
        const ToolbarButton &b = kToolbarButtons[i];
        TBBUTTON &t = buttons[i];
        if (!b.commandId) {
            t.fsStyle = BTNS_SEP;
            continue;
        }
        HBITMAP bitmap = (HBITMAP)LoadImageA(gFrame.instance, MAKEINTRESOURCEA(b.commandId), IMAGE_BITMAP, cx, cy,
                                             LR_CREATEDIBSECTION);
        if (bitmap) {
            RecolorBitmapWhite(bitmap, face);
            ImageList_Add(normal, bitmap, nullptr);
            GreyBitmap(bitmap, face);
            ImageList_Add(disabled, bitmap, nullptr);
            DeleteObject(bitmap);
        }
        t.iBitmap = image++;
        t.idCommand = b.commandId;
        t.fsState = TBSTATE_ENABLED;
        t.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | (b.label ? BTNS_SHOWTEXT : 0);
        t.iString = b.label ? (INT_PTR)b.label : -1;
    }
    SendMessageA(gFrame.toolbar, TB_SETIMAGELIST, 0, (LPARAM)normal);
    SendMessageA(gFrame.toolbar, TB_SETDISABLEDIMAGELIST, 0, (LPARAM)disabled);
    SendMessageA(gFrame.toolbar, TB_ADDBUTTONSA, TOOLBAR_BUTTONS, (LPARAM)buttons);
    SendMessageA(gFrame.toolbar, TB_AUTOSIZE, 0, 0);
    REBARBANDINFOA band = {};
    band.cbSize = sizeof band;
    band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_STYLE;
    band.fStyle = RBBS_CHILDEDGE | RBBS_GRIPPERALWAYS;
    band.hwndChild = gFrame.toolbar;
    band.cyMinChild = ToolbarRowsHeight();
    SendMessageA(gFrame.rebar, RB_INSERTBANDA, (WPARAM)-1, (LPARAM)&band);
    if (gSettings.ShowToolBar) ShowWindow(gFrame.rebar, SW_SHOW);
    return 1;
}

/* The height of the toolbar's rows as they wrap now: the bottom of its
** lowest button, with half the vertical padding below as on one row. */
static int ToolbarRowsHeight()
{
    int bottom = 0;
    for (int i = 0; i < TOOLBAR_BUTTONS; i++) {
        RECT r = {};
        if (SendMessageA(gFrame.toolbar, TB_GETITEMRECT, (WPARAM)i, (LPARAM)&r) && r.bottom > bottom) bottom = r.bottom;
    }
    DWORD padding = (DWORD)SendMessageA(gFrame.toolbar, TB_GETPADDING, 0, 0);
    return bottom + HIWORD(padding) / 2;
}

/* Sets or clears the line break after the button at index. */
static void SetButtonWrap(int index, bool wrap)
{
    TBBUTTONINFOA info = {};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_BYINDEX | TBIF_STATE;
    if (SendMessageA(gFrame.toolbar, TB_GETBUTTONINFOA, (WPARAM)index, (LPARAM)&info) < 0) return;
    info.fsState = (BYTE)(wrap ? info.fsState | TBSTATE_WRAP : info.fsState & ~TBSTATE_WRAP);
    SendMessageA(gFrame.toolbar, TB_SETBUTTONINFOA, (WPARAM)index, (LPARAM)&info);
}

void FitToolbar(int width)
{
    if (!gFrame.rebar || !gFrame.toolbar) return;
    /* The buttons break onto as many rows as the frame's width leaves them,
    ** each row filled as far as it goes and broken between groups where it
    ** can, so none lies beyond the frame's edge at any width or DPI. */
    RECT borders = {};
    SendMessageA(gFrame.rebar, RB_GETBANDBORDERS, 0, (LPARAM)&borders);
    int available = width - borders.left - borders.right - 4;
    int widths[TOOLBAR_BUTTONS];
    for (int i = 0; i < TOOLBAR_BUTTONS; i++) SetButtonWrap(i, false);
    SendMessageA(gFrame.toolbar, TB_AUTOSIZE, 0, 0);
    for (int i = 0; i < TOOLBAR_BUTTONS; i++) {
        RECT r = {};
        SendMessageA(gFrame.toolbar, TB_GETITEMRECT, (WPARAM)i, (LPARAM)&r);
        widths[i] = r.right - r.left;
    }
    int rowStart = 0, x = 0;
    for (int i = 0; i < TOOLBAR_BUTTONS; i++) {
        if (x + widths[i] > available && i > rowStart) {
            int cut = i - 1; /* the row ends after this button */
            for (int j = i; j > rowStart + 1; j--)
                if (!kToolbarButtons[j].commandId) {
                    cut = j - 1;
                    break;
                }
            SetButtonWrap(cut, true);
            rowStart = cut + 1;
            x = 0;
            for (int k = rowStart; k < i; k++) x += widths[k];
        }
        x += widths[i];
    }
    SendMessageA(gFrame.toolbar, TB_AUTOSIZE, 0, 0);
    REBARBANDINFOA band = {};
    band.cbSize = sizeof band;
    band.fMask = RBBIM_CHILDSIZE | RBBIM_SIZE;
    band.cxMinChild = 0;
    band.cyMinChild = ToolbarRowsHeight();
    band.cx = width;
    SendMessageA(gFrame.rebar, RB_SETBANDINFOA, 0, (LPARAM)&band);
}

/* ---- window tabs ---------------------------------------------------------------------------------- */

static WNDPROC sTabsDefault;
static LRESULT CALLBACK WindowTabsSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

int CreateWindowTabs(HWND frame)
{
    gFrame.tabs = CreateWindowExA(0, WC_TABCONTROLA, nullptr,
                                  WS_CHILD | WS_CLIPSIBLINGS | TCS_OWNERDRAWFIXED | TCS_FIXEDWIDTH | TCS_TOOLTIPS |
                                      TCS_FOCUSNEVER,
                                  0, 0, 0, 0, frame, (HMENU)(INT_PTR)999, gFrame.instance, nullptr);
    if (!gFrame.tabs) return 0;
    sTabsDefault = (WNDPROC)SetWindowLongPtrA(gFrame.tabs, GWLP_WNDPROC, (LONG_PTR)WindowTabsSubclassProc);
    TabCtrl_SetItemSize(gFrame.tabs, WindowTabWidth(gFrame.dpi ? gFrame.dpi : 96), GetSystemMetrics(SM_CYCAPTION));
    SendMessageA(gFrame.tabs, WM_SETFONT, (WPARAM)gFrame.uiFont, 0);
    int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
    gFrame.tabImages = ImageList_Create(cx, cy, ILC_COLOR32 | ILC_MASK, WK_COUNT - 1, 0);
    for (int row = 1; row < WK_COUNT; row++) {
        HICON icon = (HICON)LoadImageA(gFrame.instance, MAKEINTRESOURCEA(gWindowKinds[row].iconId), IMAGE_ICON, cx,
                                       cy, 0);
        ImageList_AddIcon(gFrame.tabImages, icon);
        if (icon) DestroyIcon(icon);
    }
    TabCtrl_SetImageList(gFrame.tabs, gFrame.tabImages);
    if (gSettings.ShowTabBar) ShowWindow(gFrame.tabs, SW_SHOW);
    return 1;
}

int FindTabIndex(HWND window)
{
    int count = gFrame.tabs ? TabCtrl_GetItemCount(gFrame.tabs) : 0;
    for (int i = 0; i < count; i++) {
        TCITEMA item = {};
        item.mask = TCIF_PARAM;
        if (TabCtrl_GetItem(gFrame.tabs, i, &item) && (HWND)item.lParam == window) return i;
    }
    return -1;
}

static HWND TabWindow(int index)
{
    TCITEMA item = {};
    item.mask = TCIF_PARAM;
    return TabCtrl_GetItem(gFrame.tabs, index, &item) ? (HWND)item.lParam : nullptr;
}

/* ---- the kinds' own tab titles ---------------------------------------------------------------------- */

static const void *WindowRecord(HWND window) { return (const void *)GetWindowLongPtrA(window, GWLP_USERDATA); }

static int TestTabTitle(int form, const TestRecord *test, char *out, int size)
{
    return test ? FormatKindTabTitle(form, test->testNumber, nullptr, out, size) : 0;
}

int ScriptTabTitle(HWND window, char *out, int size)
{
    EditorRecord *record = GetEditorRecord(window);
    return record ? TestTabTitle(TAB_TEST_SCRIPT, record->test, out, size) : 0;
}

int GraphTabTitle(HWND window, char *out, int size)
{
    const GraphWindow *graph = (const GraphWindow *)WindowRecord(window);
    return graph ? TestTabTitle(TAB_TEST_GRAPHS, graph->test, out, size) : 0;
}

int PlotTabTitle(HWND window, char *out, int size)
{
    const PlotWindow *plot = (const PlotWindow *)WindowRecord(window);
    return plot ? TestTabTitle(TAB_TEST_PLOTS, plot->test, out, size) : 0;
}

int TradesTabTitle(HWND window, char *out, int size)
{
    const CellListWindow *list = (const CellListWindow *)WindowRecord(window);
    return list ? TestTabTitle(TAB_TEST_TRADES, list->test, out, size) : 0;
}

int ResGraphTabTitle(HWND window, char *out, int size)
{
    const ResGraphWindow *graph = (const ResGraphWindow *)WindowRecord(window);
    const ResultsWindow *results = graph ? (const ResultsWindow *)graph->owner : nullptr;
    if (!results || !results->path[0]) return 0;
    return FormatKindTabTitle(TAB_FILE_NAME, 0, results->path, out, size);
}

int CompareTabTitle(HWND window, char *out, int size)
{
    const CompareWindow *compare = (const CompareWindow *)WindowRecord(window);
    if (!compare || !compare->name[0]) return 0;
    return FormatKindTabTitle(TAB_RECORD_NAME, 0, compare->name, out, size);
}

int ChartTabTitle(HWND window, char *out, int size)
{
    const ChartWindow *chart = (const ChartWindow *)WindowRecord(window);
    if (!chart || !chart->symbol) return 0;
    return FormatKindTabTitle(TAB_CHART, 0, chart->symbol->info.Symbol, out, size);
}

/* A window's tab shows its kind's own title (a test's windows by the test's
** number, a chart by its symbol, a list by the name its filler gave it), else
** one made from the window text. */
int GetWindowTabTitle(HWND window, char *out, int size, int *kindIndex, int *tabIndex)
{
    int kind = FindWindowKind(window);
    if (kind < 0) return 0;
    if (kindIndex) *kindIndex = kind - 1;
    int index = FindTabIndex(window);
    if (tabIndex) *tabIndex = index;
    int ordinal = 1;
    for (int i = 0; i < index; i++)
        if (FindWindowKind(TabWindow(i)) == kind) ordinal++;
    char text[PATH_SIZE];
    char title[64];
    int n;
    if (gWindowKinds[kind].tabTitle && gWindowKinds[kind].tabTitle(window, text, sizeof text)) {
        n = ShortenTabTitle(text, title, sizeof title);
    } else {
        GetWindowTitle(window, text, sizeof text);
        n = WindowTabTitle(text, gWindowKinds[kind].className + 8, ordinal, title, sizeof title);
    }
    if (out) CopyString(out, size, title, -1);
    return n;
}

void DrawWindowTab(const DRAWITEMSTRUCT *item)
{
    HWND window = TabWindow((int)item->itemID);
    HDC dc = item->hDC;
    RECT r = item->rcItem;
    int selected = (int)item->itemID == TabCtrl_GetCurSel(gFrame.tabs);
    int hot = (int)item->itemID == gFrame.tabHot;
    int colour = selected ? COLOR_ACTIVECAPTION : hot ? COLOR_INACTIVECAPTION
                                                      : COLOR_GRADIENTINACTIVECAPTION;
    FillRect(dc, &r, GetSysColorBrush(colour));
    int ux = GetSystemMetrics(SM_CXSMICON) / 8 + 1, uy = GetSystemMetrics(SM_CYCAPTION) / 8 + 1;
    int right = r.right;
    if (selected || hot) {
        RECT box = {r.right - 3 * ux - (r.bottom - r.top) + 2 * uy, r.top + uy, r.right - ux, r.bottom - uy};
        if (selected) gFrame.tabCloseSelected = box;
        if (hot) gFrame.tabCloseHot = box;
        if (gFrame.tabInClose && hot) FillRect(dc, &box, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, "X", 1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        right = box.left;
    }
    int kind = FindWindowKind(window);
    int cy = GetSystemMetrics(SM_CYSMICON);
    if (kind > 0) ImageList_Draw(gFrame.tabImages, kind - 1, dc, r.left + ux, (r.top + r.bottom - cy) / 2, ILD_NORMAL);
    char title[64] = "";
    GetWindowTabTitle(window, title, sizeof title, nullptr, nullptr);
    RECT text = {r.left + 2 * ux + GetSystemMetrics(SM_CXSMICON), r.top, right, r.bottom};
    HGDIOBJ old = SelectObject(dc, gFrame.uiFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT));
    /* A tab names its file as the title does (a name outside ASCII included). */
    WCHAR wide[64];
    if (PlatWideFromText(title, wide, (int)(sizeof wide / sizeof wide[0])))
        DrawTextW(dc, wide, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    else
        DrawTextA(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    SelectObject(dc, old);
}

void ActivateTabWindow()
{
    HWND window = TabWindow(TabCtrl_GetCurSel(gFrame.tabs));
    if (!window) return;
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
}

void UpdateWindowTab(HWND window)
{
    if (!gFrame.tabs || !IsWindow(window)) return;
    int index = FindTabIndex(window);
    if (index < 0) {
        TCITEMA item = {};
        item.mask = TCIF_PARAM;
        item.lParam = (LPARAM)window;
        index = TabCtrl_InsertItem(gFrame.tabs, TabCtrl_GetItemCount(gFrame.tabs), &item);
    }
    if (window == gFrame.activeChild) TabCtrl_SetCurSel(gFrame.tabs, index);
    InvalidateRect(gFrame.tabs, nullptr, TRUE);
    /* The Window menu lists each window by the title it had when the menu
    ** was last built; a window is active, and listed, from its creation on,
    ** before its kind gives it its title. */
    if (gFrame.mdiClient && GetParent(window) == gFrame.mdiClient) {
        SendMessageA(gFrame.mdiClient, WM_MDIREFRESHMENU, 0, 0);
        if (gFrame.frame) DrawMenuBar(gFrame.frame);
    }
}

void RemoveWindowTab(HWND window)
{
    int index = FindTabIndex(window);
    if (index >= 0) TabCtrl_DeleteItem(gFrame.tabs, index);
    if (gFrame.tabHotWindow == window) {
        gFrame.tabHot = -1;
        gFrame.tabHotWindow = nullptr;
    }
    if (gFrame.tabs) InvalidateRect(gFrame.tabs, nullptr, TRUE);
}

static int TabAt(POINT p, int *inClose)
{
    TCHITTESTINFO hit = {};
    hit.pt = p;
    int index = TabCtrl_HitTest(gFrame.tabs, &hit);
    *inClose = index >= 0 && ((index == TabCtrl_GetCurSel(gFrame.tabs) && PtInRect(&gFrame.tabCloseSelected, p)) || (index == gFrame.tabHot && PtInRect(&gFrame.tabCloseHot, p)));
    return index;
}

static LRESULT CALLBACK WindowTabsSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MOUSEMOVE: {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
        POINT p = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        int inClose;
        int hot = TabAt(p, &inClose);
        if (hot != gFrame.tabHot || inClose != gFrame.tabInClose) {
            gFrame.tabHot = hot;
            gFrame.tabInClose = inClose;
            gFrame.tabHotWindow = hot >= 0 ? TabWindow(hot) : nullptr;
            InvalidateRect(window, nullptr, FALSE);
            HWND tip = TabCtrl_GetToolTips(window);
            if (tip && gFrame.tabTipVisible) SendMessageA(tip, TTM_POP, 0, 0);
        }
        break;
    }
    case WM_MOUSELEAVE:
        gFrame.tabHot = -1;
        gFrame.tabInClose = 0;
        InvalidateRect(window, nullptr, FALSE);
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        LRESULT result = CallWindowProcA(sTabsDefault, window, message, wParam, lParam);
        POINT p = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        int inClose;
        int index = TabAt(p, &inClose);
        HWND tabWindow = index >= 0 ? TabWindow(index) : nullptr;
        if (tabWindow && IsIconic(tabWindow)) ShowWindow(tabWindow, SW_RESTORE);
        if (message == WM_LBUTTONDBLCLK && tabWindow && !inClose && gFrame.activeChild) {
            if (IsZoomed(gFrame.activeChild))
                SendMessageA(gFrame.mdiClient, WM_MDIRESTORE, (WPARAM)gFrame.activeChild, 0);
            else
                SendMessageA(gFrame.mdiClient, WM_MDIMAXIMIZE, (WPARAM)gFrame.activeChild, 0);
        }
        return result;
    }
    default: break;
    }
    return CallWindowProcA(sTabsDefault, window, message, wParam, lParam);
}

LRESULT HandleTabNotify(NMHDR *header)
{
    switch (header->code) {
    case TCN_SELCHANGE: ActivateTabWindow(); return 0;
    case TTN_GETDISPINFOW: {
        /* A tip that asks in wide letters gets the title's own (the window
        ** keeps it wide); asked narrow, it can only have the code page's. */
        NMTTDISPINFOW *info = (NMTTDISPINFOW *)header;
        static WCHAR text[PATH_SIZE];
        if (gFrame.tabInClose)
            lstrcpynW(text, L"Close", PATH_SIZE);
        else {
            HWND window = TabWindow((int)header->idFrom);
            text[0] = 0;
            if (window) GetWindowTextW(window, text, PATH_SIZE);
        }
        info->lpszText = text;
        return 0;
    }
    case TTN_GETDISPINFOA: {
        NMTTDISPINFOA *info = (NMTTDISPINFOA *)header;
        static char text[256];
        if (gFrame.tabInClose)
            CopyString(text, sizeof text, "Close", -1);
        else {
            HWND window = TabWindow((int)header->idFrom);
            text[0] = 0;
            if (window) GetWindowTextA(window, text, sizeof text);
        }
        info->lpszText = text;
        return 0;
    }
    case TTN_SHOW: gFrame.tabTipVisible = 1; return 0;
    case TTN_POP: gFrame.tabTipVisible = 0; return 0;
    default: break;
    }
    return 0;
}

static void EndTabDrag(POINT p)
{
    ReleaseCapture();
    gFrame.tabDragging = 0;
    if (gFrame.tabPressed != -1) return;
    /* A press in a close box closes only when the release is in one too. */
    if (PtInRect(&gFrame.tabCloseSelected, p) && gFrame.activeChild)
        PostMessageA(gFrame.activeChild, WM_CLOSE, 0, 0);
    else if (PtInRect(&gFrame.tabCloseHot, p) && gFrame.tabHotWindow)
        PostMessageA(gFrame.tabHotWindow, WM_CLOSE, 0, 0);
}

/* Frame messages for the tab bar: a press starts a drag, moving swaps tabs,
** the release ends it (closing a window when press and release were in the
** same close box).  1 when the message was the tab bar's. */
int HandleTabMouse(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!gFrame.tabs) return 0;
    if (message == WM_PARENTNOTIFY && LOWORD(wParam) == WM_LBUTTONDOWN) {
        POINT p = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        MapWindowPoints(gFrame.frame, gFrame.tabs, &p, 1);
        int inClose;
        int index = TabAt(p, &inClose);
        if (index < 0) return 0;
        SetCapture(gFrame.frame);
        gFrame.tabDragging = 1;
        gFrame.tabLastCursor = p;
        gFrame.tabPressed = inClose ? -1 : index;
        return 0;
    }
    if (!gFrame.tabDragging) return 0;
    POINT p;
    GetCursorPos(&p);
    ScreenToClient(gFrame.tabs, &p);
    if (message == WM_MOUSEMOVE && gFrame.tabPressed != -1) {
        int inClose;
        int index = TabAt(p, &inClose);
        if (index >= 0 && index != gFrame.tabPressed) {
            HWND a = TabWindow(gFrame.tabPressed), b = TabWindow(index);
            TCITEMA item = {};
            item.mask = TCIF_PARAM;
            item.lParam = (LPARAM)b;
            TabCtrl_SetItem(gFrame.tabs, gFrame.tabPressed, &item);
            item.lParam = (LPARAM)a;
            TabCtrl_SetItem(gFrame.tabs, index, &item);
            gFrame.tabPressed = index;
            if (a == gFrame.activeChild) TabCtrl_SetCurSel(gFrame.tabs, index);
            InvalidateRect(gFrame.tabs, nullptr, TRUE);
        }
        gFrame.tabLastCursor = p;
        return 1;
    }
    if (message == WM_LBUTTONUP || (message == WM_SETCURSOR && GetKeyState(VK_LBUTTON) >= 0)) {
        EndTabDrag(p);
        return message == WM_LBUTTONUP;
    }
    return 0;
}
