/* price_format.h -- price and trimmed-number texts shared by order lists,
** charts, the debug panel and the script language.
**
** Owns:       gGeneratingOrders, the engine's order-generation flag.
** Buffers:    out holds NUMBER_TEXT_SIZE characters (numbers.h); the text is
**             cut there, never written past it.  Both routines return the
**             length of the text.
** Threads:    reentrant; the flag and gSettings.ShowBondPriceFractional are
**             written on the UI thread only.
*/
#pragma once
#include <cstdint>

/* 1 while the order list for the next trading day is generated: prices are
** then written as decimals, never in 32nds, so order files stay machine-readable. */
extern int32_t gGeneratingOrders;

/* Prints a price with as many decimals as the tick needs (the fewest from 0 to
** 8 that make the tick a whole number; the price itself stands for a tick of
** 0).  With ShowBondPriceFractional on, outside order generation and a tick of
** 1/32, 1/64, 1/128 or 1/256, it prints whole points, an apostrophe and the
** 32nds times ten: 99.5 gives "99'160". */
int FormatPrice(double value, double tick, char *out);
/* Prints with up to 15 decimals and no trailing zeros: "%.15g", or "%.15f" for
** a non-zero value between -1 and 1.  Exponent forms are left whole. */
int FormatTrimmedNumber(double value, char *out);
