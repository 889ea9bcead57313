/* debug_eval.cpp -- the debug panel's contexts, evaluation and tables. */
#include "shell/debug_eval.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/results_file.h"
#include "records/test_records.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/ranges.h"
#include "script/compiler/script_state.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "script/eval/value_access.h"
#include "shell/panel_rules.h"
#include "services/services.h"

static const char kDashes[] = "------------------------------------------------------------";
static const char *const kValueKindNames[] = {"", "price", "volume", "extern price", "extern volume"};
static const char *const kEntryTimeNames[] = {"n/a", "open", "intraday", "close"};
enum { STATS_BUILT_IN = 67 }; /* built-in statistics listed, from S.Number on */

static int PanelBarSize()
{
    return gSettings.BarSize2 >= 0 && gSettings.BarSize2 < BAR_SIZE_COUNT ? gSettings.BarSize2 : 0;
}

void ShowDebugDateChanged()
{
    SetPanelDate(PANEL_DEBUG_DATE, gSettings.DebugDate);
    char text[DATE_TEXT_SIZE];
    FormatDefaultDate(gSettings.DebugDate, text);
    ShowPopupNotice(0xFF0000, "Debug Data Date Changed to %s", text); /* blue */
}

static void MoveDebugDate(int32_t date)
{
    if (date == gSettings.DebugDate) return;
    gSettings.DebugDate = date;
    ShowDebugDateChanged();
}

static int BarIndexOn(SymbolRecord *symbol, int barSize, int32_t date)
{
    Bar *bar = nullptr;
    return FindBarIndex(symbol, barSize, date, PHASE_CLOSE, 0, &bar);
}

void FindDebugPosition(EvalContext *context, PositionRecord *position)
{
    TestRecord *test = context->test;
    if (!test || !context->symbol || context->strategyIndex < 0) return;
    for (int32_t k = 0; k < test->tradeCount; k++) {
        const TradeRecord *t = &test->trades[k];
        if (t->strategy != context->strategyIndex && !StrategyInGroup(test, t->strategy, context->strategyIndex))
            continue;
        if (CompareNoCase(t->symbol, context->symbol->info.Symbol) != 0) continue;
        int entryBar = BarIndexOn(context->symbol, context->barSize, t->dateIn);
        int exitBar = t->dateOut ? BarIndexOn(context->symbol, context->barSize, t->dateOut) : -1;
        if (entryBar < 0) continue;
        int fits = exitBar >= 0 ? context->barIndex >= entryBar && context->barIndex <= exitBar
                                : context->barIndex == entryBar;
        if (!fits) continue;
        memset(position, 0, sizeof *position);
        position->symbol = context->symbol;
        position->strategyIndex = t->strategy;
        position->side = t->side;
        position->entryDate = t->dateIn;
        position->entryTiming = t->timeIn;
        position->entryBar = entryBar;
        position->exitBar = exitBar;
        position->exitDate = t->dateOut;
        position->exitTiming = t->timeOut;
        position->quantity = t->quantityIn;
        position->requestedQuantity = t->quantityIn;
        position->entryPrice = t->priceIn;
        position->entrySplit = t->splitIn;
        position->entryCommission = t->commissionIn;
        position->entrySlippage = t->slippageIn;
        position->entryFx = t->fxIn;
        position->exitPrice = t->priceOut;
        position->exitSplit = t->splitOut;
        position->fraction = t->fraction;
        position->dividends = t->dividends;
        position->highest = t->highest;
        position->lowest = t->lowest;
        double pointValue = t->pointValue != 0 ? t->pointValue : 1.0;
        double fx = t->fxIn != 0 ? t->fxIn : 1.0;
        position->value = t->quantityIn * t->priceIn * pointValue * fx;
        position->entryValue = position->value;
        context->position = position;
        return;
    }
}

