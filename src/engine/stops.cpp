/* stops.cpp -- exit targets and stops on a bar. */
#include "engine/stops.h"

#include "engine/exit_pass.h"
#include "engine/fills.h"
#include "engine/trace.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/eval/evaluator.h"
#include "script/eval/value_access.h"
#include "services/services.h"

/* One exit order's outcome on the bar. */
struct OrderHit {
    bool hit;
    int32_t timing; /* BarPhase of the fill */
    double price;
    double ratio; /* takes the order's price into the bar's split terms */
};

/* The order is checked in the phase at its timing; an intraday one not on
** the bar a position entered at its close: the position was none that day. */
static bool CheckedInPhase(int32_t time, int32_t phase, bool enteredHere, int32_t entryTiming)
{
    if (phase == PHASE_OPEN) return time == TIME_NEXT_OPEN;
    if (phase == PHASE_INTRADAY) return time == TIME_INTRADAY && (!enteredHere || entryTiming < PHASE_CLOSE);
    if (phase == PHASE_CLOSE) return time == TIME_THIS_CLOSE || time == TIME_NEXT_CLOSE;
    return false;
}

double EvaluationSplit(const EvalContext *context)
{
    int32_t count = 0;
    const Bar *bars = GetBarArray(context->symbol, context->barSize, &count);
    int32_t i = context->lastBar;
    return bars && i >= 0 && i < count ? bars[i].split : 0.0;
}

double SplitRatio(double from, const Bar *bar)
{
    return from != 0 && bar->split != 0 ? bar->split / from : 1.0;
}

int EvalInBarTerms(FormulaSlot *slot, EvalContext *context, double *value, char *text, int32_t size)
{
    const int32_t terms = context->evalBarTerms;
    context->evalBarTerms = 1;
    const int ok = text ? EvalFormulaText(slot, context, text, size) : EvalFormulaSlot(slot, context, value);
    context->evalBarTerms = terms;
    return ok;
}

/* Evaluates an exit price formula into *order; a NextClose order is
** evaluated as of the previous bar, in the intraday phase, and so is the
** DebugTargetStop item traced before it when debug is set.  Every price the
** formula reads, the position's own among them, is in the terms of the bar
** it stands on, whose split factor the order keeps. */
static void EvalExitPrice(EvalContext *context, FormulaSlot *slot, int32_t time, bool debug, ExitOrder *order)
{
    int32_t phase = context->barPhase;
    int32_t barIndex = context->barIndex, lastBar = context->lastBar;
    if (time == TIME_NEXT_CLOSE) {
        context->barPhase = PHASE_INTRADAY;
        SyncContextBar(context);
    }
    order->split = EvaluationSplit(context);
    if (debug) LogDebugItem(context, SLOT_DEBUG_TARGET_STOP);
    if (!EvalInBarTerms(slot, context, &order->price)) order->price = 0;
    order->label[0] = 0;
    const FormulaNode *nodes = slot->nodes[context->slot >= 0 && context->slot < FORMULA_WORKER_COPIES ? context->slot : 0];
    if (nodes && nodes[0].textFlag) CopyString(order->label, POSITION_TEXT_SIZE, nodes[0].text, POSITION_TEXT_SIZE - 1);
    context->barPhase = phase;
    context->barIndex = barIndex;
    context->lastBar = lastBar;
}

int EvalExitOrders(EvalContext *context, ExitOrders *orders, bool entered, int tradeListMode)
{
    *orders = ExitOrders{};
    PositionRecord *p = context->position;
    StrategyRecord *r = context->strategy;
    if (!p || !r) return 0;
    int32_t phase = context->barPhase;
    FormulaSlot *targetSlot = &r->slots[SLOT_EXIT_LIMIT];
    FormulaSlot *stopSlot = &r->slots[SLOT_EXIT_STOP];
    orders->target.checked = CheckedInPhase(r->ExitLimitTime, phase, entered, p->entryTiming) && IsSlotGiven(targetSlot) &&
        (!tradeListMode || targetSlot->usesPrevExits);
    orders->stop.checked = CheckedInPhase(r->ExitStopTime, phase, entered, p->entryTiming) && IsSlotGiven(stopSlot) &&
        (!tradeListMode || stopSlot->usesPrevExits);
    if (orders->target.checked) {
        EvalExitPrice(context, targetSlot, r->ExitLimitTime, true, &orders->target);
        FormulaSlot *extraSlot = &r->slots[SLOT_LIMIT_EXTRA];
        if (r->ExitLimitTime == TIME_INTRADAY && orders->target.price != 0 && IsSlotGiven(extraSlot))
            EvalInBarTerms(extraSlot, context, &orders->extra);
    }
    /* One debug line serves a target and a stop of the same timing. */
    if (orders->stop.checked)
        EvalExitPrice(context, stopSlot, r->ExitStopTime, !(orders->target.checked && r->ExitLimitTime == r->ExitStopTime),
                      &orders->stop);
    return orders->target.checked || orders->stop.checked;
}

