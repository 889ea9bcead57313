/* datafile.cpp -- reading and writing the data file (layout in datafile.h). */
#include "marketdata/store/datafile.h"

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/file_state.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/data_load.h"
#include "services/services.h"

/* ---- messages ----------------------------------------------------------------- */

static const char kMsgCannotOpen[] = "Unable to open %s";
static const char kMsgCannotRead[] = "Unable to read %s";
static const char kMsgNotCompatible[] = "%s is not compatible with this version of Kestovar.";
static const char kMsgDateList[] = "Unable to read the date list";
static const char kMsgStopped[] = "Data was not completely loaded.";
static const char kMsgRecord[] = "Unable to read stock record number %d of %d";
/* clang-format off */
static const char *const kMsgBars[BAR_SIZE_COUNT] = {
    "Unable to read daily bars for %s",
    "Unable to read weekly bars for %s",
    "Unable to read monthly bars for %s",
    "Unable to read quarterly bars for %s",
    "Unable to read yearly bars for %s",
};
/* clang-format on */
static const char kMsgEvents[] = "Unable to read event list for stock %s";
static const char kMsgCannotCreate[] = "Unable to create %s\r\n\r\n%s";
static const char kMsgAnotherSave[] = "Another import is saving this data file.";
static const char kMsgFundamentals[] = "Unable to read current fundamentals for stock %s";

/* ---- versions ------------------------------------------------------------------- */

/* Newest first: a stored version uses the first row it is not below. */
/* clang-format off */
static const DataFileLayout kLayouts[] = {
    /* version  info  trailer  record */
    {0.34f, 1384, 40, 1424},
    {0.33f, 1352, 32, 1384},
    {0.32f, 1344, 32, 1376},
    {0.31f, 1344, 24, 1368},
    {0.30f, 1336, 24, 1360},
    {0.29f, 1176, 24, 1200},
    {0.28f, 920, 24, 944},
    {0.27f, 680, 24, 704},
};
/* clang-format on */

int GetDataFileLayout(float version, DataFileLayout *layout)
{
    /* Written so that a NaN, which compares false with everything, is refused. */
    if (!(version >= DATA_FILE_OLDEST_VERSION)) return 0;
    for (const DataFileLayout &row : kLayouts) {
        if (!(version < row.version)) {
            *layout = row;
            return 1;
        }
    }
    return 0;
}

uint32_t DataHeaderSize(float version)
{
    return version < DATA_FILE_VERSION ? DATA_HEADER_SIZE_OLD : DATA_HEADER_SIZE;
}

/* ---- little-endian fields ---------------------------------------------------------- */

