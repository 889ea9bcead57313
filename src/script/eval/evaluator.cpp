/* evaluator.cpp -- precedence climbing over compiled node arrays, term
** dispatch, Library and argument references, parameters, and the trace. */
#include "script/eval/evaluator.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula_text.h"
#include "records/test_records.h"
#include "script/eval/item_table.h"
#include "script/eval/value_access.h"
#include "script/eval/value_getters.h"
#include "services/services.h"
#include "records/chart_record.h"

char gPendingRuntimeError[RUNTIME_ERROR_SIZE];

static std::atomic<int> sRuntimeErrorClaimed{0};

static const char *const kRunModeText[] = {"import", "apply", "scan", "test", "optimize", "orders"};
static_assert(sizeof kRunModeText / sizeof *kRunModeText == RUN_MODE_ORDERS + 1, "one text per RunMode");

/* ============================================================================
** Runtime errors
** ========================================================================== */

void SetPendingRuntimeError(const char *format, ...)
{
    int expected = 0;
    /* Workers may hit a limit at once; the first one's text stays, and no
    ** two threads ever write the buffer together. */
    if (!sRuntimeErrorClaimed.compare_exchange_strong(expected, 1)) return;
    va_list args;
    va_start(args, format);
    FormatTextV(gPendingRuntimeError, sizeof gPendingRuntimeError, format, args);
    va_end(args);
}

void ClearPendingRuntimeError()
{
    gPendingRuntimeError[0] = 0;
    sRuntimeErrorClaimed.store(0);
}

void ReportEvalInternalError(const char *format, ...)
{
    char text[RUNTIME_ERROR_SIZE];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    ReportError("%s", text);
    RequestStop();
}

/* ============================================================================
** Library nesting
** ========================================================================== */

enum { LIBRARY_STACK_SIZE = LIBRARY_NESTING_LIMIT + 1 };

/* The Library node arrays each worker slot is walking right now, and the
** states of those it re-entered.  A Library item's formula is walked in
** place, and its nodes hold the partial results of the walk under way, so an
** item entered again (through Item, with a bar offset, up to the nesting
** limit) first saves its array and gets it back once the inner walk is done.
** The saved block grows to the deepest re-entry seen and is kept for the next
** one: no allocation per bar.  Only the thread that owns a worker slot touches
** its row, so no lock is needed. */
struct LibraryStack {
    const FormulaNode *active[LIBRARY_STACK_SIZE];
    int32_t count;
    FormulaNode *saved; /* tracked block: saved arrays, innermost last */
    int64_t savedNodes; /* nodes of saved in use */
};
static LibraryStack sLibraryStacks[WORKER_SLOTS];

static int32_t WorkerSlot(const EvalContext *context)
{
    return context->slot >= 0 && context->slot < WORKER_SLOTS ? context->slot : 0;
}

static bool IsActiveLibrary(const LibraryStack *stack, const FormulaNode *nodes)
{
    for (int32_t k = 0; k < stack->count; k++) {
        if (stack->active[k] == nodes) return true;
    }
    return false;
}

/* Pushes a copy of length nodes onto the slot's saved block; 0 when memory
** fails (the allocator's flag then stops the run). */
static int SaveLibraryNodes(LibraryStack *stack, const FormulaNode *nodes, int64_t length)
{
    uint64_t need = (uint64_t)(stack->savedNodes + length) * sizeof(FormulaNode);
    if (TrackedBlockSize(stack->saved) < need && !ReallocMemory(&stack->saved, need)) return 0;
    memcpy(stack->saved + stack->savedNodes, nodes, (size_t)length * sizeof(FormulaNode));
    stack->savedNodes += length;
    return 1;
}

static void RestoreLibraryNodes(LibraryStack *stack, FormulaNode *nodes, int64_t length)
{
    stack->savedNodes -= length;
    memcpy(nodes, stack->saved + stack->savedNodes, (size_t)length * sizeof(FormulaNode));
}

static void RefuseLibrary(FormulaNode *node, const char *format, const char *name)
{
    SetPendingRuntimeError(format, name);
    RequestStop();
    node->value = NAN;
    node->textFlag = 0;
    node->text[0] = 0;
}

/* A formula without a value has no text either.  A quoted text or the name
** of a reference in the first node belongs to the formula, not to the
** result: it stays, or the next evaluation would compare numbers where the
** formula compares texts, and an Import reference would lose its name. */
static void DropResultText(FormulaNode *first)
{
    first->textFlag = 0;
    if (first->category != CAT_TEXT && first->category != CAT_CONSTANT) first->text[0] = 0;
}

int EvalLibraryItem(FormulaNode *node, uint32_t libraryIndex, EvalContext *context, int32_t barsBack)
{
    FormulaItem *item = DefinitionItem(SECTION_LIBRARY, libraryIndex);
    if (!item) return 0;
    FormulaSlot *slot = &item->formula;
    int32_t worker = WorkerSlot(context);
    FormulaNode *nodes = slot->count > 0 ? slot->nodes[worker] : nullptr;
    if (!nodes) return 0;
    LibraryStack *stack = &sLibraryStacks[worker];
    if (context->libraryDepth >= LIBRARY_NESTING_LIMIT || stack->count >= LIBRARY_STACK_SIZE) {
        RefuseLibrary(node, "Item<=>Library infinite recursion in '%s'", slot->name);
        return 0;
    }
    /* Re-entered: the walk under way keeps its partial results aside. */
    int64_t length = (int64_t)slot->count + 1;
    bool reentered = IsActiveLibrary(stack, nodes);
    if (reentered && !SaveLibraryNodes(stack, nodes, length)) return 0;
    stack->active[stack->count++] = nodes;
    context->libraryDepth++;
    ResolveFormulaRefs(nodes, context);
    FormulaNode *position = nodes;
    int ok = EvalNodes(&position, 0, ITEM_END, context, barsBack);
    context->libraryDepth--;
    stack->count--;
    double value = ok ? nodes[0].value : NAN;
    if (!std::isfinite(value)) {
        value = NAN;
        nodes[0].value = NAN;
        DropResultText(&nodes[0]);
    }
    /* The calling node may stand in the array about to be restored. */
    uint32_t dataType = nodes[0].dataType, textFlag = nodes[0].textFlag;
    char text[sizeof node->text];
    if (textFlag) CopyString(text, sizeof text, nodes[0].text, -1);
    if (reentered) RestoreLibraryNodes(stack, nodes, length);
    node->value = value;
    node->dataType = dataType;
    node->textFlag = textFlag;
    if (textFlag) CopyString(node->text, sizeof node->text, text, -1);
    return std::isfinite(value) ? 1 : 0;
}

int EvalFormulaRef(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    if (node->item == ITEM_ARG) {
        int32_t k = (int32_t)node->index;
        if (!context->args || k < 1 || k > context->argCount) return 0;
        const ArgValue *arg = &context->args[k - 1];
        node->value = arg->value;
        node->dataType = arg->dataType;
        node->textFlag = arg->textFlag;
        if (arg->textFlag) CopyString(node->text, sizeof node->text, arg->text, -1);
        return 1;
    }
    if (node->item == ITEM_LIBRARY_REF || node->item == ITEM_LIBRARY_CALL)
        return EvalLibraryItem(node, node->index, context, barsBack);
    return 0;
}

/* ============================================================================
** Parameters and system values
** ========================================================================== */

int GetNamedValue(FormulaNode *node, EvalContext *context)
{
    int32_t index = (int32_t)node->index;
    double value;
    if (context->storedParameters) {
        const TestRecord *test = context->test;
        if (!test || !test->parameters || index < 0 || index >= test->parameterCount) return 0;
        value = test->parameters[index].value;
    } else {
        if (!gParameters.items || index < 0 || index >= gParameters.count) return 0;
        const Parameter *parameter = &((const Parameter *)gParameters.items)[index];
        /* Out of sample, the values found for the interval before are played. */
        int32_t interval = context->walkForwardInterval - context->outOfSample;
        if (parameter->walkValues && context->walkForwardInterval >= 0 && interval >= 0 &&
            interval < parameter->walkCount) {
            value = parameter->walkValues[interval];
        } else if (context->chart && context->chart->kind == CHART_KIND_TRADE) {
            /* A chart opened on a trade shows it as its test ran: with that
            ** test's value of the parameter, found by name. */
            const TestRecord *test = context->test;
            int32_t k = 0;
            while (test && test->parameters && k < test->parameterCount &&
                   CompareNoCase(test->parameters[k].name, parameter->name) != 0)
                k++;
            if (!test || !test->parameters || k >= test->parameterCount) return 0;
            value = test->parameters[k].value;
        } else if (parameter->values && parameter->valueCount > 0) {
            int32_t at = parameter->currentIndex >= 0 && parameter->currentIndex < parameter->valueCount
                ? parameter->currentIndex
                : 0;
            value = parameter->values[at];
        } else {
            return 0;
        }
    }
    node->constant = value;
    node->value = value;
    return 1;
}

