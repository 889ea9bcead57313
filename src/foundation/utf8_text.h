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
