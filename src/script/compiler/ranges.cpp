/* ranges.cpp -- optimization ranges and column display hints. */
#include "script/compiler/ranges.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"

/* ---- ranges ---------------------------------------------------------------------- */

/* v rounded to a multiple of unit; the small epsilon keeps 0.30000000000000004
** from rounding away from 0.3. */
static double RoundRangeValue(double v, double unit)
{
    if (v == 0 || !(unit > 0)) return v;
    double a = std::fabs(v);
    double e = std::floor(std::log10(a));
    double r = unit * std::floor((a + unit / 2 + std::pow(10.0, e - 15)) / unit);
    return v < 0 ? -r : r;
}

struct RangePair {
    char word[8];
    double number;
};

/* Reads up to five "word number" pairs.  A word is a run of letters of at most
** 7 characters; a pair whose word is longer, or whose number is missing, ends
** the reading and marks the text as no range (*pBroken). */
static int ReadRangePairs(const char *text, RangePair *pairs, int *pBroken)
{
    int n = 0;
    *pBroken = 0;
    const char *p = text;
    while (n < 5) {
        while (*p && isspace((unsigned char)*p)) p++;
        if (!*p) break;
        int len = 0;
        while (isalpha((unsigned char)p[len])) len++;
        if (len == 0 || len > 7) {
            *pBroken = 1;
            break;
        }
        memcpy(pairs[n].word, p, len);
        pairs[n].word[len] = 0;
        p += len;
        char *end = nullptr;
        double value = strtod(p, &end);
        if (end == p) {
            *pBroken = 1;
            break;
        }
        pairs[n].number = value;
        p = end;
        n++;
    }
    return n;
}

static int sWalkSteps;

int RangeWalkSteps(void)
{
    return sWalkSteps;
}

int ExpandOptimizationRange(const char *text, int length, Parameter *parameter, double *values, int room)
{
    sWalkSteps = 0;
    if (parameter) parameter->rangeFlag = 0;
    if (values && room < 1) return 0;
    if (!text) return 0;
    if (length < 0) length = (int)strlen(text);

    /* Comments inside the range text are left out before it is read. */
    std::string plain;
    plain.reserve(length);
    const char *end = text + length;
    for (const char *p = text; p < end && *p; p++) {
        const char *q = p;
        if (SkipComment(&q, nullptr)) {
            plain.push_back(' ');
            p = q;
            continue;
        }
        plain.push_back(*p);
    }

    RangePair pairs[5];
    int broken = 0;
    int n = ReadRangePairs(plain.c_str(), pairs, &broken);
    if (n < 2 || CompareNoCase(pairs[0].word, "from") != 0 || CompareNoCase(pairs[1].word, "to") != 0) return 0;
    double first = pairs[0].number, last = pairs[1].number;
    if (first > last) return RANGE_BAD;

    double step = 1, mult = 0, unit = 1e-6, def = 0;
    int haveStep = 0, haveMult = 0, haveDef = 0;
    for (int i = 2; i < n; i++) {
        const char *w = pairs[i].word;
        double x = pairs[i].number;
        if (CompareNoCase(w, "step") == 0) {
            if (haveMult) return RANGE_STEP_AND_MULT;
            if (x <= 0) return RANGE_BAD;
            step = x;
            haveStep = 1;
        } else if (CompareNoCase(w, "mult") == 0) {
            if (haveStep) return RANGE_STEP_AND_MULT;
            if (x <= 1) return RANGE_BAD;
            mult = x;
            haveMult = 1;
        } else if (CompareNoCase(w, "round") == 0) {
            unit = x;
        } else if (CompareNoCase(w, "def") == 0) {
            def = x;
            haveDef = 1;
        } else {
            return 0;
        }
    }
    if (broken) return 0;
    /* A number too large for a double reads as an infinity: no range can
    ** walk to it or stand on it. */
    for (int i = 0; i < n; i++)
        if (!std::isfinite(pairs[i].number)) return RANGE_BAD;
    /* Multiplying a start of zero or below never climbs towards the end. */
    if (haveMult && first <= 0) return RANGE_BAD;

    int count = 0;
    if (haveDef) {
        if (values) values[0] = def;
        count = 1;
    }
    if (CompareDouble(first, last) > 0) goto done;
    for (double v = first;;) {
        if (count >= RANGE_MAX_VALUES) return RANGE_TOO_MANY;
        /* Values that round onto the default are skipped without being
        ** counted, so the count alone does not end such a walk: the steps
        ** are bounded as well. */
        if (sWalkSteps > RANGE_MAX_VALUES) return RANGE_TOO_MANY;
        sWalkSteps++;
        /* The default may already fill the room; nothing is written past it. */
        if (values && count >= room) break;
        double value = RoundRangeValue(v, unit);
        if (!haveDef || CompareDouble(value, def) != 0) {
            if (values) values[count] = value;
            count++;
        }
        if (values && count >= room) break;
        double next = haveMult ? v * mult : v + step;
        if (CompareDouble(next, last) > 0) break;
        /* A step too small for the value's precision leaves it where it is:
        ** the range holds endlessly many values and is refused as one with
        ** too many, never cut to what was walked so far. */
        if (!(next > v)) return RANGE_TOO_MANY;
        v = next;
    }
done:
    if (parameter && count > 0) parameter->rangeFlag = 1;
    return count;
}

