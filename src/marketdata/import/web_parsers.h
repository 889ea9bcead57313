/* web_parsers.h -- numbers as the price sources write them, and the three
** readers of downloaded price answers: the Norgate Data Updater's binary
** price series, the Yahoo chart JSON and the Tiingo crypto JSON.
**
** Reads:      gImport (date range, through AddBar), gImportState
**             (KeepAdjusted), the ImportBarTime setting.
** Errors:     a result of -1 ends the worker with an error, 0 passes the
**             symbol over.  A record that is no bar (a high below its low,
**             an open or close outside its low to high range, a date that
**             cannot be read or is no day, a chart price left out or written
**             as no finite number) is passed over and reported with its
**             number and reason, under the stored symbol, in the import log
**             and on standard error; bytes past the records a series
**             announces are noted and not read.  Answers are
**             read no further than their own bytes: a damaged answer gives
**             fewer bars or 0, never a read outside it.  An answer cut short
**             (FindCutAnswer) is a broken transfer, which the worker retries
**             and never reads as bars.
** Threads:    any thread; each call changes only the record it is given.
*/
#pragma once
#include <cstddef>
#include <cstdint>

#include "marketdata/store/symbols.h"
#include "script/compiler/import_items.h"

enum NumberFormat { NUMBER_POINT = 0,
                    NUMBER_COMMA = 1 };

/* The decimal value of text (its leading number; the rest ignored), read
** whole however long: NUMBER_POINT takes '.' as the decimal point and drops
** ',' (thousands); NUMBER_COMMA takes ',' as the decimal point and drops '.'. */
double ParseNumber(const char *text, int format);
/* ParseNumber of the length characters at text (not terminated). */
double ParseNumberText(const char *text, size_t length, int format);

/* The calendar date yyyymmdd of an OLE automation date (days since
** 1899-12-30; the time of day ignored); 0 outside the years 1..9999. */
int32_t OleDateToDate(double ole);

enum { PARSE_WHY_SIZE = 128 };
/* Reads the binary price series (size bytes of body) described by the
** response headers ("Field-Count: ", "Record-Count: ").  The daily bars
** stored (above 0), 0 when none was, -1 on a malformed answer (also one
** holding fewer records than its Record-Count), with the damage in why
** (optional, PARSE_WHY_SIZE characters), or on no memory (why empty). */
int ParseNorgatePrices(const char *headers, const char *body, uint32_t size, SymbolRecord *record, int flags,
                       char *why = nullptr);
/* Whether a successful price answer of source (size bytes of body, headers
** as received) arrived whole.  A sender that closes the connection in the
** middle of an answer without a length leaves no trace on the wire, so the
** answer is judged by its own shape: JSON that does not close, a CSV whose
** last line has no line end or fewer fields than its header line, a binary
** series with fewer records than its "Record-Count: ".  1 with the damage in
** why (PARSE_WHY_SIZE characters), 0 when the answer is whole or is no
** price answer at all (a page, an error text: those are judged by content). */
int FindCutAnswer(int source, const char *headers, const char *body, uint32_t size, char *why);
/* Reads a chart JSON answer.  The daily bars stored, 0 when the answer lacks
** a needed array (or an array's length differs), -1 on no memory.  why
** (optional, PARSE_WHY_SIZE characters) receives the reason when the answer
** held no prices to read, and is emptied otherwise. */
int ParseYahooChart(ImportItem *row, const char *body, const char *storedSymbol, SymbolRecord *record, int flags,
                    char *why = nullptr);
/* Reads a crypto price JSON answer.  The daily bars stored, -1 on no memory;
** why as for ParseYahooChart. */
int ParseTiingoCrypto(ImportItem *row, const char *body, const char *storedSymbol, SymbolRecord *record, int flags,
                      char *why = nullptr);
