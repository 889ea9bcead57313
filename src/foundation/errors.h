/* errors.h -- the one way errors reach the user, and the small message-box,
** wait-cursor and formatted-text helpers of the windows.
**
** ReportError shows a message box owned by the main window in interactive use;
** in unattended runs it appends an entry to errorlog.txt in the program folder
** instead, so batch runs never stop on a dialog:
**     "\n>>> <date> <hh:mm:ss> error in <ActiveScript> <<<\n<message>\n"
** with the date in the DateDisplayFormat picture and the time in UTC.
** Owns:       gMessageState (title, owner window, backup root, suppress flag,
**             wait-cursor nesting, time waited on message boxes).
** Threads:    ReportError may be called from workers.  The suppress flag is set
**             and cleared on the UI thread, and only a report made on the UI
**             thread consumes it, so a worker's report can never swallow the
**             harmless failure the UI thread meant to hide (nor be swallowed
**             itself).  Appends to the error log are serialised, so entries of
**             concurrent reports never mix.  Everything else: UI thread only.
** Platform:   SetDlgTextF and SetMenuText work on windows (win32/messages.cpp).
**             The wait cursor is a shell service (services.h) whose nesting
**             count is kept here; the Windows build's one is in
**             win32/messages.cpp.
*/
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

struct MessageState {
    char title[64];                /* "Kestovar" */
    void *owner;                   /* main window, null until set */
    char backupRoot[PATH_SIZE];    /* the program folder */
    std::atomic<int> suppressNext; /* one-shot: the next ReportError on the UI thread shows nothing */
    int waitNesting;               /* open SetWaitCursor levels */
    void *previousCursor;          /* the cursor to restore when the last level closes */
    int nativePaths;               /* 1 in the native program: the logs and the terminal show
                                   ** paths as the system writes them, not with '\' */
    /* Null, or given every error-log entry as this process writes it (under
    ** the log's lock), with null when it was written to the log, else the
    ** system's reason it could not be. */
    void (*keepEntry)(const char *entry, const char *failure);
    /* Null, or given the text of every report as it is made (any thread),
    ** whether it goes to a box or to the error log: a run that keeps a log
    ** of its own (an import) writes there why it failed. */
    void (*reportTap)(const char *message);
    std::atomic<uint64_t> boxWaitMs; /* milliseconds the UI thread has waited on message boxes */
};
extern MessageState gMessageState;

/* A copy of path in out (size bytes) as the program shows paths: with '/'
** in the native program (nativePaths), as composed with '\' otherwise; out. */
const char *PathAsShown(const char *path, char *out, size_t size);

/* Reports one message (at most 1023 characters; longer text is cut). */
void ReportError(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* A formatted message box with MessageBoxA style flags; the button pressed. */
int MessageBoxFormat(uint32_t style, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* The tick count (PlatTickCount64) less the milliseconds the UI thread has
** spent waiting on the user in a message box of ReportError or
** MessageBoxFormat: a run's clock, which a question left open for minutes
** does not move. */
uint64_t RunClockMs();
/* Sets the owner window and the backup root; returns 1. */
int InitMessages(void *ignored, void *owner, const char *backupRoot);

/* The dialog item's text, printf-style (at most 1023 characters). */
void SetDlgTextF(void *dialog, int controlId, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
/* A menu item's text, printf-style (at most 1023 characters): an item below
** 100 is a position in the menu, 100 and above a command id. */
void SetMenuText(void *menu, int item, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
