/* results_rows.cpp -- the statistics and texts of the results list's rows. */
#include "views/results_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/optimizer.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/file_helpers.h"
#include "foundation/list_sort.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/script_state.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "services/services.h"

static FormulaColumn *ResultsColumn(int32_t k)
{
    return k >= 0 && k < gResultsColumns.count ? &((FormulaColumn *)gResultsColumns.items)[k] : nullptr;
}

/* The test's value store sized for every strategy x every Results column;
** a store of another shape starts again from zeros.  0 when it cannot grow. */
static int SizeValueStore(TestRecord *test)
{
    const int64_t want = (int64_t)test->strategyCount * gResultsColumns.count;
    if (want <= 0) return 0;
    if (test->resultsValues && test->resultsValueCount == want) return 1;
    double *values = nullptr;
    if (!AllocMemory(&values, (uint64_t)want * sizeof(double))) return 0;
    FreeMemory(&test->resultsValues);
    test->resultsValues = values;
    test->resultsValueCount = (int32_t)want;
    return 1;
}

static double *StoredValue(TestRecord *test, int32_t strategy, int32_t column)
{
    if (!test->resultsValues || test->strategyCount <= 0) return nullptr;
    const int64_t perStrategy = test->resultsValueCount / test->strategyCount;
    if (column < 0 || column >= perStrategy || strategy < 0 || strategy >= test->strategyCount) return nullptr;
    return &test->resultsValues[(int64_t)strategy * perStrategy + column];
}

double EvalTestStat(TestRecord *test, int32_t strategy, int32_t column, int evaluate)
{
    if (!test) return 0;
    if (strategy == RESULTS_OWN_STRATEGY) strategy = test->mainStrategy;
    if (!evaluate) {
        const double *stored = StoredValue(test, strategy, column);
        return stored ? *stored : 0;
    }
    FormulaColumn *formula = ResultsColumn(column);
    if (!formula || strategy < 0 || strategy >= test->strategyCount || !SizeValueStore(test)) return 0;

    EvalContext context;
    memset(&context, 0, sizeof context);
    context.test = test;
    context.symbol = &gStore.calendar;
    context.strategyIndex = strategy;
    context.strategy = strategy < gStrategyCount ? &gStrategies[strategy] : nullptr;
    context.barPhase = PHASE_CLOSE;
    context.barSize = test->settings.BarSize2;
    const int32_t rows = test->rowsFilled < test->rowCount ? test->rowsFilled : test->rowCount;
    context.resultRow = rows > 0 ? rows - 1 : -1;
    context.date = rows > 0 ? (int32_t)test->cells[(int64_t)(rows - 1) * test->strategyCount].date : test->lastDate;
    context.funBar = -1;
    context.dataItemIndex = -1;
    context.walkForwardInterval = -1;
    context.storedParameters = 1;
    Bar *bar = nullptr;
    context.barIndex = FindBarIndex(&gStore.calendar, context.barSize, context.date, PHASE_CLOSE, 0, &bar);
    context.lastBar = context.barIndex;

    /* Strategy references cache the number they resolved to; another test may
    ** number its strategies differently, so they are resolved again. */
    FormulaNode *nodes = formula->formula.nodes[0];
    for (int32_t n = 0; nodes && n < formula->formula.count; n++)
        if (nodes[n].item == ITEM_STRATEGY_REF) nodes[n].constant = UNRESOLVED_REF;

    double value = 0;
    EvalFormulaSlot(&formula->formula, &context, &value);
    if (!std::isfinite(value)) value = 0;
    *StoredValue(test, strategy, column) = value;
    return value;
}

int32_t CountShownResultsColumns()
{
    int32_t shown = 0;
    for (int32_t k = 0; k < gResultsColumns.count; k++)
        if (ResultsColumn(k)->format != 0) shown++;
    return shown;
}

int32_t CountResultsListColumns(const ResultsWindow *window)
{
    return RESULTS_FIXED_COLUMNS + CountShownResultsColumns() + (window ? window->columnCount : 0);
}

const char *ResultsColumnHeading(const ResultsWindow *window, int32_t column)
{
    static const char *const kFixed[RESULTS_FIXED_COLUMNS] = {"Test", "Name", "Dates"};
    if (column < 0) return "";
    if (column < RESULTS_FIXED_COLUMNS) return kFixed[column];
    column -= RESULTS_FIXED_COLUMNS;
    for (int32_t k = 0; k < gResultsColumns.count; k++)
        if (ResultsColumn(k)->format != 0 && column-- == 0) return ResultsColumn(k)->heading;
    return window && column < window->columnCount ? window->columns[column].name : "";
}

int ResultsRowFilled(const TestRecord *test)
{
    return test && test->resultsValues && test->strategyCount > 0 &&
        (int64_t)test->resultsValueCount == (int64_t)test->strategyCount * gResultsColumns.count;
}

