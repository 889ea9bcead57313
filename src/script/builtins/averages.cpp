/* averages.cpp -- the Hull average, rate of change, median and order
** statistics, linear regression, and Pearson, Spearman and group
** correlation. */
#include "script/builtins/builtins.h"

#include <cmath>
#include <cstdlib>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/formula.h"
#include "script/compiler/settings_items.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"
#include "script/eval/value_access.h"
#include "services/services.h"

namespace {

/* The bars back of step j of a walk of n steps: the oldest first, either the
** whole symbol (one pass) or the window ending at barsBack. */
inline int32_t StepBarsBack(const EvalContext *context, bool onePass, int32_t barsBack, int32_t n, int32_t j)
{
    return onePass ? context->lastBar - j : barsBack + n - 1 - j;
}

bool OnePassFor(const FormulaNode *node, const EvalContext *context)
{
    return context->onePassWindow && node->item < SCRIPT_ITEM_COUNT && gScriptItems[node->item].shareable == 1;
}

/* Sets the price scale for bar j of a one-pass walk and gives the ratio to
** the scale before (1 when unchanged). */
double StepScale(EvalContext *context, const Bar *bars, int32_t j)
{
    double factor = BarSplitFactor(&bars[j]);
    double r = j > 0 ? factor / context->priceScale : 1.0;
    context->priceScale = factor;
    return r;
}

} // namespace

/* ============================================================================
** Hull average and rate of change
** ========================================================================== */

int CalcHMA(FormulaNode *node, EvalContext *context, int barsBack)
{
    int32_t n = 0;
    if (!GetLengthArg(node, context, 2, barsBack, -1, &n)) return 0;
    int32_t s = (int32_t)floor(sqrt((double)n));
    int32_t h = n / 2;
    double wn = (double)n * (n + 1) / 2, wh = (double)h * (h + 1) / 2, ws = (double)s * (s + 1) / 2;
    WindowBuffer buffer;
    double *buf = buffer.Get((int64_t)n + s - 1);
    if (!buf) return 0;
    uint32_t type = 0;
    for (int32_t i = 0; i < n + s - 1; i++) {
        if (!EvalArg(node, context, 1, barsBack + i, &buf[i], &type) || !std::isfinite(buf[i])) return 0;
    }
    double result = 0;
    for (int32_t j = 1; j <= s; j++) {
        int32_t k = s - j;
        double wmaN = 0, wmaH = 0;
        for (int32_t m = 1; m <= n; m++) wmaN += m / wn * buf[k + n - m];
        for (int32_t m = 1; m <= h; m++) wmaH += m / wh * buf[k + h - m];
        result += (2 * wmaH - wmaN) * j / ws;
    }
    node->value = result;
    node->dataType = type;
    return 1;
}

int CalcROC(FormulaNode *node, EvalContext *context, int barsBack)
{
    int32_t n = 0;
    if (!GetLengthArg(node, context, 2, barsBack, 1, &n)) return 0;
    double now = 0, then = 0;
    if (!EvalArg(node, context, 1, barsBack, &now) || !EvalArg(node, context, 1, barsBack + n, &then)) return 0;
    node->value = then == 0 ? 0.0 : (now / then - 1) * 100;
    return 1;
}

/* ============================================================================
** Median and order statistics
** ========================================================================== */

namespace {

/* Removes the first entry >= v from the n sorted values. */
void SortedRemove(double *sorted, int32_t n, double v)
{
    int32_t i = 0;
    while (i < n && sorted[i] < v) i++;
    if (i >= n) i = n - 1;
    for (; i + 1 < n; i++) sorted[i] = sorted[i + 1];
}

/* Inserts v after every entry <= v into the n sorted values. */
void SortedInsert(double *sorted, int32_t n, double v)
{
    int32_t i = n;
    while (i > 0 && sorted[i - 1] > v) {
        sorted[i] = sorted[i - 1];
        i--;
    }
    sorted[i] = v;
}

int OrderValue(uint32_t id, const double *sorted, int32_t n, double rank, double *value)
{
    if (n < 1) return 0;
    if (id == ITEM_MEDIAN) {
        *value = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) * 0.5;
        return 1;
    }
    int64_t at = id == ITEM_RANK_N ? n - (int64_t)trunc(rank) : (int64_t)trunc((n - 1) * rank / 100);
    if (at < 0 || at >= n) return 0; /* a rank beyond the values held so far */
    *value = sorted[at];
    return 1;
}

} // namespace

