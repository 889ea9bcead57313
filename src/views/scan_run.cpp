/* scan_run.cpp -- the Scan columns evaluated for every symbol and date on
** worker threads, into a cell list or straight into a CSV file. */
#include "views/scan_run.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/list_sort.h"
#include "foundation/numbers.h"
#include "foundation/random.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/definitions.h"
#include "script/compiler/settings_items.h"
#include "script/datacalc/strategy_data.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"
#include "views/scan_charts.h"
#include "views/trade_rows.h"

CellListWindow *gScanTarget;

void (*gScanWindowFinisher)() = nullptr;
int gScanWindowGoesWithBatch = 0;

static const char kNeedsSaveAs[] = "ScanNoWindow requires SaveScanAs";
static const char kNoWindowNeedsSaveAs[] =
    "There is no scan window here: the scan is written to the file that SaveScanAs names, and SaveScanAs is empty";
static const char kWindowGoesNeedsSaveAs[] =
    "The scan window closes with this batch: the scan is kept only in the file that SaveScanAs names, and "
    "SaveScanAs is empty";
static const char kNoCharts[] = "This program draws no charts: no pictures of the scan's rows are saved to %s";
static const char kNoWindowNoCharts[] =
    "A scan without a window draws no charts: no pictures of its rows are saved to %s";

/* One worker's share of a scan. */
struct ScanWorker {
    CellListWindow *list;
    FormulaColumn *columns;
    int32_t columnCount;
    int32_t passCount;
    int32_t defaultColumns; /* Date and Symbol columns */
    int32_t firstIndex, dateCount;
    const DateList *dates;
    int32_t stride, index;
    std::atomic<int32_t> date;
    std::atomic<int> running;
    std::atomic<int> stop;
    char symbolName[40];
    ReplaceFile *file; /* direct output, one worker only */
    int32_t testContext; /* 1: each symbol is evaluated with the strategy that holds it */
    double *values;                     /* tracked; one per column, NaN when it has none */
    char (*texts)[LIST_CELL_TEXT_SIZE]; /* tracked; one per column, the text of a text result */
    uint8_t *isText;                    /* tracked; one per column, 1 for a text result */
    char *line;                         /* tracked; room for the longest row a file can get (RowRoom) */
};

/* The room of a written row: every cell's text at its longest, each letter
** a quote doubled, in quotes, with its comma, and the line end.  A row is
** never cut: the scan's file holds what its window would. */
static size_t RowRoom(int32_t columns) { return (size_t)(columns + 2) * (2 * LIST_CELL_TEXT_SIZE + 3) + 2; }

/* ---- the cell list ---------------------------------------------------------------- */

static int GrowList(CellListWindow *list)
{
    if (list->rowCount < list->cellRowCapacity && list->rowCount < list->rowIndexCapacity) return 1;
    int32_t rows = 2 * list->rowCount + 2;
    if (!ReallocMemory(&list->cells, (uint64_t)rows * (uint64_t)list->columnCount * sizeof(ListCell))) return 0;
    list->cellRowCapacity = rows;
    if (!ReallocMemory(&list->rowIndex, (uint64_t)rows * sizeof(uint32_t))) return 0;
    list->rowIndexCapacity = rows;
    return 1;
}

void FreeListWindow(CellListWindow *list)
{
    if (!list) return;
    FreeMemory(&list->cells);
    FreeMemory(&list->rowIndex);
    FreeMemory(&list->headings);
    FreeMemory(&list->names);
    FreeMemory(&list->rowTrades);
    FreeMemory(&list->tradeValues);
    FreeMemory(&list->textAt);
    FreeMemory(&list->texts);
    FreeMemory(&list->valueColumns);
    list->textsUsed = list->textsCapacity = 0;
    list->valueColumnCount = 0;
    list->rowCount = list->cellRowCapacity = list->rowIndexCapacity = 0;
}

