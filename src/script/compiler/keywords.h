/* keywords.h -- the script's section header words and its reserved keywords.
**
** Owns:       kSectionNames (the 29 section header words at their SectionId,
**             entry 0 empty), kScriptKeywords (the section-and-keyword table:
**             29 header rows and 219 keyword rows, ended by a row with an
**             empty name), and the keyword lists whose position is an index
**             the section handlers take: the 74 settings keywords, the 30
**             import keywords and the 74 strategy formula slot names.
** Invariants: kSectionNames[id] names SectionId id; every keyword row names a
**             section kind that accepts it, so the editor never offers a word
**             that the parser refuses.
** Errors:     none; lookups answer -1 (or 0 for a section) when nothing matches.
** Platform:   none.  Read-only tables, usable from any thread.
** Sizes:      a few hundred rows; lookups are linear, once per script line.
*/
#pragma once
#include <cstdint>

#include "script/compiler/compiler_state.h" /* SectionId */

/* Row kinds of the keyword table. */
enum { KEYWORD_KIND_HEADER = 8,
       KEYWORD_KIND_KEYWORD = 10 };

/* Value classes: what the editor colours after the row's colon. */
enum {
    VALUE_CLASS_NONE = 0,
    VALUE_CLASS_NAME = 9,  /* the name after a strategy-type header */
    VALUE_CLASS_TEXT = 12, /* paths and lists */
    VALUE_CLASS_NOTES = 21 /* the free text of a Notes section */
};

/* One row of the section-and-keyword table. */
struct ScriptKeyword {
    const char *name;        /* header or keyword word; "" ends the table */
    int32_t section;         /* SectionId; strategy-type headers and keywords carry SECTION_STRATEGY,
                                settings keywords SECTION_SETTINGS */
    int32_t kind;            /* KEYWORD_KIND_HEADER or KEYWORD_KIND_KEYWORD */
    int32_t valueClass;      /* VALUE_CLASS_* */
    int32_t target;          /* the keyword family the editor offers next: 5 item sections,
                                7 WalkForward, 9 strategies, 10 stats groups, 11 combined,
                                13 Import, 14 settings, 22 Include; 0 none */
    int32_t valueType;       /* what the editor suggests as the value, 0 to 66 */
    int32_t reserved;        /* always 0 */
    const char *description; /* help line; empty when none */
};

enum {
    SCRIPT_KEYWORD_ROWS = 249, /* 248 words and the end row */
    SETTINGS_KEYWORD_COUNT = 74,
    IMPORT_KEYWORD_COUNT = 30,
    STRATEGY_SLOT_COUNT = 74
};

extern const char *const kSectionNames[SECTION_COUNT];
extern const ScriptKeyword kScriptKeywords[SCRIPT_KEYWORD_ROWS];
/* The settings keywords, at the index ApplySettingsItem takes. */
extern const char *const kSettingsKeywordNames[SETTINGS_KEYWORD_COUNT];
/* The import keywords, at the index ApplyImportItem takes. */
extern const char *const kImportKeywordNames[IMPORT_KEYWORD_COUNT];
/* The strategy formula slots, by slot index. */
extern const char *const kStrategySlotNames[STRATEGY_SLOT_COUNT];

/* Settings keyword indexes the parser itself needs. */
enum {
    SETKW_STARTDATE = 1,
    SETKW_ENDDATE = 2,
    SETKW_NUMBARS = 3,
    SETKW_DATEINPUT = 5,
    SETKW_BARSIZE = 7,
    SETKW_SCANNODEFCOLS = 9,
    SETKW_SCANNOHEADER = 10,
    SETKW_TESTNAME = 15,
    SETKW_ORDERSCOMMENT = 30,
    SETKW_SKIPTESTIF = 39,
    SETKW_ALLOWSAMENAME = 49
};
/* Import keyword index of the filter formula. */
enum { IMPORTKW_EXCLUDEIF = 25 };

/* The SectionId whose header word equals name (case ignored), else 0. */
int FindSectionName(const char *name);
/* 1 when name (case ignored) is any word of the keyword table, header or keyword. */
int IsScriptKeyword(const char *name);
/* Index in kSettingsKeywordNames (case ignored; the older words NumDays,
** NoDefaultCols and NoHeader are taken too), else -1. */
int FindSettingsKeyword(const char *name);
/* Index in kImportKeywordNames (case ignored), else -1. */
int FindImportKeyword(const char *name);
/* Slot index (case ignored; OrderMktAsLmtPct is taken for the last slot), else -1. */
int FindStrategySlot(const char *name);
/* 1 for the five settings section kinds. */
int IsSettingsSection(int section);
/* 1 for Template, Benchmark, Strategy, StatsGroup and Combined. */
int IsStrategySection(int section);
