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
/* Opens a file in the window its extension calls for; with a width and a
** height above 0 that window is then placed at left, top (client coordinates,
** CW_USEDEFAULT keeps the system's corner).  1, or 0 after reporting. */
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
/* Wraps the toolbar's buttons onto as many rows as a frame of the given
** client width needs, and sizes its band to them. */
void FitToolbar(int width);
void RecolorBitmapWhite(HBITMAP bitmap, COLORREF colour);
/* Greys every pixel of a 24-bit DIB but the face colour's (below 32: a
** system colour index), as a disabled button shows its picture. */
void GreyBitmap(HBITMAP bitmap, COLORREF face);
int CreateWindowTabs(HWND frame);
int GetWindowTabTitle(HWND window, char *out, int size, int *kindIndex, int *tabIndex);
void DrawWindowTab(const DRAWITEMSTRUCT *item);
void ActivateTabWindow();
void UpdateWindowTab(HWND window);
void RemoveWindowTab(HWND window);
LRESULT HandleTabNotify(NMHDR *header);
int HandleTabMouse(UINT message, WPARAM wParam, LPARAM lParam);
int FindTabIndex(HWND window);
/* The kinds' own tab titles (KindTabTitle); 0 when the window has none yet. */
int ScriptTabTitle(HWND window, char *out, int size);
int GraphTabTitle(HWND window, char *out, int size);
int PlotTabTitle(HWND window, char *out, int size);
int TradesTabTitle(HWND window, char *out, int size);
int ResGraphTabTitle(HWND window, char *out, int size);
int CompareTabTitle(HWND window, char *out, int size);
int ChartTabTitle(HWND window, char *out, int size);

/* ---- menus (menus.cpp) ------------------------------------------------------------------- */

void UpdateFrameMenus(HWND frame, int full);
void EnableCommand(HMENU menu, int commandId, int enabled);
void UpdateRecentFilesMenu(HMENU filePopup, char *recentFiles);
int UpdateEditMenu(HMENU editPopup, int full);
void UpdateRunMenu(HMENU runPopup);
HMENU FindSubMenuByText(HMENU menu, const char *text);
void SetMenuItemBitmaps(HMENU popup);
void ShowTabContextMenu(LPARAM lParam);
/* Facts of a window whose first child is its editor, and of a list-like window. */
int EditorMenuFacts(HWND child, KindMenuFacts *facts);
int ScriptMenuFacts(HWND child, KindMenuFacts *facts);
void ScriptMenuTexts(HMENU popup, HWND child, int full);
int ListPlaceFacts(HWND child, KindMenuFacts *facts);
int ResultsMenuFacts(HWND child, KindMenuFacts *facts);
int CompareMenuFacts(HWND child, KindMenuFacts *facts);
/* The picture kinds' popups: Show/Hide texts, checks and states. */
void GraphMenuTexts(HMENU popup, HWND child, int full);
void PlotMenuTexts(HMENU popup, HWND child, int full);
void ChartMenuTexts(HMENU popup, HWND child, int full);
void ResGraphMenuTexts(HMENU popup, HWND child, int full);

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
/* The messages every list-type child (list, results, trade list, scan,
** compare) answers alike: tab and activation bookkeeping on WM_DESTROY, the
** saved size, focus to the list view, help, Find.  1 when answered. */
int ListChildMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int *savedWidth, int *savedHeight,
                     int helpTopic, LRESULT *result);
int ListCommand(HWND window, int commandId);
/* Selection place and symbol column of a list window, for its popup rules. */
int ListMenuFacts(HWND window, KindMenuFacts *facts);
int OpenCsvAsList(const char *caption, const char *path);
/* A filler's order: GetListWindow; title, list name, columns; AddBarRow or
** cells row by row; FinishListWindow. */
struct Bar;
HWND GetListWindow();
int AddBarRow(HWND listView, int row, const Bar *bar);
void FinishListWindow(HWND window, HWND listView);
/* The list's name (its tab title and the file name of its exports). */
void SetListWindowName(HWND window, const char *name);
/* A centred column of 96 pixels at position column. */
void AddCentredListColumn(HWND listView, int column, const char *heading);
void ChartListRow(HWND window);
/* The name the filler gave the list (its tab title); 0 when none. */
int ListWindowName(HWND window, char *out, int size);
/* The CSV file a list window shows ("" for a table a window filled); 0 when
** the window is no list window. */
int ListWindowPath(HWND window, char *out, int size);

/* ---- update check and about box (update_check.cpp) ---------------------------------------- */

void StartVersionCheck();
void RunUpdateCheck();
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- settings panel, option dialogs, debug panel ------------------------------------------------ */

INT_PTR CALLBACK SettingsPanelDlgProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);
/* The settings panel's height at a width: its resource height, plus a row
** for each row of fields wrapped because the width cannot hold them. */
int SettingsPanelHeight(int width);
/* 1 when no data is loaded, else whether the Data File control's text differs
** (case ignored) from the loaded data file's name. */
int IsDataFileNameChanged();
/* Clamps the panel's dates to the loaded data and shows the bar count. */
void UpdateBarCount(HWND panel);
/* The selected item's text into the edit field; with no selection, the item
** matching the edit text becomes selected. */
void SyncComboText(HWND combo);
/* Refills a combo with the first 10 entries of a history list, keeping its text. */
void FillHistoryCombo(void *dialog, int controlId, const char *history);
INT_PTR CALLBACK ProgramOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ReportOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DebugPanelDlgProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);
void EvalDebugFormula(HWND panel);
void ShowDataWindow(HWND panel, int button);
void ShowStatsWindow(HWND panel, int button);
/* The debug panel's date picker shows DebugDate. */
void ShowDebugPanelDate();
/* An empty log line; the first log window activated with the focus in it. */
void ShowDebugLog();

/* ---- the Optimizer dialog (optimizer_dialog.cpp) ------------------------------------------ */

INT_PTR CALLBACK OptimizerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
/* The parameter rows with their check boxes (initialize), or the boxes read
** back into the parameters' deselected flags. */
void FillOptimizerParamList(HWND dialog, int initialize);
/* Recomputes the test counts from the settings and shows them. */
void ComputeOptimizerTestCounts(HWND dialog);
/* Forgets the parameter choices of the last dialog. */
void ResetOptimizerDialogChoices();

/* ---- chart windows (chart_window.cpp) ------------------------------------------------ */

struct ChartWindow;
struct SymbolRecord;
struct TestRecord;
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
/* The run's hand-off to the debug panel after a test. */
void InstallDebugPanelHooks();

/* ---- chart and graph option dialogs (view_dialogs.cpp) ------------------------------------ */

struct DrawStyleSet;
typedef void (*ColorKeyBuilder)(int index, char *out, const char *text);
/* The colour list (control 1131) of an option dialog: one line per style in
** its colour, the key built with a blank separator. */
void SetupColorList(HWND dialog, DrawStyleSet *set, ColorKeyBuilder keyBuilder);
/* A click on a line's marker opens the colour chooser for that style; the new
** colour shows at once, the pens follow at the dialog's OK. */
LRESULT HandleColorListNotify(HWND dialog, NMHDR *notification);
INT_PTR CALLBACK ChartOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK GraphOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
/* The Show Chart dialog; lParam 1 when opened from a chart (it then changes
** the first plain chart's symbol). */
INT_PTR CALLBACK ChartChangeSymbolDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
