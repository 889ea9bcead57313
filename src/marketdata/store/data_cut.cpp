/* data_cut.cpp -- the loaded data as they stood on a day, and back. */
#include "marketdata/store/data_cut.h"

#include "marketdata/store/calendar.h"
#include "marketdata/store/derived_bars.h"

/* Cuts list after lastDay; a longer list then ends with the period of the
** last session kept (dailyLast), as one built from the cut sessions does. */
static void CutDateList(DateList *list, int32_t lastDay, int32_t dailyLast, std::vector<DateListAside> *aside)
{
    if (!list || !list->dates || list->count <= 0) return;
    int32_t n = list->count;
    while (n > 0 && (int32_t)list->dates[n - 1] > lastDay) n--;
    if (n == list->count) return;
    /* n < count, so the entries n and n + 1 lie inside the count + 1 used. */
    aside->push_back({list, list->count, n, {list->dates[n], list->dates[n + 1]}});
    if (list->barSize != BAR_DAILY && dailyLast > 0 && (n == 0 || (int32_t)list->dates[n - 1] < dailyLast))
        list->dates[n++] = (uint32_t)dailyLast;
    list->dates[n] = 0;
    list->count = n;
}

void CutDateListsAfter(DateList *lists, int32_t lastDay, std::vector<DateListAside> *aside)
{
    CutDateList(&lists[BAR_DAILY], lastDay, 0, aside);
    const DateList &daily = lists[BAR_DAILY];
    const int32_t dailyLast = daily.dates && daily.count > 0 ? (int32_t)daily.dates[daily.count - 1] : 0;
    for (int size = BAR_WEEKLY; size < BAR_SIZE_COUNT; size++) CutDateList(&lists[size], lastDay, dailyLast, aside);
}

void PutBackDateLists(std::vector<DateListAside> *aside)
{
    for (size_t k = aside->size(); k-- > 0;) {
        const DateListAside &a = (*aside)[k];
        a.list->count = a.count;
        a.list->dates[a.at] = a.dates[0];
        a.list->dates[a.at + 1] = a.dates[1];
    }
    aside->clear();
}

void CutSymbolBarsAt(SymbolRecord *s, int32_t lastDay)
{
    int32_t n = s->barCounts[BAR_DAILY];
    const Bar *daily = s->bars[BAR_DAILY];
    while (n > 0 && daily[n - 1].date > lastDay) n--;
    s->barCounts[BAR_DAILY] = n;
    s->lastDate = n > 0 ? daily[n - 1].date : 0;
    for (int size = BAR_WEEKLY; size < BAR_SIZE_COUNT; size++) {
        const Bar *period = s->bars[size];
        int32_t m = s->barCounts[size];
        while (m > 0 && period[m - 1].date > lastDay && !(n > 0 && SameBarPeriod(period[m - 1].date, s->lastDate, size)))
            m--;
        s->barCounts[size] = m;
    }
}

void RestatePeriodBars(SymbolRecord *s)
{
    int32_t n = s->barCounts[BAR_DAILY];
    for (int size = BAR_WEEKLY; size < BAR_SIZE_COUNT; size++) {
        int32_t m = s->barCounts[size];
        Bar *period = s->bars[size];
        if (n > 0 && m > 0 && period[m - 1].date > s->lastDate) BuildPeriodBarThrough(s, size, n - 1, &period[m - 1]);
    }
}

/* Cuts one symbol, keeping aside what the cut changes. */
static void CutSymbol(DataCut *cut, SymbolRecord *s, int32_t lastDay)
{
    if (!s->bars[BAR_DAILY] || s->barCounts[BAR_DAILY] <= 0 || s->lastDate <= lastDay) return;
    DataCut::SymbolAside aside{};
    aside.symbol = s;
    aside.lastDate = s->lastDate;
    for (int size = BAR_DAILY; size < BAR_SIZE_COUNT; size++) aside.counts[size] = s->barCounts[size];
    CutSymbolBarsAt(s, lastDay);
    for (int size = BAR_DAILY; size < BAR_SIZE_COUNT; size++) {
        aside.at[size] = s->bars[size] && s->barCounts[size] > 0 ? s->barCounts[size] - 1 : -1;
        if (aside.at[size] >= 0) aside.last[size] = s->bars[size][aside.at[size]];
    }
    RestatePeriodBars(s);
    cut->symbols.push_back(aside);
}

int CutDataAt(DataCut *cut, int32_t lastDay)
{
    RestoreCutData(cut);
    const DateList &daily = gStore.dateLists[BAR_DAILY];
    if (gStore.lastDate <= lastDay || !daily.dates || daily.count <= 0 || (int32_t)daily.dates[0] > lastDay) return 0;
    cut->storeLastDate = gStore.lastDate;
    CutDateListsAfter(gStore.dateLists, lastDay, &cut->lists);
    for (int32_t k = 0; k < gStore.symbolCount; k++) CutSymbol(cut, &gStore.symbols[k], lastDay);
    CutSymbol(cut, &gStore.calendar, lastDay);
    gStore.lastDate = (int32_t)daily.dates[daily.count - 1];
    return 1;
}

void CutMoreDateLists(DataCut *cut, DateList *lists, int32_t lastDay)
{
    if (cut->storeLastDate) CutDateListsAfter(lists, lastDay, &cut->lists);
}

void RestoreCutData(DataCut *cut)
{
    if (!cut->storeLastDate) return;
    for (size_t k = cut->symbols.size(); k-- > 0;) {
        const DataCut::SymbolAside &a = cut->symbols[k];
        SymbolRecord *s = a.symbol;
        for (int size = BAR_DAILY; size < BAR_SIZE_COUNT; size++) {
            if (a.at[size] >= 0) s->bars[size][a.at[size]] = a.last[size];
            s->barCounts[size] = a.counts[size];
        }
        s->lastDate = a.lastDate;
    }
    cut->symbols.clear();
    PutBackDateLists(&cut->lists);
    gStore.lastDate = cut->storeLastDate;
    cut->storeLastDate = 0;
}