/* The stored value of the shown-th shown Results column, with its column. */
static const FormulaColumn *ShownColumnValue(const TestRecord *test, int32_t shown, double *value)
{
    for (int32_t k = 0; k < gResultsColumns.count; k++) {
        const FormulaColumn *column = ResultsColumn(k);
        if (column->format == 0 || shown-- != 0) continue;
        *value = EvalTestStat((TestRecord *)test, RESULTS_OWN_STRATEGY, k, 0);
        return column;
    }
    return nullptr;
}

void ResultsCellText(const ResultsWindow *window, const TestRecord *test, int32_t column, char *out)
{
    out[0] = 0;
    if (!test || column < 0) return;
    if (column < RESULTS_FIXED_COLUMNS) {
        if (column == 0) {
            FormatText(out, RESULTS_CELL_SIZE, "%4.4d", test->testNumber);
        } else if (column == 1) {
            CopyString(out, RESULTS_CELL_SIZE, test->settings.TestName, 79);
        } else {
            char first[DATE_TEXT_SIZE], last[DATE_TEXT_SIZE];
            FormatDefaultDate(test->settings.FirstDate, first);
            FormatDefaultDate(test->settings.LastDate, last);
            /* Every list of tests shows this cell: a test a stop cut says so. */
            FormatText(out, RESULTS_CELL_SIZE, "%s - %s%s", first, last, TestWasStopped(test) ? " (stopped)" : "");
        }
        return;
    }
    double value = 0;
    const int32_t shown = CountShownResultsColumns();
    if (column < RESULTS_FIXED_COLUMNS + shown) {
        const FormulaColumn *formula = ShownColumnValue(test, column - RESULTS_FIXED_COLUMNS, &value);
        if (!formula) return;
        char text[NUMBER_TEXT_SIZE];
        FormatNumber(value, formula->format, formula->decimals, (int32_t)formula->negativeParens, test->currency, text);
        CopyString(out, RESULTS_CELL_SIZE, text, -1);
        return;
    }
    const int32_t j = column - RESULTS_FIXED_COLUMNS - shown;
    if (!window || j >= window->columnCount) return;
    for (int32_t p = 0; p < test->parameterCount; p++) {
        const ParamValue *parameter = &test->parameters[p];
        if (CompareNoCase(parameter->name, window->columns[j].name) != 0) continue;
        /* A walk-forward summary test stores its walked parameters as
        ** NaN: it ran no single value, so its cell stays empty. */
        if (!std::isnan(parameter->value)) FormatText(out, RESULTS_CELL_SIZE, "%g", parameter->value);
        return;
    }
}

void FillResultsRow(const ResultsWindow *window, TestRecord *test, char (*cells)[RESULTS_CELL_SIZE], int32_t count)
{
    for (int32_t c = 0; c < count; c++) cells[c][0] = 0;
    if (!test) return;
    int32_t listColumn = RESULTS_FIXED_COLUMNS;
    for (int32_t k = 0; k < gResultsColumns.count; k++) {
        double value = EvalTestStat(test, RESULTS_OWN_STRATEGY, k, 1);
        if (ResultsColumn(k)->format == 0) continue;
        if (listColumn == gSettings.OptScoreCol + RESULTS_FIXED_COLUMNS) gOptimizer.currentScore = value;
        listColumn++;
    }
    for (int32_t j = 0; window && j < window->columnCount; j++, listColumn++) {
        for (int32_t p = 0; p < test->parameterCount; p++) {
            ParamValue *parameter = &test->parameters[p];
            if (CompareNoCase(parameter->name, window->columns[j].name) != 0) continue;
            parameter->column = listColumn;
            break;
        }
    }
    for (int32_t c = 0; c < count; c++) ResultsCellText(window, test, c, cells[c]);
}

