/* csv_lines.cpp -- the lines and columns of a price text, and the check of
** its dates against the order of day and month in force. */
#include "marketdata/import/csv_lines.h"

#include <cstring>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"

/* A file whose dates read only in the other order of day and month is
** refused whole: its other dates would be stored with day and month swapped. */
static const char kRefusedDateOrder[] = "line %d has the date %s, which reads only %s first; CSVDateFmt chooses the "
                                        "order (%s for this file)";

/* The end of the line that starts at p: its first CR or LF, as files end
** their lines with CR LF, LF or CR alone.  *next is where the next line
** starts. */
const char *LineEnd(const char *p, const char *end, const char **next)
{
    const char *q = p;
    while (q < end && *q != '\n' && *q != '\r') q++;
    *next = q + (q < end) + (q + 1 < end && q[0] == '\r' && q[1] == '\n');
    return q;
}

/* Lines ended by CR alone, which a count of LF characters misses. */
int CountLoneCarriageReturns(const char *p, const char *end)
{
    int n = 0;
    while (p < end && (p = (const char *)memchr(p, '\r', (size_t)(end - p))) != nullptr) {
        if (p + 1 >= end || p[1] != '\n') n++;
        p++;
    }
    return n;
}

/* A UTF-8 byte order mark at the start of a text is no part of it. */
const char *SkipByteOrderMark(const char *text, const char *end)
{
    if (end - text >= 3 && (unsigned char)text[0] == 0xEF && (unsigned char)text[1] == 0xBB &&
        (unsigned char)text[2] == 0xBF)
        return text + 3;
    return text;
}


/* Splits [p, end) into at most IMPORT_CSV_FIELDS columns at delim; a column
** that begins with '"' runs to the next '"' (quotes dropped, and what follows
** up to the next delimiter).  White space after a delimiter is skipped.  The
** number of columns. */
int SplitColumns(const char *p, const char *end, char delim, CsvColumn *columns)
{
    int n = 0;
    while (n < IMPORT_CSV_FIELDS) {
        while (p < end && (*p == ' ' || (*p == '\t' && delim != '\t'))) p++;
        if (p < end && *p == '"') {
            const char *close = (const char *)memchr(p + 1, '"', (size_t)(end - p - 1));
            if (!close) {
                columns[n++] = {p + 1, (int32_t)(end - p - 1)};
                break;
            }
            columns[n++] = {p + 1, (int32_t)(close - p - 1)};
            const char *next = (const char *)memchr(close + 1, delim, (size_t)(end - close - 1));
            if (!next) break;
            p = next + 1;
            continue;
        }
        const char *q = p;
        while (q < end && *q != delim) q++;
        columns[n++] = {p, (int32_t)(q - p)};
        if (q == end) break;
        p = q + 1;
    }
    return n;
}


/* The column's text, terminated, in out (cut to size - 1 characters). */
const char *ColumnText(const CsvColumn &c, char *out, int size)
{
    CopyString(out, size, c.text, c.length < size ? c.length : size - 1);
    return out;
}


/* 1 when a date text begins with a year (or is a yyyymmdd number), so that
** its order of day and month is no question. */
static int IsYearFirstDate(const CsvColumn &c)
{
    const char *p = c.text, *end = c.text + c.length;
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    int digits = 0, value = 0;
    for (; p < end && *p >= '0' && *p <= '9' && digits < 9; p++, digits++) value = value * 10 + (*p - '0');
    return digits >= 4 && value >= 1001;
}

/* Looks at the dates of the lines from p (numbered on from lineNumber) for
** one that reads only in the other order of day and month than the order in
** force (13/01/2024 read month first); the look ends at the first date that
** begins with a year, as the whole file then does.  Reports the file with
** the first such line and returns 1, else 0. */
int RefuseOtherDateOrder(const char *name, const char *p, const char *end, char delim, const int32_t *map,
                                int dayFirst, int32_t lineNumber)
{
    int dateColumn = -1;
    for (int c = 0; c < IMPORT_CSV_FIELDS && dateColumn < 0; c++)
        if (map[c] == CSV_DATE) dateColumn = c;
    if (dateColumn < 0) return 0;
    CsvColumn columns[IMPORT_CSV_FIELDS];
    while (p < end) {
        const char *next;
        const char *lineEnd = LineEnd(p, end, &next);
        lineNumber++;
        int n = lineEnd > p ? SplitColumns(p, lineEnd, delim, columns) : 0;
        p = next;
        if (dateColumn >= n) continue;
        if (IsYearFirstDate(columns[dateColumn])) return 0;
        char text[256];
        ColumnText(columns[dateColumn], text, sizeof text);
        if (ParseDateInOrder(text, dayFirst) || !ParseDateInOrder(text, !dayFirst)) continue;
        ReportRefusedFile(name, kRefusedDateOrder, (int)lineNumber, text, dayFirst ? "month" : "day",
                          dayFirst ? "MDY" : "DMY");
        return 1;
    }
    return 0;
}

