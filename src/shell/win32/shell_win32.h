/* shell_win32.h -- the routines the window shell's files call on each other.
** The window-kind table, the frame's state and the routines the views'
** windows call are declared in views/win32/view_windows.h, included here:
** the shell reaches the views' windows through that header alone.
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
#include "views/win32/view_windows.h"

/* The system's ReplaceFile macro would rename the file helpers' record. */
#undef ReplaceFile

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
/* The handed-over command line of a second start: each file named opens. */
int OpenHandOffText(const char *text);
/* Takes a second start's command line: 1 taken (the frame comes forward and
** the files open now, or, while a run is going, once the program is idle
** again, so that no run loses its data or its script), 0 refused (a batch
** copy takes none and stays where it is). */
int TakeHandOff(HWND frame, const char *text);
/* Opens what was handed over or dropped while a run was going, once nothing
** runs; called by the main loop. */
void OpenWaitingHandOffs();
/* Hands the command line of a second start to a copy that is running and
** takes it: 1 when one took it (the second start then ends), 0 when none did
** (it then runs as a copy of its own). */
int HandOffToRunningCopy(const char *commandLine);
extern const char kUpdateServer[];

/* ---- message pump, status bar, MDI helpers (pump.cpp) -------------------------------------- */

int DispatchAppMessage(MSG *message);
void ActivateMdiAncestor(HWND window);
HWND GetFocusedEditor();
INT_PTR CALLBACK WindowListDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PopupNoticeWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SetStatusParts();
int StatusPartCount();
/* Drops the progress texts kept for the status bar (a new bar has none). */
void ForgetStatusTexts();

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
HWND FindLogWindow(const char *path);
HWND GetLogWindow(char **buffer);
int SaveLog(HWND window, int saveAs);
int QueryCloseLog(HWND window, int ask);
int LogWindowPath(HWND window, char *out, int size);
int QuerySaveLogs(int ask);

LRESULT CALLBACK ListWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ListCommand(HWND window, int commandId);
/* Selection place and symbol column of a list window, for its popup rules. */
int ListMenuFacts(HWND window, KindMenuFacts *facts);
int OpenCsvAsList(const char *caption, const char *path);
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

/* ---- debug panel hooks (debug_panel.cpp) ---------------------------------------------------- */

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