int CheckDebugContext(const DebugSelection *selection, EvalContext *context, PositionRecord *position,
                      int needDate, int needTest, int needStats)
{
    *context = EvalContext{};
    context->date = gSettings.DebugDate;
    context->barPhase = PHASE_CLOSE;
    context->barSize = PanelBarSize();
    context->strategyIndex = -1;
    context->resultRow = -1;
    context->walkForwardInterval = -1;
    context->funBar = -1;
    context->dataItemIndex = -1;
    context->lastBar = -1;
    context->priceScale = 1.0;
    context->symbol = &gStore.calendar;
    context->callingSymbol = context->symbol;
    char dateText[DATE_TEXT_SIZE];
    if (needDate) {
        const DateList *list = PanelDateList(context->barSize);
        int index = list->count > 0 ? FindDateIndex(list, gSettings.DebugDate, -1) : -1;
        if (index < 0) {
            FormatDefaultDate(gSettings.DebugDate, dateText);
            ReportError("%s is outside the range of dates in the currently loaded data file.", dateText);
            return 0;
        }
        MoveDebugDate((int32_t)list->dates[index]);
        context->date = gSettings.DebugDate;
        Bar *found = nullptr;
        SymbolRecord *symbol = FindSymbolAtDate(gSettings.DebugSymbol, context->barSize, context->date, &found, 0);
        if (!symbol) return 0;
        context->symbol = symbol;
        context->callingSymbol = symbol;
        Bar *bar = SyncContextBar(context);
        int32_t count = 0;
        Bar *bars = GetBarArray(symbol, context->barSize, &count);
        if (!bar && bars && count > 0 && bars[0].date > context->date) {
            /* The symbol starts later: its first bar is the nearest it has. */
            bar = &bars[0];
            context->barIndex = 0;
        }
        if (!bar) {
            FormatDefaultDate(context->date, dateText);
            ReportError("%s has no %s bar for %s", symbol->info.Symbol, kBarSizeWords[context->barSize], dateText);
            return 0;
        }
        if (bar->date > context->date) {
            MoveDebugDate(bar->date);
            context->date = bar->date;
        }
        context->barIndex = (int32_t)(bar - bars);
        context->lastBar = context->barIndex;
        context->currentBar = 0;
        context->priceScale = bar->split;
    }
    TestRecord *test = nullptr;
    if (selection && selection->testListed) {
        test = selection->test;
        if (!test && needTest) {
            ReportError("Plesae select the Test that you want to show stats for.");
            return 0;
        }
    }
    if (test) {
        int32_t row = 0;
        if (needStats && test->rowCount > 1)
            row = FindResultRowByDate(test, context->date, test->settings.BarSize2);
        if (needTest && (row < 0 || row >= test->rowCount || row >= test->rowsFilled)) {
            ReportError("Test %d has no stats for the selected date.", test->testNumber);
            return 0;
        }
        context->test = test;
        context->resultRow = row;
        int32_t strategy = selection->strategyIndex;
        if (strategy < 0 || strategy >= test->strategyCount) {
            if (needTest) {
                ReportError("Please select the Strategy from Test %d that you want to show stats for.",
                            test->testNumber);
                return 0;
            }
        } else {
            context->strategyIndex = strategy;
            context->strategy = strategy < gStrategyCount ? &gStrategies[strategy] : nullptr;
            if (needDate && position) FindDebugPosition(context, position);
        }
    }
    return 1;
}

TestRecord *FindTestByText(const char *text, int byNumber)
{
    ResultsWindow *window = FirstResultsWindow();
    if (!window || !text || !text[0]) return nullptr;
    int number = atoi(text);
    for (TestRecord *t = window->firstTest; t; t = t->next) {
        if (byNumber) {
            if (t->testNumber == number && text[0] >= '0' && text[0] <= '9') return t;
            continue;
        }
        char listed[TEST_NAME_SIZE + 16];
        FormatText(listed, sizeof listed, "%.4d:%s", t->testNumber, t->settings.TestName);
        if (CompareNoCase(listed, text) == 0 || CompareNoCase(t->settings.TestName, text) == 0) return t;
    }
    return nullptr;
}

