/* trade_plot.cpp -- the trade plot calculation: trades to points on worker
** threads, ordering, reduction by kind, the title and the logged tables. */
#include "views/trade_plot.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "records/test_records.h"
#include "engine/results_list.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "script/eval/value_getters.h"
#include "services/services.h"

/* clang-format off */
const PlotKindInfo kPlotKinds[PLOT_KIND_COUNT] = {
    {.name = "Scatter Plot",          .first = "individual",      .second = "gains"},
    {.name = "Profit Distribution",   .first = "distribution of", .second = "gains"},
    {.name = "MAE/MFE Distribution",  .first = "distribution of", .second = "excursions"},
    {.name = "Cumulative Profit",     .first = "cumulative",      .second = "profit"},
    {.name = "Monte Carlo Profits",   .first = "Monte Carlo",     .second = "profit"},
    {.name = "Monte Carlo Drawdowns", .first = "Monte Carlo",     .second = "drawdown"},
    {.name = "Equal Count Bins",      .first = "average",         .second = "gain"},
    {.name = "Equal Range Bins",      .first = "average",         .second = "gain"},
};
/* clang-format on */

FormulaColumn gPlotFormula;
static char gPlotFormulaText[PLOT_FORMULA_SIZE];

namespace {

enum { PLOT_MAX_WORKERS = 32 };

struct PlotWorker {
    PlotWindow *record;
    int32_t tradeCount;
    int32_t step, first;
    std::atomic<int> running, stop;
};

/* The sort field of the comparison; qsort takes no context and plots sort on
** the UI thread only. */
int gCompareByTradeNumber = 1;

int IsPercentUnits(const PlotWindow *record) { return record->units != PLOT_DOLLARS; }

int IsGrowthKind(int32_t kind) { return kind == PLOT_CUMULATIVE || kind == PLOT_MC_PROFITS || kind == PLOT_MC_DRAWDOWNS; }

/* The trade's values in the plot's units: two excursions for the excursion
** distribution, else the net profit.  Returns how many were stored. */
int TradePlotValues(const PlotWindow *record, const TradeRecord *t, double out[2])
{
    int n = 1;
    if (record->kind == PLOT_EXCURSION_DISTRIBUTION) {
        double scale = t->quantityIn * t->pointValue;
        double adverse = t->side > 0 ? t->lowest - t->priceIn : t->priceIn - t->highest;
        double favourable = t->side > 0 ? t->highest - t->priceIn : t->priceIn - t->lowest;
        out[0] = adverse * scale;
        out[1] = favourable * scale;
        n = 2;
    } else {
        out[0] = TradeNetProfit(t);
    }
    if (IsPercentUnits(record)) {
        double base = t->quantityIn * t->priceIn * t->fxIn * t->pointValue;
        for (int k = 0; k < n; k++) {
            out[k] /= base;
            /* The allocation fraction of the trade scales a trade's return to
            ** its effect on the account. */
            if (IsGrowthKind(record->kind))
                out[k] = 1 + out[k] * t->fraction;
            else if (record->units == PLOT_ALLOC_PERCENT)
                out[k] *= t->fraction;
        }
    }
    return n;
}

/* The formula's value at the trade's entry; 0 when the symbol or its bar is
** missing, NaN when the formula gives no finite value. */
double TradeFormulaX(const PlotWindow *record, const TradeRecord *t, EvalContext *context, int32_t slot)
{
    memset(context, 0, sizeof *context);
    context->test = record->test;
    context->barSize = record->test->settings.BarSize2;
    context->slot = slot;
    context->date = t->dateIn;
    context->barPhase = t->timeIn;
    context->resultRow = FindResultRowByDate(record->test, t->dateIn, 0);
    context->strategyIndex = -1;
    context->lastBar = -1;
    context->walkForwardInterval = -1;
    context->dataItemIndex = -1;
    context->funBar = -1;
    context->trade = const_cast<TradeRecord *>(t);
    int number = FindSymbolIndex(t->symbol); /* 1-based, 0 when absent */
    if (number < 1 || number > gStore.symbolCount) return 0;
    context->symbol = &gStore.symbols[number - 1];
    if (!SyncContextBar(context)) return 0;
    double value = 0;
    if (!EvalFormulaSlot(&gPlotFormula.formula, context, &value) || !std::isfinite(value)) return NAN;
    return value;
}

void PlotFormulaThread(PlotWorker *w)
{
    PlotWindow *record = w->record;
    const TestRecord *test = record->test;
    SelectRandomSlot(w->first);
    EvalContext context;
    for (int32_t i = w->first; i < w->tradeCount && !w->stop.load(std::memory_order_relaxed); i += w->step) {
        const TradeRecord *t = &test->trades[i];
        if (t->strategy != record->strategy && !StrategyInGroup(test, t->strategy, record->strategy)) continue;
        if (t->priceIn == 0 || t->priceOut == 0 || t->quantityIn == 0 || t->timeIn < 0) continue;
        double values[2];
        int n = TradePlotValues(record, t, values);
        double x = i + 1;
        if (record->sortField == PLOT_SORT_FORMULA) {
            x = TradeFormulaX(record, t, &context, w->first);
            if (std::isnan(x)) continue;
        }
        for (int k = 0; k < n; k++) {
            double v = values[k];
            /* A zero price, quantity, rate or point value would make the
            ** percent units infinite: such a trade has no value to show. */
            if (!std::isfinite(v)) continue;
            if (record->useMaxValue && v > record->maxValue) continue;
            if (record->useMinValue && v < record->minValue) continue;
            int32_t slot;
            {
                std::lock_guard<std::mutex> hold(*record->lock);
                if (x < record->xMin) record->xMin = x;
                if (x > record->xMax) record->xMax = x;
                if (record->kind != PLOT_CUMULATIVE) {
                    if (v < record->valueMin) record->valueMin = v;
                    if (v > record->valueMax) record->valueMax = v;
                }
                slot = record->pointCount++;
            }
            PlotPoint *p = &record->points[slot];
            memset(p, 0, sizeof *p);
            p->trade = i;
            p->strategy = t->strategy;
            p->x = x;
            p->value = v;
        }
    }
    w->running = 0;
}

template <typename T>
int GrowBuffer(T **buffer, int32_t *capacity, int64_t need)
{
    if (need <= *capacity) return 1;
    if (need > INT32_MAX / 2) return 0;
    if (!ReallocMemory(buffer, uint64_t(need) * sizeof(T))) return 0;
    *capacity = int32_t(need);
    return 1;
}

void ShowCount(int part, const char *format, int64_t count)
{
    char digits[32];
    int length = FormatText(digits, sizeof digits, "%lld", (long long)count);
    InsertCommas(digits, length, sizeof digits);
    SetStatusText(part, format, digits);
}

/* Compiles the plot formula from the record's text; 0 when it does not compile. */
int CompilePlotFormula(const PlotWindow *record)
{
    FreeFormulaNodes(&gPlotFormula.formula);
    FormulaSlot *slot = &gPlotFormula.formula;
    *slot = FormulaSlot{};
    CopyString(gPlotFormulaText, sizeof gPlotFormulaText, record->formula, -1);
    slot->scriptText = gPlotFormulaText;
    slot->length = int32_t(strlen(gPlotFormulaText));
    CopyString(slot->name, sizeof slot->name, "Plot Formula", 63);
    CopyString(gPlotFormula.heading, sizeof gPlotFormula.heading, "Plot Formula", -1);
    return CompileFormula(slot, 0, -1);
}

/* Runs the per-trade pass; 1 when every worker started, 0 when none could. */
int RunPlotWorkers(PlotWindow *record)
{
    int32_t trades = record->test->tradeCount;
    int32_t workers = ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount());
    if (workers > PLOT_MAX_WORKERS) workers = PLOT_MAX_WORKERS;
    if (workers > trades) workers = trades;
    if (workers < 1) return 1;
    std::mutex lock;
    record->lock = &lock;
    /* Another plot may calculate inside this one's message pump: each call
    ** keeps its own workers. */
    PlotWorker pool[PLOT_MAX_WORKERS];
    std::thread threads[PLOT_MAX_WORKERS];
    for (int32_t k = 0; k < workers; k++) {
        PlotWorker *w = &pool[k];
        w->record = record;
        w->tradeCount = trades;
        w->step = workers;
        w->first = k;
        w->stop = 0;
        w->running = 1;
        try {
            threads[k] = std::thread(PlotFormulaThread, w);
        } catch (...) {
            w->stop = 1;
            w->running = 0;
        }
    }
    uint64_t shown = PlatTickCount64();
    int statusShown = trades > PLOT_STATUS_TRADES;
    for (;;) {
        int running = 0;
        for (int32_t k = 0; k < workers; k++) running += pool[k].running.load();
        if (!running) break;
        PumpMessages();
        if (gRun.lowMemory.load() || PlatEscapePressed())
            for (int32_t k = 0; k < workers; k++) pool[k].stop = 1;
        uint64_t now = PlatTickCount64();
        if (statusShown && now - shown >= 100) {
            shown = now;
            std::lock_guard<std::mutex> hold(lock);
            ShowCount(1, "Trade %s", record->pointCount);
        }
        PlatSleep(1);
    }
    for (int32_t k = 0; k < workers; k++)
        if (threads[k].joinable()) threads[k].join();
    record->lock = nullptr;
    if (statusShown) SetStatusText(1, nullptr);
    return 1;
}

