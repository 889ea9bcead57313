/* bookkeeping.cpp -- start and end of an import, list files, the intake of
** bars, storing and logging finished symbols, the ExcludeIf filter and the
** share-class filter. */
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/import/csv_lines.h"
#include "marketdata/import/import_run.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/events.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "services/services.h"

ImportRun gImport;

static const char kMsgNoImportItems[] = "No import path definitions were found in %s";
static const char kMsgDateRange[] = "Import date range error.";
static const char kLogSymbolLine[] = "%s\t%s\t%s\t%d\t%d\t%d\t%d\n";
static const char kLogFiltered[] = "%s\t%s\n";
static const char kLogShareClassHeading[] =
    "\nStocks removed because another class of the same stock has higher average turnover:\n";
static const char kLogShareClassPair[] = "\nremoved\t%s\t%s\nkept\t%s\t%s\n";

const char kRefusedNoDate[] = "no date could be read";
const char kRefusedBadDate[] = "the date is not a calendar day";
const char kRefusedText[] = "a number field holds text";
const char kRefusedMissing[] = "a price is missing";
const char kRefusedInfinite[] = "a number is not finite";
const char kRefusedHighLow[] = "the high is below the low";
const char kRefusedOpenOutside[] = "the open lies outside the low to high range";
const char kRefusedCloseOutside[] = "the close lies outside the low to high range";
const char kRefusedNoSymbol[] = "the symbol is missing";
const char kRefusedPriceMult[] = "a price divided by PriceMult is not finite";
const char kRefusedSplitFactor[] = "the split factor is no finite number above zero";
const char kRefusedAdjusted[] = "a price or the volume adjusted by the split factor is not finite";
static const char kLogRefusedFile[] = "%s was not imported: %s\n";
static const char kMsgPathTooLong[] = "%s file path is too long -- maximum is 260 chars.";
static const char kMsgListOpenQuote[] = "Unable to read the list %s: its header opens a double quote that it does not "
                                        "close, so its columns cannot be told.";
/* A list written with semicolons or tabs reads as one column of whole lines:
** no symbol of it would be one asked for. */
static const char kMsgListOtherDelimiter[] = "Unable to read the list %s: its header \"%s\" is divided by %s, where a "
                                             "CSV list is divided by commas.";
static const char kMsgListNoSymbolColumn[] = "Unable to read the list %s: no column of its header names symbols (a "
                                             "name holding symbol, ticker or underlying).";

enum {
    TURNOVER_BARS = 20,
    SHARE_CLASS_BEFORE = 5, /* neighbours looked at: i - 5 .. i + 4 */
    SHARE_CLASS_AFTER = 4,
    LOG_LINE_SIZE = 2048,
    CSV_LIST_COLUMNS = 32
};

/* ---- the import's tables ------------------------------------------------------------- */

/* Frees the tables of one import; the log and the imported symbols stay. */
static void FreeImportTables()
{
    FreeMemory(&gImport.work);
    FreeMemory(&gImport.excludes);
    FreeMemory(&gImport.infoRows);
    FreeMemory(&gImport.eventRows);
    FreeMemory(&gImport.failedSymbols);
    HashDestroy(gImport.importedKeys);
    HashDestroy(gImport.workKeys);
    gImport.importedKeys = gImport.workKeys = nullptr;
    gImport.workCount = gImport.workCapacity = 0;
    gImport.excludeCount = gImport.excludeCapacity = 0;
    gImport.infoCount = gImport.infoCapacity = 0;
    gImport.infoWildcard = gImport.infoSorted = 0;
    gImport.eventCount = gImport.eventCapacity = 0;
    gImport.storedFrom.clear();
}

void ResetImportRun()
{
    FreeImportTables();
    if (gImport.log) PlatCloseFile(gImport.log);
    gImport.log = nullptr;
    gImport.logWaits = 0;
    gImport.logHeld = std::string();
    gImport.logFailed = 0;
    gImport.count = gImport.capacity = 0;
    gImport.useLock = 0;
    gImport.keptCount = gImport.processedCount = 0;
    gImport.referenceDate = gImport.startDate = gImport.endDate = 0;
    gImport.refusedCount = gImport.refusedLineCount = 0;
    gImport.barCount = 0;
    gImport.progressDone = gImport.progressTotal = 0;
    gImport.progressName[0] = 0;
}

