/* script_standins.cpp -- the script subsystem's stand-ins for parts not built
** yet.  Each group opens with a banner naming what replaces it; every stand-in
** is declared in its owner's header and tagged STANDIN there and here.  When
** the owner is built, its stand-ins are deleted from this file. */
#include "script/compiler/compile_driver.h"
#include "script/compiler/compile_links.h"
#include "script/datacalc/cross_section_hooks.h"
#include "script/datacalc/data_calc.h"

/* ==== replaced by the shared data pass (sharing of Data sub-expressions) ========== */

/* STANDIN: the item keeps the bar size its definition gave. */
void ResolveItemBarSize(FormulaItem *item) {}
/* STANDIN: no automatic one-value-per-date or per-symbol marks. */
void CountItemReferences(FormulaItem *item) {}
/* STANDIN: nothing is shared; every Data item computes its own calls. */
int ShareDataItem(int32_t index) { return 1; }

/* ==== replaced by the cross-sectional statistics (#Rank, #Avg ... and groups) ===== */

/* STANDIN: no group keys; the worker's positions stay unsorted. */
int BuildGroupKeys(CalcWorkerContext *worker) { return 1; }
/* STANDIN: no group is visited. */
int CalcGroupsForDate(int32_t date, CalcWorkerContext *worker) { return 1; }
/* STANDIN: the date's values stay the per-symbol arguments. */
int CalcItemForDate(int32_t date, CalcWorkerContext *worker) { return 1; }

/* ==== replaced by the StratData calculation ======================================= */

/* STANDIN: no per-strategy arrays are needed while StratData items are not calculated. */
int AllocStrategyArrays()
{
    return 1;
}

/* STANDIN: StratData items keep no values. */
void CalcStrategyItems(EvalContext *)
{
}

/* STANDIN: StratData aggregates keep no values. */
void CalcStrategyAggregates(EvalContext *)
{
}
