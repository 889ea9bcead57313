/* constituency.cpp -- the constituency table, tick sizes and security types. */
#include "marketdata/store/constituency.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "services/services.h"

ConstituencyRecord *gConstituency = nullptr;
int32_t gConstituencyCount = 0;

static const char kConstituencyFile[] = "%s\\constituency.csv";
static const char kReservedId[] = "Constituency id %u in %s is reserved and was skipped.";
static const char kOpenQuote[] = "Line %d of %s opens a double quote that it does not close and was skipped.";
static const char kBadId[] = "Line %d of %s gives the id %s, which is no whole number from 1 to 2147483646, and was "
                             "skipped.";

enum { RESERVED_ID_FIRST = 997,
       RESERVED_ID_LAST = 998 };

/* ---- constituency table ------------------------------------------------------ */

/* Copies the field at text up to the next comma or the end of the line into
** dest (at most maxLen characters) and returns where the next field starts
** (blanks after the comma skipped), or null after the last field. */
static const char *TakeField(const char *text, char *dest, int size, int maxLen)
{
    const char *end = strchr(text, ',');
    int len = end ? (int)(end - text) : (int)strlen(text);
    if (dest) CopyString(dest, size, text, len < maxLen ? len : maxLen);
    if (!end) return nullptr;
    end++;
    while (*end == ' ' || *end == '\t') end++;
    return end;
}

/* The list's path: the scripts folder's, or else the program folder's. */
static void ConstituencyPath(char *path, size_t size)
{
    FormatText(path, size, kConstituencyFile, gScriptsFolder);
    if (!PlatFileExists(path)) FormatText(path, size, kConstituencyFile, gProgramFolder);
}

int LoadConstituencyWhenPresent()
{
    char path[PATH_SIZE];
    ConstituencyPath(path, sizeof path);
    return PlatFileExists(path) ? LoadConstituency() : 1;
}

int LoadConstituency()
{
    char path[PATH_SIZE];
    ConstituencyPath(path, sizeof path);

    FreeMemory(&gConstituency);
    gConstituencyCount = 0;
    char *text = nullptr;
    uint32_t size = 0;
    if (!LoadTextFile(path, &text, &size)) return 0;
    const int lines = 1 + CountTextLines(text, text + size);
    if (!AllocMemory(&gConstituency, (uint64_t)lines * sizeof(ConstituencyRecord))) {
        FreeMemory(&text);
        return 0;
    }
    char *cursor = text;
    int lineNumber = 0;
    for (char *line; (line = TakeTextLine(&cursor)) != nullptr;) {
        lineNumber++;
        /* Each line's quotes are its own: a quote left open would run the
        ** names of the rows after it together. */
        if (!UnquoteLine(line, ',')) {
            LogPrintf(kOpenQuote, lineNumber, path);
            continue;
        }
        ConstituencyRecord row = {};
        /* The whole column is the id: the number its text begins with ("1e3"
        ** as 1) would be another index.  A number past the 32-bit range is
        ** refused rather than wrapped: every id must leave its event kind
        ** -(id + 1) a valid 32-bit value. */
        char idText[32];
        const char *field = TakeField(line, idText, sizeof idText, (int)sizeof idText - 1);
        double wide = 0;
        const bool whole = NumberTextFault(idText, WHOLE_NUMBER, &wide) == nullptr;
        int id = whole && wide >= 1 && wide < INT32_MAX ? (int)wide : 0;
        /* The first line may be a heading; a later one that gives no id is
        ** a row no script can name. */
        if (!id && lineNumber > 1 && idText[strspn(idText, " \t")]) LogPrintf(kBadId, lineNumber, path, idText);
        if (field) field = TakeField(field, row.label, sizeof row.label, 39);
        if (field) field = TakeField(field, row.scriptName, sizeof row.scriptName, 39);
        if (field) CopyString(row.fourthColumn, sizeof row.fourthColumn, field, 79);
        /* A heading line and an empty line carry no id; a table row without
        ** an id would match no index. */
        if (id >= RESERVED_ID_FIRST && id <= RESERVED_ID_LAST) {
            LogPrintf(kReservedId, (unsigned)id, path);
        } else if (id >= 1 && gConstituencyCount < lines) {
            row.id = (uint32_t)id;
            gConstituency[gConstituencyCount++] = row;
        }
    }
    FreeMemory(&text);
    return 1;
}

const char *FindConstituencyLabel(uint32_t id)
{
    for (int32_t i = 0; gConstituency && i < gConstituencyCount; i++)
        if (gConstituency[i].id == id) return gConstituency[i].label;
    return nullptr;
}

/* ---- tick sizes and security types ------------------------------------------------ */

double GetTickSize(const SymbolRecord *symbol, const Bar *bar, double price)
{
    if (!symbol) return 0.01;
    double base = symbol->info.TickSize;
    if (gStore.keepAdjusted && !gRun.generatingOrders) base = 0.0;
    if (symbol->securityType != SECURITY_STOCK) return base;
    if (base != 0.01) return base;
    if (price == 0.0) {
        if (!bar) return base;
        price = bar->close;
    }
    if (bar && bar->date < 20010409) return 0.0001;
    if (price >= 2.0) return base;
    const char *exchange = symbol->info.Exchange;
    if (CompareNoCaseN(exchange, "TSX", 3) == 0 || CompareNoCase(exchange, "NEO") == 0 ||
        CompareNoCase(exchange, "CSE") == 0)
        return price < 0.5 ? 0.005 : base;
    if (strcmp(exchange, "ASX") == 0) return price > 0.1 ? 0.005 : 0.001;
    return price < 1.0 ? 0.0001 : base;
}

int ParseSecurityType(const char *text)
{
    if (!text) return SECURITY_STOCK;
    if (CompareNoCaseN(text, "Fut", 3) == 0) return SECURITY_FUTURES;
    if (CompareNoCaseN(text, "For", 3) == 0 || CompareNoCaseN(text, "FX", 2) == 0) return SECURITY_FOREX;
    return SECURITY_STOCK;
}
