/* metastock.cpp -- MetaStock folder trees, directory files and data files. */
#include "marketdata/import/metastock.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"
#include "marketdata/store/data_load.h"
#include "script/compiler/formula.h"
#include "services/services.h"

/* One directory file layout. */
struct MasterLayout {
    const char *name;
    uint32_t headerSize;
    uint32_t countOffset; /* u16 record count in the header */
    uint32_t recordSize;
};
enum MasterKind { MASTER_PLAIN = 0,
                  MASTER_E = 1,
                  MASTER_X = 2,
                  MASTER_KINDS = 3 };
/* clang-format off */
static const MasterLayout kMasterLayouts[MASTER_KINDS] = {
    {.name = "master", .headerSize = 53, .countOffset = 0, .recordSize = 53},
    {.name = "emaster", .headerSize = 192, .countOffset = 0, .recordSize = 192},
    {.name = "xmaster", .headerSize = 150, .countOffset = 10, .recordSize = 150},
};
/* clang-format on */
static_assert(sizeof kMasterLayouts / sizeof kMasterLayouts[0] == MASTER_KINDS, "one layout per directory file");

enum {
    MBF_BYTES = 4,
    CENTURY_BASE = 19000000,
    XMASTER_FIELDS = 7,
    MAX_RECORD_SIZE = 192
};

static const char kMsgOpen[] = "Unable to open %s for reading\r\n\r\n%s";
static const char kMsgUnableToRead[] = "Unable to read %s\r\n\r\n%s";
static const char kMsgFieldCount[] = "Unable to read %s: its directory file gives it %d fields, and a data file holds "
                                     "5, 6 or 7";
/* A file cut short (a copy or a download broken off) can be read, but read
** as far as it goes it would pass for the whole: the import fails naming the
** file and what it lacks, as it does for an answer cut short. */
static const char kMsgCutShort[] = "%s was cut short: it holds %u of the %u records its %s announces";
static const char kMsgCutShortPart[] = "%s was cut short: it holds %u of the %u records its %s announces, and %u "
                                       "bytes of the next";
static const char kMsgCutInHead[] = "%s was cut short: it holds %u of the %u bytes of its %s";
static const char kDataHead[] = "first record";
static const char kMasterHead[] = "header";
/* A record of zeros is no bar, nor one without a date (a damaged or padded
** file); either is named with the others not read. */
static const char kRefusedZeros[] = "the record holds only zeros";

int MbfToDouble(const uint8_t b[4], double *out)
{
    /* An exponent byte below 3 is zero, or a value below the smallest float. */
    if (b[3] < 3) {
        *out = 0.0;
        return 0;
    }
    uint32_t bits = (uint32_t)(b[2] & 0x80) << 24 | (uint32_t)(b[3] - 2) << 23 | (uint32_t)(b[2] & 0x7F) << 16 |
        (uint32_t)b[1] << 8 | b[0];
    float f;
    memcpy(&f, &bits, sizeof f);
    *out = f;
    return 1;
}

static double Mbf(const uint8_t *b)
{
    double v = 0.0;
    MbfToDouble(b, &v);
    return v;
}

