/* side_files_test.cpp -- holiday lists, the exchange map, symbol changes and
** cash and fee lists, well-formed and not. */
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "foundation/allocator.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/definitions.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/side_files.h"
#include "script/compiler/strategy.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

struct SideFileTest : ::testing::Test {
    TempFolder folder;
    char savedProgram[PATH_SIZE] = "";
    char savedScripts[PATH_SIZE] = "";
    const char *savedSlatewick = nullptr;
    HolidayList holidays = {};
    StrategyRecord *record = nullptr;

    void SetUp() override
    {
        ResetHeadlessShell();
        CopyString(savedProgram, sizeof savedProgram, gProgramFolder, -1);
        CopyString(savedScripts, sizeof savedScripts, gScriptsFolder, -1);
        savedSlatewick = gSlatewickFolderSetting;
        std::string program = folder.File("program");
        std::string scripts = folder.File("scripts");
        PlatCreateFolder(program.c_str());
        PlatCreateFolder(scripts.c_str());
        CopyString(gProgramFolder, sizeof gProgramFolder, program.c_str(), -1);
        CopyString(gScriptsFolder, sizeof gScriptsFolder, scripts.c_str(), -1);
        gSlatewickFolderSetting = "";
        gExchangeMapSetting[0] = 0;
        gSymChangeListSetting[0] = 0;
        gCompileSession = CompileSession{};
        gCompileSession.mode = 3;
        gCompileSession.pass = 1;
        gSettings.DateInputFormat = 0;
        gContractSpecs.count = 0;
        gSymbolChanges.count = 0;
        ForgetSideFileNotes();
        record = (StrategyRecord *)calloc(1, sizeof(StrategyRecord));
        ResetStrategyRecord(record);
    }
    void TearDown() override
    {
        ResetStrategyRecord(record);
        for (FormulaSlot &slot : record->slots) FreeFormulaNodes(&slot);
        free(record);
        FreeMemory(&holidays.pairs);
        CopyString(gProgramFolder, sizeof gProgramFolder, savedProgram, -1);
        CopyString(gScriptsFolder, sizeof gScriptsFolder, savedScripts, -1);
        gSlatewickFolderSetting = savedSlatewick;
        gExchangeMapSetting[0] = 0;
        gSymChangeListSetting[0] = 0;
        gHeadless.captureLog = 0;
    }
    std::string Write(const std::string &name, const std::string &text)
    {
        std::string path = folder.File(name);
        EXPECT_TRUE(WriteTestFile(path, text));
        return path;
    }
    /* The one report the loader made: its heading for the file and its
    ** lines, each line holding one of notes; "" (and a failure) otherwise. */
    void ExpectOneReport(const std::string &kind, const std::string &path, std::initializer_list<const char *> notes)
    {
        ASSERT_EQ(gHeadless.messageCount, 1) << (gHeadless.messageCount ? LastMessage() : "");
        std::string expected = "Parts of " + kind + " file " + path + " could not be read:\r\n\r\n";
        for (const char *note : notes) expected += std::string(note) + "\r\n";
        EXPECT_EQ(std::string(LastMessage()), expected);
    }
    ContractSpec *ContractAt(int i) { return (ContractSpec *)gContractSpecs.items + i; }
    SymbolChange *Change(int i) { return (SymbolChange *)gSymbolChanges.items + i; }
    DatedAmount *Cash(int i) { return (DatedAmount *)record->cashList.items + i; }
};

/* ---- holiday lists ----------------------------------------------------------------- */

TEST_F(SideFileTest, HolidayFilesMarkEarlyClosesAndSkipOtherLines)
{
    std::string path = Write("h.txt", "Holidays 2024\r\n2024-01-01\r\n*2024-07-03\r\n  12/25/2024\r\nnot a date\r\n\r\n");
    ASSERT_EQ(LoadHolidayList(&holidays, path.c_str()), 1);
    ASSERT_EQ(holidays.count, 3);
    EXPECT_EQ(holidays.pairs[0].date, 20240101);
    EXPECT_EQ(holidays.pairs[0].earlyClose, 0);
    EXPECT_EQ(holidays.pairs[1].date, 20240703);
    EXPECT_EQ(holidays.pairs[1].earlyClose, 1);
    EXPECT_EQ(holidays.pairs[2].date, 20241225);
    EXPECT_EQ(holidays.capacity % 32, 0);

    /* A missing file is a clear error and the list keeps what it held. */
    std::string missing = folder.File("none.txt");
    EXPECT_EQ(LoadHolidayList(&holidays, missing.c_str()), 0);
    EXPECT_EQ(std::string(LastMessage()), "Unable to read holiday list file " + missing);
    EXPECT_EQ(holidays.count, 3);
    EXPECT_EQ(LoadHolidayList(&holidays, ""), 1);
    EXPECT_EQ(holidays.count, 0);
}

