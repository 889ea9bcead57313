#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "records/test_records.h"
#include "eval_fixture.h"
#include "script/compiler/compiler_state.h"
#include "script/eval/value_access.h"

namespace {

using ValueAccess = EvalTest;

TEST_F(ValueAccess, ResultRowsByDateAndPeriod)
{
    StatCell cells[4]{};
    cells[0].date = cells[1].date = 20240131;
    cells[2].date = cells[3].date = 20240207;
    TestRecord test{};
    test.cells = cells;
    test.strategyCount = 2;
    test.rowCount = 2;
    test.rowsFilled = 2;
    const struct {
        int32_t date, period, want;
    } cases[] = {
        {20240131, 0, 0},
        {20240207, 0, 1},
        {20240205, 0, -1},
        {20240205, 2, 1},  /* inside February, whose row ends later */
        {20240205, 1, 1},  /* the week of 5 February starts that Monday */
        {20240201, 1, -1}, /* the row's week begins on 5 February, after the date */
        {20240120, 2, -1}, /* before the first listed date */
        {20240210, 2, -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.want, FindResultRowByDate(&test, c.date, c.period)) << c.date << " period " << c.period;
    test.rowsFilled = 1; /* rows not reached yet are not searched */
    EXPECT_EQ(-1, FindResultRowByDate(&test, 20240207, 0));
    EXPECT_EQ(-1, FindResultRowByDate(nullptr, 20240207, 0));
}

TEST_F(ValueAccess, PeriodFirstDates)
{
    EXPECT_EQ(20240129, GetPeriodFirstDate(20240131, 1, BAR_WEEKLY));
    EXPECT_EQ(20240131, GetPeriodFirstDate(20240131, 1, BAR_DAILY));
    EXPECT_EQ(20240201, GetPeriodFirstDate(20240206, 1, BAR_MONTHLY));
    EXPECT_EQ(20240125, GetPeriodFirstDate(20240131, 1, BAR_YEARLY)); /* the list's first date */

    /* After a market closed for the rest of a week, or a gap of a year, the
    ** period still begins inside its own calendar week or month. */
    DateList saved = gStore.dateLists[BAR_DAILY];
    uint32_t dates[] = {20010907, 20010910, 20010917, 20010918, 20010919, 20020110, 20030108, 20030109, 0};
    gStore.dateLists[BAR_DAILY].dates = dates;
    gStore.dateLists[BAR_DAILY].count = 8;
    EXPECT_EQ(20010917, GetPeriodFirstDate(20010919, 1, BAR_WEEKLY));
    EXPECT_EQ(20030108, GetPeriodFirstDate(20030109, 1, BAR_MONTHLY));
    EXPECT_EQ(20030108, GetPeriodFirstDate(20030109, 1, BAR_QUARTERLY));
    EXPECT_EQ(20010910, GetPeriodFirstDate(20010910, 1, BAR_WEEKLY));
    gStore.dateLists[BAR_DAILY] = saved;
}

TEST_F(ValueAccess, DatedValuesByDayTimeAndLatestFlag)
{
    /* clang-format off */
    EventItem events[] = {
        {20240126, 0, -1, 0, 0.3},
        {20240131, 150000, -1, 0, 0.4},     /* the trading date before 1 February, after 10:00 */
        {20240201, 90000, 7, 0, 5.0},
        {20240201, 120000, 7, 0, 6.0},
    };
    /* clang-format on */
    gStore.symbols[0].events = events;
    gStore.symbols[0].eventCount = 4;
    int32_t on = 0;
    EXPECT_EQ(0.3, LookupDatedValue(&gStore.symbols[0], BAR_DAILY, 20240130, 0, -1, 1, &on));
    EXPECT_EQ(20240126, on);
    EXPECT_EQ(0.0, LookupDatedValue(&gStore.symbols[0], BAR_DAILY, 20240130, 0, -1, 0, nullptr));
    EXPECT_EQ(0.4, LookupDatedValue(&gStore.symbols[0], BAR_DAILY, 20240201, 100000, -1, 0, nullptr));
    EXPECT_EQ(0.0, LookupDatedValue(&gStore.symbols[0], BAR_DAILY, 20240201, 160000, -1, 0, nullptr));
    EXPECT_EQ(5.0, LookupDatedValue(&gStore.symbols[0], BAR_DAILY, 20240201, 100000, 7, 0, nullptr));
    EXPECT_EQ(6.0, LookupDatedValue(&gStore.symbols[0], BAR_DAILY, 20240201, 120000, 7, 0, nullptr));
    gStore.symbols[0].events = nullptr;
    gStore.symbols[0].eventCount = 0;
}

TEST_F(ValueAccess, TestArraysAreReachedOnlyInsideTheirBounds)
{
    StatCell cells[6]{};
    double stratData[12], graphs[12], results[6];
    for (int k = 0; k < 12; k++) stratData[k] = k, graphs[k] = 100 + k;
    for (int k = 0; k < 6; k++) results[k] = 200 + k;
    TestRecord test{};
    test.cells = cells;
    test.strategyCount = 2;
    test.rowCount = 3;
    test.stratDataValues = stratData;
    test.stratDataItemCount = 2;
    test.stratDataValueCount = 10; /* the last cell's values are missing */
    test.graphValues = graphs;
    test.graphValueCount = 12; /* two Graphs columns per cell */
    test.resultsValues = results;
    test.resultsValueCount = 6; /* three Results columns per strategy */

    EXPECT_EQ(&cells[3], GetResultCell(&test, 1, 1));
    EXPECT_EQ(nullptr, GetResultCell(&test, 3, 0));
    EXPECT_EQ(nullptr, GetResultCell(&test, 0, 2));
    EXPECT_EQ(nullptr, GetResultCell(&test, -1, 0));

    ASSERT_NE(nullptr, GetExtraStatValuePtr(&test, 1, 1, 1));
    EXPECT_EQ(7, *GetExtraStatValuePtr(&test, 1, 1, 1));
    EXPECT_EQ(nullptr, GetExtraStatValuePtr(&test, 2, 1, 0)); /* beyond the total count */
    EXPECT_EQ(nullptr, GetExtraStatValuePtr(&test, 0, 0, 2));

    ASSERT_NE(nullptr, GetGraphColValuePtr(&test, 2, 0, 1));
    EXPECT_EQ(109, *GetGraphColValuePtr(&test, 2, 0, 1));
    EXPECT_EQ(nullptr, GetGraphColValuePtr(&test, 2, 0, 2));

    ASSERT_NE(nullptr, GetStrategyValues(&test, 1, 2));
    EXPECT_EQ(205, *GetStrategyValues(&test, 1, 2));
    EXPECT_EQ(nullptr, GetStrategyValues(&test, 1, 3));
    EXPECT_EQ(nullptr, GetStrategyValues(&test, 2, 0));

    test.graphValues = nullptr;
    test.stratDataValues = nullptr;
    EXPECT_EQ(nullptr, GetGraphColValuePtr(&test, 0, 0, 0));
    EXPECT_EQ(nullptr, GetExtraStatValuePtr(&test, 0, 0, 0));
}

TEST_F(ValueAccess, OnePerDateItemsReadTheCalendarsValueOfTheSymbolsDate)
{
    std::vector<FormulaItem> items(1);
    items[0].onePerDate = 1;
    items[0].barSize = -1;
    InstallItems(SECTION_DATA, items.data(), 1);
    /* The calendar holds all ten dates; BBB lacks the first five. */
    double calendarValues[10];
    for (int b = 0; b < 10; b++) calendarValues[b] = 100 + b;
    int32_t offsets[1] = {0};
    SymbolRecord savedCalendar = gStore.calendar;
    gStore.calendar = gStore.symbols[0];
    gStore.calendar.dataValues[0] = calendarValues;
    gStore.calendar.dataOffsets[0] = offsets;
    SymbolRecord &b = gStore.symbols[1];
    memmove(&b.bars[BAR_DAILY][0], &b.bars[BAR_DAILY][5], 5 * sizeof(Bar));
    b.barCounts[BAR_DAILY] = 5;
    b.firstDate = kFixtureDates[5];
    ctx.symbol = &b;
    ctx.date = kFixtureDates[7];
    ctx.barIndex = ctx.lastBar = 2; /* BBB's bar of 5 February */
    EXPECT_EQ(107, GetAlignedSeriesValue(&ctx, 0, 0, 0));
    EXPECT_EQ(106, GetAlignedSeriesValue(&ctx, 1, 0, 0));
    EXPECT_TRUE(std::isnan(GetAlignedSeriesValue(&ctx, 3, 0, 0))); /* before BBB's first bar */
    gStore.calendar = savedCalendar;
}

TEST_F(ValueAccess, SeriesValuesAndBarSync)
{
    EXPECT_EQ(0.0, GetSeriesValue(&gStore.symbols[0], 3, 0));
    double block[4] = {1, 2, 3, 4};
    int32_t offsets[2] = {0, 2};
    gStore.symbols[0].dataValues[1] = block;
    gStore.symbols[0].dataOffsets[1] = offsets;
    EXPECT_EQ(4.0, GetStrategySeriesValue(&gStore.symbols[0], 1, 1));
    EXPECT_EQ(0.0, GetSeriesValue(&gStore.symbols[0], 1, 1));
    gStore.symbols[0].dataValues[1] = nullptr;
    gStore.symbols[0].dataOffsets[1] = nullptr;

    ctx.date = 20240125;
    ctx.barPhase = PHASE_OPEN;
    ASSERT_NE(nullptr, SyncContextBar(&ctx));
    EXPECT_EQ(0, ctx.barIndex);
    EXPECT_EQ(-1, ctx.lastBar);
    ctx.date = 20240130;
    ASSERT_NE(nullptr, SyncContextBar(&ctx));
    EXPECT_EQ(2, ctx.lastBar);
}

} // namespace
