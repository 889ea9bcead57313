/* results_file.cpp -- the results file (.kvr) a list is saved to and loaded
** from, every older layout of it included, and the stored image of a test
** record.
**
** A save goes to a temporary file beside the old one, so a failed save keeps
** the previous file whole.  A load checks every count against the bytes left
** and against the other counts before it sizes anything; a load that stops
** part way keeps what it read and marks the list, so that the save at the end
** of a run cannot silently replace the file with fewer tests.
**
** Several programs (runs of a scheduler, windows, the Windows program and
** the native one in one folder) may save one results file: saves take turns
** through a guard file beside it, held exclusively while one save reads and
** writes and shared while a load reads, and a save that finds the file
** changed since its list last read or wrote it (its identity, size, last
** write or contents) merges what the other saved instead of writing over it.
** Tests are told apart by a fingerprint of what identifies them (number,
** dates, script, counts and the last row's cells), so the merge knows which
** of the file's tests its list already had, which it deleted and which are
** new to it.
*/
#include "engine/results_file.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "engine/run_view_hooks.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_guard.h"
#include "foundation/file_helpers.h"
#include "foundation/file_state.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "script/eval/eval_context.h"
#include "services/services.h"

const float kResultsFileVersion = 0.40f;

void (*gBeforeResultsSave)(const char *path) = nullptr;

static const char kMsgCannotCreate[] = "Unable to create %s\r\n\r\n%s";
static const char kMsgSaveBusy[] = "Unable to save %s: another program kept it busy; the results were not saved.";
static const char kMsgLoadBusy[] = "Unable to load %s: another program kept it busy.";
/* The same when the user stopped waiting for the other program. */
static const char kMsgSaveStopped[] =
    "Unable to save %s: you stopped waiting for another program that was using it. The results were not saved; they "
    "stay in the results window.";
static const char kMsgLoadStopped[] = "Unable to load %s: you stopped waiting for another program that was using it.";
static const char kMsgNotMerged[] =
    "%s was saved by another program meanwhile and could not be read again: it was kept as that program left it, and "
    "the results of this run were not saved.";
/* The same when the user saves: no run took place, and what changed the file
** is not known (it may have been damaged). */
static const char kMsgNotMergedBySave[] =
    "%s has changed since it was last read or saved and could not be read again: it was kept as it is, and the "
    "results were not saved.";

enum {
    RECORD_SIZE = (int)sizeof(TestRecord),
    RESULT_SIZE = (int)sizeof(StrategyResult),
    CELL_SIZE = (int)sizeof(StatCell),
    TRADE_SIZE = (int)sizeof(TradeRecord),
    PARAM_SIZE = (int)sizeof(ParamValue),
    ITEM_NAME_SIZE = 80,
    OLD_RESULT_SIZE = 92,
    /* Counts of one stored test beyond any a script can produce. */
    MAX_STORED_COUNT = 100000,
    /* How long a save or load waits for another program's save of the same
    ** file to end where no user is there to ask; in the window program the
    ** wait is the user's to end, once it has lasted the short time first. */
    GUARD_WAIT_MS = 60000,
    GUARD_QUIET_WAIT_MS = 300
};
/* Largest piece of one file read or write: the file calls take 32-bit sizes. */
static const uint64_t kFilePiece = 1u << 30;

/* The layout of the records being read. */
struct ResultsState {
    ResultsLayout layout;
    uint64_t fileSize;               /* of the file being loaded */
    char saveFolder[PATH_SIZE];      /* the save dialog's last folder */
};
static ResultsState sResults;

static ResultsLayout CurrentLayout()
{
    return {kResultsFileVersion, 0, RECORD_SIZE, RESULT_SIZE, CELL_SIZE, TRADE_SIZE};
}

/* ---- layouts ------------------------------------------------------------------ */

/* Cell and trade sizes by the lowest version of each band, newest first. */
struct LayoutBand {
    float from;
    int32_t recordSize, resultSize, cellSize, tradeSize;
};
/* clang-format off */
static const LayoutBand kLayoutBands[] = {
    {.from = 0.40f, .recordSize = 1016, .resultSize = 504, .cellSize = 448, .tradeSize = 344},
    {.from = 0.39f, .recordSize = 1008, .resultSize = 504, .cellSize = 448, .tradeSize = 344},
    {.from = 0.37f, .recordSize = 960, .resultSize = 504, .cellSize = 448, .tradeSize = 328},
    {.from = 0.36f, .recordSize = 960, .resultSize = 504, .cellSize = 440, .tradeSize = 328},
    {.from = 0.35f, .recordSize = 960, .resultSize = 504, .cellSize = 432, .tradeSize = 312},
    {.from = 0.34f, .recordSize = 960, .resultSize = 504, .cellSize = 424, .tradeSize = 312},
    {.from = 0.33f, .recordSize = 960, .resultSize = 504, .cellSize = 376, .tradeSize = 312},
    {.from = 0.32f, .recordSize = 960, .resultSize = 504, .cellSize = 368, .tradeSize = 312},
    {.from = 0.31f, .recordSize = 960, .resultSize = 504, .cellSize = 368, .tradeSize = 296},
    {.from = 0.30f, .recordSize = 960, .resultSize = 504, .cellSize = 360, .tradeSize = 296},
    {.from = 0.29f, .recordSize = 936, .resultSize = 504, .cellSize = 352, .tradeSize = 280},
    {.from = 0.28f, .recordSize = 928, .resultSize = 92, .cellSize = 352, .tradeSize = 280},
    {.from = 0.27f, .recordSize = 928, .resultSize = 92, .cellSize = 328, .tradeSize = 280},
    {.from = 0.26f, .recordSize = 928, .resultSize = 92, .cellSize = 328, .tradeSize = 264},
    {.from = 0.25f, .recordSize = 928, .resultSize = 92, .cellSize = 328, .tradeSize = 184},
    {.from = -1e30f, .recordSize = 928, .resultSize = 92, .cellSize = 280, .tradeSize = 184},
};
/* clang-format on */

