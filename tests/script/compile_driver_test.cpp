/* Whole scripts through CompileScript: includes, autoinclude.kvs, namespaces,
** preprocessor blocks, every section kind, the strategy links, the orders
** checks, the default section scripts and the settings a run leaves behind. */
#include <gtest/gtest.h>

#include <string>

#include "driver_fixture.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/datafile.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/name_tables.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/strategy.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

const char kWholeScript[] =
    "Settings:\n"
    "  DataFile: prices.kvd\n"
    "  StartDate: 2020-01-02\n"
    "  EndDate: latest\n"
    "  KeepTrades: Strategy, Skipped\n"
    "TestSettings:\n"
    "  AccountSize: 50000\n"
    "ScanSettings:\n"
    "  AccountSize: 1\n"
    "Include: lib.kvs\n"
    "Namespace: ns\n"
    "Data:\n"
    "  Fast: Avg(C, 5)\n"
    "Namespace: none\n"
    "Data:\n"
    "  Slow: Avg(C, 20)   // two headers of one section\n"
    "#ifdef test\n"
    "  TestOnly: Slow + 1\n"
    "#else\n"
    "  ScanOnly: Slow - 1\n"
    "#endif\n"
    "Parameters:\n"
    "  Len: 10, 20, 30\n"
    "Library:\n"
    "  HalfOf: arg1 / 2\n"
    "TestData:\n"
    "  TestDat: HalfOf(Slow)\n"
    "StratData:\n"
    "  StratDat: TestDat + 1\n"
    "Results:\n"
    "  NetCol: TestDat {#}\n"
    "Graphs:\n"
    "  GraphCol: Slow\n"
    "Charts:\n"
    "  ChartCol: ns.Fast\n"
    "Trades:\n"
    "  TradeCol: 1\n"
    "Scan:\n"
    "  ScanCol: Shared {$}\n"
    "TestScan:\n"
    "  TestScanCol: StratDat\n"
    "Template: Base\n"
    "  Quantity: 100\n"
    "Strategy: A\n"
    "  EntrySetup: ns.Fast > Slow AND Shared > AutoItem\n"
    "Strategy: B\n"
    "  EntrySetup: Slow > Len\n"
    "Notes:\n"
    "  free text: with a colon\n";

TEST_F(DriverTest, AWholeScriptCompilesEverySectionIntoItsLists)
{
    Write("autoinclude.kvs", "Data:\n  AutoItem: C + 1\n");
    Write("lib.kvs", "Data:\n  Shared: C * 2\n");
    ASSERT_EQ(CompileText(kWholeScript, 3), 1) << LastMessage();

    EXPECT_EQ(ItemNames(gDataItems), "AutoItem,Shared,ns.Fast,Slow,TestOnly");
    EXPECT_EQ(ItemNames(gLibraryItems), "HalfOf");
    EXPECT_EQ(ItemNames(gTestDataItems), "TestDat");
    EXPECT_EQ(ItemNames(gStratDataItems), "StratDat");
    EXPECT_EQ(ColumnNames(gResultsColumns), "NetCol");
    EXPECT_EQ(ColumnNames(gGraphsColumns), "GraphCol");
    EXPECT_EQ(ColumnNames(gChartsColumns), "ChartCol");
    EXPECT_EQ(ColumnNames(gTradesColumns), "TradeCol");
    EXPECT_EQ(ColumnNames(gScanColumns), "ScanCol");
    EXPECT_EQ(ColumnNames(gTestScanColumns), "TestScanCol");
    ASSERT_EQ(gParameters.count, 1);
    EXPECT_STREQ(((const Parameter *)gParameters.items)[0].name, "Len");

    /* Every formula compiled, in its section, with every worker copy. */
    for (const DefinitionList *list : {&gDataItems, &gLibraryItems, &gTestDataItems, &gStratDataItems})
        for (int i = 0; i < list->count; i++) {
            EXPECT_GT(Item(*list, i).formula.count, 0) << Item(*list, i).formula.name;
            EXPECT_NE(Item(*list, i).formula.nodes[31], nullptr);
        }
    for (int i = 0; i < gDataItems.count; i++) EXPECT_EQ(Item(gDataItems, i).sequence, i);
    EXPECT_EQ(Item(gDataItems, 1).formula.includeDepth, 2) << "Shared came from an included file";
    EXPECT_EQ(Item(gDataItems, 3).formula.includeDepth, 1);
    EXPECT_EQ(gGraphsUseDataItems, 1);
    EXPECT_EQ(gChartsUseDataItems, 1);

    /* The template leaves the active records; two strategies get a combined
    ** StatsGroup over both. */
    ASSERT_EQ(gStrategyCount, 3);
    EXPECT_EQ(StrategyNames(3), "A,B,Combined");
    /* The appended combined record took the place the template left. */
    EXPECT_EQ(gStrategyCapacity, 3);
    EXPECT_EQ(gCombinedIndex, 2);
    EXPECT_EQ(gStrategies[2].kind, (int32_t)SECTION_STATS_GROUP);
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(gStrategies[i].groupCount, 1);
        EXPECT_EQ(gStrategies[i].groups[0], 2);
        EXPECT_GT(gStrategies[i].slots[40].count, 0);
        EXPECT_EQ(gStrategies[i].slots[40].strategyNumber, (uint32_t)i + 1);
    }

    /* Settings: those of Settings and TestSettings, not ScanSettings. */
    EXPECT_EQ(std::string(gSettings.DataFile), folder.File("Data") + "\\prices.kvd");
    EXPECT_EQ(gSettings.FirstDate, 20200102);
    EXPECT_EQ(gSettings.UseLatestDate, 1);
    EXPECT_EQ(gSettings.KeepTrades + 2 * gSettings.KeepBench + 4 * gSettings.KeepSkipped, 5);
    EXPECT_EQ(gSettings.AccountSize, 50000.0);

    /* The main script defines all four default sections: none is loaded, and
    ** the collected text holds the included file where the include line was. */
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_RESULTS], 1);
    std::string collected = gScriptParser.collectedText.text;
    EXPECT_NE(collected.find("// Include: lib.kvs\nData:\n  Shared: C * 2\nNamespace: ns"), std::string::npos)
        << collected;
}

