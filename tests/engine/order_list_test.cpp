/* Orders runs end to end over small hand-made data: the order files a run
** leaves, compared with files worked out by hand. */
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "engine/fills.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/path_macros.h"
#include "platform/platform.h"
#include "script/builtins/builtins.h"
#include "script/compiler/side_files.h"
#include "foundation/settings_table.h"
#include "shell/command_line.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

/* Flat bars at before until a 2-for-1 split on splitDay, at after from it. */
std::vector<DayBar> SplitBars(const std::vector<int32_t> &days, int32_t splitDay, double before, double after)
{
    std::vector<DayBar> bars;
    for (int32_t day : days) {
        const double c = day < splitDay ? before : after;
        bars.push_back(DayBar{day, c, c, c, c, 1000, day < splitDay ? 2.0 : 1.0});
    }
    return bars;
}

struct OrderListTest : OrdersTest {
    void SetUp() override
    {
        OrdersTest::SetUp();
        /* Mon 2024-01-08 .. Tue 2024-01-16; the order date is Wed 2024-01-17. */
        std::vector<int32_t> d = Weekdays(20240108, 20240116);
        LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14, 15, 16, 17})}, {"BBB", FlatBars(d, {50, 50, 50, 50, 50, 50, 50, 40})}});
    }
};

/* BBB's exit rule fires on the last close, so it is sold at the open and
** bought again by tomorrow's setup; AAA (bought on 9 January, sized on the
** close of 10 before it: 1% of the account) stays held. */
const char kScript[] = "\nStrategy: S1\n  EntrySetup: C > 0\n  Quantity: 100\n  QtyType: Shares\n"
                       "  ExitRule: C > 16\n  ExitTime: NextOpen\n";
const char kTextList[] = "*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
                         "\nS1 exit orders -- change as needed to match actual positions\n\n"
                         "    sell 100 BBB market on open  (ExitRule)\n"
                         "\nS1 entry orders\n\n"
                         "    buy 100 (5%) [$5,000] BBB market on open  \n";

/* Each mode writes its own files and shows them (a template CSV as a table);
** a file a mode does not write keeps what it held. */
TEST_F(OrderListTest, EveryModeWritesItsFiles)
{
    const struct {
        const char *mode;
        const char *text, *csv, *shown;
        const char *templateText = "Sym,Qty\nsym,qty\n";
    } cases[] = {
        {"Text", kTextList, "stale", "log:main_20240117_orders.txt;"},
        {"Rebalance", kTextList,
         "DES,AAA,STK,SMART/AMEX,,,,,,1\nDES,BBB,STK,SMART/AMEX,,,,,,5\nBBB,100\n",
         "log:main_20240117.csv;log:main_20240117_orders.txt;"},
        {"Template", kTextList, "Sym,Qty\nBBB,100\nBBB,100\n",
         "list:Order List:main_20240117.csv;log:main_20240117_orders.txt;"},
        /* A template saved with CR alone ends its lines as well. */
        {"Template", kTextList, "Sym,Qty\nBBB,100\nBBB,100\n",
         "list:Order List:main_20240117.csv;log:main_20240117_orders.txt;", "Sym,Qty\rsym,qty\r"},
        {"SlatewickStats", "stale", "stale", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mode);
        WriteTestFile(tmp.File("t.csv"), c.templateText);
        ASSERT_TRUE(WriteTestFile(tmp.File("Output\\Orders\\main_20240117_orders.txt"), "stale"));
        ASSERT_TRUE(WriteTestFile(tmp.File("Output\\Orders\\main_20240117.csv"), "stale"));
        std::string script = std::string("Settings:\n  OrdersMode: ") + c.mode + "\n  OrdersTemplate: " + tmp.File("t.csv") +
            kScript;
        ResetHeadlessShell();
        EXPECT_EQ(0, Run(script, 5)) << LastMessage();
        EXPECT_EQ(c.text, OrdersFile("main_20240117_orders.txt"));
        EXPECT_EQ(c.csv, OrdersFile("main_20240117.csv"));
        EXPECT_STREQ(c.shown, gHeadless.shownFiles);
    }
    ResetHeadlessShell();
}

/* A failure after some files were opened leaves every previous file as it was. */
TEST_F(OrderListTest, FailureKeepsThePreviousFiles)
{
    WriteTestFile(tmp.File("t.csv"), "Sym,Qty\nsym,qty\n");
    ASSERT_TRUE(WriteTestFile(tmp.File("Output\\Orders\\main_20240117_orders.txt"), "stale"));
    ASSERT_TRUE(WriteTestFile(tmp.File("Output\\Orders\\main_20240117.csv"), "stale"));
    std::string script = std::string("Settings:\n  OrdersMode: Template\n  OrdersTemplate: ") + tmp.File("t.csv") +
        "\nStrategy: S2\n  EntrySetup: 0\n  OrdersFile: nofolder\\s2.csv" + kScript;
    Run(script, 5);
    EXPECT_NE(std::string::npos, std::string(LastMessage()).find("Unable to create strategy orders file")) << LastMessage();
    EXPECT_EQ("stale", OrdersFile("main_20240117_orders.txt"));
    EXPECT_EQ("stale", OrdersFile("main_20240117.csv"));
}

/* Limit and stop entries are orders at their prices, never tested against a
** bar; a strategy whose order date is a holiday gets only its note. */
TEST_F(OrderListTest, EntryFormsAndHolidays)
{
    const char *noExits = "*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
                          "\nS1 exit orders -- change as needed to match actual positions\n\n"
                          "    (no exit orders)\n"
                          "\nS1 entry orders\n\n";
    const struct {
        const char *name, *extra, *entries;
    } cases[] = {
        /* AAA closed at 16, BBB at 50; 100 shares valued at the close. */
        {"limit", "  EntryLimit: C * 0.9\n",
         "    buy 100 (1.6%) [$1,600] AAA 14.40 limit    \n    buy 100 (5%) [$5,000] BBB 45.00 limit    \n"},
        /* AAA's rising opens went through its stops, so it is held and skipped. */
        {"stop", "  EntryStop: C * 1.1\n", "    buy 100 (5%) [$5,000] BBB 55.00 stop    \n"},
        {"limit at the next close", "  EntryLimit: C * 0.9\n  EntryTime: NextClose\n",
         "    buy 100 (1.6%) [$1,600] AAA 14.40 limit good after 20240117 15:45 EST  \n"
         "    buy 100 (5%) [$5,000] BBB 45.00 limit good after 20240117 15:45 EST  \n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(0, Run(std::string("Settings:\n  OrdersMode: Text\n") + kScript + c.extra, 5)) << LastMessage();
        EXPECT_EQ(std::string(noExits) + c.entries, OrdersFile("main_20240117_orders.txt"));
    }
    WriteTestFile(tmp.File("Scripts\\holidays.txt"), "1/17/2024\n");
    EXPECT_EQ(0, Run(std::string("Settings:\n  OrdersMode: Text\n") + kScript + "  HolidayList: holidays.txt\n", 5))
        << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
              "\nno orders for S1 because 1/17/24 is on its holiday list\n",
              OrdersFile("main_20240117_orders.txt"));
}

/* A stop at any point of the run leaves either the whole new list or the
** previous one, never a part. */
TEST_F(OrderListTest, AStopNeverLeavesAPartialList)
{
    std::string script = std::string("Settings:\n  OrdersMode: Text\n") + kScript;
    ResetHeadlessShell();
    ASSERT_EQ(0, Run(script, 5)) << LastMessage();
    int pumps = gHeadless.pumpCount;
    int kept = 0;
    for (int stopAt = 1; stopAt <= pumps; stopAt++) {
        SCOPED_TRACE(stopAt);
        ASSERT_TRUE(WriteTestFile(tmp.File("Output\\Orders\\main_20240117_orders.txt"), "stale"));
        ResetHeadlessShell();
        gHeadless.stopAtPump = stopAt;
        Run(script, 5);
        std::string text = OrdersFile("main_20240117_orders.txt");
        EXPECT_TRUE(text == "stale" || text == kTextList) << text;
        kept += text == "stale";
    }
    EXPECT_GT(kept, 0);
    ResetHeadlessShell();
}

