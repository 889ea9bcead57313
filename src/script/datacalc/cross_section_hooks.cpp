/* cross_section_hooks.cpp -- stand-ins for the cross-sectional statistics:
** they build nothing and change no value, so an item's values stay the
** arguments computed per symbol. */
#include "script/datacalc/cross_section_hooks.h"

int BuildGroupKeys(CalcWorkerContext *worker) { return 1; }
int CalcGroupsForDate(int32_t date, CalcWorkerContext *worker) { return 1; }
int CalcItemForDate(int32_t date, CalcWorkerContext *worker) { return 1; }