TEST_F(DriverTest, TheRunModeChoosesPreprocessorBlocksAndSettingsSections)
{
    Write("lib.kvs", "Data:\n  Shared: C * 2\n");
    Write("autoinclude.kvs", "Data:\n  AutoItem: C + 1\n");
    ASSERT_EQ(CompileText(kWholeScript, 2), 1) << LastMessage();
    EXPECT_EQ(ItemNames(gDataItems), "AutoItem,Shared,ns.Fast,Slow,ScanOnly");
    EXPECT_EQ(gSettings.AccountSize, 1.0);
}

TEST_F(DriverTest, AutoincludeIsMergedAndNotCompiledOnItsOwn)
{
    Write("autoinclude.kvs", "Data:\n  FromAuto: C\n#ifndef standalone\n  Included: 1\n#endif\n");
    ASSERT_EQ(CompileText("Data:\n  Mine: FromAuto + 1\n"), 1) << LastMessage();
    EXPECT_EQ(ItemNames(gDataItems), "FromAuto,Included,Mine");
    EXPECT_EQ(Item(gDataItems, 0).formula.includeDepth, 2);
    /* Every compiled formula of the autoinclude file was compiled once, by the
    ** main script's compile. */
    EXPECT_GT(Item(gDataItems, 0).formula.count, 0);
}

TEST_F(DriverTest, AutoincludeCompiledAsTheScriptIsTheScript)
{
    ASSERT_EQ(CompileText("Data:\n  FromAuto: C\n", 3, 1, "autoinclude.kvs"), 1) << LastMessage();
    ASSERT_EQ(ItemNames(gDataItems), "FromAuto");
    EXPECT_GT(Item(gDataItems, 0).formula.count, 0);
    EXPECT_EQ(Item(gDataItems, 0).formula.includeDepth, 1);
}

TEST_F(DriverTest, EveryFileIsReadOncePerCompile)
{
    Write("a.kvs", "Include: b.kvs\nData:\n  FromA: 1\n");
    Write("b.kvs", "Include: a.kvs\nData:\n  FromB: 2\n");
    ASSERT_EQ(CompileText("Include: a.kvs\nInclude: a.kvs\nData:\n  Mine: FromA + FromB\n"), 1) << LastMessage();
    EXPECT_EQ(ItemNames(gDataItems), "FromB,FromA,Mine");
}

/* Names that differ only in case are one file on Windows and two on Linux:
** each program includes what its own system opens. */
TEST_F(DriverTest, IncludesDifferingInCaseAreTheFilesTheSystemNames)
{
    /* Letters of one, two, three and four bytes; the last has no case. */
    static const struct { const char *lower, *upper; bool cased; } kNames[] = {
        {"lib.kvs", "Lib.kvs", true},
        {"lib\xC3\xA9.kvs", "LIB\xC3\x89.kvs", true},
        {"\xD0\xB6\xD1\x83\xD0\xBA.kvs", "\xD0\x96\xD0\xA3\xD0\x9A.kvs", true},
        {"\xE1\xBA\xA1.kvs", "\xE1\xBA\xA0.kvs", true},
        {"\xF0\x9F\x93\x88.kvs", "\xF0\x9F\x93\x89.kvs", false},
    };
    for (const auto &n : kNames) {
        SCOPED_TRACE(n.upper);
        const std::string text = std::string("Include: ") + n.lower + "\nInclude: " + n.upper + "\n";
        Write(n.lower, "Data:\n  Lower: 1\n");
#ifdef _WIN32
        if (n.cased) {
            ASSERT_EQ(CompileText(text.c_str()), 1) << LastMessage();
            EXPECT_EQ(ItemNames(gDataItems), "Lower");
            continue;
        }
#endif
        Write(n.upper, "Data:\n  Upper: 2\n");
        ASSERT_EQ(CompileText(text.c_str()), 1) << LastMessage();
        EXPECT_EQ(ItemNames(gDataItems), "Lower,Upper");
    }
}

TEST_F(DriverTest, IncludesNestThirtyLevelsBelowTheScript)
{
    const int levels = 30;
    for (int k = 1; k <= levels + 1; k++)
        Write("f" + std::to_string(k) + ".kvs",
              k < levels ? "Include: f" + std::to_string(k + 1) + ".kvs\n" : "Data:\n  Deep: 1\n");
    ASSERT_EQ(CompileText("Include: f1.kvs\n"), 1) << LastMessage();
    EXPECT_EQ(ItemNames(gDataItems), "Deep");
    EXPECT_EQ(Item(gDataItems, 0).formula.includeDepth, 31);

    FreeCompiledScript();
    Write("f30.kvs", "Include: f31.kvs\n");
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    EXPECT_EQ(CompileText("Include: f1.kvs\n"), 0);
    EXPECT_STREQ(LastMessage(), "Too many levels of scripts including other scripts.");
}

TEST_F(DriverTest, AMissingIncludeIsAFileError)
{
    EXPECT_EQ(CompileText("Include: nowhere.kvs\nData:\n  A: 1\n"), 0);
    EXPECT_EQ(std::string(LastMessage()), "Unable to access " + scripts + "\\nowhere.kvs");
    EXPECT_EQ(gRun.resultCode, 3);
}