static uint16_t ReadU16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
static uint32_t ReadU32(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

static float ReadF32(const uint8_t *p)
{
    uint32_t bits = ReadU32(p);
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

/* A stored yymmdd-with-century date; 0 stays 0.  The result may be no day
** of the calendar (a damaged record): the callers check. */
static int32_t CenturyDate(double stored)
{
    return stored > 0.0 && stored < 9000000.0 ? (int32_t)stored + CENTURY_BASE : 0;
}

/* A directory file's first or last date, 0 (unknown) when it is no day. */
static int32_t DirectoryDate(int32_t date) { return IsCalendarDate(date) ? date : 0; }

/* Copies a text field of at most max bytes (it may lack a NUL), trailing blanks removed. */
static void TakeText(char *dest, int size, const uint8_t *src, int max)
{
    int n = 0;
    while (n < max && src[n]) n++;
    while (n > 0 && src[n - 1] == ' ') n--;
    CopyString(dest, size, (const char *)src, n);
}

static int StopRequested() { return gRun.state.load() == RUN_STOP_REQUESTED; }

/* 1 when a file of fileSize bytes holds its head of headSize bytes and the
** count records of recordSize it announces; otherwise 0 after naming what
** it lacks (head names the part that announces the count).  With count -1
** only the head is checked. */
static int HoldsWhatItAnnounces(const char *path, uint64_t fileSize, uint32_t headSize, int64_t count,
                                uint32_t recordSize, const char *head)
{
    if (fileSize < headSize) {
        ReportError(kMsgCutInHead, path, (unsigned)fileSize, (unsigned)headSize, head);
        return 0;
    }
    if (count < 0) return 1;
    const uint64_t whole = (fileSize - headSize) / recordSize, part = (fileSize - headSize) % recordSize;
    if ((uint64_t)count <= whole) return 1;
    if (part)
        ReportError(kMsgCutShortPart, path, (unsigned)whole, (unsigned)count, head, (unsigned)part);
    else
        ReportError(kMsgCutShort, path, (unsigned)whole, (unsigned)count, head);
    return 0;
}

int ReadMetaStockData(ImportItem *row, const char *storedSymbol, const char *name, const char *path,
                      const uint8_t *lists, int flags, int fields)
{
    uint32_t size = fields == 5 ? 20 : fields == 6 ? 24
        : fields == 7                              ? 28
                                                   : 0;
    if (!size) {
        ReportError(kMsgFieldCount, path, fields);
        return -1;
    }
    PlatFile file = nullptr;
    if (!OpenFileForRead(&file, path)) return -1;
    uint8_t first[MAX_RECORD_SIZE];
    uint64_t fileSize = 0;
    uint8_t *data = nullptr;
    int result = -1;
    SymbolRecord record;
    memset(&record, 0, sizeof record);
    if (!PlatGetFileSize(file, &fileSize)) {
        ReportError(kMsgUnableToRead, path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
    } else if (HoldsWhatItAnnounces(path, fileSize, size, -1, size, kDataHead) && ReadFileData(file, first, size, path)) {
        uint32_t count = ReadU16(first + 2);
        if (HoldsWhatItAnnounces(path, fileSize, size, count, size, kDataHead) &&
            AllocMemory(&record.bars[BAR_DAILY], (uint64_t)(count + 1) * sizeof(Bar)) &&
            (count == 0 || ReadBlock(file, &data, (uint64_t)count * size))) {
            record.dailyCapacity = (int32_t)count + 1;
            SetStatusText(1, "Symbol: %s", storedSymbol);
            CopyString(record.info.Name, sizeof record.info.Name, name, 79);
            ApplySymbolInfo(storedSymbol, &record, row->dataSource);
            record.firstDate = FIRST_USED_NONE;
            int32_t stored = 0;
            RefusedLines refused = {};
            /* The last stored close as the record holds it: the stored bar's is
            ** already divided by the price multiplier. */
            double lastClose = 0;
            for (uint32_t r = 0; r < count; r++) {
                const uint8_t *p = data + (uint64_t)r * size;
                Bar bar;
                memset(&bar, 0, sizeof bar);
                bar.date = CenturyDate(Mbf(p));
                if (!bar.date) {
                    int zeros = 1;
                    for (uint32_t b = 0; b < size && zeros; b++) zeros = p[b] == 0;
                    NoteRefusedLine(&refused, (int32_t)r + 2, zeros ? kRefusedZeros : kRefusedNoDate);
                    continue;
                }
                /* A record dated on no day of the calendar is no bar; the
                ** first record holds the count, so records count from 2. */
                if (bar.date && !IsCalendarDate(bar.date)) {
                    NoteRefusedLine(&refused, (int32_t)r + 2, kRefusedBadDate);
                    continue;
                }
                if (bar.date >= gImport.startDate && bar.date <= gImport.endDate) {
                    if (fields == 5) {
                        bar.high = Mbf(p + 4);
                        bar.low = Mbf(p + 8);
                        bar.close = Mbf(p + 12);
                        bar.volume = Mbf(p + 16);
                        /* The open is made from the last close, inside the
                        ** day's range: a gap leaves it at the nearer end. */
                        bar.open = stored > 0 && bar.high > bar.low ? lastClose : bar.close;
                        if (bar.high >= bar.low) bar.open = std::min(std::max(bar.open, bar.low), bar.high);
                    } else {
                        bar.open = Mbf(p + 4);
                        bar.high = Mbf(p + 8);
                        bar.low = Mbf(p + 12);
                        bar.close = Mbf(p + 16);
                        bar.volume = Mbf(p + 20);
                        if (fields == 7) bar.extra = Mbf(p + 24);
                    }
                    if (const char *fault = PriceShapeFault(&bar, 1, 1)) {
                        NoteRefusedLine(&refused, (int32_t)r + 2, fault);
                        continue;
                    }
                }
                const char *why = nullptr;
                const double close = bar.close;
                if (AddBar(&record, &bar, 0.0, 0.0, 0.0, flags, 0, &why)) {
                    record.bars[BAR_DAILY][stored++] = bar;
                    lastClose = close;
                }
                else if (why)
                    NoteRefusedLine(&refused, (int32_t)r + 2, why);
                record.barCounts[BAR_DAILY] = stored;
            }
            ReportRefusedLines(path, &refused, "record");
            NoteBytesPastCount(path, fileSize, (uint64_t)(count + 1) * size, count, "its first record");
            SortBars(&record);
            record.info.listNumber = (uint32_t)row->listNumber;
            memcpy(record.info.includeLists, lists, sizeof record.info.includeLists);
            result = LogSymbolFiltered(&record, 0) ? 0 : FinishSymbol(&record, nullptr);
        }
    }
    FreeMemory(&data);
    FreeSymbolRecord(&record);
    PlatCloseFile(file);
    return result;
}

/* The names of a folder's files, for finding one whatever its case. */
struct FolderNames {
    std::vector<std::string> names; /* sorted, case ignored */
};

static int CollectName(const char *name, int isFolder, void *user)
{
    if (!isFolder) ((std::vector<std::string> *)user)->push_back(name);
    return 1;
}

static bool NameBefore(const std::string &a, const std::string &b) { return CompareNoCase(a.c_str(), b.c_str()) < 0; }

/* The name the folder holds for name in any case ("F1.DAT" for "F1.dat"),
** or name itself when there is none. */
static const char *FindFolderName(const FolderNames &folder, const char *name)
{
    std::string key = name;
    auto at = std::lower_bound(folder.names.begin(), folder.names.end(), key, NameBefore);
    return at != folder.names.end() && CompareNoCase(at->c_str(), name) == 0 ? at->c_str() : name;
}

int ReadMetaStockMaster(ImportItem *row, const char *folder, const char *name)
{
    char path[PATH_SIZE];
    if (!ComposeImportPath(path, name, "%s\\%s", folder, name)) return 1;
    PlatFile file = PlatOpenFile(path, PLAT_OPEN_READ);
    if (!file) {
        char text[256];
        PlatErrorText(PlatLastError(), text, sizeof text);
        ReportError(kMsgOpen, path, text);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    int kind = tolower((unsigned char)name[0]) == 'e' ? MASTER_E : tolower((unsigned char)name[0]) == 'x' ? MASTER_X
                                                                                                          : MASTER_PLAIN;
    const MasterLayout &layout = kMasterLayouts[kind];
    uint8_t header[MAX_RECORD_SIZE];
    uint64_t fileSize = 0;
    int ok = PlatGetFileSize(file, &fileSize);
    if (!ok) {
        ReportError(kMsgUnableToRead, path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
    }
    ok = ok && HoldsWhatItAnnounces(path, fileSize, layout.headerSize, -1, layout.recordSize, kMasterHead) &&
        ReadFileData(file, header, layout.headerSize, path);
    uint32_t count = ok ? ReadU16(header + layout.countOffset) : 0;
    ok = ok && HoldsWhatItAnnounces(path, fileSize, layout.headerSize, count, layout.recordSize, kMasterHead);
    if (ok) NoteBytesPastCount(path, fileSize, layout.headerSize + (uint64_t)count * layout.recordSize, count, "its header");
    const char *extension = kind == MASTER_X ? "mwd" : "dat";
    /* The data files are found whatever the case of their names, as on
    ** Windows: a database copied from there may say F1.DAT. */
    FolderNames files;
    char pattern[PATH_SIZE];
    if (ok && ComposeImportPath(pattern, folder, "%s\\F*", folder)) PlatListFolder(pattern, CollectName, &files.names);
    std::sort(files.names.begin(), files.names.end(), NameBefore);
    gImport.progressTotal = (int32_t)count;
    RefusedLines unnamed = {};
    for (uint32_t r = 0; ok && r < count; r++) {
        gImport.progressDone = (int32_t)r + 1;
        PumpMessages();
        if (StopRequested()) {
            ok = 0;
            break;
        }
        uint8_t rec[MAX_RECORD_SIZE];
        if (!ReadFileData(file, rec, layout.recordSize, path)) {
            ok = 0;
            break;
        }
        char symbol[IMPORT_SYMBOL_SIZE], securityName[80];
        int32_t firstDate = 0, lastDate = 0;
        int fileNumber = 0, fields = 0;
        if (kind == MASTER_PLAIN) {
            fileNumber = rec[0];
            fields = rec[4];
            TakeText(securityName, sizeof securityName, rec + 7, 16);
            firstDate = DirectoryDate(CenturyDate(Mbf(rec + 25)));
            lastDate = DirectoryDate(CenturyDate(Mbf(rec + 29)));
            TakeText(symbol, sizeof symbol, rec + 36, 14);
        } else if (kind == MASTER_E) {
            fileNumber = rec[2];
            fields = rec[6];
            TakeText(symbol, sizeof symbol, rec + 11, 21);
            TakeText(securityName, sizeof securityName, rec + 32, 32);
            firstDate = DirectoryDate(CenturyDate(ReadF32(rec + 64)));
            lastDate = DirectoryDate(CenturyDate(ReadF32(rec + 72)));
            char longName[80];
            TakeText(longName, sizeof longName, rec + 139, 53);
            if (securityName[0] && strncmp(longName, securityName, strlen(securityName)) == 0)
                CopyString(securityName, sizeof securityName, longName, -1);
        } else {
            TakeText(symbol, sizeof symbol, rec + 1, 15);
            TakeText(securityName, sizeof securityName, rec + 16, 49);
            fileNumber = ReadU16(rec + 65);
            firstDate = DirectoryDate((int32_t)ReadU32(rec + 108));
            lastDate = DirectoryDate((int32_t)ReadU32(rec + 116));
            fields = XMASTER_FIELDS;
        }
        CopySymbolText(symbol, sizeof symbol, symbol, strlen(symbol)); /* " AAA" is AAA, as in every list */
        MakeIdentifier(symbol);
        gImport.processedCount++;
        /* A record without a symbol would be stored as a symbol nobody can
        ** name; the header is the file's first record. */
        if (!symbol[0]) {
            NoteRefusedLine(&unnamed, (int32_t)r + 2, kRefusedNoSymbol);
            continue;
        }
        CopyString(gImport.progressName, sizeof gImport.progressName, symbol, -1);
        if (firstDate > gImport.endDate || (lastDate != 0 && lastDate < gImport.startDate)) continue;
        ImportWorkItem *item;
        if (row->blockHasIncludeList && !gImportState.KeepNonIncluded)
            item = FindImportWorkItem(symbol, row->blockNumber);
        else
            item = AddSymbolToImportList(symbol, row->blockNumber, row->listNumber, row->listFlag);
        if (!item) continue;
        char dataName[32], dataPath[PATH_SIZE], saveAs[IMPORT_SYMBOL_SIZE];
        uint8_t lists[IMPORT_LISTS];
        FormatText(dataName, sizeof dataName, "F%d.%s", fileNumber, extension);
        const char *onDisk = FindFolderName(files, dataName);
        if (!ComposeImportPath(dataPath, onDisk, "%s\\%s", folder, onDisk)) continue;
        /* Another directory file (a sub-folder's) listing a symbol stored
        ** already names the data file it is not read from. */
        if (RefuseImportedAlready(dataPath, symbol, row->listNumber) || IsSymbolExcluded(symbol, row->blockNumber)) continue;
        CopyString(saveAs, sizeof saveAs, item->saveAs, -1);
        memcpy(lists, item->lists, sizeof lists);
        int result = ReadMetaStockData(row, saveAs, securityName, dataPath, lists, row->listFlag, fields);
        if (result < 0) ok = 0;
        /* Marked only once its data is stored, so a failed or filtered
        ** security shows in the misses report. */
        else if (result > 0) {
            item->imported = 1;
            NoteStoredFrom(saveAs, dataPath);
        }
    }
    if (unnamed.count) {
        /* Named as refused lines are, in words that fit a directory file. */
        char list[160];
        FormatRefusedNumbers(list, sizeof list, &unnamed, nullptr);
        ReportImportNote(path, "%d record%s without a symbol %s not read: %s\n", unnamed.count,
                         unnamed.count == 1 ? "" : "s", unnamed.count == 1 ? "was" : "were", list);
    }
    PlatCloseFile(file);
    return ok;
}

struct TreeEntry {
    std::string name;
    int isFolder;
};

static int CollectTreeEntry(const char *name, int isFolder, void *user)
{
    ((std::vector<TreeEntry> *)user)->push_back({name, isFolder});
    return 1;
}

static int ImportMetaStockTree(ImportItem *row, const char *folder, int depth)
{
    char pattern[PATH_SIZE];
    if (!ComposeImportPath(pattern, folder, "%s\\*", folder)) return 1;
    std::vector<TreeEntry> entries;
    if (!PlatListFolder(pattern, CollectTreeEntry, &entries)) {
        ReportError(kMsgUnableToRead, folder, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    /* Name order, so that both builds read the folders alike. */
    std::sort(entries.begin(), entries.end(),
              [](const TreeEntry &a, const TreeEntry &b) { return CompareNoCase(a.name.c_str(), b.name.c_str()) < 0; });
    /* Directory files are named in any case, as Windows finds them. */
    int hasExtended = 0;
    for (const TreeEntry &entry : entries)
        if (!entry.isFolder &&
            (CompareNoCase(entry.name.c_str(), "emaster") == 0 || CompareNoCase(entry.name.c_str(), "xmaster") == 0))
            hasExtended = 1;
    for (const TreeEntry &entry : entries) {
        const char *name = entry.name.c_str();
        if (entry.isFolder) {
            if (name[0] == '.') continue;
            char sub[PATH_SIZE];
            if (!ComposeImportPath(sub, name, "%s\\%s", folder, name)) continue;
            /* A link could lead back into the tree; the depth bounds the rest. */
            if (PlatIsLink(sub) || depth + 1 > METASTOCK_MAX_DEPTH) continue;
            if (!ImportMetaStockTree(row, sub, depth + 1)) return 0;
            continue;
        }
        int read = CompareNoCase(name, "emaster") == 0 || CompareNoCase(name, "xmaster") == 0 ||
            (CompareNoCase(name, "master") == 0 && !hasExtended);
        if (read && !ReadMetaStockMaster(row, folder, name)) return 0;
    }
    return 1;
}

int ImportMetaStock(ImportItem *row, const char *folder)
{
    SetStatusText(0, "Importing MetaStock Data From %s", row->value);
    return ImportMetaStockTree(row, folder, 0);
}
