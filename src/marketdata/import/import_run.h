/* import_run.h -- the state of one import and the services every importer
** shares: the work list of symbols to import with its key table, exclude
** patterns and list names; the symbol-information and event-list tables;
** the intake of each bar (AddBar), sorting, storing and logging a finished
** symbol; the ExcludeIf filter; share-class filtering; futures contract
** symbols; the JSON readers of the online answers.
**
** Owns:       gImport, one record from BeginImport to ReportImportMisses.
**             The imported symbols themselves are the store's array gStore.symbols
**             (gImport.count of them, capacity gImport.capacity records);
**             the store's gStore.symbolCount takes the count when the driver sorts
**             them.  During an import the daily master list is the import's
**             calendar: one entry per calendar day from StartDate to EndDate,
**             +date for a market day, -date for a day that is not.
** Reads:      gImportItems and gImportState (the compiled Import section),
**             gImportFilter (its ExcludeIf), the settings EarliestImportYear,
**             ImportBarTime and DateInputFormat.
** Keys:       work items by "%d.%s" (block, symbol), imported symbols by
**             "0.%s" (MakeSymbolKey), both upper-cased and with the whole
**             symbol: symbols of 39 characters that differ in the last are two.
** Errors:     routines return as documented below; readers report their own
**             failures through ReportError (file helpers' wording) and return
**             0, which fails the import.
** Threads:    the UI thread runs everything except what the online workers
**             call: AddBar, SortBars, SetEventItem and LogSymbolFiltered on
**             their own records, and FinishSymbol, LogImportMessage and
**             IsInIncludeList, which take the import lock when the block runs
**             more than one thread (gImport.useLock).
*/
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/import_items.h"

enum {
    IMPORT_SYMBOL_SIZE = 40,
    IMPORT_KEY_SIZE = IMPORT_SYMBOL_SIZE + 12, /* "%d." and a whole symbol */
    IMPORT_LISTS = 256,
    FAILED_SYMBOLS_SIZE = 5000,
    WORK_LIST_SPARE = 100,    /* room kept after each addition */
    IMPORT_GROWTH = 100,      /* imported records added at a time */
    REUSED_INDUSTRY_ITEM = 99 /* list number of an item re-used for an industry index */
};

/* One symbol to import (or, in the exclude list, one pattern). */
struct ImportWorkItem {
    char symbol[IMPORT_SYMBOL_SIZE]; /* as requested from the source */
    char saveAs[IMPORT_SYMBOL_SIZE]; /* as stored; symbol unless the list said name>savename */
    uint8_t lists[IMPORT_LISTS];     /* byte k-1: member of list k */
    uint32_t block;                  /* block number of the source block that asked */
    uint32_t list;                   /* list number when first added */
    uint32_t flags;                  /* list flag of the first row: AddBar's mark */
    uint32_t imported;               /* 1 once stored */
    uint32_t fromFile;               /* 1 when added for a price file, not asked for by a list */
};

/* One row of an event-list file; 64 bytes. */
struct EventListRow {
    int32_t date;
    int32_t time;
    char symbol[IMPORT_SYMBOL_SIZE]; /* "*" = every symbol */
    int32_t kind;
    int32_t reserved;
    double value;
};
static_assert(sizeof(EventListRow) == 64, "event-list row is 64 bytes");

