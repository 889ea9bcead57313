/* help_topics.h -- context help of the script editor: the help topic of a
** word at the caret.  Topics are numbered by rule from the built-in item
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
    HELP_TOPIC_FIRST_KEYWORD = 11000,
    HELP_TOPIC_DEBUG_PANEL = 130,
    HELP_TOPIC_LOG_WINDOW = 190,
    HELP_TOPIC_SCRIPT_WINDOW = 200,
    HELP_TOPIC_DIALOG_EDITOR = 360
};

/* The number a keyword's key carries for its section: 20 for the settings
** sections, 15 for the strategy-type sections, else the section's own. */
int32_t HelpSectionNumber(int32_t section);

/* The topic of key (case ignored): an item name or alias, or a keyword with
** its section number appended; 0 when none. */
int32_t HelpTopicForKey(const char *key);
