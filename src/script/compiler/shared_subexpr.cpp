/* shared_subexpr.cpp -- the sharing walk of Data formulas, bar sizes from item
** names and the automatic one-value marks. */
#include "script/compiler/shared_subexpr.h"

#include <cmath>
#include <cstring>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/keywords.h"
#include "script/compiler/strategy.h"
#include "script/eval/item_table.h"

enum {
    SHARED_NAME_LIMIT = 63 /* a generated name reaching this many characters is refused */
};


/* Latin letters only: names are 8-bit text and case folding covers no more. */
static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

static FormulaItem *DataItems() { return (FormulaItem *)gDataItems.items; }

static int32_t IndexOf(const FormulaItem *item)
{
    const FormulaItem *first = DataItems();
    return first && item >= first && item < first + gDataItems.count ? (int32_t)(item - first) : -1;
}

static bool SinceTrueFamily(uint32_t id)
{
    return id == ITEM_SINCE_TRUE || id == ITEM_UNTIL_TRUE || id == ITEM_WHEN_TRUE || id == ITEM_SUM_SINCE ||
        id == ITEM_COUNT_TRUE || id == ITEM_TRUE_IN_ROW;
}

/* The functions whose running form may end at BarNum (a cumulative window). */
static bool CumulativeAllowed(uint32_t id)
{
    return id == ITEM_SUM || id == ITEM_PRODUCT || id == ITEM_MA || id == ITEM_HIGHEST || id == ITEM_LOWEST ||
        id == ITEM_SINCE_HIGH || id == ITEM_SINCE_LOW;
}

/* Width of the call at node: up to its closing parenthesis, leaving a bar
** offset outside. */
static int32_t CallWidth(const FormulaNode *node)
{
    return node->barsBackLink ? (int32_t)node->barsBackLink - 2 : (int32_t)node->width;
}

/* The single node of a Library item's formula, or null. */
static const FormulaNode *SingleLibraryNode(const FormulaNode *node)
{
    FormulaItem *library = DefinitionItem(SECTION_LIBRARY, node->index);
    if (!library || library->formula.count != 1 || !library->formula.nodes[0]) return nullptr;
    return library->formula.nodes[0];
}

/* An Extern whose symbol is another symbol than the one computed. */
static bool ExternOfOtherSymbol(const FormulaNode *node)
{
    if (node->item != ITEM_EXTERN || node->argCount < 1) return false;
    uint32_t first = node[node->argLinks[0]].item;
    return first == ITEM_RELATIVE_SYMBOL || first == ITEM_SYMBOL_REF || first == ITEM_SYM_REF;
}

/* Number of series arguments of a multi-bar call; -1 when the call cannot be shared. */
static int32_t SeriesArgumentCount(const FormulaNode *call)
{
    switch (call->item) {
    case ITEM_WHEN_TRUE:
    case ITEM_SUM_SINCE:
    case ITEM_RANK_N:
    case ITEM_PERCENT_RANK_N:
    case ITEM_CORREL: return 2;
    case ITEM_LIN_REG:
    case ITEM_Y_INT:
    case ITEM_STD_ERR:
        if (call->argCount == 3) return -1;
        return call->argCount;
    case ITEM_SLOPE: return call->argCount;
    default: return 1;
    }
}

/* Checks the arguments after the series arguments (from..closing): numbers,
** parameters, commas and operators only.  *cumulative is set by a final
** BarNum.  false when the call cannot be shared. */
static bool PlainArguments(const FormulaNode *call, const FormulaNode *from, const FormulaNode *closing,
                           bool *cumulative)
{
    for (const FormulaNode *p = from; p < closing; p++) {
        const FormulaNode *judged = p;
        bool last = false;
        if (p->item == ITEM_LIBRARY_REF) {
            judged = SingleLibraryNode(p);
            if (!judged) return false;
            last = true;
        }
        uint32_t id = judged->item;
        if (id == ITEM_NUMBER || id == ITEM_PARAMETER || id == ITEM_COMMA || judged->category == CAT_OPERATOR) {
            if (last) return true;
            continue;
        }
        if (id == ITEM_BAR_NUM && p + 1 == closing && p - 1 > call && p[-1].item == ITEM_COMMA &&
            CumulativeAllowed(call->item)) {
            *cumulative = true;
            continue;
        }
        return false;
    }
    return true;
}

/* Marks and copies a changed formula into the 31 worker copies. */
static void CopyToWorkers(FormulaSlot *slot)
{
    for (int k = 1; k < FORMULA_WORKER_COPIES; k++)
        memcpy(slot->nodes[k], slot->nodes[0], (size_t)slot->capacity * sizeof(FormulaNode));
}

