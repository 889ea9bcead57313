/* cross_section_hooks.h -- what the per-date pass of the data calculation asks
** of the cross-sectional statistics (#Rank, #Avg, ... with their group
** modifiers): building a worker's group keys and replacing one date's values
** across symbols by the statistic of that date.
**
** STANDIN: until the cross-sectional statistics are built, script_standins.cpp
** answers all three without computing anything: no keys are built and every
** date's values stay the per-symbol arguments of the first pass.  The
** cross-sectional module defines the routines of the same names instead.
** Threads:    called by per-date workers; each touches only its own context.
*/
#pragma once
#include <cstdint>

struct CalcWorkerContext;

/* One position of a per-date pass: the symbol, whether a group starts here,
** and the group key text. */
struct GroupKeyEntry {
    int32_t symbol;
    int32_t groupStart;
    const char *key;
};

/* One collected value of a per-date pass. */
struct RankValueEntry {
    int32_t position;
    double value;
};

/* Allocates the worker's position arrays and, with a group modifier, sorts
** them into groups.  1, or 0 with the worker's stop flag set. */
int BuildGroupKeys(CalcWorkerContext *worker);
/* Runs CalcItemForDate for every group start on date.  1, or 0 when stopped
** or failed. */
int CalcGroupsForDate(int32_t date, CalcWorkerContext *worker);
/* Replaces the values of date (of the worker's group) by the statistic.  1,
** or 0 when the stop flag is set. */
int CalcItemForDate(int32_t date, CalcWorkerContext *worker);
