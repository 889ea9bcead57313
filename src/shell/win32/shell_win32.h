/* shell_win32.h -- the window shell's shared records: the window-kind table,
** the frame's state and the routines the shell's files call on each other.
**
** Owns:       gWindowKinds (12 rows, row 0 the frame), gFrame (the frame's
**             windows, the active child and kind, the modeless-dialog
**             registry, the start-up words).
** Threads:    UI thread only, except the version check, which only posts to
**             the frame.
** Platform:   Windows only.
*/
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "resource_ids.h"

/* The system's ReplaceFile macro would rename the file helpers' record. */
#undef ReplaceFile

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

struct WindowKind {
    const char *className; /* "" for the frame */
    uint32_t iconId;
    uint32_t menuId;
    HMENU menu;                 /* loaded at start-up */
    const char *label;          /* title of the kind's own popup */
    uint32_t focusChild;        /* 1: activation focuses the first child control */
    uint32_t helpId;            /* help context of the kind's popup */
    KindCommandHandler command; /* null for the frame */
};
extern WindowKind gWindowKinds[WK_COUNT];

/* The row whose class equals the window's class exactly, or -1. */
int FindWindowKind(HWND window);

/* ---- frame state ------------------------------------------------------------------- */

enum { MODELESS_SLOTS = 15,
       MODELESS_FIRST_FIND = 2,
       WM_FRAME_REFRESH = WM_USER + 1,
       WM_VERSION_ANSWER = WM_USER + 2 };

struct FrameState {
    HINSTANCE instance;
    HWND frame, mdiClient, rebar, toolbar, tabs, statusBar, settingsPanel, debugPanel, findInFiles;
    HWND activeChild; /* null when no child is active */
    int activeKind;   /* row of the active child, -1 none */
    HMENU frameMenu;  /* row 0's menu */
    int fChildMaxed;  /* new children open maximised */
    HWND focusOnDeactivate;
    int helpContext;  /* of the last opened popup */
    int helpAnswered; /* a window answered F1 with its own topic */
    char imageFolder[260]; /* last folder of Save Image as PNG */
    HACCEL accelerators;
    HWND modeless[MODELESS_SLOTS]; /* 0 settings panel, 1 debug panel, 2..14 find dialogs */
    int manualCheck;               /* Check for Updates was chosen */
    int checkRunning;              /* a version check owns its connection */
    int firstRun, exitAfterBatch;
    char settingsPath[260];
    char helpPath[260];
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

/* ---- start-up (winmain.cpp) ---------------------------------------------------------- */

int InitApplication(HINSTANCE instance);
LONG WINAPI CrashHandler(EXCEPTION_POINTERS *info);
extern const char kVersionText[];
extern const int kBuildDate;

/* ---- frame (frame.cpp) ------------------------------------------------------------------ */

LRESULT CALLBACK FrameWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int DispatchFrameCommand(int commandId);
int OpenFileByType(const char *path, int left, int top, int width, int height);
void RestoreOpenFiles(const char *settingsPath);
int QuerySaveAll(int closing);
LRESULT SendToActiveChild(UINT message, WPARAM wParam, LPARAM lParam);
void LayoutFrame();
/* The help file at a topic (nothing when the help viewer is missing). */
void OpenHelp(int context);
/* The handed-over command line of a second start: each file named opens. */
int OpenHandOffText(const char *text);
extern const char kUpdateServer[];
extern int gNextLogX, gNextLogY; /* placement of the next log window (restored files) */

/* ---- message pump, status bar, MDI helpers (pump.cpp) -------------------------------------- */

int DispatchAppMessage(MSG *message);
HWND CreateMdiChild(const char *className, const char *title, DWORD style, int x, int y, int width, int height,
                    void *param);
int FindNextChildWindow(HWND *slot, const char *className);
void ActivateMdiAncestor(HWND window);
void OnMdiChildActivate(HWND child, HWND deactivated, HWND activated);
void TrackChildMaximized(HWND child, WPARAM sizeType);
HWND GetFocusedEditor();
INT_PTR CALLBACK WindowListDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PopupNoticeWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SetStatusParts();
int StatusPartCount();

/* ---- toolbar and tabs (toolbar_tabs.cpp) ------------------------------------------------ */

enum { TOOLBAR_BUTTONS = 38 };
struct ToolbarButton {
    int commandId;     /* 0 separator */
    const char *label; /* shown beside the image, or null */
};
extern const ToolbarButton kToolbarButtons[TOOLBAR_BUTTONS];
int CreateToolbar(HWND frame);
void RecolorBitmapWhite(HBITMAP bitmap, COLORREF colour);
int CreateWindowTabs(HWND frame);
int GetWindowTabTitle(HWND window, char *out, int size, int *kindIndex, int *tabIndex);
void DrawWindowTab(const DRAWITEMSTRUCT *item);
void ActivateTabWindow();
void UpdateWindowTab(HWND window);
void RemoveWindowTab(HWND window);
LRESULT HandleTabNotify(NMHDR *header);
int HandleTabMouse(UINT message, WPARAM wParam, LPARAM lParam);
int FindTabIndex(HWND window);

/* ---- menus (menus.cpp) ------------------------------------------------------------------- */

void UpdateFrameMenus(HWND frame, int full);
void EnableCommand(HMENU menu, int commandId, int enabled);
void UpdateRecentFilesMenu(HMENU filePopup, char *recentFiles);
int UpdateEditMenu(HMENU editPopup, int full);
void UpdateRunMenu(HMENU runPopup);
HMENU FindSubMenuByText(HMENU menu, const char *text);
void SetMenuItemBitmaps(HMENU popup);
void ShowTabContextMenu(LPARAM lParam);

/* ---- log and list windows ------------------------------------------------------------- */

LRESULT CALLBACK LogWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int LogCommand(HWND window, int commandId);
int OpenLogFile(const char *path);
HWND FindLogWindow(const char *path);
HWND GetLogWindow(char **buffer);
int SaveLog(HWND window, int saveAs);
int QueryCloseLog(HWND window, int ask);
int LogWindowPath(HWND window, char *out, int size);
int QuerySaveLogs(int ask);

LRESULT CALLBACK ListWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ListCommand(HWND window, int commandId);
int OpenCsvAsList(const char *caption, const char *path);
/* A filler's order: GetListWindow; title, list name, columns; AddBarRow or
** cells row by row; FinishListWindow. */
struct Bar;
HWND GetListWindow();
int AddBarRow(HWND listView, int row, const Bar *bar);
void FinishListWindow(HWND window, HWND listView);
void ChartListRow(HWND window);
/* The name the filler gave the list (its tab title); 0 when none. */
int ListWindowName(HWND window, char *out, int size);

/* ---- update check and about box (update_check.cpp) ---------------------------------------- */

void StartVersionCheck();
void RunUpdateCheck();
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- windows of other kinds, until they are built (shell_standins_win32.cpp) ---------------- */

LRESULT CALLBACK StandInChildWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK StandInPanelDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int StandInKindCommand(HWND child, int commandId);
