/* plot_dialogs.cpp -- the trade plot's options dialog and the results
** graph's options dialog, both driven by the settings table. */
#include <cstring>

#include "records/test_records.h"
#include "foundation/win32/window_text.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/settings_dialog.h"
#include "services/services.h"
#include "views/win32/view_windows.h"
#include "views/res_graph.h"
#include "views/trade_plot.h"
#include "views/win32/plot_windows.h"

namespace {

/* The editor component's message that hides its horizontal scroll bar. */
enum { EDITOR_SET_HSCROLLBAR = 2130 };

const char kWaitText[] = "Please wait for the current calculation to finish.";

void CloseOptions(HWND dialog)
{
    DialogToSettings(dialog, IDD_PLOT_OPTIONS, 0);
    HWND plot = GetPlotOfOptionsDialog(dialog);
    PlotWindow *record = plot ? GetPlotRecord(plot) : nullptr;
    if (record && record->optionsDialog == dialog) record->optionsDialog = nullptr;
    UnregisterFindDialog(dialog);
    DestroyWindow(dialog);
}

void RefreshPlot(HWND dialog)
{
    HWND plot = GetPlotOfOptionsDialog(dialog);
    PlotWindow *record = plot ? GetPlotRecord(plot) : nullptr;
    if (!record) return;
    if (record->busy) {
        ShowPopupNotice(255, "%s", kWaitText);
        return;
    }
    if (!DialogToSettings(dialog, IDD_PLOT_OPTIONS, 0)) return;
    LoadPlotSettings(record);
    record->crossX = record->crossY = -1;
    if (CalcTradePlotData(record)) {
        CopyString(gSettings.PlotFormula, sizeof gSettings.PlotFormula, record->formula, -1);
        /* counts the calculation clamped show their new values */
        gSettings.PlotPDCount = record->distributionBuckets;
        gSettings.PlotBinCount = record->equalCountBins;
        InvalidateRect(plot, nullptr, FALSE);
    }
    SettingsToDialog(dialog, IDD_PLOT_OPTIONS, 0);
}

ResGraphWindow *DialogGraph(HWND dialog, HWND *window)
{
    *window = (HWND)GetWindowLongPtrA(dialog, DWLP_USER);
    return *window ? GetResGraphRecord(*window) : nullptr;
}

} // namespace

HWND GetPlotOfOptionsDialog(HWND dialog) { return (HWND)GetWindowLongPtrA(dialog, DWLP_USER); }

void UpdatePlotOptionsDialog(HWND dialog)
{
    HWND plot = GetPlotOfOptionsDialog(dialog);
    PlotWindow *record = plot ? GetPlotRecord(plot) : nullptr;
    const TestRecord *test = record ? record->test : nullptr;
    char title[300];
    FormatText(title, sizeof title, "Trade Plot Options - Test %d - %s", test ? test->testNumber : 0,
               test ? test->settings.TestName : "");
    SetWindowTitle(dialog, title);
    FillDialogLists(dialog, IDD_PLOT_OPTIONS);
    HWND strategies = GetDlgItem(dialog, IDC_PLOT_STRATEGY);
    SendMessageA(strategies, CB_RESETCONTENT, 0, 0);
    for (int32_t i = 0; test && test->strategies && i < test->strategyCount; i++)
        AddComboText(strategies, test->strategies[i].name);
    SettingsToDialog(dialog, IDD_PLOT_OPTIONS, 0);
}

void ShowPlotOptions(HWND window)
{
    PlotWindow *record = GetPlotRecord(window);
    if (!record) return;
    if (record->optionsDialog) {
        SetForegroundWindow((HWND)record->optionsDialog);
        return;
    }
    HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_PLOT_OPTIONS), gFrame.frame,
                                     TradePlotOptionsDlgProc, (LPARAM)window);
    if (!dialog) return;
    if (!RegisterFindDialog(dialog)) {
        DestroyWindow(dialog);
        return;
    }
    record->optionsDialog = dialog;
    ShowWindow(dialog, SW_SHOW);
}