int BeginImport()
{
    if (gImportItems.count == 0) {
        ReportError(kMsgNoImportItems, gSettings.ActiveScript);
        return 0;
    }
    int32_t today = ParseDate(nullptr);
    int32_t start = gImportState.StartDate ? gImportState.StartDate : gSettings.EarliestImportYear * 10000 + 101;
    int32_t end = gImportState.EndDate ? gImportState.EndDate : NextDay(today);
    int32_t days = DaysBetween(start, end) + 1;
    if (days < 1) {
        ReportError(kMsgDateRange);
        return 0;
    }
    if (!CloseDataWindows()) return 0;
    UnloadData();

    PlatFile log = gImport.log;
    int logFailed = gImport.logFailed, logWaits = gImport.logWaits;
    std::string logHeld = std::move(gImport.logHeld);
    gImport.log = nullptr;
    ResetImportRun();
    gImport.log = log;
    gImport.logFailed = logFailed;
    gImport.logWaits = logWaits;
    gImport.logHeld = std::move(logHeld);
    gImport.startDate = start;
    gImport.endDate = end;
    gImport.referenceDate = NextDay(today);

    DateList &calendar = gStore.dateLists[BAR_DAILY];
    if (calendar.capacity < days + 1) {
        if (!ReallocMemory(&calendar.dates, (uint64_t)(days + 1) * sizeof(uint32_t))) return 0;
        calendar.capacity = days + 1;
    }
    int32_t date = start;
    for (int32_t i = 0; i < days; i++, date = NextDay(date)) {
        int32_t mark = -date;
        if (gImportState.Padding == 4)
            mark = date;
        else if (gImportState.Padding == 3 && DayOfWeek(date) <= 5)
            mark = date;
        calendar.dates[i] = (uint32_t)mark;
    }
    calendar.dates[days] = 0;
    calendar.count = days;
    calendar.barSize = BAR_DAILY;

    memset(gStore.constituencyIds, 0, sizeof gStore.constituencyIds);
    int32_t ids = 0;
    for (int32_t row = 0; gConstituencyRequested && row < gConstituencyCount && ids < MAX_CONSTITUENCY_IDS; row++)
        if (gConstituencyRequested[row]) gStore.constituencyIds[ids++] = gConstituency[row].id;

    gImport.importedKeys = HashCreate();
    gImport.workKeys = HashCreate();
    if (!gImport.importedKeys || !gImport.workKeys) return 0;
    if (!AllocMemory(&gImport.failedSymbols, FAILED_SYMBOLS_SIZE)) return 0;
    gStore.firstDate = FIRST_USED_NONE;
    gStore.lastDate = 0;
    gStore.maxDailyBars = 0;
    gStore.keepAdjusted = gImportState.KeepAdjusted;
    gStore.fundamentalsCount = gImportState.fundamentalCount;

    EnterRunState(RUN_IMPORT);
    EnableSettingsPanelControls(1);
    UpdateDebugPanelControls();
    ResetStatusBar(0);
    PostFrameRefresh();
    return 1;
}

/* ---- refused input ------------------------------------------------------------------- */

/* One line to the import log and the console echo. */
static void ReportLine(const char *line)
{
    LogImportMessage("%s", line);
    if (gConsoleEcho) gConsoleEcho(2, line);
}

int FormatRefusedNumbers(char *out, size_t size, const RefusedLines *refused, const char *unit)
{
    int n = 0;
    out[0] = 0;
    const int shown = refused->count < REFUSED_LINES_SHOWN ? refused->count : REFUSED_LINES_SHOWN;
    for (int k = 0; k < shown; k++) {
        if (unit)
            n += FormatText(out + n, size - (size_t)n, "%s%s %d (%s)", k ? ", " : "", unit, (int)refused->lines[k],
                            refused->reasons[k]);
        else
            n += FormatText(out + n, size - (size_t)n, "%s%d", k ? ", " : "", (int)refused->lines[k]);
    }
    if (refused->count > shown) n += FormatText(out + n, size - (size_t)n, " and %d more", refused->count - shown);
    return n;
}

void ReportRefusedLines(const char *file, const RefusedLines *refused, const char *unit)
{
    if (refused->count < 1) return;
    __atomic_add_fetch(&gImport.refusedLineCount, refused->count, __ATOMIC_RELAXED);
    char line[LOG_LINE_SIZE], path[LOG_LINE_SIZE / 2];
    int n = FormatText(line, sizeof line, "%s: %d %s%s not read as bars: ", PathAsShown(file, path, sizeof path),
                       refused->count, unit, refused->count == 1 ? "" : "s");
    n += FormatRefusedNumbers(line + n, sizeof line - (size_t)n, refused, unit);
    FormatText(line + n, sizeof line - (size_t)n, "\n");
    ReportLine(line);
}

void ReportImportNote(const char *file, const char *format, ...)
{
    char line[LOG_LINE_SIZE], shown[LOG_LINE_SIZE / 2];
    int n = FormatText(line, sizeof line, "%s: ", PathAsShown(file, shown, sizeof shown));
    va_list args;
    va_start(args, format);
    FormatTextV(line + n, sizeof line - (size_t)n, format, args);
    va_end(args);
    ReportLine(line);
}

void NoteBytesPastCount(const char *file, uint64_t size, uint64_t announced, int64_t records, const char *counter)
{
    if (size <= announced) return;
    ReportImportNote(file, "%llu byte%s past the %lld record%s %s announces %s not read\n",
                     (unsigned long long)(size - announced), size - announced == 1 ? "" : "s", (long long)records,
                     records == 1 ? "" : "s", counter, size - announced == 1 ? "was" : "were");
}

void ReportRefusedText(const char *format, ...)
{
    char line[LOG_LINE_SIZE];
    va_list args;
    va_start(args, format);
    FormatTextV(line, sizeof line, format, args);
    va_end(args);
    __atomic_add_fetch(&gImport.refusedCount, 1, __ATOMIC_RELAXED);
    ReportLine(line);
}

void ReportRefusedFile(const char *file, const char *format, ...)
{
    char reason[LOG_LINE_SIZE / 2], line[LOG_LINE_SIZE], shown[LOG_LINE_SIZE / 2];
    va_list args;
    va_start(args, format);
    FormatTextV(reason, sizeof reason, format, args);
    va_end(args);
    __atomic_add_fetch(&gImport.refusedCount, 1, __ATOMIC_RELAXED);
    FormatText(line, sizeof line, kLogRefusedFile, PathAsShown(file, shown, sizeof shown), reason);
    ReportLine(line);
}

