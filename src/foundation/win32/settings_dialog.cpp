/* settings_dialog.cpp -- the generic exchange between settings rows and
** dialog controls. */
#include "foundation/win32/settings_dialog.h"

#include <commctrl.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "platform/platform.h"
#include "services/services.h"

/* The editor component's control keeps its text as bytes behind its own
** messages; any other control is a plain edit. */
enum { EDITOR_SET_TEXT = 2181 };

int IsEditorComponent(HWND window)
{
    char name[16];
    return window && GetClassNameA(window, name, sizeof name) && CompareNoCase(name, kEditorComponentClass) == 0;
}

static int Takes(const SettingEntry *row, uint32_t dialogId, uint32_t controlId)
{
    return row->dialogId == dialogId && row->controlId != 0 && (controlId == 0 || controlId == row->controlId);
}

static int IsClass(HWND window, const char *name)
{
    char cls[64] = "";
    GetClassNameA(window, cls, sizeof cls);
    return CompareNoCase(cls, name) == 0;
}

void FillHistoryList(HWND combo, const char *history)
{
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    const char *p = history;
    for (int shown = 0; *p && shown < HISTORY_SHOWN;) {
        const char *end = strchr(p, '\n');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len > 0) {
            std::string entry(p, len);
            WCHAR wide[SETTING_HISTORY_TEXT_SIZE];
            if (PlatWideFromText(entry.c_str(), wide, SETTING_HISTORY_TEXT_SIZE))
                SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)wide);
            else
                SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)entry.c_str());
            shown++;
        }
        p += len + (end ? 1 : 0);
    }
}

/* Adds text to the row's history by the shell's rule (path rows also check
** the entries on disk and feed the recent-files list) and shows the list. */
static void UpdateRowHistory(HWND dialog, const SettingEntry *row, const char *text, int checkPaths)
{
    std::string keep = text; /* text may be the variable the rule rewrites */
    UpdateHistoryCombo(dialog, (int)row->controlId, checkPaths, keep.c_str(), row->extra.history);
    HWND combo = GetDlgItem(dialog, (int)row->controlId);
    FillHistoryList(combo, row->extra.history);
    SetWindowTitle(combo, keep.c_str());
}

/* A box's typed text into the row's variable in UTF-8, as every name the
** program takes; a text longer than the variable holds is cut to fit (the
** box's limit counts letters, the variable bytes), before a whole letter. */
static void ReadBoxText(HWND control, char *out, int size)
{
    if (size > 0) GetWindowTitle(control, out, (size_t)size);
}

/* A box's whole text in UTF-8, read in full (a path box holds fewer letters
** than a path takes bytes), so the row's rule judges what was typed, not a
** cut of it. */
static std::string ReadRowText(HWND control)
{
    std::vector<char> typed(4 * PATH_SIZE);
    GetWindowTitle(control, typed.data(), typed.size());
    return typed.data();
}

/* The control's number read as unsigned.  A minus sign reads as 0 on every
** system (some versions of the unsigned read would wrap it round instead). */
static uint32_t ReadUnsigned(HWND dialog, int id)
{
    char text[64] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    const char *p = text;
    while (*p == ' ' || *p == '\t') p++;
    if (*p == '-') return 0;
    BOOL ok = FALSE;
    return GetDlgItemInt(dialog, id, &ok, FALSE);
}

static void SetTextLimit(HWND control, int limit)
{
    SendMessageA(control, IsClass(control, "ComboBox") ? CB_LIMITTEXT : EM_LIMITTEXT, (WPARAM)limit, 0);
}

/* ---- variables to controls ------------------------------------------------------------- */

