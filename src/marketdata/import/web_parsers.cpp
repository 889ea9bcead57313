/* web_parsers.cpp -- numbers as the price sources write them, and the
** readers of the online sources' price answers. */
#include "marketdata/import/web_parsers.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"

enum { NUMBER_COPY_SIZE = 128 };

double ParseNumber(const char *text, int format) { return ParseNumberText(text, strlen(text), format); }

double ParseNumberText(const char *text, size_t length, int format)
{
    if (format == NUMBER_POINT && !memchr(text, ',', length)) {
        /* Nothing to drop: the text reads as it stands. */
        double value = 0.0;
        auto [end, error] = std::from_chars(text, text + length, value);
        if (error == std::errc() && end != text && (end == text + length || (*end != 'x' && *end != 'X'))) return value;
    }
    /* The whole text is read, however long: a number cut to its first
    ** digits would be another number.  Long texts (rare) are copied to a
    ** tracked block, so that running out of memory, on a worker too, sets
    ** the low-memory state (the number then reads as 0 and the import
    ** stops); the usual ones stay on the stack. */
    char small[NUMBER_COPY_SIZE];
    char *large = nullptr;
    char *copy = small;
    if (length >= sizeof small) {
        if (!AllocMemory(&large, (uint64_t)length + 1)) return 0.0;
        copy = large;
    }
    size_t n = 0;
    for (size_t i = 0; i < length; i++) {
        char c = text[i];
        if (format == NUMBER_COMMA) {
            if (c == '.') continue;
            if (c == ',') c = '.';
        } else if (c == ',') {
            continue;
        }
        copy[n++] = c;
    }
    copy[n] = 0;
    /* The common plain decimal is converted directly; anything from_chars
    ** reads differently from atof (blanks, '+', hexadecimal) goes to atof. */
    double value = 0.0;
    auto [end, error] = std::from_chars(copy, copy + n, value);
    if (error != std::errc() || end == copy || *end == 'x' || *end == 'X') value = atof(copy);
    FreeMemory(&large);
    return value;
}

/* ---- dates ------------------------------------------------------------------------ */

int32_t OleDateToDate(double ole)
{
    /* Day 25569 is 1970-01-01. */
    if (!(ole > -693594.0 && ole < 2958466.0)) return 0;
    return DateFromDayNumber((int64_t)floor(ole) - 25569);
}

/* ---- the updater's binary price series ------------------------------------------------ */

/* The integer after name in the header text; -1 when the header is missing. */
static int64_t HeaderNumber(const char *headers, const char *name)
{
    const char *p = strstr(headers, name);
    if (!p) return -1;
    p += strlen(name);
    if (*p < '0' || *p > '9') return -1;
    int64_t v = 0;
    while (*p >= '0' && *p <= '9' && v < 1000000000) v = v * 10 + (*p++ - '0');
    return v;
}

static float ReadF32(const unsigned char *p)
{
    uint32_t u = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    float f;
    memcpy(&f, &u, 4);
    return f;
}

static double ReadF64(const unsigned char *p)
{
    uint64_t u = 0;
    for (int i = 7; i >= 0; i--) u = u << 8 | p[i];
    double d;
    memcpy(&d, &u, 8);
    return d;
}

static void FreeBarsAndEvents(SymbolRecord *record)
{
    FreeMemory(&record->bars[BAR_DAILY]);
    FreeMemory(&record->events);
    record->dailyCapacity = 0;
    record->barCounts[BAR_DAILY] = 0;
    record->eventCount = record->eventCapacity = 0;
}

/* What a Norgate series' headers say of the size bytes that came with them
** (fields and records out): NORGATE_WHOLE, or the fault, which why words. */
enum NorgateLength { NORGATE_WHOLE = 0,
                     NORGATE_NO_COUNTS,  /* no Field-Count or Record-Count */
                     NORGATE_NO_SERIES,  /* counts that name no price series */
                     NORGATE_CUT };      /* fewer bytes than the records announced */

