/* trade_rows.cpp -- a test's trades as rows of a cell list, with the
** Trades columns computed on worker threads. */
#include "views/trade_rows.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>

#include "records/test_records.h"
#include "engine/results_list.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "script/eval/value_access.h"
#include "services/services.h"

const char *const kTradeColumnNames[TRADE_FIXED_COLUMNS] = {
    "Trade",  "Strategy", "Symbol",  "Side",     "DateIn",   "TimeIn", "QtyIn",
    "PriceIn", "DateOut", "TimeOut", "QtyOut",   "PriceOut", "Reason",
};
static_assert(TRADE_COL_REASON + 1 == TRADE_FIXED_COLUMNS, "one name per fixed column");

std::atomic<int> gTradeListCancel;

static const char *const kTimingTexts[4] = {"n/a", "open", "intraday", "close"};

const char *GetTimingText(int32_t code)
{
    return code >= 0 && code < 4 ? kTimingTexts[code] : kTimingTexts[0];
}

static FormulaColumn *TradesColumn(int32_t k)
{
    return &((FormulaColumn *)gTradesColumns.items)[k];
}

int32_t InitTradeColumns(CellListWindow *list)
{
    int32_t shown = 0;
    for (int32_t k = 0; k < gTradesColumns.count; k++) shown += TradesColumn(k)->format != 0;
    const int32_t total = TRADE_FIXED_COLUMNS + shown;
    FreeMemory(&list->headings);
    FreeMemory(&list->names);
    FreeMemory(&list->valueColumns);
    list->valueColumnCount = 0;
    if (!AllocMemory(&list->headings, (uint64_t)total * LIST_CELL_TEXT_SIZE) ||
        !AllocMemory(&list->names, (uint64_t)total * LIST_CELL_TEXT_SIZE) ||
        !AllocMemory(&list->valueColumns, (uint64_t)(shown > 0 ? shown : 1) * sizeof(TradeValueColumn)))
        return 0;
    for (int32_t c = 0; c < TRADE_FIXED_COLUMNS; c++)
        CopyString(list->headings[c], LIST_CELL_TEXT_SIZE, kTradeColumnNames[c], -1);
    int32_t c = TRADE_FIXED_COLUMNS;
    for (int32_t k = 0; k < gTradesColumns.count; k++) {
        const FormulaColumn *column = TradesColumn(k);
        if (column->format == 0) continue;
        list->valueColumns[c - TRADE_FIXED_COLUMNS] = {column->format, column->decimals, (int32_t)column->negativeParens};
        CopyString(list->names[c], LIST_CELL_TEXT_SIZE, column->formula.name, -1);
        CopyString(list->headings[c++], LIST_CELL_TEXT_SIZE, column->heading, 79);
    }
    list->valueColumnCount = shown;
    list->columnCount = total;
    return total;
}

/* Functions whose value is made from their arguments alone. */
static bool IsPureFunction(uint32_t item)
{
    switch (item) {
    case ITEM_IN_LIST: case ITEM_IF: case ITEM_IN_SET: case ITEM_SWITCH: case ITEM_SELECT: case ITEM_IS_NAN:
    case ITEM_MAX: case ITEM_MIN: case ITEM_BOUND: case ITEM_RESCALE: case ITEM_ABS: case ITEM_SIGN:
    case ITEM_ROUND: case ITEM_SQR: case ITEM_LOG: case ITEM_EXP: case ITEM_COSINE: case ITEM_SINE:
    case ITEM_TANGENT: case ITEM_ARC_COS: case ITEM_ARC_SIN: case ITEM_ARC_TAN: case ITEM_COS_H: case ITEM_SIN_H:
    case ITEM_TAN_H: case ITEM_CDF: case ITEM_ICDF: case ITEM_LOGIT: case ITEM_NO_NAN: case ITEM_FIND:
    case ITEM_FORMAT: case ITEM_GET_FIELD: case ITEM_LEFT: case ITEM_LENGTH: case ITEM_MATCH: case ITEM_MID:
    case ITEM_REPLACE: case ITEM_RIGHT: case ITEM_TO_LOWER: case ITEM_TO_UPPER: case ITEM_TO_NUM: return true;
    default: return false;
    }
}