/* With id and parent columns, an entry at the open carries its exits as
** child orders; every exit row names its one-cancels-all group. */
TEST_F(OrderListTest, ChildExitsFollowTheirEntry)
{
    WriteTestFile(tmp.File("t.csv"), "Act,Sym,Type,Qty,Lmt,Oca,Id,Parent\nact,sym,type,qty,lmt,oca,id,parent\n");
    std::string script = std::string("Settings:\n  OrdersMode: Template\n  OrdersTemplate: ") + tmp.File("t.csv") +
        kScript + "  ExitLimit: C * 1.2\n";
    ASSERT_EQ(0, Run(script, 5)) << LastMessage();
    /* AAA's limit is 1.2 x 16; the new BBB position's 1.2 x 50. */
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
              "\nS1 exit orders -- change as needed to match actual positions\n\n"
              "    sell 100 AAA 19.20 limit   \n"
              "    sell 100 BBB market on open  (ExitRule)\n"
              "\nS1 entry orders\n\n"
              "    buy 100 (5%) [$5,000] BBB market on open  \n"
              "    child: sell 100 BBB 60.00 limit   \n",
              OrdersFile("main_20240117_orders.txt"));
    EXPECT_EQ("Act,Sym,Type,Qty,Lmt,Oca,Id,Parent\n"
              "SELL,AAA,LMT,100,19.20,1,,\n"
              "SELL,BBB,MKT,100,,2,,\n"
              "BUY,BBB,MKT,100,,,3,\n"
              "SELL,BBB,LMT,100,60.00,3,,3\n",
              OrdersFile("main_20240117.csv"));
}

/* A strategy without a Side takes each entry's side from the sign of its
** quantity: AAA (last close 16) is shorted, BBB (50) bought. */
TEST_F(OrderListTest, ASideLeftToTheQuantityIsTheQuantitysSign)
{
    ASSERT_TRUE(InstallBuiltins());
    WriteTestFile(tmp.File("t.csv"), "Act,Sym,Qty\nact,sym,qty\n");
    ASSERT_EQ(0, Run(std::string("Settings:\n  OrdersMode: Template\n  OrdersTemplate: ") + tmp.File("t.csv") +
                         "\nStrategy: S1\n  EntrySetup: BarDate = 20240116\n  Quantity: IF(C < 20, -100, 100)\n"
                         "  QtyType: Shares\n",
                     5))
        << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
              "\nS1 exit orders -- change as needed to match actual positions\n\n"
              "    (no exit orders)\n"
              "\nS1 entry orders\n\n"
              "    short 100 (1.6%) [$1,600] AAA market on open  \n"
              "    buy 100 (5%) [$5,000] BBB market on open  \n",
              OrdersFile("main_20240117_orders.txt"));
    EXPECT_EQ("Act,Sym,Qty\nSELL,AAA,100\nBUY,BBB,100\n", OrdersFile("main_20240117.csv"));
}

/* The exits that follow an entry as child orders are the new position's
** alone.  BBB's last bar did not trade and the order date's bar made from
** it is dead, so the BBB entry ordered opens no position: no child follows
** it, and AAA's limit, held since 9 January, stays in the exit section. */
TEST_F(OrderListTest, ChildExitsAreOnlyThoseOfThePositionTheEntryOpens)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240116);
    std::vector<DayBar> bbb = FlatBars(d, std::vector<double>(d.size(), 50));
    bbb.back().volume = 0;
    LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14, 15, 16})}, {"BBB", bbb}});
    WriteTestFile(tmp.File("t.csv"), "Act,Sym,Type,Qty,Lmt,Oca,Id,Parent\nact,sym,type,qty,lmt,oca,id,parent\n");
    ASSERT_EQ(0, Run(std::string("Settings:\n  OrdersMode: Template\n  OrdersTemplate: ") + tmp.File("t.csv") +
                         "\nStrategy: S1\n  EntrySetup: V = 0 OR (BarDate = 20240108 AND C < 20)\n  Quantity: 100\n  QtyType: Shares\n"
                         "  ExitLimit: C * 1.2\n",
                     5))
        << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
              "\nS1 exit orders -- change as needed to match actual positions\n\n"
              "    sell 100 AAA 19.20 limit   \n"
              "\nS1 entry orders\n\n"
              "    buy 100 (5%) [$5,000] BBB market on open  \n",
              OrdersFile("main_20240117_orders.txt"));
    EXPECT_EQ("Act,Sym,Type,Qty,Lmt,Oca,Id,Parent\n"
              "SELL,AAA,LMT,100,19.20,1,,\n"
              "BUY,BBB,MKT,100,,,2,\n",
              OrdersFile("main_20240117.csv"));
}

/* The order date's bar is there only while the orders are written: after
** the run every bar array of every size, and the calendar's, is as it was,
** whether the order date moved the last week's or month's bar (Wednesday 10
** January) or began a new one (Friday 12 January, a new week; Wednesday 31
** January, a new month), and so are the bars after an EndDate, which the
** orders do not see (the week and month of Wednesday 10 January run on). */
TEST_F(OrdersTest, TheOrderDatesBarsAreGoneAfterTheRun)
{
    for (auto [last, end] : {std::pair{20240110, 0}, {20240112, 0}, {20240131, 0}, {20240215, 20240110}, {20240215, 20240131}}) {
        SCOPED_TRACE(end ? end : last);
        std::vector<int32_t> d = Weekdays(20231101, last);
        std::vector<double> closes;
        for (size_t k = 0; k < d.size(); k++) closes.push_back(10 + (double)(k % 7));
        LoadStore(d, {{"AAA", FlatBars(d, closes)}});
        std::vector<Bar> before[2][BAR_SIZE_COUNT];
        SymbolRecord *records[2] = {&gStore.symbols[0], &gStore.calendar};
        for (int k = 0; k < 2; k++)
            for (int size = 0; size < BAR_SIZE_COUNT; size++)
                before[k][size].assign(records[k]->bars[size], records[k]->bars[size] + records[k]->barCounts[size]);
        ASSERT_EQ(0, Run("Settings:\n  OrdersMode: Text\n" + (end ? "  EndDate: " + std::to_string(end) + "\n" : "") +
                             "Strategy: W\n  BarSize: Weekly\n  EntrySetup: C > 0\n"
                         "  Quantity: 1\n  QtyType: Shares\nStrategy: M\n  BarSize: Monthly\n  EntrySetup: C > 0\n"
                         "  Quantity: 1\n  QtyType: Shares\n",
                         5))
            << LastMessage();
        for (int k = 0; k < 2; k++) {
            EXPECT_EQ(last, records[k]->lastDate);
            for (int size = 0; size < BAR_SIZE_COUNT; size++) {
                ASSERT_EQ((int32_t)before[k][size].size(), records[k]->barCounts[size]) << k << " " << size;
                EXPECT_EQ(0, memcmp(before[k][size].data(), records[k]->bars[size], before[k][size].size() * sizeof(Bar)))
                    << k << " " << size;
            }
        }
    }
}

