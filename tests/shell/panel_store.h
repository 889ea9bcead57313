/* panel_store.h -- a small loaded store for the panel tests: the market days
** of 2 January .. 28 March 2024 (weekdays without 1 and 15 January, 19
** February; 29 March is Good Friday), their weekly list (the last market day
** of each week), "AAA" trading every day with close 100 + bar index, and
** "LATE" trading from 1 February with close 50 + bar index. */
#pragma once
#include <cstdint>
#include <vector>

#include "support/program_state.h"

struct PanelStoreTest : ProgramStateTest {
    std::vector<int32_t> days, weeks;
    void SetUp() override;
    void TearDown() override;
};