int TradesColumnNeedsData(const FormulaColumn *column)
{
    const FormulaNode *nodes = column->formula.count > 0 ? column->formula.nodes[0] : nullptr;
    for (int32_t n = 0; nodes && n < column->formula.count; n++) {
        const FormulaNode *node = &nodes[n];
        switch (node->category) {
        case CAT_CONSTANT:
        case CAT_TEXT:
        case CAT_PARAMETER:
        case CAT_OPEN:
        case CAT_CLOSE:
        case CAT_OPERATOR: break;
        /* Another Trades column's value is one of this row's, but whether
        ** that one needs the data is not followed: taken as needing it. */
        case CAT_TRADE_VALUE:
            if (node->item == ITEM_TRADES_COLUMN) return 1;
            break;
        case CAT_FUNCTION:
            if (!IsPureFunction(node->item)) return 1;
            break;
        default: return 1;
        }
    }
    return 0;
}

int32_t ListTradesColumnsNeedingData(char *out, int size)
{
    int32_t count = 0;
    int used = 0;
    out[0] = 0;
    for (int32_t k = 0; k < gTradesColumns.count; k++) {
        const FormulaColumn *column = TradesColumn(k);
        if ((column->format == 0 && !column->filter) || !TradesColumnNeedsData(column)) continue;
        const char *name = column->heading[0] ? column->heading : column->formula.name;
        used += FormatText(out + used, (size_t)(size - used), "%s%s", count ? ", " : "", name);
        if (used >= size) used = size - 1;
        count++;
    }
    return count;
}

int SetTradeContext(EvalContext *context, TestRecord *test, TradeRecord *trade)
{
    const int32_t slot = context->slot;
    memset(context, 0, sizeof *context);
    context->slot = slot;
    context->test = test;
    context->trade = trade;
    context->strategyIndex = trade->strategy;
    context->strategy = trade->strategy >= 0 && trade->strategy < gStrategyCount ? &gStrategies[trade->strategy] : nullptr;
    const bool knownStrategy = trade->strategy >= 0 && trade->strategy < test->strategyCount;
    context->barSize = knownStrategy ? test->strategies[trade->strategy].barSize : test->settings.BarSize2;
    if (context->barSize < 0 || context->barSize >= BAR_SIZE_COUNT) context->barSize = BAR_DAILY;
    context->date = trade->dateOut > trade->dateIn ? trade->dateOut : trade->dateIn;
    context->barPhase = PHASE_CLOSE;
    context->resultRow = FindResultRowByDate(test, context->date, 0);
    context->priceScale = 1.0;
    context->funBar = -1;
    context->dataItemIndex = -1;
    context->walkForwardInterval = -1;
    context->storedParameters = 1;
    const int number = FindSymbolIndex(trade->symbol);
    Bar *bar = nullptr;
    if (number > 0) {
        context->symbol = &gStore.symbols[number - 1];
        context->barIndex = FindBarIndex(context->symbol, context->barSize, context->date, PHASE_CLOSE, slot, &bar);
        if (context->barIndex >= 0) {
            context->lastBar = context->barIndex;
            return 1;
        }
    }
    context->symbol = &gStore.calendar;
    context->barIndex = FindBarIndex(context->symbol, context->barSize, context->date, PHASE_CLOSE, slot, &bar);
    context->lastBar = context->barIndex;
    return context->barIndex >= 0;
}

/* ---- cells ------------------------------------------------------------------------ */

static void SetCell(ListCell *cell, const char *text, double number, int32_t code)
{
    CopyString(cell->text, LIST_CELL_TEXT_SIZE, text, -1);
    cell->number = number;
    cell->formatCode = code;
}

