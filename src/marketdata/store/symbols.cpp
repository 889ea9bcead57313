/* symbols.cpp -- the symbol array, the calendar pseudo-symbol and the bar lookups. */
#include "marketdata/store/symbols.h"

SymbolRecord *gSymbols = nullptr;
int32_t gSymbolCount = 0;
DateList gDateLists[BAR_SIZE_COUNT] = {
    {nullptr, 0, 0, BAR_DAILY, 0},
    {nullptr, 0, 0, BAR_WEEKLY, 0},
    {nullptr, 0, 0, BAR_MONTHLY, 0},
    {nullptr, 0, 0, BAR_QUARTERLY, 0},
    {nullptr, 0, 0, BAR_YEARLY, 0},
};
SymbolRecord gCalendarSymbol = {};
int32_t gDataFirstDate = 0;
int32_t gDataLastDate = 0;
int32_t gDataKeepAdjusted = 0;
