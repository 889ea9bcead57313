/* name_tables.h -- the names a script defines, which sections see them, and
** the editor's name scan.
**
** While a script is parsed, and whenever the script editor rescans a window,
** every item and strategy name the script defines goes into a script-name
** list of a CompilerState, tagged with the section that defines it.  The
** editor colours and completes names from it and learns which sections a
** script has from the section counts the scan fills.
**
** Visibility: SectionCanSee follows the formula compiler's own rule, so the
**             editor never shows a name as known where a compile would refuse
**             it:
**               Data       seen from 0, the strategy-like sections, Graphs,
**                          Charts, Trades, Scan, Library, TestScan, TestData,
**                          StratData and Data itself;
**               Library    seen from every section but Results and Import;
**               TestData,  seen from 0, the strategy-like sections, Results,
**               StratData  Graphs, Charts, Trades, Library, TestScan, TestData
**                          and StratData;
**               columns    seen only from their own section;
**               Parameters seen from every section but Import, Parameters and
**                          WalkForward (parameter lines hold no formulas);
**               strategy   seen from 0 and the strategy-like sections (Using
**               names      lists name them);
**             from Import nothing is seen.  A negative referencing section v
**             sees the names whose section is negative and not below v (the
**             preprocessor's names are tagged -1).
** Owns:       nothing; the lists belong to the state passed in.
** Errors:     AddScriptName adds nothing while the allocator is in its failed
**             state; lookups answer 0.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

struct CompilerState;

/* Stores name (79 characters kept) with its section in the first free row of
** the state's list, or in a new row (the list grows by 10 rows). */
void AddScriptName(const char *name, int32_t section, CompilerState *state);
/* 1 when a row with this name (case ignored) is visible to section. */
int FindScriptName(const char *name, int32_t section, const CompilerState *state);
/* 1 when a name defined in definingSection may be used in referencingSection. */
int SectionCanSee(int32_t referencingSection, int32_t definingSection);
/* 1 when text starts with one of the 29 section names (case ignored) directly
** followed by ':', with the section id in *id when asked. */
int MatchSectionHeader(const char *text, int32_t *id);

/* Collects the names a script defines into state's list and counts its
** section headers into counts (SECTION_COUNT values, when given).
**   length <= 0: source is a path, or null for the active untitled script
**     window.  The text comes from the script window that shows the file,
**     else from the file (it must end with ".kvs"; read errors are not
**     shown).  Without a state the window's own record is used (its name and
**     include lists emptied) or a temporary one, and the autoinclude.kvs of the
**     script's folder is scanned first.
**   length >= 1: source is a text of that length; a state is required.
** Included files are scanned once each with the same state, down to 31 levels.
** Returns 1, or 0 when there is nothing to scan. */
int ScanScriptItemNames(const char *source, int32_t *counts, int length, CompilerState *state);
/* The scan keeps the texts of the files it read and reads a file again only
** when its size or time of writing changed; this forgets them all. */
void ResetScriptTextCache();
