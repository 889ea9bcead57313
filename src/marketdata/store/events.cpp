/* events.cpp -- a symbol's dated events and the date-time ordering. */
#include "marketdata/store/events.h"

#include "foundation/allocator.h"

enum { EVENT_GROWTH = 10 };

int SetEventItem(SymbolRecord *record, int32_t date, int32_t time, int32_t kind, double value)
{
    for (int32_t i = 0; i < record->eventCount; i++) {
        EventItem *e = &record->events[i];
        if (e->date == date && e->time == time && e->kind == kind) {
            e->value = value;
            return 1;
        }
    }
    if (record->eventCount + 1 >= record->eventCapacity) {
        /* While an allocation has failed, none is tried until the pump clears it. */
        if (gOutOfMemory.load()) return 0;
        int32_t capacity = record->eventCapacity + EVENT_GROWTH;
        if (!ReallocMemory(&record->events, (uint64_t)capacity * sizeof(EventItem))) return 0;
        record->eventCapacity = capacity;
    }
    EventItem *e = &record->events[record->eventCount++];
    e->date = date;
    e->time = time;
    e->kind = kind;
    e->reserved = 0;
    e->value = value;
    return 1;
}

int CompareBarDateTime(const void *a, const void *b)
{
    const uint32_t *x = (const uint32_t *)a;
    const uint32_t *y = (const uint32_t *)b;
    if (x[0] != y[0]) return x[0] < y[0] ? -1 : 1;
    if (x[1] != y[1]) return x[1] < y[1] ? -1 : 1;
    return 0;
}

int32_t CountEventKinds(const SymbolRecord *record, int32_t low, int32_t high)
{
    int32_t n = 0;
    for (int32_t i = 0; i < record->eventCount; i++)
        if (record->events[i].kind >= low && record->events[i].kind <= high) n++;
    return n;
}
