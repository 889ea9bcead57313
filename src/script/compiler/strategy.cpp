/* strategy.cpp -- strategy records, their constants, Using and TLFields lists,
** optimization parameters, inheritance and the defaults applied after linking.
*/
#include "script/compiler/strategy.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/data_load.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/keywords.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/ranges.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/side_files.h"
#include "script/eval/item_table.h"
#include "services/services.h"

/* ---- tables ------------------------------------------------------------------------ */

/* clang-format off */
const char *const kStrategyConstantNames[STRATEGY_CONSTANTS] = {
    "Side",        "BarSize",       "EntryTime",     "ExitTime",      "ExitLimitTime",   "ExitStopTime",
    "QtyType",     "QtyPrice",      "Compounded",    "MarkToMarket",  "Ambiguity",       "TLAdjusted",
    "TLAdoptPos",  "TLDateFmt",     "TLNumFmt",      "TLDelim",       "TLTimeShift",     "TLStratName",
    "CalendarSym", "DynamicSizing", "GreedyScoring", "AllowNoVolume", "AllowMissingBar", "IgnoreDividends",
    "Tracker"};
/* clang-format on */

const char *const kTradeListFieldNames[TL_FIELD_COUNT] = {
    "", "TradeID", "Strategy", "Side", "Symbol", "Underlying", "AssetId", "Action",
    "DateTime", "Shares", "DateIn", "TimeIn", "QtyIn", "PriceIn", "FeesIn", "ValueIn",
    "DateOut", "TimeOut", "QtyOut", "PriceOut", "FeesOut", "ValueOut", "Reason"};

