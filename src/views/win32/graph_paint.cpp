/* graph_paint.cpp -- a statistics graph drawn completely into a memory bitmap on every paint. */
#include "views/win32/graph_paint.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "records/test_records.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "views/chart_geometry.h"
#include "views/graph_geometry.h"
#include "foundation/win32/window_text.h"
#include "views/win32/draw_resources.h"

int32_t gGraphHovered = -1;
POINT gGraphMouse = { -1, -1 };
char gGraphReportFolder[PATH_SIZE];
void (*gGraphReportWrite)(const char *text);

static int sMakingImage; /* the paint serves an image: no "Show All" */

int GraphLogForm(const GraphWindow *graph)
{
    return graph->effectiveLog && graph->baseValue >= 1e-6 && graph->min > 0;
}

int32_t GraphYFromValueScaled(double value, const GraphWindow *graph, int32_t height)
{
    if (GraphLogForm(graph)) return GraphYFromValue(std::log(value), std::log(graph->min), std::log(graph->max), height);
    return GraphYFromValue(value, graph->min, graph->max, height);
}

const DrawStyle *GetGraphSeriesStyle(const GraphWindow *graph, int i)
{
    if (i == graph->combinedIndex) return &GraphStyleSet.styles[0];
    return &GraphStyleSet.styles[i % 9 + 1];
}

int HitTestLegendEntry(int id, int x, int y, int w, int h)
{
    if (gGraphHovered == id) return 1;
    if (gGraphMouse.x >= x && gGraphMouse.x < x + w && gGraphMouse.y >= y && gGraphMouse.y < y + h) {
        gGraphHovered = id;
        return 1;
    }
    return 0;
}

void InvalidateGraphLegend(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    RECT strip = { 0, gGraphGeometry.top, client.right, gGraphGeometry.top + gGraphGeometry.legendHeight };
    InvalidateRect(window, &strip, FALSE);
}

/* ---- values ---------------------------------------------------------------------------- */

int FormatGraphValue(double value, int decimals, int axis, const GraphWindow *graph, char *out)
{
    if (!graph->hasColumn) return FormatText(out, 64, "???");
    int code = (int)graph->displayFormat;
    int columnDecimals = (int32_t)graph->decimals;
    if (columnDecimals == -1) columnDecimals = code == DISPLAY_PERCENT ? decimals - 2 : decimals;
    const char *currency = graph->test ? graph->test->currency : nullptr;
    if (axis && GraphLogForm(graph)) {
        char number[64], sign[8] = "";
        FormatDouble(value, DECIMALS_ABBREVIATED, 0, number);
        if (code == DISPLAY_CURRENCY) {
            char money[64];
            FormatNumber(1, DISPLAY_CURRENCY, 0, 0, currency, money);
            /* The currency's sign: one character when it is "$" or not plain
            ** ASCII, else up to its first four characters. */
            unsigned char first = (unsigned char)money[0];
            int length = first == '$' || first >= 0x80 ? 1 : 4;
            int n = 0;
            while (n < length && money[n] && !(money[n] >= '0' && money[n] <= '9')) {
                sign[n] = money[n];
                n++;
            }
            sign[n] = 0;
        }
        return FormatText(out, 64, "%s%s", sign, number);
    }
    return FormatNumber(value, code, columnDecimals, 0, currency, out);
}

int BuildGraphPoints(GraphWindow *graph, POINT *points, int series, int width, int height, int movingAverage)
{
    const GraphSeries &s = graph->series[series];
    int logForm = GraphLogForm(graph);
    double lo = logForm ? std::log(graph->min) : graph->min, hi = logForm ? std::log(graph->max) : graph->max;
    int length = graph->movingAverageLength > 0 ? graph->movingAverageLength : 1;
    int n = 0;
    for (int j = graph->sorted ? 0 : (int)s.leadCount; j < graph->pointCount; j++) {
        double value;
        if (movingAverage) {
            int count = j + 1 < length ? j + 1 : length;
            double sum = 0;
            for (int k = j - count + 1; k <= j; k++)
                sum += GraphPlotValue(s.values[graph->sorted ? s.order[k] : k], logForm);
            value = sum / count;
        } else {
            value = GraphPlotValue(s.values[graph->sorted ? s.order[j] : j], logForm);
        }
        POINT p = { GraphXFromIndex(j, graph->pointCount, width), GraphYFromValue(value, lo, hi, height) };
        if (!graph->graphType && !movingAverage && std::abs(gGraphMouse.x - p.x) <= 2 &&
            std::abs(gGraphMouse.y - p.y) <= 2)
            gGraphHovered = series;
        if (n > 0 && points[n - 1].x == p.x && points[n - 1].y == p.y) continue;
        points[n++] = p;
    }
    return n;
}

