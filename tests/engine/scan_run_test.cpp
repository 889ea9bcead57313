#include <string>
#include <vector>

#include "engine_fixture.h"
#include "foundation/file_helpers.h"
#include "foundation/random.h"
#include "views/scan_run.h"

namespace {

struct ScanRunTest : EngineTest {
    CellListWindow list{};
    void SetUp() override
    {
        EngineTest::SetUp();
        gScanTarget = &list;
    }
    void TearDown() override
    {
        FreeListWindow(&list);
        gScanTarget = nullptr;
        SetRandomSeed(0);
        EngineTest::TearDown();
    }
    /* Rows in list order, cells joined by '|'. */
    std::vector<std::string> Rows() const
    {
        std::vector<std::string> rows;
        for (int32_t r = 0; r < list.rowCount; r++) {
            std::string row;
            for (int32_t c = 0; c < list.columnCount; c++) row += std::string(c ? "|" : "") + GetListCell(&list, r, c)->text;
            rows.push_back(row);
        }
        return rows;
    }
};

const char kScan[] = "Scan:\n  Filter: C > 6\n  Price: C * 1000\n  Tag: \"x\"\n";

void LoadTwoSymbols(ScanRunTest *t)
{
    std::vector<int32_t> days = Weekdays(20240102, 20240105);
    t->LoadStore(days, {{"AAA", FlatBars(days, {10, 20, 30, 40})}, {"BBB", FlatBars(days, {5, 6, 7, 8})}});
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
}

/* Worked by hand: BBB passes the filter only from its close of 7 on. */
TEST_F(ScanRunTest, FilterPassesListRowsInDateOrder)
{
    LoadTwoSymbols(this);
    ASSERT_EQ(0, Run(kScan, 2));
    const std::vector<std::string> expected = {
        "2024-01-02|AAA|10,000|x",
        "2024-01-03|AAA|20,000|x",
        "2024-01-04|AAA|30,000|x",
        "2024-01-04|BBB|7,000|x",
        "2024-01-05|AAA|40,000|x",
        "2024-01-05|BBB|8,000|x",
    };
    EXPECT_EQ(Rows(), expected);
    EXPECT_STREQ(list.headings[2], "Price");
}

/* The same rows whatever the number of workers, once sorted by date and symbol. */
TEST_F(ScanRunTest, WorkerCountDoesNotChangeTheRows)
{
    std::vector<int32_t> days = Weekdays(20240102, 20240112);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    for (int k = 0; k < 300; k++) {
        std::vector<double> closes;
        for (size_t d = 0; d < days.size(); d++) closes.push_back((double)((k * 7 + d * 13) % 50));
        char name[16];
        snprintf(name, sizeof name, "S%03d", k);
        symbols.push_back({name, FlatBars(days, closes)});
    }
    LoadStore(days, symbols);
    std::vector<std::string> rows[2];
    const int threads[2] = {1, 32};
    for (int i = 0; i < 2; i++) {
        gSettings.CalcThreads = threads[i];
        list.sortPriorities[0] = 1;
        list.sortPriorities[1] = 2;
        ASSERT_EQ(0, Run("Scan:\n  Filter: C > 25\n  Price: C\n", 2));
        rows[i] = Rows();
    }
    EXPECT_GT(rows[0].size(), 1000u);
    EXPECT_EQ(rows[0], rows[1]);
}

/* Straight to a file: no grouping commas, texts quoted; nothing found leaves no file. */
TEST_F(ScanRunTest, DirectFileReadsLikeTheSavedList)
{
    LoadTwoSymbols(this);
    std::string path = tmp.File("Output\\scan.csv");
    std::string settings = "Settings:\n  ScanNoWindow: True\n  SaveScanAs: " + path + "\n";
    ASSERT_EQ(0, Run(settings + kScan, 2));
    char *text = nullptr;
    ASSERT_TRUE(LoadFile(path.c_str(), &text, nullptr));
    EXPECT_STREQ(text, "Date,Symbol,Price,Tag\n2024-01-02,AAA,10000,\"x\"\n2024-01-03,AAA,20000,\"x\"\n"
                       "2024-01-04,AAA,30000,\"x\"\n2024-01-04,BBB,7000,\"x\"\n2024-01-05,AAA,40000,\"x\"\n"
                       "2024-01-05,BBB,8000,\"x\"\n");
    FreeMemory(&text);

    std::string empty = tmp.File("Output\\empty.csv");
    ASSERT_EQ(0, Run("Settings:\n  ScanNoWindow: True\n  SaveScanAs: " + empty + "\nScan:\n  Filter: C > 1000\n  Price: C\n", 2));
    EXPECT_FALSE(PlatFileExists(empty.c_str()));
    EXPECT_EQ(std::string(LastNotice()), "The scan found nothing to write to " + empty);
}

/* Workers seed their own generators; the script's seed stays the program's seed. */
TEST_F(ScanRunTest, WorkersLeaveTheProgramSeedAlone)
{
    LoadTwoSymbols(this);
    ASSERT_EQ(0, Run("Settings:\n  RandomSeed: 10\n" + std::string(kScan), 2));
    EXPECT_EQ(gRandomSeed.load(), 10u);
}

} // namespace
