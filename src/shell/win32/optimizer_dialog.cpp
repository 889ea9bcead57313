/* optimizer_dialog.cpp -- the Optimizer dialog: the parameters to optimize,
** the mode, the outer loops, the keeping of results and the walk-forward
** periods, with the test count recomputed on every change.  Each control
** stands for one Optimizer setting; the controls are read back into the
** settings on every command. */
#include "shell/win32/shell_win32.h"

#include <cstdio>
#include <cstring>

#include "engine/optimizer.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/strategy.h"

/* One check box per flag setting. */
struct OptimizerCheck {
    int controlId;
    int32_t *setting;
};

static const OptimizerCheck kOptimizerChecks[] = {
    {.controlId = IDC_OPT_BY_STRATEGY, .setting = &gSettings.OptByStrategy},
    {.controlId = IDC_OPT_BY_SYMBOL, .setting = &gSettings.OptBySymbol},
    {.controlId = IDC_OPT_CLEAR_RESULTS, .setting = &gSettings.OptClearResults},
    {.controlId = IDC_OPT_SORT_RESULTS, .setting = &gSettings.OptSortResults},
    {.controlId = IDC_OPT_KEEP_BY_DATE, .setting = &gSettings.OptKeepByDate},
    {.controlId = IDC_OPT_KEEP_BY_SYMBOL, .setting = &gSettings.OptKeepBySymbol},
    {.controlId = IDC_OPT_KEEP_NO_TRADES, .setting = &gSettings.OptKeepNoTrades},
    {.controlId = IDC_OPT_WALK_FORWARD, .setting = &gSettings.OptWalkForward},
    {.controlId = IDC_OPT_MULTI_SAVE, .setting = &gSettings.OptMultiSaveAs},
    {.controlId = IDC_OPT_SUMMARY_LOG, .setting = &gSettings.OptSummaryLog},
};

/* One number field per number setting; its range is the setting's row's. */
struct OptimizerNumber {
    int controlId, spinId;
    int32_t *setting;
};

static const OptimizerNumber kOptimizerNumbers[] = {
    {.controlId = IDC_OPT_MUTATE, .spinId = IDC_OPT_MUTATE_SPIN, .setting = &gSettings.OptMutatePct},
    {.controlId = IDC_OPT_ITERATIONS, .spinId = IDC_OPT_ITERATIONS_SPIN, .setting = &gSettings.OptIterations},
    {.controlId = IDC_OPT_KEEP_BEST, .spinId = IDC_OPT_KEEP_BEST_SPIN, .setting = &gSettings.OptKeepBest},
    {.controlId = IDC_OPT_LENGTH, .spinId = IDC_OPT_LENGTH_SPIN, .setting = &gSettings.OptTestLength},
    {.controlId = IDC_OPT_INTERVAL, .spinId = IDC_OPT_INTERVAL_SPIN, .setting = &gSettings.OptTestInterval},
};

/* The settings table's row of a number setting: its range. */
static const SettingEntry *RowOf(const int32_t *setting)
{
    for (const SettingEntry *row = gSettingTable; row->key; row++)
        if (row->data == setting) return row;
    return nullptr;
}

static int32_t Low(const OptimizerNumber &n) { return (int32_t)RowOf(n.setting)->low; }
static int32_t High(const OptimizerNumber &n) { return (int32_t)RowOf(n.setting)->high; }

/* The dialog's settings as it opened.  The controls move them on every change
** (the test counts follow them), so Cancel, or a number refused at OK, puts
** these back. */
static int32_t sOpenedSettings[SETTING_ROW_COUNT];

static int IsOptimizerRow(const SettingEntry *row)
{
    return row->dialogId == IDD_OPTIMIZER && row->data && row->type != ST_DOUBLE && row->type != ST_TEXT &&
        row->type != ST_EDITOR_TEXT && row->type != ST_COMBO_TEXT && row->type != ST_PATH && row->type != ST_HISTORY &&
        row->type != ST_INT_LIST;
}

static void KeepOpenedSettings()
{
    for (int k = 0; k < SETTING_ROW_COUNT; k++)
        if (IsOptimizerRow(&gSettingTable[k])) sOpenedSettings[k] = *(const int32_t *)gSettingTable[k].data;
}

static void PutBackOpenedSettings()
{
    for (int k = 0; k < SETTING_ROW_COUNT; k++)
        if (IsOptimizerRow(&gSettingTable[k])) *(int32_t *)gSettingTable[k].data = sOpenedSettings[k];
}

static const char *const kTimeUnitNames[] = {"None", "Days", "Weeks", "Months", "Years"};
static const char *const kAnchorNames[] = {"None", "Start", "End"};
static_assert(IDC_OPT_MODE_LAST - IDC_OPT_MODE_FIRST == OPT_DEFAULTS_ONLY, "one radio button per mode");
static_assert(sizeof kAnchorNames / sizeof kAnchorNames[0] == ANCHOR_END + 1, "one name per anchor");

