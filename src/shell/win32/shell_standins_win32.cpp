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


