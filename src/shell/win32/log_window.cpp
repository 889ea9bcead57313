/* log_window.cpp -- the program log and the log windows.
**
** A log window hosts the editor component with the "Log" editor settings
** (editor_host.h).  Its editor record keeps the file path, the modified and
** read-only flags and, as its extra block, the work buffer LogPrintf formats
** into.  Log text is not styled; the zoom is shared by every log window.
*/
#include "shell/win32/shell_win32.h"

#include <commdlg.h>

#include <cstdarg>
#include <cstring>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/win32/settings_dialog.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"
#include "platform/platform.h"
#include "shell/frame_rules.h"
#include "services/services.h"
#include "shell/win32/editor_host.h"

#include <Scintilla.h>

enum { LOG_BUFFER_SIZE = 32767 };

static EditorRecord *LogRecord(HWND window) { return GetEditorRecord(window); }

int LogWindowPath(HWND window, char *out, int size)
{
    EditorRecord *log = LogRecord(window);
    if (!log) return 0;
    CopyString(out, size, log->path, -1);
    return 1;
}

static void SetLogTitle(HWND window) { SetScriptTitle(window); }

static void ActivateLog(HWND window)
{
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    if (window != gFrame.activeChild) SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
}

static HWND CreateLogWindow()
{
    LoadEditorSettings();
    int w = gSettings.iLogW ? gSettings.iLogW : CW_USEDEFAULT, h = gSettings.iLogH ? gSettings.iLogH : CW_USEDEFAULT;
    return CreateMdiChild("KestovarLog", "", 0, CW_USEDEFAULT, CW_USEDEFAULT, w, h, nullptr);
}

/* ---- loading and saving ---------------------------------------------------------------------------------- */

static int LoadLogText(HWND window, const char *path)
{
    char *text = nullptr;
    uint32_t size = 0;
    if (!LoadFile(path, &text, &size)) return 0;
    EditorSend(window, SCI_SETREADONLY, 0);
    SetEditorText(window, text ? text : "", (int32_t)size);
    FreeMemory(&text);
    EditorRecord *log = LogRecord(window);
    const DWORD attributes = GetFileAttributesW(WideFromText(path).c_str());
    log->readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    EditorSend(window, SCI_SETREADONLY, log->readOnly);
    CopyString(log->path, sizeof log->path, path, -1);
    return 1;
}

static int WriteLogText(HWND window, const char *path)
{
    int32_t length = 0;
    const char *text = EditorDocumentText(window, &length);
    if (!text) return 0;
    int ok = SaveFile(path, text, (uint32_t)length);
    if (ok) EditorSend(window, SCI_SETSAVEPOINT);
    return ok;
}

int SaveLog(HWND window, int saveAs)
{
    EditorRecord *log = LogRecord(window);
    if (!log) return 1;
    if (log->path[0] && !saveAs) {
        if (!WriteLogText(window, log->path)) return 0;
        SetLogTitle(window);
        return 1;
    }
    char path[PATH_SIZE];
    CopyString(path, sizeof path, log->path[0] ? log->path : "kvlog.txt", -1);
    if (!BrowseForFile(path, nullptr, "Save Log File", "Text", "TXT", 1)) return 0;
    if (!WriteLogText(window, path)) return 0;
    CopyString(log->path, sizeof log->path, path, -1);
    UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
    SetLogTitle(window);
    return 1;
}

int QueryCloseLog(HWND window, int ask)
{
    return QuerySaveEditor(window, ask, "(untitled log file)", SaveLog);
}

int QuerySaveLogs(int ask)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarLog"))
        if (!QueryCloseLog(child, ask)) return 0;
    return 1;
}

/* ---- finding and opening ------------------------------------------------------------------------------------ */