static NorgateLength NorgateSeriesLength(const char *headers, uint32_t size, int64_t *fields, int64_t *records,
                                         char *why)
{
    *fields = HeaderNumber(headers, "Field-Count: ");
    *records = HeaderNumber(headers, "Record-Count: ");
    if (*fields < 0 || *records < 0) {
        FormatText(why, PARSE_WHY_SIZE, "the answer has no %s header", *fields < 0 ? "Field-Count" : "Record-Count");
        return NORGATE_NO_COUNTS;
    }
    if (*fields < 5 || *records < 1 || *fields > 1000) {
        FormatText(why, PARSE_WHY_SIZE, "its Field-Count of %lld or Record-Count of %lld is no price series",
                   (long long)*fields, (long long)*records);
        return NORGATE_NO_SERIES;
    }
    /* A count beyond the bytes that arrived is an answer cut short: never
    ** allocated for, and never read as the whole history. */
    const int64_t whole = size / (uint32_t)(4 * *fields + 4);
    if (*records > whole) {
        FormatText(why, PARSE_WHY_SIZE, "it holds %lld of the %lld records its Record-Count announces", (long long)whole,
                   (long long)*records);
        return NORGATE_CUT;
    }
    return NORGATE_WHOLE;
}

int ParseNorgatePrices(const char *headers, const char *body, uint32_t size, SymbolRecord *record, int flags,
                       char *why)
{
    char ignored[PARSE_WHY_SIZE];
    if (!why) why = ignored;
    why[0] = 0;
    if (!headers || !body) {
        FormatText(why, PARSE_WHY_SIZE, "the answer has no headers");
        return -1;
    }
    int64_t fields = 0, records = 0;
    if (NorgateSeriesLength(headers, size, &fields, &records, why) != NORGATE_WHOLE) return -1;
    int openInterest = strstr(headers, ",Open Interest") != nullptr;
    int turnover = strstr(headers, ",Turnover") != nullptr;
    uint32_t recordSize = (uint32_t)(4 * fields + 4);
    if (!AllocMemory(&record->bars[BAR_DAILY], (uint64_t)(records + 1) * sizeof(Bar))) return -1;
    record->dailyCapacity = (int32_t)records + 1;
    record->barCounts[BAR_DAILY] = 0;
    record->firstDate = FIRST_USED_NONE;
    record->lastDate = 0;
    /* A value field exists only inside its record (value v at 8 + 4v). */
    auto field = [&](const unsigned char *r, int v) { return 8 + 4 * v < (int)recordSize ? (double)ReadF32(r + 8 + 4 * v) : 0.0; };
    int oiField = openInterest && fields == 7 ? 5 : openInterest && fields == 8 ? 6
                                                                                : -1;
    int carryLayout = fields == 9 && oiField < 0;
    int turnoverLayout = turnover && oiField < 0 && fields > 5 && !gImportState.KeepAdjusted;
    Bar *bars = record->bars[BAR_DAILY];
    int32_t stored = 0;
    double previousC = 0.0;
    RefusedLines refused = {};
    for (int64_t j = 0; j < records; j++) {
        const unsigned char *r = (const unsigned char *)body + j * recordSize;
        Bar *bar = &bars[stored];
        memset(bar, 0, sizeof *bar);
        bar->date = OleDateToDate(ReadF64(r));
        bar->open = field(r, 0);
        bar->high = field(r, 1);
        bar->low = field(r, 2);
        bar->close = field(r, 3);
        if (fields > 5) bar->volume = field(r, 4);
        if (oiField >= 0) bar->extra = field(r, oiField);
        double d = carryLayout ? field(r, 6) : 0.0;
        double c = carryLayout ? field(r, 7) : 0.0;
        /* A dividend is carried only over a non-zero divisor. */
        double x = 0.0;
        if (j > 0 && previousC != 0.0 && stored > 0 && d != 0.0) x = previousC * bars[stored - 1].split * bar->close / d;
        previousC = c;
        if (!bar->date) {
            NoteRefusedLine(&refused, (int32_t)j + 1, kRefusedBadDate);
            continue;
        }
        if (const char *fault = PriceShapeFault(bar, 1, 1)) {
            NoteRefusedLine(&refused, (int32_t)j + 1, fault);
            continue;
        }
        const char *why = nullptr;
        if (!AddBar(record, bar, 0.0, d, x, flags, 0, &why)) {
            if (why) NoteRefusedLine(&refused, (int32_t)j + 1, why);
            continue;
        }
        if (turnoverLayout) bar->extra = field(r, 5);
        stored++;
    }
    ReportRefusedLines(record->info.Symbol, &refused, "record");
    NoteBytesPastCount(record->info.Symbol, size, (uint64_t)records * recordSize, records, "its Record-Count");
    record->barCounts[BAR_DAILY] = stored;
    SortBars(record);
    if (stored < 1) {
        FreeBarsAndEvents(record);
        return 0;
    }
    return record->barCounts[BAR_DAILY];
}

