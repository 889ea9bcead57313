/* window_hooks.cpp -- what the data store asks of the windows: the file
** chooser, the frame's refresh and the settings panel's window. */
#include "shell/win32/shell_win32.h"

#include <commdlg.h>

#include <cstring>

#include "foundation/text_match.h"
#include "foundation/errors.h"
#include "foundation/win32/list_view.h"
#include "shell/frame_rules.h"
#include "services/services.h"

/* Appends text and its terminating NUL to a filter list. */
static int AddFilterPart(char *filter, int at, int size, const char *text)
{
    int n = (int)strlen(text);
    if (at + n + 2 > size) return at;
    memcpy(filter + at, text, (size_t)n + 1);
    filter[at + n + 1] = 0;
    return at + n + 1;
}

int BrowseForFile(char *path, char *folder, const char *title, const char *typeName, const char *extension, int save)
{
    char filter[512] = "";
    int at = 0;
    char text[128];
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetForegroundWindow();
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_PATHMUSTEXIST | OFN_EXPLORER | OFN_ENABLESIZING;
    ofn.lpfnHook = FileDialogHook;
    int32_t *filterIndex = nullptr;
    if (extension) {
        FormatText(text, sizeof text, "%s Files (*.%s)", typeName, extension);
        at = AddFilterPart(filter, at, sizeof filter, text);
        FormatText(text, sizeof text, "*.%s", extension);
        at = AddFilterPart(filter, at, sizeof filter, text);
        if (!save) {
            at = AddFilterPart(filter, at, sizeof filter, "All Files(*.*)");
            at = AddFilterPart(filter, at, sizeof filter, "*.*");
        }
        ofn.lpstrDefExt = nullptr;
    } else {
        static const char *const kTypes[6][2] = {{"Script Files (*.KVS)", "*.KVS"}, {"Data Files (*.KVD)", "*.KVD"}, {"Results Files (*.KVR)", "*.KVR"}, {"Log Files (*.TXT)", "*.TXT"}, {"CSV Files (*.CSV)", "*.CSV"}, {"All Files (*.*)", "*.*"}};
        for (const auto &t : kTypes) {
            at = AddFilterPart(filter, at, sizeof filter, t[0]);
            at = AddFilterPart(filter, at, sizeof filter, t[1]);
        }
        filterIndex = (int32_t *)typeName;
        ofn.nFilterIndex = filterIndex ? (DWORD)*filterIndex : 0;
    }
    ofn.lpstrFilter = filter;
    char initial[PATH_SIZE] = "";
    if (folder && !folder[0] && path[0]) {
        CopyString(folder, PATH_SIZE, path, -1);
        char *slash = strrchr(folder, '\\');
        if (slash)
            *slash = 0;
        else
            folder[0] = 0;
        CopyString(initial, sizeof initial, folder, -1);
        ofn.lpstrInitialDir = initial[0] ? initial : nullptr;
    }
    char chosen[PATH_SIZE];
    CopyString(chosen, sizeof chosen, path, -1);
    ofn.lpstrFile = chosen;
    ofn.nMaxFile = sizeof chosen;
    int ok;
    if (save) {
        ofn.Flags |= OFN_OVERWRITEPROMPT;
        ok = GetSaveFileNameA(&ofn);
        if (ok && extension && !AddDefaultExtension(chosen, ofn.nFileOffset, extension)) {
            ReportError("%s file path is too long -- maximum is 260 chars.", typeName);
            SetResultCode(RESULT_FILE_ERROR);
            ok = 0;
        }
    } else {
        ok = GetOpenFileNameA(&ofn);
    }
    if (filterIndex && ok) *filterIndex = (int32_t)ofn.nFilterIndex;
    if (ok) CopyString(path, PATH_SIZE, chosen, -1);
    return ok ? 1 : 0;
}

void PostFrameRefresh()
{
    if (gFrame.frame) PostMessageA(gFrame.frame, WM_FRAME_REFRESH, 0, 0);
}

void *GetSettingsPanel() { return gFrame.settingsPanel; }