HWND FindLogWindow(const char *path)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarLog")) {
        EditorRecord *log = LogRecord(child);
        if (!log) continue;
        int match = path ? ComparePaths(log->path, path) == 0 : log->path[0] == 0;
        if (!match) continue;
        ActivateLog(child);
        if (!path) return child;
        if (log->modified && (log->path[0] || gSettings.AskSaveUntitled)) {
            int answer = MessageBoxFormat(MB_YESNOCANCEL | MB_ICONQUESTION, "Save changes to %s?", log->path);
            if (answer == IDCANCEL) continue;
            if (answer == IDYES && !SaveLog(child, 0)) continue;
        }
        if (!LoadLogText(child, path)) continue;
        SetLogTitle(child);
        return child;
    }
    return nullptr;
}

HWND GetLogWindow(char **buffer)
{
    HWND window = nullptr;
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarLog")) {
        EditorRecord *log = LogRecord(child);
        if (log && !log->path[0]) {
            window = child;
            break;
        }
    }
    if (window) {
        ActivateLog(window);
    } else {
        window = CreateLogWindow();
        if (window) {
            /* Titled before it is activated: the Window menu lists the
            ** title the window has when it becomes active. */
            SetLogTitle(window);
            ShowWindow(window, SW_SHOW);
            ActivateLog(window);
        }
        child = nullptr;
        if (!FindNextChildWindow(&child, "KestovarLog")) {
            ReportError("Unable to create log window");
            return nullptr;
        }
    }
    if (buffer) *buffer = LogRecord(window) ? LogRecord(window)->textBuffer : nullptr;
    ActivateLog(window);
    return window;
}

/* The program's own temporary list file (the results window's unique-symbol
** list, written in the program folder), which is shown and then deleted; any
** other file the user opens stays where it is, whatever its name holds. */
static int IsTemporaryLogFile(const char *path)
{
    char temp[300];
    FormatText(temp, sizeof temp, "%s\\_temp_.txt", gProgramFolder);
    return gProgramFolder[0] && ComparePaths(path, temp) == 0;
}

