/* script_standins.cpp -- script-language services whose owners are not built yet. */
#include "script/datacalc/data_calc.h"

/* ==== STANDIN: replaced by the StratData calculation =============================== */

/* STANDIN: no per-strategy arrays are needed while StratData items are not calculated. */
int AllocStrategyArrays()
{
    return 1;
}

/* STANDIN: StratData items keep no values. */
void CalcStrategyItems(EvalContext *)
{
}

/* STANDIN: StratData aggregates keep no values. */
void CalcStrategyAggregates(EvalContext *)
{
}
