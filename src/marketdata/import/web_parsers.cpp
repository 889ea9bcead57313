/* web_parsers.cpp -- numbers as the price sources write them. */
#include "marketdata/import/web_parsers.h"

#include <cstdlib>

enum { NUMBER_COPY_MAX = 32 };

double ParseNumber(const char *text, int format)
{
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
    return atof(copy);
}
