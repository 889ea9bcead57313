#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"

namespace {

struct DatesTest : ::testing::Test {
    ProgramSettings saved = gSettings;
    void SetUp() override { gSettings.DateInputFormat = 0; }
    void TearDown() override { gSettings = saved; }
};

/* A slow reference: count days one at a time from 1 January 1000. */
int ReferenceDayNumber(int date)
{
    int n = 0;
    for (int y = 1000; y < DateYear(date); y++) n += IsLeapYear(y) ? 366 : 365;
    return n + DayOfYear(date);
}

} // namespace

TEST_F(DatesTest, Weekdays)
{
    /* clang-format off */
    static const struct { int date, weekday; } kCases[] = {
        {20240101, 1}, {19000101, 1}, {21000101, 5}, {0, 0},         {99991231, 5},
        {20240229, 4}, {16010101, 1}, {10000101, 3}, {20991231, 4},  {19010101, 2},
        {9991231, 0},  {20241301, 0}, {20240100, 0}, {100000101, 0}, {17760704, 4},
    };
    /* clang-format on */
    for (const auto &c : kCases) EXPECT_EQ(DayOfWeek(c.date), c.weekday) << c.date;
}

TEST_F(DatesTest, DaysBetweenAndDayStepping)
{
    /* clang-format off */
    static const struct { int a, b, days; } kBetween[] = {
        {20231231, 20240101, 1}, {20240101, 20231231, -1}, {20000101, 20010101, 366},
        {20240105, 20240105, 0}, {19000101, 20000101, 36524}, {10000101, 99991231, 3287181},
        {20230301, 20240301, 366}, {20240301, 20250301, 365},
    };
    /* clang-format on */
    for (const auto &c : kBetween) EXPECT_EQ(DaysBetween(c.a, c.b), c.days) << c.a << " " << c.b;

    /* clang-format off */
    static const struct { int date, next, prev; } kSteps[] = {
        {20240228, 20240229, 20240227}, {20230228, 20230301, 20230227}, {20240101, 20240102, 20231231},
        {20241231, 20250101, 20241230}, {20240301, 20240302, 20240229}, {21000301, 21000302, 21000228},
        {20000229, 20000301, 20000228},
    };
    /* clang-format on */
    for (const auto &c : kSteps) {
        EXPECT_EQ(NextDay(c.date), c.next) << c.date;
        EXPECT_EQ(PrevDay(c.date), c.prev) << c.date;
    }

    /* Every day of four centuries: stepping, counting and weekdays agree. */
    int date = 18991225, weekday = DayOfWeek(date);
    for (int i = 0; i < 146097; i++) {
        int next = NextDay(date);
        ASSERT_EQ(PrevDay(next), date);
        ASSERT_EQ(DaysBetween(date, next), 1) << date;
        ASSERT_EQ(ReferenceDayNumber(next) - ReferenceDayNumber(date), 1) << date;
        ASSERT_EQ(DateFromDayNumber(ReferenceDayNumber(next) - ReferenceDayNumber(19700101)), next);
        weekday = weekday % 7 + 1;
        ASSERT_EQ(DayOfWeek(next), weekday) << next;
        date = next;
    }
    EXPECT_EQ(DaysBetween(18991225, date), 146097);
}

TEST_F(DatesTest, DayNumbersCountFromTheFirstOf1970)
{
    /* clang-format off */
    static const struct { int64_t days; int date; } kCases[] = {
        {0, 19700101}, {-1, 19691231}, {11016, 20000229}, {19723, 20240101},
        {-719162, 10101}, {-719163, 0},          /* 1 January of the year 1, and the day before */
        {2932896, 99991231}, {2932897, 0},       /* the last day of 9999, and the day after */
        {INT64_MIN, 0}, {INT64_MAX, 0},
    };
    /* clang-format on */
    for (const auto &c : kCases) EXPECT_EQ(DateFromDayNumber(c.days), c.date) << c.days;
}

TEST_F(DatesTest, CalendarParts)
{
    /* clang-format off */
    static const struct { int date, dayOfYear, week, quarter; } kCases[] = {
        {20240107, 7, 1, 1},     {20240108, 8, 2, 1},      {20241231, 366, 53, 4},
        {20230301, 60, 10, 1},    {20240301, 61, 9, 1},     {20171231, 365, 53, 4},
        {20000401, 92, 14, 2},   {20230701, 182, 27, 3},   {20221231, 365, 53, 4},
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        EXPECT_EQ(DayOfYear(c.date), c.dayOfYear) << c.date;
        EXPECT_EQ(WeekOfYear(c.date), c.week) << c.date;
        EXPECT_EQ(DateQuarter(c.date), c.quarter) << c.date;
    }
    /* A leap year that starts on a Sunday reaches week 54. */
    EXPECT_EQ(WeekOfYear(20121231), 54);
    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(2023, 13), 0);
    EXPECT_EQ(MakeDate(2024, 1, 5), 20240105);
}

TEST_F(DatesTest, FormatDatePictures)
{
    /* clang-format off */
    static const struct { int date; const char *picture; const char *text; } kCases[] = {
        {20240105, "M/d/yy", "1/5/24"},
        {20241231, "MM/dd/yyyy", "12/31/2024"},
        {20240105, "ddd d MMM yyyy", "Fri 5 Jan 2024"},
        {20240105, "dddd, MMMM d, yyyy", "Friday, January 5, 2024"},
        {20090305, "y-M-d", "9-3-5"},
        {20090305, "yy.MM.dd", "09.03.05"},
        {20240105, "yyyyMMdd", "20240105"},
        {20240105, "'Week of' d MMM", "Week of 5 Jan"},
        {20240105, "d 'o''clock' dd", "5 o'clock 05"},
        {20240105, "dd''MM", "05'01"},
        {20240105, "d/M/yyy", "5/1/2024"},
        {20240105, "g yyyy", "A.D. 2024"},
        {20240105, "", ""},
        /* Years the system's own formatter refuses are written like any other. */
        {15000301, "ddd d MMM yyyy", "Thu 1 Mar 1500"},
        {10000101, "M/d/yy", "1/1/00"},
        {16001231, "yyyy-MM-dd", "1600-12-31"},
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        char out[DATE_TEXT_SIZE];
        memset(out, 'z', sizeof out);
        EXPECT_EQ(FormatDate(c.date, c.picture, out), (int)strlen(c.text)) << c.picture;
        EXPECT_STREQ(out, c.text) << c.picture;
    }
}

