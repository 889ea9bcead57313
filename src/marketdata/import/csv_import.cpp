/* csv_import.cpp -- folders of per-symbol price files and multi-symbol files. */
#include "marketdata/import/csv_import.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"
#include "marketdata/import/web_parsers.h"
#include "marketdata/store/data_load.h"
#include "script/compiler/formula.h"
#include "services/services.h"

/* CSV field ids, the positions of kCsvFieldNames. */
enum CsvField {
    CSV_SKIP = 0,
    CSV_SYMBOL = 1,
    CSV_DATE = 2,
    CSV_TIME = 3,
    CSV_OPEN = 4,
    CSV_HIGH = 5,
    CSV_LOW = 6,
    CSV_CLOSE = 7,
    CSV_VOLUME = 8,
    CSV_ADJ_CLOSE = 9,
    CSV_REAL_CLOSE = 10,
    CSV_SPLIT = 11,
    CSV_DIVIDEND = 12,
    CSV_EXTRA = 13
};
static_assert(CSV_EXTRA + 1 == CSV_FIELD_COUNT, "one id per CSV field name");

static const char kMsgUnableToRead[] = "Unable to read %s";
static const char kMsgNoFiles[] = "No files with %s extension were found in %s";
static const char kLogNameTooLong[] = "%s\tnot imported because its name is too long\n";

enum {
    FILE_NAME_SYMBOL_MAX = 40, /* the last '.' must lie within the first 40 characters */
    STATUS_LINES = 1000,
    LOCAL_GROWTH = 100,
    BAR_GROWTH = 100
};

static char DelimiterChar(int code) { return code == 1 ? ';' : code == 2 ? '\t'
                                                                         : ','; }

static int StopRequested() { return gRun.state.load() == RUN_STOP_REQUESTED; }

/* Splits line in place into at most IMPORT_CSV_FIELDS columns at delim; a
** column that begins with '"' runs to the next '"' (quotes dropped).  White
** space after a delimiter is skipped.  The number of columns. */
static int SplitColumns(char *line, char delim, char **columns)
{
    int n = 0;
    char *p = line;
    while (n < IMPORT_CSV_FIELDS) {
        while (*p == ' ' || (*p == '\t' && delim != '\t')) p++;
        if (*p == '"') {
            char *close = strchr(p + 1, '"');
            columns[n++] = p + 1;
            if (!close) break;
            *close = 0;
            p = close + 1;
            char *next = strchr(p, delim);
            if (!next) break;
            p = next + 1;
            continue;
        }
        columns[n++] = p;
        char *next = strchr(p, delim);
        if (!next) break;
        *next = 0;
        p = next + 1;
    }
    return n;
}