/* The Reason column's sort value: the code, skip reasons after exit reasons.
** A code outside its table reads "n/a" and sorts with the exit table's "n/a". */
static double ReasonSortValue(const TradeRecord *t, bool skipped)
{
    const int32_t count = skipped ? SKIP_REASON_COUNT : EXIT_REASON_COUNT;
    if (t->reason < 0 || t->reason >= count) return 0;
    return skipped ? t->reason * 10.0 : t->reason;
}

static bool KnownStrategy(const TestRecord *test, const TradeRecord *t)
{
    return t->strategy >= 0 && t->strategy < test->strategyCount;
}

/* The sort number of a fixed cell: what its text shows, as a number. */
static double FixedCellNumber(const TradeRecord *t, int32_t column)
{
    const bool skipped = IsSkippedTrade(t);
    switch (column) {
    case TRADE_COL_TRADE: return t->number;
    case TRADE_COL_STRATEGY: return t->strategy;
    case TRADE_COL_SYMBOL: return 0;
    case TRADE_COL_SIDE: return (skipped ? 10 : 1) * (t->side > 0 ? 1 : t->side < 0 ? 2 : 3);
    case TRADE_COL_DATE_IN: return t->dateIn;
    case TRADE_COL_TIME_IN: return t->timeIn;
    case TRADE_COL_QTY_IN: return t->quantityIn;
    case TRADE_COL_PRICE_IN: return t->priceIn;
    case TRADE_COL_DATE_OUT: return t->dateOut;
    case TRADE_COL_TIME_OUT: return t->timeOut;
    case TRADE_COL_QTY_OUT: return t->quantityOut;
    case TRADE_COL_PRICE_OUT: return t->priceOut;
    default: return ReasonSortValue(t, skipped);
    }
}

/* The format code of each fixed column: Symbol sorts by its text. */
static const int32_t kFixedFormats[TRADE_FIXED_COLUMNS] = {
    DISPLAY_PLAIN, DISPLAY_PLAIN,  LIST_FORMAT_TEXT, DISPLAY_PLAIN,  DISPLAY_DATE,   DISPLAY_PLAIN, DISPLAY_NUMBER,
    DISPLAY_NUMBER, DISPLAY_DATE,  DISPLAY_PLAIN,    DISPLAY_NUMBER, DISPLAY_NUMBER, DISPLAY_PLAIN,
};

/* One fixed cell of a trade. */
static void FillFixedCell(const TestRecord *test, const TradeRecord *t, int32_t column, ListCell *cell)
{
    const bool skipped = IsSkippedTrade(t);
    char text[LIST_CELL_TEXT_SIZE] = "";
    switch (column) {
    case TRADE_COL_TRADE: FormatText(text, sizeof text, "%.5d", t->number); break;
    case TRADE_COL_STRATEGY:
        if (KnownStrategy(test, t)) CopyString(text, sizeof text, test->strategies[t->strategy].name, -1);
        break;
    case TRADE_COL_SYMBOL: CopyString(text, sizeof text, t->symbol, -1); break;
    case TRADE_COL_SIDE:
        FormatText(text, sizeof text, "%s%s", skipped ? "Skip " : t->quantityIn == 0 ? "Paper " : "",
                   t->side > 0 ? "Long" : t->side < 0 ? "Short" : "Trade");
        break;
    case TRADE_COL_DATE_IN: FormatDefaultDate(t->dateIn, text); break;
    case TRADE_COL_TIME_IN: CopyString(text, sizeof text, GetTimingText(t->timeIn), -1); break;
    case TRADE_COL_QTY_IN: FormatNumber(t->quantityIn, DISPLAY_NUMBER, DECIMALS_FEWEST, 0, nullptr, text); break;
    case TRADE_COL_PRICE_IN: FormatPrice(t->priceIn, t->roundingIn, text); break;
    case TRADE_COL_DATE_OUT:
        if (!skipped) FormatDefaultDate(t->dateOut, text);
        break;
    case TRADE_COL_TIME_OUT: CopyString(text, sizeof text, GetTimingText(t->timeOut), -1); break;
    case TRADE_COL_QTY_OUT:
        if (skipped)
            CopyString(text, sizeof text, "n/a", -1);
        else
            FormatNumber(t->quantityOut, DISPLAY_NUMBER, DECIMALS_FEWEST, 0, nullptr, text);
        break;
    case TRADE_COL_PRICE_OUT:
        if (skipped)
            CopyString(text, sizeof text, "n/a", -1);
        else
            FormatPrice(t->priceOut, t->roundingOut, text);
        break;
    default: CopyString(text, sizeof text, GetTradeReason(t->reasonText, t->reason, skipped), -1); break;
    }
    SetCell(cell, text, FixedCellNumber(t, column), kFixedFormats[column]);
}

