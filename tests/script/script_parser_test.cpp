/* script_parser_test.cpp -- scripts read into sections, items and settings,
** or refused with the right code over the right text. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/script_parser.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

void ClearCompiledScript()
{
    ResetScriptState(SCRIPT_RESET_RELEASE);
    for (int i = 0; i < RUNSET_COUNT; i++) SetRunSetting(i, 0);
    gSettings.DateInputFormat = 0;
    gSettings.FirstDate = gSettings.LastDate = gSettings.NumBars = gSettings.BarSize2 = 0;
    gSettings.UseEarliestDate = gSettings.UseLatestDate = 0;
}

/* The outcome of one parse: the error shown (code 0 when none) and its span
** as text. */
struct Outcome {
    int code;
    std::string span;
};

struct ParserTest : ::testing::Test {
    TempFolder folder;
    std::string text;
    char *parsed = nullptr;
    char nameSpace[64] = "";

    void SetUp() override
    {
        ClearCompiledScript();
        ResetScriptParserState();
        ResetHeadlessShell();
        gHeadless.captureLog = 1; /* keeps the error boxes off the console */
        gLastFormulaError = FormulaErrorSelection{};
        gRun.resultCode = 0;
    }
    void TearDown() override
    {
        FreeMemory(&parsed);
        ClearCompiledScript();
        ResetScriptParserState();
    }

    Outcome Parse(const std::string &script, int mode = 3)
    {
        FreeMemory(&parsed);
        text = script;
        std::string path = folder.File("script.kvs");
        EXPECT_TRUE(WriteTestFile(path, script));
        gCompileSession.mode = mode;
        gCompiler.includeDepth = 1;
        /* Includes resolve against the scripts folder; the files they name are
        ** written beside the script. */
        CopyString(gScriptsFolder, sizeof gScriptsFolder, folder.path.c_str(), -1);
        for (const char *name : {"other.kvs", "a.kvs"}) WriteTestFile(folder.File(name), "");
        PlatCreateFolder(folder.File("lib").c_str());
        WriteTestFile(folder.File("lib\\common.kvs"), "");
        parsed = ParseScriptText(path.c_str(), nameSpace);
        if (parsed) return {0, ""};
        int offset = gLastFormulaError.offset, length = gLastFormulaError.length;
        std::string span = offset >= 0 && offset + length <= (int)script.size() ? script.substr(offset, length) : "?";
        return {gLastFormulaError.code, span};
    }

    const FormulaItem &Item(const DefinitionList &list, int i) { return ((const FormulaItem *)list.items)[i]; }
    const FormulaColumn &Column(const DefinitionList &list, int i) { return ((const FormulaColumn *)list.items)[i]; }
    const StrategyRecord &Strategy(int i) { return gStrategies[i]; }
    std::string TextOf(const FormulaSlot &slot) { return std::string(slot.scriptText + slot.start, slot.length); }
};

/* ---- errors with their spans ------------------------------------------------------ */

struct ErrorCase {
    const char *script;
    int mode;
    int code;
    const char *span;
};

const std::string kName63 = std::string(63, 'a');
const std::string kName64 = std::string(64, 'a');