/* Set while the rows are being filled, when their check boxes say nothing
** yet, and while the dialog is set up, when the controls are half filled. */
static int sFillingRows;
static int sSettingUp;

static Parameter *DialogParameters()
{
    return (Parameter *)gParameters.items;
}

/* The names and deselected flags of the last dialog, so that the user's
** choices survive a recompile (which resets the parameters' flags). */
struct PreviousChoice {
    char name[VALUE_NAME_SIZE];
    int32_t deselected;
};
struct PreviousChoices {
    PreviousChoice *rows; /* tracked */
    int32_t count;
};
static PreviousChoices sPrevious;

void ResetOptimizerDialogChoices()
{
    FreeMemory(&sPrevious.rows);
    sPrevious.count = 0;
}

static void RememberChoices()
{
    const Parameter *p = DialogParameters();
    if (gParameters.count > 0 && !ReallocMemory(&sPrevious.rows, (uint64_t)gParameters.count * sizeof(PreviousChoice))) return;
    for (int32_t k = 0; p && k < gParameters.count; k++) {
        CopyString(sPrevious.rows[k].name, VALUE_NAME_SIZE, p[k].name, -1);
        sPrevious.rows[k].deselected = p[k].deselected;
    }
    sPrevious.count = gParameters.count;
}

/* A parameter of the previous dialog keeps the choice made there; after a
** change of the script's parameters the compiler's preselection stands
** instead. */
static void RecallChoices()
{
    Parameter *p = DialogParameters();
    bool preselected = false;
    for (int32_t k = 0; p && k < gParameters.count; k++) preselected = preselected || p[k].preselected;
    ClearParameterPreselection();
    if (preselected) {
        for (int32_t k = 0; k < gParameters.count; k++) p[k].deselected = !p[k].preselected;
        return;
    }
    for (int32_t k = 0; p && k < gParameters.count; k++) {
        if (p[k].valueCount < 2) continue;
        for (int32_t i = 0; i < sPrevious.count; i++)
            if (strcmp(sPrevious.rows[i].name, p[k].name) == 0) p[k].deselected = sPrevious.rows[i].deselected;
    }
}