static void RadioToDialog(HWND dialog, const SettingEntry *row, int value)
{
    HWND focus = GetFocus();
    int hadFocus = 0;
    HWND checked = nullptr;
    int index = 0;
    for (HWND button = GetDlgItem(dialog, (int)row->controlId); IsRadioButton(button);
         button = GetWindow(button, GW_HWNDNEXT), index++) {
        if (button == focus) hadFocus = 1;
        SendMessageA(button, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
        if (index == value) checked = button;
    }
    if (hadFocus && checked) SetFocus(checked);
}

static void DoubleToDialog(HWND dialog, const SettingEntry *row, double value)
{
    char text[256];
    int decimals = (int)row->extra.n;
    if (decimals > 0)
        FormatText(text, sizeof text, "%.*f", decimals, value);
    else if (std::fabs(value) < 9.0e18 && value == (double)(long long)value)
        FormatText(text, sizeof text, "%lld", (long long)value);
    else
        FormatSettingDouble(text, sizeof text, value);
    /* Rewriting an unchanged text would move the user's caret. */
    char shown[256] = "";
    GetDlgItemTextA(dialog, (int)row->controlId, shown, sizeof shown);
    if (strcmp(shown, text) != 0) SetDlgItemTextA(dialog, (int)row->controlId, text);
}

static void TimeToDialog(HWND dialog, const SettingEntry *row, int hhmmss)
{
    SYSTEMTIME st = {};
    st.wYear = 2009;
    st.wMonth = 1;
    st.wDay = 2;
    st.wDayOfWeek = 5;
    st.wHour = (WORD)(hhmmss / 10000);
    st.wMinute = (WORD)(hhmmss / 100 % 100);
    st.wSecond = (WORD)(hhmmss % 100);
    SendDlgItemMessageA(dialog, (int)row->controlId, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&st);
}

static void RowToDialog(HWND dialog, const SettingEntry *row)
{
    int id = (int)row->controlId;
    HWND control = GetDlgItem(dialog, id);
    switch (row->type) {
    case ST_BOOL:
        CheckDlgButton(dialog, id, *(const int32_t *)row->data ? BST_CHECKED : BST_UNCHECKED);
        break;
    case ST_RADIO: RadioToDialog(dialog, row, *(const int32_t *)row->data); break;
    case ST_WORD:
    case ST_OPTVAR:
    case ST_RESCOL:
    case ST_GRAPHCOL:
    case ST_STRAT:
        SendMessageA(control, CB_SETCURSEL, (WPARAM)(INT_PTR)(*(const int32_t *)row->data), 0);
        break;
    case ST_INT: SetDlgItemInt(dialog, id, (UINT)(*(const int32_t *)row->data), TRUE); break;
    case ST_COLOR: SetDlgItemInt(dialog, id, *(const uint32_t *)row->data, FALSE); break;
    case ST_DOUBLE: DoubleToDialog(dialog, row, *(const double *)row->data); break;
    case ST_TEXT: SetWindowTitle(control, (const char *)row->data); break;
    case ST_EDITOR_TEXT: {
        /* The editor's text, caret at its end. */
        if (IsEditorComponent(control)) {
            SendMessageA(control, EDITOR_SET_TEXT, 0, (LPARAM)(const char *)row->data);
            SendMessageA(control, EDITOR_DOCUMENT_END, 0, 0);
            break;
        }
        SetWindowTitle(control, (const char *)row->data);
        int len = GetWindowTextLengthW(control);
        SendMessageA(control, EM_SETSEL, (WPARAM)len, (LPARAM)len);
        break;
    }
    case ST_DATE: SetDateControl(dialog, id, *(const int32_t *)row->data); break;
    case ST_TIME: TimeToDialog(dialog, row, *(const int32_t *)row->data); break;
    case ST_COMBO_TEXT: {
        LRESULT at = SendMessageW(control, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)WideFromText((const char *)row->data).c_str());
        SendMessageA(control, CB_SETCURSEL, at == CB_ERR ? 0 : (WPARAM)at, 0);
        break;
    }
    case ST_PATH: {
        const char *text = row->data ? (const char *)row->data : "";
        /* "(" marks a placeholder such as "(none)", never a file. */
        if (text[0] != '(')
            UpdateRowHistory(dialog, row, text, 1);
        else
            SetWindowTitle(control, text);
        break;
    }
    case ST_HISTORY: {
        std::string text = row->data ? (const char *)row->data : "";
        FillHistoryList(control, row->extra.history);
        SetWindowTitle(control, text.c_str());
        break;
    }
    default: break;
    }
}

/* ---- controls to variables ------------------------------------------------------------- */

static int RadioFromDialog(HWND dialog, const SettingEntry *row)
{
    int index = 0;
    for (HWND button = GetDlgItem(dialog, (int)row->controlId); IsRadioButton(button);
         button = GetWindow(button, GW_HWNDNEXT), index++)
        if (SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED) return index;
    return -1;
}