TEST_F(ParserTest, RefusesBadScriptsOverTheBadText)
{
    /* clang-format off */
    const ErrorCase cases[] = {
        /* structure of names and sections */
        {"A: 1\n", 3, 2, "A"},
        {": 1\n", 3, 2, ":"},
        {"Data:\n 3x: 1\n", 3, 14, "3x"},
        {"Data:\n x + : 1\n", 3, 12, ":"},
        {"Data: C > 5\n", 3, 12, "C > 5"},
        {"Results: Foo // comment\n", 3, 12, "Foo"},
        {"Strategy:\nSide: Long\n", 3, 13, "Strategy"},
        {"Namespace:\n", 3, 12, "Namespace"},
        {"Strategy: a-b\n", 3, 14, "a-b"},
        {"Namespace: lib\nX: 1\n", 3, 36, "X"},
        {"Include: other.kvs\nX: 1\n", 3, 2, "X"},
        /* item names */
        {"Data:\nClose: 1\n", 3, 75, "Close"},
        {"Data:\nDataSource: 1\n", 3, 75, "DataSource"},
        {"Results:\nS.Equity: 1\n", 3, 75, "S.Equity"},
        {"Data:\nA: 1\nA: 2\n", 3, 76, "A"},
        {"Data:\nA: 1\nResults:\nA: 2\nA: 3\n", 3, 76, "A"},   /* the Data item hides no duplicate column */
        {"Data:\nA: 1\nLibrary:\nA: 2\n", 3, 77, "A"},
        {"Library:\nA: 1\nData:\nA: 2\n", 3, 77, "A"},
        {"TestData:\nA: 1\nStratData:\nA: 2\n", 3, 78, "A"},
        {"Data:\nA: 1\nParameters:\nA: 1,2\n", 3, 81, "A"},
        {"Parameters:\nA: 1,2\nData:\nA: 1\n", 3, 77, "A"},
        /* settings */
        {"Settings:\nNoSuchSetting: 1\n", 3, 39, "NoSuchSetting"},
        {"TestSettings:\nNoSuchSetting: 1\n", 2, 39, "NoSuchSetting"},
        {"Settings:\nNumBars: 0\n", 3, 40, "0"},
        /* import */
        {"Import:\nWhatever: 1\n", 0, 46, "Whatever"},
        {"Import:\nExcludeIf: C < 1\nExcludeIf: C < 2\n", 0, 47, "ExcludeIf"},
        /* strategies */
        {"Strategy: S\nNoSuch: 1\n", 3, 36, "NoSuch"},
        {"Strategy: S\nEntrySetup: 1\nEntrySetup: 2\n", 3, 65, "EntrySetup"},
        {"StatsGroup: G\nEntrySetup: 1\n", 3, 35, "EntrySetup"},
        {"Combined:\nEntrySetup: 1\n", 3, 34, "EntrySetup"},
        {"StatsGroup: G\nTradeList: x.csv\n", 3, 35, "TradeList"},
        {"Combined:\nUsing: S\n", 3, 34, "Using"},
        {"StatsGroup: G\nSide: Long\n", 3, 35, "Side"},
        {"Benchmark: B\nOrdersFile: o.csv\n", 3, 66, "OrdersFile"},
        {"Strategy: S\nTLEndDate: someday\n", 3, 42, "someday"},
        {"Strategy: S\nTradeList: a.csv\nTradeList: b.csv\n", 3, 65, "TradeList"},
        {"Strategy: S\nSide: Long\nSide: Short\n", 3, 65, "Side"},
        {"Strategy: S\nBarSize: Hourly\n", 3, 16, "Hourly"},
        {"Settings:\nBarSize: Weekly\nStrategy: S\nBarSize: Daily\n", 3, 17, "Daily"},
        {"Settings:\nBarSize: Weekly\nStrategy: S\nBarSize: Monthly\n", 3, 18, "Monthly"},
        {"Strategy: S\nStrategy: s\n", 3, 64, "s"},
        {"Combined:\nCombined:\n", 3, 63, "Combined"},
        {"Combined: All\nAllocation: 50\n", 3, 12, "All"},   /* the header stands alone */
        /* sort lists */
        {"Trades:\nSort: -Symbol, +Nope\n", 3, 93, "Nope"},
        {"Scan:\nMyRank: {#} C\nSort: MyRank,MyRankx\n", 2, 93, "MyRankx"},
        /* preprocessor */
        {"Data:\nA: 1\n#endif\n", 3, 7, "#endif"},
        {"Data:\n#ifdef scan\nA: 1\n", 3, 7, "#ifdef scan\nA: 1\n"},
        {"Data:\nA: 1\n#define", 3, 12, "#define"},
    };
    /* clang-format on */
    for (const ErrorCase &c : cases) {
        SetUp();
        Outcome got = Parse(c.script, c.mode);
        EXPECT_EQ(got.code, c.code) << c.script;
        EXPECT_EQ(got.span, c.span) << c.script;
        if (got.code) {
            EXPECT_EQ(std::string(LastMessage()), std::string("Syntax Error:\r\n\r\n") + CompileErrorText[c.code]);
        }
        TearDown();
    }
}

