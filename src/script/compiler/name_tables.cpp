/* name_tables.cpp -- script-name lists, their visibility rule and the
** editor's name scan. */
#include "script/compiler/name_tables.h"

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "marketdata/store/constituency.h"
#include "platform/platform.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/formula.h"
#include "script/compiler/import_items.h"
#include "script/compiler/definitions.h"
#include "script/compiler/keywords.h"
#include "script/compiler/preprocessor.h"
#include "script/eval/item_table.h"
#include "services/services.h"

namespace {

constexpr uint32_t Bit(int32_t section) { return 1u << section; }

constexpr uint32_t kStrategyLike = Bit(SECTION_TEMPLATE) | Bit(SECTION_BENCHMARK) | Bit(SECTION_STRATEGY) |
    Bit(SECTION_STATS_GROUP) | Bit(SECTION_COMBINED);
constexpr uint32_t kColumnSections = Bit(SECTION_RESULTS) | Bit(SECTION_GRAPHS) | Bit(SECTION_CHARTS) |
    Bit(SECTION_TRADES) | Bit(SECTION_SCAN) | Bit(SECTION_TEST_SCAN);
/* The sections whose formulas see each kind of definition (the formula
** compiler's rule). */
constexpr uint32_t kSeeData = Bit(SECTION_NONE) | kStrategyLike | Bit(SECTION_GRAPHS) | Bit(SECTION_CHARTS) |
    Bit(SECTION_TRADES) | Bit(SECTION_SCAN) | Bit(SECTION_LIBRARY) |
    Bit(SECTION_TEST_SCAN) | Bit(SECTION_TEST_DATA) | Bit(SECTION_STRAT_DATA) |
    Bit(SECTION_DATA);
constexpr uint32_t kSeeTestData = Bit(SECTION_NONE) | kStrategyLike | Bit(SECTION_RESULTS) | Bit(SECTION_GRAPHS) |
    Bit(SECTION_CHARTS) | Bit(SECTION_TRADES) | Bit(SECTION_LIBRARY) |
    Bit(SECTION_TEST_SCAN) | Bit(SECTION_TEST_DATA) | Bit(SECTION_STRAT_DATA);

bool In(uint32_t set, int32_t section) { return section >= 0 && section < 32 && ((set >> section) & 1); }

/* Sections whose "Name:" lines are keywords, not item names. */
bool IsKeywordSection(int32_t section)
{
    return section == SECTION_NONE || section == SECTION_IMPORT || section == SECTION_SCAN_SETTINGS ||
        section == SECTION_TEST_SETTINGS || In(kStrategyLike, section) || section == SECTION_SETTINGS ||
        section == SECTION_ORDER_SETTINGS || section == SECTION_NOTES || section == SECTION_OPTIMIZE_SETTINGS;
}

bool HasName(const char *name, const CompilerState *state)
{
    for (int32_t i = 0; i < state->scriptNameCount; i++)
        if (state->scriptNames[i].name[0] && CompareNoCase(state->scriptNames[i].name, name) == 0) return true;
    return false;
}

void AddIfNew(const char *name, int32_t section, CompilerState *state)
{
    if (name[0] && !HasName(name, state)) AddScriptName(name, section, state);
}

void FreeStateLists(CompilerState *state)
{
    FreeMemory(&state->scriptNames);
    FreeMemory(&state->includedFiles);
    FreeMemory(&state->definedNames);
    state->scriptNameCount = state->scriptNameCapacity = 0;
    state->includedFileCount = state->includedFileCapacity = 0;
    state->definedNameCount = 0;
}

/* The preprocessor fields a nested scan must leave as it found them, since the
** parser may be in the middle of the same state. */
struct PreprocessorSave {
    int32_t nesting;
    int32_t pendingError;
    int32_t conditions[COMPILER_MAX_FILE_LEVELS][COMPILER_CONDITION_SLOTS];
};

void SavePreprocessor(const CompilerState *state, PreprocessorSave *save)
{
    save->nesting = state->conditionNesting;
    save->pendingError = state->pendingError;
    memcpy(save->conditions, state->conditions, sizeof save->conditions);
}

void RestorePreprocessor(CompilerState *state, const PreprocessorSave *save)
{
    state->conditionNesting = save->nesting;
    state->pendingError = save->pendingError;
    memcpy(state->conditions, save->conditions, sizeof save->conditions);
}

/* The name token on the rest of a header's line (up to its end or a comment). */
void HeaderName(const char *p, const char *end, char *out, int size)
{
    int n = 0;
    while (p + n < end && p[n] && p[n] != '\r' && p[n] != '\n' && p[n] != '{' &&
           !(p[n] == '/' && (p[n + 1] == '/' || p[n + 1] == '*')))
        n++;
    out[0] = 0;
    if (ReadNameToken(out, size, p, n) != 0) out[0] = 0;
}

void ScanInclude(const char *valueText, int32_t *counts, CompilerState *state)
{
    char path[PATH_SIZE];
    if (!ExtractIncludePath(valueText, path)) return;
    if (IsFileIncluded(path, state) || state->includeDepth + 1 >= COMPILER_MAX_FILE_LEVELS) return;
    state->includeDepth++;
    ScanScriptItemNames(path, counts, 0, state);
    state->includeDepth--;
}

/* Walks the text: section headers, their names, and item names. */
void WalkNames(const char *text, int32_t length, int32_t *counts, CompilerState *state)
{
    int32_t section = SECTION_NONE;
    char nameSpace[64] = "";
    const char *end = text + length;
    int32_t i = 0;
    while (i < length && text[i]) {
        const char *p = text + i;
        const char *q = p;
        if (*p == '#' && HandlePreprocessorDirective(&q, state)) {
            state->pendingError = 0;
            i = (int32_t)(q - text);
            continue;
        }
        if (section != SECTION_NOTES) {
            if (*p == '"' || *p == '\'') {
                int32_t j = i + 1;
                while (j < length && text[j] && text[j] != *p) j++;
                i = j < length && text[j] ? j + 1 : j;
                continue;
            }
            q = p;
            if (SkipComment(&q, state)) {
                i = (int32_t)(q - text) + 1;
                continue;
            }
        }
        if (*p != ':' || p[1] == '\\') {
            i++;
            continue;
        }
        int32_t stop = i;
        while (stop > 0 && (text[stop - 1] == ' ' || text[stop - 1] == '\t')) stop--;
        int32_t start = stop;
        while (start > 0 && !IsTokenDelimiter(text[start - 1])) start--;
        char word[80];
        CopyString(word, sizeof word, text + start, stop - start);
        int32_t id = FindSectionName(word);
        if (id) {
            if (counts) counts[id]++;
            section = id;
            if (id == SECTION_INCLUDE) {
                ScanInclude(p + 1, counts, state);
            } else if (id == SECTION_NAMESPACE) {
                char name[256];
                HeaderName(p + 1, end, name, sizeof name);
                CopyString(nameSpace, sizeof nameSpace, CompareNoCase(name, "none") == 0 ? "" : name, -1);
            } else if (In(kStrategyLike, id)) {
                char name[256];
                HeaderName(p + 1, end, name, sizeof name);
                AddIfNew(name, id, state);
            }
        } else if (!IsKeywordSection(section) && CompareNoCase(word, "filter") != 0 &&
                   CompareNoCase(word, "sort") != 0 && CompareNoCase(word, "text") != 0 && word[0]) {
            AddIfNew(word, section, state);
            if (nameSpace[0] && !strchr(word, '.')) {
                char qualified[160];
                FormatText(qualified, sizeof qualified, "%s.%s", nameSpace, word);
                AddIfNew(qualified, section, state);
            }
        }
        i++;
    }
}

} // namespace