static int Sign(int c) { return c > 0 ? 1 : c < 0 ? -1
                                                  : 0; }

double JudgeExitOrders(EvalContext *context, const ExitOrders *orders, const Bar *bar, double previousClose, bool entered,
                       int tradeListMode)
{
    PositionRecord *p = context->position;
    StrategyRecord *r = context->strategy;
    if (!p || !r || !bar) return 1.0;
    int32_t d = p->side < 0 ? -1 : 1;
    int32_t phase = context->barPhase;
    double adverse = d > 0 ? bar->low : bar->high;
    double favourable = d > 0 ? bar->high : bar->low;
    double e = p->entrySplit != 0 ? p->entryPrice * bar->split / p->entrySplit : p->entryPrice;
    /* d × the sign of a − b, within the price tolerance. */
    auto cmp = [d](double a, double b) { return d * Sign(CompareDoubleApprox(a, b)); };
    bool trace = gSettings.AddLog != 0;
    const char *symbolName = p->symbol ? p->symbol->info.Symbol : "";
    /* (An order of the intraday timing is never worked out for the bar a
    ** position entered at its close, see CheckedInPhase, nor judged on that
    ** day of a longer bar's period, see JudgeDaysOfPeriod.) */
    bool checkTarget = orders->target.checked;
    bool checkStop = orders->stop.checked;
    if (!checkTarget && !checkStop) return 1.0;

    /* The orders are compared with the bar in its split terms; the position
    ** keeps their prices in the terms they were worked out in, as the next
    ** bar's PrevExitLimit and PrevExitStop take them. */
    OrderHit target{}, stop{};
    double T = 0;
    if (checkTarget && orders->target.price != 0) {
        target.ratio = SplitRatio(orders->target.split, bar);
        T = orders->target.price * target.ratio;
        p->limitPrice = orders->target.price;
        p->limitSplit = orders->target.split;
        if (r->ExitLimitTime == TIME_NEXT_OPEN) {
            if (cmp(previousClose, T) >= 0) target.hit = true, target.timing = PHASE_OPEN, target.price = bar->open;
        } else if (r->ExitLimitTime == TIME_INTRADAY) {
            double u = GetPriceRoundUnit(context, p->symbol, bar, T);
            T = RoundToStep(T, u, 0);
            p->limitPrice = T / target.ratio;
            double needed = T + d * RoundToStep(orders->extra * target.ratio, u, 0);
            if (!entered && cmp(bar->open, T) >= 0 && cmp(favourable, needed) >= 0) {
                target.hit = true, target.timing = PHASE_OPEN, target.price = bar->open;
            } else if (phase == PHASE_INTRADAY && cmp(favourable, needed) >= 0) {
                target.hit = true, target.timing = PHASE_INTRADAY;
                target.price = entered && cmp(e, T) >= 0 ? e : T;
                if (entered && p->entryTiming == PHASE_INTRADAY && p->triggerDirection * d != 1 &&
                    cmp(bar->close, T) < 0) {
                    bool keep = r->Ambiguity == AMBIGUITY_TARGET ||
                        (r->Ambiguity == AMBIGUITY_DEFAULT && cmp(bar->close, bar->open) > 0);
                    target.hit = keep;
                    if (trace)
                        LogPrintf("*** ENTRY and TARGET were both intraday for %s in strategy %s -- assuming target "
                                  "was touched %s entry ***\n",
                                  symbolName, r->name, keep ? "AFTER" : "BEFORE");
                }
            }
        } else if (cmp(bar->close, T) >= 0) {
            target.hit = true, target.timing = PHASE_CLOSE, target.price = bar->close;
        }
    }
    if (checkStop && orders->stop.price != 0) {
        stop.ratio = SplitRatio(orders->stop.split, bar);
        double S = orders->stop.price * stop.ratio;
        p->stopPrice = orders->stop.price;
        p->stopSplit = orders->stop.split;
        if (r->ExitStopTime == TIME_NEXT_OPEN) {
            if (cmp(previousClose, S) <= 0) stop.hit = true, stop.timing = PHASE_OPEN, stop.price = bar->open;
        } else if (r->ExitStopTime == TIME_INTRADAY) {
            double u = GetPriceRoundUnit(context, p->symbol, bar, S);
            S = RoundToStep(S, u, 0);
            p->stopPrice = S / stop.ratio;
            if (!entered && cmp(bar->open, S) <= 0) {
                stop.hit = true, stop.timing = PHASE_OPEN, stop.price = bar->open;
            } else if (phase == PHASE_INTRADAY && cmp(adverse, S) <= 0) {
                stop.hit = true, stop.timing = PHASE_INTRADAY;
                stop.price = entered && cmp(e, S) <= 0 ? e : S;
                if (entered && p->entryTiming == PHASE_INTRADAY && p->triggerDirection * d != -1 &&
                    cmp(bar->close, S) > 0) {
                    bool keep = r->Ambiguity == AMBIGUITY_STOP ||
                        (r->Ambiguity == AMBIGUITY_DEFAULT && cmp(bar->close, bar->open) < 0);
                    stop.hit = keep;
                    if (trace)
                        LogPrintf("*** ENTRY and STOP were both intraday for %s in strategy %s -- assuming stop was "
                                  "touched %s entry ***\n",
                                  symbolName, r->name, keep ? "AFTER" : "BEFORE");
                }
            }
        } else if (cmp(bar->close, S) <= 0) {
            stop.hit = true, stop.timing = PHASE_CLOSE, stop.price = bar->close;
        }
    }
    if (tradeListMode || (!target.hit && !stop.hit)) return 1.0;

    const OrderHit *chosen = nullptr;
    if (target.hit && !stop.hit) {
        chosen = &target;
    } else if (stop.hit && !target.hit) {
        chosen = &stop;
    } else if (target.timing != stop.timing) {
        chosen = target.timing < stop.timing ? &target : &stop;
    } else {
        switch (r->Ambiguity) {
        case AMBIGUITY_STOP: chosen = &stop; break;
        case AMBIGUITY_TARGET: chosen = &target; break;
        case AMBIGUITY_DEFAULT:
            if (target.timing == PHASE_INTRADAY) {
                /* The bar's direction tells which extreme came first: a bar
                ** that closed against the position went its way first. */
                int move = cmp(bar->close, bar->open);
                chosen = move < 0 ? &target : move > 0 ? &stop
                                                       : nullptr;
            }
            break;
        default: break;
        }
        if (trace && target.timing == PHASE_INTRADAY)
            LogPrintf("*** TARGET and STOP were both touched intraday for %s in strategy %s -- assuming %s ***\n",
                      symbolName, r->name,
                      chosen == &target     ? "TARGET was touched first"
                          : chosen == &stop ? "STOP was touched first"
                                            : "NEITHER was touched");
    }
    if (!chosen) return 1.0;
    p->exitPrice = chosen->price;
    p->exitReason = chosen == &target ? EXIT_LIMIT : EXIT_STOP;
    p->exitTiming = chosen->timing;
    CopyString(p->label, sizeof p->label, chosen == &target ? orders->target.label : orders->stop.label, -1);
    return chosen->ratio;
}

double ResolveIntradayOrder(EvalContext *context, const Bar *bar, double previousClose, int tradeListMode)
{
    const PositionRecord *p = context->position;
    if (!p || !context->strategy || !bar) return 1.0;
    bool entered = context->barPhase < PHASE_CLOSE ? context->lastBar == p->entryBar - 1 : context->lastBar == p->entryBar;
    ExitOrders orders;
    if (!EvalExitOrders(context, &orders, entered, tradeListMode)) return 1.0;
    return JudgeExitOrders(context, &orders, bar, previousClose, entered, tradeListMode);
}