/* A file or folder name of 259 letters is kept whole, whatever bytes its
** letters take; one longer is refused over its text, never cut to the name
** of another file.  (The names made whole here are rooted: joined to a
** folder, they would be longer.) */
TEST_F(ParserTest, PathsOfTwoHundredFiftyNineCharactersFitAndLongerOnesAreRefused)
{
    struct PathCase {
        const char *section, *keyword, *root, *extension;
    } cases[] = {
        {"Settings:\n", "SaveStatsAs"},
        {"Settings:\n", "SaveTradesAs"},
        {"Settings:\n", "SavePositionsAs"},
        {"Settings:\n", "OrdersFile"},
        {"Settings:\n", "OrdersTemplate"},
        {"Settings:\n", "OrdersNetLiq"},
        {"Settings:\n", "OrdersFreeCash"},
        {"Settings:\n", "ExchangeMap"},
        {"Settings:\n", "SymChangeList"},
        {"Strategy: S\n", "OrdersFile"},
        {"Strategy: S\n", "OrdersTemplate"},
        {"Strategy: S\n", "OrdersNetLiq"},
        {"Strategy: S\n", "OrdersFreeCash"},
        {"Settings:\n", "DataFile", "C:\\", ".kvd"},
        {"Settings:\n", "SaveScanAs", "C:\\"},
        {"Settings:\n", "SaveTestListAs", "C:\\"},
        {"Settings:\n", "ResultsFile", "C:\\", ".kvr"},
    };
    for (const std::string letter : {"p", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"}) {
        for (const PathCase &c : cases) {
            const std::string root = c.root ? c.root : "", extension = c.extension ? c.extension : ".csv";
            std::string fits = root;
            for (size_t k = root.size() + extension.size(); k < 259; k++) fits += letter;
            fits += extension;
            const std::string tooLong = letter + fits;
            for (const std::string &value : {fits, tooLong}) {
                SetUp();
                Outcome got = Parse(std::string(c.section) + c.keyword + ": " + value + "\n");
                EXPECT_EQ(got.code, value == fits ? 0 : 9) << c.section << c.keyword << " of " << value.size();
                if (got.code) EXPECT_EQ(got.span, value) << c.keyword;
                TearDown();
            }
        }
        /* An included file's name likewise: cut, it could name a file that is there. */
        std::string tooLong;
        for (int k = 0; k < 256; k++) tooLong += letter;
        tooLong += ".kvs";
        SetUp();
        Outcome got = Parse("Include: " + tooLong + "\nData:\nA: 1\n");
        EXPECT_EQ(got.code, 9);
        EXPECT_EQ(got.span, tooLong);
        TearDown();
    }
    SetUp();
}

TEST_F(ParserTest, NamesOfSixtyThreeCharactersFitAndSixtyFourDoNot)
{
    EXPECT_EQ(Parse("Data:\n" + kName63 + ": 1\n").code, 0);
    ASSERT_EQ(gDataItems.count, 1);
    EXPECT_STREQ(Item(gDataItems, 0).formula.name, kName63.c_str());
    Outcome got = Parse("Data:\n" + kName64 + ": 1\n");
    EXPECT_EQ(got.code, 11);
    EXPECT_EQ(got.span, kName64);
}

TEST_F(ParserTest, AMissingFileIsReportedWithTheFileResultCode)
{
    char ns[64] = "";
    EXPECT_EQ(ParseScriptText(folder.File("missing.kvs").c_str(), ns), nullptr);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_NE(std::string(LastMessage()).find("Unable to open"), std::string::npos);
}

/* ---- what a good script leaves behind -------------------------------------------------- */

TEST_F(ParserTest, StoresItemsWithTheirTextSpans)
{
    ASSERT_EQ(Parse("\xEF\xBB\xBF"
                    "Data:\n"
                    "  Fast: Avg(C, 10)   // short\n"
                    "  Slow: Avg(C, 50)\n"
                    "Library:\n"
                    "  Half: arg1 / 2\n")
                  .code,
              0);
    ASSERT_EQ(gDataItems.count, 2);
    EXPECT_STREQ(Item(gDataItems, 0).formula.name, "Fast");
    EXPECT_EQ(TextOf(Item(gDataItems, 0).formula), "Avg(C, 10)   // short");
    EXPECT_EQ(TextOf(Item(gDataItems, 1).formula), "Avg(C, 50)");
    EXPECT_EQ(Item(gDataItems, 1).formula.definitionSection, (uint32_t)SECTION_DATA);
    EXPECT_EQ(Item(gDataItems, 1).formula.includeDepth, 1);
    EXPECT_EQ(Item(gDataItems, 1).barSize, -1);
    EXPECT_NE(std::string(Item(gDataItems, 1).formula.path).find("script.kvs"), std::string::npos);
    ASSERT_EQ(gLibraryItems.count, 1);
    EXPECT_EQ(TextOf(Item(gLibraryItems, 0).formula), "arg1 / 2");
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_DATA], 1);
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_LIBRARY], 1);
}

