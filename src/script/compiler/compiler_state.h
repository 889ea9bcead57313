/* compiler_state.h -- the record a compile works in, and the section ids.
**
** The same fields live in every script editor window's record (for the
** editor's name scan) and once more program-wide for the compiler, which
** every compile clears at its start and end.  Only the fields the compiler
** itself uses are here; the editor's window record embeds this one.
**
** Owns:       nothing; the program-wide instance is gCompiler (script_state.h).
** Invariants: lists grow through the tracked allocator (names by 10 rows,
**             included files by 2); a name row with an empty name is free.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

/* The kinds of script sections; 0 is a formula outside any section. */
enum SectionId : uint32_t {
    SECTION_NONE = 0,
    SECTION_INCLUDE = 1,
    SECTION_RESULTS = 2,
    SECTION_GRAPHS = 3,
    SECTION_CHARTS = 4,
    SECTION_TRADES = 5,
    SECTION_DATA = 6,
    SECTION_SCAN = 7,
    SECTION_IMPORT = 8,
    SECTION_PARAMETERS = 9,
    SECTION_WALK_FORWARD = 10,
    SECTION_SCAN_SETTINGS = 11,
    SECTION_TEST_SETTINGS = 12,
    SECTION_TEMPLATE = 13,
    SECTION_BENCHMARK = 14,
    SECTION_STRATEGY = 15,
    SECTION_STATS_GROUP = 16,
    SECTION_LIBRARY = 17,
    SECTION_TEST_SCAN = 18,
    SECTION_TEST_DATA = 19,
    SECTION_SETTINGS = 20,
    SECTION_ORDER_SETTINGS = 21,
    SECTION_SCAN_INCLUDE = 22,
    SECTION_TEST_INCLUDE = 23,
    SECTION_ORDERS_INCLUDE = 24,
    SECTION_NOTES = 25,
    SECTION_COMBINED = 26,
    SECTION_STRAT_DATA = 27,
    SECTION_NAMESPACE = 28,
    SECTION_OPTIMIZE_SETTINGS = 29,
    SECTION_COUNT = 30
};

enum {
    COMPILER_MAX_FILE_LEVELS = 32, /* include depth at which recursion stops */
    COMPILER_CONDITION_SLOTS = 32, /* #if nesting slots per file level */
    SCRIPT_NAME_GROW = 10,
    INCLUDED_FILE_GROW = 2
};

struct ScriptNameRow {
    char name[80];
    int32_t section; /* SectionId; negative for preprocessor names */
};

struct DefinedNameRow {
    char name[80];
    int32_t tag; /* -1 for "#define" names */
};

struct CompilerState {
    ScriptNameRow *scriptNames; /* script-name list */
    int32_t scriptNameCount;
    int32_t scriptNameCapacity;
    char (*includedFiles)[PATH_SIZE]; /* included-file list */
    int32_t includedFileCount;
    int32_t includedFileCapacity;
    int32_t includeDepth;         /* also the file level a compiling formula makes current */
    DefinedNameRow *definedNames; /* the preprocessor's defined names */
    int32_t definedNameCount;
    int32_t conditionNesting;
    int32_t conditions[COMPILER_MAX_FILE_LEVELS][COMPILER_CONDITION_SLOTS]; /* 0, 1 or -1 */
    int32_t pendingError;                                                   /* compile error the preprocessor leaves for the parser */
};

/* What the compile driver sets before it parses the first file. */
struct CompileSession {
    int32_t mode;                         /* RunMode */
    int32_t pass;                         /* 1 before the data file is loaded, 2 after */
    int32_t sectionFilter;                /* 0: all sections; else only this section may appear */
    int32_t collectText;                  /* 1: the parser appends each file to the collected script text */
    int32_t sectionCounts[SECTION_COUNT]; /* headers met per section during this compile */
};
