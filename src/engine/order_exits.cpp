/* order_exits.cpp -- what an open position's exit orders rest on: the bar the
** orders are written from, the quantity of each exit order and whether the
** exit rule will certainly fire at the next order. */
#include <cmath>
#include <cstring>

#include "engine/exit_pass.h"
#include "engine/fills.h"
#include "engine/futures.h"
#include "engine/orders.h"
#include "engine/stops.h"
#include "records/test_records.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "services/services.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/formula.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/strategy.h"
#include "script/eval/eval_context.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"

double ComputeExitQuantity(EvalContext *context, uint32_t slot, double factor, char *out)
{
    PositionRecord *p = context->position;
    /* The shares held, as the test counts them through a split: an exit of
    ** the whole position sells them all. */
    const double base = SharesInTerms(p, factor);
    double quantity = base;
    FormulaSlot *formula = &context->strategy->slots[slot];
    if (IsSlotGiven(formula)) {
        double value = 0;
        EvalFormulaSlot(formula, context, &value);
        quantity = SharesOfPart(p, factor, std::fmin(std::fmax(value, 0.0), base));
    }
    FormatTrimmedNumber(quantity, out);
    return quantity;
}

/* A slot compiled to one constant node, and that constant's value. */
static bool SlotConstant(const FormulaSlot *slot, double *value)
{
    const FormulaNode *nodes = slot->nodes[0];
    if (!nodes || slot->count != 1 || nodes[0].constantFlag != 1) return false;
    *value = nodes[0].textFlag ? (nodes[0].constant != 0 ? 1.0 : 0.0) : nodes[0].constant;
    return true;
}

int IsExitRuleCertain(EvalContext *context)
{
    StrategyRecord *r = context->strategy;
    FormulaSlot *rule = &r->slots[SLOT_EXIT_RULE];
    if (r->ExitTime == TIME_NEXT_CLOSE) {
        PositionRecord *p = context->position;
        return EvalFormulaText(rule, context, p->label, POSITION_TEXT_SIZE) && p->label[0] != 0;
    }
    if (r->ExitTime != TIME_THIS_CLOSE || gScriptSettings.OrdersLiveData) return 0;
    double value = 0;
    return SlotConstant(rule, &value) && (value != 0 || std::isnan(value));
}

/* ---- exit orders of one position ------------------------------------------------------ */

/* The wording and the default limit order type of each EntryExitTime. */
static const char *const kTimeWords[4] = {"near close", "on open", "", "on close"};
static const char *const kLimitTypes[4] = {"LOC", "LMT", "LMT", "LOC"};
static_assert(TIME_THIS_CLOSE == 0 && TIME_NEXT_OPEN == 1 && TIME_INTRADAY == 2 && TIME_NEXT_CLOSE == 3,
              "one wording per exit time");

static const char *TimeWords(int32_t time)
{
    return time >= 0 && time < 4 ? kTimeWords[time] : "";
}

/* The state shared by the orders of one position. */
struct ExitWriter {
    EvalContext *context;
    PositionRecord *position;
    const ExitOrderOutput *output;
    const Bar *bar;
    OrderInfo info;
    const char *action;    /* "sell" or "cover" */
    const char *csvAction; /* "SELL" or "BUY" */
    bool isStrategy;       /* only strategies write lines */
    bool daily;
    uint32_t kind;
    char group[16];
    const char *tif;
    int32_t parent;
    int32_t gtdDate;
    const char *limitType;
    int32_t written; /* orders written, for the running order number */
    double heldShares; /* what the position holds, in the terms of its orders' quantities */
};

static void CountExit(ExitWriter *w, bool roll)
{
    int32_t *counter = roll ? w->output->rollCount : w->output->exitCount;
    if (counter) (*counter)++;
    w->written++;
}

/* Exits the position in the simulation with reason; its index among the open
** positions (where the rest of a partial exit stays), -1 when not held. */
static int32_t ExitInSimulation(ExitWriter *w, int32_t reason)
{
    StrategyRecord *r = w->context->strategy;
    if (!r->openPositions || w->position < r->openPositions || w->position >= r->openPositions + r->openCount) return -1;
    int32_t index = (int32_t)(w->position - r->openPositions);
    SymbolRecord *symbol = w->context->symbol;
    ProcessPositionExit(w->context, index, reason);
    w->context->symbol = symbol;
    return index;
}

