/* How a name's length is measured: in letters, as the system counts them. */
#include <gtest/gtest.h>

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
