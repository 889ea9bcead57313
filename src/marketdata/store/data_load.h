/* data_load.h -- changing the loaded data: closing the windows that show it,
** unloading, loading a data file, fitting the test date range to it, and the
** data-information log.
**
** Owns:       nothing of its own; it drives the loaded data of symbols.h and
**             datafile.h.  With no data loaded the master date lists hold their
**             two default dates and the calendar pseudo-symbol is built from
**             them, so date loops and the settings panel always have dates.
** Reads:      gSettings.DataFile, FirstDate, LastDate, NumBars, UseEarliestDate,
**             UseLatestDate, AskUnloadData, ShowStatusBar; the script's DateSym.
** Errors:     LoadData returns 0 after the reader reported (result code 7) or
**             when the user kept the old data; SetTestDateRange reports an empty
**             range only when the caller asks for the indexes.
** Threads:    UI thread only, with no worker running.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/symbols.h"

/* Closes the windows that show loaded data (asking first when AskUnloadData is
** set and one is open).  1 may go on, 0 the user refused (nothing closed). */
int CloseDataWindows();

/* Closes the data windows, unloads, and reads the data file (ask as in
** ReadDataFile).  1 loaded, 0 not (refused, cancelled or failed). */
int LoadData(int ask);

/* Frees every symbol and everything read from a data file and resets the
** master date lists, calendar and test date range to their no-data state.
** Safe to call at any time, also when nothing or only part of a file is loaded. */
void UnloadData();

/* Frees every array of one record and zeroes it. */
void FreeSymbolRecord(SymbolRecord *record);

/* Writes the data-information lines to the program log. */
void LogDataInfo();

/* The version number shown for a stored data file version (0.34 shows 12). */
int DataVersionNumber(float version);

/* Works out the test date range on list (the master list of the bar size in
** use) from the settings and stores it in FirstDate/LastDate.  The outputs
** (may be null) receive the first and last list index.  1 range set; 0 the
** range is empty (reported only when firstIndex is given). */
int SetTestDateRange(const DateList *list, int32_t *firstIndex, int32_t *lastIndex);
