/* text.cpp -- building, cutting, searching and converting texts.  A text
** lives in its formula node (79 bytes of content); work buffers are local,
** so these run on any thread.  Texts are UTF-8: lengths, positions and cuts
** count letters (utf8_text.h), and no cut, the 79 bytes' included, falls
** inside a letter. */
#include "script/builtins/builtins.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"

namespace {

enum { TEXT_SIZE = FORMULA_TEXT_SIZE };

/* Evaluates argument k and copies its text (empty when it has none) into
** out; the value through value when given. */
int ArgText(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, char out[TEXT_SIZE],
            double *value = nullptr)
{
    double v;
    if (!EvalArg(node, context, k, barsBack, &v)) return 0;
    CopyString(out, TEXT_SIZE, node->textFlag ? node->text : "", -1);
    if (value) *value = v;
    return 1;
}

int ArgNumber(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, int32_t *out)
{
    double v;
    if (!EvalArg(node, context, k, barsBack, &v)) return 0;
    *out = std::isnan(v) ? 0 : v > 1e6 ? 1000000
        : v < -1e6                     ? -1000000
                                       : (int32_t)v;
    return 1;
}

/* The result text: length bytes of text (all when negative), cut at whole
** letters to what the node holds. */
int SetText(FormulaNode *node, const char *text, int32_t length, double value)
{
    size_t room = sizeof node->text - 1;
    if (length >= 0 && (size_t)length < room) room = (size_t)length;
    CopyString(node->text, sizeof node->text, text, (int)Utf8CutLength(text, room));
    node->textFlag = 1;
    node->value = value;
    return 1;
}

int SetNumber(FormulaNode *node, double value)
{
    node->textFlag = 0;
    node->text[0] = 0;
    node->value = value;
    return 1;
}

/* The decimal number at the start of text by the C library's rules for
** decimal text (leading blanks, sign, digits, point, exponent); 0 when none. */
double ReadNumber(const char *text)
{
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    double sign = 1;
    if (*p == '+' || *p == '-') sign = *p++ == '-' ? -1 : 1;
    double mantissa = 0;
    int32_t scale = 0, digits = 0;
    for (; isdigit((unsigned char)*p); p++, digits++) mantissa = mantissa * 10 + (*p - '0');
    if (*p == '.') {
        for (p++; isdigit((unsigned char)*p); p++, digits++) {
            mantissa = mantissa * 10 + (*p - '0');
            scale--;
        }
    }
    if (digits == 0) return 0;
    if ((*p == 'e' || *p == 'E') && (isdigit((unsigned char)p[1]) || ((p[1] == '+' || p[1] == '-') && isdigit((unsigned char)p[2])))) {
        p++;
        int32_t esign = 1, e = 0;
        if (*p == '+' || *p == '-') esign = *p++ == '-' ? -1 : 1;
        for (; isdigit((unsigned char)*p); p++) e = e < 10000 ? e * 10 + (*p - '0') : e;
        scale += esign * e;
    }
    /* Dividing by an exact power of ten rounds as the library does for the
    ** short numbers scripts hold. */
    double value = scale < 0 ? mantissa / PowerOfTen(-scale) : mantissa * PowerOfTen(scale);
    return sign * value;
}

/* The letters of a field of bytes bytes from text: the value GetField gives. */
double FieldLetters(const char *text, int32_t bytes) { return (double)TextLetters(text, (size_t)bytes); }

} // namespace

/* ============================================================================
** Format
** ========================================================================== */

