/* walk_forward.cpp -- time units on the trading calendar, the record of each
** interval's best values and the WalkForward section written from it. */
#include "engine/walk_forward.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/optimizer.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/path_macros.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/strategy.h"
#include "services/services.h"

static const char kIntervalAfterRange[] = "Walk-forward interval %d of %d begins on %s, after the optimization's last date %s.";
static const char kNoOutOfSampleDate[] =
    "Walk-forward interval %d of %d ends on %s, the last date of the data: no out-of-sample date follows it.%s";
static const char kIntervalOutOfOrder[] =
    "Walk-forward interval %d of %d ends on %s, no later than interval %d: their out-of-sample dates would not follow each other.%s";
static const char kIntervalWithoutBar[] =
    "Walk-forward interval %d of %d, %s to %s, holds no bar of the run's bar size (%s) to test it on.";
static const char kNoOutOfSampleTest[] =
    "No out-of-sample test: the run ends on %s, before the first out-of-sample date %s.";
static const char kEndAnchorNote[] = "  OptAnchor: End ends every interval on the optimization's last date.";

static const DateList *DailyDates()
{
    return &gStore.dateLists[BAR_DAILY];
}

int32_t CountTimeUnits(int unit)
{
    int32_t from = gOptimizer.rangeStart, to = gOptimizer.rangeEnd;
    switch (unit) {
    case TIME_UNIT_DAYS: return CountTradingDays(DailyDates(), from, to);
    case TIME_UNIT_WEEKS: {
        if (from > to || !DayOfWeek(from) || !DayOfWeek(to)) return 0;
        int32_t fridays = 0;
        for (int32_t d = from; d && d <= to; d = NextDay(d))
            if (DayOfWeek(d) == 5) fridays++;
        return fridays;
    }
    case TIME_UNIT_MONTHS:
        return (DateYear(to) * 12 + DateMonth(to)) - (DateYear(from) * 12 + DateMonth(from));
    case TIME_UNIT_YEARS: return DateYear(to) - DateYear(from);
    default: return 0;
    }
}

int32_t PeriodKey(int32_t date, int unit)
{
    switch (unit) {
    case TIME_UNIT_DAYS: return DateDay(date);
    case TIME_UNIT_WEEKS: return WeekOfYear(date);
    case TIME_UNIT_MONTHS: return DateMonth(date);
    case TIME_UNIT_YEARS: return DateYear(date);
    default: return 0;
    }
}

int32_t AdvanceTimeUnits(int unit, int32_t n)
{
    int32_t date = gOptimizer.intervalStart;
    /* Without a unit no period ever begins, so the count could never be reached. */
    if (n < 1 || unit <= TIME_UNIT_NONE || unit >= TIME_UNIT_COUNT) return date;
    int32_t key = PeriodKey(date, unit), count = 0;
    while (count < n) {
        int32_t next = OffsetTradingDate(DailyDates(), date, 1);
        if (next <= date) break;
        date = next;
        int32_t nextKey = PeriodKey(date, unit);
        if (nextKey != key) count++;
        key = nextKey;
    }
    return date;
}

static int RunBarSize()
{
    return gSettings.BarSize2 > BAR_DAILY && gSettings.BarSize2 < BAR_SIZE_COUNT ? gSettings.BarSize2 : BAR_DAILY;
}

/* Whether a date of the run's bar size lies from first to last: a test of
** a longer bar size has a row only where a period of it ends. */
static bool HoldsBar(int32_t first, int32_t last)
{
    const DateList *list = &gStore.dateLists[RunBarSize()];
    if (!list->dates || list->count < 1 || first > last) return false;
    const uint32_t *dates = list->dates, *end = dates + list->count;
    const uint32_t *at = std::lower_bound(dates, end, (uint32_t)(first > 0 ? first : 0));
    return at != end && *at <= (uint32_t)last;
}

int CheckWalkForwardIntervals()
{
    OptimizerState *o = &gOptimizer;
    const int32_t n = o->intervalCount, saved = o->intervalStart;
    const char *note = gSettings.OptAnchor == ANCHOR_END ? kEndAnchorNote : "";
    int32_t previousLast = 0;
    int ok = 1;
    for (int32_t i = 0; ok && i < n; i++) {
        o->intervalStart = i == 0 ? o->rangeStart : AdvanceTimeUnits(gSettings.OptTimeUnit, abs(gSettings.OptTestInterval));
        int32_t first, last;
        GetIntervalDates(&first, &last);
        char a[DATE_TEXT_SIZE], b[DATE_TEXT_SIZE];
        if (o->intervalStart > o->rangeEnd) {
            FormatDefaultDate(o->intervalStart, a);
            FormatDefaultDate(o->rangeEnd, b);
            ReportError(kIntervalAfterRange, (int)(i + 1), (int)n, a, b);
            ok = 0;
        } else if (!HoldsBar(first, last)) {
            FormatDefaultDate(first, a);
            FormatDefaultDate(last, b);
            ReportError(kIntervalWithoutBar, (int)(i + 1), (int)n, a, b, kBarSizeWords[RunBarSize()]);
            ok = 0;
        } else if (i > 0 && last <= previousLast) {
            FormatDefaultDate(last, a);
            ReportError(kIntervalOutOfOrder, (int)(i + 1), (int)n, a, (int)i, note);
            ok = 0;
        } else if (i + 1 < n) {
            /* The day after every interval but the last is where its values
            ** begin to be played out of sample. */
            int32_t next = OffsetTradingDate(DailyDates(), last, 1);
            if (next <= last || next > gStore.lastDate) {
                FormatDefaultDate(last, a);
                ReportError(kNoOutOfSampleDate, (int)(i + 1), (int)n, a, note);
                ok = 0;
            }
        }
        previousLast = last;
    }
    o->intervalStart = saved;
    return ok;
}

