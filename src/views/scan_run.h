/* scan_run.h -- the scan run over symbols and dates, and the cell lists
** that scan and trade list windows show.
**
** Owns:       nothing between runs.  A CellListWindow belongs to the window
**             that shows it (FreeListWindow frees it); RunScan fills the
**             list named by gScanTarget (a list of its own where there is
**             none, saved to SaveScanAs as the window saves it), or with
**             ScanNoWindow writes each row straight to SaveScanAs.  The
**             file is replaced only once complete, heading alone when the
**             scan finds nothing.
** Cells:      a text result keeps its text (format LIST_FORMAT_TEXT); a
**             formula without a value gives NaN, shown "n/a".
** Invariants: a list holds rowCount rows of columnCount cells in the order
**             they were added; rowIndex permutes them (sorting moves only
**             rowIndex).  Both arrays grow to 2n + 2 rows.  A trade list
**             keeps no cells: each row's trade and the values of its Trades
**             columns (trade_rows.h), its cells made when read.
** Errors:     RunScan returns 0 for a finished or stopped scan, -1 after
**             reporting a failure.  A row that cannot be stored is dropped.
** Threads:    RunScan runs on the UI thread and starts the workers; workers
**             add rows under the list's lock when there are several.  The
**             program-wide random seed is read, never written, by workers.
*/
#pragma once
#include <cstdint>
#include <mutex>

struct EvalContext;
struct FormulaColumn;
struct TestRecord;
struct TradeValueColumn;

enum {
    LIST_CELL_TEXT_SIZE = 80,
    LIST_MAX_SORT_COLUMNS = 128,
    LIST_FORMAT_TEXT = 8, /* format code of a cell that sorts by text */
    LIST_KIND_TRADES = 5,
    LIST_KIND_SCAN = 7,
    LIST_KIND_TEST_SCAN = 18,
    SCAN_MAX_WORKERS = 32,
    SAVE_PUMP_ROWS = 4096 /* rows SaveCellListCsv writes between two looks at the messages */
};

struct ListCell {
    char text[LIST_CELL_TEXT_SIZE];
    double number;
    int32_t tradeIndex;
    int32_t formatCode; /* 0..7 display format, LIST_FORMAT_TEXT for text */
    int32_t negativeColour;
    int32_t symbolIndex;
    int32_t date;
};

struct CellListWindow {
    ListCell *cells;    /* tracked; rows x columnCount (scans) */
    uint32_t *rowIndex; /* tracked; scans: first cell of each row; trade lists: the row as stored */
    int32_t columnCount;
    int32_t rowCount;
    int32_t rowIndexCapacity;
    int32_t cellRowCapacity;
    int32_t busy;
    int32_t filtered;
    int32_t incomplete;
    uint8_t sortPriorities[LIST_MAX_SORT_COLUMNS];
    uint8_t sortDirections[LIST_MAX_SORT_COLUMNS];
    char (*headings)[LIST_CELL_TEXT_SIZE]; /* tracked; one per column */
    char (*names)[LIST_CELL_TEXT_SIZE];    /* tracked; item name of each column, "" for the fixed ones */
    int32_t listKind;
    TestRecord *test;
    std::mutex *lock; /* set while several workers add rows */
    /* Trade lists: what their cells are made from when shown or written.  A
    ** row is a trade and the values of the shown Trades columns; a column's
    ** text results are kept in texts, and only once a formula gives one. */
    int32_t *rowTrades;               /* tracked; the trade index of each stored row */
    double *tradeValues;              /* tracked; stored rows x valueColumnCount */
    uint32_t *textAt;                 /* tracked, made at the first text; as tradeValues, text offset + 1, 0 none */
    char *texts;                      /* tracked; the text results, each ended by a zero */
    uint32_t textsUsed, textsCapacity;
    TradeValueColumn *valueColumns;   /* tracked; how each shown Trades column shows its values */
    int32_t valueColumnCount;
};

/* The list a windowed scan fills (the scan window's record); null where
** there is no scan window: the scan then fills a list of its own and saves
** it to SaveScanAs as the window would. */
extern CellListWindow *gScanTarget;
/* The window program's end of a windowed scan, called once its rows are
** sorted: shows them in the scan window and saves its SaveScanAs file and
** SaveChartsTo pictures.  Null where there is no scan window. */
extern void (*gScanWindowFinisher)();
/* 1 in a batch that ends the program: its scan windows close with it, so a
** scan that would have one must name its SaveScanAs file. */
extern int gScanWindowGoesWithBatch;

/* Saves the list's rows in their shown order as the list windows save
** theirs (the column headings first unless omitHeading, cells with their
** commas removed, lines ended by "\r\n"); 1, or 0 after reporting (result
** code 3).  The file is written a piece at a time: the text of a list of
** millions of trades is never held whole beside the list, and the window
** answers every SAVE_PUMP_ROWS rows: the list must be one no window shows
** (nothing the messages do may change it).  createMessage,
** when given, is what a file that cannot be created reports ("%s" the path). */
int SaveCellListCsv(const CellListWindow *list, const char *path, int omitHeading, const char *createMessage = nullptr);

/* The whole scan run of the active script; 0 finished or stopped, or when
** only its file could not be written (reported, file-error code set); -1
** failed. */
int RunScan();
/* The scan list (gScanTarget, or where there is no scan window one of its
** own) emptied and set up for the TestScan columns, for the rows of one
** test; null when there is nothing to show, or no window and no SaveScanAs
** to keep the rows in (said, and the run's code set to 8). */
CellListWindow *OpenTestScanList();
/* The end of a test's TestScan rows: sorted as a scan's, then saved to
** SaveScanAs where there is no scan window, or handed to the window's
** finisher. */
void FinishTestScanList(CellListWindow *list);
/* Adds the TestScan rows of the context's date to list, on the calling
** thread: each symbol with a bar on the date is evaluated with the strategy
** that holds it (FindSymbolStrategy).  The context itself is left as it was. */
void ScanTestDate(CellListWindow *list, const EvalContext *context);
/* Sorts the row index by the sort keys (a scan list starts with the
** section's Sort). */
void SortListRows(CellListWindow *list);
/* Frees the list's arrays (the record itself stays with its owner). */
void FreeListWindow(CellListWindow *list);
/* The cell of a row in list order, or null.  A trade list's cell is made
** when asked for, into a cell of the calling thread that the next call on
** that thread replaces. */
const ListCell *GetListCell(const CellListWindow *list, int32_t row, int32_t column);
