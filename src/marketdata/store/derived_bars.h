/* derived_bars.h -- the weekly, monthly, quarterly and yearly master date
** lists and bars, derived from the daily ones at the end of an import.
**
** Model:      a derived bar covers one calendar period (a week Monday..Sunday,
**             a month, a quarter, a year) of the symbol's daily bars: the first
**             day's open, the last day's close, the extreme high and low, the
**             summed volume, the latest split factor (earlier prices rescaled
**             to it), and the extra value summed (with KeepAdjusted, where
**             the extra value is the raw close, the period's last one).  It
**             carries the last market date of its period from the master list,
**             the last period the date of its last daily bar.  Periods are keyed
**             by calendar (SameBarPeriod), so a closure of a week or longer,
**             or a gap of a whole year, never joins two periods into one bar
**             or gives two bars one date.
** Reads:      gStore.dateLists (daily list in, derived lists out), gStore.keepAdjusted.
** Errors:     0 when memory runs out (reported by the allocator's state).
** Threads:    UI thread, at the end of an import, while no worker runs.
*/
#pragma once
#include "marketdata/store/symbols.h"

/* Fills the weekly, monthly, quarterly and yearly master lists with the last
** daily date of every period.  1, or 0 when memory runs out. */
int BuildCalendars();

/* Each gives the record a fresh bar array of its size built from the daily
** bars (the record must have none of that size yet).  1, or 0 when memory
** runs out. */
int BuildWeeklyBars(SymbolRecord *record);
int BuildMonthlyBars(SymbolRecord *record);
int BuildQuarterlyBars(SymbolRecord *record);
int BuildYearlyBars(SymbolRecord *record);
/* The builder behind the four, by BarSize 1..4. */
int BuildDerivedBars(SymbolRecord *record, int barSize);
/* The bar of barSize's period that holds the record's daily bar at index
** last, built as the builders build theirs from that period's daily bars up
** to last and dated as last: the period as it stood that day; from its days
** dated from on only, when from is given.  0 when there is no such daily bar
** (or it is dated before from). */
int BuildPeriodBarThrough(const SymbolRecord *record, int barSize, int32_t last, Bar *out, int32_t from = 0);
