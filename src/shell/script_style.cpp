/* script_style.cpp -- see script_style.h.  One pass over the text classifies
** every character and notes what kind of line each line is; fold levels follow
** from the line kinds. */
#include "shell/script_style.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/keywords.h"
#include "script/compiler/name_tables.h"
#include "script/compiler/preprocessor.h"
#include "script/eval/item_table.h"

namespace {

enum LineKind { LINE_PLAIN = 0,
                LINE_HEADER = 1,
                LINE_FLAT_HEADER = 2,
                LINE_COMMENTED_HEADER = 3 };

enum { WORD_SIZE = 80 };

/* Style of a built-in item by its category; -1 for categories styled by the
** later rules. */
struct CategoryStyle {
    int32_t category;
    int32_t style;
};
/* clang-format off */
constexpr CategoryStyle kCategoryStyles[] = {
    {.category = CAT_OPERATOR, .style = SCRIPT_STYLE_OTHER},
    {.category = CAT_BAR_VALUE, .style = SCRIPT_STYLE_DATA_ITEM},
    {.category = CAT_BAR_DATE, .style = SCRIPT_STYLE_DATA_ITEM},
    {.category = CAT_INDICATOR, .style = SCRIPT_STYLE_INDICATOR},
    {.category = CAT_MULTI_BAR, .style = SCRIPT_STYLE_MULTI_BAR},
    {.category = CAT_BREADTH, .style = SCRIPT_STYLE_MULTI_BAR},
    {.category = CAT_FUNCTION, .style = SCRIPT_STYLE_FUNCTION},
    {.category = CAT_SYMBOL_INFO, .style = SCRIPT_STYLE_DATA_ITEM},
    {.category = CAT_POSITION_INFO, .style = SCRIPT_STYLE_DATA_ITEM},
    {.category = CAT_STRATEGY_INFO, .style = SCRIPT_STYLE_INFO},
    {.category = CAT_STRATEGY_STAT, .style = SCRIPT_STYLE_STAT_ITEM},
    {.category = CAT_TRADE_VALUE, .style = SCRIPT_STYLE_TRADE_ITEM},
    {.category = CAT_TRADE_STAT, .style = SCRIPT_STYLE_FUNCTION},
    {.category = CAT_SUM, .style = SCRIPT_STYLE_FUNCTION},
};
/* clang-format on */

int StyleOfCategory(uint32_t category)
{
    for (const CategoryStyle &row : kCategoryStyles)
        if ((uint32_t)row.category == category) return row.style;
    return -1;
}

/* Sections in which "Name:" is a keyword rather than an item being defined. */
int IsKeywordSection(int32_t section)
{
    switch (section) {
    case SECTION_NONE:
    case SECTION_IMPORT:
    case SECTION_SCAN_SETTINGS:
    case SECTION_TEST_SETTINGS:
    case SECTION_TEMPLATE:
    case SECTION_BENCHMARK:
    case SECTION_STRATEGY:
    case SECTION_STATS_GROUP:
    case SECTION_SETTINGS:
    case SECTION_ORDER_SETTINGS:
    case SECTION_COMBINED:
    case SECTION_OPTIMIZE_SETTINGS:
        return 1;
    default:
        return 0;
    }
}

const ScriptKeyword *FindKeywordRow(const char *word)
{
    for (const ScriptKeyword *row = kScriptKeywords; row->name[0]; row++)
        if (CompareNoCase(row->name, word) == 0) return row;
    return nullptr;
}

int IsBlank(char c) { return c == ' ' || c == '\t'; }

/* 1 when a ':' follows at p after optional blanks and is not followed by '\'
** or '/' (a drive letter or a web address). */
int ColonFollows(const char *p)
{
    while (IsBlank(*p)) p++;
    return *p == ':' && p[1] != '\\' && p[1] != '/';
}

int IsNumberWord(const char *word, int length)
{
    if (word[0] == '+' || CompareNoCaseN(word, "inf", 3) == 0) return 0;
    if (CompareNoCaseN(word, "nan", 3) == 0) return length == 3;
    for (int i = 0; i < length; i++)
        if (word[i] == 'x' || word[i] == 'X') return 0; /* decimal only */
    char *end = nullptr;
    strtod(word, &end);
    return end == word + length && length > 0;
}

int IsParameterWord(const char *word)
{
    static const char *const kWords[] = {"From", "To", "Step", "Mult", "Round", "Def"};
    for (const char *w : kWords)
        if (CompareNoCase(w, word) == 0) return 1;
    return 0;
}

/* A hash index over the script's names for one pass, so that a long script
** with many names styles in time proportional to its length.  With no index
** (allocation failed) lookups go through FindScriptName. */
struct NameIndex {
    const CompilerState *names;
    int32_t *heads; /* mask + 1 chain heads, -1 when empty */
    int32_t *next;  /* per name row */
    uint32_t mask;
};

uint32_t HashNoCase(const char *text)
{
    uint32_t h = 2166136261u;
    for (const char *p = text; *p; p++) h = (h ^ (uint32_t)tolower((unsigned char)*p)) * 16777619u;
    return h;
}

void BuildNameIndex(NameIndex *index, const CompilerState *names)
{
    *index = NameIndex{.names = names, .heads = nullptr, .next = nullptr, .mask = 0};
    if (!names || names->scriptNameCount <= 0) return;
    uint32_t size = 64;
    while (size < (uint32_t)names->scriptNameCount * 2) size *= 2;
    if (!AllocMemory(&index->heads, sizeof(int32_t) * size)) return;
    if (!AllocMemory(&index->next, sizeof(int32_t) * (uint64_t)names->scriptNameCount)) {
        FreeMemory(&index->heads);
        return;
    }
    index->mask = size - 1;
    for (uint32_t i = 0; i < size; i++) index->heads[i] = -1;
    for (int32_t row = names->scriptNameCount - 1; row >= 0; row--) {
        uint32_t slot = HashNoCase(names->scriptNames[row].name) & index->mask;
        index->next[row] = index->heads[slot];
        index->heads[slot] = row;
    }
}

void FreeNameIndex(NameIndex *index)
{
    FreeMemory(&index->heads);
    FreeMemory(&index->next);
}

int IndexHasName(const NameIndex *index, const char *word, int32_t section)
{
    if (!index->names) return 0;
    if (!index->heads) return FindScriptName(word, section, index->names);
    for (int32_t row = index->heads[HashNoCase(word) & index->mask]; row >= 0; row = index->next[row]) {
        const ScriptNameRow &r = index->names->scriptNames[row];
        if (r.name[0] && CompareNoCase(r.name, word) == 0 && SectionCanSee(section, r.section)) return 1;
    }
    return 0;
}

/* Style of a word that neither numbers, keywords nor a sticky style decide. */
int ClassifyName(const char *word, int32_t section, const NameIndex *names)
{
    FormulaNode node{};
    if (FindScriptItem(word, &node)) {
        int style = StyleOfCategory(node.category);
        if (style >= 0) return style;
    }
    if (section == SECTION_PARAMETERS) return IsParameterWord(word) ? SCRIPT_STYLE_OTHER : SCRIPT_STYLE_UNKNOWN;
    if (ResolveNamedListItem(word, nullptr) || ResolveFundamentalField(word, nullptr)) return SCRIPT_STYLE_DATA_ITEM;
    if (ResolveArgName(word, nullptr)) return SCRIPT_STYLE_FUNCTION;
    if (IndexHasName(names, word, section)) return SCRIPT_STYLE_VAR_REF;
    if (word[0] == '?') return SCRIPT_STYLE_INFO;
    return SCRIPT_STYLE_UNKNOWN;
}

struct StylePass {
    const char *text;
    int32_t length;
    uint8_t *styles;
    int32_t *lineKinds; /* per line (the fold-level array), null when not folding */
    const NameIndex *names;
    int32_t lineCapacity;
    int32_t line;
    int32_t section;
    int32_t sticky;
    int32_t runStyle;
    int notesOpeners; /* a commented header reopened comment and string openers in Notes */
};

void MarkLine(StylePass *p, int kind)
{
    if (p->lineKinds && p->line < p->lineCapacity && p->lineKinds[p->line] == LINE_PLAIN) p->lineKinds[p->line] = kind;
}

void Fill(StylePass *p, int32_t from, int32_t to, int style)
{
    memset(p->styles + from, style, (size_t)(to - from));
    p->runStyle = style;
}

/* A header word in the text: the section becomes current, the line a fold header. */
void EnterSection(StylePass *p, int32_t section)
{
    p->section = section;
    p->notesOpeners = 0;
    MarkLine(p, section == SECTION_INCLUDE || section == SECTION_NAMESPACE ? LINE_FLAT_HEADER : LINE_HEADER);
}

/* Reads the word at i (to the next delimiter, 79 characters kept); returns its end. */
int32_t ReadWord(const StylePass *p, int32_t i, char *word)
{
    int32_t end = i;
    while (end < p->length && !IsTokenDelimiter(p->text[end]) && p->text[end] != '"' && p->text[end] != '\'') end++;
    CopyString(word, WORD_SIZE, p->text + i, end - i);
    return end;
}

/* Classifies the word that starts at i and styles it; returns its end. */
int32_t StyleWord(StylePass *p, int32_t i, int inDialog)
{
    char word[WORD_SIZE];
    int32_t end = ReadWord(p, i, word);
    int32_t n = (int32_t)strlen(word);
    if (n == 0) {
        Fill(p, i, i + 1, SCRIPT_STYLE_OTHER);
        return i + 1;
    }
    int style;
    if (IsNumberWord(word, n)) {
        style = SCRIPT_STYLE_CONSTANT;
    } else if (!inDialog && ColonFollows(p->text + end)) {
        const ScriptKeyword *row = FindKeywordRow(word);
        if (row) {
            style = row->kind;
            p->sticky = row->valueClass;
            if (row->kind == KEYWORD_KIND_HEADER) EnterSection(p, FindSectionName(word));
        } else {
            style = IsKeywordSection(p->section) ? SCRIPT_STYLE_SECTION_ITEM : SCRIPT_STYLE_VAR_NAME;
            p->sticky = 0;
        }
    } else if (p->sticky) {
        style = p->sticky;
    } else {
        style = ClassifyName(word, p->section, p->names);
    }
    Fill(p, i, end, style);
    return end;
}

/* Inside a Notes section: everything is notes text but section headers; a
** "//" with a preprocessor directive ends the section.  Returns the next position. */
int32_t StyleNotes(StylePass *p, int32_t i)
{
    const char *t = p->text;
    if (t[i] == '/' && t[i + 1] == '/' && IsPreprocessorDirectiveAt(t + i + 2)) {
        p->section = SECTION_NONE;
        p->sticky = 0;
        return i; /* classified afresh as a line comment */
    }
    if (!IsTokenDelimiter(t[i]) && (i == 0 || IsTokenDelimiter(t[i - 1]))) {
        char word[WORD_SIZE];
        int32_t end = ReadWord(p, i, word);
        /* A quote is no word and opens nothing here: it is notes text. */
        if (end == i) end = i + 1;
        int32_t id = FindSectionName(word);
        if (id && ColonFollows(t + end)) {
            const ScriptKeyword *row = FindKeywordRow(word);
            p->sticky = row ? row->valueClass : 0;
            EnterSection(p, id);
            Fill(p, i, end, SCRIPT_STYLE_SECTION);
            return end;
        }
        Fill(p, i, end, SCRIPT_STYLE_NOTES);
        return end;
    }
    Fill(p, i, i + 1, SCRIPT_STYLE_NOTES);
    return i + 1;
}

} // namespace

