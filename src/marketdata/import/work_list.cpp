/* work_list.cpp -- the symbols an import asks for, the patterns it leaves
** out, and the names of its lists. */
#include <cctype>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"
#include "marketdata/store/datafile.h"

static const char kMsgTooLong[] = "Symbol '%s' is too long.";

void MakeSymbolKey(const char *symbol, int block, char out[IMPORT_KEY_SIZE])
{
    FormatText(out, IMPORT_KEY_SIZE, "%d.%s", block, symbol);
    for (char *p = out; *p; p++) *p = (char)toupper((unsigned char)*p);
}

int CompareTextNoCase(const void *a, const void *b)
{
    return CompareNoCase((const char *)a, (const char *)b);
}

/* Keeps room for WORK_LIST_SPARE more entries after count. */
static int ReserveItems(ImportWorkItem **items, int32_t count, int32_t *capacity)
{
    if (count + 1 < *capacity) return 1;
    int32_t grown = count + 1 + WORK_LIST_SPARE;
    if (!ReallocMemory(items, (uint64_t)grown * sizeof(ImportWorkItem))) return 0;
    *capacity = grown;
    return 1;
}

ImportWorkItem *FindImportWorkItem(const char *symbol, int block)
{
    if (!gImport.workKeys) return nullptr;
    char key[IMPORT_KEY_SIZE];
    MakeSymbolKey(symbol, block, key);
    uint64_t position = HashLookup(gImport.workKeys, key);
    return position && position <= (uint64_t)gImport.workCount ? &gImport.work[position - 1] : nullptr;
}

static int IsSymbolBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

const char *TrimSymbolText(const char *text, size_t *length)
{
    size_t n = *length;
    while (n > 0 && IsSymbolBlank(*text)) text++, n--;
    while (n > 0 && IsSymbolBlank(text[n - 1])) n--;
    *length = n;
    return text;
}

void CopySymbolText(char *out, size_t size, const char *text, size_t length)
{
    const char *start = TrimSymbolText(text, &length);
    CopyString(out, (int)size, start, length < size ? (int)length : (int)size - 1);
}

/* The symbol text into out without its blanks; 0 after "Symbol '%s' is too
** long." when it does not fit. */
static int TakeSymbolText(char out[IMPORT_SYMBOL_SIZE], const char *text)
{
    size_t length = strlen(text);
    const char *start = TrimSymbolText(text, &length);
    if (length >= IMPORT_SYMBOL_SIZE) {
        ReportError(kMsgTooLong, text);
        return 0;
    }
    memcpy(out, start, length);
    out[length] = 0;
    return 1;
}

ImportWorkItem *AddSymbolToImportList(char *whole, int block, int list, int flags)
{
    char both[IMPORT_SYMBOL_SIZE], text[IMPORT_SYMBOL_SIZE], saveAs[IMPORT_SYMBOL_SIZE] = "";
    if (!TakeSymbolText(both, whole)) return nullptr;
    char *arrow = strchr(both, '>');
    if (arrow) {
        *arrow = 0;
        CopySymbolText(saveAs, sizeof saveAs, arrow + 1, strlen(arrow + 1));
    }
    CopySymbolText(text, sizeof text, both, strlen(both));
    /* The key is the requested symbol alone, so "ABC>XYZ" and "ABC" in the
    ** lists of one block ask for one symbol once. */
    ImportWorkItem *item = FindImportWorkItem(text, block);
    if (!item && gImport.workKeys && ReserveItems(&gImport.work, gImport.workCount, &gImport.workCapacity)) {
        item = &gImport.work[gImport.workCount];
        memset(item, 0, sizeof *item);
        CopyString(item->symbol, sizeof item->symbol, text, -1);
        CopyString(item->saveAs, sizeof item->saveAs, saveAs[0] ? saveAs : text, -1);
        item->block = (uint32_t)block;
        item->list = (uint32_t)list;
        item->flags = (uint32_t)flags;
        char key[IMPORT_KEY_SIZE];
        MakeSymbolKey(text, block, key);
        if (HashInsert(gImport.workKeys, key, (uint64_t)gImport.workCount + 1))
            gImport.workCount++;
        else
            item = nullptr;
    }
    if (item && list >= 1 && list <= IMPORT_LISTS) item->lists[list - 1] = 1;
    return item;
}

int AddExcludePattern(const char *whole, int block)
{
    char pattern[IMPORT_SYMBOL_SIZE];
    if (!TakeSymbolText(pattern, whole)) return 0;
    if (!ReserveItems(&gImport.excludes, gImport.excludeCount, &gImport.excludeCapacity)) return 0;
    ImportWorkItem *item = &gImport.excludes[gImport.excludeCount++];
    memset(item, 0, sizeof *item);
    CopyString(item->symbol, sizeof item->symbol, pattern, -1);
    item->block = (uint32_t)block;
    return 1;
}

/* 1 when pattern matches the whole symbol. */
static int MatchExcludePattern(const char *source, const char *symbol)
{
    char pattern[256];
    CopyString(pattern, sizeof pattern, source, 255);
    char *star = strchr(pattern, '*');
    if (!star) return strlen(pattern) == strlen(symbol) && MatchChars(pattern, symbol) == (int)strlen(pattern);
    size_t prefix = (size_t)(star - pattern);
    *star = 0;
    if (strlen(symbol) < prefix || MatchChars(pattern, symbol) != (int)prefix) return 0;
    const char *rest = star + 1;
    if (!*rest) return 1;
    for (size_t at = prefix; symbol[at]; at++)
        if (MatchWildcard(rest, symbol + at)) return 1;
    return 0;
}

int IsSymbolExcluded(const char *symbol, int block)
{
    if (!symbol || !symbol[0]) return 0;
    for (int32_t i = 0; i < gImport.excludeCount; i++)
        if ((int)gImport.excludes[i].block == block && MatchExcludePattern(gImport.excludes[i].symbol, symbol)) return 1;
    return 0;
}

void AddListName(const char *name)
{
    if (gStore.listNameCount >= MAX_LIST_NAMES) return;
    uint64_t full = (uint64_t)MAX_LIST_NAMES * LIST_NAME_SIZE;
    if (TrackedBlockSize(gStore.listNames) < full && !ReallocMemory(&gStore.listNames, full)) return;
    CopyString(gStore.listNames[gStore.listNameCount], LIST_NAME_SIZE, name, LIST_NAME_SIZE - 1);
    gStore.listNameCount++;
}