namespace {

/* How a constant's value is read. */
enum ConstantForm { FORM_WORDS,
                    FORM_WHOLE_NUMBER,
                    FORM_STRAT_NAME,
                    FORM_CALENDAR_SYM };

struct ConstantRow {
    int form;
    int error;              /* compile error when no word matches */
    int sideOffset;         /* 1 for Side: the stored value is the position - 1 */
    const char *words[5];   /* value words by position, null-ended */
    const char *aliases[5]; /* alias at the same position, null when none */
    size_t field;           /* offset of the i32 in StrategyRecord */
};

#define F(name) offsetof(StrategyRecord, name)
#define TIME_WORDS                                                \
    {                                                             \
        "ThisClose", "NextOpen", "Intraday", "NextClose", nullptr \
    }
#define TIME_ALIASES                                          \
    {                                                         \
        "AtClose", "AtOpen", "Intraday", "NextClose", nullptr \
    }
#define BOOL_WORDS               \
    {                            \
        "False", "True", nullptr \
    }

/* The 25 constants in table order (kStrategyConstantNames). */
/* clang-format off */
const ConstantRow kConstantRows[STRATEGY_CONSTANTS] = {
    {.form = FORM_WORDS, .error = ERR_STRATEGY_SIDE, .sideOffset = 1, .words = {"Short", "Both", "Long", nullptr}, .aliases = {}, .field = F(Side)},
    {.form = FORM_WORDS, .error = ERR_BAR_SIZE, .sideOffset = 0, .words = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"}, .aliases = {}, .field = F(BarSize)},
    {.form = FORM_WORDS, .error = ERR_ENTRY_EXIT_TIME, .sideOffset = 0, .words = TIME_WORDS, .aliases = TIME_ALIASES, .field = F(EntryTime)},
    {.form = FORM_WORDS, .error = ERR_ENTRY_EXIT_TIME, .sideOffset = 0, .words = TIME_WORDS, .aliases = TIME_ALIASES, .field = F(ExitTime)},
    {.form = FORM_WORDS, .error = ERR_EXIT_PRICE_TYPE, .sideOffset = 0, .words = TIME_WORDS, .aliases = TIME_ALIASES, .field = F(ExitLimitTime)},
    {.form = FORM_WORDS, .error = ERR_EXIT_PRICE_TYPE, .sideOffset = 0, .words = TIME_WORDS, .aliases = TIME_ALIASES, .field = F(ExitStopTime)},
    {.form = FORM_WORDS, .error = ERR_QUANTITY_TYPE, .sideOffset = 0, .words = {"Shares", "Value", "Percent", nullptr}, .aliases = {"Shares", "ValueOrder", "PercentOrder", nullptr}, .field = F(QtyType)},
    {.form = FORM_WORDS, .error = ERR_QUANTITY_TYPE, .sideOffset = 0, .words = {"OrderPrice", "FillPrice", nullptr}, .aliases = {}, .field = F(QtyPrice)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(Compounded)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(MarkToMarket)},
    {.form = FORM_WORDS, .error = ERR_STRATEGY_SIDE, .sideOffset = 0, .words = {"Default", "Stop", "Target", "Neither", nullptr}, .aliases = {}, .field = F(Ambiguity)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(TLAdjusted)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(TLAdoptPos)},
    {.form = FORM_WORDS, .error = ERR_DATE_FORMAT, .sideOffset = 0, .words = {"MDY", "DMY", nullptr}, .aliases = {}, .field = F(TLDateFmt)},
    {.form = FORM_WORDS, .error = ERR_NUMBER_FORMAT, .sideOffset = 0, .words = {"Point", "Comma", nullptr}, .aliases = {}, .field = F(TLNumFmt)},
    {.form = FORM_WORDS, .error = ERR_DELIMITER, .sideOffset = 0, .words = {"Comma", "Semicolon", "Tab", nullptr}, .aliases = {}, .field = F(TLDelim)},
    {.form = FORM_WHOLE_NUMBER, .error = ERR_NONE, .sideOffset = 0, .words = {}, .aliases = {}, .field = F(TLTimeShift)},
    {.form = FORM_STRAT_NAME, .error = ERR_NONE, .sideOffset = 0, .words = {}, .aliases = {}, .field = 0},
    {.form = FORM_CALENDAR_SYM, .error = ERR_UNKNOWN_SYMBOL, .sideOffset = 0, .words = {}, .aliases = {}, .field = F(CalendarSym)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(DynamicSizing)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(GreedyScoring)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(AllowNoVolume)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(AllowMissingBar)},
    {.form = FORM_WORDS, .error = ERR_EXPECTED_TRUE_FALSE, .sideOffset = 0, .words = BOOL_WORDS, .aliases = {}, .field = F(IgnoreDividends)},
    {.form = FORM_WORDS, .error = ERR_TRACKER_SETTING, .sideOffset = 0, .words = {"None", "Hidden", "Visible", nullptr}, .aliases = {}, .field = F(Tracker)},
};
/* clang-format on */

/* The numeric constants that inheritance and a reset treat alike (every
** constant but TLStratName and CalendarSym, which are not 99-marked). */
/* clang-format off */
const size_t kUnsetFields[] = {
    F(Side),          F(QtyType),        F(QtyPrice),      F(BarSize),        F(EntryTime),       F(ExitTime),
    F(ExitLimitTime), F(ExitStopTime),   F(Compounded),    F(MarkToMarket),   F(DynamicSizing),   F(IgnoreDividends),
    F(GreedyScoring), F(AllowNoVolume),  F(AllowMissingBar), F(Tracker),      F(Ambiguity),       F(TLAdjusted),
    F(TLAdoptPos),    F(TLDateFmt),      F(TLNumFmt),      F(TLDelim),        F(TLTimeShift)};
/* clang-format on */

#undef F
#undef TIME_WORDS
#undef TIME_ALIASES
#undef BOOL_WORDS

int32_t &FieldAt(StrategyRecord *record, size_t offset)
{
    return *reinterpret_cast<int32_t *>(reinterpret_cast<char *>(record) + offset);
}

int32_t FieldAt(const StrategyRecord *record, size_t offset)
{
    return *reinterpret_cast<const int32_t *>(reinterpret_cast<const char *>(record) + offset);
}

StrategyRecord *RecordAt(int32_t index) { return gStrategies + index; }

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/* A one-line value as a string: it ends at length, a NUL, a comment or a
** directive, trailing white space left out.  The script text is not touched. */
std::string LineValue(const char *text, int length)
{
    std::string copy(text, length > 0 ? strnlen(text, (size_t)length) : 0);
    char saved = 0;
    int n = GetSectionLineValue(copy.data(), (int)copy.size(), &saved);
    copy.resize((size_t)n);
    return copy;
}

int FindRecordByName(const char *name, int32_t before)
{
    for (int32_t i = 0; i < before; i++)
        if (CompareNoCase(RecordAt(i)->name, name) == 0) return i;
    return -1;
}

int FindParameter(const char *name)
{
    for (int32_t i = 0; i < gParameters.count; i++)
        if (CompareNoCase(((Parameter *)gParameters.items)[i].name, name) == 0) return i;
    return -1;
}

/* Grows a tracked array to hold at least n elements (gains are zeroed). */
template <typename T>
int GrowArray(T **items, int32_t *capacity, int32_t n)
{
    if (n <= *capacity) return 1;
    if (!ReallocMemory(items, (uint64_t)n * sizeof(T))) return 0;
    *capacity = n;
    return 1;
}

/* Moves p past a comment or directive that begins there; false when none does. */
bool SkipCommentAt(const char *&p)
{
    bool directive = *p == '#';
    if (!SkipComment(&p, nullptr)) return false;
    /* A comment leaves p on its last character, a directive where reading goes on. */
    if (!directive && *p) p++;
    return true;
}

int UsesItem(const FormulaSlot *slot, uint32_t row) { return row && IsSlotGiven(slot) && FormulaReferences(slot, row); }

} // namespace

/* ---- records ----------------------------------------------------------------------- */

StrategyRecord *StrategyByNumber(int32_t number)
{
    if (number < 1 || number > gStrategyCount || !gStrategies) return nullptr;
    return RecordAt(number - 1);
}

int IsSlotGiven(const FormulaSlot *slot)
{
    return slot->count > 0 && slot->nodes[0] && slot->nodes[0][0].item != ITEM_END;
}

/* The positions and setups a finished or stopped run leaves in its strategies
** point at symbol records; when the data goes they go too (their memory is
** kept for the next run). */
static void DropRunPositions()
{
    for (int32_t s = 0; gStrategies && s < gStrategyCount; s++) {
        StrategyRecord *r = &gStrategies[s];
        r->openCount = 0;
        r->setupCount = 0;
        r->keptSetupCount = 0;
        r->nextSetup = 0;
    }
}
[[maybe_unused]] static const bool kPositionsLinked = (gScriptDataLinks.dropRunPositions = DropRunPositions, true);

void ResetStrategyRecord(StrategyRecord *record)
{
    for (DateList &list : record->dateLists) FreeMemory(&list.dates);
    FreeMemory(&record->holidays.pairs);
    FreeMemory(&record->cashList.items);
    FreeMemory(&record->feesList.items);
    FreeMemory(&record->setups);
    FreeMemory(&record->openPositions);
    FreeMemory(&record->tradeListRows);
    FreeMemory(&record->strategyIndexes);
    /* Everything but the slots is zeroed; the slots keep their node arrays so
    ** that the next compile of the same script allocates nothing. */
    size_t slotsStart = offsetof(StrategyRecord, slots);
    size_t slotsEnd = slotsStart + sizeof record->slots;
    memset((void *)record, 0, slotsStart);
    memset((char *)record + slotsEnd, 0, sizeof *record - slotsEnd);
    for (FormulaSlot &slot : record->slots) ResetDefinitionSlot(&slot);
    for (size_t field : kUnsetFields) FieldAt(record, field) = STRATEGY_CONSTANT_UNSET;
}

StrategyRecord *AddStrategyRecord(int kind, const char *name, int *outError)
{
    *outError = 0;
    if (!name) name = "";
    if (kind != SECTION_COMBINED && name[0]) {
        if (CompareNoCase(name, "combined") == 0 || FindRecordByName(name, gStrategyCount) >= 0) {
            *outError = ERR_DUPLICATE_STRATEGY;
            return nullptr;
        }
    }
    StrategyRecord *record = AppendStrategyRecord();
    if (!record) return nullptr;
    int32_t index = gStrategyCount - 1;
    record->kind = kind;
    if (kind == SECTION_COMBINED) {
        CopyString(record->name, sizeof record->name, "Combined", -1);
    } else if (!name[0]) {
        /* A generated name takes the record count, or the next number that no
        ** other record uses, so two records never share a name. */
        const char *base = kind > 0 && kind < (int)SECTION_COUNT ? kSectionNames[kind] : "Strategy";
        for (int32_t n = gStrategyCount;; n++) {
            FormatText(record->name, sizeof record->name, "%s%d", base, (int)n);
            if (FindRecordByName(record->name, index) < 0) break;
        }
    } else {
        CopyString(record->name, sizeof record->name, name, STRATEGY_NAME_SIZE - 1);
    }
    return record;
}

int ParseStrategyConstant(StrategyRecord *record, const char *keyword, const char *value, int length, int *outError,
                          int *outLength)
{
    int index = FindKeyword(keyword, kStrategyConstantNames, STRATEGY_CONSTANTS);
    if (index < 0) return 0;
    if (record->kind == SECTION_STATS_GROUP || record->kind == SECTION_COMBINED) return -1;
    const ConstantRow &row = kConstantRows[index];
    std::string text = LineValue(value, length);
    *outError = 0;
    *outLength = 0;

    if (row.form == FORM_WHOLE_NUMBER) {
        const char *p = text.c_str();
        int n = 0;
        if (p[n] == '-') n++;
        while (p[n] >= '0' && p[n] <= '9') n++;
        FieldAt(record, row.field) = (int32_t)strtol(p, nullptr, 10);
        record->TLTimeShiftGiven = 1;
        *outLength = n;
        return index + 1;
    }
    if (row.form == FORM_CALENDAR_SYM && gCompileSession.pass != 2) {
        /* Symbols are known only once the data is loaded. */
        *outLength = (int)text.size();
        return index + 1;
    }

    /* ReadNameToken keeps at most size - 2 characters: 255 for a trade-list
    ** strategy name, 79 for a word or a symbol. */
    char word[STRATEGY_NAME_SIZE + 1];
    int wordSize = row.form == FORM_STRAT_NAME ? STRATEGY_NAME_SIZE + 1 : CONSTANT_WORD_SIZE + 1;
    int error = ReadNameToken(word, wordSize, text.c_str(), (int)text.size());
    *outLength = (int)strlen(word);
    if (error) {
        *outError = error;
        return index + 1;
    }
    switch (row.form) {
    case FORM_STRAT_NAME:
        CopyString(record->TLStratName, sizeof record->TLStratName, word, -1);
        break;
    case FORM_CALENDAR_SYM: {
        int32_t symbol = FindSymbolIndex(word);
        if (!symbol)
            *outError = row.error;
        else
            record->CalendarSym = symbol;
        break;
    }
    default: {
        int position = -1;
        for (int k = 0; k < 5 && row.words[k] && position < 0; k++)
            if (CompareNoCase(word, row.words[k]) == 0) position = k;
        for (int k = 0; k < 5 && row.aliases[k] && position < 0; k++)
            if (CompareNoCase(word, row.aliases[k]) == 0) position = k;
        if (position < 0)
            *outError = row.error;
        else
            FieldAt(record, row.field) = position - row.sideOffset;
        break;
    }
    }
    return index + 1;
}

int ParseUsingList(StrategyRecord *record, const char *text, int length, int *outOffset, int *outLength)
{
    std::string value = LineValue(text, length);
    int32_t self = (int32_t)(record - RecordAt(0));
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        size_t a = start, b = comma;
        while (a < b && IsBlankChar(value[a])) a++;
        while (b > a && IsBlankChar(value[b - 1])) b--;
        if (b > a) {
            std::string name = value.substr(a, b - a);
            int code = 0;
            /* Only records defined earlier count, so a chain of Using can
            ** never loop back on itself. */
            int found = FindRecordByName(name.c_str(), self);
            if (found < 0)
                code = ERR_UNKNOWN_STRATEGY_NAME;
            else if (RecordAt(found)->kind == SECTION_STATS_GROUP)
                code = ERR_USING_STATS_GROUP;
            else if (record->kind == SECTION_STATS_GROUP && RecordAt(found)->kind == SECTION_TEMPLATE)
                code = ERR_STATS_GROUP_USING_TEMPLATE;
            if (!code) {
                bool listed = false;
                for (int32_t i = 0; i < record->usingCount; i++) listed |= record->usingList[i] == found;
                if (!listed) {
                    if (record->usingCount >= STRATEGY_MAX_LINKS)
                        code = ERR_USING_TOO_LONG;
                    else
                        record->usingList[record->usingCount++] = found;
                }
            }
            if (code) {
                if (outOffset) *outOffset = (int)a;
                if (outLength) *outLength = (int)(b - a);
                return code;
            }
        }
        start = comma + 1;
    }
    return 0;
}

