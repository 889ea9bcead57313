/* compile_errors.h -- the structure check of a bound formula and the one way
** compile errors reach the user.
**
** Compile errors are small codes: 0 none, 1..97 the texts of CompileErrorText.
** Every part of the script compiler reports through these codes and this table.
**
** Owns:       CompileErrorText (constant); gLastFormulaError, the span the
**             script editor was last asked to select.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

struct FormulaNode;
struct FormulaSlot;

/* The plug-in library's file name without its suffix (the build's
** PLAT_LIBRARY_SUFFIX follows): the library DllDataCalc loads, and the file
** its error names. */
#define PLUGIN_FILE_NAME "radez"

enum CompileError {
    ERR_NONE = 0,
    ERR_EMPTY_FORMULA = 1,
    ERR_UNRECOGNIZED = 2,
    ERR_INCOMPLETE = 3,
    ERR_UNEXPECTED_COMMA = 4,
    ERR_UNEXPECTED_OPERATOR = 5,
    ERR_EXPECTED_OPERATOR = 6,
    ERR_STRUCTURE = 7,
    ERR_NO_OFFSETS = 8,
    ERR_PATH_TOO_LONG = 9,
    ERR_LITERAL_TOO_LONG = 10,
    ERR_NAME_TOO_LONG = 11,
    ERR_NAME_MISSING = 12,
    ERR_STRATEGY_NAME_MISSING = 13,
    ERR_BAD_NAME = 14,
    ERR_QUANTITY_TYPE = 15,
    ERR_BAR_SIZE = 16,
    ERR_STRATEGY_BAR_SIZE_SMALLER = 17,
    ERR_MIXED_BAR_SIZES = 18,
    ERR_UNKNOWN_STRATEGY_NAME = 19,
    ERR_USING_STATS_GROUP = 20,
    ERR_STATS_GROUP_USING_TEMPLATE = 21,
    ERR_EXPECTED_PAREN = 22,
    ERR_ARGUMENT_COUNT = 23,
    ERR_TOO_MANY_ARGUMENTS = 24,
    ERR_EXTERN_ITEM = 25,
    ERR_UNKNOWN_SYMBOL = 26,
    ERR_UNKNOWN_STRATEGY = 27,
    ERR_UNBALANCED = 28,
    ERR_BREADTH = 29,
    ERR_DEFAULT_SCRIPT_SECTION = 30,
    ERR_NOT_IN_SECTION = 31,
    ERR_DEFINED_LATER = 32,
    ERR_SELF_REFERENCE = 33,
    ERR_NOT_IN_COMBINED = 34,
    ERR_NOT_IN_STATS_GROUP = 35,
    ERR_UNKNOWN_STRATEGY_ELEMENT = 36,
    ERR_DATA_FILE_EXTENSION = 37,
    ERR_RESULTS_FILE_EXTENSION = 38,
    ERR_UNKNOWN_SETTING = 39,
    ERR_SETTING_VALUE = 40,
    ERR_EXPECTED_TRUE_FALSE = 41,
    ERR_DATE_FORMAT = 42,
    ERR_UNKNOWN_DATE_FORMAT = 43,
    ERR_NUMBER_FORMAT = 44,
    ERR_DELIMITER = 45,
    ERR_UNKNOWN_IMPORT_ITEM = 46,
    ERR_ONE_EXCLUDE_FILTER = 47,
    ERR_DATA_SOURCE = 48,
    ERR_ADJUSTMENT = 49,
    ERR_PADDING = 50,
    ERR_CONSTITUENCY_SYMBOL = 51,
    ERR_FUNDAMENTAL_NAME = 52,
    ERR_CLASSIFICATION_SCHEME = 53,
    ERR_INDUSTRY_INDEX = 54,
    ERR_INDUSTRY_LEVEL = 55,
    ERR_CSV_FIELD = 56,
    ERR_DUPLICATE_CSV_FIELD = 57,
    ERR_NEEDS_LOCAL_CSV = 58,
    ERR_NEEDS_LOCAL_FILE = 59,
    ERR_NOT_FOR_LOCAL_FILE = 60,
    ERR_NEEDS_NORGATE = 61,
    ERR_SOURCE_FIRST = 62,
    ERR_SECTION_ONCE = 63,
    ERR_DUPLICATE_STRATEGY = 64,
    ERR_DUPLICATE_ELEMENT = 65,
    ERR_NOT_IN_BENCHMARK = 66,
    ERR_USING_TOO_LONG = 67,
    ERR_STRATEGY_SIDE = 68,
    ERR_ENTRY_EXIT_TIME = 69,
    ERR_EXIT_PRICE_TYPE = 70,
    ERR_TRADE_LIST = 71,
    ERR_TRADE_LIST_FIELD = 72,
    ERR_DUPLICATE_TRADE_LIST_FIELD = 73,
    ERR_CASH_FEES_FILE = 74,
    ERR_RESERVED_NAME = 75,
    ERR_NAME_IN_SECTION = 76,
    ERR_NAME_IS_DATA = 77,
    ERR_NAME_IS_TEST_DATA = 78,
    ERR_NAME_IS_STRAT_DATA = 79,
    ERR_NAME_IS_LIBRARY = 80,
    ERR_NAME_IS_PARAMETER = 81,
    ERR_PARAMETER_SYNTAX = 82,
    ERR_STEP_AND_MULT = 83,
    ERR_DESCENDING_LOOP = 84,
    ERR_TOO_MANY_VALUES = 85,
    ERR_WALK_FORWARD_SYNTAX = 86,
    ERR_WALK_FORWARD_COUNT = 87,
    ERR_WALK_FORWARD_NAME = 88,
    ERR_CONSTITUENCY = 89,
    ERR_ONE_PER_SYM_BARS = 90,
    ERR_ONE_PER_IN_BREADTH = 91,
    ERR_PERCENT_RANK_N = 92,
    ERR_SORT_NAME = 93,
    ERR_TRACKER_SETTING = 94,
    ERR_DLL_DATA_CALC_ALONE = 95,
    ERR_DLL_NOT_LOADED = 96,
    ERR_NESTED_TOO_DEEPLY = 97,
    COMPILE_ERROR_COUNT = 98
};

