/* chart_series.cpp -- Charts formula series, chart option defaults, status and title texts. */
#include "views/chart_series.h"

#include <cmath>
#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "views/trade_compare.h"

static const double kNoMin = 1e14, kNoMax = -1e14;

/* ---- defaults ---------------------------------------------------------------------- */

void LoadChartDefaults(ChartWindow *chart)
{
    chart->candlestick = (uint32_t)gSettings.ChartCandlestick;
    chart->logScale = (uint32_t)gSettings.ChartLogScale;
    chart->splitAdjusted = (uint32_t)gSettings.ChartSplitAdjust;
    chart->visibleBars = gSettings.ChartVisibleBars;
    chart->extraBars = gSettings.ChartExtraBars;
    chart->afterExit = (uint32_t)gSettings.ChartAfterExit;
    chart->showIndicatorPane = (uint32_t)gSettings.ChartShowIndPane;
    chart->indicatorPanePercent = gSettings.ChartIndPanePct;
    chart->showVolumePane = (uint32_t)gSettings.ChartShowVolPane;
    chart->volumePanePercent = gSettings.ChartVolPanePct;
    chart->crossHair = (uint32_t)gSettings.ChartCrossHair;
    chart->blackBackground = (uint32_t)gSettings.ChartBlackBG;
    chart->barSize = gSettings.ChartBarSize2;
    chart->wheelScroll = (uint32_t)gSettings.WheelScroll;
    chart->entryExitLine = (uint32_t)gSettings.EntryExitLine;
    chart->showOtherTrades = (uint32_t)gSettings.ShowOtherTrades;
    chart->showCursor = (uint32_t)gSettings.ChartShowCursor;
    chart->cursorSlot = gSettings.ChartCursorBar;
    chart->upColour = gSettings.ChartUpBar;
    chart->downColour = gSettings.ChartDownBar;
}

void SaveChartDefaults(const ChartWindow *chart)
{
    gSettings.ChartCandlestick = (int32_t)chart->candlestick;
    gSettings.ChartLogScale = (int32_t)chart->logScale;
    gSettings.ChartSplitAdjust = (int32_t)chart->splitAdjusted;
    gSettings.ChartVisibleBars = chart->visibleBars;
    gSettings.ChartExtraBars = chart->extraBars;
    gSettings.ChartAfterExit = (int32_t)chart->afterExit;
    gSettings.ChartShowIndPane = (int32_t)chart->showIndicatorPane;
    gSettings.ChartIndPanePct = chart->indicatorPanePercent;
    gSettings.ChartShowVolPane = (int32_t)chart->showVolumePane;
    gSettings.ChartVolPanePct = chart->volumePanePercent;
    gSettings.ChartCrossHair = (int32_t)chart->crossHair;
    gSettings.ChartBlackBG = (int32_t)chart->blackBackground;
    gSettings.ChartBarSize2 = chart->barSize;
    gSettings.WheelScroll = (int32_t)chart->wheelScroll;
    gSettings.EntryExitLine = (int32_t)chart->entryExitLine;
    gSettings.ShowOtherTrades = (int32_t)chart->showOtherTrades;
    gSettings.ChartShowCursor = (int32_t)chart->showCursor;
    gSettings.ChartCursorBar = chart->cursorSlot;
    gSettings.ChartUpBar = chart->upColour;
    gSettings.ChartDownBar = chart->downColour;
}

/* ---- series ------------------------------------------------------------------------ */

void FreeChartIndicators(ChartWindow *chart)
{
    for (int32_t i = 0; i < chart->seriesCapacity; i++) {
        FreeMemory(&chart->series[i].points);
        FreeMemory(&chart->series[i].values);
    }
    FreeMemory(&chart->series);
    chart->seriesCount = chart->seriesCapacity = 0;
}

const CompareSide *GetCompareChartSide(const ChartWindow *chart, int side)
{
    if (chart->kind != CHART_KIND_COMPARE || !chart->tradeLink) return nullptr;
    return &((const CompareRow *)chart->tradeLink)->side[side];
}

TestRecord *GetChartOwnerData(const ChartWindow *chart, TestRecord *ownerTest)
{
    if (chart->kind == CHART_KIND_COMPARE) {
        const CompareSide *left = GetCompareChartSide(chart, COMPARE_LEFT);
        if (!left) return nullptr;
        return left->test ? left->test : GetCompareChartSide(chart, COMPARE_RIGHT)->test;
    }
    return chart->kind == CHART_KIND_TRADE ? ownerTest : nullptr;
}

enum { HINT_PANE_INDICATOR = 1, HINT_PANE_VOLUME = 2 };

static int32_t ChartPaneOfColumn(const FormulaColumn *column)
{
    if (column->barFlag && (int)column->barNumber == HINT_PANE_INDICATOR) return CHART_PANE_INDICATOR;
    if (column->barFlag && (int)column->barNumber == HINT_PANE_VOLUME) return CHART_PANE_VOLUME;
    return CHART_PANE_PRICE;
}

