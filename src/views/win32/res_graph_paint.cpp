/* res_graph_paint.cpp -- the results graph's two pictures: the heat map of
** averages by two parameters and the bar chart of averages by one. */
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "foundation/win32/window_text.h"
#include "views/res_graph.h"
#include "views/win32/draw_resources.h"
#include "views/win32/plot_paint.h"

namespace {

struct Canvas {
    HDC dc;
    HGDIOBJ oldFont;
    int T, C;
};

void OpenCanvas(Canvas *c, HDC dc, int W, int H)
{
    RECT all = {0, 0, W, H};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    c->dc = dc;
    HGDIOBJ font = GraphStyleSet.normalFont ? (HGDIOBJ)GraphStyleSet.normalFont : GetStockObject(DEFAULT_GUI_FONT);
    c->oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    c->T = tm.tmHeight;
    c->C = tm.tmAveCharWidth > 0 ? tm.tmAveCharWidth : 1;
}

void CloseCanvas(Canvas *c) { SelectObject(c->dc, c->oldFont); }

/* The axes name variables (UTF-8): measured and drawn wide alike. */
int Width(HDC dc, const char *text) { return TextWidthWide(dc, text); }

void Text(HDC dc, int x, int y, const char *text, UINT align, COLORREF colour)
{
    SetTextAlign(dc, align | TA_TOP);
    SetTextColor(dc, colour);
    DrawTextWide(dc, x, y, text);
}

/* A line in one of the shared pens. */
void Line(HDC dc, HPEN pen, int x0, int y0, int x1, int y1)
{
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
    SelectObject(dc, old);
}

/* A rectangle filled and outlined in one colour. */
void Block(HDC dc, int x0, int y0, int x1, int y1, COLORREF colour)
{
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ op = SelectObject(dc, pen), ob = SelectObject(dc, brush);
    Rectangle(dc, x0 < x1 ? x0 : x1, y0 < y1 ? y0 : y1, (x0 < x1 ? x1 : x0) + 1, (y0 < y1 ? y1 : y0) + 1);
    SelectObject(dc, op);
    SelectObject(dc, ob);
    DeleteObject(pen);
    DeleteObject(brush);
}

void FormatValue(const ResGraphWindow *r, double v, char *out)
{
    FormatNumber(v, r->valueCode, r->valueDecimals, 0, r->currency, out);
}

} // namespace

