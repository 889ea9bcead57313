/* import_items.h -- the Import section: where the market data comes from.
**
** An Import section is a sequence of keyword lines.  A DataSource line opens
** a block; the lines after it describe that block (files, folders, symbol
** lists, CSV layout, adjustment, padding, date range, Norgate options) until
** the next DataSource.  ApplyImportItem applies one line: it adds an
** ImportItem to gImportItems or changes gImportState, which later lines and
** the import run read.  The section's ExcludeIf is kept by the parser as a
** formula of its own.
**
** Owns:       gImportItems (ImportItem, script order), gImportState, the data
**             source, CSV field and fundamentals field tables, and the
**             requested marks of the constituency list.
** Invariants: every item belongs to the block of the DataSource before it
**             (blockNumber 1-based); a DataSource item carries its block's
**             adjustment.  Item records keep their allocation across
**             compiles; ResetImportState zeroes them.
** Errors:     ApplyImportItem returns 0, a compile error code (the parser
**             reports it over the span given), or -1 when memory runs out or
**             an item's path cannot be resolved.  The state keeps what earlier
**             lines set; Constituency and Fundamentals keep the marks made
**             before an unknown name.
** Threads:    UI thread only (compile); the import run reads the results.
*/
#pragma once
#include <cstdint>

#include "foundation/allocator.h"
#include "platform/platform.h"

enum {
    IMPORT_NAME_SIZE = 80,
    IMPORT_CSV_FIELDS = 16,
    DATA_SOURCE_COUNT = 8,
    CSV_FIELD_COUNT = 14,
    FUNDAMENTAL_FIELD_ROWS = 178 /* the table's rows before its end row */
};

/* Import keywords, at the index the parser passes (kImportKeywordNames). */
enum ImportKeyword {
    IMPKW_DATA_SOURCE = 0,
    IMPKW_CSV_FIELDS = 1,
    IMPKW_CSV_FILE = 2,
    IMPKW_CSV_DATE_FMT = 3,
    IMPKW_CSV_NUM_FMT = 4,
    IMPKW_CSV_DELIM = 5,
    IMPKW_DATA_PATH = 6,
    IMPKW_SYM_INFO_FILE = 7,
    IMPKW_EVENT_LIST_FILE = 8,
    IMPKW_INCLUDE_LIST = 9,
    IMPKW_EXCLUDE_LIST = 10,
    IMPKW_CONSTITUENCY = 11,
    IMPKW_FUNDAMENTALS = 12,
    IMPKW_ADJUSTMENT = 13,
    IMPKW_KEEP_ADJUSTED = 14,
    IMPKW_KEEP_NON_INCLUDED = 15,
    IMPKW_KEEP_REDUNDANT = 16,
    IMPKW_REMOVE_LATEST = 17,
    IMPKW_PADDING = 18,
    IMPKW_PAD_ALIGN_SYM = 19,
    IMPKW_NO_WEEKENDS = 20,
    IMPKW_CLASSIFICATION = 21,
    IMPKW_CII_FAMILY = 22,
    IMPKW_CII_LEVEL = 23,
    IMPKW_UPDATE = 24,
    IMPKW_EXCLUDE_IF = 25,
    IMPKW_START_DATE = 26,
    IMPKW_END_DATE = 27,
    IMPKW_SAVE_AS = 28,
    IMPKW_LOG_FILE = 29
};

/* Data sources, by number. */
enum DataSourceId {
    SOURCE_NORGATE = 0,
    SOURCE_YAHOO = 1,
    SOURCE_CSV = 2,
    SOURCE_CSI_FUTURES = 3,
    SOURCE_CSI_STOCKS = 4,
    SOURCE_METASTOCK = 5,
    SOURCE_TIINGO = 6,
    SOURCE_TIINGO_CRYPTO = 7
};

enum Adjustment { ADJUST_TOTAL_RETURN = 0,
                  ADJUST_CAPITAL_SPECIAL = 1,
                  ADJUST_CAPITAL = 2,
                  ADJUST_NONE = 3 };

