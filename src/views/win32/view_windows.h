/* view_windows.h -- the seam between the window shell and the views' windows
** (results, trade list, scan, compare, statistics graph, trade plot, results
** graph, chart).  It is the one header of views/win32 that shell/win32
** includes, and the only way the views' windows reach the shell: nothing in
** this folder includes a header of shell/win32.
**
** From the shell (declared here, defined in shell/win32): the window-kind
** table and the frame's state, the MDI and tab bookkeeping, help, the list,
** log and script windows, the editor of a dialog and the chart and graph
** option dialogs.
** To the shell: the windows' procedures, commands and opening routines (the
** chart and graph windows below, the list windows in result_windows.h, the
** plot windows in plot_windows.h) and the shared drawing resources.
** Threads:    UI thread only.
** Platform:   Windows only.
*/
#pragma once
#include <windows.h>

#include "foundation/win32/window_text.h"
#include <commctrl.h>

#include <cstdint>

#include "platform/platform.h"
#include "resource_ids.h"
#include "views/win32/draw_resources.h"
#include "views/win32/plot_windows.h"
#include "views/win32/result_windows.h"

/* The system's ReplaceFile macro would rename the file helpers' record. */
#undef ReplaceFile

struct TestRecord;
struct EditorSettings;
struct SCNotification;

/* ---- window kinds ------------------------------------------------------------------ */

enum WindowKindRow {
    WK_FRAME = 0,
    WK_RESULTS = 1,
    WK_SCRIPT = 2,
    WK_LOG = 3,
    WK_GRAPH = 4,
    WK_PLOT = 5,
    WK_RESGRAPH = 6,
    WK_TRADES = 7,
    WK_SCAN = 8,
    WK_COMPARE = 9,
    WK_LIST = 10,
    WK_CHART = 11,
    WK_COUNT = 12
};

typedef int (*KindCommandHandler)(HWND child, int commandId);
struct KindMenuRule;
struct KindMenuFacts;
/* Reads what the kind's popup rules need of one of its windows; 0 leaves the
** popup as it is. */
typedef int (*KindMenuFactsReader)(HWND child, KindMenuFacts *facts);
/* The text a kind's tab shows in place of its window text; 0 when none. */
typedef int (*KindTabTitle)(HWND window, char *out, int size);
/* The item texts and checks of a kind's own popup that follow its window's
** state (full: a menu is about to open). */
typedef void (*KindMenuTexts)(HMENU popup, HWND child, int full);

struct WindowKind {
    const char *className; /* "" for the frame */
    uint32_t iconId;
    uint32_t menuId;
    HMENU menu;                    /* loaded at start-up */
    const char *label;             /* title of the kind's own popup */
    uint32_t focusChild;           /* 1: activation focuses the first child control */
    uint32_t helpId;               /* help context of the kind's popup */
    KindCommandHandler command;    /* null for the frame */
    const KindMenuRule *menuRules; /* the kind's popup rules (kind_menu_rules.h), or null */
    KindMenuFactsReader menuFacts; /* what the rules read of a window, or null */
    KindTabTitle tabTitle;         /* the kind's own tab title, or null: the window text */
    KindMenuTexts menuTexts;       /* the popup's state-dependent texts and checks, or null */
};
extern WindowKind gWindowKinds[WK_COUNT];

/* The row whose class equals the window's class exactly, or -1. */
int FindWindowKind(HWND window);

/* ---- frame state ------------------------------------------------------------------- */

enum { MODELESS_SLOTS = 15,
       MODELESS_FIRST_FIND = 2,
       WM_FRAME_REFRESH = WM_USER + 1,
       WM_VERSION_ANSWER = WM_USER + 2,
       WM_PANEL_COLOUR = 999 /* a panel's colour setting changed */ };

struct FrameState {
    HINSTANCE instance;
    HWND frame, mdiClient, rebar, toolbar, tabs, statusBar, settingsPanel, debugPanel, findInFiles;
    HWND activeChild; /* null when no child is active */
    int activeKind;   /* row of the active child, -1 none */
    HMENU frameMenu;  /* row 0's menu */
    int fChildMaxed;  /* new children open maximised */
    HWND focusOnDeactivate;
    int helpContext;       /* of the last opened popup */
    int helpAnswered;      /* a window answered F1 with its own topic */
    char imageFolder[PATH_SIZE]; /* last folder of Save Image as PNG */
    HACCEL accelerators;
    HWND modeless[MODELESS_SLOTS]; /* 0 settings panel, 1 debug panel, 2..14 find dialogs */
    int manualCheck;               /* Check for Updates was chosen */
    int checkRunning;              /* a version check owns its connection */
    int firstRun, exitAfterBatch;
    char settingsPath[PATH_SIZE];
    char helpPath[PATH_SIZE];
    HFONT uiFont; /* "Verdana" 8 points */
    int dpi;
    HIMAGELIST tabImages;
    int tabHot, tabInClose, tabTipVisible, tabDragging, tabPressed;
    RECT tabCloseSelected, tabCloseHot;
    HWND tabHotWindow;
    POINT tabLastCursor;
    UINT findMessage; /* "commdlg_FindReplace" */
};
extern FrameState gFrame;

/* ---- what the shell does for the views' windows (shell/win32) ---------------------------- */