int RenderResultsHeatMap(ResGraphWindow *r, HDC dc, int W, int H, int top)
{
    Canvas c;
    OpenCanvas(&c, dc, W, H);
    int T = c.T, C = c.C, S = top;
    int drawn = 0;
    double *sorted = nullptr;
    while (r->yCount >= 1 && r->xCount >= 1) {
        int hp = H - 2 * T - 2 * T - S;
        int k = hp / (2 * T);
        if (hp < 1 || k == 0) break;
        char text[RES_GRAPH_LABEL_SIZE + 16];
        int L = Width(dc, r->xLabel);
        if (Width(dc, r->yLabel) > L) L = Width(dc, r->yLabel);
        int R = Width(dc, r->valueLabel);
        int32_t n = 0;
        if (!AllocMemory(&sorted, uint64_t(r->pointCount + 1) * sizeof(double))) break;
        for (int32_t i = 0; i < r->pointCount; i++) {
            const ResGraphPoint &p = r->points[i];
            if (p.tests == 0) continue;
            FormatDouble(p.y, DECIMALS_TRIMMED, 0, text);
            if (Width(dc, text) > L) L = Width(dc, text);
            FormatValue(r, p.value, text);
            if (Width(dc, text) > R) R = Width(dc, text);
            sorted[n++] = p.value;
        }
        n = DistinctSortedValues(sorted, n);
        L += 4 * C;
        R += 12 * C;
        int wp = W - R - L;
        if (wp < 1) break;
        auto X = [&](int i) { return L + int(int64_t(i) * wp / r->xCount); };
        auto Y = [&](int j) { return 2 * T + S + hp - int(int64_t(j) * hp / r->yCount); };
        int cellW = X(1) - X(0) + 1, cellH = Y(0) - Y(1) + 1;
        /* One label a column and a row, from the first point drawn in it. */
        std::vector<int32_t> columnPoint((size_t)r->xCount, -1), rowPoint((size_t)r->yCount, -1);
        for (int32_t i = 0; i < r->pointCount; i++) {
            const ResGraphPoint &p = r->points[i];
            if (p.tests == 0 || p.xIndex < 0 || p.yIndex < 0 || p.xIndex >= r->xCount || p.yIndex >= r->yCount) continue;
            int x = X(p.xIndex), y = Y(p.yIndex);
            if (columnPoint[(size_t)p.xIndex] < 0) columnPoint[(size_t)p.xIndex] = i;
            if (rowPoint[(size_t)p.yIndex] < 0) rowPoint[(size_t)p.yIndex] = i;
            Block(dc, x, y, x + cellW, y - cellH, ResGraphCellColour(p.value, r->minimum, r->maximum));
        }
        /* Only the labels that fit are written, as under the bar chart:
        ** narrow cells show every second or third value, the same step all
        ** along the axis, wide enough for the widest value with a
        ** character's width between two values (the y axis: a line each). */
        int widest = 0;
        for (int32_t i = 0; i < r->xCount; i++) {
            if (columnPoint[(size_t)i] < 0) continue;
            FormatText(text, sizeof text, "%g", r->points[columnPoint[(size_t)i]].x);
            if (Width(dc, text) > widest) widest = Width(dc, text);
        }
        const int32_t xStride = AxisLabelStride(double(wp) / r->xCount, widest, C);
        const int32_t yStride = AxisLabelStride(double(hp) / r->yCount, T, 0);
        for (int32_t i = 0; i < r->xCount; i += xStride) {
            if (columnPoint[(size_t)i] < 0) continue;
            FormatText(text, sizeof text, "%g", r->points[columnPoint[(size_t)i]].x);
            Text(dc, X(i) + cellW / 2, H - int(1.5 * T), text, TA_CENTER, PLOT_BLACK);
        }
        for (int32_t j = 0; j < r->yCount; j += yStride) {
            if (rowPoint[(size_t)j] < 0) continue;
            FormatText(text, sizeof text, "%g", r->points[rowPoint[(size_t)j]].y);
            const int top = Y(j) - cellH / 2 - T / 2;
            /* Half the margin holds short values; a long one ends further
            ** right so that it starts inside the picture. */
            const int labelRight = L / 2 > Width(dc, text) + C ? L / 2 : Width(dc, text) + C;
            Text(dc, labelRight, top, text, TA_RIGHT, PLOT_BLACK);
        }
        Line(dc, PenBlack, W - R + C, S + 8, W - R + C, H);
        /* Fewer values than label rows: one label a value, spread over the
        ** legend's height, rather than each value repeated. */
        const int steps = HeatMapLegendSteps(k, n);
        for (int i = 0; i <= steps && n > 0; i++) {
            int32_t rank = steps > 0 ? HeatMapLegendRank(i, steps, n) : 0;
            FormatValue(r, sorted[rank], text);
            int y = steps > 0 ? 2 * T + S + hp - int(int64_t(i) * hp / steps) : 2 * T + S + hp;
            Text(dc, W - 10 * C, y, text, TA_RIGHT, PLOT_BLACK);
        }
        for (int i = 0; i <= hp; i++) {
            double v = r->minimum + double(i) / hp * (r->maximum - r->minimum);
            RECT bar = {W - 8 * C, 2 * T + S + hp - i, W - C, 2 * T + S + hp - i + T};
            HBRUSH brush = CreateSolidBrush(ResGraphCellColour(v, r->minimum, r->maximum));
            FillRect(dc, &bar, brush);
            DeleteObject(brush);
        }
        Text(dc, C, H - int(1.5 * T), r->xLabel, TA_LEFT, PLOT_DARK_BLUE);
        Text(dc, C, S + T / 2, r->yLabel, TA_LEFT, PLOT_DARK_BLUE);
        Text(dc, W - 10 * C, S + T / 2, r->valueLabel, TA_RIGHT, PLOT_DARK_BLUE);
        Text(dc, W - 2 * C, S + T / 2, "Color", TA_RIGHT, PLOT_DARK_BLUE);
        drawn = 1;
        break;
    }
    FreeMemory(&sorted);
    CloseCanvas(&c);
    return drawn;
}

