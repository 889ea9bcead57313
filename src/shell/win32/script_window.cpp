/* script_window.cpp -- see script_window.h.  A window's modified flag follows
** its editor's save point (editor_host.cpp); its path and test live in the
** editor record. */
#include "shell/win32/shell_win32.h"

#include <Scintilla.h>

#include <cstring>
#include <string>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"
#include "shell/win32/editor_host.h"
#include "shell/win32/script_window.h"

static const char kScriptClass[] = "KestovarScript";
static const char kUntitled[] = "(untitled)";

enum { IDM_SCRIPT_F2 = 40129 };

/* The folder last used for script files; where the save dialog starts. */
static char sScriptFolder[PATH_SIZE];

/* ---- finding ------------------------------------------------------------------------------ */

HWND FindScriptWindow(const char *path, int activate, TestRecord *test)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, kScriptClass)) {
        EditorRecord *record = GetEditorRecord(child);
        if (!record) continue;
        int match = test ? record->test == test : path && path[0] && ComparePaths(record->path, path) == 0;
        if (!match) continue;
        if (activate) {
            if (IsIconic(child)) ShowWindow(child, SW_RESTORE);
            SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)child, 0);
        }
        return child;
    }
    return nullptr;
}

/* The services of the core: script windows by path, the untitled active one,
** saving and the compiler's per-window name record. */
void *FindScriptWindow(const char *path) { return FindScriptWindow(path, 0, nullptr); }

void *OpenScriptWindow(const char *path)
{
    /* Only a script with a file has a window to find again. */
    if (!path || !path[0] || CompareNoCase(path, kUntitled) == 0 || !OpenScript(path, nullptr)) return nullptr;
    return FindScriptWindow(path, 1, nullptr);
}

void *GetEmptyActiveScriptWindow()
{
    HWND child = gFrame.activeChild;
    if (!child || FindWindowKind(child) != WK_SCRIPT) return nullptr;
    EditorRecord *record = GetEditorRecord(child);
    return record && !record->path[0] && !record->test ? child : nullptr;
}

CompilerState *ScriptWindowState(void *window)
{
    EditorRecord *record = GetEditorRecord((HWND)window);
    return record ? record->names : nullptr;
}

/* ---- titles ----------------------------------------------------------------------------------- */

void SetScriptTitle(HWND window)
{
    EditorRecord *record = GetEditorRecord(window);
    if (!record || !record->settings) return;
    const char *suffix = record->modified ? "*" : record->readOnly ? " (read-only)" : "";
    const char *name = record->settings->name;
    char title[300];
    if (record->test)
        FormatText(title, sizeof title, "Test %d Script (read-only)", record->test->testNumber);
    else if (record->path[0] && gRunningScript[0] && ComparePaths(record->path, gRunningScript) == 0)
        FormatText(title, sizeof title, "Running Script - %s%s", record->path, suffix);
    else if (record->path[0] && !gRunningScript[0] && ComparePaths(record->path, gSettings.ActiveScript) == 0)
        FormatText(title, sizeof title, "Active Script - %s%s", record->path, suffix);
    else if (record->path[0])
        FormatText(title, sizeof title, "%s - %s%s", name, record->path, suffix);
    else if (!gRunningScript[0] && window == gFrame.activeChild && CompareNoCase(name, "Script") == 0)
        FormatText(title, sizeof title, "Active Script - (untitled)%s", suffix);
    else
        FormatText(title, sizeof title, "%s - (untitled)%s", name, suffix);
    SetWindowTitle(window, title);
    UpdateWindowTab(window);
}

void MarkTitleModified(HWND window, int modified)
{
    char title[1024];
    GetWindowTitle(window, title, sizeof title - 1);
    size_t n = strlen(title);
    int marked = n > 0 && title[n - 1] == '*';
    if (modified && !marked) {
        if (n < sizeof title - 1) {
            title[n] = '*';
            title[n + 1] = 0;
        }
    } else if (!modified && marked) {
        title[n - 1] = 0;
    } else {
        return;
    }
    SetWindowTitle(window, title);
    UpdateWindowTab(window);
}

