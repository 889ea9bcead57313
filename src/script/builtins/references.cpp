/* references.cpp -- the built-ins that reach outside their formula: named
** items, Library calls, other symbols, strategies and bar sizes, the price
** that makes an expression reach a value, sums over setups and positions,
** closed-trade statistics, and the checks that speak to the user. */
#include "script/builtins/builtins.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "records/test_records.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/strategy.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "script/eval/value_access.h"
#include "script/eval/value_getters.h"
#include "services/services.h"

namespace {

enum {
    ASSERT_TEXT_SIZE = 256,     /* the optional text: 255 characters */
    ASSERT_MESSAGE_SIZE = 5001, /* the whole message: 5000 characters */
    TARGET_STEPS = 100,
    BOX_YES_NO = 0x04,
    BOX_ICON_QUESTION = 0x20,
    BOX_ANSWER_YES = 6
};

const char *const kPhaseNames[] = {"n/a", "open", "intraday", "close"};

bool RunActive()
{
    return gRun.state.load() != RUN_IDLE;
}

/* 1 when a definition's name matches: one defined in a namespace is compared
** with namespace + "." + name when the name asked for holds no '.'. */
bool NameMatches(const char *nameSpace, const char *definedName, const char *sought)
{
    if (nameSpace && nameSpace[0] && !strchr(sought, '.')) {
        char full[FORMULA_NAME_SIZE * 2 + 2];
        FormatText(full, sizeof full, "%s.%s", nameSpace, sought);
        return CompareNoCase(definedName, full) == 0;
    }
    return CompareNoCase(definedName, sought) == 0;
}

int32_t FindItemIn(const DefinitionList &list, const char *name)
{
    const FormulaItem *items = (const FormulaItem *)list.items;
    for (int32_t k = 0; items && k < list.count; k++) {
        if (NameMatches(items[k].formula.nameSpace, items[k].formula.name, name)) return k;
    }
    return -1;
}

/* Puts a copy of the context on another symbol; false when it has no bar. */
bool SwitchSymbol(EvalContext *copy, SymbolRecord *symbol)
{
    if (!symbol) return false;
    copy->symbol = symbol;
    Bar *bar = SyncContextBar(copy);
    if (!bar) return false;
    copy->priceScale = bar->split != 0 ? bar->split : 1.0;
    return true;
}

/* Puts a copy of the context on strategy index (0-based) of its test. */
bool SwitchStrategy(EvalContext *copy, int32_t index)
{
    const TestRecord *test = copy->test;
    if (!test || index < 0 || index >= test->strategyCount) return false;
    copy->strategyIndex = index;
    StrategyRecord *record = StrategyByNumber(index + 1);
    if (record) copy->strategy = record;
    copy->strategyData = 1;
    return true;
}

/* The open position of the copy's strategy in the copy's symbol. */
PositionRecord *OpenPositionOf(const EvalContext *copy)
{
    const StrategyRecord *record = copy->strategy;
    if (!record || !record->openPositions) return nullptr;
    for (int32_t k = 0; k < record->openCount; k++) {
        PositionRecord *p = &record->openPositions[k];
        if (p->symbol == copy->symbol) return p;
    }
    return nullptr;
}

} // namespace

/* ============================================================================
** Item and Library calls
** ========================================================================== */