int ParseTLFieldsList(StrategyRecord *record, const char *text, int length, int *outOffset, int *outLength)
{
    std::string value = LineValue(text, length);
    record->tlFieldSum = 0;
    memset(record->tlColumnField, 0, sizeof record->tlColumnField);
    memset(record->tlFieldColumn, 0, sizeof record->tlFieldColumn);
    size_t start = 0;
    for (int column = 0; column < TL_MAX_COLUMNS && start <= value.size(); column++) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        size_t a = start, b = comma;
        start = comma + 1;
        while (a < b && IsBlankChar(value[a])) a++;
        while (b > a && IsBlankChar(value[b - 1])) b--;
        if (b == a) continue; /* an empty name leaves the column unused */
        std::string name = value.substr(a, b - a);
        int id = -1;
        for (int k = 1; k < TL_FIELD_COUNT && id < 0; k++)
            if (CompareNoCase(name.c_str(), kTradeListFieldNames[k]) == 0) id = k;
        int code = id < 0 ? ERR_TRADE_LIST_FIELD : record->tlFieldColumn[id] ? ERR_DUPLICATE_TRADE_LIST_FIELD
                                                                             : ERR_NONE;
        if (code && outOffset) {
            *outOffset = (int)a;
            if (outLength) *outLength = (int)(b - a);
            return code;
        }
        if (id < 0) continue;
        if (record->tlFieldColumn[id]) {
            /* The later column wins; the earlier one no longer maps the field. */
            record->tlColumnField[record->tlFieldColumn[id] - 1] = 0;
            record->tlFieldSum -= id;
        }
        record->tlColumnField[column] = id;
        record->tlFieldColumn[id] = column + 1;
        record->tlFieldSum += id;
    }
    return 0;
}

