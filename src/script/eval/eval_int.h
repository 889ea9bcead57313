/* eval_int.h -- what the walk (evaluator.cpp) and the block plan
** (block_plan.cpp) share inside the evaluator: the rules by which operators
** combine and compare values, so that both give the same results bit for
** bit, the walk's stop and offset rules that a plan follows, and the few
** routines of the walk that the plan calls.  Included by these two files
** only; nothing here is part of the evaluator's contract (evaluator.h,
** block_plan.h).
*/
#pragma once
#include <cmath>
#include <cstdint>

#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/formula.h"
#include "script/compiler/formula_text.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"
#include "services/services.h"

/* ---- operator rules ---------------------------------------------------------------- */

/* Operators whose left value 0 decides the result when short circuits are on. */
constexpr bool ZeroShortCircuits(uint32_t op)
{
    return op == ITEM_POWER || op == ITEM_TIMES || op == ITEM_DIVIDE || op == ITEM_MOD || op == ITEM_AND;
}

/* CompareDouble (tolerance 1e-14) and CompareDoubleApprox (1e-6) of the
** foundation, rule for rule, where the walk can inline them: comparisons are
** among the most frequent operators of a formula. */
inline int CompareNumbers(double a, double b, double relative)
{
    if (a == b) return 0;
    int aNan = std::isnan(a), bNan = std::isnan(b);
    if (aNan || bNan) return aNan && bNan ? 0 : (aNan ? -1 : 1);
    if (std::isinf(a) || std::isinf(b)) return a < b ? -1 : 1;
    double fa = fabs(a), fb = fabs(b);
    double tolerance = (fa > fb ? fa : fb) * relative;
    if (a - b > tolerance) return 1;
    if (b - a > tolerance) return -1;
    return 0;
}

inline int CompareByDataType(double a, double b, uint32_t ta, uint32_t tb)
{
    return CompareNumbers(a, b, ta == DATA_TYPE_PRICE || tb == DATA_TYPE_PRICE ? 1e-6 : 1e-14);
}

/* Combines two numbers under op: the value (NearZero applied) and data type
** of the result.  compare is the three-way comparison of a and b, read by
** the comparison operators only.  Both the walk and the block path combine
** here, so their results agree bit for bit. */
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void CombineNumbers(uint32_t op, double a, double b, uint32_t ta, uint32_t tb, int compare,
                                  double nearZero, double *value, uint32_t *dataType)
{
    double v = 0;
    uint32_t t = 0;
    switch (op) {
    case ITEM_POWER:
        v = b == 2.0 ? a * a : pow(a, b);
        t = ta;
        break;
    case ITEM_TIMES:
        v = a * b;
        t = (ta && tb && ta != tb) ? 0 : (ta ? ta : tb);
        break;
    case ITEM_DIVIDE:
        v = b == 0 ? 0.0 : a / b;
        t = (b == 0 || tb) ? 0 : ta;
        break;
    case ITEM_MOD: v = b == 0 ? 0.0 : fmod(a, b); break;
    case ITEM_PLUS:
        v = a + b;
        t = ta ? ta : tb;
        break;
    case ITEM_MINUS:
        v = a - b;
        t = ta ? ta : tb;
        break;
    case ITEM_GREATER: v = compare > 0; break;
    case ITEM_GREATER_EQUAL: v = compare >= 0; break;
    case ITEM_LESS: v = compare < 0; break;
    case ITEM_LESS_EQUAL: v = compare <= 0; break;
    case ITEM_EQUAL: v = compare == 0; break;
    case ITEM_NOT_EQUAL: v = compare != 0; break;
    case ITEM_AND: v = a == 0 ? 0.0 : ((b != 0 || std::isnan(b)) ? 1.0 : 0.0); break;
    case ITEM_OR: v = (std::isnan(a) || a != 0) ? 1.0 : ((b != 0 || std::isnan(b)) ? 1.0 : 0.0); break;
    default: v = NAN; break;
    }
    if (fabs(v) < nearZero) v = 0.0;
    *value = v;
    *dataType = t;
}

static_assert(ITEM_NOT_EQUAL - ITEM_GREATER == 5, "the six comparisons are adjacent rows");
constexpr bool IsComparison(uint32_t op)
{
    return op >= ITEM_GREATER && op <= ITEM_NOT_EQUAL;
}