int CalcMedian(FormulaNode *node, EvalContext *context, int barsBack)
{
    FunBarHold funBar(context);
    uint32_t id = node->item;
    int seriesArg = id == ITEM_MEDIAN ? 1 : 2;
    double rank = 0;
    if (id != ITEM_MEDIAN && (!EvalArg(node, context, 1, barsBack, &rank) || !std::isfinite(rank))) return 0;
    bool onePass = OnePassFor(node, context);
    int32_t L = 0, slots = 0;
    if (!GetWindowLengthArg(node, context, seriesArg + 1, barsBack, 0, onePass, &L, &slots)) return 0;
    if (id == ITEM_RANK_N && (rank < 1 || rank > L || CompareDouble(rank, trunc(rank)) != 0)) return 0;
    if (id == ITEM_PERCENT_RANK_N && (rank < 0 || rank > 100)) return 0;
    int32_t barCount = 0;
    const Bar *bars = onePass ? ContextBars(context, &barCount) : nullptr;
    if (onePass && !bars) return 0;
    /* The ring holds the window's values in order, each with its data type;
    ** sorted holds them sorted.  Both hold at most slots values. */
    WindowBuffer buffer;
    double *ring = buffer.Get(2 * (int64_t)slots);
    uint8_t *types = buffer.Types(slots);
    if (!ring || !types) return 0;
    double *sorted = ring + slots;
    int32_t n = onePass ? barCount : L;
    uint32_t direct = onePass ? DirectBarField(node, seriesArg) : 0;
    if (direct) node->textFlag = 0;
    int64_t count = 0;
    int32_t pos = 0;
    uint32_t type = 0;
    double savedScale = context->priceScale, lastOutput = 0;
    for (int32_t j = 0; j < n; j++) {
        if (onePass) {
            double r = StepScale(context, bars, j);
            if (r != 1.0 && count > 0) {
                int32_t held = count < slots ? (int32_t)count : slots;
                RescaleHeld(ring, types, slots, r);
                for (int32_t i = 0; i < held; i++) sorted[i] = ring[i];
                qsort(sorted, (size_t)held, sizeof(double), CompareDoublePtr);
            }
        }
        funBar.Step();
        double v = 0;
        uint32_t t = 0;
        int ok = direct ? (v = DirectBarValue(context, &bars[j], direct, &t), 1)
                        : EvalArg(node, context, seriesArg, StepBarsBack(context, onePass, barsBack, n, j), &v, &t);
        if (!ok || !std::isfinite(v)) {
            if (onePass) continue;
            context->priceScale = savedScale;
            return 0;
        }
        type = t;
        count++;
        int32_t held = count - 1 < slots ? (int32_t)(count - 1) : slots;
        if (count > slots) {
            SortedRemove(sorted, held, ring[pos]);
            held--;
        }
        ring[pos] = v;
        types[pos] = (uint8_t)t;
        pos = pos + 1 == slots ? 0 : pos + 1;
        SortedInsert(sorted, held, v);
        held++;
        if (onePass && (count >= L || gUseAvailableBars)) {
            double value = 0;
            if (OrderValue(id, sorted, held, rank, &value)) {
                WriteOnePass(node, context, j, value);
                lastOutput = value;
            }
        }
    }
    context->priceScale = savedScale;
    node->dataType = type;
    if (onePass) {
        node->value = lastOutput;
        return 1;
    }
    return OrderValue(id, sorted, L, rank, &node->value);
}

/* ============================================================================
** Linear regression and Pearson correlation
** ========================================================================== */

namespace {

/* Running sums over the last L pairs (L: the slots a window can hold), with
** the data type of each x and y.  Without an x series the x of a pair is its
** position in the window (0 the oldest), so the sums stay small however long
** the walk: when the window moves on, every position drops by one, which
** takes Σy from Σxy and re-forms Σx and Σx² from the count. */
struct PairSums {
    double *xs = nullptr, *ys = nullptr;
    uint8_t *xTypes = nullptr, *yTypes = nullptr;
    int32_t L = 0, pos = 0, held = 0;
    bool positional = false;
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;

