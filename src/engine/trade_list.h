/* trade_list.h -- trade-list strategies: a strategy's TradeList CSV file read
** into rows (one trade per line, or one fill per line paired into trades),
** the rows mapped onto the loaded symbols and checked against the day's bars,
** and the activation that decides whether the rows or the strategy's own
** rules trade on a date.
**
** Owns:       the rows of each strategy (StrategyRecord::tradeListRows, count
**             -1 when the file could not be read) and gTradeListState (the
**             per-strategy activation and last trade-list date, the
**             once-per-run notices).
** Errors:     a file that cannot be read is reported and gives -1; a line
**             that cannot be read (a quote left open, no date, a field
**             whose text cannot be its value) is not used and is named in
**             the log with AddLog, else by one notice per run.  The
**             companion tool's trades file of an orders run is read whole or
**             not at all: such a line, or a last line without its line end,
**             is reported with file error code 3 and gives -1; its open
**             positions of strategies the script lacks are named.
** Threads:    UI thread, at the start of a test run and in its date loop.
*/
#pragma once
#include <cstdint>
#include <vector>

#include "platform/platform.h"

struct EvalContext;
struct PositionRecord;
struct StrategyRecord;
struct SymbolRecord;

enum {
    TL_SYMBOL_SIZE = 40,
    TL_REASON_SIZE = 80,
    TL_LINE_FIELDS = 128,
    TL_LATEST_DATE = 99991231
};

/* Field ids of the TLFields list (the place in the list). */
enum TradeListField {
    TLF_TRADE_ID = 1,
    TLF_STRATEGY = 2,
    TLF_SIDE = 3,
    TLF_SYMBOL = 4,
    TLF_UNDERLYING = 5,
    TLF_ASSET_ID = 6,
    TLF_ACTION = 7,
    TLF_DATE_TIME = 8,
    TLF_SHARES = 9,
    TLF_DATE_IN = 10,
    TLF_TIME_IN = 11,
    TLF_QTY_IN = 12,
    TLF_PRICE_IN = 13,
    TLF_FEES_IN = 14,
    TLF_VALUE_IN = 15,
    TLF_DATE_OUT = 16,
    TLF_TIME_OUT = 17,
    TLF_QTY_OUT = 18,
    TLF_PRICE_OUT = 19,
    TLF_FEES_OUT = 20,
    TLF_VALUE_OUT = 21,
    TLF_REASON = 22
};

/* The heading of the column by which the program's own trades export says
** its rows are in the terms the test traded them in (its rows hold
** kTradesAsTraded there); a file without it is read as a broker writes one. */
inline constexpr char kTradesTermsColumn[] = "Terms";
inline constexpr char kTradesAsTraded[] = "AsTraded";

/* One trade of a trade list (or one fill while fills are paired). */
struct TradeListRow {
    char symbol[TL_SYMBOL_SIZE]; /* upper-cased */
    int32_t symbolNumber;        /* 1-based; negative: -AssetId before mapping; 0 not found */
    int32_t side;                /* +1 long, -1 short, 0 the strategy's Side */
    int32_t entryDate, entryTime;
    double quantityIn, priceIn, feesIn, valueIn;
    int32_t exitDate, exitTime; /* 0 while the trade is open */
    double quantityOut, priceOut, feesOut, valueOut;
    uint32_t sequence; /* 1-based fill number */
    uint32_t tradeId;
    uint32_t exactPrice; /* a price had a leading "=" */
    uint32_t valid;
    int32_t entryClock, exitClock; /* times given with DateIn and DateOut */
    char reason[TL_REASON_SIZE];
    uint32_t asTraded; /* the program's own export: prices as the test traded them, fees in the account's currency */
};

/* Activation and bookkeeping of the trade lists of a run. */
struct TradeListState {
    std::vector<int32_t> lastDate;                 /* per strategy: the last date a valid row touches */
    std::vector<uint8_t> active;                   /* per strategy: the rows supply setups on the date */
    std::vector<uint8_t> rules;                    /* per strategy: the strategy's own rules trade */
    int outsideNotice, missingNotice, noBarNotice, unreadNotice; /* once-per-run notices shown */
    int companionDamaged; /* the companion tool's list being read has a line that cannot be read */
    int companionNamed;   /* its rows of strategies the script lacks were named */
};
extern TradeListState gTradeListState;

