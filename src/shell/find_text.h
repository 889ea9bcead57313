/* find_text.h -- the text side of Find, Replace and Find in Files: the find
** text's escapes, one line's search and the line-by-line search of a file's
** text.  The dialogs (win32/) drive them; tests check them natively.
**
** Lines:      Find in Files numbers real lines from 1 and searches each line
**             whole, however long; a hit's item text keeps the line's first
**             characters only.
** Threads:    UI thread; no state of its own.
*/
#pragma once
#include <cstdint>

enum { FIND_TEXT_SIZE = 256,
       FIND_HIT_TEXT_SIZE = 256 };

/* Dialog flags of the find/replace block; whole word and match case are the
** editor component's own search flags too. */
enum {
    FIND_FLAG_DOWN = 1,
    FIND_FLAG_WHOLE_WORD = 2,
    FIND_FLAG_MATCH_CASE = 4,
    FIND_FLAG_FIND_NEXT = 8,
    FIND_FLAG_REPLACE = 16,
    FIND_FLAG_REPLACE_ALL = 32,
    FIND_FLAG_CLOSING = 64
};

/* Copies text into out (outSize bytes, NUL-terminated) with "\n" turned into
** CR LF, "\t" into a tab and "\\" into one backslash; the text itself stays as
** typed, so a repeated search unescapes the same text again.  Returns the
** length written. */
int32_t UnescapeFindText(const char *text, char *out, int32_t outSize);

/* Offset in line[0..length) of the first occurrence of what (case ignored
** unless matchCase) that, with wholeWord, has token delimiters (or the line's
** ends) on both sides; -1 when none. */
int32_t FindInLine(const char *line, int32_t length, const char *what, int matchCase, int wholeWord);

/* Called for each hit: the line number (from 1) and the item text "%.4d: "
** followed by the line (cut to FIND_HIT_TEXT_SIZE - 1 characters). */
typedef void FindHitHandler(void *context, int32_t lineNumber, const char *itemText);

/* Searches text[0..length) line by line (LF ends a line, a CR before it is
** dropped); a line with at least 10 characters that are neither printable nor
** tabs, making up a tenth of it or more, ends the search (a binary file).
** Returns the number of hits. */
int32_t SearchTextLines(const char *text, int32_t length, const char *what, int matchCase, int wholeWord,
                        FindHitHandler *onHit, void *context);
