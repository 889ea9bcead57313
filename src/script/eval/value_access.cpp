/* value_access.cpp -- period first dates and context bar synchronisation. */
#include "script/eval/value_access.h"

#include "foundation/dates.h"

/* The calendar day on which the period of barSize holding date begins. */
static int32_t CalendarPeriodStart(int32_t date, int barSize)
{
    switch (barSize) {
    case BAR_WEEKLY:
        for (int k = DayOfWeek(date); k > 1; k--) date = PrevDay(date);
        return date;
    case BAR_MONTHLY: return date / 100 * 100 + 1;
    case BAR_QUARTERLY: return MakeDate(DateYear(date), (DateQuarter(date) - 1) * 3 + 1, 1);
    default: return DateYear(date) * 10000 + 101;
    }
}

int32_t GetPeriodFirstDate(int32_t date, int32_t count, int32_t barSize)
{
    if (barSize < BAR_WEEKLY || barSize > BAR_YEARLY || count > 1) return date;
    const DateList *list = &gDateLists[BAR_DAILY];
    if (list->count <= 0 || !list->dates) return date;
    if (date < (int32_t)list->dates[0]) return (int32_t)list->dates[0];
    /* The first listed date on or after the period's first calendar day is the
    ** period's first market date when it is not after the date itself; a
    ** binary search finds it without walking a whole year of dates. */
    int32_t start = CalendarPeriodStart(date, barSize);
    int lo = -1, hi = list->count;
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        if ((int32_t)list->dates[mid] < start) lo = mid;
        else hi = mid;
    }
    if (hi < list->count && (int32_t)list->dates[hi] <= date) return (int32_t)list->dates[hi];
    return date;
}

Bar *SyncContextBar(EvalContext *context)
{
    int barSize = context->barSize;
    int daily = barSize < BAR_WEEKLY || barSize > BAR_YEARLY;
    int32_t searchDate = daily ? context->date : GetPeriodFirstDate(context->date, 1, barSize);
    int mode = daily ? context->barPhase : PHASE_OPEN;
    Bar *bar = nullptr;
    int index = FindBarIndex(context->symbol, barSize, searchDate, mode, context->slot, &bar);
    if (index < 0) return nullptr;
    context->barIndex = index;
    int phase = bar->date == context->date ? context->barPhase : mode;
    context->lastBar = phase < PHASE_CLOSE ? index - 1 : index;
    return bar;
}