/* MDI children (pump.cpp) and their tabs (toolbar_tabs.cpp). */
HWND CreateMdiChild(const char *className, const char *title, DWORD style, int x, int y, int width, int height,
                    void *param);
int FindNextChildWindow(HWND *slot, const char *className);
void OnMdiChildActivate(HWND child, HWND deactivated, HWND activated);
void TrackChildMaximized(HWND child, WPARAM sizeType);
void UpdateWindowTab(HWND window);
void RemoveWindowTab(HWND window);
/* The help file at a topic (nothing when the help viewer is missing). */
void OpenHelp(int context);

/* List windows (list_window.cpp). */
/* The messages every list-type child (list, results, trade list, scan,
** compare) answers alike: tab and activation bookkeeping on WM_DESTROY, the
** saved size, focus to the list view, help, Find.  1 when answered. */
int ListChildMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int *savedWidth, int *savedHeight,
                     int helpTopic, LRESULT *result);
/* A filler's order: GetListWindow; title, list name, columns; AddBarRow or
** cells row by row (SetListCell, rows 0, 1, 2, ... in turn); FinishListWindow.
** The list window keeps the rows (its list view is a virtual one). */
struct Bar;
HWND GetListWindow();
int AddBarRow(HWND listView, int row, const Bar *bar);
/* One cell of the list window's rows: a row number one past the last starts
** a new row; a column beyond those the first row saw is not kept. */
void SetListCell(HWND listView, int row, int column, const char *text);
/* A row's item data (a bar row: its date). */
void SetListRowData(HWND listView, int row, int64_t data);
void FinishListWindow(HWND window, HWND listView);
/* The list's name (its tab title and the file name of its exports). */
void SetListWindowName(HWND window, const char *name);
/* A centred column of 96 pixels at position column. */
void AddCentredListColumn(HWND listView, int column, const char *heading);

/* Log, script and debug panel. */
int OpenLogFile(const char *path);
/* Opens path (null or "(untitled)": a new script from the newscript
** template) or the script of test; 1 or 0. */
int OpenScript(const char *path, TestRecord *test);
/* The test whose script a script window shows, or null. */
TestRecord *ScriptWindowTest(HWND window);
/* The debug panel's date picker shows DebugDate. */
void ShowDebugPanelDate();

/* The editor of a dialog (editor_host.cpp): the settings fill from the user
** settings (font, colours, tab width, window size); AttachEditor binds the
** dialog's existing control, 1 or 0, and DetachEditor frees its record. */
extern EditorSettings gScriptEditorSettings;
void LoadEditorSettings();
int AttachEditor(HWND dialog, int controlId, EditorSettings *settings);
void DetachEditor(HWND dialog);
intptr_t EditorSend(HWND host, uint32_t message, uintptr_t wparam = 0, intptr_t lparam = 0);
void ApplyEditorSettings(HWND host);
void OnEditorNotify(HWND host, SCNotification *notification);
void ShowEditorHelp(HWND host);

/* The chart and graph option dialogs and the Show Chart dialog (view_dialogs.cpp). */
INT_PTR CALLBACK ChartOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK GraphOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
/* The Show Chart dialog; lParam 1 when opened from a chart (it then changes
** the first plain chart's symbol). */
INT_PTR CALLBACK ChartChangeSymbolDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- chart windows (chart_window.cpp) ------------------------------------------------ */

struct ChartWindow;
struct SymbolRecord;
/* Opens a chart (show mode -1: drawn once hidden for ImageRequest, 0: a new
** window, 1: the owner's chart window reused); the window, or null. */
HWND OpenChart(const char *symbolName, int32_t date, int32_t kind, void *tradeLink, HWND owner, TestRecord *ownerTest,
               int showMode, int activate);
void ChangeChartSymbol(HWND window, ChartWindow *chart, SymbolRecord *symbol);
HWND FindChartWindow(HWND owner);
void CloseChartWindows(HWND owner);
void RefreshChartWindows();
void ScaleChart(ChartWindow *chart, int32_t zoom, int32_t scroll);
void UpdateChartScrollBar(ChartWindow *chart);
void SetChartCursorAtX(HWND window, int x);
/* Recomputes the cross-hair from the mouse at (x, y) (-1, -1: gone). */
void InvalidateChartCursor(HWND window, ChartWindow *chart, int x, int y);
int ChartCommand(HWND window, int command);
/* The visible bars and the drawn series of the chart in the List window. */
void ShowChartDataWindow(ChartWindow *chart);
LRESULT CALLBACK ChartWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- statistics graph windows (graph_window.cpp) ---------------------------------------- */

struct ResultsWindow;
/* Opens the statistics graph of a test (mode 1: reusing the open graph
** window, 0: a new one, -1: the report images of the marked formulas, no
** window kept); the window, or null. */
HWND OpenStatsGraph(ResultsWindow *results, TestRecord *test, int mode);
/* Selects (index -1 keeps), recalculates and redraws; -1 keeps a subset bound. */
int RefreshGraph(HWND window, int32_t index, int32_t subsetFirst, int32_t subsetLast, int clearCache);
int GraphCommand(HWND window, int command);
/* Puts the cursor on the point under x (hidden left of the second point's
** segment or right of the last point); *refresh asks for a recalculation. */
int SetGraphCursorAtX(HWND window, int x, int *refresh);
LRESULT CALLBACK GraphWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/* Hands the live graph to the run. */
void InstallGraphViewHooks();
