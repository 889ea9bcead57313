/* symbols.h -- the loaded market data: symbol records, bars, master date lists
** and the calendar pseudo-symbol, with the lookups that find a symbol by name
** and a bar by date.
**
** Owns:       gStore, the loaded data in one record: the symbol array and
**             its count, the master date lists (indexed by BarSize), the
**             calendar pseudo-symbol (symbol "Global", one bar per market
**             date), and what the data file reader publishes with them (first
**             and last date, KeepAdjusted, version, fundamentals count, list
**             names, note, constituency ids, largest daily bar count, path).
**             UnloadData (data_load.h) frees it and puts back its no-data
**             state; tests reset it the same way.
** Invariants: gStore.symbols holds gStore.symbolCount + 1 records, the last one zero.  The
**             records are sorted by info.Symbol with CompareSymbolNames (the
**             Latin letters A-Z folded to lower case, every other byte compared
**             as unsigned), and that same comparison drives FindSymbolIndex.  Symbol numbers are 1-based: number n is
**             gStore.symbols[n - 1]; 0 means none wherever a symbol is referred to by
**             number.  Every bar array is in ascending date (then time) order
**             and has room for one bar more than its count.  A DateList's
**             dates end with a 0 after the last one.  Bars of the weekly and
**             longer sizes carry the date of the last trading day of their
**             period.
** Errors:     lookups never report except FindSymbolAtDate (below); they give
**             -1, 0 or null when there is nothing to find.
** Threads:    the array, lists and calendar are built and freed on the UI thread
**             while no worker runs.  Lookups run on any thread at once: each
**             caller passes its worker slot 0..31 and FindBarIndex writes only
**             that slot's hint.  Slot 0 is also used by GetBarOnOrBefore,
**             FindSymbolAtDate and GetCurrencyRate from any thread, so hints
**             are read and written as relaxed atomic values.  The first used
**             date is lowered with an atomic minimum by any thread.
** Sizes:      up to tens of thousands of symbols of up to ~10,000 daily bars.
**             FindBarIndex is the hot path of every date loop: no allocation,
**             no strings, no locks; stepping dates in order costs O(1) each.
*/
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/file_state.h"
#include "platform/platform.h"

/* ---- bar sizes and phases ------------------------------------------------- */

enum BarSize {
    BAR_DAILY = 0,
    BAR_WEEKLY = 1,
    BAR_MONTHLY = 2,
    BAR_QUARTERLY = 3,
    BAR_YEARLY = 4
};
enum { BAR_SIZE_COUNT = 5 };

enum BarPhase {
    PHASE_NONE = 0,
    PHASE_OPEN = 1,
    PHASE_INTRADAY = 2,
    PHASE_CLOSE = 3
};

enum { WORKER_SLOTS = 32 };

enum {
    LIST_NAME_SIZE = 80,         /* characters of an include-list name */
    CONSTITUENCY_ID_BYTES = 256, /* bytes of the data file's id block */
    MAX_CONSTITUENCY_IDS = CONSTITUENCY_ID_BYTES / 4
};

/* ---- records ---------------------------------------------------------------- */

/* One price bar; the same 64 bytes in memory and in the data file.
**
**   offset size  field
**   0      4     date     yyyymmdd
**   4      4     time     hhmmss
**   8      8     open
**   16     8     high
**   24     8     low
**   32     8     close
**   40     8     volume   above 0: the bar traded
**   48     8     extra    extra value of the source
**   56     8     split    adjustment factor of prices and volume (1.0 none)
*/
struct Bar {
    int32_t date;
    int32_t time;
    double open;
    double high;
    double low;
    double close;
    double volume;
    double extra;
    double split;
};
static_assert(sizeof(Bar) == 64, "Bar is 64 bytes in memory and on disk");
static_assert(offsetof(Bar, open) == 8 && offsetof(Bar, close) == 32 && offsetof(Bar, split) == 56,
              "Bar field offsets");

/* The ascending market dates of one bar size, followed by a 0. */
struct DateList {
    uint32_t *dates;         /* tracked block; count + 1 entries used */
    int32_t capacity;        /* entries allocated */
    int32_t count;           /* dates, not counting the terminating 0 */
    int32_t barSize;         /* BarSize of the list */
    int32_t holidayStrategy; /* 1-based strategy whose holiday list applies
                                 when dates are stepped on this list; 0 or out
                                 of range: the program's list */
};

/* Security type of a symbol, from its Type text. */
enum SecurityType {
    SECURITY_STOCK = 0,
    SECURITY_FOREX = 1,
    SECURITY_FUTURES = 2
};

