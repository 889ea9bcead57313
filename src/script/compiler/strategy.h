/* strategy.h -- strategy records, optimization parameters and what fills them.
**
** A script describes strategies in strategy-like sections (Template,
** Benchmark, Strategy, StatsGroup, Combined) and optimization parameters in
** the Parameters and WalkForward sections.  The parser hands each element to
** the routines below; once the script is parsed the compile driver links the
** records (Using, StatsGroup membership, trackers) and completes them with
** ApplyStrategyDefaults.
**
** Owns:       the StrategyRecord and Parameter layouts, the 25 strategy
**             constants with their value words, the trade-list field names,
**             and the routines that fill records.  The lists themselves
**             gStrategies (records 0 .. gStrategyCount - 1; records up to
**             gStrategyCapacity are kept for reuse) and the parameter lists
**             (gParameters, gParameterCopies, gWalkForwardDates, kept with the
**             other definition lists).
** Invariants: a constant holds STRATEGY_CONSTANT_UNSET (99) until the script
**             gives it or ApplyStrategyDefaults replaces it; after the
**             defaults no constant holds 99 except a TLTimeShift that the
**             script itself gave as 99 (TLTimeShiftGiven tells the two apart).
**             A record's name is unique among the records, case ignored, and
**             never "Combined" unless it is the combined record.
**             Parameters and gParameterCopies always have the same count.
** Errors:     the parser's handlers return 0 or a compile error code (the
**             parser reports it with the span they give); -1 means out of
**             memory (no message).  ApplyStrategyDefaults reports its own
**             message and returns 0.
** Threads:    UI thread only (compile).  The engine and the calendar read the
**             records afterwards, workers included, without changing them.
** Sizes:      a handful of records, up to 99 links each; parameter value lists
**             up to RANGE_MAX_VALUES values.
*/
#pragma once
#include <cstdint>

#include "foundation/allocator.h"
#include "marketdata/store/calendar.h"
#include "platform/platform.h"
#include "script/compiler/formula.h"
#include "script/compiler/script_state.h"

struct PositionRecord;

enum {
    STRATEGY_NAME_SIZE = 256,
    STRATEGY_SLOTS = 74,
    STRATEGY_CONSTANTS = 25,
    STRATEGY_CONSTANT_UNSET = 99,
    STRATEGY_MAX_LINKS = 99, /* groups and Using names per record */
    TL_MAX_COLUMNS = 128,
    TL_FIELD_COUNT = 23,
    VALUE_NAME_SIZE = 64,
    CONSTANT_WORD_SIZE = 80 /* value words and CalendarSym read up to 79 characters */
};

/* The 25 constants, at the table index ParseStrategyConstant answers (less 1). */
enum StrategyConstant {
    CONST_SIDE = 0,
    CONST_BAR_SIZE = 1,
    CONST_ENTRY_TIME = 2,
    CONST_EXIT_TIME = 3,
    CONST_EXIT_LIMIT_TIME = 4,
    CONST_EXIT_STOP_TIME = 5,
    CONST_QTY_TYPE = 6,
    CONST_QTY_PRICE = 7,
    CONST_COMPOUNDED = 8,
    CONST_MARK_TO_MARKET = 9,
    CONST_AMBIGUITY = 10,
    CONST_TL_ADJUSTED = 11,
    CONST_TL_ADOPT_POS = 12,
    CONST_TL_DATE_FMT = 13,
    CONST_TL_NUM_FMT = 14,
    CONST_TL_DELIM = 15,
    CONST_TL_TIME_SHIFT = 16,
    CONST_TL_STRAT_NAME = 17,
    CONST_CALENDAR_SYM = 18,
    CONST_DYNAMIC_SIZING = 19,
    CONST_GREEDY_SCORING = 20,
    CONST_ALLOW_NO_VOLUME = 21,
    CONST_ALLOW_MISSING_BAR = 22,
    CONST_IGNORE_DIVIDENDS = 23,
    CONST_TRACKER = 24
};