void LogBinRow(const PlotWindow *record, int32_t bin, int32_t count, double lo, double hi, double average)
{
    if (record->logStats) LogPrintf("%d\t%d\t%g\t%g\t%g", bin, count, lo, hi, average);
}

void ReduceBinRanges(PlotWindow *record)
{
    record->xMin = 0;
    record->xMax = record->bucketCount;
    record->valueMin = 1e14;
    record->valueMax = -1e14;
    for (int32_t b = 0; b < record->bucketCount; b++) {
        double v = record->buckets[b].position;
        if (v < record->valueMin) record->valueMin = v;
        if (v > record->valueMax) record->valueMax = v;
    }
    if (record->logStats) LogPrintf("%s", "");
}

} // namespace

void LoadPlotSettings(PlotWindow *record)
{
    const TestRecord *test = record->test;
    record->mainStrategy = test ? test->mainStrategy : 0;
    if (test && (gSettings.PlotStrat < 0 || gSettings.PlotStrat >= test->strategyCount))
        gSettings.PlotStrat = test->mainStrategy;
    record->strategy = gSettings.PlotStrat;
    record->sortField = gSettings.PlotXField;
    record->units = gSettings.PlotYField;
    record->kind = gSettings.PlotDisplay;
    record->samples = gSettings.PlotMCLines;
    record->shown = gSettings.PlotMCShow;
    record->crossHair = gSettings.PlotCrossHair;
    record->trend = gSettings.PlotTrend;
    record->logStats = gSettings.PlotLogStats;
    record->useMaxValue = gSettings.PlotUseMaxValue;
    record->useMinValue = gSettings.PlotUseMinValue;
    record->distributionBuckets = gSettings.PlotPDCount;
    record->equalCountBins = gSettings.PlotBinCount;
    record->rangeIncrement = gSettings.PlotBinIncr;
    record->maxValue = gSettings.PlotMaxValue;
    record->minValue = gSettings.PlotMinValue;
    CopyString(record->formula, sizeof record->formula, gSettings.PlotFormula, -1);
}

