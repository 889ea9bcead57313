/* order_list.cpp -- the order list for the next trading day: exits of the
** open positions, futures rolls, entries from tomorrow's setups and the
** rebalancing basket, written as a text list and CSV files.  The simulated
** state is put back afterwards, and the files replace their previous
** versions only when the whole list was written. */
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/date_loop.h"
#include "engine/entry_pass.h"
#include "engine/exit_pass.h"
#include "engine/fills.h"
#include "engine/futures.h"
#include "engine/limits.h"
#include "engine/orders.h"
#include "engine/positions.h"
#include "engine/sizing.h"
#include "records/test_records.h"
#include "engine/trace.h"
#include "engine/trade_list.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/path_macros.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/data_cut.h"
#include "marketdata/store/derived_bars.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/script_state.h"
#include "script/compiler/settings_items.h"
#include "script/datacalc/strategy_data.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

/* What one strategy had before the generation, put back after it. */
struct SavedStrategy {
    PositionRecord *positions; /* tracked copy */
    int32_t openCount;
    int32_t setupCount;
    StatCell cell;
    int32_t hasCell;
    double freeCashOverride;
    double allocationOverride;
};

/* What one symbol's bars were before the generation cut them at the run's
** last date and gave them a provisional bar: put back afterwards. */
struct BarsAside {
    int32_t touched;
    int32_t lastDate;
    int32_t counts[BAR_SIZE_COUNT];
    int32_t at[BAR_SIZE_COUNT];   /* the first bar kept below */
    int32_t kept[BAR_SIZE_COUNT]; /* how many bars from it */
    Bar bars[BAR_SIZE_COUNT][2];
};

/* The state of one generation. */
struct OrderListRun {
    OrderFile *text;
    OrderFile *csv;
    OrderFile **strategyCsv; /* tracked, one per strategy or null */
    SavedStrategy *saved;    /* tracked, one per strategy */
    BarsAside *barsAside;    /* tracked, one per symbol (+ calendar last) */
    uint8_t *noOrders;       /* tracked, one per strategy */
    double *netLiq, *freeCash;
    int32_t *entries, *exits; /* lines written per strategy */
    int32_t *heldCounts;      /* tracked copy of the DynamicSizing lots booked */
    int32_t orderId;
    int32_t tradeCount, closedTradeCount;
    int failed;
};

static OrderListRun gOrderRun;
static int32_t sFailedOrderLists; /* CountFailedOrderLists */

int32_t CountFailedOrderLists() { return sFailedOrderLists; }

static const char *const kPeriodWords[BAR_SIZE_COUNT] = {"day", "week", "month", "quarter", "year"};

/* ---- the data as they stood, and provisional bars --------------------------------- */

/* The orders of a run that ends before its data do (an EndDate) are those of
** the data cut at its last date: the bars after it are set aside (here only
** counted out, CutSymbolBarsAt), and a longer bar's period that reaches past
** it is kept, to stand as it stood that day (RestatePeriodBars). */
static std::vector<DateListAside> sListsAside;
static int32_t sStoreLastDate; /* the store's last date while the lists are cut, else 0 */

void CutDateListsAt(int32_t lastDay)
{
    RestoreDateLists();
    if (gStore.lastDate <= lastDay) return;
    sStoreLastDate = gStore.lastDate;
    CutDateListsAfter(gStore.dateLists, lastDay, &sListsAside);
    for (int32_t s = 0; gStrategies && s < gStrategyCount; s++)
        if (gStrategies[s].hasOwnDateLists) CutDateListsAfter(gStrategies[s].dateLists, lastDay, &sListsAside);
    gStore.lastDate = lastDay;
}

void RestoreDateLists()
{
    if (sStoreLastDate == 0) return;
    PutBackDateLists(&sListsAside);
    gStore.lastDate = sStoreLastDate;
    sStoreLastDate = 0;
}

/* Gives every symbol whose data end before the order date a bar on it at its
** last close and in its split terms (each bar array has room for one more
** bar), after the data past the run's last date are set aside.  The bars of
** the longer sizes get it too, so that a weekly or monthly strategy finds the
** period it orders for as the next day's test does: a new period's first bar
** when the order date begins one, else the last period's bar reaching the
** order date. */
static void AddProvisionalBars(int32_t lastDay, int32_t orderDate)
{
    for (int32_t k = 0; k <= gStore.symbolCount; k++) {
        SymbolRecord *s = k < gStore.symbolCount ? &gStore.symbols[k] : &gStore.calendar;
        if (!s->bars[BAR_DAILY] || s->barCounts[BAR_DAILY] <= 0) continue;
        bool expired = s->info.DelistDate > 0 && s->securityType == SECURITY_FUTURES && s->info.DelistDate < orderDate;
        if (s->lastDate <= lastDay && (s->lastDate >= orderDate || expired)) continue;
        BarsAside *aside = &gOrderRun.barsAside[k];
        aside->touched = 1;
        aside->lastDate = s->lastDate;
        for (int size = BAR_DAILY; size < BAR_SIZE_COUNT; size++) aside->counts[size] = s->barCounts[size];
        bool cut = s->lastDate > lastDay;
        if (cut) CutSymbolBarsAt(s, lastDay);
        /* The two places the changes below may write: the last bar kept and the one after it. */
        for (int size = BAR_DAILY; size < BAR_SIZE_COUNT; size++) {
            int32_t at = s->barCounts[size] > 0 ? s->barCounts[size] - 1 : 0;
            aside->at[size] = at;
            aside->kept[size] = s->bars[size] ? std::min(2, aside->counts[size] + 1 - at) : 0;
            if (aside->kept[size] > 0)
                memcpy(aside->bars[size], &s->bars[size][at], (size_t)aside->kept[size] * sizeof(Bar));
        }
        if (cut) RestatePeriodBars(s);
        int32_t count = s->barCounts[BAR_DAILY];
        Bar *bars = s->bars[BAR_DAILY];
        if (count <= 0 || s->lastDate >= orderDate || expired) continue;
        const Bar &last = bars[count - 1];
        Bar *bar = &bars[count];
        *bar = Bar{};
        bar->date = orderDate;
        bar->open = bar->high = bar->low = bar->close = last.close;
        /* The last volume keeps the bar from counting as one that did not trade. */
        bar->volume = last.volume;
        bar->split = last.split != 0 ? last.split : 1.0;
        s->barCounts[BAR_DAILY] = count + 1;
        s->lastDate = orderDate;
        for (int size = BAR_WEEKLY; size < BAR_SIZE_COUNT; size++) {
            int32_t n = s->barCounts[size];
            Bar *period = s->bars[size];
            if (!period || n <= 0 || period[n - 1].date >= orderDate) continue;
            if (SameBarPeriod(period[n - 1].date, orderDate, size)) {
                period[n - 1].date = orderDate;
            } else {
                period[n] = *bar;
                s->barCounts[size] = n + 1;
            }
        }
    }
}

static void RemoveProvisionalBars()
{
    for (int32_t k = 0; gOrderRun.barsAside && k <= gStore.symbolCount; k++) {
        const BarsAside *aside = &gOrderRun.barsAside[k];
        if (!aside->touched) continue;
        SymbolRecord *s = k < gStore.symbolCount ? &gStore.symbols[k] : &gStore.calendar;
        s->lastDate = aside->lastDate;
        for (int size = BAR_DAILY; size < BAR_SIZE_COUNT; size++) {
            if (aside->kept[size] > 0)
                memcpy(&s->bars[size][aside->at[size]], aside->bars[size], (size_t)aside->kept[size] * sizeof(Bar));
            s->barCounts[size] = aside->counts[size];
        }
    }
}

/* ---- saving and restoring ------------------------------------------------------------ */

