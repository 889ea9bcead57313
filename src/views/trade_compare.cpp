/* trade_compare.cpp -- pairing the trades of two trade lists. */
#include "views/trade_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "records/test_records.h"
#include "engine/results_list.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"

const char *const kCompareColumnNames[COMPARE_COLUMNS] = {
    "Date",
    "Symbol",
    "Strategy1",
    "DateIn1",
    "QtyIn1",
    "PriceIn1",
    "DateOut1",
    "QtyOut1",
    "PriceOut1",
    "Profit1",
    "PctGain1",
    "Strategy2",
    "DateIn2",
    "QtyIn2",
    "PriceIn2",
    "DateOut2",
    "QtyOut2",
    "PriceOut2",
    "Profit2",
    "PctGain2",
    "ProfitDiff",
    "PctGainDiff",
    "QtyDiff",
};
static_assert(CMP_COL_PCT_GAIN + COMPARE_SIDE_STRIDE == 19 && CMP_COL_QTY_DIFF + 1 == COMPARE_COLUMNS,
              "the side columns and the differences fill the row");

static const char kNotAccessible[] = "A selected test and/or strategy could not be accessed.";
static const char kNoTrades[] = "No trades found for Test %d %s.";
static const char kCancelled[] = "Comparison Cancelled";

double CompareTradeGain(const TradeRecord *trade, double profit)
{
    const double entryValue = trade->quantityIn * trade->priceIn * trade->pointValue * trade->fxIn;
    /* A trade with no entry value (a paper trade, a record without rates) has
    ** no percent gain, so no NaN reaches the sums and the filters. */
    if (entryValue == 0 || !std::isfinite(entryValue)) return 0;
    double gain = profit / entryValue;
    if (gSettings.UseAccountPct) gain *= trade->fraction;
    return std::isfinite(gain) ? gain : 0;
}

/* ---- cells ------------------------------------------------------------------------- */

static void TextCell(ListCell *cell, const char *text)
{
    CopyString(cell->text, LIST_CELL_TEXT_SIZE, text, -1);
    cell->number = 0;
    cell->formatCode = LIST_FORMAT_TEXT;
}

static void NumberCell(ListCell *cell, double value, int32_t code, const char *text)
{
    CopyString(cell->text, LIST_CELL_TEXT_SIZE, text, -1);
    cell->number = value;
    cell->formatCode = code;
}

static void DateCell(ListCell *cell, int32_t date)
{
    char text[DATE_TEXT_SIZE] = "";
    if (date) FormatDefaultDate(date, text);
    NumberCell(cell, date, DISPLAY_DATE, text);
}

static void MoneyCell(ListCell *cell, double value, const TestRecord *test)
{
    char text[NUMBER_TEXT_SIZE];
    FormatNumber(value, DISPLAY_CURRENCY, 2, 1, test ? test->currency : nullptr, text);
    NumberCell(cell, value, DISPLAY_CURRENCY, text);
}

static void PercentCell(ListCell *cell, double value)
{
    char text[NUMBER_TEXT_SIZE];
    FormatNumber(value, DISPLAY_PERCENT, 2, 0, nullptr, text);
    NumberCell(cell, value, DISPLAY_PERCENT, text);
}

static void DoubleCell(ListCell *cell, double value, int32_t decimals)
{
    char text[NUMBER_TEXT_SIZE];
    FormatDouble(value, decimals, 0, text);
    NumberCell(cell, value, DISPLAY_NUMBER, text);
}

