/* text_match.h -- small routines on 8-bit C strings: wildcard and keyword
** matching, case-blind search, bounded copies and the bounded formatter.
**
** Case is ignored by folding with toupper/tolower, so only the Latin letters
** fold.  Every routine that writes into a buffer takes its size, never writes
** past it and always terminates.  No allocation; callable from any thread
** except FormatPathBuffer, whose buffer is shared (UI thread only).
*/
#pragma once
#include <cstdarg>
#include <cstddef>

#include "platform/platform.h"

/* Leading characters of text matching pattern ('?' any one character). */
int MatchChars(const char *pattern, const char *text);
/* 1 if the whole text matches ('?' one letter, of one to four bytes in
** UTF-8, '*' any run of letters), case ignored. */
int MatchWildcard(const char *pattern, const char *text);
/* First occurrence of sought in text, case ignored; null when none or text empty. */
const char *FindTextNoCase(const char *text, const char *sought);
/* Copies at most min(maxLen, size - 1) characters (maxLen < 0: size - 1) and
** terminates; returns the count copied.  A maximum below 1 writes an empty
** string and returns that maximum. */
int CopyString(char *dest, int size, const char *src, int maxLen);
/* Index of the first word equal to word (white space around word ignored), -1. */
int FindKeyword(const char *word, const char *const *words, int count);
/* Index of the first word that equals word once its own white space is removed. */
int FindKeywordNoSpaces(const char *word, const char *const *words, int count);
/* Prints into the shared path buffer (cut to fit); returns the length. */
int FormatPathBuffer(const char *format, ...);
extern char gPathBuffer[PATH_SIZE];

/* The bounded formatter: vsnprintf that always terminates and returns the
** length actually written (never more than size - 1). */
int FormatText(char *dest, size_t size, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
int FormatTextV(char *dest, size_t size, const char *format, va_list args);
/* Case-insensitive comparisons (Latin letters only), as _stricmp/_strnicmp. */
int CompareNoCase(const char *a, const char *b);
int CompareNoCaseN(const char *a, const char *b, size_t n);
