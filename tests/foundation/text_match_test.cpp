#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/text_match.h"

TEST(TextMatch, Wildcards)
{
    /* clang-format off */
    struct Case { const char *pattern, *text; int expected; } cases[] = {
        {"A?C", "abc", 1}, {"A*", "A", 1},    {"*", "", 1},      {"A*B", "AB", 1},   {"A*B", "AXB", 1},
        {"A*B", "AXBY", 0}, {"AB", "ABC", 0}, {"A*", "", 0},     {"*.csv", "spy.CSV", 1},
        {"S*Y", "SPY", 1}, {"??", "a", 0},    {"a*b*c", "aXbYc", 1}, {"a*b*c", "aXbY", 0},
    };
    /* clang-format on */
    for (const Case &c : cases) EXPECT_EQ(MatchWildcard(c.pattern, c.text), c.expected) << c.pattern << " " << c.text;
    EXPECT_EQ(MatchWildcard(nullptr, "a"), 0);
    EXPECT_EQ(MatchWildcard("a", nullptr), 0);
    EXPECT_EQ(MatchChars("a?c", "ABCD"), 3);
    EXPECT_EQ(MatchChars("abc", "AB"), 2);
    std::string longPattern(400, 'a');
    EXPECT_EQ(MatchWildcard(longPattern.c_str(), std::string(255, 'a').c_str()), 1); // cut at 255
}

TEST(TextMatch, SearchAndKeywords)
{
    const char *text = "Hello World";
    EXPECT_EQ(FindTextNoCase(text, "WORLD"), text + 6);
    EXPECT_EQ(FindTextNoCase(text, ""), text);
    EXPECT_EQ(FindTextNoCase("", "a"), nullptr);
    EXPECT_EQ(FindTextNoCase(text, "xyz"), nullptr);

    const char *barSizes[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
    EXPECT_EQ(FindKeyword("  weekly \t", barSizes, 5), 1);
    EXPECT_EQ(FindKeyword("week", barSizes, 5), -1);
    const char *classes[] = {"Common", "Capital Special"};
    EXPECT_EQ(FindKeywordNoSpaces("CapitalSpecial", classes, 2), 1);
    EXPECT_EQ(FindKeywordNoSpaces("Capital Special", classes, 2), -1);
    EXPECT_EQ(FindKeywordNoSpaces("Common", classes, 0), -1);
}

TEST(TextMatch, BoundedCopyAndFormat)
{
    char buf[5];
    EXPECT_EQ(CopyString(buf, sizeof buf, "abcdefg", -1), 4);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(CopyString(buf, sizeof buf, "abcdefg", 2), 2);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(CopyString(buf, sizeof buf, "abc", 0), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(CopyString(buf, 1, "abc", -1), 0);
    EXPECT_STREQ(buf, "");

    char small[8];
    memset(small, 'x', sizeof small);
    EXPECT_EQ(FormatText(small, sizeof small, "%s-%d", "long text", 12345), 7);
    EXPECT_STREQ(small, "long te");
    std::string path(2 * PATH_SIZE, 'p');
    EXPECT_EQ(FormatPathBuffer("%s", path.c_str()), PATH_SIZE - 1);
    EXPECT_EQ(strlen(gPathBuffer), PATH_SIZE - 1u);
    EXPECT_EQ(CompareNoCase("Global", "GLOBAL"), 0);
    EXPECT_LT(CompareNoCase("a", "B"), 0);
}
