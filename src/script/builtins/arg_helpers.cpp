/* arg_helpers.cpp -- argument reading, lengths, the FunBar counter and
** window buffers of the built-in functions. */
#include "script/builtins/arg_helpers.h"

#include <cmath>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/settings_items.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"

int EvalArg(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, double *value, uint32_t *dataType)
{
    if (k < 1 || k > node->argCount) return 0;
    FormulaNode *first = node + node->argLinks[k - 1];
    FormulaNode *position = first;
    uint32_t stop = k < node->argCount ? ITEM_COMMA : ITEM_CLOSE_PAREN;
    if (!EvalNodes(&position, 0, stop, context, barsBack)) return 0;
    node->textFlag = first->textFlag;
    if (first->textFlag) CopyString(node->text, sizeof node->text, first->text, -1);
    *value = first->value;
    if (dataType) *dataType = first->dataType;
    return 1;
}

int TakeArg(FormulaNode *node, EvalContext *context, int k, int32_t barsBack)
{
    double v;
    uint32_t type = 0;
    if (!EvalArg(node, context, k, barsBack, &v, &type)) return 0;
    node->value = v;
    node->dataType = type;
    return 1;
}

int EvalAllArgs(FormulaNode *node, EvalContext *context, int32_t barsBack, double *values, uint32_t *formats)
{
    for (int k = 1; k <= node->argCount; k++) {
        uint32_t type = 0;
        if (!EvalArg(node, context, k, barsBack, &values[k - 1], &type)) return 0;
        if (formats) formats[k - 1] = type;
    }
    return 1;
}

bool CountsTestDates(const FormulaNode *node)
{
    return node->category == CAT_STRATEGY_STAT || node->operandCategory == CAT_STRATEGY_STAT;
}

bool CountsTestRows(const FormulaNode *node)
{
    return CountsTestDates(node) || node->category == CAT_TRADE_VALUE || node->operandCategory == CAT_TRADE_VALUE;
}

/* A count read from a formula, held inside the 32-bit range so that a huge
** or non-finite number can never reach an undefined conversion. */
static int32_t CountFromDouble(double v)
{
    if (std::isnan(v)) return 0;
    if (v > 2.0e9) return 2000000000;
    if (v < -2.0e9) return -2000000000;
    return (int32_t)v;
}

int GetLengthArg(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, int32_t extra, int32_t *length)
{
    double v = 0;
    if (!EvalArg(node, context, k, barsBack, &v)) return 0;
    if (!std::isfinite(v)) return 0;
    int32_t n = CountFromDouble(RoundToStep(v, 1.0, 0));
    *length = n;
    if (n < 1) return 0;
    if (extra == -1) extra = (int32_t)floor(sqrt((double)n));
    int64_t available = (int64_t)context->lastBar - barsBack - extra + 1;
    if (CountsTestRows(node))
        available = (int64_t)context->lastBar + ((int64_t)context->resultRow - context->barIndex) - barsBack - extra + 1;
    if (gUseAvailableBars && n > available) {
        if (available < 1) return 0;
        n = (int32_t)available;
        *length = n;
    }
    return n <= available ? 1 : 0;
}

int GetSmoothingLengthArg(FormulaNode *node, int32_t multiplier, EvalContext *context, int k, int32_t barsBack,
                          int32_t *lookback, double *length)
{
    double v = 0;
    if (!EvalArg(node, context, k, barsBack, &v)) return 0;
    if (v == 0 || !std::isfinite(v)) return 0;
    *length = fabs(v);
    if (context->onePassWindow) {
        int32_t count = 0;
        ContextBars(context, &count);
        *lookback = count;
        return 1;
    }
    double p = gSettings.EmaPrecision;
    double bars;
    if (p > 1) {
        bars = multiplier * v * p;
    } else {
        double a = 2.0 / (multiplier * v + 1);
        bars = (log(p / 100) - log(a)) / log(1 - a) + 1;
    }
    /* A negative length gives no usable walk (a negative count or no number
    ** at all), so the call fails rather than converting garbage. */
    int32_t n = CountFromDouble(trunc(bars));
    int64_t available = CountsTestDates(node) ? (int64_t)context->resultRow - barsBack + 1
                                              : (int64_t)context->lastBar - barsBack + 1;
    if (n > available) n = (int32_t)(available < 0 ? 0 : available);
    *lookback = n;
    return n > 0 ? 1 : 0;
}

FunBarHold::FunBarHold(EvalContext *c) : context(c), owner(c->funBar < 0)
{
    if (owner) context->funBar = 0;
}

FunBarHold::~FunBarHold()
{
    if (owner) context->funBar = -1;
}

double *WindowBuffer::Get(int64_t n)
{
    if (n <= (int64_t)(sizeof frame / sizeof frame[0])) {
        memset(frame, 0, (size_t)(n > 0 ? n : 0) * sizeof(double));
        return frame;
    }
    if (!ReallocMemory(&heap, (uint64_t)n * sizeof(double))) return nullptr;
    memset(heap, 0, (size_t)n * sizeof(double));
    return heap;
}

uint8_t *WindowBuffer::Types(int64_t n)
{
    if (n <= (int64_t)sizeof typeFrame) {
        memset(typeFrame, 0, (size_t)(n > 0 ? n : 0));
        return typeFrame;
    }
    if (!ReallocMemory(&typeHeap, (uint64_t)n)) return nullptr;
    memset(typeHeap, 0, (size_t)n);
    return typeHeap;
}

WindowBuffer::~WindowBuffer()
{
    FreeMemory(&heap);
    FreeMemory(&typeHeap);
}

int32_t WindowSlots(const EvalContext *context, bool onePass, int32_t length)
{
    if (length < 1) return 0;
    if (!onePass) return length; /* GetLengthArg held it to the bars before the current one */
    int32_t bars = 0;
    ContextBars(context, &bars);
    return length < bars ? length : bars;
}

int GetWindowLengthArg(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, int32_t extra,
                       bool onePass, int32_t *length, int32_t *slots)
{
    *length = 0;
    int ok = GetLengthArg(node, context, k, barsBack, extra, length);
    *slots = WindowSlots(context, onePass, *length);
    return ok || (onePass && *length >= 1);
}

const Bar *ContextBars(const EvalContext *context, int32_t *count)
{
    *count = 0;
    if (!context->symbol) return nullptr;
    const Bar *bars = ContextBarArray(context, count);
    if (!bars) *count = 0;
    return bars;
}

double BarSplitFactor(const Bar *bar) { return bar->split != 0 ? bar->split : 1.0; }

void WriteOnePass(const FormulaNode *node, EvalContext *context, int32_t i, double value)
{
    if (!std::isfinite(value)) return;
    context->onePassWindow[i] = ApplyUnary(node->unary, value);
}

uint32_t DirectBarField(const FormulaNode *node, int k)
{
    if (k < 1 || k > node->argCount || gDebugEvalOn) return 0;
    const FormulaNode *first = node + node->argLinks[k - 1];
    if (first->category != CAT_BAR_VALUE || first->unary != UNARY_NONE || first->barsBackLink != 0 ||
        first->constantFlag || first->width != 0)
        return 0;
    const FormulaNode *next = first + 1;
    if (next->item != ITEM_COMMA && next->item != ITEM_CLOSE_PAREN) return 0;
    switch (first->item) {
    case ITEM_OPEN:
    case ITEM_HIGH:
    case ITEM_LOW:
    case ITEM_CLOSE:
    case ITEM_VOLUME: return first->item;
    default: return 0;
    }
}

