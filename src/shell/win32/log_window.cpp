/* log_window.cpp -- the program log and the log windows.
**
** A log window hosts a plain multi-line text control in the place of the
** editor component (STANDIN: the editor host replaces it, bringing the
** editor's own messages and zoom); meanwhile the zoom adds points to the
** shared log font.  The record keeps the file path and the work buffer
** LogPrintf formats into.
*/
#include "shell/win32/shell_win32.h"

#include <commdlg.h>

#include <cstdarg>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "platform/platform.h"
#include "shell/frame_rules.h"
#include "shell/services.h"

enum { LOG_BUFFER_SIZE = 32767,
       LOG_EDITOR_ID = 1 };

struct LogWindow {
    char path[260]; /* "" untitled */
    int readOnly;
    char *buffer; /* LOG_BUFFER_SIZE bytes */
};

/* Placement of the next new log window; x and y are set only while the frame
** restores an open file. */
int gNextLogX = CW_USEDEFAULT, gNextLogY = CW_USEDEFAULT;

static LogWindow *LogRecord(HWND window) { return (LogWindow *)GetWindowLongPtrA(window, GWLP_USERDATA); }
static HWND LogEditor(HWND window) { return GetDlgItem(window, LOG_EDITOR_ID); }

int LogWindowPath(HWND window, char *out, int size)
{
    LogWindow *log = LogRecord(window);
    if (!log) return 0;
    CopyString(out, size, log->path, -1);
    return 1;
}

static void SetLogTitle(HWND window)
{
    LogWindow *log = LogRecord(window);
    if (!log) return;
    if (log->path[0])
        SetWindowTextA(window, log->path);
    else
        SetWindowTextA(window, "Log (untitled)");
    UpdateWindowTab(window);
}

static void ActivateLog(HWND window)
{
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    if (window != gFrame.activeChild) SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
}

static HWND CreateLogWindow()
{
    int w = gSettings.iLogW ? gSettings.iLogW : CW_USEDEFAULT, h = gSettings.iLogH ? gSettings.iLogH : CW_USEDEFAULT;
    HWND window = CreateMdiChild("KestovarLog", "", 0, gNextLogX, gNextLogY, w, h, nullptr);
    gNextLogX = gNextLogY = CW_USEDEFAULT;
    return window;
}

/* ---- loading and saving ---------------------------------------------------------------------------------- */

static int LoadLogText(HWND window, const char *path)
{
    char *text = nullptr;
    uint32_t size = 0;
    if (!LoadFile(path, &text, &size)) return 0;
    SetWindowTextA(LogEditor(window), text ? text : "");
    FreeMemory(&text);
    SendMessageA(LogEditor(window), EM_SETMODIFY, FALSE, 0);
    SendMessageA(LogEditor(window), EM_EMPTYUNDOBUFFER, 0, 0);
    LogWindow *log = LogRecord(window);
    DWORD attributes = GetFileAttributesA(path);
    log->readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    SendMessageA(LogEditor(window), EM_SETREADONLY, log->readOnly, 0);
    CopyString(log->path, sizeof log->path, path, -1);
    return 1;
}

static int WriteLogText(HWND window, const char *path)
{
    HWND editor = LogEditor(window);
    int length = GetWindowTextLengthA(editor);
    char *text = nullptr;
    if (!AllocMemory(&text, (uint64_t)length + 1)) return 0;
    GetWindowTextA(editor, text, length + 1);
    int ok = SaveFile(path, text, (uint32_t)length);
    FreeMemory(&text);
    return ok;
}

int SaveLog(HWND window, int saveAs)
{
    LogWindow *log = LogRecord(window);
    if (!log) return 1;
    if (log->path[0] && !saveAs) {
        if (!WriteLogText(window, log->path)) return 0;
        SendMessageA(LogEditor(window), EM_SETMODIFY, FALSE, 0);
        SetLogTitle(window);
        return 1;
    }
    char path[260];
    CopyString(path, sizeof path, log->path[0] ? log->path : "kvlog.txt", -1);
    if (!BrowseForFile(path, nullptr, "Save Log File", "Text", "TXT", 1)) return 0;
    if (!WriteLogText(window, path)) return 0;
    CopyString(log->path, sizeof log->path, path, -1);
    UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
    SendMessageA(LogEditor(window), EM_SETMODIFY, FALSE, 0);
    SetLogTitle(window);
    return 1;
}

