/* name_letters.cpp -- the letters of the program's 8-bit names, read by one
** rule in every layer and both builds. */
#include "platform/platform.h"

/* Windows-1252 characters 0x80..0x9F; the five it leaves undefined keep
** their own code points, as Windows converts them. */
static const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

size_t PlatUtf8SequenceLength(const unsigned char *p, size_t n)
{
    auto follows = [&](size_t k, unsigned char low, unsigned char high) { return k < n && p[k] >= low && p[k] <= high; };
    const unsigned char c = p[0];
    if (c >= 0xC2 && c <= 0xDF) return follows(1, 0x80, 0xBF) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned char low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
        return follows(1, low, high) && follows(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned char low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
        return follows(1, low, high) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

uint32_t PlatNameLetter(const unsigned char *p, size_t n, size_t *length)
{
    const size_t sequence = p[0] < 0x80 ? 0 : PlatUtf8SequenceLength(p, n);
    *length = sequence ? sequence : 1;
    switch (sequence) {
    case 2: return ((uint32_t)(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
    case 3: return ((uint32_t)(p[0] & 0x0F) << 12) | ((uint32_t)(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    case 4:
        return ((uint32_t)(p[0] & 0x07) << 18) | ((uint32_t)(p[1] & 0x3F) << 12) | ((uint32_t)(p[2] & 0x3F) << 6) |
            (p[3] & 0x3F);
    default: return p[0] >= 0x80 && p[0] < 0xA0 ? kCp1252High[p[0] - 0x80] : p[0];
    }
}

size_t PathLetters(const char *text, size_t length)
{
    const unsigned char *p = (const unsigned char *)text;
    size_t letters = 0;
    for (size_t i = 0; i < length && p[i]; letters++) {
        const size_t sequence = p[i] < 0x80 ? 0 : PlatUtf8SequenceLength(p + i, length - i);
        i += sequence ? sequence : 1;
    }
    return letters;
}

int PathTooLong(const char *path)
{
    return PathLetters(path) > PATH_LETTERS;
}