/* Dynamic sizing: the difference between the target and the 100 shares
** held becomes a reduction, an exit or an addition (AAA's last close of 16
** changes its target; BBB's stays at what is held). */
TEST_F(OrderListTest, DynamicSizingOrders)
{
    const struct {
        const char *quantity, *sizing, *entries;
    } cases[] = {
        {"100 - 60 * (C > 15.5)", "    sell 60 AAA market on open  (reduce position)\n", "    (no setups)\n"},
        {"100 * (C < 15.5)", "    sell 100 AAA market on open  (exit position)\n", "    (no setups)\n"},
        {"100 + 50 * (C > 15.5)", "", "    buy 50 (0.8%) [$800] AAA market on open  (add to position) \n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.quantity);
        ASSERT_EQ(0, Run(std::string("Settings:\n  OrdersMode: Text\nStrategy: D\n  DynamicSizing: True\n"
                                     "  QtyType: Shares\n  Quantity: ") +
                             c.quantity + "\n",
                         5))
            << LastMessage();
        EXPECT_EQ(std::string("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n\nD dynamic sizing orders\n\n") +
                      c.sizing + "\nD entry orders\n\n" + c.entries,
                  OrdersFile("main_20240117_orders.txt"));
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        EXPECT_EQ(0, Cell(test, test->rowsFilled - 1, 0)->positions);
    }
}

/* A dynamic-sizing position bought before a 2-for-1 split holds twice its
** shares after it.  $10,000 of AAA is 500 shares at 20 (bought on 3
** January), which the split of 10 January makes 1,000 at 10; at the close
** of 12.50 on 12 January the target is 800, so 200 are sold on the 15th
** (680 for a target of $4,000 that day, still a reduction), and all 1,000
** when the target is 0.  A position of 100 shares in round lots of 100 that
** a 1-for-4 split makes 25 (at 80) is less than a lot, but a target of 0
** sells its last 25 all the same; until then the 75 that would make a lot
** again are no order.  100 shares that a 3-for-2 split on 10 January makes
** 150 are cut to 100 that day (66.67 of the old shares kept, 100 of the new
** as counted, though the ratio's arithmetic leaves them a hair short), 50
** are bought back on the 11th, and a target of 1 sells those 50 and 99 of
** the 100, leaving the 1.  A short of 100 (200 since the split) wanting
** 250 shorts 50 more, and a long of 100 (200) wanting 300 buys 100 more.  67
** whole shares that the 3-for-2 split makes 100.5 are cut to 66.5 by a
** target of 67 (34 sold), and a target of 151 adds 84 whole shares, not
** 84.5: an addition is rounded to the quantity step as an entry is.  Lots
** of 60 and 7 (90 and 10.5 since the split) cut to 91 sell the latest
** whole, as 9.5 of its 10.5 would leave less than a share, and buy 1 back:
** the holding is what the sale left, 90, not the 91 the part asked for; a
** short the same, covering.  The
** orders say so, and the next day's test does it; the rebalancing basket
** weighs the symbol as what the next day's test holds after its open, each
** position by its side and its fraction of the account (what a reduction
** leaves of a lot, the part of its fraction it keeps). */
TEST_F(OrdersTest, DynamicSizingOrdersCountTheSharesASplitMade)
{
    std::vector<int32_t> d = Weekdays(20240102, 20240115);
    auto upTo = [&](size_t n, double ratio) {
        std::vector<int32_t> days(d.begin(), d.begin() + n);
        std::vector<DayBar> bars;
        for (int32_t day : days) {
            const double c = day < 20240110 ? 20 : day < 20240112 ? 20 / ratio : 25 / ratio;
            bars.push_back(DayBar{day, c, c, c, c, 1000, day < 20240110 ? ratio : 1.0});
        }
        LoadStore(days, {{"AAA", bars}});
    };
    const struct {
        const char *sizing, *quantity, *order;
        double ratio, sold, bought = 0;
    } cases[] = {
        {"  QtyType: Value\n", "10000", "    sell 200 AAA market on open  (reduce position)\n", 2, 200},
        {"  QtyType: Value\n", "10000 - 6000 * (BarDate = 20240112)", "    sell 680 AAA market on open  (reduce position)\n", 2, 680},
        {"  QtyType: Value\n", "10000 * (BarDate < 20240112)", "    sell 1000 AAA market on open  (exit position)\n", 2, 1000},
        {"  QtyType: Shares\n  QtyRound: 100\n", "100 * (BarDate < 20240112)", "    sell 25 AAA market on open  (exit position)\n", 0.25, 25},
        {"  QtyType: Shares\n  QtyRound: 1\n", "100 * (BarDate < 20240110) + 150 * (BarDate >= 20240110) * (BarDate < 20240112) + (BarDate >= 20240112)",
         "    sell 50 AAA market on open  (exit position)\n    sell 99 AAA market on open  (reduce position)\n", 1.5, 149},
        {"  QtyType: Shares\n", "-200 * (BarDate < 20240112) - 250 * (BarDate >= 20240112) + 100 * (BarDate < 20240109)", "", 2, 0, -50},
        {"  QtyType: Shares\n", "200 * (BarDate < 20240112) + 300 * (BarDate >= 20240112) - 100 * (BarDate < 20240109)", "", 2, 0, 100},
        {"  QtyType: Shares\n  QtyRound: 1\n", "67 + 84 * (BarDate >= 20240112)", "", 1.5, 0, 84},
        {"  QtyType: Shares\n  QtyRound: 1\n", "60 + 7 * (BarDate >= 20240103) + 33 * (BarDate >= 20240109) - 9 * (BarDate >= 20240112)",
         "    sell 10.5 AAA market on open  (exit position)\n", 1.5, 10.5, 1},
        {"  QtyType: Shares\n  QtyRound: 1\n", "-60 - 7 * (BarDate >= 20240103) - 33 * (BarDate >= 20240109) + 9 * (BarDate >= 20240112)",
         "    cover 10.5 AAA market on open  (exit position)\n", 1.5, 10.5, -1},
    };
    WriteTestFile(tmp.File("t.csv"), "Sym,Qty\nsym,qty\n");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.quantity);
        const std::string script = "Settings:\n  OrdersMode: Rebalance\n  OrdersTemplate: " + tmp.File("t.csv") +
            "\nStrategy: D\n  DynamicSizing: True\n" + c.sizing + "  Quantity: " + c.quantity + "\n";
        upTo(d.size() - 1, c.ratio);
        ASSERT_EQ(0, Run(script, 5)) << LastMessage();
        const std::string orders = OrdersFile("main_20240115_orders.txt");
        EXPECT_NE(std::string::npos, orders.find("\nD dynamic sizing orders\n\n" + std::string(c.order) + "\nD entry")) << orders;
        if (c.bought != 0) {
            char added[64];
            snprintf(added, sizeof added, "    %s %g (", c.bought < 0 ? "sell" : "buy", std::fabs(c.bought));
            EXPECT_NE(std::string::npos, orders.find(added)) << orders;
        }
        const std::string basket = OrdersFile("main_20240115.csv");
        const size_t row = basket.find("DES,AAA,STK,SMART/AMEX,,,,,,");
        ASSERT_NE(std::string::npos, row) << basket;
        const double weighed = atof(basket.c_str() + row + 28) / 100;
        upTo(d.size(), c.ratio);
        ASSERT_EQ(0, Run(script)) << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        double sold = 0, held = 0, bought = 0;
        for (int32_t t = 0; t < test->tradeCount; t++) {
            const TradeRecord &trade = test->trades[t];
            if (trade.dateIn == 20240115) bought += trade.side * trade.quantityIn;
            if (trade.dateOut == 20240115 && trade.timeOut == PHASE_OPEN)
                sold += trade.quantityOut;
            else if (trade.dateOut > 20240112)
                held += trade.side * trade.fraction;
        }
        EXPECT_DOUBLE_EQ(c.sold, sold);
        EXPECT_DOUBLE_EQ(c.bought, bought);
        EXPECT_NEAR(held, weighed, 1e-5 * std::fabs(held)) << basket; /* (six digits of a percent) */
    }
}

