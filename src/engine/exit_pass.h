/* exit_pass.h -- the exit pass of a test date's phase: open positions valued,
** ranked and checked for every kind of exit, and the exits executed.
*/
#pragma once
#include <cstdint>

struct EvalContext;

/* Runs the exit pass (forcedReason 0, or an exit reason applied to every
** open position); the number of exits. */
int32_t RunExitPass(EvalContext *context, int32_t forcedReason);
