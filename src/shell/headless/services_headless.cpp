/* services_headless.cpp -- the shell services without windows. */
#include "shell/headless/headless.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "services/services.h"

HeadlessShell gHeadless = {.messageBoxAnswer = 1};

void ResetHeadlessShell()
{
    free(gHeadless.logText);
    memset(&gHeadless, 0, sizeof gHeadless);
    gHeadless.messageBoxAnswer = 1;
}

const char *LastNotice()
{
    return gHeadless.noticeCount ? gHeadless.notices[(gHeadless.noticeCount - 1) % HEADLESS_NOTICES] : "";
}

const char *LastMessage()
{
    return gHeadless.messageCount ? gHeadless.messages[(gHeadless.messageCount - 1) % HEADLESS_MESSAGES] : "";
}

int PumpMessages()
{
    PlatSleep(0);
    gHeadless.pumpCount++;
    if (gHeadless.stopAtPump > 0 && gHeadless.pumpCount == gHeadless.stopAtPump) RequestStop();
    if (gHeadless.atPump) gHeadless.atPump();
    CheckMemoryState();
    return 0;
}

void SetStatusText(int part, const char *format, ...)
{
    if (part < 0 || part >= HEADLESS_STATUS_PARTS) return;
    if (format && !gSettings.ShowStatusBar) return;
    char *slot = gHeadless.statusParts[part];
    if (!format) {
        CopyString(slot, 257, part == 0 ? "Ready" : "", -1);
        /* The end of a step is news to a status line too: the next step's
        ** first text is shown even when it repeats the last one. */
        if (part == 0 && gHeadless.statusEcho) gHeadless.statusEcho(part, slot);
        return;
    }
    va_list args;
    va_start(args, format);
    FormatTextV(slot, 257, format, args);
    va_end(args);
    if (part == 0 && !slot[0]) CopyString(slot, 257, "Ready", -1);
    if (gHeadless.statusEcho) gHeadless.statusEcho(part, slot);
}

void GetStatusText(int part, char *out, int size)
{
    if (size <= 0) return;
    out[0] = 0;
    if (part >= 0 && part < HEADLESS_STATUS_PARTS) CopyString(out, size, gHeadless.statusParts[part], -1);
}

/* The string table of the window shell is not here; an id shows as a number. */
void ResetStatusBar(int stringId)
{
    if (stringId == 0) {
        int last = gSettings.StatusBarFields + 2;
        for (int i = 0; i <= last && i < HEADLESS_STATUS_PARTS; i++) SetStatusText(i, nullptr);
        return;
    }
    if (gSettings.ShowStatusBar) FormatText(gHeadless.statusParts[0], 257, "#%d", stringId);
}

void ApplyFrameTitle(const char *text)
{
    CopyString(gHeadless.frameTitle, sizeof gHeadless.frameTitle, text, -1);
}

void ShowPopupNotice(uint32_t colour, const char *format, ...)
{
    int slot = gHeadless.noticeCount % HEADLESS_NOTICES;
    va_list args;
    va_start(args, format);
    FormatTextV(gHeadless.notices[slot], 257, format, args);
    va_end(args);
    gHeadless.noticeColours[slot] = colour;
    gHeadless.noticeCount++;
    /* Without a window the notice would go unseen: it is repeated as a line. */
    if (gConsoleEcho) {
        char line[PATH_SIZE];
        FormatText(line, sizeof line, "%s\n", gHeadless.notices[slot]);
        gConsoleEcho(2, line);
    }
}

/* Workers report too (a failed lookup during a data calculation); each
** message box keeps its own slot and count. */
static std::mutex sMessageLock;

