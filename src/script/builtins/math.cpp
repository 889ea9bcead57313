/* math.cpp -- the numeric general functions: clamping and rescaling,
** magnitude, sign, rounding, leading digits, roots, logarithms, the
** trigonometric family in degrees, the normal distribution and its inverse,
** the logit and random values. */
#include "script/builtins/builtins.h"

#include <cmath>

#include "foundation/numbers.h"
#include "foundation/random.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"

namespace {

const double kPi = 3.14159265358979323846;

int SetNumber(FormulaNode *node, double value)
{
    node->value = value;
    return 1;
}

} // namespace

int CalcBound(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v[3];
    uint32_t t[3];
    if (node->argCount < 3 || !EvalAllArgs(node, context, barsBack, v, t)) return 0;
    int pick = CompareDouble(v[0], v[1]) < 0 ? 1 : 0;
    if (CompareDouble(v[pick], v[2]) > 0) pick = 2;
    node->dataType = t[pick];
    return SetNumber(node, v[pick]);
}

int CalcRescale(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v[6] = {0, 0, 0, 0, 0, 0};
    if (node->argCount < 5 || !EvalAllArgs(node, context, barsBack, v, nullptr)) return 0;
    double value = v[0], low = v[1], high = v[2];
    if (node->argCount >= 6 && (v[5] != 0 || std::isnan(v[5]))) {
        if (CompareDouble(value, low) < 0)
            value = low > high ? high : low;
        else if (CompareDouble(value, high) > 0)
            value = high;
    }
    return SetNumber(node, (value - low) / (high - low) * (v[4] - v[3]) + v[3]);
}

int CalcAbs(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v;
    uint32_t type = 0;
    if (!EvalArg(node, context, 1, barsBack, &v, &type)) return 0;
    node->dataType = type;
    return SetNumber(node, fabs(v));
}

int CalcSign(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v;
    if (!EvalArg(node, context, 1, barsBack, &v)) return 0;
    return SetNumber(node, CompareDouble(v, 0.0));
}

int CalcRound(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v, step = 1, dir = 0;
    uint32_t type = 0;
    if (!EvalArg(node, context, 1, barsBack, &v, &type)) return 0;
    if (node->argCount >= 2 && !EvalArg(node, context, 2, barsBack, &step)) return 0;
    if (node->argCount >= 3 && !EvalArg(node, context, 3, barsBack, &dir)) return 0;
    if (!std::isfinite(dir)) return 0;
    node->dataType = type;
    return SetNumber(node, RoundToStep(v, step, (int32_t)fmax(-2.0, fmin(2.0, trunc(dir)))));
}

int CalcTop(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v[2];
    if (node->argCount < 2 || !EvalAllArgs(node, context, barsBack, v, nullptr)) return 0;
    if (!std::isfinite(v[0]) || !std::isfinite(v[1])) return 0;
    double p = 1;
    while (v[0] >= p && p < 1e300) p *= 10;
    double digits = trunc(v[1]);
    for (double k = 0; k < digits && p > 1; k++) p /= 10;
    double q = v[0] / p;
    if (q == 0) return SetNumber(node, 0.0);
    double whole = floor(fabs(q) + pow(10.0, floor(log10(fabs(q))) - 15));
    return SetNumber(node, q < 0 ? -whole : whole);
}

/* Sqr, Log, Exp, Logit and the nine trigonometric and hyperbolic functions,
** chosen by item id; a non-finite result fails the term in the evaluator. */
int CalcMathFunction(FormulaNode *node, EvalContext *context, int barsBack)
{
    double x;
    if (!EvalArg(node, context, 1, barsBack, &x)) return 0;
    const double toRadians = kPi / 180, toDegrees = 180 / kPi;
    switch (node->item) {
    case ITEM_SQR: return SetNumber(node, sqrt(x));
    case ITEM_LOG: return SetNumber(node, log(x));
    case ITEM_EXP: return SetNumber(node, exp(x));
    case ITEM_LOGIT: return SetNumber(node, log(x / (1 - x)));
    case ITEM_COSINE: return SetNumber(node, cos(x * toRadians));
    case ITEM_SINE: return SetNumber(node, sin(x * toRadians));
    case ITEM_TANGENT: return SetNumber(node, tan(x * toRadians));
    case ITEM_ARC_COS: return SetNumber(node, acos(x) * toDegrees);
    case ITEM_ARC_SIN: return SetNumber(node, asin(x) * toDegrees);
    case ITEM_ARC_TAN: return SetNumber(node, atan(x) * toDegrees);
    case ITEM_COS_H: return SetNumber(node, cosh(x));
    case ITEM_SIN_H: return SetNumber(node, sinh(x));
    case ITEM_TAN_H: return SetNumber(node, tanh(x));
    default: return 0;
    }
}

int CalcCDF(FormulaNode *node, EvalContext *context, int barsBack)
{
    double x;
    if (!EvalArg(node, context, 1, barsBack, &x)) return 0;
    double t = 1 / (1 + 0.2316419 * fabs(x));
    double z = exp(-x * x / 2) / sqrt(2 * kPi);
    double q = z * t * (0.31938153 + t * (-0.356563782 + t * (1.781477937 + t * (-1.821255978 + t * 1.330274429))));
    return SetNumber(node, x > 0 ? 1 - q : q);
}

int CalcICDF(FormulaNode *node, EvalContext *context, int barsBack)
{
    double p;
    if (!EvalArg(node, context, 1, barsBack, &p)) return 0;
    double pp = p <= 0.5 ? p : 1 - p;
    double t = sqrt(log(1 / (pp * pp)));
    double x = t - (2.515517 + 0.802853 * t + 0.010328 * t * t) / (1 + 1.432788 * t + 0.189269 * t * t + 0.001308 * t * t * t);
    return SetNumber(node, p <= 0.5 ? -x : x);
}

int CalcRandom(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v[3] = {0, 0, 0};
    if (!EvalAllArgs(node, context, barsBack, v, nullptr)) return 0;
    switch (node->argCount) {
    case 0: return SetNumber(node, RandomValue(0, 0, 0));
    case 1: return SetNumber(node, RandomValue(0, v[0], 1));
    case 2: return SetNumber(node, RandomValue(v[0], v[1], 1));
    default: return SetNumber(node, RandomValue(v[0], v[1], v[2]));
    }
}
