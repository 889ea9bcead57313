/* block_plan.cpp -- formulas of bar values, numbers, brackets and operators
** computed by their operand tree: a run of bars per step (EvalFormulaBars,
** EvalFormulaPlanned) or one bar from the plan kept in the end node (for
** EvalFormula), each agreeing with the walk bar for bar. */
#include "script/eval/block_plan.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "foundation/settings_table.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/definitions.h"
#include "script/eval/eval_int.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"

/* ============================================================================
** Blocks of bars
** ========================================================================== */

/* One plan serves both paths: a run of bars (EvalFormulaBars) and, kept in
** the end node as a WalkPlan, a single bar (EvalFormula). */

/* A formula of number constants, plain bar values with constant offsets,
** brackets and operators has no control flow but its short circuits, and
** those only choose between two values per bar.  Such a formula is turned
** into a plan, the walk's operand tree in evaluation order, and each plan
** step runs over a run of bars at once.  Every step keeps, per bar, the value
** and data type the walk would leave in the step's first node and whether the
** walk would have failed there; a short-circuited right operand is computed
** too but its failure does not count, as the walk never evaluates it.  A bar
** that fails anywhere is then walked by EvalFormula, so the block path never
** has to reproduce a failure, only the values of a success. */

enum : uint8_t { PLAN_CONSTANT = 0,
                 PLAN_TERM = 1,
                 PLAN_TERM_CONSTANT = 2,
                 PLAN_GROUP = 3,
                 PLAN_OPERATOR = 4 };
enum { PLAN_MAX_STEPS = 32,
       PLAN_LANES = 128 };

struct PlanStep {
    uint8_t kind;              /* PLAN_... */
    uint8_t unary;             /* UnaryOp of a term or a group */
    uint8_t dataType;          /* of a bar value term */
    uint8_t left, right;       /* steps of a group's content (left) or an operator's operands */
    uint32_t item;             /* bar value or operator row */
    int32_t barsBack;          /* of a term */
    double constant;           /* PLAN_CONSTANT: the folded value; PLAN_TERM_CONSTANT: the number */
    const FormulaNode *source; /* the node of a constant */
    const double *series;      /* a Data item's values for the context symbol, one per bar */
    uint32_t *format;          /* that item's result format */
};

struct BlockPlan {
    PlanStep steps[PLAN_MAX_STEPS];
    int32_t count;
};

/* The bar values a plan reads, with the data type each gives. */
static int32_t PlanBarDataType(uint32_t item)
{
    switch (item) {
    case ITEM_OPEN:
    case ITEM_HIGH:
    case ITEM_LOW:
    case ITEM_CLOSE:
    case ITEM_RANGE:
    case ITEM_TRUE_RANGE:
    case ITEM_NEXT_OPEN: return DATA_TYPE_PRICE;
    case ITEM_VOLUME: return DATA_TYPE_VOLUME;
    case ITEM_EXTRA:
    case ITEM_BAR_NUM:
    case ITEM_BARS_LEFT: return DATA_TYPE_NONE;
    default: return -1;
    }
}

/* A Data item read at the context's own bar size, one value per bar, as
** GetBarValue reads it from the symbol's block: its values and its result
** format for the step.  Items kept per date or per symbol, or at another bar
** size, are aligned by date and stay with the walk. */
static bool PlanDataSeries(const FormulaNode *node, const EvalContext *context, PlanStep *step)
{
    if (!context) return false;
    FormulaItem *item = DefinitionItem(SECTION_DATA, node->index);
    const SymbolRecord *symbol = context->symbol;
    if (!item || item->onePerDate || item->onePerSymbol || DataItemBarSize(item) != context->barSize) return false;
    if (!symbol || !symbol->dataValues[0] || !symbol->dataOffsets[0]) return false;
    step->series = symbol->dataValues[0] + symbol->dataOffsets[0][node->index];
    step->format = &item->formula.resultFormat;
    return true;
}