void FormatCompareRow(CompareRow *row, int side)
{
    CompareSide *s = &row->side[side];
    const TradeRecord *t = s->trade;
    ListCell *cells = &row->cells[side * COMPARE_SIDE_STRIDE];
    if (!t) {
        s->profit = s->gain = 0;
        for (int32_t c = CMP_COL_STRATEGY; c <= CMP_COL_PCT_GAIN; c++)
            NumberCell(&cells[c], 0, c == CMP_COL_STRATEGY ? (int32_t)LIST_FORMAT_TEXT : (int32_t)DISPLAY_NUMBER, "");
    } else {
        s->profit = TradeNetProfit(t);
        s->gain = CompareTradeGain(t, s->profit);
        const bool known = t->strategy >= 0 && t->strategy < s->test->strategyCount;
        TextCell(&cells[CMP_COL_STRATEGY], known ? s->test->strategies[t->strategy].name : "");
        DateCell(&cells[CMP_COL_DATE_IN], t->dateIn);
        DoubleCell(&cells[CMP_COL_QTY_IN], t->quantityIn, DECIMALS_FEWEST);
        DoubleCell(&cells[CMP_COL_PRICE_IN], t->priceIn, DECIMALS_FEWEST_FROM_2);
        DateCell(&cells[CMP_COL_DATE_OUT], t->dateOut);
        DoubleCell(&cells[CMP_COL_QTY_OUT], t->quantityOut, DECIMALS_FEWEST);
        DoubleCell(&cells[CMP_COL_PRICE_OUT], t->priceOut, DECIMALS_FEWEST_FROM_2);
        MoneyCell(&cells[CMP_COL_PROFIT], s->profit, s->test);
        PercentCell(&cells[CMP_COL_PCT_GAIN], s->gain);
        TextCell(&row->cells[CMP_COL_SYMBOL], t->symbol);
    }
    const TradeRecord *a = row->side[0].trade, *b = row->side[1].trade;
    const int32_t date = a && b ? std::min(a->dateIn, b->dateIn) : a ? a->dateIn
        : b                                                          ? b->dateIn
                                                                     : 0;
    DateCell(&row->cells[CMP_COL_DATE], date);
}

/* The differences of a row, after both sides are formatted. */
static void FormatDifferences(CompareRow *row)
{
    MoneyCell(&row->cells[CMP_COL_PROFIT_DIFF], row->side[0].profit - row->side[1].profit, row->side[0].test);
    double gain = row->side[0].gain - row->side[1].gain;
    if (std::fabs(gain) < 0.001) gain = 0;
    PercentCell(&row->cells[CMP_COL_PCT_GAIN_DIFF], gain);
    const TradeRecord *a = row->side[0].trade, *b = row->side[1].trade;
    if (a && b)
        DoubleCell(&row->cells[CMP_COL_QTY_DIFF], a->quantityIn - b->quantityIn, DECIMALS_ABBREVIATED);
    else
        NumberCell(&row->cells[CMP_COL_QTY_DIFF], 0, DISPLAY_NUMBER, "");
}

/* ---- building ---------------------------------------------------------------------- */

struct RowArray {
    CompareRow *rows;
    int32_t count, capacity;
};

static CompareRow *AppendRow(RowArray *a)
{
    if (a->count == a->capacity) {
        if (!ReallocMemory(&a->rows, (uint64_t)(a->capacity + COMPARE_ROW_GROWTH) * sizeof(CompareRow))) return nullptr;
        a->capacity += COMPARE_ROW_GROWTH;
    }
    CompareRow *row = &a->rows[a->count++];
    memset((void *)row, 0, sizeof *row);
    return row;
}

static bool InStrategy(const TestRecord *test, const TradeRecord *t, int32_t strategy)
{
    return t->dateOut != 0 && (t->strategy == strategy || StrategyInGroup(test, t->strategy, strategy));
}

/* Progress every 100 steps; false when the user cancels (reported). */
static bool KeepGoing(int32_t done, int32_t total)
{
    if (done % 100 != 0) return true;
    PumpMessages();
    SetStatusText(1, "Trade %d of %d", done, total);
    if (gRun.state == RUN_STOP_REQUESTED || PlatEscapePressed()) {
        ReportError(kCancelled);
        return false;
    }
    return true;
}