/* A line meant as a date that is none would be skipped unseen and the day
** traded: it is named, in one report for the file, and the file's other
** holidays stand.  Headings stay silent. */
TEST_F(SideFileTest, HolidayLinesMeantAsDatesThatAreNoneAreNamed)
{
    std::string path = Write("h.txt", "Holidays 2024\r\n2024-01-01\r\n2024-13-45\r\n*12/32/2024\r\n20241345\r\n"
                                      "New Year\r\n2024-07-04 Independence Day\r\n");
    ASSERT_EQ(LoadHolidayList(&holidays, path.c_str()), 1);
    ASSERT_EQ(holidays.count, 2);
    EXPECT_EQ(holidays.pairs[0].date, 20240101);
    EXPECT_EQ(holidays.pairs[1].date, 20240704);
    ExpectOneReport("holiday list", path,
                    {"line 3 gives 2024-13-45, which is not a date; no holiday was taken from it",
                     "line 4 gives *12/32/2024, which is not a date; no holiday was taken from it",
                     "line 5 gives 20241345, which is not a date; no holiday was taken from it"});
    /* Read again in the same run (the second pass, a strategy sharing the
    ** file) it is not named again; a new run names it again. */
    ASSERT_EQ(LoadHolidayList(&holidays, path.c_str()), 1);
    EXPECT_EQ(gHeadless.messageCount, 1);
    ForgetSideFileNotes();
    ASSERT_EQ(LoadHolidayList(&holidays, path.c_str()), 1);
    EXPECT_EQ(gHeadless.messageCount, 2);
}

TEST_F(SideFileTest, AutomaticUsHolidaysWaitForTheLoadedData)
{
    int32_t savedLast = gStore.lastDate;
    gStore.lastDate = 20240614;
    EXPECT_EQ(LoadHolidayList(&holidays, "US_Auto"), 1);
    EXPECT_EQ(holidays.count, 0);
    gCompileSession.pass = 2;
    EXPECT_EQ(LoadHolidayList(&holidays, "us_auto"), 1);
    EXPECT_GT(holidays.count, 0);
    EXPECT_EQ(holidays.pairs[0].date / 10000, 2024);
    gHeadless.captureLog = 1;
    EXPECT_EQ(LoadHolidayList(&holidays, "us_auto_LOG"), 1);
    ASSERT_NE(gHeadless.logText, nullptr);
    EXPECT_NE(strstr(gHeadless.logText, "*"), nullptr);
    gStore.lastDate = savedLast;
}

/* ---- exchange map ------------------------------------------------------------------ */

TEST_F(SideFileTest, ExchangeMapFillsFieldsByHeaderName)
{
    Write("program\\ExchangeMap.csv",
          "Market, Exchange,HasMoc,FuturesOpenTime,Bogus,Primary\r\n"
          "US,NYSE,1,9:30,x,\"NYSE,ARCA\"\r\n"
          "\"CA\",TSX,\"1,000\",,y\r\n"
          "\r\n"
          "ignored,after,the,empty,line\r\n");
    ASSERT_EQ(LoadExchangeMap(), 1);
    ASSERT_EQ(gContractSpecs.count, 2);
    EXPECT_STREQ(ContractAt(0)->Market, "US");
    EXPECT_STREQ(ContractAt(0)->Exchange, "NYSE");
    EXPECT_EQ(ContractAt(0)->HasMoc, 1);
    EXPECT_EQ(ContractAt(0)->FuturesOpenTime, 93000);
    EXPECT_STREQ(ContractAt(0)->Primary, "NYSEARCA");
    EXPECT_STREQ(ContractAt(1)->Market, "CA");
    EXPECT_EQ(ContractAt(1)->HasMoc, 1000);
    EXPECT_STREQ(ContractAt(1)->Primary, "");
    /* The path found becomes the setting. */
    EXPECT_TRUE(MatchWildcard("*ExchangeMap.csv", gExchangeMapSetting));
}