static bool IsPlanOperator(uint32_t item)
{
    return item >= ITEM_POWER && item <= ITEM_OR && item != ITEM_NOT;
}

static int AddPlanStep(BlockPlan *plan, const PlanStep &step)
{
    if (plan->count >= PLAN_MAX_STEPS) return -1;
    plan->steps[plan->count] = step;
    return plan->count++;
}

/* Follows EvalNodes from *position over the same nodes without evaluating:
** adds the steps of what it would compute and gives the step of the result,
** or -1 when the walk does anything a plan cannot (a node of another kind, an
** offset that is not a number, a malformed array). */
static int PlanWalk(BlockPlan *plan, const FormulaNode **position, uint32_t minPrecedence, uint32_t stopItem,
                    int32_t barsBack, int depth, const EvalContext *context)
{
    const FormulaNode *start = *position;
    if (depth > 64) return -1;
    if (start->constantFlag) {
        if (start->category != CAT_CONSTANT || start->item != ITEM_NUMBER || !IsStop(start + 1, stopItem)) return -1;
        *position = start + 1;
        PlanStep step{};
        step.kind = PLAN_CONSTANT;
        step.constant = start->value;
        step.source = start;
        return AddPlanStep(plan, step);
    }
    int32_t offset = 0;
    if (start->barsBackLink) {
        const FormulaNode *expression = start + start->barsBackLink;
        if (!expression->constantFlag || expression->item != ITEM_NUMBER ||
            (expression + 1)->item != ITEM_CLOSE_BRACKET)
            return -1;
        double v = trunc(expression->value);
        if (std::isnan(v)) return -1;
        offset = v > BARS_BACK_LIMIT ? BARS_BACK_LIMIT : v < -BARS_BACK_LIMIT ? -BARS_BACK_LIMIT
                                                                              : (int32_t)v;
    }
    const FormulaNode *p = start;
    int result = -1;
    while (!IsStop(p, stopItem)) {
        if (p->category != CAT_OPERATOR) {
            /* Past the first operand, the walk meets terms only inside a
            ** short circuit, and those belong to an operator's operand. */
            if (result >= 0) return -1;
            int32_t back = AddBarsBack(barsBack, offset);
            PlanStep step{};
            step.unary = (uint8_t)p->unary;
            if (p->item == ITEM_OPEN_PAREN) {
                const FormulaNode *inner = p + 1;
                int content = PlanWalk(plan, &inner, 0, ITEM_CLOSE_PAREN, back, depth + 1, context);
                if (content < 0 || inner->item != ITEM_CLOSE_PAREN) return -1;
                step.kind = PLAN_GROUP;
                step.left = (uint8_t)content;
            } else if (p->category == CAT_CONSTANT && p->item == ITEM_NUMBER) {
                step.kind = PLAN_TERM_CONSTANT;
                step.constant = p->constant;
                step.source = p;
            } else if (p->category == CAT_BAR_VALUE && PlanBarDataType(p->item) >= 0) {
                step.kind = PLAN_TERM;
                step.item = p->item;
                step.dataType = (uint8_t)PlanBarDataType(p->item);
                step.barsBack = back;
            } else if (p->item == ITEM_DATA_REF && PlanDataSeries(p, context, &step)) {
                step.kind = PLAN_TERM;
                step.item = p->item;
                step.barsBack = back;
            } else {
                return -1;
            }
            result = AddPlanStep(plan, step);
            if (result < 0) return -1;
            offset = 0;
            p += p->width + 1;
            continue;
        }
        if (result < 0 || !IsPlanOperator(p->item)) return -1;
        uint32_t precedence = p->precedence;
        if (precedence <= minPrecedence) break;
        const FormulaNode *q = p + 1;
        int right = PlanWalk(plan, &q, precedence, stopItem, barsBack, depth + 1, context);
        if (right < 0) return -1;
        PlanStep step{};
        step.kind = PLAN_OPERATOR;
        step.item = p->item;
        step.left = (uint8_t)result;
        step.right = (uint8_t)right;
        result = AddPlanStep(plan, step);
        if (result < 0) return -1;
        p = q;
    }
    *position = p;
    return result;
}

