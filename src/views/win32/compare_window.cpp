/* compare_window.cpp -- the Compare Trade Lists dialog and the compare
** window that shows two trade lists side by side. */
#include "views/win32/result_windows.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "foundation/win32/settings_dialog.h"
#include "services/services.h"
#include "shell/help_topics.h"
#include "views/win32/view_windows.h"
#include "records/chart_record.h"
#include "views/trade_compare.h"
#include "views/trade_rows.h"

static CompareWindow *CompareOf(HWND window)
{
    return (CompareWindow *)GetWindowLongPtrA(window, GWLP_USERDATA);
}

/* ---- the dialog ---------------------------------------------------------------------- */

struct CompareDialogState {
    HWND refresh;              /* the compare window being refreshed, or null */
    HWND results;              /* the results window the dialog was opened from, or null */
    const ResultsWindow *list; /* the results list whose tests it offers */
};
static CompareDialogState sCompareDialog;

static TestRecord *TestByNumber(const ResultsWindow *list, int32_t number)
{
    for (TestRecord *t = list ? list->firstTest : nullptr; t; t = t->next)
        if (t->testNumber == number) return t;
    return nullptr;
}

/* The test named by a test combo's text ("%.4d:%s"), or null. */
static TestRecord *ComboTest(HWND dialog, int comboId)
{
    char text[200] = "";
    GetItemText(dialog, comboId, text, sizeof text);
    if (!text[0]) return nullptr;
    return TestByNumber(sCompareDialog.list, atoi(text));
}

static void FillTestCombo(HWND dialog, int comboId, const TestRecord *selected)
{
    HWND combo = GetDlgItem(dialog, comboId);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    const ResultsWindow *list = sCompareDialog.list;
    int index = 0, chosen = -1;
    /* In the order the results list shows them, newest first. */
    for (TestRecord *t = list ? list->lastTest : nullptr; t; t = t->previous, index++) {
        char text[200];
        FormatText(text, sizeof text, "%.4d:%s", t->testNumber, t->settings.TestName);
        AddComboText(combo, text);
        if (t == selected) chosen = index;
    }
    SendMessageA(combo, CB_SETCURSEL, (WPARAM)chosen, 0);
}

static void FillStrategyCombo(HWND dialog, int comboId, const TestRecord *test, int32_t selected)
{
    HWND combo = GetDlgItem(dialog, comboId);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (int32_t s = 0; test && s < test->strategyCount; s++)
        AddComboText(combo, test->strategies[s].name);
    SendMessageA(combo, CB_SETCURSEL, (WPARAM)selected, 0);
}

/* The strategy chosen in a combo, by name in its test; -1 when none. */
static int32_t ComboStrategy(HWND dialog, int comboId, const TestRecord *test)
{
    char name[200] = "";
    GetItemText(dialog, comboId, name, sizeof name);
    for (int32_t s = 0; test && s < test->strategyCount; s++)
        if (strcmp(test->strategies[s].name, name) == 0) return s;
    return -1;
}

static void InitCompareDialog(HWND dialog)
{
    SettingsToDialog(dialog, IDD_COMPARE_TRADES, 0);
    const ResultsWindow *list = sCompareDialog.list;
    TestRecord *selected = nullptr;
    if (!sCompareDialog.refresh && sCompareDialog.results) GetSelectedTest(sCompareDialog.results, &selected);
    const int32_t wanted[2] = {gSettings.Test1, gSettings.Test2};
    const int32_t strategies[2] = {gSettings.Strat1, gSettings.Strat2};
    const int testCombos[2] = {IDC_CMP_TEST1, IDC_CMP_TEST2}, strategyCombos[2] = {IDC_CMP_STRAT1, IDC_CMP_STRAT2};
    for (int k = 0; k < 2; k++) {
        TestRecord *test = selected ? selected : TestByNumber(list, wanted[k]);
        if (!test && list) test = list->lastTest; /* the list's first row */
        FillTestCombo(dialog, testCombos[k], test);
        const int32_t strategy = test && strategies[k] < test->strategyCount ? strategies[k] : 0;
        FillStrategyCombo(dialog, strategyCombos[k], test, strategy);
    }
}