/* Appends to a list of count values with capacity, growing it; 0 when memory fails. */
template <typename T>
static int AppendValue(T **items, int32_t *capacity, int32_t *count, T value)
{
    if (*count >= *capacity) {
        int32_t room = *capacity < 8 ? 8 : *capacity * 2;
        if (!ReallocMemory(items, (uint64_t)room * sizeof(T))) return 0;
        *capacity = room;
    }
    (*items)[(*count)++] = value;
    return 1;
}

void RecordWalkForwardStep(int32_t offset)
{
    DefinitionList *list = &gWalkForwardDates;
    int32_t **dates = (int32_t **)&list->items;
    if (list->count == 0 && !AppendValue(dates, &list->capacity, &list->count, gSettings.FirstDate)) return;
    int32_t date = offset ? OffsetTradingDate(DailyDates(), gSettings.LastDate, offset) : gSettings.LastDate;
    if (!AppendValue(dates, &list->capacity, &list->count, date)) return;
    Parameter *rows = (Parameter *)gParameters.items;
    for (int32_t k = 0; rows && k < gParameters.count; k++) {
        Parameter *p = &rows[k];
        if (p->valueCount < 1 || p->deselected) continue;
        int32_t best = k < gOptimizer.paramCapacity && gOptimizer.params ? gOptimizer.params[k].bestIndex : 0;
        if (best < 0 || best >= p->valueCount) best = 0;
        AppendValue(&p->walkValues, &p->walkCapacity, &p->walkCount, p->values[best]);
    }
}

int32_t BuildWalkForwardSection(char *text, int32_t size)
{
    int unit = gSettings.OptTimeUnit >= 0 && gSettings.OptTimeUnit < TIME_UNIT_COUNT ? gSettings.OptTimeUnit : 0;
    int32_t used = 0;
    bool fits = true;
    auto add = [&](const char *format, auto... args) {
        int n = FormatText(text + used, (size_t)(size - used), format, args...);
        if (used + n >= size)
            fits = false;
        else
            used += n;
    };
    add("\r\nWalkForward: // unit=%s, length=%d, offset=%d", kTimeUnitWords[unit], (int)gSettings.OptTestLength,
        (int)gSettings.OptTestInterval);
    add("\r\n\tDates:");
    const int32_t *dates = (const int32_t *)gWalkForwardDates.items;
    for (int32_t i = 0; dates && i < gWalkForwardDates.count; i++) {
        char shown[DATE_TEXT_SIZE];
        FormatDefaultDate(dates[i], shown);
        add("%s %s", i ? "," : "", shown);
    }
    Parameter *rows = (Parameter *)gParameters.items;
    for (int32_t k = 0; rows && k < gParameters.count; k++) {
        Parameter *p = &rows[k];
        if (p->valueCount < 1 || p->deselected) continue;
        add("\r\n\t%s:", p->name);
        for (int32_t i = 0; i < p->walkCount; i++) add("%s %g", i ? "," : "", p->walkValues[i]);
        p->currentIndex = 0;
    }
    add("\r\n");
    return fits ? used : 0;
}

/* The section is built with "\r\n" line ends; a script whose first line
** ends in a lone "\n" gets it with those, so the file keeps one kind of
** line end.  The section's new length. */
static int32_t MatchLineEnds(char *section, int32_t length, const char *script, size_t size)
{
    const char *end = (const char *)memchr(script, '\n', size);
    if (!end || (end > script && end[-1] == '\r')) return length;
    int32_t n = 0;
    for (int32_t i = 0; i < length; i++)
        if (section[i] != '\r' || i + 1 >= length || section[i + 1] != '\n') section[n++] = section[i];
    return n;
}

/* Appends the section to the script file; the old file stays until the new
** one is complete.  1, or 0 after reporting. */
static int AppendToScriptFile(const char *path, char *text, int32_t length)
{
    char *old = nullptr;
    uint32_t size = 0;
    /* The one file a run both reads and rewrites, as the script it ran. */
    if (!ClaimRunOutput(path, "the script") || !LoadFile(path, &old, &size)) return 0;
    length = MatchLineEnds(text, length, old, size);
    int ok = 0;
    char *joined = nullptr;
    if (AllocMemory(&joined, (uint64_t)size + (uint64_t)length)) {
        memcpy(joined, old, size);
        memcpy(joined + size, text, (size_t)length);
        ok = SaveFile(path, joined, size + (uint32_t)length);
    }
    FreeMemory(&joined);
    FreeMemory(&old);
    return ok;
}

