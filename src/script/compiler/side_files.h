/* side_files.h -- the small files a compile reads beside the script: holiday
** lists, the exchange map, the symbol-change list and strategies' cash and
** fee lists.
**
** Owns:       gContractSpecs (the exchange map's rows) and gSymbolChanges
**             (the symbol-change rows), both growable lists kept across
**             compiles; the two path settings below until the script
**             settings bind their own.
** Files:      all are text.  Holiday list: one date per line, "*" before an
**             early close; headings skipped, but a line meant as a date that
**             is none is named.  ExchangeMap.csv: a header of column names
**             (any order, unknown ones ignored), then one row per line up to
**             the first empty line.  symchanges.csv: old symbol, new symbol,
**             date, second text per line, no header (a header line becomes a
**             row with date 0).  Cash and fee lists: leading lines holding
**             "Date" are headings, then "date,amount" lines up to the first
**             empty one.  In CSV files a quoted field loses its quotes and the
**             commas inside it ("1,000" reads as 1000); a quote never reaches
**             past its line.
** Errors:     1 success, 0 failure after a message (the file helpers' own
**             wording for unreadable files, result code 3).  A list that
**             fails to load keeps what it held, except a cash or fee list,
**             which keeps the entries before the bad line (the compile fails).
**             What a holiday list, the symbol-change list or the exchange map
**             holds that cannot be read (a line meant as a date that is none,
**             a quote a line leaves open, a flag or time that is none) is not
**             used and is named in one report per file and run ("Parts of %s
**             file %s could not be read:" and a line for each); the rest of
**             the file is used and the compile goes on.  The exchange map's
**             report is made in orders runs only, which alone read the map.
** Threads:    UI thread only (compile); the engine reads the lists later.
** Sizes:      tens of rows each.
*/
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/allocator.h"
#include "marketdata/store/calendar.h"

struct StrategyRecord;

enum { SIDE_TEXT_SIZE = 80,
       SYMBOL_CHANGE_TEXT_SIZE = 40,
       EXCHANGE_MAP_COLUMNS = 19 };

/* One row of the exchange map; order generation reads it. */
struct ContractSpec {
    char Exchange[SIDE_TEXT_SIZE];
    char Primary[SIDE_TEXT_SIZE];
    char Match1[SIDE_TEXT_SIZE];
    char Match2[SIDE_TEXT_SIZE];
    int32_t HasMoc;
    int32_t HasLoc;
    int32_t AllHours;
    char Market[SIDE_TEXT_SIZE];
    char TimeZone[SIDE_TEXT_SIZE];
    char LastOpenTime[SIDE_TEXT_SIZE];
    char LastMocTime[SIDE_TEXT_SIZE];
    char WeeklyLastMocTime[SIDE_TEXT_SIZE];
    char NearCloseTime[SIDE_TEXT_SIZE];
    char EarlyLastMocTime[SIDE_TEXT_SIZE];
    char EarlyNearCloseTime[SIDE_TEXT_SIZE];
    char LateLocTime[SIDE_TEXT_SIZE];
    char EarlyLateLocTime[SIDE_TEXT_SIZE];
    int32_t HasOpg;
    int32_t FuturesOpenTime; /* hhmmss */
};

/* One row of the symbol-change list. */
struct SymbolChange {
    char oldSymbol[SYMBOL_CHANGE_TEXT_SIZE];
    char newSymbol[SYMBOL_CHANGE_TEXT_SIZE];
    char secondText[SYMBOL_CHANGE_TEXT_SIZE]; /* second replacement text */
    int32_t date;                             /* yyyymmdd of the change; 0 none */
};

extern GrowList gContractSpecs; /* ContractSpec */
extern GrowList gSymbolChanges; /* SymbolChange */

/* The column names of ExchangeMap.csv, in the order the header is matched. */
extern const char *const kExchangeMapColumns[EXCHANGE_MAP_COLUMNS];

/* The script's ExchangeMap and SymChangeList settings (PATH_SIZE bytes each,
** "" when not given).  Both loaders may fill an empty one with the path they
** found.  They point at buffers of this module until the script settings
** bind their own. */
extern char *gExchangeMapSetting;
extern char *gSymChangeListSetting;

/* Replaces list with the holiday file at path (as given).  An empty path
** empties the list.  A path holding "us_auto" (case ignored) asks for the
** automatic US holidays: none in pass 1; in pass 2 those of the loaded data's
** last year, logged when the path also holds "_log".  A file that cannot be
** read reports "Unable to read holiday list file %s" and leaves the list as
** it was; lines meant as dates that are none are named and skipped. */
int LoadHolidayList(HolidayList *list, const char *path);

/* Reads the exchange map named by the ExchangeMap setting, or, when it is
** empty, ExchangeMap.csv in the SlatewickFolder (when that is set) or else in
** the program folder.  With no setting and no such file the map is empty, and
** that is an error (the file helpers' message) only in an orders run, which
** generates orders from it. */
int LoadExchangeMap();

/* Reads the symbol-change list named by the SymChangeList setting, or
** symchanges.csv in the SlatewickFolder (when set) or the program folder.
** With no setting and no such file the list is emptied, so changes of an
** earlier compile never apply to this one. */
int LoadSymbolChanges();

/* The first change of symbol (case ignored) dated 0 or on or after date, or
** null. */
const SymbolChange *FindSymbolChange(const char *symbol, int32_t date);

/* Reads the dated amounts at path (resolved against the scripts folder) into
** the record's cash list (which 0) or fee list (which 1); one entry per date,
** amounts of the same date added.  0 when the file cannot be read, or at a
** line with an invalid date, an amount that is no number (text, a number
** with text after it, one not finite) or of 0, or a quote left open; why
** (when given) then names the line and what it gives ("" for a file that
** cannot be read).  Nothing is reported here: the compile error the caller
** shows is the one message. */
int LoadCashFeesList(StrategyRecord *record, const char *path, int which, char *why = nullptr, size_t whySize = 0);

/* Forgets the side-file reports made so far: a run's first compile pass
** calls it, so each run names a damaged file once, however often its
** passes and strategies read it. */
void ForgetSideFileNotes();
