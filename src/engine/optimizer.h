/* optimizer.h -- the parameter combinations of an optimization run. */
#pragma once
#include <cstdint>

/* Resets the optimization state and, in an Optimize run, asks for its
** choices; the number of tests of the run (1 for a single test), 0 when
** cancelled.  keptRows (may be null) gets the kept-row count. */
int32_t ShowOptimizerDialog(int resetOnly, int32_t *keptRows);
/* Sets the parameter combination of test testsDone; 0 when none is left. */
int NextParameterCombination(int32_t testsDone);
