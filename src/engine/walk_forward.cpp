/* walk_forward.cpp -- time units on the trading calendar, the record of each
** interval's best values and the WalkForward section written from it. */
#include "engine/walk_forward.h"

#include <cstring>

#include "engine/optimizer.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/strategy.h"
#include "services/services.h"

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

void InsertWalkForwardSection()
{
    RecordWalkForwardStep(0);
    void *window = FindScriptWindow(gSettings.ActiveScript);
    if (!window) return;
    int32_t optimized = 0;
    const Parameter *rows = (const Parameter *)gParameters.items;
    for (int32_t k = 0; rows && k < gParameters.count; k++)
        if (rows[k].valueCount > 0 && !rows[k].deselected) optimized++;
    uint64_t size = (uint64_t)(optimized + 1) * (uint64_t)gWalkForwardDates.count * 128 + 256;
    if (size > INT32_MAX) return;
    char *text = nullptr;
    if (!AllocMemory(&text, size)) return;
    int32_t length = BuildWalkForwardSection(text, (int32_t)size);
    if (length > 0) {
        EditorCall(window, EDITOR_APPEND_TEXT, (uintptr_t)length, (intptr_t)text);
        EditorCall(window, EDITOR_DOCUMENT_END, 0, 0);
    }
    FreeMemory(&text);
}