int32_t SectionAtPosition(const char *text, int32_t length, int32_t position)
{
    if (position < 0 || position >= length) return 0;
    int32_t start = position, end = position;
    while (start > 0 && !IsTokenDelimiter(text[start - 1])) start--;
    while (end < length && !IsTokenDelimiter(text[end])) end++;
    if (end >= length || text[end] != ':' || end - start < 1 || end - start + 1 > 79) return 0;
    int32_t id = 0;
    return MatchSectionHeader(text + start, &id) ? id : 0;
}

int32_t StyleScriptBuffer(const char *text, int32_t length, const CompilerState *names, int inDialog,
                          uint8_t *styles, int32_t *foldLevels, int32_t lineCapacity)
{
    NameIndex index;
    BuildNameIndex(&index, names);
    StylePass p{.text = text, .length = length, .styles = styles, .lineKinds = nullptr, .names = &index, .lineCapacity = lineCapacity, .line = 0, .section = SECTION_NONE, .sticky = 0, .runStyle = SCRIPT_STYLE_OTHER, .notesOpeners = 0};
    /* The pass notes each line's kind in the fold-level array; the levels
    ** replace the kinds afterwards. */
    if (!inDialog && foldLevels && lineCapacity > 0) {
        memset(foldLevels, 0, sizeof(int32_t) * (size_t)lineCapacity);
        p.lineKinds = foldLevels;
    }
    int open = 0; /* style of an open comment, string or preprocessor line */
    int32_t openStart = 0;
    int32_t i = 0;
    while (i < length) {
        char c = text[i];
        char prev = i > 0 ? text[i - 1] : '\n';
        if (open) {
            int closes = 0;
            if (open == SCRIPT_STYLE_COMMENT_BRACE)
                closes = c == '}';
            else if (open == SCRIPT_STYLE_COMMENT_BLOCK)
                closes = c == '/' && prev == '*' && i >= openStart + 3;
            else if (open == SCRIPT_STYLE_STRING)
                closes = c == '"' && i > openStart;
            else if (open == SCRIPT_STYLE_STRING_SINGLE)
                closes = c == '\'' && i > openStart;
            else if (c == '\r' || c == '\n')
                open = 0; /* line comment or preprocessor line */
            if (open) {
                styles[i++] = (uint8_t)open;
                if (closes) open = 0;
                continue;
            }
        }
        if (prev == '\n') {
            if (i > 0) p.line++;
            int32_t id = 0;
            if (c == '/' && text[i + 1] == '/' && MatchSectionHeader(text + i + 2, &id)) {
                MarkLine(&p, LINE_COMMENTED_HEADER);
                if (id != SECTION_NOTES) {
                    p.section = id;
                    p.sticky = 0;
                } else {
                    p.notesOpeners = 1;
                }
            }
        }
        if (c == '\r' || c == '\n') {
            if (p.sticky != SCRIPT_STYLE_NOTES) p.sticky = 0;
            Fill(&p, i, i + 1, p.section == SECTION_NOTES && !p.notesOpeners ? SCRIPT_STYLE_NOTES : SCRIPT_STYLE_OTHER);
            i++;
            continue;
        }
        if (p.section == SECTION_NOTES && !p.notesOpeners) {
            int32_t next = StyleNotes(&p, i);
            if (next > i) {
                i = next;
                continue;
            }
        }
        int startsWord = i == 0 || IsTokenDelimiter(prev);
        if (startsWord && IsPreprocessorDirectiveAt(text + i)) {
            open = SCRIPT_STYLE_PREPROCESSOR;
        } else if (c == '{') {
            open = SCRIPT_STYLE_COMMENT_BRACE;
        } else if (c == '/' && text[i + 1] == '/') {
            open = SCRIPT_STYLE_COMMENT_LINE;
        } else if (c == '/' && text[i + 1] == '*') {
            open = SCRIPT_STYLE_COMMENT_BLOCK;
        } else if (c == '"') {
            open = SCRIPT_STYLE_STRING;
        } else if (c == '\'') {
            open = SCRIPT_STYLE_STRING_SINGLE;
        }
        if (open) {
            openStart = i;
            styles[i++] = (uint8_t)open;
            continue;
        }
        if ((IsBlank(c) || IsTokenDelimiter(c)) && c != ':') {
            int valueText = (p.runStyle == SCRIPT_STYLE_CONSTANT || p.sticky == SCRIPT_STYLE_CONSTANT) && c != ',' &&
                !isdigit((unsigned char)prev) && !IsTokenDelimiter(prev);
            Fill(&p, i, i + 1, valueText ? SCRIPT_STYLE_CONSTANT : SCRIPT_STYLE_OTHER);
            i++;
        } else if (c == '$' || c == '&' || c == '@' || c == '~') {
            Fill(&p, i, i + 1, SCRIPT_STYLE_CONSTANT);
            i++;
        } else if (!startsWord) {
            Fill(&p, i, i + 1, p.runStyle);
            i++;
        } else {
            i = StyleWord(&p, i, inDialog);
        }
    }
    FreeNameIndex(&index);
    int32_t lines = length > 0 ? p.line + 1 : 0;
    if (p.lineKinds) {
        int pending = 0;
        int32_t n = lines < lineCapacity ? lines : lineCapacity;
        for (int32_t k = 0; k < n; k++) {
            int kind = p.lineKinds[k];
            int32_t level = FOLD_LEVEL_BASE;
            if (kind == LINE_HEADER || kind == LINE_COMMENTED_HEADER) {
                level |= FOLD_HEADER_FLAG;
                pending = 1;
            } else if (kind == LINE_FLAT_HEADER) {
                pending = 0;
            } else {
                level += pending;
            }
            foldLevels[k] = level;
        }
    }
    return lines;
}

int32_t EnterIndentation(const char *previousLine, int32_t length, char *out, int32_t outSize)
{
    if (outSize <= 0) return 0;
    out[0] = 0;
    if (length < 1 || length > 255) return 0;
    char line[256];
    CopyString(line, sizeof line, previousLine, length);
    for (const ScriptKeyword *row = kScriptKeywords; row->name[0]; row++) {
        if (row->kind != KEYWORD_KIND_HEADER) continue;
        int32_t id = FindSectionName(row->name);
        if (id == SECTION_INCLUDE || id == SECTION_NAMESPACE) continue;
        size_t n = strlen(row->name);
        int found = 0;
        for (const char *q = line; *q && !found; q++) found = CompareNoCaseN(q, row->name, n) == 0;
        if (found) {
            line[0] = '\t';
            break;
        }
    }
    int32_t blanks = 0;
    while (line[blanks] && IsBlank(line[blanks])) blanks++;
    if (line[blanks] == 0 || line[blanks] == '\r' || line[blanks] == '\n') blanks = 0; /* a blank line */
    return CopyString(out, outSize, line, blanks);
}
