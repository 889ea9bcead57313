/* A cut to a byte count keeps whole letters: never part of a letter's bytes. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/utf8_text.h"

/* Every cut of a text of letters of one to four bytes ends where a letter
** ends: at the last letter boundary at or before the cut, which the text's
** making below gives independently of the bytes. */
TEST(Utf8Cut, EveryCutEndsOnALetterBoundary)
{
    const std::vector<std::string> letters = {"a",          "\xC3\xA9",         "\xE2\x82\xAC", "\xF0\x9F\x93\x88",
                                              "\xF4\x8F\xBF\xBF", "\xD0\x96", "b", "\xE6\x9D\xB1"};
    std::string text;
    std::vector<size_t> boundaries = {0};
    for (int turn = 0; turn < 3; turn++)
        for (const std::string &letter : letters) {
            text += letter;
            boundaries.push_back(text.size());
        }
    for (size_t max = 0; max <= text.size() + 2; max++) {
        size_t expected = 0;
        for (size_t b : boundaries)
            if (b <= max) expected = b;
        EXPECT_EQ(expected, Utf8CutLength(text.c_str(), max)) << "cut at " << max;
    }
}