int QueryCloseLog(HWND window, int ask)
{
    LogWindow *log = LogRecord(window);
    if (!log || !SendMessageA(LogEditor(window), EM_GETMODIFY, 0, 0)) return 1;
    if (!log->path[0] && !gSettings.AskSaveUntitled) return 1;
    if (ask) {
        int answer = MessageBoxFormat(MB_YESNOCANCEL | MB_ICONQUESTION, "Save changes to %s?",
                                      log->path[0] ? log->path : "(untitled log file)");
        if (answer == IDCANCEL) return 0;
        if (answer == IDNO) return 1;
    }
    return SaveLog(window, 0);
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
        LogWindow *log = LogRecord(child);
        if (!log) continue;
        int match = path ? CompareNoCase(log->path, path) == 0 : log->path[0] == 0;
        if (!match) continue;
        ActivateLog(child);
        if (!path) return child;
        if (SendMessageA(LogEditor(child), EM_GETMODIFY, 0, 0) && (log->path[0] || gSettings.AskSaveUntitled)) {
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
        LogWindow *log = LogRecord(child);
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
            ShowWindow(window, SW_SHOW);
            ActivateLog(window);
            SetLogTitle(window);
        }
        child = nullptr;
        if (!FindNextChildWindow(&child, "KestovarLog")) {
            ReportError("Unable to create log window");
            return nullptr;
        }
    }
    if (buffer) *buffer = LogRecord(window) ? LogRecord(window)->buffer : nullptr;
    ActivateLog(window);
    return window;
}

/* The program's own temporary list file, which is shown and then deleted;
** any other file the user opens stays where it is. */
static int IsTemporaryLogFile(const char *path)
{
    char temp[300];
    FormatText(temp, sizeof temp, "%s\\_temp_.txt", gOutputFolder);
    return CompareNoCase(path, temp) == 0;
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
    ShowWindow(window, SW_SHOW);
    ActivateLog(window);
    SetLogTitle(window);
    return 1;
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
        uint32_t written;
        PlatWriteFile(gRun.testLogFile, text, (uint32_t)n, &written);
        /* Entries end as the headless shell ends them, so both builds write
        ** the same test log. */
        if (!gRun.logContinueLine) PlatWriteFile(gRun.testLogFile, "\r\n", 2, &written);
        return;
    }
    char *buffer = nullptr;
    HWND window = GetLogWindow(&buffer);
    if (!window || !buffer) return;
    HWND editor = LogEditor(window);
    int length = GetWindowTextLengthA(editor);
    va_start(args, format);
    FormatLogEntry(buffer, LOG_BUFFER_SIZE, length > 0, gRun.logContinueLine, format, args);
    va_end(args);
    SendMessageA(editor, EM_SETSEL, (WPARAM)length, (LPARAM)length);
    SendMessageA(editor, EM_REPLACESEL, FALSE, (LPARAM)buffer);
    if (!gRun.logContinueLine) {
        int end = GetWindowTextLengthA(editor);
        SendMessageA(editor, EM_SETSEL, (WPARAM)end, (LPARAM)end);
        SendMessageA(editor, EM_SCROLLCARET, 0, 0);
    }
}

/* ---- window procedure and commands --------------------------------------------------------------------------- */

static void ApplyLogTabs(HWND window)
{
    int stops = (gSettings.LogTabWidth > 0 ? gSettings.LogTabWidth : 14) * 4;
    SendMessageA(LogEditor(window), EM_SETTABSTOPS, 1, (LPARAM)&stops);
    InvalidateRect(LogEditor(window), nullptr, TRUE);
}

static void ChooseLogFont(HWND owner);
static void RestyleLogWindows();

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
        case IDOK: {
            BOOL ok = FALSE;
            int tab = (int)GetDlgItemInt(dialog, IDC_LOG_TAB, &ok, FALSE);
            if (ok && tab >= 1 && tab <= 99) gSettings.LogTabWidth = tab;
            int zoom = (int)GetDlgItemInt(dialog, IDC_LOG_ZOOM, &ok, TRUE);
            if (ok && zoom >= -10 && zoom <= 20 && zoom != gSettings.LogZoomLevel) {
                gSettings.LogZoomLevel = zoom;
                RestyleLogWindows();
            }
            if (gFrame.activeKind == WK_LOG && gFrame.activeChild) ApplyLogTabs(gFrame.activeChild);
            return TRUE;
        }
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

