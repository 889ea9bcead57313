/* completion.cpp -- see completion.h. */
#include "shell/completion.h"

#include <cctype>
#include <cstring>

#include "foundation/text_match.h"
#include "script/compiler/formula.h"
#include "script/eval/item_table.h"

namespace {

struct EntryForm {
    int32_t category;
    int32_t image;
    char prefix; /* 0 for none */
    int colon;   /* keywords and headers end in ':' */
};
/* clang-format off */
constexpr EntryForm kEntryForms[] = {
    {.category = ENTRY_CATEGORY_PARAMETER, .image = 14, .prefix = 0, .colon = 0},
    {.category = CAT_OPERATOR, .image = 0, .prefix = 0, .colon = 0},
    {.category = CAT_BAR_VALUE, .image = 17, .prefix = 0, .colon = 0},
    {.category = CAT_BAR_DATE, .image = 17, .prefix = 0, .colon = 0},
    {.category = CAT_INDICATOR, .image = 18, .prefix = 0, .colon = 0},
    {.category = CAT_MULTI_BAR, .image = 19, .prefix = 0, .colon = 0},
    {.category = CAT_FUNCTION, .image = 20, .prefix = 0, .colon = 0},
    {.category = CAT_SYMBOL_INFO, .image = 17, .prefix = 0, .colon = 0},
    {.category = CAT_POSITION_INFO, .image = 17, .prefix = 0, .colon = 0},
    {.category = CAT_STRATEGY_INFO, .image = 13, .prefix = 0, .colon = 0},
    {.category = CAT_STRATEGY_STAT, .image = 15, .prefix = 0, .colon = 0},
    {.category = CAT_TRADE_VALUE, .image = 16, .prefix = 0, .colon = 0},
    {.category = CAT_TRADE_STAT, .image = 20, .prefix = 0, .colon = 0},
    {.category = CAT_SUM, .image = 20, .prefix = 0, .colon = 0},
    {.category = ENTRY_CATEGORY_KEYWORD, .image = 0, .prefix = 0, .colon = 1},
    {.category = ENTRY_CATEGORY_BAR_SIZE, .image = 12, .prefix = '~', .colon = 0},
    {.category = ENTRY_CATEGORY_AMPERSAND, .image = 12, .prefix = '&', .colon = 0},
    {.category = ENTRY_CATEGORY_SYMBOL, .image = 12, .prefix = '$', .colon = 0},
    {.category = ENTRY_CATEGORY_STRATEGY, .image = 12, .prefix = '@', .colon = 0},
};
/* clang-format on */
constexpr EntryForm kOtherForm = {.category = -1, .image = 12, .prefix = 0, .colon = 0};

const EntryForm &FormOf(int32_t category)
{
    for (const EntryForm &f : kEntryForms)
        if (f.category == category) return f;
    return kOtherForm;
}

int IsTipCategory(uint32_t category)
{
    return category == CAT_INDICATOR || category == CAT_MULTI_BAR || category == CAT_FUNCTION ||
        category == CAT_TRADE_STAT || category == CAT_SUM;
}

} // namespace

int FormatAutocompleteEntry(ChoiceBuffer *buffer, const char *name, const char *description, int32_t category,
                            int withDescription)
{
    const EntryForm &form = FormOf(category);
    if (category == CAT_OPERATOR && !isalpha((unsigned char)name[0])) return 0;
    if (buffer->length + CHOICE_ENTRY_RESERVE >= CHOICE_BUFFER_SIZE) return 0;
    char entry[CHOICE_BUFFER_SIZE];
    char prefix[2] = {form.prefix, 0};
    int32_t n = FormatText(entry, sizeof entry, "%s%s%s%s%s%s?%d", buffer->length ? "|" : "", prefix, name,
                           form.colon ? ":" : "", withDescription && description && description[0] ? " -- " : "",
                           withDescription && description ? description : "", form.image);
    if (n < 0 || buffer->length + n >= CHOICE_BUFFER_SIZE) return 0; /* the real length decides */
    memcpy(buffer->text + buffer->length, entry, (size_t)n + 1);
    buffer->length += n;
    return 1;
}

