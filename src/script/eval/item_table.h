/* item_table.h -- the built-in item table: every word of the script language
** that a script does not define itself, one row per item.
**
** Owns:       gScriptItems, constant program data for the whole run.
** Invariants: a row's position is its item id (0..417); row 417 is the end
**             record.  Formula nodes store these ids, so rows are only ever
**             added before the end record with every later id renumbered;
**             CheckItemTable catches a table that was edited carelessly.
** Threads:    read-only; any thread.
*/
#pragma once
#include <cstdint>

struct FormulaNode;
struct EvalContext;

/* What a row is and how the evaluator treats a node of it. */
enum ItemCategory : uint32_t {
    CAT_END = 0,            /* ends a compiled formula */
    CAT_CONSTANT = 1,       /* the node's stored constant */
    CAT_TEXT = 2,           /* the node's stored text */
    CAT_SYSTEM = 3,         /* ?LocalTime .. ?ScriptName */
    CAT_ARGUMENT = 4,       /* Arg1..Arg9; Library item references */
    CAT_PARAMETER = 5,      /* optimization parameter (compiler-given) */
    CAT_OPEN = 6,           /* "(", "[" and "," */
    CAT_CLOSE = 7,          /* ")" and "]" */
    CAT_OPERATOR = 8,
    CAT_BAR_VALUE = 9,
    CAT_BAR_DATE = 10,
    CAT_INDICATOR = 11,
    CAT_MULTI_BAR = 12,
    CAT_BREADTH = 13,       /* cross-sectional items and modifiers */
    CAT_FUNCTION = 14,
    CAT_SYMBOL_INFO = 15,
    CAT_POSITION_INFO = 16,
    CAT_STRATEGY_INFO = 17,
    CAT_STRATEGY_STAT = 18,
    CAT_TRADE_VALUE = 19,
    CAT_TRADE_STAT = 20,    /* closed-trade statistics */
    CAT_SUM = 21            /* sums over setups, orders or positions */
};

/* A built-in function: evaluates the node (its arguments through the node's
** argument links) for the context, bars back counted before the last
** completed bar; 1 with the value in the node, 0 when there is no value. */
typedef int (*ItemImpl)(FormulaNode *node, EvalContext *context, int barsBack);

/* One row.  64 bytes, so that lists of item ids can be taken from
** consecutive rows by stride. */
struct ScriptItem {
    uint32_t id;              /* the row's own index */
    const char *name;         /* empty for rows the compiler creates internally */
    const char *alias;        /* second accepted spelling, or empty */
    uint32_t category;        /* ItemCategory */
    uint32_t precedence;      /* operators: binding strength; categories 11, 12: 1 when an
                              ** identical Data sub-expression may be shared; category 18:
                              ** display format code */
    uint32_t minimum;         /* functions: least arguments; category 18: decimals */
    uint32_t maximum;         /* functions: most arguments (at most 64) */
    ItemImpl impl;            /* always null: the table is constant data; see gItemImpls */
    const char *description;  /* one line of editor help */
    const char *syntax;       /* call pattern, optional arguments with their default in braces */
};
static_assert(sizeof(ScriptItem) == 64, "item rows are read by a 64-byte stride");

enum {
    SCRIPT_ITEM_COUNT = 418,        /* rows, the end record included */
    MAX_FUNCTION_ARGS = 64
};

/* Rows the compiler, the evaluator and the renderer name by number. */
enum ItemId : uint32_t {
    ITEM_END = 0,
    ITEM_NUMBER = 2,
    ITEM_TEXT = 3,
    ITEM_PARAMETER = 4,
    ITEM_STRATEGY_REF = 5,
    ITEM_RELATIVE_SYMBOL = 6,
    ITEM_SYMBOL_REF = 7,
    ITEM_BAR_SIZE = 8,
    ITEM_TRUE = 9,
    ITEM_FALSE = 10,
    ITEM_ARG = 16,
    ITEM_COMMA = 17,
    ITEM_OPEN_PAREN = 18,
    ITEM_OPEN_BRACKET = 19,
    ITEM_CLOSE_PAREN = 20,
    ITEM_CLOSE_BRACKET = 21,
    ITEM_POWER = 22,
    ITEM_PLUS = 26,
    ITEM_MINUS = 27,
    ITEM_NOT = 34,
    ITEM_AND = 35,
    ITEM_OR = 36,
    ITEM_PERCENT_RANK_N = 44,
    ITEM_BY_MKT = 48,
    ITEM_BY_LIST_NUM = 54,
    ITEM_ONE_PER_DATE = 55,
    ITEM_ONE_PER_SYM = 56,
    ITEM_SLOW_CALC = 57,
    ITEM_SYMBOL = 58,
    ITEM_FUNDAMENTAL = 84,
    ITEM_FUNDAMENTAL_DATE = 85,
    ITEM_PREV_EXIT_LIMIT = 99,
    ITEM_PREV_EXIT_STOP = 100,
    ITEM_TRACKER = 115,
    ITEM_STRATDATA_REF = 183,
    ITEM_GRAPHS_COLUMN = 184,
    ITEM_RESULTS_COLUMN = 185,
    ITEM_FUN_BAR = 222,
    ITEM_SPLIT = 241,
    ITEM_CONSTITUENCY = 247,
    ITEM_LIBRARY_REF = 248,
    ITEM_DATA_REF = 249,
    ITEM_TESTDATA_REF = 250,
    ITEM_SCAN_COLUMN = 251,
    ITEM_TESTSCAN_COLUMN = 252,
    ITEM_TRADES_COLUMN = 253,
    ITEM_CHARTS_COLUMN = 254,
    ITEM_DATE_BARS = 337,
    ITEM_EVENT = 340,
    ITEM_IN_LIST = 346,
    ITEM_ITEM = 380,
    ITEM_EXTERN = 382,
    ITEM_SYM_REF = 388,
    ITEM_STRAT_REF = 389,
    ITEM_DLL_DATA_CALC = 391,
    ITEM_LIBRARY_CALL = 392,
    ITEM_END_RECORD = 417
};

