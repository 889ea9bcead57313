/* test_records.h -- what one test run leaves behind: the test record, its
** strategies, the grid of statistics cells, the closed trades, the parameter
** values of the run, and the setup/position record of the simulation.
**
** Owns:       the record layouts and the reason-text tables; the small trade
**             and cell computations that the script language and the views
**             share (price move, net profit, currency gain, cell equity).
** Layer:      below the script language, which reads these records by the
**             language's definition (T. and S. items, StratData cells, open
**             positions); the engine fills them and the views show them.
** Layout:     TestRecord (1016 bytes), StrategyResult (504), StatCell (448),
**             TradeRecord (344) and ParamValue (88) keep their field order and
**             widths, since the results file stores them byte for byte; the
**             static_asserts below hold that.  Amounts are doubles in the
**             account currency; dates are yyyymmdd.
** Grids:      cell (row r, strategy s) is cells[r * strategyCount + s]; rows
**             filled is the row dimension while the run goes on.  The Results
**             column values hold strategyCount blocks of equal size (one value
**             per Results column), the Graphs column values one block per cell
**             (one value per Graphs column) and the StratData values one block
**             per cell (one value per StratData item); each carries its total
**             count, against which every index is checked before use.
** Errors:     AddTrade returns null when the trade array cannot grow (the
**             allocator's sticky flag is then set); the rest only compute.
** Threads:    the records are filled by the test run; evaluations on workers
**             only read them.
*/
#pragma once
#include <cstddef>
#include <cstdint>

struct SymbolRecord;

enum {
    TEST_PATH_SIZE = 260, /* the results file's own field size, not a path buffer's */
    TEST_NAME_SIZE = 80,
    STRATEGY_RESULT_NAME_SIZE = 80,
    STRATEGY_PARENT_MAX = 100,
    PARAM_VALUE_NAME_SIZE = 64,
    TRADE_SYMBOL_SIZE = 40,
    TRADE_REASON_SIZE = 80,
    POSITION_TEXT_SIZE = 80,
    TEST_CURRENCY_SIZE = 40,
    GRAPH_FLAG_COUNT = 128,
    SKIP_REASON_COUNT = 34,
    EXIT_REASON_COUNT = 10
};

/* Kinds of a strategy (the number of the script section that defined it). */
enum StrategyKind {
    STRATEGY_KIND_TEMPLATE = 13,
    STRATEGY_KIND_BENCHMARK = 14,
    STRATEGY_KIND_STRATEGY = 15,
    STRATEGY_KIND_STATS_GROUP = 16,
    STRATEGY_KIND_COMBINED = 26
};

/* One parameter value of a run; also a parameter column of the results list. */
struct ParamValue {
    char name[PARAM_VALUE_NAME_SIZE];
    double value;
    int32_t valueCount;
    int32_t valueIndex;
    int32_t column; /* results-list column, -1 none */
    int32_t reserved;
};
static_assert(sizeof(ParamValue) == 88, "ParamValue is 88 bytes");

/* One strategy of a test, in strategy order. */
struct StrategyResult {
    char name[STRATEGY_RESULT_NAME_SIZE];
    int32_t kind;                         /* StrategyKind */
    int32_t barSize;                      /* BarSize */
    int32_t compounded;                   /* 0/1 */
    int32_t tracker;                      /* 1-based tracked strategy, 0 none, negative for a tracker */
    int32_t markedToMarket;               /* 0/1 */
    int32_t parentCount;                  /* entries of parents */
    int32_t parents[STRATEGY_PARENT_MAX]; /* combined strategies and groups it belongs to */
};
static_assert(sizeof(StrategyResult) == 504, "StrategyResult is 504 bytes");