    void Add(double x, uint32_t xType, double y, uint32_t yType)
    {
        if (held == L) {
            double ox = xs[pos], oy = ys[pos];
            sy -= oy;
            syy -= oy * oy;
            if (positional) {
                sxy -= sy; /* positions 1..L-1 become 0..L-2 */
            } else {
                sx -= ox;
                sxx -= ox * ox;
                sxy -= ox * oy;
            }
        } else {
            held++;
        }
        if (positional) x = held - 1;
        xs[pos] = x;
        ys[pos] = y;
        xTypes[pos] = (uint8_t)(positional ? 0 : xType);
        yTypes[pos] = (uint8_t)yType;
        pos = pos + 1 == L ? 0 : pos + 1;
        sy += y;
        syy += y * y;
        sxy += x * y;
        if (positional) {
            double m = held;
            sx = m * (m - 1) / 2;
            sxx = (m - 1) * m * (2 * m - 1) / 6;
        } else {
            sx += x;
            sxx += x * x;
        }
    }
    /* The i-th pair from the oldest; positional x counted from 0. */
    double X(int32_t i) const { return positional ? i : xs[Slot(i)]; }
    double Y(int32_t i) const { return ys[Slot(i)]; }
    int32_t Slot(int32_t i) const
    {
        int32_t start = held == L ? pos : 0;
        int32_t k = start + i;
        return k >= L ? k - L : k;
    }
    /* Rescales the held pairs, each value by its own type, and forms the
    ** sums again from them. */
    void Rescale(double r)
    {
        int32_t n = held;
        sx = sy = sxx = syy = sxy = 0;
        for (int32_t i = 0; i < n; i++) {
            int32_t k = Slot(i);
            xs[k] = RescaleByType(xs[k], xTypes[k], r);
            ys[k] = RescaleByType(ys[k], yTypes[k], r);
            double xv = X(i), yv = ys[k];
            sx += xv;
            sy += yv;
            sxx += xv * xv;
            syy += yv * yv;
            sxy += xv * yv;
        }
    }
};

/* A population variance from running sums, 0 when what is left is rounding
** residue of a constant series rather than a spread. */
double SumsVariance(double sum, double squares, double m)
{
    double mean = sum / m;
    double var = squares / m - mean * mean;
    return var <= 1e-13 * (squares / m) ? 0.0 : var;
}

int RegressionValue(uint32_t id, const PairSums &p, double *value)
{
    double m = p.held;
    if (m < 1) return 0;
    /* m² times the variance of x.  Where the running sums leave little of it
    ** beside the values' size, it is taken from the x values themselves, and
    ** x values all equal (the sums' residue aside) have none. */
    double den = m * p.sxx - p.sx * p.sx;
    if (!p.positional && !(den > 1e-6 * m * p.sxx)) {
        double mean = p.sx / m, squares = 0, size = 0;
        for (int32_t i = 0; i < p.held; i++) {
            double d = p.X(i) - mean;
            squares += d * d;
            size = fmax(size, fabs(p.X(i)));
        }
        den = FlatSpread(sqrt(squares / m), size) == 0 ? 0.0 : m * squares;
    }
    double b = den == 0 ? 0.0 : (m * p.sxy - p.sx * p.sy) / den;
    double a = (p.sy - b * p.sx) / m;
    switch (id) {
    case ITEM_LIN_REG: *value = b * p.X(p.held - 1) + a; return 1;
    case ITEM_SLOPE: *value = b; return 1;
    case ITEM_Y_INT: *value = a; return 1;
    case ITEM_STD_ERR: {
        if (m < 3) return 0;
        double squares = 0;
        for (int32_t i = 0; i < p.held; i++) {
            double e = p.Y(i) - (b * p.X(i) + a);
            squares += e * e;
        }
        *value = sqrt(squares / (m - 2));
        return 1;
    }
    default: {
        double vx = SumsVariance(p.sx, p.sxx, m), vy = SumsVariance(p.sy, p.syy, m);
        double dev = sqrt(vx) * sqrt(vy);
        *value = dev == 0 ? 0.0 : (p.sxy / m - p.sx / m * (p.sy / m)) / dev;
        return 1;
    }
    }
}

/* The walk shared by LinReg, Slope, YInt, StdErr and Correl: y is argument
** 1; x is argument 2 for Correl and for a regression given three arguments,
** else the position in the window. */
int PairWalk(FormulaNode *node, EvalContext *context, int barsBack, int lengthArg, bool xSeries)
{
    FunBarHold funBar(context);
    uint32_t id = node->item;
    bool onePass = OnePassFor(node, context);
    int32_t L = 0, slots = 0;
    if (!GetWindowLengthArg(node, context, lengthArg, barsBack, 0, onePass, &L, &slots)) return 0;
    if (id == ITEM_STD_ERR && L < 3) return 0;
    int32_t barCount = 0;
    const Bar *bars = onePass ? ContextBars(context, &barCount) : nullptr;
    if (onePass && !bars) return 0;
    WindowBuffer buffer;
    double *v = buffer.Get(2 * (int64_t)slots);
    uint8_t *t = buffer.Types(2 * (int64_t)slots);
    if (!v || !t) return 0;
    PairSums p;
    p.xs = v;
    p.ys = v + slots;
    p.xTypes = t;
    p.yTypes = t + slots;
    p.L = slots;
    p.positional = !xSeries;
    int32_t n = onePass ? barCount : L;
    uint32_t yType = 0;
    int64_t count = 0;
    double savedScale = context->priceScale, lastOutput = 0;
    bool correl = id == ITEM_CORREL;
    uint32_t direct1 = onePass ? DirectBarField(node, 1) : 0;
    uint32_t direct2 = onePass && xSeries ? DirectBarField(node, 2) : 0;
    if (direct1 || direct2) node->textFlag = 0;
    for (int32_t j = 0; j < n; j++) {
        if (onePass) {
            double r = StepScale(context, bars, j);
            if (r != 1.0 && p.held > 0) p.Rescale(r);
        }
        funBar.Step();
        int32_t bb = StepBarsBack(context, onePass, barsBack, n, j);
        double x = 0, y = 0;
        uint32_t tx = 0, ty = 0;
        /* Correl reads its first series as x; a regression reads y first. */
        double first = 0, second = 0;
        uint32_t firstType = 0, secondType = 0;
        int ok = (direct1 ? (first = DirectBarValue(context, &bars[j], direct1, &firstType), 1)
                          : EvalArg(node, context, 1, bb, &first, &firstType)) &&
            (!xSeries || (direct2 ? (second = DirectBarValue(context, &bars[j], direct2, &secondType), 1) : EvalArg(node, context, 2, bb, &second, &secondType)));
        if (correl)
            x = first, tx = firstType, y = second, ty = secondType;
        else
            y = first, ty = firstType, x = second, tx = secondType;
        if (!ok || !std::isfinite(x) || !std::isfinite(y)) {
            if (onePass) continue;
            context->priceScale = savedScale;
            return 0;
        }
        yType = ty;
        count++;
        p.Add(x, tx, y, ty);
        if (onePass && (count >= L || gUseAvailableBars)) {
            double value = 0;
            if (RegressionValue(id, p, &value)) {
                WriteOnePass(node, context, j, value);
                lastOutput = value;
            }
        }
    }
    context->priceScale = savedScale;
    if (!correl) node->dataType = yType;
    if (onePass) {
        node->value = lastOutput;
        return 1;
    }
    return RegressionValue(id, p, &node->value);
}

} // namespace

