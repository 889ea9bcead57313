/* definitions.h -- the compiled script's lists of definitions and the rules by
** which formulas find them.
**
** A script defines named things in several sections; formulas refer to them
** by name.  There is no script object: the lists are program-wide, kept in
** gScript (script_state.h) from one compile to the next (a reset returns the
** count to 0 and keeps the allocation), and read by the engine and the views
** for as long as a compile lasts.
**
** Owns:       the rules of the lists held in gScript: the strategy list's growth
**             (gStrategies), the item lists (Data, TestData, StratData, Library:
**             FormulaItem), the column lists (Results, Graphs, Charts, Trades,
**             Scan, TestScan: FormulaColumn) with the sort lists of Trades, Scan
**             and TestScan and the filter numbers of Scan and TestScan, the
**             Parameters list (with its second copy for the optimizer and the
**             walk-forward dates), the strategy records, and the four stand-alone
**             formulas (the Import filter, SkipTestIf, TestName, OrdersComment).
** Invariants: records of a list are contiguous; count <= capacity; records at
**             count .. capacity - 1 are reset and reused before the list grows.
**             A definition's name is its slot's name, already qualified by the
**             namespace in force where it was defined.
** Visibility: which sections may see which definitions, and the order rules
**             within a section, are applied by the formula compiler to what
**             FindScriptDefinition answers.
** Errors:     lookups answer 0 for "not found"; growing a list returns -1 when
**             the allocator fails (its sticky flag stays set, nothing reported).
** Threads:    UI thread only (compile); workers read compiled lists afterwards.
** Sizes:      tens to a few hundred definitions per list; lookups are linear.
*/
#pragma once
#include <cstdint>

#include "script/compiler/formula.h"
#include "script/compiler/script_state.h"
#include "script/compiler/strategy.h"

struct FormulaNode;
struct ScriptItem;

/* ---- lookups the formula compiler uses ----------------------------------------------- */

/* The SectionId of the list where name was found (6 Data, 19 TestData, 27
** StratData, 17 Library, or section itself for one of its columns), else 0.
** With a node: the node takes the reference row, category and index. */
uint32_t FindScriptDefinition(const char *name, FormulaNode *node, uint32_t section, const char *nameSpace);
/* 1 when name is a Parameters item; the node takes row 4, category 5, the
** parameter's index and its default value as constant. */
int FindParameterName(const char *name, FormulaNode *node, const char *nameSpace);
/* "Arg1" .. "Arg9": category 4, row 16, index N. */
int ResolveArgName(const char *name, FormulaNode *node);
/* A constituency series of the constituency list: category 9, row 247. */
int ResolveNamedListItem(const char *name, FormulaNode *node);
/* "F.field" or "F.field.date": category 15, row 84 or 85. */
int ResolveFundamentalField(const char *name, FormulaNode *node);

/* The FormulaItem at index of the Data, TestData, StratData or Library list
** (by SectionId), null when there is none. */
FormulaItem *DefinitionItem(uint32_t section, uint32_t index);
/* The formula that a reference node names: rows 183-185 and 248-254 by the
** node's index in the matching list, and the library call 392; null when the
** row is not a reference or the index lies beyond its list. */
FormulaSlot *ReferencedFormula(uint32_t row, uint32_t index);

/* ---- records ------------------------------------------------------------------------ */

/* DefinitionList and StandaloneFormula: script_state.h. */

enum {
    HEADING_SIZE = 80
};

/* One column or definition of a Results, Graphs, Charts, Trades, Scan or
** TestScan section.  The display fields are filled from the formula's brace
** hint; the views add their own fields behind these. */
struct FormulaColumn {
    FormulaSlot formula;
    int32_t format;          /* display format code; 0: the column is not shown */
    int32_t decimals;        /* -1: the format's default */
    uint32_t negativeParens; /* negatives shown in parentheses */
    double barNumber;        /* the number given after "|", 0 when none */
    char heading[HEADING_SIZE];
    uint32_t barFlag;   /* "|" given */
    uint32_t caretFlag; /* "^" given */
    int32_t isText;     /* the Charts item named Text */
    int32_t filter;     /* Trades: 1 for the trade filter; Scan and TestScan: the
                                  filter's number (1, 2, ...); 0 for a column */
    int32_t used;       /* a Results column some marked column needs */
};