static int Digits(const char *p, int n)
{
    int v = 0;
    for (int i = 0; i < n; i++) {
        if (p[i] < '0' || p[i] > '9') return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

/* ParseDate's answer for text, reading the usual year-first form directly
** (the same date ParseDate gives it) and leaving every other form to it. */
static int32_t ParsePriceDate(const char *text)
{
    if (!text[0]) return 0;
    if (strlen(text) == 10 && text[4] == text[7] && (text[4] == '-' || text[4] == '/' || text[4] == '.')) {
        int y = Digits(text, 4), m = Digits(text + 5, 2), d = Digits(text + 8, 2);
        if (y >= 1001 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m)) return MakeDate(y, m, d);
    }
    return ParseDate(text);
}

/* Values of one data line beside its bar. */
struct LineValues {
    double adjusted, unadjusted, split, dividend;
};

/* Reads one data line's columns into bar and values by the field map. */
static void ReadDataColumns(char **columns, int n, const int32_t *map, int numberFormat, Bar *bar, LineValues *v,
                            char *symbol)
{
    memset(bar, 0, sizeof *bar);
    memset(v, 0, sizeof *v);
    if (symbol) symbol[0] = 0;
    for (int c = 0; c < n; c++) {
        const char *text = columns[c];
        switch (map[c]) {
        case CSV_SYMBOL:
            if (symbol) CopyString(symbol, IMPORT_SYMBOL_SIZE, text, IMPORT_SYMBOL_SIZE - 1);
            break;
        case CSV_DATE: bar->date = ParsePriceDate(text); break;
        case CSV_TIME: bar->time = ParseTime(text); break;
        case CSV_OPEN: bar->open = ParseNumber(text, numberFormat); break;
        case CSV_HIGH: bar->high = ParseNumber(text, numberFormat); break;
        case CSV_LOW: bar->low = ParseNumber(text, numberFormat); break;
        case CSV_CLOSE: bar->close = ParseNumber(text, numberFormat); break;
        case CSV_VOLUME: bar->volume = ParseNumber(text, numberFormat); break;
        case CSV_EXTRA: bar->extra = ParseNumber(text, numberFormat); break;
        case CSV_ADJ_CLOSE: v->adjusted = ParseNumber(text, numberFormat); break;
        case CSV_REAL_CLOSE: v->unadjusted = ParseNumber(text, numberFormat); break;
        case CSV_SPLIT: v->split = ParseNumber(text, numberFormat); break;
        case CSV_DIVIDEND: v->dividend = ParseNumber(text, numberFormat); break;
        default: break;
        }
    }
}

/* Maps the columns of a header line onto field ids. */
static void ReadHeaderColumns(ImportItem *row, char **columns, int n, const SymbolRecord *record)
{
    int haveVolume = 0;
    for (int c = 0; c < n; c++)
        if (row->csvFields[c] == CSV_VOLUME) haveVolume = 1;
    for (int c = 0; c < n; c++) {
        if (row->csvFields[c] != CSV_SKIP) continue;
        const char *name = columns[c];
        int id = FindKeyword(name, kCsvFieldNames + 1, CSV_FIELD_COUNT - 1);
        if (id >= 0) id += 1;
        int csi = row->dataSource == SOURCE_CSI_FUTURES || row->dataSource == SOURCE_CSI_STOCKS;
        if (id < 0 && row->dataSource == SOURCE_TIINGO && row->adjustment != ADJUST_TOTAL_RETURN) {
            if (CompareNoCase(name, "divcash") == 0)
                id = CSV_DIVIDEND;
            else if (CompareNoCase(name, "splitfactor") == 0)
                id = CSV_EXTRA;
        }
        if (csi) {
            if (id == CSV_VOLUME || (id < 0 && (CompareNoCase(name, "TotalVolume") == 0 || CompareNoCase(name, "OI") == 0 || CompareNoCase(name, "TotalOI") == 0))) {
                id = haveVolume ? -1 : CSV_VOLUME;
                haveVolume = 1;
            } else if (id < 0 && CompareNoCase(name, "UnAdjustedClose") == 0) {
                id = CSV_REAL_CLOSE;
            } else if (id < 0 && record->securityType == SECURITY_FUTURES) {
                if (CompareNoCase(name, "ExpiryDate") == 0)
                    id = CSV_EXTRA;
                else if (CompareNoCase(name, "NumericDeliveryMonth") == 0)
                    id = CSV_SPLIT;
            }
        }
        if (id > 0) row->csvFields[c] = id;
    }
}

/* Gives the bars the factors a Split column implies: a ratio on a date
** applies to every earlier bar, so each bar carries the product of the
** ratios of the bars after it (in date order). */
static void ApplySplitColumn(Bar *bars, const LineValues *values, int32_t n)
{
    std::vector<int32_t> order((size_t)n);
    for (int32_t i = 0; i < n; i++) order[(size_t)i] = i;
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return bars[a].date < bars[b].date; });
    double product = 1.0;
    for (int32_t k = n - 1; k >= 0; k--) {
        int32_t i = order[(size_t)k];
        bars[i].split = product;
        if (values[i].split != 0.0) product *= values[i].split;
    }
}

