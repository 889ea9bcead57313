/* value_access.h -- accessors that reach a context's bar and its period.
**
** GetPeriodFirstDate and SyncContextBar are shared by the bar lookups, the
** getters and the built-ins.  Neither reports an error: they give the date
** itself or no bar when there is nothing to find.
** Threads:    any thread; SyncContextBar writes only its context and the
**             symbol's lookup hint of the context's worker slot.
*/
#pragma once
#include <cstdint>

#include "script/eval/eval_context.h"

/* The first market date of the period of barSize (0..4) that holds date, on
** the daily master list.  Daily, or count above 1, gives the date itself; a
** date before the first listed date gives that first date. */
int32_t GetPeriodFirstDate(int32_t date, int32_t count, int32_t barSize);

/* Finds the context symbol's bar for the context date at the context's bar
** size and phase; sets barIndex and lastBar (-1 when no bar completed).
** Returns the bar, or null (indexes then unchanged). */
Bar *SyncContextBar(EvalContext *context);
