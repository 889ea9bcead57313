/* stats_export.cpp -- the statistics and trade CSV exports of one test. */
#include "views/stats_export.h"

#include <cstring>
#include <string>

#include "engine/date_loop.h"
#include "engine/results_list.h"
#include "engine/trade_list.h"
#include "records/test_records.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/run_files.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/settings_items.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "services/services.h"
#include "views/trade_rows.h"

char gExportPath[PATH_SIZE];

/* The folders the two save dialogs remember. */
struct ExportState {
    char statsFolder[PATH_SIZE];
    char tradesFolder[PATH_SIZE];
};
static ExportState sExport;

static const char *const kTimingWords[4] = {"n/a", "open", "intraday", "close"};

int MakeNumberedFileName(const char *path, int32_t testNumber)
{
    CopyString(gExportPath, sizeof gExportPath, path, -1);
    if (gRun.mode != RUN_MODE_OPTIMIZE && !gEngineRun.numberedExports) return 1;
    const char *base = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
    const char *dot = strrchr(base, '.');
    const char *extension = dot ? dot : "";
    const size_t stem = dot ? (size_t)(dot - path) : strlen(path);
    char number[16];
    FormatText(number, sizeof number, ".%d", testNumber);
    /* The name with its number must fit whole: cut, it would be another
    ** file's (its extension lost, or the number of another test). */
    if (PathLetters(path, stem) + strlen(number) + PathLetters(extension) > PATH_LETTERS) {
        gExportPath[0] = 0;
        return 0;
    }
    FormatText(gExportPath, sizeof gExportPath, "%.*s%s%s", (int)stem, path, number, extension);
    return 1;
}

/* Empties gExportPath when an export ends, however it ends: a path left
** behind would make the next trade list the user opens save itself over
** this export's file instead of showing. */
struct ExportPathClearer {
    ~ExportPathClearer() { gExportPath[0] = 0; }
};