/* ---- answers cut short -------------------------------------------------------------------- */

/* 1 when the JSON value that starts the text closes within size bytes. */
static int JsonCloses(const char *body, uint32_t size)
{
    int64_t depth = 0;
    int inText = 0;
    for (uint32_t i = 0; i < size; i++) {
        char c = body[i];
        if (inText) {
            if (c == '\\')
                i++;
            else if (c == '"')
                inText = 0;
        } else if (c == '"') {
            inText = 1;
        } else if (c == '{' || c == '[') {
            depth++;
        } else if ((c == '}' || c == ']') && --depth <= 0) {
            return 1;
        }
    }
    return 0;
}

/* Commas of a CSV line outside quotes. */
static int CsvCommas(const char *from, const char *to)
{
    int commas = 0, quoted = 0;
    for (const char *p = from; p < to; p++) {
        if (*p == '"') quoted = !quoted;
        if (*p == ',' && !quoted) commas++;
    }
    return commas;
}

/* 1 when headers hold a "Name: value" line (a status line is none). */
static int HasHeaderLine(const char *headers)
{
    for (const char *line = headers; line && *line;) {
        const char *end = line + strcspn(line, "\r\n");
        const char *colon = (const char *)memchr(line, ':', (size_t)(end - line));
        if (colon && colon > line) return 1;
        line = end + strspn(end, "\r\n");
    }
    return 0;
}

int FindCutAnswer(int source, const char *headers, const char *body, uint32_t size, char *why)
{
    why[0] = 0;
    if (!body) return 0;
    if (source == SOURCE_NORGATE) {
        /* A whole answer names at least its length or its end in its
        ** headers: one without a header line (a status line, then the
        ** connection closed) was cut inside them, however empty. */
        if (!HasHeaderLine(headers)) {
            FormatText(why, PARSE_WHY_SIZE, "its headers do not end");
            return 1;
        }
        /* A series tells its length in its headers: an answer without them
        ** (cut inside them, or a page some program answered with) is no
        ** series the updater sent whole.  An empty answer is its word that
        ** it has nothing. */
        int64_t fields = 0, records = 0;
        const NorgateLength length = NorgateSeriesLength(headers ? headers : "", size, &fields, &records, why);
        if (length == NORGATE_CUT || (length == NORGATE_NO_COUNTS && size > 0)) return 1;
        why[0] = 0;
        return 0;
    }
    uint32_t start = 0;
    while (start < size && (body[start] == ' ' || body[start] == '\t' || body[start] == '\r' || body[start] == '\n'))
        start++;
    if (start == size) return 0;
    if (body[start] == '{' || body[start] == '[') {
        if (JsonCloses(body + start, size - start)) return 0;
        FormatText(why, PARSE_WHY_SIZE, "its JSON does not close");
        return 1;
    }
    if (source != SOURCE_TIINGO || strncmp(body + start, "Error:", 6) == 0) return 0;
    /* A CSV answer: its header line names the columns. */
    const char *end = body + size;
    const char *headerEnd = body + start;
    while (headerEnd < end && *headerEnd != '\n' && *headerEnd != '\r') headerEnd++;
    if (!memchr(body + start, ',', (size_t)(headerEnd - (body + start)))) return 0;
    /* A header line alone holds no bars, cut or not: it is passed over as
    ** an answer without prices. */
    if (headerEnd == end) return 0;
    if (end[-1] != '\n' && end[-1] != '\r') {
        FormatText(why, PARSE_WHY_SIZE, "its last line has no line end");
        return 1;
    }
    const char *lastEnd = end;
    while (lastEnd > body + start && (lastEnd[-1] == '\n' || lastEnd[-1] == '\r')) lastEnd--;
    const char *last = lastEnd;
    while (last > body + start && last[-1] != '\n' && last[-1] != '\r') last--;
    int named = CsvCommas(body + start, headerEnd) + 1;
    int held = CsvCommas(last, lastEnd) + 1;
    if (held >= named) return 0;
    FormatText(why, PARSE_WHY_SIZE, "its last line holds %d of the %d fields its header names", held, named);
    return 1;
}

