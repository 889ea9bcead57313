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
#include "script/eval/eval_int.h"
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
        /* A number has no type, whatever result an operator left in its node. */
        node->value = node->constant;
        node->dataType = DATA_TYPE_NONE;
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

static bool IsNumericOperand(const FormulaNode *node)
{
    return node->category == CAT_CONSTANT || node->item == ITEM_PARAMETER || node->item == ITEM_SYMBOL;
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

/* EvalFormula with the array's end node known (null: found by looking). */
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

