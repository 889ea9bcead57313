/* window_hooks.cpp -- what the data store asks of the windows: the file
** chooser, the frame's refresh and the settings panel's window. */
#include "shell/win32/shell_win32.h"

#include <commdlg.h>

#include <cstring>
#include <cwchar>

#include "foundation/text_match.h"
#include "foundation/errors.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "shell/frame_rules.h"
#include "services/services.h"

/* Appends text and its terminating NUL to a filter list of size letters. */
static int AddFilterPart(WCHAR *filter, int at, int size, const char *text)
{
    WCHAR wide[128];
    if (!PlatWideFromText(text, wide, (int)(sizeof wide / sizeof wide[0]))) return at;
    const int n = (int)wcslen(wide);
    if (at + n + 2 > size) return at;
    memcpy(filter + at, wide, ((size_t)n + 1) * sizeof(WCHAR));
    filter[at + n + 1] = 0;
    return at + n + 1;
}

/* The file chooser in the system's wide letters, so that folders and names
** outside ASCII show and come back as the UTF-8 names they are. */
int BrowseForFile(char *path, char *folder, const char *title, const char *typeName, const char *extension, int save)
{
    WCHAR filter[512] = L"";
    const int room = (int)(sizeof filter / sizeof filter[0]);
    int at = 0;
    char text[128];
    WCHAR wideTitle[256];
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetForegroundWindow();
    ofn.lpstrTitle = title && PlatWideFromText(title, wideTitle, 256) ? wideTitle : nullptr;
    ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_PATHMUSTEXIST | OFN_EXPLORER | OFN_ENABLESIZING;
    ofn.lpfnHook = FileDialogHook;
    int32_t *filterIndex = nullptr;
    if (extension) {
        FormatText(text, sizeof text, "%s Files (*.%s)", typeName, extension);
        at = AddFilterPart(filter, at, room, text);
        FormatText(text, sizeof text, "*.%s", extension);
        at = AddFilterPart(filter, at, room, text);
        if (!save) {
            at = AddFilterPart(filter, at, room, "All Files(*.*)");
            at = AddFilterPart(filter, at, room, "*.*");
        }
        ofn.lpstrDefExt = nullptr;
    } else {
        static const char *const kTypes[6][2] = {{"Script Files (*.KVS)", "*.KVS"}, {"Data Files (*.KVD)", "*.KVD"}, {"Results Files (*.KVR)", "*.KVR"}, {"Log Files (*.TXT)", "*.TXT"}, {"CSV Files (*.CSV)", "*.CSV"}, {"All Files (*.*)", "*.*"}};
        for (const auto &t : kTypes) {
            at = AddFilterPart(filter, at, room, t[0]);
            at = AddFilterPart(filter, at, room, t[1]);
        }
        filterIndex = (int32_t *)typeName;
        ofn.nFilterIndex = filterIndex ? (DWORD)*filterIndex : 0;
    }
    ofn.lpstrFilter = filter;
    WCHAR initial[PATH_SIZE] = L"";
    if (folder && !folder[0] && path[0]) {
        CopyString(folder, PATH_SIZE, path, -1);
        char *slash = strrchr(folder, '\\');
        if (slash)
            *slash = 0;
        else
            folder[0] = 0;
        if (folder[0] && PlatWideFromText(folder, initial, PATH_SIZE)) ofn.lpstrInitialDir = initial;
    }
    WCHAR chosen[PATH_SIZE] = L""; /* room for a path's letters beyond the system's plane */
    PlatWideFromText(path, chosen, PATH_SIZE);
    ofn.lpstrFile = chosen;
    ofn.nMaxFile = PATH_SIZE;
    int ok = save ? (ofn.Flags |= OFN_OVERWRITEPROMPT, GetSaveFileNameW(&ofn)) : GetOpenFileNameW(&ofn);
    char name[PATH_SIZE];
    if (ok && (!TextFromWide(chosen, name, sizeof name) || PathTooLong(name))) {
        ReportError("%s file path is too long -- maximum is 260 chars.", extension ? typeName : "The");
        SetResultCode(RESULT_FILE_ERROR);
        ok = 0;
    }
    if (ok && save && extension) {
        const char *slash = strrchr(name, '\\');
        if (!AddDefaultExtension(name, slash ? (int)(slash - name + 1) : 0, extension)) {
            ReportError("%s file path is too long -- maximum is 260 chars.", typeName);
            SetResultCode(RESULT_FILE_ERROR);
            ok = 0;
        }
    }
    if (filterIndex && ok) *filterIndex = (int32_t)ofn.nFilterIndex;
    if (ok) CopyString(path, PATH_SIZE, name, -1);
    return ok ? 1 : 0;
}

void PostFrameRefresh()
{
    if (gFrame.frame) PostMessageA(gFrame.frame, WM_FRAME_REFRESH, 0, 0);
}

void *GetSettingsPanel() { return gFrame.settingsPanel; }
