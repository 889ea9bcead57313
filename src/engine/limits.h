/* limits.h -- which of a date's setups may be entered: ranking by score,
** the MaxSetups cut, the selection turns ordered by StrategyScore, and the
** position, exposure, cash, category and symbol limits of a strategy and of
** every group it belongs to.
**
** Owns:       nothing of its own; it writes the setups' kept, skipped, rank
**             and selection fields and the pending figures of
**             gPositionState.
** Errors:     none reported; a limit that refuses a setup skips it with its
**             SkipReason code, or reduces it when the strategy's Reduce
**             allows.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "engine/positions.h"

/* Skip codes of a setup (indexes of kSkipReasonText). */
enum SkipCode {
    SKIP_NONE = 0,
    SKIP_MAX_INVESTED = 1,
    SKIP_MAX_POSITIONS = 2,
    SKIP_MAX_ENTRIES = 3,
    SKIP_MAX_SAME_CATEGORY = 4,
    SKIP_MAX_SAME_SYMBOL = 5,
    SKIP_ZERO_QUANTITY = 6,
    SKIP_LIMIT_NOT_HIT = 7,
    SKIP_STOP_NOT_HIT = 8,
    SKIP_AMBIGUOUS_TIMING = 9,
    SKIP_ENTRY_SKIP = 10,
    SKIP_MAX_SETUPS = 11,
    SKIP_MAX_EXPOSURE = 12,
    SKIP_MAX_NEW_POSITIONS = 13,
    SKIP_MAX_NEW_EXPOSURE = 14,
    SKIP_MAX_NEW_INVESTED = 15,
    SKIP_STOP_LIMIT_NOT_HIT = 16,
    SKIP_NO_DATA = 17,
    SKIP_ZERO_VOLUME = 18,
    SKIP_SETUP_SKIP = 19,
    SKIP_MAX_LONG_EXPOSURE = 20,
    SKIP_MAX_LONG_INVESTED = 21,
    SKIP_MAX_NET_EXPOSURE = 22,
    SKIP_MAX_NET_INVESTED = 23,
    SKIP_MAX_SHORT_EXPOSURE = 24,
    SKIP_MAX_SHORT_INVESTED = 25,
    SKIP_MIN_FREE_CASH = 26,
    SKIP_MIN_NET_EXPOSURE = 27,
    SKIP_MIN_NET_INVESTED = 28,
    SKIP_MAX_SYMBOL_EXPOSURE = 29,
    SKIP_MAX_SYMBOL_INVESTED = 30,
    SKIP_MAX_CATEGORY_EXPOSURE = 31,
    SKIP_MAX_CATEGORY_INVESTED = 32,
    SKIP_END_OF_TEST = 33
};
static_assert(SKIP_END_OF_TEST + 1 == SKIP_REASON_COUNT, "one skip code per reason text");

/* Tests record (the setup's strategy or one of its parents) against every
** limit in turn; the first failure ends the checks.  Returns the setup's
** kept flag. */
int CheckSetupLimits(EvalContext *context, int32_t record, PositionRecord *setup);
/* One limit test: current figure against limit with sign; on failure the
** setup is reduced to what still fits (when the strategy's Reduce allows)
** or skipped with code.  1 when it passes or was reduced, 0 when skipped. */
int CheckLimitRule(int32_t strategy, PositionRecord *setup, double share, double current, double limit,
                   double sign, int32_t code);
/* The selection for the strategies of kind (Benchmark or Strategy), or for
** the one strategy named (index, -1 none). */
void SelectSetups(EvalContext *context, int32_t kind, int32_t strategy);
/* Sorts the strategy's setups for opening (two or more). */
void SortAndLogSetups(EvalContext *context, int32_t strategy);
/* The MaxEntries test of a kept setup against strategy (and, withParents,
** every group above it): 1 when it may be entered, 0 after skipping it with
** "max entries". */
int CheckEntriesLimit(int32_t strategy, PositionRecord *setup, int withParents);