/* ---- the list ---------------------------------------------------------------------- */

void AddScriptName(const char *name, int32_t section, CompilerState *state)
{
    if (!state || gOutOfMemory) return;
    ScriptNameRow *row = nullptr;
    for (int32_t i = 0; i < state->scriptNameCount && !row; i++)
        if (!state->scriptNames[i].name[0]) row = state->scriptNames + i;
    if (!row) {
        if (state->scriptNameCount + 1 >= state->scriptNameCapacity) {
            int32_t capacity = state->scriptNameCapacity + SCRIPT_NAME_GROW;
            if (!ReallocMemory(&state->scriptNames, (uint64_t)capacity * sizeof(ScriptNameRow))) return;
            memset(state->scriptNames + state->scriptNameCapacity, 0,
                   (size_t)(capacity - state->scriptNameCapacity) * sizeof(ScriptNameRow));
            state->scriptNameCapacity = capacity;
        }
        row = state->scriptNames + state->scriptNameCount++;
    }
    CopyString(row->name, sizeof row->name, name, -1);
    row->section = section;
}

int FindScriptName(const char *name, int32_t section, const CompilerState *state)
{
    if (!state) return 0;
    for (int32_t i = 0; i < state->scriptNameCount; i++) {
        const ScriptNameRow &row = state->scriptNames[i];
        if (row.name[0] && CompareNoCase(row.name, name) == 0 && SectionCanSee(section, row.section)) return 1;
    }
    return 0;
}

