/* kind_menu_rules.h -- which items of a window kind's own popup are enabled,
** from the few facts about the window that the rules read, and the tab-title
** forms the window kinds use in place of their window text.  The frame's
** kind table names each kind's menu routine, which gathers the facts and
** applies these rows; tests check the rows natively.
**
** Threads:    UI thread; no state of its own.
*/
#pragma once
#include <cstdint>

/* The facts a kind's popup rules read. */
struct KindMenuFacts {
    int32_t place;               /* selection place: 0 empty, 1 none selected, 2 first, 3 middle, 4 last, 5 only */
    int32_t modified;            /* the window's document is modified */
    int32_t runState;            /* RunState */
    int32_t currentHasTrades;    /* the current test has trades */
    int32_t symbolColumn;        /* the list has a symbol column */
    int32_t leftSide, rightSide; /* the selected compare row's sides exist */
    int32_t testsHeld;           /* holds long operations have on tests (CountTestHolds) */
};

/* Conditions of a rule; all that a row names must hold. */
enum KindMenuNeed : uint32_t {
    NEED_NOT_EMPTY = 1, /* place not 0 */
    NEED_SELECTION = 2, /* place above 1 */
    NEED_PLACE_1_TO_4 = 4,
    NEED_MODIFIED = 8,
    NEED_IDLE = 16,
    NEED_TRADES = 32,      /* the current test has trades */
    NEED_NOT_LOADING = 64, /* no import or data loading goes on */
    NEED_SYMBOL_COLUMN = 128,
    NEED_LEFT_SIDE = 256,
    NEED_RIGHT_SIDE = 512,
    NEED_NOTHING_HELD = 1024 /* no operation holds a test */
};
/* The conditions a command is refused for when it arrives anyway (a key, a
** posted command): they keep memory in use from being freed, where the
** others only keep the user from a command that would do nothing useful. */
enum { KIND_NEEDS_REFUSED = NEED_NOTHING_HELD };

struct KindMenuRule {
    int32_t commandId;
    uint32_t needs; /* KindMenuNeed bits */
};

/* The rule rows of the kinds whose popups follow a list's state; each ends
** with a row whose command id is 0. */
extern const KindMenuRule kResultsMenuRules[];
extern const KindMenuRule kTradesMenuRules[];
extern const KindMenuRule kScanMenuRules[];
extern const KindMenuRule kCompareMenuRules[];
extern const KindMenuRule kListMenuRules[];
extern const KindMenuRule kSaveMenuRules[]; /* Script and Log windows */

/* Whether a rule's conditions hold for the facts. */
int IsKindCommandEnabled(const KindMenuRule *rule, const KindMenuFacts *facts);
/* 1 when the command's row among rules (ended by a command id 0) names a
** condition of KIND_NEEDS_REFUSED that the facts do not meet: the kind's
** command routine then does nothing.  0 for a command without a row. */
int IsKindCommandRefused(const KindMenuRule *rules, int32_t commandId, const KindMenuFacts *facts);

/* Tab-title forms of the kinds whose tab does not show the window text. */
enum TabTitleForm {
    TAB_TEST_SCRIPT = 0, /* "Test%d Script" */
    TAB_TEST_GRAPHS = 1, /* "Test%d Graphs" */
    TAB_TEST_PLOTS = 2,  /* "Test%d Plots" */
    TAB_TEST_TRADES = 3, /* "Test%d Trades" */
    TAB_FILE_NAME = 4,   /* the name after the last backslash of a path */
    TAB_RECORD_NAME = 5, /* the name as it stands */
    TAB_CHART = 6,       /* "%s Chart" */
    TAB_FORM_COUNT = 7
};
/* The title of a form with a test number or a name, shortened as every tab
** title is; its length. */
int FormatKindTabTitle(int form, int32_t testNumber, const char *name, char *out, int size);
