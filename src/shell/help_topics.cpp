/* help_topics.cpp -- see help_topics.h. */
#include "shell/help_topics.h"

#include <cctype>
#include <cstring>

#include "foundation/text_match.h"
#include "marketdata/store/constituency.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/import_items.h"
#include "script/compiler/keywords.h"
#include "script/eval/item_table.h"

static_assert((int)HELP_TOPIC_FIRST_ITEM + (int)SCRIPT_ITEM_COUNT < (int)HELP_TOPIC_FUNDAMENTAL, "item topics stay below the others");
static_assert((int)HELP_TOPIC_FIRST_KEYWORD + (int)SCRIPT_KEYWORD_ROWS <= 12660, "keyword topics stay in the help file's range");

const int32_t kWindowHelpTopics[] = {
    HELP_TOPIC_FILE_MENU,
    HELP_TOPIC_EDIT_MENU,
    HELP_TOPIC_VIEW_MENU,
    HELP_TOPIC_RUN_MENU,
    HELP_TOPIC_WINDOW_MENU,
    HELP_TOPIC_HELP_MENU,
    HELP_TOPIC_CHART_MENU,
    HELP_TOPIC_GRAPH_MENU,
    HELP_TOPIC_LIST_MENU,
    HELP_TOPIC_LOG_MENU,
    HELP_TOPIC_PLOT_MENU,
    HELP_TOPIC_RESGRAPH_MENU,
    HELP_TOPIC_RESULTS_MENU,
    HELP_TOPIC_SCAN_MENU,
    HELP_TOPIC_SCRIPT_MENU,
    HELP_TOPIC_DEBUG_PANEL,
    HELP_TOPIC_TRADES_MENU,
    HELP_TOPIC_DATA_MENU,
    HELP_TOPIC_COMPARE_MENU,
    HELP_TOPIC_CONTENTS,
    HELP_TOPIC_LOG_WINDOW,
    HELP_TOPIC_SCRIPT_WINDOW,
    HELP_TOPIC_LIST_WINDOW,
    HELP_TOPIC_RESULTS_WINDOW,
    HELP_TOPIC_GRAPH_WINDOW,
    HELP_TOPIC_RESGRAPH_WINDOW,
    HELP_TOPIC_TRADES_WINDOW,
    HELP_TOPIC_SCAN_WINDOW,
    HELP_TOPIC_COMPARE_WINDOW,
    HELP_TOPIC_CHART_WINDOW,
    HELP_TOPIC_PLOT_WINDOW,
    0,
};

int32_t HelpSectionNumber(int32_t section)
{
    switch (section) {
    case SECTION_SCAN_SETTINGS:
    case SECTION_TEST_SETTINGS:
    case SECTION_ORDER_SETTINGS:
    case SECTION_OPTIMIZE_SETTINGS: return SECTION_SETTINGS;
    case SECTION_TEMPLATE:
    case SECTION_BENCHMARK:
    case SECTION_STATS_GROUP:
    case SECTION_COMBINED: return SECTION_STRATEGY;
    default: return section;
    }
}

int32_t HelpTopicForKey(const char *key)
{
    if (!key || !key[0]) return 0;
    for (uint32_t row = 1; row < SCRIPT_ITEM_COUNT; row++) {
        const ScriptItem &item = gScriptItems[row];
        if ((item.name && item.name[0] && CompareNoCase(item.name, key) == 0) ||
            (item.alias && item.alias[0] && CompareNoCase(item.alias, key) == 0))
            return HELP_TOPIC_FIRST_ITEM + (int32_t)row;
    }
    char keywordKey[96];
    for (int k = 0; kScriptKeywords[k].name[0]; k++) {
        const ScriptKeyword &row = kScriptKeywords[k];
        FormatText(keywordKey, sizeof keywordKey, "%s%d", row.name, (int)HelpSectionNumber(row.section));
        if (CompareNoCase(keywordKey, key) == 0) return HELP_TOPIC_FIRST_KEYWORD + k;
    }
    if (CompareNoCaseN(key, "Arg", 3) == 0 && key[3] >= '1' && key[3] <= '9' && !key[4]) return HELP_TOPIC_ARGUMENT;
    if (CompareNoCaseN(key, "In", 2) == 0)
        for (int32_t i = 0; i < gConstituencyCount && gConstituency; i++)
            if (CompareNoCase(gConstituency[i].scriptName, key) == 0) return HELP_TOPIC_MEMBERSHIP;
    if (CompareNoCaseN(key, "F.", 2) == 0)
        for (int i = 0; gFundamentalFields[i].group; i++)
            if (gFundamentalFields[i].name && CompareNoCase(gFundamentalFields[i].name, key + 2) == 0)
                return HELP_TOPIC_FUNDAMENTAL;
    return 0;
}