/* The log font from the "Log" settings, made again when they change. */
static HFONT sLogFont;
static HFONT LogFont()
{
    if (!sLogFont) {
        HDC dc = GetDC(nullptr);
        /* The zoom adds points to the font, as the editor component's zoom does. */
        int points = (gSettings.LogFontHeight > 0 ? gSettings.LogFontHeight : 8) + gSettings.LogZoomLevel;
        if (points < 2) points = 2;
        int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
        ReleaseDC(nullptr, dc);
        sLogFont = CreateFontA(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, FIXED_PITCH,
                               gSettings.LogFont[0] ? gSettings.LogFont : "Consolas");
    }
    return sLogFont;
}

/* The font dialog for the log windows: the chosen face and size become the
** "Log" settings and every log window is restyled. */
static void ChooseLogFont(HWND owner)
{
    LOGFONTA chosen = {};
    GetObjectA(LogFont(), sizeof chosen, &chosen);
    CHOOSEFONTA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = owner;
    choose.lpLogFont = &chosen;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_FIXEDPITCHONLY;
    if (!ChooseFontA(&choose)) return;
    CopyString(gSettings.LogFont, sizeof gSettings.LogFont, chosen.lfFaceName, -1);
    gSettings.LogFontHeight = choose.iPointSize / 10 - gSettings.LogZoomLevel;
    RestyleLogWindows();
}

/* Every log window shows the same font and zoom; a change restyles them all. */
static void RestyleLogWindows()
{
    HFONT old = sLogFont;
    sLogFont = nullptr;
    HWND child = nullptr;
    while (FindNextChildWindow(&child, "KestovarLog"))
        SendMessageA(LogEditor(child), WM_SETFONT, (WPARAM)LogFont(), TRUE);
    if (old) DeleteObject(old);
}

/* Ctrl and the mouse wheel zoom one log window, and with it all others. */
static WNDPROC sEditDefault;
static LRESULT CALLBACK LogEditorSubclassProc(HWND editor, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSEWHEEL && (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL)) {
        int zoom = gSettings.LogZoomLevel + (GET_WHEEL_DELTA_WPARAM(wParam) > 0 ? 1 : -1);
        if (zoom >= -10 && zoom <= 20 && zoom != gSettings.LogZoomLevel) {
            gSettings.LogZoomLevel = zoom;
            RestyleLogWindows();
        }
        return 0;
    }
    return CallWindowProcA(sEditDefault, editor, message, wParam, lParam);
}

static int CreateLogParts(HWND window)
{
    LogWindow *log = nullptr;
    if (!AllocMemory(&log, sizeof *log)) return 0;
    if (!AllocMemory(&log->buffer, LOG_BUFFER_SIZE)) {
        FreeMemory(&log);
        return 0;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)log);
    HWND editor = CreateWindowExA(0, "EDIT", "",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                      ES_AUTOHSCROLL | ES_NOHIDESEL | ES_WANTRETURN,
                                  0, 0, 0, 0, window, (HMENU)(INT_PTR)LOG_EDITOR_ID, gFrame.instance, nullptr);
    if (!editor) return 0;
    SendMessageA(editor, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    WNDPROC previous = (WNDPROC)SetWindowLongPtrA(editor, GWLP_WNDPROC, (LONG_PTR)LogEditorSubclassProc);
    if (!sEditDefault) sEditDefault = previous;
    HFONT font = LogFont();
    SendMessageA(editor, WM_SETFONT, (WPARAM)font, 0);
    ApplyLogTabs(window);
    return 1;
}

LRESULT CALLBACK LogWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (!CreateLogParts(window)) return -1;
        break;
    case WM_SIZE:
        TrackChildMaximized(window, wParam);
        SizeChildToClient(window, TRUE);
        if (wParam == SIZE_RESTORED) {
            RECT r;
            GetWindowRect(window, &r);
            gSettings.iLogW = r.right - r.left;
            gSettings.iLogH = r.bottom - r.top;
        }
        break;
    case WM_SETFOCUS: SetFocus(LogEditor(window)); return 0;
    case WM_MDIACTIVATE: OnMdiChildActivate(window, (HWND)wParam, (HWND)lParam); break;
    case WM_CLOSE:
        if (!QueryCloseLog(window, 1)) return 0;
        break;
    case WM_DESTROY: {
        RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        LogWindow *log = LogRecord(window);
        if (log) {
            FreeMemory(&log->buffer);
            FreeMemory(&log);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        break;
    }
    case WM_HELP:
        OpenHelp(190);
        gFrame.helpAnswered = 1;
        return TRUE;
    default: break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}
