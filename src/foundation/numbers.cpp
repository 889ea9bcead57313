/* numbers.cpp -- comparing, rounding and printing doubles. */
#include "foundation/numbers.h"

#include "foundation/dates.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "services/services.h"

int32_t gHtmlReport = 0;

/* ==== powers of ten ============================================================ */

/* The compiler rounds each decimal literal exactly, so this table gives the
** same doubles in every build, which pow(10, e) of two C libraries need not. */
#define KV_POS(e)       1e##e
#define KV_NEG(e)       1e-##e
#define KV_DECADE(M, d) M(d##0), M(d##1), M(d##2), M(d##3), M(d##4), \
                        M(d##5), M(d##6), M(d##7), M(d##8), M(d##9)
#define KV_UNITS(M)   M(0), M(1), M(2), M(3), M(4), M(5), M(6), M(7), M(8), M(9)
#define KV_DECADES(M) KV_UNITS(M), KV_DECADE(M, 1), KV_DECADE(M, 2), KV_DECADE(M, 3),                           \
                      KV_DECADE(M, 4), KV_DECADE(M, 5), KV_DECADE(M, 6), KV_DECADE(M, 7), KV_DECADE(M, 8),      \
                      KV_DECADE(M, 9), KV_DECADE(M, 10), KV_DECADE(M, 11), KV_DECADE(M, 12), KV_DECADE(M, 13),  \
                      KV_DECADE(M, 14), KV_DECADE(M, 15), KV_DECADE(M, 16), KV_DECADE(M, 17), KV_DECADE(M, 18), \
                      KV_DECADE(M, 19), KV_DECADE(M, 20), KV_DECADE(M, 21), KV_DECADE(M, 22), KV_DECADE(M, 23), \
                      KV_DECADE(M, 24), KV_DECADE(M, 25), KV_DECADE(M, 26), KV_DECADE(M, 27), KV_DECADE(M, 28), \
                      KV_DECADE(M, 29)

static const double kPositivePowers[] = {/* 1e0 .. 1e308 */
                                         KV_DECADES(KV_POS),
                                         1e300, 1e301, 1e302, 1e303, 1e304, 1e305, 1e306, 1e307, 1e308};
static const double kNegativePowers[] = {/* 1e-0 .. 1e-323 */
                                         KV_DECADES(KV_NEG),
                                         KV_DECADE(KV_NEG, 30), KV_DECADE(KV_NEG, 31),
                                         1e-320, 1e-321, 1e-322, 1e-323};
static_assert(sizeof kPositivePowers / sizeof(double) == 309);
static_assert(sizeof kNegativePowers / sizeof(double) == 324);

double PowerOfTen(int exponent)
{
    if (exponent >= 0)
        return exponent <= 308 ? kPositivePowers[exponent] : HUGE_VAL;
    return exponent >= -323 ? kNegativePowers[-exponent] : 0.0;
}

/* floor(log10(a)) for a finite a > 0, decided by comparison with the table so
** that a power of ten is never taken for the decade below it. */
static int DecimalExponent(double a)
{
    /* The binary exponent from the bits (frexp's for subnormals) and a first
    ** guess of floor((binary - 1) * log10(2)) in integers; the loops below
    ** settle the exact answer from any nearby guess. */
    uint64_t bits;
    memcpy(&bits, &a, sizeof bits);
    int biased = (int)((bits >> 52) & 0x7FF);
    int binary;
    if (biased)
        binary = biased - 1022; /* a = m * 2^binary, m in [0.5, 1) */
    else
        frexp(a, &binary);
    int e = ((binary - 1) * 78913) >> 18;
    if (e > -300 && e < 300) {
        /* Most values: a step or two through the tables, no range checks. */
        auto power = [](int k) { return k >= 0 ? kPositivePowers[k] : kNegativePowers[-k]; };
        while (power(e + 1) <= a) e++;
        while (power(e) > a) e--;
        return e;
    }
    while (e < 308 && PowerOfTen(e + 1) <= a) e++;
    while (e > -324 && PowerOfTen(e) > a) e--;
    return e;
}

/* Truncates to a 32-bit integer the way the processor's conversion does: a
** value out of range (or NaN) becomes INT32_MIN instead of undefined. */
static int32_t TruncToInt32(double x)
{
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return (int32_t)x;
}

double UnsignedNaN(double value)
{
    /* The Windows C library prints every NaN as "nan", glibc a negative one
    ** as "-nan"; clearing the sign makes both print "nan". */
    return std::isnan(value) ? fabs(value) : value;
}

/* ==== comparison and rounding ======================================================= */

int CompareDoublePtr(const void *a, const void *b)
{
    return CompareDouble(*(const double *)a, *(const double *)b);
}

int32_t Whole(double v)
{
    if (std::isnan(v)) return 0;
    if (v > 2.0e9) return 2000000000;
    if (v < -2.0e9) return -2000000000;
    return (int32_t)v;
}

int32_t ClampInt(int32_t value, int32_t low, int32_t high)
{
    if (value < low) value = low;
    return value > high ? high : value;
}

double RoundSignificant(double value, uint32_t digits)
{
    if (value == 0 || !std::isfinite(value)) return value;
    double a = fabs(value);
    int64_t scale = (int64_t)DecimalExponent(a) - ((int64_t)digits - 1);
    double result;
    if (scale < 0 && scale >= -22) {
        /* 10^-scale is exact here, so dividing by it rounds once and gives
        ** the double nearest the decimal result (0.00123, not 0.0012300000000000002). */
        double factor = PowerOfTen((int)-scale);
        double scaled = a * factor;
        if (scaled < 4503599627370496.0) {
            /* round() below 2^52, without the call: the fraction of a double
            ** is exact, and a half goes away from zero. */
            double whole = (double)(int64_t)scaled;
            result = (scaled - whole >= 0.5 ? whole + 1.0 : whole) / factor;
        } else {
            result = round(scaled) / factor;
        }
    } else {
        double step = PowerOfTen((int)(scale < -400 ? -400 : scale > 400 ? 400
                                                                         : scale));
        if (step == 0 || std::isinf(step)) return value;
        result = round(a / step) * step;
    }
    return value < 0 ? -result : result;
}

/* How many whole steps a magnitude holds, decided on its first 15 significant
** decimal digits: a price worked out as 70.1 x 0.95 is the half cent 66.595 to a
** trader, though the double carries it as 66.59499999999998, and a value a hair
** below a multiple (2.999999999999999) is that multiple.  Within 15 digits every
** number is a whole count of units and the division is exact.  Returns -1 where
** the step is not a whole count of those units (finer than the value's digits,
** or no decimal fraction of them): the caller then rounds as the double is. */
static double WholeStepsOfDigits(double a, double step, int32_t mode)
{
    int e = DecimalExponent(a);
    double unit = PowerOfTen(e - 14); /* one in the 15th significant digit */
    double digits = nearbyint(a / unit);
    if (digits >= 1e15) {
        unit = PowerOfTen(++e - 14);
        digits = nearbyint(a / unit);
    }
    double stepUnits = step / unit;
    double wholeUnits = nearbyint(stepUnits);
    /* A tiny value's unit may be so fine that the step holds more of them
    ** than a double counts (or infinitely many). */
    if (!(wholeUnits >= 1) || !(wholeUnits < 9007199254740992.0) || !(digits < 9007199254740992.0) ||
        fabs(stepUnits - wholeUnits) > wholeUnits * 1e-9)
        return -1;
    double steps = floor(digits / wholeUnits);
    double rest = digits - steps * wholeUnits;
    if (rest < 0) rest += wholeUnits, steps -= 1;
    if (rest >= wholeUnits) rest -= wholeUnits, steps += 1;
    if (mode == 0 && rest * 2 >= wholeUnits) steps += 1;
    if (mode > 0 && rest > 0) steps += 1;
    return steps;
}

double RoundToStep(double value, double step, int32_t mode)
{
    if (value == 0 || !(step > 0)) return value;
    if (mode < -1 || mode > 1) return 0.0;
    if (!std::isfinite(value) || !std::isfinite(step)) return value;
    double a = fabs(value);
    double steps = WholeStepsOfDigits(a, step, mode);
    if (steps < 0) {
        double epsilon = PowerOfTen(DecimalExponent(a) - 15);
        double addend = mode < 0 ? epsilon : mode == 0 ? step / 2 + epsilon
                                                       : step - epsilon;
        steps = floor((a + addend) / step);
    }
    /* A step that is a whole fraction (a tick of 0.01) gives the multiple as
    ** the division that names it: 9949 x 0.01 is a hair off 99.49, while
    ** 9949 / 100 is the very number a price file's 99.49 reads as. */
    double parts = nearbyint(1.0 / step);
    double result = parts >= 2 && fabs(1.0 / step - parts) <= parts * 1e-12 ? steps / parts : steps * step;
    return value < 0 ? -result : result;
}

/* ==== separators and currency signs ================================================= */

static int IsDigit(char c) { return c >= '0' && c <= '9'; }

/* Clamps a caller's length to what the buffer can hold. */
static int32_t UsableLength(int32_t length, int32_t size)
{
    if (length < 0) return 0;
    return length > size - 1 ? size - 1 : length;
}

int InsertCommas(char *text, int32_t length, int32_t size)
{
    if (!text || size < 1) return 0;
    length = UsableLength(length, size);
    int32_t start = 0;
    while (start < length && !IsDigit(text[start])) start++;
    int32_t end = start;
    while (end < length && IsDigit(text[end])) end++;
    int32_t run = end - start;
    if (run < 4) return length;

    int32_t commas = (run - 1) / 3;
    int32_t newLength = length + commas;
    int32_t limit = size - 1; /* characters beyond it are cut */
    /* Moves from the right end leftwards, so every character is read before
    ** its place is written; writes beyond the buffer are simply dropped. */
    int32_t dest = newLength - 1;
    for (int32_t src = length - 1; src >= start; src--) {
        if (dest < limit) text[dest] = text[src];
        dest--;
        if (src < end && src > start && (end - src) % 3 == 0) {
            if (dest < limit) text[dest] = ',';
            dest--;
        }
    }
    if (newLength > limit) newLength = limit;
    text[newLength] = 0;
    return newLength;
}

int ApplyCurrencySign(char *text, int32_t length, int32_t size, const char *currency)
{
    if (!text || size < 1) return 0;
    length = UsableLength(length, size);
    if (!currency || !currency[0]) currency = gSettings.Currency;
    /* With no currency known at all the dollar stays: a lone blank in its
    ** place would only hide that the amount is money. */
    if (!currency[0]) return length;
    if (CompareNoCase(currency, gSettings.Currency) == 0 && strlen(currency) >= 3 &&
        currency[2] == 'D')
        return length;

    char sign[64];
    if (CompareNoCase(currency, "EUR") == 0)
        CopyString(sign, sizeof sign, gHtmlReport ? "&euro;" : "\x80", -1);
    else if (CompareNoCase(currency, "GBP") == 0)
        CopyString(sign, sizeof sign, gHtmlReport ? "&pound;" : "\xA3", -1);
    else if (CompareNoCase(currency, "JPY") == 0)
        CopyString(sign, sizeof sign, gHtmlReport ? "&yen;" : "\xA5", -1);
    else
        FormatText(sign, sizeof sign, "%s ", currency);
    int32_t signLength = (int32_t)strlen(sign); /* at least 1 */

    int32_t dollars = 0;
    for (int32_t i = 0; i < length; i++) dollars += text[i] == '$';
    if (dollars == 0) return length;

    int64_t grown = (int64_t)length + (int64_t)dollars * (signLength - 1);
    int32_t limit = size - 1;
    int32_t newLength = grown > limit ? limit : (int32_t)grown;
    /* Right to left, as in InsertCommas: the text only moves rightwards, and
    ** nothing is written at or beyond the buffer's last character. */
    int64_t dest = grown - 1;
    for (int32_t src = length - 1; src >= 0; src--) {
        if (text[src] == '$') {
            for (int32_t k = signLength - 1; k >= 0; k--, dest--)
                if (dest < limit) text[dest] = sign[k];
        } else {
            if (dest < limit) text[dest] = text[src];
            dest--;
        }
    }
    text[newLength] = 0;
    return newLength;
}

/* ==== FormatDouble ================================================================== */

/* Fewest decimals from first to 5 that keep the value within CompareDouble's
** tolerance once rounded to them; 6 when none does. */
static int32_t FewestDecimals(double value, int32_t first)
{
    for (int32_t k = first; k <= 5; k++)
        if (CompareDouble(value, RoundToStep(value, PowerOfTen(-k), 0)) == 0) return k;
    return 6;
}

/* Whole numbers K, M, B, T with at most one decimal. */
static int FormatAbbreviated(double value, double a, char *out)
{
    /* clang-format off */
    static const struct { double from; double divisor; char suffix; } kScales[] = {
        { 1e12, 1e11, 'T' },
        { 1e9,  1e8,  'B' },
        { 1e6,  1e5,  'M' },
        { 1e3,  1e2,  'K' },
    };
    /* clang-format on */
    if (!(a < 1e15)) return -1;
    for (const auto &scale : kScales)
        if (a >= scale.from)
            return FormatText(out, NUMBER_TEXT_SIZE, "%g%c",
                              round(value / scale.divisor) / 10, scale.suffix);
    return -1;
}

/* Whether a magnitude below 1 prints as nothing but zeros with that many
** decimals (a zero itself does). */
static bool PrintsAsZero(double magnitude, int32_t decimals)
{
    if (magnitude == 0) return true;
    if (magnitude >= 1 || decimals < 0 || decimals > 20) return false;
    char text[32];
    FormatText(text, sizeof text, "%.*f", (int)decimals, magnitude);
    return strspn(text, "0.") == strlen(text);
}

int FormatDouble(double value, int32_t decimals, int32_t noCommas, char *out)
{
    value = UnsignedNaN(value);
    double a = fabs(value);
    int trimmed = decimals == DECIMALS_TRIMMED || decimals == DECIMALS_TRIMMED_6;
    int abbreviated = decimals == DECIMALS_ABBREVIATED;
    if (trimmed) {
        if (value == 0 || CompareDouble(a, (double)TruncToInt32(a + 1e-6)) == 0)
            decimals = 0;
        else if (decimals == DECIMALS_TRIMMED_6)
            decimals = 6;
        else
            decimals = a >= 1 ? 2 : a >= 0.01 ? 4
                                              : 6;
    } else if (decimals == DECIMALS_FEWEST) {
        decimals = FewestDecimals(value, 0);
    } else if (decimals == DECIMALS_FEWEST_FROM_2) {
        decimals = FewestDecimals(value, 2);
    } else if (abbreviated) {
        decimals = 0;
    } else if (decimals < 0) {
        decimals = 6; /* what printf makes of a negative precision */
    }

    /* A negative amount too small to show prints without its sign: "-0.00"
    ** would read as a loss that is not there. */
    if (std::signbit(value) && (a == 0 || (a >= 1e-15 && PrintsAsZero(a, decimals)))) value = a;
    if (a > 1e15 || a < 1e-15) return FormatText(out, NUMBER_TEXT_SIZE, "%g", value);

    if (decimals > 0) {
        int length = FormatText(out, NUMBER_TEXT_SIZE, "%.*f", (int)decimals, value);
        if (trimmed) {
            char *point = strchr(out, '.');
            if (point && strspn(point + 1, "0") == strlen(point + 1)) {
                *point = 0;
                length = (int)(point - out);
            }
        }
        return length;
    }

    if (abbreviated) {
        int length = FormatAbbreviated(value, a, out);
        if (length >= 0) return length;
    }
    int length = FormatText(out, NUMBER_TEXT_SIZE, "%.0f", value);
    return noCommas ? length : InsertCommas(out, length, NUMBER_TEXT_SIZE);
}

/* ==== FormatNumber ================================================================== */

int FormatNumber(double value, int32_t code, int32_t decimals, int32_t negParens,
                 const char *currency, char *out)
{
    if (std::isnan(value)) return FormatText(out, NUMBER_TEXT_SIZE, "n/a");

    int32_t noCommas = 0;
    switch (code) {
    case DISPLAY_PLAIN:
        noCommas = 1;
        break;
    case DISPLAY_CURRENCY:
        if (decimals < 0) decimals = 2;
        break;
    case DISPLAY_PERCENT:
        value *= 100;
        break;
    case DISPLAY_PRICE32:
        return FormatPrice(value, 0.03125, out);
    case DISPLAY_DATE:
        return FormatDefaultDate((int)TruncToInt32(value), out);
    case DISPLAY_TRUTH:
        return FormatText(out, NUMBER_TEXT_SIZE, "%s", value != 0 ? "True" : "False");
    case DISPLAY_GENERAL:
    case DISPLAY_NUMBER:
        break;
    default:
        return FormatText(out, NUMBER_TEXT_SIZE, "%g", value);
    }

    int length;
    if (decimals < 0) {
        char work[NUMBER_TEXT_SIZE];
        FormatDouble(value, decimals, noCommas, work);
        const char *wrapper = code == DISPLAY_CURRENCY ? "$%s"
            : code == DISPLAY_PERCENT                  ? "%s%%"
                                                       : "%s";
        length = FormatText(out, NUMBER_TEXT_SIZE, wrapper, work);
    } else {
        double a = fabs(value);
        /* As in FormatDouble: no sign on an amount that shows as zero. */
        if (std::signbit(value) && (a == 0 || (a >= 1e-15 && decimals <= 15 && PrintsAsZero(a, decimals)))) value = a;
        if (value != 0 && (a > 1e15 || a < 1e-15 || decimals > 15)) {
            length = FormatText(out, NUMBER_TEXT_SIZE, "%g", value);
        } else if (code == DISPLAY_CURRENCY && negParens && value < 0) {
            length = FormatText(out, NUMBER_TEXT_SIZE, "($%.*f)", (int)decimals, a);
        } else {
            switch (code) {
            case DISPLAY_GENERAL:
                /* A fraction rounds to the nearest whole number, halves away
                ** from zero; magnitudes up to 1e15 fit 64 bits.  The precision
                ** is at least 1: "%.0d" prints nothing at all for a zero. */
                length = FormatText(out, NUMBER_TEXT_SIZE, "%.*lld", decimals > 0 ? (int)decimals : 1,
                                    (long long)llround(value));
                break;
            case DISPLAY_CURRENCY:
                length = FormatText(out, NUMBER_TEXT_SIZE, "$%.*f", (int)decimals, value);
                break;
            case DISPLAY_PERCENT:
                length = FormatText(out, NUMBER_TEXT_SIZE, "%.*f%%", (int)decimals, value);
                break;
            default:
                length = FormatText(out, NUMBER_TEXT_SIZE, "%.*f", (int)decimals, value);
                break;
            }
        }
    }

    if (code == DISPLAY_CURRENCY)
        length = ApplyCurrencySign(out, length, NUMBER_TEXT_SIZE, currency);
    if (code != DISPLAY_PLAIN)
        length = InsertCommas(out, length, NUMBER_TEXT_SIZE);
    return length;
}

/* ==== prices and trimmed numbers ================================================ */

/* A tick of 1/32, 1/64, 1/128 or 1/256: a bond-style price. */
static int IsBondTick(double tick)
{
    if (!(tick > 0)) return 0;
    double perPoint = 1 / tick;
    return perPoint == 32 || perPoint == 64 || perPoint == 128 || perPoint == 256;
}

int FormatPrice(double value, double tick, char *out)
{
    value = UnsignedNaN(value);
    if (gSettings.ShowBondPriceFractional && !gRun.generatingOrders && IsBondTick(tick)) {
        double whole = trunc(value);
        return FormatText(out, NUMBER_TEXT_SIZE, "%.0f'%.0f", whole, (value - whole) * 320);
    }
    double unit = tick != 0 ? tick : value;
    int decimals = 0;
    while (decimals < 8 && CompareDouble(unit, round(unit)) != 0) {
        unit *= 10;
        decimals++;
    }
    return FormatText(out, NUMBER_TEXT_SIZE, "%.*f", decimals, value);
}

int FormatExactNumber(double value, char *out)
{
    int length = FormatText(out, NUMBER_TEXT_SIZE, "%.15g", value);
    if (std::isfinite(value) && strtod(out, nullptr) != value) length = FormatText(out, NUMBER_TEXT_SIZE, "%.17g", value);
    return length;
}

int FormatTrimmedNumber(double value, char *out)
{
    value = UnsignedNaN(value);
    int small = value != 0 && value > -1 && value < 1;
    int length = FormatText(out, NUMBER_TEXT_SIZE, small ? "%.15f" : "%.15g", value);
    /* Trailing zeros of an exponent ("1.5e+20") are digits of the exponent,
    ** not of the fraction, so such text is left as printed. */
    if (!strchr(out, '.') || strchr(out, 'e')) return length;
    while (length > 0 && out[length - 1] == '0') out[--length] = 0;
    if (length > 0 && out[length - 1] == '.') out[--length] = 0;
    return length;
}

/* ==== numbers in files ============================================================ */

int IsDecimalText(const char *p, const char *end, char point, char dropped)
{
    if (p < end && (*p == '+' || *p == '-')) p++;
    int digits = 0, points = 0;
    for (; p < end; p++) {
        if (*p >= '0' && *p <= '9')
            digits++;
        else if (*p == point && !points)
            points = 1;
        else if (!dropped || *p != dropped)
            break;
    }
    if (!digits) return 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        p++;
        if (p < end && (*p == '+' || *p == '-')) p++;
        const char *first = p;
        while (p < end && *p >= '0' && *p <= '9') p++;
        if (p == first) return 0;
    }
    return p == end;
}

int GroupsThousands(const char *p, const char *end)
{
    const char *q = p + 1;
    while (q < end && *q >= '0' && *q <= '9') q++;
    return q - p == 4;
}

const char *NumberTextFault(const char *text, int kind, double *value)
{
    const char *p = text, *end = text + strlen(text);
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    while (end > p && (end[-1] == ' ' || end[-1] == '\t')) end--;
    if (p == end) return nullptr;
    if (kind == WHOLE_NUMBER) {
        /* A whole number of the 32-bit range: a wider one would wrap. */
        const char *q = p + (*p == '-' || *p == '+');
        if (q == end) return "not a whole number";
        for (const char *d = q; d < end; d++)
            if (*d < '0' || *d > '9') return "not a whole number";
        const long long wide = strtoll(p, nullptr, 10);
        if (wide < INT32_MIN || wide > INT32_MAX) return "out of range";
        if (value) *value = (double)wide;
        return nullptr;
    }
    char *stop = nullptr;
    const double read = strtod(p, &stop);
    if (!std::isfinite(read) && stop == end) return "not a finite number"; /* inf, nan, 1e400 */
    if (!IsDecimalText(p, end)) return "not a number";
    if (value) *value = read;
    return nullptr;
}
