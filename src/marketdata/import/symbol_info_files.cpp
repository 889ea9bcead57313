/* symbol_info_files.cpp -- the symbol-information and event-list files, and
** the merge of an information row into a symbol record. */
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/csv_lines.h"
#include "marketdata/import/import_run.h"
#include "marketdata/store/constituency.h"
#include "script/compiler/formula.h"

/* Columns of a symbol-information file, in the order of the named-column
** header words; the CSI layouts map their own words onto the same fields. */
enum InfoField {
    INFO_SYMBOL,
    INFO_NAME,
    INFO_TYPE,
    INFO_EXCHANGE,
    INFO_CURRENCY,
    INFO_DOMICILE,
    INFO_SECTOR,
    INFO_INDUSTRY,
    INFO_INDU_INDEX,
    INFO_POINT_VALUE,
    INFO_TICK_SIZE,
    INFO_TRBC,
    INFO_GICS,
    INFO_SHARES,
    INFO_FLOAT,
    INFO_ASSET_ID,
    INFO_DELIST_DATE,
    INFO_REPORTING_CURRENCY,
    INFO_LISTING_TYPE,
    INFO_EQUITY_TYPE,
    INFO_ECON_SECT,
    INFO_IND_GROUP,
    INFO_MARGIN,
    INFO_PRICE_MULT,
    INFO_NAMED_COUNT,
    INFO_FILE_NAME = INFO_NAMED_COUNT, /* CSI "File Name": the symbol up to its first '.' */
    INFO_NONE = -1
};

/* clang-format off */
static const char *const kInfoFieldNames[INFO_NAMED_COUNT] = {
    "Symbol", "Name", "Type", "Exchange", "Currency", "Domicile", "Sector", "Industry", "InduIndex",
    "PointValue", "TickSize", "TRBC", "GICS", "Shares", "Float", "AssetId", "DelistDate",
    "ReportingCurrency", "ListingType", "EquityType", "EconSect", "IndGroup", "Margin", "PriceMult",
};
/* clang-format on */
static_assert(sizeof kInfoFieldNames / sizeof kInfoFieldNames[0] == INFO_NAMED_COUNT, "one name per field");

struct CsiColumn {
    const char *name;
    int field;
};
/* clang-format off */
static const CsiColumn kCsiStockColumns[] = {
    {.name = "Symbol", .field = INFO_SYMBOL},
    {.name = "Description", .field = INFO_NAME},
    {.name = "Exchange", .field = INFO_EXCHANGE},
    {.name = "Currency", .field = INFO_CURRENCY},
    {.name = "Country", .field = INFO_DOMICILE},
    {.name = "Sector", .field = INFO_SECTOR},
    {.name = "Industry", .field = INFO_INDUSTRY},
};
/* clang-format on */
/* The minimum tick rides in TRBC until the row ends. */
/* clang-format off */
static const CsiColumn kCsiFuturesColumns[] = {
    {.name = "File Name", .field = INFO_FILE_NAME},
    {.name = "Description", .field = INFO_NAME},
    {.name = "Exchange", .field = INFO_EXCHANGE},
    {.name = "Currency", .field = INFO_CURRENCY},
    {.name = "Group1", .field = INFO_SECTOR},
    {.name = "Symbol", .field = INFO_INDU_INDEX},
    {.name = "Big Point", .field = INFO_POINT_VALUE},
    {.name = "Tick Size", .field = INFO_TICK_SIZE},
    {.name = "Minimum Tick", .field = INFO_TRBC},
};
/* clang-format on */

enum { MAX_FILE_COLUMNS = 256 };

static const char kMsgZeroTick[] = "The tick size of %s in %s has a zero denominator and was not used.";
static const char kNoteBadNumber[] = "line %d gives %s %s, which is %s; the value was not used\n";
static const char kMsgReservedKind[] = "%s\tevent type %d on %d is reserved and was skipped\n";
static const char kNoteBadEventField[] = "line %d gives %s %s, which is %s; the line was not read\n";

