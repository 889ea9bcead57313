/* help_topics.h -- the help file's topic numbers: those of the windows, panels
** and menus, and the context help of the script editor, the topic of a word
** at the caret.  Word topics are numbered by rule from the built-in item
** table and the section-and-keyword table, so a name and its alias share a
** topic and a keyword has one topic per section:
**
**   item row r (by name or alias)      10200 + r
**   keyword row k, key "Name%d"        11000 + k (the section number of the key)
**   Arg1 .. Arg9                       10145
**   an index-membership name ("In...") 10850
**   a fundamental field ("F.Name")     10695
**
** Threads:    any; reads constant tables and the loaded constituency list.
*/
#pragma once
#include <cstdint>

enum {
    HELP_TOPIC_ARGUMENT = 10145,
    HELP_TOPIC_FIRST_ITEM = 10200,
    HELP_TOPIC_FUNDAMENTAL = 10695,
    HELP_TOPIC_MEMBERSHIP = 10850,
    HELP_TOPIC_FIRST_KEYWORD = 11000
};

/* What F1 opens where no script word is asked about: a menu (F1 on one of its
** items), a window, a panel, or Help Topics' contents.  kWindowHelpTopics
** lists every one, so the shipped help file can be checked to answer each. */
enum {
    HELP_TOPIC_FILE_MENU = 111,
    HELP_TOPIC_EDIT_MENU = 112,
    HELP_TOPIC_VIEW_MENU = 113,
    HELP_TOPIC_RUN_MENU = 114,
    HELP_TOPIC_WINDOW_MENU = 115,
    HELP_TOPIC_HELP_MENU = 116,
    HELP_TOPIC_CHART_MENU = 121,
    HELP_TOPIC_GRAPH_MENU = 122,
    HELP_TOPIC_LIST_MENU = 123,
    HELP_TOPIC_LOG_MENU = 124,
    HELP_TOPIC_PLOT_MENU = 125,
    HELP_TOPIC_RESGRAPH_MENU = 126,
    HELP_TOPIC_RESULTS_MENU = 127,
    HELP_TOPIC_SCAN_MENU = 128,
    HELP_TOPIC_SCRIPT_MENU = 129,
    HELP_TOPIC_DEBUG_PANEL = 130,
    HELP_TOPIC_TRADES_MENU = 131,
    HELP_TOPIC_DATA_MENU = 132,
    HELP_TOPIC_COMPARE_MENU = 133,
    HELP_TOPIC_CONTENTS = 150,
    HELP_TOPIC_LOG_WINDOW = 190,
    HELP_TOPIC_SCRIPT_WINDOW = 200,
    HELP_TOPIC_LIST_WINDOW = 230,
    HELP_TOPIC_RESULTS_WINDOW = 240,
    HELP_TOPIC_GRAPH_WINDOW = 270,
    HELP_TOPIC_RESGRAPH_WINDOW = 300,
    HELP_TOPIC_TRADES_WINDOW = 320,
    HELP_TOPIC_SCAN_WINDOW = 325,
    HELP_TOPIC_COMPARE_WINDOW = 326,
    HELP_TOPIC_CHART_WINDOW = 330,
    HELP_TOPIC_PLOT_WINDOW = 360,
    HELP_TOPIC_DIALOG_EDITOR = 360 /* the plot options' formula editor and any other */
};

/* Every topic of the enumeration above, ended by 0. */
extern const int32_t kWindowHelpTopics[];

/* The number a keyword's key carries for its section: 20 for the settings
** sections, 15 for the strategy-type sections, else the section's own. */
int32_t HelpSectionNumber(int32_t section);

/* The topic of key (case ignored): an item name or alias, or a keyword with
** its section number appended; 0 when none. */
int32_t HelpTopicForKey(const char *key);
