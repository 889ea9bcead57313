/* order_exits.cpp -- what an open position's exit orders rest on: the bar the
** orders are written from, the quantity of each exit order and whether the
** exit rule will certainly fire at the next order. */
#include <cmath>

#include "engine/orders.h"
#include "engine/test_records.h"
#include "foundation/numbers.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/formula.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/strategy.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"

const Bar *GetOrderBar(EvalContext *context)
{
    return SyncContextBar(context);
}

double ComputeExitQuantity(EvalContext *context, uint32_t slot, double factor, char *out)
{
    PositionRecord *p = context->position;
    double own = p->entrySplit != 0 ? p->entrySplit : 1.0;
    double base = factor != 0 ? p->quantity * own / factor : p->quantity;
    double quantity = base;
    FormulaSlot *formula = &context->strategy->slots[slot];
    if (IsSlotGiven(formula)) {
        double value = 0;
        EvalFormulaSlot(formula, context, &value);
        quantity = std::fmin(std::fmax(value, 0.0), base);
    }
    if (p->quantityStep > 0) quantity = RoundToStep(quantity, p->quantityStep, 0);
    FormatTrimmedNumber(quantity, out);
    return quantity;
}

/* A slot compiled to one constant node, and that constant's value. */
static bool SlotConstant(const FormulaSlot *slot, double *value)
{
    const FormulaNode *nodes = slot->nodes[0];
    if (!nodes || slot->count != 1 || nodes[0].constantFlag != 1) return false;
    *value = nodes[0].textFlag ? (nodes[0].constant != 0 ? 1.0 : 0.0) : nodes[0].constant;
    return true;
}

int IsExitRuleCertain(EvalContext *context)
{
    StrategyRecord *r = context->strategy;
    FormulaSlot *rule = &r->slots[SLOT_EXIT_RULE];
    if (r->ExitTime == TIME_NEXT_CLOSE) {
        PositionRecord *p = context->position;
        return EvalFormulaText(rule, context, p->label, POSITION_TEXT_SIZE) && p->label[0] != 0;
    }
    if (r->ExitTime != TIME_THIS_CLOSE || gScriptSettings.OrdersLiveData) return 0;
    double value = 0;
    return SlotConstant(rule, &value) && (value != 0 || std::isnan(value));
}
