/* suggest.cpp -- see suggest.h.  The text is styled afresh by the script
** styler, so the context follows exactly what the editor colours. */
#include "shell/suggest.h"

#include <cctype>
#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/online_import.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/import_items.h"
#include "script/compiler/keywords.h"
#include "script/compiler/name_tables.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"
#include "shell/script_style.h"
#include "services/services.h"

namespace {

enum { WORD_SIZE = 80 };

const char kWordCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._#$%@?&~\\";

int IsWordChar(char c) { return c && strchr(kWordCharacters, c) != nullptr; }
int IsKeywordChar(char c) { return isalnum((unsigned char)c) || c == '_' || c == '.'; }

/* ---- option lists ------------------------------------------------------------------------ */

const char *const kParameterWords[] = {"From", "To", "Step", "Mult", "Round", "Def", nullptr};
const char *const kKeepTrades[] = {"None", "Strategy", "Benchmark", "Skipped", "All", nullptr};
const char *const kTestOutput[] = {"None", "Report", "Graph", "Log", "Trades", "Scan", "Debug", nullptr};
const char *const kReportContent[] = {"Correl", "Graphs", "Monthly", "Plots", "Script", "Settings", "Stats", nullptr};
const char *const kDataSource[] = {"Norgate", "Yahoo", "CSV", "CSIFutures", "CSIStocks", "MetaStock", "Tiingo",
                                   "TiingoCrypto", nullptr};
const char *const kAdjustment[] = {"TotalReturn", "CapitalSpecial", "Capital", "None", nullptr};
const char *const kPadding[] = {"None", "AlignWithSymbol", "AllMarketDays", "AllWeekDays", "AllCalendarDays", nullptr};
const char *const kCsvFields[] = {"Symbol", "Date",      "Time",  "Open",     "High",  "Low",  "Close",
                                  "Volume", "AdjClose", "RealClose", "Split", "Dividend", "Extra", nullptr};
const char *const kTlFields[] = {"TradeID", "Strategy", "Side",    "Symbol",  "Underlying", "AssetId",
                                 "Action",  "DateTime", "Shares",  "DateIn",  "TimeIn",     "QtyIn",
                                 "PriceIn", "FeesIn",   "ValueIn", "DateOut", "TimeOut",    "QtyOut",
                                 "PriceOut", "FeesOut", "ValueOut", "Reason", nullptr};
const char *const kDateOrder[] = {"MDY", "DMY", nullptr};
const char *const kNumberFormat[] = {"Point", "Comma", nullptr};
const char *const kDelimiter[] = {"Comma", "Semicolon", "Tab", nullptr};
const char *const kClassification[] = {"TRBC", "GICS", nullptr};
const char *const kCiiFamily[] = {"$SPX", "$SP1500", "$XJO.au", "$XKO.au", nullptr};
const char *const kCiiLevel[] = {"EconomicSector", "IndustryGroup", "SpecificIndustry", "SubIndustry", nullptr};
const char *const kEarliest[] = {"Earliest", nullptr};
const char *const kLatest[] = {"Latest", nullptr};
const char *const kSide[] = {"Short", "Both", "Long", nullptr};
const char *const kQtyPrice[] = {"OrderPrice", "FillPrice", nullptr};
const char *const kQtyType[] = {"Shares", "Value", "Percent", nullptr};
const char *const kEntryTime[] = {"ThisClose", "NextOpen", "Intraday", "NextClose", nullptr};
const char *const kAmbiguity[] = {"Default", "Stop", "Target", "Neither", nullptr};
const char *const kSwitch[] = {"False", "True", nullptr};
const char *const kBarSizes[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly", nullptr};
const char *const kOrdersMode[] = {"Text", "Rebalance", "Template", "Slatewick", "SlatewickSync", "SlatewickStats",
                                   nullptr};
const char *const kSaveTradesType[] = {"Full", "Compact", nullptr};
const char *const kAccountType[] = {"Margin", "CashSameDay", "CashNextDay", nullptr};
const char *const kCommCurrency[] = {"Instrument", "Account", nullptr};
const char *const kTracker[] = {"None", "Hidden", "Visible", nullptr};
const char *const kOptimizeMode[] = {"Combinatorial", "Sequential", "Genetic", "Random", "Defaults", nullptr};
const char *const kTimeUnit[] = {"None", "Days", "Weeks", "Months", "Years", nullptr};
const char *const kAnchor[] = {"None", "Start", "End", nullptr};
const char *const kTradeSortColumns[] = {"Trade",  "Strategy", "Symbol",  "Side",    "DateIn",  "TimeIn",   "QtyIn",
                                         "PriceIn", "DateOut", "TimeOut", "QtyOut", "PriceOut", "Reason", nullptr};
const char *const kOtherSortColumns[] = {"Date", "Symbol", nullptr};
const char *const kAmpersandWords[] = {"CC", "CCB", "CII", nullptr};
const char *const kPathMacros[] = {"?data?",      "?desktop?",    "?output?", "?swfolder?",
                                   "?kestovar?", "?scriptpath?", "?scripts?", nullptr};

/* Kinds whose choices are a fixed word list, with the hint shown when forced. */
struct OptionKind {
    int32_t kind;
    const char *const *words; /* null: hint only */
    const char *hint;         /* null: none */
};
/* clang-format off */
const OptionKind kOptionKinds[] = {
    {.kind = 2,  .words = nullptr,         .hint = "Enter some text here."},
    {.kind = 3,  .words = nullptr,         .hint = "Enter a quoted string here."},
    {.kind = 6,  .words = kParameterWords, .hint = nullptr},
    {.kind = 15, .words = kKeepTrades,     .hint = nullptr},
    {.kind = 16, .words = kTestOutput,     .hint = nullptr},
    {.kind = 17, .words = kReportContent,  .hint = nullptr},
    {.kind = 28, .words = kDataSource,     .hint = nullptr},
    {.kind = 29, .words = kAdjustment,     .hint = nullptr},
    {.kind = 30, .words = kPadding,        .hint = nullptr},
    {.kind = 31, .words = kCsvFields,      .hint = nullptr},
    {.kind = 32, .words = kTlFields,       .hint = nullptr},
    {.kind = 33, .words = kDateOrder,      .hint = nullptr},
    {.kind = 34, .words = kNumberFormat,   .hint = nullptr},
    {.kind = 35, .words = kDelimiter,      .hint = nullptr},
    {.kind = 38, .words = kClassification, .hint = nullptr},
    {.kind = 39, .words = kCiiFamily,      .hint = nullptr},
    {.kind = 40, .words = kCiiLevel,       .hint = nullptr},
    {.kind = 41, .words = kEarliest,       .hint = "Enter a date here, or type Earliest."},
    {.kind = 42, .words = kLatest,         .hint = "Enter a date here, or type Latest."},
    {.kind = 43, .words = kSide,           .hint = nullptr},
    {.kind = 44, .words = kQtyPrice,       .hint = nullptr},
    {.kind = 45, .words = kQtyType,        .hint = nullptr},
    {.kind = 46, .words = kEntryTime,      .hint = nullptr},
    {.kind = 47, .words = kAmbiguity,      .hint = nullptr},
    {.kind = 54, .words = kSwitch,         .hint = nullptr},
    {.kind = 55, .words = nullptr,         .hint = "Enter a number here."},
    {.kind = 56, .words = kBarSizes,       .hint = nullptr},
    {.kind = 57, .words = kOrdersMode,     .hint = nullptr},
    {.kind = 58, .words = kSaveTradesType, .hint = nullptr},
    {.kind = 59, .words = kAccountType,    .hint = nullptr},
    {.kind = 60, .words = kCommCurrency,   .hint = nullptr},
    {.kind = 61, .words = kTracker,        .hint = nullptr},
    {.kind = 63, .words = kOptimizeMode,   .hint = nullptr},
    {.kind = 65, .words = kTimeUnit,       .hint = nullptr},
    {.kind = 66, .words = kAnchor,         .hint = nullptr},
};
/* clang-format on */

int32_t CountWords(const char *const *words)
{
    int32_t n = 0;
    while (words[n]) n++;
    return n;
}

/* ---- sections ------------------------------------------------------------------------------ */

int IsStrategyType(int32_t section)
{
    return section == SECTION_TEMPLATE || section == SECTION_BENCHMARK || section == SECTION_STRATEGY ||
        section == SECTION_STATS_GROUP || section == SECTION_COMBINED;
}

int IsSettingsSection(int32_t section)
{
    return section == SECTION_SCAN_SETTINGS || section == SECTION_TEST_SETTINGS || section == SECTION_SETTINGS ||
        section == SECTION_ORDER_SETTINGS || section == SECTION_OPTIMIZE_SETTINGS;
}

int IsTradesOrScan(int32_t section)
{
    return section == SECTION_TRADES || section == SECTION_SCAN || section == SECTION_TEST_SCAN;
}

/* Sections whose formulas may name symbols, '&', '~' and fundamentals. */
int IsDataSection(int32_t section)
{
    return section == SECTION_CHARTS || section == SECTION_TRADES || section == SECTION_DATA ||
        section == SECTION_SCAN || section == SECTION_IMPORT || IsStrategyType(section) ||
        section == SECTION_LIBRARY || section == SECTION_TEST_SCAN || section == SECTION_TEST_DATA ||
        section == SECTION_STRAT_DATA;
}

int IsStrategyRefSection(int32_t section)
{
    return section == SECTION_RESULTS || section == SECTION_GRAPHS || section == SECTION_CHARTS ||
        section == SECTION_TRADES || IsStrategyType(section) || section == SECTION_LIBRARY ||
        section == SECTION_TEST_SCAN || section == SECTION_TEST_DATA || section == SECTION_STRAT_DATA;
}

/* The keyword rows a section accepts: its own, or those of the strategy-type
** or settings family it belongs to. */
int RowFitsSection(const ScriptKeyword &row, int32_t section)
{
    if (row.section == section) return 1;
    if (IsStrategyType(section) && (row.section == SECTION_STRATEGY || IsStrategyType(row.section))) return 1;
    if (IsSettingsSection(section) && IsSettingsSection(row.section)) return 1;
    return 0;
}

int32_t EnclosingSection(const char *text, int32_t length, const uint8_t *styles, int32_t position)
{
    if (position >= length) position = length - 1;
    for (int32_t p = position; p > 0; p--)
        if (styles[p] == SCRIPT_STYLE_SECTION) return SectionAtPosition(text, length, p);
    return 0;
}

int IsQuiet(uint8_t style)
{
    return style >= SCRIPT_STYLE_COMMENT_BRACE && style <= SCRIPT_STYLE_STRING_SINGLE;
}

int32_t LineStartOf(const char *text, int32_t position)
{
    while (position > 0 && text[position - 1] != '\n') position--;
    return position;
}

/* The word-character run around position (start in *start). */
int32_t WordAround(const char *text, int32_t length, int32_t position, int32_t *start)
{
    int32_t s = position, e = position;
    while (s > 0 && IsWordChar(text[s - 1])) s--;
    while (e < length && IsWordChar(text[e])) e++;
    *start = s;
    return e - s;
}

/* ---- the context ------------------------------------------------------------------------------ */

enum Mode { MODE_LINE_START,
            MODE_BODY,
            MODE_KEYWORD,
            MODE_VALUE };

int32_t KindOfDefinedName(const char *word, int32_t section)
{
    if (IsTradesOrScan(section)) return CompareNoCase(word, "Sort") == 0 ? SUGGEST_KIND_SORT : SUGGEST_KIND_FORMULA;
    if (section == SECTION_DATA || section == SECTION_TEST_DATA)
        return CompareNoCase(word, "BarSize") == 0 ? SUGGEST_KIND_BAR_SIZE : SUGGEST_KIND_FORMULA;
    if (section == SECTION_PARAMETERS) return SUGGEST_KIND_PARAMETERS;
    if (section == SECTION_WALK_FORWARD) return SUGGEST_KIND_WALK_FORWARD_ITEM;
    return SUGGEST_KIND_FORMULA;
}

int32_t KindOfSectionDefault(int32_t section)
{
    switch (section) {
    case SECTION_INCLUDE: return SUGGEST_KIND_INCLUDE;
    case SECTION_IMPORT: return SUGGEST_KIND_IMPORT;
    case SECTION_WALK_FORWARD: return SUGGEST_KIND_WALK_FORWARD;
    case SECTION_TEMPLATE:
    case SECTION_BENCHMARK:
    case SECTION_STRATEGY: return SUGGEST_KIND_STRATEGY;
    case SECTION_STATS_GROUP: return SUGGEST_KIND_STATS_GROUP;
    case SECTION_COMBINED: return SUGGEST_KIND_COMBINED;
    default: return IsSettingsSection(section) ? SUGGEST_KIND_SETTINGS : SUGGEST_KIND_LINE_START;
    }
}

/* Everything a list filler needs. */
struct Context {
    const char *text;
    int32_t length;
    int32_t caret;
    int forced;
    int32_t section;
    int32_t kind;
    Mode mode;
    char word[WORD_SIZE]; /* the keyword or header found */
    char typed[WORD_SIZE];
    const CompilerState *names;
};

/* ---- list fillers ------------------------------------------------------------------------------ */

void AddWords(SuggestResult *out, const char *typed, const char *const *words)
{
    AppendMatchingChoices(&out->list, typed, words, CountWords(words));
}

void AddHint(SuggestResult *out, const Context &c, const char *format, const char *argument = "")
{
    if (c.forced) FormatText(out->hint, sizeof out->hint, format, argument);
}

void AddHeaders(SuggestResult *out, const char *typed)
{
    for (int i = 0; kScriptKeywords[i].name[0]; i++) {
        const ScriptKeyword &row = kScriptKeywords[i];
        if (row.kind == KEYWORD_KIND_HEADER && MatchesTypedText(row.name, typed))
            FormatAutocompleteEntry(&out->list, row.name, row.description, ENTRY_CATEGORY_KEYWORD,
                                    gSettings.ScriptAutoCDesc);
    }
}

void AddKeywordsOfTarget(SuggestResult *out, const char *typed, int32_t target)
{
    for (int i = 0; kScriptKeywords[i].name[0]; i++) {
        const ScriptKeyword &row = kScriptKeywords[i];
        if (row.kind == KEYWORD_KIND_KEYWORD && row.target == target && MatchesTypedText(row.name, typed))
            FormatAutocompleteEntry(&out->list, row.name, row.description, ENTRY_CATEGORY_KEYWORD,
                                    gSettings.ScriptAutoCDesc);
    }
}

void AddScriptNames(SuggestResult *out, const Context &c, int (*accept)(int32_t rowSection, int32_t section),
                    char prefixCategory, const char *description)
{
    if (!c.names) return;
    for (int32_t i = 0; i < c.names->scriptNameCount; i++) {
        const ScriptNameRow &row = c.names->scriptNames[i];
        if (!row.name[0] || row.section < 0 || !accept(row.section, c.section)) continue;
        if (!MatchesTypedText(row.name, prefixCategory ? c.typed + 1 : c.typed)) continue;
        FormatAutocompleteEntry(&out->list, row.name, description,
                                prefixCategory ? ENTRY_CATEGORY_STRATEGY : ENTRY_CATEGORY_PARAMETER, 1);
    }
}

int AcceptParameters(int32_t rowSection, int32_t) { return rowSection == SECTION_PARAMETERS; }
int AcceptStrategyType(int32_t rowSection, int32_t) { return IsStrategyType(rowSection); }
int AcceptVisible(int32_t rowSection, int32_t section) { return SectionCanSee(section, rowSection); }

void AddSymbols(SuggestResult *out, const char *typed, int dollar)
{
    size_t n = strlen(typed);
    for (int32_t i = 0; i < gStore.symbolCount && gStore.symbols; i++) {
        const char *name = gStore.symbols[i].info.Symbol;
        if (name[0] && CompareNoCaseN(name, typed, n) == 0)
            FormatAutocompleteEntry(&out->list, name, nullptr, dollar ? ENTRY_CATEGORY_SYMBOL : -1, 0);
    }
}

void AddFormulaChoices(SuggestResult *out, const Context &c)
{
    const char *typed = c.typed;
    int data = IsDataSection(c.section);
    if (typed[0] == '$') {
        if (data) AddSymbols(out, typed + 1, 1);
        return;
    }
    if (typed[0] == '&') {
        if (!data) return;
        for (const char *const *w = kAmpersandWords; *w; w++)
            if (MatchesTypedText(*w, typed + 1)) FormatAutocompleteEntry(&out->list, *w, nullptr, ENTRY_CATEGORY_AMPERSAND, 0);
        return;
    }
    if (typed[0] == '~') {
        if (!data) return;
        for (const char *const *w = kBarSizes; *w; w++)
            if (MatchesTypedText(*w, typed + 1)) FormatAutocompleteEntry(&out->list, *w, nullptr, ENTRY_CATEGORY_BAR_SIZE, 0);
        return;
    }
    if (typed[0] == '@') {
        if (!IsStrategyRefSection(c.section)) return;
        int32_t before = out->list.length;
        if (IsStrategyType(c.section) && MatchesTypedText("tracker", typed + 1))
            FormatAutocompleteEntry(&out->list, "tracker", nullptr, ENTRY_CATEGORY_STRATEGY, 0);
        AddScriptNames(out, c, AcceptStrategyType, 1, nullptr);
        if (out->list.length == before && gCurrentTest && gCurrentTest->strategies)
            for (int32_t i = 0; i < gCurrentTest->strategyCount; i++) {
                const char *name = gCurrentTest->strategies[i].name;
                if (name[0] && MatchesTypedText(name, typed + 1))
                    FormatAutocompleteEntry(&out->list, name, nullptr, ENTRY_CATEGORY_STRATEGY, 0);
            }
        return;
    }
    for (uint32_t row = 1; row < SCRIPT_ITEM_COUNT; row++) {
        const ScriptItem &item = gScriptItems[row];
        if (!item.name || !item.name[0] || !IsItemAllowedInSection(item.category, c.section)) continue;
        if (MatchesTypedText(item.name, typed))
            FormatAutocompleteEntry(&out->list, item.name, item.description, (int32_t)item.category,
                                    gSettings.ScriptAutoCDesc);
        if (item.alias && item.alias[0] && MatchesTypedText(item.alias, typed))
            FormatAutocompleteEntry(&out->list, item.alias, item.description, (int32_t)item.category,
                                    gSettings.ScriptAutoCDesc);
    }
    if (!data) return;
    char name[WORD_SIZE + 8];
    for (int i = 0; gFundamentalFields[i].group; i++) {
        const FundamentalField &f = gFundamentalFields[i];
        if (!f.name || !f.name[0] || !f.present) continue;
        FormatText(name, sizeof name, "F.%s", f.name);
        if (MatchesTypedText(name, typed))
            FormatAutocompleteEntry(&out->list, name, f.description, CAT_BAR_VALUE, gSettings.ScriptAutoCDesc);
        FormatText(name, sizeof name, "F.%s.Date", f.name);
        if (MatchesTypedText(name, typed))
            FormatAutocompleteEntry(&out->list, name, f.description, CAT_BAR_VALUE, gSettings.ScriptAutoCDesc);
    }
    for (int32_t i = 0; i < gConstituencyCount && gConstituency; i++)
        if (gConstituency[i].scriptName[0] && MatchesTypedText(gConstituency[i].scriptName, typed))
            FormatAutocompleteEntry(&out->list, gConstituency[i].scriptName, gConstituency[i].label, CAT_BAR_VALUE,
                                    gSettings.ScriptAutoCDesc);
    AddScriptNames(out, c, AcceptVisible, 0, "variable");
}

/* The DataSource value of the Import section above the caret; "" none. */
void ImportDataSource(const Context &c, char *out, int32_t size)
{
    out[0] = 0;
    int32_t p = LineStartOf(c.text, c.caret);
    while (p > 0) {
        int32_t start = LineStartOf(c.text, p - 1);
        int32_t end = p - 1;
        int32_t s = start;
        while (s < end && (c.text[s] == ' ' || c.text[s] == '\t')) s++;
        if (SectionAtPosition(c.text, c.length, s)) return;
        if (CompareNoCaseN(c.text + s, "DataSource", 10) == 0) {
            char line[PATH_SIZE];
            CopyString(line, sizeof line, c.text + start, end - start);
            LineValueText(line, (int32_t)strlen(line), out, size);
            return;
        }
        p = start;
    }
}

struct FolderListing {
    SuggestResult *out;
    int32_t kind;
    const char *folderPart; /* the value up to its last backslash, or "" */
};

int32_t kFileKindsExtensions(int32_t kind, const char **list)
{
    static const char *const kLists[] = {"KVD", "KVR", "KVS", "CSV", "CSV", "TXT", "CSV,TXT", "CSV,TXT,TLS"};
    if (kind < 20 || kind > 27) return 0;
    *list = kLists[kind - 20];
    return 1;
}

int HasListedExtension(const char *name, const char *list)
{
    const char *dot = strrchr(name, '.');
    if (!dot) return 0;
    char ext[16];
    CopyString(ext, sizeof ext, dot + 1, -1);
    const char *p = list;
    while (*p) {
        const char *comma = strchr(p, ',');
        size_t n = comma ? (size_t)(comma - p) : strlen(p);
        if (strlen(ext) == n && CompareNoCaseN(ext, p, n) == 0) return 1;
        if (!comma) break;
        p = comma + 1;
    }
    return 0;
}

int ListFolderEntry(const char *name, int isFolder, void *user)
{
    FolderListing *listing = (FolderListing *)user;
    if (name[0] == '.') return 1;
    const char *extensions = nullptr;
    if (!isFolder && (!kFileKindsExtensions(listing->kind, &extensions) || !HasListedExtension(name, extensions)))
        return 1;
    char entry[PATH_SIZE];
    if (listing->folderPart[0])
        FormatText(entry, sizeof entry, "%s\\%s", listing->folderPart, name);
    else
        CopyString(entry, sizeof entry, name, -1);
    FormatAutocompleteEntry(&listing->out->list, entry, nullptr, -1, 0);
    return 1;
}

void ListFolderOf(SuggestResult *out, const Context &c, const char *value, int32_t kind, const char *base)
{
    char pattern[PATH_SIZE];
    CopyString(pattern, sizeof pattern, value, -1);
    if (!ExpandPathMacros(pattern, base)) return;
    size_t n = strlen(pattern);
    if (n + 2 > sizeof pattern) return;
    pattern[n] = '*';
    pattern[n + 1] = 0;
    char folderPart[PATH_SIZE] = "";
    const char *slash = strrchr(value, '\\');
    if (slash) CopyString(folderPart, sizeof folderPart, value, (int)(slash - value));
    FolderListing listing = {.out = out, .kind = kind, .folderPart = folderPart};
    PlatListFolder(pattern, ListFolderEntry, &listing);
    for (const char *const *m = kPathMacros; *m; m++)
        if (MatchesTypedText(*m, value)) FormatAutocompleteEntry(&out->list, *m, nullptr, -1, 0);
    if (out->list.length) {
        out->show = SUGGEST_SHOW_AUTOCOMPLETE;
        out->typedLength = (int32_t)strlen(value);
    }
}

const char *BaseFolderOf(int32_t kind)
{
    if (kind == 18) return gProgramFolder;
    if (kind == 19 || kind == 24) return gSettings.OutputPath;
    if (kind == 20) return gSettings.DataPath;
    return gSettings.ScriptPath;
}

void AddFileChoices(SuggestResult *out, const Context &c)
{
    char line[PATH_SIZE], value[PATH_SIZE] = "";
    int32_t start = LineStartOf(c.text, c.caret);
    int32_t end = c.caret;
    while (end < c.length && c.text[end] != '\r' && c.text[end] != '\n') end++;
    if (end - start >= PATH_SIZE) return;
    CopyString(line, sizeof line, c.text + start, end - start);
    LineValueText(line, end - start, value, sizeof value);
    int import = c.section == SECTION_IMPORT;
    char source[WORD_SIZE] = "";
    if (import) ImportDataSource(c, source, sizeof source);
    int norgate = import && CompareNoCase(source, "Norgate") == 0;
    if (c.kind == SUGGEST_KIND_DATA_FOLDER && import) {
        if (!source[0]) {
            CopyString(out->hint, sizeof out->hint, "Please specify the DataSource before adding a CSV Path.", -1);
            out->hintIsWarning = 1;
            return;
        }
        if (norgate || CompareNoCase(source, "Yahoo") == 0) {
            FormatAutocompleteEntry(&out->list, norgate ? "NDU" : "Yahoo", nullptr, -1, 0);
            out->show = SUGGEST_SHOW_USER_LIST;
            return;
        }
        if (c.forced) {
            FormatText(out->hint, sizeof out->hint, "Path of %s folder.", source);
            return;
        }
        ListFolderOf(out, c, value, c.kind, gProgramFolder);
        return;
    }
    if (c.forced) {
        if (c.kind == SUGGEST_KIND_SYMBOL_LIST)
            CopyString(out->hint, sizeof out->hint,
                       norgate ? "Specific symbols or path to symbol list file or . followed by Norgate watchlist name."
                               : "Specific symbols or path to symbol list file.",
                       -1);
        else
            FormatText(out->hint, sizeof out->hint, "Path to %s file.", c.word);
        return;
    }
    if (c.kind == SUGGEST_KIND_SYMBOL_LIST && norgate && value[0] == '.') {
        if (ListNorgateWatchlistNames(value) && gNorgateWatchlistNames[0]) {
            out->list.length = CopyString(out->list.text, sizeof out->list.text, gNorgateWatchlistNames, -1);
            out->show = SUGGEST_SHOW_USER_LIST;
        }
        return;
    }
    ListFolderOf(out, c, value, c.kind, BaseFolderOf(c.kind));
}

void FillList(SuggestResult *out, const Context &c)
{
    int32_t kind = c.kind;
    if (c.mode == MODE_LINE_START) {
        AddHeaders(out, c.typed);
        return;
    }
    if (kind >= SUGGEST_KIND_FIRST_FILE && kind <= SUGGEST_KIND_LAST_FILE) {
        AddFileChoices(out, c);
        return;
    }
    if (kind >= SUGGEST_KIND_FORMULA && kind <= SUGGEST_KIND_LAST_FORMULA) {
        AddFormulaChoices(out, c);
        return;
    }
    for (const OptionKind &o : kOptionKinds) {
        if (o.kind != kind) continue;
        if (o.words) AddWords(out, c.typed, o.words);
        if (o.hint) AddHint(out, c, o.hint);
        return;
    }
    switch (kind) {
    case SUGGEST_KIND_NAME: AddHint(out, c, "Type your %s name here.", IsStrategyType(c.section) ? "strategy" : "test"); return;
    case 4: AddSymbols(out, c.typed, 0); return;
    case SUGGEST_KIND_ITEM_SECTION:
        if (c.section == SECTION_DATA || c.section == SECTION_TEST_DATA) {
            if (MatchesTypedText("BarSize", c.typed))
                FormatAutocompleteEntry(&out->list, "BarSize", "data bar size", ENTRY_CATEGORY_KEYWORD, gSettings.ScriptAutoCDesc);
        } else if (IsTradesOrScan(c.section)) {
            int trades = c.section == SECTION_TRADES;
            if (MatchesTypedText("Filter", c.typed))
                FormatAutocompleteEntry(&out->list, "Filter", trades ? "trades filter formula" : "scan filter formula",
                                        ENTRY_CATEGORY_KEYWORD, gSettings.ScriptAutoCDesc);
            if (MatchesTypedText("Sort", c.typed))
                FormatAutocompleteEntry(&out->list, "Sort", trades ? "trades sort order" : "scan sort order",
                                        ENTRY_CATEGORY_KEYWORD, gSettings.ScriptAutoCDesc);
        }
        if (!IsTradesOrScan(c.section)) AddHint(out, c, "Define a %s item here.", c.word);
        return;
    case SUGGEST_KIND_WALK_FORWARD:
        if (MatchesTypedText("Dates", c.typed)) FormatAutocompleteEntry(&out->list, "Dates", nullptr, -1, 0);
        AddScriptNames(out, c, AcceptParameters, 0, nullptr);
        return;
    case SUGGEST_KIND_WALK_FORWARD_ITEM:
        if (CompareNoCase(c.word, "dates") == 0)
            AddHint(out, c, "Enter the walk-forward date list.");
        else
            AddHint(out, c, "Enter per-date values for %s.", c.word);
        return;
    case SUGGEST_KIND_STRATEGY:
    case SUGGEST_KIND_STATS_GROUP:
    case SUGGEST_KIND_COMBINED:
        for (int32_t t = kind; t <= SUGGEST_KIND_COMBINED; t++) AddKeywordsOfTarget(out, c.typed, t);
        return;
    case 12: {
        if (!c.names) return;
        for (int32_t i = 0; i < c.names->scriptNameCount; i++) {
            const ScriptNameRow &row = c.names->scriptNames[i];
            if (row.name[0] && IsStrategyType(row.section) && MatchesTypedText(row.name, c.typed))
                FormatAutocompleteEntry(&out->list, row.name, nullptr, -1, 0);
        }
        return;
    }
    case 36:
        for (int32_t i = 0; i < gConstituencyCount && gConstituency; i++)
            if (gConstituency[i].scriptName[0] && MatchesTypedText(gConstituency[i].scriptName, c.typed))
                FormatAutocompleteEntry(&out->list, gConstituency[i].scriptName, gConstituency[i].label, -1,
                                        gSettings.ScriptAutoCDesc);
        return;
    case 37:
        for (int i = 0; gFundamentalFields[i].group; i++) {
            const FundamentalField &f = gFundamentalFields[i];
            if (f.group != 1 && f.name && f.name[0] && MatchesTypedText(f.name, c.typed))
                FormatAutocompleteEntry(&out->list, f.name, f.description, -1, gSettings.ScriptAutoCDesc);
        }
        return;
    case 64: {
        /* The Results columns of the last compile that are shown. */
        const FormulaColumn *columns = (const FormulaColumn *)gResultsColumns.items;
        for (int32_t i = 0; columns && i < gResultsColumns.count; i++)
            if (columns[i].format && columns[i].formula.name[0] && MatchesTypedText(columns[i].formula.name, c.typed))
                FormatAutocompleteEntry(&out->list, columns[i].formula.name, nullptr, -1, 0);
        return;
    }
    case SUGGEST_KIND_SORT:
        if (c.forced) {
            AddHint(out, c, "Comma-separated column list, leading dash means descending.");
            return;
        }
        AddWords(out, c.typed, c.section == SECTION_TRADES ? kTradeSortColumns : kOtherSortColumns);
        if (c.names)
            for (int32_t i = 0; i < c.names->scriptNameCount; i++) {
                const ScriptNameRow &row = c.names->scriptNames[i];
                if (row.name[0] && row.section == c.section && MatchesTypedText(row.name, c.typed))
                    FormatAutocompleteEntry(&out->list, row.name, nullptr, -1, 0);
            }
        return;
    default:
        AddKeywordsOfTarget(out, c.typed, kind);
        return;
    }
}

} // namespace

int IsItemAllowedInSection(uint32_t category, int32_t section)
{
    if (category == CAT_END || category == CAT_OPEN || category == CAT_CLOSE || category == CAT_OPERATOR) return 0;
    if (category == CAT_CONSTANT || category == CAT_SYSTEM) return 1;
    if (category == CAT_ARGUMENT) return section == SECTION_LIBRARY;
    switch (section) {
    case SECTION_RESULTS:
        return category == CAT_TEXT || category == CAT_PARAMETER || category == CAT_MULTI_BAR ||
            category == CAT_FUNCTION || category >= CAT_STRATEGY_STAT;
    case SECTION_GRAPHS:
        return category == CAT_TEXT || category == CAT_PARAMETER || (category >= CAT_BAR_VALUE && category <= CAT_MULTI_BAR) ||
            category == CAT_FUNCTION || category == CAT_STRATEGY_STAT || category == CAT_TRADE_STAT || category == CAT_SUM;
    case SECTION_CHARTS:
    case SECTION_TEMPLATE:
    case SECTION_BENCHMARK:
    case SECTION_STRATEGY:
    case SECTION_STATS_GROUP:
    case SECTION_TEST_SCAN:
    case SECTION_COMBINED: return category != CAT_BREADTH;
    case SECTION_TRADES: return category != CAT_BREADTH && category != CAT_POSITION_INFO;
    case SECTION_DATA: return category < CAT_POSITION_INFO;
    case SECTION_SCAN:
    case SECTION_IMPORT: return category != CAT_BREADTH && category < CAT_POSITION_INFO;
    case SECTION_LIBRARY:
    case SECTION_TEST_DATA:
    case SECTION_STRAT_DATA: return 1;
    default: return 0;
    }
}

void SuggestChoicesAt(const char *text, int32_t length, int32_t caret, int forced, int inDialog,
                      const CompilerState *names, SuggestResult *out)
{
    memset(out, 0, sizeof *out);
    if (caret < 0 || caret > length) return;
    uint8_t *styles = nullptr;
    if (!AllocMemory(&styles, (uint64_t)length + 1)) return;
    StyleScriptBuffer(text, length, names, inDialog, styles, nullptr, 0);
    Context c = {};
    c.text = text;
    c.length = length;
    c.caret = caret;
    c.forced = forced;
    c.names = names;
    int quiet = caret > 0 && IsQuiet(styles[caret - 1]);
    int resolved = !quiet;
    if (resolved && inDialog) {
        c.section = SECTION_CHARTS;
        c.kind = SUGGEST_KIND_FORMULA;
        c.mode = MODE_VALUE;
    } else if (resolved) {
        c.section = caret > 0 ? EnclosingSection(text, length, styles, caret) : 0;
        int32_t lineStart = LineStartOf(text, caret);
        int32_t wordStart = caret;
        WordAround(text, length, caret, &wordStart);
        /* Headers start in the first column; section bodies are indented. */
        int atLineStart = (forced ? caret : wordStart) == lineStart;
        if (c.section == SECTION_NONE || atLineStart) {
            c.mode = MODE_LINE_START;
            c.kind = SUGGEST_KIND_LINE_START;
        } else if (styles[caret - 1] == SCRIPT_STYLE_VAR_NAME) {
            resolved = 0;
        } else {
            resolved = 0;
            uint8_t foundStyle = 0;
            for (int32_t p = caret - 1; p >= 0; p--) {
                uint8_t style = styles[p];
                if (IsQuiet(style)) continue;
                int alnum = isalnum((unsigned char)text[p]);
                int onLine = p >= lineStart;
                if (onLine && alnum && style == SCRIPT_STYLE_SECTION_NAME) {
                    c.kind = SUGGEST_KIND_NAME;
                    c.mode = MODE_VALUE;
                    resolved = 1;
                    break;
                }
                if (style == SCRIPT_STYLE_SECTION)
                    c.mode = MODE_BODY;
                else if (onLine && alnum && (style == SCRIPT_STYLE_SECTION_ITEM || style == SCRIPT_STYLE_VAR_NAME))
                    /* Within the word at the caret: the keyword itself is being typed. */
                    c.mode = p >= wordStart ? MODE_KEYWORD : MODE_VALUE;
                else
                    continue;
                int32_t start = p, end = p;
                while (start > 0 && styles[start - 1] == style && IsKeywordChar(text[start - 1])) start--;
                while (end < length && styles[end] == style && IsKeywordChar(text[end])) end++;
                if (end - start < 1 || end - start > 78) break;
                CopyString(c.word, sizeof c.word, text + start, end - start);
                foundStyle = style;
                resolved = 1;
                break;
            }
            if (resolved && c.kind != SUGGEST_KIND_NAME) {
                if (foundStyle == SCRIPT_STYLE_VAR_NAME) {
                    c.kind = KindOfDefinedName(c.word, c.section);
                } else {
                    const ScriptKeyword *found = nullptr;
                    for (int i = 0; kScriptKeywords[i].name[0] && !found; i++)
                        if (RowFitsSection(kScriptKeywords[i], c.section) && CompareNoCase(kScriptKeywords[i].name, c.word) == 0)
                            found = &kScriptKeywords[i];
                    if (found)
                        c.kind = c.mode == MODE_VALUE ? found->valueType : found->target;
                    else
                        c.kind = KindOfSectionDefault(c.section);
                }
            }
        }
    }
    FreeMemory(&styles);
    if (!resolved) return;
    out->hasContext = 1;
    out->kind = c.kind;
    if (!forced) {
        int32_t start = 0;
        int32_t n = WordAround(text, length, caret, &start);
        if (n < 1 || n > 79 || isdigit((unsigned char)text[start])) return;
        CopyString(c.typed, sizeof c.typed, text + start, n);
    }
    FillList(out, c);
    if (out->list.length && out->show == SUGGEST_SHOW_NOTHING) out->show = SUGGEST_SHOW_USER_LIST;
}
