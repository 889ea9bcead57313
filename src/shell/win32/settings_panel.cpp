/* settings_panel.cpp -- the settings panel across the top of the frame: its
** controls over the Settings section, the date range and bar count, the
** history lists, the enabled states while a run goes on, and the panel
** routines the core calls through the shell services. */
#include "shell/win32/shell_win32.h"

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/settings_dialog.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/symbols.h"
#include "shell/panel_rules.h"
#include "platform/platform.h"
#include "services/services.h"
#include "shell/win32/script_window.h"

/* The panel's own state. */
struct SettingsPanelState {
    int initialised;
    int guard;      /* set while the program writes the bar count or the dates */
    int firstFixed; /* the first-date picker stays put when the bar count changes */
    HBRUSH brush;   /* SettingsColor, made on first use */
    DialogLayout *layout;
};
static SettingsPanelState sPanel;

/* Which rule enables each control. */
struct PanelControl {
    int id;
    int group; /* PanelGroup */
};
/* clang-format off */
static const PanelControl kPanelControls[] = {
    {.id = IDC_SP_EARLIEST,      .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_LATEST,        .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_FIRST_DATE,    .group = PANEL_GROUP_FIRST_DATE},
    {.id = IDC_SP_LAST_DATE,     .group = PANEL_GROUP_LAST_DATE},
    {.id = IDC_SP_BAR_COUNT,     .group = PANEL_GROUP_BAR_COUNT},
    {.id = IDC_SP_BAR_SPIN,      .group = PANEL_GROUP_BAR_COUNT},
    {.id = IDC_SP_BAR_SIZE,      .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_TEST_NAME,     .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_ACCOUNT,       .group = PANEL_GROUP_IDLE},
    {.id = IDC_PANEL_DATA_FILE,  .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_DATA_SELECT,   .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_SCRIPT,        .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_SCRIPT_SELECT, .group = PANEL_GROUP_IDLE},
    {.id = IDC_EDIT_SCRIPT,      .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_KEEP_TRADES,   .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_KEEP_BENCH,    .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_KEEP_SKIPPED,  .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_ADD_REPORT,    .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_ADD_GRAPH,     .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_ADD_LOG,       .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_ADD_TRADES,    .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_ADD_SCAN,      .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_ADD_DEBUG,     .group = PANEL_GROUP_IDLE},
    {.id = IDC_SP_LOAD,          .group = PANEL_GROUP_LOAD},
};
/* clang-format on */

static HWND Panel() { return gFrame.settingsPanel; }

/* ---- reading and showing -------------------------------------------------------------- */

/* Shows the setting of a date picker, under the guard. */
static void ShowDate(int id)
{
    HWND panel = Panel();
    if (!panel) return;
    sPanel.guard++;
    SettingsToDialog(panel, IDD_SETTINGS_PANEL, (uint32_t)id);
    sPanel.guard--;
}

void SettingsPanelToSettings()
{
    if (Panel()) DialogToSettings(Panel(), IDD_SETTINGS_PANEL, 0);
}

void ShowDataFileInPanel()
{
    if (Panel()) SettingsToDialog(Panel(), IDD_SETTINGS_PANEL, IDC_PANEL_DATA_FILE);
}

void ShowActiveScriptInPanel()
{
    if (Panel()) SettingsToDialog(Panel(), IDD_SETTINGS_PANEL, IDC_SP_SCRIPT);
}

void ShowKeepTradesInPanel()
{
    if (Panel()) SettingsToDialog(Panel(), IDD_SETTINGS_PANEL, IDC_SP_KEEP_TRADES);
}

void SetPanelDate(int panelDate, int32_t date)
{
    if (panelDate == PANEL_DEBUG_DATE) {
        ShowDebugPanelDate();
        return;
    }
    if (panelDate == PANEL_FIRST_DATE) {
        gSettings.FirstDate = date;
        ShowDate(IDC_SP_FIRST_DATE);
    } else {
        gSettings.LastDate = date;
        ShowDate(IDC_SP_LAST_DATE);
    }
}

