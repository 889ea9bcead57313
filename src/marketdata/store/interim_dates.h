/* interim_dates.h -- the few calendar routines the store needs, until the
** foundation's date module is merged in. */
#pragma once
#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

inline int DateYear(int32_t date) { return date / 10000; }
inline int DateMonth(int32_t date) { return (date / 100) % 100; }
inline int DateDay(int32_t date) { return date % 100; }
inline int DateQuarter(int32_t date) { return (DateMonth(date) - 1) / 3 + 1; }
inline int32_t MakeDate(int y, int m, int d) { return (y * 100 + m) * 100 + d; }
inline int IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
inline int DaysInMonth(int y, int m)
{
    static const int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m];
}
inline int32_t NextDay(int32_t date)
{
    int y = DateYear(date), m = DateMonth(date), d = DateDay(date);
    if (d < DaysInMonth(y, m)) return date + 1;
    if (m < 12) return MakeDate(y, m + 1, 1);
    return MakeDate(y + 1, 1, 1);
}
inline int32_t PrevDay(int32_t date)
{
    int y = DateYear(date), m = DateMonth(date), d = DateDay(date);
    if (d > 1) return date - 1;
    if (m > 1) return MakeDate(y, m - 1, DaysInMonth(y, m - 1));
    return MakeDate(y - 1, 12, 31);
}
inline int64_t InterimDayNumber(int32_t date)
{
    int64_t y = DateYear(date), m = DateMonth(date), d = DateDay(date);
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}
inline int DaysBetween(int32_t a, int32_t b) { return (int)(InterimDayNumber(b) - InterimDayNumber(a)); }
inline int DayOfWeek(int32_t date)
{
    if (date < 10000101 || date > 99991231) return 0;
    int64_t n = InterimDayNumber(date) - InterimDayNumber(20240101);  /* a Monday */
    int64_t w = ((n % 7) + 7) % 7;
    return (int)w + 1;
}
inline int FormatDefaultDate(int32_t date, char out[32])
{
    return snprintf(out, 32, "%d/%d/%02d", DateMonth(date), DateDay(date), DateYear(date) % 100);
}
