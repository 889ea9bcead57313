/* cell_list_windows.cpp -- the trade list and scan windows: virtual report
** lists over a CellListWindow, sorted by column, coloured by strategy and
** sign, with the selected row's chart and debug hand-offs. */
#include "views/win32/result_windows.h"

#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/settings_items.h"
#include "services/services.h"
#include "shell/help_topics.h"
#include "views/win32/view_windows.h"
#include "records/chart_record.h"
#include "views/scan_charts.h"
#include "views/win32/draw_resources.h"
#include "views/results_rows.h"
#include "views/scan_run.h"
#include "views/trade_rows.h"

static CellListWindow *ListOf(HWND window)
{
    return (CellListWindow *)GetWindowLongPtrA(window, GWLP_USERDATA);
}

/* ---- building the list view -------------------------------------------------------- */

/* Trade lists: the trade number reads from the left.  Scans: a column of
** texts does, numbers and the Date and Symbol columns stay centred. */
static bool IsLeftAligned(const CellListWindow *list, int32_t c)
{
    if (list->listKind == LIST_KIND_TRADES) return c == TRADE_COL_TRADE;
    const ListCell *cell = GetListCell(list, 0, c);
    return c >= (gScriptSettings.ScanNoDefCols ? 0 : 2) && cell && cell->formatCode == LIST_FORMAT_TEXT;
}

static void SetupListColumns(HWND window, const CellListWindow *list)
{
    HWND view = GetListViewOf(window);
    HWND header = ListView_GetHeader(view);
    const int existing = header ? Header_GetItemCount(header) : 0;
    for (int32_t c = 0; c < list->columnCount; c++) {
        const bool left = IsLeftAligned(list, c);
        SetColumn(view, list->headings[c], left ? LVCFMT_LEFT : LVCFMT_CENTER, c, c >= existing);
        if (c >= existing) ListView_SetColumnWidth(view, c, 96);
    }
    for (int c = existing - 1; c >= list->columnCount; c--) ListView_DeleteColumn(view, c);
}

/* Shows the list's rows: count, arrows, widths, first row selected. */
static void ShowListRows(HWND window, const CellListWindow *list)
{
    HWND view = GetListViewOf(window);
    ListView_SetItemCountEx(view, list->rowCount, LVSICF_NOSCROLL);
    ShowSortArrows(view, list->sortPriorities, list->sortDirections);
    AutoSizeColumns(view);
    EnableWindow(view, TRUE);
    ListView_EnsureVisible(view, 0, FALSE);
    if (list->rowCount > 0) SelectItem(window, 0);
    InvalidateRect(view, nullptr, TRUE);
}

static HWND CreateListChild(const char *className, const char *title, CellListWindow *list, int width, int height)
{
    HWND child = CreateMdiChild(className, title, 0, CW_USEDEFAULT, CW_USEDEFAULT, width > 0 ? width : CW_USEDEFAULT,
                                height > 0 ? height : CW_USEDEFAULT, list);
    if (!child) return nullptr;
    SetupListColumns(child, list);
    return child;
}

static void ActivateChild(HWND child)
{
    ShowWindow(child, SW_SHOW);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)child, 0);
    UpdateWindowTab(child);
}

/* ---- trade lists -------------------------------------------------------------------- */

/* Computes the list again and shows it; 0 when it was cancelled. */
static int RecomputeTradeList(HWND window)
{
    CellListWindow *list = ListOf(window);
    if (!list || list->busy) return 1;
    const int complete = BuildTradeList(list, 0);
    SetupListColumns(window, list);
    char title[200];
    FormatTradeListTitle(list, title, sizeof title);
    SetWindowTitle(window, title);
    ShowListRows(window, list);
    UpdateWindowTab(window);
    if (list->incomplete) {
        char count[32];
        int length = FormatText(count, sizeof count, "%d", list->rowCount);
        InsertCommas(count, length, sizeof count);
        ReportError("Trade list update was cancelled. Only the first %s trades are included in the list.", count);
    }
    return complete || !list->incomplete;
}

