/* list_view.h -- the window-level routines every list window and resizable
** dialog uses: fitting columns, sort arrows, find-in-list, moving and reading
** the selection, copying a list to the clipboard or a CSV file, dialog layouts,
** centring, and the folder chooser.
**
** A "list window" is an MDI child whose list view is its child with control id
** LIST_VIEW_ID (or, failing that, its first child).
** Owns:       the shared header image list of the sort arrows, the find state
**             of the five list window kinds, gOmitListHeading.
** Threads:    UI thread only.  Platform: Windows only.
*/
#pragma once
#include <windows.h>
#include <commctrl.h>
#undef ReplaceFile /* the file helpers have a record of that name */

#include <cstdint>

#include "platform/platform.h"

enum { LIST_VIEW_ID = 999 };

/* One control of a resizable dialog (entry 0: the dialog, with its first
** size); the array ends with an entry that is all zero. */
struct DialogLayout {
    HWND window;
    uint32_t controlId;
    int32_t left, top, width, height;
    uint32_t stretch, move, combo;
};

/* A list window that keeps its rows itself (its list view asks it for the
** cells it shows) answers WM_LIST_CELL_READER with a ListCellText that reads
** them, so that a copy, a CSV file or a find goes through a list of any
** length at the cost of its texts, not of a message per cell.  The text is
** read at once; null reads as empty. */
typedef const char *(*ListCellText)(HWND listWindow, int row, int column);
enum { WM_LIST_CELL_READER = WM_APP + 0x4C1 };

/* Set while a scan's CSV output is saved without its heading row. */
extern int gOmitListHeading;

int IsRadioButton(HWND window);
/* The layout of the dialog's controls; stretchIds ends with 0.  Null when
** memory fails.  Free with FreeMemory. */
DialogLayout *SaveDialogLayout(HWND dialog, const int *stretchIds);
void ResizeDialogLayout(DialogLayout *layout);
HDC GetMenuFontDC(HWND window, HGDIOBJ *oldFont);
/* The width a column needs for its header to draw the whole heading and,
** on a sort key, its arrow; 0 when the header has no such column. */
int HeaderNeededWidth(HWND header, int column);
/* Fits a column to its heading and its cells' texts: every row's in a list
** of up to 1000 rows, else the rows in sight. */
void FitColumnWidth(HWND listView, int column, HDC dc);
void AutoSizeColumns(HWND listView);
/* Widens (never narrows) each column whose cells in rows [first, end) do
** not fit: a list that grows measures only the rows it gained. */
void WidenColumnsToRows(HWND listView, int first, int end);
/* Called as the list view paints: when its top row moved since the last
** call, widens (never narrows) each column whose cells now in sight do not
** fit. */
void WidenColumnsOnScroll(HWND listView);
/* Removes what WidenColumnsOnScroll keeps with the list view (its last top
** row); every list window calls it as its list view goes. */
void ForgetRowsInSight(HWND listView);
void AutoSizeColumn(const NMHEADERA *header);
/* Routes a notice a list window receives: its list view's own notice gives
** the list view; its header's is answered here (a double-click on a divider
** fits that column) and gives null, as does any other control's. */
HWND ListViewOfNotice(HWND listWindow, const NMHDR *notice);
/* Every list view holds and hands out the system's wide letters: the
** program's texts (UTF-8) cross through PlatWideFromText and TextFromWide,
** as every box's do, so a cell, a heading and a copy show the letters the
** file or name holds (a text that is not UTF-8 reads as code page 1252).
**
** CreateListView makes a list window's list view (control id LIST_VIEW_ID,
** WS_EX_CLIENTEDGE, the given styles), with the sort arrows and the quick
** keys; a view of LVS_OWNERDATA asks its window for a cell's text by
** LVN_GETDISPINFOW, which the window answers with GiveListCellText. */
HWND CreateListView(HWND window, DWORD style, DWORD extendedStyle);
/* A cell's text (UTF-8; null reads as empty) into the list view's request,
** cut after the last whole letter that fits. */
void GiveListCellText(NMLVDISPINFOW *info, const char *text);
/* A cell's text as UTF-8 into out, cut before a letter that does not fit;
** 1 when it is whole. */
int GetListCellText(HWND listView, int row, int column, char *out, size_t size);
void SetColumn(HWND listView, const char *heading, int format, int column, int insert);
void SetItemText(HWND listView, int row, int column, const char *text);
/* A row of text in column 0 inserted at row; the row it took, -1. */
int InsertListItem(HWND listView, int row, const char *text);
HWND GetListViewOf(HWND listWindow);
int GetSelectionPlace(HWND listWindow);
int GetSelectedItem(HWND listWindow);
int SelectItem(HWND listWindow, int row);
/* No row of the list view selected or focused.  A single-selection list
** clears only the rows that were: clearing every row at once costs a pass
** over all of them on some systems. */
void ClearListSelection(HWND listView);
/* A single-selection list view moves its selection by the arrow, page,
** Home and End keys at the cost of the rows it leaves and reaches, whatever
** its length (the list windows call it as they make their list views). */
void KeepListKeysQuick(HWND listView);
void MoveListSelection(HWND listWindow, int count, int wrap);
/* target null: every row to the clipboard; (void *)-1: the selected rows to
** the clipboard; else an open PlatFile: every row to it, comma-separated. */
int CopyListView(HWND listWindow, void *target);
int SaveListCsv(HWND listWindow, const char *path);
void SizeChildToClient(HWND window, int repaint);
void CenterWindow(HWND window);
UINT_PTR CALLBACK FileDialogHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int BrowseForFolder(char *path, const char *title, int ignored, HWND owner);
/* Opens the find dialog (show) or finds the next match. */
void FindInList(HWND listWindow, int show);
void SetSortImageList(HWND listView);
void UpdateSortKeys(HWND listView, int column, uint8_t *priorities, uint8_t *directions);
/* Shows the first four keys' arrows in the header; the widths stay, but for
** a column too narrow for its heading beside its new arrow. */
void ShowSortArrows(HWND listView, const uint8_t *priorities, const uint8_t *directions);
/* The last folder a list was saved to as CSV. */
extern char gLastCsvFolder[PATH_SIZE];