struct ImportRun {
    int32_t count;           /* imported symbols in gStore.symbols */
    int32_t capacity;        /* records allocated in gStore.symbols */
    HashTable *importedKeys; /* "0.SYMBOL" -> 1-based position when stored */
    HashTable *workKeys;     /* MakeSymbolKey -> 1-based work item */
    ImportWorkItem *work;    /* tracked */
    int32_t workCount, workCapacity;
    ImportWorkItem *excludes; /* tracked; symbol = pattern */
    int32_t excludeCount, excludeCapacity;
    SymbolInfo *infoRows; /* tracked; symbol-information table */
    int32_t infoCount, infoCapacity;
    int32_t infoWildcard;    /* a row's symbol holds '*' or '?' */
    int32_t infoSorted;      /* rows sorted by symbol (binary search allowed) */
    EventListRow *eventRows; /* tracked; event-list table */
    int32_t eventCount, eventCapacity;
    char *failedSymbols;        /* tracked, FAILED_SYMBOLS_SIZE bytes */
    PlatFile log;               /* the import log, null when none or while its lines wait */
    int logFailed;              /* a write to the log failed (reported once): no more is written */
    /* The log is named but nothing is written under its name before the
    ** import has read its files (a log named as one of them would empty it
    ** unread): its lines wait here until then. */
    int32_t logWaits;
    std::string logHeld;
    std::mutex lock;            /* the import lock */
    int32_t useLock;            /* the current block runs more than one thread */
    int32_t keptCount;          /* symbols stored (the online status) */
    int32_t processedCount;     /* symbols looked at (the online status) */
    int32_t referenceDate;      /* the day after today: end of online requests */
    int32_t startDate, endDate; /* the import's date range */
    /* What the native program's progress line and closing counts show; the
    ** counters are changed atomically (online workers), reset by RunImport. */
    int32_t refusedCount;            /* files and symbols refused whole */
    int32_t refusedLineCount;        /* lines and records not read as bars */
    int64_t barCount;                /* daily bars of the symbols kept */
    int32_t progressDone;            /* files, records or symbols walked in the current block */
    int32_t progressTotal;           /* how many the block has, 0 unknown */
    char progressName[IMPORT_SYMBOL_SIZE]; /* the file's symbol or the record being read */
    /* The file each symbol a file source stored came from (upper-case
    ** identifier -> path), for naming a later file that becomes it; UI thread. */
    std::unordered_map<std::string, std::string> storedFrom;
};

extern ImportRun gImport;

/* 1 while the import keeps a log, written or waiting. */
inline int ImportLogKept() { return gImport.log != nullptr || gImport.logWaits; }

/* Frees everything gImport holds (not the imported symbols) and zeroes it;
** the log is closed. */
void ResetImportRun();

/* ---- start and end (bookkeeping) ------------------------------------------------ */

/* Prepares an import: date range, calendar, unloaded data, key tables.
** 1 ready; 0 after reporting ("No import path definitions were found in %s",
** "Import date range error.") or when the user kept the loaded data. */
int BeginImport();
/* Ends an import: the misses report (result 1 with a log), frees the import's
** tables, unloads on failure or stop, run state 0. */
void ReportImportMisses(int result);

/* Reads an IncludeList or ExcludeList item (a file, a CSV list, or the value
** itself as a list).  A CSV list's line that leaves a double quote open is
** named and not read.  1, or 0 after reporting a file that cannot be read
** or a CSV list that is no list (its header leaves a quote open, or names no
** symbol column above lines that hold something). */
int ReadImportListFile(const ImportItem *item);

/* ---- bars and symbols ----------------------------------------------------------------- */

/* Prepares the bar the caller wrote into the record's next daily slot: date
** range, weekends, price divisor, zero prices, adjustment, KeepAdjusted,
** rounding, dividend or contract events, first/last date, market-day mark.
** adjusted/unadjusted are the source's adjusted and as-traded closes (0 none),
** dividend the cash dividend (CSIFutures: the contract).  With plainPrices
** the caller read open, high, low and close from decimal texts of at most 7
** significant digits (1e-15 to 1e15): when nothing here changes them, their
** rounding to 7 digits would give them back, and is left out.  1 keep, 0 drop.
** A bar dropped as damaged (not a day, a price, volume or split factor that
** is or would become no finite number, a split factor not above zero) sets
** *refusal (when given) to the reason, a static text; one dropped for the
** date range, a weekend or zero prices leaves it null. */
int AddBar(SymbolRecord *record, Bar *bar, double adjusted, double unadjusted, double dividend, int mark,
           int plainPrices = 0, const char **refusal = nullptr);
