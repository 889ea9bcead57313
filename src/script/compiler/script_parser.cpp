/* script_parser.cpp -- reading one script file into the compiled script's lists.
**
** Every error is a code of the compile error table; codes that the table's
** header names are written by name, the parser's own by number (the table's
** text says what each means). */
#include "script/compiler/script_parser.h"

#include <cctype>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/store/calendar.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/preprocessor.h"
#include "script/compiler/ranges.h"
#include "services/services.h"

ScriptParserState gScriptParser;

const char *GetImportSectionText()
{
    const GrowText &text = gScriptParser.importText;
    return text.text && text.length > 0 ? text.text : nullptr;
}

namespace {

enum { NAME_KEEP = 80,
       MAX_NAME_LENGTH = 63,
       HEADER_NAME_SIZE = 256,
       MAX_INCLUDE_LEVELS = 32 };
enum { FIRST_VALID_DATE = 10000101,
       LAST_VALID_DATE = 99991231 };

/* One "name:" found in the text. */
struct LineRecord {
    char name[NAME_KEEP];
    char headerName[NAME_KEEP]; /* the strategy's name on a strategy header */
    uint32_t nameOffset;
    uint32_t nameLength;
    uint32_t valueOffset; /* first non-blank character after the ":" */
    uint32_t valueLength; /* up to the next name, trailing white space left out */
    int valueOpen;        /* the value's end is not known yet */
    /* what pass 2 learnt, for pass 3 */
    int32_t section;  /* the section the record stands in (its own for a header) */
    int32_t strategy; /* index of the current strategy record, -1 none */
    char qualified[VALUE_NAME_SIZE];
    char nameSpace[VALUE_NAME_SIZE];
};

/* The line records of one file, grown LINE_RECORD_STEP records at a time
** through the tracked allocator. */
enum { LINE_RECORD_STEP = 32 };
struct LineRecords {
    LineRecord *items;
    uint32_t count;
    uint32_t capacity;
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    LineRecord &back() { return items[count - 1]; }
    LineRecord &operator[](size_t i) { return items[i]; }
    const LineRecord *begin() const { return items; }
    const LineRecord *end() const { return items + count; }
};

/* Appends a record; 0 when the allocator fails (its flag ends the compile). */
int PushRecord(LineRecords &records, const LineRecord &record)
{
    if (records.count >= records.capacity) {
        uint32_t capacity = records.capacity + LINE_RECORD_STEP;
        if (!ReallocMemory(&records.items, (uint64_t)capacity * sizeof(LineRecord))) return 0;
        records.capacity = capacity;
    }
    records.items[records.count++] = record;
    return 1;
}

struct Parse {
    const char *path;
    char *text;
    uint32_t length;
    char *nameSpace;
    LineRecords records;
    uint32_t appended; /* collected-text position reached */
};

/* ---- small text helpers ------------------------------------------------------------- */

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) { return isalnum((unsigned char)c) || c == '.' || c == '_'; }

/* Shows the parser's error over a span of this file, with what the
** detail adds when given, and fails. */
int Fail(Parse &ps, int code, uint32_t offset, uint32_t length, const char *detail = nullptr)
{
    ShowFormulaError(code, nullptr, (int32_t)offset, (int32_t)length, ps.path, ps.text, detail);
    return 0;
}

/* The section whose name, directly followed by ":", begins at p; else 0. */
int MatchSectionAt(const char *p)
{
    for (int id = 1; id < (int)SECTION_COUNT; id++) {
        size_t n = strlen(kSectionNames[id]);
        if (CompareNoCaseN(p, kSectionNames[id], n) == 0 && p[n] == ':') return id;
    }
    return 0;
}

void CloseValue(Parse &ps, LineRecord &record, uint32_t end)
{
    if (!record.valueOpen) return;
    record.valueOpen = 0;
    if (end <= record.valueOffset) {
        record.valueLength = 0;
        return;
    }
    while (end > record.valueOffset && IsBlank(ps.text[end - 1])) end--;
    record.valueLength = end - record.valueOffset;
}

int AppendText(GrowText *out, const char *text, uint32_t length)
{
    if (length == 0) return 1;
    int64_t need = (int64_t)out->length + length + 1;
    if (need > out->capacity) {
        int64_t capacity = need * 2;
        if (capacity > 0x7fffffff) return 0;
        if (!ReallocMemory(&out->text, (uint64_t)capacity)) return 0;
        out->capacity = (int32_t)capacity;
    }
    memcpy(out->text + out->length, text, length);
    out->length += (int32_t)length;
    out->text[out->length] = 0;
    return 1;
}

/* Appends the file's text up to end to the collected script text. */
int CollectUpTo(Parse &ps, uint32_t end)
{
    if (!gCompileSession.collectText || end <= ps.appended) return 1;
    int ok = AppendText(&gScriptParser.collectedText, ps.text + ps.appended, end - ps.appended);
    ps.appended = end;
    return ok;
}

/* The header line's own text: after the ":" up to the line end, the value's
** end, a comment or a directive, blanks at both ends left out. */
void HeaderLineSpan(const Parse &ps, const LineRecord &r, uint32_t *pStart, uint32_t *pLength)
{
    uint32_t start = r.nameOffset + r.nameLength + 1;
    uint32_t limit = r.valueOffset + r.valueLength;
    while (start < limit && (ps.text[start] == ' ' || ps.text[start] == '\t')) start++;
    uint32_t end = start;
    while (end < limit && ps.text[end] != '\r' && ps.text[end] != '\n') {
        const char *p = ps.text + end;
        if ((p[0] == '/' && (p[1] == '/' || p[1] == '*')) || p[0] == '{' || IsPreprocessorDirectiveAt(p)) break;
        end++;
    }
    while (end > start && IsBlank(ps.text[end - 1])) end--;
    *pStart = start;
    *pLength = end > start ? end - start : 0;
}

