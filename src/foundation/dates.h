/* dates.h -- calendar arithmetic on yyyymmdd dates, date pictures, and the
** parsers for the ways users type dates and times.
**
** Model:      a date is an int yyyymmdd (20240105) on the proleptic Gregorian
**             calendar, valid in 10000101..99991231, 0 meaning no date; a time
**             of day is an int hhmmss (93000 for 09:30:00); weekdays run
**             1 Monday .. 7 Sunday.
** Reads:      gSettings.DateDisplayFormat (FormatDefaultDate) and
**             gSettings.DateInputFormat (0 month first, 1 day first; ParseDate).
** Pictures:   FormatDate takes the Windows date pictures ("M/d/yy",
**             "ddd d MMM yyyy", ...) with English names, formatted here rather
**             than by the system so that every build writes the same text and
**             any year in the model can be written.
** Errors:     no messages.  ParseDate returns 0 for text that is no date; callers
**             report in their own words.
** Threads:    everything may be called from any thread; no allocation.  The
**             arithmetic sits on hot paths (the date loop), so it is integer
**             work only.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

enum { DATE_TEXT_SIZE = 32 };
/* The dates of the model; 0 (no date) lies outside. */
enum { DATE_FIRST_VALID = 10000101,
       DATE_LAST_VALID = 99991231 };

/* The month abbreviations ParseDate accepts and FormatDate writes for "MMM". */
extern const char *const kMonthNames[12];

int DayOfYear(int date);              /* 1..366 */
int DayOfWeek(int date);              /* 1 Monday .. 7 Sunday; 0 for no valid date */
int DaysInMonth(int year, int month); /* 28..31; 0 for a month outside 1..12 */
int IsLeapYear(int year);
/* b - a in days: negative when b is earlier. */
int DaysBetween(int a, int b);
/* The date that lies days after 1 January 1970 (before it when negative);
** 0 outside the years 1..9999.  Unix times and OLE dates come as such counts. */
int DateFromDayNumber(int64_t days);
int NextDay(int date);
int PrevDay(int date);
/* 1..54: weeks start on Monday and week 1 holds 1 January. */
int WeekOfYear(int date);
inline int DateDay(int date) { return date % 100; }
inline int DateMonth(int date) { return date / 100 % 100; }
inline int DateQuarter(int date) { return (DateMonth(date) - 1) / 3 + 1; }
inline int DateYear(int date) { return date / 10000; }
inline int MakeDate(int year, int month, int day) { return (year * 100 + month) * 100 + day; }

/* Writes the date in a Windows date picture into out (32 bytes) and returns the
** text's length.  Date 0 writes "n/a" and returns 0.  A number that is no
** calendar date (month or day out of range) is written as the number itself.
** Text that would not fit is cut, and 0 is returned. */
int FormatDate(int date, const char *picture, char out[DATE_TEXT_SIZE]);
/* FormatDate with the DateDisplayFormat setting. */
int FormatDefaultDate(int date, char out[DATE_TEXT_SIZE]);

/* The date a text holds, or 0 when it holds none.  Null text gives today's
** local date.  Tried in turn: a yyyymmdd integer; three numbers separated by
** '/', '-' or '.' (year first when the first is 1001..9999, else in the order
** of DateInputFormat); day-Mon-year.  Two-digit years 0..49 are 2000..2049,
** 50..99 are 1950..1999; the result must be a real calendar date with a year
** in 1000..9999.  The empty dates of other programs (1/1/0001, 0001-01-01)
** give 0. */
int ParseDate(const char *text);
/* ParseDate with the order of day and month given (0 month first, 1 day
** first) instead of DateInputFormat's. */
int ParseDateInOrder(const char *text, int dayFirst);
/* The time a text holds as hhmmss ("9:30" 93000, "930" 93000, "93000", "9"
** 90000); null gives the current local time.  Text without a number gives 0.
** No range check is made. */
int ParseTime(const char *text);
/* The time text of a file into *time (hhmmss; 0 for an empty text): 1, or 0
** when the text is no time of day (no digit, or an hour past 23, a minute or
** second past 59), which would be stored as a time no clock shows. */
int ReadTimeOfDay(const char *text, int32_t *time);

/* The current time in UTC, broken down like PlatGetLocalTime. */
void GetUtcDateTime(PlatDateTime *out);

/* Date-time picker controls (window builds only). */
int GetDateControl(void *dialog, int controlId);
void SetDateControl(void *dialog, int controlId, int date);