/* One fundamentals value; 16 bytes in memory and in the data file. */
struct FundamentalItem {
    uint32_t fieldId; /* row of the fundamentals field table; 0 = no field */
    uint32_t intValue;
    double value;
};
static_assert(sizeof(FundamentalItem) == 16, "FundamentalItem is 16 bytes");

/* Event kinds other than the positive Type numbers of user event lists.
** An index-membership change of constituency id k has kind -(k + 1). */
enum EventKind {
    EVENT_DIVIDEND = -1,
    EVENT_CONTRACT = -999,       /* contract of a futures bar, yyyymmdd form */
    EVENT_CONTRACT_SECOND = -998 /* the second value given with it */
};

/* One dated event of a symbol; 24 bytes in memory and in the data file.
**   0 date (yyyymmdd)  4 time (hhmmss)  8 kind  12 reserved  16 value */
struct EventItem {
    int32_t date;
    int32_t time;
    int32_t kind;
    int32_t reserved;
    double value;
};
static_assert(sizeof(EventItem) == 24, "EventItem is 24 bytes");
static_assert(offsetof(EventItem, value) == 16, "EventItem value offset");

/* The descriptive block of a symbol: 1384 bytes, identical in memory and in
** the data file.  Texts are NUL-terminated inside their fixed fields. */
struct SymbolInfo {
    char Symbol[40];            /*    0  identifier form; sort and search key */
    char Name[80];              /*   40 */
    char Type[80];              /*  120  "Futures", "Forex", "Stock" ... */
    char Exchange[80];          /*  200 */
    char Currency[80];          /*  280 */
    char Domicile[80];          /*  360 */
    char Sector[80];            /*  440 */
    char Industry[80];          /*  520 */
    char InduIndex[40];         /*  600  futures contract: the root symbol */
    uint32_t listNumber;        /*  640  list of the import row that brought it in */
    uint32_t reserved;          /*  644  old files: 32-bit list mask */
    double PointValue;          /*  648  1.0 when not given */
    double TickSize;            /*  656  0.01 when not given */
    double TRBC;                /*  664 */
    double GICS;                /*  672 */
    double Shares;              /*  680 */
    double Float;               /*  688 */
    uint32_t nextContract;      /*  696  1-based symbol number of the next contract of the root; 0 = none */
    uint32_t previousContract;  /*  700  1-based symbol number of the previous contract; 0 = none */
    int32_t AssetId;            /*  704 */
    int32_t DelistDate;         /*  708  yyyymmdd */
    char ReportingCurrency[80]; /*  712 */
    char ListingType[80];       /*  792 */
    char EquityType[80];        /*  872 */
    uint8_t includeLists[256];  /*  952  byte k: member of include list k + 1 */
    char EconSect[80];          /* 1208 */
    char IndGroup[80];          /* 1288 */
    double Margin;              /* 1368 */
    double PriceMult;           /* 1376  imported prices divided by it unless 0 or 1 */
};
static_assert(sizeof(SymbolInfo) == 1384, "SymbolInfo is 1384 bytes");
static_assert(offsetof(SymbolInfo, Name) == 40, "SymbolInfo.Name");
static_assert(offsetof(SymbolInfo, Type) == 120, "SymbolInfo.Type");
static_assert(offsetof(SymbolInfo, Exchange) == 200, "SymbolInfo.Exchange");
static_assert(offsetof(SymbolInfo, Currency) == 280, "SymbolInfo.Currency");
static_assert(offsetof(SymbolInfo, Domicile) == 360, "SymbolInfo.Domicile");
static_assert(offsetof(SymbolInfo, Sector) == 440, "SymbolInfo.Sector");
static_assert(offsetof(SymbolInfo, Industry) == 520, "SymbolInfo.Industry");
static_assert(offsetof(SymbolInfo, InduIndex) == 600, "SymbolInfo.InduIndex");
static_assert(offsetof(SymbolInfo, listNumber) == 640, "SymbolInfo.listNumber");
static_assert(offsetof(SymbolInfo, reserved) == 644, "SymbolInfo.reserved");
static_assert(offsetof(SymbolInfo, PointValue) == 648, "SymbolInfo.PointValue");
static_assert(offsetof(SymbolInfo, TickSize) == 656, "SymbolInfo.TickSize");
static_assert(offsetof(SymbolInfo, TRBC) == 664, "SymbolInfo.TRBC");
static_assert(offsetof(SymbolInfo, GICS) == 672, "SymbolInfo.GICS");
static_assert(offsetof(SymbolInfo, Shares) == 680, "SymbolInfo.Shares");
static_assert(offsetof(SymbolInfo, Float) == 688, "SymbolInfo.Float");
static_assert(offsetof(SymbolInfo, nextContract) == 696, "SymbolInfo.nextContract");
static_assert(offsetof(SymbolInfo, previousContract) == 700, "SymbolInfo.previousContract");
static_assert(offsetof(SymbolInfo, AssetId) == 704, "SymbolInfo.AssetId");
static_assert(offsetof(SymbolInfo, DelistDate) == 708, "SymbolInfo.DelistDate");
static_assert(offsetof(SymbolInfo, ReportingCurrency) == 712, "SymbolInfo.ReportingCurrency");
static_assert(offsetof(SymbolInfo, ListingType) == 792, "SymbolInfo.ListingType");
static_assert(offsetof(SymbolInfo, EquityType) == 872, "SymbolInfo.EquityType");
static_assert(offsetof(SymbolInfo, includeLists) == 952, "SymbolInfo.includeLists");
static_assert(offsetof(SymbolInfo, EconSect) == 1208, "SymbolInfo.EconSect");
static_assert(offsetof(SymbolInfo, IndGroup) == 1288, "SymbolInfo.IndGroup");
static_assert(offsetof(SymbolInfo, Margin) == 1368, "SymbolInfo.Margin");
static_assert(offsetof(SymbolInfo, PriceMult) == 1376, "SymbolInfo.PriceMult");