static int RunComparison(HWND dialog)
{
    if (!DialogToSettings(dialog, IDD_COMPARE_TRADES, 0)) return 0;
    TestRecord *test1 = ComboTest(dialog, IDC_CMP_TEST1), *test2 = ComboTest(dialog, IDC_CMP_TEST2);
    const int32_t s1 = ComboStrategy(dialog, IDC_CMP_STRAT1, test1), s2 = ComboStrategy(dialog, IDC_CMP_STRAT2, test2);
    if (!test1 || !test2 || s1 < 0 || s2 < 0) {
        ReportError("Please select a test and a strategy for each list.");
        return 0;
    }
    gSettings.Test1 = test1->testNumber;
    gSettings.Strat1 = s1;
    gSettings.Test2 = test2->testNumber;
    gSettings.Strat2 = s2;
    SetWaitCursor(1);
    HWND target = sCompareDialog.refresh;
    CompareWindow scratch = {};
    CompareWindow *record = target ? CompareOf(target) : &scratch;
    /* A chart of a compare row points into the rows that a new comparison
    ** frees, so the window's charts go first. */
    if (target) CloseChartWindows(target);
    int ok = BuildTradeComparison(record, test1, s1, test2, s2);
    if (ok && !target) {
        CompareWindow *owned = nullptr;
        ok = AllocMemory(&owned, sizeof *owned);
        if (ok) {
            *owned = scratch;
            target = CreateMdiChild("KestovarCompare", "Compare", 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                    gSettings.iCompareW > 0 ? gSettings.iCompareW : CW_USEDEFAULT,
                                    gSettings.iCompareH > 0 ? gSettings.iCompareH : CW_USEDEFAULT, owned);
            if (!target) {
                FreeCompareWindowData(owned);
                FreeMemory(&owned);
                ok = 0;
            }
        } else {
            FreeCompareWindowData(&scratch);
        }
    }
    if (ok) {
        CompareWindow *shown = CompareOf(target);
        HWND view = GetListViewOf(target);
        SetWindowTitle(target, shown->title);
        ListView_SetItemCountEx(view, shown->rowCount, LVSICF_NOSCROLL);
        AutoSizeColumns(view);
        EnableWindow(view, TRUE);
        ListView_EnsureVisible(view, 0, FALSE);
        if (shown->rowCount > 0) SelectItem(target, 0);
        ShowSortArrows(view, shown->sortPriorities, shown->sortDirections);
        InvalidateRect(view, nullptr, TRUE);
        ShowWindow(target, SW_SHOW);
        SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)target, 0);
        UpdateWindowTab(target);
    }
    SetStatusText(0, nullptr);
    SetStatusText(1, nullptr);
    SetWaitCursor(0);
    return ok;
}

static INT_PTR CALLBACK CompareTradeListsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: InitCompareDialog(dialog); return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) == CBN_DROPDOWN) {
            if (id == IDC_CMP_TEST1 || id == IDC_CMP_TEST2) {
                FillTestCombo(dialog, id, ComboTest(dialog, id));
            } else if (id == IDC_CMP_STRAT1 || id == IDC_CMP_STRAT2) {
                const TestRecord *test = ComboTest(dialog, id == IDC_CMP_STRAT1 ? IDC_CMP_TEST1 : IDC_CMP_TEST2);
                FillStrategyCombo(dialog, id, test, ComboStrategy(dialog, id, test));
            }
            return TRUE;
        }
        if (id == IDOK) {
            if (RunComparison(dialog)) EndDialog(dialog, 1);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    default: break;
    }
    return FALSE;
}

/* The results window whose list holds the test, or null. */
static HWND ResultsHwndOfTest(const TestRecord *test)
{
    HWND child = nullptr;
    while (test && FindNextChildWindow(&child, "KestovarResults")) {
        const ResultsWindow *list = ResultsListOf(child);
        for (const TestRecord *t = list ? list->firstTest : nullptr; t; t = t->next)
            if (t == test) return child;
    }
    return nullptr;
}