int ComposeImportPath(char *out, const char *name, const char *format, ...)
{
    /* Composed in a larger buffer first, so that a cut can be seen. */
    char full[4 * PATH_SIZE];
    va_list args;
    va_start(args, format);
    FormatTextV(full, sizeof full, format, args);
    va_end(args);
    CopyString(out, PATH_SIZE, full, -1);
    if (!PathTooLong(full)) return 1;
    char line[LOG_LINE_SIZE], shown[LOG_LINE_SIZE / 2];
    FormatText(line, sizeof line - 1, kMsgPathTooLong, PathAsShown(name, shown, sizeof shown));
    __atomic_add_fetch(&gImport.refusedCount, 1, __ATOMIC_RELAXED);
    int length = (int)strlen(line);
    line[length] = '\n';
    line[length + 1] = 0;
    ReportLine(line);
    return 0;
}

int IsCalendarDate(int32_t date)
{
    if (date < DATE_FIRST_VALID || date > DATE_LAST_VALID) return 0;
    int day = DateDay(date);
    return day >= 1 && day <= DaysInMonth(DateYear(date), DateMonth(date));
}

/* ---- list files ------------------------------------------------------------------------ */

static int TakeListSymbol(const ImportItem *item, char *symbol)
{
    size_t length = strlen(symbol);
    TrimSymbolText(symbol, &length);
    if (length == 0) return 1;
    if (item->kind == IMPKW_EXCLUDE_LIST) return AddExcludePattern(symbol, item->blockNumber) || !gOutOfMemory.load();
    return AddSymbolToImportList(symbol, item->blockNumber, item->listNumber, item->listFlag) != nullptr ||
        !gOutOfMemory.load();
}

static int IsListSeparator(char c)
{
    return c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '(' || c == ')' || c == ',';
}

int ReadImportListFile(const ImportItem *item)
{
    char *text = nullptr;
    uint32_t size = 0;
    int ok = 1;
    if (!PlatFileExists(item->value) && !strchr(item->value, '\\')) {
        size = (uint32_t)strlen(item->value);
        if (!AllocMemory(&text, size + 4)) return 0;
        memcpy(text, item->value, size);
    } else if (FindTextNoCase(item->value, ".csv")) {
        int lines = 0;
        if (!LoadLinesText(item->value, &text, &lines)) return 0;
        int symbolColumn[CSV_LIST_COLUMNS] = {};
        int symbolColumns = 0;
        char *cursor = text, *line;
        int lineNumber = 0;
        while (ok && (line = TakeTextLine(&cursor)) != nullptr) {
            lineNumber++;
            /* Each line's quotes are its own, as in the other CSV files: a
            ** quote left open costs its line, never the lines after it. */
            if (!UnquoteLine(line, ',')) {
                if (lineNumber == 1) {
                    ReportError(kMsgListOpenQuote, item->value);
                    ok = 0;
                } else {
                    ReportImportNote(item->value, kNoteOpenQuote, lineNumber);
                }
                continue;
            }
            if (lineNumber > 1 && !symbolColumns) {
                /* Lines without a column to read are no list: one read as
                ** none would import nothing, or exclude nothing. */
                const char *p = line;
                while (isspace((unsigned char)*p)) p++;
                if (*p) {
                    ReportError(kMsgListNoSymbolColumn, item->value);
                    ok = 0;
                }
                continue;
            }
            int column = 0;
            char *field = line;
            while (column < CSV_LIST_COLUMNS) {
                char *comma = strchr(field, ',');
                if (comma) *comma = 0;
                if (lineNumber == 1) {
                    symbolColumn[column] = FindTextNoCase(field, "symbol") || FindTextNoCase(field, "ticker") ||
                        FindTextNoCase(field, "underlying");
                    symbolColumns += symbolColumn[column];
                    const char *other = strchr(field, ';') ? "semicolons" : strchr(field, '\t') ? "tabs" : nullptr;
                    if (symbolColumn[column] && other) {
                        ReportError(kMsgListOtherDelimiter, item->value, field, other);
                        ok = 0;
                        break;
                    }
                } else if (symbolColumn[column]) {
                    ok = TakeListSymbol(item, field);
                }
                column++;
                if (!comma) break;
                field = comma + 1;
            }
        }
        FreeMemory(&text);
        return ok;
    } else if (!LoadTextFile(item->value, &text, &size)) {
        return 0;
    }
    char *p = text;
    char *end = text + size;
    while (ok && p < end) {
        while (p < end && IsListSeparator(*p)) p++;
        char *word = p;
        while (p < end && !IsListSeparator(*p)) p++;
        if (p == word) break;
        char saved = *p;
        *p = 0;
        ok = TakeListSymbol(item, word);
        *p = saved;
    }
    FreeMemory(&text);
    return ok;
}

/* ---- bars --------------------------------------------------------------------------------- */

