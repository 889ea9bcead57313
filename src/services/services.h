/* services.h -- what the core asks of the application shell.
**
** Layer:      just above the platform layer, so that every layer from the
**             foundation up may call the shell without including anything of
**             it; this header depends on the platform header alone.
**
** Owns:       gRun, the program-wide control words (run state, run mode,
**             order generation flag and date, low-memory flag, sticky result code,
**             unattended flag, UI thread id, the log's line and file), and the
**             effective program folders.
** Implemented by: shell/services.cpp (the rules that hold for every shell) and
**             either the window shell (shell/win32/) or
**             shell/headless/services_headless.cpp, which keeps
**             status texts, notices, titles and message boxes where tests can
**             read them, writes the log to the run's log file or standard output,
**             and never waits for a user.
** Threads:    the run state, low-memory flag and result code are atomic, since
**             workers set them (a failed lookup, a file error); everything else
**             is for the UI thread.
*/
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/platform.h"

/* ---- control words ----------------------------------------------------------- */

enum RunState {
    RUN_IDLE = 0,
    RUN_IMPORT = 1,
    RUN_LOADING = 2,
    RUN_CALCULATING = 3,
    RUN_TESTING = 4, /* test, optimization, orders or scan */
    RUN_STOP_REQUESTED = 5
};

/* Sticky result codes, which become the exit code of an unattended run. */
enum ResultCode {
    RESULT_OK = 0,
    RESULT_BAD_SWITCH = 1,
    RESULT_FILE_ERROR = 3,
    RESULT_LOW_MEMORY = 4,
    RESULT_COMPILE_FAILURE = 5,
    RESULT_IMPORT_FAILURE = 6,
    RESULT_DATA_NOT_LOADED = 7,
    RESULT_STOPPED = 8
};

/* The kind of run a script is compiled and run for (gRun.mode, ?RunMode). */
enum RunMode {
    RUN_MODE_IMPORT = 0,
    RUN_MODE_APPLY = 1,
    RUN_MODE_SCAN = 2,
    RUN_MODE_TEST = 3,
    RUN_MODE_OPTIMIZE = 4,
    RUN_MODE_ORDERS = 5
};

/* The program-wide control words, in one record. */
struct RunControl {
    std::atomic<int> state;   /* RunState */
    int mode;                 /* RunMode */
    int32_t generatingOrders; /* 1 while the engine writes the order list for the next
                                        trading day: prices then print as decimals, and tick
                                        sizes and position items read the live data */
    int32_t orderDate;        /* yyyymmdd of the orders being generated, 0 outside an
                                        orders run; set by the engine, written for ?orderdate? */
    std::atomic<int> lowMemory;
    std::atomic<int> resultCode; /* ResultCode, sticky */
    std::atomic<int> stopAsked;  /* the one record of a stop: set by RequestStop (any
                                    thread, a signal handler too) whatever the state,
                                    cleared only by ClearStopRequest, where a batch or a
                                    run the user starts begins; no later run of a batch
                                    starts while it is set */
    int unattended;              /* a command-line switch started the run */
    uint32_t uiThreadId;         /* 0 until the shell sets it at start-up */
    int logContinueLine;         /* while set, LogPrintf adds no line break */
    PlatFile testLogFile;        /* the run's open test log, or null */
    int testLogFailed;           /* a write to it failed and was reported: no more is written */
};
extern RunControl gRun;

/* Writes text to the open test log, then its line end unless
** logContinueLine is set.  A write that fails is reported once, naming the
** log and the system's reason, and the run's result code becomes 3: a log
** cut short is a file the run could not write. */
void WriteTestLog(const char *text, uint32_t size);

/* Puts every control word back to its idle value (the UI thread id, set once
** at start-up, stays).  The caller closes an open test log first. */
void ResetRunControl();
extern char gSettingsFile[PATH_SIZE]; /* the settings file in use, "" none */
/* The script a run is using right now, "" when none: a batch sets it for each
** script it runs, the script windows' titles and the error log show it. */
extern char gRunningScript[PATH_SIZE];