/* A flag or time that is none is named and its field left empty, never read
** as the number its text begins with; a quote left open costs only its
** line.  Only an orders run, which reads the map, names them. */
TEST_F(SideFileTest, ExchangeMapValuesThatAreNoneAreNamedAndNotUsed)
{
    std::string path = Write("program\\ExchangeMap.csv",
                             "Exchange,HasMoc,HasLoc,AllHours,FuturesOpenTime\r\n"
                             "NYSE,yes,1,2,25:00\r\n"
                             "TSX,1.5,0,1e3,9:30\r\n"
                             "ARCA,\"1,0,0,8:00\r\n"
                             "CME,1,1,0,8:30\r\n");
    for (int mode : {3, 5}) {
        SCOPED_TRACE(mode);
        gCompileSession.mode = mode;
        ForgetSideFileNotes();
        ResetHeadlessShell();
        ASSERT_EQ(LoadExchangeMap(), 1);
        ASSERT_EQ(gContractSpecs.count, 3);
        EXPECT_STREQ(ContractAt(0)->Exchange, "NYSE");
        EXPECT_EQ(ContractAt(0)->HasMoc, 0);
        EXPECT_EQ(ContractAt(0)->HasLoc, 1);
        EXPECT_EQ(ContractAt(0)->AllHours, 2);
        EXPECT_EQ(ContractAt(0)->FuturesOpenTime, 0);
        EXPECT_STREQ(ContractAt(1)->Exchange, "TSX");
        EXPECT_EQ(ContractAt(1)->HasMoc, 0);
        EXPECT_EQ(ContractAt(1)->AllHours, 0);
        EXPECT_EQ(ContractAt(1)->FuturesOpenTime, 93000);
        EXPECT_STREQ(ContractAt(2)->Exchange, "CME");
        EXPECT_EQ(ContractAt(2)->HasMoc, 1);
        EXPECT_EQ(ContractAt(2)->FuturesOpenTime, 83000);
        if (mode != 5) {
            EXPECT_EQ(gHeadless.messageCount, 0) << LastMessage();
            continue;
        }
        ExpectOneReport("ExchangeMap", path,
                        {"line 2 gives HasMoc yes, which is not a whole number; the value was not used",
                         "line 2 gives FuturesOpenTime 25:00, which is not a time of day; the value was not used",
                         "line 3 gives HasMoc 1.5, which is not a whole number; the value was not used",
                         "line 3 gives AllHours 1e3, which is not a whole number; the value was not used",
                         "line 4 opens a double quote that it does not close, so its fields cannot be told; the line "
                         "was not read"});
    }
}

/* A map saved with CR alone ending its lines reads as one with CR LF. */
TEST_F(SideFileTest, ExchangeMapLinesMayEndInCarriageReturns)
{
    Write("program\\ExchangeMap.csv", "Exchange,HasMoc\rNYSE,1\rTSX,0\r");
    ASSERT_EQ(LoadExchangeMap(), 1);
    ASSERT_EQ(gContractSpecs.count, 2);
    EXPECT_STREQ(ContractAt(0)->Exchange, "NYSE");
    EXPECT_EQ(ContractAt(0)->HasMoc, 1);
    EXPECT_STREQ(ContractAt(1)->Exchange, "TSX");
}

TEST_F(SideFileTest, ExchangeMapComesFromTheSlatewickFolderFirst)
{
    std::string sw = folder.File("sw");
    PlatCreateFolder(sw.c_str());
    Write("sw\\ExchangeMap.csv", "Exchange\r\nSW\r\n");
    Write("program\\ExchangeMap.csv", "Exchange\r\nPROGRAM\r\n");
    gSlatewickFolderSetting = sw.c_str();
    ASSERT_EQ(LoadExchangeMap(), 1);
    EXPECT_STREQ(ContractAt(0)->Exchange, "SW");
    /* An empty folder setting names no folder at all. */
    gSlatewickFolderSetting = "";
    gExchangeMapSetting[0] = 0;
    ASSERT_EQ(LoadExchangeMap(), 1);
    EXPECT_STREQ(ContractAt(0)->Exchange, "PROGRAM");
}

