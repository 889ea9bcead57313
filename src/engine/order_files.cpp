/* order_files.cpp -- order lines and files, the CSV order template, the
** account-value side files and the basket weights. */
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/orders.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/strategy.h"
#include "services/services.h"

OrderTemplate gOrdersTemplate;
OrderTemplate *gStrategyTemplates;
static int32_t gStrategyTemplateCount;
BasketWeightList gBasketWeights;

/* Column names of the template, by field code (row 0 unused). */
/* clang-format off */
static const char *const kOrderFieldNames[ORDER_FIELD_COUNT + 1] = {
    "",       "date",   "sym",     "expiry", "ptval",   "act",      "exch",     "primary",  "curr",   "sectype",
    "type",   "qty",    "qty0",    "dlr",    "frac",    "lmt",      "stp",      "tif",      "gat",    "gtd",
    "oca",    "id",     "parent",  "strat",  "side",    "maxent",   "exit",     "rtsym",    "domi",   "sector",
    "indu",   "tradeid", "allhours", "uniqueid", "note", "extra1",  "extra2",   "extra3",   "extra4", "extra5",
    "extra6", "extra7", "extra8",  "extra9", "nocomma",
};
/* clang-format on */
static_assert(ORDER_FIELD_NOCOMMA == 44 && ORDER_FIELD_LITERAL == 45, "field codes");

void ResetOrderState()
{
    FreeMemory(&gStrategyTemplates);
    gStrategyTemplateCount = 0;
    memset(&gOrdersTemplate, 0, sizeof gOrdersTemplate);
    FreeMemory(&gBasketWeights.rows);
    memset(&gBasketWeights, 0, sizeof gBasketWeights);
}

/* ---- basket weights --------------------------------------------------------------- */

int32_t AddBasketWeight(const char *name, double amount)
{
    BasketWeightList *list = &gBasketWeights;
    int32_t at = 0;
    while (at < list->count && strcmp(list->rows[at].name, name) != 0) at++;
    if (at == list->count) {
        if (list->count >= list->capacity) {
            int32_t rows = list->capacity + 10;
            if (!ReallocMemory(&list->rows, (uint64_t)rows * sizeof(BasketWeight))) return -1;
            list->capacity = rows;
        }
        memset(&list->rows[at], 0, sizeof list->rows[at]);
        CopyString(list->rows[at].name, ORDER_TEXT_SIZE, name, -1);
        list->count++;
    }
    list->rows[at].amount += amount;
    return at;
}

/* ---- side files ---------------------------------------------------------------------- */