static void RowFromDialog(HWND dialog, const SettingEntry *row)
{
    int id = (int)row->controlId;
    HWND control = GetDlgItem(dialog, id);
    int size = row->extra.n > 0 && row->extra.n < 0x7FFFFFFF ? (int)row->extra.n : 1;
    switch (row->type) {
    case ST_BOOL: *(int32_t *)row->data = (int32_t)IsDlgButtonChecked(dialog, id); break;
    case ST_RADIO: *(int32_t *)row->data = RadioFromDialog(dialog, row); break;
    case ST_WORD:
    case ST_OPTVAR:
    case ST_RESCOL:
    case ST_GRAPHCOL:
    case ST_STRAT: {
        LRESULT at = SendMessageA(control, CB_GETCURSEL, 0, 0);
        *(int32_t *)row->data = at == CB_ERR ? -1 : (int32_t)at;
        break;
    }
    case ST_INT:
    case ST_DOUBLE: {
        /* Only a text its row's rule takes gets here (CheckRow). */
        double number = 0;
        char why[256];
        CheckSettingText(row, ReadRowText(control).c_str(), &number, why, sizeof why);
        if (row->type == ST_INT)
            *(int32_t *)row->data = (int32_t)number;
        else
            *(double *)row->data = number;
        break;
    }
    case ST_COLOR: *(uint32_t *)row->data = ReadUnsigned(dialog, id); break;
    case ST_EDITOR_TEXT:
        if (IsEditorComponent(control)) {
            ((char *)row->data)[0] = 0;
            SendMessageA(control, EDITOR_GET_TEXT, (WPARAM)(size - 1), (LPARAM)(char *)row->data);
            break;
        }
        ReadBoxText(control, (char *)row->data, size);
        break;
    case ST_TEXT: ReadBoxText(control, (char *)row->data, size); break;
    case ST_DATE: *(int32_t *)row->data = GetDateControl(dialog, id); break;
    case ST_TIME: {
        SYSTEMTIME st = {};
        SendMessageA(control, DTM_GETSYSTEMTIME, 0, (LPARAM)&st);
        *(int32_t *)row->data = st.wHour * 10000 + st.wMinute * 100 + st.wSecond;
        break;
    }
    case ST_COMBO_TEXT: {
        char *out = (char *)row->data;
        out[0] = 0;
        LRESULT at = SendMessageA(control, CB_GETCURSEL, 0, 0);
        LRESULT len = at == CB_ERR ? CB_ERR : SendMessageW(control, CB_GETLBTEXTLEN, (WPARAM)at, 0);
        if (len != CB_ERR) {
            std::wstring entry((size_t)len + 1, L'\0');
            SendMessageW(control, CB_GETLBTEXT, (WPARAM)at, (LPARAM)entry.data());
            TextFromWideCut(entry.c_str(), out, size);
        }
        break;
    }
    case ST_PATH: {
        if (!row->data) break;
        /* A path longer than a path holds was refused whole (CheckRow). */
        char *text = (char *)row->data;
        CopyString(text, PATH_SIZE, ReadRowText(control).c_str(), -1);
        if (text[0] != '(') UpdateRowHistory(dialog, row, text, 1);
        break;
    }
    case ST_HISTORY: {
        if (!row->data) break;
        char *text = (char *)row->data;
        ReadBoxText(control, text, SETTING_HISTORY_TEXT_SIZE);
        UpdateRowHistory(dialog, row, text, 0);
        break;
    }
    default: break;
    }
}

/* ---- lists, limits and pictures ---------------------------------------------------------- */

