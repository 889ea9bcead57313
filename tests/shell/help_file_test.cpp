/* The help file the build makes answers every topic the program can ask for.
** The file is read here with a reader of its own: the directory of the .chm
** container gives every stored file; the context map (#IVB pairs of id and
** offset into #STRINGS) must be stored uncompressed, and each id must name a
** stored page (by its name from the root, as the help viewer looks it up)
** whose title (read from the page the file was made from) is the
** word the editor looked up. */
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "foundation/text_match.h"
#include "script/compiler/keywords.h"
#include "script/eval/item_table.h"
#include "shell/help_topics.h"
#include "support/test_support.h"

namespace {

struct Stored {
    uint64_t section, offset, length;
};

uint64_t Le(const std::string &b, size_t at, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = v << 8 | (uint8_t)b.at(at + (size_t)i);
    return v;
}

uint64_t EncInt(const std::string &b, size_t *at)
{
    uint64_t v = 0;
    uint8_t c;
    do {
        c = (uint8_t)b.at((*at)++);
        v = v << 7 | (c & 0x7F);
    } while (c & 0x80);
    return v;
}

/* Every file of the container by name; content is where section 0 starts. */
std::map<std::string, Stored> ReadDirectory(const std::string &chm, uint64_t *content)
{
    std::map<std::string, Stored> files;
    if (chm.compare(0, 4, "ITSF") != 0) return files;
    uint64_t dir = Le(chm, 0x48, 8);
    *content = Le(chm, 0x58, 8);
    if (chm.compare(dir, 4, "ITSP") != 0) return files;
    uint64_t chunkSize = Le(chm, dir + 0x10, 4), chunks = Le(chm, dir + 0x2C, 4);
    for (uint64_t c = 0; c < chunks; c++) {
        size_t base = dir + 0x54 + c * chunkSize;
        if (chm.compare(base, 4, "PMGL") != 0) continue;
        size_t end = base + chunkSize - Le(chm, base + 4, 4);
        for (size_t at = base + 20; at < end;) {
            uint64_t n = EncInt(chm, &at);
            std::string name = chm.substr(at, n);
            at += n;
            Stored s;
            s.section = EncInt(chm, &at);
            s.offset = EncInt(chm, &at);
            s.length = EncInt(chm, &at);
            files[name] = s;
        }
    }
    return files;
}

std::string Escaped(const char *text)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        switch (*p) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#x27;"; break;
        default: out += *p;
        }
    }
    return out;
}

TEST(HelpFile, EveryTopicTheProgramAsksForOpensItsPage)
{
    std::string chm = ReadTestFile(KV_HELP_FILE);
    ASSERT_FALSE(chm.empty()) << KV_HELP_FILE;
    uint64_t content = 0;
    std::map<std::string, Stored> files = ReadDirectory(chm, &content);
    ASSERT_TRUE(files.count("/#IVB") && files.count("/#STRINGS"));
    const Stored &ivb = files["/#IVB"], &strings = files["/#STRINGS"];
    ASSERT_EQ(ivb.section, 0u) << "the context map must be readable without decompressing";
    ASSERT_EQ(strings.section, 0u);
    std::string ivbBytes = chm.substr(content + ivb.offset, ivb.length);
    std::string stringBytes = chm.substr(content + strings.offset, strings.length);
    ASSERT_EQ(Le(ivbBytes, 0, 4), ivb.length - 4);
    std::map<int32_t, std::string> pages;
    for (size_t at = 4; at + 8 <= ivbBytes.size(); at += 8) {
        uint64_t offset = Le(ivbBytes, at + 4, 4);
        ASSERT_LT(offset, stringBytes.size());
        std::string name = stringBytes.c_str() + offset;
        ASSERT_EQ(offset / 4096, (offset + name.size()) / 4096) << name << " crosses a block of #STRINGS";
        pages[(int32_t)Le(ivbBytes, at, 4)] = name;
    }

    /* The page of topic, checked to be stored; its title from its source. */
    auto pageOf = [&](int32_t topic, const std::string &what) -> std::string {
        auto found = pages.find(topic);
        if (found == pages.end()) {
            ADD_FAILURE() << what << ": topic " << topic << " is not in the context map";
            return "";
        }
        EXPECT_TRUE(files.count("/" + found->second)) << what << ": " << found->second << " is not stored";
        std::string source = ReadTestFile(std::string(KV_HELP_PAGES) + "/" + found->second);
        size_t start = source.find("<title>"), end = source.find("</title>");
        return start == std::string::npos || end == std::string::npos ? "" : source.substr(start + 7, end - start - 7);
    };

    /* Every built-in word, by name and by alias, opens the page of its row. */
    for (uint32_t row = 1; row < SCRIPT_ITEM_COUNT; row++) {
        const ScriptItem &item = gScriptItems[row];
        for (const char *word : {item.name, item.alias}) {
            if (!word || !word[0]) continue;
            int32_t topic = HelpTopicForKey(word);
            ASSERT_GE(topic, HELP_TOPIC_FIRST_ITEM) << word;
            EXPECT_EQ(pageOf(topic, word), Escaped(gScriptItems[topic - HELP_TOPIC_FIRST_ITEM].name)) << word;
        }
    }
    /* Every header and keyword, by the key F1 forms in its section. */
    for (int k = 0; kScriptKeywords[k].name[0]; k++) {
        char key[96];
        FormatText(key, sizeof key, "%s%d", kScriptKeywords[k].name, (int)HelpSectionNumber(kScriptKeywords[k].section));
        int32_t topic = HelpTopicForKey(key);
        ASSERT_GE(topic, HELP_TOPIC_FIRST_KEYWORD) << key;
        EXPECT_EQ(pageOf(topic, key).rfind(kScriptKeywords[topic - HELP_TOPIC_FIRST_KEYWORD].name, 0), 0u) << key;
    }
    /* The windows, panels and menus, Help Topics, and the topics of the word
    ** families that have no row of their own. */
    for (int i = 0; kWindowHelpTopics[i]; i++) EXPECT_NE(pageOf(kWindowHelpTopics[i], "window topic"), "");
    EXPECT_EQ(pageOf(HELP_TOPIC_CONTENTS, "Help Topics"), "Kestovar User Guide");
    EXPECT_EQ(pageOf(HelpTopicForKey("Arg3"), "Arg3"), "Arg1 to Arg9");
    EXPECT_EQ(pageOf(HelpTopicForKey("F.Currency"), "F.Currency"), "Fundamental fields");
    EXPECT_EQ(pageOf(HELP_TOPIC_MEMBERSHIP, "index membership"), "Index memberships");
}

} // namespace
