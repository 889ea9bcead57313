/* counters.cpp -- conditions counted back (and ahead) over the context
** symbol's bars: the SinceTrue family, zigzag turning points and ordered
** sequences of conditions. */
#include "script/builtins/builtins.h"

#include <cmath>
#include <cstring>

#include "foundation/allocator.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"

namespace {

int32_t TruncCount(double v)
{
    if (!(v > -2.0e9)) return v < 0 ? -2000000000 : 0;
    if (v > 2.0e9) return 2000000000;
    return (int32_t)trunc(v);
}

/* The expression argument of WhenTrue and SumSince. */
constexpr int EXPR_ARG = 2;

/* A condition holds when its value is not 0. */
inline bool Holds(double v) { return v != 0; }

} // namespace

int CalcSinceTrue(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (context->onePassWindow && gScriptItems[node->item].shareable == 1) return CalcSinceTrueOnePass(node, context);
    uint32_t id = node->item;
    bool withExpr = id == ITEM_WHEN_TRUE || id == ITEM_SUM_SINCE;
    int countArg = withExpr ? 3 : 2;
    int32_t count = 0, nth = 1;
    double v = 0;
    if (node->argCount >= countArg) {
        if (!EvalArg(node, context, countArg, barsBack, &v)) return 0;
        count = TruncCount(v);
    }
    if (node->argCount >= 4) {
        if (!EvalArg(node, context, 4, barsBack, &v)) return 0;
        int32_t n = TruncCount(v);
        if (n != 0) nth = n;
    }
    bool dates = CountsTestDates(node);
    int64_t start, total;
    const Bar *bars = nullptr;
    if (dates) {
        start = (int64_t)context->resultRow - barsBack;
        total = (int64_t)context->resultRow + 1;
    } else {
        int32_t barCount = 0;
        bars = ContextBars(context, &barCount);
        start = (int64_t)context->lastBar - barsBack;
        total = bars ? barCount : 0;
    }
    int64_t limit = count >= 1 ? count : total;
    bool forward = id == ITEM_UNTIL_TRUE || (withExpr && nth < 0);
    int64_t wanted = nth < 0 ? -(int64_t)nth : nth;
    double savedScale = context->priceScale;
    int64_t trueCount = 0, k = 0;
    double sum = 0;
    bool found = false, exprFailed = false;
    uint32_t exprType = 0;
    for (k = 0; k < limit; k++) {
        int64_t position = forward ? start + k : start - k;
        if (position < 0 || position >= total) break;
        if (bars) context->priceScale = BarSplitFactor(ContextBarAt(context, bars, (int32_t)position));
        int32_t back = (int32_t)(forward ? barsBack - k : barsBack + k);
        double c = 0;
        if (!EvalArg(node, context, 1, back, &c)) break;
        if (Holds(c)) {
            if (id == ITEM_SINCE_TRUE || id == ITEM_UNTIL_TRUE) {
                found = true;
                break;
            }
            trueCount++;
            if (withExpr && trueCount == wanted) {
                found = true;
                break;
            }
        } else if (id == ITEM_TRUE_IN_ROW) {
            break;
        }
        if (id == ITEM_SUM_SINCE) {
            double e = 0;
            if (!EvalArg(node, context, EXPR_ARG, back, &e, &exprType)) {
                exprFailed = true;
                break;
            }
            sum += e;
        }
    }
    int ok = 1;
    switch (id) {
    case ITEM_SINCE_TRUE:
    case ITEM_UNTIL_TRUE:
        node->value = found ? (double)k : -1.0;
        node->dataType = 0;
        break;
    case ITEM_WHEN_TRUE:
        /* Read at the bar where the condition held, with that bar's scale. */
        ok = found && EvalArg(node, context, EXPR_ARG, (int32_t)(forward ? barsBack - k : barsBack + k), &node->value, &exprType);
        node->dataType = exprType;
        break;
    case ITEM_SUM_SINCE:
        ok = !exprFailed;
        node->value = found ? sum : 0.0;
        node->dataType = exprType;
        break;
    default:
        node->value = (double)trueCount;
        node->dataType = 0;
        break;
    }
    context->priceScale = savedScale;
    return ok;
}

