/* shell_standins_win32.cpp -- windows and commands of parts of the program
** that are not built yet, so the frame can open, dispatch and close them.
** Each is tagged STANDIN and names what replaces it. */
#include "shell/win32/shell_win32.h"

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "shell/frame_rules.h"
#include "engine/optimizer.h"
#include "shell/services.h"
#include "shell/win32/editor_host.h"
#include "shell/win32/script_window.h"

/* ====== replaced by the results, chart, graph, plot, trade list, scan and
** ====== compare windows, each with its own procedure and command handler ====== */

/* STANDIN: an MDI child of any unbuilt kind, showing its text read-only. */
LRESULT CALLBACK StandInChildWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        CREATESTRUCTA *create = (CREATESTRUCTA *)lParam;
        MDICREATESTRUCTA *mdi = (MDICREATESTRUCTA *)create->lpCreateParams;
        const char *text = mdi ? (const char *)mdi->lParam : nullptr;
        HWND editor = CreateWindowExA(0, "EDIT", text ? text : "",
                                      WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                          ES_AUTOHSCROLL,
                                      0, 0, 0, 0, window, (HMENU)(INT_PTR)1, gFrame.instance, nullptr);
        if (editor) SendMessageA(editor, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
        break;
    }
    case WM_SIZE:
        TrackChildMaximized(window, wParam);
        SizeChildToClient(window, TRUE);
        break;
    case WM_MDIACTIVATE: OnMdiChildActivate(window, (HWND)wParam, (HWND)lParam); break;
    case WM_DESTROY:
        RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        break;
    default: break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}

/* STANDIN: the command handlers of the unbuilt window kinds and the frame
** commands that open their dialogs; the status bar says what was asked. */
int StandInKindCommand(HWND child, int commandId)
{
    /* Keys the accelerator table only keeps from the editor. */
    if (commandId == IDM_SWALLOWED_KEY) return 1;
    char text[128];
    if (!LoadStringA(gFrame.instance, (UINT)commandId, text, sizeof text)) FormatText(text, sizeof text, "%d", commandId);
    SetStatusText(0, "%s: not available yet", text);
    return 1;
}

/* ====== replaced by the settings panel and the debug panel ====== */

/* STANDIN: the panels' dialog procedure; the Edit button opens the active script. */
INT_PTR CALLBACK StandInPanelDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_EDIT_SCRIPT) {
        if (gSettings.ActiveScript[0] && GetFileAttributesA(gSettings.ActiveScript) != INVALID_FILE_ATTRIBUTES)
            OpenScript(gSettings.ActiveScript, nullptr);
        return TRUE;
    }
    return FALSE;
}

/* ====== replaced by Suggest Choices and the Find and Replace dialogs of editor windows ====== */

/* STANDIN: no choices are offered yet. */
void SuggestChoicesInEditor(HWND host, int forced) {}
/* STANDIN: the dialogs are not there yet. */
void FindReplaceInEditor(HWND host, int open, int replace) {}

/* ====== replaced by the results, graph, trade list and chart windows ====== */

/* STANDIN: no such windows to refresh yet. */
void RefreshAllResGraphs() {}
void RefreshAllGraphs() {}
void RefreshAllCharts() {}

/* ====== replaced by the Optimizer dialog ====== */

/* STANDIN: the optimization runs with the settings as they are. */
int RunOptimizerDialog() { return 1; }