/* One DataSource, CSVFile, DataPath, SymInfoFile, EventListFile, IncludeList
** or ExcludeList line. */
struct ImportItem {
    char value[PATH_SIZE];                /* source name, file or folder path, list file */
    char name[IMPORT_NAME_SIZE];          /* display name from the brace hint, namespace-qualified */
    int32_t csvFields[IMPORT_CSV_FIELDS]; /* CSV field id of each column, 0 none */
    int32_t dataSource;                   /* DataSourceId of the block */
    int32_t blockNumber;                  /* DataSource lines up to and including this block, from 1 */
    int32_t listNumber;                   /* set by the import run */
    int32_t kind;                         /* ImportKeyword of the line */
    int32_t csvDateOrder;                 /* 0 MDY, 1 DMY */
    int32_t csvNumberFormat;              /* 0 Point, 1 Comma */
    int32_t csvDelimiter;                 /* 0 Comma, 1 Semicolon, 2 Tab */
    int32_t adjustment;                   /* Adjustment, on DataSource items */
    int32_t blockHasIncludeList;          /* set by the import run */
    int32_t listFlag;                     /* 1, or 0 when the brace hint is "//" */
    int32_t filterNeedsSecurity;          /* set by the import run: ExcludeIf reads security fields */
    int32_t filterNeedsEvents;            /* set by the import run: ExcludeIf reads membership events */
};

/* The state the Import lines build, beside the item list. */
struct ImportState {
    int32_t currentSource; /* DataSourceId of the open block */
    int32_t sourceCount;   /* DataSource lines so far */
    int32_t csvFields[IMPORT_CSV_FIELDS];
    int32_t csvFieldSum;
    int32_t fundamentalCount; /* fundamentals fields requested */
    int32_t StartDate;        /* yyyymmdd, 0 earliest */
    int32_t EndDate;          /* yyyymmdd, 0 latest */
    int32_t adjustment;       /* Adjustment */
    int32_t Padding;          /* 0 None, 1 AlignWithSymbol, 2 AllMarketDays, 3 AllWeekDays, 4 AllCalendarDays */
    int32_t csvDateOrder;
    int32_t csvNumberFormat;
    int32_t csvDelimiter;
    int32_t Classification; /* 0 TRBC, 1 GICS */
    int32_t CIIFamily;      /* -1 none */
    int32_t CIILevel;
    int32_t KeepAdjusted;
    int32_t KeepNonIncluded;
    int32_t KeepRedundant;
    int32_t RemoveLatest;
    int32_t NoWeekends;
    int32_t Update;
    char SaveAs[PATH_SIZE];
    char LogFile[PATH_SIZE];
    char PadAlignSym[40];
};

/* One row of the fundamentals field table.  A row with an empty name opens
** its group and carries the group's title as its description. */
struct FundamentalField {
    int32_t group;           /* 1..6; 0 ends the table */
    int32_t requested;       /* an Import line asks for it */
    int32_t present;         /* the loaded data holds it */
    const char *name;        /* the field name the source knows it by */
    const char *description; /* one line for the views and the editor */
};

extern GrowList gImportItems; /* ImportItem */
extern ImportState gImportState;
extern const char *const kDataSourceNames[DATA_SOURCE_COUNT];
extern const char *const kCsvFieldNames[CSV_FIELD_COUNT];
extern FundamentalField gFundamentalFields[FUNDAMENTAL_FIELD_ROWS + 1];
/* Marks one row of the fundamentals field table as present in the loaded
** data (ids 0 and beyond the table mark nothing); clears every mark.  The
** data file reader and the unloading call them through gScriptDataLinks. */
void MarkFundamentalFieldPresent(uint32_t fieldId);
void ClearFundamentalFieldsPresent();
/* One mark per row of the constituency list, gConstituency; 1 when an Import
** line requested that index; null until the first request. */
extern uint8_t *gConstituencyRequested;

/* Applies import keyword index with its value (length characters, ending at a
** comment).  Every line but DataSource needs a DataSource before it (62).
** DataSource opens a block (its adjustment back to Capital); CSVFile, DataPath,
** SymInfoFile, EventListFile, IncludeList and ExcludeList add items (the
** first three take a display name and list flag from a brace hint); CSV
** layout lines change the state and the last item; Constituency and
** Fundamentals mark what they name; the rest set the state.  Values of 260
** letters or more give 10.  0, a compile error code with the span to mark
** in *outOffset and *outLength (relative to value; the whole value unless a
** single name is at fault; 9 for a path too long to resolve), or -1 when
** memory ran out. */
int ApplyImportItem(int index, const char *value, int length, const char *nameSpace, int *outOffset, int *outLength);
/* Appends an item of kind for the open block; 1, or 0 when the list cannot
** grow or the value's path cannot be resolved (nothing is added then). */
int AddImportItem(int kind, const char *value, const char *name, int listFlag);
/* The last item takes the state's CSV layout (a Comma number format with a
** Comma delimiter makes its delimiter Semicolon). */
void ApplyCsvFormatToItem();
/* The last DataSource item takes the state's adjustment. */
void ApplyAdjustmentToSource();
/* Returns the items (allocation kept) and the state to their empty form. */
void ResetImportState();
/* Row of the fundamentals field table whose name equals name (case ignored),
** or -1; group title rows never match. */
int FindFundamentalField(const char *name);
