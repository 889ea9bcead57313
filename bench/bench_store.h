/* bench_store.h -- the generated store every benchmark measures on.
**
** MakeBenchStore fills gStore with `symbols` symbols over `years` years of
** weekdays from 2000 (28 days a month, about 5 in 7 of them market days),
** each symbol starting (index mod 700) days late, with a random walk from
** the classic generator seeded 12345, so every program and every run sees
** the same bars.  With splitSome, every tenth symbol (index mod 10 == 3)
** carries a 2:1 split factor on its first half.  Returns the daily bars made.
** The caller starts from an empty store and frees it as the store's reset does. */
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"

inline int64_t MakeBenchStore(int32_t symbols, int32_t years, bool splitSome = false)
{
    std::vector<int32_t> days;
    for (int y = 2000; y < 2000 + years; y++)
        for (int m = 1; m <= 12; m++)
            for (int d = 1; d <= 28; d++)
                if ((y * 372 + m * 31 + d) % 7 < 5) days.push_back(y * 10000 + m * 100 + d);
    DateList &daily = gStore.dateLists[BAR_DAILY];
    AllocMemory(&daily.dates, (days.size() + 1) * sizeof(uint32_t));
    for (size_t i = 0; i < days.size(); i++) daily.dates[i] = (uint32_t)days[i];
    daily.count = (int32_t)days.size();
    daily.capacity = daily.count + 1;
    for (int b = BAR_WEEKLY; b < BAR_SIZE_COUNT; b++) AllocMemory(&gStore.dateLists[b].dates, sizeof(uint32_t));

    int64_t bars = 0;
    AllocMemory(&gStore.symbols, (uint64_t)(symbols + 1) * sizeof(SymbolRecord));
    uint32_t state = 12345;
    for (int32_t s = 0; s < symbols; s++) {
        SymbolRecord &r = gStore.symbols[s];
        FormatText(r.info.Symbol, sizeof r.info.Symbol, "S%05d", s);
        r.info.PointValue = 1.0;
        r.info.TickSize = 0.01;
        r.firstUsedDate = FIRST_USED_NONE;
        int32_t first = s % 700;
        int32_t n = daily.count - first;
        AllocMemory(&r.bars[BAR_DAILY], (uint64_t)(n + 1) * sizeof(Bar));
        double price = 20.0 + s % 90;
        for (int32_t i = 0; i < n; i++) {
            state = state * 214013u + 2531011u;
            double move = ((double)((state >> 16) & 0x7FFF) / 32767.0 - 0.5) * 0.04;
            Bar &bar = r.bars[BAR_DAILY][i];
            bar.date = days[(size_t)(first + i)];
            bar.open = price;
            price *= 1.0 + move;
            bar.close = price;
            bar.high = std::max(bar.open, bar.close) * 1.01;
            bar.low = std::min(bar.open, bar.close) * 0.99;
            bar.volume = 1000.0 + (state & 1023);
            bar.split = splitSome && s % 10 == 3 && i < n / 2 ? 2.0 : 1.0;
        }
        r.barCounts[BAR_DAILY] = n;
        r.firstDate = r.bars[BAR_DAILY][0].date;
        r.lastDate = r.bars[BAR_DAILY][n - 1].date;
        bars += n;
    }
    gStore.symbolCount = symbols;
    gStore.firstDate = days.front();
    gStore.lastDate = days.back();
    BuildCalendarSymbol();
    return bars;
}