static uint32_t GetU32(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void PutU32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

static float GetF32(const uint8_t *p)
{
    uint32_t bits = GetU32(p);
    float v;
    memcpy(&v, &bits, 4);
    return v;
}

static double GetF64(const uint8_t *p)
{
    uint64_t bits = (uint64_t)GetU32(p) | (uint64_t)GetU32(p + 4) << 32;
    double v;
    memcpy(&v, &bits, 8);
    return v;
}

static void PutF64(uint8_t *p, double v)
{
    uint64_t bits;
    memcpy(&bits, &v, 8);
    PutU32(p, (uint32_t)bits);
    PutU32(p + 4, (uint32_t)(bits >> 32));
}

/* Header offsets of the five list lengths, by BarSize. */
static const uint32_t kListLengthOffsets[BAR_SIZE_COUNT] = {24, 28, 32, 304, 308};
/* Trailer offsets of the five bar counts, by BarSize. */
static const uint32_t kBarCountOffsets[BAR_SIZE_COUNT] = {0, 4, 8, 32, 36};

void DecodeDataFileHeader(const uint8_t *bytes, uint32_t size, DataFileHeader *h)
{
    memset(h, 0, sizeof *h);
    h->version = GetF32(bytes);
    h->symbolRecordSize = GetU32(bytes + 4);
    h->barSize = GetU32(bytes + 8);
    h->eventSize = GetU32(bytes + 12);
    h->keepAdjusted = GetU32(bytes + 16);
    h->symbolCount = GetU32(bytes + 20);
    for (int b = 0; b < BAR_SIZE_COUNT; b++)
        if (kListLengthOffsets[b] + 4 <= size) h->listLengths[b] = GetU32(bytes + kListLengthOffsets[b]);
    h->noteLength = GetU32(bytes + 36);
    h->fundamentalsCount = GetU32(bytes + 40);
    h->listNameCount = GetU32(bytes + 44);
    memcpy(h->constituencyIds, bytes + 48, CONSTITUENCY_ID_BYTES);
}

void EncodeDataFileHeader(const DataFileHeader *h, uint8_t out[DATA_HEADER_SIZE])
{
    memset(out, 0, DATA_HEADER_SIZE);
    uint32_t bits;
    memcpy(&bits, &h->version, 4);
    PutU32(out, bits);
    PutU32(out + 4, h->symbolRecordSize);
    PutU32(out + 8, h->barSize);
    PutU32(out + 12, h->eventSize);
    PutU32(out + 16, h->keepAdjusted);
    PutU32(out + 20, h->symbolCount);
    for (int b = 0; b < BAR_SIZE_COUNT; b++) PutU32(out + kListLengthOffsets[b], h->listLengths[b]);
    PutU32(out + 36, h->noteLength);
    PutU32(out + 40, h->fundamentalsCount);
    PutU32(out + 44, h->listNameCount);
    memcpy(out + 48, h->constituencyIds, CONSTITUENCY_ID_BYTES);
}

void DecodeSymbolTrailer(const uint8_t *bytes, uint32_t size, SymbolTrailer *t)
{
    memset(t, 0, sizeof *t);
    for (int b = 0; b < BAR_SIZE_COUNT; b++)
        if (kBarCountOffsets[b] + 4 <= size) t->barCounts[b] = GetU32(bytes + kBarCountOffsets[b]);
    t->eventCount = GetU32(bytes + 12);
    t->firstDate = (int32_t)GetU32(bytes + 16);
    t->lastDate = (int32_t)GetU32(bytes + 20);
    if (size >= 32) {
        t->dataSource = (int32_t)GetU32(bytes + 24);
        t->securityType = (int32_t)GetU32(bytes + 28);
    }
}

void EncodeSymbolTrailer(const SymbolTrailer *t, uint8_t out[SYMBOL_TRAILER_SIZE])
{
    for (int b = 0; b < BAR_SIZE_COUNT; b++) PutU32(out + kBarCountOffsets[b], t->barCounts[b]);
    PutU32(out + 12, t->eventCount);
    PutU32(out + 16, (uint32_t)t->firstDate);
    PutU32(out + 20, (uint32_t)t->lastDate);
    PutU32(out + 24, (uint32_t)t->dataSource);
    PutU32(out + 28, (uint32_t)t->securityType);
}

/* ---- converting older symbol records ------------------------------------------------ */

enum {
    OLD_SYMBOL_END = 24,      /* the symbol text was 24 characters before 0.34 */
    OLD_INDU_INDEX_END = 624, /* where the shorter root-symbol field ended, once moved */
    INFO_NAME = 40,
    INFO_TYPE = 120,
    INFO_LIST_NUMBER = 640,
    INFO_LIST_MASK = 644,
    INFO_TRBC = 664,
    INFO_GICS = 672,
    INFO_INCLUDE_LISTS = 952,
    INFO_MARGIN = 1368,
    INFO_PRICE_MULT = 1376
};

void ConvertSymbolRecord(uint8_t *rec, SymbolTrailer *trailer, const DataFileLayout *layout, uint32_t listNameCount)
{
    const float v = layout->version;
    const uint32_t n = layout->infoBytes;
    if (v < 0.34f) {
        /* The symbol text and the root-symbol field each grew by 16 bytes.
        ** Everything after the symbol text moves up 16; then everything from
        ** the end of the old root-symbol field (now 16 bytes further on, so it
        ** ends at n + 16) moves up another 16.  Carrying the second move to
        ** n + 16 keeps the last 16 bytes of the old block, where the margin
        ** and the price multiplier are. */
        memmove(rec + INFO_NAME, rec + OLD_SYMBOL_END, n - OLD_SYMBOL_END);
        memset(rec + OLD_SYMBOL_END, 0, INFO_NAME - OLD_SYMBOL_END);
        memmove(rec + INFO_LIST_NUMBER, rec + OLD_INDU_INDEX_END, n + 16 - OLD_INDU_INDEX_END);
        memset(rec + OLD_INDU_INDEX_END, 0, INFO_LIST_NUMBER - OLD_INDU_INDEX_END);
    }
    if (v < 0.33f) PutF64(rec + INFO_PRICE_MULT, 1.0);
    if (v < 0.31f && GetF64(rec + INFO_GICS) == 0.0) {
        PutF64(rec + INFO_MARGIN, GetF64(rec + INFO_TRBC));
        PutF64(rec + INFO_TRBC, 0.0);
    }
    if (v < 0.29f) {
        uint32_t mask = GetU32(rec + INFO_LIST_MASK);
        uint32_t lists = listNameCount < (uint32_t)MAX_LIST_NAMES ? listNameCount : (uint32_t)MAX_LIST_NAMES;
        for (uint32_t k = 0; k < lists; k++) rec[INFO_INCLUDE_LISTS + k] = (uint8_t)((mask >> (k % 32)) & 1);
    }
    if (v < 0.32f) {
        trailer->dataSource = -1;
        trailer->securityType = ParseSecurityType((const char *)rec + INFO_TYPE);
    }
}

/* Text fields of the information block (offset, size).  A damaged file may
** fill one to the brim; ending each with a NUL keeps every later use of the
** texts inside its field. */
static const uint16_t kInfoTexts[][2] = {
    {0, 40},
    {40, 80},
    {120, 80},
    {200, 80},
    {280, 80},
    {360, 80},
    {440, 80},
    {520, 80},
    {600, 40},
    {712, 80},
    {792, 80},
    {872, 80},
    {1208, 80},
    {1288, 80},
};

static void TerminateInfoTexts(uint8_t *rec)
{
    for (const auto &field : kInfoTexts) rec[field[0] + field[1] - 1] = 0;
}

/* ---- reading ------------------------------------------------------------------------ */

/* A date the calendar can step from and the holiday rules can work with.  A
** damaged file can hold any number; one beyond the range would make later
** date arithmetic overflow, so the file is refused as damaged instead. */
static int IsValidDate(int64_t date)
{
    return date >= DATE_FIRST_VALID && date <= DATE_LAST_VALID;
}

/* Reads exactly size bytes; 0 without a message when the file does not hold
** them or the read fails.  Large blocks go in pieces the platform call takes. */
static int ReadBytes(DataFileReader *r, void *buffer, uint64_t size)
{
    if (size > r->remaining) return 0;
    uint8_t *p = (uint8_t *)buffer;
    while (size > 0) {
        uint32_t chunk = size > 0x40000000u ? 0x40000000u : (uint32_t)size;
        uint32_t got = 0;
        if (!PlatReadFile(r->file, p, chunk, &got) || got == 0) return 0;
        p += got;
        size -= got;
        r->remaining -= got;
    }
    return 1;
}

int ReadDateList(DataFileReader *reader, DateList *list, uint32_t length)
{
    if ((uint64_t)length * 4 > reader->remaining || length > (uint32_t)INT32_MAX) {
        ReportError(kMsgDateList);
        return 0;
    }
    /* Room for the dates and the terminating 0 even when nothing is stored. */
    uint32_t need = length > 0 ? length : 1;
    if ((int64_t)need > list->capacity) {
        if (!ReallocMemory(&list->dates, (uint64_t)need * 4)) return 0;
        list->capacity = (int32_t)need;
    }
    if (length > 0 && !ReadBytes(reader, list->dates, (uint64_t)length * 4)) {
        ReportError(kMsgDateList);
        return 0;
    }
    int32_t count = length > 0 ? (int32_t)length - 1 : 0;
    for (int32_t i = 0; i < count; i++) {
        if (!IsValidDate(list->dates[i])) {
            list->count = 0;
            list->dates[0] = 0;
            ReportError(kMsgDateList);
            return 0;
        }
    }
    list->count = count;
    list->dates[list->count] = 0;
    return 1;
}

/* Reads one symbol: its record, bars, events and fundamentals.  1/0 after
** reporting (an allocation failure reports nothing of its own). */
static int ReadSymbol(DataFileReader *r, const DataFileHeader *h, const DataFileLayout *layout, int index,
                      SymbolRecord *record)
{
    uint8_t rec[DATA_SYMBOL_RECORD_SIZE];
    memset(rec, 0, sizeof rec);
    if (!ReadBytes(r, rec, layout->infoBytes) || !ReadBytes(r, rec + SYMBOL_INFO_SIZE, layout->trailerBytes)) {
        ReportError(kMsgRecord, index + 1, (int)h->symbolCount);
        return 0;
    }
    SymbolTrailer trailer;
    DecodeSymbolTrailer(rec + SYMBOL_INFO_SIZE, layout->trailerBytes, &trailer);
    /* 0 is a symbol without bars. */
    if ((trailer.firstDate != 0 && !IsValidDate(trailer.firstDate)) ||
        (trailer.lastDate != 0 && !IsValidDate(trailer.lastDate))) {
        ReportError(kMsgRecord, index + 1, (int)h->symbolCount);
        return 0;
    }
    if (layout->version < DATA_FILE_VERSION) ConvertSymbolRecord(rec, &trailer, layout, h->listNameCount);
    TerminateInfoTexts(rec);
    memcpy(&record->info, rec, SYMBOL_INFO_SIZE);
    const char *symbol = record->info.Symbol;
    if (gSettings.ShowStatusBar) SetStatusText(1, "Symbol: %s", symbol);

    record->firstDate = trailer.firstDate;
    record->lastDate = trailer.lastDate;
    record->dataSource = trailer.dataSource;
    record->securityType = trailer.securityType;
    record->firstUsedDate = FIRST_USED_NONE;
    if (record->firstDate < gStore.firstDate) gStore.firstDate = record->firstDate;
    if (record->lastDate > gStore.lastDate) gStore.lastDate = record->lastDate;

    for (int b = 0; b < BAR_SIZE_COUNT; b++) {
        uint64_t count = trailer.barCounts[b];
        if (count * DATA_BAR_SIZE > r->remaining || count >= (uint64_t)INT32_MAX) {
            ReportError(kMsgBars[b], symbol);
            return 0;
        }
        if (!AllocMemory(&record->bars[b], (count + 1) * DATA_BAR_SIZE)) return 0;
        record->barCounts[b] = (int32_t)count;
        if (!ReadBytes(r, record->bars[b], count * DATA_BAR_SIZE)) {
            ReportError(kMsgBars[b], symbol);
            return 0;
        }
        for (uint64_t k = 0; k < count; k++) {
            if (!IsValidDate(record->bars[b][k].date)) {
                ReportError(kMsgBars[b], symbol);
                return 0;
            }
        }
    }
    if (record->barCounts[BAR_DAILY] > gStore.maxDailyBars) gStore.maxDailyBars = record->barCounts[BAR_DAILY];

    if (trailer.eventCount > 0) {
        uint64_t count = trailer.eventCount;
        if (count * DATA_EVENT_SIZE > r->remaining || count >= (uint64_t)INT32_MAX) {
            ReportError(kMsgEvents, symbol);
            return 0;
        }
        if (!AllocMemory(&record->events, count * DATA_EVENT_SIZE)) return 0;
        record->eventCount = record->eventCapacity = (int32_t)count;
        if (!ReadBytes(r, record->events, count * DATA_EVENT_SIZE)) {
            ReportError(kMsgEvents, symbol);
            return 0;
        }
    }

    if (h->fundamentalsCount > 0) {
        uint64_t count = h->fundamentalsCount;
        if (count * DATA_FUNDAMENTAL_SIZE > r->remaining) {
            ReportError(kMsgFundamentals, symbol);
            return 0;
        }
        if (!AllocMemory(&record->fundamentals, count * DATA_FUNDAMENTAL_SIZE)) return 0;
        if (!ReadBytes(r, record->fundamentals, count * DATA_FUNDAMENTAL_SIZE)) {
            ReportError(kMsgFundamentals, symbol);
            return 0;
        }
        if (gScriptDataLinks.markFundamentalField)
            for (uint64_t k = 0; k < count; k++) gScriptDataLinks.markFundamentalField(record->fundamentals[k].fieldId);
    }
    return 1;
}

int LoadedDataFileChanged()
{
    if (!gStore.loadedPath[0] || !gStore.loadedState.seen) return 0;
    const FileState now = LookAtFile(gStore.loadedPath);
    return now.seen && FileStatesDiffer(now, gStore.loadedState);
}

/* Reads the file at path into the loaded data (steps after the path is known). */
static int ReadDataFileAt(const char *path, int ask)
{
    int ok = 0;
    int busy = 0;
    int touched = 0; /* the loaded data may hold parts of this file */
    int statusSaved = 0;
    char savedStatus[257];
    DataFileHeader h;
    DataFileLayout layout;
    uint8_t headerBytes[DATA_HEADER_SIZE];
    DataFileReader reader = {nullptr, path, 0};
    uint64_t fileSize = 0;
    uint64_t slots = 0;

    memset(&h, 0, sizeof h);
    memset(headerBytes, 0, sizeof headerBytes);
    /* The file's state before it is opened: a save by another program after
    ** this reads as a change, never the other way round. */
    const FileState state = LookAtFile(path);
    reader.file = PlatOpenFile(path, PLAT_OPEN_READ);
    if (reader.file) NoteRunInput(path, "the data file");
    if (!reader.file) {
        ReportError(kMsgCannotOpen, path);
        goto done;
    }
    if (!PlatGetFileSize(reader.file, &fileSize)) {
        ReportError(kMsgCannotRead, path);
        goto done;
    }
    reader.remaining = fileSize;
    if (!ReadBytes(&reader, headerBytes, 4) ||
        !ReadBytes(&reader, headerBytes + 4, DataHeaderSize(GetF32(headerBytes)) - 4)) {
        ReportError(kMsgCannotRead, path);
        goto done;
    }
    DecodeDataFileHeader(headerBytes, DataHeaderSize(GetF32(headerBytes)), &h);
    if (!GetDataFileLayout(h.version, &layout) || h.symbolRecordSize != layout.recordSize ||
        h.barSize != DATA_BAR_SIZE || h.eventSize != DATA_EVENT_SIZE || h.listNameCount > MAX_LIST_NAMES ||
        h.symbolCount > (uint32_t)INT32_MAX || h.fundamentalsCount > (uint32_t)INT32_MAX) {
        ReportError(kMsgNotCompatible, path);
        goto done;
    }

    touched = 1;
    for (int k = 0; k < MAX_CONSTITUENCY_IDS; k++) gStore.constituencyIds[k] = GetU32(h.constituencyIds + 4 * k);
    if (h.listNameCount > 0) {
        uint64_t bytes = (uint64_t)h.listNameCount * LIST_NAME_SIZE;
        if (bytes > reader.remaining) {
            ReportError(kMsgCannotRead, path);
            goto done;
        }
        if (!AllocMemory(&gStore.listNames, bytes)) goto done;
        if (!ReadBytes(&reader, gStore.listNames, bytes)) {
            ReportError(kMsgCannotRead, path);
            goto done;
        }
        for (uint32_t k = 0; k < h.listNameCount; k++) gStore.listNames[k][LIST_NAME_SIZE - 1] = 0;
    }
    if (h.noteLength > 0) {
        if (h.noteLength > reader.remaining) {
            ReportError(kMsgCannotRead, path);
            goto done;
        }
        if (!AllocMemory(&gStore.note, h.noteLength)) goto done;
        if (!ReadBytes(&reader, gStore.note, h.noteLength)) {
            ReportError(kMsgCannotRead, path);
            goto done;
        }
        gStore.note[h.noteLength - 1] = 0;
        gStore.noteLength = h.noteLength;
    }
    for (int b = 0; b < BAR_SIZE_COUNT; b++) {
        gStore.dateLists[b].barSize = b;
        if (!ReadDateList(&reader, &gStore.dateLists[b], h.listLengths[b])) goto done;
    }

    if (ask) {
        SetWaitCursor(1);
        busy = 1;
    }
    PumpMessages();
    if (path != gSettings.DataFile) CopyString(gSettings.DataFile, sizeof gSettings.DataFile, path, -1);
    ShowDataFileInPanel();

    /* A damaged count must not size the symbol array: it grows with the
    ** symbols actually read (doubling, up to the count and the zero record
    ** after it), so a count the file cannot hold fails at the first missing
    ** record without a large allocation. */
    slots = (h.symbolCount < 1024 ? h.symbolCount : 1024) + 1;
    if (!AllocMemory(&gStore.symbols, slots * sizeof(SymbolRecord))) goto done;
    gStore.firstDate = 99991231;
    gStore.lastDate = 0;
    gStore.maxDailyBars = 0;
    GetStatusText(0, savedStatus, sizeof savedStatus);
    statusSaved = 1;
    SetStatusText(0, "Loading %s...", path);

    for (uint32_t i = 0; i < h.symbolCount; i++) {
        if (i % 10 == 9) PumpMessages();
        if (gRun.state.load() == RUN_STOP_REQUESTED) {
            ReportError(kMsgStopped);
            goto done;
        }
        if (i + 1 >= slots) {
            uint64_t grown = slots * 2 < (uint64_t)h.symbolCount + 1 ? slots * 2 : (uint64_t)h.symbolCount + 1;
            if (!ReallocMemory(&gStore.symbols, grown * sizeof(SymbolRecord))) goto done;
            slots = grown;
        }
        if (!ReadSymbol(&reader, &h, &layout, (int)i, &gStore.symbols[i])) goto done;
    }
    gStore.symbolCount = (int32_t)h.symbolCount;
    if (!BuildCalendarSymbol()) goto done;
    CopyString(gStore.loadedPath, sizeof gStore.loadedPath, path, -1);
    gStore.loadedState = state;
    AddDataFileToHistory(path);
    gStore.fundamentalsCount = (int32_t)h.fundamentalsCount;
    gStore.listNameCount = (int32_t)h.listNameCount;
    gStore.keepAdjusted = (int32_t)h.keepAdjusted;
    gStore.fileVersion = h.version;
    ok = 1;

done:
    if (busy) SetWaitCursor(0);
    if (reader.file) PlatCloseFile(reader.file);
    /* Nothing of a file that failed stays loaded. */
    if (!ok && touched) UnloadData();
    if (statusSaved) {
        SetStatusText(0, "%s", savedStatus);
        SetStatusText(1, nullptr);
    }
    if (!ok) SetResultCode(RESULT_DATA_NOT_LOADED);
    return ok;
}

int ReadDataFile(const char *pathIn, int ask)
{
    char path[PATH_SIZE];
    CopyString(path, sizeof path, pathIn ? pathIn : "", -1);
    if (ask || !path[0]) {
        /* An unattended run has nobody to answer a file chooser. */
        if (gRun.unattended || !BrowseForFile(path, nullptr, "Select Data File", "Data", "KVD", 0)) return 0;
    }
    return ReadDataFileAt(path, ask);
}

/* ---- writing --------------------------------------------------------------------------- */

/* Bytes the loaded data takes in the file. */
static uint64_t DataFileSize(uint32_t noteLength)
{
    uint64_t size = DATA_HEADER_SIZE + (uint64_t)gStore.listNameCount * LIST_NAME_SIZE + noteLength;
    for (int b = 0; b < BAR_SIZE_COUNT; b++)
        size += 4 * (uint64_t)((gStore.dateLists[b].dates ? gStore.dateLists[b].count : 0) + 1);
    for (int32_t i = 0; i < gStore.symbolCount; i++) {
        const SymbolRecord *r = &gStore.symbols[i];
        size += DATA_SYMBOL_RECORD_SIZE + (uint64_t)gStore.fundamentalsCount * DATA_FUNDAMENTAL_SIZE;
        for (int b = 0; b < BAR_SIZE_COUNT; b++)
            if (r->bars[b]) size += (uint64_t)r->barCounts[b] * DATA_BAR_SIZE;
        if (r->events) size += (uint64_t)r->eventCount * DATA_EVENT_SIZE;
    }
    return size;
}

/* Writes size zero bytes (fundamentals of a symbol that has none in memory). */
static int WriteZeros(ReplaceFile *rf, uint64_t size)
{
    static const uint8_t zeros[4096] = {};
    while (size > 0) {
        uint32_t chunk = size > sizeof zeros ? (uint32_t)sizeof zeros : (uint32_t)size;
        if (!WriteReplaceFile(rf, zeros, chunk)) return 0;
        size -= chunk;
    }
    return 1;
}

static int WriteSymbol(ReplaceFile *rf, const SymbolRecord *r)
{
    SymbolTrailer t;
    memset(&t, 0, sizeof t);
    for (int b = 0; b < BAR_SIZE_COUNT; b++) t.barCounts[b] = r->bars[b] ? (uint32_t)r->barCounts[b] : 0;
    t.eventCount = r->events ? (uint32_t)r->eventCount : 0;
    t.firstDate = r->firstDate;
    t.lastDate = r->lastDate;
    t.dataSource = r->dataSource;
    t.securityType = r->securityType;
    uint8_t trailer[SYMBOL_TRAILER_SIZE];
    EncodeSymbolTrailer(&t, trailer);
    if (!WriteReplaceFile(rf, &r->info, SYMBOL_INFO_SIZE)) return 0;
    if (!WriteReplaceFile(rf, trailer, SYMBOL_TRAILER_SIZE)) return 0;
    for (int b = 0; b < BAR_SIZE_COUNT; b++)
        if (t.barCounts[b] && !WriteReplaceFile(rf, r->bars[b], t.barCounts[b] * DATA_BAR_SIZE)) return 0;
    if (t.eventCount && !WriteReplaceFile(rf, r->events, t.eventCount * DATA_EVENT_SIZE)) return 0;
    uint64_t fundamentals = (uint64_t)gStore.fundamentalsCount * DATA_FUNDAMENTAL_SIZE;
    if (fundamentals) {
        if (r->fundamentals) return WriteReplaceFile(rf, r->fundamentals, (uint32_t)fundamentals);
        return WriteZeros(rf, fundamentals);
    }
    return 1;
}

/* A name without a dot gets ".KVD"; 0 when that would not fit, the path
** left as it was: cut, it would be a file of another name. */
static int AppendDefaultExtension(char *path)
{
    if (strchr(path, '.')) return 1;
    size_t len = strlen(path);
    if (PathLetters(path) + 4 > PATH_LETTERS) return 0;
    CopyString(path + len, (int)(PATH_SIZE - len), ".KVD", -1);
    return 1;
}

/* AppendDefaultExtension for a save; 0 after reporting a name too long. */
static int AppendSaveExtension(char *path)
{
    if (AppendDefaultExtension(path)) return 1;
    PlatSetLastError(PLAT_ERR_FILENAME_TOO_LONG);
    ReportError(kMsgCannotCreate, path, GetErrorText());
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}

/* The temporary file of a save of path: beside the file path finally names,
** links followed, so that saves through a link and through its target, or
** through two links, take the one name and see each other.  0 with the
** system's error set when there is none. */
static int MakeDataFileTempPath(char *temp, const char *path)
{
    char final[PATH_SIZE];
    if (!PathTooLong(path)) {
        if (!PlatResolveLinks(path, final, sizeof final)) return 0;
        if (MakeTempPath(temp, final)) return 1;
    }
    PlatSetLastError(PLAT_ERR_FILENAME_TOO_LONG);
    return 0;
}

void RemoveDataFileLeftover(const char *path)
{
    char full[PATH_SIZE], temp[PATH_SIZE];
    if (!path || !path[0] || PathTooLong(path)) return;
    CopyString(full, sizeof full, path, -1);
    if (AppendDefaultExtension(full) && MakeDataFileTempPath(temp, full) && PlatFileExists(temp))
        PlatDeleteUnusedFile(temp);
}

/* Starts the save of path in a temporary file of this save alone: a
** leftover of a killed save is removed first, and the file is created
** exclusively, so that two saves of one data file never write into the same
** temporary file.  When another save holds it, this one reports that and
** fails.  Messages name path; on failure nothing of this save is on disk. */
static int BeginDataFileTemp(ReplaceFile *rf, const char *path, uint32_t reserve)
{
    rf->file = nullptr;
    rf->tempPath[0] = 0;
    CopyString(rf->path, sizeof rf->path, path, -1);
    char temp[PATH_SIZE];
    if (!MakeDataFileTempPath(temp, path)) {
        ReportError(kMsgCannotCreate, path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    /* Held by another save (a save of either build: each sees the other's
    ** hold), or left by a killed one, which is removed; a temporary file
    ** that went meanwhile was no one's to wait for. */
    int held = PlatFileExists(temp) && !PlatDeleteUnusedFile(temp) && PlatLastError() != PLAT_ERR_FILE_NOT_FOUND;
    if (!held) rf->file = PlatOpenFile(temp, PLAT_CREATE_EXCLUSIVE);
    if (!rf->file) {
        /* Held, or taken by another save between the removal and the
        ** creation: said in the program's own words, alike in both builds. */
        int taken = held || PlatLastError() == PLAT_ERR_ALREADY_EXISTS || PlatLastError() == PLAT_ERR_SHARING_VIOLATION;
        ReportError(kMsgCannotCreate, path, taken ? kMsgAnotherSave : GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    CopyString(rf->tempPath, sizeof rf->tempPath, temp, -1);
    if (reserve) ReserveFileSpace(rf->file, reserve);
    return 1;
}

static int StopRequested() { return gRun.state.load() == RUN_STOP_REQUESTED; }

void (*gDataFileTempHeld)(const char *path) = nullptr;

int SaveDataFile(const char *pathIn, const char *import)
{
    char path[PATH_SIZE];
    char savedStatus[257];
    ReplaceFile rf;
    memset(&rf, 0, sizeof rf);

    /* The note records the Import section that produced the data: without
    ** one the file has no note, whatever the data was read with.  The loaded
    ** note itself may be given, to keep it. */
    if (import && import[0] && import == gStore.note) {
        gStore.noteLength = (uint32_t)strlen(import) + 1;
    } else if (import && import[0]) {
        uint32_t length = (uint32_t)strlen(import) + 1;
        if (!AllocMemory(&gStore.note, length)) {
            gStore.noteLength = 0;
            return 0;
        }
        memcpy(gStore.note, import, length);
        gStore.noteLength = length;
    } else {
        FreeMemory(&gStore.note);
        gStore.noteLength = 0;
    }

    if (pathIn && pathIn[0]) {
        CopyString(path, sizeof path, pathIn, -1);
    } else {
        CopyString(path, sizeof path, gSettings.DataFile, -1);
        /* Unattended runs never wait on a dialog: the DataFile setting is the name. */
        if (!gRun.unattended && !BrowseForFile(path, nullptr, "Save Data File", "Data", "KVD", 1)) return 0;
    }
    if (!path[0]) {
        /* Unattended with no DataFile setting: there is no name to write to. */
        PlatSetLastError(PLAT_ERR_PATH_NOT_FOUND);
        ReportError(kMsgCannotCreate, path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (!AppendSaveExtension(path)) return 0;
    /* In a run (an import) the data file may be the one it read, never
    ** another file it read or wrote. */
    if (!ClaimRunOutput(path, "the data file")) return 0;

    GetStatusText(0, savedStatus, sizeof savedStatus);
    SetStatusText(0, "Creating %s...", path);

    uint64_t size = DataFileSize(gStore.noteLength);
    uint32_t reserve = size > 0x7FFFFFFFu ? 0xFFFFFFFFu : (uint32_t)size;
    while (!BeginDataFileTemp(&rf, path, reserve)) {
        /* The failure is reported; in unattended mode that is the end of it. */
        path[0] = 0;
        if (gRun.unattended || !BrowseForFile(path, nullptr, "Save Data File", "Data", "KVD", 1) ||
            !AppendSaveExtension(path)) {
            SetStatusText(0, "%s", savedStatus);
            return 0;
        }
        SetStatusText(0, "Creating %s...", path);
    }
    if (gDataFileTempHeld) gDataFileTempHeld(path);

    DataFileHeader h;
    memset(&h, 0, sizeof h);
    h.version = DATA_FILE_VERSION;
    h.symbolRecordSize = DATA_SYMBOL_RECORD_SIZE;
    h.barSize = DATA_BAR_SIZE;
    h.eventSize = DATA_EVENT_SIZE;
    h.keepAdjusted = (uint32_t)gStore.keepAdjusted;
    h.symbolCount = (uint32_t)gStore.symbolCount;
    for (int b = 0; b < BAR_SIZE_COUNT; b++)
        h.listLengths[b] = (uint32_t)(gStore.dateLists[b].dates ? gStore.dateLists[b].count : 0) + 1;
    h.noteLength = gStore.noteLength;
    h.fundamentalsCount = (uint32_t)gStore.fundamentalsCount;
    h.listNameCount = (uint32_t)gStore.listNameCount;
    for (int k = 0; k < MAX_CONSTITUENCY_IDS; k++) PutU32(h.constituencyIds + 4 * k, gStore.constituencyIds[k]);
    uint8_t header[DATA_HEADER_SIZE];
    EncodeDataFileHeader(&h, header);

    int ok = WriteReplaceFile(&rf, header, DATA_HEADER_SIZE);
    if (ok && gStore.listNameCount > 0) ok = WriteReplaceFile(&rf, gStore.listNames, (uint32_t)gStore.listNameCount * LIST_NAME_SIZE);
    if (ok && gStore.noteLength > 0) ok = WriteReplaceFile(&rf, gStore.note, gStore.noteLength);
    for (int b = 0; ok && b < BAR_SIZE_COUNT; b++) {
        static const uint32_t terminator = 0;
        if (gStore.dateLists[b].dates)
            ok = WriteReplaceFile(&rf, gStore.dateLists[b].dates, h.listLengths[b] * 4);
        else
            ok = WriteReplaceFile(&rf, &terminator, 4);
    }
    if (ok) PumpMessages();
    for (int32_t i = 0; ok && i < gStore.symbolCount; i++) {
        if (i % 10 == 9) {
            SetStatusText(1, "Symbol: %s", gStore.symbols[i].info.Symbol);
            PumpMessages();
        }
        ok = WriteSymbol(&rf, &gStore.symbols[i]);
    }
    /* A stop asked for while writing keeps the previous file as it was. */
    if (ok && StopRequested()) ok = 0;
    if (ok) ok = CommitReplaceFile(&rf);
    if (!ok) {
        /* The old file stays until the new one is complete, so a failed save loses nothing. */
        AbandonReplaceFile(&rf);
        SetStatusText(0, "%s", savedStatus);
        SetStatusText(1, nullptr);
        return 0;
    }
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, path, -1);
    CopyString(gStore.loadedPath, sizeof gStore.loadedPath, path, -1);
    /* The loaded data are what the file now holds. */
    gStore.loadedState = LookAtFile(path);
    ShowDataFileInPanel();
    SetStatusText(0, "%s", savedStatus);
    SetStatusText(1, nullptr);
    return 1;
}
