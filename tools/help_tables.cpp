/* help_tables.cpp -- writes the tables the help file is made from, as the
** program itself holds them, so the help cannot drift from the program and no
** table is read twice: tools/make-help turns the lines into pages.
**
**     kv_help_tables output.txt
**
** One record a line, fields split by tabs (no field holds a tab or a line end):
**   S  section id, header word, the id of the section whose keywords and help
**      topics it shares (its own id when it shares none)
**   I  topic, row, name, alias, category, least and most arguments, syntax,
**      description, the ids of the sections whose formulas may use it
**   K  topic, row, word, help key, kind (8 header, 10 keyword), section id,
**      description, what its value is ("formula", "file", "name" or ""), the
**      values the editor offers after its colon ('|' between them), the
**      editor's hint for the value
**   F  fundamental field group, name ("" for a group's title row), description
**   W  a word the editor looks up on F1 and the topic it opens
**   T  a window, panel or menu topic, and the fixed topics of Arg1 to Arg9,
**      fundamental fields and index memberships
** Built with the program's own libraries in both builds; the Windows build runs
** it under Wine.  Returns 0, or 1 when the output cannot be written.
*/
#include <cstdio>
#include <cstring>

#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/import_items.h"
#include "script/compiler/keywords.h"
#include "script/eval/item_table.h"
#include "shell/completion.h"
#include "shell/help_topics.h"
#include "shell/suggest.h"