TEST_F(DriverTest, AnOpenEditorIsSavedBeforeItsFileIsRead)
{
    std::string lib = Write("lib.kvs", "Data:\n  Old: 1\n");
    gHeadlessScripts.windowCount = 1;
    HeadlessScriptWindow &w = gHeadlessScripts.windows[0];
    CopyString(w.path, sizeof w.path, lib.c_str(), -1);
    w.text = "Data:\n  Edited: 2\n";
    ASSERT_EQ(CompileText("Include: lib.kvs\n"), 1) << LastMessage();
    EXPECT_EQ(w.saves, 1);
    EXPECT_EQ(ItemNames(gDataItems), "Edited");

    FreeCompiledScript();
    w.refuseSave = 1;
    EXPECT_EQ(CompileText("Include: lib.kvs\n"), 0) << "a refused save stops the include";
}

TEST_F(DriverTest, ACompileErrorNamesItsFileAndSpanAndCutsTheList)
{
    std::string bad = Write("bad.kvs", "Data:\n  X: C + NoSuchThing\n");
    ASSERT_EQ(CompileText("Data:\n  A: 1\nInclude: bad.kvs\nData:\n  B: 2\n"), 0);
    EXPECT_EQ(gLastFormulaError.code, (int)ERR_UNRECOGNIZED);
    EXPECT_EQ(std::string(gLastFormulaError.path), bad);
    std::string text = "Data:\n  X: C + NoSuchThing\n";
    EXPECT_EQ(text.substr(gLastFormulaError.offset, gLastFormulaError.length), "NoSuchThing");
    EXPECT_EQ(gDataItems.count, 1) << "the list ends before the failed item";
}

/* A parameter range that cannot be walked to its end is refused with the
** range's error rather than compiled to the values walked so far. */
TEST_F(DriverTest, AParameterRangeThatCannotBeWalkedIsRefused)
{
    const struct {
        const char *range;
        const char *message;
    } cases[] = {
        {"from 1e16 to 2e16 step 1", "parameter value list has more than two million items"},
        {"from 1 to 2000000", "parameter value list has more than two million items"},
        {"from 5 to 1", "parameter loops must be ascending"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.range);
        FreeCompiledScript();
        EXPECT_EQ(CompileText(std::string("Parameters:\n  X: ") + c.range + "\nData:\n  A: X\n"), 0);
        EXPECT_NE(std::string(LastMessage()).find(c.message), std::string::npos) << LastMessage();
    }
}

/* Without an editor to select it, an unattended run's message says where the
** error is: its line and column in the file that holds it, and its text. */
TEST_F(DriverTest, AnUnattendedCompileErrorSaysWhereItIs)
{
    /* An error in an included file is placed in that file by name: the
    ** entry is headed with the main script, whose line 2 is another line. */
    const std::string crlf = Write("crlf.kvs", "Data:\r\n  X: C + NoSuchThing\r\n");
    const std::string setings = Write("setings.kvs", "\n\n  Setings:\n");
    const std::string inCrlf = "\r\nat line 2, column 10 of " + crlf + ": NoSuchThing\n";
    const std::string inSetings = "\r\nat line 3, column 3 of " + setings + ": Setings\n";
    const struct {
        std::string script;
        std::string entry; /* the error log entry after its heading line */
    } cases[] = {
        {"Setings:\n  Foo: 1\n", "Syntax Error:\r\n\r\nunrecognized syntax element\r\nat line 1, column 1: Setings\n"},
        {"Data:\n  A: 1\n  X: Foo(C)\n",
         "Error in X formula:\r\n\r\nunrecognized syntax element\r\nat line 3, column 6: Foo\n"},
        {"Data:\n  L: C\n",
         "Syntax Error:\r\n\r\nreserved syntax elements cannot be used as item names\r\nat line 2, column 3: L\n"},
        {"Data:\n  A: 1\nInclude: crlf.kvs\n", "Error in X formula:\r\n\r\nunrecognized syntax element" + inCrlf},
        {"Data:\n  A: 1\nInclude: setings.kvs\n", "Syntax Error:\r\n\r\nunrecognized syntax element" + inSetings},
        /* Columns count letters of two, three and four bytes as one each, and
        ** a letter that is no name is named whole. */
        {"Data:\n  X: \"\xC3\xA9\" + Foo\n", "Error in X formula:\r\n\r\nunrecognized syntax element\r\nat line 2, column 12: Foo\n"},
        {"Data:\n  X: \"\xE6\x97\xA5\xE6\x9C\xAC\" + Foo\n",
         "Error in X formula:\r\n\r\nunrecognized syntax element\r\nat line 2, column 13: Foo\n"},
        {"Data:\n  X: \"\xF0\x9D\x84\x9E\" + Foo\n",
         "Error in X formula:\r\n\r\nunrecognized syntax element\r\nat line 2, column 12: Foo\n"},
        {"Data:\n  X: C + \xC3\xA9\n", "Error in X formula:\r\n\r\nunrecognized syntax element\r\nat line 2, column 10: \xC3\xA9\n"},
        {"Data:\n  X: \xE6\x97\xA5 + C\n", "Error in X formula:\r\n\r\nunrecognized syntax element\r\nat line 2, column 6: \xE6\x97\xA5\n"},
        {"Data:\n  X: \xF0\x9D\x84\x9E\xF0\x9D\x84\x9E\n",
         "Error in X formula:\r\n\r\nunrecognized syntax element\r\nat line 2, column 6: \xF0\x9D\x84\x9E\n"},
        /* Nesting past the limit says so, at the first term too deep. */
        {"Data:\n  X: " + std::string(257, '(') + "1" + std::string(257, ')') + "\n",
         "Error in X formula:\r\n\r\nnested too deeply, at most 256\r\nat line 2, column 263: 1\n"},
    };
    const std::string log = folder.File("errorlog.txt");
    /* As the command line does, the script run heads the entries. */
    CopyString(gRunningScript, sizeof gRunningScript, (scripts + "\\main.kvs").c_str(), -1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        FreeCompiledScript();
        PlatDeleteFile(log.c_str());
        gRun.unattended = 1;
        EXPECT_EQ(CompileText(c.script), 0);
        const std::string text = ReadTestFile(log);
        const size_t heading = text.find(" <<<\n");
        ASSERT_NE(heading, std::string::npos) << text;
        EXPECT_EQ(text.substr(heading + 5), c.entry);
    }
    gRunningScript[0] = 0;
    /* A message box stays as it was: the editor shows the place. */
    gRun.unattended = 0;
    FreeCompiledScript();
    EXPECT_EQ(CompileText(cases[0].script), 0);
    EXPECT_STREQ("Syntax Error:\r\n\r\nunrecognized syntax element", LastMessage());
}