/* ---- legend ------------------------------------------------------------------------------ */

struct LegendPen {
    int x, y, rowStart, rows, width, averageWidth, lineHeight;
    bool draw;
};

/* Strategy names and the title are UTF-8: measured and drawn wide alike. */
static int TextWidth(HDC dc, const char *text) { return TextWidthWide(dc, text); }

/* Starts a new row when the entry would reach the right edge. */
static void MakeRoom(LegendPen *pen, int entryWidth)
{
    if (pen->x + entryWidth >= pen->width && pen->x > pen->rowStart) {
        pen->x = pen->rowStart;
        pen->y += pen->lineHeight;
        pen->rows++;
    }
}

static void LegendEntry(HDC dc, LegendPen *pen, int id, const char *name, COLORREF text, HPEN boxPen, HBRUSH boxBrush)
{
    SelectObject(dc, GraphStyleSet.boldFont);
    int width = TextWidth(dc, name);
    MakeRoom(pen, width + 2 * pen->averageWidth);
    bool hovered = HitTestLegendEntry(id, pen->x, pen->y + 2, width + 14, pen->lineHeight + 4);
    if (pen->draw) {
        SelectObject(dc, boxPen);
        SelectObject(dc, boxBrush ? boxBrush : BrushWhite);
        Rectangle(dc, pen->x, pen->y + 4, pen->x + 8, pen->y + 12);
        SelectObject(dc, hovered ? GraphStyleSet.boldFont : GraphStyleSet.normalFont);
        SetTextColor(dc, text);
        DrawTextWide(dc, pen->x + 2 * pen->averageWidth, pen->y, name);
    }
    SelectObject(dc, GraphStyleSet.normalFont);
    pen->x += width + 2 * pen->averageWidth + 2 * pen->averageWidth;
}

static void LegendText(HDC dc, LegendPen *pen, const char *text, COLORREF colour)
{
    int width = TextWidth(dc, text);
    MakeRoom(pen, width);
    if (pen->draw) {
        SetTextColor(dc, colour);
        DrawTextWide(dc, pen->x, pen->y, text);
    }
    pen->x += width + pen->averageWidth;
}

int PaintGraphLegend(HWND window, HDC dc, GraphWindow *graph, int decimals, int y)
{
    RECT client;
    GetClientRect(window, &client);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    LegendPen pen = { 8, y, 0, 1, (int)client.right, (int)metrics.tmAveCharWidth, (int)metrics.tmHeight, y != 0 };
    SetTextAlign(dc, TA_LEFT | TA_TOP);
    char title[GRAPH_NAME_SIZE + 32];
    FormatText(title, sizeof title, "%s%s%s", graph->title, graph->subsetFirst || graph->subsetLast ? " (subset)" : "",
               graph->sorted ? " (sorted)" : "");
    if (pen.draw) {
        SetTextColor(dc, 0);
        DrawTextWide(dc, 8, y, title);
    }
    pen.rowStart = TextWidth(dc, title) + 4 * pen.averageWidth + 8;
    pen.x = pen.rowStart;
    int plain = graph->combinedIndex >= 0 ? graph->combinedIndex : graph->seriesCount;
    for (int i = 0; i < plain; i++) {
        const DrawStyle *style = GetGraphSeriesStyle(graph, i);
        LegendEntry(dc, &pen, i, graph->series[i].name, style->colour, style->pen,
                    graph->series[i].shown ? style->brush : nullptr);
    }
    if (graph->seriesCount >= 2 && graph->combinedIndex >= 0) {
        bool area = graph->combinedArea && !graph->graphType;
        const DrawStyle *style = GetGraphSeriesStyle(graph, graph->combinedIndex);
        bool shown = graph->series[graph->combinedIndex].shown;
        LegendEntry(dc, &pen, graph->combinedIndex, "Combined", area ? 0xC0C0C0 : style->colour,
                    area ? PenLightGrey : style->pen, shown ? (area ? BrushLightGrey : style->brush) : nullptr);
    }
    if (!sMakingImage) LegendEntry(dc, &pen, GRAPH_SHOW_ALL, "Show All", 0, PenBlack, nullptr);
    if (graph->cursorShown && graph->cursorIndex >= 0 && graph->cursorIndex < graph->pointCount) {
        pen.x += 3 * pen.averageWidth;
        char text[DATE_TEXT_SIZE];
        FormatDate(graph->dates[graph->cursorIndex], gSettings.DateDisplayFormat, text);
        LegendText(dc, &pen, text, 0xFF00FF);
        for (int i = 0; i < graph->seriesCount; i++) {
            if (!graph->series[i].shown) continue;
            char value[64];
            FormatGraphValue(graph->series[i].values[graph->cursorIndex], decimals, 0, graph, value);
            LegendText(dc, &pen, value, GetGraphSeriesStyle(graph, i)->colour);
        }
    }
    if (graph->movingAverage) {
        pen.x += 3 * pen.averageWidth;
        char text[32];
        int length = graph->movingAverageLength < graph->pointCount ? graph->movingAverageLength : graph->pointCount;
        FormatText(text, sizeof text, "MA(%d)", length);
        LegendText(dc, &pen, text, 0x808080);
    }
    return pen.rows;
}