int ParseHeaderCsv(ImportItem *row, const char *text, const char *storedSymbol, SymbolRecord *record, int flags)
{
    int32_t savedOrder = gSettings.DateInputFormat;
    gSettings.DateInputFormat = row->csvDateOrder;
    char delim = DelimiterChar(row->csvDelimiter);
    int fileSource = row->dataSource == SOURCE_CSV || row->dataSource == SOURCE_CSI_FUTURES ||
        row->dataSource == SOURCE_CSI_STOCKS;
    char *buffer = nullptr;
    int lines = 0;
    if (fileSource) {
        lines = LoadCsvText(text, &buffer, delim);
    } else {
        uint64_t length = strlen(text);
        if (AllocMemory(&buffer, length + 1)) {
            memcpy(buffer, text, length);
            lines = 1;
            for (const char *p = text; *p; p++)
                if (*p == '\n') lines++;
        }
    }
    if (lines < 1) {
        gSettings.DateInputFormat = savedOrder;
        return -1;
    }
    ApplySymbolInfo(storedSymbol, record, row->dataSource);
    SymbolInfo &info = record->info;
    if ((row->dataSource == SOURCE_CSI_FUTURES || row->dataSource == SOURCE_CSI_STOCKS) && info.InduIndex[0]) {
        if (strcmp(info.Type, "Forex") == 0) CopyString(info.Symbol, sizeof info.Symbol, info.InduIndex, -1);
        info.InduIndex[0] = 0;
    }
    record->firstDate = FIRST_USED_NONE;
    record->lastDate = 0;
    std::vector<LineValues> values;
    int ok = AllocMemory(&record->bars[BAR_DAILY], (uint64_t)(lines + 1) * sizeof(Bar));
    if (ok) {
        record->dailyCapacity = lines + 1;
        values.resize((size_t)lines + 1);
    }
    int header = 1;
    for (int c = 0; c < IMPORT_CSV_FIELDS; c++)
        if (row->csvFields[c] != CSV_SKIP) header = 0;
    int hasSplitColumn = 0;
    int32_t count = 0;
    char *cursor = buffer;
    char *columns[IMPORT_CSV_FIELDS];
    while (ok && cursor && *cursor) {
        char *line = cursor;
        char *lf = strchr(line, '\n');
        if (lf) {
            *lf = 0;
            cursor = lf + 1;
        } else {
            cursor = nullptr;
        }
        size_t len = strlen(line);
        if (len && line[len - 1] == '\r') line[--len] = 0;
        if (!len) continue;
        int n = SplitColumns(line, delim, columns);
        if (header) {
            ReadHeaderColumns(row, columns, n, record);
            header = 0;
            continue;
        }
        Bar *bar = &record->bars[BAR_DAILY][count];
        LineValues &v = values[(size_t)count];
        ReadDataColumns(columns, n, row->csvFields, row->csvNumberFormat, bar, &v, nullptr);
        if (row->dataSource == SOURCE_CSI_FUTURES) {
            double expiry = bar->extra;
            if (bar->date >= gImport.startDate && bar->date <= gImport.endDate && expiry >= 10000101.0 &&
                expiry <= 99991231.0 && (int32_t)expiry != info.DelistDate) {
                v.dividend = expiry;
                info.DelistDate = (int32_t)expiry;
            }
            bar->extra = v.unadjusted;
            v.unadjusted = v.split;
            v.split = 0.0;
        } else if (v.split != 0.0) {
            hasSplitColumn = 1;
        }
        if (bar->date < 1) continue;
        count++;
    }
    /* The bars are read first and taken in afterwards, so that a Split column
    ** can give every bar the factor of the splits after it. */
    if (ok && hasSplitColumn) ApplySplitColumn(record->bars[BAR_DAILY], values.data(), count);
    int32_t kept = 0;
    for (int32_t i = 0; ok && i < count; i++) {
        Bar bar = record->bars[BAR_DAILY][i];
        const LineValues &v = values[(size_t)i];
        if (AddBar(record, &bar, v.adjusted, v.unadjusted, v.dividend, flags))
            record->bars[BAR_DAILY][kept++] = bar;
    }
    record->barCounts[BAR_DAILY] = kept;
    if (kept == 0) record->firstDate = 0;
    if (row->dataSource == SOURCE_CSI_FUTURES && !IsFuturesContractText(info.Symbol, nullptr)) info.DelistDate = 0;
    FreeMemory(&buffer);
    gSettings.DateInputFormat = savedOrder;
    return ok ? kept : -1;
}