TEST_F(ParserTest, ColonsInPathsQuotesCommentsAndNotesMakeNoItems)
{
    ASSERT_EQ(Parse("Notes: free text: with colons\n"
                    "  and more: here (see: there)\n"
                    "Settings:\n"
                    "  DataFile: C:\\Data\\prices.kvd\n"
                    "Data:\n"
                    "  A: InList(\"x:y\") /* b: c */ { d: e } // f: g\n"
                    "  B: 1\n")
                  .code,
              0);
    ASSERT_EQ(gDataItems.count, 2);
    EXPECT_STREQ(Item(gDataItems, 0).formula.name, "A");
    EXPECT_STREQ(Item(gDataItems, 1).formula.name, "B");
}

TEST_F(ParserTest, NamespacesQualifyItemNames)
{
    ASSERT_EQ(Parse("Namespace: lib\nData:\n  X: 1\n  other.Y: 2\nNamespace: none\nData:\n  Z: 3\n").code, 0);
    ASSERT_EQ(gDataItems.count, 3);
    EXPECT_STREQ(Item(gDataItems, 0).formula.name, "lib.X");
    EXPECT_STREQ(Item(gDataItems, 0).formula.nameSpace, "lib");
    EXPECT_STREQ(Item(gDataItems, 1).formula.name, "other.Y");
    EXPECT_STREQ(Item(gDataItems, 2).formula.name, "Z");
    EXPECT_STREQ(nameSpace, "");
    ASSERT_EQ(Parse("Namespace: lib\nParameters:\nLen: 1,2\nWalkForward:\nDates: 2024-01-02, 2024-06-03\n").code, 0);
    ASSERT_EQ(gParameters.count, 1);
    EXPECT_STREQ(((const Parameter *)gParameters.items)[0].name, "lib.Len");
    Outcome got = Parse("Namespace: " + std::string(60, 'n') + "\nData:\nLong: 1\n");
    EXPECT_EQ(got.code, 11);
    EXPECT_EQ(got.span, "Long");
}

TEST_F(ParserTest, AllowSameNameReplacesTheEarlierItemInPlace)
{
    ASSERT_EQ(Parse("Settings:\nAllowSameName: True\nData:\nA: 1\nB: 2\nA: 3\n").code, 0);
    ASSERT_EQ(gDataItems.count, 2);
    EXPECT_STREQ(Item(gDataItems, 0).formula.name, "A");
    EXPECT_EQ(TextOf(Item(gDataItems, 0).formula), "3");
    /* The setting counts only where its section applies. */
    TearDown();
    SetUp();
    EXPECT_EQ(Parse("TestSettings:\nAllowSameName: True\nData:\nA: 1\nA: 3\n", 2).code, 76);
}

