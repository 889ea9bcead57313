/* orders.h -- the order list for the next trading day. */
#pragma once

struct EvalContext;

/* Generates the order list of every strategy for the order date; failures
** are reported and end the generation. */
void GenerateOrderList(EvalContext *context);