/* The end of the line that holds offset, its line break included. */
uint32_t LineEndAfter(const Parse &ps, uint32_t offset)
{
    while (offset < ps.length && ps.text[offset] && ps.text[offset] != '\n') offset++;
    return offset < ps.length && ps.text[offset] == '\n' ? offset + 1 : offset;
}

/* ---- pass 1: line records --------------------------------------------------------- */

/* Takes the name that ends at the ":" at offset colon; adds its record. */
int AddLineRecord(Parse &ps, uint32_t colon, int running)
{
    uint32_t end = colon;
    while (end > 0 && IsBlank(ps.text[end - 1])) end--;
    uint32_t start = end;
    while (start > 0 && !IsTokenDelimiter(ps.text[start - 1])) start--;
    if (end == 0) return Fail(ps, ERR_UNRECOGNIZED, colon, 1);
    uint32_t length = end - start;
    if (running != SECTION_NOTES) {
        if (length == 0) return Fail(ps, ERR_NAME_MISSING, colon, 1);
        if (length > MAX_NAME_LENGTH) return Fail(ps, ERR_NAME_TOO_LONG, start, MAX_NAME_LENGTH + 1);
        if (!IsValidName(ps.text + start, (int)length)) return Fail(ps, ERR_BAD_NAME, start, length);
    } else if (length == 0) {
        return 1; /* free text of a Notes section */
    }
    if (!ps.records.empty()) CloseValue(ps, ps.records.back(), start);
    LineRecord record = {};
    CopyString(record.name, sizeof record.name, ps.text + start, (int)length);
    record.nameOffset = start;
    record.nameLength = length;
    uint32_t value = colon + 1;
    while (value < ps.length && IsBlank(ps.text[value])) value++;
    record.valueOffset = value;
    record.valueOpen = 1;
    record.strategy = -1;
    /* Out of memory ends the parse without a message of its own. */
    return PushRecord(ps.records, record);
}

/* Follows what the editor's name scan needs of an include line and applies
** DateInput at once, so that later dates of this file read in its order. */
int EarlyRecordWork(Parse &ps, int running)
{
    LineRecord &record = ps.records.back();
    if (running == SECTION_INCLUDE && CompareNoCase(record.name, kSectionNames[SECTION_INCLUDE]) == 0) {
        char path[PATH_SIZE];
        if (ExtractIncludePath(ps.text + record.valueOffset, path) && gCompiler.includeDepth + 1 < MAX_INCLUDE_LEVELS) {
            gCompiler.includeDepth++;
            ScanScriptItemNames(path, nullptr, 0, &gCompiler);
            gCompiler.includeDepth--;
        }
    }
    /* Only a settings section that applies to this run may change the date
    ** order; the others are read and checked but change nothing. */
    if (IsSettingsSection(running) && SettingsSectionApplies(running) &&
        FindSettingsKeyword(record.name) == SETKW_DATEINPUT) {
        uint32_t end = LineEndAfter(ps, record.valueOffset);
        int offset = 0, length = 0;
        int code = ApplySettingsItem(SETKW_DATEINPUT, ps.text + record.valueOffset, (int)(end - record.valueOffset),
                                     &offset, &length);
        if (code) return Fail(ps, code, record.valueOffset + offset, length);
    }
    return 1;
}

int SplitIntoRecords(Parse &ps)
{
    char *text = ps.text;
    int running = SECTION_NONE;
    uint32_t i = 0;
    while (i < ps.length && text[i]) {
        char *p = text + i;
        if (i == 0 || !IsNameChar(text[i - 1])) {
            if (int id = MatchSectionAt(p)) running = id;
        }
        if (p[0] == '/' && p[1] == '/' && (i == 0 || text[i - 1] == '\n')) {
            if (int id = MatchSectionAt(p + 2)) running = id;
        }
        const char *q = p;
        if (HandlePreprocessorDirective(&q, &gCompiler)) {
            if (int code = gCompiler.pendingError) {
                gCompiler.pendingError = 0;
                return Fail(ps, code, i, (uint32_t)(q - p));
            }
            if (!ps.records.empty()) CloseValue(ps, ps.records.back(), i);
            i = (uint32_t)(q - text);
            continue;
        }
        if (running != SECTION_NOTES) {
            if (*p == '"' || *p == '\'') {
                uint32_t j = i + 1;
                while (j < ps.length && text[j] && text[j] != *p) j++;
                i = j < ps.length && text[j] ? j + 1 : j;
                continue;
            }
            q = p;
            if (SkipComment(&q, &gCompiler)) {
                i = (uint32_t)(q - text) + 1;
                continue;
            }
        }
        if (*p == ':' && p[1] != '\\') {
            size_t before = ps.records.size();
            if (!AddLineRecord(ps, i, running)) return 0;
            if (ps.records.size() > before && !EarlyRecordWork(ps, running)) return 0;
        }
        i++;
    }
    if (!ps.records.empty()) CloseValue(ps, ps.records.back(), i);
    return 1;
}

/* ---- pass 2: sections and items ----------------------------------------------------- */

const char *const kStrategyListNames[] = {"TLFields", "TradeList", "CashList", "FeesList", "HolidayList",
                                          "OrdersFile", "OrdersNetLiq", "OrdersFreeCash", "OrdersTemplate", "TLEndDate"};
enum {
    SLIST_TLFIELDS,
    SLIST_TRADELIST,
    SLIST_CASHLIST,
    SLIST_FEESLIST,
    SLIST_HOLIDAYLIST,
    SLIST_ORDERSFILE,
    SLIST_ORDERSNETLIQ,
    SLIST_ORDERSFREECASH,
    SLIST_ORDERSTEMPLATE,
    SLIST_TLENDDATE,
    SLIST_COUNT
};
enum { STRATEGY_CONSTANT_COUNT = 25,
       CONSTANT_BARSIZE = 1 };
/* Formula slots that a StatsGroup or Combined may give. */
enum { SLOT_STARTPERCENT = 0,
       SLOT_ALLOCATION = 1,
       SLOT_MAXPOSITIONS = 9,
       SLOT_MINFREECASH = 23,
       SLOT_MAXSAMECAT = 34,
       SLOT_MAXSYMINV = 39,
       SLOT_MAXENTRIES = 50 };