int CalcItem(FormulaNode *node, EvalContext *context, int barsBack)
{
    char built[FORMAT_TEXT_SIZE], name[FORMAT_TEXT_SIZE];
    int32_t used = 0;
    if (!BuildFormatText(node, context, barsBack, built, &used)) return 0;
    int32_t n = 0;
    for (const char *p = built; *p; p++) {
        if (*p != ',') name[n++] = *p;
    }
    name[n] = 0;
    node->textFlag = 0;
    node->text[0] = 0;
    FormulaNode ref = *node;
    ref.unary = 0;
    if (context->symbol) {
        const DefinitionList *lists[2] = {&gDataItems, &gTestDataItems};
        const uint32_t rows[2] = {ITEM_DATA_REF, ITEM_TESTDATA_REF};
        for (int t = 0; t < 2; t++) {
            int32_t k = FindItemIn(*lists[t], name);
            if (k < 0) continue;
            ref.item = rows[t];
            ref.category = CAT_BAR_VALUE;
            ref.index = (uint32_t)k;
            if (!GetBarValue(&ref, context, barsBack)) return 0;
            node->value = ref.value;
            node->dataType = ref.dataType;
            return 1;
        }
    }
    if (context->test) {
        int32_t k = FindItemIn(gStratDataItems, name);
        if (k >= 0) {
            const double *cell = GetExtraStatValuePtr(context->test, context->resultRow, context->strategyIndex, k);
            if (!cell) return 0;
            node->value = *cell;
            node->dataType = 0;
            return 1;
        }
    }
    int32_t library = FindItemIn(gLibraryItems, name);
    if (library >= 0) {
        if (!EvalLibraryItem(&ref, (uint32_t)library, context, barsBack)) return 0;
        node->value = ref.value;
        node->dataType = ref.dataType;
        return 1;
    }
    const Parameter *parameters = (const Parameter *)gParameters.items;
    for (int32_t k = 0; parameters && k < gParameters.count; k++) {
        if (!NameMatches(parameters[k].nameSpace, parameters[k].name, name)) continue;
        ref.index = (uint32_t)k;
        if (!GetNamedValue(&ref, context)) return 0;
        node->value = ref.value;
        node->dataType = 0;
        return 1;
    }
    return 0;
}

int CalcLibraryCall(FormulaNode *node, EvalContext *context, int barsBack)
{
    ArgValue args[10] = {};
    int32_t count = node->argCount < 10 ? node->argCount : 10;
    for (int32_t k = 0; k < count; k++) {
        uint32_t type = 0;
        if (!EvalArg(node, context, k + 1, barsBack, &args[k].value, &type)) return 0;
        args[k].dataType = type;
        args[k].textFlag = node->textFlag;
        if (node->textFlag) CopyString(args[k].text, sizeof args[k].text, node->text, -1);
    }
    EvalContext copy = *context;
    copy.args = args;
    copy.argCount = count;
    return EvalLibraryItem(node, node->index, &copy, barsBack);
}

/* ============================================================================
** TargetPrice
** ========================================================================== */

/* Sets every price of the trial bar to price (given in the context's price
** terms; the bar holds them in its own split terms). */
static void SetTrialPrice(Bar *trial, double price, double toBar)
{
    trial->open = trial->high = trial->low = trial->close = price * toBar;
}

