/* utf8_text.cpp -- the program's text between UTF-8 and code page 1252. */
#include "foundation/utf8_text.h"

#include <cstdint>
#include <cstring>

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
        size_t letter = 0;
        const uint32_t code = PlatNameLetter(p + i, length - i, &letter);
        if (letter > 1) {
            out.append(text + i, letter);
        } else if (code < 0x800) {
            out += (char)(0xC0 | (code >> 6));
            out += (char)(0x80 | (code & 0x3F));
        } else {
            out += (char)(0xE0 | (code >> 12));
            out += (char)(0x80 | ((code >> 6) & 0x3F));
            out += (char)(0x80 | (code & 0x3F));
        }
        i += letter;
    }
    return out;
}

int NameToUtf8(char *text, size_t size)
{
    const size_t length = strlen(text);
    const unsigned char *p = (const unsigned char *)text;
    size_t i = 0;
    while (i < length) {
        const size_t sequence = p[i] < 0x80 ? 1 : PlatUtf8SequenceLength(p + i, length - i);
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

size_t LetterBytes(const char *text)
{
    const unsigned char *p = (const unsigned char *)text;
    if (!p[0]) return 0;
    if (p[0] < 0x80) return 1;
    const size_t sequence = PlatUtf8SequenceLength(p, strnlen(text, 4));
    return sequence ? sequence : 1;
}

size_t TextLetters(const char *text, size_t length) { return PathLetters(text, length); }

size_t LetterOffset(const char *text, size_t n)
{
    size_t i = 0;
    for (; n > 0 && text[i]; n--) i += LetterBytes(text + i);
    return i;
}
