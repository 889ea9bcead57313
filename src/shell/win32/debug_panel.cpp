/* debug_panel.cpp -- the debug panel under the settings panel: a formula
** evaluated for one symbol and date with its trace, a symbol's data and a
** strategy's statistics in list windows, and the positions the last run left. */
#include "shell/win32/shell_win32.h"

#include <cstdlib>
#include <cstring>

#include "engine/results_file.h"
#include "engine/run_view_hooks.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "foundation/win32/settings_dialog.h"
#include "marketdata/store/symbols.h"
#include "script/eval/eval_context.h"
#include "records/chart_record.h"
#include "shell/debug_eval.h"
#include "services/services.h"
#include "shell/win32/editor_host.h"

#include <Scintilla.h>

struct DebugPanelState {
    int initialised;
    HBRUSH brush; /* DebugColor, made on first use */
    DialogLayout *layout;
};
static DebugPanelState sDebug;

static HWND Panel() { return gFrame.debugPanel; }

/* The formula box: an editor with the script editor's settings and look,
** without a horizontal scroll bar. */
static void BindFormulaEditor(HWND panel)
{
    LoadEditorSettings();
    if (!AttachEditor(panel, IDC_DP_FORMULA, &gScriptEditorSettings)) return;
    ApplyEditorSettings(panel);
    EditorSend(panel, SCI_SETHSCROLLBAR, 0);
}

void ShowDebugPanelDate()
{
    if (Panel()) SettingsToDialog(Panel(), IDD_DEBUG_PANEL, IDC_DP_DATE);
}

/* Stores both panels' controls in the settings. */
static void StorePanels()
{
    SettingsPanelToSettings();
    if (Panel()) DialogToSettings(Panel(), IDD_DEBUG_PANEL, 0);
}

static int ComboText(HWND panel, int id, char *out, int size)
{
    out[0] = 0;
    return GetItemText(panel, id, out, (size_t)size);
}

/* The test and strategy the combos name. */
static DebugSelection ReadSelection(HWND panel)
{
    DebugSelection selection = {};
    selection.strategyIndex = -1;
    selection.testListed = SendDlgItemMessageA(panel, IDC_DP_TEST, CB_GETCOUNT, 0, 0) > 0;
    char text[200];
    ComboText(panel, IDC_DP_TEST, text, sizeof text);
    selection.test = FindTestByText(text, 1);
    ComboText(panel, IDC_DP_STRATEGY, text, sizeof text);
    selection.strategyIndex = FindStrategyByName(text, selection.test);
    return selection;
}

static TestRecord *AnyTest()
{
    ResultsWindow *results = FirstResultsWindow();
    if (results && results->firstTest) return results->firstTest;
    return gCurrentTest;
}

void ShowDebugLog()
{
    LogPrintf("%s", "");
    HWND log = nullptr;
    if (FindNextChildWindow(&log, "KestovarLog")) {
        SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)log, 0);
        HWND editor = GetWindow(log, GW_CHILD);
        if (editor) SetFocus(editor);
    }
}

void UpdateDebugPanelControls()
{
    HWND panel = Panel();
    if (!panel) return;
    /* Every button evaluates formulas or reads the run's records, which a run
    ** is changing: none works while one goes on. */
    int idle = gRun.state.load() == RUN_IDLE;
    char symbol[64];
    ComboText(panel, IDC_DP_SYMBOL, symbol, sizeof symbol);
    int chart = idle && !IsDataFileNameChanged() && symbol[0];
    int formula = SendDlgItemMessageA(panel, IDC_DP_FORMULA, EDITOR_GET_LENGTH, 0, 0) > 0;
    TestRecord *test = AnyTest();
    EnableWindow(GetDlgItem(panel, IDC_DP_CHART), chart);
    EnableWindow(GetDlgItem(panel, IDC_DP_DATA), chart);
    EnableWindow(GetDlgItem(panel, IDC_DP_EVALUATE), chart && formula);
    EnableWindow(GetDlgItem(panel, IDC_DP_GRAPH), chart && test);
    EnableWindow(GetDlgItem(panel, IDC_DP_STATS), chart && test);
    EnableWindow(GetDlgItem(panel, IDC_DP_POSITIONS), idle && HasOpenPositions() && gCurrentTest);
    if (!test) {
        SendDlgItemMessageA(panel, IDC_DP_TEST, CB_RESETCONTENT, 0, 0);
        SendDlgItemMessageA(panel, IDC_DP_STRATEGY, CB_RESETCONTENT, 0, 0);
        SetItemText(panel, IDC_DP_TEST, "");
        SetItemText(panel, IDC_DP_STRATEGY, "");
    }
}