int SectionCanSee(int32_t referencing, int32_t defining)
{
    if (referencing < 0) return defining < 0 && defining >= referencing;
    if (defining < 0) return 0;
    if (referencing == SECTION_IMPORT || referencing == SECTION_PARAMETERS || referencing == SECTION_WALK_FORWARD)
        return 0;
    switch (defining) {
    case SECTION_DATA: return In(kSeeData, referencing);
    case SECTION_LIBRARY: return referencing != SECTION_RESULTS;
    case SECTION_TEST_DATA:
    case SECTION_STRAT_DATA: return In(kSeeTestData, referencing);
    case SECTION_PARAMETERS:
    case SECTION_WALK_FORWARD: return 1;
    default:
        if (In(kColumnSections, defining)) return referencing == defining;
        if (In(kStrategyLike, defining)) return referencing == SECTION_NONE || In(kStrategyLike, referencing);
        return referencing == defining;
    }
}

int MatchSectionHeader(const char *text, int32_t *id)
{
    for (int32_t s = 1; s < (int32_t)SECTION_COUNT; s++) {
        size_t n = strlen(kSectionNames[s]);
        if (CompareNoCaseN(text, kSectionNames[s], n) == 0 && text[n] == ':') {
            if (id) *id = s;
            return 1;
        }
    }
    return 0;
}

/* ---- special names ------------------------------------------------------------------- */

namespace {

void BindNode(FormulaNode *node, uint32_t row, uint32_t category, uint32_t index)
{
    if (!node) return;
    node->item = row;
    node->category = category;
    node->index = index;
}

} // namespace

int ResolveNamedListItem(const char *name, FormulaNode *node)
{
    for (int32_t i = 0; i < gConstituencyCount; i++) {
        if (gConstituency[i].scriptName[0] && CompareNoCase(gConstituency[i].scriptName, name) == 0) {
            BindNode(node, ITEM_CONSTITUENCY, CAT_BAR_VALUE, gConstituency[i].id - 1);
            return 1;
        }
    }
    return 0;
}

int ResolveFundamentalField(const char *name, FormulaNode *node)
{
    if (!(name[0] == 'F' || name[0] == 'f') || name[1] != '.') return 0;
    char field[80];
    CopyString(field, sizeof field, name + 2, -1);
    int date = 0;
    if (char *dot = strchr(field, '.')) {
        if (CompareNoCase(dot, ".date") != 0) return 0;
        *dot = 0;
        date = 1;
    }
    int row = field[0] ? FindFundamentalField(field) : -1;
    if (row < 0) return 0;
    BindNode(node, date ? ITEM_FUNDAMENTAL_DATE : ITEM_FUNDAMENTAL, CAT_SYMBOL_INFO, (uint32_t)row);
    return 1;
}