/* The file name of a path without its folder and without the part from its
** last ".". */
static void ScriptBaseName(const char *path, char *out, int size)
{
    const char *name = path;
    for (const char *p = path; *p; p++) {
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    }
    const char *dot = strrchr(name, '.');
    int length = dot ? (int)(dot - name) : (int)strlen(name);
    CopyString(out, size, name, length);
}

static int GetSystemValue(FormulaNode *node)
{
    switch (node->item) {
    case ITEM_Q_LOCAL_TIME: {
        PlatDateTime now;
        PlatGetLocalTime(&now);
        node->value = MakeDate(now.year, now.month, now.day) +
            (now.hour * 10000 + now.minute * 100 + now.second) / 1000000.0;
        FormatText(node->text, sizeof node->text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", now.year, now.month, now.day,
                   now.hour, now.minute, now.second);
        break;
    }
    case ITEM_Q_RUN_MODE:
        node->value = gRun.mode;
        CopyString(node->text, sizeof node->text, gRun.mode >= RUN_MODE_IMPORT && gRun.mode <= RUN_MODE_ORDERS ? kRunModeText[gRun.mode] : "", -1);
        break;
    case ITEM_Q_START_DATE:
    case ITEM_Q_END_DATE: {
        int32_t date = node->item == ITEM_Q_START_DATE ? gSettings.FirstDate : gSettings.LastDate;
        char text[DATE_TEXT_SIZE];
        FormatDefaultDate(date, text);
        node->value = date;
        CopyString(node->text, sizeof node->text, text, -1);
        break;
    }
    case ITEM_Q_SCRIPT_NAME:
        node->value = 0;
        ScriptBaseName(gSettings.ActiveScript, node->text, sizeof node->text);
        break;
    default:
        return 0;
    }
    node->textFlag = 1;
    return 1;
}

/* ============================================================================
** Terms
** ========================================================================== */

static bool TraceOn()
{
    return gDebugEvalOn && PlatCurrentThreadId() == gRun.uiThreadId;
}