struct SectionWalk {
    int section;      /* current section, 0 before any header */
    int applies;      /* a settings section that applies to this run */
    int itemBarSize;  /* bar size of the Data and TestData items that follow */
    int32_t strategy; /* current strategy record, -1 none */
    uint8_t slotGiven[STRATEGY_SLOTS];
    uint8_t constantGiven[STRATEGY_CONSTANT_COUNT + 1];
    uint8_t listGiven[SLIST_COUNT];
};

StrategyRecord *StrategyAt(int32_t index)
{
    return index >= 0 && index < gStrategyCount ? gStrategies + index : nullptr;
}

bool IsIncludeSection(int s)
{
    return s == SECTION_INCLUDE || s == SECTION_SCAN_INCLUDE || s == SECTION_TEST_INCLUDE || s == SECTION_ORDERS_INCLUDE;
}

bool IsColumnSection(int s)
{
    return s == SECTION_RESULTS || s == SECTION_GRAPHS || s == SECTION_CHARTS || s == SECTION_TRADES ||
        s == SECTION_SCAN || s == SECTION_TEST_SCAN;
}

bool IsItemSection(int s)
{
    return s == SECTION_DATA || s == SECTION_TEST_DATA || s == SECTION_STRAT_DATA || s == SECTION_LIBRARY;
}

/* An upper bound of the periods of barSize between two valid dates a <= b. */
int64_t PeriodsBetween(int32_t a, int32_t b, int barSize)
{
    int64_t months = (int64_t)(DateYear(b) - DateYear(a)) * 12 + DateMonth(b) - DateMonth(a);
    switch (barSize) {
    case BAR_WEEKLY: return DaysBetween(a, b) / 7 + 1;
    case BAR_MONTHLY: return months + 1;
    case BAR_QUARTERLY: return months / 3 + 1;
    case BAR_YEARLY: return DateYear(b) - DateYear(a) + 1;
    default: return DaysBetween(a, b);
    }
}

/* The date steps trading periods of the master list from date, kept within
** the calendar's valid dates.  A count larger than the periods left before
** the calendar's edge ends at that edge at once: a mistyped NumBars of
** millions must not step day by day past the last valid date. */
int32_t OffsetRangeDate(const DateList *master, int32_t date, int32_t steps)
{
    if (date < FIRST_VALID_DATE || date > LAST_VALID_DATE) return date; /* no date (0) or none to step from */
    int32_t edge = steps >= 0 ? LAST_VALID_DATE : FIRST_VALID_DATE;
    int64_t room = steps >= 0 ? PeriodsBetween(date, edge, master->barSize) : PeriodsBetween(edge, date, master->barSize);
    if ((steps >= 0 ? (int64_t)steps : -(int64_t)steps) > room) return edge;
    int32_t derived = OffsetTradingDate(master, date, steps);
    if (derived == 0) return edge; /* the steps ran into the calendar's edge */
    if (derived > LAST_VALID_DATE) return LAST_VALID_DATE;
    if (derived < FIRST_VALID_DATE) return FIRST_VALID_DATE;
    return derived;
}

/* When a settings section that applies ends, NumBars decides the other end
** of the test range: without NumBars it is cleared; with it, the end date is
** derived from the start date (or, when the script gave the end date, the
** start from the end) in trading days of the script's bar size. */
void FinishSettingsSection(const SectionWalk &walk)
{
    if (!IsSettingsSection(walk.section) || !walk.applies) return;
    if (!gScriptParser.settingGiven[SETKW_NUMBARS]) {
        gSettings.NumBars = 0;
        return;
    }
    int32_t bars = gSettings.NumBars;
    int32_t barSize = gSettings.BarSize2;
    const DateList *master = &gStore.dateLists[barSize >= 0 && barSize < BAR_SIZE_COUNT ? barSize : 0];
    if (!gScriptParser.settingGiven[SETKW_ENDDATE]) {
        gSettings.LastDate = OffsetRangeDate(master, gSettings.FirstDate, bars - 1);
        gSettings.UseLatestDate = 0;
    } else {
        gSettings.FirstDate = OffsetRangeDate(master, gSettings.LastDate, -(bars - 1));
        gSettings.UseEarliestDate = 0;
    }
}

int IncludeFromHeader(Parse &ps, const LineRecord &r, uint32_t lineStart, uint32_t lineLength)
{
    int mode = gCompileSession.mode;
    int s = r.section;
    int active = s == SECTION_INCLUDE || (s == SECTION_SCAN_INCLUDE && mode == RUN_MODE_SCAN) ||
        (s == SECTION_TEST_INCLUDE && (mode == RUN_MODE_TEST || mode == RUN_MODE_OPTIMIZE)) ||
        (s == SECTION_ORDERS_INCLUDE && mode == RUN_MODE_ORDERS);
    if (!active) return 1;
    ScanScriptItemNames(ps.text, nullptr, (int)r.nameOffset, &gCompiler);
    if (gCompileSession.collectText) {
        /* The include line stays in the collected text as a comment, followed
        ** by the included file's own text. */
        uint32_t lineEnd = LineEndAfter(ps, r.nameOffset);
        if (!CollectUpTo(ps, r.nameOffset) || !AppendText(&gScriptParser.collectedText, "// ", 3)) return 0;
        if (!CollectUpTo(ps, lineEnd)) return 0;
        if (lineEnd > 0 && ps.text[lineEnd - 1] != '\n' && !AppendText(&gScriptParser.collectedText, "\r\n", 2))
            return 0;
    }
    char saved = 0;
    int n = GetSectionLineValue(ps.text + lineStart, (int)lineLength, &saved);
    char keep[VALUE_NAME_SIZE];
    CopyString(keep, sizeof keep, ps.nameSpace, -1);
    /* A name too long to hold is refused here, where its line can be shown,
    ** rather than cut to the name of another file. */
    int ok = PathTooLong(ps.text + lineStart) ? Fail(ps, ERR_PATH_TOO_LONG, lineStart, (uint32_t)n)
        : n > 0                               ? IncludeScriptFile(ps.text + lineStart, ps.nameSpace)
                                              : 1;
    ps.text[lineStart + n] = saved;
    CopyString(ps.nameSpace, VALUE_NAME_SIZE, keep, -1);
    return ok;
}