int CalcTargetPrice(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (!context->symbol) return 0;
    double range = 50, value = 0;
    if (node->argCount >= 3 && !EvalArg(node, context, 3, barsBack, &range)) return 0;
    if (!EvalArg(node, context, 2, barsBack, &value)) return 0;
    EvalContext copy = *context;
    if (!SyncContextBar(&copy)) return 0;
    int32_t count = 0;
    const Bar *bars = GetBarArray(copy.symbol, copy.barSize, &count);
    int64_t at = (int64_t)copy.barIndex - barsBack + (copy.barPhase == PHASE_CLOSE ? 1 : 0);
    /* The trial bar may stand one past the last bar, never further, and needs
    ** a bar before it for its reference price. */
    if (!bars || at < 1 || at > count) return 0;
    const Bar *previous = &bars[at - 1];
    Bar trial = at < count ? bars[at] : *previous;
    if (at == count) {
        int32_t next = OffsetTradingDate(&gStore.dateLists[copy.barSize >= 0 && copy.barSize < BAR_SIZE_COUNT ? copy.barSize : 0],
                                         previous->date, 1);
        trial.date = next > 0 ? next : previous->date;
    }
    trial.split = previous->split;
    double toBar = copy.priceScale != 0 && trial.split != 0 ? trial.split / copy.priceScale : 1.0;
    copy.trialBar = &trial;
    copy.trialSymbol = copy.symbol;
    copy.trialIndex = (int32_t)at;
    copy.trialBarSize = copy.barSize;
    copy.onePassWindow = nullptr; /* one-pass walks index the bar array; the trial bar is read bar by bar */
    copy.lastBar = copy.barIndex + (copy.barPhase == PHASE_CLOSE ? 1 : 0);

    double p0 = previous->close / toBar;
    double r = range / 100 * p0;
    double tick = context->symbol->info.TickSize;
    FormulaNode *expression = node + node->argLinks[0];
    auto evaluate = [&](double price, double *out) {
        SetTrialPrice(&trial, price, toBar);
        FormulaNode *position = expression;
        if (!EvalNodes(&position, 0, ITEM_COMMA, &copy, barsBack)) return false;
        *out = expression->value;
        return true;
    };
    double fHigh, fLow;
    if (!evaluate(p0 + r, &fHigh) || !evaluate(p0 - r, &fLow)) return 0;
    double d = fHigh > fLow ? 1 : -1, hi = p0 + r, lo = p0 - r, price = p0, last = NAN;
    for (int step = 0; step < TARGET_STEPS; step++) {
        double f;
        if (!evaluate(price, &f)) return 0;
        if (f == last) break;
        last = f;
        if ((f - value) * d > 0)
            hi = price;
        else
            lo = price;
        if (hi - lo < tick) break;
        price = tick > 0 ? RoundToStep((lo + hi) / 2, tick, 0) : (lo + hi) / 2;
    }
    node->textFlag = 0;
    node->value = price;
    node->dataType = 1;
    return 1;
}

/* ============================================================================
** Extern and Combined
** ========================================================================== */

/* ---- futures chains ----
** Two kinds of continuous series exist.  An ordinary one (kind 0) is named
** "&" + root (with an optional "_" suffix) and its contracts root + "-" + a
** number from 1001 to 2999.  One that carries dated contract events (kind 3)
** is named root + "_B" and its contracts root + "_" + such a number.  Every
** contract expires on its InfoExpiry date and is linked to the next and
** previous contract. */

/* Kind 3: a futures series whose bars carry dated contract events. */
static bool HasDatedContracts(const SymbolRecord *symbol)
{
    if (symbol->securityType != SECURITY_FUTURES) return false;
    for (int32_t k = 0; k < symbol->eventCount && symbol->events; k++)
        if (symbol->events[k].kind == EVENT_CONTRACT) return true;
    return false;
}

/* The contract of the continuous series with this root in force on date. */
static SymbolRecord *ContractInForce(const char *root, size_t rootLength, char separator, int32_t date)
{
    int32_t previousLast = 0;
    for (int32_t k = 0; gStore.symbols && k < gStore.symbolCount; k++) {
        const char *code = gStore.symbols[k].info.Symbol;
        if (CompareNoCaseN(code, root, rootLength) != 0 || code[rootLength] != separator) continue;
        const char *digits = code + rootLength + 1;
        int32_t number = 0, length = 0;
        while (digits[length] >= '0' && digits[length] <= '9' && length < 5) number = number * 10 + (digits[length++] - '0');
        if (digits[length] || number < 1001 || number > 2999) continue;
        if (gStore.symbols[k].info.DelistDate >= date && previousLast < date) return &gStore.symbols[k];
        previousLast = gStore.symbols[k].lastDate;
    }
    return nullptr;
}

/* The contract date a kind 3 series follows on date: the value of its last
** contract event before the date, or on it before the open; date itself when
** no event names one. */
static int32_t DatedContract(const SymbolRecord *symbol, int32_t date)
{
    double value = 0;
    for (int32_t k = 0; k < symbol->eventCount; k++) {
        const EventItem *e = &symbol->events[k];
        if (e->kind != EVENT_CONTRACT) continue;
        if (e->date < date || (e->date == date && e->time <= 0)) value = e->value;
    }
    return value >= 1 ? (int32_t)value : date;
}