/* A partial exit at the open leaves the rest of the position in its place
** (index).  The test checks the rest's target and stop later that day, but
** neither its exit rule nor its orders at the open again: so the rest gets
** its limit and stop orders, in a group of their own. */
static void WriteRestExits(ExitWriter *w, int32_t index)
{
    StrategyRecord *r = w->context->strategy;
    const ExitOrderOutput *output = w->output;
    if (output->roll || index < 0 || index >= r->openCount || r->openPositions[index].entryBar < 0) return;
    if (output->orderId) *output->orderId += w->written;
    w->written = 0;
    ExitOrderOutput rest = *output;
    rest.noRule = 1;
    rest.rest = 1;
    WriteExitOrders(w->context, &r->openPositions[index], &rest);
}

/* The market exit at the open (or at the market-as-limit price): its type,
** time in force, price word and words. */
static void AtOpenForm(ExitWriter *w, const char **type, const char **tif, const char **priceWord, const char **words)
{
    if (w->info.mktAsLmtPrice[0]) {
        *type = "LMT";
        *tif = w->tif;
        *priceWord = w->info.mktAsLmtWords;
        *words = "";
        return;
    }
    *type = "MKT";
    *tif = w->info.hasOpeningAuction ? "OPG" : w->info.allHours ? "GTC"
                                                                : "DAY";
    *priceWord = "market";
    *words = "on open";
}

/* An exit at the open takes the shares it sells out of the rebalancing
** basket: the position's weight, or for a part of it (a reduction, a partial
** exit) the part of its fraction that the test's partial exit gives the part
** sold, so the basket holds what the position keeps. */
static void TakeFromBasket(ExitWriter *w, double shares)
{
    if (w->output->sync) return;
    const PositionRecord *p = w->position;
    const double part = shares > 0 && shares < w->heldShares ? shares / w->heldShares : 1.0;
    AddBasketWeight(w->info.localSymbol, -p->side * p->fraction * part);
}

/* A limit or stop that the last close has already reached becomes a market
** exit at the open of quantity (qty as written).  True when it did. */
static bool ExitAlreadyHit(ExitWriter *w, double price, bool isLimit, const char *reason, const char *qty,
                           double quantity)
{
    PositionRecord *p = w->position;
    int32_t time = isLimit ? w->context->strategy->ExitLimitTime : w->context->strategy->ExitStopTime;
    if (price == 0 || time != TIME_NEXT_OPEN || !w->bar) return false;
    int order = CompareDoubleApprox(w->bar->close, price);
    bool reached = isLimit ? (p->side > 0 ? order >= 0 : order <= 0) : (p->side > 0 ? order <= 0 : order >= 0);
    if (!reached) return false;
    const char *type, *tif, *priceWord, *words;
    AtOpenForm(w, &type, &tif, &priceWord, &words);
    if (!reason[0]) reason = isLimit ? "ExitLimit" : "ExitStop";
    if (w->isStrategy) {
        EvalOrderTexts(w->context, &w->info);
        if (w->output->text)
            AddOrderLine(w->output->text, w->context->strategyIndex, w->kind, "    %s %s %s %s %s (%s)\n", w->action, qty,
                         w->info.localSymbol, priceWord, words, reason);
        if (w->output->csv)
            WriteTemplateRow(w->output->csv, &w->info, w->kind, w->csvAction, type, tif, "", "", w->group, qty, 0, 0,
                             w->info.mktAsLmtPrice, "", 0, w->parent, 0);
    }
    TakeFromBasket(w, quantity);
    CountExit(w, false);
    WriteRestExits(w, ExitInSimulation(w, isLimit ? EXIT_LIMIT : EXIT_STOP));
    return true;
}

