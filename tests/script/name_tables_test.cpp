/* Script-name lists, their visibility against the formula compiler's own
** rule, the special-name resolvers and the editor's name scan. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler_fixture.h"
#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/import_items.h"
#include "script/compiler/name_tables.h"
#include "script/compiler/parser_hooks.h"
#include "script/eval/item_table.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

/* ---- visibility ------------------------------------------------------------------------ */

/* Sections whose formulas the compiler compiles (parameter lines hold none). */
bool HoldsFormulas(int32_t s) { return s != SECTION_PARAMETERS && s != SECTION_WALK_FORWARD; }

struct Visibility : CompilerTest {};

/* The editor's table and the compiler agree for every pair of a defining
** list and a referencing section. */
TEST_F(Visibility, TheEditorSeesWhatTheCompilerAccepts)
{
    const uint32_t itemSections[] = {SECTION_DATA, SECTION_TEST_DATA, SECTION_STRAT_DATA, SECTION_LIBRARY};
    const uint32_t columnSections[] = {SECTION_RESULTS, SECTION_GRAPHS, SECTION_CHARTS,
                                       SECTION_TRADES, SECTION_SCAN, SECTION_TEST_SCAN};
    for (uint32_t defining : itemSections) {
        FormulaItem item = {};
        CopyString(item.formula.name, sizeof item.formula.name, "Xdef", -1);
        InstallItems(defining, &item, 1);
        for (int32_t s = 0; s < (int32_t)SECTION_COUNT; s++) {
            if (!HoldsFormulas(s)) continue;
            bool compiles = Compile("Xdef", (uint32_t)s, 5).rfind("error 31", 0) != 0;
            EXPECT_EQ(SectionCanSee(s, (int32_t)defining) == 1, compiles) << "defined in " << defining << ", seen from " << s;
        }
        *DefinitionListFor(defining) = DefinitionList{};
    }
    for (uint32_t defining : columnSections) {
        FormulaSlot slot = {};
        CopyString(slot.name, sizeof slot.name, "Xcol", -1);
        FixtureColumn column = {&slot, defining};
        InstallColumns(&column, 1);
        for (int32_t s = 0; s < (int32_t)SECTION_COUNT; s++) {
            if (!HoldsFormulas(s)) continue;
            std::string got = Compile("Xcol", (uint32_t)s, 5);
            bool compiles = got.rfind("error", 0) != 0;
            EXPECT_EQ(SectionCanSee(s, (int32_t)defining) == 1, compiles) << "column of " << defining << ", seen from " << s;
        }
        TearDown();
        SetUp();
    }
    FixtureParameter parameter = {"Xpar", 3};
    InstallParameters(&parameter, 1);
    for (int32_t s = 0; s < (int32_t)SECTION_COUNT; s++) {
        if (!HoldsFormulas(s)) continue;
        bool compiles = Compile("Xpar", (uint32_t)s, 5).rfind("error", 0) != 0;
        EXPECT_EQ(SectionCanSee(s, SECTION_PARAMETERS) == 1, compiles) << "parameter seen from " << s;
    }
}