/* A script saved as UTF-16 is refused with a message that says so, whichever
** its byte order, rather than read as an empty script. */
TEST_F(DriverTest, AUtf16ScriptIsRefusedForWhatItIs)
{
    const std::string body = "Data:\r\n  A: 1\r\n";
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        std::string wide = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char c : body) wide += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        FreeCompiledScript();
        EXPECT_EQ(CompileText(wide), 0);
        EXPECT_EQ(scripts + "\\main.kvs is saved as UTF-16 (Unicode) text, which a script cannot be; save it as ANSI "
                            "or UTF-8 text",
                  LastMessage());
        EXPECT_EQ(gDataItems.count, 0);
    }
}

TEST_F(DriverTest, SectionsCompileInOrderSoLaterSectionsSeeEarlierOnes)
{
    /* A Results column that names a Data item fails: Results sees no Data. */
    EXPECT_EQ(CompileText("Data:\n  Dx: 1\nResults:\n  Rx: Dx\n"), 0);
    EXPECT_EQ(gLastFormulaError.code, (int)ERR_NOT_IN_SECTION);
    FreeCompiledScript();
    ASSERT_EQ(CompileText("Data:\n  Dx: 1\nGraphs:\n  Gx: Dx\n"), 1) << LastMessage();
}

TEST_F(DriverTest, MissingDefaultSectionsComeFromTheDefaultScripts)
{
    ASSERT_EQ(CompileText("Data:\n  A: 1\n"), 1) << LastMessage();
    EXPECT_EQ(ColumnNames(gResultsColumns), "DefNet");
    EXPECT_EQ(ColumnNames(gGraphsColumns), "DefGraph");
    EXPECT_EQ(ColumnNames(gChartsColumns), "DefChart");
    EXPECT_EQ(ColumnNames(gTradesColumns), "DefTrade");
    EXPECT_GT(Column(gResultsColumns, 0).formula.count, 0);
    /* Only the sections the script defines stay present. */
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_RESULTS], 0);
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_DATA], 1);
    EXPECT_EQ(gCompileSession.mode, 3) << "loading the defaults leaves the run's mode";
    /* First load: every window kind is refreshed once. */
    EXPECT_EQ(gHeadlessScripts.results, 1);
    EXPECT_EQ(gHeadlessScripts.resGraphs, 1);
    EXPECT_EQ(gHeadlessScripts.graphs, 1);
    EXPECT_EQ(gHeadlessScripts.tradeLists, 1);
    EXPECT_EQ(gHeadlessScripts.charts, 1);

    /* The same files again: nothing changed, nothing refreshed. */
    FreeCompiledScript();
    ASSERT_EQ(CompileText("Data:\n  A: 1\nResults:\n  Own: 1\n"), 1) << LastMessage();
    EXPECT_EQ(ColumnNames(gResultsColumns), "Own");
    EXPECT_EQ(gHeadlessScripts.graphs, 1);
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_RESULTS], 1);
}

/* Unloading the data empties the Data items and loads the missing default
** scripts again; the strategies of the last compile, which name Data items,
** are left as they were compiled and do not fail that load. */
TEST_F(DriverTest, ADefaultScriptCompilesOnlyItsOwnSection)
{
    ASSERT_EQ(CompileText("Data:\n  Fast: C\n"
                          "Strategy: S\n  EntrySetup: Fast > 1\n"),
              1)
        << LastMessage();
    ASSERT_GT(gStrategies[0].slots[40].count, 0);
    gDataItems.count = 0;
    int messages = gHeadless.messageCount;
    EXPECT_GE(LoadDefaultSectionScript(SECTION_GRAPHS), 0) << LastMessage();
    EXPECT_EQ(gHeadless.messageCount, messages) << LastMessage();
    EXPECT_EQ(ColumnNames(gGraphsColumns), "DefGraph");
    EXPECT_GT(gStrategies[0].slots[40].count, 0);
}

TEST_F(DriverTest, ADefaultScriptDefiningAnotherSectionFails)
{
    Write("Graphs.kvs", "Graphs:\n  G: 1\nData:\n  X: 1\n");
    EXPECT_EQ(CompileText("Data:\n  A: 1\n"), 0);
    EXPECT_EQ(gLastFormulaError.code, 30);
}

TEST_F(DriverTest, CompilingADefaultScriptItselfLoadsTheDefaults)
{
    std::string results = Write("Results.kvs", "Results:\n  DefNet: 1 {#}\n  Second: 2\n");
    ASSERT_EQ(CompileScript(results.c_str(), 3, 1), 1) << LastMessage();
    EXPECT_EQ(ColumnNames(gResultsColumns), "DefNet,Second");
    EXPECT_EQ(gDataItems.count, 0);
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_RESULTS], 0) << "filled as a default, not by the script";
    FreeCompiledScript();
#ifdef _WIN32
    ASSERT_EQ(CompileScript("?scripts?\\results.KVS", 3, 1), 1) << "named through a macro and in other case";