/* The symbol a relative reference names: &cii the corresponding industry
** index, &cc and &ccb the continuous series of a contract, &n the contract n
** places later (earlier when negative) along the contract links. */
static SymbolRecord *RelativeSymbol(const EvalContext *context, int32_t code, int32_t barsBack)
{
    const SymbolInfo *info = &context->symbol->info;
    char name[sizeof info->Symbol + 8];
    if (code == RELATIVE_CII) return SymbolByNumber(FindSymbolIndex(info->InduIndex));
    bool dated = HasDatedContracts(context->symbol);
    size_t underscore = strcspn(info->Symbol, "_");
    if (code == RELATIVE_CC || code == RELATIVE_CCB) {
        if (dated) {
            FormatText(name, sizeof name, "%.*s%s", (int)underscore, info->Symbol, code == RELATIVE_CCB ? "_B" : "");
        } else {
            size_t cut = strcspn(info->Symbol, info->Symbol[0] == '&' ? "_" : "-");
            FormatText(name, sizeof name, "%s%.*s%s", info->Symbol[0] == '&' ? "" : "&", (int)cut, info->Symbol,
                       code == RELATIVE_CCB ? "_CCB" : "");
        }
        return SymbolByNumber(FindSymbolIndex(name));
    }
    SymbolRecord *at = context->symbol;
    bool continuous = dated ? info->Symbol[underscore] == '_' && strcmp(info->Symbol + underscore + 1, "B") == 0
                            : info->Symbol[0] == '&';
    if (continuous) {
        int32_t count = 0;
        const Bar *bars = ContextBarArray(context, &count);
        int64_t i = (int64_t)context->barIndex - barsBack;
        if (!bars || i < 0 || i >= count) return nullptr;
        int32_t date = ContextBarAt(context, bars, (int32_t)i)->date;
        if (dated)
            at = ContractInForce(info->Symbol, underscore, '_', DatedContract(context->symbol, date));
        else
            at = ContractInForce(info->Symbol + 1, strcspn(info->Symbol + 1, "_"), '-', date);
        if (!at) return nullptr;
    }
    for (int32_t step = 0; step < (code < 0 ? -code : code); step++) {
        uint32_t next = code > 0 ? at->info.nextContract : at->info.previousContract;
        at = next >= 1 ? SymbolByNumber((int32_t)next) : nullptr;
        if (!at) return nullptr;
    }
    return at;
}

/* Moves a copy of the context to another bar size as Extern does. */
static bool SwitchBarSize(EvalContext *copy, const EvalContext *context, int32_t barSize)
{
    if (barSize < BAR_DAILY || barSize > BAR_YEARLY) return false;
    if (barSize < context->barSize && context->barPhase != PHASE_CLOSE)
        copy->date = GetPeriodFirstDate(context->date, 1, context->barSize);
    copy->barSize = barSize;
    if (!SyncContextBar(copy)) return false;
    if (copy->barPhase == PHASE_CLOSE && copy->symbol &&
        (copy->date == copy->symbol->lastDate || copy->date == gStore.lastDate) &&
        !IsPeriodEnd(copy->date, barSize, copy->strategy)) {
        if (copy->barIndex < 1) return false;
        copy->lastBar = copy->barIndex - 1;
    }
    return true;
}

