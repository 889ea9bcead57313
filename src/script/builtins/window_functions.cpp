/* window_functions.cpp -- the multi-bar functions over one series: sums,
** averages, moments, bands, ranks, exponential smoothings, the parabolic
** stop over a series, and running extremes.
**
** One routine serves all 29 members.  The per-bar path walks the window that
** ends at the given bars back and gives one value; the one-pass path (shared
** members only) walks every bar of the symbol once, carries running sums and
** rings from bar to bar, rescales them where the split factor changes, and
** writes one value per bar in that bar's own price terms.
*/
#include "script/builtins/builtins.h"

#include <cmath>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/formula.h"
#include "script/compiler/settings_items.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"
#include "script/eval/value_getters.h"

namespace {

/* How a member keeps its state. */
enum WindowFamily {
    FAMILY_SUM, /* Sum, MA */
    FAMILY_SUM_SQ,
    FAMILY_PRODUCT,
    FAMILY_MOMENTS, /* StdDev .. BBTrendF */
    FAMILY_RANK,    /* Rank, PercentRank */
    FAMILY_EMA,
    FAMILY_ESD,
    FAMILY_AEMA, /* AEMA, AESD */
    FAMILY_DEMA, /* DEMA, TEMA */
    FAMILY_RSI,
    FAMILY_SAR,
    FAMILY_WMA,
    FAMILY_VWMA,
    FAMILY_KAMA,
    FAMILY_EXTREME, /* Highest .. SinceLow */
    FAMILY_NONE
};

WindowFamily FamilyOf(uint32_t id)
{
    switch (id) {
    case ITEM_SUM:
    case ITEM_MA: return FAMILY_SUM;
    case ITEM_SUM_SQ: return FAMILY_SUM_SQ;
    case ITEM_PRODUCT: return FAMILY_PRODUCT;
    case ITEM_STD_DEV:
    case ITEM_SKEWNESS:
    case ITEM_KURTOSIS:
    case ITEM_BB_TOP_F:
    case ITEM_BB_BOT_F:
    case ITEM_BB_WIDTH_F:
    case ITEM_BB_PCT_F:
    case ITEM_BB_TREND_F: return FAMILY_MOMENTS;
    case ITEM_RANK:
    case ITEM_PERCENT_RANK: return FAMILY_RANK;
    case ITEM_EMA: return FAMILY_EMA;
    case ITEM_ESD: return FAMILY_ESD;
    case ITEM_AEMA:
    case ITEM_AESD: return FAMILY_AEMA;
    case ITEM_DEMA:
    case ITEM_TEMA: return FAMILY_DEMA;
    case ITEM_RSI_F: return FAMILY_RSI;
    case ITEM_SAR_F: return FAMILY_SAR;
    case ITEM_WMA: return FAMILY_WMA;
    case ITEM_VWMA: return FAMILY_VWMA;
    case ITEM_KAMA: return FAMILY_KAMA;
    case ITEM_HIGHEST:
    case ITEM_LOWEST:
    case ITEM_SINCE_HIGH:
    case ITEM_SINCE_LOW: return FAMILY_EXTREME;
    default: return FAMILY_NONE;
    }
}

/* The exponential members skip a bar without a value in the per-bar walk
** instead of giving up. */
bool SkipsFailedBars(WindowFamily family)
{
    return family == FAMILY_EMA || family == FAMILY_ESD || family == FAMILY_DEMA || family == FAMILY_RSI ||
        family == FAMILY_KAMA;
}

/* Members whose result carries the series' data type. */
bool KeepsSeriesType(uint32_t id)
{
    switch (id) {
    case ITEM_SUM:
    case ITEM_MA:
    case ITEM_STD_DEV:
    case ITEM_BB_TOP_F:
    case ITEM_BB_BOT_F:
    case ITEM_EMA:
    case ITEM_ESD:
    case ITEM_AEMA:
    case ITEM_AESD:
    case ITEM_DEMA:
    case ITEM_TEMA:
    case ITEM_SAR_F:
    case ITEM_WMA:
    case ITEM_VWMA:
    case ITEM_KAMA:
    case ITEM_HIGHEST:
    case ITEM_LOWEST: return true;
    default: return false;
    }
}

/* The last size values with their running sum and the data type of each.
** A run of size zeros sets the sum to exactly 0, so a window that has become
** all zeros reads 0 and not the rounding residue of the values that left it. */
struct Ring {
    double *v = nullptr;
    uint8_t *t = nullptr;
    int32_t size = 0;
    int32_t pos = 0; /* slot the next value goes to */
    int32_t filled = 0;
    int32_t zeroRun = 0;
    double sum = 0;