/* ---- chart JSON --------------------------------------------------------------------------- */

/* The number after "key": inside [from, to), or 0.0 when the key is not there. */
static double NumberInside(const char *from, const char *to, const char *key)
{
    char pattern[64];
    int n = FormatText(pattern, sizeof pattern, "\"%s\":", key);
    const char *p = strstr(from, pattern);
    if (!p || p + n > to) return 0.0;
    const char *v = p + n;
    while (v < to && *v == ' ') v++;
    if (v < to && *v == '"') v++; /* a number written as text */
    return v < to ? strtod(v, nullptr) : 0.0;
}

/* The object (brace to its matching brace) of "%.0f": timestamp inside the
** section named section, which ends at its first "}}"; false when absent. */
static bool FindEventObject(const char *json, const char *section, double timestamp, const char **from,
                            const char **to)
{
    const char *s = strstr(json, section);
    if (!s) return false;
    const char *end = strstr(s, "}}");
    if (!end) return false;
    char key[48];
    FormatText(key, sizeof key, "\"%.0f\":", timestamp);
    const char *k = strstr(s, key);
    if (!k || k >= end) return false;
    const char *open = strchr(k, '{');
    if (!open || open > end) return false;
    const char *close = strchr(open, '}');
    if (!close) return false;
    *from = open;
    *to = close;
    return true;
}

static double EventAmount(const char *json, const char *section, double timestamp)
{
    const char *from, *to;
    return FindEventObject(json, section, timestamp, &from, &to) ? NumberInside(from, to, "amount") : 0.0;
}

/* Why the values of chart bar i are no bar's (null when they are one): a
** price the answer leaves out (null), a price written as no finite number.
** A volume left out reads as 0 later; AddBar refuses one that is no finite
** number, as from every source. */
static const char *YahooValueFault(const char *body, const Bar &bar, int i, int totalReturn)
{
    static const char *const kPrices[] = {"open", "high", "low", "close", "adjclose"};
    const double values[] = {bar.open, bar.high, bar.low, bar.close, bar.extra};
    for (int k = 0; k < 5; k++) {
        if (k == 4 && !totalReturn) break;
        if (std::isfinite(values[k])) continue;
        return std::isnan(values[k]) && IsJsonArrayNull(body, kPrices[k], i) ? kRefusedMissing : kRefusedInfinite;
    }
    return nullptr;
}

