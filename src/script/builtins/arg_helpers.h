/* arg_helpers.h -- how the built-ins read their arguments, hold the FunBar
** counter, keep window buffers and walk a symbol's bars.
**
** Arguments:  argument k (1-based) of a function node starts node->argLinks[k-1]
**             nodes after it; it is walked with EvalNodes up to "," or, for the
**             last argument, ")".  Every evaluation copies the argument's text
**             flag (and its text when set) into the function node.
** Threads:    any evaluating thread; nothing here keeps state between calls.
*/
#pragma once
#include <cmath>
#include <cstdint>

#include "foundation/numbers.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"
#include "script/eval/value_getters.h"

struct FormulaNode;
struct EvalContext;
struct Bar;

enum {
    FRAME_WINDOW = 300 /* window values kept in the caller's frame */
};

/* Evaluates argument k at barsBack: 1 with its value (and data type when
** dataType is given), 0 when k is beyond the arguments given or the
** evaluation fails.  A NaN from an operator comes back as a value. */
int EvalArg(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, double *value,
            uint32_t *dataType = nullptr);
/* Evaluates argument k at barsBack into the node itself: its value and data
** type (and, as for every argument, its text); 0 as EvalArg. */
int TakeArg(FormulaNode *node, EvalContext *context, int k, int32_t barsBack);
/* Evaluates every argument at barsBack into values[k-1] (and formats[k-1]
** when given); 0 at the first that fails, else 1 (also without arguments). */
int EvalAllArgs(FormulaNode *node, EvalContext *context, int32_t barsBack, double *values, uint32_t *formats);
/* Reads argument k as a bar count (rounded half away from zero) into
** *length and checks that enough bars exist before barsBack for it plus
** extra (-1: plus floor(sqrt(length))).  With UseAvailableBars a count
** beyond the bars that exist is cut to them.  1 when the count can be
** walked, else 0 (*length is still set when the argument was read). */
int GetLengthArg(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, int32_t extra,
                 int32_t *length);
/* Reads argument k as the length of an exponential smoothing into *length
** (its magnitude) and gives in *lookback the bars to walk so that a bar's
** weight has fallen below EmaPrecision percent (all bars of the symbol in a
** one-pass walk), cut to the bars that exist.  1 when at least one bar is
** left, else 0. */
int GetSmoothingLengthArg(FormulaNode *node, int32_t multiplier, EvalContext *context, int k, int32_t barsBack,
                          int32_t *lookback, double *length);


/* True when the node is counted over test dates (its own or its operand's
** category is a strategy statistic). */
bool CountsTestDates(const FormulaNode *node);
/* True when the node counts trade values or statistics over test dates. */
bool CountsTestRows(const FormulaNode *node);

/* The FunBar counter, taken by the outermost multi-bar function of an
** evaluation: Take() claims it when free, Step() counts one series
** evaluation, and the destructor frees it on every way out. */
struct FunBarHold {
    EvalContext *context;
    bool owner;
    explicit FunBarHold(EvalContext *c);
    ~FunBarHold();
    void Step()
    {
        if (owner) context->funBar++;
    }
    FunBarHold(const FunBarHold &) = delete;
    FunBarHold &operator=(const FunBarHold &) = delete;
};

/* A window buffer of n doubles: in the frame up to FRAME_WINDOW × 2, else
** from the tracked allocator; zero-filled; freed by the destructor.
** Get() fails (returns null) when the allocation fails.  Types() gives a
** second, zero-filled array of n data types (one byte each) the same way,
** for a window that keeps the type of every value it holds. */
struct WindowBuffer {
    double frame[FRAME_WINDOW * 2];
    double *heap = nullptr;
    uint8_t typeFrame[FRAME_WINDOW * 2];
    uint8_t *typeHeap = nullptr;
    double *Get(int64_t n);
    uint8_t *Types(int64_t n);
    ~WindowBuffer();
};

