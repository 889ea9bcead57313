/* Trading calendar: holiday rules and list, date stepping, period ends, counts. */
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "marketdata/store/calendar.h"
#include "script/eval/eval_context.h"
#include "script/eval/value_access.h"
#include "shell/headless/headless.h"
#include "store_fixture.h"

namespace {

TEST(HolidayRules, ObservedDates)
{
    static const struct {
        int year, rule;
        int32_t want;
    } kCases[] = {
        {2022, HOLIDAY_NEW_YEAR, 0},        /* Saturday: not observed */
        {2023, HOLIDAY_NEW_YEAR, 20230102}, /* Sunday: the Monday after */
        {2024, HOLIDAY_NEW_YEAR, 20240101},
        {2024, HOLIDAY_JANUARY_MONDAY, 20240115},
        {2021, HOLIDAY_JANUARY_MONDAY, 20210118},
        {2024, HOLIDAY_FEBRUARY_MONDAY, 20240219},
        {2024, HOLIDAY_GOOD_FRIDAY, 20240329},
        {2019, HOLIDAY_GOOD_FRIDAY, 20190419},
        {2008, HOLIDAY_GOOD_FRIDAY, 20080321},
        {2024, HOLIDAY_MAY_MONDAY, 20240527},
        {2021, HOLIDAY_MAY_MONDAY, 20210531},
        {2021, HOLIDAY_JUNE_19, 0},        /* before the exchange kept it */
        {2022, HOLIDAY_JUNE_19, 20220620}, /* Sunday */
        {2027, HOLIDAY_JUNE_19, 20270618}, /* Saturday */
        {2020, HOLIDAY_JULY_4, 20200703},  /* Saturday: the Friday before */
        {2021, HOLIDAY_JULY_4, 20210705},  /* Sunday: the Monday after */
        {2024, HOLIDAY_SEPTEMBER_MONDAY, 20240902},
        {2018, HOLIDAY_NOVEMBER_THURSDAY, 20181122},
        {2024, HOLIDAY_NOVEMBER_THURSDAY, 20241128},
        {2021, HOLIDAY_CHRISTMAS, 20211224}, /* Saturday */
        {2022, HOLIDAY_CHRISTMAS, 20221226}, /* Sunday */
        {2024, 0, 0},
        {2024, 11, 0},
        {10000, HOLIDAY_NEW_YEAR, 0},   /* beyond the last valid date */
        {214749, HOLIDAY_CHRISTMAS, 0}, /* a year read from a damaged date */
    };
    for (const auto &c : kCases) EXPECT_EQ(HolidayDate(c.year, c.rule), c.want) << c.year << " rule " << c.rule;
}

struct HolidayListTest : StoreTest {
    bool Has(int32_t date, int early)
    {
        for (int i = 0; i < gCalendar.holidays.count; i++)
            if (gCalendar.holidays.pairs[i].date == date && gCalendar.holidays.pairs[i].earlyClose == early) return true;
        return false;
    }
};

TEST_F(HolidayListTest, EarlyClosesAndGrowth)
{
    ASSERT_TRUE(BuildHolidayList(&gCalendar.holidays, 2023, 0, 0));
    for (auto [date, early] : std::initializer_list<std::pair<int32_t, int>>{
             {20240703, 1}, {20240704, 0}, {20241128, 0}, {20241129, 1}, {20241224, 1}, {20241225, 0}})
        EXPECT_TRUE(Has(date, early)) << date;
    /* holidays moved off a weekend have no early close before them */
    EXPECT_TRUE(Has(20271224, 0));
    EXPECT_FALSE(Has(20271223, 1));
    EXPECT_TRUE(Has(20260703, 0));
    EXPECT_FALSE(Has(20260702, 1));
    EXPECT_TRUE(Has(20261224, 1)); /* Christmas 2026 is a Friday */
    /* five full years, none of their pairs dropped */
    EXPECT_GT(gCalendar.holidays.count, 60);
    EXPECT_EQ(gCalendar.holidays.count, 61);
    EXPECT_EQ(gCalendar.holidays.pairs[gCalendar.holidays.count - 1].date, 20271224);
    EXPECT_EQ(gCalendar.holidays.pairs[0].date, 20230102);
    for (int i = 1; i < gCalendar.holidays.count; i++)
        EXPECT_LT(gCalendar.holidays.pairs[i - 1].date, gCalendar.holidays.pairs[i].date);

    EXPECT_EQ(IsCalendarHoliday(20241129, 1, 0), 1);
    EXPECT_EQ(IsCalendarHoliday(20241129, 0, 0), 0);
    /* a strategy with its own list uses it */
    StrategyRecord strategies[2] = {};
    HolidayPair own[1] = {{20241129, 0}};
    strategies[1].hasOwnHolidays = 1;
    strategies[1].holidays = HolidayList{own, 1, 1};
    LinkStrategyCalendars();
    gStrategies = strategies;
    gStrategyCount = 2;
    EXPECT_EQ(IsCalendarHoliday(20241129, 0, 2), 1);
    EXPECT_EQ(IsCalendarHoliday(20241129, 0, 1), 0);
    EXPECT_EQ(IsCalendarHoliday(20241129, 0, 3), 0);
    gStrategies = nullptr;
    gStrategyCount = 0;
}

TEST_F(HolidayListTest, LogsEachPair)
{
    gHeadless.captureLog = 1;
    ASSERT_TRUE(BuildHolidayList(&gCalendar.holidays, 2024, 0, 1));
    gHeadless.captureLog = 0;
    ASSERT_NE(gHeadless.logText, nullptr);
    int stars = 0, lines = 0;
    for (const char *p = gHeadless.logText; *p; p++) {
        if (*p == '\n') lines++;
        if (*p == '*') stars++;
    }
    EXPECT_EQ(lines, gCalendar.holidays.count);
    int early = 0;
    for (int i = 0; i < gCalendar.holidays.count; i++) early += gCalendar.holidays.pairs[i].earlyClose;
    EXPECT_EQ(stars, early);
}

struct SteppingTest : StoreTest {
    std::vector<int32_t> days;
    void SetUp() override
    {
        StoreTest::SetUp();
        /* the data ends on Friday 12 January 2024; Monday 15 is a holiday */
        days = MarketDays(20231002, 20240112, {20231123, 20231225, 20240101});
        SetMasterDates(days);
        ASSERT_TRUE(BuildHolidayList(&gCalendar.holidays, 2024, 0, 0));
    }
};

TEST_F(SteppingTest, OffsetTradingDate)
{
    static const struct {
        int barSize;
        int32_t date;
        int n;
        int32_t want;
    } kCases[] = {
        {BAR_DAILY, 0, 3, 0},
        {BAR_DAILY, 20240112, 1, 20240116}, /* beyond the data over the holiday Monday */
        {BAR_DAILY, 20240112, 3, 20240118},
        {BAR_DAILY, 20240110, 1, 20240111}, /* inside the list */
        {BAR_DAILY, 20240106, 0, 20240105}, /* Saturday: the Friday before */
        {BAR_DAILY, 20240106, 1, 20240108},
        {BAR_DAILY, 20231003, -5, 20230926}, /* before the data */
        {BAR_DAILY, 20240113, 0, 20240113},  /* beyond the list, no step */
        {BAR_DAILY, 20240524, 1, 20240528},  /* Monday 27 May is a holiday */
        {BAR_DAILY, 20240703, 1, 20240705},  /* the early close counts, the holiday not */
        {BAR_WEEKLY, 20240119, 1, 20240126}, /* Friday to the next Friday */
        {BAR_WEEKLY, 20240117, 1, 20240119}, /* Wednesday to that week's Friday */
        {BAR_WEEKLY, 20240117, 2, 20240126},
        {BAR_WEEKLY, 20240117, -1, 20240116}, /* back: first day of the week left */
        {BAR_WEEKLY, 20240327, 1, 20240328},  /* Good Friday ends the week on Thursday */
        {BAR_MONTHLY, 20240117, 1, 20240131},
        {BAR_MONTHLY, 20240117, 2, 20240229},
        {BAR_QUARTERLY, 20240117, 1, 20240328},
        {BAR_YEARLY, 20240117, 1, 20241231},
        {BAR_DAILY, 99991230, 1, 99991231},
        {BAR_DAILY, 99991231, 1, 0}, /* the calendar ends */
        {BAR_DAILY, 10000101, -1, 0},
        {BAR_WEEKLY, 99991227, 1, 0}, /* the last week of 9999 never completes */
    };
    for (const auto &c : kCases) {
        DateList list = gStore.dateLists[c.barSize];
        if (c.barSize != BAR_DAILY) list.count = 0; /* step by extrapolation */
        EXPECT_EQ(OffsetTradingDate(&list, c.date, c.n), c.want)
            << "size " << c.barSize << " date " << c.date << " n " << c.n;
    }
}

TEST_F(SteppingTest, PeriodEnds)
{
    static const struct {
        int32_t date;
        int barSize;
        int isEnd;
        int32_t end;
    } kCases[] = {
        {20240110, BAR_DAILY, 1, 20240110},
        {20240110, BAR_WEEKLY, 0, 20240112},
        {20240112, BAR_WEEKLY, 1, 20240112},
        {20240328, BAR_WEEKLY, 1, 20240328}, /* before Good Friday */
        {20240327, BAR_WEEKLY, 0, 20240328},
        {20231229, BAR_MONTHLY, 1, 20231229},
        {20231228, BAR_MONTHLY, 0, 20231229},
        {20231229, BAR_QUARTERLY, 1, 20231229},
        {20231229, BAR_YEARLY, 1, 20231229},
        {20240110, BAR_YEARLY, 0, 20241231},
        {20240110, 9, 0, 20240110}, /* unknown size */
    };
    for (const auto &c : kCases) {
        EXPECT_EQ(IsPeriodEnd(c.date, c.barSize, nullptr), c.isEnd) << c.date << " size " << c.barSize;
        EXPECT_EQ(GetPeriodEndDate(c.date, c.barSize, nullptr), c.end) << c.date << " size " << c.barSize;
    }
    gCalendar.compareBarSize = BAR_WEEKLY;
    EXPECT_EQ(ComparePeriodEnds(20240108, 20240112), 0);
    EXPECT_EQ(ComparePeriodEnds(20240108, 20240115), -1);
    gCalendar.compareBarSize = 0;
    EXPECT_EQ(ComparePeriodEnds(20240108, 20240112), -1);
    EXPECT_EQ(ComparePeriodEnds(20240112, 20240108), 1);
}

TEST_F(StoreTest, LongClosureDoesNotJoinTwoWeeks)
{
    /* The exchange closed from 11 to 14 September 2001: Monday 10 was the
    ** last session of its week and Monday 17 the first of the next. */
    std::vector<int32_t> days = MarketDays(20010820, 20011012, {20010903, 20010911, 20010912, 20010913, 20010914});
    SetMasterDates(days);
    EXPECT_EQ(IsPeriodEnd(20010910, BAR_WEEKLY, nullptr), 1);
    EXPECT_EQ(GetPeriodEndDate(20010910, BAR_WEEKLY, nullptr), 20010910);
    EXPECT_EQ(GetPeriodFirstDate(20010917, 1, BAR_WEEKLY), 20010917);
    EXPECT_EQ(GetPeriodFirstDate(20010919, 1, BAR_WEEKLY), 20010917);
    EXPECT_EQ(GetPeriodFirstDate(20010910, 1, BAR_WEEKLY), 20010910);
    /* Stepping weeks beyond the data over the same closure as holidays. */
    static const int32_t kClosure[] = {20010911, 20010912, 20010913, 20010914};
    ASSERT_TRUE(AllocMemory(&gCalendar.holidays.pairs, sizeof kClosure / sizeof kClosure[0] * sizeof(HolidayPair)));
    for (int32_t d : kClosure) gCalendar.holidays.pairs[gCalendar.holidays.count++] = {d, 0};
    gCalendar.holidays.capacity = gCalendar.holidays.count;
    DateList weekly = gStore.dateLists[BAR_WEEKLY];
    weekly.count = 0;
    EXPECT_EQ(OffsetTradingDate(&weekly, 20010907, 1), 20010910);
    EXPECT_EQ(OffsetTradingDate(&weekly, 20010910, 1), 20010921);
    EXPECT_EQ(OffsetTradingDate(&weekly, 20010919, -1), 20010917);
    /* a month-long gap does not join two months either */
    days = MarketDays(20240102, 20240117);
    for (int32_t d : MarketDays(20240220, 20240329)) days.push_back(d);
    SetMasterDates(days);
    EXPECT_EQ(IsPeriodEnd(20240117, BAR_MONTHLY, nullptr), 1);
}

TEST_F(StoreTest, PeriodFirstDate)
{
    SetMasterDates(MarketDays(20240102, 20240628, {20240115, 20240219, 20240329}));
    static const struct {
        int32_t date;
        int count, barSize;
        int32_t want;
    } kCases[] = {
        {20240110, 1, BAR_WEEKLY, 20240108},
        {20240117, 1, BAR_WEEKLY, 20240116}, /* after a Monday holiday */
        {20240110, 1, BAR_DAILY, 20240110},
        {20240110, 2, BAR_WEEKLY, 20240110}, /* count above 1: the date */
        {20240110, 0, BAR_WEEKLY, 20240108},
        {20240215, 1, BAR_MONTHLY, 20240201},
        {20240515, 1, BAR_QUARTERLY, 20240401},
        {20240515, 1, BAR_YEARLY, 20240102},
        {20231220, 1, BAR_WEEKLY, 20240102}, /* before the list: its first date */
        {20240115, 1, BAR_WEEKLY, 20240115}, /* holiday Monday: no market day of its week yet */
    };
    for (const auto &c : kCases)
        EXPECT_EQ(GetPeriodFirstDate(c.date, c.count, c.barSize), c.want) << c.date << " size " << c.barSize;
}

TEST_F(SteppingTest, CountTradingDays)
{
    const DateList *daily = &gStore.dateLists[BAR_DAILY];
    EXPECT_EQ(CountTradingDays(daily, 20240105, 20240105), 1);
    EXPECT_EQ(CountTradingDays(daily, 20240102, 20240112), 9);
    EXPECT_EQ(CountTradingDays(daily, 20240112, 20240102), -9);
    EXPECT_EQ(CountTradingDays(daily, 20240106, 20240107), 0); /* a weekend inside the data */
    EXPECT_EQ(CountTradingDays(&gStore.dateLists[BAR_WEEKLY], 20231002, 20231027), 4);
    /* beyond the data: stepping weekdays, then periods of five days */
    EXPECT_EQ(CountTradingDays(daily, 20240112, 20240119), 5); /* the Monday holiday is skipped */
    EXPECT_EQ(CountTradingDays(daily, 20240119, 20240112), -5);
    DateList weekly = gStore.dateLists[BAR_WEEKLY];
    EXPECT_EQ(CountTradingDays(&weekly, 20240112, 20240216), 5); /* 25 days / 5 */
    EXPECT_EQ(CountTradingDays(&weekly, 20240112, 20240215), 4);
    /* A first date that is no session does not count: 2024 had 262 weekdays and 10 holidays. */
    EXPECT_EQ(CountTradingDays(daily, 20240101, 20241231), 252);
    EXPECT_EQ(CountTradingDays(daily, 20241231, 20240101), -252);
    EXPECT_EQ(CountTradingDays(daily, 20240113, 20240119), 4); /* from a Saturday over the holiday */
    EXPECT_EQ(CountTradingDays(daily, 10000101, 20020101), 0); /* 1002 years apart */
    EXPECT_EQ(CountTradingDays(daily, 9990101, 20240101), 0);
}

TEST_F(SteppingTest, FindDateIndex)
{
    const DateList *daily = &gStore.dateLists[BAR_DAILY];
    int last = daily->count - 1;
    static const struct {
        int32_t date;
        int direction;
        int want; /* -2: the last index */
    } kCases[] = {
        {20231002, 0, 0},
        {20231007, 0, -1},
        {20231007, 1, 5},
        {20231007, -1, 4},
        {20240113, 1, -1},
        {20240113, -1, -2},
        {20230101, -1, -1},
        {20230101, 1, 0},
    };
    for (const auto &c : kCases)
        EXPECT_EQ(FindDateIndex(daily, c.date, c.direction), c.want == -2 ? last : c.want) << c.date;
    DateList empty = {};
    EXPECT_EQ(FindDateIndex(&empty, 20240101, 1), 0);
}

TEST_F(StoreTest, DefaultDateList)
{
    DateList list = {};
    ASSERT_TRUE(InitDefaultDateList(&list, BAR_WEEKLY));
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.dates[2], 0u);
    EXPECT_EQ(list.barSize, BAR_WEEKLY);
    int32_t first = (int32_t)list.dates[0], last = (int32_t)list.dates[1];
    EXPECT_LE(DayOfWeek(first), 5);
    EXPECT_LE(DayOfWeek(last), 5);
    EXPECT_GE(DaysBetween(first, last), 1);
    EXPECT_LE(DaysBetween(first, last), 3);
    EXPECT_EQ(gStore.firstDate, first);
    EXPECT_EQ(gStore.lastDate, last);
    FreeMemory(&list.dates);
}

} // namespace