void MarkMarketDay(int32_t date)
{
    DateList &calendar = gStore.dateLists[BAR_DAILY];
    int32_t *days = (int32_t *)calendar.dates;
    int32_t *found = nullptr;
    /* Workers of an online import mark the days of their own symbols at the
    ** same time: every read and write of a day goes through an atomic, and
    ** each writer stores the same whole value. */
    auto day = [&](int32_t k) { return __atomic_load_n(&days[k], __ATOMIC_RELAXED); };
    /* The calendar holds every day from the start, so the day's place is
    ** its distance from the first; the search is the fallback.  A symbol's
    ** bars come mostly in order, so the distance is carried from the last
    ** bar of the same month when there is one. */
    int32_t first = calendar.count > 0 ? day(0) : 0;
    thread_local int32_t lastFirst, lastDate, lastAt;
    int32_t at;
    if (calendar.count > 0 && first == lastFirst && lastDate && date / 100 == lastDate / 100)
        at = lastAt + (date - lastDate);
    else
        at = calendar.count > 0 ? DaysBetween(first < 0 ? -first : first, date) : -1;
    lastFirst = first, lastDate = date, lastAt = at;
    if (at >= 0 && at < calendar.count && (day(at) == date || day(at) == -date)) {
        found = &days[at];
    } else {
        int32_t lo = 0, hi = calendar.count - 1;
        while (lo <= hi && !found) {
            int32_t mid = lo + (hi - lo) / 2, v = day(mid), a = v < 0 ? -v : v;
            if (a == date)
                found = &days[mid];
            else if (a < date)
                lo = mid + 1;
            else
                hi = mid - 1;
        }
    }
    if (found && __atomic_load_n(found, __ATOMIC_RELAXED) < 0) __atomic_store_n(found, date, __ATOMIC_RELAXED);
}

static int FinitePrices(const Bar *bar)
{
    return std::isfinite(bar->open) && std::isfinite(bar->high) && std::isfinite(bar->low) && std::isfinite(bar->close);
}

void ApplySplitRatios(Bar *bars, int32_t n, LineSplit *splits, size_t count)
{
    std::vector<int32_t> order((size_t)n);
    for (int32_t i = 0; i < n; i++) order[(size_t)i] = i;
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return bars[a].date < bars[b].date; });
    std::stable_sort(splits, splits + count, [](const LineSplit &a, const LineSplit &b) { return a.date < b.date; });
    size_t later = count;
    double product = 1.0;
    for (int32_t k = n - 1; k >= 0; k--) {
        Bar &bar = bars[order[(size_t)k]];
        for (; later > 0 && splits[later - 1].date > bar.date; later--) {
            const LineSplit &s = splits[later - 1];
            if (s.date >= gImport.startDate && s.date <= gImport.endDate) product *= s.ratio;
        }
        bar.split *= product;
    }
}

int AddBar(SymbolRecord *record, Bar *bar, double adjusted, double unadjusted, double dividend, int mark,
           int plainPrices, const char **refusal)
{
    const char *unused;
    if (!refusal) refusal = &unused;
    *refusal = nullptr;
    if (bar->date < gImport.startDate || bar->date > gImport.endDate) return 0;
    /* Whatever a source sent, a bar is a day of the calendar with finite
    ** prices and volume: the readers refuse other lines first and say why,
    ** this keeps every source to it (a NaN volume would make every volume
    ** average of the symbol NaN). */
    if (!IsCalendarDate(bar->date)) {
        *refusal = kRefusedBadDate;
        return 0;
    }
    if (!FinitePrices(bar) || !std::isfinite(bar->volume)) {
        *refusal = kRefusedInfinite;
        return 0;
    }
    if (gImportState.NoWeekends && DayOfWeek(bar->date) >= 6) return 0;
    int contract = record->dataSource == SOURCE_CSI_FUTURES && dividend >= 10000101.0 && dividend <= 99991231.0;
    double mult = record->info.PriceMult;
    int changed = 0; /* a price was computed here, not read */
    if (mult != 0.0 && mult != 1.0) {
        changed = 1;
        bar->open /= mult;
        bar->high /= mult;
        bar->low /= mult;
        bar->close /= mult;
        const int futures = record->dataSource == SOURCE_CSI_FUTURES;
        if (futures) bar->extra /= mult;
        /* The information readers refuse a divisor that is no positive
        ** number; a tiny one can still carry a price past the finite. */
        if (!FinitePrices(bar) || (futures && !std::isfinite(bar->extra))) {
            *refusal = kRefusedPriceMult;
            return 0;
        }
    }
    if (bar->open == 0.0 && bar->high == 0.0 && bar->low == 0.0) {
        if (bar->close == 0.0) {
            if (record->info.Symbol[0] != '#') return 0;
        } else {
            bar->open = bar->high = bar->low = bar->close;
        }
    }
    /* Whatever the source, a bar stored holds its open and close inside its
    ** range: a price no column held (read as 0) or made up would fire every
    ** stop and give every trade on the bar a price it never had. */
    if (const char *fault = PriceShapeFault(bar, 1, 1)) {
        *refusal = fault;
        return 0;
    }
    double raw = contract ? 0.0 : unadjusted;
    if (bar->split == 0.0) {
        if (raw == 0.0 && adjusted == 0.0) {
            bar->split = 1.0;
        } else {
            double f = 1.0;
            if (record->securityType == SECURITY_STOCK) {
                if (raw != 0.0 && adjusted != 0.0)
                    f = raw / adjusted;
                else if (raw != 0.0)
                    f = bar->close != 0.0 ? raw / bar->close : 1.0; /* no factor over a zero close */
                else
                    f = adjusted != 0.0 ? bar->close / adjusted : 1.0;
            }
            if (raw != 0.0) {
                changed = 1;
                bar->open *= f;
                bar->high *= f;
                bar->low *= f;
                bar->close *= f;
                bar->volume /= f;
            }
            bar->split = f;
        }
    }
    /* Closes far apart give a factor past the finite, or of 0 (which would
    ** divide the volume by 0), and a close below zero one below zero (which
    ** would turn the high below the low); a source's own factors can
    ** multiply to one. */
    if (!std::isfinite(bar->split) || !(bar->split > 0.0)) {
        *refusal = kRefusedSplitFactor;
        return 0;
    }
    if (gImportState.KeepAdjusted) {
        bar->extra = bar->close;
        if (record->securityType == SECURITY_STOCK && bar->split != 0.0) {
            changed |= bar->split != 1.0;
            bar->open /= bar->split;
            bar->high /= bar->split;
            bar->low /= bar->split;
            bar->close /= bar->split;
            bar->volume *= bar->split;
            bar->split = 1.0;
        }
    }
    /* A finite factor can still carry a price or the volume past it. */
    if (changed && (!FinitePrices(bar) || !std::isfinite(bar->volume))) {
        *refusal = kRefusedAdjusted;
        return 0;
    }
    if (!plainPrices || changed) {
        bar->open = StoredPrice(bar->open);
        bar->high = StoredPrice(bar->high);
        bar->low = StoredPrice(bar->low);
        bar->close = StoredPrice(bar->close);
    }
    /* Rounding leaves a factor of 1 as it is, and most bars have it. */
    if (bar->split != 1.0) bar->split = RoundSignificant(bar->split, 6);
    if (dividend != 0.0) {
        if (contract) {
            SetEventItem(record, bar->date, 0, EVENT_CONTRACT, dividend);
            if (unadjusted != 0.0) SetEventItem(record, bar->date, 0, EVENT_CONTRACT_SECOND, unadjusted);
        } else {
            double value = raw != 0.0 ? dividend * bar->split : dividend;
            SetEventItem(record, bar->date, 0, EVENT_DIVIDEND, RoundSignificant(value, 7));
        }
    }
    if (bar->date < record->firstDate || record->firstDate == 0) record->firstDate = bar->date;
    if (bar->date > record->lastDate) record->lastDate = bar->date;
    if (bar->time == 0) bar->time = gSettings.ImportBarTime;
    if (mark) MarkMarketDay(bar->date);
    return 1;
}