int ShowMessageBox(const char *text, const char *title, uint32_t style)
{
    std::lock_guard<std::mutex> hold(sMessageLock);
    int slot = gHeadless.messageCount % HEADLESS_MESSAGES;
    CopyString(gHeadless.messages[slot], 1024, text, -1);
    gHeadless.messageCount++;
    if (!gHeadless.captureLog) {
        char shown[1024];
        CopyString(shown, sizeof shown, text, -1);
        if (gMessageState.nativePaths) PlatNativePath(shown, shown, sizeof shown);
        fprintf(stderr, "%s: %s\n", title ? title : "", shown);
    }
    return gHeadless.messageBoxAnswer;
}

/* No one to tell or to ask: the caller waits on its own terms. */
int WaitForOtherProgram(const char *, int (*)(void *), void *) { return -1; }

#ifndef _WIN32
/* Without windows there is no cursor to show; the nesting is still kept so
** that the levels pair up the same way in both builds.  (The Windows build's
** wait cursor is in foundation/win32/messages.cpp.) */
void SetWaitCursor(int on)
{
    if (on)
        gMessageState.waitNesting++;
    else if (gMessageState.waitNesting > 0)
        gMessageState.waitNesting--;
}
#endif

void FillHistoryCombo(void *dialog, int controlId, const char *history)
{
    gHeadless.comboCount = 0;
    const char *p = history;
    while (*p && gHeadless.comboCount < HISTORY_SHOWN) {
        const char *end = strchr(p, '\n');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len > 0) CopyString(gHeadless.comboEntries[gHeadless.comboCount++], PATH_SIZE, p, (int)len);
        p += len + (end ? 1 : 0);
    }
}

int FindChildWindow(const char *className)
{
    for (int i = 0; i < gHeadless.windowCount; i++)
        if (strcmp(gHeadless.windowClasses[i], className) == 0) return 1;
    return 0;
}

void CloseChildWindows(const char *className)
{
    int kept = 0;
    for (int i = 0; i < gHeadless.windowCount; i++) {
        if (strcmp(gHeadless.windowClasses[i], className) == 0) {
            size_t len = strlen(gHeadless.closedWindows);
            FormatText(gHeadless.closedWindows + len, sizeof gHeadless.closedWindows - len, "%s;", className);
        } else {
            if (kept != i) memcpy(gHeadless.windowClasses[kept], gHeadless.windowClasses[i], 32);
            kept++;
        }
    }
    gHeadless.windowCount = kept;
}

static void CaptureLog(const char *text, size_t len)
{
    char *grown = (char *)realloc(gHeadless.logText, gHeadless.logLength + len + 1);
    if (!grown) return;
    memcpy(grown + gHeadless.logLength, text, len);
    gHeadless.logLength += len;
    grown[gHeadless.logLength] = 0;
    gHeadless.logText = grown;
}

void LogPrintf(const char *format, ...)
{
    if (!format) return;
    static char buffer[32767];
    va_list args;
    va_start(args, format);
    int n = FormatTextV(buffer, sizeof buffer, format, args);
    va_end(args);
    if (gRun.testLogFile) {
        /* The run's log is a text file the user opens on Windows: its
        ** entries end in "\r\n" whichever build wrote it. */
        if (gMessageState.nativePaths) PlatNativePath(buffer, buffer, sizeof buffer);
        WriteTestLog(buffer, (uint32_t)n);
        return;
    }
    if (gHeadless.captureLog) {
        CaptureLog(buffer, (size_t)n);
        if (!gRun.logContinueLine) CaptureLog("\n", 1);
        return;
    }
    if (gMessageState.nativePaths) PlatNativePath(buffer, buffer, sizeof buffer);
    fwrite(buffer, 1, (size_t)n, stdout);
    if (!gRun.logContinueLine) fputc('\n', stdout);
    fflush(stdout);
}

/* No dialogs without windows; the registry only counts, so its limit holds. */
int RegisterFindDialog(void *dialog)
{
    if (gHeadless.findDialogs >= 13) {
        ReportError("Sorry, but you can't have more than %d Find/Replace dialogs open at the same time.", 13);
        return 0;
    }
    gHeadless.findDialogs++;
    return 1;
}