/* ---- fields and lines --------------------------------------------------------------- */

/* Splits line at commas in place (white space after a comma skipped); the
** number of fields, at most max. */
static int SplitFields(char *line, char **fields, int max)
{
    int n = 0;
    char *p = line;
    while (n < max) {
        fields[n++] = p;
        char *comma = strchr(p, ',');
        if (!comma) break;
        *comma = 0;
        p = comma + 1;
        while (*p == ' ' || *p == '\t') p++;
    }
    return n;
}

int ParseTickSize(const char *text, double *value)
{
    int a = 0, b = 0, c = 0, d = 0;
    char letter = 0;
    if (sscanf(text, "%d/%d&%d/%d%c", &a, &b, &c, &d, &letter) == 5 && letter == 's') {
        if (b == 0 || d == 0) {
            *value = 0.0;
            return -1;
        }
        *value = ((double)a / b) * ((double)c / d);
        return 1;
    }
    letter = 0;
    int n = sscanf(text, "%d/%d%c", &a, &b, &letter);
    if (n >= 2) {
        if (b == 0) {
            *value = 0.0;
            return -1;
        }
        double v = (double)a / b;
        switch (letter) {
        case 'e': v *= 0.125; break;
        case 'h': v *= 0.5; break;
        case 'q': v *= 0.25; break;
        case 't': v /= 10.0; break;
        default: break;
        }
        *value = v;
        return 1;
    }
    *value = atof(text);
    return 0;
}

static char *InfoText(SymbolInfo *info, int field, int *size)
{
    switch (field) {
    case INFO_SYMBOL: *size = sizeof info->Symbol; return info->Symbol;
    case INFO_NAME: *size = sizeof info->Name; return info->Name;
    case INFO_TYPE: *size = sizeof info->Type; return info->Type;
    case INFO_EXCHANGE: *size = sizeof info->Exchange; return info->Exchange;
    case INFO_CURRENCY: *size = sizeof info->Currency; return info->Currency;
    case INFO_DOMICILE: *size = sizeof info->Domicile; return info->Domicile;
    case INFO_SECTOR: *size = sizeof info->Sector; return info->Sector;
    case INFO_INDUSTRY: *size = sizeof info->Industry; return info->Industry;
    case INFO_INDU_INDEX: *size = sizeof info->InduIndex; return info->InduIndex;
    case INFO_REPORTING_CURRENCY: *size = sizeof info->ReportingCurrency; return info->ReportingCurrency;
    case INFO_LISTING_TYPE: *size = sizeof info->ListingType; return info->ListingType;
    case INFO_EQUITY_TYPE: *size = sizeof info->EquityType; return info->EquityType;
    case INFO_ECON_SECT: *size = sizeof info->EconSect; return info->EconSect;
    case INFO_IND_GROUP: *size = sizeof info->IndGroup; return info->IndGroup;
    default: return nullptr;
    }
}

static double *InfoNumber(SymbolInfo *info, int field)
{
    switch (field) {
    case INFO_POINT_VALUE: return &info->PointValue;
    case INFO_TRBC: return &info->TRBC;
    case INFO_GICS: return &info->GICS;
    case INFO_SHARES: return &info->Shares;
    case INFO_FLOAT: return &info->Float;
    case INFO_MARGIN: return &info->Margin;
    case INFO_PRICE_MULT: return &info->PriceMult;
    default: return nullptr;
    }
}

