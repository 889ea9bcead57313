/* Suggest Choices: the context at the caret and what is offered there. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "platform/platform.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/name_tables.h"
#include "script/eval/item_table.h"
#include "shell/suggest.h"
#include "support/test_support.h"

namespace {

struct Suggested {
    int hasContext, kind, show;
    std::string list, hint;
    int warning;
};

/* The script with '|' marking the caret. */
Suggested Suggest(const std::string &marked, int forced, const CompilerState *names = nullptr, int inDialog = 0)
{
    size_t caret = marked.find('|');
    std::string text = marked.substr(0, caret) + marked.substr(caret + 1);
    static SuggestResult result;
    SuggestChoicesAt(text.c_str(), (int32_t)text.size(), (int32_t)caret, forced, inDialog, names, &result);
    return {result.hasContext, result.kind, result.show, result.list.text, result.hint, result.hintIsWarning};
}

struct SuggestTest : ::testing::Test {
    void SetUp() override { gSettings.ScriptAutoCDesc = 0; }
};

TEST_F(SuggestTest, ContextsAndTheirChoices)
{
    struct Case {
        const char *script;
        int forced;
        int kind;
        const char *list; /* exact list, or null to skip */
        const char *hint;
    } cases[] = {
        // Headers at the first column: two letters match the start, three anywhere.
        {"Da|", 0, 0, "Data:?0", ""},
        {"Dat|", 0, 0, "Data:?0|TestData:?0|StratData:?0", ""},
        // Option values after a keyword's colon.
        {"Settings:\n\tStartDate: |", 1, 41, "Earliest?12", "Enter a date here, or type Earliest."},
        {"Settings:\n\tStartDate: Ea|", 0, 41, "Earliest?12", ""},
        {"Data:\n\tBarSize: W|", 0, 56, "Weekly?12", ""},
        {"Trades:\n\tSort: Sy|", 0, 62, "Symbol?12", ""},
        {"Trades:\n\tSort: |", 1, 62, "", "Comma-separated column list, leading dash means descending."},
        {"Scan:\n\tSort: Sy|", 0, 62, "Symbol?12", ""},
        {"Import:\n\tDataSource: Ya|", 0, 28, "Yahoo?12", ""},
        {"Settings:\n\tAccountSize: |", 1, 55, "", "Enter a number here."},
        // Section bodies: keywords of the family, hints with the header word.
        {"Data:\n\t|", 1, 5, "BarSize:?0", "Define a Data item here."},
        {"Trades:\n\t|", 1, 5, "Filter:?0|Sort:?0", ""},
        {"Strategy: S1\n\tUs|", 0, 9, "Using:?0", ""},
        {"Strategy: Sx|", 1, 1, "", "Type your strategy name here."},
        {"Parameters:\n\tp: F|", 0, 6, "From?12", ""},
        {"WalkForward:\n\tdates: |", 1, 8, "", "Enter the walk-forward date list."},
        {"WalkForward:\n\tlen: |", 1, 8, "", "Enter per-date values for len."},
        // Formulas: prefixed references.
        {"Data:\n\tx: ~W|", 0, 48, "~Weekly?12", ""},
        {"Data:\n\tx: &C|", 0, 48, "&CC?12|&CCB?12|&CII?12", ""},
        {"Results:\n\tx: ~W|", 0, 48, "", ""}, // no bar-size references there
        // Nothing in comments and strings, or on a name being defined.
        {"Data:\n\t// Clo|", 0, -1, nullptr, ""},
        {"Data:\n\tx: \"Clo|\"", 0, -1, nullptr, ""},
    };
    for (const Case &c : cases) {
        Suggested s = Suggest(c.script, c.forced);
        if (c.kind < 0) {
            EXPECT_EQ(s.hasContext, 0) << c.script;
            continue;
        }
        EXPECT_EQ(s.hasContext, 1) << c.script;
        EXPECT_EQ(s.kind, c.kind) << c.script;
        if (c.list) {
            EXPECT_EQ(s.list, c.list) << c.script;
        }
        EXPECT_EQ(s.hint, c.hint) << c.script;
        EXPECT_EQ(s.show, s.list.empty() ? SUGGEST_SHOW_NOTHING : SUGGEST_SHOW_USER_LIST) << c.script;
    }
}