const ListCell *GetListCell(const CellListWindow *list, int32_t row, int32_t column)
{
    if (!list || row < 0 || row >= list->rowCount || column < 0 || column >= list->columnCount) return nullptr;
    if (list->listKind == LIST_KIND_TRADES) {
        thread_local ListCell made;
        ReadTradeListCell(list, list->rowIndex[row], column, &made);
        return &made;
    }
    return &list->cells[list->rowIndex[row] + (uint32_t)column];
}

/* A scan's cells of one column compared: by number, or as texts. */
static int CompareScanCells(const CellListWindow *list, uint32_t a, uint32_t b, int32_t column)
{
    const ListCell *x = &list->cells[a + (uint32_t)column], *y = &list->cells[b + (uint32_t)column];
    return x->formatCode < LIST_FORMAT_TEXT ? CompareDouble(x->number, y->number) : CompareNoCase(x->text, y->text);
}

void SortListRows(CellListWindow *list)
{
    if (!list || list->rowCount < 2) return;
    /* The key columns in priority order, up to the first priority no column has. */
    const int32_t limit = list->columnCount < LIST_MAX_SORT_COLUMNS ? list->columnCount : LIST_MAX_SORT_COLUMNS;
    int32_t keys[LIST_MAX_SORT_COLUMNS];
    int32_t keyCount = 0;
    for (int32_t priority = 1; priority <= limit; priority++) {
        int32_t column = -1;
        for (int32_t c = 0; c < limit && column < 0; c++)
            if (list->sortPriorities[c] == priority) column = c;
        if (column < 0) break;
        keys[keyCount++] = column;
    }
    const auto compare = list->listKind == LIST_KIND_TRADES ? CompareTradeListCells : CompareScanCells;
    /* Equal rows keep the order they are shown in, so sorting by one column
    ** after another sorts by both. */
    const auto before = [&](uint32_t a, uint32_t b) {
        for (int32_t k = 0; k < keyCount; k++) {
            const int result = compare(list, a, b, keys[k]);
            if (result) return (list->sortDirections[keys[k]] ? -result : result) < 0;
        }
        return false;
    };
    /* Rows already in order (a list made in its sort order) stay as they
    ** are in one pass rather than a merge sort's. */
    if (std::is_sorted(list->rowIndex, list->rowIndex + list->rowCount, before)) return;
    std::stable_sort(list->rowIndex, list->rowIndex + list->rowCount, before);
}

static int WriteCellListCsv(const CellListWindow *list, ReplaceFile *file, int omitHeading)
{
    std::string text;
    auto addCell = [&text](int32_t column, const char *cell) {
        char copy[LIST_CELL_TEXT_SIZE];
        CopyString(copy, sizeof copy, cell, -1);
        int n = RemoveSeparators(copy, ',');
        if (column) text += ',';
        text.append(copy, (size_t)n);
    };
    const size_t piece = 1 << 16;
    auto flush = [&](size_t atLeast) {
        if (text.size() < atLeast) return 1;
        const int ok = WriteReplaceFile(file, text.data(), (uint32_t)text.size());
        text.clear();
        return ok;
    };
    if (!omitHeading) {
        for (int32_t c = 0; c < list->columnCount; c++) addCell(c, list->headings[c]);
        text += "\r\n";
    }
    for (int32_t row = 0; row < list->rowCount; row++) {
        /* A list of a few hundred thousand rows takes seconds to write: the
        ** window answers meanwhile.  The lists saved here are shown by no
        ** window (a run's own, or an export's), so nothing the messages do
        ** reaches their rows. */
        if (row > 0 && row % SAVE_PUMP_ROWS == 0) PumpMessages();
        for (int32_t c = 0; c < list->columnCount; c++) addCell(c, GetListCell(list, row, c)->text);
        text += "\r\n";
        if (!flush(piece)) return 0;
    }
    return flush(1);
}

