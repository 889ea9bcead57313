/* csv_lines.cpp -- the lines and columns of a price text, and the check of
** its dates against the order of day and month in force. */
#include "marketdata/import/csv_lines.h"

#include <cstring>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"

const char kNoteOpenQuote[] = "line %d opens a double quote that it does not close, so its fields cannot be told; "
                             "the line was not read\n";

static const char kRefusedDateOrder[] = "line %d has the date %s, which reads only %s first; CSVDateFmt chooses the "
                                        "order (%s for this file)";

/* A UTF-8 byte order mark at the start of a text is no part of it. */
const char *SkipByteOrderMark(const char *text, const char *end)
{
    if (end - text >= 3 && (unsigned char)text[0] == 0xEF && (unsigned char)text[1] == 0xBB &&
        (unsigned char)text[2] == 0xBF)
        return text + 3;
    return text;
}

/* Splits [p, end) into at most most columns at delim; a column that begins
** with '"' runs to the next '"' (quotes dropped, and what follows up to the
** next delimiter).  White space after a delimiter is skipped.  The number of
** columns. */
int SplitColumns(const char *p, const char *end, char delim, CsvColumn *columns, int most, int *openQuote)
{
    int n = 0;
    if (openQuote) *openQuote = 0;
    while (n < most) {
        while (p < end && (*p == ' ' || (*p == '\t' && delim != '\t'))) p++;
        if (p < end && *p == '"') {
            const char *close = (const char *)memchr(p + 1, '"', (size_t)(end - p - 1));
            if (!close) {
                columns[n++] = {p + 1, (int32_t)(end - p - 1)};
                if (openQuote) *openQuote = 1;
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

const char *NextColumn(const char *p, const char *end, char delim)
{
    while (p < end && (*p == ' ' || (*p == '\t' && delim != '\t'))) p++;
    if (p < end && *p == '"') {
        const char *close = (const char *)memchr(p + 1, '"', (size_t)(end - p - 1));
        if (!close) return nullptr;
        p = close + 1;
    }
    const char *next = (const char *)memchr(p, delim, (size_t)(end - p));
    return next ? next + 1 : nullptr;
}

int CountColumns(const char *p, const char *end, char delim)
{
    int n = 1;
    while ((p = NextColumn(p, end, delim)) != nullptr) n++;
    return n;
}

/* The column's text, terminated, in out (cut to size - 1 characters). */
const char *ColumnText(const CsvColumn &c, char *out, int size)
{
    CopyString(out, size, c.text, c.length < size ? c.length : size - 1);
    return out;
}

int LoadLinesText(const char *path, char **text, int *lines)
{
    uint32_t size = 0;
    *lines = 0;
    if (!LoadTextFile(path, text, &size)) return 0;
    *lines = CountTextLines(*text, *text + size);
    return 1;
}

int ReadsOnlyInOtherOrder(const char *text, int dayFirst)
{
    return text[0] && !ParseDateInOrder(text, dayFirst) && ParseDateInOrder(text, !dayFirst);
}

int IsOtherOrderDate(const CsvColumn &c, int dayFirst)
{
    char text[256];
    return c.length > 0 && ReadsOnlyInOtherOrder(ColumnText(c, text, sizeof text), dayFirst);
}

void RefuseForDateOrder(const char *name, int32_t line, const char *text, int dayFirst)
{
    ReportRefusedFile(name, kRefusedDateOrder, (int)line, text, dayFirst ? "month" : "day", dayFirst ? "MDY" : "DMY");
}