/* The statistics of one strategy on one date row.  "Carried" fields are copied
** from the previous row when a cell starts, "daily" ones start at zero. */
struct StatCell {
    uint32_t rowNumber; /* S.Number: date row + 1 */
    uint32_t first;     /* S.First: first period with an entry */
    uint32_t date;      /* S.Date: end date of the row's period */
    uint32_t phase;     /* bar phase at creation */
    int32_t setups;
    int32_t entries;
    int32_t exits;
    int32_t targets;
    int32_t stops;
    int32_t wins;
    int32_t losses;
    int32_t tradeBars;
    int32_t winBars;
    int32_t lossBars;
    int32_t testFlags; /* CELL_TEST_... of the test, on its last row's first cell; older programs wrote 0 */
    int32_t entryOrders;
    double tradeAmount, tradePercent;
    double winAmount, winPercent;
    double lossAmount, lossPercent;
    double commissions, slippage;
    double dividends;
    int32_t positions; /* open positions (carried) */
    int32_t shortPositions;
    double invested;     /* base of S.Invested */
    double usageAmount;  /* S.Usage before division by the allocation */
    double markToMarket; /* S.M2M */
    double mae, mfe;
    double allocation; /* S.Alloc */
    double minAllocation, maxAllocation;
    double equityBase; /* realised equity */
    double minEquity, maxEquity;
    double startEquity;
    int32_t drawdownBars, maxDrawdownBars;
    double drawdownAmount, maxDrawdownAmount;
    double drawdownPercent, maxDrawdownPercent; /* fractions */
    double shortInvested;
    double cashInOut;             /* cumulative */
    double netAmount, netPercent; /* change of the day */
    double timeWeightedEquity;
    double timeWeightedPeak;
    double tradePercentAlloc, winPercentAlloc, lossPercentAlloc;
    double currencyResult; /* S.NetFx */
    double riskFreeRate;   /* fraction */
    double interest;
    double shortMarkToMarket;
    double futuresMargin;
    double marginedValue; /* entry value of the open margined positions */
    double marginedMarkToMarket;
    double shortMarginedValue;
    double shortMarginedMarkToMarket;
    double unsettledCash;
    double rollCosts;
    double feesInOut; /* cumulative */
};
static_assert(sizeof(StatCell) == 448, "StatCell is 448 bytes");
static_assert(offsetof(StatCell, tradeAmount) == 64 && offsetof(StatCell, positions) == 136 &&
                  offsetof(StatCell, drawdownBars) == 240 && offsetof(StatCell, feesInOut) == 440,
              "StatCell field offsets");

/* One closed trade, or a skipped setup kept with KeepSkipped. */
struct TradeRecord {
    int32_t number;         /* 1-based in the test */
    int32_t strategy;       /* 0-based strategy index */
    int32_t side;           /* +1 long, -1 short */
    int32_t symbolNumber;   /* 1-based symbol */
    int32_t dateIn, timeIn; /* timeIn: bar phase of the entry */
    double quantityIn, priceIn, splitIn;
    double commissionIn, slippageIn;
    int32_t dateOut, timeOut; /* dateOut 0 while open */
    double quantityOut, priceOut, splitOut;
    double commissionOut, slippageOut;
    int32_t bars;
    int32_t reason; /* exit code, or skip code of a kept setup */
    double highest, lowest;
    double dividends;
    double pointValue;
    double fraction;
    char symbol[TRADE_SYMBOL_SIZE];
    char reasonText[TRADE_REASON_SIZE];
    double roundingIn, roundingOut; /* price rounding units (tick sizes) */
    double fxIn, fxOut;
    double valueIn, valueOut; /* saved entry and exit trade values */
    double rollCosts;
    int32_t securityType;       /* SecurityType; non-zero: margin-style profit, no currency gain */
    int32_t commissionCurrency; /* commissions are already in the account currency */
};
static_assert(sizeof(TradeRecord) == 344, "TradeRecord is 344 bytes");
static_assert(offsetof(TradeRecord, dateOut) == 64 && offsetof(TradeRecord, symbol) == 160 &&
                  offsetof(TradeRecord, roundingIn) == 280,
              "TradeRecord field offsets");