/* One loaded symbol, owned by the symbol array (or the calendar record).
** A plain record: it is zeroed, sorted and copied as bytes.  The first used
** date is lowered only through LowerFirstUsedDate, which treats it as an
** atomic 32-bit value. */
struct SymbolRecord {
    Bar *bars[BAR_SIZE_COUNT];         /* daily, weekly, monthly, quarterly, yearly;
                                           each with room for count + 1 bars */
    int32_t barHints[WORKER_SLOTS];    /* last bar index found, per worker slot */
    double *dataValues[2];             /* Data and TestData value blocks */
    int32_t *dataOffsets[2];           /* per-item start offsets of those blocks */
    EventItem *events;                 /* dated events, date order */
    FundamentalItem *fundamentals;     /* the data file's fundamentals count of items */
    int32_t firstDate;                 /* first daily bar date */
    int32_t lastDate;                  /* last daily bar date */
    int32_t dailyCapacity;             /* daily bars allocated while importing */
    int32_t barCounts[BAR_SIZE_COUNT]; /* daily .. yearly */
    int32_t eventCount;
    int32_t eventCapacity;
    int32_t currencySymbol;     /* 1-based symbol converting the prices; 0 none */
    int32_t invertCurrency;     /* nonzero: factor is 1 / close of that symbol */
    int32_t shareClassMark;     /* scratch flag of the import's share-class filter */
    int32_t firstUsedDate;      /* earliest traded bar date any lookup landed on;
                                           99991231 after loading */
    SymbolInfo info;            /* info.Symbol is the sort key */
    void *strategyArrays;       /* per-symbol strategy data */
    int64_t strategyArraysSize; /* bytes of strategyArrays */
    int32_t dataSource;         /* DataSource imported from; -1 unknown */
    int32_t securityType;       /* SecurityType */
};

/* ---- the loaded data ---------------------------------------------------------- */

struct SymbolStore {
    SymbolRecord *symbols; /* symbolCount + 1 records (tracked block) */
    int32_t symbolCount;
    DateList dateLists[BAR_SIZE_COUNT]; /* master date lists by BarSize */
    SymbolRecord calendar;              /* "Global": one bar per market date */
    int32_t firstDate;                  /* first date of the loaded data */
    int32_t lastDate;                   /* last date of the loaded data */
    int32_t keepAdjusted;               /* data file imported with KeepAdjusted */
    float fileVersion;                  /* version of the loaded file; 0 none */
    int32_t fundamentalsCount;          /* FundamentalItems per symbol */
    char (*listNames)[LIST_NAME_SIZE];  /* include-list names (tracked block) */
    int32_t listNameCount;
    char *note;                                     /* note text (tracked block), null when none */
    uint32_t noteLength;                            /* bytes including the NUL; 0 = none */
    uint32_t constituencyIds[MAX_CONSTITUENCY_IDS]; /* 0-terminated */
    int32_t maxDailyBars;                           /* largest daily bar count of a symbol */
    char loadedPath[PATH_SIZE];                     /* "" when no file is loaded */
    /* The file at loadedPath as it was when it was loaded or saved: a run
    ** loads it again once another program has replaced or rewritten it. */
    FileState loadedState;
};
extern SymbolStore gStore;

enum { FIRST_USED_NONE = 99991231 };

/* ---- lookups ------------------------------------------------------------------ */