/* ---- the walk's rules that a plan follows -------------------------------------------- */

/* The factor that brings a bar's prices to the price scale, as the value
** getters compute it.  Most bars share the scale's split level, and x / x is
** exactly 1 for every finite non-zero x, so the division is left out there. */
inline double SplitFactor(double scale, double split)
{
    if (split == scale && split != 0 && std::isfinite(split)) return 1.0;
    return split != 0 ? scale / split : 1.0;
}

/* Offsets beyond any data still name no bar when they are held to a billion
** bars either way, and nested offsets then add up without overflowing. */
constexpr int32_t BARS_BACK_LIMIT = 1000000000;

inline int32_t AddBarsBack(int32_t barsBack, int32_t offset)
{
    int64_t sum = (int64_t)barsBack + offset;
    return sum > BARS_BACK_LIMIT ? BARS_BACK_LIMIT : sum < -BARS_BACK_LIMIT ? -BARS_BACK_LIMIT
                                                                            : (int32_t)sum;
}

inline bool IsStop(const FormulaNode *node, uint32_t stopItem)
{
    /* The end node, or a closing node or separator that is not the one this
    ** walk waits for, stops it too: a malformed array can never be walked
    ** past its end. */
    return node->item == stopItem || node->item == ITEM_END || node->category == CAT_CLOSE ||
        node->item == ITEM_COMMA;
}

/* ---- what the walk and the plan both look at --------------------------------------- */

/* The trace is on, and this is the thread it runs on (the user-interface thread). */
inline bool TraceOn()
{
    return gDebugEvalOn && PlatCurrentThreadId() == gRun.uiThreadId;
}

/* The context's worker slot, 0 when it is out of range. */
inline int32_t WorkerSlot(const EvalContext *context)
{
    return context->slot >= 0 && context->slot < WORKER_SLOTS ? context->slot : 0;
}

/* The node array of the context's worker slot, or none. */
inline FormulaNode *SlotNodes(FormulaSlot *slot, const EvalContext *context)
{
    if (!slot || slot->count <= 0) return nullptr;
    return slot->nodes[WorkerSlot(context)];
}

/* A formula of one constant needs no bar: its value is the node's. */
inline bool IsConstantFormula(const FormulaNode *nodes, const EvalContext *context)
{
    const FormulaNode *first = &nodes[0];
    bool unresolvedRef =
        (first->item == ITEM_STRATEGY_REF || first->item == ITEM_SYMBOL_REF) && first->constant == UNRESOLVED_REF;
    return !context->importFlag && first->constantFlag && nodes[1].item == ITEM_END && !unresolvedRef;
}

/* The context symbol's bars at the context's bar size, and the price scale
** of the bar the evaluation stands on. */
inline void SetEvaluationBar(EvalContext *context, const Bar **barsOut, int32_t *countOut)
{
    const Bar *bars = nullptr;
    int32_t count = 0;
    if (const SymbolRecord *symbol = context->symbol) {
        int barSize = context->barSize >= BAR_WEEKLY && context->barSize <= BAR_YEARLY ? context->barSize : BAR_DAILY;
        bars = symbol->bars[barSize];
        count = symbol->barCounts[barSize];
        int32_t index = context->currentBar ? context->barIndex : context->lastBar;
        if (bars && index >= 0 && index < count) context->priceScale = bars[index].split;
    }
    *barsOut = bars;
    *countOut = count;
}

/* ---- the plan kept in the end node, for the walk ------------------------------------- */

/* The state of a node array's walk plan (WalkPlan, formula.h). */
enum : uint32_t { WALK_PLAN_UNKNOWN = 0,
                  WALK_PLAN_READY = 1,
                  WALK_PLAN_NONE = 2 };
/* The plan of a node array, without Data items (their values belong to one
** symbol), in the compact form of the end node: ready, or none. */
void BuildWalkPlan(const FormulaNode *nodes, WalkPlan *out);
/* The plan on the context's bar, as the walk computes it: 1 with the value
** and data type; 0 wherever the walk might fail (the caller then walks),
** which includes a failure in an operand that a short circuit would have
** skipped. */
int RunWalkPlan(const WalkPlan *plan, const FormulaNode *nodes, const EvalContext *context, const Bar *bars,
                int32_t count, double *value, uint32_t *dataType);