/* Keeps the Import section's text, from its header to the next header, for
** the import run and the data file's note. */
int KeepImportText(Parse &ps, size_t index)
{
    uint32_t start = ps.records[index].nameOffset;
    uint32_t end = ps.length;
    for (size_t k = index + 1; k < ps.records.size(); k++) {
        if (FindSectionName(ps.records[k].name)) {
            end = ps.records[k].nameOffset;
            break;
        }
    }
    for (uint32_t i = start; i < end && ps.text[i]; i++) {
        if (ps.text[i] == '\r') continue;
        if (!AppendText(&gScriptParser.importText, ps.text + i, 1)) return 0;
    }
    return 1;
}

int HandleHeader(Parse &ps, size_t index, SectionWalk &walk)
{
    LineRecord &r = ps.records[index];
    int s = r.section;
    if (gCompileSession.sectionFilter && s != gCompileSession.sectionFilter) return Fail(ps, ERR_DEFAULT_SCRIPT_SECTION, r.nameOffset, r.nameLength);

    uint32_t lineStart = 0, lineLength = 0;
    HeaderLineSpan(ps, r, &lineStart, &lineLength);
    char headerName[HEADER_NAME_SIZE] = "";
    bool needsName = s == SECTION_TEMPLATE || s == SECTION_BENCHMARK || s == SECTION_STRATEGY ||
        s == SECTION_STATS_GROUP || s == SECTION_NAMESPACE;
    if (needsName) {
        if (lineLength == 0) return Fail(ps, s == SECTION_NAMESPACE ? ERR_NAME_MISSING : 13, r.nameOffset, r.nameLength);
        int code = ReadNameToken(headerName, sizeof headerName, ps.text + lineStart, (int)lineLength);
        if (!code && s == SECTION_NAMESPACE && strlen(headerName) > MAX_NAME_LENGTH) code = ERR_NAME_TOO_LONG;
        if (code) return Fail(ps, code, lineStart, lineLength);
    } else if (!IsIncludeSection(s) && s != SECTION_NOTES && lineLength > 0) {
        /* Include headers carry their path on the header line, and a Notes
        ** header may start its free text there. */
        return Fail(ps, ERR_NAME_MISSING, lineStart, lineLength);
    }
    CopyString(r.headerName, sizeof r.headerName, headerName, -1);

    FinishSettingsSection(walk);
    int first = gCompileSession.sectionCounts[s] == 0;
    gCompileSession.sectionCounts[s]++;
    walk.section = s;
    walk.applies = 0;

    switch (s) {
    case SECTION_DATA:
    case SECTION_PARAMETERS:
    case SECTION_LIBRARY:
    case SECTION_TEST_DATA:
    case SECTION_STRAT_DATA:
        if (first) ResetScriptDefinitions((uint32_t)s);
        walk.itemBarSize = -1;
        break;
    case SECTION_SETTINGS:
    case SECTION_SCAN_SETTINGS:
    case SECTION_TEST_SETTINGS:
    case SECTION_ORDER_SETTINGS:
    case SECTION_OPTIMIZE_SETTINGS:
        walk.applies = SettingsSectionApplies(s);
        break;
    case SECTION_COMBINED:
        if (gScriptParser.combinedHeaders++ > 0) return Fail(ps, ERR_SECTION_ONCE, r.nameOffset, r.nameLength);
        [[fallthrough]];
    case SECTION_TEMPLATE:
    case SECTION_BENCHMARK:
    case SECTION_STRATEGY:
    case SECTION_STATS_GROUP: {
        int error = 0;
        StrategyRecord *record = AddStrategyRecord(s, headerName, &error);
        if (!record) return error ? Fail(ps, error, lineStart, lineLength) : 0;
        walk.strategy = (int32_t)(record - gStrategies);
        memset(walk.slotGiven, 0, sizeof walk.slotGiven);
        memset(walk.constantGiven, 0, sizeof walk.constantGiven);
        memset(walk.listGiven, 0, sizeof walk.listGiven);
        break;
    }
    case SECTION_NAMESPACE:
        CopyString(ps.nameSpace, VALUE_NAME_SIZE, CompareNoCase(headerName, "none") == 0 ? "" : headerName, -1);
        break;
    case SECTION_INCLUDE:
    case SECTION_SCAN_INCLUDE:
    case SECTION_TEST_INCLUDE:
    case SECTION_ORDERS_INCLUDE:
        return IncludeFromHeader(ps, r, lineStart, lineLength);
    case SECTION_IMPORT:
        return KeepImportText(ps, index);
    default:
        break;
    }
    return 1;
}

/* Copies the value with its white space dropped, up to a comment; 0 or 11. */
int ReadListValue(char *out, int size, const char *text, int length)
{
    int n = 0;
    for (int i = 0; i < length && text[i]; i++) {
        const char *p = text + i;
        if ((p[0] == '/' && (p[1] == '/' || p[1] == '*')) || p[0] == '{') break;
        if (IsBlank(*p)) continue;
        if (n >= size - 1) {
            out[n] = 0;
            return ERR_NAME_TOO_LONG;
        }
        out[n++] = *p;
    }
    out[n] = 0;
    return 0;
}

void FillSlot(Parse &ps, FormulaSlot *slot, const LineRecord &r, const char *name, int section)
{
    CopyString(slot->name, sizeof slot->name, name, MAX_NAME_LENGTH);
    CopyString(slot->path, sizeof slot->path, ps.path, -1);
    CopyString(slot->nameSpace, sizeof slot->nameSpace, ps.nameSpace, MAX_NAME_LENGTH);
    slot->scriptText = ps.text;
    slot->start = (int32_t)r.valueOffset;
    slot->length = (int32_t)r.valueLength;
    slot->definitionSection = (uint32_t)section;
    slot->includeDepth = gCompiler.includeDepth;
}