ResultsLayout GetResultsLayout(float versionWord)
{
    ResultsLayout layout = {versionWord, 0, 0, 0, 0, 0};
    /* A version word that is no number belongs to no layout: its sizes stay
    ** 0, which no header may give. */
    if (std::isnan(versionWord)) return layout;
    if (versionWord == 879.0f) {
        layout.version = 0.36f;
        layout.legacy = 1;
    } else if (versionWord == 863.0f) {
        layout.version = 0.35f;
    }
    const float v = layout.version;
    for (const LayoutBand &band : kLayoutBands) {
        if (!(v >= band.from)) continue;
        layout.recordSize = band.recordSize;
        layout.resultSize = band.resultSize;
        layout.cellSize = band.cellSize;
        layout.tradeSize = band.tradeSize;
        break;
    }
    if (v == 0.38f) layout.recordSize = 984;
    if (layout.legacy) layout.cellSize = 432;
    return layout;
}

/* Reads size bytes in pieces the file calls can take; 1/0 as ReadFileData. */
static int ReadFileBytes(PlatFile file, void *buffer, uint64_t size, const char *path)
{
    char *p = (char *)buffer;
    for (uint64_t done = 0; done < size;) {
        uint64_t piece = size - done < kFilePiece ? size - done : kFilePiece;
        if (!ReadFileData(file, p + done, (uint32_t)piece, path)) return 0;
        done += piece;
    }
    return 1;
}

/* Writes size bytes in pieces the file calls can take; 1/0 as WriteFileData. */
static int WriteFileBytes(PlatFile *pFile, const void *data, uint64_t size, const char *path)
{
    const char *p = (const char *)data;
    for (uint64_t done = 0; done < size;) {
        uint64_t piece = size - done < kFilePiece ? size - done : kFilePiece;
        if (!WriteFileData(pFile, p + done, (uint32_t)piece, path)) return 0;
        done += piece;
    }
    return 1;
}

/* Moves past size bytes that were counted among the bytes left; 1, or 0
** after reporting. */
static int SkipFileBytes(PlatFile file, uint64_t size, const char *path)
{
    if (PlatSeekFile(file, (int64_t)size, 1, nullptr)) return 1;
    ReportError("Unable to read %s\r\n\r\n%s", path, GetErrorText());
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}

