/* editor_options.cpp -- the script editor options dialog: the typing-aid
** switches, tab size, zoom and backups, and a preview that lists the styles
** in their own look, where clicks in three margins toggle bold and italic
** and choose a colour.  Cancel puts the style table back. */
#include "shell/win32/shell_win32.h"

#include <commdlg.h>

#include <Scintilla.h>

#include <cstring>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/settings_dialog.h"
#include "shell/win32/editor_host.h"

namespace {

enum { DEBUG_FORMULA_CONTROL = 1047,
       SHOWN_STYLES = 20, /* the style rows the dialog shows; the unknown-word style is not */
       MARKER_DOTS = 0,
       MARKER_ITALIC_OFF = 1,
       MARKER_ITALIC_ON = 2,
       MARKER_BOLD_OFF = 3,
       MARKER_BOLD_ON = 4 };

struct OptionsDialogState {
    EditorStyleRecord saved[EDITOR_STYLE_RECORDS]; /* restored on Cancel */
    COLORREF background, caret;
    COLORREF customColours[16];
};
OptionsDialogState sOptions;

int StyleOfRow(int row) { return gEditorStyleTable[row].styleIndex; }

/* The preview's markers follow the bold and italic flags of each row. */
void MarkPreviewRows(HWND dialog)
{
    EditorSend(dialog, SCI_MARKERDELETEALL, (uintptr_t)-1);
    for (int row = 0; row < SHOWN_STYLES; row++) {
        const EditorStyleRecord &style = gEditorStyles[StyleOfRow(row)];
        EditorSend(dialog, SCI_MARKERADD, (uintptr_t)row, style.bold ? MARKER_BOLD_ON : MARKER_BOLD_OFF);
        EditorSend(dialog, SCI_MARKERADD, (uintptr_t)row, style.italic ? MARKER_ITALIC_ON : MARKER_ITALIC_OFF);
        EditorSend(dialog, SCI_MARKERADD, (uintptr_t)row, MARKER_DOTS);
    }
}

/* Three click-sensitive margins as wide as "Bold": bold, italic, colour. */
void SetPreviewMargins(HWND dialog)
{
    EditorSend(dialog, SCI_SETHSCROLLBAR, 0);
    int width = (int)EditorSend(dialog, SCI_TEXTWIDTH, EDITOR_STYLE_DEFAULT, (intptr_t) "Bold");
    for (int margin = 0; margin < 3; margin++) {
        EditorSend(dialog, SCI_SETMARGINTYPEN, (uintptr_t)margin, SC_MARGIN_SYMBOL);
        EditorSend(dialog, SCI_SETMARGINWIDTHN, (uintptr_t)margin, width);
        EditorSend(dialog, SCI_SETMARGINSENSITIVEN, (uintptr_t)margin, 1);
    }
    EditorSend(dialog, SCI_SETMARGINMASKN, 0, (1 << MARKER_BOLD_OFF) | (1 << MARKER_BOLD_ON));
    EditorSend(dialog, SCI_SETMARGINMASKN, 1, (1 << MARKER_ITALIC_OFF) | (1 << MARKER_ITALIC_ON));
    EditorSend(dialog, SCI_SETMARGINMASKN, 2, 1 << MARKER_DOTS);
    EditorSend(dialog, SCI_MARKERDEFINE, MARKER_DOTS, SC_MARK_DOTDOTDOT);
    EditorSend(dialog, SCI_MARKERDEFINE, MARKER_ITALIC_OFF, SC_MARK_PLUS);
    EditorSend(dialog, SCI_MARKERDEFINE, MARKER_ITALIC_ON, SC_MARK_MINUS);
    EditorSend(dialog, SCI_MARKERDEFINE, MARKER_BOLD_OFF, SC_MARK_PLUS);
    EditorSend(dialog, SCI_MARKERDEFINE, MARKER_BOLD_ON, SC_MARK_MINUS);
}

void RestylePreview(HWND dialog)
{
    ApplyEditorSettings(dialog);
    SetPreviewMargins(dialog);
    EditorSend(dialog, SCI_STYLESETBACK, EDITOR_STYLE_DEFAULT, (intptr_t)sOptions.background);
    for (int i = 0; i < EDITOR_STYLE_COUNT; i++) EditorSend(dialog, SCI_STYLESETBACK, (uintptr_t)i, (intptr_t)sOptions.background);
    EditorSend(dialog, SCI_SETCARETFORE, (uintptr_t)sOptions.caret);
    EditorSend(dialog, SCI_SETSELBACK, 1, (intptr_t)sOptions.background);
    EditorSend(dialog, SCI_SETREADONLY, 0);
    EditorSend(dialog, SCI_STARTSTYLING, 0, 0);
    for (int row = 0; row < SHOWN_STYLES; row++) {
        intptr_t length = EditorSend(dialog, SCI_LINELENGTH, (uintptr_t)row);
        EditorSend(dialog, SCI_SETSTYLING, (uintptr_t)length, StyleOfRow(row));
    }
    EditorSend(dialog, SCI_SETREADONLY, 1);
    MarkPreviewRows(dialog);
}

void SetUpPreview(HWND dialog)
{
    if (!AttachEditor(dialog, IDC_SO_PREVIEW, &gScriptEditorSettings)) return;
    for (int row = 0; row < SHOWN_STYLES; row++) {
        EditorSend(dialog, SCI_APPENDTEXT, strlen(gEditorStyleTable[row].description),
                   (intptr_t)gEditorStyleTable[row].description);
        if (row + 1 < SHOWN_STYLES) EditorSend(dialog, SCI_APPENDTEXT, 2, (intptr_t) "\r\n");
    }
    RestylePreview(dialog);
}

int PickColour(HWND owner, COLORREF *colour)
{
    CHOOSECOLORA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = owner;
    choose.rgbResult = *colour;
    choose.lpCustColors = sOptions.customColours;
    choose.Flags = CC_FULLOPEN | CC_SOLIDCOLOR | CC_RGBINIT;
    if (!ChooseColorA(&choose)) return 0;
    *colour = choose.rgbResult;
    return 1;
}

void EnableDependentControls(HWND dialog)
{
    EnableWindow(GetDlgItem(dialog, IDC_SO_AUTOCDESC), IsDlgButtonChecked(dialog, IDC_SO_AUTOCOMP) == BST_CHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_SO_TAB), IsDlgButtonChecked(dialog, IDC_SO_DYNAMIC_TABS) != BST_CHECKED);
}

} // namespace