/* The work item for symbol in row's block, or null when it is not wanted. */
static ImportWorkItem *WorkItemFor(ImportItem *row, char *symbol)
{
    ImportWorkItem *item;
    if (row->blockHasIncludeList && !gImportState.KeepNonIncluded)
        item = FindImportWorkItem(symbol, row->blockNumber);
    else
        item = AddSymbolToImportList(symbol, row->blockNumber, row->listNumber, row->listFlag);
    if (!item || IsInIncludeList(symbol, row->listNumber) || IsSymbolExcluded(symbol, row->blockNumber)) return nullptr;
    return item;
}

/* Stores a parsed record under its work item unless the filter drops it; 0
** when memory ran out.  The record is empty afterwards. */
static int KeepSymbol(SymbolRecord *record, ImportWorkItem *item)
{
    SortBars(record);
    record->info.listNumber = item->list;
    memcpy(record->info.includeLists, item->lists, sizeof record->info.includeLists);
    int result = 0;
    if (!LogSymbolFiltered(record, 0)) result = FinishSymbol(record, item);
    FreeSymbolRecord(record);
    return result >= 0;
}

struct FolderEntry {
    std::string name;
    int isFolder;
};

static int CollectEntry(const char *name, int isFolder, void *user)
{
    ((std::vector<FolderEntry> *)user)->push_back({name, isFolder});
    return 1;
}

static int AnyFileMatches(const char *pattern)
{
    std::vector<FolderEntry> entries;
    PlatListFolder(pattern, CollectEntry, &entries);
    for (const FolderEntry &e : entries)
        if (!e.isFolder) return 1;
    return 0;
}

/* 1 when path names the value of some Import row (a list or information file). */
static int IsImportRowPath(const char *path)
{
    const ImportItem *rows = (const ImportItem *)gImportItems.items;
    for (int32_t r = 0; r < gImportItems.count; r++)
        if (CompareNoCase(rows[r].value, path) == 0) return 1;
    return 0;
}

int ImportFolder(ImportItem *row)
{
    const char *sourceName = kDataSourceNames[row->dataSource];
    SetStatusText(0, "Importing %s Data From %s", sourceName, row->value);
    if (row->kind == IMPKW_CSV_FILE) return ImportCsvFile(row, row->listFlag);

    char pattern[260];
    const char *extension = ".csv";
    if (row->dataSource == SOURCE_CSI_STOCKS) {
        FormatText(pattern, sizeof pattern, "%s\\*.txt", row->value);
        if (AnyFileMatches(pattern)) extension = ".txt";
    }
    FormatText(pattern, sizeof pattern, "%s\\*%s", row->value, extension);
    std::vector<FolderEntry> entries;
    PlatListFolder(pattern, CollectEntry, &entries);
    /* Name order, so that both builds import the files alike. */
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry &a, const FolderEntry &b) { return CompareNoCase(a.name.c_str(), b.name.c_str()) < 0; });
    if (entries.empty()) {
        ReportError(kMsgNoFiles, extension, row->value);
        return 0;
    }
    /* Without CSVFields every file maps its own header, so the map starts
    ** empty for each file. */
    int32_t givenFields[IMPORT_CSV_FIELDS];
    memcpy(givenFields, row->csvFields, sizeof givenFields);
    SymbolRecord record;
    memset(&record, 0, sizeof record);
    for (const FolderEntry &entry : entries) {
        PumpMessages();
        if (StopRequested()) return 0;
        if (entry.isFolder) continue;
        char path[260];
        FormatText(path, sizeof path, "%s\\%s", row->value, entry.name.c_str());
        if (IsImportRowPath(path)) continue;
        const char *name = entry.name.c_str();
        const char *dot = strrchr(name, '.');
        if (!dot || dot == name || CompareNoCase(dot, extension) != 0) continue;
        if (dot - name >= FILE_NAME_SYMBOL_MAX) {
            LogImportMessage(kLogNameTooLong, name);
            continue;
        }
        char symbol[IMPORT_SYMBOL_SIZE];
        CopyString(symbol, sizeof symbol, name, (int)(dot - name));
        MakeIdentifier(symbol);
        gImport.processedCount++;
        ImportWorkItem *item = WorkItemFor(row, symbol);
        if (!item) continue;
        SetStatusText(1, "Symbol: %s", symbol);
        memcpy(row->csvFields, givenFields, sizeof givenFields);
        if (ParseHeaderCsv(row, path, item->saveAs, &record, row->listFlag) < 1) {
            FreeSymbolRecord(&record);
            continue;
        }
        if (!KeepSymbol(&record, item)) return 0;
    }
    return 1;
}