/* A column or item record of the section's list: the one named the same when
** it is replaced, else the next one.  Null when the list cannot grow. */
void *TakeRecord(int section, int replaceIndex, uint32_t size, bool *pIsNew)
{
    DefinitionList *list = DefinitionListFor((uint32_t)section);
    int32_t index = replaceIndex;
    *pIsNew = replaceIndex < 0;
    if (index < 0 && (index = AddDefinitionRecord(list, size)) < 0) return nullptr;
    return (char *)list->items + (size_t)index * size;
}

int StoreColumn(Parse &ps, const LineRecord &r, int s, int replaceIndex)
{
    if (CompareNoCase(r.name, "Sort") == 0 && (s == SECTION_TRADES || s == SECTION_SCAN || s == SECTION_TEST_SCAN)) {
        /* The sort list keeps its direction signs and commas. */
        char *sort = SortListFor((uint32_t)s);
        if (ReadListValue(sort, SORT_LIST_SIZE, ps.text + r.valueOffset, (int)r.valueLength))
            return Fail(ps, ERR_NAME_TOO_LONG, r.valueOffset, r.valueLength);
        return 1;
    }
    bool isNew = false;
    FormulaColumn *column = (FormulaColumn *)TakeRecord(s, replaceIndex, sizeof(FormulaColumn), &isNew);
    if (!column) return 0;
    int32_t filter = column->filter;
    ResetFormulaColumn(column);
    FillSlot(ps, &column->formula, r, r.qualified, s);
    if (s == SECTION_TRADES && CompareNoCase(r.name, "Filter") == 0) {
        column->filter = 1;
        return 1;
    }
    if ((s == SECTION_SCAN || s == SECTION_TEST_SCAN) && CompareNoCaseN(r.name, "filter", 6) == 0) {
        int32_t *counter = s == SECTION_SCAN ? &gScanFilterCount : &gTestScanFilterCount;
        column->filter = isNew || filter == 0 ? ++*counter : filter;
        return 1;
    }
    if (s == SECTION_CHARTS && CompareNoCase(r.name, "Text") == 0) column->isText = 1;
    ParseFormatSpec(ps.text + r.valueOffset, (int)r.valueLength, column);
    return 1;
}

int StoreItem(Parse &ps, const LineRecord &r, int s, int replaceIndex, int barSize)
{
    bool isNew = false;
    FormulaItem *item = (FormulaItem *)TakeRecord(s, replaceIndex, sizeof(FormulaItem), &isNew);
    if (!item) return 0;
    int32_t keepBarSize = item->barSize;
    ResetFormulaItem(item);
    FillSlot(ps, &item->formula, r, r.qualified, s);
    item->barSize = isNew ? barSize : keepBarSize;
    return 1;
}

int HandleSettingsItem(Parse &ps, const LineRecord &r, SectionWalk &walk)
{
    int index = FindSettingsKeyword(r.name);
    if (index < 0) return Fail(ps, ERR_UNKNOWN_SETTING, r.nameOffset, r.nameLength);
    if (!walk.applies) return 1;
    gScriptParser.settingGiven[index] = 1;
    StandaloneFormula *formula = index == SETKW_TESTNAME ? &gTestNameFormula
        : index == SETKW_ORDERSCOMMENT                   ? &gOrdersComment
        : index == SETKW_SKIPTESTIF                      ? &gSkipTestIf
                                                         : nullptr;
    if (formula) {
        ResetDefinitionSlot(&formula->formula);
        FillSlot(ps, &formula->formula, r, kSettingsKeywordNames[index], walk.section);
        formula->section = walk.section;
        return 1;
    }
    int offset = 0, length = (int)r.valueLength;
    int code = ApplySettingsItem(index, ps.text + r.valueOffset, (int)r.valueLength, &offset, &length);
    if (code) return Fail(ps, code, r.valueOffset + (uint32_t)offset, (uint32_t)length);
    return 1;
}

int HandleImportItem(Parse &ps, const LineRecord &r)
{
    int index = FindImportKeyword(r.name);
    if (index < 0) return Fail(ps, ERR_UNKNOWN_IMPORT_ITEM, r.nameOffset, r.nameLength);
    if (index == IMPORTKW_EXCLUDEIF) {
        if (gScriptParser.excludeIfGiven++) return Fail(ps, ERR_ONE_EXCLUDE_FILTER, r.nameOffset, r.nameLength);
        ResetDefinitionSlot(&gImportFilter.formula);
        FillSlot(ps, &gImportFilter.formula, r, kImportKeywordNames[index], SECTION_IMPORT);
        gImportFilter.section = SECTION_IMPORT;
        return 1;
    }
    int offset = 0, length = (int)r.valueLength;
    int code = ApplyImportItem(index, ps.text + r.valueOffset, (int)r.valueLength, ps.nameSpace, &offset, &length);
    if (code < 0) return 0;
    if (code >= ERR_NEEDS_LOCAL_CSV && code <= ERR_NEEDS_NORGATE) return Fail(ps, code, r.nameOffset, r.nameLength);
    if (code) return Fail(ps, code, r.valueOffset + (uint32_t)offset, (uint32_t)length);
    return 1;
}

/* The code for an element a StatsGroup or Combined does not take. */
int GroupRefusal(int kind) { return kind == SECTION_COMBINED ? 34 : 35; }

