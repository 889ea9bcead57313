/* text_match.cpp -- wildcard and keyword matching, bounded copies and formats. */
#include "foundation/text_match.h"

#include "foundation/utf8_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

char gPathBuffer[PATH_SIZE];

static int Fold(int c) { return toupper((unsigned char)c); }

int CompareNoCase(const char *a, const char *b)
{
    for (;; a++, b++) {
        int ca = tolower((unsigned char)*a), cb = tolower((unsigned char)*b);
        if (ca != cb || !ca) return ca - cb;
    }
}

int CompareNoCaseN(const char *a, const char *b, size_t n)
{
    for (; n > 0; a++, b++, n--) {
        int ca = tolower((unsigned char)*a), cb = tolower((unsigned char)*b);
        if (ca != cb || !ca) return ca - cb;
    }
    return 0;
}

int MatchChars(const char *pattern, const char *text)
{
    int n = 0;
    for (; text[n]; n++) {
        char p = pattern[n];
        if (!p) break;
        if (p != '?' && Fold(p) != Fold(text[n])) break;
    }
    return n;
}

/* pattern against the whole of text, letter by letter: '?' takes one letter
** of however many bytes, '*' any run of letters. */
static int MatchLetters(const char *p, const char *t)
{
    for (;;) {
        if (*p == '*') {
            while (*p == '*') p++;
            if (!*p) return 1;
            for (;; t += LetterBytes(t)) {
                if (MatchLetters(p, t)) return 1;
                if (!*t) return 0;
            }
        }
        if (!*p || !*t) return !*p && !*t;
        const size_t tb = LetterBytes(t);
        if (*p == '?') {
            p++;
        } else {
            const size_t pb = LetterBytes(p);
            if (pb != tb || (pb == 1 ? Fold(*p) != Fold(*t) : memcmp(p, t, pb) != 0)) return 0;
            p += pb;
        }
        t += tb;
    }
}

int MatchWildcard(const char *pattern, const char *text)
{
    if (!pattern || !text) return 0;
    char work[256];
    CopyString(work, sizeof work, pattern, 255);
    return MatchLetters(work, text);
}

const char *FindTextNoCase(const char *text, const char *sought)
{
    if (!text || !*text) return nullptr;
    if (!sought || !*sought) return text;
    size_t n = strlen(sought);
    for (const char *t = text; *t; t++)
        if (CompareNoCaseN(t, sought, n) == 0) return t;
    return nullptr;
}

int CopyString(char *dest, int size, const char *src, int maxLen)
{
    if (maxLen < 0) maxLen = size - 1;
    if (maxLen > size - 1) maxLen = size - 1;
    if (maxLen < 1) {
        if (size > 0) dest[0] = 0;
        return maxLen;
    }
    int n = 0;
    if (src)
        for (; n < maxLen && src[n]; n++) dest[n] = src[n];
    dest[n] = 0;
    return n;
}

int FindKeyword(const char *word, const char *const *words, int count)
{
    while (*word && isspace((unsigned char)*word)) word++;
    size_t len = strlen(word);
    while (len > 0 && isspace((unsigned char)word[len - 1])) len--;
    for (int i = 0; i < count; i++)
        if (words[i] && strlen(words[i]) == len && CompareNoCaseN(words[i], word, len) == 0) return i;
    return -1;
}

int FindKeywordNoSpaces(const char *word, const char *const *words, int count)
{
    if (count < 1) return -1;
    for (int i = 0; i < count; i++) {
        char squeezed[300];
        size_t n = 0;
        for (const char *p = words[i]; p && *p && n + 1 < sizeof squeezed; p++)
            if (!isspace((unsigned char)*p)) squeezed[n++] = *p;
        squeezed[n] = 0;
        if (CompareNoCase(squeezed, word) == 0) return i;
    }
    return -1;
}

int FormatTextV(char *dest, size_t size, const char *format, va_list args)
{
    if (!dest || size == 0) return 0;
    int n = vsnprintf(dest, size, format, args);
    if (n < 0) {
        dest[0] = 0;
        return 0;
    }
    return (size_t)n >= size ? (int)(size - 1) : n;
}

int FormatText(char *dest, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = FormatTextV(dest, size, format, args);
    va_end(args);
    return n;
}

int FormatPathBuffer(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = FormatTextV(gPathBuffer, sizeof gPathBuffer, format, args);
    va_end(args);
    return n;
}