/* The stops and targets of a longer bar size held across a split are in the
** split terms of the order's day.  XYZ closes at 100 until its 2-for-1 split
** on Tuesday 12 March and at 50 from then on; each strategy holds the 10
** shares it bought in January (20 since the split) with a stop at 0.95 and a
** target at 1.2 times its last period's close of 100: 47.50 and 60.00 in
** today's terms, on the split day (the last week, month and quarter before
** it) and two weeks later (the last month and quarter before it). */
TEST_F(OrdersTest, LongerBarStopsAndTargetsAreInTheSplitTermsOfTheOrdersDay)
{
    const char script[] = "Settings:\n  OrdersMode: Text\n"
                          "Strategy: W\n  BarSize: Weekly\n  EntrySetup: BarDate = 20231013\n  Quantity: 10\n"
                          "  QtyType: Shares\n  ExitStop: C * 0.95\n  ExitLimit: C * 1.2\n"
                          "Strategy: M\n  BarSize: Monthly\n  EntrySetup: BarDate = 20231130\n  Quantity: 10\n"
                          "  QtyType: Shares\n  ExitStop: C * 0.95\n  ExitLimit: C * 1.2\n"
                          "Strategy: Q\n  BarSize: Quarterly\n  EntrySetup: BarDate = 20231229\n  Quantity: 10\n"
                          "  QtyType: Shares\n  ExitStop: C * 0.95\n  ExitLimit: C * 1.2\n";
    for (int32_t last : {20240312, 20240326}) {
        SCOPED_TRACE(last);
        std::vector<int32_t> d = Weekdays(20230703, last);
        LoadStore(d, {{"XYZ", SplitBars(d, 20240312, 100, 50)}});
        ASSERT_EQ(0, Run(script, 5)) << LastMessage();
        char name[40];
        snprintf(name, sizeof name, "main_%d_orders.txt", (int)NextDay(last));
        const std::string orders = OrdersFile(name);
        for (const char *strategy : {"W", "M", "Q"}) {
            const size_t at = orders.find(std::string("\n") + strategy + " exit orders");
            const std::string section = orders.substr(at, orders.find(" entry orders", at) - at);
            EXPECT_NE(std::string::npos, section.find("    sell 20 XYZ 60.00 limit good until ")) << section;
            EXPECT_NE(std::string::npos, section.find("    sell 20 XYZ 47.50 stop ")) << section;
        }
    }
}

/* A run whose EndDate is a day before the data end orders as the data cut
** at that day: XYZ closes at 20 up to Tuesday 9 January and splits 2-for-1
** on the 10th.  The 100 shares S bought on the 5th are 100, its target 1.1
** x 20; T's 100 shares for tomorrow cost $2,000 (2% of the account); D holds
** the 100 shares $2,000 bought and adds the 100 a target of $4,000 asks for. */
TEST_F(OrdersTest, AnEndDateOrdersAsTheDataCutAtIt)
{
    std::vector<int32_t> d = Weekdays(20240102, 20240112);
    LoadStore(d, {{"XYZ", SplitBars(d, 20240110, 20, 11)}});
    ASSERT_EQ(0, Run("Settings:\n  OrdersMode: Text\n  EndDate: 20240109\n"
                     "Strategy: S\n  EntrySetup: BarDate = 20240104\n  Quantity: 100\n  QtyType: Shares\n"
                     "  ExitLimit: C * 1.1\n"
                     "Strategy: T\n  EntrySetup: BarDate = 20240109\n  Quantity: 100\n  QtyType: Shares\n"
                     "Strategy: D\n  DynamicSizing: True\n  QtyType: Value\n"
                     "  Quantity: 2000 + 2000 * (BarDate = 20240109)\n",
                     5))
        << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/10/24 ***\n"
              "\nS exit orders -- change as needed to match actual positions\n\n"
              "    sell 100 XYZ 22.00 limit   \n"
              "\nS entry orders\n\n"
              "    (no setups)\n"
              "\nT exit orders -- change as needed to match actual positions\n\n"
              "    (no exit orders)\n"
              "\nT entry orders\n\n"
              "    buy 100 (2%) [$2,000] XYZ market on open  \n"
              "\nD dynamic sizing orders\n\n"
              "\nD entry orders\n\n"
              "    buy 100 (2%) [$2,000] XYZ market on open  (add to position) \n",
              OrdersFile("main_20240110_orders.txt"));
}

/* Tomorrow's orders read the strategy data of the last date, as the next
** day's test reads them at its open: the entries a test with one more day
** makes on that day are the orders.  Each script enters only on the day
** after 16 January, by a StratData item (the date of its statistics row) or
** a TestData item (the day of the month of the last completed bar). */
TEST_F(OrderListTest, OrdersReadTheStrategyDataOfTheLastDate)
{
    const char *const scripts[] = {
        "StratData:\n  Seen: S.Date\nStrategy: S1\n  EntrySetup: Seen = 20240116\n",
        "TestData:\n  Dom: Day\nStrategy: S1\n  EntrySetup: Dom = 16\n",
    };
    for (const char *body : scripts) {
        SCOPED_TRACE(body);
        std::string script = std::string("Settings:\n  OrdersMode: Text\n") + body + "  Quantity: 100\n  QtyType: Shares\n";
        ASSERT_EQ(0, Run(script, 5)) << LastMessage();
        /* "    buy 100 (..%) [$..] AAA market on open" gives "AAA 100;". */
        std::string orders, text = OrdersFile("main_20240117_orders.txt");
        for (size_t at = text.find("    buy "); at != std::string::npos; at = text.find("    buy ", at + 1)) {
            std::string line = text.substr(at + 8, text.find('\n', at) - at - 8), quantity = line.substr(0, line.find(' '));
            size_t symbol = line.find("] ") + 2;
            orders += line.substr(symbol, line.find(' ', symbol) - symbol) + " " + quantity + ";";
        }

        std::vector<int32_t> d = Weekdays(20240108, 20240117);
        LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14, 15, 16, 17})}, {"BBB", FlatBars(d, {50, 50, 50, 50, 50, 50, 50, 40})}});
        ASSERT_EQ(0, Run(script)) << LastMessage();
        std::string entries;
        const TestRecord *test = LastTest();
        for (int32_t t = 0; test && t < test->tradeCount; t++)
            if (test->trades[t].dateIn == 20240117)
                entries += std::string(test->trades[t].symbol) + " " + std::to_string((int)test->trades[t].quantityIn) + ";";
        EXPECT_EQ("AAA 100;BBB 100;", entries);
        EXPECT_EQ(entries, orders) << text;
        d.pop_back(); /* the data of the orders run again */
        LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14, 15, 16})}, {"BBB", FlatBars(d, {50, 50, 50, 50, 50, 50, 50})}});
    }
}

/* Under MaxEntries the entries are listed in the order the next day's test
** takes them: by EntryScore (AAA -16, CCC -20, BBB -40), not by SetupScore,
** so the first two listed are the two the test enters. */
TEST_F(OrderListTest, MaxEntriesOrdersFollowTheTestsOpeningOrder)
{
    const std::string script = "Settings:\n  OrdersMode: Text\nTestData:\n  Dom: Day\nStrategy: S1\n  EntrySetup: Dom = 16\n"
                               "  Quantity: 100\n  QtyType: Shares\n  MaxEntries: 2\n  SetupScore: C\n  EntryScore: -C\n";
    std::vector<int32_t> d = Weekdays(20240108, 20240117);
    auto market = [&](size_t n) {
        std::vector<int32_t> days(d.begin(), d.begin() + n);
        LoadStore(days, {{"AAA", FlatBars(days, {10, 11, 12, 13, 14, 15, 16, 17})},
                         {"BBB", FlatBars(days, {50, 50, 50, 50, 50, 50, 40, 40})},
                         {"CCC", FlatBars(days, {20, 20, 20, 20, 20, 20, 20, 20})}});
    };
    market(d.size() - 1);
    ASSERT_EQ(0, Run(script, 5)) << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
              "\nS1 exit orders -- change as needed to match actual positions\n\n"
              "    (no exit orders)\n"
              "\nS1 entry orders -- only the first 2 fills\n\n"
              "    buy 100 (1.6%) [$1,600] AAA market on open  \n"
              "    buy 100 (2%) [$2,000] CCC market on open  \n"
              "    buy 100 (4%) [$4,000] BBB market on open  \n",
              OrdersFile("main_20240117_orders.txt"));
    market(d.size());
    ASSERT_EQ(0, Run(script)) << LastMessage();
    std::string entered;
    const TestRecord *test = LastTest();
    for (int32_t t = 0; test && t < test->tradeCount; t++)
        if (test->trades[t].dateIn == 20240117) entered += std::string(test->trades[t].symbol) + ";";
    EXPECT_EQ("AAA;CCC;", entered);
}

