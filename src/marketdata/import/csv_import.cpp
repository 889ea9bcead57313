/* csv_import.cpp -- folders of per-symbol price files and multi-symbol files. */
#include "marketdata/import/csv_import.h"
#include "marketdata/import/csv_lines.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"
#include "marketdata/import/web_parsers.h"
#include "marketdata/store/data_load.h"
#include "script/compiler/formula.h"
#include "services/services.h"

/* What a price file is to the run, in the words of a refusal to replace it. */
static const char kPriceFileUse[] = "a price file of the import";
static const char kMsgUnableToRead[] = "Unable to read %s\r\n\r\n%s";
static const char kMsgNoFiles[] = "No files with %s extension were found in %s";
static const char kLogNameTooLong[] = "%s\tnot imported because its name is too long\n";

enum {
    FILE_NAME_SYMBOL_MAX = 40, /* the last '.' must lie within the first 40 characters */
    STATUS_LINES = 1000,
    LOCAL_GROWTH = 100,
    BAR_GROWTH = 100
};

/* The CSVDelim choices, by their code: Comma, Semicolon, Tab. */
static const struct {
    char character;
    const char *name;
} kDelimiters[] = {{',', "comma"}, {';', "semicolon"}, {'\t', "tab"}};
enum { DELIMITER_COUNT = sizeof kDelimiters / sizeof kDelimiters[0] };

static int DelimiterCode(int code) { return code >= 0 && code < DELIMITER_COUNT ? code : 0; }
static char DelimiterChar(int code) { return kDelimiters[DelimiterCode(code)].character; }
static const char *DelimiterName(int code) { return kDelimiters[DelimiterCode(code)].name; }

static int StopRequested() { return gRun.state.load() == RUN_STOP_REQUESTED; }

/* Why a file gave no bar at all.  Where the layout the file was read with
** may be the cause, the reason says what it was and which settings choose it. */
static const char kRefusedEmpty[] = "the file is empty";
static const char kRefusedHeaderOnly[] = "the file holds only a header line";
static const char kRefusedDelimiter[] = "no line is divided by the %s delimiter, which CSVDelim chooses";
static const char kRefusedNoDates[] = "no date could be read";
static const char kRefusedNoBars[] = "no line holds a bar";
static const char kReadWithLayout[] = "%s; lines were read with the %s delimiter and decimal %s, which CSVDelim and "
                                      "CSVNumFmt choose";
static const char kRefusedUnreadable[] = "the file cannot be read: %s";
static const char kRefusedUnreadableFolder[] = "the folder cannot be read: %s";
static const char kRefusedSameSymbol[] = "it becomes the symbol %s, which was imported from %s (files are taken in "
                                         "name order)";
/* A header that names no column of a price (a misnamed "Hi", a NUL byte in
** "Low"): every bar would be stored with 0 for it.  A header that names
** none of open, high and low holds closes alone, which become the bars. */
static const char kRefusedNoPrice[] = "no column holds the %s (the columns are %s); CSVFields names the columns "
                                      "when the header does not";
static const char kRefusedNoPriceRead[] = "no column of the first %d, the only ones read, holds the %s (they are "
                                          "%s)";
static const char kRefusedNoPriceNamed[] = "no column holds the %s (CSVFields names %s)";
static const char kRefusedPage[] = "the answer is a page of the site, not CSV";
/* A header line whose quote the line does not close: its columns cannot be told. */
static const char kRefusedOpenQuote[] = "line %d, the header, opens a double quote that it does not close";
static const char kRefusedSameSymbolLines[] = "%s: the lines of %s were not imported: it becomes the symbol %s, which "
                                              "was imported from the lines of %s\n";
/* Why a line is not a bar, beside the shared reasons. */
static const char kRefusedLongSymbol[] = "the symbol is longer than 39 characters";
static const char kRefusedBadTime[] = "the time is not a time of day";
/* A split below zero would turn the factors of every earlier bar. */
static const char kRefusedSplitBelowZero[] = "the split is below zero";
static const char kRefusedBadExpiry[] = "the expiry date is not a calendar day";
static const char kRefusedNulByte[] = "the line holds a NUL byte";
static const char kRefusedInOpenQuote[] = "it opens a double quote that it does not close";
/* A line shifted by a separator inside a number (1,234.5 written with a
** comma delimiter) has a field more than the others: each value moves one
** column on, and a split or a volume would be read from a price. */
static const char kRefusedExtraFields[] = "the line has more fields than its header names";
static const char kRefusedExtraFieldsLines[] = "the line has more fields than the file's other lines";
/* A line cut before a column that is read: its values would be stored as 0. */
static const char kRefusedFewerFields[] = "the line has fewer fields than its header names";
static const char kRefusedFewerFieldsNamed[] = "the line has fewer fields than CSVFields names";
/* A thousands separator groups three digits: "22,72" read with decimal
** points would be 2272, "10.5" read with decimal commas 105. */
static const char kRefusedOddComma[] = "a number's comma is no thousands separator; CSVNumFmt chooses a decimal comma";
static const char kRefusedOddPoint[] = "a number's point is no thousands separator; CSVNumFmt chooses a decimal point";
/* A header column that names a field but is not read. */
static const char kNotePastColumns[] = "column %d, %s, lies past the %d columns read\n";

static int Digits(const char *p, int n)
{
    int v = 0;
    for (int i = 0; i < n; i++) {
        if (p[i] < '0' || p[i] > '9') return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

/* ParseDate's answer for the column in the row's order of day and month,
** reading the usual year-first form directly (the same date ParseDate gives
** it) and leaving every other form to it.  The order is passed, never set in
** the user's settings, since online workers read answers side by side. */
static int32_t ReadDateColumn(const CsvColumn &c, int dayFirst)
{
    const char *text = c.text;
    if (c.length == 0) return 0;
    if (c.length == 10 && text[4] == text[7] && (text[4] == '-' || text[4] == '/' || text[4] == '.')) {
        int y = Digits(text, 4), m = Digits(text + 5, 2), d = Digits(text + 8, 2);
        if (y >= 1001 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m)) return MakeDate(y, m, d);
    }
    /* The usual day and month first forms (01/02/2024) in the row's order. */
    if (c.length == 10 && text[2] == text[5] && (text[2] == '-' || text[2] == '/' || text[2] == '.')) {
        int first = Digits(text, 2), second = Digits(text + 3, 2), y = Digits(text + 6, 4);
        int m = dayFirst ? second : first, d = dayFirst ? first : second;
        if (y >= 1001 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m)) return MakeDate(y, m, d);
    }
    char buffer[256];
    return ParseDateInOrder(ColumnText(c, buffer, sizeof buffer), dayFirst);
}

enum NumberRead { NUMBER_READ = 0,
                  NUMBER_EMPTY = 1,
                  NUMBER_TEXT = 2,
                  NUMBER_NOT_FINITE = 3,
                  NUMBER_ODD_SEPARATOR = 4 /* a thousands separator not followed by three digits */ };

static int IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

/* 1 when text (without the separators the format drops) is a decimal
** number: sign, digits with one decimal separator, an exponent. */
static int IsDecimalText(const char *p, const char *end, int format)
{
    return format == NUMBER_COMMA ? IsDecimalText(p, end, ',', '.') : IsDecimalText(p, end, '.', ',');
}

/* 1 when a thousands separator of the format in the number text [p, end)
** is not followed by exactly three digits: it is most likely the decimal
** separator of the other format, and the number would be read as another. */
static int HasOddSeparator(const char *p, const char *end, int format)
{
    const char separator = format == NUMBER_COMMA ? '.' : ',';
    while ((p = (const char *)memchr(p, separator, (size_t)(end - p))) != nullptr) {
        if (!GroupsThousands(p, end)) return 1;
        p++;
    }
    return 0;
}

/* Reads a number column as ParseNumber reads it, and says whether the
** column is a number it reads as written: a NumberRead. */
static int ReadNumberColumn(const CsvColumn &c, int format, double *value)
{
    const char *text = c.text, *end = text + c.length;
    while (end > text && IsBlank(end[-1])) end--;
    if (end == text) return NUMBER_EMPTY;
    if (format == NUMBER_POINT) {
        /* The plain decimal, as ParseNumber reads it first. */
        auto [stop, error] = std::from_chars(text, end, *value);
        if (error == std::errc() && stop == end) return std::isfinite(*value) ? NUMBER_READ : NUMBER_NOT_FINITE;
    }
    if (!IsDecimalText(text, end, format)) {
        const char *word = text + (*text == '+' || *text == '-');
        size_t n = (size_t)(end - word);
        if ((n == 3 && (CompareNoCaseN(word, "inf", 3) == 0 || CompareNoCaseN(word, "nan", 3) == 0)) ||
            (n == 8 && CompareNoCaseN(word, "infinity", 8) == 0))
            return NUMBER_NOT_FINITE;
        return NUMBER_TEXT;
    }
    if (HasOddSeparator(text, end, format)) return NUMBER_ODD_SEPARATOR;
    *value = ParseNumberText(text, (size_t)(end - text), format);
    return std::isfinite(*value) ? NUMBER_READ : NUMBER_NOT_FINITE;
}