TEST_F(ParserTest, ColumnsReadTheirHintsFiltersAndSortLists)
{
    ASSERT_EQ(Parse("Results:\n"
                    "  Profit: {$2 'Net'} S.NetProfit\n"
                    "  _Work: 1\n"
                    "Charts:\n"
                    "  Text: \"label\"\n"
                    "Trades:\n"
                    "  Filter: T.Profit > 0\n"
                    "  Gain: {%1} T.Profit\n"
                    "  Sort: -Symbol, +DateIn,\n   Gain\n"
                    "Scan:\n"
                    "  Filter1: C > 5\n"
                    "  MyRank: {#0} C\n"
                    "  FilterB: V > 0\n"
                    "  Sort: -Date\n",
                    2)
                  .code,
              0);
    ASSERT_EQ(gResultsColumns.count, 2);
    EXPECT_STREQ(Column(gResultsColumns, 1).formula.name, "_Work");
    EXPECT_EQ(Column(gResultsColumns, 0).format, 3);
    EXPECT_EQ(Column(gResultsColumns, 0).decimals, 2);
    EXPECT_STREQ(Column(gResultsColumns, 0).heading, "Net");
    EXPECT_EQ(Column(gResultsColumns, 1).format, 0);
    ASSERT_EQ(gChartsColumns.count, 1);
    EXPECT_EQ(Column(gChartsColumns, 0).isText, 1);
    EXPECT_EQ(Column(gChartsColumns, 0).format, 0);
    ASSERT_EQ(gTradesColumns.count, 2);
    EXPECT_EQ(Column(gTradesColumns, 0).filter, 1);
    EXPECT_EQ(Column(gTradesColumns, 1).format, 4);
    EXPECT_STREQ(gTradesSort, "-Symbol,+DateIn,Gain");
    ASSERT_EQ(gScanColumns.count, 3);
    EXPECT_EQ(Column(gScanColumns, 0).filter, 1);
    EXPECT_EQ(Column(gScanColumns, 1).filter, 0);
    EXPECT_EQ(Column(gScanColumns, 2).filter, 2);
    EXPECT_EQ(gScanFilterCount, 2);
    EXPECT_STREQ(gScanSort, "-Date");
}

TEST_F(ParserTest, DataBarSizeSetsTheItemsThatFollowOnly)
{
    ASSERT_EQ(Parse("Settings:\nBarSize: Daily\nData:\nA: 1\nBarSize: Weekly\nB: 2\nData:\nD: 3\n").code, 0);
    ASSERT_EQ(gDataItems.count, 3);
    EXPECT_EQ(Item(gDataItems, 0).barSize, -1);
    EXPECT_EQ(Item(gDataItems, 1).barSize, 1);
    EXPECT_EQ(Item(gDataItems, 2).barSize, -1) << "a new header starts over";
    EXPECT_EQ(gSettings.BarSize2, 0) << "the script's bar size stays";
    EXPECT_EQ(gCompileSession.sectionCounts[SECTION_DATA], 2);
}

TEST_F(ParserTest, SettingsApplyOnlyInSectionsOfTheRunMode)
{
    const struct {
        const char *section;
        int mode;
        int applies;
    } cases[] = {
        {"Settings", 0, 1},
        {"Settings", 5, 1},
        {"ScanSettings", 2, 1},
        {"ScanSettings", 3, 0},
        {"TestSettings", 3, 1},
        {"TestSettings", 2, 0},
        {"TestSettings", 4, 1},
        {"OptimizeSettings", 4, 1},
        {"OptimizeSettings", 3, 0},
        {"OrderSettings", 5, 1},
        {"OrderSettings", 1, 0},
    };
    for (const auto &c : cases) {
        SetUp();
        std::string script = std::string(c.section) + ":\nAllowSameName: True\nSkipTestIf: C < 5\n";
        ASSERT_EQ(Parse(script, c.mode).code, 0) << c.section;
        EXPECT_EQ(GetRunSetting(RUNSET_ALLOW_SAME_NAME), c.applies) << c.section << " mode " << c.mode;
        EXPECT_EQ(gScriptParser.settingGiven[SETKW_ALLOWSAMENAME], c.applies);
        EXPECT_EQ(gSkipTestIf.formula.length > 0, c.applies != 0);
        if (c.applies) {
            EXPECT_EQ(gSkipTestIf.section, FindSectionName(c.section));
        }
        TearDown();
    }
}

TEST_F(ParserTest, DateInputComesOnlyFromSectionsThatApply)
{
    ASSERT_EQ(Parse("TestSettings:\nDateInput: DMY\n", 2).code, 0);
    EXPECT_EQ(gSettings.DateInputFormat, 0);
    ASSERT_EQ(Parse("TestSettings:\nDateInput: DMY\n", 3).code, 0);
    EXPECT_EQ(gSettings.DateInputFormat, 1);
    /* Applied as soon as it is met, so earlier and later dates read the same way. */
    gSettings.DateInputFormat = 0;
    ASSERT_EQ(Parse("Strategy: S\nTLEndDate: 2/1/2024\nSettings:\nDateInput: DMY\n", 3).code, 0);
    EXPECT_EQ(Strategy(0).TLEndDate, 20240102);
}