TEST_F(SideFileTest, MissingExchangeMapMattersOnlyForOrders)
{
    Write("program\\ExchangeMap.csv", "Exchange\r\nOLD\r\n");
    ASSERT_EQ(LoadExchangeMap(), 1);
    ASSERT_EQ(gContractSpecs.count, 1);
    PlatDeleteFile(folder.File("program\\ExchangeMap.csv").c_str());
    gExchangeMapSetting[0] = 0;
    EXPECT_EQ(LoadExchangeMap(), 1);
    EXPECT_EQ(gContractSpecs.count, 0);
    EXPECT_EQ(gHeadless.messageCount, 0);
    gCompileSession.mode = 5;
    EXPECT_EQ(LoadExchangeMap(), 0);
    EXPECT_NE(strstr(LastMessage(), "ExchangeMap.csv"), nullptr);
    /* A map the script names must be there, whatever the run. */
    gCompileSession.mode = 3;
    CopyString(gExchangeMapSetting, 260, folder.File("named.csv").c_str(), -1);
    EXPECT_EQ(LoadExchangeMap(), 0);
}

/* ---- symbol changes ---------------------------------------------------------------- */

TEST_F(SideFileTest, SymbolChangesReadEveryLineAndApplyUpToTheirDate)
{
    Write("program\\symchanges.csv",
          "Old,New,Date,Other\r\n"
          "FB,META,2022-06-09,x,ignored\r\n"
          "\"GOOG\",GOOGL,\r\n"
          "\r\n"
          "ABC,XYZ\r\n");
    ASSERT_EQ(LoadSymbolChanges(), 1);
    ASSERT_EQ(gSymbolChanges.count, 4);
    EXPECT_STREQ(Change(0)->oldSymbol, "Old");
    EXPECT_EQ(Change(0)->date, 0);
    EXPECT_STREQ(Change(1)->newSymbol, "META");
    EXPECT_EQ(Change(1)->date, 20220609);
    EXPECT_STREQ(Change(1)->secondText, "x");
    EXPECT_EQ(Change(2)->date, 0);
    EXPECT_STREQ(Change(3)->newSymbol, "XYZ");
    EXPECT_EQ(FindSymbolChange("fb", 20220101), Change(1));
    EXPECT_EQ(FindSymbolChange("FB", 20230101), nullptr);
    EXPECT_EQ(FindSymbolChange("goog", 20990101), Change(2));
    EXPECT_TRUE(MatchWildcard("*symchanges.csv", gSymChangeListSetting));
}

/* A date that does not read would make a change apply on every date, a
** quote left open would run the rows after it together, and a change to no
** symbol would name orders with nothing: each such line is named and not
** used, and the lines after it are read as they stand. */
TEST_F(SideFileTest, SymbolChangeLinesThatAreNoChangeAreNamedAndNotUsed)
{
    std::string path = Write("program\\symchanges.csv",
                             "Old,New,Date\r\n"
                             "FB,META,2024-13-45\r\n"
                             "\"BRK,B\",BRKB,2024-01-02\r\n"
                             "ABC,\"XYZ,2024-01-02\r\n"
                             "DEF,UVW,2024-01-03,ARCA\r\n"
                             "GHI,,2024-01-03\r\n"
                             ",,,\r\n");
    ASSERT_EQ(LoadSymbolChanges(), 1);
    ASSERT_EQ(gSymbolChanges.count, 3);
    EXPECT_STREQ(Change(0)->oldSymbol, "Old"); /* the heading, a row of no date */
    EXPECT_EQ(Change(0)->date, 0);
    EXPECT_STREQ(Change(1)->oldSymbol, "BRKB");
    EXPECT_EQ(Change(1)->date, 20240102);
    EXPECT_STREQ(Change(2)->oldSymbol, "DEF");
    EXPECT_STREQ(Change(2)->newSymbol, "UVW");
    EXPECT_EQ(Change(2)->date, 20240103);
    EXPECT_STREQ(Change(2)->secondText, "ARCA");
    EXPECT_EQ(FindSymbolChange("FB", 20240101), nullptr);
    EXPECT_EQ(FindSymbolChange("ABC", 20240101), nullptr);
    EXPECT_EQ(FindSymbolChange("GHI", 20240101), nullptr);
    ExpectOneReport("symbol change list", path,
                    {"line 2 gives the date 2024-13-45, which is not a date; the line was not used",
                     "line 4 opens a double quote that it does not close, so its fields cannot be told; the line was "
                     "not read",
                     "line 6 gives no new symbol; the line was not used"});
}