static void FormatClock(char out[16], uint64_t milliseconds)
{
    uint64_t s = milliseconds / 1000;
    FormatText(out, 16, "%.2d:%.2d:%.2d", (int)(s / 3600), (int)(s / 60 % 60), (int)(s % 60));
}

/* The multi-symbol file's symbols as they are read: records by upper-case symbol. */
struct LocalSymbols {
    SymbolRecord *records;
    int32_t count, capacity;
    HashTable *keys;
};

static void FreeLocalSymbols(LocalSymbols *local)
{
    for (int32_t i = 0; i < local->count; i++) FreeSymbolRecord(&local->records[i]);
    FreeMemory(&local->records);
    HashDestroy(local->keys);
    memset(local, 0, sizeof *local);
}

static SymbolRecord *LocalRecord(LocalSymbols *local, const char *symbol, int source)
{
    uint64_t at = HashLookup(local->keys, symbol);
    if (at) return &local->records[at - 1];
    if (local->count == local->capacity) {
        int32_t capacity = local->capacity + LOCAL_GROWTH;
        if (!ReallocMemory(&local->records, (uint64_t)capacity * sizeof(SymbolRecord))) return nullptr;
        local->capacity = capacity;
    }
    SymbolRecord *record = &local->records[local->count];
    if (!HashInsert(local->keys, symbol, (uint64_t)local->count + 1)) return nullptr;
    local->count++;
    ApplySymbolInfo(symbol, record, source);
    record->firstDate = FIRST_USED_NONE;
    record->lastDate = 0;
    return record;
}

