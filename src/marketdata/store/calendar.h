/* calendar.h -- market days: exchange holidays, stepping and counting trading
** dates, period ends and the default date list.
**
** Owns:       gCalendar: the program's holiday list (a strategy may own one
**             of its own, which applies when it is marked as having one), the
**             comparison bar size and strategy that ComparePeriodEnds reads
**             (set by the engine while it compares dates of a test), and the
**             lookups of the strategies' own calendars.  ResetCalendar frees
**             the list and clears the rest.
** Strategies: the compiled strategies live above the store, so their own
**             calendars are reached through gCalendar.strategies, which the
**             strategy module fills when it gives a strategy a calendar of
**             its own; while it is empty every list is the program's.
** Model:      dates are yyyymmdd; weekdays 1 Monday .. 7 Sunday.  Inside the
**             loaded data, dates step along a DateList; beyond it they are
**             extrapolated over weekdays, skipping the full holidays of the
**             applicable list (early-close days are trading days).
**             Periods: a week is a calendar week Monday..Sunday, so a closure
**             of seven days or more never joins two weeks; months, quarters
**             and years are calendar ones.
** Errors:     BuildHolidayList and InitDefaultDateList return 0 when memory
**             fails; everything else only computes.
** Threads:    all routines but BuildHolidayList and InitDefaultDateList only
**             read and run on any thread; the lists are built while no worker
**             runs.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/symbols.h"

struct StrategyRecord;

struct HolidayPair {
    int32_t date;       /* yyyymmdd */
    int32_t earlyClose; /* 0 closed all day, 1 closes early */
};
/* A tracked array of holiday pairs. */
struct HolidayList {
    HolidayPair *pairs; /* tracked block */
    int32_t capacity;   /* pairs allocated */
    int32_t count;      /* pairs held */
};

/* The calendars of the compiled strategies.  Either lookup may be null. */
struct StrategyCalendars {
    /* The own holiday list of the 1-based strategy, null when it has none
    ** (or no such strategy exists). */
    const HolidayList *(*holidays)(int strategy);
    /* The strategy's own date list of barSize, null when it has none. */
    const DateList *(*dateList)(const StrategyRecord *strategy, int barSize);
};

struct CalendarState {
    HolidayList holidays; /* the program's holiday list */
    /* Set while the engine compares dates of a test: the bar size (0 none)
    ** and the strategy whose calendar applies. */
    int32_t compareBarSize;
    StrategyRecord *compareStrategy;
    StrategyCalendars strategies;
};
extern CalendarState gCalendar;

/* Frees the program's holiday list and clears the comparison and the
** strategy lookups. */
void ResetCalendar();

enum HolidayRule {
    HOLIDAY_NEW_YEAR = 1,
    HOLIDAY_JANUARY_MONDAY = 2,  /* third Monday of January */
    HOLIDAY_FEBRUARY_MONDAY = 3, /* third Monday of February */
    HOLIDAY_GOOD_FRIDAY = 4,
    HOLIDAY_MAY_MONDAY = 5, /* last Monday of May */
    HOLIDAY_JUNE_19 = 6,    /* from 2022 */
    HOLIDAY_JULY_4 = 7,
    HOLIDAY_SEPTEMBER_MONDAY = 8,  /* first Monday of September */
    HOLIDAY_NOVEMBER_THURSDAY = 9, /* fourth Thursday of November */
    HOLIDAY_CHRISTMAS = 10
};

/* The observed date of holiday rule 1..10 in year, 0 for another rule, for a
** year outside 1000..9999 or when the holiday is not observed that year.  A
** fixed-date holiday on a Saturday is observed on the Friday before, on a
** Sunday on the Monday after, except that New Year's Day on a Saturday is not
** observed at all. */
int32_t HolidayDate(int year, int rule);
/* Fills list with five years of holidays from firstYear, each year in rule
** order with its early closes (the day before 4 July and 25 December when they
** fall on Tuesday..Friday, the day after the November Thursday).  The list
** grows as needed.  With log set each pair goes to the log ("*" before an
** early close).  0 when memory fails, the list then empty. */
int BuildHolidayList(HolidayList *list, int firstYear, int ignored, int log);
/* 1 when {date, earlyClose} is in the list of strategy (1-based, when it has
** one of its own) or else in the program's list. */
int IsCalendarHoliday(int32_t date, int earlyClose, int strategy);

/* The first market date of the period of barSize (0..4) that holds date, on
** the daily master list.  Daily, or count above 1, gives the date itself; a
** date before the first listed date gives that first date. */
int32_t GetPeriodFirstDate(int32_t date, int32_t count, int32_t barSize);

/* 1 when a and b lie in the same period of barSize (0 daily: the same date;
** weeks are calendar weeks Monday..Sunday). */
int SameBarPeriod(int32_t a, int32_t b, int barSize);

/* The date n periods of the list's bar size after (n > 0) or before (n < 0)
** date; 0 for a date outside 10000101..99991231 (0 among them) and when the
** steps would leave that range. */
int32_t OffsetTradingDate(const DateList *list, int32_t date, int n);
/* 1 when date is the last trading day of its period of barSize (daily: 1;
** sizes above 4: 0), on the strategy's own daily list when it has one. */
int IsPeriodEnd(int32_t date, int barSize, const StrategyRecord *strategy);
/* The last trading day of the period of barSize that holds date (daily and
** unknown sizes: the date itself). */
int32_t GetPeriodEndDate(int32_t date, int barSize, const StrategyRecord *strategy);
/* -1/0/1 comparing a and b, or their period ends while the engine has set a
** comparison bar size. */
int ComparePeriodEnds(int32_t a, int32_t b);
/* Signed number of periods from a to b, both ends counted (an end counts when
** it is a session); 0 for dates outside 10000101..99991231 or more than 1000
** years apart outside the data. */
int CountTradingDays(const DateList *list, int32_t a, int32_t b);
/* Index of date in list.  A missing date gives, by direction: 0 -> -1, > 0 the
** next later date's index, < 0 the next earlier one's (-1 when none).  An
** empty list gives 0. */
int FindDateIndex(const DateList *list, int32_t date, int direction);
/* Two dates: today (a weekend moved back to Friday) and the weekday before;
** they also become the loaded data's first and last date.  0 when memory
** fails. */
int InitDefaultDateList(DateList *list, int barSize);