/* The limit (isLimit) or stop exit order at price. */
static void WriteLimitOrStop(ExitWriter *w, double price, double unit, bool isLimit, bool hadMarket, const char *qty,
                             const char *reason)
{
    StrategyRecord *r = w->context->strategy;
    int32_t time = isLimit ? r->ExitLimitTime : r->ExitStopTime;
    if (price == 0) return;
    if (hadMarket && time == TIME_NEXT_CLOSE) return;
    if (time == TIME_NEXT_OPEN || (time == TIME_THIS_CLOSE && !gScriptSettings.OrdersLiveData)) return;
    char priceText[64];
    FormatPrice(price, unit, priceText);
    const char *type = isLimit ? w->limitType : "STP";
    const char *tif = w->tif;
    const char *words = "";
    char gtd[ORDER_TEXT_SIZE] = "", gat[ORDER_TEXT_SIZE] = "";
    const OrderInfo *info = &w->info;
    if (hadMarket && time == TIME_INTRADAY) {
        tif = "GTD";
        words = "good until";
        FormatText(gtd, sizeof gtd, "%d %s", (int)w->gtdDate, info->lastMocTime);
    } else if (time != TIME_NEXT_CLOSE) {
        if (!isLimit || (!info->allHours && w->daily)) {
            words = TimeWords(time);
        } else {
            tif = "GTD";
            words = "good until";
            FormatText(gtd, sizeof gtd, "%d %s", (int)w->gtdDate, info->nearCloseTime);
        }
    } else if (!isLimit) {
        words = "good after";
        FormatText(gat, sizeof gat, "%d %s", (int)w->gtdDate, info->nearCloseTime);
    } else if (info->lateLocTime[0]) {
        FormatText(gat, sizeof gat, "%d %s", (int)w->gtdDate, info->lateLocTime);
        type = info->hasLimitOnClose ? "LOC" : "LMT";
        words = "on close good after";
    } else if (info->hasLimitOnClose) {
        type = "LOC";
        if (!w->daily) {
            FormatText(gat, sizeof gat, "%d %s", (int)w->gtdDate, info->lastMocTime);
            words = "on close good after";
        } else {
            words = "on close";
        }
    } else {
        FormatText(gat, sizeof gat, "%d %s", (int)w->gtdDate, info->nearCloseTime);
        type = "LMT";
        words = "good after";
    }
    if (isLimit)
        w->position->limitPrice = price;
    else
        w->position->stopPrice = price;
    if (w->isStrategy) {
        EvalOrderTexts(w->context, &w->info);
        char because[ORDER_TEXT_SIZE + 4] = "";
        if (reason[0]) FormatText(because, sizeof because, " (%s)", reason);
        if (w->output->text)
            AddOrderLine(w->output->text, w->context->strategyIndex, w->kind, "    %s%s %s %s %s %s %s %s %s%s\n",
                         w->output->child ? "child: " : "", w->action, qty, info->localSymbol, priceText,
                         isLimit ? "limit" : "stop", words, gtd, gat, because);
        if (w->output->csv)
            WriteTemplateRow(w->output->csv, info, w->kind, w->csvAction, type, tif, gtd, gat, w->group, qty, 0, 0,
                             isLimit ? priceText : "", isLimit ? "" : priceText, 0, w->parent, 0);
    }
    CountExit(w, false);
}

/* The exit price of slot in the order bar's split terms and its reason (the
** formula's own text), rounded to the price unit unless the order is at the
** open. */
static double ExitPrice(ExitWriter *w, int32_t slot, int32_t time, double *unit, char *reason)
{
    reason[0] = 0;
    FormulaSlot *formula = &w->context->strategy->slots[slot];
    if (!IsSlotGiven(formula)) return 0;
    /* The price is worked out on the context's last completed bar and taken
    ** into the order bar's split terms, as the next day's test takes it into
    ** the terms of the day it checks: a longer bar size's last period may lie
    ** before a split.  The position's own prices (FillPrice) come out in the
    ** terms of the bar the formula stands on, as its bar prices do, so the
    ** one ratio takes the whole price there. */
    const double ratio = SplitRatio(EvaluationSplit(w->context), w->bar);
    double price = 0;
    EvalInBarTerms(formula, w->context, &price);
    price *= ratio;
    int32_t copy = w->context->slot > 0 && w->context->slot < FORMULA_WORKER_COPIES ? w->context->slot : 0;
    const FormulaNode *nodes = formula->nodes[copy] ? formula->nodes[copy] : formula->nodes[0];
    if (nodes && nodes[0].textFlag) CopyString(reason, ORDER_TEXT_SIZE, nodes[0].text, ORDER_TEXT_SIZE - 1);
    *unit = GetPriceRoundUnit(w->context, w->context->symbol, w->bar, price);
    if (time != TIME_NEXT_OPEN && *unit != 0) price = RoundToStep(price, *unit, 0);
    return price;
}

