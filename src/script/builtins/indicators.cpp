/* indicators.cpp -- the classic indicators computed from the context
** symbol's own bars: directional movement, average true range, the RSI
** family, volatility, stochastics, CCI, MACD, balance volume, return spikes,
** and Bollinger and Keltner bands.
**
** Prices are read at the context's price scale (price × scale / split factor
** of their bar).  A one-pass walk keeps that one scale for the whole symbol
** and writes each price output back in its own bar's terms.
*/
#include "script/builtins/builtins.h"

#include <cmath>

#include "records/test_records.h"
#include "foundation/numbers.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/formula.h"
#include "script/compiler/settings_items.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"
#include "script/eval/value_getters.h"

namespace {

/* The context symbol's bars as the context sees them. */
struct BarView {
    const Bar *bars = nullptr;
    int32_t count = 0;
    double scale = 1;
    /* TargetPrice's trial bar and the index it stands at (-1: none), so the
    ** walk sees the trial prices as the bar getters do. */
    const Bar *trial = nullptr;
    int32_t trialIndex = -1;

    const Bar &B(int32_t i) const { return i == trialIndex ? *trial : bars[i]; }
    double F(int32_t i) const { return B(i).split != 0 ? scale / B(i).split : 1.0; }
    double O(int32_t i) const { return B(i).open * F(i); }
    double H(int32_t i) const { return B(i).high * F(i); }
    double L(int32_t i) const { return B(i).low * F(i); }
    double C(int32_t i) const { return B(i).close * F(i); }
    double V(int32_t i) const { return B(i).volume / F(i); }
};

bool OpenView(const EvalContext *context, BarView *view)
{
    view->bars = ContextBars(context, &view->count);
    view->scale = context->priceScale;
    if (view->bars && context->trialBar &&
        ContextBarAt(context, view->bars, context->trialIndex) == context->trialBar) {
        view->trial = context->trialBar;
        view->trialIndex = context->trialIndex;
    }
    return view->bars && view->count > 0;
}

bool OnePassFor(const FormulaNode *node, const EvalContext *context)
{
    return context->onePassWindow && node->item < SCRIPT_ITEM_COUNT && gScriptItems[node->item].shareable == 1;
}

/* Writes a one-pass output; a price goes back to its own bar's terms. */
void WriteBar(const FormulaNode *node, EvalContext *context, const BarView &view, int32_t i, double value,
              bool price)
{
    WriteOnePass(node, context, i, price ? value / view.F(i) : value);
}

/* The value of an RSI from its smoothed gains and losses: a series that only
** rose stands at the top of the scale; without any change it stays 0. */
double RsiOf(double gain, double loss)
{
    if (loss == 0) return gain > 0 ? 100.0 : 0.0;
    return 100 - 100 / (gain / loss + 1);
}

int SetResult(FormulaNode *node, double value, bool price)
{
    if (!std::isfinite(value)) return 0;
    node->value = value;
    if (price) node->dataType = 1;
    return 1;
}

} // namespace

/* ============================================================================
** Directional movement
** ========================================================================== */

int CalcADX(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t lookback = 0;
    double n = 0;
    if (!GetSmoothingLengthArg(node, 3, context, 1, barsBack, &lookback, &n)) return 0;
    uint32_t id = node->item;
    if (!(context->lastBar > (id == ITEM_ADX ? 2 * n : n))) return 0;
    bool onePass = OnePassFor(node, context);
    int32_t current = context->lastBar - barsBack;
    int32_t first = onePass ? 1 : current - lookback + 2;
    int32_t last = onePass ? view.count - 1 : current;
    if (first < 1 || last >= view.count) return 0;
    double trSum = 0, plusSum = 0, minusSum = 0, dxSum = 0, adx = 0;
    double pdi = 0, mdi = 0;
    bool haveDi = false, haveAdx = false;
    for (int32_t b = first, i = 0; b <= last; b++, i++) {
        double h = view.H(b), l = view.L(b), pc = view.C(b - 1);
        double tr = fmax(pc, h) - fmin(pc, l);
        double up = h - view.H(b - 1), down = view.L(b - 1) - l;
        double plus = 0, minus = 0;
        if (CompareDoubleApprox(up, down) > 0 && up > 0)
            plus = up;
        else if (CompareDoubleApprox(down, up) > 0 && down > 0)
            minus = down;
        if (i >= n - 1) {
            if (i > n - 1) {
                trSum -= trSum / n;
                plusSum -= plusSum / n;
                minusSum -= minusSum / n;
            }
            double t = trSum + tr, dx = 0;
            if (t <= 0) {
                pdi = mdi = 0;
            } else {
                pdi = (plusSum + plus) / t * 100;
                mdi = (minusSum + minus) / t * 100;
                dx = pdi + mdi == 0 ? 0.0 : fabs(pdi - mdi) / (pdi + mdi) * 100;
            }
            haveDi = true;
            if (i < 2 * (n - 1)) {
                dxSum += dx;
            } else if (!haveAdx) {
                adx = (dxSum + dx) / n;
                haveAdx = true;
            } else {
                adx = (adx * (n - 1) + dx) / n;
            }
        }
        trSum += tr;
        plusSum += plus;
        minusSum += minus;
        if (onePass) {
            if (id == ITEM_ADX && i > 2 * n - 1 && haveAdx)
                WriteBar(node, context, view, b, adx, false);
            else if (id == ITEM_PDI && i > n - 1)
                WriteBar(node, context, view, b, pdi, false);
            else if (id == ITEM_MDI && i > n - 1)
                WriteBar(node, context, view, b, mdi, false);
        }
    }
    if (onePass) return SetResult(node, 0, false);
    if (id == ITEM_ADX) return haveAdx ? SetResult(node, adx, false) : 0;
    if (!haveDi) return 0;
    return SetResult(node, id == ITEM_PDI ? pdi : mdi, false);
}

