/* store_fixture.h -- builds small loaded-data sets in memory for the store tests. */
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/dates.h"
#include "marketdata/store/symbols.h"

/* Weekdays from..to (inclusive) without the dates in closed. */
std::vector<int32_t> MarketDays(int32_t from, int32_t to, std::initializer_list<int32_t> closed = {});
/* A period key computed without the store's own period rules: calendar
** weeks (Monday..Sunday), months, quarters and years; daily, the date. */
inline int64_t PeriodKey(int32_t date, int barSize)
{
    switch (barSize) {
    case BAR_WEEKLY: return DaysBetween(19000101, date) / 7; /* 1 January 1900 is a Monday */
    case BAR_MONTHLY: return date / 100;
    case BAR_QUARTERLY: return date / 10000 * 10 + (date / 100 % 100 - 1) / 3;
    case BAR_YEARLY: return date / 10000;
    default: return date;
    }
}

/* Indexes of the last day of each period of barSize in the ascending days. */
inline std::vector<size_t> PeriodLastIndexes(const std::vector<int32_t> &days, int barSize)
{
    std::vector<size_t> last;
    for (size_t i = 0; i < days.size(); i++)
        if (i + 1 == days.size() || PeriodKey(days[i], barSize) != PeriodKey(days[i + 1], barSize)) last.push_back(i);
    return last;
}

/* The last day of each period of barSize (daily: every day) in the ascending days. */
inline std::vector<int32_t> PeriodEnds(const std::vector<int32_t> &days, int barSize)
{
    std::vector<int32_t> ends;
    for (size_t i : PeriodLastIndexes(days, barSize)) ends.push_back(days[i]);
    return ends;
}

/* Installs days as the daily master list, the four derived lists (each period
** dated by its last market day) and the loaded data's first and last date. */
void SetMasterDates(const std::vector<int32_t> &days);
/* Fills record with daily bars on days (close = firstClose + index, volume
** from volumes when given, else 1000) and bars of the derived sizes. */
void MakeSymbol(SymbolRecord *record, const char *symbol, const std::vector<int32_t> &days, double firstClose,
                const std::vector<double> &volumes = {});
/* Makes gStore.symbols from the given records (sorted by symbol) and returns their
** number by symbol text. */
void InstallSymbols(std::vector<SymbolRecord> records);
/* Frees and clears every store global. */
void ResetStore();

struct StoreTest : ::testing::Test {
    void SetUp() override { ResetStore(); }
    void TearDown() override { ResetStore(); }
};
