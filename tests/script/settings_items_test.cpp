/* The settings keywords of a script, one value form at a time. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/keywords.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/settings_items.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

struct SettingsItems : ::testing::Test {
    TempFolder folder;
    int offset = -1;
    int length = -1;

    void SetUp() override
    {
        ResetSettingsToDefaults();
        ResetScriptSettings();
        gCompileSession = CompileSession{};
        gCompileSession.mode = 3;
        gCompileSession.pass = 1;
        CopyString(gDataFolder, sizeof gDataFolder, folder.File("Data").c_str(), -1);
        CopyString(gScriptsFolder, sizeof gScriptsFolder, folder.File("Scripts").c_str(), -1);
        CopyString(gOutputFolder, sizeof gOutputFolder, folder.File("Output").c_str(), -1);
    }
    void TearDown() override
    {
        gCompileSession = CompileSession{};
        SetRandomSeed(0);
    }
    int Apply(const char *keyword, const std::string &value)
    {
        int index = FindSettingsKeyword(keyword);
        EXPECT_GE(index, 0) << keyword;
        offset = length = -1;
        return ApplySettingsItem(index, value.c_str(), (int)value.size(), &offset, &length);
    }
};

TEST_F(SettingsItems, EveryKeywordHasItsRowInIndexOrder)
{
    /* An unknown index does nothing, and each keyword's own value is read. */
    EXPECT_EQ(ApplySettingsItem(SETTINGS_KEYWORD_COUNT, "x", 1, &offset, &length), 0);
    EXPECT_EQ(Apply("ScanNoHeader", "True"), 0);
    EXPECT_EQ(gScriptSettings.ScanNoHeader, 1);
    EXPECT_EQ(gScriptSettings.ScanNoDefCols, 0);
    EXPECT_EQ(Apply("OptNoDialog", "True"), 0);
    EXPECT_EQ(gOptNoDialog, 1);
    EXPECT_EQ(Apply("NumDays", "20"), 0) << "the older word for NumBars";
    EXPECT_EQ(gSettings.NumBars, 20);
}

TEST_F(SettingsItems, ValuesOfEachForm)
{
    static const std::string tooLong(300, 'a');
    const struct {
        const char *keyword;
        const char *value;
        int code;
    } cases[] = {
        /* true/false */
        {"AllowSameName", "True", 0},
        {"AllowSameName", "yes", 40},
        {"OptWalkForward", "false", 0},
        /* one word of a list */
        {"OrdersMode", "SlatewickStats", 0},
        {"OrdersMode", "Paper", 40},
        {"AccountType", "CashNextDay", 0},
        {"OptAnchor", "End", 0},
        {"SaveTradesType", "Compact", 0},
        /* numbers */
        {"AccountSize", "25000.5", 0},
        {"AccountSize", "-1", 40},
        {"AccountSize", "25000 dollars", 40},
        {"DaysPerYear", "-365", 0},
        {"OrdersMktAsLmtPct", "+1", 40},
        {"OptMutatePct", "12.9", 0},
        /* whole numbers above 0 */
        {"NumBars", "0", 40},
        {"NumBars", "-3", 40},
        {"OptIterations", "50 runs", 0},
        {"OptKeepBest", "none", 40},
        /* dates */
        {"StartDate", "Earliest", 0},
        {"EndDate", "2024-13-45", 42},
        /* paths */
        {"DataFile", "prices.txt", 37},
        {"DataFile", "PRICES.KVD", 0},
        {"ResultsFile", "run.csv", 38},
        {"ResultsFile", "run.kvr", 0},
        {"HolidayList", tooLong.c_str(), 9},
    };
    for (const auto &c : cases) EXPECT_EQ(Apply(c.keyword, c.value), c.code) << c.keyword << ": " << c.value;
    EXPECT_EQ(gScriptSettings.AllowSameName, 1) << "a bad value leaves the setting";
    EXPECT_EQ(gScriptSettings.OrdersMode, (int)ORDERS_SLATEWICK_STATS);
    EXPECT_EQ(gScriptSettings.AccountType, 2);
    EXPECT_EQ(gSettings.OptAnchor, 2);
    EXPECT_EQ(gSettings.AccountSize, 25000.5);
    EXPECT_EQ(gScriptSettings.DaysPerYear, -365.0);
    EXPECT_EQ(gSettings.OptMutatePct, 12);
    EXPECT_EQ(gSettings.OptIterations, 50);
    EXPECT_EQ(std::string(gSettings.DataFile), folder.File("Data") + "\\PRICES.KVD");
    EXPECT_EQ(std::string(gResultsFileName), folder.File("Output") + "\\run.kvr");
}

