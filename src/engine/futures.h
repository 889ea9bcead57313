/* futures.h -- continuous futures contracts: naming a contract, and rolling
** the open positions of a strategy when the series moves to the next one.
**
** A continuous futures symbol is a futures symbol whose bars carry contract
** events (kind -999, the contract's date value; kind -998, its month as
** yyyymm).  An event with a positive time applies after the close of its
** date, one with a time of zero or less from the start of its date.
** Costs:      a roll in a test charges the strategy's RollCost, converted
**             once into the account currency by the currency factor of the
**             day; order generation writes a roll line instead.
** Threads:    UI thread (test run, order generation).
*/
#pragma once
#include <cstdint>

#include "script/eval/eval_context.h"

struct OrderFile;

/* Where order generation wants its roll lines: the text list (none for a
** strategy that writes no lines) and the strategy they belong to; lineCount
** counts the rolls found. */
struct OrderContext {
    OrderFile *text;
    int32_t strategyIndex;
    int32_t lineCount;
};

enum { CONTRACT_NAME_SIZE = 80 };

/* The month letters of contract months 1..12 (a blank for month 0). */
extern const char kContractMonthLetters[14];

/* 1 for a futures symbol that follows dated contracts. */
int IsContinuousFutures(const SymbolRecord *symbol);
/* The symbol's name cut at its first '_', then "_%d%c" (year, month letter)
** when yyyymm has a month 1..12 and a year of at least 1001, else " (%s)" with
** the date value as a date.  out holds CONTRACT_NAME_SIZE characters. */
void FormatContractName(const SymbolRecord *symbol, int32_t dateValue, int32_t yyyymm, char *out);
/* Rolls the context strategy's open positions in continuous futures whose
** contract changed on the date: with an order context a roll order line for
** the roll the next day's test makes at its open (the contract changed on
** the context's bar), in a test the RollCost charged to the position and
** the trace line (the contract changed on the bar before).  The change is
** looked for on the bars the run steps through, whatever the strategy's bar
** size, so a position rolls once for each change. */
void ProcessFuturesRolls(EvalContext *context, OrderContext *orders);

/* The value of the contract events of kind in force on date (prev and next
** are the trading dates around it); 1 with *value, 0 when none.  With
** changeOnly only an event that takes effect on the date itself counts. */
int FindContractEvent(const SymbolRecord *symbol, int32_t kind, int32_t date, int32_t prev, int32_t next, int daily,
                      int changeOnly, double *value);
