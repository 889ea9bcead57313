/* entry_pass.h -- the entry pass of a test date's phase: the strategies'
** limit formulas, the setups of every symbol, their selection and opening.
*/
#pragma once
#include <cstdint>

struct EvalContext;

/* Runs the entry pass for the context's date and phase; leaves the run's bar
** size in the context. */
void RunEntryPass(EvalContext *context);