extern const ScriptItem gScriptItems[SCRIPT_ITEM_COUNT];

/* The implementation of each function row by item id, null where none is
** installed.  The built-ins fill it at program start (InstallBuiltins); the
** item table itself stays constant and never names a built-in, as the
** built-ins sit above it.  Written only before any evaluation runs. */
extern ItemImpl gItemImpls[SCRIPT_ITEM_COUNT];

/* Every row carries its own index as id.  On the first row that does not,
** reports "Internal Error: Syntax ID mismatch: %s (%d) has %d" and returns 0
** (start-up stops); else 1. */
int CheckItemTable();
/* The same check over any table of rows (the start-up check's rule). */
int CheckItemRows(const ScriptItem *rows, int count);

/* True for the categories whose rows carry an implementation and are
** written as calls: 11, 12, 14, 20 and 21. */
inline bool IsFunctionCategory(uint32_t category)
{
    return category == CAT_INDICATOR || category == CAT_MULTI_BAR || category == CAT_FUNCTION ||
           category == CAT_TRADE_STAT || category == CAT_SUM;
}

/* Rows of the window functions, averages, indicators, trailing stops and
** condition counters, which their implementations and the registration name. */
enum BuiltinItemId : uint32_t {
    ITEM_BAR_VOLUME = 239,
    ITEM_SUM = 255,
    ITEM_SUM_SQ = 256,
    ITEM_PRODUCT = 257,
    ITEM_MA = 258,
    ITEM_STD_DEV = 259,
    ITEM_SKEWNESS = 260,
    ITEM_KURTOSIS = 261,
    ITEM_BB_TOP_F = 262,
    ITEM_BB_BOT_F = 263,
    ITEM_BB_WIDTH_F = 264,
    ITEM_BB_PCT_F = 265,
    ITEM_BB_TREND_F = 266,
    ITEM_RANK = 267,
    ITEM_PERCENT_RANK = 268,
    ITEM_EMA = 269,
    ITEM_ESD = 270,
    ITEM_AEMA = 271,
    ITEM_AESD = 272,
    ITEM_DEMA = 273,
    ITEM_TEMA = 274,
    ITEM_RSI_F = 275,
    ITEM_SAR_F = 276,
    ITEM_WMA = 277,
    ITEM_VWMA = 278,
    ITEM_HMA = 279,
    ITEM_KAMA = 280,
    ITEM_HIGHEST = 281,
    ITEM_LOWEST = 282,
    ITEM_SINCE_HIGH = 283,
    ITEM_SINCE_LOW = 284,
    ITEM_SINCE_TRUE = 285,
    ITEM_UNTIL_TRUE = 286,
    ITEM_WHEN_TRUE = 287,
    ITEM_SUM_SINCE = 288,
    ITEM_COUNT_TRUE = 289,
    ITEM_TRUE_IN_ROW = 290,
    ITEM_ROC = 291,
    ITEM_MEDIAN = 292,
    ITEM_RANK_N = 293,
    ITEM_PERCENT_RANK_N_FN = 294,
    ITEM_LIN_REG = 295,
    ITEM_SLOPE = 296,
    ITEM_Y_INT = 297,
    ITEM_STD_ERR = 298,
    ITEM_CORREL = 299,
    ITEM_SPEARMAN = 300,
    ITEM_CORREL_AVG = 301,
    ITEM_CORREL_MED = 302,
    ITEM_CORREL_MIN = 303,
    ITEM_CORREL_MAX = 304,
    ITEM_CORREL_MIN_SYM = 305,
    ITEM_CORREL_MAX_SYM = 306,
    ITEM_PEAK = 307,
    ITEM_PEAK_BARS = 308,
    ITEM_TROUGH = 309,
    ITEM_TROUGH_BARS = 310,
    ITEM_SEQUENCE = 311,
    ITEM_ATR = 312,
    ITEM_RSI = 313,
    ITEM_RRSI = 314,
    ITEM_CRSI = 315,
    ITEM_ADX = 316,
    ITEM_PDI = 317,
    ITEM_MDI = 318,
    ITEM_HVOL = 319,
    ITEM_STOC = 320,
    ITEM_MACD = 321,
    ITEM_MACDS = 322,
    ITEM_MACDH = 323,
    ITEM_CCI = 324,
    ITEM_OBV = 325,
    ITEM_SIG_SPIKE = 326,
    ITEM_BB_TOP = 327,
    ITEM_BB_BOT = 328,
    ITEM_BB_WIDTH = 329,
    ITEM_BB_PCT = 330,
    ITEM_BB_TREND = 331,
    ITEM_KB_TOP = 332,
    ITEM_KB_BOT = 333,
    ITEM_SAR = 334,
    ITEM_KDSAR = 335,
    ITEM_SUPER_TREND = 336
};