/* Why the text of a number field cannot be its value (null when it can, or
** is empty): a symbol's prices are divided by it, its contracts valued and
** its orders rounded by it, so text, an infinite or undefined number, or a
** negative one is never taken for one. */
static const char *BadInfoNumber(int field, const char *text)
{
    SymbolInfo probe;
    if (field != INFO_TICK_SIZE && field != INFO_ASSET_ID && !InfoNumber(&probe, field)) return nullptr;
    if (field == INFO_TICK_SIZE) {
        double fraction = 0.0;
        if (ParseTickSize(text, &fraction) != 0) return nullptr; /* a fraction: its own checks */
    }
    double value = 0.0;
    if (const char *fault = NumberTextFault(text, field == INFO_ASSET_ID ? WHOLE_NUMBER : DECIMAL_NUMBER, &value))
        return fault;
    if (value < 0.0 && field != INFO_ASSET_ID) return "below zero";
    return nullptr;
}

/* Sets one field of row from text; the tick-size form through *tickForm.
** Dates are read in the order of day and month dayFirst gives. */
static void SetInfoField(SymbolInfo *row, int field, const char *text, int *tickForm, int dayFirst)
{
    int size = 0;
    if (field == INFO_FILE_NAME || field == INFO_SYMBOL) {
        /* A file name's symbol ends at its first '.'. */
        const char *dot = field == INFO_FILE_NAME ? strchr(text, '.') : nullptr;
        CopySymbolText(row->Symbol, sizeof row->Symbol, text, dot ? (size_t)(dot - text) : strlen(text));
        MakeIdentifier(row->Symbol);
        return;
    }
    if (char *dest = InfoText(row, field, &size)) {
        CopyString(dest, size, text, -1);
        return;
    }
    if (double *number = InfoNumber(row, field)) {
        *number = atof(text);
        return;
    }
    if (field == INFO_ASSET_ID)
        row->AssetId = atoi(text);
    else if (field == INFO_DELIST_DATE)
        row->DelistDate = text[0] ? ParseDateInOrder(text, dayFirst) : 0;
    else if (field == INFO_TICK_SIZE)
        *tickForm = ParseTickSize(text, &row->TickSize);
}

static int GrowTable(void *pItems, int32_t *capacity, int32_t need, uint32_t size)
{
    if (need <= *capacity) return 1;
    if (!ReallocMemory(pItems, (uint64_t)need * size)) return 0;
    *capacity = need;
    return 1;
}

static void UpperKey(const char *symbol, char out[IMPORT_SYMBOL_SIZE])
{
    int n = CopyString(out, IMPORT_SYMBOL_SIZE, symbol, IMPORT_SYMBOL_SIZE - 1);
    for (int i = 0; i < n; i++) out[i] = (char)toupper((unsigned char)out[i]);
}

/* ---- symbol-information file -------------------------------------------------------- */