int ShareDataSubexpressions(FormulaItem *item, int32_t node, int32_t barSize, int32_t *width)
{
    int32_t itemIndex = IndexOf(item);
    FormulaNode *nodes = item->formula.nodes[0];
    FormulaNode *call = &nodes[node];
    if ((call->category != CAT_MULTI_BAR && call->category != CAT_INDICATOR) || call->item >= SCRIPT_ITEM_COUNT ||
        !gScriptItems[call->item].shareable)
        return 0;
    int32_t w = CallWidth(call);
    *width = w;

    /* Inner calls first. */
    for (int32_t k = node + 2; k < node + w;) {
        int32_t inner = 0;
        if (ShareDataSubexpressions(item, k, barSize, &inner) == 1)
            k += inner + 1;
        else
            k++;
        /* Generating an item may have moved the list. */
        item = DataItems() + itemIndex;
        nodes = item->formula.nodes[0];
        call = &nodes[node];
    }

    FormulaNode *closing = &nodes[node + w];
    FormulaNode *rest = &nodes[node + 2];
    if (call->category == CAT_MULTI_BAR) {
        int32_t series = SeriesArgumentCount(call);
        if (series < 0) return 0;
        int depth = 0, seen = 0;
        FormulaNode *p = &nodes[node + 2];
        for (; p < closing && seen < series; p++) {
            uint32_t id = p->item;
            if (id == ITEM_OPEN_PAREN || id == ITEM_OPEN_BRACKET)
                depth++;
            else if (id == ITEM_CLOSE_PAREN || id == ITEM_CLOSE_BRACKET)
                depth--;
            else if (id == ITEM_COMMA && depth == 0)
                seen++;
            if (id == ITEM_THIS || ExternOfOtherSymbol(p) || id == ITEM_LIBRARY_CALL || id == ITEM_LIBRARY_REF ||
                (id == ITEM_DATA_REF && (int32_t)p->index == itemIndex))
                return 0;
        }
        rest = p;
        if (SinceTrueFamily(call->item) && rest < closing) return 0;
    }
    bool cumulative = false;
    if (!PlainArguments(call, rest, closing, &cumulative)) return 0;

    if (node == 0 && w + 1 == item->formula.count) {
        item->formula.sharedSeries = 1;
        if (cumulative) item->formula.onePass = 1;
        return 1;
    }
    int32_t found = FindIdenticalDataFormula(item, node, barSize);
    /* Generating an item may have moved the list. */
    item = DataItems() + itemIndex;
    if (found < 0) return 0;
    call = &item->formula.nodes[0][node];
    call->item = ITEM_DATA_REF;
    call->category = gScriptItems[ITEM_DATA_REF].category;
    call->index = (uint32_t)found;
    return 1;
}

static bool SameNode(const FormulaNode &a, const FormulaNode &b)
{
    return a.item == b.item && a.constant == b.constant && a.index == b.index && a.argCount == b.argCount &&
        a.unary == b.unary;
}

/* The name part of one node of a call ("" for parentheses and commas). */
static void AppendNamePart(char *name, size_t size, const FormulaNode *node)
{
    const FormulaNode *constant = node;
    if (node->item == ITEM_LIBRARY_REF) {
        const FormulaNode *single = SingleLibraryNode(node);
        if (single && single->constantFlag) constant = single;
    }
    size_t at = strlen(name);
    if (constant->constantFlag) {
        FormatText(name + at, size - at, "_%g", constant->constant);
        return;
    }
    const ScriptItem &row = gScriptItems[node->item < SCRIPT_ITEM_COUNT ? node->item : 0];
    const char *part = nullptr;
    if (IsLetter(row.alias[0]))
        part = row.alias;
    else if (IsLetter(row.name[0]))
        part = row.name;
    else
        switch (node->item) {
        case ITEM_PARAMETER:
            part = node->index < (uint32_t)gParameters.count ? ((const Parameter *)gParameters.items)[node->index].name
                                                             : "";
            break;
        case ITEM_LIBRARY_REF:
        case ITEM_DATA_REF: {
            FormulaItem *target = DefinitionItem(node->item == ITEM_DATA_REF ? SECTION_DATA : SECTION_LIBRARY, node->index);
            part = target ? target->formula.name : "";
            if (part[0] == '_') part++;
            break;
        }
        case ITEM_TIMES: part = "T"; break;
        case ITEM_DIVIDE: part = "D"; break;
        case ITEM_PLUS: part = "P"; break;
        case ITEM_MINUS: part = "M"; break;
        case ITEM_GREATER: part = "GT"; break;
        case ITEM_GREATER_EQUAL: part = "GE"; break;
        case ITEM_LESS: part = "LT"; break;
        case ITEM_LESS_EQUAL: part = "LE"; break;
        case ITEM_EQUAL: part = "EQ"; break;
        case ITEM_NOT_EQUAL: part = "NE"; break;
        default: return;
        }
    FormatText(name + at, size - at, "_%s", part);
}