int OpenLogFile(const char *path)
{
    if (path) {
        if (FindLogWindow(path)) return 1;
        if (!PlatFileExists(path)) {
            ReportError("Unable to access %s", path);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
    }
    HWND window = CreateLogWindow();
    if (!window) return 0;
    if (path) {
        if (!LoadLogText(window, path)) {
            ShowWindow(window, SW_SHOW);
            SetLogTitle(window);
            return 0;
        }
        if (IsTemporaryLogFile(path)) {
            PlatDeleteFile(path);
            LogRecord(window)->path[0] = 0;
        } else {
            UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
        }
    }
    SetLogTitle(window);
    ShowWindow(window, SW_SHOW);
    ActivateLog(window);
    return 1;
}

/* ---- tables in the log ---------------------------------------------------------------------------------------- */

enum { LOG_TABLE_MAX_CELLS = 32 };

/* The run of consecutive lines holding tabs that the log is being written
** in: the widest field of each column so far, so that a line joining the run
** is measured once and the run's stops only move when a column widens. */
struct LogTableRun {
    HWND window;          /* null: no run under way */
    intptr_t first, last; /* lines of the run */
    int32_t cells;
    int32_t widths[LOG_TABLE_MAX_CELLS]; /* pixels, with the gap after the field */
};
static LogTableRun sLogRun;

/* Widens the run's columns to the fields of one line (each field that a tab
** ends); 1 when the line holds a tab, *grew set when a column widened. */
static int MeasureLogLine(HWND window, intptr_t line, LogTableRun *run, bool *grew)
{
    const intptr_t length = EditorSend(window, SCI_LINELENGTH, (uintptr_t)line);
    std::vector<char> text((size_t)length + 1, 0);
    EditorSend(window, SCI_GETLINE, (uintptr_t)line, (intptr_t)text.data());
    if (!memchr(text.data(), '\t', (size_t)length)) return 0;
    const int32_t gap = (int32_t)EditorSend(window, SCI_TEXTWIDTH, STYLE_DEFAULT, (intptr_t) "  ");
    int32_t cell = 0;
    char *field = text.data();
    for (char *p = field; *p && cell < LOG_TABLE_MAX_CELLS; p++) {
        if (*p != '\t') continue;
        *p = 0;
        const int32_t width = (int32_t)EditorSend(window, SCI_TEXTWIDTH, STYLE_DEFAULT, (intptr_t)field) + gap;
        if (width > run->widths[cell]) {
            run->widths[cell] = width;
            *grew = true;
        }
        if (++cell > run->cells) {
            run->cells = cell;
            *grew = true;
        }
        field = p + 1;
    }
    return 1;
}

static void SetLogLineStops(HWND window, intptr_t line, const LogTableRun *run)
{
    EditorSend(window, SCI_CLEARTABSTOPS, (uintptr_t)line);
    int32_t x = 0;
    for (int32_t k = 0; k < run->cells; k++) EditorSend(window, SCI_ADDTABSTOP, (uintptr_t)line, x += run->widths[k]);
}

/* Lines from firstLine on were written: every run of consecutive lines
** holding tabs (a table such as the optimization summary) gets tab stops past
** the widest field of each of its columns, so each value stands under its
** heading whatever its length and the log's tab width.  The text keeps its
** tabs, so a copy still pastes as columns. */
static void AlignLogTables(HWND window, intptr_t firstLine)
{
    const bool continues = sLogRun.window == window && sLogRun.first <= firstLine && sLogRun.last + 1 >= firstLine;
    if (!continues) sLogRun.window = nullptr;
    const intptr_t lines = EditorSend(window, SCI_GETLINECOUNT);
    for (intptr_t line = firstLine; line < lines; line++) {
        LogTableRun next = sLogRun.window ? sLogRun : LogTableRun{window, line, line, 0, {}};
        bool grew = false;
        if (!MeasureLogLine(window, line, &next, &grew)) {
            EditorSend(window, SCI_CLEARTABSTOPS, (uintptr_t)line);
            sLogRun.window = nullptr;
            continue;
        }
        next.last = line;
        sLogRun = next;
        if (grew)
            for (intptr_t l = sLogRun.first; l <= line; l++) SetLogLineStops(window, l, &sLogRun);
        else
            SetLogLineStops(window, line, &sLogRun);
    }
}

/* The whole log again, after its zoom changed the width of every text. */
static void RealignLogTables(HWND window)
{
    if (sLogRun.window == window) sLogRun.window = nullptr;
    AlignLogTables(window, 0);
}

/* ---- the program log ---------------------------------------------------------------------------------------- */

void LogPrintf(const char *format, ...)
{
    if (!format) return;
    va_list args;
    if (gRun.testLogFile) {
        char text[LOG_BUFFER_SIZE];
        va_start(args, format);
        int n = FormatTextV(text, sizeof text, format, args);
        va_end(args);
        /* Entries end as the headless shell ends them, so both builds write
        ** the same test log. */
        WriteTestLog(text, (uint32_t)n);
        return;
    }
    char *buffer = nullptr;
    HWND window = GetLogWindow(&buffer);
    if (!window || !buffer) return;
    intptr_t length = EditorSend(window, SCI_GETLENGTH);
    const intptr_t lastLine = EditorSend(window, SCI_GETLINECOUNT) - 1;
    va_start(args, format);
    FormatLogEntry(buffer, LOG_BUFFER_SIZE, length > 0, gRun.logContinueLine, format, args);
    va_end(args);
    EditorSend(window, SCI_APPENDTEXT, strlen(buffer), (intptr_t)buffer);
    AlignLogTables(window, lastLine);
    if (!gRun.logContinueLine) EditorSend(window, SCI_DOCUMENTEND);
}

/* ---- window procedure and commands --------------------------------------------------------------------------- */

/* Every log window shows the same font, tab width and zoom; a change
** applies to all of them. */
static void RestyleLogWindows()
{
    LoadEditorSettings();
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarLog")) {
        ApplyEditorFont(child);
        SetEditorZoom(child, gSettings.LogZoomLevel);
        RealignLogTables(child);
    }
}

static void ChooseLogFont(HWND owner);

