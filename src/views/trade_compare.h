/* trade_compare.h -- two trade lists side by side: the trades of one
** strategy of one test paired, symbol by symbol, with those of a strategy of
** another (or the same) test, with their differences in profit, percent gain
** and quantity.
**
** Owns:       nothing; a CompareWindow belongs to the window that shows it.
** Pairing:    a list-2 trade pairs with the list-1 trade of its symbol that it
**             overlaps best (same strategy name, then the nearest dates); a
**             trade nothing fits gets a row of its own.
** Errors:     BuildTradeComparison reports "A selected test and/or strategy
**             could not be accessed.", "No trades found for Test %d %s." and
**             "Comparison Cancelled"; the record it was given keeps its rows
**             until the new ones are complete.
** Threads:    UI thread (Escape and the stop request cancel).
*/
#pragma once
#include <cstdint>

#include "views/scan_run.h"

struct TradeRecord;

enum {
    COMPARE_COLUMNS = 23,
    COMPARE_ROW_GROWTH = 1000,
    COMPARE_NAME_SIZE = 200,
    COMPARE_TITLE_SIZE = 400
};

/* Columns by name: the two sides' columns are COMPARE_SIDE_FIRST[side] + k. */
enum CompareColumn {
    CMP_COL_DATE = 0,
    CMP_COL_SYMBOL = 1,
    CMP_COL_STRATEGY = 2, /* side 1; side 2 is + COMPARE_SIDE_STRIDE */
    CMP_COL_DATE_IN = 3,
    CMP_COL_QTY_IN = 4,
    CMP_COL_PRICE_IN = 5,
    CMP_COL_DATE_OUT = 6,
    CMP_COL_QTY_OUT = 7,
    CMP_COL_PRICE_OUT = 8,
    CMP_COL_PROFIT = 9,
    CMP_COL_PCT_GAIN = 10,
    COMPARE_SIDE_STRIDE = 9,
    CMP_COL_PROFIT_DIFF = 20,
    CMP_COL_PCT_GAIN_DIFF = 21,
    CMP_COL_QTY_DIFF = 22
};
extern const char *const kCompareColumnNames[COMPARE_COLUMNS];

struct CompareSide {
    TestRecord *test;
    TradeRecord *trade; /* null for an unpaired side */
    double profit;      /* net profit, 0 without a trade */
    double gain;        /* percent gain as a fraction, 0 without a trade */
};

struct CompareRow {
    CompareSide side[2];
    ListCell cells[COMPARE_COLUMNS];
};

struct CompareWindow {
    CompareRow *rows; /* tracked; grows by COMPARE_ROW_GROWTH rows */
    int32_t rowCount, rowCapacity;
    TestRecord *test1, *test2;
    int32_t strategy1, strategy2;
    uint8_t sortPriorities[LIST_MAX_SORT_COLUMNS]; /* the first COMPARE_COLUMNS are used */
    uint8_t sortDirections[LIST_MAX_SORT_COLUMNS];
    char name[COMPARE_NAME_SIZE];   /* "Compare %s %s" */
    char title[COMPARE_TITLE_SIZE]; /* the window title after a comparison */
};

/* Percent gain of a trade as a fraction: net profit over the entry value
** (quantity x price x point value x currency rate), times the account share
** with UseAccountPct.  A trade without an entry value gains 0. */
double CompareTradeGain(const TradeRecord *trade, double profit);

/* Fills one side's cells (side 0 or 1) and the row's date cell. */
void FormatCompareRow(CompareRow *row, int side);

/* Compares the two lists by the CompareTrades settings.  On success the
** window's old rows are freed and replaced, its tests, strategies, name and
** title set, and 1 returned; on a failure or cancel (reported) 0 and the
** window is unchanged. */
int BuildTradeComparison(CompareWindow *window, TestRecord *test1, int32_t strategy1, TestRecord *test2,
                         int32_t strategy2);

/* Sorts the rows by the window's sort keys (stable).  Each of the count
** row pointers in follow (null when count is 0) that points at a row of the
** window is moved to where that row went, so a chart or a selection made on
** a row stays on it. */
void SortComparisonRows(CompareWindow *window, CompareRow **follow = nullptr, int32_t count = 0);
/* Frees the rows. */
void FreeCompareWindowData(CompareWindow *window);
