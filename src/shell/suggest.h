/* suggest.h -- Suggest Choices worked over a plain text: the context at the
** caret (section, keyword, value), its kind, and the choices or hint the
** editor shows there.  The editor window (win32/) stores the kind as the
** caret line's state and shows the list; tests call it directly.
**
** Kinds:      0 line start or unknown, 1..66 as the keyword table's value
**             types and target kinds (SUGGEST_KIND_* below names the ones the
**             code tests for).
** Inputs:     the keyword and item tables, the loaded symbols, the
**             constituency list, the fundamentals field table, the current
**             test's strategies, ScriptPath/DataPath/OutputPath and the
**             program folder, and the names the script defines.
** Threads:    UI thread; no state of its own.
*/
#pragma once
#include <cstdint>

#include "shell/completion.h"

struct CompilerState;

enum SuggestKind {
    SUGGEST_KIND_LINE_START = 0,
    SUGGEST_KIND_NAME = 1,
    SUGGEST_KIND_ITEM_SECTION = 5,
    SUGGEST_KIND_PARAMETERS = 6,
    SUGGEST_KIND_WALK_FORWARD = 7,
    SUGGEST_KIND_WALK_FORWARD_ITEM = 8,
    SUGGEST_KIND_STRATEGY = 9,
    SUGGEST_KIND_STATS_GROUP = 10,
    SUGGEST_KIND_COMBINED = 11,
    SUGGEST_KIND_IMPORT = 13,
    SUGGEST_KIND_SETTINGS = 14,
    SUGGEST_KIND_FIRST_FILE = 18,
    SUGGEST_KIND_DATA_FOLDER = 18,
    SUGGEST_KIND_INCLUDE = 22,
    SUGGEST_KIND_SYMBOL_LIST = 27,
    SUGGEST_KIND_LAST_FILE = 27,
    SUGGEST_KIND_FORMULA = 48,
    SUGGEST_KIND_LAST_FORMULA = 53,
    SUGGEST_KIND_BAR_SIZE = 56,
    SUGGEST_KIND_SORT = 62
};

/* How the result is shown. */
enum SuggestShow {
    SUGGEST_SHOW_NOTHING = 0,
    SUGGEST_SHOW_USER_LIST = 1,    /* the editor's user list, list type 1 */
    SUGGEST_SHOW_AUTOCOMPLETE = 2, /* an autocompletion list, typedLength typed */
};

enum { SUGGEST_HINT_SIZE = 256 };

struct SuggestResult {
    int32_t hasContext; /* 0: nothing happens (no kind is stored) */
    int32_t kind;
    int32_t show;
    int32_t typedLength;
    ChoiceBuffer list;
    char hint[SUGGEST_HINT_SIZE]; /* "" when none */
    int32_t hintIsWarning;        /* shown in red rather than blue */
};

/* The choices at caret in text[0..length) (NUL-terminated at length).
** inDialog: a formula editor of a dialog.  names: what the script defines
** (null: nothing).  Fills out; a read-only script never gets here. */
void SuggestChoicesAt(const char *text, int32_t length, int32_t caret, int forced, int inDialog,
                      const CompilerState *names, SuggestResult *out);

/* 1 when items of category may be offered in section. */
int IsItemAllowedInSection(uint32_t category, int32_t section);