/* Indexed by code; entry 0 is empty.  "\n" shows as a line break. */
extern const char *const CompileErrorText[COMPILE_ERROR_COUNT];

/* The terminator that accepts either "," or ")" (an optional argument of a
** variable-count function). */
enum { TERMINATOR_COMMA_OR_CLOSE = 417 };

/* Brackets, calls and bar offsets nest at most this deep in one formula.
** The check and the evaluator both descend one level of the machine stack
** per level of nesting; a script nesting thousands deep would otherwise
** overflow it (the evaluator's worker threads have the smallest stacks). */
enum { MAX_FORMULA_NESTING = 256 };

/* Checks the sub-expression from *pNode up to the terminator row (0 whole
** formula, 20 ")", 17 ",", 21 "]", 417 "," or ")"), recording argument
** links, bars-back links and widths and folding lone constants.  On return
** *pNode stands at the terminator, or at the node to blame when the code is
** not 0.  A function node makes a misplaced "," or ")" report 23; nesting
** deeper than MAX_FORMULA_NESTING is 97 at the first node too deep. */
int CheckFormulaSyntax(FormulaNode **pNode, uint32_t terminator, FormulaNode *function);

/* Shows a compile error: asks the script editor to open the path and select
** the span (trailing white space left out), then reports the code's text
** titled by the slot ("Error in %s formula:", with the strategy's name for a
** strategy's formula, or "Syntax Error:" without a slot).  Unattended runs
** get the message in the error log, followed by a line "at line %d, column
** %d: %s" with the span's first line when the script's text is known (the
** slot's, else scriptText); when path is not the script the log entry is
** headed with (the running script, else the active one) the line reads
** "at line %d, column %d of <path>: %s".  A detail (when given and not
** empty) follows the code's text after a blank line: what a file the span
** names holds that the code refers to.  Code 0 only selects. */
void ShowFormulaError(int code, const FormulaSlot *slot, int32_t offset, int32_t length, const char *path,
                      const char *scriptText = nullptr, const char *detail = nullptr);

/* What ShowFormulaError last asked the editor to select.  The window shell
** opens the script and selects the span from it; headless runs keep it here
** for tests. */
struct FormulaErrorSelection {
    char path[PATH_SIZE];
    int32_t offset;
    int32_t length; /* after trailing white space was left out */
    int32_t code;
    int32_t requests; /* selections asked for so far */
};
extern FormulaErrorSelection gLastFormulaError;
