/* constituency.h -- index constituency names, tick sizes and security types.
**
** Owns:       gConstituency / gConstituencyCount, the table of index
**             constituencies read once at start-up from constituency.csv
**             (scripts folder first, then the program folder).  Each row is
**             "id,label,script name,text" without a heading line.
** Invariants: every record has an id from 1 to 2147483646 (so its membership
**             event kind -(id + 1) is a 32-bit value), and never 997 or 998,
**             whose event kinds would be those of the futures contract events;
**             other rows (a heading, a trailing empty line, the reserved ids)
**             are not kept.
** Errors:     a missing or unreadable file is reported by the file helpers
**             (result code 3) and leaves the table empty.
** Threads:    the table is written on the UI thread at start-up only;
**             GetTickSize and ParseSecurityType only read and run anywhere.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/symbols.h"

struct ConstituencyRecord {
    char label[40];        /* second column; shown in the data information log */
    char scriptName[40];   /* third column; the name scripts use, case ignored */
    char fourthColumn[80]; /* fourth column text */
    uint32_t id;           /* first column, from 1; membership event kind -(id + 1) */
};

extern ConstituencyRecord *gConstituency; /* tracked block */
extern int32_t gConstituencyCount;

/* Reads constituency.csv into the table, replacing what it held.  1 read, 0
** when the file could not be read (reported) or memory failed. */
int LoadConstituency();
/* Loads constituency.csv, the scripts folder's or else the program folder's,
** when there is one.  The list is optional: without one there is nothing to
** load and nothing to report, and no batch fails for it.  1, or
** LoadConstituency's 0 after a file that is there could not be read. */
int LoadConstituencyWhenPresent();

/* The label of the first table record with this id (the name the data
** information log shows for a constituency id a data file stores); null when
** no record has it. */
const char *FindConstituencyLabel(uint32_t id);

/* The price increment of symbol on bar at price (0 = the bar's close).  The
** default stock tick of 0.01 is refined by the bar's date, the price and the
** exchange; other ticks are the symbol's own.  Without a bar there is no date
** or close to refine by: a price of 0 then gives the symbol's tick. */
double GetTickSize(const SymbolRecord *symbol, const Bar *bar, double price);

/* SecurityType of a type text: "Fut..." futures, "For..." or "FX..." forex,
** anything else stock (case ignored). */
int ParseSecurityType(const char *text);
