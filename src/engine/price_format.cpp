/* price_format.cpp -- price and trimmed-number texts. */
#include "engine/price_format.h"

#include <cmath>
#include <cstring>

#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"

int32_t gGeneratingOrders = 0;

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
    if (gSettings.ShowBondPriceFractional && !gGeneratingOrders && IsBondTick(tick)) {
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
