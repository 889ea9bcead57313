/* script_style.h -- colouring, fold levels and Enter indentation of script
** text, worked over a plain text buffer so that the editor window only copies
** the results into its editor component.
**
** Styles:     SCRIPT_STYLE_* below, 22 of them (the editor's style table has
**             one row per style).
** Fold levels: the editor component's encoding: FOLD_LEVEL_BASE plus the
**             depth, FOLD_HEADER_FLAG on a section header line.  Section
**             bodies sit one level below their header; Include and
**             Namespace lines fold nothing.
** Threads:    UI thread; no state of its own (the name list is passed in).
*/
#pragma once
#include <cstdint>

struct CompilerState;

enum ScriptStyle {
    SCRIPT_STYLE_OTHER = 0,
    SCRIPT_STYLE_UNKNOWN = 1,
    SCRIPT_STYLE_COMMENT_BRACE = 2,
    SCRIPT_STYLE_COMMENT_BLOCK = 3,
    SCRIPT_STYLE_COMMENT_LINE = 4,
    SCRIPT_STYLE_PREPROCESSOR = 5,
    SCRIPT_STYLE_STRING = 6,
    SCRIPT_STYLE_STRING_SINGLE = 7,
    SCRIPT_STYLE_SECTION = 8,
    SCRIPT_STYLE_SECTION_NAME = 9,
    SCRIPT_STYLE_SECTION_ITEM = 10,
    SCRIPT_STYLE_VAR_NAME = 11,
    SCRIPT_STYLE_CONSTANT = 12,
    SCRIPT_STYLE_INFO = 13,
    SCRIPT_STYLE_VAR_REF = 14,
    SCRIPT_STYLE_STAT_ITEM = 15,
    SCRIPT_STYLE_TRADE_ITEM = 16,
    SCRIPT_STYLE_DATA_ITEM = 17,
    SCRIPT_STYLE_INDICATOR = 18,
    SCRIPT_STYLE_MULTI_BAR = 19,
    SCRIPT_STYLE_FUNCTION = 20,
    SCRIPT_STYLE_NOTES = 21,
    SCRIPT_STYLE_COUNT = 22
};

enum { FOLD_LEVEL_BASE = 0x400,
       FOLD_HEADER_FLAG = 0x2000 };

/* Styles text[0..length) into styles (one byte per character) and, unless
** inDialog, sets one fold level per line into foldLevels (lineCapacity values
** at most; null for none).  text must be NUL-terminated at length.  names
** holds the names the script defines (null: none).  Returns the number of
** lines (a final line without a line feed counts). */
int32_t StyleScriptBuffer(const char *text, int32_t length, const CompilerState *names, int inDialog,
                          uint8_t *styles, int32_t *foldLevels, int32_t lineCapacity);

/* The section id (1..29) of the header word at position: a word of 1 to 79
** characters whose last character (one past the word) is ':' and whose text
** before the colon is a section name; else 0. */
int32_t SectionAtPosition(const char *text, int32_t length, int32_t position);

/* The indentation to insert after Enter, given the previous line (1 to 255
** characters, else nothing): its leading blanks, where a line naming a section
** header other than Include or Namespace has its first character turned into
** a tab.  Writes a NUL-terminated text into out; returns its length. */
int32_t EnterIndentation(const char *previousLine, int32_t length, char *out, int32_t outSize);
