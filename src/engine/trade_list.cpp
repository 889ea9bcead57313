/* trade_list.cpp -- reading, pairing, mapping and checking trade lists, and
** their activation on each date.
*/
#include "engine/trade_list.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/futures.h"
#include "engine/orders.h"
#include "engine/positions.h"
#include "engine/sizing.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/path_macros.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/script_state.h"
#include "script/compiler/side_files.h"
#include "script/compiler/strategy.h"
#include "script/compiler/settings_items.h"
#include "script/eval/eval_context.h"
#include "script/eval/value_access.h"
#include "services/services.h"

TradeListState gTradeListState;

void ResetTradeListState()
{
    gTradeListState = TradeListState{};
    gTradeListState.lastDate.assign((size_t)std::max(gStrategyCount, 0), 0);
    gTradeListState.active.assign((size_t)std::max(gStrategyCount, 0), 0);
    gTradeListState.rules.assign((size_t)std::max(gStrategyCount, 0), 1);
}

static TradeListRow *Rows(StrategyRecord *strategy)
{
    return (TradeListRow *)strategy->tradeListRows;
}

static int32_t StrategyIndexOf(const StrategyRecord *strategy)
{
    return gStrategies && strategy >= gStrategies && strategy < gStrategies + gStrategyCount
        ? (int32_t)(strategy - gStrategies)
        : -1;
}

