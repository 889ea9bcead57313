/* csv_lines.h -- the lines and columns of a price text (a folder's file, a
** multi-symbol file or an online answer), shared by the CSV readers of this
** folder, and the check of a file's dates against the order of day and
** month in force.
**
** Lines end in CR LF, LF or CR alone.  Columns point into the text; nothing
** is copied or allocated.
*/
#pragma once
#include <cstdint>

#include "foundation/dates.h"        /* ReadTimeOfDay */
#include "foundation/file_helpers.h" /* UnquoteLine */
#include "marketdata/import/import_run.h"

/* CSV field ids, the positions of kCsvFieldNames. */
enum CsvField {
    CSV_SKIP = 0,
    CSV_SYMBOL = 1,
    CSV_DATE = 2,
    CSV_TIME = 3,
    CSV_OPEN = 4,
    CSV_HIGH = 5,
    CSV_LOW = 6,
    CSV_CLOSE = 7,
    CSV_VOLUME = 8,
    CSV_ADJ_CLOSE = 9,
    CSV_REAL_CLOSE = 10,
    CSV_SPLIT = 11,
    CSV_DIVIDEND = 12,
    CSV_EXTRA = 13
};
static_assert(CSV_EXTRA + 1 == CSV_FIELD_COUNT, "one id per CSV field name");

/* One column of a line: its text in the line (not terminated) and length. */
struct CsvColumn {
    const char *text;
    int32_t length;
};

/* Text after a UTF-8 byte order mark at its start, if any. */
const char *SkipByteOrderMark(const char *text, const char *end);
/* Splits the line [p, end) into at most most columns at delim (quotes
** dropped); the number of columns.  A quote never reaches past its line:
** *openQuote (when given) is set to 1 when a column opens one that the line
** does not close (the column then runs to the line's end), else 0.  The
** data lines are read up to IMPORT_CSV_FIELDS. */
int SplitColumns(const char *p, const char *end, char delim, CsvColumn *columns, int most = IMPORT_CSV_FIELDS,
                 int *openQuote = nullptr);
/* The number of columns SplitColumns finds in the line [p, end), however
** many (an empty line has one). */
int CountColumns(const char *p, const char *end, char delim);
/* Where the column after the one starting at p in the line [p, end) starts,
** as SplitColumns divides it; null when p's is the line's last (or opens a
** quote the line does not close). */
const char *NextColumn(const char *p, const char *end, char delim);
/* The column's text, terminated, in out (cut to size - 1 characters). */
const char *ColumnText(const CsvColumn &c, char *out, int size);
/* A side file's text as it stands (LoadTextFile) and its number of lines
** into *lines; 1, or 0 after the file helpers reported why. */
int LoadLinesText(const char *path, char **text, int *lines);
/* The note on a side file's line that UnquoteLine (file_helpers.h) finds
** open (its number):
** "line %d opens a double quote ... the line was not read\n". */
extern const char kNoteOpenQuote[];

/* The order of day and month.  A date that reads only in the other order
** than the one in force (13/01/2024 read month first) tells that the file
** was written in that order: the file is refused whole, since its other
** dates (02/01/2024) would be stored with day and month swapped.  Dates that
** begin with the year read alike in both orders. */

/* 1 when the date text reads only in the other order than dayFirst's. */
int ReadsOnlyInOtherOrder(const char *text, int dayFirst);
/* ReadsOnlyInOtherOrder of a column. */
int IsOtherOrderDate(const CsvColumn &c, int dayFirst);
/* Reports the file name refused for the date text on its line (numbered
** from 1), naming CSVDateFmt. */
void RefuseForDateOrder(const char *name, int32_t line, const char *text, int dayFirst);