#else
    ASSERT_EQ(CompileScript("?scripts?/Results.kvs", 3, 1), 1) << "named through a macro and with '/'";
#endif
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_RESULTS], 0);
}

TEST_F(DriverTest, CheckDefaultScriptChangedRefreshesTheSectionsTheScriptDefines)
{
    std::string path = Write("main.kvs", "Graphs:\n  G: 1\n");
    ASSERT_EQ(CompileScript(path.c_str(), 3, 1), 1) << LastMessage();
    int graphs = gHeadlessScripts.graphs;
    int trades = gHeadlessScripts.tradeLists;
    CheckDefaultScriptChanged(path.c_str());
    EXPECT_EQ(gHeadlessScripts.graphs, graphs + 1) << "a new source counts as changed";
    EXPECT_EQ(gHeadlessScripts.tradeLists, trades) << "Trades came from its default script";
    EXPECT_EQ(std::string(gDefaultSectionSources[SECTION_GRAPHS - SECTION_RESULTS].path), path);
    CheckDefaultScriptChanged(path.c_str());
    EXPECT_EQ(gHeadlessScripts.graphs, graphs + 1) << "the same file, unchanged";
}

TEST_F(DriverTest, OneStrategyHasNoAggregateAndCombinedMovesLast)
{
    ASSERT_EQ(CompileText("Template: T\n  Quantity: 1\nStrategy: Only\n  EntrySetup: 1\n"), 1) << LastMessage();
    EXPECT_EQ(gStrategyCount, 1);
    EXPECT_EQ(gCombinedIndex, 0);
    EXPECT_EQ(gStrategies[0].groupCount, 0);

    FreeCompiledScript();
    ASSERT_EQ(CompileText("Combined:\n  Allocation: 50\nStrategy: S1\n  EntrySetup: 1\nBenchmark: B\n  EntrySetup: 1\n"
                          "Strategy: S2\n  EntrySetup: 1\n"),
              1)
        << LastMessage();
    EXPECT_EQ(StrategyNames(gStrategyCount), "S1,B,S2,Combined");
    EXPECT_EQ(gCombinedIndex, 3);
    EXPECT_EQ(gStrategies[3].kind, (int32_t)SECTION_STATS_GROUP);
    EXPECT_EQ(gStrategies[0].groupCount, 1);
    EXPECT_EQ(gStrategies[1].groupCount, 0) << "a benchmark is no member";
    EXPECT_EQ(gStrategies[2].groups[0], 3);
    EXPECT_EQ(gStrategies[3].slots[1].strategyNumber, 4u);
}

/* ---- orders mode ------------------------------------------------------------------------ */

TEST_F(DriverTest, OrdersFileNamesAreCheckedInOrdersRunsOnly)
{
    const struct {
        const char *settings;
        int mode;
        int ok;
        const char *message;
    } cases[] = {
        {"OrdersMode: Template\n  OrdersFile: today.txt\n", 5, 0, "OrdersFile must end with .CSV when OrdersMode is Template"},
        {"OrdersMode: Template\n  OrdersFile: today.CSV\n", 5, 1, ""},
        {"OrdersMode: Template\n  OrdersFile: today.txt\n", 3, 1, ""},
        {"OrdersMode: Slatewick\n  OrdersFile: today.csv\n", 5, 0, "An Slatewick OrdersFile name must end with 'orders.csv'"},
        {"OrdersMode: SlatewickSync\n  OrdersFile: MyOrders.CSV\n", 5, 1, ""},
    };
    for (const auto &c : cases) {
        FreeCompiledScript();
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        PlatCreateFolder(folder.File("Output\\Orders").c_str());
        WriteTestFile(folder.File("ExchangeMap.csv"), "Exchange,Primary\r\n");
        std::string script = std::string("Settings:\n  ") + c.settings + "Strategy: S\n  EntrySetup: 1\n";
        EXPECT_EQ(CompileText(script, c.mode), c.ok) << c.settings << c.mode;
        EXPECT_STREQ(LastMessage(), c.message) << c.settings;
    }
}

TEST_F(DriverTest, SlatewickTradesReplaceTradeListsOnlyInAnOrdersRun)
{
    WriteTestFile(folder.File("ExchangeMap.csv"), "Exchange,Primary\r\n");
    const char *script = "Settings:\n  OrdersMode: Slatewick\nStrategy: S\n  TradeList: mine.csv\n  EntrySetup: 1\n";
    ASSERT_EQ(CompileText(script, 3), 1) << LastMessage();
    EXPECT_STREQ(gStrategies[0].TradeList, "mine.csv") << "a test run keeps the strategy's own list";
    EXPECT_STREQ(gSlatewickTradesPath, "");

    /* The orders run makes the Orders folder it writes the trades file to. */
    FreeCompiledScript();
    ASSERT_EQ(CompileText(script, 5), 1) << LastMessage();
    std::string trades = folder.File("Output\\Orders\\SlatewickTrades.csv");
    EXPECT_EQ(std::string(gStrategies[0].TradeList), trades);
    EXPECT_EQ(ReadTestFile(trades),
              "Symbol,Strategy,Side,Shares,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut\r\n");
    EXPECT_EQ(std::string(gScriptSettings.OrdersTemplate), folder.path + "\\SlatewickTemplate.csv");
}

TEST_F(DriverTest, OptScoreColNamesAShownResultsColumn)
{
    ASSERT_EQ(CompileText("Settings:\n  OptScoreCol: score\nResults:\n  _Hidden: 1\n  First: 1\n  Score: 2\n"), 1)
        << LastMessage();
    EXPECT_EQ(gSettings.OptScoreCol, 1);
    FreeCompiledScript();
    EXPECT_EQ(CompileText("Settings:\n  OptScoreCol: _Hidden\nResults:\n  _Hidden: 1\n"), 0);
    EXPECT_STREQ(LastMessage(), "OptScoreCol '_Hidden' is not defined in Results");
}