/* The scan's SaveScanAs file, claimed in the run's record before it is
** opened; 0 after reporting. */
static int ClaimScanFile() { return ClaimRunOutput(gScriptSettings.SaveScanAs, "the SaveScanAs file"); }

int SaveCellListCsv(const CellListWindow *list, const char *path, int omitHeading, const char *createMessage)
{
    ReplaceFile file;
    if (!(createMessage ? BeginReplaceFileWithMessage(&file, path, 0, createMessage) : BeginReplaceFile(&file, path, 0)))
        return 0;
    if (!WriteCellListCsv(list, &file, omitHeading) || !CommitReplaceFile(&file)) {
        AbandonReplaceFile(&file);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return 1;
}

/* ---- rows ---------------------------------------------------------------------------- */

/* A numeric text for the file: grouping commas removed. */
static void WriteNumberField(char *line, size_t room, size_t *used, const char *text)
{
    for (const char *c = text; *c && *used + 1 < room; c++)
        if (*c != ',') line[(*used)++] = *c;
}

/* A text for the file: quoted, inner quotes doubled. */
static void WriteTextField(char *line, size_t room, size_t *used, const char *text)
{
    if (*used + 1 < room) line[(*used)++] = '"';
    for (const char *c = text; *c && *used + 2 < room; c++) {
        if (*c == '"') line[(*used)++] = '"';
        line[(*used)++] = *c;
    }
    if (*used + 1 < room) line[(*used)++] = '"';
}

static void FillCell(ListCell *cell, const FormulaColumn *column, double value, const char *text, int isText,
                     int32_t symbol, int32_t date)
{
    memset(cell, 0, sizeof *cell);
    cell->symbolIndex = symbol;
    cell->date = date;
    cell->negativeColour = column ? (int32_t)column->negativeParens : 0;
    if (!column || column->formula.count == 0) {
        cell->formatCode = LIST_FORMAT_TEXT;
        return;
    }
    if (isText) {
        cell->formatCode = LIST_FORMAT_TEXT;
        CopyString(cell->text, sizeof cell->text, text, -1);
        return;
    }
    cell->formatCode = column->format > 0 && column->format < LIST_FORMAT_TEXT ? column->format : 0;
    /* A value the formula does not have is NaN, which reads "n/a". */
    cell->number = value;
    FormatNumber(value, cell->formatCode, column->decimals, 1, "", cell->text);
}

/* Adds the worker's current results as a row; 0 when memory fails. */
static int AddScanRow(ScanWorker *w, int32_t date, int32_t symbol)
{
    CellListWindow *list = w->list;
    ListCell *cells = list->cells;
    if (!w->file) {
        if (!GrowList(list)) return 0;
        list->rowIndex[list->rowCount] = (uint32_t)(list->rowCount * list->columnCount);
        cells = &list->cells[(size_t)list->rowCount * (size_t)list->columnCount];
    }
    char *line = w->line;
    const size_t room = RowRoom(w->columnCount);
    size_t used = 0;
    int32_t c = 0;
    if (w->defaultColumns) {
        ListCell *d = &cells[c++], *s = &cells[c++];
        memset(d, 0, sizeof *d);
        memset(s, 0, sizeof *s);
        d->number = date;
        d->date = s->date = date;
        d->symbolIndex = s->symbolIndex = symbol;
        d->formatCode = 0;
        FormatDefaultDate(date, d->text);
        s->formatCode = LIST_FORMAT_TEXT;
        s->number = symbol;
        CopyString(s->text, sizeof s->text, gStore.symbols[symbol].info.Symbol, -1);
        used = (size_t)FormatText(line, room, "%s,%s", d->text, s->text);
    }
    for (int32_t k = 0; k < w->columnCount; k++) {
        const FormulaColumn *column = &w->columns[k];
        if (column->format == 0 || column->filter) continue;
        ListCell *cell = &cells[c++];
        FillCell(cell, column, w->values[k], w->texts[k], w->isText[k], symbol, date);
        if (used > 0 && used + 1 < room) line[used++] = ',';
        if (cell->formatCode == LIST_FORMAT_TEXT)
            WriteTextField(line, room, &used, cell->text);
        else
            WriteNumberField(line, room, &used, cell->text);
    }
    if (w->file) {
        line[used++] = '\n';
        return WriteReplaceFile(w->file, line, (uint32_t)used);
    }
    list->rowCount++;
    return 1;
}

/* Every symbol of the worker's share on the context's date. */
static void ScanSymbolsForDate(ScanWorker *w, EvalContext *context)
{
    for (int32_t i = w->index; i < gStore.symbolCount; i += w->stride) {
        if (w->stop) return;
        CopyString(w->symbolName, sizeof w->symbolName, gStore.symbols[i].info.Symbol, -1);
        context->symbol = &gStore.symbols[i];
        const Bar *bar = SyncContextBar(context);
        /* A row is the symbol's bar of the date, what a test's setup for the
        ** next period is signalled by, whatever the bar size: a longer bar
        ** that ended earlier in the period (data that end there, a day
        ** without trading at the period's end) signals no setup, and its
        ** values would be read as at the period's open, from the bar before. */
        if (!bar || bar->date != context->date) continue;
        if (w->testContext) FindSymbolStrategy(context);
        for (int32_t pass = 1; pass <= w->passCount; pass++) {
            bool alive = true;
            for (int32_t k = 0; k < w->columnCount; k++) {
                FormulaColumn *column = &w->columns[k];
                w->values[k] = 0;
                w->isText[k] = 0;
                w->texts[k][0] = 0;
                if (!alive) continue;
                context->itemName = column->heading;
                double value = 0;
                FormulaSlot *slot = &column->formula;
                const int ok = EvalFormulaSlot(slot, context, &value);
                /* Whatever gives a text (a symbol's name, Left, Format, a
                ** quoted text) leaves it in the first node. */
                const FormulaNode *first = slot->count > 0 ? slot->nodes[context->slot] : nullptr;
                if (ok && first && first->textFlag) {
                    CopyString(w->texts[k], LIST_CELL_TEXT_SIZE, first->text, -1);
                    w->isText[k] = 1;
                }
                w->values[k] = ok ? value : NAN;
                /* A filter keeps the symbol only with a number other than 0. */
                if (column->filter == pass && (!ok || value == 0)) alive = false;
            }
            if (!alive) continue;
            if (w->list->lock) {
                std::lock_guard<std::mutex> hold(*w->list->lock);
                AddScanRow(w, context->date, i);
            } else {
                AddScanRow(w, context->date, i);
            }
        }
    }
}

static void ScanWorkerThread(ScanWorker *w, uint32_t seed)
{
    EvalContext context;
    memset(&context, 0, sizeof context);
    context.slot = w->index;
    context.barPhase = PHASE_CLOSE;
    context.barSize = gSettings.BarSize2;
    context.resultRow = -1;
    context.strategyIndex = -1;
    context.lastBar = -1;
    context.walkForwardInterval = -1;
    context.dataItemIndex = -1;
    context.funBar = -1;
    SelectRandomSlot(w->index);
    /* Each worker seeds its own generator; the program's seed stays as the script set it. */
    if (seed) SeedRandomGenerator(seed + 1 + (uint32_t)w->index);
    for (int32_t d = 0; d < w->dateCount && !w->stop; d++) {
        int32_t date = (int32_t)w->dates->dates[w->firstIndex + d];
        w->date = date;
        context.date = date;
        ScanSymbolsForDate(w, &context);
    }
    w->running = 0;
}

static int32_t CountPasses(const FormulaColumn *columns, int32_t count)
{
    int32_t passes = 1;
    for (int32_t k = 0; k < count; k++)
        if (columns[k].filter > passes) passes = columns[k].filter;
    return passes;
}

static int32_t CountShownColumns(const FormulaColumn *columns, int32_t count)
{
    int32_t shown = 0;
    for (int32_t k = 0; k < count; k++)
        if (columns[k].format != 0 && !columns[k].filter) shown++;
    return shown;
}

static int PrepareWorker(ScanWorker *w, CellListWindow *list, DefinitionList *columns)
{
    w->list = list;
    w->columns = (FormulaColumn *)columns->items;
    w->columnCount = columns->count;
    w->passCount = CountPasses(w->columns, w->columnCount);
    w->defaultColumns = !gScriptSettings.ScanNoDefCols;
    int32_t n = w->columnCount > 0 ? w->columnCount : 1;
    return AllocMemory(&w->values, (uint64_t)n * sizeof(double)) &&
        AllocMemory(&w->texts, (uint64_t)n * LIST_CELL_TEXT_SIZE) && AllocMemory(&w->isText, (uint64_t)n) &&
        AllocMemory(&w->line, (uint64_t)RowRoom(w->columnCount));
}

static void ReleaseWorker(ScanWorker *w)
{
    FreeMemory(&w->values);
    FreeMemory(&w->texts);
    FreeMemory(&w->isText);
    FreeMemory(&w->line);
}

/* Sets up the list's columns and headings for the scan's shown columns. */
static int PrepareList(CellListWindow *list, const DefinitionList *columns, int32_t kind)
{
    const FormulaColumn *items = (const FormulaColumn *)columns->items;
    int32_t shown = CountShownColumns(items, columns->count);
    int32_t total = shown + (gScriptSettings.ScanNoDefCols ? 0 : 2);
    if (total == 0) return 0;
    FreeListWindow(list);
    list->columnCount = total;
    list->listKind = kind;
    if (!AllocMemory(&list->headings, (uint64_t)total * LIST_CELL_TEXT_SIZE) ||
        !AllocMemory(&list->names, (uint64_t)total * LIST_CELL_TEXT_SIZE))
        return 0;
    int32_t c = 0;
    if (!gScriptSettings.ScanNoDefCols) {
        CopyString(list->headings[c++], LIST_CELL_TEXT_SIZE, "Date", -1);
        CopyString(list->headings[c++], LIST_CELL_TEXT_SIZE, "Symbol", -1);
    }
    for (int32_t k = 0; k < columns->count; k++) {
        if (items[k].format == 0 || items[k].filter) continue;
        CopyString(list->names[c], LIST_CELL_TEXT_SIZE, items[k].formula.name, -1);
        CopyString(list->headings[c++], LIST_CELL_TEXT_SIZE, items[k].heading, -1);
    }
    char *sort = SortListFor(kind == LIST_KIND_TEST_SCAN ? SECTION_TEST_SCAN : SECTION_SCAN);
    SetListSort(list, sort ? sort : "");
    return 1;
}

/* Rows by date, then symbol, then the order they were found in (a symbol's
** passes): the order workers add rows in depends on their number, this one
** does not, so rows that the sort keys call equal always come the same way. */
static void SortRowsByDateAndSymbol(CellListWindow *list)
{
    const ListCell *cells = list->cells;
    std::stable_sort(list->rowIndex, list->rowIndex + list->rowCount, [cells](uint32_t a, uint32_t b) {
        if (cells[a].date != cells[b].date) return cells[a].date < cells[b].date;
        return cells[a].symbolIndex < cells[b].symbolIndex;
    });
}

/* The TestScan rows of a program without a scan window, kept for its
** SaveScanAs file. */
static CellListWindow sTestScanRows;

CellListWindow *OpenTestScanList()
{
    CellListWindow *list = gScanTarget ? gScanTarget : &sTestScanRows;
    if (!gScriptSettings.SaveScanAs[0] && (list == &sTestScanRows || gScanWindowGoesWithBatch)) {
        ReportError(list == &sTestScanRows ? kNoWindowNeedsSaveAs : kWindowGoesNeedsSaveAs);
        SetResultCode(RESULT_STOPPED);
        if (list == &sTestScanRows) return nullptr;
    }
    if (!PrepareList(list, &gTestScanColumns, LIST_KIND_TEST_SCAN)) return nullptr;
    return list;
}

void FinishTestScanList(CellListWindow *list)
{
    if (!list) return;
    SortRowsByDateAndSymbol(list);
    SortListRows(list);
    if (list == &sTestScanRows) {
        if (ClaimScanFile()) SaveCellListCsv(list, gScriptSettings.SaveScanAs, gScriptSettings.ScanNoHeader);
        FreeListWindow(list);
    } else if (gScanWindowFinisher) {
        gScanWindowFinisher();
    }
}

void ScanTestDate(CellListWindow *list, const EvalContext *context)
{
    if (!list || list->listKind != LIST_KIND_TEST_SCAN || list->columnCount == 0) return;
    ScanWorker w;
    memset((void *)&w, 0, sizeof w);
    if (PrepareWorker(&w, list, &gTestScanColumns)) {
        w.stride = 1;
        w.testContext = 1;
        /* The scan moves a copy from symbol to symbol and strategy to
        ** strategy, so the test goes on with its context as it was. */
        EvalContext copy = *context;
        ScanSymbolsForDate(&w, &copy);
    }
    ReleaseWorker(&w);
}

int RunScan()
{
    SetTestRunning(RUN_TESTING);
    SetFrameTitle("Running Scan");
    int barSize = gSettings.BarSize2 >= 0 && gSettings.BarSize2 < BAR_SIZE_COUNT ? gSettings.BarSize2 : BAR_DAILY;
    const DateList *dates = &gStore.dateLists[barSize];
    int32_t firstIndex = 0, lastIndex = -1;
    int result = -1;
    /* A scan file that cannot be written is a failed write like any other:
    ** reported with the file-error code, and no failed run, so a batch goes
    ** on with its later runs and ends with that code. */
    bool fileFailed = false;
    CellListWindow direct;
    memset((void *)&direct, 0, sizeof direct);
    ReplaceFile file;
    memset(&file, 0, sizeof file);
    /* ScanNoWindow writes each row to the file as it is found.  Any other
    ** scan fills a list: the scan window's, or where there is none (the
    ** native program) one of its own, which goes to SaveScanAs as the window
    ** saves it, sorted by the Scan section's Sort; so both programs write
    ** the same file. */
    const bool toFile = gScriptSettings.ScanNoWindow != 0;
    CellListWindow *list = toFile ? &direct : gScanTarget ? gScanTarget : &direct;
    const bool windowless = !toFile && list == &direct;
    /* Pictures of the rows are drawn by the scan window alone. */
    if (gScriptSettings.SaveChartsTo[0] && (toFile || !gChartImageWriter))
        ShowPopupNotice(255, gChartImageWriter ? kNoWindowNoCharts : kNoCharts, gScriptSettings.SaveChartsTo);

    do {
        if (!SetTestDateRange(dates, &firstIndex, &lastIndex)) break;
        if (!gScriptSettings.SaveScanAs[0] && (toFile || windowless || gScanWindowGoesWithBatch)) {
            ReportError(toFile ? kNeedsSaveAs : windowless ? kNoWindowNeedsSaveAs : kWindowGoesNeedsSaveAs);
            break;
        }
        if (!PrepareList(list, &gScanColumns, LIST_KIND_SCAN)) {
            result = 0;
            break;
        }
        if (toFile) {
            if (!AllocMemory(&list->cells, (uint64_t)list->columnCount * sizeof(ListCell))) break;
            list->cellRowCapacity = 1;
            if (!ClaimScanFile() || !BeginReplaceFile(&file, gScriptSettings.SaveScanAs, 0)) {
                fileFailed = true;
                break;
            }
            if (!gScriptSettings.ScanNoHeader) {
                /* Whole, however many columns: a cut heading would lose its line end. */
                std::string line;
                for (int32_t c = 0; c < list->columnCount; c++) {
                    if (c) line += ',';
                    line += list->headings[c];
                }
                line += '\n';
                if (!WriteReplaceFile(&file, line.data(), (uint32_t)line.size())) {
                    fileFailed = true;
                    break;
                }
            }
        }
        int32_t dateCount = lastIndex - firstIndex + 1;
        char bars[40];
        int length = FormatText(bars, sizeof bars, "%lld", (long long)dateCount * gStore.symbolCount);
        InsertCommas(bars, length, sizeof bars);
        SetStatusText(0, "Scanning %s Bars", bars);

        int32_t workers = 1;
        if (dateCount >= 2 && !toFile) {
            workers = ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount());
            if (gStore.symbolCount / 8 + 1 < workers) workers = gStore.symbolCount / 8 + 1;
            if (workers > SCAN_MAX_WORKERS) workers = SCAN_MAX_WORKERS;
            if (workers < 1) workers = 1;
        }
        std::mutex lock;
        list->lock = workers > 1 ? &lock : nullptr;
        static ScanWorker pool[SCAN_MAX_WORKERS];
        std::thread threads[SCAN_MAX_WORKERS];
        uint32_t seed = gRandomSeed;
        bool ready = true;
        for (int32_t k = 0; k < workers; k++) {
            ScanWorker *w = &pool[k];
            memset((void *)w, 0, sizeof *w);
            ready = ready && PrepareWorker(w, list, &gScanColumns);
            w->index = k;
            w->stride = workers;
            w->dates = dates;
            w->firstIndex = firstIndex;
            w->dateCount = dateCount;
            w->file = toFile ? &file : nullptr;
        }
        for (int32_t k = 0; k < workers && ready; k++) {
            pool[k].running = 1;
            threads[k] = std::thread(ScanWorkerThread, &pool[k], seed);
        }
        uint64_t shown = 0;
        for (;;) {
            PumpMessages();
            int running = 0;
            int32_t earliest = 99991231;
            for (int32_t k = 0; k < workers; k++) {
                if (gRun.state == RUN_STOP_REQUESTED) pool[k].stop = 1;
                if (!pool[k].running) continue;
                running++;
                if (pool[k].date < earliest) earliest = pool[k].date;
            }
            if (!running) break;
            uint64_t now = PlatTickCount64();
            if (now - shown >= 100) {
                shown = now;
                char text[DATE_TEXT_SIZE];
                FormatDefaultDate(earliest, text);
                SetStatusText(1, "Date: %s", text);
            }
            PlatSleep(5);
        }
        for (int32_t k = 0; k < workers; k++) {
            if (threads[k].joinable()) threads[k].join();
            ReleaseWorker(&pool[k]);
        }
        list->lock = nullptr;
        SetStatusText(1, "");
        if (!ready) break;
        if (toFile) {
            /* A scan that finds nothing still replaces the last one's file
            ** (with the heading alone): yesterday's rows must never pass for
            ** today's. */
            if (!CommitReplaceFile(&file)) {
                fileFailed = true; /* a row's write or the rename */
                break;
            }
        } else {
            SortRowsByDateAndSymbol(list);
            SortListRows(list);
            if (windowless && ClaimScanFile())
                SaveCellListCsv(list, gScriptSettings.SaveScanAs, gScriptSettings.ScanNoHeader);
            else if (gScanWindowFinisher)
                gScanWindowFinisher();
        }
        result = 0;
    } while (false);

    if (fileFailed) result = 0;
    AbandonReplaceFile(&file);
    FreeListWindow(&direct);
    if (gRun.state == RUN_STOP_REQUESTED) ShowPopupNotice(255, "Scan Stopped");
    SetTestRunning(RUN_IDLE);
    SetFrameTitle("");
    return result;
}