TEST_F(SuggestTest, FormulasOfferTheItemsTheirSectionAllows)
{
    // Close is a bar value: offered in Data with its image; S.NetProfit-style
    // statistics are not offered in Data, and both work in a dialog editor.
    Suggested data = Suggest("Data:\n\tx: Clos|", 0);
    EXPECT_EQ(data.kind, 48);
    EXPECT_NE(data.list.find("Close?17"), std::string::npos) << data.list;
    Suggested dialog = Suggest("Clos|", 0, nullptr, 1);
    EXPECT_EQ(dialog.kind, 48);
    EXPECT_NE(dialog.list.find("Close?17"), std::string::npos) << dialog.list;
    struct Case {
        uint32_t category;
        int32_t section;
        int allowed;
    } cases[] = {
        {CAT_OPERATOR, SECTION_LIBRARY, 0},     {CAT_CONSTANT, SECTION_NOTES, 1},
        {CAT_ARGUMENT, SECTION_LIBRARY, 1},     {CAT_ARGUMENT, SECTION_DATA, 0},
        {CAT_BREADTH, SECTION_CHARTS, 0},       {CAT_BREADTH, SECTION_DATA, 1},
        {CAT_POSITION_INFO, SECTION_DATA, 0},   {CAT_POSITION_INFO, SECTION_TRADES, 0},
        {CAT_TRADE_VALUE, SECTION_SCAN, 0},     {CAT_BAR_VALUE, SECTION_SCAN, 1},
        {CAT_BAR_VALUE, SECTION_RESULTS, 0},    {CAT_STRATEGY_STAT, SECTION_RESULTS, 1},
        {CAT_INDICATOR, SECTION_GRAPHS, 1},     {CAT_BREADTH, SECTION_GRAPHS, 0},
        {CAT_TRADE_STAT, SECTION_GRAPHS, 1},    {CAT_STRATEGY_INFO, SECTION_GRAPHS, 0},
        {CAT_BREADTH, SECTION_STRAT_DATA, 1},   {CAT_FUNCTION, SECTION_SETTINGS, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsItemAllowedInSection(c.category, c.section), c.allowed) << c.category << " in " << c.section;
}

TEST_F(SuggestTest, ScriptNamesFollowTheirSections)
{
    static CompilerState names;
    names = CompilerState{};
    AddScriptName("Fast", SECTION_STRATEGY, &names);
    AddScriptName("Lookback", SECTION_PARAMETERS, &names);
    AddScriptName("Gap", SECTION_DATA, &names);
    struct Case {
        const char *script;
        int forced;
        const char *list;
    } cases[] = {
        {"Strategy: Fast\n\tUsing: |", 1, "Fast?12"},
        {"WalkForward:\n\t|", 1, "Dates?12|Lookback?14"},
        {"Charts:\n\tx: @F|", 0, "@Fast?12"},
        {"Data:\n\ty: Ga|", 0, "Gap -- variable?14"},
        {"Results:\n\ty: Ga|", 0, ""}, // a Data name is not visible in Results
    };
    for (const Case &c : cases) EXPECT_EQ(Suggest(c.script, c.forced, &names).list, c.list) << c.script;
    FreeMemory(&names.scriptNames);
}

TEST_F(SuggestTest, TheScoreColumnIsOneOfTheShownResultsColumns)
{
    static FormulaColumn columns[2];
    columns[0] = FormulaColumn{};
    columns[1] = FormulaColumn{};
    CopyString(columns[0].formula.name, sizeof columns[0].formula.name, "Profit", -1);
    columns[0].format = 1;
    CopyString(columns[1].formula.name, sizeof columns[1].formula.name, "Helper", -1);
    DefinitionList saved = gResultsColumns;
    gResultsColumns = DefinitionList{.items = columns, .capacity = 2, .count = 2};
    EXPECT_EQ(Suggest("OptimizeSettings:\n\tOptScoreCol: |", 1).list, "Profit?12");
    gResultsColumns = saved;
}

TEST_F(SuggestTest, FileValuesListTheirFolderAndTheImportSourceDecides)
{
    TempFolder tmp;
    WriteTestFile(tmp.File("a.kvs"), "");
    WriteTestFile(tmp.File("b.txt"), "");
    WriteTestFile(tmp.File(".hidden.kvs"), "");
    ASSERT_TRUE(PlatCreateFolder(tmp.File("sub").c_str()));
    std::string value = tmp.path + "\\";
    Suggested include = Suggest("Include: " + value + "|", 0);
    EXPECT_EQ(include.kind, 22);
    EXPECT_EQ(include.show, SUGGEST_SHOW_AUTOCOMPLETE);
    std::string list = include.list;
    EXPECT_NE(list.find(tmp.path + "\\a.kvs?12"), std::string::npos) << list;
    EXPECT_NE(list.find(tmp.path + "\\sub?12"), std::string::npos) << list;
    EXPECT_EQ(list.find("b.txt"), std::string::npos) << list;
    EXPECT_EQ(list.find("hidden"), std::string::npos) << list;
    EXPECT_EQ(Suggest("Include: |", 1).hint, "Path to Include file.");

    Suggested noSource = Suggest("Import:\n\tDataPath: C|", 0);
    EXPECT_EQ(noSource.kind, 18);
    EXPECT_EQ(noSource.hint, "Please specify the DataSource before adding a CSV Path.");
    EXPECT_EQ(noSource.warning, 1);
    EXPECT_EQ(noSource.list, "");
    EXPECT_EQ(Suggest("Import:\n\tDataSource: Norgate\n\tDataPath: N|", 0).list, "NDU?12");
    EXPECT_EQ(Suggest("Import:\n\tDataSource: CSV\n\tDataPath: |", 1).hint, "Path of CSV folder.");
    EXPECT_EQ(Suggest("Import:\n\tDataSource: Norgate\n\tIncludeList: |", 1).hint,
              "Specific symbols or path to symbol list file or . followed by Norgate watchlist name.");
}

} // namespace