/* Values of the QtyType constant. */
enum QuantityType { QTY_SHARES = 0,
                    QTY_VALUE = 1,
                    QTY_PERCENT = 2 };

/* Values of the Tracker constant as the script gives it; after linking a
** tracked strategy holds its clone's index + 1 and the clone TRACKER_CLONE. */
enum TrackerSetting { TRACKER_NONE = 0,
                      TRACKER_HIDDEN = 1,
                      TRACKER_VISIBLE = 2,
                      TRACKER_CLONE = -1 };

/* Values of the entry and exit time constants. */
enum EntryExitTime { TIME_THIS_CLOSE = 0,
                     TIME_NEXT_OPEN = 1,
                     TIME_INTRADAY = 2,
                     TIME_NEXT_CLOSE = 3 };

/* The formula slots, in the order of kStrategySlotNames. */
enum StrategySlot {
    SLOT_START_PERCENT = 0,
    SLOT_ALLOCATION = 1,
    SLOT_CASH_IN_OUT = 2,
    SLOT_FEES_IN_OUT = 3,
    SLOT_QUANTITY = 4,
    SLOT_QTY_FINAL = 5,
    SLOT_QTY_ROUND = 6,
    SLOT_PRICE_ROUND = 7,
    SLOT_REDUCE = 8,
    SLOT_MAX_POSITIONS = 9,
    SLOT_MAX_NEW_POS = 10,
    SLOT_MAX_EXPOSURE = 11,
    SLOT_MAX_NEW_EXP = 12,
    SLOT_MAX_LONG_EXP = 13,
    SLOT_MAX_SHORT_EXP = 14,
    SLOT_MAX_NET_EXP = 15,
    SLOT_MIN_NET_EXP = 16,
    SLOT_MAX_INVESTED = 17,
    SLOT_MAX_NEW_INV = 18,
    SLOT_MAX_LONG_INV = 19,
    SLOT_MAX_SHORT_INV = 20,
    SLOT_MAX_NET_INV = 21,
    SLOT_MIN_NET_INV = 22,
    SLOT_MIN_FREE_CASH = 23,
    SLOT_COMMISSION = 24,
    SLOT_SLIPPAGE = 25,
    SLOT_OPEN_SLIP = 26,
    SLOT_CLOSE_SLIP = 27,
    SLOT_STOP_SLIP = 28,
    SLOT_LIMIT_SLIP = 29,
    SLOT_LIMIT_EXTRA = 30,
    SLOT_FUTURES_MARGIN = 31,
    SLOT_ROLL_COST = 32,
    SLOT_CATEGORY = 33,
    SLOT_MAX_SAME_CAT = 34,
    SLOT_MAX_CAT_EXP = 35,
    SLOT_MAX_CAT_INV = 36,
    SLOT_MAX_SAME_SYM = 37,
    SLOT_MAX_SYM_EXP = 38,
    SLOT_MAX_SYM_INV = 39,
    SLOT_ENTRY_SETUP = 40,
    SLOT_SETUP_SCORE = 41,
    SLOT_MAX_SETUPS = 42,
    SLOT_MAX_PER_TURN = 43,
    SLOT_STRATEGY_SCORE = 44,
    SLOT_SETUP_SKIP = 45,
    SLOT_ENTRY_SKIP = 46,
    SLOT_ENTRY_LIMIT = 47,
    SLOT_ENTRY_STOP = 48,
    SLOT_ENTRY_SCORE = 49,
    SLOT_MAX_ENTRIES = 50,
    SLOT_EXIT_SCORE = 51,
    SLOT_EXIT_RULE = 52,
    SLOT_EXIT_LIMIT = 53,
    SLOT_EXIT_STOP = 54,
    SLOT_EXIT_QTY = 55,
    SLOT_EXIT_LIMIT_QTY = 56,
    SLOT_EXIT_STOP_QTY = 57,
    SLOT_DEBUG_ENTRY = 58,
    SLOT_DEBUG_EXIT = 59,
    SLOT_DEBUG_TARGET_STOP = 60,
    SLOT_ENTRY_TRADE_VALUE = 61,
    SLOT_EXIT_TRADE_VALUE = 62,
    SLOT_ORDER_NOTE = 63,
    SLOT_ORDER_EXTRA_1 = 64,
    SLOT_ORDER_EXTRA_2 = 65,
    SLOT_ORDER_EXTRA_3 = 66,
    SLOT_ORDER_EXTRA_4 = 67,
    SLOT_ORDER_EXTRA_5 = 68,
    SLOT_ORDER_EXTRA_6 = 69,
    SLOT_ORDER_EXTRA_7 = 70,
    SLOT_ORDER_EXTRA_8 = 71,
    SLOT_ORDER_EXTRA_9 = 72,
    SLOT_ORDERS_MKT_AS_LMT_PCT = 73
};
static_assert(SLOT_ORDERS_MKT_AS_LMT_PCT + 1 == STRATEGY_SLOTS, "one name per formula slot");

