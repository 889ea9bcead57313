/* cross_section.h -- cross-sectional statistics: the #Avg, #Rank, ... items
** whose value on a date is taken across all symbols (or the symbols of one
** group, or the strategies of one result row) on that date.
**
** The per-symbol pass of the data calculation first stores each symbol's
** argument in the item's own cells; the per-date pass then collects the
** values of a date across the members and writes the statistic back over
** them.  Group modifiers (#ByIndu, ...) split the symbols by a text of their
** symbol information; a symbol with an empty key belongs to no group and
** keeps its argument.
**
** Owns:       nothing global.  A worker's position arrays (group keys with the
**             #ByListNum key texts behind them, collected values) belong to its
**             CalcWorkerContext and are freed by the worker.
** Order:      values are sorted ascending by CompareRankValues, equal values
**             (within the tolerance of CompareDouble) by position descending,
**             so among ties the lower position ranks better.
** Threads:    per-date workers; each writes only the cells of its own dates
**             and its own slot's bar hints.  A symbol's first used date is
**             lowered by atomic minimum, since other dates' workers touch it.
** Speed:      per date no allocation; the sort is the only work above linear.
*/
#pragma once
#include <cstdint>

struct CalcWorkerContext;
struct EvalContext;

/* One position of a per-date pass: the symbol, whether a group starts here,
** and the group key text. */
struct GroupKeyEntry {
    int32_t symbol;
    int32_t groupStart;
    const char *key;
};

/* One collected value: a position (or, across strategies, a strategy index). */
struct RankValueEntry {
    int32_t position;
    double value;
};

/* Allocates the worker's position arrays (S + 1 entries) when not yet there,
** fills the keys of its group modifier and, with one, sorts them into groups.
** 1, or 0 with the worker's stop flag set. */
int BuildGroupKeys(CalcWorkerContext *worker);
/* Runs CalcItemForDate for every group start on date.  1, or 0 when stopped
** or failed. */
int CalcGroupsForDate(int32_t date, CalcWorkerContext *worker);
/* Replaces the values of date (of the worker's group) by the statistic.  1,
** or 0 when the stop flag is set. */
int CalcItemForDate(int32_t date, CalcWorkerContext *worker);

/* Rank (1 = highest) of (position, value) among n sorted values, or -1. */
int RankValue(const RankValueEntry *sorted, int n, int position, double value, int function);
/* Sort comparators over GroupKeyEntry and RankValueEntry. */
int CompareGroupKeys(const void *a, const void *b);
int CompareRankValues(const void *a, const void *b);

/* The statistic across the strategies of the context's test on its result
** row, for StratData item itemIndex.  1, or 0 when memory fails. */
int CalcItemAcrossStrategies(EvalContext *context, int itemIndex, int function, double parameter);
