/* ranges.h -- optimization ranges and column display hints.
**
** Two small readers of script text.  ExpandOptimizationRange turns a
** parameter's "from A to B step S" text into the values the optimizer walks
** through; ParseFormatSpec reads the brace hint at the head of a column's
** formula ("{$2 'Profit'}") into the column's display fields.
** Errors:     ExpandOptimizationRange answers with counts and negative codes
**             (below); it reports nothing.  ParseFormatSpec cannot fail.
** Platform:   none.  UI thread (compile and the debug panel).
** Sizes:      at most RANGE_MAX_VALUES values per range.
*/
#pragma once
#include <cstdint>

struct Parameter;
struct FormulaColumn;

enum {
    RANGE_MAX_VALUES = 1000000,
    RANGE_NOT_A_RANGE = 0,      /* the text is a plain value list */
    RANGE_BAD = -1,             /* descending, a step of 0 or less, a factor of 1 or less,
                                     a factor applied to a start of 0 or less, or a
                                     number that is not finite (too large to read) */
    RANGE_STEP_AND_MULT = -2,   /* both "step" and "mult" given */
    RANGE_TOO_MANY = 2147483647 /* more than RANGE_MAX_VALUES values, or values
                                     that stop growing (a step below their precision) */
};

/* Reads "from A to B" with up to three clauses "step S", "mult M", "round R"
** and "def D" (words without case, comments ignored) from the first length
** characters of text (length < 0: up to the NUL).  Returns the number of
** values, RANGE_NOT_A_RANGE, RANGE_BAD, RANGE_STEP_AND_MULT, or RANGE_TOO_MANY
** when the range holds more than RANGE_MAX_VALUES values or its values stop
** growing (nothing is cut silently).  With values, at most room values are written (the default, when
** given, first) and the count stops at room; a room below 1 returns 0 at once.
** With a parameter, its range flag is cleared and set again when values were
** found. */
int ExpandOptimizationRange(const char *text, int length, Parameter *parameter, double *values, int room);
/* The values the last ExpandOptimizationRange walked, counted or skipped (0
** when it walked none).  A walk takes at most RANGE_MAX_VALUES + 1 steps. */
int RangeWalkSteps(void);

/* Reads the display hint in the first length characters of text (the
** column's formula) into the column's format, decimals, negative-in-
** parentheses mark, "|" number and flag, "^" flag and heading.  A column whose
** name begins with "_" is not shown (format 0); one without a format, text
** mark or filter mark shows as a number (format 2); without a heading the name
** is the heading.  The text is not changed. */
void ParseFormatSpec(const char *text, int length, FormulaColumn *column);
/* Clears the display fields a hint fills: format 0, decimals -1, no marks,
** no "|" number and no heading. */
void ClearColumnHint(FormulaColumn *column);