/* ============================================================================
** Average true range, RSI and its relatives
** ========================================================================== */

int CalcATR(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t lookback = 0;
    double n = 0;
    if (!GetSmoothingLengthArg(node, 2, context, 1, barsBack, &lookback, &n)) return 0;
    if (context->lastBar < n && !gUseAvailableBars) return 0;
    bool onePass = OnePassFor(node, context);
    int32_t current = context->lastBar - barsBack;
    int32_t start = onePass ? 0 : current - lookback + 1;
    int32_t last = onePass ? view.count - 1 : current;
    if (start < 0 || last >= view.count) return 0;
    double atr = view.H(start) - view.L(start);
    if (onePass && gUseAvailableBars) WriteBar(node, context, view, 0, atr, true);
    int32_t walked = 1;
    for (int32_t b = start + 1, i = 1; b <= last; b++, i++) {
        double tr = BarTrueRange(context, b);
        walked++;
        if (i < n) {
            atr += tr;
            if (i + 1 >= n) atr /= n;
        } else {
            atr = (atr * (n - 1) + tr) / n;
        }
        if (onePass) {
            if (i >= n - 1)
                WriteBar(node, context, view, b, atr, true);
            else if (gUseAvailableBars)
                WriteBar(node, context, view, b, atr / (i + 1), true);
        }
    }
    if (onePass) return SetResult(node, 0, true);
    if (walked < n) atr /= walked;
    return SetResult(node, atr, true);
}

int CalcRSI(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t lookback = 0;
    double n = 0;
    if (!GetSmoothingLengthArg(node, 2, context, 1, barsBack, &lookback, &n)) return 0;
    if (context->lastBar < n) return 0;
    double level = 0;
    bool rrsi = node->item == ITEM_RRSI;
    if (rrsi && !EvalArg(node, context, 2, barsBack, &level)) return 0;
    bool onePass = OnePassFor(node, context);
    int32_t current = context->lastBar - barsBack;
    int32_t first = onePass ? 1 : current - lookback + 2;
    int32_t last = onePass ? view.count - 1 : current;
    if (first < 1 || last >= view.count) return 0;
    double gain = 0, loss = 0, value = 0;
    for (int32_t b = first; b <= last; b++) {
        double d = view.C(b) - view.C(b - 1);
        gain = ((n - 1) * gain + (d > 0 ? d : 0)) / n;
        loss = ((n - 1) * loss + (d < 0 ? -d : 0)) / n;
        if (rrsi) {
            double r = level / (100 - level);
            double x = (r * loss - gain) * (n - 1);
            value = x >= 0 ? view.C(b) + x : view.C(b) + x / r;
        } else {
            value = RsiOf(gain, loss);
        }
        if (onePass && b >= n) WriteBar(node, context, view, b, value, rrsi);
    }
    if (onePass) return SetResult(node, 0, rrsi);
    return SetResult(node, value, rrsi);
}