int ChooseEditorFont(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || !record->settings) return 0;
    HDC dc = GetDC(host);
    int pixelsPerInch = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(host, dc);
    LOGFONTA font = {};
    EditorSend(host, SCI_STYLEGETFONT, EDITOR_STYLE_DEFAULT, (intptr_t)font.lfFaceName);
    font.lfWeight = EditorSend(host, SCI_STYLEGETBOLD, EDITOR_STYLE_DEFAULT) ? FW_BOLD : FW_NORMAL;
    font.lfHeight = -(LONG)(EditorSend(host, SCI_STYLEGETSIZE, EDITOR_STYLE_DEFAULT) * pixelsPerInch / 72);
    CHOOSEFONTA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = host;
    choose.lpLogFont = &font;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_FORCEFONTEXIST | CF_NOSCRIPTSEL;
    if (!ChooseFontA(&choose)) return 0;
    EditorSettings *s = record->settings;
    CopyString(s->fontName, sizeof s->fontName, font.lfFaceName, -1);
    s->fontHeight = (int32_t)(-font.lfHeight * 72 / pixelsPerInch);
    if (s == &gScriptEditorSettings) {
        CopyString(gSettings.ScriptFont, sizeof gSettings.ScriptFont, s->fontName, -1);
        gSettings.ScriptFontHeight = s->fontHeight;
    }
    ApplyEditorFont(host);
    return 1;
}

INT_PTR CALLBACK EditorSettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_SO_TAB_SPIN, UDM_SETRANGE32, 1, 99);
        SendDlgItemMessageA(dialog, IDC_SO_ZOOM_SPIN, UDM_SETRANGE32, (WPARAM)-10, 20);
        SettingsToDialog(dialog, IDD_SCRIPT_OPTIONS, 0);
        memcpy(sOptions.saved, gEditorStyles, sizeof sOptions.saved);
        sOptions.background = gSettings.ScriptBackground;
        sOptions.caret = gSettings.ScriptCaret;
        for (int i = 0; i < 16; i++)
            if (!sOptions.customColours[i]) sOptions.customColours[i] = gEditorStyles[i].colour;
        LoadEditorSettings();
        SetUpPreview(dialog);
        EnableDependentControls(dialog);
        return TRUE;
    case WM_NOTIFY: {
        const SCNotification *n = (const SCNotification *)lParam;
        if (n->nmhdr.idFrom != IDC_SO_PREVIEW || n->nmhdr.code != SCN_MARGINCLICK) break;
        int row = (int)EditorSend(dialog, SCI_LINEFROMPOSITION, (uintptr_t)n->position);
        if (row < 0 || row >= SHOWN_STYLES) break;
        EditorStyleRecord &style = gEditorStyles[StyleOfRow(row)];
        if (n->margin == 0)
            style.bold = !style.bold;
        else if (n->margin == 1)
            style.italic = !style.italic;
        else if (n->margin == 2) {
            COLORREF colour = style.colour;
            if (PickColour(dialog, &colour)) style.colour = colour;
        }
        RestylePreview(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SO_AUTOCOMP:
        case IDC_SO_DYNAMIC_TABS: EnableDependentControls(dialog); return TRUE;
        case IDC_SO_BACKGROUND:
            if (PickColour(dialog, &sOptions.background)) RestylePreview(dialog);
            return TRUE;
        case IDC_SO_CARET:
            if (PickColour(dialog, &sOptions.caret)) RestylePreview(dialog);
            return TRUE;
        case IDC_SO_FONT:
            if (ChooseEditorFont(dialog)) RestylePreview(dialog);
            return TRUE;
        case IDOK:
            if (!DialogToSettings(dialog, IDD_SCRIPT_OPTIONS, 0)) return TRUE;
            gSettings.ScriptBackground = sOptions.background;
            gSettings.ScriptCaret = sOptions.caret;
            DetachEditor(dialog);
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            memcpy(gEditorStyles, sOptions.saved, sizeof sOptions.saved);
            DetachEditor(dialog);
            EndDialog(dialog, 0);
            return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

void RunEditorOptions(HWND owner)
{
    if (DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_SCRIPT_OPTIONS), owner, EditorSettingsDlgProc, 0) != 1)
        return;
    LoadEditorSettings();
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarScript")) ApplyEditorSettings(child);
    /* The debug panel's formula editor, bound through AttachEditor, takes the
    ** new look too. */
    HWND panel = gFrame.debugPanel;
    HWND formula = panel ? GetDlgItem(panel, DEBUG_FORMULA_CONTROL) : nullptr;
    if (IsEditorComponent(formula) && GetEditorRecord(panel)) {
        DetachEditor(panel);
        if (AttachEditor(panel, DEBUG_FORMULA_CONTROL, &gScriptEditorSettings)) ApplyEditorSettings(panel);
    }
}