int HandleStrategyItem(Parse &ps, const LineRecord &r, SectionWalk &walk)
{
    StrategyRecord *record = StrategyAt(walk.strategy);
    if (!record) return Fail(ps, ERR_UNRECOGNIZED, r.nameOffset, r.nameLength);
    int kind = walk.section;
    bool group = kind == SECTION_STATS_GROUP || kind == SECTION_COMBINED;
    const char *value = ps.text + r.valueOffset;

    if (CompareNoCase(r.name, "Using") == 0) {
        if (kind == SECTION_COMBINED) return Fail(ps, ERR_NOT_IN_COMBINED, r.nameOffset, r.nameLength);
        return 1; /* taken up once every strategy is known */
    }
    int list = -1;
    for (int k = 0; k < SLIST_COUNT; k++)
        if (CompareNoCase(r.name, kStrategyListNames[k]) == 0) list = k;
    if (list >= 0) {
        if (group) return Fail(ps, GroupRefusal(kind), r.nameOffset, r.nameLength);
        if (walk.listGiven[list]++) return Fail(ps, ERR_DUPLICATE_ELEMENT, r.nameOffset, r.nameLength);
        bool orders = list >= SLIST_ORDERSFILE && list <= SLIST_ORDERSTEMPLATE;
        if (orders && kind == SECTION_BENCHMARK) return Fail(ps, ERR_NOT_IN_BENCHMARK, r.nameOffset, r.nameLength);
        char saved = 0;
        char *valueText = ps.text + r.valueOffset;
        int n = GetSectionLineValue(valueText, (int)r.valueLength, &saved);
        int ok = 1, offset = 0, length = n;
        switch (list) {
        case SLIST_TLFIELDS:
            if (int code = ParseTLFieldsList(record, valueText, n, &offset, &length))
                ok = Fail(ps, code, r.valueOffset + (uint32_t)offset, (uint32_t)length);
            break;
        case SLIST_CASHLIST:
        case SLIST_FEESLIST: {
            char why[PATH_SIZE + 160];
            if (!LoadCashFeesList(record, valueText, list == SLIST_FEESLIST, why, sizeof why))
                ok = Fail(ps, ERR_CASH_FEES_FILE, r.valueOffset, (uint32_t)n, why);
            break;
        }
        case SLIST_TLENDDATE: {
            int32_t date = CompareNoCase(valueText, "latest") == 0 ? 99991231 : ParseDate(valueText);
            if (!date)
                ok = Fail(ps, ERR_DATE_FORMAT, r.valueOffset, (uint32_t)n);
            else
                record->TLEndDate = date;
            break;
        }
        default: {
            char *target = list == SLIST_TRADELIST ? record->TradeList
                : list == SLIST_HOLIDAYLIST        ? record->HolidayList
                : list == SLIST_ORDERSFILE         ? record->OrdersFile
                : list == SLIST_ORDERSNETLIQ       ? record->OrdersNetLiq
                : list == SLIST_ORDERSFREECASH     ? record->OrdersFreeCash
                                                   : record->OrdersTemplate;
            /* A path cut to fit would name another file than the script's. */
            if (PathTooLong(valueText))
                ok = Fail(ps, ERR_PATH_TOO_LONG, r.valueOffset, (uint32_t)n);
            else
                CopyString(target, PATH_SIZE, valueText, -1);
            break;
        }
        }
        valueText[n] = saved;
        return ok;
    }

    int error = 0, length = 0;
    int constant = ParseStrategyConstant(record, r.name, value, (int)r.valueLength, &error, &length);
    if (constant < 0) return Fail(ps, GroupRefusal(kind), r.nameOffset, r.nameLength);
    if (constant > 0) {
        if (walk.constantGiven[constant]++) return Fail(ps, ERR_DUPLICATE_ELEMENT, r.nameOffset, r.nameLength);
        uint32_t span = length > 0 ? (uint32_t)length : r.valueLength;
        if (error) return Fail(ps, error, r.valueOffset, span);
        if (constant - 1 == CONSTANT_BARSIZE) {
            int32_t scriptBarSize = gSettings.BarSize2;
            if (record->BarSize < scriptBarSize) return Fail(ps, ERR_STRATEGY_BAR_SIZE_SMALLER, r.valueOffset, span);
            if (scriptBarSize != 0 && record->BarSize != scriptBarSize) return Fail(ps, ERR_MIXED_BAR_SIZES, r.valueOffset, span);
        }
        return 1;
    }

    int slot = FindStrategySlot(r.name);
    if (slot < 0) return Fail(ps, ERR_UNKNOWN_STRATEGY_ELEMENT, r.nameOffset, r.nameLength);
    if (group) {
        bool limit = (slot >= SLOT_MAXPOSITIONS && slot <= SLOT_MINFREECASH) ||
            (slot >= SLOT_MAXSAMECAT && slot <= SLOT_MAXSYMINV);
        if (!limit && slot != SLOT_STARTPERCENT && slot != SLOT_ALLOCATION && slot != SLOT_MAXENTRIES)
            return Fail(ps, GroupRefusal(kind), r.nameOffset, r.nameLength);
        if (limit) record->hasGroupLimits = 1;
        if (slot == SLOT_MAXENTRIES) gScriptParser.groupMaxEntries = 1;
    }
    if (walk.slotGiven[slot]++) return Fail(ps, ERR_DUPLICATE_ELEMENT, r.nameOffset, r.nameLength);
    FormulaSlot *target = &record->slots[slot];
    ResetDefinitionSlot(target);
    FillSlot(ps, target, r, kStrategySlotNames[slot], kind);
    /* Errors in the formula then name its strategy. */
    target->strategyNumber = (uint32_t)walk.strategy + 1;
    return 1;
}

/* The index of the definition named name in the section's own list, else -1.
** The section's list is searched by itself: a Data item of the same name
** must not hide a second column of that name from the duplicate check. */
int FindInOwnList(int section, const char *name)
{
    const DefinitionList *list = DefinitionListFor((uint32_t)section);
    for (int32_t i = 0; list && i < list->count; i++) {
        const FormulaSlot *slot = IsColumnSection(section) ? &((const FormulaColumn *)list->items)[i].formula
                                                           : &((const FormulaItem *)list->items)[i].formula;
        if (CompareNoCase(slot->name, name) == 0) return i;
    }
    return -1;
}