/* Effective folders, set by InitApplication. */
extern char gProgramFolder[PATH_SIZE];
extern char gScriptsFolder[PATH_SIZE];
extern char gDataFolder[PATH_SIZE];
extern char gOutputFolder[PATH_SIZE];
extern char gInfoFolder[PATH_SIZE];
extern char gLogsFolder[PATH_SIZE];
extern char gReportsFolder[PATH_SIZE];

/* Sets the sticky result code (any thread). */
void SetResultCode(int code);
/* Records a stop (gRun.stopAsked) and, while a run is going, sets its state
** to RUN_STOP_REQUESTED, which the run's loops read.  A stop asked while
** nothing runs is kept too: a batch starts no run after it, and a step that
** starts before the stop is cleared starts stopped (EnterRunState).  Safe in
** a signal handler (lock-free atomics only). */
void RequestStop();
/* Forgets a stop: only where a new batch begins, or a run the user starts
** in the window program, so that no stop asked before that point is lost
** and none asked for an earlier run stops a later one. */
void ClearStopRequest();
/* Stores a run state.  A running state becomes RUN_STOP_REQUESTED when a stop
** was asked and not cleared, also one asked while the state was being
** stored, so that a step started after the stop ends at its first look. */
void EnterRunState(int state);

/* ---- message pump and low memory ------------------------------------------------ */

/* Yields, then handles every waiting message with the per-message memory
** check.  Never waits.  Headless: one yield and one memory check. */
int PumpMessages();
/* The per-message memory rule: shows "Memory: %d%%" in the last status part,
** sets the low-memory flag when the allocator failed or the percentage reached
** MaxMemPct, clears the allocator's failure flag, and on a change sets the title
** anew and (on a rise) raises the low-memory warning. */
void CheckMemoryState();
/* Stops a running run, reports the low-memory message, sets result code 4. */
void ShowLowMemoryWarning();
/* Bytes held by the loaded data (per symbol: daily and weekly bars x 64,
** events x 24, 1424 more) and by the calculated Data and TestData values
** (daily bars x their allocated item slots x 8). */
void EstimateMemoryUse(double *loaded, double *calculated);
/* Formats the low-memory message from three byte estimates. */
int FormatLowMemoryWarning(char *out, int size, double loadedBytes, double calculatedBytes, double resultBytes);

/* ---- status bar, title, notices ---------------------------------------------------- */

/* printf-style text (256 characters) in one status part; null clears (part 0
** then reads "Ready").  Ignored while ShowStatusBar is off and a text is given. */
void SetStatusText(int part, const char *format, ...);
/* The text a status part shows now (read back by loaders that put it back
** after their own progress texts). */
void GetStatusText(int part, char *out, int size);
/* 0 clears every part; another id shows that string's text in part 0. */
void ResetStatusBar(int stringId);
/* "Kestovar", " - " and the text when given, " - LOW MEMORY WARNING" while low. */
void SetFrameTitle(const char *format, ...);
/* A transient notice of up to 256 characters in the given colour. */
void ShowPopupNotice(uint32_t colour, const char *format, ...);
/* Where a program without windows (the native one) repeats for its user
** what the window program shows in windows or keeps in the import log:
** stream 2 (standard error) gets the pop-up notices and the import's
** reports of refused files and lines, stream 1 (the terminal) the import's
** closing counts.  Null (the window program, tests): nothing is repeated.
** Any thread; text is one or more whole lines. */
extern void (*gConsoleEcho)(int stream, const char *text);
/* A message box with the given MessageBoxA style; returns the button pressed. */
int ShowMessageBox(const char *text, const char *title, uint32_t style);
/* Another program keeps path busy (it saves or reads the file) and the
** program waits for it: the window program says so, with a way to stop
** waiting, and goes on answering while it calls retry(user) again every few
** milliseconds, until retry returns 1 (1 returned) or the user stops waiting
** (0 returned).  -1 where there is no one to ask (an unattended run, a
** program without windows): the caller waits on its own terms. */
int WaitForOtherProgram(const char *path, int (*retry)(void *user), void *user);