/* One dated amount of a strategy's cash or fees list. */
struct DatedAmount {
    int32_t date;  /* yyyymmdd */
    double amount; /* account currency; never 0 */
};

/* One optimization parameter (a Parameters line, completed by WalkForward). */
struct Parameter {
    char name[VALUE_NAME_SIZE];      /* qualified by the namespace in force */
    char nameSpace[VALUE_NAME_SIZE]; /* namespace where it was defined (or last walked forward) */
    int32_t valueCapacity;
    int32_t valueCount;
    double *values; /* tracked; values[0] is the default */
    int32_t walkCapacity;
    int32_t walkCount;
    double *walkValues; /* tracked; one value per walk-forward interval */
    int32_t rangeFlag;  /* the values came from a from-to range */
    int32_t labelFlag;  /* the value text holds "{x}" */
    int32_t deselected; /* the optimizer's fields */
    int32_t started;
    int32_t currentIndex;
    int32_t counter;
    int32_t defaultIndex;
    int32_t preselected; /* the compile's choice of the parameters to optimize (see PreselectParameters) */
};

/* One strategy-like section.  Constants hold STRATEGY_CONSTANT_UNSET while
** unset.  The fields after the TLFields map that the engine fills are its
** run-time state; a compile only resets them. */
struct StrategyRecord {
    char name[STRATEGY_NAME_SIZE];
    char TLStratName[STRATEGY_NAME_SIZE]; /* strategy name to take from an imported trade list */
    int32_t kind;                         /* SectionId: 13 Template, 14 Benchmark, 15 Strategy, 16 StatsGroup, 26 Combined */
    int32_t Side;                         /* -1 Short, 0 Both, 1 Long */
    int32_t BarSize;                      /* BarSize 0..4 */
    int32_t CalendarSym;                  /* 1-based calendar symbol, 0 none */
    int32_t hasOwnDateLists;              /* dateLists below apply (CalendarSym bound in pass 2) */
    DateList dateLists[BAR_SIZE_COUNT];   /* own calendar, each marked with the record's index + 1 */
    int32_t hasOwnHolidays;               /* holidays below apply */
    struct HolidayList holidays;          /* own holiday list (the field HolidayList is its path) */
    char HolidayList[PATH_SIZE];          /* the path it is loaded from */
    int32_t groupCount;
    int32_t groups[STRATEGY_MAX_LINKS]; /* StatsGroups and the combined record holding this one */
    int32_t usingCount;
    int32_t usingList[STRATEGY_MAX_LINKS]; /* records named by Using, in order */
    int32_t QtyType;                       /* 0 Shares, 1 Value, 2 Percent */
    int32_t QtyPrice;                      /* 0 OrderPrice, 1 FillPrice */
    int32_t EntryTime;                     /* EntryExitTime */
    int32_t effectiveEntryTime;            /* EntryTime after the defaults */
    int32_t engineMark1;                   /* the engine's */
    int32_t hasEntryLimit;                 /* the EntryLimit formula is given */
    int32_t hasEntryStop;
    int32_t nextCloseOnly; /* enters and exits at the next close without exit orders */
    int32_t keepTrades;    /* the test keeps this record's trades */
    int32_t engineMark2;   /* the engine's */
    int32_t ExitTime;
    int32_t ExitLimitTime;
    int32_t ExitStopTime;
    int32_t Ambiguity; /* 0 Default, 1 Stop, 2 Target, 3 Neither */
    int32_t Compounded;
    int32_t MarkToMarket;
    int32_t DynamicSizing;
    int32_t GreedyScoring;
    int32_t AllowNoVolume;
    int32_t AllowMissingBar;
    int32_t IgnoreDividends;
    int32_t Tracker;        /* 0 None, 1 Hidden, 2 Visible; after linking: clone index + 1, -1 a clone */
    int32_t hasGroupLimits; /* a StatsGroup or Combined gives position or exposure limits */
    FormulaSlot slots[STRATEGY_SLOTS];
    char TradeList[PATH_SIZE]; /* the trade-list file that drives the strategy */
    int32_t TLAdjusted;
    int32_t TLAdoptPos;
    int32_t TLDateFmt; /* 0 MDY, 1 DMY */
    int32_t TLNumFmt;  /* 0 Point, 1 Comma */
    int32_t TLDelim;   /* 0 Comma, 1 Semicolon, 2 Tab */
    int32_t TLTimeShift;
    int32_t TLTimeShiftGiven;              /* the script gave TLTimeShift (99 included) */
    int32_t TLEndDate;                     /* yyyymmdd, 0 none, 99991231 "latest" */
    int32_t tlFieldSum;                    /* sum of the field ids given; 0: no TLFields */
    int32_t tlColumnField[TL_MAX_COLUMNS]; /* field id of each file column, 0 unused */
    int32_t tlFieldColumn[TL_FIELD_COUNT]; /* column + 1 of each field id, 0 absent */
    GrowList cashList;                     /* DatedAmount, one per distinct date */
    GrowList feesList;                     /* DatedAmount */
    char OrdersFile[PATH_SIZE];
    char OrdersNetLiq[PATH_SIZE];
    char OrdersFreeCash[PATH_SIZE];
    char OrdersTemplate[PATH_SIZE];
    /* ---- run-time state of the engine ---- */
    int32_t symbolNumber;   /* 1-based symbol the strategy trades; 0 none */
    int32_t positionSearch; /* read by Side and the single-position rule */
    void *tradeListRows;    /* imported trade-list rows (tracked) */
    int32_t tradeListRowCount;
    int32_t tradeListRowCapacity;
    int32_t *strategyIndexes; /* the engine's per-strategy index list, one entry per record (tracked) */
    int32_t strategyIndexCapacity;
    /* ---- the test run's per-strategy state (engine) ---- */
    PositionRecord *setups; /* the day's setups (tracked; grows to 2n + 2) */
    int32_t setupCount;     /* committed setups */
    int32_t setupCapacity;
    int32_t keptSetupCount;        /* setups kept by the selection */
    int32_t nextSetup;             /* cursor of the selection turns */
    PositionRecord *openPositions; /* open positions (tracked; grows to 2n + 2) */
    int32_t openCount;
    int32_t openCapacity;
    double allocationFraction; /* StartPercent / 100, 1.0 without one: the account share factor */
    int32_t tradesFutures;     /* trades continuous futures contracts (set by the entry pass) */
    int32_t entriesToday;      /* entries opened on the current date */
    int32_t orderDate;         /* date of the orders being generated */
};