/* The section of the run's last interval, built before the playback and
** written only once it has run: a stopped run changes no script, not even
** the text of its editor.  Tracked. */
static char *sSection;
static int32_t sSectionLength;

void DropWalkForwardSection()
{
    FreeMemory(&sSection);
    sSectionLength = 0;
}

int32_t WalkForwardIntervalOf(int32_t date)
{
    const int32_t *dates = (const int32_t *)gWalkForwardDates.items;
    const int32_t count = gWalkForwardDates.count;
    if (!dates || count < 2) return 0;
    int32_t interval = 0;
    while (interval + 2 < count && date >= dates[interval + 1]) interval++;
    /* The values of the last interval were chosen on its last day too. */
    if (interval + 2 == count && date > dates[count - 1]) interval++;
    return interval;
}

int32_t WalkForwardIntervalStart(int32_t interval)
{
    const int32_t *dates = (const int32_t *)gWalkForwardDates.items;
    const int32_t count = gWalkForwardDates.count;
    if (!dates || count < 1 || interval < 0) return 0;
    if (interval + 1 < count) return dates[interval];
    return OffsetTradingDate(DailyDates(), dates[count - 1], 1);
}

int BeginOutOfSampleTest()
{
    const int32_t *dates = (const int32_t *)gWalkForwardDates.items;
    if (!dates || gWalkForwardDates.count < 2 || dates[1] <= gSettings.FirstDate) return 1;
    /* A longer bar whose period holds the date but ends after LastDate is
    ** no date of the test. */
    if (!HoldsBar(dates[1], gSettings.LastDate)) return 0;
    gSettings.FirstDate = dates[1];
    SetPanelDate(PANEL_FIRST_DATE, gSettings.FirstDate);
    return 1;
}

void NoteNoOutOfSampleTest()
{
    const int32_t *dates = (const int32_t *)gWalkForwardDates.items;
    if (!dates || gWalkForwardDates.count < 2) return;
    char end[DATE_TEXT_SIZE], second[DATE_TEXT_SIZE];
    FormatDefaultDate(gSettings.LastDate, end);
    FormatDefaultDate(dates[1], second);
    ShowPopupNotice(255, kNoOutOfSampleTest, end, second);
}

int PrepareWalkForwardSection()
{
    DropWalkForwardSection();
    RecordWalkForwardStep(0);
    int32_t optimized = 0;
    const Parameter *rows = (const Parameter *)gParameters.items;
    for (int32_t k = 0; rows && k < gParameters.count; k++)
        if (rows[k].valueCount > 0 && !rows[k].deselected) optimized++;
    uint64_t size = (uint64_t)(optimized + 1) * (uint64_t)gWalkForwardDates.count * 128 + 256;
    if (size > INT32_MAX || !AllocMemory(&sSection, size)) return 0;
    sSectionLength = BuildWalkForwardSection(sSection, (int32_t)size);
    return 1;
}

int InsertWalkForwardSection(void **pEditor)
{
    *pEditor = nullptr;
    if (!sSection && !PrepareWalkForwardSection()) return 0;
    int ok = 1;
    /* A batch run has no one to look at an editor, so without one the
    ** section goes straight into the file, where the next run reads it;
    ** with one, the batch saves the editor. */
    void *window = OpenScriptWindow(gSettings.ActiveScript);
    /* The editor of a script the user made read-only takes no text: then the
    ** file itself is asked, which refuses it and says so, and the run fails
    ** rather than lose the section. */
    int refused = 0;
    if (sSectionLength > 0 && window) {
        char head[4096] = "";
        EditorCall(window, EDITOR_GET_TEXT, sizeof head, (intptr_t)head);
        head[sizeof head - 1] = 0;
        sSectionLength = MatchLineEnds(sSection, sSectionLength, head, strlen(head));
        const intptr_t before = EditorCall(window, EDITOR_GET_LENGTH, 0, 0);
        EditorCall(window, EDITOR_APPEND_TEXT, (uintptr_t)sSectionLength, (intptr_t)sSection);
        refused = EditorCall(window, EDITOR_GET_LENGTH, 0, 0) == before;
        if (!refused) {
            EditorCall(window, EDITOR_DOCUMENT_END, 0, 0);
            *pEditor = window;
            if (gRun.unattended && !SaveScript(window, 0)) {
                SetResultCode(RESULT_FILE_ERROR);
                ok = 0;
            }
        }
    }
    if (sSectionLength > 0 && (refused || (!window && gRun.unattended))) {
        char path[PATH_SIZE];
        CopyString(path, sizeof path, gSettings.ActiveScript, -1);
        ExpandPathMacros(path, gScriptsFolder); /* the compile read the script by the same path */
        ok = AppendToScriptFile(path, sSection, sSectionLength);
    }
    DropWalkForwardSection();
    return ok;
}