int FindStrategyByName(const char *text, const TestRecord *test)
{
    if (!test || !text) return -1;
    for (int32_t s = 0; s < test->strategyCount; s++)
        if (CompareNoCase(test->strategies[s].name, text) == 0) return s;
    return -1;
}

/* ---- evaluation ---------------------------------------------------------------------- */

static char sFormulaText[sizeof gSettings.DebugFormula];

static int HasFormatHint(const char *text)
{
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') text++;
    return *text == '{';
}

int EvalDebugText(const char *text, const DebugSelection *selection, int32_t *errorOffset, int32_t *errorLength)
{
    CopyString(sFormulaText, sizeof sFormulaText, text, -1);
    int length = (int)strlen(sFormulaText);
    enum { SHOWN_VALUES = 10000 };
    std::vector<double> values(SHOWN_VALUES);
    int count = ExpandOptimizationRange(sFormulaText, length, nullptr, values.data(), SHOWN_VALUES);
    if (count < 0 || count == RANGE_TOO_MANY) {
        /* More values than a parameter may walk is no list to show either. */
        ReportError("Error in debug formula:\r\n\r\n%s",
                    count < 0 ? "parameter loops must be ascending" : "parameter loops have too many values");
        return DEBUG_EVAL_FAILED;
    }
    if (count > 0) {
        LogPrintf("%s", kDashes);
        LogPrintf("Optimization Loop: %s", sFormulaText);
        LogPrintf("\r\n%d Value%s:", count, count > 1 ? "s" : "");
        std::string line;
        for (int i = 0; i < count && i < SHOWN_VALUES; i++) {
            char number[64];
            FormatText(number, sizeof number, "%s %g", i ? "," : "", values[i]);
            line += number;
        }
        LogPrintf("%s", line.c_str());
        return DEBUG_EVAL_RANGE;
    }
    static FormulaColumn hint;
    ClearColumnHint(&hint);
    int hinted = HasFormatHint(sFormulaText);
    if (hinted) ParseFormatSpec(sFormulaText, length, &hint);
    ResetFormulaRecord(&gScratchFormula);
    gScratchFormula.scriptText = sFormulaText;
    gScratchFormula.start = 0;
    gScratchFormula.length = length;
    CopyString(gScratchFormula.name, sizeof gScratchFormula.name, "debug", -1);
    gScratchErrorLength = 0;
    if (!CompileFormula(&gScratchFormula, 0, 0)) {
        if (errorOffset) *errorOffset = gScratchErrorOffset;
        if (errorLength) *errorLength = gScratchErrorLength;
        return DEBUG_EVAL_NOT_COMPILED;
    }
    if (gScratchFormula.count <= 0) return DEBUG_EVAL_FAILED;
    EvalContext context;
    PositionRecord position;
    if (!CheckDebugContext(selection, &context, &position, 1, 0, 1)) return DEBUG_EVAL_FAILED;
    LogDebugHeader(context.date, context.symbol ? context.symbol->info.Symbol : "", &gScratchFormula);
    if (gSettings.DebugShowEval) {
        gDebugEvalOn = 1;
        LogPrintf("Evaluation:");
    }
    FormulaNode *nodes = gScratchFormula.nodes[0];
    double value = EvalFormula(nodes, &context);
    gDebugEvalOn = 0;
    char result[1100];
    if (nodes[0].textFlag)
        FormatText(result, sizeof result, "\"%s\"", nodes[0].text);
    else if (hinted)
        FormatNumber(value, hint.format, hint.decimals, (int32_t)hint.negativeParens, nullptr, result);
    else
        FormatDouble(value, DECIMALS_TRIMMED, 0, result);
    char trimmed[NUMBER_TEXT_SIZE * 4];
    FormatTrimmedNumber(value, trimmed);
    char kind[32] = "";
    uint32_t dataType = nodes[0].dataType;
    if (dataType > 0 && dataType < sizeof kValueKindNames / sizeof kValueKindNames[0])
        FormatText(kind, sizeof kind, " [%s]", kValueKindNames[dataType]);
    LogPrintf("\r\nResult:\t%s (%s)%s", result, trimmed, kind);
    return DEBUG_EVAL_DONE;
}