int ReadSymbolInfoFile(const char *path, int mode, int dayFirst)
{
    char *text = nullptr;
    int lines = 0;
    if (!LoadLinesText(path, &text, &lines)) return 0;
    /* A file refused for its dates leaves the table as it was: the rows it
    ** would merge into are kept aside until it is accepted. */
    SymbolInfo *keptRows = nullptr;
    const int32_t keptCount = gImport.infoCount, keptWildcard = gImport.infoWildcard;
    if (keptCount > 0 && !AllocMemory(&keptRows, (uint64_t)keptCount * sizeof(SymbolInfo))) {
        FreeMemory(&text);
        return 0;
    }
    if (keptRows) memcpy(keptRows, gImport.infoRows, (size_t)keptCount * sizeof(SymbolInfo));
    if (!GrowTable(&gImport.infoRows, &gImport.infoCapacity, gImport.infoCount + lines + 1, sizeof(SymbolInfo))) {
        FreeMemory(&text);
        return 0;
    }
    /* Rows merge by symbol through a key table rather than a scan of the
    ** table for every row, so a large file reads in linear time. */
    HashTable *keys = HashCreate();
    if (!keys) {
        FreeMemory(&text);
        return 0;
    }
    char key[IMPORT_SYMBOL_SIZE];
    for (int32_t i = 0; i < gImport.infoCount; i++) {
        UpperKey(gImport.infoRows[i].Symbol, key);
        if (!HashLookup(keys, key)) HashInsert(keys, key, (uint64_t)i + 1);
    }

    int csi = mode == SYMINFO_CSI_FUTURES || mode == SYMINFO_CSI_STOCKS;
    int columnField[MAX_FILE_COLUMNS];
    for (int &c : columnField) c = INFO_NONE;
    char columnNames[MAX_FILE_COLUMNS][32] = {};
    char *fields[MAX_FILE_COLUMNS];
    char *cursor = text;
    int lineNumber = 0;
    int ok = 1, refused = 0;
    int reportedTick = 0;
    while (char *line = TakeTextLine(&cursor)) {
        lineNumber++;
        int headerLine = csi ? 2 : 1;
        if (lineNumber < headerLine) continue;
        /* A quote left open would run the rows after it into one: the line
        ** is not read, and says so. */
        if (!UnquoteLine(line, ',')) {
            ReportImportNote(path, kNoteOpenQuote, lineNumber);
            continue;
        }
        int n = SplitFields(line, fields, MAX_FILE_COLUMNS);
        if (lineNumber == headerLine) {
            for (int c = 0; c < n; c++) {
                CopyString(columnNames[c], sizeof columnNames[c], fields[c], -1);
                if (!csi) {
                    for (int f = 0; f < INFO_NAMED_COUNT; f++)
                        if (CompareNoCase(fields[c], kInfoFieldNames[f]) == 0) columnField[c] = f;
                    continue;
                }
                const CsiColumn *table = mode == SYMINFO_CSI_STOCKS ? kCsiStockColumns : kCsiFuturesColumns;
                int rows = mode == SYMINFO_CSI_STOCKS ? (int)(sizeof kCsiStockColumns / sizeof kCsiStockColumns[0])
                                                      : (int)(sizeof kCsiFuturesColumns / sizeof kCsiFuturesColumns[0]);
                for (int r = 0; r < rows; r++)
                    if (CompareNoCase(fields[c], table[r].name) == 0) columnField[c] = table[r].field;
            }
            continue;
        }
        SymbolInfo row;
        memset(&row, 0, sizeof row);
        int tickForm = 0;
        for (int c = 0; c < n; c++) {
            if (columnField[c] == INFO_NONE) continue;
            if (const char *bad = BadInfoNumber(columnField[c], fields[c])) {
                ReportImportNote(path, kNoteBadNumber, lineNumber, columnNames[c], fields[c], bad);
                continue;
            }
            SetInfoField(&row, columnField[c], fields[c], &tickForm, dayFirst);
            /* Only a date that did not read is looked at in the other order. */
            if (columnField[c] == INFO_DELIST_DATE && !row.DelistDate && ReadsOnlyInOtherOrder(fields[c], dayFirst)) {
                RefuseForDateOrder(path, lineNumber, fields[c], dayFirst);
                refused = 1;
                break;
            }
            if (columnField[c] == INFO_DELIST_DATE && !row.DelistDate && fields[c][0])
                ReportImportNote(path, kNoteBadNumber, lineNumber, columnNames[c], fields[c], "not a date");
        }
        if (refused) break;
        if (!row.Symbol[0]) continue;
        if (tickForm < 0) {
            /* A fraction over zero has no value: the default tick applies. */
            if (!reportedTick++) ReportError(kMsgZeroTick, row.Symbol, path);
            tickForm = 1;
        }
        if (strchr(row.Symbol, '*') || strchr(row.Symbol, '?')) gImport.infoWildcard = 1;
        if (mode == SYMINFO_CSI_FUTURES) {
            CopyString(row.Type, sizeof row.Type, row.Currency[0] ? "Futures" : "Forex", -1);
            double minimumTick = row.TRBC;
            if (row.TickSize == 0.0)
                row.TickSize = minimumTick;
            else if (tickForm == 0 && minimumTick != 0.0)
                row.TickSize *= minimumTick;
            row.TRBC = 0.0;
        } else if (mode == SYMINFO_CSI_STOCKS) {
            CopyString(row.Type, sizeof row.Type, "Stock", -1);
            row.TickSize = 0.01;
        }
        UpperKey(row.Symbol, key);
        uint64_t at = HashLookup(keys, key);
        if (at) {
            SymbolInfo &earlier = gImport.infoRows[at - 1];
            MergeSymbolInfo(&row, &earlier);
            /* A repeated row without its currency is no forex row: the type
            ** follows the currency the rows give together. */
            if (mode == SYMINFO_CSI_FUTURES)
                CopyString(earlier.Type, sizeof earlier.Type, earlier.Currency[0] ? "Futures" : "Forex", -1);
            continue;
        }
        gImport.infoRows[gImport.infoCount] = row;
        if (!HashInsert(keys, key, (uint64_t)gImport.infoCount + 1)) {
            ok = 0;
            break;
        }
        gImport.infoCount++;
    }
    if (refused) {
        if (keptRows) memcpy(gImport.infoRows, keptRows, (size_t)keptCount * sizeof(SymbolInfo));
        gImport.infoCount = keptCount;
        gImport.infoWildcard = keptWildcard;
    }
    gImport.infoSorted = 0;
    HashDestroy(keys);
    FreeMemory(&keptRows);
    FreeMemory(&text);
    return ok;
}