/* ---- parameters -------------------------------------------------------------------- */

int AddParameterName(int section, const char *name, const char *nameSpace, const char *values, int length,
                     int *outOffset, int *outLength)
{
    /* A bounded copy: every reader below stops at its NUL. */
    std::string text(values, length > 0 ? strnlen(values, (size_t)length) : 0);
    bool walk = section == SECTION_WALK_FORWARD;
    bool dates = walk && CompareNoCase(name, "dates") == 0;
    Parameter *parameter = nullptr;
    if (dates) {
        gWalkForwardDates.count = 0;
    } else {
        int found = FindParameter(name);
        if (found < 0) {
            if (walk) return ERR_WALK_FORWARD_NAME;
            int32_t index = AddDefinitionRecord(&gParameters, sizeof(Parameter));
            if (index < 0) return -1;
            if (AddDefinitionRecord(&gParameterCopies, sizeof(Parameter)) < 0) {
                gParameters.count--;
                return -1;
            }
            found = index;
        }
        parameter = (Parameter *)gParameters.items + found;
        CopyString(parameter->name, sizeof parameter->name, name, VALUE_NAME_SIZE - 1);
        CopyString(parameter->nameSpace, sizeof parameter->nameSpace, nameSpace ? nameSpace : "", VALUE_NAME_SIZE - 1);
        parameter->rangeFlag = 0;
    }

    int count = 0;
    bool range = false;
    if (section == SECTION_PARAMETERS) {
        int n = ExpandOptimizationRange(text.c_str(), (int)text.size(), parameter, nullptr, 0);
        if (n == RANGE_STEP_AND_MULT) return ERR_STEP_AND_MULT;
        if (n == RANGE_BAD) return ERR_DESCENDING_LOOP;
        /* A range beyond the value cap is refused rather than silently cut. */
        if (n == RANGE_TOO_MANY || n > RANGE_MAX_VALUES) return ERR_TOO_MANY_VALUES;
        if (n > 0) {
            count = n;
            range = true;
        }
    }
    if (!range) {
        count = 1;
        for (const char *p = text.c_str(); *p;) {
            if (SkipCommentAt(p)) continue;
            if (*p == ',') count++;
            p++;
        }
        /* A written-out list obeys the same cap as a range. */
        if (count > RANGE_MAX_VALUES) return ERR_TOO_MANY_VALUES;
    }

    /* Room for count values in the target list. */
    double *target = nullptr;
    int32_t *dateTarget = nullptr;
    if (dates) {
        if (gWalkForwardDates.capacity < count) {
            if (!ReallocMemory(&gWalkForwardDates.items, (uint64_t)count * sizeof(int32_t))) return -1;
            gWalkForwardDates.capacity = count;
        }
        dateTarget = (int32_t *)gWalkForwardDates.items;
    } else if (walk) {
        if (!GrowArray(&parameter->walkValues, &parameter->walkCapacity, count)) return -1;
        target = parameter->walkValues;
    } else {
        if (!GrowArray(&parameter->values, &parameter->valueCapacity, count)) return -1;
        target = parameter->values;
    }

    int read = 0;
    std::vector<std::pair<int, int>> dateSpans; /* of each date in text */
    if (range) {
        read = ExpandOptimizationRange(text.c_str(), (int)text.size(), parameter, target, count);
    } else {
        const char *p = text.c_str();
        for (;;) {
            if (SkipCommentAt(p)) continue;
            if (IsBlankChar(*p) || *p == ',') {
                p++;
                continue;
            }
            if (!*p) break;
            if (read >= count) return ERR_PARAMETER_SYNTAX;
            if (dates) {
                size_t n = strspn(p, "0123456789/-.");
                std::string word(p, n);
                int32_t date = n ? ParseDate(word.c_str()) : 0;
                if (!date) return ERR_WALK_FORWARD_SYNTAX;
                dateSpans.push_back({(int)(p - text.c_str()), (int)n});
                dateTarget[read++] = date;
                p += n;
            } else {
                double value = 0;
                int n = IsNumberText(p, 1, 0) ? ReadNumberPrefix(p, &value) : 0;
                if (n == 0) return ERR_PARAMETER_SYNTAX;
                target[read++] = value;
                p += n;
            }
        }
        /* An empty list stands for one value of 0. */
        if (read == 0) {
            if (dates)
                dateTarget[0] = 0;
            else
                target[0] = 0;
            read = 1;
        }
    }

    if (dates) {
        /* Each date but the last begins an interval, so it must come after
        ** the one before; a date that did not would leave an interval
        ** unplayed, or play one twice. */
        for (int i = 1; i < (int)dateSpans.size(); i++) {
            const bool last = i + 1 == (int)dateSpans.size();
            if (dateTarget[i] > dateTarget[i - 1] || (last && dateTarget[i] == dateTarget[i - 1])) continue;
            if (outOffset) *outOffset = dateSpans[(size_t)i].first;
            if (outLength) *outLength = dateSpans[(size_t)i].second;
            return ERR_WALK_FORWARD_SYNTAX;
        }
        gWalkForwardDates.count = read;
    } else if (walk) {
        if (read != gWalkForwardDates.count - 1) return ERR_WALK_FORWARD_COUNT;
        parameter->walkCount = read;
    } else {
        parameter->valueCount = read;
        parameter->labelFlag = FindTextNoCase(text.c_str(), "{x}") != nullptr;
    }
    return 0;
}