int CalcLinReg(FormulaNode *node, EvalContext *context, int barsBack)
{
    return PairWalk(node, context, barsBack, node->argCount, node->argCount >= 3);
}

int CalcCorrel(FormulaNode *node, EvalContext *context, int barsBack)
{
    return PairWalk(node, context, barsBack, 3, true);
}

/* ============================================================================
** Rank correlation
** ========================================================================== */

namespace {

int CompareDoublePairFirst(const void *a, const void *b)
{
    return CompareDouble(((const RankPair *)a)->x, ((const RankPair *)b)->x);
}

int CompareDoublePairSecond(const void *a, const void *b)
{
    return CompareDouble(((const RankPair *)a)->y, ((const RankPair *)b)->y);
}

/* Gives every run of equal keys its average 1-based rank; the tie sum. */
double AssignRanks(RankPair *pairs, int32_t n, bool byX)
{
    double ties = 0;
    int32_t start = 0;
    while (start < n) {
        double first = byX ? pairs[start].x : pairs[start].y;
        int32_t end = start + 1;
        while (end < n && CompareDouble(byX ? pairs[end].x : pairs[end].y, first) <= 0) end++;
        double rank = (start + end + 1) / 2.0;
        for (int32_t i = start; i < end; i++) (byX ? pairs[i].rankX : pairs[i].rankY) = rank;
        double t = end - start;
        ties += t * t * t - t;
        start = end;
    }
    return ties;
}

} // namespace

