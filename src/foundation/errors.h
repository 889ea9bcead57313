/* errors.h -- the one way errors reach the user.
**
** ReportError shows a message box owned by the main window in interactive use;
** in unattended runs it appends an entry to errorlog.txt in the program folder
** instead, so batch runs never stop on a dialog.
** Owns:       gMessageState (title, owner window, backup root, suppress flag).
** Threads:    ReportError may be called from workers; the suppress flag is
**             set and cleared on the UI thread.
*/
#pragma once
#include <atomic>
#include <cstdint>

struct MessageState {
    char title[64];            /* "Kestovar" */
    void *owner;               /* main window, null until set */
    char backupRoot[260];      /* the program folder */
    std::atomic<int> suppressNext;  /* one-shot: the next ReportError shows nothing */
    int waitNesting;           /* open SetWaitCursor levels */
};
extern MessageState gMessageState;

/* Reports one message (at most 1023 characters). */
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
/* Sets the owner window and the backup root; returns 1. */
int InitMessages(void *ignored, void *owner, const char *backupRoot);
