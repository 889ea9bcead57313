/* symbols.cpp -- the symbol array, the calendar pseudo-symbol and the bar lookups. */
#include "marketdata/store/symbols.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/dates.h"
#include "marketdata/store/calendar.h"

/* clang-format off */
SymbolStore gStore = {
    .dateLists = {
        {nullptr, 0, 0, BAR_DAILY, 0},
        {nullptr, 0, 0, BAR_WEEKLY, 0},
        {nullptr, 0, 0, BAR_MONTHLY, 0},
        {nullptr, 0, 0, BAR_QUARTERLY, 0},
        {nullptr, 0, 0, BAR_YEARLY, 0},
    },
};
/* clang-format on */

static const char kUnknownSymbol[] = "Symbol '%s' is not in the current data set.";
static const char kNoDataOnDate[] = "No data is avaliable for %s on %s";
static const char kCalendarSymbol[] = "Global";
static const char kCalendarName[] = "Global Calendar Symbol";

/* ---- records and the store's reset ------------------------------------------------ */

void FreeSymbolRecord(SymbolRecord *record)
{
    FreeMemory(&record->strategyArrays);
    for (int k = 0; k < 2; k++) {
        FreeMemory(&record->dataValues[k]);
        FreeMemory(&record->dataOffsets[k]);
    }
    for (int b = 0; b < BAR_SIZE_COUNT; b++) FreeMemory(&record->bars[b]);
    FreeMemory(&record->events);
    FreeMemory(&record->fundamentals);
    memset((void *)record, 0, sizeof *record);
}

void ResetSymbolStore()
{
    uint64_t slots = gStore.symbols ? TrackedBlockSize(gStore.symbols) / sizeof(SymbolRecord) : 0;
    for (uint64_t i = 0; i < slots; i++) FreeSymbolRecord(&gStore.symbols[i]);
    FreeMemory(&gStore.symbols);
    FreeSymbolRecord(&gStore.calendar);
    FreeMemory(&gStore.listNames);
    FreeMemory(&gStore.note);
    for (DateList &list : gStore.dateLists) FreeMemory(&list.dates);
    gStore = SymbolStore{};
    for (int b = 0; b < BAR_SIZE_COUNT; b++) gStore.dateLists[b].barSize = b;
}

/* ---- symbol names ------------------------------------------------------------ */

