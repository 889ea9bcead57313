/* Whole runs through RunScript over small hand-made data, with every figure
** worked out by hand. */
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/date_loop.h"
#include "engine/results_file.h"
#include "engine/run_driver.h"
#include "run_fixture.h"
#include "foundation/settings_table.h"
#include "script/eval/evaluator.h"
#include "shell/headless/headless.h"
#include "shell/services.h"

namespace {

struct RunTest : ScriptRunTest {
    void SetUp() override
    {
        ScriptRunTest::SetUp();
        /* Mon 2024-01-08 .. Tue 2024-01-16, with the weekend between. */
        std::vector<int32_t> d = Weekdays(20240108, 20240116);
        LoadStore(d, {{"AAA", FlatBars(d, {10, 11, 12, 13, 14, 15, 16, 17})}});
    }
};

TEST_F(RunTest, CashInterestAccruesOnFreeCashPerCalendarDay)
{
    /* 3.6525% a year is 0.0001 a day on the free cash of the day before:
    ** Mon 8 earns nothing (first date), Mon 15 covers three days. */
    struct Case {
        const char *compounded;
        double interest[7];
        double equity[7];
    } cases[] = {
        /* Not compounded: free cash is measured from the start equity. */
        {"False", {0, 10, 10, 10, 10, 30, 10}, {100000, 100010, 100020, 100030, 100040, 100070, 100080}},
        /* Compounded: free cash grows with the interest already earned. */
        {"True",
         {0, 10, 10.001, 10.0020001, 10.00300030001, 30.012001800120003, 10.007001800220013},
         {100000, 100010, 100020.001, 100030.0030001, 100040.00600040001, 100070.01800220013, 100080.02500400035}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.compounded);
        ASSERT_EQ(0, Run(std::string("Settings:\n  CashIntPct: 3.6525\nStrategy: S1\n  Compounded: ") + c.compounded +
                         "\n  EntrySetup: 0\n"));
        TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        EXPECT_EQ(7, test->rowCount);
        EXPECT_EQ(20240108, test->firstDate);
        EXPECT_EQ(20240116, test->lastDate);
        for (int r = 0; r < 7; r++) {
            const StatCell *cell = Cell(test, r, 0);
            EXPECT_NEAR(c.interest[r], cell->interest, 1e-8) << r;
            EXPECT_NEAR(c.equity[r], cell->equityBase, 1e-8) << r;
            EXPECT_EQ((uint32_t)(r + 1), cell->rowNumber);
            EXPECT_EQ((uint32_t)days[r], cell->date);
        }
    }
}

TEST_F(RunTest, CashOutflowMakesMarginInterestAndADrawdown)
{
    /* 150,000 leaves on Tue 9: from Wed the free cash is -50,000 and pays
    ** 0.0001 a day of margin interest (5.00 a day, 15.00 over the weekend). */
    Write("cash.csv", "Date,Amount\n20240109,-150000\n");
    ASSERT_EQ(0, Run("Settings:\n  MarginIntPct: 3.6525\n  CashIntPct: 1\nStrategy: S1\n  Compounded: False\n"
                     "  CashList: cash.csv\n  EntrySetup: 0\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    struct Row {
        double cash, interest, equityBase, drawdown, drawdownPct;
        int drawdownBars;
        double net, netPct;
    } rows[] = {
        {0, 0, 100000, 0, 0, 0, 0, 0},
        {-150000, 0, 100000, 0, 0, 0, 0, 0},   /* free cash of Mon was positive: 1% earns 100000 × 0.01 / 365.25 */
        {-150000, -5, 99995, 5, 0.00005, 1, -5, -0.00005},
        {-150000, -5, 99990, 10, 0.0001, 2, -5, -0.00005},
        {-150000, -5, 99985, 15, 0.00015, 3, -5, -0.00005},
        {-150000, -15, 99970, 30, 0.0003, 4, -15, -0.00015},
        {-150000, -5, 99965, 35, 0.00035, 5, -5, -0.00005},
    };
    rows[1].interest = 100000 * 0.01 / 365.25;
    double base = 100000 + rows[1].interest;
    for (int r = 1; r < 7; r++) {
        if (r > 1) base += rows[r].interest;
        rows[r].equityBase = base;
    }
    for (int r = 0; r < 7; r++) {
        SCOPED_TRACE(r);
        const StatCell *c = Cell(test, r, 0);
        EXPECT_DOUBLE_EQ(rows[r].cash, c->cashInOut);
        EXPECT_NEAR(rows[r].interest, c->interest, 1e-9);
        EXPECT_NEAR(rows[r].equityBase, c->equityBase, 1e-9);
        EXPECT_NEAR(rows[r].drawdown, c->drawdownAmount, 1e-9);
        EXPECT_NEAR(rows[r].drawdownPct, c->drawdownPercent, 1e-12);
        EXPECT_EQ(rows[r].drawdownBars, c->drawdownBars);
        if (r > 1) {
            EXPECT_NEAR(rows[r].net, c->netAmount, 1e-9);
            EXPECT_NEAR(rows[r].netPct, c->netPercent, 1e-12);
        }
        EXPECT_DOUBLE_EQ(100000, c->allocation);
        EXPECT_DOUBLE_EQ(100000, c->maxAllocation);
    }
    EXPECT_NEAR(35, Cell(test, 6, 0)->maxDrawdownAmount, 1e-9);
    EXPECT_EQ(5, Cell(test, 6, 0)->maxDrawdownBars);
}

TEST_F(RunTest, AFlowDatedOnAWeekendArrivesOnTheNextDate)
{
    Write("cash.csv", "Date,Amount\n20240113,5000\n20240116,-250\n");
    Write("fees.csv", "Date,Amount\n20240110,-40\n");
    ASSERT_EQ(0, Run("Strategy: S1\n  CashList: cash.csv\n  FeesList: fees.csv\n  EntrySetup: 0\n"));
    TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    const double cash[] = {0, 0, 0, 0, 0, 5000, 4750};
    const double fees[] = {0, 0, -40, -40, -40, -40, -40};
    for (int r = 0; r < 7; r++) {
        EXPECT_DOUBLE_EQ(cash[r], Cell(test, r, 0)->cashInOut) << r;
        EXPECT_DOUBLE_EQ(fees[r], Cell(test, r, 0)->feesInOut) << r;
    }
}

TEST_F(RunTest, StartPercentSetsTheStartingFigures)
{
    ASSERT_EQ(0, Run("Strategy: S1\n  StartPercent: 25\n  Compounded: False\n  EntrySetup: 0\n"));
    const StatCell *c = Cell(LastTest(), 6, 0);
    EXPECT_DOUBLE_EQ(25000, c->startEquity);
    EXPECT_DOUBLE_EQ(25000, c->equityBase);
    EXPECT_DOUBLE_EQ(25000, c->allocation);
    EXPECT_DOUBLE_EQ(25000, c->minAllocation);
    EXPECT_DOUBLE_EQ(25000, c->timeWeightedEquity);   /* not compounded: the equity itself */
}

}  // namespace