static int SaveSimulation(EvalContext *context)
{
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        SavedStrategy *saved = &gOrderRun.saved[s];
        saved->openCount = r->openCount;
        saved->setupCount = r->setupCount;
        if (r->openCount > 0) {
            if (!AllocMemory(&saved->positions, (uint64_t)r->openCount * sizeof(PositionRecord))) return 0;
            memcpy(saved->positions, r->openPositions, (size_t)r->openCount * sizeof(PositionRecord));
        }
        StatCell *cell = GetCurrentCell(context, s);
        if (cell) {
            saved->cell = *cell;
            saved->hasCell = 1;
        }
        StrategyAccount *account = GetStrategyAccount(s);
        if (account) {
            saved->freeCashOverride = account->freeCashOverride;
            saved->allocationOverride = account->allocationOverride;
        }
    }
    if (context->test) {
        gOrderRun.tradeCount = context->test->tradeCount;
        gOrderRun.closedTradeCount = context->test->closedTradeCount;
    }
    /* The list's entries and reductions book and close lots; the count of
    ** lots held goes back with the positions, or the run's last exits would
    ** take a restored lot for an addition and keep its place. */
    if (gPositionState.heldCounts) {
        const uint64_t bytes = (uint64_t)gPositionState.accountCount * (uint64_t)gPositionState.heldSymbolCount * sizeof(int32_t);
        if (!AllocMemory(&gOrderRun.heldCounts, bytes)) return 0;
        memcpy(gOrderRun.heldCounts, gPositionState.heldCounts, (size_t)bytes);
    }
    return 1;
}

static void RestoreSimulation(EvalContext *context)
{
    for (int32_t s = 0; gOrderRun.saved && s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        SavedStrategy *saved = &gOrderRun.saved[s];
        if (saved->openCount > 0 && saved->positions && saved->openCount <= r->openCapacity)
            memcpy(r->openPositions, saved->positions, (size_t)saved->openCount * sizeof(PositionRecord));
        r->openCount = saved->openCount <= r->openCapacity ? saved->openCount : 0;
        r->setupCount = 0;
        r->keptSetupCount = 0;
        StatCell *cell = GetCurrentCell(context, s);
        if (cell && saved->hasCell) *cell = saved->cell;
        StrategyAccount *account = GetStrategyAccount(s);
        if (account) {
            account->freeCashOverride = saved->freeCashOverride;
            account->allocationOverride = saved->allocationOverride;
        }
        FreeMemory(&saved->positions);
    }
    if (context->test && gOrderRun.tradeCount <= context->test->tradeCount) {
        context->test->tradeCount = gOrderRun.tradeCount;
        context->test->closedTradeCount = gOrderRun.closedTradeCount;
    }
    if (gOrderRun.heldCounts && gPositionState.heldCounts)
        memcpy(gPositionState.heldCounts, gOrderRun.heldCounts,
               (size_t)gPositionState.accountCount * (size_t)gPositionState.heldSymbolCount * sizeof(int32_t));
}

void KeepExitPricesForOrders()
{
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        for (int32_t k = 0; k < r->openCount; k++) {
            PositionRecord *p = &r->openPositions[k];
            p->dayPricesKept = p->entryBar >= 0;
            p->dayLimitPrice = p->limitPrice;
            p->dayStopPrice = p->stopPrice;
            p->dayLimitSplit = p->limitSplit;
            p->dayStopSplit = p->stopSplit;
        }
    }
}

/* Inside a longer bar size's period the orders stand on its last bar, and
** the next day's test works them out there again on each day of the period
** from the prices its positions held before the day: a position that stays
** keeps the prices its bar date set.  Data that end inside the period made
** the last day a bar of its own, whose check left the prices of the orders
** themselves, so PrevExitLimit and PrevExitStop read them as the day found
** them (a position entered later that day held none before it). */
static void TakeDayStartExitPrices(StrategyRecord *r)
{
    for (int32_t k = 0; k < r->openCount; k++) {
        PositionRecord *p = &r->openPositions[k];
        if (!p->dayPricesKept || p->entryBar < 0) continue;
        p->limitPrice = p->dayLimitPrice;
        p->stopPrice = p->dayStopPrice;
        p->limitSplit = p->dayLimitSplit;
        p->stopSplit = p->dayStopSplit;
    }
}

/* Data that end inside a period of a run of a longer bar size make that
** part-period a bar of its own, and the test fills its next-close entries at
** that bar's close.  The orders make no such bar: the account bought nothing
** at that close (a run on data that go on fills those entries at the
** period's close), so the positions stand aside while the list is written
** and come back with the rest of the simulation. */
static void SetAsidePartPeriodEntries(const EvalContext *context)
{
    if (gSettings.BarSize2 == BAR_DAILY || gSettings.BarSize2 >= BAR_SIZE_COUNT) return;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        if (r->EntryTime != TIME_NEXT_CLOSE || IsPeriodEnd(context->date, gSettings.BarSize2, r)) continue;
        bool any = false;
        for (int32_t k = 0; k < r->openCount; k++) {
            PositionRecord *p = &r->openPositions[k];
            if (p->entryBar < 0 || p->entryDate != context->date || p->entryTiming != PHASE_CLOSE) continue;
            p->entryBar = -1;
            p->exitBar = -1;
            any = true;
        }
        if (any) RemoveClosedPositions(s);
    }
}

/* ---- file names -------------------------------------------------------------------- */

int RefuseCutOrdersPath()
{
    if (!gOrdersPathTooLong[0]) return 0;
    ReportError("%s file path is too long -- maximum is 260 chars.", gOrdersPathTooLong);
    SetResultCode(RESULT_FILE_ERROR);
    return 1;
}

/* The script's file name without folder and extension. */
static void ScriptBaseName(char *out, int size)
{
    const char *path = gSettings.ActiveScript;
    const char *name = path;
    for (const char *c = path; *c; c++)
        if (*c == '\\' || *c == '/') name = c + 1;
    const char *dot = strrchr(name, '.');
    CopyString(out, size, name, dot ? (int)(dot - name) : -1);
}

/* Resolves name against the output folder into out (PATH_SIZE); 0 when too long. */
static int ResolveOrderPath(char *out, const char *name)
{
    if (PathTooLong(name)) return 0;
    CopyString(out, PATH_SIZE, name, -1);
    return ExpandPathMacros(out, gOutputFolder);
}

static bool CsvWanted()
{
    int32_t mode = gScriptSettings.OrdersMode;
    if (mode == ORDERS_REBALANCE || mode == ORDERS_SLATEWICK || mode == ORDERS_SLATEWICK_SYNC) return true;
    if (mode != ORDERS_TEMPLATE) return false;
    for (int32_t s = 0; s < gStrategyCount; s++)
        if (gStrategies[s].kind == STRATEGY_KIND_STRATEGY && !gStrategies[s].OrdersFile[0]) return true;
    return false;
}

/* One file of the order run, and what it is to the run in a refusal's words. */
struct RunFile {
    std::string path, what;
};

/* Every order file is claimed before any is written: one that is a file the
** run reads, or another output of the run (another list among them), is
** refused with nothing written.  0 after reporting. */
static int ClaimOrderFiles(const std::vector<RunFile> &outputs)
{
    for (const RunFile &out : outputs)
        if (!ClaimRunOutput(out.path.c_str(), ("the orders of " + out.what).c_str())) return 0;
    return 1;
}