/* Empties the state for a run over the compiled strategies. */
void ResetTradeListState();

/* "n/a", "open", "intraday", "close" give 0..3; h:m[:s] gives hhmmss; a bare
** number >= 10000 is hhmmss, >= 100 hhmm, else hours.  No text gives 0.
** TL_TIME_BAD for any other text, or a time no clock shows (an hour past
** 23, a minute or second past 59): such a field keeps its line out. */
enum { TL_TIME_BAD = -1 };
int32_t ParseTradeListTime(const char *text);
/* A number in the file's format (numFmt 1: decimal comma, '.' groups) into
** *value (0 for an empty text); why the text is none ("not a number", "not a
** finite number"), with *value 0, when it is not.  A group separator is
** followed by three digits. */
const char *TradeListNumberFault(const char *text, int32_t numFmt, double *value);
/* A date in yyyymmdd, y-m-d or the order dateFmt gives (0 MDY, 1 DMY); 0 when none. */
int32_t ParseTradeListDate(const char *text, int32_t dateFmt);

/* The symbol's split factor on date, the terms its shares were traded in
** that day: its bar on or before date, its first bar for a date before its
** data. */
double TradeListSplitOn(SymbolRecord *symbol, int32_t date);
/* The strategy's TradeList file as the run opens it. */
void TradeListPath(const StrategyRecord *strategy, char path[PATH_SIZE]);
/* Reads and parses the strategy's file; the row count, or -1 after reporting. */
int32_t ReadTradeListFile(StrategyRecord *strategy);
/* Fill-per-row text (line count lines, the first a header when it holds no
** date) paired into trades; the row count. */
int32_t ParseFillRows(StrategyRecord *strategy, char *text, int32_t lineCount);
/* Maps and checks every row, sorts them, writes the debug file when asked
** (it replaces the old one only once complete; a failure is reported with
** result code 3). */
void BuildTradeListTrades(StrategyRecord *strategy, int32_t firstDate, int32_t lastDate);
void MapTradeSymbols(StrategyRecord *strategy, TradeListRow *row, int32_t firstDate, int32_t lastDate);
/* 1 when the bar of the row's entry (firstDate given) or exit exists. */
int ValidateTradePrices(StrategyRecord *strategy, SymbolRecord *symbol, TradeListRow *row, int32_t firstDate);
/* Valid rows first; then symbol (case ignored), entry date, entry time, sequence. */
int CompareTrades(const TradeListRow *a, const TradeListRow *b);
/* Renews the strategy's activation for the trading date before the current one. */
void UpdateTradeListActivation(int32_t strategyIndex, int32_t referenceDate);
/* 1 when the strategy's trade list governs the setup (or the strategy, with
** setupRow < 0) on date: replayed exactly, without limits. */
int IsTradeListGoverned(int32_t strategyIndex, int32_t setupRow, int32_t date);

/* 1 when the strategy's trade list supplies setups on the current date. */
int IsTradeListActive(int32_t strategyIndex);
/* 1 when the strategy's own rules trade (after TLEndDate, or without one). */
int TradeListRulesApply(int32_t strategyIndex);
/* The strategy's row (1-based), or none. */
TradeListRow *TradeListRowAt(StrategyRecord *strategy, int32_t row);
/* Valid descending, symbol (case ignored), then entry dates compared by the
** end of their period of the strategy's bar size. */
int CompareTradeListRows(const StrategyRecord *strategy, const TradeListRow *a, const TradeListRow *b);
/* 0 when a and b fall in one period of the strategy's bar size. */
int CompareTradeListPeriods(const StrategyRecord *strategy, int32_t a, int32_t b);
/* The next row of the context symbol and date as a setup (cursor 0 on the
** first call of the date); none when the rows of the date are used up. */
PositionRecord *ReplayTradeList(EvalContext *context, int32_t *cursor);
/* A row's fees (its feesIn or feesOut) in the account's currency, fx the
** symbol's rate on the day. */
double TradeListFees(const TradeListRow *row, double fees, double fx);