int ImportCsvFile(ImportItem *row, int flags)
{
    const char *path = row->value;
    PlatFile file = PlatOpenFile(path, PLAT_OPEN_READ);
    uint64_t size = 0;
    if (!file || !PlatGetFileSize(file, &size)) {
        if (file) PlatCloseFile(file);
        ReportError(kMsgUnableToRead, path);
        return 0;
    }
    if (!CheckFileSizeLimit(size, path)) {
        PlatCloseFile(file);
        return 0;
    }
    SetStatusText(0, "Reading data from %s...", path);
    char *text = nullptr;
    int ok = AllocMemory(&text, size + 1) && (size == 0 || ReadFileData(file, text, (uint32_t)size, path));
    PlatCloseFile(file);
    if (!ok) {
        FreeMemory(&text);
        return 0;
    }
    text[size] = 0;

    int32_t savedOrder = gSettings.DateInputFormat;
    gSettings.DateInputFormat = row->csvDateOrder;
    char delim = DelimiterChar(row->csvDelimiter);
    LocalSymbols local;
    memset(&local, 0, sizeof local);
    local.keys = HashCreate();
    ok = local.keys != nullptr;
    uint64_t started = PlatTickCount64();
    int64_t lineCount = 0;
    char *cursor = text;
    char *columns[IMPORT_CSV_FIELDS];
    /* Lines are taken whole from the text in memory, however long. */
    while (ok && cursor < text + size) {
        char *line = cursor;
        char *lf = (char *)memchr(line, '\n', (size_t)(text + size - line));
        char *end = lf ? lf : text + size;
        cursor = end + (lf ? 1 : 0);
        while (end > line && isspace((unsigned char)end[-1])) end--;
        *end = 0;
        if (++lineCount % STATUS_LINES == 0) {
            char number[32], elapsedText[16], remainingText[16];
            FormatText(number, sizeof number, "%lld", (long long)lineCount);
            InsertCommas(number, (int32_t)strlen(number), (int32_t)sizeof number);
            uint64_t elapsed = PlatTickCount64() - started;
            uint64_t done = (uint64_t)(cursor - text);
            FormatClock(elapsedText, elapsed);
            FormatClock(remainingText, done ? (size - done) * elapsed / done : 0);
            SetStatusText(1, "Lines: %s", number);
            SetStatusText(2, "Elapsed: %s", elapsedText);
            SetStatusText(3, "Remaining: %s", remainingText);
            PumpMessages();
            if (StopRequested()) {
                ok = 0;
                break;
            }
        }
        if (line == end) continue;
        int n = SplitColumns(line, delim, columns);
        Bar bar;
        LineValues v;
        char symbol[IMPORT_SYMBOL_SIZE];
        ReadDataColumns(columns, n, row->csvFields, row->csvNumberFormat, &bar, &v, symbol);
        if (!symbol[0] || bar.date < 1) continue;
        for (char *p = symbol; *p; p++) *p = (char)toupper((unsigned char)*p);
        SymbolRecord *record = LocalRecord(&local, symbol, row->dataSource);
        if (!record) {
            ok = 0;
            break;
        }
        int32_t count = record->barCounts[BAR_DAILY];
        if (count + 1 >= record->dailyCapacity) {
            int32_t capacity = record->dailyCapacity + BAR_GROWTH;
            if (!ReallocMemory(&record->bars[BAR_DAILY], (uint64_t)capacity * sizeof(Bar))) {
                ok = 0;
                break;
            }
            record->dailyCapacity = capacity;
        }
        if (AddBar(record, &bar, v.adjusted, v.unadjusted, v.dividend, flags)) {
            record->bars[BAR_DAILY][count] = bar;
            record->barCounts[BAR_DAILY] = count + 1;
        }
    }
    FreeMemory(&text);
    gSettings.DateInputFormat = savedOrder;

    if (ok) SetStatusText(0, "Processing %d unique symbols...", local.count);
    for (int32_t i = 0; ok && i < local.count; i++) {
        SymbolRecord *record = &local.records[i];
        if (i % 100 == 99) {
            SetStatusText(1, "Symbol: %s", record->info.Symbol);
            PumpMessages();
            if (StopRequested()) {
                ok = 0;
                break;
            }
        }
        char symbol[IMPORT_SYMBOL_SIZE];
        CopyString(symbol, sizeof symbol, record->info.Symbol, -1);
        ImportWorkItem *item = record->barCounts[BAR_DAILY] > 0 ? WorkItemFor(row, symbol) : nullptr;
        if (!item) {
            FreeSymbolRecord(record);
            continue;
        }
        char saveAs[IMPORT_SYMBOL_SIZE];
        CopyString(saveAs, sizeof saveAs, item->saveAs, -1);
        MakeIdentifier(saveAs);
        CopyString(record->info.Symbol, sizeof record->info.Symbol, saveAs, -1);
        ApplySymbolInfo(saveAs, record, row->dataSource);
        ok = KeepSymbol(record, item);
    }
    FreeLocalSymbols(&local);
    /* A file that gave no symbol is passed over like an empty file in a
    ** folder; whether anything was imported at all is the driver's call. */
    return ok;
}