static int CompareBySymbolDate(const CompareRow &x, const CompareRow &y)
{
    const TradeRecord *a = x.side[0].trade, *b = y.side[0].trade;
    int order = strcmp(a->symbol, b->symbol);
    if (order) return order;
    if (a->dateIn != b->dateIn) return a->dateIn < b->dateIn ? -1 : 1;
    if (a->dateOut != b->dateOut) return a->dateOut < b->dateOut ? -1 : 1;
    return a->strategy < b->strategy ? -1 : a->strategy > b->strategy;
}

static int32_t DaysApart(int32_t a, int32_t b)
{
    return std::abs(DaysBetween(a, b));
}

static int32_t SharedPrefix(const char *a, const char *b)
{
    int32_t n = 0;
    while (a[n] && b[n] && tolower((unsigned char)a[n]) == tolower((unsigned char)b[n])) n++;
    return n;
}

/* The row among the side-1 rows of the trade's symbol that the trade fits
** best, or -1.  Every row of the symbol is looked at, so a long trade that
** began early is never passed over. */
static int32_t FindMatchingTrade(const TestRecord *test2, const TradeRecord *t, int32_t hit, const CompareRow *rows,
                                 int32_t count)
{
    int32_t first = hit, last = hit;
    while (first > 0 && strcmp(rows[first - 1].side[0].trade->symbol, t->symbol) == 0) first--;
    while (last + 1 < count && strcmp(rows[last + 1].side[0].trade->symbol, t->symbol) == 0) last++;
    const char *name2 = t->strategy >= 0 && t->strategy < test2->strategyCount ? test2->strategies[t->strategy].name : "";
    const bool tradeLong = DaysBetween(t->dateIn, t->dateOut) > 1;
    int32_t best = -1, bestScore = 0;
    for (int32_t r = first; r <= last; r++) {
        const TradeRecord *c = rows[r].side[0].trade;
        if (c->dateIn > t->dateOut || c->dateOut < t->dateIn) continue;
        if (c->dateIn == t->dateOut && c->dateOut > t->dateOut && tradeLong) continue;
        if (c->dateOut == t->dateIn && t->dateOut > c->dateOut && DaysBetween(c->dateIn, c->dateOut) > 1) continue;
        if (gSettings.MatchDateIn && c->dateIn != t->dateIn) continue;
        if (gSettings.MatchDateOut && c->dateOut != t->dateOut) continue;
        const TestRecord *test1 = rows[r].side[0].test;
        const char *name1 = c->strategy >= 0 && c->strategy < test1->strategyCount ? test1->strategies[c->strategy].name : "";
        int32_t score;
        if (CompareNoCase(name1, name2) != 0) {
            if (gSettings.MatchStrategy) continue;
            score = SharedPrefix(name1, name2);
        } else if (c->dateIn == t->dateIn) {
            score = 100000 - DaysApart(c->dateOut, t->dateOut);
        } else {
            score = 50000 - DaysApart(c->dateIn, t->dateIn);
        }
        if (best < 0 || score > bestScore) {
            best = r;
            bestScore = score;
        }
    }
    return best;
}

/* Side-1 rows of the first list, sorted; false after a reported failure. */
static bool ReadListOne(RowArray *a, TestRecord *test, int32_t strategy)
{
    SetStatusText(0, "Reading Trade List 1...");
    for (int32_t k = 0; k < test->tradeCount; k++) {
        if (!KeepGoing(k + 1, test->tradeCount)) return false;
        TradeRecord *t = &test->trades[k];
        if (!InStrategy(test, t, strategy)) continue;
        CompareRow *row = AppendRow(a);
        if (!row) return false;
        row->side[0] = {test, t, 0, 0};
        row->side[1].test = nullptr;
    }
    if (a->count == 0) {
        ReportError(kNoTrades, test->testNumber, test->strategies[strategy].name);
        return false;
    }
    SetStatusText(0, "Sorting...");
    std::stable_sort(a->rows, a->rows + a->count,
                     [](const CompareRow &x, const CompareRow &y) { return CompareBySymbolDate(x, y) < 0; });
    return true;
}