int CalcCRSI(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t R = 0, lookP = 0, lookS = 0;
    double P = 0, S = 0;
    if (!GetLengthArg(node, context, 1, barsBack, 1, &R)) return 0;
    if (!GetSmoothingLengthArg(node, 2, context, 2, barsBack, &lookP, &P)) return 0;
    if (!GetSmoothingLengthArg(node, 2, context, 3, barsBack, &lookS, &S)) return 0;
    /* The percent rank divides by R - 1. */
    if (R < 2) return 0;
    int32_t N = R + 1;
    if (lookP > N) N = lookP;
    if (lookS > N) N = lookS;
    if (context->lastBar < N) return 0;
    int32_t current = context->lastBar - barsBack;
    if (current - N + 2 < 1 || current >= view.count) return 0;
    auto change = [&view](int32_t b) { return (view.C(b) / view.C(b - 1) - 1) * 100; };
    double today = change(current);
    if (!std::isfinite(today)) return 0;
    int32_t rank = 1;
    for (int32_t b = current - R + 1; b <= current; b++) {
        double c = change(b);
        if (!std::isfinite(c)) return 0;
        if (c > today) rank++;
    }
    double streak = 0, upS = 0, downS = 0, upP = 0, downP = 0;
    for (int32_t b = current - N + 2; b <= current; b++) {
        double d = view.C(b) - view.C(b - 1);
        double before = streak;
        if (d > 0)
            streak = streak < 0 ? 1 : streak + 1;
        else if (d < 0)
            streak = streak <= 0 ? streak - 1 : -1;
        else
            streak = 0;
        double ds = streak - before;
        upS = ((S - 1) * upS + (ds > 0 ? ds : 0)) / S;
        downS = ((S - 1) * downS + (ds < 0 ? -ds : 0)) / S;
        upP = ((P - 1) * upP + (d > 0 ? d : 0)) / P;
        downP = ((P - 1) * downP + (d < 0 ? -d : 0)) / P;
    }
    double percentRank = 100.0 / (R - 1) * (R - rank);
    return SetResult(node, (RsiOf(upP, downP) + percentRank + RsiOf(upS, downS)) / 3, false);
}

/* ============================================================================
** Volatility, stochastics, CCI, balance volume and spikes
** ========================================================================== */

int CalcHVOL(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t n = 0, slots = 0;
    bool onePass = OnePassFor(node, context);
    if (!GetWindowLengthArg(node, context, 1, barsBack, 1, onePass, &n, &slots)) return 0;
    double ppy = 0;
    if (node->argCount >= 2) {
        if (!EvalArg(node, context, 2, barsBack, &ppy)) return 0;
    } else {
        switch (context->barSize) {
        case BAR_WEEKLY: ppy = 52; break;
        case BAR_MONTHLY: ppy = 12; break;
        case BAR_QUARTERLY: ppy = 4; break;
        case BAR_YEARLY: ppy = 1; break;
        default: ppy = context->test ? context->test->daysPerYear : gScriptSettings.DaysPerYear; break;
        }
    }
    int32_t current = context->lastBar - barsBack;
    int32_t first = onePass ? 1 : current - n + 1;
    int32_t last = onePass ? view.count - 1 : current;
    if (first < 1 || last >= view.count) return 0;
    WindowBuffer buffer;
    double *ring = buffer.Get(slots);
    if (!ring) return 0;
    int32_t pos = 0, held = 0;
    double value = 0;
    for (int32_t b = first; b <= last; b++) {
        ring[pos] = log(view.C(b) / view.C(b - 1));
        pos = pos + 1 == slots ? 0 : pos + 1;
        if (held < slots) held++;
        if (onePass && held < n && !gUseAvailableBars) continue;
        double mean = 0, squares = 0;
        for (int32_t k = 0; k < held; k++) mean += ring[k];
        mean /= held;
        for (int32_t k = 0; k < held; k++) squares += (ring[k] - mean) * (ring[k] - mean);
        value = sqrt(squares / held) * sqrt(ppy) * 100;
        if (onePass) WriteBar(node, context, view, b, value, false);
    }
    return SetResult(node, onePass ? 0 : value, false);
}

int CalcSTOC(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t n = 0;
    double avgArg = 0;
    if (!GetLengthArg(node, context, 1, barsBack, 0, &n) || !EvalArg(node, context, 2, barsBack, &avgArg) ||
        !std::isfinite(avgArg))
        return 0;
    double avg = trunc(avgArg);
    if (context->lastBar < avg + n + barsBack) return 0;
    int32_t current = context->lastBar - barsBack;
    double sum = 0;
    for (int32_t k = 0; k < avg; k++) {
        int32_t end = current - k;
        double hi = -HUGE_VAL, lo = HUGE_VAL;
        for (int32_t b = end - n + 1; b <= end; b++) {
            hi = fmax(hi, view.H(b));
            lo = fmin(lo, view.L(b));
        }
        double range = FlatSpread(hi - lo, fmax(fabs(hi), fabs(lo)));
        if (range != 0) sum += (view.C(end) - lo) * 100 / range;
    }
    return SetResult(node, sum / avg, false);
}