int ParseYahooChart(ImportItem *row, const char *body, const char *storedSymbol, SymbolRecord *record, int flags,
                    char *why)
{
    if (why) why[0] = 0;
    SymbolInfo &info = record->info;
    GetJsonText(body, "currency", info.Currency);
    GetJsonText(body, "exchangeName", info.Exchange);
    double gmtOffset = GetJsonNumber(body, "gmtoffset");
    if (strcmp(info.Currency, "GBp") == 0) info.PointValue = 0.01;
    double *stamps = nullptr;
    int n = GetJsonNumberArray(body, "timestamp", &stamps, 0);
    if (n < 1) {
        FreeMemory(&stamps);
        if (why) FormatText(why, PARSE_WHY_SIZE, "the answer holds no timestamps");
        return 0;
    }
    ApplySymbolInfo(storedSymbol, record, row->dataSource);
    record->firstDate = FIRST_USED_NONE;
    record->lastDate = 0;
    double *values = nullptr;
    if (!AllocMemory(&record->bars[BAR_DAILY], (uint64_t)(n + 1) * sizeof(Bar)) ||
        !AllocMemory(&values, (uint64_t)(n + 1) * sizeof(double))) {
        FreeMemory(&stamps);
        FreeMemory(&values);
        return -1;
    }
    record->dailyCapacity = n + 1;
    Bar *bars = record->bars[BAR_DAILY];
    for (int i = 0; i < n; i++) {
        memset(&bars[i], 0, sizeof bars[i]);
        /* A timestamp from the network may lie anywhere (4e42, NaN): only a
        ** day count near the calendar is converted to an integer. */
        double days = floor((stamps[i] + gmtOffset) / 86400.0);
        bars[i].date = days > -1e9 && days < 1e9 ? DateFromDayNumber((int64_t)days) : 0;
        bars[i].time = gSettings.ImportBarTime;
    }
    int totalReturn = row->adjustment == ADJUST_TOTAL_RETURN;
    struct Column {
        const char *key;
        size_t offset;
    };
    const Column columns[] = {
        {"open", offsetof(Bar, open)},
        {"high", offsetof(Bar, high)},
        {"low", offsetof(Bar, low)},
        {"close", offsetof(Bar, close)},
        {"adjclose", offsetof(Bar, extra)},
        {"volume", offsetof(Bar, volume)},
    };
    int ok = 1;
    for (const Column &c : columns) {
        if (!ok) break;
        if (!totalReturn && strcmp(c.key, "adjclose") == 0) continue;
        int read = GetJsonNumberArray(body, c.key, &values, n);
        if (read != n) {
            ok = 0;
            if (why) FormatText(why, PARSE_WHY_SIZE, "the answer's %s array holds %d values for %d timestamps", c.key, read, n);
        }
        for (int i = 0; ok && i < n; i++) memcpy((char *)&bars[i] + c.offset, &values[i], sizeof(double));
    }
    int32_t kept = 0;
    std::vector<LineSplit> splits;
    if (ok) {
        for (int i = 0; i < n; i++) {
            Bar &b = bars[i];
            b.split = 1.0;
            if (totalReturn && b.extra != 0.0) b.split = b.close / b.extra;
            const char *from, *to;
            if (FindEventObject(body, "\"splits\":", stamps[i], &from, &to)) {
                double numerator = NumberInside(from, to, "numerator");
                double denominator = NumberInside(from, to, "denominator");
                double ratio = denominator != 0.0 ? numerator / denominator : 0.0;
                /* The answer's earlier prices are divided by every later
                ** split; they are given back as traded.  Their factors are
                ** those of the splits the import keeps (ApplySplitRatios),
                ** whether or not this day's bar is kept. */
                if (ratio > 0.0) {
                    for (int e = 0; e < i; e++) {
                        bars[e].open *= ratio;
                        bars[e].high *= ratio;
                        bars[e].low *= ratio;
                        bars[e].close *= ratio;
                        bars[e].extra *= ratio;
                        bars[e].volume /= ratio;
                    }
                    splits.push_back({b.date, ratio});
                }
            }
            if (!totalReturn)
                b.extra = EventAmount(body, "\"capitalGains\":", stamps[i]) + EventAmount(body, "\"dividends\":", stamps[i]);
        }
        ApplySplitRatios(bars, n, splits.data(), splits.size());
        int32_t previousDate = 0;
        RefusedLines refused = {};
        for (int i = 0; i < n; i++) {
            Bar bar = bars[i];
            if (bar.date > gImport.endDate) break;
            if (!bar.date) {
                NoteRefusedLine(&refused, i + 1, kRefusedBadDate);
                continue;
            }
            if (bar.date == previousDate) continue;
            previousDate = bar.date;
            /* A price the answer leaves out (null) is missing, not a 0; a
            ** price written as NaN or Infinity is no number, as from every
            ** source.  A volume left out is 0. */
            if (const char *why = YahooValueFault(body, bar, i, totalReturn)) {
                NoteRefusedLine(&refused, i + 1, why);
                continue;
            }
            if (const char *why = PriceShapeFault(&bar, 1, 1)) {
                NoteRefusedLine(&refused, i + 1, why);
                continue;
            }
            if (std::isnan(bar.volume) && IsJsonArrayNull(body, "volume", i)) bar.volume = 0.0;
            double extra = bar.extra;
            bar.extra = 0.0;
            const char *why = nullptr;
            int accepted = totalReturn ? AddBar(record, &bar, extra, 0.0, 0.0, flags, 0, &why)
                                       : AddBar(record, &bar, 0.0, 0.0, extra, flags, 0, &why);
            if (accepted)
                bars[kept++] = bar;
            else if (why)
                NoteRefusedLine(&refused, i + 1, why);
        }
        ReportRefusedLines(storedSymbol, &refused, "record");
    }
    record->barCounts[BAR_DAILY] = kept;
    FreeMemory(&values);
    FreeMemory(&stamps);
    return ok ? kept : 0;
}

