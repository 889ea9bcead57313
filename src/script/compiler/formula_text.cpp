/* formula_text.cpp -- resetting, copying and searching compiled formulas, and
** writing nodes back as script text. */
#include "script/compiler/formula_text.h"

#include <cstdarg>
#include <cstring>
#include <vector>

#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/eval/item_table.h"
#include "services/services.h"

int32_t gDebugEvalOn;
int32_t gDebugEvalWritten;
int32_t gDebugEvalDepth;

/* The definition lists clear their records the same way before a parse;
** one reset serves both, so a mark added to the slot is cleared everywhere. */
void ResetFormulaRecord(FormulaSlot *record) { ResetDefinitionSlot(record); }

void ResetItemArray(FormulaItem *list, int32_t n)
{
    for (int32_t i = 0; i < n; i++) ResetFormulaItem(&list[i]);
}

namespace {

/* Library items may name each other in a ring (A uses B, B uses A); the
** walk keeps the formulas it has entered and never enters one twice. */
int References(const FormulaSlot *formula, uint32_t item, std::vector<const FormulaSlot *> &entered)
{
    for (const FormulaSlot *seen : entered) {
        if (seen == formula) return 0;
    }
    entered.push_back(formula);
    const FormulaNode *nodes = formula->nodes[0];
    for (int32_t i = 0; nodes && i < formula->count && nodes[i].item != ITEM_END; i++) {
        const FormulaNode &node = nodes[i];
        if (node.item == item) return 1;
        if (node.item == ITEM_STRATDATA_REF || node.item == ITEM_LIBRARY_REF || node.item == ITEM_TESTDATA_REF ||
            node.item == ITEM_LIBRARY_CALL) {
            const FormulaSlot *target = ReferencedFormula(node.item, node.index);
            if (target && target != formula && References(target, item, entered)) return 1;
        }
    }
    return 0;
}

int Append(char *out, int outSize, int used, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

int Append(char *out, int outSize, int used, const char *format, ...)
{
    if (used >= outSize - 1) return used;
    va_list args;
    va_start(args, format);
    int n = FormatTextV(out + used, (size_t)(outSize - used), format, args);
    va_end(args);
    return used + n;
}

} // namespace

int FormulaReferences(const FormulaSlot *formula, uint32_t item)
{
    std::vector<const FormulaSlot *> entered;
    return References(formula, item, entered);
}

int CopyFormulaRecord(const FormulaSlot *source, FormulaSlot *target)
{
    if (!EnsureNodeCapacity(target, source->capacity)) return 0;
    target->breadthFunction = source->breadthFunction;
    target->grouping = source->grouping;
    target->strategyNumber = source->strategyNumber;
    target->count = source->count;
    target->scriptText = source->scriptText;
    target->start = source->start;
    target->length = source->length;
    target->sharedSeries = source->sharedSeries;
    target->slowCalc = source->slowCalc;
    target->onePass = source->onePass;
    CopyString(target->name, sizeof target->name, source->name, 63);
    if (source->capacity > 0) {
        size_t bytes = (size_t)source->capacity * sizeof(FormulaNode);
        memcpy(target->nodes[0], source->nodes[0], bytes);
        for (int k = 1; k < FORMULA_WORKER_COPIES; k++) memcpy(target->nodes[k], target->nodes[0], bytes);
    }
    return 1;
}

int FormatStrategyRef(char *out, int outSize, int32_t index)
{
    if (index < 0 || index >= RenderStrategyCount()) return FormatText(out, (size_t)outSize, "@?%d?", index);
    return FormatText(out, (size_t)outSize, "@%s", RenderStrategyName(index));
}

int FormatTokenText(const FormulaNode *node, char *out, int outSize)
{
    int n = 0;
    out[0] = 0;
    if (node->unary == UNARY_NEGATE)
        n = Append(out, outSize, n, "-");
    else if (node->unary == UNARY_NOT)
        n = Append(out, outSize, n, "NOT ");
    const ScriptItem &row = gScriptItems[node->item < SCRIPT_ITEM_COUNT ? node->item : ITEM_END_RECORD];
    switch (node->item) {
    case ITEM_NUMBER:
        return Append(out, outSize, n, "%g", node->constant);
    case ITEM_STRATEGY_REF:
        return n + FormatStrategyRef(out + n, outSize - n, Whole(node->constant) - 1);
    case ITEM_RELATIVE_SYMBOL: {
        int32_t code = Whole(node->constant);
        if (code == RELATIVE_CC) return Append(out, outSize, n, "&cc");
        if (code == RELATIVE_CCB) return Append(out, outSize, n, "&ccb");
        if (code == RELATIVE_CII) return Append(out, outSize, n, "&cii");
        return Append(out, outSize, n, "&%d", code);
    }
    case ITEM_SYMBOL_REF: {
        int32_t k = Whole(node->constant);
        if (k >= 1 && k <= LoadedSymbolCount()) return Append(out, outSize, n, "$%s", LoadedSymbolName(k));
        return Append(out, outSize, n, "$?%d?", k);
    }
    case ITEM_ARG:
        return Append(out, outSize, n, "%s%d", row.name, (int)node->index);
    case ITEM_STRATDATA_REF:
    case ITEM_GRAPHS_COLUMN:
    case ITEM_RESULTS_COLUMN:
    case ITEM_LIBRARY_REF:
    case ITEM_DATA_REF:
    case ITEM_TESTDATA_REF:
    case ITEM_SCAN_COLUMN:
    case ITEM_TESTSCAN_COLUMN:
    case ITEM_TRADES_COLUMN:
    case ITEM_CHARTS_COLUMN:
    case ITEM_LIBRARY_CALL: {
        /* these rows have no name of their own: the definition's name stands for them */
        const FormulaSlot *target = ReferencedFormula(node->item, node->index);
        return Append(out, outSize, n, "%s", target ? target->name : "");
    }
    case ITEM_COMMA:
        return Append(out, outSize, n, ", ");
    default:
        if (node->category == CAT_OPERATOR) return Append(out, outSize, n, " %s ", row.name);
        return Append(out, outSize, n, "%s", row.name);
    }
}

int FormatLiteralToken(const FormulaNode *node, char *out, int outSize)
{
    if (!node->evaluated) return FormatText(out, (size_t)outSize, "?");
    if (node->textFlag) return FormatText(out, (size_t)outSize, "%s", node->text);
    return FormatText(out, (size_t)outSize, "%g", node->value);
}

void FormatFormulaText(const FormulaNode *node, int32_t barOffset, int dataAvailable)
{
    char line[1024];
    int n = 0;
    line[0] = 0;
    for (int32_t d = 0; d < gDebugEvalDepth; d++) n = Append(line, sizeof line, n, "\t");
    if (n < (int)sizeof line - 1) n += FormatTokenText(node, line + n, (int)sizeof line - n);
    if (IsFunctionCategory(node->category)) {
        n = Append(line, sizeof line, n, "(");
        for (int32_t k = 0; k < node->argCount && k < FORMULA_MAX_ARGS; k++) {
            char value[FORMULA_TEXT_SIZE + 8];
            FormatLiteralToken(node + node->argLinks[k], value, sizeof value);
            n = Append(line, sizeof line, n, k ? ", %s" : "%s", value);
        }
        n = Append(line, sizeof line, n, ")");
        gDebugEvalDepth--;
    }
    if (barOffset != 0 && node->item != ITEM_FUN_BAR) n = Append(line, sizeof line, n, "[%d]", (int)barOffset);
    if (dataAvailable) {
        char value[FORMULA_TEXT_SIZE + 8];
        FormatLiteralToken(node, value, sizeof value);
        n = Append(line, sizeof line, n, " = %s", value);
    } else {
        n = Append(line, sizeof line, n, "(data not available)");
    }
    LogPrintf("%s", line);
    PumpMessages();
    if (PlatEscapePressed()) {
        LogPrintf("*** Escape Detected ***");
        gDebugEvalOn = 0;
    }
}
