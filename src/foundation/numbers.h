/* numbers.h -- comparing, rounding and printing doubles.
**
** Every price, statistic and script value is a double.  This module holds the
** program's one notion of "equal within tolerance" (sorting, tests, display),
** the rounding rules (significant digits, multiples of a step such as a tick)
** and the two number-to-text formatters: FormatDouble, the general one, and
** FormatNumber, driven by the display format codes of script display hints,
** with thousands separators and currency signs; and the price and trimmed
** texts shared by order lists, charts, the debug panel and the script.
**
** Owns:       gHtmlReport (set by the report writer while it writes HTML).
**             The account currency is gSettings.Currency.
** Results:    comparisons give -1 (first is less), 0 (equal within tolerance)
**             or 1 (first is greater).  NaN sorts below every number and equal
**             to NaN; -infinity below and +infinity above every finite value,
**             so the comparisons stay a valid sort order.
** Buffers:    the formatters write into an out buffer of NUMBER_TEXT_SIZE
**             characters and never past it (over-long text is cut, always
**             terminated); InsertCommas and ApplyCurrencySign take the size of
**             the buffer they grow.  Every routine returns the length of the
**             text left in the buffer.
** Exactness:  powers of ten come from a table of exactly rounded constants
**             rather than pow/log10, and printing is C99 printf in both builds,
**             so both builds produce the same digits.
** Threads:    everything here is reentrant.  The account currency and the HTML
**             flag are written on the UI thread while no worker formats.
*/
#pragma once
#include <cmath>
#include <cstdint>

enum {
    NUMBER_TEXT_SIZE = 80 /* characters of every formatter's out buffer */
};

/* Display format codes of script display hints. */
enum DisplayFormat {
    DISPLAY_GENERAL = 0,
    DISPLAY_PLAIN = 1, /* number without thousands separators */
    DISPLAY_NUMBER = 2,
    DISPLAY_CURRENCY = 3,
    DISPLAY_PERCENT = 4,
    DISPLAY_PRICE32 = 5, /* price in 32nds */
    DISPLAY_DATE = 6,
    DISPLAY_TRUTH = 7
};

/* Automatic decimals of FormatDouble (any count 0 and up is taken as given). */
enum {
    DECIMALS_TRIMMED = -1,       /* 2, 4 or 6 decimals by size; whole numbers and .00 trimmed */
    DECIMALS_ABBREVIATED = -2,   /* whole number, 1.2K / 3.4M / 5.6B / 7.8T */
    DECIMALS_FEWEST_FROM_2 = -3, /* fewest of 2..5 decimals that keep the value, else 6 */
    DECIMALS_FEWEST = -4,        /* fewest of 0..5 decimals that keep the value, else 6 */
    DECIMALS_TRIMMED_6 = -10     /* 6 decimals; whole numbers and .000000 trimmed */
};

/* 1 while an HTML report is written: currency signs become HTML entities. */
extern int32_t gHtmlReport;

/* ---- comparison and rounding ------------------------------------------------ */

/* Compares within relative times the larger magnitude.  Inline: sorts and
** the date loop compare on every step. */
inline int CompareWithin(double a, double b, double relative)
{
    if (a == b) return 0;
    int aNan = std::isnan(a), bNan = std::isnan(b);
    if (aNan || bNan) return aNan && bNan ? 0 : (aNan ? -1 : 1);
    /* An infinite tolerance would make an infinity equal to every number and
    ** break the ordering that sorts rely on, so infinities order by sign. */
    if (std::isinf(a) || std::isinf(b)) return a < b ? -1 : 1;
    double tolerance = std::fmax(std::fabs(a), std::fabs(b)) * relative;
    if (a - b > tolerance) return 1;
    if (b - a > tolerance) return -1;
    return 0;
}
/* Compares within a relative tolerance of 1e-14 of the larger magnitude. */
inline int CompareDouble(double a, double b) { return CompareWithin(a, b, 1e-14); }
/* The same with a relative tolerance of 1e-6 (prices). */
inline int CompareDoubleApprox(double a, double b) { return CompareWithin(a, b, 1e-6); }
/* qsort comparator over two doubles, by CompareDouble. */
int CompareDoublePtr(const void *a, const void *b);
/* min(max(value, low), high): high wins when low > high. */
int32_t ClampInt(int32_t value, int32_t low, int32_t high);
/* A number used as a date, count, code or strategy number, truncated and held
** inside the 32-bit range (NaN gives 0). */
int32_t Whole(double v);
/* Rounds to that many significant digits, halves away from zero.  0, NaN and
** infinities come back unchanged. */
double RoundSignificant(double value, uint32_t digits);
/* Rounds to a multiple of step.  mode -1 toward zero, 0 nearest with halves
** away from zero, 1 away from zero.  The value is taken at its first 15
** significant decimal digits, so the representation error of a double (or of
** the product that made it) never moves it across a multiple or a half step:
** 70.1 x 0.95 is 66.595 and rounds to 66.60; with a step of 1/n the multiple k comes back
** as k / n, the double nearest its decimal (99.49, not 99.49000000000001).
** 0, a step not above 0 and non-finite values
** come back unchanged; any other mode gives 0.0. */
double RoundToStep(double value, double step, int32_t mode);
/* 10^exponent as the exactly rounded double (0 below 1e-323, +inf above 1e308). */
double PowerOfTen(int exponent);

