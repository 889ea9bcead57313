/* trailing_stops.cpp -- stop levels that trail the context symbol's bars:
** the parabolic stop and reverse, its two-sided variant, and the SuperTrend
** band. */
#include "script/builtins/builtins.h"

#include <cmath>

#include "marketdata/store/symbols.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/formula.h"
#include "script/compiler/settings_items.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"
#include "script/eval/value_getters.h"

namespace {

/* Adjusted high, low and close of a bar at the context's price scale. */
struct Hlc {
    double h, l, c;
};

Hlc AdjustedBar(const EvalContext *context, const Bar *bars, int32_t i)
{
    const Bar *bar = ContextBarAt(context, bars, i);
    double f = bar->split != 0 ? context->priceScale / bar->split : 1.0;
    return Hlc{bar->high * f, bar->low * f, bar->close * f};
}

/* Reads the optional arguments of SAR and KDSAR, the last given first: the
** numbers at slots [first, first + 1] and the length at slot lengthArg. */
int ReadStopArgs(FormulaNode *node, EvalContext *context, int barsBack, int lengthArg, double *values,
                 int32_t *length)
{
    *length = 100;
    for (int k = node->argCount; k >= 1; k--) {
        if (k == lengthArg) {
            if (!GetLengthArg(node, context, k, barsBack, 0, length)) return 0;
        } else if (!EvalArg(node, context, k, barsBack, &values[k - 1]) || !std::isfinite(values[k - 1])) {
            return 0;
        }
    }
    return 1;
}

} // namespace

int CalcSAR(FormulaNode *node, EvalContext *context, int barsBack)
{
    int32_t count = 0;
    const Bar *bars = ContextBars(context, &count);
    if (!bars) return 0;
    double args[3] = {0.02, 0.2, 0};
    int32_t len = 100;
    if (!ReadStopArgs(node, context, barsBack, 3, args, &len)) return 0;
    double accel = args[0], maxAf = args[1];
    int32_t current = context->lastBar - barsBack;
    int32_t first = current - len + 1;
    if (first < 0 || current >= count) return 0;
    Hlc b0 = AdjustedBar(context, bars, first);
    double sar = (b0.h + b0.l) / 2, af = accel, ep = 0;
    bool isLong = false;
    Hlc prev = b0, prev2 = b0;
    for (int32_t i = first + 1; i <= current; i++) {
        Hlc b = AdjustedBar(context, bars, i);
        if (i == first + 1) {
            isLong = prev.l - b.l <= b.h - prev.h;
            if (isLong) {
                ep = fmax(b.h, prev.h);
                sar = fmin(b.l, prev.l);
            } else {
                ep = fmin(b.l, prev.l);
                sar = fmax(b.h, prev.h);
            }
        } else {
            double next = sar + (ep - sar) * af;
            if (!isLong) {
                if (b.h < next) {
                    sar = fmax(next, fmax(prev.h, prev2.h));
                    if (b.l < ep) {
                        ep = b.l;
                        af = fmin(af + accel, maxAf);
                    }
                } else {
                    isLong = true;
                    sar = ep;
                    af = accel;
                    ep = b.h;
                }
            } else {
                if (next < b.l) {
                    sar = fmin(next, fmin(prev.l, prev2.l));
                    if (b.h > ep) {
                        ep = b.h;
                        af = fmin(af + accel, maxAf);
                    }
                } else {
                    isLong = false;
                    sar = ep;
                    af = accel;
                    ep = b.l;
                }
            }
        }
        prev2 = prev;
        prev = b;
    }
    node->value = sar;
    node->dataType = 1;
    return 1;
}

