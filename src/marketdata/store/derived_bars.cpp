/* derived_bars.cpp -- master date lists and bars of the longer bar sizes. */
#include "marketdata/store/derived_bars.h"

#include "foundation/allocator.h"
#include "marketdata/store/calendar.h"

int BuildCalendars()
{
    const DateList &daily = gStore.dateLists[BAR_DAILY];
    int32_t n = daily.count;
    for (int size = BAR_WEEKLY; size <= BAR_YEARLY; size++) {
        DateList &list = gStore.dateLists[size];
        if (list.capacity < n + 1) {
            if (!ReallocMemory(&list.dates, (uint64_t)(n + 1) * sizeof(uint32_t))) return 0;
            list.capacity = n + 1;
        }
        list.barSize = size;
        int32_t count = 0;
        for (int32_t i = 0; i < n; i++) {
            int32_t date = (int32_t)daily.dates[i];
            /* The last daily date ends a period in every list. */
            if (i + 1 == n || !SameBarPeriod(date, (int32_t)daily.dates[i + 1], size)) list.dates[count++] = (uint32_t)date;
        }
        list.dates[count] = 0;
        list.count = count;
    }
    return 1;
}

/* The first date of list on or after date; date itself when it is after them all. */
static int32_t MasterDateOnOrAfter(const DateList &list, int32_t date)
{
    int32_t lo = 0, hi = list.count;
    while (lo < hi) {
        int32_t mid = (lo + hi) / 2;
        if ((int32_t)list.dates[mid] < date)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < list.count ? (int32_t)list.dates[lo] : date;
}

/* Adds the daily bar to the period's bar d, whose last day had the split
** factor previousSplit: a new factor carries d's prices into its terms. */
static void AddDayToPeriodBar(Bar &d, const Bar &bar, double previousSplit)
{
    if (bar.split != previousSplit && previousSplit != 0.0) {
        double ratio = bar.split / previousSplit;
        d.open *= ratio;
        d.high *= ratio;
        d.low *= ratio;
        d.close *= ratio;
        if (ratio != 0.0) d.volume /= ratio;
        d.split = bar.split;
    }
    d.date = bar.date;
    d.volume += bar.volume;
    d.close = bar.close;
    if (bar.high > d.high) d.high = bar.high;
    if (bar.low < d.low) d.low = bar.low;
    d.extra = gStore.keepAdjusted ? bar.extra : d.extra + bar.extra;
}

int BuildPeriodBarThrough(const SymbolRecord *record, int barSize, int32_t last, Bar *out, int32_t from)
{
    const Bar *in = record->bars[BAR_DAILY];
    if (!in || last < 0 || last >= record->barCounts[BAR_DAILY] || in[last].date < from) return 0;
    int32_t first = last;
    while (first > 0 && in[first - 1].date >= from && SameBarPeriod(in[first - 1].date, in[last].date, barSize)) first--;
    *out = in[first];
    for (int32_t i = first + 1; i <= last; i++) AddDayToPeriodBar(*out, in[i], in[i - 1].split);
    return 1;
}

int BuildDerivedBars(SymbolRecord *record, int barSize)
{
    int32_t daily = record->barCounts[BAR_DAILY];
    const Bar *in = record->bars[BAR_DAILY];
    Bar *out = nullptr;
    if (!AllocMemory(&out, (uint64_t)(daily + 1) * sizeof(Bar))) return 0;
    const DateList &master = gStore.dateLists[barSize];
    int32_t count = 0;
    int32_t periodStart = 0;
    for (int32_t i = 0; i < daily; i++) {
        const Bar &bar = in[i];
        if (count > 0 && SameBarPeriod(periodStart, bar.date, barSize)) {
            AddDayToPeriodBar(out[count - 1], bar, in[i - 1].split);
            continue;
        }
        if (count > 0) out[count - 1].date = MasterDateOnOrAfter(master, out[count - 1].date);
        out[count++] = bar;
        periodStart = bar.date;
    }
    if (!ReallocMemory(&out, (uint64_t)(count + 1) * sizeof(Bar))) {
        FreeMemory(&out);
        return 0;
    }
    FreeMemory(&record->bars[barSize]);
    record->bars[barSize] = out;
    record->barCounts[barSize] = count;
    return 1;
}

int BuildWeeklyBars(SymbolRecord *record) { return BuildDerivedBars(record, BAR_WEEKLY); }
int BuildMonthlyBars(SymbolRecord *record) { return BuildDerivedBars(record, BAR_MONTHLY); }
int BuildQuarterlyBars(SymbolRecord *record) { return BuildDerivedBars(record, BAR_QUARTERLY); }
int BuildYearlyBars(SymbolRecord *record) { return BuildDerivedBars(record, BAR_YEARLY); }