int SaveResultsListCsv(const ResultsWindow *window, const char *path)
{
    std::string text;
    auto addCell = [&text](int column, const char *cell) {
        char copy[260]; /* a heading may be longer than a cell */
        CopyString(copy, sizeof copy, cell, -1);
        int n = RemoveSeparators(copy, ',');
        if (column) text += ',';
        text.append(copy, (size_t)n);
    };
    const int32_t columns = CountResultsListColumns(window);
    for (int32_t c = 0; c < columns; c++) addCell(c, ResultsColumnHeading(window, c));
    text += "\r\n";
    std::vector<char[RESULTS_CELL_SIZE]> cells((size_t)columns);
    /* In the order the list shows, newest first. */
    for (TestRecord *test = window->lastTest; test; test = test->previous) {
        FillResultsRow(window, test, cells.data(), columns);
        for (int32_t c = 0; c < columns; c++) addCell(c, cells[(size_t)c]);
        text += "\r\n";
    }
    if (!SaveFile(path, text.data(), (uint32_t)text.size())) {
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return 1;
}

int32_t DeleteTestFromResults(ResultsWindow *window, TestRecord *test, int32_t *droppedColumns)
{
    if (!window || !test) return 0;
    if (test->previous)
        test->previous->next = test->next;
    else
        window->firstTest = test->next;
    if (test->next)
        test->next->previous = test->previous;
    else
        window->lastTest = test->previous;
    test->previous = test->next = nullptr;
    window->testCount--;
    if (gCurrentTest == test) gCurrentTest = nullptr;
    FreeTestRecord(window, test);
    window->modified = 1;

    const int32_t firstParameterColumn = RESULTS_FIXED_COLUMNS + CountShownResultsColumns();
    int32_t dropped = 0;
    for (int32_t j = window->columnCount - 1; j >= 0; j--) {
        bool used = false;
        for (TestRecord *t = window->firstTest; t && !used; t = t->next)
            for (int32_t p = 0; p < t->parameterCount && !used; p++)
                used = CompareNoCase(t->parameters[p].name, window->columns[j].name) == 0;
        if (used) continue;
        const int32_t listColumn = firstParameterColumn + j;
        if (droppedColumns) droppedColumns[dropped] = listColumn;
        dropped++;
        for (TestRecord *t = window->firstTest; t; t = t->next)
            for (int32_t p = 0; p < t->parameterCount; p++)
                if (t->parameters[p].column > listColumn) t->parameters[p].column--;
        memmove(&window->columns[j], &window->columns[j + 1], (size_t)(window->columnCount - j - 1) * sizeof(ParamValue));
        window->columnCount--;
    }
    return dropped;
}

/* ---- texts for the log ------------------------------------------------------------- */

void LogTestSettings(const TestRecord *test)
{
    if (!test) return;
    const TestSettingsCopy *s = &test->settings;
    char first[DATE_TEXT_SIZE], last[DATE_TEXT_SIZE], account[NUMBER_TEXT_SIZE];
    FormatDefaultDate(s->FirstDate, first);
    FormatDefaultDate(s->LastDate, last);
    FormatNumber(s->AccountSize, DISPLAY_CURRENCY, -1, 0, test->currency, account);
    const int32_t barSize = s->BarSize2 >= 0 && s->BarSize2 < BAR_SIZE_COUNT ? s->BarSize2 : BAR_DAILY;
    LogPrintf("\nTEST %d SETTINGS\n", test->testNumber);
    LogPrintf("Dates:\t%s - %s", first, last);
    LogPrintf("Name:\t%s", s->TestName);
    LogPrintf("Script:\t%s", TestScriptName(test));
    LogPrintf("Data File:\t%s", TestDataFileName(test));
    LogPrintf("Bar Size:\t%s", kBarSizeWords[barSize]);
    LogPrintf("Available Bars:\t%s", s->useAvailableBars ? "True" : "False");
    LogPrintf("Trades:\t%s%s%s", s->KeepTrades ? "Strategy " : "", s->KeepBench ? "Benchmark " : "",
              s->KeepSkipped ? "Skipped" : "");
    LogPrintf("Account Size:\t%s", account);
    if (test->currency[0]) LogPrintf("Currency:\t%s", test->currency);
    LogPrintf("%s", "");
}

int WriteUniqueSymbols(const TestRecord *test, const char *path)
{
    if (!test || test->tradeCount <= 0 || !test->trades) return 0;
    std::vector<std::string> symbols;
    for (int32_t k = 0; k < test->tradeCount; k++) {
        const char *symbol = test->trades[k].symbol;
        if (std::find(symbols.begin(), symbols.end(), symbol) == symbols.end()) symbols.emplace_back(symbol);
    }
    std::stable_sort(symbols.begin(), symbols.end(),
                     [](const std::string &a, const std::string &b) { return CompareNoCase(a.c_str(), b.c_str()) < 0; });
    char head[64];
    FormatText(head, sizeof head, "%d Unique Symbol%s\n\n", (int)symbols.size(), symbols.size() == 1 ? "" : "s");
    std::string text = head;
    for (const std::string &s : symbols) text += s + "\n";
    ReplaceFile file;
    memset(&file, 0, sizeof file);
    if (!BeginReplaceFile(&file, path, 0)) return 0;
    if (!WriteReplaceFile(&file, text.data(), (uint32_t)text.size()) || !CommitReplaceFile(&file)) {
        AbandonReplaceFile(&file);
        return 0;
    }
    return 1;
}

void ColumnScriptPath(uint32_t section, char *out)
{
    const DefinitionList *list = ColumnListFor(section);
    const FormulaColumn *first = list && list->count > 0 ? (const FormulaColumn *)list->items : nullptr;
    if (first && first->formula.path[0])
        CopyString(out, PATH_SIZE, first->formula.path, -1);
    else
        DefaultSectionScriptPath((int)section, out);
}
