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

/* ---- import ------------------------------------------------------------------------ */

int ApplyImportItem(int index, const char *value, int length, const char *nameSpace, int *outOffset, int *outLength) {
    return 0;
}

void ResetImportState() {}

/* ---- strategies and parameters ------------------------------------------------------ */

/* Stand-in: a plain record, names unique (case ignored) and "Combined" reserved. */
StrategyRecord *AddStrategyRecord(int kind, const char *name, int *outError) {
    *outError = 0;
    if (kind != SECTION_COMBINED && name[0]) {
        if (CompareNoCase(name, "combined") == 0) {
            *outError = 64;
            return nullptr;
        }
        for (int32_t i = 0; i < gStrategyCount; i++) {
            if (CompareNoCase(gStrategies[i].name, name) == 0) {
                *outError = 64;
                return nullptr;
            }
        }
    }
    StrategyRecord *record = AppendStrategyRecord();
    if (!record) return nullptr;
    record->kind = kind;
    if (kind == SECTION_COMBINED) CopyString(record->name, sizeof record->name, "Combined", -1);
    else if (!name[0]) FormatText(record->name, sizeof record->name, "%s%d", kSectionNames[kind], gStrategyCount);
    else CopyString(record->name, sizeof record->name, name, -1);
    return record;
}

/* Stand-in: knows the constant names only (BarSize read as a bar-size word). */
int ParseStrategyConstant(StrategyRecord *record, const char *keyword, const char *value, int length, int *outError,
                          int *outLength) {
    static const char *const kConstants[] = {
        "Side",        "BarSize",       "EntryTime",     "ExitTime",      "ExitLimitTime", "ExitStopTime",
        "QtyType",     "QtyPrice",      "Compounded",    "MarkToMarket",  "Ambiguity",     "TLAdjusted",
        "TLAdoptPos",  "TLDateFmt",     "TLNumFmt",      "TLDelim",       "TLTimeShift",   "TLStratName",
        "CalendarSym", "DynamicSizing", "GreedyScoring", "AllowNoVolume", "AllowMissingBar", "IgnoreDividends",
        "Tracker"};
    static const char *const kBarSizes[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
    int index = WordIndex(keyword, kConstants, 25);
    if (index < 0) return 0;
    if (record->kind == SECTION_STATS_GROUP || record->kind == SECTION_COMBINED) return -1;
    char text[260];
    ValueText(text, sizeof text, value, length);
    *outError = 0;
    *outLength = (int)strlen(text);
    if (index == 1) {
        int w = WordIndex(text, kBarSizes, 5);
        if (w < 0) *outError = 16;
        else record->BarSize = w;
    }
    return index + 1;
}

int ParseUsingList(StrategyRecord *record, const char *text, int length, int *outOffset, int *outLength) { return 0; }

int ParseTLFieldsList(StrategyRecord *record, const char *text, int length, int *outOffset, int *outLength) {
    return 0;
}

/* Stand-in: records the parameter's name (values are read by the real handler). */
int AddParameterName(int section, const char *name, const char *nameSpace, const char *values, int length) {
    for (int32_t i = 0; i < gParameters.count; i++)
        if (CompareNoCase(((Parameter *)gParameters.items)[i].name, name) == 0) return 0;
    if (section == SECTION_WALK_FORWARD) return CompareNoCase(name, "dates") == 0 ? 0 : 88;
    int32_t index = AddDefinitionRecord(&gParameters, sizeof(Parameter));
    if (index < 0) return -1;
    Parameter *p = (Parameter *)gParameters.items + index;
    CopyString(p->name, sizeof p->name, name, 63);
    CopyString(p->nameSpace, sizeof p->nameSpace, nameSpace, 63);
    return 0;
}

int LoadCashFeesList(StrategyRecord *record, const char *path, int fees) { return 1; }