void ReadTradeListCell(const CellListWindow *list, uint32_t stored, int32_t column, ListCell *out)
{
    memset(out, 0, sizeof *out);
    out->symbolIndex = -1;
    const TestRecord *test = list->test;
    const int32_t tradeIndex = list->rowTrades[stored];
    const TradeRecord *t = &test->trades[tradeIndex];
    if (column < TRADE_FIXED_COLUMNS) {
        FillFixedCell(test, t, column, out);
        if (column == TRADE_COL_TRADE) out->tradeIndex = tradeIndex;
        return;
    }
    const int32_t j = column - TRADE_FIXED_COLUMNS;
    const TradeValueColumn *shown = &list->valueColumns[j];
    const uint64_t at = (uint64_t)stored * (uint64_t)list->valueColumnCount + (uint64_t)j;
    const double value = list->tradeValues[at];
    out->negativeColour = shown->negativeParens ? 1 : 0;
    const uint32_t text = list->textAt ? list->textAt[at] : 0;
    if (text) {
        SetCell(out, list->texts + text - 1, value, LIST_FORMAT_TEXT);
        return;
    }
    char number[NUMBER_TEXT_SIZE];
    FormatNumber(value, shown->format, shown->decimals, shown->negativeParens, test->currency, number);
    SetCell(out, number, value, shown->format);
}

/* ---- sorting ----------------------------------------------------------------------- */

/* The format code, number and (text cells) text a stored row's cell sorts by. */
struct TradeCellKey {
    int32_t format;
    double number;
    const char *text; /* null: made on demand from the cell */
};

static TradeCellKey TradeCellKeyOf(const CellListWindow *list, uint32_t stored, int32_t column)
{
    const TradeRecord *t = &list->test->trades[list->rowTrades[stored]];
    if (column < TRADE_FIXED_COLUMNS)
        return {kFixedFormats[column], FixedCellNumber(t, column), column == TRADE_COL_SYMBOL ? t->symbol : nullptr};
    const int32_t j = column - TRADE_FIXED_COLUMNS;
    const uint64_t at = (uint64_t)stored * (uint64_t)list->valueColumnCount + (uint64_t)j;
    const uint32_t text = list->textAt ? list->textAt[at] : 0;
    if (text) return {LIST_FORMAT_TEXT, list->tradeValues[at], list->texts + text - 1};
    return {list->valueColumns[j].format, list->tradeValues[at], nullptr};
}

int CompareTradeListCells(const CellListWindow *list, uint32_t a, uint32_t b, int32_t column)
{
    const TradeCellKey x = TradeCellKeyOf(list, a, column), y = TradeCellKeyOf(list, b, column);
    if (x.format < LIST_FORMAT_TEXT) return CompareDouble(x.number, y.number);
    /* A text cell against a number: the number as the list shows it. */
    ListCell shown;
    const char *other = y.text;
    if (!other) {
        ReadTradeListCell(list, b, column, &shown);
        other = shown.text;
    }
    return CompareNoCase(x.text, other);
}

/* ---- one trade --------------------------------------------------------------------- */

struct TradeWorker {
    CellListWindow *list;
    int32_t index, stride;
    std::atomic<int> running;
    std::atomic<int> stop;
    double *values;                     /* tracked; one per Trades column */
    char (*texts)[LIST_CELL_TEXT_SIZE]; /* tracked; one per Trades column */
    int32_t *isText;                    /* tracked; one per Trades column */
};