/* The plan of a whole node array; 0 when it has none. */
static int BuildBlockPlan(const FormulaNode *nodes, BlockPlan *plan, const EvalContext *context)
{
    plan->count = 0;
    for (const FormulaNode *node = nodes; node->item != ITEM_END; node++) {
        /* A node with a text would take part in text comparisons. */
        if (node->text[0] || node->textFlag) return 0;
    }
    const FormulaNode *position = nodes;
    int root = PlanWalk(plan, &position, 0, ITEM_END, 0, 0, context);
    return root >= 0 && root == plan->count - 1 && position->item == ITEM_END;
}

/* What one plan step gives on a run of bars. */
struct PlanLanes {
    double value[PLAN_MAX_STEPS][PLAN_LANES];
    uint8_t dataType[PLAN_MAX_STEPS][PLAN_LANES];
    uint8_t failed[PLAN_MAX_STEPS][PLAN_LANES];
};

/* A bar value term on bars first .. first + n - 1, as GetBarValue and
** EvalTermNode give it: the price scale is each bar's own split factor.  One
** copy per item keeps the item's choice out of the loop. */
/* The bar value ITEM of bar j (inside the array) at the given price scale,
** as GetBarValue gives it; false when it has none.  series and format belong
** to a Data item. */
template <uint32_t ITEM>
static inline bool BarItemValue(const Bar *bars, int32_t count, int64_t j, double scale, const double *series,
                                uint32_t format, double *out)
{
    const Bar *bar = &bars[j];
    double f = SplitFactor(scale, bar->split);
    double v;
    bool ok = true;
    if constexpr (ITEM == ITEM_OPEN)
        v = f * bar->open;
    else if constexpr (ITEM == ITEM_HIGH)
        v = f * bar->high;
    else if constexpr (ITEM == ITEM_LOW)
        v = f * bar->low;
    else if constexpr (ITEM == ITEM_CLOSE)
        v = f * bar->close;
    else if constexpr (ITEM == ITEM_VOLUME)
        v = bar->volume / f;
    else if constexpr (ITEM == ITEM_EXTRA)
        v = bar->extra;
    else if constexpr (ITEM == ITEM_BAR_NUM)
        v = (double)(j + 1);
    else if constexpr (ITEM == ITEM_BARS_LEFT)
        v = (double)(count - j - 1);
    else if constexpr (ITEM == ITEM_RANGE)
        v = f * (bar->high - bar->low);
    else if constexpr (ITEM == ITEM_DATA_REF) {
        v = series[j];
        if (format == DATA_TYPE_PRICE)
            v *= f;
        else if (format == DATA_TYPE_VOLUME)
            v /= f;
    } else if constexpr (ITEM == ITEM_NEXT_OPEN) {
        ok = j + 1 < count;
        v = ok ? f * bar[1].open : 0;
    } else {
        static_assert(ITEM == ITEM_TRUE_RANGE, "a bar value or Data item of the plans");
        double high = bar->high * f, low = bar->low * f;
        if (j == 0) {
            v = high - low;
        } else {
            const Bar *previousBar = &bars[j - 1];
            double previous = previousBar->close * SplitFactor(scale, previousBar->split);
            v = (previous > high ? previous : high) - (previous < low ? previous : low);
        }
    }
    *out = v;
    return ok;
}