TEST_F(SideFileTest, WithoutASymbolChangeFileNoEarlierChangesApply)
{
    Write("program\\symchanges.csv", "FB,META\r\n");
    ASSERT_EQ(LoadSymbolChanges(), 1);
    ASSERT_EQ(gSymbolChanges.count, 1);
    PlatDeleteFile(folder.File("program\\symchanges.csv").c_str());
    gSymChangeListSetting[0] = 0;
    EXPECT_EQ(LoadSymbolChanges(), 1);
    EXPECT_EQ(gSymbolChanges.count, 0);
    EXPECT_EQ(FindSymbolChange("FB", 0), nullptr);
    /* A list the script names but that is missing fails and changes nothing. */
    Write("program\\symchanges.csv", "FB,META\r\n");
    ASSERT_EQ(LoadSymbolChanges(), 1);
    CopyString(gSymChangeListSetting, 260, folder.File("gone.csv").c_str(), -1);
    EXPECT_EQ(LoadSymbolChanges(), 0);
    EXPECT_EQ(gSymbolChanges.count, 1);
}

/* ---- cash and fee lists ------------------------------------------------------------- */

TEST_F(SideFileTest, CashListsAddAmountsOfTheSameDate)
{
    std::string path = Write("cash.csv", "Date,Amount\r\n2024-01-02, 1000\r\n2024-02-01,\"2,500.50\"\r\n2024-01-02,-100\r\n");
    ASSERT_EQ(LoadCashFeesList(record, path.c_str(), 0), 1);
    ASSERT_EQ(record->cashList.count, 2);
    EXPECT_EQ(Cash(0)->date, 20240102);
    EXPECT_DOUBLE_EQ(Cash(0)->amount, 900);
    EXPECT_DOUBLE_EQ(Cash(1)->amount, 2500.5);
    EXPECT_EQ(record->feesList.count, 0);
    path = Write("fees.csv", "2024-03-01,5\r\n\r\n2024-04-01,oops\r\n");
    ASSERT_EQ(LoadCashFeesList(record, path.c_str(), 1), 1);
    EXPECT_EQ(record->feesList.count, 1);
}

TEST_F(SideFileTest, CashListsRefuseBadRows)
{
    /* What the compile error adds after the path. */
    /* clang-format off */
    static const struct { const char *text, *why; } kBad[] = {
        {"2024-01-02,100\r\n2024-01-03,0\r\n", "line 2 gives an amount of 0"},
        {"2024-01-02,100\r\nlater,5\r\n",      "line 2 gives the date later, which is not a date"},
        {"Date,Amount\r\n2024-01-02\r\n",       "line 2 gives no amount"},
        {"2024-01-02,12abc\r\n",                 "line 1 gives the amount 12abc, which is not a number"},
        {"2024-01-02,nan\r\n",                   "line 1 gives the amount nan, which is not a finite number"},
        {"2024-01-02,1e400\r\n",                 "line 1 gives the amount 1e400, which is not a finite number"},
        {"2024-01-02,-inf\r\n",                  "line 1 gives the amount -inf, which is not a finite number"},
        {"2024-01-02,\"100\r\n2024-01-03,5\r\n", "line 1 opens a double quote that it does not close, so its "
                                                 "fields cannot be told; the line was not read"},
    };
    /* clang-format on */
    for (const auto &bad : kBad) {
        SCOPED_TRACE(bad.text);
        std::string path = Write("bad.csv", bad.text);
        char why[512] = "x";
        EXPECT_EQ(LoadCashFeesList(record, path.c_str(), 0, why, sizeof why), 0);
        EXPECT_EQ(std::string(why), path + ": " + bad.why);
    }
    /* The compile reports one error for a list it cannot read: its own. */
    EXPECT_EQ(LoadCashFeesList(record, folder.File("missing.csv").c_str(), 0), 0);
    EXPECT_EQ(gHeadless.messageCount, 0) << LastMessage();
    /* Relative names are found in the scripts folder. */
    Write("scripts\\rel.csv", "2024-01-02,7\r\n");
    EXPECT_EQ(LoadCashFeesList(record, "rel.csv", 0), 1);
    EXPECT_DOUBLE_EQ(Cash(0)->amount, 7);
}

} // namespace