static bool MatchListTwo(RowArray *a, TestRecord *test, int32_t strategy)
{
    SetStatusText(0, "Matching Trade List 2...");
    const int32_t sideOne = a->count;
    int32_t handled = 0;
    for (int32_t k = 0; k < test->tradeCount; k++) {
        if (!KeepGoing(k + 1, test->tradeCount)) return false;
        TradeRecord *t = &test->trades[k];
        if (!InStrategy(test, t, strategy)) continue;
        handled++;
        int32_t lo = 0, hi = sideOne - 1, hit = -1;
        while (lo <= hi && hit < 0) {
            const int32_t mid = lo + (hi - lo) / 2;
            const int order = strcmp(a->rows[mid].side[0].trade->symbol, t->symbol);
            if (order == 0)
                hit = mid;
            else if (order < 0)
                lo = mid + 1;
            else
                hi = mid - 1;
        }
        const int32_t match = hit >= 0 ? FindMatchingTrade(test, t, hit, a->rows, sideOne) : -1;
        TradeRecord *displaced = nullptr;
        if (match >= 0) {
            displaced = a->rows[match].side[1].trade;
            a->rows[match].side[1] = {test, t, 0, 0};
        }
        TradeRecord *alone = match < 0 ? t : displaced;
        if (alone) {
            CompareRow *row = AppendRow(a);
            if (!row) return false;
            row->side[1] = {test, alone, 0, 0};
        }
    }
    if (!handled) {
        ReportError(kNoTrades, test->testNumber, test->strategies[strategy].name);
        return false;
    }
    return true;
}

int BuildTradeComparison(CompareWindow *window, TestRecord *test1, int32_t strategy1, TestRecord *test2,
                         int32_t strategy2)
{
    if (!window || !test1 || !test2 || strategy1 < 0 || strategy1 >= test1->strategyCount || strategy2 < 0 ||
        strategy2 >= test2->strategyCount) {
        ReportError(kNotAccessible);
        return 0;
    }
    TestHold hold; /* the window answers every hundred trades */
    RowArray a = {};
    bool ok = ReadListOne(&a, test1, strategy1) && MatchListTwo(&a, test2, strategy2);
    SetStatusText(0, ok ? "Building List..." : nullptr);
    /* Rows are formatted and filtered before the window's record is touched,
    ** so a cancel here leaves the window with the rows it had. */
    int32_t kept = 0, differ = 0;
    double profitSum = 0, gainSum = 0, quantitySum = 0;
    for (int32_t r = 0; ok && r < a.count; r++) {
        if (!KeepGoing(r + 1, a.count)) {
            ok = false;
            break;
        }
        CompareRow *row = &a.rows[r];
        row->side[0].test = test1;
        row->side[1].test = test2;
        FormatCompareRow(row, 0);
        FormatCompareRow(row, 1);
        FormatDifferences(row);
        const double profitDiff = row->cells[CMP_COL_PROFIT_DIFF].number;
        const double gainDiff = row->cells[CMP_COL_PCT_GAIN_DIFF].number;
        const double quantityDiff = row->cells[CMP_COL_QTY_DIFF].number;
        const bool paired = row->side[0].trade && row->side[1].trade;
        if (std::fabs(gainDiff) * 100 < gSettings.MinPctDiff) continue;
        if (std::fabs(profitDiff) < gSettings.MinDlrDiff) continue;
        if (paired ? !gSettings.KeepMatches : !gSettings.KeepNonMatches) continue;
        if (kept != r) a.rows[kept] = *row;
        kept++;
        profitSum += profitDiff;
        gainSum += gainDiff;
        quantitySum += quantityDiff;
        if (profitDiff != 0 || quantityDiff != 0) differ++;
    }
    SetStatusText(1, nullptr);
    if (!ok) {
        FreeMemory(&a.rows);
        SetStatusText(0, nullptr);
        return 0;
    }
    FreeCompareWindowData(window);
    window->rows = a.rows;
    window->rowCount = kept;
    window->rowCapacity = a.capacity;
    window->test1 = test1;
    window->test2 = test2;
    window->strategy1 = strategy1;
    window->strategy2 = strategy2;
    const char *name1 = test1->strategies[strategy1].name, *name2 = test2->strategies[strategy2].name;
    FormatText(window->name, sizeof window->name, "Compare %s %s", name1, name2);
    char net[NUMBER_TEXT_SIZE];
    FormatNumber(profitSum, DISPLAY_CURRENCY, 2, 1, test1->currency, net);
    FormatText(window->title, sizeof window->title,
               "Compare - Test %d %s vs Test %d %s - %d of %d Differ - Net Difference %s / %.2f%% / %g Qty",
               test1->testNumber, name1, test2->testNumber, name2, differ, kept, net, 100 * gainSum, quantitySum);
    SetStatusText(0, nullptr);
    return 1;
}

