/* chart_paint.cpp -- a chart drawn completely into a memory bitmap on every paint. */
#include "views/win32/chart_paint.h"

#include <cmath>
#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "views/chart_geometry.h"
#include "views/chart_series.h"
#include "views/trade_compare.h"
#include "foundation/win32/window_text.h"
#include "views/win32/draw_resources.h"
#include "views/win32/view_windows.h"

int32_t gChartBarHalfWidth = 2;
int32_t gChartOpening;

/* The pens, brushes and colours that depend on the background. */
struct ChartColours {
    COLORREF text;
    HPEN separator;   /* pane separators, bar outlines, cross-hair */
    HPEN grid;        /* horizontal grid, date lines of other periods */
    HPEN firstPeriod; /* date line of January or a first quarter */
    COLORREF labelBack;
};

static ChartColours PickChartColours(const ChartWindow *chart)
{
    if (chart->blackBackground) return { RGB(255, 255, 255), PenWhite, DotPenDarkGrey, PenDarkGrey, 0x606060 };
    return { RGB(0, 0, 0), PenBlack, DotPenLightGrey, PenLightGrey, 0xF0F0F0 };
}

/* A chart's texts name symbols and what a script wrote: measured and drawn
** by their letters, through the one conversion every window uses. */
static int TextWidth(HDC dc, const char *text) { return TextWidthWide(dc, text); }

static void DrawTextAt(HDC dc, int x, int y, const char *text, UINT align)
{
    SetTextAlign(dc, align);
    DrawTextWide(dc, x, y, text);
}