TEST_F(DriverTest, MarkedResultsColumnsAreUsedWithWhatTheyName)
{
    ASSERT_EQ(CompileText("Results:\n  Ra: 1\n  Rb: Ra + 1 {|}\n  Rc: 3\n"), 1) << LastMessage();
    EXPECT_EQ(Column(gResultsColumns, 0).used, 1);
    EXPECT_EQ(Column(gResultsColumns, 1).used, 1);
    EXPECT_EQ(Column(gResultsColumns, 2).used, 0);
}

/* ---- settings that last one run ---------------------------------------------------------- */

TEST_F(DriverTest, NothingAScriptSetsReachesTheSavedSettingsFile)
{
    std::string ini = folder.File("kestovar.ini");
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, "C:\\mine.kvd", -1);
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "M/d/yy", -1);
    gSettings.ReportCorrel = 0;
    gSettings.ReportStats = 1;
    gSettings.OptIterations = 100;
    gSettings.DateInputFormat = 0;
    gSettings.AccountSize = 100000;
    gSettings.BarSize2 = 0;
    gSettings.KeepBench = 1;
    ProgramSettings before = gSettings;
    std::string reportsBefore = gReportsFolder;

    const char *script =
        "Settings:\n  DataFile: other.kvd\n  DateDisplay: dd.MM.yyyy\n  DateInput: DMY\n  BarSize: Weekly\n"
        "  ReportContent: Correl\n  KeepTrades: None\n  ReportsFolder: ?output?\\Mine\n"
        "TestSettings:\n  AccountSize: 5000\nOptimizeSettings:\n  OptIterations: 7\n";
    ASSERT_EQ(CompileText(script, 4, 1), 1) << LastMessage();
    EXPECT_STREQ(gSettings.DateDisplayFormat, "dd.MM.yyyy");
    EXPECT_EQ(gSettings.OptIterations, 7);
    /* Pass 2 applies the script again; what is put back stays the pre-run state. */
    ASSERT_EQ(CompileText(script, 4, 2), 1) << LastMessage();
    EXPECT_EQ(gSettings.ReportCorrel, 1);
    EXPECT_EQ(std::string(gReportsFolder), folder.File("Output") + "\\Mine");

    RestoreRunSettings();
    EXPECT_STREQ(gSettings.DateDisplayFormat, "M/d/yy");
    EXPECT_EQ(std::string(gReportsFolder), reportsBefore);
    ASSERT_EQ(SaveSettings(ini.c_str()), 1);
    ResetSettingsToDefaults();
    ASSERT_EQ(LoadSettings(ini.c_str()), 1);
    EXPECT_STREQ(gSettings.DataFile, before.DataFile);
    EXPECT_STREQ(gSettings.DateDisplayFormat, before.DateDisplayFormat);
    EXPECT_EQ(gSettings.DateInputFormat, before.DateInputFormat);
    EXPECT_EQ(gSettings.BarSize2, before.BarSize2);
    EXPECT_EQ(gSettings.ReportCorrel, before.ReportCorrel);
    EXPECT_EQ(gSettings.ReportStats, before.ReportStats);
    EXPECT_EQ(gSettings.KeepBench, before.KeepBench);
    EXPECT_EQ(gSettings.OptIterations, before.OptIterations);
    EXPECT_EQ(gSettings.AccountSize, before.AccountSize);
}

TEST_F(DriverTest, EachCompileStartsFromEmptyLists)
{
    ASSERT_EQ(CompileText("Parameters:\n  P: 1\nData:\n  A: 1\nStrategy: S\n  EntrySetup: A\n"), 1) << LastMessage();
    ASSERT_EQ(CompileText("Data:\n  B: 2\n", 3, 1, "second.kvs"), 1) << LastMessage();
    EXPECT_EQ(ItemNames(gDataItems), "B");
    EXPECT_EQ(gParameters.count, 0) << "a script without Parameters has none";
    EXPECT_EQ(gStrategyCount, 0);
    EXPECT_EQ(gCombinedIndex, -1);
}

/* The parameters with several values are preselected while the script's
** Parameters differ from those the Optimizer dialog last saw. */
TEST_F(DriverTest, ParametersArePreselectedWhenTheScriptsParametersChange)
{
    const struct {
        const char *name, *text;
        int dialogBefore; /* the dialog opened since the compile before */
        const char *preselected;
    } cases[] = {
        {"main.kvs", "Parameters:\n  A: 1, 2\n  B: 5\n", 0, "10"},
        {"main.kvs", "Parameters:\n  A: 1, 2\n  B: 5\n", 0, "10"}, /* not yet seen */
        {"main.kvs", "Parameters:\n  A: 1, 2\n  B: 5\n", 1, "00"},
        {"main.kvs", "Parameters:\n  A: 1, 2\n  B: 5, 6\n", 1, "11"}, /* new values */
        {"main.kvs", "Parameters:\n  A: 1, 2\n  B: 5, 6\n", 1, "00"},
        {"other.kvs", "Parameters:\n  A: 1, 2\n  B: 5, 6\n", 1, "11"}, /* another script */
        {"other.kvs", "Data:\n  X: 1\nParameters:\n  A: 1, 2\n  B: 5, 6\n", 1, "00"}, /* only a formula */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.text);
        if (c.dialogBefore) ClearParameterPreselection();
        ASSERT_EQ(CompileText(c.text, 4, 1, c.name), 1) << LastMessage();
        std::string marks;
        for (int32_t k = 0; k < gParameters.count; k++) marks += ((Parameter *)gParameters.items)[k].preselected ? '1' : '0';
        EXPECT_EQ(c.preselected, marks);
    }
}

