/* option_dialogs.cpp -- the Program Options and Report Options dialogs over
** the Options and Reports settings. */
#include "shell/win32/shell_win32.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cmath>
#include <cstring>

#include "foundation/dates.h"
#include "foundation/folder_helpers.h"
#include "foundation/win32/window_text.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/settings_dialog.h"
#include "platform/platform.h"
#include "services/services.h"
#include "views/test_report.h"

/* The chooser's 16 custom colours, kept for the program's run. */
static COLORREF sCustomColours[16];

/* ---- Program Options ------------------------------------------------------------------------ */

struct FolderButton {
    int button, edit;
    const char *title;
};
/* clang-format off */
static const FolderButton kFolderButtons[] = {
    {.button = IDC_PO_SCRIPT_SELECT, .edit = IDC_PO_SCRIPT_PATH, .title = "Select Default Script File Path"},
    {.button = IDC_PO_DATA_SELECT,   .edit = IDC_PO_DATA_PATH,   .title = "Select Default Data File Path"},
    {.button = IDC_PO_OUTPUT_SELECT, .edit = IDC_PO_OUTPUT_PATH, .title = "Select Default Output File Path"},
};
/* clang-format on */

static void ShowDateExample(HWND dialog)
{
    char picture[32], date[DATE_TEXT_SIZE], text[64];
    /* The picture may quote letters outside ASCII: read and shown wide. */
    GetItemText(dialog, IDC_PO_DATE_FORMAT, picture, sizeof picture);
    FormatDate(20240831, picture, date);
    FormatText(text, sizeof text, "Example: %s", date);
    SetItemText(dialog, IDC_PO_DATE_EXAMPLE, text);
}

static void ChoosePanelColour(HWND dialog, uint32_t *setting, HWND panel)
{
    CHOOSECOLORA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = dialog;
    choose.rgbResult = *setting;
    choose.lpCustColors = sCustomColours;
    choose.Flags = CC_FULLOPEN | CC_SOLIDCOLOR | CC_RGBINIT;
    if (!ChooseColorA(&choose)) return;
    *setting = choose.rgbResult;
    if (panel) SendMessageA(panel, WM_PANEL_COLOUR, 0, 0);
}

/* The three folders typed and the output subfolders must exist after OK;
** the first that cannot be made keeps the dialog open with its edit focused.
** The folders are made from the boxes, before any setting is stored, so a
** refused OK changes no setting. */
static int FoldersCreatable(HWND dialog)
{
    struct {
        char path[PATH_SIZE];
        int edit;
    } folders[] = {{"", IDC_PO_SCRIPT_PATH}, {"", IDC_PO_DATA_PATH}, {"", IDC_PO_OUTPUT_PATH}};
    for (auto &f : folders) {
        GetItemText(dialog, f.edit, f.path, sizeof f.path);
        if (!CreateFolder(f.path)) {
            SetFocus(GetDlgItem(dialog, f.edit));
            return 0;
        }
    }
    char saved[PATH_SIZE];
    CopyString(saved, sizeof saved, gOutputFolder, -1);
    CopyString(gOutputFolder, sizeof gOutputFolder, folders[2].path, -1);
    size_t n = strlen(gOutputFolder);
    while (n > 0 && gOutputFolder[n - 1] == '\\') gOutputFolder[--n] = 0;
    if (!CreateOutputFolders()) {
        CopyString(gOutputFolder, sizeof gOutputFolder, saved, -1);
        SetFocus(GetDlgItem(dialog, IDC_PO_OUTPUT_PATH));
        return 0;
    }
    CopyString(gScriptsFolder, sizeof gScriptsFolder, folders[0].path, -1);
    CopyString(gDataFolder, sizeof gDataFolder, folders[1].path, -1);
    return 1;
}