/* The compiled script's strategies are gStrategies, gStrategyCount and
** gStrategyCapacity (script_state.h), numbered from 1 where a strategy number
** is asked for (gStrategies[n - 1]).  Grown by AppendStrategyRecord. */

/* ---- tables ------------------------------------------------------------------------ */

/* The constant names by table index. */
extern const char *const kStrategyConstantNames[STRATEGY_CONSTANTS];
/* The trade-list field names by field id (0 is "", a column not used). */
extern const char *const kTradeListFieldNames[TL_FIELD_COUNT];

/* ---- records ----------------------------------------------------------------------- */

/* The active record with 1-based number, null outside 1 .. gStrategyCount. */
StrategyRecord *StrategyByNumber(int32_t number);
/* A slot counts as given when it has nodes and its first node names an item. */
int IsSlotGiven(const FormulaSlot *slot);

/* Appends a reset record of kind with name.  Combined is always named
** "Combined"; an empty name becomes the kind's section name and the new record
** count ("Strategy3"), or, when another record already has that name, the
** first following number that is free.  Returns the record, or null with
** *outError 64 for a given name that another record has (case ignored) or
** that is "combined", or with *outError 0 when memory runs out. */
StrategyRecord *AddStrategyRecord(int kind, const char *name, int *outError);