int IsDataFileNameChanged()
{
    if (!gStore.loadedPath[0]) return 1;
    char name[PATH_SIZE] = "";
    if (Panel())
        GetItemText(Panel(), IDC_PANEL_DATA_FILE, name, sizeof name);
    else
        CopyString(name, sizeof name, gSettings.DataFile, -1);
    return DataFileNameDiffers(name);
}

/* Clamps the settings' dates to the bar size's list and shows the bar count. */
static void ShowBarCount(HWND panel)
{
    int32_t first = gSettings.FirstDate, last = gSettings.LastDate;
    int count = ClampPanelRange(gSettings.BarSize2, &first, &last);
    sPanel.guard++;
    if (first != gSettings.FirstDate) SetPanelDate(PANEL_FIRST_DATE, first);
    if (last != gSettings.LastDate) SetPanelDate(PANEL_LAST_DATE, last);
    SetDlgItemInt(panel, IDC_SP_BAR_COUNT, (UINT)count, TRUE);
    sPanel.guard--;
}

void UpdateBarCount(HWND panel)
{
    if (!panel) return;
    DialogToSettings(panel, IDD_SETTINGS_PANEL, IDC_SP_BAR_SIZE);
    DialogToSettings(panel, IDD_SETTINGS_PANEL, IDC_SP_FIRST_DATE);
    DialogToSettings(panel, IDD_SETTINGS_PANEL, IDC_SP_LAST_DATE);
    ShowBarCount(panel);
}

/* The run and the data loading ask for the count of the range they have just
** set: the settings are what holds (a script's bar size among them), so the
** panel shows them rather than being read. */
void UpdatePanelBarCount()
{
    HWND panel = Panel();
    if (!panel) return;
    sPanel.guard++;
    SettingsToDialog(panel, IDD_SETTINGS_PANEL, IDC_SP_BAR_SIZE);
    sPanel.guard--;
    ShowBarCount(panel);
}

