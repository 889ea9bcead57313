/* position_book.h -- a position's bookkeeping: its value, its dividends
** and its place in the cells of its strategy and of every group above it.
** Entries book here when they fill, the rows value every open position here
** at each phase, and exits book their trades here.
**
** Owns:       nothing; it writes the StatCells of the context's row and the
**             value and dividend fields of the PositionRecords it is given.
** Errors:     none.
** Threads:    UI thread only (the date loop and order generation).
** Speed:      MarkToMarketAll runs per phase over every open position: one
**             bar lookup each (the symbol's day cursor in a daily run), no
**             allocation.
*/
#pragma once
#include <cstdint>

#include "engine/positions.h"

/* Books the context's position, just entered, into the cells of its
** strategy and of every group above it: its count, its money and its costs. */
void BookPositionEntry(EvalContext *context, const PositionRecord *setup);
/* Revalues every open position into the cells' mark-to-market totals, with
** the dividends their holders are due by the phase: at the open those that
** went ex up to the first day of its period, at the close those up to the
** date, so a row dated on a period's last day holds every dividend of its
** period, in a run of any bar size. */
void MarkToMarketAll(EvalContext *context);
/* The dividends the context's position, leaving on its exitDate, was due
** and no row has credited (a position that leaves inside a longer run's
** period never sees that period's close), less those a row credited it for
** days after it left (a longer run's close values a position whose data
** ended, or whose trade-list row left, earlier in the period); the
** position's dividends are then those of the days it held. */
double CreditDividendsOwedAtExit(EvalContext *context);
/* Books the context's position, leaving by trade with the dividends owed
** that CreditDividendsOwedAtExit gave, into the cells of its strategy and
** of every group above it: its trade in, its value the row holds out. */
void BookPositionExit(EvalContext *context, const TradeRecord *trade, double owed);