void SetReportPlotOptions(PlotWindow *record)
{
    const TestRecord *test = record->test;
    record->strategy = test->mainStrategy;
    record->sortField = PLOT_SORT_TRADE_NUMBER;
    record->crossHair = record->trend = record->logStats = 0;
    record->useMaxValue = record->useMinValue = 0;
    record->distributionBuckets = 500;
    record->samples = gSettings.ReportMCLines;
    record->shown = gSettings.ReportMCKeep;
    record->units = test->compounded ? PLOT_ALLOC_PERCENT : PLOT_DOLLARS;
}

void WriteReportMonteCarloTable(TestRecord *test, void (*write)(const char *text))
{
    PlotWindow *record = nullptr;
    if (!test || !AllocMemory(&record, sizeof *record)) return;
    record->test = test;
    record->crossX = record->crossY = -1;
    LoadPlotSettings(record);
    SetReportPlotOptions(record);
    record->reportWrite = write;
    record->kind = PLOT_MC_PROFITS;
    record->logStats = 1;
    CalcTradePlotData(record);
    FreePlotWindow(record);
}

void FreePlotWindow(PlotWindow *record)
{
    if (!record) return;
    FreeMemory(&record->points);
    FreeMemory(&record->pixels);
    FreeMemory(&record->flags);
    FreeMemory(&record->buckets);
    FreeMemory(&record->profits);
    FreeMemory(&record->drawdowns);
    FreeMemory(&record->curves);
    FreeMemory(&record->trialValues);
    FreeMemory(&record);
}

