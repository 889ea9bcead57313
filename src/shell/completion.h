/* completion.h -- the text side of the script editor's typing aids: list
** entries with their image numbers, the filter by typed text, the value after
** a line's keyword colon, and the call tip of built-in functions with the
** span of the current argument.  The editor window shows what these compute.
**
** Entries:    "name[:][ -- description]?image", joined by '|' in a choice
**             buffer; an entry is added only when the whole of it fits, so a
**             long description never runs past the buffer.
** Threads:    UI thread; no state of its own.
*/
#pragma once
#include <cstdint>

enum { CHOICE_BUFFER_SIZE = 10000,
       CHOICE_ENTRY_RESERVE = 128 };

/* Entry categories beyond the item categories. */
enum {
    ENTRY_CATEGORY_PARAMETER = 5,
    ENTRY_CATEGORY_KEYWORD = 22,
    ENTRY_CATEGORY_BAR_SIZE = 23,
    ENTRY_CATEGORY_AMPERSAND = 24,
    ENTRY_CATEGORY_SYMBOL = 25,
    ENTRY_CATEGORY_STRATEGY = 26
};

/* A growing '|'-separated list of entries. */
struct ChoiceBuffer {
    char text[CHOICE_BUFFER_SIZE];
    int32_t length;
};

/* Appends the entry of name in category (description shown when withDescription
** and description is not empty).  Returns 1 when added; 0 when the buffer is
** too full (its length plus 128 reached 10000, or the entry does not fit) or
** the category drops the name (an operator that does not begin with a letter). */
int FormatAutocompleteEntry(ChoiceBuffer *buffer, const char *name, const char *description, int32_t category,
                            int withDescription);
/* Empty typed text matches; 3 or more characters match anywhere, fewer the
** start; case ignored. */
int MatchesTypedText(const char *name, const char *typed);
/* Appends every matching, non-empty name of names[0..count) with image 12. */
void AppendMatchingChoices(ChoiceBuffer *buffer, const char *typed, const char *const *names, int32_t count);

/* The value after the keyword colon of line[0..length) (1 to 255 characters):
** from its first non-blank character, trailing blanks cut, into out.  Returns
** 1, or 0 when the line has no such colon or is out of range. */
int LineValueText(const char *line, int32_t length, char *out, int32_t outSize);

/* The built-in item row whose call tip belongs at the caret: the name directly
** before the '(' still open at caret in line[0..caret); 0 when none or when
** the item is no function (categories 11, 12, 14, 20, 21). */
uint32_t CalltipItemAt(const char *line, int32_t caret, int32_t *nameStart);
/* The tip text of row: its syntax, or "%s {or %s}" with the alias. */
int32_t CalltipText(uint32_t row, char *out, int32_t outSize);
/* The index of the argument at caret: commas at depth 0 back to the open '('. */
int32_t CurrentArgumentIndex(const char *line, int32_t caret);
/* The span in syntax of argument index: after the (index+1)-th '(' or ',' up
** to the next ',' or ')' or the end.  0 when the syntax has too few. */
int CalltipHighlightSpan(const char *syntax, int32_t index, int32_t *start, int32_t *end);