void FreeParameterLists()
{
    for (DefinitionList *list : {&gParameters, &gParameterCopies}) {
        for (int32_t i = 0; i < list->capacity; i++) {
            Parameter *p = (Parameter *)list->items + i;
            FreeMemory(&p->values);
            FreeMemory(&p->walkValues);
        }
        FreeDefinitionList(list);
    }
    FreeDefinitionList(&gWalkForwardDates);
}

/* ---- inheritance and defaults -------------------------------------------------------- */

int InheritStrategyFormulas(const StrategyRecord *from, StrategyRecord *strategy)
{
    int ok = 1;
    for (int i = 0; i < STRATEGY_SLOTS; i++)
        if (!IsSlotGiven(&strategy->slots[i]) && !CopyFormulaRecord(&from->slots[i], &strategy->slots[i])) ok = 0;
    for (size_t field : kUnsetFields) {
        if (field == offsetof(StrategyRecord, TLTimeShift)) continue;
        if (FieldAt(strategy, field) == STRATEGY_CONSTANT_UNSET) FieldAt(strategy, field) = FieldAt(from, field);
    }
    /* A time shift counts as set when the script gave it, whatever its value. */
    if (!strategy->TLTimeShiftGiven && strategy->TLTimeShift == STRATEGY_CONSTANT_UNSET) {
        strategy->TLTimeShift = from->TLTimeShift;
        strategy->TLTimeShiftGiven = from->TLTimeShiftGiven;
    }
    if (!strategy->TLEndDate) strategy->TLEndDate = from->TLEndDate;
    if (!strategy->CalendarSym) strategy->CalendarSym = from->CalendarSym;
    if (!strategy->tlFieldSum && from->tlFieldSum) {
        strategy->tlFieldSum = from->tlFieldSum;
        memcpy(strategy->tlColumnField, from->tlColumnField, sizeof strategy->tlColumnField);
        memcpy(strategy->tlFieldColumn, from->tlFieldColumn, sizeof strategy->tlFieldColumn);
    }
    /* clang-format off */
    struct Text { char *to; const char *from; int size; } texts[] = {
        {strategy->TradeList, from->TradeList, PATH_SIZE},
        {strategy->TLStratName, from->TLStratName, STRATEGY_NAME_SIZE},
        {strategy->HolidayList, from->HolidayList, PATH_SIZE},
        {strategy->OrdersFile, from->OrdersFile, PATH_SIZE},
        {strategy->OrdersNetLiq, from->OrdersNetLiq, PATH_SIZE},
        {strategy->OrdersFreeCash, from->OrdersFreeCash, PATH_SIZE},
        {strategy->OrdersTemplate, from->OrdersTemplate, PATH_SIZE}};
    /* clang-format on */
    for (const Text &t : texts)
        if (!t.to[0]) CopyString(t.to, t.size, t.from, -1);
    return ok;
}