int HandleItem(Parse &ps, LineRecord &r, SectionWalk &walk)
{
    int s = walk.section;
    if (s == SECTION_NONE || IsIncludeSection(s)) return Fail(ps, ERR_UNRECOGNIZED, r.nameOffset, r.nameLength);
    if (s == SECTION_NAMESPACE) return Fail(ps, ERR_UNKNOWN_STRATEGY_ELEMENT, r.nameOffset, r.nameLength);
    if (s == SECTION_NOTES) return 1;
    CopyString(r.qualified, sizeof r.qualified, r.name, MAX_NAME_LENGTH);

    bool barSizeItem = (s == SECTION_DATA || s == SECTION_TEST_DATA) && CompareNoCase(r.name, "BarSize") == 0;
    bool named = IsColumnSection(s) || IsItemSection(s) || s == SECTION_PARAMETERS || s == SECTION_WALK_FORWARD;
    int replaceIndex = -1;
    if (named && !barSizeItem) {
        /* The walk-forward date list is named "dates" in every namespace. */
        bool special = CompareNoCase(r.name, "Filter") == 0 || CompareNoCase(r.name, "Sort") == 0 ||
            CompareNoCase(r.name, "Text") == 0 ||
            (s == SECTION_WALK_FORWARD && CompareNoCase(r.name, "dates") == 0);
        if (!special && ps.nameSpace[0] && !strchr(r.name, '.')) {
            char joined[2 * VALUE_NAME_SIZE + 2];
            int n = FormatText(joined, sizeof joined, "%s.%s", ps.nameSpace, r.name);
            if (n > MAX_NAME_LENGTH) return Fail(ps, ERR_NAME_TOO_LONG, r.nameOffset, r.nameLength);
            CopyString(r.qualified, sizeof r.qualified, joined, -1);
        }
        bool exempt = CompareNoCase(r.name, "Sort") == 0 || CompareNoCase(r.name, "BarSize") == 0;
        if (!exempt && (IsScriptKeyword(r.name) || FindScriptItem(r.name, nullptr) != 0))
            return Fail(ps, ERR_RESERVED_NAME, r.nameOffset, r.nameLength);
        if (IsColumnSection(s) || IsItemSection(s)) {
            replaceIndex = FindInOwnList(s, r.qualified);
            if (replaceIndex >= 0 && !GetRunSetting(RUNSET_ALLOW_SAME_NAME))
                return Fail(ps, ERR_NAME_IN_SECTION, r.nameOffset, r.nameLength);
        }
    }

    switch (s) {
    case SECTION_RESULTS:
    case SECTION_GRAPHS:
    case SECTION_CHARTS:
    case SECTION_TRADES:
    case SECTION_SCAN:
    case SECTION_TEST_SCAN:
        return StoreColumn(ps, r, s, replaceIndex);
    case SECTION_DATA:
    case SECTION_TEST_DATA:
        if (barSizeItem) {
            /* The bar-size word is read as the setting would be, but it sets
            ** only the items that follow, not the script's bar size. */
            int32_t scriptBarSize = gSettings.BarSize2;
            int offset = 0, length = (int)r.valueLength;
            int code = ApplySettingsItem(SETKW_BARSIZE, ps.text + r.valueOffset, (int)r.valueLength, &offset, &length);
            walk.itemBarSize = gSettings.BarSize2;
            gSettings.BarSize2 = scriptBarSize;
            if (code) return Fail(ps, code, r.valueOffset + (uint32_t)offset, (uint32_t)length);
            return 1;
        }
        return StoreItem(ps, r, s, replaceIndex, walk.itemBarSize);
    case SECTION_STRAT_DATA:
    case SECTION_LIBRARY:
        return StoreItem(ps, r, s, replaceIndex, -1);
    case SECTION_IMPORT:
        return HandleImportItem(ps, r);
    case SECTION_PARAMETERS:
    case SECTION_WALK_FORWARD: {
        int offset = -1, length = 0;
        int code = AddParameterName(s, r.qualified, ps.nameSpace, ps.text + r.valueOffset, (int)r.valueLength, &offset, &length);
        if (code < 0) return 0;
        if (code == ERR_WALK_FORWARD_NAME) return Fail(ps, code, r.nameOffset, r.nameLength);
        if (code && offset >= 0) {
            char detail[160];
            FormatText(detail, sizeof detail, "The walk-forward date %.*s does not come after the date before it.", length,
                       ps.text + r.valueOffset + offset);
            return Fail(ps, code, r.valueOffset + (uint32_t)offset, (uint32_t)length, detail);
        }
        if (code) return Fail(ps, code, r.valueOffset, r.valueLength);
        return 1;
    }
    default:
        if (IsSettingsSection(s)) return HandleSettingsItem(ps, r, walk);
        if (IsStrategySection(s)) return HandleStrategyItem(ps, r, walk);
        return 1;
    }
}

int WalkSections(Parse &ps)
{
    SectionWalk walk = {};
    walk.strategy = -1;
    walk.itemBarSize = -1;
    for (size_t i = 0; i < ps.records.size(); i++) {
        LineRecord &r = ps.records[i];
        int header = FindSectionName(r.name);
        if (header) {
            r.section = header;
            if (!HandleHeader(ps, i, walk)) return 0;
            if (IsIncludeSection(header)) walk.section = header;
        } else {
            r.section = walk.section;
            if (!HandleItem(ps, r, walk)) return 0;
        }
        r.strategy = walk.strategy;
        CopyString(r.nameSpace, sizeof r.nameSpace, ps.nameSpace, -1);
    }
    /* A settings section that ends the file ends here. */
    FinishSettingsSection(walk);
    return 1;
}

/* ---- pass 3: what needs the whole script ------------------------------------------- */