INT_PTR CALLBACK TradePlotOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)lParam);
        /* The formula is typed with the script editor's colouring and
        ** completion, on one line. */
        LoadEditorSettings();
        if (AttachEditor(dialog, IDC_PLOT_FORMULA, &gScriptEditorSettings)) {
            ApplyEditorSettings(dialog);
            EditorSend(dialog, EDITOR_SET_HSCROLLBAR, 0);
        }
        UpdatePlotOptionsDialog(dialog);
        return TRUE;
    case WM_NOTIFY:
        if (((NMHDR *)lParam)->idFrom == IDC_PLOT_FORMULA) OnEditorNotify(dialog, (SCNotification *)lParam);
        return FALSE;
    case WM_HELP: ShowEditorHelp(dialog); return TRUE;
    case WM_DESTROY: DetachEditor(dialog); return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            RefreshPlot(dialog);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            CloseOptions(dialog);
            return TRUE;
        }
        break;
    case WM_CLOSE: CloseOptions(dialog); return TRUE;
    default: break;
    }
    return FALSE;
}

void UpdateResGraphOptions(HWND dialog, int variableCount)
{
    if (variableCount < 2) CheckRadioButton(dialog, IDC_RG_BAR_CHART, IDC_RG_HEAT_MAP, IDC_RG_BAR_CHART);
    int heat = IsDlgButtonChecked(dialog, IDC_RG_HEAT_MAP) == BST_CHECKED;
    SetDlgItemTextA(dialog, IDC_RG_Y_GROUP, heat ? "Y-Axis" : "Average By");
    EnableWindow(GetDlgItem(dialog, IDC_RG_SORTED), !heat);
    EnableWindow(GetDlgItem(dialog, IDC_RG_X_VAR), variableCount >= 1);
    HWND xs = GetDlgItem(dialog, IDC_RG_X_VAR);
    LRESULT last = SendMessageA(xs, CB_GETCOUNT, 0, 0) - 1;
    int testNumber = !heat && last >= 0 && SendMessageA(xs, CB_GETCURSEL, 0, 0) == last;
    EnableWindow(GetDlgItem(dialog, IDC_RG_Y_VAR), variableCount >= 2 && !testNumber);
    EnableWindow(GetDlgItem(dialog, IDC_RG_HEAT_MAP), variableCount >= 2);
}

INT_PTR CALLBACK ResGraphOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window;
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)lParam);
        ResGraphWindow *r = DialogGraph(dialog, &window);
        if (!r) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        FillDialogLists(dialog, IDD_RESGRAPH_OPTIONS);
        HWND xs = GetDlgItem(dialog, IDC_RG_X_VAR), ys = GetDlgItem(dialog, IDC_RG_Y_VAR);
        SendMessageA(xs, CB_RESETCONTENT, 0, 0);
        SendMessageA(ys, CB_RESETCONTENT, 0, 0);
        for (int32_t i = 0; i < r->variableCount; i++) {
            AddComboText(xs, r->variables[i].name);
            AddComboText(ys, r->variables[i].name);
        }
        if (!r->heatMap) SendMessageA(xs, CB_ADDSTRING, 0, (LPARAM) "Test Number");
        gSettings.ResGraphValueCol = r->valueColumn;
        gSettings.ResGraphXVar = r->xVariable;
        gSettings.ResGraphYVar = r->yVariable;
        gSettings.ResGraphSort = r->sorted;
        gSettings.ResGraphTrend = r->trend;
        gSettings.ResGraphHeatMap = r->heatMap;
        SettingsToDialog(dialog, IDD_RESGRAPH_OPTIONS, 0);
        UpdateResGraphOptions(dialog, r->variableCount);
        return TRUE;
    }
    case WM_COMMAND: {
        ResGraphWindow *r = DialogGraph(dialog, &window);
        int id = LOWORD(wParam);
        if (id == IDC_RG_BAR_CHART || id == IDC_RG_HEAT_MAP || (HIWORD(wParam) == CBN_SELCHANGE)) {
            if (r) UpdateResGraphOptions(dialog, r->variableCount);
            return TRUE;
        }
        if (id == IDOK && r) {
            if (!DialogToSettings(dialog, IDD_RESGRAPH_OPTIONS, 0)) return TRUE;
            if (r->variableCount < 2) gSettings.ResGraphHeatMap = 0;
            r->heatMap = gSettings.ResGraphHeatMap;
            r->sorted = gSettings.ResGraphSort;
            r->trend = gSettings.ResGraphTrend;
            r->xVariable = gSettings.ResGraphXVar;
            r->yVariable = gSettings.ResGraphYVar;
            UpdateResGraphWindow(window, gSettings.ResGraphValueCol);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (id == IDCANCEL || id == IDOK) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    default: break;
    }
    return FALSE;
}