int BuildTradePlotTitle(const PlotWindow *record, char *buffer, int size)
{
    const TestRecord *test = record->test;
    int32_t kind = record->kind >= 0 && record->kind < PLOT_KIND_COUNT ? record->kind : 0;
    const char *strategy = "";
    if (test && test->strategies && record->strategy >= 0 && record->strategy < test->strategyCount)
        strategy = test->strategies[record->strategy].name;
    int n = FormatText(buffer, size, "Test %d - %s - %s %s%s", test ? test->testNumber : 0, strategy,
                       kPlotKinds[kind].first, IsPercentUnits(record) ? "%" : "$", kPlotKinds[kind].second);
    int sortedKind = kind == PLOT_SCATTER || kind == PLOT_CUMULATIVE || kind == PLOT_EQUAL_COUNT_BINS ||
        kind == PLOT_EQUAL_RANGE_BINS;
    if (sortedKind && record->sortField == PLOT_SORT_FORMULA) {
        char formula[PLOT_TITLE_FORMULA_MAX + 4];
        CopyString(formula, sizeof formula, record->formula, PLOT_TITLE_FORMULA_MAX);
        if (strlen(record->formula) > PLOT_TITLE_FORMULA_MAX) CopyString(formula + PLOT_TITLE_FORMULA_MAX, 4, "...", -1);
        n += FormatText(buffer + n, size - n, ", sorted by %s%s", formula,
                        record->dataLoaded ? "" : " [DATA NOT LOADED]");
    }
    switch (kind) {
    case PLOT_MC_PROFITS:
        n += FormatText(buffer + n, size - n, " - %d samples, showing best & worst %d", record->samples, record->shown);
        break;
    case PLOT_MC_DRAWDOWNS:
        n += FormatText(buffer + n, size - n, " - %d samples, showing worst %d", record->samples, record->shown);
        break;
    case PLOT_EQUAL_COUNT_BINS:
        n += FormatText(buffer + n, size - n, " - %d trades per bin",
                        record->equalCountBins > 0 ? record->pointCount / record->equalCountBins : 0);
        break;
    case PLOT_EQUAL_RANGE_BINS: n += FormatText(buffer + n, size - n, " - bin interval = %g", record->rangeIncrement); break;
    default: break;
    }
    return n;
}

int32_t PlotAxisDecimals(int32_t percent, double minimum, double maximum)
{
    double range = (maximum - minimum) * (percent ? 100 : 1);
    int32_t decimals = range < 0.1 ? 4 : range < 10 ? 2 : range < 100 ? 1 : 0;
    /* A money amount is shown to the cent at most, also when every value is
    ** the same and the range is nothing. */
    return !percent && decimals > 2 ? 2 : decimals;
}

const char *TradePlotEmptyReason(const PlotWindow *record)
{
    if (record->pointCount < 1) return "No trades to plot.";
    /* A curve of one trade is a single point: every sample is the same and
    ** there is no line to draw. */
    if ((record->kind == PLOT_MC_PROFITS || record->kind == PLOT_MC_DRAWDOWNS) && record->pointCount < 2)
        return "Monte Carlo analysis needs at least 2 trades.";
    return nullptr;
}

int ComparePlotPoints(const void *a, const void *b)
{
    const PlotPoint *x = static_cast<const PlotPoint *>(a);
    const PlotPoint *y = static_cast<const PlotPoint *>(b);
    if (!gCompareByTradeNumber) {
        int c = CompareDouble(x->x, y->x);
        if (c != 0) return c;
    }
    return x->trade < y->trade ? -1 : x->trade > y->trade ? 1
                                                          : 0;
}