/* A bar value term on bars first .. first + n - 1, as GetBarValue and
** EvalTermNode give it: the price scale is each bar's own split factor.  One
** copy per item keeps the item's choice out of the loop. */
template <uint32_t ITEM>
static void RunTermLanes(const PlanStep &step, const Bar *bars, int32_t count, int32_t first, int n, uint32_t format,
                         double *value, uint8_t *failed)
{
    /* Locals: the byte stores below may alias anything, the step included. */
    const int32_t barsBack = step.barsBack;
    const uint32_t unary = step.unary;
    const double *series = step.series;
    if constexpr (ITEM == ITEM_DATA_REF) {
        /* A value that is no price or volume takes no split factor, so its
        ** run reads the item's values alone, not the bars. */
        if (format != DATA_TYPE_PRICE && format != DATA_TYPE_VOLUME) {
            for (int k = 0; k < n; k++) {
                int64_t j = (int64_t)(first + k) - barsBack;
                double v = j >= 0 && j < count ? series[j] : 0;
                bool ok = j >= 0 && j < count && std::isfinite(v);
                value[k] = ok ? ApplyUnary(unary, v) : 0;
                failed[k] = !ok;
            }
            return;
        }
    }
    for (int k = 0; k < n; k++) {
        int32_t i = first + k;
        int64_t j = (int64_t)i - barsBack;
        double v = 0;
        bool ok = j >= 0 && j < count && BarItemValue<ITEM>(bars, count, j, bars[i].split, series, format, &v) &&
            std::isfinite(v);
        value[k] = ok ? ApplyUnary(unary, v) : 0;
        failed[k] = !ok;
    }
}

static void RunTermStep(const PlanStep &step, const Bar *bars, int32_t count, int32_t first, int n, uint32_t format,
                        double *value, uint8_t *failed)
{
    switch (step.item) {
    case ITEM_OPEN: RunTermLanes<ITEM_OPEN>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_HIGH: RunTermLanes<ITEM_HIGH>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_LOW: RunTermLanes<ITEM_LOW>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_CLOSE: RunTermLanes<ITEM_CLOSE>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_VOLUME: RunTermLanes<ITEM_VOLUME>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_EXTRA: RunTermLanes<ITEM_EXTRA>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_BAR_NUM: RunTermLanes<ITEM_BAR_NUM>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_BARS_LEFT: RunTermLanes<ITEM_BARS_LEFT>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_RANGE: RunTermLanes<ITEM_RANGE>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_NEXT_OPEN: RunTermLanes<ITEM_NEXT_OPEN>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_TRUE_RANGE: RunTermLanes<ITEM_TRUE_RANGE>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_DATA_REF: RunTermLanes<ITEM_DATA_REF>(step, bars, count, first, n, format, value, failed); break;
    default:
        for (int k = 0; k < n; k++) failed[k] = 1;
        break;
    }
}

/* An operator over the lanes; one copy per operator. */
template <uint32_t OP>
static void RunOperatorLanes(const PlanStep &step, PlanLanes *lanes, int s, int n, int useShortCircuit,
                             double nearZero)
{
    const double *a = lanes->value[step.left], *b = lanes->value[step.right];
    const uint8_t *ta = lanes->dataType[step.left], *tb = lanes->dataType[step.right];
    const uint8_t *fa = lanes->failed[step.left], *fb = lanes->failed[step.right];
    double *value = lanes->value[s];
    uint8_t *dataType = lanes->dataType[s], *failed = lanes->failed[s];
    constexpr bool comparison = IsComparison(OP);
    constexpr bool zeroDecides = ZeroShortCircuits(OP);
    for (int k = 0; k < n; k++) {
        double left = a[k];
        if (useShortCircuit &&
            ((zeroDecides && left == 0) || (OP == ITEM_OR && (left != 0 || std::isnan(left))))) {
            value[k] = left;
            dataType[k] = 0;
            failed[k] = fa[k];
            continue;
        }
        int compare = 0;
        if constexpr (comparison)
            compare = CompareByDataType(left, b[k], ta[k], tb[k]);
        double v;
        uint32_t t;
        CombineNumbers(OP, left, b[k], ta[k], tb[k], compare, nearZero, &v, &t);
        value[k] = v;
        dataType[k] = (uint8_t)t;
        failed[k] = fa[k] | fb[k];
    }
}

