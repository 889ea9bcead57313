/* compile_driver.h -- compiling a script file, with the scripts it includes,
** into the compiled script the rest of the program reads.
**
** There is no script object: every result lands in the program-wide lists of
** definitions.h (items, columns, parameters, strategy records, the four
** stand-alone formulas), in gScriptSettings and in the program settings, and
** every compile starts by emptying them.  CompileScript is the entry; the run
** driver calls it before the data file is loaded (pass 1) and again after
** (pass 2).  IncludeScriptFile reads and parses one file and, for the
** top-level file, compiles every formula in a fixed section order.  After
** parsing, CompileScript links the strategy records (Using lists, StatsGroup
** membership, tracker benchmarks, the combined record), applies the strategy
** defaults, checks the orders files and fills missing Results, Graphs, Trades
** and Charts definitions from the default section scripts (Results.kvs and
** the like in the scripts folder, else in the program folder).
**
** Owns:       gCompileSession (mode, pass, section filter, collect-text flag,
**             section-present counts), the script texts the compiled formulas
**             point into (kept until the next compile, or until that default
**             section script is loaded again), the default section sources
**             (path and last-write time for Results, Graphs, Charts, Trades),
**             gCombinedIndex, gSlatewickTradesPath, gDataItemSequence and the
**             current-script path.
** Lasting:    the program settings a script changes are saved before the parse
**             (SaveRunSettings, settings_items.h); the run driver puts them
**             back with RestoreRunSettings when the run ends.
** Errors:     1 success, 0 failure after exactly one message; parsing and
**             compiling stop at the first error.  After a failure the lists
**             hold what compiled up to the error (a failing list's count is cut
**             at the failing item); the next compile resets everything.  The
**             compile state (gCompiler) is freed on every return.
** Threads:    UI thread only, while no worker runs.
** Sizes:      scripts of hundreds to a few thousand lines, includes at most 31
**             levels deep counting the script itself.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "script/compiler/script_state.h"

struct CompilerState;

enum {
    MAX_INCLUDE_DEPTH = 31,     /* file levels, the top-level script included */
    DEFAULT_SECTION_SCRIPTS = 4 /* Results, Graphs, Charts, Trades */
};

/* gCombinedIndex, gSlatewickTradesPath and gDataItemSequence: script_state.h. */

/* Where a default section script last came from. */
struct DefaultSectionSource {
    char path[PATH_SIZE];
    PlatDateTime written; /* last-write time, local; zero when never read */
};
/* Indexed by section id - 2: Results, Graphs, Charts, Trades. */
extern DefaultSectionSource gDefaultSectionSources[DEFAULT_SECTION_SCRIPTS];

/* Compiles the script at path for the RunMode mode; pass 2
** when the data file is loaded, else 1.  1, or 0 after the failure was
** reported. */
int CompileScript(const char *path, int mode, int pass);

/* Reads, parses and (at depth 1) compiles one file, resolved against the
** scripts folder, with the namespace buffer (64 characters) in force.  A file
** already read in this compile is not read again (1). */
int IncludeScriptFile(const char *path, char *nameSpace);

/* Frees the compile state's lists (names, included files, defined names) and
** clears the whole record. */
void ResetIncludeState();

/* Adds path to the state's included-file list; 1, 0 when the list cannot
** grow; without a state nothing happens and 1 is returned. */
int AddIncludedFile(const char *path, CompilerState *state);
/* 1 when the state's included-file list holds path (case ignored). */
int IsFileIncluded(const char *path, const CompilerState *state);

/* The path named on an include line (up to the line end, '{', '/' or a ':'
** that is not a drive's; a header word standing before such a ':' is not part
** of it), trailing delimiters trimmed and resolved against the scripts folder.
** 1 with outPath (PATH_SIZE bytes), 0 when there is none. */
int ExtractIncludePath(const char *text, char *outPath);

/* Loads the default section script of Results (2), Graphs (3), Charts (4) or
** Trades (5) into that section's list.  -1 on failure, 1 when the file's
** last-write time differs from the one remembered, else 0 (also when the file
** exists in neither folder: the section then stays empty). */
int LoadDefaultSectionScript(int section);
/* Loads the default script of every one of Results, Graphs, Trades and Charts
** whose list is empty and refreshes the windows of a section whose file
** changed.  1, or 0 when a default script fails. */
int LoadMissingDefaultScripts();
/* For each of Results, Graphs, Charts and Trades that the compiled script
** itself defines, makes path the section's source and refreshes the windows
** of that section when the file's last-write time changed. */
void CheckDefaultScriptChanged(const char *path);

/* Marks every parameter with two or more values preselected when the
** script's path or its Parameters (names and values) changed since the
** Optimizer dialog last opened, none otherwise. */
void PreselectParameters(const char *script);
/* The Optimizer dialog opened: later compiles preselect nothing until the
** script's parameters change again. */
void ClearParameterPreselection();

/* The path of the default section script of section as CompileScript tests
** it: in the scripts folder, or in the program folder when it is not there. */
void DefaultSectionScriptPath(int section, char *outPath);

/* ---- what the driver asks of the shared data pass (shared_subexpr.cpp) ---------- */

struct FormulaItem;
/* Bar size of a Data or TestData item from a bar-size word leading its name. */
void ResolveItemBarSize(FormulaItem *item);
/* The automatic one-value-per-date and per-symbol marks of an item. */
void CountItemReferences(FormulaItem *item);
/* The sharing walk of the Data item at index; 1, 0 when memory runs out. */
int ShareDataItem(int32_t index);
/* Marks the Results column at index used, with the Results columns it refers to. */
void MarkResultsColumnUsed(int32_t index);