double SpearmanRho(RankPair *pairs, int32_t n)
{
    qsort(pairs, (size_t)n, sizeof *pairs, CompareDoublePairFirst);
    double tx = AssignRanks(pairs, n, true);
    qsort(pairs, (size_t)n, sizeof *pairs, CompareDoublePairSecond);
    double ty = AssignRanks(pairs, n, false);
    double d = 0;
    for (int32_t i = 0; i < n; i++) {
        double diff = pairs[i].rankX - pairs[i].rankY;
        d += diff * diff;
    }
    double nn = n;
    double sx = (nn * nn * nn - nn - tx) / 12, sy = (nn * nn * nn - nn - ty) / 12;
    return (sx + sy - d) / 2 / sqrt(sx * sy + 1e-20);
}

int CalcSpearman(FormulaNode *node, EvalContext *context, int barsBack)
{
    int32_t L = 0;
    if (!GetLengthArg(node, context, 3, barsBack, 0, &L) || L < 2) return 0;
    RankPair *pairs = nullptr;
    if (!ReallocMemory(&pairs, (uint64_t)L * sizeof *pairs)) return 0;
    int ok = 1;
    for (int32_t i = 0; ok && i < L; i++) {
        pairs[i] = RankPair{};
        ok = EvalArg(node, context, 1, barsBack + i, &pairs[i].x) && EvalArg(node, context, 2, barsBack + i, &pairs[i].y) &&
            std::isfinite(pairs[i].x) && std::isfinite(pairs[i].y);
    }
    if (ok) node->value = SpearmanRho(pairs, L);
    FreeMemory(&pairs);
    return ok;
}

/* ============================================================================
** Correlation against every other symbol
** ========================================================================== */

namespace {

struct SymbolCorrelation {
    double r;
    int32_t symbol; /* index in the symbol array */
};

int CompareCorrelation(const void *a, const void *b)
{
    return CompareDouble(((const SymbolCorrelation *)a)->r, ((const SymbolCorrelation *)b)->r);
}

/* Pearson r of n pairs, 0 when either series does not vary. */
double PearsonOf(const RankPair *pairs, int32_t n)
{
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int32_t i = 0; i < n; i++) {
        sx += pairs[i].x;
        sy += pairs[i].y;
        sxx += pairs[i].x * pairs[i].x;
        syy += pairs[i].y * pairs[i].y;
        sxy += pairs[i].x * pairs[i].y;
    }
    double dev = sqrt(SumsVariance(sx, sxx, n)) * sqrt(SumsVariance(sy, syy, n));
    return dev == 0 ? 0.0 : (sxy / n - sx / n * (sy / n)) / dev;
}

} // namespace

