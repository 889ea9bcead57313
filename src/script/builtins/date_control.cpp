/* date_control.cpp -- dates, calendars, events and include lists, and the
** conditional and selection functions. */
#include "script/builtins/builtins.h"

#include <cmath>

#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "script/eval/value_access.h"

namespace {

int SetNumber(FormulaNode *node, double value)
{
    node->value = value;
    return 1;
}

int SetPlainNumber(FormulaNode *node, double value)
{
    node->textFlag = 0;
    node->value = value;
    return 1;
}

/* One further argument of InSet or Switch matches the first: by text when the
** first had one, else by number.  The argument's own text stands in the node
** after it was evaluated; without one it is compared as an empty text. */
struct Key {
    bool text;
    double value;
    char chars[FORMULA_TEXT_SIZE];
};

int ReadKey(FormulaNode *node, EvalContext *context, int32_t barsBack, Key *key)
{
    if (!EvalArg(node, context, 1, barsBack, &key->value)) return 0;
    key->text = node->textFlag != 0;
    if (key->text) CopyString(key->chars, sizeof key->chars, node->text, -1);
    return 1;
}

/* -1 when argument k fails, else 1 on a match and 0 otherwise. */
int MatchesKey(FormulaNode *node, EvalContext *context, int k, int32_t barsBack, const Key *key)
{
    double v;
    if (!EvalArg(node, context, k, barsBack, &v)) return -1;
    if (key->text) return CompareNoCase(key->chars, node->textFlag ? node->text : "") == 0;
    return CompareDouble(key->value, v) == 0;
}

/* The daily master date list (the market dates of every symbol). */
const DateList *MasterDays() { return &gStore.dateLists[BAR_DAILY]; }

} // namespace

/* ============================================================================
** Dates
** ========================================================================== */

int CalcDate(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v[3];
    if (node->argCount < 3 || !EvalAllArgs(node, context, barsBack, v, nullptr)) return 0;
    for (double x : v) {
        if (!std::isfinite(x) || x != floor(x) || fabs(x) > 1e6) return 0;
    }
    int year = (int)v[0], month = (int)v[1], day = (int)v[2];
    if (year >= 0 && year < 50)
        year += 2000;
    else if (year >= 50 && year <= 99)
        year += 1900;
    if (year < 1000 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return 0;
    return SetPlainNumber(node, MakeDate(year, month, day));
}

int CalcDatePart(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v;
    if (!EvalArg(node, context, 1, barsBack, &v)) return 0;
    int32_t d = Whole(v);
    switch (node->item) {
    case ITEM_DATE_YEAR: return SetPlainNumber(node, d / 10000);
    case ITEM_DATE_MONTH: return SetPlainNumber(node, DateMonth(d));
    default: return SetPlainNumber(node, d % 100);
    }
}

int CalcDays(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v[3] = {0, 0, 0};
    if (node->argCount < 2 || !EvalAllArgs(node, context, barsBack, v, nullptr)) return 0;
    int32_t a = Whole(v[0]), b = Whole(v[1]);
    if (a < 10000101 || a > 99991230 || b < 10000101 || b > 99991230) return 0;
    if (node->argCount < 3 || Whole(v[2]) == 0) return SetPlainNumber(node, DaysBetween(a, b));
    return SetPlainNumber(node, CountTradingDays(MasterDays(), a, b) - 1);
}

int CalcDateBars(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (!context->symbol) return 0;
    double v;
    if (!EvalArg(node, context, 1, barsBack, &v)) return 0;
    int32_t date = Whole(v), count = 0;
    const Bar *bars = ContextBars(context, &count);
    if (!bars) return 0;
    /* Bars are in date order, so the first on or after the date is found by
    ** halving. */
    int32_t lo = 0, hi = count;
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if (ContextBarAt(context, bars, mid)->date < date)
            lo = mid + 1;
        else
            hi = mid;
    }
    return SetNumber(node, (double)context->lastBar - lo);
}

