/* compile_errors.cpp -- the structure check of bound formulas, the compile
** error texts and the error display. */
#include "script/compiler/compile_errors.h"

#include "foundation/file_helpers.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/formula.h"
#include "script/eval/item_table.h"
#include "services/services.h"

/* clang-format off */
const char *const CompileErrorText[COMPILE_ERROR_COUNT] = {
    "",
    /*  1 */ "formula is empty",
    /*  2 */ "unrecognized syntax element",
    /*  3 */ "incomplete syntax",
    /*  4 */ "unexpected comma",
    /*  5 */ "unexpected operator",
    /*  6 */ "expected an operator here",
    /*  7 */ "syntax structure error",
    /*  8 */ "item does not support offsets",
    /*  9 */ "file path is too long",
    /* 10 */ "literal string is too long",
    /* 11 */ "item name is too long",
    /* 12 */ "item name is missing",
    /* 13 */ "strategy name is missing",
    /* 14 */ "names must begin with a letter or underscore and may contain only letters, digits, periods and underscores",
    /* 15 */ "unrecognized quantity type",
    /* 16 */ "unrecognized bar size",
    /* 17 */ "strategy bar size cannot be smaller than test bar size",
    /* 18 */ "test bar size must be daily when strategies have mixed bar sizes",
    /* 19 */ "unrecognized strategy name",
    /* 20 */ "'Using' cannot include StatsGroup names",
    /* 21 */ "StatsGroup 'Using' cannot include Template names",
    /* 22 */ "expected ( here",
    /* 23 */ "wrong number of arguments",
    /* 24 */ "too many arguments",
    /* 25 */ "Extern(item, expression) requires that item be a $symbol or @strategy or ~barsize or &relsym reference",
    /* 26 */ "unrecognized symbol",
    /* 27 */ "unrecognized strategy",
    /* 28 */ "unbalanced parentheses",
    /* 29 */ "breadth formulas must start with a breadth function and contain no other breadth functions",
    /* 30 */ "default scripts for Results, Graphs, Trades and Charts should only define their own section",
    /* 31 */ "this item is not available in this script section",
    /* 32 */ "items within this section must be defined before they are referenced",
    /* 33 */ "items within this section cannot refer to themselves",
    /* 34 */ "this strategy element is not supported in Combined",
    /* 35 */ "this strategy element is not supported in StatsGroup",
    /* 36 */ "unrecognized strategy element name",
    /* 37 */ "data file names must end with '.kvd'",
    /* 38 */ "results file names must end with '.kvr'",
    /* 39 */ "unrecognized setting name",
    /* 40 */ "unrecognized setting value",
    /* 41 */ "expected 'True' or 'False' here",
    /* 42 */ "invalid date format",
    /* 43 */ "unrecognized date format",
    /* 44 */ "unrecognized number format",
    /* 45 */ "unrecognized delimiter type",
    /* 46 */ "unrecognized import definition item",
    /* 47 */ "only one exclude filter is allowed in an import definition",
    /* 48 */ "unrecognized import data source name",
    /* 49 */ "unrecognized import adjustment type",
    /* 50 */ "unrecognized import padding type",
    /* 51 */ "unrecognized constituency index symbol",
    /* 52 */ "unrecognized Norgate fundamental item name",
    /* 53 */ "unrecognized Norgate classification scheme name",
    /* 54 */ "unrecognized industry index name",
    /* 55 */ "unrecognized industry index level",
    /* 56 */ "unrecognized import CSV field name",
    /* 57 */ "duplicate import CSV field",
    /* 58 */ "this import element requires a local-CSV data source\n(CSV, CSIFutures, CSIStocks)",
    /* 59 */ "this import element requires a local-file data source\n(CSV, CSIFutures, CSIStocks, MetaStock)",
    /* 60 */ "this import element is not supported for local-file data sources\n(CSV, CSIFutures, CSIStocks, MetaStock)",
    /* 61 */ "this import element requires Norgate data source",
    /* 62 */ "data source must be specified before any other import elements",
    /* 63 */ "this section must only appear once in a script and the scripts it includes",
    /* 64 */ "duplicate or reserved strategy name",
    /* 65 */ "duplicate strategy element",
    /* 66 */ "this strategy element cannot be used in Benchmark",
    /* 67 */ "'Using' list has too many items",
    /* 68 */ "unrecognized strategy side",
    /* 69 */ "unrecognized entry or exit time",
    /* 70 */ "unrecognized exit limit or stop type",
    /* 71 */ "imported trade list had errors -- see log window for details",
    /* 72 */ "unrecognized imported trade list field name",
    /* 73 */ "duplicate imported trade list field",
    /* 74 */ "CashInOut or FeesInOut CSV file not found or contents not valid\n(expecting date,amount in each row)",
    /* 75 */ "reserved syntax elements cannot be used as item names",
    /* 76 */ "this name was already used in this section\n(AllowSameName: True enables item replacement)",
    /* 77 */ "this name was already used for a Data item",
    /* 78 */ "this name was already used for a TestData item",
    /* 79 */ "this name was already used for a StratData item",
    /* 80 */ "this name was already used for a Library item",
    /* 81 */ "this name was already used for a Parameters item",
    /* 82 */ "parameter value definition syntax error",
    /* 83 */ "parameter loops can't have both step and mult",
    /* 84 */ "parameter loops must be ascending",
    /* 85 */ "parameter value list has more than two million items",
    /* 86 */ "walkforward value list syntax error",
    /* 87 */ "walkforward value list count doesn't match date list count",
    /* 88 */ "walkforward value name not found in parameter list",
    /* 89 */ "this index constituency data series was not included in the current data file",
    /* 90 */ "#OnePerSym cannot be used if the formula has bar references",
    /* 91 */ "#OnePerDate and #OnePerSym cannot be used in a breadth formula",
    /* 92 */ "#PercentRankN must be followed by a number in parentheses",
    /* 93 */ "unrecognized item name in Sort definition",
    /* 94 */ "unrecognized Tracker setting",
    /* 95 */ "the DllDataCalc function must be the only thing in a Data formula",
    /* 96 */ PLUGIN_FILE_NAME PLAT_LIBRARY_SUFFIX " could not be loaded or has no DllDataCalc function",
    /* 97 */ "nested too deeply, at most 256",
};
static_assert(MAX_FORMULA_NESTING == 256, "the message of error 97 names the limit");
/* clang-format on */

