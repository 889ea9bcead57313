/* formula.h -- compiled formulas and the formula compiler.
**
** A formula is a span of script text.  CompileFormula splits it into tokens,
** binds each to a built-in item, a definition, a parameter or a name-table
** entry, checks it and stores it as a flat array of nodes in text order
** (operators stay between their operands; the evaluator climbs precedences
** over the array), ended by a node whose item is 0.
**
** Owns:       the node arrays of every FormulaSlot (through the tracked
**             allocator); the scratch formula shared by the debug panel and
**             the trade plots, with its three error globals.
** Invariants: all 32 node arrays of a slot have the same capacity and, once
**             compiled, the same contents; array k belongs to worker slot k,
**             so evaluation on workers takes no lock.  count 0 means "not
**             compiled yet"; a compiled slot is never compiled again until
**             reset.
** Errors:     1 success, 0 failure.  A syntax or binding failure has been shown
**             through ShowFormulaError; out of memory returns 0 silently with
**             the allocator's sticky flag set.
** Threads:    compiling is for the UI thread while no worker runs.
*/
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

enum {
    FORMULA_WORKER_COPIES = 32,
    FORMULA_TEXT_SIZE = 80,
    FORMULA_NAME_SIZE = 64,
    FORMULA_MAX_ARGS = 64
};

/* Unary operator of a node, applied to its value. */
enum UnaryOp : uint32_t { UNARY_NONE = 0,
                          UNARY_NEGATE = 1,
                          UNARY_NOT = 2 };

/* The constants of the named relative symbols "&cc", "&ccb" and "&cii". */
enum RelativeSymbolCode { RELATIVE_CC = 97,
                          RELATIVE_CCB = 98,
                          RELATIVE_CII = 99 };

/* What a value measures, so that splits adjust it and equal prices compare
** within a tolerance; carried from a node to the Data item that stores it. */
enum ValueDataType : uint32_t {
    DATA_TYPE_NONE = 0,
    DATA_TYPE_PRICE = 1,
    DATA_TYPE_VOLUME = 2,
    DATA_TYPE_EXTERN_PRICE = 3,
    DATA_TYPE_EXTERN_VOLUME = 4
};

/* The text of a data type in logs: "price", "volume", "extern price",
** "extern volume"; "" for none or an unknown type. */
const char *DataTypeName(uint32_t dataType);

/* Constant of a $ or @ reference that is not resolved yet. */
constexpr double UNRESOLVED_REF = -7.0;

/* The evaluator's plan of a whole formula for the walk bar by bar: its
** operand tree in evaluation order, built at the first evaluation of a node
** array and kept in the array's end node, which needs no argument links.  It
** refers to nodes by their index only, so it stays right when the array is
** copied; clearing the array clears it.  The compiler leaves it zero. */
struct WalkPlanStep {
    uint8_t kind; /* the evaluator's step code: the kind of step with its bar value or operator */
    uint8_t unary;
    uint8_t dataType;
    uint8_t left, right; /* steps of the operands or of a group's content */
    uint8_t node;        /* index of a constant's node */
    int32_t barsBack;
};
enum { WALK_PLAN_STEPS = 20 };
struct WalkPlan {
    uint32_t state; /* 0 not built yet, 1 ready, 2 the formula has none */
    uint32_t count;
    WalkPlanStep steps[WALK_PLAN_STEPS];
};

/* One node of a compiled formula.  What the evaluator reads or writes on
** every bar comes first and fills one 64-byte line; the token's text, the
** argument links and the source span, read by calls and messages, follow. */
struct FormulaNode {
    /* ---- read on every bar */
    double value;          /* result while evaluated; final for folded constants */
    uint32_t item;         /* item-table row; 0 ends the array */
    uint32_t category;     /* ItemCategory; 5 for a parameter */
    uint32_t precedence;   /* operators */
    uint32_t unary;        /* UnaryOp */
    uint32_t constantFlag; /* 1: this node alone is a complete constant or text sub-expression */
    uint32_t width;        /* distance from a term's first node to its last */
    uint32_t barsBackLink; /* distance from a term's first node to its "[" expression, 0 none */
    uint32_t dataType;     /* ValueDataType */
    uint32_t textFlag;     /* 1 for a quoted text */
    uint32_t evaluated;    /* 1 when value holds the node's result */
    uint32_t index;        /* position of the bound definition, column or parameter */
    double constant;       /* number, text length, bar size, relative-symbol code,
                               ** parameter value, symbol/strategy number or UNRESOLVED_REF */
    /* ---- read by calls, references and messages */
    char text[FORMULA_TEXT_SIZE]; /* name of a $ or @ reference, or a quoted text */
    int32_t argCount;             /* minimum after binding, actual after the function pass */
    int32_t maxArgs;              /* from the item table (10 for a library call) */
    uint32_t operandCategory;     /* multi-bar functions: 9, 18 or 19 of the first such argument node */
    union {
        uint32_t argLinks[FORMULA_MAX_ARGS]; /* distance from a function node to each argument */
        WalkPlan walkPlan;                   /* the end node only */
    };
    uint32_t textOffset; /* token span in the whole script text */
    uint32_t textLength;
};
static_assert(sizeof(FormulaNode) == 424, "formula node layout");
static_assert(sizeof(WalkPlan) <= FORMULA_MAX_ARGS * sizeof(uint32_t), "a plan fits in the argument links");
static_assert(offsetof(FormulaNode, text) == 64, "the fields read on every bar fill the first 64 bytes");