int CalcSinceTrueOnePass(FormulaNode *node, EvalContext *context)
{
    int32_t barCount = 0;
    const Bar *bars = ContextBars(context, &barCount);
    if (!bars) return 0;
    uint32_t id = node->item;
    bool backward = id == ITEM_UNTIL_TRUE;
    int64_t c = (id == ITEM_SINCE_TRUE || id == ITEM_UNTIL_TRUE || id == ITEM_SUM_SINCE) ? -1 : 0;
    double savedScale = context->priceScale;
    double previous = NAN; /* the output of the bar walked before */
    for (int32_t j = 0; j < barCount; j++) {
        int32_t bar = backward ? barCount - 1 - j : j;
        int32_t back = context->lastBar - bar;
        context->priceScale = BarSplitFactor(ContextBarAt(context, bars, bar));
        double cond = 0, out = NAN;
        if (!EvalArg(node, context, 1, back, &cond)) {
            if (id == ITEM_SINCE_TRUE || id == ITEM_UNTIL_TRUE)
                out = -1, c = -1;
            else if (id == ITEM_SUM_SINCE)
                out = 0, c = -1;
            else if (id == ITEM_COUNT_TRUE || id == ITEM_TRUE_IN_ROW)
                out = 0, c = 0;
        } else if (!Holds(cond)) {
            switch (id) {
            case ITEM_SINCE_TRUE:
            case ITEM_UNTIL_TRUE:
                if (c >= 0)
                    out = (double)++c;
                else
                    out = -1;
                break;
            case ITEM_WHEN_TRUE: out = previous; break;
            case ITEM_SUM_SINCE: {
                if (c < 0) {
                    out = 0;
                    break;
                }
                double e = 0;
                out = EvalArg(node, context, EXPR_ARG, back, &e) ? (j == 0 ? e : previous + e) : NAN;
                break;
            }
            case ITEM_COUNT_TRUE: out = (double)c; break;
            default:
                c = 0;
                out = 0;
                break;
            }
        } else {
            switch (id) {
            case ITEM_WHEN_TRUE: {
                double e = 0;
                out = EvalArg(node, context, EXPR_ARG, back, &e) ? e : NAN;
                break;
            }
            case ITEM_COUNT_TRUE:
            case ITEM_TRUE_IN_ROW: out = (double)++c; break;
            default:
                out = 0;
                c = 0;
                break;
            }
        }
        previous = out;
        WriteOnePass(node, context, bar, out);
    }
    context->priceScale = savedScale;
    node->value = 0;
    return 1;
}

/* ============================================================================
** Zigzag turning points and sequences
** ========================================================================== */

int CalcZigZag(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (node->argCount < 2) return 0;
    double pctArg = 0, nthArg = 1;
    if (!EvalArg(node, context, 2, barsBack, &pctArg) || !std::isfinite(pctArg)) return 0;
    if (node->argCount >= 3 && !EvalArg(node, context, 3, barsBack, &nthArg)) return 0;
    double pct = pctArg / 100;
    int32_t nth = TruncCount(nthArg);
    int64_t start = (int64_t)context->lastBar - barsBack;
    if (start < 0) return 0;
    uint32_t id = node->item;
    bool peaks = id == ITEM_PEAK || id == ITEM_PEAK_BARS;
    double hi = -1e14, lo = 1e14;
    int64_t hiPos = start, loPos = start;
    int direction = 0;
    int32_t peakCount = 0, troughCount = 0;
    for (int64_t k = 0; start - k >= 0; k++) {
        int64_t position = start - k;
        double v = 0;
        uint32_t type = 0;
        if (!EvalArg(node, context, 1, (int32_t)(barsBack + k), &v, &type)) return 0;
        if (v > hi) hi = v, hiPos = position;
        if (v < lo) lo = v, loPos = position;
        if (direction >= 0 && hi >= (1 + pct) * v) {
            if (direction > 0 && ++peakCount == nth && peaks) {
                node->value = id == ITEM_PEAK ? hi : (double)(start - hiPos);
                node->dataType = id == ITEM_PEAK ? type : 0;
                return 1;
            }
            hi = lo = v;
            hiPos = loPos = position;
            direction = -1;
        }
        if (direction <= 0 && (1 - pct) * v >= lo) {
            if (direction < 0 && ++troughCount == nth && !peaks) {
                node->value = id == ITEM_TROUGH ? lo : (double)(start - loPos);
                node->dataType = id == ITEM_TROUGH ? type : 0;
                return 1;
            }
            hi = lo = v;
            hiPos = loPos = position;
            direction = 1;
        }
    }
    return 0;
}

int CalcSequence(FormulaNode *node, EvalContext *context, int barsBack)
{
    int32_t L = 0;
    if (!GetLengthArg(node, context, 1, barsBack, 0, &L)) return 0;
    int32_t m = node->argCount - 1;
    if (m < 1) return 0;
    /* Each condition's result at each offset: 0 not yet known, 1 true, 255 false. */
    enum : uint8_t { UNKNOWN = 0,
                     TRUE_AT = 1,
                     FALSE_AT = 255 };
    uint8_t *table = nullptr;
    if (!ReallocMemory(&table, (uint64_t)m * (uint64_t)L)) return 0;
    memset(table, 0, (size_t)m * (size_t)L);
    int ok = 1, matched = 0;
    for (int32_t s = 0; ok && !matched && s < L; s++) {
        int32_t condition = m; /* 1-based; argument condition + 1 */
        for (int32_t o = s; ok && o < L; o++) {
            uint8_t *cell = &table[(size_t)(condition - 1) * (size_t)L + (size_t)o];
            if (*cell == UNKNOWN) {
                double v = 0;
                ok = EvalArg(node, context, condition + 1, barsBack + o, &v);
                /* A condition that is not a number counts as true. */
                *cell = (v != 0 || std::isnan(v)) ? TRUE_AT : FALSE_AT;
            }
            if (ok && *cell == TRUE_AT && --condition == 0) {
                matched = 1;
                break;
            }
        }
    }
    FreeMemory(&table);
    if (!ok) return 0;
    node->value = matched;
    node->dataType = 0;
    return 1;
}