/* A setup of the simulation and, once entered, an open position.  Zeroed
** when created; prices are in the split terms of the bars named. */
struct PositionRecord {
    SymbolRecord *symbol;
    int32_t strategyIndex;
    int32_t side; /* +1 long, -1 short, 0 undecided */
    uint32_t skipped;
    uint32_t skipReason;
    uint32_t turnEnd;
    uint32_t listed; /* committed as an entry order (the order flag) */
    uint32_t kept;   /* eligible or selected (the setup flag) */
    uint32_t consumed;
    uint32_t partial;
    int32_t heldCount;
    int32_t tradeListRow;
    uint32_t tradeListId;
    uint32_t eventCursor;
    int32_t entryDate;
    int32_t entryTiming;
    int32_t entryBar; /* -1 while not entered */
    int32_t triggerDirection;
    int32_t fillKind;
    int32_t exitTiming;
    int32_t exitBar; /* -1 while open */
    int32_t exitDate;
    int32_t fillDay;       /* the day a longer bar's target or stop is judged to fill on; 0: the
                              fill search dates the exit */
    int32_t periodExitDay; /* the day a partial target or stop of a longer bar filled on: what
                              it left waits for the next period */
    int32_t exitWaitsFor;  /* the later day an exit decided at its period's open fills on, the
                              symbol having missed the first days: held until then; 0: none */
    int32_t ordersPeriod;  /* the first date of the longer bar's period whose target and stop a
                              daily run worked out in periodLimit and periodStop; 0: none waiting */
    uint32_t exitReason;   /* the exit number: 0 while no exit is due */
    uint32_t partialExits;
    uint32_t setupRank;
    uint32_t selectionNumber; /* the order rank */
    uint32_t openingNumber;   /* the entry rank */
    uint32_t exitRank;
    int32_t contractCode;
    double value;
    double entryValue;
    double quantity; /* the share count, always positive */
    double exitQuantityRequest;
    double reserved;
    double quantityStep;
    double sizingBase;
    double fraction; /* the entry fraction */
    double openProfit;
    double marginPerUnit;
    double sizingFx;
    double rollCosts;
    double setupScore;
    double entryScore;
    double sizingPrice;
    double orderPrice;
    double entryPrice; /* entry fill price */
    double entrySplit;
    double requestedQuantity; /* the entry quantity */
    double entryCommission, entrySlippage;
    double entryRounding;
    double entryFx;
    double entryTradeValue; /* trade-list value in */
    double exitScore;
    double periodLimit, periodStop; /* a longer bar's target and stop of ordersPeriod, until its end */
    double exitPrice;               /* a later fill price; 0 when none */
    double exitSplit;
    double exitCommission, exitSlippage;
    double exitRounding;
    double exitFx;
    double exitTradeValue; /* trade-list value out */
    double limitPrice;     /* previous exit limit once open */
    double stopPrice;      /* previous exit stop once open */
    double limitSplit, stopSplit; /* the split factor of the bar the two above were worked out
                                     on; 0: the bar before the one that reads them */
    double periodLimitSplit, periodStopSplit; /* the same of periodLimit and periodStop */
    double dayLimitPrice;  /* limitPrice and stopPrice as the last day of an */
    double dayStopPrice;   /* orders run found them, while dayPricesKept is 1 */
    uint32_t dayPricesKept; /* 1: the two above were kept (the position was open) */
    double dayLimitSplit, dayStopSplit; /* the split terms of the two above */
    double dividends;
    double lowest, highest;
    char category[POSITION_TEXT_SIZE];
    char label[POSITION_TEXT_SIZE];
};

/* The run's settings as the test record keeps them. */
struct TestSettingsCopy {
    char DataFile[TEST_PATH_SIZE];
    char ActiveScript[TEST_PATH_SIZE];
    char TestName[TEST_NAME_SIZE];
    double AccountSize;
    int32_t FirstDate;
    int32_t LastDate;
    int32_t NumBars;
    int32_t BarSize2; /* the test's bar size */
    int32_t UseEarliestDate;
    int32_t UseLatestDate;
    int32_t useAvailableBars;
    int32_t KeepTrades;
    int32_t KeepBench;
    int32_t KeepSkipped;
    int32_t AddReport;
    int32_t AddGraph;
    int32_t AddLog;
    int32_t AddTrades;
    int32_t AddScan;
    int32_t AddDebug;
    int32_t runMode;
    uint32_t scriptTextLength; /* length + 1, 0 when none */
    char *scriptText;
};
static_assert(sizeof(TestSettingsCopy) == 688, "the settings copy is 688 bytes");