/* ---- display hints --------------------------------------------------------------- */

/* Reads a run of digits (after an optional "-") as the decimals; the minus
** asks for negatives in parentheses.  Returns the characters read. */
static int ReadHintDecimals(const char *p, const char *end, FormulaColumn *column)
{
    const char *q = p;
    int negative = 0;
    if (q < end && *q == '-' && q + 1 < end && isdigit((unsigned char)q[1])) {
        negative = 1;
        q++;
    }
    if (q >= end || !isdigit((unsigned char)*q)) return 0;
    int decimals = 0;
    while (q < end && isdigit((unsigned char)*q)) {
        if (decimals < 1000) decimals = decimals * 10 + (*q - '0');
        q++;
    }
    column->decimals = decimals;
    if (negative) column->negativeParens = 1;
    return (int)(q - p);
}

/* Reads the number right after a "|".  Returns the characters read. */
static int ReadHintBarNumber(const char *p, const char *end, FormulaColumn *column)
{
    const char *q = p;
    if (q < end && *q == '-') q++;
    if (q >= end || !(isdigit((unsigned char)*q) || *q == '.')) return 0;
    char buffer[64];
    int n = 0;
    const char *r = p;
    while (r < end && n < 63 && (isdigit((unsigned char)*r) || *r == '.' || *r == '-' || *r == 'e' || *r == 'E' || ((*r == '+') && n > 0 && (r[-1] == 'e' || r[-1] == 'E')))) {
        buffer[n++] = *r++;
    }
    buffer[n] = 0;
    char *stop = nullptr;
    double value = strtod(buffer, &stop);
    if (stop == buffer) return 0;
    column->barNumber = value;
    return (int)(stop - buffer);
}

void ClearColumnHint(FormulaColumn *column)
{
    column->format = 0;
    column->decimals = -1;
    column->negativeParens = 0;
    column->barNumber = 0;
    column->heading[0] = 0;
    column->barFlag = 0;
    column->caretFlag = 0;
}

void ParseFormatSpec(const char *text, int length, FormulaColumn *column)
{
    ClearColumnHint(column);
    const char *p = text ? text : "";
    const char *end = p + (length > 0 ? length : 0);
    int inHint = 0;
    while (p < end && *p) {
        char c = *p;
        if (!inHint) {
            if (c == '/' && p + 1 < end && p[1] == '/') {
                while (p < end && *p && *p != '\n') p++;
                continue;
            }
            if (c == '/' && p + 1 < end && p[1] == '*') {
                p += 2;
                while (p < end && *p && !(*p == '*' && p + 1 < end && p[1] == '/')) p++;
                p += (p < end && *p) ? 2 : 0;
                continue;
            }
            if (c == '{') inHint = 1;
            p++;
            continue;
        }
        if (c == '}') break;
        if (isspace((unsigned char)c)) {
            p++;
            continue;
        }
        if (c == '#' || c == '$' || c == '%') {
            if (c == '#')
                column->format = (p + 1 < end && p[1] == '#') ? DISPLAY_PLAIN : DISPLAY_NUMBER;
            else
                column->format = c == '$' ? DISPLAY_CURRENCY : DISPLAY_PERCENT;
            p += (c == '#' && column->format == DISPLAY_PLAIN) ? 2 : 1;
            p += ReadHintDecimals(p, end, column);
            continue;
        }
        if (c == '`') {
            column->format = DISPLAY_PRICE32;
            p++;
            continue;
        }
        if (c == '~') {
            column->format = DISPLAY_TRUTH;
            p++;
            continue;
        }
        if (c == '/' && p + 1 < end && p[1] == '/') {
            column->format = DISPLAY_DATE;
            p += 2;
            continue;
        }
        if (c == '|') {
            column->barFlag = 1;
            p++;
            p += ReadHintBarNumber(p, end, column);
            continue;
        }
        if (c == '^') {
            column->caretFlag = 1;
            p++;
            continue;
        }
        if (c == '"' || c == '\'') {
            const char *q = p + 1;
            while (q < end && *q && *q != c) q++;
            CopyString(column->heading, sizeof column->heading, p + 1, (int)(q - p - 1) < 79 ? (int)(q - p - 1) : 79);
            p = (q < end && *q == c) ? q + 1 : q;
            continue;
        }
        /* Anything else means the braces hold an ordinary comment: what was read
        ** is dropped and the search goes on behind the comment. */
        ClearColumnHint(column);
        while (p < end && *p && *p != '}') p++;
        if (p < end && *p == '}') p++;
        inHint = 0;
    }
    if (column->formula.name[0] == '_')
        column->format = 0; /* not shown */
    else if (column->format == 0 && !column->isText && !column->filter)
        column->format = DISPLAY_NUMBER;
    if (!column->heading[0]) CopyString(column->heading, sizeof column->heading, column->formula.name, 79);
}
