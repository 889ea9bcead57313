/* metastock.h -- MetaStock folder trees: directory files ("master",
** "emaster", "xmaster") listing the securities of a folder, and one data file
** per security ("F%d.dat" or "F%d.mwd") of 4-byte Microsoft Binary Format
** reals.
**
** Errors:     an unreadable directory file or folder fails the import with
**             result code 3, as does a data file that cannot be opened or
**             read; a directory or data file cut short (shorter than its
**             header or first record, or holding fewer records than that
**             announces), or a field count other than 5, 6 or 7, fails it
**             with the file and what it lacks named (nothing of the file is
**             stored).  A directory record without a symbol, and a data
**             record of zeros, without a date or dated on no day, with its
**             high below its low, its open (read, not the 5-field layout's)
**             or close outside its low to high range, or that AddBar drops
**             as damaged, is passed over and reported with its number and
**             reason.  Bytes past the records a file announces are noted
**             and not read.  Sub-folders are followed
**             to a depth of METASTOCK_MAX_DEPTH and never through a link.
** Threads:    UI thread.
*/
#pragma once
#include <cstdint>

#include "script/compiler/import_items.h"

enum { METASTOCK_MAX_DEPTH = 16 };

/* Imports the tree below folder; 1/0. */
int ImportMetaStock(ImportItem *row, const char *folder);
/* Reads one directory file of folder and the securities it lists; 1/0. */
int ReadMetaStockMaster(ImportItem *row, const char *folder, const char *name);
/* Reads one data file: FinishSymbol's result, 0 when filtered, -1 when the
** file or field count is unusable. */
int ReadMetaStockData(ImportItem *row, const char *storedSymbol, const char *name, const char *path,
                      const uint8_t *lists, int flags, int fields);
/* The value of a 4-byte MBF real (little-endian bytes) into *out: 1, or 0 with
** 0.0 for a zero value (exponent byte below 3: too small for a float). */
int MbfToDouble(const uint8_t bytes[4], double *out);