void SortBars(SymbolRecord *record)
{
    int32_t n = record->barCounts[BAR_DAILY];
    if (n < 1) return;
    if (record->dailyCapacity < n + 1) {
        if (!ReallocMemory(&record->bars[BAR_DAILY], (uint64_t)(n + 1) * sizeof(Bar))) return;
        record->dailyCapacity = n + 1;
    }
    Bar *bars = record->bars[BAR_DAILY];
    /* Stable, so that of two bars with one date and time the later arrival
    ** stays last in its run and is the one kept. */
    int ordered = 1;
    for (int32_t i = 1; i < n && ordered; i++) ordered = CompareBarDateTime(&bars[i - 1], &bars[i]) < 0;
    if (!ordered)
        std::stable_sort(bars, bars + n, [](const Bar &a, const Bar &b) { return CompareBarDateTime(&a, &b) < 0; });
    int32_t kept = 0;
    for (int32_t i = 0; i < n; i++) {
        if (i + 1 < n && CompareBarDateTime(&bars[i], &bars[i + 1]) == 0) continue;
        bars[kept++] = bars[i];
    }
    record->barCounts[BAR_DAILY] = kept;
    if (record->eventCount > 1)
        std::stable_sort(record->events, record->events + record->eventCount,
                         [](const EventItem &a, const EventItem &b) { return CompareBarDateTime(&a, &b) < 0; });
    record->firstDate = bars[0].date;
    record->lastDate = bars[kept - 1].date;
}

