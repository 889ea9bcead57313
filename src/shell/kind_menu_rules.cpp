/* kind_menu_rules.cpp -- the enabled states of the window kinds' own popups
** and their tab-title forms. */
#include "shell/kind_menu_rules.h"

#include <cstring>

#include "foundation/text_match.h"
#include "shell/frame_rules.h"
#include "services/services.h"

/* Command ids of the kinds' popups. */
enum {
    CMD_FIND = 40037,
    CMD_FIND_NEXT = 40039,
    CMD_SAVE = 40061,
    CMD_SAVE_AS = 40065,
    CMD_LIST_CHART = 40078,
    CMD_TRADE_ROW = 40080,
    CMD_COMPARE_TRADES = 40116,
    CMD_DELETE_TEST = 40117,
    CMD_DELETE_ALL = 40119,
    CMD_LOG_SETTINGS = 40125,
    CMD_UNIQUE_SYMBOLS = 40127,
    CMD_RENAME_TEST = 40129,
    CMD_STATS_GRAPHS = 40131,
    CMD_TRADE_PLOTS = 40133,
    CMD_OPT_GRAPH = 40135,
    CMD_TEST_SCRIPT = 40137,
    CMD_SUMMARY_REPORT = 40139,
    CMD_TRADE_LIST = 40141,
    CMD_STATS_CSV = 40205,
    CMD_TRADES_CSV = 40206,
    CMD_COMPARE_LEFT = 40210,
    CMD_COMPARE_RIGHT = 40211,
    CMD_OPT_STATS = 40213,
    CMD_COPY_ROW = 40216
};

/* clang-format off */
const KindMenuRule kResultsMenuRules[] = {
    {.commandId = CMD_SAVE,           .needs = NEED_MODIFIED | NEED_IDLE},
    {.commandId = CMD_SAVE_AS,        .needs = NEED_IDLE},
    {.commandId = CMD_COMPARE_TRADES, .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_DELETE_ALL,     .needs = NEED_NOT_EMPTY | NEED_NOTHING_HELD},
    {.commandId = CMD_FIND,           .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_FIND_NEXT,      .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_OPT_GRAPH,      .needs = NEED_PLACE_1_TO_4},
    {.commandId = CMD_OPT_STATS,      .needs = NEED_PLACE_1_TO_4},
    {.commandId = CMD_COPY_ROW,       .needs = NEED_SELECTION},
    {.commandId = CMD_DELETE_TEST,    .needs = NEED_SELECTION | NEED_NOTHING_HELD},
    {.commandId = CMD_LOG_SETTINGS,   .needs = NEED_SELECTION},
    {.commandId = CMD_RENAME_TEST,    .needs = NEED_SELECTION},
    {.commandId = CMD_TEST_SCRIPT,    .needs = NEED_SELECTION},
    {.commandId = CMD_SUMMARY_REPORT, .needs = NEED_SELECTION},
    {.commandId = CMD_STATS_GRAPHS,   .needs = NEED_SELECTION | NEED_NOT_LOADING},
    {.commandId = CMD_STATS_CSV,      .needs = NEED_SELECTION},
    {.commandId = CMD_TRADE_PLOTS,    .needs = NEED_SELECTION | NEED_TRADES | NEED_NOT_LOADING},
    {.commandId = CMD_TRADE_LIST,     .needs = NEED_SELECTION | NEED_TRADES | NEED_NOT_LOADING},
    {.commandId = CMD_UNIQUE_SYMBOLS, .needs = NEED_SELECTION | NEED_TRADES},
    {.commandId = CMD_TRADES_CSV,     .needs = NEED_SELECTION | NEED_TRADES},
    {.commandId = 0,                  .needs = 0},
};
const KindMenuRule kTradesMenuRules[] = {
    {.commandId = CMD_FIND,       .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_FIND_NEXT,  .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_LIST_CHART, .needs = NEED_SELECTION},
    {.commandId = CMD_COPY_ROW,   .needs = NEED_SELECTION},
    {.commandId = CMD_TRADE_ROW,  .needs = NEED_SELECTION},
    {.commandId = 0,              .needs = 0},
};
const KindMenuRule kScanMenuRules[] = {
    {.commandId = CMD_FIND,       .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_FIND_NEXT,  .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_LIST_CHART, .needs = NEED_SELECTION},
    {.commandId = CMD_COPY_ROW,   .needs = NEED_SELECTION},
    {.commandId = 0,              .needs = 0},
};
const KindMenuRule kCompareMenuRules[] = {
    {.commandId = CMD_FIND,          .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_FIND_NEXT,     .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_LIST_CHART,    .needs = NEED_SELECTION},
    {.commandId = CMD_COPY_ROW,      .needs = NEED_SELECTION},
    {.commandId = CMD_COMPARE_LEFT,  .needs = NEED_SELECTION | NEED_LEFT_SIDE},
    {.commandId = CMD_COMPARE_RIGHT, .needs = NEED_SELECTION | NEED_RIGHT_SIDE},
    {.commandId = 0,                 .needs = 0},
};
const KindMenuRule kListMenuRules[] = {
    {.commandId = CMD_FIND,       .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_FIND_NEXT,  .needs = NEED_NOT_EMPTY},
    {.commandId = CMD_LIST_CHART, .needs = NEED_SELECTION | NEED_SYMBOL_COLUMN},
    {.commandId = CMD_COPY_ROW,   .needs = NEED_SELECTION},
    {.commandId = 0,              .needs = 0},
};
const KindMenuRule kSaveMenuRules[] = {
    {.commandId = CMD_SAVE,    .needs = NEED_MODIFIED},
    {.commandId = CMD_SAVE_AS, .needs = 0},
    {.commandId = 0,           .needs = 0},
};
/* clang-format on */