static void ApplyDateFormat()
{
    HWND pickers[3] = {gFrame.settingsPanel ? GetDlgItem(gFrame.settingsPanel, IDC_SP_FIRST_DATE) : nullptr,
                       gFrame.settingsPanel ? GetDlgItem(gFrame.settingsPanel, IDC_SP_LAST_DATE) : nullptr,
                       gFrame.debugPanel ? GetDlgItem(gFrame.debugPanel, IDC_DP_DATE) : nullptr};
    for (HWND picker : pickers)
        if (picker) SendMessageA(picker, DTM_SETFORMATA, 0, (LPARAM)gSettings.DateDisplayFormat);
}

static void ConfirmProgramOptions(HWND dialog)
{
    int updatesBefore = gSettings.CheckForUpdates;
    /* Everything is checked before anything is stored: a refused OK leaves
    ** the settings as they were, and a Cancel after it stores nothing. */
    if (!CheckDialogSettings(dialog, IDD_PROGRAM_OPTIONS) || !FoldersCreatable(dialog)) return;
    DialogToSettings(dialog, IDD_PROGRAM_OPTIONS, 0);
    ApplyDateFormat();
    if (gFrame.settingsPath[0] && !gRun.unattended) SaveSettings(gFrame.settingsPath);
    EndDialog(dialog, IDOK);
    if (gFrame.settingsPanel) InvalidateRect(gFrame.settingsPanel, nullptr, TRUE);
    LayoutFrame();
    if (gSettings.CheckForUpdates && !updatesBefore) StartVersionCheck();
}

INT_PTR CALLBACK ProgramOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        int processors = PlatProcessorCount();
        SendDlgItemMessageA(dialog, IDC_PO_MEMORY_SPIN, UDM_SETRANGE32, 10, 200);
        SendDlgItemMessageA(dialog, IDC_PO_THREADS_SPIN, UDM_SETRANGE32, 1, processors < 32 ? processors : 32);
        SendDlgItemMessageA(dialog, IDC_PO_DATE_FORMAT, EM_SETLIMITTEXT, 31, 0);
        FillDialogLists(dialog, IDD_PROGRAM_OPTIONS);
        SettingsToDialog(dialog, IDD_PROGRAM_OPTIONS, 0);
        char text[64];
        FormatText(text, sizeof text, "%d core%s available", processors, processors < 2 ? "" : "s");
        SetDlgItemTextA(dialog, IDC_PO_CORES, text);
        double tenths = std::ceil((double)PlatPhysicalMemory() / 1073741824.0 * 10.0);
        FormatText(text, sizeof text, "%g GB installed", tenths / 10.0);
        SetDlgItemTextA(dialog, IDC_PO_MEMORY_TEXT, text);
        ShowDateExample(dialog);
        CenterWindow(dialog);
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        for (const FolderButton &f : kFolderButtons) {
            if (id != f.button) continue;
            char path[PATH_SIZE];
            GetItemText(dialog, f.edit, path, sizeof path);
            if (BrowseForFolder(path, f.title, 0, dialog)) SetItemText(dialog, f.edit, path);
            return TRUE;
        }
        if (id == IDC_PO_DATE_FORMAT) {
            ShowDateExample(dialog);
            return TRUE;
        }
        if (id == IDC_PO_SETTINGS_COLOUR) ChoosePanelColour(dialog, &gSettings.SettingsColor, gFrame.settingsPanel);
        if (id == IDC_PO_DEBUG_COLOUR) ChoosePanelColour(dialog, &gSettings.DebugColor, gFrame.debugPanel);
        if (id == IDOK) ConfirmProgramOptions(dialog);
        if (id == IDCANCEL) EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    default: return FALSE;
    }
}

/* ---- Report Options ---------------------------------------------------------------------------- */

INT_PTR CALLBACK ReportOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SettingsToDialog(dialog, IDD_REPORT_OPTIONS, 0);
        CenterWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (DialogToSettings(dialog, IDD_REPORT_OPTIONS, 0)) EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        case IDC_RO_REFRESH_INDEX: WriteReportsIndex(1); return TRUE;
        case IDC_RO_OPEN_FOLDER: ShowFolderInBrowser(dialog, gReportsFolder); return TRUE;
        default: return FALSE;
        }
    default: return FALSE;
    }
}