/* Writes one trace line indented by the trace depth, keeps the interface
** alive, and lets Escape end the trace. */
static void TraceLine(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
static void TraceLine(const char *format, ...)
{
    char line[1024];
    int n = 0;
    for (int32_t d = 0; d < gDebugEvalDepth && n < (int)sizeof line - 1; d++) line[n++] = '\t';
    va_list args;
    va_start(args, format);
    FormatTextV(line + n, sizeof line - (size_t)n, format, args);
    va_end(args);
    LogPrintf("%s", line);
    PumpMessages();
    if (PlatEscapePressed()) {
        LogPrintf("*** Escape Detected ***");
        gDebugEvalOn = 0;
    }
}

/* One missing built-in is reported once per program run, not once per bar. */
static std::atomic<uint8_t> sMissingReported[SCRIPT_ITEM_COUNT];

void ResetEvaluatorState()
{
    ClearPendingRuntimeError();
    for (LibraryStack &stack : sLibraryStacks) {
        FreeMemory(&stack.saved);
        stack.savedNodes = 0;
    }
    for (std::atomic<uint8_t> &reported : sMissingReported) reported.store(0);
}

static int CallImplementation(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    const ScriptItem *row = node->item < SCRIPT_ITEM_COUNT ? &gScriptItems[node->item] : nullptr;
    ItemImpl impl = row ? gItemImpls[node->item] : nullptr;
    if (!impl) {
        uint32_t id = node->item < SCRIPT_ITEM_COUNT ? node->item : 0;
        if (!sMissingReported[id].exchange(1))
            ReportEvalInternalError("Internal Error: %s (Id=%d) has no implementation", row ? row->name : "?",
                                    (int)node->item);
        return 0;
    }
    double *savedWindow = context->onePassWindow;
    int32_t savedBase = context->multiBarBase;
    if (node->category == CAT_MULTI_BAR) context->multiBarBase = barsBack;
    /* Only a multi-bar function standing directly in the formula may fill the
    ** one-pass window; inside another function's argument it computes alone. */
    if (++context->depth > 1) context->onePassWindow = nullptr;
    int ok = impl(node, context, barsBack);
    context->depth--;
    context->onePassWindow = savedWindow;
    context->multiBarBase = savedBase;
    return ok;
}

/* The factor that brings a bar's prices to the price scale, as the value
** getters compute it.  Most bars share the scale's split level, and x / x is
** exactly 1 for every finite non-zero x, so the division is left out there. */
static inline double SplitFactor(double scale, double split)
{
    if (split == scale && split != 0 && std::isfinite(split)) return 1.0;
    return split != 0 ? scale / split : 1.0;
}

/* Out of line, so the term's own frame carries no text buffer. */
#if defined(__GNUC__)
__attribute__((noinline))
#endif
static void
TraceFunctionEntry(const FormulaNode *node)
{
    char text[FORMULA_TEXT_SIZE + 8];
    gDebugEvalDepth++;
    FormatTokenText(node, text, sizeof text);
    TraceLine(">>> %s <<<", text);
}

/* Open, high, low, close and volume, as GetBarValue gives them, read straight
** from the bar array: the terms of nearly every formula. */
static int GetPriceOrVolume(FormulaNode *node, const EvalContext *context, int32_t barsBack)
{
    const SymbolRecord *symbol = context->symbol;
    if (!symbol) return 0;
    int barSize = context->barSize >= BAR_WEEKLY && context->barSize <= BAR_YEARLY ? context->barSize : BAR_DAILY;
    const Bar *bars = symbol->bars[barSize];
    int64_t j = (int64_t)context->lastBar - barsBack;
    if (!bars || j < 0 || j >= symbol->barCounts[barSize]) return 0;
    const Bar *bar = &bars[j];
    double f = SplitFactor(context->priceScale, bar->split);
    static_assert(ITEM_HIGH == ITEM_OPEN + 1 && ITEM_LOW == ITEM_OPEN + 2 && ITEM_CLOSE == ITEM_OPEN + 3 &&
                      ITEM_VOLUME == ITEM_OPEN + 4,
                  "open, high, low, close and volume are adjacent rows");
    static_assert(offsetof(Bar, high) == offsetof(Bar, open) + 8 && offsetof(Bar, low) == offsetof(Bar, open) + 16 &&
                      offsetof(Bar, close) == offsetof(Bar, open) + 24,
                  "the four prices of a bar are adjacent");
    if (node->item == ITEM_VOLUME) {
        node->value = bar->volume / f;
        node->dataType = DATA_TYPE_VOLUME;
    } else {
        const double *prices = &bar->open;
        node->value = f * prices[node->item - ITEM_OPEN];
        node->dataType = DATA_TYPE_PRICE;
    }
    return 1;
}

int EvalTermNode(FormulaNode *node, EvalContext *context, int32_t barsBack)
{
    bool function = IsFunctionCategory(node->category);
    bool trace = TraceOn();
    if (trace && function) TraceFunctionEntry(node);
    int ok;
    switch (node->category) {
    case CAT_CONSTANT:
    case CAT_TEXT:
        node->value = node->constant;
        ok = 1;
        break;
    case CAT_SYSTEM: ok = GetSystemValue(node); break;
    case CAT_ARGUMENT: ok = EvalFormulaRef(node, context, barsBack); break;
    case CAT_PARAMETER: ok = GetNamedValue(node, context); break;
    case CAT_BAR_VALUE:
        /* A trial bar (TargetPrice) is seen only through the bar getter. */
        ok = node->item >= ITEM_OPEN && node->item <= ITEM_VOLUME && !context->trialBar
            ? GetPriceOrVolume(node, context, barsBack)
            : GetBarValue(node, context, barsBack);
        break;
    case CAT_BAR_DATE: ok = GetBarDateValue(node, context, barsBack); break;
    case CAT_INDICATOR:
    case CAT_MULTI_BAR:
    case CAT_FUNCTION:
    case CAT_TRADE_STAT:
    case CAT_SUM: ok = CallImplementation(node, context, barsBack); break;
    case CAT_SYMBOL_INFO:
    case CAT_POSITION_INFO: ok = GetNonBarValue(node, context, barsBack); break;
    case CAT_STRATEGY_INFO:
    case CAT_STRATEGY_STAT: ok = GetStatValue(node, context, barsBack); break;
    case CAT_TRADE_VALUE: ok = GetTradeValue(node, context, barsBack); break;
    case CAT_OPEN:
    case CAT_CLOSE:
    case CAT_OPERATOR:
    case CAT_BREADTH: ok = 1; break;
    default: ok = 0; break;
    }
    if (ok && !std::isfinite(node->value)) ok = 0;
    if (ok) {
        node->value = ApplyUnary(node->unary, node->value);
        node->evaluated = 1;
    }
    if (trace && (function || node->category != CAT_CONSTANT)) FormatFormulaText(node, barsBack, ok);
    return ok;
}

/* ============================================================================
** Operators
** ========================================================================== */

/* Operators whose left value 0 decides the result when short circuits are on. */
static constexpr bool ZeroShortCircuits(uint32_t op)
{
    return op == ITEM_POWER || op == ITEM_TIMES || op == ITEM_DIVIDE || op == ITEM_MOD || op == ITEM_AND;
}

static bool IsNumericOperand(const FormulaNode *node)
{
    return node->category == CAT_CONSTANT || node->item == ITEM_PARAMETER || node->item == ITEM_SYMBOL;
}

/* CompareDouble (tolerance 1e-14) and CompareDoubleApprox (1e-6) of the
** foundation, rule for rule, where the walk can inline them: comparisons are
** among the most frequent operators of a formula. */
static inline int CompareNumbers(double a, double b, double relative)
{
    if (a == b) return 0;
    int aNan = std::isnan(a), bNan = std::isnan(b);
    if (aNan || bNan) return aNan && bNan ? 0 : (aNan ? -1 : 1);
    if (std::isinf(a) || std::isinf(b)) return a < b ? -1 : 1;
    double fa = fabs(a), fb = fabs(b);
    double tolerance = (fa > fb ? fa : fb) * relative;
    if (a - b > tolerance) return 1;
    if (b - a > tolerance) return -1;
    return 0;
}

static inline int CompareByDataType(double a, double b, uint32_t ta, uint32_t tb)
{
    return CompareNumbers(a, b, ta == DATA_TYPE_PRICE || tb == DATA_TYPE_PRICE ? 1e-6 : 1e-14);
}

static int CompareOperands(const FormulaNode *left, const FormulaNode *right)
{
    if ((left->textFlag || right->textFlag) && !IsNumericOperand(left) && !IsNumericOperand(right)) {
        int c = CompareNoCase(left->textFlag ? left->text : "", right->textFlag ? right->text : "");
        return c < 0 ? -1 : c > 0 ? 1
                                  : 0;
    }
    return CompareByDataType(left->value, right->value, left->dataType, right->dataType);
}

/* Combines two numbers under op: the value (NearZero applied) and data type
** of the result.  compare is the three-way comparison of a and b, read by
** the comparison operators only.  Both the walk and the block path combine
** here, so their results agree bit for bit. */
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
static inline void CombineNumbers(uint32_t op, double a, double b, uint32_t ta, uint32_t tb, int compare,
                                  double nearZero, double *value, uint32_t *dataType)
{
    double v = 0;
    uint32_t t = 0;
    switch (op) {
    case ITEM_POWER:
        v = b == 2.0 ? a * a : pow(a, b);
        t = ta;
        break;
    case ITEM_TIMES:
        v = a * b;
        t = (ta && tb && ta != tb) ? 0 : (ta ? ta : tb);
        break;
    case ITEM_DIVIDE:
        v = b == 0 ? 0.0 : a / b;
        t = (b == 0 || tb) ? 0 : ta;
        break;
    case ITEM_MOD: v = b == 0 ? 0.0 : fmod(a, b); break;
    case ITEM_PLUS:
        v = a + b;
        t = ta ? ta : tb;
        break;
    case ITEM_MINUS:
        v = a - b;
        t = ta ? ta : tb;
        break;
    case ITEM_GREATER: v = compare > 0; break;
    case ITEM_GREATER_EQUAL: v = compare >= 0; break;
    case ITEM_LESS: v = compare < 0; break;
    case ITEM_LESS_EQUAL: v = compare <= 0; break;
    case ITEM_EQUAL: v = compare == 0; break;
    case ITEM_NOT_EQUAL: v = compare != 0; break;
    case ITEM_AND: v = a == 0 ? 0.0 : ((b != 0 || std::isnan(b)) ? 1.0 : 0.0); break;
    case ITEM_OR: v = (std::isnan(a) || a != 0) ? 1.0 : ((b != 0 || std::isnan(b)) ? 1.0 : 0.0); break;
    default: v = NAN; break;
    }
    if (fabs(v) < nearZero) v = 0.0;
    *value = v;
    *dataType = t;
}

static_assert(ITEM_NOT_EQUAL - ITEM_GREATER == 5, "the six comparisons are adjacent rows");
static constexpr bool IsComparison(uint32_t op)
{
    return op >= ITEM_GREATER && op <= ITEM_NOT_EQUAL;
}

/* Combines the operands that start at left and right under op; the value and
** data type of the result. */
static void CombineOperands(uint32_t op, const FormulaNode *left, const FormulaNode *right, double *value,
                            uint32_t *dataType)
{
    int compare = IsComparison(op) ? CompareOperands(left, right) : 0;
    CombineNumbers(op, left->value, right->value, left->dataType, right->dataType, compare, gSettings.NearZero, value,
                   dataType);
    if (left->item == ITEM_SPLIT || right->item == ITEM_SPLIT) *dataType = 0;
}

/* Out of line, so the walk's own frame carries no text buffers.  Called
** before the result is stored, while left still holds the left operand. */
#if defined(__GNUC__)
__attribute__((noinline))
#endif
static void
TraceOperator(const FormulaNode *left, const FormulaNode *op, const FormulaNode *right, double result)
{
    char leftText[FORMULA_TEXT_SIZE + 8], opText[FORMULA_TEXT_SIZE + 8], rightText[FORMULA_TEXT_SIZE + 8];
    FormatLiteralToken(left, leftText, sizeof leftText);
    FormatTokenText(op, opText, sizeof opText);
    FormatLiteralToken(right, rightText, sizeof rightText);
    TraceLine("(%s%s%s) = %g", leftText, opText, rightText, result);
}

/* ============================================================================
** The walk
** ========================================================================== */

/* Offsets beyond any data still name no bar when they are held to a billion
** bars either way, and nested offsets then add up without overflowing. */
constexpr int32_t BARS_BACK_LIMIT = 1000000000;

static int32_t AddBarsBack(int32_t barsBack, int32_t offset)
{
    int64_t sum = (int64_t)barsBack + offset;
    return sum > BARS_BACK_LIMIT ? BARS_BACK_LIMIT : sum < -BARS_BACK_LIMIT ? -BARS_BACK_LIMIT
                                                                            : (int32_t)sum;
}

static bool IsStop(const FormulaNode *node, uint32_t stopItem)
{
    /* The end node, or a closing node or separator that is not the one this
    ** walk waits for, stops it too: a malformed array can never be walked
    ** past its end. */
    return node->item == stopItem || node->item == ITEM_END || node->category == CAT_CLOSE ||
        node->item == ITEM_COMMA;
}

static int EvalGroup(FormulaNode *open, EvalContext *context, int32_t barsBack)
{
    FormulaNode *inner = open + 1;
    FormulaNode *position = inner;
    if (!EvalNodes(&position, 0, ITEM_CLOSE_PAREN, context, barsBack)) return 0;
    double value = ApplyUnary(open->unary, inner->value);
    open->value = value;
    position->value = value;
    open->dataType = inner->dataType;
    position->dataType = inner->dataType;
    inner->evaluated = 1;
    open->evaluated = 1;
    return 1;
}

int EvalNodes(FormulaNode **position, uint32_t minPrecedence, uint32_t stopItem, EvalContext *context,
              int32_t barsBack)
{
    FormulaNode *start = *position;
    if (start->constantFlag) {
        *position = start + 1;
        return 1;
    }
    int32_t offset = 0;
    if (start->barsBackLink) {
        FormulaNode *expression = start + start->barsBackLink;
        FormulaNode *p = expression;
        if (!EvalNodes(&p, 0, ITEM_CLOSE_BRACKET, context, barsBack)) return 0;
        double v = trunc(expression->value);
        /* An offset without a number gives no value rather than a bar picked
        ** by an undefined conversion. */
        if (std::isnan(v)) return 0;
        offset = v > BARS_BACK_LIMIT ? BARS_BACK_LIMIT : v < -BARS_BACK_LIMIT ? -BARS_BACK_LIMIT
                                                                              : (int32_t)v;
    }
    FormulaNode *p = start;
    bool shortCircuit = false;
    uint32_t shortPrecedence = 0;
    while (!IsStop(p, stopItem)) {
        if (p->category != CAT_OPERATOR) {
            if (!shortCircuit) {
                int32_t back = AddBarsBack(barsBack, offset);
                int ok = p->item == ITEM_OPEN_PAREN ? EvalGroup(p, context, back) : EvalTermNode(p, context, back);
                if (!ok) {
                    *position = p;
                    return 0;
                }
            }
            offset = 0;
            p += p->width + 1;
            continue;
        }
        uint32_t precedence = p->precedence;
        if (precedence <= minPrecedence) break;
        if (shortCircuit) {
            if (precedence > shortPrecedence) {
                p++;
                continue;
            }
            shortCircuit = false;
        }
        double left = start->value;
        if (gSettings.UseShortCircuit &&
            ((left == 0 && ZeroShortCircuits(p->item)) || (p->item == ITEM_OR && (left != 0 || std::isnan(left))))) {
            /* The left value decides: the rest of this operator's operand is
            ** skipped by widths, never evaluated. */
            start->dataType = 0;
            shortCircuit = true;
            shortPrecedence = precedence;
            p++;
            continue;
        }
        FormulaNode *op = p;
        FormulaNode *right = p + 1;
        FormulaNode *q = right;
        if (!EvalNodes(&q, precedence, stopItem, context, barsBack)) {
            *position = q;
            return 0;
        }
        double value;
        uint32_t dataType;
        CombineOperands(op->item, start, right, &value, &dataType);
        if (TraceOn()) TraceOperator(start, op, right, value);
        start->value = value;
        start->dataType = dataType;
        start->textFlag = 0;
        right->value = value;
        right->dataType = dataType;
        right->textFlag = 0;
        p = q;
    }
    *position = p;
    return 1;
}

/* ============================================================================
** Formulas
** ========================================================================== */

void ResolveFormulaRefs(FormulaNode *nodes, EvalContext *context)
{
    for (FormulaNode *node = nodes; node->item != ITEM_END; node++) {
        if (node->item == ITEM_STRATEGY_REF && node->constant == UNRESOLVED_REF) {
            int32_t number = 0;
            const TestRecord *test = context->test;
            if (test && test->strategies) {
                for (int32_t s = 0; s < test->strategyCount && !number; s++) {
                    if (CompareNoCase(test->strategies[s].name, node->text) == 0) number = s + 1;
                }
            } else {
                number = LookupStrategyNumber(node->text);
            }
            node->constant = node->value = number;
        } else if (node->item == ITEM_SYMBOL_REF) {
            if (context->importFlag) {
                bool same = context->symbol && CompareNoCase(node->text, context->symbol->info.Symbol) == 0;
                node->constant = node->value = same ? 1.0 : 0.0;
            } else if (node->constant == UNRESOLVED_REF) {
                double number;
                if (CompareNoCase(node->text, "Global") == 0)
                    number = -1;
                else if (CompareNoCase(node->text, "CalSym") == 0)
                    number = -2;
                else
                    number = FindSymbolIndex(node->text);
                node->constant = node->value = number;
            }
        }
        node->evaluated = node->constantFlag;
        node->dataType = 0;
        node->textFlag = node->text[0] != 0;
    }
}

static bool EvalByWalkPlan(FormulaNode *nodes, FormulaNode *end, EvalContext *context, const Bar *bars, int32_t count,
                           double *result);

/* EvalFormula with the array's end node known (null: found by looking). */
/* A formula of one constant needs no bar: its value is the node's. */
static bool IsConstantFormula(const FormulaNode *nodes, const EvalContext *context)
{
    const FormulaNode *first = &nodes[0];
    bool unresolvedRef =
        (first->item == ITEM_STRATEGY_REF || first->item == ITEM_SYMBOL_REF) && first->constant == UNRESOLVED_REF;
    return !context->importFlag && first->constantFlag && nodes[1].item == ITEM_END && !unresolvedRef;
}

/* The context symbol's bars at the context's bar size, and the price scale
** of the bar the evaluation stands on. */
static void SetEvaluationBar(EvalContext *context, const Bar **barsOut, int32_t *countOut)
{
    const Bar *bars = nullptr;
    int32_t count = 0;
    if (const SymbolRecord *symbol = context->symbol) {
        int barSize = context->barSize >= BAR_WEEKLY && context->barSize <= BAR_YEARLY ? context->barSize : BAR_DAILY;
        bars = symbol->bars[barSize];
        count = symbol->barCounts[barSize];
        int32_t index = context->currentBar ? context->barIndex : context->lastBar;
        if (bars && index >= 0 && index < count) context->priceScale = bars[index].split;
    }
    *barsOut = bars;
    *countOut = count;
}

static double EvalFormulaToEnd(FormulaNode *nodes, FormulaNode *end, EvalContext *context)
{
    if (!nodes || nodes[0].item == ITEM_END) return 0.0;
    FormulaNode *first = &nodes[0];
    if (IsConstantFormula(nodes, context)) return first->value;
    const Bar *bars;
    int32_t count;
    SetEvaluationBar(context, &bars, &count);
    double planned;
    if (!context->importFlag && !TraceOn() && EvalByWalkPlan(nodes, end, context, bars, count, &planned)) return planned;
    ResolveFormulaRefs(nodes, context);
    context->funBar = -1;
    context->depth = 0;
    FormulaNode *position = nodes;
    double result = EvalNodes(&position, 0, ITEM_END, context, 0) ? first->value : NAN;
    if (std::isinf(result)) result = NAN;
    if (std::isnan(result)) DropResultText(first);
    return result;
}

double EvalFormula(FormulaNode *nodes, EvalContext *context)
{
    return EvalFormulaToEnd(nodes, nullptr, context);
}

/* The node array of the context's worker slot, or none. */
static FormulaNode *SlotNodes(FormulaSlot *slot, const EvalContext *context)
{
    if (!slot || slot->count <= 0) return nullptr;
    return slot->nodes[WorkerSlot(context)];
}

int EvalFormulaSlot(FormulaSlot *slot, EvalContext *context, double *value)
{
    context->libraryDepth = 0;
    if (slot) context->itemName = slot->name;
    FormulaNode *nodes = SlotNodes(slot, context);
    if (!nodes) {
        context->currentBar = 0;
        *value = 0.0;
        return 1;
    }
    FormulaNode *end = slot->count > 0 && nodes[slot->count].item == ITEM_END ? &nodes[slot->count] : nullptr;
    double result = EvalFormulaToEnd(nodes, end, context);
    uint32_t dataType = nodes[0].dataType;
    if (dataType != 0) {
        /* Workers evaluating the same Data item race to record its format;
        ** the first sets it and nobody overwrites it. */
        std::atomic_ref<uint32_t> format(slot->resultFormat);
        uint32_t expected = 0;
        if (format.load(std::memory_order_relaxed) == 0)
            format.compare_exchange_strong(expected, dataType, std::memory_order_relaxed);
    }
    context->currentBar = 0;
    if (!std::isfinite(result)) {
        *value = 0.0;
        return 0;
    }
    *value = result;
    return 1;
}

int EvalFormulaInt(FormulaSlot *slot, EvalContext *context, int32_t *value)
{
    double v;
    int ok = EvalFormulaSlot(slot, context, &v);
    if (!ok) {
        *value = 0;
        return 0;
    }
    *value = FormulaIntValue(v);
    return 1;
}

int32_t FormulaIntValue(double value)
{
    double r = round(value + 0.000001);
    return r >= 2147483647.0 ? INT32_MAX : r <= -2147483648.0 ? INT32_MIN : (int32_t)r;
}

int EvalFormulaText(FormulaSlot *slot, EvalContext *context, char *out, int outSize)
{
    double v;
    if (!EvalFormulaSlot(slot, context, &v)) return 0;
    FormulaNode *nodes = SlotNodes(slot, context);
    if (nodes && nodes[0].textFlag)
        CopyString(out, outSize, nodes[0].text, -1);
    else if (v == 0)
        out[0] = 0;
    else
        FormatText(out, (size_t)outSize, "%g", v);
    return 1;
}

/* ============================================================================
** Blocks of bars
** ========================================================================== */

/* One plan serves both paths: a run of bars (EvalFormulaBars) and, kept in
** the end node as a WalkPlan, a single bar (EvalFormula). */

/* A formula of number constants, plain bar values with constant offsets,
** brackets and operators has no control flow but its short circuits, and
** those only choose between two values per bar.  Such a formula is turned
** into a plan, the walk's operand tree in evaluation order, and each plan
** step runs over a run of bars at once.  Every step keeps, per bar, the value
** and data type the walk would leave in the step's first node and whether the
** walk would have failed there; a short-circuited right operand is computed
** too but its failure does not count, as the walk never evaluates it.  A bar
** that fails anywhere is then walked by EvalFormula, so the block path never
** has to reproduce a failure, only the values of a success. */

enum : uint8_t { PLAN_CONSTANT = 0,
                 PLAN_TERM = 1,
                 PLAN_TERM_CONSTANT = 2,
                 PLAN_GROUP = 3,
                 PLAN_OPERATOR = 4 };
enum { PLAN_MAX_STEPS = 32,
       PLAN_LANES = 128 };

struct PlanStep {
    uint8_t kind;              /* PLAN_... */
    uint8_t unary;             /* UnaryOp of a term or a group */
    uint8_t dataType;          /* of a bar value term */
    uint8_t left, right;       /* steps of a group's content (left) or an operator's operands */
    uint32_t item;             /* bar value or operator row */
    int32_t barsBack;          /* of a term */
    double constant;           /* PLAN_CONSTANT: the folded value; PLAN_TERM_CONSTANT: the number */
    const FormulaNode *source; /* the node of a constant */
    const double *series;      /* a Data item's values for the context symbol, one per bar */
    uint32_t *format;          /* that item's result format */
};

struct BlockPlan {
    PlanStep steps[PLAN_MAX_STEPS];
    int32_t count;
};

/* The bar values a plan reads, with the data type each gives. */
static int32_t PlanBarDataType(uint32_t item)
{
    switch (item) {
    case ITEM_OPEN:
    case ITEM_HIGH:
    case ITEM_LOW:
    case ITEM_CLOSE:
    case ITEM_RANGE:
    case ITEM_TRUE_RANGE:
    case ITEM_NEXT_OPEN: return DATA_TYPE_PRICE;
    case ITEM_VOLUME: return DATA_TYPE_VOLUME;
    case ITEM_EXTRA:
    case ITEM_BAR_NUM:
    case ITEM_BARS_LEFT: return DATA_TYPE_NONE;
    default: return -1;
    }
}

/* A Data item read at the context's own bar size, one value per bar, as
** GetBarValue reads it from the symbol's block: its values and its result
** format for the step.  Items kept per date or per symbol, or at another bar
** size, are aligned by date and stay with the walk. */
static bool PlanDataSeries(const FormulaNode *node, const EvalContext *context, PlanStep *step)
{
    if (!context) return false;
    FormulaItem *item = DefinitionItem(SECTION_DATA, node->index);
    const SymbolRecord *symbol = context->symbol;
    if (!item || item->onePerDate || item->onePerSymbol || DataItemBarSize(item) != context->barSize) return false;
    if (!symbol || !symbol->dataValues[0] || !symbol->dataOffsets[0]) return false;
    step->series = symbol->dataValues[0] + symbol->dataOffsets[0][node->index];
    step->format = &item->formula.resultFormat;
    return true;
}

static bool IsPlanOperator(uint32_t item)
{
    return item >= ITEM_POWER && item <= ITEM_OR && item != ITEM_NOT;
}

static int AddPlanStep(BlockPlan *plan, const PlanStep &step)
{
    if (plan->count >= PLAN_MAX_STEPS) return -1;
    plan->steps[plan->count] = step;
    return plan->count++;
}

/* Follows EvalNodes from *position over the same nodes without evaluating:
** adds the steps of what it would compute and gives the step of the result,
** or -1 when the walk does anything a plan cannot (a node of another kind, an
** offset that is not a number, a malformed array). */
static int PlanWalk(BlockPlan *plan, const FormulaNode **position, uint32_t minPrecedence, uint32_t stopItem,
                    int32_t barsBack, int depth, const EvalContext *context)
{
    const FormulaNode *start = *position;
    if (depth > 64) return -1;
    if (start->constantFlag) {
        if (start->category != CAT_CONSTANT || start->item != ITEM_NUMBER || !IsStop(start + 1, stopItem)) return -1;
        *position = start + 1;
        PlanStep step{};
        step.kind = PLAN_CONSTANT;
        step.constant = start->value;
        step.source = start;
        return AddPlanStep(plan, step);
    }
    int32_t offset = 0;
    if (start->barsBackLink) {
        const FormulaNode *expression = start + start->barsBackLink;
        if (!expression->constantFlag || expression->item != ITEM_NUMBER ||
            (expression + 1)->item != ITEM_CLOSE_BRACKET)
            return -1;
        double v = trunc(expression->value);
        if (std::isnan(v)) return -1;
        offset = v > BARS_BACK_LIMIT ? BARS_BACK_LIMIT : v < -BARS_BACK_LIMIT ? -BARS_BACK_LIMIT
                                                                              : (int32_t)v;
    }
    const FormulaNode *p = start;
    int result = -1;
    while (!IsStop(p, stopItem)) {
        if (p->category != CAT_OPERATOR) {
            /* Past the first operand, the walk meets terms only inside a
            ** short circuit, and those belong to an operator's operand. */
            if (result >= 0) return -1;
            int32_t back = AddBarsBack(barsBack, offset);
            PlanStep step{};
            step.unary = (uint8_t)p->unary;
            if (p->item == ITEM_OPEN_PAREN) {
                const FormulaNode *inner = p + 1;
                int content = PlanWalk(plan, &inner, 0, ITEM_CLOSE_PAREN, back, depth + 1, context);
                if (content < 0 || inner->item != ITEM_CLOSE_PAREN) return -1;
                step.kind = PLAN_GROUP;
                step.left = (uint8_t)content;
            } else if (p->category == CAT_CONSTANT && p->item == ITEM_NUMBER) {
                step.kind = PLAN_TERM_CONSTANT;
                step.constant = p->constant;
                step.source = p;
            } else if (p->category == CAT_BAR_VALUE && PlanBarDataType(p->item) >= 0) {
                step.kind = PLAN_TERM;
                step.item = p->item;
                step.dataType = (uint8_t)PlanBarDataType(p->item);
                step.barsBack = back;
            } else if (p->item == ITEM_DATA_REF && PlanDataSeries(p, context, &step)) {
                step.kind = PLAN_TERM;
                step.item = p->item;
                step.barsBack = back;
            } else {
                return -1;
            }
            result = AddPlanStep(plan, step);
            if (result < 0) return -1;
            offset = 0;
            p += p->width + 1;
            continue;
        }
        if (result < 0 || !IsPlanOperator(p->item)) return -1;
        uint32_t precedence = p->precedence;
        if (precedence <= minPrecedence) break;
        const FormulaNode *q = p + 1;
        int right = PlanWalk(plan, &q, precedence, stopItem, barsBack, depth + 1, context);
        if (right < 0) return -1;
        PlanStep step{};
        step.kind = PLAN_OPERATOR;
        step.item = p->item;
        step.left = (uint8_t)result;
        step.right = (uint8_t)right;
        result = AddPlanStep(plan, step);
        if (result < 0) return -1;
        p = q;
    }
    *position = p;
    return result;
}

/* The plan of a whole node array; 0 when it has none. */
static int BuildBlockPlan(const FormulaNode *nodes, BlockPlan *plan, const EvalContext *context)
{
    plan->count = 0;
    for (const FormulaNode *node = nodes; node->item != ITEM_END; node++) {
        /* A node with a text would take part in text comparisons. */
        if (node->text[0] || node->textFlag) return 0;
    }
    const FormulaNode *position = nodes;
    int root = PlanWalk(plan, &position, 0, ITEM_END, 0, 0, context);
    return root >= 0 && root == plan->count - 1 && position->item == ITEM_END;
}

/* What one plan step gives on a run of bars. */
struct PlanLanes {
    double value[PLAN_MAX_STEPS][PLAN_LANES];
    uint8_t dataType[PLAN_MAX_STEPS][PLAN_LANES];
    uint8_t failed[PLAN_MAX_STEPS][PLAN_LANES];
};

/* A bar value term on bars first .. first + n - 1, as GetBarValue and
** EvalTermNode give it: the price scale is each bar's own split factor.  One
** copy per item keeps the item's choice out of the loop. */
/* The bar value ITEM of bar j (inside the array) at the given price scale,
** as GetBarValue gives it; false when it has none.  series and format belong
** to a Data item. */
template <uint32_t ITEM>
static inline bool BarItemValue(const Bar *bars, int32_t count, int64_t j, double scale, const double *series,
                                uint32_t format, double *out)
{
    const Bar *bar = &bars[j];
    double f = SplitFactor(scale, bar->split);
    double v;
    bool ok = true;
    if constexpr (ITEM == ITEM_OPEN)
        v = f * bar->open;
    else if constexpr (ITEM == ITEM_HIGH)
        v = f * bar->high;
    else if constexpr (ITEM == ITEM_LOW)
        v = f * bar->low;
    else if constexpr (ITEM == ITEM_CLOSE)
        v = f * bar->close;
    else if constexpr (ITEM == ITEM_VOLUME)
        v = bar->volume / f;
    else if constexpr (ITEM == ITEM_EXTRA)
        v = bar->extra;
    else if constexpr (ITEM == ITEM_BAR_NUM)
        v = (double)(j + 1);
    else if constexpr (ITEM == ITEM_BARS_LEFT)
        v = (double)(count - j - 1);
    else if constexpr (ITEM == ITEM_RANGE)
        v = f * (bar->high - bar->low);
    else if constexpr (ITEM == ITEM_DATA_REF) {
        v = series[j];
        if (format == DATA_TYPE_PRICE)
            v *= f;
        else if (format == DATA_TYPE_VOLUME)
            v /= f;
    } else if constexpr (ITEM == ITEM_NEXT_OPEN) {
        ok = j + 1 < count;
        v = ok ? f * bar[1].open : 0;
    } else {
        static_assert(ITEM == ITEM_TRUE_RANGE, "a bar value or Data item of the plans");
        double high = bar->high * f, low = bar->low * f;
        if (j == 0) {
            v = high - low;
        } else {
            const Bar *previousBar = &bars[j - 1];
            double previous = previousBar->close * SplitFactor(scale, previousBar->split);
            v = (previous > high ? previous : high) - (previous < low ? previous : low);
        }
    }
    *out = v;
    return ok;
}

/* A bar value term on bars first .. first + n - 1, as GetBarValue and
** EvalTermNode give it: the price scale is each bar's own split factor.  One
** copy per item keeps the item's choice out of the loop. */
template <uint32_t ITEM>
static void RunTermLanes(const PlanStep &step, const Bar *bars, int32_t count, int32_t first, int n, uint32_t format,
                         double *value, uint8_t *failed)
{
    /* Locals: the byte stores below may alias anything, the step included. */
    const int32_t barsBack = step.barsBack;
    const uint32_t unary = step.unary;
    const double *series = step.series;
    if constexpr (ITEM == ITEM_DATA_REF) {
        /* A value that is no price or volume takes no split factor, so its
        ** run reads the item's values alone, not the bars. */
        if (format != DATA_TYPE_PRICE && format != DATA_TYPE_VOLUME) {
            for (int k = 0; k < n; k++) {
                int64_t j = (int64_t)(first + k) - barsBack;
                double v = j >= 0 && j < count ? series[j] : 0;
                bool ok = j >= 0 && j < count && std::isfinite(v);
                value[k] = ok ? ApplyUnary(unary, v) : 0;
                failed[k] = !ok;
            }
            return;
        }
    }
    for (int k = 0; k < n; k++) {
        int32_t i = first + k;
        int64_t j = (int64_t)i - barsBack;
        double v = 0;
        bool ok = j >= 0 && j < count && BarItemValue<ITEM>(bars, count, j, bars[i].split, series, format, &v) &&
            std::isfinite(v);
        value[k] = ok ? ApplyUnary(unary, v) : 0;
        failed[k] = !ok;
    }
}

static void RunTermStep(const PlanStep &step, const Bar *bars, int32_t count, int32_t first, int n, uint32_t format,
                        double *value, uint8_t *failed)
{
    switch (step.item) {
    case ITEM_OPEN: RunTermLanes<ITEM_OPEN>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_HIGH: RunTermLanes<ITEM_HIGH>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_LOW: RunTermLanes<ITEM_LOW>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_CLOSE: RunTermLanes<ITEM_CLOSE>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_VOLUME: RunTermLanes<ITEM_VOLUME>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_EXTRA: RunTermLanes<ITEM_EXTRA>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_BAR_NUM: RunTermLanes<ITEM_BAR_NUM>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_BARS_LEFT: RunTermLanes<ITEM_BARS_LEFT>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_RANGE: RunTermLanes<ITEM_RANGE>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_NEXT_OPEN: RunTermLanes<ITEM_NEXT_OPEN>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_TRUE_RANGE: RunTermLanes<ITEM_TRUE_RANGE>(step, bars, count, first, n, format, value, failed); break;
    case ITEM_DATA_REF: RunTermLanes<ITEM_DATA_REF>(step, bars, count, first, n, format, value, failed); break;
    default:
        for (int k = 0; k < n; k++) failed[k] = 1;
        break;
    }
}

/* An operator over the lanes; one copy per operator. */
template <uint32_t OP>
static void RunOperatorLanes(const PlanStep &step, PlanLanes *lanes, int s, int n, int useShortCircuit,
                             double nearZero)
{
    const double *a = lanes->value[step.left], *b = lanes->value[step.right];
    const uint8_t *ta = lanes->dataType[step.left], *tb = lanes->dataType[step.right];
    const uint8_t *fa = lanes->failed[step.left], *fb = lanes->failed[step.right];
    double *value = lanes->value[s];
    uint8_t *dataType = lanes->dataType[s], *failed = lanes->failed[s];
    constexpr bool comparison = IsComparison(OP);
    constexpr bool zeroDecides = ZeroShortCircuits(OP);
    for (int k = 0; k < n; k++) {
        double left = a[k];
        if (useShortCircuit &&
            ((zeroDecides && left == 0) || (OP == ITEM_OR && (left != 0 || std::isnan(left))))) {
            value[k] = left;
            dataType[k] = 0;
            failed[k] = fa[k];
            continue;
        }
        int compare = 0;
        if constexpr (comparison)
            compare = CompareByDataType(left, b[k], ta[k], tb[k]);
        double v;
        uint32_t t;
        CombineNumbers(OP, left, b[k], ta[k], tb[k], compare, nearZero, &v, &t);
        value[k] = v;
        dataType[k] = (uint8_t)t;
        failed[k] = fa[k] | fb[k];
    }
}

static void RunOperatorStep(const PlanStep &step, PlanLanes *lanes, int s, int n, int useShortCircuit)
{
    double nearZero = gSettings.NearZero;
    switch (step.item) {
#define PLAN_OPERATOR_CASE(op) \
    case op: RunOperatorLanes<op>(step, lanes, s, n, useShortCircuit, nearZero); break;
        PLAN_OPERATOR_CASE(ITEM_POWER)
        PLAN_OPERATOR_CASE(ITEM_TIMES)
        PLAN_OPERATOR_CASE(ITEM_DIVIDE)
        PLAN_OPERATOR_CASE(ITEM_MOD)
        PLAN_OPERATOR_CASE(ITEM_PLUS)
        PLAN_OPERATOR_CASE(ITEM_MINUS)
        PLAN_OPERATOR_CASE(ITEM_GREATER)
        PLAN_OPERATOR_CASE(ITEM_GREATER_EQUAL)
        PLAN_OPERATOR_CASE(ITEM_LESS)
        PLAN_OPERATOR_CASE(ITEM_LESS_EQUAL)
        PLAN_OPERATOR_CASE(ITEM_EQUAL)
        PLAN_OPERATOR_CASE(ITEM_NOT_EQUAL)
        PLAN_OPERATOR_CASE(ITEM_AND)
        PLAN_OPERATOR_CASE(ITEM_OR)
#undef PLAN_OPERATOR_CASE
    default:
        for (int k = 0; k < n; k++) lanes->failed[s][k] = 1;
        break;
    }
}

static void RunPlan(const BlockPlan *plan, PlanLanes *lanes, const Bar *bars, int32_t count, int32_t first, int n)
{
    int useShortCircuit = gSettings.UseShortCircuit;
    for (int s = 0; s < plan->count; s++) {
        const PlanStep &step = plan->steps[s];
        switch (step.kind) {
        case PLAN_CONSTANT:
        case PLAN_TERM_CONSTANT: {
            double v = step.kind == PLAN_CONSTANT ? step.constant : ApplyUnary(step.unary, step.constant);
            uint8_t failed = step.kind == PLAN_TERM_CONSTANT && !std::isfinite(step.constant);
            for (int k = 0; k < n; k++) {
                lanes->value[s][k] = v;
                lanes->dataType[s][k] = 0;
                lanes->failed[s][k] = failed;
            }
            break;
        }
        case PLAN_TERM: {
            /* A Data item's format is read as the walk reads it, here once
            ** per run; it is its values' data type. */
            uint32_t format = step.item == ITEM_DATA_REF
                ? std::atomic_ref<uint32_t>(*step.format).load(std::memory_order_relaxed)
                : 0;
            RunTermStep(step, bars, count, first, n, format, lanes->value[s], lanes->failed[s]);
            memset(lanes->dataType[s], step.item == ITEM_DATA_REF ? (int)format : step.dataType, (size_t)n);
            break;
        }
        case PLAN_GROUP: {
            const uint32_t unary = step.unary;
            const int inner = step.left;
            for (int k = 0; k < n; k++) lanes->value[s][k] = ApplyUnary(unary, lanes->value[inner][k]);
            memcpy(lanes->dataType[s], lanes->dataType[inner], (size_t)n);
            memcpy(lanes->failed[s], lanes->failed[inner], (size_t)n);
            break;
        }
        case PLAN_OPERATOR: RunOperatorStep(step, lanes, s, n, useShortCircuit); break;
        default: break;
        }
    }
}

/* One bar by the walk, as a data calculation sets the context for it. */
static double WalkBar(FormulaNode *nodes, EvalContext *context, const Bar *bars, int32_t i, uint32_t *dataType)
{
    context->barIndex = i;
    context->lastBar = i;
    if (bars) context->date = bars[i].date;
    context->libraryDepth = 0;
    double value = EvalFormula(nodes, context);
    if (dataType) *dataType = nodes ? nodes[0].dataType : 0;
    return value;
}

void EvalFormulaBars(FormulaNode *nodes, EvalContext *context, int32_t first, int32_t count, double *values,
                     uint32_t *dataTypes)
{
    if (count <= 0) return;
    int32_t barCount = 0;
    const Bar *bars = context->symbol ? GetBarArray(context->symbol, context->barSize, &barCount) : nullptr;
    bool inRange = bars && first >= 0 && (int64_t)first + count <= barCount;
    BlockPlan plan;
    bool planned = inRange && nodes && nodes[0].item != ITEM_END && !context->importFlag && !TraceOn() &&
        !(nodes[0].constantFlag && nodes[1].item == ITEM_END) && BuildBlockPlan(nodes, &plan, context);
    int32_t end = first + count;
    if (!planned) {
        for (int32_t i = first; i < end; i++)
            values[i - first] =
                WalkBar(nodes, context, inRange ? bars : nullptr, i, dataTypes ? &dataTypes[i - first] : nullptr);
        return;
    }
    PlanLanes lanes;
    int root = plan.count - 1;
    /* The last bar always goes through EvalFormula, so the first node and
    ** the context end as a bar-by-bar evaluation leaves them. */
    int32_t planEnd = end - 1;
    for (int32_t run = first; run < planEnd; run += PLAN_LANES) {
        int n = planEnd - run < PLAN_LANES ? planEnd - run : PLAN_LANES;
        RunPlan(&plan, &lanes, bars, barCount, run, n);
        for (int k = 0; k < n; k++) {
            int32_t i = run + k;
            if (lanes.failed[root][k]) {
                values[i - first] = WalkBar(nodes, context, bars, i, dataTypes ? &dataTypes[i - first] : nullptr);
                continue;
            }
            double v = lanes.value[root][k];
            values[i - first] = std::isinf(v) ? NAN : v;
            if (dataTypes) dataTypes[i - first] = lanes.dataType[root][k];
        }
    }
    values[end - 1 - first] = WalkBar(nodes, context, bars, end - 1, dataTypes ? &dataTypes[end - 1 - first] : nullptr);
}

int EvalFormulaPlanned(FormulaNode *nodes, EvalContext *context, int32_t first, int32_t count, double *values)
{
    int32_t barCount = 0;
    const Bar *bars = context->symbol ? GetBarArray(context->symbol, context->barSize, &barCount) : nullptr;
    if (!bars || count <= 0 || first < 0 || (int64_t)first + count > barCount || !nodes || nodes[0].item == ITEM_END ||
        context->importFlag || context->trialBar || TraceOn() || (nodes[0].constantFlag && nodes[1].item == ITEM_END))
        return 0;
    BlockPlan plan;
    if (!BuildBlockPlan(nodes, &plan, context)) return 0;
    PlanLanes lanes;
    int root = plan.count - 1;
    int32_t end = first + count;
    for (int32_t run = first; run < end; run += PLAN_LANES) {
        int n = end - run < PLAN_LANES ? end - run : PLAN_LANES;
        RunPlan(&plan, &lanes, bars, barCount, run, n);
        for (int k = 0; k < n; k++) {
            double v = lanes.value[root][k];
            values[run + k - first] = lanes.failed[root][k] || std::isinf(v) ? NAN : v;
        }
    }
    return 1;
}

int EvalFormulaPerSymbol(FormulaNode *nodes, EvalContext *context, double *value)
{
    if (!nodes || nodes[0].item == ITEM_END || !context->symbol || context->importFlag || context->trialBar || TraceOn())
        return 0;
    for (const FormulaNode *node = nodes; node->item != ITEM_END; node++) {
        if (node->barsBackLink) return 0;
        switch (node->item) {
        case ITEM_NUMBER:
        case ITEM_TEXT:
        case ITEM_SYMBOL_REF:
        case ITEM_SYMBOL:
        case ITEM_Q_SYMBOL:
        case ITEM_OPEN_PAREN:
        case ITEM_CLOSE_PAREN: break;
        default:
            if (!IsPlanOperator(node->item) && node->item != ITEM_NOT) return 0;
            break;
        }
    }
    context->libraryDepth = 0;
    *value = EvalFormula(nodes, context);
    return 1;
}

void TakeKnownFormulaValue(FormulaSlot *slot, EvalContext *context)
{
    context->libraryDepth = 0;
    if (slot) context->itemName = slot->name;
    FormulaNode *nodes = SlotNodes(slot, context);
    /* As the evaluation would: a constant formula leaves the context alone. */
    if (nodes && nodes[0].item != ITEM_END && !IsConstantFormula(nodes, context)) {
        const Bar *bars;
        int32_t count;
        SetEvaluationBar(context, &bars, &count);
        context->funBar = -1;
        context->depth = 0;
    }
    context->currentBar = 0;
}

/* ============================================================================
** One bar by the plan
** ========================================================================== */

enum : uint32_t { WALK_PLAN_UNKNOWN = 0,
                  WALK_PLAN_READY = 1,
                  WALK_PLAN_NONE = 2 };

/* The step codes of a plan kept in the end node: one code names both the
** kind of step and its bar value or operator, so running a step takes one
** choice.  The bar values and operators are those of the block plans. */
#define WALK_TERMS(X)                                                                                             \
    X(OPEN) X(HIGH) X(LOW) X(CLOSE) X(VOLUME) X(EXTRA) X(BAR_NUM) X(BARS_LEFT) X(RANGE) X(NEXT_OPEN) X(TRUE_RANGE)
#define WALK_OPERATORS(X)                                                                                         \
    X(POWER) X(TIMES) X(DIVIDE) X(MOD) X(PLUS) X(MINUS) X(GREATER) X(GREATER_EQUAL) X(LESS) X(LESS_EQUAL) X(EQUAL) \
    X(NOT_EQUAL) X(AND) X(OR)
enum : uint8_t {
    WALK_CONSTANT,
    WALK_TERM_CONSTANT,
    WALK_GROUP,
#define WALK_CODE(name) WALK_##name,
    WALK_TERMS(WALK_CODE) WALK_OPERATORS(WALK_CODE)
#undef WALK_CODE
        WALK_CODE_COUNT
};

/* The code of a plan step; WALK_CODE_COUNT for one the walk plan cannot run. */
static uint8_t WalkCode(const PlanStep &step)
{
    switch (step.kind) {
    case PLAN_CONSTANT: return WALK_CONSTANT;
    case PLAN_TERM_CONSTANT: return WALK_TERM_CONSTANT;
    case PLAN_GROUP: return WALK_GROUP;
    case PLAN_TERM:
        switch (step.item) {
#define WALK_CASE(name) \
    case ITEM_##name: return WALK_##name;
            WALK_TERMS(WALK_CASE)
#undef WALK_CASE
        default: return WALK_CODE_COUNT;
        }
    case PLAN_OPERATOR:
        switch (step.item) {
#define WALK_CASE(name) \
    case ITEM_##name: return WALK_##name;
            WALK_OPERATORS(WALK_CASE)
#undef WALK_CASE
        default: return WALK_CODE_COUNT;
        }
    default: return WALK_CODE_COUNT;
    }
}

/* The plan of a node array, without Data items (their values belong to one
** symbol), in the compact form of the end node. */
static void BuildWalkPlan(const FormulaNode *nodes, WalkPlan *out)
{
    BlockPlan plan;
    out->count = 0;
    out->state = WALK_PLAN_NONE;
    if (!BuildBlockPlan(nodes, &plan, nullptr) || plan.count > WALK_PLAN_STEPS) return;
    for (int s = 0; s < plan.count; s++) {
        const PlanStep &from = plan.steps[s];
        WalkPlanStep &to = out->steps[s];
        to = WalkPlanStep{};
        to.kind = WalkCode(from);
        if (to.kind == WALK_CODE_COUNT) return;
        to.unary = from.unary;
        to.dataType = from.dataType;
        to.left = from.left;
        to.right = from.right;
        to.barsBack = from.barsBack;
        if (from.source) {
            ptrdiff_t index = from.source - nodes;
            if (index < 0 || index > 255) return;
            to.node = (uint8_t)index;
        }
    }
    out->count = (uint32_t)plan.count;
    out->state = WALK_PLAN_READY;
}

/* One operator step of a walk plan, as the walk combines its operands. */
template <uint32_t OP>
static inline void RunWalkOperator(const WalkPlanStep &step, double *v, uint32_t *t, uint32_t s, int useShortCircuit,
                                   double nearZero)
{
    double a = v[step.left], b = v[step.right];
    constexpr bool zeroDecides = ZeroShortCircuits(OP);
    if (useShortCircuit && ((zeroDecides && a == 0) || (OP == ITEM_OR && (a != 0 || std::isnan(a))))) {
        v[s] = a;
        t[s] = 0;
        return;
    }
    int compare = 0;
    if constexpr (IsComparison(OP)) compare = CompareByDataType(a, b, t[step.left], t[step.right]);
    CombineNumbers(OP, a, b, t[step.left], t[step.right], compare, nearZero, &v[s], &t[s]);
}

/* The plan on the context's bar, as the walk computes it; 0 wherever the
** walk might fail (the caller then walks), which includes a failure in an
** operand that a short circuit would have skipped. */
static int RunWalkPlan(const WalkPlan *plan, const FormulaNode *nodes, const EvalContext *context, const Bar *bars,
                       int32_t count, double *value, uint32_t *dataType)
{
    /* The plan reads the context symbol's bar array, never a trial bar. */
    if (context->trialBar || !bars) return 0;
    double scale = context->priceScale;
    int64_t last = context->lastBar;
    int useShortCircuit = gSettings.UseShortCircuit;
    double nearZero = gSettings.NearZero;
    double v[WALK_PLAN_STEPS];
    uint32_t t[WALK_PLAN_STEPS];
    uint32_t n = plan->count;
    for (uint32_t s = 0; s < n; s++) {
        const WalkPlanStep &step = plan->steps[s];
        switch (step.kind) {
        case WALK_CONSTANT:
            v[s] = nodes[step.node].value;
            t[s] = 0;
            break;
        case WALK_TERM_CONSTANT: {
            double c = nodes[step.node].constant;
            if (!std::isfinite(c)) return 0;
            v[s] = ApplyUnary(step.unary, c);
            t[s] = 0;
            break;
        }
        case WALK_GROUP:
            v[s] = ApplyUnary(step.unary, v[step.left]);
            t[s] = t[step.left];
            break;
#define WALK_TERM_CASE(name)                                                                                  \
    case WALK_##name: {                                                                                      \
        int64_t j = last - step.barsBack;                                                                    \
        double x;                                                                                            \
        if (j < 0 || j >= count || !BarItemValue<ITEM_##name>(bars, count, j, scale, nullptr, 0, &x) ||      \
            !std::isfinite(x))                                                                               \
            return 0;                                                                                        \
        v[s] = ApplyUnary(step.unary, x);                                                                    \
        t[s] = step.dataType;                                                                                \
        break;                                                                                               \
    }
            WALK_TERMS(WALK_TERM_CASE)
#undef WALK_TERM_CASE
#define WALK_OPERATOR_CASE(name) \
    case WALK_##name: RunWalkOperator<ITEM_##name>(step, v, t, s, useShortCircuit, nearZero); break;
            WALK_OPERATORS(WALK_OPERATOR_CASE)
#undef WALK_OPERATOR_CASE
        default: return 0;
        }
    }
    *value = v[n - 1];
    *dataType = t[n - 1];
    return 1;
}

/* The formula's value on the context's bar by its plan, into the first node
** as the walk leaves it; false when the walk has to do it. */
static bool EvalByWalkPlan(FormulaNode *nodes, FormulaNode *end, EvalContext *context, const Bar *bars, int32_t count,
                           double *result)
{
    if (!end) {
        end = nodes;
        while (end->item != ITEM_END) end++;
    }
    WalkPlan *plan = &end->walkPlan;
    if (plan->state == WALK_PLAN_UNKNOWN) BuildWalkPlan(nodes, plan);
    double value;
    uint32_t dataType;
    if (plan->state != WALK_PLAN_READY || !RunWalkPlan(plan, nodes, context, bars, count, &value, &dataType)) return false;
    FormulaNode *first = &nodes[0];
    first->value = value;
    first->dataType = dataType;
    first->textFlag = 0;
    first->evaluated = 1;
    context->funBar = -1;
    context->depth = 0;
    if (std::isinf(value)) value = NAN;
    if (std::isnan(value)) DropResultText(first);
    *result = value;
    return true;
}