static void Line(HDC dc, int x0, int y0, int x1, int y1)
{
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

/* The price mapping of this paint: on logarithms in the log form. */
static int PriceY(double value, double low, double high, int logForm)
{
    double v = logForm ? (value > 0 ? std::log(value) : low) : value;
    return ChartYFromValueMain(v, low, high, gChartGeometry.clientHeight);
}

/* ---- scales -------------------------------------------------------------------------- */

static void DrawGridLabel(HDC dc, const char *text, int y, int averageWidth)
{
    const ChartGeometry &g = gChartGeometry;
    DrawTextAt(dc, g.clientWidth - 2 * averageWidth, y - g.labelHeight / 2, text, TA_RIGHT | TA_TOP);
    Line(dc, 0, y, g.clientWidth - g.rightMargin + 4 * averageWidth, y);
}

/* Labels walk prices; in the log form their spacing follows the logarithms. */
static int32_t DrawPriceScale(HDC dc, const ChartWindow *chart, int averageWidth)
{
    const ChartGeometry &g = gChartGeometry;
    int32_t room = (g.clientHeight - g.priceTop - g.priceBottom) / (2 * g.labelHeight);
    ChartScale scale = ChartPriceScale(chart->priceMin, chart->priceMax, room);
    for (int i = 0; i < 1000; i++) {
        double v = scale.first + i * scale.step;
        if (v > chart->priceMax) break;
        char text[64];
        FormatDouble(v, scale.decimals, 0, text);
        DrawGridLabel(dc, text, ChartYFromValue(v, chart, g.clientHeight), averageWidth);
    }
    return scale.decimals;
}

static const ChartSeries *FirstSeriesInPane(const ChartWindow *chart, int32_t pane)
{
    for (int32_t s = 0; s < chart->seriesCount; s++)
        if (chart->series[s].pane == pane && chart->series[s].displayFormat) return &chart->series[s];
    return nullptr;
}

static void FormatSeriesValue(const ChartSeries *series, double value, char *out)
{
    FormatNumber(value, (int32_t)series->displayFormat, (int32_t)series->decimals, 0, nullptr, out);
}

static void DrawIndicatorScale(HDC dc, const ChartWindow *chart, int averageWidth)
{
    const ChartGeometry &g = gChartGeometry;
    const ChartSeries *series = FirstSeriesInPane(chart, CHART_PANE_INDICATOR);
    if (!series || chart->indicatorMax < chart->indicatorMin) return;
    int32_t room = g.priceTop / (3 * g.labelHeight);
    ChartScale scale = ChartPaneScale(chart->indicatorMin, chart->indicatorMax, room < 1 ? 1 : room,
                                      (int32_t)series->integers, 0);
    double values[256];
    int32_t n = ChartPaneLabels(&scale, chart->indicatorMin, chart->indicatorMax, values, 256);
    for (int32_t i = 0; i < n; i++) {
        int y = ChartPaneYFromValue(values[i], chart->indicatorMin, chart->indicatorMax, g.priceTop);
        bool upward = values[i] >= scale.first;
        if (upward ? y >= chart->indicatorPaneHeight - 2 * g.labelHeight : y <= g.labelHeight) continue;
        char text[64];
        FormatSeriesValue(series, values[i], text);
        DrawGridLabel(dc, text, y, averageWidth);
    }
}

static void DrawVolumeScale(HDC dc, const ChartWindow *chart, int averageWidth)
{
    const ChartGeometry &g = gChartGeometry;
    const ChartSeries *series = FirstSeriesInPane(chart, CHART_PANE_VOLUME);
    if (chart->anyVolumeSeries && !series) return;
    if (chart->volumeMax < chart->volumeMin) return;
    int32_t room = g.priceBottom / (3 * g.labelHeight);
    int32_t integers = series ? (int32_t)series->integers : 0;
    ChartScale scale = ChartPaneScale(chart->volumeMin, chart->volumeMax, room < 1 ? 1 : room, integers, integers);
    double values[256];
    int32_t n = ChartPaneLabels(&scale, chart->volumeMin, chart->volumeMax, values, 256);
    for (int32_t i = 0; i < n; i++) {
        int y = ChartLowerPaneYFromValue(values[i], chart->volumeMin, chart->volumeMax,
                                         g.priceBottom - g.labelHeight);
        if (y <= g.clientHeight + 2 * g.labelHeight - chart->volumePaneHeight) continue;
        char text[64];
        if (series)
            FormatSeriesValue(series, values[i], text);
        else
            FormatDouble(values[i], DECIMALS_ABBREVIATED, 0, text);
        DrawGridLabel(dc, text, y, averageWidth);
    }
}

/* ---- bars ------------------------------------------------------------------------------ */

struct BarPrices {
    double open, high, low, close, volume;
};

static BarPrices DrawingPrices(const ChartWindow *chart, const Bar *bar, int logForm)
{
    double split = chart->splitAdjusted && bar->split != 0 ? bar->split : 1.0;
    BarPrices p = { bar->open / split, bar->high / split, bar->low / split, bar->close / split,
                    bar->volume * split };
    if (logForm) {
        p.open = std::log(p.open);
        p.high = std::log(p.high);
        p.low = std::log(p.low);
        p.close = std::log(p.close);
    }
    return p;
}

static bool IsPlainColour(COLORREF colour) { return colour == 0 || colour == 0xFFFFFF; }

static void DrawBarBody(HDC dc, const ChartWindow *chart, const ChartColours &colours, int x, int w,
                        const BarPrices &p, double low, double high)
{
    int C = gChartGeometry.clientHeight;
    int yOpen = ChartYFromValueMain(p.open, low, high, C), yClose = ChartYFromValueMain(p.close, low, high, C);
    SelectObject(dc, colours.separator);
    if (p.close > p.open) {
        SelectObject(dc, (HBRUSH)chart->upBrush);
        if (!IsPlainColour(chart->upColour)) SelectObject(dc, (HPEN)chart->upPen);
    } else if (p.open > p.close) {
        SelectObject(dc, (HBRUSH)chart->downBrush);
        if (!IsPlainColour(chart->downColour)) SelectObject(dc, (HPEN)chart->downPen);
    }
    Line(dc, x, ChartYFromValueMain(p.high, low, high, C), x, ChartYFromValueMain(p.low, low, high, C));
    if (!chart->candlestick) {
        Line(dc, x, yOpen, x - w, yOpen);
        Line(dc, x, yClose, x + w, yClose);
        return;
    }
    if (p.close == p.open) {
        Line(dc, x - w, yClose, x + w, yClose);
        return;
    }
    int top = p.close > p.open ? yClose : yOpen, bottom = p.close > p.open ? yOpen : yClose;
    /* A body rounded to no height still shows as one pixel. */
    if (bottom == top) bottom = top + 1;
    Rectangle(dc, x - w, top, x + w, bottom);
}

static void DrawVolumeBar(HDC dc, const ChartWindow *chart, int x, double volume, bool rising)
{
    const ChartGeometry &g = gChartGeometry;
    if (rising) {
        SelectObject(dc, IsPlainColour(chart->upColour) ? BrushGreen : (HBRUSH)chart->upBrush);
        SelectObject(dc, IsPlainColour(chart->upColour) ? PenGreen : (HPEN)chart->upPen);
    } else {
        SelectObject(dc, IsPlainColour(chart->downColour) ? BrushRed : (HBRUSH)chart->downBrush);
        SelectObject(dc, IsPlainColour(chart->downColour) ? PenRed : (HPEN)chart->downPen);
    }
    int paneHeight = g.priceBottom - g.labelHeight;
    int height = chart->volumeMin == chart->volumeMax
        ? paneHeight / 2
        : g.clientHeight - ChartLowerPaneYFromValue(volume, chart->volumeMin, chart->volumeMax, paneHeight);
    Rectangle(dc, x - 1, g.clientHeight - height, x + 1, g.clientHeight);
}

static void DrawDateLabel(HDC dc, const ChartWindow *chart, const ChartColours &colours, const Bar *bar,
                          int previousX, int x, int days)
{
    const ChartGeometry &g = gChartGeometry;
    int32_t period = ChartBarPeriod(bar->date, chart->barSize);
    char text[16];
    FormatChartDateLabel(bar->date, chart->barSize, days >= g.clientWidth - 3 * (g.rightMargin + g.leftMargin),
                         text, sizeof text);
    int mid = (previousX + x) / 2;
    bool first = chart->barSize == BAR_YEARLY || period == 1;
    SelectObject(dc, first ? colours.firstPeriod : colours.grid);
    Line(dc, mid, g.priceTop, mid, g.clientHeight - g.priceBottom + g.labelHeight / 2);
    DrawTextAt(dc, mid, g.clientHeight - g.priceBottom + g.labelHeight, text, TA_CENTER | TA_TOP);
}

/* ---- formula lines and status line ----------------------------------------------------- */

static bool SeriesDrawn(const ChartWindow *chart, const ChartSeries &series)
{
    if (!series.displayFormat || !series.values) return false;
    return series.pane == CHART_PANE_PRICE || (series.pane == CHART_PANE_INDICATOR && chart->showIndicatorPane) ||
        (series.pane == CHART_PANE_VOLUME && chart->showVolumePane);
}

static void DrawSeriesLine(HDC dc, const ChartWindow *chart, const ChartSeries &series)
{
    POINT run[512];
    int n = 0;
    for (int32_t i = chart->firstBar; i <= chart->lastBar + 1; i++) {
        bool ends = i > chart->lastBar || (uint32_t)i >= series.capacity || std::isnan(series.values[i]);
        if (!ends) {
            run[n].x = series.points[i].x;
            run[n].y = series.points[i].y;
            n++;
        }
        if ((ends || n == 512) && n > 0) {
            if (n == 1)
                SetPixel(dc, run[0].x, run[0].y, GetTextColor(dc));
            else
                Polyline(dc, run, n);
            /* A full buffer continues from its last point. */
            if (!ends) {
                run[0] = run[n - 1];
                n = 1;
            } else {
                n = 0;
            }
        }
    }
}

static void DrawFormulaLines(HDC dc, const ChartWindow *chart, int32_t shown, int x, int statusY, int averageWidth)
{
    for (int32_t s = 0; s < chart->seriesCount; s++) {
        const ChartSeries &series = chart->series[s];
        if (!SeriesDrawn(chart, series)) continue;
        const DrawStyle &style = ChartStyleSet.styles[s % DRAW_STYLES];
        SelectObject(dc, style.pen);
        SetTextColor(dc, style.colour);
        DrawSeriesLine(dc, chart, series);
        if (shown < 0 || (uint32_t)shown >= series.capacity) continue;
        char value[64], text[160];
        FormatSeriesValue(&series, series.values[shown], value);
        if (strcmp(value, "n/a") == 0) continue;
        FormatText(text, sizeof text, "  %s = %s", series.name, value);
        DrawTextAt(dc, x, statusY, text, TA_LEFT | TA_TOP);
        x += TextWidth(dc, text) + averageWidth;
    }
}

/* ---- trade marks ------------------------------------------------------------------------ */

/* The bar at or after date, or -1. */
static int32_t BarAtOrAfter(const Bar *bars, int32_t count, int32_t date)
{
    int32_t lo = 0, hi = count;
    while (lo < hi) {
        int32_t mid = (lo + hi) / 2;
        if (bars[mid].date < date)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < count ? lo : -1;
}

struct MarkLabel {
    int x, y, width, height;
};

static MarkLabel PlaceMark(HDC dc, const char *label, int x, int y, double price, double middle, bool leftWhenRoom,
                           int d, int e)
{
    MarkLabel m = {};
    const SIZE size = TextExtentWide(dc, label);
    m.width = size.cx;
    m.height = size.cy;
    bool right = leftWhenRoom ? x < m.width + d : x <= gChartGeometry.clientWidth - m.width -
            gChartGeometry.rightMargin - 17;
    m.x = right ? x + d : x - d - m.width;
    m.y = price > middle ? y + e : y - e;
    return m;
}

static void DrawMark(HDC dc, int x, int y, const MarkLabel &m, const char *label)
{
    int H = gChartGeometry.labelHeight;
    Ellipse(dc, x - 3, y - 3, x + 4, y + 4);
    int labelX = m.x < x ? m.x + m.width : m.x;
    Line(dc, x, y, labelX, m.y);
    DrawTextAt(dc, m.x, m.y - H / 2, label, TA_LEFT | TA_TOP);
}

void DrawTradeMarks(HDC dc, ChartWindow *chart, const Bar *bars, TestRecord *test, const TradeRecord *trade,
                    int logForm, double low, double high, const RECT *client, int annotationY)
{
    const ChartGeometry &g = gChartGeometry;
    int32_t count = chart->symbol ? chart->symbol->barCounts[chart->barSize] : 0;
    const DrawStyle &style = GraphStyleSet.styles[(trade->strategy + 1) % GraphStyleSet.styleCount];
    SetTextColor(dc, style.colour);
    SelectObject(dc, style.pen);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    int32_t entryBar = BarAtOrAfter(bars, count, trade->dateIn);
    if (entryBar < 0 || entryBar >= chart->firstBar + chart->barCount) return;

    char label[128], price[64], annotation[512];
    bool hasReason = trade->reasonText[0] && strcmp(trade->reasonText, "1") != 0;
    if (!trade->dateOut) {
        const char *side = trade->side == 1 ? "buy" : trade->side ? "short" : "trade";
        const char *why = hasReason ? trade->reasonText
            : trade->reason >= 0 && trade->reason < SKIP_REASON_COUNT ? kSkipReasonText[trade->reason]
                                                                      : "n/a";
        FormatText(label, sizeof label, "skip %s (%s)", side, why);
    } else {
        CopyString(label, sizeof label, trade->side == 1 ? "buy" : "short", -1);
    }
    double splitIn = chart->splitAdjusted && trade->splitIn != 0 ? trade->splitIn : 1.0;
    double entryPrice = trade->priceIn / splitIn, entryQuantity = trade->quantityIn * splitIn;
    FormatPrice(entryPrice, chart->splitAdjusted ? 0.0001 : trade->roundingIn, price);
    int n = FormatText(annotation, sizeof annotation, "  %s%s %g @ %s", label, "", entryQuantity, price);

    int d = 3 * gChartBarHalfWidth > 16 ? 3 * gChartBarHalfWidth : 16;
    const SIZE labelSize = TextExtentWide(dc, label);
    int e = labelSize.cy * 3 / 2 > 16 ? labelSize.cy * 3 / 2 : 16;
    double middle = logForm ? std::exp((low + high) / 2) : (low + high) / 2;
    int width = client->right - client->left;
    int entryX = ChartXFromIndex(entryBar - chart->firstBar, chart->barCount, width);
    int entryY = PriceY(entryPrice, low, high, logForm);
    MarkLabel entry = PlaceMark(dc, label, entryX, entryY, entryPrice, middle, true, d, e);
    DrawMark(dc, entryX, entryY, entry, label);

    int32_t exitBar = trade->dateOut ? BarAtOrAfter(bars, count, trade->dateOut) : -1;
    if (exitBar >= 0 && (exitBar < chart->firstBar + chart->barCount || chart->entryExitLine)) {
        double exitPrice = trade->priceOut;
        if (trade->reason == EXIT_REASON_COUNT - 1) exitPrice += trade->splitOut - trade->splitIn;
        double splitOut = chart->splitAdjusted && trade->splitOut != 0 ? trade->splitOut : 1.0;
        exitPrice /= splitOut;
        double exitQuantity = trade->quantityOut * splitOut;
        FormatPrice(exitPrice, chart->splitAdjusted ? 0.0001 : trade->roundingOut, price);
        double profit = TradeNetProfit(trade);
        double base = trade->priceIn * trade->quantityIn * trade->pointValue * trade->fxIn;
        char money[64], percent[64];
        FormatNumber(profit, DISPLAY_CURRENCY, 2, 0, test ? test->currency : nullptr, money);
        FormatNumber(base != 0 ? profit / base : 0, DISPLAY_PERCENT, 2, 0, nullptr, percent);
        const char *why = hasReason ? trade->reasonText
            : trade->reason >= 0 && trade->reason < EXIT_REASON_COUNT ? kExitReasonText[trade->reason]
                                                                      : "n/a";
        char exitLabel[128];
        FormatText(exitLabel, sizeof exitLabel, "%s (%s)", trade->side == 1 ? "sell" : "cover", why);
        const char *plus = profit > 0 ? "+" : "";
        char tail[256];
        FormatText(tail, sizeof tail, ", %s %g @ %s, %s%s (%s%s)", exitLabel, exitQuantity, price, plus, money,
                   plus, percent);
        n += CopyString(annotation + n, (int)sizeof annotation - n, tail, -1);
        int exitX = ChartXFromIndex(exitBar - chart->firstBar, chart->barCount, width);
        int exitY = PriceY(exitPrice, low, high, logForm);
        MarkLabel exit = PlaceMark(dc, exitLabel, exitX, exitY, exitPrice, middle, false, d, e);
        if (std::abs(exit.x - entry.x) < exit.width && std::abs(exit.y - entry.y) < exit.height)
            exit.y += exit.y > exitY ? e : -e;
        DrawMark(dc, exitX, exitY, exit, exitLabel);
        if (chart->entryExitLine && trade->bars >= 2) Line(dc, entryX, entryY, exitX, exitY);
    }
    if (annotation[0] && annotationY >= 1) DrawTextAt(dc, 4, annotationY + g.labelHeight, annotation, TA_LEFT | TA_TOP);
}

static void DrawChartTrades(HDC dc, ChartWindow *chart, const Bar *bars, TestRecord *test, int logForm, double low,
                            double high, const RECT *client, int statusY)
{
    int H = gChartGeometry.labelHeight;
    int y = statusY;
    auto inView = [chart](const TradeRecord *t) {
        return t->dateIn <= chart->lastDate && (!t->dateOut || t->dateOut >= chart->firstDate);
    };
    if (chart->kind == CHART_KIND_COMPARE) {
        /* The left trade with the chart's test, then the right one with its own. */
        const CompareSide *left = GetCompareChartSide(chart, COMPARE_LEFT);
        const CompareSide *right = GetCompareChartSide(chart, COMPARE_RIGHT);
        if (!left) return;
        if (left->trade && inView(left->trade)) {
            DrawTradeMarks(dc, chart, bars, test, left->trade, logForm, low, high, client, y);
            y += H;
        }
        if (right->trade && inView(right->trade))
            DrawTradeMarks(dc, chart, bars, right->test, right->trade, logForm, low, high, client, y);
        return;
    }
    if (chart->kind != CHART_KIND_TRADE || !chart->tradeLink) return;
    const TradeRecord *trade = (const TradeRecord *)chart->tradeLink;
    if (inView(trade)) {
        DrawTradeMarks(dc, chart, bars, test, trade, logForm, low, high, client, y);
        y += H;
    }
    if (!chart->showOtherTrades || !test) return;
    for (int32_t t = 0; t < test->tradeCount; t++) {
        const TradeRecord *other = &test->trades[t];
        if (other == trade || strcmp(other->symbol, trade->symbol) != 0) continue;
        if (other->dateIn < chart->lastDate && other->dateOut > chart->firstDate) {
            DrawTradeMarks(dc, chart, bars, test, other, logForm, low, high, client, y);
            y += H;
        }
    }
}

/* ---- the paint ------------------------------------------------------------------------- */

static void MakeBarObjects(ChartWindow *chart)
{
    if (chart->upBrush) return;
    chart->upBrush = CreateSolidBrush(chart->upColour);
    chart->downBrush = CreateSolidBrush(chart->downColour);
    chart->upPen = CreatePen(PS_SOLID, 1, chart->upColour);
    chart->downPen = CreatePen(PS_SOLID, 1, chart->downColour);
}

static void DrawCrossHair(HDC dc, const ChartWindow *chart, const ChartColours &colours, const Bar *bars,
                          int32_t priceDecimals, int averageWidth)
{
    const ChartGeometry &g = gChartGeometry;
    if (!chart->crossHair || chart->mouseX < 0 || chart->crossBar < 0) return;
    SelectObject(dc, colours.separator);
    Line(dc, 0, chart->mouseY, g.clientWidth - g.rightMargin + 4 * averageWidth, chart->mouseY);
    Line(dc, chart->mouseX, 0, chart->mouseX, g.clientHeight);
    char text[64];
    bool volumePane = chart->mouseY >= g.clientHeight - g.priceBottom && !chart->anyVolumeSeries;
    FormatDouble(chart->crossValue, volumePane ? DECIMALS_ABBREVIATED : (priceDecimals > 4 ? priceDecimals : 4), 0,
                 text);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, colours.labelBack);
    DrawTextAt(dc, g.clientWidth - 8, chart->mouseY - g.labelHeight / 2, text, TA_RIGHT | TA_TOP);
    char date[DATE_TEXT_SIZE];
    FormatDate(bars[chart->crossBar].date, gSettings.DateDisplayFormat, date);
    DrawTextAt(dc, chart->mouseX, g.clientHeight - g.priceBottom + g.labelHeight, date, TA_CENTER | TA_TOP);
    SetBkMode(dc, TRANSPARENT);
}

/* Draws everything but the background; returns without drawing more when the
** window is too small for the panes. */
static void DrawChart(HDC dc, ChartWindow *chart, TestRecord *test, const RECT &client, const ChartColours &colours)
{
    ChartGeometry &g = gChartGeometry;
    int W = client.right, C = client.bottom;
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    int averageWidth = metrics.tmAveCharWidth;
    g.labelHeight = metrics.tmHeight > 0 ? metrics.tmHeight : 1;
    g.clientWidth = W;
    g.clientHeight = C;
    int scrollWidth = GetSystemMetrics(SM_CXVSCROLL), scrollHeight = GetSystemMetrics(SM_CYHSCROLL);
    char maxText[64], minText[64];
    FormatDouble(chart->priceMax, DECIMALS_TRIMMED, 0, maxText);
    FormatDouble(chart->priceMin, DECIMALS_TRIMMED, 0, minText);
    int wider = TextWidth(dc, maxText) > TextWidth(dc, minText) ? TextWidth(dc, maxText) : TextWidth(dc, minText);
    g.rightMargin = wider + averageWidth + 2 * scrollWidth;
    g.leftMargin = scrollWidth;

    int32_t indicatorHeight = 0, volumeHeight = 0;
    ChartPaneHeights(&chart->indicatorPanePercent, &chart->volumePanePercent, (int32_t)chart->showIndicatorPane,
                     (int32_t)chart->showVolumePane, chart->draggingDivider, C - 2 * scrollHeight, &indicatorHeight,
                     &volumeHeight);
    chart->indicatorPaneHeight = chart->showIndicatorPane ? indicatorHeight : 0;
    chart->volumePaneHeight = chart->showVolumePane ? volumeHeight : 0;
    int statusY = scrollHeight / 4 + chart->indicatorPaneHeight;
    g.priceTop = 2 * scrollHeight + chart->indicatorPaneHeight;
    g.priceBottom = chart->showVolumePane ? chart->volumePaneHeight : 2 * scrollHeight;
    if (C <= g.priceTop + g.priceBottom + g.labelHeight || W <= g.rightMargin + g.leftMargin) return;
    SymbolRecord *symbol = chart->symbol;
    const Bar *bars = symbol ? symbol->bars[chart->barSize] : nullptr;
    if (!bars || chart->barCount < 1) return;

    int logForm = chart->logScale && chart->priceMin > 0;
    double low = logForm ? std::log(chart->priceMin) : chart->priceMin;
    double high = logForm ? std::log(chart->priceMax) : chart->priceMax;
    SetTextColor(dc, colours.text);

    SelectObject(dc, colours.separator);
    int sepY = C - g.priceBottom + g.labelHeight / 2;
    Line(dc, 0, sepY, W, sepY);
    if (chart->showIndicatorPane) Line(dc, 0, chart->indicatorPaneHeight - g.labelHeight / 2, W,
                                       chart->indicatorPaneHeight - g.labelHeight / 2);
    SelectObject(dc, colours.grid);
    int32_t priceDecimals = DrawPriceScale(dc, chart, averageWidth);
    if (chart->showIndicatorPane) DrawIndicatorScale(dc, chart, averageWidth);
    if (chart->showVolumePane) DrawVolumeScale(dc, chart, averageWidth);

    int days = DaysBetween(chart->firstDate, chart->lastDate);
    int32_t interval = ChartDateLabelInterval(days, W, chart->barSize);
    int w = ChartBarHalfWidth(chart->barCount, W);
    gChartBarHalfWidth = w;
    bool volumeBars = chart->showVolumePane && !chart->anyVolumeSeries;
    double previousClose = 0;
    int previousX = g.leftMargin;
    int32_t previousPeriod = chart->firstBar > 0 ? ChartBarPeriod(bars[chart->firstBar - 1].date, chart->barSize)
                                                 : -1;
    for (int32_t i = 0; i < chart->barCount; i++) {
        int32_t b = chart->firstBar + i;
        int x = ChartXFromIndex(i, chart->barCount, W);
        BarPrices p = DrawingPrices(chart, &bars[b], logForm);
        for (int32_t s = 0; s < chart->seriesCount; s++) {
            ChartSeries &series = chart->series[s];
            if (!series.displayFormat || series.pane < 0 || (uint32_t)b >= series.capacity) continue;
            double v = series.values[b];
            int y = series.pane == CHART_PANE_PRICE ? PriceY(v, low, high, logForm)
                : series.pane == CHART_PANE_INDICATOR
                ? ChartPaneYFromValue(v, chart->indicatorMin, chart->indicatorMax, g.priceTop)
                : ChartLowerPaneYFromValue(v, chart->volumeMin, chart->volumeMax, g.priceBottom - g.labelHeight);
            series.points[b] = { x, y };
        }
        int32_t period = ChartBarPeriod(bars[b].date, chart->barSize);
        if (period != previousPeriod && ChartDateLabelDue(period, interval, chart->barSize))
            DrawDateLabel(dc, chart, colours, &bars[b], previousX, x, days);
        previousPeriod = period;
        DrawBarBody(dc, chart, colours, x, w, p, low, high);
        if (volumeBars) DrawVolumeBar(dc, chart, x, p.volume, p.close >= previousClose);
        if (chart->showCursor && i == chart->cursorSlot) {
            SelectObject(dc, PenMagenta);
            SelectObject(dc, GetStockObject(NULL_BRUSH));
            chart->cursorX = x;
            Rectangle(dc, x - 1, 0, x + 1, C);
        }
        previousClose = p.close;
        previousX = x;
    }

    int32_t shown = ChartShownBar(chart);
    char status[CHART_STATUS_SIZE];
    FormatChartStatus(chart, bars, shown, status, sizeof status);
    SetTextColor(dc, colours.text);
    DrawTextAt(dc, 4, statusY, status, TA_LEFT | TA_TOP);
    DrawFormulaLines(dc, chart, shown, 4 + TextWidth(dc, status) + averageWidth, statusY, averageWidth);
    DrawChartTrades(dc, chart, bars, test, logForm, low, high, &client, statusY);
    DrawCrossHair(dc, chart, colours, bars, priceDecimals, averageWidth);
}

void PaintChart(HWND window, HDC dc, ChartWindow *chart, TestRecord *test)
{
    if (gChartOpening) return;
    RECT client;
    GetClientRect(window, &client);
    if (client.right < 1 || client.bottom < 1) return;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    ChartColours colours = PickChartColours(chart);
    HBRUSH black = chart->blackBackground ? CreateSolidBrush(0) : nullptr;
    FillRect(memory, &client, black ? black : BrushWhite);
    HGDIOBJ oldFont = SelectObject(memory, ChartStyleSet.normalFont);
    HGDIOBJ oldPen = SelectObject(memory, PenBlack);
    HGDIOBJ oldBrush = SelectObject(memory, BrushWhite);
    SetBkMode(memory, TRANSPARENT);
    MakeBarObjects(chart);
    DrawChart(memory, chart, test, client, colours);
    SelectObject(memory, oldFont);
    SelectObject(memory, oldPen);
    SelectObject(memory, oldBrush);
    SelectObject(memory, oldBitmap);
    if (black) DeleteObject(black);
    if (ServeImageRequest(window, bitmap)) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
}

/* ---- titles and clean-up ----------------------------------------------------------------- */

void SetChartTitle(HWND window, ChartWindow *chart, const char *strategyName)
{
    char title[CHART_TITLE_SIZE];
    FormatChartTitle(chart, strategyName, title, sizeof title);
    SetWindowTitle(window, title);
}

void DestroyChartData(ChartWindow *chart)
{
    HGDIOBJ objects[] = { (HGDIOBJ)chart->upBrush, (HGDIOBJ)chart->downBrush, (HGDIOBJ)chart->upPen,
                          (HGDIOBJ)chart->downPen };
    for (HGDIOBJ object : objects)
        if (object) DeleteObject(object);
    chart->upBrush = chart->downBrush = chart->upPen = chart->downPen = nullptr;
    FreeChartIndicators(chart);
}