int BuildFormatText(FormulaNode *node, EvalContext *context, int barsBack, char out[FORMAT_TEXT_SIZE], int32_t *used)
{
    char templ[FORMAT_TEXT_SIZE];
    double ignored;
    if (!EvalArg(node, context, 1, barsBack, &ignored)) return 0;
    CopyString(templ, sizeof templ, node->textFlag ? node->text : "", -1);
    int32_t n = 0, next = 2;
    const int32_t limit = FORMAT_TEXT_SIZE - 1;
    for (const char *p = templ; *p && n < limit;) {
        const char *close = *p == '{' ? strchr(p + 1, '}') : nullptr;
        if (!close || next > node->argCount) {
            size_t letter = LetterBytes(p);
            if (n + (int32_t)letter > limit) break;
            memcpy(out + n, p, letter);
            n += (int32_t)letter;
            p += letter;
            continue;
        }
        int32_t code = DISPLAY_NUMBER, decimals = DECIMALS_TRIMMED;
        bool asText = false, haveDigits = false;
        for (const char *s = p + 1; s < close; s++) {
            switch (*s) {
            case '#':
                if (s + 1 < close && s[1] == '#') {
                    code = DISPLAY_PLAIN;
                    s++;
                } else {
                    code = DISPLAY_NUMBER;
                }
                asText = false;
                break;
            case '$':
                code = DISPLAY_CURRENCY;
                asText = false;
                break;
            case '%':
                code = DISPLAY_PERCENT;
                asText = false;
                break;
            case '`':
                code = DISPLAY_PRICE32;
                asText = false;
                break;
            case '~':
                code = DISPLAY_TRUTH;
                asText = false;
                break;
            case '?': asText = true; break;
            case '/':
                if (s + 1 < close && s[1] == '/') {
                    code = DISPLAY_DATE;
                    asText = false;
                    s++;
                }
                break;
            default:
                if (isdigit((unsigned char)*s)) {
                    decimals = (haveDigits ? decimals * 10 : 0) + (*s - '0');
                    if (decimals > 15) decimals = 15;
                    haveDigits = true;
                }
                break;
            }
        }
        double v;
        if (!EvalArg(node, context, next++, barsBack, &v)) return 0;
        char piece[NUMBER_TEXT_SIZE];
        if (asText)
            CopyString(piece, sizeof piece, node->textFlag ? node->text : "", -1);
        else
            FormatNumber(v, code, decimals, 0, nullptr, piece);
        int32_t length = (int32_t)strlen(piece);
        if (n + length > limit) break;
        memcpy(out + n, piece, (size_t)length);
        n += length;
        p = close + 1;
    }
    out[n] = 0;
    *used = next - 2;
    return 1;
}

int CalcFormat(FormulaNode *node, EvalContext *context, int barsBack)
{
    char out[FORMAT_TEXT_SIZE];
    int32_t used = 0;
    if (!BuildFormatText(node, context, barsBack, out, &used)) return 0;
    node->dataType = 0;
    return SetText(node, out, -1, 1 + used);
}

int CalcFormatDate(FormulaNode *node, EvalContext *context, int barsBack)
{
    double date;
    char picture[TEXT_SIZE], out[DATE_TEXT_SIZE];
    if (!EvalArg(node, context, 1, barsBack, &date) || !ArgText(node, context, 2, barsBack, picture)) return 0;
    FormatDate(std::isnan(date) ? 0 : (int)fmax(-2e9, fmin(2e9, date)), picture, out);
    return SetText(node, out, -1, 0);
}

/* ============================================================================
** Searching and cutting
** ========================================================================== */

int CalcFind(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE], sought[TEXT_SIZE];
    if (!ArgText(node, context, 1, barsBack, text) || !ArgText(node, context, 2, barsBack, sought)) return 0;
    const char *at = FindTextNoCase(text, sought);
    return SetNumber(node, at ? (double)(TextLetters(text, (size_t)(at - text)) + 1) : 0.0);
}

int CalcLength(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE];
    if (!ArgText(node, context, 1, barsBack, text)) return 0;
    return SetNumber(node, (double)TextLetters(text));
}

int CalcMatch(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE], pattern[TEXT_SIZE];
    if (!ArgText(node, context, 1, barsBack, text) || !ArgText(node, context, 2, barsBack, pattern)) return 0;
    return SetNumber(node, MatchWildcard(pattern, text) ? 1 : 0);
}

int CalcGetField(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE], delimiter[TEXT_SIZE];
    int32_t instance = 0;
    if (!ArgText(node, context, 1, barsBack, text) || !ArgText(node, context, 2, barsBack, delimiter) ||
        !ArgNumber(node, context, 3, barsBack, &instance))
        return 0;
    size_t step = strlen(delimiter);
    int32_t count = 0, start = 0, length = (int32_t)strlen(text);
    bool seen = false;
    for (int32_t at = 0; step > 0 && at < length;) {
        if (CompareNoCaseN(text + at, delimiter, step) != 0) {
            at += (int32_t)LetterBytes(text + at);
            continue;
        }
        seen = true;
        if (++count == instance) return SetText(node, text + start, at - start, FieldLetters(text + start, at - start));
        at += (int32_t)step;
        start = at;
    }
    if (seen) count++;
    if (count == instance)
        return SetText(node, text + start, length - start, FieldLetters(text + start, length - start));
    return SetText(node, "", 0, 0);
}