/* After a test: the Test box empties, the Symbol and Strategy boxes take
** the run's choice, and the buttons follow. */
static void UpdateExaminePanelBoxes(const char *symbol, const char *strategy)
{
    HWND panel = Panel();
    if (!panel) return;
    SetItemText(panel, IDC_DP_TEST, "");
    SetItemText(panel, IDC_DP_SYMBOL, symbol ? symbol : "");
    SetItemText(panel, IDC_DP_STRATEGY, strategy ? strategy : "");
    UpdateDebugPanelControls();
}

void InstallDebugPanelHooks() { gRunViewHooks.updateExaminePanel = UpdateExaminePanelBoxes; }

void EvalDebugFormula(HWND panel)
{
    StorePanels();
    DebugSelection selection = ReadSelection(panel);
    int32_t offset = 0, length = 0;
    int result = EvalDebugText(gSettings.DebugFormula, &selection, &offset, &length);
    if (result == DEBUG_EVAL_NOT_COMPILED) {
        SetFocus(GetDlgItem(panel, IDC_DP_FORMULA));
        EditorSend(panel, SCI_SETSEL, (uintptr_t)offset, offset + length);
    } else if (result != DEBUG_EVAL_FAILED) {
        ShowDebugLog();
    }
}

/* Puts a table into a list window. */
static void ShowTable(const DebugTable &table)
{
    HWND window = GetListWindow();
    if (!window) return;
    HWND list = GetListViewOf(window);
    SetWindowTitle(window, table.title.c_str());
    SetListWindowName(window, table.listName.c_str());
    for (size_t c = 0; c < table.columns.size(); c++)
        SetColumn(list, table.columns[c].c_str(), c ? LVCFMT_RIGHT : LVCFMT_LEFT, (int)c, 1);
    for (size_t r = 0; r < table.rows.size(); r++)
        for (size_t c = 0; c < table.rows[r].size(); c++) SetListCell(list, (int)r, (int)c, table.rows[r][c].c_str());
    FinishListWindow(window, list);
}

void ShowDataWindow(HWND panel, int button)
{
    StorePanels();
    DebugSelection selection = ReadSelection(panel);
    EvalContext context;
    PositionRecord position;
    if (!CheckDebugContext(&selection, &context, &position, 1, 0, 1)) return;
    ShowDebugPanelDate();
    if (button == IDC_DP_CHART) {
        if (context.symbol) OpenChart(context.symbol->info.Symbol, context.date, CHART_KIND_SYMBOL, nullptr, nullptr, nullptr, 0, 1);
        return;
    }
    DebugTable table;
    BuildDebugDataTable(&context, &table);
    ShowTable(table);
}

void ShowStatsWindow(HWND panel, int button)
{
    StorePanels();
    DebugSelection selection = ReadSelection(panel);
    EvalContext context;
    if (!CheckDebugContext(&selection, &context, nullptr, 1, 1, 1)) return;
    if (button == IDC_DP_GRAPH) {
        if (context.test) OpenStatsGraph(FirstResultsWindow(), context.test, 1);
        return;
    }
    DebugTable table;
    BuildDebugStatsTable(&context, &table);
    ShowTable(table);
}

/* ---- combo lists ---------------------------------------------------------------------------- */

static void FillCombo(HWND combo, int (*each)(int index, char *out, int size))
{
    char kept[200];
    GetWindowTitle(combo, kept, sizeof kept);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    char text[200];
    for (int i = 0; each(i, text, sizeof text); i++) AddComboText(combo, text);
    SetWindowTitle(combo, kept);
}

static int EachSymbol(int index, char *out, int size)
{
    if (index >= gStore.symbolCount) return 0;
    CopyString(out, size, gStore.symbols[index].info.Symbol, -1);
    return 1;
}