TEST(NameTables, SpecialSectionsOfTheTable)
{
    const struct {
        int32_t referencing, defining, sees;
    } cases[] = {
        {SECTION_PARAMETERS, SECTION_DATA, 0}, /* parameter lines see no item */
        {SECTION_WALK_FORWARD, SECTION_PARAMETERS, 0},
        {SECTION_STRATEGY, SECTION_STATS_GROUP, 1}, /* Using lists name other records */
        {SECTION_STATS_GROUP, SECTION_TEMPLATE, 1},
        {SECTION_DATA, SECTION_STRATEGY, 0},
        {SECTION_NONE, SECTION_STRATEGY, 1},
        {-1, -1, 1}, /* preprocessor names */
        {-1, -2, 0},
        {-3, -2, 1},
        {SECTION_DATA, -1, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SectionCanSee(c.referencing, c.defining), c.sees) << c.referencing << " / " << c.defining;
}

TEST(NameTables, NamesAreFoundWhereTheyAreVisible)
{
    CompilerState state = {};
    EXPECT_EQ(FindScriptName("x", SECTION_NONE, &state), 0) << "an empty list";
    AddScriptName("Fast", SECTION_DATA, &state);
    AddScriptName("Score", SECTION_TEST_DATA, &state);
    AddScriptName("Len", SECTION_PARAMETERS, &state);
    EXPECT_EQ(FindScriptName("FAST", SECTION_TEST_DATA, &state), 1);
    EXPECT_EQ(FindScriptName("Fast", SECTION_RESULTS, &state), 0);
    EXPECT_EQ(FindScriptName("score", SECTION_SCAN, &state), 0);
    EXPECT_EQ(FindScriptName("score", SECTION_STRATEGY, &state), 1);
    EXPECT_EQ(FindScriptName("len", SECTION_SCAN, &state), 1);
    EXPECT_EQ(FindScriptName("len", SECTION_IMPORT, &state), 0);

    /* Rows grow ten at a time, and a freed row is used again first. */
    for (int i = 0; i < 20; i++) AddScriptName(("n" + std::to_string(i)).c_str(), SECTION_DATA, &state);
    EXPECT_EQ(state.scriptNameCount, 23);
    EXPECT_EQ(state.scriptNameCapacity % SCRIPT_NAME_GROW, 0);
    EXPECT_GT(state.scriptNameCapacity, state.scriptNameCount);
    state.scriptNames[1].name[0] = 0;
    AddScriptName("Again", SECTION_LIBRARY, &state);
    EXPECT_EQ(state.scriptNameCount, 23);
    EXPECT_STREQ(state.scriptNames[1].name, "Again");
    FreeMemory(&state.scriptNames);
}

TEST(NameTables, SectionHeadersNeedTheirColon)
{
    const struct {
        const char *text;
        int32_t id;
    } cases[] = {
        {"Data: x", SECTION_DATA},
        {"testdata:", SECTION_TEST_DATA},
        {"OptimizeSettings:", SECTION_OPTIMIZE_SETTINGS},
        {"Data :", 0},
        {"Datum:", 0},
        {"Include", 0},
    };
    for (const auto &c : cases) {
        int32_t id = -1;
        EXPECT_EQ(MatchSectionHeader(c.text, &id), c.id ? 1 : 0) << c.text;
        if (c.id) {
            EXPECT_EQ(id, c.id) << c.text;
        }
    }
}

/* ---- special names ---------------------------------------------------------------------- */

TEST_F(Visibility, ArgumentFundamentalAndSeriesNames)
{
    const struct {
        const char *name;
        int found;
        uint32_t row, category, index;
    } args[] = {
        {"ARG3", 1, ITEM_ARG, CAT_ARGUMENT, 3},
        {"arg1.0", 1, ITEM_ARG, CAT_ARGUMENT, 1},
        {"arg0", 0},
        {"arg10", 0},
        {"arg1.5", 0},
        {"args", 0},
    };
    for (const auto &c : args) {
        FormulaNode node = {};
        EXPECT_EQ(ResolveArgName(c.name, &node), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(node.item, c.row);
            EXPECT_EQ(node.index, c.index);
        }
    }
    int mktcap = FindFundamentalField("mktcap");
    ASSERT_GE(mktcap, 0);
    FormulaNode node = {};
    EXPECT_EQ(ResolveFundamentalField("F.mktcap", &node), 1);
    EXPECT_EQ(node.item, (uint32_t)ITEM_FUNDAMENTAL);
    EXPECT_EQ(node.category, (uint32_t)CAT_SYMBOL_INFO);
    EXPECT_EQ(node.index, (uint32_t)mktcap);
    EXPECT_EQ(ResolveFundamentalField("f.MKTCAP.Date", &node), 1);
    EXPECT_EQ(node.item, (uint32_t)ITEM_FUNDAMENTAL_DATE);
    EXPECT_EQ(ResolveFundamentalField("F.mktcap.x", nullptr), 0);
    EXPECT_EQ(ResolveFundamentalField("G.mktcap", nullptr), 0);
    EXPECT_EQ(ResolveFundamentalField("F.nosuch", nullptr), 0);

    const char *const lists[] = {"SP500", "NDX"};
    InstallNamedLists(lists, 2);
    EXPECT_EQ(ResolveNamedListItem("ndx", &node), 1);
    EXPECT_EQ(node.item, (uint32_t)ITEM_CONSTITUENCY);
    EXPECT_EQ(node.index, 1u);
    EXPECT_EQ(ResolveNamedListItem("DJIA", nullptr), 0);
}

/* ---- the editor's scan ---------------------------------------------------------------------- */

struct NameScan : ::testing::Test {
    TempFolder folder;
    CompilerState state = {};
    int32_t counts[SECTION_COUNT] = {};

    void SetUp() override
    {
        CopyString(gScriptsFolder, sizeof gScriptsFolder, folder.path.c_str(), -1);
        gHeadlessScripts = HeadlessScripts{};
        gCompileSession = CompileSession{};
    }
    void TearDown() override
    {
        for (CompilerState *s : {&state, &gHeadlessScripts.windows[0].state}) {
            FreeMemory(&s->scriptNames);
            FreeMemory(&s->includedFiles);
            FreeMemory(&s->definedNames);
        }
        gHeadlessScripts = HeadlessScripts{};
        ResetScriptTextCache();
    }
    std::string Write(const std::string &name, const std::string &text)
    {
        std::string path = folder.File(name);
        EXPECT_TRUE(WriteTestFile(path, text));
        return path;
    }
    /* The state's names as "name/section" in list order. */
    static std::string Names(const CompilerState &s)
    {
        std::string out;
        for (int i = 0; i < s.scriptNameCount; i++)
            out += (out.empty() ? "" : " ") + std::string(s.scriptNames[i].name) + "/" +
                std::to_string(s.scriptNames[i].section);
        return out;
    }
};

TEST_F(NameScan, CollectsItemAndStrategyNamesAndCountsSections)
{
    std::string text =
        "Settings:\n  DataFile: x.kvd\n"
        "Data:\n  Fast: Avg(C, 5)  // note: not a name\n  Slow: 'a:b' + 1\n"
        "Namespace: lib\nData:\n  Foo: 1\n  lib.Bar: 2\n"
        "Namespace: none\nScan:\n  Filter: C > 1\n  Sort: Fast\n  Pick: 1\n"
        "Strategy: Alpha\n  EntrySetup: Fast > Slow\n"
        "Notes:\n  see: the manual\n"
        "Data:\n#ifdef nothing\n  Hidden: 1\n#endif\n  Shown: 1\n";
    ASSERT_EQ(ScanScriptItemNames(text.c_str(), counts, (int)text.size(), &state), 1);
    EXPECT_EQ(Names(state), "Fast/6 Slow/6 Foo/6 lib.Foo/6 lib.Bar/6 Pick/7 Alpha/15 Shown/6");
    EXPECT_EQ(counts[SECTION_DATA], 3);
    EXPECT_EQ(counts[SECTION_SETTINGS], 1);
    EXPECT_EQ(counts[SECTION_STRATEGY], 1);
    EXPECT_EQ(counts[SECTION_NOTES], 1);
}

TEST_F(NameScan, ReadsOnlyTheLengthGiven)
{
    std::string text = "Data:\n  A1: 1\nData:\n  B1: 2\n";
    ASSERT_EQ(ScanScriptItemNames(text.c_str(), counts, (int)text.find("Data:", 2), &state), 1);
    EXPECT_EQ(Names(state), "A1/6");
    EXPECT_EQ(ScanScriptItemNames(text.c_str(), counts, 5, nullptr), 0) << "a text needs a state";
}

TEST_F(NameScan, IncludesAreScannedOnceEvenInACycle)
{
    Write("a.kvs", "Include: b.kvs\nData:\n  FromA: 1\n");
    Write("b.kvs", "Include: a.kvs\nLibrary:\n  FromB: 2\n");
    std::string main = Write("main.kvs", "Include: a.kvs\nInclude: a.kvs\nData:\n  Mine: 1\n");
    ASSERT_EQ(ScanScriptItemNames(main.c_str(), counts, 0, &state), 1);
    EXPECT_EQ(Names(state), "FromB/17 FromA/6 Mine/6");
    EXPECT_EQ(counts[SECTION_INCLUDE], 4);
    EXPECT_EQ(state.includedFileCount, 0) << "a given state keeps its own include list";
}

TEST_F(NameScan, AChangedIncludeIsReadAgain)
{
    std::string main = Write("main.kvs", "Include: inc.kvs\nData:\n  Mine: 1\n");
    Write("inc.kvs", "Data:\n  Old: 1\n");
    struct Step {
        const char *include; /* null: the file is deleted */
        const char *names;
    } steps[] = {
        {"Data:\n  Old: 1\n", "Old/6 Mine/6"},
        {nullptr, "Old/6 Mine/6"}, // unchanged: the kept text serves
        {"Data:\n  Newer: 1\n", "Newer/6 Mine/6"},
        {"", "Mine/6"},
    };
    for (const Step &step : steps) {
        if (step.include && step.include[0]) Write("inc.kvs", step.include);
        if (step.include && !step.include[0]) PlatDeleteFile(folder.File("inc.kvs").c_str());
        state.scriptNameCount = 0;
        ASSERT_EQ(ScanScriptItemNames(main.c_str(), counts, 0, &state), 1);
        EXPECT_EQ(Names(state), step.names) << (step.include ? step.include : "(kept)");
    }
}

TEST_F(NameScan, AnEditorWindowsTextAndRecordAreUsed)
{
    Write("autoinclude.kvs", "Data:\n  Auto: 1\n");
    std::string path = Write("main.kvs", "Data:\n  OnDisk: 1\n");
    gHeadlessScripts.windowCount = 1;
    HeadlessScriptWindow &w = gHeadlessScripts.windows[0];
    CopyString(w.path, sizeof w.path, path.c_str(), -1);
    w.text = "Data:\n  Typed: 1\nStrategy: S\n";
    ASSERT_EQ(ScanScriptItemNames(path.c_str(), counts, 0, nullptr), 1);
    EXPECT_EQ(Names(w.state), "Auto/6 Typed/6 S/15");
    EXPECT_EQ(counts[SECTION_STRATEGY], 1);
    /* A rescan starts the window's list anew. */
    w.text = "Data:\n  Other: 1\n";
    ASSERT_EQ(ScanScriptItemNames(path.c_str(), nullptr, 0, nullptr), 1);
    EXPECT_EQ(Names(w.state), "Auto/6 Other/6");
}

TEST_F(NameScan, AnUntitledActiveWindowOrNothing)
{
    EXPECT_EQ(ScanScriptItemNames(nullptr, counts, 0, nullptr), 0) << "no window";
    gHeadlessScripts.windowCount = 1;
    gHeadlessScripts.windows[0].active = 1;
    gHeadlessScripts.windows[0].text = "Scan:\n  Pick: 1\n";
    ASSERT_EQ(ScanScriptItemNames(nullptr, counts, 0, nullptr), 1);
    EXPECT_EQ(counts[SECTION_SCAN], 1);
    EXPECT_EQ(Names(gHeadlessScripts.windows[0].state), "Pick/7");
    EXPECT_EQ(ScanScriptItemNames(folder.File("notes.txt").c_str(), counts, 0, nullptr), 0) << "not a script";
    EXPECT_EQ(ScanScriptItemNames(folder.File("missing.kvs").c_str(), counts, 0, nullptr), 0);
}

} // namespace
