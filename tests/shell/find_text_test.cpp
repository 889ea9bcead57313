/* The text side of Find, Replace and Find in Files. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shell/find_text.h"

namespace {

TEST(FindText, UnescapesIntoACopy)
{
    const struct {
        const char *typed;
        const char *sought;
    } cases[] = {
        {"a\\tb", "a\tb"},
        {"a\\\\tb", "a\\tb"},
        {"x\\n", "x\r\n"},
        {"c:\\data", "c:\\data"},
        {"end\\", "end\\"},
    };
    for (const auto &c : cases) {
        std::string typed = c.typed;
        char out[FIND_TEXT_SIZE];
        UnescapeFindText(typed.c_str(), out, sizeof out);
        EXPECT_STREQ(out, c.sought) << c.typed;
        UnescapeFindText(typed.c_str(), out, sizeof out);
        EXPECT_STREQ(out, c.sought) << "a second search finds the same text";
        EXPECT_EQ(typed, c.typed);
    }
    char small[3];
    EXPECT_EQ(UnescapeFindText("ab\\n", small, sizeof small), 2);
    EXPECT_STREQ(small, "ab") << "CR LF is never cut in half";
}

TEST(FindText, FindsInALine)
{
    const struct {
        const char *line, *what;
        int matchCase, wholeWord;
        int32_t at;
    } cases[] = {
        {"Avg(C, 5)", "avg", 0, 0, 0},
        {"Avg(C, 5)", "avg", 1, 0, -1},
        {"MyAvg + Avg(C)", "Avg", 1, 1, 8},
        {"MyAvg + AvgX", "Avg", 1, 1, -1},
        {"x Avg", "Avg", 1, 1, 2},
        {"", "a", 0, 0, -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FindInLine(c.line, (int32_t)strlen(c.line), c.what, c.matchCase, c.wholeWord), c.at) << c.line;
}

void Collect(void *context, int32_t, const char *item) { *static_cast<std::string *>(context) += std::string(item) + "|"; }

TEST(FindText, SearchesRealLines)
{
    std::string text = "Data:\r\n  Fast: Avg(C)\n" + std::string(300, 'x') + " Avg\n  Slow: MyAvg\nAvg";
    std::string hits;
    EXPECT_EQ(SearchTextLines(text.c_str(), (int32_t)text.size(), "avg", 0, 1, Collect, &hits), 3);
    std::string longItem = "0003: " + std::string(249, 'x');
    EXPECT_EQ(hits, "0002:   Fast: Avg(C)|" + longItem + "|0005: Avg|");

    std::string binary = std::string("Avg") + std::string(12, '\x01') + "\nAvg\n";
    EXPECT_EQ(SearchTextLines(binary.c_str(), (int32_t)binary.size(), "Avg", 1, 0, nullptr, nullptr), 0);
    std::string mostlyText = std::string(200, 'a') + std::string(12, '\x01') + " Avg\n";
    EXPECT_EQ(SearchTextLines(mostlyText.c_str(), (int32_t)mostlyText.size(), "Avg", 1, 0, nullptr, nullptr), 1);

    /* A UTF-8 letter is text whatever its alphabet: an accented line and a
    ** Cyrillic one are searched on. */
    std::string letters = "// Z\xC3\xBCrich caf\xC3\xA9 \xE2\x80\x94 na\xC3\xAFve \xC2\xBD\nAvg\n";
    EXPECT_EQ(SearchTextLines(letters.c_str(), (int32_t)letters.size(), "Avg", 1, 0, nullptr, nullptr), 1);
    std::string ten = "Avg " + std::string(10, 'a');
    for (int i = 0; i < 10; i++) ten += "\xD0\x96"; /* a Cyrillic letter */
    std::string tenLines = ten + "\nAvg\n";
    EXPECT_EQ(SearchTextLines(tenLines.c_str(), (int32_t)tenLines.size(), "Avg", 1, 0, nullptr, nullptr), 2);
    /* A cut sequence or a lone lead byte is one odd character per byte. */
    std::string cut = "Avg" + std::string(10, '\xC3') + "\nAvg\n";
    EXPECT_EQ(SearchTextLines(cut.c_str(), (int32_t)cut.size(), "Avg", 1, 0, nullptr, nullptr), 0);
}

} // namespace