/* ---- include lines ------------------------------------------------------------------------ */

TEST_F(DriverTest, IncludeLinesNameTheirFile)
{
    const struct {
        const char *text;
        const char *path; /* relative to the scripts folder; null: none */
    } cases[] = {
        {"  lib.kvs\r\nData:", "lib.kvs"},
        {"lib.kvs Data: X", "lib.kvs"},
        {"sub\\lib.kvs  // the library", "sub\\lib.kvs"},
        {"lib.kvs{comment}", "lib.kvs"},
        {"// nothing\n", nullptr},
        {"   \n", nullptr},
    };
    for (const auto &c : cases) {
        char out[PATH_SIZE] = "";
        int got = ExtractIncludePath(c.text, out);
        EXPECT_EQ(got, c.path ? 1 : 0) << c.text;
        if (c.path) {
            EXPECT_EQ(std::string(out), scripts + "\\" + c.path) << c.text;
        }
    }
    char out[PATH_SIZE];
    ASSERT_EQ(ExtractIncludePath("C:\\libs\\x.kvs\n", out), 1);
    EXPECT_STREQ(out, "C:\\libs\\x.kvs") << "a drive's colon stays in the name";
}

} // namespace

namespace {

/* ---- strategy links -------------------------------------------------------------------------- */

TEST_F(DriverTest, TrackersGetABenchmarkThatFollowsTheStrategy)
{
    ASSERT_EQ(CompileText("Template: T\n  Side: Long\n"
                          "Strategy: S\n  Using: T\n  Tracker: Hidden\n  EntrySetup: 1\n"
                          "Strategy: V\n  Tracker: Visible\n  EntrySetup: 1\n"),
              1)
        << LastMessage();
    /* S, V, _S_track, V_track, then the combined group; the template is gone. */
    EXPECT_EQ(StrategyNames(gStrategyCount), "S,V,_S_track,V_track,Combined");
    EXPECT_EQ(gStrategies[0].Tracker, 3) << "the benchmark's place + 1, after the template left";
    EXPECT_EQ(gStrategies[1].Tracker, 4);
    EXPECT_EQ(gStrategies[2].Tracker, -1);
    EXPECT_EQ(gStrategies[2].kind, (int32_t)SECTION_BENCHMARK);
    EXPECT_EQ(gStrategies[0].Side, 1) << "Side inherited from the template";
    EXPECT_EQ(gStrategies[2].Side, 1) << "the tracker inherits everything from its strategy";
    EXPECT_GT(gStrategies[2].slots[40].count, 0);
    EXPECT_EQ(gCombinedIndex, 4);
    EXPECT_EQ(gStrategies[2].groupCount, 0) << "benchmarks are not members of the aggregate";

    /* A Tracker word on a benchmark makes no link. */
    FreeCompiledScript();
    ASSERT_EQ(CompileText("Benchmark: B\n  Tracker: Visible\n  EntrySetup: 1\nStrategy: S\n  EntrySetup: 1\n"), 1)
        << LastMessage();
    EXPECT_EQ(StrategyNames(gStrategyCount), "B,S");
    EXPECT_EQ(gStrategies[0].Tracker, 0);
}

TEST_F(DriverTest, StatsGroupsCollectTheirMembers)
{
    ASSERT_EQ(CompileText("Strategy: A\n  EntrySetup: 1\nStrategy: B\n  EntrySetup: 1\n"
                          "StatsGroup: G\n  Using: A, B\n"),
              1)
        << LastMessage();
    EXPECT_EQ(StrategyNames(gStrategyCount), "A,B,G,Combined");
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(gStrategies[i].groupCount, 2) << i;
        EXPECT_EQ(gStrategies[i].groups[0], 2);
        EXPECT_EQ(gStrategies[i].groups[1], 3);
    }
}

TEST_F(DriverTest, CalendarSymbolsWaitForTheSecondPass)
{
    const char *script = "Settings:\n  DateSym: QQQ\nStrategy: S\n  EntrySetup: $QQQ > 0\n";
    ASSERT_EQ(CompileText(script, 3, 1), 1) << LastMessage();
    EXPECT_EQ(gScriptSettings.DateSym, 0);
    EXPECT_EQ(CompileText(script, 3, 2), 0) << "no data loaded: the symbol is unknown";
    EXPECT_EQ(gLastFormulaError.code, 26);
}

} // namespace

namespace {

TEST_F(DriverTest, LinkFailuresAreReportedInTheirOwnWords)
{
    EXPECT_EQ(CompileText("Strategy: S\n  Tracker: Hidden\n  EntrySetup: 1\nBenchmark: _S_track\n  EntrySetup: 1\n"), 0);
    EXPECT_EQ(std::string(LastMessage()),
              std::string("Error adding Benchmark _S_track -- ") + CompileErrorText[64]);

    FreeCompiledScript();
    std::string script = "Strategy: A\n  EntrySetup: 1\n";
    for (int g = 1; g <= 100; g++) script += "StatsGroup: G" + std::to_string(g) + "\n  Using: A\n";
    EXPECT_EQ(CompileText(script), 0);
    EXPECT_STREQ(LastMessage(), "StatsGroup G100 has more than 99 members");
}

/* Lists, records and node arrays are kept for reuse, so once a script has
** been compiled a few times (records change places as templates move out and
** the combined record moves in, until every place has grown to what it
** needs) compiling it again allocates nothing more. */
TEST_F(DriverTest, RecompilingTheSameScriptAllocatesNothingMore)
{
    Write("autoinclude.kvs", "Data:\n  AutoItem: C + 1\n");
    Write("lib.kvs", "Data:\n  Shared: C * 2\n");
    Write("cash.csv", "2024-01-02,100\r\n");
    /* clang-format off */
    const std::string scripts[] = {
        std::string(kWholeScript) + "Strategy: T\n  Tracker: Hidden\n  Using: Base\n  EntrySetup: C > 1\n"
                                    "Template: Late\n  Side: Long\n",
        /* Results, Graphs, Trades and Charts come from the default scripts. */
        "Data:\n  Fast: Avg(C, 5)\nParameters:\n  Len: from 1 to 9\nWalkForward:\n  dates: 2020-01-01, 2021-01-01\n"
        "  Len: 5\nImport:\n  DataSource: Yahoo\n  IncludeList: list.txt\nStrategy: S\n  CashList: cash.csv\n"
        "  EntrySetup: Fast > Len\n",
    };
    /* clang-format on */
    for (const std::string &script : scripts) {
        for (int warm = 0; warm < 8; warm++) ASSERT_EQ(CompileText(script, 3, 1 + warm % 2), 1) << LastMessage();
        uint64_t settled = gAllocatedBytes.load();
        for (int run = 0; run < 4; run++) {
            ASSERT_EQ(CompileText(script, 3, 1 + run % 2), 1) << LastMessage();
            EXPECT_EQ(gAllocatedBytes.load(), settled) << "compile " << run + 9 << " of\n"
                                                       << script;
        }
    }
}

} // namespace