void WriteExitOrders(EvalContext *context, PositionRecord *position, const ExitOrderOutput *output)
{
    StrategyRecord *r = context->strategy;
    if (!r || !position) return;
    context->position = position;
    context->symbol = position->symbol;
    ExitWriter w{};
    w.context = context;
    w.position = position;
    w.output = output;
    w.bar = GetOrderBar(context);
    if (!w.bar) return;
    bool held = r->openPositions && position >= r->openPositions && position < r->openPositions + r->openCount;
    int32_t positionIndex = held ? (int32_t)(position - r->openPositions) : -1;
    bool countedPartial = position->partialExits == 0;
    if (countedPartial) position->partialExits = 1;
    FillOrderInfo(context, w.bar, &w.info, 1);
    /* The orders in force inside a longer bar's period are those of its last
    ** complete bar, at the close of a day as well (live data, which finds the
    ** period's bar so far): the day makes no bar of the strategy's size yet. */
    if (output->periodBar && context->lastBar == context->barIndex && context->lastBar > 0) context->lastBar--;
    PositionRecord *p = position;
    w.action = p->side > 0 ? "sell" : "cover";
    w.csvAction = p->side > 0 ? "SELL" : "BUY";
    w.isStrategy = r->kind == STRATEGY_KIND_STRATEGY;
    w.daily = r->BarSize == BAR_DAILY;

    /* The quantities are in the order bar's split terms, as its prices are
    ** (the generation sets aside every bar after the order's day). */
    double factor = w.bar->split != 0 ? w.bar->split : 1.0;

    char marketQty[64] = "0", limitQty[64] = "0", stopQty[64] = "0";
    double market = 0, limitQuantity = 0, stopQuantity = 0;
    if (r->DynamicSizing == 1 || output->roll) {
        /* A dynamic-sizing reduction asks for a part of the lot in the order
        ** bar's terms, which the test sells as its other partial exits. */
        if (p->exitQuantityRequest > 0) {
            market = SharesOfPart(p, factor, p->exitQuantityRequest);
            w.heldShares = SharesInTerms(p, factor);
        } else {
            market = w.heldShares = p->quantityStep > 0 ? RoundToStep(p->quantity, p->quantityStep, 0) : p->quantity;
        }
        FormatTrimmedNumber(market, marketQty);
    } else {
        double base = gScriptSettings.OrdersUseQtyIn ? p->entrySplit : factor;
        w.heldShares = SharesInTerms(p, base);
        market = ComputeExitQuantity(context, SLOT_EXIT_QTY, base, marketQty);
        limitQuantity = ComputeExitQuantity(context, SLOT_EXIT_LIMIT_QTY, base, limitQty);
        stopQuantity = ComputeExitQuantity(context, SLOT_EXIT_STOP_QTY, base, stopQty);
    }

    if (!w.daily) {
        w.gtdDate = NextPeriodEnd(r, context->date);
        w.limitType = "LMT";
    } else {
        w.gtdDate = r->orderDate ? r->orderDate : gRun.orderDate;
        w.limitType = r->ExitLimitTime >= 0 && r->ExitLimitTime < 4 ? kLimitTypes[r->ExitLimitTime] : "LMT";
    }

    bool nearClose = false;
    if (gScriptSettings.OrdersLiveData) {
        if (r->ExitTime != TIME_THIS_CLOSE) {
            if (countedPartial) position->partialExits = 0;
            return;
        }
        nearClose = true;
    }
    w.kind = output->child || r->DynamicSizing == 1 ? ORDER_LINE_ENTRY : ORDER_LINE_EXIT;
    if (output->group && output->orderId) FormatText(w.group, sizeof w.group, "%d", (int)*output->orderId);
    w.tif = w.info.allHours ? "GTD" : "DAY";
    w.parent = output->child && output->orderId ? *output->orderId : 0;

    bool hadMarket = false;
    bool done = false;
    if (!output->child && market > 0) {
        bool wanted = true;
        if (!output->sync) {
            wanted = nearClose || r->ExitTime == TIME_NEXT_OPEN || r->ExitTime == TIME_NEXT_CLOSE;
            if (wanted && !output->roll && r->DynamicSizing != 1)
                wanted = !output->noRule &&
                    EvalFormulaText(&r->slots[SLOT_EXIT_RULE], context, p->label, POSITION_TEXT_SIZE) && p->label[0];
        }
        if (wanted) {
            const char *reason = output->sync            ? "SlatewickSync"
                : output->roll                           ? "roll forward"
                : r->DynamicSizing == 1 ? (market >= QuantityInBarTerms(p, w.bar) ? "exit position" : "reduce position")
                : !p->label[0] || !strcmp(p->label, "1") ? "ExitRule"
                                                         : p->label;
            const char *type = "MKT", *tif = w.tif, *priceWord = "market", *words = "", *lmt = "";
            char gat[ORDER_TEXT_SIZE] = "";
            if (r->ExitTime == TIME_NEXT_CLOSE && !nearClose) {
                if (w.info.hasMarketOnClose) {
                    type = "MOC";
                    words = "on close";
                    if (!w.daily) {
                        words = "on close after";
                        FormatText(gat, sizeof gat, "%d %s", (int)w.gtdDate, w.info.lastMocTime);
                    }
                } else {
                    words = "after";
                    FormatText(gat, sizeof gat, "%d %s", (int)w.gtdDate,
                               w.info.allHours ? w.info.lastMocTime : w.info.nearCloseTime);
                }
            } else if (nearClose) {
                words = "near close";
            } else {
                AtOpenForm(&w, &type, &tif, &priceWord, &words);
                /* A futures contract is already the one held until tomorrow's roll (FillOrderInfo). */
                if (w.info.mktAsLmtPrice[0]) lmt = w.info.mktAsLmtPrice;
            }
            if (w.isStrategy) {
                EvalOrderTexts(context, &w.info);
                if (output->text)
                    AddOrderLine(output->text, context->strategyIndex, w.kind, "    %s %s %s %s %s %s (%s)\n", w.action,
                                 marketQty, w.info.localSymbol, priceWord, words, gat, reason);
                if (output->csv && !output->roll)
                    WriteTemplateRow(output->csv, &w.info, w.kind, w.csvAction, type, tif, "", gat, w.group, marketQty,
                                     0, 0, lmt, "", 0, w.parent, 0);
                CountExit(&w, output->roll != 0);
            }
            TakeFromBasket(&w, market);
            /* A rule for the next close that the test decides at the open
            ** leaves before that day's entries, so the entries ordered with it
            ** see it gone.  A longer bar's in a daily run holds its place
            ** until the close of its period's last day, days after the
            ** period's entries. */
            bool atOnce = r->ExitTime == TIME_NEXT_OPEN || DecidesNextCloseAtOpen(r) || nearClose;
            if (atOnce) {
                if (!output->sync && r->DynamicSizing != 1) {
                    ExitInSimulation(&w, output->roll ? EXIT_ROLL_FORWARD : EXIT_RULE);
                    WriteRestExits(&w, positionIndex);
                }
                done = true;
            }
            hadMarket = true;
        }
    } else if (output->child && market > 0 && w.isStrategy && IsExitRuleCertain(context)) {
        const char *type = "MKT", *words = "after";
        char gat[ORDER_TEXT_SIZE] = "";
        if (w.info.hasMarketOnClose) {
            type = "MOC";
            words = "on close";
            if (!w.daily) {
                words = "on close after";
                FormatText(gat, sizeof gat, "%d %s", (int)w.gtdDate, w.info.lastMocTime);
            }
        } else {
            FormatText(gat, sizeof gat, "%d %s", (int)w.gtdDate,
                       w.info.allHours ? w.info.lastMocTime : w.info.nearCloseTime);
        }
        if (output->text)
            AddOrderLine(output->text, context->strategyIndex, w.kind, "    child: %s %s %s market %s %s\n", w.action,
                         marketQty, w.info.localSymbol, words, gat);
        if (output->csv)
            WriteTemplateRow(output->csv, &w.info, w.kind, w.csvAction, type, w.tif, "", gat, w.group, marketQty, 0, 0,
                             "", "", 0, w.parent, 0);
        CountExit(&w, false);
        hadMarket = true;
    }

    if (!done) {
        double limitUnit = 0, stopUnit = 0, limit = 0, stop = 0;
        char limitReason[ORDER_TEXT_SIZE] = "", stopReason[ORDER_TEXT_SIZE] = "";
        if (limitQuantity > 0) limit = ExitPrice(&w, SLOT_EXIT_LIMIT, r->ExitLimitTime, &limitUnit, limitReason);
        if (stopQuantity > 0) stop = ExitPrice(&w, SLOT_EXIT_STOP, r->ExitStopTime, &stopUnit, stopReason);
        /* A limit or stop at the next open is checked at the open of a
        ** period only: inside one, the next day's test never takes it. */
        if (!output->child && !output->rest && !output->noRule &&
            (ExitAlreadyHit(&w, limit, true, limitReason, limitQty, limitQuantity) ||
             ExitAlreadyHit(&w, stop, false, stopReason, stopQty, stopQuantity))) {
            done = true;
        } else {
            WriteLimitOrStop(&w, limit, limitUnit, true, hadMarket, limitQty, limitReason);
            WriteLimitOrStop(&w, stop, stopUnit, false, hadMarket, stopQty, stopReason);
        }
    }
    if (!output->child && output->orderId) *output->orderId += w.written;
    /* An exit in the simulation may have moved the open positions. */
    if (countedPartial && positionIndex >= 0 && positionIndex < r->openCount)
        r->openPositions[positionIndex].partialExits = 0;
    else if (countedPartial && !held)
        position->partialExits = 0;
}