/* AAA's exit rule fires on the last close (17) for 40 of its 100 shares:
** the next day's test sells them at the open and leaves the other 60 to the
** stop at 15.30 (0.9 x 17), which the open at 15 takes.  So the orders list
** the stop of the 60 shares too, in a group of its own (order 2, where the
** market exit is order 1), and nothing more for them at the open. */
TEST_F(OrderListTest, PartialExitAtTheOpenLeavesTheRestItsStop)
{
    const std::string script = "Settings:\n  OrdersMode: Template\n  OrdersTemplate: " + tmp.File("t.csv") +
        "\nStrategy: S1\n  EntrySetup: BarDate = 20240108 AND C < 20\n  Quantity: 100\n  QtyType: Shares\n"
        "  ExitRule: C > 16\n  ExitQty: 40\n  ExitStop: C * 0.9\n  ExitStopTime: Intraday\n";
    WriteTestFile(tmp.File("t.csv"), "Sym,Act,Qty,Type,Stp,Oca\nsym,act,qty,type,stp,oca\n");
    std::vector<int32_t> d = Weekdays(20240108, 20240117);
    auto market = [&](size_t n) {
        std::vector<int32_t> days(d.begin(), d.begin() + n);
        LoadStore(days, {{"AAA", FlatBars(days, {10, 11, 12, 13, 14, 15, 17, 15})}});
    };
    market(d.size() - 1);
    ASSERT_EQ(0, Run(script, 5)) << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
              "\nS1 exit orders -- change as needed to match actual positions\n\n"
              "    sell 40 AAA market on open  (ExitRule)\n"
              "    sell 60 AAA 15.30 stop   \n"
              "\nS1 entry orders\n\n"
              "    (no setups)\n",
              OrdersFile("main_20240117_orders.txt"));
    EXPECT_EQ("Sym,Act,Qty,Type,Stp,Oca\nAAA,SELL,40,MKT,,1\nAAA,SELL,60,STP,15.30,2\n", OrdersFile("main_20240117.csv"));

    market(d.size());
    ASSERT_EQ(0, Run(script)) << LastMessage();
    std::string exits;
    const TestRecord *test = LastTest();
    for (int32_t t = 0; test && t < test->tradeCount; t++)
        if (test->trades[t].dateOut == 20240117)
            exits += std::to_string((int)test->trades[t].quantityOut) + " by " + std::to_string(test->trades[t].reason) + ";";
    EXPECT_EQ("40 by 1;60 by 3;", exits);
}

/* A weekly strategy buys AAA at the open of Monday 15 January (its week
** before closed at 12 > 11) with a stop at 11 for the next open: the test
** checks it at the open of a week, against the close of the week before.
** AAA closes at 9 from Tuesday.  The orders of Tuesday evening are inside
** the week: the next day's test sells nothing, so they hold no exit at the
** open.  The orders of Friday evening are at the week's end: Monday's test
** sells at the open, and the orders say so. */
TEST_F(OrderListTest, AWeeklyStopAtTheNextOpenIsOrderedOnlyAtTheWeeksEnd)
{
    const std::string script = "Settings:\n  OrdersMode: Text\nStrategy: W\n  BarSize: Weekly\n  EntrySetup: C > 11\n"
                               "  Quantity: 100\n  QtyType: Shares\n  ExitStop: 11\n  ExitStopTime: NextOpen\n";
    std::vector<int32_t> d = Weekdays(20240101, 20240122);
    const std::vector<double> closes = {10, 10, 10, 10, 10, 12, 12, 12, 12, 12, 12, 9, 9, 9, 9, 9};
    const struct {
        int32_t last, next;
        bool sold;
    } cases[] = {{20240116, 20240117, false}, {20240119, 20240122, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.last);
        auto market = [&](int32_t through) {
            std::vector<int32_t> days;
            for (int32_t day : d)
                if (day <= through) days.push_back(day);
            LoadStore(days, {{"AAA", FlatBars(days, closes)}});
        };
        market(c.last);
        ASSERT_EQ(0, Run(script, 5)) << LastMessage();
        std::string text = OrdersFile(("main_" + std::to_string(c.next) + "_orders.txt").c_str());
        EXPECT_EQ(c.sold, text.find("    sell 100 AAA market on open (ExitStop)\n") != std::string::npos) << text;
        EXPECT_EQ(!c.sold, text.find("    (no exit orders)\n") != std::string::npos) << text;
        market(c.next);
        const TradeRecord *trades = TradesOfRun(1, script);
        ASSERT_NE(nullptr, trades);
        EXPECT_EQ(20240115, trades[0].dateIn);
        EXPECT_EQ(c.next, trades[0].dateOut);
        EXPECT_EQ(c.sold ? EXIT_STOP : EXIT_END_OF_TEST, trades[0].reason);
    }
}

/* Two continuous futures series move to the June contract on their last bar
** (16 January, from the start of the day).  The next day's test rolls the
** two GC contracts held at its open and charges the RollCost, so the orders
** carry the roll, and GC's exit orders name the March contract held until
** then; SI, first set up on the 16th, is entered after the roll, in June,
** and so is its child exit. */
TEST_F(OrderListTest, OrdersCarryTheRollOfTheNextDaysTest)
{
    WriteTestFile(tmp.File("t.csv"), "Act,Sym,Type,Qty,Lmt,Oca,Id,Parent\nact,sym,type,qty,lmt,oca,id,parent\n");
    const std::string script = "Settings:\n  OrdersMode: Template\n  OrdersTemplate: " + tmp.File("t.csv") +
        "\nStrategy: S1\n  EntrySetup: C > 5\n  Quantity: 2\n  QtyType: Shares\n  ExitLimit: C * 1.2\n"
        "  RollCost: 12.5\n";
    std::vector<int32_t> d = Weekdays(20240108, 20240117);
    auto market = [&](size_t n) {
        std::vector<int32_t> days(d.begin(), d.begin() + n);
        LoadStore(days, {{"GC_C", FlatBars(days, std::vector<double>(n, 10))},
                         {"SI_C", FlatBars({days.begin() + 5, days.end()}, {1, 20, 20})}});
        const EventItem events[] = {{20231215, 0, EVENT_CONTRACT, 0, 20240315},
                                    {20231215, 0, EVENT_CONTRACT_SECOND, 0, 202403},
                                    {20240116, 0, EVENT_CONTRACT, 0, 20240621},
                                    {20240116, 0, EVENT_CONTRACT_SECOND, 0, 202406}};
        for (int k = 0; k < 2; k++) {
            SymbolRecord *symbol = &gStore.symbols[k];
            symbol->securityType = SECURITY_FUTURES;
            ASSERT_TRUE(AllocMemory(&symbol->events, sizeof events));
            memcpy(symbol->events, events, sizeof events);
            symbol->eventCount = 4;
        }
    };
    market(d.size() - 1);
    ASSERT_EQ(0, Run(script, 5)) << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
              "\nS1 roll orders -- change as needed to match actual positions\n\n"
              "    S1 roll 2 contracts from GC_2024H to GC_2024M\n"
              "\nS1 exit orders -- change as needed to match actual positions\n\n"
              "    sell 2 GC_2024H 12.00 limit   \n"
              "\nS1 entry orders\n\n"
              "    buy 2 (0.04%) [$40] SI_2024M market on open  \n"
              "    child: sell 2 SI_2024M 24.00 limit   \n",
              OrdersFile("main_20240117_orders.txt"));
    market(d.size());
    const TradeRecord *trades = TradesOfRun(2, script);
    ASSERT_NE(nullptr, trades);
    EXPECT_STREQ("GC_C", trades[0].symbol);
    EXPECT_DOUBLE_EQ(12.5, trades[0].rollCosts);
    EXPECT_EQ(20240117, trades[1].dateIn);
    EXPECT_DOUBLE_EQ(0, trades[1].rollCosts);
}

/* "-orders" in a batch runs the script in the orders mode and leaves its list. */
TEST_F(OrderListTest, BatchOrdersRun)
{
    Write("o.kvs", std::string("Settings:\n  OrdersMode: Text\n") + kScript);
    gRun.unattended = 1;
    EXPECT_EQ(0, RunBatchCommandLine("-orders o.kvs"));
    EXPECT_EQ(kTextList, OrdersFile("o_20240117_orders.txt"));
}