FormulaErrorSelection gLastFormulaError;

namespace {

bool EndsSubExpression(const FormulaNode *node, uint32_t terminator)
{
    if (terminator == TERMINATOR_COMMA_OR_CLOSE) return node->item == ITEM_COMMA || node->item == ITEM_CLOSE_PAREN;
    return node->item == terminator;
}

/* Items whose values exist per bar, so that "[n]" can reach an earlier one;
** "(" stands for a bracketed expression. */
bool AcceptsBarOffset(uint32_t category)
{
    switch (category) {
    case CAT_ARGUMENT:
    case CAT_OPEN:
    case CAT_BAR_VALUE:
    case CAT_BAR_DATE:
    case CAT_INDICATOR:
    case CAT_MULTI_BAR:
    case CAT_FUNCTION:
    case CAT_POSITION_INFO:
    case CAT_STRATEGY_STAT:
    case CAT_TRADE_VALUE:
    case CAT_TRADE_STAT:
        return true;
    default:
        return false;
    }
}

int Fail(FormulaNode **pNode, FormulaNode *at, int code)
{
    *pNode = at;
    return code;
}

/* A function's argument list from the "(" after it; on success *pLast is its ")". */
int CheckArguments(FormulaNode *function, FormulaNode **pLast)
{
    FormulaNode *open = function + 1;
    if (open->item != ITEM_OPEN_PAREN) return Fail(pLast, open->item ? open : function, ERR_EXPECTED_PAREN);
    int32_t minimum = function->argCount;
    int32_t maximum = function->maxArgs;
    FormulaNode *cur = open + 1;
    if (maximum == minimum) {
        if (minimum == 0) {
            if (cur->item != ITEM_CLOSE_PAREN) return Fail(pLast, cur, ERR_ARGUMENT_COUNT);
            *pLast = cur;
            return ERR_NONE;
        }
        for (int32_t k = 0; k < minimum; k++) {
            FormulaNode *p = cur;
            uint32_t terminator = k + 1 < minimum ? ITEM_COMMA : ITEM_CLOSE_PAREN;
            /* An empty argument would leave the evaluator a link to a "," or ")". */
            if (cur->item == ITEM_COMMA || cur->item == ITEM_CLOSE_PAREN) return Fail(pLast, cur, ERR_ARGUMENT_COUNT);
            int code = CheckFormulaSyntax(&p, terminator, function);
            if (code) return Fail(pLast, p, code);
            cur = p + 1;
        }
        *pLast = cur - 1;
        return ERR_NONE;
    }
    int32_t count = 0;
    while (cur->item != ITEM_CLOSE_PAREN) {
        if (cur->item == ITEM_END) return Fail(pLast, cur - 1, ERR_INCOMPLETE);
        FormulaNode *p = cur;
        uint32_t terminator = count < minimum - 1 ? (uint32_t)ITEM_COMMA : (uint32_t)TERMINATOR_COMMA_OR_CLOSE;
        int code = CheckFormulaSyntax(&p, terminator, function);
        if (code) return Fail(pLast, p, code);
        if (++count > maximum) return Fail(pLast, cur, ERR_TOO_MANY_ARGUMENTS);
        if (p == cur || (p->item == ITEM_COMMA && (p + 1)->item == ITEM_CLOSE_PAREN))
            return Fail(pLast, p == cur ? cur : p + 1, ERR_ARGUMENT_COUNT);
        cur = p->item == ITEM_COMMA ? p + 1 : p;
    }
    *pLast = cur;
    return ERR_NONE;
}

/* How deep the check has descended; the compiler runs on the UI thread only. */
int32_t sNesting;

struct NestingLevel {
    NestingLevel() { sNesting++; }
    ~NestingLevel() { sNesting--; }
};

} // namespace

