/* import_items_test.cpp -- Import section lines: blocks, CSV layout, lists,
** adjustment, Norgate options and the fundamentals field table. */
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/constituency.h"
#include "script/compiler/import_items.h"
#include "script/compiler/keywords.h"
#include "services/services.h"

namespace {

struct Line {
    const char *keyword;
    const char *value;
    int code;       /* expected answer */
    int offset = 0; /* span of the answer when code is not 0 and length is not -1 */
    int length = -1;
};

struct ImportTest : ::testing::Test {
    ConstituencyRecord *savedTable = nullptr;
    int32_t savedCount = 0;
    ConstituencyRecord table[2] = {{"S&P 500", "$SPX", "", 1}, {"Nasdaq 100", "$NDX", "", 2}};
    char savedScripts[sizeof gScriptsFolder];
    void SetUp() override
    {
        memcpy(savedScripts, gScriptsFolder, sizeof savedScripts);
        CopyString(gScriptsFolder, sizeof gScriptsFolder, "C:\\Kestovar\\Scripts", -1);
        savedTable = gConstituency;
        savedCount = gConstituencyCount;
        gConstituency = table;
        gConstituencyCount = 2;
        gSettings.DateInputFormat = 1;
        ResetImportState();
    }
    void TearDown() override
    {
        ResetImportState();
        gConstituency = savedTable;
        gConstituencyCount = savedCount;
        memcpy(gScriptsFolder, savedScripts, sizeof savedScripts);
    }
    /* Applies the lines in order; stops at the first answer other than 0. */
    void Apply(const std::vector<Line> &lines, const char *nameSpace = "")
    {
        for (const Line &l : lines) {
            SCOPED_TRACE(std::string(l.keyword) + ": " + l.value);
            int index = FindImportKeyword(l.keyword);
            ASSERT_GE(index, 0);
            int offset = -1, length = -1;
            int code = ApplyImportItem(index, l.value, (int)strlen(l.value), nameSpace, &offset, &length);
            ASSERT_EQ(code, l.code);
            if (code && l.length >= 0) {
                EXPECT_EQ(offset, l.offset);
                EXPECT_EQ(length, l.length);
            }
            if (code) return;
        }
    }
    ImportItem *Item(int i) { return (ImportItem *)gImportItems.items + i; }
};

TEST_F(ImportTest, LinesThatFailNameTheirErrors)
{
    /* clang-format off */
    static const std::vector<std::vector<Line>> kScripts = {
        {{"CSVFile", "prices.csv", 62}},
        {{"DataSource", "Bloomberg", 48}},
        {{"DataSource", "MetaStock", 0}, {"CSVFile", "a.csv", 58}},
        {{"DataSource", "Yahoo", 0}, {"DataPath", "C:\\Data", 59}},
        {{"DataSource", "Yahoo", 0}, {"CSVFields", "Date,Close", 58}},
        {{"DataSource", "CSV", 0}, {"CSVFields", "Date, Open,Date", 57, 11, 4}},
        {{"DataSource", "CSV", 0}, {"CSVFields", "Date,Opening", 56, 5, 7}},
        {{"DataSource", "CSV", 0}, {"Adjustment", "Capital", 60}},
        {{"DataSource", "Norgate", 0}, {"Adjustment", "Split", 49}},
        {{"DataSource", "Yahoo", 0}, {"Fundamentals", "mktcap", 61}},
        {{"DataSource", "Norgate", 0}, {"Fundamentals", "mktcap, (beta) nosuch", 52, 15, 6}},
        {{"DataSource", "Yahoo", 0}, {"Constituency", "$spx,$DAX", 51, 5, 4}},
        {{"DataSource", "Norgate", 0}, {"Classification", "SIC", 53}},
        {{"DataSource", "Norgate", 0}, {"CIIFamily", "$DJI", 54}},
        {{"DataSource", "Norgate", 0}, {"CIILevel", "Sector", 55}},
        {{"DataSource", "Yahoo", 0}, {"Update", "True", 61}},
        {{"DataSource", "Yahoo", 0}, {"KeepAdjusted", "Yes", 41}},
        {{"DataSource", "Yahoo", 0}, {"Padding", "Some", 50}},
        {{"DataSource", "CSV", 0}, {"CSVDateFmt", "YMD", 43}},
        {{"DataSource", "CSV", 0}, {"CSVNumFmt", "Roman", 44}},
        {{"DataSource", "CSV", 0}, {"CSVDelim", "Pipe", 45}},
        {{"DataSource", "Yahoo", 0}, {"StartDate", "someday", 42}},
        {{"DataSource", "Yahoo", 0}, {"SaveAs", "out.txt", 37}},
    };
    /* clang-format on */
    for (const auto &script : kScripts) {
        ResetImportState();
        Apply(script);
    }
    ResetImportState();
    std::string longPath = "x\\" + std::string(270, 'a') + ".csv";
    Apply({{"DataSource", "CSV", 0}, {"CSVFile", longPath.c_str(), 10}});
    /* A path short enough to read but too long once the scripts folder is put
    ** before it: "file path is too long", over the whole value. */
    std::string joined = "x\\" + std::string(240, 'a');
    for (const char *keyword : {"CSVFile", "DataPath", "SymInfoFile"}) {
        ResetImportState();
        Apply({{"DataSource", "CSV", 0}, {keyword, joined.c_str(), 9, 0, (int)joined.size()}});
        EXPECT_EQ(1, gImportItems.count) << keyword; /* the DataSource item alone */
    }
}

TEST_F(ImportTest, BlocksNumberTheirItemsAndKeepTheirLayout)
{
    Apply({{"DataSource", "csv // local files", 0},
           {"CSVFields", "Symbol, ,Date,Close,,Volume", 0},
           {"CSVNumFmt", "Comma", 0},
           {"CSVFile", "daily.csv {'Daily bars'}", 0},
           {"IncludeList", "watch.txt {//}", 0},
           {"DataSource", "Norgate", 0},
           {"Adjustment", "TotalReturn", 0},
           {"Fundamentals", "MKTCAP beta", 0},
           {"Constituency", "($SPX) $ndx", 0},
           {"StartDate", "earliest", 0},
           {"EndDate", "31/12/2020", 0},
           {"SaveAs", "stocks.KVD", 0}},
          "NS");
    ASSERT_EQ(gImportItems.count, 4);
    EXPECT_STREQ(Item(0)->value, "CSV");
    EXPECT_EQ(Item(0)->kind, IMPKW_DATA_SOURCE);
    EXPECT_EQ(Item(0)->adjustment, ADJUST_CAPITAL);
    const ImportItem *file = Item(1);
    EXPECT_STREQ(file->value, "daily.csv");
    EXPECT_STREQ(file->name, "NS.Daily bars");
    EXPECT_EQ(file->blockNumber, 1);
    EXPECT_EQ(file->dataSource, SOURCE_CSV);
    EXPECT_EQ(file->listFlag, 1);
    const int32_t wantFields[6] = {1, 0, 2, 7, 0, 8};
    EXPECT_EQ(memcmp(file->csvFields, wantFields, sizeof wantFields), 0);
    /* Decimal commas move the delimiter to the semicolon. */
    EXPECT_EQ(file->csvNumberFormat, 1);
    EXPECT_EQ(file->csvDelimiter, 1);
    EXPECT_EQ(file->csvDateOrder, 1); /* the input date order of the options */
    EXPECT_EQ(Item(2)->kind, IMPKW_INCLUDE_LIST);
    EXPECT_EQ(Item(2)->listFlag, 0);
    /* The second block's adjustment lands on its own DataSource item only. */
    EXPECT_EQ(Item(3)->blockNumber, 2);
    EXPECT_EQ(Item(3)->adjustment, ADJUST_TOTAL_RETURN);
    EXPECT_EQ(Item(0)->adjustment, ADJUST_CAPITAL);
    EXPECT_EQ(gImportState.fundamentalCount, 2);
    EXPECT_EQ(gFundamentalFields[FindFundamentalField("beta")].requested, 1);
    ASSERT_NE(gConstituencyRequested, nullptr);
    EXPECT_EQ(gConstituencyRequested[0], 1);
    EXPECT_EQ(gConstituencyRequested[1], 1);
    EXPECT_EQ(gImportState.StartDate, 0);
    EXPECT_EQ(gImportState.EndDate, 20201231);
    EXPECT_TRUE(MatchWildcard("*stocks.KVD", gImportState.SaveAs));

    /* A new compile starts from the empty state, marks cleared. */
    ResetImportState();
    EXPECT_EQ(gImportItems.count, 0);
    EXPECT_EQ(gImportState.CIIFamily, -1);
    EXPECT_EQ(gConstituencyRequested[0], 0);
    EXPECT_EQ(gFundamentalFields[FindFundamentalField("beta")].requested, 0);
}

TEST_F(ImportTest, MarksMadeBeforeAnUnknownNameStay)
{
    Apply({{"DataSource", "Norgate", 0}, {"Fundamentals", "beta, nosuch, mktcap", 52, 6, 6}});
    EXPECT_EQ(gFundamentalFields[FindFundamentalField("beta")].requested, 1);
    EXPECT_EQ(gFundamentalFields[FindFundamentalField("mktcap")].requested, 0);
    EXPECT_EQ(gImportState.fundamentalCount, 1);
}

TEST_F(ImportTest, FundamentalsTableHasItsGroupsAndUniqueNames)
{
    int titles = 0;
    std::set<std::string> names;
    int rows = 0;
    for (; gFundamentalFields[rows].group != 0; rows++) {
        const FundamentalField &f = gFundamentalFields[rows];
        EXPECT_TRUE(f.description[0]) << rows;
        if (!f.name[0]) {
            titles++;
            EXPECT_EQ(f.group, titles);
        } else {
            EXPECT_TRUE(names.insert(f.name).second) << f.name;
            EXPECT_EQ(f.group, titles);
        }
    }
    EXPECT_EQ(rows, FUNDAMENTAL_FIELD_ROWS);
    EXPECT_EQ(titles, 6);
    EXPECT_STREQ(gFundamentalFields[0].description, "Security Information");
    EXPECT_STREQ(gFundamentalFields[1].name, "basetype");
    EXPECT_STREQ(gFundamentalFields[rows - 1].name, "projltgrowthrate");
    EXPECT_EQ(FindFundamentalField("CLASSIFICATION?SCHEMENAME=TRBC&LEVEL=3"), 7);
    EXPECT_EQ(FindFundamentalField(""), -1);
}

} // namespace