/* The companion tool's modes against its trades file, where CCC is held only
** in the account and BBB only in the simulation (the account closed it on the
** order date).  Without sync every simulated position gets its exits; with
** sync CCC is closed in the account, AAA (held by both) gets its usual exit
** and BBB is entered again with its exit as a child order.  Limits are 1.2 x
** the last closes 16 and 25; BBB's 100 shares bought at 50 (5% of the
** account) are 200 at 25 since its 2-for-1 split on 12 January, the 200
** the account sold (its QtyOut is in the terms of the day it was sold). */
TEST_F(OrderListTest, CompanionModesReconcileWithTheAccount)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240116);
    LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14, 15, 16})},
                  {"BBB", SplitBars(d, 20240112, 50, 25)},
                  {"CCC", FlatBars(d, {20, 20, 20, 20, 20, 20, 20})}});
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTrades.csv"),
                  "Symbol,Strategy,Side,Shares,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut\n"
                  "AAA,S1,Long,100,20240109,100,11,0,,,,\n"
                  "BBB,S1,Long,100,20240110,100,50,0,20240117,200,25,0\n"
                  "CCC,S1,Long,30,20240117,30,20,0,,,,\n");
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTemplate.csv"),
                  "Act,Sym,Type,Qty,Lmt,Oca,Id,Parent\nact,sym,type,qty,lmt,oca,id,parent\n");
    const struct {
        const char *mode, *text, *csv;
    } cases[] = {
        {"Slatewick",
         "    sell 100 AAA 19.20 limit   \n"
         "    sell 200 BBB 30.00 limit   \n"
         "\nS1 entry orders\n\n    (no entry orders)\n",
         "SELL,AAA,LMT,100,19.20,1,,\n"
         "SELL,BBB,LMT,200,30.00,2,,\n"},
        {"SlatewickSync",
         "    sell 30 CCC market on open  (SlatewickSync)\n"
         "    sell 100 AAA 19.20 limit   \n"
         "\nS1 entry orders for SlatewickSync missing positions\n\n"
         "    buy 200 (5%) [$5,000] BBB market on open  \n"
         "    child: sell 200 BBB 30.00 limit   \n"
         "\nS1 entry orders\n\n    (no entry orders)\n",
         "SELL,CCC,MKT,30,,1,,\n"
         "SELL,AAA,LMT,100,19.20,2,,\n"
         "BUY,BBB,MKT,200,,,3,\n"
         "SELL,BBB,LMT,200,30.00,3,,3\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mode);
        ResetHeadlessShell();
        ASSERT_EQ(0, Run(std::string("Settings:\n  OrdersMode: ") + c.mode +
                             "\nStrategy: S1\n  EntrySetup: C != 20\n  Quantity: 100\n  QtyType: Shares\n"
                             "  ExitRule: C > 100\n  ExitTime: NextOpen\n  ExitLimit: C * 1.2\n",
                         5))
            << LastMessage();
        EXPECT_EQ(std::string("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n\nS1 exit orders\n\n") + c.text,
                  OrdersFile("main_20240117_orders.txt"));
        EXPECT_EQ(std::string("Act,Sym,Type,Qty,Lmt,Oca,Id,Parent\n") + c.csv, OrdersFile("main_20240117_orders.csv"));
        EXPECT_STREQ("list:Order List:main_20240117_orders.csv;log:main_20240117_orders.txt;", gHeadless.shownFiles);
    }
    ResetHeadlessShell();
}

/* A net liquidation amount becomes the allocation that sizes tomorrow's
** entries (S.Alloc / 1000 shares of BBB at 50).  The simulated allocation is
** the account plus the open AAA gain, 100 x (16 - 11) = 500; without
** mark-to-market that gain is taken off the amount.  A weekly entry at the
** close of its week's last day, which the test sizes on the week before's
** account, is sized on the amount too: 10% of 200,000 at 50. */
TEST_F(OrderListTest, NetLiquidationSetsTheAllocation)
{
    static const char daily[] = "Strategy: S1\n  EntrySetup: C > 0\n  Quantity: S.Alloc / 1000\n  QtyType: Shares\n"
                                "  ExitRule: C > 16\n  ExitTime: NextOpen\n";
    const struct {
        const char *amount, *markToMarket, *entry, *log;
        const char *strategy = daily, *settings = "";
    } cases[] = {
        {"", "True", "    buy 100 (4.97512%) [$5,000] BBB market on open  \n", ""},
        {"200000 USD", "True", "    buy 200 (5%) [$10,000] BBB market on open  \n",
         ">>> OrdersNetLiq changes allocation to $200,000.00 for strategy 'S1' <<<\n"},
        {"200500", "False", "    buy 200 (5%) [$10,000] BBB market on open  \n",
         ">>> OrdersNetLiq changes allocation to $200,000.00 (adjusted for $500.00 M2M) for strategy 'S1' <<<\n"},
        {"200000", "True", "    buy 400 (10%) [$20,000] BBB market near close  \n",
         ">>> OrdersNetLiq changes allocation to $200,000.00 for strategy 'W' <<<\n",
         "Strategy: W\n  BarSize: Weekly\n  EntrySetup: ?Symbol = \"BBB\" AND BarDate = 20240112\n"
         "  EntryTime: ThisClose\n  QtyType: Percent\n  Quantity: 10\n",
         "  OrdersLiveData: True\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.amount);
        WriteTestFile(tmp.File("netliq.txt"), c.amount);
        if (c.settings[0]) {
            /* Live data at the close of Friday 12 January, a week after the first. */
            std::vector<int32_t> d = Weekdays(20240102, 20240112);
            LoadStore(d, {{"AAA", FlatBars(d, std::vector<double>(d.size(), 10))}, {"BBB", FlatBars(d, std::vector<double>(d.size(), 50))}});
        }
        ResetHeadlessShell();
        gSettings.AddLog = 1;
        std::string script = std::string("Settings:\n  OrdersMode: Text\n") + c.settings + "  OrdersNetLiq: " +
            (c.amount[0] ? tmp.File("netliq.txt") : std::string("")) + "\n" + c.strategy + "  MarkToMarket: " +
            c.markToMarket + "\n";
        ASSERT_EQ(0, Run(script, 5)) << LastMessage();
        gSettings.AddLog = 0;
        std::string text = OrdersFile(c.settings[0] ? "main_20240112_orders.txt" : "main_20240117_orders.txt");
        EXPECT_NE(std::string::npos, text.find(c.entry)) << text;
        /* The run's own test log, the highest numbered one. */
        std::string log;
        for (int n = 1; n < 10; n++) {
            char name[32];
            snprintf(name, sizeof name, "\\TEST_%.4d.TXT", n);
            if (PlatFileExists((gLogsFolder + std::string(name)).c_str())) log = ReadTestFile(gLogsFolder + std::string(name));
        }
        std::string line;
        size_t at = log.find(">>> OrdersNetLiq");
        if (at != std::string::npos) line = log.substr(at, log.find("<<<", at) + 3 - at) + "\n";
        EXPECT_EQ(c.log, line) << log;
    }
    ResetHeadlessShell();
}

} // namespace