/* gExportPath from the given path (the script's Save<kind>As), or from the
** save dialog; 0 when cancelled, or after reporting a numbered name too long
** to hold. */
static int ChooseExportPath(const char *path, int32_t testNumber, const char *kind, const char *title, char *folder)
{
    if (path) {
        if (MakeNumberedFileName(path, testNumber))
            return ClaimRunOutput(gExportPath, strcmp(kind, "Stats") == 0 ? "the SaveStatsAs file" : "the SaveTradesAs file");
        ReportError("Save%sAs file path is too long -- maximum is 260 chars.", kind);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    gExportPath[0] = 0;
    return BrowseForFile(gExportPath, folder, title, "CSV", "CSV", 1) != 0;
}

/* Writes the whole text to gExportPath; 0 after reporting.  The text goes to
** a file beside the old export, which stays as it was until the new one is
** complete: a full disk or a file held open elsewhere costs the new export,
** never the previous one. */
static int WriteExport(const std::string &text, const char *createMessage)
{
    ReplaceFile file;
    if (!BeginReplaceFileWithMessage(&file, gExportPath, 0, createMessage)) return 0;
    /* The file helpers move less than 4 GB at a time. */
    for (size_t done = 0; done < text.size();) {
        const uint32_t piece = text.size() - done > 0x40000000u ? 0x40000000u : (uint32_t)(text.size() - done);
        if (!WriteReplaceFile(&file, text.data() + done, piece)) {
            AbandonReplaceFile(&file);
            return 0;
        }
        done += piece;
    }
    return CommitReplaceFile(&file);
}

int SaveStatsCsv(TestRecord *test, const char *path)
{
    ExportPathClearer clearAfter;
    if (!test || !ChooseExportPath(path, test->testNumber, "Stats", "Save Stats as CSV", sExport.statsFolder)) return 0;
    TestHold hold; /* a traced formula lets the window answer */
    FormulaColumn *columns = (FormulaColumn *)gGraphsColumns.items;
    std::string out = "Date,Strategy";
    for (int32_t c = 0; c < gGraphsColumns.count; c++)
        if (columns[c].format != 0) out += std::string(",") + columns[c].heading;

    EvalContext context{};
    context.test = test;
    context.symbol = &gStore.calendar;
    context.barSize = test->settings.BarSize2;
    context.barPhase = PHASE_CLOSE;
    context.strategyIndex = 0;
    context.walkForwardInterval = -1;
    context.funBar = -1;
    context.dataItemIndex = -1;
    const int32_t rows = test->rowsFilled < test->rowCount ? test->rowsFilled : test->rowCount;
    for (int32_t d = 0; d < rows && test->strategyCount > 0; d++) {
        const int32_t date = (int32_t)test->cells[(int64_t)d * test->strategyCount].date;
        char dateText[DATE_TEXT_SIZE];
        FormatDefaultDate(date, dateText);
        context.date = date;
        context.resultRow = d;
        Bar *bar = nullptr;
        context.barIndex = FindBarIndex(&gStore.calendar, context.barSize, date, PHASE_CLOSE, 0, &bar);
        context.lastBar = context.barIndex;
        for (int32_t s = 0; s < test->strategyCount; s++) {
            out += std::string("\n") + dateText + "," + test->strategies[s].name;
            for (int32_t c = 0; c < gGraphsColumns.count; c++) {
                FormulaColumn *column = &columns[c];
                if (column->format == 0) continue;
                context.strategyIndex = s;
                context.strategy = s < gStrategyCount ? &gStrategies[s] : nullptr;
                char text[NUMBER_TEXT_SIZE * 4] = "";
                if (column->isText) {
                    EvalFormulaText(&column->formula, &context, text, sizeof text);
                } else {
                    double value = 0;
                    EvalFormulaSlot(&column->formula, &context, &value);
                    FormatNumber(value, column->format, column->decimals, 0, test->currency, text);
                }
                out += ',';
                for (const char *p = text; *p; p++)
                    if (*p != ',') out += *p;
            }
        }
    }
    out += "\n";
    return WriteExport(out, "Unable to create SaveStatsAs file '%s'.");
}

/* The trade list's columns, as the trade list window would save them:
** heading row, then every row in the list's order, commas removed.  Without
** a data file the columns made of the trade's own values are written as the
** run wrote them; a column that needs the data would be written as nothing
** it is, so the file is refused, naming those columns.  The file holds every
** trade of the test or is not written: a list cut short (Escape, or too
** little memory) under a whole heading would read as the test's answer. */
static int SaveFullTradeList(TestRecord *test)
{
    char needing[1024];
    const int32_t needs = gStore.symbolCount == 0 ? ListTradesColumnsNeedingData(needing, sizeof needing) : 0;
    if (needs > 0) {
        ReportError("%s was not saved: the Trades column%s %s can not be computed until a data file has been loaded.",
                    gExportPath, needs == 1 ? "" : "s", needing);
        SetResultCode(RESULT_DATA_NOT_LOADED);
        return 1;
    }
    /* The list is computed and written while the window answers; the test
    ** it is made of stays until the file is whole. */
    TestHold hold;
    CellListWindow list;
    memset((void *)&list, 0, sizeof list);
    list.listKind = LIST_KIND_TRADES;
    list.test = test;
    if (BuildTradeList(&list, 0, TRADE_LIST_FOR_FILE)) {
        SaveCellListCsv(&list, gExportPath, 0, "Unable to create %s");
    } else if (list.incomplete) {
        ReportError("%s was not saved: its trade list was cancelled.", gExportPath);
        SetResultCode(RESULT_STOPPED);
    } else {
        ReportError("%s was not saved: there was not memory enough to compute its trade list.", gExportPath);
        SetResultCode(RESULT_LOW_MEMORY);
    }
    FreeListWindow(&list);
    return 1;
}

/* The number's text in n: read back, it is the same double, so a trade list
** read from the file trades what the test traded. */
static const char *ExactNumber(double value, char (&n)[NUMBER_TEXT_SIZE])
{
    FormatExactNumber(value, n);
    return n;
}

int SaveTradesCsv(TestRecord *test, const char *path)
{
    ExportPathClearer clearAfter;
    if (!test || !ChooseExportPath(path, test->testNumber, "Trades", "Save Trades as CSV", sExport.tradesFolder)) return 0;
    if (gScriptSettings.SaveTradesType != SAVE_TRADES_COMPACT) return SaveFullTradeList(test);
    /* The rows are in the test's own terms (the Terms column says so): prices
    ** as traded on the loaded series, fees in the account's currency, which
    ** the trade list reader takes as they are. */
    std::string out =
        "Strategy,Symbol,Side,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut,TimeIn,TimeOut,ValueIn,"
        "ValueOut," + std::string(kTradesTermsColumn) + "\n";
    for (int32_t k = 0; k < test->tradeCount; k++) {
        const TradeRecord *t = &test->trades[k];
        if (t->strategy < 0 || t->strategy >= test->strategyCount) continue;
        if (test->strategies[t->strategy].kind != STRATEGY_KIND_STRATEGY || t->dateOut == 0) continue;
        char in[DATE_TEXT_SIZE], outDate[DATE_TEXT_SIZE], line[1024];
        FormatDefaultDate(t->dateIn, in);
        FormatDefaultDate(t->dateOut, outDate);
        char n[8][NUMBER_TEXT_SIZE];
        FormatText(line, sizeof line, "%s,%s,%d,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s\n",
                   test->strategies[t->strategy].name, t->symbol, t->side, in, ExactNumber(t->quantityIn, n[0]),
                   ExactNumber(t->priceIn, n[1]), ExactNumber(t->commissionIn, n[2]), outDate,
                   ExactNumber(t->quantityOut, n[3]), ExactNumber(t->priceOut, n[4]), ExactNumber(t->commissionOut, n[5]),
                   kTimingWords[t->timeIn >= 0 && t->timeIn < 4 ? t->timeIn : 0],
                   kTimingWords[t->timeOut >= 0 && t->timeOut < 4 ? t->timeOut : 0], ExactNumber(t->valueIn, n[6]),
                   ExactNumber(t->valueOut, n[7]), kTradesAsTraded);
        out += line;
    }
    WriteExport(out, "Unable to create %s");
    return 1;
}