    void Init(double *buffer, uint8_t *types, int32_t n, bool full)
    {
        v = buffer;
        t = types;
        size = n;
        filled = full ? n : 0;
    }
    void Add(double x, uint32_t type)
    {
        if (filled == size)
            sum -= v[pos];
        else
            filled++;
        v[pos] = x;
        t[pos] = (uint8_t)type;
        pos = pos + 1 == size ? 0 : pos + 1;
        if (x == 0) {
            if (++zeroRun >= size) {
                sum = 0;
                return;
            }
        } else {
            zeroRun = 0;
        }
        sum += x;
    }
    /* The i-th value from the oldest held. */
    double At(int32_t i) const
    {
        int32_t start = filled == size ? pos : 0;
        int32_t k = start + i;
        return v[k >= size ? k - size : k];
    }
    double Newest() const { return v[pos == 0 ? size - 1 : pos - 1]; }
    /* Each held value by its own type; the sum is formed again from them, as
    ** a window of prices and constants has no one type to scale it by (the
    ** slots not yet filled hold 0). */
    void Rescale(double r)
    {
        RescaleHeld(v, t, size, r);
        if (zeroRun >= size) return; /* all zeros: the sum stays exactly 0 */
        sum = 0;
        for (int32_t i = 0; i < size; i++) sum += v[i];
    }
};

/* Population moments of a ring's n held values. */
struct Moments {
    double mean, sd, m3, m4;
};

Moments RingMoments(const Ring &ring)
{
    Moments m{};
    int32_t n = ring.filled;
    if (n <= 0) return Moments{NAN, NAN, NAN, NAN};
    m.mean = ring.sum / n;
    double m2 = 0, m3 = 0, m4 = 0, size = 0;
    for (int32_t i = 0; i < n; i++) {
        double d = ring.At(i) - m.mean;
        double d2 = d * d;
        m2 += d2;
        m3 += d2 * d;
        m4 += d2 * d2;
        size = fmax(size, fabs(ring.At(i)));
    }
    /* A flat window has no spread: the running sum's residue is no deviation. */
    m.sd = FlatSpread(sqrt(m2 / n), size);
    m.m3 = m3 / n;
    m.m4 = m4 / n;
    return m;
}

/* Everything a member reads once and carries along the walk. */
struct WindowState {
    uint32_t id;
    WindowFamily family;
    int32_t L = 0, L2 = 0; /* window lengths (L2: second band of BBTrendF) */
    int32_t slots = 0;     /* values the window can hold (WindowSlots of L) */
    double mult = 0;       /* band multiplier */
    double a = 0, n = 0;   /* smoothing factor; RsiF length */
    double accel = 0.02, maxAf = 0.2;
    double fast = 0, slow = 0; /* KAMA factors */
    bool useRing = false;      /* values kept in windows (one pass, or members that need them) */
    Ring ring, ring2;
    int64_t count = 0;
    uint32_t type = 0;     /* data type of the last series value */
    uint32_t heldType = 0; /* data type of the prices (or volumes) counted so far */
    double last = 0;   /* the last series value */
    double sum = 0, ema = 0, var = 0, e1 = 0, e2 = 0, e3 = 0, gain = 0, loss = 0;
    double prev = 0, prev2 = 0, sar = 0, ep = 0, af = 0;
    bool isLong = false;
    double ext = 0;
    int32_t since = 0;
    /* One-pass extremes: the counts (first slots) and values (next slots),
    ** with queueTypes their data types, of the values that may still become
    ** the extreme, oldest first, the values falling (rising for the lowest),
    ** so the window's extreme is at the front. */
    double *queue = nullptr;
    uint8_t *queueTypes = nullptr;
    int32_t queueHead = 0, queueSize = 0;
};

/* A window is rescaled by what it holds: every value of a ring or queue by
** its own type, and a running sum or smoothing, which mixes every value it
** took in, by the type of the prices (or volumes) among them.  The type of
** the last value alone would leave a window of a conditional series unscaled
** whenever its last value was the constant. */
void RescaleState(WindowState *s, double r)
{
    if (s->ring.v) s->ring.Rescale(r);
    if (s->ring2.v) s->ring2.Rescale(r);
    if (s->queue) RescaleHeld(s->queue + s->slots, s->queueTypes, s->slots, r);
    uint32_t t = s->heldType;
    if (t != 1 && t != 2) return;
    s->sum = RescaleByType(s->sum, t, r);
    s->ema = RescaleByType(s->ema, t, r);
    s->var = RescaleByType(RescaleByType(s->var, t, r), t, r);
    s->e1 = RescaleByType(s->e1, t, r);
    s->e2 = RescaleByType(s->e2, t, r);
    s->e3 = RescaleByType(s->e3, t, r);
    s->ext = RescaleByType(s->ext, t, r);
}

bool Better(uint32_t id, double x, double ext)
{
    return (id == ITEM_HIGHEST || id == ITEM_SINCE_HIGH) ? x >= ext : x <= ext;
}

/* Counts one value of data type type into the member's state.  factorArg
** is the AEMA factor of this bar. */
void UpdateState(WindowState *s, double x, uint32_t type, double volume, double factorArg)
{
    int64_t c = ++s->count;
    s->last = x;
    s->type = type;
    if (type != 0) s->heldType = type;
    switch (s->family) {
    case FAMILY_SUM:
        if (s->useRing)
            s->ring.Add(x, type);
        else
            s->sum += x;
        break;
    case FAMILY_SUM_SQ: s->sum += x * x; break;
    case FAMILY_PRODUCT: s->sum = c == 1 ? x : s->sum * x; break;
    case FAMILY_MOMENTS:
        s->ring.Add(x, type);
        if (s->ring2.v) s->ring2.Add(x, type);
        break;
    case FAMILY_RANK: s->ring.Add(x, type); break;
    case FAMILY_EMA:
        if (c <= s->L) {
            s->sum += x;
            if (c == s->L) s->ema = s->sum / s->L;
        } else {
            s->ema += (x - s->ema) * s->a;
        }
        break;
    case FAMILY_ESD:
    case FAMILY_AEMA: {
        if (c == 1) {
            s->ema = x;
            s->var = 0;
            break;
        }
        double a = s->family == FAMILY_AEMA ? factorArg : s->a;
        s->ema += (x - s->ema) * a;
        double d = x - s->ema;
        s->var += (d * d - s->var) * a;
        break;
    }
    case FAMILY_DEMA:
        if (c == 1) {
            s->e1 = s->e2 = s->e3 = x;
        } else {
            s->e1 += (x - s->e1) * s->a;
            s->e2 += (s->e1 - s->e2) * s->a;
            s->e3 += (s->e2 - s->e3) * s->a;
        }
        break;
    case FAMILY_RSI:
        if (c > 1) {
            double d = x - s->prev;
            s->gain = ((s->n - 1) * s->gain + (d > 0 ? d : 0)) / s->n;
            s->loss = ((s->n - 1) * s->loss + (d < 0 ? -d : 0)) / s->n;
        }
        s->prev = x;
        break;
    case FAMILY_SAR:
        if (c == 1) {
            s->prev = s->prev2 = x;
            break;
        }
        if (c == 2) {
            s->isLong = x > s->prev;
            s->sar = s->prev;
            s->ep = x;
            s->af = s->accel;
        } else {
            double next = s->sar + (s->ep - s->sar) * s->af;
            if (s->isLong) {
                if (next >= x) {
                    s->isLong = false;
                    s->sar = s->ep;
                    s->af = s->accel;
                    s->ep = x;
                } else {
                    s->sar = fmin(next, fmin(s->prev, s->prev2));
                    if (x > s->ep) {
                        s->ep = x;
                        s->af = fmin(s->maxAf, s->af + s->accel);
                    }
                }
            } else {
                if (x >= next) {
                    s->isLong = true;
                    s->sar = s->ep;
                    s->af = s->accel;
                    s->ep = x;
                } else {
                    s->sar = fmax(next, fmax(s->prev, s->prev2));
                    if (x < s->ep) {
                        s->ep = x;
                        s->af = fmin(s->maxAf, s->af + s->accel);
                    }
                }
            }
        }
        s->prev2 = s->prev;
        s->prev = x;
        break;
    case FAMILY_WMA: s->sum += (double)c / ((double)s->L * (s->L + 1) / 2) * x; break;
    case FAMILY_VWMA:
        s->ring.Add(x, type);
        s->ring2.Add(volume, 2);
        break;
    case FAMILY_KAMA: {
        if (c == 1) {
            s->ema = x;
        } else {
            Ring &r = s->ring;
            double volatility = fabs(x - r.Newest());
            for (int32_t i = 1; i < r.size; i++) volatility += fabs(r.At(i) - r.At(i - 1));
            double er = volatility == 0 ? 1.0 : fabs(x - r.At(0)) / volatility;
            double sc = er * (s->fast - s->slow) + s->slow;
            s->ema += (x - s->ema) * sc * sc;
        }
        s->ring.Add(x, type);
        break;
    }
    case FAMILY_EXTREME:
        if (c == 1 || Better(s->id, x, s->ext)) {
            s->ext = x;
            s->since = 0;
        } else {
            s->since++;
        }
        if (s->useRing) {
            /* Whatever the new value equals or beats can never again be the
            ** extreme of a window that also holds the new value; what has
            ** left the window leaves the front. */
            int32_t n = s->slots; /* the queue never holds more than the window can */
            double *counts = s->queue, *values = s->queue + n;
            while (s->queueSize > 0 && counts[s->queueHead] <= (double)(c - s->L)) {
                s->queueHead = s->queueHead + 1 == n ? 0 : s->queueHead + 1;
                s->queueSize--;
            }
            while (s->queueSize > 0) {
                int32_t back = s->queueHead + s->queueSize - 1;
                if (!Better(s->id, x, values[back >= n ? back - n : back])) break;
                s->queueSize--;
            }
            int32_t slot = s->queueHead + s->queueSize;
            if (slot >= n) slot -= n;
            counts[slot] = (double)c;
            values[slot] = x;
            s->queueTypes[slot] = (uint8_t)type;
            s->queueSize++;
            s->ext = values[s->queueHead];
            s->since = (int32_t)(c - (int64_t)counts[s->queueHead]);
        }
        break;
    case FAMILY_NONE: break;
    }
}

/* The member's value from its state: 1 with *value, 0 when it has none,
** 2 for a VWMA without volume (0 bar by bar, no value in a one-pass walk). */
int ResultOf(const WindowState *s, double *value)
{
    switch (s->family) {
    case FAMILY_SUM: {
        double sum = s->useRing ? s->ring.sum : s->sum;
        int64_t n = s->useRing ? s->ring.filled : s->count;
        *value = s->id == ITEM_SUM ? sum : sum / (double)n;
        return 1;
    }
    case FAMILY_SUM_SQ:
    case FAMILY_PRODUCT:
    case FAMILY_WMA: *value = s->sum; return 1;
    case FAMILY_MOMENTS: {
        Moments m = RingMoments(s->ring);
        switch (s->id) {
        case ITEM_STD_DEV: *value = m.sd; break;
        case ITEM_SKEWNESS: *value = m.m3 / (m.sd * m.sd * m.sd); break;
        case ITEM_KURTOSIS: *value = m.m4 / (m.sd * m.sd * m.sd * m.sd) - 3; break;
        case ITEM_BB_TOP_F: *value = m.mean + s->mult * m.sd; break;
        case ITEM_BB_BOT_F: *value = m.mean - s->mult * m.sd; break;
        case ITEM_BB_WIDTH_F: *value = m.sd * 200 * s->mult / m.mean; break;
        case ITEM_BB_PCT_F: *value = (s->last - (m.mean - s->mult * m.sd)) / (2 * s->mult * m.sd); break;
        default: {
            Moments m2 = RingMoments(s->ring2);
            double lower1 = m.mean - s->mult * m.sd, upper1 = m.mean + s->mult * m.sd;
            double lower2 = m2.mean - s->mult * m2.sd, upper2 = m2.mean + s->mult * m2.sd;
            *value = (fabs(lower1 - lower2) - fabs(upper1 - upper2)) / m.mean;
            break;
        }
        }
        return std::isfinite(*value) ? 1 : 0;
    }
    case FAMILY_RANK: {
        const Ring &r = s->ring;
        int32_t n = r.filled;
        double x = r.Newest();
        int32_t rank = 1;
        for (int32_t i = 0; i < n - 1; i++)
            if (r.At(i) > x) rank++;
        if (s->id == ITEM_RANK)
            *value = rank;
        else
            *value = n < 2 ? 1.0 : 100.0 / (n - 1) * (n - rank);
        return 1;
    }
    case FAMILY_EMA:
        /* Before the seed average is complete, the average of what came in. */
        *value = s->count < s->L ? s->sum / (double)s->count : s->ema;
        return 1;
    case FAMILY_ESD: *value = sqrt(s->var); return 1;
    case FAMILY_AEMA: *value = s->id == ITEM_AEMA ? s->ema : sqrt(s->var); return 1;
    case FAMILY_DEMA: *value = s->id == ITEM_DEMA ? 2 * s->e1 - s->e2 : 3 * s->e1 - 3 * s->e2 + s->e3; return 1;
    case FAMILY_RSI:
        /* A series that only rose is at the top of the scale, not the bottom;
        ** with no change at all the value stays 0. */
        if (s->loss == 0)
            *value = s->gain > 0 ? 100.0 : 0.0;
        else
            *value = 100 - 100 / (s->gain / s->loss + 1);
        return 1;
    case FAMILY_SAR:
        if (s->count < 2) return 0;
        *value = s->sar;
        return 1;
    case FAMILY_VWMA: {
        const Ring &r = s->ring;
        double weighted = 0;
        for (int32_t i = 0; i < r.filled; i++) weighted += r.At(i) * s->ring2.At(i);
        if (s->ring2.sum == 0) {
            *value = 0;
            return 2; /* no volume: 0 per bar, nothing in a one-pass walk */
        }
        *value = weighted / s->ring2.sum;
        return 1;
    }
    case FAMILY_KAMA: *value = s->ema; return 1;
    case FAMILY_EXTREME:
        *value = (s->id == ITEM_HIGHEST || s->id == ITEM_LOWEST) ? s->ext : s->since;
        return 1;
    case FAMILY_NONE: break;
    }
    return 0;
}

/* Whether the one-pass walk writes a value at this count. */
bool OnePassWrites(const WindowState *s, bool partial)
{
    switch (s->family) {
    case FAMILY_SUM:
    case FAMILY_MOMENTS:
    case FAMILY_RANK:
    case FAMILY_VWMA:
    case FAMILY_EXTREME: return s->count >= s->L || partial;
    case FAMILY_EMA: return s->count >= s->L || (gUseAvailableBars && s->count > 0);
    case FAMILY_RSI: return s->count >= (int64_t)trunc(s->n);
    default: return true;
    }
}

/* The bars a per-bar walk reads a plain open, high, low, close or volume
** from, as the evaluator's price getter picks them: null where that getter
** is not the one the series would go through (a trial bar). */
const Bar *PerBarArray(const EvalContext *context, int32_t *count)
{
    *count = 0;
    return context->trialBar ? nullptr : GetBarArray(context->symbol, context->barSize, count);
}

/* The per-bar walk of a sum, average or extreme over a plain bar field, the
** n bars from bars[first] on: the generic walk's values and updates in its
** order, without its per-bar dispatch.  false where a value is not finite
** (the call then gives none, as the generic walk's does). */
bool WalkSumOrExtreme(WindowState *s, const EvalContext *context, const Bar *bars, int32_t first, int32_t n,
                      uint32_t field, FormulaNode *series)
{
    double x = 0;
    uint32_t type = 0;
    int32_t j = 0;
    for (; j < n; j++) {
        x = DirectBarValue(context, &bars[first + j], field, &type);
        if (!std::isfinite(x)) break;
        if (s->family == FAMILY_SUM) {
            s->sum += x;
        } else if (s->count == 0 || Better(s->id, x, s->ext)) {
            s->ext = x;
            s->since = 0;
        } else {
            s->since++;
        }
        s->count++;
    }
    s->type = type;
    s->last = x;
    series->value = x;
    series->dataType = type;
    if (j == n) series->evaluated = 1;
    return j == n;
}

int32_t WalkCount(double v)
{
    if (!(v > -2.0e9)) return -1;
    if (v > 2.0e9) return 2000000000;
    return (int32_t)v;
}

} // namespace

