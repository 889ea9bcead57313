/* trade_plot_paint.cpp -- the trade plot's picture: margins, value and
** position grids, the body of each kind, the fitted line, title and cross hair. */
#include <cmath>
#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "views/res_graph.h"
#include "views/trade_plot.h"
#include "foundation/win32/window_text.h"
#include "views/win32/draw_resources.h"
#include "views/win32/plot_paint.h"

namespace {

struct Layout {
    HDC dc;
    int W, H, T, C, L;
    double vMin, vMax; /* in drawing terms (logarithmic where it applies) */
    double xMin, xMax;
    int logScale;
    int32_t code, decimals;
    const char *currency;
};

double Scaled(const Layout &g, double v) { return g.logScale ? std::log(1 + v) : v; }

int ValueY(const Layout &g, double v)
{
    if (!(g.vMax > g.vMin)) return g.H / 2;
    double s = Scaled(g, v);
    double y = (g.H - g.T / 2 - 3 * g.T) - double(g.H - 3 * g.T - 3 * g.T) * (s - g.vMin) / (g.vMax - g.vMin);
    if (!std::isfinite(y) || std::fabs(y) > 1e6) return y < 0 ? -100000 : 100000;
    return int(y);
}

int PositionX(const Layout &g, double x)
{
    if (!(g.xMax > g.xMin)) return (g.L + g.W - g.C) / 2;
    double px = g.L + double(g.W - g.C - g.L) * (x - g.xMin) / (g.xMax - g.xMin);
    if (!std::isfinite(px) || std::fabs(px) > 1e6) return px < 0 ? -100000 : 100000;
    return int(px);
}

int TextWidth(HDC dc, const char *text)
{
    return TextWidthWide(dc, text);
}

void Text(HDC dc, int x, int y, const char *text, UINT align, COLORREF colour)
{
    SetTextAlign(dc, align | TA_TOP);
    SetTextColor(dc, colour);
    DrawTextWide(dc, x, y, text);
}

void Line(HDC dc, int x0, int y0, int x1, int y1)
{
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

/* The shared pen of the picture's lines; pens are never made here. */
HGDIOBJ SelectSharedPen(HDC dc, int style, int width, COLORREF colour)
{
    HPEN pen = PenBlack;
    if (style == PS_DOT)
        pen = DotPenLightGrey;
    else if (colour == PLOT_DARK_GREY)
        pen = PenDarkGrey;
    else if (colour == PLOT_MAGENTA)
        pen = PenMagenta2;
    else if (width == 3)
        pen = PenBlack3;
    return (HPEN)SelectObject(dc, pen);
}

/* Writes a label along the bottom centred under x, kept whole right of the
** value axis and inside the picture. */
void BottomText(const Layout &g, int x, const char *text)
{
    CentredLabel(g.dc, x, g.H - 3 * g.T + g.C + 2, text, g.L - g.C + 2, g.W - 1);
}

void FormatValue(const Layout &g, double v, char *out)
{
    FormatNumber(v, g.code, g.decimals, 0, g.currency, out);
}

/* Labels along the bottom at boundary positions 0, step, ... with text from
** the callback. */
template <typename LabelFn>
void BottomLabels(const Layout &g, double last, double step, LabelFn label)
{
    if (!(step > 0)) return;
    HGDIOBJ old = SelectSharedPen(g.dc, PS_DOT, 1, PLOT_LIGHT_GREY);
    char text[64];
    for (double v = 0; v <= last + step * 1e-9; v += step) {
        int x = PositionX(g, v);
        Line(g.dc, x, 2 * g.T, x, g.H - 3 * g.T + g.C);
        label(v, text);
        BottomText(g, x, text);
    }
    SelectObject(g.dc, old);
}

/* The smallest whole step that keeps at most limit labels from 0 to last. */
double WholeLabelStep(double last, int limit)
{
    if (limit < 1) limit = 1;
    if (!(last > 0) || !std::isfinite(last)) return 1;
    double step = std::ceil(last / limit);
    while (step > 1 && std::floor(last / (step - 1)) + 1 <= limit) step--;
    while (std::floor(last / step) + 1 > limit) step++;
    return step;
}

void PaintValueGrid(const Layout &g, const PlotWindow *record, double *gridBase)
{
    double lo = record->valueMin, hi = record->valueMax;
    int32_t lines = g.H / (4 * g.T);
    if (lines < 1) lines = 1;
    double step, base;
    PlotGridStep(lo, hi, lines, &step, &base);
    *gridBase = base;
    HGDIOBJ old = SelectSharedPen(g.dc, PS_DOT, 1, PLOT_LIGHT_GREY);
    char text[64];
    for (int dir = 1; dir >= -1; dir -= 2) {
        for (int k = dir > 0 ? 0 : 1; k < 1000; k++) {
            double v = base + dir * k * step;
            if (v > hi + step * 1e-9 || v < lo - step * 1e-9) break;
            int y = ValueY(g, v);
            Line(g.dc, g.L - g.C, y, g.W, y);
            FormatValue(g, v, text);
            Text(g.dc, g.L - 2 * g.C, y - g.T / 2, text, TA_RIGHT, PLOT_BLACK);
        }
    }
    SelectObject(g.dc, old);
}

void PaintBottomGrid(const Layout &g, const PlotWindow *record)
{
    int32_t kind = record->kind;
    char widest[64];
    FormatText(widest, sizeof widest, "%g", record->xMax);
    int labelWidth = TextWidth(g.dc, widest) + 2 * g.C;
    int limit = g.W / (3 * (labelWidth > 0 ? labelWidth : 1));
    if (limit < 1) limit = 1;
    if (kind == PLOT_PROFIT_DISTRIBUTION || kind == PLOT_EXCURSION_DISTRIBUTION) {
        BottomLabels(g, record->xMax, WholeLabelStep(record->xMax, limit),
                     [](double v, char *t) { FormatText(t, 64, "%g", v); });
    } else if (kind == PLOT_EQUAL_COUNT_BINS || kind == PLOT_EQUAL_RANGE_BINS) {
        int32_t bins = record->bucketCount;
        double step = WholeLabelStep(bins, limit);
        double incr = record->rangeIncrement;
        int whole = incr == std::floor(incr);
        int places = std::fabs(incr) < 0.01 ? 4 : 2;
        BottomLabels(g, bins, step, [&](double v, char *t) {
            int32_t b = int32_t(v);
            if (kind == PLOT_EQUAL_COUNT_BINS) {
                double x = b == 0 ? (record->pointCount > 0 ? record->points[0].x : 0) : record->buckets[b - 1].value;
                FormatText(t, 64, "%g", x);
            } else {
                double x = b < bins ? record->buckets[b].value : record->buckets[bins - 1].value + incr;
                if (whole)
                    FormatText(t, 64, "%g", x);
                else
                    FormatText(t, 64, "%.*f", places, x);
            }
        });
    } else {
        int byTrade = record->sortField == PLOT_SORT_TRADE_NUMBER || kind == PLOT_MC_PROFITS || kind == PLOT_MC_DRAWDOWNS;
        double step, base;
        PlotGridStep(record->xMin, record->xMax, limit, &step, &base);
        if (byTrade) step = step < 1 ? 1 : std::round(step);
        HGDIOBJ old = SelectSharedPen(g.dc, PS_DOT, 1, PLOT_LIGHT_GREY);
        char text[64];
        double first = std::ceil(record->xMin / step) * step;
        for (double v = first; v <= record->xMax + step * 1e-9 && step > 0; v += step) {
            int x = PositionX(g, v);
            Line(g.dc, x, 2 * g.T, x, g.H - 3 * g.T + g.C);
            if (byTrade)
                FormatText(text, sizeof text, "%g", v);
            else
                FormatText(text, sizeof text, "%.*f", step >= 1 ? 0 : step >= 0.01 ? 2 : 4, v);
            BottomText(g, x, text);
        }
        SelectObject(g.dc, old);
    }
}

/* The drawn points for the fitted line. */
struct Sample {
    double *xs, *ys;
    int32_t n, room;
    void Add(int x, int y)
    {
        if (n < room) {
            xs[n] = x;
            ys[n] = y;
            n++;
        }
    }
};

void FillRectColour(HDC dc, int x0, int y0, int x1, int y1, HBRUSH brush)
{
    RECT r = {x0 < x1 ? x0 : x1, y0 < y1 ? y0 : y1, x0 < x1 ? x1 : x0, y0 < y1 ? y1 : y0};
    if (r.right == r.left) r.right++;
    if (r.bottom == r.top) r.bottom++;
    FillRect(dc, &r, brush);
}

void PaintCurve(const Layout &g, const PlotWindow *record, int32_t sample, HPEN pen, Sample *fit)
{
    int32_t n = record->pointCount;
    const double *curve = record->curves + int64_t(sample) * n;
    HGDIOBJ old = SelectObject(g.dc, pen);
    int lastX = -1000000;
    for (int32_t j = 0; j < n; j++) {
        int x = PositionX(g, j), y = ValueY(g, curve[j]);
        if (x == lastX && j + 1 < n) continue;
        if (j == 0)
            MoveToEx(g.dc, x, y, nullptr);
        else
            LineTo(g.dc, x, y);
        lastX = x;
        fit->Add(x, y);
    }
    SelectObject(g.dc, old);
}

void PaintBody(const Layout &g, PlotWindow *record, double gridBase, Sample *fit)
{
    HDC dc = g.dc;
    int32_t kind = record->kind;
    int32_t n = record->pointCount;
    switch (kind) {
    case PLOT_SCATTER:
    case PLOT_CUMULATIVE: {
        HGDIOBJ old = SelectSharedPen(dc, PS_SOLID, 1, PLOT_DARK_GREY);
        int lastX = -1000000, lastY = -1000000;
        for (int32_t i = 0; i < n; i++) {
            const PlotPoint &p = record->points[i];
            int x = PositionX(g, p.x), y = ValueY(g, p.value);
            record->pixels[2 * i] = x;
            record->pixels[2 * i + 1] = y;
            record->flags[i] = kind == PLOT_CUMULATIVE ? p.newHigh : p.value >= 0;
            fit->Add(x, y);
            if (kind == PLOT_CUMULATIVE) {
                if (i == 0)
                    MoveToEx(dc, x, y, nullptr);
                else
                    LineTo(dc, x, y);
            }
        }
        SelectObject(dc, old);
        for (int32_t i = 0; i < n; i++) {
            int x = record->pixels[2 * i], y = record->pixels[2 * i + 1];
            if (x == lastX && y == lastY) continue;
            lastX = x;
            lastY = y;
            if (kind == PLOT_CUMULATIVE && !record->flags[i]) continue;
            int gain = record->flags[i];
            HGDIOBJ op = SelectObject(dc, gain ? PenGreen : PenRed), ob = SelectObject(dc, gain ? BrushGreen : BrushRed);
            Ellipse(dc, x - 3, y - 3, x + 4, y + 4);
            SelectObject(dc, op);
            SelectObject(dc, ob);
        }
        break;
    }
    case PLOT_PROFIT_DISTRIBUTION:
    case PLOT_EXCURSION_DISTRIBUTION:
        for (int32_t b = 0; b < record->bucketCount; b++) {
            const PlotBucket &k = record->buckets[b];
            if (k.value <= 0) continue;
            int y = ValueY(g, k.position);
            HBRUSH brush = k.position > 0 ? BrushGreen : k.position < 0 ? BrushRed : BrushDarkBlue;
            FillRectColour(dc, g.L, y - 1, PositionX(g, k.value), y + 2, brush);
        }
        break;
    case PLOT_EQUAL_COUNT_BINS:
    case PLOT_EQUAL_RANGE_BINS: {
        int base = gridBase == 0 ? ValueY(g, 0) : g.H - 3 * g.T + 10;
        for (int32_t b = 0; b < record->bucketCount; b++) {
            double average = record->buckets[b].position;
            int left = PositionX(g, b), right = PositionX(g, b + 1);
            int centre = PositionX(g, b + 0.5);
            int half = right - left < 8 ? 1 : (right - left) / 4;
            int top = ValueY(g, average);
            FillRectColour(dc, centre - half, top, centre + half, base, average >= 0 ? BrushGreen : BrushRed);
            fit->Add(centre, top);
        }
        break;
    }
    case PLOT_MC_PROFITS:
    case PLOT_MC_DRAWDOWNS: {
        int32_t S = record->monteCarloFinished < record->samples ? record->monteCarloFinished : record->samples;
        if (S < 1 || n < 1) break;
        const MonteCarloSummary *order = kind == PLOT_MC_PROFITS ? record->profits : record->drawdowns;
        int32_t shown = record->shown < 0 ? 0 : record->shown;
        int32_t K = kind == PLOT_MC_PROFITS ? (S / 2 < shown ? S / 2 : shown) : (S < shown ? S : shown);
        /* Each curve takes the graph style set's next colour. */
        int32_t styles = GraphStyleSet.styleCount > 0 ? GraphStyleSet.styleCount : 1;
        int32_t next = 0;
        auto nextPen = [&]() {
            HPEN pen = GraphStyleSet.styles[next++ % styles].pen;
            return pen ? pen : PenBlue;
        };
        for (int32_t k = 0; k < K; k++) PaintCurve(g, record, int32_t(order[k].sample), nextPen(), fit);
        if (kind == PLOT_MC_PROFITS)
            for (int32_t k = 0; k < K; k++) PaintCurve(g, record, int32_t(order[S - 1 - k].sample), nextPen(), fit);
        if (record->monteCarloFinished >= record->samples) PaintCurve(g, record, record->samples - 1, PenBlack3, fit);
        break;
    }
    default: break;
    }
}

} // namespace

int RenderTradePlot(PlotWindow *record, HDC dc, int W, int H, int active)
{
    RECT all = {0, 0, W, H};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    if (record->busy) return 0;
    int32_t n = record->pointCount;
    if (record->pixelCapacity < 2 * n + 2) {
        if (!ReallocMemory(&record->pixels, uint64_t(2 * n + 2) * sizeof(int32_t))) return 0;
        record->pixelCapacity = 2 * n + 2;
    }
    if (record->flagCapacity < n + 1) {
        if (!ReallocMemory(&record->flags, uint64_t(n + 1))) return 0;
        record->flagCapacity = n + 1;
    }
    HGDIOBJ font = GraphStyleSet.normalFont ? (HGDIOBJ)GraphStyleSet.normalFont : GetStockObject(DEFAULT_GUI_FONT);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    Layout g = {};
    g.dc = dc;
    g.W = W;
    g.H = H;
    g.T = tm.tmHeight;
    g.C = tm.tmAveCharWidth > 0 ? tm.tmAveCharWidth : 1;
    int percent = record->units != PLOT_DOLLARS;
    g.code = percent ? DISPLAY_PERCENT : DISPLAY_CURRENCY;
    g.currency = record->test ? record->test->currency : nullptr;
    g.decimals = PlotAxisDecimals(percent, record->valueMin, record->valueMax);
    char text[PLOT_TITLE_SIZE];
    FormatValue(g, record->valueMax, text);
    int widest = TextWidth(dc, text);
    FormatValue(g, record->valueMin, text);
    if (TextWidth(dc, text) > widest) widest = TextWidth(dc, text);
    g.L = 2 * g.T + widest;
    record->paintedLeft = g.L;
    record->paintedTextHeight = g.T;
    int drawn = 0;
    if (H > 5 * g.T && W > g.L && n > 0 && record->valueMax >= record->valueMin) {
        g.logScale = percent && (record->kind == PLOT_CUMULATIVE || record->kind == PLOT_MC_PROFITS);
        g.vMin = Scaled(g, record->valueMin);
        g.vMax = Scaled(g, record->valueMax);
        if (!std::isfinite(g.vMin) || !std::isfinite(g.vMax)) {
            g.logScale = 0;
            g.vMin = record->valueMin;
            g.vMax = record->valueMax;
        }
        int bins = record->kind == PLOT_EQUAL_COUNT_BINS || record->kind == PLOT_EQUAL_RANGE_BINS;
        g.xMin = bins ? 0 : record->xMin;
        g.xMax = bins ? record->bucketCount : record->xMax;

        HGDIOBJ old = SelectSharedPen(dc, PS_SOLID, 1, PLOT_BLACK);
        Line(dc, g.L - g.C, 2 * g.T, g.L - g.C, H - 2 * g.T);
        Line(dc, g.L - 2 * g.C, H - 3 * g.T + g.C, W, H - 3 * g.T + g.C);
        SelectObject(dc, old);
        double gridBase = 0;
        PaintValueGrid(g, record, &gridBase);
        const char *axis = "Trade:";
        if (record->kind == PLOT_PROFIT_DISTRIBUTION || record->kind == PLOT_EXCURSION_DISTRIBUTION)
            axis = "Count:";
        else if (record->sortField == PLOT_SORT_FORMULA && record->dataLoaded && record->kind != PLOT_MC_PROFITS &&
                 record->kind != PLOT_MC_DRAWDOWNS)
            axis = "Value:";
        Text(dc, g.C, H - 2 * g.T, axis, TA_LEFT, PLOT_DARK_BLUE);
        PaintBottomGrid(g, record);

        int64_t room = record->kind == PLOT_MC_PROFITS || record->kind == PLOT_MC_DRAWDOWNS
            ? int64_t(n) * (2 * (record->shown > 0 ? record->shown : 0) + 1)
            : int64_t(n) + record->bucketCount;
        if (room > 4000000) room = 4000000;
        Sample fit = {nullptr, nullptr, 0, 0};
        if (record->trend && AllocMemory(&fit.xs, uint64_t(room + 1) * sizeof(double)) &&
            AllocMemory(&fit.ys, uint64_t(room + 1) * sizeof(double)))
            fit.room = int32_t(room);
        HRGN clip = CreateRectRgn(g.L - g.C, 2 * g.T, W, H - 3 * g.T + g.T / 2);
        SelectClipRgn(dc, clip);
        PaintBody(g, record, gridBase, &fit);
        int trendKind = record->kind != PLOT_PROFIT_DISTRIBUTION && record->kind != PLOT_EXCURSION_DISTRIBUTION;
        double a, b;
        if (record->trend && trendKind && FitLine(fit.xs, fit.ys, fit.n, &a, &b)) {
            HGDIOBJ before = SelectSharedPen(dc, PS_SOLID, 2, PLOT_MAGENTA);
            Line(dc, g.L, int(a + b * g.L), W - 1, int(a + b * (W - 1)));
            SelectObject(dc, before);
        }
        SelectClipRgn(dc, nullptr);
        DeleteObject(clip);
        FreeMemory(&fit.xs);
        FreeMemory(&fit.ys);

        if (record->crossHair && active && record->crossX >= 0 && record->crossY >= 0) {
            HGDIOBJ before = SelectSharedPen(dc, PS_SOLID, 1, PLOT_BLACK);
            Line(dc, 0, record->crossY, W, record->crossY);
            Line(dc, record->crossX, 0, record->crossX, H);
            SelectObject(dc, before);
            SetBkMode(dc, OPAQUE);
            SetBkColor(dc, PLOT_CROSS_HAIR_BACK);
            if (record->kind < PLOT_EQUAL_COUNT_BINS && W - g.C > g.L) {
                double x = g.xMin + (g.xMax - g.xMin) * (record->crossX - g.L) / double(W - g.C - g.L);
                FormatText(text, sizeof text, "%g", x);
                BottomText(g, record->crossX, text);
            }
            if (g.vMax > g.vMin) {
                double top = H - g.T / 2 - 3 * g.T, span = H - 6 * g.T;
                double s = g.vMin + (top - record->crossY) / span * (g.vMax - g.vMin);
                FormatValue(g, g.logScale ? std::exp(s) - 1 : s, text);
                Text(dc, g.L - 2 * g.C, record->crossY - g.T / 2, text, TA_RIGHT, PLOT_BLACK);
            }
            SetBkMode(dc, TRANSPARENT);
        }
        drawn = 1;
    }
    BuildTradePlotTitle(record, text, sizeof text);
    Text(dc, g.C, g.T / 2, text, TA_LEFT, PLOT_DARK_BLUE);
    /* A plot with nothing to draw says why, rather than stay blank. */
    if (const char *reason = TradePlotEmptyReason(record)) Text(dc, W / 2, H / 2 - g.T / 2, reason, TA_CENTER, PLOT_DARK_BLUE);
    SelectObject(dc, oldFont);
    return drawn;
}