/* "arg1" to "arg9"; "arg1.0" counts as 1. */
int ResolveArgName(const char *name, FormulaNode *node)
{
    if (CompareNoCaseN(name, "arg", 3) != 0) return 0;
    double n = 0;
    int used = ReadNumberPrefix(name + 3, &n);
    if (used == 0 || name[3 + used] != 0) return 0;
    if (!(n > 0 && n < 10) || n != (double)(int)n) return 0;
    BindNode(node, ITEM_ARG, CAT_ARGUMENT, (uint32_t)n);
    return 1;
}

/* ---- the scan ------------------------------------------------------------------------ */

namespace {
int sScanNesting; /* scans running, the outermost one included */
int ScanNames(const char *source, int32_t *counts, int length, CompilerState *state);
} // namespace

/* A state given to the outermost scan keeps its own included-file list: that
** list is the compile's record of files already parsed, and a name scan ahead
** of the parser must not make the parser skip them.  The scan tracks the
** files it visits in a list of its own. */
int ScanScriptItemNames(const char *source, int32_t *counts, int length, CompilerState *state)
{
    if (!state || sScanNesting > 0) {
        sScanNesting++;
        int ok = ScanNames(source, counts, length, state);
        sScanNesting--;
        return ok;
    }
    char(*files)[PATH_SIZE] = state->includedFiles;
    int32_t fileCount = state->includedFileCount;
    int32_t fileCapacity = state->includedFileCapacity;
    state->includedFiles = nullptr;
    state->includedFileCount = state->includedFileCapacity = 0;
    sScanNesting++;
    int ok = ScanNames(source, counts, length, state);
    sScanNesting--;
    FreeMemory(&state->includedFiles);
    state->includedFiles = files;
    state->includedFileCount = fileCount;
    state->includedFileCapacity = fileCapacity;
    return ok;
}

namespace {

/* The editor rescans the names on every styling request, so the texts of
** included files are kept and read again only when their size or time of
** writing changed.  A few slots, replaced in turn. */
enum { SCRIPT_TEXT_CACHE_SLOTS = 16 };
struct CachedScriptText {
    char path[PATH_SIZE];
    uint64_t size;
    PlatDateTime written;
    char *text;
    uint32_t length;
};
struct ScriptTextCache {
    CachedScriptText slots[SCRIPT_TEXT_CACHE_SLOTS];
    int32_t next;
};
ScriptTextCache sScriptTextCache;

/* A copy of the file's text in *out (the caller frees it); 0 when it cannot
** be read, without a message: a file the editor cannot read has no names. */
int LoadScriptTextCached(const char *path, char **out, uint32_t *size)
{
    uint64_t fileSize = 0;
    PlatDateTime written = {};
    if (!PlatGetFileInfo(path, &fileSize, &written)) return 0;
    CachedScriptText *slot = nullptr;
    for (CachedScriptText &s : sScriptTextCache.slots)
        if (s.text && ComparePaths(s.path, path) == 0) slot = &s;
    if (!slot || slot->size != fileSize || memcmp(&slot->written, &written, sizeof written) != 0) {
        char *text = nullptr;
        uint32_t length = 0;
        gMessageState.suppressNext = 1;
        int ok = LoadFile(path, &text, &length);
        gMessageState.suppressNext = 0;
        if (!ok) return 0;
        if (!slot) {
            slot = &sScriptTextCache.slots[sScriptTextCache.next];
            sScriptTextCache.next = (sScriptTextCache.next + 1) % SCRIPT_TEXT_CACHE_SLOTS;
        }
        FreeMemory(&slot->text);
        CopyString(slot->path, sizeof slot->path, path, -1);
        slot->size = fileSize;
        slot->written = written;
        slot->text = text;
        slot->length = length;
    }
    if (!AllocMemory(out, (uint64_t)slot->length + 1)) return 0;
    if (slot->text) memcpy(*out, slot->text, slot->length);
    (*out)[slot->length] = 0;
    *size = slot->length;
    return 1;
}

} // namespace