/* Keeps a text result of the stored row's value column j; under the list's
** lock.  A text that cannot be kept leaves the cell its number. */
static void KeepTradeText(CellListWindow *list, uint32_t stored, int32_t j, const char *text)
{
    if (!list->textAt &&
        !AllocMemory(&list->textAt, (uint64_t)list->rowIndexCapacity * (uint64_t)list->valueColumnCount * sizeof(uint32_t)))
        return;
    const uint32_t length = (uint32_t)strlen(text) + 1;
    if (list->textsUsed + length > list->textsCapacity) {
        const uint64_t capacity = 2 * (uint64_t)list->textsUsed + length + 2;
        if (capacity > UINT32_MAX || !ReallocMemory(&list->texts, capacity)) return;
        list->textsCapacity = (uint32_t)capacity;
    }
    memcpy(list->texts + list->textsUsed, text, length);
    list->textAt[(uint64_t)stored * (uint64_t)list->valueColumnCount + (uint64_t)j] = list->textsUsed + 1;
    list->textsUsed += length;
}

/* 1 when the trade was listed or dropped by a filter, 0 when stopped. */
static int ComputeTradeRow(TradeWorker *w, int32_t tradeIndex)
{
    CellListWindow *list = w->list;
    TestRecord *test = list->test;
    TradeRecord *trade = &test->trades[tradeIndex];
    EvalContext context;
    context.slot = w->index;
    const int valid = SetTradeContext(&context, test, trade);
    for (int32_t k = 0; k < gTradesColumns.count; k++) {
        if (w->stop) return 0;
        FormulaColumn *column = TradesColumn(k);
        w->values[k] = 0;
        w->texts[k][0] = 0;
        w->isText[k] = 0;
        /* A column made of the trade's own values has them without the
        ** data: a test loaded from its results file lists its profits. */
        if (valid || !TradesColumnNeedsData(column)) {
            context.itemName = column->heading;
            EvalFormulaSlot(&column->formula, &context, &w->values[k]);
            const FormulaNode *first = column->formula.count > 0 ? column->formula.nodes[w->index] : nullptr;
            if (first && first->textFlag) {
                CopyString(w->texts[k], LIST_CELL_TEXT_SIZE, first->text, -1);
                w->isText[k] = 1;
            }
        }
        if (column->filter && w->values[k] == 0 && !w->isText[k]) {
            std::lock_guard<std::mutex> hold(*list->lock);
            list->filtered = 1;
            return 1;
        }
    }
    if (w->stop) return 0;
    uint32_t stored;
    {
        std::lock_guard<std::mutex> hold(*list->lock);
        stored = (uint32_t)list->rowCount++;
        list->rowIndex[stored] = stored;
        list->rowTrades[stored] = tradeIndex;
    }
    double *values = &list->tradeValues[(uint64_t)stored * (uint64_t)list->valueColumnCount];
    int32_t j = 0;
    for (int32_t k = 0; k < gTradesColumns.count; k++) {
        if (TradesColumn(k)->format == 0) continue;
        values[j] = w->values[k];
        if (w->isText[k]) {
            std::lock_guard<std::mutex> hold(*list->lock);
            KeepTradeText(list, stored, j, w->texts[k]);
        }
        j++;
    }
    return 1;
}

static void TradeColumnThread(TradeWorker *w)
{
    const int32_t count = w->list->test->tradeCount;
    for (int32_t t = w->index; t < count && !w->stop; t += w->stride)
        if (!ComputeTradeRow(w, t)) break;
    w->running = 0;
}

/* ---- the list ---------------------------------------------------------------------- */

static bool StopWanted(TradeListUse use)
{
    return (use == TRADE_LIST_SHOWN && gRun.state == RUN_STOP_REQUESTED) || PlatEscapePressed();
}

