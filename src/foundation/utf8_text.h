/* utf8_text.h -- the program's text between UTF-8 and code page 1252.
**
** Names and pages are UTF-8 in both builds.  Text saved by an editor in the
** Windows code page 1252 (a script, a settings file) is read letter by
** letter: a well-formed UTF-8 sequence is itself, any other byte above 127
** its 1252 character, so both programs read one name from the same bytes.
*/
#pragma once
#include <cstddef>
#include <string>

#include "platform/platform.h"

/* length bytes of program text in UTF-8, letter by letter as names are read
** (PlatNameLetter): well-formed UTF-8 sequences as they are, every other
** byte above 127 as its Windows-1252 character. */
std::string PageText(const char *text, size_t length);

/* A name in text[size] made UTF-8 in place as PageText reads it; 1 done
** (nothing changes in a name that is UTF-8 already), 0 when the UTF-8 name
** does not fit (text unchanged). */
int NameToUtf8(char *text, size_t size);

/* The length of text cut to at most max bytes without cutting a letter. */
size_t Utf8CutLength(const char *text, size_t max);

/* ---- texts counted in letters -------------------------------------------
** Script texts are UTF-8: a length, a position or a cut counts letters, each
** one to four bytes, read as names are (PlatNameLetter: a well-formed UTF-8
** sequence is one letter, any other byte one letter of its own), and no cut
** falls inside a letter. */

/* The bytes of the letter at text (0 at the end of the text). */
size_t LetterBytes(const char *text);
/* The letters in the first length bytes of text (all of it by default). */
size_t TextLetters(const char *text, size_t length = (size_t)-1);
/* The bytes of the first n letters of text (all of it when it has fewer). */
size_t LetterOffset(const char *text, size_t n);