/* Values of one data line beside its bar. */
struct LineValues {
    double adjusted, unadjusted, split, dividend;
};

/* The prices a field map reads, as bits of a mask. */
enum PriceBit { PRICE_OPEN = 1,
                PRICE_HIGH = 2,
                PRICE_LOW = 4,
                PRICE_CLOSE = 8 };

/* The PriceBits of the prices map reads: every line read by it has them
** (a line without one is refused as missing it). */
static int MappedPrices(const int32_t *map)
{
    int prices = 0;
    for (int c = 0; c < IMPORT_CSV_FIELDS; c++)
        prices |= map[c] == CSV_OPEN ? PRICE_OPEN : map[c] == CSV_HIGH ? PRICE_HIGH : map[c] == CSV_LOW ? PRICE_LOW
            : map[c] == CSV_CLOSE                                                                 ? PRICE_CLOSE
                                                                                                  : 0;
    return prices;
}

/* Where a line's number field goes: its place in the bar or the line's
** values, with whether it is a price; null for a field that holds no
** number. */
static inline double *NumberField(int field, Bar *bar, LineValues *v, int *price)
{
    switch (field) {
    case CSV_OPEN: *price = 1; return &bar->open;
    case CSV_HIGH: *price = 1; return &bar->high;
    case CSV_LOW: *price = 1; return &bar->low;
    case CSV_CLOSE: *price = 1; return &bar->close;
    case CSV_VOLUME: return &bar->volume;
    case CSV_EXTRA: return &bar->extra;
    case CSV_ADJ_CLOSE: return &v->adjusted;
    case CSV_REAL_CLOSE: return &v->unadjusted;
    case CSV_SPLIT: return &v->split;
    case CSV_DIVIDEND: return &v->dividend;
    default: return nullptr;
    }
}

/* What the line reader makes of a line: a bar, or why it is not one.  The
** reasons a report gives are kLineReasons, in this order. */
enum LineReason {
    LINE_BAR = 0,
    LINE_NO_DATE,     /* also what a header line of column names gives */
    LINE_OTHER_ORDER, /* the date reads only in the other order: the file is refused whole */
    LINE_TEXT,
    LINE_NOT_FINITE,
    LINE_MISSING,
    LINE_HIGH_LOW,
    LINE_LONG_SYMBOL,
    LINE_NO_SYMBOL,
    LINE_NUL_BYTE,
    LINE_OPEN_QUOTE, /* a quote the line does not close: its columns cannot be told */
    LINE_BAD_TIME,
    LINE_SPLIT_BELOW_ZERO,
    LINE_BAD_EXPIRY, /* a CSI futures expiry that is no day */
    LINE_OPEN_OUTSIDE,
    LINE_CLOSE_OUTSIDE,
    LINE_EXTRA_FIELDS,        /* more fields than the header names */
    LINE_EXTRA_FIELDS_LINES,  /* more fields than the file's other lines, which all have more than the header */
    LINE_FEWER_FIELDS,        /* the line ends before a column the header names and the map reads */
    LINE_FEWER_FIELDS_NAMED,  /* the line ends before a column CSVFields names */
    LINE_ODD_COMMA,           /* decimal points: a comma not followed by three digits */
    LINE_ODD_POINT,           /* decimal commas: a point not followed by three digits */
    LINE_HEADER, /* a first line without a date, passed over as a header */
    LINE_REASON_COUNT
};
static const char *const kLineReasons[] = {
    /* LINE_BAR */ nullptr,
    kRefusedNoDate,
    /* LINE_OTHER_ORDER: refuses the file */ nullptr,
    kRefusedText,
    kRefusedInfinite,
    kRefusedMissing,
    kRefusedHighLow,
    kRefusedLongSymbol,
    kRefusedNoSymbol,
    kRefusedNulByte,
    kRefusedInOpenQuote,
    kRefusedBadTime,
    kRefusedSplitBelowZero,
    kRefusedBadExpiry,
    kRefusedOpenOutside,
    kRefusedCloseOutside,
    kRefusedExtraFields,
    kRefusedExtraFieldsLines,
    kRefusedFewerFields,
    kRefusedFewerFieldsNamed,
    kRefusedOddComma,
    kRefusedOddPoint,
    /* LINE_HEADER */ nullptr,
};
static_assert(sizeof kLineReasons / sizeof kLineReasons[0] == LINE_REASON_COUNT, "one text per line reason");

/* The reason a number column gives the line, by what ReadNumberColumn made
** of it (LINE_BAR when it is no reason). */
static LineReason NumberReason(int read, int price, int format)
{
    if (read == NUMBER_ODD_SEPARATOR) return format == NUMBER_COMMA ? LINE_ODD_POINT : LINE_ODD_COMMA;
    if (read == NUMBER_TEXT) return LINE_TEXT;
    if (read == NUMBER_NOT_FINITE) return LINE_NOT_FINITE;
    if (read == NUMBER_EMPTY && price) return LINE_MISSING;
    return LINE_BAR;
}

/* The reason the prices a line read give it (LINE_BAR when none): the high
** below the low, the open or close outside the low to high range.  Only
** prices the field map reads are judged; with no high or low there is no
** range. */
static inline LineReason ShapeReason(const Bar *bar, int prices)
{
    if ((prices & (PRICE_HIGH | PRICE_LOW)) != (PRICE_HIGH | PRICE_LOW)) return LINE_BAR;
    const char *fault = PriceShapeFault(bar, prices & PRICE_OPEN, prices & PRICE_CLOSE);
    if (!fault) return LINE_BAR;
    return fault == kRefusedHighLow ? LINE_HIGH_LOW : fault == kRefusedOpenOutside ? LINE_OPEN_OUTSIDE : LINE_CLOSE_OUTSIDE;
}

/* The symbol column without the blanks around it: " AAA  " is AAA, never
** another symbol (blanks would become '_' in its identifier). */
static CsvColumn SymbolText(const CsvColumn &column)
{
    size_t length = (size_t)column.length;
    const char *text = TrimSymbolText(column.text, &length);
    return {text, (int32_t)length};
}

/* 1 when the symbol column, without its blanks, is too long to keep: cut
** to its first characters it would be another symbol. */
static int IsLongSymbol(const CsvColumn &column) { return SymbolText(column).length >= IMPORT_SYMBOL_SIZE; }

/* Copies the symbol column, without its blanks, into symbol (cut to fit;
** a longer one refuses its line). */
static void CopySymbol(char *symbol, const CsvColumn &column)
{
    const CsvColumn c = SymbolText(column);
    CopyString(symbol, IMPORT_SYMBOL_SIZE, c.text, c.length < IMPORT_SYMBOL_SIZE ? c.length : IMPORT_SYMBOL_SIZE - 1);
}

/* Reads a Split column: a ratio written as the split is ("2:1", "3/2": the
** first number over the second) or one number (2).  A NumberRead. */
static int ReadSplitColumn(const CsvColumn &c, int format, double *value)
{
    const char *text = c.text, *end = text + c.length;
    const char *mark = text;
    while (mark < end && *mark != ':' && *mark != '/') mark++;
    if (mark == end) return ReadNumberColumn(c, format, value);
    double over = 0.0, under = 0.0;
    const int a = ReadNumberColumn({text, (int32_t)(mark - text)}, format, &over);
    const char *second = mark + 1;
    while (second < end && IsBlank(*second)) second++;
    const int b = ReadNumberColumn({second, (int32_t)(end - second)}, format, &under);
    if (a != NUMBER_READ) return a == NUMBER_EMPTY ? NUMBER_TEXT : a;
    if (b != NUMBER_READ) return b == NUMBER_EMPTY ? NUMBER_TEXT : b;
    *value = over / under;
    return std::isfinite(*value) ? NUMBER_READ : NUMBER_NOT_FINITE;
}