int CheckFormulaSyntax(FormulaNode **pNode, uint32_t terminator, FormulaNode *function)
{
    NestingLevel level;
    FormulaNode *start = *pNode;
    if (EndsSubExpression(start, terminator)) return ERR_NONE;
    if (sNesting - 1 > MAX_FORMULA_NESTING) return Fail(pNode, start, ERR_NESTED_TOO_DEEPLY); /* 1: the formula itself */
    if (start->item == ITEM_END) return Fail(pNode, start - 1, ERR_INCOMPLETE);

    FormulaNode *n = start;
    for (;;) {
        if (n->item == ITEM_COMMA) {
            if (terminator == TERMINATOR_COMMA_OR_CLOSE) return Fail(pNode, n, ERR_NONE);
            return Fail(pNode, n, function ? ERR_ARGUMENT_COUNT : ERR_UNEXPECTED_COMMA);
        }
        if (n->item == ITEM_CLOSE_PAREN) {
            if (terminator == TERMINATOR_COMMA_OR_CLOSE) return Fail(pNode, n, ERR_NONE);
            return Fail(pNode, n, function ? ERR_ARGUMENT_COUNT : ERR_UNBALANCED);
        }
        bool afterOperator = n != start && (n - 1)->category == CAT_OPERATOR;
        FormulaNode *last = n;
        if (n->category == CAT_OPERATOR) {
            if (n == start || afterOperator) return Fail(pNode, n, ERR_UNEXPECTED_OPERATOR);
        } else {
            if (n != start && !afterOperator) return Fail(pNode, n, ERR_EXPECTED_OPERATOR);
            if (n->item == ITEM_OPEN_BRACKET) {
                /* a "[" only ever follows a term as its bar offset; where an
                ** operand should stand it would let "[1)" pass as a bracket
                ** group that the evaluator never computes */
                return Fail(pNode, n, ERR_STRUCTURE);
            }
            if (n->category == CAT_OPEN) {
                FormulaNode *p = n + 1;
                int code = CheckFormulaSyntax(&p, ITEM_CLOSE_PAREN, nullptr);
                if (code) return Fail(pNode, p, code);
                last = p;
            } else if (IsFunctionCategory(n->category)) {
                int code = CheckArguments(n, &last);
                if (code) return Fail(pNode, last, code);
            }
            if ((last + 1)->item == ITEM_OPEN_BRACKET) {
                if (!AcceptsBarOffset(n->category)) return Fail(pNode, n, ERR_NO_OFFSETS);
                n->barsBackLink = (uint32_t)(last + 2 - n);
                FormulaNode *p = last + 2;
                int code = CheckFormulaSyntax(&p, ITEM_CLOSE_BRACKET, nullptr);
                if (code) return Fail(pNode, p, code);
                last = p;
            }
            n->width = (uint32_t)(last - n);
        }
        FormulaNode *next = last + 1;
        if (EndsSubExpression(next, terminator)) {
            if (next == start + 1 && (start->category == CAT_CONSTANT || start->category == CAT_TEXT)) {
                start->constantFlag = 1;
                start->evaluated = 1;
                if (start->unary == UNARY_NEGATE)
                    start->value = -start->constant;
                else if (start->unary == UNARY_NOT)
                    start->value = start->constant == 0 ? 1.0 : 0.0;
                else
                    start->value = start->constant;
            }
            if ((next - 1)->category == CAT_OPERATOR) return Fail(pNode, next - 1, ERR_STRUCTURE);
            return Fail(pNode, next, ERR_NONE);
        }
        if (next->item == ITEM_END) return Fail(pNode, next - 1, ERR_INCOMPLETE);
        n = next;
    }
}