namespace {

/* Tabs and line ends would split a record; none is expected in a table. */
void PutField(FILE *out, const char *text)
{
    fputc('\t', out);
    for (const char *p = text ? text : ""; *p; p++) fputc(*p == '\t' || *p == '\r' || *p == '\n' ? ' ' : *p, out);
}

/* The last three fields of a keyword row: what its value is, and the choices
** and hint the editor's Suggest Choices gives in a line of the row's section
** ("Word: " with the caret after it), choices without their images or
** descriptions.  Formulas and files are not asked for: their choices are the
** loaded data's and the folders' of the moment. */
void WriteValueChoices(FILE *out, const ScriptKeyword &row)
{
    int formula = row.valueType >= SUGGEST_KIND_FORMULA && row.valueType <= SUGGEST_KIND_LAST_FORMULA;
    int file = row.valueType >= SUGGEST_KIND_FIRST_FILE && row.valueType <= SUGGEST_KIND_LAST_FILE;
    const char *what = "";
    if (row.kind == KEYWORD_KIND_KEYWORD && formula)
        what = "formula";
    else if (row.kind == KEYWORD_KIND_KEYWORD && file)
        what = "file";
    else if (row.kind == KEYWORD_KIND_KEYWORD && row.valueType == SUGGEST_KIND_NAME)
        what = "name";
    PutField(out, what);
    char text[256];
    const char *header = kSectionNames[row.section];
    FormatText(text, sizeof text, "%s:%s\r\n%s: ", header, IsStrategySection(row.section) ? " Example" : "", row.name);
    if (row.kind != KEYWORD_KIND_KEYWORD || formula || file) {
        PutField(out, "");
        PutField(out, "");
        return;
    }
    static SuggestResult result;
    result = SuggestResult{};
    int32_t length = (int32_t)strlen(text);
    SuggestChoicesAt(text, length, length, 1, 0, nullptr, &result);
    char choices[CHOICE_BUFFER_SIZE] = "";
    int32_t n = 0;
    for (const char *p = result.list.text; result.list.length && *p;) {
        const char *end = strchr(p, '|');
        if (!end) end = p + strlen(p);
        int32_t take = 0;
        while (p + take < end && p[take] != '?' && p[take] != ' ') take++;
        if (n && n < (int32_t)sizeof choices - 1) choices[n++] = '|';
        for (int32_t i = 0; i < take && n < (int32_t)sizeof choices - 1; i++) choices[n++] = p[i];
        p = *end ? end + 1 : end;
    }
    choices[n] = 0;
    PutField(out, choices);
    PutField(out, result.hint);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: kv_help_tables output.txt\n");
        return 1;
    }
    FILE *out = fopen(argv[1], "wb");
    if (!out) {
        fprintf(stderr, "kv_help_tables: cannot write %s\n", argv[1]);
        return 1;
    }
    for (int s = 1; s < (int)SECTION_COUNT; s++) {
        fprintf(out, "S\t%d", s);
        PutField(out, kSectionNames[s]);
        fprintf(out, "\t%d\n", (int)HelpSectionNumber(s));
    }
    for (uint32_t row = 1; row < SCRIPT_ITEM_COUNT; row++) {
        const ScriptItem &item = gScriptItems[row];
        if (!item.name || !item.name[0]) continue;
        fprintf(out, "I\t%d\t%u", (int)(HELP_TOPIC_FIRST_ITEM + row), row);
        PutField(out, item.name);
        PutField(out, item.alias);
        fprintf(out, "\t%u\t%u\t%u", item.category, item.minimum, item.maximum);
        PutField(out, item.syntax);
        PutField(out, item.description);
        fputc('\t', out);
        for (int s = 1, first = 1; s < (int)SECTION_COUNT; s++)
            if (IsItemAllowedInSection(item.category, s)) {
                fprintf(out, first ? "%d" : ",%d", s);
                first = 0;
            }
        fputc('\n', out);
    }
    char key[96];
    for (int k = 0; kScriptKeywords[k].name[0]; k++) {
        const ScriptKeyword &row = kScriptKeywords[k];
        FormatText(key, sizeof key, "%s%d", row.name, (int)HelpSectionNumber(row.section));
        fprintf(out, "K\t%d\t%d", HELP_TOPIC_FIRST_KEYWORD + k, k);
        PutField(out, row.name);
        PutField(out, key);
        fprintf(out, "\t%d\t%d", row.kind, row.section);
        PutField(out, row.description);
        WriteValueChoices(out, row);
        fputc('\n', out);
    }
    for (int i = 0; gFundamentalFields[i].group; i++) {
        fprintf(out, "F\t%d", gFundamentalFields[i].group);
        PutField(out, gFundamentalFields[i].name);
        PutField(out, gFundamentalFields[i].description);
        fputc('\n', out);
    }
    /* Every word as the editor asks for it: the topic the lookup finds. */
    for (uint32_t row = 1; row < SCRIPT_ITEM_COUNT; row++) {
        const ScriptItem &item = gScriptItems[row];
        for (const char *word : {item.name, item.alias})
            if (word && word[0]) {
                fprintf(out, "W");
                PutField(out, word);
                fprintf(out, "\t%d\n", (int)HelpTopicForKey(word));
            }
    }
    for (int k = 0; kScriptKeywords[k].name[0]; k++) {
        FormatText(key, sizeof key, "%s%d", kScriptKeywords[k].name, (int)HelpSectionNumber(kScriptKeywords[k].section));
        fprintf(out, "W");
        PutField(out, key);
        fprintf(out, "\t%d\n", (int)HelpTopicForKey(key));
    }
    for (const char *word : {"Arg1", "Arg9", "F.Currency"}) {
        fprintf(out, "W");
        PutField(out, word);
        fprintf(out, "\t%d\n", (int)HelpTopicForKey(word));
    }
    for (int i = 0; kWindowHelpTopics[i]; i++) fprintf(out, "T\t%d\n", (int)kWindowHelpTopics[i]);
    fprintf(out, "T\t%d\nT\t%d\nT\t%d\n", HELP_TOPIC_ARGUMENT, HELP_TOPIC_FUNDAMENTAL, HELP_TOPIC_MEMBERSHIP);
    int failed = ferror(out) != 0;
    if (fclose(out) != 0 || failed) {
        fprintf(stderr, "kv_help_tables: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