static void RunOperatorStep(const PlanStep &step, PlanLanes *lanes, int s, int n, int useShortCircuit)
{
    double nearZero = gSettings.NearZero;
    switch (step.item) {
#define PLAN_OPERATOR_CASE(op) \
    case op: RunOperatorLanes<op>(step, lanes, s, n, useShortCircuit, nearZero); break;
        PLAN_OPERATOR_CASE(ITEM_POWER)
        PLAN_OPERATOR_CASE(ITEM_TIMES)
        PLAN_OPERATOR_CASE(ITEM_DIVIDE)
        PLAN_OPERATOR_CASE(ITEM_MOD)
        PLAN_OPERATOR_CASE(ITEM_PLUS)
        PLAN_OPERATOR_CASE(ITEM_MINUS)
        PLAN_OPERATOR_CASE(ITEM_GREATER)
        PLAN_OPERATOR_CASE(ITEM_GREATER_EQUAL)
        PLAN_OPERATOR_CASE(ITEM_LESS)
        PLAN_OPERATOR_CASE(ITEM_LESS_EQUAL)
        PLAN_OPERATOR_CASE(ITEM_EQUAL)
        PLAN_OPERATOR_CASE(ITEM_NOT_EQUAL)
        PLAN_OPERATOR_CASE(ITEM_AND)
        PLAN_OPERATOR_CASE(ITEM_OR)
#undef PLAN_OPERATOR_CASE
    default:
        for (int k = 0; k < n; k++) lanes->failed[s][k] = 1;
        break;
    }
}

static void RunPlan(const BlockPlan *plan, PlanLanes *lanes, const Bar *bars, int32_t count, int32_t first, int n)
{
    int useShortCircuit = gSettings.UseShortCircuit;
    for (int s = 0; s < plan->count; s++) {
        const PlanStep &step = plan->steps[s];
        switch (step.kind) {
        case PLAN_CONSTANT:
        case PLAN_TERM_CONSTANT: {
            double v = step.kind == PLAN_CONSTANT ? step.constant : ApplyUnary(step.unary, step.constant);
            uint8_t failed = step.kind == PLAN_TERM_CONSTANT && !std::isfinite(step.constant);
            for (int k = 0; k < n; k++) {
                lanes->value[s][k] = v;
                lanes->dataType[s][k] = 0;
                lanes->failed[s][k] = failed;
            }
            break;
        }
        case PLAN_TERM: {
            /* A Data item's format is read as the walk reads it, here once
            ** per run; it is its values' data type. */
            uint32_t format = step.item == ITEM_DATA_REF
                ? std::atomic_ref<uint32_t>(*step.format).load(std::memory_order_relaxed)
                : 0;
            RunTermStep(step, bars, count, first, n, format, lanes->value[s], lanes->failed[s]);
            memset(lanes->dataType[s], step.item == ITEM_DATA_REF ? (int)format : step.dataType, (size_t)n);
            break;
        }
        case PLAN_GROUP: {
            const uint32_t unary = step.unary;
            const int inner = step.left;
            for (int k = 0; k < n; k++) lanes->value[s][k] = ApplyUnary(unary, lanes->value[inner][k]);
            memcpy(lanes->dataType[s], lanes->dataType[inner], (size_t)n);
            memcpy(lanes->failed[s], lanes->failed[inner], (size_t)n);
            break;
        }
        case PLAN_OPERATOR: RunOperatorStep(step, lanes, s, n, useShortCircuit); break;
        default: break;
        }
    }
}

/* One bar by the walk, as a data calculation sets the context for it. */
static double WalkBar(FormulaNode *nodes, EvalContext *context, const Bar *bars, int32_t i, uint32_t *dataType)
{
    context->barIndex = i;
    context->lastBar = i;
    if (bars) context->date = bars[i].date;
    context->libraryDepth = 0;
    double value = EvalFormula(nodes, context);
    if (dataType) *dataType = nodes ? nodes[0].dataType : 0;
    return value;
}