/* Split factor of the daily bar dated date, 0 when there is none. */
static double SplitOnDate(const SymbolRecord *record, int32_t date)
{
    const Bar *bars = record->bars[BAR_DAILY];
    int32_t lo = 0, hi = record->barCounts[BAR_DAILY] - 1;
    while (lo <= hi) {
        int32_t mid = (lo + hi) / 2;
        if (bars[mid].date == date) return bars[mid].split;
        if (bars[mid].date < date)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return 0.0;
}

int FinishSymbol(SymbolRecord *record, ImportWorkItem *item)
{
    if (record->barCounts[BAR_DAILY] < 1) return 0;
    int32_t rows = 0;
    const EventListRow *row = FindSymbolEvents(record->info.Symbol, &rows);
    for (int32_t r = 0; r < rows; r++, row++) {
        int32_t date = row->date, time = row->time;
        double value = row->value;
        if (row->kind == EVENT_DIVIDEND) {
            if (date < record->firstDate || date > record->lastDate) continue;
            double split = SplitOnDate(record, date);
            if (split != 0.0) value *= split;
            time = 0;
        } else if (row->kind < EVENT_DIVIDEND && date < record->firstDate) {
            date = record->firstDate;
            time = 0;
        }
        if (date < record->firstDate || date > record->lastDate) continue;
        if (!SetEventItem(record, date, time, row->kind, value)) return -1;
    }
    row = FindSymbolEvents("*", &rows);
    for (int32_t r = 0; r < rows; r++, row++)
        if (row->date >= record->firstDate && row->date <= record->lastDate)
            if (!SetEventItem(record, row->date, row->time, row->kind, row->value)) return -1;
    if (record->eventCount > 1)
        std::stable_sort(record->events, record->events + record->eventCount,
                         [](const EventItem &a, const EventItem &b) { return CompareBarDateTime(&a, &b) < 0; });
    if (gStore.fundamentalsCount > 0 && !record->fundamentals)
        if (!AllocMemory(&record->fundamentals, (uint64_t)gStore.fundamentalsCount * sizeof(FundamentalItem))) return -1;

    std::unique_lock<std::mutex> guard(gImport.lock, std::defer_lock);
    if (gImport.useLock) guard.lock();
    /* One symbol is stored once: a second that becomes it (an information
    ** row that renames it, two workers on two spellings) is named and not
    ** stored, so no data file holds two records of one symbol. */
    char key[IMPORT_KEY_SIZE];
    MakeSymbolKey(record->info.Symbol, 0, key);
    if (gImport.importedKeys && HashLookup(gImport.importedKeys, key)) {
        if (guard.owns_lock()) guard.unlock();
        ReportRefusedFile(record->info.Symbol, "a symbol of that name was imported before it");
        return 0;
    }
    int result = LogSymbolLine(record);
    if (result > 0 && item) item->imported = 1;
    return result;
}

int LogSymbolLine(SymbolRecord *record)
{
    if (gImport.count + 2 > gImport.capacity) {
        int32_t capacity = gImport.capacity + IMPORT_GROWTH;
        if (!ReallocMemory(&gStore.symbols, (uint64_t)capacity * sizeof(SymbolRecord))) return -1;
        gImport.capacity = capacity;
    }
    SymbolRecord *slot = &gStore.symbols[gImport.count];
    memcpy((void *)slot, record, sizeof *record);
    memset((void *)record, 0, sizeof *record);
    gImport.count++;
    char key[IMPORT_KEY_SIZE];
    MakeSymbolKey(slot->info.Symbol, 0, key);
    HashInsert(gImport.importedKeys, key, (uint64_t)gImport.count);
    int32_t daily = slot->barCounts[BAR_DAILY];
    if (slot->firstDate < gStore.firstDate) gStore.firstDate = slot->firstDate;
    if (slot->lastDate > gStore.lastDate) gStore.lastDate = slot->lastDate;
    if (daily > gStore.maxDailyBars) gStore.maxDailyBars = daily;
    __atomic_add_fetch(&gImport.barCount, daily, __ATOMIC_RELAXED);
    slot->firstUsedDate = FIRST_USED_NONE;
    if (ImportLogKept()) {
        char first[DATE_TEXT_SIZE], last[DATE_TEXT_SIZE];
        FormatDefaultDate(slot->firstDate, first);
        FormatDefaultDate(slot->lastDate, last);
        /* The caller holds the import lock, so the line is written directly. */
        char line[LOG_LINE_SIZE];
        int n = FormatText(line, sizeof line, kLogSymbolLine, slot->info.Symbol, first, last, daily,
                           CountEventKinds(slot, EVENT_DIVIDEND, EVENT_DIVIDEND),
                           CountEventKinds(slot, INT32_MIN, EVENT_DIVIDEND - 1), CountEventKinds(slot, 0, INT32_MAX));
        WriteImportLog(line, (uint32_t)n);
    }
    __atomic_add_fetch(&gImport.keptCount, 1, __ATOMIC_RELAXED); /* the status line reads it while workers run */
    return daily;
}

void WriteImportLog(const char *text, uint32_t size)
{
    if (gImport.logWaits)
        gImport.logHeld.append(text, size);
    else
        WriteLogData(gImport.log, text, size, gImportState.LogFile, &gImport.logFailed);
}

void LogImportMessage(const char *format, ...)
{
    if (!ImportLogKept()) return;
    char line[LOG_LINE_SIZE];
    va_list args;
    va_start(args, format);
    int n = FormatTextV(line, sizeof line, format, args);
    va_end(args);
    std::unique_lock<std::mutex> guard(gImport.lock, std::defer_lock);
    if (gImport.useLock) guard.lock();
    WriteImportLog(line, (uint32_t)n);
}

int LogSymbolFiltered(SymbolRecord *record, int slot)
{
    FormulaSlot *formula = &gImportFilter.formula;
    if (formula->count == 0 || !formula->nodes[0]) return 0;
    int32_t bars = record->barCounts[BAR_DAILY];
    EvalContext context;
    memset(&context, 0, sizeof context);
    context.symbol = record;
    context.slot = slot;
    context.barSize = BAR_DAILY;
    context.barPhase = PHASE_CLOSE;
    context.barIndex = bars - 1;
    context.lastBar = bars - 1;
    context.date = bars > 0 ? record->bars[BAR_DAILY][bars - 1].date : 0;
    context.strategyIndex = -1;
    context.resultRow = -1;
    context.funBar = -1;
    context.walkForwardInterval = -1;
    context.dataItemIndex = -1;
    context.importFlag = 1;
    double value = 0.0;
    EvalFormulaSlot(formula, &context, &value);
    if (!std::isfinite(value) || CompareDouble(value, 0.0) == 0) return 0;
    LogImportMessage(kLogFiltered, record->info.Symbol, bars > 0 ? "was filtered" : "no bars in date range");
    return 1;
}

int IsInIncludeList(const char *symbol, int list)
{
    char id[IMPORT_SYMBOL_SIZE], key[IMPORT_KEY_SIZE];
    CopyString(id, sizeof id, symbol, IMPORT_SYMBOL_SIZE - 1);
    MakeIdentifier(id);
    MakeSymbolKey(id, 0, key);
    /* Other workers insert keys while this one looks: the lookup is made
    ** under the import lock. */
    std::unique_lock<std::mutex> guard(gImport.lock, std::defer_lock);
    if (gImport.useLock) guard.lock();
    uint64_t position = gImport.importedKeys ? HashLookup(gImport.importedKeys, key) : 0;
    if (!position) return 0;
    if (list >= 1 && list <= IMPORT_LISTS) {
        SymbolRecord *record = &gStore.symbols[position - 1];
        if (position > (uint64_t)gImport.count || CompareNoCase(record->info.Symbol, id) != 0) {
            record = nullptr;
            for (int32_t i = 0; i < gImport.count && !record; i++)
                if (CompareNoCase(gStore.symbols[i].info.Symbol, id) == 0) record = &gStore.symbols[i];
        }
        if (record) record->info.includeLists[list - 1] = 1;
    }
    return 1;
}

/* The key of the stored-from table: the imported symbols' own key of the
** symbol's identifier (out: id). */
static std::string StoredKey(const char *symbol, char id[IMPORT_SYMBOL_SIZE])
{
    char key[IMPORT_KEY_SIZE];
    CopyString(id, IMPORT_SYMBOL_SIZE, symbol, IMPORT_SYMBOL_SIZE - 1);
    MakeIdentifier(id);
    MakeSymbolKey(id, 0, key);
    return key;
}

void NoteStoredFrom(const char *symbol, const char *file)
{
    char id[IMPORT_SYMBOL_SIZE];
    gImport.storedFrom[StoredKey(symbol, id)] = file;
}

int RefuseImportedAlready(const char *file, const char *symbol, int list)
{
    if (!IsInIncludeList(symbol, list)) return 0;
    char id[IMPORT_SYMBOL_SIZE];
    auto from = gImport.storedFrom.find(StoredKey(symbol, id));
    if (from == gImport.storedFrom.end()) {
        ReportRefusedFile(file, "it becomes the symbol %s, which an earlier source imported", id);
    } else {
        char shown[PATH_SIZE * 2];
        ReportRefusedFile(file, "it becomes the symbol %s, which was imported from %s", id,
                          PathAsShown(from->second.c_str(), shown, sizeof shown));
    }
    return 1;
}

/* ---- share classes ----------------------------------------------------------------------- */

int CompareByNameThenSymbol(const void *a, const void *b)
{
    const SymbolRecord *x = (const SymbolRecord *)a, *y = (const SymbolRecord *)b;
    int c = CompareNoCase(x->info.Name, y->info.Name);
    return c ? c : CompareNoCase(x->info.Symbol, y->info.Symbol);
}

static double Turnover(const SymbolRecord *record)
{
    int32_t n = record->barCounts[BAR_DAILY];
    double sum = 0.0;
    for (int32_t i = n > TURNOVER_BARS ? n - TURNOVER_BARS : 0; i < n; i++)
        sum += record->bars[BAR_DAILY][i].close * record->bars[BAR_DAILY][i].volume;
    return sum;
}

/* Length of the part of name before its share-class marker, or -1. */
static int ShareClassPrefix(const char *name)
{
    size_t len = strlen(name);
    if (len > 4 && (CompareNoCase(name + len - 4, " ETF") == 0 || CompareNoCase(name + len - 4, " ETN") == 0))
        return -1;
    const char *marker = FindTextNoCase(name, " class ");
    if (!marker) marker = FindTextNoCase(name, " series ");
    if (!marker) marker = FindTextNoCase(name, " n-vtg ");
    if (!marker) return -1;
    for (const char *p = name; p < marker; p++)
        if (isalpha((unsigned char)*p)) return (int)(marker - name);
    return -1;
}

void RemoveRedundantShareClasses()
{
    if (gImport.count < 2) return;
    qsort(gStore.symbols, (size_t)gImport.count, sizeof(SymbolRecord), CompareByNameThenSymbol);
    for (int32_t i = 0; i < gImport.count; i++) gStore.symbols[i].shareClassMark = 0;
    int headed = 0;
    int32_t i = 0;
    while (i < gImport.count) {
        const SymbolRecord *self = &gStore.symbols[i];
        int prefix = ShareClassPrefix(self->info.Name);
        if (prefix < 0) {
            i++;
            continue;
        }
        int32_t best = i;
        double bestTurnover = Turnover(self);
        for (int32_t j = i - SHARE_CLASS_BEFORE; j <= i + SHARE_CLASS_AFTER; j++) {
            if (j == i || j < 0 || j >= gImport.count || gStore.symbols[j].shareClassMark) continue;
            const SymbolInfo &other = gStore.symbols[j].info;
            /* The prefix must end a word of the other name, so "Acme Corp"
            ** never takes in "Acme Corporation". */
            char next = other.Name[prefix];
            if (CompareNoCaseN(other.Name, self->info.Name, (size_t)prefix) != 0 || (int)strlen(other.Name) < prefix ||
                isalnum((unsigned char)next))
                continue;
            if (CompareNoCase(other.Exchange, self->info.Exchange) != 0) continue;
            double turnover = Turnover(&gStore.symbols[j]);
            if (turnover > bestTurnover) {
                gStore.symbols[best].shareClassMark = 1;
                best = j;
                bestTurnover = turnover;
            } else {
                gStore.symbols[j].shareClassMark = 1;
            }
        }
        char keptSymbol[IMPORT_SYMBOL_SIZE], keptName[80];
        CopyString(keptSymbol, sizeof keptSymbol, gStore.symbols[best].info.Symbol, -1);
        CopyString(keptName, sizeof keptName, gStore.symbols[best].info.Name, -1);
        int32_t removedUpToI = 0;
        for (int32_t k = i + SHARE_CLASS_AFTER; k >= i - SHARE_CLASS_BEFORE; k--) {
            if (k < 0 || k >= gImport.count || !gStore.symbols[k].shareClassMark) continue;
            if (ImportLogKept()) {
                if (!headed++) LogImportMessage(kLogShareClassHeading);
                LogImportMessage(kLogShareClassPair, gStore.symbols[k].info.Symbol, gStore.symbols[k].info.Name, keptSymbol,
                                 keptName);
            }
            FreeSymbolRecord(&gStore.symbols[k]);
            memmove((void *)&gStore.symbols[k], &gStore.symbols[k + 1], sizeof(SymbolRecord) * (size_t)(gImport.count - k));
            gImport.count--;
            if (k <= i) removedUpToI++;
        }
        /* Removals at or before i moved the records after it up; the walk
        ** goes on with the first record that followed i. */
        i = i + 1 - removedUpToI;
    }
}

int IsFuturesContractSymbol(const SymbolRecord *record, const char **suffix)
{
    const char *symbol = record->info.Symbol;
    const char *sep = strchr(symbol, '-');
    if (!sep) sep = strchr(symbol, '_');
    if (!sep || strlen(sep) != 6 || !isupper((unsigned char)sep[5])) return 0;
    int year = atoi(sep + 1);
    if (year < 1000 || year > 3000) return 0;
    if (suffix) *suffix = sep;
    return 1;
}

/* ---- end of an import ---------------------------------------------------------------- */

void ReportImportMisses(int result)
{
    gStore.fileVersion = DATA_FILE_VERSION;
    gStore.keepAdjusted = gImportState.KeepAdjusted;
    gStore.fundamentalsCount = gImportState.fundamentalCount;
    if (result == 1 && ImportLogKept()) {
        int headed = 0;
        for (int32_t r = 0; r < gImport.eventCount; r++) {
            const EventListRow &row = gImport.eventRows[r];
            if (!row.symbol[0] || strcmp(row.symbol, "*") == 0) continue;
            int number = FindSymbolIndex(row.symbol);
            if (number) {
                SymbolRecord *record = &gStore.symbols[number - 1];
                if (SplitOnDate(record, row.date) != 0.0) continue;
            }
            if (!headed++) LogImportMessage("\nEventList symbols/dates not found in imported data:\n");
            char date[DATE_TEXT_SIZE];
            FormatDefaultDate(row.date, date);
            if (number)
                LogImportMessage("%s has no bar for %s\n", row.symbol, date);
            else
                LogImportMessage("%s was not imported\n", row.symbol);
        }
        headed = 0;
        for (int32_t w = 0; w < gImport.workCount; w++) {
            const ImportWorkItem &item = gImport.work[w];
            /* A symbol only a price file named was no list's request: the
            ** file's own report says why it gave nothing. */
            if (item.fromFile || FindSymbolIndex(item.saveAs)) continue;
            if (!headed++) LogImportMessage("\nIncludeList symbols not imported:\n");
            LogImportMessage("%s\tlist %d\n", item.saveAs, (int)item.list);
        }
        headed = 0;
        for (int32_t r = 0; r < gImport.infoCount; r++) {
            const SymbolInfo &info = gImport.infoRows[r];
            const char *symbol = info.Symbol;
            if (strchr(symbol, '*') || strchr(symbol, '?') || FindSymbolIndex(symbol)) continue;
            /* A CSI forex file is stored under the symbol its row gives. */
            if (strcmp(info.Type, "Forex") == 0 && info.InduIndex[0] && FindSymbolIndex(info.InduIndex)) continue;
            if (!headed++) LogImportMessage("\nSymInfo symbols not imported:\n");
            LogImportMessage("%s\n", symbol);
        }
        char shown[LOG_LINE_SIZE / 2];
        LogImportMessage("\nSaved As %s\n", PathAsShown(gImportState.SaveAs, shown, sizeof shown));
    }
    FreeImportTables();
    if (result == 0 || gRun.state.load() == RUN_STOP_REQUESTED) {
        gImport.count = gImport.capacity = 0;
        UnloadData();
    }
    gImport.count = gImport.capacity = 0;
    SetTestDateRange(&gStore.dateLists[BAR_DAILY], nullptr, nullptr);
    BuildCalendarSymbol();
    gImportItems.count = 0;
    gRun.state.store(RUN_IDLE);
    EnableSettingsPanelControls(0);
    UpdateDebugPanelControls();
    ResetStatusBar(0);
    SetFrameTitle(nullptr);
}