TEST_F(SettingsItems, InterestRatesAreStoredAsFractions)
{
    EXPECT_EQ(Apply("CashIntPct", "2.5"), 0);
    EXPECT_DOUBLE_EQ(gScriptSettings.CashIntPct, 0.025);
    EXPECT_EQ(Apply("MarginIntPct", "-1"), 0);
    EXPECT_DOUBLE_EQ(gScriptSettings.MarginIntPct, -0.01);
}

TEST_F(SettingsItems, DatesSetTheirUseFlagsOrTheDate)
{
    gSettings.FirstDate = 20200101;
    gSettings.UseEarliestDate = 0;
    EXPECT_EQ(Apply("StartDate", "earliest"), 0);
    EXPECT_EQ(gSettings.UseEarliestDate, 1);
    EXPECT_EQ(gSettings.FirstDate, 20200101) << "earliest leaves the date alone";
    EXPECT_EQ(Apply("EndDate", "2024-03-15 // the end"), 0);
    EXPECT_EQ(gSettings.LastDate, 20240315);
    EXPECT_EQ(gSettings.UseLatestDate, 0);
    gSettings.UseLatestDate = 1;
    EXPECT_EQ(Apply("EndDate", "someday"), 42);
    EXPECT_EQ(gSettings.LastDate, 0);
    EXPECT_EQ(gSettings.UseLatestDate, 1) << "the use-flag stays as it was";
}

TEST_F(SettingsItems, WordSetsClearTheirFlagsAndMarkTheBadWord)
{
    gSettings.KeepBench = 1;
    EXPECT_EQ(Apply("KeepTrades", "Strategy, Skipped"), 0);
    EXPECT_EQ(gSettings.KeepTrades, 1);
    EXPECT_EQ(gSettings.KeepBench, 0);
    EXPECT_EQ(gSettings.KeepSkipped, 1);
    EXPECT_EQ(Apply("KeepTrades", "None"), 0);
    EXPECT_EQ(gSettings.KeepTrades + gSettings.KeepBench + gSettings.KeepSkipped, 0);
    EXPECT_EQ(Apply("KeepTrades", "All"), 0);
    EXPECT_EQ(gSettings.KeepTrades + gSettings.KeepBench + gSettings.KeepSkipped, 3);
    EXPECT_EQ(Apply("KeepTrades", "None,None,None,None,Strategy,bogus"), 0) << "a sixth word is not read";
    EXPECT_EQ(gSettings.KeepTrades, 1);

    std::string value = "Report, Grpah ,Log";
    EXPECT_EQ(Apply("TestOutput", value), 40);
    EXPECT_EQ(value.substr(offset, length), "Grpah");
    EXPECT_EQ(gSettings.AddReport, 1) << "words before the bad one are set";
    EXPECT_EQ(gSettings.AddLog, 0);

    gSettings.ReportStats = 1;
    EXPECT_EQ(Apply("ReportContent", "Correl,Plots"), 0);
    EXPECT_EQ(gSettings.ReportCorrel + gSettings.ReportPlots, 2);
    EXPECT_EQ(gSettings.ReportStats, 0);
}

TEST_F(SettingsItems, TextsStopAtCommentsAndKeepTheirLimit)
{
    EXPECT_EQ(Apply("Currency", "EUR   // euro"), 0);
    EXPECT_STREQ(gScriptSettings.Currency, "EUR");
    EXPECT_EQ(length, 3);
    EXPECT_EQ(Apply("DateDisplay", std::string(40, 'd')), 0);
    EXPECT_EQ(strlen(gSettings.DateDisplayFormat), 31u);
    EXPECT_EQ(Apply("OrdersFile", "today_orders.csv"), 0);
    EXPECT_STREQ(gScriptSettings.OrdersFile, "today_orders.csv");
}