int CalcKDSAR(FormulaNode *node, EvalContext *context, int barsBack)
{
    int32_t count = 0;
    const Bar *bars = ContextBars(context, &count);
    if (!bars) return 0;
    double args[5] = {0, 0.02, 0.2, 0, 0};
    int32_t len = 100;
    if (!ReadStopArgs(node, context, barsBack, 4, args, &len)) return 0;
    double dir = args[0], accel = args[1], maxAf = args[2], kdmode = args[4];
    int32_t current = context->lastBar - barsBack;
    int32_t first = current - len + 1;
    if (first < 0 || current >= count) return 0;
    Hlc b0 = AdjustedBar(context, bars, first);
    double longStop = b0.l, longExtreme = b0.h, shortStop = b0.h, shortExtreme = b0.l;
    double longFactor = accel, shortFactor = accel;
    bool shortResetLast = false;
    Hlc prev = b0;
    for (int32_t i = first + 1; i <= current; i++) {
        Hlc b = AdjustedBar(context, bars, i);
        double trigger = kdmode == 0 ? b.l : b.c;
        if (longStop >= trigger) {
            longStop = b.l;
            longExtreme = b.h;
            longFactor = accel;
            shortResetLast = false;
        } else {
            if (kdmode == 0)
                longStop += (longExtreme - longStop) * longFactor;
            else if (b.l >= longStop && prev.l >= longStop)
                longStop = fmin(fmin(prev.l, b.l), longStop + (b.h - longStop) * longFactor);
            if (b.h > longExtreme) {
                longExtreme = b.h;
                if (longFactor < maxAf) longFactor += accel;
            }
        }
        trigger = kdmode == 0 ? b.h : b.c;
        if (trigger >= shortStop) {
            shortStop = b.h;
            shortExtreme = b.l;
            shortFactor = accel;
            shortResetLast = true;
        } else {
            if (kdmode == 0)
                shortStop -= (shortStop - shortExtreme) * shortFactor;
            else if (shortStop >= b.h && shortStop >= prev.h)
                shortStop = fmax(fmax(prev.h, b.h), shortStop - (shortStop - b.l) * shortFactor);
            if (b.l < shortExtreme) {
                shortExtreme = b.l;
                if (shortFactor < maxAf) shortFactor += accel;
            }
        }
        prev = b;
    }
    /* Without a direction the stop of the side that did not just break. */
    node->value = dir > 0 ? longStop : dir < 0 ? shortStop
                                               : (shortResetLast ? longStop : shortStop);
    node->dataType = 1;
    return 1;
}

int CalcSuperTrend(FormulaNode *node, EvalContext *context, int barsBack)
{
    int32_t count = 0;
    const Bar *bars = ContextBars(context, &count);
    if (!bars) return 0;
    int32_t lookback = 0;
    double n = 0, mult = 0;
    if (node->argCount < 2) return 0;
    if (!EvalArg(node, context, 2, barsBack, &mult) || !std::isfinite(mult)) return 0;
    if (!GetSmoothingLengthArg(node, 2, context, 1, barsBack, &lookback, &n)) return 0;
    if (context->lastBar < n && !gUseAvailableBars) return 0;
    bool onePass = context->onePassWindow && gScriptItems[node->item].shareable == 1;
    int32_t current = context->lastBar - barsBack;
    int32_t first = onePass ? 0 : current - lookback + 1;
    int32_t last = onePass ? count - 1 : current;
    if (first < 0 || last >= count) return 0;
    /* A one-pass walk keeps the context's scale and writes each line back in
    ** its own bar's terms. */
    auto own = [&](int32_t i) { return bars[i].split != 0 ? bars[i].split / context->priceScale : 1.0; };
    Hlc b0 = AdjustedBar(context, bars, first);
    double atr = b0.h - b0.l, line = 0;
    bool up = true, haveLine = false;
    if (onePass && gUseAvailableBars) WriteOnePass(node, context, 0, bars[0].close);
    for (int32_t b = first + 1, i = 1; b <= last; b++, i++) {
        Hlc bar = AdjustedBar(context, bars, b);
        double tr = BarTrueRange(context, b);
        double mid = (bar.h + bar.l) / 2;
        if (i < n) {
            atr += tr;
            if (i + 1 >= n) atr /= n;
            up = true;
            line = mid;
        } else {
            atr = (atr * (n - 1) + tr) / n;
            double upper = mid + mult * atr, lower = mid - mult * atr;
            if (!haveLine) {
                /* Length 1 has no warm-up: it starts from the lower band of an up trend. */
                up = true;
                line = lower;
            } else if (up) {
                if (bar.c >= line) {
                    line = fmax(lower, line);
                } else {
                    up = false;
                    line = upper;
                }
            } else {
                if (bar.c <= line) {
                    line = fmin(upper, line);
                } else {
                    up = true;
                    line = lower;
                }
            }
        }
        haveLine = true;
        if (onePass && (i >= n - 1 || gUseAvailableBars)) WriteOnePass(node, context, b, line * own(b));
    }
    if (onePass) {
        node->value = 0;
        node->dataType = 1;
        return 1;
    }
    if (!haveLine) return 0;
    node->value = line;
    node->dataType = 1;
    return 1;
}
