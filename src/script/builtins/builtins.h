/* builtins.h -- the implementations of the built-in functions and their
** registration in the item table.
**
** Contract:   every implementation has the form of ItemImpl (item_table.h):
**             it is called with its own node, the context and a bars-back
**             count before the context's last completed bar, writes its value
**             (and data type) into its node and returns 1, or returns 0 when
**             it has no value.  A value that is not finite counts as none.
** One pass:   the members whose item row carries the sharing flag also serve
**             a one-pass evaluation.  When the context carries a one-pass
**             window (an output array of one element per bar of the context
**             symbol, handed over by the Data calculation with the last
**             completed bar at the symbol's last bar), the implementation
**             walks every bar of the symbol once from the first to the last
**             and writes one value per bar into that array in the bar's own
**             price terms; elements it has no value for stay as they are
**             (the Data calculation fills them with NaN beforehand).  This is
**             the entry the data calculation uses for a whole series; it is
**             the same function, chosen by the window's presence, so the
**             per-bar calling convention stays (node, context, bars back).
** Threads:    any evaluating thread; state lives in the frame, windows above
**             300 values come from the tracked allocator and are freed before
**             return.
*/
#pragma once
#include <cstdint>

struct FormulaNode;
struct EvalContext;

/* Fills the item table's implementation column from the built-ins'
** registration table.  Checks that every listed row exists and is of a
** function category; on the first that is not it reports "Internal Error:
** built-in for row %d is not a function" and returns 0 (start-up stops).
** Called once at program start and by test fixtures, before any evaluation. */
int InstallBuiltins();

/* The one-pass entry for a whole series: evaluates the shareable built-in at
** node (a formula's first node that is one call by itself) over every bar of
** the context's symbol, the context standing at the symbol's last bar, and
** writes one value per bar into out (which holds the bar count).  1 when
** the function ran, 0 when the row is not shareable, has no implementation
** or the function failed (out then keeps what was written).  Bypasses the
** evaluator's walk of the formula but keeps its contract: the node's unary
** operator applies to every output, nested calls in the arguments compute
** bar by bar. */
int CalcOnePassSeries(FormulaNode *node, EvalContext *context, double *out);

/* ---- window functions: Sum .. SinceLow (window_functions.cpp) -------------------- */
int CalcWindowFunction(FormulaNode *node, EvalContext *context, int barsBack);

