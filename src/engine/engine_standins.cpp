/* engine_standins.cpp -- engine routines whose owners are not built yet. */
#include "engine/orders.h"
#include "script/eval/eval_context.h"

/* ==== STANDIN: replaced by order-list generation ==================================== */

/* STANDIN: no order list is written. */
void GenerateOrderList(EvalContext *)
{
}
