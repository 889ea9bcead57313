/* How a name's length is measured: in letters, as the system counts them. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

TEST(PathLength, ANameIsMeasuredInLetters)
{
    /* clang-format off */
    static const struct { const char *text; size_t letters; } kCases[] = {
        {"", 0},
        {"C:\\a.kvs", 8},
        {"caf\xC3\xA9", 4},                              /* a letter of two bytes */
        {"\xE2\x82\xAC" "1", 2},                         /* three */
        {"\xF0\x9F\x93\x88.kvs", 5},                     /* four */
        {"caf\xE9", 4},                                  /* a 1252 byte is its letter */
        {"\xC3", 1}, {"\xE2\x82", 2}, {"\xF0\x9F\x93", 3}, /* cut sequences: a letter a byte */
        {"\xC0\x80", 2}, {"\xED\xA0\x80", 3},            /* no UTF-8 letters either */
        {"\x80\x80\xC3\xA9", 3},
    };
    /* clang-format on */
    for (const auto &c : kCases) EXPECT_EQ(c.letters, PathLetters(c.text)) << c.text;
    /* A length counts letters of its bytes, a letter it cuts as its bytes. */
    EXPECT_EQ(2u, PathLetters("\xC3\xA9\xC3\xA9", 3));
}

/* Whatever bytes its letters take, a name of PATH_LETTERS letters fits a
** path buffer and one more letter is too long. */
TEST(PathLength, TheLimitIsTwoHundredFiftyNineLettersOfAnySize)
{
    for (const std::string letter : {"a", "\xE9", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"}) {
        std::string name;
        for (int k = 0; k < 259; k++) name += letter;
        EXPECT_FALSE(PathTooLong(name.c_str())) << letter;
        EXPECT_LT(name.size(), (size_t)PATH_SIZE);
        EXPECT_TRUE(PathTooLong((name + letter).c_str())) << letter;
    }
}

/* A sequence is a letter only where UTF-8 allows one: the highest code point
** is U+10FFFF, so anything above it (F4 90.., F5..F7 leads) is no sequence,
** nor are overlong forms or surrogates; each of their bytes is then a 1252
** letter of its own. */
TEST(PathLength, OnlyWellFormedSequencesUpToU10FFFFAreLetters)
{
    /* clang-format off */
    static const struct { const char *bytes; size_t sequence; uint32_t first; } kCases[] = {
        {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},              /* the last code point */
        {"\xF0\x90\x80\x80", 4, 0x10000},               /* the first of four bytes */
        {"\xF4\x90\x80\x80", 0, 0xF4},                  /* U+110000 */
        {"\xF4\xBF\xBF\xBF", 0, 0xF4},
        {"\xF5\x80\x80\x80", 0, 0xF5},                  /* leads that only name more */
        {"\xF7\xBF\xBF\xBF", 0, 0xF7},
        {"\xF0\x8F\xBF\xBF", 0, 0xF0},                  /* overlong U+FFFF */
        {"\xE0\x9F\xBF", 0, 0xE0},                      /* overlong U+07FF */
        {"\xED\xA0\x80", 0, 0xED},                      /* a surrogate */
        {"\xEF\xBF\xBF", 3, 0xFFFF},
        {"\xC2\x80", 2, 0x80},
        {"\xC1\xBF", 0, 0xC1},                          /* overlong U+007F */
        {"\x80", 0, 0x20AC},                            /* 1252's euro sign */
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        const size_t n = strlen(c.bytes);
        EXPECT_EQ(c.sequence, PlatUtf8SequenceLength((const unsigned char *)c.bytes, n)) << c.bytes;
        size_t length = 0;
        EXPECT_EQ(c.first, PlatNameLetter((const unsigned char *)c.bytes, n, &length)) << c.bytes;
        EXPECT_EQ(c.sequence ? c.sequence : 1, length) << c.bytes;
        EXPECT_EQ(c.sequence ? 1 : n, PathLetters(c.bytes)) << c.bytes;
    }
}