/* ---- order and release --------------------------------------------------------------- */

static int CompareCells(const ListCell *x, const ListCell *y)
{
    if (x->formatCode >= LIST_FORMAT_TEXT) {
        const int order = strcmp(x->text, y->text);
        return order < 0 ? -1 : order > 0;
    }
    const bool nx = std::isnan(x->number), ny = std::isnan(y->number);
    if (nx || ny) return nx && ny ? 0 : nx ? -1
                                           : 1;
    return CompareDouble(x->number, y->number);
}

void SortComparisonRows(CompareWindow *window, CompareRow **follow, int32_t count)
{
    if (!window || window->rowCount < 2) return;
    /* The order is found on row numbers, so the rows themselves move once
    ** and every pointer into them can be carried along. */
    std::vector<int32_t> order((size_t)window->rowCount);
    for (int32_t i = 0; i < window->rowCount; i++) order[(size_t)i] = i;
    const CompareRow *rows = window->rows;
    std::stable_sort(order.begin(), order.end(), [window, rows](int32_t a, int32_t b) {
        const CompareRow &x = rows[a], &y = rows[b];
        for (int32_t priority = 1; priority <= COMPARE_COLUMNS; priority++) {
            int32_t column = -1;
            for (int32_t c = 0; c < COMPARE_COLUMNS && column < 0; c++)
                if (window->sortPriorities[c] == priority) column = c;
            if (column < 0) return false;
            int sign = CompareCells(&x.cells[column], &y.cells[column]);
            if (window->sortDirections[column]) sign = -sign;
            if (sign) return sign < 0;
        }
        return false;
    });
    std::vector<int32_t> moved((size_t)window->rowCount);
    for (int32_t i = 0; i < window->rowCount; i++) moved[(size_t)order[(size_t)i]] = i;
    /* Each cycle of the new order is walked once with one row held aside,
    ** so a long comparison needs no second copy of its rows. */
    std::vector<uint8_t> placed((size_t)window->rowCount);
    for (int32_t i = 0; i < window->rowCount; i++) {
        if (placed[(size_t)i]) continue;
        const CompareRow held = window->rows[i];
        int32_t j = i;
        for (;;) {
            placed[(size_t)j] = 1;
            const int32_t from = order[(size_t)j];
            if (from == i) {
                window->rows[j] = held;
                break;
            }
            window->rows[j] = window->rows[from];
            j = from;
        }
    }
    const uintptr_t first = (uintptr_t)window->rows, end = (uintptr_t)(window->rows + window->rowCount);
    for (int32_t k = 0; k < count; k++) {
        const uintptr_t at = (uintptr_t)follow[k];
        if (at >= first && at < end) follow[k] = &window->rows[moved[(at - first) / sizeof(CompareRow)]];
    }
}

void FreeCompareWindowData(CompareWindow *window)
{
    if (!window) return;
    FreeMemory(&window->rows);
    window->rowCount = window->rowCapacity = 0;
}