/* ---- event-list file -------------------------------------------------------------------- */

enum EventColumn { EVCOL_NONE = -1,
                   EVCOL_SYMBOL,
                   EVCOL_DATE,
                   EVCOL_TIME,
                   EVCOL_TYPE,
                   EVCOL_VALUE,
                   EVCOL_COUNT };
static const char *const kEventColumnNames[EVCOL_COUNT] = {"Symbol", "Date", "Time", "Type", "Value"};

int ReadEventListFile(const ImportItem *item)
{
    /* The order is passed to the date reader, never set in the user's
    ** settings. */
    const int dayFirst = item->csvDateOrder == 1;
    const int32_t keptCount = gImport.eventCount;
    char *text = nullptr;
    int lines = 0;
    int ok = LoadLinesText(item->value, &text, &lines);
    if (ok && !GrowTable(&gImport.eventRows, &gImport.eventCapacity, gImport.eventCount + lines + 1, sizeof(EventListRow)))
        ok = 0;
    if (ok) {
        int column[MAX_FILE_COLUMNS];
        char *fields[MAX_FILE_COLUMNS];
        char *cursor = text;
        int header = 1, lineNumber = 0, refused = 0;
        char columnNames[MAX_FILE_COLUMNS][32] = {};
        while (char *line = TakeTextLine(&cursor)) {
            lineNumber++;
            const int whole = UnquoteLine(line, ',');
            if (!whole) ReportImportNote(item->value, kNoteOpenQuote, lineNumber);
            int n = whole ? SplitFields(line, fields, MAX_FILE_COLUMNS) : 0;
            if (header) {
                for (int c = 0; c < MAX_FILE_COLUMNS; c++) column[c] = EVCOL_NONE;
                for (int c = 0; c < n; c++) {
                    column[c] = FindKeyword(fields[c], kEventColumnNames, EVCOL_COUNT);
                    CopyString(columnNames[c], sizeof columnNames[c], fields[c], -1);
                }
                header = 0;
                continue;
            }
            EventListRow row;
            memset(&row, 0, sizeof row);
            /* A date, time, type or value that is none is never read as 0 (a row
            ** passed over unseen, a dividend of 0) or as the number text
            ** begins with: the line is named and not read. */
            const char *fault = nullptr;
            int faultColumn = 0;
            for (int c = 0; c < n && !fault; c++) {
                double number = 0.0;
                switch (column[c]) {
                case EVCOL_SYMBOL:
                    CopySymbolText(row.symbol, sizeof row.symbol, fields[c], strlen(fields[c]));
                    MakeIdentifier(row.symbol);
                    break;
                case EVCOL_DATE:
                    row.date = fields[c][0] ? ParseDateInOrder(fields[c], dayFirst) : 0;
                    if (!row.date && ReadsOnlyInOtherOrder(fields[c], dayFirst)) {
                        RefuseForDateOrder(item->value, lineNumber, fields[c], dayFirst);
                        refused = 1;
                    } else if (!row.date && fields[c][0]) {
                        fault = "not a date";
                    }
                    break;
                case EVCOL_TIME:
                    if (!ReadTimeOfDay(fields[c], &row.time)) fault = "not a time of day";
                    break;
                case EVCOL_TYPE:
                    fault = NumberTextFault(fields[c], WHOLE_NUMBER, &number);
                    row.kind = (int32_t)number;
                    break;
                case EVCOL_VALUE:
                    fault = NumberTextFault(fields[c], DECIMAL_NUMBER, &number);
                    row.value = number;
                    break;
                default: break;
                }
                faultColumn = c;
            }
            if (refused) {
                /* Nothing of a file refused for its dates is kept. */
                gImport.eventCount = keptCount;
                break;
            }
            if (fault) {
                ReportImportNote(item->value, kNoteBadEventField, lineNumber, columnNames[faultColumn], fields[faultColumn],
                                 fault);
                continue;
            }
            if (!row.symbol[0] || !row.date || !row.kind) continue;
            /* The contract kinds belong to futures bars; a list row of such a
            ** kind would pass for one (and reads as the membership of ids that
            ** the constituency list refuses). */
            if (row.kind == EVENT_CONTRACT || row.kind == EVENT_CONTRACT_SECOND) {
                LogImportMessage(kMsgReservedKind, row.symbol, row.kind, row.date);
                continue;
            }
            gImport.eventRows[gImport.eventCount++] = row;
        }
    }
    FreeMemory(&text);
    return ok;
}

