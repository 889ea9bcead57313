/* trade_rows.cpp -- a test's trades as rows of a cell list, with the
** Trades columns computed on worker threads. */
#include "views/trade_rows.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <thread>

#include "records/test_records.h"
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
    if (!AllocMemory(&list->headings, (uint64_t)total * LIST_CELL_TEXT_SIZE) ||
        !AllocMemory(&list->names, (uint64_t)total * LIST_CELL_TEXT_SIZE))
        return 0;
    for (int32_t c = 0; c < TRADE_FIXED_COLUMNS; c++)
        CopyString(list->headings[c], LIST_CELL_TEXT_SIZE, kTradeColumnNames[c], -1);
    int32_t c = TRADE_FIXED_COLUMNS;
    for (int32_t k = 0; k < gTradesColumns.count; k++) {
        if (TradesColumn(k)->format == 0) continue;
        CopyString(list->names[c], LIST_CELL_TEXT_SIZE, TradesColumn(k)->formula.name, -1);
        CopyString(list->headings[c++], LIST_CELL_TEXT_SIZE, TradesColumn(k)->heading, 79);
    }
    list->columnCount = total;
    return total;
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

/* The fixed cells of a trade. */
static void FillFixedCells(const TestRecord *test, const TradeRecord *t, ListCell *cells)
{
    const bool skipped = IsSkippedTrade(t);
    const int32_t sideRank = t->side > 0 ? 1 : t->side < 0 ? 2 : 3;
    char text[LIST_CELL_TEXT_SIZE];
    FormatText(text, sizeof text, "%.5d", t->number);
    SetCell(&cells[TRADE_COL_TRADE], text, t->number, DISPLAY_PLAIN);
    const bool knownStrategy = t->strategy >= 0 && t->strategy < test->strategyCount;
    SetCell(&cells[TRADE_COL_STRATEGY], knownStrategy ? test->strategies[t->strategy].name : "", t->strategy, DISPLAY_PLAIN);
    SetCell(&cells[TRADE_COL_SYMBOL], t->symbol, 0, LIST_FORMAT_TEXT);
    FormatText(text, sizeof text, "%s%s", skipped ? "Skip " : t->quantityIn == 0 ? "Paper " : "",
               t->side > 0 ? "Long" : t->side < 0 ? "Short" : "Trade");
    SetCell(&cells[TRADE_COL_SIDE], text, (skipped ? 10 : 1) * sideRank, DISPLAY_PLAIN);
    char date[DATE_TEXT_SIZE];
    FormatDefaultDate(t->dateIn, date);
    SetCell(&cells[TRADE_COL_DATE_IN], date, t->dateIn, DISPLAY_DATE);
    SetCell(&cells[TRADE_COL_TIME_IN], GetTimingText(t->timeIn), t->timeIn, DISPLAY_PLAIN);
    FormatNumber(t->quantityIn, DISPLAY_NUMBER, DECIMALS_FEWEST, 0, nullptr, text);
    SetCell(&cells[TRADE_COL_QTY_IN], text, t->quantityIn, DISPLAY_NUMBER);
    FormatPrice(t->priceIn, t->roundingIn, text);
    SetCell(&cells[TRADE_COL_PRICE_IN], text, t->priceIn, DISPLAY_NUMBER);
    date[0] = 0;
    if (!skipped) FormatDefaultDate(t->dateOut, date);
    SetCell(&cells[TRADE_COL_DATE_OUT], date, t->dateOut, DISPLAY_DATE);
    SetCell(&cells[TRADE_COL_TIME_OUT], GetTimingText(t->timeOut), t->timeOut, DISPLAY_PLAIN);
    if (skipped) {
        SetCell(&cells[TRADE_COL_QTY_OUT], "n/a", t->quantityOut, DISPLAY_NUMBER);
        SetCell(&cells[TRADE_COL_PRICE_OUT], "n/a", t->priceOut, DISPLAY_NUMBER);
    } else {
        FormatNumber(t->quantityOut, DISPLAY_NUMBER, DECIMALS_FEWEST, 0, nullptr, text);
        SetCell(&cells[TRADE_COL_QTY_OUT], text, t->quantityOut, DISPLAY_NUMBER);
        FormatPrice(t->priceOut, t->roundingOut, text);
        SetCell(&cells[TRADE_COL_PRICE_OUT], text, t->priceOut, DISPLAY_NUMBER);
    }
    SetCell(&cells[TRADE_COL_REASON], GetTradeReason(t->reasonText, t->reason, skipped), ReasonSortValue(t, skipped),
            DISPLAY_PLAIN);
    for (int32_t c = 0; c < TRADE_FIXED_COLUMNS; c++) {
        cells[c].negativeColour = 0;
        cells[c].symbolIndex = -1;
        cells[c].date = 0;
        cells[c].tradeIndex = 0;
    }
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
        if (valid) {
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
    uint32_t first;
    {
        std::lock_guard<std::mutex> hold(*list->lock);
        first = (uint32_t)list->rowCount * (uint32_t)list->columnCount;
        list->rowIndex[list->rowCount++] = first;
    }
    ListCell *cells = &list->cells[first];
    FillFixedCells(test, trade, cells);
    cells[0].tradeIndex = tradeIndex;
    int32_t c = TRADE_FIXED_COLUMNS;
    for (int32_t k = 0; k < gTradesColumns.count; k++) {
        const FormulaColumn *column = TradesColumn(k);
        if (column->format == 0) continue;
        ListCell *cell = &cells[c++];
        cell->negativeColour = column->negativeParens ? 1 : 0;
        cell->symbolIndex = -1;
        cell->date = 0;
        cell->tradeIndex = 0;
        cell->number = w->values[k];
        if (w->isText[k]) {
            SetCell(cell, w->texts[k], w->values[k], LIST_FORMAT_TEXT);
        } else {
            char text[NUMBER_TEXT_SIZE];
            FormatNumber(w->values[k], column->format, column->decimals, (int32_t)column->negativeParens, test->currency,
                         text);
            SetCell(cell, text, w->values[k], column->format);
        }
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

static bool StopWanted()
{
    return gRun.state == RUN_STOP_REQUESTED || PlatEscapePressed();
}

int BuildTradeList(CellListWindow *list, int32_t workers)
{
    gTradeListCancel = 0;
    if (!list || !list->test || list->busy) return 0;
    TestRecord *test = list->test;
    if (!InitTradeColumns(list)) return 0;
    list->rowCount = 0;
    list->filtered = 0;
    list->incomplete = 0;
    const int32_t trades = test->trades ? test->tradeCount : 0;
    const uint64_t rows = trades > 0 ? (uint64_t)trades : 1;
    if (!ReallocMemory(&list->rowIndex, rows * sizeof(uint32_t)) ||
        !ReallocMemory(&list->cells, rows * (uint64_t)list->columnCount * sizeof(ListCell)))
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
        if (StopWanted()) {
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
              [list](uint32_t a, uint32_t b) { return list->cells[a].tradeIndex < list->cells[b].tradeIndex; });
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