static void FillRowList(HWND dialog, const SettingEntry *row)
{
    HWND control = GetDlgItem(dialog, (int)row->controlId);
    switch (row->type) {
    case ST_WORD:
        SendMessageA(control, CB_RESETCONTENT, 0, 0);
        for (const char *const *word = row->extra.words; word && *word; word++)
            SendMessageA(control, CB_ADDSTRING, 0, (LPARAM)*word);
        break;
    case ST_RESCOL:
    case ST_GRAPHCOL:
    case ST_STRAT: {
        SendMessageA(control, CB_RESETCONTENT, 0, 0);
        char entry[256];
        /* Strategy and column names are the script's, in UTF-8. */
        for (int i = 0; gSettingListSource && gSettingListSource(row->type, i, entry, sizeof entry); i++)
            AddComboText(control, entry);
        break;
    }
    case ST_TEXT: SetTextLimit(control, (int)row->extra.n - 1); break;
    case ST_DATE: SendMessageA(control, DTM_SETFORMATA, 0, (LPARAM)gSettings.DateDisplayFormat); break;
    case ST_TIME: SendMessageA(control, DTM_SETFORMATA, 0, (LPARAM) "H:mm:ss"); break;
    case ST_PATH:
    case ST_HISTORY: {
        /* A path box takes more letters than a path holds, so that a longer
        ** one typed or pasted is refused when it is read, never cut. */
        SetTextLimit(control, row->type == ST_PATH ? PATH_SIZE - 1 : SETTING_HISTORY_TEXT_SIZE - 1);
        char text[PATH_SIZE * 3] = "";
        GetWindowTitle(control, text, sizeof text);
        FillHistoryList(control, row->extra.history);
        SetWindowTitle(control, text);
        break;
    }
    default: break;
    }
}

/* ---- the walks ------------------------------------------------------------------------------ */

void SettingsToDialogRows(const SettingEntry *table, HWND dialog, uint32_t dialogId, uint32_t controlId)
{
    SettingsExchangeActive = 1;
    for (const SettingEntry *row = table; row->key; row++)
        if (Takes(row, dialogId, controlId)) RowToDialog(dialog, row);
    SettingsExchangeActive = 0;
}

/* 1 when the row's box holds a value its rule takes.  Else the box shows the
** setting's value again (the value it keeps), the refusal is said in the
** rule's own words, the box takes the focus, and 0 is returned. */
static int CheckRow(HWND dialog, const SettingEntry *row)
{
    const bool folder = row->type == ST_TEXT && row->extra.n == PATH_SIZE;
    if (row->type != ST_INT && row->type != ST_DOUBLE && !(row->type == ST_PATH && row->data) && !folder) return 1;
    HWND control = GetDlgItem(dialog, (int)row->controlId);
    double number;
    char why[512];
    if (!control || CheckSettingText(row, ReadRowText(control).c_str(), &number, why, sizeof why)) return 1;
    /* The box shows the kept value before the message box takes the focus:
    ** a panel that reads the box as it loses the focus then finds a value
    ** it takes, and says nothing twice. */
    SettingsExchangeActive = 1;
    if (row->type == ST_INT || row->type == ST_DOUBLE)
        RowToDialog(dialog, row);
    else
        SetWindowTitle(control, (const char *)row->data);
    SettingsExchangeActive = 0;
    ReportError("%s", why);
    SetFocus(control);
    return 0;
}

int CheckDialogSettingsRows(const SettingEntry *table, HWND dialog, uint32_t dialogId, uint32_t controlId)
{
    for (const SettingEntry *row = table; row->key; row++)
        if (Takes(row, dialogId, controlId) && !CheckRow(dialog, row)) return 0;
    return 1;
}

int DialogToSettingsRows(const SettingEntry *table, HWND dialog, uint32_t dialogId, uint32_t controlId)
{
    /* Every box is checked before any is stored: a refused value leaves every
    ** setting as it was, so nothing of a refused OK outlives a Cancel. */
    if (!CheckDialogSettingsRows(table, dialog, dialogId, controlId)) return 0;
    for (const SettingEntry *row = table; row->key; row++)
        if (Takes(row, dialogId, controlId)) RowFromDialog(dialog, row);
    return 1;
}

void FillDialogListsRows(const SettingEntry *table, HWND dialog, uint32_t dialogId)
{
    for (const SettingEntry *row = table; row->key; row++)
        if (Takes(row, dialogId, 0)) FillRowList(dialog, row);
}

void SettingsToDialog(HWND dialog, uint32_t dialogId, uint32_t controlId)
{
    SettingsToDialogRows(gSettingTable, dialog, dialogId, controlId);
}

int DialogToSettings(HWND dialog, uint32_t dialogId, uint32_t controlId)
{
    return DialogToSettingsRows(gSettingTable, dialog, dialogId, controlId);
}

int CheckDialogSettings(HWND dialog, uint32_t dialogId)
{
    return CheckDialogSettingsRows(gSettingTable, dialog, dialogId, 0);
}

void FillDialogLists(HWND dialog, uint32_t dialogId)
{
    FillDialogListsRows(gSettingTable, dialog, dialogId);
}