void LogBinTableHeader(const PlotWindow *record)
{
    char title[PLOT_TITLE_SIZE], dashes[PLOT_TITLE_SIZE];
    int n = BuildTradePlotTitle(record, title, sizeof title);
    if (n > int(sizeof title) - 1) n = int(sizeof title) - 1;
    memset(dashes, '-', size_t(n));
    dashes[n] = 0;
    LogPrintf("%s", dashes);
    LogPrintf("%s", title);
    LogPrintf("%s", dashes);
    LogPrintf("Bin\tCount\tX Min\tX Max\tAvg Trade");
    LogPrintf("---\t-----\t-----\t-----\t---------");
}

int MakeEqualCountBins(PlotWindow *record, int32_t bins)
{
    if (!GrowBuffer(&record->buckets, &record->bucketCapacity, bins > 0 ? bins : 1)) return 0;
    if (record->logStats) LogBinTableHeader(record);
    record->bucketCount = MakeEqualCountBins(record->points, record->pointCount, bins, record->buckets);
    int32_t per = record->bucketCount > 0 ? record->pointCount / record->bucketCount : 0;
    for (int32_t b = 0; b < record->bucketCount; b++)
        LogBinRow(record, b + 1, per, record->points[b * per].x, record->buckets[b].value, record->buckets[b].position);
    ReduceBinRanges(record);
    return 1;
}

int MakeEqualRangeBins(PlotWindow *record, double increment)
{
    if (increment == 0) return 1;
    if (!GrowBuffer(&record->buckets, &record->bucketCapacity, record->pointCount + 10)) return 0;
    if (record->logStats) LogBinTableHeader(record);
    /* The counts borrow the pixel buffer, which the next paint refills. */
    if (!GrowBuffer(&record->pixels, &record->pixelCapacity, int64_t(record->pointCount) * 2 + 2)) return 0;
    int32_t stored = MakeEqualRangeBins(record->points, record->pointCount, increment, record->buckets,
                                        record->bucketCapacity, record->pixels);
    record->bucketCount = stored > 0 ? stored : 0;
    double d = std::fabs(increment);
    for (int32_t b = 0; b < record->bucketCount; b++)
        LogBinRow(record, b + 1, record->pixels[b], record->buckets[b].value, record->buckets[b].value + d,
                  record->buckets[b].position);
    ReduceBinRanges(record);
    return 1;
}

/* One line of the Monte Carlo table in the log.  Every field but the last is
** padded to the same width before its tab, so the columns line up under
** their headings whatever the length of a value and the log's tab width. */
static void LogMonteCarloLine(const char *first, const char *second, const char *third, const char *last)
{
    enum { FIELD = 15 };
    LogPrintf("%-*s\t%-*s\t%-*s\t%s", FIELD, first, FIELD, second, FIELD, third, last);
}