/* ---- tables -------------------------------------------------------------------------- */

static std::string Number(double value)
{
    char text[64];
    FormatText(text, sizeof text, "%g", UnsignedNaN(value));
    return text;
}

void BuildDebugDataTable(EvalContext *context, DebugTable *table)
{
    *table = DebugTable{};
    SymbolRecord *symbol = context->symbol;
    char dateText[DATE_TEXT_SIZE];
    FormatDefaultDate(context->date, dateText);
    char text[300];
    FormatText(text, sizeof text, "Data - %s - %d days back from %s", symbol->info.Symbol, gSettings.DebugBars,
               dateText);
    table->title = text;
    FormatText(text, sizeof text, "%s Data", symbol->info.Symbol);
    table->listName = text;
    table->columns = {"Date", "Open", "High", "Low", "Close", "Volume", "Split", "Extra"};
    FormulaItem *data = (FormulaItem *)gDataItems.items;
    FormulaItem *testData = (FormulaItem *)gTestDataItems.items;
    for (int32_t i = 0; i < gDataItems.count; i++) table->columns.push_back(data[i].formula.name);
    for (int32_t i = 0; i < gTestDataItems.count; i++)
        table->columns.push_back(std::string("*") + testData[i].formula.name);
    int32_t count = 0;
    Bar *bars = GetBarArray(symbol, context->barSize, &count);
    EvalContext at = *context;
    for (int32_t k = 0; k < gSettings.DebugBars && bars; k++) {
        int32_t b = context->barIndex - k;
        if (b < 0 || b >= count) break;
        const Bar &bar = bars[b];
        std::vector<std::string> row;
        FormatDefaultDate(bar.date, dateText);
        row.push_back(dateText);
        for (double v : {bar.open, bar.high, bar.low, bar.close, bar.volume, bar.split, bar.extra}) row.push_back(Number(v));
        at.date = bar.date;
        at.barIndex = b;
        at.lastBar = b;
        for (int32_t i = 0; i < gDataItems.count; i++) {
            double value;
            if (symbol->dataValues[0] && context->barSize == DataItemBarSize(&data[i]))
                value = GetSeriesValue(symbol, b, i);
            else
                value = EvalFormula(data[i].formula.nodes[0], &at);
            row.push_back(Number(value));
        }
        for (int32_t i = 0; i < gTestDataItems.count; i++) {
            double value;
            if (symbol->dataValues[1] && context->barSize == DataItemBarSize(&testData[i]))
                value = GetStrategySeriesValue(symbol, b, i);
            else
                value = EvalFormula(testData[i].formula.nodes[0], &at);
            row.push_back(Number(value));
        }
        table->rows.push_back(std::move(row));
    }
}