/* The bars a run of count bars from first reads, and the plan it runs by.
** *bars (with *barCount) are the context symbol's bars at the context's bar
** size when all the run's bars are there, else null.  True with the plan
** when the run can go by it; false when the walk has to do every bar: no
** plan, a formula of one constant, or an evaluation only the walk gives
** (the Import flag, a trial bar, the trace). */
static bool PlanForBars(FormulaNode *nodes, const EvalContext *context, int32_t first, int32_t count, BlockPlan *plan,
                        const Bar **bars, int32_t *barCount)
{
    *barCount = 0;
    *bars = context->symbol ? GetBarArray(context->symbol, context->barSize, barCount) : nullptr;
    if (!*bars || count <= 0 || first < 0 || (int64_t)first + count > *barCount) {
        *bars = nullptr;
        return false;
    }
    if (!nodes || nodes[0].item == ITEM_END || (nodes[0].constantFlag && nodes[1].item == ITEM_END)) return false;
    if (context->importFlag || context->trialBar || TraceOn()) return false;
    return BuildBlockPlan(nodes, plan, context);
}

void EvalFormulaBars(FormulaNode *nodes, EvalContext *context, int32_t first, int32_t count, double *values,
                     uint32_t *dataTypes)
{
    if (count <= 0) return;
    const Bar *bars;
    int32_t barCount;
    BlockPlan plan;
    bool planned = PlanForBars(nodes, context, first, count, &plan, &bars, &barCount);
    int32_t end = first + count;
    if (!planned) {
        for (int32_t i = first; i < end; i++)
            values[i - first] = WalkBar(nodes, context, bars, i, dataTypes ? &dataTypes[i - first] : nullptr);
        return;
    }
    PlanLanes lanes;
    int root = plan.count - 1;
    /* The last bar always goes through EvalFormula, so the first node and
    ** the context end as a bar-by-bar evaluation leaves them. */
    int32_t planEnd = end - 1;
    for (int32_t run = first; run < planEnd; run += PLAN_LANES) {
        int n = planEnd - run < PLAN_LANES ? planEnd - run : PLAN_LANES;
        RunPlan(&plan, &lanes, bars, barCount, run, n);
        for (int k = 0; k < n; k++) {
            int32_t i = run + k;
            if (lanes.failed[root][k]) {
                values[i - first] = WalkBar(nodes, context, bars, i, dataTypes ? &dataTypes[i - first] : nullptr);
                continue;
            }
            double v = lanes.value[root][k];
            values[i - first] = std::isinf(v) ? NAN : v;
            if (dataTypes) dataTypes[i - first] = lanes.dataType[root][k];
        }
    }
    values[end - 1 - first] = WalkBar(nodes, context, bars, end - 1, dataTypes ? &dataTypes[end - 1 - first] : nullptr);
}

int EvalFormulaPlanned(FormulaNode *nodes, EvalContext *context, int32_t first, int32_t count, double *values)
{
    const Bar *bars;
    int32_t barCount;
    BlockPlan plan;
    if (!PlanForBars(nodes, context, first, count, &plan, &bars, &barCount)) return 0;
    PlanLanes lanes;
    int root = plan.count - 1;
    int32_t end = first + count;
    for (int32_t run = first; run < end; run += PLAN_LANES) {
        int n = end - run < PLAN_LANES ? end - run : PLAN_LANES;
        RunPlan(&plan, &lanes, bars, barCount, run, n);
        for (int k = 0; k < n; k++) {
            double v = lanes.value[root][k];
            values[run + k - first] = lanes.failed[root][k] || std::isinf(v) ? NAN : v;
        }
    }
    return 1;
}

