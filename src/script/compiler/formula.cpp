/* formula.cpp -- the formula tokenizer and compiler: text span to node array,
** with binding, the unary, modifier, function and reference passes. */
#include "script/compiler/formula.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/eval/item_table.h"

FormulaSlot gScratchFormula;
int32_t gScratchErrorCode;
int32_t gScratchErrorOffset;
int32_t gScratchErrorLength;

/* ---- character classes and small text helpers ------------------------------------ */

bool IsTokenDelimiter(char c)
{
    switch (c) {
    case 0:
    case '\t':
    case '\n':
    case '\r':
    case ' ':
    case '!':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case '-':
    case '/':
    case ':':
    case '<':
    case '=':
    case '>':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '{':
    case '}':
        return true;
    default:
        return false;
    }
}

bool IsNameDelimiter(char c)
{
    return c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '(' || c == ')' || c == ',';
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
static bool IsLetter(char c) { return isalpha((unsigned char)c) != 0; }
static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int ReadNumberPrefix(const char *text, double *value)
{
    const char *p = text;
    if (*p == '+' || *p == '-') p++;
    if (CompareNoCaseN(p, "nan", 3) == 0) {
        *value = NAN;
        return (int)(p + 3 - text);
    }
    const char *digits = p;
    while (IsDigit(*p)) p++;
    bool any = p > digits;
    if (*p == '.') {
        p++;
        const char *fraction = p;
        while (IsDigit(*p)) p++;
        any = any || p > fraction;
    }
    if (!any) return 0;
    if (*p == 'e' || *p == 'E') {
        const char *e = p + 1;
        if (*e == '+' || *e == '-') e++;
        if (IsDigit(*e)) {
            while (IsDigit(*e)) e++;
            p = e;
        }
    }
    char buffer[128];
    int n = (int)(p - text);
    if (n >= (int)sizeof buffer) {
        /* a very long digit run: strtod reads it from the text itself */
        *value = strtod(text, nullptr);
        return n;
    }
    memcpy(buffer, text, (size_t)n);
    buffer[n] = 0;
    *value = strtod(buffer, nullptr);
    return n;
}

int IsNumberText(const char *text, int allowNegative, int wholeText)
{
    if (text[0] == '+' || CompareNoCaseN(text, "inf", 3) == 0) return 0;
    if (CompareNoCaseN(text, "nan", 3) == 0) return IsTokenDelimiter(text[3]) ? 1 : 0;
    double value = 0;
    int n = ReadNumberPrefix(text, &value);
    if (n == 0) return 0;
    if (value < 0 && !allowNegative) return 0;
    if (wholeText && text[n] != 0) return 0;
    return 1;
}

int IsValidName(const char *text, int n)
{
    bool letter = false;
    for (int i = 0; i < n; i++) {
        char c = text[i];
        if (IsLetter(c))
            letter = true;
        else if (IsDigit(c)) {
            if (i == 0) return 0;
        } else if (c != '.' && c != '_')
            return 0;
    }
    return letter ? 1 : 0;
}

int SkipComment(const char **pText, CompilerState *state)
{
    const char *p = *pText;
    if (*p == '#' && HandlePreprocessorDirective(pText, state)) return 1;
    if (p[0] == '/' && p[1] == '/') {
        while (p[1] && p[1] != '\n') p++;
        *pText = p;
        return 1;
    }
    if (p[0] == '/' && p[1] == '*') {
        p += 2;
        while (*p && !(p[0] == '*' && p[1] == '/')) p++;
        if (*p)
            p++; /* the "/" of the closing mark */
        else
            p--; /* no end: the text's last character */
        *pText = p;
        return 1;
    }
    if (p[0] == '{') {
        while (p[1] && p[1] != '}') p++;
        if (p[1]) p++;
        *pText = p;
        return 1;
    }
    return 0;
}

int ReadNameToken(char *out, int outSize, const char *text, int length)
{
    const char *p = text;
    const char *end = length < 0 ? nullptr : text + length;
    auto inside = [&]() { return (end ? p < end : true) && *p; };
    while (inside() && IsBlank(*p)) p++;
    int n = 0;
    while (inside()) {
        char c = *p;
        if ((c == '/' && (p[1] == '/' || p[1] == '*')) || c == '{') break;
        if (length < 0 && IsTokenDelimiter(c)) break;
        p++;
        if (IsBlank(c)) continue;
        if (n >= outSize - 2) {
            out[n] = 0;
            return ERR_NAME_TOO_LONG;
        }
        out[n++] = c;
    }
    out[n] = 0;
    if (!IsValidName(out, n)) return ERR_BAD_NAME;
    return 0;
}

void MakeIdentifier(char *text)
{
    for (char *p = text; *p; p++) {
        if (IsBlank(*p) || *p == '(' || *p == ')' || *p == ',') *p = '_';
    }
    for (;;) {
        char *pair = strstr(text, "__");
        if (!pair) break;
        memmove(pair, pair + 1, strlen(pair + 1) + 1);
    }
}

int HasFileExtension(const char *path, const char *extension)
{
    const char *dot = strrchr(path, '.');
    if (!dot) return 0;
    return CompareNoCase(dot + 1, extension) == 0 ? 1 : 0;
}

/* ---- node arrays ----------------------------------------------------------------- */

int EnsureNodeCapacity(FormulaSlot *slot, int32_t n)
{
    if (slot->capacity >= n) return 1;
    if (gOutOfMemory.load()) return 0;
    uint64_t bytes = (uint64_t)n * sizeof(FormulaNode);
    for (int k = 0; k < FORMULA_WORKER_COPIES; k++) {
        if (!ReallocMemory(&slot->nodes[k], bytes)) {
            /* arrays grown so far keep their larger size; the capacity stays
            ** the one every array has */
            return 0;
        }
    }
    slot->capacity = n;
    return 1;
}

void ClearFormulaNodes(FormulaSlot *slot)
{
    for (int k = 0; k < FORMULA_WORKER_COPIES; k++) {
        if (slot->nodes[k]) memset(slot->nodes[k], 0, (size_t)slot->capacity * sizeof(FormulaNode));
    }
    slot->count = 0;
}

void FreeFormulaNodes(FormulaSlot *slot)
{
    for (int k = 0; k < FORMULA_WORKER_COPIES; k++) FreeMemory(&slot->nodes[k]);
    slot->capacity = 0;
    slot->count = 0;
}

void RemoveFormulaNodes(FormulaNode *node, int32_t n)
{
    FormulaNode *end = node;
    while (end->item != ITEM_END) end++;
    if (end < node + n) {
        /* removing past the end node: the end node moves to this place */
        *node = *end;
        return;
    }
    memmove(node, node + n, (size_t)(end - node - n + 1) * sizeof(FormulaNode));
}

namespace {

/* Every formula token goes through FindScriptItem, so the table's words are
** indexed once: folded name or alias -> the first row that has it, which is
** exactly what a scan from row 0 would find. */
struct ItemIndex {
    enum { SLOTS = 2048 };
    uint16_t rows[SLOTS]; /* row + 1; 0 empty */

    static uint32_t Hash(const char *word)
    {
        uint32_t h = 2166136261u;
        for (const char *p = word; *p; p++) h = (h ^ (uint8_t)tolower((unsigned char)*p)) * 16777619u;
        return h;
    }
    void Add(const char *word, uint32_t row)
    {
        if (!word[0]) return;
        for (uint32_t i = Hash(word) & (SLOTS - 1);; i = (i + 1) & (SLOTS - 1)) {
            if (rows[i] == 0) {
                rows[i] = (uint16_t)(row + 1);
                return;
            }
            const ScriptItem &item = gScriptItems[rows[i] - 1];
            if (CompareNoCase(item.name, word) == 0 || CompareNoCase(item.alias, word) == 0) return;
        }
    }
    uint32_t Find(const char *word) const
    {
        for (uint32_t i = Hash(word) & (SLOTS - 1); rows[i]; i = (i + 1) & (SLOTS - 1)) {
            const ScriptItem &item = gScriptItems[rows[i] - 1];
            if (CompareNoCase(item.name, word) == 0 || CompareNoCase(item.alias, word) == 0) return rows[i] - 1;
        }
        return 0;
    }
};

const ItemIndex &GetItemIndex()
{
    static const ItemIndex index = [] {
        ItemIndex built = {};
        for (uint32_t row = 0; row < SCRIPT_ITEM_COUNT; row++) {
            built.Add(gScriptItems[row].name, row);
            built.Add(gScriptItems[row].alias, row);
        }
        return built;
    }();
    return index;
}

} // namespace

uint32_t FindScriptItem(const char *name, FormulaNode *node)
{
    if (!name[0]) return 0;
    uint32_t row = GetItemIndex().Find(name);
    if (row && node) {
        const ScriptItem &item = gScriptItems[row];
        node->item = row;
        node->category = item.category;
        node->argCount = (int32_t)item.minimum;
        node->maxArgs = (int32_t)item.maximum;
    }
    return row;
}

/* ---- the compiler ---------------------------------------------------------------- */

namespace {

constexpr uint32_t Bit(uint32_t section) { return 1u << section; }

constexpr uint32_t kStrategySections =
    Bit(SECTION_TEMPLATE) | Bit(SECTION_BENCHMARK) | Bit(SECTION_STRATEGY) | Bit(SECTION_STATS_GROUP) |
    Bit(SECTION_COMBINED);
/* The section sets that decide where a kind of item may be used. */
constexpr uint32_t kSetA = Bit(0) | Bit(SECTION_GRAPHS) | Bit(SECTION_CHARTS) | Bit(SECTION_TRADES) |
    Bit(SECTION_DATA) | Bit(SECTION_SCAN) | Bit(SECTION_IMPORT) | kStrategySections |
    Bit(SECTION_LIBRARY) | Bit(SECTION_TEST_SCAN) | Bit(SECTION_TEST_DATA) |
    Bit(SECTION_STRAT_DATA);
constexpr uint32_t kSetB = Bit(0) | Bit(SECTION_RESULTS) | Bit(SECTION_GRAPHS) | Bit(SECTION_CHARTS) |
    Bit(SECTION_TRADES) | kStrategySections | Bit(SECTION_LIBRARY) | Bit(SECTION_TEST_SCAN) |
    Bit(SECTION_TEST_DATA) | Bit(SECTION_STRAT_DATA);
constexpr uint32_t kSetC = Bit(0) | Bit(SECTION_CHARTS) | kStrategySections | Bit(SECTION_LIBRARY) |
    Bit(SECTION_TEST_SCAN) | Bit(SECTION_TEST_DATA) | Bit(SECTION_STRAT_DATA);
constexpr uint32_t kSetD = Bit(0) | Bit(SECTION_RESULTS) | Bit(SECTION_GRAPHS) | Bit(SECTION_CHARTS) |
    kStrategySections | Bit(SECTION_LIBRARY) | Bit(SECTION_TEST_SCAN) |
    Bit(SECTION_TEST_DATA) | Bit(SECTION_STRAT_DATA);
constexpr uint32_t kBreadthSections = Bit(SECTION_DATA) | Bit(SECTION_TEST_DATA) | Bit(SECTION_STRAT_DATA);

bool InSet(uint32_t set, uint32_t section) { return section < 32 && (set >> section) & 1; }

/* Where a name found among the definitions may be used (order rules aside). */
constexpr uint32_t kDataVisible = Bit(0) | kStrategySections | Bit(SECTION_GRAPHS) | Bit(SECTION_CHARTS) |
    Bit(SECTION_TRADES) | Bit(SECTION_SCAN) | Bit(SECTION_LIBRARY) |
    Bit(SECTION_TEST_SCAN) | Bit(SECTION_TEST_DATA) | Bit(SECTION_STRAT_DATA);
constexpr uint32_t kTestDataVisible = Bit(0) | kStrategySections | Bit(SECTION_RESULTS) | Bit(SECTION_GRAPHS) |
    Bit(SECTION_CHARTS) | Bit(SECTION_TRADES) | Bit(SECTION_LIBRARY) |
    Bit(SECTION_TEST_SCAN) | Bit(SECTION_TEST_DATA) | Bit(SECTION_STRAT_DATA);

struct CompileRun {
    FormulaSlot *slot;
    uint32_t section;
    int32_t definitionIndex;
    FormulaToken *tokens; /* tracked block */
    int32_t tokenCount;
    int32_t tokenCapacity;
    int errorCode;
    int32_t errorOffset;
    int32_t errorLength;
};

int SetError(CompileRun &run, int code, int32_t offset, int32_t length)
{
    run.errorCode = code;
    run.errorOffset = offset;
    run.errorLength = length;
    return 0;
}

int NodeError(CompileRun &run, int code, const FormulaNode *node)
{
    return SetError(run, code, (int32_t)node->textOffset, (int32_t)node->textLength);
}

/* Adds a token; 0 when the token array cannot grow (no message). */
FormulaToken *AddToken(CompileRun &run, uint32_t kind, uint32_t offset, uint32_t length)
{
    if (run.tokenCount == run.tokenCapacity) {
        int32_t grown = run.tokenCapacity + 32;
        if (!ReallocMemory(&run.tokens, (uint64_t)grown * sizeof(FormulaToken))) return nullptr;
        run.tokenCapacity = grown;
    }
    FormulaToken *token = &run.tokens[run.tokenCount++];
    memset(token, 0, sizeof *token);
    token->kind = kind;
    token->offset = offset;
    token->length = length;
    return token;
}

bool IsNameStart(char c) { return IsLetter(c) || c == '.' || c == '#' || c == '?' || c == '_'; }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '.' || c == '_'; }

/* A number token at p by the tokenizer's rule (a leading sign never starts a
** number here, so "x -0" reads as an operator and a number).  The number is
** read from a copy that ends with the formula, so digits of the script text
** after the formula's span never join it. */
int NumberAt(const char *p, const char *end, bool allowNegative, double *value)
{
    char copy[128];
    int n = (int)(end - p) < (int)sizeof copy - 1 ? (int)(end - p) : (int)sizeof copy - 1;
    memcpy(copy, p, (size_t)n);
    copy[n] = 0;
    if (copy[0] == '+' || CompareNoCaseN(copy, "inf", 3) == 0) return 0;
    if (copy[0] == '-' && !allowNegative) return 0;
    const char *q = copy[0] == '-' ? copy + 1 : copy;
    if (CompareNoCaseN(q, "nan", 3) == 0) {
        if (!IsTokenDelimiter(q[3])) return 0;
        *value = NAN;
        return (int)(q + 3 - copy);
    }
    return ReadNumberPrefix(copy, value);
}

int Tokenize(CompileRun &run)
{
    const char *text = run.slot->scriptText;
    const char *p = text + run.slot->start;
    const char *end = p + run.slot->length;
    while (p < end && *p) {
        char c = *p;
        if (IsBlank(c)) {
            p++;
            continue;
        }
        const char *skip = p;
        if (c == '#' && HandlePreprocessorDirective(&skip, nullptr)) {
            p = skip; /* reading goes on where the directive ended */
            continue;
        }
        if (SkipComment(&skip, nullptr)) {
            p = *skip ? skip + 1 : skip; /* past the comment's last character */
            continue;
        }
        uint32_t offset = (uint32_t)(p - text);
        double value = 0;
        int n;
        if ((n = NumberAt(p, end, false, &value)) > 0) {
            FormulaToken *t = AddToken(run, TOKEN_NUMBER, offset, (uint32_t)n);
            if (!t) return 0;
            t->value = value;
            p += n;
            continue;
        }
        if (c == '&') {
            const char *q = p + 1;
            int m = NumberAt(q, end, true, &value);
            if (m == 0) {
                auto code = [&](const char *word) {
                    size_t k = strlen(word);
                    return q + k <= end && CompareNoCaseN(q, word, k) == 0 && IsTokenDelimiter(q + k < end ? q[k] : 0);
                };
                if (code("ccb"))
                    m = 3, value = RELATIVE_CCB;
                else if (code("cii"))
                    m = 3, value = RELATIVE_CII;
                else if (code("cc"))
                    m = 2, value = RELATIVE_CC;
            }
            if (m > 0) {
                FormulaToken *t = AddToken(run, TOKEN_RELATIVE, offset, (uint32_t)(m + 1));
                if (!t) return 0;
                t->value = value;
                p = q + m;
                continue;
            }
        }
        if (c == '"' || c == '\'') {
            const char *q = p + 1;
            while (q < end && *q && *q != c) q++;
            int content = (int)(q - p - 1);
            if (content > FORMULA_TEXT_SIZE - 2)
                return SetError(run, ERR_LITERAL_TOO_LONG, (int32_t)offset + 1, content);
            FormulaToken *t = AddToken(run, TOKEN_QUOTED, offset + 1, (uint32_t)content);
            if (!t) return 0;
            memcpy(t->text, p + 1, (size_t)content);
            t->text[content] = 0;
            p = q < end && *q == c ? q + 1 : q;
            continue;
        }
        if (c == '$' || c == '@' || c == '~') {
            const char *q = p + 1;
            while (q < end && !(c == '$' ? IsNameDelimiter(*q) : IsTokenDelimiter(*q))) q++;
            int len = (int)(q - p - 1);
            if (len > FORMULA_TEXT_SIZE - 2) return SetError(run, ERR_NAME_TOO_LONG, (int32_t)offset + 1, len);
            FormulaToken *t = AddToken(run, TOKEN_REFERENCE, offset + 1, (uint32_t)len);
            if (!t) return 0;
            memcpy(t->text, p + 1, (size_t)len);
            t->text[len] = 0;
            p = q;
            continue;
        }
        if (IsNameStart(c)) {
            const char *q = p + 1;
            while (q < end && IsNameChar(*q)) q++;
            int len = (int)(q - p);
            if (len > FORMULA_TEXT_SIZE - 1) return SetError(run, ERR_NAME_TOO_LONG, (int32_t)offset, len);
            FormulaToken *t = AddToken(run, TOKEN_NAME, offset, (uint32_t)len);
            if (!t) return 0;
            memcpy(t->text, p, (size_t)len);
            t->text[len] = 0;
            p = q;
            continue;
        }
        /* Anything else is a token of one letter (a UTF-8 letter whole, so an
        ** error names it and places it as written), or an operator pair. */
        int len = (unsigned char)c < 0x80 ? 1 : (int)PlatUtf8SequenceLength((const unsigned char *)p, (size_t)(end - p));
        if (len == 0) len = 1;
        if ((unsigned char)c >= 33 && (unsigned char)c <= 124 && p + 1 < end) {
            static const char *const kPairs[] = {"!=", "==", ">=", "<=", "<>", "&&", "||"};
            for (const char *pair : kPairs) {
                if (p[0] == pair[0] && p[1] == pair[1]) len = 2;
            }
        }
        FormulaToken *t = AddToken(run, TOKEN_NAME, offset, (uint32_t)len);
        if (!t) return 0;
        memcpy(t->text, p, (size_t)len);
        t->text[len] = 0;
        p += len;
    }
    return 1;
}

/* The order rule for a reference from definition i to definition j of the
** same section. */
int CheckOrder(CompileRun &run, uint32_t j)
{
    uint32_t s = run.section;
    int64_t i = run.definitionIndex;
    if ((int64_t)j > i && s != SECTION_TEST_DATA && s != SECTION_STRAT_DATA && s != SECTION_LIBRARY)
        return ERR_DEFINED_LATER;
    if ((int64_t)j == i && s != SECTION_DATA && s != SECTION_TEST_DATA && s != SECTION_STRAT_DATA)
        return ERR_SELF_REFERENCE;
    run.slot->sameSectionRef = 1;
    return ERR_NONE;
}

int CheckVisibility(CompileRun &run, uint32_t found, const FormulaNode *node)
{
    uint32_t s = run.section;
    if (s == SECTION_IMPORT) return ERR_NOT_IN_SECTION;
    if (found == s) return CheckOrder(run, node->index);
    switch (found) {
    case SECTION_DATA:
        if (!InSet(kDataVisible, s)) return ERR_NOT_IN_SECTION;
        if (s == SECTION_CHARTS) gChartsUseDataItems = 1;
        if (s == SECTION_GRAPHS) gGraphsUseDataItems = 1;
        return ERR_NONE;
    case SECTION_LIBRARY:
        return s == SECTION_RESULTS ? ERR_NOT_IN_SECTION : ERR_NONE;
    case SECTION_TEST_DATA:
    case SECTION_STRAT_DATA:
        return InSet(kTestDataVisible, s) ? ERR_NONE : ERR_NOT_IN_SECTION;
    default:
        return ERR_NOT_IN_SECTION; /* a column seen from another section */
    }
}

/* Binds a name or operator token; the node has its span already. */
int BindName(CompileRun &run, const FormulaToken &token, const FormulaToken *next, FormulaNode *node)
{
    uint32_t s = run.section;
    FormulaSlot *slot = run.slot;
    uint32_t row = FindScriptItem(token.text, node);
    if (row) {
        uint32_t category = node->category;
        bool allowed = true;
        if (category == CAT_BAR_VALUE || category == CAT_BAR_DATE || category == CAT_INDICATOR ||
            category == CAT_SYMBOL_INFO)
            allowed = InSet(kSetA, s);
        else if (category == CAT_POSITION_INFO || category == CAT_SUM)
            allowed = InSet(kSetC, s);
        else if (category == CAT_STRATEGY_INFO || category == CAT_STRATEGY_STAT)
            allowed = InSet(kSetB, s);
        else if (category == CAT_TRADE_STAT)
            allowed = InSet(kSetD, s);
        else if (category == CAT_BREADTH) {
            allowed = InSet(kBreadthSections, s);
            if (row == ITEM_CS_SLOW_CALC) allowed = s == SECTION_DATA;
        }
        if (row == ITEM_EXTERN && s == SECTION_IMPORT) allowed = false;
        if (!allowed) return ERR_NOT_IN_SECTION;
        if (row == ITEM_DLL_DATA_CALC) {
            if (s != SECTION_DATA) return ERR_NOT_IN_SECTION;
            if (!LoadDataCalcPlugin()) return ERR_DLL_NOT_LOADED;
        }
        if (row == ITEM_TRUE || row == ITEM_FALSE) {
            node->item = ITEM_NUMBER;
            node->category = CAT_CONSTANT;
            node->argCount = 0;
            node->maxArgs = 0;
            node->constant = row == ITEM_TRUE ? 1.0 : 0.0;
        }
        if (row == ITEM_PREV_EXIT_LIMIT || row == ITEM_PREV_EXIT_STOP) slot->usesPrevExits = 1;
        return ERR_NONE;
    }
    uint32_t found = FindScriptDefinition(token.text, node, s, slot->nameSpace);
    if (found) {
        int code = CheckVisibility(run, found, node);
        if (code) return code;
        if (node->item == ITEM_LIBRARY_REF && next && next->kind == TOKEN_NAME && strcmp(next->text, "(") == 0) {
            node->item = ITEM_LIBRARY_CALL;
            node->category = CAT_FUNCTION;
            node->argCount = (int32_t)gScriptItems[ITEM_LIBRARY_CALL].minimum;
            node->maxArgs = (int32_t)gScriptItems[ITEM_LIBRARY_CALL].maximum;
        }
        return ERR_NONE;
    }
    if (FindParameterName(token.text, nullptr, slot->nameSpace)) {
        if (s == SECTION_IMPORT) return ERR_NOT_IN_SECTION;
        FindParameterName(token.text, node, slot->nameSpace);
        return ERR_NONE;
    }
    if (ResolveArgName(token.text, nullptr)) {
        if (s != SECTION_LIBRARY) return ERR_NOT_IN_SECTION;
        ResolveArgName(token.text, node);
        return ERR_NONE;
    }
    if (ResolveNamedListItem(token.text, node) || ResolveFundamentalField(token.text, node)) return ERR_NONE;
    return ERR_UNRECOGNIZED;
}

int BindToken(CompileRun &run, int32_t i, FormulaNode *nodes)
{
    const FormulaToken &token = run.tokens[i];
    const FormulaToken *next = i + 1 < run.tokenCount ? &run.tokens[i + 1] : nullptr;
    FormulaNode *node = &nodes[i];
    FormulaSlot *slot = run.slot;
    uint32_t s = run.section;
    node->textOffset = token.offset;
    node->textLength = token.length;
    switch (token.kind) {
    case TOKEN_NUMBER:
        node->item = ITEM_NUMBER;
        node->category = CAT_CONSTANT;
        node->constant = token.value;
        return ERR_NONE;
    case TOKEN_RELATIVE:
        if (!InSet(kSetA, s)) return ERR_NOT_IN_SECTION;
        node->item = ITEM_RELATIVE_SYMBOL;
        node->category = CAT_CONSTANT;
        node->constant = token.value;
        return ERR_NONE;
    case TOKEN_QUOTED:
        node->item = ITEM_TEXT;
        node->category = CAT_TEXT;
        node->textFlag = 1;
        CopyString(node->text, sizeof node->text, token.text, -1);
        node->constant = (double)strlen(token.text);
        /* a list named inside a namespace is that namespace's list */
        if (i >= 2 && nodes[i - 2].item == ITEM_IN_LIST && slot->nameSpace[0] && !strchr(node->text, '.')) {
            char qualified[FORMULA_TEXT_SIZE];
            FormatText(qualified, sizeof qualified, "%s.%s", slot->nameSpace, token.text);
            CopyString(node->text, sizeof node->text, qualified, -1);
        }
        return ERR_NONE;
    case TOKEN_REFERENCE: {
        char prefix = slot->scriptText[token.offset - 1];
        if (prefix == '$') {
            if (!InSet(kSetA, s)) return ERR_NOT_IN_SECTION;
            node->item = ITEM_SYMBOL_REF;
            node->category = CAT_CONSTANT;
            CopyString(node->text, sizeof node->text, token.text, -1);
            node->constant = UNRESOLVED_REF;
            return ERR_NONE;
        }
        if (prefix == '@') {
            if (!InSet(kSetB, s)) return ERR_NOT_IN_SECTION;
            if (CompareNoCase(token.text, "tracker") == 0) {
                node->item = ITEM_TRACKER;
                node->category = CAT_STRATEGY_INFO;
                return ERR_NONE;
            }
            node->item = ITEM_STRATEGY_REF;
            node->category = CAT_CONSTANT;
            CopyString(node->text, sizeof node->text, token.text, -1);
            node->constant = UNRESOLVED_REF;
            return ERR_NONE;
        }
        if (!InSet(kSetA, s)) return ERR_NOT_IN_SECTION;
        static const char *const kBarSizes[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
        int size = FindKeyword(token.text, kBarSizes, 5);
        if (size < 0) return ERR_BAR_SIZE;
        node->item = ITEM_BAR_SIZE;
        node->category = CAT_CONSTANT;
        node->constant = size;
        return ERR_NONE;
    }
    default:
        return BindName(run, token, next, node);
    }
}

bool IsUnaryCandidate(const FormulaNode *node)
{
    return node->item == ITEM_PLUS || node->item == ITEM_MINUS || node->item == ITEM_NOT;
}

int UnaryPass(CompileRun &run, FormulaNode *nodes, int32_t &count)
{
    for (int32_t i = count - 1; i >= 0; i--) {
        FormulaNode *node = &nodes[i];
        if (!IsUnaryCandidate(node)) continue;
        bool unary = i == 0 || nodes[i - 1].category == CAT_OPERATOR || nodes[i - 1].category == CAT_OPEN ||
            nodes[i - 1].category == CAT_BREADTH;
        if (!unary) {
            if (node->item == ITEM_NOT) return NodeError(run, ERR_STRUCTURE, node);
            continue;
        }
        FormulaNode *operand = node + 1;
        if (operand->item == ITEM_END || operand->category == CAT_OPERATOR || operand->category == CAT_CLOSE)
            return NodeError(run, ERR_STRUCTURE, node);
        /* "-" and NOT each toggle their own operator; the other one is replaced */
        if (node->item == ITEM_MINUS)
            operand->unary = operand->unary == UNARY_NEGATE ? UNARY_NONE : UNARY_NEGATE;
        else if (node->item == ITEM_NOT)
            operand->unary = operand->unary == UNARY_NOT ? UNARY_NONE : UNARY_NOT;
        RemoveFormulaNodes(node, 1);
        count--;
    }
    return 1;
}

int ModifierPass(CompileRun &run, FormulaNode *nodes, int32_t &count)
{
    FormulaSlot *slot = run.slot;
    FormulaItem *item = run.definitionIndex >= 0 ? DefinitionItem(run.section, (uint32_t)run.definitionIndex) : nullptr;
    while (nodes[0].category == CAT_BREADTH) {
        FormulaNode *node = &nodes[0];
        uint32_t row = node->item;
        if (!InSet(kBreadthSections, run.section)) return NodeError(run, ERR_NOT_IN_SECTION, node);
        if (row >= ITEM_CS_BY_MKT && row <= ITEM_CS_BY_LIST_NUM) {
            slot->grouping = row;
        } else if (row == ITEM_CS_ONE_PER_DATE || row == ITEM_CS_ONE_PER_SYM) {
            if (slot->breadthFunction) return NodeError(run, ERR_ONE_PER_IN_BREADTH, node);
            if (item) (row == ITEM_CS_ONE_PER_DATE ? item->onePerDate : item->onePerSymbol) = 1;
        } else if (row == ITEM_CS_SLOW_CALC) {
            slot->slowCalc = 1;
        } else {
            if (item && (item->onePerDate || item->onePerSymbol)) return NodeError(run, ERR_ONE_PER_IN_BREADTH, node);
            slot->breadthFunction = row;
        }
        RemoveFormulaNodes(node, 1);
        count--;
        if (row == ITEM_CS_PERCENT_RANK_N) {
            if (count < 3 || nodes[0].item != ITEM_OPEN_PAREN || nodes[1].item != ITEM_NUMBER ||
                nodes[2].item != ITEM_CLOSE_PAREN) {
                const FormulaNode *blame = nodes[0].item != ITEM_END ? &nodes[0] : node;
                return NodeError(run, ERR_PERCENT_RANK_N, blame);
            }
            slot->percentRankN = nodes[1].unary == UNARY_NEGATE ? -nodes[1].constant : nodes[1].constant;
            RemoveFormulaNodes(&nodes[0], 3);
            count -= 3;
        }
    }
    return 1;
}

int FunctionPass(CompileRun &run, FormulaNode *nodes)
{
    for (FormulaNode *node = nodes; node->item != ITEM_END; node++) {
        if (node->category == CAT_OPERATOR) {
            node->precedence = gScriptItems[node->item].precedence;
            continue;
        }
        if (node->category == CAT_BREADTH) return NodeError(run, ERR_BREADTH, node);
        if (!IsFunctionCategory(node->category)) continue;
        FormulaNode *open = node + 1;
        if (open->item != ITEM_OPEN_PAREN) return NodeError(run, ERR_EXPECTED_PAREN, open->item ? open : node);
        int32_t args = 1;
        node->argLinks[0] = 2;
        int depth = 1;
        FormulaNode *p = open + 1;
        for (;; p++) {
            if (p->item == ITEM_END) return NodeError(run, ERR_UNBALANCED, node);
            if (p->item == ITEM_OPEN_PAREN)
                depth++;
            else if (p->item == ITEM_CLOSE_PAREN) {
                if (--depth == 0) break;
            } else if (p->item == ITEM_COMMA && depth == 1) {
                if (args >= FORMULA_MAX_ARGS) return NodeError(run, ERR_TOO_MANY_ARGUMENTS, p);
                node->argLinks[args++] = (uint32_t)(p + 1 - node);
            }
            if (node->category == CAT_MULTI_BAR && node->operandCategory == 0 &&
                (p->category == CAT_BAR_VALUE || p->category == CAT_STRATEGY_STAT || p->category == CAT_TRADE_VALUE))
                node->operandCategory = p->category;
        }
        if (p - 1 == open) args = 0;
        if (args < node->argCount || args > node->maxArgs) return NodeError(run, ERR_ARGUMENT_COUNT, node);
        node->argCount = args;
        if (node->item == ITEM_EXTERN) {
            const FormulaNode *first = node + 2;
            bool ok = first->item == ITEM_SYM_REF || first->item == ITEM_STRAT_REF || first->item == ITEM_TRACKER ||
                ((first->item == ITEM_SYMBOL_REF || first->item == ITEM_STRATEGY_REF ||
                  first->item == ITEM_RELATIVE_SYMBOL || first->item == ITEM_BAR_SIZE) &&
                 first->constantFlag);
            if (!ok) return NodeError(run, ERR_EXTERN_ITEM, node);
        }
        if (node->item == ITEM_DLL_DATA_CALC && (node != nodes || (p + 1)->item != ITEM_END))
            return NodeError(run, ERR_DLL_DATA_CALC_ALONE, node);
        if ((node->operandCategory == CAT_BAR_VALUE && !InSet(kSetA, run.section)) ||
            (node->operandCategory == CAT_STRATEGY_STAT && !InSet(kSetB, run.section)))
            return NodeError(run, ERR_NOT_IN_SECTION, node);
    }
    /* "@tracker" names a strategy only for Extern, which reads it as the head
    ** of its first argument; anywhere else it has no value at all, so it is
    ** refused here rather than stopping a run later. */
    for (FormulaNode *node = nodes; node->item != ITEM_END; node++) {
        if (node->item != ITEM_TRACKER) continue;
        if (node - nodes < 2 || (node - 2)->item != ITEM_EXTERN) return NodeError(run, ERR_STRUCTURE, node);
    }
    return 1;
}

int ReferencePass(CompileRun &run, FormulaNode *nodes)
{
    FormulaItem *item = run.definitionIndex >= 0 ? DefinitionItem(run.section, (uint32_t)run.definitionIndex) : nullptr;
    bool onePerSymbol = item && item->onePerSymbol &&
        (run.section == SECTION_DATA || run.section == SECTION_TEST_DATA ||
         run.section == SECTION_STRAT_DATA);
    int pass = CurrentCompilePass();
    for (FormulaNode *node = nodes; node->item != ITEM_END; node++) {
        uint32_t row = node->item;
        if (onePerSymbol) {
            bool bad;
            if (row == ITEM_DATA_REF || row == ITEM_TESTDATA_REF) {
                FormulaItem *target =
                    DefinitionItem(row == ITEM_DATA_REF ? SECTION_DATA : SECTION_TEST_DATA, node->index);
                bad = !target || !target->onePerSymbol;
            } else {
                uint32_t c = node->category;
                bad = c == CAT_BAR_VALUE || c == CAT_BAR_DATE || c == CAT_INDICATOR || c == CAT_MULTI_BAR ||
                    c == CAT_POSITION_INFO || c == CAT_STRATEGY_STAT || c == CAT_TRADE_VALUE ||
                    c == CAT_TRADE_STAT || row == ITEM_LIBRARY_REF || row == ITEM_LIBRARY_CALL ||
                    row == ITEM_DATE_BARS || row == ITEM_EVENT || row == ITEM_ITEM || row == ITEM_SYM_REF ||
                    row == ITEM_STRAT_REF || row == ITEM_DLL_DATA_CALC;
            }
            if (bad) return NodeError(run, ERR_ONE_PER_SYM_BARS, node);
        }
        if (pass != 2) continue;
        if (row == ITEM_CONSTITUENCY && !ConstituencySeriesLoaded((int32_t)node->index + 1))
            return NodeError(run, ERR_CONSTITUENCY, node);
        if (row == ITEM_STRATEGY_REF && node->constant == UNRESOLVED_REF && !LookupStrategyNumber(node->text))
            return NodeError(run, ERR_UNKNOWN_STRATEGY, node);
        if (row == ITEM_SYMBOL_REF && node->constant == UNRESOLVED_REF) {
            double number;
            if (CompareNoCase(node->text, "Global") == 0)
                number = -1.0;
            else if (CompareNoCase(node->text, "CalSym") == 0)
                number = -2.0;
            else
                number = LookupSymbolIndex(node->text);
            if (number == 0) return NodeError(run, ERR_UNKNOWN_SYMBOL, node);
            node->constant = number;
            node->value = number;
        }
    }
    return 1;
}

/* The passes after tokenizing; 0 with run.errorCode set (or 0 for memory). */
int BuildNodes(CompileRun &run)
{
    FormulaSlot *slot = run.slot;
    if (!Tokenize(run)) return 0;
    if (!EnsureNodeCapacity(slot, run.tokenCount + 1)) return 0;
    /* Only the master is cleared here: a successful compile overwrites the
    ** worker copies whole, and a failed one clears them (CompileFormula). */
    FormulaNode *nodes = slot->nodes[0];
    memset(nodes, 0, (size_t)slot->capacity * sizeof(FormulaNode));
    slot->count = 0;
    for (int32_t i = 0; i < run.tokenCount; i++) {
        int code = BindToken(run, i, nodes);
        if (code) return SetError(run, code, (int32_t)run.tokens[i].offset, (int32_t)run.tokens[i].length);
    }
    int32_t count = run.tokenCount;
    if (!UnaryPass(run, nodes, count)) return 0;
    if (!ModifierPass(run, nodes, count)) return 0;
    FormulaNode *p = nodes;
    int code = CheckFormulaSyntax(&p, ITEM_END, nullptr);
    if (code) return NodeError(run, code, p);
    if (!FunctionPass(run, nodes)) return 0;
    slot->count = count;
    if (count == 0) slot->length = 0;
    if (!ReferencePass(run, nodes)) return 0;
    for (int k = 1; k < FORMULA_WORKER_COPIES; k++)
        memcpy(slot->nodes[k], nodes, (size_t)slot->capacity * sizeof(FormulaNode));
    return 1;
}

bool EmptyFormulaAllowed(uint32_t section)
{
    return section == SECTION_NONE || section == SECTION_TEMPLATE || section == SECTION_BENCHMARK ||
        section == SECTION_STRATEGY || section == SECTION_STATS_GROUP || section == SECTION_COMBINED;
}

} // namespace

int CompileFormula(FormulaSlot *slot, uint32_t section, int32_t definitionIndex)
{
    if (slot->count != 0) return 1;
    CompileRun run = {};
    run.slot = slot;
    run.section = section;
    run.definitionIndex = definitionIndex;
    if (!slot->scriptText || slot->length <= 0) {
        if (EmptyFormulaAllowed(section)) return 1;
        SetError(run, ERR_EMPTY_FORMULA, slot->start, 0);
    } else {
        int32_t savedDepth = gCompiler.includeDepth;
        gCompiler.includeDepth = slot->includeDepth;
        int ok = BuildNodes(run);
        gCompiler.includeDepth = savedDepth;
        FreeMemory(&run.tokens);
        if (ok) return 1;
        /* no worker may meet a half-built or stale array of a failed compile */
        ClearFormulaNodes(slot);
        if (run.errorCode == 0) return 0; /* out of memory: no message */
    }
    if (slot == &gScratchFormula) {
        gScratchErrorCode = run.errorCode;
        gScratchErrorOffset = run.errorOffset;
        gScratchErrorLength = run.errorLength;
    }
    ShowFormulaError(run.errorCode, slot, run.errorOffset, run.errorLength, slot->path);
    return 0;
}

static const char *const kDataTypeNames[] = {"", "price", "volume", "extern price", "extern volume"};
static_assert(sizeof kDataTypeNames / sizeof *kDataTypeNames == DATA_TYPE_EXTERN_VOLUME + 1, "one name per ValueDataType");

const char *DataTypeName(uint32_t dataType)
{
    return dataType <= DATA_TYPE_EXTERN_VOLUME ? kDataTypeNames[dataType] : "";
}