void SyncComboText(HWND combo)
{
    int selected = (int)SendMessageW(combo, CB_GETCURSEL, 0, 0);
    WCHAR text[PATH_SIZE] = L"";
    if (selected >= 0) {
        if (SendMessageW(combo, CB_GETLBTEXTLEN, (WPARAM)selected, 0) < (LRESULT)(sizeof text / sizeof text[0]))
            SendMessageW(combo, CB_GETLBTEXT, (WPARAM)selected, (LPARAM)text);
        SetWindowTextW(combo, text);
        return;
    }
    GetWindowTextW(combo, text, (int)(sizeof text / sizeof text[0]));
    int found = (int)SendMessageW(combo, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
    if (found >= 0) SendMessageW(combo, CB_SETCURSEL, (WPARAM)found, 0);
}

/* ---- enabled states ---------------------------------------------------------------------- */

void EnableSettingsPanelControls(int forceRunning)
{
    HWND panel = Panel();
    int state = forceRunning ? RUN_TESTING : gRun.state.load();
    if (panel) {
        int earliest = IsDlgButtonChecked(panel, IDC_SP_EARLIEST) == BST_CHECKED;
        int latest = IsDlgButtonChecked(panel, IDC_SP_LATEST) == BST_CHECKED;
        int changed = IsDataFileNameChanged();
        for (const PanelControl &c : kPanelControls) {
            HWND control = GetDlgItem(panel, c.id);
            if (control) EnableWindow(control, IsPanelGroupEnabled(c.group, state, earliest, latest, changed));
        }
    }
    /* The frame's Data and Run commands follow the same state as the panel. */
    if (state == RUN_IDLE) PostFrameRefresh();
}

void SetTestRunning(int state)
{
    sPanel.guard++;
    const int ended = state == RUN_IDLE && gRun.state.load() != RUN_IDLE;
    ShowRunState(state); /* stores the state both panels read */
    HWND panel = Panel();
    if (ended && panel) {
        /* The run has put back the settings its script changed and kept what
        ** carries over (the data file, the bar size): the panel shows them,
        ** so the next run, which reads the panel, starts from them. */
        SettingsToDialog(panel, IDD_SETTINGS_PANEL, 0);
        ShowBarCount(panel);
    }
    EnableSettingsPanelControls(0);
    UpdateDebugPanelControls();
    /* The frame's menu and toolbar (Stop and the run buttons) follow through
    ** one posted refresh, which the run's own message pumping delivers: at
    ** the start of a run it is posted here, at its end the settings panel
    ** above has posted it. */
    if (state != RUN_IDLE) PostFrameRefresh();
    sPanel.guard--;
}

/* ---- commands ------------------------------------------------------------------------------ */

static void ShowRange()
{
    ShowDate(IDC_SP_FIRST_DATE);
    ShowDate(IDC_SP_LAST_DATE);
}

static void BarCountEdited(HWND panel)
{
    BOOL ok = FALSE;
    int n = (int)GetDlgItemInt(panel, IDC_SP_BAR_COUNT, &ok, TRUE);
    if (!ok || n <= 0) return;
    gSettings.NumBars = n;
    DialogToSettings(panel, IDD_SETTINGS_PANEL, IDC_SP_FIRST_DATE);
    DialogToSettings(panel, IDD_SETTINGS_PANEL, IDC_SP_LAST_DATE);
    if (RangeFromBarCount(gSettings.BarSize2, n, sPanel.firstFixed, &gSettings.FirstDate, &gSettings.LastDate))
        ShowRange();
}

static void EarliestOrLatest(HWND panel, int earliest)
{
    DialogToSettings(panel, IDD_SETTINGS_PANEL, earliest ? IDC_SP_EARLIEST : IDC_SP_LATEST);
    int set = earliest ? gSettings.UseEarliestDate : gSettings.UseLatestDate;
    const DateList *list = PanelDateList(gSettings.BarSize2);
    if (set) {
        DialogToSettings(panel, IDD_SETTINGS_PANEL, earliest ? IDC_SP_LAST_DATE : IDC_SP_FIRST_DATE);
        if (list->count > 0) {
            if (earliest)
                gSettings.FirstDate = (int32_t)list->dates[0];
            else
                gSettings.LastDate = (int32_t)list->dates[list->count - 1];
        }
        sPanel.firstFixed = earliest;
        SetTestDateRange(list, nullptr, nullptr);
        ShowRange();
        UpdateBarCount(panel);
    } else if (earliest ? gSettings.UseLatestDate : gSettings.UseEarliestDate) {
        sPanel.firstFixed = earliest ? 0 : 1;
    }
}

static void ActiveScriptChosen(HWND panel)
{
    HWND combo = GetDlgItem(panel, IDC_SP_SCRIPT);
    char typed[sizeof gSettings.ActiveScript];
    if (GetWindowTitle(combo, typed, sizeof typed)) CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, typed, -1);
    UpdateScriptTitles();
}

static void OpenActiveScript()
{
    if (gSettings.ActiveScript[0] && PlatFileExists(gSettings.ActiveScript))
        OpenScript(gSettings.ActiveScript, nullptr);
}