int IsKindCommandEnabled(const KindMenuRule *rule, const KindMenuFacts *f)
{
    uint32_t n = rule->needs;
    int loading = f->runState == RUN_IMPORT || f->runState == RUN_LOADING;
    if ((n & NEED_NOT_EMPTY) && f->place == 0) return 0;
    if ((n & NEED_SELECTION) && f->place <= 1) return 0;
    if ((n & NEED_PLACE_1_TO_4) && (f->place < 1 || f->place > 4)) return 0;
    if ((n & NEED_MODIFIED) && !f->modified) return 0;
    if ((n & NEED_IDLE) && f->runState != RUN_IDLE) return 0;
    if ((n & NEED_TRADES) && !f->currentHasTrades) return 0;
    if ((n & NEED_NOT_LOADING) && loading) return 0;
    if ((n & NEED_SYMBOL_COLUMN) && !f->symbolColumn) return 0;
    if ((n & NEED_LEFT_SIDE) && !f->leftSide) return 0;
    if ((n & NEED_RIGHT_SIDE) && !f->rightSide) return 0;
    if ((n & NEED_NOTHING_HELD) && f->testsHeld > 0) return 0;
    return 1;
}

int IsKindCommandRefused(const KindMenuRule *rules, int32_t commandId, const KindMenuFacts *facts)
{
    for (const KindMenuRule *r = rules; r && r->commandId; r++) {
        if (r->commandId != commandId) continue;
        const KindMenuRule refused = {.commandId = commandId, .needs = r->needs & KIND_NEEDS_REFUSED};
        return !IsKindCommandEnabled(&refused, facts);
    }
    return 0;
}

int FormatKindTabTitle(int form, int32_t testNumber, const char *name, char *out, int size)
{
    static const char *const kForms[TAB_FORM_COUNT] = {"Test%d Script", "Test%d Graphs", "Test%d Plots",
                                                       "Test%d Trades", "%s", "%s", "%s Chart"};
    char title[300];
    if (!name) name = "";
    if (form == TAB_FILE_NAME) {
        const char *slash = strrchr(name, '\\');
        if (slash) name = slash + 1;
    }
    if (form < 0 || form >= TAB_FORM_COUNT) form = TAB_RECORD_NAME;
    if (form <= TAB_TEST_TRADES)
        FormatText(title, sizeof title, kForms[form], testNumber);
    else
        FormatText(title, sizeof title, kForms[form], name);
    return ShortenTabTitle(title, out, size);
}
