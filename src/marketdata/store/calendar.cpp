/* calendar.cpp -- exchange holidays and trading-date arithmetic on date lists. */
#include "marketdata/store/calendar.h"

#include <cstdlib>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "platform/platform.h"
#include "services/services.h"

CalendarState gCalendar = {};

void ResetCalendar()
{
    FreeMemory(&gCalendar.holidays.pairs);
    gCalendar = CalendarState{};
}

enum { HOLIDAY_LIST_START = 60,
       HOLIDAY_LIST_YEARS = 5 };

/* ---- holiday rules -------------------------------------------------------------- */

/* A fixed-date holiday on a weekend is observed on the nearest weekday. */
static int32_t ObservedDate(int32_t date)
{
    switch (DayOfWeek(date)) {
    case 6: return PrevDay(date);
    case 7: return NextDay(date);
    default: return date;
    }
}

static int32_t GoodFriday(int year)
{
    int g = year / 19;
    int a = 225 - 11 * (year - 19 * g);
    if (a > 50) a = a - 30 - 30 * ((a - 51) / 30);
    int b = a >= 49 ? a - 1 : a;
    int s = year / 4 + 1 + b + year;
    int c = b + 7 - (s % 7);
    return c < 34 ? MakeDate(year, 3, c - 2) : MakeDate(year, 4, c - 33);
}

int32_t HolidayDate(int year, int rule)
{
    /* Only years of the model have dates; a year from a damaged date would
    ** make numbers no int holds. */
    if (year < DateYear(DATE_FIRST_VALID) || year > DateYear(DATE_LAST_VALID)) return 0;
    switch (rule) {
    case HOLIDAY_NEW_YEAR: {
        /* On a Saturday the exchange stays open on the Friday before, the
        ** last day of the old year. */
        int32_t date = MakeDate(year, 1, 1);
        return DayOfWeek(date) == 6 ? 0 : ObservedDate(date);
    }
    case HOLIDAY_JANUARY_MONDAY:
        return MakeDate(year, 1, (8 - DayOfWeek(MakeDate(year, 1, 1))) % 7 + 15);
    case HOLIDAY_FEBRUARY_MONDAY:
        return MakeDate(year, 2, (8 - DayOfWeek(MakeDate(year, 2, 1))) % 7 + 15);
    case HOLIDAY_GOOD_FRIDAY:
        return GoodFriday(year);
    case HOLIDAY_MAY_MONDAY: {
        int w = DayOfWeek(MakeDate(year, 6, 1)) + 6;
        return w % 7 == 0 ? MakeDate(year, 5, 25) : MakeDate(year, 5, w / 7 * 7 - w + 32);
    }
    case HOLIDAY_JUNE_19:
        return year < 2022 ? 0 : ObservedDate(MakeDate(year, 6, 19));
    case HOLIDAY_JULY_4:
        return ObservedDate(MakeDate(year, 7, 4));
    case HOLIDAY_SEPTEMBER_MONDAY:
        return MakeDate(year, 9, (8 - DayOfWeek(MakeDate(year, 9, 1))) % 7 + 1);
    case HOLIDAY_NOVEMBER_THURSDAY: {
        int w = DayOfWeek(MakeDate(year, 11, 1)) + 6;
        int k = (11 - w % 7) % 7;
        return MakeDate(year, 11, k == 0 ? 28 : 21 + k);
    }
    case HOLIDAY_CHRISTMAS:
        return ObservedDate(MakeDate(year, 12, 25));
    default:
        return 0;
    }
}

static int AddHolidayPair(HolidayList *list, int32_t date, int earlyClose)
{
    if (list->count >= list->capacity) {
        int32_t capacity = list->capacity > 0 ? list->capacity * 2 : HOLIDAY_LIST_START;
        if (!ReallocMemory(&list->pairs, (uint64_t)capacity * sizeof(HolidayPair))) return 0;
        list->capacity = capacity;
    }
    list->pairs[list->count].date = date;
    list->pairs[list->count].earlyClose = earlyClose;
    list->count++;
    return 1;
}