/* Reads a file the order run needs whole into *text; 0 after one report
** that names it (a missing file here, any other failure by the reader) and
** the file-error code. */
static int LoadSideFile(const char *path, char **text, const char *kind)
{
    if (!PlatFileExists(path) || PlatFolderExists(path)) {
        ReportError("Unable to read %s file %s", kind, path);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return LoadTextFile(path, text, nullptr);
}

int AccountValuePath(const char *path, char full[PATH_SIZE])
{
    CopyString(full, PATH_SIZE, path, -1);
    return !PathTooLong(path) && ExpandPathMacros(full, gOutputFolder);
}

int ReadAccountValueFile(const char *path, double *amount, int isFreeCash)
{
    const char *kind = isFreeCash ? "OrdersFreeCash" : "OrdersNetLiq";
    *amount = 0;
    if (!path[0]) return 1;
    char full[PATH_SIZE];
    if (!AccountValuePath(path, full)) {
        ReportError("%s file path is too long -- maximum is 260 chars.", kind);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    char *text = nullptr;
    if (!LoadSideFile(full, &text, kind)) return 0;
    /* The amount, then an optional currency code (at most 8 characters),
    ** as "%lg %8s" reads them; but an amount that is none is named rather
    ** than read as 0 (which leaves the account value to the test) or as the
    ** number its text begins with ("1,25" as 1).  Digits grouped by threes
    ** ("1,250,000") read as the imports read them. */
    const char *start = text;
    while (isspace((unsigned char)*start)) start++;
    const char *end = start;
    while (*end && !isspace((unsigned char)*end)) end++;
    char given[64];
    CopyString(given, sizeof given, start, (int)(end - start) < 63 ? (int)(end - start) : 63);
    std::string read;
    for (const char *c = start; c < end; c++)
        if (*c != ',' || c == start || !isdigit((unsigned char)c[-1]) || !GroupsThousands(c, end)) read += *c;
    const size_t wordLength = read.size();
    read += end;
    const char *p = read.c_str(), *word = p + wordLength;
    char *stop = nullptr;
    double value = strtod(p, &stop);
    /* A code may follow the number directly ("250000USD"). */
    const char *after = stop;
    while (after < word && isalpha((unsigned char)*after)) after++;
    char number[64];
    CopyString(number, sizeof number, p, (int)(stop - p) < 63 ? (int)(stop - p) : 63);
    const char *fault = !*p ? "" : after != word || stop == p ? "not a number" : NumberTextFault(number, DECIMAL_NUMBER);
    /* A negative net liquidation value would size no entry at all, with no
    ** word why; free cash below zero is a margin loan, which an account has. */
    if (!fault && !isFreeCash && value < 0) fault = "below zero";
    if (fault) {
        FreeMemory(&text);
        if (fault[0])
            ReportError("The %s file %s gives the amount %s, which is %s.", kind, full, given, fault);
        else
            ReportError("The %s file %s gives no amount.", kind, full);
        return 0;
    }
    char currency[9] = "";
    int fields = sscanf(stop, "%8s", currency) == 1 ? 2 : 1;
    FreeMemory(&text);
    const char *account = gScriptSettings.Currency[0] ? gScriptSettings.Currency : gSettings.Currency;
    if (fields == 2 && account[0] && CompareNoCase(currency, account) != 0) {
        ReportError("The %s base currency is '%s' but the script specifies '%s'.", kind, currency, account);
        return 0;
    }
    *amount = value;
    return 1;
}

/* ---- templates ------------------------------------------------------------------------ */

static uint32_t FindOrderField(const char *name)
{
    for (uint32_t code = 1; code <= ORDER_FIELD_COUNT; code++)
        if (CompareNoCase(kOrderFieldNames[code], name) == 0) return code;
    return ORDER_FIELD_LITERAL;
}

int OrdersTemplatePath(const char *setting, char full[PATH_SIZE])
{
    CopyString(full, PATH_SIZE, setting, -1);
    return !PathTooLong(setting) && ExpandPathMacros(full, gScriptsFolder);
}

/* Reads the header line and splits the field line of the template at path. */
static int ReadTemplateFile(OrderTemplate *t, const char *path)
{
    char full[PATH_SIZE];
    if (!OrdersTemplatePath(path, full)) {
        ReportError("OrdersTemplate file path is too long -- maximum is 260 chars.");
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    char *text = nullptr;
    if (!LoadSideFile(full, &text, "OrdersTemplate")) return 0;
    const char *first = text, *second = nullptr;
    const char *textEnd = text + strlen(text);
    size_t firstLength = (size_t)(FindLineEnd(first, textEnd, &second) - first);
    size_t secondLength = strcspn(second, "\r\n");
    if (firstLength == 0 || secondLength == 0) {
        FreeMemory(&text);
        ReportError("The two required rows were not found in OrdersTemplate file %s", full);
        return 0;
    }
    size_t headerLength = (size_t)(second - first);
    CopyString(t->header, sizeof t->header, first, (int)(headerLength < 1022 ? headerLength : 1022));
    /* A header that ended in a lone CR ends in LF, as the order lines after it do. */
    size_t kept = strlen(t->header);
    if (kept > 0 && t->header[kept - 1] == '\r') t->header[kept - 1] = '\n';
    if (secondLength > 1022) secondLength = 1022;
    bool hasId = false, hasParent = false;
    const char *piece = second;
    const char *end = second + secondLength;
    while (t->columnCount < ORDER_TEMPLATE_COLUMNS) {
        const char *comma = piece;
        while (comma < end && *comma != ',') comma++;
        char name[ORDER_TEXT_SIZE];
        size_t n = (size_t)(comma - piece);
        CopyString(name, sizeof name, piece, (int)(n < ORDER_TEXT_SIZE - 1 ? n : ORDER_TEXT_SIZE - 1));
        OrderTemplateColumn *column = &t->columns[t->columnCount++];
        column->code = FindOrderField(name);
        if (column->code == ORDER_FIELD_LITERAL) CopyString(column->literal, sizeof column->literal, name, -1);
        hasId = hasId || column->code == ORDER_FIELD_ID;
        hasParent = hasParent || column->code == ORDER_FIELD_PARENT;
        if (comma >= end) break;
        piece = comma + 1;
    }
    t->hasIdAndParent = hasId && hasParent;
    FreeMemory(&text);
    return 1;
}

int LoadOrdersTemplate(int32_t strategyIndex)
{
    if (strategyIndex < 0) {
        memset(&gOrdersTemplate, 0, sizeof gOrdersTemplate);
        gOrdersTemplate.hasIdAndParent = 1;
        if (!gScriptSettings.OrdersTemplate[0]) return 1;
        return ReadTemplateFile(&gOrdersTemplate, gScriptSettings.OrdersTemplate);
    }
    if (strategyIndex >= gStrategyCount) return 0;
    if (gStrategyTemplateCount < gStrategyCount) {
        if (!ReallocMemory(&gStrategyTemplates, (uint64_t)gStrategyCount * sizeof(OrderTemplate))) return 0;
        memset(&gStrategyTemplates[gStrategyTemplateCount], 0,
               (size_t)(gStrategyCount - gStrategyTemplateCount) * sizeof(OrderTemplate));
        gStrategyTemplateCount = gStrategyCount;
    }
    const StrategyRecord *r = &gStrategies[strategyIndex];
    OrderTemplate *t = &gStrategyTemplates[strategyIndex];
    memset(t, 0, sizeof *t);
    if (!r->OrdersTemplate[0]) {
        t->hasIdAndParent = gOrdersTemplate.hasIdAndParent;
        return 1;
    }
    if (!r->OrdersFile[0]) {
        ReportError("Strategy %s has an OrdersTemplate but no OrdersFile", r->name);
        return 0;
    }
    t->hasIdAndParent = 1;
    return ReadTemplateFile(t, r->OrdersTemplate);
}

const OrderTemplate *OrdersTemplateFor(int32_t strategyIndex)
{
    if (strategyIndex >= 0 && strategyIndex < gStrategyTemplateCount && gStrategyTemplates[strategyIndex].columnCount > 0)
        return &gStrategyTemplates[strategyIndex];
    return &gOrdersTemplate;
}

/* ---- order files ------------------------------------------------------------------------ */

OrderFile *CreateOrderFile(const char *path)
{
    OrderFile *file = nullptr;
    if (!AllocMemory(&file, sizeof *file)) return nullptr;
    if (!BeginReplaceFile(&file->file, path, 0)) {
        FreeMemory(&file);
        return nullptr;
    }
    return file;
}

OrderLine *NewOrderLine(OrderFile *file, int32_t strategyIndex, uint32_t kind)
{
    if (file->count >= file->capacity) {
        int32_t lines = file->capacity + ORDER_LINES_GROWTH;
        if (!ReallocMemory(&file->lines, (uint64_t)lines * sizeof(OrderLine))) return nullptr;
        file->capacity = lines;
    }
    OrderLine *line = &file->lines[file->count++];
    memset(line, 0, sizeof *line);
    line->sequence = (uint32_t)file->count;
    line->strategyIndex = strategyIndex;
    line->kind = kind;
    return line;
}

static void AppendOrderTextV(OrderLine *line, const char *format, va_list args)
{
    if (line->length >= ORDER_LINE_SIZE - 1) return;
    int n = FormatTextV(line->text + line->length, ORDER_LINE_SIZE - line->length, format, args);
    line->length = (uint32_t)strlen(line->text);
    (void)n;
}

void AppendOrderText(OrderLine *line, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    AppendOrderTextV(line, format, args);
    va_end(args);
}

int AddOrderLine(OrderFile *file, int32_t strategyIndex, uint32_t kind, const char *format, ...)
{
    OrderLine *line = NewOrderLine(file, strategyIndex, kind);
    if (!line) return 0;
    va_list args;
    va_start(args, format);
    AppendOrderTextV(line, format, args);
    va_end(args);
    return 1;
}

static int CompareOrderLines(const void *pa, const void *pb)
{
    const OrderLine *a = (const OrderLine *)pa, *b = (const OrderLine *)pb;
    if (a->strategyIndex != b->strategyIndex) return a->strategyIndex < b->strategyIndex ? -1 : 1;
    if (a->kind != b->kind) return a->kind > b->kind ? -1 : 1;
    return a->sequence < b->sequence ? -1 : a->sequence > b->sequence;
}

int CloseOrderFile(OrderFile *file, int commit)
{
    if (!file) return 1;
    int ok = 1;
    if (commit) {
        qsort(file->lines, (size_t)file->count, sizeof(OrderLine), CompareOrderLines);
        for (int32_t i = 0; ok && i < file->count; i++)
            ok = WriteReplaceFile(&file->file, file->lines[i].text, file->lines[i].length);
        ok = ok && CommitReplaceFile(&file->file);
    }
    AbandonReplaceFile(&file->file);
    FreeMemory(&file->lines);
    FreeMemory(&file);
    return ok;
}

/* ---- template rows ------------------------------------------------------------------------ */

int WriteTemplateRow(OrderFile *file, const OrderInfo *info, uint32_t kind, const char *action, const char *type,
                     const char *tif, const char *gtd, const char *gat, const char *oca, const char *qty, double dlr,
                     double frac, const char *lmt, const char *stp, int32_t id, int32_t parent, int32_t maxent)
{
    const StrategyRecord *r = info->strategy;
    int32_t strategyIndex = r && gStrategies ? (int32_t)(r - gStrategies) : -1;
    OrderLine *line = NewOrderLine(file, strategyIndex, kind);
    if (!line) return 0;
    const OrderTemplate *t = OrdersTemplateFor(strategyIndex);
    const SymbolInfo *s = info->symbol ? &info->symbol->info : nullptr;
    for (int32_t c = 0; c < t->columnCount; c++) {
        const OrderTemplateColumn *column = &t->columns[c];
        if (column->code == ORDER_FIELD_NOCOMMA) continue;
        if (line->length > 0) AppendOrderText(line, ",");
        int32_t date = info->orderDate;
        switch (column->code) {
        case ORDER_FIELD_DATE: AppendOrderText(line, "%4.4d-%2.2d-%2.2d", date / 10000, date / 100 % 100, date % 100); break;
        case ORDER_FIELD_SYM: AppendOrderText(line, "%s", info->brokerSymbol); break;
        case ORDER_FIELD_EXPIRY:
            if (info->expiry != 0) AppendOrderText(line, "%.0f", info->expiry);
            break;
        case ORDER_FIELD_PTVAL:
            if (s && s->PointValue != 0) AppendOrderText(line, "%g", s->PointValue);
            break;
        case ORDER_FIELD_ACT: AppendOrderText(line, "%s", action); break;
        case ORDER_FIELD_EXCH: {
            bool primary = (strcmp(type, "LMT") == 0 || strcmp(type, "LOC") == 0) && gat[0] && info->lateLocTime[0];
            AppendOrderText(line, "%s", primary ? info->primaryExchange : info->routingExchange);
            break;
        }
        case ORDER_FIELD_PRIMARY: AppendOrderText(line, "%s", info->primaryExchange); break;
        case ORDER_FIELD_CURR:
            if (s) AppendOrderText(line, "%s", s->Currency);
            break;
        case ORDER_FIELD_SECTYPE: AppendOrderText(line, "%s", info->secType); break;
        case ORDER_FIELD_TYPE: AppendOrderText(line, "%s", type); break;
        case ORDER_FIELD_QTY: AppendOrderText(line, "%s", qty); break;
        case ORDER_FIELD_QTY0: AppendOrderText(line, "%s", dlr == 0 ? "0" : qty); break;
        case ORDER_FIELD_DLR: AppendOrderText(line, "%g", dlr); break;
        case ORDER_FIELD_FRAC: AppendOrderText(line, "%g", frac); break;
        case ORDER_FIELD_LMT: AppendOrderText(line, "%s", lmt ? lmt : ""); break;
        case ORDER_FIELD_STP: AppendOrderText(line, "%s", stp ? stp : ""); break;
        case ORDER_FIELD_TIF: AppendOrderText(line, "%s", tif); break;
        case ORDER_FIELD_GAT: AppendOrderText(line, "%s", gat); break;
        case ORDER_FIELD_GTD: AppendOrderText(line, "%s", gtd); break;
        case ORDER_FIELD_OCA: AppendOrderText(line, "%s", oca); break;
        case ORDER_FIELD_ID:
            if (id) AppendOrderText(line, "%d", (int)id);
            break;
        case ORDER_FIELD_PARENT:
            if (parent) AppendOrderText(line, "%d", (int)parent);
            break;
        case ORDER_FIELD_STRAT:
            if (r) AppendOrderText(line, "%s", r->name);
            break;
        case ORDER_FIELD_SIDE:
            if (r) AppendOrderText(line, "%d", (int)r->Side);
            break;
        case ORDER_FIELD_MAXENT: AppendOrderText(line, "%d", (int)(maxent == 2147483647 ? 0 : maxent)); break;
        case ORDER_FIELD_EXIT: AppendOrderText(line, "%d", (int)info->isExit); break;
        case ORDER_FIELD_RTSYM:
            if (s) AppendOrderText(line, "%s", s->Symbol);
            break;
        case ORDER_FIELD_DOMI:
            if (s) AppendOrderText(line, "%s", s->Domicile);
            break;
        case ORDER_FIELD_SECTOR:
            if (s) AppendOrderText(line, "%s", s->Sector);
            break;
        case ORDER_FIELD_INDU:
            if (s) AppendOrderText(line, "%s", s->Industry);
            break;
        case ORDER_FIELD_TRADEID: AppendOrderText(line, "%d", (int)info->tradeId); break;
        case ORDER_FIELD_ALLHOURS: AppendOrderText(line, "%d", (int)info->allHours); break;
        case ORDER_FIELD_UNIQUEID: AppendOrderText(line, "%d", (int)gSettings.UniqueOrderId); break;
        case ORDER_FIELD_NOTE: AppendOrderText(line, "%s", info->note); break;
        case ORDER_FIELD_LITERAL: AppendOrderText(line, "%s", column->literal); break;
        default:
            if (column->code >= ORDER_FIELD_EXTRA1 && column->code <= ORDER_FIELD_EXTRA9)
                AppendOrderText(line, "%s", info->extra[column->code - ORDER_FIELD_EXTRA1]);
            break;
        }
    }
    AppendOrderText(line, "\n");
    return 1;
}