static INT_PTR CALLBACK LogOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_LOG_TAB_SPIN, UDM_SETRANGE32, 1, 99);
        SendDlgItemMessageA(dialog, IDC_LOG_ZOOM_SPIN, UDM_SETRANGE32, (WPARAM)-10, 20);
        SetDlgItemInt(dialog, IDC_LOG_TAB, (UINT)gSettings.LogTabWidth, FALSE);
        SetDlgItemInt(dialog, IDC_LOG_ZOOM, (UINT)gSettings.LogZoomLevel, TRUE);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            /* The tab width and zoom by their rows' rules: a refused one is
            ** said and nothing is stored. */
            if (DialogToSettings(dialog, IDD_LOG_OPTIONS, 0)) RestyleLogWindows();
            return TRUE;
        case IDC_LOG_FONT: ChooseLogFont(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

int LogCommand(HWND window, int commandId)
{
    switch (commandId) {
    case IDM_NEW_LOG: return OpenLogFile(nullptr);
    case IDM_SAVE: return SaveLog(window, 0);
    case IDM_SAVE_AS: return SaveLog(window, 1);
    case IDM_LOG_OPTIONS:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_LOG_OPTIONS), window, LogOptionsDlgProc, 0);
        return 1;
    default: break;
    }
    return 0;
}

/* The font dialog for the log windows: the chosen face and size become the
** "Log" settings and every log window is restyled. */
static void ChooseLogFont(HWND owner)
{
    LOGFONTA chosen = {};
    HDC dc = GetDC(nullptr);
    int pixelsPerInch = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    chosen.lfHeight = -MulDiv(gSettings.LogFontHeight > 0 ? gSettings.LogFontHeight : 8, pixelsPerInch, 72);
    CopyString(chosen.lfFaceName, sizeof chosen.lfFaceName, gSettings.LogFont[0] ? gSettings.LogFont : "Consolas", -1);
    CHOOSEFONTA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = owner;
    choose.lpLogFont = &chosen;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_FIXEDPITCHONLY | CF_FORCEFONTEXIST;
    if (!ChooseFontA(&choose)) return;
    CopyString(gSettings.LogFont, sizeof gSettings.LogFont, chosen.lfFaceName, -1);
    gSettings.LogFontHeight = choose.iPointSize / 10;
    RestyleLogWindows();
}

LRESULT CALLBACK LogWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SIZE && window == gFrame.activeChild) TrackChildMaximized(window, wParam);
    if (!EditorHostProc(window, message, wParam, lParam)) return 0;
    switch (message) {
    case WM_CREATE:
        if (!CreateEditor(window, LOG_BUFFER_SIZE, &gLogEditorSettings)) return -1;
        SetEditorZoom(window, gSettings.LogZoomLevel);
        break;
    case WM_SIZE:
        if (wParam == SIZE_RESTORED) {
            RECT r;
            GetWindowRect(window, &r);
            gSettings.iLogW = r.right - r.left;
            gSettings.iLogH = r.bottom - r.top;
        }
        break;
    case WM_NOTIFY: {
        const SCNotification *n = (const SCNotification *)lParam;
        EditorRecord *log = LogRecord(window);
        if (!log || n->nmhdr.hwndFrom != log->editor || n->nmhdr.code != SCN_ZOOM) break;
        /* Ctrl and the mouse wheel zoom one log window, and with it all others. */
        int zoom = (int)EditorSend(window, SCI_GETZOOM);
        if (zoom == gSettings.LogZoomLevel) break;
        gSettings.LogZoomLevel = zoom;
        HWND child = nullptr;
        while (FindNextChildWindow(&child, "KestovarLog")) {
            if (child != window) SetEditorZoom(child, zoom);
            RealignLogTables(child);
        }
        break;
    }
    case WM_CLOSE:
        if (!QueryCloseLog(window, 1)) return 0;
        break;
    case WM_DESTROY:
        if (sLogRun.window == window) sLogRun.window = nullptr;
        RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        break;
    case WM_HELP:
        ShowEditorHelp(window);
        return TRUE;
    default: break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}
