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
    double rankX, rankY;   /* 1-based, average ranks for ties */
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