HWND OpenTradeList(TestRecord *test)
{
    if (!test) return nullptr;
    CellListWindow *list = nullptr;
    if (!AllocMemory(&list, sizeof *list)) return nullptr;
    list->listKind = LIST_KIND_TRADES;
    list->test = test;
    if (!InitTradeColumns(list)) {
        FreeMemory(&list);
        return nullptr;
    }
    HWND child = CreateListChild("KestovarTrades", "Trade List", list, gSettings.iTradesW, gSettings.iTradesH);
    if (!child) {
        FreeListWindow(list);
        FreeMemory(&list);
        return nullptr;
    }
    /* The trade export writes the same list without a window (SaveTradesCsv),
    ** with or without a data file loaded, so a window is always shown. */
    RecomputeTradeList(child);
    ActivateChild(child);
    /* Said only when a shown column is one the data file would compute, as
    ** the export refuses only those. */
    char needing[1024];
    if (gStore.symbolCount == 0 && ListTradesColumnsNeedingData(needing, sizeof needing) > 0)
        ReportError("Some trade values can not be displayed until a data file has been loaded.");
    return child;
}

/* The trade of the selected row, or null. */
static TradeRecord *SelectedTrade(HWND window)
{
    CellListWindow *list = ListOf(window);
    const int row = GetSelectedItem(window);
    const ListCell *cell = list ? GetListCell(list, row, 0) : nullptr;
    if (!cell || !list->test || cell->tradeIndex < 0 || cell->tradeIndex >= list->test->tradeCount) return nullptr;
    return &list->test->trades[cell->tradeIndex];
}

static const char *RowSymbol(const ListCell *cell)
{
    return cell->symbolIndex >= 0 && cell->symbolIndex < gStore.symbolCount ? gStore.symbols[cell->symbolIndex].info.Symbol
                                                                            : "";
}

/* The chart of the selected row (trade lists: its trade; scans: its symbol
** at its date), in the chart this list owns. */
static void ChartOfRow(HWND window, int activate)
{
    CellListWindow *list = ListOf(window);
    if (!list) return;
    if (list->listKind == LIST_KIND_TRADES) {
        TradeRecord *t = SelectedTrade(window);
        if (t) OpenChart(t->symbol, t->dateIn, CHART_KIND_TRADE, t, window, list->test, 1, activate);
    } else {
        ListCell *cell = (ListCell *)GetListCell(list, GetSelectedItem(window), 0);
        if (cell) OpenChart(RowSymbol(cell), cell->date, CHART_KIND_SCAN, cell, window, nullptr, 1, activate);
    }
}

int WriteScanRowChart(const ListCell *row, const char *path)
{
    CopyString(ImagePath, sizeof ImagePath, path, -1);
    ImageRequest = IMAGE_SAVE_PNG;
    OpenChart(RowSymbol(row), row->date, CHART_KIND_SCAN, (void *)row, nullptr, nullptr, -1, 0);
    ImageRequest = 0;
    return PlatFileExists(path);
}

/* The selected row in the debug panel. */
static void DebugRow(HWND window)
{
    CellListWindow *list = ListOf(window);
    if (!list) return;
    if (list->listKind == LIST_KIND_TRADES) {
        const TradeRecord *t = SelectedTrade(window);
        if (!t) return;
        const bool known = t->strategy >= 0 && t->strategy < list->test->strategyCount;
        ShowRowInDebugPanel(t->symbol, t->dateOut > t->dateIn ? t->dateOut : t->dateIn, list->test,
                            known ? list->test->strategies[t->strategy].name : "");
    } else {
        const ListCell *cell = GetListCell(list, GetSelectedItem(window), 0);
        if (cell) ShowRowInDebugPanel(RowSymbol(cell), cell->date, nullptr, nullptr);
    }
}