/* The values a window of length values can ever hold: its length, but in a
** one-pass walk never more than the symbol's bars, which are all that walk
** brings.  Every reservation of a window's state is sized by it, so a
** length far beyond the data (a count of 1e10 is read as 2e9) reserves no
** more than the data and no arithmetic on it can overflow; the window
** itself still counts to its length, so it never fills and gives no value,
** as a Scan gives none. */
int32_t WindowSlots(const EvalContext *context, bool onePass, int32_t length);
/* Reads argument k as a window's length (GetLengthArg, extra as there) and
** gives its WindowSlots in *slots.  1 when the window can be walked: as
** GetLengthArg in a per-bar walk; in a one-pass walk any length of at least
** 1, as a window longer than the bars that exist only waits to fill. */
int GetWindowLengthArg(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, int32_t extra,
                       bool onePass, int32_t *length, int32_t *slots);

/* The bars of the context symbol at the context's bar size and their count;
** null without a symbol or bars. While TargetPrice's trial bar stands one
** past the last bar the count includes it, so every bar is read through
** ContextBarAt (value_getters.h), never by indexing the array. */
const Bar *ContextBars(const EvalContext *context, int32_t *count);
/* The split factor a bar's prices are scaled by (1 for a bar without one). */
double BarSplitFactor(const Bar *bar);
/* Writes value at element i of the one-pass window after the node's unary
** operator; a value that is not finite is not written, so the element keeps
** meaning "no value". */
void WriteOnePass(const FormulaNode *node, EvalContext *context, int32_t i, double value);
/* The bar field (Open, High, Low, Close or Volume) that argument k reads
** when it is nothing but that field of the current bar (no offset, no
** sign), so that a one-pass walk can read it from the bar array as the
** value getter would; 0 for any other argument, and while the evaluation
** trace runs (it shows every term). */
uint32_t DirectBarField(const FormulaNode *node, int k);
/* The value of that field of bar at the context's price scale, exactly as
** the value getter gives it, with its data type.  Inline: the walks call it
** for every bar of a window.  A bar at the scale's own split level needs no
** division (x / x is exactly 1 for every finite non-zero x). */
inline double DirectBarValue(const EvalContext *context, const Bar *bar, uint32_t field, uint32_t *dataType)
{
    double scale = context->priceScale, split = bar->split;
    double f = 1.0;
    if (split != 0 && !(split == scale && std::isfinite(scale))) f = scale / split;
    *dataType = 1;
    switch (field) {
    case ITEM_OPEN: return f * bar->open;
    case ITEM_HIGH: return f * bar->high;
    case ITEM_LOW: return f * bar->low;
    case ITEM_CLOSE: return f * bar->close;
    default: *dataType = 2; return bar->volume / f;
    }
}
/* Rescales a value of data type 1 (price: × r) or 2 (volume: ÷ r). */
inline double RescaleByType(double value, uint32_t dataType, double r)
{
    return dataType == 1 ? value * r : dataType == 2 ? value / r
                                                     : value;
}
/* Rescales the n values of a window, each by its own data type: a series
** that is a price on some bars and a constant on others (IF(C > O, H, 0))
** holds both, and only the prices move with a split. */
inline void RescaleHeld(double *values, const uint8_t *types, int32_t n, double r)
{
    for (int32_t i = 0; i < n; i++) values[i] = RescaleByType(values[i], types[i], r);
}

/* A spread (a deviation, a mean deviation or a range) of values that are all
** equal is 0, but their mean comes out a unit or so of the last place off, so
** the spread does too, and a figure divided by it becomes arbitrary.  The
** spread is 0 when it is within FLAT_SPREAD_RELATIVE of size, the largest
** magnitude among the values it was taken from; a division by it then gives
** no value, as for any zero spread. */
constexpr double FLAT_SPREAD_RELATIVE = 1e-10;
inline double FlatSpread(double spread, double size)
{
    return spread <= FLAT_SPREAD_RELATIVE * (size < 0 ? -size : size) ? 0.0 : spread;
}