/* ============================================================================
** The one implementation of the window functions
** ========================================================================== */

int CalcWindowFunction(FormulaNode *node, EvalContext *context, int barsBack)
{
    FunBarHold funBar(context);
    WindowState s;
    s.id = node->item;
    s.family = FamilyOf(s.id);
    if (s.family == FAMILY_NONE) return 0;
    bool onePass = context->onePassWindow && node->item < SCRIPT_ITEM_COUNT && gScriptItems[node->item].shareable == 1;
    int32_t barCount = 0;
    if (onePass && !ContextBars(context, &barCount)) return 0;

    /* ---- arguments and the number of bars to walk ---- */
    int32_t walk = 0;
    double length = 0;
    int32_t lookback = 0;
    switch (s.family) {
    case FAMILY_EMA:
    case FAMILY_ESD:
    case FAMILY_DEMA:
        if (!GetSmoothingLengthArg(node, 1, context, 2, barsBack, &lookback, &length)) return 0;
        s.a = 2 / (length + 1);
        s.L = WalkCount(trunc(length));
        if (!onePass && lookback < s.L) {
            if (!gUseAvailableBars) return 0;
            s.L = lookback;
        }
        walk = lookback;
        break;
    case FAMILY_RSI:
        if (!GetSmoothingLengthArg(node, 2, context, 2, barsBack, &lookback, &length)) return 0;
        s.n = length;
        s.L = lookback;
        walk = lookback;
        break;
    case FAMILY_AEMA: {
        double f = 0;
        if (!EvalArg(node, context, 2, barsBack, &f) || !std::isfinite(f)) return 0;
        walk = f == 0 ? 10 : WalkCount(trunc((2 - f) * 5 / f));
        if (!onePass) {
            if (walk < 1) {
                node->value = 0;
                return 1;
            }
            if ((int64_t)barsBack + walk - 1 > context->lastBar) return 0;
        }
        break;
    }
    case FAMILY_KAMA: {
        double erLength = 0, slowLength = 0, fastLength = 0;
        if (!EvalArg(node, context, 2, barsBack, &erLength) || !std::isfinite(erLength)) return 0;
        if (!GetSmoothingLengthArg(node, 2, context, 2, barsBack, &lookback, &length)) return 0;
        s.L = WalkCount(trunc(erLength));
        if (s.L > lookback) s.L = lookback;
        if (s.L < 1) return 0;
        if (!EvalArg(node, context, 3, barsBack, &fastLength) || !EvalArg(node, context, 4, barsBack, &slowLength))
            return 0;
        s.fast = 2 / (fastLength + 1);
        s.slow = 2 / (slowLength + 1);
        walk = lookback;
        break;
    }
    case FAMILY_SAR: {
        s.L = 100;
        if (node->argCount >= 2 && !EvalArg(node, context, 2, barsBack, &s.accel)) return 0;
        if (node->argCount >= 3 && !EvalArg(node, context, 3, barsBack, &s.maxAf)) return 0;
        if (node->argCount >= 4 && !GetLengthArg(node, context, 4, barsBack, 0, &s.L)) return 0;
        walk = s.L;
        break;
    }
    default: {
        /* A one-pass walk still runs on a count that is only too long: its
        ** outputs wait for the window to fill, which may never happen. */
        int32_t slots2 = 0;
        int ok = GetWindowLengthArg(node, context, 2, barsBack, 0, onePass, &s.L, &s.slots);
        if (ok && s.id == ITEM_BB_TREND_F)
            ok = GetWindowLengthArg(node, context, 3, barsBack, 0, onePass, &s.L2, &slots2);
        int multArg = s.id == ITEM_BB_TREND_F ? 4 : 3;
        if (ok && s.family == FAMILY_MOMENTS && s.id != ITEM_STD_DEV && s.id != ITEM_SKEWNESS &&
            s.id != ITEM_KURTOSIS)
            ok = EvalArg(node, context, multArg, barsBack, &s.mult);
        if (s.id == ITEM_BB_TREND_F) s.ring2.size = slots2;
        if (!ok) {
            if (s.id == ITEM_SUM) {
                /* A Sum of no bars is 0, at every bar of a one-pass walk too. */
                if (onePass)
                    for (int32_t j = 0; j < barCount; j++) WriteOnePass(node, context, j, 0);
                node->value = 0;
                return 1;
            }
            return 0;
        }
        walk = s.L > s.L2 ? s.L : s.L2;
        break;
    }
    }
    if (s.id == ITEM_BB_TREND_F) {
        /* Both bands count to the longer window. */
        int32_t longer = s.L > s.L2 ? s.L : s.L2;
        s.L2 = longer;
    } else if (s.family != FAMILY_SUM && s.family != FAMILY_MOMENTS && s.family != FAMILY_RANK &&
               s.family != FAMILY_VWMA && s.family != FAMILY_EXTREME) {
        /* The smoothings' lengths are the bars they walk (KAMA's ring too). */
        s.slots = WindowSlots(context, onePass, s.L);
    }

    /* ---- window buffers ---- */
    s.useRing = onePass || (s.family != FAMILY_SUM && s.family != FAMILY_EXTREME);
    bool needRing = s.useRing && s.family != FAMILY_SUM_SQ && s.family != FAMILY_PRODUCT &&
        s.family != FAMILY_EMA && s.family != FAMILY_ESD && s.family != FAMILY_AEMA &&
        s.family != FAMILY_DEMA && s.family != FAMILY_RSI && s.family != FAMILY_SAR &&
        s.family != FAMILY_WMA && s.family != FAMILY_EXTREME;
    int64_t secondSize = s.id == ITEM_BB_TREND_F ? s.ring2.size : s.family == FAMILY_VWMA ? s.slots : 0;
    int64_t queueSize = s.family == FAMILY_EXTREME && onePass ? s.slots : 0;
    WindowBuffer buffer;
    if (needRing) {
        double *v = buffer.Get(s.slots + secondSize);
        uint8_t *t = buffer.Types(s.slots + secondSize);
        if (!v || !t) return 0;
        s.ring.Init(v, t, s.slots, s.family == FAMILY_KAMA);
        if (secondSize) s.ring2.Init(v + s.slots, t + s.slots, (int32_t)secondSize, false);
    } else if (queueSize) {
        s.queue = buffer.Get(2 * queueSize);
        s.queueTypes = buffer.Types(queueSize);
        if (!s.queue || !s.queueTypes) return 0;
    }
    if (s.id == ITEM_BB_TREND_F) s.L = s.L2; /* the window counts as full at the longer length */

    /* ---- the walk ---- */
    int32_t n = onePass ? barCount : walk;
    if (n < 1) return 0;
    bool scalePerBar = onePass && s.family != FAMILY_RSI;
    bool partial = gUseAvailableBars ||
        (context->onePassOption && (s.family == FAMILY_SUM || s.family == FAMILY_EXTREME));
    double savedScale = context->priceScale;
    /* A plain bar field is read straight from the bars on both walks: an
    ** exit rule's window, walked for every open position every day, then
    ** costs a loop over the bars rather than an evaluation per bar, with the
    ** same values (the getter's factor and field) in the same order. */
    const Bar *bars = onePass ? GetBarArray(context->symbol, context->barSize, &barCount)
                              : PerBarArray(context, &barCount);
    uint32_t direct = bars ? DirectBarField(node, 1) : 0;
    FormulaNode *series = node + node->argLinks[0];
    if (direct) node->textFlag = onePass ? 0 : series->textFlag;
    if (direct && !onePass && series->textFlag) CopyString(node->text, sizeof node->text, series->text, -1);
    if (direct && !onePass && (s.family == FAMILY_SUM || s.family == FAMILY_EXTREME)) {
        int64_t first = (int64_t)context->lastBar - barsBack - (n - 1);
        if (first >= 0 && first + n <= barCount) {
            if (!WalkSumOrExtreme(&s, context, bars, (int32_t)first, n, direct, series)) return 0;
            if (KeepsSeriesType(s.id)) node->dataType = s.type;
            double value = 0;
            if (!ResultOf(&s, &value)) return 0;
            node->value = value;
            return 1;
        }
    }
    FormulaNode volumeNode{};
    volumeNode.item = ITEM_VOLUME;
    volumeNode.category = CAT_BAR_VALUE;
    double lastOutput = 0;
    int failed = 0;
    for (int32_t j = 0; j < n && !failed; j++) {
        int32_t bb = onePass ? context->lastBar - j : barsBack + n - 1 - j;
        if (scalePerBar) {
            double factor = BarSplitFactor(&bars[j]);
            if (j > 0 && factor != context->priceScale) RescaleState(&s, factor / context->priceScale);
            context->priceScale = factor;
        }
        funBar.Step();
        double x = 0, volume = 0, factorArg = 1;
        uint32_t type = 0;
        int ok;
        if (!direct) {
            ok = EvalArg(node, context, 1, bb, &x, &type) && std::isfinite(x);
        } else if (onePass) {
            x = DirectBarValue(context, &bars[j], direct, &type);
            ok = std::isfinite(x);
        } else {
            int64_t at = (int64_t)context->lastBar - bb;
            ok = at >= 0 && at < barCount;
            if (ok) {
                x = DirectBarValue(context, &bars[at], direct, &type);
                ok = std::isfinite(x);
                /* The series node is left as its evaluation would leave it. */
                series->value = x;
                series->dataType = type;
                if (ok) series->evaluated = 1;
            }
        }
        if (ok && s.family == FAMILY_VWMA) {
            ok = GetBarValue(&volumeNode, context, bb);
            volume = volumeNode.value;
        }
        if (ok && s.family == FAMILY_AEMA && s.count > 0) {
            if (!EvalArg(node, context, 2, bb, &factorArg) || !std::isfinite(factorArg)) factorArg = 1;
        }
        if (!ok) {
            if (onePass || SkipsFailedBars(s.family)) continue;
            failed = 1;
            break;
        }
        UpdateState(&s, x, type, volume, factorArg);
        if (onePass) {
            double value = 0;
            int has = 0;
            if (OnePassWrites(&s, partial))
                has = ResultOf(&s, &value) == 1;
            else if (s.id == ITEM_SUM)
                has = 1; /* before the window fills a Sum is 0 */
            if (has) {
                WriteOnePass(node, context, j, value);
                lastOutput = value;
            }
        }
    }
    context->priceScale = savedScale;
    if (failed) return 0;
    if (KeepsSeriesType(s.id) && s.count > 0) node->dataType = s.type;
    if (onePass) {
        node->value = lastOutput;
        return 1;
    }
    if (s.count == 0) return 0;
    if (SkipsFailedBars(s.family) && s.count < s.L) return 0;
    double value = 0;
    if (!ResultOf(&s, &value)) return 0;
    node->value = value;
    return 1;
}