void ShowRowInDebugPanel(const char *symbol, int32_t date, const TestRecord *test, const char *strategy)
{
    if (!gFrame.debugPanel) return;
    if (!IsWindowVisible(gFrame.debugPanel)) SendMessageA(gFrame.frame, WM_COMMAND, IDM_DEBUG_PANEL, 0);
    gSettings.DebugDate = date;
    ShowDebugPanelDate();
    SetItemText(gFrame.debugPanel, IDC_DP_SYMBOL, symbol);
    if (test) {
        char text[120];
        FormatText(text, sizeof text, "%.4d:%s", test->testNumber, test->settings.TestName);
        SetItemText(gFrame.debugPanel, IDC_DP_TEST, text);
        SetItemText(gFrame.debugPanel, IDC_DP_STRATEGY, strategy ? strategy : "");
        const int notified[2] = {IDC_DP_TEST, IDC_DP_STRATEGY};
        for (int id : notified)
            SendMessageA(gFrame.debugPanel, WM_COMMAND, MAKEWPARAM(id, 7), (LPARAM)GetDlgItem(gFrame.debugPanel, id));
    }
    UpdateDebugPanelControls();
}

void RefreshAllTradeLists()
{
    gTradeListCancel = 0;
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarTrades"))
        if (!RecomputeTradeList(child)) break;
}

/* ---- scans -------------------------------------------------------------------------- */

static void ResetScanTarget()
{
    CellListWindow *fresh = nullptr;
    if (AllocMemory(&fresh, sizeof *fresh)) fresh->listKind = LIST_KIND_SCAN;
    gScanTarget = fresh;
}

HWND FinishScanWindow()
{
    CellListWindow *list = gScanTarget;
    if (!list || list->columnCount == 0) return nullptr;
    ResetScanTarget();
    /* Without sort keys the rows come by date, then symbol. */
    bool anyKey = false;
    for (int32_t c = 0; c < list->columnCount && c < LIST_MAX_SORT_COLUMNS; c++) anyKey = anyKey || list->sortPriorities[c];
    const bool dated = !gScriptSettings.ScanNoDefCols && list->columnCount >= 2;
    if (!anyKey && dated) list->sortPriorities[0] = 1, list->sortPriorities[1] = 2;
    SortListRows(list);
    if (!anyKey && dated) list->sortPriorities[0] = list->sortPriorities[1] = 0;

    HWND child = nullptr;
    if (gSettings.ReuseListWindows && FindNextChildWindow(&child, "KestovarScan")) {
        CellListWindow *old = ListOf(child);
        ListView_DeleteAllItems(GetListViewOf(child));
        SetWindowLongPtrA(child, GWLP_USERDATA, (LONG_PTR)list);
        if (old) {
            FreeListWindow(old);
            FreeMemory(&old);
        }
        SetupListColumns(child, list);
    } else {
        child = CreateListChild("KestovarScan", "Scan", list, gSettings.iScanW, gSettings.iScanH);
        if (!child) {
            FreeListWindow(list);
            FreeMemory(&list);
            return nullptr;
        }
    }
    char count[32], title[80];
    int length = FormatText(count, sizeof count, "%d", list->rowCount);
    InsertCommas(count, length, sizeof count);
    FormatText(title, sizeof title, "%s - %s Item%s", list->listKind == LIST_KIND_TEST_SCAN ? "TestScan" : "Scan", count,
               list->rowCount == 1 ? "" : "s");
    SetWindowTitle(child, title);
    ShowListRows(child, list);
    ActivateChild(child);
    if (gScriptSettings.SaveScanAs[0] && !gScriptSettings.ScanNoWindow &&
        ClaimRunOutput(gScriptSettings.SaveScanAs, "the SaveScanAs file")) {
        gOmitListHeading = gScriptSettings.ScanNoHeader;
        SaveListCsv(child, gScriptSettings.SaveScanAs);
        gOmitListHeading = 0;
    }
    if (gScriptSettings.SaveChartsTo[0]) SaveChartsToFolder(list, gScriptSettings.SaveChartsTo);
    return child;
}

/* ---- shared window procedure --------------------------------------------------------- */