/* Reads one data line's columns into bar and values by the field map, whose
** prices are the PriceBits prices.  LINE_BAR when the line is a bar;
** otherwise the first reason it is not (LINE_NO_DATE before any other,
** LINE_OTHER_ORDER at once). */
static LineReason ReadDataLine(const CsvColumn *columns, int n, const int32_t *map, int prices, int numberFormat,
                               int dayFirst, Bar *bar, LineValues *v, char *symbol)
{
    memset(bar, 0, sizeof *bar);
    memset(v, 0, sizeof *v);
    if (symbol) symbol[0] = 0;
    LineReason reason = LINE_BAR;
    /* Empty prices wait for the line's end: a close alone, its open, high
    ** and low empty, is a bar of its close (an empty number reads as 0, and
    ** AddBar makes a bar of 0, 0, 0 and a close from its close), where an
    ** empty close, or some of open, high and low given, is a price missing. */
    int emptyPrices = 0, missingAt = -1, reasonAt = -1;
    for (int c = 0; c < IMPORT_CSV_FIELDS; c++) {
        int field = map[c];
        if (field == CSV_SKIP) continue;
        static const CsvColumn kAbsent = {"", 0};
        const CsvColumn &column = c < n ? columns[c] : kAbsent;
        double *number = nullptr;
        int price = 0;
        switch (field) {
        case CSV_SYMBOL:
            if (!symbol) continue;
            /* Named before a value's fault: the split of a line refused for
            ** its values is still its symbol's, which a cut one is not. */
            if (IsLongSymbol(column)) reason = LINE_LONG_SYMBOL;
            CopySymbol(symbol, column);
            continue;
        case CSV_DATE:
            bar->date = ReadDateColumn(column, dayFirst);
            if (!bar->date && IsOtherOrderDate(column, dayFirst)) return LINE_OTHER_ORDER;
            continue;
        case CSV_TIME: {
            char buffer[64];
            if (!ReadTimeOfDay(ColumnText(column, buffer, sizeof buffer), &bar->time) && !reason) {
                reason = LINE_BAD_TIME;
                reasonAt = c;
            }
            continue;
        }
        default:
            number = NumberField(field, bar, v, &price);
            if (!number) continue;
            break;
        }
        int read = field == CSV_SPLIT ? ReadSplitColumn(column, numberFormat, number)
                                      : ReadNumberColumn(column, numberFormat, number);
        if (read != NUMBER_READ) *number = 0.0;
        if (read == NUMBER_EMPTY && price) {
            emptyPrices |= field == CSV_OPEN ? PRICE_OPEN : field == CSV_HIGH ? PRICE_HIGH : field == CSV_LOW ? PRICE_LOW
                                                                                                     : PRICE_CLOSE;
            if (missingAt < 0) missingAt = c;
        } else if (!reason) {
            reason = NumberReason(read, price, numberFormat);
            if (reason) reasonAt = c;
        }
    }
    const int closeAlone = emptyPrices == (prices & (PRICE_OPEN | PRICE_HIGH | PRICE_LOW));
    if (emptyPrices && !closeAlone && (!reason || (reasonAt >= 0 && missingAt < reasonAt))) reason = LINE_MISSING;
    if (!bar->date) return LINE_NO_DATE;
    if (!reason) reason = ShapeReason(bar, prices);
    if (!reason && v->split < 0.0) reason = LINE_SPLIT_BELOW_ZERO;
    return reason;
}

/* 1 when the decimal text [p, stop) has at most 7 significant digits and
** no exponent, and value lies within 1e-15 to 1e15 (or is 0): rounding it to
** 7 digits gives it back. */
static int IsSevenDigitText(const char *p, const char *stop, double value)
{
    int digits = 0, leading = 1;
    for (; p < stop; p++) {
        char c = *p;
        if (c >= '0' && c <= '9') {
            if (c != '0') leading = 0;
            if (!leading) digits++;
        } else if (c != '.' && c != '-') {
            return 0;
        }
    }
    double a = value < 0 ? -value : value;
    return digits <= 7 && (a == 0.0 || (a >= 1e-15 && a < 1e15));
}

/* The common line read straight through, with the answers of SplitColumns
** and ReadDataLine: no quotes, point decimals, every number plain and every
** price there.  The columns read (above 0) when the line is such a bar;
** 0 when it needs the general reading, which then also says why it is no
** bar.  *plainPrices tells whether every price was a text of at most 7
** significant digits (AddBar's plainPrices); *fields is the line's number
** of fields, those past the ones read included. */
[[gnu::always_inline]] static inline int ReadPlainLine(const char *p, const char *end, char delim, const int32_t *map, int columns,
                                                       int prices, int dayFirst, Bar *bar, LineValues *v, char *symbol,
                                                       int *plainPrices, int *fields)
{
    memset(bar, 0, sizeof *bar);
    memset(v, 0, sizeof *v);
    if (symbol) symbol[0] = 0;
    *plainPrices = 1;
    int c = 0;
    for (; c < columns; c++) {
        while (p < end && (*p == ' ' || (*p == '\t' && delim != '\t'))) p++;
        if (p < end && *p == '"') return 0;
        int field = map[c];
        int price = 0;
        double *number = NumberField(field, bar, v, &price);
        if (number) {
            if (p == end || *p == delim) {
                if (price) return 0;
            } else {
                auto [stop, error] = std::from_chars(p, end, *number);
                if (error != std::errc() || !std::isfinite(*number)) return 0;
                if (price && *plainPrices) *plainPrices = IsSevenDigitText(p, stop, *number);
                p = stop;
                while (p < end && (*p == ' ' || *p == '\r' || (*p == '\t' && delim != '\t'))) p++;
                if (p < end && *p != delim) return 0;
            }
        } else {
            const char *q = p;
            while (q < end && *q != delim) q++;
            CsvColumn column = {p, (int32_t)(q - p)};
            if (field == CSV_DATE) {
                bar->date = ReadDateColumn(column, dayFirst);
                if (!bar->date) return 0;
            } else if (field == CSV_TIME) {
                char buffer[64];
                if (!ReadTimeOfDay(ColumnText(column, buffer, sizeof buffer), &bar->time)) return 0;
            } else if (field == CSV_SYMBOL && symbol) {
                CopySymbol(symbol, column);
            }
            p = q;
        }
        if (p == end) break;
        p++;
    }
    /* Columns the line lacks read as nothing: no price may be among them. */
    for (int k = c + 1; k < columns; k++)
        if (map[k] >= CSV_OPEN && map[k] <= CSV_CLOSE) return 0;
    if (!bar->date) return 0;
    if ((prices & (PRICE_HIGH | PRICE_LOW)) == (PRICE_HIGH | PRICE_LOW) &&
        PriceShapeFault(bar, prices & PRICE_OPEN, prices & PRICE_CLOSE))
        return 0;
    if (v->split < 0.0) return 0;
    /* Every column read was followed by a delimiter: the rest are fields too. */
    *fields = c == columns ? columns + CountColumns(p, end, delim) : c + 1;
    return c + 1 < columns ? c + 1 : columns;
}

/* Gives the bars the factors a Split column implies: a ratio on a date
** applies to every earlier bar, so each bar carries the product of the
** ratios of the bars after it, and of the splits of refused lines dated
** after it (ApplySplitRatios, which keeps the import's dates). */
static void ApplySplitColumn(Bar *bars, const LineValues *values, int32_t n, std::vector<LineSplit> &refused)
{
    std::vector<LineSplit> splits = refused;
    for (int32_t i = 0; i < n; i++) {
        bars[i].split = 1.0;
        if (values[i].split != 0.0) splits.push_back({bars[i].date, values[i].split});
    }
    ApplySplitRatios(bars, n, splits.data(), splits.size());
}

/* ---- one reader of price lines ----------------------------------------------------------
** A folder's file, an online answer and a multi-symbol file are read line by
** line by the same rules: a NUL byte damages its line only, a date in the
** other order of day and month refuses the file, a first line without a date
** is a header, every other line that is no bar is counted with its reason,
** a comma that looks decimal is named once, and a file that gives no bar is
** reported with the reason. */

/* What the lines of one file came to, for the report of a file that gave
** no bar: which lines there were and why they were refused. */
struct FileTally {
    int32_t lines;          /* nonblank lines, the header included */
    int32_t header;         /* a header line was read */
    int32_t dataLines;      /* lines after the header */
    int32_t divided;        /* data lines with more than one column */
    int32_t noDate;         /* data lines refused for their date */
    RefusedLines refused;
};

/* One price text as its lines are read: the layout it is read with, what its
** lines came to and what it is to be told about. */
struct PriceText {
    const char *name;      /* named in reports: the file, or the symbol of an answer */
    const ImportItem *row; /* the layout: field map, date order, number format, delimiter */
    char delim;
    int dayFirst;
    int mapped;                 /* columns the field map reads */
    int prices;                 /* the PriceBits of the prices it reads */
    int hasNul;                 /* the text holds a NUL byte somewhere */
    FileTally tally;
    int32_t bars;         /* lines read as bars (before the date range) */
    int refused;          /* refused whole, and reported */
    const char *end;       /* the text's end, for looking at the lines ahead */
    int trimmed;           /* the caller drops white space at the ends of lines */
    int32_t headerFields;  /* the fields of the header line, 0 when none was read */
    int32_t allowedFields; /* the fields a data line may have: the header's, or more when every line has more */
    int measured;          /* allowedFields was measured on the lines, at the first with more than the header's */
    const char *firstData; /* the first data line */
};

/* The number of columns the field map reads. */
static int MappedColumns(const int32_t *map)
{
    int n = 0;
    for (int c = 0; c < IMPORT_CSV_FIELDS; c++)
        if (map[c] != CSV_SKIP) n = c + 1;
    return n;
}

/* 1 when the field map reads field (without a close every bar would be
** stored with a close of 0). */
static int MapsField(const int32_t *map, int field)
{
    for (int c = 0; c < IMPORT_CSV_FIELDS; c++)
        if (map[c] == field) return 1;
    return 0;
}

/* The position of the date in the field map (0 when it has none). */
static int DateColumn(const int32_t *map)
{
    for (int c = 0; c < IMPORT_CSV_FIELDS; c++)
        if (map[c] == CSV_DATE) return c;
    return 0;
}