/* ---- averages, regression, correlation and ranks (averages.cpp) ------------------ */
int CalcHMA(FormulaNode *node, EvalContext *context, int barsBack);
int CalcROC(FormulaNode *node, EvalContext *context, int barsBack);
int CalcMedian(FormulaNode *node, EvalContext *context, int barsBack);
int CalcLinReg(FormulaNode *node, EvalContext *context, int barsBack);
int CalcCorrel(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSpearman(FormulaNode *node, EvalContext *context, int barsBack);
int CalcGroupCorrel(FormulaNode *node, EvalContext *context, int barsBack);
/* One pair of a rank correlation with the ranks found for it. */
struct RankPair {
    double x, y;
    double rankX, rankY; /* 1-based, average ranks for ties */
};
/* The rank correlation of n pairs, average ranks for ties; the pairs are
** sorted in place and their ranks filled. */
double SpearmanRho(RankPair *pairs, int32_t n);

/* ---- classic indicators (indicators.cpp) ------------------------------------------ */
int CalcADX(FormulaNode *node, EvalContext *context, int barsBack);
int CalcATR(FormulaNode *node, EvalContext *context, int barsBack);
int CalcRSI(FormulaNode *node, EvalContext *context, int barsBack);
int CalcCRSI(FormulaNode *node, EvalContext *context, int barsBack);
int CalcHVOL(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSTOC(FormulaNode *node, EvalContext *context, int barsBack);
int CalcCCI(FormulaNode *node, EvalContext *context, int barsBack);
int CalcMACD(FormulaNode *node, EvalContext *context, int barsBack);
int CalcOBV(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSigSpike(FormulaNode *node, EvalContext *context, int barsBack);
int CalcBollinger(FormulaNode *node, EvalContext *context, int barsBack);
int CalcKeltner(FormulaNode *node, EvalContext *context, int barsBack);

/* ---- trailing stops (trailing_stops.cpp) ------------------------------------------ */
int CalcSAR(FormulaNode *node, EvalContext *context, int barsBack);
int CalcKDSAR(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSuperTrend(FormulaNode *node, EvalContext *context, int barsBack);

/* ---- condition counters, swings and sequences (counters.cpp) ---------------------- */
int CalcSinceTrue(FormulaNode *node, EvalContext *context, int barsBack);
/* The one-pass form of the SinceTrue family (count 0, nth 1), used when the
** context carries a one-pass window; always 1. */
int CalcSinceTrueOnePass(FormulaNode *node, EvalContext *context);
int CalcZigZag(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSequence(FormulaNode *node, EvalContext *context, int barsBack);

/* ---- dates, calendars, events, include lists and control (date_control.cpp) ------- */
int CalcDate(FormulaNode *node, EvalContext *context, int barsBack);
int CalcDatePart(FormulaNode *node, EvalContext *context, int barsBack); /* DateYear, DateMonth, DateDay */
int CalcDays(FormulaNode *node, EvalContext *context, int barsBack);
int CalcDateBars(FormulaNode *node, EvalContext *context, int barsBack);
int CalcMissingBars(FormulaNode *node, EvalContext *context, int barsBack);
int CalcNthOfMonth(FormulaNode *node, EvalContext *context, int barsBack);
int CalcEvent(FormulaNode *node, EvalContext *context, int barsBack);
int CalcInList(FormulaNode *node, EvalContext *context, int barsBack);
int CalcThis(FormulaNode *node, EvalContext *context, int barsBack);
int CalcIf(FormulaNode *node, EvalContext *context, int barsBack);
int CalcInSet(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSwitch(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSelect(FormulaNode *node, EvalContext *context, int barsBack);
int CalcIsNaN(FormulaNode *node, EvalContext *context, int barsBack);
int CalcCross(FormulaNode *node, EvalContext *context, int barsBack);
int CalcMaxMin(FormulaNode *node, EvalContext *context, int barsBack); /* Max, Min, MaxN, MinN */

/* ---- math (math.cpp) ---------------------------------------------------------------- */
int CalcBound(FormulaNode *node, EvalContext *context, int barsBack);
int CalcRescale(FormulaNode *node, EvalContext *context, int barsBack);
int CalcAbs(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSign(FormulaNode *node, EvalContext *context, int barsBack);
int CalcRound(FormulaNode *node, EvalContext *context, int barsBack);
int CalcTop(FormulaNode *node, EvalContext *context, int barsBack);
/* Sqr, Log, Exp, Logit and the trigonometric and hyperbolic functions. */
int CalcMathFunction(FormulaNode *node, EvalContext *context, int barsBack);
int CalcCDF(FormulaNode *node, EvalContext *context, int barsBack);
int CalcICDF(FormulaNode *node, EvalContext *context, int barsBack);
int CalcRandom(FormulaNode *node, EvalContext *context, int barsBack);

/* ---- texts (text.cpp) --------------------------------------------------------------- */
enum { FORMAT_TEXT_SIZE = 256 }; /* Format's work buffers: 255 characters */
/* Format's text from the node's arguments (template, values) into out; *used
** gets the number of values placed.  0 when an argument fails. */
int BuildFormatText(FormulaNode *node, EvalContext *context, int barsBack, char out[FORMAT_TEXT_SIZE],
                    int32_t *used);
int CalcFind(FormulaNode *node, EvalContext *context, int barsBack);
int CalcFormat(FormulaNode *node, EvalContext *context, int barsBack);
int CalcFormatDate(FormulaNode *node, EvalContext *context, int barsBack);
int CalcGetField(FormulaNode *node, EvalContext *context, int barsBack);
int CalcLeft(FormulaNode *node, EvalContext *context, int barsBack);
int CalcLength(FormulaNode *node, EvalContext *context, int barsBack);
int CalcMatch(FormulaNode *node, EvalContext *context, int barsBack);
int CalcMid(FormulaNode *node, EvalContext *context, int barsBack);
int CalcReplace(FormulaNode *node, EvalContext *context, int barsBack);
int CalcRight(FormulaNode *node, EvalContext *context, int barsBack);
int CalcChangeCase(FormulaNode *node, EvalContext *context, int barsBack); /* ToLower, ToUpper */
int CalcToDate(FormulaNode *node, EvalContext *context, int barsBack);
int CalcToNum(FormulaNode *node, EvalContext *context, int barsBack);

/* ---- items, references, sums and trade statistics (references.cpp) ------------------ */
int CalcItem(FormulaNode *node, EvalContext *context, int barsBack);
int CalcLibraryCall(FormulaNode *node, EvalContext *context, int barsBack);
int CalcTargetPrice(FormulaNode *node, EvalContext *context, int barsBack);
int CalcExtern(FormulaNode *node, EvalContext *context, int barsBack);
int CalcCombined(FormulaNode *node, EvalContext *context, int barsBack);
int CalcAssert(FormulaNode *node, EvalContext *context, int barsBack);
int CalcNoNan(FormulaNode *node, EvalContext *context, int barsBack);
int CalcDataType(FormulaNode *node, EvalContext *context, int barsBack);
int CalcDebugEval(FormulaNode *node, EvalContext *context, int barsBack);
int CalcSymRef(FormulaNode *node, EvalContext *context, int barsBack);
int CalcStratRef(FormulaNode *node, EvalContext *context, int barsBack);
int CalcReason(FormulaNode *node, EvalContext *context, int barsBack);
int CalcRecordSum(FormulaNode *node, EvalContext *context, int barsBack); /* SetupSum, OrderSum, PositionSum */
int CalcTradeStat(FormulaNode *node, EvalContext *context, int barsBack); /* TradeStatSum .. TradeStatKurt */

/* ---- the plug-in library (plugin.cpp) ----------------------------------------------- */
int CalcDllDataCalc(FormulaNode *node, EvalContext *context, int barsBack);

/* The second registration block: the general functions, references, sums,
** trade statistics and the plug-in call (general_registry.cpp); the same
** checks as InstallBuiltins. */
int InstallGeneralBuiltins();

/* ---- the plug-in library's records (plugin.cpp) ------------------------------------- */
struct Bar;
enum { DLL_MAX_ARGS = 10 };

/* One earlier Data item handed to the plug-in (80 bytes). */
struct DllDataItem {
    double *values;   /* that item's values for the symbol, one per bar */
    char name[64];    /* zero-terminated */
    int32_t dataType; /* 0 none, 1 price, 2 volume, 3 extern price, 4 extern volume */
    int32_t reserved;
};

/* The record whose address is the export's only argument (56 bytes).  The
** bars and their count are the symbol's daily ones whatever the calling
** item's bar size; the output holds one value per bar of that size, in room
** for at least one per daily bar. */
struct DllCallBlock {
    Bar *bars;         /* daily */
    double *output;    /* one value per bar of the item's bar size, NaN on entry */
    double *arguments; /* DLL_MAX_ARGS slots, the first argumentCount filled */
    int32_t argumentCount;
    int32_t barCount;
    char **argumentTexts; /* DLL_MAX_ARGS slots of 80-character texts */
    DllDataItem *items;   /* null when there are none */
    int32_t itemCount;
    int32_t reserved;
};

/* The export "DllDataCalc"; its result is not used. */
typedef int32_t (*DllDataCalcExport)(DllCallBlock *block);

/* load 0: unloads the library (when loaded); 1.  Otherwise loads
** "<UserDllPath or program folder>\radez" with the build's library suffix
** and finds its export: 1, or 0 with nothing loaded. */
int LoadPluginDll(int load);