static bool DataNameTaken(const char *name)
{
    for (int32_t i = 0; i < gDataItems.count; i++)
        if (CompareNoCase(DataItems()[i].formula.name, name) == 0) return true;
    return false;
}

/* Builds the generated name of the call; false when it would be too long. */
static bool GeneratedName(const FormulaNode *call, int32_t count, int32_t barSize, char *name, size_t size)
{
    /* Room beyond the limit, so that an overlong name is seen as such. */
    name[0] = 0;
    int32_t settingsBarSize = gSettings.BarSize2;
    if (barSize != settingsBarSize && barSize >= 0 && barSize < BAR_SIZE_COUNT)
        CopyString(name, size, kBarSizeWords[barSize], -1);
    for (int32_t k = 0; k < count; k++) {
        AppendNamePart(name, size, &call[k]);
        if (strlen(name) >= SHARED_NAME_LIMIT) return false;
    }
    size_t n = strlen(name);
    if (n == 0 || name[n - 1] != '_') CopyString(name + n, size - n, "_", -1);
    if (strlen(name) >= SHARED_NAME_LIMIT) return false;
    /* A name already held (a user's item, or a call whose constants differ
    ** beyond the name's precision) takes the first free numeric suffix. */
    if (!DataNameTaken(name)) return true;
    char base[SHARED_NAME_LIMIT + 1];
    CopyString(base, sizeof base, name, -1);
    for (int suffix = 2; suffix < 1000000; suffix++) {
        FormatText(name, size, "%s%d_", base, suffix);
        if (strlen(name) >= SHARED_NAME_LIMIT) return false;
        if (!DataNameTaken(name)) return true;
    }
    return false;
}

int32_t FindIdenticalDataFormula(FormulaItem *item, int32_t node, int32_t barSize)
{
    int32_t itemIndex = IndexOf(item);
    const FormulaNode *call = &item->formula.nodes[0][node];
    int32_t width = CallWidth(call);
    int32_t count = width + 1;
    for (int32_t i = 0; i < gDataItems.count; i++) {
        const FormulaItem *other = &DataItems()[i];
        if (i == itemIndex || other->barSize != barSize || other->formula.breadthFunction ||
            other->formula.count != count || !other->formula.nodes[0])
            continue;
        /* The reference keeps the call's sign, so the item it names must
        ** hold the call without one. */
        const FormulaNode *theirs = other->formula.nodes[0];
        if (theirs[0].unary != UNARY_NONE) continue;
        FormulaNode first = call[0];
        first.unary = UNARY_NONE;
        int32_t k = SameNode(theirs[0], first) ? 1 : count + 1;
        while (k < count && SameNode(theirs[k], call[k])) k++;
        if (k == count) return i;
    }
    if (!gSettings.ExtractOnePassItems) return -1;

    char name[FORMULA_NAME_SIZE * 2];
    if (!GeneratedName(call, count, barSize, name, sizeof name)) return -1;

    int32_t index = AddDefinitionRecord(&gDataItems, sizeof(FormulaItem));
    if (index < 0) return -1;
    item = DataItems() + itemIndex;
    call = &item->formula.nodes[0][node];
    FormulaItem *made = DataItems() + index;
    ResetFormulaItem(made);
    FormulaSlot *slot = &made->formula;
    if (!EnsureNodeCapacity(slot, count + 1)) {
        gDataItems.count--;
        return -1;
    }
    made->sequence = gDataItemSequence++;
    made->barSize = barSize;
    CopyString(slot->name, sizeof slot->name, name, -1);
    CopyString(slot->nameSpace, sizeof slot->nameSpace, item->formula.nameSpace, -1);
    CopyString(slot->path, sizeof slot->path, item->formula.path, -1);
    slot->scriptText = nullptr;
    slot->start = 0;
    slot->length = 0;
    slot->definitionSection = SECTION_DATA;
    slot->includeDepth = gCompiler.includeDepth;
    FormulaNode *copy = slot->nodes[0];
    memcpy(copy, call, (size_t)count * sizeof(FormulaNode));
    memset(&copy[count], 0, sizeof(FormulaNode));
    copy[0].unary = UNARY_NONE;
    if (copy[0].barsBackLink) {
        copy[0].width = copy[0].barsBackLink - 2;
        copy[0].barsBackLink = 0;
    }
    slot->count = count;
    if (count >= 3 && copy[count - 2].item == ITEM_BAR_NUM && copy[count - 3].item == ITEM_COMMA &&
        CumulativeAllowed(copy[0].item))
        slot->onePass = 1;
    slot->sharedSeries = 1;
    CopyToWorkers(slot);
    return index;
}