int CalcMissingBars(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (!context->symbol) return 0;
    SymbolRecord *reference = &gStore.calendar;
    if (node->argCount >= 1) {
        double v;
        if (!EvalArg(node, context, 1, barsBack, &v)) return 0;
        int32_t k = Whole(v);
        if (!gStore.symbols || k < 1 || k > gStore.symbolCount) return 0;
        reference = &gStore.symbols[k - 1];
    } else if (context->strategy && gStore.symbols && context->strategy->CalendarSym >= 1 &&
               context->strategy->CalendarSym <= gStore.symbolCount) {
        reference = &gStore.symbols[context->strategy->CalendarSym - 1];
    }
    int32_t slot = context->slot;
    int32_t count = 0;
    const Bar *bars = ContextBars(context, &count);
    int32_t at = FindBarIndex(context->symbol, context->barSize, context->date, PHASE_CLOSE, slot, nullptr);
    if (!bars || at < 0) return 0;
    int64_t i = (int64_t)at - barsBack;
    if (i < 1 || i >= count) return 0;
    int32_t previous = ContextBarAt(context, bars, (int32_t)i - 1)->date;
    int32_t refCount = 0;
    const Bar *refBars = GetBarArray(reference, context->barSize, &refCount);
    int32_t j = FindBarIndex(reference, context->barSize, ContextBarAt(context, bars, (int32_t)i)->date, PHASE_CLOSE,
                             slot, nullptr);
    if (!refBars || j < 0) return 0;
    int32_t missing = 0;
    for (int32_t k = j - 1; k >= 0 && refBars[k].date > previous; k--) missing++;
    return SetNumber(node, missing);
}

int CalcNthOfMonth(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v[3] = {0, 0, 0};
    if (node->argCount < 2 || !EvalAllArgs(node, context, barsBack, v, nullptr)) return 0;
    int32_t weekday = Whole(v[0]), nth = Whole(v[1]);
    bool market = node->argCount >= 3 && Whole(v[2]) != 0;
    node->textFlag = 0;
    if (weekday < 1 || weekday > 7 || nth < -5 || nth > 5 || nth == 0) return SetNumber(node, 0);
    int32_t count = 0;
    bool daily = context->barSize == BAR_DAILY;
    const Bar *bars = daily ? ContextBars(context, &count) : GetBarArray(context->symbol, BAR_DAILY, &count);
    int64_t i = (int64_t)context->lastBar - barsBack;
    /* Outside the daily bars there is no date to judge: not the day asked for. */
    if (!bars || i < 0 || i >= count) return SetNumber(node, 0);
    int32_t d = daily ? ContextBarAt(context, bars, (int32_t)i)->date : bars[i].date;
    if (DayOfWeek(d) != weekday) return SetNumber(node, 0);
    int step = nth < 0 ? 1 : -1, found = 1;
    int32_t month = DateMonth(d);
    for (int32_t x = d;;) {
        x = market ? OffsetTradingDate(MasterDays(), x, step) : (step > 0 ? NextDay(x) : PrevDay(x));
        if (x <= 0 || DateMonth(x) != month) break;
        if (DayOfWeek(x) == weekday) found++;
    }
    return SetNumber(node, found == (nth < 0 ? -nth : nth) ? 1 : 0);
}

int CalcEvent(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (!context->symbol) return 0;
    double v[2] = {0, 0};
    if (node->argCount < 1 || !EvalAllArgs(node, context, barsBack, v, nullptr)) return 0;
    int32_t count = 0;
    const Bar *bars = ContextBars(context, &count);
    int64_t i = (int64_t)context->lastBar - barsBack;
    if (!bars || i < 0 || i >= count) return 0;
    int latest = node->argCount >= 2 && v[1] != 0;
    const Bar *bar = ContextBarAt(context, bars, (int32_t)i);
    return SetNumber(node, LookupDatedValue(context->symbol, context->barSize, bar->date, bar->time, Whole(v[0]), latest, nullptr));
}

int CalcInList(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (!context->symbol) return 0;
    double v;
    if (!EvalArg(node, context, 1, barsBack, &v)) return 0;
    const SymbolInfo *info = &context->symbol->info;
    if (node->textFlag) {
        node->textFlag = 0;
        for (int32_t k = 0; gStore.listNames && k < gStore.listNameCount && k < 256; k++) {
            if (CompareNoCase(gStore.listNames[k], node->text) == 0 && info->includeLists[k])
                return SetNumber(node, 1);
        }
        return SetNumber(node, 0);
    }
    int32_t n = Whole(v);
    if (n < 1 || n > 256) return SetNumber(node, 0);
    return SetNumber(node, (int8_t)info->includeLists[n - 1]);
}

/* ============================================================================
** Control
** ========================================================================== */

