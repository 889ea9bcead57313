/* data_cut.h -- the loaded data as they stood on a day: every bar after it
** set aside, and the longer bars and date lists as the days up to it build
** them, then everything put back as it was.
**
** Model:      a cut shortens counts and never moves a bar array, so what it
**             changes in place is little: the last period bar of each longer
**             size a symbol keeps (restated from its days up to the day, and
**             dated as the symbol's last day kept, as the builders date a
**             symbol's last period) and the last entry and terminator of each
**             longer date list (which ends on the last session kept, as the
**             master lists of data that end there do).  Those are kept aside
**             and written back by the restore, in the reverse order.
** Reads:      gStore (symbols, calendar, date lists, lastDate).
** Threads:    UI thread, while no worker runs.
*/
#pragma once
#include <cstdint>
#include <vector>

#include "marketdata/store/symbols.h"

/* A date list as it stood before a cut: its count and the two entries the
** cut wrote over (the list's last period and its terminator). */
struct DateListAside {
    DateList *list;
    int32_t count, at;
    uint32_t dates[2];
};

/* Cuts the five lists (daily first: its last session closes the others)
** after lastDay; a longer list then ends with the period of the last session
** kept, as one built from the cut sessions does.  What is written over goes
** to aside. */
void CutDateListsAfter(DateList *lists, int32_t lastDay, std::vector<DateListAside> *aside);
/* Puts back the lists aside holds, latest first, and empties it. */
void PutBackDateLists(std::vector<DateListAside> *aside);

/* Shortens the symbol's counts to its bars up to lastDay (its lastDate with
** them); a longer size keeps the period that holds its last day kept.  The
** bar arrays are not touched. */
void CutSymbolBarsAt(SymbolRecord *symbol, int32_t lastDay);
/* The last period bar of each longer size, after CutSymbolBarsAt, built
** again from its days up to the symbol's last day kept, where it was built
** from later ones or dated later. */
void RestatePeriodBars(SymbolRecord *symbol);

/* The whole data cut at a day, until RestoreCutData. */
struct DataCut {
    struct SymbolAside {
        SymbolRecord *symbol;
        int32_t lastDate;
        int32_t counts[BAR_SIZE_COUNT];
        int32_t at[BAR_SIZE_COUNT]; /* the last bar kept of each size (-1: none) */
        Bar last[BAR_SIZE_COUNT];   /* that bar before the restatement */
    };
    int32_t storeLastDate = 0; /* the store's own last date while cut, else 0 */
    std::vector<SymbolAside> symbols;
    std::vector<DateListAside> lists;
};

/* Cuts every symbol, the calendar symbol and the store's date lists after
** lastDay, and ends the store on the last session up to it.  1 when it cut
** anything (data that end by lastDay are left as they are). */
int CutDataAt(DataCut *cut, int32_t lastDay);
/* Cuts further lists that belong with the data (a strategy's own calendar),
** put back by RestoreCutData. */
void CutMoreDateLists(DataCut *cut, DateList *lists, int32_t lastDay);
/* Puts back everything the cut changed; nothing when nothing was cut. */
void RestoreCutData(DataCut *cut);
