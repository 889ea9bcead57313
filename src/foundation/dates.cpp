/* dates.cpp -- calendar arithmetic, date pictures, date and time parsing. */
#include "foundation/dates.h"

#include <chrono>
#include <cstdint>
#include <cstring>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"

const char *const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
static const char *const kMonthFullNames[12] = {"January", "February", "March", "April",
                                                "May", "June", "July", "August",
                                                "September", "October", "November", "December"};
/* Indexed by weekday 1 Monday .. 7 Sunday. */
static const char *const kDayNames[8] = {"", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
static const char *const kDayFullNames[8] = {"", "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday", "Sunday"};

/* Days before each month in a common year, indexed 1..12. */
static const int kDaysBefore[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
static const int kMonthLength[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

/* ---- arithmetic ------------------------------------------------------------------ */

int IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kMonthLength[month];
}

int DayOfYear(int date)
{
    int month = DateMonth(date);
    if (month < 1 || month > 12) return 0;
    int year = DateYear(date);
    return kDaysBefore[month] + DateDay(date) + (month >= 3 && IsLeapYear(year) ? 1 : 0);
}

/* Days from 1 January 1970 to the date (negative before it), so that the
** difference of two day numbers is the days between them in any year. */
static int64_t DayNumber(int date)
{
    int64_t y = DateYear(date), m = DateMonth(date), d = DateDay(date);
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

/* The calendar date of a day number (the inverse of DayNumber). */
static void CivilDate(int64_t days, int *pYear, int *pMonth, int *pDay)
{
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    *pYear = (int)(yoe + era * 400 + (m <= 2));
    *pMonth = (int)m;
    *pDay = (int)d;
}

int DateFromDayNumber(int64_t days)
{
    /* 1 January of the year 1 and 31 December 9999 from 1 January 1970; the
    ** bounds also keep any count far from the int64 limits out of CivilDate. */
    if (days < -719162 || days > 2932896) return 0;
    int year, month, day;
    CivilDate(days, &year, &month, &day);
    return MakeDate(year, month, day);
}

int DayOfWeek(int date)
{
    int month = DateMonth(date), day = DateDay(date);
    if (date < 10000101 || date > 99991231 || month < 1 || month > 12 || day < 1 || day > 31) return 0;
    /* 1 January 1970 was a Thursday (4). */
    int64_t n = (DayNumber(date) + 3) % 7;
    if (n < 0) n += 7;
    return (int)n + 1;
}

int DaysBetween(int a, int b)
{
    return (int)(DayNumber(b) - DayNumber(a));
}

int NextDay(int date)
{
    int year = DateYear(date), month = DateMonth(date), day = DateDay(date);
    if (day < DaysInMonth(year, month)) return date + 1;
    if (month < 12) return MakeDate(year, month + 1, 1);
    return MakeDate(year + 1, 1, 1);
}

int PrevDay(int date)
{
    int year = DateYear(date), month = DateMonth(date), day = DateDay(date);
    if (day > 1) return date - 1;
    if (month > 1) return MakeDate(year, month - 1, DaysInMonth(year, month - 1));
    return MakeDate(year - 1, 12, 31);
}

int WeekOfYear(int date)
{
    return (DayOfYear(date) - 2 + DayOfWeek(MakeDate(DateYear(date), 1, 1))) / 7 + 1;
}

void GetUtcDateTime(PlatDateTime *out)
{
    using namespace std::chrono;
    int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    int64_t days = ms >= 0 ? ms / 86400000 : (ms - 86399999) / 86400000;
    int64_t inDay = ms - days * 86400000;
    CivilDate(days, &out->year, &out->month, &out->day);
    out->dayOfWeek = (int)(((days + 4) % 7 + 7) % 7); /* 0 Sunday */
    out->hour = (int)(inDay / 3600000);
    out->minute = (int)(inDay / 60000 % 60);
    out->second = (int)(inDay / 1000 % 60);
    out->milliseconds = (int)(inDay % 1000);
}

/* ---- date pictures ------------------------------------------------------------------ */

struct TextOut {
    char *out;
    int length;
    int cut; /* 1 once something did not fit */
};

static void Put(TextOut *t, const char *text)
{
    for (; *text; text++) {
        if (t->length + 1 >= DATE_TEXT_SIZE) {
            t->cut = 1;
            return;
        }
        t->out[t->length++] = *text;
    }
}

static void PutNumber(TextOut *t, int value, int width)
{
    char digits[16];
    FormatText(digits, sizeof digits, "%0*d", width, value);
    Put(t, digits);
}

int FormatDate(int date, const char *picture, char out[DATE_TEXT_SIZE])
{
    if (date == 0) {
        CopyString(out, DATE_TEXT_SIZE, "n/a", -1);
        return 0;
    }
    int year = DateYear(date), month = DateMonth(date), day = DateDay(date);
    /* A number that is no date is shown as it is rather than as a wrong date. */
    if (date < 0 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return FormatText(out, DATE_TEXT_SIZE, "%d", date);

    TextOut t = {out, 0, 0};
    int quoted = 0;
    const char *p = picture ? picture : "";
    while (*p) {
        char c = *p;
        if (c == '\'') {
            if (p[1] == '\'') { /* two quotes stand for one */
                Put(&t, "'");
                p += 2;
            } else {
                quoted = !quoted;
                p++;
            }
            continue;
        }
        if (quoted || (c != 'd' && c != 'M' && c != 'y' && c != 'g')) {
            char one[2] = {c, 0};
            Put(&t, one);
            p++;
            continue;
        }
        int run = 0;
        while (p[run] == c) run++;
        p += run;
        switch (c) {
        case 'd':
            if (run <= 2)
                PutNumber(&t, day, run);
            else
                Put(&t, run == 3 ? kDayNames[DayOfWeek(date)] : kDayFullNames[DayOfWeek(date)]);
            break;
        case 'M':
            if (run <= 2)
                PutNumber(&t, month, run);
            else
                Put(&t, run == 3 ? kMonthNames[month - 1] : kMonthFullNames[month - 1]);
            break;
        case 'y':
            if (run <= 2)
                PutNumber(&t, year % 100, run);
            else
                PutNumber(&t, year, 1);
            break;
        case 'g':
            Put(&t, "A.D.");
            break;
        }
    }
    out[t.length] = 0;
    return t.cut ? 0 : t.length;
}

int FormatDefaultDate(int date, char out[DATE_TEXT_SIZE])
{
    return FormatDate(date, gSettings.DateDisplayFormat, out);
}

/* ---- parsing ----------------------------------------------------------------------- */

/* The parsers follow the C library's scanf rules (white space before a
** number skipped, a literal separator matched exactly) but read numbers
** themselves, so an overlong number saturates instead of being undefined and
** both builds read every text alike. */
static int IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static void SkipBlanks(const char **pp)
{
    while (IsBlank(**pp)) (*pp)++;
}

static int ScanInt(const char **pp, int *out)
{
    const char *p = *pp;
    SkipBlanks(&p);
    int negative = 0;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return 0;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        if (value < 10000000000ll) value = value * 10 + (*p - '0');
    if (value > INT32_MAX) value = INT32_MAX;
    *out = negative ? -(int)value : (int)value;
    *pp = p;
    return 1;
}

/* Reads up to three numbers separated by sep; returns how many were read. */
static int ScanTriple(const char *text, char sep, int v[3])
{
    const char *p = text;
    int n = 0;
    while (n < 3) {
        if (n > 0) {
            if (*p != sep) break;
            p++;
        }
        if (!ScanInt(&p, &v[n])) break;
        n++;
    }
    return n;
}

/* " %d-%3s-%d": day, month abbreviation, year. */
static int ScanDayMonthName(const char *text, int v[3])
{
    const char *p = text;
    if (!ScanInt(&p, &v[0]) || *p != '-') return 0;
    p++;
    SkipBlanks(&p);
    char name[4] = "";
    int n = 0;
    while (n < 3 && *p && !IsBlank(*p)) name[n++] = *p++;
    name[n] = 0;
    if (n == 0 || *p != '-') return 0;
    p++;
    if (!ScanInt(&p, &v[2])) return 0;
    v[1] = 0;
    for (int i = 0; i < 12; i++)
        if (CompareNoCase(name, kMonthNames[i]) == 0) v[1] = i + 1;
    return 1;
}

/* Completes a two-digit year and checks the whole date; 0 when it is none. */
static int CheckedDate(int year, int month, int day)
{
    if (year >= 0 && year <= 49)
        year += 2000;
    else if (year >= 50 && year <= 99)
        year += 1900;
    if (year < 1000 || year > 9999) return 0;
    if (month < 1 || month > 12) return 0;
    if (day < 1 || day > DaysInMonth(year, month)) return 0;
    return MakeDate(year, month, day);
}

int ParseDate(const char *text) { return ParseDateInOrder(text, gSettings.DateInputFormat == 1); }

int ParseDateInOrder(const char *text, int dayFirst)
{
    if (!text) {
        PlatDateTime now;
        PlatGetLocalTime(&now);
        return MakeDate(now.year, now.month, now.day);
    }
    if (FindTextNoCase(text, "1/1/0001") || FindTextNoCase(text, "0001-01-01")) return 0;

    const char *p = text;
    int whole = 0;
    if (ScanInt(&p, &whole) && whole >= 10000101 && whole <= 99991231)
        return CheckedDate(DateYear(whole), DateMonth(whole), DateDay(whole));

    static const char kSeparators[3] = {'/', '-', '.'};
    int v[3];
    for (char sep : kSeparators) {
        if (ScanTriple(text, sep, v) != 3) continue;
        if (v[0] >= 1001 && v[0] <= 9999) return CheckedDate(v[0], v[1], v[2]);
        if (dayFirst) return CheckedDate(v[2], v[1], v[0]);
        return CheckedDate(v[2], v[0], v[1]);
    }
    if (ScanDayMonthName(text, v)) return v[1] ? CheckedDate(v[2], v[1], v[0]) : 0;
    return 0;
}

static int ClampToInt(int64_t value)
{
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return (int)value;
}

int ParseTime(const char *text)
{
    if (!text) {
        PlatDateTime now;
        PlatGetLocalTime(&now);
        return (now.hour * 100 + now.minute) * 100 + now.second;
    }
    int v[3] = {0, 0, 0};
    int n = ScanTriple(text, ':', v);
    if (n < 2) {
        int64_t value = v[0];
        if (value >= 10000) return v[0];                  /* already hhmmss */
        if (value >= 100) return ClampToInt(value * 100); /* hhmm */
        return ClampToInt(value * 10000);                 /* hours alone */
    }
    return ClampToInt(((int64_t)v[0] * 100 + v[1]) * 100 + v[2]);
}

int ReadTimeOfDay(const char *text, int32_t *time)
{
    *time = 0;
    const char *p = text;
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) return 1;
    if (!strpbrk(p, "0123456789")) return 0;
    const int32_t t = ParseTime(p);
    *time = t;
    /* Each part of "h:mm:ss" on its own: packed, a second of 100 would carry
    ** into the minute ("9:30:100" 9:31:00) and a minute below 0 borrow from
    ** the hour ("9:-50" 8:50:00). */
    int v[3] = {0, 0, 0};
    if (ScanTriple(p, ':', v) >= 2 && (v[0] < 0 || v[1] < 0 || v[1] > 59 || v[2] < 0 || v[2] > 59)) return 0;
    return t >= 0 && t / 10000 <= 23 && t / 100 % 100 <= 59 && t % 100 <= 59;
}
