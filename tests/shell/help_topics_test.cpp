/* Help topics of words in the script editor. */
#include <gtest/gtest.h>

#include "shell/help_topics.h"

namespace {

TEST(HelpTopics, KeysFindTheirTopics)
{
    struct Case {
        const char *key;
        int32_t topic;
    } cases[] = {
        {"Close", 10438}, {"c", 10438},            // an item and its alias share the topic (row 238)
        {"Data6", 11005},                          // the Data header, sixth row of the keyword table
        {"AccountSize20", 11080}, {"EntrySetup15", 11214},
        {"Data7", 0},     {"EntrySetup", 0},       // a keyword needs its own section number
        {"Arg3", 10145},  {"arg9", 10145}, {"Arg12", 0}, {"Arg0", 0},
        {"F.Nothing", 0}, {"", 0},
    };
    for (const Case &c : cases) EXPECT_EQ(HelpTopicForKey(c.key), c.topic) << c.key;
}

TEST(HelpTopics, SectionNumbersOfKeys)
{
    struct Case {
        int32_t section, number;
    } cases[] = {{12, 20}, {29, 20}, {20, 20}, {13, 15}, {26, 15}, {15, 15}, {6, 6}, {2, 2}};
    for (const Case &c : cases) EXPECT_EQ(HelpSectionNumber(c.section), c.number) << c.section;
}

} // namespace
