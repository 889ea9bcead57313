#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "foundation/file_helpers.h"
#include "foundation/random.h"
#include "engine/run_view_hooks.h"
#include "script/builtins/builtins.h"
#include "shell/run_view_setup.h"
#include "script/eval/eval_context.h"
#include "shell/headless/headless.h"
#include "views/scan_run.h"

namespace {

struct ScanRunTest : EngineTest {
    CellListWindow list{};
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_TRUE(InstallBuiltins());
        gScanTarget = &list;
    }
    void TearDown() override
    {
        FreeListWindow(&list);
        gScanTarget = nullptr;
        gRunViewHooks = {};
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

/* Straight to a file: no grouping commas, texts quoted.  A scan that finds
** nothing replaces the last scan's file with the heading alone. */
TEST_F(ScanRunTest, DirectFileReadsLikeTheSavedList)
{
    LoadTwoSymbols(this);
    std::string path = tmp.File("Output\\scan.csv");
    std::string settings = "Settings:\n  ScanNoWindow: True\n  SaveScanAs: " + path + "\n";
    ASSERT_EQ(0, Run(settings + kScan, 2));
    EXPECT_EQ(ReadTestFile(path), "Date,Symbol,Price,Tag\n2024-01-02,AAA,10000,\"x\"\n2024-01-03,AAA,20000,\"x\"\n"
                                  "2024-01-04,AAA,30000,\"x\"\n2024-01-04,BBB,7000,\"x\"\n2024-01-05,AAA,40000,\"x\"\n"
                                  "2024-01-05,BBB,8000,\"x\"\n");

    ASSERT_EQ(0, Run(settings + "Scan:\n  Filter: C > 1000\n  Price: C\n", 2));
    EXPECT_EQ(ReadTestFile(path), "Date,Symbol,Price\n");
}

/* A row and a heading far longer than any line buffer: the file holds every
** field whole, and the heading its line end, as the scan window would save
** them. */
TEST_F(ScanRunTest, DirectFileWritesLongRowsWhole)
{
    std::vector<int32_t> days = {20240102};
    LoadStore(days, {{"AAA", FlatBars(days, {10})}});
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    const std::string path = tmp.File("wide.csv");
    std::string scan = "Settings:\n  ScanNoWindow: True\n  SaveScanAs: " + path + "\nScan:\n";
    std::string heading = "Date,Symbol", row = "2024-01-02,AAA";
    for (int k = 0; k < 252; k++) {
        const std::string name = "AColumnWithAHeadingThisLong" + std::to_string(1000 + k);
        scan += "  " + name + ": 'twenty letters text " + std::to_string(k) + "'\n";
        heading += "," + name;
        row += ",\"twenty letters text " + std::to_string(k) + "\"";
    }
    ASSERT_GT(row.size(), 6000u);
    ASSERT_EQ(0, Run(scan, 2));
    EXPECT_EQ(heading + "\n" + row + "\n", ReadTestFile(path));
}

/* Each cell as its formula gives it: texts of every kind, and "n/a" for a
** value the formula does not have (the close of the bar before the first).
** The same in the scan list, in the file and without a scan list at all. */
TEST_F(ScanRunTest, CellsHoldTextsAndNoValueAsTheFormulaGivesThem)
{
    std::vector<int32_t> days = {20240102, 20240103};
    LoadStore(days, {{"AAA", FlatBars(days, {10, 20})}});
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    const std::string scan = "Scan:\n  Name: ?Symbol\n  Cut: Left('abcdef', 3)\n  Before: C[1] {#0}\n  Tag: 'abc'\n";
    ASSERT_EQ(0, Run(scan, 2));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"2024-01-02|AAA|AAA|abc|n/a|abc", "2024-01-03|AAA|AAA|abc|10|abc"}));
    EXPECT_EQ(LIST_FORMAT_TEXT, GetListCell(&list, 0, 3)->formatCode);

    const std::string path = tmp.File("Output\\cells.csv");
    const std::string file = "Date,Symbol,Name,Cut,Before,Tag\n2024-01-02,AAA,\"AAA\",\"abc\",n/a,\"abc\"\n"
                             "2024-01-03,AAA,\"AAA\",\"abc\",10,\"abc\"\n";
    ASSERT_EQ(0, Run("Settings:\n  ScanNoWindow: True\n  SaveScanAs: " + path + "\n" + scan, 2));
    EXPECT_EQ(ReadTestFile(path), file);

    /* No scan list (the program without windows): the file the scan window
    ** would save, or a message naming the setting when there is no file to
    ** write. */
    PlatDeleteFile(path.c_str());
    gScanTarget = nullptr;
    ASSERT_EQ(0, Run("Settings:\n  SaveScanAs: " + path + "\n" + scan, 2));
    EXPECT_EQ(ReadTestFile(path), "Date,Symbol,Name,Cut,Before,Tag\r\n2024-01-02,AAA,AAA,abc,n/a,abc\r\n"
                                  "2024-01-03,AAA,AAA,abc,10,abc\r\n");
    EXPECT_EQ(-1, Run(scan, 2));
    EXPECT_NE(std::string::npos, std::string(LastMessage()).find("SaveScanAs")) << LastMessage();
    /* Pictures of the rows are the scan window's to draw: the run says it
    ** draws none and writes its file all the same. */
    PlatDeleteFile(path.c_str());
    ASSERT_EQ(0, Run("Settings:\n  SaveScanAs: " + path + "\n  SaveChartsTo: " + tmp.File("charts") + "\n" + scan, 2));
    EXPECT_NE(std::string::npos, std::string(LastNotice()).find("This program draws no charts")) << LastNotice();
    EXPECT_TRUE(PlatFileExists(path.c_str()));
}

