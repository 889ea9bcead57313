/* list_csv.h -- reading a CSV file into the rows of a list window, and the
** symbol a list row charts.  No windows: the list window feeds the results
** into its list view.
**
** A CSV list shows column 0 "#" (the row's line number in the file) and the
** header's fields as columns 1, 2, ...; a line of the file becomes a row unless
** it is blank.  Quotes group a field: a quoted field keeps its text without
** its commas and without the quotes.
** Threads:    UI thread; no state of its own.
*/
#pragma once
#include <cstdint>

/* The quote pass over the whole text, in place: every '"' switches the
** in-quotes state and is removed, a ',' inside quotes is removed, everything
** else stays.  Returns the new length. */
int StripCsvQuotes(char *text, int length);

/* One line of the text: starts at *pos, ends at '\n' or the end; a '\r' before
** the '\n' is dropped.  The line is cut in place (its end becomes NUL) and
** *pos moves past it.  Returns the line, or null at the end of the text. */
char *NextCsvLine(char *text, int length, int *pos);
/* Splits a line in place at its commas; fields[k] for k = 0 .. (count - 1).
** Returns the number of fields (at most max). */
int SplitCsvFields(char *line, char **fields, int max);
/* 1 when a line makes a row: any character other than blanks and tabs.  A
** short line ("1,2") is a row too; only blank lines are skipped. */
int IsCsvRowLine(const char *line);

/* The symbol and exchange columns found in the header (0 none; a field k of
** the header is column k + 1).  "kvsym" takes the column (a later one wins),
** "symbol" only while none is set, "exchange" takes the exchange column (a
** later one wins); all compared without regard to case. */
struct CsvHeaderColumns {
    int32_t symbol;
    int32_t exchange;
};
void ClassifyCsvHeading(const char *heading, int column, CsvHeaderColumns *columns);

/* The symbol to chart for a row: the symbol with ".au" added for an exchange
** naming "asx", or ".ca" for one naming "tse", "tsx", "cse" or "neo" (unless
** the symbol already ends in that suffix, case ignored).  out holds 64 bytes. */
void ChartSymbolForRow(const char *symbol, const char *exchange, char *out, int size);