INT_PTR ShowCompareDialog(HWND results, HWND refresh)
{
    /* A refresh offers the tests of the list its comparison came from. */
    const CompareWindow *shown = refresh ? CompareOf(refresh) : nullptr;
    if (shown) results = ResultsHwndOfTest(shown->test1);
    sCompareDialog = {refresh, results, results ? ResultsListOf(results) : nullptr};
    INT_PTR result = DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_COMPARE_TRADES), gFrame.frame,
                                     CompareTradeListsDlgProc, 0);
    sCompareDialog = {};
    return result;
}

/* ---- the window ------------------------------------------------------------------------ */

/* The chart of the selected row: its symbol at its first entry date. */
static void ShowCompareRowChart(HWND window, int activate)
{
    CompareWindow *record = CompareOf(window);
    const int row = GetSelectedItem(window);
    if (!record || row < 0 || row >= record->rowCount) return;
    CompareRow *r = &record->rows[row];
    OpenChart(r->cells[CMP_COL_SYMBOL].text, (int32_t)r->cells[CMP_COL_DATE].number, CHART_KIND_COMPARE, r, window,
              r->side[0].test, 1, activate);
}

/* Selects, in the trade list of one side's test, the row of that side's trade. */
static void FindSideTrade(HWND window, int side)
{
    CompareWindow *record = CompareOf(window);
    const int row = GetSelectedItem(window);
    if (!record || row < 0 || row >= record->rowCount) return;
    const CompareSide *s = &record->rows[row].side[side];
    if (!s->trade || !s->test) return;
    HWND list = nullptr;
    bool found = false;
    while (!found && FindNextChildWindow(&list, "KestovarTrades")) {
        const CellListWindow *cells = (const CellListWindow *)GetWindowLongPtrA(list, GWLP_USERDATA);
        found = cells && cells->test == s->test;
    }
    if (!found) list = OpenTradeList(s->test);
    if (!list) return;
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)list, 0);
    const CellListWindow *cells = (const CellListWindow *)GetWindowLongPtrA(list, GWLP_USERDATA);
    for (int32_t r = 0; cells && r < cells->rowCount; r++) {
        const TradeRecord *t = &s->test->trades[GetListCell(cells, r, 0)->tradeIndex];
        if (t->dateIn == s->trade->dateIn && t->strategy == s->trade->strategy && strcmp(t->symbol, s->trade->symbol) == 0) {
            SelectItem(list, r);
            ListView_EnsureVisible(GetListViewOf(list), r, FALSE);
            break;
        }
    }
}

/* Sorts by a column.  The rows themselves move, so the selection and every
** chart opened on a row are carried to where their row went: a chart keeps
** showing the trades it was opened for. */
static void SortCompareColumn(HWND window, int column)
{
    CompareWindow *record = CompareOf(window);
    HWND view = GetListViewOf(window);
    if (!record || !view) return;
    UpdateSortKeys(view, column, record->sortPriorities, record->sortDirections);
    std::vector<ChartWindow *> charts;
    std::vector<CompareRow *> follow;
    const int selected = GetSelectedItem(window);
    follow.push_back(selected >= 0 && selected < record->rowCount ? &record->rows[selected] : nullptr);
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarChart")) {
        ChartWindow *chart = (ChartWindow *)GetWindowLongPtrA(child, GWLP_USERDATA);
        if (!chart || (HWND)chart->owner != window || chart->kind != CHART_KIND_COMPARE) continue;
        charts.push_back(chart);
        follow.push_back((CompareRow *)chart->tradeLink);
    }
    SortComparisonRows(record, follow.data(), (int32_t)follow.size());
    for (size_t k = 0; k < charts.size(); k++) charts[k]->tradeLink = follow[k + 1];
    SelectItem(window, follow[0] ? (int)(follow[0] - record->rows) : 0);
    ShowSortArrows(view, record->sortPriorities, record->sortDirections);
    InvalidateRect(view, nullptr, TRUE);
}