static int GrowSeriesRows(ChartWindow *chart, int32_t rows)
{
    if (rows <= chart->seriesCapacity) return 1;
    if (!ReallocMemory(&chart->series, (uint64_t)rows * sizeof(ChartSeries))) return 0;
    chart->seriesCapacity = rows; /* ReallocMemory zeroes the new rows */
    return 1;
}

static void PrepareChartContext(ChartWindow *chart, TestRecord *test, EvalContext *context)
{
    memset(context, 0, sizeof *context);
    context->barPhase = PHASE_CLOSE;
    context->symbol = chart->symbol;
    context->barSize = chart->barSize;
    context->chart = chart;
    context->test = test;
    context->resultRow = -1;
    context->strategyIndex = -1;
    context->lastBar = -1;
    context->walkForwardInterval = -1;
    context->dataItemIndex = -1;
    context->funBar = -1;
    if (chart->kind == CHART_KIND_TRADE && chart->tradeLink) {
        TradeRecord *trade = (TradeRecord *)chart->tradeLink;
        context->trade = trade;
        context->strategyIndex = trade->strategy;
    }
}

/* Evaluates the context's formula on one bar; NaN when it gives no value. */
static double EvalChartBar(FormulaColumn *column, EvalContext *context, const Bar *bars, int32_t bar,
                           TestRecord *test)
{
    context->barIndex = bar;
    context->lastBar = bar;
    context->date = bars[bar].date;
    if (test) context->resultRow = FindResultRowByDate(test, bars[bar].date, context->barSize);
    double value = 0;
    if (!EvalFormulaSlot(&column->formula, context, &value)) return NAN;
    return value;
}

int LoadChartSeries(ChartWindow *chart, TestRecord *test)
{
    FormulaColumn *columns = (FormulaColumn *)gChartsColumns.items;
    int32_t count = gChartsColumns.count;
    if (!GrowSeriesRows(chart, count)) return 0;
    chart->seriesCount = count;
    chart->anyIndicatorSeries = chart->anyVolumeSeries = 0;
    chart->statusFormula = nullptr;
    if (!test && chart->kind != CHART_KIND_TRADE && chart->kind != CHART_KIND_COMPARE) test = gCurrentTest;
    SymbolRecord *symbol = chart->symbol;
    int32_t barCount = symbol ? symbol->barCounts[chart->barSize] : 0;
    const Bar *bars = symbol ? symbol->bars[chart->barSize] : nullptr;
    EvalContext context;
    PrepareChartContext(chart, test, &context);

    for (int32_t k = 0; k < count; k++) {
        FormulaColumn *column = &columns[k];
        ChartSeries *series = &chart->series[k];
        if (column->caretFlag) {
            chart->statusFormula = column;
            series->pane = CHART_PANE_STATUS;
            series->displayFormat = 0;
            continue;
        }
        series->displayFormat = (uint32_t)column->format;
        series->decimals = (uint32_t)column->decimals;
        series->pane = ChartPaneOfColumn(column);
        if (series->pane == CHART_PANE_INDICATOR) chart->anyIndicatorSeries = 1;
        if (series->pane == CHART_PANE_VOLUME) chart->anyVolumeSeries = 1;
        CopyString(series->name, sizeof series->name, column->heading[0] ? column->heading : column->formula.name,
                   -1);
        if ((uint32_t)barCount > series->capacity) {
            if (!ReallocMemory(&series->values, (uint64_t)barCount * sizeof(double)) ||
                !ReallocMemory(&series->points, (uint64_t)barCount * sizeof(ChartPoint)))
                return 0;
            series->capacity = (uint32_t)barCount;
        }
        series->min = kNoMin;
        series->max = kNoMax;
        series->integers = 1;
        for (int32_t i = 0; i < barCount; i++) {
            double value = EvalChartBar(column, &context, bars, i, test);
            if (std::isnan(value)) {
                series->values[i] = value;
                continue;
            }
            series->valueFormat = column->formula.resultFormat;
            double split = bars[i].split != 0 ? bars[i].split : 1.0;
            if (chart->splitAdjusted && series->valueFormat == 1) value /= split;
            if (chart->splitAdjusted && series->valueFormat == 2) value *= split;
            if (value != std::floor(value)) series->integers = 0;
            if (value < series->min) series->min = value;
            if (value > series->max) series->max = value;
            series->values[i] = value;
        }
    }
    chart->showIndicatorPane = chart->anyIndicatorSeries;
    chart->showVolumePane = chart->anyVolumeSeries || (symbol && symbol->firstUsedDate < 99991231);
    return 1;
}

/* ---- texts ------------------------------------------------------------------------- */

int32_t ChartShownBar(const ChartWindow *chart)
{
    if (chart->barCount < 1) return -1;
    if (chart->showCursor && chart->cursorSlot >= 0 && chart->cursorSlot < chart->barCount)
        return chart->firstBar + chart->cursorSlot;
    return chart->lastBar;
}

