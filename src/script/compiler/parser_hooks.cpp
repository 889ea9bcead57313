/* parser_hooks.cpp -- stand-in answers for what the script parser asks of the
** compile driver, the settings, import and strategy handlers, the name scan
** and the calendar, until those modules are linked in.
**
** Each stand-in accepts its input and changes as little as it can: settings
** and records are kept only as far as the parser itself reads them back (the
** run settings below, plain strategy records), so a script parses the same
** way it will with the real handlers.  Remove each one as its module arrives.
*/
#include "script/compiler/parser_hooks.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/text_match.h"
#include "script/compiler/definitions.h"
#include "script/compiler/keywords.h"

CompileSession gCompileSession;

/* ---- run settings ------------------------------------------------------------------ */

static int32_t sRunSettings[RUNSET_COUNT];

int32_t GetRunSetting(int which) { return which >= 0 && which < RUNSET_COUNT ? sRunSettings[which] : 0; }

void SetRunSetting(int which, int32_t value) {
    if (which >= 0 && which < RUNSET_COUNT) sRunSettings[which] = value;
}

/* The value as a C string (up to a comment, trailing blanks dropped). */
static void ValueText(char *out, int size, const char *value, int length) {
    int n = 0;
    while (n < length && value[n] && !(value[n] == '/' && n + 1 < length && (value[n + 1] == '/' || value[n + 1] == '*')) &&
           value[n] != '{')
        n++;
    while (n > 0 && isspace((unsigned char)value[n - 1])) n--;
    CopyString(out, size, value, n);
}

static int WordIndex(const char *word, const char *const *words, int count) {
    for (int i = 0; i < count; i++)
        if (CompareNoCase(word, words[i]) == 0) return i;
    return -1;
}

/* Stand-in: reads the few settings the parser reads back and accepts the rest. */
int ApplySettingsItem(int index, const char *value, int length, int *outOffset, int *outLength) {
    static const char *const kBarSizes[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
    static const char *const kBool[] = {"False", "True"};
    static const char *const kOrder[] = {"MDY", "DMY"};
    char text[260];
    ValueText(text, sizeof text, value, length);
    if (outOffset) *outOffset = 0;
    if (outLength) *outLength = (int)strlen(text);
    int w;
    switch (index) {
    case SETKW_NUMBARS: {
        int n = atoi(text);
        if (n <= 0) return 40;
        SetRunSetting(RUNSET_NUM_BARS, n);
        return 0;
    }
    case SETKW_STARTDATE:
    case SETKW_ENDDATE: {
        int earliest = CompareNoCase(text, index == SETKW_STARTDATE ? "earliest" : "latest") == 0;
        int date = earliest ? 0 : ParseScriptDate(text);
        if (!earliest && !date) return 42;
        SetRunSetting(index == SETKW_STARTDATE ? RUNSET_USE_EARLIEST : RUNSET_USE_LATEST, earliest);
        if (!earliest) SetRunSetting(index == SETKW_STARTDATE ? RUNSET_FIRST_DATE : RUNSET_LAST_DATE, date);
        return 0;
    }
    case SETKW_BARSIZE:
        if ((w = WordIndex(text, kBarSizes, 5)) < 0) return 40;
        SetRunSetting(RUNSET_BAR_SIZE, w);
        return 0;
    case SETKW_DATEINPUT:
        if ((w = WordIndex(text, kOrder, 2)) < 0) return 40;
        SetRunSetting(RUNSET_DATE_INPUT, w);
        return 0;
    case SETKW_ALLOWSAMENAME:
    case SETKW_SCANNODEFCOLS:
        if ((w = WordIndex(text, kBool, 2)) < 0) return 40;
        SetRunSetting(index == SETKW_ALLOWSAMENAME ? RUNSET_ALLOW_SAME_NAME : RUNSET_SCAN_NO_DEF_COLS, w);
        return 0;
    default:
        return 0;
    }
}

/* ---- compile driver ---------------------------------------------------------------- */

/* Stand-in: includes need the compile driver; none is followed. */
int IncludeScriptFile(const char *path, char *nameSpace) { return 1; }

/* Stand-in: the include line's text up to its line end or comment. */
int ExtractIncludePath(const char *text, char *outPath) {
    while (*text == ' ' || *text == '\t') text++;
    int n = 0;
    while (text[n] && text[n] != '\r' && text[n] != '\n' && text[n] != '{' && text[n] != '/') n++;
    while (n > 0 && isspace((unsigned char)text[n - 1])) n--;
    if (n == 0) return 0;
    CopyString(outPath, 260, text, n);
    return 1;
}

/* ---- names, dates ------------------------------------------------------------------ */

int ScanScriptItemNames(const char *source, int32_t *counts, int length, CompilerState *state) { return 1; }

/* Stand-in: yyyymmdd, yyyy-mm-dd, or m/d/yyyy (d/m/yyyy with day-first input). */
int32_t ParseScriptDate(const char *text) {
    int a = 0, b = 0, c = 0;
    char s1 = 0, s2 = 0;
    int date = 0;
    if (sscanf(text, "%d%c%d%c%d", &a, &s1, &b, &s2, &c) == 5 && s1 == s2 && (s1 == '-' || s1 == '/')) {
        if (s1 == '-') date = a * 10000 + b * 100 + c;
        else if (GetRunSetting(RUNSET_DATE_INPUT)) date = c * 10000 + b * 100 + a;
        else date = c * 10000 + a * 100 + b;
    } else if (strlen(text) == 8 && strspn(text, "0123456789") == 8) {
        date = atoi(text);
    }
    int month = date / 100 % 100, day = date % 100;
    if (date < 10000101 || month < 1 || month > 12 || day < 1 || day > 31) return 0;
    return date;
}

/* Stand-in: steps over Monday to Friday, whatever the bar size. */
int32_t OffsetScriptTradingDate(int32_t barSize, int32_t date, int32_t n) {
    if (date == 0) return 0;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int y = date / 10000, m = date / 100 % 100, d = date % 100;
    int step = n > 0 ? 1 : -1;
    for (int left = n > 0 ? n : -n; left > 0;) {
        d += step;
        int leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        int days = kDays[m - 1] + (m == 2 && leap);
        if (d > days) { d = 1; if (++m > 12) { m = 1; y++; } }
        if (d < 1) {
            if (--m < 1) { m = 12; y--; }
            leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
            d = kDays[m - 1] + (m == 2 && leap);
        }
        /* Zeller's congruence: 0 Saturday, 1 Sunday. */
        int yy = y - (m < 3), mm = m < 3 ? m + 12 : m;
        int weekday = (d + 13 * (mm + 1) / 5 + yy + yy / 4 - yy / 100 + yy / 400) % 7;
        if (weekday != 0 && weekday != 1) left--;
    }
    return y * 10000 + m * 100 + d;
}