int CalcExtern(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (context->importFlag || node->argCount < 2) return 0;
    FormulaNode *reference = node + node->argLinks[0];
    EvalContext copy = *context;
    copy.callingSymbol = context->symbol;
    copy.callingDate = context->date;
    bool symbolChanged = false, barSizeChanged = false;
    switch (reference->item) {
    case ITEM_TRACKER: {
        const TestRecord *test = context->test;
        if (!test || !test->strategies || context->strategyIndex < 0 || context->strategyIndex >= test->strategyCount)
            return 0;
        int32_t tracked = test->strategies[context->strategyIndex].tracker;
        if (tracked < 1 || !SwitchStrategy(&copy, tracked - 1)) return 0;
        break;
    }
    case ITEM_STRATEGY_REF:
        if (reference->constant == UNRESOLVED_REF || !SwitchStrategy(&copy, Whole(reference->constant) - 1)) return 0;
        break;
    case ITEM_STRAT_REF: {
        double v;
        if (!EvalArg(node, context, 1, barsBack, &v) || !SwitchStrategy(&copy, Whole(v) - 1)) return 0;
        break;
    }
    case ITEM_SYM_REF: {
        double v;
        if (!EvalArg(node, context, 1, barsBack, &v) || !SwitchSymbol(&copy, SymbolByNumber(Whole(v)))) return 0;
        symbolChanged = true;
        break;
    }
    case ITEM_SYMBOL_REF: {
        SymbolRecord *target = nullptr;
        if (CompareNoCase(reference->text, "Global") == 0) {
            target = &gStore.calendar;
        } else if (reference->constant != UNRESOLVED_REF && CompareNoCase(reference->text, "CalSym") != 0 &&
                   SymbolByNumber(Whole(reference->constant))) {
            target = SymbolByNumber(Whole(reference->constant));
        } else {
            const StrategyRecord *strategy = context->strategy;
            target = strategy && SymbolByNumber(strategy->CalendarSym) ? SymbolByNumber(strategy->CalendarSym)
                                                                       : &gStore.calendar;
        }
        if (!SwitchSymbol(&copy, target)) return 0;
        symbolChanged = true;
        break;
    }
    case ITEM_BAR_SIZE:
        if (!SwitchBarSize(&copy, context, Whole(reference->constant))) return 0;
        barSizeChanged = true;
        break;
    case ITEM_RELATIVE_SYMBOL: {
        if (!context->symbol || !SwitchSymbol(&copy, RelativeSymbol(context, Whole(reference->constant), barsBack)))
            return 0;
        symbolChanged = true;
        break;
    }
    default: return 0;
    }
    copy.position = OpenPositionOf(&copy);
    uint32_t type = 0;
    double v;
    if (!EvalArg(node, &copy, 2, barsBack, &v, &type)) return 0;
    node->value = v;
    if (barSizeChanged)
        node->dataType = type;
    else if (symbolChanged)
        node->dataType = type == 1 || type == 3 ? 3 : type == 2 || type == 4 ? 4
                                                                             : 0;
    return 1;
}

int CalcCombined(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (!context->test) return 0;
    EvalContext copy = *context;
    if (!SwitchStrategy(&copy, context->test->mainStrategy)) return 0;
    return TakeArg(node, &copy, 1, barsBack);
}

/* ============================================================================
** Assert and DebugEval
** ========================================================================== */

/* One question at a time: a second worker whose assertion fails waits for the
** first answer, and asks nothing when that answer stopped the run. */
static std::mutex sAssertLock;

/* The call as script text, token by token, for the message. */
static void RenderCall(const FormulaNode *node, char *out, int size)
{
    int n = 0;
    out[0] = 0;
    for (uint32_t k = 0; k <= node->width && n < size - 1; k++) {
        const FormulaNode *token = node + k;
        if (token->item == ITEM_END) break;
        if (token->item == ITEM_TEXT)
            n += FormatText(out + n, (size_t)(size - n), "\"%s\"", token->text);
        else
            n += FormatTokenText(token, out + n, size - n);
        if (n >= size) n = size - 1;
    }
}