void ResetScriptTextCache()
{
    for (CachedScriptText &s : sScriptTextCache.slots) FreeMemory(&s.text);
    sScriptTextCache = {};
}

namespace {

int ScanNames(const char *source, int32_t *counts, int length, CompilerState *state)
{
    const bool givenState = state != nullptr;
    CompilerState *temporary = nullptr;
    char *owned = nullptr;
    const char *text = source;
    int32_t textLength = length;
    char path[PATH_SIZE] = "";

    if (length <= 0) {
        void *window = nullptr;
        if (source && source[0]) {
            CopyString(path, sizeof path, source, -1);
            window = FindScriptWindow(path);
        } else if (!(window = GetEmptyActiveScriptWindow())) {
            return 0;
        }
        if (window) {
            intptr_t n = EditorCall(window, EDITOR_GET_LENGTH, 0, 0);
            if (n < 0 || !AllocMemory(&owned, (uint64_t)n + 1)) return 0;
            EditorCall(window, EDITOR_GET_TEXT, (uintptr_t)n + 1, (intptr_t)owned);
            owned[n] = 0;
            textLength = (int32_t)n;
            if (!state) {
                /* The window's record is rebuilt from scratch by every scan. */
                state = ScriptWindowState(window);
                state->scriptNameCount = 0;
                state->includedFileCount = 0;
                state->definedNameCount = 0;
                state->conditionNesting = 0;
                state->pendingError = 0;
                memset(state->conditions, 0, sizeof state->conditions);
                state->includeDepth = 1;
            }
        } else {
            if (!HasFileExtension(path, "kvs") || !PlatFileExists(path)) return 0;
            uint32_t size = 0;
            /* The editor scans while the user types: a file it cannot read
            ** simply has no names. */
            if (!LoadScriptTextCached(path, &owned, &size)) return 0;
            textLength = (int32_t)size;
            if (!state) {
                if (!AllocMemory(&temporary, sizeof(CompilerState))) {
                    FreeMemory(&owned);
                    return 0;
                }
                memset(temporary, 0, sizeof *temporary);
                temporary->includeDepth = 1;
                state = temporary;
            }
        }
        text = owned;
        if (!givenState && path[0]) {
            char autoInclude[PATH_SIZE];
            const char *slash = strrchr(path, '\\');
            if (slash) {
                char folder[PATH_SIZE];
                CopyString(folder, sizeof folder, path, (int)(slash - path));
                FormatText(autoInclude, sizeof autoInclude, "%s\\autoinclude.kvs", folder);
            } else {
                FormatText(autoInclude, sizeof autoInclude, "%s\\autoinclude.kvs", gScriptsFolder);
            }
            if (ComparePaths(autoInclude, path) != 0 && PlatFileExists(autoInclude) &&
                !IsFileIncluded(autoInclude, state)) {
                state->includeDepth++;
                ScanScriptItemNames(autoInclude, counts, 0, state);
                state->includeDepth--;
            }
        }
        if (path[0]) AddIncludedFile(path, state);
    } else if (!state || !source) {
        return 0;
    }

    PreprocessorSave save;
    if (givenState) SavePreprocessor(state, &save);
    WalkNames(text, textLength, counts, state);
    if (givenState) RestorePreprocessor(state, &save);

    if (temporary) {
        FreeStateLists(temporary);
        FreeMemory(&temporary);
    }
    FreeMemory(&owned);
    return 1;
}

} // namespace