/* ---- the paint ----------------------------------------------------------------------------- */

static void ValueRange(GraphWindow *graph)
{
    graph->min = 1e14;
    graph->max = -1e14;
    bool any = false;
    for (int i = 0; i < graph->seriesCount; i++) {
        const GraphSeries &s = graph->series[i];
        if (!s.shown && !graph->fixedHeight) continue;
        any = true;
        if (s.min < graph->min) graph->min = s.min;
        if (s.max > graph->max) graph->max = s.max;
    }
    if (!any) graph->min = graph->max = 0;
    if (graph->graphType == 1) {
        if (graph->baseValue < graph->min) graph->min = graph->baseValue;
        if (graph->baseValue > graph->max) graph->max = graph->baseValue;
    }
}

static int32_t TestBarSize(const GraphWindow *graph)
{
    return graph->test ? graph->test->settings.BarSize2 : BAR_DAILY;
}

static void DrawDateAxis(HDC dc, GraphWindow *graph, int width, int clientHeight)
{
    const GraphGeometry &g = gGraphGeometry;
    int H = g.labelHeight;
    if (!graph->dates || graph->pointCount < 1 || 3 * H < 1 || graph->sorted) return;
    int32_t barSize = TestBarSize(graph);
    int days = DaysBetween(graph->dates[0], graph->dates[graph->pointCount - 1]);
    int32_t interval = ChartDateLabelInterval(days, width, barSize);
    int shortNames = days >= width - 3 * g.labelWidth;
    int textY = clientHeight + H - 3 * H;
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    SetTextColor(dc, 0);
    /* The first point always names its year; in a year's last period that is
    ** the next year, and the next first period then shows its month. */
    int32_t first = graph->dates[0];
    int32_t firstPeriod = ChartBarPeriod(first, barSize);
    bool lastPeriod = barSize == BAR_QUARTERLY ? firstPeriod == 4 : barSize != BAR_YEARLY && firstPeriod == 12;
    char text[16];
    FormatText(text, sizeof text, "'%2.2d", (first / 10000 + (lastPeriod ? 1 : 0)) % 100);
    DrawTextWide(dc, g.labelWidth - 11, textY, text);
    bool monthForNextFirst = lastPeriod;
    int32_t previous = firstPeriod;
    for (int j = 1; j < graph->pointCount; j++) {
        int32_t period = ChartBarPeriod(graph->dates[j], barSize);
        if (period == previous) continue;
        previous = period;
        if (!ChartDateLabelDue(period, interval, barSize)) continue;
        bool firstOfYear = barSize == BAR_YEARLY || period == 1;
        if (firstOfYear && monthForNextFirst && barSize != BAR_YEARLY) {
            CopyString(text, sizeof text, shortNames ? "J" : kMonthNames[0], -1);
            monthForNextFirst = false;
        } else {
            FormatChartDateLabel(graph->dates[j], barSize, shortNames, text, sizeof text);
        }
        int x = (GraphXFromIndex(j - 1, graph->pointCount, width) + GraphXFromIndex(j, graph->pointCount, width)) / 2;
        SelectObject(dc, firstOfYear ? PenDarkGrey : DotPenLightGrey);
        MoveToEx(dc, x, g.legendHeight + g.top, nullptr);
        LineTo(dc, x, clientHeight + 2 * H - 3 * H);
        DrawTextWide(dc, x, textY, text);
    }
}

