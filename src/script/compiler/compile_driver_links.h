/* compile_driver_links.h -- what the compile driver asks of the strategy
** records and the side files.  Their modules answer; until they are linked
** in, compile_driver_links.cpp gives plain answers (nothing inherited, no
** defaults, empty side files).  The pair goes away as those modules arrive.
*/
#pragma once
#include <cstdint>

struct StrategyRecord;
struct HolidayList;

/* Fills what strategy leaves unset from the record it names; 0 when memory runs out. */
int InheritStrategyFormulas(const StrategyRecord *from, StrategyRecord *strategy);
/* Replaces the unset constants of the record at index by their defaults and
** checks it; 1, or 0 after reporting. */
int ApplyStrategyDefaults(int32_t index, int pass);
/* Room for one engine index entry per active record; 0 when memory runs out. */
int ReserveStrategyIndexLists();
/* The script's holiday list, the exchange map and the symbol changes; 1, or 0
** after reporting. */
int LoadHolidayList(HolidayList *list, const char *path);
int LoadExchangeMap();
int LoadSymbolChanges();