static int Append(char *out, int size, int length, const char *text)
{
    int room = size - length;
    if (room <= 1) return length;
    return length + CopyString(out + length, room, text, -1);
}

int FormatChartStatus(ChartWindow *chart, const Bar *bars, int32_t shown, char *out, int size)
{
    out[0] = 0;
    if (!chart->symbol || shown < 0) return 0;
    const Bar *bar = &bars[shown];
    double split = chart->splitAdjusted && bar->split != 0 ? bar->split : 1.0;
    double tick = GetTickSize(chart->symbol, bar, bar->close);
    char date[DATE_TEXT_SIZE], open[64], high[64], low[64], close[64], text[256];
    FormatDate(bar->date, gSettings.DateDisplayFormat, date);
    FormatPrice(bar->open / split, tick, open);
    FormatPrice(bar->high / split, tick, high);
    FormatPrice(bar->low / split, tick, low);
    FormatPrice(bar->close / split, tick, close);
    double change = 0;
    if (shown > 0) {
        const Bar *previous = &bars[shown - 1];
        double previousSplit = previous->split != 0 ? previous->split : 1.0;
        double barSplit = bar->split != 0 ? bar->split : 1.0;
        double base = previous->close * barSplit / previousSplit;
        if (base != 0) change = bar->close / base - 1;
    }
    int n = FormatText(out, (size_t)size, "  %s - %s %s:  O = %s,  H = %s,  L = %s,  C = %s (%s%.2f%%)",
                       chart->symbol->info.Symbol, kBarSizeWords[chart->barSize], date, open, high, low, close,
                       change > 0 ? "+" : "", change * 100);
    if (chart->showVolumePane && !chart->anyVolumeSeries) {
        char volume[64];
        FormatText(volume, sizeof volume, "%.0f", bar->volume * split);
        InsertCommas(volume, (int32_t)strlen(volume), (int32_t)sizeof volume);
        FormatText(text, sizeof text, ", V = %s", volume);
        n = Append(out, size, n, text);
    }
    if (bar->split != 1 && bar->split != 0) {
        if (chart->splitAdjusted)
            FormatText(text, sizeof text, "  adjust = %.2f", bar->split);
        else
            CopyString(text, sizeof text, "  unadjusted", -1);
        n = Append(out, size, n, text);
    }
    if (chart->statusFormula) {
        EvalContext context;
        PrepareChartContext(chart, nullptr, &context);
        context.barIndex = context.lastBar = shown;
        context.date = bar->date;
        /* Text results show as text, a zero or a failed value adds nothing. */
        char result[96] = "";
        if (EvalFormulaText(&chart->statusFormula->formula, &context, result, (int)sizeof result) && result[0]) {
            FormatText(text, sizeof text, ", %s", result);
            n = Append(out, size, n, text);
        }
    }
    return n;
}

int FormatChartTitle(const ChartWindow *chart, const char *strategyName, char *out, int size)
{
    const char *symbol = chart->symbol ? chart->symbol->info.Symbol : "";
    int n;
    switch (chart->kind) {
    case CHART_KIND_SCAN: n = FormatText(out, (size_t)size, "Scan - %s", symbol); break;
    case CHART_KIND_TRADE:
        n = FormatText(out, (size_t)size, "Trade - %s - %s", strategyName ? strategyName : "", symbol);
        break;
    case CHART_KIND_COMPARE: n = FormatText(out, (size_t)size, "Compare - %s", symbol); break;
    default: n = FormatText(out, (size_t)size, "Chart - %s", symbol); break;
    }
    if (chart->symbol && chart->symbol->info.Name[0]) {
        char extra[200];
        if (chart->symbol->info.Industry[0])
            FormatText(extra, sizeof extra, " [%s | %s]", chart->symbol->info.Name, chart->symbol->info.Industry);
        else
            FormatText(extra, sizeof extra, " [%s]", chart->symbol->info.Name);
        n = Append(out, size, n, extra);
    }
    return n;
}

/* ---- changing the symbol ------------------------------------------------------------ */

void MoveChartViewToSymbol(ChartWindow *chart, SymbolRecord *symbol)
{
    int32_t daily = symbol->barCounts[BAR_DAILY];
    if (daily > 0) {
        const Bar *bars = symbol->bars[BAR_DAILY];
        if (bars[0].volume != 0 || bars[daily - 1].volume != 0) LowerFirstUsedDate(symbol, bars[0].date);
    }
    /* Both counts are taken at the chart's bar size: mixing a daily count into
    ** a weekly view would throw the view to the end of the bars. */
    int32_t old = chart->symbol ? chart->symbol->barCounts[chart->loadedBarSize] : 0;
    int32_t now = symbol->barCounts[chart->loadedBarSize];
    chart->symbol = symbol;
    int32_t last = chart->lastBar + (now - old);
    chart->lastBar = last < 0 ? 0 : last;
    int32_t count = chart->visibleBars;
    if (count > now) count = now;
    if (count < 2) count = 2;
    chart->barCount = count;
}