void UnregisterFindDialog(void *dialog)
{
    if (gHeadless.findDialogs > 0) gHeadless.findDialogs--;
}

/* ---- script editor windows and view refreshes ------------------------------------- */

HeadlessScripts gHeadlessScripts;

void *FindScriptWindow(const char *path)
{
    for (int i = 0; i < gHeadlessScripts.windowCount && i < HEADLESS_SCRIPT_WINDOWS; i++) {
        HeadlessScriptWindow *w = &gHeadlessScripts.windows[i];
        if (w->path[0] && ComparePaths(w->path, path) == 0) return w;
    }
    return nullptr;
}

/* Without windows nothing opens: only a window a test pretends is open. */
void *OpenScriptWindow(const char *path)
{
    return FindScriptWindow(path);
}

/* Writes the window's text to its file, as the editor's save does. */
int SaveScript(void *window, int saveAs)
{
    HeadlessScriptWindow *w = (HeadlessScriptWindow *)window;
    if (!w) return 0;
    w->saves++;
    if (w->refuseSave || !w->path[0]) return 0;
    const char *text = w->text ? w->text : "";
    return SaveFile(w->path, text, (uint32_t)strlen(text));
}

void *GetEmptyActiveScriptWindow()
{
    for (int i = 0; i < gHeadlessScripts.windowCount && i < HEADLESS_SCRIPT_WINDOWS; i++) {
        HeadlessScriptWindow *w = &gHeadlessScripts.windows[i];
        if (w->active) return w->path[0] ? nullptr : w;
    }
    return nullptr;
}

CompilerState *ScriptWindowState(void *window)
{
    return window ? &((HeadlessScriptWindow *)window)->state : nullptr;
}

intptr_t EditorCall(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    HeadlessScriptWindow *w = (HeadlessScriptWindow *)window;
    const char *text = w && w->text ? w->text : "";
    size_t length = strlen(text);
    /* The text appended counts, as in an editor that took it. */
    if (message == EDITOR_GET_LENGTH) return (intptr_t)(length + (w ? strlen(w->appended) : 0));
    if (message == EDITOR_APPEND_TEXT && w && lparam) {
        size_t used = strlen(w->appended);
        size_t room = sizeof w->appended - used - 1;
        size_t n = wparam < room ? wparam : room;
        memcpy(w->appended + used, (const char *)lparam, n);
        w->appended[used + n] = 0;
        return 0;
    }
    if (message == EDITOR_DOCUMENT_END && w) w->caretAtEnd = 1;
    if (message == EDITOR_GET_TEXT && lparam && wparam > 0) {
        size_t n = length < wparam - 1 ? length : wparam - 1;
        memcpy((char *)lparam, text, n);
        ((char *)lparam)[n] = 0;
        return (intptr_t)n;
    }
    return 0;
}

void RecalculateAllResults() { gHeadlessScripts.results++; }
void RefreshAllResGraphs() { gHeadlessScripts.resGraphs++; }
void RefreshAllGraphs() { gHeadlessScripts.graphs++; }
void RefreshAllTradeLists() { gHeadlessScripts.tradeLists++; }
void RefreshAllCharts() { gHeadlessScripts.charts++; }

void NoteShownFile(const char *kind, const char *caption, const char *path)
{
    const char *name = path;
    for (const char *c = path; *c; c++)
        if (*c == '\\' || *c == '/') name = c + 1;
    size_t used = strlen(gHeadless.shownFiles);
    if (caption)
        FormatText(gHeadless.shownFiles + used, (int)(sizeof gHeadless.shownFiles - used), "%s:%s:%s;", kind, caption, name);
    else
        FormatText(gHeadless.shownFiles + used, (int)(sizeof gHeadless.shownFiles - used), "%s:%s;", kind, name);
}

/* Without a List window the request is kept for tests. */
int OpenCsvAsList(const char *caption, const char *path)
{
    if (!path || !path[0]) return 0;
    NoteShownFile("list", caption ? caption : "CSV File", path);
    return 1;
}
