/* trade_rows.h -- the rows of a trade list: 13 fixed columns and the shown
** columns of the script's Trades section, whose formulas are evaluated per
** trade on worker threads.  A Trades column marked as a filter drops the
** trades for which it is exactly 0.
**
** Owns:       gTradeListCancel, set when the user cancels a computation.
** Rows:       workers append rows in the order they finish them; the list is
**             then sorted (the Trades section's sort list, else by trade
**             number), so the display order does not depend on the workers.
** Threads:    BuildTradeList runs on the UI thread and joins its workers;
**             worker k evaluates on node copy k and writes only its own
**             results; only the row append is locked.
*/
#pragma once
#include <atomic>
#include <cstdint>

#include "views/scan_run.h"

struct EvalContext;
struct TradeRecord;

enum {
    TRADE_FIXED_COLUMNS = 13,
    TRADE_LIST_MAX_WORKERS = 32,
    TRADE_LIST_PROGRESS_MIN = 100, /* more trades than this show progress */
    SORT_SPEC_MAX = 254            /* characters of a sort list */
};

/* Fixed columns by name; the Strategy column carries the strategy colour. */
enum TradeColumn {
    TRADE_COL_TRADE = 0,
    TRADE_COL_STRATEGY = 1,
    TRADE_COL_SYMBOL = 2,
    TRADE_COL_SIDE = 3,
    TRADE_COL_DATE_IN = 4,
    TRADE_COL_TIME_IN = 5,
    TRADE_COL_QTY_IN = 6,
    TRADE_COL_PRICE_IN = 7,
    TRADE_COL_DATE_OUT = 8,
    TRADE_COL_TIME_OUT = 9,
    TRADE_COL_QTY_OUT = 10,
    TRADE_COL_PRICE_OUT = 11,
    TRADE_COL_REASON = 12
};
extern const char *const kTradeColumnNames[TRADE_FIXED_COLUMNS];

extern std::atomic<int> gTradeListCancel;

/* How a shown Trades column of a list shows its values, as compiled when the
** list was computed: a later compile leaves an open list as it was. */
struct TradeValueColumn {
    int32_t format;         /* display format code */
    int32_t decimals;
    int32_t negativeParens; /* negatives in parentheses, and red */
};

/* "n/a", "open", "intraday", "close" for timing codes 0..3, "n/a" otherwise. */
const char *GetTimingText(int32_t code);

/* Sets the list's headings (the fixed names, then the shown Trades
** headings) and column count; the column count, 0 when memory runs out. */
int32_t InitTradeColumns(CellListWindow *list);

/* Points the context at the trade: its test, strategy, bar size, the later
** of its dates at the close, the test's row of that date and its symbol.
** 1 when the symbol is loaded and has a bar there; else the calendar stands
** in and the result says whether it has a bar. */
int SetTradeContext(EvalContext *context, TestRecord *test, TradeRecord *trade);

/* What may cut a computation of the list short.  A list shown in a window
** stops at the run's stop and at Escape, and its window says how far it got.
** A list written to a file is the answer of a test that is already done: a
** stop of the run that made the test does not cut it, and only Escape, the
** user's cancel of the export itself, does (the file is then not written). */
enum TradeListUse { TRADE_LIST_SHOWN = 0, TRADE_LIST_FOR_FILE = 1 };

/* Computes every row of list->test with workers threads (0: the worker-thread
** count), sorts them and sets the incomplete and filtered flags.  1 when
** complete, 0 when cancelled (the rows so far stay) or when the arrays could
** not be sized (no rows). */
int BuildTradeList(CellListWindow *list, int32_t workers, TradeListUse use = TRADE_LIST_SHOWN);

/* Applies a sort list ("-Side,Trade": names with an optional '+' or '-', at
** most 128 of them, at most SORT_SPEC_MAX characters, the rest ignored) to
** the list's columns, matching each heading with its white space removed. */
void SetListSort(CellListWindow *list, const char *sortText);

/* The cell of a trade list's stored row, made from the row's trade and
** values (the Trade column's cell carries the trade index). */
void ReadTradeListCell(const CellListWindow *list, uint32_t stored, int32_t column, ListCell *out);
/* Two stored rows of a trade list compared by one column's cells (numbers,
** or texts without regard to case): below, at or above 0.  SortListRows
** sorts a trade list by it. */
int CompareTradeListCells(const CellListWindow *list, uint32_t a, uint32_t b, int32_t column);

/* 1 when the Trades column's formula reads anything beyond the trade's own
** values, the test's parameters, constants and the functions of them: the
** loaded data.  Such a column has no value while no data file is loaded. */
int TradesColumnNeedsData(const FormulaColumn *column);
/* The headings of the shown and filter Trades columns that need the data,
** ", "-separated, into out; the number of them. */
int32_t ListTradesColumnsNeedingData(char *out, int size);

/* "Trade List - Test %d - %s Trade%s%s%s" of the list. */
void FormatTradeListTitle(const CellListWindow *list, char *out, int size);
