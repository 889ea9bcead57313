/* walk_forward.h -- the time units of an optimization's intervals and the
** walk-forward record of each interval's best values.
**
** Reads:      gOptimizer (range start and end, current interval start),
**             the daily master date list.
** Owns:       nothing of its own: the dates go to gWalkForwardDates, the
**             values to each optimized Parameter's walk-forward list, both
**             sized by ShowOptimizerDialog.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

/* OptTimeUnit */
enum TimeUnit {
    TIME_UNIT_NONE = 0,
    TIME_UNIT_DAYS = 1,
    TIME_UNIT_WEEKS = 2,
    TIME_UNIT_MONTHS = 3,
    TIME_UNIT_YEARS = 4,
    TIME_UNIT_COUNT = 5
};

/* Number of units from the range start to the range end. */
int32_t CountTimeUnits(int unit);
/* A key that changes when a new period of the unit begins. */
int32_t PeriodKey(int32_t date, int unit);
/* The first trading day of the n-th period after the current interval
** start; the interval start itself for n below 1 or no unit. */
int32_t AdvanceTimeUnits(int unit, int32_t n);
/* Checks, before an optimization with OptWalkForward runs, that every
** interval begins inside the range, ends after the one before it and,
** but for the last, is followed by a date of the data to play its values
** on; 1, or 0 after reporting the first interval that does not. */
int CheckWalkForwardIntervals();
/* Records the dates of an interval and its parameters' best values; offset
** is 1 when an interval ends during the run, 0 at its end. */
void RecordWalkForwardStep(int32_t offset);
/* Writes the WalkForward section text into text (at most size bytes incl. the
** NUL); the number of bytes, 0 when it does not fit.  Resets the optimized
** parameters' current indexes. */
int32_t BuildWalkForwardSection(char *text, int32_t size);
/* Records the last interval and builds the WalkForward section of the
** optimization's best values, kept for InsertWalkForwardSection; resets the
** optimized parameters' current indexes.  1, or 0 when memory fails. */
int PrepareWalkForwardSection();
/* Writes the section (prepared first when it was not) into the active
** script: appended to its editor window, which is opened or brought forward
** (*pEditor gets it) and, in an unattended run, saved; or, in an unattended
** run of a program without editor windows, appended to the script file
** itself (*pEditor null).  1, or 0 after reporting a file that could not be
** written. */
int InsertWalkForwardSection(void **pEditor);
/* Forgets a prepared section: a stopped run changes no script. */
void DropWalkForwardSection();
/* The walk-forward interval a date belongs to, by the script's dates: each
** date but the last begins an interval, and the last is the last interval's
** own last day, so the interval after every one of them (the count of dates
** less one) begins the day after it; 0 before the second date or without
** dates.  Every mode plays by it: a test in or out of sample, an
** optimization's playbacks and the orders of the day after a run. */
int32_t WalkForwardIntervalOf(int32_t date);
/* The first day of an interval WalkForwardIntervalOf gives. */
int32_t WalkForwardIntervalStart(int32_t interval);
/* Moves FirstDate (and the panel's first date) on to the first
** out-of-sample date, the day after the first interval, when it lies
** earlier: an out-of-sample test holds no date its values were chosen on,
** in an optimization's playback as in a later test or orders run of the
** script.  1; 0, with FirstDate left as it was, when no bar of the run's
** bar size lies from there to LastDate: the run ends before its
** out-of-sample test could begin. */
int BeginOutOfSampleTest();
/* Says, as a notice, that the run ends on its LastDate before the first
** out-of-sample date, so it has no out-of-sample test. */
void NoteNoOutOfSampleTest();
