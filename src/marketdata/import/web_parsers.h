/* web_parsers.h -- numbers as the price sources write them.
**
** Threads:    any thread; no allocation.
*/
#pragma once

enum NumberFormat { NUMBER_POINT = 0, NUMBER_COMMA = 1 };

/* The decimal value of text (its leading number; the rest ignored), at most
** 32 characters of it: NUMBER_POINT takes '.' as the decimal point and drops
** ',' (thousands); NUMBER_COMMA takes ',' as the decimal point and drops '.'. */
double ParseNumber(const char *text, int format);