int CalcAssert(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (gRun.state.load() == RUN_STOP_REQUESTED) return 0;
    double v = 0;
    if (EvalArg(node, context, 1, barsBack, &v) && v != 0) {
        node->value = v;
        return 1;
    }
    char text[ASSERT_TEXT_SIZE] = "";
    double ignored;
    if (node->argCount >= 2 && EvalArg(node, context, 2, barsBack, &ignored) && node->textFlag)
        CopyString(text, sizeof text, node->text, -1);
    char formula[FORMULA_TEXT_SIZE * 8];
    RenderCall(node, formula, (int)sizeof formula);
    char date[DATE_TEXT_SIZE];
    FormatDate(context->date, gSettings.DateDisplayFormat, date);
    const char *strategy = context->strategy && context->strategy->name[0] ? context->strategy->name : "n/a";
    const char *symbol = context->symbol && context->symbol->info.Symbol[0] ? context->symbol->info.Symbol : "n/a";
    int32_t phase = context->barPhase >= 0 && context->barPhase <= 3 ? context->barPhase : 0;
    bool active = RunActive();
    char message[ASSERT_MESSAGE_SIZE];
    FormatText(message, sizeof message,
               "ASSERTION FAILED\n\n%s\n\nFormula:\t%s\nStrategy:\t%s\nSymbol:\t%s\nDate:\t%s\nTime:\t%s%s%s%s", formula,
               context->itemName && context->itemName[0] ? context->itemName : "n/a", strategy, symbol, date,
               kPhaseNames[phase], text[0] ? "\n\n" : "", text, active ? "\n\nContinue the Script?" : "");
    node->textFlag = 0;
    if (!active) {
        ReportError("%s", message);
        return 0;
    }
    std::lock_guard<std::mutex> hold(sAssertLock);
    if (gRun.state.load() == RUN_STOP_REQUESTED) return 0;
    if (gRun.unattended) {
        /* Nobody can answer: the failure goes to the error log and the run stops. */
        ReportError("%s", message);
        RequestStop();
        return 0;
    }
    if (MessageBoxFormat(BOX_YES_NO | BOX_ICON_QUESTION, "%s", message) != BOX_ANSWER_YES) {
        RequestStop();
        return 0;
    }
    node->value = 0;
    return 1;
}

/* Writes the value with up to 15 decimals, trailing zeros and point removed. */
static void FormatTrimmed(double value, char *out, int size)
{
    FormatText(out, (size_t)size, "%.15f", value);
    char *point = strchr(out, '.');
    if (!point) return;
    char *end = out + strlen(out) - 1;
    while (end > point && *end == '0') *end-- = 0;
    if (end == point) *end = 0;
}

static std::atomic<int> sDebugEvalBusy{0};

int CalcDebugEval(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (PlatCurrentThreadId() != gRun.uiThreadId || node->argCount < 2) return 0;
    int expected = 0;
    if (!sDebugEvalBusy.compare_exchange_strong(expected, 1)) return 0;
    double filter = 0;
    uint32_t filterType = 0;
    int ok = EvalArg(node, context, 1, barsBack, &filter, &filterType);
    FormulaNode *filterNode = node + node->argLinks[0];
    if (ok && filter != 0) {
        int32_t count = 0;
        const Bar *bars = context->symbol ? ContextBarArray(context, &count) : nullptr;
        int32_t date = bars && context->barIndex >= 0 && context->barIndex < count
            ? ContextBarAt(context, bars, context->barIndex)->date
            : context->date;
        LogDebugHeader(date, context->symbol ? context->symbol->info.Symbol : "n/a", nullptr);
        LogPrintf("Evaluation:");
        gDebugEvalOn = 1;
        gDebugEvalDepth = 1;
        gDebugEvalWritten = 1;
        if (RunActive()) RequestStop();
    }
    bool tracing = ok && filter != 0;
    double v = 0;
    uint32_t type = 0;
    int got = ok && EvalArg(node, context, 2, barsBack, &v, &type);
    gDebugEvalOn = 0;
    gDebugEvalDepth = 0;
    if (tracing) {
        if (got) {
            char filterText[FORMULA_TEXT_SIZE * 2], valueText[64];
            FormatLiteralToken(filterNode, filterText, sizeof filterText);
            FormatTrimmed(v, valueText, sizeof valueText);
            char typeText[24] = "";
            if (filterType != DATA_TYPE_NONE) FormatText(typeText, sizeof typeText, " [%s]", DataTypeName(filterType));
            LogPrintf("\r\nResult:\t%s (%s)%s\r\n", filterText, valueText, typeText);
        } else {
            LogPrintf("\r\nResult:\tn/a\r\n");
        }
    }
    sDebugEvalBusy.store(0);
    if (!got) return 0;
    node->value = v;
    node->dataType = type;
    return 1;
}

