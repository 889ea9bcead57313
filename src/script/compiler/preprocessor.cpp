/* preprocessor.cpp -- conditional blocks and defined symbols in script text. */
#include "script/compiler/preprocessor.h"

#include <cctype>
#include <cstring>

#include "foundation/text_match.h"
#include "foundation/allocator.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/parser_hooks.h"
#include "services/services.h"

enum Directive { DIR_DEFINE,
                 DIR_UNDEF,
                 DIR_IFDEF,
                 DIR_IFNDEF,
                 DIR_ELSE,
                 DIR_ENDIF,
                 DIR_COUNT };

static const char *const kDirectiveNames[DIR_COUNT] = {"#define", "#undef", "#ifdef", "#ifndef", "#else", "#endif"};

/* The predefined run-mode words, in run-mode order. */
static const char *const kRunModeSymbols[] = {"import", "apply", "scan", "test", "optimize", "orders"};
static_assert(sizeof kRunModeSymbols / sizeof *kRunModeSymbols == RUN_MODE_ORDERS + 1, "one symbol per RunMode");

enum { SYMBOL_SIZE = 80 };

/* The directive whose name stands at p (case ignored), or -1.  With
** needDelimiter, the name must be followed by NUL or white space. */
static int MatchDirective(const char *p, int needDelimiter)
{
    if (*p != '#') return -1;
    for (int d = 0; d < DIR_COUNT; d++) {
        size_t n = strlen(kDirectiveNames[d]);
        if (CompareNoCaseN(p, kDirectiveNames[d], n) != 0) continue;
        if (!needDelimiter || p[n] == 0 || isspace((unsigned char)p[n])) return d;
    }
    return -1;
}

/* Skips an "#ifdef"/"#ifndef" block whose name ends at p: every nested block
** is skipped whole and "#else" parts are passed over.  Returns the position
** after the matching "#endif", or the end of the text. */
static const char *SkipWholeBlock(const char *p)
{
    int depth = 1;
    while (*p) {
        int d = MatchDirective(p, 0);
        if (d == DIR_IFDEF || d == DIR_IFNDEF) {
            depth++;
        } else if (d == DIR_ENDIF) {
            p += strlen(kDirectiveNames[DIR_ENDIF]);
            if (--depth == 0) return p;
            continue;
        }
        p += d >= 0 ? strlen(kDirectiveNames[d]) : 1;
    }
    return p;
}

/* Reads the symbol after a directive name: white space skipped, then the
** symbol up to the next white space (79 characters kept).  Returns 0 when the
** text ends before the symbol or right after it; *pEnd is then the text's end. */
static int ReadDirectiveSymbol(const char *p, char *symbol, const char **pEnd)
{
    while (*p && isspace((unsigned char)*p)) p++;
    const char *start = p;
    while (*p && !isspace((unsigned char)*p)) p++;
    CopyString(symbol, SYMBOL_SIZE, start, (int)(p - start));
    *pEnd = p;
    return p > start && *p != 0;
}

static int IsDefinedName(const char *symbol, const CompilerState *state)
{
    for (int i = 0; i < state->definedNameCount; i++) {
        const DefinedNameRow *row = state->definedNames + i;
        if (row->tag == PREPROC_DEFINE_TAG && CompareNoCase(row->name, symbol) == 0) return 1;
    }
    return 0;
}

int IsPreprocessorDirectiveAt(const char *p) { return p && MatchDirective(p, 1) >= 0; }

int IsPreprocessorSymbolDefined(const char *symbol, const CompilerState *state)
{
    for (int mode = 0; mode < (int)(sizeof kRunModeSymbols / sizeof *kRunModeSymbols); mode++)
        if (CompareNoCase(symbol, kRunModeSymbols[mode]) == 0) return gCompileSession.mode == mode;
    if (CompareNoCase(symbol, "standalone") == 0) return state->includeDepth == 1;
    return IsDefinedName(symbol, state);
}

/* Adds a "#define" name unless it is there already.  When the list cannot
** grow the allocator's failure flag stays set and the compile ends on it. */
static void DefineSymbol(const char *symbol, CompilerState *state)
{
    if (IsDefinedName(symbol, state)) return;
    if (!ReallocMemory(&state->definedNames, (uint64_t)(state->definedNameCount + 1) * sizeof(DefinedNameRow)))
        return;
    DefinedNameRow *row = state->definedNames + state->definedNameCount++;
    CopyString(row->name, sizeof row->name, symbol, -1);
    row->tag = PREPROC_DEFINE_TAG;
}