int BuildTradeList(CellListWindow *list, int32_t workers, TradeListUse use)
{
    gTradeListCancel = 0;
    if (!list || !list->test || list->busy) return 0;
    TestRecord *test = list->test;
    /* The workers read the test's trades while the window answers. */
    TestHold hold;
    list->listKind = LIST_KIND_TRADES;
    if (!InitTradeColumns(list)) return 0;
    list->rowCount = 0;
    list->filtered = 0;
    list->incomplete = 0;
    const int32_t trades = test->trades ? test->tradeCount : 0;
    const uint64_t rows = trades > 0 ? (uint64_t)trades : 1;
    FreeMemory(&list->cells);
    FreeMemory(&list->textAt);
    FreeMemory(&list->texts);
    list->textsUsed = list->textsCapacity = 0;
    list->rowIndexCapacity = list->cellRowCapacity = 0;
    const uint64_t values = rows * (uint64_t)(list->valueColumnCount > 0 ? list->valueColumnCount : 1);
    if (!ReallocMemory(&list->rowIndex, rows * sizeof(uint32_t)) || !ReallocMemory(&list->rowTrades, rows * sizeof(int32_t)) ||
        !ReallocMemory(&list->tradeValues, values * sizeof(double)))
        return 0;
    list->rowIndexCapacity = list->cellRowCapacity = (int32_t)rows;

    const bool progress = trades > TRADE_LIST_PROGRESS_MIN && gTradesColumns.count > 0;
    if (progress) {
        char count[32];
        int length = FormatText(count, sizeof count, "%d", trades);
        InsertCommas(count, length, sizeof count);
        SetStatusText(0, "Calculating %d Column%s for %s Trades - Press ESC to Cancel", gTradesColumns.count,
                      gTradesColumns.count == 1 ? "" : "s", count);
        SetWaitCursor(1);
    }
    list->busy = 1;
    if (workers <= 0) workers = ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount());
    if (workers > TRADE_LIST_MAX_WORKERS) workers = TRADE_LIST_MAX_WORKERS;
    if (workers > trades) workers = trades;
    std::mutex lock;
    list->lock = &lock;
    /* Each computation has workers of its own: a list refreshed while
    ** another one is being computed must not share them. */
    std::unique_ptr<TradeWorker[]> pool(new TradeWorker[TRADE_LIST_MAX_WORKERS]);
    std::thread threads[TRADE_LIST_MAX_WORKERS];
    const int32_t columns = gTradesColumns.count > 0 ? gTradesColumns.count : 1;
    bool ready = true;
    for (int32_t k = 0; k < workers; k++) {
        TradeWorker *w = &pool[k];
        memset((void *)w, 0, sizeof *w);
        w->list = list;
        w->index = k;
        w->stride = workers;
        ready = ready && AllocMemory(&w->values, (uint64_t)columns * sizeof(double)) &&
            AllocMemory(&w->texts, (uint64_t)columns * LIST_CELL_TEXT_SIZE) &&
            AllocMemory(&w->isText, (uint64_t)columns * sizeof(int32_t));
    }
    for (int32_t k = 0; k < workers && ready; k++) {
        pool[k].running = 1;
        threads[k] = std::thread(TradeColumnThread, &pool[k]);
    }
    uint64_t shown = 0;
    for (;;) {
        PumpMessages();
        if (StopWanted(use)) {
            gTradeListCancel = 1;
            for (int32_t k = 0; k < workers; k++) pool[k].stop = 1;
        }
        int running = 0;
        for (int32_t k = 0; k < workers; k++) running += pool[k].running;
        if (!running) break;
        const uint64_t now = PlatTickCount64();
        if (progress && now - shown >= 100) {
            shown = now;
            char count[32];
            int length;
            {
                std::lock_guard<std::mutex> hold(lock);
                length = FormatText(count, sizeof count, "%d", list->rowCount);
            }
            InsertCommas(count, length, sizeof count);
            SetStatusText(1, "Trade %s", count);
        }
        PlatSleep(1);
    }
    for (int32_t k = 0; k < workers; k++) {
        if (threads[k].joinable()) threads[k].join();
        FreeMemory(&pool[k].values);
        FreeMemory(&pool[k].texts);
        FreeMemory(&pool[k].isText);
    }
    list->lock = nullptr;
    if (!ready) list->rowCount = 0;

    /* Rows come in the order the workers finished them; trade order first
    ** makes every later sort the same whatever the worker count. */
    std::sort(list->rowIndex, list->rowIndex + list->rowCount,
              [list](uint32_t a, uint32_t b) { return list->rowTrades[a] < list->rowTrades[b]; });
    char *sortText = SortListFor(SECTION_TRADES);
    SetListSort(list, sortText ? sortText : "");
    bool anyKey = false;
    for (int32_t c = 0; c < list->columnCount && c < LIST_MAX_SORT_COLUMNS; c++) anyKey = anyKey || list->sortPriorities[c];
    if (!anyKey) list->sortPriorities[TRADE_COL_TRADE] = 1;
    SortListRows(list);
    if (!anyKey) list->sortPriorities[TRADE_COL_TRADE] = 0;
    list->incomplete = gTradeListCancel;
    if (progress) {
        SetStatusText(0, nullptr);
        SetStatusText(1, nullptr);
        SetWaitCursor(0);
    }
    list->busy = 0;
    return ready && !list->incomplete;
}

