/* strategy_record.h -- the record of one strategy-like section.
**
** A script's Template, Benchmark, Strategy, StatsGroup and Combined sections
** each become one StrategyRecord: its name and kind, its constants, its 74
** formula slots, its texts and lists, and the run-time fields the data store's
** lookups and calendar read.  The engine keeps the rest of its run-time state
** for the record in its own arrays.
**
** Owns:       gStrategies (records 0 .. gStrategyCount - 1, numbered from 1
**             where a strategy number is asked for), gStrategyCapacity.
** Invariants: a constant of STRATEGY_CONSTANT_UNSET is not given; records at
**             gStrategyCount .. gStrategyCapacity - 1 are kept for reuse.
** Threads:    written by the compile on the UI thread; read by workers.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/formula.h"

enum {
    STRATEGY_NAME_SIZE = 256,
    STRATEGY_PATH_SIZE = 260,
    STRATEGY_SLOTS = 74,
    STRATEGY_CONSTANT_UNSET = 99,
    STRATEGY_MAX_LINKS = 99,     /* groups and Using names per record */
    TL_MAX_COLUMNS = 128,
    TL_FIELD_COUNT = 23
};

/* A list a record owns: {pointer, capacity, count} through the tracked allocator. */
struct StrategyList {
    void *items;
    int32_t capacity;
    int32_t count;
};

/* One dated amount of a strategy's cash or fees list. */
struct DatedAmount {
    int32_t date;              /* yyyymmdd */
    double amount;
};

/* One strategy-like section (Template, Benchmark, Strategy, StatsGroup,
** Combined).  A constant of STRATEGY_CONSTANT_UNSET is not given.  The engine
** keeps its run-time state for the record in its own arrays. */
struct StrategyRecord {
    char name[STRATEGY_NAME_SIZE];
    char TLStratName[STRATEGY_NAME_SIZE];
    int32_t kind;              /* SectionId: 13, 14, 15, 16 or 26 */
    int32_t Side;              /* -1 Short, 0 Both, 1 Long */
    int32_t BarSize;
    int32_t CalendarSym;       /* 1-based symbol index, 0 none */
    char HolidayList[STRATEGY_PATH_SIZE];  /* the path the holiday list is loaded from */
    int32_t groupCount;
    int32_t groups[STRATEGY_MAX_LINKS];
    int32_t usingCount;
    int32_t usingList[STRATEGY_MAX_LINKS];
    int32_t QtyType;
    int32_t QtyPrice;
    int32_t EntryTime;
    int32_t effectiveEntryTime;
    int32_t engineMark1;
    int32_t hasEntryLimit;
    int32_t hasEntryStop;
    int32_t nextCloseOnly;
    int32_t keepTrades;
    int32_t engineMark2;
    int32_t ExitTime;
    int32_t ExitLimitTime;
    int32_t ExitStopTime;
    int32_t Ambiguity;
    int32_t Compounded;
    int32_t MarkToMarket;
    int32_t DynamicSizing;
    int32_t GreedyScoring;
    int32_t AllowNoVolume;
    int32_t AllowMissingBar;
    int32_t IgnoreDividends;
    int32_t Tracker;
    int32_t hasGroupLimits;    /* a StatsGroup or Combined gives position or exposure limits */
    FormulaSlot slots[STRATEGY_SLOTS];
    char TradeList[STRATEGY_PATH_SIZE];
    int32_t TLAdjusted;
    int32_t TLAdoptPos;
    int32_t TLDateFmt;
    int32_t TLNumFmt;
    int32_t TLDelim;
    int32_t TLTimeShift;
    int32_t TLEndDate;         /* yyyymmdd, 0 none, 99991231 "latest" */
    int32_t tlFieldSum;        /* 0: no TLFields given */
    int32_t tlColumnField[TL_MAX_COLUMNS];
    int32_t tlFieldColumn[TL_FIELD_COUNT];
    StrategyList cashList;     /* DatedAmount */
    StrategyList feesList;     /* DatedAmount */
    char OrdersFile[STRATEGY_PATH_SIZE];
    char OrdersNetLiq[STRATEGY_PATH_SIZE];
    char OrdersFreeCash[STRATEGY_PATH_SIZE];
    char OrdersTemplate[STRATEGY_PATH_SIZE];
    /* read by the data store's lookups and calendar */
    int32_t symbolNumber;                  /* 1-based symbol the strategy trades; 0 none */
    int32_t hasOwnDateLists;               /* dateLists below apply */
    DateList dateLists[BAR_SIZE_COUNT];    /* the strategy's own market dates */
    int32_t hasOwnHolidays;                /* holidays below apply */
    ::HolidayList holidays;                /* the strategy's own holiday list */
};


/* The compiled script's strategies, numbered from 1 (gStrategies[n - 1]). */
inline StrategyRecord *gStrategies = nullptr;
inline int32_t gStrategyCount = 0;
inline int32_t gStrategyCapacity = 0;