int CalcCCI(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t n = 0;
    if (!GetLengthArg(node, context, 1, barsBack, 0, &n)) return 0;
    int32_t current = context->lastBar - barsBack;
    if (current - n + 1 < 0 || current >= view.count) return 0;
    auto tp = [&view](int32_t b) { return (view.H(b) + view.L(b) + view.C(b)) / 3; };
    double mean = 0, md = 0, size = 0;
    for (int32_t b = current - n + 1; b <= current; b++) {
        double typical = tp(b);
        mean += typical;
        size = fmax(size, fabs(typical));
    }
    mean /= n;
    for (int32_t b = current - n + 1; b <= current; b++) md += fabs(tp(b) - mean);
    md = FlatSpread(md / n, size);
    return SetResult(node, (tp(current) - mean) / (0.015 * md), false);
}

int CalcOBV(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t n = 0;
    if (!GetLengthArg(node, context, 1, barsBack, 1, &n)) return 0;
    int32_t current = context->lastBar - barsBack;
    if (current - n + 1 < 1 || current >= view.count) return 0;
    double total = 0, net = 0;
    for (int32_t b = current - n + 1; b <= current; b++) {
        double v = view.V(b);
        total += v;
        if (view.C(b) > view.C(b - 1))
            net += v;
        else if (view.C(b) < view.C(b - 1))
            net -= v;
    }
    return SetResult(node, net * 100 / total, false);
}

int CalcSigSpike(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t n = 0;
    if (!GetLengthArg(node, context, 1, barsBack, 2, &n)) return 0;
    int32_t current = context->lastBar - barsBack;
    if (current - n - 1 < 0 || current >= view.count) return 0;
    auto ret = [&view](int32_t b) { return view.C(b) / view.C(b - 1) - 1; };
    double mean = 0, squares = 0, size = 0;
    for (int32_t b = current - n; b < current; b++) {
        double r = ret(b);
        mean += r;
        size = fmax(size, fabs(r));
    }
    mean /= n;
    for (int32_t b = current - n; b < current; b++) squares += (ret(b) - mean) * (ret(b) - mean);
    return SetResult(node, ret(current) / FlatSpread(sqrt(squares / n), size), false);
}

/* ============================================================================
** MACD and bands
** ========================================================================== */

int CalcMACD(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    bool signal = node->item != ITEM_MACD;
    int32_t look1 = 0, look2 = 0, look3 = 0;
    double len1 = 0, len2 = 0, len3 = 0;
    if (!GetSmoothingLengthArg(node, 1, context, 1, barsBack, &look1, &len1) ||
        !GetSmoothingLengthArg(node, 1, context, 2, barsBack, &look2, &len2))
        return 0;
    if (signal && !GetSmoothingLengthArg(node, 1, context, 3, barsBack, &look3, &len3)) return 0;
    double a1 = 2 / (len1 + 1), a2 = 2 / (len2 + 1), a3 = 2 / (len3 + 1);
    bool onePass = OnePassFor(node, context);
    int32_t walk = look1 > look2 ? look1 : look2;
    if (look3 > walk) walk = look3;
    int32_t current = context->lastBar - barsBack;
    int32_t first = onePass ? 0 : current - walk + 1;
    int32_t last = onePass ? view.count - 1 : current;
    if (first < 0 || last >= view.count) return 0;
    double from = fmax(trunc(len1), trunc(len2));
    if (signal) from = fmax(from, trunc(len3));
    double e1 = view.C(first), e2 = e1, sig = 0, value = 0;
    for (int32_t b = first, i = 0; b <= last; b++, i++) {
        double c = view.C(b);
        if (i > 0) {
            e1 += (c - e1) * a1;
            e2 += (c - e2) * a2;
            if (signal) sig += ((e1 - e2) - sig) * a3;
        }
        value = node->item == ITEM_MACD ? e1 - e2 : node->item == ITEM_MACDS ? sig
                                                                             : e1 - e2 - sig;
        if (onePass && i >= from - 1) WriteBar(node, context, view, b, value, true);
    }
    return SetResult(node, onePass ? 0 : value, true);
}

