/* List entries, the typed-text filter, line values and call tips. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "script/eval/item_table.h"
#include "shell/completion.h"

namespace {

TEST(Completion, FormatsEntriesByCategory)
{
    static ChoiceBuffer buffer;
    buffer = ChoiceBuffer{};
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "MA", "simple moving average", CAT_MULTI_BAR, 1), 1);
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "Data", "", 22, 1), 1);
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "+", nullptr, CAT_OPERATOR, 1), 0);
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "and", nullptr, CAT_OPERATOR, 1), 1);
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "IBM", nullptr, 25, 1), 1);
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "Week", "hidden", 23, 0), 1);
    EXPECT_STREQ(buffer.text, "MA -- simple moving average?19|Data:?0|and?0|$IBM?12|~Week?12");
}

TEST(Completion, AddsOnlyEntriesThatFit)
{
    static ChoiceBuffer buffer;
    buffer = ChoiceBuffer{};
    std::string filler(9000, 'a');
    ASSERT_EQ(FormatAutocompleteEntry(&buffer, filler.c_str(), nullptr, -1, 0), 1);
    std::string longText(2000, 'd');
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "X", longText.c_str(), -1, 1), 0) << "would run past the buffer";
    EXPECT_EQ(buffer.length, 9003);
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "X", "short", -1, 1), 1);
    EXPECT_EQ((size_t)buffer.length, strlen(buffer.text));
    buffer.length = CHOICE_BUFFER_SIZE - CHOICE_ENTRY_RESERVE;
    EXPECT_EQ(FormatAutocompleteEntry(&buffer, "Y", nullptr, -1, 0), 0);
}

TEST(Completion, FiltersByTypedText)
{
    const struct {
        const char *name, *typed;
        int match;
    } cases[] = {
        {"Close", "", 1},
        {"Close", "cl", 1},
        {"Close", "os", 0},
        {"Close", "OSE", 1},
        {"Close", "closer", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(MatchesTypedText(c.name, c.typed), c.match) << c.name << "/" << c.typed;
    static ChoiceBuffer buffer;
    buffer = ChoiceBuffer{};
    const char *const names[] = {"Alpha", "", nullptr, "Beta", "alps"};
    AppendMatchingChoices(&buffer, "al", names, 5);
    EXPECT_STREQ(buffer.text, "Alpha?12|alps?12");
}

TEST(Completion, ReadsTheValueAfterTheKeywordColon)
{
    const struct {
        const char *line;
        int found;
        const char *value;
    } cases[] = {
        {"  DataFile:   C:\\data\\a.kvd  \r\n", 1, "C:\\data\\a.kvd"},
        {"  Note: \"a:b\"", 1, "\"a:b\""},
        {"  // x: y", 0, ""},
        {"  {x: y} Key: v", 1, "v"},
        {"  Key:", 1, ""},
    };
    for (const auto &c : cases) {
        char out[256];
        EXPECT_EQ(LineValueText(c.line, (int32_t)strlen(c.line), out, sizeof out), c.found) << c.line;
        EXPECT_STREQ(out, c.value) << c.line;
    }
}

TEST(Completion, FindsTheCalltipAndTheCurrentArgument)
{
    const char *line = "  a: MA(Max(H, 5), C, ";
    int32_t caret = (int32_t)strlen(line), start = -1;
    uint32_t row = CalltipItemAt(line, caret, &start);
    ASSERT_EQ(row, (uint32_t)ITEM_MA);
    EXPECT_EQ(start, 5);
    char tip[256];
    CalltipText(row, tip, sizeof tip);
    EXPECT_STREQ(tip, "MA(expr, count) {or Avg}");
    EXPECT_EQ(CurrentArgumentIndex(line, caret), 2) << "commas inside Max( ) do not count";
    int32_t s = 0, e = 0;
    ASSERT_EQ(CalltipHighlightSpan("MA(expr, count)", 1, &s, &e), 1);
    EXPECT_EQ(std::string("MA(expr, count)").substr(s, e - s), " count");
    ASSERT_EQ(CalltipHighlightSpan("MA(expr, count)", 0, &s, &e), 1);
    EXPECT_EQ(std::string("MA(expr, count)").substr(s, e - s), "expr");
    EXPECT_EQ(CalltipHighlightSpan("MA(expr, count)", 2, &s, &e), 0);
    EXPECT_EQ(CalltipItemAt("x: Close(", 9, nullptr), 0u) << "a bar value gets no tip";
    EXPECT_EQ(CalltipItemAt("x: MA(C, 5)", 11, nullptr), 0u) << "no open parenthesis";
}

} // namespace