/* A yyyymmdd date of the calendar (year 1000 to 9999). */
static bool IsCalendarDate(uint32_t date)
{
    const int y = DateYear((int)date), m = DateMonth((int)date), d = DateDay((int)date);
    return date >= 10000101u && date <= 99991231u && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

/* Bytes left in the file being loaded. */
static uint64_t BytesLeft(PlatFile file)
{
    uint64_t pos = 0;
    if (!PlatSeekFile(file, 0, 1, &pos) || pos > sResults.fileSize) return 0;
    return sResults.fileSize - pos;
}

static int CountOfStrategyKind(const TestRecord *record, int32_t count)
{
    int n = 0;
    for (int32_t s = 0; s < count; s++)
        if (record->strategies[s].kind == STRATEGY_KIND_STRATEGY) n++;
    return n;
}

/* Reads one stored test; null on failure (reported by the reads, or here for
** counts that do not fit the file). */
static TestRecord *ReadStoredTest(PlatFile file, const char *path)
{
    const ResultsLayout &L = sResults.layout;
    const bool oldResults = L.resultSize == OLD_RESULT_SIZE;
    TestRecord *record = nullptr;
    if (!AllocMemory(&record, sizeof *record)) return nullptr;
    if (L.recordSize <= 0 || L.recordSize > RECORD_SIZE || !ReadFileData(file, record, (uint32_t)L.recordSize, path)) {
        FreeMemory(&record);
        return nullptr;
    }
    if (L.version == 0.38f) {
        memmove((char *)record + 976, (char *)record + 960, 32);
        memset((char *)record + 960, 0, 16);
    }
    /* Nothing stored in a pointer or cache field is taken over. */
    record->previous = record->next = nullptr;
    record->parameters = nullptr;
    record->strategies = nullptr;
    record->cells = nullptr;
    record->trades = nullptr;
    record->settings.scriptText = nullptr;
    record->resultsValues = record->graphValues = nullptr;
    record->resultsValueCount = record->graphValueCount = 0;
    memset(record->graphValid, 0, sizeof record->graphValid);
    record->stratDataNames = nullptr;
    record->stratDataValues = nullptr;
    record->tradeCapacity = record->tradeCount;

    /* Every count against the others and the bytes left, before any is used.
    ** The rows after the date a stopped run reached hold no cells in the
    ** file, so a loaded test keeps only the rows it stores: nothing it
    ** allocates is more than the file's own length accounts for. */
    const int64_t strategies = record->strategyCount, params = record->parameterCount;
    const int64_t rows = record->rowCount, filled = record->rowsFilled, trades = record->tradeCount;
    const int64_t text = record->settings.scriptTextLength, items = record->stratDataItemCount;
    const int64_t values = record->stratDataValueCount;
    const int64_t columns = strategies + (oldResults ? 1 : 0);
    bool sane = strategies >= 0 && strategies < MAX_STORED_COUNT && params >= 0 && params < MAX_STORED_COUNT && rows >= 0 &&
        filled >= 0 && filled <= rows && trades >= 0 && items >= 0 && items < MAX_STORED_COUNT && text >= 0 && values >= 0 &&
        (strategies * items == 0 ? values == 0 : values % (strategies * items) == 0 && values / (strategies * items) == rows);
    if (sane) {
        uint64_t need = (uint64_t)strategies * L.resultSize + (uint64_t)params * PARAM_SIZE +
            (uint64_t)filled * columns * L.cellSize + (uint64_t)text + (uint64_t)trades * L.tradeSize +
            (uint64_t)items * ITEM_NAME_SIZE + (uint64_t)values * 8;
        sane = need <= BytesLeft(file);
    }
    if (!sane) {
        ReportError("%s is damaged: the counts of a test do not fit the file.", path);
        SetResultCode(RESULT_FILE_ERROR);
        FreeMemory(&record);
        return nullptr;
    }
    const int64_t keptValues = strategies * filled * items;
    record->rowCount = (int32_t)filled;
    record->stratDataValueCount = (int32_t)keptValues;

    bool ok = AllocMemory(&record->strategies, (uint64_t)(columns + 1) * RESULT_SIZE) &&
        AllocMemory(&record->parameters, (uint64_t)(params + 1) * PARAM_SIZE) &&
        AllocMemory(&record->cells, ((uint64_t)filled * columns + 1) * CELL_SIZE);
    /* Results. */
    if (ok && !oldResults) ok = ReadFileBytes(file, record->strategies, (uint64_t)strategies * RESULT_SIZE, path);
    for (int64_t s = 0; ok && oldResults && s < strategies; s++) {
        ok = ReadFileData(file, &record->strategies[s], OLD_RESULT_SIZE, path);
        record->strategies[s].markedToMarket = 1;
    }
    const int strategyKinds = ok && oldResults ? CountOfStrategyKind(record, (int32_t)strategies) : 0;
    if (ok && oldResults) {
        record->mainStrategy = 0;
        for (int32_t s = 0; s < (int32_t)strategies; s++)
            if (record->strategies[s].kind == STRATEGY_KIND_STRATEGY) {
                record->mainStrategy = s;
                break;
            }
        if (strategyKinds >= 2) {
            StrategyResult *combined = &record->strategies[strategies];
            CopyString(combined->name, sizeof combined->name, "Combined", -1);
            combined->kind = STRATEGY_KIND_COMBINED;
            combined->barSize = record->settings.BarSize2;
            combined->compounded = record->compounded;
            combined->markedToMarket = 1;
        }
    }
    /* Parameter values. */
    if (ok) ok = ReadFileBytes(file, record->parameters, (uint64_t)params * PARAM_SIZE, path);
    /* Cells: the grid holds columns stored, less the dropped old last column. */
    const int64_t keptColumns = oldResults && strategyKinds < 2 ? strategies : columns;
    if (ok && L.cellSize == CELL_SIZE && L.version >= 0.33f && !oldResults) {
        ok = ReadFileBytes(file, record->cells, (uint64_t)filled * columns * CELL_SIZE, path);
    } else if (columns > 0) {
        /* A test without columns stores no cells, however many rows it
        ** counts: there is nothing to step through. */
        StatCell scratch;
        for (int64_t r = 0; ok && r < filled; r++)
            for (int64_t s = 0; ok && s < columns; s++) {
                StatCell *cell = s < keptColumns ? &record->cells[r * keptColumns + s] : &scratch;
                memset(cell, 0, sizeof *cell);
                ok = ReadFileData(file, cell, (uint32_t)L.cellSize, path);
            }
    }
    /* Every filled cell carries the date of its row; one that is no calendar
    ** date would send the views that group rows by month out of their tables. */
    for (int64_t c = 0; ok && c < filled * keptColumns; c++) {
        if (!IsCalendarDate(record->cells[c].date)) {
            ReportError("%s is damaged: a test holds a row without a valid date.", path);
            SetResultCode(RESULT_FILE_ERROR);
            ok = false;
        }
    }
    /* The test's flags are this layout's: an older one's cells may hold
    ** other bytes where they are. */
    if (ok && (L.cellSize != CELL_SIZE || oldResults))
        for (int64_t c = 0; c < filled * keptColumns; c++) record->cells[c].testFlags = 0;
    if (L.version < 0.39f) record->daysPerYear = 252.0;
    if (ok && oldResults && strategyKinds >= 2) {
        record->mainStrategy = (int32_t)strategies;
        for (int64_t s = 0; s < strategies; s++) {
            record->strategies[s].parentCount = 1;
            record->strategies[s].parents[0] = (int32_t)strategies;
        }
        record->strategyCount++;
    }
    /* Script text, always ending in a 0 byte. */
    if (ok && text > 0) {
        ok = AllocMemory(&record->settings.scriptText, (uint64_t)text + 1) &&
            ReadFileBytes(file, record->settings.scriptText, (uint64_t)text, path);
        if (ok) record->settings.scriptText[text - 1] = 0;
    }
    /* Whole names kept after the text's 0 by this program: the text proper
    ** is what comes before them.  An older program's save of such a test
    ** kept the count but not the names, so nothing but names that fit the
    ** count exactly is taken. */
    if (ok && text > 0 && record->wholeNamesSize > 0 &&
        WholeNamesFit(record->settings.scriptText, (uint64_t)text, record->wholeNamesSize)) {
        const size_t length = strlen(record->settings.scriptText);
        record->settings.scriptTextLength = length ? (uint32_t)length + 1 : 0;
    } else {
        record->wholeNamesSize = 0;
    }
    /* Trades. */
    if (ok && trades > 0) {
        ok = AllocMemory(&record->trades, (uint64_t)trades * TRADE_SIZE);
        if (ok && L.tradeSize == TRADE_SIZE && !L.legacy) {
            ok = ReadFileBytes(file, record->trades, (uint64_t)trades * TRADE_SIZE, path);
        } else {
            for (int64_t t = 0; ok && t < trades; t++) {
                TradeRecord *trade = &record->trades[t];
                ok = ReadFileData(file, trade, (uint32_t)L.tradeSize, path);
                if (!ok) break;
                if (L.version >= 0.26f && L.version < 0.39f) {
                    memmove((char *)trade + 200, (char *)trade + 184, 144);
                    memset((char *)trade + 184, 0, 16);
                }
                if (L.version < 0.27f) trade->roundingIn = trade->roundingOut = 0.01;
                if (L.version < 0.30f) trade->fxIn = trade->fxOut = 1.0;
                if (L.version < 0.32f) trade->valueIn = trade->valueOut = 0;
                if (L.legacy) trade->rollCosts = 0;
            }
        }
    }
    /* Data items. */
    if (ok && items > 0) {
        /* Values are stored row by row, so those of the unfilled rows come last. */
        ok = AllocMemory(&record->stratDataNames, (uint64_t)items * ITEM_NAME_SIZE) &&
            AllocMemory(&record->stratDataValues, (uint64_t)keptValues * 8 + 8) &&
            ReadFileBytes(file, record->stratDataNames, (uint64_t)items * ITEM_NAME_SIZE, path) &&
            ReadFileBytes(file, record->stratDataValues, (uint64_t)keptValues * 8, path) &&
            (values == keptValues || SkipFileBytes(file, (uint64_t)(values - keptValues) * 8, path));
        for (int64_t i = 0; ok && i < items; i++) record->stratDataNames[i][ITEM_NAME_SIZE - 1] = 0;
    }
    if (ok) {
        for (int32_t s = 0; s < record->strategyCount; s++) {
            StrategyResult *r = &record->strategies[s];
            r->name[sizeof r->name - 1] = 0;
            if (r->parentCount < 0 || r->parentCount > STRATEGY_PARENT_MAX) r->parentCount = 0;
        }
        for (int64_t p = 0; p < params; p++) record->parameters[p].name[PARAM_VALUE_NAME_SIZE - 1] = 0;
        for (int64_t t = 0; t < trades; t++) {
            record->trades[t].symbol[TRADE_SYMBOL_SIZE - 1] = 0;
            record->trades[t].reasonText[TRADE_REASON_SIZE - 1] = 0;
        }
        if (record->mainStrategy < 0 || record->mainStrategy >= record->strategyCount) record->mainStrategy = 0;
        record->settings.TestName[TEST_NAME_SIZE - 1] = 0;
        record->settings.DataFile[TEST_PATH_SIZE - 1] = 0;
        record->settings.ActiveScript[TEST_PATH_SIZE - 1] = 0;
        record->currency[TEST_CURRENCY_SIZE - 1] = 0;
        return record;
    }
    FreeTestRecord(nullptr, record);
    return nullptr;
}

TestRecord *ReadTestRecord(PlatFile file, int32_t parameterCount, int32_t strategyCount, int32_t rowCount,
                           int32_t itemCount)
{
    if (!file) {
        /* A record made in memory is in the current layout. */
        if (parameterCount >= 0 && strategyCount >= 0 && rowCount >= 0 && itemCount >= 0)
            sResults.layout = CurrentLayout();
        return NewTestRecord(parameterCount, strategyCount, rowCount, itemCount);
    }
    return ReadStoredTest(file, "the results file");
}

int WriteTestRecord(PlatFile *pFile, const TestRecord *record, const char *path)
{
    TestRecord image = *record;
    image.previous = image.next = nullptr;
    image.parameters = nullptr;
    image.strategies = nullptr;
    image.cells = nullptr;
    image.trades = nullptr;
    image.resultsValues = image.graphValues = nullptr;
    image.resultsValueCount = image.graphValueCount = 0;
    memset(image.graphValid, 0, sizeof image.graphValid);
    image.stratDataNames = nullptr;
    image.stratDataValues = nullptr;
    image.settings.scriptText = nullptr;
    image.tradeCapacity = image.tradeCount;
    const char *text = record->settings.scriptText;
    /* The whole names go after the text's 0, within the text's count. */
    image.wholeNamesSize = text ? record->wholeNamesSize : 0;
    image.settings.scriptTextLength = text ? (uint32_t)strlen(text) + 1 + image.wholeNamesSize : 0;
    const bool hasItems = record->stratDataItemCount > 0 && record->stratDataNames && record->stratDataValues;
    if (!hasItems) image.stratDataItemCount = image.stratDataValueCount = 0;
    if (record->rowsFilled > record->rowCount) image.rowsFilled = record->rowCount;

    const uint64_t cells = (uint64_t)image.rowsFilled * record->strategyCount;
    return WriteFileData(pFile, &image, RECORD_SIZE, path) &&
        WriteFileBytes(pFile, record->strategies, (uint64_t)record->strategyCount * RESULT_SIZE, path) &&
        WriteFileBytes(pFile, record->parameters, (uint64_t)record->parameterCount * PARAM_SIZE, path) &&
        WriteFileBytes(pFile, record->cells, cells * CELL_SIZE, path) &&
        WriteFileBytes(pFile, text, image.settings.scriptTextLength, path) &&
        WriteFileBytes(pFile, record->trades, (uint64_t)record->tradeCount * TRADE_SIZE, path) &&
        (!hasItems ||
         (WriteFileBytes(pFile, record->stratDataNames, (uint64_t)record->stratDataItemCount * ITEM_NAME_SIZE, path) &&
          WriteFileBytes(pFile, record->stratDataValues, (uint64_t)record->stratDataValueCount * 8, path)));
}

void ConvertTestRecordV024(TestRecord *record)
{
    const int32_t strategies = record->strategyCount;
    for (int32_t s = 0; s < strategies; s++) {
        for (int32_t r = 0; r < record->rowsFilled; r++) {
            StatCell *c = &record->cells[(int64_t)r * strategies + s];
            const StatCell *p = r > 0 ? &record->cells[(int64_t)(r - 1) * strategies + s] : nullptr;
            const double e = c->equityBase + c->markToMarket;
            if (p) {
                c->netAmount = e - (p->equityBase + p->markToMarket);
                if (p->allocation != 0) {
                    c->netPercent = c->netAmount / p->allocation;
                    c->usageAmount = c->usageAmount / p->allocation;
                }
            } else {
                c->timeWeightedEquity = c->timeWeightedPeak = 1.0;
                c->netAmount = e - c->startEquity;
                c->netPercent = c->startEquity != 0 ? c->netAmount / c->startEquity : 0;
            }
            if (!record->compounded) {
                c->timeWeightedEquity = e;
                continue;
            }
            if (p) {
                c->timeWeightedEquity = (c->netPercent + 1) * p->timeWeightedEquity;
                c->timeWeightedPeak = p->timeWeightedPeak;
                c->drawdownBars = p->drawdownBars;
                c->maxDrawdownBars = p->maxDrawdownBars;
                c->drawdownPercent = p->drawdownPercent;
                c->maxDrawdownPercent = p->maxDrawdownPercent;
            }
            if (c->timeWeightedEquity < c->timeWeightedPeak) {
                const double percent = (c->timeWeightedPeak - c->timeWeightedEquity) / c->timeWeightedPeak;
                c->drawdownBars++;
                if (c->drawdownBars > c->maxDrawdownBars) c->maxDrawdownBars = c->drawdownBars;
                c->drawdownPercent = percent;
                if (percent > c->maxDrawdownPercent) c->maxDrawdownPercent = percent;
            } else {
                c->timeWeightedPeak = c->timeWeightedEquity;
                c->drawdownPercent = 0;
                c->drawdownBars = 0;
            }
        }
    }
}

/* ---- the file ----------------------------------------------------------------- */

static void PutI32(uint8_t *at, int32_t v)
{
    for (int k = 0; k < 4; k++) at[k] = (uint8_t)((uint32_t)v >> (8 * k));
}

static int32_t GetI32(const uint8_t *at)
{
    return (int32_t)((uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24);
}

/* ---- several programs on one file ---------------------------------------------- */

/* What tells one stored test from another, as the test reads back from the
** file: a list's own new test and the file's copy of it agree, and the
** statistics computed for the list's rows do not enter.  The name does not
** enter either: a test renamed in one list is still the test the file holds
** under its old name. */
static uint64_t TestFingerprint(const TestRecord *t)
{
    uint64_t hash = HASH_START;
    const int32_t filled = t->rowsFilled < t->rowCount ? t->rowsFilled : t->rowCount;
    const int32_t fields[] = {t->testNumber, t->firstDate, t->lastDate, filled, t->strategyCount, t->parameterCount,
                              t->tradeCount};
    HashBytes(&hash, fields, sizeof fields);
    HashBytes(&hash, t->settings.ActiveScript, strnlen(t->settings.ActiveScript, sizeof t->settings.ActiveScript));
    if (filled > 0 && t->cells && t->strategyCount > 0)
        HashBytes(&hash, &t->cells[(int64_t)(filled - 1) * t->strategyCount], (size_t)t->strategyCount * CELL_SIZE);
    return hash;
}

/* A hash of the whole of an open file, read from its start; 0 when it
** cannot be read (no message: a file that changes is merged with, and the
** merge says what it cannot read). */
static int HashOpenFile(PlatFile file, uint64_t *hash)
{
    *hash = HASH_START;
    if (!PlatSeekFile(file, 0, 0, nullptr)) return 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        uint32_t got = 0;
        if (!PlatReadFile(file, buffer.data(), (uint32_t)buffer.size(), &got)) return 0;
        if (got == 0) return 1;
        HashBytes(hash, buffer.data(), got);
    }
}

static int HashResultsFile(const char *path, uint64_t *hash)
{
    PlatFile file = PlatOpenFile(path, PLAT_OPEN_READ);
    if (!file) return 0;
    const int ok = HashOpenFile(file, hash);
    PlatCloseFile(file);
    return ok;
}

/* The file as the list now knows it: as state saw it, with its contents'
** hash; NoteFileTests adds the tests it holds. */
static void NoteFileSeen(ResultsWindow *window, const FileState &state, uint64_t hash)
{
    window->fileState = state;
    window->fileHash = state.seen ? hash : 0;
}

/* Notes the fingerprints of the tests the file holds: the list's own, just
** read from it or written to it. */
static void NoteFileTests(ResultsWindow *window)
{
    FreeMemory(&window->fileTests);
    window->fileTestCount = 0;
    if (window->testCount < 1 || !AllocMemory(&window->fileTests, (uint64_t)window->testCount * 8)) return;
    for (TestRecord *t = window->firstTest; t; t = t->next) window->fileTests[window->fileTestCount++] = TestFingerprint(t);
}

/* 1 when the file is not as the list last read or wrote it.  The size and
** time of a file can stay the same through a change (a save of as many bytes
** within one tick of the clock), and a new file can get the number of one
** removed before it; only the contents tell for sure. */
static int FileChangedSince(const ResultsWindow *window, const char *path)
{
    const FileState now = LookAtFile(path);
    if (FileStatesDiffer(now, window->fileState)) return 1;
    if (!now.seen) return 0;
    uint64_t hash = 0;
    return !HashResultsFile(path, &hash) || hash != window->fileHash;
}

/* The number after highest; when highest is the largest a number can be,
** the smallest positive number none of the tests in taken holds. */
static int32_t NumberAfter(int32_t highest, const std::unordered_set<int32_t> &taken)
{
    if (highest < INT32_MAX) return highest + 1;
    int32_t number = 1;
    while (taken.count(number)) number++;
    return number;
}

int32_t NextTestNumber(const ResultsWindow *window)
{
    int32_t highest = 0;
    std::unordered_set<int32_t> taken;
    for (const TestRecord *t = window ? window->firstTest : nullptr; t; t = t->next) {
        taken.insert(t->testNumber);
        if (t->testNumber > highest) highest = t->testNumber;
    }
    return NumberAfter(highest, taken);
}

void (*gResultsGuardHeld)(const char *path) = nullptr;
void (*gResultsGuardBusy)(const char *path) = nullptr;
void (*gResultsLoadHeld)(const char *path) = nullptr;

/* The guard of one results file's saves and loads: a file beside it (links
** followed, so saves through a link and through its target take one guard),
** held exclusively while one save reads and writes, and shared while loads
** read (a program that reads the file keeps the Windows system from putting
** a save in its place). */
static int MakeGuardPath(char *out, const char *path)
{
    static const char kSuffix[] = ".~kvl";
    char final[PATH_SIZE];
    if (!PlatResolveLinks(path, final, sizeof final)) CopyString(final, sizeof final, path, -1);
    if (PathLetters(final) + strlen(kSuffix) <= PATH_LETTERS) {
        FormatText(out, PATH_SIZE, "%s%s", final, kSuffix);
        return 1;
    }
    /* Too long with the suffix: one guard for the folder's results files,
    ** "~kvr.~kvl" as earlier versions of the program take it, or, for a
    ** short name at the end of a longer path, "~kvl", which every name of a
    ** results file (".kvr" and more) leaves room for. */
    static const char *const kFolderGuards[] = {"~kvr.~kvl", "~kvl"};
    const char *slash = strrchr(final, '\\');
    const char *other = strrchr(final, '/');
    if (other && (!slash || other > slash)) slash = other;
    const size_t folder = slash ? (size_t)(slash - final) + 1 : 0;
    for (const char *guard : kFolderGuards) {
        if (PathLetters(final, folder) + strlen(guard) > PATH_LETTERS) continue;
        FormatText(out, PATH_SIZE, "%.*s%s", (int)folder, final, guard);
        return 1;
    }
    return 0;
}

/* One more look at a guard another program holds, for the window's wait. */
struct ResultsGuardLook {
    FileGuard *guard;
    const char *guardPath;
    int exclusive;
};

static int LookAtResultsGuardAgain(void *user)
{
    const ResultsGuardLook *look = (const ResultsGuardLook *)user;
    return TakeFileGuard(look->guard, look->guardPath, look->exclusive, 0);
}

/* Takes the guard of path's saves (exclusive) or loads (shared), waiting
** while another program holds it: a minute where no user is there; in the
** window program until the other program lets go, the window answering and
** saying that it waits, unless the user stops waiting.  0 after reporting
** (result code 3).  A load that finds no guard can be made goes on unguarded
** (1, guard not held). */
static int TakeResultsGuard(FileGuard *guard, const char *path, int exclusive)
{
    guard->file = nullptr;
    char guardPath[PATH_SIZE];
    int busy = 0, stopped = 0;
    if (!MakeGuardPath(guardPath, path)) {
        PlatSetLastError(PLAT_ERR_FILENAME_TOO_LONG);
    } else {
        const uint32_t first = gRun.unattended ? GUARD_WAIT_MS : GUARD_QUIET_WAIT_MS;
        if (TakeFileGuard(guard, guardPath, exclusive, first, gResultsGuardBusy, path)) return 1;
        busy = PlatLastError() == PLAT_ERR_SHARING_VIOLATION;
        if (busy && first < GUARD_WAIT_MS) {
            ResultsGuardLook look = {guard, guardPath, exclusive};
            const int waited = WaitForOtherProgram(path, LookAtResultsGuardAgain, &look);
            if (waited == 1) return 1;
            stopped = waited == 0;
            if (waited < 0) {
                /* No one to ask: the rest of the minute, as a batch waits. */
                if (TakeFileGuard(guard, guardPath, exclusive, GUARD_WAIT_MS - first)) return 1;
                busy = PlatLastError() == PLAT_ERR_SHARING_VIOLATION;
            }
        }
    }
    /* Where no guard can be made (a folder this user may only read) a load
    ** reads without one: only a save must wait for its turn. */
    if (!exclusive && !busy) return 1;
    if (stopped)
        ReportError(exclusive ? kMsgSaveStopped : kMsgLoadStopped, path);
    else if (busy)
        ReportError(exclusive ? kMsgSaveBusy : kMsgLoadBusy, path);
    else
        ReportError(kMsgCannotCreate, path, GetErrorText());
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}

/* A results file opened for reading with its header read and checked and its
** parameter columns read; 1, or 0 after reporting (result code 3, nothing
** left open). */
struct StoredResultsHead {
    PlatFile file;
    ResultsLayout layout;
    int32_t testCount;
    int32_t columnCount;
    ParamValue *columns; /* tracked, the caller frees it */
};

static int OpenResultsFile(const char *path, StoredResultsHead *head)
{
    memset(head, 0, sizeof *head);
    if (!OpenFileForRead(&head->file, path)) return 0;
    uint8_t header[RESULTS_HEADER_SIZE];
    if (!PlatGetFileSize(head->file, &sResults.fileSize) || !ReadFileData(head->file, header, sizeof header, path)) {
        PlatCloseFile(head->file);
        head->file = nullptr;
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    float versionWord;
    memcpy(&versionWord, header, 4);
    head->layout = GetResultsLayout(versionWord);
    const ResultsLayout &layout = head->layout;
    head->testCount = GetI32(header + 24);
    head->columnCount = GetI32(header + 28);
    if (layout.recordSize <= 0 || GetI32(header + 4) != layout.recordSize || GetI32(header + 8) != PARAM_SIZE ||
        GetI32(header + 12) != layout.resultSize || GetI32(header + 16) != layout.cellSize ||
        GetI32(header + 20) != layout.tradeSize || head->testCount < 0 || head->columnCount < 0 ||
        (uint64_t)head->columnCount * PARAM_SIZE > sResults.fileSize - RESULTS_HEADER_SIZE) {
        PlatCloseFile(head->file);
        head->file = nullptr;
        ReportError("%s is not compatible with this version of Kestovar.", path);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (head->columnCount > 0 &&
        (!AllocMemory(&head->columns, (uint64_t)head->columnCount * PARAM_SIZE) ||
         !ReadFileData(head->file, head->columns, (uint32_t)head->columnCount * PARAM_SIZE, path))) {
        FreeMemory(&head->columns);
        PlatCloseFile(head->file);
        head->file = nullptr;
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    for (int32_t c = 0; c < head->columnCount; c++) head->columns[c].name[PARAM_VALUE_NAME_SIZE - 1] = 0;
    return 1;
}

/* The next stored test of an open results file, in its layout, converted
** from an older one; null after reporting. */
static TestRecord *ReadNextTest(const StoredResultsHead *head, const char *path)
{
    sResults.layout = head->layout;
    TestRecord *record = ReadStoredTest(head->file, path);
    sResults.layout = CurrentLayout();
    if (!record) return nullptr;
    if (head->layout.version == 0.24f) ConvertTestRecordV024(record);
    if (head->layout.version < 0.34f)
        for (int64_t c = 0; c < (int64_t)record->rowsFilled * record->strategyCount; c++)
            record->cells[c].shortInvested = 0;
    return record;
}

/* Puts the list's tests in this order. */
static void RelinkTests(ResultsWindow *window, const std::vector<TestRecord *> &tests)
{
    window->firstTest = window->lastTest = nullptr;
    for (TestRecord *t : tests) LinkTestAtEnd(window, t);
    window->testCount = (int32_t)tests.size();
}

/* The file changed since the list last read or wrote it: the list becomes
** the file's tests as they are now (the list's own record where it has the
** same test; none where the list deleted it), then the tests both knew that
** the other program no longer saved (a list never loses a test it shows,
** renumbered only when the number is taken), then the list's new tests, each
** numbered after the highest number before it when it is not already.  The
** list then knows the file as it read it, whether or not its own save goes
** through.  1, or 0 after reporting when the file cannot be read whole (the
** list is unchanged). */
static int MergeSavedTests(ResultsWindow *window, const char *path)
{
    /* The file's state before it is opened: a save by another program after
    ** this reads as a change, never the other way round. */
    const FileState state = LookAtFile(path);
    if (!PlatFileExists(path)) {
        NoteFileSeen(window, state, 0); /* removed meanwhile: this list is all there is */
        FreeMemory(&window->fileTests);
        window->fileTestCount = 0;
        return 1;
    }
    StoredResultsHead head;
    std::vector<TestRecord *> theirs;
    uint64_t hash = 0;
    bool ok = OpenResultsFile(path, &head);
    for (int32_t i = 0; ok && i < head.testCount; i++) {
        TestRecord *record = ReadNextTest(&head, path);
        if (record) theirs.push_back(record);
        ok = record != nullptr;
    }
    if (ok && !HashOpenFile(head.file, &hash)) hash = 0;
    if (head.file) PlatCloseFile(head.file);
    if (ok && !AddResultsColumns(window, head.columnCount, head.columns)) ok = false;
    FreeMemory(&head.columns);
    if (!ok) {
        for (TestRecord *t : theirs) FreeTestRecord(nullptr, t);
        ReportError(gRun.state == RUN_IDLE ? kMsgNotMergedBySave : kMsgNotMerged, path);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }

    /* The tests both knew, by fingerprint (a multiset: a file may hold a test twice). */
    std::vector<uint64_t> known(window->fileTests, window->fileTests + window->fileTestCount);
    std::sort(known.begin(), known.end());
    auto takeKnown = [](std::vector<uint64_t> &pool, uint64_t fingerprint) {
        auto at = std::lower_bound(pool.begin(), pool.end(), fingerprint);
        if (at == pool.end() || *at != fingerprint) return false;
        pool.erase(at);
        return true;
    };
    /* The list's tests the file had, in list order with their fingerprints,
    ** and an index of them by fingerprint; its new tests. */
    struct Known {
        uint64_t fingerprint;
        TestRecord *test; /* null once it has its place in the merge */
    };
    std::vector<Known> oursKnown;
    std::vector<TestRecord *> oursNew;
    std::vector<uint64_t> pool = known;
    for (TestRecord *t = window->firstTest; t; t = t->next) {
        const uint64_t fingerprint = TestFingerprint(t);
        if (takeKnown(pool, fingerprint))
            oursKnown.push_back(Known{fingerprint, t});
        else
            oursNew.push_back(t);
    }
    std::vector<size_t> byFingerprint(oursKnown.size());
    for (size_t k = 0; k < byFingerprint.size(); k++) byFingerprint[k] = k;
    std::stable_sort(byFingerprint.begin(), byFingerprint.end(),
                     [&](size_t a, size_t b) { return oursKnown[a].fingerprint < oursKnown[b].fingerprint; });

    /* What the file holds, as the list learns it now, in the file's order:
    ** after the merge the list's records stand for the file's tests they
    ** match, and those have the same fingerprints. */
    std::vector<uint64_t> fileTests;
    fileTests.reserve(theirs.size());
    std::vector<TestRecord *> merged, adopted;
    pool = known;
    for (TestRecord *t : theirs) {
        const uint64_t fingerprint = TestFingerprint(t);
        fileTests.push_back(fingerprint);
        if (!takeKnown(pool, fingerprint)) {
            merged.push_back(t); /* saved by the other program */
            adopted.push_back(t);
            continue;
        }
        auto at = std::lower_bound(byFingerprint.begin(), byFingerprint.end(), fingerprint,
                                   [&](size_t k, uint64_t f) { return oursKnown[k].fingerprint < f; });
        while (at != byFingerprint.end() && oursKnown[*at].fingerprint == fingerprint && !oursKnown[*at].test) ++at;
        if (at != byFingerprint.end() && oursKnown[*at].fingerprint == fingerprint) {
            merged.push_back(oursKnown[*at].test);
            oursKnown[*at].test = nullptr;
        }
        FreeTestRecord(nullptr, t); /* the list's own record stands for it, or the list deleted it */
    }
    int32_t highest = 0;
    std::unordered_set<int32_t> numbers;
    for (TestRecord *t : merged) {
        numbers.insert(t->testNumber);
        if (t->testNumber > highest) highest = t->testNumber;
    }
    for (const Known &k : oursKnown) {
        TestRecord *t = k.test;
        if (!t) continue;
        if (numbers.count(t->testNumber)) t->testNumber = NumberAfter(highest, numbers);
        if (t->testNumber > highest) highest = t->testNumber;
        numbers.insert(t->testNumber);
        merged.push_back(t);
    }
    for (TestRecord *t : oursNew) {
        if (t->testNumber <= highest || numbers.count(t->testNumber)) t->testNumber = NumberAfter(highest, numbers);
        if (t->testNumber > highest) highest = t->testNumber;
        numbers.insert(t->testNumber);
        merged.push_back(t);
    }
    RelinkTests(window, merged);
    NoteFileSeen(window, state, hash);
    FreeMemory(&window->fileTests);
    window->fileTestCount = 0;
    if (!fileTests.empty() && AllocMemory(&window->fileTests, (uint64_t)fileTests.size() * 8)) {
        memcpy(window->fileTests, fileTests.data(), fileTests.size() * 8);
        window->fileTestCount = (int32_t)fileTests.size();
    }
    if (gRunViewHooks.fillResultsRow)
        for (TestRecord *t : adopted) gRunViewHooks.fillResultsRow(window, t);
    if (window->lastTest) gCurrentTest = window->lastTest;
    window->modified = 1;
    return 1;
}

/* Writes the list to path through a temporary file; 1, or 0 after reporting. */
static int WriteResultsFile(ResultsWindow *window, const char *path);

/* Asks before a list that was only partly loaded replaces its file; 1 to save. */
static int ConfirmPartialSave(ResultsWindow *window)
{
    if (gRun.unattended) {
        ReportError("%s was only partly loaded; the results were not saved.", window->path);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return MessageBoxFormat(0x24 /* MB_YESNO | MB_ICONQUESTION */,
                            "%s could only be partly loaded. Saving now would drop the tests that could not be "
                            "read.\r\n\r\nSave anyway?",
                            window->path) == 6 /* IDYES */;
}

int SaveResultsFile(ResultsWindow *window, int saveAs)
{
    if (!window) return 0;
    char path[PATH_SIZE];
    CopyString(path, sizeof path, window->path, -1);
    if (!path[0] || saveAs) {
        if (!BrowseForFile(path, sResults.saveFolder, "Save Results File", "Results", "KVR", 1)) return 0;
    }
    if (window->partialLoad && !ConfirmPartialSave(window)) return 0;

    /* Only the list's own file is merged with: a file chosen by Save As is
    ** replaced, as the user was asked. */
    const bool ownFile = window->path[0] && ComparePaths(path, window->path) == 0;
    if (gBeforeResultsSave) gBeforeResultsSave(path);
    FileGuard guard;
    window->numbersUnsettled = 1;
    if (!TakeResultsGuard(&guard, path, 1)) return 0;
    if (gResultsGuardHeld) gResultsGuardHeld(path);
    int ok = !ownFile || !FileChangedSince(window, path) || MergeSavedTests(window, path);
    if (ok) window->numbersUnsettled = 0;
    if (ok) ok = WriteResultsFile(window, path);
    if (ok) {
        /* The file as written, read back while the guard still keeps other
        ** saves out. */
        const FileState state = LookAtFile(path);
        uint64_t hash = 0;
        if (!HashResultsFile(path, &hash)) hash = 0;
        NoteFileSeen(window, state, hash);
        NoteFileTests(window);
    }
    ReleaseFileGuard(&guard);
    if (!ok) return 0;
    CopyString(window->path, sizeof window->path, path, -1);
    window->partialLoad = 0;
    window->modified = 0;
    UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
    UpdateResultsTitle(window);
    return 1;
}

static int WriteResultsFile(ResultsWindow *window, const char *path)
{
    ReplaceFile rf;
    /* The results file is read and written under this one use in a run. */
    if (!ClaimRunOutput(path, "the ResultsFile") || !BeginReplaceFile(&rf, path, 0)) return 0;
    PumpMessages();
    uint8_t header[RESULTS_HEADER_SIZE];
    memcpy(header, &kResultsFileVersion, 4);
    PutI32(header + 4, RECORD_SIZE);
    PutI32(header + 8, PARAM_SIZE);
    PutI32(header + 12, RESULT_SIZE);
    PutI32(header + 16, CELL_SIZE);
    PutI32(header + 20, TRADE_SIZE);
    PutI32(header + 24, window->testCount);
    PutI32(header + 28, window->columnCount);
    /* A failed write has said what failed, naming the file: once is enough. */
    if (!WriteReplaceFile(&rf, header, sizeof header)) {
        AbandonReplaceFile(&rf);
        return 0;
    }
    bool ok = WriteReplaceFile(&rf, window->columns, (uint32_t)window->columnCount * PARAM_SIZE);
    for (TestRecord *t = window->firstTest; ok && t; t = t->next) ok = WriteTestRecord(&rf.file, t, path);
    if (!ok || !CommitReplaceFile(&rf)) {
        SetResultCode(RESULT_FILE_ERROR);
        AbandonReplaceFile(&rf);
        return 0;
    }
    return 1;
}

int LoadResultsFile(const char *path, int create)
{
    if (create && !PlatFileExists(path)) {
        ResultsWindow *window = CreateResultsWindow(0, nullptr);
        if (!window) return 0;
        CopyString(window->path, sizeof window->path, path, -1);
        if (!SaveResultsFile(window, 0)) {
            CloseResultsWindow(window);
            return 0;
        }
        return 1;
    }
    if (FindResultsWindowByPath(path)) return 1;

    /* Loads share the guard, so no save puts a new file in place while the
    ** file is read (Windows refuses that move, and the save would fail). */
    FileGuard guard;
    if (!TakeResultsGuard(&guard, path, 0)) return 0;
    /* The file's state before it is opened: a save by another program after
    ** this reads as a change, never the other way round. */
    const FileState state = LookAtFile(path);
    StoredResultsHead head;
    if (!OpenResultsFile(path, &head)) {
        ReleaseFileGuard(&guard);
        return 0;
    }
    if (gResultsLoadHeld) gResultsLoadHeld(path);
    PlatFile file = head.file;
    const int32_t testCount = head.testCount;
    ResultsWindow *window = CreateResultsWindow(head.columnCount, head.columns);
    FreeMemory(&head.columns);
    if (!window) {
        PlatCloseFile(file);
        ReleaseFileGuard(&guard);
        return 0;
    }
    char savedStatus[256];
    GetStatusText(0, savedStatus, sizeof savedStatus);
    SetStatusText(0, "Loading Results File...");
    SetWaitCursor(1);
    for (int32_t i = 0; i < testCount; i++) {
        SetStatusText(1, "Test %d of %d", i + 1, testCount);
        TestRecord *record = ReadNextTest(&head, path);
        if (!record) {
            window->partialLoad = 1;
            break;
        }
        AddTestToResults(window, record);
    }
    uint64_t hash = 0;
    if (!HashOpenFile(file, &hash)) hash = 0;
    PlatCloseFile(file);
    ReleaseFileGuard(&guard);
    NoteFileSeen(window, state, hash);
    NoteFileTests(window);
    CopyString(window->path, sizeof window->path, path, -1);
    window->modified = 0;
    UpdateResultsTitle(window);
    UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
    RecalculateTestStats(window, 1);
    SetWaitCursor(0);
    SetStatusText(1, nullptr);
    SetStatusText(0, savedStatus[0] ? savedStatus : nullptr);
    return 1;
}

int QuerySaveResults(ResultsWindow *window, int ask)
{
    if (!window->modified || (!window->path[0] && !gSettings.AskSaveUntitled)) return 1;
    if (ask) {
        int answer = MessageBoxFormat(0x23 /* MB_YESNOCANCEL | MB_ICONQUESTION */, "Save changes to %s?",
                                      window->path[0] ? window->path : "(untitled results file)");
        if (answer == 2 /* IDCANCEL */) return 0;
        if (answer == 7 /* IDNO */) {
            window->modified = 0;
            return 1;
        }
    }
    return SaveResultsFile(window, 0);
}