/* The Scan section's Sort orders the list, naming a column by its item name
** whatever its heading; rows it calls equal come by date, then symbol.  A
** scan without its window (the native program) saves its file in the same
** order, as the window saves it. */
TEST_F(ScanRunTest, TheSectionsSortOrdersTheList)
{
    LoadTwoSymbols(this);
    const std::vector<std::string> sorted = {"2024-01-02|AAA|7", "2024-01-03|AAA|7", "2024-01-04|AAA|7",
                                             "2024-01-04|BBB|7", "2024-01-05|AAA|7", "2024-01-05|BBB|7",
                                             "2024-01-03|BBB|6", "2024-01-02|BBB|5"};
    const std::string path = tmp.File("Output\\sorted.csv");
    const struct {
        const char *step, *heading;
    } cases[] = {{"Step: Min(C, 7)", "Step"}, {"Step: {#0 'Low Step'} Min(C, 7)", "Low Step"}};
    for (const auto &c : cases) {
        const char *step = c.step;
        const std::string scan = "Scan:\n  " + std::string(step) + "\n  Sort: -Step\n";
        gScanTarget = &list;
        ASSERT_EQ(0, Run(scan, 2)) << LastMessage();
        EXPECT_EQ(Rows(), sorted) << step;
        gScanTarget = nullptr;
        ASSERT_EQ(0, Run("Settings:\n  SaveScanAs: " + path + "\n" + scan, 2)) << LastMessage();
        std::string file = std::string("Date,Symbol,") + c.heading + "\r\n";
        for (std::string row : sorted) file += row.replace(10, 1, ",").replace(14, 1, ",") + "\r\n";
        EXPECT_EQ(ReadTestFile(path), file) << step;
    }
}