/* Starts the reading of text [text, end) under name with row's layout. */
static void BeginPriceText(PriceText *t, const char *name, const ImportItem *row, const char *text, const char *end)
{
    memset(t, 0, sizeof *t);
    t->name = name;
    t->row = row;
    t->delim = DelimiterChar(row->csvDelimiter);
    t->dayFirst = row->csvDateOrder == 1;
    t->mapped = MappedColumns(row->csvFields);
    t->prices = MappedPrices(row->csvFields);
    t->hasNul = text && memchr(text, 0, (size_t)(end - text)) != nullptr;
    t->end = end;
}

/* Takes the header line [p, end) as the measure of the data lines' fields. */
static void TakeHeaderFields(PriceText *t, const char *p, const char *end)
{
    t->headerFields = t->allowedFields = CountColumns(p, end, t->delim);
}

/* The end of the line [line, end) without the white space after its last
** field: a tab that divides the fields is no white space (a tab file's
** empty last field would be lost with it). */
static const char *TrimmedLineEnd(const char *line, const char *end, char delim)
{
    while (end > line && end[-1] != delim && isspace((unsigned char)end[-1])) end--;
    return end;
}

/* The fields a writer that ends each line with delimiters gives its bars,
** measured on the data lines from p to the text's end as the caller reads
** them: the fewest of the lines with a date and more fields than the header
** names, when those outnumber the dated lines with as many as it names;
** else 0.  A damaged line (cut short, a Total line, an end-of-file byte, a
** header repeated where two files were joined) is no measure of what the
** writer ends its lines with, and a line shifted by a thousands separator
** is one among lines that have the header's fields: each costs its own line
** only. */
static int FewestColumns(const PriceText *t, const char *p)
{
    const int32_t *map = t->row->csvFields;
    const int dateColumn = DateColumn(map);
    int fewest = 0;
    int32_t wider = 0, asNamed = 0;
    while (p < t->end) {
        const char *next;
        const char *lineEnd = FindLineEnd(p, t->end, &next);
        const char *from = p;
        if (t->trimmed) lineEnd = TrimmedLineEnd(from, lineEnd, t->delim);
        p = next;
        const int n = CountColumns(from, lineEnd, t->delim);
        if (n < t->headerFields || n <= dateColumn) continue;
        CsvColumn columns[IMPORT_CSV_FIELDS];
        SplitColumns(from, lineEnd, t->delim, columns, IMPORT_CSV_FIELDS);
        if (!ReadDateColumn(columns[dateColumn], t->dayFirst)) continue;
        if (n == t->headerFields) {
            asNamed++;
            continue;
        }
        wider++;
        if (!fewest || n < fewest) fewest = n;
    }
    return wider > asNamed ? fewest : 0;
}

/* 1 when the fields of the line [p, end) from field number from (0-based)
** on hold nothing but blanks (and empty quotes). */
static int FieldsEmptyFrom(const char *p, const char *end, char delim, int from)
{
    for (int n = 0; n < from; n++)
        if ((p = NextColumn(p, end, delim)) == nullptr) return 1;
    for (; p < end; p++)
        if (*p != delim && *p != '"' && !IsBlank(*p)) return 0;
    return 1;
}

/* The reason the data line [line, end) with fields fields has against the
** header or CSVFields (LINE_BAR when none): a line with fewer fields than
** the columns read is cut short; one with more fields than the header
** names is shifted, unless every line has that many and they are empty
** (some writers end each line with a delimiter).  At the first line with
** more than the header, the lines say which (FewestColumns). */
static inline LineReason FieldCountReason(PriceText *t, const char *line, const char *end, int fields)
{
    /* A line that ends before a column read is cut short: the values it
    ** lacks would be stored as 0. */
    if (fields < t->mapped) return t->headerFields ? LINE_FEWER_FIELDS : LINE_FEWER_FIELDS_NAMED;
    if (!t->headerFields || fields <= t->headerFields) return LINE_BAR;
    if (fields > t->allowedFields && !t->measured) {
        t->measured = 1;
        const int fewest = FewestColumns(t, t->firstData);
        if (fewest > t->allowedFields) t->allowedFields = fewest;
    }
    if (fields > t->allowedFields) {
        /* Once the lines show a writer's trailing delimiters, a line with a
        ** few more of them (an empty optional field after the last one) is
        ** as whole as the others. */
        if (t->allowedFields == t->headerFields) return LINE_EXTRA_FIELDS;
        return FieldsEmptyFrom(line, end, t->delim, t->headerFields) ? LINE_BAR : LINE_EXTRA_FIELDS_LINES;
    }
    /* Fields past the header's that every line has are a writer's trailing
    ** delimiters only when they are empty: a thousands separator in every
    ** line's volume ("1,100,000") gives every line as many, and would store
    ** the first group as the volume. */
    return FieldsEmptyFrom(line, end, t->delim, t->headerFields) ? LINE_BAR : LINE_EXTRA_FIELDS;
}

/* 1 when a line no bar for reason still has its values where the header
** or CSVFields says: a reason of one value, not of the line's make. */
static int KeepsItsColumns(LineReason reason)
{
    switch (reason) {
    case LINE_TEXT:
    case LINE_NOT_FINITE:
    case LINE_MISSING:
    case LINE_HIGH_LOW:
    case LINE_OPEN_OUTSIDE:
    case LINE_CLOSE_OUTSIDE:
    case LINE_BAD_TIME:
    case LINE_ODD_COMMA:
    case LINE_ODD_POINT: return 1;
    default: return 0;
    }
}

/* Counts and notes line number as no bar, for reason. */
static LineReason RefuseLine(PriceText *t, int32_t number, LineReason reason)
{
    if (reason == LINE_NO_DATE) t->tally.noDate++;
    NoteRefusedLine(&t->tally.refused, number, kLineReasons[reason]);
    return reason;
}

/* The general reading of a data line, split into its columns: as
** ReadPriceLine, for a line the straight reading did not take. */
[[gnu::always_inline]] static inline LineReason ReadSplitLine(PriceText *t, const char *p, const char *end, int32_t number,
                                                              int damaged, Bar *bar, LineValues *v, char *symbol)
{
    FileTally &tally = t->tally;
    const int32_t *map = t->row->csvFields;
    CsvColumn columns[IMPORT_CSV_FIELDS];
    int openQuote = 0;
    const int n = SplitColumns(p, end, t->delim, columns, IMPORT_CSV_FIELDS, &openQuote);
    LineReason reason = LINE_NUL_BYTE;
    if (!damaged && openQuote) {
        reason = LINE_OPEN_QUOTE;
        memset(bar, 0, sizeof *bar);
    } else if (!damaged) {
        reason = ReadDataLine(columns, n, map, t->prices, t->row->csvNumberFormat, t->dayFirst, bar, v, symbol);
    }
    tally.divided += n > 1;
    if (reason == LINE_OTHER_ORDER) {
        char date[256];
        RefuseForDateOrder(t->name, number, ColumnText(columns[DateColumn(map)], date, sizeof date), t->dayFirst);
        t->refused = 1;
        return reason;
    }
    /* A shifted or cut line is named as such, whatever its values read as,
    ** unless it has no date (a first line without one is a header however
    ** many fields it has). */
    if (!damaged && !openQuote) {
        const LineReason count = FieldCountReason(t, p, end, n < IMPORT_CSV_FIELDS ? n : CountColumns(p, end, t->delim));
        if (count && reason != LINE_NO_DATE) reason = count;
    }
    if (!reason && symbol && !symbol[0]) reason = LINE_NO_SYMBOL;
    /* A first line of column names has no date: it is passed over, and
    ** measures the fields of the lines after it. */
    if (reason == LINE_NO_DATE && tally.lines == 1) {
        tally.header = 1;
        tally.dataLines--;
        tally.divided -= n > 1;
        TakeHeaderFields(t, p, end);
        return LINE_HEADER;
    }
    if (reason) return RefuseLine(t, number, reason);
    t->bars++;
    return LINE_BAR;
}

/* Reads one nonblank data line [p, end), number from 1, into bar and values
** (and symbol, when the lines carry one).  straight allows the reading of
** the common line straight through (ReadPlainLine); *plainPrices is then
** AddBar's.  LINE_BAR when the line is a bar; otherwise it is counted and
** noted with its reason, and LINE_OTHER_ORDER has refused the file.
** It, ReadPlainLine and ReadSplitLine are built into each caller's loop:
** called, they cost a folder's import about 2% more instructions and 4%
** more time (callgrind and the CSV import benchmark). */
[[gnu::always_inline]] static inline LineReason ReadPriceLine(PriceText *t, const char *p, const char *end, int32_t number, int straight,
                                                              Bar *bar, LineValues *v, char *symbol, int *plainPrices)
{
    *plainPrices = 0;
    t->tally.lines++;
    if (++t->tally.dataLines == 1) t->firstData = p;
    const int damaged = t->hasNul && memchr(p, 0, (size_t)(end - p)) != nullptr;
    if (straight && !damaged) {
        int fields = 0;
        const int n = ReadPlainLine(p, end, t->delim, t->row->csvFields, t->mapped, t->prices, t->dayFirst, bar, v, symbol,
                                    plainPrices, &fields);
        if (n > 0) {
            t->tally.divided += n > 1;
            if (const LineReason count = FieldCountReason(t, p, end, fields)) {
                *plainPrices = 0;
                return RefuseLine(t, number, count);
            }
            t->bars++;
            return LINE_BAR;
        }
        *plainPrices = 0;
    }
    return ReadSplitLine(t, p, end, number, damaged, bar, v, symbol);
}

