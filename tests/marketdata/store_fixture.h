/* store_fixture.h -- builds small loaded-data sets in memory for the store tests. */
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "marketdata/store/symbols.h"

/* Weekdays from..to (inclusive) without the dates in closed. */
std::vector<int32_t> MarketDays(int32_t from, int32_t to, std::initializer_list<int32_t> closed = {});
/* Installs days as the daily master list, the four derived lists (each period
** dated by its last market day) and the loaded data's first and last date. */
void SetMasterDates(const std::vector<int32_t> &days);
/* Fills record with daily bars on days (close = firstClose + index, volume
** from volumes when given, else 1000) and bars of the derived sizes. */
void MakeSymbol(SymbolRecord *record, const char *symbol, const std::vector<int32_t> &days, double firstClose,
                const std::vector<double> &volumes = {});
/* Makes gSymbols from the given records (sorted by symbol) and returns their
** number by symbol text. */
void InstallSymbols(std::vector<SymbolRecord> records);
/* Frees and clears every store global. */
void ResetStore();

struct StoreTest : ::testing::Test {
    void SetUp() override { ResetStore(); }
    void TearDown() override { ResetStore(); }
};