/* One test's results. */
struct TestRecord {
    TestRecord *previous, *next; /* the results window's test list */
    int32_t testNumber;
    int32_t firstDate, lastDate;
    int32_t rowCount;   /* dates in the range */
    int32_t rowsFilled; /* dates the run has reached */
    int32_t compounded;
    int32_t parameterCount;
    int32_t strategyCount;
    int32_t tradeCount, tradeCapacity;
    TestSettingsCopy settings;
    ParamValue *parameters;
    StrategyResult *strategies;
    StatCell *cells;
    TradeRecord *trades;   /* ordered by the later of entry and exit date */
    double *resultsValues; /* Results column values, strategy blocks */
    double *graphValues;   /* Graphs column values, cell blocks */
    int32_t resultsValueCount;
    int32_t graphValueCount;
    uint8_t graphValid[GRAPH_FLAG_COUNT];
    int32_t mainStrategy; /* the combined strategy when there are several */
    int32_t closedTradeCount;
    char currency[TEST_CURRENCY_SIZE];
    char (*stratDataNames)[80];
    double *stratDataValues; /* ((row * strategies) + strategy) * items + item */
    int32_t stratDataItemCount;
    int32_t stratDataValueCount;
    double daysPerYear; /* the bars per year of a daily test */
    /* The script's RandomSeed when the test ran (0: none): what its Monte
    ** Carlo tables draw with, whatever script was compiled since. */
    uint32_t randomSeed;
    /* Bytes of the whole names kept after the script text's end (0: none):
    ** see SetTestNames.  Older programs wrote 0 here. */
    uint32_t wholeNamesSize;
};
static_assert(sizeof(TestRecord) == 1016, "TestRecord is 1016 bytes");
static_assert(offsetof(TestRecord, settings) == 56 && offsetof(TestRecord, graphValid) == 800 &&
                  offsetof(TestRecord, daysPerYear) == 1000,
              "TestRecord field offsets");

/* Reason texts by skip code (0..33) and exit code (0..9). */
extern const char *const kSkipReasonText[SKIP_REASON_COUNT];
extern const char *const kExitReasonText[EXIT_REASON_COUNT];

/* Appends a zeroed trade numbered count + 1; the array grows to 2 × count + 2
** when full.  Null when it cannot grow (the test is then unchanged). */
TradeRecord *AddTrade(TestRecord *test);

/* side × (price out in the entry's split terms − price in), rounded to the
** trade's exit rounding unit; 0 for no trade or no exit price. */
double TradePriceMove(const TradeRecord *trade);
/* Net profit in the account currency after commissions, roll costs and
** dividends; 0 for no trade or one not closed. */
double TradeNetProfit(const TradeRecord *trade);
/* The currency part of the profit; 0 for forex and futures trades. */
double TradeCurrencyGain(const TradeRecord *trade);
/* Free cash of a cell: the base equity chosen by the compounding flag, with
** cash and fees in and out, less the cash held in positions and margin. */
double ComputeCellEquity(const StatCell *cell, int compounded);
/* A trade record without an exit date is a skipped setup kept with
** KeepSkipped: its reason is a skip code. */
inline bool IsSkippedTrade(const TradeRecord *trade) { return trade->dateOut == 0; }
/* The custom text when it is set and not "1"; else the skip or exit reason
** text of the code; "n/a" outside the tables. */
const char *GetTradeReason(const char *customText, int32_t code, int isSkip);

/* The data file and script a test ran on, whole.  The record's own fields
** (DataFile, ActiveScript) keep the results file's fixed width, which older
** programs read: a longer name is kept there to its last whole letter, and
** whole after the script text's ending 0 ([text] 0 [data file] 0 [script] 0,
** text empty when the test keeps none; wholeNamesSize counts the bytes after
** the text's 0), where older programs, which read the text to its 0, pass it
** over.  SetTestNames fills both (1, or 0 when the memory for the whole
** names ran out: the fields still hold what fits); the getters give the whole
** names when kept, else the fields. */
int SetTestNames(TestRecord *test, const char *dataFile, const char *script);
const char *TestDataFileName(const TestRecord *test);
const char *TestScriptName(const TestRecord *test);
/* Checks the whole names read with a script text of length bytes (the text,
** its 0 and the names): 1 when text holds, after its first 0, exactly
** namesSize bytes of two names that end in 0 and fit a path. */
int WholeNamesFit(const char *text, uint64_t length, uint32_t namesSize);

/* A test that a stop ended before its last date: it is kept and listed, up
** to the day it reached, and every list of tests says it was stopped.  The
** mark lives in the test's own cells, so the results file keeps it without
** a field of its own: MarkTestStopped sets it on the last row reached (0
** when the test has no cell to hold it; TestWasStopped then still sees the
** rows it did not reach while the record is the run's own). */
enum { CELL_TEST_STOPPED = 1 };
int MarkTestStopped(TestRecord *test);
int TestWasStopped(const TestRecord *test);

/* 1 when strategy member is held by group (its parent list names the group). */
int StrategyInGroup(const TestRecord *test, int32_t member, int32_t group);