/* ---- crypto price JSON --------------------------------------------------------------------- */

int ParseTiingoCrypto(ImportItem *row, const char *body, const char *storedSymbol, SymbolRecord *record, int flags,
                      char *why)
{
    static const char kRecordStart[] = "{\"date\":";
    int count = 0;
    for (const char *p = strstr(body, kRecordStart); p; p = strstr(p + 1, kRecordStart)) count++;
    if (why) FormatText(why, PARSE_WHY_SIZE, "%s", count ? "" : "the answer holds no price records");
    ApplySymbolInfo(storedSymbol, record, row->dataSource);
    record->firstDate = FIRST_USED_NONE;
    record->lastDate = 0;
    if (!AllocMemory(&record->bars[BAR_DAILY], (uint64_t)(count + 2) * sizeof(Bar))) return -1;
    record->dailyCapacity = count + 2;
    int32_t kept = 0, number = 0;
    RefusedLines refused = {};
    for (const char *p = strstr(body, kRecordStart); p; p = strstr(p + 1, kRecordStart)) {
        const char *next = strstr(p + 1, kRecordStart);
        number++;
        /* Keys are looked for only inside their own record. */
        const char *end = next ? next : p + strlen(p);
        const char *dateText = p + sizeof kRecordStart - 1;
        char text[32] = "";
        if (*dateText == '"') {
            int n = 0;
            for (const char *q = dateText + 1; q < end && *q != '"' && *q != 'T' && n < 31; q++) text[n++] = *q;
            text[n] = 0;
        }
        int32_t date = ParseDate(text);
        /* A record whose date cannot be read is no bar, and the records
        ** after it are still the answer's. */
        if (date == 0) {
            NoteRefusedLine(&refused, number, kRefusedNoDate);
            continue;
        }
        if (date > gImport.endDate) break;
        Bar &bar = record->bars[BAR_DAILY][kept];
        memset(&bar, 0, sizeof bar);
        bar.date = date;
        bar.open = NumberInside(p, end, "open");
        bar.high = NumberInside(p, end, "high");
        bar.low = NumberInside(p, end, "low");
        bar.close = NumberInside(p, end, "close");
        bar.volume = NumberInside(p, end, "volume");
        bar.extra = NumberInside(p, end, "tradesDone");
        bar.split = 1.0;
        if (const char *fault = PriceShapeFault(&bar, 1, 1)) {
            NoteRefusedLine(&refused, number, fault);
            continue;
        }
        const char *why = nullptr;
        if (AddBar(record, &bar, 0.0, 0.0, 0.0, flags, 0, &why))
            kept++;
        else if (why)
            NoteRefusedLine(&refused, number, why);
    }
    ReportRefusedLines(storedSymbol, &refused, "record");
    record->barCounts[BAR_DAILY] = kept;
    return kept;
}
