/* script_state.h -- the compiled script in one record: its definition lists,
** stand-alone formulas, strategy records, the texts its formulas point into,
** the compile driver's words and the compiler's working record, with the one
** reset that a compile, the program's close and the tests use.
**
** Owns:       gScript.  The names the rest of the program reads (gDataItems,
**             gStrategies, gCompiler, gCompileSession, ...) are references
**             into it, bound at compile time.
** Invariants: list records are contiguous with count <= capacity; records at
**             count .. capacity - 1 are reset and reused before a list grows.
**             Formula texts point into kept script texts, which live until the
**             next compile reads its own.
** Threads:    UI thread only; workers read the compiled lists during a run.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/formula.h"

struct StrategyRecord;

/* The header of one list of definitions. */
struct DefinitionList {
    void *items;      /* contiguous records, through the tracked allocator */
    int32_t capacity; /* records allocated; kept across compiles */
    int32_t count;    /* records in use */
};

enum {
    SORT_LIST_SIZE = 256 /* a sort list holds up to 255 characters */
};

/* A formula outside every list, with the settings section it stands in. */
struct StandaloneFormula {
    FormulaSlot formula;
    int32_t section;
};

/* A script text the compiled formulas point into, with the section filter of
** the compile that read it (0 for the main script). */
struct KeptScriptText {
    char *text;
    int32_t owner;
};

struct ScriptState {
    /* ---- definition lists (records: definitions.h, strategy.h) ---- */
    DefinitionList dataItems;      /* FormulaItem */
    DefinitionList testDataItems;  /* FormulaItem */
    DefinitionList stratDataItems; /* FormulaItem */
    DefinitionList libraryItems;   /* FormulaItem */
    DefinitionList resultsColumns; /* FormulaColumn */
    DefinitionList graphsColumns;
    DefinitionList chartsColumns;
    DefinitionList tradesColumns;
    DefinitionList scanColumns;
    DefinitionList testScanColumns;
    DefinitionList parameters;       /* Parameter */
    DefinitionList parameterCopies;  /* Parameter, the optimizer's second list */
    DefinitionList walkForwardDates; /* int32 dates */
    char tradesSort[SORT_LIST_SIZE];
    char scanSort[SORT_LIST_SIZE];
    char testScanSort[SORT_LIST_SIZE];
    int32_t scanFilterCount;
    int32_t testScanFilterCount;
    /* ---- stand-alone formulas ---- */
    StandaloneFormula importFilter; /* the Import section's ExcludeIf */
    StandaloneFormula skipTestIf;
    StandaloneFormula testNameFormula;
    StandaloneFormula ordersComment;
    int32_t chartsUseDataItems; /* a Charts formula uses a Data item */
    int32_t graphsUseDataItems; /* a Graphs formula uses a Data item */
    /* ---- strategy records, numbered from 1 (strategies[n - 1]) ---- */
    StrategyRecord *strategies;
    int32_t strategyCount;
    int32_t strategyCapacity;
    int32_t combinedIndex;         /* the combined record, -1 when the script has no aggregate */
    char slatewickTradesPath[PATH_SIZE]; /* the Slatewick trades file of an orders run, else "" */
    char ordersPathTooLong[32];    /* the orders path an orders run made whole that does not fit, else "" */
    int32_t dataItemSequence;      /* next Data item definition sequence number */
    /* The script files the last compile read (the script, what it includes and
    ** the automatic include), kept until the next compile: a run's order files
    ** must not be written over one of them. */
    char (*scriptFiles)[PATH_SIZE];
    int32_t scriptFileCount;
    /* ---- script texts the formulas point into ---- */
    KeptScriptText *texts;
    int32_t textCount;
    int32_t textCapacity;
    int32_t textsReserved; /* places promised to parses still running (includes nest) */
    /* ---- what a recompile keeps: the Parameters the Optimizer dialog last
    ** saw, so that a change of them preselects the parameters again ---- */
    uint64_t parameterSignature; /* of the script path and its Parameters, 0 before the first compile */
    int32_t parametersChanged;   /* they changed since the Optimizer dialog last opened */
    /* ---- the running compile ---- */
    CompileSession session;
    CompilerState compiler;
};
extern ScriptState gScript;

enum ScriptReset {
    SCRIPT_RESET_KEEP_MEMORY = 0, /* a compile: every list empty, allocations kept for reuse */
    SCRIPT_RESET_RELEASE = 1      /* the program closes, or a test ends: everything freed */
};
/* Returns the compiled script, its script settings, the import state and the
** parser's state to their empty form. */
void ResetScriptState(ScriptReset how);

/* ---- the names the program reads ------------------------------------------------- */

inline DefinitionList &gDataItems = gScript.dataItems;
inline DefinitionList &gTestDataItems = gScript.testDataItems;
inline DefinitionList &gStratDataItems = gScript.stratDataItems;
inline DefinitionList &gLibraryItems = gScript.libraryItems;
inline DefinitionList &gResultsColumns = gScript.resultsColumns;
inline DefinitionList &gGraphsColumns = gScript.graphsColumns;
inline DefinitionList &gChartsColumns = gScript.chartsColumns;
inline DefinitionList &gTradesColumns = gScript.tradesColumns;
inline DefinitionList &gScanColumns = gScript.scanColumns;
inline DefinitionList &gTestScanColumns = gScript.testScanColumns;
inline DefinitionList &gParameters = gScript.parameters;
inline DefinitionList &gParameterCopies = gScript.parameterCopies;
inline DefinitionList &gWalkForwardDates = gScript.walkForwardDates;
inline char (&gTradesSort)[SORT_LIST_SIZE] = gScript.tradesSort;
inline char (&gScanSort)[SORT_LIST_SIZE] = gScript.scanSort;
inline char (&gTestScanSort)[SORT_LIST_SIZE] = gScript.testScanSort;
inline int32_t &gScanFilterCount = gScript.scanFilterCount;
inline int32_t &gTestScanFilterCount = gScript.testScanFilterCount;
inline StandaloneFormula &gImportFilter = gScript.importFilter;
inline StandaloneFormula &gSkipTestIf = gScript.skipTestIf;
inline StandaloneFormula &gTestNameFormula = gScript.testNameFormula;
inline StandaloneFormula &gOrdersComment = gScript.ordersComment;
inline int32_t &gChartsUseDataItems = gScript.chartsUseDataItems;
inline int32_t &gGraphsUseDataItems = gScript.graphsUseDataItems;
inline StrategyRecord *&gStrategies = gScript.strategies;
inline int32_t &gStrategyCount = gScript.strategyCount;
inline int32_t &gStrategyCapacity = gScript.strategyCapacity;
inline int32_t &gCombinedIndex = gScript.combinedIndex;
inline char (&gSlatewickTradesPath)[PATH_SIZE] = gScript.slatewickTradesPath;
inline char (&gOrdersPathTooLong)[32] = gScript.ordersPathTooLong;
inline int32_t &gDataItemSequence = gScript.dataItemSequence;
inline char (*&gScriptFiles)[PATH_SIZE] = gScript.scriptFiles;
inline int32_t &gScriptFileCount = gScript.scriptFileCount;
inline CompileSession &gCompileSession = gScript.session;
inline CompilerState &gCompiler = gScript.compiler;