static void DrawSeries(HDC dc, GraphWindow *graph, int i, bool area, int width, int height, double zeroValue,
                       std::vector<POINT> &points)
{
    const GraphSeries &s = graph->series[i];
    if (!s.shown) return;
    const DrawStyle *style = GetGraphSeriesStyle(graph, i);
    SelectObject(dc, area ? PenLightGrey : style->pen);
    SelectObject(dc, area ? BrushLightGrey : style->brush);
    int n = BuildGraphPoints(graph, points.data(), i, width, height, 0);
    if (graph->sorted && (int)s.leadCount <= n) n -= (int)s.leadCount;
    if (graph->graphType == 1 || area) {
        int zeroY = GraphYFromValueScaled(zeroValue, graph, height);
        int barWidth = n >= 2 ? points[1].x - points[0].x + 1 : 32;
        if (barWidth < 1) barWidth = 1;
        for (int k = 0; k < n; k++) {
            int top = points[k].y < zeroY ? points[k].y : zeroY, bottom = points[k].y < zeroY ? zeroY : points[k].y;
            Rectangle(dc, points[k].x, top, points[k].x + barWidth, bottom);
        }
    } else if (n > 1) {
        Polyline(dc, points.data(), n);
    }
    if (graph->movingAverage && graph->graphType == 0 && !area) {
        SelectObject(dc, style->pen);
        int m = BuildGraphPoints(graph, points.data(), i, width, height, 1);
        if (m > 1) Polyline(dc, points.data(), m);
    }
}

static void ServeGraphImage(HWND window, HDC dc, HDC memory, HBITMAP bitmap, const GraphWindow *graph,
                            const RECT &client, int top)
{
    int request = ImageRequest;
    if (request == IMAGE_REPORT && gGraphReportWrite) {
        int number = graph->graphIndex + 1;
        FormatText(ImagePath, sizeof ImagePath, "%s\\graph%d.png", gGraphReportFolder, number);
        char line[512];
        FormatText(line, sizeof line,
                   "<img class='w3-image' src='graph%d.png' onclick=\"document.getElementById('graph%d')."
                   "style.display='block'\" style='cursor:pointer'>",
                   number, number);
        gGraphReportWrite(line);
        FormatText(line, sizeof line,
                   "<div id='graph%d' class='w3-modal w3-center' style='padding-top:0' onclick=\"document."
                   "getElementById('graph%d').style.display='none'\">",
                   number, number);
        gGraphReportWrite(line);
        FormatText(line, sizeof line,
                   "<div class='w3-modal-content' style='width:100%%'><img src='graph%d.png'></div></div>\n", number);
        gGraphReportWrite(line);
        /* The report's own images are no user request: a failure only
        ** leaves the picture out. */
        ImageRequest = IMAGE_NONE;
        SaveBitmapImage(bitmap);
        return;
    }
    if (ServeImageRequest(window, bitmap)) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(dc, 0, top, client.right, client.bottom - top, memory, 0, top, SRCCOPY);
        SelectObject(memory, old);
    }
}