/* ============================================================================
** Small shapers
** ========================================================================== */

int CalcNoNan(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (TakeArg(node, context, 1, barsBack) && !std::isnan(node->value)) return 1;
    if (node->argCount >= 2 && TakeArg(node, context, 2, barsBack) && !std::isnan(node->value)) return 1;
    node->value = 0;
    node->dataType = 0;
    return 1;
}

int CalcDataType(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v, type;
    if (!EvalArg(node, context, 1, barsBack, &v) || !EvalArg(node, context, 2, barsBack, &type)) return 0;
    int32_t t = Whole(type);
    node->value = v;
    node->dataType = t == 1 || t == 2 ? (uint32_t)t : 0;
    return 1;
}

int CalcReason(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v, ignored;
    if (!EvalArg(node, context, 1, barsBack, &v)) return 0;
    if (!EvalArg(node, context, 2, barsBack, &ignored)) return 0;
    if (!node->textFlag) node->text[0] = 0;
    node->textFlag = 1;
    node->value = v;
    return 1;
}

int CalcSymRef(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v;
    if (!EvalArg(node, context, 1, barsBack, &v)) return 0;
    if (node->textFlag) {
        v = FindSymbolIndex(node->text);
        node->textFlag = 0;
        node->text[0] = 0;
    }
    if (v != floor(v) || v < 1 || v > gStore.symbolCount) return 0;
    node->value = v;
    return 1;
}

int CalcStratRef(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v;
    if (!EvalArg(node, context, 1, barsBack, &v)) return 0;
    const TestRecord *test = context->test;
    int32_t count = test ? test->strategyCount : gStrategyCount;
    if (node->textFlag) {
        v = 0;
        for (int32_t k = 0; k < count; k++) {
            const char *name = test ? (test->strategies ? test->strategies[k].name : "") : gStrategies[k].name;
            if (CompareNoCase(name, node->text) == 0) {
                v = k + 1;
                break;
            }
        }
        node->textFlag = 0;
        node->text[0] = 0;
    }
    if (v != floor(v) || v < 1 || v > count) return 0;
    node->value = v;
    return 1;
}

/* ============================================================================
** Sums over setups, orders and positions; closed-trade statistics
** ========================================================================== */

int CalcRecordSum(FormulaNode *node, EvalContext *context, int barsBack)
{
    double wanted = 0;
    if (node->argCount >= 2 && !EvalArg(node, context, 2, barsBack, &wanted)) return 0;
    if (!gStrategies || gStrategyCount < 1) return 0;
    int32_t symbolNumber = Whole(wanted);
    EvalContext copy = *context;
    copy.strategyData = 1;
    copy.callingSymbol = context->symbol;
    copy.callingDate = context->date;
    double sum = 0;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        bool member = s == context->strategyIndex ||
            (context->test && StrategyInGroup(context->test, s, context->strategyIndex));
        if (!member) continue;
        StrategyRecord *record = &gStrategies[s];
        bool open = node->item == ITEM_POSITION_SUM;
        PositionRecord *records = open ? record->openPositions : record->setups;
        int32_t recordCount = open ? record->openCount : record->setupCount;
        for (int32_t k = 0; records && k < recordCount; k++) {
            PositionRecord *p = &records[k];
            if (!p->symbol) continue;
            if (node->item == ITEM_ORDER_SUM && !p->listed) continue;
            if (symbolNumber > 0 && p->symbol != SymbolByNumber(symbolNumber)) continue;
            copy.strategy = record;
            copy.strategyIndex = s;
            copy.position = p;
            copy.symbol = p->symbol;
            copy.date = context->date;
            copy.barPhase = context->barPhase;
            Bar *bar = SyncContextBar(&copy);
            if (!bar) {
                bar = GetBarOnOrBefore(p->symbol, context->date, copy.barSize);
                if (!bar) continue;
                copy.barPhase = PHASE_CLOSE;
                copy.date = bar->date;
                if (!SyncContextBar(&copy)) continue;
            }
            copy.priceScale = bar->split != 0 ? bar->split : 1.0;
            double v;
            if (EvalArg(node, &copy, 1, barsBack, &v)) sum += v;
        }
    }
    node->textFlag = 0;
    node->value = sum;
    return 1;
}