/* Opens the text list, the global CSV and the strategies' own CSVs; 0 after reporting. */
static int OpenOrderFiles(int32_t orderDate)
{
    /* Room for more than a path's letters, so that a name made too long is
    ** refused as that rather than cut to another file's name. */
    char base[PATH_SIZE], textName[2 * PATH_SIZE] = "", csvName[2 * PATH_SIZE] = "";
    ScriptBaseName(base, sizeof base);
    bool csv = CsvWanted();
    int32_t mode = gScriptSettings.OrdersMode;
    if (!gScriptSettings.OrdersFile[0]) {
        char folder[PATH_SIZE + 8];
        FormatText(folder, sizeof folder, "%s\\Orders", gOutputFolder);
        PlatCreateFolder(folder);
        FormatText(textName, sizeof textName, "Orders\\%s_%d_orders.txt", base, (int)orderDate);
        /* Without a companion folder its CSV stays beside the text list, never in the root. */
        if (csv && (mode == ORDERS_REBALANCE || mode == ORDERS_TEMPLATE || !gScriptSettings.SlatewickFolder[0]))
            FormatText(csvName, sizeof csvName, "Orders\\%s_%d.csv", base, (int)orderDate);
        else if (csv)
            FormatText(csvName, sizeof csvName, "%s\\%s_%d_orders.csv", gScriptSettings.SlatewickFolder, base,
                       (int)orderDate);
    } else if (csv) {
        CopyString(csvName, sizeof csvName, gScriptSettings.OrdersFile, -1);
        CopyString(textName, sizeof textName, gScriptSettings.OrdersFile, -1);
        char *dot = strrchr(textName, '.');
        char *slash = strrchr(textName, '\\');
        if (dot && (!slash || dot > slash)) *dot = 0;
        size_t length = strlen(textName);
        FormatText(textName + length, sizeof textName - length, ".txt");
    } else {
        CopyString(textName, sizeof textName, gScriptSettings.OrdersFile, -1);
    }
    char textPath[PATH_SIZE], csvPath[PATH_SIZE];
    if (!ResolveOrderPath(textPath, textName)) {
        ReportError("Order List text file path is too long -- maximum is 260 chars.");
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (csvName[0] && !ResolveOrderPath(csvPath, csvName)) {
        ReportError("Order List CSV file path is too long -- maximum is 260 chars.");
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    std::vector<RunFile> outputs;
    const bool text = gSettings.ShowTextOrders || !csvName[0];
    if (text) outputs.push_back({textPath, "the list"});
    if (csvName[0]) outputs.push_back({csvPath, "the CSV list"});
    /* Each strategy's own CSV, by the paths resolved once here (a ?time?
    ** macro read twice could name two files). */
    std::vector<int32_t> owners;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        const StrategyRecord *r = &gStrategies[s];
        if (mode != ORDERS_TEMPLATE || !r->OrdersFile[0] || r->kind == STRATEGY_KIND_STATS_GROUP) continue;
        char path[PATH_SIZE];
        if (!ResolveOrderPath(path, r->OrdersFile)) {
            ReportError("Strategy orders file path is too long -- maximum is 260 chars.");
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
        outputs.push_back({path, std::string("strategy ") + r->name});
        owners.push_back(s);
    }
    if (!ClaimOrderFiles(outputs)) return 0;
    if (csvName[0]) {
        gOrderRun.csv = CreateOrderFile(csvPath);
        if (!gOrderRun.csv) {
            ReportError("Unable to create orders file %s", csvPath);
            return 0;
        }
        if (mode != ORDERS_REBALANCE && gOrdersTemplate.header[0])
            AddOrderLine(gOrderRun.csv, -1, ORDER_LINE_NOTE, "%s", gOrdersTemplate.header);
    }
    if (text) {
        gOrderRun.text = CreateOrderFile(textPath);
        if (!gOrderRun.text) {
            ReportError("Unable to create order list file %s", textPath);
            return 0;
        }
    }
    const size_t firstOwn = outputs.size() - owners.size();
    for (size_t k = 0; k < owners.size(); k++) {
        const int32_t s = owners[k];
        const char *path = outputs[firstOwn + k].path.c_str();
        gOrderRun.strategyCsv[s] = CreateOrderFile(path);
        if (!gOrderRun.strategyCsv[s]) {
            ReportError("Unable to create strategy orders file %s", path);
            return 0;
        }
        const OrderTemplate *t = OrdersTemplateFor(s);
        if (t->header[0]) AddOrderLine(gOrderRun.strategyCsv[s], -1, ORDER_LINE_NOTE, "%s", t->header);
    }
    return 1;
}

/* ---- sections ------------------------------------------------------------------------- */

static void Note(int32_t s, uint32_t kind, const char *format, const char *a, const char *b)
{
    if (gOrderRun.text) AddOrderLine(gOrderRun.text, s, kind, format, a, b);
}

/* The CSV that takes strategy s's rows, or none. */
static OrderFile *StrategyCsv(int32_t s)
{
    if (gOrderRun.strategyCsv && gOrderRun.strategyCsv[s]) return gOrderRun.strategyCsv[s];
    return gOrderRun.csv;
}

/* The list's warning that symbol left the strategy by "end of data". */
static void NoteEndOfDataExit(int32_t s, const char *symbol)
{
    Note(s, ORDER_LINE_NOTE, "\nWarning: according to the backtest %s had an end-of-data exit recently\n", symbol, "");
}

/* The date two bars of the strategy's bar size before its order date; trades
** that exited before it are not recent.  The bars are counted on the dates
** known on the run's last day (the lists end there while the orders are
** written, CutDateListsAt): a run with an EndDate warns as the data cut
** there do. */
static void WarnEndOfDataExits(EvalContext *context, int32_t s)
{
    TestRecord *test = context->test;
    StrategyRecord *r = &gStrategies[s];
    if (!test) return;
    int32_t recent = OffsetTradingDate(StrategyBarDates(r), r->orderDate, -2);
    for (int32_t k = test->tradeCount - 1; k >= 0; k--) {
        const TradeRecord *t = &test->trades[k];
        if (t->dateOut > 0 && t->dateOut < recent) break;
        if (t->strategy == s && t->reason == EXIT_END_OF_DATA) NoteEndOfDataExit(s, t->symbol);
    }
}

/* The symbol's data ended before the run's last day (lastDay), as the data
** cut there hold them: its last bar up to that day is an earlier one (the
** provisional bar of the order date comes after it). */
static bool DataEndedBefore(SymbolRecord *symbol, int32_t lastDay)
{
    const Bar *last = GetBarOnOrBefore(symbol, lastDay, BAR_DAILY);
    return last && last->date < lastDay;
}

/* ---- reconciling with the companion tool's positions ------------------------------ */

/* The companion tool's open positions of a strategy are the rows of its
** trades file (the strategy's trade list in the companion modes) that have
** no exit yet. */
static const TradeListRow *CompanionPosition(StrategyRecord *r, int32_t row, SymbolRecord **symbol)
{
    const TradeListRow *t = TradeListRowAt(r, row);
    if (!t || t->exitDate != 0 || t->quantityIn == 0) return nullptr;
    /* A row the replay left out (entered after the data end) keeps no symbol number. */
    int32_t number = t->symbolNumber != 0 ? t->symbolNumber : FindSymbolIndex(t->symbol);
    if (number <= 0 || number > gStore.symbolCount) return nullptr;
    *symbol = &gStore.symbols[number - 1];
    return t;
}

static bool CompanionHolds(StrategyRecord *r, const SymbolRecord *symbol)
{
    SymbolRecord *held = nullptr;
    for (int32_t k = 1; k <= r->tradeListRowCount; k++)
        if (CompanionPosition(r, k, &held) && held == symbol) return true;
    return false;
}

/* Strategies trade the companion tool's file in its modes; a file that could
** not be read (reported when the run started) reconciles nothing. */
static bool SyncsWithCompanion(const StrategyRecord *r)
{
    return gScriptSettings.OrdersMode == ORDERS_SLATEWICK_SYNC && r->kind == STRATEGY_KIND_STRATEGY &&
        r->tradeListRowCount >= 0;
}

/* Names the companion tool's open positions in symbols the data lack: no
** order reconciles them, and the account still holds them. */
static void NameCompanionStrangers()
{
    std::string names;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        if (!SyncsWithCompanion(r)) continue;
        for (int32_t k = 1; k <= r->tradeListRowCount; k++) {
            const TradeListRow *t = TradeListRowAt(r, k);
            SymbolRecord *symbol = nullptr;
            if (!t || t->exitDate != 0 || t->quantityIn == 0 || CompanionPosition(r, k, &symbol)) continue;
            char line[160];
            FormatText(line, sizeof line, "%s in strategy %s\r\n", t->symbol, r->name);
            names += line;
        }
    }
    if (!names.empty())
        ReportError("%s holds open positions in symbols the data do not have; no order is written for them:\r\n\r\n%s",
                    gSlatewickTradesPath, names.c_str());
}

static bool SimulationHolds(const StrategyRecord *r, const SymbolRecord *symbol)
{
    for (int32_t k = 0; k < r->openCount; k++)
        if (r->openPositions[k].symbol == symbol && r->openPositions[k].entryBar >= 0) return true;
    return false;
}

/* The exits of every companion position whose symbol the simulation does not
** hold: the position exists only in the account, so it is closed there.  The
** record stands for the account's position and never joins the simulation. */
static void WriteCompanionOnlyExits(EvalContext *context, int32_t s, const ExitOrderOutput *out)
{
    StrategyRecord *r = &gStrategies[s];
    ExitOrderOutput sync = *out;
    sync.sync = 1;
    for (int32_t k = 1; k <= r->tradeListRowCount; k++) {
        SymbolRecord *symbol = nullptr;
        const TradeListRow *t = CompanionPosition(r, k, &symbol);
        if (!t) continue;
        if (SimulationHolds(r, symbol)) continue;
        PositionRecord account{};
        account.symbol = symbol;
        account.strategyIndex = s;
        account.side = t->side != 0 ? t->side : r->Side < 0 ? -1 : 1;
        account.quantity = std::fabs(t->quantityIn);
        account.entryDate = t->entryDate;
        account.entryBar = 0;
        account.exitBar = -1;
        /* The row keeps the shares as they were bought: in the split terms of
        ** its entry day (of the first bar, for a position older than the
        ** data), so a split since then counts in the shares the order sells. */
        account.entrySplit = TradeListSplitOn(symbol, t->entryDate);
        account.entryPrice = account.orderPrice = t->priceIn;
        /* The account holds a symbol whose data ended (or that has no bar
        ** today) all the same: its exit is written from its last bar. */
        const int32_t date = context->date;
        const Bar *last = GetBarOnOrBefore(symbol, date, context->barSize);
        if (last) context->date = last->date;
        WriteExitOrders(context, &account, &sync);
        context->date = date;
        context->position = nullptr;
    }
}

/* Every simulated position of strategy s that the companion tool's list
** lacks is entered at market on the open (or at the market-as-limit price),
** with its exits as child orders. */
static void WriteCompanionMissingEntries(EvalContext *context, int32_t s)
{
    StrategyRecord *r = &gStrategies[s];
    Note(s, ORDER_LINE_ENTRY, "\n%s entry orders for SlatewickSync missing positions%s\n\n", r->name, "");
    OrderFile *csv = StrategyCsv(s);
    int32_t open = r->openCount;
    for (int32_t k = 0; k < open && k < r->openCount; k++) {
        PositionRecord *p = &r->openPositions[k];
        if (p->entryBar < 0 || CompanionHolds(r, p->symbol)) continue;
        context->symbol = p->symbol;
        context->position = p;
        const Bar *bar = GetOrderBar(context);
        if (!bar) continue;
        OrderInfo info;
        FillOrderInfo(context, bar, &info, 0);
        char qty[64], dollars[64], limit[ORDER_TEXT_SIZE] = "";
        /* The shares the position holds now, splits since its entry included;
        ** their worth at the last close is what the account buys back. */
        const double quantity = QuantityInBarTerms(p, bar);
        FormatTrimmedNumber(quantity, qty);
        double value = quantity * bar->close * (p->sizingFx != 0 ? p->sizingFx : 1.0) * p->symbol->info.PointValue;
        FormatNumber(value, DISPLAY_CURRENCY, 0, 0, "", dollars);
        EvalOrderTexts(context, &info);
        const char *type = "MKT", *priceWord = "market", *words = "on open";
        const char *tif = info.hasOpeningAuction ? "OPG" : info.allHours ? "GTC" : "DAY";
        if (info.mktAsLmtPrice[0]) {
            type = "LMT";
            priceWord = info.mktAsLmtWords;
            words = "";
            CopyString(limit, sizeof limit, info.mktAsLmtPrice, -1);
        }
        if (gOrderRun.text)
            AddOrderLine(gOrderRun.text, s, ORDER_LINE_ENTRY, "    %s %s (%g%%) [%s] %s %s %s %s%s %s\n",
                         p->side > 0 ? "buy" : "short", qty, p->fraction * 100, dollars, info.localSymbol, priceWord,
                         words, "", "", info.note);
        if (csv)
            WriteTemplateRow(csv, &info, ORDER_LINE_ENTRY, p->side > 0 ? "BUY" : "SELL", type, tif, "", "", "", qty,
                             value, p->fraction, limit, "", gOrderRun.orderId, 0, 0);
        ExitOrderOutput out{};
        out.text = gOrderRun.text;
        out.csv = csv;
        out.orderId = &gOrderRun.orderId;
        out.exitCount = &gOrderRun.exits[s];
        out.child = 1;
        out.group = 1;
        WriteExitOrders(context, p, &out);
        gOrderRun.orderId++;
    }
}

/* The exit section and the roll section of strategy s. */
static void WriteExitSection(EvalContext *context, int32_t s)
{
    StrategyRecord *r = &gStrategies[s];
    int32_t orderDate = r->orderDate;
    if (r->BarSize == BAR_DAILY && IsCalendarHoliday(orderDate, 0, s + 1)) {
        char day[DATE_TEXT_SIZE];
        FormatDate(orderDate, gSettings.DateDisplayFormat, day);
        Note(s, ORDER_LINE_NOTE, "\nno orders for %s because %s is on its holiday list\n", r->name, day);
        gOrderRun.noOrders[s] = 1;
        return;
    }
    /* Inside a period the next day's test decides no entries and no rule
    ** exits of a longer bar size (it does on the period's first day); its
    ** stops and targets fire on any day, so they stay. */
    bool inPeriod = r->BarSize != BAR_DAILY && r->BarSize < BAR_SIZE_COUNT && !IsPeriodEnd(context->date, r->BarSize, r);
    if (inPeriod)
        Note(s, ORDER_LINE_NOTE, "\nno entry or ExitRule orders for %s because the %s has not ended yet\n", r->name,
             kPeriodWords[r->BarSize]);
    WarnEndOfDataExits(context, s);
    if (r->DynamicSizing == 1) return;
    bool isStrategy = r->kind == STRATEGY_KIND_STRATEGY;
    const char *suffix = IsTradeListActive(s) ? "" : " -- change as needed to match actual positions";
    if (isStrategy) Note(s, ORDER_LINE_EXIT, "\n%s exit orders%s\n\n", r->name, suffix);
    ExitOrderOutput out{};
    out.text = isStrategy ? gOrderRun.text : nullptr;
    out.csv = gScriptSettings.OrdersMode == ORDERS_REBALANCE ? nullptr : StrategyCsv(s);
    out.orderId = &gOrderRun.orderId;
    out.exitCount = &gOrderRun.exits[s];
    out.group = 1;
    out.noRule = inPeriod;
    int32_t date = context->date, phase = context->barPhase;
    context->strategy = r;
    context->strategyIndex = s;
    context->barSize = r->BarSize;
    if (r->AllowMissingBar == 1 && !gScriptSettings.OrdersLiveData) {
        context->date = orderDate;
        context->barPhase = PHASE_OPEN;
    }
    out.periodBar = inPeriod;
    if (inPeriod) TakeDayStartExitPrices(r);
    bool sync = SyncsWithCompanion(r);
    if (sync) WriteCompanionOnlyExits(context, s, &out);
    int32_t open = r->openCount;
    /* What a partial target or stop left inside the period waits for the
    ** next period's orders: the next day's test checks none of it before. */
    const int32_t periodFirst = inPeriod ? GetPeriodFirstDate(date, 1, r->BarSize) : 0;
    for (int32_t k = 0; k < open && k < r->openCount; k++) {
        if (r->openPositions[k].entryBar < 0) continue;
        if (inPeriod && r->openPositions[k].periodExitDay >= periodFirst) continue;
        /* A longer bar's position in a symbol whose data ended inside the
        ** period leaves by "end of data" at the period's close, dated on its
        ** last bar: no order can fill on days it does not trade, and the
        ** list warns of the exit as it does once the exit is made. */
        if (inPeriod && DataEndedBefore(r->openPositions[k].symbol, date)) {
            bool named = false; /* once for the lots of one symbol */
            for (int32_t j = 0; j < k; j++)
                named = named || (r->openPositions[j].entryBar >= 0 && r->openPositions[j].symbol == r->openPositions[k].symbol);
            if (!named) NoteEndOfDataExit(s, r->openPositions[k].symbol->info.Symbol);
            continue;
        }
        /* A simulated position the account lacks gets its entry with the setups instead. */
        if (sync && !CompanionHolds(r, r->openPositions[k].symbol)) continue;
        WriteExitOrders(context, &r->openPositions[k], &out);
    }
    RemoveClosedPositions(s);

    if (r->tradesFutures) {
        if (isStrategy) Note(s, ORDER_LINE_ROLL, "\n%s roll orders%s\n\n", r->name, suffix);
        /* The rolls the next day's test makes at its open, from the
        ** contract change on the last bar. */
        OrderContext rolls{isStrategy ? gOrderRun.text : nullptr, s, 0};
        ProcessFuturesRolls(context, &rolls);
        if (rolls.lineCount == 0 && isStrategy) Note(s, ORDER_LINE_ROLL, "%s%s", "    (no roll orders)\n", "");
    }
    if (isStrategy) {
        bool hasRule = IsSlotGiven(&r->slots[SLOT_EXIT_RULE]);
        if (r->openCount > 0 && hasRule && r->ExitTime == TIME_THIS_CLOSE && !gScriptSettings.OrdersLiveData)
            Note(s, ORDER_LINE_EXIT, "%s%s", "    (unable to generate exit orders for tomorrow when ExitTime is ThisClose)\n",
                 "");
        else if (r->openCount > 0 && hasRule && r->ExitTime != TIME_THIS_CLOSE && gScriptSettings.OrdersLiveData)
            Note(s, ORDER_LINE_EXIT, "%s%s",
                 "    (unable to generate exit orders for tomorrow when the OrdersLiveData setting is True)\n", "");
        else if (gOrderRun.exits[s] == 0)
            Note(s, ORDER_LINE_EXIT, "%s%s", "    (no exit orders)\n", "");
    }
    context->date = date;
    context->barPhase = phase;
}

/* A setup for tomorrow from the entry formulas: its limit and stop are
** orders to place, never tested against a bar.  1 when a setup was made. */
static int EvalOrderSetup(EvalContext *context, PositionRecord *setup, const Bar *bar)
{
    StrategyRecord *r = context->strategy;
    if (r->DynamicSizing == 1) return EvalSetup(context, setup, bar);
    context->position = setup;
    int32_t signal = 0;
    if (!EvalFormulaInt(&r->slots[SLOT_ENTRY_SETUP], context, &signal) || signal == 0) return 0;
    FormulaSlot *category = &r->slots[SLOT_CATEGORY];
    if (IsSlotGiven(category) && !EvalFormulaText(category, context, setup->category, POSITION_TEXT_SIZE)) return 0;
    FormulaSlot *limitSlot = &r->slots[SLOT_ENTRY_LIMIT], *stopSlot = &r->slots[SLOT_ENTRY_STOP];
    double limit = 0, stop = 0;
    if (IsSlotGiven(limitSlot) && !EvalFormulaSlot(limitSlot, context, &limit)) return 0;
    if (IsSlotGiven(stopSlot) && !EvalFormulaSlot(stopSlot, context, &stop)) return 0;
    if (IsSlotGiven(limitSlot) && IsSlotGiven(stopSlot) && limit == 0 && stop == 0) return 0;
    if (limit != 0) limit = RoundToStep(limit, GetPriceRoundUnit(context, setup->symbol, bar, limit), 0);
    if (stop != 0) stop = RoundToStep(stop, GetPriceRoundUnit(context, setup->symbol, bar, stop), 0);
    if (r->Side != 0) {
        setup->side = r->Side;
    } else {
        /* Sizing takes the side from the quantity's sign and keeps the size. */
        if (!ComputePositionSize(context, 0)) return 0;
        if (setup->side == 0) setup->side = 1;
    }
    setup->limitPrice = limit;
    setup->stopPrice = stop;
    /* A stop-limit order is sized on its stop, the price it triggers at, as
    ** the test sizes it. */
    setup->orderPrice = setup->entryPrice = stop != 0 ? stop : limit != 0 ? limit
                                                                           : bar->close;
    setup->fillKind = limit != 0 ? FILL_LIMIT : stop != 0 ? FILL_STOP
                                                          : FILL_MARKET;
    setup->entryTiming = context->barPhase;
    int32_t skip = 0;
    FormulaSlot *skipSlot = &r->slots[SLOT_ENTRY_SKIP];
    if (IsSlotGiven(skipSlot) && EvalFormulaInt(skipSlot, context, &skip) && skip != 0) {
        setup->skipped = 1;
        setup->skipReason = SKIP_ENTRY_SKIP;
    }
    return AddEntryOrder(context, setup, bar, bar->split);
}

/* The exit orders that bring the held quantity of the context symbol to
** target, written before the simulation reduces the positions; quantities
** are in the split terms of bar, as the simulation's. */
static void WriteReductionOrders(EvalContext *context, int32_t s, const Bar *bar, double held, double target)
{
    StrategyRecord *r = &gStrategies[s];
    SymbolRecord *symbol = context->symbol;
    ExitOrderOutput out{};
    out.text = r->kind == STRATEGY_KIND_STRATEGY ? gOrderRun.text : nullptr;
    out.csv = gScriptSettings.OrdersMode == ORDERS_REBALANCE ? nullptr : StrategyCsv(s);
    out.orderId = &gOrderRun.orderId;
    out.exitCount = &gOrderRun.exits[s];
    for (int32_t k = r->openCount - 1; k >= 0 && held != target; k--) {
        PositionRecord *p = &r->openPositions[k];
        if (p->symbol != symbol || p->entryBar < 0 || p->side * (held - target) <= 0) continue;
        double part = 0, sold = 0;
        if (!AskReductionPart(p, bar, held, target, &part, &sold)) continue;
        double request = p->exitQuantityRequest;
        p->exitQuantityRequest = part;
        WriteExitOrders(context, p, &out);
        p->exitQuantityRequest = request;
        held -= p->side * sold;
        context->symbol = symbol;
    }
}

/* A dynamic-sizing setup: the difference between the target size and the
** quantity held becomes the order, reductions first. */
static void SizeDynamically(EvalContext *context, int32_t s, PositionRecord *setup, const Bar *bar)
{
    StrategyRecord *r = &gStrategies[s];
    SymbolRecord *symbol = context->symbol;
    int32_t setupIndex = (int32_t)(setup - r->setups);
    context->position = setup;
    if (!ComputePositionSize(context, 0)) return;
    double target = setup->side * setup->quantity, held = 0;
    for (int32_t k = 0; k < r->openCount; k++) {
        const PositionRecord *p = &r->openPositions[k];
        if (p->symbol == symbol && p->entryBar >= 0) held += p->side * QuantityInBarTerms(p, bar);
    }
    if ((held > 0 && target < held) || (held < 0 && target > held))
        WriteReductionOrders(context, s, bar, held, held * target > 0 ? target : 0);
    setup = TakeSizingDifference(context, setupIndex, target, &bar);
    if (!setup) return;
    setup->heldCount = held != 0; /* the order reads "(add to position)" */
    EvalSetup(context, setup, bar);
}

/* Tomorrow's setups of strategy s on the order date. */
static void MakeOrderSetups(EvalContext *context, int32_t s)
{
    StrategyRecord *r = &gStrategies[s];
    r->setupCount = 0;
    r->keptSetupCount = 0;
    if (gOrderRun.noOrders[s] || r->kind == STRATEGY_KIND_STATS_GROUP) return;
    if (gScriptSettings.OrdersLiveData && r->EntryTime != TIME_THIS_CLOSE) return;
    if (IsTradeListActive(s) && !IsSlotGiven(&r->slots[SLOT_ENTRY_SETUP]) &&
        !(r->DynamicSizing == 1 && IsSlotGiven(&r->slots[SLOT_QUANTITY])))
        return;
    int32_t date = context->date;
    context->strategy = r;
    context->strategyIndex = s;
    context->barSize = r->BarSize;
    if (r->BarSize != BAR_DAILY) {
        /* Tomorrow's test enters on a bar date of the strategy's size only:
        ** the end of a period, the data's first among them. */
        if (!IsPeriodEnd(date, r->BarSize, r) || FindDateIndex(StrategyBarDates(r), date, 0) < 0) return;
    }
    bool atClose = gScriptSettings.OrdersLiveData != 0;
    context->date = atClose ? date : r->orderDate;
    context->barPhase = atClose ? PHASE_CLOSE : PHASE_OPEN;
    context->signalDate = date;
    if (SyncsWithCompanion(r)) WriteCompanionMissingEntries(context, s);
    if (r->DynamicSizing == 1) {
        if (r->kind == STRATEGY_KIND_STRATEGY) Note(s, ORDER_LINE_ENTRY, "\n%s dynamic sizing orders%s\n\n", r->name, "");
        if (r->openCount >= 2) SortPositionRecords(r->openPositions, r->openCount, ComparePositionsForSizing);
    }
    for (int32_t k = 0; k < gStore.symbolCount; k++) {
        SymbolRecord *symbol = &gStore.symbols[k];
        if (symbol->info.DelistDate > 0 && symbol->securityType == SECURITY_FUTURES &&
            symbol->info.DelistDate <= r->orderDate)
            continue;
        context->symbol = symbol;
        context->position = nullptr;
        const Bar *bar = GetOrderBar(context);
        if (!bar) continue;
        if (!atClose && r->AllowMissingBar != 1) {
            int32_t count = 0;
            const Bar *bars = GetBarArray(symbol, context->barSize, &count);
            int32_t index = (int32_t)(bar - bars);
            if (index < 1 || bars[index - 1].date != date) continue;
        }
        if (symbol->securityType == SECURITY_FUTURES && !r->tradesFutures && IsContinuousFutures(symbol))
            r->tradesFutures = 1;
        PositionRecord *setup = AddSetup(r, s, symbol);
        if (!setup) {
            gOrderRun.failed = 1;
            break;
        }
        if (r->DynamicSizing == 1)
            SizeDynamically(context, s, setup, bar);
        else
            EvalOrderSetup(context, setup, bar);
    }
}

/* The words, type and time in force of an entry order (the setup's limit or
** stop, or at market). */
struct EntryForm {
    const char *type, *tif, *words;
    char gat[ORDER_TEXT_SIZE], gtd[ORDER_TEXT_SIZE];
};

static void ChooseEntryForm(EvalContext *context, const OrderInfo *info, bool priced, bool hasLimitOnly, int32_t date,
                            EntryForm *f)
{
    StrategyRecord *r = context->strategy;
    f->gat[0] = f->gtd[0] = 0;
    f->tif = info->allHours ? "GTC" : "DAY";
    f->words = "";
    bool daily = r->BarSize == BAR_DAILY;
    int32_t time = r->EntryTime;
    if (!priced) {
        f->type = "MKT";
        if (time == TIME_THIS_CLOSE) {
            f->words = "near close";
        } else if (time == TIME_NEXT_CLOSE) {
            if (info->hasMarketOnClose) {
                f->type = "MOC";
                if (daily && !info->allHours) {
                    f->words = "on close";
                } else {
                    f->words = "on close after";
                    FormatText(f->gat, sizeof f->gat, "%d %s", (int)date, info->lastMocTime);
                }
            } else {
                f->words = "good after";
                FormatText(f->gat, sizeof f->gat, "%d %s", (int)date, info->nearCloseTime);
            }
        } else {
            f->words = "on open";
            f->tif = info->hasOpeningAuction ? "OPG" : info->allHours ? "GTC"
                                                                      : "DAY";
        }
        return;
    }
    f->type = hasLimitOnly ? "LMT" : "STP";
    double exitLimit = 0;
    if (time == TIME_INTRADAY && r->ExitLimitTime == TIME_NEXT_CLOSE && IsSlotGiven(&r->slots[SLOT_EXIT_LIMIT]))
        EvalFormulaSlot(&r->slots[SLOT_EXIT_LIMIT], context, &exitLimit);
    if (time == TIME_INTRADAY && (exitLimit != 0 || IsExitRuleCertain(context))) {
        f->tif = "GTD";
        f->words = "good until";
        FormatText(f->gtd, sizeof f->gtd, "%d %s", (int)date, info->lastMocTime);
    } else if (time == TIME_NEXT_CLOSE) {
        f->words = "good after";
        FormatText(f->gat, sizeof f->gat, "%d %s", (int)date, info->nearCloseTime);
        if (hasLimitOnly && info->lateLocTime[0]) {
            FormatText(f->gat, sizeof f->gat, "%d %s", (int)date, info->lateLocTime);
            f->type = info->hasLimitOnClose ? "LOC" : "LMT";
            f->words = "on close good after";
        } else if (hasLimitOnly && info->hasLimitOnClose) {
            f->type = "LOC";
            f->words = "on close";
            f->gat[0] = 0;
        }
    } else if (info->allHours || !daily) {
        f->tif = "GTD";
        f->words = "good until";
        FormatText(f->gtd, sizeof f->gtd, "%d %s", (int)date, info->nearCloseTime);
    } else if (time == TIME_NEXT_OPEN && info->hasOpeningAuction && !r->hasEntryStop) {
        f->words = "on open";
        f->tif = "OPG";
    } else if (time == TIME_NEXT_OPEN) {
        f->tif = "GTD";
        f->words = "good until";
        FormatText(f->gtd, sizeof f->gtd, "%d %s", (int)date, info->lastOpenTime);
    } else {
        f->words = time >= 0 && time < 4 ? (time == TIME_THIS_CLOSE ? "near close" : "") : "";
    }
}

/* The entry section of strategy s from its selected setups. */
static void WriteEntrySection(EvalContext *context, int32_t s)
{
    StrategyRecord *r = &gStrategies[s];
    if (r->kind != STRATEGY_KIND_STRATEGY || gOrderRun.noOrders[s]) return;
    int32_t maxEntries = LIMIT_UNLIMITED_COUNT;
    StrategyAccount *account = GetStrategyAccount(s);
    if (account) maxEntries = account->limits.MaxEntries;
    if (maxEntries > 0 && maxEntries < LIMIT_UNLIMITED_COUNT) {
        char count[16];
        FormatText(count, sizeof count, "%d", (int)maxEntries);
        if (gOrderRun.text)
            AddOrderLine(gOrderRun.text, s, ORDER_LINE_ENTRY, "\n%s entry orders -- only the first %s fill%s\n\n",
                         r->name, count, maxEntries == 1 ? "" : "s");
    } else {
        Note(s, ORDER_LINE_ENTRY, "\n%s entry orders%s\n\n", r->name, "");
    }
    if (gScriptSettings.OrdersLiveData && r->EntryTime != TIME_THIS_CLOSE) {
        Note(s, ORDER_LINE_ENTRY, "%s%s",
             "    (unable to generate entry orders for tomorrow when the OrdersLiveData setting is True)\n", "");
        return;
    }
    if (!gScriptSettings.OrdersLiveData && r->EntryTime == TIME_THIS_CLOSE) {
        Note(s, ORDER_LINE_ENTRY, "%s%s",
             "    (unable to generate entry orders for tomorrow when EntryTime is ThisClose)\n", "");
        return;
    }
    if (r->setupCount == 0) {
        Note(s, ORDER_LINE_ENTRY, "%s%s", "    (no setups)\n", "");
        return;
    }
    OrderFile *csv = StrategyCsv(s);
    const OrderTemplate *t = OrdersTemplateFor(s);
    int32_t date = context->date, phase = context->barPhase;
    context->strategy = r;
    context->strategyIndex = s;
    context->barSize = r->BarSize;
    context->date = gScriptSettings.OrdersLiveData ? date : r->orderDate;
    context->barPhase = gScriptSettings.OrdersLiveData ? PHASE_CLOSE : PHASE_OPEN;
    /* A longer bar size's limit and stop entries stay good until the end of
    ** the period they are for: the test fills them on any day of it.  Its
    ** next-close entries fill at the close of the day the run's next bar
    ** opens on: the period's first day in a daily run, the period's last in
    ** a run of a longer bar size. */
    int32_t goodDate = r->orderDate;
    const bool longer = r->BarSize != BAR_DAILY && r->BarSize < BAR_SIZE_COUNT;
    if (longer && (r->EntryTime != TIME_NEXT_CLOSE || gSettings.BarSize2 != BAR_DAILY))
        goodDate = NextPeriodEnd(r, date);
    /* A longer bar's next-close entry in a daily run fills at the close of
    ** the period's first day, and the exit rule for the next close that the
    ** same bar decides takes it out at the close of the period's last day:
    ** no list inside the period orders that exit, so it goes with its entry. */
    const bool closeBracket = longer && gSettings.BarSize2 == BAR_DAILY && r->EntryTime == TIME_NEXT_CLOSE &&
        r->ExitTime == TIME_NEXT_CLOSE && IsSlotGiven(&r->slots[SLOT_EXIT_RULE]);
    /* Listed in the order the next day's test opens them, so that the first
    ** MaxEntries fills a trader takes are the test's. */
    SortPositionRecords(r->setups, r->setupCount, CompareSetupsForOpening);
    for (int32_t k = 0; k < r->setupCount; k++) {
        PositionRecord *setup = &r->setups[k];
        if (!setup->kept && !setup->skipped) continue;
        if (setup->skipped && !gSettings.KeepSkipped) continue;
        if (setup->quantity == 0) continue;
        context->symbol = setup->symbol;
        context->position = setup;
        const Bar *bar = GetOrderBar(context);
        if (!bar) continue;
        OrderInfo info;
        FillOrderInfo(context, bar, &info, 0);
        bool isLong = setup->side > 0;
        const char *action = isLong ? "buy" : r->DynamicSizing == 1 ? "sell"
                                                                    : "short";
        const char *csvAction = isLong ? "BUY" : "SELL";
        char qty[64], limit[64] = "", stop[64] = "", dollars[64];
        FormatTrimmedNumber(setup->quantity, qty);
        double unit = GetPriceRoundUnit(context, setup->symbol, bar, setup->limitPrice);
        if (setup->limitPrice != 0) FormatPrice(setup->limitPrice, unit, limit);
        if (setup->stopPrice != 0) FormatPrice(setup->stopPrice, unit, stop);
        FormatNumber(setup->value, DISPLAY_CURRENCY, 0, 0, "", dollars);
        double percent = setup->fraction * 100;
        EvalOrderTexts(context, &info);
        EntryForm f;
        bool priced = limit[0] || stop[0];
        ChooseEntryForm(context, &info, priced, limit[0] && !stop[0], goodDate, &f);
        OrderLine *line = gOrderRun.text ? NewOrderLine(gOrderRun.text, s, ORDER_LINE_ENTRY) : nullptr;
        if (setup->skipped) {
            if (line)
                AppendOrderText(line, "    SKIP %s %s (%g%%) [%s] %s %s %s -- %s\n", action, qty, percent, dollars,
                                info.localSymbol, priced ? (limit[0] ? limit : stop) : "market", f.words,
                                setup->skipReason < SKIP_REASON_COUNT ? kSkipReasonText[setup->skipReason] : "");
            continue;
        }
        if (limit[0] && stop[0]) {
            f.type = "STP LMT";
            if (line)
                AppendOrderText(line, "    %s %s (%g%%) [%s] %s %s stop %s limit %s %s %s %s\n", action, qty, percent,
                                dollars, info.localSymbol, stop, limit, f.words, f.gat, f.gtd, info.note);
        } else if (limit[0]) {
            if (line)
                AppendOrderText(line, "    %s %s (%g%%) [%s] %s %s limit %s %s %s %s\n", action, qty, percent, dollars,
                                info.localSymbol, limit, f.words, f.gat, f.gtd, info.note);
        } else if (stop[0]) {
            if (line)
                AppendOrderText(line, "    %s %s (%g%%) [%s] %s %s stop %s %s %s %s\n", action, qty, percent, dollars,
                                info.localSymbol, stop, f.words, f.gat, f.gtd, info.note);
        } else {
            const char *priceWord = "market";
            if (info.mktAsLmtPrice[0]) {
                priceWord = info.mktAsLmtWords;
                f.type = "LMT";
                f.words = "";
                CopyString(limit, sizeof limit, info.mktAsLmtPrice, -1);
            }
            const char *sizing = r->DynamicSizing != 1 ? "" : setup->heldCount > 0 ? " (add to position)"
                                                                                   : " (new position)";
            if (line)
                AppendOrderText(line, "    %s %s (%g%%) [%s] %s %s %s %s%s %s\n", action, qty, percent, dollars,
                                info.localSymbol, priceWord, f.words, f.gat, sizing, info.note);
        }
        gOrderRun.entries[s]++;
        int32_t id = gOrderRun.orderId;
        if (csv)
            WriteTemplateRow(csv, &info, ORDER_LINE_ENTRY, csvAction, f.type, f.tif, f.gtd, f.gat, "", qty,
                             setup->value, setup->fraction, limit, stop, id, 0,
                             maxEntries == LIMIT_UNLIMITED_COUNT ? 0 : maxEntries);
        if (!priced) {
            AddBasketWeight(info.localSymbol, setup->side * setup->fraction);
            context->position = setup;
            /* The child exits belong to the position just opened, never to one held before. */
            int32_t held = r->openCount;
            OpenPosition(context);
            bool atOpen = r->EntryTime == TIME_NEXT_OPEN || r->EntryTime == TIME_INTRADAY || info.allHours;
            if (t->hasIdAndParent && (atOpen || closeBracket) && r->openCount > held) {
                ExitOrderOutput out{};
                out.text = gOrderRun.text;
                out.csv = gScriptSettings.OrdersMode == ORDERS_REBALANCE ? nullptr : csv;
                out.orderId = &gOrderRun.orderId;
                out.exitCount = &gOrderRun.exits[s];
                out.child = 1;
                out.group = 1;
                WriteExitOrders(context, &r->openPositions[r->openCount - 1], &out);
            }
        }
        gOrderRun.orderId++;
    }
    if (gOrderRun.entries[s] == 0)
        Note(s, ORDER_LINE_ENTRY, "    (no%s orders)\n", r->DynamicSizing == 1 ? "" : " entry", "");
    context->date = date;
    context->barPhase = phase;
}

/* ---- the generation ------------------------------------------------------------------- */

static int AllocateRun()
{
    int32_t n = gStrategyCount > 0 ? gStrategyCount : 1;
    return AllocMemory(&gOrderRun.strategyCsv, (uint64_t)n * sizeof(OrderFile *)) &&
        AllocMemory(&gOrderRun.saved, (uint64_t)n * sizeof(SavedStrategy)) &&
        AllocMemory(&gOrderRun.barsAside, ((uint64_t)gStore.symbolCount + 1) * sizeof(BarsAside)) &&
        AllocMemory(&gOrderRun.noOrders, (uint64_t)n) && AllocMemory(&gOrderRun.netLiq, (uint64_t)n * sizeof(double)) &&
        AllocMemory(&gOrderRun.freeCash, (uint64_t)n * sizeof(double)) &&
        AllocMemory(&gOrderRun.entries, (uint64_t)n * sizeof(int32_t)) &&
        AllocMemory(&gOrderRun.exits, (uint64_t)n * sizeof(int32_t));
}

/* Closes one file and, when it was committed, shows it: a CSV as a table
** when asked and the CsvListView setting is on, else as text in a log window. */
static int CloseAndShow(OrderFile **file, int commit, bool asList)
{
    if (!*file) return 1;
    char path[PATH_SIZE];
    CopyString(path, sizeof path, (*file)->file.path, -1);
    int ok = CloseOrderFile(*file, commit);
    *file = nullptr;
    if (ok && commit) {
        if (asList && gSettings.CsvListView)
            OpenCsvAsList("Order List", path);
        else
            OpenLogFile(path);
    }
    return ok;
}

/* Closes every file: committed only when the whole list succeeded. */
static int CloseOrderFiles(int commit)
{
    int32_t mode = gScriptSettings.OrdersMode;
    int ok = 1;
    for (int32_t s = 0; gOrderRun.strategyCsv && s < gStrategyCount; s++)
        ok = CloseAndShow(&gOrderRun.strategyCsv[s], commit, mode == ORDERS_TEMPLATE) && ok;
    ok = CloseAndShow(&gOrderRun.csv, commit, mode >= ORDERS_TEMPLATE && mode <= ORDERS_SLATEWICK_SYNC) && ok;
    ok = CloseAndShow(&gOrderRun.text, commit, false) && ok;
    return ok;
}

static void FreeRun()
{
    FreeMemory(&gOrderRun.strategyCsv);
    FreeMemory(&gOrderRun.saved);
    FreeMemory(&gOrderRun.barsAside);
    FreeMemory(&gOrderRun.noOrders);
    FreeMemory(&gOrderRun.netLiq);
    FreeMemory(&gOrderRun.freeCash);
    FreeMemory(&gOrderRun.entries);
    FreeMemory(&gOrderRun.exits);
    FreeMemory(&gOrderRun.heldCounts);
    memset(&gOrderRun, 0, sizeof gOrderRun);
}

static bool StopRequested()
{
    PumpMessages();
    return gRun.state == RUN_STOP_REQUESTED;
}

/* The account values replace what the simulation has: a net liquidation
** amount becomes the allocation that sizes tomorrow's entries (less the open
** positions' mark-to-market value when the strategy keeps it out of its
** allocation), a free cash amount the cash the limits see. */
static void ApplyAccountValues(EvalContext *context)
{
    for (int32_t s = 0; s < gStrategyCount; s++) {
        const StrategyRecord *r = &gStrategies[s];
        StrategyAccount *account = GetStrategyAccount(s);
        if (gOrderRun.freeCash[s] != 0 && account) account->freeCashOverride = gOrderRun.freeCash[s];
        char money[64], m2m[64], suffix[96] = "";
        if (gOrderRun.netLiq[s] != 0) {
            StatCell *cell = GetCurrentCell(context, s);
            double allocation = gOrderRun.netLiq[s];
            if (r->MarkToMarket == 0 && cell) {
                allocation -= cell->markToMarket;
                FormatNumber(cell->markToMarket, DISPLAY_CURRENCY, 2, 0, "", m2m);
                FormatText(suffix, sizeof suffix, " (adjusted for %s M2M)", m2m);
            }
            if (cell) cell->allocation = allocation;
            /* Whatever row an entry is sized on (a longer strategy's is the
            ** one before its period began), the amount the user gave sizes it. */
            if (account) account->allocationOverride = allocation;
            FormatNumber(allocation, DISPLAY_CURRENCY, 2, 0, "", money);
            if (gSettings.AddLog)
                LogPrintf(">>> OrdersNetLiq changes allocation to %s%s for strategy '%s' <<<", money, suffix, r->name);
        }
        if (gOrderRun.freeCash[s] != 0 && gSettings.AddLog) {
            FormatNumber(gOrderRun.freeCash[s], DISPLAY_CURRENCY, 2, 0, "", money);
            LogPrintf(">>> OrdersFreeCash changes available cash to %s for strategy '%s' <<<", money, r->name);
        }
    }
}

/* Every step that writes; 0 when the list is not complete. */
static int WriteOrderList(EvalContext *context)
{
    int32_t mode = gScriptSettings.OrdersMode;
    /* A companion path the compile could not make whole is refused before
    ** anything is written (a strategy that reads the trades file refused it
    ** already). */
    if (RefuseCutOrdersPath()) return 0;
    /* 1. Templates. */
    if (!LoadOrdersTemplate(-1)) return 0;
    if (mode == ORDERS_TEMPLATE) {
        bool someWithout = false;
        for (int32_t s = 0; s < gStrategyCount; s++) {
            if (!LoadOrdersTemplate(s)) return 0;
            if (gStrategies[s].kind == STRATEGY_KIND_STRATEGY && !gStrategies[s].OrdersTemplate[0]) someWithout = true;
        }
        if (gOrdersTemplate.columnCount == 0 && someWithout) {
            ReportError("An OrdersTemplate path must be provided in Settings or in every Strategy");
            return 0;
        }
    }
    /* 2. Account values. */
    double netLiq = 0, freeCash = 0;
    if (!ReadAccountValueFile(gScriptSettings.OrdersNetLiq, &netLiq, 0)) return 0;
    if (!ReadAccountValueFile(gScriptSettings.OrdersFreeCash, &freeCash, 1)) return 0;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        gOrderRun.netLiq[s] = netLiq;
        gOrderRun.freeCash[s] = freeCash;
        if (r->kind == STRATEGY_KIND_BENCHMARK) continue;
        double own = 0;
        if (!ReadAccountValueFile(r->OrdersNetLiq, &own, 0)) return 0;
        if (own != 0) gOrderRun.netLiq[s] = own;
        if (!ReadAccountValueFile(r->OrdersFreeCash, &own, 1)) return 0;
        if (own != 0) gOrderRun.freeCash[s] = own;
    }
    /* 5. The log, and the strategy data of the date as the test computes
    ** them after each date's close: tomorrow's setups read them. */
    if (gSettings.AddLog) {
        LogPrintf("%s", "\n*** Generating Order List ***\n");
        LogPortfolioState(context);
    }
    if (!CalcStrategyItems(context) || !CalcStrategyAggregates(context)) return 0;
    /* 6., 7. Files and the list's heading. */
    if (!OpenOrderFiles(gRun.orderDate)) return 0;
    if (gOrderRun.text) {
        char day[DATE_TEXT_SIZE];
        FormatDate(gRun.orderDate, gSettings.DateDisplayFormat, day);
        AddOrderLine(gOrderRun.text, -1, ORDER_LINE_NOTE, "*** ORDERS TO PLACE BEFORE THE %s OF %s ***\n",
                     gScriptSettings.OrdersLiveData ? "CLOSE" : "OPEN", day);
        char comment[ORDER_LINE_SIZE] = "";
        if (IsSlotGiven(&gOrdersComment.formula) &&
            EvalFormulaText(&gOrdersComment.formula, context, comment, sizeof comment) && comment[0])
            AddOrderLine(gOrderRun.text, -1, ORDER_LINE_NOTE, "\n%s\n", comment);
    }
    /* 8. The basket of today's positions. */
    gBasketWeights.count = 0;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        const StrategyRecord *r = &gStrategies[s];
        if (r->kind != STRATEGY_KIND_STRATEGY) continue;
        for (int32_t k = 0; k < r->openCount; k++) {
            const PositionRecord *p = &r->openPositions[k];
            if (p->entryBar >= 0 && AddBasketWeight(p->symbol->info.Symbol, p->side * p->fraction) < 0) return 0;
        }
    }
    if (StopRequested()) return 0;
    if (mode == ORDERS_SLATEWICK_SYNC) NameCompanionStrangers();
    /* 9. Exits and rolls. */
    for (int32_t s = 0; s < gStrategyCount; s++) {
        if (gStrategies[s].kind == STRATEGY_KIND_STATS_GROUP) continue;
        WriteExitSection(context, s);
    }
    if (StopRequested()) return 0;
    /* 10. Allocations from the account values. */
    ApplyAccountValues(context);
    /* 11., 12. Strategy formulas, setups and their selection. */
    int32_t date = context->date, phase = context->barPhase;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        context->strategy = r;
        context->strategyIndex = s;
        context->barSize = r->BarSize;
        context->date = gScriptSettings.OrdersLiveData ? date : r->orderDate;
        context->barPhase = gScriptSettings.OrdersLiveData ? PHASE_CLOSE : PHASE_OPEN;
        EvalStrategyFormulas(context, context->barPhase);
        context->date = date;
        context->barPhase = phase;
        MakeOrderSetups(context, s);
        context->date = date;
        context->barPhase = phase;
        if (gOrderRun.failed) return 0;
    }
    context->date = gScriptSettings.OrdersLiveData ? date : gRun.orderDate;
    context->barPhase = gScriptSettings.OrdersLiveData ? PHASE_CLOSE : PHASE_OPEN;
    SelectSetups(context, STRATEGY_KIND_STRATEGY, -1);
    context->date = date;
    context->barPhase = phase;
    if (StopRequested()) return 0;
    /* 13. Entries. */
    for (int32_t s = 0; s < gStrategyCount; s++) WriteEntrySection(context, s);
    /* 14. The basket rows. */
    if (mode == ORDERS_REBALANCE && gOrderRun.csv) {
        for (int32_t k = 0; k < gBasketWeights.count; k++) {
            const BasketWeight *b = &gBasketWeights.rows[k];
            AddOrderLine(gOrderRun.csv, -1, ORDER_LINE_NOTE, "DES,%s,STK,SMART/AMEX,,,,,,%g\n", b->name,
                         RoundSignificant(b->amount * 100, 7));
        }
    }
    return !StopRequested();
}

void GenerateOrderList(EvalContext *context)
{
    if (gRun.mode != RUN_MODE_ORDERS || gScriptSettings.OrdersMode == ORDERS_SLATEWICK_STATS) return;
    FreeRun();
    EvalContext saved = *context;
    const int codeBefore = gRun.resultCode.load();
    gRun.generatingOrders = 1;
    gOrderRun.orderId = 1;
    int ok = AllocateRun() && SaveSimulation(context);
    if (ok) {
        SetAsidePartPeriodEntries(context);
        AddProvisionalBars(context->date, gRun.orderDate);
        ok = WriteOrderList(context);
    }
    ok = CloseOrderFiles(ok) && ok;
    RemoveProvisionalBars();
    RestoreSimulation(context);
    *context = saved;
    FreeRun();
    gRun.generatingOrders = 0;
    if (!ok) sFailedOrderLists++;
    /* Orders that were not written are a failed run, not a quiet success: a
    ** failure that set no code of its own (a file it could not read or
    ** write sets 3) ends the run with 8.  A stop is the stop's to tell. */
    if (!ok && gRun.state != RUN_STOP_REQUESTED && gRun.resultCode.load() == codeBefore) SetResultCode(RESULT_STOPPED);
}