/* Whether name is the item name of list column c: the whole name, or the
** name without its namespace, as the script's sort list may write it. */
static bool NamesColumn(const CellListWindow *list, int32_t c, const char *name)
{
    const char *item = list->names ? list->names[c] : "";
    if (!item[0]) return false;
    if (CompareNoCase(item, name) == 0) return true;
    const char *dot = strrchr(item, '.');
    return dot && !strchr(name, '.') && CompareNoCase(dot + 1, name) == 0;
}

void SetListSort(CellListWindow *list, const char *sortText)
{
    memset(list->sortPriorities, 0, sizeof list->sortPriorities);
    memset(list->sortDirections, 0, sizeof list->sortDirections);
    /* Names beyond the longest sort list the script accepts are ignored. */
    char text[SORT_SPEC_MAX + 1];
    CopyString(text, sizeof text, sortText ? sortText : "", SORT_SPEC_MAX);
    char *names[LIST_MAX_SORT_COLUMNS];
    int32_t count = 0;
    for (char *p = text; *p && count < LIST_MAX_SORT_COLUMNS;) {
        while (*p == ' ' || *p == '\t') p++;
        names[count++] = p;
        char *comma = strchr(p, ',');
        if (!comma) break;
        *comma = 0;
        p = comma + 1;
    }
    const int32_t limit = list->columnCount < LIST_MAX_SORT_COLUMNS ? list->columnCount : LIST_MAX_SORT_COLUMNS;
    for (int32_t c = 0; c < limit && list->headings; c++) {
        char heading[LIST_CELL_TEXT_SIZE];
        int32_t n = 0;
        for (const char *h = list->headings[c]; *h; h++)
            if (!isspace((unsigned char)*h)) heading[n++] = *h;
        heading[n] = 0;
        for (int32_t k = 0; k < count; k++) {
            char name[LIST_CELL_TEXT_SIZE];
            const char *from = names[k];
            int descending = 0;
            if (*from == '+' || *from == '-') descending = *from++ == '-';
            CopyString(name, sizeof name, from, -1);
            for (size_t e = strlen(name); e > 0 && isspace((unsigned char)name[e - 1]); e--) name[e - 1] = 0;
            if (CompareNoCase(heading, name) != 0 && CompareNoCase(list->headings[c], name) != 0 &&
                !NamesColumn(list, c, name))
                continue;
            list->sortPriorities[c] = (uint8_t)(k + 1);
            list->sortDirections[c] = (uint8_t)descending;
            break;
        }
    }
}

void FormatTradeListTitle(const CellListWindow *list, char *out, int size)
{
    char count[32];
    int length = FormatText(count, sizeof count, "%d", list->rowCount);
    InsertCommas(count, length, sizeof count);
    FormatText(out, (size_t)size, "Trade List - Test %d - %s Trade%s%s%s", list->test ? list->test->testNumber : 0,
               count, list->rowCount == 1 ? "" : "s", list->filtered ? " (filtered)" : "",
               list->incomplete ? " (incomplete)" : "");
}
