/* find_text.cpp -- see find_text.h. */
#include "shell/find_text.h"

#include <cctype>
#include <cstring>

#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
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

/* A line is binary when ten or more of its characters, and a tenth of them,
** are control characters or bytes that are no text.  A well-formed UTF-8
** letter is a character of the script like any other, whatever its
** alphabet; a stray byte above 127 counts as one odd character. */
static int LooksBinary(const char *line, int32_t length)
{
    int32_t odd = 0, characters = 0;
    for (int32_t i = 0; i < length; characters++) {
        const unsigned char c = (unsigned char)line[i];
        size_t letter = c >= 0x80 ? PlatUtf8SequenceLength((const unsigned char *)line + i, (size_t)(length - i)) : 0;
        if (letter == 0 && (c < 32 || c > 126) && c != '\t') odd++;
        i += letter ? (int32_t)letter : 1;
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
            /* Never half a letter: the item shows as UTF-8. */
            int32_t take = lineLength <= room ? lineLength : (int32_t)Utf8CutLength(line, (size_t)room);
            memcpy(item + prefix, line, (size_t)take);
            item[prefix + take] = 0;
            hits++;
            if (onHit) onHit(context, number, item);
        }
        start = end + 1;
    }
    return hits;
}
