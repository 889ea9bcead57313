/* data_load.h -- changing the loaded data: closing the windows that show it,
** unloading, loading a data file, fitting the test date range to it, and the
** data-information log.
**
** Owns:       nothing of its own; it drives the loaded data (gStore,
**             symbols.h).  With no data loaded the master date lists hold their
**             two default dates and the calendar pseudo-symbol is built from
**             them, so date loops and the settings panel always have dates.
** Reads:      gSettings.DataFile, FirstDate, LastDate, NumBars, UseEarliestDate,
**             UseLatestDate, AskUnloadData, ShowStatusBar; the script's DateSym.
** Script:     the compiled script sits above the store, so what loading and
**             unloading ask of it goes through gScriptDataLinks; each entry is
**             filled by the script module that owns the routine when that
**             module is part of the program, and an empty entry is skipped (a
**             program without those modules has nothing to free, mark or
**             compile).
** Windows:    the settings and debug panels, the frame and the wait cursor
**             are reached through the shell services (services.h).
** Errors:     LoadData returns 0 after the reader reported (result code 7) or
**             when the user kept the old data; SetTestDateRange reports an empty
**             range only when the caller asks for the indexes.
** Threads:    UI thread only, with no worker running.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/symbols.h"

/* What loading and unloading data ask of the compiled script. */
struct ScriptDataLinks {
    /* The script setting DateSym: a 1-based symbol number, 0 = none. */
    int32_t (*dateSymbol)();
    /* Frees the Data and TestData item lists (their items hold per-symbol
    ** values) and marks every Data item for recalculation. */
    void (*freeDataItems)();
    /* Compiles the default section scripts whose sections are empty; 1, or 0
    ** when one fails to compile. */
    int (*loadMissingDefaultScripts)();
    /* Marks one row of the fundamentals field table as present in the data
    ** (ids 0 and beyond the table mark nothing), and clears every mark. */
    void (*markFundamentalField)(uint32_t fieldId);
    void (*clearFundamentalFields)();
    /* Drops the open positions and setups that the last run left in the
    ** strategies: they point at symbols of the data being unloaded. */
    void (*dropRunPositions)();
};
extern ScriptDataLinks gScriptDataLinks;

/* Closes the windows that show loaded data (asking first when AskUnloadData is
** set and one is open).  1 may go on, 0 the user refused (nothing closed). */
int CloseDataWindows();

/* 1 when no data is loaded, else whether name differs (as paths compare) from
** the loaded data file's path: whether a run or the panel's Load button must
** load before the data can be used.  With nothing loaded there is nothing to
** run on, so a run that names no file fails to load rather than running on
** no data. */
int DataFileNameDiffers(const char *name);

/* Closes the data windows, unloads, and reads the DataFile setting's file
** (ask as in ReadDataFile).  1 loaded, 0 not (refused, cancelled or failed). */
int LoadData(int ask);

/* Frees every symbol and everything read from a data file (ResetSymbolStore)
** and puts the default master date lists, the calendar built from them and
** the test date range in place: the no-data state.
** Safe to call at any time, also when nothing or only part of a file is loaded. */
void UnloadData();

/* Writes the data-information lines to the program log. */
void LogDataInfo();

/* The version number shown for a stored data file version (0.34 shows 12). */
int DataVersionNumber(float version);

/* Works out the test date range on list (the master list of the bar size in
** use) from the settings and stores it in FirstDate/LastDate.  The outputs
** (may be null) receive the first and last list index.  1 range set; 0 the
** range is empty (reported only when firstIndex is given). */
int SetTestDateRange(const DateList *list, int32_t *firstIndex, int32_t *lastIndex);