static void SortByColumn(HWND window, int column)
{
    CellListWindow *list = ListOf(window);
    HWND view = GetListViewOf(window);
    if (!list || !view) return;
    UpdateSortKeys(view, column, list->sortPriorities, list->sortDirections);
    SortListRows(list);
    SelectItem(window, 0);
    ShowSortArrows(view, list->sortPriorities, list->sortDirections);
    InvalidateRect(view, nullptr, TRUE);
}

static COLORREF StrategyColour(int32_t strategy)
{
    const int32_t count = gGraphColours.colourCount > 0 ? gGraphColours.colourCount : 1;
    return (COLORREF)gGraphColours.colours[(strategy + 1) % count];
}

static LRESULT DrawListCell(HWND window, NMLVCUSTOMDRAW *draw)
{
    CellListWindow *list = ListOf(window);
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        draw->clrTextBk = RGB(255, 255, 255);
        draw->clrText = RGB(0, 0, 0);
        const ListCell *cell = list ? GetListCell(list, (int32_t)draw->nmcd.dwItemSpec, draw->iSubItem) : nullptr;
        if (!cell) return CDRF_NEWFONT;
        if (list->listKind == LIST_KIND_TRADES && draw->iSubItem == TRADE_COL_STRATEGY)
            draw->clrText = StrategyColour((int32_t)cell->number);
        else if (cell->negativeColour && (cell->text[0] == '-' || cell->text[0] == '('))
            draw->clrText = RGB(255, 0, 0);
        return CDRF_NEWFONT;
    }
    default: return CDRF_DODEFAULT;
    }
}

LRESULT OnListViewNotify(HWND window, NMHDR *header, const ListViewEvents *events)
{
    /* The list view asks for every cell it paints or measures, and a cell
    ** list has every cell it paints coloured: thousands of notices while a
    ** long list fills or scrolls.  They are answered from the window's own
    ** record, without asking the system for the view's handle or the
    ** keyboard, each of which is a round trip to the window server under
    ** Wine.  A list window's only list view has LIST_VIEW_ID. */
    if (header->idFrom == LIST_VIEW_ID && header->code == LVN_GETDISPINFOW) {
        NMLVDISPINFOW *info = (NMLVDISPINFOW *)header;
        if (!events->cellText) return 0;
        GiveListCellText(info, events->cellText(window, info->item.iItem, info->item.iSubItem));
        if (info->item.mask & LVIF_PARAM) info->item.lParam = info->item.iItem;
        return 0;
    }
    if (header->idFrom == LIST_VIEW_ID && header->code == NM_CUSTOMDRAW) {
        NMLVCUSTOMDRAW *draw = (NMLVCUSTOMDRAW *)header;
        /* Every scroll, by bar, wheel or key, ends in a paint: the rows it
        ** brought into sight are fitted here. */
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) WidenColumnsOnScroll(header->hwndFrom);
        return events->customDraw ? events->customDraw(window, draw) : CDRF_DODEFAULT;
    }
    if (!ListViewOfNotice(window, header)) return 0;
    /* Read only for the two notices it qualifies. */
    auto control = [] { return GetKeyState(VK_CONTROL) < 0 ? 1 : 0; };
    switch (header->code) {
    case LVN_COLUMNCLICK:
        if (events->sort) events->sort(window, ((NMLISTVIEW *)header)->iSubItem);
        break;
    case LVN_ITEMCHANGED: {
        const NMLISTVIEW *change = (const NMLISTVIEW *)header;
        if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
            !(change->uOldState & LVIS_SELECTED) && events->selected)
            events->selected(window, change->lParam);
        break;
    }
    case LVN_KEYDOWN: {
        const NMLVKEYDOWN *key = (const NMLVKEYDOWN *)header;
        if (key->wVKey == VK_RETURN) {
            if (events->open) events->open(window, control());
        } else if (key->wVKey == 'C' && control()) {
            CopyListView(window, nullptr);
        } else if (events->key) {
            events->key(window, key);
        }
        break;
    }
    case NM_DBLCLK:
        if (events->open) events->open(window, control());
        break;
    default: break;
    }
    return 0;
}