/* Each way an orders run can fail to write its orders fails the batch, with
** one report that names the cause: 8, or 3 for a file that cannot be read. */
TEST_F(OrderListTest, AnOrdersRunThatWritesNoOrdersFails)
{
    WriteTestFile(tmp.File("t.csv"), "Sym,Qty\nsym,qty\n");
    WriteTestFile(tmp.File("norows.csv"), "Sym,Qty\n");
    WriteTestFile(tmp.File("eur.txt"), "5000 EUR\n");
    WriteTestFile(tmp.File("negative.txt"), "-5000\n");
    const std::string missing = tmp.File("none.csv"), noNetLiq = tmp.File("none.txt");
    const struct {
        const char *mode;
        std::string settings, strategy;
        int code;
        std::string message;
    } cases[] = {
        {"Template", "OrdersTemplate: " + tmp.File("norows.csv"), "", 8,
         "The two required rows were not found in OrdersTemplate file " + tmp.File("norows.csv")},
        {"Template", "", "", 8, "An OrdersTemplate path must be provided in Settings or in every Strategy"},
        {"Template", "OrdersTemplate: " + missing, "", 3, "Unable to read OrdersTemplate file " + missing},
        {"Text", "OrdersNetLiq: " + noNetLiq, "", 3, "Unable to read OrdersNetLiq file " + noNetLiq},
        {"Text", "Currency: USD\n  OrdersFreeCash: " + tmp.File("eur.txt"), "", 8,
         "The OrdersFreeCash base currency is 'EUR' but the script specifies 'USD'."},
        {"Template", "OrdersTemplate: " + tmp.File("t.csv"), "  OrdersTemplate: " + tmp.File("t.csv") + "\n", 8,
         "Strategy S1 has an OrdersTemplate but no OrdersFile"},
        {"Text", "OrdersNetLiq: " + tmp.File("negative.txt"), "", 8,
         "The OrdersNetLiq file " + tmp.File("negative.txt") + " gives the amount -5000, which is below zero."},
        /* A companion folder that is not there is not made: its trades file cannot be read. */
        {"Slatewick", "SlatewickFolder: " + tmp.File("Gone"), "", 3,
         "Unable to open " + tmp.File("Gone\\SlatewickTrades.csv") + " for reading"},
    };
    gRun.unattended = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        Write("o.kvs", std::string("Settings:\n  OrdersMode: ") + c.mode + "\n  " + c.settings + kScript + c.strategy);
        EXPECT_EQ(c.code, RunBatchCommandLine("-orders o.kvs"));
        const std::string log = ReadTestFile(tmp.File("errorlog.txt"));
        size_t entries = 0;
        for (size_t at = log.find(">>> "); at != std::string::npos; at = log.find(">>> ", at + 1)) entries++;
        EXPECT_EQ(1u, entries) << log;
        EXPECT_NE(std::string::npos, log.find(c.message)) << log;
        EXPECT_FALSE(PlatFileExists(tmp.File("Output\\Orders\\o_20240117.csv").c_str()));
        EXPECT_FALSE(PlatFileExists(tmp.File("Output\\Orders\\o_20240117_orders.txt").c_str()));
    }
    EXPECT_FALSE(PlatFolderExists(tmp.File("Gone").c_str()));
}

/* An order file that is one of the run's files, by its own name or another
** name of the same file, or that another list of the run also names, is
** refused before any file is written: the inputs and the older lists keep
** what they held. */
TEST_F(OrderListTest, AnOrderFileNeverReplacesAFileOfTheRun)
{
    const std::string script = scripts + "\\o.kvs", data = tmp.File("Data\\test.kvd"), shared = tmp.File("a.csv");
    const std::string t = tmp.File("t.csv"), t2 = tmp.File("t2.csv");
    const char *const templateText = "Sym,Qty\nsym,qty\n";
    /* Scripts the compile reads besides the script, and a list a strategy replays. */
    const std::string lib = scripts + "\\lib.kvs", autoInclude = scripts + "\\autoinclude.kvs", trades = tmp.File("trades.csv");
    const std::string netLiq = tmp.File("netliq.txt"), freeCash = tmp.File("cash.txt");
    const std::map<std::string, std::string> alsoRead = {
        {lib, "Data:\n  FromLib: 1\n"},
        {autoInclude, "Data:\n  FromAuto: 2\n"},
        {trades, "Symbol,DateIn,TimeIn,QtyIn,PriceIn,DateOut,TimeOut,QtyOut,PriceOut\n"
                 "AAA,20240109,open,100,10.5,20240111,close,100,12.5\n"},
        {netLiq, "100000 USD\n"},
        {freeCash, "50000\n"}};
    const std::string s2 = "\nStrategy: S2\n  EntrySetup: 0\n  OrdersFile: ";
    const struct {
        const char *mode;
        std::string settings, strategy, message;
    } cases[] = {
        {"Text", "OrdersFile: " + script, "", "The OrdersFile would replace the script, " + script},
        {"Text", "OrdersFile: " + tmp.File("Data\\.\\test.kvd"), "", "would replace the data file, " + data},
        {"Template", "OrdersTemplate: " + t + "\n  OrdersFile: " + t, "",
         "The OrdersFile would replace the OrdersTemplate, " + t},
        {"Template", "OrdersTemplate: " + t, s2 + t2 + "\n  OrdersTemplate: " + t2,
         "The OrdersFile of strategy S2 would replace the OrdersTemplate of strategy S2, " + t2},
        {"Template", "OrdersTemplate: " + t, "  OrdersFile: " + shared + s2 + shared,
         "The OrdersFile of strategy S1 and the OrdersFile of strategy S2 would be written to one file, " + shared},
        {"Template", "OrdersTemplate: " + t + "\n  OrdersFile: " + shared, s2 + shared,
         "The OrdersFile and the OrdersFile of strategy S2 would be written to one file, " + shared},
        {"Text", "OrdersFile: " + lib, "Include: lib.kvs\n", "The OrdersFile would replace the included script, " + lib},
        {"Text", "OrdersFile: " + autoInclude, "", "would replace the included script, " + autoInclude},
        {"Text", "OrdersFile: " + trades, "Strategy: TL\n  TradeList: " + trades + "\n  TLEndDate: latest\n",
         "The OrdersFile would replace the TradeList of strategy TL, " + trades},
        {"Text", "OrdersNetLiq: " + netLiq + "\n  OrdersFile: " + netLiq, "", "would replace the OrdersNetLiq file, " + netLiq},
        {"Text", "OrdersFile: " + freeCash, "  OrdersFreeCash: " + freeCash + "\n", "would replace the OrdersFreeCash file, " + freeCash},
    };
    gRun.unattended = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const std::string text = std::string("Settings:\n  OrdersMode: ") + c.mode + "\n  " + c.settings + kScript + c.strategy;
        Write("o.kvs", text);
        for (const std::string &file : {data, shared}) WriteTestFile(file, "kept");
        for (const std::string &file : {t, t2}) WriteTestFile(file, templateText);
        for (const auto &[file, content] : alsoRead) WriteTestFile(file, content);
        gStore.loadedState = LookAtFile(data.c_str()); /* the data as loaded: not read again */
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(RESULT_FILE_ERROR, RunBatchCommandLine("-orders o.kvs"));
        EXPECT_NE(std::string::npos, ReadTestFile(tmp.File("errorlog.txt")).find(c.message)) << ReadTestFile(tmp.File("errorlog.txt"));
        EXPECT_EQ(text, ReadTestFile(script));
        for (const std::string &file : {data, shared}) EXPECT_EQ("kept", ReadTestFile(file)) << file;
        for (const std::string &file : {t, t2}) EXPECT_EQ(templateText, ReadTestFile(file)) << file;
        for (const auto &[file, content] : alsoRead) EXPECT_EQ(content, ReadTestFile(file)) << file;
        EXPECT_FALSE(PlatFileExists(tmp.File("Output\\Orders\\o_20240117_orders.txt").c_str()));
    }
}

/* An orders run whose list cannot be written did not do its work: the batch
** ends there with 3, and the next script writes no list.  A file written
** after the work (an export) lets the next script run, and the batch still
** ends with 3. */
TEST_F(OrderListTest, AnOrderListThatCannotBeWrittenEndsTheBatch)
{
    const struct {
        std::string settings;
        bool nextRuns;
    } cases[] = {
        {"OrdersFile: " + tmp.File("Missing\\bad.txt"), false},
        {"SavePositionsAs: " + tmp.File("Missing\\held.csv"), true},
    };
    gRun.unattended = 1;
    Write("good.kvs", std::string("Settings:\n  OrdersMode: Text\n") + kScript);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.settings);
        PlatDeleteFile(tmp.File("Output\\Orders\\good_20240117_orders.txt").c_str());
        gRun.resultCode = RESULT_OK;
        Write("bad.kvs", "Settings:\n  OrdersMode: Text\n  " + c.settings + kScript);
        EXPECT_EQ(RESULT_FILE_ERROR, RunBatchCommandLine("-orders bad.kvs good.kvs"));
        EXPECT_EQ(c.nextRuns, PlatFileExists(tmp.File("Output\\Orders\\good_20240117_orders.txt").c_str()));
    }
}