int BuildHolidayList(HolidayList *list, int firstYear, int ignored, int log)
{
    list->count = 0;
    int ok = 1;
    if (list->capacity < HOLIDAY_LIST_START) {
        ok = ReallocMemory(&list->pairs, HOLIDAY_LIST_START * sizeof(HolidayPair));
        if (ok) list->capacity = HOLIDAY_LIST_START;
    }
    for (int year = firstYear; ok && year < firstYear + HOLIDAY_LIST_YEARS; year++) {
        for (int rule = HOLIDAY_NEW_YEAR; ok && rule <= HOLIDAY_CHRISTMAS; rule++) {
            int32_t date = HolidayDate(year, rule);
            if (date == 0) continue;
            /* The session before 4 July and 25 December closes early, but only
            ** when the holiday itself is a Tuesday to Friday: a Monday holiday
            ** follows a weekend, and a holiday moved off a weekend has none. */
            int ownDate = rule == HOLIDAY_JULY_4 ? MakeDate(year, 7, 4) : MakeDate(year, 12, 25);
            if ((rule == HOLIDAY_JULY_4 || rule == HOLIDAY_CHRISTMAS) && date == ownDate && DayOfWeek(date) != 1)
                ok = AddHolidayPair(list, PrevDay(date), 1);
            if (ok) ok = AddHolidayPair(list, date, 0);
            if (ok && rule == HOLIDAY_NOVEMBER_THURSDAY) ok = AddHolidayPair(list, NextDay(date), 1);
        }
    }
    if (!ok) {
        FreeMemory(&list->pairs);
        list->capacity = 0;
        list->count = 0;
        return 0;
    }
    if (log) {
        for (int32_t i = 0; i < list->count; i++) {
            char text[32];
            FormatDefaultDate(list->pairs[i].date, text);
            if (list->pairs[i].earlyClose)
                LogPrintf("*%s", text);
            else
                LogPrintf("%s", text);
        }
    }
    return 1;
}

static const HolidayList *ApplicableHolidays(int strategy)
{
    const HolidayList *own = gCalendar.strategies.holidays ? gCalendar.strategies.holidays(strategy) : nullptr;
    return own ? own : &gCalendar.holidays;
}

int IsCalendarHoliday(int32_t date, int earlyClose, int strategy)
{
    const HolidayList *list = ApplicableHolidays(strategy);
    for (int32_t i = 0; i < list->count; i++)
        if (list->pairs[i].date == date && list->pairs[i].earlyClose == earlyClose) return 1;
    return 0;
}

/* ---- periods ---------------------------------------------------------------------- */

int SameBarPeriod(int32_t a, int32_t b, int barSize)
{
    switch (barSize) {
    case BAR_WEEKLY: {
        /* days from a's Monday to b: both lie in one calendar week when 0..6 */
        int offset = DaysBetween(a, b) + DayOfWeek(a) - 1;
        return offset >= 0 && offset <= 6;
    }
    case BAR_MONTHLY: return a / 100 == b / 100;
    case BAR_QUARTERLY: return DateYear(a) == DateYear(b) && DateQuarter(a) == DateQuarter(b);
    case BAR_YEARLY: return DateYear(a) == DateYear(b);
    default: return a == b;
    }
}

/* The calendar day on which the period of barSize holding date begins. */
static int32_t CalendarPeriodStart(int32_t date, int barSize)
{
    switch (barSize) {
    case BAR_WEEKLY:
        for (int k = DayOfWeek(date); k > 1; k--) date = PrevDay(date);
        return date;
    case BAR_MONTHLY: return date / 100 * 100 + 1;
    case BAR_QUARTERLY: return MakeDate(DateYear(date), (DateQuarter(date) - 1) * 3 + 1, 1);
    default: return DateYear(date) * 10000 + 101;
    }
}