TEST_F(DatesTest, FormatDateOddInput)
{
    char out[DATE_TEXT_SIZE];
    EXPECT_EQ(FormatDate(0, "M/d/yy", out), 0);
    EXPECT_STREQ(out, "n/a");
    EXPECT_EQ(FormatDate(20241301, "M/d/yy", out), 8);
    EXPECT_STREQ(out, "20241301");
    EXPECT_EQ(FormatDate(20230229, "M/d/yy", out), 8);
    EXPECT_STREQ(out, "20230229");
    /* Text longer than the buffer is cut, terminated and reported as a failure. */
    EXPECT_EQ(FormatDate(20240925, "dddd dddd dddd dddd", out), 0);
    EXPECT_EQ(strlen(out), (size_t)DATE_TEXT_SIZE - 1);

    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "d MMM yyyy", -1);
    EXPECT_EQ(FormatDefaultDate(20240105, out), 10);
    EXPECT_STREQ(out, "5 Jan 2024");
}

TEST_F(DatesTest, ParseDateForms)
{
    /* clang-format off */
    static const struct { const char *text; int mdy, dmy; } kCases[] = {
        {"2024-01-05", 20240105, 20240105},
        {"20240105", 20240105, 20240105},
        {"  20240105 trailing", 20240105, 20240105},
        {"1/5/24", 20240105, 20240501},
        {"1.5.2024", 20240105, 20240501},
        {"2024/1/5", 20240105, 20240105},
        {"5-Jan-2024", 20240105, 20240105},
        {"05-JAN-24", 20240105, 20240105},
        {"5-jan-99", 19990105, 19990105},
        {"31/2/2024", 0, 0},
        {"2/31/2024", 0, 0},
        {"1/1/0001", 0, 0},
        {"0001-01-01T00:00:00", 0, 0},
        {"5/1/49", 20490501, 20490105},
        {"5/1/50", 19500501, 19500105},
        {"1/5/999", 0, 0},
        {"1/5/10000", 0, 0},
        {"1000/1/5", 0, 0},       /* 1000 is not taken as a year first */
        {"2024-02-29", 20240229, 20240229},
        {"2023-02-29", 0, 0},
        {"20241301", 0, 0},
        {"5-Foo-2024", 0, 0},
        {"5-January-2024", 0, 0},
        {"1 / 5 / 24", 0, 0},
        {"1/ 5/ 24", 20240105, 20240501},
        {"99999999999", 0, 0},
        {"-1/-5/24", 0, 0},
        {"", 0, 0},
        {"Date", 0, 0},
        {"12:30", 0, 0},
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        gSettings.DateInputFormat = 0;
        EXPECT_EQ(ParseDate(c.text), c.mdy) << c.text;
        gSettings.DateInputFormat = 1;
        EXPECT_EQ(ParseDate(c.text), c.dmy) << c.text << " (DMY)";
    }
    PlatDateTime now;
    PlatGetLocalTime(&now);
    int today = MakeDate(now.year, now.month, now.day);
    int parsed = ParseDate(nullptr);
    EXPECT_TRUE(parsed == today || parsed == NextDay(today));
}

TEST_F(DatesTest, ParseTimeForms)
{
    /* clang-format off */
    static const struct { const char *text; int time; } kCases[] = {
        {"9:30", 93000},   {"930", 93000},       {"93000", 93000}, {"9", 90000},
        {"09:30:15", 93015}, {" 16:00", 160000}, {"0", 0},         {"", 0},
        {"abc", 0},        {"235959", 235959},   {"1:2:3", 10203}, {"99", 990000},
        {"99999999999", 2147483647},
    };
    /* clang-format on */
    for (const auto &c : kCases) EXPECT_EQ(ParseTime(c.text), c.time) << c.text;
    int now = ParseTime(nullptr);
    EXPECT_GE(now, 0);
    EXPECT_LE(now, 235959);
}

/* A file's time of day: what a clock shows, each part in its range. */
TEST_F(DatesTest, ReadTimeOfDayTakesOnlyWhatAClockShows)
{
    /* clang-format off */
    static const struct { const char *text; int ok; int time; } kCases[] = {
        {"", 1, 0},          {"9:30", 1, 93000},   {" 16:00:05", 1, 160005}, {"2359", 1, 235900},
        {"24:00", 0, 0},     {"9:75", 0, 0},       {"9:30:100", 0, 0},       {"9:-50", 0, 0},
        {"2460", 0, 0},      {"noon", 0, 0},
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        int32_t time = -1;
        EXPECT_EQ(c.ok, ReadTimeOfDay(c.text, &time)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.time, time) << c.text;
        }
    }
}

TEST_F(DatesTest, UtcClockIsACalendarDate)
{
    PlatDateTime utc;
    GetUtcDateTime(&utc);
    int date = MakeDate(utc.year, utc.month, utc.day);
    EXPECT_GT(date, 20200101);
    EXPECT_EQ(DayOfWeek(date) % 7, utc.dayOfWeek);
    EXPECT_LT(utc.hour, 24);
}
