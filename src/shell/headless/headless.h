/* headless.h -- what the headless shell keeps for tests to read.
**
** The native build and the unattended runs have no windows: status texts,
** the frame title, notices, message boxes and filled history lists are kept
** here, the log goes to the run's log file or to standard output (or, while
** captureLog is set, into logText), and nothing waits for a user.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

enum { HEADLESS_STATUS_PARTS = 11,
       HEADLESS_NOTICES = 16,
       HEADLESS_MESSAGES = 16,
       HEADLESS_WINDOWS = 16 };

struct HeadlessShell {
    char statusParts[HEADLESS_STATUS_PARTS][257];
    char frameTitle[1024];
    int noticeCount; /* total shown; the last 16 are kept */
    char notices[HEADLESS_NOTICES][257];
    uint32_t noticeColours[HEADLESS_NOTICES];
    int messageCount; /* total shown; the last 16 are kept */
    char messages[HEADLESS_MESSAGES][1024];
    int messageBoxAnswer; /* the button every message box "presses"; 1 = OK */
    int comboCount;       /* entries the last history combo showed */
    char comboEntries[10][PATH_SIZE];
    int captureLog; /* 1: LogPrintf appends to logText instead of stdout,
                                          ** one "\n" after each entry */
    char *logText;  /* malloc'd capture, null when empty */
    uint64_t logLength;
    int pumpCount;   /* PumpMessages calls */
    int stopAtPump;  /* > 0: the pump with that count requests a stop */
    void (*atPump)(); /* a test's look at the program from inside each pump, null none */
    int windowCount; /* child windows a test pretends are open */
    char windowClasses[HEADLESS_WINDOWS][32];
    char closedWindows[512];                        /* classes closed, in order, each followed by ';' */
    int findDialogs;                                /* find dialogs registered */
    char shownFiles[1024]; /* files shown, in order: "log:<name>;" or "list:<caption>:<name>;"
                           ** (name without its folder) */
    void (*statusEcho)(int part, const char *text); /* the native program's terminal line, null none */
    char chooserAnswer[PATH_SIZE];                  /* the path a file chooser "picks"; "" counts as cancelled */
};
extern HeadlessShell gHeadless;

/* Empties everything above (keeps messageBoxAnswer at 1). */
void ResetHeadlessShell();
/* The last notice or message box text, "" when none. */
const char *LastNotice();
const char *LastMessage();
/* Appends "<kind>:<caption>:<name>;" (no caption part when caption is null) to shownFiles. */
void NoteShownFile(const char *kind, const char *caption, const char *path);

/* Script editor windows a test pretends are open, and the refreshes asked for. */
#include "script/compiler/compiler_state.h"

enum { HEADLESS_SCRIPT_WINDOWS = 4 };

struct HeadlessScriptWindow {
    char path[PATH_SIZE]; /* "" for an untitled script */
    const char *text;    /* the editor's text */
    int active;          /* the active window */
    int refuseSave;      /* SaveScript answers 0 */
    int saves;           /* SaveScript calls */
    CompilerState state; /* the window's own name-scan record */
    char appended[8192]; /* text appended by EDITOR_APPEND_TEXT */
    int caretAtEnd;      /* EDITOR_DOCUMENT_END was sent */
};

struct HeadlessScripts {
    int windowCount;
    HeadlessScriptWindow windows[HEADLESS_SCRIPT_WINDOWS];
    int results;    /* RecalculateAllResults calls */
    int resGraphs;  /* RefreshAllResGraphs calls */
    int graphs;     /* RefreshAllGraphs calls */
    int tradeLists; /* RefreshAllTradeLists calls */
    int charts;     /* RefreshAllCharts calls */
};
extern HeadlessScripts gHeadlessScripts;