/* "\r\nat line %d, column %d: %s" of the span at offset in text (its first
** line, at most 80 bytes of whole letters), or "" when there is no text to
** look at.  The column counts letters, as the script's author sees them,
** whatever their size in UTF-8.  With a file, "of <file>" follows the
** column: the line is counted in that file. */
static void DescribeErrorPlace(const char *text, int32_t offset, int32_t length, const char *file, char *out,
                               size_t size)
{
    out[0] = 0;
    if (!text || offset < 0) return;
    int line = 1;
    int32_t lineStart = 0;
    for (int32_t i = 0; i < offset && text[i]; i++) {
        /* CR, LF and CRLF each end a line. */
        if (text[i] == '\n' || (text[i] == '\r' && text[i + 1] != '\n')) {
            line++;
            lineStart = i + 1;
        }
    }
    const char *span = text + offset;
    int n = 0;
    while (n < length && span[n] && span[n] != '\r' && span[n] != '\n') n++;
    n = (int)Utf8CutLength(span, (size_t)(n < 80 ? n : 80));
    const int column = (int)TextLetters(text + lineStart, (size_t)(offset - lineStart)) + 1;
    if (file)
        FormatText(out, size, "\r\nat line %d, column %d of %s: %.*s", line, column, file, n, span);
    else
        FormatText(out, size, "\r\nat line %d, column %d: %.*s", line, column, n, span);
}

void ShowFormulaError(int code, const FormulaSlot *slot, int32_t offset, int32_t length, const char *path,
                      const char *scriptText, const char *detail)
{
    /* The script's own text is at hand through the slot, or given by the
    ** parser. */
    const char *text = slot ? slot->scriptText : scriptText;
    if (offset >= 0 && path && path[0]) {
        /* Trailing white space is left out of a formula's span so the
        ** selection ends on the bad text. */
        if (slot && text) {
            while (length > 1) {
                char c = text[offset + length - 1];
                if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
                length--;
            }
        }
        CopyString(gLastFormulaError.path, sizeof gLastFormulaError.path, path, -1);
        gLastFormulaError.offset = offset;
        gLastFormulaError.length = length;
        gLastFormulaError.code = code;
        gLastFormulaError.requests++;
        ShowScriptSpan(path, offset, length);
    }
    if (code <= 0 || code >= COMPILE_ERROR_COUNT) return;
    const char *message = CompileErrorText[code];
    char detailed[1024];
    if (detail && detail[0]) {
        FormatText(detailed, sizeof detailed, "%s\r\n\r\n%s", message, detail);
        message = detailed;
    }
    /* Without an editor to select the span, the message says where it is. */
    char place[512] = "";
    if (gRun.unattended) {
        /* The error log heads the message with the script being run; a span
        ** in a file it includes is placed in that file by name, or its line
        ** would be read in the wrong one. */
        const char *heading = gRunningScript[0] ? gRunningScript : gSettings.ActiveScript;
        const char *file = path && path[0] && ComparePaths(path, heading) != 0 ? path : nullptr;
        DescribeErrorPlace(text, offset, length, file, place, sizeof place);
    }
    if (!slot)
        ReportError("Syntax Error:\r\n\r\n%s%s", message, place);
    else if (slot->strategyNumber == 0)
        ReportError("Error in %s formula:\r\n\r\n%s%s", slot->name, message, place);
    else
        ReportError("Error in %s %s formula:\r\n\r\n%s%s", CompiledStrategyName((int32_t)slot->strategyNumber),
                    slot->name, message, place);
}