TEST_F(ParserTest, NumBarsDerivesTheOtherEndOfTheRange)
{
    const struct {
        const char *script;
        int32_t first, last, numBars;
    } cases[] = {
        /* ends the file: still derived */
        {"Settings:\nStartDate: 2024-01-01\nNumBars: 5\n", 20240101, 20240105, 5},
        {"Settings:\nStartDate: 2024-01-05\nNumDays: 2\nData:\nA: 1\n", 20240105, 20240108, 2},
        {"Settings:\nEndDate: 2024-01-08\nNumBars: 2\n", 20240105, 20240108, 2},
        {"Settings:\nStartDate: 2024-01-01\n", 20240101, 0, 0},
        /* more bars than the calendar holds: the range ends at its edge */
        {"Settings:\nStartDate: 2024-01-01\nNumBars: 5000000\n", 20240101, 99991231, 5000000},
        {"Settings:\nEndDate: 2024-01-08\nNumBars: 5000000\n", 10000101, 20240108, 5000000},
    };
    for (const auto &c : cases) {
        SetUp();
        gSettings.NumBars = 99;
        gSettings.UseLatestDate = 1;
        ASSERT_EQ(Parse(c.script).code, 0) << c.script;
        EXPECT_EQ(gSettings.FirstDate, c.first) << c.script;
        EXPECT_EQ(gSettings.LastDate, c.last) << c.script;
        EXPECT_EQ(gSettings.NumBars, c.numBars) << c.script;
        TearDown();
    }
    gSettings.UseLatestDate = 1;
    ASSERT_EQ(Parse("Settings:\nStartDate: 2024-01-01\nNumBars: 5\n").code, 0);
    EXPECT_EQ(gSettings.UseLatestDate, 0) << "the derived end is a real date";
    /* Years of a yearly date list: more than the calendar holds end at its edge too. */
    TearDown();
    SetUp();
    gStore.dateLists[BAR_YEARLY].barSize = BAR_YEARLY;
    ASSERT_EQ(Parse("Settings:\nBarSize: Yearly\nStartDate: 2024-01-01\nNumBars: 9000\n").code, 0);
    gStore.dateLists[BAR_YEARLY].barSize = 0;
    EXPECT_EQ(gSettings.LastDate, 99991231);
}

TEST_F(ParserTest, IncludeHeadersKeepTheirPathOnTheHeaderLine)
{
    ASSERT_EQ(Parse("Include: lib\\common.kvs\nScanInclude: c:\\scan.kvs // for scans\n"
                    "TestInclude: lib\\common.kvs\nOrdersInclude: c:\\orders.kvs\nData:\nA: 1\n")
                  .code,
              0);
    EXPECT_EQ(gDataItems.count, 1);
    for (int s : {SECTION_INCLUDE, SECTION_SCAN_INCLUDE, SECTION_TEST_INCLUDE, SECTION_ORDERS_INCLUDE})
        EXPECT_EQ(gCompileSession.sectionCounts[s], 1) << s;
}

TEST_F(ParserTest, ManyItemsGrowTheLineRecordsPastOneStep)
{
    std::string script = "Data:\n";
    for (int i = 0; i < 100; i++) script += "  Item" + std::to_string(i) + ": " + std::to_string(i) + "\n";
    ASSERT_EQ(Parse(script).code, 0);
    ASSERT_EQ(gDataItems.count, 100);
    EXPECT_STREQ(Item(gDataItems, 99).formula.name, "Item99");
    EXPECT_EQ(TextOf(Item(gDataItems, 99).formula), "99");
}

TEST_F(ParserTest, EveryFileStartsWithNoOpenBlock)
{
    /* A block left open by one included file is not there to close in the next. */
    WriteTestFile(folder.File("first.kvs"), "#ifdef test\nLibrary:\n  Twice: 1\n");
    WriteTestFile(folder.File("second.kvs"), "Data:\n  Once: 1\n#endif\n");
    Outcome got = Parse("Include: first.kvs\nInclude: second.kvs\n");
    EXPECT_EQ(got.code, 7);
    EXPECT_EQ(gLibraryItems.count, 1);
}