/* 1-based number of the symbol whose text equals symbol with case ignored;
** 0 when absent or when symbol is null. */
int FindSymbolIndex(const char *symbol);
/* Orders two records by symbol text with case ignored; the order of gStore.symbols.
** Usable directly as a qsort comparator. */
int CompareSymbolNames(const void *a, const void *b);
/* The comparison behind CompareSymbolNames, on two symbol texts. */
int CompareSymbolText(const char *a, const char *b);

/* The bar array of a size (1..4 weekly..yearly, anything else daily) and its
** count through count (may be null).  Null record gives null and 0. */
Bar *GetBarArray(const SymbolRecord *record, int barSize, int32_t *count);

/* Index of the bar for date at bar size in record, or -1; *bar (may be null)
** receives the bar or null.  phase is a BarPhase; slot the caller's worker slot
** 0..31 (other values use slot 0), whose hint is the search's starting point
** and is updated; hints change the time of a search, never its result.
** A date outside the record's first..last date gives -1.  Daily bars: the bar
** dated exactly date.  Longer sizes: the bar dated date; else, with B the last
** bar dated before date and N the bar after it (the period holding date):
** N at the close phase, or when N's period has begun by date (its first
** market date for phases none and open, its own date for the intraday phase);
** otherwise B when it is bar 0, else -1.  A date in the symbol's first period
** before bar 0's date gives bar 0, never a later period's bar.
** A traded bar (volume above 0) that the search stands on lowers the record's
** first used date. */
int FindBarIndex(SymbolRecord *record, int barSize, int32_t date, int phase, int slot, Bar **bar);
/* One symbol's place in a walk through the daily dates in order: the date
** it was last stepped to (0: none yet) and its last daily bar on or before
** that date (-1: none).  Zeroed, it stands nowhere. */
struct DayCursor {
    int32_t date;
    int32_t bar;
};
/* FindBarIndex(record, BAR_DAILY, date, any phase, slot, bar) for a walk
** through the dates in order, where a symbol is looked up many times a date:
** the cursor steps to the date at its first lookup there (one bar on, as a
** rule), leaving what the search leaves, and the later lookups of the date
** read where it stands, leaving nothing (a first used date the first one
** lowered stays; a hint changes no answer).  The answer is FindBarIndex's;
** a symbol with no bar on the date keeps its last bar before it in the
** cursor.  A cursor belongs to one walk over unchanged bars. */
int StepDailyBar(SymbolRecord *record, DayCursor *cursor, int32_t date, int slot, Bar **bar);
/* What FindBarIndex leaves behind when it finds the daily bar at index,
** dated exactly the date asked for: the first used date lowered for a traded
** bar, and the slot's hint.  For a caller that knows the index already. */
void NoteDailyBarFound(SymbolRecord *record, int slot, int32_t index);
/* The bar on or before date (FindBarIndex close phase, slot 0, else a walk);
** a date after the last bar gives the last bar; null when none is that early. */
Bar *GetBarOnOrBefore(SymbolRecord *record, int32_t date, int barSize);
/* The record of symbol ("" = the calendar) with its bar on date (0 = its last
** date) through *bar.  Reports and gives null when the symbol is unknown, or
** when strict and there is no bar on the date; otherwise *bar gets the first
** bar on or after the date (or the last bar). */
SymbolRecord *FindSymbolAtDate(const char *symbol, int barSize, int32_t date, Bar **bar, int strict);
/* Rebuilds gStore.calendar from the master date lists; 0 when memory fails. */
int BuildCalendarSymbol();
/* Frees every array of one record and zeroes it. */
void FreeSymbolRecord(SymbolRecord *record);
/* Frees every block the store holds (every record of the symbol array, not
** only the published count, the calendar, list names, note and master date
** lists) and zeroes the record: no symbols, empty date lists of their bar
** sizes.  UnloadData starts from it; tests reset with it. */
void ResetSymbolStore();

/* The record of 1-based symbol number, null outside 1 .. gStore.symbolCount. */
SymbolRecord *SymbolByNumber(int number);
/* The factor that converts record's prices through its currency symbol on
** date: that symbol's close on the date (inverted when asked), the last close
** before the date when it has no bar there, its first close before its first
** bar; 1.0 without a currency or without a positive finite close. */
double GetCurrencyRate(SymbolRecord *record, int32_t date);

/* Lowers record's first used date to date when date is earlier (atomic
** minimum; safe from any thread). */
void LowerFirstUsedDate(SymbolRecord *record, int32_t date);
/* Reads the first used date (atomic load). */
int32_t GetFirstUsedDate(const SymbolRecord *record);
