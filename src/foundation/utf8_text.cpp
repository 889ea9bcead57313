/* utf8_text.cpp -- the program's text between UTF-8 and code page 1252. */
#include "foundation/utf8_text.h"

#include <cstdint>
#include <cstring>

/* Windows-1252 characters 0x80..0x9F; the five it leaves undefined keep
** their own code points, as Windows converts them. */
static const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

size_t Utf8SequenceLength(const unsigned char *p, size_t n)
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

std::string PageText(const char *text, size_t length)
{
    std::string out;
    out.reserve(length);
    const unsigned char *p = (const unsigned char *)text;
    for (size_t i = 0; i < length;) {
        if (p[i] < 0x80) {
            out += (char)p[i++];
            continue;
        }
        const size_t sequence = Utf8SequenceLength(p + i, length - i);
        if (sequence) {
            out.append(text + i, sequence);
            i += sequence;
            continue;
        }
        const uint32_t code = p[i] < 0xA0 ? kCp1252High[p[i] - 0x80] : p[i];
        if (code < 0x800) {
            out += (char)(0xC0 | (code >> 6));
        } else {
            out += (char)(0xE0 | (code >> 12));
            out += (char)(0x80 | ((code >> 6) & 0x3F));
        }
        out += (char)(0x80 | (code & 0x3F));
        i++;
    }
    return out;
}

int NameToUtf8(char *text, size_t size)
{
    const size_t length = strlen(text);
    const unsigned char *p = (const unsigned char *)text;
    size_t i = 0;
    while (i < length) {
        const size_t sequence = p[i] < 0x80 ? 1 : Utf8SequenceLength(p + i, length - i);
        if (!sequence) break;
        i += sequence;
    }
    if (i == length) return 1;
    const std::string utf8 = PageText(text, length);
    if (utf8.size() >= size) return 0;
    memcpy(text, utf8.c_str(), utf8.size() + 1);
    return 1;
}

size_t Utf8CutLength(const char *text, size_t max)
{
    size_t length = strnlen(text, max + 1);
    if (length <= max) return length;
    /* Back over continuation bytes to the start of the letter that crosses. */
    length = max;
    while (length > 0 && ((unsigned char)text[length] & 0xC0) == 0x80) length--;
    return length;
}