/* The span of word in the value as a whole word, else the whole value. */
void FindWordSpan(const Parse &ps, const LineRecord &r, const char *word, uint32_t *pOffset, uint32_t *pLength)
{
    size_t n = strlen(word);
    for (uint32_t i = r.valueOffset; n && i + n <= r.valueOffset + r.valueLength; i++) {
        if (CompareNoCaseN(ps.text + i, word, n) != 0) continue;
        bool startOk = i == r.valueOffset || IsTokenDelimiter(ps.text[i - 1]);
        bool endOk = i + n == r.valueOffset + r.valueLength || IsTokenDelimiter(ps.text[i + n]);
        if (startOk && endOk) {
            *pOffset = i;
            *pLength = (uint32_t)n;
            return;
        }
    }
    *pOffset = r.valueOffset;
    *pLength = r.valueLength;
}

int CheckNameClash(Parse &ps, const LineRecord &r)
{
    int s = r.section;
    bool parameter = s == SECTION_PARAMETERS || s == SECTION_WALK_FORWARD;
    if (!parameter && !IsItemSection(s)) return 1;
    if ((s == SECTION_DATA || s == SECTION_TEST_DATA) && CompareNoCase(r.name, "BarSize") == 0) return 1;
    uint32_t found = FindScriptDefinition(r.qualified, nullptr, SECTION_NONE, "");
    if (found && found != (uint32_t)s) {
        int code = found == SECTION_DATA  ? ERR_NAME_IS_DATA
            : found == SECTION_TEST_DATA  ? ERR_NAME_IS_TEST_DATA
            : found == SECTION_STRAT_DATA ? ERR_NAME_IS_STRAT_DATA
                                          : ERR_NAME_IS_LIBRARY;
        return Fail(ps, code, r.nameOffset, r.nameLength);
    }
    if (!parameter && FindParameterName(r.qualified, nullptr, "")) return Fail(ps, ERR_NAME_IS_PARAMETER, r.nameOffset, r.nameLength);
    return 1;
}

int CheckWholeScript(Parse &ps)
{
    for (const LineRecord &r : ps.records) {
        if (FindSectionName(r.name)) continue;
        int s = r.section;
        if ((s == SECTION_TRADES || s == SECTION_SCAN || s == SECTION_TEST_SCAN) && CompareNoCase(r.name, "Sort") == 0) {
            char bad[SORT_LIST_SIZE] = "";
            if (!ResolveColumnList((uint32_t)s, bad, sizeof bad, r.nameSpace)) {
                uint32_t offset = 0, length = 0;
                FindWordSpan(ps, r, bad, &offset, &length);
                return Fail(ps, ERR_SORT_NAME, offset, length);
            }
            continue;
        }
        if (IsStrategySection(s) && CompareNoCase(r.name, "Using") == 0) {
            StrategyRecord *record = StrategyAt(r.strategy);
            int offset = 0, length = (int)r.valueLength;
            int code = record ? ParseUsingList(record, ps.text + r.valueOffset, (int)r.valueLength, &offset, &length) : 0;
            if (code) return Fail(ps, code, r.valueOffset + (uint32_t)offset, (uint32_t)length);
            continue;
        }
        if (!CheckNameClash(ps, r)) return 0;
    }
    return 1;
}

} // namespace

/* ---- interface ----------------------------------------------------------------------- */

void ResetScriptParserState()
{
    GrowText collected = gScriptParser.collectedText;
    GrowText import = gScriptParser.importText;
    gScriptParser = ScriptParserState{};
    collected.length = 0;
    import.length = 0;
    if (collected.text) collected.text[0] = 0;
    if (import.text) import.text[0] = 0;
    gScriptParser.collectedText = collected;
    gScriptParser.importText = import;
}

int SettingsSectionApplies(int section)
{
    if (section == SECTION_SETTINGS) return 1;
    switch (gCompileSession.mode) {
    case RUN_MODE_SCAN: return section == SECTION_SCAN_SETTINGS;
    case RUN_MODE_TEST: return section == SECTION_TEST_SETTINGS;
    case RUN_MODE_OPTIMIZE: return section == SECTION_TEST_SETTINGS || section == SECTION_OPTIMIZE_SETTINGS;
    case RUN_MODE_ORDERS: return section == SECTION_ORDER_SETTINGS;
    default: return 0;
    }
}

int GetSectionLineValue(char *text, int length, char *saved)
{
    int n = 0;
    while (n < length && text[n]) {
        const char *p = text + n;
        if ((p[0] == '/' && (p[1] == '/' || p[1] == '*')) || p[0] == '{' || IsPreprocessorDirectiveAt(p)) break;
        n++;
    }
    while (n > 0 && IsBlank(text[n - 1])) n--;
    *saved = text[n];
    text[n] = 0;
    return n;
}

char *ParseScriptText(const char *path, char *nameSpace)
{
    Parse ps = {};
    ps.path = path;
    ps.nameSpace = nameSpace;
    if (!LoadFile(path, &ps.text, &ps.length)) return nullptr;
    /* Scripts are 8-bit text.  Read as such, a UTF-16 file (what some
    ** editors save as "Unicode") is a run of NULs that parses as an empty
    ** script, and the run would fail later for a reason that misleads. */
    if (IsUtf16Text(ps.text, ps.text + ps.length)) {
        ReportError("%s is saved as UTF-16 (Unicode) text, which a script cannot be; save it as ANSI or UTF-8 text",
                    path);
        FreeMemory(&ps.text);
        return nullptr;
    }
    /* Conditional blocks belong to their file: an included file starts with
    ** none open and leaves the including file's nesting as it found it, so
    ** blocks in an include cannot close the includer's blocks. */
    int32_t nesting = gCompiler.conditionNesting;
    int level = gCompiler.includeDepth;
    gCompiler.conditionNesting = 0;
    if (level >= 0 && level < COMPILER_MAX_FILE_LEVELS)
        memset(gCompiler.conditions[level], 0, sizeof gCompiler.conditions[level]);
    int ok = SplitIntoRecords(ps);
    gCompiler.conditionNesting = nesting;
    ok = ok && WalkSections(ps) && CheckWholeScript(ps);
    if (ok) ok = CollectUpTo(ps, ps.length);
    FreeMemory(&ps.records.items);
    if (!ok) {
        FreeMemory(&ps.text);
        return nullptr;
    }
    return ps.text;
}
