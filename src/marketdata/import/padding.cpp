/* padding.cpp -- aligning the imported symbols with the market calendar. */
#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "marketdata/import/import_run.h"

enum PaddingMode {
    PADDING_NONE = 0,
    PADDING_ALIGN_WITH_SYMBOL = 1,
    PADDING_ALL_MARKET_DAYS = 2,
    PADDING_ALL_WEEK_DAYS = 3,
    PADDING_ALL_CALENDAR_DAYS = 4
};

static const char kMsgNoReference[] = "Padding reference symbol %s was not imported.";

static void LogBarChange(const char *format, const SymbolRecord *record, int32_t date)
{
    if (!ImportLogKept()) return;
    char text[DATE_TEXT_SIZE];
    FormatDefaultDate(date, text);
    LogImportMessage(format, record->info.Symbol, text);
}

static void RemoveBar(SymbolRecord *record, int32_t i)
{
    Bar *bars = record->bars[BAR_DAILY];
    int32_t n = record->barCounts[BAR_DAILY];
    LogBarChange("%s removed misaligned bar %s\n", record, bars[i].date);
    memmove(&bars[i], &bars[i + 1], sizeof(Bar) * (size_t)(n - i - 1));
    n--;
    record->barCounts[BAR_DAILY] = n;
    if (n == 0) {
        record->firstDate = record->lastDate = 0;
        return;
    }
    if (i == 0) record->firstDate = bars[0].date;
    if (i == n) record->lastDate = bars[n - 1].date;
}

/* Inserts a copy of the previous bar's close on date before bar i (i > 0). */
static int InsertPaddingBar(SymbolRecord *record, int32_t i, int32_t date)
{
    int32_t n = record->barCounts[BAR_DAILY];
    if (record->dailyCapacity < n + 2) {
        int32_t capacity = n + 2 + n / 8;
        if (!ReallocMemory(&record->bars[BAR_DAILY], (uint64_t)capacity * sizeof(Bar))) return 0;
        record->dailyCapacity = capacity;
    }
    Bar *bars = record->bars[BAR_DAILY];
    memmove(&bars[i + 1], &bars[i], sizeof(Bar) * (size_t)(n - i));
    const Bar &previous = bars[i - 1];
    Bar &pad = bars[i];
    pad.date = date;
    pad.time = previous.time;
    pad.open = pad.high = pad.low = pad.close = previous.close;
    pad.volume = 0.0;
    pad.split = previous.split;
    int rawClose = record->info.AssetId != 0 && previous.volume > 0.0 && previous.extra > previous.volume;
    pad.extra = rawClose ? 0.0 : previous.extra;
    record->barCounts[BAR_DAILY] = n + 1;
    LogBarChange("%s added padding bar %s\n", record, date);
    return 1;
}

static int32_t AbsoluteDate(uint32_t entry)
{
    int32_t d = (int32_t)entry;
    return d < 0 ? -d : d;
}

int PadBars()
{
    int mode = gImportState.Padding;
    DateList &calendar = gStore.dateLists[BAR_DAILY];
    int32_t *days = (int32_t *)calendar.dates;
    if (mode == PADDING_ALIGN_WITH_SYMBOL) {
        int number = FindSymbolIndex(gImportState.PadAlignSym);
        if (!number) {
            ReportError(kMsgNoReference, gImportState.PadAlignSym);
            return 0;
        }
        SymbolRecord *reference = &gStore.symbols[number - 1];
        reference->barHints[0] = 0;
        for (int32_t k = 0; k < calendar.count; k++)
            if (days[k] > 0 && FindBarIndex(reference, BAR_DAILY, days[k], PHASE_CLOSE, 0, nullptr) < 0)
                days[k] = -days[k];
    } else if (mode == PADDING_ALL_WEEK_DAYS) {
        for (int32_t k = 0; k < calendar.count; k++)
            if (days[k] > 0 && DayOfWeek(days[k]) >= 6) days[k] = -days[k];
    }
    if (mode == PADDING_NONE) return 1;

    for (int32_t s = 0; s < gStore.symbolCount; s++) {
        SymbolRecord *record = &gStore.symbols[s];
        if (record->barCounts[BAR_DAILY] < 1) continue;
        int32_t key = record->firstDate;
        int32_t *entry = (int32_t *)bsearch(&key, days, (size_t)calendar.count, sizeof(int32_t), CompareAbsDate);
        if (!entry) continue;
        int32_t k = (int32_t)(entry - days);
        int32_t i = 0;
        while (i < record->barCounts[BAR_DAILY] && k < calendar.count) {
            int32_t date = AbsoluteDate((uint32_t)days[k]);
            int32_t barDate = record->bars[BAR_DAILY][i].date;
            if (days[k] < 0) {
                /* After a removal the walk stays on the day, which the next
                ** bar (the new first bar, when bar 0 went) may share. */
                if (date == barDate)
                    RemoveBar(record, i);
                else
                    k++;
                continue;
            }
            if (date < barDate) {
                /* Never before the first bar: a symbol starts when it starts. */
                if (i > 0) {
                    if (!InsertPaddingBar(record, i, date)) return 0;
                    i++;
                }
                k++;
                continue;
            }
            if (date == barDate) k++;
            i++;
        }
    }
    return 1;
}