/* A long of at most one position (MaxPositions: 1) holds 100 AAA bought at
** 100 at the open of 3 January; its stop, FillPrice * 0.95 for the next
** open, sells half.  AAA closes at 90 on 4 January, past the stop: the list
** sells 50 at the open, and the 50 left keep the strategy's one place, so
** BBB, which sets up every day, gets no entry; the next day's test sells 50
** and enters nothing. */
TEST_F(OrdersTest, APartialStopAtTheOpenKeepsItsRestsPlace)
{
    const std::vector<int32_t> d = Weekdays(20240102, 20240105);
    auto upTo = [&](size_t n) {
        std::vector<int32_t> days(d.begin(), d.begin() + n);
        std::vector<DayBar> aaa, bbb;
        for (int32_t day : days) {
            aaa.push_back(day == 20240104 ? DayBar{day, 100, 100, 90, 90} : day == 20240105 ? DayBar{day, 90, 90, 90, 90}
                                                                                          : DayBar{day, 100, 100, 100, 100});
            bbb.push_back(DayBar{day, 50, 50, 50, 50});
        }
        LoadStore(days, {{"AAA", aaa}, {"BBB", bbb}});
    };
    const std::string script = "Settings:\n  OrdersMode: Text\nStrategy: L\n  Side: Long\n"
                               "  EntrySetup: ?Symbol = \"AAA\" OR BarDate >= 20240103\n  Quantity: 100\n  QtyType: Shares\n"
                               "  MaxPositions: 1\n  ExitStop: FillPrice * 0.95\n  ExitStopTime: NextOpen\n  ExitStopQty: Shares * 0.5\n";
    upTo(d.size() - 1);
    ASSERT_EQ(0, Run(script, 5)) << LastMessage();
    const std::string orders = OrdersFile("main_20240105_orders.txt");
    EXPECT_NE(std::string::npos, orders.find("    sell 50 AAA market on open (ExitStop)\n")) << orders;
    EXPECT_EQ(std::string::npos, orders.find("buy 100")) << orders;
    upTo(d.size());
    ASSERT_EQ(0, Run(script)) << LastMessage();
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    for (int32_t t = 0; t < test->tradeCount; t++) {
        EXPECT_STREQ("AAA", test->trades[t].symbol) << t;
        EXPECT_EQ(20240103, test->trades[t].dateIn) << t;
    }
}

/* Under a shared MaxPositions of 2, A leaves AAA and BBB at every open and
** buys both again there; B's setups enter at the close, which the list cannot
** order and the next day's open does not see: A's two entries are both
** ordered, and B gets its note. */
TEST_F(OrderListTest, SetupsForTheCloseTakeNoPlaceOfTheOpensEntries)
{
    ASSERT_EQ(0, Run("Settings:\n  OrdersMode: Text\n"
                     "Strategy: A\n  EntrySetup: C > 0\n  Quantity: 100\n  QtyType: Shares\n"
                     "  ExitRule: 1\n  ExitTime: NextOpen\n"
                     "Strategy: B\n  EntrySetup: BarDate >= 20240116\n  EntryTime: ThisClose\n  Quantity: 100\n  QtyType: Shares\n"
                     "Combined:\n  MaxPositions: 2\n",
                     5))
        << LastMessage();
    const std::string text = OrdersFile("main_20240117_orders.txt");
    EXPECT_NE(std::string::npos, text.find("\nA entry orders\n\n    buy 100 (1.6%) [$1,600] AAA market on open  \n"
                                           "    buy 100 (5%) [$5,000] BBB market on open  \n"))
        << text;
}

/* AAA's 1-for-4 split on 12 January leaves a quarter of the share bought on
** 9 January.  The exit rule of 16 January sells 30% of it, less than the
** quantity step of one share: the next day's test sells the whole quarter
** at the open and buys a share again, and the list orders both. */
TEST_F(OrdersTest, AnExitOfLessThanTheStepTakesTheLastFraction)
{
    const std::vector<int32_t> d = Weekdays(20240108, 20240117);
    auto upTo = [&](size_t n) {
        std::vector<int32_t> days(d.begin(), d.begin() + n);
        std::vector<DayBar> bars;
        for (int32_t day : days) {
            const double c = day < 20240112 ? 10 : 40;
            bars.push_back(DayBar{day, c, c, c, c, 1000, day < 20240112 ? 0.25 : 1.0});
        }
        LoadStore(days, {{"AAA", bars}});
    };
    const std::string script = "Settings:\n  OrdersMode: Text\n"
                               "Strategy: S1\n  EntrySetup: BarDate = 20240108 OR BarDate = 20240116\n  Quantity: 1\n"
                               "  QtyType: Shares\n  ExitRule: BarDate = 20240116\n  ExitQty: Shares * 0.3\n";
    upTo(d.size() - 1);
    ASSERT_EQ(0, Run(script, 5)) << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n"
              "\nS1 exit orders -- change as needed to match actual positions\n\n"
              "    sell 0.25 AAA market on open  (ExitRule)\n"
              "\nS1 entry orders\n\n"
              "    buy 1 (0.04%) [$40] AAA market on open  \n",
              OrdersFile("main_20240117_orders.txt"));
    upTo(d.size());
    ASSERT_EQ(0, Run(script)) << LastMessage();
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    std::string trades;
    for (int32_t t = 0; t < test->tradeCount; t++)
        trades += std::to_string(test->trades[t].dateIn) + " " + std::to_string(test->trades[t].dateOut) + ";";
    EXPECT_EQ("20240109 20240117;20240117 20240117;", trades);
}

/* The account holds 30 CCC, whose data end on Friday 12 January, and the
** simulation holds nothing: the account's position still gets its exit. */
TEST_F(OrderListTest, ACompanionOnlyPositionWhoseDataEndedGetsItsExit)
{
    std::vector<int32_t> d = Weekdays(20240108, 20240116), early = Weekdays(20240108, 20240112);
    LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14, 15, 16})}, {"CCC", FlatBars(early, {20, 20, 20, 20, 20})}});
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTrades.csv"),
                  "Symbol,Strategy,Side,Shares,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut\n"
                  "CCC,S1,Long,30,20240110,30,20,0,,,,\n");
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTemplate.csv"), "Act,Sym,Type,Qty\nact,sym,type,qty\n");
    ASSERT_EQ(0, Run("Settings:\n  OrdersMode: SlatewickSync\nStrategy: S1\n  EntrySetup: 0\n", 5)) << LastMessage();
    EXPECT_EQ("*** ORDERS TO PLACE BEFORE THE OPEN OF 1/17/24 ***\n\nS1 exit orders\n\n"
              "    sell 30 CCC market on open  (SlatewickSync)\n"
              "\nS1 entry orders for SlatewickSync missing positions\n\n"
              "\nS1 entry orders\n\n    (no setups)\n",
              OrdersFile("main_20240117_orders.txt"));
    EXPECT_EQ("Act,Sym,Type,Qty\nSELL,CCC,MKT,30\n", OrdersFile("main_20240117_orders.csv"));
}

/* The companion's trades file is the account's positions: a SavePositionsAs
** naming it (by another form of its name) is refused before anything is
** written, and the file keeps the account's positions. */
TEST_F(OrderListTest, SavePositionsAsNeverReplacesTheCompanionsTrades)
{
    const std::string companion = tmp.File("Output\\Orders\\SlatewickTrades.csv");
    const std::string positions = "Symbol,Strategy,Side,Shares,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut\n"
                                  "AAA,S1,Long,30,20240110,30,20,0,,,,\n";
    WriteTestFile(companion, positions);
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTemplate.csv"), "Act,Sym,Type,Qty\nact,sym,type,qty\n");
    gRun.resultCode = RESULT_OK;
    EXPECT_NE(0, Run("Settings:\n  OrdersMode: SlatewickSync\n  SavePositionsAs: " + tmp.File("Output\\.\\Orders\\SlatewickTrades.csv") +
                     "\nStrategy: S1\n  EntrySetup: 0\n", 5));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_EQ("The SavePositionsAs file would replace the companion trades file, " + companion + ".", std::string(LastMessage()));
    EXPECT_EQ(positions, ReadTestFile(companion));
    EXPECT_FALSE(PlatFileExists(tmp.File("Output\\Orders\\main_20240117_orders.txt").c_str()));
}