void UpdateScriptTitles()
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, kScriptClass)) SetScriptTitle(child);
    PostMessageA(gFrame.frame, WM_FRAME_REFRESH, 0, 0);
}

void SetActiveScript(const char *name)
{
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, name && name[0] ? name : kUntitled, -1);
    ShowActiveScriptInPanel();
    UpdateScriptTitles();
}

/* ---- loading and writing --------------------------------------------------------------------------- */

int LoadScriptText(HWND window, const char *path)
{
    EditorRecord *record = GetEditorRecord(window);
    if (!record) return 0;
    char *text = nullptr;
    uint32_t size = 0;
    if (!LoadFile(path, &text, &size)) return 0;
    CopyString(record->path, sizeof record->path, path, -1);
    SetEditorText(window, text ? text : "", (int32_t)size);
    FreeMemory(&text);
    /* The text comes without its byte order mark; whether it had one is
    ** read from the file. */
    record->byteOrderMark = 0;
    if (PlatFile mark = PlatOpenFile(path, PLAT_OPEN_READ)) {
        unsigned char first[3] = {};
        uint32_t read = 0;
        record->byteOrderMark = PlatReadFile(mark, first, 3, &read) && read == 3 && first[0] == 0xEF &&
                                first[1] == 0xBB && first[2] == 0xBF;
        PlatCloseFile(mark);
    }
    PlatFile file = PlatOpenFile(path, PLAT_OPEN_READ_WRITE);
    if (file) {
        PlatCloseFile(file);
    } else {
        record->readOnly = 1;
        EditorSend(window, SCI_SETREADONLY, 1);
    }
    return 1;
}

int WriteScriptText(HWND window, const char *path)
{
    EditorRecord *record = GetEditorRecord(window);
    if (!record) return 0;
    CopyString(record->path, sizeof record->path, path, -1);
    UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
    int32_t length = 0;
    const char *text = EditorDocumentText(window, &length);
    if (!text) return 0;
    int ok;
    if (record->byteOrderMark) {
        std::string marked = "\xEF\xBB\xBF" + std::string(text, (size_t)length);
        ok = SaveFile(path, marked.data(), (uint32_t)marked.size());
    } else {
        ok = SaveFile(path, text, (uint32_t)length);
    }
    if (ok) EditorSend(window, SCI_SETSAVEPOINT);
    return ok;
}

int SaveScript(void *handle, int saveAs)
{
    HWND window = (HWND)handle;
    EditorRecord *record = GetEditorRecord(window);
    if (!record) return 0;
    char path[PATH_SIZE];
    CopyString(path, sizeof path, record->path[0] ? record->path : "test.kvs", -1);
    int untitled = !record->path[0];
    if (!untitled && !saveAs && !record->modified) return 1;
    if (untitled || saveAs) {
        if (!sScriptFolder[0]) CopyString(sScriptFolder, sizeof sScriptFolder, gScriptsFolder, -1);
        if (!BrowseForFile(path, sScriptFolder, "Save Script File", "Script", "KVS", 1)) return 0;
    }
    BackupFile(path);
    if (!WriteScriptText(window, path)) return 0;
    UpdateHistoryList(gSettings.ActiveScriptMRU, path, 0);
    if (record->readOnly || record->test) {
        record->readOnly = 0;
        record->test = nullptr;
        EditorSend(window, SCI_SETREADONLY, 0);
    }
    if (untitled || saveAs)
        SetActiveScript(path);
    else
        SetScriptTitle(window);
    return 1;
}

int QuerySaveScript(HWND window, int ask)
{
    return QuerySaveEditor(window, ask, "(untitled script file)", [](HWND w, int saveAs) { return SaveScript(w, saveAs); });
}

int QuerySaveScripts(int ask)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, kScriptClass))
        if (!QuerySaveScript(child, ask)) return 0;
    return 1;
}

/* ---- opening ---------------------------------------------------------------------------------------- */