static void PanelCommand(HWND panel, int id, int code)
{
    switch (id) {
    case IDC_SP_BAR_COUNT:
        if (code == EN_CHANGE) BarCountEdited(panel);
        break;
    case IDC_PANEL_DATA_FILE:
        if (code == CBN_SELCHANGE) SyncComboText(GetDlgItem(panel, id));
        if (code == CBN_DROPDOWN) UpdateHistoryCombo(panel, id, 1, nullptr, gSettings.DataFileMRU);
        break;
    case IDC_SP_SCRIPT:
        if (code == CBN_DROPDOWN) UpdateHistoryCombo(panel, id, 1, nullptr, gSettings.ActiveScriptMRU);
        if (code == CBN_SELCHANGE) SyncComboText(GetDlgItem(panel, id));
        if (code == CBN_SELCHANGE || code == CBN_EDITCHANGE) ActiveScriptChosen(panel);
        break;
    case IDC_SP_BAR_SIZE:
        if (code == CBN_SELCHANGE) {
            gSettings.NumBars = 0;
            DialogToSettings(panel, IDD_SETTINGS_PANEL, IDC_SP_BAR_SIZE);
            SetTestDateRange(PanelDateList(gSettings.BarSize2), nullptr, nullptr);
            ShowRange();
            UpdateBarCount(panel);
        }
        break;
    case IDC_SP_EARLIEST: EarliestOrLatest(panel, 1); break;
    case IDC_SP_LATEST: EarliestOrLatest(panel, 0); break;
    case IDC_EDIT_SCRIPT:
        ActiveScriptChosen(panel);
        OpenActiveScript();
        break;
    case IDC_SP_LOAD: PostMessageA(gFrame.frame, WM_COMMAND, IDM_LOAD_DATA, 0); break;
    case IDC_SP_DATA_SELECT: PostMessageA(gFrame.frame, WM_COMMAND, IDM_SELECT_DATA, 0); break;
    case IDC_SP_SCRIPT_SELECT: {
        ActiveScriptChosen(panel);
        char path[PATH_SIZE];
        CopyString(path, sizeof path, gSettings.ActiveScript, -1);
        if (BrowseForFile(path, nullptr, "Select Script File", "Script", "KVS", 0)) {
            CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, path, -1);
            UpdateHistoryCombo(panel, IDC_SP_SCRIPT, 1, path, gSettings.ActiveScriptMRU);
            SetItemText(panel, IDC_SP_SCRIPT, path);
            OpenActiveScript();
        }
        break;
    }
    case IDC_SP_TEST_NAME:
    case IDC_SP_ACCOUNT:
        if (code == EN_KILLFOCUS) DialogToSettings(panel, IDD_SETTINGS_PANEL, (uint32_t)id);
        break;
    default:
        /* The Keep and Test Output check boxes move their setting at once. */
        if (code == BN_CLICKED) DialogToSettings(panel, IDD_SETTINGS_PANEL, (uint32_t)id);
        break;
    }
}

static void DateChanged(HWND panel, int id)
{
    DialogToSettings(panel, IDD_SETTINGS_PANEL, (uint32_t)id);
    if (!gSettings.UseEarliestDate && !gSettings.UseLatestDate) sPanel.firstFixed = id == IDC_SP_FIRST_DATE;
    gSettings.NumBars = 0;
    UpdateBarCount(panel);
}

/* ---- layout at the frame's width ------------------------------------------- */

enum { PANEL_MAX_CONTROLS = 64 };

/* The panel's controls as its resource placed them, with their glue: a
** field moves with the label before it, a spin with its buddy. */
static int32_t PanelBoxes(PanelBox *boxes)
{
    int32_t n = 0;
    char before[32] = ""; /* the class of the control before */
    for (const DialogLayout *e = sPanel.layout ? sPanel.layout + 1 : nullptr; e && e->window && n < PANEL_MAX_CONTROLS;
         e++, n++) {
        char name[32] = "";
        GetClassNameA(e->window, name, sizeof name);
        boxes[n] = {e->left, e->top, e->width, e->height,
                    CompareNoCase(before, "Static") == 0 || CompareNoCase(name, UPDOWN_CLASSA) == 0 ? 1 : 0};
        CopyString(before, sizeof before, name, -1);
    }
    return n;
}

static int32_t PlacePanelBoxes(int width, PanelBox *placed)
{
    PanelBox boxes[PANEL_MAX_CONTROLS];
    int32_t n = PanelBoxes(boxes);
    if (n < 1) return 0;
    /* The right margin mirrors the left one of the first control. */
    return WrapPanelRows(boxes, n, width, sPanel.layout[0].height, boxes[0].left, placed);
}