void BuildDebugStatsTable(EvalContext *context, DebugTable *table)
{
    *table = DebugTable{};
    TestRecord *test = context->test;
    int32_t s = context->strategyIndex;
    if (!test || s < 0 || s >= test->strategyCount) return;
    char text[300];
    FormatText(text, sizeof text, "Stats - Test %d (%s) - Strategy %s", test->testNumber, test->settings.TestName,
               test->strategies[s].name);
    table->title = text;
    FormatText(text, sizeof text, "%s Stats", test->strategies[s].name);
    table->listName = text;
    table->columns.push_back("Date");
    FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
    for (int32_t c = 0; c < gGraphsColumns.count; c++)
        if (columns[c].format != 0) table->columns.push_back(columns[c].heading);
    for (int32_t i = 0; i < test->stratDataItemCount; i++)
        table->columns.push_back(std::string("*") + (test->stratDataNames ? test->stratDataNames[i] : ""));
    uint32_t statRows[STATS_BUILT_IN];
    int statCount = 0;
    for (uint32_t r = ITEM_S_NUMBER; r < SCRIPT_ITEM_COUNT && statCount < STATS_BUILT_IN; r++) {
        if (gScriptItems[r].category != CAT_STRATEGY_STAT || !gScriptItems[r].name[0]) continue;
        statRows[statCount++] = r;
        table->columns.push_back(gScriptItems[r].name);
    }
    int32_t row = context->resultRow;
    int32_t shown = row + 1 < gSettings.DebugBars ? row + 1 : gSettings.DebugBars;
    EvalContext at = *context;
    for (int32_t k = 0; k < shown; k++) {
        int32_t r = row - k;
        const StatCell *cell = &test->cells[(int64_t)r * test->strategyCount + s];
        std::vector<std::string> cells;
        char dateText[DATE_TEXT_SIZE];
        FormatDefaultDate((int32_t)cell->date, dateText);
        cells.push_back(dateText);
        at.date = (int32_t)cell->date;
        at.resultRow = r;
        Bar *bar = nullptr;
        at.symbol = &gStore.calendar;
        at.barIndex = FindBarIndex(&gStore.calendar, at.barSize, at.date, PHASE_CLOSE, 0, &bar);
        at.lastBar = at.barIndex;
        char value[NUMBER_TEXT_SIZE * 4];
        for (int32_t c = 0; c < gGraphsColumns.count; c++) {
            FormulaColumn *column = &columns[c];
            if (column->format == 0) continue;
            value[0] = 0;
            if (column->isText) {
                EvalFormulaText(&column->formula, &at, value, sizeof value);
            } else {
                double v = 0;
                EvalFormulaSlot(&column->formula, &at, &v);
                FormatNumber(v, column->format, column->decimals, (int32_t)column->negativeParens, test->currency,
                             value);
            }
            cells.push_back(value);
        }
        for (int32_t i = 0; i < test->stratDataItemCount; i++) {
            int64_t at64 = ((int64_t)r * test->strategyCount + s) * test->stratDataItemCount + i;
            cells.push_back(test->stratDataValues && at64 < test->stratDataValueCount
                                ? Number(test->stratDataValues[at64])
                                : std::string());
        }
        for (int i = 0; i < statCount; i++) {
            FormulaNode nodes[2] = {};
            FindScriptItem(gScriptItems[statRows[i]].name, &nodes[0]);
            double v = EvalFormula(nodes, &at);
            FormatNumber(v, gScriptItems[statRows[i]].format, gScriptItems[statRows[i]].decimals, 0, test->currency,
                         value);
            cells.push_back(value);
        }
        table->rows.push_back(std::move(cells));
    }
}

/* ---- open positions ------------------------------------------------------------------ */

int HasOpenPositions()
{
    for (int32_t s = 0; s < gStrategyCount; s++)
        if (gStrategies[s].openCount > 0) return 1;
    return 0;
}

void LogOpenPositions()
{
    TestRecord *test = gCurrentTest;
    char dateText[DATE_TEXT_SIZE] = "";
    if (test) FormatDefaultDate(test->lastDate, dateText);
    LogPrintf("%s", kDashes);
    LogPrintf("positions open for %s run with end date %s", test ? test->settings.TestName : "", dateText);
    LogPrintf("%s", kDashes);
    int header = 0;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        const StrategyRecord *strategy = &gStrategies[s];
        for (int32_t p = 0; p < strategy->openCount; p++) {
            const PositionRecord *position = &strategy->openPositions[p];
            if (!header) {
                LogPrintf("Strategy\tSymbol\tDateIn\tTimeIn\tQtyIn\tPriceIn");
                header = 1;
            }
            char entry[DATE_TEXT_SIZE];
            FormatDefaultDate(position->entryDate, entry);
            int timing = position->entryTiming >= 0 && position->entryTiming < 4 ? position->entryTiming : 0;
            LogPrintf("%s\t%s\t%s\t%s\t%d\t%.2f", strategy->name, position->symbol ? position->symbol->info.Symbol : "",
                      entry, kEntryTimeNames[timing], (int)std::lround(position->quantity), position->entryPrice);
        }
    }
    if (!header) LogPrintf("no positions open");
    LogPrintf("%s", "");
}