static void DrawGraph(HWND window, HDC dc, GraphWindow *graph, const RECT &client)
{
    GraphGeometry &g = gGraphGeometry;
    int top = g.top;
    int height = client.bottom - top, width = client.right;
    ValueRange(graph);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    int H = g.labelHeight = metrics.tmHeight > 0 ? metrics.tmHeight : 1;
    int A = g.averageWidth = metrics.tmAveCharWidth;
    g.legendHeight = (PaintGraphLegend(window, dc, graph, 2, 0) + 1) * H;
    if (height <= 2 * H + 3 * H) return;
    int32_t room = (height - 3 * H) / (2 * H);
    int logForm = GraphLogForm(graph);
    GraphAxis axis = GraphAxisStep(graph->min, graph->max, room, logForm, (int32_t)graph->integers);
    double first = graph->graphType == 1 ? graph->baseValue
        : GraphFirstLabel(&axis, graph->min, graph->max, logForm ? graph->startingValue : graph->baseValue, logForm,
                          graph->subsetFirst || graph->subsetLast);
    int decimals = GraphLabelDecimals(axis.step, first);
    double labels[512];
    int n = GraphAxisLabels(&axis, first, graph->min, graph->max, logForm, labels, 512);
    if (n == 0) labels[n++] = first;
    int widest = 0;
    /* Labels an addend apart are written whole: abbreviated, neighbours
    ** such as 1.05M and 1.1M would read alike. */
    const int abbreviate = axis.additive ? 0 : 1;
    for (int i = 0; i < n; i++) {
        char text[64];
        FormatGraphValue(labels[i], decimals, abbreviate, graph, text);
        int w = TextWidth(dc, text);
        if (w > widest) widest = w;
    }
    g.labelWidth = widest + 4 * A;
    if (width <= g.labelWidth) return;
    int clientHeight = client.bottom;
    SelectObject(dc, PenBlack);
    MoveToEx(dc, g.labelWidth - 2 * A, g.legendHeight + top, nullptr);
    LineTo(dc, g.labelWidth - 2 * A, clientHeight + H - 3 * H);
    MoveToEx(dc, g.labelWidth - 3 * A, clientHeight - 3 * H + H / 2, nullptr);
    LineTo(dc, width, clientHeight - 3 * H + H / 2);
    SetTextColor(dc, 0);
    SetTextAlign(dc, TA_RIGHT | TA_TOP);
    for (int i = 0; i < n; i++) {
        char text[64];
        FormatGraphValue(labels[i], decimals, abbreviate, graph, text);
        int y = GraphYFromValueScaled(labels[i], graph, height);
        DrawTextWide(dc, g.labelWidth - 3 * A, y - H / 2, text);
        SelectObject(dc, labels[i] == 0 ? PenDarkGrey : DotPenLightGrey);
        MoveToEx(dc, g.labelWidth - 2 * A, y, nullptr);
        LineTo(dc, width, y);
    }
    DrawDateAxis(dc, graph, width, clientHeight);

    std::vector<POINT> points((size_t)(graph->pointCount > 0 ? graph->pointCount : 1));
    bool area = graph->combinedArea && graph->combinedIndex >= 0 && graph->graphType == 0;
    if (area) DrawSeries(dc, graph, graph->combinedIndex, true, width, height, first, points);
    for (int i = 0; i < graph->seriesCount; i++)
        if (!(area && i == graph->combinedIndex)) DrawSeries(dc, graph, i, false, width, height, first, points);

    if (graph->cursorShown && graph->cursorIndex >= 0 && graph->pointCount > 0) {
        int x = g.labelWidth + (width - g.labelWidth - A) * graph->cursorIndex / graph->pointCount;
        graph->cursorX = x;
        SelectObject(dc, PenMagenta);
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, x - 1, top + g.legendHeight, x + 1, clientHeight + H - 3 * H);
    }
    PaintGraphLegend(window, dc, graph, decimals, top + 8);
}

void PaintGraph(HWND window, HDC dc, GraphWindow *graph)
{
    RECT client;
    GetClientRect(window, &client);
    if (client.right < 1 || client.bottom < 1) return;
    GraphGeometry &g = gGraphGeometry;
    int tabHeight = 0;
    if (graph->tabs) {
        RECT tabs;
        GetWindowRect((HWND)graph->tabs, &tabs);
        tabHeight = tabs.bottom - tabs.top;
    }
    sMakingImage = ImageRequest != IMAGE_NONE;
    g.top = sMakingImage ? 0 : tabHeight;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    FillRect(memory, &client, BrushWhite);
    HGDIOBJ oldFont = SelectObject(memory, GraphStyleSet.normalFont);
    HGDIOBJ oldPen = SelectObject(memory, PenBlack);
    HGDIOBJ oldBrush = SelectObject(memory, BrushWhite);
    SetBkMode(memory, TRANSPARENT);
    DrawGraph(window, memory, graph, client);
    SelectObject(memory, oldFont);
    SelectObject(memory, oldPen);
    SelectObject(memory, oldBrush);
    SelectObject(memory, oldBitmap);
    ServeGraphImage(window, dc, memory, bitmap, graph, client, g.top);
    g.top = tabHeight;
    sMakingImage = 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
}
