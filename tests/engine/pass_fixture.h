/* pass_fixture.h -- a small hand-made market, strategies whose formulas
** are compiled from text, a test record with its cell grid, and a date loop
** that runs the exit and entry passes phase by phase. */
#pragma once
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "engine/positions.h"
#include "engine_fixture.h"
#include "support/program_state.h"

struct PassTest : ProgramStateTest {
    std::vector<StrategyRecord> strategies;
    std::deque<std::string> texts; /* the formula texts never move */
    TestRecord test{};
    EvalContext ctx{};
    StrategyRecord *savedStrategies = nullptr;
    int32_t savedCount = 0;

    void SetUp() override;
    void TearDown() override;

    /* Loads symbols (in sorted order) over the same dates. */
    void LoadMarket(const std::vector<std::pair<const char *, std::vector<DayBar>>> &symbols);
    /* Adds a long Strategy with the defaults of a compiled script. */
    StrategyRecord &AddStrategy(const char *name, int32_t kind = STRATEGY_KIND_STRATEGY);
    /* Compiles text into the slot of strategy index s. */
    void SetFormula(int32_t s, int32_t slot, const std::string &text);
    /* Makes the test record (one row per date) and the position state. */
    void StartTest(double accountSize = 100000);
    /* Starts row r's cells from row r - 1 and points the context at it. */
    void StartRow(int32_t r);
    /* Runs the open, intraday and close phases of row r. */
    void RunRow(int32_t r);
    /* Runs every row. */
    void RunAll();
    StatCell *Cell(int32_t row, int32_t s) { return &test.cells[row * test.strategyCount + s]; }
    /* The symbols strategy s holds, each followed by a space. */
    std::string Held(int32_t s) const;
    /* Each kept skipped trade as its symbol, reason code and a space. */
    std::string Skipped() const;
    /* Adds Alpha and Beta, members of a group record of kind (index 2). */
    void AddGroupedPair(int32_t kind);
    /* Starts afresh, as the next test would. */
    void Restart()
    {
        TearDown();
        SetUp();
    }
};
