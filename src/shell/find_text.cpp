/* find_text.cpp -- see find_text.h. */
#include "shell/find_text.h"

#include <cctype>
#include <cstring>

#include "foundation/text_match.h"
#include "script/compiler/formula.h"

int32_t UnescapeFindText(const char *text, char *out, int32_t outSize)
{
    if (outSize <= 0) return 0;
    int32_t n = 0;
    for (const char *p = text; *p; p++) {
        char c = *p;
        const char *put = nullptr;
        char one[2] = {c, 0};
        if (c == '\\' && p[1] == 'n')
            put = "\r\n";
        else if (c == '\\' && p[1] == 't')
            put = "\t";
        else if (c == '\\' && p[1] == '\\')
            put = "\\";
        if (put)
            p++;
        else
            put = one;
        int32_t k = (int32_t)strlen(put);
        if (n + k > outSize - 1) break; /* never half of CR LF */
        memcpy(out + n, put, (size_t)k);
        n += k;
    }
    out[n] = 0;
    return n;
}

static int SameChar(char a, char b, int matchCase)
{
    return matchCase ? a == b : tolower((unsigned char)a) == tolower((unsigned char)b);
}

int32_t FindInLine(const char *line, int32_t length, const char *what, int matchCase, int wholeWord)
{
    int32_t n = (int32_t)strlen(what);
    if (n == 0) return -1;
    for (int32_t at = 0; at + n <= length; at++) {
        int32_t k = 0;
        while (k < n && SameChar(line[at + k], what[k], matchCase)) k++;
        if (k < n) continue;
        if (wholeWord && !((at == 0 || IsTokenDelimiter(line[at - 1])) && (at + n == length || IsTokenDelimiter(line[at + n]))))
            continue; /* a later occurrence may still stand alone */
        return at;
    }
    return -1;
}

/* The bytes of the UTF-8 character at line[i]: its sequence when whole and
** well formed, else 1 (a byte of another code page is a character too). */
static int32_t CharacterBytes(const char *line, int32_t i, int32_t length)
{
    unsigned char c = (unsigned char)line[i];
    int32_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
    if (i + n > length) return 1;
    for (int32_t k = 1; k < n; k++)
        if (((unsigned char)line[i + k] & 0xC0) != 0x80) return 1;
    return n;
}

/* Counted in characters, so that a line of a UTF-8 script with a few
** letters outside ASCII is still text. */
static int LooksBinary(const char *line, int32_t length)
{
    int32_t odd = 0, characters = 0;
    for (int32_t i = 0; i < length; characters++) {
        unsigned char c = (unsigned char)line[i];
        if ((c < 32 || c > 126) && c != '\t') odd++;
        i += CharacterBytes(line, i, length);
    }
    return odd >= 10 && odd * 10 >= characters;
}

int32_t SearchTextLines(const char *text, int32_t length, const char *what, int matchCase, int wholeWord,
                        FindHitHandler *onHit, void *context)
{
    int32_t hits = 0, number = 0;
    for (int32_t start = 0; start < length;) {
        const char *lf = (const char *)memchr(text + start, '\n', (size_t)(length - start));
        int32_t end = lf ? (int32_t)(lf - text) : length;
        int32_t lineLength = end - start;
        if (lineLength > 0 && text[end - 1] == '\r') lineLength--;
        number++;
        const char *line = text + start;
        if (LooksBinary(line, lineLength)) break;
        if (FindInLine(line, lineLength, what, matchCase, wholeWord) >= 0) {
            char item[FIND_HIT_TEXT_SIZE];
            int32_t prefix = FormatText(item, sizeof item, "%.4d: ", number);
            int32_t room = FIND_HIT_TEXT_SIZE - 1 - prefix;
            int32_t take = lineLength < room ? lineLength : room;
            /* Never half a letter: the item shows as UTF-8. */
            while (take < lineLength && take > 0 && ((unsigned char)line[take] & 0xC0) == 0x80) take--;
            memcpy(item + prefix, line, (size_t)take);
            item[prefix + take] = 0;
            hits++;
            if (onHit) onHit(context, number, item);
        }
        start = end + 1;
    }
    return hits;
}