static void UndefineSymbol(const char *symbol, CompilerState *state)
{
    DefinedNameRow *rows = state->definedNames;
    for (int i = 0; i < state->definedNameCount; i++) {
        if (rows[i].tag != PREPROC_DEFINE_TAG || CompareNoCase(rows[i].name, symbol) != 0) continue;
        memmove(rows + i, rows + i + 1, (size_t)(state->definedNameCount - i - 1) * sizeof *rows);
        state->definedNameCount--;
        memset(rows + state->definedNameCount, 0, sizeof *rows);
        return;
    }
}

/* The condition slot of the current file level and nesting. */
static int32_t *CurrentSlot(CompilerState *state)
{
    int level = state->includeDepth;
    if (level < 0) level = 0;
    if (level >= PREPROC_LEVELS) level = PREPROC_LEVELS - 1;
    int nesting = state->conditionNesting;
    if (nesting < 0) nesting = 0;
    if (nesting >= PREPROC_SLOTS) nesting = PREPROC_SLOTS - 1;
    return &state->conditions[level][nesting];
}

static void CloseBlock(CompilerState *state)
{
    *CurrentSlot(state) = COND_NONE;
    if (state->conditionNesting > 0) state->conditionNesting--;
}

/* Skips the false part of a block: a nested block whole; at "#else" the else
** part is read; at "#endif" the block closes. */
static const char *SkipFalsePart(const char *p, CompilerState *state)
{
    while (*p) {
        int d = MatchDirective(p, 0);
        if (d < 0) {
            p++;
            continue;
        }
        p += strlen(kDirectiveNames[d]);
        if (d == DIR_IFDEF || d == DIR_IFNDEF) {
            p = SkipWholeBlock(p);
        } else if (d == DIR_ELSE) {
            *CurrentSlot(state) = COND_ELSE;
            return p;
        } else if (d == DIR_ENDIF) {
            CloseBlock(state);
            return p;
        }
    }
    state->pendingError = ERR_STRUCTURE;
    return p;
}

/* Skips the else part after a true part: to the matching "#endif", nested
** blocks whole; a second "#else" is a structure error and stops there. */
static const char *SkipElsePart(const char *p, CompilerState *state)
{
    while (*p) {
        int d = MatchDirective(p, 0);
        if (d < 0) {
            p++;
            continue;
        }
        if (d == DIR_ELSE) {
            if (state) state->pendingError = ERR_STRUCTURE;
            return p;
        }
        p += strlen(kDirectiveNames[d]);
        if (d == DIR_IFDEF || d == DIR_IFNDEF)
            p = SkipWholeBlock(p);
        else if (d == DIR_ENDIF)
            return p;
    }
    return p;
}

int HandlePreprocessorDirective(const char **pText, CompilerState *state)
{
    const char *p = *pText;
    if (!p) return 0;
    int d = MatchDirective(p, 1);
    if (d < 0) return 0;
    p += strlen(kDirectiveNames[d]);

    char symbol[SYMBOL_SIZE] = "";
    if (d <= DIR_IFNDEF) {
        const char *end = nullptr;
        if (!ReadDirectiveSymbol(p, symbol, &end)) {
            if (state) state->pendingError = ERR_NAME_MISSING;
            *pText = end;
            return 1;
        }
        p = end;
    }

    if (!state) {
        /* Inside formulas and one-line values the directives are only passed over. */
        if (d == DIR_IFDEF || d == DIR_IFNDEF)
            p = SkipWholeBlock(p);
        else if (d == DIR_ELSE)
            p = SkipElsePart(p, nullptr);
        *pText = p;
        return 1;
    }

    switch (d) {
    case DIR_DEFINE:
        DefineSymbol(symbol, state);
        break;
    case DIR_UNDEF:
        UndefineSymbol(symbol, state);
        break;
    case DIR_IFDEF:
    case DIR_IFNDEF: {
        if (*CurrentSlot(state) != COND_NONE) {
            /* The slots are few and fixed; a block nested deeper than they
            ** reach is refused rather than tracked past them. */
            if (state->conditionNesting + 1 >= PREPROC_SLOTS) {
                state->pendingError = ERR_STRUCTURE;
                *pText = p;
                return 1;
            }
            state->conditionNesting++;
        }
        int holds = IsPreprocessorSymbolDefined(symbol, state);
        if (d == DIR_IFNDEF) holds = !holds;
        if (holds)
            *CurrentSlot(state) = COND_TRUE;
        else
            p = SkipFalsePart(p, state);
        break;
    }
    case DIR_ELSE:
        if (*CurrentSlot(state) != COND_TRUE) state->pendingError = ERR_STRUCTURE;
        CloseBlock(state);
        p = SkipElsePart(p, state);
        break;
    case DIR_ENDIF:
        if (*CurrentSlot(state) == COND_NONE) state->pendingError = ERR_STRUCTURE;
        CloseBlock(state);
        break;
    }
    *pText = p;
    return 1;
}