int CalcLeft(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE];
    int32_t n = 0;
    if (!ArgText(node, context, 1, barsBack, text) || !ArgNumber(node, context, 2, barsBack, &n)) return 0;
    if (n < 0) return SetText(node, text, -1, 0);
    return SetText(node, text, (int32_t)LetterOffset(text, (size_t)n), 0);
}

int CalcRight(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE];
    int32_t n = 0;
    if (!ArgText(node, context, 1, barsBack, text) || !ArgNumber(node, context, 2, barsBack, &n)) return 0;
    int32_t letters = (int32_t)TextLetters(text);
    if (n <= 0) return SetText(node, "", 0, 0);
    if (n > letters) n = letters;
    return SetText(node, text + LetterOffset(text, (size_t)(letters - n)), -1, 0);
}

int CalcMid(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE];
    int32_t start = 0, n = 999;
    if (!ArgText(node, context, 1, barsBack, text) || !ArgNumber(node, context, 2, barsBack, &start)) return 0;
    if (node->argCount >= 3 && !ArgNumber(node, context, 3, barsBack, &n)) return 0;
    int32_t letters = (int32_t)TextLetters(text);
    if (start < 1) start = 1;
    if (start > letters || n < 0) return SetText(node, "", 0, 0);
    const char *from = text + LetterOffset(text, (size_t)(start - 1));
    return SetText(node, from, (int32_t)LetterOffset(from, (size_t)n), 0);
}

int CalcReplace(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE], old[TEXT_SIZE], with[TEXT_SIZE], out[TEXT_SIZE];
    if (!ArgText(node, context, 1, barsBack, text) || !ArgText(node, context, 2, barsBack, old) ||
        !ArgText(node, context, 3, barsBack, with))
        return 0;
    size_t oldLength = strlen(old), withLength = strlen(with), n = 0;
    const size_t limit = TEXT_SIZE - 1;
    for (const char *p = text; *p && n < limit;) {
        if (oldLength > 0 && strncmp(p, old, oldLength) == 0) {
            size_t take = withLength < limit - n ? withLength : Utf8CutLength(with, limit - n);
            memcpy(out + n, with, take);
            n += take;
            p += oldLength;
        } else {
            size_t letter = LetterBytes(p);
            if (n + letter > limit) break;
            memcpy(out + n, p, letter);
            n += letter;
            p += letter;
        }
    }
    out[n] = 0;
    return SetText(node, out, -1, 0);
}

int CalcChangeCase(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE];
    if (!ArgText(node, context, 1, barsBack, text)) return 0;
    bool upper = node->item == ITEM_TO_UPPER;
    for (char *p = text; *p; p++) {
        if (upper && *p >= 'a' && *p <= 'z') *p = (char)(*p - 'a' + 'A');
        if (!upper && *p >= 'A' && *p <= 'Z') *p = (char)(*p - 'A' + 'a');
    }
    return SetText(node, text, -1, 0);
}

/* ============================================================================
** Conversions
** ========================================================================== */

int CalcToDate(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE];
    if (!ArgText(node, context, 1, barsBack, text)) return 0;
    return SetNumber(node, ParseDate(text));
}

int CalcToNum(FormulaNode *node, EvalContext *context, int barsBack)
{
    char text[TEXT_SIZE];
    int32_t nth = 0;
    if (!ArgText(node, context, 1, barsBack, text)) return 0;
    if (node->argCount >= 2 && !ArgNumber(node, context, 2, barsBack, &nth)) return 0;
    if (nth < 1 || !text[0]) return SetNumber(node, ReadNumber(text));
    double reading = 0, previous = 0;
    int32_t found = 0;
    for (const char *p = text; *p; p++) {
        reading = ReadNumber(p);
        if (reading != 0 && (p == text || previous == 0) && ++found == nth) break;
        previous = reading;
    }
    return SetNumber(node, reading);
}