void WriteMonteCarloTable(const PlotWindow *record)
{
    const TestRecord *test = record->test;
    int percent = IsPercentUnits(record);
    int32_t code = percent ? DISPLAY_PERCENT : DISPLAY_CURRENCY;
    int32_t decimals = percent ? 2 : 0;
    const char *currency = test ? test->currency : nullptr;
    /* The rows are bars of the test's size: a weekly test has 52 a year. */
    double perYear = test ? TestBarsPerYear(test) : 0;
    double years = perYear > 0 ? double(test->rowsFilled) / perYear : 0;
    MonteCarloJob job;
    job.profits = record->profits;
    job.drawdowns = record->drawdowns;
    job.percentUnits = percent;
    job.finished = record->monteCarloFinished;
    MonteCarloRow rows[9];
    int32_t count = MonteCarloPercentiles(&job, years, rows);
    const char *column = percent ? "CAR" : "AAR";
    void (*html)(const char *text) = record->reportWrite;
    char line[1024];
    auto emit = [&](int) { html(line); };
    if (html) {
        emit(FormatText(line, sizeof line,
                        "<h3 class='w3-container w3-pale-red'>Monte Carlo Analysis</h3>\n<table class='w3-table "
                        "w3-striped'><tr class='w3-pale-green'><th>Percentile</th><th>Net Profit</th><th>%s</th><th>Max "
                        "Drawdown</th></tr>\n",
                        column));
    } else {
        char dashes[81];
        memset(dashes, '-', 80);
        dashes[80] = 0;
        LogPrintf("%s", dashes);
        LogPrintf("Monte Carlo Analysis");
        LogPrintf("%s", dashes);
        LogMonteCarloLine("Percentile", "Net Profit", column, "Max Drawdown");
    }
    const char *red = " class='w3-text-red'";
    char profit[64], annual[64], drawdown[64];
    auto format = [&](double np, double an, double dd) {
        FormatNumber(np, code, decimals, 0, currency, profit);
        FormatNumber(an, code, decimals, 0, currency, annual);
        FormatNumber(dd, code, decimals, 0, currency, drawdown);
    };
    for (int32_t r = 0; r < count; r++) {
        const MonteCarloRow &row = rows[r];
        /* Without a length of test in years there is no yearly rate. */
        format(row.netProfit, row.hasAnnual ? row.annual : NAN, row.drawdown);
        if (html)
            emit(FormatText(line, sizeof line, "<tr><td>%d%%</td><td%s>%s</td><td>%s</td><td%s>%s</td></tr>\n",
                            row.percentile, row.netProfit < 0 ? red : "", profit, annual, row.drawdown < 0 ? red : "",
                            drawdown));
        else {
            char percentile[16];
            FormatText(percentile, sizeof percentile, "%d%%", row.percentile);
            LogMonteCarloLine(percentile, profit, annual, drawdown);
        }
    }
    const StatCell *cell = test ? GetResultCell(test, test->rowsFilled - 1, record->strategy) : nullptr;
    if (cell) {
        double e = cell->equityBase + cell->markToMarket, e0 = cell->startEquity;
        int yearly = years > 0;
        double np, an, dd;
        if (percent) {
            np = e0 != 0 ? e / e0 - 1 : NAN;
            an = yearly && e0 != 0 ? std::pow(e / e0, 1 / years) - 1 : NAN;
            dd = -cell->maxDrawdownPercent;
        } else {
            np = e - e0;
            an = yearly ? np / years : NAN;
            dd = -cell->maxDrawdownAmount;
        }
        format(np, an, dd);
        if (html) {
            emit(FormatText(line, sizeof line,
                            "<tr><th>backtest</th><th%s>%s</th><th>%s</th><th%s>%s</th></tr>\n</table>\n",
                            e0 > e ? red : "", profit, annual, cell->maxDrawdownAmount > 0 ? red : "", drawdown));
        } else {
            LogPrintf("%s", "");
            LogMonteCarloLine("backtest", profit, annual, drawdown);
            LogPrintf("%s", "");
        }
    } else if (html) {
        emit(FormatText(line, sizeof line, "</table>\n"));
    }
}

int RunMonteCarlo(PlotWindow *record)
{
    int64_t n = record->pointCount, samples = record->samples;
    if (samples * n > MONTE_CARLO_MAX_POINTS) {
        ReportError("Unable to generate Monte Carlo analysis -- too many data points.");
        return 0;
    }
    if (samples < 1 || n < 1) return 0;
    if (int64_t(record->curveCapacity) < samples * n) {
        if (!ReallocMemory(&record->curves, uint64_t(samples * n) * sizeof(double))) return 0;
        record->curveCapacity = uint32_t(samples * n);
    }
    int32_t capacity = record->summaryCapacity;
    if (!GrowBuffer(&record->profits, &capacity, samples)) return 0;
    capacity = record->summaryCapacity;
    if (!GrowBuffer(&record->drawdowns, &capacity, samples)) return 0;
    record->summaryCapacity = capacity;
    if (!GrowBuffer(&record->trialValues, &record->trialCapacity, n)) return 0;
    for (int64_t j = 0; j < n; j++) record->trialValues[j] = record->points[j].value;
    MonteCarloJob job;
    job.points = record->trialValues;
    job.n = int32_t(n);
    job.samples = int32_t(samples);
    job.kind = record->kind;
    job.percentUnits = IsPercentUnits(record);
    /* The seed the test ran with: the report written after the run, the one
    ** written later and the plot window all draw the same samples. */
    job.randomSeed = record->test ? record->test->randomSeed : 0;
    job.workers = ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount());
    job.curves = record->curves;
    job.profits = record->profits;
    job.drawdowns = record->drawdowns;
    job.stop = 0;
    if (!RunMonteCarlo(&job)) return 0;
    record->monteCarloFinished = job.finished;
    record->valueMin = job.valueMin;
    record->valueMax = job.valueMax;
    record->xMin = 0;
    record->xMax = double(n - 1);
    if (record->logStats) WriteMonteCarloTable(record);
    return 1;
}