TEST_F(SettingsItems, SaveChartsToCountsInScansOnly)
{
    EXPECT_EQ(Apply("SaveChartsTo", "charts"), 0);
    EXPECT_STREQ(gScriptSettings.SaveChartsTo, "");
    gCompileSession.mode = 2;
    EXPECT_EQ(Apply("SaveChartsTo", "charts"), 0);
    EXPECT_EQ(std::string(gScriptSettings.SaveChartsTo), folder.File("Output") + "\\charts");
}

TEST_F(SettingsItems, SymbolsResolveInTheSecondPassOnly)
{
    ASSERT_TRUE(AllocMemory(&gStore.symbols, 2 * sizeof(SymbolRecord)));
    memset(gStore.symbols, 0, 2 * sizeof(SymbolRecord));
    CopyString(gStore.symbols[0].info.Symbol, sizeof gStore.symbols[0].info.Symbol, "IRX", -1);
    CopyString(gStore.symbols[1].info.Symbol, sizeof gStore.symbols[1].info.Symbol, "SPY", -1);
    gStore.symbolCount = 2;
    EXPECT_EQ(Apply("DateSym", "QQQ"), 0) << "pass 1 skips symbols";
    gCompileSession.pass = 2;
    EXPECT_EQ(Apply("DateSym", "QQQ"), 26);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(Apply("RiskFreeRateSym", "irx"), 0);
    EXPECT_EQ(gScriptSettings.RiskFreeRateSym, 1);
    EXPECT_EQ(Apply("DateSym", "SPY"), 0);
    EXPECT_EQ(gScriptSettings.DateSym, 2);
    FreeMemory(&gStore.symbols);
    gStore.symbolCount = 0;
}

TEST_F(SettingsItems, RandomSeedSeedsTheGenerator)
{
    EXPECT_EQ(Apply("RandomSeed", "42.7"), 0);
    EXPECT_EQ(gRandomSeed.load(), 42u);
    EXPECT_EQ(Apply("RandomSeed", "-1"), 40);
}

TEST_F(SettingsItems, RestoringPutsBackOnlyWhatWasSaved)
{
    RestoreRunSettings(); /* nothing saved: nothing changes */
    gSettings.OptIterations = 9;
    SaveRunSettings();
    gSettings.OptIterations = 1;
    gSettings.iMainW = 777; /* a window size changed during the run stays */
    RestoreRunSettings();
    EXPECT_EQ(gSettings.OptIterations, 9);
    EXPECT_EQ(gSettings.iMainW, 777);
    EXPECT_EQ(RunSettingsSaved(), 0);
}

/* Whatever value any keyword takes, putting the saved settings back leaves
** the program settings exactly as they were before the run. */
TEST_F(SettingsItems, RestoringUndoesEveryKeyword)
{
    static const char *const kValues[] = {
        "True", "False", "2", "2020-01-02", "latest", "earliest", "other.kvd", "other.kvr", "Weekly", "DMY",
        "Genetic", "End", "Years", "All", "Report, Graph, Log, Trades, Scan, Debug",
        "Correl, Graphs, Monthly, Plots, Script, Settings, Stats", "dd.MM.yyyy", "Mine", "None"};
    gCompileSession.mode = 2; /* SaveChartsTo counts in scans only */
    ProgramSettings before = gSettings;
    std::string reports = gReportsFolder;
    for (int index = 0; index < SETTINGS_KEYWORD_COUNT; index++) {
        SaveRunSettings();
        for (const char *value : kValues)
            ApplySettingsItem(index, value, (int)strlen(value), &offset, &length);
        RestoreRunSettings();
        EXPECT_EQ(memcmp(&gSettings, &before, sizeof before), 0) << kSettingsKeywordNames[index];
        EXPECT_EQ(std::string(gReportsFolder), reports) << kSettingsKeywordNames[index];
        gSettings = before;
    }
}

} // namespace