/* Only A-Z fold, and to lower case, so the order of '_' and the other
** punctuation between 'Z' and 'a' is the same in the sort and in the search,
** whatever the C library's locale. */
static inline int FoldSymbolChar(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

int CompareSymbolText(const char *a, const char *b)
{
    const unsigned char *pa = (const unsigned char *)a, *pb = (const unsigned char *)b;
    for (;; pa++, pb++) {
        int ca = FoldSymbolChar(*pa), cb = FoldSymbolChar(*pb);
        if (ca != cb || !ca) return ca - cb;
    }
}

int CompareSymbolNames(const void *a, const void *b)
{
    return CompareSymbolText(((const SymbolRecord *)a)->info.Symbol, ((const SymbolRecord *)b)->info.Symbol);
}

int FindSymbolIndex(const char *symbol)
{
    if (!symbol || !gStore.symbols) return 0;
    int lo = 0, hi = gStore.symbolCount - 1;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = CompareSymbolText(symbol, gStore.symbols[mid].info.Symbol);
        if (c == 0) return mid + 1;
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return 0;
}

SymbolRecord *SymbolByNumber(int number)
{
    if (!gStore.symbols || number < 1 || number > gStore.symbolCount) return nullptr;
    return &gStore.symbols[number - 1];
}

/* ---- first used date ----------------------------------------------------------- */

static_assert(std::atomic_ref<int32_t>::required_alignment <= alignof(int32_t),
              "the first used date and the lookup hints are atomic in place");

void LowerFirstUsedDate(SymbolRecord *record, int32_t date)
{
    std::atomic_ref<int32_t> first(record->firstUsedDate);
    int32_t seen = first.load(std::memory_order_relaxed);
    while (date < seen && !first.compare_exchange_weak(seen, date, std::memory_order_relaxed)) {
    }
}

int32_t GetFirstUsedDate(const SymbolRecord *record)
{
    std::atomic_ref<int32_t> first(const_cast<int32_t &>(record->firstUsedDate));
    return first.load(std::memory_order_relaxed);
}

/* ---- bar lookups ------------------------------------------------------------------ */

Bar *GetBarArray(const SymbolRecord *record, int barSize, int32_t *count)
{
    if (barSize < BAR_WEEKLY || barSize > BAR_YEARLY) barSize = BAR_DAILY;
    if (!record) {
        if (count) *count = 0;
        return nullptr;
    }
    if (count) *count = record->barCounts[barSize];
    return record->bars[barSize];
}

/* A traded bar a lookup stands on lowers the record's first used date. */
static void NoteBarUsed(SymbolRecord *record, const Bar *bar)
{
    if (bar->volume > 0 && bar->date < GetFirstUsedDate(record)) LowerFirstUsedDate(record, bar->date);
}

/* Index of the last bar dated on or before date, or -1 when bar 0 is later.
** The search gallops from the hint, so a walk through dates in order costs a
** step or two per lookup and a jump costs the logarithm of its distance. */
static int LocateOnOrBefore(const Bar *bars, int count, int32_t date, int hint)
{
    if (hint < 0 || hint >= count) hint = count - 1;
    int lo, hi;
    if (bars[hint].date <= date) {
        lo = hint;
        for (int step = 1;; step <<= 1) {
            hi = lo + step;
            if (hi >= count) {
                hi = count;
                break;
            }
            if (bars[hi].date > date) break;
            lo = hi;
        }
    } else {
        hi = hint;
        for (int step = 1;; step <<= 1) {
            lo = hi - step;
            if (lo < 0) {
                lo = -1;
                break;
            }
            if (bars[lo].date <= date) break;
            hi = lo;
        }
    }
    /* bars[lo] is on or before the date (or lo is -1), bars[hi] after it (or hi is count) */
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        if (bars[mid].date <= date)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

int FindBarIndex(SymbolRecord *record, int barSize, int32_t date, int phase, int slot, Bar **bar)
{
    if (bar) *bar = nullptr;
    if (!record || date < record->firstDate || date > record->lastDate) return -1;
    int daily = barSize < BAR_WEEKLY || barSize > BAR_YEARLY;
    int32_t count = 0;
    Bar *bars = GetBarArray(record, barSize, &count);
    if (!bars || count <= 0) return -1;
    if (slot < 0 || slot >= WORKER_SLOTS) slot = 0;
    /* Slot 0 is shared by the UI thread and every caller that has no slot of
    ** its own (currency factors, bars on or before a date), so the hint is
    ** read and written as one relaxed atomic value: a race costs time, never
    ** a wrong answer. */
    std::atomic_ref<int32_t> hint(record->barHints[slot]);

    int i = LocateOnOrBefore(bars, count, date, hint.load(std::memory_order_relaxed));
    /* Every bar is earlier: asked only once the search ends on the last bar,
    ** which a walk through the dates in order seldom reaches. */
    if (i == count - 1 && bars[i].date < date) {
        hint.store(count - 1, std::memory_order_relaxed);
        return -1;
    }
    if (i < 0) {
        if (daily) {
            hint.store(0, std::memory_order_relaxed);
            return -1;
        }
        i = 0;
    }
    NoteBarUsed(record, &bars[i]);

    int result;
    if (bars[i].date == date) {
        result = i;
    } else if (daily) {
        result = -1;
    } else if (bars[i].date > date) {
        /* The date lies in the symbol's first period, before that period's
        ** bar: the answer is that bar, never the next period's, which would
        ** show the future. */
        result = 0;
    } else if (i + 1 >= count) {
        result = -1;
    } else {
        int32_t nextStart = phase <= PHASE_OPEN ? GetPeriodFirstDate(bars[i + 1].date, 1, barSize) : bars[i + 1].date;
        if (phase == PHASE_CLOSE || nextStart <= date)
            result = i + 1;
        else
            result = i == 0 ? 0 : -1;
    }
    hint.store(result >= 0 ? result : i, std::memory_order_relaxed);
    if (result >= 0 && bar) *bar = &bars[result];
    return result;
}

int StepDailyBar(SymbolRecord *record, DayCursor *cursor, int32_t date, int slot, Bar **bar)
{
    if (bar) *bar = nullptr;
    if (!record || date < record->firstDate || date > record->lastDate) return -1;
    int32_t count = record->barCounts[BAR_DAILY];
    Bar *bars = record->bars[BAR_DAILY];
    if (!bars || count <= 0) return -1;
    if (cursor->date == date && cursor->bar < count) {
        /* Stepped here today: the first lookup of the date left the traces
        ** (the first used date lowered, which only a bar before could
        ** lower further, and a hint, which changes no answer). */
        int32_t i = cursor->bar;
        if (i < 0 || bars[i].date != date) return -1;
        if (bar) *bar = &bars[i];
        return i;
    }
    cursor->bar = LocateOnOrBefore(bars, count, date, cursor->date ? cursor->bar : count - 1);
    cursor->date = date;
    if (slot < 0 || slot >= WORKER_SLOTS) slot = 0;
    std::atomic_ref<int32_t> hint(record->barHints[slot]);
    /* FindBarIndex's daily answer from where the search would have stopped. */
    int32_t i = cursor->bar;
    if (i == count - 1 && bars[i].date < date) {
        hint.store(count - 1, std::memory_order_relaxed);
        return -1;
    }
    if (i < 0) {
        hint.store(0, std::memory_order_relaxed);
        return -1;
    }
    NoteBarUsed(record, &bars[i]);
    hint.store(i, std::memory_order_relaxed);
    if (bars[i].date != date) return -1;
    if (bar) *bar = &bars[i];
    return i;
}

void NoteDailyBarFound(SymbolRecord *record, int slot, int32_t index)
{
    const Bar *bar = &record->bars[BAR_DAILY][index];
    if (slot < 0 || slot >= WORKER_SLOTS) slot = 0;
    NoteBarUsed(record, bar);
    std::atomic_ref<int32_t>(record->barHints[slot]).store(index, std::memory_order_relaxed);
}

Bar *GetBarOnOrBefore(SymbolRecord *record, int32_t date, int barSize)
{
    Bar *bar = nullptr;
    if (FindBarIndex(record, barSize, date, PHASE_CLOSE, 0, &bar) >= 0) return bar;
    int32_t count = 0;
    Bar *bars = GetBarArray(record, barSize, &count);
    if (!bars || count <= 0) return nullptr;
    int i = LocateOnOrBefore(bars, count, date, count - 1);
    return i >= 0 ? &bars[i] : nullptr;
}

SymbolRecord *FindSymbolAtDate(const char *symbol, int barSize, int32_t date, Bar **bar, int strict)
{
    Bar *found = nullptr;
    if (bar) *bar = nullptr;
    SymbolRecord *record;
    if (!symbol || !symbol[0]) {
        record = &gStore.calendar;
    } else {
        record = SymbolByNumber(FindSymbolIndex(symbol));
        if (!record) {
            ReportError(kUnknownSymbol, symbol);
            return nullptr;
        }
    }
    if (date == 0) date = record->lastDate;
    if (FindBarIndex(record, barSize, date, PHASE_CLOSE, 0, &found) >= 0) {
        if (bar) *bar = found;
        return record;
    }
    if (strict) {
        char text[32];
        FormatDefaultDate(date, text);
        ReportError(kNoDataOnDate, record->info.Symbol, text);
        return nullptr;
    }
    int32_t count = 0;
    Bar *bars = GetBarArray(record, barSize, &count);
    if (bars && count > 0 && bar) {
        int i = LocateOnOrBefore(bars, count, date, count - 1);
        /* the first bar on or after the date: the one found when it is exact,
        ** else the next; the last bar when every bar is earlier */
        if (i < 0)
            i = 0;
        else if (bars[i].date < date && i + 1 < count)
            i++;
        *bar = &bars[i];
    }
    return record;
}

/* ---- the calendar pseudo-symbol ------------------------------------------------------ */

/* The calendar is freed like any symbol: the data calculation may have given
** it value blocks of one-per-date items, which go with the old bars. */
int BuildCalendarSymbol()
{
    FreeSymbolRecord(&gStore.calendar);
    for (int k = 0; k < BAR_SIZE_COUNT; k++) {
        const DateList &list = gStore.dateLists[k];
        int32_t count = list.count > 0 ? list.count : 0;
        if (!AllocMemory(&gStore.calendar.bars[k], (uint64_t)(count + 1) * sizeof(Bar))) {
            FreeSymbolRecord(&gStore.calendar);
            return 0;
        }
        Bar *bars = gStore.calendar.bars[k];
        for (int32_t i = 0; i < count; i++) {
            bars[i].date = (int32_t)list.dates[i];
            bars[i].split = 1.0;
        }
        gStore.calendar.barCounts[k] = count;
    }
    const DateList &daily = gStore.dateLists[BAR_DAILY];
    if (daily.count > 0) {
        gStore.calendar.firstDate = (int32_t)daily.dates[0];
        gStore.calendar.lastDate = (int32_t)daily.dates[daily.count - 1];
    }
    gStore.calendar.firstUsedDate = FIRST_USED_NONE;
    memcpy(gStore.calendar.info.Symbol, kCalendarSymbol, sizeof kCalendarSymbol);
    memcpy(gStore.calendar.info.Name, kCalendarName, sizeof kCalendarName);
    return 1;
}

/* ---- currency ---------------------------------------------------------------------------- */

/* A close is a rate only when it is a positive finite number. */
static double RateFactor(double close, int invert)
{
    if (!(close > 0.0) || !std::isfinite(close)) return 1.0;
    return invert ? 1.0 / close : close;
}

double GetCurrencyRate(SymbolRecord *record, int32_t date)
{
    SymbolRecord *currency = record ? SymbolByNumber(record->currencySymbol) : nullptr;
    if (!currency) return 1.0;
    Bar *bar = nullptr;
    if (FindBarIndex(currency, BAR_DAILY, date, PHASE_CLOSE, 0, &bar) >= 0)
        return RateFactor(bar->close, record->invertCurrency);
    /* No rate on the date: the rate known then, i.e. the last close before it;
    ** before the currency's first bar, that first close. */
    int32_t count = 0;
    Bar *bars = GetBarArray(currency, BAR_DAILY, &count);
    if (!bars || count <= 0) return 1.0;
    int i = LocateOnOrBefore(bars, count, date, count - 1);
    if (i < 0) i = 0;
    return RateFactor(bars[i].close, record->invertCurrency);
}