TEST_F(ParserTest, PreprocessorBlocksFollowTheRunMode)
{
    const char *script = "Data:\n#ifdef test\n  A: 1\n#else\n  B: 2\n#endif\n  D: 3\n";
    ASSERT_EQ(Parse(script, 3).code, 0);
    ASSERT_EQ(gDataItems.count, 2);
    EXPECT_STREQ(Item(gDataItems, 0).formula.name, "A");
    EXPECT_EQ(TextOf(Item(gDataItems, 0).formula), "1") << "the directive ends the value";
    TearDown();
    SetUp();
    ASSERT_EQ(Parse(script, 2).code, 0);
    ASSERT_EQ(gDataItems.count, 2);
    EXPECT_STREQ(Item(gDataItems, 0).formula.name, "B");
}

TEST_F(ParserTest, StrategiesTakeSlotsConstantsAndTexts)
{
    ASSERT_EQ(Parse("Template: T\n  Side: Long\n"
                    "Strategy: S1\n  Using: T\n  EntrySetup: C > O\n  TradeList: trades.csv // file\n"
                    "  TLEndDate: latest\n  BarSize: Daily\n"
                    "StatsGroup: G\n  MaxPositions: 5\n  MaxEntries: 2\n"
                    "Combined:\n  Allocation: 50\n")
                  .code,
              0);
    ASSERT_EQ(gStrategyCount, 4);
    EXPECT_STREQ(Strategy(0).name, "T");
    EXPECT_EQ(Strategy(0).kind, SECTION_TEMPLATE);
    const StrategyRecord &s = Strategy(1);
    EXPECT_EQ(s.kind, SECTION_STRATEGY);
    EXPECT_EQ(TextOf(s.slots[40]), "C > O");
    EXPECT_STREQ(s.slots[40].name, "EntrySetup");
    EXPECT_EQ(s.slots[40].definitionSection, (uint32_t)SECTION_STRATEGY);
    EXPECT_EQ(s.slots[40].strategyNumber, 2u);
    EXPECT_STREQ(s.TradeList, "trades.csv");
    EXPECT_EQ(s.TLEndDate, 99991231);
    EXPECT_EQ(s.BarSize, 0);
    EXPECT_EQ(Strategy(2).hasGroupLimits, 1);
    EXPECT_EQ(gScriptParser.groupMaxEntries, 1);
    EXPECT_STREQ(Strategy(3).name, "Combined");
    EXPECT_EQ(TextOf(Strategy(3).slots[1]), "50");
}

TEST_F(ParserTest, ImportSectionKeepsItsTextAndFilter)
{
    ASSERT_EQ(Parse("Import:\r\n  DataSource: CSV\r\n  ExcludeIf: C < 1\r\nData:\r\nA: 1\r\n", 0).code, 0);
    EXPECT_EQ(std::string(gScriptParser.importText.text), "Import:\n  DataSource: CSV\n  ExcludeIf: C < 1\n");
    EXPECT_EQ(TextOf(gImportFilter.formula), "C < 1");
    EXPECT_EQ(gImportFilter.section, SECTION_IMPORT);
}

TEST_F(ParserTest, DefaultSectionScriptsDefineOnlyTheirSection)
{
    gCompileSession.sectionFilter = SECTION_RESULTS;
    ASSERT_EQ(Parse("Results:\nA: 1\n").code, 0);
    TearDown();
    SetUp();
    gCompileSession.sectionFilter = SECTION_RESULTS;
    Outcome got = Parse("Results:\nA: 1\nData:\nB: 1\n");
    EXPECT_EQ(got.code, 30);
    EXPECT_EQ(got.span, "Data");
}

TEST_F(ParserTest, CollectsTheScriptTextWithIncludeLinesCommentedOut)
{
    gCompileSession.collectText = 1;
    ASSERT_EQ(Parse("Include: a.kvs\nData:\nA: 1\n").code, 0);
    EXPECT_EQ(std::string(gScriptParser.collectedText.text), "// Include: a.kvs\nData:\nA: 1\n");
}

TEST_F(ParserTest, GetSectionLineValueEndsAtCommentsAndDirectives)
{
    const struct {
        const char *text;
        const char *value;
    } cases[] = {
        {"trades.csv  // the list", "trades.csv"},
        {"a.csv /* x */", "a.csv"},
        {"a.csv { hint }", "a.csv"},
        {"a.csv\n#endif", "a.csv"},
        {"  ", ""},
    };
    for (const auto &c : cases) {
        std::string text = c.text;
        char saved = 0;
        int n = GetSectionLineValue(text.data(), (int)text.size(), &saved);
        EXPECT_EQ(std::string(text.c_str()), c.value);
        text[n] = saved;
        EXPECT_EQ(text, c.text) << "the caller can put the character back";
    }
}

} // namespace

