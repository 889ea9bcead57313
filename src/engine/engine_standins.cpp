/* engine_standins.cpp -- engine routines whose owners are not built yet. */
#include "engine/optimizer.h"
#include "engine/orders.h"
#include "engine/walk_forward.h"
#include "script/eval/eval_context.h"

/* ==== STANDIN: replaced by the optimizer ============================================ */

/* STANDIN: one test per run. */
int32_t ShowOptimizerDialog(int, int32_t *keptRows)
{
    if (keptRows) *keptRows = 1;
    return 1;
}

/* STANDIN: no further combination. */
int NextParameterCombination(int32_t)
{
    return 0;
}

/* ==== STANDIN: replaced by the walk-forward periods ================================= */

/* STANDIN: the script is left as it is. */
void InsertWalkForwardSection()
{
}

/* ==== STANDIN: replaced by order-list generation ==================================== */

/* STANDIN: no order list is written. */
void GenerateOrderList(EvalContext *)
{
}