/* Parameter, DatedAmount and StrategyRecord: strategy.h. */

/* A list of item ids taken from consecutive rows of the built-in item table. */
struct IndexList {
    uint32_t *values;
    int32_t capacity;
    int32_t count;
    int32_t tag;
};

/* The compiled script's lists (gDataItems .. gTestScanColumns, gParameters,
** the sort lists, the filter counts and the four stand-alone formulas) are
** references into gScript (script_state.h). */

/* ---- list services ---------------------------------------------------------------- */

/* The list that holds the definitions of a section (Parameters for
** WalkForward too), or null; strategies are in gStrategies. */
DefinitionList *DefinitionListFor(uint32_t section);
/* The column list of a column section, or null. */
DefinitionList *ColumnListFor(uint32_t section);
/* The sort list text of Trades, Scan or TestScan, or null. */
char *SortListFor(uint32_t section);
/* Takes the next record of a list, growing it by one record when it is full;
** the record is zeroed when it is new.  Returns its index, or -1 when the
** allocator fails. */
int32_t AddDefinitionRecord(DefinitionList *list, uint32_t recordSize);
/* Clears a formula record for reuse: its nodes (allocations kept), text
** span, names, path and every mark the compiler set. */
void ResetDefinitionSlot(FormulaSlot *slot);
/* Clears one column (its formula, display fields, text and filter marks)
** or one item (its formula, one-value marks; sequence and bar size -1) for
** reuse; node allocations stay. */
void ResetFormulaColumn(FormulaColumn *column);
void ResetFormulaItem(FormulaItem *item);
/* Frees a list's records (the program is closing or the list is dropped). */
void FreeDefinitionList(DefinitionList *list);

/* Empties one section's list before a new parse: columns are reset over the
** whole capacity and their display fields cleared (and, for Trades, Scan and
** TestScan, the sort list emptied; for Scan and TestScan the filter number
** returned to 0); Import returns the import state to its empty form;
** Parameters zeroes every record but its value allocations and empties the
** walk-forward dates.  Other sections: nothing. */
void ResetScriptDefinitions(uint32_t section);
/* Appends a record to gStrategies (growing it by one record, keeping the
** allocation across compiles) and resets it; null when the allocator fails. */
StrategyRecord *AppendStrategyRecord();
/* Frees every record's lists and the records themselves (the program is
** closing); gStrategies is empty afterwards. */
void FreeStrategyRecords();
/* Frees every list the record owns, empties its names and texts, sets kind 0,
** every constant to STRATEGY_CONSTANT_UNSET (CalendarSym and TLEndDate to 0)
** and clears its 74 slots (node allocations kept). */
void ResetStrategyRecord(StrategyRecord *record);

/* Qualifies name in place with the namespace ("ns.name") unless the namespace
** is empty or the name already holds a ".": then 0.  Returns the new length,
** or -1 (name unchanged) when it would be 64 characters or more.  size is the
** name buffer's size. */
int QualifyName(char *name, int size, const char *nameSpace);

/* Checks the sort list of Trades, Scan or TestScan: each comma-separated entry
** (after an optional "+" or "-") is a built-in sort name of the section or the
** name or heading of a shown column.  The first entry that is neither, or whose
** qualified name would be too long, is copied to badName (size badSize) and 0
** returned; 1 when all pass.  Any other section gives 0.  The list is unchanged. */
int ResolveColumnList(uint32_t section, char *badName, int badSize, const char *nameSpace);

/* Allocates n item ids copied from the id of n consecutive item-table rows,
** with capacity and count n and the tag.  0 when the allocation fails. */
int InitIndexList(IndexList *list, const ScriptItem *rows, int32_t n, int32_t tag);