/* One formula: the master node array, 31 worker copies and what the compile
** recorded about it. */
struct FormulaSlot {
    FormulaNode *nodes[FORMULA_WORKER_COPIES]; /* [0] master, [k] worker slot k */
    int32_t capacity;                          /* nodes allocated in each array */
    int32_t count;                             /* nodes before the end node; 0: not compiled */
    const char *scriptText;                    /* the whole text of the script file that holds the formula */
    int32_t start;                             /* offset of the formula's first character */
    int32_t length;                            /* characters of the formula text */
    char nameSpace[FORMULA_NAME_SIZE];
    char name[FORMULA_NAME_SIZE];
    char path[PATH_SIZE];         /* the script file that defined it */
    uint32_t slowCalc;            /* began with #SlowCalc */
    uint32_t resultFormat;        /* display format code, filled at the first evaluation */
    uint32_t breadthFunction;     /* row of the cross-sectional function that began it, 0 none */
    uint32_t grouping;            /* row of #ByMkt .. #ByListNum, 0 none */
    double percentRankN;          /* the number given to #PercentRankN */
    uint32_t strategyNumber;      /* 1-based owning strategy, 0 none */
    uint32_t definitionSection;   /* SectionId whose own columns a name may refer to */
    uint32_t sameSectionRef;      /* refers to a definition of its own section */
    uint32_t usesPrevExits;       /* uses PrevExitLimit or PrevExitStop */
    int32_t includeDepth;         /* include depth at the definition */
    /* marks of the shared sub-expression pass */
    uint32_t sharedSeries; /* one shareable call by itself, generated by sharing, or DllDataCalc */
    uint32_t onePass;      /* one-pass cumulative */
};

/* One named item of a Data, TestData, StratData or Library section. */
struct FormulaItem {
    FormulaSlot formula;
    int32_t onePerDate;   /* one value per date for all symbols */
    int32_t onePerSymbol; /* one value per symbol for all dates */
    int32_t sequence;     /* order in which Data items were compiled; -1 reset */
    int32_t barSize;      /* -1 reset: the settings' bar size applies */
};

/* One token, alive only while a formula compiles. */
struct FormulaToken {
    char text[FORMULA_TEXT_SIZE]; /* name or operator text; empty for the other kinds */
    uint32_t offset;              /* from the start of the whole script text */
    uint32_t length;
    uint32_t kind; /* TokenKind */
    double value;  /* numbers and relative symbols */
};

enum TokenKind : uint32_t {
    TOKEN_NAME = 0, /* name or operator */
    TOKEN_NUMBER = 1,
    TOKEN_QUOTED = 2,    /* span covers the characters between the quotes */
    TOKEN_REFERENCE = 3, /* $symbol, @strategy, ~barsize; span covers the name */
    TOKEN_RELATIVE = 4   /* &relative symbol */
};

/* The debug panel's formula, shared with the trade-plot formula.  When a
** compile of it fails, the code and span of the error stay here so that the
** panel can select the error in its own edit field. */
extern FormulaSlot gScratchFormula;
extern int32_t gScratchErrorCode;
extern int32_t gScratchErrorOffset;
extern int32_t gScratchErrorLength;

/* Compiles the slot under the rules of section (0: no section) as the item at
** definitionIndex of that section's list.  1 at once when already compiled. */
int CompileFormula(FormulaSlot *slot, uint32_t section, int32_t definitionIndex);

/* Grows all 32 arrays to n nodes (added part zeroed); nothing when already
** that large; fails at once while the allocator's failure flag is set. */
int EnsureNodeCapacity(FormulaSlot *slot, int32_t n);
/* Zeroes all 32 arrays over their capacity and sets count 0 (allocations stay). */
void ClearFormulaNodes(FormulaSlot *slot);
/* Frees the 32 arrays (the slot's owner is going away). */
void FreeFormulaNodes(FormulaSlot *slot);
/* Removes n nodes here, moving every later node down, the end node included. */
void RemoveFormulaNodes(FormulaNode *node, int32_t n);

/* First row (0..417) whose name or alias equals name, case ignored; 0 when
** none.  With a node, copies row, category, minimum and maximum into it. */
uint32_t FindScriptItem(const char *name, FormulaNode *node);

/* Comment and preprocessor-line skipping; see formula.cpp.  The record is the
** compiler state (or an editor's), or null. */
struct CompilerState;
int SkipComment(const char **pText, CompilerState *state);

bool IsTokenDelimiter(char c);
bool IsNameDelimiter(char c);
int IsNumberText(const char *text, int allowNegative, int wholeText);
int IsValidName(const char *text, int n);
/* Reads a name (white space dropped) into out; 0, 11 (too long) or 14 (not a name). */
int ReadNameToken(char *out, int outSize, const char *text, int length);
void MakeIdentifier(char *text);
int HasFileExtension(const char *path, const char *extension);

/* The longest prefix of text that reads as a floating-point number in the
** standard form (sign, digits, point, exponent; also "nan"); its length, 0 if
** none, with the value. */
int ReadNumberPrefix(const char *text, double *value);

/* gChartsUseDataItems and gGraphsUseDataItems (script_state.h) are set when a
** Charts or a Graphs formula uses a Data item; the views read them to know
** that their windows need the Data sections calculated. */
