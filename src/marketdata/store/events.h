/* events.h -- a symbol's dated events and the bar and event orderings that
** every importer and the data file share.
**
** Model:      a symbol holds at most one event per (date, time, kind); events
**             and bars are ordered by date, then time, both compared unsigned.
** Errors:     SetEventItem returns 0 when memory runs out (the allocator's
**             sticky out-of-memory state is then set and no growth is tried
**             until it clears).
** Threads:    SetEventItem changes only the record it is given, so import
**             workers call it on their own records.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/symbols.h"

/* Sets the value of the event (date, time, kind) of record, appending it when
** the record has none; the event array grows by 10.  1, or 0 when memory runs
** out. */
int SetEventItem(SymbolRecord *record, int32_t date, int32_t time, int32_t kind, double value);

/* qsort comparator of two Bars or two EventItems (both begin with date and
** time): date, then time, unsigned. */
int CompareBarDateTime(const void *a, const void *b);

/* Number of events of record whose kind is in low..high. */
int32_t CountEventKinds(const SymbolRecord *record, int32_t low, int32_t high);
