/* engine_fixture.h -- a small loaded data set made by hand and a compiled
** script, for running tests through the engine. */
#pragma once
#include <gtest/gtest.h>
#include <cstdint>
#include <string>
#include <vector>

#include "records/test_records.h"
#include "marketdata/store/symbols.h"
#include "support/program_state.h"

/* One daily bar as a test writes it. */
struct DayBar {
    int32_t date;
    double open, high, low, close;
    double volume = 1000;
    double split = 1.0;
};

/* Weekdays from..to. */
std::vector<int32_t> Weekdays(int32_t from, int32_t to);
/* A key equal for the days of one period of barSize (weeks from Monday). */
int64_t PeriodOf(int32_t date, int barSize);
/* Bars on the days with open = high = low = close = the price given per day. */
std::vector<DayBar> FlatBars(const std::vector<int32_t> &days, const std::vector<double> &closes);

struct EngineTest : ProgramStateTest {
    std::string scripts;
    std::vector<int32_t> days; /* the market days of the data */
    void SetUp() override;
    void TearDown() override;
    /* Installs the market days (master lists and calendar) and the symbols. */
    void LoadStore(const std::vector<int32_t> &marketDays,
                   const std::vector<std::pair<std::string, std::vector<DayBar>>> &symbols);
    /* Installs the weekdays from..to as the market days, with one symbol at
    ** price on every one of them. */
    void LoadFlat(const char *symbol, int32_t from, int32_t to, double price = 10);
    /* Writes a script file (relative to the scripts folder); its path. */
    std::string Write(const std::string &name, const std::string &text);
    /* Writes main.kvs as the active script and runs it in mode. */
    int Run(const std::string &text, int mode = 3);
    /* The last test listed, or null. */
    TestRecord *LastTest() const;
    /* Runs the script in mode 3 and gives the trades of the test it listed
    ** when it ran cleanly and made count trades; null, with the failure
    ** reported, otherwise. */
    const TradeRecord *TradesOfRun(int32_t count, const std::string &text);
    /* The number of tests listed. */
    int32_t Listed() const;
    /* The cell of strategy s on row r of test. */
    const StatCell *Cell(const TestRecord *test, int32_t row, int32_t s) const;
};

/* A test that writes orders: the Output\Orders folder made, and every
** symbol on one exchange with an opening auction and market-on-close
** orders; the exchange map the runs loaded is forgotten at the end. */
struct OrdersTest : EngineTest {
    void SetUp() override;
    void TearDown() override;
    /* The text of a file the run wrote in Output\Orders. */
    std::string OrdersFile(const char *name);
};

/* Empties every compiled-script list and frees its records. */
void FreeCompiledScript();
/* Frees and clears every store global. */
void ResetStore();