int CalcThis(FormulaNode *node, EvalContext *context, int barsBack)
{
    /* The data calculation names the symbol itself as the calling one; only a
    ** switch to another symbol sends the argument back. */
    if (!context->callingSymbol || context->callingSymbol == context->symbol)
        return TakeArg(node, context, 1, context->multiBarBase);
    EvalContext copy = *context;
    copy.symbol = copy.callingSymbol;
    copy.date = copy.callingDate;
    copy.callingSymbol = nullptr;
    Bar *bar = SyncContextBar(&copy);
    if (!bar) return 0;
    copy.priceScale = bar->split != 0 ? bar->split : 1.0;
    return TakeArg(node, &copy, 1, barsBack);
}

int CalcIf(FormulaNode *node, EvalContext *context, int barsBack)
{
    double condition;
    if (!EvalArg(node, context, 1, barsBack, &condition)) return 0;
    int k = condition != 0 ? 2 : 3; /* NaN is not 0: it selects the second */
    if (k > node->argCount) return 0;
    return TakeArg(node, context, k, barsBack);
}

int CalcInSet(FormulaNode *node, EvalContext *context, int barsBack)
{
    Key key;
    if (!ReadKey(node, context, barsBack, &key)) return 0;
    double result = 0;
    for (int k = 2; k <= node->argCount; k++) {
        int m = MatchesKey(node, context, k, barsBack, &key);
        if (m < 0) return 0;
        if (m) {
            result = 1;
            break;
        }
    }
    return SetPlainNumber(node, result);
}

int CalcSwitch(FormulaNode *node, EvalContext *context, int barsBack)
{
    if (node->argCount < 2) return 0;
    Key key;
    if (!ReadKey(node, context, barsBack, &key)) return 0;
    for (int k = 2; k <= node->argCount; k += 2) {
        if (k == node->argCount) return TakeArg(node, context, k, barsBack); /* the default */
        int m = MatchesKey(node, context, k, barsBack, &key);
        if (m < 0) return 0;
        if (m) return TakeArg(node, context, k + 1, barsBack);
    }
    return 0;
}

int CalcSelect(FormulaNode *node, EvalContext *context, int barsBack)
{
    for (int k = 1; k <= node->argCount; k += 2) {
        if (k == node->argCount) return TakeArg(node, context, k, barsBack); /* the default */
        double condition;
        if (!EvalArg(node, context, k, barsBack, &condition)) return 0;
        if (condition != 0) return TakeArg(node, context, k + 1, barsBack);
    }
    return 0;
}

int CalcIsNaN(FormulaNode *node, EvalContext *context, int barsBack)
{
    double v = NAN;
    int ok = node->argCount >= 1 && EvalArg(node, context, 1, barsBack, &v);
    return SetNumber(node, !ok || std::isnan(v) ? 1 : 0);
}

int CalcCross(FormulaNode *node, EvalContext *context, int barsBack)
{
    double before[2], now[2];
    if (node->argCount < 2 || !EvalAllArgs(node, context, barsBack + 1, before, nullptr) ||
        !EvalAllArgs(node, context, barsBack, now, nullptr))
        return 0;
    return SetNumber(node, CompareDoubleApprox(before[0], before[1]) < 0 && CompareDoubleApprox(now[0], now[1]) > 0);
}

int CalcMaxMin(FormulaNode *node, EvalContext *context, int barsBack)
{
    double values[FORMULA_MAX_ARGS];
    uint32_t types[FORMULA_MAX_ARGS];
    int32_t n = node->argCount;
    if (n < 1 || n > FORMULA_MAX_ARGS || !EvalAllArgs(node, context, barsBack, values, types)) return 0;
    bool withN = node->item == ITEM_MAX_N || node->item == ITEM_MIN_N;
    int32_t first = withN ? 1 : 0, N = withN ? Whole(values[0]) : 1;
    if (withN && (N < 1 || N >= n)) return 0;
    /* A short insertion sort keeps equal values in their order, so the data
    ** type that comes with a tie does not depend on the sort used. */
    for (int32_t i = first + 1; i < n; i++) {
        double v = values[i];
        uint32_t t = types[i];
        int32_t j = i;
        while (j > first && CompareDouble(values[j - 1], v) > 0) {
            values[j] = values[j - 1];
            types[j] = types[j - 1];
            j--;
        }
        values[j] = v;
        types[j] = t;
    }
    int32_t at;
    switch (node->item) {
    case ITEM_MAX: at = n - 1; break;
    case ITEM_MIN: at = 0; break;
    case ITEM_MAX_N: at = n - N; break;
    default: at = N; break;
    }
    node->dataType = types[at];
    return SetNumber(node, values[at]);
}