/* Reads one constant line.  0 when keyword is no constant; -1 when record is
** a StatsGroup or Combined; else the constant's table index + 1, with
** *outError 0 or the constant's compile error and *outLength the length of
** the value word read.  The value ends at length or at a comment. */
int ParseStrategyConstant(StrategyRecord *record, const char *keyword, const char *value, int length, int *outError,
                          int *outLength);

/* Reads a Using list against the records defined before this one.  0, or 19,
** 20, 21 or 67 with the offending name's span (within value) in *outOffset and
** *outLength. */
int ParseUsingList(StrategyRecord *record, const char *text, int length, int *outOffset, int *outLength);

/* Reads a TLFields list into the record's map (replacing it).  With outOffset
** given: 72 for an unknown name, 73 for a field named twice, with the name's
** span.  Without it (the trade-list reader) unknown names are ignored and a
** repeated field takes its later column.  Entries beyond 128 are ignored. */
int ParseTLFieldsList(StrategyRecord *record, const char *text, int length, int *outOffset, int *outLength);

/* Adds a Parameters line, or completes one with a WalkForward line ("dates"
** gives the walk-forward dates).  0, a compile error code (82 to 88), or -1
** when memory runs out.  A list or range of more than RANGE_MAX_VALUES values
** is refused with 85 rather than cut.  Dates out of order are 86 with, when
** outOffset is given, the span of the first date not after the one before it
** (the last date, a one-day last interval's own day, may equal it). */
int AddParameterName(int section, const char *name, const char *nameSpace, const char *values, int length,
                     int *outOffset = nullptr, int *outLength = nullptr);

/* Frees both parameter lists with every record's value arrays, and the
** walk-forward dates (the program is closing, or a test starts afresh). */
void FreeParameterLists();

/* Fills what strategy leaves unset from template: the slots it does not give
** (copied compiled), unset constants, TLEndDate and CalendarSym when 0, the
** TLFields map when it has none, and empty texts.  Cash and fees lists, Using
** and groups are not inherited.  0 when a slot copy cannot grow (memory). */
int InheritStrategyFormulas(const StrategyRecord *from, StrategyRecord *strategy);

/* Completes the record at index once the records are linked: every unset
** constant takes its default (Side also reduced to its sign; BarSize the
** settings' BarSize2; TLDateFmt the DateInputFormat option; Compounded from
** what the Quantity and Allocation formulas use; EntryTime intraday when an
** entry limit or stop is given, else next open), the derived marks are set
** (has-EntryLimit/Stop, next-close-only, keep-trades), a Comma number format
** moves a Comma delimiter to Semicolon, non-daily records never allow
** missing bars, and DynamicSizing is checked against the order formulas and
** Side ("Strategy %s speficies DynamicSizing and %s -- these are not allowed
** together").  In pass 2 it also fills the own calendar from CalendarSym and
** loads the own holiday list.  Tracker is left to the linking, which owns its
** values.  1, or 0 after reporting. */
int ApplyStrategyDefaults(int32_t index, int pass);
/* Gives the store's calendar routines the strategies' own holiday and date
** lists (gCalendar.strategies); pass 2 of ApplyStrategyDefaults does it before
** any strategy gets a calendar of its own. */
void LinkStrategyCalendars();

/* Gives every active record room for one engine index entry per active
** record; 0 when memory runs out. */
int ReserveStrategyIndexLists();
