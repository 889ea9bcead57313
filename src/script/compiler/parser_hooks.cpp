/* parser_hooks.cpp -- stand-in answers for what the script parser asks of the
** compile driver, the settings, import and strategy handlers and the name
** scan, until those modules are linked in.
**
** Each stand-in accepts its input and changes as little as it can: settings
** and records are kept only as far as the parser itself reads them back (the
** run settings below, plain strategy records), so a script parses the same
** way it will with the real handlers.  Remove each one as its module arrives.
*/
#include "script/compiler/parser_hooks.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "foundation/dates.h"
#include "foundation/settings_table.h"
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
        gSettings.NumBars = n;
        return 0;
    }
    case SETKW_STARTDATE:
    case SETKW_ENDDATE: {
        int earliest = CompareNoCase(text, index == SETKW_STARTDATE ? "earliest" : "latest") == 0;
        int date = earliest ? 0 : ParseDate(text);
        if (!earliest && !date) return 42;
        (index == SETKW_STARTDATE ? gSettings.UseEarliestDate : gSettings.UseLatestDate) = earliest;
        if (!earliest) (index == SETKW_STARTDATE ? gSettings.FirstDate : gSettings.LastDate) = date;
        return 0;
    }
    case SETKW_BARSIZE:
        if ((w = WordIndex(text, kBarSizes, 5)) < 0) return 40;
        gSettings.BarSize2 = w;
        return 0;
    case SETKW_DATEINPUT:
        if ((w = WordIndex(text, kOrder, 2)) < 0) return 40;
        gSettings.DateInputFormat = w;
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

/* ---- names ------------------------------------------------------------------------ */

int ScanScriptItemNames(const char *source, int32_t *counts, int length, CompilerState *state) { return 1; }