static int EachTest(int index, char *out, int size)
{
    ResultsWindow *results = FirstResultsWindow();
    TestRecord *t = results ? results->firstTest : nullptr;
    for (int i = 0; t && i < index; i++) t = t->next;
    if (!t) return 0;
    FormatText(out, size, "%.4d:%s", t->testNumber, t->settings.TestName);
    return 1;
}

static int EachStrategy(int index, char *out, int size)
{
    if (!gCurrentTest || index >= gCurrentTest->strategyCount) return 0;
    CopyString(out, size, gCurrentTest->strategies[index].name, -1);
    return 1;
}

static void DebugCommand(HWND panel, int id, int code)
{
    switch (id) {
    case IDC_DP_STRATEGY:
    case IDC_DP_SYMBOL:
    case IDC_DP_TEST:
        if (code == CBN_SELCHANGE) SyncComboText(GetDlgItem(panel, id));
        if (code == CBN_DROPDOWN) {
            if (id == IDC_DP_STRATEGY) {
                char text[200];
                ComboText(panel, IDC_DP_TEST, text, sizeof text);
                TestRecord *test = FindTestByText(text, 1);
                if (test) gCurrentTest = test;
                FillCombo(GetDlgItem(panel, id), EachStrategy);
            } else {
                FillCombo(GetDlgItem(panel, id), id == IDC_DP_SYMBOL ? EachSymbol : EachTest);
            }
        }
        break;
    case IDC_DP_EVALUATE: EvalDebugFormula(panel); break;
    case IDC_DP_DATA:
    case IDC_DP_CHART: ShowDataWindow(panel, id); break;
    case IDC_DP_STATS:
    case IDC_DP_GRAPH: ShowStatsWindow(panel, id); break;
    case IDC_DP_POSITIONS:
        LogOpenPositions();
        ShowDebugLog();
        break;
    case IDC_DP_SHOW_EVAL:
        if (code == BN_CLICKED) DialogToSettings(panel, IDD_DEBUG_PANEL, IDC_DP_SHOW_EVAL);
        break;
    default: break;
    }
}

INT_PTR CALLBACK DebugPanelDlgProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        static const int kStretch[] = {IDC_DP_FORMULA, 0};
        gFrame.debugPanel = panel;
        sDebug.layout = SaveDialogLayout(panel, kStretch);
        SendDlgItemMessageA(panel, IDC_DP_BARS_SPIN, UDM_SETRANGE32, 1, 9999);
        BindFormulaEditor(panel);
        FillDialogLists(panel, IDD_DEBUG_PANEL);
        SettingsToDialog(panel, IDD_DEBUG_PANEL, 0);
        sDebug.initialised = 1;
        UpdateDebugPanelControls();
        return TRUE;
    }
    case WM_SIZE: ResizeDialogLayout(sDebug.layout); return TRUE;
    case WM_CLOSE:
        ShowWindow(panel, SW_HIDE);
        gSettings.ShowDebugger = 0;
        LayoutFrame();
        return TRUE;
    case WM_DESTROY:
        DetachEditor(panel);
        FreeMemory(&sDebug.layout);
        if (sDebug.brush) DeleteObject(sDebug.brush);
        sDebug = DebugPanelState{};
        return FALSE;
    case WM_HELP:
        if (!IsWindowVisible(panel))
            PostMessageA(gFrame.frame, WM_COMMAND, IDM_HELP_TOPICS, 0);
        else
            ShowEditorHelp(panel);
        return TRUE;
    case WM_NOTIFY:
        if (((NMHDR *)lParam)->idFrom == IDC_DP_FORMULA) OnEditorNotify(panel, (SCNotification *)lParam);
        return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        if (!sDebug.brush) sDebug.brush = CreateSolidBrush(gSettings.DebugColor);
        if (message != WM_CTLCOLORDLG) SetBkColor((HDC)wParam, gSettings.DebugColor);
        return (INT_PTR)sDebug.brush;
    case WM_PANEL_COLOUR:
        if (sDebug.brush) DeleteObject(sDebug.brush);
        sDebug.brush = nullptr;
        InvalidateRect(panel, nullptr, TRUE);
        return TRUE;
    case WM_COMMAND:
        DebugCommand(panel, LOWORD(wParam), HIWORD(wParam));
        if (sDebug.initialised) UpdateDebugPanelControls();
        return FALSE;
    default: return FALSE;
    }
}