/* The field id a header column's name gives (0 none): a field's own name,
** or a name of the row's source.  *haveVolume tells whether a volume column
** was named, as CSI files name their volume several ways and the first is
** taken. */
static int HeaderFieldId(const ImportItem *row, const char *name, const SymbolRecord *record, int *haveVolume)
{
    int id = FindKeyword(name, kCsvFieldNames + 1, CSV_FIELD_COUNT - 1);
    if (id >= 0) id += 1;
    if (id < 0 && row->dataSource == SOURCE_TIINGO && row->adjustment != ADJUST_TOTAL_RETURN) {
        if (CompareNoCase(name, "divcash") == 0)
            id = CSV_DIVIDEND;
        else if (CompareNoCase(name, "splitfactor") == 0)
            id = CSV_SPLIT; /* the day's ratio, as a Split column holds it */
    }
    if (row->dataSource == SOURCE_CSI_FUTURES || row->dataSource == SOURCE_CSI_STOCKS) {
        const int volumeName = CompareNoCase(name, "TotalVolume") == 0 || CompareNoCase(name, "OI") == 0 ||
            CompareNoCase(name, "TotalOI") == 0;
        if (id == CSV_VOLUME || (id < 0 && volumeName)) {
            id = *haveVolume ? -1 : CSV_VOLUME;
            *haveVolume = 1;
        } else if (id < 0 && CompareNoCase(name, "UnAdjustedClose") == 0) {
            id = CSV_REAL_CLOSE;
        } else if (id < 0 && record->securityType == SECURITY_FUTURES) {
            if (CompareNoCase(name, "ExpiryDate") == 0)
                id = CSV_EXTRA;
            else if (CompareNoCase(name, "NumericDeliveryMonth") == 0)
                id = CSV_SPLIT;
        }
    }
    return id > 0 ? id : 0;
}

/* The texts of a header line's columns, joined by ", ", in out. */
static const char *ColumnNames(const CsvColumn *columns, int n, char *out, int size)
{
    int length = 0;
    out[0] = 0;
    for (int c = 0; c < n && length < size - 1; c++) {
        /* A NUL byte is shown, since the name it cuts is what the header
        ** failed to name. */
        char name[64];
        int k = 0;
        for (int i = 0; i < columns[c].length && k < (int)sizeof name - 3; i++) {
            if (columns[c].text[i]) {
                name[k++] = columns[c].text[i];
            } else {
                name[k++] = '\\';
                name[k++] = '0';
            }
        }
        name[k] = 0;
        length += FormatText(out + length, (size_t)(size - length), "%s%s", c ? ", " : "", name);
    }
    return out;
}

enum { HEADER_COLUMNS_NAMED = 256 }; /* header columns looked at for a field past the ones read */

/* The price a header's field map lacks, by name ("close", "open", ...), or
** null: the close, and the open, high and low unless it names none of them
** (a file of closes alone, whose bars AddBar makes from the close). */
static const char *MissingPrice(const int32_t *map)
{
    const int prices = MappedPrices(map);
    if (!(prices & PRICE_CLOSE)) return "close";
    if (!(prices & (PRICE_OPEN | PRICE_HIGH | PRICE_LOW))) return nullptr;
    if (!(prices & PRICE_OPEN)) return "open";
    if (!(prices & PRICE_HIGH)) return "high";
    if (!(prices & PRICE_LOW)) return "low";
    return nullptr;
}

/* Reads the header line [p, end) of a text read without CSVFields: each
** column of the row's field map still empty gets the field its name gives.
** A column past the ones read whose name gives a field is named; a header
** that names a date but a price no column (MissingPrice) refuses the text
** (without a date, the
** file is most likely divided by another delimiter, which the lines' own
** report says). */
static void ReadHeaderLine(PriceText *t, ImportItem *row, const char *p, const char *end, const SymbolRecord *record)
{
    t->tally.lines++;
    t->tally.header = 1;
    CsvColumn columns[HEADER_COLUMNS_NAMED];
    int openQuote = 0;
    const int n = SplitColumns(p, end, t->delim, columns, HEADER_COLUMNS_NAMED, &openQuote);
    if (openQuote) {
        ReportRefusedFile(t->name, kRefusedOpenQuote, (int)t->tally.lines);
        t->refused = 1;
        return;
    }
    TakeHeaderFields(t, p, end);
    const int read = n < IMPORT_CSV_FIELDS ? n : IMPORT_CSV_FIELDS;
    int haveVolume = 0;
    for (int c = 0; c < read; c++)
        if (row->csvFields[c] == CSV_VOLUME) haveVolume = 1;
    for (int c = 0; c < n; c++) {
        if (c < read && row->csvFields[c] != CSV_SKIP) continue;
        char name[256];
        int id = HeaderFieldId(row, ColumnText(columns[c], name, sizeof name), record, &haveVolume);
        /* A field read from a column before is no loss. */
        if (c < read && id)
            row->csvFields[c] = id;
        else if (id && !MapsField(row->csvFields, id))
            ReportImportNote(t->name, kNotePastColumns, c + 1, name, IMPORT_CSV_FIELDS);
    }
    t->mapped = MappedColumns(row->csvFields);
    t->prices = MappedPrices(row->csvFields);
    const char *missing = MissingPrice(row->csvFields);
    if (MapsField(row->csvFields, CSV_DATE) && missing) {
        char found[PATH_SIZE];
        ColumnNames(columns, read, found, sizeof found);
        if (n > IMPORT_CSV_FIELDS)
            ReportRefusedFile(t->name, kRefusedNoPriceRead, IMPORT_CSV_FIELDS, missing, found);
        else
            ReportRefusedFile(t->name, kRefusedNoPrice, missing, found);
        t->refused = 1;
    }
}

/* Refuses a text read by CSVFields that names a date but a price no column
** (MissingPrice), as a header that names none is refused: every bar would
** be stored with 0 for it. */
static void RefuseNamedWithoutPrice(PriceText *t)
{
    const int32_t *map = t->row->csvFields;
    const char *missing = MissingPrice(map);
    if (!missing || !MapsField(map, CSV_DATE)) return;
    char names[PATH_SIZE];
    int length = 0;
    names[0] = 0;
    for (int c = 0; c < t->mapped && length < (int)sizeof names - 1; c++)
        length += FormatText(names + length, sizeof names - (size_t)length, "%s%s", c ? "," : "", kCsvFieldNames[map[c]]);
    ReportRefusedFile(t->name, kRefusedNoPriceNamed, missing, names);
    t->refused = 1;
}

/* Reports a text that gave no bar line at all, with the reason; where the
** layout the text was read with may be the cause, the layout and the
** settings that choose it. */
static void ReportNoBars(const PriceText *t)
{
    const FileTally &tally = t->tally;
    const ImportItem *row = t->row;
    if (tally.lines == 0)
        ReportRefusedFile(t->name, kRefusedEmpty);
    else if (tally.dataLines == 0 && tally.header)
        ReportRefusedFile(t->name, kRefusedHeaderOnly);
    else if (tally.divided == 0 && tally.dataLines > 0 && MappedColumns(row->csvFields) != 1)
        ReportRefusedFile(t->name, kRefusedDelimiter, DelimiterName(row->csvDelimiter));
    else
        ReportRefusedFile(t->name, kReadWithLayout,
                          tally.noDate == tally.refused.count && tally.refused.count > 0 ? kRefusedNoDates : kRefusedNoBars,
                          DelimiterName(row->csvDelimiter), row->csvNumberFormat == NUMBER_COMMA ? "commas" : "points");
}

/* Reports a text's refused lines, and the text itself when it gave no bar.
** Nothing for a text refused whole. */
static void FinishPriceText(PriceText *t)
{
    if (t->refused) return;
    ReportRefusedLines(t->name, &t->tally.refused);
    if (t->bars == 0) ReportNoBars(t);
}