int SettingsPanelHeight(int width)
{
    PanelBox placed[PANEL_MAX_CONTROLS];
    int32_t height = PlacePanelBoxes(width, placed);
    if (height > 0) return height;
    RECT r = {};
    if (gFrame.settingsPanel) GetWindowRect(gFrame.settingsPanel, &r);
    return r.bottom - r.top;
}

static void LayOutSettingsPanel(HWND panel)
{
    PanelBox placed[PANEL_MAX_CONTROLS];
    RECT client;
    GetClientRect(panel, &client);
    if (PlacePanelBoxes(client.right, placed) < 1) return;
    int32_t k = 0;
    for (const DialogLayout *e = sPanel.layout + 1; e->window && k < PANEL_MAX_CONTROLS; e++, k++) {
        RECT r;
        GetWindowRect(e->window, &r);
        MapWindowPoints(nullptr, panel, (POINT *)&r, 2);
        if (r.left == placed[k].left && r.top == placed[k].top) continue;
        SetWindowPos(e->window, nullptr, placed[k].left, placed[k].top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(panel, nullptr, TRUE);
}

INT_PTR CALLBACK SettingsPanelDlgProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        /* The panel's rows keep their places; a wider frame only shows more of its colour. */
        static const int kStretch[] = {0};
        gFrame.settingsPanel = panel;
        sPanel.layout = SaveDialogLayout(panel, kStretch);
        SendDlgItemMessageA(panel, IDC_SP_BAR_SPIN, UDM_SETRANGE32, 1, 2147483647);
        sPanel.firstFixed = gSettings.UseEarliestDate ? 1 : 0;
        sPanel.guard++;
        FillDialogLists(panel, IDD_SETTINGS_PANEL);
        FillHistoryCombo(panel, IDC_PANEL_DATA_FILE, gSettings.DataFileMRU);
        FillHistoryCombo(panel, IDC_SP_SCRIPT, gSettings.ActiveScriptMRU);
        SettingsToDialog(panel, IDD_SETTINGS_PANEL, 0);
        sPanel.guard--;
        EnableSettingsPanelControls(0);
        sPanel.initialised = 1;
        return TRUE;
    }
    case WM_SIZE: LayOutSettingsPanel(panel); return TRUE;
    case WM_CLOSE:
        ShowWindow(panel, SW_HIDE);
        gSettings.ShowSettings = 0;
        LayoutFrame();
        return TRUE;
    case WM_DESTROY:
        FreeMemory(&sPanel.layout);
        if (sPanel.brush) DeleteObject(sPanel.brush);
        sPanel = SettingsPanelState{};
        return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        if (!sPanel.brush) sPanel.brush = CreateSolidBrush(gSettings.SettingsColor);
        if (message != WM_CTLCOLORDLG) SetBkColor((HDC)wParam, gSettings.SettingsColor);
        return (INT_PTR)sPanel.brush;
    case WM_PANEL_COLOUR:
        if (sPanel.brush) DeleteObject(sPanel.brush);
        sPanel.brush = nullptr;
        InvalidateRect(panel, nullptr, TRUE);
        return TRUE;
    case WM_NOTIFY: {
        NMHDR *header = (NMHDR *)lParam;
        if (header->code == DTN_DATETIMECHANGE && !sPanel.guard && !SettingsExchangeActive &&
            (header->idFrom == IDC_SP_FIRST_DATE || header->idFrom == IDC_SP_LAST_DATE))
            DateChanged(panel, (int)header->idFrom);
        return FALSE;
    }
    case WM_COMMAND:
        /* Values the program itself shows cause no rules to run. */
        if (sPanel.guard || SettingsExchangeActive) return FALSE;
        PanelCommand(panel, LOWORD(wParam), HIWORD(wParam));
        if (sPanel.initialised) EnableSettingsPanelControls(0);
        return FALSE;
    default: return FALSE;
    }
}