/* The newscript template: in the scripts folder, else in the program folder. */
static int FindNewScriptTemplate(char *path)
{
    const char *folders[] = {gScriptsFolder, gProgramFolder};
    for (const char *folder : folders) {
        FormatText(path, PATH_SIZE, "%s\\newscript.kvs", folder);
        if (PlatFileExists(path)) return 1;
    }
    return 0;
}

TestRecord *ScriptWindowTest(HWND window)
{
    const EditorRecord *record = GetEditorRecord(window);
    return record ? record->test : nullptr;
}

int OpenScript(const char *path, TestRecord *test)
{
    if (path && CompareNoCase(path, kUntitled) == 0) path = nullptr;
    if ((path && path[0]) || test) {
        HWND existing = FindScriptWindow(path, 1, test);
        if (existing) {
            if (!test) SetActiveScript(path);
            return 1;
        }
        if (path && !test && !PlatFileExists(path)) {
            ReportError("Unable to access %s", path);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
    }
    LoadEditorSettings();
    EditorSettings *s = &gScriptEditorSettings;
    HWND window = CreateMdiChild(kScriptClass, "", 0, s->x, s->y, s->width, s->height, nullptr);
    s->x = s->y = CW_USEDEFAULT;
    if (!window) return 0;
    EditorRecord *record = GetEditorRecord(window);
    if (!record) {
        DestroyWindow(window);
        return 0;
    }
    if (test) {
        record->test = test;
        record->readOnly = 1;
        const char *text = test->settings.scriptText ? test->settings.scriptText : "";
        SetEditorText(window, text, (int32_t)strlen(text));
        EditorSend(window, SCI_SETREADONLY, 1);
    } else if (path && path[0]) {
        if (!LoadScriptText(window, path)) {
            SendMessageA(gFrame.mdiClient, WM_MDIDESTROY, (WPARAM)window, 0);
            return 0;
        }
        UpdateHistoryList(gSettings.ActiveScriptMRU, path, 0);
    } else {
        char templatePath[PATH_SIZE];
        if (FindNewScriptTemplate(templatePath) && LoadScriptText(window, templatePath)) {
            record->path[0] = 0;
            record->readOnly = 0;
            EditorSend(window, SCI_SETREADONLY, 0);
        }
    }
    record->opened = 1;
    ShowWindow(window, SW_SHOW);
    /* A test's own script is only shown: runs keep the script they had. */
    if (test)
        SetScriptTitle(window);
    else
        SetActiveScript(path);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
    return 1;
}

void ShowScriptSpan(const char *path, int32_t offset, int32_t length)
{
    if (offset < 0) return;
    HWND window = (HWND)OpenScriptWindow(path);
    if (!window) return;
    intptr_t end = offset + (length > 0 ? length : 0);
    intptr_t size = EditorSend(window, SCI_GETLENGTH);
    if (end > size) end = size;
    if (offset > end) offset = (int32_t)end;
    EditorSend(window, SCI_ENSUREVISIBLEENFORCEPOLICY, (uintptr_t)EditorSend(window, SCI_LINEFROMPOSITION, (uintptr_t)end));
    EditorSend(window, SCI_SETSEL, (uintptr_t)offset, end);
    EditorSend(window, SCI_SCROLLCARET);
    EditorRecord *record = GetEditorRecord(window);
    if (record && record->editor) SetFocus(record->editor);
}

/* ---- the file named under the caret ------------------------------------------------------------------- */

int GetFileAtCaret(HWND window, char *outPath)
{
    EditorRecord *record = GetEditorRecord(window);
    if (!record) return 0;
    intptr_t caret = EditorSend(window, SCI_GETCURRENTPOS);
    if (caret < 2) return 0;
    /* One byte more than a path holds: a longer name is seen as too long,
    ** never cut to the name of another file. */
    char name[PATH_SIZE + 1];
    intptr_t selStart = EditorSend(window, SCI_GETSELECTIONSTART), selEnd = EditorSend(window, SCI_GETSELECTIONEND);
    if (selEnd > selStart) {
        if (selEnd - selStart > PATH_SIZE) selEnd = selStart + PATH_SIZE;
        Sci_TextRangeFull range = {{selStart, selEnd}, name};
        EditorSend(window, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
    } else {
        intptr_t line = EditorSend(window, SCI_LINEFROMPOSITION, (uintptr_t)caret);
        intptr_t lineStart = EditorSend(window, SCI_POSITIONFROMLINE, (uintptr_t)line);
        intptr_t lineEnd = EditorSend(window, SCI_GETLINEENDPOSITION, (uintptr_t)line);
        intptr_t start = -1;
        for (intptr_t p = caret - 1; p >= lineStart; p--) {
            if (EditorSend(window, SCI_GETCHARAT, (uintptr_t)p) != ':') continue;
            start = EditorSend(window, SCI_GETCHARAT, (uintptr_t)p + 1) == '\\' && p > lineStart ? p - 1 : p + 1;
            break;
        }
        if (start < 0) start = lineStart > 1 ? lineStart : 1;
        while (start < lineEnd && (EditorSend(window, SCI_GETCHARAT, (uintptr_t)start) == ' ' ||
                                   EditorSend(window, SCI_GETCHARAT, (uintptr_t)start) == '\t'))
            start++;
        intptr_t end = start;
        while (end < lineEnd && EditorSend(window, SCI_GETCHARAT, (uintptr_t)end) != '/') end++;
        while (end > start && (EditorSend(window, SCI_GETCHARAT, (uintptr_t)end - 1) == ' ' ||
                               EditorSend(window, SCI_GETCHARAT, (uintptr_t)end - 1) == '\t'))
            end--;
        if (end - start > PATH_SIZE) end = start + PATH_SIZE;
        if (end <= start) return 0;
        Sci_TextRangeFull range = {{start, end}, name};
        EditorSend(window, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
    }
    /* Opening it says that it is too long; the menu just names no file. */
    if (PathTooLong(name)) return outPath ? 0 : OpenFileByType(name, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0);
    if (!ExpandPathMacros(name, nullptr)) return 0;
    if (!outPath) return OpenFileByType(name, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0);
    if (!PlatFileExists(name)) return 0;
    CopyString(outPath, PATH_SIZE, name, -1);
    return 1;
}

/* ---- window procedure and commands ------------------------------------------------------------------------ */

LRESULT CALLBACK ScriptWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SIZE && window == gFrame.activeChild) TrackChildMaximized(window, wParam);
    if (!EditorHostProc(window, message, wParam, lParam)) return 0;
    switch (message) {
    case WM_CREATE:
        if (!CreateEditor(window, 0, &gScriptEditorSettings)) return -1;
        ApplyEditorSettings(window);
        break;
    case WM_DESTROY:
        RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        break;
    case WM_CLOSE:
        if (!QuerySaveScript(window, 1)) return 0;
        break;
    case WM_NOTIFY: {
        EditorRecord *record = GetEditorRecord(window);
        if (record && ((NMHDR *)lParam)->hwndFrom == record->editor) OnEditorNotify(window, (SCNotification *)lParam);
        break;
    }
    case WM_HELP: ShowEditorHelp(window); return TRUE;
    default: break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}

int ScriptCommand(HWND window, int commandId)
{
    switch (commandId) {
    case IDM_NEW_SCRIPT: return OpenScript(nullptr, nullptr);
    case IDM_SAVE: return SaveScript(window, 0), 1;
    case IDM_SAVE_AS: return SaveScript(window, 1), 1;
    case IDM_SCRIPT_F2:
    case IDM_SUGGEST_CHOICES: SuggestChoices(window, 1); return 1;
    case IDM_COMMENT:
    case IDM_UNCOMMENT: ToggleLineComment(window, 1); return 1;
    case IDM_SCRIPT_OPTIONS: RunEditorOptions(window); return 1;
    default: break;
    }
    return 0;
}