int RenderResultsBarChart(ResGraphWindow *r, HDC dc, int W, int H, int top)
{
    Canvas c;
    OpenCanvas(&c, dc, W, H);
    int T = c.T, C = c.C, S = top;
    char text[RES_GRAPH_LABEL_SIZE + 16];
    FormatValue(r, r->maximum, text);
    int L = Width(dc, text);
    FormatValue(r, r->minimum, text);
    if (Width(dc, text) > L) L = Width(dc, text);
    if (Width(dc, r->xLabel) > L) L = Width(dc, r->xLabel);
    L += 4 * C;
    int drawn = 0;
    int32_t k = 0;
    for (int32_t i = 0; i < r->pointCount; i++) k += r->points[i].tests > 0;
    if (H > 2 * T + 3 * T && W > L && k > 0) {
        /* The bars keep the colours of the averages' own range; only the
        ** axis takes in 0. */
        double colourMin = r->minimum, colourMax = r->maximum;
        if (r->minimum > 0) r->minimum = 0;
        if (r->maximum < 0) r->maximum = 0;
        double lo = r->minimum, hi = r->maximum;
        auto Y = [&](double v) {
            if (hi == lo) return H / 2;
            return int((H - T / 2 - 3 * T) - double(H - 2 * T - T - 3 * T) * (v - lo) / (hi - lo)) + S;
        };
        Line(dc, PenBlack, L - 2 * C, S + 2 * T, L - 2 * C, H - 3 * T + T);
        int B = H - 3 * T + 10;
        Line(dc, PenBlack, L - 3 * C, B, W, B);
        double step = ResGraphGridStep(lo, hi, (H - 3 * T) / (2 * T), r->allIntegers);
        for (int dir = 1; dir >= -1; dir -= 2) {
            for (int j = dir > 0 ? 0 : 1; j < 1000; j++) {
                double v = dir * j * step;
                if ((dir > 0 && v > hi) || (dir < 0 && v < lo)) break;
                int y = Y(v);
                if (y >= B) continue;
                Line(dc, v == 0 ? PenDarkGrey : DotPenLightGrey, L - 2 * C, y, W, y);
                FormatValue(r, v, text);
                Text(dc, L - 3 * C, y - T / 2, text, TA_RIGHT, PLOT_BLACK);
            }
        }
        Text(dc, L - 3 * C, H - 3 * T + T, r->xLabel, TA_RIGHT, PLOT_DARK_BLUE);
        if (r->yLabel[0]) Text(dc, L - 3 * C, H - 3 * T + 2 * T, r->yLabel, TA_RIGHT, PLOT_DARK_BLUE);
        int slot = (W - C - L) / k;
        int wide = slot < 8 * C ? slot : 8 * C;
        int h = wide < 8 ? 1 : wide / 4;
        /* The bars' labels step evenly too: every stride-th bar, the
        ** stride leaving room for the widest label and a character. */
        int widest = 0;
        for (int32_t i = 0; i < r->pointCount; i++) {
            const ResGraphPoint &p = r->points[i];
            if (p.tests == 0) continue;
            FormatText(text, sizeof text, "%g", p.x);
            if (Width(dc, text) > widest) widest = Width(dc, text);
            FormatText(text, sizeof text, "%g", p.y);
            if (r->yLabel[0] && Width(dc, text) > widest) widest = Width(dc, text);
        }
        const int32_t stride = AxisLabelStride(double(W - C - L) / k, widest, C);
        int j = 0;
        double *xs = nullptr, *ys = nullptr;
        int fit = r->trend && AllocMemory(&xs, uint64_t(k) * sizeof(double)) && AllocMemory(&ys, uint64_t(k) * sizeof(double));
        int lastRight = 0;
        for (int32_t i = 0; i < r->pointCount; i++) {
            const ResGraphPoint &p = r->points[i];
            if (p.tests == 0) continue;
            int x = L + int(int64_t(W - C - L) * j / k) + h / 2;
            if (j % stride == 0) {
                Line(dc, DotPenLightGrey, x, S + 2 * T, x, H - 2 * T);
                FormatText(text, sizeof text, "%g", p.x);
                CentredLabel(dc, x, H - 2 * T, text, 0, W - 1);
                if (r->yLabel[0]) {
                    FormatText(text, sizeof text, "%g", p.y);
                    CentredLabel(dc, x, H - T, text, 0, W - 1);
                }
            }
            int base = lo < 0 ? Y(0) : B;
            Block(dc, x - h, Y(p.value), x + h, base, ResGraphCellColour(p.value, colourMin, colourMax));
            if (fit) {
                xs[j] = x;
                ys[j] = Y(p.value);
            }
            lastRight = x + h;
            j++;
        }
        double a, b;
        if (fit && FitLine(xs, ys, k, &a, &b))
            Line(dc, PenMagenta2, L - C, int(a + b * (L - C)), lastRight - 1, int(a + b * (lastRight - 1)));
        FreeMemory(&xs);
        FreeMemory(&ys);
        drawn = 1;
    }
    FormatText(text, sizeof text, "%s%s", r->valueLabel, r->sorted ? " (sorted)" : "");
    Text(dc, C, S + T / 2, text, TA_LEFT, PLOT_DARK_BLUE);
    CloseCanvas(&c);
    return drawn;
}