/* ==== the Data walk ================================================================= */

int ShareDataItem(int32_t index)
{
    FormulaItem *item = DataItems() + index;
    const FormulaNode *first = item->formula.nodes[0];
    if (!first || item->formula.count <= 0) return 1;
    if (first->item == ITEM_DLL_DATA_CALC) {
        item->formula.sharedSeries = 1;
        return 1;
    }
    int32_t barSize = item->barSize;
    int32_t externEnd = -1; /* last node of the Extern whose bar size is in force */
    int32_t outerBarSize = barSize;
    for (int32_t k = 0; k < DataItems()[index].formula.count;) {
        item = DataItems() + index;
        FormulaNode *node = &item->formula.nodes[0][k];
        if (externEnd >= 0 && k > externEnd) {
            barSize = outerBarSize;
            externEnd = -1;
        }
        if (node->item == ITEM_TARGET_PRICE) {
            k += (int32_t)node->width + 1;
            continue;
        }
        if (node->item == ITEM_EXTERN) {
            if (externEnd >= 0) {
                k += (int32_t)node->width + 1;
                continue;
            }
            if (node->argCount >= 1 && node[node->argLinks[0]].item == ITEM_BAR_SIZE) {
                externEnd = k + (int32_t)node->width;
                barSize = (int32_t)node[node->argLinks[0]].constant;
                k++;
                continue;
            }
        }
        int32_t width = 0;
        if (ShareDataSubexpressions(item, k, barSize, &width) == 1)
            k += width + 1;
        else
            k++;
    }
    item = DataItems() + index;
    CopyToWorkers(&item->formula);
    return 1;
}

/* ==== bar sizes and one-value marks ============================================================ */

void ResolveItemBarSize(FormulaItem *item)
{
    if (item->barSize < 0) item->barSize = gSettings.BarSize2;
    for (int b = 0; b < BAR_SIZE_COUNT; b++)
        if (CompareNoCaseN(item->formula.name, kBarSizeWords[b], strlen(kBarSizeWords[b])) == 0) {
            item->barSize = b;
            return;
        }
}

void CountItemReferences(FormulaItem *item)
{
    if (!gSettings.AutoOnePerX || item->formula.breadthFunction) return;
    const FormulaNode *nodes = item->formula.nodes[0];
    if (!nodes) return;
    bool walkForward = gWalkForwardDates.count > 0;
    int terms = 0, varying = 0, references = 0;
    for (const FormulaNode *p = nodes; p->item != ITEM_END; p++) {
        uint32_t id = p->item, c = p->category;
        bool parameter = id == ITEM_PARAMETER;
        if ((id != ITEM_NUMBER && !parameter && id != ITEM_COMMA && c != CAT_OPERATOR) || (parameter && walkForward))
            terms++;
        if (id == ITEM_DATA_REF || id == ITEM_TESTDATA_REF) {
            FormulaItem *target = DefinitionItem(id == ITEM_DATA_REF ? SECTION_DATA : SECTION_TEST_DATA, p->index);
            if (!target || !target->onePerSymbol) varying++;
        } else if (c == CAT_BAR_VALUE || c == CAT_BAR_DATE || c == CAT_INDICATOR || c == CAT_MULTI_BAR ||
                   c == CAT_POSITION_INFO || c == CAT_STRATEGY_STAT || c == CAT_TRADE_VALUE || c == CAT_TRADE_STAT) {
            varying++;
        }
        if (id == ITEM_LIBRARY_REF || id == ITEM_DATA_REF || id == ITEM_TESTDATA_REF || id == ITEM_DATE_BARS ||
            id == ITEM_NTH_OF_MONTH || id == ITEM_EVENT || id == ITEM_RANDOM || id == ITEM_ITEM ||
            id == ITEM_SYM_REF || id == ITEM_STRAT_REF || id == ITEM_DLL_DATA_CALC || id == ITEM_LIBRARY_CALL ||
            c == CAT_SUM || (parameter && walkForward))
            references++;
    }
    if (terms == 0) {
        item->onePerDate = 1;
        item->onePerSymbol = 1;
    }
    if (varying == 0 && references == 0) item->onePerSymbol = 1;
    if ((nodes[0].item == ITEM_EXTERN || nodes[0].item == ITEM_COMBINED) &&
        (int32_t)nodes[0].width + 1 == item->formula.count) {
        if (item->onePerSymbol) item->onePerDate = 1;
        if (nodes[0].item == ITEM_EXTERN && nodes[0].argCount >= 1 && nodes[nodes[0].argLinks[0]].item == ITEM_SYMBOL_REF)
            item->onePerDate = 1;
    }
}
