/* script_parser.h -- reading one script file into the compiled script's lists.
**
** ParseScriptText reads a script (the main script, an included script,
** autoinclude.kvs or a default section script) and, section by section,
** stores every named item as a formula record whose text span points into the
** file's text, applies settings, import lines, parameters and strategy
** elements through their handlers, and follows includes.  Formulas are not
** compiled here; the compile driver compiles the stored records afterwards.
**
** Three passes over the text:
**   1. split it into "name:" line records (quotes, comments and inactive
**      preprocessor blocks skipped, each file starting with no block open;
**      DateInput applied at once so every later date reads in the right
**      order);
**   2. walk the records: section headers switch the current section, items
**      become columns, items, parameters, settings, import lines or strategy
**      elements;
**   3. check what needs the whole script: sort lists, Using lists and names
**      defined in two lists.
**
** Owns:       gScriptParser: which settings keywords the script gave, the
**             Combined count, the collected script text of the compile and
**             the kept Import section text.
** Invariants: the returned text buffer outlives every record that points
**             into it; the caller owns it (FreeMemory).
** Errors:     the first error stops the parse: it is shown once through
**             ShowFormulaError (no slot, "Syntax Error:", the span selected
**             in this file's editor) and null is returned with the text
**             freed.  Running out of memory stops it without a message.
**             A file that starts with a UTF-16 byte-order mark is refused
**             with a message that says so.
** Platform:   files through the platform layer.  UI thread only.
** Sizes:      scripts of a few hundred lines; every pass is linear.
*/
#pragma once
#include <cstdint>

#include "script/compiler/keywords.h"

/* A growable text through the tracked allocator. */
struct GrowText {
    char *text; /* NUL-terminated when not null */
    int32_t capacity;
    int32_t length;
};

struct ScriptParserState {
    int32_t settingGiven[SETTINGS_KEYWORD_COUNT]; /* the script set this keyword in an applying section */
    int32_t combinedHeaders;                      /* Combined headers met in the script and its includes */
    int32_t excludeIfGiven;                       /* the Import section's ExcludeIf was given */
    int32_t groupMaxEntries;                      /* a StatsGroup or Combined gives MaxEntries */
    GrowText collectedText;                       /* the script text with its includes, for the test record */
    GrowText importText;                          /* the Import section's text, carriage returns removed */
};
extern ScriptParserState gScriptParser;

/* The text of the compiled script's Import section (the note an import's
** data file keeps), or null when it has none. */
const char *GetImportSectionText();

/* Starts a new compile: clears the marks and counts and empties both texts
** (their allocations stay). */
void ResetScriptParserState();

/* Reads and parses the file at path with the namespace buffer (64
** characters, changed by Namespace sections and restored around includes).
** Returns the script text (the caller frees it with FreeMemory), or null
** after the failure was reported. */
char *ParseScriptText(const char *path, char *nameSpace);

/* The value of a one-line element: it ends at the first comment (line, block
** or brace comment) or preprocessor directive within length, white space at its end left
** out.  The character after the value is saved in *saved and replaced by a NUL;
** the caller puts it back (text[returned length] = *saved).  Returns the
** value's length. */
int GetSectionLineValue(char *text, int length, char *saved);

/* 1 when the settings section applies to the compile's run mode: scan
** Settings and ScanSettings; test Settings and TestSettings; optimize also
** OptimizeSettings; orders Settings and OrderSettings; otherwise Settings. */
int SettingsSectionApplies(int section);