int CalcTradeStat(FormulaNode *node, EvalContext *context, int barsBack)
{
    const TestRecord *test = context->test;
    if (!test || !test->trades || test->tradeCount < 1 || context->strategyIndex < 0 ||
        context->strategyIndex >= test->strategyCount)
        return 0;
    double countArg = 0, symbolArg = 0;
    if (node->argCount >= 3 && !EvalArg(node, context, 3, barsBack, &symbolArg)) return 0;
    if (node->argCount >= 2 && !EvalArg(node, context, 2, barsBack, &countArg)) return 0;
    int32_t wanted = node->argCount >= 2 ? Whole(countArg) : test->tradeCount;
    if (wanted < 1) wanted = test->tradeCount;
    int32_t symbolNumber = Whole(symbolArg);
    double sum = 0, low = 0, high = 0;
    int32_t n = 0;
    EvalContext copy = *context;
    copy.callingSymbol = context->symbol;
    copy.callingDate = context->date;
    auto forEachTrade = [&](auto visit) {
        int32_t used = 0;
        for (int32_t k = test->tradeCount - 1; k >= 0 && used < wanted; k--) {
            TradeRecord *trade = &test->trades[k];
            if (trade->dateOut == 0 || (context->date > 0 && trade->dateOut > context->date)) continue;
            if (symbolNumber > 0 && trade->symbolNumber != symbolNumber) continue;
            if (trade->strategy != context->strategyIndex &&
                !StrategyInGroup(test, trade->strategy, context->strategyIndex))
                continue;
            copy.trade = trade;
            copy.symbol = SymbolByNumber(trade->symbolNumber);
            copy.strategyIndex = trade->strategy;
            copy.date = trade->dateOut;
            copy.barPhase = PHASE_CLOSE;
            if (!copy.symbol || !SyncContextBar(&copy)) continue;
            double v;
            if (!EvalArg(node, &copy, 1, barsBack, &v)) continue;
            used++;
            visit(v);
        }
    };
    forEachTrade([&](double v) {
        if (n == 0 || v < low) low = v;
        if (n == 0 || v > high) high = v;
        sum += v;
        n++;
    });
    double result = 0;
    if (n > 0) {
        /* A second pass over the same trades: the sums of powers need the mean. */
        double mean = sum / n;
        double m2 = 0, m3 = 0, m4 = 0;
        if (node->item >= ITEM_TRADE_STAT_STD_DEV) {
            forEachTrade([&](double v) {
                double d = v - mean;
                m2 += d * d;
                m3 += d * d * d;
                m4 += d * d * d * d;
            });
            m2 /= n;
            m3 /= n;
            m4 /= n;
        }
        /* Trades of one value have no spread, whatever the mean's last place. */
        double sd = FlatSpread(sqrt(m2), fmax(fabs(low), fabs(high)));
        if (sd == 0) m2 = 0;
        switch (node->item) {
        case ITEM_TRADE_STAT_SUM: result = sum; break;
        case ITEM_TRADE_STAT_MIN: result = low; break;
        case ITEM_TRADE_STAT_MAX: result = high; break;
        case ITEM_TRADE_STAT_AVG: result = mean; break;
        case ITEM_TRADE_STAT_STD_DEV: result = sd; break;
        case ITEM_TRADE_STAT_SKEW: result = m3 / (sd * sd * sd); break;
        default: result = m4 / (m2 * m2) - 3; break;
        }
    }
    node->textFlag = 0;
    node->value = result;
    return 1;
}