int EvalFormulaPerSymbol(FormulaNode *nodes, EvalContext *context, double *value)
{
    if (!nodes || nodes[0].item == ITEM_END || !context->symbol || context->importFlag || context->trialBar || TraceOn())
        return 0;
    for (const FormulaNode *node = nodes; node->item != ITEM_END; node++) {
        if (node->barsBackLink) return 0;
        switch (node->item) {
        case ITEM_NUMBER:
        case ITEM_TEXT:
        case ITEM_SYMBOL_REF:
        case ITEM_SYMBOL:
        case ITEM_Q_SYMBOL:
        case ITEM_OPEN_PAREN:
        case ITEM_CLOSE_PAREN: break;
        default:
            if (!IsPlanOperator(node->item) && node->item != ITEM_NOT) return 0;
            break;
        }
    }
    context->libraryDepth = 0;
    *value = EvalFormula(nodes, context);
    return 1;
}

void TakeKnownFormulaValue(FormulaSlot *slot, EvalContext *context)
{
    context->libraryDepth = 0;
    if (slot) context->itemName = slot->name;
    FormulaNode *nodes = SlotNodes(slot, context);
    /* As the evaluation would: a constant formula leaves the context alone. */
    if (nodes && nodes[0].item != ITEM_END && !IsConstantFormula(nodes, context)) {
        const Bar *bars;
        int32_t count;
        SetEvaluationBar(context, &bars, &count);
        context->funBar = -1;
        context->depth = 0;
    }
    context->currentBar = 0;
}

/* ============================================================================
** One bar by the plan
** ========================================================================== */

/* The step codes of a plan kept in the end node: one code names both the
** kind of step and its bar value or operator, so running a step takes one
** choice.  The bar values and operators are those of the block plans. */
#define WALK_TERMS(X)                                                                                             \
    X(OPEN) X(HIGH) X(LOW) X(CLOSE) X(VOLUME) X(EXTRA) X(BAR_NUM) X(BARS_LEFT) X(RANGE) X(NEXT_OPEN) X(TRUE_RANGE)
#define WALK_OPERATORS(X)                                                                                         \
    X(POWER) X(TIMES) X(DIVIDE) X(MOD) X(PLUS) X(MINUS) X(GREATER) X(GREATER_EQUAL) X(LESS) X(LESS_EQUAL) X(EQUAL) \
    X(NOT_EQUAL) X(AND) X(OR)
enum : uint8_t {
    WALK_CONSTANT,
    WALK_TERM_CONSTANT,
    WALK_GROUP,
#define WALK_CODE(name) WALK_##name,
    WALK_TERMS(WALK_CODE) WALK_OPERATORS(WALK_CODE)
#undef WALK_CODE
        WALK_CODE_COUNT
};

/* The code of a plan step; WALK_CODE_COUNT for one the walk plan cannot run. */
static uint8_t WalkCode(const PlanStep &step)
{
    switch (step.kind) {
    case PLAN_CONSTANT: return WALK_CONSTANT;
    case PLAN_TERM_CONSTANT: return WALK_TERM_CONSTANT;
    case PLAN_GROUP: return WALK_GROUP;
    case PLAN_TERM:
        switch (step.item) {
#define WALK_CASE(name) \
    case ITEM_##name: return WALK_##name;
            WALK_TERMS(WALK_CASE)
#undef WALK_CASE
        default: return WALK_CODE_COUNT;
        }
    case PLAN_OPERATOR:
        switch (step.item) {
#define WALK_CASE(name) \
    case ITEM_##name: return WALK_##name;
            WALK_OPERATORS(WALK_CASE)
#undef WALK_CASE
        default: return WALK_CODE_COUNT;
        }
    default: return WALK_CODE_COUNT;
    }
}