/* A split a source gives: its day and its ratio (2 for 2:1). */
struct LineSplit {
    int32_t date;
    double ratio;
};
/* Multiplies the split factor of each of the n bars by the ratios of the
** splits dated after its day.  Every split a source gives counts, on a bar
** kept or on a line refused for another reason (its ratio does not depend
** on the day's prices), as long as it lies within the import's StartDate to
** EndDate: data imported up to an EndDate are the data as they stood then,
** when a later split had not happened.  Every source's splits come through
** here; splits is sorted by date in place. */
void ApplySplitRatios(Bar *bars, int32_t n, LineSplit *splits, size_t count);
/* Sorts the daily bars by date and time (of equal ones the later to arrive is
** kept) and the events; sets first and last date. */
void SortBars(SymbolRecord *record);
/* Adds the symbol's event-list events and stores the record in the imported
** set (the record is zeroed).  The daily count stored, 0 when the record has
** no bars or a symbol of its name is already stored (nothing stored; the
** second is reported by name), -1 when memory runs out. */
int FinishSymbol(SymbolRecord *record, ImportWorkItem *item);
/* Stores and logs the record (the caller holds the lock when one is used).
** The daily count, or -1 when the imported array cannot grow. */
int LogSymbolLine(SymbolRecord *record);
/* Writes size bytes to the import log when it is open.  The first write
** that fails (a full disk) is reported, naming the log and the reason, and
** sets result code 3; the log then gets nothing more, so it never holds a
** hole.  Any thread (the caller holds the import lock when one is used). */
void WriteImportLog(const char *text, uint32_t size);
/* printf to the import log when it is open, through WriteImportLog. */
void LogImportMessage(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* 1 when the ExcludeIf formula excludes the record (evaluated on slot). */
int LogSymbolFiltered(SymbolRecord *record, int slot);
/* 1 when symbol is already imported (its membership of list 1..256 then set). */
int IsInIncludeList(const char *symbol, int list);
/* Drops the symbols whose other share class trades more (by 20-bar turnover). */
void RemoveRedundantShareClasses();
/* qsort comparator: Name, then Symbol, case ignored. */
int CompareByNameThenSymbol(const void *a, const void *b);
/* 1 with *suffix (when suffix is given) at the contract suffix ("-2024Z")
** when the record's symbol text is a futures contract (separator '-' or '_',
** 6 characters, year 1000..3000, upper-case month letter); else 0. */
int IsFuturesContractSymbol(const SymbolRecord *record, const char **suffix);

/* ---- refused input --------------------------------------------------------------------- */

enum { REFUSED_LINES_SHOWN = 5 /* lines a report names, the first ones */ };

/* The lines of one file (or records of one data file) not read as bars:
** how many, and the first few by number (1-based) with the reason, a
** static text. */
struct RefusedLines {
    int32_t count;
    int32_t lines[REFUSED_LINES_SHOWN];
    const char *reasons[REFUSED_LINES_SHOWN];
};

/* Why a line is not a bar. */
extern const char kRefusedNoDate[];      /* "no date could be read" */
extern const char kRefusedBadDate[];     /* "the date is not a calendar day" */
extern const char kRefusedText[];        /* "a number field holds text" */
extern const char kRefusedMissing[];     /* "a price is missing" */
extern const char kRefusedInfinite[];    /* "a number is not finite" */
extern const char kRefusedHighLow[];     /* "the high is below the low" */
extern const char kRefusedOpenOutside[]; /* "the open lies outside the low to high range" */
extern const char kRefusedCloseOutside[];/* "the close lies outside the low to high range" */
extern const char kRefusedNoSymbol[];    /* "the symbol is missing" */
extern const char kRefusedPriceMult[];   /* "a price divided by PriceMult is not finite" */
extern const char kRefusedSplitFactor[]; /* "the split factor is no finite number above zero" */
extern const char kRefusedAdjusted[];    /* "a price or the volume adjusted by the split factor is not finite" */

inline void NoteRefusedLine(RefusedLines *refused, int32_t line, const char *reason)
{
    if (refused->count < REFUSED_LINES_SHOWN) {
        refused->lines[refused->count] = line;
        refused->reasons[refused->count] = reason;
    }
    refused->count++;
}
/* A price as the data file keeps it: 7 significant digits (AddBar stores
** every price through here). */
inline double StoredPrice(double price) { return RoundSignificant(price, 7); }

/* The shape fault of open, high, low and close as given (null when none). */
inline const char *PriceShapeFaultOf(double open, double high, double low, double close, int checkOpen, int checkClose)
{
    if (high < low) return kRefusedHighLow;
    const bool openOutside = checkOpen && (open < low || open > high);
    const bool closeOutside = checkClose && (close < low || close > high);
    if (!openOutside && !closeOutside) return nullptr;
    if (open == 0.0 && high == 0.0 && low == 0.0) return nullptr;
    return openOutside ? kRefusedOpenOutside : kRefusedCloseOutside;
}

/* Why the prices the reader gave bar are no bar's (null when they are one):
** the high below the low, or the open (when checkOpen) or the close outside
** the low to high range, as a line shifted by a thousands separator or a
** damaged record gives.  A bar given only its close (open, high and low 0)
** is AddBar's to fill, and passes.  The bar is judged as it will be stored:
** an exporter's float noise (28.750000000000004 beside a high of 28.75,
** 31.420000 beside 31.419999) is gone at the digits the data file keeps.
** Rounding keeps the order of prices, so only a bar out of shape as given
** is looked at again, rounded. */
inline const char *PriceShapeFault(const Bar *bar, int checkOpen, int checkClose)
{
    if (!PriceShapeFaultOf(bar->open, bar->high, bar->low, bar->close, checkOpen, checkClose)) return nullptr;
    return PriceShapeFaultOf(StoredPrice(bar->open), StoredPrice(bar->high), StoredPrice(bar->low),
                             StoredPrice(bar->close), checkOpen, checkClose);
}
/* Writes the numbers refused shows, the first ones, into out (size bytes):
** "line 5 (a price is missing), line 8 (...) and 3 more" with a unit, or
** "5, 8 and 3 more" without one (unit null).  The length written. */
int FormatRefusedNumbers(char *out, size_t size, const RefusedLines *refused, const char *unit);
/* Reports the refused lines of file (nothing when there are none) in the
** import log and through the console echo:
** "<file>: 3 lines not read as bars: line 5 (a price is missing), ..."
** (unit names what is counted: "line", or "record" in a data file).
** Any thread. */
void ReportRefusedLines(const char *file, const RefusedLines *refused, const char *unit = "line");
/* Reports a note on a file that was read, "<file>: <note>", in the import
** log and on standard error, without counting it.  Any thread. */
void ReportImportNote(const char *file, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* Notes, on file, the bytes of a series or data file past the records its
** count announces (read bytes of which the announced records take
** announced), which were not read:
** "<file>: 56 bytes past the 2 records its Record-Count announces were not
** read".  Nothing when there are none.  Any thread. */
void NoteBytesPastCount(const char *file, uint64_t size, uint64_t announced, int64_t records, const char *counter);
/* Reports a refused file in words of its own (a whole line, format ending
** in "\n") like ReportRefusedFile, and counts it.  Any thread. */
void ReportRefusedText(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* Notes that a file source stored symbol (as stored) from file: a price
** file, the lines of a multi-symbol file, a MetaStock data file.  UI thread. */
void NoteStoredFrom(const char *symbol, const char *file);
/* 1 when symbol is in the imported set already (IsInIncludeList, which then
** marks its membership of list), after reporting file as refused, naming
** the file it was stored from: a symbol is stored once, and a second file
** that becomes it (another DataPath row, a MetaStock sub-folder) is named,
** never passed over without a word.  0 when it is not.  UI thread. */
int RefuseImportedAlready(const char *file, const char *symbol, int list);
/* Marks date as a market day of the import's calendar.  Any thread. */
void MarkMarketDay(int32_t date);
/* Reports a file or symbol that gave nothing, with the reason, the same
** way ("<file> was not imported: <reason>"), and counts it.  Any thread. */
void ReportRefusedFile(const char *file, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* Composes a path into out[PATH_SIZE].  1 when it fits; 0 when it
** would be longer than 259 letters, after reporting "<name> file path is
** too long -- maximum is 260 chars." as a refused file, so that a cut name
** can never open another file. */
int ComposeImportPath(char *out, const char *name, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
/* 1 when date is yyyymmdd of a day of the calendar (years 1000..9999). */
int IsCalendarDate(int32_t date);

/* ---- work list, exclude patterns, list names --------------------------------------------- */

/* The symbol text [text, text + *length) without the blanks around it
** (spaces, tabs, line ends): its start, its length through length.  Blanks
** around a symbol in a line, a list or a file name are no part of it (in
** its identifier they would make another symbol, "P " P_); every reader of
** a symbol takes it through here. */
const char *TrimSymbolText(const char *text, size_t *length);
/* Copies the symbol text [text, text + length), without the blanks around
** it, into out (size bytes; cut to fit). */
void CopySymbolText(char *out, size_t size, const char *text, size_t length);
/* Adds symbol (name or name>savename, blanks around either no part of it)
** for block, or finds the item already there, and sets its membership of
** list (1..256).  The item, or null after "Symbol '%s' is too long." or when
** memory runs out. */
ImportWorkItem *AddSymbolToImportList(char *symbol, int block, int list, int flags);
/* The existing work item of (block, symbol), or null. */
ImportWorkItem *FindImportWorkItem(const char *symbol, int block);
/* Appends an exclude pattern of block (without the blanks around it); 0
** after "Symbol '%s' is too long." or when memory runs out. */
int AddExcludePattern(const char *pattern, int block);
/* 1 when an exclude pattern of block matches symbol ('?' one character, '*'
** a run; case ignored). */
int IsSymbolExcluded(const char *symbol, int block);
/* "%d.%s" of block and the whole symbol, upper case. */
void MakeSymbolKey(const char *symbol, int block, char out[IMPORT_KEY_SIZE]);
/* qsort comparator of two texts (or records starting with one), case ignored. */
int CompareTextNoCase(const void *a, const void *b);
/* Appends a list name (79 characters) while fewer than 256 are held. */
void AddListName(const char *name);

/* ---- symbol information and event lists ------------------------------------------------- */

enum SymbolInfoMode { SYMINFO_NAMED = -1,
                      SYMINFO_CSI_FUTURES = 3,
                      SYMINFO_CSI_STOCKS = 4 };

/* Adds the rows of a symbol-information file (SymbolInfoMode) to the table,
** dates read in the order dayFirst gives (1 day first).  A file with a date
** that reads only in the other order is refused whole (reported, the table
** left as it was).  1, or 0 after reporting. */
int ReadSymbolInfoFile(const char *path, int mode, int dayFirst = 0);
/* Adds the rows of the item's EventListFile, dates read in the item's order;
** a file with a date that reads only in the other order is refused whole
** (reported, nothing added).  1, or 0 after reporting. */
int ReadEventListFile(const ImportItem *item);
/* The first event-list row of symbol (the table sorted with CompareEvents)
** and the number of its rows through count; null and 0 when none. */
EventListRow *FindSymbolEvents(const char *symbol, int32_t *count);
/* Event-list rows: symbol (case ignored), date, time. */
int CompareEvents(const void *a, const void *b);
/* Event-list rows by symbol only. */
int CompareEventSymbol(const void *a, const void *b);
/* Calendar entries (signed dates) by absolute value. */
int CompareAbsDate(const void *a, const void *b);
/* A TickSize text: a/b&c/ds, a/b with an optional letter (e h q t), or a
** decimal.  1 for a fraction, 0 for a decimal, -1 for a fraction with a zero
** denominator (value 0). */
int ParseTickSize(const char *text, double *value);
/* Copies the row's nonempty texts and nonzero numbers onto target (not the
** symbol, list flags or contract links). */
void MergeSymbolInfo(const SymbolInfo *row, SymbolInfo *target);
/* Starts record for symbol: identifier form, information row, defaults,
** source code.  Returns the record's security type. */
int ApplySymbolInfo(const char *symbol, SymbolRecord *record, int code);

/* ---- JSON readers (plain text search) ------------------------------------------------------ */

/* The text of key (at most 79 characters) into out[80]; its length, 0 when
** the key or a quote is missing. */
int GetJsonText(const char *json, const char *key, char *out);
/* The number of key, ending at ',', '}' or ']'; 0.0 when the key is missing. */
double GetJsonNumber(const char *json, const char *key);
/* Up to n numbers of the array of key into *array; with n = 0 the elements are
** counted and the array allocated (tracked).  A null element reads as NaN
** (a missing value).  The number read. */
int GetJsonNumberArray(const char *json, const char *key, double **array, int n);
/* 1 when element index (from 0) of the number array of key is null (a value
** the source left out), 0 otherwise (also a literal NaN). */
int IsJsonArrayNull(const char *json, const char *key, int index);
