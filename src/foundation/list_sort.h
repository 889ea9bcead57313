/* list_sort.h -- the rules behind every list window that do not need a window:
** multi-key sort state, the arrows it shows, cell comparison and the number a
** cell stands for, the order of a find, and where a selection sits.
**
** Owns:       nothing; the sort state (two 128-byte arrays per list) belongs to
**             each list window.
** Sort keys:  priorities[c] is 0 when column c is not a key, else 1 for the first
**             key, 2 for the second ...; directions[c] is 0 ascending, 1
**             descending.  Only the first LIST_SORT_COLUMNS columns take part.
** Platform:   none; the list-view side is in win32/list_view.h.
** Threads:    UI thread (no state of its own).
*/
#pragma once
#include <cstdint>

enum {
    LIST_SORT_COLUMNS = 128, /* columns that can be sort keys */
    LIST_ARROW_KEYS = 4,     /* keys that show an arrow in the header */
    LIST_CELL_SIZE = 256     /* a cell's text as lists read it, with its NUL */
};

/* Where the first selected row sits (GetSelectionPlace). */
enum SelectionPlace {
    SELECTION_EMPTY = 0, /* the list has no rows */
    SELECTION_NONE = 1,  /* no list view, or no row selected */
    SELECTION_FIRST = 2, /* the first of several rows */
    SELECTION_MIDDLE = 3,
    SELECTION_LAST = 4, /* the last of several rows */
    SELECTION_ONLY = 5  /* the only row */
};

/* A header click on column (ignored from LIST_SORT_COLUMNS on).  A plain
** click makes the column the only key, flipping its direction when it was a
** key already, else ascending.  With shift a new column joins as the next key
** (ascending) and a key column flips its direction. */
void UpdateSortKeyState(int column, int shift, uint8_t priorities[LIST_SORT_COLUMNS],
                        uint8_t directions[LIST_SORT_COLUMNS]);
/* The header image of a column: 0 none, p for an ascending key of priority p
** (1..4), 4 + p for a descending one. */
int SortArrowImage(uint8_t priority, uint8_t direction);

/* The number a cell stands for: its yyyymmdd value when the whole cell is a
** date, else the cell without '$', '%', '(', ')' and ',' read as a decimal
** number ('%' divides by 100, '(' makes it negative; no number reads 0). */
double ParseListNumber(const char *text);
/* Compares two cells: as numbers (ParseListNumber, relative tolerance) when
** neither holds a letter, else as texts without regard to case.  -1, 0 or 1. */
int CompareListCells(const char *a, const char *b);
/* Compares two rows by the sort keys in priority order; the cell reader gives
** the text of a row's cell.  columnCount is capped at LIST_SORT_COLUMNS. */
typedef void (*ListCellReader)(void *user, int row, int column, char *out, int size);
int CompareListRows(int rowA, int rowB, int columnCount, const uint8_t *priorities, const uint8_t *directions,
                    ListCellReader read, void *user);

/* Puts order[0 .. count - 1] (row numbers) in the order of the sort keys,
** keeping rows that compare equal in the order they had: the order a stable
** sort by CompareListRows gives, but each key cell is read and the number it
** stands for worked out once, not at every comparison, so that a list of
** 100,000 rows sorts in a moment.  text gives the text of a row's cell (null
** reads as empty); cells are compared on their first LIST_CELL_SIZE - 1
** characters, as CompareListRows reads them.  0 when memory ran out (the
** order is as it was). */
typedef const char *(*ListCellSource)(void *user, int row, int column);
int SortListOrder(int32_t *order, int count, int columnCount, const uint8_t *priorities, const uint8_t *directions,
                  ListCellSource text, void *user);

/* SelectionPlace of the first selected row (-1 none) in a list of count rows. */
int SelectionPlaceOf(int count, int selected);
/* The row a find-next stops at, or -1: rows after the selected one to the end,
** then from the first row up to the one before the selected one (a selected
** row is not searched, except the first row, which the wrap reaches last);
** with none selected, every row from the first.  matches tells whether
** a row holds the text. */
typedef int (*ListRowMatcher)(void *user, int row);
int FindListRow(int count, int selected, ListRowMatcher matches, void *user);
/* 1 when any cell of the row holds the text, case ignored (a find's test). */
int CellHoldsText(const char *cell, const char *text);

/* Removes every separator character from a cell in place (copying a list
** must not split its cells); returns the new length. */
int RemoveSeparators(char *cell, char separator);

/* The keys a selection move presses: count -99999 Home, 99999 End, n >= 1
** Down n times, n <= -1 Up |n| times; with wrap a Down while the last row is
** selected is Home and an Up on the first row is End.  Fills the list with
** LIST_KEY_* codes and returns how many (at most max). */
enum { LIST_KEY_DOWN = 1,
       LIST_KEY_UP = 2,
       LIST_KEY_HOME = 3,
       LIST_KEY_END = 4 };
int ListSelectionKeys(int count, int wrap, int rowCount, int selected, int *keys, int max);

/* One saved control of a resizable dialog, and where it goes when the dialog
** has grown by dx, dy: moved right (move), grown both ways (stretch), else left
** alone.  A dialog smaller than its first size moves nothing (returns 0). */
struct LayoutRect {
    int32_t left, top, width, height;
};
int PlaceLayoutControl(const LayoutRect *saved, int move, int stretch, int dx, int dy, LayoutRect *out);