int32_t GetPeriodFirstDate(int32_t date, int32_t count, int32_t barSize)
{
    if (barSize < BAR_WEEKLY || barSize > BAR_YEARLY || count > 1) return date;
    const DateList *list = &gStore.dateLists[BAR_DAILY];
    if (list->count <= 0 || !list->dates) return date;
    if (date < (int32_t)list->dates[0]) return (int32_t)list->dates[0];
    /* The first listed date on or after the period's first calendar day is the
    ** period's first market date when it is not after the date itself; a
    ** binary search finds it without walking a whole year of dates.  A period
    ** with no market date up to the date (a holiday Monday, a date beyond the
    ** data) begins on the date itself. */
    int i = FindDateIndex(list, CalendarPeriodStart(date, barSize), 1);
    if (i >= 0 && (int32_t)list->dates[i] <= date) return (int32_t)list->dates[i];
    return date;
}

/* ---- stepping, counting, searching ---------------------------------------------------- */

/* Index of the last list date on or before date, -1 when all are later. */
static int LastOnOrBefore(const DateList *list, int32_t date)
{
    int lo = -1, hi = list->count;
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        if ((int32_t)list->dates[mid] <= date)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

/* One trading day from date in direction dir, over weekends and full holidays;
** 0 when that would leave the valid dates. */
static int32_t StepTradingDay(int32_t date, int dir, int strategy)
{
    do {
        if (dir > 0 ? date >= DATE_LAST_VALID : date <= DATE_FIRST_VALID) return 0;
        date = dir > 0 ? NextDay(date) : PrevDay(date);
    } while (DayOfWeek(date) >= 6 || IsCalendarHoliday(date, 0, strategy));
    return date;
}

/* A session of the list inside its dates, else a weekday that is no full holiday. */
static int IsTradingDay(const DateList *list, int32_t date)
{
    if (list && list->count > 0 && list->dates && (int32_t)list->dates[0] <= date &&
        date <= (int32_t)list->dates[list->count - 1]) {
        int i = LastOnOrBefore(list, date);
        return i >= 0 && (int32_t)list->dates[i] == date;
    }
    return DayOfWeek(date) < 6 && !IsCalendarHoliday(date, 0, list ? list->holidayStrategy : 0);
}

int32_t OffsetTradingDate(const DateList *list, int32_t date, int n)
{
    if (date < DATE_FIRST_VALID || date > DATE_LAST_VALID) return 0;
    if (list && list->count > 0 && list->dates && (int32_t)list->dates[0] <= date &&
        date <= (int32_t)list->dates[list->count - 1]) {
        int i = LastOnOrBefore(list, date);
        int64_t j = (int64_t)i + n;
        if (j >= 0 && j < list->count) return (int32_t)list->dates[j];
    }
    if (n == 0) return date;
    int strategy = list ? list->holidayStrategy : 0;
    int barSize = list ? list->barSize : BAR_DAILY;
    int daily = barSize < BAR_WEEKLY || barSize > BAR_YEARLY;
    int dir = n > 0 ? 1 : -1;
    int64_t need = n > 0 ? (int64_t)n : -(int64_t)n;
    int64_t counted = 0;
    int32_t day = date;
    for (;;) {
        int32_t from = day;
        day = StepTradingDay(day, dir, strategy);
        if (day == 0) return 0; /* the calendar ends before the periods do */
        if (daily) {
            if (++counted == need) return day;
        } else if (from != date && !SameBarPeriod(from, day, barSize)) {
            if (++counted == need) return from;
        }
    }
}

static const DateList *DailyListOf(const StrategyRecord *strategy)
{
    const DateList *own =
        strategy && gCalendar.strategies.dateList ? gCalendar.strategies.dateList(strategy, BAR_DAILY) : nullptr;
    return own ? own : &gStore.dateLists[BAR_DAILY];
}

int IsPeriodEnd(int32_t date, int barSize, const StrategyRecord *strategy)
{
    if (barSize == BAR_DAILY) return 1;
    if (barSize < BAR_WEEKLY || barSize > BAR_YEARLY) return 0;
    int32_t next = OffsetTradingDate(DailyListOf(strategy), date, 1);
    return !SameBarPeriod(date, next, barSize);
}

int32_t GetPeriodEndDate(int32_t date, int barSize, const StrategyRecord *strategy)
{
    if (barSize < BAR_WEEKLY || barSize > BAR_YEARLY || date == 0) return date;
    const DateList *daily = DailyListOf(strategy);
    while (!IsPeriodEnd(date, barSize, strategy)) {
        int32_t next = OffsetTradingDate(daily, date, 1);
        if (next <= date) break;
        date = next;
    }
    return date;
}

int ComparePeriodEnds(int32_t a, int32_t b)
{
    if (gCalendar.compareBarSize != 0) {
        a = GetPeriodEndDate(a, gCalendar.compareBarSize, gCalendar.compareStrategy);
        b = GetPeriodEndDate(b, gCalendar.compareBarSize, gCalendar.compareStrategy);
    }
    return (a > b) - (a < b);
}

int CountTradingDays(const DateList *list, int32_t a, int32_t b)
{
    int32_t lo = a < b ? a : b, hi = a < b ? b : a;
    if (lo < DATE_FIRST_VALID || hi > DATE_LAST_VALID) return 0;
    int count = 0;
    if (list && list->count > 0 && list->dates && gStore.firstDate <= lo && hi <= gStore.lastDate) {
        int j = LastOnOrBefore(list, hi);
        int i = LastOnOrBefore(list, lo);
        if (i < 0 || (int32_t)list->dates[i] != lo) i++; /* first date on or after lo */
        count = (j >= i && i < list->count) ? j - i + 1 : 0;
    } else {
        if (DateYear(hi) - DateYear(lo) > 1000) return 0;
        const DateList *daily = &gStore.dateLists[BAR_DAILY];
        /* lo counts only when it is a session, as inside the data. */
        int32_t day = IsTradingDay(daily, lo) ? lo : OffsetTradingDate(daily, lo, 1);
        while (day != 0 && day <= hi) {
            count++;
            int32_t next = OffsetTradingDate(daily, day, 1);
            if (next <= day) break;
            day = next;
        }
        static const int kPerPeriod[BAR_SIZE_COUNT] = {1, 5, 21, 63, 252};
        int barSize = list ? list->barSize : BAR_DAILY;
        if (barSize >= BAR_WEEKLY && barSize <= BAR_YEARLY) count /= kPerPeriod[barSize];
    }
    return a > b ? -count : count;
}

int FindDateIndex(const DateList *list, int32_t date, int direction)
{
    if (!list || list->count <= 0 || !list->dates) return 0;
    int i = LastOnOrBefore(list, date);
    if (i >= 0 && (int32_t)list->dates[i] == date) return i;
    if (direction == 0) return -1;
    if (direction > 0) return i + 1 < list->count ? i + 1 : -1;
    return i;
}

int InitDefaultDateList(DateList *list, int barSize)
{
    if (list->capacity < 3 || !list->dates) {
        if (!ReallocMemory(&list->dates, 3 * sizeof(uint32_t))) return 0;
        list->capacity = 3;
    }
    PlatDateTime now;
    PlatGetLocalTime(&now);
    int32_t last = MakeDate(now.year, now.month, now.day);
    while (DayOfWeek(last) >= 6) last = PrevDay(last);
    int32_t first = PrevDay(last);
    while (DayOfWeek(first) >= 6) first = PrevDay(first);
    list->dates[0] = (uint32_t)first;
    list->dates[1] = (uint32_t)last;
    list->dates[2] = 0;
    list->count = 2;
    list->barSize = barSize;
    gStore.firstDate = first;
    gStore.lastDate = last;
    return 1;
}