/* The plan of a node array, without Data items (their values belong to one
** symbol), in the compact form of the end node. */
void BuildWalkPlan(const FormulaNode *nodes, WalkPlan *out)
{
    BlockPlan plan;
    out->count = 0;
    out->state = WALK_PLAN_NONE;
    if (!BuildBlockPlan(nodes, &plan, nullptr) || plan.count > WALK_PLAN_STEPS) return;
    for (int s = 0; s < plan.count; s++) {
        const PlanStep &from = plan.steps[s];
        WalkPlanStep &to = out->steps[s];
        to = WalkPlanStep{};
        to.kind = WalkCode(from);
        if (to.kind == WALK_CODE_COUNT) return;
        to.unary = from.unary;
        to.dataType = from.dataType;
        to.left = from.left;
        to.right = from.right;
        to.barsBack = from.barsBack;
        if (from.source) {
            ptrdiff_t index = from.source - nodes;
            if (index < 0 || index > 255) return;
            to.node = (uint8_t)index;
        }
    }
    out->count = (uint32_t)plan.count;
    out->state = WALK_PLAN_READY;
}

/* One operator step of a walk plan, as the walk combines its operands. */
template <uint32_t OP>
static inline void RunWalkOperator(const WalkPlanStep &step, double *v, uint32_t *t, uint32_t s, int useShortCircuit,
                                   double nearZero)
{
    double a = v[step.left], b = v[step.right];
    constexpr bool zeroDecides = ZeroShortCircuits(OP);
    if (useShortCircuit && ((zeroDecides && a == 0) || (OP == ITEM_OR && (a != 0 || std::isnan(a))))) {
        v[s] = a;
        t[s] = 0;
        return;
    }
    int compare = 0;
    if constexpr (IsComparison(OP)) compare = CompareByDataType(a, b, t[step.left], t[step.right]);
    CombineNumbers(OP, a, b, t[step.left], t[step.right], compare, nearZero, &v[s], &t[s]);
}

/* The plan on the context's bar, as the walk computes it; 0 wherever the
** walk might fail (the caller then walks), which includes a failure in an
** operand that a short circuit would have skipped. */
int RunWalkPlan(const WalkPlan *plan, const FormulaNode *nodes, const EvalContext *context, const Bar *bars,
                int32_t count, double *value, uint32_t *dataType)
{
    /* The plan reads the context symbol's bar array, never a trial bar. */
    if (context->trialBar || !bars) return 0;
    double scale = context->priceScale;
    int64_t last = context->lastBar;
    int useShortCircuit = gSettings.UseShortCircuit;
    double nearZero = gSettings.NearZero;
    double v[WALK_PLAN_STEPS];
    uint32_t t[WALK_PLAN_STEPS];
    uint32_t n = plan->count;
    for (uint32_t s = 0; s < n; s++) {
        const WalkPlanStep &step = plan->steps[s];
        switch (step.kind) {
        case WALK_CONSTANT:
            v[s] = nodes[step.node].value;
            t[s] = 0;
            break;
        case WALK_TERM_CONSTANT: {
            double c = nodes[step.node].constant;
            if (!std::isfinite(c)) return 0;
            v[s] = ApplyUnary(step.unary, c);
            t[s] = 0;
            break;
        }
        case WALK_GROUP:
            v[s] = ApplyUnary(step.unary, v[step.left]);
            t[s] = t[step.left];
            break;
#define WALK_TERM_CASE(name)                                                                                  \
    case WALK_##name: {                                                                                      \
        int64_t j = last - step.barsBack;                                                                    \
        double x;                                                                                            \
        if (j < 0 || j >= count || !BarItemValue<ITEM_##name>(bars, count, j, scale, nullptr, 0, &x) ||      \
            !std::isfinite(x))                                                                               \
            return 0;                                                                                        \
        v[s] = ApplyUnary(step.unary, x);                                                                    \
        t[s] = step.dataType;                                                                                \
        break;                                                                                               \
    }
            WALK_TERMS(WALK_TERM_CASE)
#undef WALK_TERM_CASE
#define WALK_OPERATOR_CASE(name) \
    case WALK_##name: RunWalkOperator<ITEM_##name>(step, v, t, s, useShortCircuit, nearZero); break;
            WALK_OPERATORS(WALK_OPERATOR_CASE)
#undef WALK_OPERATOR_CASE
        default: return 0;
        }
    }
    *value = v[n - 1];
    *dataType = t[n - 1];
    return 1;
}