namespace {

/* A script's strategies are known by name in both passes: the compiler checks
** an @ reference against them once the data is loaded, the evaluator binds it
** outside a test, the renderer writes it back by name and an error title
** names the formula's strategy. */
TEST_F(DriverTest, StrategyReferencesUseTheCompiledStrategies)
{
    const char *script = "Strategy: A\n  EntrySetup: 1\nStrategy: B\n  EntrySetup: @a > 0\n";
    for (int pass : {1, 2}) {
        ASSERT_EQ(CompileText(script, 3, pass), 1) << pass << ": " << LastMessage();
        FormulaNode *nodes = StrategyByNumber(2)->slots[SLOT_ENTRY_SETUP].nodes[0];
        EvalContext context{};
        ResolveFormulaRefs(nodes, &context);
        EXPECT_EQ(nodes[0].constant, 1.0) << pass;
        char text[32];
        FormatTokenText(&nodes[0], text, sizeof text);
        EXPECT_STREQ(text, "@A") << pass;
    }

    struct {
        const char *script;
        int pass;
        const char *message;
    } const failures[] = {
        {"Strategy: A\n  EntrySetup: 1\nStrategy: B\n  EntrySetup: @C > 0\n", 2,
         "Error in B EntrySetup formula:\r\n\r\nunrecognized strategy"},
        {"Strategy: A\n  EntrySetup: 1\nStrategy: B\n  ExitRule: NoSuchWord\n", 1,
         "Error in B ExitRule formula:\r\n\r\nunrecognized syntax element"},
    };
    for (const auto &f : failures) {
        EXPECT_EQ(CompileText(f.script, 3, f.pass), 0) << f.script;
        EXPECT_STREQ(LastMessage(), f.message) << f.script;
    }
}

/* A constituency series may be named in any first pass, and in the second
** only when the loaded data file includes it. */
TEST_F(DriverTest, ConstituencySeriesAreCheckedAgainstTheLoadedDataFile)
{
    ASSERT_TRUE(AllocMemory(&gConstituency, 2 * sizeof(ConstituencyRecord)));
    gConstituency[0] = ConstituencyRecord{.label = "S&P 500", .scriptName = "SP500", .fourthColumn = "", .id = 7};
    gConstituency[1] = ConstituencyRecord{.label = "Nasdaq", .scriptName = "NDX", .fourthColumn = "", .id = 9};
    gConstituencyCount = 2;
    const char *script = "Data:\n  InIndex: SP500\n";
    struct {
        int pass;
        uint32_t loaded; /* the one id the data file includes, 0 none */
        int ok;
    } const cases[] = {{1, 0, 1}, {2, 7, 1}, {2, 9, 0}, {2, 0, 0}};
    for (const auto &c : cases) {
        gStore.constituencyIds[0] = c.loaded;
        gStore.constituencyIds[1] = 0;
        EXPECT_EQ(CompileText(script, 3, c.pass), c.ok) << c.pass << " " << c.loaded;
        if (!c.ok) EXPECT_EQ(gLastFormulaError.code, ERR_CONSTITUENCY) << c.loaded;
    }
    gStore.constituencyIds[0] = 0;
    FreeMemory(&gConstituency);
    gConstituencyCount = 0;
}

} // namespace

namespace {

/* The one reset with release gives back everything a compile took: lists,
** node arrays, strategy records with their lists, parameters and the kept
** script texts. */
TEST_F(DriverTest, ReleasingTheScriptStateFreesEverythingACompileTook)
{
    Write("autoinclude.kvs", "Data:\n  AutoItem: C + 1\n");
    Write("lib.kvs", "Data:\n  Shared: C * 2\n");
    Write("cash.csv", "2024-01-02,100\r\n");
    const std::string script = std::string(kWholeScript) +
        "Strategy: T\n  Tracker: Hidden\n  Using: Base\n  CashList: cash.csv\n"
        "  EntrySetup: C > 1\nTemplate: Late\n  Side: Long\n";
    uint64_t before = gAllocatedBytes.load();
    for (int pass : {1, 2}) {
        ASSERT_EQ(CompileText(script, 3, pass), 1) << LastMessage();
        EXPECT_GT(gAllocatedBytes.load(), before);
        ResetScriptState(SCRIPT_RESET_RELEASE);
        EXPECT_EQ(gAllocatedBytes.load(), before) << pass;
        EXPECT_EQ(gStrategies, nullptr);
        EXPECT_EQ(gCombinedIndex, -1);
    }
}

} // namespace
