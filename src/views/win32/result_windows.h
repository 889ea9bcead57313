/* result_windows.h -- the list windows of the results: the results window
** (one per results list), the trade list and scan windows (virtual lists
** over a CellListWindow), the compare window and their dialogs.
**
** Owns:       the map from results lists to their windows.  Each window's
**             record hangs at its user data: the results list, the
**             CellListWindow, the CompareWindow.
** Start-up:   InstallResultsViewHooks gives the run the trade list, the
**             test-list export and the closing of a freed test's views;
**             StartResultWindows installs the report and scan hand-offs and a
**             timer that shows each results list the engine opened or
**             changed, and each finished scan, in its window.
** Threads:    UI thread only.  Platform: Windows only.
*/
#pragma once
#include <windows.h>
#include <commctrl.h>
#undef ReplaceFile /* the file helpers have a record of that name */

#include <cstdint>

struct TestRecord;
struct ResultsWindow;

LRESULT CALLBACK ResultsWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TradeListWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ScanWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CompareWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ResultsCommand(HWND window, int commandId);
int TradeListCommand(HWND window, int commandId);
int ScanCommand(HWND window, int commandId);
int CompareCommand(HWND window, int commandId);

/* Installs the run's hand-offs to the results windows (at start-up). */
void InstallResultsViewHooks();
/* Installs the hand-offs and the refresh timer (after the frame exists). */
void StartResultWindows();
/* Loads a results file into a window (path null: a new, empty window); 1/0. */
int OpenResultsWindow(const char *path);
/* The window showing a results list, or null. */
HWND FindResultsHwnd(const ResultsWindow *list);
/* Brings every results window up to date with its list. */
void SyncResultsWindows();
/* Opens the trade list of a test; the window, or null when it was only
** saved to the export path or could not be made. */
HWND OpenTradeList(TestRecord *test);
/* Shows the last scan's rows in a scan window (the scan target is then
** replaced by a fresh one); null when there was none. */
HWND FinishScanWindow();
/* The Compare Trade Lists dialog over the tests of the results window it is
** opened from; refresh: the compare window to refresh (its tests' results
** window then), or null. */
INT_PTR ShowCompareDialog(HWND results, HWND refresh);
/* The first window (of the class, when one is given) that shows the test:
** its trade list, a comparison of it, its statistics graph or trade plots, a
** chart of one of its trades or compare rows, a results graph of its results
** list (results null: none), or a window whose record is the test. */
HWND FindTestViewWindow(const ResultsWindow *results, const TestRecord *test, const char *className);
/* What a list window (results, trade list, scan, compare) does with the
** events of its list view; a null entry does nothing with its event. */
struct ListViewEvents {
    const char *(*cellText)(HWND window, int row, int column); /* virtual lists: a cell's text */
    LRESULT (*customDraw)(HWND window, NMLVCUSTOMDRAW *draw);
    void (*sort)(HWND window, int column);         /* a header click */
    void (*selected)(HWND window, LPARAM item);    /* a row newly selected (its item data) */
    void (*open)(HWND window, int control);        /* Enter or a double-click; control: Ctrl held */
    void (*key)(HWND window, const NMLVKEYDOWN *key); /* any other key */
};
/* The one handler of the list windows' list-view notifications: a header
** divider's double-click fits its column, Ctrl+C copies the list, and every
** other event goes to the window's own entry. */
LRESULT OnListViewNotify(HWND window, NMHDR *header, const ListViewEvents *events);
/* Moves the results list's selection by delta rows (no wrap) and runs the
** command on the test then selected (graph and plot windows step with it). */
void RunResultsActionOnRow(HWND window, int delta, int command);
/* A list row in the debug panel (opened when hidden): its date and symbol
** and, for a trade, its test ("%.4d:%s") and strategy (null: left alone). */
void ShowRowInDebugPanel(const char *symbol, int32_t date, const TestRecord *test, const char *strategy);
/* Writes the PNG of a scan row's chart (the chart image writer). */
struct ListCell;
int WriteScanRowChart(const ListCell *row, const char *path);
/* The results list a results window shows, or null. */
ResultsWindow *ResultsListOf(HWND window);
/* Asks every results window with unsaved tests to save them (ask 0: saves
** without asking); 0 when one was cancelled or its save failed. */
int QuerySaveResultsWindows(int ask);
/* The first selected test of a results window and its row, -1 when none. */
int GetSelectedTest(HWND window, TestRecord **test);