/* ---- wait cursor, panels, frame and file chooser ----------------------------------------
** What loading, saving and calculating data ask of the windows.  No dialog or
** control id is known below the shell: the panel's controls are named by what
** they show.  The window shell implements them (win32/window_hooks.cpp,
** settings_panel.cpp, debug_panel.cpp); programs without windows have
** headless/window_routines_headless.cpp, where each does nothing (no panel,
** no frame, a chooser that is always cancelled). */

/* Opens (on 1) or closes (on 0) one level of the wait cursor: the first open
** shows the wait cursor and captures the mouse, the last close restores both.
** Headless: only the nesting count (gMessageState.waitNesting) is kept. */
void SetWaitCursor(int on);
/* Reads the settings panel's controls into the settings variables. */
void SettingsPanelToSettings();
/* Enables or greys the settings panel's controls; with forceRunning the panel
** is refreshed as if a task were running. */
void EnableSettingsPanelControls(int forceRunning);
/* Enables or greys the debug panel's buttons. */
void UpdateDebugPanelControls();
/* Asks the frame to refresh its menu and toolbar. */
void PostFrameRefresh();
/* Sets the run state and everything that shows it: the settings panel and the
** debug panel grey what cannot be used during a run (and come back after it),
** the run's status parts are cleared, and the frame refreshes its menu and
** toolbar; state 0 also clears the status bar and resets the frame title. */
void SetTestRunning(int state);
/* SetTestRunning's share that every shell has: the run state, and the
** status bar and title it clears (shell/services.cpp). */
void ShowRunState(int state);
/* The settings panel window, null when there is none. */
void *GetSettingsPanel();
/* Shows the DataFile setting in the settings panel's data-file control. */
void ShowDataFileInPanel();
/* Shows the ActiveScript setting in the settings panel's Active Script control. */
void ShowActiveScriptInPanel();
/* Shows the KeepTrades setting in the settings panel's Keep Trades check box. */
void ShowKeepTradesInPanel();
/* Sets one of the settings panel's two date pickers, or the debug panel's. */
enum PanelDate { PANEL_FIRST_DATE = 0,
                 PANEL_LAST_DATE = 1,
                 PANEL_DEBUG_DATE = 2 };
void SetPanelDate(int panelDate, int32_t date);
/* Shows the settings' bar size in the settings panel and the bar count of
** their date range, the dates clamped to the loaded data; the panel is not
** read (a run's script may have set what the panel does not show). */
void UpdatePanelBarCount();
/* Puts path first in the data-file history (DataFileMRU, paths checked) and
** refills the panel's data-file combo box from it. */
void AddDataFileToHistory(const char *path);
/* The open (save 0) or save (save 1) file dialog: path[PATH_SIZE] is the initial
** name and receives the choice; folder[PATH_SIZE] (or null), when given empty, takes
** the path's folder as the place to start; typeName and extension name the
** filter ("%s Files (*.%s)"), and without an extension typeName points to the
** caller's filter index of the program's own file types.  Non-zero when a file
** was chosen. */
int BrowseForFile(char *path, char *folder, const char *title, const char *typeName, const char *extension,
                  int save);

/* ---- child windows ------------------------------------------------------------------ */

/* 1 when a child window of the frame with that window class is open. */
int FindChildWindow(const char *className);
/* Closes (WM_CLOSE) every child window of that class; each frees what it holds. */
void CloseChildWindows(const char *className);

/* Registers a modeless find dialog so the message loop passes it its keys
** (at most 13; beyond that "Sorry, but you can't have more than %d
** Find/Replace dialogs open at the same time." and 0), and takes it off again,
** keeping the used slots contiguous. */
int RegisterFindDialog(void *dialog);
void UnregisterFindDialog(void *dialog);

/* ---- log -------------------------------------------------------------------------- */