/* A NaN without its sign bit (other values unchanged), so that printing it
** gives the same text in both builds. */
double UnsignedNaN(double value);

/* ---- numbers in files from other programs ---------------------------------------- */

enum NumberTextKind { DECIMAL_NUMBER, /* a sign, digits with at most one point, an exponent */
                      WHOLE_NUMBER }; /* a sign and digits, in the 32-bit range */

/* Why text (blanks around it aside) cannot be the value of a number field of
** kind, said after the text ("not a number", "not a whole number", "out of
** range", "not a finite number"); null when it can, or is empty.  Text, or an
** infinite or undefined number, is never taken for a number, nor is the
** number a text begins with.  *value (when given) receives the value. */
const char *NumberTextFault(const char *text, int kind, double *value = nullptr);
/* 1 when [p, end) is a decimal number: a sign, digits with at most one point
** (the character given), an exponent; dropped (0 for none) is a separator of
** thousands that may stand among the digits. */
int IsDecimalText(const char *p, const char *end, char point = '.', char dropped = 0);
/* 1 when the thousands separator at p is one: exactly three digits follow
** it before end or the next character that is no digit ("10,5" and
** "22,72" hold a decimal separator, not a thousands one). */
int GroupsThousands(const char *p, const char *end);

/* ---- formatting ---------------------------------------------------------------- */

/* Prints value with decimals 0 and up, or one of the automatic modes above
** (other negative counts print 6 decimals).  Magnitudes above 1e15 or below
** 1e-15, zero included, print as "%g".  Thousands separators go only into
** text without decimals, and not with noCommas.  Returns the text's length. */
int FormatDouble(double value, int32_t decimals, int32_t noCommas, char *out);
/* Prints value by display format code (DisplayFormat) and decimals (automatic
** modes as FormatDouble).  negParens puts a negative currency amount in
** parentheses; currency null or empty means the account currency.  NaN
** prints "n/a".  Returns the text's length. */
int FormatNumber(double value, int32_t code, int32_t decimals, int32_t negParens,
                 const char *currency, char *out);
/* Puts a "," before every group of three digits, counted from the right end of
** the text's first run of digits, when that run has 4 digits or more.  The
** text is cut at size - 1 when the separators do not fit.  Returns the new
** length. */
int InsertCommas(char *text, int32_t length, int32_t size);
/* Replaces every "$" in the text by the currency's sign: nothing changes when
** the currency is the account currency and a dollar (third letter "D"); "EUR",
** "GBP" and "JPY" give their own characters (HTML entities in an HTML report);
** any other code gives the code and a blank.  With no currency given and no
** account currency, the dollar stays.  The text is cut at size - 1 when it
** does not fit.  Returns the new length. */
int ApplyCurrencySign(char *text, int32_t length, int32_t size, const char *currency);
/* Prints a price with as many decimals as the tick needs (the fewest from 0 to
** 8 that make the tick a whole number; the price itself stands for a tick of
** 0).  With ShowBondPriceFractional on, outside order generation and a tick of
** 1/32, 1/64, 1/128 or 1/256, it prints whole points, an apostrophe and the
** 32nds times ten: 99.5 gives "99'160". */
int FormatPrice(double value, double tick, char *out);
/* Prints with up to 15 decimals and no trailing zeros: "%.15g", or "%.15f" for
** a non-zero value between -1 and 1.  Exponent forms are left whole. */
int FormatTrimmedNumber(double value, char *out);
/* Prints a number of a CSV file that is read back: with the digits that read
** back as the same double, 15 significant ones (whole numbers below 10^15
** print without an exponent) or 17 where 15 are not enough. */
int FormatExactNumber(double value, char *out);