int CalcTradePlotData(PlotWindow *record)
{
    if (record->sortField == PLOT_SORT_FORMULA && !CompilePlotFormula(record)) record->sortField = PLOT_SORT_TRADE_NUMBER;
    if (record->busy) return 0;
    TestHold hold; /* the workers read the trades while the window answers */
    record->busy = 1;
    record->dataLoaded = gStore.symbolCount >= 1;
    record->xMin = record->valueMin = 1e14;
    record->xMax = record->valueMax = -1e14;
    record->pointCount = 0;
    record->bucketCount = 0;
    const TestRecord *test = record->test;
    int32_t trades = test && test->trades ? test->tradeCount : 0;
    if (!GrowBuffer(&record->points, &record->pointCapacity, int64_t(trades) * 2 + 1)) {
        record->busy = 0;
        return 0;
    }
    int big = trades > PLOT_STATUS_TRADES;
    if (big) {
        ShowCount(0, "Calculating %s Trades - Press ESC to Cancel", trades);
        SetWaitCursor(1);
    }
    if (trades > 0) RunPlotWorkers(record);
    if (big) SetStatusText(0, "Sorting...");

    PlotPoint *points = record->points;
    int32_t count = record->pointCount;
    int distribution = record->kind == PLOT_PROFIT_DISTRIBUTION || record->kind == PLOT_EXCURSION_DISTRIBUTION;
    if (distribution) {
        qsort(points, size_t(count), sizeof *points, ComparePlotPointsByThird);
    } else {
        gCompareByTradeNumber = record->sortField != PLOT_SORT_FORMULA;
        qsort(points, size_t(count), sizeof *points, ComparePlotPoints);
        if (gCompareByTradeNumber) {
            for (int32_t i = 0; i < count; i++) points[i].x = i + 1;
            record->xMin = 0;
            record->xMax = count + 1;
        }
    }

    int result = 1;
    switch (record->kind) {
    case PLOT_PROFIT_DISTRIBUTION:
    case PLOT_EXCURSION_DISTRIBUTION: {
        if (record->distributionBuckets < 1 || record->distributionBuckets > count) record->distributionBuckets = count;
        int32_t buckets = record->distributionBuckets;
        if (!GrowBuffer(&record->buckets, &record->bucketCapacity, int64_t(buckets) + 2)) {
            result = 0;
            break;
        }
        record->bucketCount = MakeHistogram(points, count, buckets, record->buckets);
        record->xMin = 0;
        record->xMax = 0;
        for (int32_t b = 0; b < record->bucketCount; b++) {
            const PlotBucket &k = record->buckets[b];
            if (k.value > record->xMax) record->xMax = k.value;
            /* The bucket of the largest value is centred above it: the range
            ** takes in every centre, so that bucket is drawn too. */
            if (k.position > record->valueMax) record->valueMax = k.position;
            if (k.position < record->valueMin) record->valueMin = k.position;
        }
        break;
    }
    case PLOT_CUMULATIVE: {
        PlotRange range;
        MakeCumulativeCurve(points, count, IsPercentUnits(record), &range);
        record->valueMin = range.min;
        record->valueMax = range.max;
        break;
    }
    case PLOT_MC_PROFITS:
    case PLOT_MC_DRAWDOWNS: result = RunMonteCarlo(record); break;
    case PLOT_EQUAL_COUNT_BINS:
        if (record->equalCountBins < 1 || record->equalCountBins > count) record->equalCountBins = count;
        result = MakeEqualCountBins(record, record->equalCountBins);
        break;
    case PLOT_EQUAL_RANGE_BINS: result = MakeEqualRangeBins(record, record->rangeIncrement); break;
    default: break;
    }
    if (record->sortField == PLOT_SORT_FORMULA) record->formulaFormat = int32_t(gPlotFormula.formula.resultFormat);
    if (big) {
        SetStatusText(0, nullptr);
        SetWaitCursor(0);
    }
    record->busy = 0;
    return result;
}