namespace {

/* Mean and population deviation of a ring's held values; the deviation of a
** flat ring is 0. */
void RingStats(const double *ring, int32_t held, double *mean, double *sd)
{
    double sum = 0, squares = 0, size = 0;
    for (int32_t k = 0; k < held; k++) {
        sum += ring[k];
        size = fmax(size, fabs(ring[k]));
    }
    *mean = sum / held;
    for (int32_t k = 0; k < held; k++) squares += (ring[k] - *mean) * (ring[k] - *mean);
    *sd = FlatSpread(sqrt(squares / held), size);
}

} // namespace

int CalcBollinger(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    uint32_t id = node->item;
    bool trend = id == ITEM_BB_TREND;
    bool onePass = OnePassFor(node, context);
    int32_t L1 = 0, L2 = 0, slots1 = 0, slots2 = 0;
    double mult = 0;
    int ok = GetWindowLengthArg(node, context, 1, barsBack, 0, onePass, &L1, &slots1);
    if (trend) ok = GetWindowLengthArg(node, context, 2, barsBack, 0, onePass, &L2, &slots2) && ok;
    if (!ok) return 0;
    if (!EvalArg(node, context, trend ? 3 : 2, barsBack, &mult)) return 0;
    int32_t walk = L1 > L2 ? L1 : L2;
    int32_t current = context->lastBar - barsBack;
    int32_t first = onePass ? 0 : current - walk + 1;
    int32_t last = onePass ? view.count - 1 : current;
    if (first < 0 || last >= view.count) return 0;
    WindowBuffer buffer;
    double *ring1 = buffer.Get((int64_t)slots1 + slots2);
    if (!ring1) return 0;
    double *ring2 = ring1 + slots1;
    int32_t pos1 = 0, pos2 = 0, held1 = 0, held2 = 0;
    bool price = id == ITEM_BB_TOP || id == ITEM_BB_BOT;
    double value = 0;
    int has = 0;
    for (int32_t b = first, i = 0; b <= last; b++, i++) {
        double c = view.C(b);
        ring1[pos1] = c;
        pos1 = pos1 + 1 == slots1 ? 0 : pos1 + 1;
        if (held1 < slots1) held1++;
        if (trend) {
            ring2[pos2] = c;
            pos2 = pos2 + 1 == slots2 ? 0 : pos2 + 1;
            if (held2 < slots2) held2++;
        }
        if (onePass && i < walk - 1 && !gUseAvailableBars) continue;
        if (!onePass && b < last) continue;
        double mean1, sd1;
        RingStats(ring1, held1, &mean1, &sd1);
        double lower = mean1 - mult * sd1, upper = mean1 + mult * sd1;
        switch (id) {
        case ITEM_BB_TOP: value = upper; break;
        case ITEM_BB_BOT: value = lower; break;
        case ITEM_BB_WIDTH: value = sd1 * mult * 200 / mean1; break;
        case ITEM_BB_PCT: value = (c - lower) / (2 * mult * sd1); break;
        default: {
            double mean2, sd2;
            RingStats(ring2, held2, &mean2, &sd2);
            value = (fabs(lower - (mean2 - mult * sd2)) - fabs(upper - (mean2 + mult * sd2))) / mean1;
            break;
        }
        }
        has = 1;
        if (onePass) WriteBar(node, context, view, b, value, price);
    }
    if (onePass) return SetResult(node, 0, price);
    return has ? SetResult(node, value, price) : 0;
}

int CalcKeltner(FormulaNode *node, EvalContext *context, int barsBack)
{
    BarView view;
    if (!OpenView(context, &view)) return 0;
    int32_t lookback = 0;
    double len = 0, mult = 0;
    if (!GetSmoothingLengthArg(node, 1, context, 1, barsBack, &lookback, &len)) return 0;
    if (!EvalArg(node, context, 2, barsBack, &mult)) return 0;
    if (node->item == ITEM_KB_BOT) mult = -mult;
    double a = 2 / (len + 1);
    bool onePass = OnePassFor(node, context);
    int32_t current = context->lastBar - barsBack;
    int32_t first = onePass ? 0 : current - lookback + 1;
    int32_t last = onePass ? view.count - 1 : current;
    if (first < 0 || last >= view.count) return 0;
    double ec = view.C(first), et = BarTrueRange(context, first), value = 0;
    for (int32_t b = first; b <= last; b++) {
        if (b > first) {
            ec += (view.C(b) - ec) * a;
            et += (BarTrueRange(context, b) - et) * a;
        }
        value = ec + mult * et;
        if (onePass) WriteBar(node, context, view, b, value, true);
    }
    return SetResult(node, onePass ? 0 : value, true);
}