/* A finding about a row: logged with AddLog (or when generating orders),
** else shown once per run as the given notice. */
static void Finding(int *shown, const char *notice, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
static void Finding(int *shown, const char *notice, const char *format, ...)
{
    if (gSettings.AddLog || gRun.generatingOrders) {
        char text[1024];
        va_list args;
        va_start(args, format);
        FormatTextV(text, sizeof text, format, args);
        va_end(args);
        LogPrintf("%s", text);
    } else if (shown && notice && !*shown && !gSettings.TLNoPopups) {
        *shown = 1;
        ShowPopupNotice(255, "%s", notice);
    }
}

static void DateText(int32_t date, char out[DATE_TEXT_SIZE])
{
    FormatDefaultDate(date, out);
}

/* The strategy's file as it is opened: a relative name without a ScriptPath
** of its own is in the scripts folder. */
void TradeListPath(const StrategyRecord *strategy, char path[PATH_SIZE])
{
    CopyString(path, PATH_SIZE, strategy->TradeList, -1);
    ExpandPathMacros(path, gSettings.ScriptPath[0] ? gSettings.ScriptPath : nullptr);
}

/* The companion tool's trades file of an orders run: the account's own
** positions, which the orders reconcile with. */
static bool IsCompanionList(const StrategyRecord *strategy)
{
    return gSlatewickTradesPath[0] && ComparePaths(strategy->TradeList, gSlatewickTradesPath) == 0;
}

double TradeListSplitOn(SymbolRecord *symbol, int32_t date)
{
    const Bar *bar = GetBarOnOrBefore(symbol, date, BAR_DAILY);
    if (!bar && symbol->barCounts[BAR_DAILY] > 0) bar = &symbol->bars[BAR_DAILY][0];
    return bar && bar->split != 0 ? bar->split : 1.0;
}

/* What one share of the row's entry day had become by its exit day: a 5:1
** split between them makes it 5; 1 for an open row or a symbol the data lack. */
static double CompanionSharesGrowth(const TradeListRow *row)
{
    if (!row->exitDate || !row->symbol[0]) return 1.0;
    const int32_t number = FindSymbolIndex(row->symbol);
    if (number <= 0 || number > gStore.symbolCount) return 1.0;
    SymbolRecord *symbol = &gStore.symbols[number - 1];
    return TradeListSplitOn(symbol, row->entryDate) / TradeListSplitOn(symbol, row->exitDate);
}

/* A line of the file that is not used, named with what it holds that cannot
** be read: a row taken with a value it cannot mean would trade what the
** list never traded, and one passed over unseen would leave a trade out.  A
** line of the companion tool's list fails the read: orders reconciled with
** part of the account's positions would buy or sell what the account holds. */
static void LineNotRead(const StrategyRecord *strategy, int32_t line, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
static void LineNotRead(const StrategyRecord *strategy, int32_t line, const char *format, ...)
{
    char reason[512], path[PATH_SIZE];
    va_list args;
    va_start(args, format);
    FormatTextV(reason, sizeof reason, format, args);
    va_end(args);
    TradeListPath(strategy, path);
    if (IsCompanionList(strategy)) {
        if (!gTradeListState.companionDamaged)
            ReportError("Line %d of %s cannot be read: %s.\r\n\r\nNo orders were written: the account's positions "
                        "are read whole or not at all.",
                        line, path, reason);
        gTradeListState.companionDamaged = 1;
        SetResultCode(RESULT_FILE_ERROR);
        return;
    }
    Finding(&gTradeListState.unreadNotice,
            "One or more trade list lines could not be read. Run with Log enabled for details.",
            "TradeList: line %d of %s was not read: %s", line, path, reason);
}

/* Names the field of the line whose text cannot be its value (fault: "not a
** number", ...). */
static void FieldNotRead(const StrategyRecord *strategy, int32_t line, int id, const char *text, const char *fault)
{
    LineNotRead(strategy, line, "%s \"%s\" is %s", kTradeListFieldNames[id], text, fault);
}

/* ---- fields ------------------------------------------------------------------- */

static bool IsTokenStop(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ')' || c == ',';
}

/* The symbol token of a field, upper-cased, at most 39 characters. */
static void ReadSymbolToken(const char *text, char out[TL_SYMBOL_SIZE])
{
    while (*text && IsTokenStop(*text)) text++;
    int n = 0;
    while (text[n] && !IsTokenStop(text[n]) && n < TL_SYMBOL_SIZE - 1) {
        char c = text[n];
        out[n++] = c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
    }
    out[n] = 0;
}

int32_t ParseTradeListTime(const char *text)
{
    if (!text) return 0;
    while (*text == ' ' || *text == '\t') text++;
    if (!*text) return 0;
    static const char *const kWords[4] = {"n/a", "open", "intraday", "close"};
    for (int32_t k = 0; k < 4; k++)
        if (CompareNoCaseN(text, kWords[k], strlen(kWords[k])) == 0) return k;
    /* Neither a word nor a number: taken as none, the fill would be timed
    ** as intraday, which the list never said. */
    if (*text < '0' || *text > '9') return TL_TIME_BAD;
    char *end = nullptr;
    long hours = strtol(text, &end, 10), minutes = 0, seconds = 0;
    if (*end == ':') {
        minutes = strtol(end + 1, &end, 10);
        if (*end == ':') seconds = strtol(end + 1, &end, 10);
    } else if (hours >= 10000) {
        seconds = hours % 100, minutes = hours / 100 % 100, hours /= 10000;
    } else if (hours >= 100) {
        minutes = hours % 100, hours /= 100;
    }
    /* A time no clock shows would be timed and session-checked as some
    ** other time. */
    if (hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) return TL_TIME_BAD;
    return (int32_t)(hours * 10000 + minutes * 100 + seconds);
}

const char *TradeListNumberFault(const char *text, int32_t numFmt, double *value)
{
    const char group = numFmt == 1 ? '.' : ',';
    std::string clean;
    for (const char *p = text; *p; p++) {
        if (*p == group) {
            /* "10.5" in a decimal-comma file is no 105, nor "10,5" 105 in a
            ** decimal-point one. */
            if (!GroupsThousands(p, p + strlen(p))) return "not a number";
            continue;
        }
        clean += numFmt == 1 && *p == ',' ? '.' : *p;
    }
    double read = 0;
    const char *fault = NumberTextFault(clean.c_str(), DECIMAL_NUMBER, &read);
    *value = fault ? 0 : read;
    return fault;
}

static bool RealDate(int y, int m, int d)
{
    return y >= 1000 && y <= 9999 && d >= 1 && d <= DaysInMonth(y, m);
}

int32_t ParseTradeListDate(const char *text, int32_t dateFmt)
{
    while (*text == ' ' || *text == '\t') text++;
    long v[3] = {0, 0, 0};
    int count = 0;
    const char *p = text;
    char separator = 0;
    while (count < 3) {
        if (*p < '0' || *p > '9') break;
        char *end = nullptr;
        v[count++] = strtol(p, &end, 10);
        p = end;
        if (count == 1 && (*p == '/' || *p == '-' || *p == '.')) separator = *p;
        if (!separator || *p != separator) break;
        p++;
    }
    int y, m, d;
    if (count == 1) {
        y = (int)(v[0] / 10000), m = (int)(v[0] / 100 % 100), d = (int)(v[0] % 100);
    } else if (count == 3) {
        if (v[0] >= 1000)
            y = (int)v[0], m = (int)v[1], d = (int)v[2];
        else if (dateFmt == 1)
            d = (int)v[0], m = (int)v[1], y = (int)v[2];
        else
            m = (int)v[0], d = (int)v[1], y = (int)v[2];
        if (y < 50)
            y += 2000;
        else if (y < 100)
            y += 1900;
    } else {
        return 0;
    }
    return RealDate(y, m, d) ? MakeDate(y, m, d) : 0;
}

/* The symbol number of an AssetId field: minus the id (0 for an empty
** field); why the text is none, when it is not.  An id below 0 would read
** as a symbol number and be passed over for the row's name. */
static const char *AssetIdFault(const char *text, int32_t *number)
{
    double id = 0;
    if (const char *fault = NumberTextFault(text, WHOLE_NUMBER, &id)) return fault;
    if (id < 0) return "out of range";
    *number = -(int32_t)id;
    return nullptr;
}

/* A TradeID field (0 when empty): a whole number that fits its 32 bits. */
static const char *TradeIdFault(const char *text, uint32_t *id)
{
    double v = 0;
    if (const char *fault = NumberTextFault(text, DECIMAL_NUMBER, &v)) return fault;
    if (v != std::floor(v)) return "not a whole number";
    if (v < 0 || v > 4294967295.0) return "out of range";
    *id = (uint32_t)v;
    return nullptr;
}

/* A price field: a leading "=" marks it exact. */
static const char *PriceFault(const char *text, int32_t numFmt, uint32_t *exact, double *price)
{
    while (*text == ' ') text++;
    if (*text == '=') {
        *exact = 1;
        text++;
    }
    return TradeListNumberFault(text, numFmt, price);
}

/* A date field with an optional time after the first blank, into *date (0
** for an empty field or "n/a", which the program shows for no date) and
** *clock; why the text is none, when it is not. */
static const char *DateFault(const char *text, int32_t dateFmt, int32_t *date, int32_t *clock)
{
    while (*text == ' ' || *text == '\t') text++;
    *date = 0;
    if (!*text || CompareNoCaseN(text, "n/a", 3) == 0) return nullptr;
    *date = ParseTradeListDate(text, dateFmt);
    if (!*date) return "not a date";
    const char *blank = strchr(text, ' ');
    if (blank && clock) {
        while (*blank == ' ') blank++;
        if (*blank) *clock = ParseTradeListTime(blank);
        if (*clock < 0) return "not a date and time of day";
    }
    return nullptr;
}

/* The entry date of a line (DateTime or DateIn); 0 after naming the line
** when there is none.  A first line without one is the heading, unless its
** date field begins with a digit; a line of blanks is none of the list's. */
static int32_t LineDate(const StrategyRecord *strategy, int32_t line, int id, const char *text, int32_t *clock,
                        char **fields, int count)
{
    int32_t date = 0;
    const char *fault = DateFault(text, strategy->TLDateFmt, &date, clock);
    if (date && !fault) return date;
    bool blank = true;
    for (int k = 0; k < count && blank; k++) blank = fields[k][strspn(fields[k], " \t")] == 0;
    while (*text == ' ' || *text == '\t') text++;
    if (blank || (line == 1 && (*text < '0' || *text > '9'))) return 0;
    if (fault)
        FieldNotRead(strategy, line, id, text, fault);
    else
        LineNotRead(strategy, line, "it gives no %s", kTradeListFieldNames[id]);
    return 0;
}

/* Renames the symbol through the symbol-change list when a change applies on
** or after date, and puts it in identifier form. */
static void RenameSymbol(char symbol[TL_SYMBOL_SIZE], int32_t date)
{
    const SymbolChange *change = FindSymbolChange(symbol, date);
    if (change && change->newSymbol[0]) ReadSymbolToken(change->newSymbol, symbol);
}

/* Splits one line at the delimiter into at most TL_LINE_FIELDS fields. */
static int SplitLine(char *line, char delimiter, char *fields[TL_LINE_FIELDS])
{
    int n = 0;
    char *p = line;
    while (n < TL_LINE_FIELDS) {
        while (*p == ' ') p++;
        fields[n++] = p;
        char *end = strchr(p, delimiter);
        if (!end) break;
        *end = 0;
        p = end + 1;
    }
    size_t len = strlen(fields[n - 1]);
    if (len && fields[n - 1][len - 1] == '\r') fields[n - 1][len - 1] = 0;
    return n;
}

static char Delimiter(const StrategyRecord *s)
{
    if (s->TLDelim == 2) return '\t';
    if (s->TLDelim == 1 || s->TLNumFmt == 1) return ';';
    return ',';
}

/* 1 when the first line is the heading of the program's own trades export,
** which names its terms: prices as the test traded them on the loaded
** series, fees already in the account's currency. */
static uint32_t SaysAsTraded(const char *text)
{
    std::string copy(text, strcspn(text, "\r\n"));
    char *fields[TL_LINE_FIELDS];
    const int n = SplitLine(&copy[0], ',', fields);
    for (int c = 0; c < n; c++)
        if (CompareNoCase(fields[c], kTradesTermsColumn) == 0) return 1;
    return 0;
}

/* The text of field id on a split line, "" when the field is absent. */
static const char *Field(const int32_t column[TL_FIELD_COUNT], char **fields, int count, int id)
{
    int c = column[id] - 1;
    return c >= 0 && c < count ? fields[c] : "";
}

static bool HasField(const int32_t column[TL_FIELD_COUNT], int id)
{
    return column[id] > 0;
}

/* "long..." +1, "short..." -1 (any case), or one of the numbers 1, -1 and 0
** (the strategy's Side, as is an empty field). */
static const char *SideFault(const char *text, int32_t *side)
{
    while (*text == ' ') text++;
    if (CompareNoCaseN(text, "long", 4) == 0) {
        *side = 1;
        return nullptr;
    }
    if (CompareNoCaseN(text, "short", 5) == 0) {
        *side = -1;
        return nullptr;
    }
    double v = 0;
    if (NumberTextFault(text, WHOLE_NUMBER, &v) || (v != 1 && v != -1 && v != 0)) return "not long, short, 1, -1 or 0";
    *side = (int32_t)v;
    return nullptr;
}

/* Reads field id of a line (its text) into row, as a trade's line and a
** fill's line both write it; why the text cannot be what the field stands
** for, or null.  Fields read elsewhere (the dates in, the action) are left. */
static const char *ReadTradeField(int id, const char *text, int32_t numFmt, int32_t dateFmt, TradeListRow *row)
{
    switch (id) {
    case TLF_TRADE_ID: return TradeIdFault(text, &row->tradeId);
    case TLF_SIDE: return SideFault(text, &row->side);
    case TLF_SYMBOL:
    case TLF_UNDERLYING: ReadSymbolToken(text, row->symbol); return nullptr;
    case TLF_ASSET_ID: return AssetIdFault(text, &row->symbolNumber);
    case TLF_SHARES:
    case TLF_QTY_IN: return TradeListNumberFault(text, numFmt, &row->quantityIn);
    case TLF_TIME_IN:
        row->entryTime = ParseTradeListTime(text);
        return row->entryTime < 0 ? "not a time of day" : nullptr;
    case TLF_PRICE_IN: return PriceFault(text, numFmt, &row->exactPrice, &row->priceIn);
    case TLF_FEES_IN: return TradeListNumberFault(text, numFmt, &row->feesIn);
    case TLF_VALUE_IN: return TradeListNumberFault(text, numFmt, &row->valueIn);
    /* An exit date that does not read would leave a closed trade open. */
    case TLF_DATE_OUT: return DateFault(text, dateFmt, &row->exitDate, &row->exitClock);
    case TLF_TIME_OUT:
        row->exitTime = ParseTradeListTime(text);
        return row->exitTime < 0 ? "not a time of day" : nullptr;
    case TLF_QTY_OUT: return TradeListNumberFault(text, numFmt, &row->quantityOut);
    case TLF_PRICE_OUT: return PriceFault(text, numFmt, &row->exactPrice, &row->priceOut);
    case TLF_FEES_OUT: return TradeListNumberFault(text, numFmt, &row->feesOut);
    case TLF_VALUE_OUT: return TradeListNumberFault(text, numFmt, &row->valueOut);
    case TLF_REASON: CopyString(row->reason, TL_REASON_SIZE, text, TL_REASON_SIZE - 1); return nullptr;
    default: return nullptr;
    }
}

/* ---- reading ------------------------------------------------------------------ */

/* The first quoted number of line in which the separator stands between
** digits without grouping thousands ("1,00": a decimal comma, or a number cut
** short), into *part; false when there is none.  Dropped with the quotes, such
** a comma would make the text another number.  A quoted text ("MA(10,20)
** cross", a strategy's name) is quoted for its commas and is no number. */
static bool FindUngroupedQuotedNumber(const char *line, char separator, std::string *part)
{
    const char *open = nullptr;
    for (const char *p = line; *p; p++) {
        if (*p != '"') continue;
        if (!open) {
            open = p + 1;
            continue;
        }
        const char *quoted = open;
        open = nullptr;
        if (std::string_view(quoted, (size_t)(p - quoted)).find_first_not_of("0123456789.+-$ ,") != std::string_view::npos)
            continue;
        for (const char *c = quoted; c < p; c++) {
            const bool amongDigits = c > quoted && c[-1] >= '0' && c[-1] <= '9' && c[1] >= '0' && c[1] <= '9';
            if (*c != separator || !amongDigits) continue;
            if (GroupsThousands(c, p)) continue;
            part->assign(quoted, p);
            return true;
        }
    }
    return false;
}

/* Each line's double quotes are its own: they are removed, and the commas
** inside them too when commas group digits (TLNumFmt Point), so "12,5" stays
** a decimal comma otherwise.  A quote left open would run the rows after it
** together, and a quoted comma among digits that groups no thousands would
** read as another number, so such a line is named and left empty.  The lines
** end in LF afterwards (LF, CR LF and CR alone each end one); returns their
** count. */
static int32_t UnquoteLines(const StrategyRecord *strategy, std::string &text)
{
    std::string out;
    out.reserve(text.size() + 2);
    const char separator = strategy->TLNumFmt == 1 ? 0 : ','; /* 0: no separator is dropped */
    int32_t lines = 0;
    char *p = &text[0];
    while (char *line = TakeTextLine(&p)) {
        lines++;
        std::string part;
        if (separator && FindUngroupedQuotedNumber(line, separator, &part)) {
            LineNotRead(strategy, lines, "\"%s\" holds a comma that groups no thousands", part.c_str());
            line[0] = 0;
        } else if (!UnquoteLine(line, separator)) {
            LineNotRead(strategy, lines, "it opens a double quote that it does not close");
            line[0] = 0;
        }
        out += line;
        out += '\n';
    }
    text.swap(out);
    return lines;
}

/* Field ids from the first line, a comma-separated list of names; the count
** of known names. */
static int ReadHeaderFields(const char *line, int32_t column[TL_FIELD_COUNT])
{
    std::string copy(line, strcspn(line, "\r\n"));
    char *fields[TL_LINE_FIELDS];
    int n = SplitLine(&copy[0], ',', fields);
    int known = 0;
    for (int c = 0; c < n; c++) {
        for (int id = 1; id < TL_FIELD_COUNT; id++) {
            if (CompareNoCase(fields[c], kTradeListFieldNames[id]) != 0 || column[id]) continue;
            column[id] = c + 1;
            known++;
            break;
        }
    }
    return known;
}

static bool StrategyMatches(const StrategyRecord *s, const int32_t column[TL_FIELD_COUNT], char **fields, int n)
{
    if (!HasField(column, TLF_STRATEGY)) return true;
    std::string name = Field(column, fields, n, TLF_STRATEGY);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r')) name.pop_back();
    return CompareNoCase(name.c_str(), s->TLStratName) == 0;
}

/* Adds "line n: strategy name" to *out when the line is an open position
** (no DateOut) of a strategy none of the script's strategies is. */
static void NoteStrangerStrategy(const StrategyRecord *strategy, const int32_t column[TL_FIELD_COUNT], char **fields,
                                 int n, int32_t line, std::string *out)
{
    if (!HasField(column, TLF_STRATEGY)) return;
    for (int32_t s = 0; s < gStrategyCount; s++)
        if (gStrategies[s].kind == STRATEGY_KIND_STRATEGY && StrategyMatches(&gStrategies[s], column, fields, n)) return;
    int32_t exitDate = 0, clock = 0;
    if (DateFault(Field(column, fields, n, TLF_DATE_OUT), strategy->TLDateFmt, &exitDate, &clock) || exitDate != 0)
        return;
    std::string name = Field(column, fields, n, TLF_STRATEGY);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r')) name.pop_back();
    char note[160];
    FormatText(note, sizeof note, "line %d: strategy %s\r\n", (int)line, name.c_str());
    *out += note;
}

int32_t ReadTradeListFile(StrategyRecord *strategy)
{
    strategy->tradeListRowCount = -1;
    char path[PATH_SIZE];
    /* The companion's file is named by the setting that made it too long. */
    if (IsCompanionList(strategy) && RefuseCutOrdersPath()) return -1;
    if (PathTooLong(strategy->TradeList)) {
        ReportError("TradeList file path is too long -- maximum is 260 chars.");
        return -1;
    }
    TradeListPath(strategy, path);
    char *block = nullptr;
    uint32_t size = 0;
    if (!LoadTextFile(path, &block, &size)) return -1;
    NoteRunInput(path, IsCompanionList(strategy) ? "the companion trades file"
                                                 : (std::string("the TradeList of strategy ") + strategy->name).c_str());
    std::string text(block, size);
    FreeMemory(&block);
    const bool companion = IsCompanionList(strategy);
    gTradeListState.companionDamaged = 0;
    if (companion && (text.empty() || (text.back() != '\n' && text.back() != '\r'))) {
        /* The companion tool may be writing the file still: its last line may
        ** hold a part of its quantity (an empty file not even its heading). */
        int32_t last = 1;
        for (char c : text) last += c == '\n' || c == '\r';
        for (size_t k = 1; k < text.size(); k++) last -= text[k - 1] == '\r' && text[k] == '\n';
        ReportError("Line %d of %s ends without a line end: the file is unfinished or cut short.\r\n\r\nNo orders "
                    "were written: the account's positions are read whole or not at all.",
                    last, path);
        SetResultCode(RESULT_FILE_ERROR);
        return -1;
    }
    const int32_t lines = UnquoteLines(strategy, text);
    if (gTradeListState.companionDamaged) return -1;

    const char delimiter = Delimiter(strategy);
    const uint32_t asTraded = SaysAsTraded(text.c_str());
    int32_t column[TL_FIELD_COUNT];
    bool fromHeader = strategy->tlFieldSum == 0;
    if (fromHeader) {
        memset(column, 0, sizeof column);
        if (!ReadHeaderFields(text.c_str(), column)) {
            ReportError("Strategy %s has no TLFields definition and the first row of %s has no known field names.",
                        strategy->name, path);
            return -1;
        }
    } else {
        memcpy(column, strategy->tlFieldColumn, sizeof column);
    }

    FreeMemory(&strategy->tradeListRows);
    strategy->tradeListRowCapacity = 0;
    /* A companion line partly closed becomes two rows (below). */
    const int32_t capacity = companion ? 2 * lines + 1 : lines + 1;
    if (!AllocMemory(&strategy->tradeListRows, (uint64_t)capacity * sizeof(TradeListRow))) return -1;
    strategy->tradeListRowCapacity = capacity;
    strategy->tradeListRowCount = 0;

    if (HasField(column, TLF_ACTION)) {
        /* The field map travels with the strategy while fills are parsed. */
        int32_t saved[TL_FIELD_COUNT];
        memcpy(saved, strategy->tlFieldColumn, sizeof saved);
        memcpy(strategy->tlFieldColumn, column, sizeof column);
        int32_t count = ParseFillRows(strategy, &text[0], lines);
        memcpy(strategy->tlFieldColumn, saved, sizeof saved);
        return count;
    }

    TradeListRow *rows = Rows(strategy);
    int32_t count = 0, line = 0;
    const int32_t numFmt = strategy->TLNumFmt, dateFmt = strategy->TLDateFmt;
    char *p = &text[0];
    std::string strangers; /* the companion's open positions of a strategy the script lacks */
    int32_t blankLine = 0; /* the companion's first blank line, fine only at the end */
    while (*p && count < strategy->tradeListRowCapacity && !gTradeListState.companionDamaged) {
        line++;
        char *lineText = TakeTextLine(&p);
        if (companion) {
            /* A spreadsheet writes an empty row as its delimiters alone. */
            const char blanks[] = {' ', '\t', delimiter, 0};
            if (lineText[strspn(lineText, blanks)] == 0) {
                if (!blankLine) blankLine = line;
                continue;
            }
            if (blankLine) {
                LineNotRead(strategy, blankLine, "it is blank, with positions after it");
                break;
            }
        }
        char *fields[TL_LINE_FIELDS];
        int n = SplitLine(lineText, delimiter, fields);
        if (!StrategyMatches(strategy, column, fields, n)) {
            if (companion && !gTradeListState.companionNamed) NoteStrangerStrategy(strategy, column, fields, n, line, &strangers);
            continue;
        }
        TradeListRow row{};
        row.entryDate = LineDate(strategy, line, TLF_DATE_IN, Field(column, fields, n, TLF_DATE_IN), &row.entryClock,
                                 fields, n);
        if (!row.entryDate) continue;
        /* The first field that cannot be what it stands for keeps the row out. */
        const char *fault = nullptr;
        int faultField = 0;
        for (int id = 1; id < TL_FIELD_COUNT && !fault; id++) {
            if (!HasField(column, id)) continue;
            fault = ReadTradeField(id, Field(column, fields, n, id), numFmt, dateFmt, &row);
            /* A trade's Shares are its quantity in and out alike. */
            if (id == TLF_SHARES) row.quantityOut = row.quantityIn;
            /* The companion tool writes the side apart from its quantities:
            ** a sign there is no position it keeps. */
            if (!fault && companion && (id == TLF_SHARES || id == TLF_QTY_IN || id == TLF_QTY_OUT) &&
                (id == TLF_QTY_OUT ? row.quantityOut : row.quantityIn) < 0)
                fault = "below zero";
            if (fault) faultField = id;
        }
        if (fault) {
            FieldNotRead(strategy, line, faultField, Field(column, fields, n, faultField), fault);
            continue;
        }
        RenameSymbol(row.symbol, row.entryDate);
        /* The companion tool writes each quantity as it was traded: the
        ** shares in on the entry day, the shares out on the exit day, so a
        ** split between them changes what the shares in became. */
        const double grown = companion ? CompanionSharesGrowth(&row) : 1.0;
        if (companion) {
            const char *wrong = !row.symbol[0] ? "it gives no Symbol"
                : RoundSignificant(row.quantityOut, 7) > RoundSignificant(row.quantityIn * grown, 7)
                ? "its QtyOut is above its QtyIn"
                : row.exitDate != 0 && row.exitDate < row.entryDate ? "its DateOut is before its DateIn"
                                                                    : nullptr;
            if (wrong) {
                LineNotRead(strategy, line, "%s", wrong);
                continue;
            }
        }
        row.valid = 1;
        row.asTraded = asTraded;
        rows[count++] = row;
        /* The companion tool keeps a position it closed in part on one line,
        ** the shares out beside the shares in: what is left is still held,
        ** an open position of its own, as a partly closed fill pair is.  Both
        ** parts keep the entry day's terms, as every row's shares in are. */
        TradeListRow &closed = rows[count - 1];
        if (companion && closed.exitDate != 0 && closed.quantityOut != 0 && closed.quantityIn != 0 &&
            RoundSignificant(std::fabs(closed.quantityOut), 7) < RoundSignificant(std::fabs(closed.quantityIn * grown), 7) &&
            count < strategy->tradeListRowCapacity) {
            const double share = closed.quantityOut / grown / closed.quantityIn;
            TradeListRow rest = closed;
            rest.quantityIn = closed.quantityIn * (1 - share);
            rest.feesIn = closed.feesIn * (1 - share);
            rest.valueIn = closed.valueIn * (1 - share);
            rest.exitDate = rest.exitTime = rest.exitClock = 0;
            rest.quantityOut = rest.priceOut = rest.feesOut = rest.valueOut = 0;
            closed.quantityIn *= share;
            closed.feesIn *= share;
            closed.valueIn *= share;
            rows[count++] = rest;
        }
    }
    if (gTradeListState.companionDamaged) {
        strategy->tradeListRowCount = -1;
        return -1;
    }
    if (companion && !gTradeListState.companionNamed) {
        gTradeListState.companionNamed = 1;
        if (!strangers.empty())
            ReportError("%s holds open positions of strategies the script does not have; no order is written for "
                        "them:\r\n\r\n%s",
                        path, strangers.c_str());
    }
    std::sort(rows, rows + count, [](const TradeListRow &a, const TradeListRow &b) { return CompareTrades(&a, &b) < 0; });
    strategy->tradeListRowCount = count;
    return count;
}

/* ---- fills -------------------------------------------------------------------- */

static double Round7(double v)
{
    return RoundSignificant(v, 7);
}

/* Splits a partly closed trade into the closed part (kept at index) and an
** open remainder appended at the end. */
static void SplitTradeRow(std::vector<TradeListRow> &trades, size_t index)
{
    TradeListRow &t = trades[index];
    if (t.exitDate == 0 || Round7(t.quantityOut) >= Round7(t.quantityIn)) return;
    TradeListRow rest = t;
    const double closedShare = t.quantityIn != 0 ? t.quantityOut / t.quantityIn : 0;
    rest.quantityIn = t.quantityIn - t.quantityOut;
    rest.priceIn = t.priceIn * (1 - closedShare); /* price x quantity sum */
    rest.feesIn = t.feesIn * (1 - closedShare);
    rest.exitDate = rest.exitTime = 0;
    rest.quantityOut = rest.priceOut = rest.feesOut = rest.valueOut = 0;
    t.priceIn *= closedShare;
    t.feesIn *= closedShare;
    t.quantityIn = t.quantityOut;
    trades.push_back(rest);
}

int32_t ParseFillRows(StrategyRecord *strategy, char *text, int32_t lineCount)
{
    const int32_t *column = strategy->tlFieldColumn;
    const char delimiter = Delimiter(strategy);
    const int32_t numFmt = strategy->TLNumFmt;
    std::vector<TradeListRow> fills;
    char *p = text;
    uint32_t sequence = 0;
    for (int32_t line = 1; *p && line <= lineCount; line++) {
        char *fields[TL_LINE_FIELDS];
        int n = SplitLine(TakeTextLine(&p), delimiter, fields);
        if (!StrategyMatches(strategy, column, fields, n)) continue;
        TradeListRow f{};
        if (HasField(column, TLF_DATE_TIME))
            f.entryDate = LineDate(strategy, line, TLF_DATE_TIME, Field(column, fields, n, TLF_DATE_TIME), &f.entryTime,
                                   fields, n);
        else
            f.entryDate = LineDate(strategy, line, TLF_DATE_IN, Field(column, fields, n, TLF_DATE_IN), nullptr, fields, n);
        if (!f.entryDate) continue;
        /* The first field that cannot be what it stands for keeps the fill out. */
        const char *fault = nullptr;
        int faultField = 0;
        for (int id : {TLF_TIME_IN, TLF_ASSET_ID, TLF_SHARES, TLF_QTY_IN, TLF_PRICE_IN, TLF_FEES_IN}) {
            if (fault || !HasField(column, id)) continue;
            fault = ReadTradeField(id, Field(column, fields, n, id), numFmt, strategy->TLDateFmt, &f);
            if (fault) faultField = id;
        }
        if (fault) {
            FieldNotRead(strategy, line, faultField, Field(column, fields, n, faultField), fault);
            continue;
        }
        f.quantityIn = std::fabs(f.quantityIn);
        f.feesIn = std::fabs(f.feesIn);
        if (strategy->TLTimeShift != 0) {
            int64_t seconds = (int64_t)(f.entryTime / 10000) * 3600 + (f.entryTime / 100 % 100) * 60 + f.entryTime % 100 +
                (int64_t)strategy->TLTimeShift * 3600;
            int32_t days = (int32_t)std::floor((double)seconds / 86400.0);
            seconds -= (int64_t)days * 86400;
            f.entryTime = (int32_t)(seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60);
            while (days > 0) {
                f.entryDate = NextDay(f.entryDate);
                days--;
            }
            while (days < 0) {
                f.entryDate = PrevDay(f.entryDate);
                days++;
            }
        }
        const char *action = Field(column, fields, n, TLF_ACTION);
        while (*action == ' ') action++;
        f.side = *action == 'b' || *action == 'B' ? 1 : -1;
        if (HasField(column, TLF_SYMBOL)) ReadSymbolToken(Field(column, fields, n, TLF_SYMBOL), f.symbol);
        if (HasField(column, TLF_UNDERLYING)) ReadSymbolToken(Field(column, fields, n, TLF_UNDERLYING), f.symbol);
        if (HasField(column, TLF_REASON))
            CopyString(f.reason, TL_REASON_SIZE, Field(column, fields, n, TLF_REASON), TL_REASON_SIZE - 1);
        RenameSymbol(f.symbol, f.entryDate);
        f.valid = 1;
        f.sequence = ++sequence;
        fills.push_back(f);
    }
    std::stable_sort(fills.begin(), fills.end(),
                     [](const TradeListRow &a, const TradeListRow &b) { return CompareTrades(&a, &b) < 0; });

    /* Pairing: trades hold price x quantity sums until the end. */
    std::vector<TradeListRow> trades;
    size_t symbolStart = 0; /* first trade of the current symbol */
    const TradeListRow *previous = nullptr;
    for (const TradeListRow &fill : fills) {
        /* The fills come in symbol order; a symbol's fills may make no trade
        ** at all (a zero quantity), so the symbol is the last fill's. */
        bool newSymbol = !previous || CompareNoCase(previous->symbol, fill.symbol) != 0 ||
            previous->symbolNumber != fill.symbolNumber;
        previous = &fill;
        if (newSymbol) {
            for (size_t k = symbolStart; k < trades.size(); k++) SplitTradeRow(trades, k);
            symbolStart = trades.size();
        }
        TradeListRow *last = trades.size() > symbolStart ? &trades.back() : nullptr;
        const bool lastOpen = last && Round7(last->quantityOut) < Round7(last->quantityIn);
        if (last && lastOpen && last->side == fill.side && last->entryDate == fill.entryDate && last->exitDate == 0) {
            last->quantityIn += fill.quantityIn;
            last->priceIn += fill.priceIn * fill.quantityIn;
            last->feesIn += fill.feesIn;
            continue;
        }
        double left = fill.quantityIn;
        if (last && lastOpen && last->side != fill.side) {
            const size_t count = trades.size();
            for (size_t k = symbolStart; k < count && Round7(left) > 0; k++) {
                TradeListRow &t = trades[k];
                if (t.side == fill.side) continue;
                const bool takesPart = t.exitDate == fill.entryDate || (t.exitDate == 0 && t.entryDate <= fill.entryDate);
                const double remaining = t.quantityIn - t.quantityOut;
                if (!takesPart || Round7(remaining) <= 0) continue;
                const double q = std::min(remaining, left);
                t.exitDate = fill.entryDate;
                t.exitTime = fill.entryTime;
                t.quantityOut += q;
                t.priceOut += fill.priceIn * q;
                t.feesOut += fill.quantityIn != 0 ? fill.feesIn * q / fill.quantityIn : 0;
                left -= q;
            }
        }
        if (Round7(left) > 0) {
            TradeListRow t = fill;
            const double share = fill.quantityIn != 0 ? left / fill.quantityIn : 0;
            t.quantityIn = left;
            t.priceIn = fill.priceIn * left;
            t.feesIn = fill.feesIn * share;
            /* A trade left partly closed before a new one starts is split. */
            if (last) SplitTradeRow(trades, trades.size() - 1);
            trades.push_back(t);
        }
    }
    for (size_t k = symbolStart; k < trades.size(); k++) SplitTradeRow(trades, k);

    for (TradeListRow &t : trades) {
        if (t.quantityIn != 0) t.priceIn /= t.quantityIn;
        if (t.quantityOut != 0) t.priceOut /= t.quantityOut;
        t.quantityIn = Round7(t.quantityIn);
        t.priceIn = Round7(t.priceIn);
        t.quantityOut = Round7(t.quantityOut);
        t.priceOut = Round7(t.priceOut);
    }
    std::stable_sort(trades.begin(), trades.end(),
                     [](const TradeListRow &a, const TradeListRow &b) { return CompareTrades(&a, &b) < 0; });
    const int32_t count = (int32_t)trades.size();
    if (count > strategy->tradeListRowCapacity) {
        if (!ReallocMemory(&strategy->tradeListRows, (uint64_t)count * sizeof(TradeListRow))) return -1;
        strategy->tradeListRowCapacity = count;
    }
    if (count) memcpy(strategy->tradeListRows, trades.data(), (size_t)count * sizeof(TradeListRow));
    strategy->tradeListRowCount = count;
    return count;
}

/* ---- mapping and checking ------------------------------------------------------- */

int CompareTrades(const TradeListRow *a, const TradeListRow *b)
{
    if (a->valid != b->valid) return a->valid > b->valid ? -1 : 1;
    int c = CompareNoCase(a->symbol, b->symbol);
    if (c) return c < 0 ? -1 : 1;
    if (a->entryDate != b->entryDate) return a->entryDate < b->entryDate ? -1 : 1;
    if (a->entryTime != b->entryTime) return a->entryTime < b->entryTime ? -1 : 1;
    if (a->sequence != b->sequence) return a->sequence < b->sequence ? -1 : 1;
    return 0;
}


int ValidateTradePrices(StrategyRecord *strategy, SymbolRecord *symbol, TradeListRow *row, int32_t firstDate)
{
    const bool entry = firstDate != 0;
    int32_t *date = entry ? &row->entryDate : &row->exitDate;
    double *price = entry ? &row->priceIn : &row->priceOut;
    double *quantity = entry ? &row->quantityIn : &row->quantityOut;
    if (entry && strategy->TLAdoptPos && row->entryDate < firstDate &&
        (row->exitDate == 0 || row->exitDate >= firstDate) && !row->exactPrice) {
        row->entryDate = firstDate;
        row->priceIn = 0;
    }
    if (*date > symbol->lastDate && *date <= strategy->TLEndDate) *date = symbol->lastDate;
    Bar *bar = nullptr;
    if (*date < symbol->firstDate || *date > symbol->lastDate ||
        FindBarIndex(symbol, BAR_DAILY, *date, PHASE_CLOSE, 0, &bar) < 0 || !bar || bar->date != *date) {
        if (*quantity != 0) {
            char d[DATE_TEXT_SIZE];
            DateText(*date, d);
            Finding(&gTradeListState.noBarNotice,
                    "One or more trades have dates for which there is no bar. Run with Log enabled for details.",
                    "TradeList: symbol %s has no bar for %s date %s", row->symbol, entry ? "entry" : "exit", d);
        }
        return 0;
    }
    if (row->exactPrice) return 1;
    const double split = bar->split != 0 ? bar->split : 1.0;
    const bool stock = symbol->securityType == SECURITY_STOCK;
    if (stock) {
        if (strategy->TLAdjusted && !row->asTraded && *price > 0 && split != 1.0) {
            *price = RoundToStep(*price * split, symbol->info.TickSize, 0);
            *quantity /= split;
        }
        if (*price < 0) *price = bar->close;
    }
    /* No price (an adopted position's among them) is the day's open, already
    ** in the series' terms whatever the security: a contract or a currency
    ** entered at 0 would book its whole value as profit when it leaves. */
    if (*price == 0) {
        *price = bar->open;
    } else if (!stock && !strategy->TLAdjusted && !row->asTraded && IsContinuousFutures(symbol)) {
        /* A contract's own price moves onto the continuous series by the
        ** offset between the series' close and the contract's (the extra value). */
        *price += bar->close - bar->extra;
    }
    if (*price < bar->low || *price > bar->high) {
        const double scaled = *price * split;
        if (stock && scaled >= bar->low && scaled <= bar->high) {
            *price = scaled;
            *quantity /= split;
            return 1;
        }
        const double t = gSettings.TLPriceTolerance;
        bool adjusted = false;
        const double original = *price;
        if (stock && t > 0 && (*price < (1 - t / 100) * bar->low || *price > (1 + t / 100) * bar->high) &&
            bar->close != 0) {
            const double ratio = *price / bar->close;
            *price /= ratio;
            *quantity *= ratio;
            adjusted = true;
        }
        if (gSettings.AddLog) {
            char d[DATE_TEXT_SIZE];
            DateText(*date, d);
            LogPrintf("TradeList: %s could not have been %s at %g on %s because the day's range was %g - %g (trade %s)",
                      row->symbol, entry ? "entered" : "exited", original, d, bar->low, bar->high,
                      adjusted ? "adjusted" : "kept");
        }
    }
    return 1;
}

/* The yyyymm of a delisted name "SYM-yyyymm[.au|.ca]"; 0 when it is not one of symbol's. */
static int32_t DelistedMonth(const char *candidate, const char *symbol, const char *suffix)
{
    const size_t n = strlen(symbol);
    if (CompareNoCaseN(candidate, symbol, n) != 0 || candidate[n] != '-') return 0;
    const char *p = candidate + n + 1;
    int32_t yyyymm = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9' && digits < 6; p++, digits++) yyyymm = yyyymm * 10 + (*p - '0');
    if (digits != 6) return 0;
    if (CompareNoCase(p, suffix) != 0) return 0;
    return yyyymm;
}

/* A fill at or after its exchange's session end (the exchange map row's
** FuturesOpenTime, when the contract row gives one) belongs to the next trading date. */
static void MoveToSessionDates(TradeListRow *row, const ContractSpec *contract)
{
    if (!contract || contract->FuturesOpenTime <= 0) return;
    const DateList *days = &gStore.dateLists[BAR_DAILY];
    if (row->entryDate && row->entryClock >= contract->FuturesOpenTime)
        row->entryDate = OffsetTradingDate(days, row->entryDate, 1);
    if (row->exitDate && row->exitClock >= contract->FuturesOpenTime)
        row->exitDate = OffsetTradingDate(days, row->exitDate, 1);
}

void MapTradeSymbols(StrategyRecord *strategy, TradeListRow *row, int32_t firstDate, int32_t lastDate)
{
    if (row->quantityIn == 0) {
        row->valid = 0;
        return;
    }
    char d[DATE_TEXT_SIZE];
    const int32_t lastAllowed = std::max(lastDate, strategy->TLEndDate);
    if ((row->entryDate < firstDate && !strategy->TLAdoptPos) || row->entryDate > lastAllowed) {
        row->valid = 0;
        DateText(row->entryDate, d);
        if (gSettings.AddLog) {
            LogPrintf("TradeList: %s %g %s on %s is outside the test date range", row->side >= 0 ? "Buy" : "Sell",
                      row->quantityIn, row->symbol, d);
        } else if (!gTradeListState.outsideNotice && !gSettings.TLNoPopups) {
            gTradeListState.outsideNotice = 1;
            ShowPopupNotice(255, "%s", "One or more trades are outside the test date range. Run with Log enabled for details.");
        }
        return;
    }
    int32_t number = 0;
    if (row->symbolNumber < 0) {
        const int32_t assetId = -row->symbolNumber;
        for (int32_t k = 0; k < gStore.symbolCount && !number; k++)
            if (gStore.symbols[k].info.AssetId == assetId) number = k + 1;
        if (number && CompareNoCase(gStore.symbols[number - 1].info.Symbol, row->symbol) != 0) {
            if (row->symbol[0])
                Finding(nullptr, nullptr, "TradeList: symbol for AssetId %d changed from %s to %s", assetId, row->symbol,
                        gStore.symbols[number - 1].info.Symbol);
            CopyString(row->symbol, TL_SYMBOL_SIZE, gStore.symbols[number - 1].info.Symbol, -1);
        }
    } else {
        number = FindSymbolIndex(row->symbol);
    }
    if (!number) {
        /* A delisted symbol carries "-yyyymm" before its market suffix. */
        char base[TL_SYMBOL_SIZE];
        CopyString(base, sizeof base, row->symbol, -1);
        const char *suffix = "";
        size_t len = strlen(base);
        if (len > 3 && (CompareNoCase(base + len - 3, ".AU") == 0 || CompareNoCase(base + len - 3, ".CA") == 0)) {
            suffix = row->symbol + len - 3;
            base[len - 3] = 0;
        }
        const int32_t latest = std::max(row->entryDate, row->exitDate);
        for (int32_t k = gStore.symbolCount - 1; k >= 0 && !number; k--) {
            int32_t month = DelistedMonth(gStore.symbols[k].info.Symbol, base, suffix);
            if (month && month * 100 + 32 > latest) number = k + 1;
        }
        if (number) {
            Finding(nullptr, nullptr, "TradeList: symbol %s has been delisted -- using %s instead", row->symbol,
                    gStore.symbols[number - 1].info.Symbol);
            CopyString(row->symbol, TL_SYMBOL_SIZE, gStore.symbols[number - 1].info.Symbol, -1);
        }
    }
    if (!number) {
        row->valid = 0;
        Finding(&gTradeListState.missingNotice,
                "One or more trade symbols were not found in the data file. Run with Log enabled for details.",
                "TradeList: symbol %s not found in currently loaded data file", row->symbol);
        return;
    }
    row->symbolNumber = number;
    if (row->side == 0) {
        row->side = strategy->Side != 0 ? strategy->Side : 1;
    } else if (strategy->Side != 0 && row->side != strategy->Side) {
        DateText(row->entryDate, d);
        Finding(nullptr, nullptr, "TradeList: %s entry found for %s on %s in Strategy: %s which specifies Side: %s",
                row->side > 0 ? "Long" : "Short", row->symbol, d, strategy->name,
                strategy->Side > 0 ? "Long" : "Short");
    }
    SymbolRecord *symbol = &gStore.symbols[number - 1];
    int dot = 0;
    MoveToSessionDates(row, FindContractSpec(symbol, &dot));
    if (!ValidateTradePrices(strategy, symbol, row, firstDate)) {
        row->valid = 0;
        return;
    }
    if (row->exitDate && row->exitDate <= lastAllowed && !ValidateTradePrices(strategy, symbol, row, 0)) {
        row->valid = 0;
        return;
    }
    const int32_t index = StrategyIndexOf(strategy);
    if (index >= 0 && (size_t)index < gTradeListState.lastDate.size())
        gTradeListState.lastDate[index] = std::max({gTradeListState.lastDate[index], row->entryDate, row->exitDate});
}

void BuildTradeListTrades(StrategyRecord *strategy, int32_t firstDate, int32_t lastDate)
{
    TradeListRow *rows = Rows(strategy);
    const int32_t count = strategy->tradeListRowCount;
    if (!rows || count <= 0) return;
    for (int32_t k = 0; k < count; k++) MapTradeSymbols(strategy, &rows[k], firstDate, lastDate);
    std::stable_sort(rows, rows + count,
                     [](const TradeListRow &a, const TradeListRow &b) { return CompareTrades(&a, &b) < 0; });
    if (!gSettings.WriteTLDebugFile) return;

    char path[2 * PATH_SIZE];
    FormatText(path, sizeof path, "%s\\%s_TL_Debug.csv", gSettings.OutputPath, strategy->name);
    if (PathTooLong(path)) {
        ReportError("TradeList Debug file path is too long -- maximum is 260 chars.");
        SetResultCode(RESULT_FILE_ERROR);
        return;
    }
    std::string out = "Symbol,Side,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut,Reason,Valid\n";
    for (int32_t k = 0; k < count; k++) {
        const TradeListRow &r = rows[k];
        char in[DATE_TEXT_SIZE], exit[DATE_TEXT_SIZE], line[512];
        DateText(r.entryDate, in);
        DateText(r.exitDate, exit);
        FormatText(line, sizeof line, "%s,%d,%s,%g,%g,%g", r.symbol, r.side, in, r.quantityIn, r.priceIn, r.feesIn);
        out += line;
        FormatText(line, sizeof line, ",%s,%g,%g,%g,%s,%d\n", exit, r.quantityOut, r.priceOut, r.feesOut, r.reason,
                   (int)r.valid);
        out += line;
    }
    /* The previous debug file stays until the new one is complete. */
    ReplaceFile file;
    if (!ClaimRunOutput(path, "the TradeList debug file") || !BeginReplaceFileWithMessage(&file, path, 0, "Unable to create %s"))
        return;
    if (!WriteReplaceFile(&file, out.data(), (uint32_t)out.size()) || !CommitReplaceFile(&file)) AbandonReplaceFile(&file);
}

/* ---- activation ----------------------------------------------------------------- */

void UpdateTradeListActivation(int32_t strategyIndex, int32_t referenceDate)
{
    if (strategyIndex < 0 || strategyIndex >= gStrategyCount ||
        (size_t)strategyIndex >= gTradeListState.active.size())
        return;
    const StrategyRecord *s = &gStrategies[strategyIndex];
    const int32_t end = s->TLEndDate;
    gTradeListState.active[strategyIndex] = s->tradeListRowCount >= 0 && s->TradeList[0] && (end == 0 || referenceDate <= end);
    gTradeListState.rules[strategyIndex] = end == 0 || referenceDate > end;
}

int IsTradeListGoverned(int32_t strategyIndex, int32_t setupRow, int32_t date)
{
    if (strategyIndex < 0 || (size_t)strategyIndex >= gTradeListState.active.size() ||
        !gTradeListState.active[strategyIndex])
        return 0;
    if (setupRow == 0) return 0;
    const StrategyRecord *s = &gStrategies[strategyIndex];
    if (!gRun.generatingOrders) return s->TLEndDate >= 1 && date <= s->TLEndDate;
    return !gTradeListState.rules[strategyIndex];
}

int IsTradeListActive(int32_t strategyIndex)
{
    return strategyIndex >= 0 && (size_t)strategyIndex < gTradeListState.active.size() &&
        gTradeListState.active[strategyIndex];
}

int TradeListRulesApply(int32_t strategyIndex)
{
    if (strategyIndex < 0 || (size_t)strategyIndex >= gTradeListState.rules.size()) return 1;
    return gTradeListState.rules[strategyIndex];
}

TradeListRow *TradeListRowAt(StrategyRecord *strategy, int32_t row)
{
    if (!strategy || row <= 0 || row > strategy->tradeListRowCount || !strategy->tradeListRows) return nullptr;
    return &Rows(strategy)[row - 1];
}

int CompareTradeListPeriods(const StrategyRecord *strategy, int32_t a, int32_t b)
{
    const int32_t savedSize = gCalendar.compareBarSize;
    StrategyRecord *savedStrategy = gCalendar.compareStrategy;
    gCalendar.compareBarSize = strategy->BarSize;
    gCalendar.compareStrategy = const_cast<StrategyRecord *>(strategy);
    const int result = ComparePeriodEnds(a, b);
    gCalendar.compareBarSize = savedSize;
    gCalendar.compareStrategy = savedStrategy;
    return result;
}

int CompareTradeListRows(const StrategyRecord *strategy, const TradeListRow *a, const TradeListRow *b)
{
    if (a->valid != b->valid) return a->valid > b->valid ? -1 : 1;
    const int bySymbol = CompareNoCase(a->symbol, b->symbol);
    if (bySymbol != 0) return bySymbol < 0 ? -1 : 1;
    return CompareTradeListPeriods(strategy, a->entryDate, b->entryDate);
}

PositionRecord *ReplayTradeList(EvalContext *context, int32_t *cursor)
{
    StrategyRecord *r = context->strategy;
    TradeListRow *rows = Rows(r);
    const int32_t count = r->tradeListRowCount;
    if (count <= 0 || !rows || !context->symbol) return nullptr;
    TradeListRow key{};
    key.valid = 1;
    CopyString(key.symbol, TL_SYMBOL_SIZE, context->symbol->info.Symbol, -1);
    key.entryDate = context->date;
    int32_t index = *cursor;
    if (index == 0) {
        int32_t low = 0, high = count;
        while (low < high) {
            const int32_t mid = low + (high - low) / 2;
            if (CompareTradeListRows(r, &rows[mid], &key) < 0)
                low = mid + 1;
            else
                high = mid;
        }
        if (low >= count || CompareTradeListRows(r, &rows[low], &key) != 0) return nullptr;
        index = low;
    }
    for (; index < count && CompareTradeListRows(r, &rows[index], &key) == 0; index++) {
        const TradeListRow &row = rows[index];
        if (row.quantityIn != 0 && (r->Side == 0 || row.side == r->Side)) break;
    }
    if (index >= count || CompareTradeListRows(r, &rows[index], &key) != 0) {
        *cursor = index;
        return nullptr;
    }
    const TradeListRow &row = rows[index];
    PositionRecord *setup = AddSetup(r, context->strategyIndex, context->symbol);
    if (!setup) return nullptr;
    context->position = setup;
    setup->tradeListRow = index + 1;
    setup->tradeListId = row.tradeId;
    setup->entryDate = row.entryDate;
    setup->entryTiming = TradeListTimePhase(row.entryTime);
    setup->sizingFx = GetCurrencyFactor(context, setup->entryTiming < PHASE_CLOSE ? 1 : 0);
    setup->entryFx = GetCurrencyFactor(context, 0);
    setup->orderPrice = setup->entryPrice = row.priceIn;
    setup->entryCommission = TradeListFees(&row, row.feesIn, setup->entryFx);
    setup->entryTradeValue = row.valueIn;
    setup->exitTradeValue = row.valueOut;
    setup->side = row.side;
    setup->quantity = row.side != 0 ? std::fabs(row.quantityIn) : row.quantityIn;
    const double pointValue = context->symbol->info.PointValue;
    setup->sizingBase = GetSizingBase(context);
    const double value = std::fabs(row.priceIn * row.quantityIn) * setup->sizingFx * pointValue;
    setup->fraction = setup->sizingBase == 0 ? 0.0 : RoundSignificant(value / setup->sizingBase, 7);
    CopyString(setup->label, sizeof setup->label, row.reason, -1);
    *cursor = index + 1;
    return setup;
}

double TradeListFees(const TradeListRow *row, double fees, double fx)
{
    return gScriptSettings.CommCurrency || row->asTraded ? fees : fees * fx;
}