int CalcGroupCorrel(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (!context->symbol || context->symbol == &gStore.calendar) return 0;
    int32_t L = 0;
    if (!GetLengthArg(node, context, 3, barsBack, 1, &L)) return 0;
    double spearmanArg = 0, logArg = 0;
    if (node->argCount >= 4 && !EvalArg(node, context, 4, barsBack, &spearmanArg)) return 0;
    if (node->argCount >= 5 && !EvalArg(node, context, 5, barsBack, &logArg)) return 0;
    bool spearman = std::isfinite(spearmanArg) && trunc(spearmanArg) != 0;
    bool logging = node->argCount >= 5 && std::isfinite(logArg) && trunc(logArg) != 0 &&
        PlatCurrentThreadId() == gRun.uiThreadId;
    const char *name = gScriptItems[node->item].name;
    if (logging) {
        int32_t count = 0;
        const Bar *bars = ContextBars(context, &count);
        char date[DATE_TEXT_SIZE] = "";
        if (bars && context->lastBar >= 0 && context->lastBar < count)
            FormatDate(ContextBarAt(context, bars, context->lastBar)->date, gSettings.DateDisplayFormat, date);
        LogPrintf("\n>>> %s for %s on %s <<<", name, context->symbol->info.Symbol, date);
    }
    RankPair *pairs = nullptr;
    SymbolCorrelation *found = nullptr;
    double *own = nullptr;
    int ok = ReallocMemory(&pairs, (uint64_t)L * sizeof *pairs) && ReallocMemory(&own, (uint64_t)L * sizeof *own) &&
        ReallocMemory(&found, (uint64_t)(gStore.symbolCount > 0 ? gStore.symbolCount : 1) * sizeof *found);
    for (int32_t i = 0; ok && i < L; i++) {
        ok = EvalArg(node, context, 2, barsBack + L - 1 - i, &own[i]) && std::isfinite(own[i]);
    }
    int32_t counted = 0;
    for (int32_t s = 0; ok && s < gStore.symbolCount; s++) {
        SymbolRecord *symbol = &gStore.symbols[s];
        if (symbol == context->symbol) continue;
        EvalContext other = *context;
        other.symbol = symbol;
        if (!SyncContextBar(&other) || other.lastBar <= 0) continue;
        int32_t n = L;
        if (other.lastBar < L) {
            if (!gUseAvailableBars) continue;
            n = other.lastBar;
        }
        double filter = 0;
        if (!EvalArg(node, &other, 1, barsBack, &filter) || filter == 0) continue;
        for (int32_t i = 0; ok && i < n; i++) {
            pairs[i].x = own[L - n + i];
            ok = EvalArg(node, &other, 2, barsBack + n - 1 - i, &pairs[i].y) && std::isfinite(pairs[i].y);
        }
        if (!ok) break;
        double r = spearman ? SpearmanRho(pairs, n) : PearsonOf(pairs, n);
        found[counted++] = SymbolCorrelation{r, s};
        if (logging) LogPrintf("%s\t%g", symbol->info.Symbol, r);
    }
    if (ok && counted == 0) ok = 0;
    if (ok) {
        uint32_t id = node->item;
        double value = 0;
        const SymbolCorrelation *pick = nullptr;
        if (id == ITEM_CORREL_AVG) {
            for (int32_t i = 0; i < counted; i++) value += found[i].r;
            value /= counted;
        } else {
            qsort(found, (size_t)counted, sizeof *found, CompareCorrelation);
            if (id == ITEM_CORREL_MED) {
                value = counted % 2 ? found[counted / 2].r : (found[counted / 2 - 1].r + found[counted / 2].r) / 2;
            } else {
                pick = (id == ITEM_CORREL_MIN || id == ITEM_CORREL_MIN_SYM) ? &found[0] : &found[counted - 1];
                value = (id == ITEM_CORREL_MIN || id == ITEM_CORREL_MAX) ? pick->r : pick->symbol + 1;
                CopyString(node->text, sizeof node->text, gStore.symbols[pick->symbol].info.Symbol, -1);
            }
        }
        node->value = value;
        if (logging) {
            bool symbolValue = id == ITEM_CORREL_MIN_SYM || id == ITEM_CORREL_MAX_SYM;
            char text[64];
            if (symbolValue)
                CopyString(text, sizeof text, node->text, -1);
            else
                FormatText(text, sizeof text, "%g", value);
            LogPrintf("-------\t--------\n%s:\t%s", name + 6, text);
        }
    }
    FreeMemory(&pairs);
    FreeMemory(&own);
    FreeMemory(&found);
    return ok;
}