/* Adds the lines of more, noted in a later pass, to into: the lines named
** stay the first ones by number. */
static void MergeRefusedLines(RefusedLines *into, const RefusedLines &more)
{
    if (more.count == 0) return;
    std::vector<std::pair<int32_t, const char *>> shown;
    for (int32_t k = 0; k < into->count && k < REFUSED_LINES_SHOWN; k++) shown.push_back({into->lines[k], into->reasons[k]});
    for (int32_t k = 0; k < more.count && k < REFUSED_LINES_SHOWN; k++) shown.push_back({more.lines[k], more.reasons[k]});
    std::stable_sort(shown.begin(), shown.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    const int32_t total = into->count + more.count;
    *into = {};
    for (const auto &line : shown) NoteRefusedLine(into, line.first, line.second);
    into->count = total;
}

/* Marks the days of a text's bars as market days, once the text is accepted
** whole: a text refused on any line leaves no trace. */
static void MarkMarketDays(const Bar *bars, int32_t n)
{
    for (int32_t i = 0; i < n; i++) MarkMarketDay(bars[i].date);
}

/* ---- a symbol's text -------------------------------------------------------------------- */

/* The CSI futures layout: the Extra column holds the expiry, which becomes
** the bar's contract (and the record's delisting) when the bar lies in the
** import's range and the expiry is a date other than the one known; the
** unadjusted close goes to Extra and the delivery month takes its place.
** 0 when the bar lies in the range with an expiry that is given (not 0)
** and is no day of the calendar (20240230, -20240615, 2024.5): its contract
** would be one that never was, or the bar would be kept without one. */
static int TakeContractColumns(Bar *bar, LineValues *v, SymbolInfo *info)
{
    const double expiry = bar->extra;
    const int inRange = bar->date >= gImport.startDate && bar->date <= gImport.endDate;
    const int isDate = expiry >= 10000101.0 && expiry <= 99991231.0 && expiry == (double)(int32_t)expiry &&
        IsCalendarDate((int32_t)expiry);
    if (inRange && expiry != 0 && !isDate) return 0;
    if (inRange && isDate && (int32_t)expiry != info->DelistDate) {
        v->dividend = expiry;
        info->DelistDate = (int32_t)expiry;
    }
    bar->extra = v->unadjusted;
    v->unadjusted = v->split;
    v->split = 0.0;
    return 1;
}

/* 1 when the row's field map holds a Split column that makes bars carry the
** factors of later splits (the CSI futures layout uses the column otherwise). */
static int MapsSplitFactors(const ImportItem *row)
{
    return row->dataSource != SOURCE_CSI_FUTURES && MapsField(row->csvFields, CSV_SPLIT);
}

/* Takes in the count bars of a file with a Split column, read whole before
** (values and lineOf are each bar's, splits those of refused lines): each
** bar gets the factors of the splits after it, then AddBar keeps it in
** place or drops it, noted in refused by its line.  The bars kept. */
static int32_t TakeSplitBars(SymbolRecord *record, int32_t count, const LineValues *values, const int32_t *lineOf,
                             std::vector<LineSplit> &splits, RefusedLines *refused)
{
    Bar *bars = record->bars[BAR_DAILY];
    int hasSplit = !splits.empty();
    for (int32_t i = 0; i < count && !hasSplit; i++) hasSplit = values[i].split != 0.0;
    if (hasSplit) ApplySplitColumn(bars, values, count, splits);
    RefusedLines dropped = {};
    int32_t kept = 0;
    for (int32_t i = 0; i < count; i++) {
        Bar bar = bars[i];
        const LineValues &v = values[i];
        const char *why = nullptr;
        if (AddBar(record, &bar, v.adjusted, v.unadjusted, v.dividend, 0, 0, &why))
            bars[kept++] = bar;
        else if (why)
            NoteRefusedLine(&dropped, lineOf[i], why);
    }
    MergeRefusedLines(refused, dropped);
    return kept;
}

int ParseHeaderCsv(ImportItem *row, const char *text, const char *storedSymbol, SymbolRecord *record, int flags)
{
    int fileSource = row->dataSource == SOURCE_CSV || row->dataSource == SOURCE_CSI_FUTURES ||
        row->dataSource == SOURCE_CSI_STOCKS;
    char *buffer = nullptr;
    int lines = 0;
    uint32_t length = 0;
    if (fileSource) {
        /* A file that cannot be opened is refused with the system's reason
        ** (and counted as refused), like any other file that gives nothing. */
        PlatFile file = PlatOpenFile(text, PLAT_OPEN_READ);
        if (!file) {
            ReportRefusedFile(text, kRefusedUnreadable, GetErrorText());
            return 0;
        }
        NoteRunInput(text, kPriceFileUse);
        /* A UTF-16 file is passed over with its reason like any other file
        ** that gives nothing; LoadTextFile would end the import on it. */
        char head[2] = {};
        uint32_t got = 0;
        const int utf16 = PlatReadFile(file, head, sizeof head, &got) && IsUtf16Text(head, head + got);
        PlatCloseFile(file);
        if (utf16) {
            ReportRefusedFile(text, kUtf16TextReason);
            return 0;
        }
        /* Read as it stands: each line's quotes are its own (SplitColumns),
        ** as in a multi-symbol file, so a quote a line leaves open costs that
        ** line only. */
        if (LoadTextFile(text, &buffer, &length)) lines = CountTextLines(buffer, buffer + length);
    } else {
        const char *start = SkipByteOrderMark(text, text + strlen(text));
        const char *first = start;
        while (*first == ' ' || *first == '\t' || *first == '\r' || *first == '\n') first++;
        if (*first == '<') {
            /* A page of the site (a notice, a sign-in page) instead of prices. */
            ReportRefusedFile(storedSymbol, kRefusedPage);
            return 0;
        }
        length = (uint32_t)strlen(start);
        if (AllocMemory(&buffer, length + 1)) {
            memcpy(buffer, start, length);
            lines = CountTextLines(start, start + length);
        }
    }
    if (lines < 1) return -1;
    ApplySymbolInfo(storedSymbol, record, row->dataSource);
    SymbolInfo &info = record->info;
    if ((row->dataSource == SOURCE_CSI_FUTURES || row->dataSource == SOURCE_CSI_STOCKS) && info.InduIndex[0]) {
        if (strcmp(info.Type, "Forex") == 0) CopyString(info.Symbol, sizeof info.Symbol, info.InduIndex, -1);
        info.InduIndex[0] = 0;
    }
    record->firstDate = FIRST_USED_NONE;
    record->lastDate = 0;
    int ok = AllocMemory(&record->bars[BAR_DAILY], (uint64_t)(lines + 1) * sizeof(Bar));
    if (ok) record->dailyCapacity = lines + 1;
    /* The text's own length: a NUL byte in a damaged file ends no more than
    ** its line, which is refused. */
    const char *p = buffer, *end = buffer ? buffer + length : nullptr;
    PriceText t;
    BeginPriceText(&t, fileSource ? text : storedSymbol, row, p, end);
    int header = t.mapped == 0;
    if (!header) RefuseNamedWithoutPrice(&t);
    int csiFutures = row->dataSource == SOURCE_CSI_FUTURES;
    /* Lines of the CSI futures layout change their values before they are
    ** taken in; they always take the general reading. */
    const int straight = row->csvNumberFormat == NUMBER_POINT && !csiFutures;
    /* A Split column gives every bar the factor of the splits after it, so
    ** the bars are read first and taken in afterwards; otherwise each bar is
    ** taken in as it is read. */
    int twoPass = MapsSplitFactors(row);
    std::vector<LineValues> values;
    std::vector<int32_t> lineOf; /* the line of each bar read, in two passes */
    if (twoPass) values.resize((size_t)lines + 1), lineOf.resize((size_t)lines + 1);
    LineValues lineValues;
    std::vector<LineSplit> lineSplits;
    int32_t count = 0, kept = 0, lineNumber = 0;
    /* Bars are taken in as they are read, but the market days they make are
    ** marked only once the whole file is accepted. */
    while (ok && !t.refused && p < end) {
        const char *line = p, *next;
        const char *lineEnd = FindLineEnd(line, end, &next);
        p = next;
        lineNumber++;
        if (lineEnd == line) continue;
        if (header) {
            header = 0;
            ReadHeaderLine(&t, row, line, lineEnd, record);
            twoPass = MapsSplitFactors(row);
            if (twoPass && values.empty()) values.resize((size_t)lines + 1), lineOf.resize((size_t)lines + 1);
            continue;
        }
        /* With a Split column every line read keeps its place; otherwise a
        ** bar AddBar drops gives its place to the next. */
        Bar *bar = &record->bars[BAR_DAILY][twoPass ? count : kept];
        LineValues *v = twoPass ? &values[(size_t)count] : &lineValues;
        int plainPrices = 0;
        const LineReason reason = ReadPriceLine(&t, line, lineEnd, lineNumber, straight, bar, v, nullptr, &plainPrices);
        if (reason != LINE_BAR) {
            if (twoPass && KeepsItsColumns(reason) && v->split > 0.0) lineSplits.push_back({bar->date, v->split});
            continue;
        }
        if (csiFutures && !TakeContractColumns(bar, v, &info)) {
            t.bars--;
            RefuseLine(&t, lineNumber, LINE_BAD_EXPIRY);
            continue;
        }
        if (twoPass) lineOf[(size_t)count] = lineNumber;
        count++;
        if (twoPass) continue;
        const char *why = nullptr;
        if (AddBar(record, bar, v->adjusted, v->unadjusted, v->dividend, 0, plainPrices, &why))
            kept++;
        else if (why)
            NoteRefusedLine(&t.tally.refused, lineNumber, why);
    }
    if (t.refused) count = kept = 0;
    if (ok && twoPass) kept = TakeSplitBars(record, count, values.data(), lineOf.data(), lineSplits, &t.tally.refused);
    if (ok && flags) MarkMarketDays(record->bars[BAR_DAILY], kept);
    record->barCounts[BAR_DAILY] = kept;
    if (kept == 0) record->firstDate = 0;
    if (row->dataSource == SOURCE_CSI_FUTURES && !IsFuturesContractSymbol(record, nullptr)) info.DelistDate = 0;
    if (ok) FinishPriceText(&t);
    FreeMemory(&buffer);
    return ok ? kept : -1;
}

/* The work item for symbol of file in row's block, or null when it is not
** wanted (a symbol imported already is refused by name). */
static ImportWorkItem *WorkItemFor(ImportItem *row, char *symbol, const char *file)
{
    ImportWorkItem *item;
    if (row->blockHasIncludeList && !gImportState.KeepNonIncluded) {
        item = FindImportWorkItem(symbol, row->blockNumber);
    } else {
        int32_t before = gImport.workCount;
        item = AddSymbolToImportList(symbol, row->blockNumber, row->listNumber, row->listFlag);
        if (item && gImport.workCount > before) item->fromFile = 1;
    }
    if (!item || RefuseImportedAlready(file, symbol, row->listNumber) || IsSymbolExcluded(symbol, row->blockNumber))
        return nullptr;
    return item;
}

/* Stores a parsed record of file under its work item unless the filter
** drops it; 0 when memory ran out.  The record is empty afterwards. */
static int KeepSymbol(SymbolRecord *record, ImportWorkItem *item, const char *file)
{
    SortBars(record);
    record->info.listNumber = item->list;
    memcpy(record->info.includeLists, item->lists, sizeof record->info.includeLists);
    char stored[IMPORT_SYMBOL_SIZE];
    CopyString(stored, sizeof stored, record->info.Symbol, -1);
    int result = 0;
    if (!LogSymbolFiltered(record, 0)) result = FinishSymbol(record, item);
    if (result > 0) NoteStoredFrom(stored, file);
    FreeSymbolRecord(record);
    return result >= 0;
}

struct FolderEntry {
    std::string name;
    int isFolder;
};

static int CollectEntry(const char *name, int isFolder, void *user)
{
    ((std::vector<FolderEntry> *)user)->push_back({name, isFolder});
    return 1;
}

static int AnyFileMatches(const char *pattern)
{
    std::vector<FolderEntry> entries;
    PlatListFolder(pattern, CollectEntry, &entries);
    for (const FolderEntry &e : entries)
        if (!e.isFolder) return 1;
    return 0;
}

/* 1 when path names the value of some Import row (a list or information file). */
static int IsImportRowPath(const char *path)
{
    const ImportItem *rows = (const ImportItem *)gImportItems.items;
    for (int32_t r = 0; r < gImportItems.count; r++)
        if (ComparePaths(rows[r].value, path) == 0) return 1;
    return 0;
}

/* The symbol of the file name whose extension starts at dot: the name
** before it without the blanks around it (as in a line or a list, "AAA .csv"
** is AAA, never AAA_), made an identifier. */
static void FileSymbol(char symbol[IMPORT_SYMBOL_SIZE], const char *name, const char *dot)
{
    const CsvColumn c = SymbolText({name, (int32_t)(dot - name)});
    CopyString(symbol, IMPORT_SYMBOL_SIZE, c.text, c.length);
    MakeIdentifier(symbol);
}

int ImportFolder(ImportItem *row)
{
    const char *sourceName = kDataSourceNames[row->dataSource];
    SetStatusText(0, "Importing %s Data From %s", sourceName, row->value);
    if (row->kind == IMPKW_CSV_FILE) return ImportCsvFile(row, row->listFlag);

    char pattern[PATH_SIZE];
    const char *extension = ".csv";
    if (row->dataSource == SOURCE_CSI_STOCKS) {
        if (!ComposeImportPath(pattern, row->value, "%s\\*.txt", row->value)) return 0;
        if (AnyFileMatches(pattern)) extension = ".txt";
    }
    if (!ComposeImportPath(pattern, row->value, "%s\\*%s", row->value, extension)) return 0;
    std::vector<FolderEntry> entries;
    if (!PlatListFolder(pattern, CollectEntry, &entries)) {
        char reason[256];
        CopyString(reason, sizeof reason, GetErrorText(), -1);
        ReportRefusedFile(row->value, kRefusedUnreadableFolder, reason);
        ReportError(kMsgUnableToRead, row->value, reason);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    /* Name order (of names that differ only in case, the byte order), so
    ** that both builds, whatever the listing's order, import the files alike
    ** and keep the same one of two files that become one symbol. */
    std::sort(entries.begin(), entries.end(), [](const FolderEntry &a, const FolderEntry &b) {
        int c = CompareNoCase(a.name.c_str(), b.name.c_str());
        return c ? c < 0 : strcmp(a.name.c_str(), b.name.c_str()) < 0;
    });
    if (entries.empty()) {
        ReportError(kMsgNoFiles, extension, row->value);
        return 0;
    }
    /* Without CSVFields every file maps its own header, so the map starts
    ** empty for each file. */
    int32_t givenFields[IMPORT_CSV_FIELDS];
    memcpy(givenFields, row->csvFields, sizeof givenFields);
    SymbolRecord record;
    memset(&record, 0, sizeof record);
    /* The file each symbol was stored from: another file that becomes the
    ** same symbol ("BRK B.csv", "BRK_B.csv") is refused and named; so is one
    ** whose symbol its information row changes into a symbol stored (two
    ** CSI files of one currency). */
    std::unordered_map<std::string, size_t> storedFrom, storedAs;
    gImport.progressTotal = (int32_t)entries.size();
    gImport.progressDone = 0;
    for (const FolderEntry &entry : entries) {
        PumpMessages();
        if (StopRequested()) return 0;
        gImport.progressDone++;
        if (entry.isFolder) continue;
        const char *name = entry.name.c_str();
        const char *dot = strrchr(name, '.');
        if (!dot || dot == name || CompareNoCase(dot, extension) != 0) continue;
        char path[PATH_SIZE];
        if (!ComposeImportPath(path, name, "%s\\%s", row->value, name)) continue;
        if (IsImportRowPath(path)) continue;
        if (dot - name >= FILE_NAME_SYMBOL_MAX) {
            ReportRefusedText(kLogNameTooLong, name);
            continue;
        }
        char symbol[IMPORT_SYMBOL_SIZE];
        FileSymbol(symbol, name, dot);
        if (!symbol[0]) continue; /* blanks alone name no symbol, as ".csv" does not */
        gImport.processedCount++;
        std::string key = symbol;
        for (char &c : key) c = (char)toupper((unsigned char)c);
        auto first = storedFrom.find(key);
        if (first != storedFrom.end()) {
            const char *firstName = entries[first->second].name.c_str();
            char stored[IMPORT_SYMBOL_SIZE];
            FileSymbol(stored, firstName, strrchr(firstName, '.'));
            ReportRefusedFile(path, kRefusedSameSymbol, stored, firstName);
            continue;
        }
        ImportWorkItem *item = WorkItemFor(row, symbol, path);
        if (!item) continue;
        CopyString(gImport.progressName, sizeof gImport.progressName, symbol, -1);
        SetStatusText(1, "Symbol: %s", symbol);
        memcpy(row->csvFields, givenFields, sizeof givenFields);
        if (ParseHeaderCsv(row, path, item->saveAs, &record, row->listFlag) < 1) {
            FreeSymbolRecord(&record);
            continue;
        }
        std::string stored = record.info.Symbol;
        for (char &c : stored) c = (char)toupper((unsigned char)c);
        auto other = storedAs.find(stored);
        if (other != storedAs.end()) {
            ReportRefusedFile(path, kRefusedSameSymbol, record.info.Symbol, entries[other->second].name.c_str());
            FreeSymbolRecord(&record);
            continue;
        }
        storedFrom.emplace(key, (size_t)(&entry - entries.data()));
        storedAs.emplace(stored, (size_t)(&entry - entries.data()));
        if (!KeepSymbol(&record, item, path)) return 0;
    }
    return 1;
}

static void FormatClock(char out[16], uint64_t milliseconds)
{
    uint64_t s = milliseconds / 1000;
    FormatText(out, 16, "%.2d:%.2d:%.2d", (int)(s / 3600), (int)(s / 60 % 60), (int)(s % 60));
}

/* The multi-symbol file's symbols as they are read: records by upper-case symbol. */
struct LocalSymbols {
    SymbolRecord *records;
    int32_t count, capacity;
    HashTable *keys;
};

static void FreeLocalSymbols(LocalSymbols *local)
{
    for (int32_t i = 0; i < local->count; i++) FreeSymbolRecord(&local->records[i]);
    FreeMemory(&local->records);
    HashDestroy(local->keys);
    memset(local, 0, sizeof *local);
}

static SymbolRecord *LocalRecord(LocalSymbols *local, const char *symbol, int source)
{
    uint64_t at = HashLookup(local->keys, symbol);
    if (at) return &local->records[at - 1];
    if (local->count == local->capacity) {
        int32_t capacity = local->capacity + LOCAL_GROWTH;
        if (!ReallocMemory(&local->records, (uint64_t)capacity * sizeof(SymbolRecord))) return nullptr;
        local->capacity = capacity;
    }
    SymbolRecord *record = &local->records[local->count];
    if (!HashInsert(local->keys, symbol, (uint64_t)local->count + 1)) return nullptr;
    local->count++;
    ApplySymbolInfo(symbol, record, source);
    record->firstDate = FIRST_USED_NONE;
    record->lastDate = 0;
    return record;
}

int ImportCsvFile(ImportItem *row, int flags)
{
    const char *path = row->value;
    PlatFile file = PlatOpenFile(path, PLAT_OPEN_READ);
    if (file) NoteRunInput(path, kPriceFileUse);
    uint64_t size = 0;
    if (!file || !PlatGetFileSize(file, &size)) {
        char reason[256];
        CopyString(reason, sizeof reason, GetErrorText(), -1);
        if (file) PlatCloseFile(file);
        ReportRefusedFile(path, kRefusedUnreadable, reason);
        ReportError(kMsgUnableToRead, path, reason);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (!CheckFileSizeLimit(size, path)) {
        PlatCloseFile(file);
        return 0;
    }
    SetStatusText(0, "Reading data from %s...", path);
    char *text = nullptr;
    int ok = AllocMemory(&text, size + 1) && (size == 0 || ReadFileData(file, text, (uint32_t)size, path));
    PlatCloseFile(file);
    if (!ok) {
        FreeMemory(&text);
        return 0;
    }
    text[size] = 0;

    if (IsUtf16Text(text, text + size)) {
        ReportRefusedFile(path, kUtf16TextReason);
        FreeMemory(&text);
        return 1;
    }
    LocalSymbols local;
    memset(&local, 0, sizeof local);
    local.keys = HashCreate();
    ok = local.keys != nullptr;
    uint64_t started = PlatTickCount64();
    int64_t lineCount = 0;
    const char *cursor = SkipByteOrderMark(text, text + size);
    /* As in a folder's file, market days are marked once the whole file is
    ** accepted, and a NUL byte ends no more than its line. */
    PriceText t;
    BeginPriceText(&t, path, row, text, text + size);
    t.trimmed = 1;
    RefuseNamedWithoutPrice(&t);
    /* Lines of one symbol mostly follow each other: the last record found
    ** is tried before the table. */
    char lastSymbol[IMPORT_SYMBOL_SIZE] = "";
    int32_t lastRecord = -1;
    /* Each record's symbol as the lines write it (the record holds its
    ** identifier form), for naming two that become one. */
    std::vector<std::string> written;
    /* With a Split column each symbol's bars are taken in once the file is
    ** read, as a folder's file's are: a split applies to the earlier bars. */
    struct SplitLines {
        std::vector<LineValues> values;
        std::vector<int32_t> lineOf;
        std::vector<LineSplit> refused;
    };
    const int twoPass = MapsSplitFactors(row);
    std::vector<SplitLines> pending; /* by record, with a Split column */
    /* Lines are taken whole from the text in memory, however long. */
    while (ok && !t.refused && cursor < text + size) {
        const char *line = cursor;
        const char *end = TrimmedLineEnd(line, FindLineEnd(line, text + size, &cursor), t.delim);
        if (++lineCount % STATUS_LINES == 0) {
            char number[32], elapsedText[16], remainingText[16];
            FormatText(number, sizeof number, "%lld", (long long)lineCount);
            InsertCommas(number, (int32_t)strlen(number), (int32_t)sizeof number);
            uint64_t elapsed = PlatTickCount64() - started;
            uint64_t done = (uint64_t)(cursor - text);
            FormatClock(elapsedText, elapsed);
            FormatClock(remainingText, done ? (size - done) * elapsed / done : 0);
            SetStatusText(1, "Lines: %s", number);
            SetStatusText(2, "Elapsed: %s", elapsedText);
            SetStatusText(3, "Remaining: %s", remainingText);
            PumpMessages();
            if (StopRequested()) {
                ok = 0;
                break;
            }
        }
        /* A spreadsheet's empty row is its delimiters alone. */
        if (line == end || FieldsEmptyFrom(line, end, t.delim, 0)) continue;
        Bar bar;
        LineValues v;
        char symbol[IMPORT_SYMBOL_SIZE];
        int plainPrices = 0;
        const LineReason reason = ReadPriceLine(&t, line, end, (int32_t)lineCount, 0, &bar, &v, symbol, &plainPrices);
        const int keepsSplit = twoPass && KeepsItsColumns(reason) && v.split > 0.0 && symbol[0];
        if (reason != LINE_BAR && !keepsSplit) continue;
        for (char *q = symbol; *q; q++) *q = (char)toupper((unsigned char)*q);
        SymbolRecord *record = nullptr;
        if (lastRecord >= 0 && strcmp(symbol, lastSymbol) == 0) {
            record = &local.records[lastRecord];
        } else {
            const int32_t before = local.count;
            record = LocalRecord(&local, symbol, row->dataSource);
            if (record && local.count > before) written.push_back(symbol);
            if (record) {
                CopyString(lastSymbol, sizeof lastSymbol, symbol, -1);
                lastRecord = (int32_t)(record - local.records);
            }
        }
        if (!record) {
            ok = 0;
            break;
        }
        SplitLines *splits = nullptr;
        if (twoPass) {
            if (pending.size() < (size_t)local.count) pending.resize((size_t)local.count);
            splits = &pending[(size_t)(record - local.records)];
        }
        if (reason != LINE_BAR) {
            splits->refused.push_back({bar.date, v.split});
            continue;
        }
        int32_t count = record->barCounts[BAR_DAILY];
        if (count + 1 >= record->dailyCapacity) {
            int32_t capacity = record->dailyCapacity + BAR_GROWTH;
            if (!ReallocMemory(&record->bars[BAR_DAILY], (uint64_t)capacity * sizeof(Bar))) {
                ok = 0;
                break;
            }
            record->dailyCapacity = capacity;
        }
        if (splits) {
            record->bars[BAR_DAILY][count] = bar;
            record->barCounts[BAR_DAILY] = count + 1;
            splits->values.push_back(v);
            splits->lineOf.push_back((int32_t)lineCount);
            continue;
        }
        const char *why = nullptr;
        if (AddBar(record, &bar, v.adjusted, v.unadjusted, v.dividend, 0, 0, &why)) {
            record->bars[BAR_DAILY][count] = bar;
            record->barCounts[BAR_DAILY] = count + 1;
        } else if (why) {
            NoteRefusedLine(&t.tally.refused, (int32_t)lineCount, why);
        }
    }
    for (size_t i = 0; ok && !t.refused && i < pending.size(); i++) {
        SymbolRecord *record = &local.records[i];
        SplitLines &s = pending[i];
        record->barCounts[BAR_DAILY] = TakeSplitBars(record, record->barCounts[BAR_DAILY], s.values.data(), s.lineOf.data(),
                                                     s.refused, &t.tally.refused);
    }
    const int refused = t.refused;
    if (ok) FinishPriceText(&t);
    FreeMemory(&text);
    for (int32_t i = 0; ok && !refused && flags && i < local.count; i++)
        MarkMarketDays(local.records[i].bars[BAR_DAILY], local.records[i].barCounts[BAR_DAILY]);

    if (ok) SetStatusText(0, "Processing %d unique symbols...", local.count);
    gImport.progressTotal = local.count;
    /* Two symbols of the file that become one identifier ("BRK B" and
    ** "BRK_B"): the first is kept and the other named, as in a folder. */
    std::unordered_map<std::string, std::string> identifiers;
    for (int32_t i = 0; ok && !refused && i < local.count; i++) {
        SymbolRecord *record = &local.records[i];
        gImport.processedCount++;
        gImport.progressDone = i + 1;
        CopyString(gImport.progressName, sizeof gImport.progressName, record->info.Symbol, -1);
        if (i % 100 == 99) {
            SetStatusText(1, "Symbol: %s", record->info.Symbol);
            PumpMessages();
            if (StopRequested()) {
                ok = 0;
                break;
            }
        }
        char symbol[IMPORT_SYMBOL_SIZE];
        CopyString(symbol, sizeof symbol, record->info.Symbol, -1);
        if (record->barCounts[BAR_DAILY] > 0) {
            char id[IMPORT_SYMBOL_SIZE];
            CopyString(id, sizeof id, symbol, -1);
            MakeIdentifier(id);
            std::string key = id;
            for (char &c : key) c = (char)toupper((unsigned char)c);
            auto first = identifiers.find(key);
            if (first != identifiers.end()) {
                char shown[PATH_SIZE * 2];
                ReportRefusedText(kRefusedSameSymbolLines, PathAsShown(path, shown, sizeof shown),
                                  written[(size_t)i].c_str(), id, first->second.c_str());
                FreeSymbolRecord(record);
                continue;
            }
            identifiers.emplace(key, written[(size_t)i]);
        }
        ImportWorkItem *item = record->barCounts[BAR_DAILY] > 0 ? WorkItemFor(row, symbol, path) : nullptr;
        if (!item) {
            FreeSymbolRecord(record);
            continue;
        }
        char saveAs[IMPORT_SYMBOL_SIZE];
        CopyString(saveAs, sizeof saveAs, item->saveAs, -1);
        MakeIdentifier(saveAs);
        CopyString(record->info.Symbol, sizeof record->info.Symbol, saveAs, -1);
        ApplySymbolInfo(saveAs, record, row->dataSource);
        ok = KeepSymbol(record, item, path);
    }
    FreeLocalSymbols(&local);
    /* A file that gave no symbol is passed over like an empty file in a
    ** folder; whether anything was imported at all is the driver's call. */
    return ok;
}