static LRESULT DrawCompareCell(HWND window, NMLVCUSTOMDRAW *draw)
{
    CompareWindow *record = CompareOf(window);
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        draw->clrTextBk = RGB(255, 255, 255);
        draw->clrText = RGB(0, 0, 0);
        const int row = (int)draw->nmcd.dwItemSpec, column = draw->iSubItem;
        if (!record || row < 0 || row >= record->rowCount || column < 0 || column >= COMPARE_COLUMNS) return CDRF_NEWFONT;
        const CompareRow *r = &record->rows[row];
        const int side = column == CMP_COL_STRATEGY ? 0 : column == CMP_COL_STRATEGY + COMPARE_SIDE_STRIDE ? 1
                                                                                                           : -1;
        if (side >= 0) {
            if (r->side[side].trade) {
                const int32_t count = gGraphColours.colourCount > 0 ? gGraphColours.colourCount : 1;
                draw->clrText = (COLORREF)gGraphColours.colours[(r->side[side].trade->strategy + 1) % count];
            }
        } else if (r->cells[column].text[0] == '-' || r->cells[column].text[0] == '(') {
            draw->clrText = RGB(255, 0, 0);
        }
        return CDRF_NEWFONT;
    }
    default: return CDRF_DODEFAULT;
    }
}

static const char *CompareCellText(HWND window, int row, int column)
{
    const CompareWindow *record = CompareOf(window);
    const bool inside = record && row >= 0 && row < record->rowCount && column >= 0 && column < COMPARE_COLUMNS;
    return inside ? record->rows[row].cells[column].text : nullptr;
}

static void SortCompareAndChart(HWND window, int column)
{
    SortCompareColumn(window, column);
    if (FindChartWindow(window)) ShowCompareRowChart(window, 0);
}

/* A linked chart follows the selection, without taking the activation. */
static void CompareRowSelected(HWND window, LPARAM)
{
    if (FindChartWindow(window)) ShowCompareRowChart(window, 0);
}

static void OpenCompareRow(HWND window, int) { ShowCompareRowChart(window, 1); }

static const ListViewEvents kCompareEvents = {
    .cellText = CompareCellText,
    .customDraw = DrawCompareCell,
    .sort = SortCompareAndChart,
    .selected = CompareRowSelected,
    .open = OpenCompareRow,
    .key = nullptr,
};

LRESULT CALLBACK CompareWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
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
        for (int c = 0; c < COMPARE_COLUMNS; c++) {
            SetColumn(view, kCompareColumnNames[c], LVCFMT_CENTER, c, 1);
            ListView_SetColumnWidth(view, c, 96);
        }
        SizeChildToClient(window, FALSE);
        break;
    }
    case WM_DESTROY: {
        CloseChartWindows(window);
        CompareWindow *record = CompareOf(window);
        if (record) {
            FreeCompareWindowData(record);
            FreeMemory(&record);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        break;
    }
    case WM_NOTIFY: return CompareOf(window) ? OnListViewNotify(window, (NMHDR *)lParam, &kCompareEvents) : 0;
    case WM_LIST_CELL_READER: return (LRESULT)(ListCellText)CompareCellText;
    default: break;
    }
    LRESULT result = 0;
    if (ListChildMessage(window, message, wParam, lParam, &gSettings.iCompareW, &gSettings.iCompareH, HELP_TOPIC_COMPARE_WINDOW, &result)) return result;
    return DefMDIChildProcA(window, message, wParam, lParam);
}

int CompareCommand(HWND window, int commandId)
{
    switch (commandId) {
    case IDM_LIST_CHART: ShowCompareRowChart(window, 1); return 1;
    case IDM_COMPARE_SETTINGS: ShowCompareDialog(nullptr, window); return 1;
    case IDM_FIND_LEFT_TRADE: FindSideTrade(window, 0); return 1;
    case IDM_FIND_RIGHT_TRADE: FindSideTrade(window, 1); return 1;
    default: return 0;
    }
}