namespace {

/* Fills the record's five date lists from its calendar symbol's bars. */
int BindOwnCalendar(StrategyRecord *record, int32_t index)
{
    int32_t k = record->CalendarSym;
    const SymbolRecord *symbol = gStore.symbols && k >= 1 && k <= gStore.symbolCount ? &gStore.symbols[k - 1] : nullptr;
    if (!symbol) return 0;
    for (int size = 0; size < BAR_SIZE_COUNT; size++) {
        DateList &list = record->dateLists[size];
        int32_t n = 0;
        const Bar *bars = GetBarArray(symbol, size, &n);
        if (!AllocMemory(&list.dates, (uint64_t)(n + 1) * sizeof(uint32_t))) return 0;
        for (int32_t i = 0; i < n; i++) list.dates[i] = (uint32_t)bars[i].date;
        list.dates[n] = 0;
        list.capacity = n + 1;
        list.count = n;
        list.barSize = size;
        list.holidayStrategy = index + 1;
    }
    record->hasOwnDateLists = 1;
    return 1;
}

/* The slots DynamicSizing cannot be used with, in the order they are checked. */
const int kNotWithDynamicSizing[] = {SLOT_MAX_SAME_CAT, SLOT_MAX_SAME_SYM, SLOT_ENTRY_SETUP, SLOT_MAX_SETUPS,
                                     SLOT_ENTRY_LIMIT, SLOT_ENTRY_STOP, SLOT_ENTRY_SCORE, SLOT_MAX_ENTRIES,
                                     SLOT_EXIT_SCORE, SLOT_EXIT_RULE, SLOT_EXIT_LIMIT, SLOT_EXIT_STOP,
                                     SLOT_EXIT_QTY, SLOT_EXIT_LIMIT_QTY, SLOT_EXIT_STOP_QTY};

int DefaultCompounded(const StrategyRecord *r)
{
    if (r->kind == SECTION_STATS_GROUP) return 0;
    const uint32_t equity = ITEM_S_EQUITY;
    const uint32_t alloc = ITEM_S_ALLOC;
    const FormulaSlot *quantity = &r->slots[SLOT_QUANTITY];
    const FormulaSlot *allocation = &r->slots[SLOT_ALLOCATION];
    if (UsesItem(quantity, equity)) return 1;
    if (IsSlotGiven(allocation) && !UsesItem(allocation, equity)) return 0;
    if (IsSlotGiven(quantity) && r->QtyType != QTY_PERCENT && !UsesItem(quantity, alloc)) return 0;
    return 1;
}

} // namespace