namespace {

/* Every prefix of a script that uses every kind of section either parses or
** stops with one code of the table: cut texts never crash the reader. */
TEST_F(ParserTest, EveryCutOfAScriptParsesOrFailsCleanly)
{
    const std::string script =
        "// sample\nSettings:\n  StartDate: 2024-01-02\n  NumBars: 20\nTestSettings:\n  TestName: \"t\"\n"
        "Namespace: lib\nLibrary:\n  Half: arg1 / 2 { comment: here }\nNamespace: none\n"
        "Data:\n#ifdef test\n  Fast: Avg(C, 10) /* a: b */\n#else\n  Fast: 1\n#endif\n  BarSize: Weekly\n  Slow: 'x:y'\n"
        "Parameters:\n  Len: from 1 to 5\nResults:\n  Profit: {$2 \"Net\"} S.NetProfit\n"
        "Trades:\n  Sort: -Symbol\nScan:\n  Filter: C > 1\nStrategy: S\n  Side: Long\n  EntrySetup: C > O\n"
        "  TLEndDate: latest\nStatsGroup: G\n  MaxPositions: 3\nNotes: free: text\nImport:\n  DataSource: CSV\n";
    ASSERT_EQ(Parse(script).code, 0);
    for (size_t n = 0; n < script.size(); n++) {
        TearDown();
        SetUp();
        Outcome got = Parse(script.substr(0, n));
        EXPECT_TRUE(got.code >= 0 && got.code < COMPILE_ERROR_COUNT) << n;
        EXPECT_EQ(parsed != nullptr, got.code == 0) << n;
    }
}

} // namespace

namespace {

/* Stored records compile where they stand: names resolve through the
** definition lists, with the visibility and order rules of their sections. */
TEST_F(ParserTest, StoredItemsCompileAgainstTheDefinitionLists)
{
    ASSERT_EQ(Parse("Data:\n  Up: C > O\n  Both: Up AND Later\n  Later: 1\n"
                    "Results:\n  Seen: {#} Up\n"
                    "Graphs:\n  Used: Up\n")
                  .code,
              0);
    FormulaItem *items = (FormulaItem *)gDataItems.items;
    EXPECT_EQ(CompileFormula(&items[0].formula, SECTION_DATA, 0), 1);
    EXPECT_EQ(CompileFormula(&items[1].formula, SECTION_DATA, 1), 0);
    EXPECT_EQ(gLastFormulaError.code, 32) << "Later is defined after Both";
    gChartsUseDataItems = gGraphsUseDataItems = 0;
    FormulaColumn *graphs = (FormulaColumn *)gGraphsColumns.items;
    EXPECT_EQ(CompileFormula(&graphs[0].formula, SECTION_GRAPHS, 0), 1);
    EXPECT_EQ(gGraphsUseDataItems, 1);
    FormulaColumn *results = (FormulaColumn *)gResultsColumns.items;
    EXPECT_EQ(CompileFormula(&results[0].formula, SECTION_RESULTS, 0), 0);
    EXPECT_EQ(gLastFormulaError.code, 31) << "Data items are not seen from Results";
    for (FormulaItem *item = items; item < items + gDataItems.count; item++) FreeFormulaNodes(&item->formula);
    FreeFormulaNodes(&graphs[0].formula);
    FreeFormulaNodes(&results[0].formula);
}

/* A sort list keeps no blanks, so a heading with blanks is named without
** them; an entry that names no shown column is still refused. */
TEST_F(ParserTest, ASortListNamesAHeadingWithBlanks)
{
    const struct {
        const char *sort;
        int code;
    } cases[] = {{"-Gain %", 0}, {"Gain%, Symbol", 0}, {"-Gain", 0}, {"Gain %%", 93}};
    for (const auto &c : cases) {
        SetUp();
        EXPECT_EQ(c.code, Parse(std::string("Trades:\n  Gain: {%1 'Gain %'} T.Profit\n  Sort: ") + c.sort + "\n", 2).code)
            << c.sort;
        TearDown();
    }
}

} // namespace