static void CheckBox(HWND dialog, int id, int on)
{
    CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

static int IsChecked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

/* The parameter rows with their check boxes (initialize), or the check boxes
** read back into the parameters' deselected flags. */
void FillOptimizerParamList(HWND dialog, int initialize)
{
    HWND list = GetDlgItem(dialog, IDC_OPT_PARAMS);
    Parameter *p = DialogParameters();
    if (!initialize) {
        for (int32_t k = 0; p && k < gParameters.count; k++)
            p[k].deselected = p[k].valueCount < 2 || !ListView_GetCheckState(list, k);
        return;
    }
    sFillingRows = 1;
    ListView_DeleteAllItems(list);
    for (int32_t k = 0; p && k < gParameters.count; k++) {
        const Parameter *row = &p[k];
        InsertListItem(list, k, row->name);
        char text[256];
        FormatText(text, sizeof text, "%d", (int)row->valueCount);
        SetItemText(list, k, 1, text);
        text[0] = 0;
        const double *v = row->values;
        if (row->valueCount >= 5) {
            FormatText(text, sizeof text, "%g, %g, ..., %g, %g", v[0], v[1], v[row->valueCount - 2], v[row->valueCount - 1]);
        } else {
            for (int32_t i = 0; i < row->valueCount; i++) {
                size_t length = strlen(text);
                FormatText(text + length, sizeof text - length, i ? ", %g" : "%g", v[i]);
            }
        }
        SetItemText(list, k, 2, text);
        ListView_SetCheckState(list, k, row->valueCount >= 2 && !row->deselected);
    }
    sFillingRows = 0;
}

/* Recomputes the counts from the settings and shows them. */
void ComputeOptimizerTestCounts(HWND dialog)
{
    int32_t count = ComputeOptimizerTestCounts();
    SetDlgItemInt(dialog, IDC_OPT_UNIT_COUNT, (UINT)gOptimizer.unitCount, FALSE);
    char text[32];
    FormatText(text, sizeof text, "%d", (int)count);
    SetDlgItemTextA(dialog, IDC_OPT_TEST_COUNT, text);
    EnableWindow(GetDlgItem(dialog, IDOK), count > 0);
}

/* Every control into its setting. */
static void ControlsToSettings(HWND dialog)
{
    for (int mode = OPT_COMBINATORIAL; mode <= OPT_DEFAULTS_ONLY; mode++)
        if (IsChecked(dialog, IDC_OPT_MODE_FIRST + mode)) gSettings.OptimizeMode = mode;
    for (const OptimizerCheck &c : kOptimizerChecks) *c.setting = IsChecked(dialog, c.controlId);
    for (const OptimizerNumber &n : kOptimizerNumbers) {
        BOOL ok = FALSE;
        int value = (int)GetDlgItemInt(dialog, n.controlId, &ok, TRUE);
        if (ok) *n.setting = ClampInt(value, Low(n), High(n));
    }
    LRESULT unit = SendDlgItemMessageA(dialog, IDC_OPT_TIME_UNIT, CB_GETCURSEL, 0, 0);
    if (unit >= 0) gSettings.OptTimeUnit = (int32_t)unit;
    LRESULT anchor = SendDlgItemMessageA(dialog, IDC_OPT_ANCHOR, CB_GETCURSEL, 0, 0);
    if (anchor >= 0) gSettings.OptAnchor = (int32_t)anchor;
    LRESULT score = SendDlgItemMessageA(dialog, IDC_OPT_SCORE_COL, CB_GETCURSEL, 0, 0);
    if (score >= 0) gSettings.OptScoreCol = (int32_t)score;
}

/* Every setting into its control. */
static void SettingsToControls(HWND dialog)
{
    CheckRadioButton(dialog, IDC_OPT_MODE_FIRST, IDC_OPT_MODE_LAST,
                     IDC_OPT_MODE_FIRST + ClampInt(gSettings.OptimizeMode, OPT_COMBINATORIAL, OPT_DEFAULTS_ONLY));
    for (const OptimizerCheck &c : kOptimizerChecks) CheckBox(dialog, c.controlId, *c.setting);
    for (const OptimizerNumber &n : kOptimizerNumbers) {
        SendDlgItemMessageA(dialog, n.spinId, UDM_SETRANGE32, (WPARAM)Low(n), (LPARAM)High(n));
        SetDlgItemInt(dialog, n.controlId, (UINT)*n.setting, TRUE);
    }
    SendDlgItemMessageA(dialog, IDC_OPT_TIME_UNIT, CB_SETCURSEL, (WPARAM)gSettings.OptTimeUnit, 0);
    SendDlgItemMessageA(dialog, IDC_OPT_ANCHOR, CB_SETCURSEL, (WPARAM)gSettings.OptAnchor, 0);
    SendDlgItemMessageA(dialog, IDC_OPT_SCORE_COL, CB_SETCURSEL, (WPARAM)gSettings.OptScoreCol, 0);
}

/* The enabled states that follow from the other choices; boxes that become
** disabled are cleared. */
static void EnableDependentControls(HWND dialog)
{
    int sorted = IsChecked(dialog, IDC_OPT_SORT_RESULTS);
    int unit = SendDlgItemMessageA(dialog, IDC_OPT_TIME_UNIT, CB_GETCURSEL, 0, 0) > 0;
    int bySymbol = IsChecked(dialog, IDC_OPT_BY_SYMBOL), byStrategy = IsChecked(dialog, IDC_OPT_BY_STRATEGY);
    const struct {
        int id, on, box;
    } rules[] = {
        {IDC_OPT_KEEP_BEST, sorted, 0},
        {IDC_OPT_KEEP_BY_DATE, sorted && unit, 1},
        {IDC_OPT_KEEP_BY_SYMBOL, sorted && bySymbol, 1},
    };
    for (const auto &r : rules) {
        EnableWindow(GetDlgItem(dialog, r.id), r.on);
        if (r.box && !r.on) CheckBox(dialog, r.id, 0);
    }
    int walk = IsChecked(dialog, IDC_OPT_KEEP_BY_DATE) && !bySymbol && !byStrategy;
    EnableWindow(GetDlgItem(dialog, IDC_OPT_WALK_FORWARD), walk);
    if (!walk) CheckBox(dialog, IDC_OPT_WALK_FORWARD, 0);
    EnableWindow(GetDlgItem(dialog, IDC_OPT_MUTATE), IsChecked(dialog, IDC_OPT_MODE_GENETIC));
}

/* 1 when every enabled number box holds a number its row's rule takes.  Else
** the first that does not is said in the rule's words, and the setting and
** its box go back to the value the dialog opened with. */
static int NumbersTaken(HWND dialog)
{
    for (const OptimizerNumber &n : kOptimizerNumbers) {
        HWND box = GetDlgItem(dialog, n.controlId);
        if (!IsWindowEnabled(box)) continue;
        const SettingEntry *row = RowOf(n.setting);
        char text[64] = "", why[256];
        GetWindowTitle(box, text, sizeof text);
        double number;
        if (CheckSettingText(row, text, &number, why, sizeof why)) continue;
        *n.setting = sOpenedSettings[row - gSettingTable];
        sSettingUp = 1;
        SetDlgItemInt(dialog, n.controlId, (UINT)*n.setting, TRUE);
        sSettingUp = 0;
        ReportError("%s", why);
        SetFocus(box);
        return 0;
    }
    return 1;
}

static void SetUpOptimizerDialog(HWND dialog)
{
    SetWindowTextA(dialog, "Kestovar Optimizer");
    if (gSettings.OptIterations < 1) gSettings.OptIterations = 1;
    if (gSettings.OptTestLength < 1) gSettings.OptTestLength = 1;
    if (gSettings.OptTestInterval == 0) gSettings.OptTestInterval = 1;
    for (const char *name : kTimeUnitNames) SendDlgItemMessageA(dialog, IDC_OPT_TIME_UNIT, CB_ADDSTRING, 0, (LPARAM)name);
    for (const char *name : kAnchorNames) SendDlgItemMessageA(dialog, IDC_OPT_ANCHOR, CB_ADDSTRING, 0, (LPARAM)name);
    /* The score column counts the Results columns the list shows, as the
    ** list and the script's OptScoreCol do. */
    const FormulaColumn *columns = (const FormulaColumn *)gResultsColumns.items;
    int32_t shown = 0;
    for (int32_t c = 0; columns && c < gResultsColumns.count; c++) {
        if (columns[c].format == 0) continue;
        SendDlgItemMessageA(dialog, IDC_OPT_SCORE_COL, CB_ADDSTRING, 0, (LPARAM)columns[c].heading);
        shown++;
    }
    if (gSettings.OptScoreCol < 0 || gSettings.OptScoreCol >= shown) gSettings.OptScoreCol = shown > 1 ? 1 : 0;
    HWND list = GetDlgItem(dialog, IDC_OPT_PARAMS);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    SetColumn(list, "Parameter", LVCFMT_LEFT, 0, 1);
    SetColumn(list, "Count", LVCFMT_RIGHT, 1, 1);
    SetColumn(list, "Values (first is default)", LVCFMT_LEFT, 2, 1);
    RecallChoices();
    FillOptimizerParamList(dialog, 1);
    AutoSizeColumns(list);
    SettingsToControls(dialog);
    EnableDependentControls(dialog);
    ComputeOptimizerTestCounts(dialog);
    if (gSettings.iOptimizeW > 0 && gSettings.iOptimizeH > 0) {
        RECT r;
        GetWindowRect(dialog, &r);
        int w = gSettings.iOptimizeW > r.right - r.left ? gSettings.iOptimizeW : r.right - r.left;
        int h = gSettings.iOptimizeH > r.bottom - r.top ? gSettings.iOptimizeH : r.bottom - r.top;
        SetWindowPos(dialog, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER);
    }
    if (gOptNoDialog) PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

INT_PTR CALLBACK OptimizerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        sSettingUp = 1;
        KeepOpenedSettings();
        SetUpOptimizerDialog(dialog);
        sSettingUp = 0;
        return TRUE;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id == IDCANCEL) {
            PutBackOpenedSettings();
            EndDialog(dialog, 0);
            return TRUE;
        }
        if (id == IDC_OPT_SELECT_ALL || id == IDC_OPT_CLEAR_ALL) {
            HWND list = GetDlgItem(dialog, IDC_OPT_PARAMS);
            for (int32_t k = 0; k < gParameters.count; k++) ListView_SetCheckState(list, k, id == IDC_OPT_SELECT_ALL);
        }
        if (sSettingUp) return TRUE;
        if (HIWORD(wParam) == EN_CHANGE || HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == CBN_SELCHANGE ||
            id == IDOK) {
            EnableDependentControls(dialog);
            ControlsToSettings(dialog);
            FillOptimizerParamList(dialog, 0);
            ComputeOptimizerTestCounts(dialog);
        }
        if (id == IDOK && !NumbersTaken(dialog)) {
            ComputeOptimizerTestCounts(dialog);
            return TRUE;
        }
        if (id == IDOK || id == IDC_OPT_SELECT_ALL || id == IDC_OPT_CLEAR_ALL) RememberChoices();
        if (id == IDOK) {
            RECT r;
            GetWindowRect(dialog, &r);
            gSettings.iOptimizeW = r.right - r.left;
            gSettings.iOptimizeH = r.bottom - r.top;
            EndDialog(dialog, 1);
        }
        return TRUE;
    }
    case WM_NOTIFY: {
        const NMHDR *header = (const NMHDR *)lParam;
        if (header->idFrom == IDC_OPT_PARAMS && header->code == LVN_ITEMCHANGED && !sFillingRows && !sSettingUp) {
            FillOptimizerParamList(dialog, 0);
            ComputeOptimizerTestCounts(dialog);
        }
        return FALSE;
    }
    default: return FALSE;
    }
}

int RunOptimizerDialog()
{
    INT_PTR result = DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_OPTIMIZER), gFrame.frame, OptimizerDlgProc, 0);
    return result == 1;
}