static const HolidayList *OwnHolidays(int strategy)
{
    if (!gStrategies || strategy < 1 || strategy > gStrategyCount) return nullptr;
    const StrategyRecord *record = &gStrategies[strategy - 1];
    return record->hasOwnHolidays ? &record->holidays : nullptr;
}

static const DateList *OwnDateList(const StrategyRecord *strategy, int barSize)
{
    return strategy->hasOwnDateLists ? &strategy->dateLists[barSize] : nullptr;
}

void LinkStrategyCalendars() { gCalendar.strategies = {OwnHolidays, OwnDateList}; }

int ApplyStrategyDefaults(int32_t index, int pass)
{
    if (index < 0 || index >= gStrategyCount) return 1;
    StrategyRecord *r = RecordAt(index);
    const int32_t U = STRATEGY_CONSTANT_UNSET;
    auto orZero = [U](int32_t &v, int32_t d) { if (v == U) v = d; };

    r->Side = r->Side == U ? 0 : (r->Side > 0) - (r->Side < 0);
    orZero(r->TLAdjusted, 0);
    orZero(r->TLAdoptPos, 0);
    orZero(r->TLDateFmt, gSettings.DateInputFormat);
    orZero(r->TLNumFmt, 0);
    orZero(r->TLDelim, 0);
    if (!r->TLTimeShiftGiven && r->TLTimeShift == U) r->TLTimeShift = 0;
    orZero(r->QtyType, 0);
    orZero(r->QtyPrice, 0);
    orZero(r->BarSize, gSettings.BarSize2);
    orZero(r->Ambiguity, 0);
    if (r->Compounded == U) r->Compounded = DefaultCompounded(r);
    orZero(r->MarkToMarket, r->kind == SECTION_STATS_GROUP ? 0 : 1);
    orZero(r->DynamicSizing, 0);
    orZero(r->IgnoreDividends, 0);
    orZero(r->GreedyScoring, 0);
    orZero(r->AllowNoVolume, 0);
    orZero(r->AllowMissingBar, 0);
    orZero(r->ExitLimitTime, TIME_INTRADAY);
    orZero(r->ExitStopTime, TIME_INTRADAY);
    if (r->TLNumFmt == 1 && r->TLDelim == 0) r->TLDelim = 1;
    if (r->BarSize != BAR_DAILY) r->AllowMissingBar = 0;
    r->hasEntryLimit = IsSlotGiven(&r->slots[SLOT_ENTRY_LIMIT]);
    r->hasEntryStop = IsSlotGiven(&r->slots[SLOT_ENTRY_STOP]);
    r->nextCloseOnly = r->EntryTime == TIME_NEXT_CLOSE && r->ExitTime == TIME_NEXT_CLOSE &&
        !IsSlotGiven(&r->slots[SLOT_EXIT_LIMIT]) && !IsSlotGiven(&r->slots[SLOT_EXIT_STOP]);
    r->keepTrades = r->kind == SECTION_BENCHMARK ? gSettings.KeepBench
        : r->kind == SECTION_STRATEGY            ? gSettings.KeepTrades
                                                 : 0;
    if (r->DynamicSizing == 1) {
        const char *clash = nullptr;
        for (int slot : kNotWithDynamicSizing)
            if (!clash && IsSlotGiven(&r->slots[slot])) clash = kStrategySlotNames[slot];
        if (!clash && r->Side != 0) clash = "Side";
        if (clash) {
            ReportError("Strategy %s speficies DynamicSizing and %s -- these are not allowed together", r->name, clash);
            SetResultCode(RESULT_COMPILE_FAILURE);
            return 0;
        }
    }
    if (r->hasEntryLimit || r->hasEntryStop)
        orZero(r->EntryTime, TIME_INTRADAY);
    else if (r->EntryTime == U || r->EntryTime == TIME_INTRADAY)
        r->EntryTime = TIME_NEXT_OPEN;
    r->effectiveEntryTime = r->EntryTime;
    if (r->TradeList[0] && !r->TLStratName[0]) CopyString(r->TLStratName, sizeof r->TLStratName, r->name, -1);
    if (r->ExitTime == U || r->ExitTime == TIME_INTRADAY) r->ExitTime = TIME_NEXT_OPEN;

    if (pass == 2) {
        LinkStrategyCalendars();
        if (r->CalendarSym && !BindOwnCalendar(r, index)) return 0;
        if (r->HolidayList[0]) {
            char path[PATH_SIZE];
            CopyString(path, sizeof path, r->HolidayList, -1);
            if (!ExpandPathMacros(path, gScriptsFolder)) {
                ReportError("Unable to read holiday list file %s", r->HolidayList);
                SetResultCode(RESULT_FILE_ERROR);
                return 0;
            }
            if (!LoadHolidayList(&r->holidays, path)) return 0;
            r->hasOwnHolidays = 1;
        }
    }
    return 1;
}

int ReserveStrategyIndexLists()
{
    for (int32_t i = 0; i < gStrategyCount; i++) {
        StrategyRecord *r = RecordAt(i);
        if (!GrowArray(&r->strategyIndexes, &r->strategyIndexCapacity, gStrategyCount)) return 0;
    }
    return 1;
}
