#include <gtest/gtest.h>

#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"

namespace {

TEST(TestRecords, TradeArrayGrowsToTwiceTheCountPlusTwo)
{
    TestRecord test{};
    const int32_t capacities[] = {2, 2, 6, 6, 6, 6, 14};
    for (int k = 0; k < 7; k++) {
        TradeRecord *trade = AddTrade(&test);
        ASSERT_NE(nullptr, trade);
        EXPECT_EQ(k + 1, trade->number);
        EXPECT_EQ(capacities[k], test.tradeCapacity) << "after trade " << k + 1;
        trade->priceIn = k;
    }
    for (int k = 0; k < 7; k++) EXPECT_EQ(k, test.trades[k].priceIn);
    FreeMemory(&test.trades);
}

TradeRecord StockTrade()
{
    TradeRecord t{};
    t.side = 1;
    t.dateIn = 20240102;
    t.dateOut = 20240110;
    t.priceIn = 10;
    t.quantityIn = 100;
    t.priceOut = 12;
    t.quantityOut = 100;
    t.splitIn = t.splitOut = 1;
    t.fxIn = 1.25;
    t.fxOut = 1.5;
    t.commissionIn = 4;
    t.commissionOut = 4;
    t.dividends = 3;
    t.pointValue = 1;
    t.roundingOut = 0.25;
    return t;
}

TEST(TestRecords, PriceMoveInTheEntrysSplitTermsRoundedToTheTick)
{
    TradeRecord t = StockTrade();
    t.priceOut = 12.4;
    EXPECT_DOUBLE_EQ(2.5, TradePriceMove(&t));
    t.side = -1;
    EXPECT_DOUBLE_EQ(-2.5, TradePriceMove(&t));
    t = StockTrade();
    t.priceIn = 20;
    t.splitIn = 2; /* a 2:1 split while the trade was open */
    t.priceOut = 11;
    EXPECT_DOUBLE_EQ(2, TradePriceMove(&t));
    t.splitOut = 0; /* no split factor recorded: taken as no split */
    EXPECT_DOUBLE_EQ(-9, TradePriceMove(&t));
    t.priceOut = 0;
    EXPECT_EQ(0, TradePriceMove(&t));
    EXPECT_EQ(0, TradePriceMove(nullptr));
}

TEST(TestRecords, NetProfitAndCurrencyGainByTheSecurityRule)
{
    TradeRecord t = StockTrade();
    /* (12 × 100 × 1.5 − 10 × 100 × 1.25) − (4 + 4) + 3: the commissions are
    ** already in the account currency, whatever CommCurrency said */
    EXPECT_DOUBLE_EQ(1800 - 1250 - 8 + 3, TradeNetProfit(&t));
    EXPECT_DOUBLE_EQ(12 * 100 * 0.25, TradeCurrencyGain(&t));
    t.commissionCurrency = 1;
    EXPECT_DOUBLE_EQ(1800 - 1250 - 8 + 3, TradeNetProfit(&t));

    TradeRecord f{};
    f.side = -1;
    f.dateOut = 20240110;
    f.priceIn = 100;
    f.quantityIn = f.quantityOut = 2;
    f.priceOut = 105;
    f.pointValue = 50;
    f.fxIn = 1;
    f.fxOut = 2;
    f.commissionIn = f.commissionOut = 4;
    f.commissionCurrency = 1;
    f.rollCosts = 10;
    f.dividends = 99; /* not part of a futures profit */
    f.securityType = 2;
    EXPECT_DOUBLE_EQ((210 - 200) * -1 * 50 * 2 - 8 - 10, TradeNetProfit(&f)); /* roll costs not converted again */
    EXPECT_EQ(0, TradeCurrencyGain(&f));

    t.dateOut = 0; /* still open */
    EXPECT_EQ(0, TradeNetProfit(&t));
    EXPECT_EQ(0, TradeNetProfit(nullptr));
    EXPECT_EQ(0, TradeCurrencyGain(nullptr));
}

TEST(TestRecords, CellEquityChoosesItsBaseByTheCompoundingFlag)
{
    StatCell cell{};
    cell.startEquity = 1000;
    cell.equityBase = 1500;
    cell.cashInOut = 100;
    cell.feesInOut = -20;
    cell.unsettledCash = 30;
    cell.invested = 600;
    cell.marginedValue = 200;
    cell.shortInvested = 150;
    cell.shortMarginedValue = 50;
    cell.futuresMargin = 40;
    /* base + 80 − (30 + 600 − 200) + (150 − 50) − 40 */
    EXPECT_DOUBLE_EQ(1000 + 80 - 430 + 100 - 40, ComputeCellEquity(&cell, 0));
    EXPECT_DOUBLE_EQ(1500 + 80 - 430 + 100 - 40, ComputeCellEquity(&cell, 1));
}

TEST(TestRecords, ReasonTexts)
{
    const struct {
        const char *custom;
        int32_t code;
        int isSkip;
        const char *want;
    } cases[] = {
        {"1", 3, 0, "exit stop"},
        {"", 12, 0, "n/a"},
        {nullptr, 0, 0, "n/a"},
        {"", 9, 0, "roll forward"},
        {"trail", 3, 0, "trail"},
        {"", 12, 1, "max exposure"},
        {"", 33, 1, "end of test"},
        {"", 34, 1, "n/a"},
        {"", 0, 1, ""},
        {"", -1, 0, "n/a"},
    };
    for (const auto &c : cases) EXPECT_STREQ(c.want, GetTradeReason(c.custom, c.code, c.isSkip)) << c.code;
}

TEST(TestRecords, GroupMembershipFollowsTheParentLists)
{
    StrategyResult results[3]{};
    results[0].parentCount = 2;
    results[0].parents[0] = 2;
    results[0].parents[1] = 1;
    results[1].parentCount = 500; /* a damaged count reads no further than the list */
    TestRecord test{};
    test.strategies = results;
    test.strategyCount = 3;
    EXPECT_EQ(1, StrategyInGroup(&test, 0, 1));
    EXPECT_EQ(1, StrategyInGroup(&test, 0, 2));
    EXPECT_EQ(0, StrategyInGroup(&test, 2, 0));
    EXPECT_EQ(1, StrategyInGroup(&test, 1, 0));
    EXPECT_EQ(0, StrategyInGroup(&test, 3, 0));
}

} // namespace
