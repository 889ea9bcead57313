/* web_parsers.cpp -- numbers as the price sources write them. */
#include "marketdata/import/web_parsers.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

enum { NUMBER_COPY_MAX = 32 };

double ParseNumber(const char *text, int format)
{
    size_t length = strnlen(text, NUMBER_COPY_MAX);
    if (format == NUMBER_POINT && !memchr(text, ',', length)) {
        /* Nothing to drop: the text reads as it stands. */
        double value = 0.0;
        auto [end, error] = std::from_chars(text, text + length, value);
        if (error == std::errc() && end != text && *end != 'x' && *end != 'X') return value;
    }
    char copy[NUMBER_COPY_MAX + 1];
    int n = 0;
    for (int i = 0; text[i] && i < NUMBER_COPY_MAX; i++) {
        char c = text[i];
        if (format == NUMBER_COMMA) {
            if (c == '.') continue;
            if (c == ',') c = '.';
        } else if (c == ',') {
            continue;
        }
        copy[n++] = c;
    }
    copy[n] = 0;
    /* The common plain decimal is converted directly; anything from_chars
    ** reads differently from atof (blanks, '+', hexadecimal) goes to atof. */
    double value = 0.0;
    auto [end, error] = std::from_chars(copy, copy + n, value);
    if (error == std::errc() && end != copy && *end != 'x' && *end != 'X') return value;
    return atof(copy);
}