int MatchesTypedText(const char *name, const char *typed)
{
    size_t n = strlen(typed);
    if (n == 0) return 1;
    if (n >= 3) return FindTextNoCase(name, typed) != nullptr;
    return CompareNoCaseN(name, typed, n) == 0;
}

void AppendMatchingChoices(ChoiceBuffer *buffer, const char *typed, const char *const *names, int32_t count)
{
    for (int32_t i = 0; i < count; i++)
        if (names[i] && names[i][0] && MatchesTypedText(names[i], typed))
            FormatAutocompleteEntry(buffer, names[i], nullptr, -1, 0);
}

int LineValueText(const char *line, int32_t length, char *out, int32_t outSize)
{
    if (outSize > 0) out[0] = 0;
    if (length < 1 || length > 255) return 0;
    int32_t colon = -1;
    char quote = 0;
    for (int32_t i = 0; i < length && colon < 0; i++) {
        char c = line[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '/' && i + 1 < length && line[i + 1] == '/') {
            break;
        } else if (c == '{') {
            while (i < length && line[i] != '}') i++;
        } else if (c == ':' && (i + 1 >= length || line[i + 1] != '\\')) {
            colon = i;
        }
    }
    if (colon < 0) return 0;
    int32_t start = colon + 1, end = length;
    while (start < end && (line[start] == ' ' || line[start] == '\t')) start++;
    while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r' || line[end - 1] == '\n'))
        end--;
    CopyString(out, outSize, line + start, end - start);
    return 1;
}

uint32_t CalltipItemAt(const char *line, int32_t caret, int32_t *nameStart)
{
    int32_t depth = 0, open = -1;
    for (int32_t i = caret - 1; i >= 0 && caret - i <= 255; i--) {
        if (line[i] == ')')
            depth++;
        else if (line[i] == '(' && depth-- == 0) {
            open = i;
            break;
        }
    }
    if (open < 0) return 0;
    int32_t start = open;
    while (start > 0 && isalpha((unsigned char)line[start - 1])) start--;
    if (start == open || open - start > 79) return 0;
    char name[80];
    CopyString(name, sizeof name, line + start, open - start);
    uint32_t row = FindScriptItem(name, nullptr);
    if (row == 0 || !IsTipCategory(gScriptItems[row].category)) return 0;
    if (nameStart) *nameStart = start;
    return row;
}

int32_t CalltipText(uint32_t row, char *out, int32_t outSize)
{
    const ScriptItem &item = gScriptItems[row];
    if (item.alias && item.alias[0]) return FormatText(out, (size_t)outSize, "%s {or %s}", item.syntax, item.alias);
    return FormatText(out, (size_t)outSize, "%s", item.syntax);
}

int32_t CurrentArgumentIndex(const char *line, int32_t caret)
{
    int32_t depth = 0, commas = 0;
    for (int32_t i = caret - 1; i >= 0; i--) {
        char c = line[i];
        if (c == ')')
            depth++;
        else if (c == '(') {
            if (depth == 0) break;
            depth--;
        } else if (c == ',' && depth == 0) {
            commas++;
        }
    }
    return commas;
}

int CalltipHighlightSpan(const char *syntax, int32_t index, int32_t *start, int32_t *end)
{
    int32_t seen = 0, i = 0;
    for (; syntax[i]; i++)
        if ((syntax[i] == '(' || syntax[i] == ',') && seen++ == index) break;
    if (!syntax[i]) return 0;
    *start = i + 1;
    int32_t j = i + 1;
    while (syntax[j] && syntax[j] != ',' && syntax[j] != ')') j++;
    *end = j;
    return 1;
}