/* Appends one entry to the run's test log when open, else to the program log;
** entries are separated by "\r\n" (none while gRun.logContinueLine is set). */
void LogPrintf(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* Opens the text file in a log window, or activates the window showing it; 1/0. */
int OpenLogFile(const char *path);
/* Shows a CSV file as a table in a List window titled "<caption> - <path>"
** (caption null: "CSV File"), replacing an older list of the same title; 1/0. */
int OpenCsvAsList(const char *caption, const char *path);
struct FormulaSlot;
/* The header of a debug trace: 60 dashes, then the symbol, the run's bar size,
** the date in the display format and the formula's text (at most 255
** characters; "n/a" without a formula). */
void LogDebugHeader(int date, const char *symbol, const FormulaSlot *formula);

/* ---- folders, history lists, start-up rules -------------------------------------------- */

/* Info, Logs and Reports under the output folder; 0 after reporting (result
** code 3) when one does not exist after creating it (a missing parent, no
** access, a file of that name), or when its path would be longer than a
** path holds (259 letters; then nothing is created). */
int CreateOutputFolders();

/* The program's folders at start-up: Scripts, Data and Output under the
** program folder when the settings name none, each created (a folder that
** cannot be made falls back to the program folder), copied into
** gScriptsFolder, gDataFolder and gOutputFolder, then CreateOutputFolders. */
void SetUpProgramFolders();

/* The history rule: drops entries equal to newText (case ignored) and, when
** checking paths, entries missing on disk; drops the oldest until newText fits
** in 2048 bytes; puts newText first (null newText only cleans the list). */
void UpdateHistoryList(char *history, const char *newText, int checkPaths);
/* UpdateHistoryList, then the combo box refilled with at most 10 entries; with a
** dialog, path checking and a history other than the data-file history, the
** text is also added to the recent-files history. */
void UpdateHistoryCombo(void *dialog, int controlId, int checkPaths, const char *newText, char *history);
enum { HISTORY_SHOWN = 10 };

/* min(setting or the processor count, the processor count, 32). */
int ComputeWorkerCount(int setting, int processors);

/* ---- script editor windows and the views a compile refreshes ------------------------ */

struct CompilerState;

/* Opens the script at path in an editor (or brings its window forward) and
** selects length characters from offset, the caret at the span's end and its
** line in view: where a compile error takes the user.  Headless: nothing. */
void ShowScriptSpan(const char *path, int32_t offset, int32_t length);
/* The script editor window showing path (case ignored), or null. */
void *FindScriptWindow(const char *path);
/* Opens the script in an editor window, or brings its window forward; the
** window, or null when none could be opened (reported) or the program has no
** editor windows (the headless shell offers only those a test pretends are
** open). */
void *OpenScriptWindow(const char *path);
/* Saves the window's text to its file with the numbered backup; 0 when the
** save failed or was refused. */
int SaveScript(void *window, int saveAs);
/* The active window when it is a script editor holding an untitled script, or null. */
void *GetEmptyActiveScriptWindow();
/* The editor window's own name-scan record. */
CompilerState *ScriptWindowState(void *window);
/* Sends an editor message to the window's editor control; its result.
** Used: EDITOR_GET_LENGTH, EDITOR_GET_TEXT (wparam room incl. the NUL,
** lparam the buffer), EDITOR_APPEND_TEXT (wparam the length, lparam the
** text), EDITOR_DOCUMENT_END (caret to the end of the document). */
enum { EDITOR_GET_LENGTH = 2006,
       EDITOR_GET_TEXT = 2182,
       EDITOR_APPEND_TEXT = 2282,
       EDITOR_DOCUMENT_END = 2318 };
intptr_t EditorCall(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam);
/* Recalculate or redraw every window of a kind after its default section
** script changed. */
void RecalculateAllResults();
void RefreshAllResGraphs();
void RefreshAllGraphs();
void RefreshAllTradeLists();
void RefreshAllCharts();

/* ---- the views a run drives ---------------------------------------------------------- */

/* The whole scan run of the active script (run mode 2); its result. */
int RunScan();