static const char *CellListText(HWND window, int row, int column)
{
    const ListCell *cell = GetListCell(ListOf(window), row, column);
    return cell ? cell->text : nullptr;
}

static void SortCellList(HWND window, int column)
{
    SortByColumn(window, column);
    if (FindChartWindow(window)) ChartOfRow(window, 0);
}

/* A linked chart follows the selection. */
static void CellListSelected(HWND window, LPARAM)
{
    if (FindChartWindow(window)) ChartOfRow(window, 0);
}

static void OpenCellListRow(HWND window, int control)
{
    if (control)
        DebugRow(window);
    else
        ChartOfRow(window, 1);
}

static const ListViewEvents kCellListEvents = {
    .cellText = CellListText,
    .customDraw = DrawListCell,
    .sort = SortCellList,
    .selected = CellListSelected,
    .open = OpenCellListRow,
    .key = nullptr,
};

static LRESULT CellListWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int *width, int *height,
                               int helpTopic)
{
    switch (message) {
    case WM_CREATE: {
        CREATESTRUCTA *create = (CREATESTRUCTA *)lParam;
        MDICREATESTRUCTA *mdi = (MDICREATESTRUCTA *)create->lpCreateParams;
        SetWindowLongPtrA(window, GWLP_USERDATA, mdi ? (LONG_PTR)mdi->lParam : 0);
        HWND view = CreateListView(window,
                                   WS_CHILD | WS_VISIBLE | WS_DISABLED | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL |
                                       LVS_SHOWSELALWAYS,
                                   LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
        if (!view) return -1;
        SizeChildToClient(window, FALSE);
        break;
    }
    case WM_DESTROY: {
        CloseChartWindows(window);
        CellListWindow *list = ListOf(window);
        if (list) {
            FreeListWindow(list);
            FreeMemory(&list);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        break;
    }
    case WM_NOTIFY: return ListOf(window) ? OnListViewNotify(window, (NMHDR *)lParam, &kCellListEvents) : 0;
    case WM_LIST_CELL_READER: return (LRESULT)(ListCellText)CellListText;
    default: break;
    }
    LRESULT result = 0;
    if (ListChildMessage(window, message, wParam, lParam, width, height, helpTopic, &result)) return result;
    return DefMDIChildProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TradeListWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CellListWndProc(window, message, wParam, lParam, &gSettings.iTradesW, &gSettings.iTradesH, HELP_TOPIC_TRADES_WINDOW);
}

LRESULT CALLBACK ScanWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CellListWndProc(window, message, wParam, lParam, &gSettings.iScanW, &gSettings.iScanH, HELP_TOPIC_SCAN_WINDOW);
}

int TradeListCommand(HWND window, int commandId)
{
    switch (commandId) {
    case IDM_LIST_CHART:
        MoveListSelection(window, 0, 0);
        ChartOfRow(window, 1);
        return 1;
    case IDM_DEBUG_ROW: DebugRow(window); return 1;
    case IDM_CHART_FORMULAS: {
        char path[PATH_SIZE];
        ColumnScriptPath(SECTION_TRADES, path);
        return OpenScript(path, nullptr);
    }
    case IDM_CHART_REFRESH: RefreshAllTradeLists(); return 1;
    default: return 0;
    }
}

int ScanCommand(HWND window, int commandId)
{
    switch (commandId) {
    case IDM_LIST_CHART:
        MoveListSelection(window, 0, 0);
        ChartOfRow(window, 1);
        return 1;
    case IDM_DEBUG_ROW: DebugRow(window); return 1;
    case IDM_SAVE_ALL_CHARTS: {
        CopyString(gScriptSettings.SaveChartsTo, sizeof gScriptSettings.SaveChartsTo, gSettings.OutputPath, -1);
        if (BrowseForFolder(gScriptSettings.SaveChartsTo, "Save Charts To Folder", 0, gFrame.frame))
            SaveChartsToFolder(ListOf(window), gScriptSettings.SaveChartsTo);
        return 1;
    }
    default: return 0;
    }
}