int CompareEventSymbol(const void *a, const void *b)
{
    return CompareNoCase(((const EventListRow *)a)->symbol, ((const EventListRow *)b)->symbol);
}

int CompareEvents(const void *a, const void *b)
{
    int c = CompareEventSymbol(a, b);
    if (c) return c;
    const EventListRow *x = (const EventListRow *)a;
    const EventListRow *y = (const EventListRow *)b;
    if (x->date != y->date) return (uint32_t)x->date < (uint32_t)y->date ? -1 : 1;
    if (x->time != y->time) return (uint32_t)x->time < (uint32_t)y->time ? -1 : 1;
    return 0;
}

int CompareAbsDate(const void *a, const void *b)
{
    int32_t x = *(const int32_t *)a, y = *(const int32_t *)b;
    if (x < 0) x = -x;
    if (y < 0) y = -y;
    return x < y ? -1 : x > y;
}

EventListRow *FindSymbolEvents(const char *symbol, int32_t *count)
{
    *count = 0;
    int32_t lo = 0, hi = gImport.eventCount - 1, found = -1;
    while (lo <= hi) {
        int32_t mid = (lo + hi) / 2;
        int c = CompareNoCase(symbol, gImport.eventRows[mid].symbol);
        if (c == 0) {
            found = mid;
            break;
        }
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    if (found < 0) return nullptr;
    int32_t first = found, last = found;
    while (first > 0 && CompareNoCase(symbol, gImport.eventRows[first - 1].symbol) == 0) first--;
    while (last + 1 < gImport.eventCount && CompareNoCase(symbol, gImport.eventRows[last + 1].symbol) == 0) last++;
    *count = last - first + 1;
    return &gImport.eventRows[first];
}

/* ---- merging into a record ------------------------------------------------------------ */

static void MergeText(char *dest, size_t size, const char *src)
{
    if (src[0]) CopyString(dest, (int)size, src, -1);
}

void MergeSymbolInfo(const SymbolInfo *row, SymbolInfo *t)
{
    MergeText(t->Name, sizeof t->Name, row->Name);
    MergeText(t->Type, sizeof t->Type, row->Type);
    MergeText(t->Exchange, sizeof t->Exchange, row->Exchange);
    MergeText(t->Currency, sizeof t->Currency, row->Currency);
    MergeText(t->Domicile, sizeof t->Domicile, row->Domicile);
    MergeText(t->Sector, sizeof t->Sector, row->Sector);
    MergeText(t->Industry, sizeof t->Industry, row->Industry);
    MergeText(t->InduIndex, sizeof t->InduIndex, row->InduIndex);
    MergeText(t->ReportingCurrency, sizeof t->ReportingCurrency, row->ReportingCurrency);
    MergeText(t->ListingType, sizeof t->ListingType, row->ListingType);
    MergeText(t->EquityType, sizeof t->EquityType, row->EquityType);
    MergeText(t->EconSect, sizeof t->EconSect, row->EconSect);
    MergeText(t->IndGroup, sizeof t->IndGroup, row->IndGroup);
    if (row->PointValue != 0.0) t->PointValue = row->PointValue;
    if (row->TickSize != 0.0) t->TickSize = row->TickSize;
    if (row->TRBC != 0.0) t->TRBC = row->TRBC;
    if (row->GICS != 0.0) t->GICS = row->GICS;
    if (row->Shares != 0.0) t->Shares = row->Shares;
    if (row->Float != 0.0) t->Float = row->Float;
    if (row->AssetId != 0) t->AssetId = row->AssetId;
    if (row->DelistDate != 0) t->DelistDate = row->DelistDate;
    if (row->Margin != 0.0) t->Margin = row->Margin;
    if (row->PriceMult != 0.0) t->PriceMult = row->PriceMult;
}

/* The information row of symbol: the first matching pattern when the table
** holds patterns, else the row of that symbol; null when none. */
static const SymbolInfo *FindInfoRow(const char *symbol, int *wildcard)
{
    *wildcard = gImport.infoWildcard;
    if (gImport.infoWildcard) {
        for (int32_t i = 0; i < gImport.infoCount; i++)
            if (MatchWildcard(gImport.infoRows[i].Symbol, symbol)) return &gImport.infoRows[i];
        return nullptr;
    }
    if (!gImport.infoSorted) {
        for (int32_t i = 0; i < gImport.infoCount; i++)
            if (CompareNoCase(gImport.infoRows[i].Symbol, symbol) == 0) return &gImport.infoRows[i];
        return nullptr;
    }
    int32_t lo = 0, hi = gImport.infoCount - 1;
    while (lo <= hi) {
        int32_t mid = (lo + hi) / 2;
        int c = CompareNoCase(symbol, gImport.infoRows[mid].Symbol);
        if (c == 0) return &gImport.infoRows[mid];
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return nullptr;
}

int ApplySymbolInfo(const char *symbol, SymbolRecord *record, int code)
{
    char id[IMPORT_SYMBOL_SIZE];
    CopyString(id, sizeof id, symbol, IMPORT_SYMBOL_SIZE - 1);
    MakeIdentifier(id);
    int wildcard = 0;
    const SymbolInfo *row = FindInfoRow(id, &wildcard);
    SymbolInfo &info = record->info;
    if (row) {
        CopyString(info.Symbol, sizeof info.Symbol, row->Symbol, -1);
        MergeSymbolInfo(row, &info);
    }
    if (!row || wildcard) CopyString(info.Symbol, sizeof info.Symbol, id, -1);
    if (info.PriceMult == 0.0) info.PriceMult = 1.0;
    if (info.PointValue == 0.0) info.PointValue = 1.0;
    if (info.TickSize == 0.0) info.TickSize = 0.01;
    record->dataSource = code;
    record->securityType = ParseSecurityType(info.Type);
    return record->securityType;
}