/* A test lists its TestScan rows after the close of its last date, or of
** every date with TestScanAllDates, each symbol seen with the strategy that
** holds it: AAA is bought at the open after its first close above 9 (100
** shares), BBB never. */
TEST_F(ScanRunTest, ATestListsItsTestScanRows)
{
    LoadTwoSymbols(this);
    InstallRunViewHooks();
    const std::string script = "Strategy: S\n  EntrySetup: C > 9\n  Quantity: 100\nTestScan:\n  Price: C\n  Held: Shares\n";
    const struct {
        int addScan;
        const char *settings;
        std::vector<std::string> rows;
    } cases[] = {
        {0, "", {}},
        {1, "", {"2024-01-05|AAA|40|100", "2024-01-05|BBB|8|0"}},
        {1, "Settings:\n  TestScanAllDates: True\n",
         {"2024-01-02|AAA|10|0", "2024-01-02|BBB|5|0", "2024-01-03|AAA|20|100", "2024-01-03|BBB|6|0",
          "2024-01-04|AAA|30|100", "2024-01-04|BBB|7|0", "2024-01-05|AAA|40|100", "2024-01-05|BBB|8|0"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.settings);
        FreeListWindow(&list);
        list = CellListWindow{};
        gSettings.AddScan = c.addScan;
        ASSERT_EQ(0, Run(c.settings + script)) << LastMessage();
        EXPECT_EQ(Rows(), c.rows);
        EXPECT_EQ(LIST_KIND_TEST_SCAN * c.addScan, list.listKind);
    }
}

/* Listing TestScan rows on every date changes nothing of the test: the
** context the date loop hands over is as it was after each scan, and the
** trades and statistics are those of the same test without the rows. */
EvalContext gScannedContext;
int gChangedContexts;

void ScanAndCompare(CellListWindow *list, const EvalContext *context)
{
    memcpy((void *)&gScannedContext, (const void *)context, sizeof gScannedContext);
    ScanTestDate(list, context);
    if (memcmp((const void *)&gScannedContext, (const void *)context, sizeof gScannedContext) != 0) gChangedContexts++;
}

TEST_F(ScanRunTest, TestScanRowsLeaveTheTestsResultsAlone)
{
    std::vector<int32_t> days = Weekdays(20240102, 20240329);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    for (int k = 0; k < 4; k++) {
        std::vector<double> closes;
        for (size_t i = 0; i < days.size(); i++) closes.push_back(10 + k + ((i * (k + 3)) % 7));
        symbols.push_back({std::string(1, (char)('A' + k)) + "X", FlatBars(days, closes)});
    }
    LoadStore(days, symbols);
    InstallRunViewHooks();
    const std::string script = "Settings:\n  TestScanAllDates: True\n  EndOfTestExits: True\n"
                               "Strategy: Low\n  EntrySetup: C < C[1]\n  SetupScore: -C\n  MaxPositions: 2\n"
                               "  Quantity: 25\n  QtyType: Percent\n  ExitRule: BarsHeld >= 2\n"
                               "Strategy: High\n  EntrySetup: C > C[2]\n  SetupScore: C\n  MaxPositions: 1\n"
                               "  Quantity: 25\n  QtyType: Percent\n  ExitRule: C < C[1]\n"
                               "TestScan:\n  Price: C\n  Held: Shares\n";
    std::vector<TradeRecord> trades[2];
    std::vector<StatCell> cells[2];
    for (int addScan : {0, 1}) {
        FreeListWindow(&list);
        list = CellListWindow{};
        gSettings.AddScan = addScan;
        gRunViewHooks.scanTestDate = ScanAndCompare;
        gChangedContexts = 0;
        ASSERT_EQ(0, Run(script)) << LastMessage();
        EXPECT_EQ(list.rowCount, addScan ? (int32_t)(4 * days.size()) : 0);
        EXPECT_EQ(gChangedContexts, 0);
        const TestRecord *test = LastTest();
        ASSERT_NE(test, nullptr);
        trades[addScan].assign(test->trades, test->trades + test->tradeCount);
        cells[addScan].assign(test->cells, test->cells + (int64_t)test->rowsFilled * test->strategyCount);
    }
    EXPECT_GT(trades[0].size(), 4u);
    ASSERT_EQ(trades[0].size(), trades[1].size());
    for (size_t t = 0; t < trades[0].size(); t++)
        EXPECT_EQ(0, memcmp(&trades[0][t], &trades[1][t], sizeof(TradeRecord))) << "trade " << t;
    ASSERT_EQ(cells[0].size(), cells[1].size());
    for (size_t c = 0; c < cells[0].size(); c++)
        EXPECT_EQ(0, memcmp(&cells[0][c], &cells[1][c], sizeof(StatCell))) << "cell " << c;
}

/* A universe of 24 symbols over four years of weekdays less three holidays a
** year: listings and delistings inside periods and at their ends (a week's,
** a quarter's), and days without trading, at periods' ends too. */
std::vector<std::pair<std::string, std::vector<DayBar>>> ListingUniverse(const std::vector<int32_t> &market)
{
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    uint32_t state = 77;
    const size_t n = market.size();
    for (size_t k = 0; k < 24; k++) {
        size_t first = k % 5 == 1 ? 30 + 37 * k : 0, end = k % 7 == 2 ? n - 60 - 41 * k : n;
        if (k == 9) end = std::find(market.begin(), market.end(), 20210630) - market.begin() + 1; /* a quarter's end */
        if (k == 16) end = std::find(market.begin(), market.end(), 20210917) - market.begin() + 1; /* a Friday */
        std::vector<DayBar> bars;
        double price = 20.0 + k;
        for (size_t i = first; i < end; i++) {
            state = state * 1103515245u + 12345u;
            double move = ((state >> 16) % 2001) / 1000.0 - 1.0; /* -1..1 */
            if (k % 6 == 4 && i % 11 == 4) continue;
            double open = price;
            price *= 1.0 + 0.03 * move;
            bars.push_back(DayBar{market[i], open, std::max(open, price), std::min(open, price), price});
        }
        symbols.push_back({"S" + std::to_string(100 + k), bars});
    }
    return symbols;
}

/* On that universe a scan of each bar size lists a symbol on a date exactly
** when the symbol has a bar of that date and its bar of the scan's size rose
** there (worked from the daily bars), and a test of a strategy of that bar
** size, in a daily run and in a run of its own bar size, sets up exactly the
** rows that have a bar to fill on: entering at the next open, a bar in the
** next period (daily: on the next market day, the symbol's last bar too,
** whatever follows the test's end); at this close, a later bar or the
** test's last date.  A longer bar of the data's first period, which may
** have begun before the data, sets up for the next open as any bar does; at
** its own close it sets up nothing, in either run. */
TEST_F(ScanRunTest, AScanOfAnyBarSizeListsWhatTheTestSetsUp)
{
    std::vector<int32_t> market;
    for (int32_t d : Weekdays(20190101, 20221230))
        if (d % 10000 != 101 && d % 10000 != 704 && d % 10000 != 1225) market.push_back(d);
    const auto symbols = ListingUniverse(market);
    LoadStore(market, symbols);
    std::map<std::string, std::vector<DayBar>> bars(symbols.begin(), symbols.end());
    const char *names[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
    for (int size = BAR_DAILY; size <= BAR_YEARLY; size++) {
        SCOPED_TRACE(names[size]);
        /* The market's periods, each with its days; a date's period. */
        std::vector<std::vector<int32_t>> periods;
        for (int32_t d : market)
            if (periods.empty() || PeriodOf(periods.back().back(), size) != PeriodOf(d, size))
                periods.push_back({d});
            else
                periods.back().push_back(d);
        auto periodOf = [&](int32_t d) {
            size_t p = 0;
            while (PeriodOf(periods[p].back(), size) != PeriodOf(d, size)) p++;
            return p;
        };
        std::set<std::pair<int32_t, std::string>> reference, nextOpen, thisClose;
        for (const auto &[name, days] : bars) {
            for (size_t i = 0; i < days.size(); i++) {
                size_t p = periodOf(days[i].date);
                /* The symbol's bar of a period is its last day there, dated
                ** on the period's last day, though it missed the days after
                ** (its data going on); where its data end inside the period
                ** it has none. */
                if (i + 1 < days.size() && periodOf(days[i + 1].date) == p) continue;
                if (i + 1 == days.size() && days[i].date != periods[p].back()) continue;
                const int32_t date = periods[p].back();
                size_t j = i;
                while (j > 0 && periodOf(days[j - 1].date) == p) j--;
                if (!(days[i].close > days[j].open)) continue;
                reference.insert({date, name});
                if (i + 1 < days.size() && p + 1 < periods.size() && periodOf(days[i + 1].date) == p + 1)
                    nextOpen.insert({date, name});
                if (size != BAR_DAILY && p == 0) continue; /* the data's first period: see above */
                if (i + 1 < days.size() || date == market.back()) thisClose.insert({date, name});
            }
        }
        const std::string bar = std::string("  BarSize: ") + names[size] + "\n";
        FreeListWindow(&list);
        list = CellListWindow{};
        ASSERT_EQ(0, Run("Settings:\n" + bar + "Scan:\n  Filter: C > O\n", 2)) << LastMessage();
        std::set<std::pair<int32_t, std::string>> rows;
        for (int32_t r = 0; r < list.rowCount; r++) rows.insert({GetListCell(&list, r, 0)->date, GetListCell(&list, r, 1)->text});
        EXPECT_EQ(rows, reference);
        for (const char *run : {"Daily", names[size]}) {
            for (bool atClose : {false, true}) {
                SCOPED_TRACE(std::string(run) + (atClose ? " run, this close" : " run, next open"));
                ASSERT_EQ(0, Run(std::string("Settings:\n  BarSize: ") + run + "\n  KeepTrades: Strategy, Skipped\n"
                                 "Strategy: S\n" + bar + "  EntrySetup: C > O\n  ExitRule: 1\n  Quantity: 1\n"
                                 "  QtyType: Shares\n" + (atClose ? "  EntryTime: ThisClose\n" : "")))
                    << LastMessage();
                const TestRecord *test = LastTest();
                ASSERT_NE(test, nullptr);
                std::set<std::pair<int32_t, std::string>> setups;
                for (int32_t t = 0; t < test->tradeCount; t++) {
                    size_t p = periodOf(test->trades[t].dateIn);
                    if (!atClose && p > 0) p--;
                    setups.insert({periods[p].back(), test->trades[t].symbol});
                }
                EXPECT_EQ(setups, atClose ? thisClose : nextOpen);
            }
        }
    }
    /* A scan whose EndDate falls inside a period lists what it lists on the
    ** data cut there, whose part-period is a bar of its own: its weekly to
    ** yearly items read that part, not the days after the date. */
    const int32_t end = 20220615; /* a Wednesday in June */
    auto scanTo = [&](bool cutData, int size) {
        std::vector<std::pair<std::string, std::vector<DayBar>>> cut = symbols;
        std::vector<int32_t> days = market;
        if (cutData) {
            days.erase(std::upper_bound(days.begin(), days.end(), end), days.end());
            for (auto &[name, bars] : cut)
                bars.erase(std::remove_if(bars.begin(), bars.end(), [&](const DayBar &b) { return b.date > end; }), bars.end());
        }
        LoadStore(days, cut);
        FreeListWindow(&list);
        list = CellListWindow{};
        EXPECT_EQ(0, Run(std::string("Settings:\n  BarSize: ") + names[size] + "\n  StartDate: 2022-01-03\n" +
                             (cutData ? "" : "  EndDate: 2022-06-15\n") + "Scan:\n  Filter: C > O\n  Last: C\n  First: O\n", 2))
            << LastMessage();
        return Rows();
    };
    for (int size = BAR_WEEKLY; size <= BAR_YEARLY; size++) {
        SCOPED_TRACE(std::string("to ") + std::to_string(end) + ", " + names[size]);
        const std::vector<std::string> ended = scanTo(false, size), cut = scanTo(true, size);
        EXPECT_FALSE(cut.empty());
        EXPECT_EQ(ended, cut);
    }
}

/* Workers seed their own generators; the script's seed stays the program's seed. */
TEST_F(ScanRunTest, WorkersLeaveTheProgramSeedAlone)
{
    LoadTwoSymbols(this);
    ASSERT_EQ(0, Run("Settings:\n  RandomSeed: 10\n" + std::string(kScan), 2));
    EXPECT_EQ(gRandomSeed.load(), 10u);
}

} // namespace
