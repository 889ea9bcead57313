/* csv_import.h -- price text files: a folder with one file per symbol (the
** file name is the symbol) or one multi-symbol file, read with the script's
** CSVFields or a header line.
**
** Reads:      the row's CSV layout (field map, date order, number format,
**             delimiter), gImportState (KeepNonIncluded, StartDate, EndDate).
** Errors:     "Unable to read %s\r\n\r\n%s" (a folder or a multi-symbol
**             file, with the system's reason; result code 3) and "No files
**             with %s extension were found in %s" fail the import.
**             A line that is no bar (a date that is no day, text or nan in a
**             number field, a missing price, a high below the low, an open
**             or close outside the low to high range, more fields than the
**             header names unless every line has that many, a time
**             that is no time of day, a Split below zero, a CSI futures
**             expiry that is no day, a symbol too long to keep, a NUL byte, a
**             double quote the line does not close, or what AddBar drops as
**             damaged) is never stored: it is passed over and reported with its
**             number and reason, and a file that gives no bar with the reason
**             (ReportRefusedLines, ReportRefusedFile); the rest of the import
**             goes on.  A quote never reaches past its line, in a folder's
**             file as in a multi-symbol file.  Refused whole, with the
**             reason: a file that cannot be read, a header that maps no close
**             or leaves a quote open, a file with a date (on any line) that
**             reads only in the other order of day and month than the one in
**             force, a folder's second file of one symbol (files are taken in
**             name order; also when the symbol an information row gives it is
**             one stored), a multi-symbol file's second symbol that becomes
**             one identifier with a first.  A refused file marks no market
**             day.  Lines end in CR LF, LF or CR alone.  A stop request ends
**             with 0.
** Threads:    UI thread (ParseHeaderCsv also on an online worker, on text).
*/
#pragma once
#include "marketdata/store/symbols.h"
#include "script/compiler/import_items.h"

enum { CSV_LINE_SIZE = 255 };

/* Imports a CSV, CSIFutures or CSIStocks DataPath or CSVFile row; 1/0. */
int ImportFolder(ImportItem *row);
/* Imports a multi-symbol file; 1 unless the import must end (stop, memory). */
int ImportCsvFile(ImportItem *row, int flags);
/* Reads one symbol's text (a file path for the file sources, the text itself
** otherwise) into record under storedSymbol.  A Split column gives each bar
** the product of the ratios of the later lines inside StartDate..EndDate, so
** a split after the EndDate gives no factor.  Daily bars stored, or -1. */
int ParseHeaderCsv(ImportItem *row, const char *text, const char *storedSymbol, SymbolRecord *record, int flags);
